#include "widgets/header.h"

#include <algorithm>

using namespace FX;

namespace {
FXString narrow(const FXWString& text) { return FXString(text.toUtf8().c_str()); }
FXuval asData(FXint v) { return static_cast<FXuval>(static_cast<FXival>(v)); }
}  // namespace

FXIMPLEMENT(FXKHeaderItem, FXHeaderItem, nullptr, 0)

FXKHeaderItem::FXKHeaderItem(const FXKColumnRecord& r)
    : FXHeaderItem(narrow(r.caption), r.icon, std::max(0, r.width), new FXKColumnRecord(r)) {
  if (r.flags & FXKColumnRecord::COLUMN_HIDDEN) {
    record()->shownWidth = size;
    size = 0;
  }
}

FXKHeaderItem::~FXKHeaderItem() { delete record(); }

FXDEFMAP(FXKHeader) FXKHeaderMap[] = {
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKHeader::onLeftBtnPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, 0, FXKHeader::onLeftBtnRelease),
    FXMAPFUNC(SEL_RIGHTBUTTONPRESS, 0, FXKHeader::onRightBtnPress),
    FXMAPFUNC(SEL_RIGHTBUTTONRELEASE, 0, FXKHeader::onRightBtnRelease),
    FXMAPFUNC(SEL_COMMAND, FXKHeader::ID_COLUMN_MENU, FXKHeader::onCmdColumnMenu),
    FXMAPFUNCS(SEL_UPDATE, FXKHeader::ID_COLUMN_FIRST, FXKHeader::ID_COLUMN_LAST, FXKHeader::onUpdColumn),
    FXMAPFUNCS(SEL_COMMAND, FXKHeader::ID_COLUMN_FIRST, FXKHeader::ID_COLUMN_LAST, FXKHeader::onCmdColumn),
    FXMAPFUNC(SEL_COMMAND, FXKHeader::ID_COLUMNS_CHANGED, FXKHeader::onCmdColumnsChanged),
    FXMAPFUNC(SEL_MOTION, 0, FXKHeader::onMotion),
};
FXIMPLEMENT(FXKHeader, FXHeader, FXKHeaderMap, ARRAYNUMBER(FXKHeaderMap))

FXKHeader::FXKHeader(FXComposite* p, FXObject* tgt, FXSelector sel, FXuint opts, FXint x, FXint y, FXint w,
                     FXint h, FXint pl, FXint pr, FXint pt, FXint pb)
    : FXHeader(p, tgt, sel, opts, x, y, w, h, pl, pr, pt, pb) {}

FXKHeader::~FXKHeader() {
  delete menu_;
  menu_ = nullptr;
}

void FXKHeader::create() {
  FXHeader::create();
  if (menu_ && !menu_->id()) menu_->create();
}

void FXKHeader::destroy() {
  if (menu_) menu_->destroy();
  FXHeader::destroy();
}

FXHeaderItem* FXKHeader::createItem(const FXString&, FXIcon*, FXint, void* ptr) {
  static const FXKColumnRecord empty;
  return createItemFromRecord(ptr ? *static_cast<const FXKColumnRecord*>(ptr) : empty);
}

FXKHeaderItem* FXKHeader::createItemFromRecord(const FXKColumnRecord& record) { return new FXKHeaderItem(record); }

FXKColumnRecord* FXKHeader::getColumn(FXint index) const {
  if (index < 0 || index >= getNumItems()) return nullptr;
  // Asked per row and cell: the meta class answers before a dynamic_cast.
  FXHeaderItem* item = getItem(index);
  if (item && item->getMetaClass() == FXMETACLASS(FXKHeaderItem)) return static_cast<FXKHeaderItem*>(item)->record();
  auto* own = dynamic_cast<FXKHeaderItem*>(item);
  return own ? own->record() : nullptr;
}

bool FXKHeader::isColumnVisible(FXint index) const {
  const FXKColumnRecord* r = getColumn(index);
  return r && !(r->flags & FXKColumnRecord::COLUMN_HIDDEN);
}

