// Formatting values: a three-argument message pattern (number, date, text)
// against ICU's MessageFormat formatting the same values, and locale number
// formatting against ICU's DecimalFormat writing the same text. Both sides
// run in this process with a formatter made once and reused, as callers keep
// theirs; each side's output string is emptied per call.
// Goal: no slower than ICU.
//
// Usage: bench_values [thousands of calls per batch, default 100]
#include <unicode/decimfmt.h>
#include <unicode/msgfmt.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "core/message_format.h"
#include "core/number_format.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/locale_testing.h"

namespace {

using bench::median;

// Median over five batches of ns per call.
template <class F>
double timed(long n, F call) {
  std::vector<double> runs;
  for (int b = 0; b < 5; ++b) runs.push_back(bench::ns_per_op(n, [&] {
    for (long i = 0; i < n; ++i) call(i);
  }));
  return median(runs);
}

std::string utf8(const icu::UnicodeString& s) {
  std::string out;
  s.toUTF8String(out);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const long n = (argc > 1 ? std::atol(argv[1]) : 100) * 1000;
  TIME_ZONE_INFORMATION tz = {};
  tz.Bias = -60;
  win32::set_time_zone_for_tests(&tz, TIME_ZONE_ID_UNKNOWN);
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale("en", "US"), status);
  icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("Etc/GMT-1"));

  const double number = 1234567.25;
  const double date = 1718000000000.0;
  const char16_t* text = u"C:\\Program Files\\Dovecrest";

  // ---- The pattern ----
  Processor::MessageFormatImpl ours;
  const Processor::String pattern(u"{0,number} files on {1,date} in {2}");
  const Processor::Variant args[3] = {Processor::Variant(number), Processor::Variant::date(date),
                                      Processor::Variant(text)};
  Processor::String ourOut;

  icu::MessageFormat theirs(icu::UnicodeString(u"{0,number} files on {1,date,short} in {2}"), status);
  if (U_FAILURE(status)) {
    std::fprintf(stderr, "ICU MessageFormat: %s\n", u_errorName(status));
    return 1;
  }
  const icu::Formattable theirArgs[3] = {icu::Formattable(number), icu::Formattable(date, icu::Formattable::kIsDate),
                                         icu::Formattable(icu::UnicodeString(text))};
  icu::UnicodeString theirOut;
  icu::FieldPosition pos;

  ours.format(ourOut, pattern, args, 3);
  theirs.format(theirArgs, 3, theirOut, pos, status);
  std::printf("ours:   %s\nICU:    %s\n", utf8(ourOut).c_str(), utf8(theirOut).c_str());

  const double patternOurs = timed(n, [&](long) {
    ourOut.truncate(0);
    ours.format(ourOut, pattern, args, 3);
  });
  const double patternIcu = timed(n, [&](long) {
    theirOut.truncate(0);
    UErrorCode s = U_ZERO_ERROR;
    theirs.format(theirArgs, 3, theirOut, pos, s);
  });

  // ---- Numbers ----
  std::unique_ptr<Processor::NumberFormat> locale(Processor::NumberFormat::create(0));
  std::unique_ptr<Processor::NumberFormat> icuPattern(Processor::NumberFormat::createICU(u"#,##0.00"));
  icu::DecimalFormat decimal(icu::UnicodeString(u"#,##0.00"), status);
  const Processor::Variant value(number);
  Processor::String numberOut;
  icu::UnicodeString decimalOut;
  locale->format(numberOut, value, 0);
  decimal.format(number, decimalOut);
  std::printf("ours:   %s\nICU:    %s\n\n", utf8(numberOut).c_str(), utf8(decimalOut).c_str());

  const double numberOurs = timed(n, [&](long) { locale->format(numberOut, value, 0); });
  const double numberIcuWrapped = timed(n, [&](long) { icuPattern->format(numberOut, value, 0); });
  const double numberIcu = timed(n, [&](long) {
    decimalOut.truncate(0);
    decimal.format(number, decimalOut);
  });

  // The layer's GetNumberFormatW alone, which the locale formatter must call.
  NUMBERFMTW record = {2, 1, 3, const_cast<LPWSTR>(u"."), const_cast<LPWSTR>(u","), 1};
  WCHAR buf[64];
  const double layerCall = timed(n, [&](long) { GetNumberFormatW(0x0409, 0, u"1234567.250000000", &record, buf, 64); });

  std::printf("%ld calls per batch, medians of 5 batches\n", n);
  bench::ratio_row("pattern vs MessageFormat", patternOurs, patternIcu);
  bench::ratio_row("locale number vs DecimalFormat", numberOurs, numberIcu);
  bench::ratio_row("NumberFormatICU vs DecimalFormat", numberIcuWrapped, numberIcu);
  bench::ratio_row("  (GetNumberFormatW alone)", layerCall, numberIcu);
  win32::set_time_zone_for_tests(nullptr);
  return 0;
}
