#include "system/machine.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/testing/test_pe.h"
#include "platform/win32/testing/test_world.h"
#include "system/layer.h"

namespace {

// The image's one resource: file version 2.5.7.3, with a FileVersion text; as
// RT_VERSION, or as an icon (an image without a version).
std::string peFile(bool withVersion) {
  return win32_test::peImage(win32_test::versionResource(0x00020005, 0x00070003, "2.5.7.3"), withVersion ? 16 : 3);
}

class FileVersion : public win32_test::World {};

TEST_F(FileVersion, FromTheVersionResource) {
  put("tool.exe", peFile(true));
  DWORD most = 0, least = 0;
  ASSERT_EQ(Windows::getFileVersion(u"C:\\tool.exe", &most, &least), 0u);
  EXPECT_EQ(most, 0x00020005u);
  EXPECT_EQ(least, 0x00070003u);
  EXPECT_EQ(Windows::getFileVersion(u"C:\\TOOL.EXE", nullptr, &least), 0u);

  // The block also answers texts, wide and narrow.
  DWORD size = GetFileVersionInfoSizeW(u"C:\\tool.exe", nullptr);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(u"C:\\tool.exe", 0, size, block.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\FileVersion", &value, &length));
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"2.5.7.3");
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "2.5.7.3");
  EXPECT_FALSE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904b0\\ProductName", &value, &length));
}

// A block shorter than the size asked for has no room for the narrow texts:
// the text query fails instead of writing past the block, binary values stay.
TEST_F(FileVersion, NarrowTextsStayInsideAShortBlock) {
  put("tool.exe", peFile(true));
  const DWORD size = GetFileVersionInfoSizeW(u"C:\\tool.exe", nullptr);
  ASSERT_GT(size, 0u);
  for (DWORD given : {size / 2, size / 2 + 8}) {
    std::vector<unsigned char> block(given);
    ASSERT_TRUE(GetFileVersionInfoW(u"C:\\tool.exe", 0, given, block.data()));
    void* value = nullptr;
    UINT length = 0;
    SetLastError(0);
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length)) << given;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << given;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length)) << given;
    EXPECT_EQ(static_cast<VS_FIXEDFILEINFO*>(value)->dwFileVersionMS, 0x00020005u);
  }
}

