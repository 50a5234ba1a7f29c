#include <gtest/gtest.h>

#include "xml/xml_node.h"
#include "xml/xml_reader.h"
#include "xml/xml_test_support.h"

using xml_test::bytes;
using xml_test::bytes_file;
using xml_test::dump;

namespace {

std::string varint(std::uint32_t v) {
  std::string s;
  do {
    unsigned char b = v & 0x7F;
    v >>= 7;
    if (v) b |= 0x80;
    s += static_cast<char>(b);
  } while (v);
  return s;
}
// Length-prefixed bytes (a name declaration's tail, a version-1 text).
std::string str(const std::string& s) { return varint(static_cast<std::uint32_t>(s.size())) + s; }
std::string v1(const std::string& body) { return std::string("BXML\x01\x01", 6) + body; }
std::string v2(const std::string& body) { return std::string("BXML\x02\x01", 6) + body; }
// Version 2: text items and attribute values carry the length shifted left.
std::string text2(const std::string& s) { return varint(static_cast<std::uint32_t>(s.size()) << 1) + s; }
std::string narrow2(const std::string& s) { return varint(static_cast<std::uint32_t>(s.size()) << 1 | 1) + s; }

// r{k="v"}["a",c["x"],"b"]
const std::string sample_v1 = v1(varint(0) + str("r") + bytes({1}) + varint(1) + str("k") + str("v") + varint(2) +
                                 str("a") + varint(2) + str("c") + bytes({0}) + varint(1) + str("x") + str("b"));
const std::string sample_v2 = v2(varint(1) + str("r") + varint(2) + str("k") + text2("v") + varint(0) + text2("a") +
                                 varint(3) + str("c") + varint(0) + narrow2("\xE9") + varint(0) + text2("b") +
                                 varint(0));

struct Outcome {
  bool ok;
  std::string tree;
  std::uint32_t code;  // error left on the file
};

Outcome load(const std::string& data) {
  bytes_file in(data);
  xml_document doc;
  Outcome o;
  o.ok = doc.load(in);
  o.tree = dump(doc.root());
  o.code = in.error_code();
  return o;
}

class recorder final : public xml_reader_interface {
 public:
  void start_document() override { log += "doc("; }
  void end_document() override { log += ")"; }
  void start_element(const std::string& name) override { log += "<" + name; }
  void end_element() override { log += ">"; }
  void attribute(const std::string& name, const std::u16string& value) override {
    log += " " + name + "=" + xml_test::utf8(value);
  }
  void text(const std::u16string& t) override { log += "|" + xml_test::utf8(t); }
  void narrow_text(const std::string& t) override { log += "|8:" + t; }
  std::string log;
};

std::string nested_v1(std::size_t depth) {
  std::string body;
  for (std::size_t i = 0; i < depth; ++i)
    body += varint(0) + (i == 0 ? str("e") : std::string()) + bytes({0}) + varint(i + 1 < depth ? 2 : 1) + str("");
  for (std::size_t i = 1; i < depth; ++i) body += str("");
  return v1(body);
}

std::string nested_v2(std::size_t depth) {
  std::string body = varint(1) + str("e") + varint(0) + text2("");
  for (std::size_t i = 1; i <= depth - 1; ++i) body += varint(1) + varint(0) + text2("");
  for (std::size_t i = 0; i < depth; ++i) body += varint(0) + (i + 1 < depth ? text2("") : std::string());
  return v2(body);
}

}  // namespace

TEST(BxmlReader, Documents) {
  struct Case {
    const char* name;
    std::string data;
    std::string tree;
  } cases[] = {
      {"version 1", sample_v1, R"(r{k="v"}["a",c["x"],"b"])"},
      {"version 2 with 8-bit text", sample_v2, "r{k=\"v\"}[\"a\",c[\"\xC3\xA9\"],\"b\"]"},
      {"version 1 name ids reused",
       v1(varint(7) + str("r") + bytes({1}) + varint(7) + str("r") + varint(3) + str("") + varint(7) + bytes({0}) +
          varint(1) + str("1") + str("") + varint(7) + bytes({0}) + varint(1) + str("2") + str("")),
       R"(r{r="r"}["",r["1"],"",r["2"],""])"},
      {"version 2 name ids reused",
       v2(varint(5) + str("r") + varint(0) + text2("") + varint(5) + varint(5) + text2("x") + varint(0) +
          text2("1") + varint(0) + text2("") + varint(0)),
       R"(r["",r{r="x"}["1"],""])"},
      {"version 2 attribute length ignores its low bit",
       v2(varint(1) + str("r") + varint(2) + str("k") + varint(2 << 1 | 1) + "ab" + varint(0) + text2("") +
          varint(0)),
       R"(r{k="ab"}[""])"},
      {"version 2 root id 0: no root", v2(varint(0)), "-"},
      {"multi-byte lengths", v1(varint(0) + str("r") + bytes({0}) + varint(1) + str(std::string(200, 'x'))),
       "r[\"" + std::string(200, 'x') + "\"]"},
      {"UTF-8 text", v1(varint(0) + str("r") + bytes({0}) + varint(1) + str("\xE2\x82\xAC\xF0\x9F\x98\x80")),
       "r[\"\xE2\x82\xAC\xF0\x9F\x98\x80\"]"},
      {"malformed UTF-8 becomes '?'", v1(varint(0) + str("r") + bytes({0}) + varint(1) + str("\xC0\x80")),
       R"(r["??"])"},
      {"duplicate attribute keeps the first",
       v1(varint(0) + str("r") + bytes({2}) + varint(1) + str("k") + str("1") + varint(1) + str("2") + varint(1) +
          str("")),
       R"(r{k="1"}[""])"},
      {"bytes after the root are not read", sample_v1 + "junk", R"(r{k="v"}["a",c["x"],"b"])"},
      {"largest id", v1(varint(0xFFFFFFFFu) + str("r") + bytes({0}) + varint(1) + str("")), R"(r[""])"},
  };
  for (const auto& c : cases) {
    Outcome o = load(c.data);
    EXPECT_TRUE(o.ok) << c.name;
    EXPECT_EQ(o.tree, c.tree) << c.name;
    EXPECT_EQ(o.code, 0u) << c.name;
  }
}

