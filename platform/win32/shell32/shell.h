// Shell execution. A program (".exe", ".com", or a file with execute
// permission) starts through CreateProcessW with the parameters after it; a
// document, a folder or a URL goes to the desktop's opener (xdg-open on the
// PATH) as its Unix path or as the URL. Only the "open" verb (or none) is
// served; another verb, or no opener, fails with ERROR_NO_ASSOCIATION
// (instance value SE_ERR_NOASSOC). A program that cannot run here fails with
// ERROR_BAD_EXE_FORMAT (instance value SE_ERR_BADFORMAT, 11).
//
// Tests switch the recorder on: calls are then recorded and answered as
// successes (instance value 42, no process) and nothing is opened or run.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/layer/forward.h"
#include "platform/win32/kernel32/spawn.h"
#include "platform/win32/layer/types.h"

#define SEE_MASK_DEFAULT 0x00000000
#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SEE_MASK_FLAG_NO_UI 0x00000400

#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_BADFORMAT 11
#define ERROR_NO_ASSOCIATION 1155L

struct SHELLEXECUTEINFOW {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  union {
    HANDLE hIcon;
    HANDLE hMonitor;
  };
  HANDLE hProcess;
};
using LPSHELLEXECUTEINFOW = SHELLEXECUTEINFOW*;

// hProcess is set (or null when no process was started) only with
// SEE_MASK_NOCLOSEPROCESS. hInstApp is above 32 on success.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo);
HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR lpDirectory,
                        INT nShowCmd);

namespace win32 {

struct ShellCall {
  std::u16string verb, file, parameters, directory;
  int show = 0;
  bool program = false;  // would start as a program rather than go to the opener
};
// Switching on empties the record.
void record_shell_calls(bool on);
std::vector<ShellCall> recorded_shell_calls();

}  // namespace win32
