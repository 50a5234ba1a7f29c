#include "gui/app/korvane_app.h"

#include "gui/app/app_progress.h"

#include <atomic>
#include <exception>

#include "core/text_convert.h"
#include "platform/win32/windows.h"
#include "system/locks.h"
#include "system/number_text.h"

using namespace FX;

FXDEFMAP(FXKorvaneApp) FXKorvaneAppMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, FXKorvaneApp::ID_TIMEOUT, FXKorvaneApp::onTimeoutTick),
    FXMAPFUNC(SEL_CHORE, FXKorvaneApp::ID_CHORE, FXKorvaneApp::onChoreExecute),
};
FXIMPLEMENT(FXKorvaneApp, FXExtApp, FXKorvaneAppMap, ARRAYNUMBER(FXKorvaneAppMap))

namespace {
// What the program ends with when the user quits after an unexpected error.
constexpr FXint kQuitAfterErrorCode = 2;
}  // namespace

// A function to run on the GUI thread. A waiting caller is released on every
// road: after the call, when the call throws, and when the chore is dropped
// without running (the destructor).
struct FXKorvaneApp::_tagExecuteAsyncChore : FXKorvaneApp::choreParam {
  ChoreFunction function = nullptr;
  void* argument = nullptr;
  Common::Event* event = nullptr;  // null for asynchronous requests
  int* result = nullptr;
  std::exception_ptr* failure = nullptr;
  bool ran = false;

  ~_tagExecuteAsyncChore() override {
    if (event && !ran) {
      Common::Error e(KV_SITE, 0x10002);
      e.setWin32Cause(995);  // ERROR_OPERATION_ABORTED
      *failure = std::make_exception_ptr(e);
      event->set();
    }
  }
};

FXKorvaneApp::FXKorvaneApp(const FXWString& name, const FXWString& vendor, const char* applicationName,
                           std::uint32_t)
    : FXExtApp(name.toUtf8().c_str(), vendor.toUtf8().c_str()) {
  choreLock_ = new CRITICAL_SECTION;
  InitializeCriticalSection(choreLock_);
  progressSink_ = Processor::makeRef<FXKorvaneAppProgress>(this);
  if (applicationName) {
    applicationName_ = applicationName;
    applicationNameWide_ = win32::utf8_to_utf16(applicationName_);
  }
  guiThreadId_ = GetCurrentThreadId();
  static const char* const fonts[] = {"helptitlefont",  "helptitle2font", "helpfigurefont", "categorytitle",
                                      "categorytitle1", "categorytitle2", "grouptitle",     "hugetitle",
                                      "smallfont",      "smallbodfont",   "headerfont",     "headerfontbold",
                                      "shellsmallfont", "shellnormalfont", "shellboldfont", "shellgroupfont",
                                      "largetitle"};
  registerSystemAtom(AtomFont, 8, fonts[0]);
  for (int id = 10; id <= 25; ++id) registerSystemAtom(AtomFont, id, fonts[id - 9]);
  static const char* const colors[] = {"bannergradient1", "bannergradient2", "bannertitle",
                                       "bannertext",      "korvblue",        "korvlightblue"};
  for (int id = 26; id <= 31; ++id) registerSystemAtom(AtomColor, id, colors[id - 26]);
}

FXKorvaneApp::~FXKorvaneApp() {
  if (progressSink_) progressSink_->detach();
  delete busyWindow_;
  if (eventTimeoutArmed_) removeTimeout(this, FXSEL(SEL_TIMEOUT, ID_EVENT_TIMEOUT));
  for (auto& [k, v] : toolkitImages_) FXExtApp::freeImageStub(v);
  for (auto& [k, v] : archiveImages_) FXExtApp::freeImageStub(v);
  for (auto& [k, v] : toolkitIcons_) FXExtApp::freeImageStub(v);
  for (auto& [k, v] : archiveIcons_) FXExtApp::freeImageStub(v);
  if (choreLock_) {
    EnterCriticalSection(choreLock_);
    std::deque<choreEntry> pending;
    std::vector<std::deque<choreEntry>> held;
    pending.swap(pending_);
    held.swap(heldBack_);
    LeaveCriticalSection(choreLock_);
    dropChores(pending);
    for (auto& level : held) dropChores(level);
    DeleteCriticalSection(choreLock_);
    delete choreLock_;
  }
  if (mutex_) CloseHandle(mutex_);
}

void FXKorvaneApp::dropChores(std::deque<choreEntry>& list) {
  for (choreEntry& e : list) delete e.parameter;
  list.clear();
}

// ---- cross-thread requests ----

