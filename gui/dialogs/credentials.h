// The prompt for a user name and password when a network folder refuses
// access, and the file library's access-retry handler that leads to it.
// Includes FOX.
#pragma once

#include "files/file_object.h"

class FXKorvaneApp;

// Makes `app` the process's credentials application and installs the
// access-retry handler, keeping the previous ones; the remove puts them back.
void FXKInstallCredentialHandler(FXKorvaneApp* app);
void FXKRemoveCredentialHandler();

// GUI thread. Asks (in super mode, over the main window) and hands the
// answer to `object` as an "SPWD" request; false when refused, or when a
// prompt is already up (a nested request answers at once).
bool FXKAskCredentials(FXKorvaneApp* app, file_object* object, const char16_t* userName);

// The second handler (FXKorvaneApp::installCredentialCallback): asks through
// FXKorvaneApp::askCredentials directly, with its own re-entrancy flag.
void FXKInstallDirectCredentialHandler(FXKorvaneApp* app);
void FXKRemoveDirectCredentialHandler();
