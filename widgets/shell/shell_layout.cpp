#include "widgets/shell/shell_layout.h"

#include "core/catalogue.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_window_ext.h"
#include "widgets/explorer_toolbar.h"
#include "widgets/icon_list.h"
#include "widgets/preview.h"
#include "widgets/shell/explorer_bar.h"
#include "widgets/shell/shell_resources.h"
#include "widgets/shell/shell_window.h"

using namespace FX;

namespace {

// Stock colours of the application's banner.
enum { kBannerGradient1 = 26, kBannerGradient2 = 27, kBannerText = 29 };

FXExtApp* extApp(FXWindow* window) { return window ? dynamic_cast<FXExtApp*>(window->getApp()) : nullptr; }

FXColor stockColor(FXWindow* window, FXint id) {
  FXExtApp* app = extApp(window);
  return app ? app->getStockColor(id) : FXRGB(0, 0, 0);
}

FXIcon* iconByName(FXWindow* window, const char* name, FXuint options) {
  FXExtApp* app = extApp(window);
  return app ? app->loadIconByName(name, options, 0xff000000) : nullptr;
}

FXString caption(std::uint32_t slot, const char16_t* builtIn) {
  FXString text = FXWString(Common::catalogueText(slot, builtIn)).toUtf8().c_str();
  return text.substitute("\xE2\x8E\x82", "&");
}

// The toolkit build's extra window flag set on the menu layout's top frame;
// FOX 1.6 gives the bit no meaning.
constexpr FXuint kTopFrameFlag = 0x2000000;

}  // namespace

FXIMPLEMENT(FXKTopMenuFrame, FXHorizontalFrame, nullptr, 0)
FXIMPLEMENT(FXKBottomMenuFrame, FXHorizontalFrame, nullptr, 0)

FXKBottomMenuFrame::~FXKBottomMenuFrame() {
  if (!ownedIcon) return;
  if (FXExtApp* app = extApp(this))
    app->freeImage(ownedIcon);
  else
    delete ownedIcon;
}

FXint FXKTopMenuFrame::getDefaultHeight() { return std::max<FXint>(40, FXHorizontalFrame::getDefaultHeight()); }

// ---- explorer style

FXWindow* FXKShellLayoutBase::createTopArea(FXComposite* window) {
  return fxkNewExplorerPacker(window, LAYOUT_FILL_X);
}

