// Backup streams of a file handle: BackupRead hands out a file's streams as a
// sequence of WIN32_STREAM_ID headers each followed by its name and data, and
// BackupWrite takes such a sequence back. The layer's streams, in this order:
// the data of a file (BACKUP_DATA), its stored security descriptor
// (BACKUP_SECURITY_DATA, only with bProcessSecurity), its user extended
// attributes as alternate data streams (":name:$DATA") and a link's reparse
// data (BACKUP_REPARSE_DATA). Reads fill the caller's buffer across stream
// boundaries; 0 bytes read means the end.
//
// The raw encrypted-file calls fail as on a volume without encryption.
#pragma once

#include "platform/win32/layer/types.h"

#define BACKUP_INVALID 0x00000000
#define BACKUP_DATA 0x00000001
#define BACKUP_EA_DATA 0x00000002
#define BACKUP_SECURITY_DATA 0x00000003
#define BACKUP_ALTERNATE_DATA 0x00000004
#define BACKUP_LINK 0x00000005
#define BACKUP_PROPERTY_DATA 0x00000006
#define BACKUP_OBJECT_ID 0x00000007
#define BACKUP_REPARSE_DATA 0x00000008
#define BACKUP_SPARSE_BLOCK 0x00000009

#define STREAM_NORMAL_ATTRIBUTE 0x00000000
#define STREAM_MODIFIED_WHEN_READ 0x00000001
#define STREAM_CONTAINS_SECURITY 0x00000002

#define ERROR_VOLUME_NOT_SUPPORT_EFS 6014L

#define CREATE_FOR_IMPORT 1
#define CREATE_FOR_DIR 2
#define OVERWRITE_HIDDEN 4

// The fixed part of a stream header (20 bytes); the name follows it.
#pragma pack(push, 4)
struct WIN32_STREAM_ID {
  DWORD dwStreamId;
  DWORD dwStreamAttributes;
  LARGE_INTEGER Size;
  DWORD dwStreamNameSize;
  WCHAR cStreamName[1];
};
#pragma pack(pop)

// Reading needs FILE_READ_DATA on a file (or READ_CONTROL for the security
// stream), else ERROR_ACCESS_DENIED. bAbort frees the context.
BOOL BackupRead(HANDLE hFile, LPBYTE lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, BOOL bAbort,
                BOOL bProcessSecurity, LPVOID* lpContext);
// Moves forward inside the current stream's name and data only; a distance
// past its end stops there and fails with ERROR_SEEK.
BOOL BackupSeek(HANDLE hFile, DWORD dwLowBytesToSeek, DWORD dwHighBytesToSeek, LPDWORD lpdwLowByteSeeked,
                LPDWORD lpdwHighByteSeeked, LPVOID* lpContext);
// Data needs FILE_WRITE_DATA, security (when processed) WRITE_DAC and
// WRITE_OWNER, else ERROR_ACCESS_DENIED; a failed call consumes nothing of the
// buffer, so the same buffer may be offered again. The data stream sets the
// file's end. Streams the layer cannot keep are passed over.
BOOL BackupWrite(HANDLE hFile, LPBYTE lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                 BOOL bAbort, BOOL bProcessSecurity, LPVOID* lpContext);

using PFE_EXPORT_FUNC = DWORD (*)(BYTE* pbData, PVOID pvCallbackContext, ULONG ulLength);
using PFE_IMPORT_FUNC = DWORD (*)(BYTE* pbData, PVOID pvCallbackContext, ULONG* ulLength);

DWORD OpenEncryptedFileRawW(LPCWSTR lpFileName, ULONG ulFlags, PVOID* pvContext);
DWORD ReadEncryptedFileRaw(PFE_EXPORT_FUNC pfExportCallback, PVOID pvCallbackContext, PVOID pvContext);
DWORD WriteEncryptedFileRaw(PFE_IMPORT_FUNC pfImportCallback, PVOID pvCallbackContext, PVOID pvContext);
void CloseEncryptedFileRaw(PVOID pvContext);
BOOL DecryptFileW(LPCWSTR lpFileName, DWORD dwReserved);
