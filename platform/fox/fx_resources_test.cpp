// The embedded pictures decode to the sizes and colours drawn, and the
// loaders find them by data and by name.
#include "platform/fox/fx_resources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/fox/fx_app.h"
#include "platform/fox/fx_test_display.h"

using namespace FX;

namespace {

struct Probe {
  const char* name;
  int x, y;
  FXColor color;  // as FOX holds it: alpha, blue, green, red
};

TEST(ResourcePictures, DecodeToTheirSizesAndDrawnColours) {
  FXApp app("kvres", "kvtest");
  for (const FXResourcePicture* p = fxResourcePictures; p->name; ++p) {
    FXPNGImage image(&app, p->data, 0);
    EXPECT_EQ(image.getWidth(), p->width) << p->name;
    EXPECT_EQ(image.getHeight(), p->height) << p->name;
  }
  const Probe probes[] = {
      {"checkbox_res", 0, 0, FXRGBA(0x33, 0x33, 0x33, 255)},            // frame 0 edge
      {"checkbox_res", 6, 4 * 13 + 7, FXRGBA(0x21, 0x21, 0x21, 255)},   // checked: the tick
      {"checkbox_res", 6, 7, FXRGBA(0xFF, 0xFF, 0xFF, 255)},            // clear: white inside
      {"checkbox_res", 5, 8 * 13 + 5, FXRGBA(0x4A, 0x7E, 0xBB, 255)},   // mixed: the square
      {"checkbox_v_res", 0, 0, FXRGBA(0x1C, 0x51, 0x80, 255)},
      {"treeexpandcollapse_res", 4, 3, FXRGBA(0x21, 0x21, 0x21, 255)},  // plus: vertical bar
      {"treeexpandcollapse_res", 4, 9 + 3, FXRGBA(0xFF, 0xFF, 0xFF, 255)},  // minus: none
      {"stopicon_res", 5, 16, FXRGBA(0xE0, 0x20, 0x20, 255)},
      {"stopicon_res", 0, 0, FXRGBA(0, 0, 0, 0)},
      {"copydetails_res", 1, 32 + 1, FXRGBA(0x90, 0x90, 0x90, 255)},  // disabled state: grey
      {"toolbarbackground_res", 3, 0, FXRGBA(0xFF, 0xFF, 0xFF, 255)},
      {"toolbarbackground_res", 0, 1, FXRGBA(0xF4, 0xF7, 0xFC, 255)},
      {"toolbarbackground_res", 7, 22, FXRGBA(0xC8, 0xD6, 0xEA, 255)},
      {"toolbarbackground_res", 5, 23, FXRGBA(0x9A, 0xAE, 0xCB, 255)},
  };
  for (const Probe& probe : probes) {
    const FXResourcePicture* p = fxFindResourcePicture(probe.name);
    ASSERT_NE(p, nullptr) << probe.name;
    FXPNGImage image(&app, p->data, 0);
    EXPECT_EQ(image.getPixel(probe.x, probe.y), probe.color) << probe.name << " " << probe.x << "," << probe.y;
  }
}

// The embedded bytes are those of the drawings committed in data/.
TEST(ResourcePictures, MatchTheCommittedFiles) {
  for (const FXResourcePicture* p = fxResourcePictures; p->name; ++p) {
    std::string base(p->name);
    base.resize(base.size() - 4);  // "_res"
    std::ifstream in(std::string(KV_TEST_TOOLKIT_PICTURES) + "/" + base + ".png", std::ios::binary);
    ASSERT_TRUE(in) << base;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(p->data), p->size)) << base;
  }
}

TEST(ResourcePictures, LoadersFindThemByDataAndByName) {
  FXExtApp app("kvres", "kvtest");
  FXApp plain("kvres2", "kvtest");
  EXPECT_EQ(fxFindResourcePicture(static_cast<const void*>(checkbox_res))->name, std::string("checkbox_res"));
  EXPECT_EQ(fxFindResourcePicture("nothing_res"), nullptr);

  FXIcon* icon = fxLoadIconByName(&app, "stopicon_res", 0, 0);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->getWidth(), 32);
  app.freeImage(icon);
  FXImage* image = fxLoadImage(&app, treeexpandcollapse_res, 0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->getHeight(), 27);
  app.freeImage(image);
  // The base application knows no archive; a plain FXApp no loader at all.
  EXPECT_EQ(fxLoadImageByName(&app, "top_gradient.png", 0), nullptr);
  EXPECT_EQ(fxLoadIcon(&plain, checkbox_res, 0, 0), nullptr);
}

TEST(DefaultCursors, OneIsTheHandAndEveryOtherNumberTheArrow) {
  if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
  FXExtApp app("kvcursor", "kvtest");
  int argc = 1;
  static char name[] = "kvcursor";
  char* argv[] = {name, nullptr};
  app.init(argc, argv);
  EXPECT_EQ(fxDefaultCursor(&app, FX_DEFAULT_CURSOR_HAND), app.getDefaultCursor(DEF_HAND_CURSOR));
  EXPECT_EQ(fxDefaultCursor(&app, 0), app.getDefaultCursor(DEF_ARROW_CURSOR));
  EXPECT_EQ(fxDefaultCursor(&app, 7), app.getDefaultCursor(DEF_ARROW_CURSOR));
  EXPECT_EQ(fxDefaultCursor(nullptr, 1), nullptr);
}

}  // namespace
