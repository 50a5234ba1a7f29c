#include "platform/win32/advapi32/filesecurity.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes sid_of(const char16_t* text) {
  PSID sid = nullptr;
  EXPECT_TRUE(ConvertStringSidToSidW(text, &sid));
  auto p = static_cast<BYTE*>(sid);
  Bytes b(p, p + GetLengthSid(sid));
  LocalFree(sid);
  return b;
}

std::u16string own_user() {
  return u"S-1-5-21-1000-2000-3000-" + win32::utf8_to_utf16(std::to_string(1000 + ::getuid()));
}

// An ACL of allow (or deny) entries, through the layer's own builder.
Bytes acl_of(std::vector<std::tuple<ACCESS_MODE, DWORD, Bytes>> entries) {
  std::vector<EXPLICIT_ACCESS_W> ea;
  for (auto& [mode, mask, sid] : entries) {
    EXPLICIT_ACCESS_W e{};
    e.grfAccessPermissions = mask;
    e.grfAccessMode = mode;
    e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    e.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid.data());
    ea.push_back(e);
  }
  PACL acl = nullptr;
  EXPECT_EQ(SetEntriesInAclW(static_cast<ULONG>(ea.size()), ea.data(), nullptr, &acl), DWORD{ERROR_SUCCESS});
  Bytes b(reinterpret_cast<BYTE*>(acl), reinterpret_cast<BYTE*>(acl) + acl->AclSize);
  LocalFree(acl);
  return b;
}

// The parts of a self-relative blob, read by its documented layout.
struct Read {
  WORD control = 0;
  Bytes owner, group, sacl, dacl;
};
Read read_blob(const Bytes& b) {
  Read r;
  EXPECT_GE(b.size(), 20u);
  std::memcpy(&r.control, &b[2], 2);
  DWORD off[4];
  std::memcpy(off, &b[4], 16);
  auto sid_at = [&](DWORD o) { return o ? Bytes(b.begin() + o, b.begin() + o + 8 + 4 * b[o + 1]) : Bytes(); };
  auto acl_at = [&](DWORD o) {
    if (!o) return Bytes();
    WORD size;
    std::memcpy(&size, &b[o + 2], 2);
    return Bytes(b.begin() + o, b.begin() + o + size);
  };
  r.owner = sid_at(off[0]);
  r.group = sid_at(off[1]);
  r.sacl = acl_at(off[2]);
  r.dacl = acl_at(off[3]);
  return r;
}

class FileSecurity : public win32_test::World {
 protected:
  FileSecurity() : World("fsec-") {}
  void TearDown() override {
    win32::set_process_token(nullptr);
    World::TearDown();
  }
  // GetFileSecurityW the Windows way: ask for the size, then read.
  Bytes get(const char16_t* path, SECURITY_INFORMATION what, DWORD* error = nullptr) {
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(GetFileSecurityW(path, what, nullptr, 0, &needed));
    DWORD e = GetLastError();
    if (error) *error = e;
    if (e != ERROR_INSUFFICIENT_BUFFER) return {};
    Bytes b(needed);
    EXPECT_FALSE(GetFileSecurityW(path, what, b.data(), needed - 1, &needed));
    EXPECT_TRUE(GetFileSecurityW(path, what, b.data(), needed, &needed));
    EXPECT_EQ(needed, b.size());
    return b;
  }
  BOOL set(const char16_t* path, SECURITY_INFORMATION what, const Bytes* dacl, const Bytes* owner = nullptr,
           const Bytes* group = nullptr, const Bytes* sacl = nullptr) {
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    if (dacl) SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<PACL>(const_cast<BYTE*>(dacl->data())), FALSE);
    if (owner) SetSecurityDescriptorOwner(&sd, const_cast<BYTE*>(owner->data()), FALSE);
    if (group) SetSecurityDescriptorGroup(&sd, const_cast<BYTE*>(group->data()), FALSE);
    if (sacl) SetSecurityDescriptorSacl(&sd, TRUE, reinterpret_cast<PACL>(const_cast<BYTE*>(sacl->data())), FALSE);
    return SetFileSecurityW(path, what, &sd);
  }
  // Runs as another user: Everyone and Users, no privileges.
  void become_stranger() {
    auto t = std::make_shared<win32::TokenData>();
    t->user = sid_of(u"S-1-5-21-1000-2000-3000-77777");
    t->groups.push_back({sid_of(u"S-1-1-0"), SE_GROUP_ENABLED});
    win32::set_process_token(t);
  }
  void enable(const char* privilege) {
    auto t = std::make_shared<win32::TokenData>(*win32::default_process_token());
    LUID luid;
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, privilege, &luid));
    t->privileges.push_back({luid, SE_PRIVILEGE_ENABLED});
    win32::set_process_token(t);
  }
};

