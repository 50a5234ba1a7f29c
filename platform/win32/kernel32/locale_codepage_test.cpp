#include <gtest/gtest.h>

#include <string>

#include "platform/win32/windows.h"

namespace {

// Each language's default ANSI code page, as Windows answers it.
TEST(LocaleCodePage, EachLanguageHasItsOwnAnsiCodePage) {
  const struct {
    LCID lcid;
    const char16_t* page;
  } cases[] = {
      {1033, u"1252"}, {1031, u"1252"}, {1041, u"932"},  {1049, u"1251"}, {2052, u"936"},  {1028, u"950"},
      {3076, u"950"},  {1042, u"949"},  {1032, u"1253"}, {1055, u"1254"}, {1037, u"1255"}, {1025, u"1256"},
      {1045, u"1250"}, {1029, u"1250"}, {1061, u"1257"}, {1054, u"874"},  {1066, u"1258"}, {2074, u"1250"},
      {3098, u"1251"}, {1081, u"0"},
  };
  for (const auto& c : cases) {
    WCHAR buf[16] = {};
    ASSERT_GT(GetLocaleInfoW(c.lcid, LOCALE_IDEFAULTANSICODEPAGE, buf, 16), 0) << c.lcid;
    EXPECT_EQ(std::u16string(buf), c.page) << c.lcid;
  }
}

}  // namespace
