#include "widgets/icon_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include <fxkeys.h>
#include <unicode/uchar.h>

#include "platform/fox/fx_app.h"
#include "platform/fox/line_break.h"
#include "platform/fox/fx_theme.h"
#include "platform/fox/fx_window_settings.h"
#include "widgets/icon_layout.h"
#include "widgets/list_settings.h"

using namespace FX;

FXIMPLEMENT(FXKIconListEditFiled, FXText, nullptr, 0)

FXDEFMAP(FXKIconList) FXKIconListMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKIconList::onPaint),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_HEADER, FXKIconList::onHeaderCommand),
    FXMAPFUNC(SEL_CHANGED, FXKIconList::ID_HEADER, FXKIconList::onHeaderChanged),
    FXMAPFUNC(SEL_INSERTED, FXKIconList::ID_HEADER, FXKIconList::onHeaderInserted),
    FXMAPFUNC(SEL_DELETED, FXKIconList::ID_HEADER, FXKIconList::onHeaderDeleted),
    FXMAPFUNC(SEL_UPDATE, FXKIconList::ID_HEADER, FXKIconList::onUpdHeader),
    FXMAPFUNC(SEL_KEYPRESS, 0, FXKIconList::onKeyPress),
    FXMAPFUNC(SEL_KEYRELEASE, 0, FXKIconList::onKeyRelease),
    FXMAPFUNCS(SEL_UPDATE, FXKIconList::ID_VIEW_STYLE + 1, FXKIconList::ID_VIEW_STYLE + 6, FXKIconList::onUpdViewStyle),
    FXMAPFUNCS(SEL_COMMAND, FXKIconList::ID_VIEW_STYLE + 1, FXKIconList::ID_VIEW_STYLE + 6,
               FXKIconList::onCmdViewStyle),
    FXMAPFUNCS(SEL_UPDATE, FXKIconList::ID_SORT_BY, FXKIconList::ID_SORT_BY_LAST, FXKIconList::onUpdSortBy),
    FXMAPFUNCS(SEL_COMMAND, FXKIconList::ID_SORT_BY, FXKIconList::ID_SORT_BY_LAST, FXKIconList::onCmdSortBy),
    FXMAPFUNCS(SEL_UPDATE, FXKIconList::ID_GROUP_BY, FXKIconList::ID_GROUP_BY_LAST, FXKIconList::onUpdGroupBy),
    FXMAPFUNCS(SEL_COMMAND, FXKIconList::ID_GROUP_BY, FXKIconList::ID_GROUP_BY_LAST, FXKIconList::onCmdGroupBy),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_HEADER_MENU, FXKIconList::onCmdHeaderMenu),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_CHOOSE_COLUMNS, FXKIconList::onCmdChooseColumns),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_REFRESH, FXKIconList::onCmdRefresh),
    FXMAPFUNC(SEL_SETTINGS_CHANGED, 0, FXKIconList::onSettingsChanged),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKIconList::onLeftBtnPress),
    FXMAPFUNC(SEL_FOCUSIN, 0, FXKIconList::onFocusIn),
    FXMAPFUNC(SEL_FOCUSOUT, 0, FXKIconList::onFocusOut),
    FXMAPFUNC(SEL_MOTION, 0, FXKIconList::onMotion),
    FXMAPFUNC(SEL_LEAVE, 0, FXKIconList::onLeave),
    FXMAPFUNC(SEL_FOCUS_SELF, 0, FXKIconList::onFocusSelf),
    FXMAPFUNC(SEL_SELECTED, FXKBrowser::ID_DOCUMENT, FXKIconList::onItemSelected),
    FXMAPFUNC(SEL_DESELECTED, FXKBrowser::ID_DOCUMENT, FXKIconList::onItemDeselected),
    FXMAPFUNC(SEL_DELETED, FXKBrowser::ID_DOCUMENT, FXKIconList::onItemDeleted),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_TOGGLE_EXPAND, FXKIconList::onCmdToggleExpand),
    FXMAPFUNC(SEL_CLICKED, 0, FXKIconList::onClicked),
    FXMAPFUNC(SEL_COLLAPSED, 0, FXKIconList::onCollapsed),
    FXMAPFUNC(SEL_EXPANDED, 0, FXKIconList::onExpanded),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_CHECK_ALL, FXKIconList::onCmdCheckAll),
    FXMAPFUNC(SEL_UPDATE, FXKIconList::ID_CHECK_ALL, FXKIconList::onUpdAlways),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_UNCHECK_ALL, FXKIconList::onCmdUncheckAll),
    FXMAPFUNC(SEL_UPDATE, FXKIconList::ID_UNCHECK_ALL, FXKIconList::onUpdAlways),
    FXMAPFUNC(SEL_CHANGED, FXKIconList::ID_EDITOR, FXKIconList::onEditorChanged),
    FXMAPFUNC(SEL_MAP, FXKIconList::ID_EDITOR, FXKIconList::onEditorShown),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_COMMIT_EDIT, FXKIconList::onCmdCommitEdit),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_TOGGLE_GROUP_CHECK, FXKIconList::onCmdGroupCheck),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_ITEM_CLICKED, FXKIconList::onCmdItemClicked),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_GROUP_CLICKED, FXKIconList::onCmdGroupClicked),
    FXMAPFUNCS(SEL_COMMAND, FXKBrowserView::ID_ITEM_CHECKED, FXKBrowserView::ID_ITEM_UNCHECKED,
               FXKIconList::onCmdItemChanged),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_GROUP_CHECKED, FXKIconList::onCmdCheckGroup),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_GROUP_UNCHECKED, FXKIconList::onCmdUncheckGroup),
    FXMAPFUNC(SEL_QUERY_HELP, 0, FXKIconList::onQueryHelp),
    FXMAPFUNC(SEL_QUERY_TIP, 0, FXKIconList::onQueryTip),
};
FXIMPLEMENT(FXKIconList, FXKBrowserView, FXKIconListMap, ARRAYNUMBER(FXKIconListMap))

namespace {
// Case-insensitive order of two texts, unit by unit as FXWString::caseCompare
// folds them, without making strings of them.
char16_t foldUnit(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const UChar32 f = u_foldCase(c, U_FOLD_CASE_DEFAULT);
  return f <= 0xFFFF ? static_cast<char16_t>(f) : c;
}
int caseCompareUnits(const char16_t* a, int na, const char16_t* b, int nb) {
  for (int i = 0; i < na && i < nb; ++i) {
    const char16_t x = foldUnit(a[i]), y = foldUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return na == nb ? 0 : (na < nb ? -1 : 1);
}
FXColor stock(FXApp* app, int id, FXColor fallback) {
  if (auto* ext = dynamic_cast<FXExtApp*>(app)) return ext->getStockColor(id);
  return fallback;
}
FXFont* stockFont(FXApp* app, int id) {
  if (auto* ext = dynamic_cast<FXExtApp*>(app))
    if (FXFont* f = ext->getStockFont(id)) return f;
  return app->getNormalFont();
}
FXString narrow(const FXWString& s) { return FXString(s.toUtf8().c_str()); }
// FOX marks the hot key with "&" where the catalogue texts carry U+2382.
FXString menuLabel(const char16_t* text) {
  FXWString w(text);
  std::u16string s(w.text());
  for (char16_t& c : s)
    if (c == kHotkeyMarker) c = u'&';
  return narrow(FXWString(s));
}
FXRectangle intersect(const FXRectangle& a, const FXRectangle& b) {
  const FXint x = std::max(a.x, b.x), y = std::max(a.y, b.y);
  const FXint r = std::min(a.x + a.w, b.x + b.w), bt = std::min(a.y + a.h, b.y + b.h);
  return FXRectangle(x, y, std::max(0, r - x), std::max(0, bt - y));
}
bool empty(const FXRectangle& r) { return r.w <= 0 || r.h <= 0; }

// Check boxes drawn by the program: 12 frames of 13 x 13 (unchecked,
// checked, mixed; each plain, hot, pressed, disabled).
FXImage* makeCheckImage(FXApp* app) {
  constexpr int S = 13;
  auto* image = new FXImage(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, S, S * 12);
  for (int f = 0; f < 12; ++f) {
    const int state = f / 4, variant = f % 4;
    const FXColor frame = variant == 3 ? FXRGB(160, 160, 160) : FXRGB(28, 81, 128);
    const FXColor fill = variant == 3 ? FXRGB(230, 230, 230) : variant == 1 ? FXRGB(255, 240, 207) : FXRGB(255, 255, 255);
    const FXColor mark = variant == 3 ? FXRGB(160, 160, 160) : FXRGB(33, 161, 33);
    for (int y = 0; y < S; ++y)
      for (int x = 0; x < S; ++x) {
        FXColor c = (x == 0 || y == 0 || x == S - 1 || y == S - 1) ? frame : fill;
        if (state == 1 && x >= 3 && x <= 9 && (y == 9 - std::abs(x - 5) || y == 8 - std::abs(x - 5)) && x > 2)
          c = mark;
        if (state == 2 && x >= 3 && x <= 9 && y >= 3 && y <= 9) c = mark;
        image->setPixel(x, f * S + y, c);
      }
  }
  return image;
}
// The expander: three 11 x 11 frames (collapsed "+", expanded "-", hot).
FXImage* makeExpanderImage(FXApp* app) {
  constexpr int S = 11;
  auto* image = new FXImage(app, nullptr, IMAGE_KEEP | IMAGE_OWNED, S, S * 3);
  for (int f = 0; f < 3; ++f)
    for (int y = 0; y < S; ++y)
      for (int x = 0; x < S; ++x) {
        FXColor c = (x == 0 || y == 0 || x == S - 1 || y == S - 1) ? FXRGB(128, 128, 128) : FXRGB(255, 255, 255);
        if (y == S / 2 && x >= 2 && x <= S - 3) c = FXRGB(0, 0, 0);
        if (f != 1 && x == S / 2 && y >= 2 && y <= S - 3) c = FXRGB(0, 0, 0);
        image->setPixel(x, f * S + y, c);
      }
  return image;
}
}  // namespace

FXKIconList::FXKIconList() {
  current_ = default_;
}

FXKIconList::FXKIconList(FXComposite* parent, FXKBrowser* browser, FXuint opts)
    : FXKBrowserView(parent, browser, opts) {
  groupColumn = kNoGroup;
  emptyText_ = FXWString(u"No items to display");
  FXuint headerOptions = FXuint(HEADER_TRACKING) | FRAME_RAISED | FRAME_THICK;
  if (!(opts & ICONLIST_NO_SORT)) headerOptions |= HEADER_BUTTON;
  header_ = new FXKHeader(this, this, ID_HEADER, headerOptions, 0, 0, 0, 0, 2, 2, 2, 2);
  FXApp* app = getApp();
  theme_ = fxGetTheme(app)->kind() == FXTheme::KIND_STYLED;
  // The roles' colours in this build's stock numbering: window background,
  // window text, selection, face, selected text, grey for disabled text.
  default_.font = stockFont(app, 0);
  default_.secondFont = stockFont(app, 1);
  const FXColor window = stock(app, 6, FXRGB(255, 255, 255)), text = stock(app, 7, FXRGB(0, 0, 0));
  const FXColor selection = stock(app, 5, FXRGB(10, 36, 106)), face = stock(app, 0, FXRGB(212, 208, 200));
  const FXColor selText = stock(app, 8, FXRGB(255, 255, 255)), grey = stock(app, 2, FXRGB(128, 128, 128));
  const FXColor defaults[10] = {window, text, text, selection, face, selText, text, selection, selText, grey};
  std::copy(defaults, defaults + 10, default_.colors);
  if (theme_) {
    // The styled theme writes selected text in black (colour 5): its
    // selection is a light wash, not the classic dark bar.
    default_.colors[3] = FXRGB(204, 232, 255);
    default_.colors[4] = FXRGB(217, 217, 217);
  }
  setBackColor(window);
  current_ = default_;
  FXKIconListAppearance category = default_;
  category.font = default_.secondFont;
  const FXColor cat[10] = {0xFFD67563, 0xFFFFFFFF, 0xFFF5DFD6, 0xFFD67563, 0xFFD67563,
                           0xFFFFFFFF, 0xFFFFFFFF, 0xFF606060, 0xFFFFFFFF, 0xFFC8C8C8};
  std::copy(cat, cat + 10, category.colors);
  appearances_[STYLE_CATEGORY] = category;
  editor_ = new FXKIconListEditFiled(this, this, ID_EDITOR, FXuint(TEXT_WORDWRAP) | HSCROLLER_NEVER | VSCROLLER_NEVER);
  editor_->hide();
  groupFont_ = stockFont(app, 0);
  makeImages();
}

FXKIconList::~FXKIconList() {
  delete headerMenu_;
  headerMenu_ = nullptr;
  for (FXMenuPane* p : menuPanes_) delete p;
  menuPanes_.clear();
  for (FXIcon* i : menuIcons_) delete i;
  menuIcons_.clear();
  // Items reach back into the list while they go.
  clearItems();
  delete checkImage_;
  delete expanderImage_;
  delete starIcon_;
  for (FXImage*& p : headerPictures_) delete p, p = nullptr;
  checkImage_ = expanderImage_ = nullptr;
  starIcon_ = nullptr;
  if (preparedOwned_) delete prepared_;
  prepared_ = nullptr;
  editedItem_.reset();
}

void FXKIconList::makeImages() {
  checkImage_ = makeCheckImage(getApp());
  expanderImage_ = makeExpanderImage(getApp());
}

FXIcon* FXKIconList::starIcon() {
  if (!starIcon_) {
    constexpr int S = 13;
    starIcon_ = new FXIcon(getApp(), nullptr, FXRGB(255, 0, 255), IMAGE_KEEP | IMAGE_OWNED, S, S);
    for (int y = 0; y < S; ++y)
      for (int x = 0; x < S; ++x) {
        const int dx = std::abs(x - 6), dy = std::abs(y - 6);
        starIcon_->setPixel(x, y, dx + dy <= 6 || dx <= 1 || dy <= 1 ? FXRGB(255, 200, 0) : FXRGB(255, 0, 255));
      }
    if (id()) starIcon_->create();
  }
  return starIcon_;
}

FXint FXKIconList::plainTextWidth(FXFont* font, const char16_t* s, FXint n) {
  if (!font || !font->id()) return FXKIconItemTextSimple::textWidth(font, FXWString(s, n));
  FXint sum = 0;
  for (int i = 0; i < n; ++i) {
    const char16_t c = s[i];
    if (c >= 0x80 || c < 0x20) return FXKIconItemTextSimple::textWidth(font, FXWString(s, n));
    if (advanceFont_ != font) {
      for (int k = 0; k < 128; ++k) {
        const char one = static_cast<char>(k);
        advances_[k] = k < 0x20 ? 0 : font->getTextWidth(&one, 1);
      }
      advanceFont_ = font;
    }
    sum += advances_[c];
  }
  return sum;
}

FXImage* FXKIconList::headerPicture(HeaderPicture which) {
  FXImage*& picture = headerPictures_[which];
  if (!picture) {
    constexpr int S = 15;
    const int frames = which == HEADER_HOVER ? 1 : 3;
    picture = new FXImage(getApp(), nullptr, IMAGE_KEEP | IMAGE_OWNED, S, S * frames);
    const FXColor white = FXRGB(255, 255, 255), line = FXRGB(0x99, 0x33, 0x00);
    for (int f = 0; f < frames; ++f)
      for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) {
          FXColor c = white;
          if (which == HEADER_HOVER) {
            c = (x == 0 || y == 0 || x == S - 1 || y == S - 1) ? FXRGB(0x7d, 0xa2, 0xce) : FXRGB(0xdc, 0xeb, 0xfc);
          } else {
            // A chevron: pointing up (expanded) or down (collapsed); darker
            // in the hot frame, grey in the third.
            const FXColor ink = f == 1 ? FXRGB(0x66, 0x11, 0x00) : f == 2 ? FXRGB(0xa0, 0xa0, 0xa0) : line;
            const int dx = x - 7;
            const int ry = which == HEADER_EXPANDED ? y - 5 : 9 - y;
            if (ry >= 0 && ry <= 4 && (std::abs(dx) == ry || std::abs(dx) == ry - 1)) c = ink;
            if (f == 1 && (x == 0 || y == 0 || x == S - 1 || y == S - 1)) c = FXRGB(0x7d, 0xa2, 0xce);
          }
          picture->setPixel(x, f * S + y, c);
        }
  }
  if (id() && !picture->id()) picture->create();
  return picture;
}

