#include "widgets/shell/xml_shell_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/app/verb_processor.h"
#include "platform/fox/fx_window_ext.h"
#include "widgets/explorer_toolbar.h"
#include "widgets/shell/category_view.h"
#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

// A window whose missing icons are a solid colour, so painted entries show.
class TestShell : public FXKXMLShellWindow {
 public:
  explicit TestShell(FXApp* app) : FXKXMLShellWindow(app, "shell", DECOR_NONE, 0, 0, 420, 360) {}
  // The application frees only the pictures it made, so the test's own is kept here.
  void useDefaultIcon(FXIcon* icon) {
    ownIcon.reset(icon);
    defaultIcon = icon;
  }
  std::unique_ptr<FXIcon> ownIcon;
  std::size_t infoCount() const { return getItemInfos().size(); }
};

class ShellWindowTest : public kvtest::GuiTest {
 protected:
  void TearDown() override {
    FXKXMLShellWindow::freeDocument(doc);
    doc = nullptr;
    kvtest::GuiTest::TearDown();
  }
  // A document of `body` under a `resource` root and a fresh window.
  void make(const std::string& body) {
    FXKXMLShellWindow::freeDocument(doc);
    const std::string text = "<resource>" + body + "</resource>";
    xml_document parsed;
    ASSERT_TRUE(parsed.load_memory(text.data(), text.size())) << text;
    doc = new FXKShellDocument{parsed.release_root()};
    window = new TestShell(app.get());
  }
  FXKShellDocument* doc = nullptr;
  TestShell* window = nullptr;
};

// A pane's entries: command texts, "-" for a separator, "[text]" for a cascade.
std::string entries(FXComposite* pane) {
  std::string out;
  if (!pane) return "<none>";
  for (FXWindow* w = pane->getFirst(); w; w = w->getNext()) {
    if (!out.empty()) out += "|";
    if (dynamic_cast<FXMenuSeparator*>(w))
      out += "-";
    else if (auto* c = dynamic_cast<FXMenuCascade*>(w))
      out += "[" + std::string(c->getText().text()) + "]";
    else if (auto* m = dynamic_cast<FXMenuCommand*>(w))
      out += m->getText().text();
  }
  return out;
}

// FOX 1.6 keeps a window's options protected: read through a member pointer.
struct OptionsOf : FXMenuCommand {
  static FXuint of(FXMenuCommand* m) { return m->*(&OptionsOf::options); }
};

FXMenuCommand* command(FXComposite* pane, const char* text) {
  for (FXWindow* w = pane ? pane->getFirst() : nullptr; w; w = w->getNext())
    if (auto* m = dynamic_cast<FXMenuCommand*>(w); m && m->getText() == text) return m;
  return nullptr;
}

TEST_F(ShellWindowTest, MenuSeparatorsNeverFirstNeverDoubled) {
  struct Case {
    const char* children;
    const char* common;  // the window's popup menu (menu creator)
    const char* item;    // an item's own menu (markup builder)
  } cases[] = {
      {"<separator/><kml:item verb='a' title='A'/><separator/><separator/><kml:item verb='b' title='B'/>", "A|-|B",
       "A|-|B"},
      {"<kml:item verb='a' title='A'/><separator/>", "A|-", "A|-"},
      {"<kml:item verb='a' title='A'/><kml:menu title='Sub'><kml:item verb='c' title='C'/></kml:menu>"
       "<separator/><kml:item verb='b' title='B'/>",
       "A|[Sub]|-|B", "A|[Sub]|-|B"},
      // An item without verb is a separator to the markup builder, never
      // the first entry; the menu creator makes every item a command.
      {"<kml:item title='X'/><kml:item verb='a' title='A'/><kml:item title='Y'/><kml:item verb='b' title='B'/>",
       "X|A|Y|B", "A|-|B"},
      {"<kml:item verb='a'><title type='small'>Child</title></kml:item>", "Child", "Child"},
  };
  for (const Case& c : cases) {
    make(std::string("<kml:menu name='m'>") + c.children + "</kml:menu><group><kml:item verb='it'><kml:menu>" +
         c.children + "</kml:menu></kml:item></group>");
    SCOPED_TRACE(c.children);
    ASSERT_TRUE(window->createMenu(doc, FXWString(u"m")));
    EXPECT_EQ(entries(window->getPopupMenu()), c.common);
    ASSERT_TRUE(window->createGroups(doc, FXWString()));
    EXPECT_EQ(entries(window->findItemMenu("it")), c.item);
  }
}

