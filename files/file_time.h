// Time stamps of the file interfaces are signed milliseconds since
// 1970-01-01 00:00 UTC; 0 means unknown (or unchanged when setting).
#pragma once

#include <cstdint>

#include "platform/win32/windows.h"

// 0 for a zero file time and for the FAT zero date (1980-01-01 00:00 local).
std::int64_t file_time_to_ms(const FILETIME& ft);
// 0 gives a zero file time.
FILETIME ms_to_file_time(std::int64_t ms);
