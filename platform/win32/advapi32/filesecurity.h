// File security. The Win32 security descriptor of a file is kept beside it
// as a self-relative blob: an extended attribute where the file system has
// them, else a side store of the world (run/security). Two parts also live
// in POSIX terms: the owner is the file's Unix owner (a user SID of the layer,
// S-1-5-21-1000-2000-3000-<1000 + uid>), and a DACL that keeps the caller
// from writing clears every write bit, which the layer's file calls then
// refuse with ERROR_ACCESS_DENIED as for a read-only file (a DACL that lets the caller
// write gives the owner's write bit back). A file without a stored blob
// answers a DACL made from its mode bits: its owner with all access (read and
// execute, delete and the rights to change security when read-only), and
// Everyone reading when the mode lets others read.
//
// Access: the SACL needs SeSecurityPrivilege enabled (else
// ERROR_PRIVILEGE_NOT_HELD); reading the other parts needs the caller to own
// the file or the DACL to grant READ_CONTROL, changing them to own it or be
// granted WRITE_DAC (DACL) or WRITE_OWNER (owner, group); otherwise
// ERROR_ACCESS_DENIED. A new owner must be the caller's user unless
// SeRestorePrivilege is enabled (else ERROR_INVALID_OWNER).
#pragma once

#include "platform/win32/advapi32/token.h"
#include "platform/win32/layer/types.h"

using SECURITY_INFORMATION = DWORD;
using PSECURITY_INFORMATION = DWORD*;

#define OWNER_SECURITY_INFORMATION 0x00000001L
#define GROUP_SECURITY_INFORMATION 0x00000002L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define SACL_SECURITY_INFORMATION 0x00000008L

#define SE_OWNER_DEFAULTED 0x0001
#define SE_GROUP_DEFAULTED 0x0002
#define SE_SACL_PRESENT 0x0010
#define SE_SACL_DEFAULTED 0x0020
#define SE_SELF_RELATIVE 0x8000

#define ERROR_INVALID_OWNER 1307L
#define ERROR_PRIVILEGE_NOT_HELD 1314L

// The self-relative form: offsets from the start instead of pointers, 0 for
// an absent part.
struct SECURITY_DESCRIPTOR_RELATIVE {
  BYTE Revision;
  BYTE Sbz1;
  WORD Control;
  DWORD Owner;
  DWORD Group;
  DWORD Sacl;
  DWORD Dacl;
};

// Writes a self-relative descriptor holding the requested parts. A buffer
// shorter than needed: FALSE, ERROR_INSUFFICIENT_BUFFER, *lpnLengthNeeded set.
BOOL GetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength, LPDWORD lpnLengthNeeded);
// Takes the absolute or the self-relative form; only the requested parts change.
BOOL SetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION SecurityInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor);

BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner, BOOL bOwnerDefaulted);
BOOL SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pGroup, BOOL bGroupDefaulted);
BOOL SetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bSaclPresent, PACL pSacl,
                               BOOL bSaclDefaulted);
DWORD GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor);
// Either form; the SID points into the descriptor, null when it has none.
BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner, LPBOOL lpbOwnerDefaulted);
