#include "widgets/icon_item.h"

#include <algorithm>
#include <climits>

#include "core/object.h"
#include "platform/fox/fx_theme.h"
#include "platform/fox/line_break.h"
#include "textlayout/layout.h"
#include "widgets/icon_group.h"
#include "widgets/icon_list.h"

using namespace FX;

FXIMPLEMENT(FXKIconItem, FXKBrowserViewItem, nullptr, 0)

namespace {
constexpr FXint kKeyName = 0;
bool isBlank(char16_t c) { return c == u' ' || c == u'\n' || c == u'\r' || c == u'\t'; }
// Styles that put the label under the icon, centred.
bool stacked(int style) { return style == FXKIconList::STYLE_ICONS || style == FXKIconList::STYLE_THUMBNAILS; }
FXint dotsWidth(FXFont* font) { return font->getTextWidth("...", 3); }
FXRectangle intersect(const FXRectangle& a, const FXRectangle& b) {
  const FXint x = std::max(a.x, b.x), y = std::max(a.y, b.y);
  const FXint r = std::min(a.x + a.w, b.x + b.w), bt = std::min(a.y + a.h, b.y + b.h);
  return FXRectangle(x, y, std::max(0, r - x), std::max(0, bt - y));
}
}  // namespace

// ---- plain text

void FXKIconItemTextSimple::setText(const FXWString& text) {
  text_ = text;
  utf8_.clear();
  offsets_.clear();
  const char16_t* s = text_.text();
  const int n = text_.length();
  bool ascii = true;
  for (int i = 0; i < n && ascii; ++i) ascii = s[i] < 0x80;
  lines_.clear();
  lineFlags_ = 0;
  width_ = -1;
  if (ascii) {
    utf8_.assign(s, s + n);
    return;
  }
  offsets_.assign(1, 0);
  offsets_.reserve(n + 1);
  for (int i = 0; i < n; ++i) {
    char32_t c = s[i];
    int units = 1;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      units = 2;
    }
    if (c < 0x80) {
      utf8_ += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8_ += static_cast<char>(0xC0 | (c >> 6));
      utf8_ += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8_ += static_cast<char>(0xE0 | (c >> 12));
      utf8_ += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8_ += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8_ += static_cast<char>(0xF0 | (c >> 18));
      utf8_ += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      utf8_ += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8_ += static_cast<char>(0x80 | (c & 0x3F));
    }
    // The low half of a pair maps where its character starts: cuts never
    // split a pair's bytes.
    if (units == 2) offsets_.push_back(offsets_.back()), ++i;
    offsets_.push_back(static_cast<FXint>(utf8_.size()));
  }
  lines_.clear();
  lineFlags_ = 0;
  width_ = -1;
}

FXint FXKIconItemTextSimple::measure(FXFont* font, FXint from, FXint to) const {
  if (to <= from) return 0;
  return font->getTextWidth(utf8_.data() + at(from), static_cast<FXuint>(at(to) - at(from)));
}

FXint FXKIconItemTextSimple::textWidth(FXFont* font, const FXWString& text) {
  const char16_t* s = text.text();
  const int n = text.length();
  char narrow[128];
  if (n <= static_cast<int>(sizeof narrow)) {
    int i = 0;
    while (i < n && s[i] < 0x80) narrow[i] = static_cast<char>(s[i]), ++i;
    if (i == n) return n ? font->getTextWidth(narrow, static_cast<FXuint>(n)) : 0;
  }
  FXKIconItemTextSimple part;
  part.setText(text);
  return part.getWidth(font);
}

FXint FXKIconItemTextSimple::getWidth(FXFont* font) {
  if (width_ < 0) width_ = measure(font, 0, text_.length());
  return width_;
}

FXint FXKIconItemTextSimple::getHeight(FXFont* font) {
  if (text_.empty()) return 0;
  return std::max<FXint>(1, static_cast<FXint>(lines_.size())) * font->getFontHeight();
}

FXint FXKIconItemTextSimple::fitPrefix(FXFont* font, FXint start, FXint count, FXint& width, FXint maxWidth,
                                       bool ellipsis) const {
  if (maxWidth >= width) return count;
  if (ellipsis) maxWidth -= dotsWidth(font);
  FXint low = 0, high = count, lowWidth = 0;
  while (low < high) {
    const FXint mid = (low + high + 1) / 2;
    const FXint w = measure(font, start, start + mid);
    if (w < maxWidth) {
      low = mid;
      lowWidth = w;
    } else {
      high = mid - 1;
    }
  }
  width = lowWidth;
  return low;
}

FXint FXKIconItemTextSimple::findLineEnd(FXFont* font, FXint start, FXint count, FXint maxWidth) const {
  FXLineBreakIterator* it = getLineBreakIterator(font->getApp());
  if (!it) return count;
  const char16_t* s = text_.text() + start;
  it->setText(s, count);
  const bool limited = maxWidth > 1;
  const FXint blank = font->getTextWidth(" ", 1);
  FXint pos = 0, sum = 0;
  for (;;) {
    const FXint b = it->following(pos);
    if (b < 0 || b > count) break;
    FXint trimmed = b;
    while (trimmed > pos && isBlank(s[trimmed - 1])) --trimmed;
    if (s[b - 1] == u'\n') {
      if (pos > 0 && limited && sum + measure(font, start + pos, start + trimmed) > maxWidth) return pos;
      return b;
    }
    FXint w = measure(font, start + pos, start + b);
    const FXint counted = s[b - 1] == u' ' ? w - blank : w;
    if (pos > 0 && limited && sum + counted > maxWidth) return pos;
    sum += w;
    pos = b;
    if (pos >= count) break;
  }
  return count;
}