TEST_F(ShellWindowTest, MissingMenuLeavesThePopupMenu) {
  make("<kml:menu name='m'><kml:item verb='a' title='A'/></kml:menu>");
  ASSERT_TRUE(window->createMenu(doc, FXWString(u"m")));
  FXMenuPane* before = window->getPopupMenu();
  EXPECT_FALSE(window->createMenu(doc, FXWString(u"other")));
  EXPECT_EQ(window->getPopupMenu(), before);
  EXPECT_EQ(entries(before), "A");
}

TEST_F(ShellWindowTest, CommandFlagsBecomeToolkitOptions) {
  const char* items =
      "<kml:item verb='d' title='D' flags='default'/><kml:item verb='h' title='H' flags='autohide'/>"
      "<kml:item verb='n' title='N' flags='no_browser'/><kml:item verb='about' title='About'/>"
      "<kml:item verb='p' title='P' help='Plain help'/>";
  make(std::string("<kml:menu name='m'>") + items + "</kml:menu><group><kml:item verb='it'><kml:menu>" + items +
       "</kml:menu></kml:item></group>");
  ASSERT_TRUE(window->createMenu(doc, FXWString(u"m")));
  ASSERT_TRUE(window->createGroups(doc, FXWString()));
  struct Case {
    const char* title;
    const char* verb;
    bool isDefault, autohide, viewControl;
  } cases[] = {
      {"D", "d", true, false, true},
      {"H", "h", false, true, true},
      {"N", "n", false, false, false},          // no_browser
      {"About", "about", false, false, false},  // the window binds "about" itself
      {"P", "p", false, false, true},
  };
  for (FXComposite* pane : {static_cast<FXComposite*>(window->getPopupMenu()),
                            static_cast<FXComposite*>(window->findItemMenu("it"))}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.title);
      FXMenuCommand* m = command(pane, c.title);
      ASSERT_NE(m, nullptr);
      EXPECT_EQ(m->isDefault() != 0, c.isDefault);
      EXPECT_EQ((OptionsOf::of(m) & MENU_AUTOHIDE) != 0, c.autohide);
      EXPECT_NE(OptionsOf::of(m) & MENU_AUTOGRAY, 0u);
      EXPECT_EQ(fxIsViewControl(m), c.viewControl);
      EXPECT_EQ(m->getTarget(), window->getVerbProcessor()->target());
      EXPECT_EQ(FXint(m->getSelector()), window->getVerbProcessor()->getVerbId(c.verb));
    }
    EXPECT_EQ(std::string(command(pane, "P")->getHelpText().text()), "Plain help");
  }
}

TEST_F(ShellWindowTest, ToolbarButtonsAndSeparators) {
  make(
      "<kml:toolbar name='tb'><kml:item verb='lost' title='Lost'/>"
      "<kml:toolbar title='Main' name='Main'><separator/>"
      "<kml:item verb='a' title='A' flags='autohide,text_always' desc='Tip A' help='Help A'/>"
      "<separator/><separator/><kml:item verb='b' title='B' flags='no_browser'/>"
      "<kml:toolbar title='Nested'><kml:item verb='c' title='C'/></kml:toolbar></kml:toolbar>"
      "<kml:toolbar standard='x'><kml:item verb='s' title='S'/></kml:toolbar></kml:toolbar>"
      "<kml:toolbar name='empty'/>");
  EXPECT_TRUE(window->createToolbar(doc, FXWString(u"empty")));
  EXPECT_EQ(window->getToolbarPanel(), nullptr);  // nothing built
  EXPECT_FALSE(window->createToolbar(doc, FXWString(u"none")));
  ASSERT_TRUE(window->createToolbar(doc, FXWString(u"tb")));
  ASSERT_NE(window->getToolbarPanel(), nullptr);
  std::vector<FXComposite*> toolbars;
  for (FXWindow* w = window->getToolbarPanel()->getFirst(); w; w = w->getNext())
    if (auto* c = dynamic_cast<FXComposite*>(w)) toolbars.push_back(c);
  ASSERT_EQ(toolbars.size(), 1u);  // nested and standard toolbars make none
  std::string layout;
  for (FXWindow* w = toolbars[0]->getFirst(); w; w = w->getNext()) {
    if (!layout.empty()) layout += "|";
    if (dynamic_cast<FXVerticalSeparator*>(w))
      layout += "-";
    else if (auto* b = dynamic_cast<FXKExplorerButton*>(w))
      layout += FXWString(b->getFullText()).toUtf8();
  }
  EXPECT_EQ(layout, "A|-|B");
  auto* a = dynamic_cast<FXKExplorerButton*>(toolbars[0]->getFirst());
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a->getButtonStyle() & BUTTON_AUTOHIDE, 0u);
  EXPECT_NE(a->getButtonStyle() & BUTTON_TOOLBAR, 0u);
  EXPECT_EQ(a->getOptionsEx() & 0x60, 0x40u);
  EXPECT_EQ(std::string(a->getTipText().text()), "Tip A");
  EXPECT_EQ(std::string(a->getHelpText().text()), "Help A");
  auto* b = dynamic_cast<FXKExplorerButton*>(toolbars[0]->getLast());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->getButtonStyle() & BUTTON_AUTOHIDE, 0u);
  EXPECT_EQ(b->getOptionsEx() & 0x60, 0x20u);
}

