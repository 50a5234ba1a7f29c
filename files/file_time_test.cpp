#include "files/file_time.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/testing/locale_testing.h"

namespace {

FILETIME ft(std::uint64_t t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; }
std::uint64_t u64(const FILETIME& f) { return (std::uint64_t{f.dwHighDateTime} << 32) | f.dwLowDateTime; }

TEST(FileTime, Conversions) {
  const struct {
    std::uint64_t file_time;
    std::int64_t ms;
  } cases[] = {
      {116444736000000000ull, 0 + 0},          // 1970-01-01
      {116444736010000000ull, 1000},           // one second later
      {129383136000000000ull, 1293840000000},  // 2011-01-01 00:00 UTC
      {116444735990000000ull, -1000},          // before 1970
  };
  for (const auto& c : cases) {
    EXPECT_EQ(file_time_to_ms(ft(c.file_time)), c.ms) << c.file_time;
    if (c.ms != 0) {
      EXPECT_EQ(u64(ms_to_file_time(c.ms)), c.file_time) << c.ms;
    }
  }
  EXPECT_EQ(file_time_to_ms(ft(0)), 0);
  EXPECT_EQ(u64(ms_to_file_time(0)), 0u);
  // Sub-millisecond parts are dropped.
  EXPECT_EQ(file_time_to_ms(ft(116444736010009999ull)), 1000);
}

// The FAT zero date is 1980-01-01 00:00 local time, taken with the bias in
// force at the first conversion of the process; each zone runs in a process of
// its own, set before that first conversion.
struct FatZeroCase {
  const char* name;
  LONG bias;
  LONG daylight_bias;
  DWORD id;
  std::uint64_t local_zero;  // 1980-01-01 00:00 in that zone, as a file time
  const char* next_ms;       // a millisecond later, since 1970
};
constexpr FatZeroCase kFatZeroCases[] = {
    {"UTC+1", -60, 0, TIME_ZONE_ID_STANDARD, 119600028000000000ull, "315529200001"},  // 1979-12-31 23:00 UTC
    {"UTC-5 in daylight time", 300, -60, TIME_ZONE_ID_DAYLIGHT, 119600208000000000ull, "315547200001"},  // 04:00 UTC
};

void fatZeroInZone(const FatZeroCase& c) {
  TIME_ZONE_INFORMATION tzi{};
  tzi.Bias = c.bias;
  tzi.DaylightBias = c.daylight_bias;
  win32::set_time_zone_for_tests(&tzi, c.id);
  std::fprintf(stderr, "zero=%lld next=%lld utc=%lld\n", static_cast<long long>(file_time_to_ms(ft(c.local_zero))),
               static_cast<long long>(file_time_to_ms(ft(c.local_zero + 10000))),
               static_cast<long long>(file_time_to_ms(ft(119600064000000000ull))));
  std::fflush(stderr);
  std::_Exit(0);
}

TEST(FileTime, FatZeroDateIsUnknown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const FatZeroCase& c : kFatZeroCases) {
    SCOPED_TRACE(c.name);
    // The zone's zero date means unknown; a millisecond later and the UTC
    // zero date (315532800000 ms) are real times.
    const std::string expected = std::string("zero=0 next=") + c.next_ms + " utc=315532800000\n";
    EXPECT_EXIT(fatZeroInZone(c), ::testing::ExitedWithCode(0), expected);
  }
}

}  // namespace
