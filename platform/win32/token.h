// Access tokens, as far as threads need them. There is no security model yet:
// no thread holds an impersonation token, so OpenThreadToken always fails with
// ERROR_NO_TOKEN; OpenProcessToken hands out a token handle that carries only
// its access mask; impersonation calls succeed and change nothing. A token
// model replaces the bodies in token.cpp, not these declarations.
#pragma once

#include "platform/win32/handles.h"
#include "platform/win32/lasterror.h"
#include "platform/win32/types.h"

#define TOKEN_ASSIGN_PRIMARY 0x0001
#define TOKEN_DUPLICATE 0x0002
#define TOKEN_IMPERSONATE 0x0004
#define TOKEN_QUERY 0x0008
#define TOKEN_QUERY_SOURCE 0x0010
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_ADJUST_GROUPS 0x0040
#define TOKEN_ADJUST_DEFAULT 0x0080
#define TOKEN_ADJUST_SESSIONID 0x0100
#define TOKEN_READ 0x00020008
#define TOKEN_WRITE 0x000200E0
#define TOKEN_EXECUTE 0x00020000
#define TOKEN_ALL_ACCESS 0x000F01FF

BOOL OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf, PHANDLE TokenHandle);
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
// Thread may be null (the calling thread); Token may be null (stop impersonating).
BOOL SetThreadToken(PHANDLE Thread, HANDLE Token);
BOOL ImpersonateLoggedOnUser(HANDLE hToken);  // ERROR_INVALID_HANDLE unless hToken is a token
BOOL RevertToSelf();

namespace win32 {
// The token object behind a token handle.
struct TokenObject : KernelObject {
  explicit TokenObject(DWORD access) : access(access) {}
  ObjectKind kind() const override { return ObjectKind::Token; }
  DWORD access;
};
}  // namespace win32
