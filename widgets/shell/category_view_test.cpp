#include "widgets/shell/category_view.h"

#include <gtest/gtest.h>

#include <string>

#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/xml_shell_window.h"
#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

TEST(ShellBrowserItem, EqualByVerbAndIdAlone) {
  const FXKShellBrowserItem a("open", 1, false, true);
  struct Case {
    FXKShellBrowserItem other;
    bool equal;
  } cases[] = {
      {{"open", 1, false, true}, true},
      {{"open", 1, true, false}, true},  // the flags do not count
      {{"open", 2, false, true}, false},
      {{"Open", 1, false, true}, false},
      {{"", 1, false, true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.other.verb + "/" + std::to_string(c.other.id));
    EXPECT_EQ(a.isEqual(&c.other), c.equal);
    EXPECT_EQ(c.other.isEqual(&a), c.equal);
    if (c.equal) {
      EXPECT_EQ(a.hashValue(), c.other.hashValue());
    }
  }
  FXKSimpleBrowserItem simple(1);
  EXPECT_FALSE(a.isEqual(&simple));
  FXKShellBrowserItem flagged("x", 3, true, false);
  flagged.key = 9;
  flagged.extra = 4;
  std::unique_ptr<FXKBrowserItem> copy(flagged.clone());
  auto* c = dynamic_cast<FXKShellBrowserItem*>(copy.get());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->verb, "x");
  EXPECT_EQ(c->id, 3);
  EXPECT_EQ(c->separator, 1);
  EXPECT_EQ(c->usesSelection, 0);
  EXPECT_EQ(c->key, 9u);
  EXPECT_EQ(c->extra, 4u);
}

TEST(ShellBrowser, ViewStylesToIconSizes) {
  const std::pair<int, int> cases[] = {{0, 0}, {1, 2}, {2, 3}, {3, 0}, {-1, 0}};
  for (const auto& [style, size] : cases) EXPECT_EQ(FXKShellBrowser::iconSizeFor(style), size) << style;
}

class CategoryViewTest : public kvtest::GuiTest {
 protected:
  void SetUp() override {
    kvtest::GuiTest::SetUp();
    if (!app) return;
    window = new FXKXMLShellWindow(app.get(), "shell", DECOR_NONE, 0, 0, 300, 200);
  }
  FXKShellCategoryView* view() { return dynamic_cast<FXKShellCategoryView*>(window->getItemList()); }
  FXKShellItemInfo* add(const std::string& group, const std::string& verb, int id, const char16_t* title,
                        bool separator = false) {
    auto* info = window->createItemInfo(verb, id);
    info->attributes["title"] = FXWString(title);
    info->separator = separator;
    window->addItem(window->addGroup(group, FXWString(), 0), info);
    return info;
  }
  FXKXMLShellWindow* window = nullptr;
};

TEST_F(CategoryViewTest, GroupsByExactKeyInOrder) {
  window->addGroup("b", FXWString(u"Bee"), 0);
  ASSERT_NE(view(), nullptr);
  FXKShellCategoryGroup* a = view()->groupFor("a");
  EXPECT_EQ(view()->groupFor("a"), a);
  EXPECT_EQ(view()->groupCount(), 2u);
  EXPECT_NE(view()->groupFor("A"), a);  // keys are case-sensitive
  EXPECT_EQ(view()->groupCount(), 3u);
  EXPECT_EQ(view()->group(0), view()->findGroup("b"));
  EXPECT_EQ(view()->group(1), a);
  EXPECT_EQ(view()->findGroup("missing"), nullptr);
  EXPECT_EQ(window->findGroup("b"), view()->findGroup("b"));
  EXPECT_EQ(view()->findGroup("b")->getText().toUtf8(), "Bee");
}

