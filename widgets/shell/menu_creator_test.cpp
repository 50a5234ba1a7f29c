#include "widgets/shell/menu_creator.h"

#include <gtest/gtest.h>

#include <string>

#include "gui/app/verb_processor.h"
#include "widgets/shell/xml_shell_window.h"
#include "widgets/widgets_testing.h"
#include "xml/xml_node.h"

using namespace FX;

namespace {

class MenuCreatorTest : public kvtest::GuiTest {
 protected:
  void SetUp() override {
    kvtest::GuiTest::SetUp();
    if (!app) return;
    window = new FXKXMLShellWindow(app.get(), "shell", DECOR_NONE, 0, 0, 300, 200);
  }
  const xml_node* parse(const std::string& text) {
    EXPECT_TRUE(doc.load_memory(text.data(), text.size())) << text;
    return doc.root();
  }
  xml_document doc;
  FXKXMLShellWindow* window = nullptr;
};

std::string entries(FXComposite* pane) {
  std::string out;
  for (FXWindow* w = pane ? pane->getFirst() : nullptr; w; w = w->getNext()) {
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

TEST_F(MenuCreatorTest, StandardEntries) {
  struct Case {
    const char* markup;
    const char* entries;
    bool toolbarsCascade, viewPane;
  } cases[] = {
      {"<kml:menu><kml:item verb='a' title='A'/><kml:menu standard='toolbar'><kml:item verb='x' title='X'/>"
       "</kml:menu></kml:menu>",
       "A|[Toolbars]|X", true, false},
      // The markup builder's spelling is not the creator's: nothing, children neither.
      {"<kml:menu><kml:item verb='a' title='A'/><kml:menu standard='kml:toolbar'><kml:item verb='x' title='X'/>"
       "</kml:menu></kml:menu>",
       "A", false, false},
      {"<kml:menu><kml:menu standard='iconview'><kml:item verb='x' title='X'/></kml:menu></kml:menu>", "X", false,
       true},
      {"<kml:menu><kml:item verb='a' title='A'/><separator/><kml:item standard='toolbar'/></kml:menu>",
       "A|-|[Toolbars]", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.markup);
    window = new FXKXMLShellWindow(app.get(), "shell", DECOR_NONE, 0, 0, 300, 200);
    auto* pane = new FXMenuPane(window);
    ASSERT_TRUE(FXKXMLMenuCreator::build(pane, window, window->getVerbProcessor(), parse(c.markup)));
    std::string shown = entries(pane);
    for (auto at = shown.find('&'); at != std::string::npos; at = shown.find('&')) shown.erase(at, 1);
    EXPECT_EQ(shown, c.entries);
    EXPECT_EQ(window->getToolbarsMenu() != nullptr, c.toolbarsCascade);
    EXPECT_EQ(window->getViewMenuPane() == pane, c.viewPane);
  }
}

TEST_F(MenuCreatorTest, OtherOwnersAndElements) {
  auto* pane = new FXMenuPane(main);
  auto* verbs = window->getVerbProcessor();
  EXPECT_FALSE(FXKXMLMenuCreator::build(pane, main, verbs, parse("<kml:toolbar/>")));
  EXPECT_FALSE(FXKXMLMenuCreator::build(pane, main, verbs, nullptr));
  // An owner that is no shell window adds no standard entry and builds its children nowhere.
  ASSERT_TRUE(FXKXMLMenuCreator::build(
      pane, main, verbs,
      parse("<kml:menu><kml:menu standard='toolbar'><kml:item verb='x' title='X'/></kml:menu>"
            "<kml:item verb='y' title='Y' tip='Tip'/><kml:item verb='z' title='Z' help='H'/></kml:menu>")));
  EXPECT_EQ(entries(pane), "Y|Z");
  auto* y = dynamic_cast<FXMenuCommand*>(pane->getFirst());
  auto* z = dynamic_cast<FXMenuCommand*>(pane->getLast());
  EXPECT_EQ(std::string(y->getTipText().text()), "Tip");
  EXPECT_EQ(std::string(z->getTipText().text()), "H");  // the tip falls back to the help
}

TEST_F(MenuCreatorTest, MenubarTitlesAndPanes) {
  auto* bar = new FXMenuBar(main, FXuint(LAYOUT_FILL_X));
  ASSERT_TRUE(FXKXMLMenuCreator::build(
      bar, window, window->getVerbProcessor(),
      parse("<kml:menu><kml:item verb='lost' title='Lost'/><kml:menu title='\u2382File'>"
            "<kml:item verb='open' title='Open'/><separator/><kml:item verb='exit' title='Exit'/></kml:menu>"
            "<kml:menu title='Help'><kml:item verb='about' title='About'/></kml:menu></kml:menu>")));
  std::vector<std::string> titles;
  std::vector<std::string> panes;
  for (FXWindow* w = bar->getFirst(); w; w = w->getNext()) {
    auto* t = dynamic_cast<FXMenuTitle*>(w);
    ASSERT_NE(t, nullptr);  // an item right in the menubar is not built
    titles.push_back(t->getText().text());
    panes.push_back(entries(t->getMenu()));
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"File", "Help"}));
  EXPECT_EQ(panes, (std::vector<std::string>{"Open|-|Exit", "About"}));
}

TEST(MenuText, HotKeyMarksAndAmpersands) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"\u2382Toolbars", "&Toolbars"}, {u"Save & Exit", "Save && Exit"}, {u"Plain", "Plain"}, {u"", ""}};
  for (const auto& [in, out] : cases) EXPECT_EQ(std::string(fxkMenuText(FXWString(in)).text()), out);
}

}  // namespace