TEST_F(ShellWindowTest, GroupsItemsAndNestedGroups) {
  make(
      "<group verb='g1' title='First' flags='collapsed'>"
      "<kml:item verb='a' title='A'/><separator/><separator/><kml:item verb='b' id='7'/>"
      "<group verb='inner' title='Inner'><kml:item verb='n' title='Nested'/></group>"
      "<kml:item verb='skip' standard='yes'/></group>"
      "<group verb='g2' title='Second'><kml:item verb='c' title='C'/></group>"
      "<group verb='g3' standard='x'><kml:item verb='hidden' title='H'/></group>");
  ASSERT_TRUE(window->createGroups(doc, FXWString()));
  auto* view = dynamic_cast<FXKShellCategoryView*>(window->getItemList());
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->groupCount(), 2u);  // a nested group and a standard group make no list group
  auto* first = view->findGroup("g1");
  auto* second = view->findGroup("g2");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(view->findGroup("G1"), nullptr);
  EXPECT_EQ(first->getText().toUtf8(), "First");
  EXPECT_EQ(first->getExpandState(), 1);
  EXPECT_EQ(second->getExpandState(), 0);
  EXPECT_EQ(view->findEntryInGroup(first, "a", 0), window->findListItem("a", 0));
  EXPECT_NE(view->findEntryInGroup(first, "b", 7), nullptr);
  EXPECT_NE(view->findEntryInGroup(second, "c", 0), nullptr);
  EXPECT_EQ(first->children.size(), 2u);  // separators register nothing
  // The nested group's item is known by its verb but shown nowhere.
  ASSERT_NE(window->findItemInfo("n", 0), nullptr);
  EXPECT_EQ(window->findListItem("n", 0), nullptr);
  EXPECT_EQ(window->findItemInfo("skip", 0), nullptr);
  EXPECT_NE(window->findItemInfo("hidden", 0), nullptr);
  EXPECT_EQ(window->findListItem("hidden", 0), nullptr);
  EXPECT_EQ(window->getItemTitle("b", 7).toUtf8(), "Untitled");
  EXPECT_EQ(window->nextItemId(), 8);  // the highest id registered was 7
  // The first item became the current, selected item.
  FXKShellItemInfo* current = window->getCurrentItemInfo();
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->verb, "a");
  const FXKShellBrowserItem a("a", 0, false, true);
  EXPECT_TRUE(window->getBrowser()->stateSet(FXKBrowser::STATE_SELECTED).contains(&a));
  EXPECT_EQ(window->itemInfoOf(window->findListItem("c", 0)), window->findItemInfo("c", 0));
  EXPECT_EQ(window->itemInfoOf(view), nullptr);
}

