#include "files/win32_calls.h"

namespace win32_calls {

FARPROC entry(const char16_t* module, const char* name) {
  HMODULE m = GetModuleHandleW(module);
  return m ? GetProcAddress(m, name) : nullptr;
}

DWORD module_file_name(char16_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); }

void upper(char16_t* text, DWORD count) { CharUpperBuffW(text, count); }

int compare_ignore_case(const char16_t* a, const char16_t* b) {
  return CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, -1, b, -1);
}

LONG time_zone_bias() {
  TIME_ZONE_INFORMATION tzi{};
  switch (GetTimeZoneInformation(&tzi)) {
    case TIME_ZONE_ID_UNKNOWN:
      return tzi.Bias;
    case TIME_ZONE_ID_STANDARD:
      return tzi.Bias + tzi.StandardBias;
    case TIME_ZONE_ID_DAYLIGHT:
      return tzi.Bias + tzi.DaylightBias;
    default:
      return 0;
  }
}

DWORD current_directory_ansi(char* buffer, DWORD size) { return GetCurrentDirectoryA(size, buffer); }

HANDLE first_change_notification(const char16_t* path, BOOL subtree, DWORD filter) {
  return FindFirstChangeNotificationW(path, subtree, filter);
}

bool raise_working_set(SIZE_T bytes) {
  SIZE_T lo = 0, hi = 0;
  return GetProcessWorkingSetSize(GetCurrentProcess(), &lo, &hi) &&
         SetProcessWorkingSetSize(GetCurrentProcess(), lo + bytes, hi + bytes);
}

}  // namespace win32_calls
