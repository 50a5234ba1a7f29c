#include "system/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/error.h"

namespace {

// What one registered sink saw.
struct Seen {
  int level;
  std::uint32_t facility;
  std::uint32_t number;
  std::u16string text;
};
std::vector<Seen> seenText;
std::vector<Seen> seenFormat;
std::string console;
int consoleLimit = -1;  // characters the console takes before it refuses

void recordText(int level, std::uint32_t facility, std::uint32_t number, const char16_t* text) {
  seenText.push_back({level, facility, number, text});
}
int recordFormat(int level, std::uint32_t facility, std::uint32_t number, const char16_t* pattern,
                 const Common::TraceArgument*, int count) {
  seenFormat.push_back({level, facility, number, pattern});
  return 40 + count;
}
int captureChar(int ch) {
  if (consoleLimit >= 0 && static_cast<int>(console.size()) >= consoleLimit) return -1;
  console += static_cast<char>(ch);
  return ch;
}

class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    seenText.clear();
    seenFormat.clear();
    console.clear();
    consoleLimit = -1;
    saved_ = Common::traceThreshold();
  }
  void TearDown() override {
    Common::setTraceThreshold(saved_);
    Common::setConsolePutChar(nullptr);
    for (const Common::TraceSink& s : added_) Common::removeTraceSink(s);
  }
  void add(const Common::TraceSink& s) {
    Common::addTraceSink(s);
    added_.push_back(s);
  }
  int saved_ = 0;
  std::vector<Common::TraceSink> added_;
};

TEST_F(Trace, LineHasLetterCodeAndTextWithoutMarkup) {
  struct Case {
    int level;
    std::uint32_t facility, number;
    const char* text;
    const char* line;
  } cases[] = {
      {1, 0, 0, "debug", "D00000000:debug\n"},
      {2, 4, 11, "Text of the event", "I0004000B:Text of the event\n"},
      {3, 0x14, 0x1771, "w", "W00141771:w\n"},
      {4, 0xFFFF, 0xFFFF, "e", "EFFFFFFFF:e\n"},
      {5, 1, 0xABCD, "e", "E0001ABCD:e\n"},
      {7, 0, 1, "x", "?00000001:x\n"},
      {0, 0, 1, "x", "?00000001:x\n"},
      {-1, 0, 1, "x", "?00000001:x\n"},
      {2, 0, 0, "a<b>c", "I00000000:ac\n"},
      {2, 0, 0, "a<<b", "I00000000:a<b\n"},
      {2, 0, 0, "<b>bold</b> and <i>x</i>", "I00000000:bold and x\n"},
      {2, 0, 0, "a<unclosed", "I00000000:a\n"},
      {2, 0, 0, "1 > 0", "I00000000:1 > 0\n"},
      {2, 0, 0, "one\ntwo\r\n", "I00000000:one\ntwo\r\n\n"},
      {2, 0, 0, "", "I00000000:\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Common::formatTraceLine(c.level, c.facility, c.number, c.text,
                                      Common::kTraceRemoveMarkup | Common::kTraceLineBreak),
              c.line);
  }
  EXPECT_EQ(Common::formatTraceLine(2, 0, 0, "a<b>c", 0), "I00000000:a<b>c");
}

TEST_F(Trace, ThresholdDecidesWhoReceives) {
  EXPECT_EQ(Common::traceThreshold(), 2);  // debug is off until someone changes it
  Common::setConsolePutChar(captureChar);
  add({recordText, nullptr, nullptr});

  Common::traceText(1, 0, 1, u"debug");
  EXPECT_TRUE(seenText.empty());
  EXPECT_EQ(console, "");

  Common::traceText(2, 4, 11, u"info");
  ASSERT_EQ(seenText.size(), 1u);
  EXPECT_EQ(seenText[0].text, u"info");
  EXPECT_EQ(seenText[0].facility, 4u);
  EXPECT_EQ(seenText[0].number, 11u);
  EXPECT_EQ(console, "I0004000B:info\n");

  Common::setTraceThreshold(6);
  console.clear();
  Common::traceText(5, 0, 1, u"silenced");
  EXPECT_EQ(Common::traceFormat(5, 0, 1, u"silenced", nullptr, 0), 0);
  EXPECT_EQ(Common::traceError(5, Common::Error(KV_SITE, 0x40001)), 0);
  EXPECT_EQ(seenText.size(), 1u);
  EXPECT_EQ(console, "");

  Common::setTraceThreshold(7);
  Common::traceText(7, 0, 2, u"seven");
  EXPECT_EQ(seenText.size(), 2u);
  EXPECT_EQ(console, "?00000002:seven\n");
}

TEST_F(Trace, EverySinkReceivesInRegistrationOrder) {
  static std::string order;
  order.clear();
  add({[](int, std::uint32_t, std::uint32_t, const char16_t*) { order += "a"; }, nullptr, nullptr});
  add({[](int, std::uint32_t, std::uint32_t, const char16_t*) { order += "b"; }, nullptr, nullptr});
  Common::traceText(3, 0, 0, u"x");
  Common::traceNarrowText(3, 0, 0, "y");
  EXPECT_EQ(order, "abab");
}

