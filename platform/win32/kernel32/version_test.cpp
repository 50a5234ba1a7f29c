#include "platform/win32/windows.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace {
struct VersionEnv {
  explicit VersionEnv(const char* v) {
    if (v)
      setenv("KV_WINDOWS_VERSION", v, 1);
    else
      unsetenv("KV_WINDOWS_VERSION");
  }
  ~VersionEnv() { unsetenv("KV_WINDOWS_VERSION"); }
};
}  // namespace

TEST(Version, DefaultIsWindows10) {
  VersionEnv env(nullptr);
  DWORD v = GetVersion();
  EXPECT_EQ(v & 0x80000000u, 0u);
  EXPECT_EQ(LOBYTE(LOWORD(v)), 10);
  EXPECT_EQ(HIBYTE(LOWORD(v)), 0);
  OSVERSIONINFOEXW ex{};
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, 10u);
  EXPECT_EQ(ex.dwMinorVersion, 0u);
  EXPECT_EQ(ex.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(ex.dwBuildNumber, HIWORD(v));
  EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);
  EXPECT_FALSE(win32::is_win9x());
}

TEST(Version, Windows98Override) {
  VersionEnv env("98");
  EXPECT_EQ(GetVersion(), 0xC0000A04u);
  EXPECT_GE(GetVersion(), 0x80000000u);
  OSVERSIONINFOA a{};
  a.dwOSVersionInfoSize = sizeof a;
  ASSERT_TRUE(GetVersionExA(&a));
  EXPECT_EQ(a.dwMajorVersion, 4u);
  EXPECT_EQ(a.dwMinorVersion, 10u);
  EXPECT_EQ(a.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_EQ(a.dwBuildNumber & 0xFFFF, 1998u);
  EXPECT_TRUE(win32::is_win9x());
}

TEST(Version, OtherSystemsForVersionDependentPaths) {
  struct Case {
    const char* name;
    DWORD major, minor;
  } cases[] = {{"2000", 5, 0}, {"xp", 5, 1}, {"2003", 5, 2}, {"vista", 6, 0}, {"7", 6, 1}, {"10", 10, 0}};
  for (const Case& c : cases) {
    VersionEnv env(c.name);
    DWORD v = GetVersion();
    EXPECT_EQ(v & 0x80000000u, 0u) << c.name;
    EXPECT_EQ(LOBYTE(v), c.major) << c.name;
    EXPECT_EQ(HIBYTE(LOWORD(v)), c.minor) << c.name;
  }
}

TEST(Version, WrongStructureSizeFails) {
  OSVERSIONINFOW w{};
  w.dwOSVersionInfoSize = sizeof w - 4;
  SetLastError(0);
  EXPECT_FALSE(GetVersionExW(&w));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  w.dwOSVersionInfoSize = sizeof w;
  EXPECT_TRUE(GetVersionExW(&w));
}
