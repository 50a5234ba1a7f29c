#include "widgets/icon_group.h"

#include <algorithm>
#include <chrono>

#include "platform/fox/fx_theme.h"
#include "widgets/icon_item.h"
#include "widgets/icon_layout.h"
#include "widgets/icon_list.h"

using namespace FX;

FXIMPLEMENT(FXKIconGroup, FXKBrowserViewGroup, nullptr, 0)

namespace {
FXRectangle intersect(const FXRectangle& a, const FXRectangle& b) {
  const FXint x = std::max(a.x, b.x), y = std::max(a.y, b.y);
  const FXint r = std::min(a.x + a.w, b.x + b.w), bt = std::min(a.y + a.h, b.y + b.h);
  return FXRectangle(x, y, std::max(0, r - x), std::max(0, bt - y));
}
bool contains(const FXRectangle& r, FXint x, FXint y) { return x >= r.x && y >= r.y && x < r.x + r.w && y < r.y + r.h; }
// Places a child without repainting it: the group repaints once.
void place(FXKTerminal* child, FXint x, FXint y, FXint w, FXint h) {
  if (child->width != w || child->height != h) child->flags |= FXKTerminal::FLAG_LAYOUT;
  child->x = x, child->y = y, child->width = w, child->height = h;
}
}  // namespace

FXKIconGroup::FXKIconGroup(FXKIconList* list, FXint k, FXKBrowserItem* keyItem)
    : FXKBrowserViewGroup(list, k, keyItem) {
  if (list) captionStyle_ = fxGetTheme(list->getApp())->kind() == FXTheme::KIND_STYLED ? 1 : 0;
}

FXKIconGroup::FXKIconGroup(FXKIconGroup* parentGroup, FXKIconList* list, FXint k, FXKBrowserItem* keyItem)
    : FXKBrowserViewGroup(list, k, keyItem,
                          parentGroup ? (parentGroup->subgroups_.empty()
                                             ? static_cast<FXKTerminal*>(parentGroup)
                                             : static_cast<FXKTerminal*>(parentGroup->subgroups_.back()))
                                      : nullptr),
      parentGroup_(parentGroup) {
  if (parentGroup_) {
    indent_ = parentGroup_->indent_ + 5;
    parentGroup_->subgroups_.push_back(this);
  }
}

FXKIconGroup::~FXKIconGroup() {
  if (FXKIconList* l = list()) l->forgetHotGroup(this);
  if (parentGroup_) {
    auto& s = parentGroup_->subgroups_;
    s.erase(std::remove(s.begin(), s.end(), this), s.end());
  }
  for (FXKIconGroup* sub : subgroups_) sub->parentGroup_ = nullptr;
  fonts_.clear();
  subgroups_.clear();
  columnOffsets_.clear();
}

FXKIconList* FXKIconGroup::list() const { return static_cast<FXKIconList*>(window); }

FXKTerminal* FXKIconGroup::hitTest(FXint px, FXint py) {
  if (rowOrdered()) {
    for (std::size_t i = firstChildBelow(py); i < children.size(); ++i) {
      FXKTerminal* child = children[i];
      if (child->y > py) break;
      if (px >= child->x && py >= child->y && px < child->x + child->width && py < child->y + child->height)
        return child;
    }
    return nullptr;
  }
  for (FXKTerminal* child : children)
    if (px >= child->x && py >= child->y && px < child->x + child->width && py < child->y + child->height) return child;
  return nullptr;
}

void FXKIconGroup::createResources() {
  FXKContainer::createResources();
  if (font_ && !font_->id()) font_->create();
}

void FXKIconGroup::requestLayout() {
  if (flags & FLAG_LAYOUT) return;
  for (FXKTerminal* child : children) child->flags |= FLAG_LAYOUT;
  FXKContainer::requestLayout();
}

FXFont* FXKIconGroup::captionFont() const {
  FXKIconList* l = list();
  if (l) {
    auto it = fonts_.find(l->getViewStyle());
    if (it != fonts_.end()) return it->second;
  }
  if (font_) return font_;
  if (!l) return nullptr;
  return l->currentAppearance().secondFont ? l->currentAppearance().secondFont : l->getFont();
}

