#include "core/text_convert.h"

#include <cstring>

#include "core/narrow_copy.h"

namespace Common {

namespace {
bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }
}  // namespace

bool toUtf8(std::string& out, const char16_t* text, std::ptrdiff_t maxUnits) {
  out.clear();
  if (!text) return true;
  auto more = [&](std::ptrdiff_t i) { return (maxUnits < 0 || i < maxUnits) && text[i] != 0; };
  for (std::ptrdiff_t i = 0; more(i); ++i) {
    const char16_t u = text[i];
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else if (isHighSurrogate(u) && more(i + 1) && isLowSurrogate(text[i + 1])) {
      const char32_t c = 0x10000 + ((static_cast<char32_t>(u - 0xD800) << 10) | (text[i + 1] - 0xDC00));
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      ++i;
    } else {
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return true;
}

bool fromUtf8(std::u16string& out, const char* bytes, std::ptrdiff_t maxBytes) {
  out.clear();
  if (!bytes || maxBytes == 0) return true;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  // Byte i may be read only when it lies within the count; with no count the
  // NUL byte stops every sequence, since it is no continuation byte.
  auto within = [&](std::ptrdiff_t i) { return maxBytes < 0 || i < maxBytes; };
  bool clean = true;
  std::ptrdiff_t i = 0;
  while (within(i) && b[i] != 0) {
    const unsigned char lead = b[i];
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    // Continuation bytes the lead needs, and the allowed range of the first one
    // (which rules out over-long forms and values above U+10FFFF).
    int need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      if (lead == 0xE0) lo = 0xA0;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    }
    bool ok = need > 0;
    for (int k = 1; ok && k <= need; ++k) {
      if (!within(i + k)) {
        ok = false;
        break;
      }
      const unsigned char c = b[i + k];
      ok = k == 1 ? (c >= lo && c <= hi) : isContinuation(c);
    }
    if (!ok) {
      out.push_back(u'?');
      clean = false;
      ++i;
      continue;
    }
    if (need == 1) {
      out.push_back(static_cast<char16_t>(((lead & 0x1F) << 6) | (b[i + 1] & 0x3F)));
    } else if (need == 2) {
      out.push_back(static_cast<char16_t>((lead << 12) | ((b[i + 1] & 0x3F) << 6) | (b[i + 2] & 0x3F)));
    } else {
      const char32_t c = (static_cast<char32_t>(lead & 0x07) << 18) | ((b[i + 1] & 0x3F) << 12) |
                         ((b[i + 2] & 0x3F) << 6) | (b[i + 3] & 0x3F);
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
    i += need + 1;
  }
  return clean;
}

}  // namespace Common

namespace Processor {

int toWideBuffer(char16_t*& out, const char* text) {
  if (!text) {
    out = nullptr;
    return 0;
  }
  const std::size_t n = std::strlen(text);
  out = new char16_t[n + 1];
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(text[i]);
  out[n] = 0;
  return static_cast<int>(n);
}

int widenInto(char16_t* destination, int size, const char* source, int sourceLength) {
  if (size <= 0) return 0;
  int n = sourceLength < size - 1 ? sourceLength : size - 1;
  if (n < 0 || !source) n = 0;
  for (int i = 0; i < n; ++i) destination[i] = static_cast<unsigned char>(source[i]);
  destination[n] = 0;
  return n;
}

AnsiBuffer::AnsiBuffer(const char16_t* text) : text_(nullptr) {
  if (!text) return;
  const int n = static_cast<int>(std::char_traits<char16_t>::length(text));
  text_ = new char[static_cast<std::size_t>(n) + 1];
  copyWideToNarrowLowBytes(text_, n + 1, text, n);
}

namespace {
constexpr char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

template <class C>
C* base64Encode(C* out, const unsigned char* first, const unsigned char* last) {
  while (last - first >= 3) {
    const unsigned v = (first[0] << 16) | (first[1] << 8) | first[2];
    *out++ = static_cast<C>(base64Alphabet[(v >> 18) & 0x3F]);
    *out++ = static_cast<C>(base64Alphabet[(v >> 12) & 0x3F]);
    *out++ = static_cast<C>(base64Alphabet[(v >> 6) & 0x3F]);
    *out++ = static_cast<C>(base64Alphabet[v & 0x3F]);
    first += 3;
  }
  if (last - first == 1) {
    const unsigned v = first[0] << 16;
    *out++ = static_cast<C>(base64Alphabet[(v >> 18) & 0x3F]);
    *out++ = static_cast<C>(base64Alphabet[(v >> 12) & 0x3F]);
    *out++ = static_cast<C>('=');
    *out++ = static_cast<C>('=');
  } else if (last - first == 2) {
    const unsigned v = (first[0] << 16) | (first[1] << 8);
    *out++ = static_cast<C>(base64Alphabet[(v >> 18) & 0x3F]);
    *out++ = static_cast<C>(base64Alphabet[(v >> 12) & 0x3F]);
    *out++ = static_cast<C>(base64Alphabet[(v >> 6) & 0x3F]);
    *out++ = static_cast<C>('=');
  }
  return out;
}

template char* base64Encode<char>(char*, const unsigned char*, const unsigned char*);
template char16_t* base64Encode<char16_t>(char16_t*, const unsigned char*, const unsigned char*);

}  // namespace Processor