FXint FXKIconItemTextSimple::breakLines(FXFont* font, FXint maxWidth, FXint maxLines, bool singleLine) {
  lines_.clear();
  lineFlags_ = FLAG_MEASURED;
  const FXint n = text_.length();
  if (!n) return 0;
  const char16_t* s = text_.text();
  // A text that fits and has no line feed is one line: no break search.
  if (!singleLine && maxLines > 1 && getWidth(font) <= maxWidth && std::char_traits<char16_t>::find(s, n, u'\n') == nullptr) {
    FXint cut = n;
    while (cut > 0 && isBlank(s[cut - 1])) --cut;
    if (cut > 0) {
      const FXint w = cut == n ? getWidth(font) : measure(font, 0, cut);
      lines_.push_back({0, cut, w});
      return w;
    }
  }
  FXint result = 0, start = 0, lineNo = 0;
  while (start < n) {
    const FXint end = maxLines > 1 ? start + findLineEnd(font, start, n - start, maxWidth) : n;
    FXint cut = end;
    while (cut > start && isBlank(s[cut - 1])) --cut;
    ++lineNo;
    const FXint w = start == 0 && cut == n ? getWidth(font) : measure(font, start, cut);
    FXint next;
    if (singleLine || lineNo == maxLines) {
      if (w > maxWidth || (cut < n && cut != 0)) {
        FXint fitted = INT_MAX;
        const FXint k = fitPrefix(font, start, n - start, fitted, maxWidth, true);
        lines_.push_back({start, start + k, fitted});
        lineFlags_ |= FLAG_ELLIPSIS;
        result = std::max(result, k ? fitted + dotsWidth(font) : maxWidth);
        if (singleLine || k == 0) break;
        next = start + k;
      } else {
        lines_.push_back({start, cut, w});
        result = std::max(result, w);
        next = end;
      }
    } else if (w > maxWidth) {
      FXint fitted = w;
      FXint k = fitPrefix(font, start, cut - start, fitted, maxWidth, false);
      if (k == 0) k = 1, fitted = measure(font, start, start + 1);  // always move on
      lines_.push_back({start, start + k, fitted});
      result = std::max(result, fitted);
      next = start + k;
    } else {
      lines_.push_back({start, cut, w});
      result = std::max(result, w);
      next = std::max(end, start + 1);
    }
    // Trailing blanks and line feeds make no line of their own.
    FXint rest = next;
    while (rest < n && isBlank(s[rest])) ++rest;
    if (rest >= n) break;
    start = next;
  }
  return result;
}

void FXKIconItemTextSimple::draw(FXDC& dc, FXFont* font, const FXRectangle& rect, bool showAll, bool transparent,
                                 bool underline, int style) {
  if (!transparent) {
    const FXColor fg = dc.getForeground();
    dc.setForeground(dc.getBackground());
    dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
    dc.setForeground(fg);
  }
  dc.setFont(font);
  const FXint fh = font->getFontHeight();
  FXint y = rect.y + font->getFontAscent();
  const std::size_t count = showAll ? lines_.size() : std::min<std::size_t>(2, lines_.size());
  const FXint dots = dotsWidth(font);
  for (std::size_t i = 0; i < count; ++i, y += fh) {
    const Line& l = lines_[i];
    const bool ellipsis = (lineFlags_ & FLAG_ELLIPSIS) && !showAll &&
                          (style <= FXKIconList::STYLE_DETAILS || i == 1 || i + 1 == lines_.size());
    FXint x = rect.x;
    if (!ellipsis && stacked(style)) x += (rect.w - l.width) / 2;
    const FXint bytes = at(l.end) - at(l.start);
    if (bytes > 0) dc.drawText(x, y, utf8_.data() + at(l.start), static_cast<FXuint>(bytes));
    FXint lineEnd = x + l.width;
    if (ellipsis) {
      dc.drawText(rect.x + l.width, y, "...", 3);
      lineEnd += dots;
    }
    if (underline) dc.drawLine(x, y + 1, lineEnd, y + 1);
  }
}

void FXKIconItemProgress::draw(FXDC& dc, FXFont*, const FXRectangle& rect, bool, bool, bool, int) {
  const FXColor fg = dc.getForeground();
  dc.setForeground(FXRGBA(0, 0, 0, 255));
  dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
  dc.setForeground(fg);
}

// ---- rating

void FXKIconItemRating::setText(const FXWString& text) {
  text_ = text;
  if (text.empty())
    value_ = 0;
  else if (text.text()[0] >= u'0' && text.text()[0] <= u'5')
    value_ = text.text()[0] - u'0';
}

FXint FXKIconItemRating::starAt(FXint x) {
  const FXint star = (x - 3) / 17 + 1;
  return star == 1 && x < 9 ? 0 : std::clamp(star, 0, 5);
}