FXIcon* FXKIconList::menuIcon(MenuIcon which) {
  if (menuIcons_.empty()) {
    constexpr int S = 16;
    constexpr FXColor clear = FXRGB(255, 0, 255), ink = FXRGB(40, 70, 120), light = FXRGB(120, 160, 210);
    for (int kind = 0; kind < 3; ++kind) {
      auto* icon = new FXIcon(getApp(), nullptr, clear, IMAGE_KEEP | IMAGE_OWNED, S, S);
      for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) {
          FXColor c = clear;
          if (kind == MENU_ICON_ARRANGE) {
            // Three bars growing downwards.
            const int bar = (y - 2) / 4;
            if (y >= 2 && y < 14 && (y - 2) % 4 < 3 && x >= 2 && x < 6 + 3 * bar) c = ink;
          } else if (kind == MENU_ICON_COLUMNS) {
            // A table of three columns under a header row.
            if (x >= 1 && x <= 14 && y >= 2 && y <= 13) {
              const bool edge = x == 1 || x == 14 || y == 2 || y == 13 || x == 6 || x == 10;
              c = edge ? ink : y <= 4 ? light : FXRGB(255, 255, 255);
            }
          } else {
            // A ring with a gap and an arrow head.
            const int dx = 2 * x - 15, dy = 2 * y - 15, r2 = dx * dx + dy * dy;
            if (r2 >= 64 && r2 <= 144 && !(x >= 9 && y <= 7 && y >= 2)) c = ink;
            if (y >= 1 && y <= 6 && x >= 9 && x <= 14 && x - 9 >= y - 1) c = ink;
          }
          icon->setPixel(x, y, c);
        }
      menuIcons_.push_back(icon);
    }
  }
  FXIcon* icon = menuIcons_[static_cast<std::size_t>(which)];
  if (id() && !icon->id()) icon->create();
  return icon;
}

// ---- styles and appearances

void FXKIconList::addViewStyle(int style) {
  if (std::find(styles_.begin(), styles_.end(), style) != styles_.end()) return;
  styles_.push_back(style);
  if (styles_.size() == 1) setViewStyle(style, true);
}

void FXKIconList::applyAppearance() {
  advanceFont_ = nullptr;  // the fonts may be others now
  auto it = appearances_.find(viewStyle_);
  current_ = it == appearances_.end() ? default_ : it->second;
  if (id()) {
    if (current_.font && !current_.font->id()) current_.font->create();
    if (current_.secondFont && !current_.secondFont->id()) current_.secondFont->create();
  }
  FXScrollArea::setBackColor(current_.colors[0]);
}

void FXKIconList::setViewStyle(int style, bool notify) {
  if (style == viewStyle_) return;
  viewStyle_ = style;
  applyAppearance();
  if (notify && target) target->tryHandle(this, FXSEL(SEL_CHANGED, message), nullptr);
  dropPreparedBackground();
  for (FXKTerminal* g : root.children) g->requestLayout();
  cellsDirty();
  recalc();
  update();
}

void FXKIconList::setViewStyleByName(const FXWString& name) {
  for (int s : styles_)
    if (getViewStyleName(s) == name) {
      setViewStyle(s, true);
      return;
    }
}

FXWString FXKIconList::getViewStyleName(int style) const {
  return FXWString::fromUtf8(IconLayout::styleName(style));
}

FXKIconListAppearance FXKIconList::getAppearance(int style) const {
  auto it = appearances_.find(style);
  return it == appearances_.end() ? default_ : it->second;
}

void FXKIconList::setAppearance(int style, const FXKIconListAppearance& record) {
  appearances_[style] = record;
  if (style == viewStyle_) {
    applyAppearance();
    cellsDirty();
    recalc();
    update();
  }
}

FXColor FXKIconList::getColor(int index, FXKTerminal*, bool forText) const {
  if (index < 0 || index > 9) return FXRGB(0, 0, 0);
  if (theme_ && forText && index == 5) return FXRGBA(0, 0, 0, 255);
  return current_.colors[index];
}

void FXKIconList::setColor(int index, FXColor value) {
  if (index < 0 || index > 9 || current_.colors[index] == value) return;
  current_.colors[index] = value;
  auto it = appearances_.find(viewStyle_);
  (it == appearances_.end() ? default_ : it->second).colors[index] = value;
  update();
}

void FXKIconList::setBackColor(FXColor color) {
  FXScrollArea::setBackColor(color);
  setColor(0, color);
}

void FXKIconList::setFormattedItems(bool on) {
  if (on)
    listFlags_ |= LIST_FORMATTED;
  else
    listFlags_ &= ~LIST_FORMATTED;
}

void FXKIconList::setGroupingAllowed(bool on) {
  if (on)
    listFlags_ |= LIST_GROUPING;
  else
    listFlags_ &= ~LIST_GROUPING;
}

int FXKIconList::getArrangement() const {
  if (viewStyle_ == STYLE_ICONS) return 1;
  if (viewStyle_ >= STYLE_THUMBNAILS && viewStyle_ <= STYLE_CATEGORY) return 2;
  return 0;
}

int FXKIconList::iconSizeIndex() const {
  if (viewStyle_ == STYLE_ICONS) return 1;
  if (viewStyle_ >= STYLE_THUMBNAILS) return 2;
  return 0;
}

FXint FXKIconList::getCellWidth() {
  if (cellsDirty_) layoutItems();
  return cellWidth_;
}

FXint FXKIconList::getRowHeight() {
  if (cellsDirty_) layoutItems();
  return rowHeight_;
}

FXint FXKIconList::getColumnOffset(FXint key) const {
  if (key < 0 || !header_) return 0;
  const FXint i = header_->findColumn(key);
  return i < 0 ? 0 : header_->getItemOffset(i);
}

FXint FXKIconList::getColumnWidth(FXint key) const {
  if (key < 0 || !header_) return 0;
  const FXint i = header_->findColumn(key);
  if (i < 0) return 0;
  return header_->getColumnWidth(i);
}

void FXKIconList::appendColumn(const FXKColumnRecord& record) {
  header_->appendColumn(record, false);
  refit_ = true;
}

FXint FXKIconList::getHeaderWidth() const { return headerPadding_ + header_->getDefaultWidth(); }

bool FXKIconList::describeColumn(FXKColumnRecord& record) {
  record.icon = nullptr;
  switch (record.key) {
    case 0:
      record.caption = FXWString(u"Name");
      record.name = FXWString(u"NAME");
      record.flags |= 0x10920;
      break;
    case kDetailsColumn:
      record.caption = FXWString(u"Details");
      record.name = FXWString(u"DETAILS");
      record.flags |= 0x820;
      break;
    case kCheckColumn:
      record.caption = FXWString();
      record.name = FXWString(u"CHECK");
      record.flags |= 0x3904;
      if (!(record.flags & FXKColumnRecord::COLUMN_HIDE_GROUPED)) record.flags |= FXKColumnRecord::COLUMN_HIDDEN;
      record.flags |= FXKColumnRecord::COLUMN_FIXED_WIDTH;
      break;
    default: break;
  }
  return true;
}

void FXKIconList::addBuiltinColumn(FXint key) {
  FXKColumnRecord record;
  record.key = key;
  if (describeColumn(record)) header_->appendColumn(record, false);
}

void FXKIconList::addDefaultColumns() {
  if (!(options & ICONLIST_DEFAULT_COLUMNS)) return;
  addBuiltinColumn(0);
  addBuiltinColumn(kDetailsColumn);
}

// ---- layout

void FXKIconList::cellsDirty() { cellsDirty_ = true; }

void FXKIconList::recalc() {
  cellsDirty_ = true;
  FXKBrowserView::recalc();
}

void FXKIconList::create() {
  if (id()) return;
  if (current_.font) current_.font->create();
  if (current_.secondFont) current_.secondFont->create();
  if (groupFont_) groupFont_->create();
  if (checkImage_) checkImage_->create();
  if (expanderImage_) expanderImage_->create();
  if (starIcon_) starIcon_->create();
  if (background_) background_->create();
  if (selectionImage_) selectionImage_->create();
  FXKBrowserView::create();
  addDefaultColumns();
  readSettings();
  if (viewStyle_ == STYLE_CATEGORY) recalc();
}

