#include "platform/fox/fx_dc_origin.h"

#include <vector>

namespace FX {

FXDCOrigin::FXDCOrigin(FXDC& target, FXint x, FXint y) : FXDC(target.getApp()), dc_(target), ox_(x), oy_(y) {
  FXDC::setForeground(target.getForeground());
  FXDC::setBackground(target.getBackground());
  FXDC::setFont(target.getFont());
  FXDC::setFunction(target.getFunction());
}

template <class P>
void FXDCOrigin::shifted(const P* in, FXuint n, void (FXDC::*call)(const P*, FXuint)) {
  std::vector<P> moved(in, in + n);
  for (P& p : moved) {
    if constexpr (std::is_same_v<P, FXPoint>) {
      p.x = static_cast<FXshort>(p.x + ox_);
      p.y = static_cast<FXshort>(p.y + oy_);
    } else if constexpr (std::is_same_v<P, FXSegment>) {
      p.x1 = static_cast<FXshort>(p.x1 + ox_);
      p.y1 = static_cast<FXshort>(p.y1 + oy_);
      p.x2 = static_cast<FXshort>(p.x2 + ox_);
      p.y2 = static_cast<FXshort>(p.y2 + oy_);
    } else {
      p.x = static_cast<FXshort>(p.x + ox_);
      p.y = static_cast<FXshort>(p.y + oy_);
    }
  }
  (dc_.*call)(moved.data(), n);
}

FXColor FXDCOrigin::readPixel(FXint x, FXint y) { return dc_.readPixel(x + ox_, y + oy_); }
void FXDCOrigin::drawPoint(FXint x, FXint y) { dc_.drawPoint(x + ox_, y + oy_); }
void FXDCOrigin::drawPoints(const FXPoint* p, FXuint n) { shifted(p, n, &FXDC::drawPoints); }
// Relative points move only by their first point.
void FXDCOrigin::drawPointsRel(const FXPoint* p, FXuint n) {
  if (!n) return;
  std::vector<FXPoint> moved(p, p + n);
  moved[0].x = static_cast<FXshort>(moved[0].x + ox_);
  moved[0].y = static_cast<FXshort>(moved[0].y + oy_);
  dc_.drawPointsRel(moved.data(), n);
}
void FXDCOrigin::drawLine(FXint x1, FXint y1, FXint x2, FXint y2) { dc_.drawLine(x1 + ox_, y1 + oy_, x2 + ox_, y2 + oy_); }
void FXDCOrigin::drawLines(const FXPoint* p, FXuint n) { shifted(p, n, &FXDC::drawLines); }
void FXDCOrigin::drawLinesRel(const FXPoint* p, FXuint n) {
  if (!n) return;
  std::vector<FXPoint> moved(p, p + n);
  moved[0].x = static_cast<FXshort>(moved[0].x + ox_);
  moved[0].y = static_cast<FXshort>(moved[0].y + oy_);
  dc_.drawLinesRel(moved.data(), n);
}
void FXDCOrigin::drawLineSegments(const FXSegment* s, FXuint n) { shifted(s, n, &FXDC::drawLineSegments); }
void FXDCOrigin::drawRectangle(FXint x, FXint y, FXint w, FXint h) { dc_.drawRectangle(x + ox_, y + oy_, w, h); }
void FXDCOrigin::drawRectangles(const FXRectangle* r, FXuint n) { shifted(r, n, &FXDC::drawRectangles); }
void FXDCOrigin::drawRoundRectangle(FXint x, FXint y, FXint w, FXint h, FXint ew, FXint eh) {
  dc_.drawRoundRectangle(x + ox_, y + oy_, w, h, ew, eh);
}
void FXDCOrigin::drawArc(FXint x, FXint y, FXint w, FXint h, FXint a1, FXint a2) { dc_.drawArc(x + ox_, y + oy_, w, h, a1, a2); }
void FXDCOrigin::drawArcs(const FXArc* a, FXuint n) { shifted(a, n, &FXDC::drawArcs); }
void FXDCOrigin::drawEllipse(FXint x, FXint y, FXint w, FXint h) { dc_.drawEllipse(x + ox_, y + oy_, w, h); }
void FXDCOrigin::fillRectangle(FXint x, FXint y, FXint w, FXint h) { dc_.fillRectangle(x + ox_, y + oy_, w, h); }
void FXDCOrigin::fillRectangles(const FXRectangle* r, FXuint n) { shifted(r, n, &FXDC::fillRectangles); }
void FXDCOrigin::fillRoundRectangle(FXint x, FXint y, FXint w, FXint h, FXint ew, FXint eh) {
  dc_.fillRoundRectangle(x + ox_, y + oy_, w, h, ew, eh);
}
void FXDCOrigin::fillChord(FXint x, FXint y, FXint w, FXint h, FXint a1, FXint a2) { dc_.fillChord(x + ox_, y + oy_, w, h, a1, a2); }
void FXDCOrigin::fillChords(const FXArc* a, FXuint n) { shifted(a, n, &FXDC::fillChords); }
void FXDCOrigin::fillArc(FXint x, FXint y, FXint w, FXint h, FXint a1, FXint a2) { dc_.fillArc(x + ox_, y + oy_, w, h, a1, a2); }
void FXDCOrigin::fillArcs(const FXArc* a, FXuint n) { shifted(a, n, &FXDC::fillArcs); }
void FXDCOrigin::fillEllipse(FXint x, FXint y, FXint w, FXint h) { dc_.fillEllipse(x + ox_, y + oy_, w, h); }
void FXDCOrigin::fillPolygon(const FXPoint* p, FXuint n) { shifted(p, n, &FXDC::fillPolygon); }
void FXDCOrigin::fillConcavePolygon(const FXPoint* p, FXuint n) { shifted(p, n, &FXDC::fillConcavePolygon); }
void FXDCOrigin::fillComplexPolygon(const FXPoint* p, FXuint n) { shifted(p, n, &FXDC::fillComplexPolygon); }
void FXDCOrigin::fillPolygonRel(const FXPoint* p, FXuint n) {
  if (!n) return;
  std::vector<FXPoint> moved(p, p + n);
  moved[0].x = static_cast<FXshort>(moved[0].x + ox_);
  moved[0].y = static_cast<FXshort>(moved[0].y + oy_);
  dc_.fillPolygonRel(moved.data(), n);
}
void FXDCOrigin::fillConcavePolygonRel(const FXPoint* p, FXuint n) {
  if (!n) return;
  std::vector<FXPoint> moved(p, p + n);
  moved[0].x = static_cast<FXshort>(moved[0].x + ox_);
  moved[0].y = static_cast<FXshort>(moved[0].y + oy_);
  dc_.fillConcavePolygonRel(moved.data(), n);
}
void FXDCOrigin::fillComplexPolygonRel(const FXPoint* p, FXuint n) {
  if (!n) return;
  std::vector<FXPoint> moved(p, p + n);
  moved[0].x = static_cast<FXshort>(moved[0].x + ox_);
  moved[0].y = static_cast<FXshort>(moved[0].y + oy_);
  dc_.fillComplexPolygonRel(moved.data(), n);
}
void FXDCOrigin::drawHashBox(FXint x, FXint y, FXint w, FXint h, FXint b) { dc_.drawHashBox(x + ox_, y + oy_, w, h, b); }
void FXDCOrigin::drawFocusRectangle(FXint x, FXint y, FXint w, FXint h) { dc_.drawFocusRectangle(x + ox_, y + oy_, w, h); }
void FXDCOrigin::drawArea(const FXDrawable* s, FXint sx, FXint sy, FXint sw, FXint sh, FXint dx, FXint dy) {
  dc_.drawArea(s, sx, sy, sw, sh, dx + ox_, dy + oy_);
}
void FXDCOrigin::drawArea(const FXDrawable* s, FXint sx, FXint sy, FXint sw, FXint sh, FXint dx, FXint dy, FXint dw,
                          FXint dh) {
  dc_.drawArea(s, sx, sy, sw, sh, dx + ox_, dy + oy_, dw, dh);
}
void FXDCOrigin::drawImage(const FXImage* i, FXint dx, FXint dy) { dc_.drawImage(i, dx + ox_, dy + oy_); }
void FXDCOrigin::drawBitmap(const FXBitmap* b, FXint dx, FXint dy) { dc_.drawBitmap(b, dx + ox_, dy + oy_); }
void FXDCOrigin::drawIcon(const FXIcon* i, FXint dx, FXint dy) { dc_.drawIcon(i, dx + ox_, dy + oy_); }
void FXDCOrigin::drawIconShaded(const FXIcon* i, FXint dx, FXint dy) { dc_.drawIconShaded(i, dx + ox_, dy + oy_); }
void FXDCOrigin::drawIconSunken(const FXIcon* i, FXint dx, FXint dy) { dc_.drawIconSunken(i, dx + ox_, dy + oy_); }
void FXDCOrigin::drawText(FXint x, FXint y, const FXString& s) { dc_.drawText(x + ox_, y + oy_, s); }
void FXDCOrigin::drawText(FXint x, FXint y, const FXchar* s, FXuint n) { dc_.drawText(x + ox_, y + oy_, s, n); }
void FXDCOrigin::drawImageText(FXint x, FXint y, const FXString& s) { dc_.drawImageText(x + ox_, y + oy_, s); }
void FXDCOrigin::drawImageText(FXint x, FXint y, const FXchar* s, FXuint n) {
  dc_.drawImageText(x + ox_, y + oy_, s, n);
}
void FXDCOrigin::setForeground(FXColor c) {
  FXDC::setForeground(c);
  dc_.setForeground(c);
}
void FXDCOrigin::setBackground(FXColor c) {
  FXDC::setBackground(c);
  dc_.setBackground(c);
}
void FXDCOrigin::setDashes(FXuint o, const FXchar* p, FXuint n) {
  FXDC::setDashes(o, p, n);
  dc_.setDashes(o, p, n);
}
void FXDCOrigin::setLineWidth(FXuint w) {
  FXDC::setLineWidth(w);
  dc_.setLineWidth(w);
}
void FXDCOrigin::setLineCap(FXCapStyle s) {
  FXDC::setLineCap(s);
  dc_.setLineCap(s);
}
void FXDCOrigin::setLineJoin(FXJoinStyle s) {
  FXDC::setLineJoin(s);
  dc_.setLineJoin(s);
}
void FXDCOrigin::setLineStyle(FXLineStyle s) {
  FXDC::setLineStyle(s);
  dc_.setLineStyle(s);
}
void FXDCOrigin::setFillStyle(FXFillStyle s) {
  FXDC::setFillStyle(s);
  dc_.setFillStyle(s);
}
void FXDCOrigin::setFillRule(FXFillRule r) {
  FXDC::setFillRule(r);
  dc_.setFillRule(r);
}
void FXDCOrigin::setFunction(FXFunction f) {
  FXDC::setFunction(f);
  dc_.setFunction(f);
}
void FXDCOrigin::setTile(FXImage* i, FXint dx, FXint dy) {
  FXDC::setTile(i, dx, dy);
  dc_.setTile(i, dx + ox_, dy + oy_);
}
void FXDCOrigin::setStipple(FXBitmap* b, FXint dx, FXint dy) {
  FXDC::setStipple(b, dx, dy);
  dc_.setStipple(b, dx + ox_, dy + oy_);
}
void FXDCOrigin::setStipple(FXStipplePattern p, FXint dx, FXint dy) {
  FXDC::setStipple(p, dx, dy);
  dc_.setStipple(p, dx + ox_, dy + oy_);
}
void FXDCOrigin::setClipRegion(const FXRegion& region) {
  FXRegion moved(region);
  moved.offset(ox_, oy_);
  dc_.setClipRegion(moved);
}
void FXDCOrigin::setClipRectangle(FXint x, FXint y, FXint w, FXint h) {
  FXDC::setClipRectangle(x, y, w, h);
  dc_.setClipRectangle(x + ox_, y + oy_, w, h);
}
void FXDCOrigin::setClipRectangle(const FXRectangle& r) { setClipRectangle(r.x, r.y, r.w, r.h); }
void FXDCOrigin::clearClipRectangle() {
  FXDC::clearClipRectangle();
  dc_.clearClipRectangle();
}
void FXDCOrigin::setClipMask(FXBitmap* b, FXint dx, FXint dy) {
  FXDC::setClipMask(b, dx, dy);
  dc_.setClipMask(b, dx + ox_, dy + oy_);
}
void FXDCOrigin::clearClipMask() {
  FXDC::clearClipMask();
  dc_.clearClipMask();
}
void FXDCOrigin::setFont(FXFont* f) {
  FXDC::setFont(f);
  dc_.setFont(f);
}
void FXDCOrigin::clipChildren(FXbool yes) { dc_.clipChildren(yes); }

}  // namespace FX
