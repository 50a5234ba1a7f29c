#include "platform/win32/kernel32/ansi.h"

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/win32/layer/ansi_text.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"

namespace {

UINT page() { return win32::file_api_code_page(); }

struct Wide : win32::WideText {
  explicit Wide(LPCSTR s) : win32::WideText(s, page()) {}
};

std::string narrow(std::u16string_view w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(page(), 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(page(), 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

// The Win32 out-buffer rule in bytes: the length when it fits, else the size
// needed with the terminator.
DWORD copy_bytes(const std::string& s, LPSTR buffer, DWORD size) {
  if (!buffer || size < s.size() + 1) return static_cast<DWORD>(s.size() + 1);
  std::memcpy(buffer, s.c_str(), s.size() + 1);
  return static_cast<DWORD>(s.size());
}

// Runs a wide query that follows the out-buffer rule and gives its text.
template <class F>
bool query(F call, std::u16string& out) {
  WCHAR buf[MAX_PATH + 1];
  DWORD n = call(buf, MAX_PATH + 1);
  if (n == 0) return false;
  if (n <= MAX_PATH) {
    out.assign(buf, n);
    return true;
  }
  std::u16string big(n, u'\0');
  DWORD m = call(big.data(), n);
  if (m == 0 || m >= n) return false;
  out.assign(big.data(), m);
  return true;
}

void to_find_data_a(const WIN32_FIND_DATAW& w, WIN32_FIND_DATAA& a) {
  std::memcpy(&a, &w, offsetof(WIN32_FIND_DATAW, cFileName));
  std::string name = narrow(w.cFileName);
  std::string alt = narrow(w.cAlternateFileName);
  std::memset(a.cFileName, 0, sizeof a.cFileName);
  std::memset(a.cAlternateFileName, 0, sizeof a.cAlternateFileName);
  std::memcpy(a.cFileName, name.data(), std::min(name.size(), sizeof a.cFileName - 1));
  std::memcpy(a.cAlternateFileName, alt.data(), std::min(alt.size(), sizeof a.cAlternateFileName - 1));
}

}  // namespace

BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
  WCHAR label[MAX_PATH + 1], fs[MAX_PATH + 1];
  if (!GetVolumeInformationW(Wide(lpRootPathName).get(), label, MAX_PATH + 1, lpVolumeSerialNumber,
                             lpMaximumComponentLength, lpFileSystemFlags, fs, MAX_PATH + 1))
    return FALSE;
  std::string l = narrow(label), f = narrow(fs);
  if ((lpVolumeNameBuffer && nVolumeNameSize < l.size() + 1) ||
      (lpFileSystemNameBuffer && nFileSystemNameSize < f.size() + 1)) {
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  if (lpVolumeNameBuffer) std::memcpy(lpVolumeNameBuffer, l.c_str(), l.size() + 1);
  if (lpFileSystemNameBuffer) std::memcpy(lpFileSystemNameBuffer, f.c_str(), f.size() + 1);
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  WIN32_FIND_DATAW w;
  HANDLE h = FindFirstFileW(Wide(lpFileName).get(), &w);
  if (h != INVALID_HANDLE_VALUE) to_find_data_a(w, *lpFindFileData);
  return h;
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WIN32_FIND_DATAW w;
  if (!FindNextFileW(hFindFile, &w)) return FALSE;
  to_find_data_a(w, *lpFindFileData);
  return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::u16string w;
  if (!query([](LPWSTR b, DWORD n) { return GetCurrentDirectoryW(n, b); }, w)) return 0;
  return copy_bytes(narrow(w), lpBuffer, nBufferLength);
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) { return SetCurrentDirectoryW(Wide(lpPathName).get()); }

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::u16string w;
  if (!query([](LPWSTR b, DWORD n) { return GetTempPathW(n, b); }, w)) return 0;
  return copy_bytes(narrow(w), lpBuffer, nBufferLength);
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
  if (!lpTempFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WCHAR name[MAX_PATH];
  UINT r = GetTempFileNameW(Wide(lpPathName).get(), Wide(lpPrefixString).get(), uUnique, name);
  if (r == 0) return 0;
  std::string s = narrow(name);
  if (s.size() >= MAX_PATH) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  std::memcpy(lpTempFileName, s.c_str(), s.size() + 1);
  return r;
}

DWORD GetLogicalDriveStringsA(DWORD nBufferLength, LPSTR lpBuffer) {
  WCHAR w[27 * 4 + 1];
  DWORD n = GetLogicalDriveStringsW(27 * 4 + 1, w);
  std::string s;
  for (DWORD i = 0; i < n; ++i) s += static_cast<char>(w[i]);  // drive roots are ASCII
  if (!lpBuffer || nBufferLength < s.size() + 1) return static_cast<DWORD>(s.size() + 1);
  std::memcpy(lpBuffer, s.data(), s.size());
  lpBuffer[s.size()] = 0;
  return static_cast<DWORD>(s.size());
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  std::u16string w;
  if (!query([](LPWSTR b, DWORD n) { return GetSystemDirectoryW(b, n); }, w)) return 0;
  return copy_bytes(narrow(w), lpBuffer, uSize);
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  std::u16string w;
  if (!query([](LPWSTR b, DWORD n) { return GetWindowsDirectoryW(b, n); }, w)) return 0;
  return copy_bytes(narrow(w), lpBuffer, uSize);
}

DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  Wide in(lpszLongPath);
  std::u16string w;
  if (!query([&](LPWSTR b, DWORD n) { return GetShortPathNameW(in.get(), b, n); }, w)) return 0;
  return copy_bytes(narrow(w), lpszShortPath, cchBuffer);
}

DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
  Wide in(lpFileName);
  std::u16string w;
  if (!query([&](LPWSTR b, DWORD n) { return GetFullPathNameW(in.get(), n, b, nullptr); }, w)) return 0;
  std::string s = narrow(w);
  DWORD r = copy_bytes(s, lpBuffer, nBufferLength);
  if (lpFilePart) {
    *lpFilePart = nullptr;
    if (r < nBufferLength && lpBuffer && !s.empty() && s.back() != '\\') {
      std::size_t slash = s.find_last_of('\\');
      if (slash != std::string::npos) *lpFilePart = lpBuffer + slash + 1;
    }
  }
  return r;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  return CreateDirectoryW(Wide(lpPathName).get(), lpSecurityAttributes);
}
BOOL RemoveDirectoryA(LPCSTR lpPathName) { return RemoveDirectoryW(Wide(lpPathName).get()); }
DWORD GetFileAttributesA(LPCSTR lpFileName) { return GetFileAttributesW(Wide(lpFileName).get()); }
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  return SetFileAttributesW(Wide(lpFileName).get(), dwFileAttributes);
}
BOOL DeleteFileA(LPCSTR lpFileName) { return DeleteFileW(Wide(lpFileName).get()); }
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  return CopyFileW(Wide(lpExistingFileName).get(), Wide(lpNewFileName).get(), bFailIfExists);
}
BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return MoveFileW(Wide(lpExistingFileName).get(), Wide(lpNewFileName).get());
}
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  return MoveFileExW(Wide(lpExistingFileName).get(), Wide(lpNewFileName).get(), dwFlags);
}

