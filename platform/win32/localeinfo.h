// Locale facts by LCID. Only the default ANSI code page is known so far.
#pragma once

#include "platform/win32/lasterror.h"
#include "platform/win32/types.h"

#define LOCALE_IDEFAULTANSICODEPAGE 0x00001004

// Writes the answer as text (terminator included in the count returned); with
// cchData 0 returns the room needed. 0 with ERROR_INVALID_PARAMETER for an
// unknown locale, ERROR_INVALID_FLAGS for another LCTYPE, and
// ERROR_INSUFFICIENT_BUFFER when the room is too small.
int GetLocaleInfoW(LCID Locale, DWORD LCType, LPWSTR lpLCData, int cchData);
