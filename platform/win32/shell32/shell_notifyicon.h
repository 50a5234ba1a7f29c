// The notification area: the layer keeps each icon's record (by window and
// id) with Windows' add, modify and delete rules, and shows none, as the
// desktop here has no such area to show it in.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/layer/forward.h"
#include "platform/win32/layer/types.h"
#include "platform/win32/user32/window.h"

struct NOTIFYICONDATAW {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  WCHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  WCHAR szInfoTitle[64];
  DWORD dwInfoFlags;
  GUID guidItem;
  HICON hBalloonIcon;
};
// The ANSI record of Windows 2000 (no item GUID).
struct NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  CHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  CHAR szInfoTitle[64];
  DWORD dwInfoFlags;
};

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIM_SETFOCUS 0x00000003
#define NIM_SETVERSION 0x00000004
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
#define NIF_STATE 0x00000008
#define NIF_INFO 0x00000010

// FALSE for adding an icon twice, changing or removing one not added, and an
// unknown message (87); the structure's members count by uFlags.
BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData);
BOOL Shell_NotifyIconA(DWORD dwMessage, PNOTIFYICONDATAA lpData);

namespace win32 {
// Tests only: the icons kept, in the order they were added.
struct NotifyIcon {
  HWND window;
  UINT id;
  UINT callbackMessage;
  HICON icon;
  std::u16string tip, info, infoTitle;
  DWORD state, infoFlags;
  UINT timeout;
};
std::vector<NotifyIcon> notify_icons();
}  // namespace win32