void FXKIconItemRating::draw(FXDC& dc, FXFont*, const FXRectangle& rect, bool, bool, bool, int) {
  const FXColor fg = dc.getForeground();
  dc.setForeground(dc.getBackground());
  dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
  dc.setForeground(fg);
  FXIcon* stars = list_ ? list_->starIcon() : nullptr;
  if (!stars || !stars->id()) return;
  const bool hovering = (flags & FLAG_HOVER) != 0;
  const FXint shown = hovering ? hover_ : value_;
  for (FXint i = 1; i <= 5; ++i) {
    const FXint x = rect.x + 3 + 17 * (i - 1);
    if (i > shown)
      dc.drawIconSunken(stars, x, rect.y);
    else if (hovering)
      dc.drawIconShaded(stars, x, rect.y);
    else
      dc.drawIcon(stars, x, rect.y);
  }
}

void FXKIconItemRating::onLeave(FXint x, FXint y) {
  FXKIconItemText::onLeave(x, y);
  hover_ = 0;
  if (item_) item_->invalidateCell(key_);
}

void FXKIconItemRating::onMotion(FXint x, FXint y) {
  FXKIconItemText::onMotion(x, y);
  const FXint star = starAt(x);
  if (star != hover_) {
    hover_ = star;
    if (item_) item_->invalidateCell(key_);
  }
}

void FXKIconItemRating::onPress(FXint x, FXint) {
  FXint star = starAt(x);
  if (list_ && list_->handle(list_, FXSEL(SEL_COMMAND, FXKIconList::ID_RATING), &star) && item_) {
    item_->setColumnText(key_, FXWString(static_cast<char16_t>(u'0' + std::clamp(star, 0, 5)), 1));
    value_ = star;
  }
  if (item_) item_->invalidateCell(key_);
}

// ---- markup

FXKIconItemFormatted::FXKIconItemFormatted(FXKIconList* list, FXKIconItem* item)
    : layout_(std::make_unique<FXKTextLayout>(static_cast<FXWindow*>(list), false)), item_(item) {}

FXKIconItemFormatted::~FXKIconItemFormatted() = default;

FXKTextLayout& FXKIconItemFormatted::checked() const {
  if (!layout_) Processor::throwNullReference();
  return *layout_;
}

void FXKIconItemFormatted::setText(const FXWString& text) {
  text_ = text;
  checked().setText(text);
}

FXint FXKIconItemFormatted::getHeightForWidth(FXFont*, FXint width) { return checked().getHeightForWidth(width); }
FXint FXKIconItemFormatted::getHeight(FXFont*) { return checked().getContentHeight(); }
FXint FXKIconItemFormatted::getWidth(FXFont*) { return checked().getMaximumWidth(); }
FXint FXKIconItemFormatted::breakLines(FXFont*, FXint maxWidth, FXint, bool) {
  checked().layout(std::max(1, maxWidth), 0, false);
  return checked().getContentWidth();
}
bool FXKIconItemFormatted::isEmpty() const { return text_.empty(); }
FXint FXKIconItemFormatted::getLineCount() const { return checked().lineCount(); }
void FXKIconItemFormatted::create() { checked().create(); }

void FXKIconItemFormatted::draw(FXDC& dc, FXFont*, const FXRectangle& rect, bool, bool transparent, bool, int) {
  FXKTextLayout& l = checked();
  if (!l.isCreated()) l.create();
  l.setBackColor(FXStockColor(dc.getBackground() | 0xFF000000u));
  l.setTextColor(FXStockColor(dc.getForeground() | 0xFF000000u));
  l.setPaintOffset(rect.x, rect.y);
  const bool underline = item_ && !item_->hasHoverFrame();
  l.paint(dc, FXRectangle(0, 0, rect.w, rect.h), transparent, underline ? 0x40 : 0);
}

void FXKIconItemFormattedLink::setText(const FXWString& text) {
  plain_ = text;
  FXKIconItemFormatted::setText(FXWString(u"<a>") + text + FXWString(u"</a>"));
}

// ---- item

FXKIconItem::FXKIconItem(FXKBrowserViewGroup* group, FXKBrowserItem* it) : FXKBrowserViewItem(group, it) {
  flags |= FLAG_ICON_ITEM;
  cells_.reserve(2);  // a name and one more column, as most lists have
}

FXKIconItem::~FXKIconItem() {
  if (FXKIconList* l = list()) l->forgetHotItem(this);
  cells_.clear();
}

FXKIconList* FXKIconItem::list() const { return static_cast<FXKIconList*>(view); }

FXuint FXKIconItem::columnFlags(FXint key) const {
  FXKIconList* l = list();
  if (!l || !l->getHeader()) return 0;
  const FXint index = l->getHeader()->findColumn(key);
  FXuint f = 0;
  if (index >= 0) {
    FXKColumnRecord* record = l->getHeader()->getColumn(index);
    f = record->flags;
    // A stretchable column is measured again from its cells.
    if (f & FXKColumnRecord::COLUMN_STRETCH) record->minWidth = -1;
  }
  if (l->hasFormattedItems()) f |= FXKColumnRecord::COLUMN_MARKUP;
  return index >= 0 || l->hasFormattedItems() ? f : 0;
}

