#include "platform/win32/kernel32/paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace fs = std::filesystem;

namespace {

class Paths : public win32_test::World {};

void touch(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << "x";
}

}  // namespace

TEST_F(Paths, MapsDrivesPrefixesAndSeparators) {
  ::setenv("KV_DRIVE_D", (dir_ + "/d/").c_str(), 1);
  struct Case {
    const char16_t* path;
    std::string unix_path;  // relative to the test folder, or absolute when it starts with '/'
  } cases[] = {
      {u"C:\\a\\b.txt", "c/a/b.txt"},
      {u"c:/a/b.txt", "c/a/b.txt"},
      {u"C:\\a/b.txt", "c/a/b.txt"},
      {u"\\\\?\\C:\\a\\b.txt", "c/a/b.txt"},
      {u"\\\\?\\c:/a/b.txt", "c/a/b.txt"},
      {u"C:\\a\\..\\b", "c/b"},
      {u"C:\\a\\.\\b\\", "c/a/b"},
      {u"C:\\..\\..\\x", "c/x"},
      {u"C:\\", "c"},
      {u"C:", "c"},
      {u"a\\b", "c/a/b"},
      {u"\\x", "c/x"},
      {u"C:x", "c/x"},
      {u"D:\\y", "d/y"},
      {u"Z:\\etc", "/etc"},
      {u"z:/", "/"},
      {u"\\\\?\\Z:\\usr\\lib", "/usr/lib"},
  };
  for (const Case& c : cases) {
    std::string expect = c.unix_path[0] == '/' ? c.unix_path : dir_ + "/" + c.unix_path;
    SetLastError(0);
    EXPECT_EQ(win32::to_unix_path(c.path), expect) << std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path));
  }
}

TEST_F(Paths, RefusesWhatWindowsRefuses) {
  struct Case {
    const char16_t* path;
    DWORD error;
  } cases[] = {
      {u"", ERROR_PATH_NOT_FOUND},
      {u"Q:\\x", ERROR_PATH_NOT_FOUND},
      {u"\\\\srv\\share\\x", ERROR_BAD_NETPATH},
      {u"\\\\?\\UNC\\srv\\share", ERROR_BAD_NETPATH},
      {u"\\\\?\\Volume{1234}\\", ERROR_PATH_NOT_FOUND},
      {u"C:\\a?b", ERROR_INVALID_NAME},
      {u"C:\\a*b\\c", ERROR_INVALID_NAME},
      {u"C:\\a<b", ERROR_INVALID_NAME},
      {u"C:\\a|b", ERROR_INVALID_NAME},
      {u"C:\\f.txt:stream", ERROR_INVALID_NAME},
      {u"C:\\a\x01", ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(win32::to_unix_path(c.path), "");
    EXPECT_EQ(GetLastError(), c.error) << std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path));
  }
  EXPECT_EQ(win32::to_unix_path(nullptr), "");
}

TEST_F(Paths, LooksUpNamesIgnoringCase) {
  touch(c("Dir/Sub/File.TXT"));
  struct Case {
    const char16_t* path;
    std::string unix_path;
    win32::PathState state;
  } cases[] = {
      {u"C:\\Dir\\Sub\\File.TXT", "Dir/Sub/File.TXT", win32::PathState::Exists},
      {u"c:\\DIR\\sub\\file.txt", "Dir/Sub/File.TXT", win32::PathState::Exists},
      {u"C:\\dir\\SUB", "Dir/Sub", win32::PathState::Exists},
      {u"C:\\dir\\new.txt", "Dir/new.txt", win32::PathState::LastMissing},
      {u"C:\\dir\\missing\\x.txt", "Dir/missing/x.txt", win32::PathState::ParentMissing},
      {u"C:\\dir\\sub\\file.txt\\x", "Dir/Sub/File.TXT/x", win32::PathState::ParentMissing},
  };
  for (const Case& c : cases) {
    win32::MappedPath m;
    ASSERT_TRUE(win32::map_path(c.path, m));
    EXPECT_EQ(m.unix_path, this->c(c.unix_path));
    EXPECT_EQ(static_cast<int>(m.state), static_cast<int>(c.state)) << c.unix_path;
  }
  // An exact match wins over a name that differs in case only.
  touch(c("Dir/file.txt"));
  touch(c("Dir/FILE.txt"));
  EXPECT_EQ(win32::to_unix_path(u"C:\\DIR\\file.txt"), c("Dir/file.txt"));
  EXPECT_EQ(win32::to_unix_path(u"C:\\DIR\\FILE.txt"), c("Dir/FILE.txt"));
  // Without an exact match the choice is stable: the smallest name.
  EXPECT_EQ(win32::to_unix_path(u"C:\\DIR\\File.Txt"), c("Dir/FILE.txt"));
  // Non-ASCII names fold too.
  touch(c("Dir/\xC3\x84rger.txt"));  // "Ärger.txt"
  EXPECT_EQ(win32::to_unix_path(u"C:\\dir\\\u00E4RGER.TXT"), c("Dir/\xC3\x84rger.txt"));
}

