// Message patterns with variant arguments, as the catalogue and the
// configuration bring them: any pattern with any arguments formats without
// crashing, and the buffer form gives the same text and length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/message_format.h"
#include "fuzz/fuzz_check.h"

namespace {

using Processor::String;
using Processor::Variant;

// One argument from a kind byte and eight payload bytes.
Variant argument(std::uint8_t kind, const std::uint8_t* p) {
  std::uint64_t bits;
  std::memcpy(&bits, p, 8);
  double d;
  std::memcpy(&d, p, 8);
  switch (kind % 9) {
    case 0: return Variant(static_cast<std::int32_t>(bits));
    case 1: return Variant(static_cast<long long>(bits));
    case 2: return Variant(static_cast<unsigned long long>(bits));
    case 3: return Variant(d);
    case 4: return Variant((bits & 1) != 0);
    case 5: return Variant::date(static_cast<double>(static_cast<std::int64_t>(bits) >> 16));
    case 6: {
      const char16_t text[4] = {static_cast<char16_t>(bits), static_cast<char16_t>(bits >> 16),
                                static_cast<char16_t>(bits >> 32), 0};
      return Variant(text);
    }
    case 7: return Variant(static_cast<std::uint32_t>(bits));
    default: return Variant();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static std::unique_ptr<Processor::MessageFormatImpl> formatter(Processor::MessageFormat::create());
  FUZZ_CHECK(formatter != nullptr);
  const std::size_t count = std::min<std::size_t>(data[0] % 5, (size - 1) / 9);
  std::vector<Variant> args;
  std::size_t at = 1;
  for (std::size_t i = 0; i < count; ++i, at += 9) args.push_back(argument(data[at], data + at + 1));
  std::u16string pattern;
  for (; at + 1 < size; at += 2) pattern += static_cast<char16_t>(data[at] | data[at + 1] << 8);
  if (pattern.size() > 4096) return 0;

  // An argument that does not convert to what its field asks for throws the
  // variant's error, the same from both forms.
  String out;
  bool threw = false;
  try {
    formatter->format(out, String(pattern.data(), static_cast<std::int32_t>(pattern.size())), args.data(),
                      static_cast<std::int32_t>(args.size()));
  } catch (const Variant::Error&) {
    threw = true;
  }
  char16_t buffer[32];
  std::int32_t length = 0;
  try {
    length = formatter->formatBuffer(buffer, 32, pattern.data(), static_cast<std::int32_t>(pattern.size()),
                                     args.data(), static_cast<std::int32_t>(args.size()));
  } catch (const Variant::Error&) {
    FUZZ_CHECK(threw);
    return 0;
  }
  FUZZ_CHECK(!threw);
  FUZZ_CHECK(length == out.length());
  const std::int32_t shown = std::min<std::int32_t>(length, 32);
  FUZZ_CHECK(std::memcmp(buffer, out.getBuffer(), static_cast<std::size_t>(shown) * sizeof(char16_t)) == 0);
  return 0;
}