void FXKIconGroup::setText(const FXWString& text) {
  if (text == text_) return;
  text_ = text;
  invalidate();
}

void FXKIconGroup::setCaptionIcon(FXIcon* icon) {
  if (icon == icon_) return;
  icon_ = icon;
  invalidate();
}

void FXKIconGroup::setCaptionFont(FXFont* font) {
  FXKIconList* l = list();
  auto it = l ? fonts_.find(l->getViewStyle()) : fonts_.end();
  if (it != fonts_.end())
    it->second = font;
  else
    font_ = font;
  if ((flags & FLAG_CREATED) && font && !font->id()) font->create();
  requestLayout();
  invalidate();
}

void FXKIconGroup::setCheckState(int state) {
  const FXuint bit = state == 0 ? GROUP_UNCHECKED : state == 1 ? GROUP_CHECKED : GROUP_MIXED;
  const FXuint now = (groupFlags_ & ~(GROUP_CHECKED | GROUP_UNCHECKED | GROUP_MIXED)) | bit;
  if (now == groupFlags_) return;
  groupFlags_ = now;
  invalidate();
}

int FXKIconGroup::getCheckState() const {
  if (groupFlags_ & GROUP_CHECKED) return 1;
  if (groupFlags_ & GROUP_UNCHECKED) return 0;
  return 2;
}

int FXKIconGroup::getExpandState() const {
  if (groupFlags_ & GROUP_COLLAPSED) return 1;
  if (groupFlags_ & GROUP_EXPANDED) return 0;
  return 2;
}

void FXKIconGroup::setExpandState(int state, bool animate) {
  const FXuint bit = state == 0 ? GROUP_EXPANDED : state == 1 ? GROUP_COLLAPSED : FXuint(0);
  const FXuint now = (groupFlags_ & ~(GROUP_EXPANDED | GROUP_COLLAPSED)) | bit;
  if (now == groupFlags_) return;
  groupFlags_ = now;
  FXKIconList* l = list();
  if (!animate || !l || !l->id() || state == 2) return;
  const bool expanding = state == 0;
  const FXint c = getCaptionHeight(width);
  groupFlags_ &= ~GROUP_HOT;
  invalidate(caption_);
  flags &= ~FLAG_ANIMATING;
  const FXint full = getDefaultHeight(width);
  if (expanding) {
    position(x, y, width, full);
    layout();
  }
  flags |= FLAG_ANIMATING;
  l->handle(l, FXSEL(SEL_COLLAPSED, 0), this);
  if (subgroups_.empty()) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
      return static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    };
    FXint previous = expanding ? c : full;
    // A group whose full height is its caption's has nothing to animate.
    IconLayout::animate(
        expanding, c, full, getAnimationTime(), elapsed,
        [&](int h) {
          previous = h;
          height = h;
          l->recalc();
          l->layout();
          l->update();
          l->repaint();
        },
        [](int microseconds) { fxsleep(static_cast<unsigned>(microseconds)); });
  }
  if (!expanding) height = c;
  l->handle(l, FXSEL(SEL_EXPANDED, 0), this);
  flags &= ~FLAG_ANIMATING;
  requestLayout();
}

FXint FXKIconGroup::getColumnX(FXint key) {
  FXKIconList* l = list();
  auto it = columnOffsets_.find(key);
  return (it == columnOffsets_.end() ? 0 : it->second) + (l ? l->getColumnOffset(key) : 0);
}

FXint FXKIconGroup::getColumnWidth(FXint key) {
  FXKIconList* l = list();
  return l ? l->getColumnWidth(key) : 0;
}

void FXKIconGroup::ensureCellInItems(FXint key) {
  for (FXKTerminal* child : children)
    if (auto* item = asIconItem(child)) item->ensureCell(key);
}

void FXKIconGroup::invalidateCellInItems(FXint key) {
  for (FXKTerminal* child : children)
    if (auto* item = asIconItem(child)) item->invalidateCell(key);
}

FXint FXKIconGroup::getCellWidth(FXint) const {
  FXKIconList* l = list();
  return l ? l->getCellWidth() : 0;
}