bool FXKHeader::isColumnResizable(FXint index) const {
  const FXKColumnRecord* r = getColumn(index);
  return r && !(r->flags & FXKColumnRecord::COLUMN_FIXED_WIDTH);
}

FXint FXKHeader::findColumn(FXint key) const {
  for (FXint i = 0; i < getNumItems(); ++i)
    if (const FXKColumnRecord* r = getColumn(i); r && r->key == key) return i;
  return -1;
}

FXint FXKHeader::findColumnByName(const FXWString& name) const {
  for (FXint i = 0; i < getNumItems(); ++i)
    if (const FXKColumnRecord* r = getColumn(i); r && r->name == name) return i;
  return -1;
}

FXint FXKHeader::getColumnWidth(FXint index) const {
  if (!isColumnVisible(index)) return 0;
  return getItemSize(index);
}

FXint FXKHeader::getDefaultItemWidth(FXint index) const {
  const FXKColumnRecord* r = getColumn(index);
  if (!r) return 0;
  FXint w = getPadLeft() + getPadRight() + 2 * getBorderWidth();
  const FXString caption = narrow(r->caption);
  if (!caption.empty() && getFont()) w += getFont()->getTextWidth(caption);
  if (r->icon) w += r->icon->getWidth() + 4;
  return w;
}

void FXKHeader::setColumnWidth(FXint index, FXint width, bool repaint) {
  if (index < 0 || index >= getNumItems()) fxerror("%s::setItemSize: index out of range.\n", getClassName());
  FXKColumnRecord* r = getColumn(index);
  width = std::max(0, width);
  if (r && width < r->minWidth) width = r->minWidth;
  if (r && (r->flags & FXKColumnRecord::COLUMN_HIDDEN)) {
    r->shownWidth = width;  // applied when the column is shown again
    return;
  }
  if (getItemSize(index) == width) return;
  setItemSize(index, width);
  recalc();
  if (repaint) update();
}

void FXKHeader::showColumn(FXint index, bool notify) {
  FXKColumnRecord* r = getColumn(index);
  if (!r || !(r->flags & FXKColumnRecord::COLUMN_HIDDEN)) return;
  r->flags &= ~FXKColumnRecord::COLUMN_HIDDEN;
  setItemSize(index, r->shownWidth);
  if (notify && target) target->tryHandle(this, FXSEL(SEL_INSERTED, message), reinterpret_cast<void*>(asData(index)));
  recalc();
}

void FXKHeader::hideColumn(FXint index, bool notify) {
  FXKColumnRecord* r = getColumn(index);
  if (!r || (r->flags & FXKColumnRecord::COLUMN_HIDDEN)) return;
  r->flags |= FXKColumnRecord::COLUMN_HIDDEN;
  r->shownWidth = getItemSize(index);
  setItemSize(index, 0);
  if (notify && target) target->tryHandle(this, FXSEL(SEL_DELETED, message), reinterpret_cast<void*>(asData(index)));
  recalc();
}

FXint FXKHeader::insertColumn(FXint index, const FXKColumnRecord& record, bool notify) {
  const FXint at = insertItem(index, createItemFromRecord(record), notify);
  recalc();
  return at;
}

FXint FXKHeader::appendColumn(const FXKColumnRecord& record, bool notify) {
  const FXint at = appendItem(createItemFromRecord(record), notify);
  recalc();
  return at;
}

FXint FXKHeader::splitAt(FXint x) const {
  const bool vertical = (options & HEADER_VERTICAL) != 0;
  FXint edge = vertical ? 0 : getPadLeft();
  for (FXint i = 0; i < getNumItems(); ++i) {
    if (!isColumnVisible(i)) continue;
    // FOX 1.6's items report their content's extent there; the size is the column's.
    edge += getItem(i)->getSize();
    if (x >= edge - kSplitBand && x < edge + kSplitBand) return i;
  }
  return -1;
}

bool FXKHeader::isColumnMoving(FXint x) const {
  return moving_ && !(options & HEADER_VERTICAL) && std::abs(x - pressX_) > getApp()->getDragDelta();
}

