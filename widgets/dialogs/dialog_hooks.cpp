#include "widgets/dialogs/dialog_hooks.h"

#include "gui/app/korvane_app.h"
#include "widgets/dialogs/help_popup.h"
#include "widgets/dialogs/message_box.h"
#include "widgets/dialogs/password_dialog.h"

namespace {
std::uint32_t showMessage(FX::FXWindow* owner, std::uint32_t flags, const FXWString& text, const FXWString& caption) {
  return FXKMessageBox::message(owner, flags, text, caption);
}

FXKCredentialsForm* makePasswordDialog(FX::FXWindow* owner, const FXWString& title, const FXWString& header,
                                       FX::FXuint options, int headerKind, bool help) {
  return new FXKPasswordDialog(owner, title, header, options, headerKind, help);
}
}  // namespace

void FXKInstallDialogHooks() {
  FXKorvaneApp::setMessageHook(&showMessage);
  FXKorvaneApp::setHelpPopupHook(&FXKHelpPopup::run);
  FXKorvaneApp::setPasswordDialogHook(&makePasswordDialog);
}

void FXKRemoveDialogHooks() {
  FXKorvaneApp::setMessageHook(nullptr);
  FXKorvaneApp::setHelpPopupHook(nullptr);
  FXKorvaneApp::setPasswordDialogHook(nullptr);
}
