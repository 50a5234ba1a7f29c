#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A record kind with one field of each type: narrow "function", wide
// "filename" and the number "Line". `names` may be swapped to test lists.
const char* testNames(const Common::ErrorRecord*) { return "function,filename,Line"; }
const char* gappedNames(const Common::ErrorRecord*) { return "function,,filename"; }
const char* testNarrow(const Common::ErrorRecord* r, const char* name) {
  return std::string_view(name) == "function" ? static_cast<const char*>(r->slotText(r->fieldSlots()[0])) : nullptr;
}
const char16_t* testWide(const Common::ErrorRecord* r, const char* name) {
  return std::string_view(name) == "filename" ? static_cast<const char16_t*>(r->slotText(r->fieldSlots()[1]))
                                              : nullptr;
}
std::uint64_t testNumber(const Common::ErrorRecord*, const char* name) {
  return std::string_view(name) == "Line" ? 0x0102030405060708ull : 0;
}
constexpr Common::ErrorRecordOps testOps{Common::freeErrorRecordBlock, Common::cloneErrorRecord, Common::wideSlotText,
                                         testNumber, testNarrow, testWide, testNames};
constexpr Common::ErrorRecordOps gappedOps{Common::freeErrorRecordBlock, Common::cloneErrorRecord,
                                           Common::wideSlotText,         testNumber,
                                           testNarrow,                   testWide,
                                           gappedNames};

Common::Error fieldError(const Common::ErrorRecordOps* ops, std::uint64_t site, std::uint32_t code,
                         const char16_t* text, const char* function, const char16_t* file) {
  const Common::RecordText fields[2] = {{function, false}, {file, true}};
  return Common::Error(Common::buildErrorRecord(ops, site, code, {text, true}, fields, 2));
}

Bytes serialized(const Common::Error& e) {
  std::size_t length = 12345;
  std::unique_ptr<std::uint8_t[]> data(e.serialize(length));
  if (!data) return {};
  return Bytes(data.get(), data.get() + length);
}

Common::Error read(const Bytes& b) { return Common::Error::deserialize(b.data(), b.size()); }

int chainLength(const Common::Error& e) {
  int n = 0;
  for (Common::Error r = e; r; r = r.cause()) ++n;
  return n;
}

void put(Bytes& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }
void putU32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The program's path is fixed so that the "$module" bytes are known.
class ErrorBytes : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("KV_PROGRAM_PATH", "C:\\Tools\\Men\xC3\xBC.exe", 1); }
  void TearDown() override {
    ::unsetenv("KV_PROGRAM_PATH");
    Common::setErrorRecordAllocationFails(false);
  }
  static constexpr std::string_view modulePath = "C:\\Tools\\Men\xC3\xBC.exe";
};

// The head written by hand: code 0x40007, tag 0x1122334455667788, text
// "Öffnen", fields function="Op\xE9n" (bytes as held), filename=L"a€.txt",
// Line=0x0102030405060708, then the added "$module".
Bytes expectedHead() {
  Bytes b;
  putU32(b, 0x40007);
  putU32(b, 0x55667788);
  putU32(b, 0x11223344);
  put(b, std::string_view("\xC3\x96" "ffnen\0", 8));
  put(b, std::string_view("function\0A" "Op\xE9n\0", 15));
  put(b, std::string_view("filename\0W" "a\xE2\x82\xAC.txt\0", 19));
  put(b, std::string_view("Line\0N\x08\x07\x06\x05\x04\x03\x02\x01", 14));
  put(b, std::string_view("$module\0W", 9));
  put(b, "C:\\Tools\\Men\xC3\xBC.exe");
  b.push_back(0);
  b.push_back(0);  // end of record
  return b;
}

// Code-only cause 0x30005 with tag 0x99: empty text, no fields.
Bytes expectedCause() {
  Bytes b;
  putU32(b, 0x30005);
  putU32(b, 0x99);
  putU32(b, 0);
  b.push_back(0);  // empty text
  b.push_back(0);  // end of record
  return b;
}

Common::Error sampleChain() {
  Common::Error head = fieldError(&testOps, 0x1122334455667788ull, 0x40007, u"\u00D6ffnen", "Op\xE9n", u"a\u20AC.txt");
  head.setCause(Common::Error(0x99, 0x30005));
  return head;
}

TEST_F(ErrorBytes, WrittenFormIsByteExact) {
  Bytes expected{0x01};
  const Bytes head = expectedHead(), cause = expectedCause();
  expected.insert(expected.end(), head.begin(), head.end());
  expected.insert(expected.end(), cause.begin(), cause.end());
  EXPECT_EQ(serialized(sampleChain()), expected);
}