void FXKIconList::measureColumns() {
  const FXint count = header_->getNumItems();
  std::vector<FXint> keys;
  for (FXint i = 0; i < count; ++i) {
    FXKColumnRecord* r = header_->getColumn(i);
    if (r && r->minWidth == -1) keys.push_back(r->key);
  }
  if (!keys.empty()) {
    std::vector<FXint> widest(keys.size(), 0);
    for (FXKTerminal* g : root.children) {
      const auto& rows = static_cast<FXKContainer*>(g)->children;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        // Rows lie apart in memory: ask for the next ones early.
        if (i + 4 < rows.size()) __builtin_prefetch(rows[i + 4]);
        if (auto* item = asIconItem(rows[i]))
          for (std::size_t k = 0; k < keys.size(); ++k)
            if (item->cell(keys[k]) || keys[k] == kCheckColumn)
              widest[k] = std::max(widest[k], item->getCellWidth(keys[k]));
      }
    }
    for (std::size_t k = 0; k < keys.size(); ++k) {
      const FXint i = header_->findColumn(keys[k]);
      FXKColumnRecord* r = header_->getColumn(i);
      r->minWidth = std::max(header_->getDefaultItemWidth(i), widest[k]);
    }
  }
  for (FXint i = 0; i < count; ++i) {
    FXKColumnRecord* r = header_->getColumn(i);
    if (r && r->width == -1) {
      r->width = r->minWidth;
      header_->setColumnWidth(i, r->minWidth, false);
    }
  }
}

void FXKIconList::fitColumns(FXint width) {
  const FXint count = header_->getNumItems();
  if (!count) return;
  std::vector<IconLayout::Column> columns(count);
  for (FXint i = 0; i < count; ++i) {
    FXKColumnRecord* r = header_->getColumn(i);
    columns[i].size = header_->getItemSize(i);
    columns[i].minimum = std::max(0, r->minWidth);
    columns[i].stretch = (r->flags & FXKColumnRecord::COLUMN_STRETCH) != 0;
    columns[i].visible = header_->isColumnVisible(i);
  }
  const FXint available = this->width - (vertical->shown() ? vertical->getDefaultWidth() : 0);
  IconLayout::fitColumns(columns, width, available);
  for (FXint i = 0; i < count; ++i)
    if (columns[i].visible && columns[i].size != header_->getItemSize(i)) header_->setItemSize(i, columns[i].size);
}

void FXKIconList::layoutItems() {
  const FXint sb = vertical->getDefaultWidth();
  const FXint a = width - (vertical->shown() ? sb : 0);
  const FXint f = width - 15 - sb;
  if (!isEmpty() && (refit_ || f != fittedWidth_) && width > 1 && header_->getNumItems()) {
    measureColumns();
    fitColumns(f);
    refit_ = false;
    fittedWidth_ = f;
  }
  FXFont* font = current_.font;
  IconLayout::CellMetrics m;
  m.availableWidth = a;
  m.fontHeight = font ? font->getFontHeight() : 0;
  m.widthOfM = font ? font->getTextWidth("M", 1) : 0;
  m.widthOfX = font ? font->getTextWidth("x", 1) : 0;
  m.headerWidth = getHeaderWidth();
  m.tileWidth = current_.tileWidth;
  m.categorySizing = current_.categorySizing;
  cellsDirty_ = false;
  if (viewStyle_ == STYLE_LIST)
    for (FXKTerminal* g : root.children) m.widestItem = std::max(m.widestItem, static_cast<FXKIconGroup*>(g)->getMaxItemWidth());
  if (viewStyle_ == STYLE_CATEGORY && a > 1) {
    const IconLayout::CellSize first = IconLayout::cellSize(viewStyle_, m);
    cellWidth_ = first.width, rowHeight_ = first.height;
    for (FXKTerminal* g : root.children) {
      auto* group = static_cast<FXKIconGroup*>(g);
      m.groupCellWidth = std::max(m.groupCellWidth, group->getCellWidth(a));
      m.groupItemHeight = std::max(m.groupItemHeight, group->getMaxItemHeight(cellWidth_));
    }
  }
  const IconLayout::CellSize size = IconLayout::cellSize(viewStyle_, m);
  cellWidth_ = size.width, rowHeight_ = size.height;
  FXint y = viewStyle_ == STYLE_DETAILS ? header_->getDefaultHeight() : 0;
  const FXint top = y;
  for (FXKTerminal* g : root.children) {
    const FXint h = g->getDefaultHeight(viewStyle_ == STYLE_CATEGORY ? cellWidth_ : a);
    g->position(0, y, a, h);
    y += h;
  }
  const FXint remaining = height - (y - top);
  if (centerVertically_ && remaining > 0)
    for (FXKTerminal* g : root.children) g->y += remaining / 2;
  root.width = a;
  root.height = root.children.empty() ? 0 : y;
}

FXint FXKIconList::getContentWidth() {
  if (cellsDirty_) layoutItems();
  if (viewStyle_ == STYLE_DETAILS) return getHeaderWidth();
  FXint w = 0;
  for (FXKTerminal* g : root.children) w = std::max(w, g->width);
  return w;
}

FXint FXKIconList::getContentHeight() {
  if (cellsDirty_) layoutItems();
  if (isEmpty() || root.children.empty()) return 0;
  FXKTerminal* last = root.children.back();
  return last->y + last->height;
}

FXint FXKIconList::getDefaultHeight() {
  FXint h = 0;
  for (FXKTerminal* g : root.children) h += g->getDefaultHeight(width);
  if (viewStyle_ == STYLE_DETAILS) h += header_->getDefaultHeight();
  return h;
}

void FXKIconList::layout() {
  for (int pass = 0; pass < 2; ++pass) {
    const bool before = vertical->shown();
    layoutItems();
    if (frozen_) break;
    FXScrollArea::layout();
    if (vertical->shown() == before) break;
    cellsDirty_ = true;
  }
  FXFont* font = current_.font;
  if (viewStyle_ == STYLE_DETAILS) {
    const FXint w = std::max(getHeaderWidth(), getViewportWidth());
    const FXint h = header_->getDefaultHeight();
    header_->setPadLeft(2 + headerPadding_);
    header_->position(pos_x, 0, w, h);
    header_->show();
    if (!frozen_) {
      horizontal->setLine(font ? font->getTextWidth("W", 1) : 8);
      vertical->setLine(std::max(1, rowHeight_));
    }
  } else {
    if (!frozen_) {
      header_->hide();
      horizontal->setLine(std::max(1, cellWidth_));
      vertical->setLine(std::max(1, rowHeight_));
    }
  }
  // The fixed background's place.
  if (background_) {
    // In the viewport's corner: the scroll bars would cover the window's.
    const FXint vw = width - (vertical->shown() ? vertical->getWidth() : 0);
    const FXint vh = height - (horizontal->shown() ? horizontal->getHeight() : 0);
    backRect_ = FXRectangle(vw - background_->getWidth(), vh - background_->getHeight(),
                            background_->getWidth(), background_->getHeight());
  } else if (parentBackground_) {
    const FXPoint o = ancestorOffset();
    if (o.x < parentBackground_->getWidth() && o.y < parentBackground_->getHeight())
      backRect_ = FXRectangle(0, 0, std::min(width, parentBackground_->getWidth() - o.x),
                              std::min(height, parentBackground_->getHeight() - o.y));
  }
  if ((viewFlags & VIEWFLAG_SHOW_CURRENT) && getCurrentNode()) {
    viewFlags &= ~VIEWFLAG_SHOW_CURRENT;
    makeVisible(getCurrentNode());
  }
  placeEditor();
  flags &= ~FLAG_DIRTY;
}

// ---- mirroring the browser

FXKBrowserViewGroup* FXKIconList::createGroup(FXint key, const FXKBrowserItem* item) {
  FXKBrowserItem* keyItem = nullptr;
  if (item && (key != kNoGroup || groupsByParent())) keyItem = item->getParent();
  auto* g = new FXKIconGroup(this, key, keyItem);
  if (options & ICONLIST_EXPANDERS) g->setExpandState((listFlags_ & LIST_COLLAPSED_GROUPS) ? 1 : 0, false);
  if (key != kNoGroup && isGrouped()) g->setText(FXWString::fromUtf8(std::to_string(key).c_str()));
  return g;
}

FXKIconGroup* FXKIconList::createSubgroup(FXKIconGroup* parent, FXint key, const FXKBrowserItem* item) {
  FXKBrowserItem* keyItem = nullptr;
  if (item && (key != kNoGroup || groupsByParent())) keyItem = item->getParent();
  auto* g = new FXKIconGroup(parent, this, key, keyItem);
  if (options & ICONLIST_EXPANDERS) g->setExpandState((listFlags_ & LIST_COLLAPSED_GROUPS) ? 1 : 0, false);
  if (key != kNoGroup && isGrouped()) g->setText(FXWString::fromUtf8(std::to_string(key).c_str()));
  return g;
}

FXKBrowserViewItem* FXKIconList::createItem(FXKBrowserViewGroup* group, FXKBrowserItem* item) {
  return new FXKIconItem(group, item);
}

void FXKIconList::updateItem(FXKBrowserViewItem* node) {
  FXKBrowserView::updateItem(node);
  auto* item = asIconItem(node);
  if (!item) return;
  FXKBrowser& b = *getBrowser();
  FXWString title;
  b.getItemTitle(title, item->item.get());
  item->setColumnText(0, title);
  item->setNoHighlight(b.getItemNoHighlight(item->item.get()));
  item->setHoverFrame(b.getItemHoverFrame(item->item.get()));
  for (int k = 0; k < 3; ++k)
    if (FXIcon* icon = b.getItemIcon(item->item.get(), k)) item->setColumnIcon(0, 0, icon, k);
  const int extras = b.getExtraIconCount(item->item.get());
  for (int j = 0; j < extras; ++j)
    for (int k = 0; k < 3; ++k) item->setColumnIcon(0, j + 1, b.getExtraIcon(item->item.get(), j, k), k);
  if (header_->findColumn(kCheckColumn) >= 0) item->ensureCell(kCheckColumn);
  refit_ = true;
}

void FXKIconList::updateGroup(FXKBrowserViewGroup* group) {
  auto* g = dynamic_cast<FXKIconGroup*>(group);
  if (g && (options & ICONLIST_GROUP_CHECKS)) g->setCheckState(g->item ? getBrowser()->getCheckState(g->item.get()) : 0);
  if (g && (options & ICONLIST_EXPANDERS)) g->setExpandState((listFlags_ & LIST_COLLAPSED_GROUPS) ? 1 : 0, false);
  FXKBrowserView::updateGroup(group);
  if (g && g->item) {
    FXWString title;
    getBrowser()->getItemTitle(title, g->item.get());
    g->setText(title);
    if (FXIcon* icon = getBrowser()->getItemIcon(g->item.get(), 0)) {
      g->setCaptionIcon(icon);
      if (id() && !icon->id()) icon->create();
    }
  }
}

void FXKIconList::refresh(FXuint refreshFlags) {
  const bool rebuild = (refreshFlags & (FXKBrowser::UPDATE_REBUILD | FXKBrowser::UPDATE_ENABLING)) != 0;
  if (rebuild && (getBrowser()->getMode() & FXKBrowser::MODE_CLICK_CHECKS)) {
    FXint i = header_->findColumn(kCheckColumn);
    if (i < 0) {
      FXKColumnRecord record;
      record.key = kCheckColumn;
      record.flags = FXKColumnRecord::COLUMN_SORTABLE;
      describeColumn(record);
      header_->insertColumn(0, record, true);
      i = 0;
    }
    header_->showColumn(i, true);
  }
  FXKBrowserView::refresh(refreshFlags);
  if (rebuild) {
    if (isGrouped()) regroupRows();
    if (isEditing()) {
      FXKTerminal* node = editedItem_ ? findNode(editedItem_.get()) : nullptr;
      if (!dynamic_cast<FXKIconItem*>(node)) endEdit(false);
    }
    if (options & ICONLIST_GROUP_CHECKS)
      for (FXKTerminal* g : std::vector<FXKTerminal*>(root.children)) updateGroupCheck(static_cast<FXKIconGroup*>(g));
  }
}