TEST_F(FileSecurity, DaclAndGroupRoundTripAndTheOwnerIsTheUnixOwner) {
  put("f.txt", "x");
  Bytes dacl = acl_of({{GRANT_ACCESS, FILE_ALL_ACCESS, sid_of(own_user().c_str())},
                       {GRANT_ACCESS, FILE_GENERIC_READ, sid_of(u"S-1-1-0")},
                       {DENY_ACCESS, FILE_WRITE_DATA, sid_of(u"S-1-5-32-546")}});
  Bytes group = sid_of(u"S-1-5-32-544");
  ASSERT_TRUE(set(u"C:\\F.TXT", DACL_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, &dacl, nullptr, &group));

  Read r = read_blob(get(u"C:\\f.txt", OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                           DACL_SECURITY_INFORMATION));
  EXPECT_EQ(r.control & (SE_SELF_RELATIVE | SE_DACL_PRESENT), SE_SELF_RELATIVE | SE_DACL_PRESENT);
  EXPECT_EQ(r.dacl, dacl);
  EXPECT_EQ(r.group, group);
  EXPECT_EQ(r.owner, sid_of(own_user().c_str()));
  EXPECT_TRUE(r.sacl.empty());
  // Only what was asked for comes back.
  Read owner_only = read_blob(get(u"C:\\f.txt", OWNER_SECURITY_INFORMATION));
  EXPECT_EQ(owner_only.owner, r.owner);
  EXPECT_TRUE(owner_only.dacl.empty());
  EXPECT_TRUE(owner_only.group.empty());
  // The blob sits beside the file, where the file system keeps extended attributes.
  EXPECT_GT(::getxattr(c("f.txt").c_str(), "user.kv.security", nullptr, 0), 0);
  // Each file has its own.
  put("g.txt", "y");
  EXPECT_NE(read_blob(get(u"C:\\g.txt", DACL_SECURITY_INFORMATION)).dacl, dacl);

  // The self-relative form is taken as well: what one file reads, another takes.
  Bytes blob = get(u"C:\\f.txt", DACL_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION);
  EXPECT_EQ(GetSecurityDescriptorLength(blob.data()), blob.size());
  ASSERT_TRUE(SetFileSecurityW(u"C:\\g.txt", DACL_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, blob.data()));
  EXPECT_EQ(read_blob(get(u"C:\\g.txt", DACL_SECURITY_INFORMATION)).dacl, dacl);
}

TEST_F(FileSecurity, WithoutAStoredDaclTheModeBitsSpeak) {
  put("open.txt", "x");
  ::chmod(c("open.txt").c_str(), 0644);
  Read r = read_blob(get(u"C:\\open.txt", DACL_SECURITY_INFORMATION));
  EXPECT_EQ(r.dacl, acl_of({{GRANT_ACCESS, FILE_ALL_ACCESS, sid_of(own_user().c_str())},
                            {GRANT_ACCESS, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, sid_of(u"S-1-1-0")}}));
  ::chmod(c("open.txt").c_str(), 0400);
  r = read_blob(get(u"C:\\open.txt", DACL_SECURITY_INFORMATION));
  EXPECT_EQ(r.dacl, acl_of({{GRANT_ACCESS, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE | DELETE | WRITE_DAC | WRITE_OWNER,
                             sid_of(own_user().c_str())}}));
}

