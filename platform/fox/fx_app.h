// The application class of the toolkit build the GUI expects, over FOX 1.6:
// named theme atoms with default values asked of the application, stock fonts
// and colours, images and icons by archive member name, counted wait cursors,
// windows made modal without a loop of their own, super mode, a main window,
// and loop hooks that also run inside FOX's own modal loops (they ride on the
// virtual getNextEvent/dispatchEvent). Other threads wake the loop through an
// FXGUISignal, and messages queued to the GUI thread's layer queue (posted or
// sent) are taken there too.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>
#include <FXPNGIcon.h>
#include <FXPNGImage.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "platform/fox/fx_settings.h"

namespace FX {

// A picture with clear pixels in its alpha channel is masked by that channel,
// whatever its options ask (opaque, or keyed by a colour). Answers the icon.
FXIcon* fxMaskByAlpha(FXIcon* icon);

class FXExtApp : public FXApp {
  FXDECLARE(FXExtApp)

 public:
  enum { AtomFont = 0, AtomColor = 1 };

  explicit FXExtApp(const FXString& name = "Application", const FXString& vendor = "FoxDefault");
  ~FXExtApp() override;

  // Theme atoms: an id may carry several names; a name resolves to its id.
  void registerSystemAtom(FXint kind, FXint id, const char* name);
  FXint registerStockFont(const char* name, bool flag = false);   // the id, or -1
  FXint registerStockColor(const char* name, bool flag = false);  // the id, or -1
  // Stock font 0 is the normal font, 1 its bold form; other ids take the
  // description that getSystemDefaultFont answers (the normal font when it
  // answers false). The fonts are the application's; they are created once
  // the application is.
  FXFontDesc getStockFontDesc(FXint id);
  FXFont* getStockFont(FXint id);
  // Black when nobody knows the id.
  FXColor getStockColor(FXint id);
  virtual bool getSystemDefaultFont(FXint id, FXFontDesc& desc);
  virtual bool getSystemDefaultColor(FXint id, FXColor& color);

  // Images: from PNG data held by the program, or by archive member name.
  FXImage* loadImage(const void* data, FXuint options = 0, void* extra = nullptr) {
    return loadImageStub(data, options, false, extra);
  }
  FXImage* loadImageByName(const char* name, FXuint options = 0) { return loadImageStub(name, options, true, nullptr); }
  FXIcon* loadIcon(const void* data, FXuint options = 0, FXColor transparent = 0, void* extra = nullptr) {
    return loadIconStub(data, options, transparent, false, extra);
  }
  FXIcon* loadIconByName(const char* name, FXuint options = 0, FXColor transparent = 0) {
    return loadIconStub(name, options, transparent, true, nullptr);
  }
  void freeImage(FXImage* image) { freeImageStub(image); }
  // The base decodes PNG data and knows no archive (null).
  virtual FXImage* loadImageStub(const void* name, FXuint options, bool fromArchive, void* extra);
  virtual FXIcon* loadIconStub(const void* name, FXuint options, FXColor transparent, bool fromArchive, void* extra);
  virtual void freeImageStub(FXImage* image);

  // Wait cursor by count: begin adds `count` levels; end(0) removes one,
  // end(2) all of them; both answer the levels held before.
  FXint beginWaitCursor(FXint count = 1);
  FXint endWaitCursor(FXint mode = 0);
  FXint waitCursorCount() const { return waitCount_; }

  // A window made modal runs no loop: input to every other window is dropped
  // until doneModal. doneModal hides the window unless `keepShown`.
  void makeModal(FXWindow* window);
  void doneModal(FXWindow* window, bool keepShown, FXint code);
  FXWindow* modalWindow() const { return modal_.empty() ? nullptr : modal_.back(); }

  // Super mode: the derived application decides what it holds back.
  void beginSuperMode() { beginSuperModeStub(); }
  void endSuperMode() { endSuperModeStub(); }
  virtual void beginSuperModeStub() { ++superDepth_; }
  virtual void endSuperModeStub() {
    if (superDepth_ > 0) --superDepth_;
  }
  FXint superModeDepth() const { return superDepth_; }

  // Every modal loop for a window, FOX's own (FXDialogBox::execute,
  // FXMessageBox, runModalWhileShown) included, is announced on the GUI
  // thread: begins once its loop first asks for an event, ends before the
  // loop returns (or once the window was hidden, or the loop is gone).
  virtual void modalLoopBegins(FXWindow* window) {}
  virtual void modalLoopEnds(FXWindow* window) {}

  // FOX 1.6's run is not virtual; derived applications override this one.
  virtual FXint run() { return FXApp::run(); }
  FXint runModalFor(FXWindow* window) { return runModalForStub(window); }
  virtual FXint runModalForStub(FXWindow* window) { return FXApp::runModalFor(window); }
  FXint runWhileEvents(FXWindow* window) { return runWhileEventsStub(window); }
  virtual FXint runWhileEventsStub(FXWindow* window);

  // The settings store, made by createRegistry and read on first use, and
  // written when the application is destroyed. (FOX's own FXApp::reg is
  // hidden: its file is not the system's.)
  FXHookedRegistry& reg();
  virtual FXHookedRegistry* createRegistry() { return new FXHookedRegistry(getAppName(), getVendorName()); }

  void setMainWindow(FXTopWindow* window) { main_ = window; }
  FXTopWindow* getMainWindow(bool = false) const { return main_; }

  // Loop hooks. pendingChores() true makes the loop call dispatchChores()
  // instead of waiting; dispatchChores() delivers one chore.
  virtual bool pendingChores() { return false; }
  virtual bool dispatchChores() { return false; }
  // Same as FXApp::peekEvent, and true while chores are pending.
  bool peekEvent() { return pendingChores() || FXApp::peekEvent(); }
  // Wakes the GUI thread from any thread.
  void wakeLoop();
  // Called for every window the toolkit destroys through the application's
  // destroyWindow (below); derived applications drop what they keep for it.
  virtual void destroyWindow(FXWindow* window);

  bool getNextEvent(FXRawEvent& ev, bool blocking = true) override;
  bool dispatchEvent(FXRawEvent& ev) override;
  void create() override;
  void destroy() override;

  long onWake(FXObject*, FXSelector, void*);
  enum { ID_WAKE = FXApp::ID_LAST, ID_LAST };

 protected:
  // The layer's messages for the GUI thread: sent ones are handled, posted
  // ones dispatched.
  void pumpLayerMessages();
  FXuint guiThread() const { return guiThread_; }

 private:
  struct Atom {
    FXint kind;
    FXint id;
  };
  static void wakeFromLayer(void* app);
  bool inputAllowed(FXRawEvent& ev);
  // Compares FOX's modal loops with those announced and announces the change.
  void watchModalLoops();

  struct WatchedLoop {
    const void* invocation;
    FXWindow* window;
    bool shown;
  };
  std::vector<WatchedLoop> loops_;
  bool watching_ = false;

  std::map<std::string, Atom> atoms_;
  std::map<FXint, FXFont*> fonts_;
  std::map<FXint, FXColor> colors_;
  std::vector<FXWindow*> modal_;
  FXTopWindow* main_ = nullptr;
  FXHookedRegistry* settings_ = nullptr;
  FXGUISignal* signal_ = nullptr;
  std::atomic<bool> signalled_{false};
  FXuint guiThread_ = 0;
  FXint waitCount_ = 0;
  FXint superDepth_ = 0;
};

}  // namespace FX
