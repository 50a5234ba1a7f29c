#include "platform/win32/kernel32/wintime.h"

#include <time.h>

#include <atomic>

#include "platform/win32/testing/wintime_testing.h"

namespace {

std::atomic<LONGLONG> g_tick_offset{0};

constexpr ULONGLONG kEpochDiff = 116444736000000000ULL;  // 1601-01-01 to 1970-01-01 in 100 ns
constexpr ULONGLONG kTicksPerDay = 864000000000ULL;
constexpr ULONGLONG kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

ULONGLONG real_ticks_ms() {
  timespec ts;
  clock_gettime(CLOCK_BOOTTIME, &ts);  // counts suspended time, as the Windows tick does
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000 + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000;
}

ULONGLONG now_filetime() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<ULONGLONG>(static_cast<LONGLONG>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100) + kEpochDiff;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Days since 1601-01-01 of a civil date (proleptic Gregorian).
LONGLONG days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const LONGLONG era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const LONGLONG since_1970 = era * 146097 + static_cast<LONGLONG>(doe) - 719468;
  return since_1970 + 134774;  // 1601-01-01 to 1970-01-01
}

void civil_from_days(LONGLONG days1601, int& y, int& m, int& d) {
  LONGLONG z = days1601 - 134774 + 719468;
  const LONGLONG era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

void to_systemtime(ULONGLONG ft, SYSTEMTIME& st) {
  ULONGLONG days = ft / kTicksPerDay;
  ULONGLONG rest = ft % kTicksPerDay;
  int y, m, d;
  civil_from_days(static_cast<LONGLONG>(days), y, m, d);
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  st.wHour = static_cast<WORD>(rest / 36000000000ULL);
  st.wMinute = static_cast<WORD>(rest / 600000000ULL % 60);
  st.wSecond = static_cast<WORD>(rest / 10000000ULL % 60);
  st.wMilliseconds = static_cast<WORD>(rest / 10000ULL % 1000);
}

}  // namespace

namespace win32 {

void set_tick_offset(LONGLONG offset_ms) { g_tick_offset.store(offset_ms, std::memory_order_relaxed); }

void set_tick_count(DWORD value) {
  LONGLONG real_low = static_cast<LONGLONG>(real_ticks_ms() & 0xFFFFFFFFULL);
  set_tick_offset(static_cast<LONGLONG>(value) - real_low);
}

}  // namespace win32

ULONGLONG GetTickCount64() {
  return real_ticks_ms() + static_cast<ULONGLONG>(g_tick_offset.load(std::memory_order_relaxed));
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  lpPerformanceCount->QuadPart = static_cast<LONGLONG>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
  lpFrequency->QuadPart = 10000000;
  return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME ft) {
  ULONGLONG t = now_filetime();
  ft->dwLowDateTime = static_cast<DWORD>(t);
  ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

void GetSystemTime(LPSYSTEMTIME st) { to_systemtime(now_filetime(), *st); }

void GetLocalTime(LPSYSTEMTIME st) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  st->wYear = static_cast<WORD>(local.tm_year + 1900);
  st->wMonth = static_cast<WORD>(local.tm_mon + 1);
  st->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  st->wDay = static_cast<WORD>(local.tm_mday);
  st->wHour = static_cast<WORD>(local.tm_hour);
  st->wMinute = static_cast<WORD>(local.tm_min);
  st->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
  st->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (!lpFileTime || !lpSystemTime) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ULONGLONG ft = (static_cast<ULONGLONG>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
  if (ft > kMaxFileTime) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  to_systemtime(ft, *lpSystemTime);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME lpFileTime) {
  if (!st || !lpFileTime || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 ||
      st->wDay < 1 || st->wDay > days_in_month(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59 || st->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ULONGLONG days = static_cast<ULONGLONG>(days_from_civil(st->wYear, st->wMonth, st->wDay));
  ULONGLONG ft = days * kTicksPerDay + st->wHour * 36000000000ULL + st->wMinute * 600000000ULL +
                 st->wSecond * 10000000ULL + st->wMilliseconds * 10000ULL;
  lpFileTime->dwLowDateTime = static_cast<DWORD>(ft);
  lpFileTime->dwHighDateTime = static_cast<DWORD>(ft >> 32);
  return TRUE;
}
