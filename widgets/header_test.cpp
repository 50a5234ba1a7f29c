#include "widgets/header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

struct Note {
  FXuint type;
  FXival data;
};

class Target : public FXObject {
 public:
  std::vector<Note> log;
  // Only the column notifications; presses and updates go on to the header.
  long handle(FXObject*, FXSelector sel, void* ptr) override {
    const FXuint type = FXSELTYPE(sel);
    if (type != SEL_INSERTED && type != SEL_DELETED && type != SEL_CHANGED) return 0;
    log.push_back({type, static_cast<FXival>(reinterpret_cast<FXuval>(ptr))});
    return 1;
  }
};

FXKColumnRecord column(FXint key, const char16_t* caption, FXint width, FXuint flags = 0) {
  FXKColumnRecord r;
  r.key = key;
  r.caption = FXWString(caption);
  r.name = FXWString(caption);
  r.width = width;
  r.flags = flags;
  return r;
}

class HeaderTest : public kvtest::GuiTest {
 protected:
  void make(std::vector<FXKColumnRecord> columns, FXuint options = HEADER_RESIZE | HEADER_TRACKING) {
    header = new FXKHeader(main, &target, 70, options | LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0);
    for (auto& c : columns) header->appendColumn(c, false);
    show();
  }
  FXEvent event(FXint x, FXuint type) {
    FXEvent ev{};
    ev.type = type;
    ev.win_x = x, ev.win_y = 5, ev.root_x = x, ev.root_y = 5, ev.click_count = 1;
    return ev;
  }
  long send(FXuint type, FXint x) {
    FXEvent ev = event(x, type);
    if (type == SEL_LEFTBUTTONPRESS) ev.state = 0;
    if (type == SEL_MOTION) ev.state = pressed ? LEFTBUTTONMASK : 0;
    return header->handle(header, FXSEL(type, 0), &ev);
  }
  Target target;
  FXKHeader* header = nullptr;
  bool pressed = false;
};

TEST_F(HeaderTest, RecordsWidthsAndLookUps) {
  auto name = column(1, u"Name", 100);
  name.minWidth = 40;
  make({name, column(7, u"Size", 60), column(FXKColumnRecord::CHECK_COLUMN, u"", 20)});
  EXPECT_EQ(header->findColumn(7), 1);
  EXPECT_EQ(header->findColumn(99), -1);
  EXPECT_EQ(header->findColumnByName(FXWString(u"Size")), 1);
  EXPECT_EQ(header->getColumn(3), nullptr);
  EXPECT_EQ(header->getColumn(-1), nullptr);
  header->setColumnWidth(0, 10, false);
  EXPECT_EQ(header->getColumnWidth(0), 40);
  header->setColumnWidth(1, -5, false);
  EXPECT_EQ(header->getColumnWidth(1), 0);
  EXPECT_EQ(header->getDefaultItemWidth(2), 0);  // no padding, border or caption
  EXPECT_GT(header->getDefaultItemWidth(0), 0);
}

TEST_F(HeaderTest, HidingAndShowingNotifyOnlyOnChange) {
  make({column(1, u"Name", 100), column(2, u"Size", 60)});
  header->hideColumn(1, true);
  header->hideColumn(1, true);
  EXPECT_FALSE(header->isColumnVisible(1));
  EXPECT_EQ(header->getColumnWidth(1), 0);
  header->showColumn(1, true);
  header->showColumn(1, true);
  EXPECT_EQ(header->getColumnWidth(1), 60);  // the width it had
  header->showColumn(0, true);
  ASSERT_EQ(target.log.size(), 2u);
  EXPECT_EQ(target.log[0].type, SEL_DELETED);
  EXPECT_EQ(target.log[0].data, 1);
  EXPECT_EQ(target.log[1].type, SEL_INSERTED);
  EXPECT_EQ(target.log[1].data, 1);
}

TEST_F(HeaderTest, TheSplitCursorBandAroundVisibleEdges) {
  make({column(1, u"Name", 100), column(2, u"Hidden", 50, FXKColumnRecord::COLUMN_HIDDEN),
        column(3, u"Size", 60)});
  FXCursor* split = app->getDefaultCursor(DEF_HSPLIT_CURSOR);
  struct Case {
    FXint x;
    bool split;
  } cases[] = {
      {91, false}, {92, true}, {100, true}, {107, true}, {108, false},  // Name's edge at 100
      {152, true}, {167, true}, {168, false}, {150, false},             // Size's at 160; none at 150
  };
  for (const Case& c : cases) {
    send(SEL_MOTION, c.x);
    EXPECT_EQ(header->getDefaultCursor() == split, c.split) << c.x;
  }
  EXPECT_EQ(header->splitAt(150), -1);
}

