// Hit testing, links, selection and plain text: what lies under a point of
// a laid-out text, the hover and keyboard focus of its links, the selection
// and the plain text of a range. Layout coordinates throughout.
#include <fx.h>

#include <algorithm>
#include <climits>

#include "platform/fox/fx_paint.h"
#include "textlayout/layout.h"

using namespace FX;

namespace {

using block = FXKTextLayout::block;

bool holds(const block& b, std::int32_t x, std::int32_t y) { return x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h; }

bool fixedBlock(const block& b) { return (b.flags & (FXKTextLayout::kBlockConstX | FXKTextLayout::kBlockConstY)) != 0; }

FXRectangle unite(const FXRectangle& a, const FXRectangle& b) {
  if (a.w <= 0 || a.h <= 0) return b;
  if (b.w <= 0 || b.h <= 0) return a;
  const int x1 = std::min<int>(a.x, b.x), y1 = std::min<int>(a.y, b.y);
  const int x2 = std::max<int>(a.x + a.w, b.x + b.w), y2 = std::max<int>(a.y + a.h, b.y + b.h);
  return FXRectangle(static_cast<FXshort>(x1), static_cast<FXshort>(y1), static_cast<FXshort>(x2 - x1),
                     static_cast<FXshort>(y2 - y1));
}

FXRectangle rectOf(const block& b) {
  return FXRectangle(static_cast<FXshort>(b.x), static_cast<FXshort>(b.y), static_cast<FXshort>(b.w),
                     static_cast<FXshort>(b.h));
}

bool endsLine(const FXWString& s) { return s.length() >= 2 && s[s.length() - 2] == u'\r' && s[s.length() - 1] == u'\n'; }

}  // namespace

// ------------------------------------------------------------------ hit tests

std::int32_t FXKTextLayout::segmentAt(std::int32_t x, std::int32_t y) const {
  if (y <= 0) return -1;
  for (const line& l : lines_) {
    if (!(l.bottom - l.height < y && y < l.bottom)) continue;
    for (std::int32_t s = l.firstSegment; s <= l.lastSegment && s < static_cast<std::int32_t>(segments_.size()); ++s) {
      const segment& g = segments_[s];
      if (g.x < x && x < g.x + g.width) return s;
    }
    return -1;
  }
  return -1;
}

FXKTextLayout::block* FXKTextLayout::blockAt(std::int32_t x, std::int32_t y) {
  block* b = &root_;
  for (;;) {
    block* next = nullptr;
    // Fixed children first, against the point less the scroll offset.
    for (block& c : b->children) {
      if ((c.flags & (kBlockHidden | kBlockPlaceholder)) || !fixedBlock(c)) continue;
      const std::int32_t px = (c.flags & kBlockConstX) ? x - scrollX_ : x;
      const std::int32_t py = (c.flags & kBlockConstY) ? y - scrollY_ : y;
      if (holds(c, px, py)) {
        next = &c;
        x = px, y = py;
        break;
      }
    }
    if (!next)
      for (block& c : b->children)
        if (!(c.flags & (kBlockHidden | kBlockPlaceholder)) && !fixedBlock(c) && holds(c, x, y)) {
          next = &c;
          break;
        }
    if (!next) return b;
    b = next;
  }
}

std::int32_t FXKTextLayout::runKeyOfSegment(std::int32_t s) const {
  if (s < 0 || s >= static_cast<std::int32_t>(segments_.size())) return -1;
  auto it = runs_.upper_bound(segments_[s].start);
  if (it == runs_.begin()) return -1;
  return std::prev(it)->first;
}

const FXKTextLayout::textstyle* FXKTextLayout::styleAt(std::int32_t x, std::int32_t y) const {
  const std::int32_t key = runKeyOfSegment(segmentAt(x, y));
  if (key < 0) return nullptr;
  return &runs_.at(key);
}