FXint FXKIconGroup::getCaptionHeight(FXint) const {
  FXKIconList* l = list();
  if (!l) return 0;
  FXint h;
  if (captionStyle_) {
    h = (l->getGroupFont() ? l->getGroupFont()->getFontHeight() : 0) + 4;
  } else {
    FXFont* f = captionFont();
    h = text_.empty() || !f ? 0 : f->getFontHeight();
  }
  if (!comment_.empty()) h += l->getFont()->getFontHeight() + getCaptionSpacing();
  if (captionStyle_) return h;
  if ((groupFlags_ & (GROUP_CHECKED | GROUP_UNCHECKED | GROUP_MIXED)) && l->getCheckImage())
    h = std::max(h, l->getCheckImage()->getHeight() / 12 + 8);
  if (h) h += getCaptionSpacing() + 8;
  return h;
}

FXint FXKIconGroup::getMaxItemHeight(FXint w) {
  FXint h = 0;
  for (FXKTerminal* child : children) h = std::max(h, child->getDefaultHeight(w));
  return h;
}

FXint FXKIconGroup::getMaxItemWidth() {
  FXint w = 0;
  for (FXKTerminal* child : children) w = std::max(w, child->getDefaultWidth());
  return w;
}

bool FXKIconGroup::rowOrdered() const {
  FXKIconList* l = list();
  const int style = l ? l->getViewStyle() : 0;
  return style == FXKIconList::STYLE_DETAILS || style >= FXKIconList::STYLE_ICONS;
}

std::size_t FXKIconGroup::firstChildBelow(FXint y) const {
  // Rows run top to bottom, so the bottoms never decrease along the children.
  auto it = std::partition_point(children.begin(), children.end(),
                                 [y](const FXKTerminal* c) { return c->y + std::max<FXint>(c->height, 1) <= y; });
  // A grid row's items share a top: start from the row's first one.
  while (it != children.begin() && (*(it - 1))->y + (*(it - 1))->height > y) --it;
  return static_cast<std::size_t>(it - children.begin());
}

FXint FXKIconGroup::getDefaultHeight(FXint w) {
  if (parentGroup_ && parentGroup_->getExpandState() == 1) return 0;
  if (flags & FLAG_ANIMATING) return height;
  FXKIconList* l = list();
  if (!l) return 0;
  FXint h = getCaptionHeight(w);
  const bool collapsed = getExpandState() == 1;
  if (!collapsed) {
    const FXint cw = l->getCellWidth(), rh = l->getRowHeight();
    const FXint c = w - 4;
    const FXint count = static_cast<FXint>(children.size());
    switch (l->getViewStyle()) {
      case FXKIconList::STYLE_LIST:
      case FXKIconList::STYLE_DETAILS: h += rh * count; break;
      case FXKIconList::STYLE_ICONS:
      case FXKIconList::STYLE_TILES:
      case FXKIconList::STYLE_THUMBNAILS: {
        const FXint n = cw + 16 < c ? c / (cw + 16) : 1;
        h = (rh + 16) * ((count + n - 1) / n) + h;
        break;
      }
      case FXKIconList::STYLE_CATEGORY: {
        // As the grid of the layout places them: hidden items take no room,
        // a separator a row of its own.
        const FXint cell = getCellWidth(w);
        FXKBrowser* browser = l->getBrowser();
        FXint x = 5, rowH = 0, sum = 0;
        for (FXKTerminal* child : children) {
          auto* item = asIconItem(child);
          if (item && browser && !browser->isVisible(item->item.get())) continue;
          const bool separator = item && item->hasNoHighlight();
          if (separator && x > 5) {
            sum += rowH;
            rowH = 0;
            x = 5;
          }
          FXint ch = child->getDefaultHeight(separator ? std::max(cell, w - 10) : cell);
          if (l->getUniformItemHeight() && !separator) ch = std::max(ch, rh);
          rowH = std::max(rowH, ch);
          x += cell + 16;
          if (separator || x + cell > w) {
            sum += rowH;
            rowH = 0;
            x = 5;
          }
        }
        h += sum + rowH;
        break;
      }
      default: break;
    }
    if (!parentGroup_) h += 4;
  }
  if (!text_.empty()) h += 4;
  return h;
}

