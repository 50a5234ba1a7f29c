#include "core/variant.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/values_fixture.h"

namespace {

using Processor::Binary;
using Processor::IfacePtr;
using Processor::RefPtr;
using Processor::String;
using Processor::Variant;
using values_test::utf8;

// An object that answers every requested type from fixed values.
class Provider : public Variant::ValueProvider {
 public:
  Variant value(std::uint32_t type) override {
    switch (type) {
      case Variant::TULong:
        return Variant(7u);
      case Variant::TDouble:
        return Variant(7.5);
      case Variant::TString:
        return Variant(u"seven");
      case Variant::TIdentifier:
        return Variant::identifier("seven!");
      default:
        return Variant();
    }
  }
};

// A provider that answers the wrong type.
class WrongProvider : public Variant::ValueProvider {
 public:
  Variant value(std::uint32_t) override { return Variant(true); }
};

// An interface that is no provider.
class Plain : public Processor::Interface {
  PROCESSOR_INTERFACE(Plain, 0x51a1f00du)
};

Variant binary(std::initializer_list<unsigned char> bytes) {
  RefPtr<Binary> b = Binary::create(static_cast<std::uint32_t>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), b->data());
  return Variant(b);
}

Variant error() { return Variant(Common::Error(KV_SITE, 0x1234, "broken")); }

// One cell: the expected text of the result, or null when the conversion is refused.
struct Row {
  const char* what;
  std::function<Variant()> make;
  const char* toULong;
  const char* toDouble;
  const char* toString;
  const char* toStdString;
};

class Variants : public values_test::Values {};

TEST_F(Variants, ConversionTable) {
  const Row rows[] = {
      {"TDate 1500 ms", [] { return Variant::date(1500); }, "1", "1500", "1/1/1970 1:00:01 AM", "1/1/1970 1:00:01 AM"},
      {"TDate 0", [] { return Variant::date(0); }, "0", "0", "", ""},
      {"TDouble -1.5", [] { return Variant(-1.5); }, "4294967295", "-1.5", "-1.50", "-1.50"},
      {"TDouble 1234.5", [] { return Variant(1234.5); }, "1234", "1234.5", "1,234.50", "1,234.50"},
      {"TLong -1234", [] { return Variant(-1234); }, "4294966062", "-1234", "-1,234", "-1,234"},
      {"TULong 4e9", [] { return Variant(4000000000u); }, "4000000000", "4e+09", "4,000,000,000", "4,000,000,000"},
      {"TLong64 -5", [] { return Variant(-5LL); }, "4294967291", "-5", "-5", "-5"},
      {"TLong64 2^40", [] { return Variant(1099511627776LL); }, "0", "1.09951e+12", "1099511627776",
       "1099511627776"},
      {"TULong64 max", [] { return Variant(18446744073709551615ULL); }, "4294967295", "1.84467e+19",
       "18446744073709551615", "18446744073709551615"},
      {"TString 42", [] { return Variant(u"42"); }, "42", "42", "42", "42"},
      {"TString padded", [] { return Variant(u" 42 "); }, "42", "42", " 42 ", " 42 "},
      {"TString hex", [] { return Variant(u"0x1F"); }, "31", "31", "0x1F", "0x1F"},
      {"TString negative", [] { return Variant(u"-3"); }, nullptr, nullptr, "-3", "-3"},
      {"TString size", [] { return Variant(u"1.5 KB"); }, "1536", "1536", "1.5 KB", "1.5 KB"},
      {"TString abc", [] { return Variant(u"abc"); }, nullptr, nullptr, "abc", "abc"},
      {"TString wide", [] { return Variant(u"\u20ac1"); }, nullptr, nullptr, "\u20ac1", "\xac" "1"},
      {"TIdentifier 7", [] { return Variant::identifier("7"); }, "7", "7", "7", "7"},
      {"TIdentifier e9", [] { return Variant::identifier("\xe9"); }, nullptr, nullptr, "\u00e9", "\xe9"},
      {"TBool true", [] { return Variant(true); }, "1", "1", "true", "true"},
      {"TBool false", [] { return Variant(false); }, "0", "0", "false", "false"},
      {"TInterface provider", [] { return Variant(IfacePtr::adopt<Variant::ValueProvider>(new Provider)); }, "7",
       "7.5", "seven", "seven!"},
      {"TInterface other", [] { return Variant(IfacePtr::adopt<Plain>(new Plain)); }, nullptr, nullptr, nullptr,
       nullptr},
      {"TInterface empty", [] { return Variant(IfacePtr()); }, nullptr, nullptr, nullptr, nullptr},
      {"TBinary", [] { return binary({1, 2, 3, 0xFF}); }, nullptr, nullptr, "AQID/w==", "\x01\x02\x03\xff"},
      {"TBinary empty", [] { return Variant(Binary::create(0)); }, nullptr, nullptr, "", ""},
      {"TEmpty", [] { return Variant(); }, nullptr, nullptr, "", ""},
      {"TVariant", [] { return Variant::ofType(Variant::TVariant); }, nullptr, nullptr, nullptr, nullptr},
      {"TError", [] { return error(); }, nullptr, nullptr, nullptr, nullptr},
  };
  auto check = [](const Row& row, const char* target, const char* expected, auto convert) {
    SCOPED_TRACE(std::string(row.what) + " -> " + target);
    const Variant v = row.make();
    if (!expected) {
      try {
        convert(v);
        ADD_FAILURE() << "converted";
      } catch (const Variant::Error& e) {
        EXPECT_EQ(e.code(), 0xF0001u);
      }
      return;
    }
    EXPECT_EQ(convert(v), expected);
  };
  for (const Row& r : rows) {
    check(r, "TULong", r.toULong, [](const Variant& v) { return std::to_string(v.toULong()); });
    check(r, "TDouble", r.toDouble, [](const Variant& v) {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%g", v.toDouble());
      return std::string(buf);
    });
    check(r, "TString", r.toString, [](const Variant& v) { return utf8(v.toString()); });
    check(r, "TIdentifier", r.toStdString, [](const Variant& v) { return v.toStdString(); });
  }
}