const FXKTextLayout::textstyle* FXKTextLayout::searchStyleAt(std::int32_t x, std::int32_t y, std::uint32_t first,
                                                              std::uint32_t second) {
  block* b = blockAt(x, y);
  if (b != &root_ && (b->flags & kBlockDisabled)) return nullptr;
  const textstyle* s = styleAt(x, y);
  if (s && (s->flags & second)) return s;
  if (b == &root_) return nullptr;
  const textstyle* own = nearestStyle(b);
  if (!(own->flags & second) || !(own->flags & first)) return nullptr;
  block* best = b;
  for (block* p = b->parent; p; p = p->parent) {
    const textstyle* ps = nearestStyle(p);
    if (!(ps->flags & second) || !(ps->link == own->link) || ps->tip != own->tip) break;
    best = p;
  }
  return nearestStyle(best);
}

const FXKTextLayout::textstyle* FXKTextLayout::linkStyleAt(std::int32_t x, std::int32_t y) {
  return searchStyleAt(x, y, kFlatLink, kLink);
}

const FXKTextLayout::tooltip* FXKTextLayout::tooltipAt(std::int32_t x, std::int32_t y) {
  const textstyle* s = searchStyleAt(x, y, kHasTooltip, kHasTooltip);
  return s ? s->tip : nullptr;
}

FXKTextLayout::block* FXKTextLayout::anchorBlockAt(std::int32_t x, std::int32_t y) {
  block* b = blockAt(x, y);
  if (nearestStyle(b)->flags & kInLink) {
    block* best = b;
    for (block* p = b->parent; p; p = p->parent) {
      if (!(nearestStyle(p)->flags & kInLink)) break;
      best = p;
    }
    return best;
  }
  const textstyle* s = styleAt(x, y);
  return s && (s->flags & kInLink) ? b : nullptr;
}

std::int32_t FXKTextLayout::positionInSegment(std::int32_t x, std::int32_t s) {
  const segment& g = segments_[s];
  for (std::int32_t i = g.start; i < g.end; ++i) {
    const std::int32_t before = g.x + textWidth(g.start, i), upTo = g.x + textWidth(g.start, i + 1);
    if (before <= x && x < upTo) return i;
  }
  return g.start;
}

std::int32_t FXKTextLayout::positionAt(std::int32_t x, std::int32_t y) {
  block* b = blockAt(x, y);
  const std::int32_t first = std::max(0, b->firstLine);
  const std::int32_t end = std::min<std::int32_t>(b->endLine, static_cast<std::int32_t>(lines_.size()));
  auto lineEnd = [&](const line& l) {
    return l.lastSegment >= l.firstSegment && l.lastSegment < static_cast<std::int32_t>(segments_.size())
               ? segments_[l.lastSegment].end
               : 0;
  };
  for (std::int32_t li = first; li < end; ++li) {
    const line& l = lines_[li];
    if (l.bottom <= y) continue;
    for (std::int32_t s = l.firstSegment; s <= l.lastSegment && s < static_cast<std::int32_t>(segments_.size()); ++s)
      if (segments_[s].x + segments_[s].width > x) return positionInSegment(x, s);
    return lineEnd(l);
  }
  return end > first ? lineEnd(lines_[end - 1]) : 0;
}

std::pair<std::int32_t, std::int32_t> FXKTextLayout::segmentRangeAt(std::int32_t x, std::int32_t y) {
  block* b = blockAt(x, y);
  const std::int32_t end = std::min<std::int32_t>(b->endLine, static_cast<std::int32_t>(lines_.size()));
  for (std::int32_t li = std::max(0, b->firstLine); li < end; ++li) {
    const line& l = lines_[li];
    if (l.bottom <= y) continue;
    for (std::int32_t s = l.firstSegment; s <= l.lastSegment && s < static_cast<std::int32_t>(segments_.size()); ++s)
      if (segments_[s].x + segments_[s].width > x) return {segments_[s].start, segments_[s].end};
    return {0, 0};
  }
  return {0, 0};
}

