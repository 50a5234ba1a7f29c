#include "platform/win32/kernel32/locale.h"

#include <time.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/win32/kernel32/handles.h"
#include "platform/win32/testing/locale_testing.h"
#include "platform/win32/kernel32/paths.h"

DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) {
  if (!lpsz) return 0;
  for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = win32::upcase(lpsz[i]);
  return cchLength;
}

namespace {

std::mutex test_zone_mutex;
std::optional<std::pair<TIME_ZONE_INFORMATION, DWORD>> test_zone;

long offset_at(time_t t, tm* out = nullptr) {
  tm local{};
  localtime_r(&t, &local);
  if (out) *out = local;
  return local.tm_gmtoff;
}

void copy_name(WCHAR (&to)[32], const char* from) {
  std::size_t i = 0;
  for (; from && from[i] && i < 31; ++i) to[i] = static_cast<unsigned char>(from[i]);
  to[i] = 0;
}

// The wall-clock time just before a change, as a yearly day-of-week rule.
SYSTEMTIME rule_of(time_t at, long offset_before) {
  const time_t wall = at + offset_before;
  tm t{};
  gmtime_r(&wall, &t);
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int year = t.tm_year + 1900;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int month_days = days[t.tm_mon] + (t.tm_mon == 1 && leap ? 1 : 0);
  SYSTEMTIME st{};
  st.wMonth = static_cast<WORD>(t.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
  st.wDay = static_cast<WORD>(t.tm_mday + 7 > month_days ? 5 : (t.tm_mday - 1) / 7 + 1);
  st.wHour = static_cast<WORD>(t.tm_hour);
  st.wMinute = static_cast<WORD>(t.tm_min);
  st.wSecond = static_cast<WORD>(t.tm_sec);
  return st;
}

struct Change {
  time_t at;  // first second under the new offset
  long before, after;
};

}  // namespace

namespace win32 {
void set_time_zone_for_tests(const TIME_ZONE_INFORMATION* info, DWORD id) {
  std::lock_guard lock(test_zone_mutex);
  if (info)
    test_zone.emplace(*info, id);
  else
    test_zone.reset();
}
}  // namespace win32

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION tzi) {
  if (!tzi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  {
    std::lock_guard lock(test_zone_mutex);
    if (test_zone) {
      *tzi = test_zone->first;
      return test_zone->second;
    }
  }
  tzset();  // localtime_r alone does not notice a changed TZ
  *tzi = TIME_ZONE_INFORMATION{};
  const time_t now = time(nullptr);
  tm now_local{};
  const long now_offset = offset_at(now, &now_local);

  // This year's offset changes: weekly samples, each change narrowed to the second.
  tm jan1{};
  jan1.tm_year = now_local.tm_year;
  jan1.tm_mday = 1;
  const time_t year_start = timegm(&jan1);
  jan1.tm_year += 1;
  const time_t year_end = timegm(&jan1);
  std::vector<Change> changes;
  const time_t week = 7 * 86400;
  time_t t = year_start;
  long off = offset_at(t);
  while (t < year_end && changes.size() <= 2) {
    const time_t next = std::min(t + week, year_end);
    const long next_off = offset_at(next);
    if (next_off != off) {
      time_t lo = t, hi = next;  // offset_at(lo) == off, offset_at(hi) != off
      while (hi - lo > 1) {
        const time_t mid = lo + (hi - lo) / 2;
        (offset_at(mid) == off ? lo : hi) = mid;
      }
      changes.push_back({hi, off, offset_at(hi)});
    }
    t = next;
    off = next_off;
  }

  const bool daylight = changes.size() == 2 && changes[0].before == changes[1].after &&
                        changes[0].after == changes[1].before;
  if (!daylight) {
    tzi->Bias = static_cast<LONG>(-now_offset / 60);
    copy_name(tzi->StandardName, now_local.tm_zone);
    copy_name(tzi->DaylightName, now_local.tm_zone);
    return TIME_ZONE_ID_UNKNOWN;
  }
  const long standard = std::min(changes[0].before, changes[0].after);
  const long summer = std::max(changes[0].before, changes[0].after);
  tzi->Bias = static_cast<LONG>(-standard / 60);
  tzi->StandardBias = 0;
  tzi->DaylightBias = static_cast<LONG>(-(summer - standard) / 60);
  for (const Change& c : changes) {
    tm before{}, after{};
    offset_at(c.at - 1, &before);
    offset_at(c.at, &after);
    if (c.after > c.before) {  // into daylight time
      tzi->DaylightDate = rule_of(c.at, c.before);
      copy_name(tzi->StandardName, before.tm_zone);
      copy_name(tzi->DaylightName, after.tm_zone);
    } else {
      tzi->StandardDate = rule_of(c.at, c.before);
    }
  }
  return now_offset == summer ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

namespace {
std::mutex working_set_mutex;
SIZE_T working_set_min = 200 * 4096;
SIZE_T working_set_max = 345 * 4096;

bool is_process(HANDLE h) { return h == GetCurrentProcess() || win32::handle_lookup(h) != nullptr; }
}  // namespace

BOOL GetProcessWorkingSetSize(HANDLE hProcess, SIZE_T* lpMinimumWorkingSetSize, SIZE_T* lpMaximumWorkingSetSize) {
  if (!is_process(hProcess)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!lpMinimumWorkingSetSize || !lpMaximumWorkingSetSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(working_set_mutex);
  *lpMinimumWorkingSetSize = working_set_min;
  *lpMaximumWorkingSetSize = working_set_max;
  return TRUE;
}

BOOL SetProcessWorkingSetSize(HANDLE hProcess, SIZE_T dwMinimumWorkingSetSize, SIZE_T dwMaximumWorkingSetSize) {
  if (!is_process(hProcess)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const SIZE_T trim = static_cast<SIZE_T>(-1);
  if (dwMinimumWorkingSetSize == trim && dwMaximumWorkingSetSize == trim) return TRUE;  // trim: nothing kept
  if (dwMinimumWorkingSetSize > dwMaximumWorkingSetSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(working_set_mutex);
  working_set_min = dwMinimumWorkingSetSize;
  working_set_max = dwMaximumWorkingSetSize;
  return TRUE;
}
