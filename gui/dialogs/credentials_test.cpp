// The credentials prompt: asked from a worker's refused enumeration through
// the access-retry handler, answered by FOX events on a plain stand-in for
// the password dialog of the dialogs library.
#include "gui/dialogs/credentials.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "files/remove_tree.h"
#include "gui/app/korvane_app.h"
#include "gui/dialogs/credentials_testing.h"
#include "platform/fox/fx_test_display.h"

using namespace FX;

namespace {

using kvtest::RefusedFolder;

// The password dialog as the prompt sees it: a dialog with two fields.
class StandInPrompt : public FXDialogBox, public FXKCredentialsForm {
 public:
  StandInPrompt(FXWindow* owner, const FXWString& header, FXuint options)
      : FXDialogBox(owner, "Connect", DECOR_TITLE | DECOR_BORDER), header(header.toUtf8()), options(options) {
    userField = new FXTextField(this, 20);
    passwordField = new FXTextField(this, 20);
  }
  FXDialogBox* dialogBox() override { return this; }
  FXWString getUserName() const override { return FXWString::fromUtf8(userField->getText().text()); }
  void setUserName(const FXWString& name) override { userField->setText(name.toUtf8().c_str()); }
  FXWString getPassword() const override { return FXWString::fromUtf8(passwordField->getText().text()); }
  FXTextField* userField;
  FXTextField* passwordField;
  std::string header;
  FXuint options;
};

int g_made = 0;
FXKCredentialsForm* makePrompt(FXWindow* owner, const FXWString&, const FXWString& header, FXuint options, int,
                               bool) {
  ++g_made;
  return new StandInPrompt(owner, header, options);
}

class PromptDriver : public FXObject {
  FXDECLARE(PromptDriver)

 public:
  std::function<void(StandInPrompt*)> step;
  long onTimeout(FXObject*, FXSelector, void*) {
    auto* dialog = dynamic_cast<StandInPrompt*>(FXApp::instance()->getModalWindow());
    if (!dialog) {
      FXApp::instance()->addTimeout(this, 1, 10);
      return 1;
    }
    step(dialog);
    return 1;
  }
};
FXDEFMAP(PromptDriver) PromptDriverMap[] = {FXMAPFUNC(SEL_TIMEOUT, 1, PromptDriver::onTimeout)};
FXIMPLEMENT(PromptDriver, FXObject, PromptDriverMap, ARRAYNUMBER(PromptDriverMap))

class CredentialsTest : public FXAppTest<FXKorvaneApp> {
 protected:
  CredentialsTest() : FXAppTest(300, 200) {}
  std::unique_ptr<FXKorvaneApp> makeApp() override {
    return std::make_unique<FXKorvaneApp>(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr);
  }
  void afterCreate() override {
    FXKInstallCredentialHandler(app.get());
    FXKorvaneApp::setPasswordDialogHook(&makePrompt);
    g_made = 0;
  }
  void beforeDestroy() override {
    FXKorvaneApp::setPasswordDialogHook(nullptr);
    FXKRemoveCredentialHandler();
  }
  // The refused enumeration happens on a worker; the GUI thread runs on.
  int refusedOnWorker(RefusedFolder& folder) {
    std::atomic<bool> done{false};
    int result = -1;
    std::thread worker([&] {
      access_retry_fn handler = access_retry_handler();
      result = handler ? handler(&folder, u"") : -2;
      done = true;
      app->wakeUp();
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < end) app->runOneEvent(false), std::this_thread::yield();
    worker.join();
    return result;
  }
  PromptDriver driver;
};

TEST_F(CredentialsTest, AnAcceptedPromptHandsTheCredentialsToTheFolder) {
  RefusedFolder folder;
  int nested = -1, second = -1;
  std::string header;
  FXuint options = 0;
  int superDepth = 0;
  driver.step = [&](StandInPrompt* dialog) {
    header = dialog->header;
    options = dialog->options;
    superDepth = app->superModeDepth();
    // A nested request from within the prompt answers at once, and so does
    // a second refusal while the prompt is up.
    RefusedFolder other;
    nested = FXKAskCredentials(app.get(), &other, u"x") ? 1 : 0;
    second = access_retry_handler()(nullptr, u"");
    dialog->userField->setText("bob");
    dialog->passwordField->setText("secret");
    dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  };
  app->addTimeout(&driver, 1, 10);
  EXPECT_EQ(refusedOnWorker(folder), 1);
  EXPECT_EQ(nested, 0);
  EXPECT_EQ(second, 0);
  EXPECT_GE(superDepth, 1);
  EXPECT_EQ(app->superModeDepth(), 0);
  EXPECT_EQ(folder.handed, 1);
  EXPECT_EQ(folder.user, u"bob");
  EXPECT_EQ(folder.password, u"secret");
  // One dialog for the nested asks, with the user-name row, named after the folder.
  EXPECT_EQ(g_made, 1);
  EXPECT_EQ(header, "Connect to \\\\server\\share");
  EXPECT_EQ(options, 0x14320000u);
}

TEST_F(CredentialsTest, ARefusedPromptStopsTheRetries) {
  RefusedFolder folder;
  driver.step = [](StandInPrompt* dialog) {
    dialog->handle(dialog, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
  };
  app->addTimeout(&driver, 1, 10);
  EXPECT_EQ(refusedOnWorker(folder), 0);
  EXPECT_EQ(folder.handed, 0);
}

// Without a password dialog installed the prompt answers as refused.
TEST_F(CredentialsTest, NoPasswordDialogNoRetry) {
  FXKorvaneApp::setPasswordDialogHook(nullptr);
  RefusedFolder folder;
  EXPECT_EQ(refusedOnWorker(folder), 0);
  EXPECT_EQ(folder.handed, 0);
  EXPECT_EQ(app->superModeDepth(), 0);
}

}  // namespace
