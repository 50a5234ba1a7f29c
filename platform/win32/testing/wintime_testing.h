// Test hooks for the clocks. Tests only.
#pragma once

#include "platform/win32/layer/types.h"

namespace win32 {
// Moves GetTickCount64 (and so GetTickCount) by a signed number of
// milliseconds from the real count. 0 restores it. Waits are not affected.
void set_tick_offset(LONGLONG offset_ms);
// Moves the tick count so that GetTickCount() answers `value` now, e.g.
// 0xFFFFFFFF - 10 to arm something 10 ms before the 32-bit count wraps.
void set_tick_count(DWORD value);
}  // namespace win32
