#include "widgets/browser_view.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "widgets/widgets_testing.h"

using namespace FX;
using kvtest::PathItem;
using kvtest::TreeBrowser;

namespace {

std::string pathOf(const FXKBrowserItem* item) {
  auto* p = dynamic_cast<const PathItem*>(item);
  return p ? p->path : "-";
}

// Rows of 20 pixels, one column; sorts by path text with the comparison a
// text sort gives (a character difference, not just -1/1).
class RowView : public FXKBrowserView {
 public:
  RowView(FXComposite* parent, FXKBrowser* browser, FXuint options = 0) : FXKBrowserView(parent, browser, options) {}
  bool sortable = false;
  std::map<std::string, std::string> texts;  // path -> sort text
  bool isSortable() override { return sortable; }
  int compare(FXKBrowserViewItem* a, FXKBrowserViewItem* b, FXint) override {
    const std::string& x = texts[pathOf(a->item.get())];
    const std::string& y = texts[pathOf(b->item.get())];
    for (std::size_t i = 0;; ++i) {
      const int cx = i < x.size() ? x[i] : 0, cy = i < y.size() ? y[i] : 0;
      if (cx != cy || !cx) return cx - cy;
    }
  }
  void placeRows() {
    FXint y = 0;
    for (FXKTerminal* g : root.children) {
      auto* group = static_cast<FXKContainer*>(g);
      FXint inner = 0;
      for (FXKTerminal* item : group->children) item->position(0, inner, 100, 20), inner += 20;
      group->position(0, y, 100, inner);
      y += inner;
    }
  }
  std::string order() const {
    std::string out;
    for (FXKBrowserViewItem* node : items()) out += (out.empty() ? "" : ",") + pathOf(node->item.get());
    return out;
  }
};

class BrowserViewTest : public kvtest::GuiTest {
 protected:
  void make(std::map<std::string, int> tree, FXuint options = 0) {
    browser = new TreeBrowser(app.get(), std::move(tree));
    view = new RowView(main, browser, options | LAYOUT_FILL_X | LAYOUT_FILL_Y);
    show();
    view->refresh(FXKBrowser::UPDATE_REBUILD);
    view->placeRows();
  }
  void TearDown() override {
    if (browser) browser->release();  // the view holds its own reference
    kvtest::GuiTest::TearDown();
  }
  FXEvent pressAt(FXint x, FXint y, FXuint state = 0) {
    FXEvent ev{};
    ev.type = SEL_LEFTBUTTONPRESS;
    ev.win_x = x, ev.win_y = y, ev.state = state, ev.click_count = 1;
    return ev;
  }
  void press(FXint x, FXint y, FXuint state = 0) {
    FXEvent ev = pressAt(x, y, state);
    view->handle(view, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
  }
  void rightClick(FXint x, FXint y) {
    FXEvent ev = pressAt(x, y);
    ev.type = SEL_RIGHTBUTTONRELEASE;
    view->handle(view, FXSEL(SEL_RIGHTBUTTONRELEASE, 0), &ev);
  }
  // In path order.
  std::string selected() {
    std::set<std::string> paths;
    for (auto& e : browser->stateSet(FXKBrowser::STATE_SELECTED).snapshot()) paths.insert(pathOf(e.get()));
    std::string out;
    for (const std::string& p : paths) out += (out.empty() ? "" : ",") + p;
    return out;
  }
  TreeBrowser* browser = nullptr;
  RowView* view = nullptr;
};

TEST_F(BrowserViewTest, ARebuildKeepsTheCurrentItemOrFallsBackToTheFirst) {
  make({{"", 5}});
  EXPECT_EQ(view->order(), "1,2,3,4,5");
  EXPECT_EQ(view->itemCount(), 5u);
  PathItem three("3");
  view->setCurrent(&three);
  view->refresh(FXKBrowser::UPDATE_REBUILD);
  EXPECT_EQ(pathOf(view->itemOf(view->getCurrentNode())), "3");

  browser->tree[""] = 2;
  view->refresh(FXKBrowser::UPDATE_REBUILD);
  EXPECT_EQ(view->order(), "1,2");
  EXPECT_EQ(pathOf(view->itemOf(view->getCurrentNode())), "1");
}

TEST_F(BrowserViewTest, UpdateCurrentOnlyMovesTheCurrentNode) {
  make({{"", 3}});
  FXKTerminal* before = view->findNode(std::make_unique<PathItem>("2").get());
  PathItem two("2");
  browser->selectItem(&two, false, false);
  view->refresh(FXKBrowser::UPDATE_CURRENT);
  EXPECT_EQ(view->getCurrentNode(), before);  // the same node: nothing rebuilt
}

TEST_F(BrowserViewTest, NotificationsInsertOnceAndDeleteNodes) {
  make({{"", 2}});
  PathItem fresh("9");
  view->handle(browser, FXSEL(SEL_INSERTED, FXKBrowser::ID_DOCUMENT), &fresh);
  view->handle(browser, FXSEL(SEL_INSERTED, FXKBrowser::ID_DOCUMENT), &fresh);
  EXPECT_EQ(view->order(), "1,2,9");

  view->setCurrent(&fresh);
  view->handle(browser, FXSEL(SEL_DELETED, FXKBrowser::ID_DOCUMENT), &fresh);
  EXPECT_EQ(view->order(), "1,2");
  EXPECT_EQ(view->getCurrentNode(), nullptr);
  EXPECT_EQ(view->findNode(&fresh), nullptr);

  // The display root itself going empties the current state and asks for a
  // rebuild.
  PathItem one("1");
  browser->selectItem(&one, false, false);
  view->setCurrent(&one);
  PathItem root("", true);
  view->handle(browser, FXSEL(SEL_DELETED, FXKBrowser::ID_DOCUMENT), &root);
  EXPECT_EQ(view->getCurrentNode(), nullptr);
  EXPECT_EQ(browser->getCurrentItem(), nullptr);
  EXPECT_EQ(view->pendingRefresh() & 0x11u, 0x11u);
}

TEST_F(BrowserViewTest, ShiftClickSelectsTheRangeAndKeepsTheAnchor) {
  make({{"", 6}});
  browser->setMode(FXKBrowser::MODE_MULTIPLE | FXKBrowser::MODE_EXTEND);
  press(10, 25);  // row 2
  EXPECT_EQ(selected(), "2");
  EXPECT_EQ(pathOf(view->getAnchor()), "2");
  press(10, 85, SHIFTMASK);  // row 5
  EXPECT_EQ(selected(), "2,3,4,5");
  EXPECT_EQ(pathOf(view->getAnchor()), "2");
  EXPECT_EQ(pathOf(browser->getCurrentItem()), "5");
  // Upwards from the anchor too.
  press(10, 5, SHIFTMASK);
  EXPECT_EQ(selected(), "1,2");
  press(10, 105);  // a plain click moves the anchor
  EXPECT_EQ(pathOf(view->getAnchor()), "6");
  EXPECT_EQ(selected(), "6");
}

TEST_F(BrowserViewTest, BrowseOnlyClicksNeitherSelectNorOpenMenus) {
  make({{"", 3}}, FXKBrowserView::VIEW_BROWSE_ONLY);
  press(10, 25);
  EXPECT_EQ(selected(), "");
  EXPECT_EQ(browser->getCurrentItem(), nullptr);
  rightClick(10, 25);
  EXPECT_EQ(selected(), "");
}

TEST_F(BrowserViewTest, RightClickReplacesAnUnselectedSelectionAndKeepsASelectedOne) {
  make({{"", 4}});
  browser->setMode(FXKBrowser::MODE_MULTIPLE | FXKBrowser::MODE_EXTEND);
  press(10, 5);
  press(10, 25, CONTROLMASK);
  EXPECT_EQ(selected(), "1,2");
  rightClick(10, 25);
  EXPECT_EQ(selected(), "1,2");
  rightClick(10, 65);
  EXPECT_EQ(selected(), "4");
}

TEST_F(BrowserViewTest, StableSortFollowsTheComparisonsSign) {
  struct Case {
    const char* name;
    int order;
    std::map<std::string, std::string> texts;
    const char* expected;
  } cases[] = {
      {"ascending by text", 1, {{"1", "pear"}, {"2", "apple"}, {"3", "fig"}, {"4", "banana"}}, "2,4,3,1"},
      {"descending by text", -1, {{"1", "pear"}, {"2", "apple"}, {"3", "fig"}, {"4", "banana"}}, "1,3,4,2"},
      {"equal items keep their order", 1, {{"1", "b"}, {"2", "a"}, {"3", "b"}, {"4", "a"}}, "2,4,1,3"},
      {"equal items keep their order descending", -1, {{"1", "b"}, {"2", "a"}, {"3", "b"}, {"4", "a"}},
       "1,3,2,4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    make({{"", 4}});
    view->texts = c.texts;
    view->sortOrder = c.order;
    view->sortAll();
    EXPECT_EQ(view->order(), c.expected);
    delete view;
    browser->release();
    browser = nullptr;
  }
}

TEST_F(BrowserViewTest, NavigationAtTheEnds) {
  make({{"", 3}});
  PathItem one("1"), three("3"), two("2");
  view->setCurrent(&one);
  EXPECT_EQ(pathOf(view->previousEnabledItem()->item.get()), "1");
  EXPECT_EQ(view->findNeighbour(view->getCurrentNode(), 2), nullptr);  // nothing above the top row
  EXPECT_EQ(pathOf(view->findNeighbour(view->getCurrentNode(), 3)->item.get()), "2");
  view->setCurrent(&three);
  EXPECT_EQ(view->nextEnabledItem(), nullptr);
  // Disabled items are skipped going forward.
  browser->setItemEnabled(&two, false, false);
  view->setCurrent(&one);
  EXPECT_EQ(pathOf(view->nextEnabledItem()->item.get()), "3");
}

// Every populated node is found by its item, also while the populate is still
// running (a view that looks its earlier rows up as it accepts new ones) and
// when the rows come from a whole tree.
class LookingView : public RowView {
 public:
  using RowView::RowView;
  bool recursive = false;
  std::vector<std::string> seenBefore;  // the previous sibling, as found then
  bool populatesRecursively() override { return recursive; }
  bool acceptsItem(const FXKBrowserItem* item) override {
    const std::string path = pathOf(item);
    const auto slash = path.rfind('/');
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    if (last != "1") {
      const std::string previous =
          (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + std::to_string(std::stoi(last) - 1);
      PathItem key(previous);
      seenBefore.push_back(pathOf(itemOf(findNode(&key))));
    }
    return RowView::acceptsItem(item);
  }
};

TEST_F(BrowserViewTest, NodesAreFoundDuringAndAfterPopulating) {
  for (bool recursive : {false, true}) {
    SCOPED_TRACE(recursive ? "a tree" : "one level");
    browser = new TreeBrowser(app.get(), {{"", 300}, {"7", 40}});
    auto* looking = new LookingView(main, browser);
    looking->recursive = recursive;
    view = looking;
    show();
    view->refresh(FXKBrowser::UPDATE_REBUILD);
    std::vector<std::string> expected;
    for (int i = 2; i <= 300; ++i) {
      if (recursive && i == 8)  // the folder's rows come right after it
        for (int j = 2; j <= 40; ++j) expected.push_back("7/" + std::to_string(j - 1));
      expected.push_back(std::to_string(i - 1));
    }
    EXPECT_EQ(looking->seenBefore, expected);
    for (const char* path : {"1", "150", "300", "7"}) {
      PathItem key(path);
      EXPECT_EQ(pathOf(view->itemOf(view->findNode(&key))), path);
    }
    PathItem inner("7/40");
    EXPECT_EQ(pathOf(view->itemOf(view->findNode(&inner))), recursive ? "7/40" : "-");
    delete view;
    view = nullptr;
    browser->release();
    browser = nullptr;
  }
}

}  // namespace