TEST_F(FileSecurity, ADaclWithoutWriteMakesTheFileReadOnly) {
  put("f.txt", "x");
  Bytes read_only = acl_of({{GRANT_ACCESS, FILE_GENERIC_READ, sid_of(own_user().c_str())}});
  ASSERT_TRUE(set(u"C:\\f.txt", DACL_SECURITY_INFORMATION, &read_only));
  struct stat st;
  ASSERT_EQ(::stat(c("f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_NE(GetFileAttributesW(u"C:\\f.txt") & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(CreateFileW(u"C:\\f.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_FALSE(DeleteFileW(u"C:\\f.txt"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});

  Bytes writable = acl_of({{GRANT_ACCESS, GENERIC_ALL, sid_of(own_user().c_str())}});
  ASSERT_TRUE(set(u"C:\\f.txt", DACL_SECURITY_INFORMATION, &writable));
  HANDLE h = CreateFileW(u"C:\\f.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

TEST_F(FileSecurity, TheSaclNeedsTheSecurityPrivilege) {
  put("f.txt", "x");
  Bytes sacl = acl_of({{GRANT_ACCESS, FILE_ALL_ACCESS, sid_of(u"S-1-1-0")}});
  DWORD error = 0;
  EXPECT_TRUE(get(u"C:\\f.txt", SACL_SECURITY_INFORMATION, &error).empty());
  EXPECT_EQ(error, DWORD{ERROR_PRIVILEGE_NOT_HELD});
  EXPECT_FALSE(set(u"C:\\f.txt", SACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, &sacl));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PRIVILEGE_NOT_HELD});

  enable("SeSecurityPrivilege");
  ASSERT_TRUE(set(u"C:\\f.txt", SACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, &sacl));
  Read r = read_blob(get(u"C:\\f.txt", SACL_SECURITY_INFORMATION));
  EXPECT_EQ(r.sacl, sacl);
  EXPECT_NE(r.control & SE_SACL_PRESENT, 0);
}

TEST_F(FileSecurity, OthersAreRefusedUnlessTheDaclLetsThem) {
  put("private.txt", "x");
  put("shared.txt", "x");
  Bytes mine = acl_of({{GRANT_ACCESS, FILE_ALL_ACCESS, sid_of(own_user().c_str())}});
  Bytes everyone_reads = acl_of({{GRANT_ACCESS, FILE_ALL_ACCESS, sid_of(own_user().c_str())},
                                 {GRANT_ACCESS, READ_CONTROL, sid_of(u"S-1-1-0")}});
  ASSERT_TRUE(set(u"C:\\private.txt", DACL_SECURITY_INFORMATION, &mine));
  ASSERT_TRUE(set(u"C:\\shared.txt", DACL_SECURITY_INFORMATION, &everyone_reads));
  // The owner cannot hand the file to someone else without the restore privilege.
  Bytes stranger = sid_of(u"S-1-5-21-1000-2000-3000-77777");
  EXPECT_FALSE(set(u"C:\\private.txt", OWNER_SECURITY_INFORMATION, nullptr, &stranger));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_OWNER});

  become_stranger();
  DWORD error = 0;
  EXPECT_TRUE(get(u"C:\\private.txt", DACL_SECURITY_INFORMATION, &error).empty());
  EXPECT_EQ(error, DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(read_blob(get(u"C:\\shared.txt", DACL_SECURITY_INFORMATION)).dacl, everyone_reads);
  Bytes all = acl_of({{GRANT_ACCESS, FILE_ALL_ACCESS, sid_of(u"S-1-1-0")}});
  EXPECT_FALSE(set(u"C:\\shared.txt", DACL_SECURITY_INFORMATION, &all));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  win32::set_process_token(nullptr);
  EXPECT_EQ(read_blob(get(u"C:\\shared.txt", DACL_SECURITY_INFORMATION)).dacl, everyone_reads);
}

TEST_F(FileSecurity, BadInputFailsCleanly) {
  put("f.txt", "x");
  DWORD needed = 0;
  EXPECT_FALSE(GetFileSecurityW(u"C:\\absent.txt", DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  // A self-relative descriptor whose DACL offset points into its own header.
  Bytes bad(20, 0);
  bad[0] = 1;
  WORD control = SE_SELF_RELATIVE | SE_DACL_PRESENT;
  std::memcpy(&bad[2], &control, 2);
  DWORD offset = 8;
  std::memcpy(&bad[16], &offset, 4);
  EXPECT_FALSE(SetFileSecurityW(u"C:\\f.txt", DACL_SECURITY_INFORMATION, bad.data()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_SECURITY_DESCR});
  EXPECT_FALSE(SetFileSecurityW(u"C:\\f.txt", DACL_SECURITY_INFORMATION, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

}  // namespace
