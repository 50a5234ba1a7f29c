#include "gui/dialogs/help_popups.h"

#include "core/text_convert.h"

bool helpPopupText(const std::string& bytes, std::uint32_t id, std::u16string& text) {
  const std::string key = std::to_string(id) + "=";
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    std::size_t stop = end;
    if (stop > at && bytes[stop - 1] == '\r') --stop;
    if (stop - at >= key.size() && bytes.compare(at, key.size(), key) == 0) {
      const std::string value = bytes.substr(at + key.size(), stop - at - key.size());
      std::u16string units;
      if (!Common::fromUtf8(units, value.data(), static_cast<std::ptrdiff_t>(value.size()))) return false;
      text = units;
      return true;
    }
    at = end + 1;
  }
  return false;
}
