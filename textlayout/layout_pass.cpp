// The layout pass: block flow, divisions, layers, span expansion and the
// finishing passes.
#include <fx.h>

#include <algorithm>

#include "textlayout/layout.h"

using namespace FX;

namespace {

constexpr std::int32_t kUnbounded = 0x7FFFFFFF;

}  // namespace

void FXKTextLayout::ensureMeasured(bool force) {
  if (!(state_ & 2) && !force) return;
  unitWidth_ = unitHeight_ = 0;
  widthCache_.clear();
  auto clearWidths = [](auto& self, block& b) -> void {
    b.widthsCached = false;
    b.minWidth = b.maxWidth = 0;
    for (block& c : b.children) self(self, c);
  };
  clearWidths(clearWidths, root_);
  for (auto& [pos, p] : objects_) p->resetSizeCaches();
  measureSegments(0, static_cast<std::int32_t>(segments_.size()));
  state_ &= ~2u;
}

void FXKTextLayout::layout(std::int32_t width, std::int32_t height, bool force) {
  if (width < 0) width = 0;
  if (force) heightCache_.clear();
  const std::int32_t view[4] = {viewLeft_, viewTop_, scrollX_, scrollY_};
  if (!force && passValid_ && !(state_ & 2) && width == layoutWidth_ && height == layoutHeight_ &&
      std::equal(view, view + 4, passView_))
    return;
  layoutWidth_ = width;
  layoutHeight_ = height;
  *updateRegion_ = FXRegion();
  for (auto& [pos, p] : objects_) p->x = p->y = 0;
  previousLines_ = std::move(lines_);
  lines_.clear();
  ensureMeasured(force);

  contentWidth_ = 0;
  root_.h = height;
  std::int32_t right = 0, right2 = 0, run = 0;
  contentHeight_ = layoutBlock(right, right2, 0, 0, width, height, root_, run);
  root_.flags |= kBlockCell;

  // Cells of the root's tables: percent heights, then vertical alignment.
  for (block& t : root_.children)
    for (block& r : t.children)
      for (block& c : r.children) extraHeight(c, 0, false);
  alignVertically(root_);
  columnFlow(root_);
  alignNestedTables(root_);
  growRects(root_);
  placeBackgrounds(root_);

  const std::int32_t w = std::max(root_.w == kUnbounded ? 0 : root_.w, contentWidth_);
  root_.w = contentWidth_ = w;
  if (root_.w > 0 && root_.h > 0) placeObjects();
  emptyHidden(root_, false);
  contentWidth_ = std::max(contentWidth_, root_.w);
  contentHeight_ = std::max(contentHeight_, root_.y + root_.h);
  lineCount_ = static_cast<std::int32_t>(lines_.size());
  passValid_ = true;
  std::copy(view, view + 4, passView_);
}

// ---------------------------------------------------------------- block flow

