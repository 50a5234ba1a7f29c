// Case, ordering, the time zone and the working set.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_INVARIANT 0x007F

#define LOCALE_NEUTRAL 0x0000
#define LOCALE_CUSTOM_DEFAULT 0x0C00
#define LOCALE_CUSTOM_UNSPECIFIED 0x1000
#define LOCALE_CUSTOM_UI_DEFAULT 0x1400
#define LANG_GERMAN 0x07
#define SUBLANG_ENGLISH_US 0x01
#define SUBLANG_GERMAN 0x01
#define SORT_DEFAULT 0x0
#define MAKELCID(lgid, srtid) ((DWORD)((((DWORD)((WORD)(srtid))) << 16) | ((DWORD)((WORD)(lgid)))))
#define LANGIDFROMLCID(lcid) ((WORD)(lcid))
#define PRIMARYLANGID(lgid) ((WORD)(lgid) & 0x3ff)
#define SUBLANGID(lgid) ((WORD)(lgid) >> 10)

#define NORM_IGNORECASE 0x00000001
#define SORT_STRINGSORT 0x00001000

#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

// Upper-cases cchLength UTF-16 units in place (the layer's one case table);
// returns the count handled.
DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength);

// Compares linguistically in the locale's order: case and accents count
// after the letters, lower case first; NORM_IGNORECASE drops case (and ß
// equals ss). Hyphens and apostrophes are passed over unless SORT_STRINGSORT;
// other punctuation sorts before digits and letters. A negative count means
// the text ends at its NUL. CSTR_* on success; 0 with ERROR_INVALID_PARAMETER
// for a null text or an unknown locale, ERROR_INVALID_FLAGS for other flags.
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

// ---- Locale data: settings, names and pictures --------------------------------
// Separators, grouping and day and month names come from ICU's data for the
// locale; pictures and the numeric settings are Windows' own for en-US and
// de-DE and derived from ICU's patterns for other locales. en-US is the user
// and system default (tests can change the user's, locale_testing.h).

using LCTYPE = DWORD;

#define LOCALE_NOUSEROVERRIDE 0x80000000
#define LOCALE_USE_CP_ACP 0x40000000
#define LOCALE_RETURN_NUMBER 0x20000000

