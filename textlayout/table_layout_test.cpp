// Table layout against widths measured with the fixed font: ample room,
// proportional shrinking, percent columns, spans, percent tables and the
// reuse of a table laid out before at the same width.
#include <string>
#include <vector>

#include "textlayout/view_test_fixture.h"

using namespace FX;
using kvtest::ViewApp;

namespace {

using block = FXKTextLayout::block;

class TableLayout : public ViewApp {
 protected:
  static std::vector<block*> cellsOf(block* row) {
    std::vector<block*> out;
    for (block& c : row->children)
      if ((c.flags & FXKTextLayout::kBlockCell) && !(c.flags & FXKTextLayout::kBlockPlaceholder)) out.push_back(&c);
    return out;
  }
  static std::vector<block*> rowsOf(block* table) {
    std::vector<block*> out;
    for (block& r : table->children)
      if (r.flags & FXKTextLayout::kBlockRow) out.push_back(&r);
    return out;
  }
};

TEST_F(TableLayout, AmpleWidthIsTheSumOfMaximaPaddingsAndSpacing) {
  auto l = layoutOf(u"<table cellspacing=2 cellpadding=1><tr><td>alpha</td><td>beta gamma</td></tr></table>", 1000);
  block* table = findBlock(l->root(), FXKTextLayout::kBlockTable);
  ASSERT_NE(table, nullptr);
  const int uw = textWidth("x");
  const int a = textWidth("alpha"), b = textWidth("beta ") + textWidth("gamma");
  EXPECT_EQ(table->w, a + b + 4 * uw + 2 * uw);
  auto cells = cellsOf(rowsOf(table)[0]);
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0]->w, a + 2 * uw);
  EXPECT_EQ(cells[1]->x, cells[0]->x + a + 2 * uw + 2 * uw);
}

TEST_F(TableLayout, NarrowWidthSharesTheRoomByTheSpreadOfEachColumn) {
  const char16_t* markup =
      u"<table cellspacing=0 cellpadding=0><tr><td>aa aa aa aa aa aa aa</td><td>hhhhhh ii</td></tr></table>";
  const int min0 = textWidth("aa"), max0 = textWidth("aa ") * 6 + textWidth("aa");
  const int min1 = textWidth("hhhhhh"), max1 = textWidth("hhhhhh ") + textWidth("ii");
  const int M = max0 + max1, m = min0 + min1;
  const int room = (M + m) / 2;
  auto l = layoutOf(markup, room);
  auto cells = cellsOf(rowsOf(findBlock(l->root(), FXKTextLayout::kBlockTable))[0]);
  ASSERT_EQ(cells.size(), 2u);
  const int c0 = cells[0]->w, c1 = cells[1]->w;
  EXPECT_EQ(c0, min0 + (max0 - min0) * (room - m) / (M - m));
  EXPECT_EQ(c1, min1 + (max1 - min1) * (room - m) / (M - m));
  EXPECT_LE(c0 + c1, room);
  EXPECT_GE(c0 + c1, room - 2);

  // Below the minima every column keeps its minimum and the table overflows.
  auto tight = layoutOf(markup, m / 2);
  block* t = findBlock(tight->root(), FXKTextLayout::kBlockTable);
  auto tc = cellsOf(rowsOf(t)[0]);
  EXPECT_EQ(tc[0]->w, min0);
  EXPECT_EQ(t->w, m);
}

TEST_F(TableLayout, PercentCellsSplitTheFreeRoomThirtySeventy) {
  auto l = layoutOf(
      u"<table width=100% cellspacing=0 cellpadding=0><tr><td width=30%>a</td><td width=70%>b</td></tr></table>", 500);
  auto cells = cellsOf(rowsOf(findBlock(l->root(), FXKTextLayout::kBlockTable))[0]);
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_NEAR(cells[0]->w, 150, 1);
  EXPECT_NEAR(cells[1]->w, 350, 1);
  // A share below the content's minimum keeps the minimum.
  auto narrow = layoutOf(
      u"<table width=100% cellspacing=0 cellpadding=0><tr><td width=5%>unbreakablewordhere</td><td width=95%>b</td></tr>"
      u"</table>",
      200);
  auto nc = cellsOf(rowsOf(findBlock(narrow->root(), FXKTextLayout::kBlockTable))[0]);
  EXPECT_GE(nc[0]->w, textWidth("unbreakablewordhere"));
}

