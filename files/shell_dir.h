// The shell namespace as the file library sees it: entry kinds of shell
// items, relations of item ID lists, and the special folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ITEMIDLIST;

namespace shell_dir {

// The entry kind of an item from its SFGAO attributes and parsing name.
std::int32_t item_kind(std::uint32_t attributes, const std::u16string& parsing_name);

// 0 same list, 1 `other` lies inside `self`, 2 otherwise (also for null).
int relation(const ITEMIDLIST* self, const ITEMIDLIST* other);

// The list of the parent folder, terminator included; the desktop (the empty
// list) is its own parent.
std::vector<unsigned char> parent_list(const ITEMIDLIST* absolute);

// The folder of a special kind (common app data, app data, local app data,
// desktop), made when missing. On failure the text is empty and `error`
// holds the code (0x4000e for other kinds, 0x40007 when no folder can be had).
std::u16string special_folder(std::int32_t kind, std::uint32_t& error);

}  // namespace shell_dir
