#include "files/security_info.h"

#include <thread>

#include <gtest/gtest.h>

#include "files/fs_test_world.h"
#include "files/memory_file.h"
#include "platform/win32/testing/locale_testing.h"

namespace {

TEST(NativeObjectName, GivesTheNtFormOfEachKindOfPath) {
  struct Case {
    const char16_t* path;
    const char16_t* native;
  } cases[] = {
      {u"\\\\?\\UNC\\srv\\share\\f", u"\\??\\UNC\\srv\\share\\f"},
      {u"\\\\srv\\share\\f", u"\\??\\UNC\\srv\\share\\f"},
      {u"C:\\f", u"\\??\\C:\\f"},
      {u"\\\\?\\C:\\long\\f", u"\\??\\C:\\long\\f"},
      {u"\\Device\\HarddiskVolume1\\f", u"\\Device\\HarddiskVolume1\\f"},
  };
  for (const auto& c : cases) {
    NativeObjectName n(c.path);
    EXPECT_EQ(n.text(), c.native) << fs_test::narrow(c.path);
    OBJECT_ATTRIBUTES* a = n.attributes();
    EXPECT_EQ(a->Length, sizeof(OBJECT_ATTRIBUTES));
    EXPECT_EQ(a->RootDirectory, nullptr);
    EXPECT_EQ(a->Attributes, 0x240u);
    EXPECT_EQ(a->SecurityDescriptor, nullptr);
    EXPECT_EQ(a->SecurityQualityOfService, nullptr);
    ASSERT_NE(a->ObjectName, nullptr);
    EXPECT_EQ(a->ObjectName->Length, 2 * std::char_traits<char16_t>::length(c.native));
    EXPECT_EQ(a->ObjectName->MaximumLength, a->ObjectName->Length);
    EXPECT_EQ(std::u16string(a->ObjectName->Buffer, a->ObjectName->Length / 2), c.native);
  }
}

TEST(TimeZoneBias, AddsTheBiasOfTheSeasonInMilliseconds) {
  TIME_ZONE_INFORMATION tz{};
  tz.Bias = -180;  // UTC+3
  win32::set_time_zone_for_tests(&tz, TIME_ZONE_ID_UNKNOWN);
  EXPECT_EQ(time_zone_bias_ms(), -10800000);
  tz.Bias = 300;
  tz.StandardBias = 0;
  tz.DaylightBias = -60;
  win32::set_time_zone_for_tests(&tz, TIME_ZONE_ID_DAYLIGHT);
  EXPECT_EQ(time_zone_bias_ms(), 240 * 60000);
  win32::set_time_zone_for_tests(&tz, TIME_ZONE_ID_STANDARD);
  EXPECT_EQ(time_zone_bias_ms(), 300 * 60000);
  win32::set_time_zone_for_tests(nullptr);
}

TEST(AtEnd, IsTheEndOfFileErrorOnly) {
  std::unique_ptr<Common::MemoryFile> f(Common::CreateMemoryFile());
  EXPECT_FALSE(file_object::at_end(f.get()));
  std::uint32_t n = 0;
  char c;
  f->read(&c, 1, n);
  f->read_exact(&c, 1);  // nothing left: a short read stores the end of the file
  EXPECT_TRUE(file_object::at_end(f.get()));
  f->raise(0, 0x40003);
  EXPECT_FALSE(file_object::at_end(f.get()));
}

class Security : public fs_test::World {
 protected:
  void TearDown() override {
    win32::set_process_token(nullptr);
    fs_test::World::TearDown();
  }
  std::vector<BYTE> dacl_of(const char16_t* path) {
    DWORD needed = 0;
    GetFileSecurityW(path, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> b(needed);
    EXPECT_TRUE(GetFileSecurityW(path, DACL_SECURITY_INFORMATION, b.data(), needed, &needed));
    return b;
  }
};

std::uint32_t u32_at(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST_F(Security, SavedPiecesCarryOneFilesSecurityToAnother) {
  put("a.txt", "a");
  put("b.txt", "b");
  ::chmod(c("a.txt").c_str(), 0604);
  ::chmod(c("b.txt").c_str(), 0600);
  SecurityInfoHolder holder;
  ASSERT_TRUE(holder.read(u"C:\\a.txt"));
  std::vector<std::uint8_t> saved;
  std::uint32_t size = holder.save(saved);
  ASSERT_EQ(size, saved.size());
  // DACL, group, owner, each with its length; the SACL could not be read.
  std::size_t at = 0;
  std::uint32_t lengths[4];
  for (int i = 0; i < 4; ++i) {
    lengths[i] = u32_at(saved, at);
    at += 4 + lengths[i];
  }
  EXPECT_EQ(at, saved.size());
  EXPECT_EQ(size, 16 + lengths[0] + lengths[1] + lengths[2] + lengths[3]);
  EXPECT_GT(lengths[0], 20u);
  EXPECT_GT(lengths[1], 20u);
  EXPECT_GT(lengths[2], 20u);
  EXPECT_EQ(lengths[3], 0u);

  SecurityInfoHolder other;
  ASSERT_TRUE(other.load(saved.data(), saved.size()));
  EXPECT_TRUE(other.piece(3).empty());
  EXPECT_NE(dacl_of(u"C:\\b.txt"), dacl_of(u"C:\\a.txt"));
  EXPECT_TRUE(other.write(u"C:\\b.txt"));  // the empty SACL is skipped, so nothing needs the privilege
  EXPECT_EQ(dacl_of(u"C:\\b.txt"), dacl_of(u"C:\\a.txt"));
}

TEST_F(Security, LoadRefusesLengthsThatRunPastTheData) {
  std::vector<std::uint8_t> data = {4, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  SecurityInfoHolder holder;
  ASSERT_TRUE(holder.load(data.data(), data.size()));
  EXPECT_EQ(holder.piece(0), (std::vector<std::uint8_t>{1, 2, 3, 4}));
  // One byte short of the last length; a length past the end; a huge length.
  EXPECT_FALSE(holder.load(data.data(), data.size() - 1));
  EXPECT_TRUE(holder.piece(0).empty());
  std::vector<std::uint8_t> past = data;
  past[0] = 5;
  EXPECT_FALSE(holder.load(past.data(), past.size()));
  past[0] = 0xFF;
  past[3] = 0xFF;
  EXPECT_FALSE(holder.load(past.data(), past.size()));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(holder.piece(i).empty());
  EXPECT_FALSE(holder.load(nullptr, 0));
}

TEST_F(Security, WriteReportsTheFirstFailure) {
  put("a.txt", "a");
  SecurityInfoHolder holder;
  ASSERT_TRUE(holder.read(u"C:\\a.txt"));
  // Someone else may not change the file's security.
  auto stranger = std::make_shared<win32::TokenData>();
  PSID sid = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(u"S-1-5-21-1000-2000-3000-77777", &sid));
  stranger->user.assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
  LocalFree(sid);
  win32::set_process_token(stranger);
  SetLastError(0);
  EXPECT_FALSE(holder.write(u"C:\\a.txt"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  win32::set_process_token(nullptr);
  EXPECT_TRUE(holder.write(u"C:\\a.txt"));
  EXPECT_FALSE(holder.write(u"C:\\absent.txt"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(Security, AMissingEntryPointMakesReadAndWriteFail) {
  put("a.txt", "a");
  win32::register_export("advapi32", "GetFileSecurityW", nullptr);
  win32::register_export("advapi32", "SetFileSecurityW", nullptr);
  SecurityInfoHolder::look_up_entry_points();
  SecurityInfoHolder holder;
  EXPECT_FALSE(holder.read(u"C:\\a.txt"));
  EXPECT_FALSE(holder.write(u"C:\\a.txt"));
  win32::unregister_export("advapi32", "GetFileSecurityW");
  win32::unregister_export("advapi32", "SetFileSecurityW");
  SecurityInfoHolder::look_up_entry_points();
  EXPECT_TRUE(holder.read(u"C:\\a.txt"));
}

// The user a thread acts as, as SID bytes.
std::vector<BYTE> acting_user() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return {};
  BYTE buffer[256];
  DWORD got = 0;
  std::vector<BYTE> out;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &got)) {
    auto user = reinterpret_cast<TOKEN_USER*>(buffer);
    auto p = static_cast<BYTE*>(user->User.Sid);
    out.assign(p, p + GetLengthSid(user->User.Sid));
  }
  CloseHandle(token);
  return out;
}

TEST(NetworkImpersonation, TheScopeActsAsTheTokenAndRestoresTheThread) {
  std::vector<BYTE> self = acting_user();
  {
    NetworkImpersonationScope none(true);  // no token anywhere: nothing changes
    EXPECT_EQ(acting_user(), self);
    HANDLE t = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t));
  }
  // A token of another user.
  auto other = std::make_shared<win32::TokenData>(*win32::default_process_token());
  other->user[other->user.size() - 1] ^= 0x55;
  win32::set_process_token(other);
  HANDLE other_token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &other_token));
  win32::set_process_token(nullptr);