std::int32_t FXKTextLayout::layoutBlock(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y,
                                        std::int32_t width, std::int32_t minHeight, block& b,
                                        std::int32_t& runCursor) {
  if (width < 0) width = 0;
  if (&b == &root_ && !lines_.empty()) {
    previousLines_ = std::move(lines_);
    lines_.clear();
  }
  if (minHeight == 0) b.h = 0;
  b.firstLine = static_cast<std::int32_t>(lines_.size());
  const std::int32_t hpad = unitWidth(&b) * b.padding;
  const std::int32_t vpad = unitHeight(&b) * b.padding;
  const std::int32_t inner = width == kUnbounded ? kUnbounded : std::max(0, width - 2 * hpad);
  std::int32_t cy = y + vpad;
  std::int32_t pieceRight = 0, widest = 0;
  std::int32_t pos = b.firstSegment;
  auto text = [&](std::int32_t to) {
    if (to > pos) cy = breakLines(pieceRight, right2, x + hpad, cy, inner, pos, to, b, runCursor);
  };
  for (block& c : b.children) {
    if (c.flags & kBlockPlaceholder) continue;
    text(c.firstSegment);
    const textstyle* cs = nearestStyle(&c);
    const std::int32_t ind = indentWidth(*cs);
    const std::int32_t cx = x + hpad + ind;
    const std::int32_t less = inner == kUnbounded ? kUnbounded : std::max(0, inner - ind);
    if (c.flags & kBlockDivision) {
      cy = layoutDivision(pieceRight, right2, cx, cy, inner, c, runCursor);
    } else if (c.flags & kBlockLayer) {
      cy = layoutLayer(pieceRight, right2, cx, cy, less, c, runCursor);
    } else if (c.flags & kBlockTable) {
      cy = layoutTable(pieceRight, right2, cx, cy, less, c, runCursor);
    } else if (c.flags & kBlockParagraphKind) {
      cy = layoutTable(pieceRight, right2, cx, cy, inner, c, runCursor);
    } else {
      cy = layoutBlock(pieceRight, right2, cx, cy, inner, 0, c, runCursor);
    }
    if (!(c.flags & (kBlockLayer | kBlockHidden))) widest = std::max(widest, c.w);
    pos = std::max(pos, c.endSegment);
  }
  text(b.endSegment);
  cy += vpad;
  b.x = x;
  b.y = y;
  if (&b == &root_) {
    b.w = widest;
  } else {
    b.w = width == kUnbounded ? 0 : width;
  }
  b.usedHeight = cy - y;
  b.h = std::max(cy - y, minHeight);
  b.endLine = static_cast<std::int32_t>(lines_.size());
  right = std::max({right, pieceRight, x + b.w});
  if (&b == &root_ && right > b.w && right != kUnbounded) b.w = right;
  return cy;
}

std::int32_t FXKTextLayout::layoutDivision(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y,
                                           std::int32_t width, block& b, std::int32_t& runCursor) {
  b.firstLine = static_cast<std::int32_t>(lines_.size());
  if (b.flags & kBlockHidden) {
    b.x = b.y = b.w = b.h = 0;
    b.endLine = b.firstLine;
    return y;
  }
  std::int32_t bottom = y, localRight = right;
  if (b.flags & kBlockCell) {
    std::int32_t widest = 0;
    for (block& c : b.children) {
      std::int32_t cmin = 0, cmax = 0;
      blockWidths(cmin, cmax, c);
      widest = std::max(widest, cmax);
    }
    std::int32_t w = 0;
    for (block& c : b.children) {
      if (c.flags & kBlockHidden) continue;
      bottom = std::max(bottom, layoutTable(localRight, right2, x, y, widest, c, runCursor));
      w = std::max(w, c.w);
    }
    b.x = x, b.y = y, b.w = w, b.h = bottom - y;
  } else {
    std::int32_t cx = x, cy = y, rowBottom = y, remaining = width, tableStep = 0;
    bool first = true;
    if (b.flags & 0x4)
      for (block& c : b.children) {
        std::int32_t cmin = 0, cmax = 0;
        blockWidths(cmin, cmax, c);
        tableStep = std::max(tableStep, cmin);
      }
    std::int32_t prevWidth = 0;
    for (block& c : b.children) {
      if (c.flags & kBlockHidden) continue;
      std::int32_t cmin = 0, cmax = 0;
      blockWidths(cmin, cmax, c);
      const std::int32_t want = width == kUnbounded ? cmax : std::min(cmax, width);
      if (!first) {
        const std::int32_t step = (b.flags & 0x4) ? tableStep : prevWidth;
        if (remaining != kUnbounded && remaining - step < want) {
          cx = x;
          cy = rowBottom;
          remaining = width;
        } else {
          cx += step;
          if (remaining != kUnbounded) remaining -= step;
        }
      }
      first = false;
      const std::int32_t bottomOf = layoutTable(localRight, right2, cx, cy, want, c, runCursor);
      rowBottom = std::max(rowBottom, bottomOf);
      prevWidth = c.w;
    }
    bottom = rowBottom;
    b.x = x, b.y = y, b.h = bottom - y;
    const std::int32_t reach = std::max(localRight, right2) - x;
    b.w = width == kUnbounded ? std::max(0, reach) : std::min(width, std::max(0, reach));
  }
  b.usedHeight = b.h;
  b.endLine = static_cast<std::int32_t>(lines_.size());
  right = std::max({right, localRight, b.x + b.w});
  return bottom;
}

