#include "platform/win32/advapi32/token.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/thread.h"

namespace win32 {
namespace {

std::shared_ptr<TokenData>& processSlot() {
  static std::shared_ptr<TokenData> data = default_process_token();
  return data;
}

thread_local std::shared_ptr<TokenData> threadToken;
thread_local unsigned impersonationCount = 0;

struct PrivilegeName {
  const char* name;
  DWORD luid;
};
// Windows' fixed LUIDs of the well-known privileges.
const PrivilegeName kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},        {"SeAssignPrimaryTokenPrivilege", 3}, {"SeLockMemoryPrivilege", 4},
    {"SeIncreaseQuotaPrivilege", 5},      {"SeMachineAccountPrivilege", 6},     {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},           {"SeTakeOwnershipPrivilege", 9},      {"SeLoadDriverPrivilege", 10},
    {"SeSystemProfilePrivilege", 11},     {"SeSystemtimePrivilege", 12},        {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15}, {"SeCreatePermanentPrivilege", 16},
    {"SeBackupPrivilege", 17},            {"SeRestorePrivilege", 18},           {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},             {"SeAuditPrivilege", 21},             {"SeSystemEnvironmentPrivilege", 22},
    {"SeChangeNotifyPrivilege", 23},      {"SeRemoteShutdownPrivilege", 24},    {"SeUndockPrivilege", 25},
    {"SeManageVolumePrivilege", 28},      {"SeImpersonatePrivilege", 29},       {"SeCreateGlobalPrivilege", 30},
    {"SeIncreaseWorkingSetPrivilege", 33}, {"SeTimeZonePrivilege", 34},        {"SeCreateSymbolicLinkPrivilege", 35},
};

SidBytes makeSid(BYTE authority, std::initializer_list<DWORD> subs) {
  SidBytes s(8 + 4 * subs.size());
  s[0] = 1;
  s[1] = static_cast<BYTE>(subs.size());
  s[7] = authority;
  std::size_t at = 8;
  for (DWORD v : subs) {
    std::memcpy(&s[at], &v, 4);
    at += 4;
  }
  return s;
}

std::shared_ptr<TokenObject> lookupToken(HANDLE h) { return handle_lookup_as<TokenObject>(h); }

std::size_t sidLength(const BYTE* p) { return 8 + 4u * p[1]; }

bool validSid(PSID sid) {
  auto p = static_cast<const BYTE*>(sid);
  return p && p[0] == SID_REVISION && p[1] <= SID_MAX_SUB_AUTHORITIES;
}

}  // namespace

std::mutex& token_mutex() {
  static std::mutex m;
  return m;
}

SidBytes sid_from_text(const std::string& text) {
  if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return {};
  const char* p = text.c_str() + 2;
  std::vector<unsigned long long> fields;
  while (true) {
    if (*p < '0' || *p > '9') return {};
    char* end = nullptr;
    bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    unsigned long long v = std::strtoull(hex ? p + 2 : p, &end, hex ? 16 : 10);
    fields.push_back(v);
    p = end;
    if (!*p) break;
    if (*p != '-') return {};
    ++p;
  }
  if (fields.size() < 2 || fields[0] != 1 || fields.size() - 2 > SID_MAX_SUB_AUTHORITIES) return {};
  if (fields[1] >> 48) return {};
  SidBytes s(8 + 4 * (fields.size() - 2));
  s[0] = 1;
  s[1] = static_cast<BYTE>(fields.size() - 2);
  for (int i = 0; i < 6; ++i) s[2 + i] = static_cast<BYTE>(fields[1] >> (8 * (5 - i)));
  for (std::size_t i = 2; i < fields.size(); ++i) {
    if (fields[i] > 0xFFFFFFFFull) return {};
    DWORD v = static_cast<DWORD>(fields[i]);
    std::memcpy(&s[8 + 4 * (i - 2)], &v, 4);
  }
  return s;
}

