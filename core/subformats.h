// The kinds of message field: choice, concord, number, ellipsis, path
// ellipsis, date, size and time span, and the text-boundary iterators the
// ellipsis walks. Include core/message_format.h to format; this header is for
// the formatter's registry and for tests of single kinds.
#pragma once

#include <cstdint>

#include "core/message_format.h"
#include "core/verb.h"  // Processor::Iterator, the cursor the break iterators are

namespace Processor {

class NumberFormat;
class DateFormatWin;
class SizeFormat;
class TimeSpanFormat;

class BreakIterator : public Iterator {
 public:
  // 0 ICU line breaks, 1 ICU word breaks (ICU's default locale), 2 path
  // separators; null for other kinds or when ICU fails.
  static BreakIterator* create(std::int32_t kind);
  virtual void setText(const String& text) = 0;
  virtual std::int32_t position() const = 0;
};

class SubformatChoice : public SubformatBase {
 public:
  ~SubformatChoice() override;
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;

 protected:
  struct Option {
    String limit;
    String comparison;
    String text;
  };
  // Appends the option's text when it passes; true when it passed.
  virtual bool select(const Variant& arg, String& out, const Option& option);
  // Reads the options of `style` and tests them in order.
  bool choose(const Variant& arg, String& out, const String& style);
  std::int64_t limitOf(const String& text);

  NumberFormat* limits_ = nullptr;
};

class SubformatConcord final : public SubformatChoice {
 public:
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;
  // 0, 1 or 2 by the catalogue's language (0: three forms, others two).
  static std::int32_t pluralForm(double x, std::int32_t languageNumber);

 protected:
  bool select(const Variant& arg, String& out, const Option& option) override;

 private:
  std::int32_t form_ = 0;
  String fallback_;
};

class SubformatNumber final : public SubformatBase {
 public:
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;
};

class SubformatEllipsis final : public SubformatBase {
 public:
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;
};

class SubformatPathEllipsis final : public SubformatBase {
 public:
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;
  // The shortened path (what the field appends).
  static String shorten(const String& path, std::int64_t width);
};

// Styles "full", "code", "tag", "message" and "field" (the extra part names
// the field) of a TError argument.
class SubformatError final : public SubformatBase {
 public:
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;
};

class SubformatDate final : public SubformatBase {
 public:
  // 0 "date", 1 "time", 2 "date_time".
  explicit SubformatDate(std::int32_t kindMode) : kindMode_(kindMode) {}
  ~SubformatDate() override;
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;

 private:
  std::int32_t kindMode_;
  DateFormatWin* cached_ = nullptr;
  std::int32_t style_ = 0;
};

class SubformatSize final : public SubformatBase {
 public:
  SubformatSize();
  ~SubformatSize() override;
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;

 private:
  SizeFormat* format_;
};

class SubformatTimeSpan final : public SubformatBase {
 public:
  SubformatTimeSpan();
  ~SubformatTimeSpan() override;
  std::int32_t format(const Variant& arg, String& out, const String parts[5]) override;

 private:
  TimeSpanFormat* format_;
};

// The language number that picks plural rules (0 for three-form languages).
std::int32_t pluralLanguageNumber();
// Tests only: -1 returns to the catalogue's language.
void setPluralLanguageNumberForTests(std::int32_t number);

}  // namespace Processor