TEST_F(ShellWindowTest, SameVerbAndIdReplacesTheEarlierItem) {
  make(
      "<group verb='g'><kml:item verb='dup' id='3' title='one' x='1'/><kml:item verb='other'/>"
      "<kml:item verb='dup' id='3' title='two'/><kml:item verb='dup' id='4' title='three'/></group>");
  ASSERT_TRUE(window->createGroups(doc, FXWString()));
  EXPECT_EQ(window->getItemTitle("dup", 3).toUtf8(), "two");
  EXPECT_FALSE(window->findItemInfo("dup", 3)->hasAttribute("x"));
  EXPECT_EQ(window->getItemTitle("dup", 4).toUtf8(), "three");
  EXPECT_EQ(window->infoCount(), 3u);
  auto* view = dynamic_cast<FXKShellCategoryView*>(window->getItemList());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->findGroup("g")->children.size(), 3u);  // the entry of (dup, 3) is kept
}

TEST_F(ShellWindowTest, NamedGroupsAndMissingOnes) {
  make("<group name='x' verb='gx'><kml:item verb='a'/></group><group name='y' verb='gy'><kml:item verb='b'/></group>");
  EXPECT_FALSE(window->createGroups(doc, FXWString(u"z")));
  EXPECT_EQ(window->getItemList(), nullptr);
  ASSERT_TRUE(window->createGroups(doc, FXWString(u"y")));
  auto* view = dynamic_cast<FXKShellCategoryView*>(window->getItemList());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->groupCount(), 1u);
  EXPECT_NE(view->findGroup("gy"), nullptr);
  make("<string name='s'>text</string>");
  EXPECT_FALSE(window->createGroups(doc, FXWString()));
}

TEST_F(ShellWindowTest, GroupCaptionFonts) {
  auto* ext = static_cast<FXExtApp*>(app.get());
  const FXFontDesc stock = ext->getStockFontDesc(0);
  make(
      "<group verb='plus'><font size='+2' weight='bold'/></group>"
      "<group verb='minus'><font size='-2' slant='italic'/></group>"
      "<group verb='fixed'><font size='120' weight='nonsense'/></group>"
      "<group verb='again'><font size='+2' weight='bold'/></group>");
  ASSERT_TRUE(window->createGroups(doc, FXWString()));
  auto* view = dynamic_cast<FXKShellCategoryView*>(window->getItemList());
  ASSERT_NE(view, nullptr);
  struct Case {
    const char* group;
    FXuint size, weight, slant;
  } cases[] = {
      {"plus", FXuint(stock.size + 2), FXFont::Bold, stock.slant},
      {"minus", FXuint(stock.size - 2), stock.weight, FXFont::Italic},
      {"fixed", 120, 0, stock.slant},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.group);
    FXFont* font = view->findGroup(c.group)->captionFont();
    ASSERT_NE(font, nullptr);
    FXFontDesc d;
    font->getFontDesc(d);
    EXPECT_EQ(d.size, c.size);
    EXPECT_EQ(d.weight, c.weight);
    EXPECT_EQ(d.slant, c.slant);
    EXPECT_STREQ(d.face, stock.face);
  }
  // Equal descriptions share one font.
  EXPECT_EQ(view->findGroup("plus")->captionFont(), view->findGroup("again")->captionFont());
}