void FXKHeader::moveColumn(FXint from, FXint to, bool notify) {
  const FXint n = getNumItems();
  if (from < 0 || from >= n || to < 0 || to >= n || from == to) return;
  FXHeaderItem* item = items[from];
  items.erase(from);
  items.insert(to, item);
  recalc();
  update();
  if (notify && target) target->tryHandle(this, FXSEL(SEL_CHANGED, message), reinterpret_cast<void*>(asData(-1)));
}

void FXKHeader::swapColumns(FXint a, FXint b, bool notify) {
  const FXint n = getNumItems();
  if (a < 0 || a >= n || b < 0 || b >= n || a == b) return;
  FXHeaderItem* first = items[a];
  items[a] = items[b];
  items[b] = first;
  recalc();
  update();
  if (notify && target) target->tryHandle(this, FXSEL(SEL_CHANGED, message), reinterpret_cast<void*>(asData(-1)));
}

bool FXKHeader::fillColumnMenu(FXMenuPane* pane) {
  bool any = false;
  for (FXint i = 0; i < getNumItems() && i <= ID_COLUMN_LAST - ID_COLUMN_FIRST; ++i) {
    const FXKColumnRecord* r = getColumn(i);
    if (!r || (r->flags & FXKColumnRecord::COLUMN_FIXED)) continue;
    new FXMenuCheck(pane, narrow(r->caption), this, ID_COLUMN_FIRST + i);
    any = true;
  }
  return any;
}

long FXKHeader::onCmdColumnMenu(FXObject*, FXSelector, void*) {
  if (menu_) {
    menu_->destroy();
    delete menu_;
    menu_ = nullptr;
  }
  menu_ = new FXMenuPane(this);
  if (!fillColumnMenu(menu_)) {
    delete menu_;
    menu_ = nullptr;
    return 1;
  }
  FXint x = 0, y = 0;
  FXuint buttons = 0;
  if (getRoot()->id()) getRoot()->getCursorPosition(x, y, buttons);
  menu_->create();
  menu_->popup(nullptr, x, y);
  return 1;
}

long FXKHeader::onUpdColumn(FXObject* sender, FXSelector sel, void*) {
  const FXint index = FXSELID(sel) - ID_COLUMN_FIRST;
  const FXKColumnRecord* r = getColumn(index);
  if (!r || !sender) return 0;
  if (r->flags & FXKColumnRecord::COLUMN_ALWAYS_VISIBLE) {
    sender->handle(this, FXSEL(SEL_COMMAND, ID_DISABLE), nullptr);
    sender->handle(this, FXSEL(SEL_COMMAND, ID_CHECK), nullptr);
  } else {
    sender->handle(this, FXSEL(SEL_COMMAND, ID_ENABLE), nullptr);
    sender->handle(this, FXSEL(SEL_COMMAND, isColumnVisible(index) ? ID_CHECK : ID_UNCHECK), nullptr);
  }
  return 1;
}

long FXKHeader::onCmdColumn(FXObject*, FXSelector sel, void*) {
  const FXint index = FXSELID(sel) - ID_COLUMN_FIRST;
  const FXKColumnRecord* r = getColumn(index);
  if (!r) return 0;
  if (r->flags & FXKColumnRecord::COLUMN_HIDDEN)
    showColumn(index, true);
  else
    hideColumn(index, true);
  if (target) target->tryHandle(this, FXSEL(SEL_CHANGED, message), nullptr);
  recalc();
  return 1;
}

long FXKHeader::onCmdColumnsChanged(FXObject*, FXSelector, void*) {
  if (!target) return 0;
  return target->tryHandle(this, FXSEL(SEL_CHANGED, message), reinterpret_cast<void*>(asData(-1)));
}

