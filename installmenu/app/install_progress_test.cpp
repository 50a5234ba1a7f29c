// The install menu's busy window and busy scope, on a real X display.
#include "installmenu/app/install_progress.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "installmenu/app/install_menu_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/win32/testing/test_world.h"

using namespace FX;

namespace {

class InstallProgressTest : public win32_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
    app = std::make_unique<FXKInstallMenuApp>();
    int argc = 1;
    static char name[] = "kvtest";
    char* argv[] = {name, nullptr};
    app->initWithPackage(argc, argv, nullptr);
    app->create();
  }
  void TearDown() override {
    if (app) {
      while (app->busyCount() > 0) app->endProgressSync(0);
      app->destroy();
      app.reset();
    }
    World::TearDown();
  }
  FXKProgressDialog* dialog() { return dynamic_cast<FXKProgressDialog*>(app->busyWindow()); }
  static FXButton* findButton(FXWindow* parent) {
    for (FXWindow* child = parent->getFirst(); child; child = child->getNext()) {
      if (auto* b = dynamic_cast<FXButton*>(child)) return b;
      if (FXButton* inner = findButton(child)) return inner;
    }
    return nullptr;
  }
  // A left click on the button, as the display would deliver it.
  static void click(FXButton* button) {
    FXEvent ev;
    ev.type = SEL_LEFTBUTTONPRESS;
    ev.win_x = button->getWidth() / 2;
    ev.win_y = button->getHeight() / 2;
    ev.code = LEFTBUTTON;
    button->handle(button, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
    ev.type = SEL_LEFTBUTTONRELEASE;
    button->handle(button, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &ev);
  }
  std::unique_ptr<FXKInstallMenuApp> app;
};

TEST_F(InstallProgressTest, CancelAndTheCloseBoxRaiseTheFlagAndKeepTheWindow) {
  Processor::Cancelable first, second;
  app->setCancelable(&first);
  app->beginProgressSync();
  ASSERT_NE(dialog(), nullptr);
  dialog()->create();
  dialog()->show(PLACEMENT_SCREEN);
  app->flush(true);
  FXButton* cancel = findButton(dialog());
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(cancel->getText(), FXString("Cancel"));
  EXPECT_EQ(cancel->getParent()->getFocus(), cancel);

  click(cancel);
  EXPECT_TRUE(first.isCancelled());
  EXPECT_TRUE(dialog()->shown());

  // A flag handed in while the window is open replaces its flag.
  app->setCancelable(&second);
  EXPECT_EQ(dialog()->handle(dialog(), FXSEL(SEL_CLOSE, 0), nullptr), 1);
  EXPECT_TRUE(second.isCancelled());
  EXPECT_TRUE(dialog()->shown());
  // A second cancel keeps it raised.
  click(cancel);
  EXPECT_TRUE(second.isCancelled());

  // Without a flag nothing happens, and the window stays.
  app->setCancelable(nullptr);
  click(cancel);
  EXPECT_EQ(dialog()->handle(dialog(), FXSEL(SEL_CLOSE, 0), nullptr), 1);
  EXPECT_TRUE(dialog()->shown());
  app->endProgressSync(0);
  EXPECT_EQ(app->busyWindow(), nullptr);
}

