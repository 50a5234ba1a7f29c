// Puts this library's dialogs behind the application's hooks, so code below
// it (the help road, the credentials prompt, anyone asking for a message box)
// shows them. Called once by the program.
#pragma once

void FXKInstallDialogHooks();
void FXKRemoveDialogHooks();