void FXKIconList::regroupRows() {
  auto* defaultGroup = static_cast<FXKIconGroup*>(findGroupByKey(kNoGroup));
  if (!defaultGroup) return;
  const std::vector<FXKTerminal*> rows = defaultGroup->children;
  // Groups by caption, so that each row finds its group without a scan.
  for (FXKTerminal* child : rows) {
    auto* item = asIconItem(child);
    if (!item) continue;
    const FXint k = groupKeyOf(item->item.get());
    if (k == kNoGroup) continue;
    auto* g = static_cast<FXKIconGroup*>(findGroupByKey(k));
    if (!g) {
      g = static_cast<FXKIconGroup*>(createGroup(k, item->item.get()));
      g->setText(item->getColumnText(groupColumn));
      g->setCaptionIcon(item->getColumnIcon(groupColumn));
      groupFirst_[k] = item;
    }
    defaultGroup->unlink(item);
    g->appendChild(item);
  }
  groupFirst_.clear();
  if (defaultGroup->children.empty()) delete defaultGroup;
  if (isSortable()) sortAll();
  recalcItems(true);
}

// ---- sorting and grouping

int FXKIconList::compare(FXKBrowserViewItem* a, FXKBrowserViewItem* b, FXint key) {
  const FXint i = header_->findColumn(key);
  if (i < 0) return 0;
  if (key == kCheckColumn) return getBrowser()->getCheckState(a->item.get()) - getBrowser()->getCheckState(b->item.get());
  const FXuint f = header_->getColumn(i)->flags;
  if (f & FXKColumnRecord::COLUMN_BY_ID) {
    const auto* sa = dynamic_cast<const FXKSimpleBrowserItem*>(a->item.get());
    const auto* sb = dynamic_cast<const FXKSimpleBrowserItem*>(b->item.get());
    const FXuint ia = sa ? sa->id : 0, ib = sb ? sb->id : 0;
    return ia == ib ? 0 : ia < ib ? -1 : 1;
  }
  auto* ia = static_cast<FXKIconItem*>(a);
  auto* ib = static_cast<FXKIconItem*>(b);
  const widgets::PoolText *pa = ia->plainText(key), *pb = ib->plainText(key);
  if (pa && pb && !(f & FXKColumnRecord::COLUMN_NUMERIC))
    return caseCompareUnits(pa->text(), pa->length(), pb->text(), pb->length());
  const FXWString ta = ia->getColumnText(key), tb = ib->getColumnText(key);
  if (f & FXKColumnRecord::COLUMN_NUMERIC) {
    const double da = FXDoubleVal(ta), db = FXDoubleVal(tb);
    return da == db ? 0 : da < db ? -1 : 1;
  }
  return FXWString::caseCompare(ta, tb);
}

namespace {
// A text's sort key: the first 16 units of an ASCII text folded into two
// numbers whose order is the case-insensitive order of those units; texts
// that tie there, and texts that are not ASCII, compare unit by unit. The
// row's position breaks ties, so an unstable sort keeps equal rows in order.
struct SortKey {
  SortKey(const widgets::PoolText* t, FXKTerminal* n, std::uint32_t at) : text(t), node(n), position(at) {
    const char16_t* s = t->text();
    length = t->length();
    for (int i = 0; i < length; ++i) {
      const char16_t c = s[i];
      if (c == 0) zero = true;
      if (c >= 0x80) {
        ascii = false;
        prefix[0] = prefix[1] = 0;
        return;
      }
      if (i < 16) {
        const auto folded = static_cast<std::uint64_t>(c >= u'A' && c <= u'Z' ? c + 32 : c);
        prefix[i / 8] |= folded << (8 * (7 - i % 8));
      }
    }
  }
  int compare(const SortKey& other) const {
    if (ascii && other.ascii) {
      if (prefix[0] != other.prefix[0]) return prefix[0] < other.prefix[0] ? -1 : 1;
      if (prefix[1] != other.prefix[1]) return prefix[1] < other.prefix[1] ? -1 : 1;
      // Both held whole in their prefixes (a unit 0 is not told from the
      // padding: such texts compare in full below).
      if (length <= 16 && other.length <= 16 && !zero && !other.zero)
        return length == other.length ? 0 : length < other.length ? -1 : 1;
    }
    return caseCompareUnits(text->text(), text->length(), other.text->text(), other.text->length());
  }
  std::uint64_t prefix[2] = {0, 0};
  const widgets::PoolText* text;
  FXKTerminal* node;
  std::uint32_t position;
  int length = 0;
  bool ascii = true;
  bool zero = false;  // holds a unit 0
};
}  // namespace

void FXKIconList::sortAll() {
  // A plain text column sorts on the items' texts directly: no column
  // look-up and no virtual call per comparison.
  const FXint i = header_->findColumn(sortColumn);
  const FXuint f = i >= 0 ? header_->getColumn(i)->flags : 0;
  if (i < 0 || sortColumn == kCheckColumn ||
      (f & (FXKColumnRecord::COLUMN_NUMERIC | FXKColumnRecord::COLUMN_BY_ID))) {
    FXKBrowserView::sortAll();
    return;
  }
  static const widgets::PoolText none{};
  std::vector<std::vector<SortKey>> keyed(root.children.size());
  for (std::size_t g = 0; g < root.children.size(); ++g) {
    auto& list = static_cast<FXKContainer*>(root.children[g])->children;
    keyed[g].reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i + 4 < list.size()) __builtin_prefetch(list[i + 4]);
      FXKTerminal* child = list[i];
      auto* item = asIconItem(child);
      const widgets::PoolText* text = item ? item->plainText(sortColumn) : nullptr;
      if (!text && item && !item->cell(sortColumn)) text = &none;
      if (!text) {
        FXKBrowserView::sortAll();  // markup cells compare through the view
        return;
      }
      keyed[g].emplace_back(text, child, static_cast<std::uint32_t>(i));
    }
  }
  std::stable_sort(root.children.begin(), root.children.end(), [&](FXKTerminal* a, FXKTerminal* b) {
    return compareGroups(static_cast<FXKBrowserViewGroup*>(a), static_cast<FXKBrowserViewGroup*>(b)) < 0;
  });
  const bool descending = sortOrder < 0;
  for (auto& keys : keyed) {
    if (keys.empty()) continue;
    auto& list = keys.front().node->parent->children;
    std::sort(keys.begin(), keys.end(), [descending](const SortKey& a, const SortKey& b) {
      const int c = a.compare(b);
      if (c) return descending ? c > 0 : c < 0;
      return a.position < b.position;
    });
    for (std::size_t k = 0; k < keys.size(); ++k) list[k] = keys[k].node;
  }
  sorted();
  recalcItems(true);
}

int FXKIconList::compareGroups(FXKBrowserViewGroup* a, FXKBrowserViewGroup* b) {
  if (!(listFlags_ & LIST_GROUPING) || a->children.empty() || b->children.empty()) return 0;
  return compare(static_cast<FXKBrowserViewItem*>(a->children.front()),
                 static_cast<FXKBrowserViewItem*>(b->children.front()), groupColumn);
}

void FXKIconList::setSortColumn(FXint key, FXint direction) {
  sortColumn = key;
  sortOrder = direction;
}

long FXKIconList::sortByColumn(FXKColumnRecord* record) {
  if (!record) return -1;
  if (record->key == sortColumn) {
    if (record->sortDirection == 0) record->sortDirection = sortOrder;
    record->sortDirection = record->sortDirection == 1 ? -1 : 1;
  } else if (record->sortDirection == 0) {
    record->sortDirection = 1;
  }
  setSortColumn(record->key, record->sortDirection);
  sortAll();
  update();
  return 1;
}

long FXKIconList::sortByColumnKey(FXint key) {
  const FXint i = header_->findColumn(key);
  return i < 0 ? -1 : sortByColumn(header_->getColumn(i));
}

bool FXKIconList::isGrouped() { return (listFlags_ & LIST_GROUPING) && groupColumn != kNoGroup; }

void FXKIconList::groupByColumn(FXint key) {
  if (key == groupColumn) return;
  const FXint old = header_->findColumn(groupColumn);
  if (old >= 0 && (header_->getColumn(old)->flags & FXKColumnRecord::COLUMN_HIDE_GROUPED)) {
    header_->getColumn(old)->flags &= ~FXKColumnRecord::COLUMN_HIDE_GROUPED;
    header_->showColumn(old, true);
  }
  const FXint now = header_->findColumn(key);
  if (now >= 0) {
    FXKColumnRecord* r = header_->getColumn(now);
    if (r->flags & FXKColumnRecord::COLUMN_HIDDEN) {
      r->flags &= ~FXKColumnRecord::COLUMN_HIDE_GROUPED;
    } else {
      r->flags |= FXKColumnRecord::COLUMN_HIDE_GROUPED;
      header_->hideColumn(now, true);
    }
  }
  setGroupColumnKey(key);
  refresh(FXKBrowser::UPDATE_ALL);
}

FXint FXKIconList::groupKeyOf(const FXKBrowserItem* item) {
  if (!isGrouped()) return kNoGroup;
  auto* node = dynamic_cast<FXKIconItem*>(findNode(item));
  if (!node) return kNoGroup;
  for (FXKTerminal* t : root.children) {
    auto* g = static_cast<FXKIconGroup*>(t);
    if (g->key == kNoGroup) continue;
    auto first = groupFirst_.find(g->key);
    FXKBrowserViewItem* head = first != groupFirst_.end() ? first->second
                               : g->children.empty()      ? nullptr
                                                          : static_cast<FXKBrowserViewItem*>(g->children.front());
    if (head && compare(node, head, groupColumn) == 0) return g->key;
  }
  return static_cast<FXint>(root.children.size());
}

int FXKIconList::computeGroupCheck(FXKIconGroup* g) {
  if (g->children.empty()) return 0;
  std::size_t checked = 0;
  for (FXKTerminal* child : g->children)
    if (getBrowser()->getCheckState(static_cast<FXKBrowserViewItem*>(child)->item.get()) != 0) ++checked;
  return checked == 0 ? 0 : checked == g->children.size() ? 1 : 2;
}

void FXKIconList::updateGroupCheck(FXKIconGroup* g) {
  const int a = computeGroupCheck(g);
  if (a == g->getCheckState()) return;
  if (a == 1)
    handle(this, FXSEL(SEL_COMMAND, ID_GROUP_CHECKED), g);
  else if (a == 2)
    g->setCheckState(2);
  else
    handle(this, FXSEL(SEL_COMMAND, ID_GROUP_UNCHECKED), g);
}

void FXKIconList::setGroupItemsChecked(FXKIconGroup* g, bool checked) {
  if (!(options & ICONLIST_GROUP_CHECKS)) return;
  if (options & ICONLIST_GROUP_CHECKS_ITEMS) {
    // The items' own notifications must not re-aggregate the group midway.
    settingGroup_ = true;
    std::vector<const FXKBrowserItem*> rows;
    rows.reserve(g->children.size());
    for (FXKTerminal* child : g->children) rows.push_back(static_cast<FXKBrowserViewItem*>(child)->item.get());
    getBrowser()->setItemStates(FXKBrowser::STATE_CHECKED, rows, checked, true);
    settingGroup_ = false;
  }
  g->setCheckState(checked ? 1 : 0);
}

long FXKIconList::onHeaderCommand(FXObject*, FXSelector, void* ptr) {
  const FXint index = static_cast<FXint>(reinterpret_cast<FXival>(ptr));
  FXKColumnRecord* r = header_->getColumn(index);
  if (r && (r->flags & FXKColumnRecord::COLUMN_SORTABLE)) sortByColumn(r);
  return 1;
}

long FXKIconList::onUpdHeader(FXObject*, FXSelector, void*) {
  for (FXint i = 0; i < header_->getNumItems(); ++i) {
    FXKColumnRecord* r = header_->getColumn(i);
    FXbool dir = MAYBE;
    if (r && r->key == sortColumn && sortOrder == 1) dir = TRUE;
    if (r && r->key == sortColumn && sortOrder == -1) dir = FALSE;
    if (header_->getArrowDir(i) != dir) header_->setArrowDir(i, dir);
  }
  return 1;
}

