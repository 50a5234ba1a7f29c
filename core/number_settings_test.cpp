#include "core/number_settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32/testing/locale_testing.h"

namespace {

using Processor::NumberFormatWinOptions;
using Processor::NumberRecord;
using Processor::RefPtr;

std::u16string format(const NumberRecord& record, const char16_t* value) {
  WCHAR buf[64];
  const int n = GetNumberFormatW(0x0409, 0, value, record.get(), buf, 64);
  return n > 0 ? std::u16string(buf, n - 1) : u"<failed>";
}

std::u16string text(const Processor::String& s) { return std::u16string(s.getBuffer(), s.length()); }

// Every test starts and ends with the default en-US settings read in.
class NumberSettings : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    win32::set_user_locale_for_tests(0);
    NumberFormatWinOptions::instance()->reload();
  }
  static void change(LCTYPE type, const char16_t* value) {
    win32::set_user_locale_info_for_tests(type, value);
    NumberFormatWinOptions::instance()->reload();
  }
};

TEST_F(NumberSettings, ReadsTheUsersSettings) {
  const Processor::NumberSettings s = NumberFormatWinOptions::instance()->snapshot();
  EXPECT_TRUE(s.valid);
  EXPECT_EQ(s.grouping, 3u);
  EXPECT_EQ(s.leadingZero, 1u);
  EXPECT_EQ(text(s.decimalSeparator), u".");
  EXPECT_EQ(text(s.thousandsSeparator), u",");
  EXPECT_EQ(s.negativeNumberMode, 1u);
  EXPECT_EQ(s.fractionDigits, 2u);
  EXPECT_EQ(text(s.negativeSign), u"-");
  EXPECT_EQ(text(s.positiveSign), u"");
  EXPECT_EQ(text(s.nativeDigits), u"0123456789");
  EXPECT_EQ(s.negativeForm, 0u);
  EXPECT_EQ(s.language, 0x0409);

  win32::set_user_locale_for_tests(0x0407);
  NumberFormatWinOptions::instance()->reload();
  const Processor::NumberSettings de = NumberFormatWinOptions::instance()->snapshot();
  EXPECT_EQ(text(de.decimalSeparator), u",");
  EXPECT_EQ(text(de.thousandsSeparator), u".");
  EXPECT_EQ(de.language, 0x0407);
}

TEST_F(NumberSettings, NegativeModeAndGroupingTextsMap) {
  struct Case {
    LCTYPE type;
    const char16_t* value;
    bool valid;
    std::uint32_t form;
    std::uint32_t grouping;
  };
  const Case cases[] = {
      {LOCALE_INEGNUMBER, u"0", true, 2, 3},  // parentheses
      {LOCALE_INEGNUMBER, u"1", true, 0, 3},
      {LOCALE_INEGNUMBER, u"2", true, 0, 3},
      {LOCALE_INEGNUMBER, u"3", true, 1, 3},  // sign after
      {LOCALE_INEGNUMBER, u"4", true, 1, 3},
      {LOCALE_INEGNUMBER, u"5", false, 0, 3},
      {LOCALE_SGROUPING, u"3;2;0", true, 0, 32},
      {LOCALE_SGROUPING, u"2", true, 0, 2},
      {LOCALE_SGROUPING, u"4;0", true, 0, 3},
      {LOCALE_IDIGITS, u"x", false, 0, 3},
      {LOCALE_ILZERO, u"99999999999", false, 0, 3},  // beyond 31 bits
  };
  for (const Case& c : cases) {
    reset();
    change(c.type, c.value);
    const Processor::NumberSettings s = NumberFormatWinOptions::instance()->snapshot();
    EXPECT_EQ(s.valid, c.valid) << c.type << " " << std::string(c.value, c.value + 1);
    if (c.valid) { EXPECT_EQ(s.negativeForm, c.form) << c.type; }
    EXPECT_EQ(s.grouping, c.grouping) << c.type;
  }
}

TEST_F(NumberSettings, RecordsCarryTheSettingsAndTheirOwnTexts) {
  RefPtr<NumberFormatWinOptions> options = NumberFormatWinOptions::instance();
  const NumberRecord decimal = options->decimalRecord();
  EXPECT_EQ(decimal.get()->NumDigits, 2u);
  EXPECT_EQ(decimal.get()->LeadingZero, 1u);
  EXPECT_EQ(decimal.get()->Grouping, 3u);
  EXPECT_EQ(decimal.get()->NegativeOrder, 1u);
  EXPECT_EQ(format(decimal, u"-1234.5"), u"-1,234.50");
  const NumberRecord integer = options->integerRecord();
  EXPECT_EQ(integer.get()->NumDigits, 0u);
  EXPECT_EQ(format(integer, u"1234567"), u"1,234,567");

  // A reload changes later records, not the copies already taken.
  change(LOCALE_SDECIMAL, u"\u066b");
  change(LOCALE_INEGNUMBER, u"0");
  EXPECT_EQ(format(decimal, u"-1234.5"), u"-1,234.50");
  EXPECT_EQ(format(options->decimalRecord(), u"-1234.5"), u"(1,234\u066b50)");
}

TEST_F(NumberSettings, ASettingsBroadcastReachesTheNextFormatWithoutRestart) {
  ASSERT_NE(Processor::lcidControl, nullptr);
  ASSERT_TRUE(IsWindow(Processor::lcidControl->window()));
  EXPECT_EQ(format(Processor::lcidControl->settings()->decimalRecord(), u"1234.5"), u"1,234.50");

  // The user changes the settings; nothing is read until the system says so.
  win32::set_user_locale_info_for_tests(LOCALE_SDECIMAL, u",");
  win32::set_user_locale_info_for_tests(LOCALE_STHOUSAND, u".");
  EXPECT_EQ(format(Processor::lcidControl->settings()->decimalRecord(), u"1234.5"), u"1,234.50");
  static const char16_t intl[] = u"intl";
  SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(intl));
  EXPECT_EQ(format(Processor::lcidControl->settings()->decimalRecord(), u"1234.5"), u"1.234,50");

  // A posted broadcast waits in the queue until the next request takes it.
  win32::set_user_locale_info_for_tests(LOCALE_STHOUSAND, u"'");
  ASSERT_TRUE(PostMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(intl)));
  EXPECT_EQ(format(Processor::lcidControl->settings()->decimalRecord(), u"1234.5"), u"1'234,50");
}

// Formatting threads copy records while another thread keeps reloading
// settings whose texts change length: a copy never points into freed texts.
TEST_F(NumberSettings, RecordsStaySoundWhileAnotherThreadReloads) {
  static const char16_t long_decimal[] = u"<decimal separator long enough to move>";
  const std::u16string with_long = u"1,234" + std::u16string(long_decimal) + u"50";
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, done{0};
  std::vector<std::thread> formatters;
  for (int t = 0; t < 4; ++t) {
    formatters.emplace_back([&] {
      RefPtr<NumberFormatWinOptions> options = NumberFormatWinOptions::instance();
      while (!stop) {
        const std::u16string out = format(options->decimalRecord(), u"1234.5");
        if (out != u"1,234.50" && out != with_long) ++bad;
        ++done;
      }
    });
  }
  RefPtr<NumberFormatWinOptions> options = NumberFormatWinOptions::instance();
  for (int i = 0; i < 400 || done < 400; ++i) {
    win32::set_user_locale_info_for_tests(LOCALE_SDECIMAL, i % 2 ? long_decimal : nullptr);
    options->reload();
  }
  stop = true;
  for (auto& t : formatters) t.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