std::pair<std::int32_t, std::int32_t> FXKTextLayout::caretPoint(std::int32_t position, std::uint32_t flags) const {
  auto it = std::upper_bound(segments_.begin(), segments_.end(), position,
                             [](std::int32_t p, const segment& g) { return p < g.start; });
  std::int32_t s = static_cast<std::int32_t>(it - segments_.begin()) - 1;
  if (s < 0) return {0, 0};
  const segment& g = segments_[s];
  std::int32_t x = g.x + ((flags & 1) ? g.trimmedWidth : 0);
  for (const line& l : lines_)
    if (l.firstSegment <= s && s <= l.lastSegment) return {x, (flags & 2) ? l.bottom : l.bottom - l.height};
  return {x, 0};
}

// ------------------------------------------------------------------ selection

void FXKTextLayout::repaintOwner() {
  if (FXWindow* w = getOwner()) w->update();
}

void FXKTextLayout::setCaret(std::int32_t x, std::int32_t y) {
  selStart_ = selEnd_ = selAnchor_ = positionAt(x, y);
  repaintOwner();
}

void FXKTextLayout::selectWord(std::int32_t x, std::int32_t y) {
  const std::int32_t s = segmentAt(x, y);
  std::pair<std::int32_t, std::int32_t> r =
      s >= 0 ? std::make_pair(segments_[s].start, segments_[s].end) : segmentRangeAt(x, y);
  selStart_ = selAnchor_ = r.first;
  selEnd_ = r.second;
  repaintOwner();
}

void FXKTextLayout::selectBlock(std::int32_t x, std::int32_t y) {
  block* b = blockAt(x, y);
  selStart_ = selAnchor_ = b->textStart;
  selEnd_ = b->textEnd;
  repaintOwner();
}

void FXKTextLayout::extendSelection(std::int32_t x, std::int32_t y) {
  const std::int32_t p = positionAt(x, y);
  selStart_ = std::min(selAnchor_, p);
  selEnd_ = std::max(selAnchor_, p);
  repaintOwner();
}

void FXKTextLayout::selectAll() {
  selStart_ = selAnchor_ = root_.textStart;
  selEnd_ = root_.textEnd;
  repaintOwner();
}

void FXKTextLayout::clearSelection() {
  selStart_ = selEnd_ = selAnchor_ = 0;
  repaintOwner();
}

void FXKTextLayout::paintSelection(const line& l, FXDC& dc) {
  if (selStart_ == selEnd_) return;
  std::int32_t first = -1, last = -1;
  for (std::int32_t s = l.firstSegment; s <= l.lastSegment && s < static_cast<std::int32_t>(segments_.size()); ++s) {
    const segment& g = segments_[s];
    if (g.end > selStart_ && g.start < selEnd_) {
      if (first < 0) first = s;
      last = s;
    }
  }
  if (first < 0) return;
  const segment& a = segments_[first];
  const segment& z = segments_[last];
  const std::int32_t x1 = a.x + (selStart_ > a.start ? textWidth(a.start, selStart_) : 0);
  const std::int32_t x2 = z.x + (selEnd_ < z.end ? textWidth(z.start, selEnd_) : z.trimmedWidth);
  if (x2 <= x1) return;
  const FXFunction previous = dc.getFunction();
  dc.setFunction(BLT_NOT_DST);
  dc.fillRectangle(x1, l.bottom - l.height, x2 - x1, l.height);
  dc.setFunction(previous);
}

// ------------------------------------------------------------------ hover and hot blocks

void FXKTextLayout::invalidateBlock(block* b) {
  if (!b) return;
  for (auto it = objects_.lower_bound(b->textStart); it != objects_.end() && it->first < b->textEnd; ++it)
    it->second->repaint();
  for (block* f = b; f; f = f->parent)
    if (fixedBlock(*f)) {
      FXRectangle r = rectOf(*f);
      if (f->flags & kBlockConstX) r.x = static_cast<FXshort>(r.x + scrollX_);
      if (f->flags & kBlockConstY) r.y = static_cast<FXshort>(r.y + scrollY_);
      updateRect(r);
      return;
    }
  updateRect(rectOf(b->parent ? *b->parent : *b));
}