TEST_F(FileVersion, WithoutVersionInformation) {
  put("icons.dll", peFile(false));
  put("notes.txt", "MZ but nothing more");
  DWORD most = 7;
  EXPECT_EQ(Windows::getFileVersion(u"C:\\icons.dll", &most, nullptr), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(Windows::getFileVersion(u"C:\\notes.txt", &most, nullptr), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  EXPECT_EQ(Windows::getFileVersion(u"C:\\missing.exe", &most, nullptr), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(most, 7u);
}

TEST_F(FileVersion, PathLengthLimit) {
  // 260 characters: refused before any file-system access.
  std::u16string longPath = u"C:\\" + std::u16string(257, u'a');
  ASSERT_EQ(longPath.size(), 260u);
  EXPECT_EQ(Windows::getFileVersion(longPath.c_str(), nullptr, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  longPath.pop_back();
  EXPECT_NE(Windows::getFileVersion(longPath.c_str(), nullptr, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The layer object as a preinstallation environment shows it: the MiniNT key opens.
class MiniNtLayer : public Windows::LayerNT {
 public:
  LONG RegOpenKeyExW(HKEY, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) override {
    if (std::u16string(subKey) != u"SYSTEM\\CurrentControlSet\\Control\\MiniNT") return ERROR_FILE_NOT_FOUND;
    // The key exists only in this machine's view; the handle is a real one.
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\KvTest\\MiniNT", 0, nullptr, 0, KEY_READ, nullptr,
                             result, nullptr);
  }
};

class Shutdown : public win32_test::World {
 protected:
  void TearDown() override {
    if (saved_) Windows::layer = saved_;
    win32::unregister_export("ntdll.dll", "NtShutdownSystem");
    win32::set_workstation_locked(false);
    win32::set_process_token(nullptr);
    World::TearDown();
  }
  void asPreinstallation() {
    saved_ = Windows::layer;
    Windows::layer = &miniNt_;
  }
  Windows::LayerNT* saved_ = nullptr;
  MiniNtLayer miniNt_;
};

TEST_F(Shutdown, RecordedWithThePrivilegeEnabled) {
  win32::set_process_token(nullptr);
  ASSERT_FALSE(win32::privilege_enabled("SeShutdownPrivilege"));
  EXPECT_EQ(Windows::shutdownSystem(false, false), 0u);
  EXPECT_EQ(Windows::restartSystem(true), 0u);
  EXPECT_TRUE(win32::privilege_enabled("SeShutdownPrivilege"));  // left enabled
  EXPECT_EQ(win32::shutdown_requests(), (std::vector<std::string>{"shutdown", "restart forced"}));
}

TEST_F(Shutdown, RefusedWithoutThePrivilege) {
  auto t = win32::default_process_token();
  t->privileges.clear();
  win32::set_process_token(t);
  EXPECT_EQ(Windows::shutdownSystem(false, true), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
  EXPECT_TRUE(win32::shutdown_requests().empty());
}

TEST_F(Shutdown, LockedWorkstationRetriesForced) {
  win32::set_workstation_locked(true);
  EXPECT_EQ(Windows::shutdownSystem(false, true), 0u);
  EXPECT_EQ(win32::shutdown_requests(), (std::vector<std::string>{"restart forced"}));
}

TEST_F(Shutdown, PreinstallationUsesTheNativeCall) {
  asPreinstallation();
  EXPECT_EQ(Windows::shutdownSystem(false, true), 0u);
  EXPECT_EQ(Windows::shutdownSystem(false, false), 0u);
  EXPECT_EQ(win32::shutdown_requests(), (std::vector<std::string>{"restart (native)", "power off (native)"}));
}

// Without NtShutdownSystem nothing stopped the machine: no success is
// reported for it, and the documented call takes over.
TEST_F(Shutdown, PreinstallationWithoutTheNativeCallGoesOn) {
  asPreinstallation();
  win32::register_export("ntdll.dll", "NtShutdownSystem", nullptr);
  EXPECT_EQ(Windows::shutdownSystem(false, true), 0u);
  EXPECT_EQ(win32::shutdown_requests(), (std::vector<std::string>{"restart"}));

  // When the documented call fails too, the caller hears of the missing entry.
  std::filesystem::remove(std::filesystem::path(std::getenv("KV_WORLD_ROOT")) / "run" / "shutdown-requests");
  std::filesystem::create_directories(std::filesystem::path(std::getenv("KV_WORLD_ROOT")) / "run" / "shutdown-requests");
  EXPECT_EQ(Windows::shutdownSystem(true, false), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

// Windows 9x stops through "rundll32 shell32.dll,SHExitWindowsEx n" (1 shut
// down, 2 restart); a stand-in rundll32 in the current folder writes down
// what it was given.
TEST_F(Shutdown, WindowsNinetyEightStartsRundll32) {
  win32::set_process_token(nullptr);
  ::setenv("KV_WINDOWS_VERSION", "98", 1);
  struct Unset {
    ~Unset() { ::unsetenv("KV_WINDOWS_VERSION"); }
  } unset;
  EXPECT_EQ(Windows::shutdownSystem(false, false), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  put("rundll32", "#!/bin/sh\nprintf '%s|' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.$2\"\n");
  std::filesystem::permissions(c("rundll32"), std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  const auto seen = [&](const std::string& n) {
    for (int i = 0; i < 1000 && !std::filesystem::exists(c("rundll32." + n)); ++i) ::usleep(10000);
    return get("rundll32." + n);
  };
  EXPECT_EQ(Windows::shutdownSystem(true, false), 0u);
  EXPECT_EQ(seen("1"), "shell32.dll,SHExitWindowsEx|1|");
  EXPECT_EQ(Windows::restartSystem(false), 0u);
  EXPECT_EQ(seen("2"), "shell32.dll,SHExitWindowsEx|2|");
  // Neither the NT road nor its privilege was taken.
  EXPECT_TRUE(win32::shutdown_requests().empty());
  EXPECT_FALSE(win32::privilege_enabled("SeShutdownPrivilege"));
}

TEST(LocaleFormats, TakesTheSystemDefault) {
  std::string before = std::setlocale(LC_ALL, nullptr);
  Common::createLocaleFormats();
  std::string set = std::setlocale(LC_ALL, nullptr);
  Common::createLocaleFormats();  // again: same answer
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), set);
  Common::destroyLocaleFormats();
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), set);  // stays as set
  EXPECT_EQ(set, std::setlocale(LC_ALL, ""));
  std::setlocale(LC_ALL, before.c_str());
}

}  // namespace
