#include "system/security.h"

#include "core/error.h"
#include "system/layer.h"
#include "system/number_text.h"
#include "system/trace.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace Windows {
namespace {

// Closes a token it opened without disturbing the last error.
void closeKeepingError(HANDLE token) {
  DWORD e = GetLastError();
  CloseHandle(token);
  SetLastError(e);
}

bool caseEqualAscii(const WCHAR* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    WCHAR ca = *a >= 'A' && *a <= 'Z' ? *a + 32 : *a;
    char cb = *b >= 'A' && *b <= 'Z' ? *b + 32 : *b;
    if (ca != static_cast<WCHAR>(cb)) return false;
  }
  return !*a && !*b;
}

}  // namespace

bool remoteNameHasPrefix(const WCHAR* remoteName, const std::u16string& prefix) {
  if (!remoteName) return false;
  std::u16string name = remoteName;
  Common::toUpperInPlace(name);
  return name.compare(0, prefix.size(), prefix) == 0;
}

void cancelNetworkConnections(bool force, const WCHAR* server) {
  HANDLE en = nullptr;
  if (WNetOpenEnumW(RESOURCE_CONNECTED, RESOURCETYPE_ANY, 0, nullptr, &en) != ERROR_SUCCESS) return;
  std::u16string name = server ? server : u"";
  std::u16string prefix = u"\\\\" + name + u"\\";
  Common::toUpperInPlace(prefix);
  alignas(NETRESOURCEW) static thread_local BYTE buffer[16384];
  while (true) {
    DWORD count = 0xFFFFFFFFu, size = sizeof buffer;
    if (WNetEnumResourceW(en, &count, buffer, &size) != ERROR_SUCCESS) break;
    auto entries = reinterpret_cast<NETRESOURCEW*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
      if (!name.empty() && !remoteNameHasPrefix(entries[i].lpRemoteName, prefix)) continue;
      WNetCancelConnection2W(entries[i].lpRemoteName, 0, force);
    }
  }
  WNetCloseEnum(en);
}

bool sidToText(WCHAR* buffer, PSID sid) {
  if (!buffer || !sid || !IsValidSid(sid)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  auto p = static_cast<const BYTE*>(sid);
  char text[200];
  int n = std::snprintf(text, sizeof text, "S-1-");
  if (p[2] || p[3]) {
    n += std::snprintf(text + n, sizeof text - n, "0x%02hx%02hx%02hx%02hx%02hx%02hx", (unsigned short)p[2],
                       (unsigned short)p[3], (unsigned short)p[4], (unsigned short)p[5], (unsigned short)p[6],
                       (unsigned short)p[7]);
  } else {
    unsigned long v = (static_cast<unsigned long>(p[4]) << 24) | (p[5] << 16) | (p[6] << 8) | p[7];
    n += std::snprintf(text + n, sizeof text - n, "%lu", v);
  }
  for (int i = 0; i < p[1]; ++i) {
    DWORD v;
    std::memcpy(&v, p + 8 + 4 * i, 4);
    n += std::snprintf(text + n, sizeof text - n, "-%lu", static_cast<unsigned long>(v));
  }
  for (int i = 0; i <= n; ++i) buffer[i] = static_cast<WCHAR>(text[i]);
  return true;
}

PSID textToSid(const WCHAR* text) {
  SetLastError(ERROR_INVALID_PARAMETER);
  if (!text) return nullptr;
  std::string s;
  for (; *text; ++text) s += *text < 0x80 ? static_cast<char>(*text) : '?';
  // Up to ten fields, each decimal, "0x" hexadecimal or "0"-octal.
  if (s.compare(0, 2, "S-") != 0) return nullptr;
  int64_t fields[10] = {};
  int count = 0;
  const char* p = s.c_str() + 2;
  while (count < 10) {
    char* end = nullptr;
    if (!*p || (*p != '-' && *p != '+' && (*p < '0' || *p > '9'))) break;
    fields[count] = static_cast<int64_t>(std::strtoll(p, &end, 0));
    if (end == p) break;
    ++count;
    p = end;
    if (*p != '-') break;
    ++p;
  }
  if (count < 2 || fields[0] != 1) return nullptr;
  SID_IDENTIFIER_AUTHORITY authority;
  for (int i = 0; i < 6; ++i) authority.Value[i] = static_cast<BYTE>(static_cast<uint64_t>(fields[1]) >> (8 * (5 - i)));
  int subs = count - 2;
  if (subs > 8) subs = 8;
  DWORD v[8] = {};
  for (int i = 0; i < subs; ++i) v[i] = static_cast<DWORD>(fields[2 + i]);
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&authority, static_cast<BYTE>(subs), v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7],
                                &sid))
    return nullptr;
  return sid;
}

