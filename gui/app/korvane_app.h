// The application base of every GUI program: the event loop with its chore
// queue (the one road from other threads to the GUI thread), the
// single-instance guard with its hidden window, theme atoms, image caches and
// the settings store.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/messenger.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fxwstring.h"
#include "platform/win32/windows.h"

class FXKorvaneAppProgress;
struct FXKHelpRequest;
class FXKCredentialsForm;
class file_object;

class FXKorvaneApp : public FX::FXExtApp {
  FXDECLARE(FXKorvaneApp)

 public:
  struct choreParam {
    virtual ~choreParam() = default;
  };
  struct choreEntry {
    FX::FXObject* target = nullptr;
    std::uint32_t id = 0;
    choreParam* parameter = nullptr;  // owned
    void* data = nullptr;
  };
  using ChoreFunction = int (*)(void*);
  struct _tagExecuteAsyncChore;

  // `applicationName` (UTF-8) names the single-instance objects, which take it wide.
  FXKorvaneApp(const FXWString& name, const FXWString& vendor, const char* applicationName, std::uint32_t options = 0);
  ~FXKorvaneApp() override;

  // Any thread. On the GUI thread the function runs at once; elsewhere the
  // caller waits until the GUI thread has run it and gets its result. A
  // Common::Error the function raises is thrown again in the caller.
  int executeSync(ChoreFunction function, void* argument);
  // Always queued, also on the GUI thread; never waits.
  int executeAsync(ChoreFunction function, void* argument);
  void postChore(FX::FXObject* target, std::uint32_t id, choreParam* parameter, void* data, bool replace);
  void appendChore(const choreEntry& entry, bool replace);
  // Id 0: every chore of the target.
  void cancelChores(FX::FXObject* target, std::uint32_t id);

  template <class T, class R, class A>
  R executeMethodSync(T* object, R (T::*method)(A), A argument);

  virtual void wakeUp();

  // GUI thread: keeps the loop running until the handle is signalled or the
  // time runs out.
  virtual int waitForHandle(HANDLE handle, DWORD timeout);

  long onChoreExecute(FX::FXObject*, FX::FXSelector, void*);
  long onTimeoutTick(FX::FXObject*, FX::FXSelector, void*);
  enum { ID_TIMEOUT = 4, ID_EVENT_TIMEOUT = 7, ID_CHORE = 8 };

  FX::FXint run() override;
  void exit(FX::FXint code = 0) override;
  bool isExiting() const { return exiting_; }
  bool pendingChores() override;
  bool dispatchChores() override;
  void destroyWindow(FX::FXWindow* window) override;
  FX::FXint runWhileEventsStub(FX::FXWindow* window) override;
  void beginSuperModeStub() override;
  void endSuperModeStub() override;
  bool getNextEvent(FX::FXRawEvent& ev, bool blocking = true) override;
  bool dispatchEvent(FX::FXRawEvent& ev) override;

  // Single instance and argument hand-over.
  void init(int& argc, char** argv, bool connect = true) override;
  void create() override;
  void destroy() override;
  virtual bool handOverArguments();
  virtual HWND onNewInstance(WPARAM wparam, LPARAM lparam);
  virtual void onNewInstanceArgs(std::uint32_t count, const char** arguments);
  // The record of a run-on-the-GUI-thread request (message 3024 to the hidden
  // window): the function's argument, and the error it raised.
  struct hiddenRequest {
    void* argument = nullptr;
    Common::Error error;
  };
  const std::string& applicationName() const { return applicationName_; }
  const std::u16string& applicationNameWide() const { return applicationNameWide_; }
  HWND hiddenWindow() const { return hidden_; }

  // Theme.
  bool getSystemDefaultFont(FX::FXint id, FX::FXFontDesc& desc) override;
  bool getSystemDefaultColor(FX::FXint id, FX::FXColor& color) override;
  virtual FX::FXColor getBannerColor();
  FX::FXImage* loadImageStub(const void* name, FX::FXuint options, bool fromArchive, void* extra) override;
  FX::FXIcon* loadIconStub(const void* name, FX::FXuint options, FX::FXColor transparent, bool fromArchive,
                           void* extra) override;
  void freeImageStub(FX::FXImage*) override {}

  // Help file and viewer, settings store, working folder.
  using HelpViewer = bool (*)(void* request);
  void setHelpFile(const FXWString& file, HelpViewer viewer);
  virtual bool hasHelpViewer();
  HelpViewer helpViewer() const { return helpViewer_; }
  const FXWString& helpFile() const { return helpFile_; }
  static bool htmlHelpViewer(void* request);  // the viewers' roads come with help viewing
  static bool winHelpViewer(void* request);
  FX::FXHookedRegistry* createRegistry() override;
  virtual FXWString getWorkingDir();

  // Help topics and pop-ups (the request's road is in gui/dialogs/help.h).
  virtual bool showHelpTopic(FXKHelpRequest& request);
  // The prompt for a refused network folder: asks, and hands the answer to
  // the object; false when refused or already asking.
  virtual bool askCredentials(file_object* object, const char16_t* userName);
  virtual bool onAccessDenied(file_object* object, const char16_t* userName);
  // A second access-retry handler that asks without onAccessDenied.
  virtual void installCredentialCallback();
  virtual void removeCredentialCallback();

