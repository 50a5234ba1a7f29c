// The dialog that asks for a user name and a password, or for a new password
// twice; the credentials prompt of the application shows it. Includes FOX.
#pragma once

#include <fx.h>

#include "gui/dialogs/credentials.h"
#include "widgets/dialogs/operation_dialog.h"

class FXKPasswordDialog : public FXKOperationDialog, public FXKCredentialsForm {
  FXDECLARE(FXKPasswordDialog)

 public:
  enum {
    PASSWORD_USER = 0x10000000,
    PASSWORD_CHANGE = 0x20000000,
    PASSWORD_NO_OLD = 0x40000000,
  };
  // Header kind 1: a banner over the dialog (style 2); any other kind: an
  // icon beside the header text (style 3).
  FXKPasswordDialog(FX::FXWindow* owner, const FXWString& title, const FXWString& header, FX::FXuint options,
                    int headerKind, bool help);
  ~FXKPasswordDialog() override;

  void create() override;
  FX::FXDialogBox* dialogBox() override { return this; }
  FXWString getUserName() const override;
  void setUserName(const FXWString& name) override;
  FXWString getPassword() const override;
  FXWString getNewPassword() const;

  FX::FXint getDefaultWidth() override { return 335; }
  FX::FXint getMinimalWidth() override { return 335; }
  FX::FXint getMinimalHeight() { return getHeightForWidth(getWidth()); }
  // Change mode refuses a confirmation that differs from the new password.
  bool canAccept() override;

  FX::FXTextField* userField() const { return userField_; }
  FX::FXTextField* passwordField() const { return passwordField_; }
  FX::FXTextField* newPasswordField() const { return newPasswordField_; }
  FX::FXTextField* confirmField() const { return confirmField_; }
  // The field that takes the focus when the dialog is created.
  FX::FXTextField* initialField() const { return initial_; }

 protected:
  FXKPasswordDialog() = default;

 private:
  FXKPasswordDialog(FX::FXWindow* owner, const FXWString& title, const FXWString& header, FX::FXuint options,
                    int headerKind, bool help, FX::FXIcon* picture);
  FX::FXuint mode_ = 0;
  FX::FXTextField* userField_ = nullptr;
  FX::FXTextField* passwordField_ = nullptr;
  FX::FXTextField* newPasswordField_ = nullptr;
  FX::FXTextField* confirmField_ = nullptr;
  FX::FXTextField* initial_ = nullptr;
  FX::FXIcon* headerIcon_ = nullptr;  // owned
};