HANDLE openToken(DWORD access, BOOL openAsSelf) {
  HANDLE token = nullptr;
  if (OpenThreadToken(GetCurrentThread(), access, openAsSelf, &token)) return token;
  if (GetLastError() == ERROR_NO_TOKEN && OpenProcessToken(GetCurrentProcess(), access, &token)) return token;
  return INVALID_HANDLE_VALUE;
}

BYTE* tokenInformation(TOKEN_INFORMATION_CLASS infoClass, HANDLE token) {
  HANDLE own = nullptr;
  if (!token) {
    own = openToken(TOKEN_QUERY, TRUE);
    if (own == INVALID_HANDLE_VALUE) return nullptr;
    token = own;
  }
  BYTE* buffer = nullptr;
  DWORD size = 0;
  if (!GetTokenInformation(token, infoClass, nullptr, 0, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    // the size query failed for a reason of its own
  } else {
    SetLastError(ERROR_SUCCESS);
    buffer = new (std::nothrow) BYTE[size ? size : 1];
    if (!buffer) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else if (!GetTokenInformation(token, infoClass, buffer, size, &size)) {
      delete[] buffer;
      buffer = nullptr;
    }
  }
  if (own) closeKeepingError(own);
  return buffer;
}

bool enablePrivilege(const char* name, HANDLE token, bool enable) {
  HANDLE own = nullptr;
  if (!token) {
    own = openToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE);
    if (own == INVALID_HANDLE_VALUE) return false;
    token = own;
  }
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  bool ok = LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr) && GetLastError() == 0;
  if (own) closeKeepingError(own);
  return ok;
}

bool hasPrivilege(const char* name, HANDLE token, bool* tokenRead) {
  if (tokenRead) *tokenRead = false;
  LUID luid;
  if (!LookupPrivilegeValueA(nullptr, name, &luid)) return false;
  std::unique_ptr<BYTE[]> info(tokenInformation(TokenPrivileges, token));
  if (!info) return false;
  if (tokenRead) *tokenRead = true;
  auto tp = reinterpret_cast<TOKEN_PRIVILEGES*>(info.get());
  for (DWORD i = 0; i < tp->PrivilegeCount; ++i)
    if (tp->Privileges[i].Luid.LowPart == luid.LowPart && tp->Privileges[i].Luid.HighPart == luid.HighPart) return true;
  return false;
}

bool isTokenMember(PSID sid, int mode) {
  if ((GetVersion() & 0xFF) < 5 || mode != 0) {
    std::unique_ptr<BYTE[]> info(tokenInformation(TokenGroups, nullptr));
    if (!info) return false;
    auto groups = reinterpret_cast<TOKEN_GROUPS*>(info.get());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      if (!EqualSid(groups->Groups[i].Sid, sid)) continue;
      if (mode != 1 || (groups->Groups[i].Attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY))) return true;
    }
    return false;
  }
  HMODULE advapi = LoadLibraryA("advapi32.dll");
  if (!advapi) return false;
  auto check = reinterpret_cast<BOOL (*)(HANDLE, PSID, PBOOL)>(
      reinterpret_cast<void (*)()>(GetProcAddress(advapi, "CheckTokenMembership")));
  BOOL member = FALSE;
  if (check) {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) token = nullptr;
    if (!check(token, sid, &member)) member = FALSE;
    if (token) CloseHandle(token);
  }
  FreeLibrary(advapi);
  return member != FALSE;
}

bool isAdministrator(int mode) {
  if (GetVersion() & 0x80000000u) return true;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins))
    return false;
  bool member = isTokenMember(admins, mode);
  FreeSid(admins);
  return member;
}

namespace {
using SetEntriesFn = DWORD (*)(ULONG, PEXPLICIT_ACCESS_W, PACL, PACL*);
SetEntriesFn setEntriesInAclFunction() {
  static SetEntriesFn fn = [] {
    HMODULE advapi = LoadLibraryA("advapi32.dll");
    if (!advapi) return SetEntriesFn{};
    return reinterpret_cast<SetEntriesFn>(reinterpret_cast<void (*)()>(GetProcAddress(advapi, "SetEntriesInAclW")));
  }();
  return fn;
}
}  // namespace

