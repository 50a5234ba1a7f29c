// Fonts, colours and painting. Every painter gets the region still to paint
// and removes what it covered, so no pixel is painted twice.
#include <fx.h>

#include <algorithm>

#include "platform/fox/fx_app.h"
#include "textlayout/layout.h"

using namespace FX;

namespace {

std::string utf8Of(const char16_t* s, std::int32_t n) { return FXWString(s, n).toUtf8(); }

FXColor mix(FXColor a, FXColor b, std::int64_t num, std::int64_t den) {
  if (den <= 0) return a;
  auto ch = [&](int shift) {
    const std::int64_t ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
    return static_cast<FXColor>((ca + (cb - ca) * num / den) & 0xFF) << shift;
  };
  return ch(0) | ch(8) | ch(16) | 0xFF000000u;
}

FXRegion rectRegion(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  if (w <= 0 || h <= 0) return FXRegion();
  return FXRegion(FXint(x), FXint(y), FXint(w), FXint(h));
}

}  // namespace

// ---------------------------------------------------------------- colours

bool FXKTextLayout::plainTheme() const { return false; }

FXColor FXKTextLayout::textColorOf(const textstyle& style, const block& b) const {
  if (plainTheme()) return dynamic_cast<FXExtApp*>(app_) ? static_cast<FXExtApp*>(app_)->getStockColor(7) : FXRGB(0, 0, 0);
  if (b.flags & kBlockHot) {
    if (style.hoverTextColor.isSet()) return style.hoverTextColor;
    if (b.hoverTextColor.isSet()) return b.hoverTextColor;
  }
  if (style.textColor.isSet()) return style.textColor;
  if (b.textColor.isSet()) return b.textColor;
  return textColor_;
}

FXColor FXKTextLayout::backColorOf(const textstyle& style, const block& b) const {
  if (plainTheme()) return dynamic_cast<FXExtApp*>(app_) ? static_cast<FXExtApp*>(app_)->getStockColor(6) : FXRGB(255, 255, 255);
  if (b.flags & kBlockHot) {
    if (style.hoverBackColor.isSet()) return style.hoverBackColor;
    if (b.hoverBackColor.isSet()) return b.hoverBackColor;
  }
  if (style.backColor.isSet()) return style.backColor;
  if (b.backColor.isSet()) return b.backColor;
  return backColor_;
}

void FXKTextLayout::setTextColor(FXStockColor color) {
  if (color.isSet()) textColor_ = color;
}

void FXKTextLayout::setBackColor(FXStockColor color) {
  if (!color.isSet()) return;
  backColor_ = color;
  root_.backColor = color;
}

// ---------------------------------------------------------------- entry points

void FXKTextLayout::paint(FXDC& dc, const FXRectangle& rect, bool transparent, std::uint32_t flags) {
  if (transparent) flags |= kPaintTransparent;
  else flags &= ~std::uint32_t(kPaintTransparent);
  flags |= kPaintBackgrounds;
  if (transparent && !watermark() && plainTheme()) flags &= ~std::uint32_t(kPaintBackgrounds);
  FXRegion region = rectRegion(rect.x, rect.y, rect.w, rect.h) * rectRegion(root_.x, root_.y, root_.w, root_.h);
  const FXRegion whole = rectRegion(rect.x, rect.y, rect.w, rect.h);
  const FXRegion rootArea = rectRegion(root_.x, root_.y, root_.w, root_.h);
  paintBlock(root_, region, dc, rect, flags);
  if (!transparent) {
    FXRegion outside = whole - rootArea;
    if (!outside.empty()) {
      outside.offset(paintX_, paintY_);
      dc.setClipRegion(outside);
      const FXColor bg = root_.backColor.isSet() ? FXColor(root_.backColor) : FXColor(backColor_);
      dc.setForeground(bg);
      dc.setBackground(bg);
      paintBackground(dc, rect, flags);
      dc.clearClipRectangle();
    }
  }
}

