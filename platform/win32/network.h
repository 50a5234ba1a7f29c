// mpr's network connections: a table of the layer's own (no SMB here) that
// tests fill, enumerate and cancel.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/lasterror.h"
#include "platform/win32/types.h"

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
std::vector<std::u16string> network_connections();  // remote names
void clear_network_connections();
}  // namespace win32
