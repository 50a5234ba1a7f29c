// The install menu's application shows the framework's dialogs: a message is
// its message box, an escaped error its error dialog, a help text its pop-up,
// a refused network folder its password dialog. Driven on a real X display.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "core/error.h"
#include "gui/dialogs/credentials.h"
#include "gui/dialogs/help.h"
#include "installmenu/app/install_menu_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/win32/testing/test_world.h"
#include "widgets/dialogs/error_dialog.h"
#include "widgets/dialogs/help_popup.h"
#include "widgets/dialogs/message_box.h"
#include "widgets/dialogs/password_dialog.h"

using namespace FX;

namespace {

// Acts on the modal window once it is up; a step that answers false is
// tried again a little later.
class Driver : public FXObject {
  FXDECLARE(Driver)

 public:
  std::function<bool(FXWindow*)> step;
  void start(std::function<bool(FXWindow*)> s) {
    step = std::move(s);
    FXApp::instance()->addTimeout(this, 1, 10);
  }
  long onTimeout(FXObject*, FXSelector, void*) {
    FXApp::instance()->addTimeout(this, 1, 10);
    FXWindow* modal = FXApp::instance()->getModalWindow();
    if (modal && modal->shown() && step(modal)) FXApp::instance()->removeTimeout(this, 1);
    return 1;
  }
};
FXDEFMAP(Driver) DriverMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, Driver::onTimeout)};
FXIMPLEMENT(Driver, FXObject, DriverMap, ARRAYNUMBER(DriverMap))

void press(FXWindow* button) {
  ASSERT_NE(button, nullptr);
  button->getTarget()->handle(button, FXSEL(SEL_COMMAND, button->getSelector()), nullptr);
}

class ProgramDialogsTest : public win32_test::World {
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
    app->mainWindow()->show(PLACEMENT_SCREEN);
  }
  void TearDown() override {
    if (app) {
      app->destroy();
      app.reset();
    }
    World::TearDown();
  }
  std::unique_ptr<FXKInstallMenuApp> app;
  Driver driver;
};

TEST_F(ProgramDialogsTest, MessagesAndEscapedErrorsShowTheFrameworksDialogs) {
  // A message from code below the dialogs library.
  ASSERT_NE(FXKorvaneApp::messageHook(), nullptr);
  bool box = false;
  driver.start([&](FXWindow* w) {
    auto* b = dynamic_cast<FXKMessageBoxImpl*>(w);
    if (!b) return false;
    box = true;
    press(b->button(FXKMessageBox::BUTTON_OK));
    return true;
  });
  EXPECT_EQ(FXKorvaneApp::messageHook()(app->mainWindow(), 2, FXWString(u"Done."), FXWString()), 1u);
  EXPECT_TRUE(box);

  // An error that escaped an event handler: Ignore goes on, Quit does not.
  const Common::Error error(KV_SITE, 0x564E20, u"Something failed.");
  struct Row {
    const char* what;
    bool quit;
  } rows[] = {{"Ignore", false}, {"Quit", true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    bool shown = false;
    driver.start([&](FXWindow* w) {
      auto* d = dynamic_cast<FXKErrorDialog*>(w);
      if (!d) return false;
      shown = true;
      press(r.quit ? d->quitButton() : d->ignoreButton());
      return true;
    });
    EXPECT_EQ(app->showEventError(error), r.quit);
    EXPECT_TRUE(shown);
  }
}

TEST_F(ProgramDialogsTest, HelpTextsAndPasswordPromptsShowTheFrameworksDialogs) {
  bool popup = false;
  driver.start([&](FXWindow* w) {
    auto* p = dynamic_cast<FXKHelpPopup*>(w);
    if (!p) return false;
    popup = true;
    p->popdown();
    return true;
  });
  FXKHelpRequest request;
  request.window = app->mainWindow();
  request.flags = 0x2;
  request.text = u"Installs the hotfix.";
  request.x = 100;
  request.y = 100;
  EXPECT_TRUE(app->showHelpTopic(request));
  EXPECT_TRUE(popup);

  FXKorvaneApp::PasswordDialogHook make = FXKorvaneApp::passwordDialogHook();
  ASSERT_NE(make, nullptr);
  std::unique_ptr<FXKCredentialsForm> form(
      make(app->mainWindow(), FXWString(u"Connect"), FXWString(u"Connect to \\\\server"), 0x14320000, 1, false));
  EXPECT_NE(dynamic_cast<FXKPasswordDialog*>(form->dialogBox()), nullptr);
}

// The hooks go with the application.
TEST_F(ProgramDialogsTest, TheHooksGoWithTheApplication) {
  app->destroy();
  app.reset();
  EXPECT_EQ(FXKorvaneApp::messageHook(), nullptr);
  EXPECT_EQ(FXKorvaneApp::helpPopupHook(), nullptr);
  EXPECT_EQ(FXKorvaneApp::passwordDialogHook(), nullptr);
  EXPECT_EQ(FXKorvaneApp::errorPresenter(), nullptr);
}

}  // namespace
