#include "widgets/explorer_toolbar.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>
#include <vector>

#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

using Panel = FXKExplorerToolbarPanel;

// Counts the updates its buttons ask for.
class Target : public FXObject {
 public:
  int updates = 0;
  long handle(FXObject*, FXSelector sel, void*) override {
    if (FXSELTYPE(sel) == SEL_UPDATE) ++updates;
    return 1;
  }
};

class ToolbarTest : public kvtest::GuiTest {
 protected:
  void SetUp() override {
    kvtest::GuiTest::SetUp();
    if (!app) return;
    for (int i = 0; i < 3; ++i) {
      icons[i] = new FXIcon(app.get(), nullptr, 0, 0, 16 * (i + 1), 16 * (i + 1));
    }
  }
  void TearDown() override {
    if (app) {
      delete main;
      main = nullptr;
      for (FXIcon* icon : icons) delete icon;
    }
    kvtest::GuiTest::TearDown();
  }
  // Groups of fixed widths: each button is as wide as its pads make it.
  FXKExplorerToolbar* group(const char* title, int buttons, FXuint options = 0) {
    auto* g = new FXKExplorerToolbar(panel, nullptr, options);
    g->setText(FXWString::fromUtf8(title));
    for (int i = 0; i < buttons; ++i) {
      auto* b = new FXKExplorerButton(g, "Button\tTip", icons[0], icons[1], icons[2], &target, 1,
                                      BUTTON_TOOLBAR);
      b->setOptionsEx(b->getOptionsEx() | FXKExplorerButton::EX_KEEP_PADDING);
      buttonsMade.push_back(b);
    }
    return g;
  }
  void make(FXint panelWidth, FXuint options = 0) {
    holder = new FXHorizontalFrame(main, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    panel = new Panel(holder, options | LAYOUT_FIX_WIDTH | LAYOUT_FILL_Y);
    panel->setWidth(panelWidth);
    groups.push_back(group("First", 2));
    groups.push_back(group("Second", 2));
    groups.push_back(group("Third", 1));
    show();
  }
  void resizePanel(FXint w) {
    panel->setWidth(w);
    panel->recalc();
    main->layout();
  }
  FXint lastGroupEnd() const { return groups.back()->getX() + groups.back()->getDefaultWidth(); }

  FXIcon* icons[3] = {};
  Target target;
  FXHorizontalFrame* holder = nullptr;
  Panel* panel = nullptr;
  std::vector<FXKExplorerToolbar*> groups;
  std::vector<FXKExplorerButton*> buttonsMade;
};

TEST_F(ToolbarTest, GroupsThatFitShowNoArrowsAndScrollingStaysInBounds) {
  make(390);
  const FXint total = panel->getTotalWidth();
  const FXint button = buttonsMade[0]->getDefaultWidth();  // medium icon and pads
  ASSERT_EQ(button, 32 + 2 * DEFAULT_PAD);  // a toolbar button has no frame
  ASSERT_EQ(total, 5 * button);
  EXPECT_EQ(panel->getScrollOffset(), 0);
  EXPECT_FALSE(panel->leftArrow()->shown());
  EXPECT_FALSE(panel->rightArrow()->shown());
  EXPECT_EQ(panel->getDefaultWidth(), total);

  // Forward while everything fits would push the groups right: it stays put.
  panel->handle(panel->rightArrow(), FXSEL(SEL_COMMAND, Panel::ID_SCROLL_FORWARD), nullptr);
  EXPECT_EQ(panel->getScrollOffset(), 0);

  // Narrower than the groups: the right arrow offers the rest.
  resizePanel(120);
  EXPECT_EQ(panel->getScrollOffset(), 0);
  EXPECT_TRUE(panel->rightArrow()->shown());
  EXPECT_FALSE(panel->leftArrow()->shown());
  const FXint firstX = groups[0]->getX();

  panel->handle(panel->rightArrow(), FXSEL(SEL_COMMAND, Panel::ID_SCROLL_FORWARD), nullptr);
  EXPECT_EQ(panel->getScrollOffset(), -20);
  EXPECT_EQ(groups[0]->getX(), firstX - 20);
  EXPECT_TRUE(panel->leftArrow()->shown());

  // Forward never pulls the end of the last group left of the right edge.
  for (int i = 0; i < 20; ++i)
    panel->handle(panel->rightArrow(), FXSEL(SEL_COMMAND, Panel::ID_SCROLL_FORWARD), nullptr);
  EXPECT_EQ(panel->getScrollOffset(), 120 - total);
  EXPECT_EQ(lastGroupEnd(), 120);
  EXPECT_FALSE(panel->rightArrow()->shown());
  EXPECT_TRUE(panel->leftArrow()->shown());

  // Back never gives a positive offset.
  for (int i = 0; i < 20; ++i)
    panel->handle(panel->leftArrow(), FXSEL(SEL_COMMAND, Panel::ID_SCROLL_BACK), nullptr);
  EXPECT_EQ(panel->getScrollOffset(), 0);
  EXPECT_EQ(groups[0]->getX(), firstX);
  EXPECT_FALSE(panel->leftArrow()->shown());
  EXPECT_TRUE(panel->rightArrow()->shown());

  // Scrolled, then widened until the groups fit again: back to 0.
  panel->handle(panel->rightArrow(), FXSEL(SEL_COMMAND, Panel::ID_SCROLL_FORWARD), nullptr);
  resizePanel(300);
  EXPECT_EQ(panel->getScrollOffset(), 0);
  EXPECT_FALSE(panel->leftArrow()->shown());
  EXPECT_FALSE(panel->rightArrow()->shown());
  // The last shown group reaches the right edge.
  EXPECT_EQ(groups.back()->getX() + groups.back()->getWidth(), 300);
}

TEST_F(ToolbarTest, ScrolledFarThenWidenedTheOffsetFollowsTheRightEdge) {
  make(100);
  for (int i = 0; i < 20; ++i)
    panel->handle(panel->rightArrow(), FXSEL(SEL_COMMAND, Panel::ID_SCROLL_FORWARD), nullptr);
  const FXint total = panel->getTotalWidth();
  ASSERT_EQ(panel->getScrollOffset(), 100 - total);
  resizePanel(150);  // still too narrow: the end stays at the right edge
  EXPECT_EQ(panel->getScrollOffset(), 150 - total);
  EXPECT_EQ(lastGroupEnd(), 150);
}

TEST_F(ToolbarTest, ViewModeCommandsSettingsAndButtonLooks) {
  make(390);
  FXKExplorerButton* b = buttonsMade[0];
  EXPECT_EQ(panel->getViewMode(), Panel::MODE_LARGE);
  EXPECT_EQ(b->getTipText(), "Tip");
  EXPECT_EQ(b->getText(), "");

  const int before = target.updates;
  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_SMALL_ICONS), nullptr);
  EXPECT_EQ(panel->getViewMode(), Panel::MODE_SMALL);
  EXPECT_EQ(b->getIcon(), icons[0]);
  EXPECT_EQ(target.updates, before + 5);  // every button refreshed once
  // Already small: nothing changes, nobody refreshes.
  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_SMALL_ICONS), nullptr);
  EXPECT_EQ(target.updates, before + 5);

  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_TEXT_LABELS), nullptr);
  EXPECT_EQ(panel->getViewMode(), Panel::MODE_SMALL | Panel::MODE_TEXT);
  EXPECT_EQ(b->getText(), "Button");
  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_LARGE_ICONS), nullptr);
  EXPECT_EQ(panel->getViewMode(), Panel::MODE_LARGE | Panel::MODE_TEXT);  // the text bit kept
  EXPECT_EQ(b->getIcon(), icons[2]);

  // Without labels the pads are a quarter of the icon (unless kept).
  auto* free = new FXKExplorerButton(groups[2], "Free", icons[0], icons[1], icons[2]);
  free->create();
  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_TEXT_LABELS), nullptr);
  EXPECT_EQ(free->getText(), "");
  EXPECT_EQ(free->getPadLeft(), 48 / 4);
  EXPECT_EQ(free->getPadBottom(), 48 / 4);
  EXPECT_EQ(free->getTipText(), "Free");

  // A combo button keeps room for its arrow on the right.
  auto* combo = new FXKExplorerComboButton(groups[2], "Combo", nullptr, &target, 2);
  combo->setIcons(icons[0], icons[1], icons[2]);
  combo->setFullText(FXWString::fromUtf8("Views\tChanges the view"));
  combo->create();
  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_SMALL_ICONS), nullptr);
  EXPECT_EQ(combo->getIcon(), icons[0]);
  EXPECT_EQ(combo->getText(), "");
  EXPECT_EQ(combo->getPadLeft(), 16 / 4 + 1);
  EXPECT_EQ(combo->getPadRight(), 16 / 4 + 15);
  EXPECT_EQ(combo->getTipText(), "Changes the view");
  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_TEXT_LABELS), nullptr);
  EXPECT_EQ(combo->getText(), "Views");
  EXPECT_EQ(combo->getPadRight(), 2 + 15);
  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_TEXT_LABELS), nullptr);
  panel->handle(nullptr, FXSEL(SEL_COMMAND, Panel::ID_LARGE_ICONS), nullptr);

  // The update handlers check the entry of the current size only.
  FXMenuPane pane(main);
  auto* small = new FXMenuRadio(&pane, "s", panel, Panel::ID_SMALL_ICONS);
  auto* large = new FXMenuRadio(&pane, "l", panel, Panel::ID_LARGE_ICONS);
  auto* text = new FXMenuCheck(&pane, "t", panel, Panel::ID_TEXT_LABELS);
  panel->handle(small, FXSEL(SEL_UPDATE, Panel::ID_SMALL_ICONS), nullptr);
  panel->handle(large, FXSEL(SEL_UPDATE, Panel::ID_LARGE_ICONS), nullptr);
  panel->handle(text, FXSEL(SEL_UPDATE, Panel::ID_TEXT_LABELS), nullptr);
  EXPECT_EQ(small->getCheck(), FALSE);
  EXPECT_EQ(large->getCheck(), TRUE);
  EXPECT_EQ(text->getCheck(), FALSE);

  // "ViewMode" round trip through a settings store.
  FXSettings store;
  FXWindowSettings settings(&store, "Toolbar");
  panel->setViewMode(Panel::MODE_MEDIUM | Panel::MODE_TEXT);
  panel->writeSettings(settings);
  EXPECT_EQ(store.readIntEntry("Toolbar", "ViewMode", -1), 0x12);
  panel->setViewMode(Panel::MODE_SMALL);
  EXPECT_TRUE(panel->readSettings(settings));
  EXPECT_EQ(panel->getViewMode(), 0x12u);
  EXPECT_EQ(b->getIcon(), icons[1]);
  // Without a section nothing is read or written.
  FXWindowSettings none(&store, FXString::null);
  panel->setViewMode(Panel::MODE_SMALL);
  EXPECT_FALSE(panel->readSettings(none));
  EXPECT_EQ(panel->getViewMode(), Panel::MODE_SMALL);
  // An empty section reads the current mode as its default.
  FXWindowSettings fresh(&store, "Other");
  EXPECT_TRUE(panel->readSettings(fresh));
  EXPECT_EQ(panel->getViewMode(), Panel::MODE_SMALL);
}

