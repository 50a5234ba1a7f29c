// The open and save dialogs' request record. The dialogs themselves are FOX
// windows (platform/fox/fx_file_dialog.h); code outside the GUI reaches them
// by name, comdlg32!GetOpenFileNameW and the rest, when the program has them.
#pragma once

#include "platform/win32/layer/types.h"
#include "platform/win32/user32/window.h"

struct OPENFILENAMEW {
  DWORD lStructSize;
  HWND hwndOwner;
  void* hInstance;
  const WCHAR* lpstrFilter;
  WCHAR* lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  WCHAR* lpstrFile;
  DWORD nMaxFile;
  WCHAR* lpstrFileTitle;
  DWORD nMaxFileTitle;
  const WCHAR* lpstrInitialDir;
  const WCHAR* lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  const WCHAR* lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  const WCHAR* lpTemplateName;
};
using LPOPENFILENAMEW = OPENFILENAMEW*;

struct OPENFILENAMEA {
  DWORD lStructSize;
  HWND hwndOwner;
  void* hInstance;
  const CHAR* lpstrFilter;
  CHAR* lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  CHAR* lpstrFile;
  DWORD nMaxFile;
  CHAR* lpstrFileTitle;
  DWORD nMaxFileTitle;
  const CHAR* lpstrInitialDir;
  const CHAR* lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  const CHAR* lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  const CHAR* lpTemplateName;
};
using LPOPENFILENAMEA = OPENFILENAMEA*;

#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define OFN_EXPLORER 0x00080000
#define CDERR_STRUCTSIZE 0x0001
#define CDERR_INITIALIZATION 0x0002
#define FNERR_BUFFERTOOSMALL 0x3003
