// Hit tests, link focus and hover, selection and the plain text of laid-out
// markup, against the fixed font.
#include <string>

#include "textlayout/view_test_fixture.h"

using namespace FX;
using kvtest::ViewApp;

namespace {

using HitTest = ViewApp;

TEST_F(HitTest, SegmentEdgesAreStrictAndYZeroIsInNoLine) {
  auto l = layoutOf(u"alpha beta", 400);
  ASSERT_GE(l->segments().size(), 2u);
  const auto& first = l->segments()[0];
  const auto& line = l->lines()[0];
  const int y = line.bottom - line.height / 2;
  EXPECT_EQ(l->segmentAt(first.x, y), -1);  // on the left edge
  EXPECT_EQ(l->segmentAt(first.x + 1, y), 0);
  EXPECT_EQ(l->segmentAt(first.x + 1, 0), -1);
  EXPECT_EQ(l->positionAt(first.x + textWidth("al") + 1, y), 2);
  // Below every line: the end of the last segment.
  EXPECT_EQ(l->positionAt(5, 1000), l->segments().back().end);
}

TEST_F(HitTest, PlainTextOfRowsCellsTabsAndBreaks) {
  struct {
    const char16_t* markup;
    const char* text;
  } cases[] = {
      {u"<table><tr><td>one</td><td>two</td></tr></table>", "one two"},
      {u"<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>", "a b \r\nc d"},
      {u"first<br/>second", "first\r\nsecond"},
      {u"name\tvalue", "name\tvalue"},
      {u"  padded  <br/><br/>", "padded"},
  };
  for (const auto& c : cases) {
    auto l = layoutOf(c.markup, 400);
    EXPECT_EQ(l->allText().toUtf8(), c.text) << FXWString(c.markup).toUtf8();
  }
}

TEST_F(HitTest, SelectionByWordBlockAndExtension) {
  auto l = layoutOf(u"Hello brave world", 400);
  const FXRectangle brave = l->rangeRect(6, 11);
  const int y = brave.y + brave.h / 2;
  l->selectWord(brave.x + 2, y);
  EXPECT_EQ(l->selectedText().toUtf8(), "brave");
  l->setCaret(1, y);
  EXPECT_FALSE(l->hasSelection());
  l->extendSelection(brave.x + brave.w + 1, y);
  EXPECT_EQ(l->selectedText().toUtf8().substr(0, 11), "Hello brave");
  l->selectAll();
  EXPECT_EQ(l->selectedText().toUtf8(), "Hello brave world");
}

TEST_F(HitTest, TabWalksLinksAndLeavesAfterTheLast) {
  auto none = layoutOf(u"no links", 400);
  EXPECT_EQ(none->focusNext(1), nullptr);
  EXPECT_FALSE(none->hasLinks());

  auto l = layoutOf(u"<a href=a>A</a> <a href=b>B</a>", 400);
  l->focusNext(1);
  EXPECT_EQ(l->focusedLink(), &l->links()[1]);
  l->focusNext(1);
  EXPECT_EQ(l->focusedLink(), &l->links()[2]);
  l->focusNext(1);
  EXPECT_EQ(l->focusedLink(), nullptr);
  // Shift+Tab with nothing focused takes the last link.
  l->focusNext(2);
  EXPECT_EQ(l->focusedLink(), &l->links()[2]);
  FXRectangle r;
  EXPECT_TRUE(l->focusRect(r));
  EXPECT_GT(r.w, 0);
}

TEST_F(HitTest, HoverFindsActiveLinksButNotDisabledOnes) {
  auto l = layoutOf(u"<a href=go>Go</a> plain <a href=no disabled=true>Off</a>", 400);
  const FXRectangle go = l->rangeRect(l->links()[1].start, l->links()[1].end);
  EXPECT_TRUE(l->hover(go.x + 2, go.y + go.h / 2));
  const auto* style = l->linkStyleAt(go.x + 2, go.y + go.h / 2);
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->link.toUtf8(), "go");
  const FXRectangle plain = l->rangeRect(6, 11);
  EXPECT_FALSE(l->hover(plain.x + 2, plain.y + plain.h / 2));
  EXPECT_EQ(l->linkStyleAt(plain.x + 2, plain.y + plain.h / 2), nullptr);
  EXPECT_FALSE(l->hover(-1, -1));
}

}  // namespace

namespace {

TEST_F(HitTest, ALinkOverTwoCellsLightsUpBothAndADisabledBlockNone) {
  auto l = layoutOf(u"<a format=flat href=x><table><tr><td>Left</td><td>Right</td></tr></table></a>", 400);
  FXKTextLayout::block* table = findBlock(l->root(), FXKTextLayout::kBlockTable);
  ASSERT_NE(table, nullptr);
  FXKTextLayout::block* row = &table->children.front();
  FXKTextLayout::block& left = row->children.front();
  FXKTextLayout::block& right = row->children.back();
  EXPECT_TRUE(l->hover(left.x + 2, left.y + left.h / 2));
  EXPECT_TRUE(left.flags & FXKTextLayout::kBlockHot);
  EXPECT_TRUE(right.flags & FXKTextLayout::kBlockHot);
  l->hover(-1, -1);
  EXPECT_FALSE(right.flags & FXKTextLayout::kBlockHot);

  auto off = layoutOf(u"<table disabled=true><tr><td><a format=flat href=x>Off</a></td></tr></table>", 400);
  FXKTextLayout::block* cell = findBlock(off->root(), FXKTextLayout::kBlockCell);
  ASSERT_NE(cell, nullptr);
  EXPECT_FALSE(off->hover(cell->x + 2, cell->y + cell->h / 2));
  EXPECT_EQ(off->hotBlock(), nullptr);
}

}  // namespace
