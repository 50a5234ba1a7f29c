// Theme atoms' default values and the image caches.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "core/resource_fixture.h"
#include "core/resource_testing.h"
#include "gui/app/korvane_app.h"

using namespace FX;

namespace {

// A stock font of a known size and weight (9 points, bold: FOX counts
// deci-points and weights in tens).
class ThemeApp : public FXKorvaneApp {
 public:
  ThemeApp() : FXKorvaneApp(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr) {}
  bool getSystemDefaultFont(FXint id, FXFontDesc& desc) override {
    if (id == 0 || id == 1) {
      std::memset(&desc, 0, sizeof desc);
      std::strcpy(desc.face, "helvetica");
      desc.size = 9;
      desc.weight = 70;
      desc.flags = id == 1 ? 1 : 0;
      return true;
    }
    return FXKorvaneApp::getSystemDefaultFont(id, desc);
  }
};

TEST(Theme, DerivedFontsTable) {
  ThemeApp app;
  struct Row {
    const char* name;
    FXushort size, weight, flags;
  } rows[] = {
      {"helptitlefont", 18, 90, 0},   // ×2, +300 capped at 900
      {"helptitle2font", 11, 70, 1},  // from the bold stock font, ×5/4
      {"categorytitle", 15, 80, 0},   // ×5/3, +100
      {"categorytitle1", 13, 90, 0},  // ×3/2 truncated, capped
      {"categorytitle2", 12, 90, 0},
      {"hugetitle", 36, 70, 0},
      {"smallfont", 7, 70, 0x2800},
      {"smallbodfont", 7, 100, 0x2801},
      {"headerfont", 13, 70, 0},
      {"headerfontbold", 13, 90, 0},
      {"shellsmallfont", 8, 70, 0},
      {"shellboldfont", 11, 100, 0},  // +300 without a cap
      {"largetitle", 20, 80, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const FXint id = app.registerStockFont(r.name);
    ASSERT_GE(id, 8);
    const FXFontDesc d = app.getStockFontDesc(id);
    EXPECT_EQ(d.size, r.size);
    EXPECT_EQ(d.weight, r.weight);
    EXPECT_EQ(d.flags, r.flags);
  }
  EXPECT_EQ(app.registerStockFont("nosuchfont"), -1);
  EXPECT_EQ(app.registerStockFont("korvblue"), -1);  // a colour, not a font
  // Ids outside the theme get the toolkit's default: stock font 0.
  EXPECT_EQ(app.getStockFontDesc(40).size, 9);
}

TEST(Theme, ColoursTable) {
  ThemeApp app;
  struct Row {
    const char* name;
    FXColor color;
  } rows[] = {
      {"bannergradient1", FXRGB(51, 119, 204)}, {"bannergradient2", FXRGB(40, 80, 160)},
      {"bannertitle", FXRGB(250, 250, 255)},    {"bannertext", FXRGB(240, 240, 255)},
      {"korvblue", FXRGB(0, 67, 157)},          {"korvlightblue", FXRGB(226, 237, 247)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(app.getStockColor(app.registerStockColor(r.name)), r.color);
  }
  EXPECT_EQ(app.getBannerColor(), FXRGB(51, 119, 204));
  FXColor c = 0;
  EXPECT_FALSE(app.getSystemDefaultColor(25, c));  // the toolkit's: nothing known
}

// A PNG of one pixel, written here with zlib: signature, IHDR, IDAT, IEND.
std::string onePixelPng(unsigned char r, unsigned char g, unsigned char b) {
  auto be32 = [](std::string& s, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
  };
  auto chunk = [&](std::string& png, const char* type, const std::string& data) {
    be32(png, static_cast<std::uint32_t>(data.size()));
    std::string body = std::string(type) + data;
    png += body;
    be32(png, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
  };
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  be32(ihdr, 1);
  be32(ihdr, 1);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB
  chunk(png, "IHDR", ihdr);
  const unsigned char raw[4] = {0, r, g, b};  // filter 0, one pixel
  uLongf size = compressBound(sizeof raw);
  std::string idat(size, '\0');
  compress(reinterpret_cast<Bytef*>(idat.data()), &size, raw, sizeof raw);
  idat.resize(size);
  chunk(png, "IDAT", idat);
  chunk(png, "IEND", "");
  return png;
}

class ImageCacheTest : public resource_test::Folder {};

// Through the program archive: the current folder is fixed by the first test
// of the process that looks for a resource.
TEST_F(ImageCacheTest, ArchiveNamesAreCachedAndMissingOnesAreTriedAgain) {
  write("one.exe", zip({{"tile.png", onePixelPng(10, 20, 30)}}));
  const std::u16string one = path("one.exe");
  Common::testing::setProgramArchivePath(one.c_str());
  Common::testing::setResourceFileState(2);
  ThemeApp app;
  FXImage* first = app.loadImageByName("tile.png");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(app.loadImageByName("tile.png"), first);  // the same object
  EXPECT_EQ(first->getWidth(), 1);
  EXPECT_EQ(first->getPixel(0, 0), FXRGB(10, 20, 30));
  FXIcon* icon = app.loadIconByName("tile.png");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(app.loadIconByName("tile.png"), icon);
  EXPECT_NE(static_cast<FXImage*>(icon), first);  // icons have a cache of their own

  EXPECT_EQ(app.loadImageByName("missing.png"), nullptr);
  write("two.exe", zip({{"missing.png", onePixelPng(1, 2, 3)}}));
  const std::u16string two = path("two.exe");
  Common::testing::setProgramArchivePath(two.c_str());
  FXImage* late = app.loadImageByName("missing.png");  // a miss was not remembered
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(late->getPixel(0, 0), FXRGB(1, 2, 3));

  app.freeImage(first);  // windows freeing a shared image leave it alone
  EXPECT_EQ(app.loadImageByName("tile.png"), first);  // cached: the archive no longer holds it
  EXPECT_EQ(first->getPixel(0, 0), FXRGB(10, 20, 30));
}

TEST_F(ImageCacheTest, ProgramDataIsCachedByAddress) {
  const std::string a = onePixelPng(200, 0, 0), b = a;  // equal bytes, two addresses
  ThemeApp app;
  FXImage* fromA = app.loadImage(a.data());
  ASSERT_NE(fromA, nullptr);
  EXPECT_EQ(app.loadImage(a.data()), fromA);
  FXImage* fromB = app.loadImage(b.data());
  EXPECT_NE(fromB, fromA);
  EXPECT_EQ(fromB->getPixel(0, 0), FXRGB(200, 0, 0));
}

}  // namespace
