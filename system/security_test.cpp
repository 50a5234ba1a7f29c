#include "system/security.h"

#include "core/error.h"
#include "system/trace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::u16string u16(const char* s) {
  std::u16string r;
  for (; *s; ++s) r += static_cast<char16_t>(*s);
  return r;
}

std::string narrow(const WCHAR* s) {
  std::string r;
  for (; *s; ++s) r += static_cast<char>(*s);
  return r;
}

// SID blobs written out by hand, as Windows lays them down.
struct SidCase {
  const char* text;
  std::vector<BYTE> blob;
};
const SidCase kSids[] = {
    {"S-1-1-0", {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}},
    {"S-1-5-32-544", {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}},
    {"S-1-5-18", {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}},
    {"S-1-5-21-4294967295-1-2-1001",
     {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 2, 0, 0, 0, 0xE9, 3, 0, 0}},
    {"S-1-0x123456789ABC-7", {1, 1, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 7, 0, 0, 0}},
};

TEST(SidText, TableBothWays) {
  for (const SidCase& c : kSids) {
    SCOPED_TRACE(c.text);
    PSID sid = Windows::textToSid(u16(c.text).c_str());
    ASSERT_NE(sid, nullptr);
    ASSERT_EQ(GetLengthSid(sid), c.blob.size());
    EXPECT_EQ(std::memcmp(sid, c.blob.data(), c.blob.size()), 0);
    WCHAR text[200];
    ASSERT_TRUE(Windows::sidToText(text, const_cast<BYTE*>(c.blob.data())));
    // Hexadecimal authorities come back in lower case.
    std::string expected = c.text;
    if (expected.find("0x") != std::string::npos) expected = "S-1-0x123456789abc-7";
    EXPECT_EQ(narrow(text), expected);
    // The platform's own conversion agrees, in upper-case hexadecimal.
    LPWSTR platform = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(sid, &platform));
    EXPECT_EQ(narrow(platform), c.text);
    LocalFree(platform);
    PSID back = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(u16(c.text).c_str(), &back));
    EXPECT_TRUE(EqualSid(back, sid));
    LocalFree(back);
    FreeSid(sid);
  }
}

TEST(SidText, RefusedAndOtherRadixes) {
  for (const char* bad : {"S-2-5", "X-1-5", "S-1", "", "S-"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Windows::textToSid(u16(bad).c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(Windows::textToSid(nullptr), nullptr);
  // Fields may be hexadecimal or octal.
  PSID sid = Windows::textToSid(u"S-1-0x5-040-0x220");
  ASSERT_NE(sid, nullptr);
  WCHAR text[200];
  ASSERT_TRUE(Windows::sidToText(text, sid));
  EXPECT_EQ(narrow(text), "S-1-5-32-544");
  FreeSid(sid);
  EXPECT_FALSE(Windows::sidToText(text, nullptr));
  PSID out = nullptr;
  EXPECT_FALSE(ConvertStringSidToSidW(u"S-1-5-x", &out));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
  ASSERT_TRUE(ConvertStringSidToSidW(u"BA", &out));
  ASSERT_TRUE(Windows::sidToText(text, out));
  EXPECT_EQ(narrow(text), "S-1-5-32-544");
  LocalFree(out);
}

TEST(NetworkConnections, CancelledByServer) {
  win32::clear_network_connections();
  win32::add_network_connection(u"\\\\FS1\\share", u"X:");
  win32::add_network_connection(u"\\\\fs1\\other", u"");
  win32::add_network_connection(u"\\\\FS10\\share", u"Y:");
  win32::add_network_connection(u"\\\\fs1\\busy", u"", true);
  Windows::cancelNetworkConnections(false, u"fs1");
  EXPECT_EQ(win32::network_connections(), (std::vector<std::u16string>{u"\\\\FS10\\share", u"\\\\fs1\\busy"}));
  Windows::cancelNetworkConnections(true, u"");
  EXPECT_TRUE(win32::network_connections().empty());
}

// Each test sets the process token it needs and restores the world's.
class TokenModel : public ::testing::Test {
 protected:
  void SetUp() override {
    auto t = win32::default_process_token();
    t->groups.clear();
    t->groups.push_back({win32::sid_from_text("S-1-1-0"), SE_GROUP_ENABLED});
    t->groups.push_back({win32::sid_from_text("S-1-5-32-545"), SE_GROUP_ENABLED});
    t->groups.push_back({win32::sid_from_text("S-1-5-32-544"), SE_GROUP_USE_FOR_DENY_ONLY});
    t->groups.push_back({win32::sid_from_text("S-1-5-32-551"), 0});  // present, not enabled
    t->privileges = {{LUID{19, 0}, 0}, {LUID{23, 0}, SE_PRIVILEGE_ENABLED}};
    win32::set_process_token(t);
  }
  void TearDown() override {
    RevertToSelf();
    win32::set_process_token(nullptr);
  }
  static DWORD attributesOf(DWORD luid) {
    std::unique_ptr<BYTE[]> info(Windows::tokenInformation(TokenPrivileges, nullptr));
    auto tp = reinterpret_cast<TOKEN_PRIVILEGES*>(info.get());
    for (DWORD i = 0; i < tp->PrivilegeCount; ++i)
      if (tp->Privileges[i].Luid.LowPart == luid) return tp->Privileges[i].Attributes;
    return 0xFFFFFFFF;
  }
};

TEST_F(TokenModel, PrivilegesEnabledAndRefused) {
  EXPECT_EQ(attributesOf(19), 0u);
  EXPECT_TRUE(Windows::enablePrivilege("SeShutdownPrivilege", nullptr, true));
  EXPECT_EQ(attributesOf(19), static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
  EXPECT_TRUE(Windows::enablePrivilege("SeShutdownPrivilege", nullptr, false));
  EXPECT_EQ(attributesOf(19), 0u);

  // A privilege the token lacks: AdjustTokenPrivileges succeeds with 1300.
  EXPECT_FALSE(Windows::enablePrivilege("SeBackupPrivilege", nullptr, true));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
  EXPECT_FALSE(Windows::enablePrivilege("SeNoSuchPrivilege", nullptr, true));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));

  bool read = false;
  EXPECT_TRUE(Windows::hasPrivilege("SeShutdownPrivilege", nullptr, &read));
  EXPECT_TRUE(read);
  EXPECT_FALSE(Windows::hasPrivilege("SeBackupPrivilege", nullptr, &read));
  EXPECT_TRUE(read);

  // Adjusting needs TOKEN_ADJUST_PRIVILEGES on the handle.
  HANDLE query = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &query));
  EXPECT_FALSE(Windows::enablePrivilege("SeShutdownPrivilege", query, true));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(query);
}

