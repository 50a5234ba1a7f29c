#include "widgets/shell/explorer_bar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/fox/fx_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/fox/fx_window_ext.h"

using namespace FX;

namespace {

// A parent that counts the animation's start and end messages.
class CountingBar : public FXKExplorerBar {
 public:
  CountingBar(FXComposite* parent) : FXKExplorerBar(parent, LAYOUT_FILL_X | LAYOUT_FILL_Y) {}
  long handle(FXObject* sender, FXSelector sel, void* ptr) override {
    if (FXSELTYPE(sel) == SEL_COLLAPSED) ++starts;
    if (FXSELTYPE(sel) == SEL_EXPANDED) ++ends;
    return FXKExplorerBar::handle(sender, sel, ptr);
  }
  int starts = 0, ends = 0;
};

// A child that writes down the expand/collapse notices it gets, with how many
// animations its bar had seen begin and end by then (collapsing animates
// before the notice, expanding after it), and the box's height.
class Recorder : public FXFrame {
  FXDECLARE(Recorder)

 public:
  Recorder() = default;
  Recorder(FXComposite* parent, std::vector<std::string>* log, FXint h)
      : FXFrame(parent, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT, 0, 0, 0, h), log_(log) {}
  long onNotice(FXObject* sender, FXSelector, void* ptr) {
    auto* box = static_cast<FXWindow*>(sender);
    std::string line = ptr ? "expanded" : "collapsed";
    if (auto* bar = dynamic_cast<CountingBar*>(box->getParent()))
      line += " " + std::to_string(bar->starts) + "/" + std::to_string(bar->ends);
    log_->push_back(line);
    heights.push_back(box->getHeight());
    return 1;
  }
  std::vector<FXint> heights;

 private:
  std::vector<std::string>* log_ = nullptr;
};

FXDEFMAP(Recorder) RecorderMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXKGroupBox::ID_EXPANDED_CHANGED, Recorder::onNotice),
};
FXIMPLEMENT(Recorder, FXFrame, RecorderMap, ARRAYNUMBER(RecorderMap))

class GroupBoxTest : public FXAppTest<FXExtApp> {
 protected:
  GroupBoxTest() : FXAppTest(400, 500) {}
  std::unique_ptr<FXExtApp> makeApp() override { return std::make_unique<FXExtApp>("kvshelltest", "kvtest"); }
  void beforeCreate() override {
    bar = new CountingBar(main);
    box = new FXKGroupBox(bar, FXWString(u"Tasks"), LAYOUT_FILL_X);
    first = new Recorder(box, &log, 60);
    new Recorder(box, &log, 40);
    box->setSettingsSection("GroupBoxTest");
    // The store outlives the application: start each test from no saved state.
    app->reg().deleteSection("GroupBoxTest");
    app->reg().deleteSection("GroupBoxTestKept");
  }
  void afterCreate() override {
    main->show(PLACEMENT_SCREEN);
    settle();
  }
  // Clicks the header as the pointer would: press and release inside it.
  void clickHeader() {
    FXEvent event{};
    event.win_x = 30;
    event.win_y = 10;
    box->handle(box, FXSEL(SEL_LEFTBUTTONPRESS, 0), &event);
    box->handle(box, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &event);
  }

  CountingBar* bar = nullptr;
  FXKGroupBox* box = nullptr;
  std::vector<std::string> log;
  Recorder* first = nullptr;
};

