#include "core/number_format.h"

#include <unicode/decimfmt.h>
#include <unicode/fmtable.h>
#include <unicode/parsepos.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>

#include "core/number_settings.h"
#include "platform/win32/windows.h"
#include "system/layer.h"

namespace Processor {

std::int32_t NumberFormat::formatBuffer(char16_t* buffer, std::int32_t capacity, const Variant& value,
                                        std::int32_t minimumDigits) {
  String s;
  const std::int32_t n = format(s, value, minimumDigits);
  copyToBuffer(s, buffer, capacity);
  return n;
}

NumberFormat* NumberFormat::create(std::int32_t kind) {
  if (kind == 0) return new (std::nothrow) NumberFormatWin;
  return new (std::nothrow) NumberFormatHEX(kind == 1 ? 16 : 10);
}

NumberFormat* NumberFormat::createICU(const String& pattern) { return new (std::nothrow) NumberFormatICU(pattern); }

// ---- Radix 16 and 10 --------------------------------------------------------

namespace {

constexpr std::int32_t kDigitBuffer = 33;

// Digits of `value` right-aligned in buf[0, kDigitBuffer); returns the first.
std::int32_t plainDigits(char16_t (&buf)[kDigitBuffer], std::uint64_t value, std::uint32_t radix,
                         std::int32_t minimumDigits) {
  static constexpr char16_t digits[] = u"0123456789ABCDEF";
  std::int32_t i = kDigitBuffer;
  do {
    buf[--i] = digits[value % radix];
    value /= radix;
  } while (value && i > 0);
  while (kDigitBuffer - i < minimumDigits && i > 0) buf[--i] = u'0';
  return i;
}

bool unsignedBits(const Variant& v, std::uint64_t& out) {
  switch (v.type()) {
    case Variant::TLong:
    case Variant::TULong:
      out = v.rawULong();
      return true;
    case Variant::TLong64:
    case Variant::TULong64:
      out = v.rawULong64();
      return true;
    default:
      return false;
  }
}

}  // namespace

std::int32_t NumberFormatHEX::formatBuffer(char16_t* buffer, std::int32_t capacity, const Variant& value,
                                           std::int32_t minimumDigits) {
  std::uint64_t bits;
  if (!unsignedBits(value, bits) || capacity <= 0) return 0;
  char16_t buf[kDigitBuffer];
  const std::int32_t first = plainDigits(buf, bits, static_cast<std::uint32_t>(radix_), minimumDigits);
  std::int32_t n = kDigitBuffer - first;
  if (n > capacity) n = capacity;
  std::copy(buf + first, buf + first + n, buffer);
  return n;
}

std::int32_t NumberFormatHEX::format(String& out, const Variant& value, std::int32_t minimumDigits) {
  out.truncate(0);
  std::uint64_t bits;
  if (!unsignedBits(value, bits)) return 0;
  char16_t buf[kDigitBuffer];
  const std::int32_t first = plainDigits(buf, bits, static_cast<std::uint32_t>(radix_), minimumDigits);
  out.append(buf + first, kDigitBuffer - first);
  return out.length();
}

double NumberFormatHEX::parseText(const char16_t* text, std::int32_t length, std::int32_t radix, std::int32_t* stop) {
  std::int32_t i = 0;
  bool negative = false;
  bool leadingZero = false;
  bool anyDigit = false;
  bool switched = false;
  std::uint64_t value = 0;
  for (; i < length; ++i) {
    const char16_t c = text[i];
    if ((c == u'+' || c == u'-') && i == 0) {
      negative = c == u'-';
      continue;
    }
    if (c == u'0' && !anyDigit && !leadingZero) {
      leadingZero = true;
      continue;
    }
    if ((c == u'x' || c == u'X') && leadingZero && !anyDigit && !switched) {
      radix = 16;
      switched = true;
      continue;
    }
    std::int32_t d;
    if (c >= u'0' && c <= u'9')
      d = c - u'0';
    else if (c >= u'A' && c <= u'Z')
      d = c - u'A' + 10;
    else if (c >= u'a' && c <= u'z')
      d = c - u'a' + 10;
    else
      break;
    if (d >= radix) break;
    anyDigit = true;
    value = value * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
  }
  if (stop) *stop = i;
  const double v = static_cast<double>(value);
  return negative ? -v : v;
}

double NumberFormatHEX::parse(const String& text, std::int32_t* stop) {
  return parseText(text.getBuffer(), text.length(), radix_, stop);
}

// ---- ICU decimal patterns ---------------------------------------------------

struct NumberFormatICU::Impl {
  icu::DecimalFormat* format = nullptr;
};

NumberFormatICU::NumberFormatICU(const String& pattern) : impl_(new Impl) {
  UErrorCode status = U_ZERO_ERROR;
  impl_->format = new icu::DecimalFormat(pattern, status);
}

NumberFormatICU::~NumberFormatICU() {
  delete impl_->format;
  delete impl_;
}

std::int32_t NumberFormatICU::format(String& out, const Variant& value, std::int32_t minimumDigits) {
  out.truncate(0);
  switch (value.type()) {
    case Variant::TLong64:
    case Variant::TULong64: {
      NumberFormatHEX decimal(10);
      return decimal.format(out, value, minimumDigits);
    }
    case Variant::TDouble:
      impl_->format->format(value.rawDouble(), out);
      return out.length();
    case Variant::TLong:
      impl_->format->format(value.rawLong(), out);
      return out.length();
    case Variant::TULong:
      impl_->format->format(static_cast<std::int64_t>(value.rawULong()), out);
      return out.length();
    case Variant::TDate:
    case Variant::TString: {
      icu::Formattable f;
      if (value.type() == Variant::TDate)
        f.setDate(value.rawDouble());
      else
        f.setString(*value.rawString());
      UErrorCode status = U_ZERO_ERROR;
      impl_->format->format(f, out, status);
      return out.length();
    }
    default:
      return 0;
  }
}

std::int32_t NumberFormatICU::formatBuffer(char16_t* buffer, std::int32_t capacity, const Variant& value,
                                           std::int32_t minimumDigits) {
  String s;
  const std::int32_t n = format(s, value, minimumDigits);
  copyToBuffer(s, buffer, capacity);
  return n;
}

double NumberFormatICU::parse(const String& text, std::int32_t* stop) {
  icu::Formattable result;
  icu::ParsePosition pos(0);
  impl_->format->parse(text, result, pos);
  if (stop) *stop = pos.getIndex();
  switch (result.getType()) {
    case icu::Formattable::kDouble:
      return result.getDouble();
    case icu::Formattable::kLong:
      return result.getLong();
    case icu::Formattable::kInt64:
      return static_cast<double>(result.getInt64());
    default:
      return 0;
  }
}

void NumberFormatICU::setFractionDigits(std::int32_t count) {
  impl_->format->setMinimumFractionDigits(count);
  impl_->format->setMaximumFractionDigits(count);
}

}  // namespace Processor

