#include "platform/msi/registration.h"

namespace msi_engine {

std::optional<std::u16string> Registration::attr(std::u16string_view name) const {
  for (const auto& [n, v] : entries)
    if (n == name) return v;
  return std::nullopt;
}

std::vector<std::u16string> Registration::all(std::u16string_view name) const {
  std::vector<std::u16string> out;
  for (const auto& [n, v] : entries)
    if (n == name) out.push_back(v);
  return out;
}

Registration parse_registration(const void* data, std::size_t bytes) {
  Registration out;
  const auto* p = static_cast<const unsigned char*>(data);
  std::u16string text;
  auto take = [&] {
    std::size_t eq = text.find(u'=');
    if (eq != std::u16string::npos && eq > 0) out.add(text.substr(0, eq), text.substr(eq + 1));
    text.clear();
  };
  for (std::size_t i = 0; p && i + 1 < bytes; i += 2) {
    char16_t unit = static_cast<char16_t>(p[i] | p[i + 1] << 8);
    if (unit)
      text += unit;
    else
      take();
  }
  take();
  return out;
}

std::u16string registration_block(const Registration& registration) {
  std::u16string block;
  for (const auto& [name, value] : registration.entries) {
    if (name.empty() || name.find(u'=') != std::u16string::npos || name.find(u'\0') != std::u16string::npos ||
        value.find(u'\0') != std::u16string::npos)
      continue;
    block += name + u"=" + value + u'\0';
  }
  block += u'\0';
  return block;
}

namespace {

// A state, then ','; the position after the comma.
std::optional<std::size_t> state(std::u16string_view text, int& out) {
  std::size_t i = 0;
  bool negative = i < text.size() && text[i] == u'-';
  if (negative) ++i;
  if (i >= text.size() || text[i] < u'0' || text[i] > u'7') return std::nullopt;
  out = text[i] - u'0';
  if (negative) out = -out;
  ++i;
  if (i >= text.size() || text[i] != u',') return std::nullopt;
  return i + 1;
}

std::u16string number(int n) {
  std::u16string s;
  if (n < 0) s += u'-';
  s += static_cast<char16_t>(u'0' + (n < 0 ? -n : n));
  return s;
}

}  // namespace

std::u16string feature_entry(const FeatureRecord& feature) { return number(feature.state) + u"," + feature.name; }

std::u16string component_entry(const ComponentRecord& component) {
  return number(component.state) + u"," + component.id + u"," + component.keyPath;
}

std::optional<FeatureRecord> parse_feature(std::u16string_view text) {
  FeatureRecord f;
  auto at = state(text, f.state);
  if (!at || *at >= text.size()) return std::nullopt;
  f.name = text.substr(*at);
  return f;
}

std::optional<ComponentRecord> parse_component(std::u16string_view text) {
  ComponentRecord c;
  auto at = state(text, c.state);
  if (!at) return std::nullopt;
  std::size_t comma = text.find(u',', *at);
  if (comma == std::u16string_view::npos || comma == *at) return std::nullopt;
  c.id = text.substr(*at, comma - *at);
  c.keyPath = text.substr(comma + 1);
  return c;
}

}  // namespace msi_engine
