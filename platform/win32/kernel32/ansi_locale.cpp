#include "platform/win32/kernel32/ansi_locale.h"

#include <cstring>
#include <string>

#include "platform/win32/layer/ansi_text.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/version/verinfo.h"

namespace {

using Wide = win32::WideText;

// Runs a wide call that counts characters with the terminator and answers in
// ANSI bytes with the same rules.
template <class F>
int ansiAnswer(F call, LPSTR out, int capacity) {
  if (capacity < 0 || (capacity > 0 && !out)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int n = call(nullptr, 0);
  if (n <= 0) return 0;
  std::u16string wide(static_cast<std::size_t>(n), u'\0');
  n = call(wide.data(), n);
  if (n <= 0) return 0;
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return 0;
  if (capacity == 0) return bytes;
  if (bytes > capacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return WideCharToMultiByte(CP_ACP, 0, wide.data(), n, out, capacity, nullptr, nullptr);
}

}  // namespace

int GetLocaleInfoA(LCID Locale, LCTYPE LCType, LPSTR lpLCData, int cchData) {
  return ansiAnswer([&](LPWSTR b, int c) { return GetLocaleInfoW(Locale, LCType, b, c); }, lpLCData, cchData);
}

int GetNumberFormatA(LCID Locale, DWORD dwFlags, LPCSTR lpValue, const NUMBERFMTA* lpFormat, LPSTR lpNumberStr,
                     int cchNumber) {
  Wide value(lpValue);
  Wide decimal(lpFormat ? lpFormat->lpDecimalSep : nullptr);
  Wide thousand(lpFormat ? lpFormat->lpThousandSep : nullptr);
  NUMBERFMTW format{};
  if (lpFormat) {
    format = {lpFormat->NumDigits, lpFormat->LeadingZero, lpFormat->Grouping, decimal.get(), thousand.get(),
              lpFormat->NegativeOrder};
  }
  const NUMBERFMTW* f = lpFormat ? &format : nullptr;
  return ansiAnswer(
      [&](LPWSTR b, int c) { return GetNumberFormatW(Locale, dwFlags, value.get(), f, b, c); }, lpNumberStr,
      cchNumber);
}

int GetDateFormatA(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpDate, LPCSTR lpFormat, LPSTR lpDateStr,
                   int cchDate) {
  const Wide format(lpFormat);
  return ansiAnswer([&](LPWSTR b, int c) { return GetDateFormatW(Locale, dwFlags, lpDate, format.get(), b, c); },
                    lpDateStr, cchDate);
}

int GetTimeFormatA(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpTime, LPCSTR lpFormat, LPSTR lpTimeStr,
                   int cchTime) {
  const Wide format(lpFormat);
  return ansiAnswer([&](LPWSTR b, int c) { return GetTimeFormatW(Locale, dwFlags, lpTime, format.get(), b, c); },
                    lpTimeStr, cchTime);
}

DWORD GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle) {
  return GetFileVersionInfoSizeW(Wide(name).get(), handle);
}

BOOL GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size, LPVOID data) {
  return GetFileVersionInfoW(Wide(name).get(), handle, size, data);
}