TEST(BxmlReader, EventsInDocumentOrder) {
  for (auto [data, expected] : {std::pair{sample_v1, "doc(<r k=v|a<c|x>|b>)"},
                                std::pair{sample_v2, "doc(<r k=v|a<c|8:\xE9>|b>)"}}) {
    bytes_file in(data.substr(4));
    recorder r;
    EXPECT_TRUE(r.parse_bxml(in));
    EXPECT_EQ(r.log, expected);
  }
}

TEST(BxmlReader, MalformedInputFailsCleanly) {
  const std::string big = varint(0xFFFFFFFFu);
  struct Case {
    const char* name;
    std::string data;
    std::uint32_t code;
  } cases[] = {
      {"version 3", std::string("BXML\x03\x01", 6) + sample_v1.substr(6), fs_error::corrupted},
      {"version 0", std::string("BXML\x00\x01", 6) + sample_v1.substr(6), fs_error::corrupted},
      {"no version byte", "BXML", fs_error::end_of_file},
      {"nothing after the header", v1(""), fs_error::end_of_file},
      {"piece count 0", v1(varint(0) + str("r") + bytes({0}) + varint(0) + str("") + str("")), fs_error::corrupted},
      {"piece count 0 in a child",
       v1(varint(0) + str("r") + bytes({0}) + varint(2) + str("") + varint(0) + bytes({0}) + varint(0)),
       fs_error::corrupted},
      {"six-byte varint", v1(bytes({0x80, 0x80, 0x80, 0x80, 0x80, 0x00}) + str("r")), fs_error::corrupted},
      {"varint beyond 32 bits", v1(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x1F}) + str("r")), fs_error::corrupted},
      {"over-long varint in a text length", v2(varint(1) + str("r") + varint(0) + bytes({0x80, 0x80, 0x80, 0x80, 0x80, 0x01})),
       fs_error::corrupted},
      {"huge name length", v1(varint(0) + big + "r"), fs_error::end_of_file},
      {"huge text length", v1(varint(0) + str("r") + bytes({0}) + varint(1) + big + "abc"), fs_error::end_of_file},
      {"huge piece count", v1(varint(0) + str("r") + bytes({0}) + big + str("")), fs_error::end_of_file},
      {"huge 8-bit text", v2(varint(1) + str("r") + varint(0) + big), fs_error::end_of_file},
      {"version 1 nested 10,000 deep", nested_v1(10000), fs_error::corrupted},
      {"version 2 nested 10,000 deep", nested_v2(10000), fs_error::corrupted},
      {"version 1 one level too deep", nested_v1(xml_max_depth + 1), fs_error::corrupted},
      {"version 2 one level too deep", nested_v2(xml_max_depth + 1), fs_error::corrupted},
  };
  for (const auto& c : cases) {
    Outcome o = load(c.data);
    EXPECT_FALSE(o.ok) << c.name;
    EXPECT_EQ(o.tree, "-") << c.name;
    EXPECT_EQ(o.code, c.code) << c.name;
  }
  for (std::size_t depth : {std::size_t{1}, xml_max_depth}) {
    EXPECT_TRUE(load(nested_v1(depth)).ok) << depth;
    EXPECT_TRUE(load(nested_v2(depth)).ok) << depth;
  }
}

TEST(BxmlReader, EveryTruncationInsideTheRootFails) {
  for (const std::string& doc : {sample_v1, sample_v2}) {
    for (std::size_t n = 4; n < doc.size(); ++n) {
      Outcome o = load(doc.substr(0, n));
      EXPECT_FALSE(o.ok) << n;
      EXPECT_EQ(o.code, fs_error::end_of_file) << n;
      EXPECT_EQ(o.tree, "-") << n;
    }
  }
}

TEST(BxmlReader, ReportsThePositionOfTheSignature) {
  bytes_file in(sample_v2);
  xml_document doc;
  int line = 0, column = 0;
  ASSERT_TRUE(doc.load(in, line, column));
  EXPECT_EQ(dump(doc.root()), "r{k=\"v\"}[\"a\",c[\"\xC3\xA9\"],\"b\"]");
  EXPECT_EQ(line, 1);
  EXPECT_EQ(column, 1);
}