DWORD ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  Wide in(lpSrc);
  if (!in.get()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD n = ExpandEnvironmentStringsW(in.get(), nullptr, 0);
  std::u16string w(n, u'\0');
  ExpandEnvironmentStringsW(in.get(), w.data(), n);
  w.resize(n ? n - 1 : 0);
  std::string s = narrow(w);
  if (lpDst && nSize >= s.size() + 1) std::memcpy(lpDst, s.c_str(), s.size() + 1);
  return static_cast<DWORD>(s.size() + 1);
}

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  return LoadLibraryExW(Wide(lpLibFileName).get(), hFile, dwFlags);
}

BOOL GetDiskFreeSpaceA(LPCSTR lpRootPathName, LPDWORD lpSectorsPerCluster, LPDWORD lpBytesPerSector,
                       LPDWORD lpNumberOfFreeClusters, LPDWORD lpTotalNumberOfClusters) {
  return GetDiskFreeSpaceW(Wide(lpRootPathName).get(), lpSectorsPerCluster, lpBytesPerSector, lpNumberOfFreeClusters,
                           lpTotalNumberOfClusters);
}

BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  return GetDiskFreeSpaceExW(Wide(lpDirectoryName).get(), lpFreeBytesAvailableToCaller, lpTotalNumberOfBytes,
                             lpTotalNumberOfFreeBytes);
}
