// Security helpers for tests of files in a test world.
#pragma once

#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/windows.h"

namespace win32_test {

constexpr DWORD kOwnerGroupDacl = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Gives the entry a DACL of its own (Everyone: all access), so that its
// security is not just the default. Callers check HasFatalFailure.
inline void grantEveryoneAll(const char16_t* path) {
  SID_IDENTIFIER_AUTHORITY world = {{0, 0, 0, 0, 0, 1}};
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, 0, 0, 0, 0, 0, 0, 0, 0, &everyone));
  EXPLICIT_ACCESS_W e{};
  e.grfAccessPermissions = FILE_ALL_ACCESS;
  e.grfAccessMode = GRANT_ACCESS;
  e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  e.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
  PACL acl = nullptr;
  const DWORD made = SetEntriesInAclW(1, &e, nullptr, &acl);
  FreeSid(everyone);
  ASSERT_EQ(made, DWORD{ERROR_SUCCESS});
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  const BOOL set = SetFileSecurityW(path, DACL_SECURITY_INFORMATION, &sd);
  LocalFree(acl);
  ASSERT_TRUE(set);
}

// The entry's security descriptor for `what`, as GetFileSecurityW gives it.
inline std::vector<BYTE> securityOf(const char16_t* path, DWORD what = kOwnerGroupDacl) {
  DWORD need = 0;
  GetFileSecurityW(path, what, nullptr, 0, &need);
  std::vector<BYTE> b(need);
  EXPECT_TRUE(GetFileSecurityW(path, what, b.data(), need, &need));
  b.resize(need);
  return b;
}

}  // namespace win32_test
