// The shell namespace as a small model over the world's drives and network:
// the desktop holds the computer (its drives and their folders), the network
// (servers, their shares and folders) and the documents folder.
//
// Item ID lists use this layer's own encoding: each item is its 16-bit size,
// a tag byte and the item's name in UTF-16 (no terminator); a zero size ends
// the list. Lists handed out are allocated with CoTaskMemAlloc.
#pragma once

#include "platform/win32/layer/forward.h"
#include "platform/win32/layer/types.h"

#pragma pack(push, 1)
struct SHITEMID {
  USHORT cb;
  BYTE abID[1];
};
struct ITEMIDLIST {
  SHITEMID mkid;
};
#pragma pack(pop)
using LPITEMIDLIST = ITEMIDLIST*;

#define CSIDL_PERSONAL 0x0005
#define CSIDL_DESKTOPDIRECTORY 0x0010
#define CSIDL_APPDATA 0x001a
#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_COMMON_APPDATA 0x0023
#define CSIDL_WINDOWS 0x0024
#define CSIDL_SYSTEM 0x0025
#define CSIDL_FLAG_CREATE 0x8000

void* CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(void* block);

// The special folders over the world's user folders. With CSIDL_FLAG_CREATE a
// missing folder is made; a folder that is missing (or cannot be made) fails
// with the Win32 error as HRESULT.
HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path);
// The same folders; FALSE when the folder is not there (or cannot be made
// with `create`).
BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR path, int csidl, BOOL create);

// "X:\dir\...", "\\server\share\dir\..." and the class-id names of the
// computer, network and documents folders. Items on disk must exist.
HRESULT SHParseDisplayName(LPCWSTR name, void* bind_context, LPITEMIDLIST* list, ULONG sfgao_in, ULONG* sfgao_out);
// FALSE for lists without a file-system path (desktop, computer, network).
BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path);
// Equal item by item, names compared ignoring case.
BOOL ILIsEqual(LPCITEMIDLIST a, LPCITEMIDLIST b);
// Size in bytes, terminator included.
UINT ILGetSize(LPCITEMIDLIST list);

namespace win32 {

// `folder` with an item for `name` (a file or folder inside it) appended, as
// parsing would give it; allocated with CoTaskMemAlloc, null without memory.
LPITEMIDLIST append_name_item(LPCITEMIDLIST folder, LPCWSTR name);

}  // namespace win32
