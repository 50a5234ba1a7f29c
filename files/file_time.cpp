#include "files/file_time.h"

#include "files/win32_calls.h"

namespace {

constexpr std::int64_t epoch_difference_ms = 11644473600000;   // 1601 -> 1970
constexpr std::uint64_t fat_zero_utc = 119600064000000000ull;  // 1980-01-01 00:00 UTC

std::uint64_t as_u64(const FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The FAT zero date in local time, from the bias in force at first use.
std::uint64_t fat_zero_file_time() {
  static const std::uint64_t value = [] {
    const LONG bias = win32_calls::time_zone_bias();
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(fat_zero_utc) +
                                      static_cast<std::int64_t>(bias) * 60 * 10000000);
  }();
  return value;
}

}  // namespace

std::int64_t file_time_to_ms(const FILETIME& ft) {
  const std::uint64_t t = as_u64(ft);
  if (t == 0 || t == fat_zero_file_time()) return 0;
  return static_cast<std::int64_t>(t / 10000) - epoch_difference_ms;
}

FILETIME ms_to_file_time(std::int64_t ms) {
  FILETIME ft{0, 0};
  if (ms == 0) return ft;
  const auto t = static_cast<std::uint64_t>((ms + epoch_difference_ms) * 10000);
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}