TEST_F(CategoryViewTest, RefreshWithRebuildBitsRereadsEntries) {
  FXKShellItemInfo* info = add("g", "v", 0, u"Before");
  FXKIconItem* entry = view()->findEntry("v", 0);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->getColumnText(0).toUtf8(), "Before");
  info->attributes["title"] = FXWString(u"After");
  struct Case {
    FXuint flags;
    const char* title;
  } cases[] = {{0x02, "Before"}, {0x20, "Before"}, {0x01, "After"}};
  for (const Case& c : cases) {
    view()->refresh(c.flags);
    EXPECT_EQ(entry->getColumnText(0).toUtf8(), c.title) << c.flags;
  }
  info->attributes["title"] = FXWString(u"Again");
  view()->refresh(0x10);
  EXPECT_EQ(entry->getColumnText(0).toUtf8(), "Again");
  EXPECT_EQ(view()->findEntry("v", 0), entry);  // refreshed, not rebuilt
}

TEST_F(CategoryViewTest, RemovingEntriesAndEmptyGroups) {
  add("one", "a", 0, u"A");
  FXKShellItemInfo* b = add("one", "b", 0, u"B");
  add("two", "c", 0, u"C");
  window->addGroup("empty", FXWString(), 0);
  ASSERT_EQ(view()->groupCount(), 3u);
  ASSERT_EQ(window->getCurrentItemInfo()->verb, "a");
  window->removeItem(window->findItemInfo("a", 0));
  EXPECT_EQ(window->findItemInfo("a", 0), nullptr);
  EXPECT_EQ(view()->findEntry("a", 0), nullptr);
  EXPECT_EQ(window->getCurrentItemInfo(), nullptr);  // the current item went with it
  view()->removeEntry(view()->findGroup("two"), b);  // not in that group: nothing
  EXPECT_NE(view()->findEntry("b", 0), nullptr);
  window->removeItem(window->findItemInfo("c", 0));
  view()->removeEmptyGroups();
  ASSERT_EQ(view()->groupCount(), 1u);
  EXPECT_EQ(view()->group(0), view()->findGroup("one"));
  EXPECT_EQ(view()->itemCount(), 1u);
}

TEST_F(CategoryViewTest, TextsIconsAndContextMenusFromTheWindow) {
  auto* info = add("g", "item", 0, u"Title");
  info->attributes["help"] = FXWString(u"Help");
  info->attributes["desc"] = FXWString(u"Description");
  add("g", "sep", 0, u"", true);
  add("g", "own", 0, u"Own");
  auto* browser = dynamic_cast<FXKShellBrowser*>(window->getBrowser());
  ASSERT_NE(browser, nullptr);
  const FXKShellBrowserItem item("item", 0, false, true), sep("sep", 0, true, true), own("own", 0, false, true),
      unknown("gone", 5, false, true);
  FXWString text;
  const std::pair<void (FXKShellBrowser::*)(FXWString&, const FXKBrowserItem*), const char*> queries[] = {
      {&FXKShellBrowser::getItemTitle, "Title"},
      {&FXKShellBrowser::getItemHelp, "Help"},
      {&FXKShellBrowser::getItemDescription, "Description"},
      {&FXKShellBrowser::getItemTip, "Help"},
  };
  for (const auto& [query, expected] : queries) {
    (browser->*query)(text, &item);
    EXPECT_EQ(text.toUtf8(), expected);
  }
  browser->getItemTitle(text, &unknown);
  EXPECT_EQ(text.toUtf8(), "Untitled");
  EXPECT_EQ(browser->getExtraIconCount(&item), 1);
  EXPECT_EQ(browser->getExtraIconCount(&unknown), 1);
  EXPECT_TRUE(browser->getItemNoHighlight(&sep));
  EXPECT_FALSE(browser->getItemNoHighlight(&item));
  FXMenuPane* common = window->newPopupMenu();
  FXMenuPane* ownPane = window->newItemMenu("own");
  EXPECT_EQ(browser->contextMenuOf(&sep), nullptr);
  EXPECT_EQ(browser->contextMenuOf(&item), common);
  EXPECT_EQ(browser->contextMenuOf(&own), ownPane);
}

}  // namespace
