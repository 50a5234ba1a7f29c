#include "core/string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/narrow_copy.h"

namespace {

std::string bytes(std::initializer_list<unsigned char> b) { return std::string(b.begin(), b.end()); }

}  // namespace

TEST(Utf8, Encoding) {
  struct Case {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"", ""},
      {u"abc", "abc"},
      {u"\u007F", bytes({0x7F})},
      {u"\u0080", bytes({0xC2, 0x80})},
      {u"\u00E9", bytes({0xC3, 0xA9})},
      {u"\u07FF", bytes({0xDF, 0xBF})},
      {u"\u0800", bytes({0xE0, 0xA0, 0x80})},
      {u"\u20AC", bytes({0xE2, 0x82, 0xAC})},
      {u"\uFFFF", bytes({0xEF, 0xBF, 0xBF})},
      // A surrogate pair is one character: one four-byte sequence.
      {u"\U0001F600", bytes({0xF0, 0x9F, 0x98, 0x80})},
      {u"\U00010000", bytes({0xF0, 0x90, 0x80, 0x80})},
      {u"\U0010FFFF", bytes({0xF4, 0x8F, 0xBF, 0xBF})},
      {u"a\U0001F600b", bytes({'a', 0xF0, 0x9F, 0x98, 0x80, 'b'})},
      // Lone surrogates are kept, each as its own three-byte sequence.
      {std::u16string(1, char16_t(0xD83D)), bytes({0xED, 0xA0, 0xBD})},
      {std::u16string(1, char16_t(0xDE00)), bytes({0xED, 0xB8, 0x80})},
      {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, bytes({0xED, 0xB8, 0x80, 0xED, 0xA0, 0xBD})},
      {std::u16string{char16_t(0xD83D), u'x'}, bytes({0xED, 0xA0, 0xBD, 'x'})},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_TRUE(Common::toUtf8(out, c.in.c_str()));
    EXPECT_EQ(out, c.out);
    // Round trip, lone surrogates included.
    std::u16string back;
    EXPECT_TRUE(Common::fromUtf8(back, out.c_str()));
    EXPECT_EQ(back, c.in);
  }
}

TEST(Utf8, EncodingStopsAtTheLimitOrNul) {
  const char16_t text[] = u"ab\u00E9\0zz";
  std::string out;
  Common::toUtf8(out, text, 2);
  EXPECT_EQ(out, "ab");
  Common::toUtf8(out, text, 100);  // the NUL still ends it
  EXPECT_EQ(out, bytes({'a', 'b', 0xC3, 0xA9}));
  Common::toUtf8(out, text, 0);
  EXPECT_EQ(out, "");
  // A pair cut by the limit: the high half goes alone, the low half is not read.
  const char16_t pair[] = u"\U0001F600";
  Common::toUtf8(out, pair, 1);
  EXPECT_EQ(out, bytes({0xED, 0xA0, 0xBD}));
}