TEST_F(GroupBoxTest, CollapsesAfterItsAnimationAndExpandsBeforeIt) {
  const FXint full = box->getHeight();
  ASSERT_GT(full, FXKGroupBox::kHeaderHeight + 100);

  auto t0 = std::chrono::steady_clock::now();
  clickHeader();
  auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_TRUE(box->getState() & FXKGroupBox::STATE_COLLAPSED);
  // The body slid away before the children heard of it.
  EXPECT_EQ(log, (std::vector<std::string>{"collapsed 1/1", "collapsed 1/1"}));
  EXPECT_GE(took, std::chrono::milliseconds(450));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  EXPECT_EQ(bar->starts, 1);
  EXPECT_EQ(bar->ends, 1);
  EXPECT_FALSE(bar->isChildAnimating());
  settle();
  EXPECT_EQ(box->getHeight(), FXKGroupBox::kHeaderHeight);
  EXPECT_FALSE(box->isComposite());

  log.clear();
  first->heights.clear();
  t0 = std::chrono::steady_clock::now();
  clickHeader();
  took = std::chrono::steady_clock::now() - t0;
  EXPECT_FALSE(box->getState() & FXKGroupBox::STATE_COLLAPSED);
  // Told while still at header height, then the body slid in.
  EXPECT_EQ(log, (std::vector<std::string>{"expanded 1/1", "expanded 1/1"}));
  EXPECT_EQ(first->heights, (std::vector<FXint>{FXKGroupBox::kHeaderHeight}));
  EXPECT_GE(took, std::chrono::milliseconds(450));
  settle();
  EXPECT_EQ(box->getHeight(), full);
  EXPECT_EQ(bar->starts, 2);
  EXPECT_EQ(bar->ends, 2);
}

TEST_F(GroupBoxTest, ReleaseWithoutPressAndHoverDoNotToggle) {
  FXEvent event{};
  event.win_x = 30;
  event.win_y = 10;
  box->handle(box, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &event);
  EXPECT_EQ(box->getState() & FXKGroupBox::STATE_COLLAPSED, 0u);
  box->handle(box, FXSEL(SEL_MOTION, 0), &event);
  EXPECT_EQ(box->getState(), FXKGroupBox::STATE_HOT);
  EXPECT_TRUE(log.empty());
  // Pressing in the body does nothing; the pointer leaving drops hot.
  event.win_y = 40;
  box->handle(box, FXSEL(SEL_LEFTBUTTONPRESS, 0), &event);
  EXPECT_EQ(box->getState(), FXKGroupBox::STATE_HOT);
  box->handle(box, FXSEL(SEL_LEAVE, 0), &event);
  EXPECT_EQ(box->getState(), 0u);
}

TEST_F(GroupBoxTest, KeepsGroupStateInTheSettings) {
  clickHeader();
  box->writeSettings();
  // The whole state word: the click left the pointer hot over the header.
  EXPECT_EQ(app->reg().readIntEntry("GroupBoxTest", "GroupState", -1), 0x8 | 0x2);

  app->reg().writeIntEntry("GroupBoxTest", "GroupState", 0);
  log.clear();
  EXPECT_TRUE(box->readSettings());
  EXPECT_EQ(box->getState(), 0u);
  EXPECT_EQ(log.size(), 2u);

}

// A box goes with its state and the next box in its place starts with it:
// collapsed at once, its children told, no animation.
TEST_F(GroupBoxTest, StateKeptFromOneBoxToTheNext) {
  auto* kept = new FXKGroupBox(bar, FXWString(u"Kept"), LAYOUT_FILL_X);
  new Recorder(kept, &log, 50);
  kept->setSettingsSection("GroupBoxTestKept");
  kept->create();
  bar->recalc();
  settle();
  kept->setState(FXKGroupBox::STATE_COLLAPSED);
  log.clear();
  kept->destroy();
  EXPECT_EQ(app->reg().readIntEntry("GroupBoxTestKept", "GroupState", -1), FXint(FXKGroupBox::STATE_COLLAPSED));
  delete kept;

  auto* next = new FXKGroupBox(bar, FXWString(u"Kept"), LAYOUT_FILL_X);
  new Recorder(next, &log, 50);
  next->setSettingsSection("GroupBoxTestKept");
  const auto t0 = std::chrono::steady_clock::now();
  next->create();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
  EXPECT_EQ(next->getState(), FXKGroupBox::STATE_COLLAPSED);
  // Told at once, no animation begun.
  EXPECT_EQ(log, (std::vector<std::string>{"collapsed 1/1"}));
  bar->recalc();
  settle();
  EXPECT_EQ(next->getHeight(), FXKGroupBox::kHeaderHeight);
}

