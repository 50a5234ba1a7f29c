#include "platform/win32/kernel32/codepage.h"

#include <array>
#include <cstring>

#include "platform/win32/kernel32/lasterror.h"

namespace {

// Upper halves of the two single-byte code pages; the lower halves are ASCII.
// Positions that 1252 leaves undefined map to the C1 control of the same value.
constexpr char16_t kCp1252High[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152,
    0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
    0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0,
    0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD,
    0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA,
    0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4,
    0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF};

constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

enum class Page { Cp1252, Cp437, Utf8, Invalid };

Page page_of(UINT cp) {
  switch (cp) {
    case CP_ACP:
    case CP_THREAD_ACP:
    case 1252: return Page::Cp1252;
    case CP_OEMCP:
    case 437: return Page::Cp437;
    case CP_UTF8: return Page::Utf8;
    default: return Page::Invalid;
  }
}

const char16_t* high_half(Page p) { return p == Page::Cp437 ? kCp437High : kCp1252High; }

// Reverse table of one single-byte page: 0 means "no byte for this unit".
struct Reverse {
  std::array<unsigned char, 65536> bytes{};
  explicit Reverse(const char16_t* high) {
    for (unsigned b = 1; b < 128; ++b) bytes[b] = static_cast<unsigned char>(b);
    for (unsigned b = 0; b < 128; ++b) bytes[high[b]] = static_cast<unsigned char>(b + 128);
  }
};

const Reverse& reverse_of(Page p) {
  static const Reverse cp1252(kCp1252High);
  static const Reverse cp437(kCp437High);
  return p == Page::Cp437 ? cp437 : cp1252;
}

// Decodes UTF-8 into UTF-16; ill-formed sequences become U+FFFD, or fail when
// strict. Returns false on a strict failure.
bool decode_utf8(const unsigned char* s, std::size_t n, std::u16string& out, bool strict) {
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    int extra;
    char32_t cp;
    char32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
      if (strict) return false;
      out += u'\uFFFD';
      ++i;
      continue;
    }
    std::size_t j = 1;
    bool ok = true;
    for (; j <= static_cast<std::size_t>(extra); ++j) {
      if (i + j >= n || (s[i + j] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[i + j] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) {
      ok = false;
      j = 1;
    }
    if (!ok) {
      if (strict) return false;
      out += u'\uFFFD';
      i += j;  // the maximal ill-formed prefix gives one replacement
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += extra + 1;
  }
  return true;
}

bool encode_utf8(const char16_t* s, std::size_t n, std::string& out, bool strict) {
  for (std::size_t i = 0; i < n; ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (strict) return false;
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return true;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
  const Page page = page_of(CodePage);
  if (page == Page::Invalid || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr) ||
      (lpWideCharStr && static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (page == Page::Utf8 ? (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0
                         : (dwFlags & ~static_cast<DWORD>(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS |
                                                          MB_ERR_INVALID_CHARS)) != 0 ||
                               (dwFlags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const std::size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
  const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  std::u16string wide;
  wide.reserve(n);
  if (page == Page::Utf8) {
    if (!decode_utf8(bytes, n, wide, (dwFlags & MB_ERR_INVALID_CHARS) != 0)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    const char16_t* high = high_half(page);
    for (std::size_t i = 0; i < n; ++i) wide += bytes[i] < 0x80 ? char16_t(bytes[i]) : high[bytes[i] - 0x80];
  }
  if (wide.size() > 0x7FFFFFFF) {
    SetLastError(ERROR_ARITHMETIC_OVERFLOW);
    return 0;
  }
  const int needed = static_cast<int>(wide.size());
  if (cchWideChar == 0) return needed;
  if (needed > cchWideChar) {
    std::memcpy(lpWideCharStr, wide.data(), static_cast<std::size_t>(cchWideChar) * sizeof(WCHAR));
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));
  return needed;
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  const Page page = page_of(CodePage);
  if (page == Page::Invalid || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && !lpMultiByteStr) ||
      (lpMultiByteStr && static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (page == Page::Utf8) {
    if ((dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    if (lpDefaultChar || lpUsedDefaultChar) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  } else if ((dwFlags & ~static_cast<DWORD>(WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                                            WC_NO_BEST_FIT_CHARS)) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  std::size_t n = cchWideChar == -1 ? win32::wcslen16(lpWideCharStr) + 1 : static_cast<std::size_t>(cchWideChar);
  std::string out;
  out.reserve(n);
  if (page == Page::Utf8) {
    if (!encode_utf8(lpWideCharStr, n, out, (dwFlags & WC_ERR_INVALID_CHARS) != 0)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    const Reverse& rev = reverse_of(page);
    const char fallback = lpDefaultChar ? *lpDefaultChar : '?';
    bool used = false;
    for (std::size_t i = 0; i < n; ++i) {
      char16_t u = lpWideCharStr[i];
      if (u == 0) {
        out += '\0';
        continue;
      }
      unsigned char b = rev.bytes[u];
      if (b == 0) {
        used = true;
        out += fallback;
        // A surrogate pair is one character and gives one default byte.
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && lpWideCharStr[i + 1] >= 0xDC00 &&
            lpWideCharStr[i + 1] <= 0xDFFF)
          ++i;
      } else {
        out += static_cast<char>(b);
      }
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = used ? TRUE : FALSE;
  }
  if (out.size() > 0x7FFFFFFF) {
    SetLastError(ERROR_ARITHMETIC_OVERFLOW);
    return 0;
  }
  const int needed = static_cast<int>(out.size());
  if (cbMultiByte == 0) return needed;
  if (needed > cbMultiByte) {
    std::memcpy(lpMultiByteStr, out.data(), static_cast<std::size_t>(cbMultiByte));
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpMultiByteStr, out.data(), out.size());
  return needed;
}

BOOL CharToOemA(LPCSTR pSrc, LPSTR pDst) {
  if (!pSrc || !pDst) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Reverse& oem = reverse_of(Page::Cp437);
  for (std::size_t i = 0;; ++i) {
    const unsigned char b = static_cast<unsigned char>(pSrc[i]);
    if (b == 0) {
      pDst[i] = 0;
      break;
    }
    if (b < 0x80) {
      pDst[i] = static_cast<char>(b);
      continue;
    }
    const unsigned char o = oem.bytes[kCp1252High[b - 0x80]];
    pDst[i] = o ? static_cast<char>(o) : '?';
  }
  return TRUE;
}

UINT GetACP() { return 1252; }
UINT GetOEMCP() { return 437; }

BOOL IsValidCodePage(UINT CodePage) {
  return CodePage == 1252 || CodePage == 437 || CodePage == CP_UTF8 ? TRUE : FALSE;
}

namespace win32 {

std::u16string utf8_to_utf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  decode_utf8(reinterpret_cast<const unsigned char*>(s.data()), s.size(), out, false);
  return out;
}

std::string utf16_to_utf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 3);
  encode_utf8(s.data(), s.size(), out, false);
  return out;
}

std::size_t wcslen16(const WCHAR* s) {
  std::size_t n = 0;
  if (s)
    while (s[n]) ++n;
  return n;
}

}  // namespace win32