FXKIconItemText* FXKIconItem::makePart(FXint key, FXuint f) {
  if (f & FXKColumnRecord::COLUMN_PROGRESS) return new FXKIconItemProgress;
  if (f & FXKColumnRecord::COLUMN_RATING) {
    mouse_ = true;
    return new FXKIconItemRating(list(), this, key);
  }
  if (f & FXKColumnRecord::COLUMN_MARKUP) return new FXKIconItemFormatted(list(), this);
  if (f & FXKColumnRecord::COLUMN_LINK) return new FXKIconItemFormattedLink(list(), this);
  return new FXKIconItemTextSimple;
}

FXKIconItemCell* FXKIconItem::ensureCell(FXint key) {
  auto pos = std::lower_bound(cells_.begin(), cells_.end(), key, [](const auto& e, FXint k) { return e.first < k; });
  if (pos == cells_.end() || pos->first != key) pos = cells_.emplace(pos, key, FXKIconItemCell());
  FXKIconItemCell& slot = pos->second;
  const FXuint f = columnFlags(key);
  const bool wantFormatted = (f & FXKColumnRecord::COLUMN_MARKUP) != 0;
  const bool wantPlain = !(f & (FXKColumnRecord::COLUMN_MARKUP | FXKColumnRecord::COLUMN_LINK |
                                FXKColumnRecord::COLUMN_PROGRESS | FXKColumnRecord::COLUMN_RATING));
  // A part is replaced only when the column turns to or from markup.
  const bool replace = slot.plainKind ? wantFormatted : !slot.part || slot.part->isFormatted() != wantFormatted;
  if (replace && wantPlain) {
    if (slot.part) {
      const FXWString text = slot.part->getText();
      slot.plain.assign(text.text(), static_cast<std::size_t>(text.length()));
    }
    slot.part.reset();
    slot.plainKind = true;
    slot.plainWidth = -1;
    heightFor_ = -1;
  } else if (replace) {
    const FXWString text = slot.plainKind ? FXWString(slot.plain.text(), slot.plain.length())
                           : slot.part      ? slot.part->getText()
                                            : FXWString();
    slot.plainKind = false;
    slot.plain.clear();
    slot.part.reset(makePart(key, f));
    if (!text.empty()) slot.part->setText(text);
    heightFor_ = -1;
    if (flags & FLAG_CREATED) slot.part->create();
  }
  requestLayout();
  return &slot;
}

FXint FXKIconItem::plainWidth(FXKIconItemCell* c, FXFont* font) {
  if (c->plainWidth < 0 || c->plainFont != font) {
    FXKIconList* l = list();
    c->plainWidth = !font ? 0
                    : l   ? l->plainTextWidth(font, c->plain.text(), c->plain.length())
                          : FXKIconItemTextSimple::textWidth(font, FXWString(c->plain.text(), c->plain.length()));
    c->plainFont = font;
  }
  return c->plainWidth;
}

FXKIconItemText* FXKIconItem::partOf(FXKIconItemCell* c) {
  if (!c) return nullptr;
  if (!c->part && c->plainKind) {
    auto* simple = new FXKIconItemTextSimple;
    simple->setText(FXWString(c->plain.text(), c->plain.length()));
    // The cell knows the text's width in the list's font already.
    if (FXKIconList* l = list(); l && c->plainWidth >= 0 && c->plainFont == l->getFont())
      simple->setMeasuredWidth(c->plainWidth);
    c->part.reset(simple);
    if (flags & FLAG_CREATED) simple->create();
  }
  return c->part.get();
}

void FXKIconItem::invalidateCell(FXint key) {
  FXKIconItemCell* c = cell(key);
  if (!c) return;
  invalidate(c->text);
  invalidate(c->icon);
}

FXWString FXKIconItem::getColumnText(FXint key) const {
  FXKIconItemCell* c = cell(key);
  if (c && c->plainKind) return FXWString(c->plain.text(), c->plain.length());
  return c && c->part ? c->part->getText() : FXWString();
}

FXIcon* FXKIconItem::getColumnIcon(FXint key) const {
  FXKIconItemCell* c = cell(key);
  return c ? c->iconAt(0) : nullptr;
}

void FXKIconItem::setColumnText(FXint key, const FXWString& text) {
  FXKIconItemCell* c = cell(key);
  const bool differs = !c || (c->plainKind ? !c->plain.equals(text.text(), static_cast<std::size_t>(text.length()))
                                           : !c->part || c->part->getText() != text);
  FXKIconList* l = list();
  if (!differs && !(l && l->getBrowser() && l->getBrowser()->isVisible(item.get()))) return;
  c = ensureCell(key);
  if (c->plainKind) {
    c->plain.assign(text.text(), static_cast<std::size_t>(text.length()));
    c->plainWidth = -1;
    // Measured now, while the text is at hand: the columns are fitted to
    // every row's widths, and a later pass would fetch each text again.
    if (FXFont* font = l ? l->getFont() : nullptr; font && font->id()) {
      c->plainWidth = l->plainTextWidth(font, text.text(), text.length());
      c->plainFont = font;
    }
    if (c->part) c->part->setText(text);
  } else {
    c->part->setText(text);
  }
  heightFor_ = -1;
  requestLayout();
  if (width > 1 && height > 1) layout();
  invalidate();
}

