// Path resolution on arbitrary UTF-16 paths against a few canonical bases: a
// canonical result resolves to itself, against any base.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/text_convert.h"
#include "files/path.h"
#include "fuzz/fuzz_check.h"

namespace {

const char16_t* const bases[] = {
    u"C:\\",
    u"C:\\Program Files\\Korvane\\",
    u"Z:\\tmp\\a.b\\",
    u"\\\\server\\share\\",
    u"\\\\server\\share\\dir\\sub\\",
    u"\\\\?\\GLOBALROOT\\Device\\",
    u"",
};
constexpr std::size_t base_count = sizeof bases / sizeof bases[0];

std::string utf8(const std::u16string& text) {
  std::string out;
  Common::toUtf8(out, text.data(), static_cast<std::ptrdiff_t>(text.size()));
  return out;
}

}  // namespace

// The bases must be canonical themselves.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const char16_t* base : bases) {
    if (!*base) continue;
    std::u16string again = u"(refused)";
    resolve_path(u"C:\\", again, base, false);
    FUZZ_CHECK_EQUAL(utf8(again), utf8(base));
  }
  return 0;
}

// Input: one byte choosing the base (low bits) and the stream flag (bit 7),
// then the path in UTF-16LE.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const char16_t* base = bases[(data[0] & 0x7F) % base_count];
  const bool stream = (data[0] & 0x80) != 0;
  std::u16string path((size - 1) / 2, u'\0');
  std::memcpy(path.data(), data + 1, path.size() * 2);
  path.resize(std::char_traits<char16_t>::length(path.c_str()));

  std::u16string result = u"unchanged";
  if (!resolve_path(base, result, path.c_str(), stream)) {
    FUZZ_CHECK(result == u"unchanged");
    return 0;
  }
  FUZZ_CHECK(root_length(result) <= result.size());
  // The computer level is empty, which names the base as a relative path does.
  if (result.empty()) return 0;
  for (std::size_t b = 0; b < base_count; ++b) {
    std::u16string again = u"(refused)";
    resolve_path(bases[b], again, result.c_str(), stream);
    if (again != result) std::fprintf(stderr, "against base %zu:\n", b);
    FUZZ_CHECK_EQUAL(utf8(again), utf8(result));
  }
  // A canonical path is a base, which "." names.
  if (!stream) {
    std::u16string self = u"(refused)";
    resolve_path(result.c_str(), self, u".", false);
    FUZZ_CHECK_EQUAL(utf8(self), utf8(result));
  }
  return 0;
}
