#include "widgets/shell/shell_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "gui/app/verb_processor.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_theme.h"
#include "platform/fox/fx_test_display.h"
#include "platform/fox/fx_window_ext.h"
#include "widgets/explorer_toolbar.h"
#include "widgets/icon_list.h"
#include "widgets/preview.h"
#include "widgets/shell/category_view.h"
#include "widgets/shell/explorer_bar.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/shell_window.h"

using namespace FX;

namespace {

// Fixed banner colours and an archive that holds a few solid-colour pictures,
// so each pane's colour and picture can be told apart on screen.
constexpr FXColor kGradient1 = FXRGB(0, 0, 200);
constexpr FXColor kGradient2 = FXRGB(0, 160, 0);
constexpr FXColor kBannerText = FXRGB(250, 250, 0);
const std::map<std::string, FXColor> kPictures = {
    {"korvane_link_16.png", FXRGB(200, 0, 0)},
    {"bootmenu_logo_win.png", FXRGB(255, 128, 0)},
    {"bootmenu_separator_win.png", FXRGB(128, 0, 128)},
    {"background.png", FXRGB(10, 10, 10)},
    {"shell_vselection_transp_c_48.png", FXRGB(20, 20, 20)},
};

class LayoutApp : public FXExtApp {
 public:
  explicit LayoutApp(bool withPictures) : FXExtApp("kvshelltest", "kvtest"), withPictures_(withPictures) {}
  ~LayoutApp() override {
    for (auto& [name, image] : made_) delete image;
  }
  bool getSystemDefaultColor(FXint id, FXColor& color) override {
    switch (id) {
      case 26: color = kGradient1; return true;
      case 27: color = kGradient2; return true;
      case 29: color = kBannerText; return true;
      default: return FXExtApp::getSystemDefaultColor(id, color);
    }
  }
  FXImage* loadImageStub(const void* name, FXuint options, bool fromArchive, void* extra) override {
    if (!fromArchive) return FXExtApp::loadImageStub(name, options, fromArchive, extra);
    return picture(static_cast<const char*>(name), false);
  }
  FXIcon* loadIconStub(const void* name, FXuint options, FXColor transparent, bool fromArchive, void* extra) override {
    if (!fromArchive) return FXExtApp::loadIconStub(name, options, transparent, fromArchive, extra);
    return static_cast<FXIcon*>(picture(static_cast<const char*>(name), true));
  }
  void freeImageStub(FXImage* image) override {
    for (auto& [name, made] : made_)
      if (made == image) return;  // the archive's pictures stay until the application goes
    FXExtApp::freeImageStub(image);
  }

 private:
  FXImage* picture(const std::string& name, bool icon) {
    auto known = kPictures.find(name);
    if (!withPictures_ || known == kPictures.end()) return nullptr;
    FXImage*& slot = made_[name + (icon ? "#icon" : "")];
    if (!slot) {
      slot = icon ? new FXIcon(this, nullptr, 0, IMAGE_OWNED | IMAGE_OPAQUE, 16, 16)
                  : new FXImage(this, nullptr, IMAGE_OWNED, 16, 16);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) slot->setPixel(x, y, known->second);
    }
    return slot;
  }
  bool withPictures_;
  std::map<std::string, FXImage*> made_;
};

// Takes the window's close request instead of letting FOX delete the window.
class CloseCatcher : public FXObject {
  FXDECLARE(CloseCatcher)

 public:
  long onClose(FXObject*, FXSelector, void*) {
    ++closes;
    return 1;
  }
  int closes = 0;
};
FXDEFMAP(CloseCatcher) CloseCatcherMap[] = {FXMAPFUNC(SEL_CLOSE, 0, CloseCatcher::onClose)};
FXIMPLEMENT(CloseCatcher, FXObject, CloseCatcherMap, ARRAYNUMBER(CloseCatcherMap))

template <class T>
T* childOf(FXWindow* parent, int index = 0) {
  for (FXWindow* w = parent ? parent->getFirst() : nullptr; w; w = w->getNext())
    if (auto* t = dynamic_cast<T*>(w); t && index-- == 0) return t;
  return nullptr;
}

constexpr FXuint kAllPanes = FXKShellWindow::SHELL_TOP_AREA | FXKShellWindow::SHELL_LEFT_PANE |
                             FXKShellWindow::SHELL_MAIN_FRAME | FXKShellWindow::SHELL_BOTTOM_AREA;