#define LOCALE_ILANGUAGE 0x00000001
#define LOCALE_SLANGUAGE 0x00000002
#define LOCALE_SABBREVLANGNAME 0x00000003
#define LOCALE_SNATIVELANGNAME 0x00000004
#define LOCALE_ICOUNTRY 0x00000005
#define LOCALE_SCOUNTRY 0x00000006
#define LOCALE_SABBREVCTRYNAME 0x00000007
#define LOCALE_SNATIVECTRYNAME 0x00000008
#define LOCALE_IDEFAULTLANGUAGE 0x00000009
#define LOCALE_IDEFAULTCOUNTRY 0x0000000A
#define LOCALE_IDEFAULTCODEPAGE 0x0000000B
#define LOCALE_SLIST 0x0000000C
#define LOCALE_IMEASURE 0x0000000D
#define LOCALE_SDECIMAL 0x0000000E
#define LOCALE_STHOUSAND 0x0000000F
#define LOCALE_SGROUPING 0x00000010
#define LOCALE_IDIGITS 0x00000011
#define LOCALE_ILZERO 0x00000012
#define LOCALE_SNATIVEDIGITS 0x00000013
#define LOCALE_SCURRENCY 0x00000014
#define LOCALE_SINTLSYMBOL 0x00000015
#define LOCALE_SMONDECIMALSEP 0x00000016
#define LOCALE_SMONTHOUSANDSEP 0x00000017
#define LOCALE_SMONGROUPING 0x00000018
#define LOCALE_ICURRDIGITS 0x00000019
#define LOCALE_ICURRENCY 0x0000001B
#define LOCALE_INEGCURR 0x0000001C
#define LOCALE_SDATE 0x0000001D
#define LOCALE_STIME 0x0000001E
#define LOCALE_SSHORTDATE 0x0000001F
#define LOCALE_SLONGDATE 0x00000020
#define LOCALE_IDATE 0x00000021
#define LOCALE_ILDATE 0x00000022
#define LOCALE_ITIME 0x00000023
#define LOCALE_ICENTURY 0x00000024
#define LOCALE_ITLZERO 0x00000025
#define LOCALE_IDAYLZERO 0x00000026
#define LOCALE_IMONLZERO 0x00000027
#define LOCALE_S1159 0x00000028
#define LOCALE_S2359 0x00000029
// Day names start with Monday (SDAYNAME7 is Sunday).
#define LOCALE_SDAYNAME1 0x0000002A
#define LOCALE_SDAYNAME2 0x0000002B
#define LOCALE_SDAYNAME3 0x0000002C
#define LOCALE_SDAYNAME4 0x0000002D
#define LOCALE_SDAYNAME5 0x0000002E
#define LOCALE_SDAYNAME6 0x0000002F
#define LOCALE_SDAYNAME7 0x00000030
#define LOCALE_SABBREVDAYNAME1 0x00000031
#define LOCALE_SABBREVDAYNAME2 0x00000032
#define LOCALE_SABBREVDAYNAME3 0x00000033
#define LOCALE_SABBREVDAYNAME4 0x00000034
#define LOCALE_SABBREVDAYNAME5 0x00000035
#define LOCALE_SABBREVDAYNAME6 0x00000036
#define LOCALE_SABBREVDAYNAME7 0x00000037
#define LOCALE_SMONTHNAME1 0x00000038
#define LOCALE_SMONTHNAME2 0x00000039
#define LOCALE_SMONTHNAME3 0x0000003A
#define LOCALE_SMONTHNAME4 0x0000003B
#define LOCALE_SMONTHNAME5 0x0000003C
#define LOCALE_SMONTHNAME6 0x0000003D
#define LOCALE_SMONTHNAME7 0x0000003E
#define LOCALE_SMONTHNAME8 0x0000003F
#define LOCALE_SMONTHNAME9 0x00000040
#define LOCALE_SMONTHNAME10 0x00000041
#define LOCALE_SMONTHNAME11 0x00000042
#define LOCALE_SMONTHNAME12 0x00000043
#define LOCALE_SABBREVMONTHNAME1 0x00000044
#define LOCALE_SABBREVMONTHNAME2 0x00000045
#define LOCALE_SABBREVMONTHNAME3 0x00000046
#define LOCALE_SABBREVMONTHNAME4 0x00000047
#define LOCALE_SABBREVMONTHNAME5 0x00000048
#define LOCALE_SABBREVMONTHNAME6 0x00000049
#define LOCALE_SABBREVMONTHNAME7 0x0000004A
#define LOCALE_SABBREVMONTHNAME8 0x0000004B
#define LOCALE_SABBREVMONTHNAME9 0x0000004C
#define LOCALE_SABBREVMONTHNAME10 0x0000004D
#define LOCALE_SABBREVMONTHNAME11 0x0000004E
#define LOCALE_SABBREVMONTHNAME12 0x0000004F
#define LOCALE_SPOSITIVESIGN 0x00000050
#define LOCALE_SNEGATIVESIGN 0x00000051
#define LOCALE_SISO639LANGNAME 0x00000059
#define LOCALE_SISO3166CTRYNAME 0x0000005A
#define LOCALE_SNAME 0x0000005C
#define LOCALE_SSHORTTIME 0x00000079
#define LOCALE_SENGLANGUAGE 0x00001001
#define LOCALE_SENGCOUNTRY 0x00001002
#define LOCALE_STIMEFORMAT 0x00001003
#define LOCALE_IDEFAULTANSICODEPAGE 0x00001004
#define LOCALE_SYEARMONTH 0x00001006
#define LOCALE_IFIRSTDAYOFWEEK 0x0000100C
#define LOCALE_IFIRSTWEEKOFYEAR 0x0000100D
#define LOCALE_SMONTHNAME13 0x0000100E
#define LOCALE_SABBREVMONTHNAME13 0x0000100F
#define LOCALE_INEGNUMBER 0x00001010

