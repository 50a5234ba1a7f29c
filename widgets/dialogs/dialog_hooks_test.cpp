// Once the hooks are in, code below this library shows its dialogs: the
// message box for a message, the password dialog for a refused network folder.
#include "widgets/dialogs/dialog_hooks.h"

#include <gtest/gtest.h>

#include <string>

#include "gui/dialogs/credentials.h"
#include "gui/dialogs/credentials_testing.h"
#include "textlayout/text_view.h"
#include "widgets/dialogs/dialogs_testing.h"
#include "widgets/dialogs/message_box.h"
#include "widgets/dialogs/password_dialog.h"

using namespace FX;

namespace {

using kvtest::RefusedFolder;

class DialogHooksTest : public dialogs_test::DialogTest {
 protected:
  void afterCreate() override {
    DialogTest::afterCreate();
    FXKInstallDialogHooks();
  }
  void beforeDestroy() override { FXKRemoveDialogHooks(); }
};

TEST_F(DialogHooksTest, AMessageIsTheProgramsMessageBox) {
  FXKorvaneApp::MessageHook hook = FXKorvaneApp::messageHook();
  ASSERT_NE(hook, nullptr);
  std::string text;
  driver.start([&](FXWindow* w) {
    auto* box = dynamic_cast<FXKMessageBoxImpl*>(w);
    if (!box) return false;
    text = box->textView()->getLayout()->allText().toUtf8();
    dialogs_test::click(box->button(FXKMessageBox::BUTTON_NO));
    return true;
  });
  EXPECT_EQ(hook(main, FXKMessageBox::KIND_CONFIRMATION, FXWString(u"Go on?"), FXWString()),
            std::uint32_t(FXKMessageBox::BUTTON_NO));
  EXPECT_EQ(text, "Go on?");
}

// The prompt for a refused folder is the password dialog with its banner,
// the user-name row filled in and the folder named; OK hands both over.
TEST_F(DialogHooksTest, TheCredentialsPromptIsThePasswordDialog) {
  RefusedFolder folder;
  std::string title, header, user;
  int style = 0;
  bool focusOnPassword = false;
  driver.start([&](FXWindow* w) {
    auto* dialog = dynamic_cast<FXKPasswordDialog*>(w);
    if (!dialog) return false;
    title = dialog->getTitle().text();
    header = dialog->titleLabel()->getText().text();
    style = dialog->getStyle();
    user = dialog->getUserName().toUtf8();
    focusOnPassword = dialog->initialField() == dialog->passwordField();
    dialog->passwordField()->setText("s3cret");
    dialogs_test::click(dialog->okButton());
    return true;
  });
  EXPECT_TRUE(FXKAskCredentials(app.get(), &folder, u"bob"));
  EXPECT_EQ(title, "Connect");
  EXPECT_EQ(header, "Connect to \\\\server\\share");
  EXPECT_EQ(style, 2);
  EXPECT_EQ(user, "bob");
  EXPECT_TRUE(focusOnPassword);
  EXPECT_EQ(folder.handed, 1);
  EXPECT_EQ(folder.user, u"bob");
  EXPECT_EQ(folder.password, u"s3cret");

  // Cancel hands nothing over.
  driver.start([&](FXWindow* w) {
    auto* dialog = dynamic_cast<FXKPasswordDialog*>(w);
    if (!dialog) return false;
    dialogs_test::click(dialog->cancelButton());
    return true;
  });
  EXPECT_FALSE(FXKAskCredentials(app.get(), &folder, u""));
  EXPECT_EQ(folder.handed, 1);
}

}  // namespace
