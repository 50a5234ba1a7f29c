// Anonymous pipes.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

// Both ends are file handles: ReadFile, WriteFile and CloseHandle work on them.
// Once every write end is closed a read past the data fails with
// ERROR_BROKEN_PIPE; once every read end is closed so does a write. The
// handles carry HANDLE_FLAG_INHERIT when the attributes ask for inheritance.
// nSize is a hint and ignored.
BOOL CreatePipe(PHANDLE hReadPipe, PHANDLE hWritePipe, LPSECURITY_ATTRIBUTES lpPipeAttributes, DWORD nSize);
