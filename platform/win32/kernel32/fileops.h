// Entries by name: attributes, delete, move, copy, folders, finds, temporary
// names, links and free space.
#pragma once

#include "platform/win32/kernel32/files.h"
#include "platform/win32/layer/types.h"

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;  // the reparse tag when FILE_ATTRIBUTE_REPARSE_POINT is set
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;
using PWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
};
using LPWIN32_FILE_ATTRIBUTE_DATA = WIN32_FILE_ATTRIBUTE_DATA*;

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard, GetFileExMaxInfoLevel };

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004
#define MOVEFILE_WRITE_THROUGH 0x00000008

#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOGPFAULTERRORBOX 0x0002
#define SEM_NOALIGNMENTFAULTEXCEPT 0x0004
#define SEM_NOOPENFILEERRORBOX 0x8000

DWORD GetFileAttributesW(LPCWSTR lpFileName);
BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation);
// FILE_ATTRIBUTE_READONLY is the Unix write permission; hidden, system, archive,
// temporary, offline and not-indexed are kept beside the entry.
BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes);

// ERROR_ACCESS_DENIED for folders and read-only files, ERROR_SHARING_VIOLATION
// while a handle holds the file without FILE_SHARE_DELETE.
BOOL DeleteFileW(LPCWSTR lpFileName);
// ERROR_ALREADY_EXISTS without MOVEFILE_REPLACE_EXISTING; ERROR_NOT_SAME_DEVICE
// across file systems without MOVEFILE_COPY_ALLOWED. Moves delayed until a
// restart are recorded in the world (run/pending_renames) and not done.
BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);
BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName);
// Copies contents, attributes and the last write time; ERROR_FILE_EXISTS when
// bFailIfExists and the target exists.
BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists);
BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY for a file, ERROR_SHARING_VIOLATION for
// the current directory or a folder held without FILE_SHARE_DELETE.
BOOL RemoveDirectoryW(LPCWSTR lpPathName);
BOOL CreateHardLinkW(LPCWSTR lpFileName, LPCWSTR lpExistingFileName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);

// '*' and '?' match ignoring case; names come sorted ignoring case, with "."
// and ".." first in folders below a drive root. ERROR_FILE_NOT_FOUND when
// nothing matches, ERROR_PATH_NOT_FOUND when the folder is missing,
// ERROR_NO_MORE_FILES at the end.
HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// <path>\<first three of prefix><hex>.tmp; with uUnique 0 the file is created.
UINT GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique, LPWSTR lpTempFileName);

// The bytes the file occupies on its volume (holes of sparse files excluded);
// INVALID_FILE_SIZE with the last error set on failure.
DWORD GetCompressedFileSizeW(LPCWSTR lpFileName, LPDWORD lpFileSizeHigh);

BOOL GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes);
BOOL GetDiskFreeSpaceW(LPCWSTR lpRootPathName, LPDWORD lpSectorsPerCluster, LPDWORD lpBytesPerSector,
                       LPDWORD lpNumberOfFreeClusters, LPDWORD lpTotalNumberOfClusters);

UINT SetErrorMode(UINT uMode);
UINT GetErrorMode();
// Which code page the layer's ANSI file calls use (CP_ACP by default).
void SetFileApisToANSI();
void SetFileApisToOEM();
BOOL AreFileApisANSI();
