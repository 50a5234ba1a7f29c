#include "platform/win32/kernel32/ansi9x.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/kernel32/changes.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/locale.h"
#include "platform/win32/kernel32/ansi.h"
#include "platform/win32/kernel32/fileops.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/handles.h"

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

namespace {

bool same_ignoring_case(std::string a, std::string b) {
  if (a.size() != b.size()) return false;
  CharUpperBuffA(a.data(), static_cast<DWORD>(a.size()));
  CharUpperBuffA(b.data(), static_cast<DWORD>(b.size()));
  return a == b;
}

std::string trimmed(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  const std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
  if (!lpAppName || !lpFileName || !*lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string file = lpFileName;
  if (file.find_first_of("\\/:") == std::string::npos) {
    char windows[MAX_PATH + 1] = {};
    const UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n > MAX_PATH) return FALSE;
    file = std::string(windows) + (windows[n - 1] == '\\' ? "" : "\\") + file;
  }
  // Read the old contents through the layer's own file calls.
  std::vector<std::string> lines;
  HANDLE in = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in != INVALID_HANDLE_VALUE) {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got) text.append(buffer, got);
    CloseHandle(in);
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
  }
  const std::string section = lpAppName;
  std::size_t start = lines.size(), end = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string t = trimmed(lines[i]);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') continue;
    if (start != lines.size()) {
      end = i;
      break;
    }
    if (same_ignoring_case(t.substr(1, t.size() - 2), section)) start = i;
  }
  if (!lpKeyName) {
    if (start != lines.size()) lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(start),
                                           lines.begin() + static_cast<std::ptrdiff_t>(end));
  } else {
    if (start == lines.size()) {
      if (!lpString) return TRUE;
      lines.push_back("[" + section + "]");
      start = lines.size() - 1;
      end = lines.size();
    }
    std::size_t found = end;
    for (std::size_t i = start + 1; i < end; ++i) {
      const std::size_t eq = lines[i].find('=');
      if (eq != std::string::npos && same_ignoring_case(trimmed(lines[i].substr(0, eq)), lpKeyName)) {
        found = i;
        break;
      }
    }
    const std::string entry = std::string(lpKeyName) + "=" + (lpString ? lpString : "");
    if (found != end) {
      if (lpString)
        lines[found] = entry;
      else
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(found));
    } else if (lpString) {
      // After the section's last entry, before any blank lines that close it.
      std::size_t at = end;
      while (at > start + 1 && trimmed(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
  }
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written = 0;
  const BOOL ok = out.empty() || WriteFile(h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == out.size();
}
