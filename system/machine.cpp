#include "system/machine.h"

#include <clocale>
#include <cstring>
#include <new>

#include "platform/win32/windows.h"
#include "system/layer.h"
#include "system/security.h"

namespace Windows {

DWORD shutdownSystem(bool force, bool restart) {
  // Windows 9x stops through a rundll32 child; the force flag has no say.
  if (GetVersion() >= 0x80000000u) {
    char line[] = "rundll32 shell32.dll,SHExitWindowsEx 1";
    if (restart) line[sizeof line - 2] = '2';
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      return GetLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
  }
  if (!enablePrivilege("SeShutdownPrivilege", nullptr, true)) return GetLastError();

  HKEY miniNT = nullptr;
  bool nativeMissing = false;
  if (layer->RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\MiniNT", 0, KEY_READ,
                           &miniNT) == ERROR_SUCCESS) {
    RegCloseKey(miniNT);
    // A preinstallation environment: only the native call stops it.
    if (HMODULE ntdll = LoadLibraryA("ntdll.dll")) {
      auto shutdown =
          reinterpret_cast<NTSTATUS (*)(int)>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtShutdownSystem")));
      NTSTATUS status = shutdown ? shutdown(restart ? 1 : 2) : 0;
      FreeLibrary(ntdll);
      if (shutdown && status == 0) return 0;
      // Without the entry point nothing has stopped the machine: the
      // documented call may still do it, else the missing entry is the news.
      nativeMissing = !shutdown;
    }
  }

  if (InitiateSystemShutdownA(nullptr, nullptr, 0, force, restart)) return 0;
  if (GetLastError() == ERROR_MACHINE_LOCKED && !force &&
      InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, restart))
    return 0;
  return nativeMissing ? static_cast<DWORD>(ERROR_PROC_NOT_FOUND) : GetLastError();
}

DWORD restartSystem(bool force) { return shutdownSystem(force, true); }

DWORD getFileVersion(const WCHAR* path, DWORD* most, DWORD* least) {
  std::size_t length = 0;
  while (path && path[length]) ++length;
  if (!path || length > 259) return ERROR_INVALID_PARAMETER;
  WCHAR name[260];
  std::memcpy(name, path, (length + 1) * sizeof(WCHAR));
  DWORD handle = 0;
  DWORD size = layer->GetFileVersionInfoSizeW(name, &handle);
  if (!size) return GetLastError();
  BYTE* block = new (std::nothrow) BYTE[size];
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD result;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  if (layer->GetFileVersionInfoW(name, handle, size, block) &&
      VerQueryValueA(block, "\\", reinterpret_cast<LPVOID*>(&fixed), &fixedLength) && fixedLength) {
    if (most) *most = fixed->dwFileVersionMS;
    if (least) *least = fixed->dwFileVersionLS;
    result = 0;
  } else {
    result = GetLastError();
  }
  delete[] block;
  return result;
}

}  // namespace Windows

namespace Common {
// Nothing is kept beside the runtime's own locale, so there is nothing to
// release; the runtime's locale stays as set.
void createLocaleFormats() { std::setlocale(LC_ALL, ""); }
void destroyLocaleFormats() {}
}  // namespace Common
