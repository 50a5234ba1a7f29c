// mpr's network connections: a table of the layer's own (no SMB here) that
// tests fill, enumerate and cancel.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

#define RESOURCE_CONNECTED 0x00000001
#define RESOURCETYPE_ANY 0x00000000
#define RESOURCETYPE_DISK 0x00000001
#define RESOURCEDISPLAYTYPE_SHARE 0x00000003
#define RESOURCEUSAGE_CONNECTABLE 0x00000001
#define CONNECT_UPDATE_PROFILE 0x00000001
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NOT_CONNECTED 2250L
#define ERROR_OPEN_FILES 2401L

struct NETRESOURCEW {
  DWORD dwScope;
  DWORD dwType;
  DWORD dwDisplayType;
  DWORD dwUsage;
  LPWSTR lpLocalName;
  LPWSTR lpRemoteName;
  LPWSTR lpComment;
  LPWSTR lpProvider;
};
using LPNETRESOURCEW = NETRESOURCEW*;

#define REMOTE_NAME_INFO_LEVEL 0x00000002
#define CONNECT_INTERACTIVE 0x00000008
#define ERROR_CONNECTION_UNAVAIL 1201L
#define ERROR_NO_SUCH_LOGON_SESSION 1312L

struct REMOTE_NAME_INFOW {
  LPWSTR lpUniversalName;
  LPWSTR lpConnectionName;
  LPWSTR lpRemainingPath;
};

// Connects a drive letter or none to \\server or \\server\share of the world
// (net/<server>/<share>, see volumes.h): ERROR_BAD_NETPATH or
// ERROR_BAD_NET_NAME when it does not exist, ERROR_SESSION_CREDENTIAL_CONFLICT
// when the server is connected under another user name, ERROR_ALREADY_ASSIGNED
// for a letter in use. Passwords are not checked.
DWORD WNetAddConnection3W(HWND owner, LPNETRESOURCEW resource, LPCWSTR password, LPCWSTR user, DWORD flags);
// For a connected drive's path; ERROR_CONNECTION_UNAVAIL (with the names) for a
// remembered connection, ERROR_NOT_CONNECTED for a local drive.
DWORD WNetGetUniversalNameW(LPCWSTR localPath, DWORD infoLevel, LPVOID buffer, LPDWORD bufferSize);

// Only RESOURCE_CONNECTED enumerations are served.
DWORD WNetOpenEnumW(DWORD scope, DWORD type, DWORD usage, LPNETRESOURCEW resource, LPHANDLE enumHandle);
// count -1 asks for as many entries as fit; ERROR_NO_MORE_ITEMS at the end.
DWORD WNetEnumResourceW(HANDLE enumHandle, LPDWORD count, LPVOID buffer, LPDWORD bufferSize);
DWORD WNetCloseEnum(HANDLE enumHandle);
// By remote name or local device; ERROR_NOT_CONNECTED when none matches,
// ERROR_OPEN_FILES for a connection marked busy unless forced.
DWORD WNetCancelConnection2W(LPCWSTR name, DWORD flags, BOOL force);

namespace win32 {
// Tests: a connection of this process (`busy`: it has open files).
void add_network_connection(const std::u16string& remote, const std::u16string& local, bool busy = false);
// A connection remembered for `local` but not connected now.
void remember_network_connection(const std::u16string& remote, const std::u16string& local);
std::vector<std::u16string> network_connections();  // remote names of connected ones
// The user name a connection was made with (empty for the default).
std::u16string network_connection_user(const std::u16string& remote);
void clear_network_connections();
}  // namespace win32
