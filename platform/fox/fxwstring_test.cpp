#include "platform/fox/fxwstring.h"

#include <gtest/gtest.h>

using FX::FXWString;

TEST(FXWString, EmptyTextIsNeverNull) {
  FXWString s;
  ASSERT_NE(s.text(), nullptr);
  EXPECT_EQ(s.text()[0], u'\0');
  EXPECT_TRUE(FXWString(static_cast<const char16_t*>(nullptr)).empty());
}

TEST(FXWString, Utf8RoundTripJoinsSurrogatePairs) {
  FXWString s = FXWString::fromUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  ASSERT_EQ(s.length(), 5);
  EXPECT_EQ(s[1], 0x00E9);
  EXPECT_EQ(s[2], 0x20AC);
  EXPECT_EQ(s[3], 0xD83D);
  EXPECT_EQ(s[4], 0xDE00);
  EXPECT_EQ(s.toUtf8(), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(FXWString, MalformedUtf8BecomesReplacementCharacter) {
  struct Case {
    const char* bytes;
    std::u16string expected;
  } cases[] = {
      {"\xC0\x80", u"\uFFFD\uFFFD"},
      {"\xE0\x80\x80x", u"\uFFFDx"},
      {"\xED\xA0\x80", u"\uFFFD"},  // encoded surrogate
      {"\xF0\x9F\x98", u"\uFFFD"},  // cut short
      {"\xF5\x80", u"\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(FXWString::fromUtf8(c.bytes).str(), c.expected) << c.bytes;
  EXPECT_EQ(FXWString(u"x\xD800y").toUtf8(), "x\xEF\xBF\xBDy");
}

TEST(FXWString, Latin1WidensAndNarrowsByValue) {
  FXWString s = FXWString::fromLatin1("\xE9z");
  EXPECT_EQ(s, u"\u00E9z");
  EXPECT_EQ(FXWString(u"\u20AC").toLatin1(), "\xAC");
}

TEST(FXWString, EditingOperations) {
  FXWString s(u"hello");
  s.insert(0, u'>').append(u" world").prepend(FXWString(u"[")).replace(0, 2, u"<<");
  EXPECT_EQ(s, u"<<hello world");
  s.remove(0, 2);
  EXPECT_EQ(s, u"hello world");
  s.substitute(u'o', u'0');
  EXPECT_EQ(s, u"hell0 w0rld");
  s.substitute(FXWString(u"l"), FXWString(u"LL"), false);
  EXPECT_EQ(s, u"heLLl0 w0rld");
  FXWString t(u"  \t a b \r\n");
  EXPECT_EQ(FXWString(t).trim(), u"a b");
  EXPECT_EQ(FXWString(t).trimBegin(), u"a b \r\n");
  EXPECT_EQ(FXWString(t).simplify(), u"ab");
  EXPECT_EQ(FXWString(u"Stra\u00DFe \u00C9").upper(), u"STRA\u00DFE \u00C9");
  EXPECT_EQ(FXWString(u"\u00C9A").lower(), u"\u00E9a");
  t.length(2);
  EXPECT_EQ(t, u"  ");
}

TEST(FXWString, Substrings) {
  FXWString s(u"a,b,,c");
  EXPECT_EQ(s.left(3), u"a,b");
  EXPECT_EQ(s.right(2), u",c");
  EXPECT_EQ(s.right(99), s);
  EXPECT_EQ(s.mid(2, 3), u"b,,");
  EXPECT_EQ(s.mid(5, 10), u"c");
  EXPECT_EQ(s.before(u',', 2), u"a,b");
  EXPECT_EQ(s.before(u';'), s);
  EXPECT_EQ(s.after(u',', 2), u",c");
  EXPECT_EQ(s.after(u';'), u"");
  EXPECT_EQ(s.rbefore(u','), u"a,b,");
  EXPECT_EQ(s.rafter(u','), u"c");
  struct Part {
    int index;
    const char16_t* text;
  } parts[] = {{0, u"a"}, {1, u"b"}, {2, u""}, {3, u"c"}, {4, u""}, {-1, u""}};
  for (const auto& p : parts) EXPECT_EQ(s.extractPart(u',', p.index), p.text) << p.index;
  EXPECT_EQ(s.section(u',', 1, 2), u"b,");
  EXPECT_EQ(s.section(u',', 2, 5), u",c");
}

TEST(FXWString, Searches) {
  FXWString s(u"abcabc");
  EXPECT_EQ(s.find(u'c'), 2);
  EXPECT_EQ(s.find(u'c', 3), 5);
  EXPECT_EQ(s.find(u'z'), -1);
  EXPECT_EQ(s.find(FXWString(u"ca")), 2);
  EXPECT_EQ(s.find(FXWString(u"")), 0);
  EXPECT_EQ(s.find(FXWString(u"a"), 99), -1);
  EXPECT_EQ(s.rfind(u'a'), 3);
  EXPECT_EQ(s.rfind(u'a', 2), 0);
  EXPECT_EQ(s.rfind(FXWString(u"bc")), 4);
  EXPECT_EQ(s.find_first_of(FXWString(u"cb")), 1);
  EXPECT_EQ(s.find_first_not_of(FXWString(u"ab")), 2);
  EXPECT_EQ(s.find_last_of(FXWString(u"ab")), 4);
  EXPECT_EQ(s.find_last_not_of(FXWString(u"c")), 4);
  EXPECT_EQ(s.contains(u'b'), 2);
  EXPECT_EQ(s.contains(FXWString(u"abc")), 2);
}

TEST(FXWString, ComparisonsAndConcatenation) {
  FXWString a(u"Apple"), b(u"apple");
  EXPECT_LT(FXWString::compare(a, b), 0);
  EXPECT_EQ(FXWString::compare(a, FXWString(u"Apricot"), 2), 0);
  EXPECT_EQ(FXWString::caseCompare(a, b), 0);
  EXPECT_EQ(FXWString::caseCompare(FXWString(u"\u00C9t\u00E9"), FXWString(u"\u00E9T\u00C9")), 0);
  EXPECT_EQ(FXWString::caseCompare(FXWString(u"ab"), FXWString(u"ABC")), -1);
  EXPECT_EQ(FXWString::caseCompare(FXWString(u"b"), FXWString(u"A")), 1);
  EXPECT_EQ(FXWString::caseCompare(FXWString(u"abX"), FXWString(u"ABY"), 2), 0);
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(a == u"Apple");
  EXPECT_TRUE(u"Apple" == a);
  EXPECT_EQ(a + u'-' + b + u"!", u"Apple-apple!");
  EXPECT_EQ(u'>' + a, u">Apple");
  EXPECT_EQ(a.hash(), FXWString(u"Apple").hash());
}

TEST(FXWString, NumberParsing) {
  struct Case {
    const char16_t* text;
    int base;
    unsigned int value;
  } cases[] = {
      {u"42", 10, 42},           {u"  17xyz", 10, 17},        {u"+8", 10, 8},
      {u"", 10, 0},              {u"abc", 10, 0},             {u"4294967295", 10, 4294967295u},
      {u"4294967296", 10, 4294967295u}, {u"99999999999999999999", 10, 4294967295u},
      {u"-1", 10, 4294967295u},  {u"ff", 16, 255},            {u"0x1F", 16, 31},
      {u"0x1F", 0, 31},          {u"017", 0, 15},             {u"0x", 16, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(FX::FXUIntVal(FXWString(c.text), c.base), c.value) << FXWString(c.text).toUtf8();
  EXPECT_EQ(FX::FXIntVal(FXWString(u"-12"), 10), -12);
  EXPECT_EQ(FX::FXIntVal(FXWString(u"-99999999999"), 10), INT32_MIN);
  EXPECT_EQ(FX::FXIntVal(FXWString(u"99999999999"), 10), INT32_MAX);
  EXPECT_DOUBLE_EQ(FX::FXDoubleVal(FXWString(u" 2.5e1x")), 25.0);
  EXPECT_EQ(FXWString(u" 12px").getUnsignedValue(), 12u);
  EXPECT_EQ(FXWString(u"-3").getUnsignedValue(), 0u);
}

TEST(FXWString, NumberFormatting) {
  EXPECT_EQ(FX::FXWStringVal(0u), u"0");
  EXPECT_EQ(FX::FXWStringVal(0x4000Du, 16), u"4000D");
  EXPECT_EQ(FX::FXWStringVal(4294967295u, 10), u"4294967295");
  EXPECT_EQ(FX::FXWStringVal(-45), u"-45");
  EXPECT_EQ(FX::FXWStringVal(INT32_MIN), u"-2147483648");
  EXPECT_EQ(FX::FXWStringVal(5u, 2), u"101");
  EXPECT_EQ(FX::FXWStringVal(1.5), u"1.5");
}
