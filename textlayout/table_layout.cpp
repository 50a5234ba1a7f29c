// Tables and paragraph boxes.
#include <fx.h>

#include <algorithm>

#include "textlayout/layout.h"

using namespace FX;

// A plain stand-in: paragraph boxes flow as blocks; a table's rows stack and
// share the width evenly among their cells.
std::int32_t FXKTextLayout::layoutTable(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y,
                                        std::int32_t width, block& b, std::int32_t& runCursor) {
  if (!(b.flags & kBlockTable)) return layoutBlock(right, right2, x, y, width, 0, b, runCursor);
  b.firstLine = static_cast<std::int32_t>(lines_.size());
  const std::int32_t uw = unitWidth(&b);
  const std::int32_t sp = uw * b.spacing, pad = uw * b.padding;
  std::int32_t cy = y, tableWidth = 0;
  for (block& row : b.children) {
    if (!(row.flags & kBlockRow) || (row.flags & kBlockHidden)) continue;
    std::int32_t cells = 0;
    for (block& c : row.children)
      if (!(c.flags & kBlockHidden)) ++cells;
    std::int32_t each = 0;
    if (width == 0x7FFFFFFF) {
      each = 0x7FFFFFFF;
    } else if (cells > 0) {
      each = std::max(0, (width - (cells - 1) * sp) / cells - 2 * pad);
    }
    row.firstLine = static_cast<std::int32_t>(lines_.size());
    std::int32_t cx = x, bottom = cy;
    for (block& c : row.children) {
      if (c.flags & kBlockHidden) continue;
      if (c.flags & kBlockPlaceholder) {
        c.x = cx, c.y = cy, c.w = each == 0x7FFFFFFF ? 0 : each, c.h = 0;
      } else {
        std::int32_t w = each;
        if (each == 0x7FFFFFFF) {
          std::int32_t mn = 0, mx = 0;
          blockWidths(mn, mx, c);
          w = mx;
        }
        bottom = std::max(bottom, layoutBlock(right, right2, cx + pad, cy + pad, w, 0, c, runCursor) + pad);
        c.w = w + 2 * pad;
        c.x = cx;
      }
      cx += c.w + sp;
    }
    for (block& c : row.children) c.h = bottom - cy, c.y = cy;
    row.x = x, row.y = cy, row.w = std::max(0, cx - sp - x), row.h = bottom - cy;
    row.endLine = static_cast<std::int32_t>(lines_.size());
    tableWidth = std::max(tableWidth, row.w);
    cy = bottom + sp;
  }
  b.x = x, b.y = y, b.w = tableWidth, b.h = std::max(0, cy - y);
  b.endLine = static_cast<std::int32_t>(lines_.size());
  right = std::max(right, x + tableWidth);
  return y + b.h;
}