class ShellLayoutTest : public FXAppTest<LayoutApp> {
 protected:
  std::unique_ptr<LayoutApp> makeApp() override { return std::make_unique<LayoutApp>(withPictures); }
  void TearDown() override {
    if (window) {
      window->destroy();
      delete window;
      window = nullptr;
    }
    FXAppTest<LayoutApp>::TearDown();
  }
  FXKShellWindow* makeWindow(FXuint options, FXint w = 640, FXint h = 480) {
    window = new FXKShellWindow(app.get(), "shell", nullptr, nullptr, DECOR_ALL | options, 0, 0, w, h);
    return window;
  }
  // A window that has just grown to the screen keeps the server busy a
  // while: events until its pending layout has run.
  void settleLayout() {
    settleEvents(app.get());
    for (int i = 0; i < 200 && app->hasChore(window, FXShell::ID_LAYOUT); ++i) settleEvents(app.get(), 2);
  }
  bool withPictures = true;
  FXKShellWindow* window = nullptr;
};

TEST_F(ShellLayoutTest, ExplorerMenubarTabLogoLinkAndToolbars) {
  makeWindow(kAllPanes);
  FXComposite* bar = window->buildMenubar();
  ASSERT_NE(bar, nullptr);
  FXWindow* top = window->getTopArea();
  ASSERT_TRUE(fxkIsExplorerPacker(top));
  EXPECT_EQ(fxGetWindowName(bar), FXWString(u"MenubarPanel"));  // the default layout has no name
  // The tab leads the top area; the menubar sits in a holder beside the logo link.
  auto* tab = dynamic_cast<FXToolBarTab*>(top->getFirst());
  ASSERT_NE(tab, nullptr);
  EXPECT_EQ(tab->getTarget(), top);
  EXPECT_EQ(tab->getSelector(), 62u);
  ASSERT_TRUE(dynamic_cast<FXMenuBar*>(bar));
  EXPECT_EQ(bar->getParent()->getParent(), top);
  EXPECT_EQ(static_cast<FXPacker*>(bar)->getPadLeft(), 3);
  EXPECT_EQ(static_cast<FXPacker*>(bar)->getPadTop(), 2);
  auto* linkFrame = dynamic_cast<FXHorizontalFrame*>(bar->getNext());
  ASSERT_NE(linkFrame, nullptr);
  auto* link = childOf<FXButton>(linkFrame);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->getText(), FXString::null);  // a tip, no label
  EXPECT_EQ(link->getTipText(), FXString("Go to Korvane\xC2\xAE' Home Page"));
  EXPECT_EQ(link->getTarget(), window);
  EXPECT_EQ(link->getSelector(), FXSelector(FXKShellWindow::ID_LOGO_LINK));
  EXPECT_EQ(link->getBackColor(), FXColor(0xfffffcf5));
  ASSERT_NE(link->getIcon(), nullptr);

  // A toolbar panel in an explorer packer brings its own tab.
  FXComposite* toolbar = window->addToolbar(FXWString(u"Standard"), FXWString(u"Std"));
  ASSERT_NE(toolbar, nullptr);
  auto* panel = dynamic_cast<FXKExplorerToolbarPanel*>(window->getToolbarPanel());
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->getLayoutHints() & 0xc00u, 0xc00u);
  EXPECT_EQ(fxGetWindowName(panel), FXWString(u"ToolbarPanel"));
  EXPECT_NE(dynamic_cast<FXToolBarTab*>(panel->getPrev()), nullptr);
  auto* explorer = dynamic_cast<FXKExplorerToolbar*>(toolbar);
  ASSERT_NE(explorer, nullptr);
  EXPECT_EQ(explorer->getText(), FXWString(u"Standard"));
  EXPECT_EQ(explorer->getDocument(), window->getBrowser());
  EXPECT_EQ(fxGetWindowName(toolbar), FXWString(u"Std"));
  // In any other parent the toolbar is a plain one.
  auto* plain = new FXHorizontalFrame(window);
  auto* other = dynamic_cast<FXToolBar*>(window->getLayout()->createToolbar(plain, nullptr));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->getLayoutHints() & LAYOUT_FILL_X, FXuint(LAYOUT_FILL_X));
  EXPECT_EQ(other->getPadLeft(), 2);
  EXPECT_EQ(other->getPadRight(), 3);
  EXPECT_EQ(other->getPadTop(), 3);
  EXPECT_EQ(other->getPadBottom(), 2);
}

TEST_F(ShellLayoutTest, ExplorerOmitsTheLogoLinkWithoutItsIcon) {
  withPictures = false;
  TearDown();
  SetUp();
  makeWindow(kAllPanes);
  FXComposite* bar = window->buildMenubar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->getNext(), nullptr);
}

