// Dates (milliseconds since 1970-01-01 00:00 UTC) as text in the calling
// thread's locale, and back. Style 4 is the fixed ISO-like form in UTC.
#pragma once

#include <cstdint>

#include "core/string.h"
#include "platform/win32/windows.h"

namespace Processor {

class DateFormatWin;

class DateFormat {
 public:
  // Mode 0 date, 1 date and time, 2 time; styles 0 (short) to 4.
  static DateFormatWin* createDate(std::int32_t style);
  static DateFormatWin* createDateTime(std::int32_t style);
  static DateFormatWin* createTime(std::int32_t style);

  virtual ~DateFormat() = default;
  // Replaces `out`; its length, 0 on failure.
  virtual std::int32_t format(String& out, double date) = 0;
  // 0 with *date written, -1 when the text is not a date.
  virtual std::int32_t parse(const String& text, double* date) = 0;
};

class DateTimeWinBase {
 public:
  DateTimeWinBase(std::int32_t style, std::int32_t mode) : style_(style), mode_(mode) {}

  // The wDay-th wDayOfWeek of the transition's month in `year` (the last one
  // when the month has fewer).
  static WORD transitionDay(WORD year, const SYSTEMTIME& transition);
  // UTC milliseconds to local fields with the zone's rules of now.
  static bool toLocalTime(double milliseconds, SYSTEMTIME& out);
  // Local fields to UTC milliseconds; false when they are no calendar date.
  static bool fromLocalTime(const SYSTEMTIME& local, double& milliseconds);

 protected:
  std::int32_t formatDate(String& out, double date);
  std::int32_t formatTime(String& out, double date);
  bool fields(double date, SYSTEMTIME& out);
  const String& datePattern();
  const String& timePattern();
  // 0 read, -1 no match (try the next pattern), -2 impossible value.
  std::int32_t parsePattern(const String& text, const String& pattern, double* date);

  std::int32_t style_;
  String datePattern_;
  String timePattern_;
  std::int32_t mode_;  // 0 date, 1 date and time, 2 time
};

class DateFormatWin final : public DateFormat, public DateTimeWinBase {
 public:
  DateFormatWin(std::int32_t style, std::int32_t mode) : DateTimeWinBase(style, mode) {}
  std::int32_t format(String& out, double date) override;
  std::int32_t parse(const String& text, double* date) override;
  // Copies min(length, capacity) units, no terminating zero; format's result.
  std::int32_t formatBuffer(char16_t* buffer, std::int32_t capacity, double date);
  std::int32_t parseSeconds(const String& text, std::int64_t* seconds);
};

}  // namespace Processor
