#include "widgets/shell/shell_window.h"

#include <gtest/gtest.h>

#include "gui/app/verb_processor.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/fox/fx_theme.h"
#include "widgets/shell/shell_layout.h"

using namespace FX;

namespace {

// A layout that counts its activations and gives a plain left pane.
class CountingLayout : public FXKShellLayoutBase {
 public:
  CountingLayout(FXKShellWindow* w, int* deleted = nullptr) : FXKShellLayoutBase(w, 0), deleted(deleted) {}
  ~CountingLayout() override {
    if (deleted) ++*deleted;
  }
  void activate() override { ++activations; }
  FXWindow* createLeftPane(FXComposite* container) override {
    return new FXFrame(container, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0);
  }
  int activations = 0;
  int* deleted;
};

class ShellWindowBaseTest : public FXAppTest<FXExtApp> {
 protected:
  std::unique_ptr<FXExtApp> makeApp() override { return std::make_unique<FXExtApp>("kvshelltest", "kvtest"); }
};

TEST_F(ShellWindowBaseTest, AddLayoutNumbersNamesAndReplaces) {
  auto* window = new FXKShellWindow(app.get(), "shell");
  int deleted = 0;
  auto* first = new CountingLayout(window, &deleted);
  EXPECT_EQ(window->addLayout("explorer", first), 1);
  // The first registered layout is current at once.
  EXPECT_EQ(window->getLayout(), first);
  EXPECT_EQ(first->activations, 1);
  EXPECT_EQ(window->addLayout("menu", new CountingLayout(window, &deleted)), 2);
  EXPECT_EQ(window->addLayout("third", new CountingLayout(window, &deleted)), 3);
  auto* again = new CountingLayout(window, &deleted);
  EXPECT_EQ(window->addLayout("explorer", again), 1);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(window->getLayout(), again);
  EXPECT_EQ(window->currentLayoutRegisteredName(), "explorer");
  delete window;
  EXPECT_EQ(deleted, 4);
}

TEST_F(ShellWindowBaseTest, UnknownLayoutModeKeepsTheCurrentLayout) {
  app->reg().writeStringEntry("FXKShellWindow", "LAYOUTMODE", "nosuch");
  auto* window = new FXKShellWindow(app.get(), "shell");
  auto* explorer = new CountingLayout(window);
  auto* menu = new CountingLayout(window);
  window->addLayout("explorer", explorer);
  window->addLayout("menu", menu);
  EXPECT_TRUE(window->readSettings());
  EXPECT_EQ(window->getLayout(), explorer);
  app->reg().writeStringEntry("FXKShellWindow", "LAYOUTMODE", "menu");
  EXPECT_TRUE(window->readSettings());
  EXPECT_EQ(window->getLayout(), menu);
  window->writeSettings();
  EXPECT_STREQ(app->reg().readStringEntry("FXKShellWindow", "LAYOUTMODE", ""), "menu");
  delete window;
}

TEST_F(ShellWindowBaseTest, LeftPaneWithFillTakesHalfTheWidth) {
  auto* window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr,
                                    FXuint(DECOR_ALL) | FXKShellWindow::SHELL_LEFT_PANE | FXKShellWindow::SHELL_MAIN_FRAME |
                                        FXKShellWindow::SHELL_BOTTOM_AREA,
                                    0, 0, 501, 300);
  window->addLayout("explorer", new CountingLayout(window));
  window->create();
  window->show(PLACEMENT_DEFAULT);
  settleEvents(app.get());
  FXint l = 0, t = 0, r = 0, b = 0;
  fxGetTheme(app.get())->getFrameMargins(l, t, r, b);
  ASSERT_NE(window->getLeftPane(), nullptr);
  ASSERT_NE(window->getMainFrame(), nullptr);
  const FXint free = window->getWidth() - l - r;
  EXPECT_EQ(window->getLeftPane()->getWidth(), free / 2);
  EXPECT_EQ(window->getMainFrame()->getX(), l + free / 2);
  EXPECT_EQ(window->getMainFrame()->getWidth(), free - free / 2);
  // The pane names carry the layout's name; the status bar sits in the bottom area.
  EXPECT_EQ(fxGetWindowName(window->getMainFrame()), FXWString(u"explorerHFRAME"));
  EXPECT_EQ(fxGetWindowName(window), FXWString(u"MAIN"));
  ASSERT_NE(window->getStatusBar(), nullptr);
  EXPECT_EQ(fxGetWindowName(window->getStatusBar()), FXWString(u"explorerStatusBar"));
  // "toggle_statusbar" hides whichever status bar the window holds.
  FXKVerbProcessor* verbs = window->getVerbProcessor();
  verbs->executeVerb(verbs->getVerbId("toggle_statusbar"));
  settleEvents(app.get());
  EXPECT_FALSE(window->getStatusBar()->shown());
  window->destroy();
  delete window;
}

}  // namespace
