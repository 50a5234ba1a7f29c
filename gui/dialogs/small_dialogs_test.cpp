// The splash window on a real X display.
#include "gui/dialogs/small_dialogs.h"

#include <gtest/gtest.h>

#include <memory>

#include "gui/app/korvane_app.h"
#include "platform/fox/fx_test_display.h"

using namespace FX;

namespace {

class SmallDialogsTest : public FXAppTest<FXApp> {
 protected:
  SmallDialogsTest() : FXAppTest(400, 300) {}
  std::unique_ptr<FXApp> makeApp() override { return std::make_unique<FXApp>("kvtest", "kvtest"); }
  void afterCreate() override { main->show(PLACEMENT_SCREEN); }
  void settle() { settleEvents(app.get(), 10); }
};

TEST_F(SmallDialogsTest, SplashIsAsLargeAsItsImageWithThePanelAtTheBottom) {
  auto* image = new FXImage(app.get(), nullptr, IMAGE_OWNED | IMAGE_KEEP, 240, 160);
  image->fill(FXRGB(200, 30, 30));
  auto* splash = new FXKSplashDialog(main, FXWString(u"Starting"), image, DECOR_NONE,
                                     FXKSplashDialog::SPLASH_OWNS_IMAGE);
  splash->create();
  splash->setText(FXWString(u"Loading"));
  splash->show(PLACEMENT_SCREEN);
  settle();
  EXPECT_EQ(splash->getWidth(), 240);
  EXPECT_EQ(splash->getHeight(), 160);
  FXWindow* panel = splash->getFirst();
  EXPECT_EQ(panel->getY() + panel->getHeight(), 160);
  EXPECT_EQ(panel->getWidth(), 240);
  splash->repaint();
  app->flush(true);
  settle();
  EXPECT_EQ(pixelOnceShown(splash, 20, 10, FXRGB(200, 30, 30) | 0xFF000000u), FXRGB(200, 30, 30) | 0xFF000000u);
  delete splash;
}

// An application that keeps its windows back (start-up not yet done).
class QuietApp : public FXKorvaneApp {
 public:
  QuietApp() : FXKorvaneApp(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr) {}
  bool mayShowWindows() override { return allowed; }
  bool allowed = false;
};

class QuietSplashTest : public FXAppTest<QuietApp> {
 protected:
  QuietSplashTest() : FXAppTest(200, 100) {}
  std::unique_ptr<QuietApp> makeApp() override { return std::make_unique<QuietApp>(); }
};

TEST_F(QuietSplashTest, TheSplashShowsOnlyWhenTheApplicationLetsIt) {
  auto* image = new FXImage(app.get(), nullptr, IMAGE_OWNED | IMAGE_KEEP, 120, 80);
  auto* splash = new FXKSplashDialog(main, FXWString(u"Starting"), image, DECOR_NONE,
                                     FXKSplashDialog::SPLASH_OWNS_IMAGE);
  splash->create();
  splash->show(PLACEMENT_SCREEN);
  EXPECT_FALSE(splash->shown());
  splash->show();
  EXPECT_FALSE(splash->shown());
  app->allowed = true;
  splash->show(PLACEMENT_SCREEN);
  EXPECT_TRUE(splash->shown());
  delete splash;
}

}  // namespace
