#include "files/win32_calls.h"

#include <gtest/gtest.h>

#include "platform/win32/testing/locale_testing.h"

namespace {

struct ZoneReset {
  ~ZoneReset() { win32::set_time_zone_for_tests(nullptr); }
};

TEST(Win32Calls, TimeZoneBiasAddsThePeriodsBiasNamedByTheAnswer) {
  ZoneReset reset;
  TIME_ZONE_INFORMATION tzi{};
  tzi.Bias = -60;
  tzi.StandardBias = 0;
  tzi.DaylightBias = -60;
  tzi.StandardDate.wMonth = 10;
  tzi.DaylightDate.wMonth = 3;
  struct Case {
    DWORD id;
    LONG bias;
  };
  for (const Case& c : {Case{TIME_ZONE_ID_UNKNOWN, -60}, Case{TIME_ZONE_ID_STANDARD, -60},
                        Case{TIME_ZONE_ID_DAYLIGHT, -120}, Case{TIME_ZONE_ID_INVALID, 0}}) {
    win32::set_time_zone_for_tests(&tzi, c.id);
    EXPECT_EQ(win32_calls::time_zone_bias(), c.bias) << c.id;
  }
}

TEST(Win32Calls, NamesCompareAndUpperCaseWithoutRegardToCase) {
  EXPECT_EQ(win32_calls::compare_ignore_case(u"Readme.txt", u"README.TXT"), CSTR_EQUAL);
  EXPECT_EQ(win32_calls::compare_ignore_case(u"a", u"B"), CSTR_LESS_THAN);
  EXPECT_EQ(win32_calls::compare_ignore_case(u"ab", u"A"), CSTR_GREATER_THAN);
  char16_t name[] = u"fi\u00e9le";
  win32_calls::upper(name, 3);
  EXPECT_EQ(std::u16string(name), u"FI\u00c9le");
}

TEST(Win32Calls, RaisingTheWorkingSetGrowsBothLimits) {
  SIZE_T lo = 0, hi = 0;
  ASSERT_TRUE(GetProcessWorkingSetSize(GetCurrentProcess(), &lo, &hi));
  ASSERT_TRUE(win32_calls::raise_working_set(1 << 20));
  SIZE_T lo2 = 0, hi2 = 0;
  ASSERT_TRUE(GetProcessWorkingSetSize(GetCurrentProcess(), &lo2, &hi2));
  EXPECT_EQ(lo2, lo + (1 << 20));
  EXPECT_EQ(hi2, hi + (1 << 20));
  SetProcessWorkingSetSize(GetCurrentProcess(), lo, hi);
}

}  // namespace
