// ANSI twins of the process, start-up and shell-execution calls, for the
// Windows 9x code paths: texts go through CP_ACP into the wide calls and back.
// SHGetPathFromIDListA is declared with the shell's objects (shobj.h).
#pragma once

#include "platform/win32/shell32/shell.h"
#include "platform/win32/kernel32/spawn.h"
#include "platform/win32/layer/types.h"

#define SEE_MASK_CLASSNAME 0x00000001

struct STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA*;

struct SHELLEXECUTEINFOA {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCSTR lpVerb;
  LPCSTR lpFile;
  LPCSTR lpParameters;
  LPCSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  LPCSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  union {
    HANDLE hIcon;
    HANDLE hMonitor;
  };
  HANDLE hProcess;
};
using LPSHELLEXECUTEINFOA = SHELLEXECUTEINFOA*;

// The environment block passes unchanged: it is ANSI already unless
// CREATE_UNICODE_ENVIRONMENT says otherwise.
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
// The desktop and title point to ANSI copies that live as long as the process.
void GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo);
// cbSize must be sizeof(SHELLEXECUTEINFOA); the class name is read only with
// SEE_MASK_CLASSNAME.
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo);
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                        INT nShowCmd);

namespace win32 {

// Every member of one start-up record into the other but the three texts
// (the ANSI and the wide record have the same size).
template <class To, class From>
void copy_startup_numbers(To& to, const From& from) {
  static_assert(sizeof(To) == sizeof(From));
  to.cb = from.cb;
  to.dwX = from.dwX;
  to.dwY = from.dwY;
  to.dwXSize = from.dwXSize;
  to.dwYSize = from.dwYSize;
  to.dwXCountChars = from.dwXCountChars;
  to.dwYCountChars = from.dwYCountChars;
  to.dwFillAttribute = from.dwFillAttribute;
  to.dwFlags = from.dwFlags;
  to.wShowWindow = from.wShowWindow;
  to.cbReserved2 = from.cbReserved2;
  to.lpReserved2 = from.lpReserved2;
  to.hStdInput = from.hStdInput;
  to.hStdOutput = from.hStdOutput;
  to.hStdError = from.hStdError;
}

}  // namespace win32
