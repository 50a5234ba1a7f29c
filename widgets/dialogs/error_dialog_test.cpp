#include "widgets/dialogs/error_dialog.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <functional>
#include <string>

#include <fxkeys.h>

#include "textlayout/text_view.h"
#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

// Runs a step inside the dialog's modal loop.
class Driver : public FXObject {
  FXDECLARE(Driver)
 public:
  std::function<void()> step;
  long onTimeout(FXObject*, FXSelector, void*) {
    if (step) step();
    return 1;
  }
};
FXDEFMAP(Driver) DriverMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, Driver::onTimeout)};
FXIMPLEMENT(Driver, FXObject, DriverMap, ARRAYNUMBER(DriverMap))

// An error from an event handler.
class Thrower : public FXObject {
  FXDECLARE(Thrower)
 public:
  long onChore(FXObject*, FXSelector, void*) { throw Common::Error(KV_SITE, 0x564E20, u"The check failed."); }
};
FXDEFMAP(Thrower) ThrowerMap[] = {FXMAPFUNCS(SEL_CHORE, 0, 0xFFFF, Thrower::onChore)};
FXIMPLEMENT(Thrower, FXObject, ThrowerMap, ARRAYNUMBER(ThrowerMap))

FXKErrorDialog* openDialog(FXApp* app) {
  for (FXWindow* w = app->getRootWindow()->getFirst(); w; w = w->getNext())
    if (auto* d = dynamic_cast<FXKErrorDialog*>(w)) return d;
  return nullptr;
}

