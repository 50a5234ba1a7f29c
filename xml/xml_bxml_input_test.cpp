// Binary XML taken from files that hand out their bytes in pieces, across the
// reader's input blocks, with truncation and read errors at any point.
#include <gtest/gtest.h>

#include "xml/xml_node.h"
#include "xml/xml_test_support.h"

namespace {

using xml_test::bytes_file;
using xml_test::dump;

// Several 64 KiB blocks: many small elements, a text longer than a block,
// names declared late, non-ASCII text split wherever a block ends.
xml_document sample() {
  xml_document doc;
  doc.set_root(new xml_node("resource"));
  for (int i = 0; i < 3000; ++i) {
    auto* s = new xml_node(i % 2 ? "string" : "kml:item");
    s->attributes()["name"] = u"key_" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
    s->pieces()[0] = u"caf\u00E9 \u20AC" + std::u16string(static_cast<std::size_t>(i % 40), u'x');
    doc.root()->append_child(s);
  }
  auto* big = new xml_node("big");
  big->pieces()[0] = std::u16string(150000, u'\u00E9');  // 300,000 bytes of UTF-8
  doc.root()->append_child(big);
  doc.root()->append_child(new xml_node("late_name"));
  return doc;
}

std::string binary(const xml_document& doc) {
  std::string out;
  EXPECT_TRUE(doc.write_memory(out, xml_document::write_binary));
  return out;
}

// Fails with a read error once `limit` bytes have been handed out.
class failing_file final : public i_file {
 public:
  failing_file(std::string data, std::size_t limit) : data_(std::move(data)), limit_(limit) {}
  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    if (pos_ >= limit_) {
      raise(KV_SITE, fs_error::read);
      return;
    }
    const std::size_t n = std::min<std::size_t>({length, limit_ - pos_, data_.size() - pos_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    count = static_cast<std::uint32_t>(n);
  }

 private:
  std::string data_;
  std::size_t limit_;
  std::size_t pos_ = 0;
};

TEST(BxmlInput, FilesThatHandOutFewerBytesThanAskedForGiveTheSameTree) {
  const xml_document doc = sample();
  const std::string data = binary(doc);
  ASSERT_GT(data.size(), 4u * 65536);
  const std::string expected = dump(doc.root());
  for (std::uint32_t slice : {1u, 5u, 1023u, 65535u, 65537u, 0xFFFFFFFFu}) {
    bytes_file in(data, slice);
    xml_document back;
    ASSERT_TRUE(back.load(in)) << slice;
    EXPECT_TRUE(dump(back.root()) == expected) << slice;
  }
}

TEST(BxmlInput, TruncationAnywhereFailsAsEndOfFile) {
  const std::string data = binary(sample());
  for (std::size_t cut : {std::size_t{7}, std::size_t{65535}, std::size_t{65536}, std::size_t{65537},
                          std::size_t{65536 + 6}, std::size_t{200001}, data.size() - 1}) {
    bytes_file in(data.substr(0, cut), 4096);
    xml_document back;
    EXPECT_FALSE(back.load(in)) << cut;
    EXPECT_EQ(in.error_code(), fs_error::end_of_file) << cut;
    EXPECT_EQ(back.root(), nullptr) << cut;
  }
}

TEST(BxmlInput, AReadErrorIsKeptAsItIs) {
  const std::string data = binary(sample());
  for (std::size_t limit : {std::size_t{6}, std::size_t{70000}, data.size() - 1}) {
    failing_file in(data, limit);
    xml_document back;
    EXPECT_FALSE(back.load(in)) << limit;
    EXPECT_EQ(in.error_code(), fs_error::read) << limit;
  }
}

TEST(BxmlInput, BytesAfterTheRootAreNotInterpreted) {
  const xml_document doc = sample();
  const std::string data = binary(doc) + std::string(100000, '\xFF');
  bytes_file in(data, 777);
  xml_document back;
  ASSERT_TRUE(back.load(in));
  EXPECT_TRUE(dump(back.root()) == dump(doc.root()));
}

}  // namespace