void FXKIconGroup::layout() {
  if (flags & FLAG_ANIMATING) return;
  FXKIconList* l = list();
  if (!l) return;
  const int style = l->getViewStyle();
  check_ = FXRectangle(0, 0, 0, 0);
  expander_ = FXRectangle(0, 0, 0, 0);
  FXFont* f = captionFont();
  const FXint fh = f ? f->getFontHeight() : 0;
  const bool hasText = !text_.empty();
  FXint b = hasText ? fh + 4 : 0;
  caption_ = FXRectangle(0, 4, 0, 0);
  const FXint textW = hasText && f ? f->getTextWidth(text_.toUtf8().c_str()) : 0;
  captionText_ = FXRectangle(20, 4, textW, fh);
  FXint ix = 0, iy = 0;
  const bool expander = (groupFlags_ & (GROUP_COLLAPSED | GROUP_EXPANDED)) != 0;
  const bool checkbox = (groupFlags_ & (GROUP_CHECKED | GROUP_UNCHECKED | GROUP_MIXED)) != 0;
  if (hasText && expander && l->getExpanderImage()) {
    FXImage* img = l->getExpanderImage();
    const FXint d = img->getHeight() / 3;
    if (b < d + 4) captionText_.y += (d + 4 - b) / 2, b = d + 4;
    expander_ = FXRectangle(caption_.x + 4, caption_.y + (b - d) / 2, img->getWidth(), d);
    captionText_.x = caption_.x + img->getWidth() + 8;
  }
  if (hasText && checkbox && l->getCheckImage()) {
    FXImage* img = l->getCheckImage();
    const FXint d = img->getHeight() / 12;
    if (b < d + 4) captionText_.y += (d + 4 - b) / 2, b = d + 4;
    check_ = FXRectangle(caption_.x + 4, caption_.y + (b - d - 4) / 2, img->getWidth(), d);
    captionText_.x = caption_.x + img->getWidth() + 12;
    if (style == FXKIconList::STYLE_DETAILS) ix = 20;
  }
  if (!comment_.empty()) {
    FXFont* lf = l->getFont();
    comment_r_ = FXRectangle(ix, b + getCaptionSpacing(), lf->getTextWidth(comment_.toUtf8().c_str()),
                             lf->getFontHeight());
    b += lf->getFontHeight();
  }
  if (b) {
    caption_.w = std::max(300, captionText_.x + captionText_.w);
    caption_.h = b + getCaptionSpacing();
    iy = caption_.h + caption_.y + 4;
  }
  l->raiseHeaderOffset(ix);
  items_ = FXRectangle(ix, iy, width, std::max(0, height - iy));

  const FXint cw = l->getCellWidth(), rh = l->getRowHeight();
  const bool collapsed = getExpandState() == 1;
  if (!collapsed) switch (style) {
      case FXKIconList::STYLE_LIST: {
        FXint cx = ix, cy = iy;
        for (FXKTerminal* child : children) {
          if (cy + rh > height && cy > iy) cy = iy, cx += cw + 16;
          place(child, cx, cy, std::min(child->getDefaultWidth(), std::max(0, width - cx)), rh);
          cy += rh;
        }
        break;
      }
      case FXKIconList::STYLE_DETAILS: {
        FXint cy = iy;
        for (FXKTerminal* child : children) {
          place(child, ix, cy, cw - ix, rh);
          cy += rh;
        }
        break;
      }
      case FXKIconList::STYLE_ICONS:
      case FXKIconList::STYLE_THUMBNAILS:
      case FXKIconList::STYLE_TILES:
      case FXKIconList::STYLE_CATEGORY: {
        const FXint cell = getCellWidth(width);
        FXint cx = 5, cy = iy, rowH = 0;
        FXKBrowser* browser = l->getBrowser();
        for (std::size_t i = 0; i < children.size(); ++i) {
          if (i + 4 < children.size()) __builtin_prefetch(children[i + 4]);
          FXKTerminal* child = children[i];
          auto* item = asIconItem(child);
          if (item && browser && !browser->isVisible(item->item.get())) {
            place(child, cx, cy, 0, 0);
            child->flags &= ~FLAG_MARKED;
            continue;
          }
          // In the category view a separator divides the rows: it takes a
          // row of its own across the group.
          const bool separator = style == FXKIconList::STYLE_CATEGORY && item && item->hasNoHighlight();
          if (separator && cx > 5) {
            cy += rowH;
            cx = 5;
            rowH = 0;
          }
          const FXint w = separator ? std::max(cell, width - 10) : cell;
          FXint h = child->getDefaultHeight(w);
          if (l->getUniformItemHeight() && !(item && item->hasNoHighlight())) h = std::max(h, rh);
          place(child, cx, cy, w, h);
          rowH = std::max(rowH, h);
          cx += cell + 16;
          if (separator || cx + cell > width) {
            cy += rowH + (style == FXKIconList::STYLE_CATEGORY ? 0 : 16);
            cx = 5;
            rowH = 0;
          }
        }
        break;
      }
      default: break;
    }
  else
    for (FXKTerminal* child : children) place(child, 0, 0, 0, 0);
  flags &= ~FLAG_LAYOUT;
  expander_.x += indent_;
  captionText_.x += indent_;
  check_.x += indent_;
  if (captionStyle_) {
    caption_ = captionText_ = FXRectangle(0, 0, cw, caption_.h);
    if (checkbox && l->getCheckImage()) {
      const FXint d = l->getCheckImage()->getWidth() + 6;
      captionText_.x += d;
      captionText_.w += d;
    }
    const FXint sb = l->verticalScrollBar()->shown() ? l->verticalScrollBar()->getWidth() : 0;
    expander_ = FXRectangle(l->getWidth() - sb - 21, 2, 15, 15);
  }
  invalidate();
}

