// Registry value names, whatever UTF-16 units they hold: every name set is
// found again by its own name, every name enumerated is one that was set,
// unit for unit (the first spelling of names equal but for case), and finds
// the value it was enumerated with.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/win32/windows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Names are separated by a zero unit; at most 16 of them, 300 units each.
  std::vector<std::u16string> names(1);
  for (std::size_t at = 0; at + 1 < size && names.size() <= 16; at += 2) {
    const auto unit = static_cast<char16_t>(data[at] | data[at + 1] << 8);
    if (unit == 0)
      names.emplace_back();
    else if (names.back().size() < 300)
      names.back() += unit;
  }
  HKEY key = nullptr;
  RegDeleteKeyW(HKEY_CURRENT_USER, u"FuzzNames");
  FUZZ_CHECK(RegCreateKeyExW(HKEY_CURRENT_USER, u"FuzzNames", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr) == ERROR_SUCCESS);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const DWORD v = static_cast<DWORD>(i);
    FUZZ_CHECK(RegSetValueExW(key, names[i].c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4) ==
               ERROR_SUCCESS);
  }
  // Each name finds a value (its own, or that of a later name equal but for case).
  std::set<DWORD> found;
  for (std::size_t i = 0; i < names.size(); ++i) {
    DWORD v = 0, length = 4, type = 0;
    FUZZ_CHECK(RegQueryValueExW(key, names[i].c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &length) ==
               ERROR_SUCCESS);
    FUZZ_CHECK(type == REG_DWORD && v >= i && v < names.size());
    found.insert(v);
  }
  DWORD count = 0, longest = 0;
  FUZZ_CHECK(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                              nullptr, nullptr) == ERROR_SUCCESS);
  FUZZ_CHECK(count == found.size());
  std::vector<char16_t> buffer(longest + 1);
  std::set<DWORD> enumerated;
  for (DWORD i = 0;; ++i) {
    DWORD room = longest + 1, v = 0, length = 4;
    const LONG rc = RegEnumValueW(key, i, buffer.data(), &room, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &length);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    FUZZ_CHECK(rc == ERROR_SUCCESS);
    FUZZ_CHECK(v < names.size());
    // A value set again under another case keeps its first spelling.
    const std::u16string name(buffer.data(), room);
    FUZZ_CHECK(std::find(names.begin(), names.begin() + v + 1, name) != names.begin() + v + 1);
    DWORD again = 0, againLength = 4;
    FUZZ_CHECK(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&again),
                                &againLength) == ERROR_SUCCESS &&
               again == v);
    enumerated.insert(v);
  }
  FUZZ_CHECK(enumerated == found);
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_CURRENT_USER, u"FuzzNames");
  return 0;
}