FXRectangle FXKTextLayout::rangeRect(std::int32_t start, std::int32_t end) const {
  FXRectangle r(0, 0, 0, 0);
  for (const line& l : lines_)
    for (std::int32_t s = l.firstSegment; s <= l.lastSegment && s < static_cast<std::int32_t>(segments_.size()); ++s) {
      const segment& g = segments_[s];
      const bool empty = g.start == g.end;
      if (empty ? (g.start < start || g.start >= end) : (g.end <= start || g.start >= end)) continue;
      r = unite(r, FXRectangle(static_cast<FXshort>(g.x), static_cast<FXshort>(l.bottom - l.height),
                               static_cast<FXshort>(std::max(1, g.width)), static_cast<FXshort>(l.height)));
    }
  return r;
}

void FXKTextLayout::invalidateLinkText(std::int32_t linkIndex) {
  if (linkIndex < 0) return;
  // Only the text of that link: the segments whose run belongs to it.
  FXRectangle r(0, 0, 0, 0);
  for (const line& l : lines_)
    for (std::int32_t s = l.firstSegment; s <= l.lastSegment && s < static_cast<std::int32_t>(segments_.size()); ++s) {
      const std::int32_t key = runKeyOfSegment(s);
      if (key < 0 || runs_.at(key).linkIndex != linkIndex) continue;
      const segment& g = segments_[s];
      r = unite(r, FXRectangle(static_cast<FXshort>(g.x), static_cast<FXshort>(l.bottom - l.height),
                               static_cast<FXshort>(std::max(1, g.width)), static_cast<FXshort>(l.height)));
    }
  if (r.w > 0 && r.h > 0) updateRect(r);
}

void FXKTextLayout::endLinkHover() {
  if (!hoveredBlock_) return;
  const std::int32_t was = hoveredLink_;
  hoveredLink_ = -1;
  hoveredBlock_ = nullptr;
  invalidateLinkText(was);
}

bool FXKTextLayout::hover(std::int32_t x, std::int32_t y) {
  if (x == -1) {
    clearHot();
    if (!hoveredBlock_) hoveredLink_ = -1;
    endLinkHover();
    return false;
  }
  block* b = blockAt(x, y);
  if (b != &root_) {
    if (b->flags & kBlockDisabled) {
      clearHot();
      endLinkHover();
      return false;
    }
    const textstyle* own = nearestStyle(b);
    if ((own->flags & kLink) && (own->flags & kFlatLink)) {
      block* top = b;
      for (block* p = b->parent; p && p != &root_; p = p->parent) {
        const textstyle* ps = nearestStyle(p);
        if (!(ps->flags & kLink) || !(ps->link == own->link)) break;
        top = p;
      }
      setHot(top);
      endLinkHover();
      return true;
    }
  }
  clearHot();
  hotBlock_ = b;  // remembered for the Enter key, without the hot mark
  const textstyle* s = styleAt(x, y);
  if (s && (s->flags & kLink)) {
    if (s->flags & kFlatLinkColors) {
      // A move inside the same link repaints nothing; a move to another link
      // ends the hover of the old one first.
      if (hoveredBlock_ && hoveredLink_ == s->linkIndex) return true;
      endLinkHover();
      hoveredLink_ = s->linkIndex;
      hoveredBlock_ = b;
      invalidateLinkText(hoveredLink_);
    }
    return true;
  }
  endLinkHover();
  hoveredLink_ = -1;
  return false;
}

std::int32_t FXKTextLayout::linkEntryOfBlock(std::int32_t id) const {
  std::int32_t found = -1;
  for (std::int32_t i = 1; i < static_cast<std::int32_t>(links_.size()); ++i) {
    const linkentry& e = links_[i];
    if (e.firstBlock < 0 || !(e.firstBlock <= id && id < e.endBlock)) continue;
    const bool nextCovers = i + 1 < static_cast<std::int32_t>(links_.size()) && links_[i + 1].firstBlock >= 0 &&
                            links_[i + 1].firstBlock <= id && id < links_[i + 1].endBlock;
    found = i;
    if (!nextCovers) return i;
  }
  return found;
}