long FXKIconList::onHeaderChanged(FXObject*, FXSelector, void*) {
  for (FXKTerminal* g : root.children) g->requestLayout();
  recalc();
  return 1;
}

long FXKIconList::onHeaderInserted(FXObject*, FXSelector, void* ptr) {
  FXKColumnRecord* r = header_->getColumn(static_cast<FXint>(reinterpret_cast<FXival>(ptr)));
  if (r)
    for (FXKTerminal* g : root.children) static_cast<FXKIconGroup*>(g)->ensureCellInItems(r->key);
  refit_ = true;
  recalc();
  return 1;
}

long FXKIconList::onHeaderDeleted(FXObject*, FXSelector, void* ptr) {
  FXKColumnRecord* r = header_->getColumn(static_cast<FXint>(reinterpret_cast<FXival>(ptr)));
  if (r)
    for (FXKTerminal* g : root.children) static_cast<FXKIconGroup*>(g)->invalidateCellInItems(r->key);
  refit_ = true;
  recalc();
  return 1;
}

long FXKIconList::onCmdSortBy(FXObject*, FXSelector sel, void*) {
  const FXint key = FXSELID(sel) - ID_SORT_BY;
  const FXint i = header_->findColumn(key);
  if (i >= 0 && (header_->getColumn(i)->flags & FXKColumnRecord::COLUMN_SORTABLE)) sortByColumn(header_->getColumn(i));
  return 1;
}

long FXKIconList::onCmdGroupBy(FXObject*, FXSelector sel, void*) {
  const FXint key = FXSELID(sel) - ID_GROUP_BY;
  if (key == groupColumn) {
    groupByColumn(kNoGroup);
    return 1;
  }
  const FXint i = header_->findColumn(key);
  if (i >= 0 && (header_->getColumn(i)->flags & FXKColumnRecord::COLUMN_GROUPABLE)) groupByColumn(key);
  return 1;
}

long FXKIconList::onCmdGroupClicked(FXObject* sender, FXSelector sel, void* ptr) {
  auto* g = static_cast<FXKIconGroup*>(ptr);
  if (!g) return 0;
  FXint px = 0, py = 0;
  FXuint buttons = 0;
  getCursorPosition(px, py, buttons);
  if (lastEvent_.type) px = lastEvent_.win_x, py = lastEvent_.win_y;
  const FXint hit = g->hitTestCaption(g->fromWindow(FXPoint(px, py)));
  if ((hit & 2) && (options & ICONLIST_GROUP_CHECKS)) return handle(this, FXSEL(SEL_COMMAND, ID_TOGGLE_GROUP_CHECK), g);
  if (options & ICONLIST_EXPANDERS) {
    const int clicks = lastEvent_.click_count;
    if (((hit & 8) && clicks <= 1) || ((hit & 4) && clicks == 2))
      return handle(this, FXSEL(SEL_COMMAND, ID_TOGGLE_EXPAND), g);
  }
  return FXKBrowserView::onCmdGroupClicked(sender, sel, ptr);
}

long FXKIconList::onCmdGroupCheck(FXObject* sender, FXSelector sel, void* ptr) {
  auto* g = static_cast<FXKIconGroup*>(ptr);
  if (!(options & ICONLIST_GROUP_CHECKS_ITEMS) || !g) return FXKBrowserView::onCmdToggleGroupCheck(sender, sel, ptr);
  const int c = g->getCheckState();
  // Each item's own state, so that a refusal restores a mixed group as it
  // was rather than checking every item.
  std::vector<std::pair<std::unique_ptr<FXKBrowserItem>, bool>> before;
  for (FXKTerminal* child : g->children) {
    const FXKBrowserItem* it = static_cast<FXKBrowserViewItem*>(child)->item.get();
    before.emplace_back(it->clone(), getBrowser()->stateSet(FXKBrowser::STATE_CHECKED).contains(it));
  }
  setGroupItemsChecked(g, c == 0);
  const long answer = handle(this, FXSEL(SEL_COMMAND, c != 0 ? ID_GROUP_UNCHECKED : ID_GROUP_CHECKED), g);
  if (!answer) {
    settingGroup_ = true;
    for (auto& [it, on] : before) getBrowser()->setItemState(FXKBrowser::STATE_CHECKED, it.get(), on, true);
    settingGroup_ = false;
    g->setCheckState(c);
  }
  return 1;
}

long FXKIconList::onCmdCheckGroup(FXObject*, FXSelector, void* ptr) {
  auto* g = static_cast<FXKIconGroup*>(ptr);
  if (!g) return 0;
  setGroupItemsChecked(g, true);
  return 1;
}

long FXKIconList::onCmdUncheckGroup(FXObject*, FXSelector, void* ptr) {
  auto* g = static_cast<FXKIconGroup*>(ptr);
  if (!g) return 0;
  setGroupItemsChecked(g, false);
  return 1;
}

long FXKIconList::onCmdItemChanged(FXObject* sender, FXSelector sel, void* ptr) {
  const long answer = FXKBrowserView::onCmdNodeChanged(sender, sel, ptr);
  if ((options & ICONLIST_GROUP_CHECKS_ITEMS) && !settingGroup_)
    if (auto* node = static_cast<FXKTerminal*>(ptr))
      if (auto* g = dynamic_cast<FXKIconGroup*>(node->parent)) updateGroupCheck(g);
  return answer;
}

long FXKIconList::onCmdToggleExpand(FXObject*, FXSelector, void* ptr) {
  auto* g = static_cast<FXKIconGroup*>(ptr);
  if (!g) return 0;
  g->setExpandState(g->getExpandState() == 0 ? 1 : 0, true);
  g->requestLayout();
  recalc();
  return 1;
}

// Every item in one change of the browser's set, told to the views once.
std::vector<const FXKBrowserItem*> FXKIconList::itemsOf(bool enabledOnly) {
  const std::vector<FXKBrowserViewItem*> nodes = items();
  std::vector<const FXKBrowserItem*> all;
  all.reserve(nodes.size());
  // Sorted rows lie apart in memory: ask for the nodes, then their items,
  // ahead of their turn.
  const std::size_t n = nodes.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i + 16 < n) __builtin_prefetch(&nodes[i + 16]->item);
    if (i + 8 < n) __builtin_prefetch(nodes[i + 8]->item.get());
    const FXKBrowserItem* item = nodes[i]->item.get();
    if (!enabledOnly || isItemEnabled(item)) all.push_back(item);
  }
  return all;
}

long FXKIconList::onCmdCheckAll(FXObject*, FXSelector, void*) {
  FXKBrowser& b = *getBrowser();
  const int set = (b.getMode() & FXKBrowser::MODE_CLICK_CHECKS) ? FXKBrowser::STATE_CHECKED : FXKBrowser::STATE_SELECTED;
  b.setItemStates(set, itemsOf(true), true, true);
  return 1;
}

long FXKIconList::onCmdUncheckAll(FXObject*, FXSelector, void*) {
  FXKBrowser& b = *getBrowser();
  const int set = (b.getMode() & FXKBrowser::MODE_CLICK_CHECKS) ? FXKBrowser::STATE_CHECKED : FXKBrowser::STATE_SELECTED;
  b.setItemStates(set, itemsOf(false), false, true);
  return 1;
}

long FXKIconList::onUpdAlways(FXObject*, FXSelector, void*) { return 1; }

long FXKIconList::onCollapsed(FXObject*, FXSelector, void*) {
  frozen_ = true;
  return 0;
}

long FXKIconList::onExpanded(FXObject*, FXSelector, void*) {
  frozen_ = false;
  return 0;
}

// ---- menus

std::function<void(FXKIconList*, FXKHeader*)>& FXKIconList::columnChooser() {
  static std::function<void(FXKIconList*, FXKHeader*)> chooser;
  return chooser;
}

bool FXKIconList::fillArrangeMenu(FXMenuPane* pane) {
  for (FXint i = 0; i < header_->getNumItems(); ++i) {
    FXKColumnRecord* r = header_->getColumn(i);
    if (!r || !(r->flags & FXKColumnRecord::COLUMN_SORTABLE) || (r->flags & FXKColumnRecord::COLUMN_NO_SORT_MENU))
      continue;
    if (r->key < 0 || r->key > 1000) continue;
    new FXMenuRadio(pane, narrow(r->caption), this, ID_SORT_BY + r->key);
  }
  return true;
}

bool FXKIconList::fillGroupMenu(FXMenuPane* pane) {
  for (FXint i = 0; i < header_->getNumItems(); ++i) {
    FXKColumnRecord* r = header_->getColumn(i);
    if (!r || !(r->flags & FXKColumnRecord::COLUMN_SORTABLE) || !(r->flags & FXKColumnRecord::COLUMN_GROUPABLE)) continue;
    if (r->key < 0 || r->key > 1000) continue;
    new FXMenuCheck(pane, narrow(r->caption), this, ID_GROUP_BY + r->key);
  }
  return true;
}

bool FXKIconList::fillContextMenu(FXMenuPane* pane, const FXKBrowserItem* item, int kind) {
  if (item) return FXKBrowserView::fillContextMenu(pane, item, kind);
  for (FXMenuPane* p : menuPanes_) delete p;
  menuPanes_.clear();
  const bool several = styles_.size() > 1;
  FXMenuPane* viewPane = nullptr;
  if (several) {
    FXComposite* into = pane;
    if (kind & 2) {
      viewPane = new FXMenuPane(this);
      menuPanes_.push_back(viewPane);
      into = viewPane;
    }
    for (int s : styles_) {
      if (s < 1 || s > 6) continue;
      const FXKIconListAppearance a = getAppearance(s);
      const FXString label = a.label.empty() ? narrow(FXWString(IconLayout::styleMenuLabel(s))) : narrow(a.label);
      new FXMenuRadio(into, label, this, ID_VIEW_STYLE + s);
    }
  }
  auto* sortPane = new FXMenuPane(this);
  fillArrangeMenu(sortPane);
  FXMenuPane* groupPane = nullptr;
  if (listFlags_ & LIST_GROUPING) {
    groupPane = new FXMenuPane(this);
    fillGroupMenu(groupPane);
    if (!groupPane->numChildren()) {
      delete groupPane;
      groupPane = nullptr;
    }
  }
  if (several) {
    if (viewPane) new FXMenuCascade(pane, menuLabel(u"\u2382View"), nullptr, viewPane);
    new FXMenuSeparator(pane);
  }
  if (groupPane) {
    menuPanes_.push_back(groupPane);
    new FXMenuCascade(pane, menuLabel(u"\u2382Group by\t\tGroup items by"), nullptr, groupPane);
  }
  if (sortPane->numChildren()) {
    menuPanes_.push_back(sortPane);
    new FXMenuCascade(pane, menuLabel(u"\u2382Arrange Items By\t\tArrange Items By"), menuIcon(MENU_ICON_ARRANGE),
                      sortPane);
  } else {
    delete sortPane;
  }
  bool choosable = false;
  for (FXint i = 0; i < header_->getNumItems(); ++i) {
    const FXKColumnRecord* r = header_->getColumn(i);
    if (r && !(r->flags & FXKColumnRecord::COLUMN_FIXED) &&
        (header_->isColumnVisible(i) || !(r->flags & FXKColumnRecord::COLUMN_ALWAYS_VISIBLE)))
      choosable = true;
  }
  const bool details = std::find(styles_.begin(), styles_.end(), int(STYLE_DETAILS)) != styles_.end();
  if (header_ && details && choosable)
    new FXMenuCommand(pane, menuLabel(u"Choose Columns...\t\tChoose Columns"), menuIcon(MENU_ICON_COLUMNS), this,
                      ID_CHOOSE_COLUMNS);
  new FXMenuCommand(pane, menuLabel(u"\u2382Refresh"), menuIcon(MENU_ICON_REFRESH), this, ID_REFRESH);
  return true;
}

long FXKIconList::onUpdViewStyle(FXObject* sender, FXSelector sel, void*) {
  sender->handle(this, FXSEL(SEL_COMMAND, FXSELID(sel) - ID_VIEW_STYLE == viewStyle_ ? ID_CHECK : ID_UNCHECK), nullptr);
  return 0;
}

long FXKIconList::onCmdViewStyle(FXObject*, FXSelector sel, void*) {
  setViewStyle(FXSELID(sel) - ID_VIEW_STYLE, true);
  return 1;
}