std::shared_ptr<TokenData> default_process_token() {
  auto t = std::make_shared<TokenData>();
  DWORD uid = static_cast<DWORD>(getuid());
  t->user = makeSid(5, {21, 1000, 2000, 3000, 1000 + uid});
  t->groups.push_back({makeSid(1, {0}), SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED});
  t->groups.push_back({makeSid(5, {32, 545}), SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED});
  t->groups.push_back({makeSid(5, {11}), SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED});
  t->groups.push_back({makeSid(5, {32, 544}), uid == 0 ? SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT |
                                                              SE_GROUP_ENABLED
                                                        : SE_GROUP_USE_FOR_DENY_ONLY});
  for (DWORD luid : {19u, 23u, 25u, 33u, 34u})
    t->privileges.push_back({LUID{luid, 0}, luid == 23 ? SE_PRIVILEGE_ENABLED_BY_DEFAULT | SE_PRIVILEGE_ENABLED : 0u});
  return t;
}

void set_process_token(std::shared_ptr<TokenData> data) {
  std::lock_guard<std::mutex> lock(token_mutex());
  processSlot() = data ? std::move(data) : default_process_token();
}

std::shared_ptr<TokenData> process_token() {
  std::lock_guard<std::mutex> lock(token_mutex());
  return processSlot();
}

bool privilege_enabled(const char* name) {
  LUID luid;
  if (!LookupPrivilegeValueA(nullptr, name, &luid)) return false;
  std::shared_ptr<TokenData> t = threadToken ? threadToken : process_token();
  std::lock_guard<std::mutex> lock(token_mutex());
  for (auto& [l, attrs] : t->privileges)
    if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart) return (attrs & SE_PRIVILEGE_ENABLED) != 0;
  return false;
}

unsigned impersonations_begun() { return impersonationCount; }

SidBytes acting_user() {
  std::shared_ptr<TokenData> t = threadToken ? threadToken : process_token();
  std::lock_guard<std::mutex> lock(token_mutex());
  return t->user;
}

}  // namespace win32

using win32::TokenData;

