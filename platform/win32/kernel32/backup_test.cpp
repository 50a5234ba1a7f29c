#include "platform/win32/kernel32/backup.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_security.h"
#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

using Bytes = std::vector<BYTE>;

// A stream header written out field by field, as the documented layout has it.
Bytes stream(DWORD id, DWORD attributes, const std::u16string& name, const Bytes& body) {
  const ULONGLONG size = body.size();
  const DWORD name_size = static_cast<DWORD>(name.size() * 2);
  Bytes b(20 + name_size + body.size());
  std::memcpy(&b[0], &id, 4);
  std::memcpy(&b[4], &attributes, 4);
  std::memcpy(&b[8], &size, 8);
  std::memcpy(&b[16], &name_size, 4);
  if (name_size) std::memcpy(&b[20], name.data(), name_size);
  std::copy(body.begin(), body.end(), b.begin() + 20 + name_size);
  return b;
}

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string xattr(const std::string& path, const char* name) {
  char buf[256];
  const ssize_t n = ::getxattr(path.c_str(), name, buf, sizeof buf);
  return n < 0 ? std::string("<none>") : std::string(buf, static_cast<std::size_t>(n));
}

// The whole BackupRead output, taken `chunk` bytes at a time.
Bytes read_all(HANDLE h, BOOL security, DWORD chunk) {
  Bytes out;
  LPVOID ctx = nullptr;
  std::vector<BYTE> buf(chunk);
  for (;;) {
    DWORD got = 7777;
    EXPECT_TRUE(BackupRead(h, buf.data(), chunk, &got, FALSE, security, &ctx));
    if (got == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + got);
  }
  EXPECT_TRUE(BackupRead(h, nullptr, 0, nullptr, TRUE, security, &ctx));
  EXPECT_EQ(ctx, nullptr);
  return out;
}

class BackupStreams : public win32_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    put("src.txt", "hello");
    ASSERT_EQ(::setxattr(c("src.txt").c_str(), "user.note", "abc", 3, 0), 0);
    // A DACL of its own, so that the security stream is not just the default.
    ASSERT_NO_FATAL_FAILURE(win32_test::grantEveryoneAll(u"C:\\src.txt"));
  }
  HANDLE open(const char16_t* path, DWORD access, DWORD disposition) {
    return CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }
};

TEST_F(BackupStreams, ReadGivesDataSecurityAndAlternateStreamsInAnyChunking) {
  HANDLE h = open(u"C:\\src.txt", GENERIC_READ | READ_CONTROL, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const Bytes sec = win32_test::securityOf(u"C:\\src.txt");
  Bytes want = stream(BACKUP_DATA, 0, u"", bytes("hello"));
  const Bytes s3 = stream(BACKUP_SECURITY_DATA, STREAM_CONTAINS_SECURITY, u"", sec);
  const Bytes s4 = stream(BACKUP_ALTERNATE_DATA, 0, u":note:$DATA", bytes("abc"));
  Bytes with_security = want;
  with_security.insert(with_security.end(), s3.begin(), s3.end());
  with_security.insert(with_security.end(), s4.begin(), s4.end());
  want.insert(want.end(), s4.begin(), s4.end());
  for (DWORD chunk : {1u, 7u, 20u, 4096u}) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(read_all(h, TRUE, chunk), with_security);
    EXPECT_EQ(read_all(h, FALSE, chunk), want);
  }
  CloseHandle(h);
}

TEST_F(BackupStreams, SeekSkipsInsideTheCurrentStreamOnly) {
  HANDLE h = open(u"C:\\src.txt", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LPVOID ctx = nullptr;
  BYTE buf[64];
  DWORD got = 0, lo = 9, hi = 9;
  ASSERT_TRUE(BackupRead(h, buf, 20, &got, FALSE, FALSE, &ctx));
  ASSERT_EQ(got, 20u);
  EXPECT_TRUE(BackupSeek(h, 3, 0, &lo, &hi, &ctx));
  EXPECT_EQ(lo, 3u);
  EXPECT_EQ(hi, 0u);
  ASSERT_TRUE(BackupRead(h, buf, 2, &got, FALSE, FALSE, &ctx));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "lo");
  // Past the alternate stream's header and name, more than is left.
  ASSERT_TRUE(BackupRead(h, buf, 20 + 22, &got, FALSE, FALSE, &ctx));
  EXPECT_FALSE(BackupSeek(h, 10, 0, &lo, &hi, &ctx));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SEEK});
  EXPECT_EQ(lo, 3u);
  ASSERT_TRUE(BackupRead(h, buf, sizeof buf, &got, FALSE, FALSE, &ctx));
  EXPECT_EQ(got, 0u);
  BackupRead(h, nullptr, 0, &got, TRUE, FALSE, &ctx);
  CloseHandle(h);
}

