#include "widgets/small_pool.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::u16string str(const widgets::PoolText& t) { return std::u16string(t.text(), static_cast<std::size_t>(t.length())); }

// Texts of every length the pool's classes hold and beyond, replaced by
// longer, shorter and equal ones, by a part of themselves, copied and moved.
TEST(PoolText, KeepsWhatItWasGiven) {
  std::vector<std::u16string> texts;
  for (std::size_t n : {0, 1, 7, 8, 9, 11, 12, 13, 16, 127, 128, 129, 300}) {
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char16_t>(u'a' + (i * 7 + n) % 26);
    texts.push_back(s);
  }
  widgets::PoolText t;
  EXPECT_TRUE(t.empty());
  EXPECT_EQ(str(t), u"");
  for (const auto& a : texts)
    for (const auto& b : texts) {
      t.assign(a.data(), a.size());
      ASSERT_EQ(str(t), a);
      EXPECT_TRUE(t.equals(a.data(), a.size()));
      t.assign(b.data(), b.size());
      ASSERT_EQ(str(t), b);
      EXPECT_EQ(t.equals(a.data(), a.size()), a == b);
    }
  t.assign(texts.back().data(), texts.back().size());
  t.assign(t.text() + 10, 20);  // a part of itself
  EXPECT_EQ(str(t), texts.back().substr(10, 20));
  // Parts of themselves that are short enough to be kept in the object.
  const std::u16string longer = str(t);
  t.assign(t.text() + 3, 12);
  EXPECT_EQ(str(t), longer.substr(3, 12));
  t.assign(t.text() + 2, 9);
  EXPECT_EQ(str(t), longer.substr(5, 9));
  t.assign(t.text(), 9);
  EXPECT_EQ(str(t), longer.substr(5, 9));
  widgets::PoolText copy(t);
  widgets::PoolText moved(std::move(copy));
  EXPECT_EQ(str(moved), str(t));
  EXPECT_TRUE(copy.empty());
  copy = moved;
  moved = std::move(t);
  EXPECT_EQ(str(copy), str(moved));
  t.clear();
  EXPECT_TRUE(t.empty());
  for (std::size_t n : {std::size_t(5), std::size_t(12), std::size_t(13)}) {
    SCOPED_TRACE(n);
    const std::u16string s = texts.back().substr(0, n);
    widgets::PoolText a(s.data(), s.size());
    widgets::PoolText b(std::move(a));
    EXPECT_EQ(str(b), s);
    EXPECT_TRUE(a.empty());
    widgets::PoolText c(u"other text that is long", 23);
    c = std::move(b);
    EXPECT_EQ(str(c), s);
    std::vector<widgets::PoolText> grown;  // moved as the vector grows
    for (int i = 0; i < 20; ++i) grown.emplace_back(s.data(), s.size());
    for (const auto& g : grown) EXPECT_EQ(str(g), s);
  }
}

}  // namespace
