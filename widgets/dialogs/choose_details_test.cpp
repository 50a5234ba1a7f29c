#include "widgets/dialogs/choose_details.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "widgets/header.h"
#include "widgets/simple_list.h"
#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

enum : FXint { kName = 1, kSize, kType, kDate, kSecret };

void click(FXWindow* button) {
  FXEvent ev{};
  ev.code = LEFTBUTTON;
  ev.win_x = 3;
  ev.win_y = 3;
  ev.type = SEL_LEFTBUTTONPRESS;
  button->handle(button, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
  ev.type = SEL_LEFTBUTTONRELEASE;
  button->handle(button, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &ev);
}

class ChooseDetailsTest : public kvtest::GuiTest {
 protected:
  void SetUp() override {
    kvtest::GuiTest::SetUp();
    if (!app) return;
    header = new FXKHeader(main, nullptr, 0);
    add(kName, "Name", FXKColumnRecord::COLUMN_FIXED);
    add(kSize, "Size", 0);
    add(kType, "Type", FXKColumnRecord::COLUMN_HIDDEN);
    add(kDate, "Date", FXKColumnRecord::COLUMN_ALWAYS_VISIBLE);
    add(kSecret, "Secret", FXKColumnRecord::COLUMN_HIDDEN | FXKColumnRecord::COLUMN_ALWAYS_VISIBLE);
    header->create();
  }
  void add(FXint key, const char* caption, FXuint flags) {
    FXKColumnRecord r;
    r.key = key;
    r.caption = FXWString::fromUtf8(caption);
    r.flags = flags;
    r.width = 60;
    header->appendColumn(r, false);
  }
  std::vector<FXint> order() const {
    std::vector<FXint> keys;
    for (FXint i = 0; i < header->getNumItems(); ++i) keys.push_back(header->getColumn(i)->key);
    return keys;
  }
  bool hidden(FXint key) const {
    return (header->getColumn(header->findColumn(key))->flags & FXKColumnRecord::COLUMN_HIDDEN) != 0;
  }
  FXKHeader* header = nullptr;
};

TEST_F(ChooseDetailsTest, ListsTheColumnsThatMayBeChosen) {
  FXKChooseDetailsDialog dialog(main, header);
  dialog.create();
  // The fixed column and the hidden must-stay-visible one are not offered.
  EXPECT_EQ(dialog.rowKeys(), (std::vector<FXint>{kSize, kType, kDate}));
  const bool checked[] = {true, false, true};
  const bool locked[] = {false, false, true};
  const char* texts[] = {"Size", "Type", "Date"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(dialog.isRowChecked(i), checked[i]) << i;
    EXPECT_EQ(dialog.isRowLocked(i), locked[i]) << i;
    EXPECT_EQ(dialog.row(i)->getColumnText(0).toUtf8(), texts[i]);
  }
  EXPECT_GE(dialog.getDefaultWidth(), 300);
  EXPECT_GE(dialog.getDefaultHeight(), 350);
}

TEST_F(ChooseDetailsTest, MovingReordersTheHeaderWithTheFixedColumnFirst) {
  auto* dialog = new FXKChooseDetailsDialog(main, header);
  dialog->create();
  dialog->show(PLACEMENT_SCREEN);
  FXKSimpleList* list = dialog->columnList();

  // Up on the first row and down on the last change nothing.
  list->setCurrentRow(dialog->row(0), false);
  click(dialog->moveUpButton());
  EXPECT_EQ(dialog->rowKeys(), (std::vector<FXint>{kSize, kType, kDate}));
  list->setCurrentRow(dialog->row(2), false);
  click(dialog->moveDownButton());
  EXPECT_EQ(dialog->rowKeys(), (std::vector<FXint>{kSize, kType, kDate}));

  // "Date" up twice: its text, check and lock travel with it, and it stays current.
  click(dialog->moveUpButton());
  click(dialog->moveUpButton());
  EXPECT_EQ(dialog->rowKeys(), (std::vector<FXint>{kDate, kSize, kType}));
  EXPECT_TRUE(dialog->row(0)->item->isEqual(list->getBrowser()->getCurrentItem()));
  EXPECT_EQ(dialog->row(0)->getColumnText(0).toUtf8(), "Date");
  EXPECT_TRUE(dialog->isRowLocked(0));
  EXPECT_TRUE(dialog->isRowChecked(0));
  EXPECT_FALSE(dialog->isRowLocked(2));
  EXPECT_FALSE(dialog->isRowChecked(2));

  // "Type" down from the middle is already last; check it, then OK.
  list->checkRow(dialog->row(2), true, false);
  list->setCurrentRow(dialog->row(1), false);
  click(dialog->moveDownButton());
  EXPECT_EQ(dialog->rowKeys(), (std::vector<FXint>{kDate, kType, kSize}));
  click(dialog->okButton());
  EXPECT_EQ(order(), (std::vector<FXint>{kName, kDate, kType, kSize, kSecret}));
  EXPECT_FALSE(hidden(kType));
  EXPECT_FALSE(hidden(kSize));
  EXPECT_FALSE(hidden(kDate));
  EXPECT_TRUE(hidden(kSecret));
  EXPECT_FALSE(dialog->shown());
  delete dialog;
}

TEST_F(ChooseDetailsTest, UncheckingHidesAndCancelLeavesTheHeaderAlone) {
  {
    FXKChooseDetailsDialog dialog(main, header);
    dialog.create();
    dialog.columnList()->checkRow(dialog.row(0), false, false);
    dialog.columnList()->setCurrentRow(dialog.row(0), false);
    click(dialog.moveDownButton());
    click(dialog.cancelButton());
  }
  EXPECT_EQ(order(), (std::vector<FXint>{kName, kSize, kType, kDate, kSecret}));
  EXPECT_FALSE(hidden(kSize));

  FXKChooseDetailsDialog dialog(main, header);
  dialog.create();
  dialog.columnList()->checkRow(dialog.row(0), false, false);
  click(dialog.okButton());
  EXPECT_TRUE(hidden(kSize));
  EXPECT_EQ(order(), (std::vector<FXint>{kName, kSize, kType, kDate, kSecret}));
}

}  // namespace