TEST_F(TokenModel, MembershipByMode) {
  struct Case {
    const char* sid;
    bool mode0, mode1, mode2;
  };
  const Case cases[] = {
      {"S-1-1-0", true, true, true},
      {"S-1-5-32-544", false, true, true},   // deny-only: no member for access checks
      {"S-1-5-32-551", false, false, true},  // present but not enabled
      {"S-1-5-32-550", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sid);
    PSID sid = Windows::textToSid(u16(c.sid).c_str());
    EXPECT_EQ(Windows::isTokenMember(sid, 0), c.mode0);
    EXPECT_EQ(Windows::isTokenMember(sid, 1), c.mode1);
    EXPECT_EQ(Windows::isTokenMember(sid, 2), c.mode2);
    FreeSid(sid);
  }
  EXPECT_FALSE(Windows::isAdministrator(0));
  EXPECT_TRUE(Windows::isAdministrator(1));
}

TEST_F(TokenModel, ImpersonationIsPerThreadAndReverts) {
  auto admin = std::make_shared<win32::TokenData>(*win32::process_token());
  admin->groups.push_back({win32::sid_from_text("S-1-5-32-544"), SE_GROUP_ENABLED});
  HANDLE h = win32::handle_insert(std::make_shared<win32::TokenObject>(TOKEN_ALL_ACCESS, admin));
  EXPECT_FALSE(Windows::isAdministrator(0));
  ASSERT_TRUE(ImpersonateLoggedOnUser(h));
  EXPECT_TRUE(Windows::isAdministrator(0));
  HANDLE seen = nullptr;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &seen));
  CloseHandle(seen);

  bool otherThreadAdmin = true;
  DWORD otherError = 0;
  std::thread([&] {
    otherThreadAdmin = Windows::isAdministrator(0);
    HANDLE t = nullptr;
    OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t);
    otherError = GetLastError();
  }).join();
  EXPECT_FALSE(otherThreadAdmin);
  EXPECT_EQ(otherError, static_cast<DWORD>(ERROR_NO_TOKEN));

  ASSERT_TRUE(RevertToSelf());
  EXPECT_FALSE(Windows::isAdministrator(0));
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &seen));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
  CloseHandle(h);
}

