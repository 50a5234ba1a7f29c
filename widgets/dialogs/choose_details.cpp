#include "widgets/dialogs/choose_details.h"

#include <algorithm>
#include <utility>

#include "platform/fox/fx_app.h"
#include "widgets/header.h"
#include "widgets/simple_list.h"

using namespace FX;

namespace {

FXString narrow(const FXWString& text) { return FXString(text.toUtf8().c_str()); }

FXString caption(const char16_t* text) { return narrow(FXWString(text)).substitute("\xE2\x8E\x82", "&"); }

constexpr FXuint kHidden = FXKColumnRecord::COLUMN_HIDDEN;
constexpr FXuint kAlwaysVisible = FXKColumnRecord::COLUMN_ALWAYS_VISIBLE;
constexpr FXuint kFixed = FXKColumnRecord::COLUMN_FIXED;

}  // namespace

FXDEFMAP(FXKChooseDetailsDialog) FXKChooseDetailsDialogMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXKChooseDetailsDialog::ID_MOVE_UP, FXKChooseDetailsDialog::onCmdMoveUp),
    FXMAPFUNC(SEL_COMMAND, FXKChooseDetailsDialog::ID_MOVE_DOWN, FXKChooseDetailsDialog::onCmdMoveDown),
    FXMAPFUNC(SEL_COMMAND, FXDialogBox::ID_ACCEPT, FXKChooseDetailsDialog::onCmdOK),
};
FXIMPLEMENT(FXKChooseDetailsDialog, FXDialogBox, FXKChooseDetailsDialogMap, ARRAYNUMBER(FXKChooseDetailsDialogMap))

FXKChooseDetailsDialog::FXKChooseDetailsDialog(FXWindow* owner, FXKHeader* header)
    : FXDialogBox(owner, "Choose Columns", FXuint(DECOR_TITLE) | DECOR_BORDER | DECOR_CLOSE | DECOR_RESIZE, 0, 0, 0, 0, 0, 0, 0,
                  0, 0, 0),
      header_(header) {
  auto* content = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 10, 10, 10, 10, 0, 8);
  auto* title = new FXLabel(content, "Choose Columns", nullptr, FXuint(JUSTIFY_LEFT) | LAYOUT_FILL_X, 0, 0, 0, 0, 2, 2, 2, 2);
  if (auto* app = dynamic_cast<FXExtApp*>(getApp()))
    if (FXFont* bold = app->getStockFont(1)) title->setFont(bold);

  auto* row = new FXHorizontalFrame(content, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  auto* listFrame = new FXVerticalFrame(row, FXuint(FRAME_SUNKEN) | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0,
                                        0, 0, 0, 0, 4, 4);
  list_ = new FXKSimpleList(listFrame, LAYOUT_FILL_X | LAYOUT_FILL_Y, this, ID_LIST);
  list_->addColumn(FXWString(), 0x1b20, FXKColumnRecord::CHECK_COLUMN);
  const FXint textKey = list_->addColumn(FXWString(u"Columns"), 0x1920, 0);

  for (FXint i = 0; header_ && i < header_->getNumItems(); ++i) {
    const FXKColumnRecord* column = header_->getColumn(i);
    if (!column || (column->flags & kFixed)) continue;
    if ((column->flags & kHidden) && (column->flags & kAlwaysVisible)) continue;
    FXKSimpleRow* line = list_->addRow(column->caption);
    line->setColumnText(textKey, column->caption);
    list_->checkRow(line, !(column->flags & kHidden), false);
    if (column->flags & kAlwaysVisible) list_->setRowCheckable(line, false, false);
    lines_.push_back({line, column->key});
  }

  auto* side = new FXVerticalFrame(row, LAYOUT_FILL_Y, 0, 0, 0, 0, 5, 0, 0, 0, 5, 5);
  up_ = new FXButton(side, caption(u"Move \u2382up"), nullptr, this, ID_MOVE_UP, FXuint(BUTTON_NORMAL) | LAYOUT_FILL_X, 0, 0,
                     0, 0, 2, 2, 2, 2);
  down_ = new FXButton(side, caption(u"Move \u2382down"), nullptr, this, ID_MOVE_DOWN, FXuint(BUTTON_NORMAL) | LAYOUT_FILL_X,
                       0, 0, 0, 0, 2, 2, 2, 2);
  up_->setHelpText("Moves the selected line up or down in the list.");
  down_->setHelpText("Moves the selected line up or down in the list.");

  new FXHorizontalSeparator(this, FXuint(SEPARATOR_GROOVE) | LAYOUT_FILL_X);
  auto* footer = new FXHorizontalFrame(this, FXuint(LAYOUT_FILL_X) | PACK_UNIFORM_WIDTH, 0, 0, 0, 0, 10, 10, 8, 8, 5, 0);
  cancel_ = new FXButton(footer, caption(u"\u2382Cancel"), nullptr, this, ID_CANCEL,
                         FXuint(BUTTON_NORMAL) | LAYOUT_RIGHT, 0, 0, 0, 0, 20, 20, 2, 2);
  ok_ = new FXButton(footer, caption(u"O\u2382K"), nullptr, this, ID_ACCEPT,
                     FXuint(BUTTON_NORMAL) | BUTTON_DEFAULT | BUTTON_INITIAL | LAYOUT_RIGHT, 0, 0, 0, 0, 20, 20, 2, 2);
  ok_->setHelpText("Closes the dialog box and saves all the changes you have made.");
  cancel_->setHelpText("Closes the dialog box without saving all the changes you have made.");
}

