// The password dialog on the test display: its rows by mode, its header by
// kind, the refusal of mismatching passwords, and the prompt for a refused
// network folder once the hooks are in.
#include "widgets/dialogs/password_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "textlayout/text_view.h"
#include "widgets/dialogs/dialog_hooks.h"
#include "widgets/dialogs/dialogs_testing.h"
#include "widgets/dialogs/message_box.h"

using namespace FX;
using dialogs_test::click;

namespace {

class PasswordDialogTest : public dialogs_test::DialogTest {
 protected:
  void beforeDestroy() override { FXKRemoveDialogHooks(); }
};

std::string utf8(const FXWString& s) { return s.toUtf8(); }

// The icons of the labels under `w`, in creation order.
void labelIcons(FXWindow* w, std::vector<FXIcon*>& out) {
  for (FXWindow* c = w->getFirst(); c; c = c->getNext()) {
    if (auto* label = dynamic_cast<FXLabel*>(c); label && label->getIcon()) out.push_back(label->getIcon());
    labelIcons(c, out);
  }
}

TEST_F(PasswordDialogTest, RowsByMode) {
  struct Row {
    const char* what;
    FXuint options;
    bool user, old, change;
    const char* help;  // of the field the password goes in
  } rows[] = {
      {"plain", 0, false, true, false, "Provides a space for you to enter the password."},
      {"with user name", FXKPasswordDialog::PASSWORD_USER, true, true, false,
       "Provides a space for you to enter the password."},
      {"change", FXKPasswordDialog::PASSWORD_CHANGE, false, true, true,
       "Provides a space for you to enter the old password."},
      {"change without old", FXKPasswordDialog::PASSWORD_CHANGE | FXKPasswordDialog::PASSWORD_NO_OLD, false, false,
       true, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    auto* d = new FXKPasswordDialog(main, FXWString(u"t"), FXWString(u"Header"), r.options, 2, false);
    EXPECT_EQ(d->userField() != nullptr, r.user);
    EXPECT_EQ(d->passwordField() != nullptr, r.old);
    EXPECT_EQ(d->confirmField() != nullptr, r.change);
    EXPECT_EQ(d->newPasswordField() != nullptr, r.change);
    if (r.help) {
      EXPECT_EQ(std::string(d->passwordField()->getHelpText().text()), r.help);
    }
    if (r.change) {
      EXPECT_EQ(std::string(d->confirmField()->getHelpText().text()),
                "Provides a space for you to confirm the new password.");
    }
    EXPECT_EQ(d->getDefaultWidth(), 335);
    EXPECT_EQ(std::string(d->okButton()->getHelpText().text()),
              "Closes the dialog box and saves all the changes you have made.");
    EXPECT_EQ(std::string(d->cancelButton()->getHelpText().text()),
              "Closes the dialog box without saving all the changes you have made.");
    EXPECT_EQ(d->helpButton(), nullptr);
    if (r.user) {
      EXPECT_EQ(d->initialField(), d->userField());
      d->setUserName(FXWString(u"alice"));
      EXPECT_EQ(utf8(d->getUserName()), "alice");
      // A known user leaves the password to type.
      EXPECT_EQ(d->initialField(), d->passwordField());
    } else {
      EXPECT_TRUE(d->getUserName().empty());
      d->setUserName(FXWString(u"alice"));
      EXPECT_TRUE(d->getUserName().empty());
    }
    d->create();
    d->show(PLACEMENT_SCREEN);
    // Outside change mode any entry is accepted.
    if (!r.change) {
      click(d->okButton());
      EXPECT_FALSE(d->shown());
    }
    delete d;
  }
}

// Header kind 1 is a banner over the dialog in the plain style; any other
// kind an icon beside the header text in the white style.
TEST_F(PasswordDialogTest, HeaderByKind) {
  struct Row {
    int kind;
    int style;
    FXint iconWidth, iconHeight;
  } rows[] = {{1, 2, 320, 60}, {0, 3, 32, 32}, {2, 3, 32, 32}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.kind);
    FXKPasswordDialog d(main, FXWString(u"Connect"), FXWString(u"Connect to \\\\server"),
                        FXKPasswordDialog::PASSWORD_USER, r.kind, true);
    EXPECT_EQ(d.getStyle(), r.style);
    EXPECT_EQ(std::string(d.titleLabel()->getText().text()), "Connect to \\\\server");
    std::vector<FXIcon*> icons;
    labelIcons(&d, icons);
    ASSERT_FALSE(icons.empty());
    EXPECT_EQ(icons[0]->getWidth(), r.iconWidth);
    EXPECT_EQ(icons[0]->getHeight(), r.iconHeight);
    // The help flag is the extra value the dialog answers.
    EXPECT_EQ(d.handle(&d, FXSEL(SEL_COMMAND, FXKOperationDialog::ID_EXTRA), nullptr), 1);
  }
  // With a help viewer the help flag adds the Help button.
  app->setHelpFile(FXWString(u"C:\\help.chm"), nullptr);
  FXKPasswordDialog withHelp(main, FXWString(u"t"), FXWString(), 0, 2, true);
  EXPECT_NE(withHelp.helpButton(), nullptr);
  FXKPasswordDialog without(main, FXWString(u"t"), FXWString(), 0, 2, false);
  EXPECT_EQ(without.helpButton(), nullptr);
}

TEST_F(PasswordDialogTest, ChangeModeRefusesMismatchingPasswords) {
  auto* dialog = new FXKPasswordDialog(main, FXWString(u"Change"), FXWString(u"New password"),
                                       FXKPasswordDialog::PASSWORD_CHANGE, 2, false);
  dialog->create();
  dialog->show(PLACEMENT_SCREEN);
  dialog->newPasswordField()->setText("first");
  dialog->confirmField()->setText("second");
  std::string seen, caption;
  bool errorIcon = false;
  driver.start([&](FXWindow* w) {
    auto* box = dynamic_cast<FXKMessageBoxImpl*>(w);
    if (!box) return false;
    seen = box->textView()->getLayout()->allText().toUtf8();
    caption = box->getTitle().text();
    errorIcon = box->button(FXKMessageBox::BUTTON_OK) && !box->button(FXKMessageBox::BUTTON_CANCEL);
    click(box->button(FXKMessageBox::BUTTON_OK));
    return true;
  });
  click(dialog->okButton());
  EXPECT_NE(seen.find("Passwords do not match."), std::string::npos) << seen;
  EXPECT_EQ(caption, "Vazedi for Dovecrest 2013");  // the error kind's caption
  EXPECT_TRUE(errorIcon);
  EXPECT_TRUE(dialog->shown());

  dialog->confirmField()->setText("first");
  click(dialog->okButton());
  EXPECT_FALSE(dialog->shown());
  EXPECT_EQ(utf8(dialog->getNewPassword()), "first");
  delete dialog;
}

}  // namespace
