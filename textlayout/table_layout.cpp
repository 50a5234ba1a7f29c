// Tables and paragraph boxes: column widths from the cells' width pairs,
// requested fixed and percent widths and spans, fitted into the width; rows
// laid out cell by cell, row heights from fixed and percent requests and row
// spans. A table laid out before for the same width is reused and only moved.
#include <fx.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "textlayout/layout.h"

using namespace FX;

namespace {

constexpr std::int32_t kUnbounded = 0x7FFFFFFF;

using block = FXKTextLayout::block;

struct column {
  std::uint32_t flags = 0;  // 1: a percent cell of the reference row taken as fixed
  std::int32_t minimum = 0;
  std::int32_t width = 0;
  std::int32_t scratch1 = 0, scratch2 = 0;
  std::int32_t weight = 0;
};

struct rowrecord {
  std::int32_t height = 0, saved = 0;
  std::int32_t percent = 0;  // 0 for a fixed row
  std::int32_t extra = 0;
};

bool isRow(const block& b) { return (b.flags & FXKTextLayout::kBlockRow) != 0; }
bool hidden(const block& b) { return (b.flags & FXKTextLayout::kBlockHidden) != 0; }
bool placeholder(const block& b) { return (b.flags & FXKTextLayout::kBlockPlaceholder) != 0; }
bool widthPercent(const block& b) { return (b.flags & FXKTextLayout::kBlockWidthPercent) != 0 && b.width > 0; }
bool heightPercent(const block& b) { return (b.flags & FXKTextLayout::kBlockHeightPercent) != 0 && b.height > 0; }
bool spans(const block& b) { return (b.flags & FXKTextLayout::kBlockColSpan) != 0 && !placeholder(b); }

// The columns a cell covers: itself and the placeholders after it that
// stand for it.
std::int32_t spannedColumns(const block& row, std::list<block>::const_iterator cell) {
  std::int32_t n = 1;
  const std::int32_t id = cell->id;
  for (auto it = std::next(cell); it != row.children.end() && placeholder(*it) && it->id == id; ++it) ++n;
  return n;
}

void shiftLineRanges(block& b, std::int32_t delta) {
  b.firstLine += delta;
  b.endLine += delta;
  for (block& c : b.children) shiftLineRanges(c, delta);
}

}  // namespace

