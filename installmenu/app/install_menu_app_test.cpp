#include "installmenu/app/install_menu_app.h"

#include <gtest/gtest.h>

#include "platform/win32/test_world.h"

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
