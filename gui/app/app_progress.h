// The application's progress sink. Includes FOX (through the application).
#pragma once

#include <atomic>

#include "core/messenger.h"
#include "gui/app/korvane_app.h"

// The application's progress sink, for jobs on any thread.
class FXKorvaneAppProgress : public Processor::Progress {
 public:
  explicit FXKorvaneAppProgress(FXKorvaneApp* app) : app_(app) {}
  bool report(const Processor::ProgressInfo& info) override {
    FXKorvaneApp* app = app_.load();
    if (!app) return false;
    Processor::ProgressInfo copy(info);
    return app->updateProgress(copy);
  }
  void detach() { app_.store(nullptr); }

 private:
  std::atomic<FXKorvaneApp*> app_;
};

