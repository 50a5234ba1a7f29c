#include "widgets/combo_button.h"

#include <gtest/gtest.h>

#include <vector>

#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

class Target : public FXObject {
 public:
  bool takePress = false;
  std::vector<std::pair<FXuint, FXuval>> log;
  long handle(FXObject*, FXSelector sel, void* ptr) override {
    const FXuint type = FXSELTYPE(sel);
    if (type == SEL_LEFTBUTTONPRESS) return takePress ? 1 : 0;
    if (type != SEL_COMMAND) return 0;
    log.push_back({type, reinterpret_cast<FXuval>(ptr)});
    return 1;
  }
};

class ComboButtonTest : public kvtest::GuiTest {
 protected:
  void make() {
    pane = new FXMenuPane(main);
    new FXMenuCommand(pane, "one");
    button = new FXKComboButton(main, "Go", pane, &target, 5);
    show();
    button->resize(80, 24);
  }
  long mouse(FXuint type, FXint x) {
    FXEvent ev{};
    ev.type = type;
    ev.win_x = x, ev.win_y = 10, ev.click_count = 1;
    translate(ev);
    return button->handle(button, FXSEL(type, 0), &ev);
  }
  void translate(FXEvent& ev) { button->translateCoordinatesTo(ev.root_x, ev.root_y, main->getRoot(), ev.win_x, ev.win_y); }
  Target target;
  FXMenuPane* pane = nullptr;
  FXKComboButton* button = nullptr;
};

TEST_F(ComboButtonTest, TheMainPartPushesAndReturnsUp) {
  make();
  mouse(SEL_LEFTBUTTONPRESS, 10);
  EXPECT_EQ(button->getState(), FXKComboButton::STATE_PRESSED);
  mouse(SEL_LEFTBUTTONRELEASE, 10);
  EXPECT_EQ(button->getState(), FXKComboButton::STATE_UP);
  ASSERT_EQ(target.log.size(), 1u);
  EXPECT_EQ(target.log[0].second, 1u);
}

TEST_F(ComboButtonTest, AnEngagedButtonStaysEngaged) {
  make();
  button->setState(FXKComboButton::STATE_ENGAGED);
  mouse(SEL_LEFTBUTTONPRESS, 10);
  mouse(SEL_LEFTBUTTONRELEASE, 10);
  EXPECT_EQ(button->getState(), FXKComboButton::STATE_ENGAGED);
  EXPECT_EQ(target.log.size(), 1u);
}

TEST_F(ComboButtonTest, ATargetThatTakesThePressSuppressesTheCommand) {
  make();
  target.takePress = true;
  mouse(SEL_LEFTBUTTONPRESS, 10);
  EXPECT_EQ(button->getState(), FXKComboButton::STATE_UP);
  EXPECT_FALSE(button->isPressedFlag());
  mouse(SEL_LEFTBUTTONRELEASE, 10);
  EXPECT_TRUE(target.log.empty());
}

TEST_F(ComboButtonTest, TheDropDownPartPostsTheMenuAndHoverDoesNotRepaint) {
  make();
  mouse(SEL_LEFTBUTTONPRESS, button->splitX() + 3);
  EXPECT_EQ(button->getState(), FXKComboButton::STATE_POSTED);
  EXPECT_TRUE(pane->shown());
  const int before = button->hoverRepaints();
  mouse(SEL_ENTER, 10);
  mouse(SEL_LEAVE, 10);
  EXPECT_EQ(button->hoverRepaints(), before);
  button->handle(button, FXSEL(SEL_COMMAND, FXWindow::ID_UNPOST), nullptr);
  EXPECT_EQ(button->getState(), FXKComboButton::STATE_UP);
  EXPECT_FALSE(pane->shown());
  mouse(SEL_ENTER, 10);
  EXPECT_EQ(button->hoverRepaints(), before + 1);
  EXPECT_TRUE(target.log.empty());
}

}  // namespace