TEST(Utf8, Decoding) {
  const std::u16string pair = u"\U0001F600";
  struct Case {
    std::string in;
    std::u16string out;
    bool clean;
  } cases[] = {
      {"", u"", true},
      {bytes({0xC3, 0xA9}), u"\u00E9", true},
      {bytes({0xE2, 0x82, 0xAC}), u"\u20AC", true},
      {bytes({0xF0, 0x9F, 0x98, 0x80}), pair, true},
      {bytes({0xF4, 0x8F, 0xBF, 0xBF}), u"\U0010FFFF", true},
      // The old writers' form of a pair, two three-byte surrogates, reads back as the pair.
      {bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), pair, true},
      {bytes({0xC0, 0x80}), u"??", false},              // over-long NUL
      {bytes({0xC1, 0xBF}), u"??", false},              // over-long
      {bytes({0xE0, 0x80, 0x80}), u"???", false},       // over-long three-byte form
      {bytes({0xF0, 0x80, 0x80, 0x80}), u"????", false},  // over-long four-byte form
      {bytes({0xF4, 0x90, 0x80, 0x80}), u"????", false},  // above U+10FFFF
      {bytes({0xF5, 0x80, 0x80, 0x80}), u"????", false},
      {bytes({0xFF}), u"?", false},
      {bytes({0x80, 'a'}), u"?a", false},          // continuation without a lead
      {bytes({0xC3, 'a'}), u"?a", false},          // lead without its continuation
      {bytes({0xE2, 0x82, 'a'}), u"??a", false},   // cut three-byte sequence
      {bytes({0xF0, 0x9F, 0x98}), u"???", false},  // cut at the NUL
      {bytes({'x', 0xC3, 0xA9, 0xFE, 'y'}), u"x\u00E9?y", false},
  };
  for (const Case& c : cases) {
    std::u16string out = u"stale";
    EXPECT_EQ(Common::fromUtf8(out, c.in.c_str()), c.clean) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(Utf8, DecodingNeverReadsPastTheCount) {
  // Buffers without a terminator: the count alone must bound every read.
  struct Case {
    std::vector<unsigned char> in;
    std::ptrdiff_t count;
    std::u16string out;
    bool clean;
  } cases[] = {
      {{0xC3, 0xA9, 'z'}, 2, u"\u00E9", true},
      {{0xC3, 0xA9}, 1, u"?", false},
      {{0xE2, 0x82, 0xAC}, 2, u"??", false},
      {{0xF0, 0x9F, 0x98, 0x80}, 3, u"???", false},
      {{'a', 'b', 'c'}, 2, u"ab", true},
      {{'a', 0, 'c'}, 3, u"a", true},  // a NUL inside the count still ends the text
      {{0xFF, 0xFF}, 0, u"", true},    // a count of 0 is always empty and clean
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> exact(c.in.begin(), c.in.begin() + std::min<std::ptrdiff_t>(c.count, c.in.size()));
    if (c.count == 0) exact = c.in;
    std::u16string out;
    EXPECT_EQ(Common::fromUtf8(out, reinterpret_cast<const char*>(exact.data()), c.count), c.clean);
    EXPECT_EQ(out, c.out);
  }
  std::u16string out = u"x";
  EXPECT_TRUE(Common::fromUtf8(out, nullptr));
  EXPECT_EQ(out, u"");
}

TEST(Base64, Encoding) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {bytes({0xFB, 0xFF, 0xBF}), "+/+/"},
      {bytes({0x00, 0x00, 0x00, 0x00}), "AAAAAA=="},
  };
  for (const Case& c : cases) {
    const auto* first = reinterpret_cast<const unsigned char*>(c.in.data());
    const auto* last = first + c.in.size();
    const std::size_t need = (c.in.size() + 2) / 3 * 4;
    std::string narrow(need + 1, '#');
    char* end = Processor::base64Encode<char>(narrow.data(), first, last);
    EXPECT_EQ(end - narrow.data(), static_cast<std::ptrdiff_t>(need));
    EXPECT_EQ(narrow.substr(0, need), c.out);
    EXPECT_EQ(narrow[need], '#');  // nothing written beyond

    std::u16string wide(need, u'#');
    char16_t* wend = Processor::base64Encode<char16_t>(wide.data(), first, last);
    EXPECT_EQ(wend - wide.data(), static_cast<std::ptrdiff_t>(need));
    EXPECT_EQ(wide, std::u16string(c.out.begin(), c.out.end()));
  }
}

TEST(Widening, ByteByByte) {
  char16_t* buffer = reinterpret_cast<char16_t*>(1);
  EXPECT_EQ(Processor::toWideBuffer(buffer, nullptr), 0);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(Processor::toWideBuffer(buffer, "a\xE9\xFF"), 3);
  EXPECT_EQ(std::u16string(buffer), u"a\u00E9\u00FF");
  delete[] buffer;

  struct Case {
    int size;
    const char* src;
    int srcLength;
    int written;
    std::u16string out;
  } cases[] = {
      {0, "abc", 3, 0, u"####"},     // nothing at all
      {-1, "abc", 3, 0, u"####"},
      {1, "abc", 3, 0, std::u16string(u"\0###", 4)},  // only the NUL
      {3, "abc", 3, 2, std::u16string(u"ab\0#", 4)},
      {4, "abc", 3, 3, std::u16string(u"abc\0", 4)},
      {4, "\xE9", 1, 1, std::u16string(u"\u00E9\0##", 4)},
      {4, "abc", -2, 0, std::u16string(u"\0###", 4)},  // a negative length copies nothing
  };
  for (const Case& c : cases) {
    std::u16string dest = u"####";
    EXPECT_EQ(Processor::widenInto(dest.data(), c.size, c.src, c.srcLength), c.written);
    EXPECT_EQ(dest, c.out);
  }
}

