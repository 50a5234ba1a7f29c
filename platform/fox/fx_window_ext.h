// Window operations of the toolkit build that FOX 1.6 lacks: a window's
// name, the view-control and transparency marks, the default height for a
// given width, and the top-level placement helpers (outer rectangles,
// keeping a rectangle on a monitor, the stored normal placement).
//
// Names and marks live in a side table keyed by the window; whoever deletes
// a marked window tells the table (fxForgetWindowTree), or a later window at
// the same address would inherit them.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include "platform/fox/fx_window_settings.h"
#include "platform/fox/fxwstring.h"

namespace FX {

void fxSetWindowName(FXWindow* window, const FXWString& name);
// Empty when the window has none.
FXWString fxGetWindowName(const FXWindow* window);
// The first window named `name` in the tree under `root` (root included).
FXWindow* fxFindWindowByName(FXWindow* root, const FXWString& name);

// A window that shows a document's state (a menu pane attached as a view).
void fxSetViewControl(FXWindow* window, bool on = true);
bool fxIsViewControl(const FXWindow* window);

// A window whose parent paints its background.
void fxSetTransparent(FXWindow* window, bool on = true);
bool fxIsTransparent(const FXWindow* window);

// Drops the names and marks of the window and everything under it.
void fxForgetWindowTree(FXWindow* window);

// The toolkit build's getDefaultHeight(width).
inline FXint fxDefaultHeight(FXWindow* window, FXint width) { return window->getHeightForWidth(width); }

// Where a top-level window sits when it is not maximised, and how it is
// shown: 1 normal, 2 minimised, 3 maximised.
struct FXWindowPlacement {
  FXint showState = 1;
  FXint x = 0, y = 0, w = 0, h = 0;
  bool valid() const { return w > 0 && h > 0; }
};

// Client rectangle to outer rectangle (toOuter) and back, by the frame the
// window manager puts around the window. A window that is not created, or
// whose manager tells no frame, has none.
void fxAdjustWindowRect(const FXTopWindow* window, FXint& x, FXint& y, FXint& w, FXint& h, bool toOuter);

// Moves (and if need be shrinks) the rectangle so that it lies on the screen
// the window is on.
void fxAdjustPositionForMonitor(const FXWindow* window, FXint& x, FXint& y, FXint& w, FXint& h);

// Places the window at the placement's rectangle and, when `show` is set,
// shows it in the placement's state; otherwise the state is applied when the
// window is next shown by the caller.
void fxSetWindowPlacement(FXTopWindow* window, const FXWindowPlacement& placement, bool show);
FXWindowPlacement fxGetWindowPlacement(const FXTopWindow* window);

// The placement in a window's settings section: "X", "Y", "Width", "Height",
// "ShowState". Reading answers false (and leaves `placement`) when the
// section holds none.
bool fxReadWindowPlacement(const FXWindowSettings& settings, FXWindowPlacement& placement);
bool fxWriteWindowPlacement(FXWindowSettings& settings, const FXWindowPlacement& placement);

// FOX 1.6 leaves maximising and restoring to the window manager; on a display
// without one (a bare X server) they do nothing. These do it there: the
// window covers the screen, carries the _NET_WM_STATE a manager would give it
// (so FXTopWindow::isMaximized answers), and keeps the rectangle it had for
// restoring. Each answers false, doing nothing, when a manager runs or the
// window is not created; the caller then asks FOX.
bool fxHasWindowManager(FXApp* app);
bool fxMaximizeUnmanaged(FXTopWindow* window);
bool fxRestoreUnmanaged(FXTopWindow* window);

}  // namespace FX