TEST_F(ShellLayoutTest, ExplorerStatusBarItemListExplorerBarAndPreview) {
  makeWindow(kAllPanes);
  window->create();
  // The window's own layout (decorations 0x4fe0000) gives the status bar its drag corner.
  auto* status = dynamic_cast<FXStatusBar*>(window->getStatusBar());
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->getParent(), window->getBottomArea());
  EXPECT_TRUE(status->getCornerStyle());
  FXKShellLayoutBase plain(window, 0);
  auto* noCorner = dynamic_cast<FXStatusBar*>(plain.createStatusBar(static_cast<FXComposite*>(window->getBottomArea())));
  ASSERT_NE(noCorner, nullptr);
  EXPECT_FALSE(noCorner->getCornerStyle());

  FXKIconList* list = window->buildItemList();
  auto* view = dynamic_cast<FXKShellCategoryView*>(list);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->getParent(), window->getMainFrame());
  EXPECT_EQ(view->getTarget(), window);
  EXPECT_EQ(view->getSelector(), FXSelector(FXKShellWindow::ID_ITEM_LIST));
  EXPECT_EQ(view->getLayoutHints() & 0xc00u, 0xc00u);
  EXPECT_EQ(fxGetWindowName(view), FXWString(u"IconlistList"));
  EXPECT_TRUE(view->hasBackground());
  ASSERT_EQ(view->viewStyles().size(), 1u);
  EXPECT_EQ(view->viewStyles()[0], 5);
  const FXKIconListAppearance five = view->getAppearance(5), six = view->getAppearance(6);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(five.colors[i], six.colors[i]) << i;

  auto* explorerBar = dynamic_cast<FXKExplorerBar*>(window->getLayout()->createExplorerBar(window->getMainFrame()));
  ASSERT_NE(explorerBar, nullptr);
  EXPECT_EQ(explorerBar->getLayoutHints(), FXuint(LAYOUT_FILL_Y));

  // The preview panel keeps its holder hidden until there is something to show.
  auto* holder = new FXVerticalFrame(window->getMainFrame());
  auto* preview =
      dynamic_cast<FXKPreviewPanel*>(window->getLayout()->createPreviewPanel(holder, window->getBrowser()));
  ASSERT_NE(preview, nullptr);
  EXPECT_FALSE(holder->shown());
  EXPECT_EQ(preview->getTarget(), window);
  EXPECT_EQ(preview->getSelector(), FXSelector(FXKShellWindow::ID_PREVIEW));
  EXPECT_EQ(preview->getWidth(), 300);
  EXPECT_EQ(preview->getHeight(), 400);
}

