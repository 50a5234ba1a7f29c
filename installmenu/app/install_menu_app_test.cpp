#include "installmenu/app/install_menu_app.h"

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"

namespace {

class SignTest : public win32_test::World {};

// The single-instance names come from the whole sign: U+0141 and "A" (0x41)
// share their low byte but name different applications.
TEST_F(SignTest, SignsDifferingInAHighByteNameDifferentObjects) {
  const std::string polish = narrowSign(u"Menu\u0141"), latin = narrowSign(u"MenuA");
  EXPECT_EQ(polish, "Menu\xc5\x81");
  EXPECT_NE(polish, latin);
  HANDLE first = CreateMutexA(nullptr, FALSE, polish.c_str());
  ASSERT_NE(first, nullptr);
  HANDLE second = CreateMutexA(nullptr, FALSE, latin.c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(second);
  CloseHandle(first);
  EXPECT_EQ(narrowSign(nullptr), "");
}

}  // namespace

namespace {

class MenuThemeTest : public win32_test::World {};

// The menu's own atoms: its colours over the base's, and its two fonts by the
// Windows major version, against stock font 0 (FOX's default font before the
// display is opened: 9 points, 90 deci-points).
TEST_F(MenuThemeTest, ColoursAndFontsByVersion) {
  FXKInstallMenuApp app;
  struct Colour {
    const char* name;
    FX::FXColor value;
  } colours[] = {
      {"shellbackground", FXRGB(245, 252, 255)},
      {"shellborderbackground", FXRGB(245, 252, 255)},
      {"shellforeground", FXRGB(128, 129, 132)},
      {"bannertitle", FXRGB(250, 250, 255)},  // 28: the base's value
  };
  for (const Colour& c : colours) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(app.getStockColor(app.registerStockColor(c.name)), c.value);
  }
  const FX::FXFontDesc stock = app.getStockFontDesc(0);
  ASSERT_EQ(stock.size, 90);
  const auto heavier = static_cast<FX::FXushort>(stock.weight + 30 > 90 ? 90 : stock.weight + 30);
  struct Font {
    const char* version;
    FX::FXushort titleSize, titleWeight, commentSize;
  } fonts[] = {
      {"10", 105, 30, 85},       // major 6 or later: +15, weight 300 (FOX: 30)
      {"98", 110, heavier, 85},  // below 6: +20, weight +300 at most 900
  };
  for (const Font& f : fonts) {
    SCOPED_TRACE(f.version);
    ::setenv("KV_WINDOWS_VERSION", f.version, 1);
    FX::FXFontDesc title{}, comment{};
    ASSERT_TRUE(app.getSystemDefaultFont(app.registerStockFont("bootmenu_title"), title));
    ASSERT_TRUE(app.getSystemDefaultFont(app.registerStockFont("bootmenu_comment"), comment));
    EXPECT_EQ(title.size, f.titleSize);
    EXPECT_EQ(title.weight, f.titleWeight);
    EXPECT_EQ(comment.size, f.commentSize);
    EXPECT_EQ(title.flags & 0x2800, 0x2800);
    EXPECT_EQ(comment.flags & 0x2800, 0x2800);
  }
  ::unsetenv("KV_WINDOWS_VERSION");
}

}  // namespace

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "core/resource_fixture.h"

namespace {

class HelpFileTest : public resource_test::Folder {
 protected:
  void SetUp() override {
    Folder::SetUp();
    ::mkdir(unix_path("tmp").c_str(), 0700);
    const std::string tmp = narrow_path("tmp") + "/";
    ::setenv("TMP", tmp.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TMP");
    Folder::TearDown();
  }
  std::string copy() const { return unix_path("tmp/help.chm"); }
  static bool exists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
  }
};

// The archive's help file is copied byte for byte into the temporary folder,
// becomes the application's help file, and is gone once the application is.
TEST_F(HelpFileTest, ExtractedForTheLifetimeOfTheApplication) {
  std::string body(200000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + (i >> 9));
  write("menu.dat", zip({{"help.chm", body}, {"other.txt", "x"}}));
  const std::u16string archive = path("menu.dat");
  Common::testing::setProgramArchivePath(archive.c_str());
  {
    FXKInstallMenuApp app;
    ASSERT_TRUE(exists(copy()));
    std::ifstream in(copy(), std::ios::binary);
    std::ostringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), body);
    std::u16string help = app.helpFile().text();
    std::replace(help.begin(), help.end(), u'\\', u'/');
    EXPECT_EQ(help, path("tmp") + u"/help.chm");
    EXPECT_TRUE(app.hasHelpViewer());  // a .chm file goes to the HTML help viewer
  }
  EXPECT_FALSE(exists(copy()));
}

TEST_F(HelpFileTest, NoMemberNoHelpFile) {
  write("menu.dat", zip({{"other.txt", "x"}}));
  const std::u16string archive = path("menu.dat");
  Common::testing::setProgramArchivePath(archive.c_str());
  FXKInstallMenuApp app;
  EXPECT_TRUE(app.helpFile().empty());
  EXPECT_FALSE(exists(copy()));
}

}  // namespace