long FXKIconList::onUpdSortBy(FXObject* sender, FXSelector sel, void*) {
  sender->handle(this, FXSEL(SEL_COMMAND, FXSELID(sel) - ID_SORT_BY == sortColumn ? ID_CHECK : ID_UNCHECK), nullptr);
  return 0;
}

long FXKIconList::onUpdGroupBy(FXObject* sender, FXSelector sel, void*) {
  sender->handle(this, FXSEL(SEL_COMMAND, FXSELID(sel) - ID_GROUP_BY == groupColumn ? ID_CHECK : ID_UNCHECK), nullptr);
  return 0;
}

long FXKIconList::onCmdHeaderMenu(FXObject* sender, FXSelector, void*) {
  delete headerMenu_;
  headerMenu_ = new FXMenuPane(this);
  if (!fillArrangeMenu(headerMenu_)) return 0;
  headerMenu_->create();
  FXint x = 0, y = 0;
  if (auto* w = dynamic_cast<FXWindow*>(sender)) w->translateCoordinatesTo(x, y, getRoot(), 0, w->getHeight());
  headerMenu_->popup(nullptr, x, y);
  return 1;
}

long FXKIconList::onCmdChooseColumns(FXObject*, FXSelector, void*) {
  if (auto& chooser = columnChooser()) chooser(this, header_);
  return 0;
}

long FXKIconList::onCmdRefresh(FXObject*, FXSelector, void*) {
  getBrowser()->scheduleUpdate(FXKBrowser::UPDATE_ALL);
  return 1;
}

// ---- keyboard, pointer, focus

bool FXKIconList::isItemFocused(const FXKBrowserItem* item) {
  const bool focused = hasFocus() || (editor_ && editor_->hasFocus());
  if (!focused || (options & ICONLIST_BROWSE_ONLY) || !item) return false;
  const FXKBrowserItem* own = itemOf(getCurrentNode());
  return own && own->isEqual(item);
}

void FXKIconList::scrollBy(FXint dx, FXint dy) {
  FXint nx = pos_x, ny = pos_y;
  if (dx && horizontal->shown()) nx += dx;
  if (dy && vertical->shown()) ny += dy;
  setPosition(nx, ny);
}

void FXKIconList::makeVisible(FXKTerminal* node) {
  if (!node) return;
  FXRectangle r;
  if (auto* g = dynamic_cast<FXKIconGroup*>(node)) {
    r = g->toWindow(g->captionRect());
  } else {
    if (node->parent && !node->parent->children.empty() && node->parent->children.front() == node)
      makeVisible(node->parent);
    r = node->toWindow(node->area());
  }
  const FXint t = header_->shown() ? header_->getHeight() : 0;
  FXint nx = pos_x, ny = pos_y;
  if (viewStyle_ != STYLE_DETAILS) {
    if (r.x <= 0)
      nx = pos_x - r.x;
    else if (r.x + r.w >= getViewportWidth())
      nx = pos_x + getViewportWidth() - r.w - r.x;
  }
  if (r.y < t)
    ny += t - r.y;
  else if (r.y + r.h >= getViewportHeight())
    ny += getViewportHeight() - (r.y + r.h);
  setPosition(nx, ny);
}

FXKTerminal* FXKIconList::nextRowItem() {
  FXKTerminal* current = getCurrentNode();
  if (!(options & (ICONLIST_GROUP_CHECKS | ICONLIST_EXPANDERS))) {
    FXKBrowserViewItem* node = dynamic_cast<FXKBrowserViewItem*>(current);
    for (node = node ? nextItem(node) : firstItem(); node; node = nextItem(node))
      if (isEnabled(node)) return node;
    return nullptr;
  }
  auto* g = dynamic_cast<FXKIconGroup*>(current);
  if (!g && current) g = dynamic_cast<FXKIconGroup*>(current->parent);
  if (!g) g = static_cast<FXKIconGroup*>(group(0));
  if (!g) return nullptr;
  auto& list = g->children;
  auto at = current == g || !current ? list.begin() : std::find(list.begin(), list.end(), current) + 1;
  for (; at < list.end(); ++at)
    if (isEnabled(static_cast<FXKBrowserViewItem*>(*at))) return *at;
  auto gi = std::find(root.children.begin(), root.children.end(), g);
  for (++gi; gi < root.children.end(); ++gi) {
    auto* next = static_cast<FXKIconGroup*>(*gi);
    if (!next->item || isItemEnabled(next->item.get())) return next;
    for (FXKTerminal* child : next->children)
      if (isEnabled(static_cast<FXKBrowserViewItem*>(child))) return child;
  }
  return nullptr;
}

FXKTerminal* FXKIconList::previousRowItem() {
  FXKTerminal* current = getCurrentNode();
  if (!(options & (ICONLIST_GROUP_CHECKS | ICONLIST_EXPANDERS))) {
    auto* node = dynamic_cast<FXKBrowserViewItem*>(current);
    if (!node) return nullptr;
    for (node = previousItem(node); node; node = previousItem(node))
      if (isEnabled(node)) return node;
    return nullptr;
  }
  auto* g = dynamic_cast<FXKIconGroup*>(current);
  if (!g && current) g = dynamic_cast<FXKIconGroup*>(current->parent);
  if (!g) return nullptr;
  if (current != g) {
    auto& list = g->children;
    auto at = std::find(list.begin(), list.end(), current);
    while (at != list.begin()) {
      --at;
      if (isEnabled(static_cast<FXKBrowserViewItem*>(*at))) return *at;
    }
    if (!g->item || isItemEnabled(g->item.get())) return g;
  }
  auto gi = std::find(root.children.begin(), root.children.end(), g);
  while (gi != root.children.begin()) {
    auto* prev = static_cast<FXKIconGroup*>(*--gi);
    for (auto c = prev->children.rbegin(); c != prev->children.rend(); ++c)
      if (isEnabled(static_cast<FXKBrowserViewItem*>(*c))) return *c;
    if (!prev->item || isItemEnabled(prev->item.get())) return prev;
  }
  return nullptr;
}

long FXKIconList::onKeyPress(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  if (isEditing()) {
    switch (ev->code) {
      case KEY_Escape: endEdit(false); return 1;
      case KEY_Return:
      case KEY_KP_Enter: endEdit(true); return 1;
      case KEY_Tab: endEdit(true); break;
      default: return editor_->handle(sender, sel, ptr);
    }
  }
  flags &= ~FLAG_TIP;
  if (!FXWindow::isEnabled()) return 0;
  if (target && target->tryHandle(this, FXSEL(SEL_KEYPRESS, message), ptr)) return 1;
  FXKBrowser& b = *getBrowser();
  const bool browseOnly = (options & ICONLIST_BROWSE_ONLY) != 0;
  const FXint vpage = vertical->getPage(), hpage = horizontal->getPage();
  FXKTerminal* chosen = nullptr;
  long result = 0;
  auto* currentItem = dynamic_cast<FXKBrowserViewItem*>(getCurrentNode());
  const FXKBrowserItem* browserCurrent = b.getCurrentItem();
  const bool otherCurrent =
      browserCurrent && (!getCurrentNode() || !itemOf(getCurrentNode()) || !itemOf(getCurrentNode())->isEqual(browserCurrent));
  switch (ev->code) {
    case KEY_space:
    case KEY_KP_Space:
      if ((ev->state & ALTMASK) || browseOnly || !currentItem || viewStyle_ != STYLE_DETAILS) break;
      result = b.activateItem(currentItem->item.get(), ev->code, ev->state, true) ? 1 : 0;
      break;
    case KEY_Return:
    case KEY_KP_Enter:
      if (browserCurrent && itemOf(getCurrentNode()) && itemOf(getCurrentNode())->isEqual(browserCurrent) &&
          isItemEnabled(browserCurrent)) {
        std::unique_ptr<FXKBrowserItem> copy(browserCurrent->clone());
        return handle(this, FXSEL(SEL_DOUBLECLICKED, 0), copy.get());
      }
      return 0;
    case KEY_Delete:
    case KEY_KP_Delete:
    case KEY_Insert:
    case KEY_KP_Insert: {
      const int command = ev->code == KEY_Delete || ev->code == KEY_KP_Delete ? 66 : 67;
      auto* handler = dynamic_cast<FXKCommandHandler*>(b.getCommandHandler());
      if (!handler || !handler->isCommandEnabled(command)) return 0;
      handler->executeCommand(command, nullptr);
      return 1;
    }
    case KEY_Home:
    case KEY_KP_Home:
      if (!isEmpty()) {
        for (FXKBrowserViewItem* node = firstItem(); node; node = nextItem(node))
          if (isEnabled(node)) {
            chosen = node;
            break;
          }
      }
      result = 1;
      break;
    case KEY_End:
    case KEY_KP_End:
      if (!isEmpty()) {
        FXKBrowserViewItem* first = firstItem();
        for (FXKBrowserViewItem* node = lastItem(); node; node = previousItem(node))
          if (isEnabled(node) || node == first) {
            chosen = node;
            break;
          }
      }
      result = 1;
      break;
    case KEY_Up:
    case KEY_KP_Up:
    case KEY_Down:
    case KEY_KP_Down: {
      const bool up = ev->code == KEY_Up || ev->code == KEY_KP_Up;
      if (browseOnly) {
        scrollBy(0, up ? vpage : -vpage);
        return 1;
      }
      if (otherCurrent) return 1;
      FXKTerminal* next = viewStyle_ == STYLE_DETAILS ? (up ? previousRowItem() : nextRowItem())
                                                      : static_cast<FXKTerminal*>(neighbourItem(up ? 2 : 3));
      if (next) {
        setCurrentNode(next, ev->code, ev->state);
        return 1;
      }
      if (vertical->shown()) setPosition(pos_x, up ? 0 : getViewportHeight() - getContentHeight());
      return 1;
    }
    case KEY_Left:
    case KEY_KP_Left:
    case KEY_Right:
    case KEY_KP_Right: {
      const bool left = ev->code == KEY_Left || ev->code == KEY_KP_Left;
      if (browseOnly) {
        scrollBy(left ? hpage : -hpage, 0);
        return 1;
      }
      if (viewStyle_ == STYLE_DETAILS) {
        const FXint line = horizontal->getLine();
        scrollBy(left ? line : -line, 0);
        return 1;
      }
      chosen = neighbourItem(left ? 0 : 1);
      result = 1;
      break;
    }
    case KEY_Page_Up:
    case KEY_KP_Page_Up:
      if (browseOnly) {
        scrollBy(0, vpage);
        return 1;
      }
      if (currentItem) {
        FXKBrowserViewItem* first = firstItem();
        if (currentItem == first) {
          setPosition(pos_x, 0);
          return 1;
        }
        const FXint limit = currentItem->toWindow(FXPoint(0, 0)).y - vpage;
        FXKBrowserViewItem* lastEnabled = nullptr;
        for (FXKBrowserViewItem* node = previousItem(currentItem); node; node = previousItem(node)) {
          const bool enabled = isEnabled(node);
          if (node == first) {
            chosen = enabled ? node : lastEnabled;
            break;
          }
          if (enabled) {
            if (node->toWindow(FXPoint(0, 0)).y - node->height <= limit) {
              chosen = node;
              break;
            }
            lastEnabled = node;
          }
        }
        if (!chosen) chosen = previousItem(currentItem);
      }
      result = 1;
      break;
    case KEY_Page_Down:
    case KEY_KP_Page_Down:
      if (browseOnly) {
        scrollBy(0, -vpage);
        return 1;
      }
      if (currentItem) {
        FXKBrowserViewItem* next = nextItem(currentItem);
        if (!next) {
          setPosition(pos_x, getViewportHeight() - getContentHeight());
          return 1;
        }
        const FXint limit = currentItem->toWindow(FXPoint(0, 0)).y + vpage;
        FXKBrowserViewItem* lastEnabled = nullptr;
        for (FXKBrowserViewItem* node = next; node; node = nextItem(node)) {
          if (!isEnabled(node)) continue;
          if (node->toWindow(FXPoint(0, 0)).y + node->height >= limit) {
            chosen = node;
            break;
          }
          lastEnabled = node;
        }
        if (!chosen) chosen = lastEnabled ? lastEnabled : next;
      }
      result = 1;
      break;
    default: return 0;
  }
  if (auto* node = dynamic_cast<FXKBrowserViewItem*>(chosen)) clickItem(node->item.get(), ev->code, ev->state);
  return result;
}

