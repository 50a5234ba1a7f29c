#include "system/machine.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/test_world.h"
#include "system/layer.h"

namespace {

// Little-endian writer for hand-made files.
struct Bytes {
  std::vector<unsigned char> b;
  void at(std::size_t off) {
    if (b.size() < off) b.resize(off);
  }
  void u8(unsigned v) { b.push_back(static_cast<unsigned char>(v)); }
  void u16(unsigned v) { u8(v & 0xFF), u8((v >> 8) & 0xFF); }
  void u32(unsigned long v) { u16(v & 0xFFFF), u16((v >> 16) & 0xFFFF); }
  void wide(const char* s) {
    do u16(static_cast<unsigned char>(*s)); while (*s++);
  }
  void pad4() {
    while (b.size() % 4) u8(0);
  }
  void put16(std::size_t off, unsigned v) { b[off] = v & 0xFF, b[off + 1] = (v >> 8) & 0xFF; }
};

// VS_VERSIONINFO for file version 2.5.7.3, with a FileVersion text.
std::vector<unsigned char> versionInfo() {
  Bytes v;
  v.u16(0), v.u16(52), v.u16(0), v.wide("VS_VERSION_INFO"), v.pad4();
  v.u32(0xFEEF04BD), v.u32(0x10000);
  v.u32(0x00020005), v.u32(0x00070003);  // file version
  v.u32(0x00020005), v.u32(0x00070003);  // product version
  for (int i = 0; i < 7; ++i) v.u32(i == 2 ? 4 : i == 3 ? 1 : 0);
  std::size_t sfi = v.b.size();
  v.u16(0), v.u16(0), v.u16(1), v.wide("StringFileInfo"), v.pad4();
  std::size_t table = v.b.size();
  v.u16(0), v.u16(0), v.u16(1), v.wide("040904b0"), v.pad4();
  std::size_t str = v.b.size();
  v.u16(0), v.u16(8), v.u16(1), v.wide("FileVersion"), v.pad4(), v.wide("2.5.7.3");
  v.put16(str, static_cast<unsigned>(v.b.size() - str));
  v.pad4();
  v.put16(table, static_cast<unsigned>(v.b.size() - table));
  v.put16(sfi, static_cast<unsigned>(v.b.size() - sfi));
  v.put16(0, static_cast<unsigned>(v.b.size()));
  return v.b;
}

// A PE32 image with one .rsrc section holding `resource` as RT_VERSION 1,
// language 0x409; without it, an image whose resources hold only an icon.
std::string peFile(bool withVersion) {
  std::vector<unsigned char> info = versionInfo();
  Bytes f;
  f.u8('M'), f.u8('Z');
  f.at(0x3C), f.u32(0x40);
  f.u8('P'), f.u8('E'), f.u16(0);
  f.u16(0x14C), f.u16(1), f.u32(0), f.u32(0), f.u32(0), f.u16(0xE0), f.u16(0x102);
  std::size_t opt = f.b.size();
  f.u16(0x10B);
  f.at(opt + 92), f.u32(16);
  std::size_t rsrcSize = 0x58 + info.size();
  for (int i = 0; i < 16; ++i) f.u32(i == 2 ? 0x1000 : 0), f.u32(i == 2 ? rsrcSize : 0);
  const char name[8] = {'.', 'r', 's', 'r', 'c'};
  for (char c : name) f.u8(static_cast<unsigned char>(c));
  f.u32(rsrcSize), f.u32(0x1000), f.u32((rsrcSize + 0x1FF) & ~0x1FFu), f.u32(0x200);
  f.u32(0), f.u32(0), f.u16(0), f.u16(0), f.u32(0x40000040);
  f.at(0x200);
  // type directory, name directory, language directory, data entry
  auto dir = [&](unsigned id, unsigned long offset) {
    f.u32(0), f.u32(0), f.u16(0), f.u16(0), f.u16(0), f.u16(1);
    f.u32(id), f.u32(offset);
  };
  dir(withVersion ? 16 : 3, 0x80000018);
  dir(1, 0x80000030);
  dir(0x409, 0x48);
  f.u32(0x1000 + 0x58), f.u32(info.size()), f.u32(0), f.u32(0);
  f.b.insert(f.b.end(), info.begin(), info.end());
  f.at(0x200 + ((rsrcSize + 0x1FF) & ~0x1FFu));
  return std::string(f.b.begin(), f.b.end());
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
