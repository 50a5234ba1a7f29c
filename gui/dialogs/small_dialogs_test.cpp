// The splash window on a real X display.
#include "gui/dialogs/small_dialogs.h"

#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