  // Dialogs that live in libraries above this one, installed by them; null
  // until then.
  // A message box: kind in flags bits 0-2; answers the pressed button's bit.
  using MessageHook = std::uint32_t (*)(FX::FXWindow* owner, std::uint32_t flags, const FXWString& text,
                                        const FXWString& caption);
  // The help pop-up near (x, y); true when it closed normally.
  using HelpPopupHook = bool (*)(FX::FXWindow* owner, const FXWString& markup, FX::FXint x, FX::FXint y);
  // The password dialog of the credentials prompt (gui/dialogs/credentials.h);
  // without one the prompt answers as refused.
  using PasswordDialogHook = FXKCredentialsForm* (*)(FX::FXWindow* owner, const FXWString& title,
                                                      const FXWString& header, FX::FXuint options, int headerKind,
                                                      bool help);
  static void setMessageHook(MessageHook hook);
  static MessageHook messageHook();
  static void setHelpPopupHook(HelpPopupHook hook);
  static HelpPopupHook helpPopupHook();
  static void setPasswordDialogHook(PasswordDialogHook hook);
  static PasswordDialogHook passwordDialogHook();

  // Whether windows such as the splash may show now; always so here.
  virtual bool mayShowWindows() { return true; }

  bool isProgressMode() const { return progressMode_; }
  virtual void setProgressMode(bool on) { progressMode_ = on; }

  // Busy state. Any thread: the begin/end pair and reports (which wait until
  // the GUI thread has applied them).
  int beginProgressSync();
  int endProgressSync(int count);
  virtual bool updateProgress(const Processor::ProgressInfo& report);
  Processor::RefPtr<Processor::Progress> getProgress();
  // GUI thread.
  int beginBusy(int n, FX::FXTopWindow*& window);
  int endBusy(int n, FX::FXTopWindow*& window);
  void createBusyWindow();
  bool applyProgress(const Processor::ProgressInfo& report);
  virtual FX::FXTopWindow* showSplash();
  virtual FX::FXTopWindow* createProgressDialog();
  FX::FXTopWindow* busyWindow() const { return busyWindow_; }
  int busyCount() const { return busyCount_; }
  std::uint32_t progressFlags() const { return progressFlags_; }
  // A modal loop for any window but the main window and the busy window takes
  // the busy state out of its way for its time (FOX's own dialogs included).
  void modalLoopBegins(FX::FXWindow* window) override;
  void modalLoopEnds(FX::FXWindow* window) override;

  // Shows an error that escaped an event handler; true when the user chose
  // to quit.
  virtual bool showEventError(const Common::Error& error);
  // The dialog for escaped errors lives in a library above this one, which
  // installs it here; without one a plain message box stands in.
  using ErrorPresenter = bool (*)(FXKorvaneApp& app, const Common::Error& error);
  static void setErrorPresenter(ErrorPresenter presenter);
  static ErrorPresenter errorPresenter();

 protected:
  FXKorvaneApp() = default;

 private:
  static LRESULT hiddenWindowProc(HWND, UINT, WPARAM, LPARAM);
  void eventError(const Common::Error& error);
  void dropChores(std::deque<choreEntry>& list);

  bool progressMode_ = false;
  bool exiting_ = false;
  FX::FXTopWindow* busyWindow_ = nullptr;
  int busyCount_ = 0;
  std::uint32_t progressFlags_ = 0;
  // What each running modal loop took aside; null windows for loops that took nothing.
  struct AsideState {
    FX::FXWindow* loop;
    bool tookAside;
    FX::FXTopWindow* busy;
    int savedCount;
    bool wasShown;
    std::uint32_t savedFlags;
    FX::FXint cursors;
  };
  std::vector<AsideState> aside_;
  std::map<const void*, FX::FXImage*> toolkitImages_;
  std::map<std::string, FX::FXImage*> archiveImages_;
  std::map<const void*, FX::FXIcon*> toolkitIcons_;
  std::map<std::string, FX::FXIcon*> archiveIcons_;
  std::string applicationName_;
  std::u16string applicationNameWide_;
  HWND hidden_ = nullptr;
  int hiddenDepth_ = 0;
  bool eventTimeoutArmed_ = false;
  DWORD guiThreadId_ = 0;
  CRITICAL_SECTION* choreLock_ = nullptr;
  std::deque<choreEntry> pending_;
  std::vector<std::deque<choreEntry>> heldBack_;  // one list per super-mode level
  std::unique_ptr<std::uint8_t[]> handOver_;
  std::uint32_t handOverSize_ = 0;
  HANDLE mutex_ = nullptr;
  Processor::RefPtr<FXKorvaneAppProgress> progressSink_;
  FXWString helpFile_;
  HelpViewer helpViewer_ = nullptr;
  DWORD mutexError_ = 0;
  // create() initialised COM on this thread; destroy() gives it back.
  bool comInitialized_ = false;
};

template <class T, class R, class A>
R FXKorvaneApp::executeMethodSync(T* object, R (T::*method)(A), A argument) {
  if (!object) Processor::throwNullReference();
  struct Request {
    R result;
    T* object;
    R (T::*method)(A);
    A argument;
  } request{R(), object, method, argument};
  executeSync(
      [](void* p) -> int {
        auto* r = static_cast<Request*>(p);
        r->result = (r->object->*(r->method))(r->argument);
        return static_cast<int>(r->result);
      },
      &request);
  return request.result;
}
