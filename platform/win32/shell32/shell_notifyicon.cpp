#include "platform/win32/shell32/shell_notifyicon.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"

namespace {

std::mutex g_lock;
std::vector<win32::NotifyIcon>& icons() {
  static auto* v = new std::vector<win32::NotifyIcon>;
  return *v;
}

template <std::size_t N>
std::u16string field(const WCHAR (&units)[N]) {
  std::size_t n = 0;
  while (n < N && units[n]) ++n;
  return std::u16string(units, n);
}

void apply(win32::NotifyIcon& icon, const NOTIFYICONDATAW& d) {
  if (d.uFlags & NIF_MESSAGE) icon.callbackMessage = d.uCallbackMessage;
  if (d.uFlags & NIF_ICON) icon.icon = d.hIcon;
  if (d.uFlags & NIF_TIP) icon.tip = field(d.szTip);
  if (d.uFlags & NIF_STATE) icon.state = (icon.state & ~d.dwStateMask) | (d.dwState & d.dwStateMask);
  if (d.uFlags & NIF_INFO) {
    icon.info = field(d.szInfo);
    icon.infoTitle = field(d.szInfoTitle);
    icon.infoFlags = d.dwInfoFlags;
    icon.timeout = d.uTimeout;
  }
}

template <std::size_t N, std::size_t M>
void widen(WCHAR (&to)[N], const CHAR (&from)[M]) {
  const std::size_t n = strnlen(from, M);
  std::memset(to, 0, sizeof to);
  if (n) MultiByteToWideChar(CP_ACP, 0, from, static_cast<int>(n), to, static_cast<int>(N - 1));
}

}  // namespace

BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData) {
  if (!lpData || dwMessage > NIM_SETVERSION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(g_lock);
  auto& list = icons();
  auto it = std::find_if(list.begin(), list.end(), [&](const win32::NotifyIcon& i) {
    return i.window == lpData->hWnd && i.id == lpData->uID;
  });
  const bool known = it != list.end();
  switch (dwMessage) {
    case NIM_ADD:
      if (known) return FALSE;
      list.push_back(win32::NotifyIcon{lpData->hWnd, lpData->uID, 0, nullptr, {}, {}, {}, 0, 0, 0});
      apply(list.back(), *lpData);
      return TRUE;
    case NIM_MODIFY:
      if (!known) return FALSE;
      apply(*it, *lpData);
      return TRUE;
    case NIM_DELETE:
      if (!known) return FALSE;
      list.erase(it);
      return TRUE;
    default:  // focus and version: nothing to show, the icon must exist
      return known ? TRUE : FALSE;
  }
}

BOOL Shell_NotifyIconA(DWORD dwMessage, PNOTIFYICONDATAA lpData) {
  if (!lpData) return Shell_NotifyIconW(dwMessage, nullptr);
  NOTIFYICONDATAW w{};
  w.cbSize = sizeof w;
  w.hWnd = lpData->hWnd;
  w.uID = lpData->uID;
  w.uFlags = lpData->uFlags;
  w.uCallbackMessage = lpData->uCallbackMessage;
  w.hIcon = lpData->hIcon;
  widen(w.szTip, lpData->szTip);
  w.dwState = lpData->dwState;
  w.dwStateMask = lpData->dwStateMask;
  widen(w.szInfo, lpData->szInfo);
  w.uTimeout = lpData->uTimeout;
  widen(w.szInfoTitle, lpData->szInfoTitle);
  w.dwInfoFlags = lpData->dwInfoFlags;
  return Shell_NotifyIconW(dwMessage, &w);
}

namespace win32 {
std::vector<NotifyIcon> notify_icons() {
  std::lock_guard<std::mutex> g(g_lock);
  return icons();
}
}  // namespace win32