  EXPECT_EQ(set_network_impersonation_token(other_token, true), nullptr);
  {
    NetworkImpersonationScope off(false);
    EXPECT_EQ(acting_user(), self);
  }
  {
    NetworkImpersonationScope on(true);
    EXPECT_EQ(acting_user(), other->user);
  }
  EXPECT_EQ(acting_user(), self);
  HANDLE t = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t));

  // A thread's own value (here: none) overrides the process-wide one for it alone.
  std::thread([&] {
    HANDLE previous = set_network_impersonation_token(nullptr, false);
    EXPECT_EQ(network_impersonation_token(), nullptr);
    set_network_impersonation_token(previous, false);
    EXPECT_EQ(network_impersonation_token(), other_token);
  }).join();
  EXPECT_EQ(network_impersonation_token(), other_token);

  // A thread already impersonating gets its own token back.
  std::vector<BYTE> third_user;
  {
    auto third = std::make_shared<win32::TokenData>(*win32::default_process_token());
    third->user[third->user.size() - 1] ^= 0x33;
    third_user = third->user;
    win32::set_process_token(third);
    HANDLE third_token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &third_token));
    win32::set_process_token(nullptr);
    ASSERT_TRUE(ImpersonateLoggedOnUser(third_token));
    CloseHandle(third_token);
  }
  {
    NetworkImpersonationScope on(true);
    EXPECT_EQ(acting_user(), other->user);
  }
  EXPECT_EQ(acting_user(), third_user);
  RevertToSelf();
  set_network_impersonation_token(nullptr, true);
  CloseHandle(other_token);
}

}  // namespace