std::int32_t FXKTextLayout::layoutLayer(std::int32_t&, std::int32_t&, std::int32_t x, std::int32_t y,
                                        std::int32_t width, block& b, std::int32_t& runCursor) {
  std::int32_t r = 0, r2 = 0;
  layoutBlock(r, r2, x, y, width, 0, b, runCursor);
  b.x = x, b.y = y;
  b.w = width == kUnbounded ? r - x : width;
  return y;  // a layer takes no room in the flow
}

// ---------------------------------------------------------------- moving

void FXKTextLayout::moveBlock(block& b, std::int32_t dx, std::int32_t dy) {
  if (dx == 0 && dy == 0) return;
  for (std::int32_t i = b.firstLine; i < b.endLine && i < static_cast<std::int32_t>(lines_.size()); ++i)
    lines_[static_cast<std::size_t>(i)].bottom += dy;
  if (dx != 0 && b.firstSegment >= 0)
    for (std::int32_t i = b.firstSegment; i < b.endSegment && i < static_cast<std::int32_t>(segments_.size()); ++i)
      segments_[static_cast<std::size_t>(i)].x += dx;
  auto rects = [&](auto& self, block& c) -> void {
    c.x += dx;
    c.y += dy;
    if (c.background) c.background->x += dx, c.background->y += dy;
    for (block& k : c.children) self(self, k);
  };
  rects(rects, b);
}

namespace {

// Lines and descendants of a block move; its own rectangle stays.
void moveContent(FXKTextLayout& layout, FXKTextLayout::block& b, std::int32_t dy) {
  auto& lines = layout.lines();
  for (std::int32_t i = b.firstLine; i < b.endLine && i < static_cast<std::int32_t>(lines.size()); ++i)
    lines[static_cast<std::size_t>(i)].bottom += dy;
  auto rects = [&](auto& self, FXKTextLayout::block& c) -> void {
    c.y += dy;
    for (auto& k : c.children) self(self, k);
  };
  for (auto& c : b.children) rects(rects, c);
}

}  // namespace

// ---------------------------------------------------------------- finishing passes

void FXKTextLayout::alignVertically(block& b) {
  const std::uint32_t v = b.align & kVAlignMask;
  if ((b.flags & kBlockCell) && &b != &root_ && b.endLine > b.firstLine && b.usedHeight < b.h &&
      (v == kVAlignCenter || v == kVAlignBottom)) {
    const std::int32_t diff = b.h - b.usedHeight;
    moveContent(*this, b, v == kVAlignCenter ? diff / 2 : diff);
    b.usedHeight = b.h;
  }
  if ((b.flags & kBlockDivision) && (v == kVAlignCenter || v == kVAlignBottom)) {
    for (block& c : b.children) {
      std::int32_t tallest = 0;
      for (block& s : b.children)
        if (s.x == c.x) tallest = std::max(tallest, s.h);
      if (c.h < tallest) moveContent(*this, c, v == kVAlignCenter ? (tallest - c.h) / 2 : tallest - c.h);
    }
  }
  for (block& c : b.children) alignVertically(c);
}

void FXKTextLayout::extraHeight(block& cell, std::int32_t amount, bool given) {
  if (!(cell.flags & kBlockCell)) return;
  std::int32_t p = 0;
  for (block& c : cell.children)
    if (c.flags & kBlockHeightPercent) p += c.height;
  if (p == 0) return;
  if (!given) amount = cell.h - cell.usedHeight;
  if (amount <= 0) return;
  if (p < 100) amount = p * amount / 100;
  std::int32_t below = 0;
  for (block& c : cell.children) {
    if (below) moveBlock(c, 0, below);
    if (!(c.flags & kBlockHeightPercent)) continue;
    const std::int32_t share = clampExtent(std::int64_t{amount} * c.height / p);
    const std::int32_t cap = clampExtent(std::max<std::int64_t>(0, std::int64_t{cell.h} * c.height / 100 - c.h));
    const std::int32_t grow = std::min(share, cap);
    if (grow <= 0 || c.children.empty()) continue;
    c.h += grow;
    cell.usedHeight += grow;
    below += grow;
  }
}

