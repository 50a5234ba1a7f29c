// The few system calls of the file library that go through one place: entry
// points looked up by name, the program's file name, name case and order, the
// time-zone bias, change notifications and the working set.
#pragma once

#include <cstdint>

#include "platform/win32/windows.h"

namespace win32_calls {

// GetProcAddress of `name` in the loaded module `module`; null when either
// is missing.
FARPROC entry(const char16_t* module, const char* name);

// GetModuleFileNameW of the program's own module.
DWORD module_file_name(char16_t* buffer, DWORD size);

// CharUpperBuffW.
void upper(char16_t* text, DWORD count);

// CompareStringW (LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE): 1, 2 or 3.
int compare_ignore_case(const char16_t* a, const char16_t* b);

// Minutes from local time to UTC, daylight saving included (UTC = local + bias).
LONG time_zone_bias();

// GetCurrentDirectoryA.
DWORD current_directory_ansi(char* buffer, DWORD size);

// FindFirstChangeNotificationW; INVALID_HANDLE_VALUE with the last error set
// on failure.
HANDLE first_change_notification(const char16_t* path, BOOL subtree, DWORD filter);

// Raises the process's working set by `bytes` (minimum and maximum); false
// when it cannot.
bool raise_working_set(SIZE_T bytes);

}  // namespace win32_calls

// Converts a FARPROC to the entry point's own type.
template <class Fn>
Fn entry_as(FARPROC p) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
}
