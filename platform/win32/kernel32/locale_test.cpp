#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/win32/testing/locale_testing.h"
#include "platform/win32/windows.h"

namespace {

TEST(CharUpperBuff, UpperCasesAsciiAndBeyondInPlaceAndOnlyTheCountGiven) {
  std::u16string s = u"abc-z\u00e9\u00df\u0101\u03c9\u0430\u0101xyz";
  EXPECT_EQ(CharUpperBuffW(s.data(), 11), 11u);
  // U+00DF has no one-unit upper case and stays; past the count nothing changes.
  EXPECT_EQ(s, u"ABC-Z\u00c9\u00df\u0100\u03a9\u0410\u0100xyz");
  EXPECT_EQ(CharUpperBuffW(nullptr, 3), 0u);
}

TEST(CompareString, OrdersByUnitWithOrWithoutCaseAndHonoursCounts) {
  struct Case {
    DWORD flags;
    const char16_t* a;
    int na;
    const char16_t* b;
    int nb;
    int expected;
  };
  const Case cases[] = {
      {NORM_IGNORECASE, u"Readme.TXT", -1, u"readme.txt", -1, CSTR_EQUAL},
      {0, u"Readme.TXT", -1, u"readme.txt", -1, CSTR_LESS_THAN},
      {NORM_IGNORECASE, u"abc", -1, u"abd", -1, CSTR_LESS_THAN},
      {NORM_IGNORECASE, u"abd", -1, u"ABC", -1, CSTR_GREATER_THAN},
      {NORM_IGNORECASE, u"ab", -1, u"abc", -1, CSTR_LESS_THAN},  // a prefix sorts first
      {NORM_IGNORECASE, u"abc", -1, u"AB", -1, CSTR_GREATER_THAN},
      {NORM_IGNORECASE, u"", -1, u"", -1, CSTR_EQUAL},
      {NORM_IGNORECASE, u"", 0, u"x", 0, CSTR_EQUAL},
      {NORM_IGNORECASE, u"abcX", 3, u"ABCy", 3, CSTR_EQUAL},  // counts stop early
      {NORM_IGNORECASE, u"abc", 2, u"ABC", -1, CSTR_LESS_THAN},
      {NORM_IGNORECASE, u"abc", -5, u"ABC", 3, CSTR_EQUAL},  // any negative count: up to the NUL
      {NORM_IGNORECASE, u"\u00e9t\u00e9", -1, u"\u00c9T\u00c9", -1, CSTR_EQUAL},
      {NORM_IGNORECASE, u"\u0430", -1, u"\u0411", -1, CSTR_LESS_THAN},
      {NORM_IGNORECASE, u"_", -1, u"a", -1, CSTR_GREATER_THAN},  // folds to upper case: 0x5F against 0x41
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_SYSTEM_DEFAULT, c.flags, c.a, c.na, c.b, c.nb), c.expected)
        << std::string(c.a, c.a + std::char_traits<char16_t>::length(c.a)) << " / "
        << std::string(c.b, c.b + std::char_traits<char16_t>::length(c.b));
  }
}

TEST(CompareString, RefusesNullTextsAndUnknownFlags) {
  struct Case {
    DWORD flags;
    const char16_t* a;
    const char16_t* b;
    DWORD error;
  };
  const Case cases[] = {
      {NORM_IGNORECASE, nullptr, u"a", ERROR_INVALID_PARAMETER},
      {NORM_IGNORECASE, u"a", nullptr, ERROR_INVALID_PARAMETER},
      {0x80000000u, u"a", u"a", ERROR_INVALID_FLAGS},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_SYSTEM_DEFAULT, c.flags, c.a, -1, c.b, -1), 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

// Sets TZ for one test and puts the old one back.
class TimeZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    if (tz) old_tz_ = tz;
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", old_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    win32::set_time_zone_for_tests(nullptr);
  }
  static bool use_zone(const char* name) {
    struct stat st;
    if (std::string(name) != "UTC" && stat((std::string("/usr/share/zoneinfo/") + name).c_str(), &st) != 0)
      return false;
    setenv("TZ", name, 1);
    tzset();
    return true;
  }
  static bool daylight_now() {
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    return t.tm_isdst > 0;
  }

 private:
  bool had_tz_ = false;
  std::string old_tz_;
};

std::u16string name(const WCHAR (&n)[32]) { return n; }

TEST_F(TimeZone, ZonesWithoutDaylightTimeAnswerUnknownWithTheirOffset) {
  struct Case {
    const char* zone;
    LONG bias;
  };
  for (const Case& c : {Case{"UTC", 0}, Case{"Asia/Kolkata", -330}, Case{"Asia/Tokyo", -540}}) {
    if (!use_zone(c.zone)) continue;
    TIME_ZONE_INFORMATION tzi;
    std::memset(&tzi, 0xCC, sizeof tzi);
    EXPECT_EQ(GetTimeZoneInformation(&tzi), DWORD{TIME_ZONE_ID_UNKNOWN}) << c.zone;
    EXPECT_EQ(tzi.Bias, c.bias) << c.zone;
    EXPECT_EQ(tzi.StandardBias, 0);
    EXPECT_EQ(tzi.DaylightBias, 0);
    EXPECT_EQ(tzi.StandardDate.wMonth, 0);
    EXPECT_EQ(tzi.DaylightDate.wMonth, 0);
  }
  ASSERT_TRUE(use_zone("UTC"));
  TIME_ZONE_INFORMATION tzi{};
  GetTimeZoneInformation(&tzi);
  EXPECT_EQ(name(tzi.StandardName), u"UTC");
}

