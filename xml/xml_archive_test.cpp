// Documents read from archive members, the way the product configuration
// and the shell windows' markup reach the readers.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "files/test_memory_input.h"
#include "files/zip_file.h"
#include "files/zip_writer.h"
#include "xml/xml_node.h"
#include "xml/xml_test_support.h"

TEST(XmlFromArchive, TextAndBinaryMembersGiveTheSameTree) {
  // Large enough that the deflated member is inflated over several reads.
  xml_document doc;
  doc.set_root(new xml_node("resource"));
  for (int i = 0; i < 2000; ++i) {
    auto* s = new xml_node("string");
    s->attributes()["name"] = u"key" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
    s->pieces()[0] = u"value \u00E9\u20AC " + std::u16string(static_cast<std::size_t>(i % 7), u'x');
    doc.root()->append_child(s);
  }
  std::string text, binary;
  ASSERT_TRUE(doc.write_memory(text, xml_document::write_bom | xml_document::write_indent));
  ASSERT_TRUE(doc.write_memory(binary, xml_document::write_binary));

  std::ostringstream zip;
  zip_writer w(zip);
  ASSERT_TRUE(w.add("config.xml", text));
  ASSERT_TRUE(w.add("config.bxml", binary));
  ASSERT_TRUE(w.add("stored.bxml", binary, zip_writer::method::stored));
  ASSERT_TRUE(w.finish());
  fs_test::memory_input archive(zip.str());
  zip_file z(&archive);
  ASSERT_TRUE(z.Good());

  std::string trees[3];
  const char16_t* names[3] = {u"config.xml", u"config.bxml", u"stored.bxml"};
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<ri_file> member(z.open_file(names[i], false));
    ASSERT_NE(member, nullptr);
    xml_document loaded;
    int line = 0, column = 0;
    ASSERT_TRUE(loaded.load(*member, line, column)) << i << " stopped at " << line << ":" << column;
    trees[i] = xml_test::dump(loaded.root());
  }
  // Indentation comes back as blanks around the children; the binary form is exact.
  EXPECT_EQ(trees[1], xml_test::dump(doc.root()));
  EXPECT_EQ(trees[2], trees[1]);
  xml_document reread;
  ASSERT_TRUE(reread.load_memory(text.data(), text.size()));
  EXPECT_EQ(trees[0], xml_test::dump(reread.root()));
}
