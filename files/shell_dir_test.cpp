#include "files/shell_dir.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "files/file_object.h"
#include "platform/win32/test_world.h"
#include "platform/win32/windows.h"

namespace {

class ShellDir : public win32_test::World {
 protected:
  ShellDir() : World("shelldir-") {}
  // A parsed list, freed at the end of the test.
  const ITEMIDLIST* parse(const char16_t* text) {
    LPITEMIDLIST list = nullptr;
    EXPECT_EQ(SHParseDisplayName(text, nullptr, &list, 0, nullptr), S_OK) << "parse";
    if (list) lists_.emplace_back(list);
    return list;
  }
  std::string user() const {
    char16_t buf[128] = {};
    DWORD n = GetEnvironmentVariableW(u"USERNAME", buf, 128);
    return std::string(buf, buf + n);
  }
  static bool unix_dir(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

 private:
  struct Free {
    void operator()(ITEMIDLIST* l) const { CoTaskMemFree(l); }
  };
  std::vector<std::unique_ptr<ITEMIDLIST, Free>> lists_;
};

const ITEMIDLIST* bytes_list(const std::vector<unsigned char>& v) {
  return reinterpret_cast<const ITEMIDLIST*>(v.data());
}

TEST_F(ShellDir, KindsFromAttributesAndParsingNames) {
  struct Case {
    std::uint32_t attributes;
    const char16_t* name;
    std::int32_t kind;
  } cases[] = {
      {0x40000000, u"C:\\a.txt", 0},                       // not a folder
      {0x40010000, u"C:\\a.lnk", 6},                       // link
      {0x28000000, u"C:\\a.zip", 0},                       // browsable archive shown as folder
      {0x78000000, u"C:\\", 131},                          // browsable but file-system ancestor
      {0x20000000, u"c:\\", 131},                          // fixed drive C, either case
      {0x20000000, u"Q:\\", 137},                          // no such drive
      {0x20000000, u"C:", 128},                            // too short for a drive
      {0x20000000, u"\\\\srv", 141},
      {0x20000000, u"\\\\srv\\share", 142},
      {0x20000000, u"\\\\srv\\share\\dir", 128},
      {0x20000000, u"::{20d04fe0-3aea-1069-a2d8-08002b30309d}", 138},
      {0x20000000, u"::{208D2C60-3AEA-1069-A2D7-08002B30309D}", 139},
      {0x20000000, u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}", 139},
      {0x20000000, u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}", 147},
      {0x20000000, u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}x", 128},
  };
  for (const Case& c : cases)
    EXPECT_EQ(shell_dir::item_kind(c.attributes, c.name), c.kind) << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
}

TEST_F(ShellDir, RelationsOfItemIdLists) {
  put("a/b/f.txt", "x");
  put("ab/g.txt", "x");
  const ITEMIDLIST* a = parse(u"C:\\a");
  const ITEMIDLIST* a_upper = parse(u"c:\\A");
  const ITEMIDLIST* ab = parse(u"C:\\a\\b");
  const ITEMIDLIST* sibling = parse(u"C:\\ab");
  const ITEMIDLIST* share = parse(u"\\\\srv\\share");
  const ITEMIDLIST* share_case = parse(u"\\\\SRV\\Share");
  std::vector<unsigned char> desktop{0, 0};
  ASSERT_TRUE(a && a_upper && ab && sibling && share && share_case);

  EXPECT_EQ(shell_dir::relation(a, a_upper), 0);
  EXPECT_EQ(shell_dir::relation(a, ab), 1);
  EXPECT_EQ(shell_dir::relation(ab, a), 2);
  EXPECT_EQ(shell_dir::relation(a, sibling), 2);
  EXPECT_EQ(shell_dir::relation(bytes_list(desktop), ab), 1);
  EXPECT_EQ(shell_dir::relation(bytes_list(desktop), bytes_list(desktop)), 0);
  EXPECT_EQ(shell_dir::relation(share, share_case), 0);
  EXPECT_EQ(shell_dir::relation(share, a), 2);
  EXPECT_EQ(shell_dir::relation(a, nullptr), 2);

  LPITEMIDLIST missing = nullptr;
  EXPECT_EQ(SHParseDisplayName(u"C:\\nothing\\here", nullptr, &missing, 0, nullptr),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(missing, nullptr);
}

TEST_F(ShellDir, ParentOfTheRootIsTheRoot) {
  put("a/b/f.txt", "x");
  std::vector<unsigned char> desktop{0, 0};
  EXPECT_EQ(shell_dir::parent_list(bytes_list(desktop)), desktop);

  std::vector<unsigned char> up = shell_dir::parent_list(parse(u"C:\\a\\b"));
  EXPECT_TRUE(ILIsEqual(bytes_list(up), parse(u"C:\\a")));
  EXPECT_EQ(ILGetSize(bytes_list(up)), up.size());
  // The computer's parent is the desktop.
  EXPECT_EQ(shell_dir::parent_list(parse(u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")), desktop);
}

TEST_F(ShellDir, FileSystemPathsOfLists) {
  put("a/b/f.txt", "x");
  char16_t path[MAX_PATH];
  ASSERT_TRUE(SHGetPathFromIDListW(parse(u"C:\\a\\b"), path));
  EXPECT_EQ(std::u16string(path), u"C:\\a\\b");
  ASSERT_TRUE(SHGetPathFromIDListW(parse(u"C:\\"), path));
  EXPECT_EQ(std::u16string(path), u"C:\\");
  ASSERT_TRUE(SHGetPathFromIDListW(parse(u"\\\\srv\\share\\d"), path));
  EXPECT_EQ(std::u16string(path), u"\\\\srv\\share\\d");
  EXPECT_FALSE(SHGetPathFromIDListW(parse(u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"), path));
  std::vector<unsigned char> desktop{0, 0};
  EXPECT_FALSE(SHGetPathFromIDListW(bytes_list(desktop), path));
}

TEST_F(ShellDir, SpecialFoldersAreMadeInTheUserProfile) {
  const std::string profile = "Users/" + user();
  const std::string name = user();
  const std::u16string home = u"C:\\Users\\" + std::u16string(name.begin(), name.end());
  struct Case {
    std::int32_t kind;
    std::u16string path;
    std::string unix_rel;
  } cases[] = {
      {entry_kind::common_app_data, u"C:\\ProgramData", "ProgramData"},
      {entry_kind::app_data, home + u"\\AppData\\Roaming",
       profile + "/AppData/Roaming"},
      {entry_kind::local_app_data, home + u"\\AppData\\Local",
       profile + "/AppData/Local"},
      {entry_kind::desktop, home + u"\\Desktop",
       profile + "/Desktop"},
  };
  for (const Case& c : cases) {
    std::uint32_t error = 1;
    EXPECT_EQ(shell_dir::special_folder(c.kind, error), c.path) << c.kind;
    EXPECT_EQ(error, 0u);
    EXPECT_TRUE(unix_dir(this->c(c.unix_rel))) << c.unix_rel;
  }
  std::uint32_t error = 0;
  EXPECT_EQ(shell_dir::special_folder(entry_kind::documents, error), u"");
  EXPECT_EQ(error, 0x4000eu);
}

// When the user's folders cannot be made, every kind answers with the common
// application-data folder under "All Users" instead of failing.
TEST_F(ShellDir, FailedUserFoldersFailInsteadOfTakingTheCommonFolder) {
  const std::string profile = "Users/" + user();
  put(profile + "/AppData", "a file where the folder belongs");
  put(profile + "/Desktop", "a file where the folder belongs");
  for (int csidl : {CSIDL_APPDATA, CSIDL_DESKTOPDIRECTORY}) {
    char16_t buf[MAX_PATH];
    EXPECT_LT(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, buf), 0) << csidl;
  }
  for (std::int32_t kind : {entry_kind::app_data, entry_kind::local_app_data, entry_kind::desktop}) {
    std::uint32_t error = 1;
    EXPECT_EQ(shell_dir::special_folder(kind, error), u"") << kind;
    EXPECT_EQ(error, 0x40007u) << kind;
  }
  EXPECT_FALSE(unix_dir(c("Users/All Users/Application Data")));
  std::uint32_t error = 1;
  EXPECT_EQ(shell_dir::special_folder(entry_kind::common_app_data, error), u"C:\\ProgramData");
}

}  // namespace
