#include "files/file_time.h"

#include <gtest/gtest.h>

#include "files/win32_calls.h"

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

TEST(FileTime, FatZeroDateIsUnknown) {
  const LONG bias = win32_calls::time_zone_bias();
  const std::uint64_t fat_zero_local = 119600064000000000ull + static_cast<std::int64_t>(bias) * 600000000;
  EXPECT_EQ(file_time_to_ms(ft(fat_zero_local)), 0);
  EXPECT_NE(file_time_to_ms(ft(fat_zero_local + 10000)), 0);
}

}  // namespace
