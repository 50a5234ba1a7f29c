// The prompt for a user name and password when a network folder refuses
// access, and the file library's access-retry handler that leads to it.
// Includes FOX.
#pragma once

#include "files/file_object.h"
#include "platform/fox/fxwstring.h"

namespace FX {
class FXDialogBox;
}
class FXKorvaneApp;

// What the prompt needs of the password dialog, which lives in a library
// above this one and comes through FXKorvaneApp::setPasswordDialogHook.
// Deleting the form deletes the dialog.
class FXKCredentialsForm {
 public:
  virtual ~FXKCredentialsForm() = default;
  virtual FX::FXDialogBox* dialogBox() = 0;
  virtual FX::FXWString getUserName() const = 0;
  virtual void setUserName(const FX::FXWString& name) = 0;
  virtual FX::FXWString getPassword() const = 0;
};

// Makes `app` the process's credentials application and installs the
// access-retry handler, keeping the previous ones; the remove puts them back.
void FXKInstallCredentialHandler(FXKorvaneApp* app);
void FXKRemoveCredentialHandler();

// GUI thread. Asks (in super mode, over the main window) and hands the
// answer to `object` as an "SPWD" request; false when refused, when a
// prompt is already up (a nested request answers at once) or when no
// password dialog is installed.
bool FXKAskCredentials(FXKorvaneApp* app, file_object* object, const char16_t* userName);

// The second handler (FXKorvaneApp::installCredentialCallback): asks through
// FXKorvaneApp::askCredentials directly, with its own re-entrancy flag.
void FXKInstallDirectCredentialHandler(FXKorvaneApp* app);
void FXKRemoveDirectCredentialHandler();