std::int32_t FXKTextLayout::layoutTable(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y,
                                        std::int32_t width, block& b, std::int32_t& runCursor) {
  const std::int32_t givenWidth = width;
  const bool isTable = (b.flags & kBlockTable) != 0;

  // 1. Reuse: same width (or more, for a table that was not squeezed).
  if (b.h > 0 && b.endLine > b.firstLine && !heightPercent(b) && !hidden(b) &&
      static_cast<std::size_t>(b.endLine) <= previousLines_.size() &&
      (width == b.w || (width > b.w && !widthPercent(b) && b.w >= b.maxWidth && b.widthsCached))) {
    const std::int32_t newFirst = static_cast<std::int32_t>(lines_.size());
    lines_.insert(lines_.end(), previousLines_.begin() + b.firstLine, previousLines_.begin() + b.endLine);
    shiftLineRanges(b, newFirst - b.firstLine);
    moveBlock(b, x - b.x, y - b.y);
    right = std::max(right, b.x + b.w);
    right2 = std::max(right2, b.minWidth);
    // Fixed blocks go to the update region on every pass, reused or not.
    if (b.flags & (kBlockConstX | kBlockConstY)) *updateRegion_ += FXRegion(b.x, b.y, b.w, b.h);
    for (const block& r : b.children)
      if ((r.flags & kBlockRow) && (r.flags & (kBlockConstX | kBlockConstY))) *updateRegion_ += FXRegion(r.x, r.y, r.w, r.h);
    if (b.endSegment > b.firstSegment && b.endSegment <= static_cast<std::int32_t>(segments_.size())) {
      const std::int32_t last = segments_[b.endSegment - 1].start;
      auto it = runs_.upper_bound(last);
      if (it != runs_.begin()) runCursor = std::prev(it)->first;
    }
    return b.y + b.h;
  }

  const std::int32_t uw = unitWidth(&b), uh = unitHeight(&b);
  const std::int32_t hs = uw * b.spacing, vs = uh * b.spacing;
  const std::int32_t hp = uw * b.padding, vp = uh * b.padding;
  const bool bounded = width != kUnbounded;

  // 2. Available height.
  std::int32_t available = 0;
  if (b.parent) {
    available = b.parent->h - 2 * b.parent->padding * unitHeight(b.parent);
    if (!b.parent->parent && heightPercent(b))
      for (const block& c : b.parent->children)
        if (&c != &b && !(c.flags & kBlockLayer)) available -= c.h;
  }
  // 3. Width.
  if (widthPercent(b) && bounded)
    width = clampExtent(static_cast<std::int64_t>(width) * b.width / 100);
  else if (b.width < 0)
    width = clampExtent(-static_cast<std::int64_t>(b.width) * uw);
  if (width < 0) width = 0;
  // 4. Height target.
  std::int32_t target = available;
  if (heightPercent(b))
    target = clampExtent(static_cast<std::int64_t>(available) * b.height / 100);
  else if (b.height > 0)
    target = uh * b.height;

  b.firstLine = static_cast<std::int32_t>(lines_.size());

  // 5. Reset used heights; mark rows holding spanning cells.
  std::vector<block*> rows;
  for (block& r : b.children) {
    if (!isRow(r)) continue;
    rows.push_back(&r);
    r.usedHeight = 0;
    for (block& c : r.children) {
      c.usedHeight = 0;
      if (spans(c)) r.flags |= kBlockColSpan;
    }
  }

  // 6. Column minimum and maximum widths.
  std::vector<column> cols;
  auto col = [&](std::size_t i) -> column& {
    if (cols.size() <= i) cols.resize(i + 1);
    return cols[i];
  };
  auto cellPair = [&](block& c, std::int32_t& mn, std::int32_t& mx) {
    blockWidths(mn, mx, c);
    if (bounded && !widthPercent(c) && c.width > 0) {
      const std::int32_t w = c.width * uw;
      if (w >= 1) mn = mx = std::max(w, mn);
    }
  };
  // The reference row for spreading a spanning cell's excess.
  bool refPercent = false;
  block* refRow = nullptr;
  std::int64_t refTotal = 0;
  {
    std::int64_t bestP = 0, bestF = 0;
    block *rowP = nullptr, *rowF = nullptr;
    for (block* r : rows) {
      if (hidden(*r)) continue;
      std::int64_t p = 0, f = 0;
      for (block& c : r->children) {
        if (hidden(c) || placeholder(c)) continue;
        if (widthPercent(c))
          p += c.width;
        else if (c.width > 0)
          f += c.width;
      }
      if (p > bestP) bestP = p, rowP = r;
      if (f > bestF) bestF = f, rowF = r;
    }
    if (rowP)
      refPercent = true, refRow = rowP, refTotal = bestP;
    else if (rowF)
      refRow = rowF, refTotal = bestF;
  }
  auto weightOf = [&](std::size_t position) -> std::int32_t {
    if (!refRow) return 0;
    std::size_t i = 0;
    for (block& c : refRow->children) {
      if (hidden(c)) continue;
      if (i++ != position) continue;
      if (placeholder(c)) return 0;
      if (refPercent ? widthPercent(c) : (!widthPercent(c) && c.width > 0)) return c.width;
      return 0;
    }
    return 0;
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (block* r : rows) {
      if (hidden(*r) || (pass == 0 && (r->flags & kBlockColSpan))) continue;
      std::size_t i = 0;
      for (auto it = r->children.begin(); it != r->children.end(); ++it, ++i) {
        block& c = *it;
        if (hidden(c)) continue;
        col(i);
        if (placeholder(c)) continue;
        std::int32_t mn = 0, mx = 0;
        cellPair(c, mn, mx);
        if (!spans(c)) {
          cols[i].minimum = std::max(cols[i].minimum, mn);
          cols[i].width = std::max(cols[i].width, mx);
          continue;
        }
        if (pass == 0) continue;
        const std::int32_t n = spannedColumns(*r, it);
        col(i + n - 1);
        std::int64_t s = cols[i].minimum;
        for (std::int32_t k = 1; k < n; ++k) s += cols[i + k].minimum + 2 * hp + hs;
        const std::int64_t excess = mn - s;
        if (excess >= 1) {
          if (refTotal != 0) {
            for (std::int32_t k = 0; k < n; ++k)
              if (std::int32_t w = weightOf(i + k)) cols[i + k].minimum += static_cast<std::int32_t>(w * excess / refTotal);
          } else {
            for (std::int32_t k = 0; k < n; ++k) cols[i + k].minimum += static_cast<std::int32_t>(excess / n);
            cols[i].minimum += static_cast<std::int32_t>(excess % n);
          }
        }
        for (std::int32_t k = 0; k < n; ++k) cols[i + k].width = std::max(cols[i + k].width, cols[i + k].minimum);
      }
    }
  }

  // 7. The table's own width pair.
  {
    std::int32_t tmn = 0, tmx = 0;
    blockWidths(tmn, tmx, b);
    right2 = std::max(right2, tmn);
  }

  // 8. Percent columns: the row with the largest total of percentages.
  std::int64_t totalPercent = 0;
  std::int64_t fixedRoom = 0;
  block* pctRow = nullptr;
  for (int attempt = 0; attempt < 2 && bounded && isTable; ++attempt) {
    totalPercent = 0;
    pctRow = nullptr;
    bool anyPercent = false;
    for (block* r : rows) {
      if (hidden(*r)) continue;
      std::int64_t t = 0;
      for (block& c : r->children)
        if (!hidden(c) && !placeholder(c) && widthPercent(c)) t += c.width, anyPercent = true;
      if (t > totalPercent || !pctRow) {
        if (t > totalPercent || !pctRow) pctRow = r;
        totalPercent = std::max(totalPercent, t);
      }
    }
    if (!anyPercent && widthPercent(b) && attempt == 0) {
      for (block* r : rows)
        for (block& c : r->children)
          if (!placeholder(c) && c.width == 0) c.width = 1, c.flags |= kBlockWidthPercent;
      continue;
    }
    break;
  }
  if (pctRow && totalPercent > 0) {
    // The first row with the largest total.
    for (block* r : rows) {
      if (hidden(*r)) continue;
      std::int64_t t = 0;
      for (block& c : r->children)
        if (!hidden(c) && !placeholder(c) && widthPercent(c)) t += c.width;
      if (t == totalPercent) {
        pctRow = r;
        break;
      }
    }
    std::size_t i = 0;
    for (block& c : pctRow->children) {
      if (hidden(c)) continue;
      col(i);
      fixedRoom += 2 * hp + hs;
      if (!widthPercent(c) || placeholder(c)) fixedRoom += cols[i].minimum;
      ++i;
    }
    fixedRoom -= hs;
    i = 0;
    for (block& c : pctRow->children) {
      if (hidden(c)) continue;
      if (!placeholder(c) && widthPercent(c) && totalPercent > 0) {
        const double share = static_cast<double>(width - fixedRoom) * c.width / static_cast<double>(totalPercent);
        if (share < cols[i].minimum) {
          cols[i].flags |= 1;
          fixedRoom += cols[i].minimum;
          totalPercent -= c.width;
        }
      }
      ++i;
    }
  }

  // 9. Wanted widths pin their columns.
  if (bounded && isTable) {
    const std::int64_t room = std::max<std::int64_t>(0, width - fixedRoom);
    const double factor = totalPercent > 0 ? 100.0 / static_cast<double>(totalPercent) : 1.0;
    for (block* r : rows) {
      if (hidden(*r)) continue;
      // Rounding loss of the row's percent cells.
      std::int64_t cellsInRow = 0, wantedSum = 0;
      double exactSum = 0;
      {
        std::size_t i = 0;
        for (block& c : r->children) {
          if (hidden(c)) continue;
          if (!placeholder(c)) ++cellsInRow;
          if (!placeholder(c) && widthPercent(c) && i < cols.size() && !(cols[i].flags & 1)) {
            const double exact = c.width * factor * static_cast<double>(room) / 100.0;
            exactSum += exact;
            wantedSum += static_cast<std::int64_t>(exact);
          }
          ++i;
        }
      }
      std::int64_t loss = static_cast<std::int64_t>(exactSum + 1e-9) - wantedSum;
      if (loss > cellsInRow) loss = 0;
      std::size_t i = 0;
      for (auto it = r->children.begin(); it != r->children.end(); ++it, ++i) {
        block& c = *it;
        if (hidden(c) || placeholder(c)) continue;
        col(i);
        std::int64_t want = 0;
        if (widthPercent(c)) {
          if (cols[i].flags & 1) continue;
          want = static_cast<std::int64_t>(c.width * factor * static_cast<double>(room) / 100.0);
          if (loss > 0) ++want, --loss;
        } else if (c.width > 0) {
          want = static_cast<std::int64_t>(c.width) * uw;
        }
        if (want < 0) want = -want;
        if (want == 0) continue;
        if (!spans(c)) {
          cols[i].minimum = std::max<std::int32_t>(cols[i].minimum, static_cast<std::int32_t>(want));
          cols[i].width = std::max(cols[i].width, cols[i].minimum);
          continue;
        }
        const std::int32_t n = spannedColumns(*r, it);
        col(i + n - 1);
        std::int64_t have = 0;
        for (std::int32_t k = 0; k < n; ++k) have += cols[i + k].minimum + (k ? 2 * hp + hs : 0);
        const std::int64_t diff = want - have;
        if (diff > 0) {
          for (std::int32_t k = 0; k < n; ++k) cols[i + k].minimum += static_cast<std::int32_t>(diff / n);
          cols[i].minimum += static_cast<std::int32_t>(diff % n);
        }
        for (std::int32_t k = 0; k < n; ++k) cols[i + k].width = std::max(cols[i + k].width, cols[i + k].minimum);
      }
    }
  }

  // 10. Final fit.
  std::int32_t tableWidth = 0;
  if (!cols.empty()) {
    std::int64_t M = 0, m = 0;
    for (const column& c : cols) M += c.width + 2 * hp, m += c.minimum + 2 * hp;
    const std::int64_t between = static_cast<std::int64_t>(cols.size() - 1) * hs;
    const std::int64_t room = bounded ? width - between : static_cast<std::int64_t>(INT_MAX);
    if (M > room) {
      if (m < room && m < M) {
        for (column& c : cols) {
          std::int64_t w = c.minimum + (static_cast<std::int64_t>(c.width) - c.minimum) * (room - m) / (M - m);
          c.width = static_cast<std::int32_t>(std::max<std::int64_t>(w, c.minimum));
        }
      } else {
        for (column& c : cols) c.width = c.minimum;
      }
    }
    std::int64_t total = between;
    for (column& c : cols) {
      if (c.width < 0) c.width = 0;
      total += c.width + 2 * hp;
    }
    tableWidth = static_cast<std::int32_t>(std::min<std::int64_t>(total, INT_MAX));
  } else if (!isTable) {
    tableWidth = bounded ? width : 0;
  }

  // 11. Percent heights of rows.
  std::vector<rowrecord> rowrec(rows.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (heightPercent(*rows[k])) rowrec[k].percent = rows[k]->height;
    for (block& c : rows[k]->children)
      if (heightPercent(c)) rowrec[k].percent = std::max(rowrec[k].percent, c.height);
  }

  // 12. Rows and other children, top to bottom.
  std::int32_t cy = y;
  std::int32_t contentRight = x + tableWidth;
  std::int32_t textPos = b.firstSegment;
  auto flowText = [&](std::int32_t end) {
    if (textPos < 0 || end <= textPos) return;
    std::int32_t r1 = 0, r2 = 0;
    cy = breakLines(r1, r2, x, cy, isTable ? tableWidth : width, textPos, end, b, runCursor);
    contentRight = std::max(contentRight, r1);
    right2 = std::max(right2, r2);
  };
  std::size_t rowIndex = 0;
  for (block& child : b.children) {
    if (child.firstSegment >= 0) flowText(child.firstSegment);
    if (child.endSegment > textPos) textPos = child.endSegment;
    if (!isRow(child)) {
      const std::int32_t indent = indentWidth(*nearestStyle(&child));
      const std::int32_t room = isTable ? tableWidth : width;
      const std::int32_t less = room == kUnbounded ? kUnbounded : room - indent;
      std::int32_t r1 = 0, r2 = 0;
      if (child.flags & kBlockLayer)
        layoutLayer(r1, r2, x + indent, cy, less, child, runCursor);
      else if (child.flags & kBlockDivision)
        cy = layoutDivision(r1, r2, x + indent, cy, less, child, runCursor);
      else if (child.flags & (kBlockTable | kBlockParagraphKind))
        cy = layoutTable(r1, r2, x + indent, cy, room, child, runCursor);
      else
        cy = layoutBlock(r1, r2, x + indent, cy, less, 0, child, runCursor);
      contentRight = std::max(contentRight, r1);
      right2 = std::max(right2, r2);
      continue;
    }
    block& row = child;
    const std::size_t k = rowIndex++;
    row.firstLine = static_cast<std::int32_t>(lines_.size());
    if (hidden(row)) {
      row.x = x, row.y = cy, row.w = 0, row.h = 0;
      row.endLine = row.firstLine;
      continue;
    }
    std::int32_t cx = x, bottom = cy, fixedH = row.height > 0 && !heightPercent(row) ? row.height * uh : 0;
    std::size_t i = 0;
    for (auto it = row.children.begin(); it != row.children.end(); ++it, ++i) {
      block& c = *it;
      if (hidden(c)) continue;
      col(i);
      if (placeholder(c)) {
        c.x = cx, c.y = cy, c.w = cols[i].width + 2 * hp, c.h = 0;
        c.firstLine = c.endLine = static_cast<std::int32_t>(lines_.size());
        cx += cols[i].width + 2 * hp + hs;
        continue;
      }
      std::int32_t cw = cols[i].width;
      if (spans(c)) {
        const std::int32_t n = spannedColumns(row, it);
        for (std::int32_t s = 1; s < n && i + s < cols.size(); ++s) cw += cols[i + s].width + 2 * hp + hs;
      }
      bool last = true;
      for (auto jt = std::next(it); jt != row.children.end(); ++jt)
        if (!hidden(*jt) && !placeholder(*jt)) last = false;
      if (last && widthPercent(b)) cw = std::max(cw, x + tableWidth - cx - 2 * hp);
      const std::int32_t indent = c.style ? indentWidth(*c.style) : 0;
      std::int32_t r1 = 0, r2 = 0;
      layoutBlock(r1, r2, cx + indent, cy, cw, 0, c, runCursor);
      c.w = cw + 2 * hp;
      c.h += vp;
      c.usedHeight = c.h;
      if (!(c.flags & kBlockRowSpan)) bottom = std::max(bottom, c.y + c.h + vp);
      if (c.height > 0 && !heightPercent(c)) fixedH = std::max(fixedH, c.height * uh);
      right2 = std::max(right2, r2);
      cx += cols[i].width + 2 * hp + hs;
    }
    row.x = x;
    row.y = cy;
    row.w = tableWidth;
    row.h = std::max(bottom - cy, fixedH);
    row.endLine = static_cast<std::int32_t>(lines_.size());
    rowrec[k].height = rowrec[k].saved = row.h;
    cy = row.y + row.h + vs;
  }
  if (rowIndex > 0) cy -= vs;

  auto moveRowsBelow = [&](std::size_t from, std::int32_t dy) {
    for (std::size_t k = from; k < rows.size(); ++k) moveBlock(*rows[k], 0, dy);
    cy += dy;
  };
  auto growRow = [&](std::size_t k, std::int32_t dy) {
    if (dy <= 0) return;
    rows[k]->h += dy;
    rowrec[k].height += dy;
    moveRowsBelow(k + 1, dy);
  };

  // 13. Row spans, from the last row up.
  for (std::size_t k = rows.size(); k-- > 0;) {
    block& row = *rows[k];
    if (hidden(row)) continue;
    std::size_t pos = 0;
    for (block& c : row.children) {
      const std::size_t at = pos++;
      if (hidden(c) || placeholder(c) || !(c.flags & kBlockRowSpan)) continue;
      // The rows it covers: those holding its placeholder at the same place.
      std::vector<std::size_t> covered{k};
      for (std::size_t j = k + 1; j < rows.size(); ++j) {
        auto cit = rows[j]->children.begin();
        std::size_t p = 0;
        while (cit != rows[j]->children.end() && p < at) ++cit, ++p;
        if (cit == rows[j]->children.end() || !placeholder(*cit) || cit->id != c.id) break;
        covered.push_back(j);
      }
      std::int64_t have = 0;
      for (std::size_t j : covered) have += rowrec[j].height + rowrec[j].extra;
      have += static_cast<std::int64_t>(covered.size() - 1) * vs;
      const std::int64_t diff = c.h - have;
      if (diff <= 0) continue;
      std::int64_t pctSum = 0;
      for (std::size_t j : covered) pctSum += rowrec[j].percent;
      for (std::size_t j : covered) {
        std::int64_t part = pctSum > 0 ? diff * rowrec[j].percent / pctSum : diff / static_cast<std::int64_t>(covered.size());
        growRow(j, static_cast<std::int32_t>(part));
      }
    }
  }

  // 14. Percent heights.
  {
    std::int64_t pctTotal = 0, fixedSum = 0;
    std::vector<bool> isPct(rows.size(), false);
    for (std::size_t k = 0; k < rows.size(); ++k) {
      if (hidden(*rows[k])) continue;
      if (rowrec[k].percent > 0)
        isPct[k] = true, pctTotal += rowrec[k].percent;
      else
        fixedSum += rows[k]->h;
    }
    if (pctTotal > 0 && target > 0) {
      const std::int64_t spacing = rows.empty() ? 0 : static_cast<std::int64_t>(rows.size() - 1) * vs;
      bool changed = true;
      std::int64_t freeH = 0;
      while (changed) {
        changed = false;
        freeH = target - (fixedSum + spacing);
        const double factor = pctTotal > 0 ? 100.0 / static_cast<double>(pctTotal) : 1.0;
        for (std::size_t k = 0; k < rows.size(); ++k) {
          if (!isPct[k]) continue;
          const double share = rowrec[k].percent * factor * static_cast<double>(freeH) / 100.0;
          if (share < rows[k]->h) {
            isPct[k] = false;
            pctTotal -= rowrec[k].percent;
            fixedSum += rows[k]->h;
            changed = true;
            break;
          }
        }
      }
      if (pctTotal > 0) {
        const double factor = 100.0 / static_cast<double>(pctTotal);
        double exactSum = 0;
        std::int64_t truncSum = 0;
        for (std::size_t k = 0; k < rows.size(); ++k)
          if (isPct[k]) {
            const double e = rowrec[k].percent * factor * static_cast<double>(freeH) / 100.0;
            exactSum += e;
            truncSum += static_cast<std::int64_t>(e);
          }
        std::int64_t loss = static_cast<std::int64_t>(exactSum + 1e-9) - truncSum;
        for (std::size_t k = 0; k < rows.size(); ++k) {
          if (!isPct[k]) continue;
          std::int64_t share = static_cast<std::int64_t>(rowrec[k].percent * factor * static_cast<double>(freeH) / 100.0);
          if (loss > 0) ++share, --loss;
          if (share > rows[k]->h) growRow(k, static_cast<std::int32_t>(share - rows[k]->h));
        }
      }
    }
  }

  // 15. Text after the last row.
  flowText(b.endSegment);

  // 16. The table's rectangle; rows and cells stretched to it.
  b.x = x;
  b.y = y;
  b.w = std::max(tableWidth, contentRight - x);
  if (widthPercent(b) && bounded) {
    const std::int64_t least = static_cast<std::int64_t>(givenWidth) * std::min<std::int32_t>(b.width, 100) / 100;
    b.w = std::max<std::int32_t>(b.w, static_cast<std::int32_t>(least));
    if (b.width >= 100) b.w = std::max(b.w, givenWidth);
  }
  if (!isTable && bounded) b.w = std::max(b.w, width);
  b.h = cy - y;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    block& row = *rows[k];
    if (hidden(row)) continue;
    row.x = b.x;
    row.w = b.w;
    block* lastCell = nullptr;
    std::size_t pos = 0;
    for (block& c : row.children) {
      const std::size_t at = pos++;
      if (hidden(c)) continue;
      if (!placeholder(c)) lastCell = &c;
      c.y = row.y;
      c.h = row.h;
      if (!placeholder(c) && (c.flags & kBlockRowSpan)) {
        std::int32_t bottom = row.y + row.h;
        for (std::size_t j = k + 1; j < rows.size(); ++j) {
          auto cit = rows[j]->children.begin();
          std::size_t p = 0;
          while (cit != rows[j]->children.end() && p < at) ++cit, ++p;
          if (cit == rows[j]->children.end() || !placeholder(*cit) || cit->id != c.id) break;
          bottom = rows[j]->y + rows[j]->h;
        }
        c.h = bottom - row.y;
      }
    }
    if (lastCell) lastCell->w = b.x + b.w - lastCell->x;
  }
  b.endLine = static_cast<std::int32_t>(lines_.size());
  b.usedHeight = b.h;
  {
    std::int32_t mn = 0, mx = 0;
    blockWidths(mn, mx, b);
    b.minWidth = mn;
    b.maxWidth = mx;
  }

  // 17. Right edge; fixed blocks go to the update region.
  right = std::max(right, b.x + b.w);
  auto addFixed = [&](const block& f) {
    if (f.flags & (kBlockConstX | kBlockConstY)) *updateRegion_ += FXRegion(f.x, f.y, f.w, f.h);
  };
  addFixed(b);
  for (block* r : rows) addFixed(*r);

  // 18. A hidden table takes no room.
  if (hidden(b)) {
    b.w = b.h = 0;
    return y;
  }
  return std::max(y, b.y + b.h);
}
