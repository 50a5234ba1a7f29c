#include <gtest/gtest.h>

#include <string>

#include "platform/win32/kernel32/ansi_locale.h"
#include "platform/win32/windows.h"

namespace {

constexpr LCID kRomanian = 0x0418;

// The ANSI answers go through the ANSI code page (1252) with Windows' best
// fit: Romanian a with breve, which 1252 lacks, becomes a plain a.
TEST(AnsiLocale, TextsOutside1252TakeTheBestFit) {
  char buf[64] = {};
  ASSERT_GT(GetLocaleInfoA(kRomanian, LOCALE_SDAYNAME7, buf, sizeof buf), 0);
  EXPECT_EQ(std::string(buf), "duminica");
  EXPECT_EQ(GetLocaleInfoA(kRomanian, LOCALE_SDAYNAME7, nullptr, 0), 9);

  const SYSTEMTIME sunday{2024, 3, 0, 31, 0, 0, 0, 0};
  ASSERT_GT(GetDateFormatA(kRomanian, 0, &sunday, "dddd", buf, sizeof buf), 0);
  EXPECT_EQ(std::string(buf), "duminica");
  // German names are all in 1252 and come through exactly.
  ASSERT_GT(GetDateFormatA(0x0407, 0, &sunday, "ddd, d. MMM", buf, sizeof buf), 0);
  EXPECT_EQ(std::string(buf), "So, 31. M\xE4r");
}

}  // namespace
