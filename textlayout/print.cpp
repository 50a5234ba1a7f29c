// Printing: the text laid out again for the printable width and cut into
// pages of the printable height; a line cut by a page's bottom is held back
// and starts the next page whole. The screen layout comes back afterwards.
#include <fx.h>

#include "platform/fox/fx_print.h"
#include "textlayout/layout.h"

using namespace FX;

void FXKTextLayout::print(FXDCPrintExt& dc) {
  const FXRectangle printable = dc.getPrintableRect();
  if (printable.w <= 0 || printable.h <= 0) return;
  const std::int32_t savedLeft = viewLeft_, savedTop = viewTop_, savedWidth = viewWidth_, savedHeight = viewHeight_;
  const std::int32_t savedLayoutWidth = layoutWidth_, savedLayoutHeight = layoutHeight_;
  const std::int32_t savedScrollX = scrollX_, savedScrollY = scrollY_;
  const std::int32_t savedOriginX = originX_, savedOriginY = originY_;

  layout(printable.w, 0, true);
  setViewRect(printable.x, printable.y, printable.w, printable.h);
  setScrollOffset(0, 0);
  originX_ = originY_ = 0;

  const std::int32_t H = getContentHeight(), P = printable.h;
  pagerecord record;
  record.index = 0;
  record.x = printable.x;
  record.w = printable.w;
  record.h = P;
  record.y = 0;
  record.carry = 0;
  page_ = &record;
  pagesPrinted_ = 0;
  while (record.y < H) {
    dc.setOrigin(0, -record.y);
    const FXRectangle pageRect(static_cast<FXshort>(record.x), static_cast<FXshort>(record.y),
                               static_cast<FXshort>(record.w), static_cast<FXshort>(record.h));
    dc.setClipRectangle(pageRect);
    const FXColor fore = dc.getForeground();
    dc.setForeground(0xFFFFFFFF);
    dc.fillRectangle(pageRect.x, pageRect.y, pageRect.w, pageRect.h);
    dc.setForeground(fore);
    paint(dc, pageRect, false, kPaintPage);
    ++pagesPrinted_;
    const std::int32_t next = record.y + record.carry + P;
    const std::int32_t nextIndex = record.index + 1;
    // A carry never lets a page start where this one did.
    const std::int32_t start = next > record.y ? next : record.y + P;
    if (start < H) {
      dc.clearClipRectangle();
      dc.endPage();
      dc.beginPage(static_cast<FXuint>(nextIndex + 1));
    }
    record.y = start;
    record.carry = 0;
    record.index = nextIndex;
  }
  dc.clearClipRectangle();
  dc.setOrigin(0, 0);
  page_ = nullptr;

  layout(savedLayoutWidth, savedLayoutHeight, true);
  setViewRect(savedLeft, savedTop, savedWidth, savedHeight);
  setScrollOffset(savedScrollX, savedScrollY);
  originX_ = savedOriginX;
  originY_ = savedOriginY;
}