// ---- The user's locale ------------------------------------------------------

namespace Processor {

namespace {

bool startsAt(const String& text, std::int32_t pos, const String& what) {
  return !what.isEmpty() && pos >= 0 && text.length() - pos >= what.length() &&
         text.compare(pos, what.length(), what) == 0;
}

// A decimal integer of ASCII digits; false when empty, not all digits or above `limit`.
bool readUnsigned(const String& text, std::int32_t from, std::int32_t to, std::uint64_t limit, std::uint64_t& out) {
  if (from >= to) return false;
  std::uint64_t v = 0;
  for (std::int32_t i = from; i < to; ++i) {
    const char16_t c = text.charAt(i);
    if (c < u'0' || c > u'9') return false;
    const std::uint64_t d = c - u'0';
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

}  // namespace

namespace {

RefPtr<NumberFormatWinOptions> settingsOf(LcidControl* control) {
  RefPtr<NumberFormatWinOptions> o = control ? control->settings() : NumberFormatWinOptions::instance();
  if (!o) throwNullReference();
  return o;
}

}  // namespace

NumberFormatWin::NumberFormatWin() : control_(lcidControl) {}

bool NumberFormatWin::plainText(const Variant& value, String& out) {
  char buf[100];
  int n;
  switch (value.type()) {
    case Variant::TDouble: {
      // Fixed notation with nine decimals, as "%.9f" writes it in any locale.
      const auto r = std::to_chars(buf, buf + sizeof buf - 1, value.rawDouble(), std::chars_format::fixed, 9);
      if (r.ec != std::errc()) return false;
      n = static_cast<int>(r.ptr - buf);
      break;
    }
    case Variant::TLong:
      n = std::snprintf(buf, sizeof buf, "%d", value.rawLong());
      break;
    case Variant::TLong64:
      n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value.rawLong64()));
      break;
    case Variant::TULong:
      n = std::snprintf(buf, sizeof buf, "%u", value.rawULong());
      break;
    case Variant::TULong64:
      n = std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(value.rawULong64()));
      break;
    default:
      return false;
  }
  char16_t* w = out.getBuffer(n);
  for (int i = 0; i < n; ++i) w[i] = static_cast<unsigned char>(buf[i]);
  out.releaseBuffer(n);
  return true;
}

std::int32_t NumberFormatWin::format(String& out, const Variant& value, std::int32_t minimumDigits) {
  out.truncate(0);
  const bool isDouble = value.type() == Variant::TDouble;
  String plain;
  if (!plainText(value, plain)) return 0;
  // Copies taken under the settings' lock: a reload cannot change them now.
  RefPtr<NumberFormatWinOptions> options = settingsOf(control_);
  const NumberSettings s = options->snapshot();
  NumberRecord record = isDouble ? options->decimalRecord() : options->integerRecord();
  if (isDouble) {
    if (fractionDigits_ != -1) record.setDigits(static_cast<UINT>(fractionDigits_));
    if (std::fmod(value.rawDouble(), 1.0) == 0) record.setDigits(0);
  }
  if (!s.decimalSeparator.isEmpty() && s.decimalSeparator != String(u"."))
    plain.findAndReplace(s.decimalSeparator, String(u"."));
  Windows::LayerNT* layer = Windows::layer;
  if (!layer) return 0;
  LPCWSTR input = plain.getTerminatedBuffer();
  // Most numbers fit a small buffer; otherwise ask for the size first.
  WCHAR small[64];
  int written = layer->GetNumberFormatW(s.language, 0, input, record.get(), small, 64);
  if (written > 0) {
    out.append(small, written - 1);
  } else {
    const int size = layer->GetNumberFormatW(s.language, 0, input, record.get(), nullptr, 0);
    if (size <= 0) return 0;
    char16_t* buf = out.getBuffer(size);
    written = layer->GetNumberFormatW(s.language, 0, input, record.get(), buf, size);
    out.releaseBuffer(written == size ? size - 1 : 0);
    if (written != size) return 0;
  }
  if (out.length() < minimumDigits) out.padLeading(minimumDigits, u'0');
  return out.length();
}

