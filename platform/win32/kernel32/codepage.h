// Code page conversions with Win32's size rules: a count of -1 includes the
// terminating NUL, an output size of 0 asks for the needed size, a short buffer
// fails with ERROR_INSUFFICIENT_BUFFER.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/layer/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
// Each byte from the ANSI to the OEM code page, '?' where OEM has no such
// character; the two may be the same buffer. FALSE for a null pointer.
BOOL CharToOemA(LPCSTR pSrc, LPSTR pDst);
UINT GetACP();   // 1252
UINT GetOEMCP();  // 437
BOOL IsValidCodePage(UINT CodePage);

namespace win32 {

// UTF-8 <-> UTF-16 for the layer's own use (ill-formed input becomes U+FFFD).
std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);
// Length of a NUL-terminated wide string.
std::size_t wcslen16(const WCHAR* s);

}  // namespace win32
