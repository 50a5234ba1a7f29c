#include "core/number_format.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/values_fixture.h"

namespace {

using Processor::NumberFormat;
using Processor::String;
using Processor::Variant;
using values_test::utf8;

class NumberFormats : public values_test::Values {
 protected:
  static std::string text(NumberFormat& f, const Variant& v, int minimumDigits = 0) {
    String out(u"old");
    const int n = f.format(out, v, minimumDigits);
    EXPECT_EQ(n, out.length());
    return utf8(out);
  }
};

TEST_F(NumberFormats, HexadecimalAndPlainDigits) {
  std::unique_ptr<NumberFormat> hex(NumberFormat::create(1));
  EXPECT_EQ(text(*hex, Variant(255)), "FF");
  EXPECT_EQ(text(*hex, Variant(255), 4), "00FF");
  EXPECT_EQ(text(*hex, Variant(-1)), "FFFFFFFF");
  EXPECT_EQ(text(*hex, Variant(-1LL)), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(text(*hex, Variant(0ULL)), "0");
  EXPECT_EQ(text(*hex, Variant(1.5)), "");
  EXPECT_EQ(text(*hex, Variant(u"12")), "");
  std::unique_ptr<NumberFormat> dec(NumberFormat::create(2));
  EXPECT_EQ(text(*dec, Variant(4294967295u)), "4294967295");
  EXPECT_EQ(text(*dec, Variant(-1)), "4294967295");
  EXPECT_EQ(text(*dec, Variant(18446744073709551615ULL)), "18446744073709551615");
  EXPECT_EQ(text(*dec, Variant(7), 40), std::string(32, '0') + "7");  // bounded by 33 units
  char16_t buf[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(hex->formatBuffer(buf, 3, Variant(0x12345), 0), 3);
  EXPECT_EQ(std::u16string(buf, 4), u"123#");
}

TEST_F(NumberFormats, ReadingPlainDigits) {
  std::unique_ptr<NumberFormat> dec(NumberFormat::create(2));
  struct Case {
    const char16_t* text;
    double value;
    int stop;
  };
  const Case cases[] = {{u"0x1F", 31, 4},  {u"-12ab", -12, 3}, {u" 12", 0, 0}, {u"12:30", 12, 2},
                        {u"+-1", 0, 1},    {u"0X1f", 31, 4},   {u"00x1", 0, 2}, {u"x1", 0, 0},
                        {u"0", 0, 1},      {u"18446744073709551615", 18446744073709551615.0, 20}};
  for (const Case& c : cases) {
    int stop = -5;
    EXPECT_EQ(dec->parse(String(c.text), &stop), c.value) << utf8(String(c.text));
    EXPECT_EQ(stop, c.stop) << utf8(String(c.text));
  }
  std::unique_ptr<NumberFormat> hex(NumberFormat::create(1));
  int stop = 0;
  EXPECT_EQ(hex->parse(String(u"ffz"), &stop), 255);
  EXPECT_EQ(stop, 2);
}

TEST_F(NumberFormats, LocaleFormatting) {
  std::unique_ptr<NumberFormat> f(NumberFormat::create(0));
  EXPECT_EQ(text(*f, Variant(1234.5)), "1,234.50");
  EXPECT_EQ(text(*f, Variant(3.0)), "3");
  EXPECT_EQ(text(*f, Variant(-1234)), "-1,234");
  EXPECT_EQ(text(*f, Variant(-2147483647 - 1)), "-2,147,483,648");
  EXPECT_EQ(text(*f, Variant(-5LL)), "-5");
  EXPECT_EQ(text(*f, Variant(18446744073709551615ULL)), "18,446,744,073,709,551,615");
  EXPECT_EQ(text(*f, Variant(0.125)), "0.13");
  EXPECT_EQ(text(*f, Variant(42), 5), "00042");
  EXPECT_EQ(text(*f, Variant(u"1")), "");
  EXPECT_EQ(text(*f, Variant(1e300)), "");  // longer than the print buffer
  f->setFractionDigits(0);
  EXPECT_EQ(text(*f, Variant(1234.5)), "1,235");
  f->setFractionDigits(3);
  EXPECT_EQ(text(*f, Variant(1234.5)), "1,234.500");
}

TEST_F(NumberFormats, LocaleReading) {
  std::unique_ptr<NumberFormat> f(NumberFormat::create(0));
  struct Case {
    const char16_t* text;
    double value;
    int stop;
  };
  const Case cases[] = {{u"1,234.50 kg", 1234.5, 8}, {u"-12", -12, 3},  {u"abc", 0, 0},
                        {u"7", 7, 1},                {u".5", 0.5, 2},   {u"3.", 3, 2},
                        {u"12345678901234", 12345678901234.0, 14}};
  for (const Case& c : cases) {
    int stop = -5;
    EXPECT_EQ(f->parse(String(c.text), &stop), c.value) << utf8(String(c.text));
    EXPECT_EQ(stop, c.stop) << utf8(String(c.text));
  }
}

TEST_F(NumberFormats, OtherLocaleSeparatorsAndNegativeForms) {
  win32::set_user_locale_for_tests(0x0407);  // German (Germany)
  settingsChanged();
  std::unique_ptr<NumberFormat> f(NumberFormat::create(0));
  EXPECT_EQ(text(*f, Variant(1234.5)), "1.234,50");
  int stop = 0;
  EXPECT_EQ(f->parse(String(u"1.234,5"), &stop), 1234.5);
  EXPECT_EQ(stop, 7);

  // Every negative form the formatter writes reads back.
  win32::set_user_locale_for_tests(0);
  settingsChanged();
  const struct {
    const char16_t* mode;
    const char* written;
  } forms[] = {{u"0", "(1,234.50)"}, {u"1", "-1,234.50"}, {u"2", "- 1,234.50"}, {u"3", "1,234.50-"},
               {u"4", "1,234.50 -"}};
  for (const auto& form : forms) {
    win32::set_user_locale_info_for_tests(LOCALE_INEGNUMBER, form.mode);
    settingsChanged();
    const std::string written = text(*f, Variant(-1234.5));
    EXPECT_EQ(written, form.written);
    const String back = String::fromUTF8(written);
    stop = 0;
    EXPECT_EQ(f->parse(back, &stop), -1234.5) << written;
    EXPECT_EQ(stop, back.length()) << written;
  }
}

TEST_F(NumberFormats, ASettingsChangeReachesTheNextFormat) {
  EXPECT_EQ(fmt(u"{0} / {1,size}", 1234.5, 1536), "1,234.50 / 1.500 KB");
  win32::set_user_locale_info_for_tests(LOCALE_SDECIMAL, u",");
  win32::set_user_locale_info_for_tests(LOCALE_STHOUSAND, u" ");
  EXPECT_EQ(fmt(u"{0}", 1234.5), "1,234.50");  // not read until the system says so
  settingsChanged();
  EXPECT_EQ(fmt(u"{0} / {1,size}", 1234.5, 1536), "1 234,50 / 1,500 KB");
  std::unique_ptr<NumberFormat> f(NumberFormat::create(0));
  EXPECT_EQ(f->parse(String(u"1 234,5"), nullptr), 1234.5);
}

TEST_F(NumberFormats, IcuPatterns) {
  std::unique_ptr<NumberFormat> f(NumberFormat::createICU(String(u"#,##0.00")));
  EXPECT_EQ(text(*f, Variant(1234.5)), "1,234.50");
  EXPECT_EQ(text(*f, Variant(-7)), "-7.00");
  EXPECT_EQ(text(*f, Variant(4000000000u)), "4,000,000,000.00");
  EXPECT_EQ(text(*f, Variant(-5LL), 3), "18446744073709551611");  // radix-10 digits, not the pattern
  EXPECT_EQ(text(*f, Variant(true)), "");
  int stop = 0;
  EXPECT_EQ(f->parse(String(u"1,234.5x"), &stop), 1234.5);
  EXPECT_EQ(stop, 7);
  f->setFractionDigits(0);
  EXPECT_EQ(text(*f, Variant(2.5)), "2");  // ICU rounds half to even
  char16_t buf[6];
  EXPECT_EQ(f->formatBuffer(buf, 6, Variant(12345), 0), 6);
  EXPECT_EQ(std::u16string(buf, 6), u"12,345");
}

}  // namespace