double NumberFormatWin::parse(const String& text, std::int32_t* stop) {
  const NumberSettings s = settingsOf(control_)->snapshot();
  auto fail = [&]() {
    if (stop) *stop = 0;
    return 0.0;
  };
  if (!s.valid) return fail();
  const std::int32_t n = text.length();
  auto inSet = [](const String& set, char16_t c) { return set.indexOf(c) >= 0; };
  auto numeric = [&](char16_t c) {
    return inSet(s.nativeDigits, c) || inSet(s.decimalSeparator, c) || inSet(s.thousandsSeparator, c) ||
           inSet(s.positiveSign, c);
  };
  // The number runs from `start` to `end`. A sign or "(" before the first
  // digit moves the start; after the digits, a negative sign or ")" ends the
  // number, so the trailing and parentheses forms the formatter writes read back.
  std::int32_t start = 0, end = 0;
  bool digits = false;
  for (std::int32_t i = 0; i < n; ++i) {
    const char16_t c = text.charAt(i);
    if (numeric(c)) {
      end = i + 1;
      if (inSet(s.nativeDigits, c)) digits = true;
      continue;
    }
    if (!digits && (inSet(s.negativeSign, c) || (s.negativeForm == 2 && c == u'('))) {
      start = i + 1;
      while (start < n && text.charAt(start) == u' ') ++start;
      i = start - 1;
      continue;
    }
    break;
  }
  if (start >= end) return fail();
  // Normalise: no grouping, '.' for the decimal separator, ASCII digits.
  String number;
  bool point = false;
  for (std::int32_t i = start; i < end;) {
    if (startsAt(text, i, s.thousandsSeparator)) {
      i += s.thousandsSeparator.length();
      continue;
    }
    if (startsAt(text, i, s.decimalSeparator)) {
      number.append(u'.');
      point = true;
      i += s.decimalSeparator.length();
      continue;
    }
    if (startsAt(text, i, s.positiveSign)) {
      i += s.positiveSign.length();
      continue;
    }
    const std::int32_t d = s.nativeDigits.indexOf(text.charAt(i));
    if (d < 0 || d > 9) return fail();
    number.append(static_cast<char16_t>(u'0' + d));
    ++i;
  }
  if (number.isEmpty()) return fail();
  double value;
  if (point) {
    const std::int32_t dot = number.indexOf(u'.');
    if (number.indexOf(u'.', dot + 1) >= 0) return fail();
    std::int32_t fracEnd = number.length();
    while (fracEnd > dot + 1 && number.charAt(fracEnd - 1) == u'0') --fracEnd;
    std::uint64_t whole = 0, fraction = 0;
    if (dot > 0 && !readUnsigned(number, 0, dot, 0x7FFFFFFF, whole)) return fail();
    if (fracEnd > dot + 1 && !readUnsigned(number, dot + 1, fracEnd, 0x7FFFFFFF, fraction)) return fail();
    value = static_cast<double>(whole) + static_cast<double>(fraction) / std::pow(10.0, fracEnd - dot - 1);
  } else {
    std::uint64_t whole = 0;
    if (!readUnsigned(number, 0, number.length(), UINT64_MAX, whole)) return fail();
    value = static_cast<double>(whole);
  }
  // The sign, by the locale's negative form.
  bool negative = false;
  std::int32_t signEnd = end;
  auto after = [&](std::int32_t from, const String& what) {
    std::int32_t i = from;
    while (i < n && text.charAt(i) == u' ') ++i;
    return startsAt(text, i, what) ? i + what.length() : -1;
  };
  auto before = [&](const String& what) {
    std::int32_t i = start;
    while (i > 0 && text.charAt(i - 1) == u' ') --i;
    return startsAt(text, i - what.length(), what);
  };
  if (s.negativeForm == 0) {
    negative = before(s.negativeSign);
  } else if (s.negativeForm == 1) {
    const std::int32_t at = after(end, s.negativeSign);
    if (at >= 0) negative = true, signEnd = at;
  } else {
    const std::int32_t at = after(end, String(u")"));
    if (before(String(u"(")) && at >= 0) negative = true, signEnd = at;
  }
  if (stop) *stop = end > signEnd ? end : signEnd;
  return negative ? -value : value;
}

}  // namespace Processor
