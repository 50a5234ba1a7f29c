// SHGetFileInfo over the world's files: attributes, display and type names.
// The layer has no icons: hIcon stays null and iIcon 0.
#pragma once

#include "platform/win32/layer/forward.h"
#include "platform/win32/layer/types.h"
#include "platform/win32/user32/window.h"

struct SHFILEINFOW {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  WCHAR szDisplayName[MAX_PATH];
  WCHAR szTypeName[80];
};
struct SHFILEINFOA {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  CHAR szDisplayName[MAX_PATH];
  CHAR szTypeName[80];
};

#define SHGFI_ICON 0x000000100
#define SHGFI_DISPLAYNAME 0x000000200
#define SHGFI_TYPENAME 0x000000400
#define SHGFI_ATTRIBUTES 0x000000800
#define SHGFI_EXETYPE 0x000002000
#define SHGFI_SYSICONINDEX 0x000004000
#define SHGFI_PIDL 0x000000008
#define SHGFI_USEFILEATTRIBUTES 0x000000010

// 1 on success; 0 for a missing file (unless SHGFI_USEFILEATTRIBUTES), an
// item list without a file-system path, and for SHGFI_EXETYPE and
// SHGFI_SYSICONINDEX, which need what the layer lacks. The type name is the
// registered class's name (HKCR\.ext, then its class key), else Windows'
// "<EXT> File", "File" without an extension, "File folder" for a folder.
DWORD_PTR SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT cbFileInfo, UINT uFlags);
DWORD_PTR SHGetFileInfoA(LPCSTR pszPath, DWORD dwFileAttributes, SHFILEINFOA* psfi, UINT cbFileInfo, UINT uFlags);