BOOL OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL, PHANDLE TokenHandle) {
  if (!TokenHandle) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (ThreadHandle != GetCurrentThread() && !win32::handle_lookup(ThreadHandle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *TokenHandle = nullptr;
  // Other threads' tokens are out of reach: only a thread's own is kept.
  if (ThreadHandle != GetCurrentThread() || !win32::threadToken) {
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
  }
  *TokenHandle = win32::handle_insert(std::make_shared<win32::TokenObject>(DesiredAccess, win32::threadToken));
  return TRUE;
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
  *TokenHandle = win32::handle_insert(std::make_shared<win32::TokenObject>(DesiredAccess, win32::process_token()));
  return TRUE;
}

BOOL SetThreadToken(PHANDLE Thread, HANDLE Token) {
  std::shared_ptr<TokenData> data;
  if (Token) {
    auto t = win32::lookupToken(Token);
    if (!t) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    data = t->data;
  }
  if (Thread && *Thread != GetCurrentThread()) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  if (data) ++win32::impersonationCount;
  win32::threadToken = std::move(data);
  return TRUE;
}

BOOL ImpersonateLoggedOnUser(HANDLE hToken) {
  auto t = win32::lookupToken(hToken);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  win32::threadToken = t->data;
  ++win32::impersonationCount;
  return TRUE;
}

BOOL RevertToSelf() {
  win32::threadToken.reset();
  return TRUE;
}

BOOL DuplicateToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL, PHANDLE duplicate) {
  auto t = win32::lookupToken(token);
  if (!t || !duplicate) {
    SetLastError(t ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::shared_ptr<TokenData> copy;
  {
    std::lock_guard<std::mutex> lock(win32::token_mutex());
    copy = std::make_shared<TokenData>(*t->data);
  }
  copy->type = TokenImpersonation;
  *duplicate = win32::handle_insert(std::make_shared<win32::TokenObject>(TOKEN_ALL_ACCESS, copy));
  return TRUE;
}

// --- SIDs ---

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1, DWORD s2,
                              DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* sid) {
  if (!authority || !sid || count > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto p = static_cast<BYTE*>(LocalAlloc(LPTR, 8 + 4u * count));
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  p[0] = SID_REVISION;
  p[1] = count;
  std::memcpy(p + 2, authority->Value, 6);
  const DWORD subs[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  std::memcpy(p + 8, subs, 4u * count);
  *sid = p;
  return TRUE;
}

PVOID FreeSid(PSID sid) { return LocalFree(sid); }

BOOL IsValidSid(PSID sid) { return win32::validSid(sid); }

DWORD GetLengthSid(PSID sid) {
  return win32::validSid(sid) ? static_cast<DWORD>(win32::sidLength(static_cast<BYTE*>(sid))) : 0;
}

BOOL EqualSid(PSID a, PSID b) {
  if (!win32::validSid(a) || !win32::validSid(b)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetLengthSid(a);
  return n == GetLengthSid(b) && std::memcmp(a, b, n) == 0;
}

BOOL CopySid(DWORD length, PSID destination, PSID source) {
  if (!win32::validSid(source)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  DWORD n = GetLengthSid(source);
  if (length < n || !destination) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(destination, source, n);
  return TRUE;
}

BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* text) {
  if (!text || !win32::validSid(sid)) {
    SetLastError(text ? ERROR_INVALID_SID : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto p = static_cast<const BYTE*>(sid);
  std::string s = "S-1-";
  char part[32];
  if (p[2] || p[3]) {
    std::snprintf(part, sizeof part, "0x%02X%02X%02X%02X%02X%02X", p[2], p[3], p[4], p[5], p[6], p[7]);
  } else {
    unsigned long v = (static_cast<unsigned long>(p[4]) << 24) | (p[5] << 16) | (p[6] << 8) | p[7];
    std::snprintf(part, sizeof part, "%lu", v);
  }
  s += part;
  for (int i = 0; i < p[1]; ++i) {
    DWORD v;
    std::memcpy(&v, p + 8 + 4 * i, 4);
    std::snprintf(part, sizeof part, "-%lu", static_cast<unsigned long>(v));
    s += part;
  }
  auto out = static_cast<LPWSTR>(LocalAlloc(LPTR, (s.size() + 1) * sizeof(WCHAR)));
  if (!out) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  for (std::size_t i = 0; i < s.size(); ++i) out[i] = static_cast<WCHAR>(s[i]);
  *text = out;
  return TRUE;
}

BOOL ConvertStringSidToSidW(LPCWSTR text, PSID* sid) {
  if (!text || !sid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string s;
  for (; *text; ++text) {
    if (*text > 0x7F) {
      SetLastError(ERROR_INVALID_SID);
      return FALSE;
    }
    s += static_cast<char>(*text);
  }
  static const std::pair<const char*, const char*> kNames[] = {
      {"WD", "S-1-1-0"}, {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"SY", "S-1-5-18"}, {"AU", "S-1-5-11"}};
  for (auto& [name, full] : kNames)
    if (strcasecmp(s.c_str(), name) == 0) s = full;
  win32::SidBytes bytes = win32::sid_from_text(s);
  if (bytes.empty()) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  void* out = LocalAlloc(LMEM_FIXED, bytes.size());
  if (!out) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  std::memcpy(out, bytes.data(), bytes.size());
  *sid = out;
  return TRUE;
}

// --- privileges and token information ---

BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
  if (system && *system) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  if (!name || !luid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (auto& p : win32::kPrivileges)
    if (strcasecmp(p.name, name) == 0) {
      *luid = LUID{p.luid, 0};
      return TRUE;
    }
  SetLastError(ERROR_NO_SUCH_PRIVILEGE);
  return FALSE;
}

BOOL LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid) {
  std::string n;
  for (const WCHAR* p = name; p && *p; ++p) n += *p < 0x80 ? static_cast<char>(*p) : '?';
  return LookupPrivilegeValueA(system && *system ? "remote" : nullptr, name ? n.c_str() : nullptr, luid);
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD,
                           PTOKEN_PRIVILEGES, PDWORD returnLength) {
  auto t = win32::lookupToken(token);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(t->access & TOKEN_ADJUST_PRIVILEGES)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!disableAll && !newState) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (returnLength) *returnLength = 0;
  bool all = true;
  std::lock_guard<std::mutex> lock(win32::token_mutex());
  if (disableAll) {
    for (auto& [luid, attrs] : t->data->privileges) attrs &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
  } else {
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& want = newState->Privileges[i];
      bool found = false;
      for (auto it = t->data->privileges.begin(); it != t->data->privileges.end(); ++it) {
        if (it->first.LowPart != want.Luid.LowPart || it->first.HighPart != want.Luid.HighPart) continue;
        found = true;
        if (want.Attributes & SE_PRIVILEGE_REMOVED) {
          t->data->privileges.erase(it);
        } else if (want.Attributes & SE_PRIVILEGE_ENABLED) {
          it->second |= SE_PRIVILEGE_ENABLED;
        } else {
          it->second &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
        }
        break;
      }
      all = all && found;
    }
  }
  SetLastError(all ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                         PDWORD returnLength) {
  auto t = win32::lookupToken(token);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(t->access & TOKEN_QUERY) || !returnLength) {
    SetLastError(returnLength ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<BYTE> out;
  std::vector<std::pair<std::size_t, win32::SidBytes>> sids;  // pointer slot offset, SID
  {
    std::lock_guard<std::mutex> lock(win32::token_mutex());
    const TokenData& d = *t->data;
    switch (infoClass) {
      case TokenUser:
        out.resize(sizeof(TOKEN_USER));
        sids.push_back({offsetof(TOKEN_USER, User.Sid), d.user});
        break;
      case TokenGroups: {
        out.resize(offsetof(TOKEN_GROUPS, Groups) + sizeof(SID_AND_ATTRIBUTES) * (d.groups.empty() ? 1 : d.groups.size()));
        DWORD n = static_cast<DWORD>(d.groups.size());
        std::memcpy(out.data(), &n, 4);
        for (std::size_t i = 0; i < d.groups.size(); ++i) {
          std::size_t at = offsetof(TOKEN_GROUPS, Groups) + i * sizeof(SID_AND_ATTRIBUTES);
          std::memcpy(&out[at + offsetof(SID_AND_ATTRIBUTES, Attributes)], &d.groups[i].second, 4);
          sids.push_back({at, d.groups[i].first});
        }
        break;
      }
      case TokenPrivileges: {
        out.resize(offsetof(TOKEN_PRIVILEGES, Privileges) +
                   sizeof(LUID_AND_ATTRIBUTES) * (d.privileges.empty() ? 1 : d.privileges.size()));
        DWORD n = static_cast<DWORD>(d.privileges.size());
        std::memcpy(out.data(), &n, 4);
        for (std::size_t i = 0; i < d.privileges.size(); ++i) {
          LUID_AND_ATTRIBUTES la{d.privileges[i].first, d.privileges[i].second};
          std::memcpy(&out[offsetof(TOKEN_PRIVILEGES, Privileges) + i * sizeof la], &la, sizeof la);
        }
        break;
      }
      case TokenType: {
        DWORD v = d.type;
        out.resize(4);
        std::memcpy(out.data(), &v, 4);
        break;
      }
      default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
  }
  // SIDs follow the fixed part, pointer-aligned.
  std::size_t total = (out.size() + 7) & ~std::size_t{7};
  for (auto& s : sids) total += s.second.size();
  *returnLength = static_cast<DWORD>(total);
  if (!info || length < total) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto base = static_cast<BYTE*>(info);
  std::memcpy(base, out.data(), out.size());
  std::size_t at = (out.size() + 7) & ~std::size_t{7};
  for (auto& [slot, sid] : sids) {
    std::memcpy(base + at, sid.data(), sid.size());
    PSID p = base + at;
    std::memcpy(base + slot, &p, sizeof p);
    at += sid.size();
  }
  return TRUE;
}

BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) {
  if (!isMember || !win32::validSid(sid)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<TokenData> data;
  if (token) {
    auto t = win32::lookupToken(token);
    if (!t) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (!(t->access & TOKEN_QUERY)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    data = t->data;
  } else {
    data = win32::threadToken ? win32::threadToken : win32::process_token();
  }
  std::lock_guard<std::mutex> lock(win32::token_mutex());
  win32::SidBytes want(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
  bool member = data->user == want;
  for (auto& [g, attrs] : data->groups)
    if (g == want && (attrs & SE_GROUP_ENABLED) && !(attrs & SE_GROUP_USE_FOR_DENY_ONLY)) member = true;
  *isMember = member;
  return TRUE;
}

// --- ACLs and security descriptors ---

DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl) {
  if (!newAcl || (count && !entries)) return ERROR_INVALID_PARAMETER;
  if (oldAcl) return ERROR_CALL_NOT_IMPLEMENTED;  // merging is nobody's need here
  std::vector<BYTE> aces;
  WORD aceCount = 0;
  for (ULONG i = 0; i < count; ++i) {
    const EXPLICIT_ACCESS_W& e = entries[i];
    if (e.Trustee.TrusteeForm != TRUSTEE_IS_SID) return ERROR_INVALID_PARAMETER;
    if (!IsValidSid(e.Trustee.ptstrName)) return ERROR_INVALID_SID;
    if (e.grfAccessMode == NOT_USED_ACCESS || e.grfAccessMode == REVOKE_ACCESS) continue;
    DWORD sidLen = GetLengthSid(e.Trustee.ptstrName);
    WORD size = static_cast<WORD>(8 + sidLen);
    ACE_HEADER h{static_cast<BYTE>(e.grfAccessMode == DENY_ACCESS ? ACCESS_DENIED_ACE_TYPE : ACCESS_ALLOWED_ACE_TYPE),
                 static_cast<BYTE>(e.grfInheritance & 0x1F), size};
    std::size_t at = aces.size();
    aces.resize(at + size);
    std::memcpy(&aces[at], &h, 4);
    std::memcpy(&aces[at + 4], &e.grfAccessPermissions, 4);
    std::memcpy(&aces[at + 8], e.Trustee.ptstrName, sidLen);
    ++aceCount;
  }
  std::size_t total = sizeof(ACL) + aces.size();
  if (total > 0xFFFF) return ERROR_INVALID_PARAMETER;
  auto acl = static_cast<PACL>(LocalAlloc(LPTR, total));
  if (!acl) return ERROR_NOT_ENOUGH_MEMORY;
  acl->AclRevision = ACL_REVISION;
  acl->AclSize = static_cast<WORD>(total);
  acl->AceCount = aceCount;
  if (!aces.empty()) std::memcpy(reinterpret_cast<BYTE*>(acl) + sizeof(ACL), aces.data(), aces.size());
  *newAcl = acl;
  return ERROR_SUCCESS;
}

BOOL IsValidAcl(PACL acl) {
  if (!acl || acl->AclRevision < 2 || acl->AclRevision > 4 || acl->AclSize < sizeof(ACL)) return FALSE;
  std::size_t at = sizeof(ACL);
  auto p = reinterpret_cast<const BYTE*>(acl);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    if (at + 4 > acl->AclSize) return FALSE;
    WORD size;
    std::memcpy(&size, p + at + 2, 2);
    if (size < 4 || at + size > acl->AclSize) return FALSE;
    at += size;
  }
  return TRUE;
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) {
  if (!sd || revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(sd ? ERROR_UNKNOWN_REVISION : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memset(sd, 0, sizeof(SECURITY_DESCRIPTOR));
  static_cast<SECURITY_DESCRIPTOR*>(sd)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl, BOOL defaulted) {
  auto d = static_cast<SECURITY_DESCRIPTOR*>(sd);
  if (!d || d->Revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(d ? ERROR_INVALID_SECURITY_DESCR : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  d->Control &= ~static_cast<WORD>(SE_DACL_PRESENT | SE_DACL_DEFAULTED);
  d->Dacl = nullptr;
  if (present) {
    d->Control |= SE_DACL_PRESENT;
    d->Dacl = dacl;
    if (defaulted) d->Control |= SE_DACL_DEFAULTED;
  }
  return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL present, PACL* dacl, LPBOOL defaulted) {
  auto d = static_cast<SECURITY_DESCRIPTOR*>(sd);
  if (!d || !present || !dacl || !defaulted || d->Revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *present = (d->Control & SE_DACL_PRESENT) != 0;
  *dacl = *present ? d->Dacl : nullptr;
  *defaulted = (d->Control & SE_DACL_DEFAULTED) != 0;
  return TRUE;
}
