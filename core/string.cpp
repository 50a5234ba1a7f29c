#include "core/string.h"

#include <cstring>

#include "core/narrow_copy.h"
#include "platform/win32/windows.h"

namespace Processor {

String::String(const char16_t* text) : icu::UnicodeString() {
  if (text) setTo(text, -1);
}

String::String(const char* text) : icu::UnicodeString() {
  if (!text) return;
  const auto n = static_cast<std::int32_t>(std::strlen(text));
  char16_t* buffer = getBuffer(n);
  if (!buffer) return;
  for (std::int32_t i = 0; i < n; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
  releaseBuffer(n);
}

String::~String() = default;

bool String::operator==(const char* text) const {
  if (isBogus()) return false;
  if (!text) return isEmpty();
  const int n = static_cast<int>(std::strlen(text));
  if (n == 0) return isEmpty();
  const int units = MultiByteToWideChar(CP_ACP, 0, text, n, nullptr, 0);
  if (units <= 0) return false;
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, n, wide.data(), units) != units) return false;
  return compare(wide.data(), units) == 0;
}

bool String::operator<(const String& other) const {
  if (other.isBogus()) return false;
  return compare(other) < 0;
}

std::string String::toNarrow() const {
  if (isBogus()) return {};
  const char16_t* units = getBuffer();
  std::int32_t n = length();
  for (std::int32_t i = 0; i < n; ++i)
    if (units[i] == 0) {
      n = i;
      break;
    }
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  copyWideToNarrowLowBytes(out.data(), n + 1, units, n);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::int32_t copyToBuffer(const icu::UnicodeString& text, char16_t* buffer, std::int32_t capacity) {
  const std::int32_t n = text.length();
  const std::int32_t k = n < capacity ? n : (capacity > 0 ? capacity : 0);
  if (k > 0) text.extract(0, k, buffer);
  if (k < capacity) buffer[k] = 0;
  return n;
}

}  // namespace Processor
