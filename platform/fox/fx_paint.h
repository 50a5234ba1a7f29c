// Window painting services of the toolkit build on FOX 1.6: a widget painted
// into another device context (paintProc of windowless widgets), the
// rectangles of a region, and the Win32 scroll and repaint calls as the text
// view uses them, served by FOX's scroll, update and repaint on the window.
// Includes FOX: GUI code only.
#pragma once

#include <fx.h>

#include <vector>

namespace FX {

// Paints a created widget at (x, y) of a device context that draws on
// `target`. A widget shown on `target` (its parent) paints itself over its
// own rectangle; for any other target its pixels are copied from its window.
void paintProc(FXWindow* widget, FXDC& dc, FXint x, FXint y, const FXDrawable* target);

// The rectangles that make up a region, in X's band order.
std::vector<FXRectangle> fxRegionRectangles(const FXRegion& region);

// ScrollWindowEx with SW_INVALIDATE over one rectangle: its pixels move by
// (dx, dy) inside it and the uncovered strips are marked for repainting.
void fxScrollWindowEx(FXWindow* window, FXint dx, FXint dy, const FXRectangle& rect);
// InvalidateRect (null: the whole window) and InvalidateRgn.
void fxInvalidateRect(FXWindow* window, const FXRectangle* rect);
void fxInvalidateRgn(FXWindow* window, const FXRegion& region);
// UpdateWindow: pending repaints of the window are done now.
void fxUpdateWindow(FXWindow* window);

}  // namespace FX
