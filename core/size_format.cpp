#include "core/size_format.h"

#include <cmath>
#include <new>

#include "core/catalogue.h"
#include "core/number_format.h"
#include "core/subformats.h"

namespace Processor {

namespace {

constexpr double kDivisors[5] = {1.0, 1024.0, 1048576.0, 1073741824.0, 1099511627776.0};
constexpr double kUpperLimits[5] = {999.0, 1022976.0, 1047527424.0, 1072668082176.0, 1098412116148224.0};
constexpr std::uint32_t kNameSlots[5] = {612, 614, 615, 613, 616};
constexpr const char16_t* kBuiltInNames[5] = {u" bytes", u" KB", u" MB", u" GB", u" TB"};

}  // namespace

const char16_t* sizeUnitName(std::int32_t unit) {
  if (unit < 0 || unit > 4) return u"";
  return Common::catalogueText(kNameSlots[unit], kBuiltInNames[unit]);
}

SizeFormatImpl* SizeFormat::create() { return new (std::nothrow) SizeFormatImpl; }

SizeFormatImpl::SizeFormatImpl() : reader_(NumberFormat::create(0)) {
  for (std::int32_t i = 0; i < 4; ++i) {
    formatters_[i] = NumberFormat::create(0);
    if (formatters_[i]) formatters_[i]->setFractionDigits(i);
  }
  for (std::int32_t i = 0; i < 5; ++i) {
    upperNames_[i] = String(sizeUnitName(i));
    upperNames_[i].trim();
    upperNames_[i].toUpper();
  }
}

SizeFormatImpl::~SizeFormatImpl() {
  delete reader_;
  for (NumberFormat* f : formatters_) delete f;
}

std::int32_t SizeFormatImpl::chooseUnit(double size, std::int32_t minimumUnit) {
  std::int32_t k = 4;
  for (std::int32_t u = 0; u < 4; ++u)
    if (kUpperLimits[u] >= size) {
      k = u;
      break;
    }
  return k > minimumUnit ? k : minimumUnit;
}

std::int32_t SizeFormatImpl::chooseDecimals(double size, std::int32_t unit, std::uint32_t maximumDecimals) {
  if (unit < 0 || unit > 4) unit = chooseUnit(size, 0);
  const double v = size / kDivisors[unit];
  const std::uint32_t d = v >= 1000 ? 0 : v >= 100 ? 1 : v >= 10 ? 2 : 3;
  return static_cast<std::int32_t>(d < maximumDecimals ? d : maximumDecimals);
}

std::int32_t SizeFormatImpl::format(String& out, double size, std::int32_t unit, std::int32_t decimals) {
  if (unit < 0 || unit > 4) unit = chooseUnit(size, 0);
  if (decimals == -1) decimals = chooseDecimals(size, unit, 1000);
  out.truncate(0);
  // Only four formatters exist; other counts are the caller's mistake.
  if (decimals < 0) decimals = 0;
  if (decimals > 3) decimals = 3;
  if (NumberFormat* f = formatters_[decimals]) {
    if (!f->format(out, Variant(size / kDivisors[unit]), 0)) out.truncate(0);
  }
  out.append(String(sizeUnitName(unit)));
  return out.length();
}

std::int32_t SizeFormatImpl::formatBuffer(char16_t* buffer, std::int32_t capacity, double size, std::int32_t unit,
                                          std::int32_t decimals) {
  String s;
  format(s, size, unit, decimals);
  copyToBuffer(s, buffer, capacity);
  return s.length();
}

double SizeFormatImpl::parse(const String& text, std::int32_t* stop, std::int32_t defaultUnit) {
  String upper(text);
  upper.toUpper();
  std::int32_t pos = 0;
  const double number = reader_ ? reader_->parse(upper, &pos) : 0;
  if (number == 0 || pos == 0) {
    if (stop) *stop = pos;
    return number;
  }
  while (pos < upper.length() && upper.charAt(pos) == u' ') ++pos;
  std::int32_t unit = defaultUnit;
  for (std::int32_t u = 4; u >= 0; --u) {
    const String& name = upperNames_[u];
    if (!name.isEmpty() && upper.compare(pos, name.length(), name) == 0) {
      unit = u;
      pos += name.length();
      break;
    }
  }
  if (unit < 0 || unit > 4) return 0;
  if (stop) *stop = pos;
  return number * kDivisors[unit];
}

// ---- Time spans -------------------------------------------------------------

namespace {

class TimeSpanFormatImpl final : public TimeSpanFormat {
 public:
  std::int32_t format(String& out, std::uint32_t ms, bool withMilliseconds) override {
    out.truncate(0);
    NumberFormatHEX decimal(10);
    String part;
    const std::uint32_t values[3] = {ms / 3600000u, (ms % 3600000u) / 60000u, (ms % 60000u) / 1000u};
    for (int i = 0; i < 3; ++i) {
      if (i) out.append(u':');
      decimal.format(part, Variant(values[i]), 2);
      out.append(part);
    }
    if (withMilliseconds) {
      decimal.format(part, Variant(ms % 1000u), 3);
      out.append(u'.').append(part);
    }
    return out.length();
  }
};

}  // namespace

TimeSpanFormat* TimeSpanFormat::create() { return new (std::nothrow) TimeSpanFormatImpl; }

// ---- Message kinds ----------------------------------------------------------

SubformatSize::SubformatSize() : format_(SizeFormat::create()) {}
SubformatSize::~SubformatSize() { delete format_; }

std::int32_t SubformatSize::format(const Variant& arg, String& out, const String parts[5]) {
  static const char16_t* const kUnits[5] = {u"bytes", u"KB", u"MB", u"GB", u"TB"};
  std::int32_t unit = 5;
  for (std::int32_t u = 0; u < 5; ++u)
    if (parts[3] == String(kUnits[u])) unit = u;
  const double size = arg.toDouble();
  if (!format_) return 0;
  String text;
  format_->format(text, size, unit, -1);
  out.append(text);
  return out.length();
}

SubformatTimeSpan::SubformatTimeSpan() : format_(TimeSpanFormat::create()) {}
SubformatTimeSpan::~SubformatTimeSpan() { delete format_; }

std::int32_t SubformatTimeSpan::format(const Variant& arg, String& out, const String[5]) {
  std::uint32_t ms;
  switch (arg.type()) {
    case Variant::TDouble: {
      const double d = std::trunc(arg.rawDouble());
      ms = std::isnan(d) || std::fabs(d) >= 9.2e18 ? 0 : static_cast<std::uint32_t>(static_cast<std::int64_t>(d));
      break;
    }
    case Variant::TLong:
    case Variant::TULong:
      ms = arg.rawULong();
      break;
    case Variant::TLong64:
    case Variant::TULong64:
      ms = static_cast<std::uint32_t>(arg.rawULong64());
      break;
    default:
      out.append(u"<invalid time span>");
      return out.length();
  }
  if (!format_) return 0;
  String text;
  format_->format(text, ms, false);
  out.append(text);
  return out.length();
}

}  // namespace Processor
