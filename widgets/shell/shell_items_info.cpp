#include "widgets/shell/shell_items.h"

using FX::FXWString;

FXKShellItemInfo::FXKShellItemInfo(const std::string& v, std::int32_t i) : verb(v), id(i) {
  setAttribute("verb", v);
  setAttribute("id", std::to_string(i));
}

FXWString FXKShellItemInfo::getAttribute(const std::string& name, const FXWString& fallback) const {
  auto it = attributes.find(name);
  return it == attributes.end() ? fallback : it->second;
}

std::string FXKShellItemInfo::getAttributeNarrow(const std::string& name, const std::string& fallback) const {
  auto it = attributes.find(name);
  if (it == attributes.end()) return fallback;
  std::string out;
  out.reserve(static_cast<std::size_t>(it->second.length()));
  for (char16_t c : it->second.str()) out += static_cast<char>(c & 0xFF);
  return out;
}

void FXKShellItemInfo::setAttribute(const std::string& name, const std::string& value) {
  std::u16string wide;
  wide.reserve(value.size());
  for (unsigned char c : value) wide += static_cast<char16_t>(c);
  attributes[name] = FXWString(std::move(wide));
}