FXint FXKIconGroup::hitTestCaption(FXPoint p) const {
  if (captionStyle_ && (groupFlags_ & (GROUP_COLLAPSED | GROUP_EXPANDED))) {
    if (p.y < caption_.y || p.y >= caption_.y + caption_.h) return 0;
    if (contains(check_, p.x, p.y)) return 3;
    if (contains(expander_, p.x, p.y)) return 13;
    return 5;
  }
  const FXRectangle whole(0, caption_.y, std::max<FXint>(width, caption_.w), caption_.h);
  if (!contains(whole, p.x, p.y)) return 0;
  if ((groupFlags_ & (GROUP_CHECKED | GROUP_UNCHECKED | GROUP_MIXED)) && contains(check_, p.x, p.y)) return 3;
  if (groupFlags_ & (GROUP_COLLAPSED | GROUP_EXPANDED)) return contains(expander_, p.x, p.y) ? 13 : 5;
  return 1;
}

void FXKIconGroup::paint(FXKPaintDC& dc, const FXRectangle& rect, FXRegion& region) {
  if (!rowOrdered()) {
    FXKContainer::paint(dc, rect, region);
    return;
  }
  // Only the rows that meet the damage are visited.
  region.offset(-x, -y);
  for (std::size_t i = firstChildBelow(rect.y); i < children.size() && !region.empty(); ++i) {
    FXKTerminal* child = children[i];
    if (child->y >= rect.y + rect.h) break;
    const FXRectangle box(child->x, child->y, child->width, child->height);
    const FXRectangle damaged = intersect(box, rect);
    if (damaged.w <= 0 || damaged.h <= 0) continue;
    FXRegion part = region * FXRegion(damaged);
    if (part.empty()) continue;
    dc.setClipRegion(part);
    FXKPaintDC inner{dc.dc, dc.ox + child->x, dc.oy + child->y};
    FXRegion childRegion(part);
    child->paint(inner, FXRectangle(damaged.x - child->x, damaged.y - child->y, damaged.w, damaged.h), childRegion);
    region -= part;
  }
  FXRegion rest = region * FXRegion(rect);
  if (!rest.empty()) {
    dc.setClipRegion(rest);
    paintContainerBackground(dc, rect);
    region -= rest;
  }
  region.offset(x, y);
}