FXKChooseDetailsDialog::~FXKChooseDetailsDialog() = default;

FXint FXKChooseDetailsDialog::getDefaultWidth() { return std::max(FXDialogBox::getDefaultWidth(), getMinimalWidth()); }

FXint FXKChooseDetailsDialog::getDefaultHeight() {
  return std::max(FXDialogBox::getDefaultHeight(), getMinimalHeight());
}

std::vector<FXint> FXKChooseDetailsDialog::rowKeys() const {
  std::vector<FXint> keys;
  for (const Line& l : lines_) keys.push_back(l.key);
  return keys;
}

bool FXKChooseDetailsDialog::isRowChecked(int index) const {
  return list_->getBrowser()->stateSet(FXKBrowser::STATE_CHECKED).contains(row(index)->item.get());
}

bool FXKChooseDetailsDialog::isRowLocked(int index) const {
  return !list_->getBrowser()->isCheckable(row(index)->item.get());
}

// The browser's current item: the view takes it over only at its next update.
int FXKChooseDetailsDialog::currentIndex() const {
  const FXKBrowserItem* current = list_->getBrowser()->getCurrentItem();
  for (std::size_t i = 0; current && i < lines_.size(); ++i)
    if (lines_[i].row->item->isEqual(current)) return static_cast<int>(i);
  return -1;
}

// The rows keep their places; what they show and stand for changes places.
void FXKChooseDetailsDialog::exchange(int a, int b) {
  FXKBrowser* browser = list_->getBrowser();
  FXKSimpleRow* ra = row(a);
  FXKSimpleRow* rb = row(b);
  const bool checkedA = isRowChecked(a), checkedB = isRowChecked(b);
  const bool lockedA = isRowLocked(a), lockedB = isRowLocked(b);
  const bool enabledA = browser->isEnabled(ra->item.get()), enabledB = browser->isEnabled(rb->item.get());
  std::swap(lines_[static_cast<std::size_t>(a)].key, lines_[static_cast<std::size_t>(b)].key);
  for (FXint key : {0, 1}) {
    const FXWString ta = ra->getColumnText(key), tb = rb->getColumnText(key);
    ra->setColumnText(key, tb);
    rb->setColumnText(key, ta);
  }
  // Unlocked first, so the check states can be set.
  list_->setRowCheckable(ra, true, false);
  list_->setRowCheckable(rb, true, false);
  list_->checkRow(ra, checkedB, false);
  list_->checkRow(rb, checkedA, false);
  list_->setRowEnabled(ra, enabledB, false);
  list_->setRowEnabled(rb, enabledA, false);
  list_->setRowCheckable(ra, !lockedB, false);
  list_->setRowCheckable(rb, !lockedA, false);
  list_->selectRow(ra, false, false);
  list_->setCurrentRow(rb, false);
  list_->selectRow(rb, true, false);
}

long FXKChooseDetailsDialog::onCmdMoveUp(FXObject*, FXSelector, void*) {
  const int i = currentIndex();
  if (i > 0) exchange(i, i - 1);
  return 1;
}

long FXKChooseDetailsDialog::onCmdMoveDown(FXObject*, FXSelector, void*) {
  const int i = currentIndex();
  if (i >= 0 && i + 1 < rowCount()) exchange(i, i + 1);
  return 1;
}

long FXKChooseDetailsDialog::onCmdOK(FXObject* sender, FXSelector sel, void* ptr) {
  if (canAccept()) return FXDialogBox::onCmdAccept(sender, sel, ptr);
  return 1;
}

bool FXKChooseDetailsDialog::canAccept() {
  if (!header_) return true;
  std::size_t next = 0;
  for (FXint i = 0; next < lines_.size() && i < header_->getNumItems(); ++i) {
    const FXKColumnRecord* column = header_->getColumn(i);
    if (column && (column->flags & kFixed)) continue;  // stays where it is
    const Line& line = lines_[next];
    const FXint at = header_->findColumn(line.key);
    if (at >= 0 && at != i) header_->swapColumns(i, at, true);
    if (isRowChecked(static_cast<int>(next)))
      header_->showColumn(i, true);
    else
      header_->hideColumn(i, true);
    ++next;
  }
  return true;
}