TEST_F(ErrorBytes, RoundTripKeepsEveryPartAndAddsModuleOnce) {
  const Bytes first = serialized(sampleChain());
  const Common::Error back = read(first);
  ASSERT_EQ(chainLength(back), 2);

  EXPECT_EQ(back.code(), 0x40007u);
  EXPECT_EQ(back.site(), 0x1122334455667788ull);
  EXPECT_EQ(back.text(), u"\u00D6ffnen");
  EXPECT_STREQ(back.fieldNames(), "function,filename,Line,$module");
  // Each field keeps its type: narrow stays narrow, wide wide, a number a number.
  EXPECT_STREQ(back.narrowField("function"), "Op\xE9n");
  EXPECT_EQ(back.wideField("function"), nullptr);
  ASSERT_NE(back.wideField("filename"), nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(back.wideField("filename")) % alignof(char16_t), 0u);
  EXPECT_EQ(std::u16string(back.wideField("filename")), u"a\u20AC.txt");
  EXPECT_EQ(back.narrowField("filename"), nullptr);
  EXPECT_EQ(back.numberField("Line"), 0x0102030405060708ull);
  EXPECT_EQ(back.numberField("function"), 0u);  // a text answers no number
  EXPECT_EQ(back.wideField("Line"), nullptr);
  EXPECT_EQ(std::u16string(back.wideField("$module")), u"C:\\Tools\\Men\u00FC.exe");
  EXPECT_EQ(back.wideField("$modul"), nullptr);  // names match whole
  EXPECT_EQ(back.wideField("$module\0x"), back.wideField("$module"));

  const Common::Error cause = back.cause();
  EXPECT_EQ(cause.code(), 0x30005u);
  EXPECT_EQ(cause.site(), 0x99u);
  EXPECT_EQ(cause.text(), u"");
  EXPECT_STREQ(cause.fieldNames(), "");  // "$module" goes to the head only

  // Written again: the same bytes, no second "$module".
  EXPECT_EQ(serialized(back), first);
}

TEST_F(ErrorBytes, SystemRecordComesBackWithItsHResultAndText) {
  Common::Error e(0x10, 0x10002, u"Wrapped");
  e.setWin32Cause(5);
  const Common::Error back = read(serialized(e));
  ASSERT_EQ(chainLength(back), 2);
  const Common::Error system = back.cause();
  EXPECT_EQ(system.code(), 0xFFF0u);
  EXPECT_EQ(system.site(), e.cause().site());
  EXPECT_STREQ(system.fieldNames(), "code");
  EXPECT_EQ(system.numberField("code"), 0x80070005u);
  EXPECT_EQ(system.text(), Common::systemErrorText(static_cast<std::int32_t>(0x80070005u)));
  EXPECT_FALSE(system.text().empty());
}

TEST_F(ErrorBytes, EmptyEntriesOfTheNameListAreSkipped) {
  const Common::Error e = fieldError(&gappedOps, 0x5, 0x40001, u"t", "f", u"w");
  Bytes expected{0x01};
  putU32(expected, 0x40001);
  putU32(expected, 0x5);
  putU32(expected, 0);
  put(expected, std::string_view("t\0function\0Af\0filename\0Ww\0$module\0W", 35));
  put(expected, modulePath);
  expected.push_back(0);
  expected.push_back(0);
  EXPECT_EQ(serialized(e), expected);
}

TEST_F(ErrorBytes, EmptyHolderIsTheVersionByte) { EXPECT_EQ(serialized(Common::Error()), Bytes{0x01}); }

TEST_F(ErrorBytes, WriterGivesNothingWhenMemoryRunsOut) {
  const Common::Error e = sampleChain();
  Common::setErrorRecordAllocationFails(true);
  std::size_t length = 77;
  std::uint8_t* data = e.serialize(length);
  Common::setErrorRecordAllocationFails(false);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0u);
  delete[] data;
}

// Cutting a two-record form anywhere keeps exactly the records that ended
// before the cut.
TEST_F(ErrorBytes, TruncatedDataKeepsTheCompleteRecords) {
  const Bytes full = serialized(sampleChain());
  const std::size_t headEnd = 1 + expectedHead().size();
  ASSERT_EQ(full.size(), headEnd + expectedCause().size());
  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    const Bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    int expected = 0;
    if (cut == full.size())
      expected = 2;
    else if (cut >= headEnd)
      expected = 1;
    const Common::Error back = read(part);
    ASSERT_EQ(chainLength(back), expected) << "cut at " << cut;
    if (expected) {
      EXPECT_EQ(back.code(), 0x40007u);
    }
  }
}

