// Security helpers over the Win32 security calls: SID text, tokens,
// privileges, group membership and security attributes from trustee lists.
#pragma once

#include <string>

#include "platform/win32/windows.h"

namespace Windows {

// Cancels this process's connections to `server` ("\\server\..."), all of
// them when the name is empty; `force` also drops connections in use.
void cancelNetworkConnections(bool force, const WCHAR* server);
// Does the remote name, upper-cased, begin with the (upper-case) prefix?
bool remoteNameHasPrefix(const WCHAR* remoteName, const std::u16string& prefix);

// "S-1-..." text of the SID into `buffer` (at least 192 characters).
bool sidToText(WCHAR* buffer, PSID sid);
// A new SID (FreeSid) from its text, or null.
PSID textToSid(const WCHAR* text);
// The thread's token, else the process's; INVALID_HANDLE_VALUE on failure.
HANDLE openToken(DWORD access, BOOL openAsSelf);
// A new buffer (delete[]) with the token's information, or null.
BYTE* tokenInformation(TOKEN_INFORMATION_CLASS infoClass, HANDLE token);
bool enablePrivilege(const char* name, HANDLE token, bool enable);
bool hasPrivilege(const char* name, HANDLE token, bool* tokenRead = nullptr);
// Mode 0 asks CheckTokenMembership (NT 5 and later); 1 counts enabled and
// deny-only groups; any other mode every matching group.
bool isTokenMember(PSID sid, int mode);
bool isAdministrator(int mode);

// SECURITY_ATTRIBUTES from (trustee, access, inheritance) triples ending with
// a null trustee; "!CurUser" is the calling thread's or process's user. Never
// throws: `error` tells what failed, and the structure then carries default
// security.
class SecurityAttributes {
 public:
  SecurityAttributes(const WCHAR* trustee, ...);
  ~SecurityAttributes();
  SecurityAttributes(const SecurityAttributes&) = delete;
  SecurityAttributes& operator=(const SecurityAttributes&) = delete;
  SECURITY_ATTRIBUTES* get() { return &attributes; }
  operator SECURITY_ATTRIBUTES*() { return &attributes; }

  SECURITY_ATTRIBUTES attributes;
  DWORD error;
  PACL dacl;
  bool ownsDacl;
};

// Forwarders to the layer's GetTempFileNameW and DeleteFileW.
UINT tempFileName(const WCHAR* path, const WCHAR* prefix, UINT unique, WCHAR* buffer);
BOOL deleteFile(const WCHAR* path);

// Suspends the calling thread's impersonation (no token) or replaces it (a
// token) until the scope ends. Throws Common::Error 0x141771 (saving the
// token), 0x141773 (reverting) or 0x141772 (impersonating), with the Win32
// error as cause; the destructor never throws.
class ImpersonationScope {
 public:
  explicit ImpersonationScope(HANDLE token = nullptr, DWORD access = TOKEN_IMPERSONATE | TOKEN_QUERY);
  ~ImpersonationScope();
  ImpersonationScope(const ImpersonationScope&) = delete;
  ImpersonationScope& operator=(const ImpersonationScope&) = delete;

 private:
  HANDLE saved_;
};

}  // namespace Windows