// Pixels of the menu layout on screen: the banner colours of the top, main
// and bottom frames, the logo on the left, the status line's text.
TEST_F(ShellLayoutTest, MenuLayoutColoursPanesAndRestore) {
  makeWindow(kAllPanes, 500, 360);
  auto* catcher = new CloseCatcher;
  window->setTarget(catcher);
  const FXColor before = window->getBackColor();
  window->create();
  window->show(PLACEMENT_SCREEN);
  settleEvents(app.get());
  auto* menu = new FXKShellLayoutMenu(window, DECOR_NONE, FXKShellLayoutMenu::MENU_MAXIMIZE);
  window->addLayout("menu", menu);
  window->buildItemList();
  window->recalc();
  settleLayout();
  EXPECT_EQ(window->getBackColor(), kGradient2);
  EXPECT_EQ(window->getDecorations(), FXuint(DECOR_NONE));
  // Maximised: over the whole screen, the banner colour in its far corner.
  const FXint sw = window->getRoot()->getWidth(), sh = window->getRoot()->getHeight();
  EXPECT_TRUE(window->isMaximized());
  EXPECT_EQ(window->getWidth(), sw);
  EXPECT_EQ(window->getHeight(), sh);
  EXPECT_EQ(pixelOnceShown(window, sw - 3, sh - 3, kGradient2 | 0xFF000000u), kGradient2 | 0xFF000000u);

  FXWindow* top = window->getTopArea();
  ASSERT_NE(dynamic_cast<FXKTopMenuFrame*>(top), nullptr);
  EXPECT_EQ(top->getBackColor(), kGradient2);
  EXPECT_GE(top->getHeight(), 40);
  // Placed at the right at its own width.
  FXint ml = 0, mt = 0, mr = 0, mb = 0;
  fxGetTheme(app.get())->getFrameMargins(ml, mt, mr, mb);
  EXPECT_EQ(top->getX() + top->getWidth(), window->getWidth() - mr);
  FXWindow* bottom = window->getBottomArea();
  ASSERT_NE(dynamic_cast<FXKBottomMenuFrame*>(bottom), nullptr);
  EXPECT_EQ(bottom->getHeight(), 60);
  // The status bar is the bottom area, holding the status line.
  EXPECT_EQ(window->getStatusBar(), bottom);
  EXPECT_EQ(fxGetWindowName(bottom), FXWString(u"menuStatusBar"));
  auto* line = childOf<FXStatusLine>(bottom);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->getNormalText(), FXString("To start, click a task"));
  EXPECT_EQ(line->getTextColor(), kBannerText);
  // The exit button closes the window.
  auto* exitButton = childOf<FXButton>(childOf<FXHorizontalFrame>(bottom));
  ASSERT_NE(exitButton, nullptr);
  EXPECT_EQ(exitButton->getText(), FXString("Exit"));
  EXPECT_EQ(exitButton->getTextColor(), kBannerText);
  EXPECT_EQ(exitButton->getBackColor(), kGradient2);
  exitButton->getTarget()->handle(exitButton, FXSEL(SEL_COMMAND, exitButton->getSelector()), nullptr);
  EXPECT_EQ(catcher->closes, 1);

  FXWindow* left = window->getLeftPane();
  ASSERT_NE(left, nullptr);
  auto* logo = childOf<FXLabel>(left);
  auto* separator = childOf<FXLabel>(left, 1);
  ASSERT_TRUE(logo && separator);
  EXPECT_EQ(logo->getBackColor(), kGradient1);
  EXPECT_EQ(separator->getBackColor(), kGradient1);
  EXPECT_EQ(window->getMainFrame()->getBackColor(), kGradient1);

  // On screen: the logo's colour inside the left pane, the gradient colours
  // in the main frame and the bottom frame.
  const FXint lx = logo->getX() + logo->getWidth() / 2, ly = logo->getY() + logo->getHeight() / 2;
  EXPECT_EQ(pixelOnceShown(logo, lx - logo->getX(), ly - logo->getY(), FXRGB(255, 128, 0) | 0xFF000000u),
            FXRGB(255, 128, 0) | 0xFF000000u);
  EXPECT_EQ(pixelOnceShown(bottom, bottom->getWidth() - 3, 2, kGradient2 | 0xFF000000u), kGradient2 | 0xFF000000u);

  // The menu layout's item list: one style, banner colours, centred groups.
  auto* view = dynamic_cast<FXKShellCategoryView*>(window->getItemList());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->getLayoutHints() & 0xc00u, 0xc00u);
  ASSERT_EQ(view->viewStyles().size(), 1u);
  EXPECT_EQ(view->viewStyles()[0], 6);
  const FXKIconListAppearance look = view->getAppearance(6);
  for (int i : {0, 3, 4, 7}) EXPECT_EQ(look.colors[i], kGradient1) << i;
  EXPECT_EQ(look.categorySizing, 1);
  EXPECT_NE(view->getSelectionImage(), nullptr);
  EXPECT_TRUE(view->hasFormattedItems());
  EXPECT_FALSE(view->getUniformItemHeight());

  // Toolbars take the banner colour and lose their frame.
  auto* toolbar = dynamic_cast<FXPacker*>(window->addToolbar(FXWString(u"T"), FXWString()));
  ASSERT_NE(toolbar, nullptr);
  EXPECT_EQ(toolbar->getBackColor(), kGradient2);
  EXPECT_EQ(toolbar->getFrameStyle(), 0u);
  // No toolbar tab in a top frame that is no explorer packer.
  EXPECT_EQ(childOf<FXToolBarTab>(top), nullptr);

  // Leaving the layout gives the window back its colour, decorations and size.
  auto* plain = new FXKShellLayoutBase(window, 0);
  window->addLayout("plain", plain);
  window->setLayout("plain", plain);
  settleEvents(app.get());
  EXPECT_EQ(window->getBackColor(), before);
  EXPECT_EQ(window->getDecorations(), FXuint(DECOR_ALL));
  EXPECT_FALSE(window->isMaximized());
  EXPECT_EQ(window->getWidth(), 500);
  EXPECT_EQ(window->getHeight(), 360);
  window->setTarget(nullptr);
  delete catcher;
}

