// Sorting a folder's worth of names with CompareStringW (LOCALE_SYSTEM_DEFAULT,
// NORM_IGNORECASE), as the file library orders a directory listing, against
// the same sort with ICU's collator called directly (root rules, secondary
// strength: what the comparison needs at least) and against a plain ordinal
// sort of the same names. Sides alternate in batches; medians are reported.
#include <unicode/coll.h>
#include <unicode/ucol.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/win32/windows.h"

namespace {

std::vector<std::u16string> names(long count) {
  const char16_t* stems[] = {u"entry_", u"Setup-", u"readme", u"R\u00e9sum\u00e9 ", u"co-op ", u"Data.",
                             u"\u00fcbersicht", u"Stra\u00dfe ", u"IMG_", u"notes "};
  const char16_t* exts[] = {u".dat", u".TXT", u".msi", u".cab", u"", u".log"};
  std::vector<std::u16string> out;
  out.reserve(static_cast<std::size_t>(count));
  unsigned seed = 12345;
  for (long i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    std::u16string n = stems[(seed >> 16) % 10];
    for (char c : std::to_string((seed >> 8) % 100000)) n += static_cast<char16_t>(c);
    n += exts[(seed >> 4) % 6];
    out.push_back(std::move(n));
  }
  return out;
}

template <class Less>
double sort_once(std::vector<std::u16string> v, Less less) {
  const auto t = bench::clock_type::now();
  std::sort(v.begin(), v.end(), less);
  return bench::seconds_since(t);
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 100000;
  const int batches = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::vector<std::u16string> v = names(count);

  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> icu_coll(icu::Collator::createInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return 1;
  icu_coll->setStrength(icu::Collator::SECONDARY);
  UCollator* raw = icu_coll->toUCollator();

  std::vector<double> layer, icu, ordinal;
  for (int b = 0; b < batches; ++b) {
    layer.push_back(sort_once(v, [](const std::u16string& a, const std::u16string& b) {
      return CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                            static_cast<int>(b.size())) == CSTR_LESS_THAN;
    }));
    icu.push_back(sort_once(v, [raw](const std::u16string& a, const std::u16string& b) {
      return ucol_strcoll(raw, a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size())) ==
             UCOL_LESS;
    }));
    ordinal.push_back(sort_once(v, [](const std::u16string& a, const std::u16string& b) { return a < b; }));
  }
  const double l = bench::median(layer), i = bench::median(icu), o = bench::median(ordinal);
  std::printf("sorting %ld names, median of %d batches (sides alternating), ms:\n", count, batches);
  std::printf("  CompareStringW (NORM_IGNORECASE)  %8.1f\n", l * 1e3);
  std::printf("  ICU collator direct (secondary)   %8.1f   layer/ICU %.2f\n", i * 1e3, l / i);
  std::printf("  ordinal (operator<)               %8.1f   layer/ordinal %.2f\n", o * 1e3, l / o);
  return 0;
}