TEST_F(GroupBoxTest, HoldsItsMinimumWidthAndBarSizes) {
  // A short title still asks for 200 pixels.
  EXPECT_EQ(box->getDefaultWidth(), FXKGroupBox::kMinimumWidth);
  box->setTitle(FXWString(std::u16string(200, u'W')));
  EXPECT_GT(box->getDefaultWidth(), FXKGroupBox::kMinimumWidth);

  auto* empty = new FXKExplorerBar(main, LAYOUT_FILL_Y);
  empty->create();
  EXPECT_EQ(empty->getDefaultWidth(), 0);
  EXPECT_EQ(empty->getDefaultHeight(), 0);

  // The bar stacks its boxes with its 10 pixel margins.
  settle();
  EXPECT_EQ(box->getX(), 10);
  EXPECT_EQ(box->getY(), 10);
  EXPECT_EQ(bar->getBackColor(), FXKExplorerBar::kBackColor);
  // Between the margin and the box, the bar's blue shows on screen.
  EXPECT_EQ(pixelOnceShown(bar, 4, 4, FXKExplorerBar::kBackColor), FXKExplorerBar::kBackColor);
}

// The look of a display below 24 bits, drawn here by hand: a white header
// framed in the border colour with a black chevron, the body in the back colour.
class PlainBox : public FXKGroupBox {
 public:
  using FXKGroupBox::FXKGroupBox;
  void paintPlainNow() {
    FXDCWindow dc(this);
    paintPlain(dc, FXRectangle(0, 0, width, height));
  }
};

TEST_F(GroupBoxTest, PlainLookBelow24Bits) {
  auto* plain = new PlainBox(bar, FXWString(u"Plain"), LAYOUT_FILL_X);
  new FXFrame(plain, LAYOUT_FIX_HEIGHT, 0, 0, 0, 30);
  plain->setBackColor(FXRGB(0, 90, 0));
  plain->setBorderColor(FXRGB(90, 0, 0));
  plain->create();
  bar->recalc();
  settle();
  ASSERT_GT(plain->getHeight(), 40);
  plain->paintPlainNow();
  app->flush(true);
  const FXint w = plain->getWidth();
  EXPECT_EQ(readPixel(plain, w / 2, 3), FXRGB(255, 255, 255));
  EXPECT_EQ(readPixel(plain, w / 2, 0), FXRGB(90, 0, 0));
  EXPECT_EQ(readPixel(plain, 0, 30), FXRGB(90, 0, 0));
  EXPECT_EQ(readPixel(plain, 3, plain->getHeight() - 3), FXRGB(0, 90, 0));
  // The chevron's lines in the 16-pixel square at the right of the header.
  int black = 0;
  const FXint sx = w - 8 - 16, sy = (FXKGroupBox::kHeaderHeight - 16) / 2;
  for (FXint y = sy; y < sy + 16; ++y)
    for (FXint x = sx; x < sx + 16; ++x)
      if (readPixel(plain, x, y) == FXRGB(0, 0, 0)) ++black;
  EXPECT_GT(black, 8);
}

TEST_F(GroupBoxTest, AutoHideFollowsTheChildren) {
  auto* hiding = new FXKGroupBox(bar, FXWString(u"Auto"), FXuint(LAYOUT_FILL_X) | FXKGroupBox::GROUPBOX_AUTOHIDE);
  auto* child = new FXFrame(hiding, 0, 0, 0, 10, 10);
  hiding->create();
  child->hide();
  hiding->handle(hiding, FXSEL(SEL_UPDATE, 0), nullptr);
  EXPECT_FALSE(hiding->shown());
  child->show();
  hiding->handle(hiding, FXSEL(SEL_UPDATE, 0), nullptr);
  EXPECT_TRUE(hiding->shown());
}


// ---- explorer bar command

