#include "xml/xml_node.h"

#include <gtest/gtest.h>

#include <memory>

#include "xml/xml_test_support.h"

using FX::FXWString;
using xml_test::dump;

namespace {

xml_node* leaf(const char* name, std::u16string text = {}) {
  auto* n = new xml_node(name);
  n->pieces()[0] = std::move(text);
  return n;
}

}  // namespace

TEST(XmlNode, ChildrenAndTextPieces) {
  xml_node n("a");
  ASSERT_EQ(n.pieces().size(), 1u);
  EXPECT_TRUE(n.pieces()[0].empty());
  EXPECT_EQ(n.find_child("b"), nullptr);
  n.pieces()[0] = u"t0";
  for (const char* name : {"b", "c", "b"}) n.append_child(new xml_node(name));
  ASSERT_EQ(n.pieces().size(), 4u);
  EXPECT_EQ(n.find_child("b"), n.children()[0]);
  EXPECT_EQ(n.find_child("c")->parent(), &n);
  n.pieces()[2] = u"t2";
  EXPECT_EQ(n.text(), u"t0t2");
  // Position 0: the new child comes first and an empty piece goes in front.
  n.insert_child(0, new xml_node("z"));
  EXPECT_EQ(dump(&n), R"(a["",z[""],"t0",b[""],"",c[""],"t2",b[""],""])");
  // Position 2: after the first child.
  n.insert_child(2, new xml_node("y"));
  EXPECT_EQ(dump(&n), R"(a["",z[""],"t0",y[""],"",b[""],"",c[""],"t2",b[""],""])");
}

TEST(XmlNode, FindChildByAttribute) {
  xml_node n("menu");
  for (auto [name, id] : {std::pair{"item", u"a"}, {"sep", u"b"}, {"item", u"b"}, {"item", u"B"}}) {
    auto* c = new xml_node(name);
    c->attributes()["id"] = id;
    n.append_child(c);
  }
  n.append_child(new xml_node("item"));
  EXPECT_EQ(n.find_child_by_attribute("item", "id", FXWString(u"b")), n.children()[2]);
  EXPECT_EQ(n.find_child_by_attribute("item", "id", FXWString(u"B")), n.children()[3]);
  EXPECT_EQ(n.find_child_by_attribute("item", "id", FXWString(u"c")), nullptr);
  EXPECT_EQ(n.find_child_by_attribute("item", "name", FXWString(u"")), nullptr);
}

TEST(XmlNode, AttributeAccessors) {
  xml_node n("e");
  n.attributes()["count"] = u"42";
  n.attributes()["wide"] = u"A\u0142\u20AC";
  n.attributes()["junk"] = u"12abc";
  EXPECT_EQ(n.attribute_string("wide", "d"), "A\x42\xAC");
  EXPECT_EQ(n.attribute_string("none", "d"), "d");
  EXPECT_EQ(n.attribute_text("wide", FXWString(u"d")), u"A\u0142\u20AC");
  EXPECT_EQ(n.attribute_text("none", FXWString(u"d")), u"d");
  EXPECT_EQ(n.attribute_uint("count", 7), 42u);
  EXPECT_EQ(n.attribute_uint("junk", 7), 12u);
  EXPECT_EQ(n.attribute_uint("none", 7), 7u);

  auto it = n.find_attribute("wide");
  ASSERT_NE(it, n.attributes_end());
  EXPECT_EQ(it.name(), "wide");
  EXPECT_EQ(it->fx_text(), u"A\u0142\u20AC");
  EXPECT_EQ(&it->fx_text(), &it->fx_text());  // made once, kept by the view
  EXPECT_EQ(it->narrow_text(), "A\x42\xAC");
  EXPECT_EQ(n.find_attribute("none"), n.attributes_end());

  std::string names;
  for (auto a = n.attributes_begin(); a != n.attributes_end(); ++a) names += a.name() + "=" + a->narrow_text() + ";";
  EXPECT_EQ(names, "count=42;junk=12abc;wide=A\x42\xAC;");
}

TEST(XmlNode, AttributeNamesOrderByBytes) {
  xml_node n("e");
  for (const char* name : {"b", "B", "\xC3\xA9", "a"}) n.attributes()[name] = u"";
  std::string order;
  for (const auto& [k, v] : n.attributes()) order += k + "|";
  EXPECT_EQ(order, "B|a|b|\xC3\xA9|");
}

