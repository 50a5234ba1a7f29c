// Case, ordering, the time zone and the working set.
#pragma once

#include "platform/win32/lasterror.h"
#include "platform/win32/types.h"

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_INVARIANT 0x007F

#define NORM_IGNORECASE 0x00000001

#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

// Upper-cases cchLength UTF-16 units in place (the layer's one case table);
// returns the count handled.
DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength);

// Compares by UTF-16 unit, after upper-casing both with NORM_IGNORECASE. A
// negative count means the text ends at its NUL. CSTR_* on success; 0 with
// ERROR_INVALID_PARAMETER for a null text, ERROR_INVALID_FLAGS for flags
// other than NORM_IGNORECASE.
int CompareStringW(LCID Locale, DWORD dwCmpFlags, LPCWSTR lpString1, int cchCount1, LPCWSTR lpString2,
                   int cchCount2);

struct TIME_ZONE_INFORMATION {
  LONG Bias;  // minutes: UTC = local time + Bias
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;  // wYear 0: wDay-th (5 = last) wDayOfWeek of wMonth
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};
using LPTIME_ZONE_INFORMATION = TIME_ZONE_INFORMATION*;
using PTIME_ZONE_INFORMATION = TIME_ZONE_INFORMATION*;

#define TIME_ZONE_ID_UNKNOWN 0
#define TIME_ZONE_ID_STANDARD 1
#define TIME_ZONE_ID_DAYLIGHT 2
#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu

// The process's zone (TZ), its rules read off this year's transitions.
// TIME_ZONE_ID_UNKNOWN for a zone without daylight time, else whether
// daylight time applies now. Tests can set the answer (locale_testing.h).
DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation);

// The working set is only a hint here: Set records the limits and Get
// answers them (Windows' defaults until set).
BOOL GetProcessWorkingSetSize(HANDLE hProcess, SIZE_T* lpMinimumWorkingSetSize, SIZE_T* lpMaximumWorkingSetSize);
BOOL SetProcessWorkingSetSize(HANDLE hProcess, SIZE_T dwMinimumWorkingSetSize, SIZE_T dwMaximumWorkingSetSize);
