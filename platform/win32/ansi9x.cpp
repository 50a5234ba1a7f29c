#include "platform/win32/ansi9x.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/changes.h"
#include "platform/win32/codepage.h"
#include "platform/win32/lasterror.h"
#include "platform/win32/locale.h"

namespace {

// CP_ACP text -> UTF-16; `count` bytes, or up to the terminator when -1.
bool widen(LPCSTR s, int count, std::u16string& out) {
  out.clear();
  if (!s) return false;
  if (count < 0) count = static_cast<int>(std::strlen(s));
  if (count == 0) return true;
  const int n = MultiByteToWideChar(CP_ACP, 0, s, count, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, s, count, out.data(), n);
  return true;
}

std::string narrow(const std::u16string& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

struct OptionalWide {
  std::u16string text;
  bool present = false;
  explicit OptionalWide(LPCSTR s) : present(s != nullptr) { widen(s, -1, text); }
  LPWSTR get() { return present ? text.data() : nullptr; }
};

}  // namespace

HANDLE FindFirstChangeNotificationA(LPCSTR lpPathName, BOOL bWatchSubtree, DWORD dwNotifyFilter) {
  std::u16string w;
  if (!widen(lpPathName, -1, w)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return FindFirstChangeNotificationW(w.c_str(), bWatchSubtree, dwNotifyFilter);
}

int CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2, int cchCount2) {
  std::u16string a, b;
  if (!lpString1 || !lpString2 || (!widen(lpString1, cchCount1, a) && cchCount1 != 0) ||
      (!widen(lpString2, cchCount2, b) && cchCount2 != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return CompareStringW(Locale, dwCmpFlags, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                        static_cast<int>(b.size()));
}

DWORD CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
  if (!lpsz) return 0;
  for (DWORD i = 0; i < cchLength; ++i) {
    WCHAR w = 0;
    if (MultiByteToWideChar(CP_ACP, 0, lpsz + i, 1, &w, 1) != 1) continue;
    CharUpperBuffW(&w, 1);
    char c = 0;
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, 0, &w, 1, &c, 1, nullptr, &lossy) == 1 && !lossy) lpsz[i] = c;
  }
  return cchLength;
}

DWORD WNetAddConnection3A(HWND owner, LPNETRESOURCEA resource, LPCSTR password, LPCSTR user, DWORD flags) {
  if (!resource) return ERROR_INVALID_PARAMETER;
  OptionalWide local(resource->lpLocalName), remote(resource->lpRemoteName), comment(resource->lpComment),
      provider(resource->lpProvider), pw(password), us(user);
  NETRESOURCEW w{resource->dwScope, resource->dwType,  resource->dwDisplayType, resource->dwUsage,
                 local.get(),       remote.get(),      comment.get(),           provider.get()};
  return WNetAddConnection3W(owner, &w, pw.get(), us.get(), flags);
}

DWORD WNetGetUniversalNameA(LPCSTR localPath, DWORD infoLevel, LPVOID buffer, LPDWORD bufferSize) {
  if (!localPath || !bufferSize) return ERROR_INVALID_PARAMETER;
  if (infoLevel != REMOTE_NAME_INFO_LEVEL) return ERROR_NOT_SUPPORTED;
  OptionalWide path(localPath);
  DWORD wide_size = 0;
  DWORD r = WNetGetUniversalNameW(path.get(), infoLevel, nullptr, &wide_size);
  if (r != ERROR_MORE_DATA) {
    if (r != ERROR_SUCCESS && r != ERROR_CONNECTION_UNAVAIL) return r;
    wide_size = sizeof(REMOTE_NAME_INFOW) + 2048;
  }
  std::vector<std::uint8_t> wide(wide_size);
  r = WNetGetUniversalNameW(path.get(), infoLevel, wide.data(), &wide_size);
  if (r != ERROR_SUCCESS && r != ERROR_CONNECTION_UNAVAIL) return r;
  const auto* info = reinterpret_cast<const REMOTE_NAME_INFOW*>(wide.data());
  const std::string texts[3] = {info->lpUniversalName ? narrow(info->lpUniversalName) : std::string(),
                                info->lpConnectionName ? narrow(info->lpConnectionName) : std::string(),
                                info->lpRemainingPath ? narrow(info->lpRemainingPath) : std::string()};
  DWORD need = sizeof(REMOTE_NAME_INFOA);
  for (const auto& t : texts) need += static_cast<DWORD>(t.size() + 1);
  if (!buffer || *bufferSize < need) {
    *bufferSize = need;
    return ERROR_MORE_DATA;
  }
  auto* out = static_cast<REMOTE_NAME_INFOA*>(buffer);
  char* at = reinterpret_cast<char*>(out + 1);
  LPSTR* fields[3] = {&out->lpUniversalName, &out->lpConnectionName, &out->lpRemainingPath};
  const LPCWSTR sources[3] = {info->lpUniversalName, info->lpConnectionName, info->lpRemainingPath};
  for (int i = 0; i < 3; ++i) {
    if (!sources[i]) {
      *fields[i] = nullptr;
      continue;
    }
    std::memcpy(at, texts[i].c_str(), texts[i].size() + 1);
    *fields[i] = at;
    at += texts[i].size() + 1;
  }
  return r;
}
