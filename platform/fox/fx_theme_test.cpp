// The theme painters and the printer device context against fixed pixels and
// against Ghostscript reading what was printed.
#include "platform/fox/fx_theme.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/fox/fx_app.h"
#include "platform/fox/fx_dc_origin.h"
#include "platform/fox/fx_paint.h"
#include "platform/fox/fx_print.h"
#include "platform/fox/fx_test_display.h"

using namespace FX;

namespace {

class ThemeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) return;
    app = new FXExtApp("kvtheme", "kvtest");
    static int argc = 1;
    static char name[] = "kvtheme";
    static char* argv[] = {name, nullptr};
    app->init(argc, argv);
    app->create();
  }
  static void TearDownTestSuite() {
    delete app;
    app = nullptr;
  }
  void SetUp() override {
    if (!app) GTEST_SKIP() << "no X display";
  }
  // An off-screen image to paint on, read back by pixel.
  std::unique_ptr<FXImage> canvas(FXint w, FXint h) {
    auto img = std::make_unique<FXImage>(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, w, h);
    img->create();
    return img;
  }
  static FXuint rgb(FXImage* img, FXint x, FXint y) { return img->getPixel(x, y) & 0xFFFFFF; }
  static FXApp* app;
};
FXApp* ThemeTest::app = nullptr;

TEST_F(ThemeTest, GradientColumnsFollowTheirOffsetSoAHalfMatchesTheWhole) {
  auto whole = canvas(256, 4), half = canvas(256, 4);
  {
    FXDCWindow dc(whole.get());
    dc.setForeground(FXRGB(0, 0, 0));
    dc.setBackground(FXRGB(255, 255, 255));
    FXTheme::GradientFill(dc, 0, 0, 256, 4, FXTheme::GRADIENT_HORIZONTAL);
    EXPECT_EQ(dc.getForeground(), FXRGB(0, 0, 0));  // colours as they were
  }
  {
    // The right half alone, from the colour the whole has at its edge.
    FXDCWindow dc(half.get());
    dc.setForeground(FXRGB(127, 127, 127));
    dc.setBackground(FXRGB(255, 255, 255));
    FXTheme::GradientFill(dc, 128, 0, 128, 4, FXTheme::GRADIENT_HORIZONTAL);
  }
  whole->restore();
  half->restore();
  struct {
    FXint x;
    FXuint value;
  } cases[] = {{0, 0x000000}, {64, 0x3F3F3F}, {128, 0x7F7F7F}, {255, 0xFEFEFE}};
  for (auto c : cases) EXPECT_EQ(rgb(whole.get(), c.x, 2), c.value) << "x " << c.x;
  EXPECT_EQ(rgb(half.get(), 128, 2), 0x7F7F7Fu);
  EXPECT_LE(std::abs(int(rgb(half.get(), 192, 2) & 0xFF) - int(rgb(whole.get(), 192, 2) & 0xFF)), 1);
}

TEST_F(ThemeTest, VerticalGradientRunsDownTheRows) {
  auto img = canvas(4, 100);
  {
    FXDCWindow dc(img.get());
    dc.setForeground(FXRGB(0, 0, 200));
    dc.setBackground(FXRGB(200, 0, 0));
    FXTheme::GradientFill(dc, 0, 0, 4, 100, FXTheme::GRADIENT_VERTICAL);
  }
  img->restore();
  EXPECT_EQ(img->getPixel(1, 0) & 0xFFFFFF, FXRGB(0, 0, 200) & 0xFFFFFF);
  EXPECT_EQ(img->getPixel(1, 50) & 0xFFFFFF, FXRGB(100, 0, 100) & 0xFFFFFF);
  EXPECT_EQ(img->getPixel(3, 50), img->getPixel(0, 50));
}

