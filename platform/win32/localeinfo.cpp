#include "platform/win32/localeinfo.h"

#include <string>

namespace {

// The Windows ANSI code page of a locale, by primary language (and, for
// Chinese, sublanguage); 0 when unknown.
unsigned ansiCodePage(LCID locale) {
  if (locale == 0x0400 || locale == 0x0800) locale = 0x0409;  // user and system default: en-US
  unsigned language = locale & 0x3FF;
  unsigned sublanguage = (locale >> 10) & 0x3F;
  switch (language) {
    case 0x09: case 0x07: case 0x0c: case 0x0a: case 0x10: case 0x13: case 0x16: case 0x1d:
    case 0x14: case 0x06: case 0x0b: case 0x0f: case 0x03: case 0x2d: case 0x21: case 0x3e:
      return 1252;
    case 0x05: case 0x15: case 0x0e: case 0x1b: case 0x24: case 0x1a: case 0x18: case 0x1c:
      return 1250;
    case 0x19: case 0x22: case 0x02: case 0x23: case 0x2f:
      return 1251;
    case 0x08: return 1253;
    case 0x1f: return 1254;
    case 0x0d: return 1255;
    case 0x01: case 0x29: case 0x20: return 1256;
    case 0x25: case 0x26: case 0x27: return 1257;
    case 0x2a: return 1258;
    case 0x1e: return 874;
    case 0x11: return 932;
    case 0x12: return 949;
    case 0x04: return (sublanguage == 0x02 || sublanguage == 0x04) ? 936 : 950;
    default: return 0;
  }
}

}  // namespace

int GetLocaleInfoW(LCID Locale, DWORD LCType, LPWSTR lpLCData, int cchData) {
  if ((LCType & 0xFFFF) != LOCALE_IDEFAULTANSICODEPAGE) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  unsigned cp = ansiCodePage(Locale);
  if (!cp || cchData < 0 || (cchData > 0 && !lpLCData)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string text;
  for (char c : std::to_string(cp)) text.push_back(static_cast<char16_t>(c));
  int needed = static_cast<int>(text.size()) + 1;
  if (cchData == 0) return needed;
  if (cchData < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (std::size_t i = 0; i < text.size(); ++i) lpLCData[i] = text[i];
  lpLCData[text.size()] = 0;
  return needed;
}