SecurityAttributes::SecurityAttributes(const WCHAR* trustee, ...)
    : attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE}, error(0), dacl(nullptr), ownsDacl(false) {
  if ((GetVersion() & 0x80000000u) || !trustee) return;
  SetEntriesFn setEntries = setEntriesInAclFunction();
  if (!setEntries) {
    error = ERROR_PROC_NOT_FOUND;
    return;
  }
  struct Triple {
    const WCHAR* trustee;
    DWORD access;
    DWORD inheritance;
  };
  std::vector<Triple> triples;
  va_list args;
  va_start(args, trustee);
  for (const WCHAR* t = trustee; t; t = va_arg(args, const WCHAR*)) {
    DWORD access = va_arg(args, DWORD);
    DWORD inheritance = va_arg(args, DWORD);
    triples.push_back({t, access, inheritance});
  }
  va_end(args);

  std::vector<EXPLICIT_ACCESS_W> entries(triples.size());
  std::vector<PSID> sids;  // from textToSid, FreeSid
  std::vector<std::unique_ptr<BYTE[]>> users;
  for (std::size_t i = 0; i < triples.size() && !error; ++i) {
    EXPLICIT_ACCESS_W& e = entries[i];
    e.grfAccessPermissions = triples[i].access;
    e.grfAccessMode = SET_ACCESS;
    e.grfInheritance = triples[i].inheritance;
    e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    e.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    PSID sid = nullptr;
    if (caseEqualAscii(triples[i].trustee, "!curuser")) {
      BYTE* info = tokenInformation(TokenUser, nullptr);
      if (info) {
        users.emplace_back(info);
        sid = reinterpret_cast<TOKEN_USER*>(info)->User.Sid;
      }
    } else if ((sid = textToSid(triples[i].trustee))) {
      sids.push_back(sid);
    }
    if (!sid) {
      error = GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER;
      break;
    }
    e.Trustee.ptstrName = static_cast<LPWSTR>(sid);
  }
  if (!error) error = setEntries(static_cast<ULONG>(entries.size()), entries.data(), nullptr, &dacl);
  if (!error) {
    ownsDacl = true;
    void* sd = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (!sd) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    } else if (!InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) ||
               !SetSecurityDescriptorDacl(sd, TRUE, dacl, FALSE)) {
      error = GetLastError();
      LocalFree(sd);
    } else {
      attributes.lpSecurityDescriptor = sd;
    }
  }
  for (PSID s : sids) FreeSid(s);
  if (error) {
    if (dacl) LocalFree(dacl);
    dacl = nullptr;
    ownsDacl = false;
  }
}

SecurityAttributes::~SecurityAttributes() {
  if (ownsDacl && dacl) LocalFree(dacl);
  if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
}

UINT tempFileName(const WCHAR* path, const WCHAR* prefix, UINT unique, WCHAR* buffer) {
  return layer->GetTempFileNameW(path, prefix, unique, buffer);
}
BOOL deleteFile(const WCHAR* path) { return layer->DeleteFileW(path); }

namespace {
Common::Error win32Error(std::uint64_t site, std::uint32_t code, DWORD win32Error) {
  Common::Error e(site, code);
  e.setWin32Cause(win32Error);
  return e;
}
[[noreturn]] void raise(std::uint64_t site, std::uint32_t code, DWORD error) {
  Common::Error e = win32Error(site, code, error);
  Common::traceError(Common::kTraceDebug, e);
  throw e;
}
// A failure on the way back: nobody can act on it, but the trace shows it.
void traceDropped(std::uint64_t site, std::uint32_t code) {
  Common::traceError(Common::kTraceDebug, win32Error(site, code, GetLastError()));
}
}  // namespace

ImpersonationScope::ImpersonationScope(HANDLE token, DWORD access) : saved_(nullptr) {
  if (!OpenThreadToken(GetCurrentThread(), access, TRUE, &saved_)) {
    saved_ = nullptr;
    if (GetLastError() != ERROR_NO_TOKEN) raise(KV_SITE, 0x141771, GetLastError());
  }
  if (!RevertToSelf()) {
    DWORD e = GetLastError();
    if (saved_) CloseHandle(saved_);
    raise(KV_SITE, 0x141773, e);
  }
  if (token && !ImpersonateLoggedOnUser(token)) {
    DWORD e = GetLastError();
    if (saved_) {
      if (!ImpersonateLoggedOnUser(saved_)) traceDropped(KV_SITE, 0x141772);
      CloseHandle(saved_);
    }
    raise(KV_SITE, 0x141772, e);
  }
}

ImpersonationScope::~ImpersonationScope() {
  if (!RevertToSelf()) traceDropped(KV_SITE, 0x141773);
  if (saved_) {
    if (!ImpersonateLoggedOnUser(saved_)) traceDropped(KV_SITE, 0x141772);
    CloseHandle(saved_);
  }
}

}  // namespace Windows