// A command whose active look and update mark the test switches (FOX keeps
// the flags protected).
class SwitchedCommand : public FXKExplorerBarCommand {
 public:
  using FXKExplorerBarCommand::FXKExplorerBarCommand;
  void setActive(bool on) {
    if (on)
      flags |= FLAG_ACTIVE;
    else
      flags &= ~FLAG_ACTIVE;
  }
  void leaveAlone() { flags |= FLAG_NO_REFRESH; }
};

// A target that answers the update pass by disabling the command it asks for.
class StateTarget : public FXObject {
  FXDECLARE(StateTarget)

 public:
  enum { ID_STATE = 7 };
  long onUpdState(FXObject* sender, FXSelector, void*) {
    ++updates;
    sender->handle(this, FXSEL(SEL_COMMAND, FXWindow::ID_DISABLE), nullptr);
    return 1;
  }
  int updates = 0;
};

FXDEFMAP(StateTarget) StateTargetMap[] = {
    FXMAPFUNC(SEL_UPDATE, StateTarget::ID_STATE, StateTarget::onUpdState),
};
FXIMPLEMENT(StateTarget, FXObject, StateTargetMap, ARRAYNUMBER(StateTargetMap))

class ExplorerBarCommandTest : public FXAppTest<FXExtApp> {
 protected:
  ExplorerBarCommandTest() : FXAppTest(300, 120) {}
  std::unique_ptr<FXExtApp> makeApp() override { return std::make_unique<FXExtApp>("kvshelltest", "kvtest"); }
  void beforeCreate() override {
    holder = new FXVerticalFrame(main, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    holder->setBackColor(kParent);
    command = new SwitchedCommand(holder, "Repair the disk", nullptr, nullptr, 0, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT);
    command->setHeight(30);
    command->setBackColor(kBack);
    command->setSelBackColor(kSelBack);
  }
  void afterCreate() override {
    main->show(PLACEMENT_SCREEN);
    settle();
  }
  // How many pixels of the label's band carry the colour.
  int inkOf(FXColor color) {
    int n = 0;
    for (FXint y = 4; y < 26; ++y)
      for (FXint x = 22; x < 120; ++x)
        if (readPixel(command, x, y) == (color | 0xFF000000u)) ++n;
    return n;
  }
  void repaint() {
    command->update();
    settle();
  }
  static constexpr FXColor kBack = FXRGB(255, 255, 255);
  static constexpr FXColor kSelBack = FXRGB(40, 40, 40);
  static constexpr FXColor kParent = FXRGB(200, 0, 0);
  FXVerticalFrame* holder = nullptr;
  SwitchedCommand* command = nullptr;
};

TEST_F(ExplorerBarCommandTest, ExplorerColoursAndActiveBackground) {
  // Resting: the back colour around the label, the label in the explorer's dark blue.
  EXPECT_EQ(pixelOnceShown(command, command->getWidth() - 4, 3, kBack | 0xFF000000u), kBack | 0xFF000000u);
  EXPECT_EQ(command->getTextColor(), FXColor(0xFFC65D21));
  EXPECT_TRUE(shownWithin(command, [&] { return inkOf(0xFFC65D21) > 2; }));
  EXPECT_EQ(inkOf(0xFFFF8E42), 0);
  // Active: the selection colour behind, the label in the light blue.
  command->setActive(true);
  repaint();
  EXPECT_EQ(pixelOnceShown(command, command->getWidth() - 4, 3, kSelBack | 0xFF000000u), kSelBack | 0xFF000000u);
  EXPECT_EQ(command->getSelTextColor(), FXColor(0xFFFF8E42));
  EXPECT_TRUE(shownWithin(command, [&] { return inkOf(0xFFFF8E42) > 2 && inkOf(0xFFC65D21) == 0; }));
  EXPECT_EQ(command->currentBackColor(), kSelBack);
  command->setActive(false);
  repaint();
  EXPECT_EQ(pixelOnceShown(command, command->getWidth() - 4, 3, kBack | 0xFF000000u), kBack | 0xFF000000u);
}

TEST_F(ExplorerBarCommandTest, OptionKeepsTheBackWhileActive) {
  auto* keeping = new SwitchedCommand(holder, "Keep", nullptr, nullptr, 0, 0x8000000);
  keeping->setBackColor(kBack);
  keeping->setSelBackColor(kSelBack);
  keeping->create();
  keeping->setActive(true);
  EXPECT_EQ(keeping->currentBackColor(), kBack);
}

TEST_F(ExplorerBarCommandTest, UpdatePassAsksTheTargetUnlessLeftAlone) {
  StateTarget asked, ignored;
  command->setTarget(&asked);
  command->setSelector(StateTarget::ID_STATE);
  auto* alone = new SwitchedCommand(holder, "Alone", nullptr, &ignored, StateTarget::ID_STATE, MENU_AUTOGRAY);
  alone->leaveAlone();
  alone->create();
  // The application's update pass walks every window while idle.
  app->refresh();
  for (int i = 0; i < 100 && asked.updates == 0; ++i) settle(2);
  EXPECT_GT(asked.updates, 0);
  EXPECT_FALSE(command->isEnabled());
  // The command left alone was never asked, nor greyed for want of an answer.
  EXPECT_EQ(ignored.updates, 0);
  EXPECT_TRUE(alone->isEnabled());
  alone->refresh();
  EXPECT_EQ(ignored.updates, 0);
  // Asked directly, the same way.
  command->enable();
  const int before = asked.updates;
  command->refresh();
  EXPECT_EQ(asked.updates, before + 1);
  EXPECT_FALSE(command->isEnabled());
  command->setTarget(nullptr);
  alone->setTarget(nullptr);
}

// Painted by hand over a colour already on screen: a command whose parent
// paints behind it draws only its label; any other fills around it.
TEST_F(ExplorerBarCommandTest, TransparentCommandDrawsOnlyItsInk) {
  const FXColor under = FXRGB(0, 200, 0);
  auto paintOver = [&] {
    {
      FXDCWindow dc(command);
      dc.setForeground(under);
      dc.fillRectangle(0, 0, command->getWidth(), command->getHeight());
    }
    FXEvent event{};
    event.rect = FXRectangle(0, 0, command->getWidth(), command->getHeight());
    command->handle(command, FXSEL(SEL_PAINT, 0), &event);
    app->flush(true);
  };
  fxSetTransparent(command);
  paintOver();
  EXPECT_EQ(readPixel(command, command->getWidth() - 4, 3), under);
  EXPECT_GT(inkOf(0xFFC65D21), 2);
  fxSetTransparent(command, false);
  paintOver();
  EXPECT_EQ(readPixel(command, command->getWidth() - 4, 3), kBack | 0xFF000000u);
  EXPECT_GT(inkOf(0xFFC65D21), 2);
}

TEST_F(ExplorerBarCommandTest, AcceleratorAtTheRightAndIconAtTheLeft) {
  std::vector<FXColor> green(16 * 16, FXRGB(0, 200, 0));
  FXIcon icon(app.get(), green.data(), 0, 0, 16, 16);
  icon.create();
  auto* open = new SwitchedCommand(holder, "Open\tCtrl+O", &icon, nullptr, 0, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT);
  open->setHeight(30);
  open->setBackColor(kBack);
  open->create();
  holder->recalc();
  settle();
  ASSERT_EQ(open->getAccelText(), FXString("Ctrl+O"));
  auto inkIn = [&](FXint x0, FXint x1) {
    int n = 0;
    for (FXint y = 4; y < 26; ++y)
      for (FXint x = x0; x < x1; ++x)
        if (readPixel(open, x, y) == 0xFFC65D21u) ++n;
    return n;
  };
  const FXint w = open->getWidth();
  // FOX's places: the accelerator ends 16 pixels before the right edge.
  EXPECT_TRUE(shownWithin(open, [&] { return inkIn(w - 16 - 60, w - 16) > 2; }));
  EXPECT_EQ(inkIn(w - 15, w), 0);
  EXPECT_EQ(pixelOnceShown(open, 3 + 8, 15, FXRGB(0, 200, 0)), FXRGB(0, 200, 0));
  open->setIcon(nullptr);
}

}  // namespace
