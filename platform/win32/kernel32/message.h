// System message texts, errno translation and the local heap that FormatMessage
// allocates from.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/win32/layer/types.h"

using HLOCAL = void*;

#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
// Returns null on success and the block itself on failure, as Win32 does.
HLOCAL LocalFree(HLOCAL hMem);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

// With FORMAT_MESSAGE_ALLOCATE_BUFFER, lpBuffer is really a pointer to the
// pointer that receives a LocalAlloc block (free it with LocalFree).
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);

namespace win32 {

// The Win32 code for a POSIX errno value; ENOENT gives ERROR_FILE_NOT_FOUND (the
// path calls tell a missing folder apart themselves), errno values without a
// counterpart give ERROR_GEN_FAILURE.
DWORD error_from_errno(int err);
// SetLastError(error_from_errno(err)); returns the code.
DWORD set_last_error_from_errno(int err);
// The English system text of a Win32 code or an HRESULT of facility 7 (empty when
// unknown), with its ".\r\n" ending as FormatMessage gives it.
std::u16string system_message(DWORD code);

}  // namespace win32
