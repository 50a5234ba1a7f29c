// Windows paths over the Unix file system.
//
// Drive Z: is "/"; drive C: is a private folder of the world (KV_DRIVE_C, else
// $KV_WORLD_ROOT/drive_c, where KV_WORLD_ROOT defaults to
// ${XDG_DATA_HOME:-~/.local/share}/korvane-world); KV_DRIVE_<letter> maps any
// other letter. "\\?\" long paths are accepted, '/' and '\' both separate, and a
// name is looked up as given and then, component by component, ignoring case.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/layer/types.h"

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart);
DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
BOOL SetCurrentDirectoryW(LPCWSTR lpPathName);
// 8.3 names: a name that fits 8.3 stays as it is; any other gets "BASE~N.EXT",
// unique in its folder and kept for the process's life (short_names.cpp).
DWORD GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer);
// Long names of existing paths are the paths.
DWORD GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer);
// C:\Windows\Temp\ unless TMP or TEMP holds a Windows path.
DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);  // C:\Windows
UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);   // C:\Windows\System32
UINT GetDriveTypeW(LPCWSTR lpRootPathName);
UINT GetDriveTypeA(LPCSTR lpRootPathName);
DWORD GetLogicalDrives();
DWORD GetLogicalDriveStringsW(DWORD nBufferLength, LPWSTR lpBuffer);

namespace win32 {

// The world's root folder (created on demand).
std::string world_root();
// The Unix folder behind a drive letter, empty when the letter names no drive.
// Drive C's folder is created on demand.
std::string drive_root(char16_t letter);

// How much of a mapped path exists.
enum class PathState {
  Exists,         // the whole path names an entry
  LastMissing,    // every folder exists, the last component does not
  ParentMissing,  // a folder on the way is missing or is not a folder
};

struct MappedPath {
  std::string unix_path;     // names the entry with the case found on disk
  std::u16string full_path;  // the full Windows path (drive form, no "\\?\")
  PathState state = PathState::Exists;
  bool trailing_separator = false;  // the caller's path ended in '/' or '\'
};

// Maps a Windows path (relative to the current directory, drive-relative,
// rooted, absolute or "\\?\") to the Unix entry it names. On failure sets the
// last error (ERROR_PATH_NOT_FOUND for an empty path or a missing drive,
// ERROR_INVALID_NAME for characters Windows refuses, ERROR_BAD_NETPATH for UNC
// paths) and returns false. With allow_wildcards, '*' and '?' may appear in the
// last component (which is then not looked up).
bool map_path(const WCHAR* path, MappedPath& out, bool allow_wildcards = false);

// The Unix path for a Windows path, or an empty text with the last error set.
std::string to_unix_path(const WCHAR* path);
// The Windows path of a Unix path: under a drive's folder it takes that drive's
// letter, any other absolute path goes to Z:. Relative paths are taken from the
// process's working folder.
std::u16string to_windows_path(const std::string& unix_path);

// GetFullPathNameW's text rules (no disk access): the absolute Windows path with
// '\' separators, "." and ".." folded, "\\?\" kept as given. Empty when invalid.
std::u16string full_path_name(std::u16string_view path);

// Windows' case-insensitive comparison of names (upper-cased per UTF-16 unit).
char16_t upcase(char16_t c);
bool equal_ignore_case(std::u16string_view a, std::u16string_view b);

// Copies text plus terminator into a caller's buffer by the common Win32 rule:
// the length without terminator when it fits, else the size needed with it.
DWORD copy_out(const std::u16string& text, LPWSTR buffer, DWORD size);

}  // namespace win32