void FXKTextLayout::paintBackground(FXDC& dc, const FXRectangle& rect, std::uint32_t flags) {
  FXImage* wm = watermark();
  if (!(flags & kPaintPage) && wm && wm->id()) {
    const std::int32_t x = wmX_ - scrollX_, y = wmY_ - scrollY_;
    dc.drawImage(wm, x, y);
  }
  dc.fillRectangle(rect.x + paintX_, rect.y + paintY_, rect.w, rect.h);
}

// ---------------------------------------------------------------- blocks

void FXKTextLayout::paintBlock(block& b, FXRegion& region, FXDC& dc, const FXRectangle& rect, std::uint32_t flags) {
  if (b.flags & (kBlockHidden | kBlockPlaceholder)) return;
  std::vector<block*> layers, fixed;
  for (block& c : b.children) {
    if (region.empty()) break;
    if (c.flags & kBlockLayer) {
      layers.push_back(&c);
      continue;
    }
    if (c.flags & (kBlockHidden | kBlockPlaceholder)) continue;
    if (c.flags & (kBlockConstX | kBlockConstY)) {
      fixed.push_back(&c);
      continue;
    }
    const FXRegion area = rectRegion(c.x, c.y, c.w, c.h);
    FXRegion part = region * area;
    if (part.empty()) continue;
    paintBlock(c, part, dc, rect, flags);
    region = region - area;
  }
  if ((flags & kPaintBackgrounds) && !(flags & kPaintTransparent) && !region.empty()) {
    FXRegion clip = region;
    paintBlockBackground(b, dc, region, clip, flags, true, 0);
  }
  // The block's own lines: its range without its children's.
  std::int32_t run = 0;
  FXRegion lineRegion = rectRegion(b.x, b.y, b.w, b.h) * rectRegion(rect.x, rect.y, rect.w, rect.h);
  std::int32_t from = b.firstLine;
  for (block& c : b.children) {
    if (c.flags & kBlockPlaceholder) continue;
    if (c.firstLine > from) paintLines(b, from, c.firstLine, run, dc, rect, flags, lineRegion);
    from = std::max(from, c.endLine);
  }
  if (b.endLine > from) paintLines(b, from, b.endLine, run, dc, rect, flags, lineRegion);
  // Fixed blocks keep their place while the rest scrolls.
  for (block* f : fixed) {
    const std::int32_t sx = (f->flags & kBlockConstX) ? scrollX_ : 0, sy = (f->flags & kBlockConstY) ? scrollY_ : 0;
    paintX_ += sx, paintY_ += sy;
    FXRegion part = rectRegion(f->x, f->y, f->w, f->h) * rectRegion(rect.x - sx, rect.y - sy, rect.w, rect.h);
    paintBlock(*f, part, dc, rect, flags);
    paintX_ -= sx, paintY_ -= sy;
  }
  for (block* l : layers) {
    FXRegion part = rectRegion(l->x, l->y, l->w, l->h) * rectRegion(rect.x, rect.y, rect.w, rect.h);
    paintBlock(*l, part, dc, rect, flags | kPaintTransparent);
  }
}

