// The password dialog below this library shows its refusal in the program's
// message box once the hooks are in.
#include "widgets/dialogs/dialog_hooks.h"

#include <gtest/gtest.h>

#include "gui/dialogs/small_dialogs.h"
#include "textlayout/text_view.h"
#include "widgets/dialogs/dialogs_testing.h"
#include "widgets/dialogs/message_box.h"

using namespace FX;

namespace {

class DialogHooksTest : public dialogs_test::DialogTest {
 protected:
  void afterCreate() override {
    DialogTest::afterCreate();
    FXKInstallDialogHooks();
  }
  void beforeDestroy() override { FXKRemoveDialogHooks(); }
};

TEST_F(DialogHooksTest, MismatchingPasswordsAreRefusedInTheMessageBox) {
  FXKPasswordDialog dialog(main, FXWString(u"Change"), FXWString(u"New password"),
                           FXKPasswordDialog::PASSWORD_CHANGE | FXKPasswordDialog::PASSWORD_NO_OLD, 0, false);
  dialog.create();
  dialog.newPasswordField()->setText("one");
  dialog.confirmField()->setText("two");
  std::string caption;
  bool errorKind = false;
  driver.start([&](FXWindow* w) {
    auto* box = dynamic_cast<FXKMessageBoxImpl*>(w);
    if (!box) return false;
    caption = box->getTitle().text();
    errorKind = box->button(FXKMessageBox::BUTTON_OK) != nullptr;
    dialogs_test::click(box->button(FXKMessageBox::BUTTON_OK));
    return true;
  });
  EXPECT_FALSE(dialog.canAccept());
  EXPECT_EQ(caption, "Vazedi for Dovecrest 2013");
  EXPECT_TRUE(errorKind);
  dialog.confirmField()->setText("one");
  EXPECT_TRUE(dialog.canAccept());
}

}  // namespace
