// GUID texts, new row keys and 8.3 short names.
#pragma once

#include <set>
#include <string>

#include "platform/win32/windows.h"

namespace Msi {

// 32 upper-case hexadecimal digits, each field's nibbles from the least
// significant up: 12345678-9ABC-DEF0-1234-56789ABCDEF0 gives
// 87654321CBA90FED21436587A9CBED0F.
std::u16string packGuid(const GUID& guid);
// A new UUID, packed; false (text unchanged) when none could be made.
bool createGuid(std::u16string& out);
// "_" followed by a new packed UUID (33 characters).
bool newIdentifier(std::u16string& out);
// The 36-character hyphenated form, braces optional.
bool isValidGuid(const std::u16string& text);
// Characters a short name cannot hold (blanks and tabs among them) become "_";
// names that fit 8.3 are upper-cased, others become the first six characters
// of the base, "~1" and the extension cut to three characters, upper-cased.
std::u16string makeShortName(const std::u16string& longName);
// The same, unique against the upper-case short names already taken (~2, ~3
// ... ~10 on five characters, and so on).
std::u16string makeShortName(const std::u16string& longName, const std::set<std::u16string>& taken);

}  // namespace Msi
