#include "platform/win32/kernel32/fileops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/testing/test_world.h"

namespace fs = std::filesystem;

namespace {

class FileOps : public win32_test::World {
 protected:
  void make_read_only(const std::string& rel) { ::chmod(c(rel).c_str(), 0444); }

  std::vector<std::u16string> find_all(const char16_t* pattern) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(d.cFileName);
    while (FindNextFileW(h, &d));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    return names;
  }
};

void expect_fails(BOOL result, DWORD error, const char* what) {
  EXPECT_FALSE(result) << what;
  EXPECT_EQ(GetLastError(), error) << what;
}

}  // namespace

TEST_F(FileOps, Attributes) {
  put("f.txt", "12345");
  fs::create_directories(c("d"));
  put(".dot", "");
  EXPECT_EQ(GetFileAttributesW(u"C:\\f.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesW(u"C:\\D"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesW(u"C:\\d\\"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesW(u"C:\\.dot") & FILE_ATTRIBUTE_HIDDEN, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));

  struct Case {
    const char16_t* path;
    DWORD error;
  } missing[] = {{u"C:\\none.txt", ERROR_FILE_NOT_FOUND},
                 {u"C:\\none\\x.txt", ERROR_PATH_NOT_FOUND},
                 {u"C:\\f.txt\\x", ERROR_PATH_NOT_FOUND},
                 {u"C:\\f.txt\\", ERROR_INVALID_NAME},
                 {u"C:\\f?.txt", ERROR_INVALID_NAME}};
  for (const Case& c : missing) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(c.path), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), c.error);
  }

  ASSERT_TRUE(SetFileAttributesW(u"C:\\f.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesW(u"C:\\f.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  struct stat st;
  ASSERT_EQ(::stat(c("f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_TRUE(SetFileAttributesW(u"C:\\f.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesW(u"C:\\f.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));

  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(u"c:\\F.TXT", GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
}

// Read-only and hidden together, set afterwards or given at creation: both
// stay, also for a user without root's rights (Windows' answers).
TEST_F(FileOps, ReadOnlyKeepsTheOtherAttributes) {
  put("set.txt", "x");
  ASSERT_TRUE(SetFileAttributesW(u"C:\\set.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  HANDLE h = CreateFileW(u"C:\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));  // the maker's handle still writes
  CloseHandle(h);
  put("always.txt", "old");
  h = CreateFileW(u"C:\\always.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  struct Case {
    const char* name;
    DWORD attributes;
  } cases[] = {
      {"set.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
      {"new.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
      {"always.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
  };
  for (const auto& k : cases) {
    const std::u16string path = u"C:\\" + std::u16string(k.name, k.name + std::strlen(k.name));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), k.attributes) << k.name;
    struct stat st;
    ASSERT_EQ(::stat(c(k.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << k.name;
  }
  EXPECT_EQ(get("new.txt"), "abc");
  // Back to writable: the mode follows and the kept bits go.
  ASSERT_TRUE(SetFileAttributesW(u"C:\\set.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesW(u"C:\\set.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(::access(c("set.txt").c_str(), W_OK), 0);
}

TEST_F(FileOps, DeleteFile) {
  put("f.txt", "x");
  put("ro.txt", "x");
  make_read_only("ro.txt");
  fs::create_directories(c("d"));
  SetLastError(0);
  expect_fails(DeleteFileW(u"C:\\d"), ERROR_ACCESS_DENIED, "a folder");
  expect_fails(DeleteFileW(u"C:\\ro.txt"), ERROR_ACCESS_DENIED, "read-only");
  expect_fails(DeleteFileW(u"C:\\none"), ERROR_FILE_NOT_FOUND, "missing");
  expect_fails(DeleteFileW(u"C:\\none\\x"), ERROR_PATH_NOT_FOUND, "missing folder");
  {
    HANDLE h = CreateFileW(u"C:\\f.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    expect_fails(DeleteFileW(u"C:\\f.txt"), ERROR_SHARING_VIOLATION, "open without delete sharing");
    CloseHandle(h);
    h = CreateFileW(u"C:\\f.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    EXPECT_TRUE(DeleteFileW(u"C:\\F.TXT"));
    CloseHandle(h);
  }
  EXPECT_FALSE(fs::exists(c("f.txt")));
}

TEST_F(FileOps, Folders) {
  EXPECT_TRUE(CreateDirectoryW(u"C:\\a", nullptr));
  EXPECT_TRUE(CreateDirectoryW(u"C:\\A\\b\\", nullptr));
  EXPECT_TRUE(fs::is_directory(c("a/b")));
  expect_fails(CreateDirectoryW(u"C:\\a", nullptr), ERROR_ALREADY_EXISTS, "exists");
  put("file", "");
  expect_fails(CreateDirectoryW(u"C:\\file", nullptr), ERROR_ALREADY_EXISTS, "a file of that name");
  expect_fails(CreateDirectoryW(u"C:\\x\\y", nullptr), ERROR_PATH_NOT_FOUND, "no parent");
  expect_fails(CreateDirectoryW(u"C:\\a*", nullptr), ERROR_INVALID_NAME, "wildcard");

  expect_fails(RemoveDirectoryW(u"C:\\a"), ERROR_DIR_NOT_EMPTY, "not empty");
  expect_fails(RemoveDirectoryW(u"C:\\file"), ERROR_DIRECTORY, "a file");
  expect_fails(RemoveDirectoryW(u"C:\\none"), ERROR_FILE_NOT_FOUND, "missing");
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\a\\b"));
  expect_fails(RemoveDirectoryW(u"C:\\a\\b"), ERROR_SHARING_VIOLATION, "the current directory");
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\"));
  HANDLE h = CreateFileW(u"C:\\a\\b", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  expect_fails(RemoveDirectoryW(u"C:\\a\\b"), ERROR_SHARING_VIOLATION, "held without delete sharing");
  CloseHandle(h);
  EXPECT_TRUE(RemoveDirectoryW(u"C:\\a\\B"));
  EXPECT_TRUE(RemoveDirectoryW(u"C:\\a"));
  EXPECT_FALSE(fs::exists(c("a")));
}

TEST_F(FileOps, Move) {
  put("a.txt", "A");
  put("b.txt", "B");
  expect_fails(MoveFileExW(u"C:\\a.txt", u"C:\\b.txt", 0), ERROR_ALREADY_EXISTS, "target exists");
  EXPECT_TRUE(MoveFileExW(u"C:\\a.txt", u"C:\\b.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(get("b.txt"), "A");
  EXPECT_FALSE(fs::exists(c("a.txt")));
  expect_fails(MoveFileW(u"C:\\a.txt", u"C:\\c.txt"), ERROR_FILE_NOT_FOUND, "source missing");
  expect_fails(MoveFileW(u"C:\\b.txt", u"C:\\no\\c.txt"), ERROR_PATH_NOT_FOUND, "target folder missing");

  // A change of case renames the entry itself.
  EXPECT_TRUE(MoveFileW(u"C:\\b.txt", u"C:\\B.TXT"));
  EXPECT_TRUE(fs::exists(c("B.TXT")));
  EXPECT_FALSE(fs::exists(c("b.txt")));

  put("ro.txt", "R");
  make_read_only("ro.txt");
  expect_fails(MoveFileExW(u"C:\\B.TXT", u"C:\\ro.txt", MOVEFILE_REPLACE_EXISTING), ERROR_ACCESS_DENIED,
               "read-only target");
  fs::create_directories(c("dir"));
  expect_fails(MoveFileExW(u"C:\\B.TXT", u"C:\\dir", MOVEFILE_REPLACE_EXISTING), ERROR_ACCESS_DENIED,
               "folder target");
  EXPECT_TRUE(MoveFileW(u"C:\\dir", u"C:\\dir2"));  // folders move too
  EXPECT_TRUE(fs::is_directory(c("dir2")));

  HANDLE h = CreateFileW(u"C:\\B.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  expect_fails(MoveFileW(u"C:\\B.TXT", u"C:\\moved.txt"), ERROR_SHARING_VIOLATION, "source held");
  CloseHandle(h);

  // Moves for the next start are recorded, not done.
  EXPECT_TRUE(MoveFileExW(u"C:\\B.TXT", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_TRUE(fs::exists(c("B.TXT")));
  std::ifstream pending(dir_ + "/world/run/pending_renames");
  std::string line;
  std::getline(pending, line);
  EXPECT_EQ(line, "C:\\B.TXT\t");
}

TEST_F(FileOps, Copy) {
  put("src.txt", std::string(3 << 20, 'q') + "end");
  ASSERT_TRUE(SetFileAttributesW(u"C:\\src.txt", FILE_ATTRIBUTE_READONLY));
  HANDLE h = CreateFileW(u"C:\\src.txt", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME t = win32::filetime_from_unix_ns(1000000000LL * 1000000000LL);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &t));
  CloseHandle(h);

  ASSERT_TRUE(CopyFileW(u"C:\\src.txt", u"C:\\dst.txt", TRUE));
  EXPECT_EQ(get("dst.txt"), get("src.txt"));
  EXPECT_EQ(GetFileAttributesW(u"C:\\dst.txt") & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(u"C:\\dst.txt", GetFileExInfoStandard, &data));
  EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, t.dwLowDateTime);
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, t.dwHighDateTime);

  expect_fails(CopyFileW(u"C:\\src.txt", u"C:\\dst.txt", TRUE), ERROR_FILE_EXISTS, "fail if exists");
  expect_fails(CopyFileW(u"C:\\src.txt", u"C:\\dst.txt", FALSE), ERROR_ACCESS_DENIED, "read-only target");
  expect_fails(CopyFileW(u"C:\\none", u"C:\\x", FALSE), ERROR_FILE_NOT_FOUND, "missing source");
  fs::create_directories(c("d"));
  expect_fails(CopyFileW(u"C:\\d", u"C:\\x", FALSE), ERROR_ACCESS_DENIED, "folder source");

  // A lock in the source stops the copy, and no partial target is left.
  put("locked.bin", std::string(100, 'l'));
  HANDLE lh = CreateFileW(u"C:\\locked.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(LockFile(lh, 50, 0, 10, 0));
  expect_fails(CopyFileW(u"C:\\locked.bin", u"C:\\copy.bin", FALSE), ERROR_LOCK_VIOLATION, "locked source");
  EXPECT_FALSE(fs::exists(c("copy.bin")));
  CloseHandle(lh);
}

TEST_F(FileOps, Find) {
  for (const char* name : {"b.txt", "A.TXT", "c.dat", "noext", "sub/x.txt"}) put(name, "x");
  EXPECT_EQ(find_all(u"C:\\*"), (std::vector<std::u16string>{u"A.TXT", u"b.txt", u"c.dat", u"noext", u"sub"}));
  EXPECT_EQ(find_all(u"C:\\*.txt"), (std::vector<std::u16string>{u"A.TXT", u"b.txt"}));
  EXPECT_EQ(find_all(u"c:/?.TxT"), (std::vector<std::u16string>{u"A.TXT", u"b.txt"}));
  EXPECT_EQ(find_all(u"C:\\*.*").size(), 5u);  // names without a dot match "*.*"
  EXPECT_EQ(find_all(u"C:\\noext.*"), (std::vector<std::u16string>{u"noext"}));
  EXPECT_EQ(find_all(u"C:\\SUB\\*"), (std::vector<std::u16string>{u".", u"..", u"x.txt"}));
  EXPECT_EQ(find_all(u"C:\\a.txt"), (std::vector<std::u16string>{u"A.TXT"}));  // a plain name, as stored

  WIN32_FIND_DATAW d;
  SetLastError(0);
  EXPECT_EQ(FindFirstFileW(u"C:\\*.none", &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(FindFirstFileW(u"C:\\missing\\*", &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(FindFirstFileW(u"C:\\none.txt", &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  HANDLE h = FindFirstFileW(u"C:\\sub", &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  FindClose(h);
  h = FindFirstFileW(u"C:\\c.dat", &d);
  EXPECT_EQ(d.nFileSizeLow, 1u);
  EXPECT_EQ(d.cAlternateFileName[0], 0);
  FindClose(h);
  SetLastError(0);
  EXPECT_FALSE(FindClose(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The order of a listing: names ignoring case, the shorter first, then the
// exact name; also past the first dozen characters and beyond ASCII.
TEST_F(FileOps, FindOrder) {
  const std::vector<std::string> disk = {
      "setup-component-b.log", "SETUP-COMPONENT-A.LOG", "Setup-Component-a.log", "abcdefghijklmn", "abcdefghijklm",
      "same", "SAME", "Same", "\xC3\xA4pfel", "\xC3\x84rger", "zebra", "B", "a", "_under", "~tilde"};
  for (const std::string& n : disk) put("o/" + n, "");
  EXPECT_EQ(find_all(u"C:\\o\\*"),
            (std::vector<std::u16string>{u".", u"..", u"a", u"abcdefghijklm", u"abcdefghijklmn", u"B", u"SAME",
                                         u"Same", u"same", u"SETUP-COMPONENT-A.LOG", u"Setup-Component-a.log",
                                         u"setup-component-b.log", u"zebra", u"_under", u"~tilde", u"\u00E4pfel",
                                         u"\u00C4rger"}));

  // Enough entries for the sort's own partitioning; the witness orders ASCII
  // names by their upper-case form, then exactly.
  std::vector<std::string> many;
  for (int i = 0; i < 300; ++i) {
    std::string n = "Entry_" + std::to_string(i * 7919 % 1000) + (i % 3 ? ".dat" : ".DAT");
    if (i % 5 == 0) n[0] = 'e';
    many.push_back(n);
    put("m/" + n, "");
  }
  auto upper = [](std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
  };
  std::sort(many.begin(), many.end(), [&](const std::string& x, const std::string& y) {
    return upper(x) != upper(y) ? upper(x) < upper(y) : x < y;
  });
  std::vector<std::u16string> expected = {u".", u".."};
  for (const std::string& n : many) expected.emplace_back(n.begin(), n.end());
  EXPECT_EQ(find_all(u"C:\\m\\*"), expected);
}

// What a listing reports of each entry, the kept attributes and creation time
// included, against what was set and what the disk says.
TEST_F(FileOps, FindEntryFacts) {
  put("f/kept.txt", "12345");
  put("f/plain.bin", std::string(70000, 'x'));
  put("f/.dot", "");
  fs::create_directories(c("f/sub"));
  const std::string bad = c("f/bad\xFFname");
  std::ofstream(bad) << "";
  ASSERT_TRUE(SetFileAttributesW(u"C:\\f\\kept.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  FILETIME created{0x12345678u, 0x01D00000u};
  HANDLE h = CreateFileW(u"C:\\f\\kept.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(h, &created, nullptr, nullptr));
  CloseHandle(h);

  struct stat plain;
  ASSERT_EQ(::stat(c("f/plain.bin").c_str(), &plain), 0);
  const unsigned long long plain_write = (static_cast<unsigned long long>(plain.st_mtim.tv_sec) * 10000000ULL +
                                          static_cast<unsigned long long>(plain.st_mtim.tv_nsec) / 100) +
                                         116444736000000000ULL;

  struct Expected {
    const char16_t* name;
    DWORD attributes;
    DWORD size;
  } table[] = {{u".", FILE_ATTRIBUTE_DIRECTORY, 0},
               {u"..", FILE_ATTRIBUTE_DIRECTORY, 0},
               {u".dot", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, 0},
               {u"bad\uFFFDname", FILE_ATTRIBUTE_ARCHIVE, 0},
               {u"kept.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 5},
               {u"plain.bin", FILE_ATTRIBUTE_ARCHIVE, 70000},
               {u"sub", FILE_ATTRIBUTE_DIRECTORY, 0}};
  // Both roads to the kept attributes: relative to the open folder, and by
  // path as on kernels without the relative calls.
  for (const bool by_path : {false, true}) {
    SCOPED_TRACE(by_path ? "by path" : "relative to the folder");
    win32::list_xattrs_by_path_for_tests(by_path);
    WIN32_FIND_DATAW d;
    h = FindFirstFileW(u"C:\\f\\*", &d);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    for (const Expected& e : table) {
      EXPECT_EQ(std::u16string(d.cFileName), e.name);
      EXPECT_EQ(d.dwFileAttributes, e.attributes) << fs::path(std::u16string(d.cFileName)).string();
      EXPECT_EQ(d.nFileSizeLow, e.size) << fs::path(std::u16string(d.cFileName)).string();
      EXPECT_EQ(d.nFileSizeHigh, 0u);
      if (std::u16string(d.cFileName) == u"kept.txt") {
        EXPECT_EQ(d.ftCreationTime.dwLowDateTime, created.dwLowDateTime);
        EXPECT_EQ(d.ftCreationTime.dwHighDateTime, created.dwHighDateTime);
      }
      if (std::u16string(d.cFileName) == u"plain.bin") {
        EXPECT_EQ(d.ftLastWriteTime.dwLowDateTime, static_cast<DWORD>(plain_write));
        EXPECT_EQ(d.ftLastWriteTime.dwHighDateTime, static_cast<DWORD>(plain_write >> 32));
      }
      if (!FindNextFileW(h, &d)) break;
    }
    EXPECT_FALSE(FindNextFileW(h, &d));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    FindClose(h);
  }
  win32::list_xattrs_by_path_for_tests(false);
}

TEST_F(FileOps, TempFileNames) {
  fs::create_directories(c("t"));
  WCHAR name[MAX_PATH];
  UINT n = GetTempFileNameW(u"C:\\t", u"msiXYZ", 0, name);
  ASSERT_NE(n, 0u);
  std::u16string s(name);
  EXPECT_EQ(s.substr(0, 8), u"C:\\t\\msi");
  EXPECT_EQ(s.substr(s.size() - 4), u".tmp");
  EXPECT_EQ(GetFileAttributesW(name) & FILE_ATTRIBUTE_DIRECTORY, 0u);  // created
  UINT m = GetTempFileNameW(u"C:\\t\\", u"msi", 0, name);
  EXPECT_NE(m, n);

  EXPECT_EQ(GetTempFileNameW(u"C:\\t", u"tmp", 0x1AB, name), 0x1ABu);
  EXPECT_EQ(std::u16string(name), u"C:\\t\\tmp1AB.tmp");
  EXPECT_EQ(GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES);  // not created

  SetLastError(0);
  EXPECT_EQ(GetTempFileNameW(u"C:\\missing", u"tmp", 0, name), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(FileOps, ModesAndFreeSpace) {
  UINT old = SetErrorMode(SEM_FAILCRITICALERRORS);
  EXPECT_EQ(SetErrorMode(old), static_cast<UINT>(SEM_FAILCRITICALERRORS));
  EXPECT_TRUE(AreFileApisANSI());
  SetFileApisToOEM();
  EXPECT_FALSE(AreFileApisANSI());
  SetFileApisToANSI();
  EXPECT_TRUE(AreFileApisANSI());
  ULARGE_INTEGER avail, total, free;
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"C:\\", &avail, &total, &free));
  EXPECT_GT(total.QuadPart, 0u);
  EXPECT_LE(avail.QuadPart, total.QuadPart);
  DWORD spc, bps, fc, tc;
  ASSERT_TRUE(GetDiskFreeSpaceW(u"C:\\", &spc, &bps, &fc, &tc));
  EXPECT_EQ(bps, 512u);
  SetLastError(0);
  EXPECT_FALSE(GetDiskFreeSpaceExW(u"Q:\\", &avail, &total, &free));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileOps, HardLinks) {
  put("f", "data");
  EXPECT_TRUE(CreateHardLinkW(u"C:\\g", u"C:\\F", nullptr));
  EXPECT_EQ(get("g"), "data");
  expect_fails(CreateHardLinkW(u"C:\\g", u"C:\\f", nullptr), ERROR_ALREADY_EXISTS, "link exists");
  expect_fails(CreateHardLinkW(u"C:\\h", u"C:\\none", nullptr), ERROR_FILE_NOT_FOUND, "missing target");
}
