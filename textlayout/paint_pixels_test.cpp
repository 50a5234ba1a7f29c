// Painting checked by pixels on an off-screen image: the shadow colour, a
// gradient's midpoint, the "..." of the last visible line, the focused link's
// colour and dotted mark, and the underline of a hovered flat link.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/fox/fx_dc_origin.h"
#include "textlayout/view_test_fixture.h"

using namespace FX;
using kvtest::ViewApp;

namespace {

class PaintPixels : public ViewApp {
 protected:
  std::unique_ptr<FXImage> paint(FXKTextLayout* l, int w, int h, bool transparent, std::uint32_t flags, FXColor fill) {
    auto img = std::make_unique<FXImage>(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, w, h);
    img->create();
    {
      FXDCWindow window(img.get());
      window.setForeground(fill);
      window.fillRectangle(0, 0, w, h);
      FXDCOrigin dc(window, 0, 0);
      l->paint(dc, FXRectangle(0, 0, static_cast<FXshort>(w), static_cast<FXshort>(h)), transparent, flags);
    }
    img->restore();
    if (std::getenv("KV_DUMP_SNAPSHOTS")) {
      static int n = 0;
      FILE* f = std::fopen(("/tmp/pp" + std::to_string(n++) + ".ppm").c_str(), "wb");
      std::fprintf(f, "P6 %d %d 255\n", w, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const FXColor c = img->getPixel(x, y);
          const unsigned char px[3] = {FXREDVAL(c), FXGREENVAL(c), FXBLUEVAL(c)};
          std::fwrite(px, 1, 3, f);
        }
      std::fclose(f);
    }
    return img;
  }
  static FXuint rgb(FXImage* img, int x, int y) { return img->getPixel(x, y) & 0xFFFFFF; }
  static bool any(FXImage* img, int x0, int y0, int x1, int y1, FXColor c) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (rgb(img, x, y) == (c & 0xFFFFFF)) return true;
    return false;
  }
  static bool anyNot(FXImage* img, int x0, int y0, int x1, int y1, FXColor c) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (rgb(img, x, y) != (c & 0xFFFFFF)) return true;
    return false;
  }
  static Processor::RefPtr<FXKTextLayout> colored(const char16_t* markup, int width, FXColor text, FXColor back) {
    auto l = Processor::makeRef<FXKTextLayout>(static_cast<FXApp*>(app), false);
    l->setTextColor(text);
    l->setBackColor(back);
    l->setText(FXWString(markup));
    l->create();
    l->layout(width, 0, true);
    return l;
  }
};

TEST_F(PaintPixels, ShadowIsThreeQuartersOfTheBackground) {
  const FXColor white = FXRGB(255, 255, 255), red = FXRGB(255, 0, 0);
  // Red text over white never blends into a grey: every grey pixel is the
  // shadow, (189, 189, 189) where it covers a pixel whole, lighter at its
  // smoothed edges.
  auto darkestGrey = [&](FXImage* img) {
    int darkest = 256;
    for (int y = 0; y < img->getHeight(); ++y)
      for (int x = 0; x < img->getWidth(); ++x) {
        const FXColor c = img->getPixel(x, y);
        if (FXREDVAL(c) == FXGREENVAL(c) && FXGREENVAL(c) == FXBLUEVAL(c) && FXREDVAL(c) < 255)
          darkest = std::min(darkest, static_cast<int>(FXREDVAL(c)));
      }
    return darkest;
  };
  auto shadowed = colored(u"<b><shadow>Shadowed text</shadow></b>", 300, red, white);
  auto img = paint(shadowed.get(), 300, 30, true, 0, white);
  const int darkest = darkestGrey(img.get());
  EXPECT_GE(darkest, 189);
  EXPECT_LE(darkest, 192);
  auto plain = colored(u"<b>Shadowed text</b>", 300, red, white);
  auto none = paint(plain.get(), 300, 30, true, 0, white);
  EXPECT_EQ(darkestGrey(none.get()), 256);
}

