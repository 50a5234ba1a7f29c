// Numbers as decimal or hexadecimal text in caller buffers and back, the
// error-code packing, code-page conversions and three look-ups: the catalogue's
// language number, whole resources and catalogue texts by symbolic name.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/windows.h"

namespace Common {

// Writer flags.
inline constexpr unsigned kBlankLeadingZeros = 0x01;  // decimal: a leading zero becomes a blank
inline constexpr unsigned kBlankField = 0x02;         // decimal: blank the whole field first
inline constexpr unsigned kTerminate = 0x04;          // a NUL after the text (not counted)
inline constexpr unsigned kUpperCaseMarks = 0x10;     // hexadecimal: "X" and "H"
inline constexpr unsigned kPrefix0x = 0x20;           // hexadecimal: "0x" before
inline constexpr unsigned kSuffixH = 0x40;            // hexadecimal: "0" before, "h" after

// Each returns the position after the last character written; hexadecimal
// digits are upper case and full width.
char16_t* formatDecimal64W(char16_t* out, std::uint64_t value, unsigned flags);
char* formatDecimal32(char* out, std::uint32_t value, unsigned flags);
char16_t* formatHex8W(char16_t* out, std::uint8_t value, unsigned flags);
char* formatHex8(char* out, std::uint8_t value, unsigned flags);
char* formatHex16(char* out, std::uint16_t value, unsigned flags);
char* formatHex32(char* out, std::uint32_t value, unsigned flags);
char* formatHex64(char* out, std::uint32_t low, std::uint32_t high, unsigned flags);

// Radix 10 reads automatically: a trailing "h" or a "0x" prefix makes it 16.
// Blanks (U+0020 only) may stand around the number. True for a valid number
// that fits in 64 bits; *value is written only then.
bool parseNumberW(std::uint64_t* value, const char16_t* text, int radix);
bool parseNumber(std::uint64_t* value, const char* text, int radix);

constexpr std::uint32_t makeErrorCode(std::uint32_t facility, std::uint32_t number) {
  return facility << 16 | number;
}
constexpr std::uint32_t errorFacility(std::uint32_t code) { return code >> 16; }
constexpr std::uint32_t errorNumber(std::uint32_t code) { return code & 0xFFFF; }

// `bytes` bytes of `text` in `codePage` as UTF-16; 0 bytes give an empty text.
bool multiByteToWide(UINT codePage, std::u16string& out, const char* text, int bytes);
// LCMapString in place (on Windows 9x through the ANSI code page); a failure
// leaves the text as it was.
bool mapStringInPlace(DWORD flags, std::u16string& text);
bool toUpperInPlace(std::u16string& text);

// Catalogue text 1153 (narrow bytes) read as a number.
int uiLanguageNumber();
// A whole resource (current folder, program folder, program archive) as a new
// byte array the caller releases with delete[]; null when missing or empty.
std::uint8_t* loadResource(const char* name, std::uint32_t* size = nullptr);
// The catalogue text a symbolic name stands for ("TEXT_MENU_EXIT"; case
// matters), or null.
const char16_t* catalogueTextByName(const char* name);

}  // namespace Common
