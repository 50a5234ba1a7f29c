#include "platform/win32/shell32/ansi_shell.h"

#include <cstring>
#include <string>

#include "platform/win32/layer/ansi_text.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/shell32/shobj.h"

namespace {

using Wide = win32::WideText;

std::string narrow(const WCHAR* w) {
  if (!w) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.resize(static_cast<std::size_t>(n - 1));
  return s;
}

struct StartupTexts {
  std::u16string desktop = u"WinSta0\\Default";
  std::u16string title;
  StartupTexts() {
    WCHAR path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (n > 0 && n <= MAX_PATH) title.assign(path, n);
  }
};

const StartupTexts& startupTexts() {
  static const StartupTexts texts;
  return texts;
}

}  // namespace

void GetStartupInfoW(LPSTARTUPINFOW lpStartupInfo) {
  if (!lpStartupInfo) return;
  const StartupTexts& t = startupTexts();
  *lpStartupInfo = STARTUPINFOW{};
  lpStartupInfo->cb = sizeof(STARTUPINFOW);
  lpStartupInfo->lpDesktop = const_cast<LPWSTR>(t.desktop.c_str());
  lpStartupInfo->lpTitle = const_cast<LPWSTR>(t.title.c_str());
}

void GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo) {
  if (!lpStartupInfo) return;
  struct AnsiTexts {
    std::string desktop, title;
  };
  static const AnsiTexts texts{narrow(startupTexts().desktop.c_str()), narrow(startupTexts().title.c_str())};
  STARTUPINFOW w{};
  GetStartupInfoW(&w);
  *lpStartupInfo = STARTUPINFOA{};
  win32::copy_startup_numbers(*lpStartupInfo, w);
  lpStartupInfo->cb = sizeof(STARTUPINFOA);
  lpStartupInfo->lpDesktop = const_cast<LPSTR>(texts.desktop.c_str());
  lpStartupInfo->lpTitle = const_cast<LPSTR>(texts.title.c_str());
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation) {
  Wide application(lpApplicationName), commandLine(lpCommandLine), directory(lpCurrentDirectory);
  const bool startup = lpStartupInfo != nullptr;
  Wide reserved(startup ? lpStartupInfo->lpReserved : nullptr), desktop(startup ? lpStartupInfo->lpDesktop : nullptr),
      title(startup ? lpStartupInfo->lpTitle : nullptr);
  STARTUPINFOW w{};
  if (startup) {
    win32::copy_startup_numbers(w, *lpStartupInfo);
    w.cb = sizeof w;
    w.lpReserved = reserved.get();
    w.lpDesktop = desktop.get();
    w.lpTitle = title.get();
  }
  return CreateProcessW(application.get(), commandLine.get(), lpProcessAttributes, lpThreadAttributes,
                        bInheritHandles, dwCreationFlags, lpEnvironment, directory.get(),
                        lpStartupInfo ? &w : nullptr, lpProcessInformation);
}

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* a) {
  if (!a || a->cbSize != sizeof(SHELLEXECUTEINFOA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Wide verb(a->lpVerb), file(a->lpFile), parameters(a->lpParameters), directory(a->lpDirectory);
  Wide className((a->fMask & SEE_MASK_CLASSNAME) ? a->lpClass : nullptr);
  SHELLEXECUTEINFOW w{};
  w.cbSize = sizeof w;
  w.fMask = a->fMask;
  w.hwnd = a->hwnd;
  w.lpVerb = verb.get();
  w.lpFile = file.get();
  w.lpParameters = parameters.get();
  w.lpDirectory = directory.get();
  w.nShow = a->nShow;
  w.hInstApp = a->hInstApp;
  w.lpIDList = a->lpIDList;
  w.lpClass = (a->fMask & SEE_MASK_CLASSNAME) ? className.get() : nullptr;
  w.hkeyClass = a->hkeyClass;
  w.dwHotKey = a->dwHotKey;
  w.hIcon = a->hIcon;
  w.hProcess = a->hProcess;
  const BOOL ok = ShellExecuteExW(&w);
  a->hInstApp = w.hInstApp;
  a->hProcess = w.hProcess;
  return ok;
}

HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                        INT nShowCmd) {
  return ShellExecuteW(hwnd, Wide(lpOperation).get(), Wide(lpFile).get(), Wide(lpParameters).get(),
                       Wide(lpDirectory).get(), nShowCmd);
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path) {
  if (!path) return FALSE;
  WCHAR wide[MAX_PATH];
  if (!SHGetPathFromIDListW(list, wide)) {
    path[0] = 0;
    return FALSE;
  }
  // One byte per character in the ANSI code page: a path that fitted in
  // MAX_PATH characters fits in MAX_PATH bytes.
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, path, MAX_PATH, nullptr, nullptr) <= 0) {
    path[0] = 0;
    return FALSE;
  }
  return TRUE;
}