long FXKHeader::onLeftBtnPress(FXObject* sender, FXSelector sel, void* ptr) {
  const long handled = FXHeader::onLeftBtnPress(sender, sel, ptr);
  auto* ev = static_cast<FXEvent*>(ptr);
  pressX_ = ev->win_x;
  moving_ = isEnabled() && active >= 0 && !(flags & FLAG_TRYDRAG);
  if (active >= 0 && isEnabled() && isColumnVisible(active) &&
      (getColumn(active)->flags & FXKColumnRecord::COLUMN_FIXED_WIDTH)) {
    flags &= ~FLAG_TRYDRAG;
    moving_ = false;
    return 1;
  }
  return handled;
}

long FXKHeader::onLeftBtnRelease(FXObject* sender, FXSelector sel, void* ptr) {
  const FXint drop = dropIndex_;
  const FXint from = active;
  const bool wasMoving = moving_ && drop >= 0;
  moving_ = false;
  dropIndex_ = -1;
  const long handled = FXHeader::handle(sender, sel, ptr);
  if (wasMoving && from >= 0 && drop != from) moveColumn(from, drop > from ? drop : drop, true);
  return handled;
}

long FXKHeader::onRightBtnPress(FXObject*, FXSelector, void*) { return 1; }

long FXKHeader::onRightBtnRelease(FXObject*, FXSelector, void*) {
  handle(this, FXSEL(SEL_COMMAND, ID_COLUMN_MENU), nullptr);
  return 1;
}

long FXKHeader::onMotion(FXObject*, FXSelector, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  const bool vertical = (options & HEADER_VERTICAL) != 0;
  const FXint coord = vertical ? ev->win_y : ev->win_x;
  const bool tipWas = (flags & FLAG_TIP) != 0;
  dropIndex_ = -1;
  flags &= ~FLAG_TIP;
  if (flags & FLAG_PRESSED) {
    if (flags & FLAG_TRYDRAG) {
      const FXint size = std::max(0, coord - offset - activepos);
      if (size == activesize) return 1;
      if (options & HEADER_TRACKING) {
        activesize = size;
        setColumnWidth(active, size, true);
        if (target) target->tryHandle(this, FXSEL(SEL_CHANGED, message), reinterpret_cast<void*>(asData(active)));
      } else {
        drawSplit(activepos + activesize);
        activesize = size;
        drawSplit(activepos + activesize);
      }
      return 1;
    }
    if (isColumnMoving(coord)) {
      const FXint at = getItemAt(coord - pos);
      if (at < 0) {
        if (getNumItems() > 0 && coord > getItemOffset(0) + getPadLeft())
          for (FXint i = getNumItems() - 1; i >= 0; --i)
            if (isColumnVisible(i)) {
              dropIndex_ = i;
              break;
            }
      } else if (coord >= getPadLeft() + getItemOffset(at) + getColumnWidth(at) / 2) {
        dropIndex_ = at;
      } else {
        for (FXint i = at - 1; i >= 0; --i)
          if (isColumnVisible(i)) {
            dropIndex_ = i;
            break;
          }
      }
      update();
      return 1;
    }
    if (active >= 0) {
      const FXint start = getItemOffset(active), end = start + getItemSize(active);
      const bool inside = coord >= start && coord < end;
      if (inside != isItemPressed(active)) setItemPressed(active, inside);
    }
    return 1;
  }
  const FXint oldHot = hotIndex_;
  hotIndex_ = -1;
  if (isEnabled()) {
    if (splitAt(coord) >= 0) {
      setDefaultCursor(getApp()->getDefaultCursor(vertical ? DEF_VSPLIT_CURSOR : DEF_HSPLIT_CURSOR));
      if (hotIndex_ != oldHot) update();
      return 1;
    }
    if (!vertical) {
      const FXint at = getItemAt(coord - pos);
      if (at >= 0 && isColumnVisible(at)) hotIndex_ = at;
    }
  }
  setDefaultCursor(getApp()->getDefaultCursor(DEF_ARROW_CURSOR));
  getApp()->addTimeout(this, ID_TIPTIMER, getApp()->getMenuPause());
  if (hotIndex_ != oldHot) update();
  return tipWas ? 1 : 0;
}