TEST_F(ErrorBytes, MalformedDataStopsReading) {
  const Bytes head = expectedHead();
  auto withHead = [&](std::initializer_list<std::uint8_t> tail) {
    Bytes b{0x01};
    b.insert(b.end(), head.begin(), head.end());
    b.insert(b.end(), tail);
    return b;
  };
  auto record = [](std::string_view body) {  // code 0x30001, tag 7, then `body`
    Bytes b;
    putU32(b, 0x30001);
    putU32(b, 7);
    putU32(b, 0);
    put(b, body);
    return b;
  };
  auto after = [&](const Bytes& second) {
    Bytes b = withHead({});
    b.insert(b.end(), second.begin(), second.end());
    return b;
  };
  const struct {
    const char* name;
    Bytes data;
    int records;
  } cases[] = {
      {"nothing", {}, 0},
      {"version only", {0x01}, 0},
      {"version 2", [&] { Bytes b = withHead({}); b[0] = 0x02; return b; }(), 0},
      {"code 0 first", {0x01, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"code 0 ends the chain", withHead({0, 0, 0, 0, 9, 9, 9, 9, 9, 9, 9, 9, 0, 0}), 1},
      {"fewer than 12 bytes left", withHead({5, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0}), 1},
      {"text without NUL", after(record(std::string_view("abc", 3))), 1},
      {"text not UTF-8", after(record(std::string_view("a\xFF\0\0", 4))), 1},
      {"unknown tag", after(record(std::string_view("\0x\0Xv\0\0", 7))), 1},
      {"name without room for its tag", after(record(std::string_view("\0x\0", 3))), 1},
      {"narrow value without NUL", after(record(std::string_view("\0x\0Av", 5))), 1},
      {"number cut short", after(record(std::string_view("\0x\0N1234567", 10))), 1},
      {"wide value not UTF-8", after(record(std::string_view("\0x\0W\xC3\0\0", 7))), 1},
      {"comma inside a name", after(record(std::string_view("\0a,b\0Av\0\0", 9))), 1},
      {"end byte missing", after(record(std::string_view("\0x\0N12345678", 12))), 1},
      {"well-formed second", after(record(std::string_view("\0x\0N12345678\0", 13))), 2},
  };
  for (const auto& c : cases) EXPECT_EQ(chainLength(read(c.data)), c.records) << c.name;
  EXPECT_EQ(chainLength(Common::Error::deserialize(nullptr, 5)), 0);
}

// "" and names the record lacks answer nothing, with and without fields (the
// empty lookup once matched the empty name list and read past the record).
TEST_F(ErrorBytes, AbsentAndEmptyFieldNamesAnswerNothing) {
  Bytes bare{0x01};
  putU32(bare, 0x30001);
  putU32(bare, 7);
  putU32(bare, 0);
  put(bare, std::string_view("t\0\0", 3));
  const Common::Error noFields = read(bare);
  const Common::Error withFields = read(serialized(sampleChain()));
  ASSERT_EQ(chainLength(noFields), 1);
  ASSERT_EQ(chainLength(withFields), 2);
  for (const Common::Error& e : {noFields, withFields, withFields.cause()}) {
    for (const char* name : {"", ",", "absent"}) {
      EXPECT_EQ(e.narrowField(name), nullptr) << '"' << name << '"';
      EXPECT_EQ(e.wideField(name), nullptr) << '"' << name << '"';
      EXPECT_EQ(e.numberField(name), 0u) << '"' << name << '"';
    }
  }
}

// A rebuilt head shared by two holders is cloned by setCause; the clone's
// texts and fields are read from its own block.
TEST_F(ErrorBytes, RebuiltRecordsCloneWithTheirFields) {
  const Common::Error back = read(serialized(sampleChain()));
  Common::Error other = back;
  other.setCause(Common::Error(0x3, 0x40002));
  EXPECT_NE(other.record(), back.record());
  EXPECT_EQ(other.text(), u"\u00D6ffnen");
  EXPECT_STREQ(other.narrowField("function"), "Op\xE9n");
  EXPECT_EQ(std::u16string(other.wideField("filename")), u"a\u20AC.txt");
  EXPECT_EQ(other.numberField("Line"), 0x0102030405060708ull);
  EXPECT_EQ(other.cause().code(), 0x40002u);
  EXPECT_EQ(back.cause().code(), 0x30005u);  // the other holder keeps its view
}

}  // namespace
