// Clocks and time conversions.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

// Milliseconds since the system started; the 32-bit form wraps about every
// 49.7 days. Tests can move both (wintime_testing.h).
DWORD GetTickCount();
ULONGLONG GetTickCount64();
// Ticks of 100 ns on a monotonic clock.
BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);

// FILETIME: 100 ns units since 1601-01-01 UTC.
void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
void GetSystemTime(LPSYSTEMTIME lpSystemTime);
// Local time in the process's time zone (TZ).
void GetLocalTime(LPSYSTEMTIME lpSystemTime);
// ERROR_INVALID_PARAMETER for a FILETIME beyond year 30827 (high bit set) or a
// SYSTEMTIME field out of range; wDayOfWeek is ignored on input and computed on
// output.
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
