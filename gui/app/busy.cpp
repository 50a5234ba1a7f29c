// The busy state: one busy window, entered and left any number of times from
// any thread, and progress reports applied to it on the GUI thread.
#include <memory>

#include "core/catalogue.h"
#include "core/messenger.h"
#include "gui/app/app_progress.h"
#include "gui/app/korvane_app.h"
#include "gui/app/progress_dialog.h"
#include "gui/dialogs/small_dialogs.h"
#include "system/number_text.h"

using namespace FX;

namespace {
const char16_t* busyTitle() { return Common::catalogueText(1982, u"Vazedi for Dovecrest 2013"); }

// Ends a window's modal state, destroys and deletes it.
void closeWindow(FXKorvaneApp* app, FXTopWindow*& window) {
  if (!window) return;
  app->doneModal(window, window->shown(), 1);
  window->destroy();
  delete window;
  window = nullptr;
}

FXWString wide(const Processor::String& s) {
  return FXWString(std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length())));
}
}  // namespace

Processor::RefPtr<Processor::Progress> FXKorvaneApp::getProgress() { return Processor::RefPtr<Processor::Progress>(progressSink_); }

FXTopWindow* FXKorvaneApp::createProgressDialog() {
  if (FXWindow* owner = getMainWindow(false)) return new FXKProgressDialog(owner, FXWString(busyTitle()));
  return new FXKProgressDialog(this, FXWString(busyTitle()));
}

FXTopWindow* FXKorvaneApp::showSplash() {
  // Without "splash.png" in the archive the progress dialog serves.
  if (!FXKHasSplashImage()) return createProgressDialog();
  FXWindow* owner = getMainWindow(false);
  if (!owner) owner = getRootWindow();
  return new FXKSplashDialog(owner, FXWString(busyTitle()), nullptr, DECOR_NONE, 0);
}

void FXKorvaneApp::createBusyWindow() { busyWindow_ = progressMode_ ? createProgressDialog() : showSplash(); }

int FXKorvaneApp::beginBusy(int n, FXTopWindow*& window) {
  if (progressFlags_ & 0x2000) {
    if (window) {
      window->destroy();
      delete window;
      window = nullptr;
    }
    return 0;
  }
  if (n == 0 && !window) return 0;
  if (busyCount_ == 0) {
    if (!busyWindow_) {
      if (window) {
        busyWindow_ = window;
        window = nullptr;
      } else {
        createBusyWindow();
      }
    } else if (window && window != busyWindow_) {
      closeWindow(this, busyWindow_);
      busyWindow_ = window;
      window = nullptr;
    } else if (window == busyWindow_) {
      window = nullptr;
    }
    if (busyWindow_ && n != 0) {
      doneModal(busyWindow_, true, 0);
      makeModal(busyWindow_);
    }
  } else {
    if (busyWindow_ && busyWindow_ != window) {
      if (window) {
        closeWindow(this, busyWindow_);
        busyWindow_ = window;
        window = nullptr;
      }
    } else {
      // The busy window handed in is closed too: forgotten while open it
      // would stay modal and swallow every click.
      closeWindow(this, window);
      busyWindow_ = nullptr;
      busyCount_ = 0;
      n = 0;
    }
  }
  busyCount_ += n;
  return busyCount_;
}

int FXKorvaneApp::endBusy(int n, FXTopWindow*& window) {
  window = nullptr;
  const int before = busyCount_;
  if (n != 0) busyCount_ = n;
  if (busyCount_ > 0) --busyCount_;
  if (busyCount_ == 0 && busyWindow_) {
    doneModal(busyWindow_, busyWindow_->shown(), 1);
    window = busyWindow_;
    busyWindow_ = nullptr;
  }
  return before;
}

int FXKorvaneApp::beginProgressSync() {
  struct Call {
    FXKorvaneApp* app;
    int result;
  } call{this, 0};
  executeSync(
      [](void* p) -> int {
        auto* c = static_cast<Call*>(p);
        FXTopWindow* none = nullptr;
        c->result = c->app->beginBusy(1, none);
        return c->result;
      },
      &call);
  return call.result;
}

int FXKorvaneApp::endProgressSync(int count) {
  struct Call {
    FXKorvaneApp* app;
    int count;
    int result;
  } call{this, count, 0};
  executeSync(
      [](void* p) -> int {
        auto* c = static_cast<Call*>(p);
        FXTopWindow* window = nullptr;
        c->result = c->app->endBusy(c->count, window);
        if (window) {
          window->destroy();
          delete window;
        }
        return c->result;
      },
      &call);
  return call.result;
}

bool FXKorvaneApp::updateProgress(const Processor::ProgressInfo& report) {
  struct Call {
    FXKorvaneApp* app;
    const Processor::ProgressInfo* report;
    bool result;
  } call{this, &report, false};
  executeSync(
      [](void* p) -> int {
        auto* c = static_cast<Call*>(p);
        c->result = c->app->applyProgress(*c->report);
        return c->result ? 1 : 0;
      },
      &call);
  if (!(report.flags & 0x200)) runWhileEvents(nullptr);
  return call.result;
}

bool FXKorvaneApp::applyProgress(const Processor::ProgressInfo& report) {
  if (!busyWindow_) createBusyWindow();
  std::uint32_t flags = report.flags;
  if (!(flags & (0x2 | 0x40 | 0x100))) flags |= 0x8080;
  bool show = true;
  if (flags & 0x2000) show = false;
  if ((flags & 0x80) && !(progressFlags_ & 0x100)) show = false;
  if ((flags & 0x100) && (progressFlags_ & 0x2000)) show = false;
  if ((flags & 0x4000) && (progressFlags_ & 0x2000)) show = false;
  if (auto* progress = dynamic_cast<FXKProgressBase*>(busyWindow_)) {
    // The report's first text is the title, its second the line under it.
    if (flags & 0x4) progress->setTitle(wide(report.text));
    if (flags & 0x1) progress->setText(wide(report.secondText));
    if (!(flags & (0x2 | 0x40))) progress->hideProgress();
    else if (flags & 0x2) progress->setProgress(static_cast<int>(report.value));
    if (flags & 0x10000) {
      progress->setIcon(static_cast<FXIcon*>(report.icon));
    } else if (flags & 0x20000) {
      progress->setAnimation(static_cast<FXImage*>(report.animation), (flags & 0x40000) ? report.frameCount : 0,
                             (flags & 0x80000) ? report.frameDelay : 0);
    }
  }
  if (show && busyWindow_ && !busyWindow_->shown()) {
    busyWindow_->create();
    busyWindow_->show(PLACEMENT_OWNER);
  }
  if (!(flags & 0x4000) && !(flags & 0x100)) progressFlags_ = 0;
  progressFlags_ |= flags;
  return true;
}