void FXKTextLayout::markHot(block* b, bool on) {
  if (!b || (b->flags & kBlockPlaceholder)) return;
  if (on) {
    if (b->flags & kBlockHot) return;
    b->flags |= kBlockHot;
    for (block& c : b->children) markHot(&c, true);
    // A link made of several blocks lights up as one.
    if (hotBlock_) {
      const std::int32_t e = linkEntryOfBlock(hotBlock_->id);
      if (e > 0)
        for (std::int32_t id = links_[e].firstBlock; id < links_[e].endBlock; ++id) {
          block* other = findBlockById(id);
          if (other && other != b && !(other->flags & (kBlockHot | kBlockPlaceholder))) {
            markHot(other, true);
            invalidateBlock(other);
          }
        }
    }
    return;
  }
  if (b->flags & kBlockHot) {
    b->flags &= ~std::uint32_t(kBlockHot);
    invalidateBlock(b);
  }
  for (block& c : b->children) markHot(&c, false);
}

void FXKTextLayout::setHot(block* b) {
  if (focusedLink_) {
    const FXRectangle r = rangeRect(focusedLink_->start, focusedLink_->end);
    focusedLink_ = nullptr;
    if (r.w > 0) updateRect(r);
  }
  if (b == hotBlock_) return;
  if (b && (b->flags & kBlockPlaceholder)) {
    if (hotBlock_) {
      markHot(hotBlock_, true);
      invalidateBlock(hotBlock_);
    }
    return;
  }
  // Only blocks that lose the mark are repainted: a block remembered by the
  // hover without the mark costs nothing to forget.
  if (block* old = hotBlock_) markHot(old->parent ? old->parent : old, false);
  hotBlock_ = b;
  if (!b) return;
  previousHot_ = b;
  markHot(b, true);
  invalidateBlock(b);
}

void FXKTextLayout::clearHot() { setHot(nullptr); }

// ------------------------------------------------------------------ keyboard focus

bool FXKTextLayout::focusEntry(std::int32_t direction, std::int32_t index) {
  (void)direction;
  if (index <= 0 || index >= static_cast<std::int32_t>(links_.size())) return false;
  const linkentry& e = links_[index];
  if (e.firstBlock != -1) return false;
  setHot(nullptr);
  hotBlock_ = nullptr;
  focusedLink_ = &e;
  const FXRectangle r = rangeRect(e.start, e.end < 0 ? e.start : e.end);
  if (r.w > 0) updateRect(r);
  return true;
}

std::int32_t FXKTextLayout::currentLinkEntry() const {
  if (focusedLink_) return static_cast<std::int32_t>(focusedLink_ - links_.data());
  if (hotBlock_ && (hotBlock_->flags & kBlockHot)) return linkEntryOfBlock(hotBlock_->id);
  return -1;
}

FXKTextLayout::block* FXKTextLayout::focusNext(std::int32_t direction) {
  if (!hasLinks()) return nullptr;
  if (direction == 3) {
    setHot(previousHot_);
    return hotBlock_;
  }
  const std::int32_t n = static_cast<std::int32_t>(links_.size());
  std::int32_t cur = currentLinkEntry();
  if (direction == 1) {
    for (std::int32_t i = (cur < 0 ? 0 : cur) + 1; i < n; ++i) {
      if (focusEntry(1, i)) return nullptr;
      if (block* b = links_[i].firstBlock >= 0 ? findBlockById(links_[i].firstBlock) : nullptr) {
        setHot(b);
        return hotBlock_;
      }
    }
  } else {
    for (std::int32_t i = (cur < 0 ? n : cur) - 1; i >= 1; --i) {
      if (focusEntry(2, i)) return nullptr;
      if (block* b = links_[i].firstBlock >= 0 ? findBlockById(links_[i].firstBlock) : nullptr) {
        setHot(b);
        return hotBlock_;
      }
    }
  }
  clearHot();
  hotBlock_ = nullptr;
  return nullptr;
}

bool FXKTextLayout::linkRect(const linkentry& e, FXRectangle& out) {
  if (e.firstBlock < 0) return false;
  FXRectangle r(0, 0, 0, 0);
  for (std::int32_t id = e.firstBlock; id < e.endBlock; ++id)
    if (block* b = findBlockById(id)) r = unite(r, rectOf(*b));
  out = r;
  return true;
}