void FXKTextLayout::columnFlow(block& b) {
  if ((b.flags & kBlockCell) && (b.flags & kBlockDivision) && b.parent) {
    const block& p = *b.parent;
    const std::int32_t pu = unitWidth(&p) * p.padding, pv = unitHeight(&p) * p.padding;
    b.w = std::max(b.w, p.x + p.w - pu - b.x);
    b.h = std::max(b.h, p.y + p.h - pv - b.y);
    std::int32_t widest = 0;
    for (block& c : b.children) widest = std::max(widest, c.w);
    std::int32_t cx = b.x, cy = b.y;
    bool firstInColumn = true;
    for (block& c : b.children) {
      if (c.flags & kBlockHidden) continue;
      if (cy + c.h > b.y + b.h && !(firstInColumn && cy == b.y && &c != &b.children.front())) {
        cx += widest;
        cy = b.y;
      }
      moveBlock(c, cx - c.x, cy - c.y);
      cy += c.h;
      firstInColumn = false;
    }
    const std::int32_t need = cx + widest - (b.x + b.w);
    if (need > 0) {
      for (block* a = &b; a; a = a->parent) a->w += need;
      contentWidth_ += need;
    }
  }
  for (block& c : b.children) columnFlow(c);
}

void FXKTextLayout::alignNestedTables(block& b) {
  const std::uint32_t h = b.align & kAlignMask;
  if ((b.flags & kBlockCell) && &b != &root_ && (h == kAlignCenter || h == kAlignRight)) {
    const std::int32_t pad = 2 * b.padding * unitWidth(&b);
    for (block& c : b.children) {
      if (!(c.flags & kBlockTable)) continue;
      std::int32_t move = b.w - c.w - pad;
      if (h == kAlignCenter) move /= 2;
      if (move > 0) moveBlock(c, move, 0);
    }
  }
  for (block& c : b.children) alignNestedTables(c);
}

void FXKTextLayout::growRects(block& b) {
  for (block& c : b.children) {
    growRects(c);
    if ((b.flags & kBlockRow) && (c.flags & (kBlockRowSpan | kBlockPlaceholder))) continue;
    if (c.flags & (kBlockHidden | kBlockPlaceholder)) continue;
    if (c.w <= 0 && c.h <= 0) continue;
    const std::int32_t x1 = std::min(b.x, c.x), y1 = std::min(b.y, c.y);
    const std::int32_t x2 = std::max(b.x + b.w, c.x + c.w), y2 = std::max(b.y + b.h, c.y + c.h);
    if (x1 == b.x && y1 == b.y && x2 == b.x + b.w && y2 == b.y + b.h) continue;
    for (block* a = &b; a; a = a->parent) {
      const std::int32_t ax1 = std::min(a->x, x1), ay1 = std::min(a->y, y1);
      const std::int32_t ax2 = std::max(a->x + a->w, x2), ay2 = std::max(a->y + a->h, y2);
      a->x = ax1, a->y = ay1, a->w = ax2 - ax1, a->h = ay2 - ay1;
    }
  }
}

void FXKTextLayout::placeBackgrounds(block& b) {
  if (b.background && (b.background->image || b.background->hoverImage)) {
    bgimage& g = *b.background;
    FXImage* image = g.image ? g.image : g.hoverImage;
    if (g.placement >= 0x40) {
      g.x = b.x, g.y = b.y, g.w = b.w, g.h = b.h;
    } else {
      g.w = image->getWidth();
      g.h = image->getHeight();
      if (g.w != g.h) {
        if (auto* icon = dynamic_cast<FXIcon*>(image)) g.h = icon->getHeight();
      }
      g.x = (g.placement & 0x1) ? b.x : (g.placement & 0x2) ? b.x + (b.w - g.w) / 2 : b.x + b.w - g.w;
      g.y = (g.placement & 0x8) ? b.y : (g.placement & 0x10) ? b.y + (b.h - g.h) / 2 : b.y + b.h - g.h;
    }
  }
  for (block& c : b.children) placeBackgrounds(c);
}

