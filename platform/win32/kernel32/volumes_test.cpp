#include "platform/win32/kernel32/volumes.h"

#include <sys/statvfs.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"

namespace {

class Volumes : public win32_test::World {
 protected:
  void TearDown() override {
    win32::clear_network_connections();
    win32_test::World::TearDown();
  }
};

TEST_F(Volumes, VolumePathIsTheRootOfTheDriveOrShare) {
  struct Case {
    const char16_t* path;
    const char16_t* root;
  } cases[] = {
      {u"C:\\dir\\sub\\", u"C:\\"},
      {u"c:\\x", u"C:\\"},
      {u"\\\\?\\C:\\dir\\", u"\\\\?\\C:\\"},
      {u"\\\\server\\share\\a\\b", u"\\\\server\\share\\"},
      {u"\\\\?\\UNC\\server\\share\\a", u"\\\\?\\UNC\\server\\share\\"},
  };
  for (const Case& k : cases) {
    WCHAR out[64];
    ASSERT_TRUE(GetVolumePathNameW(k.path, out, 64)) << GetLastError();
    EXPECT_EQ(std::u16string(out), k.root);
  }
  WCHAR tiny[3];
  EXPECT_FALSE(GetVolumePathNameW(u"C:\\x", tiny, 3));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(Volumes, DriveTableGivesKindLabelFileSystemAndSerial) {
  WCHAR label[32], fs[16];
  DWORD serial = 0, maxlen = 0, flags = 0;
  ASSERT_TRUE(GetVolumeInformationW(u"C:\\", label, 32, &serial, &maxlen, &flags, fs, 16));
  EXPECT_EQ(std::u16string(label), u"");
  EXPECT_EQ(std::u16string(fs), u"NTFS");
  EXPECT_EQ(GetDriveTypeW(u"C:\\"), DWORD(DRIVE_FIXED));

  win32::set_drive_info(u'C', DRIVE_REMOVABLE, u"Stick", u"FAT32", 0x1234ABCD);
  ASSERT_TRUE(GetVolumeInformationW(u"\\\\?\\C:\\", label, 32, &serial, &maxlen, &flags, fs, 16));
  EXPECT_EQ(std::u16string(label), u"Stick");
  EXPECT_EQ(std::u16string(fs), u"FAT32");
  EXPECT_EQ(serial, 0x1234ABCDu);
  EXPECT_EQ(GetDriveTypeW(u"C:\\"), DWORD(DRIVE_REMOVABLE));
  // Below the root there is no volume to describe.
  std::filesystem::create_directories(c("dir"));
  EXPECT_FALSE(GetVolumeInformationW(u"C:\\dir\\", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_ROOT));
  // A label that does not fit.
  EXPECT_FALSE(GetVolumeInformationW(u"C:\\", label, 3, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_LENGTH));
}

TEST_F(Volumes, FreeSpaceAgreesWithStatvfs) {
  ULARGE_INTEGER caller{}, total{}, free{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"C:\\", &caller, &total, &free));
  struct statvfs v;
  ASSERT_EQ(::statvfs(c().c_str(), &v), 0);
  EXPECT_EQ(total.QuadPart, ULONGLONG(v.f_blocks) * v.f_frsize);
  // Free space moves while other programs run: within 64 MB.
  const long long witness = static_cast<long long>(v.f_bavail) * v.f_frsize;
  EXPECT_LT(std::llabs(static_cast<long long>(caller.QuadPart) - witness), 64LL << 20);
}

TEST_F(Volumes, SharesAreFoldersOfTheWorld) {
  const std::string share = win32::make_share(u"fileserver", u"Public");
  std::filesystem::create_directories(share + "/docs");
  HANDLE h = CreateFileW(u"\\\\FILESERVER\\public\\docs\\note.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(std::filesystem::exists(share + "/docs/note.txt"));
  EXPECT_EQ(GetDriveTypeW(u"\\\\fileserver\\public\\"), DWORD(DRIVE_REMOTE));
  EXPECT_EQ(GetDriveTypeW(u"\\\\fileserver\\nothing\\"), DWORD(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(GetFileAttributesW(u"\\\\nohost\\public\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_NETPATH));
  EXPECT_EQ(GetFileAttributesW(u"\\\\fileserver\\nothing\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_NET_NAME));
}

TEST_F(Volumes, ARestrictedShareAdmitsOnlyTheUserItNames) {
  const std::string share = win32::make_share(u"vault", u"keys");
  std::filesystem::create_directories(share + "/d");
  // A token of another user.
  auto other = std::make_shared<win32::TokenData>(*win32::default_process_token());
  other->user.back() ^= 0x5A;
  win32::set_process_token(other);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token));
  win32::set_process_token(nullptr);
  win32::restrict_share(u"VAULT", u"Keys", other->user);

  EXPECT_EQ(GetFileAttributesW(u"\\\\vault\\keys\\d"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(GetDriveTypeW(u"\\\\vault\\keys\\"), DWORD(DRIVE_NO_ROOT_DIR));
  ASSERT_TRUE(ImpersonateLoggedOnUser(token));
  EXPECT_EQ(GetFileAttributesW(u"\\\\vault\\keys\\d"), DWORD(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetDriveTypeW(u"\\\\vault\\keys\\"), DWORD(DRIVE_REMOTE));
  RevertToSelf();
  EXPECT_EQ(GetFileAttributesW(u"\\\\vault\\keys\\d"), INVALID_FILE_ATTRIBUTES);
  // Open to everyone again.
  win32::restrict_share(u"vault", u"keys", {});
  EXPECT_EQ(GetFileAttributesW(u"\\\\vault\\keys\\d"), DWORD(FILE_ATTRIBUTE_DIRECTORY));
  CloseHandle(token);
}

TEST_F(Volumes, ConnectionsAndUniversalNames) {
  win32::make_share(u"srv", u"data");
  NETRESOURCEW r{0, RESOURCETYPE_DISK, 0, 0, nullptr, const_cast<LPWSTR>(u"\\\\srv"), nullptr, nullptr};
  EXPECT_EQ(WNetAddConnection3W(nullptr, &r, u"pw", u"alice", 0), DWORD(NO_ERROR));
  EXPECT_EQ(win32::network_connection_user(u"\\\\srv"), u"alice");
  // Another user on the same server conflicts until the first goes.
  NETRESOURCEW s{0, RESOURCETYPE_DISK, 0, 0, const_cast<LPWSTR>(u"Q:"), const_cast<LPWSTR>(u"\\\\srv\\data"),
                 nullptr, nullptr};
  EXPECT_EQ(WNetAddConnection3W(nullptr, &s, u"pw", u"bob", 0), DWORD(ERROR_SESSION_CREDENTIAL_CONFLICT));
  EXPECT_EQ(WNetCancelConnection2W(u"\\\\srv", 0, TRUE), DWORD(NO_ERROR));
  EXPECT_EQ(WNetAddConnection3W(nullptr, &s, u"pw", u"bob", 0), DWORD(NO_ERROR));
  // C: is a local disk.
  s.lpLocalName = const_cast<LPWSTR>(u"C:");
  EXPECT_EQ(WNetAddConnection3W(nullptr, &s, u"pw", u"bob", 0), DWORD(ERROR_ALREADY_ASSIGNED));
  NETRESOURCEW bad{0, RESOURCETYPE_DISK, 0, 0, nullptr, const_cast<LPWSTR>(u"\\\\nohost\\x"), nullptr, nullptr};
  EXPECT_EQ(WNetAddConnection3W(nullptr, &bad, nullptr, nullptr, 0), DWORD(ERROR_BAD_NETPATH));

  alignas(8) BYTE buf[512];
  DWORD size = sizeof buf;
  ASSERT_EQ(WNetGetUniversalNameW(u"Q:\\dir", REMOTE_NAME_INFO_LEVEL, buf, &size), DWORD(NO_ERROR));
  auto* info = reinterpret_cast<REMOTE_NAME_INFOW*>(buf);
  EXPECT_EQ(std::u16string(info->lpUniversalName), u"\\\\srv\\data\\dir");
  EXPECT_EQ(std::u16string(info->lpConnectionName), u"\\\\srv\\data");
  size = 8;
  EXPECT_EQ(WNetGetUniversalNameW(u"Q:\\dir", REMOTE_NAME_INFO_LEVEL, buf, &size), DWORD(ERROR_MORE_DATA));
  EXPECT_GT(size, 8u);
  size = sizeof buf;
  EXPECT_EQ(WNetGetUniversalNameW(u"C:\\", REMOTE_NAME_INFO_LEVEL, buf, &size), DWORD(ERROR_NOT_CONNECTED));
  win32::remember_network_connection(u"\\\\srv\\data", u"R:");
  size = sizeof buf;
  ASSERT_EQ(WNetGetUniversalNameW(u"R:\\", REMOTE_NAME_INFO_LEVEL, buf, &size), DWORD(ERROR_CONNECTION_UNAVAIL));
  EXPECT_EQ(std::u16string(info->lpConnectionName), u"\\\\srv\\data");
}

}  // namespace