void FXKIconItem::setColumnIcon(FXint key, FXint variant, FXIcon* icon, FXint sizeIndex) {
  if (sizeIndex < 0 || sizeIndex > 2 || variant < 0) return;
  if (icon) {
    FXKIconItemCell* c = ensureCell(key);
    if (static_cast<FXint>(c->icons.size()) <= variant) c->icons.resize(variant + 1, {nullptr, nullptr, nullptr});
    c->icons[variant][sizeIndex] = icon;
    heightFor_ = -1;
    if ((flags & FLAG_CREATED) && !icon->id()) icon->create();
  } else if (FXKIconItemCell* c = cell(key)) {
    if (variant < static_cast<FXint>(c->icons.size())) c->icons[variant][sizeIndex] = nullptr;
  }
  invalidate();
  requestLayout();
}

void FXKIconItem::createResources() {
  if (flags & FLAG_CREATED) return;
  for (auto& [key, c] : cells_) {
    for (auto& triple : c.icons)
      for (FXIcon* icon : triple)
        if (icon && !icon->id()) icon->create();
    if (c.part) c.part->create();
  }
  flags |= FLAG_CREATED;
}

FXint FXKIconItem::getCellWidth(FXint key) {
  FXKIconList* l = list();
  if (key == FXKIconList::kCheckColumn && l && l->getCheckImage()) return l->getCheckImage()->getWidth() + 4;
  FXKIconItemCell* c = cell(key);
  if (!c || (!c->plainKind && !c->part) || !l) return 9;
  FXint w = 9;
  if (c->plainKind) {
    w += plainWidth(c, l->getFont());
  } else {
    w += c->part->getWidth(l->getFont());
  }
  if (FXIcon* icon = c->iconAt(l->iconSizeIndex())) w += icon->getHeight() + 2;
  return w;
}

FXint FXKIconItem::getDefaultWidth() { return getCellWidth(kKeyName); }

FXint FXKIconItem::getDefaultHeight(FXint w) {
  FXKIconList* l = list();
  FXKIconItemCell* c = cell(kKeyName);
  if (!c || (!c->plainKind && !c->part) || !l) return 0;
  FXFont* font = l->getFont();
  const int style = l->getViewStyle();
  const FXImage* frame = l->getSelectionImage();
  if (w == heightFor_ && style == heightStyle_ && font == heightFont_ && frame == heightFrame_ &&
      style != FXKIconList::STYLE_CATEGORY)
    return height_;
  heightFor_ = w, heightStyle_ = style, heightFont_ = font, heightFrame_ = frame;
  height_ = measureHeight(w, c, font, style);
  return height_;
}

FXint FXKIconItem::measureHeight(FXint w, FXKIconItemCell* c, FXFont* font, int style) {
  FXKIconList* l = list();
  // A plain text without a part yet is one line, or none when empty, unless
  // the icons style has to break it: then only a text that fits its width
  // and holds no line feed is known to be one line without the part.
  bool oneLine = !c->part && c->plainKind;
  if (oneLine && stacked(style) && !c->plain.empty()) {
    const char16_t* s = c->plain.text();
    const FXint n = c->plain.length();
    bool text = false;
    for (FXint i = 0; i < n && oneLine; ++i) {
      if (s[i] == u'\n') oneLine = false;
      if (!isBlank(s[i])) text = true;
    }
    if (oneLine && (!text || plainWidth(c, font) > w - 4)) oneLine = false;
  }
  if (!oneLine && stacked(style)) partOf(c)->breakLines(font, w - 4, 2, false);
  FXint iconPart = 0;
  if (FXIcon* icon = c->iconAt(l->iconSizeIndex())) iconPart = icon->getHeight() + (noHighlight_ ? 10 : 4);
  FXint iw = c->icon.w, ix = c->icon.x, sb = 0;
  if (style == FXKIconList::STYLE_CATEGORY) {
    if (!iw) iw = 48;
    if (!ix) ix = 4;
    sb = l->verticalScrollBar()->getDefaultWidth();
  }
  const FXint text = oneLine ? (c->plain.empty() ? 0 : font->getFontHeight())
                              : partOf(c)->getHeightForWidth(font, w - sb - ix - iw - 8);
  if (stacked(style)) return text + iconPart + 6;
  FXint h = std::max(text + 4, iconPart);
  if (l->hasSelectionImage() && hoverFrame_ && !noHighlight_) h = std::max(h, l->getSelectionImage()->getHeight() + 6);
  return h;
}

bool FXKIconItem::usesMultiLineText(FXKIconList* l) const { return l && l->getViewStyle() >= FXKIconList::STYLE_ICONS; }

bool FXKIconItem::isCurrentAndSelected() {
  FXKIconList* l = list();
  return l && l->isItemFocused(item.get()) && l->isItemSelected(item.get());
}

