#include "platform/win32/kernel32/lasterror.h"

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
