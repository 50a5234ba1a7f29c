// Processor::String, the program's wide string: an ICU UnicodeString and
// nothing more. Include core/text_convert.h instead where ICU is not needed.
#pragma once

#include <unicode/unistr.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "core/text_convert.h"

namespace Processor {

class String : public icu::UnicodeString {
 public:
  using icu::UnicodeString::UnicodeString;
  String() = default;
  String(const icu::UnicodeString& other) : icu::UnicodeString(other) {}
  // NUL-terminated UTF-16; null gives an empty string.
  String(const char16_t* text);
  // Every byte becomes the unit of the same value (no code page); null gives empty.
  String(const char* text);
  String(const String&) = default;
  String(String&&) noexcept = default;
  String& operator=(const String&) = default;
  String& operator=(String&&) noexcept = default;
  ~String() override;

  using icu::UnicodeString::operator==;
  // String against String, the same both ways round: C++20 also tries the
  // base's comparison reversed, which would weigh the two sides differently.
  template <class T, std::enable_if_t<std::is_same_v<T, String>, int> = 0>
  bool operator==(const T& other) const {
    return icu::UnicodeString::operator==(other);
  }
  // Equal to the narrow text read in the process's ANSI code page.
  bool operator==(const char* text) const;
  // Code-unit order; nothing is below a bogus string.
  bool operator<(const String& other) const;

  // Low byte of every unit up to the first NUL.
  std::string toNarrow() const;
};

// Copies at most `capacity` units of `text` into `buffer`, and a zero when
// there is room after them; returns the text's full length.
std::int32_t copyToBuffer(const icu::UnicodeString& text, char16_t* buffer, std::int32_t capacity);

}  // namespace Processor