TEST_F(Paths, WindowsPathsOfUnixPaths) {
  EXPECT_EQ(win32::to_windows_path(c("x/y")), u"C:\\x\\y");
  EXPECT_EQ(win32::to_windows_path(c()), u"C:\\");
  EXPECT_EQ(win32::to_windows_path("/etc/passwd"), u"Z:\\etc\\passwd");
  EXPECT_EQ(win32::to_windows_path("/"), u"Z:\\");
  std::u16string outside = u"Z:" + win32::utf8_to_utf16(dir_ + "/cx");
  for (char16_t& ch : outside)
    if (ch == u'/') ch = u'\\';
  EXPECT_EQ(win32::to_windows_path(dir_ + "/cx"), outside);  // a sibling of the root, not under it
  ::setenv("KV_DRIVE_D", (dir_ + "/c/sub").c_str(), 1);
  EXPECT_EQ(win32::to_windows_path(c("sub/f")), u"D:\\f");  // the longer root wins
}

TEST_F(Paths, FullPathNames) {
  fs::create_directories(c("work"));
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\work"));
  struct Case {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {
      {u"a", u"C:\\work\\a"},
      {u"..\\b", u"C:\\b"},
      {u".", u"C:\\work"},
      {u"\\x", u"C:\\x"},
      {u"D:y", u"D:\\y"},
      {u"C:y", u"C:\\work\\y"},
      {u"c:/a/b/../c/", u"C:\\a\\c\\"},
      {u"C:\\a\\b. ", u"C:\\a\\b"},
      {u"\\\\?\\C:\\a\\..\\b", u"\\\\?\\C:\\a\\..\\b"},
      {u"//srv/share/x", u"\\\\srv\\share\\x"},
      // Trailing dots and blanks go from every name; a name of dots alone goes.
      {u"C:\\a. \\b..\\c", u"C:\\a\\b\\c"},
      {u"C:\\a\\...\\b", u"C:\\a\\b"},
      {u"C:\\a\\b...\\", u"C:\\a\\b\\"},
      // The device namespace keeps its prefix and is normalised.
      {u"\\\\.\\C:\\a\\..\\b. ", u"\\\\.\\C:\\b"},
      {u"\\\\.\\pipe\\x", u"\\\\.\\pipe\\x"},
      // Device names, in any folder and with any extension.
      {u"CON", u"\\\\.\\CON"},
      {u"NUL", u"\\\\.\\NUL"},
      {u"COM1", u"\\\\.\\COM1"},
      {u"con.txt", u"\\\\.\\con"},
      {u"c:\\dir\\nul", u"\\\\.\\nul"},
      {u"LPT9 .log", u"\\\\.\\LPT9"},
      {u"COM0", u"C:\\work\\COM0"},
      {u"CONSOLE", u"C:\\work\\CONSOLE"},
  };
  for (const Case& c : cases) {
    WCHAR buf[MAX_PATH];
    DWORD n = GetFullPathNameW(c.in, MAX_PATH, buf, nullptr);
    EXPECT_EQ(std::u16string(buf, n), c.out);
  }
  WCHAR* part = nullptr;
  WCHAR buf[MAX_PATH];
  DWORD n = GetFullPathNameW(u"sub\\file.txt", MAX_PATH, buf, &part);
  ASSERT_EQ(n, 20u);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(std::u16string(part), u"file.txt");
  // Too small: the size needed, terminator included.
  WCHAR tiny[4];
  EXPECT_EQ(GetFullPathNameW(u"sub\\file.txt", 4, tiny, nullptr), 21u);
  EXPECT_EQ(GetFullPathNameW(u"x", 0, nullptr, nullptr), 10u);
}

// Another drive's relative path goes against that drive's current folder, the
// "=X:" variable a command shell keeps, else its root.
TEST_F(Paths, EachDriveHasItsOwnCurrentFolder) {
  WCHAR buf[MAX_PATH];
  DWORD n = GetFullPathNameW(u"Q:a", MAX_PATH, buf, nullptr);
  EXPECT_EQ(std::u16string(buf, n), u"Q:\\a");
  ASSERT_TRUE(SetEnvironmentVariableW(u"=Q:", u"Q:\\dir\\sub"));
  n = GetFullPathNameW(u"Q:a", MAX_PATH, buf, nullptr);
  EXPECT_EQ(std::u16string(buf, n), u"Q:\\dir\\sub\\a");
  n = GetFullPathNameW(u"q:..\\b", MAX_PATH, buf, nullptr);
  EXPECT_EQ(std::u16string(buf, n), u"Q:\\dir\\b");
  n = GetEnvironmentVariableW(u"=q:", buf, MAX_PATH);
  EXPECT_EQ(std::u16string(buf, n), u"Q:\\dir\\sub");
  ASSERT_TRUE(SetEnvironmentVariableW(u"=Q:", nullptr));
  n = GetFullPathNameW(u"Q:a", MAX_PATH, buf, nullptr);
  EXPECT_EQ(std::u16string(buf, n), u"Q:\\a");
}

TEST_F(Paths, LongPathNamesHaveTheCaseOnDisk) {
  touch(c("Folder/MixedName.TXT"));
  struct Case {
    const char16_t* in;
    const char16_t* out;  // empty: fails with `error`
    DWORD error;
  } cases[] = {
      {u"c:\\folder\\mixedname.txt", u"c:\\Folder\\MixedName.TXT", 0},
      {u"\\\\?\\C:\\FOLDER\\MIXEDNAME.txt", u"\\\\?\\C:\\Folder\\MixedName.TXT", 0},
      {u"folder/mixedname.txt", u"Folder/MixedName.TXT", 0},
      {u"C:\\folder\\missing.txt", u"", ERROR_FILE_NOT_FOUND},
      {u"C:\\missing\\mixedname.txt", u"", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& k : cases) {
    WCHAR buf[MAX_PATH];
    SetLastError(0);
    DWORD n = GetLongPathNameW(k.in, buf, MAX_PATH);
    if (*k.out) {
      EXPECT_EQ(std::u16string(buf, n), k.out);
    } else {
      EXPECT_EQ(n, 0u);
      EXPECT_EQ(GetLastError(), k.error);
    }
  }
}

// A name longer than a folder holds (255 units) is refused, as Windows does.
TEST_F(Paths, ANameOverTwoHundredFiftyFiveUnitsIsInvalid) {
  const std::u16string name(256, u'n');
  for (const std::u16string prefix : {u"\\\\?\\C:\\", u"C:\\"}) {
    const std::u16string path = prefix + name;
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  }
  const std::u16string fits = u"\\\\?\\C:\\" + std::u16string(255, u'n');
  HANDLE h = CreateFileW(fits.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(fs::exists(c(std::string(255, 'n'))));
}

TEST_F(Paths, CurrentDirectory) {
  fs::create_directories(c("Work/Deep"));
  touch(c("file"));
  EXPECT_TRUE(SetCurrentDirectoryW(u"c:\\work"));
  WCHAR buf[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, buf);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\work");
  EXPECT_EQ(GetCurrentDirectoryW(3, buf), n + 1);
  EXPECT_TRUE(SetCurrentDirectoryW(u"deep\\"));
  n = GetCurrentDirectoryW(MAX_PATH, buf);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\work\\deep");
  EXPECT_EQ(win32::to_unix_path(u"x"), c("Work/Deep/x"));
  char cwd[PATH_MAX];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(fs::canonical(cwd), fs::canonical(c("Work/Deep")));

  SetLastError(0);
  EXPECT_FALSE(SetCurrentDirectoryW(u"C:\\nothing"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_FALSE(SetCurrentDirectoryW(u"C:\\nothing\\deeper"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  SetLastError(0);
  EXPECT_FALSE(SetCurrentDirectoryW(u"C:\\file"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(Paths, SystemFoldersLiveOnDriveC) {
  WCHAR buf[MAX_PATH];
  UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\Windows");
  EXPECT_EQ(GetWindowsDirectoryW(buf, 5), 11u);
  n = GetSystemDirectoryW(buf, MAX_PATH);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\Windows\\System32");
  EXPECT_TRUE(fs::is_directory(c("Windows/System32")));
  DWORD t = GetTempPathW(MAX_PATH, buf);
  EXPECT_EQ(std::u16string(buf, t), u"C:\\Windows\\Temp\\");
  EXPECT_TRUE(fs::is_directory(c("Windows/Temp")));
  ::setenv("TMP", "/tmp", 1);  // not a Windows path: ignored
  ::setenv("TEMP", "C:\\Users\\me\\Temp", 1);
  t = GetTempPathW(MAX_PATH, buf);
  EXPECT_EQ(std::u16string(buf, t), u"C:\\Users\\me\\Temp\\");
  EXPECT_EQ(GetTempPathW(2, buf), t + 1);
}

TEST_F(Paths, DrivesAndDriveTypes) {
  EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 25));
  ::setenv("KV_DRIVE_D", (dir_ + "/d").c_str(), 1);
  EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 25));
  WCHAR list[32];
  DWORD n = GetLogicalDriveStringsW(32, list);
  EXPECT_EQ(std::u16string(list, n + 1), std::u16string(u"C:\\\0D:\\\0Z:\\\0\0", 13));
  EXPECT_EQ(GetLogicalDriveStringsW(4, list), 13u);
  struct Case {
    const char16_t* root;
    UINT type;
  } cases[] = {{u"C:\\", DRIVE_FIXED}, {u"c:", DRIVE_FIXED},           {u"Z:\\", DRIVE_FIXED},
               {u"D:/", DRIVE_FIXED},  {u"Q:\\", DRIVE_NO_ROOT_DIR},   {u"C:\\Windows\\", DRIVE_NO_ROOT_DIR},
               {u"\\\\?\\C:\\", DRIVE_FIXED}};
  for (const Case& c : cases) EXPECT_EQ(GetDriveTypeW(c.root), c.type);
  EXPECT_EQ(GetDriveTypeW(nullptr), static_cast<UINT>(DRIVE_FIXED));
  fs::create_directories(c("deep"));
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\deep"));
  EXPECT_EQ(GetDriveTypeW(u"C:"), static_cast<UINT>(DRIVE_FIXED));  // the drive, not its current folder
  EXPECT_EQ(GetDriveTypeW(u"\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeW(u"deep"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
}

TEST_F(Paths, DriveCDefaultsToTheWorldRoot) {
  ::unsetenv("KV_DRIVE_C");
  EXPECT_EQ(win32::drive_root(u'c'), dir_ + "/world/drive_c");
  EXPECT_TRUE(fs::is_directory(dir_ + "/world/drive_c"));
  ::unsetenv("KV_WORLD_ROOT");
  ::setenv("XDG_DATA_HOME", (dir_ + "/xdg").c_str(), 1);
  EXPECT_EQ(win32::world_root(), dir_ + "/xdg/korvane-world");
  ::unsetenv("XDG_DATA_HOME");
}
