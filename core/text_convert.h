// Text conversions the whole program relies on: byte widening, low-byte
// narrowing, UTF-8 both ways and Base64. Their lossy behaviour is deliberate
// and fixed: other programs read what these write.
#pragma once

#include <cstddef>
#include <string>

namespace Common {

// UTF-16 to UTF-8, stopping at a NUL unit or after maxUnits units (-1: NUL only).
// Surrogate pairs become one four-byte sequence; a lone surrogate is written as
// its own three-byte sequence so that nothing is lost. Always true.
bool toUtf8(std::string& out, const char16_t* text, std::ptrdiff_t maxUnits = -1);

// UTF-8 to UTF-16, stopping at a NUL byte or after maxBytes bytes (-1: NUL only);
// never reads past maxBytes. Every malformed byte becomes '?' and makes the
// result false; what was decoded stays in `out`. Three-byte encodings of
// surrogate values are taken as they are (older writers produced them).
bool fromUtf8(std::u16string& out, const char* bytes, std::ptrdiff_t maxBytes = -1);

}  // namespace Common

namespace Processor {

// A new NUL-terminated array with every byte widened by value (ISO 8859-1);
// null and 0 for a null text. The caller frees it with delete[].
int toWideBuffer(char16_t*& out, const char* text);

// Copies min(sourceLength, size - 1) bytes widened by value and a NUL; nothing
// when size <= 0. Returns the units written before the NUL.
int widenInto(char16_t* destination, int size, const char* source, int sourceLength);

// The low byte of every unit of a wide text, as an owned NUL-terminated array.
class AnsiBuffer {
 public:
  explicit AnsiBuffer(const char16_t* text);
  ~AnsiBuffer() { delete[] text_; }
  AnsiBuffer(const AnsiBuffer&) = delete;
  AnsiBuffer& operator=(const AnsiBuffer&) = delete;

  const char* get() const noexcept { return text_; }
  operator const char*() const noexcept { return text_; }

 private:
  char* text_;
};

// Base64 (RFC 4648 alphabet, '=' padding, no line breaks) of [first, last) into
// `out`, which needs four characters per started group of three bytes. Returns
// the position after the last character written. C is char or char16_t.
template <class C>
C* base64Encode(C* out, const unsigned char* first, const unsigned char* last);

extern template char* base64Encode<char>(char*, const unsigned char*, const unsigned char*);
extern template char16_t* base64Encode<char16_t>(char16_t*, const unsigned char*, const unsigned char*);

}  // namespace Processor
