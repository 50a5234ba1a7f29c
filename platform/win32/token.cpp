#include "platform/win32/token.h"

#include <memory>

#include "platform/win32/thread.h"

// Without a security model no thread impersonates anyone; this is where a
// per-thread token would be looked up and stored.

BOOL OpenThreadToken(HANDLE ThreadHandle, DWORD, BOOL, PHANDLE TokenHandle) {
  if (!TokenHandle) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (ThreadHandle != GetCurrentThread() && !win32::handle_lookup(ThreadHandle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *TokenHandle = nullptr;
  SetLastError(ERROR_NO_TOKEN);
  return FALSE;
}

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  if (!TokenHandle) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (ProcessHandle != GetCurrentProcess() && !win32::handle_lookup(ProcessHandle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *TokenHandle = win32::handle_insert(std::make_shared<win32::TokenObject>(DesiredAccess));
  return TRUE;
}

BOOL SetThreadToken(PHANDLE, HANDLE Token) {
  if (Token && !win32::handle_lookup_as<win32::TokenObject>(Token)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL ImpersonateLoggedOnUser(HANDLE hToken) {
  if (!win32::handle_lookup_as<win32::TokenObject>(hToken)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL RevertToSelf() { return TRUE; }
