#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"

namespace {

constexpr DWORD kSetReparse = 0x900A4, kGetReparse = 0x900A8, kSetSparse = 0x900C4, kZeroData = 0x980C8,
                kRanges = 0x940CF, kRetrieval = 0x90073, kCompression = 0x9C040;

class FsControl : public win32_test::World {
 protected:
  HANDLE open(const char16_t* path, DWORD access, DWORD flags = 0) {
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  }
  // A mount-point or symbolic-link buffer as the directory code builds it.
  static std::vector<BYTE> reparse(DWORD tag, const std::u16string& substitute, const std::u16string& print,
                                   ULONG flags = 0) {
    const std::size_t names = tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
    std::vector<BYTE> b(names + (substitute.size() + print.size() + 2) * 2, 0);
    std::memcpy(b.data(), &tag, 4);
    const WORD len = static_cast<WORD>(b.size() - 8);
    std::memcpy(b.data() + 4, &len, 2);
    const WORD f[4] = {0, WORD(substitute.size() * 2), WORD(substitute.size() * 2 + 2), WORD(print.size() * 2)};
    std::memcpy(b.data() + 8, f, 8);
    if (tag == IO_REPARSE_TAG_SYMLINK) std::memcpy(b.data() + 16, &flags, 4);
    std::memcpy(b.data() + names, substitute.data(), substitute.size() * 2);
    std::memcpy(b.data() + names + substitute.size() * 2 + 2, print.data(), print.size() * 2);
    return b;
  }
  static std::u16string substitute_of(const BYTE* b) {
    DWORD tag;
    std::memcpy(&tag, b, 4);
    WORD f[4];
    std::memcpy(f, b + 8, 8);
    const std::size_t names = tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
    return std::u16string(reinterpret_cast<const char16_t*>(b + names + f[0]), f[1] / 2);
  }
  std::string shell(const std::string& cmd) {
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
      char buf[512];
      while (std::fgets(buf, sizeof buf, p)) out += buf;
      ::pclose(p);
    }
    return out;
  }
};