TEST_F(Variants, ErrorTexts) {
  try {
    Variant(u"abc").toULong();
    FAIL();
  } catch (const Variant::Error& e) {
    EXPECT_EQ(e.code(), 0xF0001u);
    EXPECT_EQ(e.text(), u"Failed to convert from TString('abc') to TULong.");
  }
  try {
    Variant(5).asString();
    FAIL();
  } catch (const Variant::Error& e) {
    EXPECT_EQ(e.code(), 0xF0002u);
    EXPECT_EQ(e.text(), u"Failed to get value of type 'TString' from value TLong('5').");
  }
  // The value shows as a message field shows it: an error as its plain text.
  const Common::Error broken(0xABCDEF, 0x1234, "broken");
  try {
    Variant(broken).toString();
    FAIL();
  } catch (const Variant::Error& e) {
    EXPECT_EQ(e.text(), u"Failed to convert from TError('broken (0x1234)\n    Tag = 0xABCDEF') to TString.");
  }
  // A provider answering the wrong type raises the type error.
  try {
    Variant(IfacePtr::adopt<Variant::ValueProvider>(new WrongProvider)).toULong();
    FAIL();
  } catch (const Variant::Error& e) {
    EXPECT_EQ(e.code(), 0xF0002u);
  }
  EXPECT_EQ(Variant(u"x").asString(), String(u"x"));
  EXPECT_EQ(Variant::identifier("id").asStdString(), "id");
  EXPECT_EQ(error().asError().code(), 0x1234u);
}

TEST_F(Variants, CopiesOwnTheirValues) {
  Variant a(u"text");
  Variant b(a);
  a.clear();
  EXPECT_EQ(a.type(), Variant::TEmpty);
  EXPECT_EQ(b.asString(), String(u"text"));

  RefPtr<Binary> block = Binary::create(3);
  const std::int32_t before = block->refCount();
  {
    Variant x(block);
    Variant y(x);
    Variant z;
    z = y;
    EXPECT_EQ(block->refCount(), before + 3);
    z = Variant(1);
    EXPECT_EQ(block->refCount(), before + 2);
  }
  EXPECT_EQ(block->refCount(), before);

  Common::Error e(KV_SITE, 0x77, "x");
  const std::uint32_t count = e.record()->count.load();
  {
    Variant x(e);
    Variant y(std::move(x));
    EXPECT_EQ(x.type(), Variant::TEmpty);
    EXPECT_EQ(e.record()->count.load(), count + 1);
  }
  EXPECT_EQ(e.record()->count.load(), count);
  EXPECT_EQ(Variant(Common::Error()).type(), Variant::TEmpty);
  EXPECT_EQ(Variant(RefPtr<Binary>()).type(), Variant::TEmpty);
}

