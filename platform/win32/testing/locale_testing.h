// Test hook for the time zone. Tests only.
#pragma once

#include "platform/win32/kernel32/locale.h"

namespace win32 {
// Makes GetTimeZoneInformation answer `info` and `id`; null returns to the
// process's zone.
void set_time_zone_for_tests(const TIME_ZONE_INFORMATION* info, DWORD id = TIME_ZONE_ID_STANDARD);
// Makes `lcid` the user's locale (0: back to en-US) and drops every setting
// made with set_user_locale_info_for_tests.
void set_user_locale_for_tests(LCID lcid);
// Makes `lcid` the system's default locale (0: back to en-US).
void set_system_locale_for_tests(LCID lcid);
// Makes `langid` the language of the system's user interface (0: back to
// en-US); the system's locale stays as it is.
void set_system_ui_language_for_tests(LANGID langid);
// Overrides one setting of the user's locale, as the regional settings do;
// null removes the override.
void set_user_locale_info_for_tests(LCTYPE type, const char16_t* value);
}  // namespace win32
