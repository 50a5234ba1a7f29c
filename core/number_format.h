// Numbers as text and back: the user's locale conventions (NumberFormatWin),
// plain radix-16/10 digits (NumberFormatHEX) and ICU decimal patterns
// (NumberFormatICU, whose ICU object stays in the .cpp).
#pragma once

#include <cstdint>

#include "core/string.h"
#include "core/variant.h"

namespace Processor {

class LcidControl;

class NumberFormat {
 public:
  // 0 the locale formatter, 1 radix 16, anything else radix 10. Null when
  // memory runs out; the caller owns the result.
  static NumberFormat* create(std::int32_t kind);
  // An ICU DecimalFormat of `pattern`.
  static NumberFormat* createICU(const String& pattern);

  virtual ~NumberFormat() = default;
  // Replaces `out`; the new length, 0 when the value cannot be formatted.
  virtual std::int32_t format(String& out, const Variant& value, std::int32_t minimumDigits) = 0;
  // A number from the start of `text`; `stop` receives where reading ended.
  virtual double parse(const String& text, std::int32_t* stop) = 0;
  virtual void setFractionDigits(std::int32_t count) = 0;
  // The text into a caller's buffer (no terminating zero unless there is room
  // for one after it); the number of units of the whole text.
  virtual std::int32_t formatBuffer(char16_t* buffer, std::int32_t capacity, const Variant& value,
                                    std::int32_t minimumDigits);
};

class NumberFormatHEX final : public NumberFormat {
 public:
  explicit NumberFormatHEX(std::int32_t radix) : radix_(radix) {}
  std::int32_t format(String& out, const Variant& value, std::int32_t minimumDigits) override;
  double parse(const String& text, std::int32_t* stop) override;
  void setFractionDigits(std::int32_t) override {}
  // No terminating zero; at most `capacity` units; 0 for an unsupported type.
  std::int32_t formatBuffer(char16_t* buffer, std::int32_t capacity, const Variant& value,
                            std::int32_t minimumDigits) override;
  // The same reading on a raw text.
  static double parseText(const char16_t* text, std::int32_t length, std::int32_t radix, std::int32_t* stop);

 private:
  std::int32_t radix_;
};

class NumberFormatICU final : public NumberFormat {
 public:
  explicit NumberFormatICU(const String& pattern);
  ~NumberFormatICU() override;
  std::int32_t format(String& out, const Variant& value, std::int32_t minimumDigits) override;
  double parse(const String& text, std::int32_t* stop) override;
  void setFractionDigits(std::int32_t count) override;
  std::int32_t formatBuffer(char16_t* buffer, std::int32_t capacity, const Variant& value,
                            std::int32_t minimumDigits) override;

 private:
  struct Impl;
  Impl* impl_;
};

class NumberFormatWin final : public NumberFormat {
 public:
  NumberFormatWin();
  std::int32_t format(String& out, const Variant& value, std::int32_t minimumDigits) override;
  double parse(const String& text, std::int32_t* stop) override;
  void setFractionDigits(std::int32_t count) override { fractionDigits_ = count; }

  // The value as GetNumberFormatW reads it ("-1234.500000000"); false for
  // types without a number or a text that does not fit.
  static bool plainText(const Variant& value, String& out);

 private:
  LcidControl* control_;
  std::int32_t fractionDigits_ = -1;
};

}  // namespace Processor