TEST_F(TableLayout, SpanningCellWidensItsColumnsEvenlyWithTheOddPixelFirst) {
  const int a = textWidth("a"), b = textWidth("b");
  // A word whose excess over the two columns is odd.
  std::string word = "w";
  while (((textWidth(word.c_str()) - a - b) % 2) == 0 || textWidth(word.c_str()) - a - b < 3) word += "i";
  const int excess = textWidth(word.c_str()) - a - b;
  std::u16string markup = u"<table cellspacing=0 cellpadding=0><tr><td>a</td><td>b</td></tr><tr><td colspan=2>";
  for (char c : word) markup += static_cast<char16_t>(c);
  markup += u"</td></tr></table>";
  auto l = layoutOf(markup.c_str(), 1000);
  auto cells = cellsOf(rowsOf(findBlock(l->root(), FXKTextLayout::kBlockTable))[0]);
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0]->w, a + excess / 2 + 1);
  EXPECT_EQ(cells[1]->w, b + excess / 2);
}

TEST_F(TableLayout, HalfOfFourHundredIsTwoHundred) {
  auto l = layoutOf(u"<table width=50% cellspacing=0 cellpadding=0><tr><td>x</td></tr></table>", 400);
  block* table = findBlock(l->root(), FXKTextLayout::kBlockTable);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->w, 200);
}

TEST_F(TableLayout, RequestedSizesStopAtTheLargestSizeMarkupMayAsk) {
  // Scaled by the unit width, 503333333 no longer fits 32 bits.
  auto l = layoutOf(u"<table width=503333333 height=4000000000 cellspacing=0 cellpadding=0><tr><td>x</td></tr></table>",
                    0x7FFFFFFF);
  block* table = findBlock(l->root(), FXKTextLayout::kBlockTable);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->width, 32767);
  EXPECT_EQ(table->height, 32767);
  EXPECT_EQ(table->minWidth, 32767 * textWidth("x"));
  EXPECT_EQ(table->maxWidth, 32767 * textWidth("x"));
}

TEST_F(TableLayout, AnIndentInPixelsMovesAParagraphsChildRight) {
  // Negative indents count pixels; unbounded, the room stays unbounded.
  for (int width : {400, 0x7FFFFFFF}) {
    auto l = layoutOf(u"<p>a<indent value=12px><hr width=5></p>", width);
    block* paragraph = findBlock(l->root(), FXKTextLayout::kBlockParagraphKind);
    ASSERT_NE(paragraph, nullptr);
    ASSERT_FALSE(paragraph->children.empty());
    EXPECT_EQ(paragraph->children.back().x, paragraph->x + 12) << width;
  }
}

TEST_F(TableLayout, SecondPassAtTheSameWidthReusesTheTable) {
  auto l = layoutOf(u"first<table cellspacing=1 cellpadding=1><tr><td>one two</td><td>three</td></tr></table>", 400);
  block* table = findBlock(l->root(), FXKTextLayout::kBlockTable);
  ASSERT_NE(table, nullptr);
  const int x = table->x, y = table->y, w = table->w, h = table->h;
  const auto lines = l->lines().size();
  // A mark the table pass always rewrites: kept only when the table is reused.
  table->usedHeight = -777;
  l->layout(400, 0, false);
  table = findBlock(l->root(), FXKTextLayout::kBlockTable);
  EXPECT_EQ(table->usedHeight, -777);
  EXPECT_EQ(l->lines().size(), lines);
  EXPECT_EQ(table->x, x);
  EXPECT_EQ(table->y, y);
  EXPECT_EQ(table->w, w);
  EXPECT_EQ(table->h, h);
  // A new width lays it out again.
  l->layout(40, 0, false);
  table = findBlock(l->root(), FXKTextLayout::kBlockTable);
  EXPECT_NE(table->usedHeight, -777);
  // A table squeezed at the narrow width grows back at a wide one, not reused.
  const int squeezed = table->w;
  table->usedHeight = -777;
  l->layout(400, 0, false);
  table = findBlock(l->root(), FXKTextLayout::kBlockTable);
  EXPECT_NE(table->usedHeight, -777);
  EXPECT_GT(table->w, squeezed);
  EXPECT_EQ(table->w, w);
}

}  // namespace
