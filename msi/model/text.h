// Integer and text conversions for the decimal-text columns, and the system
// message text that installer failures carry.
#pragma once

#include <cstdint>
#include <string>

namespace Msi {

std::u16string toString(std::int32_t value, int radix = 10);
std::u16string toUpper(const std::u16string& text);
std::u16string toLower(const std::u16string& text);
// Non-empty and only characters of "0123456789-".
bool isNumber(const std::u16string& text);
// The leading decimal number; Msi::Error 5 (module 0x5058087b) unless isNumber.
std::int32_t toInt(const std::u16string& text);
// FormatMessageW's text of a result code without its trailing line break;
// empty for an unknown code.
std::u16string systemErrorText(std::uint32_t code);

}  // namespace Msi