int FXKorvaneApp::executeSync(ChoreFunction function, void* argument) {
  if (GetCurrentThreadId() == guiThreadId_) return function(argument);
  Common::Event event(false, false);
  int result = 0;
  std::exception_ptr failure;
  auto* param = new _tagExecuteAsyncChore;
  param->function = function;
  param->argument = argument;
  param->event = &event;
  param->result = &result;
  param->failure = &failure;
  appendChore(choreEntry{this, ID_CHORE, param, nullptr}, false);
  event.wait();
  if (failure) std::rethrow_exception(failure);
  return result;
}

int FXKorvaneApp::executeAsync(ChoreFunction function, void* argument) {
  auto* param = new _tagExecuteAsyncChore;
  param->function = function;
  param->argument = argument;
  appendChore(choreEntry{this, ID_CHORE, param, nullptr}, false);
  return 1;
}

void FXKorvaneApp::postChore(FXObject* target, std::uint32_t id, choreParam* parameter, void* data, bool replace) {
  appendChore(choreEntry{target, id, parameter, data}, replace);
}

void FXKorvaneApp::appendChore(const choreEntry& entry, bool replace) {
  EnterCriticalSection(choreLock_);
  if (replace) cancelChores(entry.target, entry.id);
  pending_.push_back(entry);
  LeaveCriticalSection(choreLock_);
  wakeUp();
}

void FXKorvaneApp::cancelChores(FXObject* target, std::uint32_t id) {
  std::deque<choreEntry> removed;
  EnterCriticalSection(choreLock_);
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->target == target && (id == 0 || it->id == id)) {
      removed.push_back(*it);
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  LeaveCriticalSection(choreLock_);
  // Outside the lock: a dropped synchronous request releases its waiter.
  dropChores(removed);
}

void FXKorvaneApp::wakeUp() {
  if (!isInitialized()) {
    // The loop has not started; it looks at the chore list before waiting.
    wakeLoop();
    return;
  }
  PostThreadMessageA(guiThreadId_, WM_NULL, 0, 0);
  if (hidden_) PostMessageA(hidden_, WM_NULL, 0, 0);
}

long FXKorvaneApp::onChoreExecute(FXObject*, FXSelector, void* data) {
  auto* param = static_cast<_tagExecuteAsyncChore*>(data);
  if (!param) return 1;
  if (!param->event) {
    param->ran = true;
    param->function(param->argument);
    return 1;
  }
  try {
    *param->result = param->function(param->argument);
  } catch (...) {
    *param->failure = std::current_exception();
  }
  param->ran = true;
  param->event->set();
  return 1;
}

long FXKorvaneApp::onTimeoutTick(FXObject*, FXSelector, void*) { return 1; }

bool FXKorvaneApp::pendingChores() {
  EnterCriticalSection(choreLock_);
  const bool any = !pending_.empty();
  LeaveCriticalSection(choreLock_);
  return any;
}

bool FXKorvaneApp::dispatchChores() {
  choreEntry entry;
  EnterCriticalSection(choreLock_);
  const bool any = !pending_.empty();
  if (any) {
    entry = pending_.front();
    pending_.pop_front();
  }
  LeaveCriticalSection(choreLock_);
  if (!any) return false;
  long answer = 0;
  try {
    answer = entry.target->handle(this, FXSEL(SEL_CHORE, entry.id & 0xFFFF),
                                  entry.parameter ? static_cast<void*>(entry.parameter) : entry.data);
  } catch (...) {
    delete entry.parameter;
    throw;
  }
  if (answer) {
    delete entry.parameter;
    return true;
  }
  EnterCriticalSection(choreLock_);
  pending_.push_back(entry);
  LeaveCriticalSection(choreLock_);
  wakeUp();
  return false;
}

void FXKorvaneApp::beginSuperModeStub() {
  FXExtApp::beginSuperModeStub();
  EnterCriticalSection(choreLock_);
  // One list per level: a nested super mode never releases (or loses) what
  // an outer one holds back.
  heldBack_.emplace_back();
  heldBack_.back().swap(pending_);
  LeaveCriticalSection(choreLock_);
}

void FXKorvaneApp::endSuperModeStub() {
  EnterCriticalSection(choreLock_);
  if (!heldBack_.empty()) {
    pending_.insert(pending_.end(), heldBack_.back().begin(), heldBack_.back().end());
    heldBack_.pop_back();
  }
  LeaveCriticalSection(choreLock_);
  FXExtApp::endSuperModeStub();
  wakeUp();
}

