#include "core/trace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/string.h"

namespace {

using Common::TraceValue;
using Processor::Binary;
using Processor::IfacePtr;
using Processor::RefPtr;
using Processor::String;
using Processor::Variant;

// Counts how often a message field asks it for its value.
int providerCalls = 0;
class CountingProvider : public Variant::ValueProvider {
 public:
  Variant value(std::uint32_t) override {
    ++providerCalls;
    return Variant(u"asked");
  }
};

std::vector<std::u16string> texts;
// What a pattern sink saw of each argument while the call lasted.
struct SeenArgument {
  std::string name;
  std::uint32_t tag;
  std::u16string wide;
  const void* pointer;
};
std::vector<SeenArgument> seenArguments;

void recordText(int, std::uint32_t, std::uint32_t, const char16_t* text) { texts.push_back(text); }
int recordFormat(int, std::uint32_t, std::uint32_t, const char16_t* pattern, const Common::TraceArgument* arguments,
                 int count) {
  texts.push_back(pattern);
  for (int i = 0; i < count; ++i) {
    const TraceValue& v = arguments[i].value;
    seenArguments.push_back({arguments[i].name, v.tag, v.tag == TraceValue::kWideText ? v.value.wide : u"",
                             v.value.binary.data});
  }
  return 7;
}

class TraceFrontEnds : public ::testing::Test {
 protected:
  void SetUp() override {
    texts.clear();
    seenArguments.clear();
    providerCalls = 0;
    saved_ = Common::traceThreshold();
  }
  void TearDown() override {
    Common::setTraceThreshold(saved_);
    Common::removeTraceSink(sink_);
  }
  void listen(bool withFormat) {
    sink_ = {recordText, withFormat ? recordFormat : nullptr, nullptr};
    Common::addTraceSink(sink_);
  }
  int saved_ = 0;
  Common::TraceSink sink_{recordText, nullptr, nullptr};
};

TEST_F(TraceFrontEnds, VariantsBecomeTraceValues) {
  RefPtr<Binary> block = Binary::create(3);
  std::memcpy(block->data(), "\x01\x00\xFF", 3);
  struct Case {
    const char* what;
    Variant variant;
    std::uint32_t tag;
  } cases[] = {
      {"date", Variant::date(86400000.0), TraceValue::kDate},
      {"double", Variant(2.5), TraceValue::kDouble},
      {"long", Variant(std::int32_t{-5}), TraceValue::kLong},
      {"ulong", Variant(std::uint32_t{0xFFFFFFFF}), TraceValue::kULong},
      {"string", Variant(u"wide \u20AC"), TraceValue::kWideText},
      {"long64", Variant(-(1ll << 40)), TraceValue::kLong64},
      {"ulong64", Variant(1ull << 63), TraceValue::kULong64},
      {"binary", Variant(block), TraceValue::kBinary},
      {"identifier", Variant::identifier("name_id"), TraceValue::kNarrowText},
      {"bool", Variant(true), TraceValue::kBool},
      {"empty", Variant(), TraceValue::kNone},
      {"error", Variant(Common::Error(KV_SITE, 0x1234, "broken")), TraceValue::kNone},
      {"interface", Variant(IfacePtr::adopt<Variant::ValueProvider>(new CountingProvider)), TraceValue::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TraceValue t = Processor::variantToTraceValue(c.variant);
    EXPECT_EQ(t.tag, c.tag);
    switch (t.tag) {
      case TraceValue::kDate: EXPECT_EQ(t.value.d, 86400000.0); break;
      case TraceValue::kDouble: EXPECT_EQ(t.value.d, 2.5); break;
      case TraceValue::kLong: EXPECT_EQ(t.value.l, -5); break;
      case TraceValue::kULong: EXPECT_EQ(t.value.ul, 0xFFFFFFFFu); break;
      case TraceValue::kWideText: EXPECT_EQ(std::u16string(t.value.wide), u"wide \u20AC"); break;
      case TraceValue::kLong64: EXPECT_EQ(t.value.l64, -(1ll << 40)); break;
      case TraceValue::kULong64: EXPECT_EQ(t.value.ul64, 1ull << 63); break;
      case TraceValue::kNarrowText: EXPECT_STREQ(t.value.narrow, "name_id"); break;
      case TraceValue::kBool: EXPECT_TRUE(t.value.b); break;
      case TraceValue::kBinary:
        ASSERT_EQ(t.value.binary.length, 3u);
        EXPECT_NE(t.value.binary.data, block->data());  // a copy
        EXPECT_EQ(std::memcmp(t.value.binary.data, "\x01\x00\xFF", 3), 0);
        break;
      default: EXPECT_EQ(t.value.ul64, 0u); break;
    }
    TraceValue::clear(t);
  }
}

TEST_F(TraceFrontEnds, TraceValuesComeBackAsVariants) {
  std::vector<Variant> originals = {Variant::date(1.5e12), Variant(2.5),          Variant(std::int32_t{-5}),
                                    Variant(7u),           Variant(u"text"),      Variant(-3ll),
                                    Variant(9ull),         Variant(false)};
  for (const Variant& v : originals) {
    SCOPED_TRACE(Variant::typeName(v.type()));
    TraceValue t = Processor::variantToTraceValue(v);
    Variant back = Processor::traceParameterToVariant(t);
    EXPECT_EQ(back.type(), v.type());
    EXPECT_EQ(back.toStdString(), v.toStdString());
    TraceValue::clear(t);
  }

  // An identifier comes back as a text, each byte widened.
  TraceValue id = Processor::variantToTraceValue(Variant::identifier("caf\xE9"));
  Variant text = Processor::traceParameterToVariant(id);
  EXPECT_EQ(text.type(), Variant::TString);
  EXPECT_EQ(text.asString(), String(u"caf\u00E9"));
  TraceValue::clear(id);

  TraceValue bin;
  bin.tag = TraceValue::kBinary;
  bin.value.binary = {new unsigned char[2]{0xAB, 0xCD}, 2};
  Variant block = Processor::traceParameterToVariant(bin);
  ASSERT_EQ(block.type(), Variant::TBinary);
  ASSERT_EQ(block.rawBinary()->length(), 2u);
  EXPECT_EQ(block.rawBinary()->data()[1], 0xCD);
  EXPECT_NE(block.rawBinary()->data(), bin.value.binary.data);
  TraceValue::clear(bin);

  TraceValue reserved;
  reserved.tag = 42;
  EXPECT_EQ(Processor::traceParameterToVariant(reserved).type(), Variant::TEmpty);
}

TEST_F(TraceFrontEnds, FormatBelowThresholdFormatsNothing) {
  listen(false);
  Variant args[] = {Variant(IfacePtr::adopt<Variant::ValueProvider>(new CountingProvider)), Variant(3u)};
  Processor::traceFormat(1, 0, 1, String(u"value {0,ellipsis} of {1}"), args, 2);
  EXPECT_EQ(providerCalls, 0);
  EXPECT_TRUE(texts.empty());

  Processor::traceFormat(2, 0, 1, String(u"value {0,ellipsis} of {1}"), args, 2);
  EXPECT_GT(providerCalls, 0);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], u"value asked of 3");