TEST_F(ShellLayoutTest, MenuLayoutWithoutMaximiseKeepsTheSizeAndHasNoExit) {
  makeWindow(kAllPanes, 420, 300);
  window->create();
  window->show(PLACEMENT_SCREEN);
  settleEvents(app.get());
  window->addLayout("menu", new FXKShellLayoutMenu(window, DECOR_TITLE, 0));
  settleEvents(app.get());
  EXPECT_FALSE(window->isMaximized());
  EXPECT_EQ(window->getWidth(), 420);
  EXPECT_EQ(window->getDecorations(), FXuint(DECOR_TITLE));
  FXWindow* bottom = window->getBottomArea();
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(childOf<FXButton>(childOf<FXHorizontalFrame>(bottom)), nullptr);
  EXPECT_EQ(bottom->getHeight(), 60);
  // "toggle_statusbar" hides the whole bottom area.
  FXKVerbProcessor* verbs = window->getVerbProcessor();
  ASSERT_NE(verbs, nullptr);
  verbs->executeVerb(verbs->getVerbId("toggle_statusbar"));
  EXPECT_FALSE(bottom->shown());
}

// A menu layout made current before the window exists maximises it when
// it is shown, as the install menu's window is built.
TEST_F(ShellLayoutTest, MenuLayoutMaximisesAWindowShownLater) {
  makeWindow(kAllPanes, 300, 200);
  window->addLayout("menu", new FXKShellLayoutMenu(window, DECOR_NONE, FXKShellLayoutMenu::MENU_MAXIMIZE));
  EXPECT_FALSE(window->isMaximized());
  window->create();
  window->show(PLACEMENT_DEFAULT);
  settleLayout();
  EXPECT_TRUE(window->isMaximized());
  EXPECT_EQ(window->getWidth(), window->getRoot()->getWidth());
  EXPECT_EQ(window->getHeight(), window->getRoot()->getHeight());
  // The bottom frame sits at the bottom of the screen, inside the frame margins.
  FXint ml = 0, mt = 0, mr = 0, mb = 0;
  fxGetTheme(app.get())->getFrameMargins(ml, mt, mr, mb);
  FXWindow* bottom = window->getBottomArea();
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(bottom->getY() + bottom->getHeight(), window->getHeight() - mb);
  EXPECT_EQ(pixelOnceShown(bottom, bottom->getWidth() - 3, bottom->getHeight() - 2, kGradient2 | 0xFF000000u),
            kGradient2 | 0xFF000000u);
}

// Item icons by size and overlay, loaded once per name; a name that does not
// load gives the default icon (none in this window).
TEST_F(ShellLayoutTest, ItemIconsBySizeAndItemMenusReplaced) {
  makeWindow(0, 200, 100);
  FXKShellItemInfo* info = window->createItemInfo("it", 0);
  info->attributes["icon_small"] = FXWString(u"korvane_link_16.png");
  info->attributes["icon_large"] = FXWString(u"bootmenu_logo_win.png");
  info->attributes["icon_extra"] = FXWString(u"nosuch.png");
  info->attributes["overlay_small"] = FXWString(u"background.png");
  window->addItem(nullptr, info);
  const struct {
    int size;
    bool overlay;
    FXColor color;  // 0: no icon
  } cases[] = {
      {0, false, FXRGB(200, 0, 0)},
      {1, false, 0},  // no medium icon named
      {2, false, FXRGB(255, 128, 0)},
      {3, false, 0},  // named, but does not load
      {4, false, 0},  // no such size
      {0, true, FXRGB(10, 10, 10)},
      {2, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.overlay ? " overlay" : ""));
    FXIcon* icon = c.overlay ? window->getItemOverlay("it", 0, c.size) : window->getItemIcon("it", 0, c.size);
    if (!c.color) {
      EXPECT_EQ(icon, nullptr);
      continue;
    }
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->getPixel(3, 3), c.color);
    EXPECT_EQ(window->getItemIconAlternate("it", 0, c.size) == icon, !c.overlay);
  }
  EXPECT_EQ(window->getItemIcon("it", 0, 0), window->getItemIcon("it", 0, 0));
  EXPECT_EQ(window->getItemIcon("unknown", 0, 0), nullptr);

  // A second menu for a verb replaces the first; other verbs use the common menu.
  FXMenuPane* common = window->newPopupMenu();
  FXMenuPane* first = window->newItemMenu("it");
  new FXMenuCommand(first, "First");
  FXMenuPane* second = window->newItemMenu("it");
  EXPECT_NE(second, first);
  EXPECT_EQ(window->findItemMenu("it"), second);
  EXPECT_EQ(second->getFirst(), nullptr);
  EXPECT_EQ(window->findItemMenu("other"), common);
}

}  // namespace
