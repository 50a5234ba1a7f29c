// Layer-internal: the items of the shell namespace's item ID lists, shared by
// the list functions and the folder objects.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/shell32/shell_namespace.h"

namespace win32::shell {

inline constexpr char16_t kComputer[] = u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
inline constexpr char16_t kNetwork[] = u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}";
inline constexpr char16_t kNetworkOld[] = u"::{208D2C60-3AEA-1069-A2D7-08002B30309D}";
inline constexpr char16_t kDocuments[] = u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}";

// Item tags: computer, network, documents, drive ("C:\"), server ("\\srv"),
// share ("share"), and a name inside a file-system folder.
inline constexpr BYTE kTagComputer = 'M', kTagNetwork = 'N', kTagDocuments = 'P', kTagDrive = 'D',
                      kTagServer = 'S', kTagShare = 'H', kTagName = 'F';

struct Item {
  BYTE tag;
  std::u16string name;
};

char16_t fold(char16_t c);
bool same_text(std::u16string_view a, std::u16string_view b);
std::vector<Item> items_of(LPCITEMIDLIST list);
// The items from `from` on as a list of the task allocator; null when out of memory.
LPITEMIDLIST hand_out(const std::vector<Item>& items, std::size_t from = 0);
std::vector<std::u16string> components(std::u16string_view rest);
// The file-system path of a list ("C:\", "C:\a", "\\srv\share\a"); empty when it has none.
std::u16string path_of(const std::vector<Item>& items);
std::u16string documents_path();
// SHParseDisplayName's names to items.
HRESULT parse_full(std::u16string_view text, std::vector<Item>& items);

}  // namespace win32::shell
