#include "widgets/simple_list.h"

using namespace FX;

FXIMPLEMENT(FXKSimpleRow, FXKIconItem, nullptr, 0)
FXIMPLEMENT(FXKSimpleList, FXKIconList, nullptr, 0)

namespace {
// A browser of its own for each list.
class SimpleBrowser : public FXKBrowser {
 public:
  explicit SimpleBrowser(FXApp* app) : FXKBrowser(app) {}
};
}  // namespace

FXKSimpleList::FXKSimpleList(FXComposite* parent, FXuint options, FXObject* tgt, FXSelector sel)
    : FXKIconList(parent, new SimpleBrowser(parent->getApp()), options) {
  // The view took its own reference; the list's creation reference goes.
  getBrowser()->release();
  addViewStyle(STYLE_DETAILS);
  setViewStyle(STYLE_DETAILS, true);
  getBrowser()->setTarget(tgt, sel);
}

FXKSimpleList::~FXKSimpleList() = default;

FXint FXKSimpleList::addColumn(const FXWString& caption, FXuint flags, FXint key) {
  FXKColumnRecord record;
  record.caption = caption;
  record.flags = flags;
  record.key = key ? key : keyCounter_++;
  appendColumn(record);
  // The column's own key: an explicit key used to answer "counter - 1".
  return record.key;
}

FXKIconGroup* FXKSimpleList::addGroup(FXint key, const FXWString& caption) {
  if (auto* g = static_cast<FXKIconGroup*>(findGroupByKey(key))) return g;
  auto* g = static_cast<FXKIconGroup*>(createGroup(key, nullptr));
  g->setText(caption);
  return g;
}

FXWString FXKSimpleList::groupCaption(FXint key) const {
  auto* g = static_cast<FXKIconGroup*>(findGroupByKey(key));
  return g ? g->getText() : FXWString();
}

FXKBrowserViewItem* FXKSimpleList::createItem(FXKBrowserViewGroup* group, FXKBrowserItem* item) {
  return new FXKSimpleRow(group, item);
}

FXKSimpleRow* FXKSimpleList::addRowToGroup(FXint groupKey, const FXWString& text) {
  FXKBrowserViewGroup* g = findGroupByKey(groupKey);
  if (!g) return nullptr;
  const bool first = isEmpty();
  auto* row = static_cast<FXKSimpleRow*>(createItem(g, new FXKSimpleBrowserItem(static_cast<FXuint>(++rowCounter_))));
  updateItem(row);
  recalc();
  row->setColumnText(0, text);
  if (id()) row->createResources();
  if (first) {
    FXKBrowser& b = *getBrowser();
    b.selectItem(row->item.get(), true, false);
    if (b.getMode() & FXKBrowser::MODE_MULTIPLE) b.stateSet(FXKBrowser::STATE_SELECTED).add(row->item.get(), false);
  }
  return row;
}

FXKSimpleRow* FXKSimpleList::addRow(const FXWString& text) {
  if (!findGroupByKey(kDefaultGroup)) addGroup(kDefaultGroup, FXWString());
  return addRowToGroup(kDefaultGroup, text);
}

void FXKSimpleList::selectRow(FXKSimpleRow* row, bool on, bool notify) {
  if (row) getBrowser()->setItemState(FXKBrowser::STATE_SELECTED, row->item.get(), on, notify);
}

void FXKSimpleList::checkRow(FXKSimpleRow* row, bool on, bool notify) {
  if (row) getBrowser()->setItemState(FXKBrowser::STATE_CHECKED, row->item.get(), on, notify);
}

void FXKSimpleList::setRowEnabled(FXKSimpleRow* row, bool on, bool notify) {
  if (row) getBrowser()->setItemEnabled(row->item.get(), on, notify);
}

void FXKSimpleList::setRowCheckable(FXKSimpleRow* row, bool on, bool notify) {
  if (row) getBrowser()->setItemState(FXKBrowser::STATE_CHECK_LOCKED, row->item.get(), !on, notify);
}

void FXKSimpleList::setCurrentRow(FXKSimpleRow* row, bool notify) {
  getBrowser()->selectItem(row ? row->item.get() : nullptr, notify, false);
}

void FXKSimpleList::setSelectionMode(FXuint mode) { getBrowser()->setMode(mode); }

void FXKSimpleList::refresh(FXuint flags) {
  const FXuint own = FXKBrowser::UPDATE_REBUILD | FXKBrowser::UPDATE_ENABLING;
  FXKIconList::refresh(flags & ~(own | FXKBrowser::UPDATE_CURRENT_ITEM));
  if ((flags & own) && isGrouped()) regroupRows();
}