TEST_F(TimeZone, DaylightZonesGiveBiasesRulesAndTheCurrentPeriod) {
  struct Rule {
    WORD month, day, hour;
  };
  struct Case {
    const char* zone;
    LONG bias;
    Rule into_daylight, into_standard;
    const char16_t* standard_name;
    const char16_t* daylight_name;
  };
  const Case cases[] = {
      {"Europe/Berlin", -60, {3, 5, 2}, {10, 5, 3}, u"CET", u"CEST"},
      {"America/New_York", 300, {3, 2, 2}, {11, 1, 2}, u"EST", u"EDT"},
      {"Australia/Sydney", -600, {10, 1, 2}, {4, 1, 3}, u"AEST", u"AEDT"},  // southern: starts late in the year
  };
  int tried = 0;
  for (const Case& c : cases) {
    if (!use_zone(c.zone)) continue;
    ++tried;
    TIME_ZONE_INFORMATION tzi{};
    const DWORD id = GetTimeZoneInformation(&tzi);
    EXPECT_EQ(id, daylight_now() ? DWORD{TIME_ZONE_ID_DAYLIGHT} : DWORD{TIME_ZONE_ID_STANDARD}) << c.zone;
    EXPECT_EQ(tzi.Bias, c.bias) << c.zone;
    EXPECT_EQ(tzi.StandardBias, 0);
    EXPECT_EQ(tzi.DaylightBias, -60) << c.zone;
    const auto check = [&](const SYSTEMTIME& st, const Rule& r) {
      EXPECT_EQ(st.wYear, 0) << c.zone;
      EXPECT_EQ(st.wMonth, r.month) << c.zone;
      EXPECT_EQ(st.wDayOfWeek, 0) << c.zone;  // Sunday
      EXPECT_EQ(st.wDay, r.day) << c.zone;
      EXPECT_EQ(st.wHour, r.hour) << c.zone;
      EXPECT_EQ(st.wMinute, 0) << c.zone;
    };
    check(tzi.DaylightDate, c.into_daylight);
    check(tzi.StandardDate, c.into_standard);
    EXPECT_EQ(name(tzi.StandardName), c.standard_name);
    EXPECT_EQ(name(tzi.DaylightName), c.daylight_name);
  }
  if (!tried) GTEST_SKIP() << "no zone data";
}

TEST_F(TimeZone, TestsCanSetTheAnswerAndReturnToTheProcessZone) {
  ASSERT_TRUE(use_zone("UTC"));
  TIME_ZONE_INFORMATION set{};
  set.Bias = -570;
  set.DaylightBias = -30;
  set.DaylightDate.wMonth = 10;
  set.StandardDate.wMonth = 4;
  win32::set_time_zone_for_tests(&set, TIME_ZONE_ID_DAYLIGHT);
  TIME_ZONE_INFORMATION got{};
  EXPECT_EQ(GetTimeZoneInformation(&got), DWORD{TIME_ZONE_ID_DAYLIGHT});
  EXPECT_EQ(got.Bias, -570);
  EXPECT_EQ(got.DaylightBias, -30);
  EXPECT_EQ(got.DaylightDate.wMonth, 10);
  win32::set_time_zone_for_tests(nullptr);
  EXPECT_EQ(GetTimeZoneInformation(&got), DWORD{TIME_ZONE_ID_UNKNOWN});
  EXPECT_EQ(got.Bias, 0);
  SetLastError(0);
  EXPECT_EQ(GetTimeZoneInformation(nullptr), TIME_ZONE_ID_INVALID);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

TEST(WorkingSet, SetIsRecordedAndCheckedAndGetAnswersIt) {
  SIZE_T lo = 0, hi = 0;
  ASSERT_TRUE(GetProcessWorkingSetSize(GetCurrentProcess(), &lo, &hi));
  EXPECT_GT(lo, 0u);
  EXPECT_GE(hi, lo);
  ASSERT_TRUE(SetProcessWorkingSetSize(GetCurrentProcess(), lo + 65536, hi + 65536));
  SIZE_T lo2 = 0, hi2 = 0;
  ASSERT_TRUE(GetProcessWorkingSetSize(GetCurrentProcess(), &lo2, &hi2));
  EXPECT_EQ(lo2, lo + 65536);
  EXPECT_EQ(hi2, hi + 65536);

  SetLastError(0);
  EXPECT_FALSE(SetProcessWorkingSetSize(GetCurrentProcess(), hi2 + 1, hi2));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  SetLastError(0);
  EXPECT_FALSE(GetProcessWorkingSetSize(nullptr, &lo, &hi));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  EXPECT_FALSE(GetProcessWorkingSetSize(GetCurrentProcess(), nullptr, &hi));
  EXPECT_TRUE(SetProcessWorkingSetSize(GetCurrentProcess(), lo, hi));
}

}  // namespace
