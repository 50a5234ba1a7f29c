// Painting, checked by pixels on an off-screen image under Xvfb.
#include <gtest/gtest.h>

#include <cstdlib>

#include "textlayout/layout.h"
#include "textlayout/layout_testing.h"

using namespace FX;

namespace {

constexpr int kW = 200, kH = 60;

class PaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !(app = layout_testing::app(true))) GTEST_SKIP() << "no X display";
    layout = std::make_unique<FXKTextLayout>(app, false);
    layout->create();
  }
  // Lays out `markup` at the image's width and paints it into a fresh image.
  void paint(const char16_t* markup, bool transparent, std::uint32_t flags = 0, int height = kH,
             void (*before)(FXKTextLayout&) = nullptr) {
    layout->setText(FXWString(markup));
    layout->layout(kW, 0, false);
    if (before) before(*layout);
    image = std::make_unique<FXImage>(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, kW, height);
    image->create();
    {
      FXDCWindow dc(image.get());
      dc.setForeground(FXRGB(255, 255, 255));
      dc.fillRectangle(0, 0, kW, height);
      layout->paint(dc, FXRectangle(0, 0, kW, FXshort(height)), transparent, flags);
    }
    image->restore();
  }
  FXColor at(int x, int y) const { return image->getPixel(x, y) | 0xFF000000u; }
  int count(FXColor c, int x0 = 0, int y0 = 0, int x1 = kW, int y1 = -1) const {
    if (y1 < 0) y1 = image->getHeight();
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (at(x, y) == (c | 0xFF000000u)) ++n;
    return n;
  }
  int ink(int x0, int y0, int x1, int y1) const {  // pixels other than the white background
    return (x1 - x0) * (y1 - y0) - count(FXRGB(255, 255, 255), x0, y0, x1, y1);
  }
  int baseline(int line = 0) const {
    const auto& l = layout->lines()[line];
    return l.bottom - l.height + l.baseline;
  }
  layout_testing::TestApp* app = nullptr;
  std::unique_ptr<FXKTextLayout> layout;
  std::unique_ptr<FXImage> image;
};

TEST_F(PaintTest, ShadowIsThreeQuartersOfTheBackground) {
  // A large bold face: its stems are wide enough for solid shadow pixels.
  paint(u"<font stock=headerfont><shadow>IIII HHHH</shadow></font>", true);
  EXPECT_GT(count(FXRGB(189, 189, 189)), 0);  // white / 4 * 3
  EXPECT_GT(count(FXRGB(0, 0, 0)), 0);        // the text itself
}

TEST_F(PaintTest, HorizontalGradientMidpoint) {
  paint(u"<p bgcolor=#ffffff bgcolor-gradient-2=#000000>x\ny\nz</p>", false);
  const auto& p = layout->root().children.front();
  ASSERT_EQ(p.w, kW);
  const int y = p.y + p.h / 2;
  EXPECT_EQ(at(p.x + p.w / 2, y), FXRGBA(127, 127, 127, 255));  // 255 * 100 / 200, truncated
  EXPECT_EQ(at(p.x + 20, y), FXRGBA(25, 25, 25, 255));  // from the second gradient colour (black) up
}

TEST_F(PaintTest, EllipsisReplacesTheLastVisibleLine) {
  const int lineHeight = app->getStockFont(0)->getFontHeight();
  paint(u"first\nsecond line\nthird", true, 0x20, 2 * lineHeight + 2);
  const int dots = app->getStockFont(0)->getTextWidth("...", 3);
  const auto& second = layout->lines()[1];
  // On the second line only the dots are drawn, at x 0.
  EXPECT_GT(ink(0, second.bottom - second.height, dots + 1, second.bottom), 0);
  EXPECT_EQ(ink(dots + 2, second.bottom - second.height, kW, second.bottom), 0);
  EXPECT_GT(ink(0, 0, kW, layout->lines()[0].bottom), 0);  // the first line as it is
}

TEST_F(PaintTest, AFocusedLinkIsRedWithADottedMark) {
  paint(u"<a href=x>MMMMMM</a>", true, 0, kH, [](FXKTextLayout& l) { l.focusedLink_ = &l.links()[1]; });
  EXPECT_GT(count(FXRGB(255, 0, 0)), 0);  // 0xFF0000FF
  const int row = baseline() + 3;
  const int width = app->getStockFont(0)->getTextWidth("MMMMMM", 6);
  for (int x = 1; x + 1 < width; ++x) {
    SCOPED_TRACE(x);
    EXPECT_EQ(at(x, row), (x % 2 == 0) ? FXRGB(0, 0, 0) : FXRGB(255, 255, 255));  // even pixels inverted
  }
}

TEST_F(PaintTest, AFlatLinkIsUnderlinedOnlyWhileHovered) {
  const int width = app->getStockFont(0)->getTextWidth("acce", 4);
  paint(u"<a format=flat href=x>acce</a>", true);
  const int row = baseline() + 1;
  EXPECT_EQ(count(FXRGB(255, 255, 255), 0, row, width, row + 1), width);  // no underline
  paint(u"<a format=flat href=x>acce</a>", true, 0, kH,
        [](FXKTextLayout& l) { l.root().flags |= FXKTextLayout::kBlockHot; });
  EXPECT_EQ(count(FXRGB(255, 255, 255), 0, row, width, row + 1), 0);  // a solid line under the text
}

}  // namespace

namespace {

TEST_F(PaintTest, PageModeHoldsBackALineCutByThePageBottom) {
  const int lh = app->getStockFont(0)->getFontHeight();
  paint(u"MMMM\nMMMM\nMMMM", true, 0x10, kH, [](FXKTextLayout& l) {
    const auto& second = l.lines()[1];
    l.page_.bottom = second.bottom - 3;  // three pixels of the second line miss the page
  });
  const auto& second = layout->lines()[1];
  EXPECT_EQ(layout->page_.carry, -(lh - 3));
  EXPECT_EQ(ink(0, second.bottom - second.height, kW, second.bottom), 0);  // held back
  EXPECT_GT(ink(0, 0, kW, layout->lines()[0].bottom), 0);
  EXPECT_GT(ink(0, layout->lines()[2].bottom - layout->lines()[2].height, kW, layout->lines()[2].bottom), 0);
}

TEST_F(PaintTest, ThePaintOffsetMovesEverything) {
  paint(u"MMMM", true, 0, kH, [](FXKTextLayout& l) { l.setPaintOffset(50, 30); });
  const auto& first = layout->lines()[0];
  EXPECT_EQ(ink(0, 0, kW, 30), 0);
  EXPECT_EQ(ink(0, 0, 50, kH), 0);
  EXPECT_GT(ink(50, 30, kW, 30 + first.bottom), 0);
}

}  // namespace