TEST(Narrowing, LowBytes) {
  struct Case {
    int size;
    std::u16string src;
    int units;
    std::string out;
  } cases[] = {
      {0, u"abc", 3, "####"},
      {-5, u"abc", 3, "####"},
      {1, u"abc", 3, std::string("\0###", 4)},
      {3, u"abc", 3, std::string("ab\0#", 4)},
      {4, u"abc", 3, std::string("abc\0", 4)},
      {4, u"\u20AC\u0141", 2, std::string("\xAC\x41\0#", 4)},
      {4, u"abc", -1, std::string("\0###", 4)},
  };
  for (const Case& c : cases) {
    std::string dest = "####";
    copyWideToNarrowLowBytes(dest.data(), c.size, c.src.c_str(), c.units);
    EXPECT_EQ(dest, c.out);
  }

  EXPECT_EQ(Processor::AnsiBuffer(nullptr).get(), nullptr);
  EXPECT_STREQ(Processor::AnsiBuffer(u"").get(), "");
  EXPECT_STREQ(Processor::AnsiBuffer(u"x\u20AC\u00E9").get(), "x\xAC\xE9");
}

TEST(ProcessorString, Construction) {
  EXPECT_TRUE(Processor::String().isEmpty());
  EXPECT_TRUE(Processor::String(static_cast<const char*>(nullptr)).isEmpty());
  EXPECT_TRUE(Processor::String(static_cast<const char16_t*>(nullptr)).isEmpty());

  // Bytes are widened by value whatever the code page.
  Processor::String n("\xE9t\xE9");
  ASSERT_EQ(n.length(), 3);
  EXPECT_EQ(n.charAt(0), 0x00E9);
  EXPECT_EQ(n.charAt(2), 0x00E9);

  Processor::String w(u"x\U0001F600");
  EXPECT_EQ(w.length(), 3);
  Processor::String copy = w;
  EXPECT_TRUE(copy == w);
  EXPECT_EQ(copy.toNarrow(), std::string("x\x3D\0", 3));  // the pair's low half narrows to a NUL byte
}

TEST(ProcessorString, ComparesWithNarrowTextInTheAnsiCodePage) {
  Processor::String s(u"true");
  EXPECT_TRUE(s == "true");
  EXPECT_FALSE(s == "True");
  EXPECT_FALSE(s == "tru");
  EXPECT_TRUE(Processor::String() == "");
  EXPECT_FALSE(Processor::String(u"x") == "");
  // 0x80 is the euro sign in the ANSI code page (1252), not U+0080.
  EXPECT_TRUE(Processor::String(u"\u20AC") == "\x80");
  EXPECT_FALSE(Processor::String(u"\u0080") == "\x80");
}

TEST(ProcessorString, OrderIsCodeUnitOrder) {
  using Processor::String;
  EXPECT_TRUE(String(u"a") < String(u"b"));
  EXPECT_FALSE(String(u"b") < String(u"a"));
  EXPECT_TRUE(String(u"") < String(u"a"));
  EXPECT_TRUE(String(u"Z") < String(u"a"));
  // Code units, not code points: U+FFFF sorts after a surrogate pair.
  EXPECT_TRUE(String(u"\U0001F600") < String(u"\uFFFF"));
  String bogus;
  bogus.setToBogus();
  EXPECT_FALSE(String(u"a") < bogus);
  EXPECT_FALSE(String(u"") < bogus);
}

TEST(ProcessorString, ToNarrowStopsAtTheFirstNul) {
  Processor::String s(u"ab\u20AC");
  EXPECT_EQ(s.toNarrow(), "ab\xAC");
  Processor::String embedded(u"ab\0cd", 5);
  EXPECT_EQ(embedded.toNarrow(), "ab");
  Processor::String bogus;
  bogus.setToBogus();
  EXPECT_EQ(bogus.toNarrow(), "");
}