void FXKIconItem::layout() {
  FXKIconList* l = list();
  flags &= ~FLAG_LAYOUT;
  if (!l) return;
  if (l->getViewStyle() == FXKIconList::STYLE_DETAILS) {
    auto* g = dynamic_cast<FXKIconGroup*>(parent);
    for (auto& [key, c] : cells_) {
      const FXint cx = g ? g->getColumnX(key) : l->getColumnOffset(key);
      const FXint cw = g ? g->getColumnWidth(key) : l->getColumnWidth(key);
      layoutCell(key, FXRectangle(cx - x, 0, cw, height));
    }
  } else {
    layoutCell(kKeyName, FXRectangle(0, 0, width, height));
  }
}

void FXKIconItem::layoutCell(FXint key, const FXRectangle& r) {
  flags &= ~FLAG_LAYOUT;
  FXKIconList* l = list();
  FXKIconItemCell* c = cell(key);
  if (!l || !c) return;
  partOf(c);
  FXFont* font = l->getFont();
  const FXint fh = font->getFontHeight();
  const int style = l->getViewStyle();
  FXIcon* icon = c->iconAt(l->iconSizeIndex());
  const FXint iw = icon ? icon->getWidth() : 0, ih = icon ? icon->getHeight() : 0;
  l->raiseHeaderOffset(getIndent());
  switch (style) {
    case FXKIconList::STYLE_LIST:
    case FXKIconList::STYLE_DETAILS: {
      FXint textX = r.x + 2;
      if (key == FXKIconList::kCheckColumn && l->getCheckImage()) {
        const FXint cw = l->getCheckImage()->getWidth(), ch = l->getCheckImage()->getHeight() / 12;
        c->icon = FXRectangle(r.x + 2, (r.h - ch) / 2, cw, ch);
        textX = r.x + 4 + cw;
      } else if (icon) {
        c->icon = FXRectangle(r.x + 2, (r.h - ih) / 2, iw, ih);
        textX = r.x + 4 + iw;
      } else {
        c->icon = FXRectangle(r.x + 2, 0, 0, 0);
      }
      const FXint textY = (r.h - fh) / 2;
      FXint avail = std::max(0, r.x + r.w - textX - 2);
      if (c->part) {
        const FXint f = l->getHeader() ? l->getHeader()->findColumn(key) : -1;
        const FXuint cf = f >= 0 ? l->getHeader()->getColumn(f)->flags : 0;
        if (cf & (FXKColumnRecord::COLUMN_CENTER | FXKColumnRecord::COLUMN_RIGHT)) {
          const FXint natural = c->part->getWidth(font);
          const FXint shift = (cf & FXKColumnRecord::COLUMN_CENTER) ? (avail - natural) / 2 : avail - natural;
          if (shift > 0) textX += shift, avail -= shift;
        }
        const FXint widest = c->part->breakLines(font, avail, 1, true);
        c->text = FXRectangle(textX, textY, std::min(widest, std::max(avail, widest)), fh);
      }
      break;
    }
    case FXKIconList::STYLE_ICONS:
    case FXKIconList::STYLE_THUMBNAILS: {
      c->icon = FXRectangle(r.x + std::max(0, (r.w - iw) / 2), 2, iw, ih);
      if (!c->part) break;
      const FXint widest = c->part->breakLines(font, r.w - 4, 2, false);
      const FXint th = c->part->getLineCount() < 2 || isCurrentAndSelected() ? c->part->getHeight(font) : 2 * fh;
      c->text = FXRectangle(2 + (r.w - 4 - widest) / 2, c->icon.y + ih + 2, widest, th);
      break;
    }
    case FXKIconList::STYLE_TILES:
    case FXKIconList::STYLE_CATEGORY: {
      c->icon = FXRectangle(r.x + 2, r.y + 2, iw, ih);
      if (ih < r.h) c->icon.y = (r.h - ih) / 2;
      if (l->hasSelectionImage() && hoverFrame_) c->icon.x += 6;
      if (!c->part) break;
      const FXint tx = c->icon.x + iw + 4, tw = r.w - iw - c->icon.x - 6;
      const FXint widest = c->part->breakLines(font, tw, 2, false);
      FXint th = c->part->getHeight(font);
      if (style == FXKIconList::STYLE_TILES && c->part->getLineCount() >= 2 && !isCurrentAndSelected()) th = 2 * fh;
      c->text = FXRectangle(tx, th < r.h ? (r.h - th) / 2 : 2, widest, th);
      break;
    }
    default: break;
  }
}

FXRectangle FXKIconItem::getCellTextRect(FXint key) {
  FXKIconList* l = list();
  FXKIconItemCell* c = cell(key);
  if (!l || !c) return FXRectangle(0, 0, 0, 0);
  layoutIfNeeded();
  c = cell(key);
  partOf(c);
  const FXint fh = l->getFont()->getFontHeight();
  switch (l->getViewStyle()) {
    case FXKIconList::STYLE_LIST:
    case FXKIconList::STYLE_DETAILS:
      return FXRectangle(c->icon.x + c->icon.w + 2, (height - fh) / 2, width - c->icon.x - c->icon.w - 4, fh);
    case FXKIconList::STYLE_ICONS:
    case FXKIconList::STYLE_THUMBNAILS:
      return FXRectangle(2, c->icon.y + c->icon.h + 2, width - 4, c->part ? c->part->getHeight(l->getFont()) : fh);
    case FXKIconList::STYLE_TILES:
    case FXKIconList::STYLE_CATEGORY:
      return FXRectangle(c->icon.x + c->icon.w + 4, 2, width - c->icon.x - c->icon.w - 6, height - 2);
    default: return FXRectangle(0, 0, 0, 0);
  }
}

