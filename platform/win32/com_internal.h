// Layer-internal links between the COM runtime and the shell's objects.
#pragma once

#include "platform/win32/com.h"

namespace win32 {

// The shell-link class (CLSID_ShellLink), a row of the class table.
HRESULT make_shell_link(REFIID riid, void** object);
// The process's task allocator (never released).
IMalloc* task_malloc();

}  // namespace win32
