#include "platform/fox/fx_print.h"

#include <string>

namespace FX {

namespace {

// A PostScript string literal body: parentheses and backslashes escaped,
// every byte outside printable ASCII as an octal escape.
std::string psString(const FXchar* s, FXuint n) {
  std::string out;
  out.reserve(n + 8);
  for (FXuint i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c >= 127) {
      const char oct[5] = {'\\', static_cast<char>('0' + (c >> 6)), static_cast<char>('0' + ((c >> 3) & 7)),
                           static_cast<char>('0' + (c & 7)), 0};
      out += oct;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

FXDCPrintExt::FXDCPrintExt(FXApp* app) : FXDCPrint(app) {}

FXDCPrintExt::~FXDCPrintExt() = default;

FXbool FXDCPrintExt::beginPrint(FXPrinter& job) {
  if (!FXDCPrint::beginPrint(job)) return false;
  pages_ = 0;
  FXint w = static_cast<FXint>(job.mediawidth - job.leftmargin - job.rightmargin);
  FXint h = static_cast<FXint>(job.mediaheight - job.topmargin - job.bottommargin);
  setPrintableSize(w > 0 ? w : 0, h > 0 ? h : 0);
  return true;
}

void FXDCPrintExt::setPrintableSize(FXint w, FXint h) {
  printable_ = FXRectangle(0, 0, static_cast<FXshort>(w > 0 ? w : 0), static_cast<FXshort>(h > 0 ? h : 0));
  if (w > 0 && h > 0) setContentRange(0, 0, w, h);
}

FXbool FXDCPrintExt::beginPage(FXuint page) {
  if (!FXDCPrint::beginPage(page)) return false;
  ++pages_;
  inPage_ = true;
  clipped_ = false;
  return true;
}

void FXDCPrintExt::closeClip() {
  if (!clipped_) return;
  outf("grestore\n");
  clipped_ = false;
  FXDCPrint::setForeground(getForeground());
}

FXbool FXDCPrintExt::endPage() {
  if (clipped_) {
    outf("grestore\n");
    clipped_ = false;
  }
  inPage_ = false;
  return FXDCPrint::endPage();
}

FXbool FXDCPrintExt::endPrint() {
  if (inPage_) endPage();
  return FXDCPrint::endPrint();
}

void FXDCPrintExt::setForeground(FXColor color) { FXDCPrint::setForeground(color); }

void FXDCPrintExt::setFunction(FXFunction func) { FXDC::setFunction(func); }

void FXDCPrintExt::setClipRectangle(FXint x, FXint y, FXint w, FXint h) {
  closeClip();
  FXDC::setClipRectangle(x, y, w, h);
  if (w < 0) w = 0;
  if (h < 0) h = 0;
  FXfloat x1, y1, x2, y2;
  tfm(x1, y1, static_cast<FXfloat>(x + ox_), static_cast<FXfloat>(y + oy_));
  tfm(x2, y2, static_cast<FXfloat>(x + ox_ + w), static_cast<FXfloat>(y + oy_ + h));
  outf("gsave\nnewpath %g %g moveto %g %g lineto %g %g lineto %g %g lineto closepath clip\n", x1, y1, x2, y1, x2,
       y2, x1, y2);
  clipped_ = true;
  FXDCPrint::setForeground(getForeground());
}

void FXDCPrintExt::setClipRectangle(const FXRectangle& r) { setClipRectangle(r.x, r.y, r.w, r.h); }

void FXDCPrintExt::clearClipRectangle() {
  closeClip();
  FXDC::clearClipRectangle();
}

// Inverting and other functions have no PostScript form: such drawing is left
// out rather than painted solid.
#define KV_PRINT_SOLID_ONLY \
  if (getFunction() != BLT_SRC) return

void FXDCPrintExt::drawPoint(FXint x, FXint y) {
  KV_PRINT_SOLID_ONLY;
  FXDCPrint::drawPoint(x + ox_, y + oy_);
}

void FXDCPrintExt::drawLine(FXint x1, FXint y1, FXint x2, FXint y2) {
  KV_PRINT_SOLID_ONLY;
  FXDCPrint::drawLine(x1 + ox_, y1 + oy_, x2 + ox_, y2 + oy_);
}

void FXDCPrintExt::drawRectangle(FXint x, FXint y, FXint w, FXint h) {
  KV_PRINT_SOLID_ONLY;
  FXDCPrint::drawRectangle(x + ox_, y + oy_, w, h);
}

void FXDCPrintExt::fillRectangle(FXint x, FXint y, FXint w, FXint h) {
  KV_PRINT_SOLID_ONLY;
  if (w <= 0 || h <= 0) return;
  FXDCPrint::fillRectangle(x + ox_, y + oy_, w, h);
}

void FXDCPrintExt::fillRectangles(const FXRectangle* rectangles, FXuint n) {
  for (FXuint i = 0; i < n; ++i) fillRectangle(rectangles[i].x, rectangles[i].y, rectangles[i].w, rectangles[i].h);
}

void FXDCPrintExt::drawArea(const FXDrawable* source, FXint sx, FXint sy, FXint sw, FXint sh, FXint dx, FXint dy) {
  KV_PRINT_SOLID_ONLY;
  FXDCPrint::drawArea(source, sx, sy, sw, sh, dx + ox_, dy + oy_);
}

void FXDCPrintExt::drawImage(const FXImage* image, FXint dx, FXint dy) {
  KV_PRINT_SOLID_ONLY;
  FXDCPrint::drawImage(image, dx + ox_, dy + oy_);
}

void FXDCPrintExt::drawIcon(const FXIcon* icon, FXint dx, FXint dy) {
  KV_PRINT_SOLID_ONLY;
  FXDCPrint::drawIcon(icon, dx + ox_, dy + oy_);
}

void FXDCPrintExt::drawIconShaded(const FXIcon* icon, FXint dx, FXint dy) {
  KV_PRINT_SOLID_ONLY;
  FXDCPrint::drawIconShaded(icon, dx + ox_, dy + oy_);
}

void FXDCPrintExt::drawIconSunken(const FXIcon* icon, FXint dx, FXint dy) {
  KV_PRINT_SOLID_ONLY;
  FXDCPrint::drawIconSunken(icon, dx + ox_, dy + oy_);
}

void FXDCPrintExt::drawText(FXint x, FXint y, const FXString& s) { drawText(x, y, s.text(), s.length()); }

void FXDCPrintExt::drawText(FXint x, FXint y, const FXchar* s, FXuint n) {
  KV_PRINT_SOLID_ONLY;
  if (!s || n == 0) return;
  FXfloat xo, yo, xt, yt;
  tfm(xo, yo, static_cast<FXfloat>(x + ox_), static_cast<FXfloat>(y + oy_));
  FXint px = font ? font->getFontAscent() + font->getFontDescent() : 12;
  tfm(xt, yt, static_cast<FXfloat>(x + ox_), static_cast<FXfloat>(y + oy_ + px));
  FXfloat size = yo - yt;
  if (size < 0) size = -size;
  if (size < 1) size = 1;
  outf("(%s) %g %g %g /Helvetica drawText\n", psString(s, n).c_str(), xo, yo, size * 0.85f);
}

void FXDCPrintExt::drawImageText(FXint x, FXint y, const FXString& s) { drawImageText(x, y, s.text(), s.length()); }

void FXDCPrintExt::drawImageText(FXint x, FXint y, const FXchar* s, FXuint n) {
  KV_PRINT_SOLID_ONLY;
  if (!s || n == 0) return;
  if (font) {
    const FXColor fore = getForeground();
    FXDCPrint::setForeground(getBackground());
    FXDCPrint::fillRectangle(x + ox_, y + oy_ - font->getFontAscent(), font->getTextWidth(s, n),
                             font->getFontHeight());
    FXDCPrint::setForeground(fore);
  }
  drawText(x, y, s, n);
}

#undef KV_PRINT_SOLID_ONLY

}  // namespace FX
