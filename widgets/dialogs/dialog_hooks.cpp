#include "widgets/dialogs/dialog_hooks.h"

#include "gui/app/korvane_app.h"
#include "widgets/dialogs/message_box.h"

namespace {
std::uint32_t showMessage(FX::FXWindow* owner, std::uint32_t flags, const FXWString& text, const FXWString& caption) {
  return FXKMessageBox::message(owner, flags, text, caption);
}
}  // namespace

void FXKInstallDialogHooks() { FXKorvaneApp::setMessageHook(&showMessage); }
void FXKRemoveDialogHooks() { FXKorvaneApp::setMessageHook(nullptr); }
