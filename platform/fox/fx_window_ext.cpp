#include "platform/fox/fx_window_ext.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace FX {

namespace {

struct Marks {
  FXWString name;
  bool viewControl = false;
  bool transparent = false;
  // Where a window maximised without a window manager goes back to.
  bool maximized = false;
  FXint normal[4] = {0, 0, 0, 0};
};

// GUI thread only, like the windows themselves; the mutex keeps a stray
// reader from another thread harmless.
std::mutex& marksLock() {
  static std::mutex lock;
  return lock;
}

std::unordered_map<const FXWindow*, Marks>& marks() {
  static auto* table = new std::unordered_map<const FXWindow*, Marks>;
  return *table;
}

template <class F>
void change(const FXWindow* window, F&& f) {
  if (!window) return;
  std::lock_guard<std::mutex> hold(marksLock());
  f(marks()[window]);
}

template <class R, class F>
R look(const FXWindow* window, R none, F&& f) {
  if (!window) return none;
  std::lock_guard<std::mutex> hold(marksLock());
  auto it = marks().find(window);
  return it == marks().end() ? none : f(it->second);
}

}  // namespace

void fxSetWindowName(FXWindow* window, const FXWString& name) {
  change(window, [&](Marks& m) { m.name = name; });
}

FXWString fxGetWindowName(const FXWindow* window) {
  return look(window, FXWString(), [](const Marks& m) { return m.name; });
}

FXWindow* fxFindWindowByName(FXWindow* root, const FXWString& name) {
  if (!root) return nullptr;
  if (fxGetWindowName(root) == name) return root;
  for (FXWindow* child = root->getFirst(); child; child = child->getNext())
    if (FXWindow* found = fxFindWindowByName(child, name)) return found;
  return nullptr;
}

void fxSetViewControl(FXWindow* window, bool on) {
  change(window, [&](Marks& m) { m.viewControl = on; });
}

bool fxIsViewControl(const FXWindow* window) {
  return look(window, false, [](const Marks& m) { return m.viewControl; });
}

void fxSetTransparent(FXWindow* window, bool on) {
  change(window, [&](Marks& m) { m.transparent = on; });
}

bool fxIsTransparent(const FXWindow* window) {
  return look(window, false, [](const Marks& m) { return m.transparent; });
}

void fxForgetWindowTree(FXWindow* window) {
  if (!window) return;
  for (FXWindow* child = window->getFirst(); child; child = child->getNext()) fxForgetWindowTree(child);
  std::lock_guard<std::mutex> hold(marksLock());
  marks().erase(window);
}

void fxAdjustWindowRect(const FXTopWindow*, FXint&, FXint&, FXint&, FXint&, bool) {
  // FOX 1.6 places and sizes the client area itself and the window manager
  // draws its frame outside it, so client and outer rectangles coincide.
}

void fxAdjustPositionForMonitor(const FXWindow* window, FXint& x, FXint& y, FXint& w, FXint& h) {
  if (!window) return;
  const FXWindow* root = window->getRoot();
  if (!root) return;
  const FXint sw = root->getWidth(), sh = root->getHeight();
  if (sw <= 0 || sh <= 0) return;
  w = std::min(w, sw);
  h = std::min(h, sh);
  x = std::clamp(x, 0, sw - w);
  y = std::clamp(y, 0, sh - h);
}

void fxSetWindowPlacement(FXTopWindow* window, const FXWindowPlacement& placement, bool show) {
  if (!window || !placement.valid()) return;
  window->position(placement.x, placement.y, placement.w, placement.h);
  if (!show) return;
  switch (placement.showState) {
    case 2:
      window->show();
      window->minimize();
      break;
    case 3:
      window->show();
      window->maximize();
      break;
    default:
      window->show();
      break;
  }
}