void click(FXWindow* button) {
  FXEvent ev{};
  ev.code = LEFTBUTTON;
  ev.win_x = 3;
  ev.win_y = 3;
  ev.type = SEL_LEFTBUTTONPRESS;
  button->handle(button, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
  ev.type = SEL_LEFTBUTTONRELEASE;
  button->handle(button, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &ev);
}

void pressKey(FXWindow* window, FXuint key) {
  FXEvent ev{};
  ev.type = SEL_KEYPRESS;
  ev.code = key;
  window->handle(window, FXSEL(SEL_KEYPRESS, 0), &ev);
}

FXColor pixelAt(FXWindow* window, FXint x, FXint y) {
  auto* display = static_cast<Display*>(window->getApp()->getDisplay());
  XImage* image = XGetImage(display, window->id(), x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return 0;
  const unsigned long p = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return FXRGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

class ErrorDialogTest : public kvtest::GuiTest {
 protected:
  void SetUp() override {
    kvtest::GuiTest::SetUp();
    if (app) show();
  }
  // Runs the dialog for `error`; `answer` ends it from inside its loop.
  bool runWith(const Common::Error& error, std::function<void(FXKErrorDialog*)> answer) {
    driver.step = [this, answer] {
      FXKErrorDialog* d = openDialog(app.get());
      if (d && d->shown()) {
        answer(d);
      } else {
        app->addTimeout(&driver, 1, 20);
      }
    };
    app->addTimeout(&driver, 1, 20);
    return FXKErrorDialog::run(error, app.get());
  }
  Driver driver;
};

TEST_F(ErrorDialogTest, IgnoreEscapeAndTheCloseBoxGoOnQuitDoesNot) {
  const Common::Error error(KV_SITE, 0x564E20, u"Something failed.");
  struct Case {
    const char* name;
    std::function<void(FXKErrorDialog*)> answer;
    bool result;
  };
  const Case cases[] = {
      {"Ignore", [](FXKErrorDialog* d) { click(d->ignoreButton()); }, true},
      {"Escape", [](FXKErrorDialog* d) { pressKey(d, KEY_Escape); }, true},
      {"close box", [](FXKErrorDialog* d) { d->handle(d, FXSEL(SEL_CLOSE, 0), nullptr); }, true},
      {"Quit", [](FXKErrorDialog* d) { click(d->quitButton()); }, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runWith(error, c.answer), c.result) << c.name;
    EXPECT_EQ(openDialog(app.get()), nullptr) << c.name << ": the dialog is deleted";
  }
}

TEST_F(ErrorDialogTest, QuitFromAnEscapedErrorEndsTheProgramWithAFailureCode) {
  ASSERT_NE(FXKorvaneApp::errorPresenter(), nullptr);  // installed by linking the dialog in
  Thrower thrower;
  driver.step = [this] {
    FXKErrorDialog* d = openDialog(app.get());
    if (d && d->shown())
      click(d->quitButton());
    else
      app->addTimeout(&driver, 1, 20);
  };
  app->addTimeout(&driver, 1, 20);
  app->postChore(&thrower, 1, nullptr, nullptr, false);
  EXPECT_EQ(app->run(), 2);
}

TEST_F(ErrorDialogTest, TheMainTextIsTheErrorInBoldThenTheAdvice) {
  // Without advice: the support paragraph. Markup in the error's text stays text.
  FXKErrorDialog d(main, Common::Error(KV_SITE, 0x564E20, u"Cannot open <link href=\"execute://x\">a</link> & b"),
                   DECOR_ALL);
  d.create();
  const std::string text = d.mainText().toUtf8();
  EXPECT_EQ(text.rfind("<bold>Cannot open &#60;link href=\"execute://x\">a&#60;/link> &#38; b</bold>\n\nPlease <link "
                       "href=",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find(">contact</link> Korvane support team for information on how to resolve this issue.\n"),
            std::string::npos);
  const std::string shown = d.mainView()->getLayout()->allText().toUtf8();
  EXPECT_EQ(shown.rfind("Cannot open <link href=\"execute://x\">a</link> & b", 0), 0u) << shown;
}

// Lets the X server answer every request so far and takes its answers: a
// configure notice of the first showing must not come after a later resize.
void settle(FXExtApp* app) {
  for (int i = 0; i < 3; ++i) {
    app->flush(true);
    app->runWhileEvents(nullptr);
  }
}

TEST_F(ErrorDialogTest, DetailsTogglesItsCaptionAndTheDialogsHeight) {
  auto* d = new FXKErrorDialog(main, Common::Error(KV_SITE, 0x564E20, u"Something failed."), DECOR_ALL);
  d->create();
  d->show(PLACEMENT_SCREEN);
  settle(app.get());
  EXPECT_EQ(d->detailsButton()->getText(), "Details >>");
  EXPECT_FALSE(d->detailsPane()->shown());
  const FXint closedHeight = d->getHeight();
  EXPECT_LT(closedHeight, 300);  // laid out for its width, not for the window it started as

  click(d->detailsButton());
  settle(app.get());
  EXPECT_EQ(d->detailsButton()->getText(), "Details <<");
  EXPECT_TRUE(d->detailsPane()->shown());
  EXPECT_GE(d->getHeight(), closedHeight + 200);

  click(d->detailsButton());
  settle(app.get());
  EXPECT_EQ(d->detailsButton()->getText(), "Details >>");
  EXPECT_FALSE(d->detailsPane()->shown());
  EXPECT_EQ(d->getHeight(), closedHeight);

  // The buttons share the widest one's width, at least 80.
  EXPECT_EQ(d->quitButton()->getWidth(), d->ignoreButton()->getWidth());
  EXPECT_GE(d->quitButton()->getWidth(), 80);
  EXPECT_GE(d->getWidth(), 360);
  delete d;
}

TEST_F(ErrorDialogTest, TheClipboardGetsTheDetailsWithoutCarriageReturns) {
  auto* d = new FXKErrorDialog(main, Common::Error(KV_SITE, 0x564E20, u"First line\r\nsecond line\r\n"), DECOR_ALL);
  d->create();
  d->show(PLACEMENT_SCREEN);
  click(d->detailsButton());
  app->runWhileEvents(nullptr);
  ASSERT_NE(d->detailsText().toUtf8().find("First line\r\nsecond line"), std::string::npos);

  click(d->copyButton());
  FXuchar* data = nullptr;
  FXuint size = 0;
  ASSERT_TRUE(main->getDNDData(FROM_CLIPBOARD, FXWindow::stringType, data, size));
  const std::string pasted(reinterpret_cast<char*>(data), size);
  FXFREE(&data);
  EXPECT_EQ(pasted.find('\r'), std::string::npos);
  EXPECT_NE(pasted.find("First line\nsecond line"), std::string::npos) << pasted;
  delete d;
}

TEST_F(ErrorDialogTest, TheStopSignIsPaintedBesideTheText) {
  auto* d = new FXKErrorDialog(main, Common::Error(KV_SITE, 0x564E20, u"Something failed."), DECOR_ALL);
  d->create();
  d->show(PLACEMENT_SCREEN);
  app->runWhileEvents(nullptr);
  app->repaint();
  app->flush(true);
  FXLabel* stop = d->stopLabel();
  ASSERT_NE(stop->getIcon(), nullptr);
  EXPECT_EQ(stop->getIcon()->getWidth(), 32);
  // Left of the centre: inside the red disc, off the white cross.
  const FXint x = stop->getWidth() / 2 - 10, y = stop->getHeight() / 2;
  FXColor seen = 0;
  for (int tries = 0; tries < 50 && seen != FXRGB(0xE0, 0x20, 0x20); ++tries) {
    app->runWhileEvents(nullptr);
    seen = pixelAt(stop, x, y);
  }
  EXPECT_EQ(seen, FXRGB(0xE0, 0x20, 0x20));
  // The picture's clear corner shows the label behind it.
  const FXColor back = stop->getBackColor();
  EXPECT_EQ(pixelAt(stop, stop->getWidth() / 2 - 15, stop->getHeight() / 2 - 15),
            FXRGB(FXREDVAL(back), FXGREENVAL(back), FXBLUEVAL(back)));
  delete d;
}

}  // namespace