void FXKTextLayout::placeObjects() {
  if (objects_.empty()) return;
  for (const line& l : lines_) {
    for (std::int32_t i = l.firstSegment; i <= l.lastSegment; ++i) {
      const segment& s = segments_[static_cast<std::size_t>(i)];
      if (!(s.flags & kSegObject)) continue;
      primitive* p = objectAt(s.start);
      if (!p) continue;
      std::int32_t px = s.x, py = l.bottom - l.height;
      std::int32_t pw = std::max(s.width, 0), ph = std::max(s.height, 0);
      if (const block* o = p->owner) {
        const std::int32_t pad = unitWidth(o) * o->padding, vpad = unitHeight(o) * o->padding;
        if ((p->getPlacement() & 0x1) || pw > o->w - 2 * pad) {
          pw = std::max(0, o->w - 2 * pad);
          px = o->x + pad;
        }
        if (p->getPlacement() & 0x2) {
          ph = std::max(0, o->h - 2 * vpad);
          py = o->y + vpad;
        }
      }
      px += viewLeft_ - scrollX_;
      py += viewTop_ - scrollY_;
      if (p->isEmbeddedWindow()) px += marginLeft_, py += marginTop_;
      p->setRect(px, py, pw, ph);
      contentWidth_ = std::max(contentWidth_, px + pw - marginLeft_);
    }
  }
}

void FXKTextLayout::emptyHidden(block& b, bool hidden) {
  hidden = hidden || (b.flags & kBlockHidden);
  if (hidden) {
    b.x = b.y = b.w = b.h = 0;
    b.usedHeight = 0;
    b.minWidth = b.maxWidth = 0;
    if (b.background) b.background->x = b.background->y = b.background->w = b.background->h = 0;
    if (b.flags & kBlockHidden)
      for (block* a = b.parent; a; a = a->parent) a->widthsCached = false;
  }
  for (block& c : b.children) emptyHidden(c, hidden);
}

// ---------------------------------------------------------------- span expansion

void FXKTextLayout::expandSpans(block& table) {
  auto placeholder = [&](block& cell, block& row) -> block {
    block p;
    p.flags = kBlockPlaceholder | kBlockCell;
    p.id = cell.id;
    p.padding = cell.padding;
    p.spacing = cell.spacing;
    p.rowSpan = cell.rowSpan;
    p.colSpan = 0;
    p.textStart = p.textEnd = cell.textEnd;
    p.firstLine = p.endLine = cell.endLine;
    p.firstSegment = cell.endSegment;
    p.endSegment = cell.firstSegment;
    p.parent = &cell;
    (void)row;
    return p;
  };
  std::size_t widest = 0;
  for (block& row : table.children) {
    if (!(row.flags & kBlockRow)) continue;
    widest = std::max(widest, row.children.size());
    for (auto it = row.children.begin(); it != row.children.end(); ++it) {
      if (!(it->flags & kBlockCell) || it->colSpan <= 1) continue;
      block& cell = *it;
      const int n = cell.colSpan;
      cell.colSpan = 1;
      auto at = std::next(it);
      for (int k = 1; k < n; ++k) at = std::next(row.children.insert(at, placeholder(cell, row)));
      it = std::prev(at);
    }
  }
  std::vector<block*> rows;
  for (block& row : table.children)
    if (row.flags & kBlockRow) rows.push_back(&row);
  for (std::size_t pos = 0; pos < widest; ++pos) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (pos >= rows[r]->children.size()) continue;
      block& cell = *std::next(rows[r]->children.begin(), static_cast<std::ptrdiff_t>(pos));
      if (cell.rowSpan <= 1) continue;
      const int n = cell.rowSpan;
      cell.rowSpan = 1;
      for (int k = 1; k < n && r + k < rows.size(); ++k) {
        block& next = *rows[r + static_cast<std::size_t>(k)];
        if (pos >= next.children.size()) break;
        block p = placeholder(cell, next);
        p.rowSpan = 0;
        next.children.insert(std::next(next.children.begin(), static_cast<std::ptrdiff_t>(pos)), std::move(p));
      }
    }
  }
}