TEST_F(BackupStreams, WriteRestoresDataAttributesAndSecurityOntoAnotherFile) {
  put("dst.txt", "a much longer old content");
  const Bytes sec = win32_test::securityOf(u"C:\\src.txt");
  Bytes all = stream(BACKUP_DATA, 0, u"", bytes("hello"));
  for (const Bytes& s : {stream(BACKUP_SECURITY_DATA, STREAM_CONTAINS_SECURITY, u"", sec),
                         stream(BACKUP_ALTERNATE_DATA, 0, u":note:$DATA", bytes("abc")),
                         stream(BACKUP_OBJECT_ID, 0, u"", bytes("0123456789abcdef"))})
    all.insert(all.end(), s.begin(), s.end());
  HANDLE h = open(u"C:\\dst.txt", GENERIC_READ | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LPVOID ctx = nullptr;
  for (std::size_t at = 0; at < all.size(); at += 3) {
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(3, all.size() - at));
    DWORD written = 0;
    ASSERT_TRUE(BackupWrite(h, all.data() + at, n, &written, FALSE, TRUE, &ctx)) << at;
    EXPECT_EQ(written, n);
  }
  EXPECT_TRUE(BackupWrite(h, nullptr, 0, nullptr, TRUE, TRUE, &ctx));
  CloseHandle(h);
  EXPECT_EQ(get("dst.txt"), "hello");
  EXPECT_EQ(xattr(c("dst.txt"), "user.note"), "abc");
  EXPECT_EQ(win32_test::securityOf(u"C:\\dst.txt"), sec);
}

TEST_F(BackupStreams, RefusedSecurityConsumesNothingSoTheBlockCanBeOfferedAgain) {
  const Bytes sec = win32_test::securityOf(u"C:\\src.txt");
  Bytes all = stream(BACKUP_SECURITY_DATA, STREAM_CONTAINS_SECURITY, u"", sec);
  const Bytes s4 = stream(BACKUP_ALTERNATE_DATA, 0, u":more:$DATA", bytes("xyz"));
  all.insert(all.end(), s4.begin(), s4.end());
  put("dst.txt", "");
  const Bytes before = win32_test::securityOf(u"C:\\dst.txt");
  HANDLE h = open(u"C:\\dst.txt", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LPVOID ctx = nullptr;
  DWORD written = 5;
  EXPECT_FALSE(BackupWrite(h, all.data(), static_cast<DWORD>(all.size()), &written, FALSE, TRUE, &ctx));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(BackupWrite(h, all.data(), static_cast<DWORD>(all.size()), &written, FALSE, FALSE, &ctx));
  EXPECT_EQ(written, all.size());
  BackupWrite(h, nullptr, 0, &written, TRUE, FALSE, &ctx);
  CloseHandle(h);
  EXPECT_EQ(xattr(c("dst.txt"), "user.more"), "xyz");
  EXPECT_EQ(win32_test::securityOf(u"C:\\dst.txt"), before);
}

TEST_F(BackupStreams, DataNeedsReadAccessAndWriteNeedsWriteAccess) {
  HANDLE h = open(u"C:\\src.txt", FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LPVOID ctx = nullptr;
  BYTE buf[16];
  DWORD got = 0;
  EXPECT_FALSE(BackupRead(h, buf, sizeof buf, &got, FALSE, FALSE, &ctx));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(ctx, nullptr);
  Bytes data = stream(BACKUP_DATA, 0, u"", bytes("x"));
  EXPECT_FALSE(BackupWrite(h, data.data(), static_cast<DWORD>(data.size()), &got, FALSE, FALSE, &ctx));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  BackupWrite(h, nullptr, 0, &got, TRUE, FALSE, &ctx);
  CloseHandle(h);
  EXPECT_EQ(get("src.txt"), "hello");
}

TEST_F(BackupStreams, ALinkBacksUpAsItsReparseData) {
  ASSERT_EQ(::symlink(c("src.txt").c_str(), c("link").c_str()), 0);
  HANDLE h = CreateFileW(u"C:\\link", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BYTE reparse[1024];
  DWORD n = 0;
  ASSERT_TRUE(DeviceIoControl(h, 0x000900A8, nullptr, 0, reparse, sizeof reparse, &n, nullptr));
  EXPECT_EQ(read_all(h, FALSE, 4096), stream(BACKUP_REPARSE_DATA, 0, u"", Bytes(reparse, reparse + n)));
  CloseHandle(h);
}

TEST(RawEncryptedFiles, FailAsOnAVolumeWithoutEncryption) {
  PVOID ctx = reinterpret_cast<PVOID>(1);
  EXPECT_EQ(OpenEncryptedFileRawW(u"nul", 0, &ctx), DWORD{ERROR_VOLUME_NOT_SUPPORT_EFS});
  EXPECT_EQ(ctx, nullptr);
  EXPECT_FALSE(DecryptFileW(u"C:\\x", 0));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_VOLUME_NOT_SUPPORT_EFS});
  HMODULE advapi = LoadLibraryW(u"advapi32.dll");
  for (const char* name : {"OpenEncryptedFileRawW", "ReadEncryptedFileRaw", "WriteEncryptedFileRaw",
                           "CloseEncryptedFileRaw", "DecryptFileW"})
    EXPECT_NE(GetProcAddress(advapi, name), nullptr) << name;
}

}  // namespace
