#include "core/message_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/values_fixture.h"

namespace {

using Processor::String;
using Processor::Variant;
using values_test::utf8;

constexpr char16_t L = 0xF800;  // literal-mode switch

struct PatternCase {
  const char* what;
  std::u16string pattern;
  std::vector<Variant> args;
  const char* expected;
};

class Patterns : public values_test::Values {};

TEST_F(Patterns, EdgeCases) {
  const std::u16string lit = std::u16string(u"a") + L + u"{b}" + L + u"c";
  const std::u16string litInField = std::u16string(u"{0,choice,0#") + L + u"<b>|x" + L + u"|1#one}";
  const PatternCase cases[] = {
      {"missing index, no arguments", u"{0}", {}, "{0}"},
      {"missing index kept as written", u"{ 1 }", {Variant(u"x")}, "{ 1 }"},
      {"negative index", u"{-1}", {Variant(u"x")}, "{-1}"},
      {"index without digits names 0", u"{x}", {Variant(u"arg")}, "arg"},
      {"missing index hides kind and style", u"<{5,number,hex}>", {Variant(1), Variant(2)}, "<{5}>"},
      {"unknown kind", u"a{0,unknown}b", {Variant(1)}, "ab"},
      {"empty kind", u"a{0,}b", {Variant(1)}, "ab"},
      {"stray closing brace", u"a}b", {}, "a}b"},
      {"apostrophes are text", u"'{0}'", {Variant(u"x")}, "'x'"},
      {"literal mode", lit, {}, "a{b}c"},
      {"literal text inside a choice", litInField, {Variant(0)}, "<b>|x"},
      {"hex style", u"{0,number,hex}", {Variant(255)}, "FF"},
      {"style compared exactly", u"{0, number, hex}", {Variant(255)}, "255"},
      {"kind trimmed", u"{0, number ,hex}", {Variant(255)}, "FF"},
      {"nested field formatted first", u"{0, choice, 0#|1#1 day|1<{0} days}", {Variant(3)}, "3 days"},
      {"nested, one", u"{0, choice, 0#|1#1 day|1<{0} days}", {Variant(1)}, "1 day"},
      {"nested, none", u"[{0, choice, 0#|1#1 day|1<{0} days}]", {Variant(0)}, "[]"},
      {"nested field of another argument", u"{0,choice,0#no|0<{1} of {0}}", {Variant(2), Variant(u"x")}, "x of 2"},
      {"fifth comma dropped, unknown kind", u"{0,a,b,c,d,e}", {Variant(1)}, ""},
      {"bool", u"{0}/{1}", {Variant(true), Variant(false)}, "true/false"},
      {"empty", u"{0}", {Variant()}, "<void>"},
      {"binary", u"{0}", {Variant(Processor::Binary::create(2))}, "<binary data>"},
      {"identifier", u"{0}", {Variant::identifier("caf\xe9")}, "caf\xc3\xa9"},
      {"unclosed field kept literally", u"abc {1,num", {Variant(1)}, "abc {1,num"},
      {"unclosed after a field", u"{0} and {0", {Variant(u"x")}, "x and {0"},
      {"unclosed nested field", u"a {0,choice,0#{1", {Variant(0)}, "a {0,choice,0#{1"},
  };
  for (const PatternCase& c : cases) {
    String out;
    formatter_.format(out, String(c.pattern.data(), static_cast<int32_t>(c.pattern.size())), c.args.data(),
                      static_cast<int32_t>(c.args.size()));
    EXPECT_EQ(utf8(out), c.expected) << c.what;
  }
}

TEST_F(Patterns, FormatAppendsAndReturnsTheLength) {
  String out(u"> ");
  const Variant args[] = {Variant(u"x")};
  EXPECT_EQ(formatter_.format(out, String(u"{0}!"), args, 1), 4);
  EXPECT_EQ(utf8(out), "> x!");
}

// Each nesting level takes a stack frame: patterns (from files) nesting deeper
// than the bound are refused whole instead of overflowing the stack.
TEST_F(Patterns, NestingDeeperThanTheBoundIsRefused) {
  auto nested = [](int levels) {
    std::u16string p;
    for (int i = 0; i < levels; ++i) p += u"{0,choice,0<";
    p += u"x";
    for (int i = 0; i < levels; ++i) p += u"}";
    return p;
  };
  const Variant args[] = {Variant(1)};
  const int bound = Processor::MessageFormat::kMaxNesting + 1;  // fields, the outermost included
  for (const auto& [levels, expected] : {std::pair{3, "> x"}, std::pair{bound, "> x"}, std::pair{bound + 1, "> "},
                                        std::pair{30000, "> "}}) {
    const std::u16string pattern = nested(levels);
    String out(u"> ");
    formatter_.format(out, String(pattern.data(), static_cast<int32_t>(pattern.size())), args, 1);
    EXPECT_EQ(utf8(out), expected) << levels;
    char16_t buf[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(formatter_.formatBuffer(buf, 4, pattern.data(), static_cast<int32_t>(pattern.size()), args, 1),
              levels <= bound ? 1 : 0)
        << levels;
  }
}

TEST_F(Patterns, FormatBufferCutsButReportsTheFullLength) {
  const Variant args[] = {Variant(u"world")};
  const std::u16string pattern = u"hello {0}, and more";  // the length limits the pattern
  char16_t buf[8];
  std::fill(std::begin(buf), std::end(buf), u'#');
  EXPECT_EQ(formatter_.formatBuffer(buf, 5, pattern.data(), 9, args, 1), 11);
  EXPECT_EQ(std::u16string(buf, 6), u"hello#");
  EXPECT_EQ(formatter_.formatBuffer(buf, 8, pattern.data(), 5, args, 1), 5);
  EXPECT_EQ(std::u16string(buf), u"hello");
}

TEST_F(Patterns, ConversionErrorsPassThroughAndTheFormatterStaysUsable) {
  const Variant args[] = {Variant::ofType(Variant::TVariant)};
  String out;
  EXPECT_THROW(formatter_.format(out, String(u"{0,ellipsis,5}"), args, 1), Variant::Error);
  const Variant ok[] = {Variant(u"fine")};
  out.remove();
  formatter_.format(out, String(u"{0}"), ok, 1);
  EXPECT_EQ(utf8(out), "fine");
}

TEST_F(Patterns, HelpersFormatTheirOwnCopies) {
  EXPECT_EQ(utf8(Processor::formatMessage1(String(u"<{0}>"), Variant(u"a"))), "<a>");
  EXPECT_EQ(utf8(Processor::formatMessage2(String(u"{1}{0}"), Variant(u"a"), Variant(u"b"))), "ba");
  EXPECT_EQ(utf8(Processor::formatMessage3(String(u"{2}{1}{0}"), Variant(u"a"), Variant(u"b"), Variant(u"c"))),
            "cba");
  const Variant args[] = {Variant(u"x"), Variant(u"y")};
  EXPECT_EQ(utf8(Processor::formatToString(String(u"{0}{1}{2}"), args, 2)), "xy{2}");
}

}  // namespace

namespace {

class ErrorKind : public values_test::Values {};

TEST_F(ErrorKind, StylesAndPlainText) {
  Common::Error cause(0x1234ABCDull, 0x40007, u"Disk is full");
  Common::Error e;
  Common::makeEnumValueErrorRecord(e, 0x00000001000000FFull, 0x10073, u"Bad value", "5", "Colour");
  e.setCause(cause);
  EXPECT_EQ(fmt(u"{0,error,code}|{0,error,tag}|{0,error,message}", e), "0x10073|0x1000000FF|Bad value");
  EXPECT_EQ(fmt(u"{0,error,field,EnumTypeName}|{0,error,field,Missing}", e), "Colour|0 (0x0)");
  EXPECT_EQ(fmt(u"[{0,error}{0,error,other}{0, error, full}]", e), "[]");
  EXPECT_EQ(fmt(u"{0,error,full}", e),
            "Bad value (0x10073)\n"
            "    ErrorValue = \"5\",\n"
            "    EnumTypeName = \"Colour\"\n"
            "    Tag = 0x1000000FF\n"
            "Disk is full (0x40007)\n"
            "    Tag = 0x1234ABCD");
  EXPECT_EQ(fmt(u"{0}", e), fmt(u"{0,error,full}", e));
  EXPECT_THROW(fmt(u"{0,error,code}", 5), Variant::Error);
  const std::string win32 = utf8(Processor::formatWin32Error(5, 0x77));
  EXPECT_EQ(win32.substr(0, 9), " (0x10002") << win32;
  EXPECT_NE(win32.find("(0xFFF0)"), std::string::npos) << win32;
}

}  // namespace

namespace {

using Processor::IfacePtr;
using Processor::RefPtr;

// A reflected "Name" member whose value a message field can read.
class NameMember final : public Processor::Member, public Processor::MemberValue {
 public:
  explicit NameMember(Variant value) : value_(std::move(value)) {}
  Processor::MetaClass* metaClass() const override { return Processor::InterfaceMetaClass<Member>::instance(); }
  IfacePtr queryInterface(std::uint32_t id) override {
    if (id == Member::interfaceId) return IfacePtr::of<Member>(this);
    if (id == MemberValue::interfaceId) return IfacePtr::of<MemberValue>(this);
    return IfacePtr();
  }
  std::int32_t id() override { return 1; }
  const char* name() override { return "Name"; }
  Processor::TypeDescriptor type() override { return {value_.type(), 0}; }
  Variant value() override { return value_; }

