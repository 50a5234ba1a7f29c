#include "files/win32_calls.h"

#include <string>

// Calls the layer does not offer yet answer the way a system without them
// does; each is replaced by the Win32 call once the layer has it.

namespace win32_calls {

FARPROC entry(const char16_t* module, const char* name) {
  HMODULE m = GetModuleHandleW(module);
  return m ? GetProcAddress(m, name) : nullptr;
}

DWORD module_file_name(char16_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); }

void upper(char16_t* text, DWORD count) {
  for (DWORD i = 0; i < count; ++i) text[i] = win32::upcase(text[i]);
}

int compare_ignore_case(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    const char16_t x = win32::upcase(*a), y = win32::upcase(*b);
    if (x != y) return x < y ? 1 : 3;
    if (!x) return 2;
  }
}

LONG time_zone_bias() {
  SYSTEMTIME utc{}, local{};
  GetSystemTime(&utc);
  GetLocalTime(&local);
  FILETIME fu{}, fl{};
  if (!SystemTimeToFileTime(&utc, &fu) || !SystemTimeToFileTime(&local, &fl)) return 0;
  const auto u = static_cast<std::int64_t>((std::uint64_t{fu.dwHighDateTime} << 32) | fu.dwLowDateTime);
  const auto l = static_cast<std::int64_t>((std::uint64_t{fl.dwHighDateTime} << 32) | fl.dwLowDateTime);
  // Round to whole minutes: the two readings may straddle a tick.
  const std::int64_t minute = 600000000;
  const std::int64_t d = u - l;
  return static_cast<LONG>((d >= 0 ? d + minute / 2 : d - minute / 2) / minute);
}

DWORD current_directory_ansi(char* buffer, DWORD size) { return GetCurrentDirectoryA(size, buffer); }

HANDLE first_change_notification(const char16_t*, BOOL, DWORD) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return INVALID_HANDLE_VALUE;
}

bool raise_working_set(SIZE_T) { return false; }

}  // namespace win32_calls
