// File version information: the RT_VERSION resource of a PE file, read from
// the file's resource directory and queried as Windows lays the block out.
#pragma once

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/forward.h"
#include "platform/win32/layer/types.h"

#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define VS_FFI_SIGNATURE 0xFEEF04BDL

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};

// The size is twice the resource's: the second half holds the ANSI texts that
// VerQueryValueA hands out. A file that is no PE image or has no resources
// fails with ERROR_RESOURCE_DATA_NOT_FOUND, one without a version resource
// with ERROR_RESOURCE_TYPE_NOT_FOUND.
DWORD GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle);
BOOL GetFileVersionInfoW(LPCWSTR name, DWORD handle, DWORD size, LPVOID data);
// "\" gives the VS_FIXEDFILEINFO, "\VarFileInfo\Translation" the language and
// code-page pairs, "\StringFileInfo\<lang+cp>\<name>" a text (length in
// characters, terminator included).
BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length);
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);
