#include "platform/fox/fx_window_ext.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace FX {

namespace {

struct Marks {
  FXWString name;
  bool viewControl = false;
  bool transparent = false;
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