long FXKIconList::onKeyRelease(FXObject* sender, FXSelector sel, void* ptr) {
  if (!FXWindow::isEnabled()) return 0;
  if (isEditing()) return editor_->handle(sender, sel, ptr);
  switch (static_cast<FXEvent*>(ptr)->code) {
    case KEY_space:
    case KEY_Left:
    case KEY_Up:
    case KEY_Right:
    case KEY_Down:
    case KEY_Page_Up:
    case KEY_Page_Down:
    case KEY_KP_Left:
    case KEY_KP_Up:
    case KEY_KP_Right:
    case KEY_KP_Down:
    case KEY_KP_Page_Up:
    case KEY_KP_Page_Down: return 1;
    default: return 0;
  }
}

long FXKIconList::onLeftBtnPress(FXObject* sender, FXSelector sel, void* ptr) {
  if (isEditing()) {
    endEdit(true);
    return 1;
  }
  lastEvent_ = *static_cast<FXEvent*>(ptr);
  const long answer = FXKBrowserView::onLeftBtnPress(sender, sel, ptr);
  lastEvent_.type = 0;
  return answer;
}

long FXKIconList::onClicked(FXObject* sender, FXSelector sel, void* ptr) {
  if (viewStyle_ == STYLE_CATEGORY) return handle(this, FXSEL(SEL_DOUBLECLICKED, 0), ptr);
  return FXKBrowserView::onClicked(sender, sel, ptr);
}

long FXKIconList::onCmdItemClicked(FXObject* sender, FXSelector sel, void* ptr) {
  auto* b = static_cast<FXKBrowserItem*>(ptr);
  if (viewStyle_ != STYLE_DETAILS || !FXWindow::isEnabled() || !b) return FXKBrowserView::onCmdItemClicked(sender, sel, ptr);
  const FXint x = lastEvent_.type ? lastEvent_.win_x : 0;
  const FXint column = header_->getItemAt(x - header_->getX());
  FXKColumnRecord* r = column >= 0 ? header_->getColumn(column) : nullptr;
  if (!r) return FXKBrowserView::onCmdItemClicked(sender, sel, ptr);
  if (r->flags & FXKColumnRecord::COLUMN_LINK) {
    if (auto* item = dynamic_cast<FXKIconItem*>(terminalAt(lastEvent_.win_x, lastEvent_.win_y))) {
      const FXint offset = header_->getItemOffset(column);
      const FXint tw = default_.font->getTextWidth(narrow(item->getColumnText(r->key)));
      const FXint px = x - header_->getX() - headerPadding_;
      if (px > offset && px < offset + tw) {
        FXKBrowserView::onCmdItemClicked(sender, sel, ptr);
        return handle(this, FXSEL(SEL_COMMAND, ID_LINK_CLICKED), reinterpret_cast<void*>(static_cast<FXival>(column)));
      }
    }
  }
  if (r->key == kCheckColumn) {
    if (isItemCheckable(b) && isItemEnabled(b)) {
      std::unique_ptr<FXKBrowserItem> copy(b->clone());
      getBrowser()->setChecked(copy.get(), lastEvent_.state, true, 2);
    }
    return 1;
  }
  return FXKBrowserView::onCmdItemClicked(sender, sel, ptr);
}

FXKTerminal* FXKIconList::terminalAt(FXint px, FXint py) {
  FXKTerminal* t = root.hitTest(px - pos_x, py - pos_y);
  if (auto* g = dynamic_cast<FXKIconGroup*>(t))
    if (!(g->hitTestCaption(g->fromWindow(FXPoint(px, py))) & 1)) return nullptr;
  return t;
}

void FXKIconList::resizeCurrentLabel(FXKTerminal* oldNode, FXKTerminal* newNode) {
  if (viewStyle_ < STYLE_ICONS) return;
  if (cellsDirty_) layoutItems();
  // The group's grid gives the item the same place and size whether it is
  // selected or not (its measured height does not depend on that), so only
  // its own cells are laid out again, for the label's full or cut height:
  // selecting every item of a large list does not relayout them all.
  for (FXKTerminal* node : {oldNode, newNode})
    if (node && node->isItem()) {
      node->flags |= FXKTerminal::FLAG_LAYOUT;
      node->invalidate();
    }
}

void FXKIconList::setCurrent(const FXKBrowserItem* item) {
  FXKTerminal* old = getCurrentNode();
  FXKTerminal* node = findNode(item);
  if (node && node != old && dynamic_cast<FXKIconItem*>(node)) resizeCurrentLabel(old, nullptr);
  FXKBrowserView::setCurrent(item);
}

long FXKIconList::onFocusIn(FXObject* sender, FXSelector sel, void* ptr) {
  if (FXKTerminal* node = getCurrentNode()) {
    const FXKBrowserItem* bc = getBrowser()->getCurrentItem();
    const FXKBrowserItem* own = itemOf(node);
    if (bc && own && own->isEqual(bc))
      resizeCurrentLabel(nullptr, node);
    else if (options & ICONLIST_KEEP_CURRENT)
      setCurrentNode(node, 0, 0);
  }
  return FXKBrowserView::onFocusIn(sender, sel, ptr);
}

long FXKIconList::onFocusOut(FXObject* sender, FXSelector sel, void* ptr) {
  if (const FXKBrowserItem* own = itemOf(getCurrentNode()))
    if (getBrowser()->isSelected(own)) resizeCurrentLabel(getCurrentNode(), nullptr);
  return FXKBrowserView::onFocusOut(sender, sel, ptr);
}

void FXKIconList::statesChanged(int set, bool on) {
  FXKBrowserView::statesChanged(set, on);
  if (set == FXKBrowser::STATE_SELECTED) {
    // The current item's full label follows its selection.
    FXKTerminal* node = getCurrentNode();
    const FXKBrowserItem* own = itemOf(node);
    if (own && getBrowser()->isSelected(own) == on) resizeCurrentLabel(on ? nullptr : node, on ? node : nullptr);
  } else if (set == FXKBrowser::STATE_CHECKED && (options & ICONLIST_GROUP_CHECKS_ITEMS)) {
    if (!settingGroup_)
      for (FXKTerminal* g : std::vector<FXKTerminal*>(root.children)) updateGroupCheck(static_cast<FXKIconGroup*>(g));
  } else if (set == FXKBrowser::STATE_CHECKED && (options & ICONLIST_GROUP_CHECKS)) {
    // Groups whose key items were among them, as one notification each would.
    for (FXKTerminal* t : std::vector<FXKTerminal*>(root.children)) {
      auto* g = static_cast<FXKIconGroup*>(t);
      if (!g->item) continue;
      const bool checked = getBrowser()->getCheckState(g->item.get()) != 0;
      if (checked != (g->getCheckState() != 0))
        handle(this, FXSEL(SEL_COMMAND, checked ? ID_GROUP_CHECKED : ID_GROUP_UNCHECKED), g);
    }
  }
}

long FXKIconList::onItemSelected(FXObject* sender, FXSelector sel, void* ptr) {
  const FXKBrowserItem* own = itemOf(getCurrentNode());
  if (own && ptr && own->isEqual(static_cast<FXKBrowserItem*>(ptr))) resizeCurrentLabel(nullptr, getCurrentNode());
  return FXKBrowserView::onDocSelected(sender, sel, ptr);
}

long FXKIconList::onItemDeselected(FXObject* sender, FXSelector sel, void* ptr) {
  const FXKBrowserItem* own = itemOf(getCurrentNode());
  if (own && ptr && own->isEqual(static_cast<FXKBrowserItem*>(ptr))) resizeCurrentLabel(getCurrentNode(), nullptr);
  return FXKBrowserView::onDocDeselected(sender, sel, ptr);
}

long FXKIconList::onMotion(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  FXKTerminal* node = terminalAt(ev->win_x, ev->win_y);
  if (auto* g = dynamic_cast<FXKIconGroup*>(node)) {
    if (hotGroup_ && hotGroup_ != g) {
      hotGroup_->setGroupFlags(hotGroup_->groupFlags() & ~(FXKIconGroup::GROUP_PRESSED | FXKIconGroup::GROUP_HOT));
      hotGroup_->invalidate();
      hotGroup_ = nullptr;
    }
    const FXint hit = g->hitTestCaption(g->fromWindow(FXPoint(ev->win_x, ev->win_y)));
    const FXuint want = (hit & 4) ? FXKIconGroup::GROUP_HOT : FXKIconGroup::GROUP_PRESSED;
    const FXuint now = (g->groupFlags() & ~(FXKIconGroup::GROUP_PRESSED | FXKIconGroup::GROUP_HOT)) | want;
    if (now != g->groupFlags()) {
      g->setGroupFlags(now);
      hotGroup_ = g;
      g->invalidate();
    }
  } else if (hotGroup_) {
    hotGroup_->setGroupFlags(hotGroup_->groupFlags() & ~(FXKIconGroup::GROUP_PRESSED | FXKIconGroup::GROUP_HOT));
    hotGroup_->invalidate();
    hotGroup_ = nullptr;
  }
  if (viewStyle_ == STYLE_CATEGORY && (!node || node->isItem())) {
    auto* item = dynamic_cast<FXKIconItem*>(node);
    if (item && isEnabled(item) && item != hotItem_) {
      FXCursor* hand = getApp()->getDefaultCursor(DEF_HAND_CURSOR);
      FXCursor* arrow = getApp()->getDefaultCursor(DEF_ARROW_CURSOR);
      if ((!hotItem_ || hotItem_->hasNoHighlight()) && !item->hasNoHighlight()) setDefaultCursor(hand), setDragCursor(hand);
      if ((!hotItem_ || !hotItem_->hasNoHighlight()) && item->hasNoHighlight())
        setDefaultCursor(arrow), setDragCursor(arrow);
      hotItem_ = item;
      setCurrentNode(item, 0, 0);
      item->invalidate();
      flags &= ~(FLAG_TIP | FLAG_HELP);
      FXKContainerWindow::onMotion(sender, sel, ptr);
      return 1;
    }
    if ((!item || !isEnabled(item)) && hotItem_) {
      hotItem_->invalidate();
      hotItem_ = nullptr;
      FXKBrowserView::setCurrent(nullptr);
      FXCursor* arrow = getApp()->getDefaultCursor(DEF_ARROW_CURSOR);
      setDefaultCursor(arrow), setDragCursor(arrow);
      FXKContainerWindow::onMotion(sender, sel, ptr);
      return 1;
    }
  }
  return FXKContainerWindow::onMotion(sender, sel, ptr);
}

long FXKIconList::onLeave(FXObject* sender, FXSelector sel, void* ptr) {
  if (hotItem_) {
    hotItem_->invalidate();
    if (viewStyle_ == STYLE_CATEGORY) {
      FXKBrowserView::setCurrent(nullptr);
      flags &= ~(FLAG_TIP | FLAG_HELP);
    }
    hotItem_ = nullptr;
  }
  if (hotGroup_) {
    hotGroup_->setGroupFlags(hotGroup_->groupFlags() & ~(FXKIconGroup::GROUP_PRESSED | FXKIconGroup::GROUP_HOT));
    hotGroup_->invalidate();
    hotGroup_ = nullptr;
  }
  return FXKContainerWindow::onLeave(sender, sel, ptr);
}

long FXKIconList::onQueryTip(FXObject* sender, FXSelector sel, void* ptr) {
  if (viewStyle_ == STYLE_CATEGORY) return 0;
  return FXKBrowserView::onQueryTip(sender, sel, ptr);
}

long FXKIconList::onQueryHelp(FXObject* sender, FXSelector sel, void* ptr) {
  if (viewStyle_ == STYLE_CATEGORY && hotItem_ && hotItem_->item && sender) {
    FXWString help;
    getBrowser()->getItemHelp(help, hotItem_->item.get());
    FXString narrowHelp = narrow(help);
    sender->handle(this, FXSEL(SEL_COMMAND, ID_SETSTRINGVALUE), &narrowHelp);
    return 1;
  }
  return FXKBrowserView::onQueryHelp(sender, sel, ptr);
}

// ---- editing

