#include "platform/msi/registration.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// A literal with its inner NULs, as long as it is written.
template <std::size_t N>
std::u16string text(const char16_t (&s)[N]) {
  return std::u16string(s, N - 1);
}

using msi_engine::parse_registration;

std::string bytes(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

TEST(Registration, StoredBlocksOfAnyShapeAreRead) {
  struct Case {
    std::string data;
    std::vector<std::pair<std::u16string, std::u16string>> entries;
  } cases[] = {
      {"", {}},
      {bytes(text(u"A=1\0B=\0\0")), {{u"A", u"1"}, {u"B", u""}}},
      // No terminating NULs at all, and an odd last byte.
      {bytes(u"A=x=y") + "\x41", {{u"A", u"x=y"}}},
      // Texts without '=' or without a name are no entries; empty texts between are skipped.
      {bytes(text(u"plain\0=v\0\0\0File=C:\\a\0File=C:\\b")),
       {{u"File", u"C:\\a"}, {u"File", u"C:\\b"}}},
  };
  for (const Case& c : cases) {
    auto r = parse_registration(c.data.data(), c.data.size());
    EXPECT_EQ(r.entries, c.entries);
  }
  EXPECT_TRUE(parse_registration(nullptr, 10).entries.empty());
}

TEST(Registration, TheBlockReadsBackAndLeavesOutWhatCannotBeStored) {
  msi_engine::Registration r;
  r.add(u"Publisher", u"Acme; \"Corp\"");
  r.add(u"File", u"C:\\x");
  r.add(u"File", u"C:\\y");
  r.add(u"Bad=Name", u"v");
  r.add(u"", u"v");
  r.add(u"Nul", text(u"a\0b"));
  std::u16string block = msi_engine::registration_block(r);
  EXPECT_EQ(block, text(u"Publisher=Acme; \"Corp\"\0File=C:\\x\0File=C:\\y\0\0"));
  auto back = parse_registration(block.data(), block.size() * 2);
  ASSERT_EQ(back.entries.size(), 3u);
  EXPECT_EQ(back.attr(u"Publisher"), u"Acme; \"Corp\"");
  EXPECT_EQ(back.all(u"File"), (std::vector<std::u16string>{u"C:\\x", u"C:\\y"}));
  EXPECT_FALSE(back.attr(u"Nul"));
}

TEST(Registration, FeatureAndComponentEntries) {
  auto f = msi_engine::parse_feature(u"3,Complete,Extra");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->state, 3);
  EXPECT_EQ(f->name, u"Complete,Extra");
  EXPECT_EQ(msi_engine::feature_entry(*f), u"3,Complete,Extra");
  auto c = msi_engine::parse_component(u"-2,{A},C:\\p,q");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->state, -2);
  EXPECT_EQ(c->id, u"{A}");
  EXPECT_EQ(c->keyPath, u"C:\\p,q");
  EXPECT_EQ(msi_engine::component_entry(*c), u"-2,{A},C:\\p,q");
  auto empty = msi_engine::parse_component(u"2,{A},");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->keyPath, u"");
  for (const char16_t* bad : {u"", u"3", u"3,", u"8,F", u"-,F", u"33,F", u"x,F", u"3;F"}) {
    SCOPED_TRACE(std::string(bad, bad + std::char_traits<char16_t>::length(bad)));
    EXPECT_FALSE(msi_engine::parse_feature(bad));
  }
  for (const char16_t* bad : {u"3,{A}", u"3,,C:\\p", u"9,{A},p", u""})
    EXPECT_FALSE(msi_engine::parse_component(bad));
}

}  // namespace
