// Tests only: what the shell's change notifications keep alive.
#pragma once

#include <cstddef>

namespace win32 {

// Notices whose lists are still held (posted and not yet handled, or locked).
std::size_t live_shell_notices();

}  // namespace win32