TEST_F(ShellWindowTest, CategoryViewShowsItemsGrouped) {
  make(
      "<group verb='g1' title='First'><kml:item verb='a' title='Alpha'/><kml:item verb='b' title='Beta'/></group>"
      "<group verb='g2' title='Second'><kml:item verb='c' title='Gamma'/></group>"
      "<group verb='g3' title='Third'><group><kml:item verb='n' title='Nested'/></group></group>");
  const FXColor red = FXRGB(255, 0, 0);
  auto* icon = new FXIcon(app.get(), nullptr, 0, IMAGE_OWNED, 16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) icon->setPixel(x, y, red);
  window->useDefaultIcon(icon);
  ASSERT_TRUE(window->createGroups(doc, FXWString()));
  window->create();
  window->show(PLACEMENT_DEFAULT);
  window->layout();
  settleEvents(app.get());
  auto* view = dynamic_cast<FXKShellCategoryView*>(window->getItemList());
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(view->shown());
  FXKShellCategoryGroup* groups[] = {view->findGroup("g1"), view->findGroup("g2"), view->findGroup("g3")};
  ASSERT_TRUE(groups[0] && groups[1] && groups[2]);
  EXPECT_TRUE(groups[2]->children.empty());  // the nested group's item is not shown
  EXPECT_LE(groups[0]->y + groups[0]->height, groups[1]->y);  // the first group above the second
  // What the screen shows of an entry: its pixels that are not the list's
  // background (the painted title).
  const FXColor background = readPixel(view, view->getWidth() - 2, view->getHeight() - 2);
  const auto inked = [&](FXKTerminal* t) {
    int n = 0;
    for (FXint yy = 0; yy < t->height; ++yy)
      for (FXint xx = 0; xx < t->width; xx += 2) {
        const FXPoint q = t->toWindow(FXPoint(xx, yy));
        if (readPixel(view, q.x, q.y) != background) ++n;
      }
    return n;
  };
  const std::pair<const char*, int> shown[] = {{"a", 0}, {"b", 0}, {"c", 1}};
  for (const auto& [verb, g] : shown) {
    SCOPED_TRACE(verb);
    FXKIconItem* entry = view->findEntryInGroup(groups[g], verb, 0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->parent, groups[g]);
    // Inside its group, below the caption, and painted there.
    EXPECT_GE(entry->y, groups[g]->captionRect().y + groups[g]->captionRect().h);
    EXPECT_LE(entry->y + entry->height, groups[g]->y + groups[g]->height);
    EXPECT_GT(inked(entry), 20);
    // Its icon at the icon's centre; the selected first entry's icon is
    // shaded in the selection colour, so there only something is painted.
    entry->layoutIfNeeded();
    const FXRectangle r = entry->cell(0)->icon;
    ASSERT_GT(r.w, 0);
    const FXPoint p = entry->toWindow(FXPoint(r.x + r.w / 2, r.y + r.h / 2));
    const FXColor seen = pixelOnceShown(view, p.x, p.y, red | 0xFF000000u);
    if (std::string(verb) == "a") {
      EXPECT_NE(seen, background);
    } else {
      EXPECT_EQ(seen, red | 0xFF000000u);
    }
  }
  EXPECT_EQ(groups[0]->getText().toUtf8(), "First");
  EXPECT_EQ(groups[1]->getText().toUtf8(), "Second");
}

}  // namespace

#include <fstream>
#include <memory>
#include <sstream>

#include "files/memory_file.h"

namespace {

std::unique_ptr<Common::MemoryFile> memoryFile(const std::string& bytes) {
  std::unique_ptr<Common::MemoryFile> file(Common::CreateMemoryFile());
  std::uint32_t written = 0;
  file->write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), written);
  file->rewind();
  return file;
}

TEST(ShellDocument, DamagedMarkupIsReportedAndBuildsNothing) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"<resource><kml:menu name='m'></resource>", "Filed to read resource from line 1 column"},
      {"<resource>\n<group>\n<kml:item verb='a' title='x></group>", "Filed to read resource from line 3 column"},
      {"", "Filed to read resource from line"},
  };
  for (const Case& c : cases) {
    auto file = memoryFile(c.text);
    testing::internal::CaptureStderr();
    FXKShellDocument* doc = FXKXMLShellWindow::loadDocument(file.get());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(doc, nullptr) << c.text;
    EXPECT_EQ(said.rfind(c.message, 0), 0u) << said;
    EXPECT_EQ(said.find('\n'), std::string::npos);
    FXKXMLShellWindow::freeDocument(doc);
  }
  auto good = memoryFile("<resource><kml:menu name='m'/></resource>");
  FXKShellDocument* doc = FXKXMLShellWindow::loadDocument(good.get());
  ASSERT_NE(doc, nullptr);
  ASSERT_NE(doc->root, nullptr);
  EXPECT_EQ(std::string(doc->root->name()), "resource");
  FXKXMLShellWindow::freeDocument(doc);
}