void FXKIconItem::drawCell(FXKPaintDC& dc, FXint key, const FXRectangle& clip, int mode) {
  FXKIconList* l = list();
  FXKIconItemCell* c = cell(key);
  if (!l || !c) return;
  const int style = l->getViewStyle();
  const bool selected = l->isItemSelected(item.get()) && !noHighlight_;
  const bool enabled = l->isItemEnabled(item.get());
  const bool current = l->isItemFocused(item.get());
  const bool focus = l->hasFocus() || (l->getEditor() && l->getEditor()->hasFocus());
  FXColor text = l->getColor(1, this, true), back = l->getColor(0, this, false);
  if (selected) {
    text = l->getColor(focus ? 5 : 6, this, true);
    back = l->getColor(focus ? 3 : 4, this, false);
  }
  if (!enabled) text = l->getColor(9, this, true);
  FXDC& d = *dc.dc;
  if (mode == 0) {
    d.setForeground(style == FXKIconList::STYLE_DETAILS ? back : l->getColor(0, this, false));
    dc.fillRectangle(clip.x, clip.y, clip.w, clip.h);
  }
  // Icons and images are clipped by the dc's clip rectangle, not by the
  // region the container set: left as it is, that rectangle is the last one
  // an earlier entry set for its text, and this entry's icon falls outside.
  // Set only when something is drawn under it (each is a request to the
  // display, and most cells are only text, which sets its own).
  bool clipped = false;
  const auto clipToCell = [&] {
    if (!clipped) d.setClipRectangle(dc.ox + clip.x, dc.oy + clip.y, clip.w, clip.h);
    clipped = true;
  };
  if (key == FXKIconList::kCheckColumn) {
    FXImage* image = l->getCheckImage();
    if (image && image->id()) {
      clipToCell();
      const int state = l->getItemCheckState(item.get());
      const FXint frame = 4 * (state == 0 ? 0 : state == 1 ? 1 : 2) +
                          (!enabled || !l->isItemCheckable(item.get()) ? 3 : current ? 1 : 0);
      const FXint fh = image->getHeight() / 12;
      d.drawArea(image, 0, frame * fh, image->getWidth(), fh, dc.ox + c->icon.x, dc.oy + c->icon.y);
    }
  } else {
    const int size = l->iconSizeIndex();
    for (auto& triple : c->icons) {
      FXIcon* icon = triple[size];
      if (!icon || !icon->id()) continue;
      clipToCell();
      if (!enabled)
        d.drawIconSunken(icon, dc.ox + c->icon.x, dc.oy + c->icon.y);
      else if ((selected && focus) || l->hotItem() == this)
        d.drawIconShaded(icon, dc.ox + c->icon.x, dc.oy + c->icon.y);
      else
        d.drawIcon(icon, dc.ox + c->icon.x, dc.oy + c->icon.y);
    }
  }
  const bool editing = l->isEditing() && l->editedItem() && l->editedItem()->isEqual(item.get()) &&
                       l->editedKey() == key;
  if (editing || !c->hasText()) return;
  partOf(c);
  const FXRectangle grown(c->text.x - 2, c->text.y - 2, c->text.w + 4, c->text.h + 4);
  const FXRectangle shown = intersect(grown, clip);
  if (shown.w <= 0 || shown.h <= 0) return;
  d.setClipRectangle(dc.ox + shown.x, dc.oy + shown.y, shown.w, shown.h);
  const bool multi = usesMultiLineText(l);
  const bool transparent = mode == 2 || (mode == 1 && !selected);
  if (!transparent) {
    d.setForeground(back);
    dc.fillRectangle(grown.x, grown.y, grown.w, grown.h);
  }
  d.setForeground(text);
  d.setBackground(back);
  c->part->draw(d, l->getFont(), FXRectangle(dc.ox + c->text.x, dc.oy + c->text.y, c->text.w, c->text.h),
                multi && current && selected, transparent, style == FXKIconList::STYLE_CATEGORY && l->hotItem() == this,
                style);
  if (current && style != FXKIconList::STYLE_DETAILS && style != FXKIconList::STYLE_CATEGORY) {
    d.setForeground(text);
    d.drawFocusRectangle(dc.ox + grown.x, dc.oy + grown.y, grown.w, grown.h);
  }
}