void FXKIconList::activateItem(const FXKBrowserItem* item, FXint key) {
  if (isEditing()) return;
  if (auto* node = dynamic_cast<FXKIconItem*>(findNode(item))) startEdit(node, key);
}

void FXKIconList::startEdit(FXKIconItem* item, FXint key) {
  if (isEditing() || !item) return;
  editing_ |= 1;
  editedItem_.reset(item->item->clone());
  editKey_ = key;
  const FXString text = narrow(item->getColumnText(key));
  editor_->setText(text, false);
  editor_->setSelection(0, text.length(), false);
  editor_->setCursorPos(0x7FFFFFFF, false);
  editor_->setBackColor(getColor(0, nullptr, false));
  editor_->setTextColor(getColor(1, nullptr, true));
  editor_->setSelBackColor(getColor(7, nullptr, false));
  editor_->setSelTextColor(getColor(8, nullptr, true));
  FXuint style = editor_->getTextStyle();
  if (viewStyle_ == STYLE_LIST || viewStyle_ == STYLE_DETAILS)
    style &= ~TEXT_WORDWRAP;
  else
    style |= TEXT_WORDWRAP;
  editor_->setTextStyle(style);
  if (current_.font) editor_->setFont(current_.font);
  if (id()) editor_->setFocus();
  recalc();
  update();
}

void FXKIconList::endEdit(bool commit) {
  if (!isEditing()) return;
  editing_ &= ~1u;
  FXKIconItem* item = editedItem_ ? dynamic_cast<FXKIconItem*>(findNode(editedItem_.get())) : nullptr;
  if (commit && item)
    handle(this, FXSEL(SEL_COMMAND, ID_COMMIT_EDIT), item);
  else
    recalc();
  placeEditor();
  update();
  editedItem_.reset();
  if (id() && editor_->hasFocus()) setFocus();
}

void FXKIconList::placeEditor() {
  if (!editor_) return;
  FXKIconItem* item = isEditing() && editedItem_ ? dynamic_cast<FXKIconItem*>(findNode(editedItem_.get())) : nullptr;
  if (!item) {
    if (editor_->shown()) editor_->hide();
    return;
  }
  const FXRectangle r = item->toWindow(item->getCellTextRect(editKey_));
  FXint ml = editor_->getMarginLeft(), mr = editor_->getMarginRight(), mt = editor_->getMarginTop(),
        mb = editor_->getMarginBottom();
  FXint x = r.x - ml, y = r.y - mt, w = r.w + ml + mr, h = r.h + mt + mb;
  if (viewStyle_ == STYLE_LIST || viewStyle_ == STYLE_DETAILS) {
    w = std::max(w, editor_->getDefaultWidth());
    if (x + w > getViewportWidth() - 1) w = getViewportWidth() - x - 1;
  } else {
    w = std::min(w, editor_->getDefaultWidth());
    h = editor_->getDefaultHeight();
    if (y + h > getViewportHeight() - 1) h = getViewportHeight() - y - 1;
    if (r.h > h) y = r.y + (r.h - h) / 2;
  }
  editor_->position(x, y, std::max(1, w), std::max(1, h));
  if (!editor_->shown()) editor_->show();
}

long FXKIconList::onEditorChanged(FXObject*, FXSelector, void*) {
  recalc();
  return 1;
}

FXRectangle FXKIconList::editorFrame() const {
  return FXRectangle(editor_->getX() - 1, editor_->getY() - 1, editor_->getWidth() + 1, editor_->getHeight() + 1);
}

long FXKIconList::onEditorShown(FXObject*, FXSelector, void*) {
  const FXRectangle r = editorFrame();
  update(r.x, r.y, r.w + 2, r.h + 2);
  return 1;
}

long FXKIconList::onCmdCommitEdit(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<FXKIconItem*>(ptr);
  if (!item) return 0;
  const FXWString old = item->getColumnText(editKey_);
  const FXWString now = FXWString::fromUtf8(editor_->getText().text());
  if (old == now) {
    item->requestLayout();
    return 0;
  }
  item->setColumnText(editKey_, now);
  if (target && target->tryHandle(this, FXSEL(SEL_CHANGED, message), item)) return 1;
  item->setColumnText(editKey_, old);
  return 0;
}

long FXKIconList::onItemDeleted(FXObject* sender, FXSelector sel, void* ptr) {
  auto* gone = static_cast<FXKBrowserItem*>(ptr);
  if (isEditing() && gone && editedItem_ && editedItem_->isEqual(gone)) {
    editing_ &= ~1u;
    recalc();
    editedItem_.reset();
    placeEditor();
    update();
  }
  return FXKBrowserView::onDocDeleted(sender, sel, ptr);
}

long FXKIconList::onFocusSelf(FXObject* sender, FXSelector sel, void* ptr) {
  if (isEditing()) endEdit(true);
  return FXWindow::onFocusSelf(sender, sel, ptr);
}

// ---- painting and backgrounds

bool FXKIconList::hasBackground() const {
  if (!background_ && !parentBackground_) return false;
  return getApp()->getDefaultVisual()->getDepth() >= 16;
}

FXDrawable* FXKIconList::setBackgroundImage(FXDrawable* drawable) {
  FXDrawable* previous = background_;
  if (drawable == background_) return previous;
  dropPreparedBackground();
  background_ = drawable;
  if (background_ && id()) background_->create();
  update();
  return previous;
}

void FXKIconList::setSelectionImage(FXImage* image) {
  selectionImage_ = image;
  if (image && id()) image->create();
}

void FXKIconList::dropPreparedBackground() {
  if (preparedOwned_) {
    delete prepared_;
    preparedOwned_ = false;
  }
  prepared_ = nullptr;
}

FXPoint FXKIconList::ancestorOffset() const {
  FXint sx = 0, sy = 0;
  for (const FXWindow* w = this; w && w != parentWindow_; w = w->getParent()) sx += w->getX(), sy += w->getY();
  return FXPoint(sx, sy);
}

void FXKIconList::paintBackground(FXKPaintDC& dc, const FXRectangle& r) {
  dc.dc->setForeground(getColor(0, nullptr, false));
  dc.fillRectangle(r.x, r.y, r.w, r.h);
  if (!prepared_ && background_) {
    if (auto* icon = dynamic_cast<FXIcon*>(background_); icon && icon->id()) {
      // Transparent pixels are composed over the list's background once.
      auto* image = new FXImage(getApp(), nullptr, 0, icon->getWidth(), icon->getHeight());
      image->create();
      FXKImageDC idc(image);
      idc.dc().setForeground(getColor(0, nullptr, false));
      idc.dc().fillRectangle(0, 0, icon->getWidth(), icon->getHeight());
      idc.dc().drawIcon(icon, 0, 0);
      prepared_ = image;
      preparedOwned_ = true;
    } else {
      prepared_ = background_;
    }
  }
  if (prepared_ && prepared_->id()) {
    const FXRectangle part = intersect(backRect_, r);
    if (!empty(part))
      dc.dc->drawArea(prepared_, part.x - backRect_.x, part.y - backRect_.y, part.w, part.h, dc.ox + part.x,
                      dc.oy + part.y);
  } else if (parentBackground_ && parentBackground_->id()) {
    const FXPoint o = ancestorOffset();
    if (o.x < parentBackground_->getWidth() && o.y < parentBackground_->getHeight()) {
      const FXRectangle part = intersect(backRect_, r);
      if (!empty(part))
        dc.dc->drawArea(parentBackground_, part.x + o.x - backRect_.x, part.y + o.y - backRect_.y, part.w, part.h,
                        dc.ox + part.x, dc.oy + part.y);
    }
  }
}

void FXKIconList::paintList(FXDC& dc, const FXRectangle& damage) {
  dc.setClipRectangle(0, 0, width, height);
  if (parentBackground_ && parentWindow_ && parentBackground_->id()) {
    const FXPoint o = ancestorOffset();
    if (o.x < parentBackground_->getWidth() && o.y < parentBackground_->getHeight())
      dc.drawArea(parentBackground_, o.x, o.y, std::min(width, parentBackground_->getWidth() - o.x),
                  std::min(height, parentBackground_->getHeight() - o.y), 0, 0);
  }
  paintInto(dc, damage);
  if (isEmpty()) {
    FXFont* font = default_.font;
    if (font) {
      dc.setFont(font);
      dc.setForeground(getColor(1, nullptr, false));
      const FXint top = header_->shown() ? header_->getHeight() : 0;
      dc.drawText(5, 5 + font->getFontAscent() + top, narrow(emptyText_));
    }
  }
  if (isEditing()) {
    dc.setForeground(FXRGBA(0, 0, 0, 255));
    const FXRectangle r = editorFrame();
    dc.drawRectangle(r.x, r.y, r.w, r.h);
  }
}

long FXKIconList::onPaint(FXObject*, FXSelector, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, ev);
  paintList(dc, ev->rect);
  return 1;
}

void FXKIconList::moveContents(FXint x, FXint y) {
  const FXint dx = x - pos_x, dy = y - pos_y;
  pos_x = x, pos_y = y;
  FXint hh = 0;
  if (viewStyle_ == STYLE_DETAILS) {
    hh = header_->getDefaultHeight();
    header_->move(x, 0);
  }
  const FXint vw = getViewportWidth(), vh = getViewportHeight();
  if (hasBackground()) {
    const FXRectangle r = intersect(FXRectangle(0, 0, vw, vh), backRect_);
    if (!empty(r)) {
      // The background stays where it is: only the bands around it move.
      const FXRectangle bands[] = {
          FXRectangle(0, hh, vw, std::max(0, r.y - hh)),
          FXRectangle(0, r.y, r.x, r.h),
          FXRectangle(r.x + r.w, r.y, vw - r.x - r.w, r.h),
          FXRectangle(0, r.y + r.h, vw, vh - r.y - r.h),
      };
      for (const FXRectangle& b : bands)
        if (!empty(b)) scroll(b.x, b.y, b.w, b.h, dx, dy);
      update(r.x, r.y, r.w, r.h);
    } else {
      scroll(0, hh, vw, vh - hh, dx, dy);
    }
  } else {
    scroll(0, hh, vw, vh - hh, dx, dy);
    // Up and down the content moves as it is: only the band scrolled into
    // view is painted. Sideways, header-style captions reach to the edge.
    if (dx) update();
  }
  if (editor_ && editor_->shown()) editor_->move(editor_->getX() + dx, editor_->getY() + dy);
}

void FXKIconList::reloadImages() {
  if (checkImage_) {
    delete checkImage_;
    checkImage_ = makeCheckImage(getApp());
    if (id()) checkImage_->create();
  }
  if (expanderImage_) {
    delete expanderImage_;
    expanderImage_ = makeExpanderImage(getApp());
    if (id()) expanderImage_->create();
  }
  if (preparedOwned_) dropPreparedBackground();
}

long FXKIconList::onSettingsChanged(FXObject* sender, FXSelector sel, void* ptr) {
  advanceFont_ = nullptr;
  reloadImages();
  return FXKContainerWindow::onSettingsChanged(sender, sel, ptr);
}

// ---- settings

void FXKIconList::writeSettings() {
  FXWindowSettings settings(&getApp()->reg(), this);
  FXKListSettings state;
  state.viewStyle = narrow(getViewStyleName(viewStyle_));
  state.sortColumn = sortColumn;
  state.sortOrder = sortOrder;
  state.grouped = isGrouped();
  state.groupColumn = groupColumn;
  state.groupingAllowed = (listFlags_ & LIST_GROUPING) != 0;
  writeListSettings(settings, *header_, state);
}

bool FXKIconList::readSettings() {
  FXWindowSettings settings(&getApp()->reg(), this);
  FXKListSettings state;
  state.viewStyle = narrow(getViewStyleName(viewStyle_));
  state.sortColumn = sortColumn;
  state.sortOrder = sortOrder;
  state.groupColumn = groupColumn;
  state.groupingAllowed = (listFlags_ & LIST_GROUPING) != 0;
  const bool read = readListSettings(settings, *header_, state, [this](const FXString& name) {
    setViewStyleByName(FXWString::fromUtf8(name.text()));
  });
  if (!read) return false;
  sortColumn = state.sortColumn;
  sortOrder = state.sortOrder;
  if (state.groupingAllowed) setGroupColumnKey(state.groupColumn);
  recalc();
  return true;
}