  // Without arguments the pattern is traced as it stands.
  Processor::traceFormat(2, 0, 1, String(u"left {0} alone"), nullptr, 0);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], u"left {0} alone");
}

TEST_F(TraceFrontEnds, NamedValuesReachSinksAsCopies) {
  listen(true);
  String original(u"the text");
  std::pair<std::string, Variant> args[] = {
      {"file", Variant(original)},
      {"id", Variant::identifier("ident")},
      {"failure", Variant(Common::Error(KV_SITE, 0x1234, "broken"))},
  };
  EXPECT_EQ(Processor::traceValues(3, 4, 11, String(u"pattern {file}"), args, 3), 7);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], u"pattern {file}");
  ASSERT_EQ(seenArguments.size(), 3u);
  EXPECT_EQ(seenArguments[0].name, "file");
  EXPECT_EQ(seenArguments[0].tag, TraceValue::kWideText);
  EXPECT_EQ(seenArguments[0].wide, u"the text");
  EXPECT_NE(seenArguments[0].pointer, static_cast<const void*>(original.getBuffer()));
  EXPECT_EQ(seenArguments[1].tag, TraceValue::kNarrowText);
  EXPECT_EQ(seenArguments[2].tag, TraceValue::kNone);

  // Below the threshold no sink hears of it.
  EXPECT_EQ(Processor::traceValues(1, 4, 11, String(u"quiet"), args, 3), 0);
  EXPECT_EQ(texts.size(), 1u);
}

TEST_F(TraceFrontEnds, TextSinkGetsPatternAndArgumentValues) {
  listen(false);
  std::pair<std::string, Variant> args[] = {{"first", Variant(std::int32_t{1})}, {"second", Variant(u"x")}};
  Processor::traceValues(2, 0, 0, String(u"Copy {first}"), args, 2);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], u"Copy {first}; first=\"1\", second=\"x\"");
}

}  // namespace
