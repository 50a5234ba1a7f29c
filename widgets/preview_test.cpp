#include "widgets/preview.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "textlayout/text_view.h"
#include "widgets/widgets_testing.h"

using namespace FX;
using kvtest::PathItem;

namespace {

std::vector<std::string>* paneLog = nullptr;
int panesMade = 0;

// Logs what it is shown.
class LogPreview : public FXKPreview {
 public:
  LogPreview(FXComposite* p, FXKBrowser* b) : FXKPreview(p, b, 0) { ++panesMade; }
  void setItem(const FXKBrowserItem* item) override {
    auto* path = dynamic_cast<const PathItem*>(item);
    paneLog->push_back(path ? path->path : "null");
  }
  static FXKPreview* factory(FXComposite* p, FXKBrowser* b) { return new LogPreview(p, b); }
  static FXKPreview* otherFactory(FXComposite* p, FXKBrowser* b) { return new LogPreview(p, b); }
};

// Items under "9" take the other factory.
class PreviewBrowser : public kvtest::TreeBrowser {
 public:
  explicit PreviewBrowser(FXApp* app) : TreeBrowser(app, {{"", 9}}) {}
  FXKPreviewFactory getPreviewFactory(const FXKBrowserItem* item) override {
    auto* p = dynamic_cast<const PathItem*>(item);
    return p && p->path == "9" ? &LogPreview::otherFactory : &LogPreview::factory;
  }
};

class PreviewTest : public kvtest::GuiTest {
 protected:
  void SetUp() override {
    kvtest::GuiTest::SetUp();
    paneLog = &log;
  }
  // The panel holds no reference: it goes before the browser.
  void TearDown() override {
    delete panel;
    if (browser) browser->release();
    kvtest::GuiTest::TearDown();
  }
  void make(FXuint options) {
    browser = new PreviewBrowser(app.get());
    holder = new FXVerticalFrame(main, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    panel = new FXKPreviewPanel(holder, browser, options | LAYOUT_FILL_X | LAYOUT_FILL_Y);
    show();
  }
  void current(const char* path) {
    PathItem item(path);
    browser->selectItem(*path ? &item : nullptr, false, false);
  }
  std::vector<std::string> log;
  PreviewBrowser* browser = nullptr;
  FXVerticalFrame* holder = nullptr;
  FXKPreviewPanel* panel = nullptr;
};

TEST_F(PreviewTest, NoCurrentItemNoPaneAndTheParentHidden) {
  make(FXKPreviewPanel::PANEL_HIDE_PARENT);
  panel->refresh(FXKBrowser::UPDATE_CURRENT);
  EXPECT_EQ(panel->getPane(), nullptr);
  EXPECT_FALSE(holder->shown());
  current("1");
  panel->refresh(FXKBrowser::UPDATE_CURRENT);
  EXPECT_NE(panel->getPane(), nullptr);
  EXPECT_TRUE(holder->shown());
  current("");
  panel->refresh(FXKBrowser::UPDATE_CURRENT);
  EXPECT_EQ(panel->getPane(), nullptr);
  EXPECT_FALSE(holder->shown());
}

TEST_F(PreviewTest, APaneIsKeptWhileTheFactoryStays) {
  make(0);
  current("1");
  panel->refresh(FXKBrowser::UPDATE_CURRENT);
  const int made = panesMade;
  current("2");
  panel->refresh(FXKBrowser::UPDATE_CURRENT);
  EXPECT_EQ(panesMade, made);
  current("9");
  panel->refresh(FXKBrowser::UPDATE_STATE);  // a new factory shows the item whatever the flags
  EXPECT_EQ(panesMade, made + 1);
  EXPECT_EQ(log, (std::vector<std::string>{"1", "2", "9"}));

  panel->refresh(FXKBrowser::UPDATE_STATE | FXKBrowser::UPDATE_CHECKS);  // none of 0x421: nothing
  EXPECT_EQ(log.size(), 3u);
  panel->refresh(FXKBrowser::UPDATE_CURRENT_ITEM);
  EXPECT_EQ(log, (std::vector<std::string>{"1", "2", "9", "null", "9"}));
}

TEST_F(PreviewTest, TheBrowsersDefaultIsTheSimplePreview) {
  auto* plain = new kvtest::TreeBrowser(app.get(), {{"", 2}});
  browser = nullptr;
  holder = new FXVerticalFrame(main, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  panel = new FXKPreviewPanel(holder, plain, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  show();
  PathItem one("1");
  plain->selectItem(&one, false, false);
  panel->refresh(FXKBrowser::UPDATE_CURRENT);
  auto* simple = dynamic_cast<FXKSimplePreview*>(panel->getPane());
  ASSERT_NE(simple, nullptr);
  EXPECT_EQ(simple->itemsShown(), 1);
  EXPECT_TRUE(simple->shown());
  delete panel;  // detaches before the browser goes
  panel = nullptr;
  plain->release();
}

// Titles and markup descriptions by path.
class DescribedBrowser : public kvtest::TreeBrowser {
 public:
  explicit DescribedBrowser(FXApp* app) : TreeBrowser(app, {{"", 2}}) {}
  void getItemTitle(FXWString& out, const FXKBrowserItem* item) override {
    out = FXWString::fromUtf8(("Item " + static_cast<const PathItem*>(item)->path).c_str());
  }
  void getItemDescription(FXWString& out, const FXKBrowserItem* item) override {
    out = FXWString::fromUtf8(("<bold>Item</bold> number " + static_cast<const PathItem*>(item)->path).c_str());
  }
};

TEST_F(PreviewTest, TheSimplePreviewShowsTheDescriptionAsFormattedText) {
  auto* described = new DescribedBrowser(app.get());
  holder = new FXVerticalFrame(main, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  // Takes every message the shell would (the panel tells its target of mapping too).
  struct Shell : FXObject {
    std::vector<FXSelector> log;
    long handle(FXObject*, FXSelector sel, void*) override {
      log.push_back(sel);
      return 1;
    }
  } shell;
  panel = new FXKPreviewPanel(holder, described, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  panel->setTarget(&shell);
  panel->setSelector(20080);
  show();
  PathItem two("2");
  described->selectItem(&two, false, false);
  panel->refresh(FXKBrowser::UPDATE_CURRENT);
  auto* simple = dynamic_cast<FXKSimplePreview*>(panel->getPane());
  ASSERT_NE(simple, nullptr);
  FXKTextView* view = simple->descriptionView();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->getLayout()->allText().toUtf8(), "Item number 2");  // the tags are markup, not text
  EXPECT_EQ(simple->titleLabel()->getText(), "Item 2");

  // The same pane shows the next item.
  PathItem one("1");
  described->selectItem(&one, false, false);
  panel->refresh(FXKBrowser::UPDATE_CURRENT);
  EXPECT_EQ(panel->getPane(), simple);
  EXPECT_EQ(view->getLayout()->allText().toUtf8(), "Item number 1");

  // Commands of the description reach the panel's target as the pane's.
  simple->handle(view, FXSEL(SEL_COMMAND, FXKSimplePreview::ID_DESCRIPTION), nullptr);
  ASSERT_FALSE(shell.log.empty());
  EXPECT_EQ(shell.log.back(), FXSEL(SEL_COMMAND, 20080));
  delete panel;
  panel = nullptr;
  described->release();
}

}  // namespace