TEST_F(Variants, StringPoolKeepsUpToTenSpares) {
  RefPtr<Variant::Allocator> pool = Variant::Allocator::instance();
  {
    std::vector<Variant> many;
    for (int i = 0; i < 25; ++i) many.emplace_back(u"pooled");
    for (int i = 0; i < 25; ++i) many.push_back(Variant::identifier("pooled"));
  }
  EXPECT_EQ(pool->spareStrings(), 10u);
  EXPECT_EQ(pool->spareStdStrings(), 10u);
  // Copying and clearing two text variants gives back two strings.
  {
    Variant a(u"one");
    Variant b(a);
    EXPECT_EQ(pool->spareStrings(), 8u);
  }
  EXPECT_EQ(pool->spareStrings(), 10u);
  // A spare comes back empty and valid, whatever it held.
  String* s = Variant::copyString(String(u"abc"));
  s->setToBogus();
  Variant::releaseString(s);
  String* again = Variant::copyString(String(u"fresh"));
  EXPECT_EQ(*again, String(u"fresh"));
  Variant::releaseString(again);

  // Many threads share the pool.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        Variant v(u"x");
        Variant w(v);
        EXPECT_EQ(w.rawString()->length(), 1);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_LE(pool->spareStrings(), 10u);
}

TEST_F(Variants, EnumNames) {
  const Processor::EnumNames letters("Letters", {"A", "B=5", "C", "D 9", "E\t20 trailing", "F"});
  EXPECT_STREQ(letters.name(0), "A");
  EXPECT_STREQ(letters.name(5), "B");
  EXPECT_STREQ(letters.name(6), "C");
  EXPECT_STREQ(letters.name(9), "D");
  EXPECT_STREQ(letters.name(20), "E");
  EXPECT_STREQ(letters.name(21), "F");
  EXPECT_STREQ(Variant::typeName(13), "TEmpty");
  EXPECT_STREQ(Variant::typeName(0), "TDate");
  try {
    letters.name(1);
    FAIL();
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 0x10073u);
    EXPECT_EQ(e.text(), u"Failed to convert value '1' of enumerator 'Letters' to a string value.");
    EXPECT_STREQ(e.narrowField("ErrorValue"), "1");
    EXPECT_STREQ(e.narrowField("EnumTypeName"), "Letters");
  }
  EXPECT_THROW(Variant::typeName(14), Common::Error);
}

TEST_F(Variants, TextToNumberReadsTheTrimmedText) {
  double v = 0;
  EXPECT_TRUE(Variant::parseNumber(String(u" 42"), v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(Variant::parseNumber(String(u"\t2 MB "), v));
  EXPECT_EQ(v, 2097152);
  EXPECT_FALSE(Variant::parseNumber(String(u"  "), v));
  EXPECT_FALSE(Variant::parseNumber(String(u"+1"), v));
  EXPECT_FALSE(Variant::parseNumber(String(u"12 apples"), v));
  EXPECT_EQ(Variant::textToInteger(String(u"4294967297")), 4294967297u);
}

}  // namespace

namespace {

// Conversions on several threads while the settings are reloaded: every text
// is one of the two whole answers, never a mix or freed memory.
TEST_F(Variants, ConversionsOnManyThreadsDuringReloads) {
  std::atomic<bool> done{false};
  std::atomic<int> odd{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      while (!done.load()) {
        const std::string s = utf8(Variant(1234.5).toString());
        if (s != "1,234.50" && s != "1.234,50") odd.fetch_add(1);
        if (Variant(u"1536").toULong() != 1536) odd.fetch_add(1);
      }
    });
  for (int i = 0; i < 200; ++i) {
    win32::set_user_locale_for_tests(i % 2 ? 0x0407 : 0);
    settingsChanged();
  }
  done = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(odd.load(), 0);
}

}  // namespace