// The configuration the program ships, read from its source.
std::string shippedConfiguration() {
  std::ifstream in(KV_TEST_CONFIGURATION_SOURCE, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

TEST_F(ShellWindowTest, TheShippedConfigurationBuilds) {
  const std::string text = shippedConfiguration();
  ASSERT_FALSE(text.empty()) << KV_TEST_CONFIGURATION_SOURCE;
  auto file = memoryFile(text);
  doc = FXKXMLShellWindow::loadDocument(file.get());
  ASSERT_NE(doc, nullptr);
  window = new TestShell(app.get());
  // The main window's order: menu, toolbar, every group.
  ASSERT_TRUE(window->createMenu(doc, FXWString(u"menu_default")));
  EXPECT_EQ(entries(window->getPopupMenu()), "Install");
  EXPECT_TRUE(window->getPopupMenu()->getFirst()->isDefault());
  EXPECT_TRUE(window->createToolbar(doc, FXWString(u"menu_toolbar")));
  EXPECT_EQ(window->getToolbarPanel(), nullptr);  // the shipped toolbar is empty
  ASSERT_TRUE(window->createGroups(doc, FXWString()));
  FXKShellItemInfo* locale = window->findItemInfo("locale", 0);
  ASSERT_NE(locale, nullptr);
  EXPECT_EQ(locale->getAttribute("file:dynamic_href").toUtf8(), "VDHM_Vazedi_{0}.msp");
  EXPECT_EQ(locale->getAttribute("icon_extra").toUtf8(), "item_hotfix_48.png");
  EXPECT_EQ(locale->getAttribute("title").toUtf8().rfind("<font stock=bootmenu_title>", 0), 0u);
  EXPECT_NE(window->findListItem("locale", 0), nullptr);
  EXPECT_EQ(window->getCurrentItemInfo(), locale);  // the first item is current
}

}  // namespace

namespace {

class CountingHandler : public Processor::VerbHandler {
 public:
  explicit CountingHandler(int* runs) : runs_(runs) {}
  std::int32_t execute(const char*) override { return ++*runs_; }
  void update(Processor::VerbControl*) override {}

 private:
  int* runs_;
};

TEST_F(ShellWindowTest, DoubleClickRunsTheItemMenusDefaultCommand) {
  make(
      "<kml:menu name='common'><kml:item verb='install' title='Install' flags='default'/></kml:menu>"
      "<group verb='g'><kml:item verb='support'><kml:menu><kml:item verb='other' title='Other'/>"
      "<kml:item verb='show' title='Show' flags='default'/></kml:menu></kml:item>"
      "<kml:item verb='plain'/><kml:item verb='nodefault'><kml:menu><kml:item verb='other' title='O'/>"
      "</kml:menu></kml:item></group>");
  ASSERT_TRUE(window->createMenu(doc, FXWString(u"common")));
  ASSERT_TRUE(window->createGroups(doc, FXWString()));
  int shows = 0, installs = 0, others = 0;
  window->setVerbHandler("show", new CountingHandler(&shows));
  window->setVerbHandler("install", new CountingHandler(&installs));
  window->setVerbHandler("other", new CountingHandler(&others));
  const auto doubleClick = [&](const char* verb) {
    FXKShellBrowserItem item(verb, 0, false, true);
    return window->handle(window->getItemList(), FXSEL(SEL_DOUBLECLICKED, FXKShellWindow::ID_ITEM_LIST), &item);
  };
  doubleClick("support");  // its own menu's default command
  EXPECT_EQ(shows, 1);
  doubleClick("plain");  // no menu of its own: the common menu's default
  EXPECT_EQ(installs, 1);
  EXPECT_EQ(doubleClick("nodefault"), 1);  // no default command: nothing runs
  EXPECT_EQ(others, 0);
  EXPECT_EQ(shows + installs, 2);
}

TEST_F(ShellWindowTest, ItemsFromTemplatesGetFreshIds) {
  make(
      "<group verb='g'><kml:item verb='a' id='4'/></group>"
      "<template><kml:item name='made' verb='made' title='Made'><link url='u'/></kml:item></template>");
  ASSERT_TRUE(window->createGroups(doc, FXWString()));
  FXObject* group = window->findGroup("g");
  ASSERT_NE(group, nullptr);
  FXObject* entry = window->createItemFromTemplate(group, doc, "made");
  ASSERT_NE(entry, nullptr);
  FXKShellItemInfo* info = window->itemInfoOf(entry);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->verb, "made");
  EXPECT_EQ(info->id, 5);  // the next after the highest id
  EXPECT_EQ(info->getAttribute("link:url").toUtf8(), "u");
  EXPECT_EQ(info->getAttribute("id").toUtf8(), "5");
  EXPECT_EQ(window->createItemFromTemplate(group, doc, "unknown"), nullptr);
}

}  // namespace
