// Volumes of the world: the drive table (kind, label, file-system name and
// serial of each letter), the volume path of a folder, and network shares,
// which are folders of the world (net/<server>/<share>) that UNC paths reach.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/layer/types.h"

// The root of the volume holding the path ("C:\", "\\server\share\"), kept in
// "\\?\" form when the path has it. Mounted folders are not volumes here.
BOOL GetVolumePathNameW(LPCWSTR lpszFileName, LPWSTR lpszVolumePathName, DWORD cchBufferLength);

// Label, serial and file-system name come from the drive table; an unlisted
// drive has an empty label, "NTFS" and a serial from its Unix device. Only
// volume roots answer; others fail with ERROR_DIR_NOT_ROOT.
BOOL GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPWSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize);

namespace win32 {

// Tests: what a drive reports (kept in the world's "drives" file). `type` is
// a DRIVE_* value; an empty file-system name keeps "NTFS".
void set_drive_info(char16_t letter, UINT type, const std::u16string& label, const std::u16string& file_system,
                    DWORD serial);
// The drive's type from the table (DRIVE_FIXED when unlisted).
UINT drive_table_type(char16_t letter);
// A table type for set_drive_info: a floppy, which reports DRIVE_REMOVABLE and
// whose device QueryDosDeviceA names "\Device\Floppy<n>".
inline constexpr UINT kDriveFloppy = 0x100 | 2;
bool drive_is_floppy(char16_t letter);

// The Unix folder of \\server\share, names matched ignoring case; empty with
// ERROR_BAD_NETPATH (no such server), ERROR_BAD_NET_NAME (no such share) or
// ERROR_ACCESS_DENIED (a share the acting user may not reach).
std::string share_root(std::u16string_view server, std::u16string_view share);
// Tests: makes the share's folder and returns it.
std::string make_share(const std::u16string& server, const std::u16string& share);
// Tests: lets only `user` (a SID blob) reach the share from now on; anyone
// else gets ERROR_ACCESS_DENIED. An empty SID opens it to everyone again.
void restrict_share(const std::u16string& server, const std::u16string& share, const std::vector<BYTE>& user);

}  // namespace win32