TEST_F(ToolbarTest, TheContextMenuOffersGroupsAndLooks) {
  make(390);
  groups[1]->setText(FXWString());  // no title: not offered
  auto* hiddenGroup = group("Kept away", 1, FXKExplorerToolbar::TOOLBAR_NOT_OFFERED);
  hiddenGroup->create();
  FXMenuPane pane(main);
  ASSERT_TRUE(panel->fillContextMenu(&pane));
  std::vector<std::string> texts;
  std::vector<FXWindow*> entries;
  for (FXWindow* w = pane.getFirst(); w; w = w->getNext()) {
    auto* label = dynamic_cast<FXMenuCaption*>(w);
    texts.push_back(label ? label->getText().text() : "-");
    entries.push_back(w);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"First", "Third", "Kept away", "-", "Small Icons", "Medium Icons",
                                             "Large Icons", "-", "Text Labels"}));
  // The group's own update hides the entry of a group not offered, and
  // checks the others by their shown state.
  pane.create();
  groups[2]->hide();
  for (FXWindow* w : entries) w->handle(nullptr, FXSEL(SEL_UPDATE, 0), nullptr);
  EXPECT_TRUE(entries[0]->shown());
  EXPECT_EQ(static_cast<FXMenuCheck*>(entries[0])->getCheck(), TRUE);
  EXPECT_EQ(static_cast<FXMenuCheck*>(entries[1])->getCheck(), FALSE);
  EXPECT_FALSE(entries[2]->shown());
  // Choosing a group's entry shows or hides the group.
  entries[1]->handle(nullptr, FXSEL(SEL_COMMAND, FXMenuCommand::ID_ACCEL), nullptr);
  entries[1]->handle(nullptr, FXSEL(SEL_LEFTBUTTONRELEASE, 0), nullptr);
  EXPECT_TRUE(groups[2]->shown());
}

