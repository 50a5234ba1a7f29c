// More ANSI twins for the Windows 9x directory code: change notifications,
// comparison and upper-casing of ANSI text (CP_ACP), and the network calls.
#pragma once

#include "platform/win32/mpr/network.h"
#include "platform/win32/layer/types.h"

struct NETRESOURCEA {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  LPSTR lpLocalName;
  LPSTR lpRemoteName;
  LPSTR lpComment;
  LPSTR lpProvider;
};
using LPNETRESOURCEA = NETRESOURCEA*;

struct REMOTE_NAME_INFOA {
  LPSTR lpUniversalName;
  LPSTR lpConnectionName;
  LPSTR lpRemainingPath;
};

HANDLE FindFirstChangeNotificationA(LPCSTR lpPathName, BOOL bWatchSubtree, DWORD dwNotifyFilter);
// As CompareStringW on the texts converted from CP_ACP; counts in bytes (-1:
// zero-terminated).
int CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2, int cchCount2);
// Upper-cases in place; characters whose upper case has no single byte in
// CP_ACP stay as they are. Returns the count.
DWORD CharUpperBuffA(LPSTR lpsz, DWORD cchLength);
DWORD WNetAddConnection3A(HWND owner, LPNETRESOURCEA resource, LPCSTR password, LPCSTR user, DWORD flags);
// REMOTE_NAME_INFO_LEVEL only; the texts follow the record in the buffer.
DWORD WNetGetUniversalNameA(LPCSTR localPath, DWORD infoLevel, LPVOID buffer, LPDWORD bufferSize);

// Sets key=value in [section] of an ini file (a bare file name lives in the
// Windows directory), replacing the key when present (names compare ignoring
// case); a null value removes the key, a null key the whole section.
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
