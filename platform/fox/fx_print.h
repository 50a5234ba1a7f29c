// The toolkit build's printer device context over FOX 1.6's PostScript one:
// the printable rectangle (in device pixels, one pixel a point unless set),
// an origin that moves everything drawn, clipping that reaches the page, and
// text written as safe PostScript strings whatever bytes it holds.
// Includes FOX: GUI code only.
#pragma once

#include <fx.h>

namespace FX {

class FXDCPrintExt : public FXDCPrint {
 public:
  explicit FXDCPrintExt(FXApp* app);
  ~FXDCPrintExt() override;

  // Starts the job; the printable rectangle becomes the paper less its
  // margins, in points.
  FXbool beginPrint(FXPrinter& job);
  FXbool beginPage(FXuint page = 1);
  FXbool endPage();
  FXbool endPrint();
  FXint pagesBegun() const { return pages_; }

  // Empty until the job has begun.
  FXRectangle getPrintableRect() const { return printable_; }
  // Maps a printable area of w by h pixels onto the paper's.
  void setPrintableSize(FXint w, FXint h);

  void setOrigin(FXint x, FXint y) {
    ox_ = x;
    oy_ = y;
  }
  FXint getOriginX() const { return ox_; }
  FXint getOriginY() const { return oy_; }

  void drawPoint(FXint x, FXint y) override;
  void drawLine(FXint x1, FXint y1, FXint x2, FXint y2) override;
  void drawRectangle(FXint x, FXint y, FXint w, FXint h) override;
  void fillRectangle(FXint x, FXint y, FXint w, FXint h) override;
  void fillRectangles(const FXRectangle* rectangles, FXuint n) override;
  void drawArea(const FXDrawable* source, FXint sx, FXint sy, FXint sw, FXint sh, FXint dx, FXint dy) override;
  void drawImage(const FXImage* image, FXint dx, FXint dy) override;
  void drawIcon(const FXIcon* icon, FXint dx, FXint dy) override;
  void drawIconShaded(const FXIcon* icon, FXint dx, FXint dy) override;
  void drawIconSunken(const FXIcon* icon, FXint dx, FXint dy) override;
  void drawText(FXint x, FXint y, const FXString& string) override;
  void drawText(FXint x, FXint y, const FXchar* string, FXuint length) override;
  void drawImageText(FXint x, FXint y, const FXString& string) override;
  void drawImageText(FXint x, FXint y, const FXchar* string, FXuint length) override;
  void setForeground(FXColor color) override;
  void setClipRectangle(FXint x, FXint y, FXint w, FXint h) override;
  void setClipRectangle(const FXRectangle& rectangle) override;
  void clearClipRectangle() override;
  void setFunction(FXFunction func = BLT_SRC) override;

 private:
  void closeClip();

  FXRectangle printable_{0, 0, 0, 0};
  FXint ox_ = 0, oy_ = 0;
  FXint pages_ = 0;
  bool clipped_ = false;
  bool inPage_ = false;
};

}  // namespace FX
