// The text conversions on arbitrary input, read as UTF-8 and as UTF-16LE:
// UTF-16 survives UTF-8 and back unit for unit; decoded UTF-8 re-encodes to the
// same bytes unless it spelt surrogates in three bytes; byte widening and
// narrowing and Processor::String keep every unit; Base64 decodes back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/string.h"
#include "core/text_convert.h"
#include "fuzz/fuzz_check.h"

namespace {

void check_utf8_input(const std::uint8_t* data, std::size_t size) {
  // Exactly as long as the input, so that reading past maxBytes is caught.
  std::unique_ptr<char[]> bytes(new char[size ? size : 1]);
  std::memcpy(bytes.get(), data, size);
  std::u16string units;
  const bool valid = Common::fromUtf8(units, bytes.get(), static_cast<std::ptrdiff_t>(size));
  FUZZ_CHECK(units.find(u'\0') == std::u16string::npos);

  std::string terminated(reinterpret_cast<const char*>(data), size);
  std::u16string units_to_nul;
  FUZZ_CHECK(Common::fromUtf8(units_to_nul, terminated.c_str()) == valid);
  FUZZ_CHECK(units_to_nul == units);

  std::string encoded;
  FUZZ_CHECK(Common::toUtf8(encoded, units.data(), static_cast<std::ptrdiff_t>(units.size())));
  std::u16string back;
  FUZZ_CHECK(Common::fromUtf8(back, encoded.data(), static_cast<std::ptrdiff_t>(encoded.size())));
  FUZZ_CHECK(back == units);
  if (valid) {
    const std::string prefix = terminated.c_str();
    // Only a surrogate written in three bytes (lead byte ED) is spelt differently.
    FUZZ_CHECK(encoded == prefix || prefix.find('\xED') != std::string::npos);
  }
}

void check_utf16_input(const std::uint8_t* data, std::size_t size) {
  const std::size_t n = size / 2;
  std::unique_ptr<char16_t[]> units(new char16_t[n ? n : 1]);
  std::memcpy(units.get(), data, n * 2);
  std::u16string text(units.get(), n);
  text.resize(std::char_traits<char16_t>::length(text.c_str()));

  std::string encoded;
  FUZZ_CHECK(Common::toUtf8(encoded, units.get(), static_cast<std::ptrdiff_t>(n)));
  std::string encoded_to_nul;
  FUZZ_CHECK(Common::toUtf8(encoded_to_nul, text.c_str()));
  FUZZ_CHECK(encoded_to_nul == encoded);
  std::u16string back;
  FUZZ_CHECK(Common::fromUtf8(back, encoded.data(), static_cast<std::ptrdiff_t>(encoded.size())));
  FUZZ_CHECK(back == text);

  const Processor::String s(text.c_str());
  FUZZ_CHECK(static_cast<std::size_t>(s.length()) == text.size());
  FUZZ_CHECK(std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length())) == text);
}

void check_bytes(const std::uint8_t* data, std::size_t size) {
  const std::string narrow(reinterpret_cast<const char*>(data), size);
  const std::string to_nul = narrow.c_str();
  char16_t* wide = nullptr;
  FUZZ_CHECK(Processor::toWideBuffer(wide, narrow.c_str()) == static_cast<int>(to_nul.size()));
  for (std::size_t i = 0; i < to_nul.size(); ++i)
    FUZZ_CHECK(wide[i] == static_cast<unsigned char>(to_nul[i]));
  FUZZ_CHECK(wide[to_nul.size()] == 0);
  const Processor::AnsiBuffer ansi(wide);
  FUZZ_CHECK(to_nul == ansi.get());
  delete[] wide;

  const int room = size ? static_cast<int>(data[0] % 64) : 0;
  std::unique_ptr<char16_t[]> dest(new char16_t[room ? room : 1]);
  const int written = Processor::widenInto(dest.get(), room, narrow.data(), static_cast<int>(size));
  FUZZ_CHECK(written == (room <= 0 ? 0 : std::min(room - 1, static_cast<int>(size))));
  if (room > 0) FUZZ_CHECK(dest[written] == 0);

  // Base64 against a decoder written here.
  const auto* first = reinterpret_cast<const unsigned char*>(data);
  std::string b64((size + 2) / 3 * 4, '\0');
  char* end = Processor::base64Encode<char>(b64.data(), first, first + size);
  FUZZ_CHECK(end == b64.data() + b64.size());
  std::u16string b64w(b64.size(), u'\0');
  char16_t* wend = Processor::base64Encode<char16_t>(b64w.data(), first, first + size);
  FUZZ_CHECK(wend == b64w.data() + b64w.size());
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string decoded;
  for (std::size_t i = 0; i < b64.size(); i += 4) {
    std::uint32_t group = 0;
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      FUZZ_CHECK(b64w[i + k] == static_cast<unsigned char>(b64[i + k]));
      const char c = b64[i + k];
      if (c == '=') {
        ++pad;
        group <<= 6;
        continue;
      }
      FUZZ_CHECK(pad == 0);
      const char* at = std::strchr(alphabet, c);
      FUZZ_CHECK(c != 0 && at != nullptr);
      group = group << 6 | static_cast<std::uint32_t>(at - alphabet);
    }
    FUZZ_CHECK(pad <= 2);
    for (int k = 0; k < 3 - pad; ++k) decoded += static_cast<char>(group >> (16 - 8 * k) & 0xFF);
  }
  FUZZ_CHECK(decoded == narrow);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_utf8_input(data, size);
  check_utf16_input(data, size);
  check_bytes(data, size);
  return 0;
}