TEST_F(ToolbarTest, APanelWithoutMenuShowsNone) {
  make(390, Panel::PANEL_NO_MENU);
  FXMenuPane pane(main);
  EXPECT_FALSE(panel->fillContextMenu(&pane));
  FXEvent event{};
  event.type = SEL_RIGHTBUTTONPRESS;
  EXPECT_EQ(panel->handle(nullptr, FXSEL(SEL_RIGHTBUTTONPRESS, 0), &event), 0);
}

TEST_F(ToolbarTest, GroupsAttachToTheirDocumentAndNameThemselves) {
  make(390);
  kvtest::Recorder document;
  auto* g = new FXKExplorerToolbar(panel, &document, FXKExplorerToolbar::TOOLBAR_EDGE_LINES);
  g->create();
  g->create();
  ASSERT_EQ(document.log.size(), 1u);
  EXPECT_EQ(document.log[0].type, static_cast<FXuint>(SEL_ATTACH));
  g->destroy();
  ASSERT_EQ(document.log.size(), 2u);
  EXPECT_EQ(document.log[1].type, static_cast<FXuint>(SEL_DETACH));
  delete g;
  EXPECT_EQ(document.log.size(), 2u);

  FXWString title;
  groups[0]->handle(nullptr, FXSEL(SEL_COMMAND, FXWindow::ID_GETSTRINGVALUE), &title);
  EXPECT_EQ(title.toUtf8(), "First");
  // A button told a new text takes it at its next look refresh.
  FXWString text = FXWString::fromUtf8("Copy\tCopies it");
  FXKExplorerButton* b = buttonsMade[0];
  b->handle(nullptr, FXSEL(SEL_COMMAND, FXWindow::ID_SETSTRINGVALUE), &text);
  EXPECT_TRUE(b->lookPending());
  EXPECT_EQ(b->getTipText(), "");
  b->refresh(0);
  EXPECT_EQ(b->getTipText(), "Copies it");
  EXPECT_EQ(b->getFullText().toUtf8(), "Copy\tCopies it");
}