void FXKTextLayout::paintBlockBackground(block& b, FXDC& dc, FXRegion& region, FXRegion& clip, std::uint32_t flags,
                                         bool setColors, std::uint32_t fixed) {
  const textstyle* s = nearestStyle(&b);
  FXColor bg = backColorOf(*s, b);
  if (&b == &root_ && !root_.backColor.isSet()) bg = backColor_;
  if (!(b.flags & kBlockOpaque) && b.parent && !b.backColor.isSet()) {
    paintBlockBackground(*b.parent, dc, region, clip, flags, false, fixed | (b.flags & (kBlockConstX | kBlockConstY)));
    return;
  }
  FXRegion device = clip;
  device.offset(paintX_, paintY_);
  dc.setClipRegion(device);
  const FXRectangle bounds = clip.bounds();
  block* gradientOwner = nullptr;
  if (b.gradientColor.isSet()) gradientOwner = &b;
  else
    for (block* a = b.parent; a && a != &root_; a = a->parent)
      if (a->gradientColor.isSet()) {
        gradientOwner = a;
        break;
      }
  if (gradientOwner && !plainTheme()) {
    gradientFill(*gradientOwner, dc, bounds, gradientOwner->gradientColor, backColorOf(*s, *gradientOwner));
  } else {
    dc.setForeground(bg);
    dc.fillRectangle(bounds.x + paintX_, bounds.y + paintY_, bounds.w, bounds.h);
  }
  // The background image, at the place the layout pass gave it.
  if (b.background && !plainTheme()) {
    const bgimage& g = *b.background;
    FXImage* image = ((b.flags & kBlockHot) && g.hoverImage) ? g.hoverImage : g.image;
    if (image && image->id() && g.w > 0 && g.h > 0) {
      if (g.placement & 0x40) {
        for (std::int32_t y = g.y; y < g.y + g.h; y += image->getHeight())
          for (std::int32_t x = g.x; x < g.x + g.w; x += image->getWidth())
            dc.drawImage(image, x + paintX_, y + paintY_);
      } else {
        dc.drawImage(image, g.x + paintX_, g.y + paintY_);
      }
    }
  }
  if (setColors) {
    dc.setForeground(bg);
    dc.setBackground(bg);
  }
  dc.clearClipRectangle();
  region = FXRegion();
}

void FXKTextLayout::gradientFill(block& b, FXDC& dc, const FXRectangle& rect, FXColor start, FXColor end) {
  const bool vertical = (b.flags & kBlockVerticalGradient) != 0;
  const FXColor savedFg = dc.getForeground();
  if (vertical) {
    for (std::int32_t y = rect.y; y < rect.y + rect.h; ++y) {
      const std::int32_t off = y - b.y;
      dc.setForeground(off >= b.h ? end : mix(start, end, off, std::max(1, b.h)));
      dc.fillRectangle(rect.x + paintX_, y + paintY_, rect.w, 1);
    }
  } else {
    for (std::int32_t x = rect.x; x < rect.x + rect.w; ++x) {
      dc.setForeground(mix(start, end, x - b.x, std::max(1, b.w)));
      dc.fillRectangle(x + paintX_, rect.y + paintY_, 1, rect.h);
    }
  }
  dc.setForeground(savedFg);
}

// ---------------------------------------------------------------- lines

