// UTF-8 of whole XML texts: the common converters stop at a NUL, but a text
// of the element tree may hold one and must come through whole.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "core/text_convert.h"

namespace xml_utf8 {

// Appends `text` in UTF-8; a NUL unit becomes a 0 byte.
inline void append(std::string& out, std::u16string_view text, std::string& scratch) {
  for (;;) {
    const std::size_t nul = std::min(text.find(u'\0'), text.size());
    if (nul != 0) {
      Common::toUtf8(scratch, text.data(), static_cast<std::ptrdiff_t>(nul));
      out += scratch;
    }
    if (nul == text.size()) return;
    out += '\0';
    text.remove_prefix(nul + 1);
  }
}

// Decodes n bytes; a 0 byte becomes a NUL unit.
inline void decode(std::u16string& out, const char* bytes, std::size_t n) {
  out.clear();
  std::u16string part;
  while (n != 0) {
    const void* z = std::memchr(bytes, 0, n);
    const std::size_t run = z ? static_cast<std::size_t>(static_cast<const char*>(z) - bytes) : n;
    if (run != 0) {
      if (out.empty() && run == n) {
        Common::fromUtf8(out, bytes, static_cast<std::ptrdiff_t>(run));
        return;
      }
      Common::fromUtf8(part, bytes, static_cast<std::ptrdiff_t>(run));
      out += part;
    }
    if (run == n) return;
    out += u'\0';
    bytes += run + 1;
    n -= run + 1;
  }
}

}  // namespace xml_utf8
