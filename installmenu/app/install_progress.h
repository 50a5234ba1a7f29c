// The install menu's busy window (product title, a text, the bar and one
// Cancel button raising the running job's cancel flag) and the busy scope
// around a job. Includes FOX.
#pragma once

#include "core/messenger.h"
#include "gui/app/progress_dialog.h"

class FXKorvaneApp;

// `downloading`: the download texts; any other busy period (install
// preparation, archive copies) shows the product title instead.
FXKProgressDialog* createInstallProgressDialog(FX::FXWindow* owner, const FXWString& title,
                                               Processor::Cancelable* cancel, bool downloading);
// False when `window` is no install progress dialog.
bool setInstallProgressCancelable(FX::FXTopWindow* window, Processor::Cancelable* cancel);
bool setInstallProgressDownloading(FX::FXTopWindow* window, bool downloading);

// Holds the busy state and the wait cursor for its life.
class FXKBusyScope {
 public:
  explicit FXKBusyScope(FXKorvaneApp* app);
  ~FXKBusyScope();
  FXKBusyScope(const FXKBusyScope&) = delete;
  FXKBusyScope& operator=(const FXKBusyScope&) = delete;

 private:
  FXKorvaneApp* app_;
};
