#include "core/date_format.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/values_fixture.h"

namespace {

using Processor::DateFormat;
using Processor::DateFormatWin;
using Processor::String;
using Processor::Variant;
using values_test::utcMs;
using values_test::utf8;

class Dates : public values_test::Values {
 protected:
  static std::string text(DateFormatWin* f, double ms) {
    std::unique_ptr<DateFormatWin> owned(f);
    String out(u"old");
    const int n = owned->format(out, ms);
    EXPECT_EQ(n, out.length());
    return utf8(out);
  }
  static int read(DateFormatWin* f, const char16_t* text, double& ms) {
    std::unique_ptr<DateFormatWin> owned(f);
    return owned->parse(String(text), &ms);
  }
};

TEST_F(Dates, QuotedOutputsInUtcPlusOne) {
  EXPECT_EQ(fmt(u"{0}", Variant::date(0)), "1/1/1970 1:00:00 AM");
  EXPECT_EQ(fmt(u"{0, date_time, short}|{0,date_time}", Variant::date(0)), "1/1/1970 1:00:00 AM|1/1/1970 1:00:00 AM");
  EXPECT_EQ(fmt(u"{0,date,long}", Variant::date(0)), "Thursday, January 1, 1970");
  EXPECT_EQ(fmt(u"{0,date,full}", Variant::date(0)), "Thursday, January 1, 1970");
  EXPECT_EQ(fmt(u"{0,time,full}", Variant::date(0)), "1:00:00 AM");
  EXPECT_EQ(fmt(u"{0,date}|{1,date}", 86400, 86400000LL), "1/2/1970|1/2/1970");
  EXPECT_EQ(fmt(u"{0,date}|{1,date}", true, u"as is"), "<invalid date>|as is");
  EXPECT_EQ(fmt(u"{0,date_time,medium}", Variant::date(utcMs(2024, 12, 31, 23, 30, 5))),
            "Wednesday, January 1, 2025 12:30:05 AM");
  std::unique_ptr<DateFormatWin> iso(DateFormat::createDateTime(4));
  String out;
  iso->format(out, utcMs(2024, 5, 1, 10, 20, 30));
  EXPECT_EQ(utf8(out), "2024-05-01 10:20:30 UTC");
  EXPECT_EQ(text(DateFormat::createDate(4), utcMs(2024, 5, 1, 23, 59)), "2024-05-01");
  EXPECT_EQ(text(DateFormat::createDate(7), 0), "");
}

TEST_F(Dates, SouthernHemisphereDaylightTime) {
  useZone(values_test::sydney());
  // January is summer: UTC+11; July is winter: UTC+10.
  EXPECT_EQ(fmt(u"{0}", Variant::date(utcMs(2024, 1, 15))), "1/15/2024 11:00:00 AM");
  EXPECT_EQ(fmt(u"{0}", Variant::date(utcMs(2024, 7, 15))), "7/15/2024 10:00:00 AM");
  // Around the October start (first Sunday, 6 October 2024, 2:00 standard time).
  EXPECT_EQ(fmt(u"{0}", Variant::date(utcMs(2024, 10, 5, 15, 59))), "10/6/2024 1:59:00 AM");
  EXPECT_EQ(fmt(u"{0}", Variant::date(utcMs(2024, 10, 5, 16, 0))), "10/6/2024 3:00:00 AM");
  EXPECT_EQ(Processor::DateTimeWinBase::transitionDay(2024, values_test::sydney().DaylightDate), 6);
  EXPECT_EQ(Processor::DateTimeWinBase::transitionDay(2024, values_test::sydney().StandardDate), 7);
  SYSTEMTIME lastSunday = {};
  lastSunday.wMonth = 3;
  lastSunday.wDay = 5;
  EXPECT_EQ(Processor::DateTimeWinBase::transitionDay(2024, lastSunday), 31);
}

TEST_F(Dates, RoundTripsForEveryStyle) {
  for (const TIME_ZONE_INFORMATION& zone : {values_test::utcPlusOne(), values_test::sydney()}) {
    useZone(zone);
    for (double when : {utcMs(2024, 1, 15, 8, 5, 9), utcMs(2024, 7, 15, 20, 45, 1), utcMs(1999, 12, 31, 23, 59, 59)}) {
      for (int style = 0; style <= 4; ++style) {
        std::unique_ptr<DateFormatWin> f(DateFormat::createDateTime(style));
        String written;
        ASSERT_GT(f->format(written, when), 0);
        double back = -1;
        EXPECT_EQ(f->parse(written, &back), 0) << utf8(written);
        // The milliseconds, which no pattern holds, keep those of now.
        EXPECT_GE(back, when) << utf8(written) << " style " << style;
        EXPECT_LT(back, when + 1000) << utf8(written) << " style " << style;
        std::int64_t seconds = 0;
        EXPECT_EQ(f->parseSeconds(written, &seconds), 0);
        EXPECT_EQ(seconds, static_cast<std::int64_t>(when / 1000));

        // Date alone and time alone: what is read writes the same text again.
        for (DateFormatWin* part : {DateFormat::createDate(style), DateFormat::createTime(style)}) {
          std::unique_ptr<DateFormatWin> p(part);
          String once, twice;
          ASSERT_GT(p->format(once, when), 0);
          double read = 0;
          ASSERT_EQ(p->parse(once, &read), 0) << utf8(once);
          p->format(twice, read);
          EXPECT_EQ(utf8(twice), utf8(once));
        }
      }
    }
  }
}

// Far dates keep their last second (a double product of milliseconds and
// ticks once came out one second early after about the year 5254).
TEST_F(Dates, FarDatesKeepTheirSeconds) {
  const struct {
    double ms;
    const char* text;
  } cases[] = {
      {105100329599000.0, "5300-06-30 23:59:59"},
      {158731488001000.0, "7000-01-01 00:00:01"},
      {253402300799000.0, "9999-12-31 23:59:59"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<DateFormatWin> f(DateFormat::createDateTime(4));
    String written;
    ASSERT_GT(f->format(written, c.ms), 0) << c.text;
    EXPECT_EQ(utf8(written).substr(0, 19), c.text);
    double back = 0;
    ASSERT_EQ(f->parse(written, &back), 0) << c.text;
    EXPECT_GE(back, c.ms) << c.text;
    EXPECT_LT(back, c.ms + 1000) << c.text;
  }
}

TEST_F(Dates, StyleFourReadsUtcAndTheOldLabel) {
  const double expected = utcMs(2024, 5, 1, 10, 20, 30);
  for (const char16_t* text : {u"2024-05-01 10:20:30 UTC", u"2024-05-01 10:20:30 UNC", u"2024-05-01T10:20:30",
                               u"2024-05-01 10:20:30"}) {
    double ms = 0;
    EXPECT_EQ(read(DateFormat::createDateTime(4), text, ms), 0) << utf8(String(text));
    EXPECT_GE(ms, expected) << utf8(String(text));
    EXPECT_LT(ms, expected + 1000) << utf8(String(text));
  }
}

TEST_F(Dates, ReadingTimes) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  double ms = 0;
  ASSERT_EQ(read(DateFormat::createTime(0), u"2:30 PM", ms), 0);
  SYSTEMTIME got;
  ASSERT_TRUE(Processor::DateTimeWinBase::toLocalTime(ms, got));
  EXPECT_EQ(got.wHour, 14);
  EXPECT_EQ(got.wMinute, 30);
  EXPECT_EQ(got.wDay, now.wDay);
  ASSERT_EQ(read(DateFormat::createTime(0), u"12:05:09 am", ms), 0);
  ASSERT_TRUE(Processor::DateTimeWinBase::toLocalTime(ms, got));
  EXPECT_EQ(got.wHour, 0);
  EXPECT_EQ(got.wSecond, 9);

  ms = 123;
  EXPECT_EQ(read(DateFormat::createTime(0), u"13:30 PM", ms), -1);
  EXPECT_EQ(read(DateFormat::createTime(0), u"25:00", ms), -1);
  EXPECT_EQ(read(DateFormat::createTime(0), u"noon", ms), -1);
  EXPECT_EQ(ms, 123);
}

TEST_F(Dates, ImpossibleDatesFail) {
  // The fields must name a calendar date.
  const char16_t* impossible[] = {u"13/1/2024", u"2/30/2024", u"1/0/2024", u"1/1/99"};
  for (const char16_t* text : impossible) {
    double ms = 123;
    EXPECT_EQ(read(DateFormat::createDate(0), text, ms), -1) << utf8(String(text));
    EXPECT_EQ(ms, 123);
  }
  double ms = 123;
  EXPECT_EQ(read(DateFormat::createDate(4), u"2024-13-01", ms), -1);
  EXPECT_EQ(read(DateFormat::createDate(4), u"2024-00-10", ms), -1);
  EXPECT_EQ(read(DateFormat::createDate(4), u"2024-14-01", ms), -1);
  EXPECT_EQ(read(DateFormat::createDate(4), u"24-01-01", ms), -1);
  EXPECT_EQ(ms, 123);
  EXPECT_EQ(read(DateFormat::createDate(0), u"2/29/2024", ms), 0);
  EXPECT_EQ(read(DateFormat::createDate(1), u"friday, MARCH 1, 2024", ms), 0);
  SYSTEMTIME got;
  ASSERT_TRUE(Processor::DateTimeWinBase::toLocalTime(ms, got));
  EXPECT_EQ(got.wMonth, 3);
  EXPECT_EQ(got.wDay, 1);
  EXPECT_EQ(read(DateFormat::createDate(1), u"Someday, March 1, 2024", ms), -1);
}

TEST_F(Dates, OtherThreadLocale) {
  ASSERT_TRUE(SetThreadLocale(0x0407));
  EXPECT_EQ(fmt(u"{0}", Variant::date(utcMs(2024, 3, 5, 13, 4, 5))), "05.03.2024 14:04:05");
  double ms = 0;
  EXPECT_EQ(read(DateFormat::createDate(1), u"Dienstag, 5. März 2024", ms), 0);
}

}  // namespace
