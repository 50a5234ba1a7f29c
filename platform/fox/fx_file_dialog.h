// comdlg32's open and save dialogs over FOX's FXFileDialog: Windows paths in
// and out through the layer's drive mapping, the Windows filter list turned
// into FOX patterns. The dialog runs modally on the calling (GUI) thread.
#pragma once

#include "platform/win32/layer/types.h"

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

#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define OFN_EXPLORER 0x00080000
#define CDERR_STRUCTSIZE 0x0001
#define CDERR_INITIALIZATION 0x0002
#define FNERR_BUFFERTOOSMALL 0x3003

// 0 for cancel or failure (CommDlgExtendedError tells which). A chosen path
// that does not fit nMaxFile with its terminator is refused with
// FNERR_BUFFERTOOSMALL and the needed size in the buffer's first character,
// as Windows does: no path is handed back cut.
BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn);
BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn);
DWORD CommDlgExtendedError();