void FXKIconGroup::paintContainerBackground(FXKPaintDC& dc, const FXRectangle& rect) {
  FXKIconList* l = list();
  if (!l) return;
  if (l->hasBackground()) {
    paintWindowBackground(dc, rect);
    paintCaption(dc, rect, 1);
    return;
  }
  dc.dc->setForeground(l->getColor(0, this, false));
  dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
  if (!text_.empty() || captionStyle_) paintCaption(dc, rect, 1);
}

// The header style: a white band with the caption in the group font, a thin
// rule after it and the expander at the list's right edge.
void FXKIconGroup::paintHeaderCaption(FXKPaintDC& dc, const FXRectangle& rect) {
  FXKIconList* l = list();
  FXDC& d = *dc.dc;
  FXFont* f = l->getGroupFont() ? l->getGroupFont() : captionFont();
  const FXint sb = l->verticalScrollBar()->shown() ? l->verticalScrollBar()->getWidth() : 0;
  const FXint W = l->getWidth() - sb - l->getXPosition();
  const FXint t = f ? f->getFontHeight() + 4 : 0;
  const bool checkbox = (groupFlags_ & (GROUP_CHECKED | GROUP_UNCHECKED | GROUP_MIXED)) != 0 && l->getCheckImage();
  const bool expander = (groupFlags_ & (GROUP_COLLAPSED | GROUP_EXPANDED)) != 0;
  const FXint checkW = checkbox ? l->getCheckImage()->getWidth() : 0;
  const FXRectangle band = intersect(rect, FXRectangle(0, 0, std::max(W, rect.x + rect.w), caption_.y + caption_.h));
  if (band.w <= 0 || band.h <= 0) return;
  d.setForeground(FXRGBA(0xff, 0xff, 0xff, 0xff));
  dc.fillRectangle(band.x, band.y, band.w, band.h);
  const bool hot = (groupFlags_ & (GROUP_HOT | GROUP_PRESSED)) != 0;
  if (hot) {
    d.setForeground(l->getColor(4, this, false));
    dc.fillRectangle(0, band.y, W, std::min<FXint>(t, band.h));
  }
  FXint textW = 0;
  if (f && !text_.empty()) {
    const FXString s = text_.toUtf8().c_str();
    textW = f->getTextWidth(s);
    d.setFont(f);
    d.setForeground(FXRGBA(0x00, 0x33, 0x99, 0xff));
    d.drawText(dc.ox + checkW + 6, dc.oy + (t - f->getFontAscent()) / 2 + f->getFontAscent(), s);
  }
  const FXint lineX = checkW + textW + 12;
  const FXint lineW = W + (expander ? 0 : 16) - checkW - textW - 39;
  if (lineW > 0) {
    d.setForeground(FXRGBA(0xa7, 0xbc, 0xdf, 0xff));
    dc.fillRectangle(lineX, t / 2 + 1, lineW, 1);
  }
  if (expander) {
    if (hot) {
      FXImage* back = l->headerPicture(FXKIconList::HEADER_HOVER);
      if (back->id()) d.drawImage(back, dc.ox + W - 21, dc.oy + 2);
    }
    FXImage* strip =
        l->headerPicture(getExpandState() == 1 ? FXKIconList::HEADER_COLLAPSED : FXKIconList::HEADER_EXPANDED);
    if (strip->id()) d.drawArea(strip, 0, hot ? 15 : 0, 15, 15, dc.ox + W - 21, dc.oy + 2);
  }
  const bool enabled = !item || l->isItemEnabled(item.get());
  if (checkbox && enabled && l->getCheckImage()->id()) {
    FXImage* img = l->getCheckImage();
    const int state = getCheckState();
    const bool selected = item && l->isItemSelected(item.get());
    const FXint frame = 4 * (state == 1 ? 1 : state == 2 ? 2 : 0) + (selected ? 1 : 0);
    const FXint fh = img->getHeight() / 12;
    d.drawArea(img, 0, frame * fh, img->getWidth(), fh, dc.ox + check_.x, dc.oy + check_.y);
  }
  if (!comment_.empty()) {
    d.setFont(l->getFont());
    d.setForeground(l->getColor(2, this, true));
    const FXString s = comment_.toUtf8().c_str();
    d.drawText(dc.ox + comment_r_.x, dc.oy + comment_r_.y + l->getFont()->getFontAscent(), s);
  }
}