TEST(XmlNode, AttributeFlags) {
  static const xml_flag table[] = {{1, "left"}, {2, "right"}, {4, "top"}, {0, nullptr}};
  struct Case {
    const char16_t* value;
    std::uint32_t expected;
  } cases[] = {
      {u"left", 1},
      {u"left, top", 5},           // blanks are removed
      {u" r i g h t ,left", 3},    // even inside names
      {u"left,,top", 1},           // second token is ",top", then the end
      {u"left,", 1},
      {u"", 0},                    // present but empty
      {u"Left", 0},                // case-sensitive
      {u"up,top", 4},              // unknown names add nothing
      {u"left, ,top", 5},          // a token of blanks only is not the end
      {u",top", 0},                // the leading comma belongs to the first token
      {u"le\u0166t", 1},           // names are compared by low bytes: U+0166 reads as 'f'
  };
  for (const auto& c : cases) {
    xml_node n("e");
    n.attributes()["align"] = c.value;
    EXPECT_EQ(n.attribute_flags("align", table, 99), c.expected) << xml_test::utf8(c.value);
  }
  xml_node n("e");
  EXPECT_EQ(n.attribute_flags("align", table, 99), 99u);
}

TEST(XmlNode, CopiesAreDeepAndIndependent) {
  auto* src = new xml_document;
  auto* root = new xml_node("r");
  root->attributes()["k"] = u"v";
  root->append_child(leaf("a", u"x"));
  root->children()[0]->append_child(leaf("b", u"y"));
  root->pieces()[1] = u"tail";
  src->set_root(root);
  const std::string before = dump(src->root());

  xml_document copy(*src);
  xml_document assigned;
  assigned = *src;
  delete src;
  for (xml_document* d : {&copy, &assigned}) {
    ASSERT_NE(d->root(), nullptr);
    EXPECT_EQ(dump(d->root()), before);
    EXPECT_EQ(d->root()->parent(), nullptr);
    xml_node* a = d->root()->children()[0];
    EXPECT_EQ(a->parent(), d->root());
    EXPECT_EQ(a->children()[0]->parent(), a);
  }
  xml_document empty;
  xml_document empty_copy(empty);
  EXPECT_EQ(empty_copy.root(), nullptr);
}

TEST(XmlNode, DeepTreesCopyAndDeleteWithoutRecursion) {
  // Far deeper than any call stack would allow if copy and delete recursed.
  auto* root = new xml_node("d");
  xml_node* n = root;
  for (int i = 0; i < 100000; ++i) {
    auto* c = new xml_node("d");
    n->append_child(c);
    n = c;
  }
  auto* copy = new xml_node(*root);
  delete root;
  int depth = 0;
  for (const xml_node* p = copy; !p->children().empty(); p = p->children()[0]) ++depth;
  EXPECT_EQ(depth, 100000);
  delete copy;
}

TEST(XmlNode, ATreeAReaderBuiltTakesNodesMadeWithNewAndHandsItsRootOver) {
  // A loaded tree lives in its document's block; nodes made with new may
  // join it, and its root may leave it, each freed exactly once.
  const std::string text = "<r a=\"1\"><c>x</c>tail</r>";
  xml_document doc;
  ASSERT_TRUE(doc.load_memory(text.data(), text.size()));
  xml_node* root = doc.root();
  root->insert_child(1, leaf("n", u"new"));
  root->children()[1]->append_child(leaf("deep", u"d"));  // c, now after n
  root->new_child("made")->attributes()["k"] = u"v";
  root->attributes()["b"] = u"2";
  root->pieces()[0] = u"head";
  const std::string expected = R"(r{a="1",b="2"}["head",n["new"],"",c["x",deep["d"],""],"tail",made{k="v"}[""],""])";
  EXPECT_EQ(dump(root), expected);

  xml_document copy(doc);
  EXPECT_EQ(dump(copy.root()), expected);
  std::unique_ptr<xml_node> released(doc.release_root());
  EXPECT_EQ(doc.root(), nullptr);
  EXPECT_EQ(dump(released.get()), expected);
  EXPECT_EQ(released->children()[0]->parent(), released.get());

  // Loading again replaces the tree, adopted nodes and all.
  ASSERT_TRUE(doc.load_memory(text.data(), text.size()));
  doc.root()->append_child(leaf("gone"));
  ASSERT_TRUE(doc.load_memory(text.data(), text.size()));
  EXPECT_EQ(dump(doc.root()), R"(r{a="1"}["",c["x"],"tail"])");
  doc.set_root(new xml_node("plain"));
  EXPECT_EQ(dump(doc.root()), "plain[\"\"]");
}
