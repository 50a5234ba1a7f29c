#include <gtest/gtest.h>

#include "xml/xml_node.h"
#include "xml/xml_reader.h"
#include "xml/xml_test_support.h"

using xml_test::bytes_file;
using xml_test::dump;

namespace {

// The tree as dump() shows it, or "FAIL".
std::string parse(const std::string& text, std::uint32_t slice = 0xFFFFFFFFu) {
  bytes_file in(text, slice);
  xml_document doc;
  int line = 0, column = 0;
  if (!doc.load(in, line, column)) {
    EXPECT_EQ(doc.root(), nullptr) << "a failed load leaves no root";
    return "FAIL";
  }
  return dump(doc.root());
}

struct Case {
  const char* name;
  std::string input;
  std::string expected;
};

void run(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(parse(c.input), c.expected) << c.name;
    // The same through reads of a few bytes at a time.
    EXPECT_EQ(parse(c.input, 3), c.expected) << c.name << " (3-byte reads)";
  }
}

}  // namespace

TEST(XmlTextReader, WhitespaceNormalisation) {
  run({
      {"blanks collapse", "<a>x  y</a>", R"(a["x y"])"},
      {"edges drop", "<a> x </a>", R"(a["x"])"},
      {"line breaks and tabs", "<a>\r\n\tx\r\n\t\ty\n</a>", R"(a["x y"])"},
      {"blank after empty child", "<a>text<b/> word</a>", R"(a["text",b[""]," word"])"},
      {"blank before child", "<a>x <b/></a>", R"(a["x ",b[""],""])"},
      {"blank between children", "<a><b/>  <c></c></a>", R"(a["",b[""]," ",c[""],""])"},
      {"blank before end tag", "<a><b/> </a>", R"(a["",b[""],""])"},
      {"after end tag", "<a><b>1</b> 2</a>", R"(a["",b["1"]," 2"])"},
      {"reference keeps its blank", "<a>&#32;x</a>", R"(a[" x"])"},
      {"reference after blank", "<a>x &#32;y</a>", R"(a["x  y"])"},
      {"comment keeps pending blank", "<a>x <!-- y --> z</a>", R"(a["x z"])"},
      {"comment without blanks", "<a>x<!--y-->z</a>", R"(a["xz"])"},
      {"document edges", " \r\n<a>x</a>\r\n ", R"(a["x"])"},
      {"attribute value", "<a k = ' v  w ' />", R"(a{k="v w"}[""])"},
      {"attribute value blank reference", "<a k=\"&#32;v\"/>", R"(a{k=" v"}[""])"},
      {"empty attribute", "<a k=\"\"/>", R"(a{k=""}[""])"},
      {"attributes without blank between", "<a k=\"1\"j='2'/>", R"(a{j="2",k="1"}[""])"},
  });
}