TEST_F(PaintPixels, GradientMidpointIsHalfway) {
  auto l = colored(
      u"<table width=100% cellspacing=0 cellpadding=0 bgcolor=#ffffff bgcolor-gradient-2=#000000>"
      u"<tr><td>.</td></tr></table>",
      256, FXRGB(255, 0, 0), FXRGB(0, 255, 0));
  auto img = paint(l.get(), 256, 10, false, 0, FXRGB(0, 0, 255));
  // Black at the left edge to white at the right, column n at 255 * n / 256.
  EXPECT_EQ(rgb(img.get(), 64, 1), FXRGB(63, 63, 63) & 0xFFFFFF);
  EXPECT_EQ(rgb(img.get(), 128, 1), FXRGB(127, 127, 127) & 0xFFFFFF);
  EXPECT_EQ(rgb(img.get(), 255, 1), FXRGB(254, 254, 254) & 0xFFFFFF);
}

TEST_F(PaintPixels, EllipsisReplacesTheLastVisibleLine) {
  const FXColor white = FXRGB(255, 255, 255), black = FXRGB(0, 0, 0);
  auto l = colored(u"first line text\nsecond line text\nthird line text", 300, black, white);
  ASSERT_EQ(l->lines().size(), 3u);
  const int dots = textWidth("...");
  // Room for two lines: the first drawn, the second becomes "...".
  auto img = paint(l.get(), 300, 30, true, FXKTextLayout::kPaintEllipsis, white);
  EXPECT_TRUE(anyNot(img.get(), dots + 4, 0, 300, 15, white));      // the first line, whole
  EXPECT_TRUE(anyNot(img.get(), 0, 15, dots, 30, white));           // the dots
  EXPECT_FALSE(anyNot(img.get(), dots + 2, 15, 300, 30, white));    // nothing after them
  // Without the mode the second line is drawn whole.
  auto whole = paint(l.get(), 300, 30, true, 0, white);
  EXPECT_TRUE(anyNot(whole.get(), dots + 4, 15, 300, 30, white));
}

TEST_F(PaintPixels, FocusedLinkTakesTheFocusColourAndADottedMark) {
  const FXColor white = FXRGB(255, 255, 255);
  // A second line keeps the mark's row (three pixels below the baseline) inside the text.
  auto l = colored(u"<a href=target>Focused</a>\nnext line", 300, FXRGB(0, 0, 0), white);
  l->focusNext(1);
  ASSERT_NE(l->focusedLink(), nullptr);
  auto img = paint(l.get(), 300, 30, true, 0, white);
  const FXRectangle r = l->rangeRect(l->links()[1].start, l->links()[1].end);
  const auto& line = l->lines()[0];
  const int markY = line.bottom - line.height + line.baseline + 3;
  EXPECT_TRUE(any(img.get(), r.x, r.y, r.x + r.w, markY - 3, 0xFF0000FFu));
  int marked = 0, between = 0;
  for (int x = r.x + 1; x < r.x + r.w - 1; ++x) {
    if (rgb(img.get(), x, markY) == (white & 0xFFFFFF))
      ++between;
    else
      ++marked;
    // Every second pixel only.
    if (x > r.x + 1) {
      EXPECT_NE(rgb(img.get(), x, markY) == (white & 0xFFFFFF), rgb(img.get(), x - 1, markY) == (white & 0xFFFFFF))
          << x;
    }
  }
  EXPECT_GT(marked, 3);
  EXPECT_GT(between, 3);
}

TEST_F(PaintPixels, HoveredFlatLinkIsUnderlined) {
  const FXColor white = FXRGB(255, 255, 255);
  auto l = colored(u"<a format=flatex href=target>Flat link</a>", 300, FXRGB(0, 0, 0), white);
  const FXRectangle r = l->rangeRect(l->links()[1].start, l->links()[1].end);
  const auto& line = l->lines()[0];
  const int underY = line.bottom - line.height + line.baseline + 1;
  auto plain = paint(l.get(), 300, 30, true, 0, white);
  int before = 0;
  for (int x = r.x; x < r.x + r.w; ++x) before += rgb(plain.get(), x, underY) != (white & 0xFFFFFF);
  ASSERT_TRUE(l->hover(r.x + 2, r.y + r.h / 2));
  auto hovered = paint(l.get(), 300, 30, true, 0, white);
  int after = 0;
  for (int x = r.x; x < r.x + r.w - 1; ++x) after += rgb(hovered.get(), x, underY) != (white & 0xFFFFFF);
  EXPECT_GE(after, r.w - 2);  // a line all along the text
  EXPECT_LT(before, r.w / 2);
}

}  // namespace