TEST_F(ThemeTest, TilesLineUpWithTheGivenOrigin) {
  // A 4x4 pattern whose every pixel differs.
  FXImage tile(app, nullptr, IMAGE_KEEP | IMAGE_OWNED | IMAGE_OPAQUE, 4, 4);
  for (int i = 0; i < 16; ++i) tile.getData()[i] = FXRGB(16 * i, 255 - 16 * i, 7);
  tile.create();
  auto img = canvas(20, 20);
  {
    FXDCWindow dc(img.get());
    dc.setForeground(FXRGB(255, 255, 255));
    dc.fillRectangle(0, 0, 20, 20);
    FXTheme::Tile(dc, &tile, 3, 3, 10, 10, 1, 2);
  }
  img->restore();
  auto at = [&](int tx, int ty) { return tile.getData()[ty * 4 + tx] & 0xFFFFFF; };
  EXPECT_EQ(rgb(img.get(), 3, 3), at((3 - 1) % 4, (3 - 2) % 4));
  EXPECT_EQ(rgb(img.get(), 12, 12), at((12 - 1) % 4, (12 - 2) % 4));
  EXPECT_EQ(rgb(img.get(), 2, 2), 0xFFFFFFu);   // outside the rectangle
  EXPECT_EQ(rgb(img.get(), 13, 13), 0xFFFFFFu);
}

TEST_F(ThemeTest, BorderKeepsCornersAndStretchesTheRest) {
  // 9x9: red corners 3x3, green edges, blue centre.
  FXImage src(app, nullptr, IMAGE_KEEP | IMAGE_OWNED | IMAGE_OPAQUE, 9, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) {
      bool ex = x < 3 || x >= 6, ey = y < 3 || y >= 6;
      src.getData()[y * 9 + x] = ex && ey ? FXRGB(255, 0, 0) : (ex || ey ? FXRGB(0, 255, 0) : FXRGB(0, 0, 255));
    }
  src.create();
  FXTheme theme;
  auto img = canvas(40, 30);
  {
    FXDCWindow dc(img.get());
    dc.setForeground(FXRGB(255, 255, 255));
    dc.fillRectangle(0, 0, 40, 30);
    theme.DrawBorder(dc, &src, 0, 0, 9, 9, 5, 5, 30, 20, 31);
  }
  img->restore();
  struct {
    FXint x, y;
    FXuint value;
  } cases[] = {{5, 5, 0xFF0000},   {7, 7, 0xFF0000},   {34, 24, 0xFF0000}, {20, 6, 0x00FF00},
               {6, 15, 0x00FF00},  {33, 15, 0x00FF00}, {20, 15, 0x0000FF}, {4, 4, 0xFFFFFF},
               {35, 25, 0xFFFFFF}};
  for (auto c : cases) EXPECT_EQ(rgb(img.get(), c.x, c.y), FXRGB((c.value >> 16) & 255, (c.value >> 8) & 255, c.value & 255) & 0xFFFFFF) << c.x << "," << c.y;
}

TEST_F(ThemeTest, QueriesAndTheEnvironmentChoice) {
  FXTheme theme;
  EXPECT_EQ(theme.query(1), FXTheme::KIND_STYLED);
  EXPECT_EQ(theme.query(3), 0);
  theme.setPlain(true);
  EXPECT_EQ(theme.query(3), 1);
  EXPECT_EQ(theme.query(2), 0);
  EXPECT_EQ(fxGetTheme(app), fxGetTheme(app));
}

