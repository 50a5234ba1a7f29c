#include "core/size_format.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/values_fixture.h"

namespace {

using Processor::SizeFormat;
using Processor::String;
using Processor::Variant;
using values_test::utf8;

class Sizes : public values_test::Values {
 protected:
  std::string size(double bytes, int unit = 5, int decimals = -1) {
    String out(u"old");
    const int n = format_->format(out, bytes, unit, decimals);
    EXPECT_EQ(n, out.length());
    return utf8(out);
  }
  std::unique_ptr<Processor::SizeFormatImpl> format_{SizeFormat::create()};
};

TEST_F(Sizes, QuotedOutputs) {
  const double TB = 1099511627776.0;
  EXPECT_EQ(size(999), "999 bytes");
  EXPECT_EQ(size(1000), "0.977 KB");
  EXPECT_EQ(size(1500), "1.465 KB");
  EXPECT_EQ(size(1536), "1.500 KB");
  EXPECT_EQ(size(1048576), "1 MB");
  EXPECT_EQ(size(5 * TB), "5 TB");
  EXPECT_EQ(size(2000 * TB), "2,000 TB");
  EXPECT_EQ(size(123456789), "117.7 MB");
  EXPECT_EQ(size(0), "0 bytes");
  EXPECT_EQ(size(10, 1), "0.010 KB");
  EXPECT_EQ(size(1536, 1, 0), "2 KB");
  EXPECT_EQ(fmt(u"{0,size,KB}", 10), "0.010 KB");
  EXPECT_EQ(fmt(u"{0, size, KB}", 10), "10 bytes");
  EXPECT_EQ(fmt(u"{0,size}|{1,size,MB}", 1073741824LL, u"1536"), "1 GB|0.001 MB");
  EXPECT_THROW(fmt(u"{0,size}", u"lots"), Variant::Error);
  EXPECT_EQ(format_->chooseUnit(1022976, 0), 1);
  EXPECT_EQ(format_->chooseUnit(1022977, 0), 2);
  EXPECT_EQ(format_->chooseUnit(10, 3), 3);
  EXPECT_EQ(format_->chooseDecimals(150 * 1024.0, 1, 1000), 1);
  EXPECT_EQ(format_->chooseDecimals(1.0, 5, 2), 2);
}

TEST_F(Sizes, ReadingAndRoundTrips) {
  struct Case {
    const char16_t* text;
    int defaultUnit;
    double bytes;
    int stop;
  };
  const Case cases[] = {{u"1.5 kb", 0, 1536, 6}, {u"12", 1, 12288, 2},   {u"0 MB", 0, 0, 1},
                        {u"2TB", 0, 2199023255552.0, 3}, {u"7 bytes", 3, 7, 7}, {u"abc", 0, 0, 0}};
  for (const Case& c : cases) {
    int stop = -5;
    EXPECT_EQ(format_->parse(String(c.text), &stop, c.defaultUnit), c.bytes) << utf8(String(c.text));
    EXPECT_EQ(stop, c.stop) << utf8(String(c.text));
  }
  int stop = -5;
  EXPECT_EQ(format_->parse(String(u"12"), &stop, 5), 0);
  EXPECT_EQ(stop, -5);
  // What is written reads back within the rounding of the shown digits.
  for (double bytes : {999.0, 1536.0, 1048576.0, 123456789.0, 5e12}) {
    String written;
    format_->format(written, bytes, 5, -1);
    const double back = format_->parse(written, nullptr, 5);
    EXPECT_NEAR(back, bytes, bytes * 0.0005) << utf8(written);
  }
  char16_t buf[8];
  EXPECT_EQ(format_->formatBuffer(buf, 8, 1536, 5, -1), 8);
  EXPECT_EQ(std::u16string(buf, 8), u"1.500 KB");
}

TEST_F(Sizes, TimeSpans) {
  std::unique_ptr<Processor::TimeSpanFormat> f(Processor::TimeSpanFormat::create());
  String out;
  f->format(out, 3723000, false);
  EXPECT_EQ(utf8(out), "01:02:03");
  f->format(out, 3723004, true);
  EXPECT_EQ(utf8(out), "01:02:03.004");
  f->format(out, 0, false);
  EXPECT_EQ(utf8(out), "00:00:00");
  f->format(out, 360000000, false);
  EXPECT_EQ(utf8(out), "100:00:00");
  EXPECT_EQ(fmt(u"{0,time_span}", -1), "1193:02:47");
  EXPECT_EQ(fmt(u"{0,time_span}|{1,time_span}", 61000.9, 4294967296005LL), "00:01:01|00:00:00");
  EXPECT_EQ(fmt(u"{0,time_span}", Variant::date(5)), "<invalid time span>");
}

}  // namespace
