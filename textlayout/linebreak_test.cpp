// Segments, measuring and line breaking against widths measured directly with
// the same DejaVu font (FOX's own text width is the witness).
#include <gtest/gtest.h>

#include <cstdlib>

#include "textlayout/layout.h"
#include "textlayout/layout_testing.h"

using namespace FX;

namespace {

class LineBreakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !(app = layout_testing::app(true))) GTEST_SKIP() << "no X display";
    font = app->getStockFont(0);
    ASSERT_NE(std::string(font->getActualName().text()).find("DejaVu"), std::string::npos);
    layout = std::make_unique<FXKTextLayout>(app, false);
    layout->create();
  }
  int w(const char* text) const { return font->getTextWidth(text, static_cast<FXuint>(std::strlen(text))); }
  // The text of each line, segments joined.
  std::vector<std::string> lineTexts() const {
    std::vector<std::string> out;
    for (const auto& l : layout->lines()) {
      std::string s;
      for (int i = l.firstSegment; i <= l.lastSegment; ++i) {
        const auto& seg = layout->segments()[i];
        s += layout->text().mid(seg.start, seg.end - seg.start).toUtf8();
      }
      out.push_back(s);
    }
    return out;
  }
  const FXKTextLayout::segment& segmentAt(int textPosition) const {
    for (const auto& s : layout->segments())
      if (s.start == textPosition) return s;
    throw std::runtime_error("no segment");
  }
  layout_testing::TestApp* app = nullptr;
  FXFont* font = nullptr;
  std::unique_ptr<FXKTextLayout> layout;
};

TEST_F(LineBreakTest, SegmentsOfTextBlanksTabsAndLineFeeds) {
  layout->setText(FXWString(u"a\nb"));
  ASSERT_EQ(layout->segments().size(), 2u);
  EXPECT_EQ(layout->segments()[0].flags, 1u);  // hard break; the line feed belongs to no segment
  EXPECT_EQ(layout->segments()[0].end, 1);
  EXPECT_EQ(layout->segments()[1].start, 2);

  layout->setText(FXWString(u"aa bb\tcc"));
  ASSERT_EQ(layout->segments().size(), 3u);
  EXPECT_EQ(layout->segments()[0].flags, 2u);  // ends with a blank
  EXPECT_EQ(layout->segments()[1].end, 5);     // ends before the tab
  EXPECT_EQ(layout->segments()[2].flags, 0x10u);
  EXPECT_EQ(layout->segments()[2].start, 6);

  // A run starting at the blank makes the blank a segment of its own.
  layout->setText(FXWString(u"<b>aa</b> bb"));
  ASSERT_EQ(layout->segments().size(), 3u);
  EXPECT_EQ(layout->segments()[0].end, 2);
  EXPECT_EQ(layout->segments()[0].flags, 2u);
  EXPECT_EQ(layout->segments()[1].start, 2);
  EXPECT_EQ(layout->segments()[1].flags, 0u);
}

TEST_F(LineBreakTest, MeasuringUsesEachRunsFont) {
  layout->setText(FXWString(u"ab<b>cd</b> x"));
  layout->layout(1000, 0, false);
  const auto& s = layout->segments()[0];
  FXFont* bold = app->getStockFont(1);
  EXPECT_EQ(s.width, w("ab") + bold->getTextWidth("cd", 2));
}

TEST_F(LineBreakTest, ALongWordOverflowsOnItsOwnLine) {
  layout->setText(FXWString(u"a extraordinarilylongword b"));
  layout->layout(w("a b"), 0, false);
  EXPECT_EQ(lineTexts(), (std::vector<std::string>{"a ", "extraordinarilylongword ", "b"}));
  EXPECT_GT(layout->getContentWidth(), w("a b"));
}

TEST_F(LineBreakTest, ANoWrapStretchMovesToTheNextLineWhole) {
  const int width = w("aa bb ") + 2;  // room for "aa bb", not for "cc"
  layout->setText(FXWString(u"aa bb cc dd"));
  layout->layout(width, 0, false);
  EXPECT_EQ(lineTexts().front(), "aa bb ");
  layout->setText(FXWString(u"aa <nobr>bb cc</nobr> dd"));
  layout->layout(width, 0, false);
  EXPECT_EQ(lineTexts(), (std::vector<std::string>{"aa ", "bb cc ", "dd"}));
}

TEST_F(LineBreakTest, JustificationOnlyBelowThreePixelsPerGap) {
  const int first = w("aa bb cc");  // the first line's right edge before justifying
  struct Case {
    int slack;
    bool moved;
  } cases[] = {{4, true}, {5, true}, {6, false}, {9, false}};  // two gaps
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slack);
    layout->setText(FXWString(u"<justify>aa bb cc dd</justify>"));
    layout->layout(first + c.slack, 0, false);
    ASSERT_EQ(lineTexts().front(), "aa bb cc ");
    const auto& cc = layout->segments()[2];
    EXPECT_EQ(cc.x, w("aa bb ") + (c.moved ? c.slack : 0));
    const auto& bb = layout->segments()[1];
    EXPECT_EQ(bb.x, w("aa ") + (c.moved ? c.slack / 2 : 0));
  }
  // A line ending in a hard break is never justified.
  layout->setText(FXWString(u"<justify>aa bb\ncc</justify>"));
  layout->layout(w("aa bb") + 2, 0, false);
  EXPECT_EQ(layout->segments()[1].x, w("aa "));
}

TEST_F(LineBreakTest, CentredAndRightAlignedLines) {
  layout->setText(FXWString(u"<center>ab</center>"));
  layout->layout(w("ab") + 10, 0, false);
  EXPECT_EQ(layout->segments()[0].x, 5);
  layout->setText(FXWString(u"<right>ab</right>"));
  layout->layout(w("ab") + 10, 0, false);
  EXPECT_EQ(layout->segments()[0].x, 10);
}