FXRectangle FXKTextLayout::referenceRect(block* b) {
  FXRectangle r = rectOf(*b);
  for (std::int32_t i = 1; i < static_cast<std::int32_t>(links_.size()); ++i)
    if (links_[i].firstBlock == b->id) {
      FXRectangle lr;
      if (linkRect(links_[i], lr)) r = unite(r, lr);
      break;
    }
  return r;
}

FXKTextLayout::block* FXKTextLayout::nearestInDirection(block* b, std::int32_t direction, std::int32_t least) {
  if (!b || links_.size() <= 1) return nullptr;
  const FXRectangle ref = referenceRect(b);
  const int rcx = ref.x + ref.w / 2, rcy = ref.y + ref.h / 2;
  int px = rcx, py = rcy;
  switch (direction) {
    case 1: py = ref.y; break;
    case 2: px = ref.x; break;
    case 4: px = ref.x + ref.w; break;
    case 8: py = ref.y + ref.h; break;
  }
  for (std::int32_t c = least; c >= 0; --c) {
    std::int32_t winner = -1;
    long long bestDistance = LLONG_MAX, bestSquare = LLONG_MAX;
    for (std::int32_t i = 1; i < static_cast<std::int32_t>(links_.size()); ++i) {
      FXRectangle r;
      if (!linkRect(links_[i], r)) continue;
      const int cx = r.x + r.w / 2, cy = r.y + r.h / 2;
      std::uint32_t cls = 0;
      if ((cx == rcx && cy == rcy) || (r.x == ref.x && r.y == ref.y && r.w == ref.w && r.h == ref.h)) {
        cls = 16;
      } else {
        if (cx < rcx && r.x < ref.x) cls |= 2;
        if (cx > rcx && r.x + r.w > ref.x + ref.w) cls |= 4;
        if (cy < rcy && r.y < ref.y) cls |= 1;
        if (cy > rcy && r.y + r.h > ref.y + ref.h) cls |= 8;
      }
      if (!(cls & static_cast<std::uint32_t>(direction)) || cls == 16) continue;
      int qx = cx, qy = cy;
      long long distance = 0;
      int a1, a2, b1, b2;  // spans on the other axis
      switch (direction) {
        case 1: qy = r.y + r.h; distance = py - qy; break;
        case 2: qx = r.x + r.w; distance = px - qx; break;
        case 4: qx = r.x; distance = qx - px; break;
        default: qy = r.y; distance = qy - py; break;
      }
      if (direction == 1 || direction == 8)
        a1 = ref.x, a2 = ref.x + ref.w, b1 = r.x, b2 = r.x + r.w;
      else
        a1 = ref.y, a2 = ref.y + ref.h, b1 = r.y, b2 = r.y + r.h;
      if (distance < 0) distance = -distance;
      int overlap;
      if (a1 == b1 && a2 == b2)
        overlap = 3;
      else if ((b1 >= a1 && b2 <= a2) || (a1 >= b1 && a2 <= b2))
        overlap = 2;
      else if (b1 < a2 && a1 < b2)
        overlap = 1;
      else
        overlap = 0;
      if (overlap < c) continue;
      const long long dx = qx - px, dy = qy - py, square = dx * dx + dy * dy;
      bool take = false;
      if (winner < 0 || distance < bestDistance)
        take = true;
      else if (distance == bestDistance && overlap == 3)
        take = true;
      else if (distance == bestDistance && c == 0 && square < bestSquare)
        take = true;
      if (take) winner = i, bestDistance = distance, bestSquare = square;
    }
    if (winner > 0) return findBlockById(links_[winner].firstBlock);
  }
  return nullptr;
}

FXKTextLayout::block* FXKTextLayout::moveFocus(std::int32_t direction, std::int32_t count) {
  const std::int32_t cur = currentLinkEntry();
  if (cur > 0) {
    const std::int32_t next = (direction == 1 || direction == 2) ? cur - 1 : cur + 1;
    if (next > 0 && next < static_cast<std::int32_t>(links_.size()) && links_[next].firstBlock == -1 &&
        focusEntry(direction, next))
      return nullptr;
  }
  for (std::int32_t k = 0; k < count; ++k) {
    block* b = nearestInDirection(hotBlock_, direction, 2);
    if (!b) break;
    setHot(b);
  }
  return hotBlock_;
}

