// The help pop-up on the test display: its size rules, where it stands, how
// a click closes it, and the pop-up the help road shows once the hooks are in.
#include "widgets/dialogs/help_popup.h"

#include <gtest/gtest.h>

#include <string>

#include "gui/dialogs/help.h"
#include "textlayout/text_view.h"
#include "widgets/dialogs/dialog_hooks.h"
#include "widgets/dialogs/dialogs_testing.h"

using namespace FX;

namespace {

class HelpPopupTest : public dialogs_test::DialogTest {
 protected:
  static FXEvent press(FXint rootX, FXint rootY, FXSelector type) {
    FXEvent ev;
    ev.type = type;
    ev.root_x = rootX;
    ev.root_y = rootY;
    ev.win_x = 3;
    ev.win_y = 3;
    ev.code = LEFTBUTTON;
    ev.click_count = 1;
    return ev;
  }
  void beforeDestroy() override { FXKRemoveDialogHooks(); }
};

std::string shownText(FXKHelpPopup* popup) { return popup->view()->getLayout()->allText().toUtf8(); }

TEST_F(HelpPopupTest, WrapsAt300AndSitsAboveThePoint) {
  auto* popup = new FXKHelpPopup(main);
  popup->create();
  popup->setText(FXWString(u"Short <bold>help</bold>."));
  EXPECT_EQ(shownText(popup), "Short help.");
  const FXint shortWidth = popup->getDefaultWidth();
  EXPECT_LT(shortWidth, 150);
  EXPECT_EQ(popup->getHeightForWidth(shortWidth),
            popup->view()->getLayout()->getHeightForWidth(shortWidth - 2 * popup->getBorderWidth() - 8) + 8 +
                2 * popup->getBorderWidth());

  popup->setText(FXWString(
      u"A long help text that certainly does not fit into three hundred pixels on a single line, so it wraps."));
  const FXint w = popup->getDefaultWidth();
  EXPECT_LE(w, FXKHelpPopup::kMaxWidth + 2 * popup->getBorderWidth());
  EXPECT_GT(w, 200);
  const FXint h = popup->getHeightForWidth(w);
  EXPECT_GT(h, 2 * app->getNormalFont()->getFontHeight());

  popup->popupNear(main, 300, 250);
  EXPECT_TRUE(popup->shown());
  EXPECT_EQ(popup->getX(), 290);
  EXPECT_EQ(popup->getY(), 250 - h - 10);
  EXPECT_EQ(popup->getWidth(), w);
  EXPECT_EQ(popup->getHeight(), h);
  settle();
  // Wrapped inside the pop-up: every line of the view fits, no scroll bar.
  EXPECT_FALSE(popup->view()->horizontalShown());
  EXPECT_FALSE(popup->view()->verticalShown());
  EXPECT_LE(popup->view()->getContentWidth(), popup->view()->getWidth());
  delete popup;
}

TEST_F(HelpPopupTest, ClosesOnAClick) {
  auto* popup = new FXKHelpPopup(main);
  popup->create();
  popup->setText(FXWString(u"Click me."));
  struct Row {
    const char* what;
    bool inside, onView;
  } rows[] = {{"inside: closes on release", true, false},
              {"on the text: closes on release", true, true},
              {"outside: closes at once", false, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    popup->popupNear(main, 200, 200);
    ASSERT_TRUE(popup->shown());
    const FXint x = r.inside ? popup->getX() + 3 : popup->getX() + popup->getWidth() + 50;
    const FXint y = r.inside ? popup->getY() + 3 : popup->getY() - 50;
    FXWindow* to = r.onView ? static_cast<FXWindow*>(popup->view()) : popup;
    FXEvent down = press(x, y, SEL_LEFTBUTTONPRESS);
    to->handle(to, FXSEL(SEL_LEFTBUTTONPRESS, 0), &down);
    EXPECT_EQ(popup->shown() != 0, r.inside);
    FXEvent up = press(x, y, SEL_LEFTBUTTONRELEASE);
    to->handle(to, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &up);
    EXPECT_FALSE(popup->shown());
  }
  delete popup;
}

// The help road's text pop-up is this one once the hooks are in: tooltip
// colours read back from the screen, the text painted, a click closes it.
TEST_F(HelpPopupTest, TheHelpRoadShowsItAndAClickClosesIt) {
  FXKInstallDialogHooks();
  const FXColor back = FXRGB(255, 255, 225) | 0xFF000000u;  // stock colour 10
  FXColor corner = 0;
  bool ink = false;
  std::string text;
  FXint x = 0, y = 0, width = 0;
  driver.start([&](FXWindow* w) {
    auto* popup = dynamic_cast<FXKHelpPopup*>(w);
    if (!popup) return false;
    settle(2);
    text = shownText(popup);
    x = popup->getX();
    y = popup->getY();
    width = popup->getWidth();
    FXKTextView* view = popup->view();
    corner = pixelOnceShown(view, 1, 1, back);
    for (FXint j = 2; j < view->getHeight() - 2 && !ink; j += 2)
      for (FXint i = 2; i < view->getWidth() - 2 && !ink; i += 2)
        if (FXREDVAL(readPixel(view, i, j)) < 100) ink = true;
    FXEvent down = press(x + 3, y + 3, SEL_LEFTBUTTONPRESS);
    popup->handle(popup, FXSEL(SEL_LEFTBUTTONPRESS, 0), &down);
    FXEvent up = press(x + 3, y + 3, SEL_LEFTBUTTONRELEASE);
    popup->handle(popup, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &up);
    return true;
  });
  FXKHelpRequest request;
  request.window = main;
  request.flags = 0x2;
  request.text = u"Opens the <bold>package</bold> folder.";
  request.x = 200;
  request.y = 180;
  EXPECT_TRUE(FXKShowHelpTopic(app.get(), request));
  EXPECT_EQ(text, "Opens the package folder.");
  EXPECT_EQ(x, 190);
  EXPECT_LE(width, FXKHelpPopup::kMaxWidth + 2);
  EXPECT_EQ(corner, back);
  EXPECT_TRUE(ink);
}

}  // namespace