// Reads one pixel of a window from the X server.
FXColor pixelAt(FXWindow* window, FXint x, FXint y) {
  auto* display = static_cast<Display*>(window->getApp()->getDisplay());
  XImage* image = XGetImage(display, window->id(), x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return 0;
  const unsigned long p = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return FXRGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

TEST_F(ToolbarTest, EdgeLinesArePaintedOnTopLeftAndRight) {
  make(390);
  auto* g = new FXKExplorerToolbar(panel, nullptr, FXKExplorerToolbar::TOOLBAR_EDGE_LINES, 0, 0, 0, 0, 4, 4, 4, 4);
  new FXKExplorerButton(g, "B", nullptr, nullptr, nullptr, nullptr, 0, FXuint(BUTTON_TOOLBAR) | LAYOUT_FIX_WIDTH, 0, 0, 40);
  g->setHiliteColor(FXRGB(0xFF, 0xFF, 0xFF));
  g->setShadowColor(FXRGB(0x80, 0x00, 0x00));
  g->setBackColor(FXRGB(0x20, 0x40, 0x60));
  g->create();
  panel->recalc();
  main->layout();
  app->repaint();
  app->flush(true);
  const FXint w = g->getWidth();
  ASSERT_GT(w, 10);
  EXPECT_EQ(pixelAt(g, 5, 0), FXRGB(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(pixelAt(g, 0, 5), FXRGB(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(pixelAt(g, w - 1, 5), FXRGB(0x80, 0x00, 0x00));
  EXPECT_EQ(pixelAt(g, 2, 2), FXRGB(0x20, 0x40, 0x60));  // inside: the back colour
}

}  // namespace