void FXKorvaneApp::destroyWindow(FXWindow* window) {
  if (busyWindow_ && busyWindow_->getOwner() == window) {
    doneModal(busyWindow_, false, 0);
    busyWindow_->destroy();
    delete busyWindow_;
    busyWindow_ = nullptr;
  }
  cancelChores(window, 0);
  FXExtApp::destroyWindow(window);
}

// ---- the loop ----

FXint FXKorvaneApp::run() {
  setProgressMode(true);
  return FXApp::run();
}

void FXKorvaneApp::exit(FXint code) {
  exiting_ = true;
  // Every loop returns; the program's entry returns `code`.
  stop(code);
}

FXint FXKorvaneApp::runWhileEventsStub(FXWindow* window) {
  if (GetCurrentThreadId() != guiThreadId_) {
    wakeUp();
    return 0;
  }
  if (hiddenDepth_) return 0;
  return FXExtApp::runWhileEventsStub(window);
}

bool FXKorvaneApp::getNextEvent(FXRawEvent& ev, bool blocking) {
  try {
    return FXExtApp::getNextEvent(ev, blocking);
  } catch (const Common::Error& e) {
    eventError(e);
    return false;
  }
}

bool FXKorvaneApp::dispatchEvent(FXRawEvent& ev) {
  bool result = true;
  try {
    result = FXExtApp::dispatchEvent(ev);
  } catch (const Common::Error& e) {
    eventError(e);
  }
  if (!eventTimeoutArmed_) {
    addTimeout(this, FXSEL(SEL_TIMEOUT, ID_EVENT_TIMEOUT), 1000);
    eventTimeoutArmed_ = true;
  }
  return result;
}

void FXKorvaneApp::eventError(const Common::Error& error) {
  if (exiting_) return;
  if (showEventError(error)) exit(kQuitAfterErrorCode);
}

namespace {
std::atomic<FXKorvaneApp::ErrorPresenter> errorPresenter_{nullptr};
}  // namespace

void FXKorvaneApp::setErrorPresenter(ErrorPresenter presenter) { errorPresenter_.store(presenter); }

FXKorvaneApp::ErrorPresenter FXKorvaneApp::errorPresenter() { return errorPresenter_.load(); }

bool FXKorvaneApp::showEventError(const Common::Error& error) {
  if (ErrorPresenter presenter = errorPresenter_.load()) return presenter(*this, error);
  std::string text;
  Common::toUtf8(text, error.text().c_str());
  FXMessageBox box(this, "Error", text.c_str(), nullptr, MBOX_QUIT_CANCEL);
  box.create();
  return box.execute(PLACEMENT_SCREEN) == MBOX_CLICKED_QUIT;
}

void FXKorvaneApp::modalLoopBegins(FXWindow* window) {
  AsideState state{window, false, nullptr, 0, false, 0, 0};
  if (window == getMainWindow(false) || window == busyWindow_) {
    aside_.push_back(state);
    return;
  }
  // The busy window steps aside for the dialog and comes back after it.
  state.tookAside = true;
  state.savedCount = endBusy(1, state.busy);
  state.wasShown = state.busy && state.busy->shown();
  state.savedFlags = progressFlags_;
  progressFlags_ = 0;
  if (state.wasShown) state.busy->hide();
  state.cursors = endWaitCursor(2);
  setProgressMode(true);
  if (FXWindow* shell = window->getShell()) shell->raise();
  window->setFocus();
  aside_.push_back(state);
}

void FXKorvaneApp::modalLoopEnds(FXWindow*) {
  if (aside_.empty()) return;
  AsideState state = aside_.back();
  aside_.pop_back();
  if (!state.tookAside) return;
  progressFlags_ = state.savedFlags;
  beginBusy(busyCount_ + state.savedCount, state.busy);
  beginWaitCursor(state.cursors);
  if (state.wasShown && busyWindow_) busyWindow_->show();
}

// ---- waiting for a handle ----

namespace {
struct WaitRecord {
  DWORD guiThread;
  HANDLE handle;
  DWORD timeout;
  std::atomic<int> done{0};
};

DWORD WINAPI waiterThread(LPVOID p) {
  auto* r = static_cast<WaitRecord*>(p);
  WaitForSingleObject(r->handle, r->timeout);
  r->done.store(1);
  PostThreadMessageA(r->guiThread, WM_USER, 0, 0);
  return 0;
}
}  // namespace

int FXKorvaneApp::waitForHandle(HANDLE handle, DWORD timeout) {
  beginWaitCursor(1);
  WaitRecord record{guiThreadId_, handle, timeout};
  HANDLE thread = CreateThread(nullptr, 0, waiterThread, &record, 0, nullptr);
  if (thread) {
    while (!record.done.load()) runOneEvent();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  endWaitCursor(0);
  return 0;
}
