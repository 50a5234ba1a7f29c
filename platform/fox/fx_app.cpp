#include "platform/fox/fx_app.h"

#include <X11/Xlib.h>

#include <cstring>

#include "platform/win32/kernel32/thread.h"
#include "platform/win32/user32/window.h"
#include "platform/win32/layer/leak_suppressions.h"

namespace FX {

namespace {

// FOX keeps its modal loops in a private chain of records on the loops'
// stacks; FXApp::runModalFor is not virtual, so this chain is the only way to
// see FOX's own dialogs run. The record as FOX 1.6 lays it out; every use is
// checked against what getModalWindow and getModality answer.
struct Invocation {
  Invocation** invocation;
  Invocation* upper;
  FXWindow* window;
  FXModality modality;
  FXint code;
  FXbool done;
};

// The address of the private member, named where access is not checked (an
// explicit instantiation) and handed out by a friend.
using InvocationMember = FXInvocation* FXApp::*;
InvocationMember invocationMember();
template <InvocationMember P>
struct Reveal {
  friend InvocationMember invocationMember() { return P; }
};
template struct Reveal<&FXApp::invocation>;

const Invocation* innermostLoop(const FXApp* app) {
  const auto* inv = reinterpret_cast<const Invocation*>(app->*invocationMember());
  if (!inv) return nullptr;
  // A record that does not match FOX's own answers is not read further.
  if (inv->window != app->getModalWindow() || inv->modality != app->getModality()) return nullptr;
  return inv;
}

}  // namespace

FXDEFMAP(FXExtApp) FXExtAppMap[] = {
    FXMAPFUNC(SEL_IO_READ, FXExtApp::ID_WAKE, FXExtApp::onWake),
};
FXIMPLEMENT(FXExtApp, FXApp, FXExtAppMap, ARRAYNUMBER(FXExtAppMap))

FXExtApp::FXExtApp(const FXString& name, const FXString& vendor) : FXApp(name, vendor) {
  guiThread_ = GetCurrentThreadId();
  signal_ = new FXGUISignal(this, this, ID_WAKE);
  KvSetMessageWakeHook(&FXExtApp::wakeFromLayer, this);
}

FXExtApp::~FXExtApp() {
  if (GetCurrentThreadId() == guiThread_) KvSetMessageWakeHook(nullptr, nullptr);
  delete signal_;
  delete settings_;
  for (auto& [id, font] : fonts_) delete font;
}

void FXExtApp::registerSystemAtom(FXint kind, FXint id, const char* name) {
  if (name) atoms_[name] = Atom{kind, id};
}

FXint FXExtApp::registerStockFont(const char* name, bool) {
  auto it = name ? atoms_.find(name) : atoms_.end();
  return it != atoms_.end() && it->second.kind == AtomFont ? it->second.id : -1;
}

FXint FXExtApp::registerStockColor(const char* name, bool) {
  auto it = name ? atoms_.find(name) : atoms_.end();
  return it != atoms_.end() && it->second.kind == AtomColor ? it->second.id : -1;
}

bool FXExtApp::getSystemDefaultFont(FXint id, FXFontDesc& desc) {
  if (id < 0 || id > 2) return false;
  std::memset(&desc, 0, sizeof desc);
  if (getNormalFont()) {
    getNormalFont()->getFontDesc(desc);
  } else {
    std::strcpy(desc.face, "helvetica");
    desc.size = 90;
    desc.weight = FXFont::Normal;
    desc.setwidth = FXFont::NonExpanded;
  }
  if (id == 1) desc.weight = FXFont::Bold;
  if (id == 2) desc.slant = FXFont::Italic;  // stock font 2: the italic form
  return true;
}

bool FXExtApp::getSystemDefaultColor(FXint id, FXColor& color) {
  // The system colours the text layout and dialogs name by number.
  static const FXColor system[] = {
      FXRGB(212, 208, 200),  // 0 face
      FXRGB(0, 0, 0),        // 1 frame
      FXRGB(128, 128, 128),  // 2 border
      FXRGB(128, 128, 128),  // 3 shadow
      FXRGB(255, 255, 255),  // 4 highlight
      FXRGB(10, 36, 106),    // 5 selection
      FXRGB(255, 255, 255),  // 6 window background
      FXRGB(0, 0, 0),        // 7 window text
      FXRGB(255, 255, 255),  // 8 selected text
      FXRGB(0, 0, 0),        // 9 button text
      FXRGB(255, 255, 225),  // 10 tooltip background
      FXRGB(0, 0, 0),        // 11 tooltip text
  };
  if (id < 0 || id >= FXint(sizeof system / sizeof system[0])) return false;
  color = system[id];
  return true;
}

FXFontDesc FXExtApp::getStockFontDesc(FXint id) {
  FXFontDesc desc;
  if (!getSystemDefaultFont(id, desc)) getSystemDefaultFont(0, desc);
  return desc;
}

FXFont* FXExtApp::getStockFont(FXint id) {
  auto it = fonts_.find(id);
  if (it != fonts_.end()) return it->second;
  FXFont* font = new FXFont(this, getStockFontDesc(id));
  if (isInitialized()) font->create();
  fonts_[id] = font;
  return font;
}

FXColor FXExtApp::getStockColor(FXint id) {
  auto it = colors_.find(id);
  if (it != colors_.end()) return it->second;
  FXColor color = FXRGB(0, 0, 0);
  if (!getSystemDefaultColor(id, color)) color = FXRGB(0, 0, 0);
  colors_[id] = color;
  return color;
}

FXImage* FXExtApp::loadImageStub(const void* name, FXuint options, bool fromArchive, void*) {
  if (fromArchive || !name) return nullptr;
  return new FXPNGImage(this, name, options);
}

FXIcon* FXExtApp::loadIconStub(const void* name, FXuint options, FXColor transparent, bool fromArchive, void*) {
  if (fromArchive || !name) return nullptr;
  return fxMaskByAlpha(new FXPNGIcon(this, name, transparent, options));
}

FXIcon* fxMaskByAlpha(FXIcon* icon) {
  // The pictures are drawn with their alpha channel honoured whatever the
  // options say; FOX 1.6 would paint the colour of an "opaque" picture's clear
  // pixels (black), so such a picture is masked by its alpha channel instead.
  if (!icon || !icon->getData()) return icon;
  const FXColor* pixel = icon->getData();
  const FXColor* end = pixel + static_cast<std::size_t>(icon->getWidth()) * icon->getHeight();
  for (; pixel != end; ++pixel) {
    if (FXALPHAVAL(*pixel) != 255) {
      icon->setOptions(icon->getOptions() & ~(IMAGE_OPAQUE | IMAGE_ALPHACOLOR | IMAGE_ALPHAGUESS));
      break;
    }
  }
  return icon;
}

void FXExtApp::freeImageStub(FXImage* image) { delete image; }

FXint FXExtApp::beginWaitCursor(FXint count) {
  const FXint before = waitCount_;
  for (FXint i = 0; i < count; ++i) {
    FXApp::beginWaitCursor();
    ++waitCount_;
  }
  return before;
}

FXint FXExtApp::endWaitCursor(FXint mode) {
  const FXint before = waitCount_;
  FXint levels = mode == 2 ? waitCount_ : (waitCount_ > 0 ? 1 : 0);
  for (; levels > 0; --levels) {
    FXApp::endWaitCursor();
    --waitCount_;
  }
  return before;
}

void FXExtApp::makeModal(FXWindow* window) {
  if (!window) return;
  modal_.push_back(window);
}

void FXExtApp::doneModal(FXWindow* window, bool keepShown, FXint) {
  for (auto it = modal_.begin(); it != modal_.end(); ++it) {
    if (*it == window) {
      modal_.erase(it);
      break;
    }
  }
  if (window && !keepShown && window->id()) window->hide();
}

FXint FXExtApp::runWhileEventsStub(FXWindow* window) {
  return window ? FXApp::runModalWhileEvents(window) : FXApp::runWhileEvents();
}

void FXExtApp::destroyWindow(FXWindow*) {}

void FXExtApp::wakeFromLayer(void* app) { static_cast<FXExtApp*>(app)->wakeLoop(); }

void FXExtApp::wakeLoop() {
  // One token in the pipe is enough until the loop has seen it; this also
  // keeps the pipe from filling while the GUI thread is busy.
  if (!signalled_.exchange(true)) signal_->signal();
}

long FXExtApp::onWake(FXObject*, FXSelector, void*) { return 1; }

void FXExtApp::pumpLayerMessages() {
  signalled_.store(false);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

void FXExtApp::watchModalLoops() {
  if (watching_) return;  // an announcement that runs events comes back here
  watching_ = true;
  const Invocation* top = innermostLoop(this);
  // Loops that ended: no longer in the chain, told to stop, their window
  // hidden (runModalWhileShown) or another window in the same record.
  while (!loops_.empty()) {
    const WatchedLoop& last = loops_.back();
    bool running = false;
    for (const Invocation* inv = top; inv; inv = inv->upper) {
      if (inv != last.invocation) continue;
      running = !inv->done && inv->window == last.window && (!last.shown || last.window->shown());
      break;
    }
    if (running) break;
    FXWindow* window = last.window;
    loops_.pop_back();
    modalLoopEnds(window);
  }
  if (top && !top->done && top->modality == MODAL_FOR_WINDOW && top->window &&
      (loops_.empty() || loops_.back().invocation != top)) {
    loops_.push_back({top, top->window, top->window->shown() != 0});
    modalLoopBegins(top->window);
  }
  watching_ = false;
}

bool FXExtApp::getNextEvent(FXRawEvent& ev, bool blocking) {
  watchModalLoops();
  pumpLayerMessages();
  if (pendingChores()) {
    dispatchChores();
    watchModalLoops();
    return false;
  }
  const bool got = FXApp::getNextEvent(ev, blocking);
  watchModalLoops();  // a timer or signal may have ended the loop
  return got;
}

// Input for windows outside the innermost window made modal is dropped.
bool FXExtApp::inputAllowed(FXRawEvent& ev) {
  if (modal_.empty()) return true;
  switch (ev.xany.type) {
    case KeyPress:
    case KeyRelease:
    case ButtonPress:
    case ButtonRelease:
    case MotionNotify:
      break;
    default:
      return true;
  }
  FXWindow* target = findWindowWithId(ev.xany.window);
  FXWindow* modal = modal_.back();
  for (FXWindow* w = target; w; w = w->getParent())
    if (w == modal || modal->isOwnerOf(w)) return true;
  return target == nullptr;
}

bool FXExtApp::dispatchEvent(FXRawEvent& ev) {
  if (!inputAllowed(ev)) return true;
  const bool handled = FXApp::dispatchEvent(ev);
  watchModalLoops();  // the event may have ended the loop: announce it before the loop returns
  return handled;
}

void FXExtApp::create() {
  FXApp::create();
  for (auto& [id, font] : fonts_) font->create();
}

FXHookedRegistry& FXExtApp::reg() {
  if (!settings_) {
    settings_ = createRegistry();
    if (!settings_) settings_ = new FXHookedRegistry(getAppName(), getVendorName());
    settings_->read();
  }
  return *settings_;
}

void FXExtApp::destroy() {
  if (settings_) settings_->write();
  for (auto& [id, font] : fonts_) font->destroy();
  FXApp::destroy();
}

}  // namespace FX

