#include "widgets/simple_list.h"

using namespace FX;

FXIMPLEMENT(FXKSimpleRow, FXKBrowserViewItem, nullptr, 0)
FXIMPLEMENT(FXKSimpleList, FXKBrowserView, nullptr, 0)

namespace {
// A browser of its own for each list.
class SimpleBrowser : public FXKBrowser {
 public:
  explicit SimpleBrowser(FXApp* app) : FXKBrowser(app) {}
};
}  // namespace

FXKSimpleList::FXKSimpleList(FXComposite* parent, FXuint options, FXObject* tgt, FXSelector sel)
    : FXKBrowserView(parent, new SimpleBrowser(parent->getApp()), options) {
  // The view took its own reference; the list's creation reference goes.
  getBrowser()->release();
  header_ = new FXKHeader(this, this, 70, HEADER_NORMAL, 0, 0, 0, 0, 2, 2, 2, 2);
  getBrowser()->setTarget(tgt, sel);
}

FXKSimpleList::~FXKSimpleList() = default;

FXint FXKSimpleList::addColumn(const FXWString& caption, FXuint flags, FXint key) {
  FXKColumnRecord record;
  record.caption = caption;
  record.flags = flags;
  record.key = key ? key : keyCounter_++;
  header_->appendColumn(record, false);
  // The column's own key: an explicit key used to answer "counter - 1".
  return record.key;
}

FXKBrowserViewGroup* FXKSimpleList::addGroup(FXint key, const FXWString& caption) {
  if (FXKBrowserViewGroup* g = findGroupByKey(key)) return g;
  FXKBrowserViewGroup* g = createGroup(key, nullptr);
  captions_[key] = caption;
  return g;
}

FXKSimpleRow* FXKSimpleList::addRowToGroup(FXint groupKey, const FXWString& text) {
  FXKBrowserViewGroup* g = findGroupByKey(groupKey);
  if (!g) return nullptr;
  const bool first = isEmpty();
  auto* item = new FXKSimpleBrowserItem(static_cast<FXuint>(++rowCounter_));
  auto* row = new FXKSimpleRow(g, item);
  updateItem(row);
  recalc();
  row->setColumnText(0, text);
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

FXKSimpleRow* FXKSimpleList::getCurrentRow() const { return dynamic_cast<FXKSimpleRow*>(getCurrentNode()); }

void FXKSimpleList::refresh(FXuint flags) {
  FXKBrowserView::refresh(flags & ~(FXKBrowser::UPDATE_REBUILD | FXKBrowser::UPDATE_ENABLING |
                                    FXKBrowser::UPDATE_CURRENT_ITEM));
}