 private:
  Variant value_;
};

// An object that lists its members; `name` null lists none called "Name".
class Listed final : public Processor::MemberList {
 public:
  explicit Listed(NameMember* name) : name_(RefPtr<NameMember>::adopt(name)) {}
  Processor::InterfaceIterator* iterator() override { return nullptr; }
  const char* name() override { return "Caf\xe9List"; }
  void* reserved() override { return nullptr; }
  RefPtr<Processor::Member> memberById(std::int32_t) override { return nullptr; }
  RefPtr<Processor::Member> memberByName(const char* n) override {
    if (!name_ || std::string(n) != "Name") return nullptr;
    return RefPtr<Processor::Member>(name_.get());
  }
  RefPtr<Processor::MemberList> memberList() override { return RefPtr<Processor::MemberList>(this); }

 private:
  RefPtr<NameMember> name_;
};

class Opaque final : public Processor::Interface {
  PROCESSOR_INTERFACE(Opaque, 0x51a1f00eu)
};

TEST_F(Patterns, ObjectsShowTheirNameMember) {
  const Variant named(IfacePtr::adopt<Processor::MemberList>(new Listed(new NameMember(Variant(u"Disk 1")))));
  const Variant numbered(IfacePtr::adopt<Processor::MemberList>(new Listed(new NameMember(Variant(7)))));
  const Variant nameless(IfacePtr::adopt<Processor::MemberList>(new Listed(nullptr)));
  const Variant opaque(IfacePtr::adopt<Opaque>(new Opaque));
  EXPECT_EQ(fmt(u"{0}|{1}|{2}|{3}", named, numbered, nameless, opaque),
            "Disk 1|<Caf\u00e9List>||<unknown interface>");
}

}  // namespace
