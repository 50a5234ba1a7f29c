#include "platform/win32/kernel32/pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/message.h"

BOOL CreatePipe(PHANDLE hReadPipe, PHANDLE hWritePipe, LPSECURITY_ATTRIBUTES lpPipeAttributes, DWORD) {
  if (!hReadPipe || !hWritePipe) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int fds[2];
  // Close-on-exec: a child gets an end only as a standard handle it is given.
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    win32::set_last_error_from_errno(errno);
    return FALSE;
  }
  const DWORD flags = lpPipeAttributes && lpPipeAttributes->bInheritHandle ? HANDLE_FLAG_INHERIT : 0;
  *hReadPipe = win32::pipe_end_handle(fds[0], true, flags);
  *hWritePipe = win32::pipe_end_handle(fds[1], false, flags);
  return TRUE;
}
