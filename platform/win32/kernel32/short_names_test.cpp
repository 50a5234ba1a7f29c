#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/testing/test_world.h"

namespace fs = std::filesystem;

namespace {

class ShortNames : public win32_test::World {
 protected:
  void touch(const std::string& relative) {
    fs::path p = fs::path(dir_) / "c" / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  static std::u16string shortPath(const std::u16string& path) {
    WCHAR buffer[260] = {0};
    DWORD n = GetShortPathNameW(path.c_str(), buffer, 260);
    return n == 0 || n >= 260 ? u"<" + std::u16string(u"failed") + u">" : std::u16string(buffer, n);
  }
};

TEST_F(ShortNames, LongNamesGetUniqueKeptNamesPerFolder) {
  for (const char* name : {"Program Files/Long File Name.txt", "Program Files/Long File Other.txt",
                           "Program Files/readme.txt", "Program Files/archive.tar.gz", "Program Files/a+b.c",
                           "Program Files/page.html", "Program Files/LONGNA~1.TXT", "Program Files/Long Name Z.txt",
                           "Program Files/.profile"})
    touch(name);
  struct Case {
    const char16_t* path;
    const char16_t* expected;
  } cases[] = {
      {u"C:\\Program Files\\Long File Name.txt", u"C:\\PROGRA~1\\LONGFI~1.TXT"},
      {u"C:\\Program Files\\Long File Other.txt", u"C:\\PROGRA~1\\LONGFI~2.TXT"},
      // asked again, in another case and with other separators: the name it was given
      {u"c:/program files/long file name.txt", u"c:/PROGRA~1/LONGFI~1.TXT"},
      {u"C:\\Program Files\\readme.txt", u"C:\\PROGRA~1\\readme.txt"},
      {u"C:\\Program Files\\archive.tar.gz", u"C:\\PROGRA~1\\ARCHIV~1.GZ"},
      {u"C:\\Program Files\\a+b.c", u"C:\\PROGRA~1\\A_B~1.C"},
      {u"C:\\Program Files\\page.html", u"C:\\PROGRA~1\\PAGE~1.HTM"},
      // a name already short on disk is never handed out again
      {u"C:\\Program Files\\Long Name Z.txt", u"C:\\PROGRA~1\\LONGNA~2.TXT"},
      {u"C:\\Program Files\\.profile", u"C:\\PROGRA~1\\PROFIL~1"},
      {u"C:\\Program Files", u"C:\\PROGRA~1"},
  };
  for (const Case& c : cases) EXPECT_EQ(shortPath(c.path), std::u16string(c.expected)) << fs::path(c.path).string();
}

TEST_F(ShortNames, MissingPathsAndSmallBuffersFailAsWindowsDoes) {
  touch("Some Folder/file.txt");
  WCHAR buffer[8] = {0};
  SetLastError(0);
  EXPECT_EQ(GetShortPathNameW(u"C:\\Some Folder\\none.txt", buffer, 8), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetShortPathNameW(u"C:\\No Folder\\none.txt", buffer, 8), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // "C:\SOMEFO~1\file.txt" and its terminator
  EXPECT_EQ(GetShortPathNameW(u"C:\\Some Folder\\file.txt", buffer, 8), 21u);
  EXPECT_EQ(GetShortPathNameW(nullptr, buffer, 8), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