TEST_F(ThemeTest, OriginMovesDrawingClipsAndRegions) {
  auto img = canvas(30, 30);
  {
    FXDCWindow win(img.get());
    win.setForeground(FXRGB(255, 255, 255));
    win.fillRectangle(0, 0, 30, 30);
    FXDCOrigin dc(win, 5, 6);
    dc.setForeground(FXRGB(255, 0, 0));
    dc.fillRectangle(0, 0, 4, 4);
    EXPECT_EQ(dc.getForeground(), FXRGB(255, 0, 0));
    dc.moveOrigin(10, 10);
    dc.setClipRegion(FXRegion(0, 0, 2, 2));  // lands at (15, 16)
    dc.setForeground(FXRGB(0, 0, 255));
    dc.fillRectangle(-5, -5, 20, 20);
  }
  img->restore();
  EXPECT_EQ(rgb(img.get(), 5, 6), FXRGB(255, 0, 0) & 0xFFFFFF);
  EXPECT_EQ(rgb(img.get(), 4, 5), 0xFFFFFFu);
  EXPECT_EQ(rgb(img.get(), 15, 16), FXRGB(0, 0, 255) & 0xFFFFFF);
  EXPECT_EQ(rgb(img.get(), 17, 18), 0xFFFFFFu);  // outside the moved clip
}

TEST(RegionRectangles, UnionOfTwoApartRectangles) {
  FXRegion r(0, 0, 10, 10);
  r += FXRegion(20, 30, 5, 5);
  auto rects = fxRegionRectangles(r);
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[0].x, 0);
  EXPECT_EQ(rects[0].w, 10);
  EXPECT_EQ(rects[1].y, 30);
  EXPECT_EQ(rects[1].h, 5);
  EXPECT_TRUE(fxRegionRectangles(FXRegion()).empty());
}

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) out += "\n<failed>";
  }
  return out;
}

FXPrinter fileJob(const std::string& path) {
  FXPrinter job{};
  job.name = path.c_str();
  job.flags = PRINT_DEST_FILE;
  job.mediasize = MEDIA_CUSTOM;
  job.mediawidth = 612;
  job.mediaheight = 792;
  job.leftmargin = job.rightmargin = job.topmargin = job.bottommargin = 36;
  job.firstpage = job.frompage = 1;
  job.lastpage = job.topage = 100;
  job.numcopies = 1;
  return job;
}

TEST_F(ThemeTest, PrintedTextOfAnyBytesIsValidPostScript) {
  if (std::system("gs --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Ghostscript";
  const char* tmp = std::getenv("KV_TEST_TMP");
  std::string path = std::string(tmp ? tmp : "/tmp") + "/kv_print_escape.ps";
  std::system(("mkdir -p \"$(dirname " + path + ")\"").c_str());
  FXDCPrintExt dc(app);
  EXPECT_EQ(dc.getPrintableRect().w, 0);  // nothing before the job
  FXPrinter job = fileJob(path);
  ASSERT_TRUE(dc.beginPrint(job));
  EXPECT_EQ(dc.getPrintableRect().w, 540);
  EXPECT_EQ(dc.getPrintableRect().h, 720);
  FXFont font(app, "DejaVu Sans", 10);
  font.create();
  dc.setFont(&font);
  dc.beginPage(1);
  dc.setForeground(FXRGB(0, 0, 0));
  dc.setClipRectangle(0, 0, 540, 100);
  const char text[] = "close ) \\ open ( caf\xc3\xa9";
  dc.drawText(10, 20, text, sizeof text - 1);
  dc.setOrigin(0, -720);
  dc.drawText(10, 740, "second", 6);
  dc.endPage();
  dc.beginPage(2);
  dc.drawText(10, 20, "page two", 8);
  dc.endPrint();
  EXPECT_EQ(dc.pagesBegun(), 2);
  std::string text_out = run("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=txtwrite -sOutputFile=- " + path + " 2>&1");
  EXPECT_EQ(text_out.find("<failed>"), std::string::npos) << text_out;
  EXPECT_EQ(text_out.find("Error"), std::string::npos) << text_out;
  EXPECT_NE(text_out.find("close ) \\ open ("), std::string::npos) << text_out;
  EXPECT_NE(text_out.find("second"), std::string::npos) << text_out;
  EXPECT_NE(text_out.find("page two"), std::string::npos) << text_out;
  std::remove(path.c_str());
}

}  // namespace