TEST_F(Trace, NarrowTextIsWidenedByteForByte) {
  add({recordText, nullptr, nullptr});
  Common::traceNarrowText(2, 0, 0, "caf\xE9");
  ASSERT_EQ(seenText.size(), 1u);
  EXPECT_EQ(seenText[0].text, u"caf\u00E9");
}

TEST_F(Trace, PatternReachesSinksUnformatted) {
  Common::setConsolePutChar(captureChar);
  add({recordText, nullptr, nullptr});
  add({recordText, recordFormat, nullptr});
  Common::TraceArgument args[2] = {{"first", {}}, {"second", {}}};
  args[0].value.tag = Common::TraceValue::kLong;
  args[0].value.value.l = 1;
  char16_t x[] = u"x";
  args[1].value.tag = Common::TraceValue::kWideText;
  args[1].value.value.wide = x;

  EXPECT_EQ(Common::traceFormat(3, 4, 11, u"Copy {first} to {second}", args, 2), 42);
  ASSERT_EQ(seenText.size(), 1u);
  EXPECT_EQ(seenText[0].text, u"Copy {first} to {second}; first=\"1\", second=\"x\"");
  ASSERT_EQ(seenFormat.size(), 1u);
  EXPECT_EQ(seenFormat[0].text, u"Copy {first} to {second}");
  EXPECT_EQ(console, "W0004000B:Copy {first} to {second}; first=\"1\", second=\"x\"\n");

  EXPECT_EQ(Common::traceArgumentsText(u"plain", nullptr, 0), u"plain");
}

TEST_F(Trace, ErrorReachesTextSinksAsItsFullText) {
  Common::setConsolePutChar(captureChar);
  add({recordText, nullptr, nullptr});
  Common::Error e(KV_SITE, 0x4000B, "The disk is <b>full</b>.");
  EXPECT_EQ(Common::traceError(4, e), 0);
  ASSERT_EQ(seenText.size(), 1u);
  EXPECT_EQ(seenText[0].facility, 4u);
  EXPECT_EQ(seenText[0].number, 11u);
  EXPECT_NE(seenText[0].text.find(u"The disk is <b>full</b>."), std::u16string::npos);
  // The console line drops the markup.
  EXPECT_EQ(console.rfind("E0004000B:The disk is full.", 0), 0u) << console;
}

TEST_F(Trace, ConsoleWritesTheOemCodePage) {
  Common::setConsolePutChar(captureChar);
  // U+00E9 is 0xE9 in 1252 and 0x82 in 437; U+00A4 has no 437 form.
  Common::traceText(2, 0, 0, u"caf\u00E9 \u00A4");
  EXPECT_EQ(console, "I00000000:caf\x82 ?\n");
  console.clear();
  // An empty text writes no line.
  Common::traceText(2, 0, 0, u"");
  EXPECT_EQ(console, "");
}

TEST_F(Trace, ConsolePrintfHandsEveryCharacterToTheHook) {
  EXPECT_EQ(Common::consolePrintf("%s", "nothing listens"), 0);

  Common::setConsolePutChar(captureChar);
  EXPECT_EQ(Common::consolePrintf("%d-%s", 42, "x"), 4);
  EXPECT_EQ(console, "42-x");

  // Longer than the stack buffer.
  console.clear();
  std::string longText(1000, 'q');
  longText += "end";
  EXPECT_EQ(Common::consolePrintf("%s", longText.c_str()), 1003);
  EXPECT_EQ(console, longText);

  // A hook that refuses stops the output.
  console.clear();
  consoleLimit = 3;
  EXPECT_EQ(Common::consolePrintf("%s", "abcdef"), 3);
  EXPECT_EQ(console, "abc");
}

TEST_F(Trace, ClearFreesOwnedCopies) {
  Common::TraceValue v;
  v.tag = Common::TraceValue::kNarrowText;
  v.value.narrow = new char[4]{'a', 'b', 'c', 0};
  Common::TraceValue::clear(v);
  EXPECT_EQ(v.tag, Common::TraceValue::kNone);
  EXPECT_EQ(v.value.binary.data, nullptr);
  EXPECT_EQ(v.value.binary.length, 0u);

  v.tag = Common::TraceValue::kBinary;
  v.value.binary = {new unsigned char[3]{1, 2, 3}, 3};
  Common::TraceValue::clear(v);
  EXPECT_EQ(v.tag, Common::TraceValue::kNone);

  // A number owns nothing; clearing still leaves "none".
  v.tag = Common::TraceValue::kULong64;
  v.value.ul64 = ~0ull;
  Common::TraceValue::clear(v);
  EXPECT_EQ(v.value.ul64, 0u);
}

}  // namespace
