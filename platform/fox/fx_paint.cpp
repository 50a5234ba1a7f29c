#include "platform/fox/fx_paint.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/Xregion.h>

namespace FX {

void paintProc(FXWindow* widget, FXDC& dc, FXint x, FXint y, const FXDrawable* target) {
  if (!widget || !widget->id()) return;
  const FXint w = widget->getWidth(), h = widget->getHeight();
  if (w <= 0 || h <= 0) return;
  if (target && target == widget->getParent() && widget->shown()) {
    // On its own parent the child window lies on top: it is moved there and
    // paints itself.
    if (widget->getX() != x || widget->getY() != y) widget->move(x, y);
    widget->update();
    widget->repaint();
    return;
  }
  widget->repaint();
  dc.drawArea(widget, 0, 0, w, h, x, y);
}

std::vector<FXRectangle> fxRegionRectangles(const FXRegion& region) {
  std::vector<FXRectangle> out;
  // FXRegion holds one X region and nothing else.
  const auto* x = *reinterpret_cast<const _XRegion* const*>(&region);
  if (!x) return out;
  out.reserve(static_cast<size_t>(x->numRects));
  for (long i = 0; i < x->numRects; ++i) {
    const BOX& b = x->rects[i];
    out.emplace_back(static_cast<FXshort>(b.x1), static_cast<FXshort>(b.y1), static_cast<FXshort>(b.x2 - b.x1),
                     static_cast<FXshort>(b.y2 - b.y1));
  }
  return out;
}

void fxScrollWindowEx(FXWindow* window, FXint dx, FXint dy, const FXRectangle& rect) {
  if (!window || rect.w <= 0 || rect.h <= 0) return;
  if (!window->id()) {
    window->update(rect.x, rect.y, rect.w, rect.h);
    return;
  }
  window->scroll(rect.x, rect.y, rect.w, rect.h, dx, dy);
}

void fxInvalidateRect(FXWindow* window, const FXRectangle* rect) {
  if (!window) return;
  if (rect)
    window->update(rect->x, rect->y, rect->w, rect->h);
  else
    window->update();
}

void fxInvalidateRgn(FXWindow* window, const FXRegion& region) {
  if (!window) return;
  for (const FXRectangle& r : fxRegionRectangles(region)) window->update(r.x, r.y, r.w, r.h);
}

void fxUpdateWindow(FXWindow* window) {
  if (window && window->id()) window->repaint();
}

}  // namespace FX
