// msi.dll's database functions, served over the engine the layer wraps. Handles
// are 32-bit numbers of the layer's own table; texts are UTF-16; results are
// Windows Installer's numbers. Every function is safe to call from any thread;
// the last error record is kept per thread.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"

using MSIHANDLE = std::uint32_t;

// The persist argument of MsiOpenDatabaseW is one of these small numbers or the
// path of an output database.
#define MSIDBOPEN_READONLY (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(0)))
#define MSIDBOPEN_TRANSACT (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(1)))
#define MSIDBOPEN_DIRECT (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(2)))
#define MSIDBOPEN_CREATE (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(3)))
#define MSIDBOPEN_CREATEDIRECT (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(4)))

enum MSICOLINFO { MSICOLINFO_NAMES = 0, MSICOLINFO_TYPES = 1 };

enum MSIDBSTATE { MSIDBSTATE_ERROR = -1, MSIDBSTATE_READ = 0, MSIDBSTATE_WRITE = 1 };

#define MSI_NULL_INTEGER static_cast<int>(0x80000000u)

// Summary information property ids and value types.
#define PID_DICTIONARY 0
#define PID_CODEPAGE 1
#define PID_TITLE 2
#define PID_SUBJECT 3
#define PID_AUTHOR 4
#define PID_KEYWORDS 5
#define PID_COMMENTS 6
#define PID_TEMPLATE 7
#define PID_LASTAUTHOR 8
#define PID_REVNUMBER 9
#define PID_EDITTIME 10
#define PID_LASTPRINTED 11
#define PID_CREATE_DTM 12
#define PID_LASTSAVE_DTM 13
#define PID_PAGECOUNT 14
#define PID_WORDCOUNT 15
#define PID_CHARCOUNT 16
#define PID_THUMBNAIL 17
#define PID_APPNAME 18
#define PID_SECURITY 19
#define PID_MSIVERSION PID_PAGECOUNT
#define PID_MSISOURCE PID_WORDCOUNT
#define PID_MSIRESTRICT PID_CHARCOUNT

#define VT_EMPTY 0
#define VT_I2 2
#define VT_I4 3
#define VT_LPSTR 30
#define VT_FILETIME 64

// Installer results beyond the common Win32 ones.
#define ERROR_UNKNOWN_PROPERTY 1608L
#define ERROR_INVALID_HANDLE_STATE 1609L
#define ERROR_BAD_QUERY_SYNTAX 1615L
#define ERROR_INVALID_FIELD 1616L
#define ERROR_INSTALL_PACKAGE_OPEN_FAILED 1619L
#define ERROR_INSTALL_PACKAGE_INVALID 1620L
#define ERROR_FUNCTION_NOT_CALLED 1626L
#define ERROR_FUNCTION_FAILED 1627L
#define ERROR_INVALID_TABLE 1628L
#define ERROR_DATATYPE_MISMATCH 1629L
#define ERROR_UNSUPPORTED_TYPE 1630L
#define ERROR_CREATE_FAILED 1631L
#define ERROR_INVALID_DATATYPE 1804L

// Databases.
UINT MsiOpenDatabaseW(LPCWSTR szDatabasePath, LPCWSTR szPersist, MSIHANDLE* phDatabase);
UINT MsiDatabaseCommit(MSIHANDLE hDatabase);
MSIDBSTATE MsiGetDatabaseState(MSIHANDLE hDatabase);
UINT MsiDatabaseOpenViewW(MSIHANDLE hDatabase, LPCWSTR szQuery, MSIHANDLE* phView);
// ERROR_INVALID_TABLE (1628) when the table does not exist.
UINT MsiDatabaseGetPrimaryKeysW(MSIHANDLE hDatabase, LPCWSTR szTableName, MSIHANDLE* phRecord);
// Imports one IDT text file (szFileName inside the folder szFolderPath).
UINT MsiDatabaseImportW(MSIHANDLE hDatabase, LPCWSTR szFolderPath, LPCWSTR szFileName);
// Writes one table as IDT text into szFolderPath\szFileName.
UINT MsiDatabaseExportW(MSIHANDLE hDatabase, LPCWSTR szTableName, LPCWSTR szFolderPath, LPCWSTR szFileName);

