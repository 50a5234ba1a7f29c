// Test hook for the time zone. Tests only.
#pragma once

#include "platform/win32/locale.h"

namespace win32 {
// Makes GetTimeZoneInformation answer `info` and `id`; null returns to the
// process's zone.
void set_time_zone_for_tests(const TIME_ZONE_INFORMATION* info, DWORD id = TIME_ZONE_ID_STANDARD);
}  // namespace win32
