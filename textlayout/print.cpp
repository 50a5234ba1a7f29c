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
  const std::int32_t savedPaintX = paintX_, savedPaintY = paintY_;
  const pagerecord savedPage = page_;
  // Pages in their own coordinates: the printable area from (x, 0); the
  // layout paints from the content offset where the page starts.
  std::int32_t index = 0, start = 0;
  pagesPrinted_ = 0;
  while (start < H) {
    const FXRectangle pageArea(static_cast<FXshort>(printable.x), 0, printable.w, printable.h);
    dc.setClipRectangle(pageArea);
    const FXColor fore = dc.getForeground();
    dc.setForeground(0xFFFFFFFF);
    dc.fillRectangle(pageArea.x, pageArea.y, pageArea.w, pageArea.h);
    dc.setForeground(fore);
    page_.top = start;
    page_.bottom = start + P;
    page_.carry = 0;
    setPaintOffset(0, -start);
    paint(dc, FXRectangle(static_cast<FXshort>(printable.x), static_cast<FXshort>(start), printable.w, printable.h),
          false, kPaintPage);
    ++pagesPrinted_;
    // The next page starts earlier by the carry, yet always further on, so a
    // line taller than a page cannot hold the printing on one page.
    const std::int32_t next = start + page_.carry + P;
    const std::int32_t following = next > start ? next : start + P;
    dc.clearClipRectangle();
    if (following < H) {
      dc.endPage();
      dc.beginPage(static_cast<FXuint>(index + 2));
    }
    start = following;
    ++index;
  }
  page_ = savedPage;
  setPaintOffset(savedPaintX, savedPaintY);

  layout(savedLayoutWidth, savedLayoutHeight, true);
  setViewRect(savedLeft, savedTop, savedWidth, savedHeight);
  setScrollOffset(savedScrollX, savedScrollY);
  originX_ = savedOriginX;
  originY_ = savedOriginY;
}