FXWindowPlacement fxGetWindowPlacement(const FXTopWindow* window) {
  FXWindowPlacement p;
  if (!window) return p;
  p.x = window->getX();
  p.y = window->getY();
  p.w = window->getWidth();
  p.h = window->getHeight();
  p.showState = window->isMaximized() ? 3 : window->isMinimized() ? 2 : 1;
  // Maximised without a manager: the rectangle it goes back to is the normal one.
  look(window, 0, [&](const Marks& m) {
    if (m.maximized) {
      p.x = m.normal[0];
      p.y = m.normal[1];
      p.w = m.normal[2];
      p.h = m.normal[3];
    }
    return 0;
  });
  return p;
}

bool fxReadWindowPlacement(const FXWindowSettings& settings, FXWindowPlacement& placement) {
  if (!settings.usable() || !settings.existingEntry("Width") || !settings.existingEntry("Height")) return false;
  FXWindowPlacement p;
  p.x = settings.readIntEntry("X", 0);
  p.y = settings.readIntEntry("Y", 0);
  p.w = settings.readIntEntry("Width", 0);
  p.h = settings.readIntEntry("Height", 0);
  p.showState = settings.readIntEntry("ShowState", 1);
  if (p.showState < 1 || p.showState > 3) p.showState = 1;
  // A stored size the window could not have had is no placement.
  if (!p.valid() || p.w > 32767 || p.h > 32767) return false;
  placement = p;
  return true;
}

bool fxWriteWindowPlacement(FXWindowSettings& settings, const FXWindowPlacement& placement) {
  if (!settings.usable() || !placement.valid()) return false;
  return settings.writeIntEntry("X", placement.x) && settings.writeIntEntry("Y", placement.y) &&
         settings.writeIntEntry("Width", placement.w) && settings.writeIntEntry("Height", placement.h) &&
         settings.writeIntEntry("ShowState", placement.showState);
}

}  // namespace FX

namespace FX {

namespace {

Display* displayOf(FXApp* app) { return app ? static_cast<Display*>(app->getDisplay()) : nullptr; }

// The two states a manager sets on a maximised window, or none.
void setMaximizedState(FXTopWindow* window, bool on) {
  Display* display = displayOf(window->getApp());
  const Window xid = static_cast<Window>(window->id());
  const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  if (on) {
    Atom values[2] = {XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_VERT", False),
                      XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_HORZ", False)};
    XChangeProperty(display, xid, state, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(values), 2);
  } else {
    XDeleteProperty(display, xid, state);
  }
  XFlush(display);
}

}  // namespace

bool fxHasWindowManager(FXApp* app) {
  Display* display = displayOf(app);
  if (!display) return false;
  // A manager that follows the extended hints names its check window on the root.
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                        &format, &count, &after, &data) == Success &&
                     count == 1;
  if (data) XFree(data);
  return found;
}

bool fxMaximizeUnmanaged(FXTopWindow* window) {
  if (!window || !window->id() || fxHasWindowManager(window->getApp())) return false;
  const FXWindow* root = window->getRoot();
  const bool already = look(window, false, [](const Marks& m) { return m.maximized; });
  if (!already) {
    change(window, [&](Marks& m) {
      m.maximized = true;
      m.normal[0] = window->getX();
      m.normal[1] = window->getY();
      m.normal[2] = window->getWidth();
      m.normal[3] = window->getHeight();
    });
  }
  window->position(0, 0, root->getWidth(), root->getHeight());
  setMaximizedState(window, true);
  return true;
}

bool fxRestoreUnmanaged(FXTopWindow* window) {
  if (!window || !window->id() || fxHasWindowManager(window->getApp())) return false;
  FXint normal[4] = {0, 0, 0, 0};
  bool was = false;
  change(window, [&](Marks& m) {
    was = m.maximized;
    std::copy(m.normal, m.normal + 4, normal);
    m.maximized = false;
  });
  if (was) window->position(normal[0], normal[1], normal[2], normal[3]);
  setMaximizedState(window, false);
  return true;
}

}  // namespace FX
