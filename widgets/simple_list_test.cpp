#include "widgets/simple_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

class Target : public FXObject {
 public:
  std::vector<FXuint> ids;  // of the changed items, 0 for none
  long handle(FXObject*, FXSelector sel, void* ptr) override {
    if (FXSELTYPE(sel) != SEL_CHANGED) return 0;
    auto* item = dynamic_cast<FXKSimpleBrowserItem*>(static_cast<FXObject*>(ptr));
    ids.push_back(item ? item->id : 0);
    return 1;
  }
};

class SimpleListTest : public kvtest::GuiTest {
 protected:
  void make() {
    list = new FXKSimpleList(main, LAYOUT_FILL_X | LAYOUT_FILL_Y, &target, 9);
    show();
  }
  Target target;
  FXKSimpleList* list = nullptr;
};

TEST_F(SimpleListTest, ColumnKeysAreTheColumnsOwn) {
  make();
  EXPECT_EQ(list->addColumn(FXWString(u"Explicit"), 0, 42), 42);  // used to answer -1
  EXPECT_EQ(list->addColumn(FXWString(u"A"), 0, 0), 0);
  EXPECT_EQ(list->addColumn(FXWString(u"B"), 0, 0), 1);
  EXPECT_EQ(list->addColumn(FXWString(u"Other"), 0, 7), 7);
  EXPECT_EQ(list->addColumn(FXWString(u"C"), 0, 0), 2);
  EXPECT_EQ(list->getHeader()->findColumn(42), 0);
  EXPECT_EQ(list->getHeader()->findColumn(2), 4);
}

TEST_F(SimpleListTest, RowsCountUpAndTheFirstBecomesCurrentAndSelected) {
  make();
  EXPECT_EQ(list->addRowToGroup(5, FXWString(u"x")), nullptr);
  FXKSimpleRow* first = list->addRow(FXWString(u"one"));
  FXKSimpleRow* second = list->addRow(FXWString(u"two"));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->id(), 1u);
  EXPECT_EQ(second->id(), 2u);
  EXPECT_EQ(first->getColumnText(0), FXWString(u"one"));
  FXKBrowser& b = *list->getBrowser();
  EXPECT_TRUE(b.getCurrentItem()->isEqual(first->item.get()));
  EXPECT_TRUE(b.isSelected(first->item.get()));
  EXPECT_FALSE(b.isSelected(second->item.get()));
  // The current item is told; the selection is not.
  EXPECT_EQ(target.ids, (std::vector<FXuint>{1}));

  list->addGroup(3, FXWString(u"Three"));
  FXKSimpleRow* grouped = list->addRowToGroup(3, FXWString(u"g"));
  ASSERT_NE(grouped, nullptr);
  EXPECT_EQ(grouped->id(), 3u);
  EXPECT_EQ(list->groupCaption(3), FXWString(u"Three"));
}

TEST_F(SimpleListTest, RowStatesGoThroughTheBrowser) {
  make();
  FXKSimpleRow* row = list->addRow(FXWString(u"one"));
  FXKBrowser& b = *list->getBrowser();
  list->setRowCheckable(row, false, false);
  EXPECT_FALSE(b.isCheckable(row->item.get()));
  EXPECT_FALSE(b.setChecked(row->item.get(), 0, true, 1));
  list->setRowCheckable(row, true, false);
  list->checkRow(row, true, true);
  EXPECT_EQ(b.getCheckState(row->item.get()), 1);
  list->setRowEnabled(row, false, false);
  EXPECT_FALSE(b.isEnabled(row->item.get()));
  EXPECT_FALSE(b.isSelected(row->item.get()));  // disabling deselects
  // A rebuild asked by the browser keeps the list's own rows.
  list->refresh(FXKBrowser::UPDATE_REBUILD);
  EXPECT_EQ(list->itemCount(), 1u);
}

TEST_F(SimpleListTest, SingleModeFirstRowIsCurrentOnlyAndGroupsRegroupOnRebuild) {
  make();
  list->setSelectionMode(FXKBrowser::MODE_SINGLE);
  list->addColumn(FXWString(u"Name"), FXKColumnRecord::COLUMN_SORTABLE, 0);
  list->addColumn(FXWString(u"Kind"), FXKColumnRecord::COLUMN_SORTABLE | FXKColumnRecord::COLUMN_GROUPABLE, 0);
  const char* kinds[] = {"b", "a", "b"};
  std::vector<FXKSimpleRow*> rows;
  for (int i = 0; i < 3; ++i) {
    rows.push_back(list->addRow(FXWString(u"r")));
    rows.back()->setColumnText(1, FXWString::fromUtf8(kinds[i]));
  }
  FXKBrowser& b = *list->getBrowser();
  EXPECT_TRUE(b.getCurrentItem()->isEqual(rows[0]->item.get()));
  EXPECT_FALSE(b.isSelected(rows[1]->item.get()));
  EXPECT_EQ(list->getCurrentIconItem(), list->getCurrentRow());
  // Grouped by the kind column, a rebuild sorts the rows into captioned
  // groups instead of rebuilding them from the (empty) browser.
  list->setGroupingAllowed(true);
  list->setGroupColumnKey(1);
  list->refresh(FXKBrowser::UPDATE_REBUILD);
  ASSERT_EQ(list->groupCount(), 2u);
  EXPECT_EQ(list->itemCount(), 3u);
  std::vector<std::string> captions;
  for (std::size_t i = 0; i < list->groupCount(); ++i)
    captions.push_back(static_cast<FXKIconGroup*>(list->group(i))->getText().toUtf8() + ":" +
                       std::to_string(list->group(i)->children.size()));
  std::sort(captions.begin(), captions.end());
  EXPECT_EQ(captions, (std::vector<std::string>{"a:1", "b:2"}));
}

}  // namespace