TEST(XmlTextReader, ReferencesAndCharacters) {
  run({
      {"entities", "<a>&amp;&apos;&gt;&lt;&quot;</a>", R"(a["&'><""])"},
      {"decimal and hex", "<a>&#65;&#x42;&#x6a;&#1;</a>", "a[\"ABj\\x01\"]"},
      {"U+0000 reference", "<a>&#0;</a>", "FAIL"},
      {"U+0000 hex reference", "<a k=\"&#x00;\"/>", "FAIL"},
      {"entities in attributes", "<a k=\"&lt;&#9;&quot;\"/>", "a{k=\"<\\x09\"\"}[\"\"]"},
      {"highest BMP reference", "<a>&#xFFFD;</a>", "a[\"\xEF\xBF\xBD\"]"},
      {"reference outside the BMP", "<a>&#x1F600;</a>", "a[\"\xF0\x9F\x98\x80\"]"},
      {"U+FFFE reference", "<a>&#xFFFE;</a>", "FAIL"},
      {"U+FFFF reference", "<a>&#65535;</a>", "FAIL"},
      {"surrogate reference", "<a>&#xD800;</a>", "FAIL"},
      {"reference beyond Unicode", "<a>&#x110000;</a>", "FAIL"},
      {"huge reference", "<a>&#99999999999999999999;</a>", "FAIL"},
      {"no digits", "<a>&#;</a>", "FAIL"},
      {"upper-case X", "<a>&#X41;</a>", "FAIL"},
      {"missing semicolon", "<a>&#65 </a>", "FAIL"},
      {"unknown entity", "<a>&nbsp;</a>", "FAIL"},
      {"entity without semicolon", "<a>&amp </a>", "FAIL"},
      {"two-byte", "<a>\xC3\xA9</a>", "a[\"\xC3\xA9\"]"},
      {"EF BF 80", "<a>\xEF\xBF\x80</a>", "a[\"\xEF\xBF\x80\"]"},
      {"EF BF BD", "<a>\xEF\xBF\xBD</a>", "a[\"\xEF\xBF\xBD\"]"},
      {"EF BF BE", "<a>\xEF\xBF\xBE</a>", "FAIL"},
      {"EF BF BF", "<a>\xEF\xBF\xBF</a>", "FAIL"},
      {"four-byte", "<a>x\xF0\x9F\x98\x80y</a>", "a[\"x\xF0\x9F\x98\x80y\"]"},
      {"highest four-byte", "<a k=\"\xF4\x8F\xBF\xBF\"/>", "a{k=\"\xF4\x8F\xBF\xBF\"}[\"\"]"},
      {"four-byte beyond Unicode", "<a>\xF4\x90\x80\x80</a>", "FAIL"},
      {"over-long four-byte", "<a>\xF0\x8F\xBF\xBF</a>", "FAIL"},
      {"F5 lead", "<a>\xF5\x80\x80\x80</a>", "FAIL"},
      {"encoded surrogate", "<a>\xED\xA0\x80</a>", "FAIL"},
      {"over-long three-byte", "<a>\xE0\x9F\xBF</a>", "FAIL"},
      {"over-long two-byte", "<a>\xC1\xBF</a>", "FAIL"},
      {"lone continuation", "<a>\x80</a>", "FAIL"},
      {"cut sequence", "<a>\xE2\x82</a>", "FAIL"},
      {"DEL is text", "<a>\x7F</a>", "a[\"\x7F\"]"},
      {"control byte", "<a>\x01</a>", "FAIL"},
      {"NUL byte", std::string("<a>x\0</a>", 9), "FAIL"},
      {"control byte in attribute", "<a k=\"\x1F\"/>", "FAIL"},
      {"'<' in attribute", "<a k=\"<\"/>", "FAIL"},
      {"'>' in content", "<a>1 > 0</a>", R"(a["1 > 0"])"},
  });
}

TEST(XmlTextReader, CdataCommentsAndDeclarations) {
  run({
      {"CDATA keeps blanks and line feeds", "<a>x <![CDATA[ y\r\n\tz ]]> w</a>", "a[\"x  y\\x0A\\x09z  w\"]"},
      {"CDATA brackets", "<a><![CDATA[a]b]]]]]></a>", R"(a["a]b]]]"])"},
      {"CDATA markup", "<a><![CDATA[<b>&amp;</b>]]></a>", R"(a["<b>&amp;</b>"])"},
      {"empty CDATA", "<a><![CDATA[]]></a>", R"(a[""])"},
      {"unterminated CDATA", "<a><![CDATA[x", "FAIL"},
      {"control byte in CDATA", "<a><![CDATA[\x02]]></a>", "FAIL"},
      {"declaration and comments", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<!-- c -- d -->"
                                   "<a>x<?pi stuff?>y</a><!-- end -->", R"(a["xy"])"},
      {"comment with line breaks", "<a><!--\r\n\t--></a>", R"(a[""])"},
      {"unterminated comment", "<a/><!-- x", "FAIL"},
      {"control byte in comment", "<a><!--\x03--></a>", "FAIL"},
      {"unterminated instruction", "<a/><?x", "FAIL"},
      {"byte-order mark", "\xEF\xBB\xBF<a/>", R"(a[""])"},
      {"byte-order mark later", "<a>\xEF\xBB\xBF</a>", "a[\"\xEF\xBB\xBF\"]"},
      {"document type declaration", "<!DOCTYPE a><a/>", "FAIL"},
      {"other markup declaration", "<a><!ELEMENT a ANY></a>", "FAIL"},
  });
}

TEST(XmlTextReader, Structure) {
  run({
      {"namespaced names", "<kml:menu x:y-z.1=\"v\"><_b/></kml:menu>", R"(kml:menu{x:y-z.1="v"}["",_b[""],""])"},
      {"end tag with blank", "<a></a  >", R"(a[""])"},
      {"mixed content", "<r>1<a>2<b>3</b>4</a>5<c/>6</r>",
       R"(r["1",a["2",b["3"],"4"],"5",c[""],"6"])"},
      {"empty input", "", "FAIL"},
      {"blank input", " \r\n", "FAIL"},
      {"text first", "x<a/>", "FAIL"},
      {"comment only", "<!-- c -->", "FAIL"},
      {"mismatched end tag", "<a><b></a></b>", "FAIL"},
      {"end tag case", "<a></A>", "FAIL"},
      {"unterminated root", "<a><b/>", "FAIL"},
      {"text after root", "<a/>x", "FAIL"},
      {"second root", "<a/><b/>", "FAIL"},
      {"duplicate attribute", "<a k=\"1\" k=\"2\"/>", "FAIL"},
      {"attribute without value", "<a k/>", "FAIL"},
      {"attribute without quote", "<a k=v/>", "FAIL"},
      {"attribute in end tag", "<a></a k=\"1\">", "FAIL"},
      {"name starting with a digit", "<1a/>", "FAIL"},
      {"non-ASCII name", "<\xC3\xA9/>", "FAIL"},
      {"blank after '<'", "< a/>", "FAIL"},
  });
}

