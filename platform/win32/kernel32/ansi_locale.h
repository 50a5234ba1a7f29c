// The ANSI forms of the locale pictures and the version-resource reader, for
// the Windows 9x code paths: texts in the ANSI code page (1252), sizes in
// bytes with the terminator, a short buffer fails with
// ERROR_INSUFFICIENT_BUFFER and a capacity of 0 asks for the size.
#pragma once

#include "platform/win32/kernel32/locale.h"
#include "platform/win32/layer/types.h"

struct NUMBERFMTA {
  UINT NumDigits;
  UINT LeadingZero;
  UINT Grouping;
  LPSTR lpDecimalSep;
  LPSTR lpThousandSep;
  UINT NegativeOrder;
};

int GetLocaleInfoA(LCID Locale, LCTYPE LCType, LPSTR lpLCData, int cchData);
int GetNumberFormatA(LCID Locale, DWORD dwFlags, LPCSTR lpValue, const NUMBERFMTA* lpFormat, LPSTR lpNumberStr,
                     int cchNumber);
int GetDateFormatA(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpDate, LPCSTR lpFormat, LPSTR lpDateStr,
                   int cchDate);
int GetTimeFormatA(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpTime, LPCSTR lpFormat, LPSTR lpTimeStr,
                   int cchTime);

// The same block as the wide reader: VerQueryValueA reads it.
DWORD GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size, LPVOID data);