// The text (with its NUL) into lpLCData; cchData 0 asks for the size. With
// LOCALE_RETURN_NUMBER a numeric value is written as a DWORD (cchData >= 2).
// Unknown locale: ERROR_INVALID_PARAMETER; unknown type: ERROR_INVALID_FLAGS;
// short buffer: ERROR_INSUFFICIENT_BUFFER.
int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData);

LCID GetThreadLocale();
// ERROR_INVALID_PARAMETER for a locale the layer does not know.
BOOL SetThreadLocale(LCID Locale);
LANGID GetUserDefaultLangID();
LCID GetUserDefaultLCID();
LANGID GetSystemDefaultLangID();
LCID GetSystemDefaultLCID();
// The language the system's own texts are in, which need not be the language
// of its locale; en-US here.
LANGID GetSystemDefaultUILanguage();
BOOL IsValidLocale(LCID Locale, DWORD dwFlags);
#define LCID_INSTALLED 0x00000001
#define LCID_SUPPORTED 0x00000002

struct NUMBERFMTW {
  UINT NumDigits;      // 0 to 9
  UINT LeadingZero;    // 0: ".5", 1: "0.5"
  UINT Grouping;       // 0, 3, 32 ...: one decimal digit per group, the last repeats
  LPWSTR lpDecimalSep;
  LPWSTR lpThousandSep;
  UINT NegativeOrder;  // 0 "(1.1)", 1 "-1.1", 2 "- 1.1", 3 "1.1-", 4 "1.1 -"
};
using LPNUMBERFMTW = NUMBERFMTW*;

// lpValue: an optional '-', digits, an optional '.' and digits, nothing else;
// rounded half away from zero. With lpFormat the flags must be 0. Returns the
// count with the NUL; cchNumber 0 asks for it.
int GetNumberFormatW(LCID Locale, DWORD dwFlags, LPCWSTR lpValue, const NUMBERFMTW* lpFormat, LPWSTR lpNumberStr,
                     int cchNumber);

#define DATE_SHORTDATE 0x00000001
#define DATE_LONGDATE 0x00000002
#define DATE_USE_ALT_CALENDAR 0x00000004
#define DATE_YEARMONTH 0x00000008
#define DATE_LTRREADING 0x00000010
#define DATE_RTLREADING 0x00000020
#define DATE_AUTOLAYOUT 0x00000040
#define DATE_MONTHDAY 0x00000080

#define TIME_NOMINUTESORSECONDS 0x00000001
#define TIME_NOSECONDS 0x00000002
#define TIME_NOTIMEMARKER 0x00000004
#define TIME_FORCE24HOURFORMAT 0x00000008

// Picture grammar: d dd ddd dddd, M MM MMM MMMM, y yy yyyy, g gg; 'quoted'
// text ('' inside quotes is one apostrophe); everything else as it stands.
// A null date is the local time now; the day of the week is computed. With
// lpFormat the flags must be 0.
int GetDateFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpDate, LPCWSTR lpFormat, LPWSTR lpDateStr,
                   int cchDate);
// h hh (12-hour), H HH, m mm, s ss, t tt (first letter or whole designator).
// The TIME_* flags drop a field together with the text before it.
int GetTimeFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpTime, LPCWSTR lpFormat, LPWSTR lpTimeStr,
                   int cchTime);

#define LCMAP_LOWERCASE 0x00000100
#define LCMAP_UPPERCASE 0x00000200
#define LCMAP_SORTKEY 0x00000400
#define LCMAP_BYTEREV 0x00000800
#define LCMAP_LINGUISTIC_CASING 0x01000000

// Case mapping one code point to one (UTF-16 length kept) and byte reversal;
// other mappings fail with ERROR_INVALID_FLAGS. cchSrc -1: up to and with the
// NUL; cchDest 0 asks for the size.
int LCMapStringW(LCID Locale, DWORD dwMapFlags, LPCWSTR lpSrcStr, int cchSrc, LPWSTR lpDestStr, int cchDest);
// The same in the ANSI code page (sizes in bytes).
int LCMapStringA(LCID Locale, DWORD dwMapFlags, LPCSTR lpSrcStr, int cchSrc, LPSTR lpDestStr, int cchDest);

BOOL IsCharAlphaW(WCHAR ch);
BOOL IsCharAlphaNumericW(WCHAR ch);