TEST_F(LineBreakTest, TabStopsAndIndents) {
  const int x = w("x");
  layout->setText(FXWString(u"\tb"));
  layout->layout(1000, 0, false);
  EXPECT_EQ(segmentAt(1).x, 8 * x);  // from 0 to the first stop
  layout->setText(FXWString(u"<tabpoint value=1>x\tb"));
  layout->layout(1000, 0, false);
  EXPECT_EQ(segmentAt(2).x, 2 * x);  // exactly on a stop: the next one
  layout->setText(FXWString(u"<indent value=2>ab"));
  layout->layout(1000, 0, false);
  EXPECT_EQ(layout->segments()[0].x, 2 * x);
  layout->setText(FXWString(u"<indent value=12px>ab"));
  layout->layout(1000, 0, false);
  EXPECT_EQ(layout->segments()[0].x, 12);
}

TEST_F(LineBreakTest, WidthPairsAndNegativeWidths) {
  layout->setText(FXWString(u"aa bbbb\ncc"));
  EXPECT_EQ(layout->getMinimumWidth(), w("bbbb"));
  EXPECT_EQ(layout->getMaximumWidth(), w("aa bbbb"));
  layout->layout(-5, 0, false);  // laid out for width 0: a word per line
  EXPECT_EQ(layout->lines().size(), 3u);
}

TEST_F(LineBreakTest, TheHeightForAWidthIsMeasuredOnceAndForgottenBySetText) {
  layout->setText(FXWString(u"one two three four five six seven eight nine ten"));
  const int before = layout->measureCount();
  const int h = layout->getHeightForWidth(60);
  EXPECT_EQ(layout->measureCount(), before + 1);
  EXPECT_EQ(layout->getHeightForWidth(60), h);
  EXPECT_EQ(layout->measureCount(), before + 1);  // cached
  EXPECT_GT(h, layout->getHeightForWidth(2000));  // narrower is taller
  EXPECT_EQ(layout->measureCount(), before + 2);
  layout->layout(60, 0, false);
  EXPECT_EQ(layout->getContentHeight(), h);  // the measure leaves the same answer a pass gives
  layout->setText(FXWString(u"one"));
  layout->getHeightForWidth(60);
  EXPECT_EQ(layout->measureCount(), before + 3);  // forgotten by setText
  layout->layout(60, 0, true);                    // forced: forgotten again
  layout->getHeightForWidth(60);
  EXPECT_EQ(layout->measureCount(), before + 4);
}

TEST_F(LineBreakTest, AMeasureLeavesTheVisibleLayoutAsItWas) {
  layout->setText(FXWString(u"aa bb cc dd ee ff"));
  layout->layout(w("aa bb "), 0, false);
  const auto lines = lineTexts();
  std::vector<int> xs;
  for (const auto& s : layout->segments()) xs.push_back(s.x);
  layout->getMaximumWidth();
  layout->getHeightForWidth(17);
  EXPECT_EQ(lineTexts(), lines);
  std::vector<int> after;
  for (const auto& s : layout->segments()) after.push_back(s.x);
  EXPECT_EQ(after, xs);
}

}  // namespace

namespace {

TEST_F(LineBreakTest, ALayerTakesNoRoomAndAHiddenBlockEndsEmpty) {
  layout->setText(FXWString(u"a<layer>under</layer>b"));
  layout->layout(400, 0, false);
  const auto& layer = layout->root().children.front();
  // "b" is laid out on the line below "a", at the layer's own y: the layer adds nothing.
  const auto& lines = layout->lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].bottom - lines[2].height, layer.y);

  layout->setText(FXWString(u"<div>x<div hiddden=true>a much longer hidden text</div></div>"));
  layout->layout(400, 0, false);
  const auto& outer = layout->root().children.front();
  const auto& hidden = outer.children.front();
  EXPECT_EQ(hidden.w, 0);
  EXPECT_EQ(hidden.h, 0);
  EXPECT_FALSE(outer.widthsCached);  // the ancestors measure again
}

TEST_F(LineBreakTest, SpanExpansionMakesPlaceholdersWithTheCellsId) {
  layout->setText(FXWString(u"<table><tr><td colspan=3 rowspan=2>a</td><td>b</td></tr>"
                            u"<tr><td>c</td><td>d</td><td>e</td><td>f</td></tr><tr><td>g</td></tr></table>"));
  const auto& table = layout->root().children.front();
  auto row = table.children.begin();
  std::vector<std::pair<int, std::uint32_t>> first, second, third;
  for (const auto& c : row->children) first.emplace_back(c.id, c.flags & 0x2000);
  ++row;
  for (const auto& c : row->children) second.emplace_back(c.id, c.flags & 0x2000);
  ++row;
  for (const auto& c : row->children) third.emplace_back(c.id, c.flags & 0x2000);
  const int a = first[0].first;
  EXPECT_EQ(first, (std::vector<std::pair<int, std::uint32_t>>{{a, 0}, {a, 0x2000}, {a, 0x2000}, {a + 1, 0}}));
  // The next row gets placeholders at the spanned positions (it has cells there).
  ASSERT_EQ(second.size(), 7u);
  EXPECT_EQ(second[0], std::make_pair(a, 0x2000u));
  EXPECT_EQ(second[1], std::make_pair(a, 0x2000u));
  EXPECT_EQ(second[2], std::make_pair(a, 0x2000u));
  EXPECT_EQ(third.size(), 1u);  // beyond the span
}

}  // namespace
