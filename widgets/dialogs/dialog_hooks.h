// Puts this library's dialogs behind the application's hooks, so code below
// (the password dialog, the help road) shows them. Called once by the program.
#pragma once

void FXKInstallDialogHooks();
void FXKRemoveDialogHooks();
