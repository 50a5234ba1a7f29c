#include "widgets/shell/explorer_packer.h"

#include <gtest/gtest.h>

#include "platform/fox/fx_test_display.h"
#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

class ExplorerPackerTest : public kvtest::GuiTest {};

// A frame whose default size is its paddings: w = pl + pr, h = pt + pb.
FXFrame* box(FXComposite* p, FXuint hints, FXint w, FXint h) {
  return new FXFrame(p, hints, 0, 0, 0, 0, w / 2, w - w / 2, h / 2, h - h / 2);
}

TEST_F(ExplorerPackerTest, TabsStartRowsAndFillersTakeTheRest) {
  auto* packer = new FXKExplorerPacker(main, LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT, 0, 0, 200, 100);
  FXFrame* tab1 = box(packer, LAYOUT_SIDE_LEFT, 10, 20);
  FXFrame* holder = box(packer, LAYOUT_FILL_X, 40, 30);
  FXFrame* tab2 = box(packer, LAYOUT_SIDE_LEFT, 10, 20);
  FXFrame* panel = box(packer, LAYOUT_FILL_X, 60, 25);
  packer->position(0, 0, 200, 100);
  packer->layout();
  struct Case {
    FXWindow* child;
    FXint x, y, w, h;
  } cases[] = {
      {tab1, 0, 0, 10, 20},
      {holder, 10, 0, 190, 30},
      {tab2, 0, 30, 10, 20},
      {panel, 10, 30, 190, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(packer->indexOfChild(c.child));
    EXPECT_EQ(c.child->getX(), c.x);
    EXPECT_EQ(c.child->getY(), c.y);
    EXPECT_EQ(c.child->getWidth(), c.w);
    EXPECT_EQ(c.child->getHeight(), c.h);
  }
  EXPECT_EQ(packer->rowStarts(), (std::vector<FXWindow*>{tab1, tab2}));
  EXPECT_EQ(packer->getDefaultWidth(), 70);  // the wider row: tab and panel
  EXPECT_EQ(packer->getHeightForWidth(200), 55);
  // A tab keeps its row when what follows it is hidden; a hidden filler
  // starts nothing.
  panel->hide();
  EXPECT_EQ(packer->rowStarts(), (std::vector<FXWindow*>{tab1, tab2}));
  EXPECT_EQ(packer->getHeightForWidth(200), 30 + 20);
  holder->hide();
  EXPECT_EQ(packer->rowStarts(), (std::vector<FXWindow*>{tab1}));
  // Toggling a tab asks for a new layout and answers 0.
  EXPECT_EQ(packer->handle(tab1, FXSEL(SEL_COMMAND, FXKExplorerPacker::ID_TOOLBAR_TAB), nullptr), 0);
}

TEST_F(ExplorerPackerTest, ANewRowStartsBelowTheTallestChildOfThePreviousOne) {
  auto* packer = new FXKExplorerPacker(main);
  box(packer, LAYOUT_SIDE_LEFT, 10, 20);
  box(packer, 0, 40, 30);
  box(packer, 0, 20, 10);  // the last of its row, and shorter than the one before
  FXFrame* tab = box(packer, LAYOUT_SIDE_LEFT, 10, 20);
  packer->position(0, 0, 200, 100);
  packer->layout();
  EXPECT_EQ(tab->getY(), 30);  // not 10: the rows do not overlap
  EXPECT_EQ(packer->getHeightForWidth(200), 50);
}

TEST_F(ExplorerPackerTest, WithoutTabsTheFirstChildStartsTheOnlyRow) {
  auto* packer = new FXKExplorerPacker(main, 0, 0, 0, 0, 0, 3, 4, 5, 6);
  FXFrame* a = box(packer, 0, 20, 10);
  FXFrame* b = box(packer, 0, 30, 14);
  EXPECT_EQ(packer->rowStarts(), (std::vector<FXWindow*>{a}));
  EXPECT_EQ(packer->getDefaultWidth(), 3 + 4 + 50);
  EXPECT_EQ(packer->getHeightForWidth(100), 5 + 6 + 14);
  packer->position(0, 0, 100, 40);
  packer->layout();
  EXPECT_EQ(b->getX(), 3 + 20);
  EXPECT_EQ(b->getY(), 5);
}

// On a 24-bit display the toolbar background shows where no child covers
// the packer: its white top row, its darker bottom row, the gradient between.
TEST_F(ExplorerPackerTest, ToolbarBackgroundOnA24BitDisplay) {
  auto* packer = new FXKExplorerPacker(main, LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT, 0, 0, 240, 60);
  packer->setBackColor(FXRGB(255, 0, 0));
  FXFrame* tab = box(packer, LAYOUT_SIDE_LEFT, 40, 20);
  tab->setBackColor(FXRGB(0, 0, 0));
  packer->create();
  show();
  if (app->getDefaultVisual()->getDepth() < 24) GTEST_SKIP() << "the display has fewer than 24 bits";
  ASSERT_EQ(packer->getWidth(), 240);
  ASSERT_EQ(packer->getHeight(), 60);
  const FXColor white = FXRGB(0xFF, 0xFF, 0xFF), line = FXRGB(0x9A, 0xAE, 0xCB);
  EXPECT_EQ(pixelOnceShown(packer, 120, 0, white), white);
  EXPECT_EQ(pixelOnceShown(packer, 239, 0, white), white);
  EXPECT_EQ(pixelOnceShown(packer, 120, 59, line), line);
  EXPECT_EQ(pixelOnceShown(packer, 0, 59, line), line);
  // The middle: a colour of the gradient, from (F4, F7, FC) down to (C8, D6, EA).
  auto inGradient = [](FXColor c) {
    return 0xC8 <= FXREDVAL(c) && FXREDVAL(c) <= 0xF4 && 0xD6 <= FXGREENVAL(c) && FXGREENVAL(c) <= 0xF7 &&
           0xEA <= FXBLUEVAL(c) && FXBLUEVAL(c) <= 0xFC;
  };
  EXPECT_TRUE(shownWithin(packer, [&] { return inGradient(readPixel(packer, 200, 30)); }))
      << std::hex << readPixel(packer, 200, 30);
  // Higher rows are lighter.
  EXPECT_GT(FXREDVAL(readPixel(packer, 200, 10)), FXREDVAL(readPixel(packer, 200, 50)));
  // The child paints itself over it.
  EXPECT_EQ(pixelOnceShown(tab, 5, 5, FXRGB(0, 0, 0)), FXRGB(0, 0, 0));
  // A new size makes a new background: the bottom row follows the edge.
  packer->setHeight(80);
  main->layout();
  packer->update();
  EXPECT_EQ(pixelOnceShown(packer, 120, 79, line), line);
}

}  // namespace
