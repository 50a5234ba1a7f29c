// A device context with an origin, as the toolkit build's FXDC has: every
// coordinate drawn through it (and its clip rectangle and region) is moved by
// the origin before it reaches the device context it wraps. FOX 1.6's own
// contexts have no origin. Includes FOX: GUI code only.
#pragma once

#include <fx.h>

namespace FX {

class FXDCOrigin : public FXDC {
 public:
  FXDCOrigin(FXDC& target, FXint x = 0, FXint y = 0);

  void setOrigin(FXint x, FXint y) {
    ox_ = x;
    oy_ = y;
  }
  // Moves the origin by (dx, dy).
  void moveOrigin(FXint dx, FXint dy) {
    ox_ += dx;
    oy_ += dy;
  }
  FXint getOriginX() const { return ox_; }
  FXint getOriginY() const { return oy_; }
  FXDC& target() const { return dc_; }

  FXColor readPixel(FXint x, FXint y) override;
  void drawPoint(FXint x, FXint y) override;
  void drawPoints(const FXPoint* points, FXuint n) override;
  void drawPointsRel(const FXPoint* points, FXuint n) override;
  void drawLine(FXint x1, FXint y1, FXint x2, FXint y2) override;
  void drawLines(const FXPoint* points, FXuint n) override;
  void drawLinesRel(const FXPoint* points, FXuint n) override;
  void drawLineSegments(const FXSegment* segments, FXuint n) override;
  void drawRectangle(FXint x, FXint y, FXint w, FXint h) override;
  void drawRectangles(const FXRectangle* rectangles, FXuint n) override;
  void drawRoundRectangle(FXint x, FXint y, FXint w, FXint h, FXint ew, FXint eh) override;
  void drawArc(FXint x, FXint y, FXint w, FXint h, FXint ang1, FXint ang2) override;
  void drawArcs(const FXArc* arcs, FXuint n) override;
  void drawEllipse(FXint x, FXint y, FXint w, FXint h) override;
  void fillRectangle(FXint x, FXint y, FXint w, FXint h) override;
  void fillRectangles(const FXRectangle* rectangles, FXuint n) override;
  void fillRoundRectangle(FXint x, FXint y, FXint w, FXint h, FXint ew, FXint eh) override;
  void fillChord(FXint x, FXint y, FXint w, FXint h, FXint ang1, FXint ang2) override;
  void fillChords(const FXArc* chords, FXuint n) override;
  void fillArc(FXint x, FXint y, FXint w, FXint h, FXint ang1, FXint ang2) override;
  void fillArcs(const FXArc* arcs, FXuint n) override;
  void fillEllipse(FXint x, FXint y, FXint w, FXint h) override;
  void fillPolygon(const FXPoint* points, FXuint n) override;
  void fillConcavePolygon(const FXPoint* points, FXuint n) override;
  void fillComplexPolygon(const FXPoint* points, FXuint n) override;
  void fillPolygonRel(const FXPoint* points, FXuint n) override;
  void fillConcavePolygonRel(const FXPoint* points, FXuint n) override;
  void fillComplexPolygonRel(const FXPoint* points, FXuint n) override;
  void drawHashBox(FXint x, FXint y, FXint w, FXint h, FXint b = 1) override;
  void drawFocusRectangle(FXint x, FXint y, FXint w, FXint h) override;
  void drawArea(const FXDrawable* source, FXint sx, FXint sy, FXint sw, FXint sh, FXint dx, FXint dy) override;
  void drawArea(const FXDrawable* source, FXint sx, FXint sy, FXint sw, FXint sh, FXint dx, FXint dy, FXint dw,
                FXint dh) override;
  void drawImage(const FXImage* image, FXint dx, FXint dy) override;
  void drawBitmap(const FXBitmap* bitmap, FXint dx, FXint dy) override;
  void drawIcon(const FXIcon* icon, FXint dx, FXint dy) override;
  void drawIconShaded(const FXIcon* icon, FXint dx, FXint dy) override;
  void drawIconSunken(const FXIcon* icon, FXint dx, FXint dy) override;
  void drawText(FXint x, FXint y, const FXString& string) override;
  void drawText(FXint x, FXint y, const FXchar* string, FXuint length) override;
  void drawImageText(FXint x, FXint y, const FXString& string) override;
  void drawImageText(FXint x, FXint y, const FXchar* string, FXuint length) override;
  void setForeground(FXColor color) override;
  void setBackground(FXColor color) override;
  void setDashes(FXuint offset, const FXchar* pattern, FXuint length) override;
  void setLineWidth(FXuint width = 0) override;
  void setLineCap(FXCapStyle style = CAP_BUTT) override;
  void setLineJoin(FXJoinStyle style = JOIN_MITER) override;
  void setLineStyle(FXLineStyle style = LINE_SOLID) override;
  void setFillStyle(FXFillStyle style = FILL_SOLID) override;
  void setFillRule(FXFillRule rule = RULE_EVEN_ODD) override;
  void setFunction(FXFunction func = BLT_SRC) override;
  void setTile(FXImage* image, FXint dx = 0, FXint dy = 0) override;
  void setStipple(FXBitmap* bitmap, FXint dx = 0, FXint dy = 0) override;
  void setStipple(FXStipplePattern pattern, FXint dx = 0, FXint dy = 0) override;
  void setClipRegion(const FXRegion& region) override;
  void setClipRectangle(FXint x, FXint y, FXint w, FXint h) override;
  void setClipRectangle(const FXRectangle& rectangle) override;
  void clearClipRectangle() override;
  void setClipMask(FXBitmap* bitmap, FXint dx = 0, FXint dy = 0) override;
  void clearClipMask() override;
  void setFont(FXFont* font) override;
  void clipChildren(FXbool yes) override;

 private:
  template <class P>
  void shifted(const P* in, FXuint n, void (FXDC::*call)(const P*, FXuint));

  FXDC& dc_;
  FXint ox_, oy_;
};

}  // namespace FX
