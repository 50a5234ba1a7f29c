#include <gtest/gtest.h>

#include <random>

#include "xml/xml_node.h"
#include "xml/xml_test_support.h"

using xml_test::dump;
using xml_test::sink_file;

namespace {

constexpr unsigned bare = xml_document::write_no_declaration;

// r with the given pieces and children named c0, c1, ... between them.
xml_document with_pieces(std::vector<std::u16string> pieces) {
  xml_document doc;
  auto* r = new xml_node("r");
  for (std::size_t i = 1; i < pieces.size(); ++i) r->append_child(new xml_node("c" + std::to_string(i - 1)));
  r->pieces() = std::move(pieces);
  doc.set_root(r);
  return doc;
}

std::string written(const xml_document& doc, unsigned flags) {
  std::string out;
  EXPECT_TRUE(doc.write_memory(out, flags));
  return out;
}

std::string read_back(const std::string& data) {
  xml_document doc;
  int line = 0, column = 0;
  if (!doc.load_memory(data.data(), data.size(), line, column))
    return "FAIL at " + std::to_string(line) + ":" + std::to_string(column);
  return dump(doc.root());
}

}  // namespace

TEST(XmlWriter, HeaderFlags) {
  xml_document doc;
  doc.set_root(new xml_node("r"));
  struct Case {
    unsigned flags;
    std::string out;
  } cases[] = {
      {0, "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<r />\r\n"},
      {xml_document::write_bom, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<r />\r\n"},
      {bare, "<r />\r\n"},
      {bare | xml_document::write_bom | xml_document::write_indent, "\xEF\xBB\xBF<r />\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(written(doc, c.flags), c.out) << c.flags;
  EXPECT_EQ(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n").size(), 41u);
}

TEST(XmlWriter, NothingWithoutARoot) {
  xml_document doc;
  sink_file out;
  doc.write(out, 0);
  doc.write(out, xml_document::write_binary);
  EXPECT_TRUE(out.data.empty());
  EXPECT_TRUE(out.Good());
}

TEST(XmlWriter, Escaping) {
  struct Case {
    const char* name;
    std::u16string text;
    std::string content;
  } cases[] = {
      {"two blanks", u"a  b", "a &#32;b"},
      {"three blanks", u"a   b", "a &#32; b"},
      {"leading and trailing blank", u" a ", "&#32;a&#32;"},
      {"lone blank", u" ", "&#32;"},
      {"line feed becomes CDATA", u"x\n y", "<![CDATA[x\r\n y]]>"},
      {"CDATA with tab", u"x\n\ty", "<![CDATA[x\r\n\ty]]>"},
      {"no CDATA with ]]>", u"x\n]]>", "x&#10;]]>"},
      {"no CDATA with carriage return", u"x\r\ny", "x&#13;&#10;y"},
      {"tab", u"a\tb", "a&#9;b"},
      {"markup", u"<&>\"'", "&lt;&amp;>\"'"},
      {"UTF-8", u"\u00E9\u20AC\U0001F600", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    xml_document doc = with_pieces({c.text});
    EXPECT_EQ(written(doc, bare), "<r>" + c.content + "</r>\r\n") << c.name;
  }
  xml_document doc;
  doc.set_root(new xml_node("r"));
  doc.root()->attributes()["k"] = u" a\nb  <&>\"' ";
  EXPECT_EQ(written(doc, bare), "<r k=\"&#32;a&#10;b &#32;&lt;&amp;>&quot;'&#32;\" />\r\n");
}

TEST(XmlWriter, LayoutAroundChildren) {
  struct Case {
    const char* name;
    std::vector<std::u16string> pieces;
    unsigned flags;
    std::string out;
  } cases[] = {
      {"blank between children", {u"", u" ", u""}, bare, "<r><c0 />\r\n<c1 /></r>\r\n"},
      {"text around a child", {u"a ", u" b"}, bare, "<r>a\r\n<c0 />\r\nb</r>\r\n"},
      {"lone blank before the first child", {u" ", u""}, bare, "<r>&#32;<c0 /></r>\r\n"},
      {"indented", {u"t", u"u"}, bare | xml_document::write_indent,
       "<r>\r\n\tt\r\n\t<c0 />\r\n\tu\r\n</r>\r\n"},
      {"indented children only", {u"", u"", u""}, bare | xml_document::write_indent,
       "<r>\r\n\t<c0 />\r\n\t<c1 />\r\n</r>\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(written(with_pieces(c.pieces), c.flags), c.out) << c.name;

  // Nested indentation, and what the reader makes of it: the breaks and tabs
  // come back as single blanks at the ends of the neighbouring pieces.
  xml_document doc = with_pieces({u"t", u"u"});
  doc.root()->children()[0]->pieces()[0] = u"x";
  const std::string text = written(doc, bare | xml_document::write_indent);
  EXPECT_EQ(text, "<r>\r\n\tt\r\n\t<c0>\r\n\t\tx\r\n\t</c0>\r\n\tu\r\n</r>\r\n");
  EXPECT_EQ(read_back(text), R"(r["t ",c0["x"]," u"])");
}

TEST(XmlWriter, BinaryLayout) {
  xml_document doc = with_pieces({u"a", u"\u00E9"});
  doc.root()->attributes()["k"] = u"v";
  doc.root()->children()[0]->attributes()["r"] = u"";  // a name used before keeps its id
  std::string out;
  ASSERT_TRUE(doc.write_memory(out, xml_document::write_binary | xml_document::write_indent));
  const std::string expected = xml_test::bytes({
      'B', 'X', 'M', 'L', 1, 1,                 // signature, version 1, one more byte
      0, 1, 'r',                                // root: name id 0 declared as "r"
      1,                                        // one attribute
      1, 1, 'k', 1, 'v',                        // id 1 declared as "k", value "v"
      2,                                        // two text pieces
      1, 'a',                                   // "a"
      2, 2, 'c', '0', 1, 0, 0, 1, 0,            // child c0 with r="" (id 0 again), one empty piece
      2, 0xC3, 0xA9,                            // U+00E9
  });
  EXPECT_EQ(out, expected);
}

TEST(XmlWriter, RoundTripsGiveIdenticalTrees) {
  // Random trees over the characters the writer has to take care of.
  const std::u16string alphabet[] = {u" ", u" ", u"  ", u"a", u"b", u"\n", u"\t", u"\r", u"<", u"&", u"]",
                                     u">", u"]]>", u"\"", u"'", u"\u00E9", u"\U0001F600", u"\u0001", u"\uFFFD",
                                     std::u16string(1, u'\0'), std::u16string(u"x\0y", 3)};
  std::mt19937 rng(20261210);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto random_text = [&] {
    std::u16string s;
    for (int n = pick(6); n > 0; --n) s += alphabet[pick(std::size(alphabet))];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    xml_document doc;
    doc.set_root(new xml_node("r"));
    std::vector<xml_node*> nodes{doc.root()};
    for (int n = pick(12); n > 0; --n) {
      xml_node* parent = nodes[static_cast<std::size_t>(pick(static_cast<int>(nodes.size())))];
      auto* c = new xml_node(pick(2) ? "a" : "kml:b");
      parent->append_child(c);
      nodes.push_back(c);
    }
    for (xml_node* n : nodes) {
      for (auto& p : n->pieces()) p = random_text();
      for (int k = pick(3); k > 0; --k) n->attributes()["k" + std::to_string(pick(4))] = random_text();
    }
    bool nul = false;  // text has no form for U+0000: only binary XML stores it
    auto holdsNul = [](std::u16string_view t) { return t.find(u'\0') != std::u16string_view::npos; };
    for (const xml_node* n : nodes) {
      for (const auto& p : n->pieces()) nul = nul || holdsNul(p);
      for (const auto& a : n->attributes()) nul = nul || holdsNul(a.second);
    }
    const std::string expected = dump(doc.root());
    for (unsigned flags : {0u, unsigned{xml_document::write_bom}, unsigned{xml_document::write_binary}}) {
      std::string data;
      if (nul && !(flags & xml_document::write_binary)) {
        EXPECT_FALSE(doc.write_memory(data, flags));
        continue;
      }
      ASSERT_TRUE(doc.write_memory(data, flags));
      ASSERT_EQ(read_back(data), expected) << "flags " << flags << "\n" << data;
    }
  }
}

TEST(XmlWriter, RefusesWhatCannotBeReadBack) {
  xml_document wide;
  wide.set_root(new xml_node("r"));
  for (int i = 0; i < 255; ++i) wide.root()->attributes()["a" + std::to_string(i)] = u"v";
  std::string data;
  ASSERT_TRUE(wide.write_memory(data, xml_document::write_binary));
  EXPECT_EQ(read_back(data), dump(wide.root()));

  // A count byte cannot say 256: refused before anything is written.
  wide.root()->attributes()["a255"] = u"v";
  sink_file out;
  EXPECT_FALSE(wide.write_bxml(out));
  EXPECT_EQ(out.error_code(), fs_error::not_supported);
  EXPECT_TRUE(out.data.empty());
  sink_file out2;
  wide.write(out2, xml_document::write_binary);
  EXPECT_EQ(out2.error_code(), fs_error::not_supported);
  EXPECT_TRUE(out2.data.empty());
  // Text has no such limit.
  ASSERT_TRUE(wide.write_memory(data, 0));
  EXPECT_EQ(read_back(data), dump(wide.root()));

  // Nesting deeper than the readers accept.
  for (std::size_t depth : {xml_max_depth, xml_max_depth + 1}) {
    xml_document deep;
    deep.set_root(new xml_node("d"));
    xml_node* n = deep.root();
    for (std::size_t i = 1; i < depth; ++i) {
      n->append_child(new xml_node("d"));
      n = n->children()[0];
    }
    for (unsigned flags : {0u, unsigned{xml_document::write_binary}}) {
      sink_file o;
      deep.write(o, flags);
      if (depth <= xml_max_depth) {
        EXPECT_TRUE(o.Good());
        EXPECT_EQ(read_back(o.data), dump(deep.root()));
      } else {
        EXPECT_EQ(o.error_code(), fs_error::not_supported) << flags;
        EXPECT_TRUE(o.data.empty());
      }
    }
  }
}

TEST(XmlWriter, TextsWithNulComeThroughWhole) {
  // Binary output keeps a NUL as a 0 byte inside the UTF-8 of the text.
  xml_document doc = with_pieces({std::u16string(u"a\0b", 3)});
  doc.root()->attributes()["k"] = std::u16string(u"\0v\0", 3);
  std::string out;
  ASSERT_TRUE(doc.write_memory(out, xml_document::write_binary));
  EXPECT_EQ(out, xml_test::bytes({'B', 'X', 'M', 'L', 1, 1, 0, 1, 'r', 1, 1, 1, 'k', 3, 0, 'v', 0, 1, 3, 'a', 0, 'b'}));
  EXPECT_EQ(read_back(out), dump(doc.root()));
  // A version-2 narrow text holding a 0 byte, written again in either form.
  const std::string v2 = xml_test::bytes({'B', 'X', 'M', 'L', 2, 1, 1, 1, 'r', 0, 7, 'x', 0, 'y', 0});
  xml_document narrow;
  ASSERT_TRUE(narrow.load_memory(v2.data(), v2.size()));
  EXPECT_EQ(std::u16string_view(narrow.root()->pieces()[0]), std::u16string_view(u"x\0y", 3));
  ASSERT_TRUE(narrow.write_memory(out, xml_document::write_binary));
  EXPECT_EQ(read_back(out), dump(narrow.root()));
  // Text has no form for U+0000 ("&#0;" is refused by the reader): nothing is written.
  sink_file text;
  narrow.write(text, 0);
  EXPECT_EQ(text.error_code(), fs_error::not_supported);
  EXPECT_TRUE(text.data.empty());
}

TEST(XmlWriter, TextRefusesUnitsTheReaderRefuses) {
  // The text reader refuses an encoded surrogate, U+FFFE, U+FFFF and U+0000,
  // so a text holding one could not be read back; binary XML keeps it.
  const std::u16string bad[] = {u"a\xD800", u"\xDC00" u"b", u"\xDC00\xD800", u"\xD800x\xDC00",
                                u"a\xFFFF",  u"\xFFFE",      std::u16string(u"a\0", 2)};
  for (const std::u16string& text : bad) {
    for (bool as_attribute : {false, true}) {
      SCOPED_TRACE(as_attribute ? "attribute" : "text");
      xml_document doc;
      doc.set_root(new xml_node("r"));
      if (as_attribute)
        doc.root()->attributes()["a"] = text;
      else
        doc.root()->pieces() = std::vector<std::u16string>{text};
      sink_file out;
      doc.write(out, 0);
      EXPECT_EQ(out.error_code(), fs_error::not_supported);
      EXPECT_TRUE(out.data.empty());
      sink_file binary;
      doc.write(binary, xml_document::write_binary);
      EXPECT_TRUE(binary.Good());
    }
  }
  xml_document good;
  good.set_root(new xml_node("r"));
  good.root()->pieces() = std::vector<std::u16string>{u"\xD83D\xDE00"};
  std::string out;
  ASSERT_TRUE(good.write_memory(out, xml_document::write_no_declaration));
  EXPECT_NE(out.find("\xF0\x9F\x98\x80"), std::string::npos);
}

TEST(XmlWriter, TextRefusesNamesThatAreNoNames) {
  // Names as binary XML may carry them.
  const char* bad[] = {"", "a=\"x\" b", "a b", "1a", "-a", ".a", "a>", "a/", "\xC3\xA9", "a\n"};
  for (const char* name : bad) {
    for (bool as_attribute : {false, true}) {
      SCOPED_TRACE(std::string(name) + (as_attribute ? " (attribute)" : " (element)"));
      xml_document doc;
      doc.set_root(new xml_node("r"));
      auto* c = new xml_node(as_attribute ? "c" : name);
      if (as_attribute) c->attributes()[name] = u"v";
      doc.root()->append_child(c);
      sink_file out;
      doc.write(out, 0);
      EXPECT_EQ(out.error_code(), fs_error::not_supported);
      EXPECT_TRUE(out.data.empty());
      sink_file binary;
      doc.write(binary, xml_document::write_binary);
      EXPECT_TRUE(binary.Good());
    }
  }
  xml_document good;
  good.set_root(new xml_node(":_aZ.-09"));
  good.root()->attributes()["kml:x-y.z_0"] = u"v";
  std::string out;
  ASSERT_TRUE(good.write_memory(out, xml_document::write_no_declaration));
  EXPECT_EQ(out, "<:_aZ.-09 kml:x-y.z_0=\"v\" />\r\n");
}

TEST(XmlWriter, FullDiskStopsWriting) {
  xml_document doc = with_pieces({u"some text", u"more text", u"and the end"});
  for (unsigned flags : {0u, unsigned{xml_document::write_binary}}) {
    for (std::size_t capacity : {0u, 5u, 12u, 30u}) {
      sink_file out(capacity);
      doc.write(out, flags);
      EXPECT_EQ(out.error_code(), fs_error::disk_full) << flags << " " << capacity;
      EXPECT_LE(out.data.size(), capacity);
      EXPECT_EQ(out.flushes, 1);
    }
  }
  sink_file small(8);
  EXPECT_FALSE(doc.write_bxml(small));
}
