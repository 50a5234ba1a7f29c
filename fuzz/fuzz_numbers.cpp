// Number and date texts: what a formatter writes, its parser reads back as
// the same value (integers exactly, dates to the second), and any text
// parses without crashing.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/date_format.h"
#include "core/number_format.h"
#include "fuzz/fuzz_check.h"
#include "platform/win32/testing/locale_testing.h"

namespace {

using Processor::String;
using Processor::Variant;

constexpr std::int64_t kExact = std::int64_t{1} << 53;
// 1601-01-01 and 9999-12-31 23:59:59 in milliseconds since 1970.
constexpr std::int64_t kFirstMs = -11644473600000LL;
constexpr std::int64_t kLastMs = 253402300799000LL;

void numberRoundTrip(Processor::NumberFormat& f, std::int64_t v) {
  String text;
  if (f.format(text, Variant(static_cast<long long>(v)), 0) == 0) return;
  std::int32_t stop = -1;
  const double back = f.parse(text, &stop);
  if (back != static_cast<double>(v)) {
    std::string shown;
    for (std::int32_t i = 0; i < text.length(); ++i) shown += static_cast<char>(text.charAt(i));
    std::fprintf(stderr, "%lld written as \"%s\" read as %.17g\n", static_cast<long long>(v), shown.c_str(), back);
  }
  FUZZ_CHECK(back == static_cast<double>(v));
  FUZZ_CHECK(stop == text.length());
}

void dateRoundTrip(std::int32_t style, std::int64_t ms) {
  std::unique_ptr<Processor::DateFormatWin> f(Processor::DateFormat::createDateTime(style));
  String text;
  if (f->format(text, static_cast<double>(ms)) <= 0) return;
  double back = 0;
  FUZZ_CHECK(f->parse(text, &back) == 0);
  const double second = std::floor(static_cast<double>(ms) / 1000.0) * 1000.0;
  if (!(back >= second && back < second + 1000)) {
    std::string shown;
    for (std::int32_t i = 0; i < text.length(); ++i) shown += static_cast<char>(text.charAt(i));
    std::fprintf(stderr, "style %d: %lld written as \"%s\" read as %.17g\n", style, static_cast<long long>(ms),
                 shown.c_str(), back);
  }
  FUZZ_CHECK(back >= second && back < second + 1000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool utc = [] {
    static TIME_ZONE_INFORMATION zone{};
    win32::set_time_zone_for_tests(&zone, TIME_ZONE_ID_UNKNOWN);
    return true;
  }();
  (void)utc;
  static std::unique_ptr<Processor::NumberFormat> formats[3] = {
      std::unique_ptr<Processor::NumberFormat>(Processor::NumberFormat::create(0)),
      std::unique_ptr<Processor::NumberFormat>(Processor::NumberFormat::create(1)),
      std::unique_ptr<Processor::NumberFormat>(Processor::NumberFormat::create(2))};
  if (size < 9) return 0;
  std::uint64_t bits;
  std::memcpy(&bits, data + 1, 8);
  const auto value = static_cast<std::int64_t>(bits);

  switch (data[0] % 4) {
    case 0:  // the locale's digits, either sign
      numberRoundTrip(*formats[0], value % kExact);
      break;
    case 1:  // plain digits write a negative value's two's complement: not negative here
    case 2:
      numberRoundTrip(*formats[data[0] % 4], static_cast<std::int64_t>(bits % static_cast<std::uint64_t>(kExact)));
      break;
    default: {
      const std::int64_t span = kLastMs - kFirstMs;
      const std::int64_t ms = kFirstMs + static_cast<std::int64_t>(bits % static_cast<std::uint64_t>(span));
      dateRoundTrip(data[0] / 4 % 5, ms);
    }
  }

  // The rest as text for every reader.
  std::u16string text;
  for (std::size_t at = 9; at + 1 < size && text.size() < 256; at += 2)
    text += static_cast<char16_t>(data[at] | data[at + 1] << 8);
  const String s(text.data(), static_cast<std::int32_t>(text.size()));
  for (auto& f : formats) {
    std::int32_t stop = -1;
    const double v = f->parse(s, &stop);
    FUZZ_CHECK(stop >= 0 && stop <= s.length());
    (void)v;
  }
  for (std::int32_t style = 0; style <= 4; ++style) {
    std::unique_ptr<Processor::DateFormatWin> f(Processor::DateFormat::createDateTime(style));
    double back = 0;
    f->parse(s, &back);
    std::unique_ptr<Processor::DateFormatWin> t(Processor::DateFormat::createTime(style));
    t->parse(s, &back);
  }
  return 0;
}
