// The entry points GetProcAddress hands out, by module. A name that is not
// here fails with ERROR_PROC_NOT_FOUND, as on a system without it, so callers
// that look an entry point up take their fallback. Add a row when the layer
// gains a function that callers look up at run time.
#include "platform/win32/shell32/shobj.h"
#include "platform/win32/windows.h"
#include "platform/win32/ws2_32/winsock.h"

namespace win32 {

struct BuiltinExport {
  const char* module;
  const char* name;
  FARPROC entry;
};

template <class F>
FARPROC entry(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f));
}

// Made on first use: the entries are not constants, and GetProcAddress is
// called from other files' static initialisers.
const BuiltinExport* builtin_exports(std::size_t& count) {
  static const BuiltinExport table[] = {
      {"kernel32", "CreateHardLinkW", entry(&CreateHardLinkW)},
      {"kernel32", "GetFileAttributesExW", entry(&GetFileAttributesExW)},
      {"kernel32", "GetLongPathNameW", entry(&GetLongPathNameW)},
      {"kernel32", "GetShortPathNameW", entry(&GetShortPathNameW)},
      {"kernel32", "MoveFileExW", entry(&MoveFileExW)},
      {"kernel32", "SetFilePointerEx", entry(&SetFilePointerEx)},
      {"kernel32", "GetFileSizeEx", entry(&GetFileSizeEx)},
      {"kernel32", "GetDiskFreeSpaceExW", entry(&GetDiskFreeSpaceExW)},
      {"kernel32", "GetDiskFreeSpaceExA", entry(&GetDiskFreeSpaceExA)},
      {"kernel32", "GetNativeSystemInfo", entry(&GetNativeSystemInfo)},
      {"kernel32", "GetVolumePathNameW", entry(&GetVolumePathNameW)},
      {"version", "GetFileVersionInfoSizeW", entry(&GetFileVersionInfoSizeW)},
      {"version", "GetFileVersionInfoW", entry(&GetFileVersionInfoW)},
      {"version", "VerQueryValueW", entry(&VerQueryValueW)},
      {"version", "VerQueryValueA", entry(&VerQueryValueA)},
      {"ntdll", "NtShutdownSystem", entry(&NtShutdownSystem)},
      {"advapi32", "CheckTokenMembership", entry(&CheckTokenMembership)},
      {"advapi32", "SetEntriesInAclW", entry(&SetEntriesInAclW)},
      {"advapi32", "RegDeleteKeyExW", entry(&RegDeleteKeyExW)},
      {"ws2_32", "getaddrinfo", entry(&getaddrinfo)},
      {"ws2_32", "freeaddrinfo", entry(&freeaddrinfo)},
      {"advapi32", "GetFileSecurityW", entry(&GetFileSecurityW)},
      {"advapi32", "OpenEncryptedFileRawW", entry(&OpenEncryptedFileRawW)},
      {"advapi32", "ReadEncryptedFileRaw", entry(&ReadEncryptedFileRaw)},
      {"advapi32", "WriteEncryptedFileRaw", entry(&WriteEncryptedFileRaw)},
      {"advapi32", "CloseEncryptedFileRaw", entry(&CloseEncryptedFileRaw)},
      {"advapi32", "DecryptFileW", entry(&DecryptFileW)},
      {"advapi32", "SetFileSecurityW", entry(&SetFileSecurityW)},
      {"shell32", "#2", entry(&SHChangeNotifyRegister)},
      {"shell32", "#4", entry(&SHChangeNotifyDeregister)},
      {"shell32", "SHChangeNotification_Lock", entry(&SHChangeNotification_Lock)},
      {"shell32", "SHChangeNotification_Unlock", entry(&SHChangeNotification_Unlock)},
      {"shell32", "SHGetPathFromIDListW", entry(&SHGetPathFromIDListW)},
      {"shell32", "SHGetFileInfoW", entry(&SHGetFileInfoW)},
      {"shell32", "Shell_NotifyIconW", entry(&Shell_NotifyIconW)},
      {"shell32", "SHGetMalloc", entry(&SHGetMalloc)},
      {"shell32", "SHGetDesktopFolder", entry(&SHGetDesktopFolder)},
      {"shell32", "#21", entry(&ILIsEqual)},
      {"shfolder", "SHGetFolderPathW", entry(&SHGetFolderPathW)},
  };
  count = std::size(table);
  return table;
}

}  // namespace win32
