#include "msi/model/text.h"

#include <gtest/gtest.h>

#include <climits>

#include "msi/model/error.h"

namespace {

TEST(MsiText, ToStringWritesAsItowDoes) {
  struct Case {
    std::int32_t value;
    int radix;
    const char16_t* text;
  } cases[] = {{0, 10, u"0"},          {123, 10, u"123"},        {-12, 10, u"-12"},
               {INT_MIN, 10, u"-2147483648"}, {255, 16, u"ff"},  {-1, 16, u"ffffffff"},
               {5, 2, u"101"},         {35, 36, u"z"},           {-2, 2, u"11111111111111111111111111111110"}};
  for (const Case& c : cases) EXPECT_EQ(Msi::toString(c.value, c.radix), c.text) << c.value << " " << c.radix;
}

TEST(MsiText, CaseMappings) {
  EXPECT_EQ(Msi::toUpper(u"abc{12-ef}xyz"), u"ABC{12-EF}XYZ");
  EXPECT_EQ(Msi::toLower(u"ABC-Zz_09"), u"abc-zz_09");
  EXPECT_EQ(Msi::toLower(u"\u00C4\u0130"), u"\u00C4\u0130") << "only A-Z change";
}

TEST(MsiText, NumbersAreDigitsAndMinusSigns) {
  for (const char16_t* yes : {u"0", u"-12", u"12-", u"--", u"-"}) EXPECT_TRUE(Msi::isNumber(yes));
  for (const char16_t* no : {u"", u" 5", u"5 ", u"+5", u"1.5", u"x"}) EXPECT_FALSE(Msi::isNumber(no));
  struct Case {
    const char16_t* text;
    std::int32_t value;
  } cases[] = {{u"-12", -12}, {u"42", 42}, {u"1-2", 1}, {u"--1", 0}, {u"-", 0},
               {u"2147483647", INT_MAX}, {u"-2147483648", INT_MIN}, {u"99999999999", INT_MAX}};
  for (const Case& c : cases) EXPECT_EQ(Msi::toInt(c.text), c.value);
  for (const char16_t* bad : {u"", u" 5", u"5x"}) {
    try {
      Msi::toInt(bad);
      ADD_FAILURE() << "no error";
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.code(), 5u);
      EXPECT_EQ(e.module(), 0x5058087bu);
    }
  }
}

TEST(MsiText, SystemErrorTextsLoseTheirLineBreak) {
  EXPECT_EQ(Msi::systemErrorText(0), u"The operation completed successfully.");
  EXPECT_EQ(Msi::systemErrorText(1628), u"Invalid or unknown table specified.");
  EXPECT_EQ(Msi::systemErrorText(0x7FFF1234u), u"");
}

}  // namespace
