// Access tokens, SIDs, privileges, ACLs and security descriptors. The process
// has one primary token (user, groups, privileges); a thread may impersonate a
// token of its own until it reverts. SIDs, ACLs and descriptors are Win32
// blobs, byte for byte, so callers can copy and compare them as on Windows.
#pragma once

#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

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

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_INVALID_SID 1337L
#define ERROR_INVALID_ACL 1336L
#define ERROR_INVALID_SECURITY_DESCR 1338L
#define ERROR_BAD_TOKEN_TYPE 1349L

using PSID = void*;
struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;
#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15
#define SECURITY_WORLD_SID_AUTHORITY {{0, 0, 0, 0, 0, 1}}
#define SECURITY_NT_AUTHORITY {{0, 0, 0, 0, 0, 5}}
#define SECURITY_WORLD_RID 0
#define SECURITY_LOCAL_SYSTEM_RID 18
#define SECURITY_AUTHENTICATED_USER_RID 11
#define SECURITY_BUILTIN_DOMAIN_RID 32
#define DOMAIN_ALIAS_RID_ADMINS 544
#define DOMAIN_ALIAS_RID_USERS 545

struct LUID {
  DWORD LowPart;
  LONG HighPart;
};
using PLUID = LUID*;
struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;
struct SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
};
struct TOKEN_USER {
  SID_AND_ATTRIBUTES User;
};
struct TOKEN_GROUPS {
  DWORD GroupCount;
  SID_AND_ATTRIBUTES Groups[1];
};
#define SE_PRIVILEGE_ENABLED_BY_DEFAULT 0x00000001L
#define SE_PRIVILEGE_ENABLED 0x00000002L
#define SE_PRIVILEGE_REMOVED 0x00000004L
#define SE_GROUP_MANDATORY 0x00000001L
#define SE_GROUP_ENABLED_BY_DEFAULT 0x00000002L
#define SE_GROUP_ENABLED 0x00000004L
#define SE_GROUP_USE_FOR_DENY_ONLY 0x00000010L

enum TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenGroups = 2, TokenPrivileges = 3, TokenType = 8 };
enum TOKEN_TYPE { TokenPrimary = 1, TokenImpersonation = 2 };
enum SECURITY_IMPERSONATION_LEVEL {
  SecurityAnonymous,
  SecurityIdentification,
  SecurityImpersonation,
  SecurityDelegation
};

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1, DWORD s2,
                              DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* sid);
PVOID FreeSid(PSID sid);
BOOL IsValidSid(PSID sid);
BOOL EqualSid(PSID a, PSID b);
DWORD GetLengthSid(PSID sid);
BOOL CopySid(DWORD length, PSID destination, PSID source);
// The text is LocalAlloc memory; the SID from text too (LocalFree both).
// Besides "S-1-..." the text side knows the two-letter names WD, BA, BU, SY, AU.
BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* text);
BOOL ConvertStringSidToSidW(LPCWSTR text, PSID* sid);

BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid);
BOOL LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid);
// Success with ERROR_NOT_ALL_ASSIGNED as last error when the token lacks one of
// the privileges; ERROR_SUCCESS otherwise.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD length,
                           PTOKEN_PRIVILEGES previousState, PDWORD returnLength);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                         PDWORD returnLength);
BOOL DuplicateToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL level, PHANDLE duplicate);
// A null token stands for the calling thread's token, else the process's.
BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember);

// ACLs and security descriptors.
struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};
using PACL = ACL*;
struct ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};
struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  DWORD Mask;
  DWORD SidStart;
};
#define ACL_REVISION 2
#define ACCESS_ALLOWED_ACE_TYPE 0
#define ACCESS_DENIED_ACE_TYPE 1
#define NO_INHERITANCE 0
#define OBJECT_INHERIT_ACE 0x1
#define CONTAINER_INHERIT_ACE 0x2
#define INHERIT_ONLY_ACE 0x8
#define SUB_CONTAINERS_AND_OBJECTS_INHERIT 0x3

enum ACCESS_MODE { NOT_USED_ACCESS, GRANT_ACCESS, SET_ACCESS, DENY_ACCESS, REVOKE_ACCESS };
enum MULTIPLE_TRUSTEE_OPERATION { NO_MULTIPLE_TRUSTEE, TRUSTEE_IS_IMPERSONATE };
enum TRUSTEE_FORM { TRUSTEE_IS_SID, TRUSTEE_IS_NAME, TRUSTEE_BAD_FORM };
enum TRUSTEE_TYPE { TRUSTEE_IS_UNKNOWN, TRUSTEE_IS_USER, TRUSTEE_IS_GROUP, TRUSTEE_IS_DOMAIN, TRUSTEE_IS_ALIAS,
                    TRUSTEE_IS_WELL_KNOWN_GROUP };
struct TRUSTEE_W {
  TRUSTEE_W* pMultipleTrustee;
  MULTIPLE_TRUSTEE_OPERATION MultipleTrusteeOperation;
  TRUSTEE_FORM TrusteeForm;
  TRUSTEE_TYPE TrusteeType;
  LPWSTR ptstrName;
};
struct EXPLICIT_ACCESS_W {
  DWORD grfAccessPermissions;
  ACCESS_MODE grfAccessMode;
  DWORD grfInheritance;
  TRUSTEE_W Trustee;
};
using PEXPLICIT_ACCESS_W = EXPLICIT_ACCESS_W*;
// Only SID trustees; the new ACL is LocalAlloc memory. Returns a Win32 error.
DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl);
BOOL IsValidAcl(PACL acl);

// The absolute form, with 64-bit pointers.
struct SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  WORD Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
};
using PSECURITY_DESCRIPTOR = void*;
#define SECURITY_DESCRIPTOR_REVISION 1
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl, BOOL defaulted);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL present, PACL* dacl, LPBOOL defaulted);

namespace win32 {
using SidBytes = std::vector<BYTE>;
// What a token says about its holder.
struct TokenData {
  SidBytes user;
  std::vector<std::pair<SidBytes, DWORD>> groups;     // SID, SE_GROUP_* attributes
  std::vector<std::pair<LUID, DWORD>> privileges;     // LUID, SE_PRIVILEGE_* attributes
  TOKEN_TYPE type = TokenPrimary;
};
// The token object behind a token handle; handles of one token share its data.
struct TokenObject : KernelObject {
  TokenObject(DWORD access, std::shared_ptr<TokenData> data) : access(access), data(std::move(data)) {}
  ObjectKind kind() const override { return ObjectKind::Token; }
  DWORD access;
  std::shared_ptr<TokenData> data;
};
// Guards every TokenData.
std::mutex& token_mutex();
// The SID blob of "S-1-..." text (empty when the text is not one).
SidBytes sid_from_text(const std::string& text);
// The process token as the world starts it: an ordinary user (S-1-5-21-...-uid)
// in Everyone, Users and Authenticated Users, the administrators alias for
// deny only unless the process runs as root; a standard user's privileges,
// SeShutdownPrivilege among them, disabled.
std::shared_ptr<TokenData> default_process_token();
// Tests: replace (or, with null, restore) the process token's data.
void set_process_token(std::shared_ptr<TokenData> data);
std::shared_ptr<TokenData> process_token();
// Is the privilege enabled in the calling thread's token, else the process's?
bool privilege_enabled(const char* name);
// The user the calling thread acts as: its impersonation token's, else the
// process's.
SidBytes acting_user();
// Tests: how often the calling thread has begun to impersonate a token.
unsigned impersonations_begun();
}  // namespace win32
