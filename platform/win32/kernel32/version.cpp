#include "platform/win32/kernel32/version.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/win32/kernel32/lasterror.h"

namespace {

struct Release {
  const char* name;
  DWORD major, minor, build, platform;
  const char* csd;
};

// The systems a test may ask for with KV_WINDOWS_VERSION; the first is the default.
constexpr Release kReleases[] = {
    {"10", 10, 0, 19045, VER_PLATFORM_WIN32_NT, ""},
    {"95", 4, 0, 950, VER_PLATFORM_WIN32_WINDOWS, ""},
    {"98", 4, 10, 1998, VER_PLATFORM_WIN32_WINDOWS, ""},
    {"me", 4, 90, 3000, VER_PLATFORM_WIN32_WINDOWS, ""},
    {"nt4", 4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6"},
    {"2000", 5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"},
    {"xp", 5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"},
    {"2003", 5, 2, 3790, VER_PLATFORM_WIN32_NT, "Service Pack 2"},
    {"vista", 6, 0, 6002, VER_PLATFORM_WIN32_NT, "Service Pack 2"},
    {"7", 6, 1, 7601, VER_PLATFORM_WIN32_NT, "Service Pack 1"},
    {"8", 6, 2, 9200, VER_PLATFORM_WIN32_NT, ""},
    {"8.1", 6, 3, 9600, VER_PLATFORM_WIN32_NT, ""},
};

// Read on every call so that a test can switch systems within one process.
const Release& current() {
  const char* v = std::getenv("KV_WINDOWS_VERSION");
  if (v && *v) {
    for (const Release& r : kReleases)
      if (strcasecmp(r.name, v) == 0) return r;
  }
  return kReleases[0];
}

template <class Info, class Char>
BOOL fill(Info* info, bool ex_size_ok) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Release& r = current();
  const bool nt = r.platform == VER_PLATFORM_WIN32_NT;
  info->dwMajorVersion = r.major;
  info->dwMinorVersion = r.minor;
  // Windows 9x keeps the version in the high word of the build number.
  info->dwBuildNumber = nt ? r.build : ((r.major << 24) | (r.minor << 16) | r.build);
  info->dwPlatformId = r.platform;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  for (std::size_t i = 0; r.csd[i] && i + 1 < 128; ++i) info->szCSDVersion[i] = static_cast<Char>(r.csd[i]);
  return TRUE;
}

template <class Plain, class Ex, class Char>
BOOL get_version_ex(Plain* info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = info->dwOSVersionInfoSize;
  if (size != sizeof(Plain) && size != sizeof(Ex)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  fill<Plain, Char>(info, true);
  if (size == sizeof(Ex)) {
    const Release& r = current();
    Ex* ex = reinterpret_cast<Ex*>(info);
    const bool nt = r.platform == VER_PLATFORM_WIN32_NT;
    ex->wServicePackMajor = 0;
    if (nt && std::strncmp(r.csd, "Service Pack ", 13) == 0) ex->wServicePackMajor = static_cast<WORD>(r.csd[13] - '0');
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = nt ? 0x0100 : 0;  // VER_SUITE_SINGLEUSERTS
    ex->wProductType = nt ? VER_NT_WORKSTATION : 0;
    ex->wReserved = 0;
  }
  return TRUE;
}

}  // namespace

DWORD GetVersion() {
  const Release& r = current();
  DWORD low = r.major | (r.minor << 8);
  if (r.platform == VER_PLATFORM_WIN32_NT) return low | (r.build << 16);
  return low | 0xC0000000u;
}

BOOL GetVersionExW(LPOSVERSIONINFOW info) { return get_version_ex<OSVERSIONINFOW, OSVERSIONINFOEXW, WCHAR>(info); }

BOOL GetVersionExA(LPOSVERSIONINFOA info) { return get_version_ex<OSVERSIONINFOA, OSVERSIONINFOEXA, char>(info); }

namespace win32 {
bool is_win9x() { return current().platform != VER_PLATFORM_WIN32_NT; }
}  // namespace win32