bool FXKTextLayout::focusRect(FXRectangle& out) {
  if (hotBlock_ && (hotBlock_->flags & kBlockHot)) {
    FXRectangle r = rectOf(*hotBlock_);
    const std::int32_t e = linkEntryOfBlock(hotBlock_->id);
    FXRectangle lr;
    if (e > 0 && linkRect(links_[e], lr)) r = unite(r, lr);
    out = r;
    return true;
  }
  if (focusedLink_) {
    out = rangeRect(focusedLink_->start, focusedLink_->end < 0 ? focusedLink_->start : focusedLink_->end);
    return true;
  }
  return false;
}

const FXKTextLayout::linkentry* FXKTextLayout::linkByBlockId(std::int32_t id) const {
  for (std::size_t i = 1; i < links_.size(); ++i)
    if (links_[i].firstBlock == id) return &links_[i];
  return nullptr;
}

const FXKTextLayout::anchorentry* FXKTextLayout::anchorByName(const FXWString& name) const {
  for (std::size_t i = 1; i < anchors_.size(); ++i)
    if (anchors_[i].name == name) return &anchors_[i];
  return nullptr;
}

bool FXKTextLayout::makeVisibleRect(FXRectangle& out) const {
  if (!firstVisible_) return false;
  out = unite(rectOf(*firstVisible_), rectOf(lastVisible_ ? *lastVisible_ : *firstVisible_));
  return true;
}

// ------------------------------------------------------------------ plain text

void FXKTextLayout::gatherText(const block& b, std::int32_t start, std::int32_t end, FXWString& out) const {
  if (b.flags & kBlockPlaceholder) return;
  if ((b.flags & (kBlockParagraphKind | kBlockTable)) && !out.empty() && !endsLine(out)) out.append(u"\r\n");
  const bool row = (b.flags & kBlockRow) != 0;
  auto addSegments = [&](std::int32_t from, std::int32_t to) {
    if (row) return;
    for (std::int32_t s = std::max(0, from); s < to && s < static_cast<std::int32_t>(segments_.size()); ++s) {
      const segment& g = segments_[s];
      if (g.end <= start || g.start >= end) {
        if (!(g.start == g.end && g.start >= start && g.start < end)) continue;
      }
      if (g.flags & kSegAfterTab) out.append(u'\t');
      const std::int32_t a = std::max(g.start, start), z = std::min(g.end, end);
      if (z > a) out.append(text_.text() + a, z - a);
      if ((g.flags & kSegHardBreak) && g.end <= end) out.append(u"\r\n");
    }
  };
  std::int32_t pos = b.firstSegment;
  for (const block& c : b.children) {
    if (c.flags & kBlockPlaceholder) continue;
    if (c.firstSegment >= 0) addSegments(pos, c.firstSegment);
    gatherText(c, start, end, out);
    pos = std::max(pos, c.endSegment);
  }
  addSegments(pos, b.endSegment);
  if (b.flags & kBlockCell) out.append(u' ');
  if ((b.flags & 0x85) && (b.flags & (kBlockParagraphKind | kBlockRow))) out.append(u"\r\n");
}

FXWString FXKTextLayout::plainText(std::int32_t start, std::int32_t end) {
  FXWString out;
  if (end <= start) return out;
  gatherText(root_, start, end, out);
  // Line ends and blanks trimmed from both ends.
  int a = 0, z = out.length();
  auto trimmed = [](char16_t c) { return c == u'\r' || c == u'\n' || c == u' '; };
  while (a < z && trimmed(out[a])) ++a;
  while (z > a && trimmed(out[z - 1])) --z;
  return out.mid(a, z - a);
}

void FXKTextLayout::recalc() {
  for (auto& [position, object] : objects_) {
    (void)position;
    object->resetSizeCaches();
    if (FXWindow* w = object->embeddedWindow()) w->recalc();
  }
  widthCache_.clear();
  minWidth_ = maxWidth_ = 0;
  heightCache_.clear();
}