TEST_F(TokenModel, ImpersonationScopeSuspendsAndRestores) {
  auto admin = std::make_shared<win32::TokenData>(*win32::process_token());
  admin->groups.push_back({win32::sid_from_text("S-1-5-32-544"), SE_GROUP_ENABLED});
  HANDLE h = win32::handle_insert(std::make_shared<win32::TokenObject>(TOKEN_ALL_ACCESS, admin));
  ASSERT_TRUE(ImpersonateLoggedOnUser(h));
  {
    Windows::ImpersonationScope scope;  // the process's own identity
    EXPECT_FALSE(Windows::isAdministrator(0));
  }
  EXPECT_TRUE(Windows::isAdministrator(0));
  ASSERT_TRUE(RevertToSelf());
  {
    Windows::ImpersonationScope scope(h);
    EXPECT_TRUE(Windows::isAdministrator(0));
  }
  EXPECT_FALSE(Windows::isAdministrator(0));
  try {
    Windows::ImpersonationScope scope(GetCurrentProcess());  // no token
    ADD_FAILURE() << "no error";
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 0x141772u);
    ASSERT_TRUE(e.cause());
  }
  CloseHandle(h);
}

std::vector<std::uint32_t> tracedCodes;
int recordError(int, const Common::Error& e) {
  tracedCodes.push_back(e.code());
  return 0;
}
void ignoreText(int, std::uint32_t, std::uint32_t, const char16_t*) {}

TEST_F(TokenModel, ImpersonationFailuresAreTraced) {
  const int threshold = Common::traceThreshold();
  const Common::TraceSink sink{ignoreText, nullptr, recordError};
  Common::addTraceSink(sink);
  Common::setTraceThreshold(Common::kTraceDebug);
  tracedCodes.clear();

  auto admin = std::make_shared<win32::TokenData>(*win32::process_token());
  admin->groups.push_back({win32::sid_from_text("S-1-5-32-544"), SE_GROUP_ENABLED});
  HANDLE h = win32::handle_insert(std::make_shared<win32::TokenObject>(TOKEN_ALL_ACCESS, admin));
  ASSERT_TRUE(ImpersonateLoggedOnUser(h));
  {
    Windows::ImpersonationScope scope;
  }
  EXPECT_TRUE(tracedCodes.empty());
  try {
    Windows::ImpersonationScope scope(GetCurrentProcess());  // no token
    ADD_FAILURE() << "no error";
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 0x141772u);
  }
  // The failure is traced once; the saved identity is back in place.
  EXPECT_EQ(tracedCodes, std::vector<std::uint32_t>{0x141772u});
  EXPECT_TRUE(Windows::isAdministrator(0));
  ASSERT_TRUE(RevertToSelf());
  CloseHandle(h);

  Common::setTraceThreshold(threshold);
  Common::removeTraceSink(sink);
}

TEST_F(TokenModel, SecurityAttributesCarryTheDaclBlob) {
  Windows::SecurityAttributes sa(u"S-1-1-0", DWORD{0xF001F}, DWORD{0}, u"!CurUser", DWORD{0x1F0000},
                                 DWORD{CONTAINER_INHERIT_ACE}, static_cast<const WCHAR*>(nullptr));
  ASSERT_EQ(sa.error, 0u);
  EXPECT_EQ(sa.attributes.nLength, sizeof(SECURITY_ATTRIBUTES));
  ASSERT_NE(sa.attributes.lpSecurityDescriptor, nullptr);
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sa.attributes.lpSecurityDescriptor, &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  ASSERT_TRUE(IsValidAcl(dacl));
  ASSERT_EQ(dacl->AceCount, 2);
  auto p = reinterpret_cast<const BYTE*>(dacl);
  // ACL header, then an allowed ACE: type 0, flags, size 20, mask, S-1-1-0.
  const BYTE first[] = {0, 0, 20, 0, 0x1F, 0, 0x0F, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(p[0], ACL_REVISION);
  EXPECT_EQ(std::memcmp(p + 8, first, sizeof first), 0);
  // The second names the token's user with the container-inherit flag.
  EXPECT_EQ(p[28], ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(p[29], CONTAINER_INHERIT_ACE);
  std::unique_ptr<BYTE[]> user(Windows::tokenInformation(TokenUser, nullptr));
  PSID userSid = reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid;
  EXPECT_TRUE(EqualSid(const_cast<BYTE*>(p + 36), userSid));

  // "!curuser" in any case is the same trustee.
  Windows::SecurityAttributes lower(u"!cURuSER", DWORD{1}, DWORD{0}, static_cast<const WCHAR*>(nullptr));
  EXPECT_EQ(lower.error, 0u);
  EXPECT_NE(lower.attributes.lpSecurityDescriptor, nullptr);

  Windows::SecurityAttributes bad(u"S-9-1", DWORD{1}, DWORD{0}, static_cast<const WCHAR*>(nullptr));
  EXPECT_NE(bad.error, 0u);
  EXPECT_EQ(bad.attributes.lpSecurityDescriptor, nullptr);

  Windows::SecurityAttributes none(static_cast<const WCHAR*>(nullptr));
  EXPECT_EQ(none.error, 0u);
  EXPECT_EQ(none.attributes.lpSecurityDescriptor, nullptr);
}

}  // namespace