FXWindow* FXKShellLayoutBase::createBottomArea(FXComposite* window) {
  return new FXHorizontalFrame(window, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
}

FXWindow* FXKShellLayoutBase::createLeftPane(FXComposite* container) {
  return new FXVerticalFrame(container, LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
}

FXComposite* FXKShellLayoutBase::createMainFrame(FXComposite* container) {
  return new FXVerticalFrame(container, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
}

FXComposite* FXKShellLayoutBase::createMenubar(FXComposite* topArea) {
  FXWindow* first = topArea->getFirst();
  auto* tab = new FXToolBarTab(topArea, topArea, ID_TOOLBAR_TAB, 0x2002);
  if (first) tab->reparent(topArea, first);
  auto* holder = new FXHorizontalFrame(topArea, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  auto* bar = new FXMenuBar(holder, 0x2400, 0, 0, 0, 0, 3, 3, 2, 2, 4, 4);
  if (FXIcon* logo = iconByName(window, "korvane_link_16.png", 0x410)) {
    auto* frame = new FXHorizontalFrame(holder, 0x2800, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
    FXString text = "\t";
    text += FXWString(Common::catalogueText(2530, u"Go to Korvane\u00AE' Home Page")).toUtf8().c_str();
    auto* button = new FXButton(frame, text, logo, window, FXKShellWindow::ID_LOGO_LINK, 0x10000800, 0, 0, 0, 0, 2,
                                2, 2, 2);
    button->setBackColor(0xfffffcf5);
    button->setDefaultCursor(window->getApp()->getDefaultCursor(DEF_HAND_CURSOR));
    button->setDragCursor(window->getApp()->getDefaultCursor(DEF_HAND_CURSOR));
  }
  return bar;
}

FXComposite* FXKShellLayoutBase::createToolbarPanel(FXComposite* topArea) {
  if (fxkIsExplorerPacker(topArea)) new FXToolBarTab(topArea, topArea, ID_TOOLBAR_TAB, 0x2002);
  return new FXKExplorerToolbarPanel(topArea, 0x8c00);
}

FXComposite* FXKShellLayoutBase::createToolbar(FXComposite* toolbarPanel, FXObject* target) {
  if (dynamic_cast<FXKExplorerToolbarPanel*>(toolbarPanel)) return new FXKExplorerToolbar(toolbarPanel, target, 0xc800);
  return new FXToolBar(toolbarPanel, LAYOUT_FILL_X, 0, 0, 0, 0, 2, 3, 3, 2, 4, 4);
}

FXWindow* FXKShellLayoutBase::createExplorerBar(FXComposite* parent) {
  return new FXKExplorerBar(parent, LAYOUT_FILL_Y);
}

FXKIconList* FXKShellLayoutBase::createCategoryView(FXComposite* mainFrame) {
  const FXuint options = getListOptions();
  FXKIconList* view = fxkNewShellCategoryView(mainFrame, window, options);
  if (!view) return nullptr;
  view->setTarget(window);
  view->setSelector(FXKShellWindow::ID_ITEM_LIST);
  if (FXExtApp* app = extApp(mainFrame)) view->setBackgroundImage(app->loadImageByName("background.png", 0x18));
  view->addViewStyle(5);
  view->setAppearance(5, view->getAppearance(6));
  return view;
}

FXWindow* FXKShellLayoutBase::createStatusBar(FXComposite* bottomArea) {
  const FXuint options = (decorations & 0x400000) ? 0x20410 : 0x410;
  return new FXStatusBar(bottomArea, options, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0);
}

FXWindow* FXKShellLayoutBase::createPreviewPanel(FXComposite* parent, FXObject* target) {
  auto* panel = new FXKPreviewPanel(parent, dynamic_cast<FXKBrowser*>(target), 0x10400, 0, 0, 300, 400);
  panel->setTarget(window);
  panel->setSelector(FXKShellWindow::ID_PREVIEW);
  return panel;
}

// ---- menu style

void FXKShellLayoutMenu::activate() {
  savedBackColor = window->getBackColor();
  window->setBackColor(stockColor(window, kBannerGradient2));
  savedDecorations = window->getDecorations();
  window->setDecorations(decorations);
  saved = true;
  if (flags & MENU_MAXIMIZE) window->maximize();
}

void FXKShellLayoutMenu::deactivate() {
  if (saved) {
    window->setBackColor(savedBackColor);
    window->setDecorations(savedDecorations);
    saved = false;
  }
  if (flags & MENU_MAXIMIZE) window->restore();
}

FXWindow* FXKShellLayoutMenu::createTopArea(FXComposite* window) {
  auto* frame = new FXKTopMenuFrame(window, LAYOUT_RIGHT, 0, 0, 0, 0, 0, 0);
  frame->addWindowFlags(kTopFrameFlag);
  frame->setBackColor(stockColor(window, kBannerGradient2));
  return frame;
}

FXWindow* FXKShellLayoutMenu::createBottomArea(FXComposite* window) {
  auto* frame = new FXKBottomMenuFrame(window, 0x10400, 4, 4, 4, 4, 4, 4);
  frame->setBackColor(stockColor(window, kBannerGradient2));
  if (!(flags & MENU_MAXIMIZE)) return frame;
  auto* holder = new FXHorizontalFrame(frame, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  holder->setBackColor(stockColor(window, kBannerGradient2));
  FXIcon* icon = nullptr;
  if (FXExtApp* app = extApp(window)) icon = app->loadIcon(shellExitIconPng(), 0, 0xff000000);
  frame->adoptIcon(icon);
  auto* button = new FXButton(holder, caption(349, u"\u2382Exit"), icon, this->window, FXKShellWindow::ID_EXIT,
                              0x10110020, 0, 0, 0, 0, 2, 2, 2, 2);
  button->setBackColor(stockColor(window, kBannerGradient2));
  button->setTextColor(stockColor(window, kBannerText));
  return frame;
}

FXWindow* FXKShellLayoutMenu::createLeftPane(FXComposite* container) {
  auto* frame = new FXHorizontalFrame(container, LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  auto* logo = new FXLabel(frame, FXString::null, iconByName(container, "bootmenu_logo_win.png", 0x18), 0x10c00);
  logo->setBackColor(stockColor(container, kBannerGradient1));
  logo->setTextColor(stockColor(container, kBannerText));
  auto* separator =
      new FXLabel(frame, FXString::null, iconByName(container, "bootmenu_separator_win.png", 0x18), 0x100804);
  separator->setBackColor(stockColor(container, kBannerGradient1));
  return frame;
}

FXComposite* FXKShellLayoutMenu::createMainFrame(FXComposite* container) {
  auto* frame = new FXVerticalFrame(container, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  frame->setBackColor(stockColor(container, kBannerGradient1));
  return frame;
}

FXComposite* FXKShellLayoutMenu::createToolbar(FXComposite* toolbarPanel, FXObject* target) {
  FXComposite* toolbar = FXKShellLayoutBase::createToolbar(toolbarPanel, target);
  if (auto* packer = dynamic_cast<FXPacker*>(toolbar)) {
    packer->setBackColor(stockColor(toolbarPanel, kBannerGradient2));
    packer->setFrameStyle(0);
  }
  return toolbar;
}

FXKIconList* FXKShellLayoutMenu::createCategoryView(FXComposite* mainFrame) {
  FXKIconList* view = FXKShellLayoutBase::createCategoryView(mainFrame);
  if (!view) return nullptr;
  view->clearViewStyles();
  FXKIconListAppearance look = view->getAppearance(6);
  const FXColor back = stockColor(mainFrame, kBannerGradient1);
  for (int i : {0, 3, 4, 7}) look.colors[i] = back;
  look.categorySizing = 1;
  view->setAppearance(6, look);
  view->addViewStyle(6);
  if (FXExtApp* app = extApp(mainFrame))
    view->setSelectionImage(app->loadImageByName("shell_vselection_transp_c_48.png", 0));
  view->setFormattedItems(true);
  view->setBackgroundImage(nullptr);
  view->setUniformItemHeight(false);
  view->setCenterVertically(true);
  view->enableTransparency();
  return view;
}

FXWindow* FXKShellLayoutMenu::createStatusBar(FXComposite* bottomArea) {
  auto* line = new FXStatusLine(bottomArea);
  line->setBackColor(stockColor(bottomArea, kBannerGradient2));
  line->setTextColor(stockColor(bottomArea, kBannerText));
  line->setNormalText(FXWString(Common::catalogueText(439, u"To start, click a task")).toUtf8().c_str());
  return bottomArea;
}