TEST_F(HeaderTest, APressOnAFixedWidthSplitDoesNotResize) {
  make({column(1, u"Check", 20, FXKColumnRecord::COLUMN_FIXED_WIDTH), column(2, u"Name", 100)});
  pressed = true;
  send(SEL_LEFTBUTTONPRESS, 18);
  EXPECT_FALSE(header->isResizing());
  send(SEL_MOTION, 60);
  send(SEL_LEFTBUTTONRELEASE, 60);
  pressed = false;
  EXPECT_EQ(header->getColumnWidth(0), 20);

  // The ordinary column resizes, tracking.
  pressed = true;
  send(SEL_LEFTBUTTONPRESS, 118);
  EXPECT_TRUE(header->isResizing());
  send(SEL_MOTION, 150);
  send(SEL_LEFTBUTTONRELEASE, 150);
  pressed = false;
  EXPECT_GT(header->getColumnWidth(1), 100);
}

TEST_F(HeaderTest, SwapAndMoveReorderTheRecords) {
  make({column(1, u"A", 50), column(2, u"B", 50), column(3, u"C", 50)});
  auto keys = [&] {
    std::string out;
    for (FXint i = 0; i < header->getNumItems(); ++i) out += std::to_string(header->getColumn(i)->key);
    return out;
  };
  header->swapColumns(0, 2, true);
  EXPECT_EQ(keys(), "321");
  header->moveColumn(0, 2, true);
  EXPECT_EQ(keys(), "213");
  header->moveColumn(2, 0, false);
  EXPECT_EQ(keys(), "321");
  header->moveColumn(0, 5, true);  // out of range: nothing
  EXPECT_EQ(keys(), "321");
  ASSERT_EQ(target.log.size(), 2u);
  EXPECT_EQ(target.log[0].type, SEL_CHANGED);
  EXPECT_EQ(target.log[0].data, -1);
}

TEST_F(HeaderTest, TheColumnMenuOffersWhatIsNotFixed) {
  make({column(1, u"Name", 100, FXKColumnRecord::COLUMN_ALWAYS_VISIBLE), column(2, u"Size", 60),
        column(3, u"Fixed", 60, FXKColumnRecord::COLUMN_FIXED), column(4, u"Gone", 60, FXKColumnRecord::COLUMN_HIDDEN)});
  header->handle(header, FXSEL(SEL_COMMAND, FXKHeader::ID_COLUMN_MENU), nullptr);
  FXMenuPane* pane = header->columnMenu();
  ASSERT_NE(pane, nullptr);
  std::vector<std::string> labels;
  std::vector<FXMenuCheck*> checks;
  for (FXWindow* w = pane->getFirst(); w; w = w->getNext()) {
    auto* check = dynamic_cast<FXMenuCheck*>(w);
    ASSERT_NE(check, nullptr);
    labels.push_back(check->getText().text());
    checks.push_back(check);
    header->handle(check, FXSEL(SEL_UPDATE, check->getSelector()), nullptr);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"Name", "Size", "Gone"}));
  EXPECT_FALSE(checks[0]->isEnabled());
  EXPECT_EQ(checks[0]->getCheck(), TRUE);
  EXPECT_EQ(checks[1]->getCheck(), TRUE);
  EXPECT_EQ(checks[2]->getCheck(), FALSE);
  pane->popdown();

  // The entry toggles its column: shown, then the columns changed.
  header->handle(checks[2], FXSEL(SEL_COMMAND, FXKHeader::ID_COLUMN_FIRST + 3), nullptr);
  EXPECT_TRUE(header->isColumnVisible(3));
  ASSERT_EQ(target.log.size(), 2u);
  EXPECT_EQ(target.log[0].type, SEL_INSERTED);
  EXPECT_EQ(target.log[1].type, SEL_CHANGED);
}

TEST_F(HeaderTest, AllColumnsFixedShowNoMenu) {
  make({column(1, u"A", 50, FXKColumnRecord::COLUMN_FIXED), column(2, u"B", 50, FXKColumnRecord::COLUMN_FIXED)});
  header->handle(header, FXSEL(SEL_RIGHTBUTTONRELEASE, 0), nullptr);
  EXPECT_EQ(header->columnMenu(), nullptr);
}

}  // namespace