TEST(XmlTextReader, TextAcrossBufferRefills) {
  // Multi-byte characters and references at every offset of the 1,024-byte reads.
  std::string body;
  std::u16string expected;
  for (int i = 0; i < 700; ++i) {
    body += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80&amp;";
    expected += u"\u00E9\u20AC\U0001F600&";
  }
  std::string doc = "<a k=\"" + body + "\">" + body + "<![CDATA[" + body + "]]></a>";
  for (std::uint32_t slice : {0xFFFFFFFFu, 1u, 5u, 1023u}) {
    bytes_file in(doc, slice);
    xml_document d;
    ASSERT_TRUE(d.load(in)) << slice;
    EXPECT_EQ(d.root()->attributes()["k"], expected);
    // CDATA keeps "&amp;" as it stands.
    std::u16string cdata;
    for (int i = 0; i < 700; ++i) cdata += u"\u00E9\u20AC\U0001F600&amp;";
    EXPECT_EQ(d.root()->pieces()[0], expected + cdata);
  }
}

TEST(XmlTextReader, ReportsWhereReadingStopped) {
  struct Where {
    const char* name;
    std::string input;
    int line, column;
  } cases[] = {
      // Columns count bytes from 1; a tab moves to the next multiple of 8.
      {"control byte after tab", "<a>\n\t<b>\x01</b></a>", 2, 12},
      {"bad UTF-8 points at the offending byte", "<a>\n ab\xC3(</a>", 2, 5},
      // A token's position is where its call began, before skipped blanks.
      {"mismatched end tag", "<a>\r\n</b>", 1, 4},
      {"empty input", "", 1, 1},
  };
  for (const auto& c : cases) {
    xml_document doc;
    int line = 0, column = 0;
    EXPECT_FALSE(doc.load_memory(c.input.data(), c.input.size(), line, column)) << c.name;
    EXPECT_EQ(line, c.line) << c.name;
    EXPECT_EQ(column, c.column) << c.name;
  }
}

TEST(XmlTextReader, NestingIsBounded) {
  auto nested = [](std::size_t depth) {
    std::string s;
    for (std::size_t i = 0; i < depth; ++i) s += "<e>";
    for (std::size_t i = 0; i < depth; ++i) s += "</e>";
    return s;
  };
  xml_document doc;
  const std::string ok = nested(xml_max_depth);
  EXPECT_TRUE(doc.load_memory(ok.data(), ok.size()));
  for (std::size_t depth : {xml_max_depth + 1, std::size_t{10000}, std::size_t{200000}}) {
    const std::string deep = nested(depth);
    EXPECT_FALSE(doc.load_memory(deep.data(), deep.size())) << depth;
    EXPECT_EQ(doc.root(), nullptr);
  }
}

TEST(XmlTextReader, LoadReplacesTheRoot) {
  xml_document doc;
  ASSERT_TRUE(doc.load_memory("<a/>", 4));
  ASSERT_TRUE(doc.load_memory("<b>x</b>", 8));
  EXPECT_EQ(dump(doc.root()), R"(b["x"])");
  EXPECT_FALSE(doc.load_memory("<c>", 3));
  EXPECT_EQ(doc.root(), nullptr);
}

TEST(XmlTextReader, FailsOnABadFile) {
  bytes_file in("<a>x</a>");
  in.raise(KV_SITE, fs_error::read);
  xml_document doc;
  EXPECT_FALSE(doc.load(in));
}

TEST(XmlLexer, FirstReadStopsBehindTheSignature) {
  // Even when the file hands out one byte per read.
  bytes_file in(std::string("BXML\x01\x01", 6), 1);
  xml_lexer lex(in);
  EXPECT_EQ(lex.token(), xml_token_bxml);
  EXPECT_EQ(in.position(), 4u);
}

TEST(XmlLexer, TokensOfATag) {
  bytes_file in("<a k=\"v w\">t</a>");
  xml_lexer lex(in);
  std::vector<int> tokens{lex.token()};
  std::vector<std::string> payload{lex.name()};
  while (tokens.back() > xml_token_error) {
    tokens.push_back(lex.next());
    payload.push_back(lex.token() == xml_token_text ? xml_test::utf8(lex.text()) : lex.name());
  }
  EXPECT_EQ(tokens, (std::vector<int>{2, 6, 7, 8, 8, 3, 8, 5, 3, 0}));
  EXPECT_EQ(payload, (std::vector<std::string>{"a", "k", "", "v", " w", "", "t", "a", "", ""}));
}
