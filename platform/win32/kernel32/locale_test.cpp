#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

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

TEST(CompareString, OrdersLinguisticallyWithOrWithoutCaseAndHonoursCounts) {
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
      {0, u"Readme.TXT", -1, u"readme.txt", -1, CSTR_GREATER_THAN},  // the same letters: upper case after
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
      {NORM_IGNORECASE, u"_", -1, u"a", -1, CSTR_LESS_THAN},  // punctuation before letters
      // Windows' answers where a comparison by unit differs.
      {0, u"a-b", -1, u"ab", -1, CSTR_EQUAL},
      {0, u"co-op", -1, u"coop", -1, CSTR_EQUAL},
      {NORM_IGNORECASE, u"CO-OP", -1, u"coop", -1, CSTR_EQUAL},
      {0, u"can't", -1, u"cant", -1, CSTR_EQUAL},
      {SORT_STRINGSORT, u"co-op", -1, u"coop", -1, CSTR_LESS_THAN},  // the hyphen counts, before letters
      {SORT_STRINGSORT, u"a-b", -1, u"ab", -1, CSTR_LESS_THAN},
      {SORT_STRINGSORT | NORM_IGNORECASE, u"A-B", -1, u"a-b", -1, CSTR_EQUAL},
      {0, u"a_b", -1, u"ab", -1, CSTR_LESS_THAN},  // other punctuation counts in the word sort too
      {0, u"a b", -1, u"ab", -1, CSTR_LESS_THAN},
      {0, u"a", -1, u"A", -1, CSTR_LESS_THAN},
      {0, u"A", -1, u"b", -1, CSTR_LESS_THAN},  // letters first, case after
      {0, u"Z", -1, u"a", -1, CSTR_GREATER_THAN},
      {NORM_IGNORECASE, u"stra\u00dfe", -1, u"STRASSE", -1, CSTR_EQUAL},
      {0, u"stra\u00dfe", -1, u"strasse", -1, CSTR_GREATER_THAN},
      {NORM_IGNORECASE, u"\u00e9", -1, u"e", -1, CSTR_GREATER_THAN},  // accents still count
      {NORM_IGNORECASE, u"\u00e9a", -1, u"eb", -1, CSTR_LESS_THAN},   // but only after the letters
      {0, u"\u00c4pfel", -1, u"Birnen", -1, CSTR_LESS_THAN},         // \u00c4 with the A's, not after Z
      {0, u"file10", -1, u"file9", -1, CSTR_LESS_THAN},               // digits one by one
      {0, u"1", -1, u"a", -1, CSTR_LESS_THAN},
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
      {NORM_IGNORECASE | 0x00000002u, u"a", u"a", ERROR_INVALID_FLAGS},  // NORM_IGNORENONSPACE: not served
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_SYSTEM_DEFAULT, c.flags, c.a, -1, c.b, -1), 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
  SetLastError(0);
  EXPECT_EQ(CompareStringW(0x7FFF, 0, u"a", -1, u"a", -1), 0);  // no such locale
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

// Each locale sorts with its own rules.
TEST(CompareString, FollowsTheLocale) {
  constexpr LCID kSwedish = 0x041D, kGerman = 0x0407, kEnglish = 0x0409;
  // Swedish puts \u00e4 after z; German and English keep it with a.
  EXPECT_EQ(CompareStringW(kSwedish, 0, u"\u00e4", -1, u"z", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringW(kGerman, 0, u"\u00e4", -1, u"z", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringW(kEnglish, 0, u"\u00e4", -1, u"z", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringW(LOCALE_INVARIANT, 0, u"co-op", -1, u"coop", -1), CSTR_EQUAL);
  // The same answers again on another thread, which builds its own collators.
  int swedish = 0, german = 0;
  std::thread([&] {
    swedish = CompareStringW(kSwedish, 0, u"\u00e4", -1, u"z", -1);
    german = CompareStringW(kGerman, 0, u"\u00e4", -1, u"z", -1);
  }).join();
  EXPECT_EQ(swedish, CSTR_GREATER_THAN);
  EXPECT_EQ(german, CSTR_LESS_THAN);

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
