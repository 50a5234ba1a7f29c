#include "platform/fox/fx_window_ext.h"

#include <gtest/gtest.h>

#include "platform/fox/fx_app.h"
#include "platform/fox/fx_test_display.h"

using namespace FX;

namespace {

class WindowExtTest : public FXAppTest<FXExtApp> {
 protected:
  WindowExtTest() : FXAppTest(200, 150) {}
  std::unique_ptr<FXExtApp> makeApp() override { return std::make_unique<FXExtApp>("kvwindowext", "kvtest"); }
};

TEST_F(WindowExtTest, NamesAndMarksLiveUntilTheTreeIsForgotten) {
  auto* frame = new FXVerticalFrame(main);
  auto* inner = new FXHorizontalFrame(frame);
  auto* leaf = new FXFrame(inner);
  EXPECT_EQ(fxGetWindowName(leaf), FXWString());
  fxSetWindowName(frame, FXWString(u"Frame"));
  fxSetWindowName(leaf, FXWString(u"Leaf\u00e9"));
  fxSetViewControl(inner);
  fxSetTransparent(leaf);
  EXPECT_EQ(fxFindWindowByName(main, FXWString(u"Leaf\u00e9")), leaf);
  EXPECT_EQ(fxFindWindowByName(main, FXWString(u"Frame")), frame);
  EXPECT_EQ(fxFindWindowByName(main, FXWString(u"leaf\u00e9")), nullptr);  // exact names
  EXPECT_TRUE(fxIsViewControl(inner));
  EXPECT_FALSE(fxIsViewControl(leaf));
  EXPECT_TRUE(fxIsTransparent(leaf));
  fxSetTransparent(leaf, false);
  EXPECT_FALSE(fxIsTransparent(leaf));
  fxSetTransparent(leaf);
  // Forgetting a subtree drops every name and mark under it, and nothing else.
  fxForgetWindowTree(inner);
  EXPECT_EQ(fxGetWindowName(leaf), FXWString());
  EXPECT_FALSE(fxIsTransparent(leaf));
  EXPECT_FALSE(fxIsViewControl(inner));
  EXPECT_EQ(fxGetWindowName(frame), FXWString(u"Frame"));
  fxForgetWindowTree(frame);
  EXPECT_EQ(fxFindWindowByName(main, FXWString(u"Frame")), nullptr);
  // No window, no mark.
  EXPECT_EQ(fxGetWindowName(nullptr), FXWString());
  EXPECT_FALSE(fxIsTransparent(nullptr));
  EXPECT_EQ(fxFindWindowByName(nullptr, FXWString(u"Frame")), nullptr);
}

TEST_F(WindowExtTest, RectanglesAreKeptOnTheScreen) {
  const FXint sw = main->getRoot()->getWidth(), sh = main->getRoot()->getHeight();
  ASSERT_GT(sw, 400);
  ASSERT_GT(sh, 300);
  const struct {
    FXint x, y, w, h;
    FXint ex, ey, ew, eh;
  } cases[] = {
      {10, 20, 300, 200, 10, 20, 300, 200},                   // on the screen: untouched
      {-50, -60, 300, 200, 0, 0, 300, 200},                   // off the top left
      {sw - 100, sh - 50, 300, 200, sw - 300, sh - 200, 300, 200},  // off the bottom right
      {5, 5, sw + 500, sh + 10, 0, 0, sw, sh},                // larger than the screen: shrunk
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    FXint x = c.x, y = c.y, w = c.w, h = c.h;
    fxAdjustPositionForMonitor(main, x, y, w, h);
    EXPECT_EQ(x, c.ex);
    EXPECT_EQ(y, c.ey);
    EXPECT_EQ(w, c.ew);
    EXPECT_EQ(h, c.eh);
  }
}

TEST_F(WindowExtTest, PlacementInSettingsRoundTripAndRefusal) {
  FXSettings store;
  FXWindowSettings settings(&store, FXString("Placement"));
  FXWindowPlacement read;
  EXPECT_FALSE(fxReadWindowPlacement(settings, read));  // nothing stored yet
  FXWindowPlacement p;
  p.x = -20;
  p.y = 35;
  p.w = 640;
  p.h = 480;
  p.showState = 3;
  ASSERT_TRUE(fxWriteWindowPlacement(settings, p));
  EXPECT_EQ(store.readIntEntry("Placement", "X", 0), -20);
  EXPECT_EQ(store.readIntEntry("Placement", "Y", 0), 35);
  EXPECT_EQ(store.readIntEntry("Placement", "Width", 0), 640);
  EXPECT_EQ(store.readIntEntry("Placement", "Height", 0), 480);
  EXPECT_EQ(store.readIntEntry("Placement", "ShowState", 0), 3);
  ASSERT_TRUE(fxReadWindowPlacement(settings, read));
  EXPECT_EQ(read.x, -20);
  EXPECT_EQ(read.w, 640);
  EXPECT_EQ(read.showState, 3);
  // An unknown show state reads as normal.
  store.writeIntEntry("Placement", "ShowState", 9);
  ASSERT_TRUE(fxReadWindowPlacement(settings, read));
  EXPECT_EQ(read.showState, 1);
  // Sizes no window had are refused and leave the placement as it was.
  const struct {
    FXint w, h;
  } bogus[] = {{0, 480}, {640, -1}, {70000, 480}, {640, 40000}};
  for (const auto& b : bogus) {
    SCOPED_TRACE(b.w);
    store.writeIntEntry("Placement", "Width", b.w);
    store.writeIntEntry("Placement", "Height", b.h);
    FXWindowPlacement kept;
    kept.x = 7;
    EXPECT_FALSE(fxReadWindowPlacement(settings, kept));
    EXPECT_EQ(kept.x, 7);
  }
  // Nothing is written without a section, nor an empty placement.
  FXWindowSettings nowhere(&store, FXString::null);
  EXPECT_FALSE(fxWriteWindowPlacement(nowhere, p));
  EXPECT_FALSE(fxWriteWindowPlacement(settings, FXWindowPlacement()));
}

TEST_F(WindowExtTest, PlacementAppliedToAWindow) {
  main->show(PLACEMENT_SCREEN);
  settle();
  FXWindowPlacement p;
  p.x = 30;
  p.y = 40;
  p.w = 260;
  p.h = 170;
  fxSetWindowPlacement(main, p, false);
  settle();
  const FXWindowPlacement back = fxGetWindowPlacement(main);
  EXPECT_EQ(back.x, 30);
  EXPECT_EQ(back.y, 40);
  EXPECT_EQ(back.w, 260);
  EXPECT_EQ(back.h, 170);
  EXPECT_EQ(back.showState, 1);
  // An empty placement moves nothing.
  fxSetWindowPlacement(main, FXWindowPlacement(), true);
  EXPECT_EQ(main->getWidth(), 260);
  // Without a frame from a window manager, outer and client rectangles agree.
  FXint x = 30, y = 40, w = 260, h = 170;
  fxAdjustWindowRect(main, x, y, w, h, true);
  EXPECT_EQ(x, 30);
  EXPECT_EQ(w, 260);
}

TEST_F(WindowExtTest, MaximisedWithoutAWindowManager) {
  if (fxHasWindowManager(app.get())) GTEST_SKIP() << "a window manager maximises here";
  // Not created yet: nothing to place.
  auto* later = new FXMainWindow(app.get(), "later", nullptr, nullptr, DECOR_ALL, 0, 0, 50, 50);
  EXPECT_FALSE(fxMaximizeUnmanaged(later));
  delete later;

  main->show(PLACEMENT_SCREEN);
  main->position(30, 40, 260, 170);
  settle();
  const FXint sw = main->getRoot()->getWidth(), sh = main->getRoot()->getHeight();
  ASSERT_GT(sw, 260);
  // FOX alone asks a manager that is not there: nothing happens.
  main->maximize();
  settle();
  EXPECT_FALSE(main->isMaximized());
  EXPECT_EQ(main->getWidth(), 260);

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(fxMaximizeUnmanaged(main));
    settle();
    EXPECT_TRUE(main->isMaximized());
    EXPECT_EQ(main->getX(), 0);
    EXPECT_EQ(main->getY(), 0);
    EXPECT_EQ(main->getWidth(), sw);
    EXPECT_EQ(main->getHeight(), sh);
    // The placement keeps the rectangle it goes back to; maximising again keeps it too.
    ASSERT_TRUE(fxMaximizeUnmanaged(main));
    const FXWindowPlacement p = fxGetWindowPlacement(main);
    EXPECT_EQ(p.showState, 3);
    EXPECT_EQ(p.x, 30);
    EXPECT_EQ(p.w, 260);
    EXPECT_EQ(p.h, 170);
    // The screen's far corner is the window's now.
    main->setBackColor(FXRGB(0, 160, 80));
    EXPECT_EQ(pixelOnceShown(main, sw - 2, sh - 2, FXRGB(0, 160, 80) | 0xFF000000u), FXRGB(0, 160, 80) | 0xFF000000u);

    ASSERT_TRUE(fxRestoreUnmanaged(main));
    settle();
    EXPECT_FALSE(main->isMaximized());
    EXPECT_EQ(main->getX(), 30);
    EXPECT_EQ(main->getY(), 40);
    EXPECT_EQ(main->getWidth(), 260);
    EXPECT_EQ(main->getHeight(), 170);
    EXPECT_EQ(fxGetWindowPlacement(main).showState, 1);
  }
  // Restoring a window that is not maximised leaves it where it is.
  ASSERT_TRUE(fxRestoreUnmanaged(main));
  EXPECT_EQ(main->getWidth(), 260);
}

}  // namespace