// The download texts belong to downloads; any other busy period shows the
// product title and leaves the bar's text alone.
TEST_F(InstallProgressTest, TextsByKindOfBusyPeriod) {
  struct Row {
    const char* what;
    bool downloading;
    const char* first;
    const char* at37;
  } rows[] = {
      {"install preparation", false, "Vazedi for Dovecrest 2013", "Vazedi for Dovecrest 2013"},
      {"download", true, "Preparing for downloading...", "Downloading. 37% completed."},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    app->setDownloading(r.downloading);
    app->beginProgressSync();
    ASSERT_NE(dialog(), nullptr);
    dialog()->create();
    EXPECT_EQ(dialog()->text(), FXString(r.first));
    EXPECT_EQ(dialog()->getTitle(), FXString("Vazedi for Dovecrest 2013"));
    dialog()->setProgress(37);
    EXPECT_EQ(dialog()->value(), 37);
    EXPECT_TRUE(dialog()->barShown());
    EXPECT_EQ(dialog()->text(), FXString(r.at37));
    app->endProgressSync(0);
  }
  // Switching an open window to a download changes its text.
  app->setDownloading(false);
  app->beginProgressSync();
  dialog()->create();
  app->setDownloading(true);
  EXPECT_EQ(dialog()->text(), FXString("Preparing for downloading..."));
  app->endProgressSync(0);
  app->setDownloading(false);
}

TEST_F(InstallProgressTest, TheBusyScopeEndsOnEveryRoad) {
  {
    FXKBusyScope scope(app.get());
    EXPECT_EQ(app->busyCount(), 1);
    EXPECT_EQ(app->waitCursorCount(), 1);
  }
  EXPECT_EQ(app->busyCount(), 0);
  EXPECT_EQ(app->waitCursorCount(), 0);
  EXPECT_EQ(app->busyWindow(), nullptr);
  try {
    FXKBusyScope scope(app.get());
    throw std::runtime_error("preparation failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(app->busyCount(), 0);
  EXPECT_EQ(app->waitCursorCount(), 0);
  EXPECT_EQ(app->busyWindow(), nullptr);
}

// The download window as the display shows it: the bar filled to 37 per
// cent, the text and the Cancel button painted, the animation's first frame.
TEST_F(InstallProgressTest, ScreenshotOfTheDownloadWindow) {
  app->setDownloading(true);
  app->beginProgressSync();
  ASSERT_NE(dialog(), nullptr);
  dialog()->create();
  dialog()->setProgress(37);
  dialog()->show(PLACEMENT_SCREEN);
  FXKIconAnimation* animation = dialog()->animationWindow();
  app->removeTimeout(animation, FXKIconAnimation::ID_NEXT_FRAME);
  settleEvents(app.get(), 10);

  FXProgressBar* bar = dialog()->progressBar();
  ASSERT_GT(bar->getWidth(), 100);
  const int inner = bar->getWidth() - 2 * bar->getBorderWidth();
  const int mid = bar->getHeight() / 2;
  const FXColor filled = bar->getBarColor() | 0xFF000000u;
  const FXColor empty = bar->getBarBGColor() | 0xFF000000u;
  EXPECT_EQ(pixelOnceShown(bar, bar->getBorderWidth() + inner * 20 / 100, mid, filled), filled);
  EXPECT_EQ(pixelOnceShown(bar, bar->getBorderWidth() + inner * 60 / 100, mid, empty), empty);
  // The frame's own colour at its top left corner, inside its padding.
  const FXColor back = dialog()->contentFrame()->getBackColor() | 0xFF000000u;
  EXPECT_EQ(pixelOnceShown(dialog()->contentFrame(), 2, 2, back), back);
  // Frame 0 of the built-in strip: the top dot of the ring.
  EXPECT_EQ(pixelOnceShown(animation, 15, 4, FXRGB(40, 90, 200) | 0xFF000000u), FXRGB(40, 90, 200) | 0xFF000000u);
  auto ink = [](FXWindow* w) {
    for (FXint y = 1; y < w->getHeight() - 1; y += 2)
      for (FXint x = 1; x < w->getWidth() - 1; x += 2)
        if (FXREDVAL(readPixel(w, x, y)) < 100) return true;
    return false;
  };
  EXPECT_TRUE(ink(dialog()->textLabel()));
  FXButton* cancel = findButton(dialog());
  ASSERT_NE(cancel, nullptr);
  EXPECT_TRUE(ink(cancel));
  app->endProgressSync(0);
  app->setDownloading(false);
}

}  // namespace