void FXKIconItem::paintRow(FXKPaintDC& dc, const FXRectangle& rect) {
  FXKIconList* l = list();
  const bool selected = l->isItemSelected(item.get()) && !noHighlight_;
  const bool focus = l->hasFocus();
  FXDC& d = *dc.dc;
  const bool ownBackground = l->hasBackground();
  if (!ownBackground || selected) {
    d.setForeground(selected ? l->getColor(focus ? 3 : 4, this, false) : l->getColor(0, this, false));
    dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
  } else {
    paintWindowBackground(dc, rect);
  }
  auto* g = dynamic_cast<FXKIconGroup*>(parent);
  const auto columnRect = [&](FXint key) {
    const FXint cx = (g ? g->getColumnX(key) : l->getColumnOffset(key)) - x;
    const FXint cw = g ? g->getColumnWidth(key) : l->getColumnWidth(key);
    return intersect(FXRectangle(cx, 0, cw, height), rect);
  };
  if (cell(FXKIconList::kCheckColumn) && l->getColumnWidth(FXKIconList::kCheckColumn) > 0) {
    const FXRectangle r = columnRect(FXKIconList::kCheckColumn);
    if (r.w > 0) drawCell(dc, FXKIconList::kCheckColumn, r, 1);
  }
  for (auto& [key, c] : cells_) {
    if (key == FXKIconList::kCheckColumn) continue;
    const FXRectangle r = columnRect(key);
    if (r.w <= 0 || r.h <= 0) continue;
    drawCell(dc, key, r, 1);  // which clips to r first
  }
  d.setClipRectangle(dc.ox + rect.x, dc.oy + rect.y, rect.w, rect.h);
  if (l->isItemFocused(item.get())) {
    const FXint indent = getIndent();
    d.setForeground(l->getColor(1, this, true));
    d.setBackground(l->getColor(0, this, false));
    d.setDashes(0, "\1\1", 2);
    d.setLineStyle(LINE_ONOFF_DASH);
    dc.drawRectangle(indent, 0, width - indent - 1, height - 1);
    d.setLineStyle(LINE_SOLID);
  }
}

void FXKIconItem::paint(FXKPaintDC& dc, const FXRectangle& rect, FXRegion&) {
  FXKIconList* l = list();
  if (!l) return;
  layoutIfNeeded();
  if (l->getViewStyle() == FXKIconList::STYLE_DETAILS) {
    paintRow(dc, rect);
    return;
  }
  const bool current = l->isItemFocused(item.get());
  const bool frame = l->getViewStyle() == FXKIconList::STYLE_CATEGORY && hoverFrame_ && !noHighlight_ &&
                     l->getSelectionImage() && l->getSelectionImage()->id() &&
                     (current || (l->hotItem() == this && !l->hasFocus()));
  if (frame) {
    // The selection image stretched over the item, on the list's own
    // background when it paints one.
    if (l->hasBackground()) {
      paintWindowBackground(dc, rect);
    } else {
      dc.dc->setForeground(l->getColor(0, this, false));
      dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
    }
    FXImage* image = l->getSelectionImage();
    fxGetTheme(l->getApp())->DrawBorder(*dc.dc, image, 0, 0, image->getWidth(), image->getHeight(), dc.ox, dc.oy, width,
                                        height, 63);
    drawCell(dc, kKeyName, rect, 2);
    return;
  }
  if (l->hasBackground()) {
    paintWindowBackground(dc, rect);
    drawCell(dc, kKeyName, rect, 2);
    return;
  }
  drawCell(dc, kKeyName, rect, 0);
}

void FXKIconItem::onEnter(FXint px, FXint py) {
  FXKTerminal::onEnter(px, py);
  if (mouse_) onMotion(px, py);
}

void FXKIconItem::onMotion(FXint px, FXint py) {
  FXKTerminal::onMotion(px, py);
  if (!mouse_) return;
  FXKIconList* l = list();
  const FXPoint p = fromWindow(FXPoint(px, py));
  for (auto& entry : cells_) {
    FXKIconItemCell* c = &entry.second;
    if (c->part && c->part->handlesMouse()) {
      const bool inside =
          p.x >= c->text.x && p.y >= c->text.y && p.x < c->text.x + c->text.w && p.y < c->text.y + c->text.h;
      if (inside)
        c->part->onMotion(p.x - c->text.x, p.y - c->text.y);
      else if (c->part->flags & FXKIconItemText::FLAG_HOVER)
        c->part->onLeave(p.x - c->text.x, p.y - c->text.y);
    }
  }
  (void)l;
}

void FXKIconItem::onPress(FXint px, FXint py) {
  FXKTerminal::onPress(px, py);
  if (!mouse_) return;
  const FXPoint p = fromWindow(FXPoint(px, py));
  for (auto& entry : cells_) {
    FXKIconItemCell* c = &entry.second;
    if (c->part && c->part->handlesMouse() && p.x >= c->text.x && p.y >= c->text.y && p.x < c->text.x + c->text.w &&
        p.y < c->text.y + c->text.h) {
      c->part->onPress(p.x - c->text.x, p.y - c->text.y);
      return;  // the part may have replaced the cell's text
    }
  }
}

void FXKIconItem::onLeave(FXint px, FXint py) {
  FXKTerminal::onLeave(px, py);
  if (!mouse_) return;
  for (auto& entry : cells_) {
    FXKIconItemCell* c = &entry.second;
    if (c->part && c->part->handlesMouse()) c->part->onLeave(px, py);
  }
}

void FXKIconItem::onRelease(FXint px, FXint py) {
  FXKTerminal::onRelease(px, py);
  if (!mouse_) return;
  for (auto& entry : cells_) {
    FXKIconItemCell* c = &entry.second;
    if (c->part && c->part->handlesMouse()) c->part->onRelease(px, py);
  }
}