void FXKIconGroup::paintCaption(FXKPaintDC& dc, const FXRectangle& rect, FXuint mode) {
  FXKIconList* l = list();
  if (captionStyle_) {
    paintHeaderCaption(dc, rect);
    return;
  }
  FXDC& d = *dc.dc;
  const bool selected = item && l->isItemSelected(item.get());
  const bool focused = item ? l->isItemFocused(item.get()) : l->getCurrentNode() == this;
  const bool checkbox = (groupFlags_ & (GROUP_CHECKED | GROUP_UNCHECKED | GROUP_MIXED)) != 0;
  const bool enabled = !item || l->isItemEnabled(item.get());
  if (checkbox && enabled && l->getCheckImage() && l->getCheckImage()->id()) {
    FXImage* img = l->getCheckImage();
    const int state = getCheckState();
    const FXint frame = 4 * (state == 1 ? 1 : state == 2 ? 2 : 0) + (selected ? 1 : 0);
    const FXint fh = img->getHeight() / 12;
    d.drawArea(img, 0, frame * fh, img->getWidth(), fh, dc.ox + check_.x, dc.oy + check_.y);
  }
  if ((groupFlags_ & (GROUP_COLLAPSED | GROUP_EXPANDED)) && l->getExpanderImage() && l->getExpanderImage()->id()) {
    FXImage* img = l->getExpanderImage();
    const FXint fh = img->getHeight() / 3;
    const FXint frame = getExpandState() == 1 ? 0 : 1;
    d.drawArea(img, 0, frame * fh, img->getWidth(), fh, dc.ox + expander_.x, dc.oy + expander_.y);
  }
  if (!comment_.empty()) {
    d.setFont(l->getFont());
    d.setForeground(l->getColor(2, this, true));
    const FXString s = comment_.toUtf8().c_str();
    d.drawText(dc.ox + comment_r_.x, dc.oy + comment_r_.y + l->getFont()->getFontAscent(), s);
  }
  if (text_.empty()) return;
  FXFont* f = captionStyle_ && l->getGroupFont() ? l->getGroupFont() : captionFont();
  if (!f) return;
  FXColor fg = captionStyle_ ? FXRGBA(0x00, 0x33, 0x99, 255) : l->getColor(2, this, true);
  if (selected || (!item && focused)) {
    fg = l->getColor(focused ? 5 : 6, this, true);
    d.setForeground(l->getColor(focused ? 3 : 4, this, false));
    dc.fillRectangle(captionText_.x - 1, captionText_.y - 2, captionText_.w + 2, captionText_.h + 4);
  }
  FXint tx = captionText_.x;
  if (icon_ && icon_->id()) {
    const FXint iy = std::max(0, captionText_.y + (captionText_.h - icon_->getHeight()) / 2);
    d.drawIcon(icon_, dc.ox + tx, dc.oy + iy);
    tx += icon_->getWidth() + 1;
  }
  d.setFont(f);
  d.setForeground(fg);
  const FXString s = text_.toUtf8().c_str();
  d.drawText(dc.ox + tx, dc.oy + captionText_.y + f->getFontAscent(), s);
  if (!captionStyle_ && !parentGroup_ && l->getViewStyle() != FXKIconList::STYLE_CATEGORY && caption_.h > 0) {
    // A fade from deep blue into the background along the caption's bottom.
    const FXColor back = l->getColor(0, this, false);
    const int R = FXREDVAL(back), G = FXGREENVAL(back), B = FXBLUEVAL(back);
    const FXint row = caption_.y + caption_.h - 1 - (comment_.empty() ? 0 : comment_r_.h);
    const FXint end = std::min<FXint>(300, caption_.w);
    for (FXint i = 0; i < end; ++i) {
      if (i < rect.x - 1 || i > rect.x + rect.w) continue;
      const int blue = ((i * (B - 200) / 300 - 56) % 256 + 256) % 256;
      d.setForeground(FXRGB(i * R / 300, i * G / 300, blue));
      d.drawPoint(dc.ox + i, dc.oy + row);
    }
  }
  (void)mode;
}
