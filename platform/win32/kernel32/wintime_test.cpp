#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/win32/windows.h"
#include "platform/win32/testing/wintime_testing.h"

namespace {
ULONGLONG ft64(const FILETIME& ft) { return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
FILETIME ft_of(ULONGLONG v) { return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }

struct TickReset {
  ~TickReset() { win32::set_tick_offset(0); }
};
}  // namespace

TEST(Ticks, TheThirtyTwoBitCountWrapsWhileTheWideOneGoesOn) {
  TickReset reset;
  win32::set_tick_count(0xFFFFFFFFu - 10);
  DWORD before = GetTickCount();
  ULONGLONG before64 = GetTickCount64();
  EXPECT_GE(before, 0xFFFFFFFFu - 10);
  Sleep(40);
  DWORD after = GetTickCount();
  ULONGLONG after64 = GetTickCount64();
  EXPECT_LT(after, before);                      // wrapped
  EXPECT_GE(static_cast<DWORD>(after - before), 40u);  // unsigned difference still right
  EXPECT_LT(static_cast<DWORD>(after - before), 60000u);
  EXPECT_GT(after64, before64);
  EXPECT_EQ(static_cast<DWORD>(after64), static_cast<DWORD>(GetTickCount64() - (GetTickCount64() - after64)));
}

TEST(Ticks, OffsetMovesBothCounts) {
  TickReset reset;
  ULONGLONG real = GetTickCount64();
  win32::set_tick_offset(1000000);
  ULONGLONG moved = GetTickCount64();
  EXPECT_GE(moved - real, 1000000u);
  EXPECT_LT(moved - real, 1060000u);
  EXPECT_EQ(GetTickCount() - static_cast<DWORD>(moved) < 60000u, true);
}

TEST(Clocks, PerformanceCounterIsMonotonicAtTenMegahertz) {
  LARGE_INTEGER f, a, b;
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f.QuadPart, 10000000);
  QueryPerformanceCounter(&a);
  Sleep(5);
  QueryPerformanceCounter(&b);
  EXPECT_GE(b.QuadPart - a.QuadPart, 5 * 10000);
}

TEST(Clocks, SystemTimeAgreesWithTheRealtimeClock) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  std::time_t now = std::time(nullptr);
  LONGLONG unix_from_ft = static_cast<LONGLONG>((ft64(ft) - 116444736000000000ULL) / 10000000ULL);
  EXPECT_LE(std::llabs(unix_from_ft - now), 2);

  SYSTEMTIME st;
  GetSystemTime(&st);
  FILETIME back;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
  LONGLONG apart = static_cast<LONGLONG>(ft64(back)) - static_cast<LONGLONG>(ft64(ft));
  EXPECT_LT(std::llabs(apart), 20000000);  // within two seconds
}

TEST(Clocks, LocalTimeFollowsTheProcessZone) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "XYZ-5", 1);  // five hours east of UTC, no daylight time
  tzset();
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  GetLocalTime(&local);
  FILETIME fu, fl;
  SystemTimeToFileTime(&utc, &fu);
  SystemTimeToFileTime(&local, &fl);
  LONGLONG diff_s = (static_cast<LONGLONG>(ft64(fl)) - static_cast<LONGLONG>(ft64(fu))) / 10000000;
  EXPECT_NEAR(static_cast<double>(diff_s), 5 * 3600.0, 2.0);
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

TEST(TimeConversion, KnownInstantsBothWays) {
  struct Case {
    ULONGLONG ft;
    SYSTEMTIME st;  // year, month, weekday, day, h, m, s, ms
  } cases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {116444736000000000ULL, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {125911584000000000ULL, {2000, 1, 6, 1, 0, 0, 0, 0}},
      {125963012967890000ULL, {2000, 2, 2, 29, 12, 34, 56, 789}},
      {128790414990000000ULL, {2009, 2, 5, 13, 23, 31, 39, 0}},
      {137919572480000000ULL, {2038, 1, 2, 19, 3, 14, 8, 0}},
      {0x7FFF35F4F06C58F0ULL, {30827, 12, 5, 31, 23, 59, 59, 999}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.st.wYear << "-" << c.st.wMonth << "-" << c.st.wDay);
    FILETIME ft = ft_of(c.ft);
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, c.st.wYear);
    EXPECT_EQ(st.wMonth, c.st.wMonth);
    EXPECT_EQ(st.wDayOfWeek, c.st.wDayOfWeek);
    EXPECT_EQ(st.wDay, c.st.wDay);
    EXPECT_EQ(st.wHour, c.st.wHour);
    EXPECT_EQ(st.wMinute, c.st.wMinute);
    EXPECT_EQ(st.wSecond, c.st.wSecond);
    EXPECT_EQ(st.wMilliseconds, c.st.wMilliseconds);
    SYSTEMTIME in = c.st;
    in.wDayOfWeek = 6;  // ignored on input
    FILETIME back{};
    ASSERT_TRUE(SystemTimeToFileTime(&in, &back));
    EXPECT_EQ(ft64(back), c.ft);
  }
}

TEST(TimeConversion, OutOfRangeValuesFail) {
  SYSTEMTIME bad[] = {
      {1600, 12, 0, 31, 0, 0, 0, 0}, {30828, 1, 0, 1, 0, 0, 0, 0}, {2000, 0, 0, 1, 0, 0, 0, 0},
      {2000, 13, 0, 1, 0, 0, 0, 0},  {1900, 2, 0, 29, 0, 0, 0, 0},  {2001, 4, 0, 31, 0, 0, 0, 0},
      {2000, 1, 0, 0, 0, 0, 0, 0},   {2000, 1, 0, 1, 24, 0, 0, 0},  {2000, 1, 0, 1, 0, 60, 0, 0},
      {2000, 1, 0, 1, 0, 0, 60, 0},  {2000, 1, 0, 1, 0, 0, 0, 1000},
  };
  for (const SYSTEMTIME& st : bad) {
    SCOPED_TRACE(testing::Message() << st.wYear << "-" << st.wMonth << "-" << st.wDay << " " << st.wHour << ":"
                                    << st.wMinute << ":" << st.wSecond << "." << st.wMilliseconds);
    FILETIME ft{1, 1};
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  SYSTEMTIME leap{2000, 2, 0, 29, 0, 0, 0, 0};
  FILETIME ft;
  EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));

  FILETIME huge = ft_of(0x8000000000000000ULL);
  SYSTEMTIME st;
  SetLastError(0);
  EXPECT_FALSE(FileTimeToSystemTime(&huge, &st));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