TEST_F(FsControl, JunctionsAndLinksRoundTripAsReparsePoints) {
  std::filesystem::create_directories(c("target/sub"));
  std::filesystem::create_directories(c("j"));
  HANDLE h = open(u"C:\\j", GENERIC_WRITE, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  auto b = reparse(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\target", u"C:\\target");
  DWORD n = 0;
  ASSERT_TRUE(DeviceIoControl(h, kSetReparse, b.data(), DWORD(b.size()), nullptr, 0, &n, nullptr));
  CloseHandle(h);
  // The Unix side sees a link to the folder.
  EXPECT_TRUE(std::filesystem::is_symlink(c("j")));
  EXPECT_TRUE(std::filesystem::exists(c("j/sub")));

  WIN32_FIND_DATAW d;
  HANDLE f = FindFirstFileW(u"C:\\j", &d);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FindClose(f);
  EXPECT_EQ(d.dwReserved0, IO_REPARSE_TAG_MOUNT_POINT);
  EXPECT_TRUE(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);

  h = open(u"C:\\j", 0, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BYTE out[16384];
  ASSERT_TRUE(DeviceIoControl(h, kGetReparse, nullptr, 0, out, sizeof out, &n, nullptr));
  CloseHandle(h);
  DWORD tag;
  std::memcpy(&tag, out, 4);
  EXPECT_EQ(tag, IO_REPARSE_TAG_MOUNT_POINT);
  EXPECT_EQ(substitute_of(out), u"\\??\\C:\\target");

  // A relative link made outside the layer reads back relative.
  ASSERT_EQ(::symlink("../target", c("target/up").c_str()), 0);
  h = open(u"C:\\target\\up", 0, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DeviceIoControl(h, kGetReparse, nullptr, 0, out, sizeof out, &n, nullptr));
  CloseHandle(h);
  std::memcpy(&tag, out, 4);
  EXPECT_EQ(tag, IO_REPARSE_TAG_SYMLINK);
  EXPECT_EQ(substitute_of(out), u"..\\target");
  ULONG flags;
  std::memcpy(&flags, out + 16, 4);
  EXPECT_EQ(flags, 1u);
}

TEST_F(FsControl, ReparseErrors) {
  std::filesystem::create_directories(c("full/x"));
  put("plain.txt", "x");
  HANDLE h = open(u"C:\\full", GENERIC_WRITE, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  auto b = reparse(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\plain.txt", u"C:\\plain.txt");
  DWORD n = 0;
  EXPECT_FALSE(DeviceIoControl(h, kSetReparse, b.data(), DWORD(b.size()), nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(std::filesystem::exists(c("full/x")));
  CloseHandle(h);
  h = open(u"C:\\plain.txt", GENERIC_READ);
  BYTE out[64];
  EXPECT_FALSE(DeviceIoControl(h, kGetReparse, nullptr, 0, out, sizeof out, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_A_REPARSE_POINT));
  // Compression is a feature these volumes lack.
  USHORT format = 1;
  EXPECT_FALSE(DeviceIoControl(h, kCompression, &format, 2, nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FUNCTION));
  CloseHandle(h);
}

TEST_F(FsControl, ZeroedRangesBecomeHolesAndAllocatedRangesSkipThem) {
  put("sparse.bin", std::string(1 << 20, 'a'));
  HANDLE h = open(u"C:\\sparse.bin", GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  struct stat before;
  ASSERT_EQ(::stat(c("sparse.bin").c_str(), &before), 0);
  DWORD n = 0;
  ASSERT_TRUE(DeviceIoControl(h, kSetSparse, nullptr, 0, nullptr, 0, &n, nullptr));
  LONGLONG zero[2] = {256 * 1024, 768 * 1024};
  if (!DeviceIoControl(h, kZeroData, zero, sizeof zero, nullptr, 0, &n, nullptr)) {
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FUNCTION));
    CloseHandle(h);
    GTEST_SKIP() << "this file system punches no holes";
  }
  struct stat after;
  ASSERT_EQ(::stat(c("sparse.bin").c_str(), &after), 0);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_LE(after.st_blocks * 512, before.st_blocks * 512 - 512 * 1024 + 8192);
  const std::string bytes = get("sparse.bin");
  EXPECT_EQ(bytes[256 * 1024 - 1], 'a');
  EXPECT_EQ(bytes[256 * 1024], '\0');
  EXPECT_EQ(bytes[768 * 1024 - 1], '\0');
  EXPECT_EQ(bytes[768 * 1024], 'a');

  LONGLONG query[2] = {0, 1 << 20};
  LONGLONG ranges[8] = {};
  // Room for one range only: more data.
  EXPECT_FALSE(DeviceIoControl(h, kRanges, query, sizeof query, ranges, 16, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MORE_DATA));
  EXPECT_EQ(n, 16u);
  ASSERT_TRUE(DeviceIoControl(h, kRanges, query, sizeof query, ranges, sizeof ranges, &n, nullptr));
  ASSERT_EQ(n, 32u);
  EXPECT_EQ(ranges[0], 0);
  EXPECT_EQ(ranges[1], 256 * 1024);
  EXPECT_EQ(ranges[2], 768 * 1024);
  EXPECT_EQ(ranges[3], 256 * 1024);
  CloseHandle(h);
}

TEST_F(FsControl, RetrievalPointersAgreeWithFilefrag) {
  put("frag.bin", std::string(64 * 1024, 'z'));
  HANDLE h = open(u"C:\\frag.bin", GENERIC_READ);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LONGLONG vcn = 0;
  BYTE out[32];
  DWORD n = 0;
  BOOL ok = DeviceIoControl(h, kRetrieval, &vcn, sizeof vcn, out, sizeof out, &n, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (!ok && error == ERROR_INVALID_FUNCTION) GTEST_SKIP() << "no extent map on this file system";
  ASSERT_TRUE(ok || error == ERROR_MORE_DATA) << error;
  LONGLONG lcn;
  std::memcpy(&lcn, out + 24, 8);
  // filefrag -e -b<cluster>: "0: 0.. 15: <physical>.. " in the same units.
  DWORD spc = 0, bps = 0, fc = 0, tc = 0;
  ASSERT_TRUE(GetDiskFreeSpaceW(u"C:\\", &spc, &bps, &fc, &tc));
  const std::string text =
      shell("PATH=\"$PATH:/usr/sbin:/sbin\" filefrag -e -b" + std::to_string(spc * bps) + " '" + c("frag.bin") + "' 2>/dev/null");
  const std::size_t row = text.find("   0:");
  ASSERT_NE(row, std::string::npos) << text;
  long long l0, l1, p0;
  ASSERT_EQ(std::sscanf(text.c_str() + row, " 0: %lld.. %lld: %lld..", &l0, &l1, &p0), 3) << text;
  EXPECT_EQ(lcn, p0);
  // Past the end of the file there is nothing to map.
  h = open(u"C:\\frag.bin", GENERIC_READ);
  vcn = 1 << 20;
  EXPECT_FALSE(DeviceIoControl(h, kRetrieval, &vcn, sizeof vcn, out, sizeof out, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_HANDLE_EOF));
  CloseHandle(h);
}


bool device_error_above_2k(HANDLE, DWORD length, LPDWORD written, DWORD* error) {
  if (length <= 2048) return false;
  *written = 0;
  *error = 1117;
  return true;
}

TEST_F(FsControl, WriteFileStandInSeesWritesBeforeTheFile) {
  HANDLE h = CreateFileW(u"C:\\w.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  win32::set_write_file_hook(&device_error_above_2k);
  std::string data(4096, 'q');
  DWORD n = 7;
  EXPECT_FALSE(WriteFile(h, data.data(), 4096, &n, nullptr));
  EXPECT_EQ(GetLastError(), 1117u);
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(WriteFile(h, data.data(), 2048, &n, nullptr));
  EXPECT_EQ(n, 2048u);
  win32::set_write_file_hook(nullptr);
  CloseHandle(h);
  EXPECT_EQ(get("w.bin").size(), 2048u);
}

}  // namespace