// Views. MsiViewFetch ends with ERROR_NO_MORE_ITEMS (259).
UINT MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord);
UINT MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord);
UINT MsiViewClose(MSIHANDLE hView);
UINT MsiViewGetColumnInfo(MSIHANDLE hView, MSICOLINFO eColumnInfo, MSIHANDLE* phRecord);

// Records. Fields count from 1; field 0 is the format field.
MSIHANDLE MsiCreateRecord(UINT cParams);
UINT MsiRecordGetFieldCount(MSIHANDLE hRecord);  // (UINT)-1 for a bad handle
BOOL MsiRecordIsNull(MSIHANDLE hRecord, UINT iField);
UINT MsiRecordDataSize(MSIHANDLE hRecord, UINT iField);
UINT MsiRecordClearData(MSIHANDLE hRecord);
// Size protocol of every text getter: *pcchValueBuf is the room in characters
// (terminator included); on return it holds the length without terminator. When
// the room is too small the result is ERROR_MORE_DATA (234) and as much as fits
// is written, terminated.
UINT MsiRecordGetStringW(MSIHANDLE hRecord, UINT iField, LPWSTR szValueBuf, DWORD* pcchValueBuf);
UINT MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue);
int MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField);  // MSI_NULL_INTEGER for null or text
UINT MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue);
// Reads the next bytes of a stream field; a null buffer asks for the bytes left.
UINT MsiRecordReadStream(MSIHANDLE hRecord, UINT iField, char* szDataBuf, DWORD* pcbDataBuf);
// The stream's content is read from the file at szFilePath (a Windows path).
UINT MsiRecordSetStreamW(MSIHANDLE hRecord, UINT iField, LPCWSTR szFilePath);

// Summary information. hDatabase 0 opens szDatabasePath itself.
UINT MsiGetSummaryInformationW(MSIHANDLE hDatabase, LPCWSTR szDatabasePath, UINT uiUpdateCount,
                               MSIHANDLE* phSummaryInfo);
UINT MsiSummaryInfoGetPropertyCount(MSIHANDLE hSummaryInfo, UINT* puiPropertyCount);
UINT MsiSummaryInfoGetPropertyW(MSIHANDLE hSummaryInfo, UINT uiProperty, UINT* puiDataType, INT* piValue,
                                FILETIME* pftValue, LPWSTR szValueBuf, DWORD* pcchValueBuf);
UINT MsiSummaryInfoSetPropertyW(MSIHANDLE hSummaryInfo, UINT uiProperty, UINT uiDataType, INT iValue,
                                FILETIME* pftValue, LPCWSTR szValue);
UINT MsiSummaryInfoPersist(MSIHANDLE hSummaryInfo);

// Handles and errors. The last error record holds the failure of this thread's
// latest failed call (field 1: the result number, field 2: the engine's
// message); 0 when there is none. Taking it clears it.
UINT MsiCloseHandle(MSIHANDLE hAny);
UINT MsiCloseAllHandles();  // the number of handles that were open
MSIHANDLE MsiGetLastErrorRecord();
// Formats a record: with a format text in field 0, "[n]" gives field n; without
// one, "1: <field 1> 2: <field 2> ...". hInstall must be 0 (no sessions here).
UINT MsiFormatRecordW(MSIHANDLE hInstall, MSIHANDLE hRecord, LPWSTR szResultBuf, DWORD* pcchResultBuf);
// On a database handle: the Value of the Property table's row of that name
// (the empty text when there is none).
UINT MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf, DWORD* pcchValueBuf);

// A file's MD5 as the MsiFileHash table keeps it: four 32-bit words, each
// little-endian from the digest's bytes. dwOptions must be 0 and the size
// member 20; a file that cannot be opened gives the file layer's error.
struct MSIFILEHASHINFO {
  ULONG dwFileHashInfoSize;
  ULONG dwData[4];
};
using PMSIFILEHASHINFO = MSIFILEHASHINFO*;
UINT MsiGetFileHashW(LPCWSTR szFilePath, DWORD dwOptions, PMSIFILEHASHINFO pHash);
