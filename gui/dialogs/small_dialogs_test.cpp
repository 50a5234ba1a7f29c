// The splash window, the help pop-up and the password dialog on a real X
// display, driven by FOX events.
#include "gui/dialogs/small_dialogs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "platform/fox/fx_test_display.h"

using namespace FX;

namespace {

// Runs `step` on FOX's message box once it is up.
class BoxDriver : public FXObject {
  FXDECLARE(BoxDriver)

 public:
  std::function<void(FXMessageBox*)> step;
  long onTimeout(FXObject*, FXSelector, void*) {
    auto* box = dynamic_cast<FXMessageBox*>(FXApp::instance()->getModalWindow());
    if (!box) {
      FXApp::instance()->addTimeout(this, 1, 10);
      return 1;
    }
    step(box);
    return 1;
  }
};
FXDEFMAP(BoxDriver) BoxDriverMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, BoxDriver::onTimeout)};
FXIMPLEMENT(BoxDriver, FXObject, BoxDriverMap, ARRAYNUMBER(BoxDriverMap))

FXString labelTexts(FXWindow* parent) {
  FXString all;
  for (FXWindow* w = parent->getFirst(); w; w = w->getNext()) {
    if (auto* l = dynamic_cast<FXLabel*>(w)) all += l->getText() + "|";
    all += labelTexts(w);
  }
  return all;
}

class SmallDialogsTest : public FXAppTest<FXApp> {
 protected:
  SmallDialogsTest() : FXAppTest(400, 300) {}
  std::unique_ptr<FXApp> makeApp() override { return std::make_unique<FXApp>("kvtest", "kvtest"); }
  void afterCreate() override { main->show(PLACEMENT_SCREEN); }
  void settle() { settleEvents(app.get(), 10); }
  static FXEvent press(FXint rootX, FXint rootY, FXSelector type) {
    FXEvent ev;
    ev.type = type;
    ev.root_x = rootX;
    ev.root_y = rootY;
    ev.code = LEFTBUTTON;
    return ev;
  }
};

TEST_F(SmallDialogsTest, HelpPopupWrapsAt300AndSitsAboveThePoint) {
  auto* popup = new FXKHelpPopup(main);
  popup->create();
  popup->setText(FXWString(u"Short <b>help</b>."));
  const FXint shortWidth = popup->getDefaultWidth();
  EXPECT_LT(shortWidth, 150);
  popup->setText(FXWString(
      u"A long help text that certainly does not fit into three hundred pixels on a single line, so it wraps."));
  const FXint w = popup->getDefaultWidth();
  EXPECT_LE(w, FXKHelpPopup::kMaxWidth + 2 * popup->getBorderWidth());
  EXPECT_GT(w, 200);
  const FXint h = popup->getHeightForWidth(w);
  EXPECT_GT(h, 2 * app->getNormalFont()->getFontHeight());

  popup->popupNear(main, 300, 250);
  EXPECT_TRUE(popup->shown());
  EXPECT_EQ(popup->getX(), 290);
  EXPECT_EQ(popup->getY(), 250 - h - 10);
  EXPECT_EQ(popup->getWidth(), w);
  delete popup;
}

TEST_F(SmallDialogsTest, HelpPopupClosesOnAClick) {
  auto* popup = new FXKHelpPopup(main);
  popup->create();
  popup->setText(FXWString(u"Click me."));
  struct Row {
    const char* what;
    bool inside;
  } rows[] = {{"inside: closes on release", true}, {"outside: closes at once", false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    popup->popupNear(main, 200, 200);
    ASSERT_TRUE(popup->shown());
    const FXint x = r.inside ? popup->getX() + 3 : popup->getX() + popup->getWidth() + 50;
    const FXint y = r.inside ? popup->getY() + 3 : popup->getY() - 50;
    FXEvent down = press(x, y, SEL_LEFTBUTTONPRESS);
    popup->handle(popup, FXSEL(SEL_LEFTBUTTONPRESS, 0), &down);
    EXPECT_EQ(popup->shown() != 0, r.inside);
    FXEvent up = press(x, y, SEL_LEFTBUTTONRELEASE);
    popup->handle(popup, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &up);
    EXPECT_FALSE(popup->shown());
  }
  delete popup;
}

TEST_F(SmallDialogsTest, ChangeModeRefusesMismatchingPasswords) {
  auto* dialog = new FXKPasswordDialog(main, FXWString(u"Change"), FXWString(u"New password"),
                                       FXKPasswordDialog::PASSWORD_CHANGE, 2, false);
  dialog->create();
  dialog->show(PLACEMENT_SCREEN);
  EXPECT_NE(dialog->passwordField(), nullptr);
  EXPECT_EQ(dialog->userField(), nullptr);
  EXPECT_EQ(dialog->getDefaultWidth(), 335);
  dialog->newPasswordField()->setText("first");
  dialog->confirmField()->setText("second");

  BoxDriver driver;
  FXString seen;
  driver.step = [&](FXMessageBox* box) {
    seen = labelTexts(box);
    box->handle(box, FXSEL(SEL_COMMAND, FXMessageBox::ID_CLICKED_OK), nullptr);
  };
  app->addTimeout(&driver, 1, 10);
  dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  EXPECT_NE(seen.find("Passwords do not match."), -1) << seen.text();
  EXPECT_TRUE(dialog->shown());

  dialog->confirmField()->setText("first");
  dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  EXPECT_FALSE(dialog->shown());
  EXPECT_EQ(std::string(dialog->getNewPassword().toUtf8()), "first");
  delete dialog;
}

TEST_F(SmallDialogsTest, PasswordRowsByMode) {
  struct Row {
    const char* what;
    FXuint options;
    bool user, old, change;
  } rows[] = {
      {"plain", 0, false, true, false},
      {"with user name", FXKPasswordDialog::PASSWORD_USER, true, true, false},
      {"change", FXKPasswordDialog::PASSWORD_CHANGE, false, true, true},
      {"change without old", FXKPasswordDialog::PASSWORD_CHANGE | FXKPasswordDialog::PASSWORD_NO_OLD, false, false,
       true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    auto* d = new FXKPasswordDialog(main, FXWString(u"t"), FXWString(), r.options, 1, false);
    EXPECT_EQ(d->userField() != nullptr, r.user);
    EXPECT_EQ(d->passwordField() != nullptr, r.old);
    EXPECT_EQ(d->confirmField() != nullptr, r.change);
    if (r.user) {
      d->setUserName(FXWString(u"alice"));
      EXPECT_EQ(std::string(d->getUserName().toUtf8()), "alice");
    } else {
      EXPECT_TRUE(d->getUserName().empty());
    }
    // Outside change mode any entry is accepted.
    d->create();
    d->show(PLACEMENT_SCREEN);
    if (!r.change) {
      d->handle(d, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
      EXPECT_FALSE(d->shown());
    }
    delete d;
  }
}

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