void FXKTextLayout::paintLines(block& b, std::int32_t first, std::int32_t end, std::int32_t&, FXDC& dc,
                               const FXRectangle& rect, std::uint32_t flags, FXRegion& region) {
  if (b.flags & kBlockPlaceholder) return;
  const bool transparent = (flags & kPaintTransparent) != 0;
  const std::int32_t nLines = static_cast<std::int32_t>(lines_.size());
  bool ellipsisDone = false;
  for (std::int32_t li = first; li < end && li < nLines; ++li) {
    const line& l = lines_[static_cast<std::size_t>(li)];
    const std::int32_t top = l.bottom - l.height;
    if (flags & kPaintPage) {
      // A line cut by the page's bottom waits for the next page.
      if (l.bottom > page_.bottom && top <= page_.bottom) {
        page_.carry = -(page_.bottom - top);
        continue;
      }
    }
    if (top >= rect.y + rect.h || l.bottom <= rect.y) continue;
    if (flags & kPaintEllipsis) {
      if (ellipsisDone) continue;
      if (li + 1 < nLines && lines_[static_cast<std::size_t>(li + 1)].bottom > rect.y + rect.h) {
        const textstyle* s = styleAtPosition(segments_[static_cast<std::size_t>(l.firstSegment)].start);
        FXFont* f = s ? fontOf(*s) : fonts_[0];
        dc.setFont(f);
        dc.setForeground(s ? textColorOf(*s, b) : FXColor(textColor_));
        dc.drawText(b.x + paintX_, l.bottom - 1 - (f->getFontHeight() - f->getFontAscent()) + paintY_, "...", 3);
        ellipsisDone = true;
        continue;
      }
    }
    for (std::int32_t si = l.firstSegment; si <= l.lastSegment; ++si) {
      const segment& s = segments_[static_cast<std::size_t>(si)];
      if (s.flags & kSegObject) {
        if (primitive* p = objectAt(s.start))
          p->draw(dc, s.x + paintX_, l.bottom - s.ascent + paintY_, p->hasAlpha(), b.flags);
        continue;
      }
      std::int32_t pos = s.start, px = s.x;
      while (pos < s.end) {
        const textstyle* st = styleAtPosition(pos);
        auto next = runs_.upper_bound(pos);
        const std::int32_t stop = next == runs_.end() ? s.end : std::min(s.end, next->first);
        if (!st) break;
        FXFont* font = fontOf(*st);
        const std::int32_t w = measureText(font, text_.text() + pos, stop - pos);
        const std::string bytes = utf8Of(text_.text() + pos, stop - pos);
        const std::int32_t baseY = top + l.baseline + paintY_;
        const std::int32_t dx = px + paintX_, dtop = top + paintY_;
        dc.setFont(font);
        const FXColor fg = textColorOf(*st, b);
        const FXColor bg = backColorOf(*st, b);
        bool underline = false, focusMark = false;
        if (st->flags & kUnderline) {
          if (st->flags & kFlatLink) underline = (b.flags & kBlockHot) || (flags & kPaintUnderlineAll);
          else underline = true;
        }
        if ((st->flags & kFlatLinkColors) && st->linkIndex == hoveredLink_ && hoveredLink_ >= 0) underline = true;
        if (flags & kPaintUnderlineAll) underline = true;
        if (focusedLink_ && st->linkIndex >= 0 && &links_[static_cast<std::size_t>(st->linkIndex)] == focusedLink_)
          focusMark = true;
        if (transparent) {
          if ((st->flags & kShadow) && !plainTheme()) {
            const FXColor shadow = FXRGBA(FXREDVAL(bg) / 4 * 3, FXGREENVAL(bg) / 4 * 3, FXBLUEVAL(bg) / 4 * 3, 255);
            dc.setForeground(shadow);
            dc.drawText(dx + 1, baseY + 1, bytes.data(), static_cast<FXuint>(bytes.size()));
          }
          dc.setForeground(focusMark ? FXColor(0xFF0000FFu) : fg);
          dc.drawText(dx, baseY, bytes.data(), static_cast<FXuint>(bytes.size()));
        } else {
          dc.setForeground(bg);
          dc.fillRectangle(dx, dtop, w, l.height);
          if ((st->flags & kShadow) && !plainTheme()) {
            const FXColor shadow = FXRGBA(FXREDVAL(bg) / 4 * 3, FXGREENVAL(bg) / 4 * 3, FXBLUEVAL(bg) / 4 * 3, 255);
            dc.setForeground(shadow);
            dc.drawText(dx + 1, baseY + 1, bytes.data(), static_cast<FXuint>(bytes.size()));
          }
          dc.setForeground(focusMark ? FXColor(0xFF0000FFu) : fg);
          dc.drawText(dx, baseY, bytes.data(), static_cast<FXuint>(bytes.size()));
        }
        if (underline) dc.fillRectangle(dx, baseY + 1, w, 1);
        if (focusMark) {
          // Every second pixel of the row three below the baseline, inverted.
          const FXFunction saved = dc.getFunction();
          dc.setFunction(BLT_NOT_DST);
          for (std::int32_t x = dx; x < dx + w; ++x)
            if ((x & 1) == 0) dc.fillRectangle(x, baseY + 3, 1, 1);
          dc.setFunction(saved);
        }
        px += w;
        pos = stop;
      }
    }
    if (!(flags & kPaintPage)) paintSelection(l, dc);
  }
}
