#include "platform/win32/kernel32/ansi.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"

namespace fs = std::filesystem;

namespace {
class Ansi : public win32_test::World {
 protected:
  void TearDown() override {
    SetFileApisToANSI();
    World::TearDown();
  }
};
}  // namespace

TEST_F(Ansi, NamesGoThroughTheFileApiCodePage) {
  ASSERT_TRUE(CreateDirectoryA("C:\\caf\xE9", nullptr));  // 1252
  EXPECT_TRUE(fs::is_directory(c("caf\xC3\xA9")));
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA("C:\\caf*", &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(d.cFileName, "caf\xE9");
  EXPECT_EQ(d.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  FindClose(h);

  SetFileApisToOEM();
  h = FindFirstFileA("C:\\caf*", &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(d.cFileName, "caf\x82");  // 437
  FindClose(h);
  EXPECT_EQ(GetFileAttributesA("C:\\CAF\x90"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));  // 437 upper E acute
  SetFileApisToANSI();

  HANDLE f = CreateFileA("C:\\caf\xE9\\x.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  EXPECT_TRUE(fs::exists(c("caf\xC3\xA9/x.txt")));
  EXPECT_TRUE(CopyFileA("C:\\caf\xE9\\x.txt", "C:\\y.txt", TRUE));
  EXPECT_TRUE(MoveFileA("C:\\y.txt", "C:\\z.txt"));
  EXPECT_TRUE(DeleteFileA("C:\\z.txt"));
  EXPECT_TRUE(DeleteFileA("C:\\caf\xE9\\x.txt"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\caf\xE9"));
}

TEST_F(Ansi, BufferRulesCountBytes) {
  fs::create_directories(c("w\xC3\xA9"));  // "wé"
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\w\xE9"));
  char buf[MAX_PATH];
  EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buf), 5u);
  EXPECT_STREQ(buf, "C:\\w\xE9");
  EXPECT_EQ(GetCurrentDirectoryA(3, buf), 6u);
  char* part = nullptr;
  EXPECT_EQ(GetFullPathNameA("f.txt", MAX_PATH, buf, &part), 11u);
  EXPECT_STREQ(buf, "C:\\w\xE9\\f.txt");
  ASSERT_NE(part, nullptr);
  EXPECT_STREQ(part, "f.txt");
  EXPECT_EQ(GetTempPathA(MAX_PATH, buf), 16u);
  EXPECT_STREQ(buf, "C:\\Windows\\Temp\\");
  EXPECT_EQ(GetSystemDirectoryA(buf, MAX_PATH), 19u);
  EXPECT_EQ(GetWindowsDirectoryA(buf, 4), 11u);
  EXPECT_EQ(GetLogicalDriveStringsA(MAX_PATH, buf), 8u);
  EXPECT_EQ(std::string(buf, 9), std::string("C:\\\0Z:\\\0\0", 9));
  EXPECT_EQ(ExpandEnvironmentStringsA("%SystemRoot%\\x", buf, MAX_PATH), 13u);
  EXPECT_STREQ(buf, "C:\\Windows\\x");
  UINT n = GetTempFileNameA("C:\\w\xE9", "abc", 0x2F, buf);
  EXPECT_EQ(n, 0x2Fu);
  EXPECT_STREQ(buf, "C:\\w\xE9\\abc2F.tmp");
}

TEST_F(Ansi, VolumeInformation) {
  char label[32] = "x", fsname[32];
  DWORD serial = 0, maxlen = 0, flags = 0;
  ASSERT_TRUE(GetVolumeInformationA("C:\\", label, 32, &serial, &maxlen, &flags, fsname, 32));
  EXPECT_STREQ(label, "");
  EXPECT_STREQ(fsname, "NTFS");
  EXPECT_EQ(maxlen, 255u);
  EXPECT_EQ(flags & FILE_CASE_SENSITIVE_SEARCH, 0u);
  SetLastError(0);
  EXPECT_FALSE(GetVolumeInformationW(u"C:\\Windows\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_ROOT));
  EXPECT_FALSE(GetVolumeInformationW(u"Q:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ULARGE_INTEGER total;
  EXPECT_TRUE(GetDiskFreeSpaceExA("C:\\", nullptr, &total, nullptr));
}
