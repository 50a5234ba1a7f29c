#include "widgets/shell/shell_window.h"

#include <algorithm>
#include <cstring>

#include "core/catalogue.h"
#include "core/object.h"
#include "gui/app/korvane_app.h"
#include "gui/app/verb_core.h"
#include "gui/app/verb_processor.h"
#include "gui/dialogs/help.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_messages.h"
#include "platform/fox/fx_theme.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/windows.h"
#include "widgets/browser.h"
#include "widgets/dialogs/message_box.h"
#include "widgets/explorer_toolbar.h"
#include "widgets/icon_list.h"
#include "widgets/shell/kml.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/shell_layout.h"
#include "xml/product_configuration.h"

using namespace FX;

namespace {

FXWString widen(const std::string& text) { return FXWString::fromUtf8(text.c_str()); }

// The view kinds a subclass offers, as the item list's view styles.
int styleOfKind(std::int32_t kind) {
  switch (kind) {
    case 0: return 6;
    case 1: return 5;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    default: return 0;
  }
}

FXSettings* settingsStore(FXApp* app) {
  if (auto* ext = dynamic_cast<FXExtApp*>(app)) return &ext->reg();
  return &app->reg();
}

// The window's own flag the toolkit build sets on every shell window; FOX 1.6
// gives the bit no meaning.
constexpr FXuint kShellWindowFlag = 0x20000000;

}  // namespace

FXDEFMAP(FXKShellWindow) FXKShellWindowMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_LOGO_LINK, FXKShellWindow::onCmdLogoLink),
    FXMAPFUNC(SEL_DOUBLECLICKED, FXKShellWindow::ID_ITEM_LIST, FXKShellWindow::onDblClkItem),
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_ABOUT, FXKShellWindow::onCmdAbout),
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_HELP, FXKShellWindow::onCmdHelp),
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_WEB_SUPPORT, FXKShellWindow::onCmdWebSupport),
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_WEB_PRODUCT, FXKShellWindow::onCmdWebProduct),
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_USER_MANUAL, FXKShellWindow::onCmdUserManual),
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_EXIT, FXKShellWindow::onCmdExit),
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_EXECUTE_VERB, FXKShellWindow::onCmdExecuteVerb),
    FXMAPFUNC(SEL_CHANGED, FXKShellWindow::ID_ITEM_LIST, FXKShellWindow::onChgItem),
    FXMAPFUNC(SEL_COMMAND, FXKShellWindow::ID_EXECUTE_VERB_RESULT, FXKShellWindow::onCmdExecuteVerbResult),
};
FXIMPLEMENT(FXKShellWindow, FXMainWindow, FXKShellWindowMap, ARRAYNUMBER(FXKShellWindowMap))

FXKShellWindow::FXKShellWindow() = default;

FXKShellWindow::FXKShellWindow(FXApp* app, const FXString& title, FXIcon* icon, FXIcon* miniIcon, FXuint options,
                               FXint x, FXint y, FXint w, FXint h, FXint pl, FXint pr, FXint pt, FXint pb, FXint hs,
                               FXint vs)
    : FXMainWindow(app, title, icon, miniIcon, options, x, y, w, h, pl, pr, pt, pb, hs, vs) {
  flags |= kShellWindowFlag;
  fxSetWindowName(this, FXWString(u"MAIN"));
  browser = Processor::RefPtr<FXKBrowser>::adopt(fxkNewShellBrowser(this));
  verbProcessor = Processor::RefPtr<FXKVerbProcessor>::adopt(new FXKVerbProcessor(app));
  verbProcessor->bindVerbIndirect("toggle_statusbar", &statusBar, FXWindow::ID_TOGGLESHOWN);
  verbProcessor->bindVerbIndirect("toggle_taskbar", &taskBar, FXWindow::ID_TOGGLESHOWN);
  verbProcessor->bindVerb("about", this, ID_ABOUT);
  verbProcessor->bindVerb("help_context", this, ID_HELP);
  verbProcessor->bindVerb("user_manual", this, ID_USER_MANUAL);
  verbProcessor->bindVerb("web_support", this, ID_WEB_SUPPORT);
  verbProcessor->bindVerb("web_product", this, ID_WEB_PRODUCT);
  verbProcessor->bindVerb("exit", this, ID_EXIT);
  currentLayout = new FXKShellLayoutBase(this, kDefaultLayoutDecorations);
  currentLayout->activate();
}

FXKShellWindow::~FXKShellWindow() {
  if (popupMenu) {
    popupMenu->destroy();
    fxForgetWindowTree(popupMenu);
    delete popupMenu;
    popupMenu = nullptr;
  }
  for (auto& [id, pane] : itemMenus) {
    pane->destroy();
    fxForgetWindowTree(pane);
    delete pane;
  }
  itemMenus.clear();
  for (FXKShellItemInfo* info : itemInfos) delete info;
  itemInfos.clear();
  auto* ext = dynamic_cast<FXExtApp*>(getApp());
  for (auto& [name, icon] : iconCache)
    if (ext) ext->freeImage(icon);
  iconCache.clear();
  for (auto& [key, font] : fontCache) delete font;
  fontCache.clear();
  if (defaultIcon && ext) ext->freeImage(defaultIcon);
  defaultIcon = nullptr;
  for (auto& [info, object] : sourceObjects) delete object;
  sourceObjects.clear();
  delete itemSource;
  itemSource = nullptr;
  if (currentLayout && !isRegisteredLayout(currentLayout)) delete currentLayout;
  currentLayout = nullptr;
  clearLayouts();
  verbProcessor = nullptr;
  // The panes go before the document they show.
  deleteChildren();
  toolbarsMenu = nullptr;
  viewMenuPane = nullptr;
  listBrowser = nullptr;
  browser = nullptr;
  fxForgetWindowTree(this);
}

void FXKShellWindow::deleteChildren() {
  while (FXWindow* child = getFirst()) {
    child->destroy();
    fxForgetWindowTree(child);
    delete child;
  }
}

// ---- creation

void FXKShellWindow::create() {
  if (id()) return;
  if (FXObject* source = getItemSource()) source->handle(browser.get(), FXSEL(SEL_ATTACH, 0), nullptr);
  readSettings();
  beforeCreatePanes();
  createPanes();
  FXMainWindow::create();
  addViewStyleCommands();
  // A document never becomes a view of itself: its relays would go round.
  if (listBrowser && listBrowser != browser) listBrowser->handle(browser.get(), FXSEL(SEL_ATTACH, 0), nullptr);
  if (browser) browser->handle(this, FXSEL(SEL_ATTACH, 0), nullptr);
}

void FXKShellWindow::addViewStyleCommands() {
  if (!itemList || !viewMenuPane) return;
  if (viewMenuPane->numChildren() > 0) new FXMenuSeparator(viewMenuPane);
  itemList->fillContextMenu(viewMenuPane, nullptr, 0);
  viewMenuPane->create();
}

void FXKShellWindow::destroy() {
  if (!id()) return;
  writeSettings();
  if (listBrowser && listBrowser != browser) listBrowser->handle(browser.get(), FXSEL(SEL_DETACH, 0), nullptr);
  if (browser) {
    for (FXWindow* view : attachedViews) browser->handle(view, FXSEL(SEL_DETACH, 0), nullptr);
    attachedViews.clear();
    browser->handle(this, FXSEL(SEL_DETACH, 0), nullptr);
  }
  FXMainWindow::destroy();
}

void FXKShellWindow::createPanes() {
  if ((options & SHELL_TOP_AREA) && !topArea) topArea = createTopArea(this);
  if ((options & SHELL_LEFT_PANE) && !leftPane) leftPane = createLeftPane();
  if ((options & SHELL_MAIN_FRAME) && !mainFrame) {
    mainFrame = createMainFrame();
    if (mainFrame) nameWindow(mainFrame, u"HFRAME");
  }
  if (options & SHELL_BOTTOM_AREA) {
    bottomArea = createBottomArea(this);
    if (bottomArea) {
      statusBar = currentLayout ? currentLayout->createStatusBar(dynamic_cast<FXComposite*>(bottomArea)) : nullptr;
      if (statusBar) nameWindow(statusBar, u"StatusBar");
    }
  }
  if (toolbarPanel && toolbarsMenu)
    if (auto* panel = dynamic_cast<FXKExplorerToolbarPanel*>(toolbarPanel)) panel->setToolbarsMenu(toolbarsMenu);
  if (!itemList && (options & SHELL_ITEM_LIST)) {
    itemList = createItemList(mainFrame);
    if (itemList) {
      nameWindow(itemList, u"IconlistList");
      listBrowser = Processor::RefPtr<FXKBrowser>(itemList->getBrowser());
    }
  }
  if (itemList && !viewKinds.empty()) {
    itemList->clearViewStyles();
    for (std::int32_t kind : viewKinds) itemList->addViewStyle(styleOfKind(kind));
    itemList->setAppearance(5, itemList->getAppearance(6));
  }
}

void FXKShellWindow::nameWindow(FXWindow* window, const FXWString& suffix) {
  if (!window) return;
  FXWString name = widen(currentLayoutName);
  name += suffix;
  paneNames.push_back(name);
  fxSetWindowName(window, name);
}

// ---- virtual operations with nothing to do in the base

void FXKShellWindow::showCurrentItem() {
  if (!itemList || !browser) return;
  if (const FXKBrowserItem* current = browser->getCurrentItem()) itemList->activateItem(current, 0);
}

FXObject* FXKShellWindow::createItemSource() { return nullptr; }
FXKIconList* FXKShellWindow::createItemList(FXComposite*) { return nullptr; }
void FXKShellWindow::beforeCreatePanes() {}
void FXKShellWindow::showAbout() {}

// ---- layout forwarding

FXWindow* FXKShellWindow::createTopArea(FXComposite* window) {
  return currentLayout ? currentLayout->createTopArea(window) : nullptr;
}

FXComposite* FXKShellWindow::getBodyContainer(FXComposite* window) {
  return currentLayout ? currentLayout->getBodyContainer(window) : nullptr;
}

FXWindow* FXKShellWindow::createBottomArea(FXComposite* window) {
  return currentLayout ? currentLayout->createBottomArea(window) : nullptr;
}

FXWindow* FXKShellWindow::createLeftPane() {
  if (!bodyContainer) bodyContainer = getBodyContainer(this);
  if (!bodyContainer || !currentLayout) return nullptr;
  FXWindow* pane = currentLayout->createLeftPane(bodyContainer);
  if (pane && mainFrame && mainFrame->getParent() == pane->getParent()) pane->reparent(pane->getParent(), mainFrame);
  return pane;
}

FXComposite* FXKShellWindow::createMainFrame() {
  if (!bodyContainer) bodyContainer = getBodyContainer(this);
  if (!bodyContainer || !currentLayout) return nullptr;
  FXComposite* frame = currentLayout->createMainFrame(bodyContainer);
  if (frame && leftPane && leftPane->getParent() == frame->getParent() && leftPane->getNext() != frame)
    frame->reparent(frame->getParent(), leftPane->getNext());
  return frame;
}

// ---- layouts

FXKShellLayout* FXKShellWindow::findLayout(const std::string& name) const {
  auto it = layoutsByName.find(name);
  return it == layoutsByName.end() ? nullptr : it->second;
}

FXKShellLayout* FXKShellWindow::findLayout(std::int32_t id) const {
  auto it = layoutsById.find(id);
  return it == layoutsById.end() ? nullptr : it->second;
}

std::string FXKShellWindow::currentLayoutRegisteredName() const {
  for (const auto& [name, layout] : layoutsByName)
    if (layout == currentLayout) return name;
  return std::string();
}

bool FXKShellWindow::isRegisteredLayout(const FXKShellLayout* layout) const {
  for (const auto& [name, registered] : layoutsByName)
    if (registered == layout) return true;
  return false;
}

std::int32_t FXKShellWindow::addLayout(const std::string& name, FXKShellLayout* layout) {
  if (!layout) return 0;
  if (layoutsByName.empty()) {
    if (currentLayout && !isRegisteredLayout(currentLayout)) delete currentLayout;
    currentLayout = nullptr;
    setLayout(name, layout);
  }
  auto it = layoutsByName.find(name);
  if (it == layoutsByName.end()) {
    const std::int32_t id = ++layoutIdCounter;
    layoutsByName[name] = layout;
    layoutsById[id] = layout;
    return id;
  }
  FXKShellLayout* old = it->second;
  std::int32_t id = 0;
  for (auto& [key, value] : layoutsById)
    if (value == old) id = key;
  // The very object again: nothing to replace.
  if (old == layout) return id;
  it->second = layout;
  layoutsById[id] = layout;
  if (currentLayout == old) currentLayout = layout;
  delete old;
  return id;
}

void FXKShellWindow::setLayout(const std::string& name, FXKShellLayout* layout) {
  if (layout == currentLayout) return;
  if (currentLayout) {
    currentLayout->deactivate();
    if (!isRegisteredLayout(currentLayout)) delete currentLayout;
  }
  currentLayout = layout;
  currentLayoutName = name;
  if (currentLayout) currentLayout->activate();
  recreatePanes();
  addViewStyleCommands();
}

void FXKShellWindow::clearLayouts() {
  std::vector<FXKShellLayout*> gone;
  for (auto& [name, layout] : layoutsByName) gone.push_back(layout);
  layoutsByName.clear();
  layoutsById.clear();
  for (FXKShellLayout* layout : gone) {
    // The window no longer holds a layout it deleted.
    if (layout == currentLayout) currentLayout = nullptr;
    delete layout;
  }
}

void FXKShellWindow::recreatePanes() {
  if (browser) {
    for (FXWindow* view : attachedViews) browser->handle(view, FXSEL(SEL_DETACH, 0), nullptr);
  }
  attachedViews.clear();
  if (menubar) {
    menubar->destroy();
    fxForgetWindowTree(menubar);
    delete menubar;
  }
  if (taskBar) {
    taskBar->destroy();
    fxForgetWindowTree(taskBar);
    delete taskBar;
    stringMap.clear();
  }
  if (listBrowser && listBrowser != browser && id())
    listBrowser->handle(browser.get(), FXSEL(SEL_DETACH, 0), nullptr);
  listBrowser = nullptr;
  itemList = nullptr;
  topArea = nullptr;
  bodyContainer = nullptr;
  bottomArea = nullptr;
  leftPane = nullptr;
  mainFrame = nullptr;
  statusBar = nullptr;
  menubar = nullptr;
  toolbarPanel = nullptr;
  taskBar = nullptr;
  toolbarsMenu = nullptr;
  viewMenuPane = nullptr;
  deleteChildren();
  if (id()) {
    beforeCreatePanes();
    createPanes();
    for (FXWindow* child = getFirst(); child; child = child->getNext()) child->create();
    if (listBrowser && listBrowser != browser) listBrowser->handle(browser.get(), FXSEL(SEL_ATTACH, 0), nullptr);
    recalc();
    update();
  }
}

// ---- sizes and layout

void FXKShellWindow::layout() {
  FXint left = 0, right = 0, top = 0, bottom = 0;
  fxGetTheme(getApp())->getFrameMargins(left, top, right, bottom);
  FXint w = width - padleft - padright - left - right;
  FXint h = height - padtop - top - bottom - padbottom;
  FXint x = padleft + left;
  FXint y = padtop + top;
  if (topArea) {
    const FXint th = fxDefaultHeight(topArea, w);
    const FXuint hints = topArea->getLayoutHints();
    const FXint tw = (hints & LAYOUT_FILL_X) ? w : topArea->getDefaultWidth();
    const FXint tx = ((hints & LAYOUT_RIGHT) && !(hints & LAYOUT_FILL_X)) ? width - padright - tw - right : padleft + left;
    topArea->position(tx, padtop + top, tw, th);
    y += th;
    h -= th;
  }
  if (bottomArea) {
    const FXint bh = fxDefaultHeight(bottomArea, w);
    bottomArea->position(padleft + left, height - bh - bottom - padbottom, w, bh);
    h -= bh;
  }
  if (bodyContainer && bodyContainer != this) {
    bodyContainer->position(x, y, w, h);
  } else {
    if (leftPane && leftPane->shown()) {
      const FXuint hints = leftPane->getLayoutHints();
      const FXint lw = (hints & LAYOUT_FILL_X) ? w / 2 : leftPane->getDefaultWidth();
      FXint lh;
      if (hints & LAYOUT_FILL_Y)
        lh = h;
      else if (hints & LAYOUT_FIX_HEIGHT)
        lh = leftPane->getHeight();
      else
        lh = fxDefaultHeight(leftPane, lw);
      FXint ly = y;
      if ((hints & LAYOUT_CENTER_Y) && lh < h)
        ly = y + (height - lh) / 2;
      else
        lh = h;
      leftPane->position(padleft + left, ly, lw, lh);
      x += lw;
      w -= lw;
    }
    if (mainFrame) {
      const FXuint hints = mainFrame->getLayoutHints();
      FXint mh = h, my = y;
      if (!(hints & LAYOUT_FILL_Y)) {
        const FXint wanted = (hints & LAYOUT_FIX_HEIGHT) ? mainFrame->getHeight() : fxDefaultHeight(mainFrame, w);
        if ((hints & LAYOUT_CENTER_Y) && wanted < h) {
          mh = wanted;
          my = (height - wanted) / 2;
        }
      }
      mainFrame->position(x, my, w, mh);
    }
  }
  flags &= ~FLAG_DIRTY;
}

FXint FXKShellWindow::getDefaultWidth() {
  const FXint top = topArea ? topArea->getDefaultWidth() : 0;
  const FXint bottom = bottomArea ? bottomArea->getDefaultWidth() : 0;
  const FXint middle = (leftPane ? leftPane->getDefaultWidth() : 0) + (mainFrame ? mainFrame->getDefaultWidth() : 0);
  return padleft + padright + std::max(std::max(top, bottom), middle);
}

FXint FXKShellWindow::getHeightForWidth(FXint width) {
  const FXint w = width - padleft - padright;
  FXint sum = 0;
  if (topArea) sum += fxDefaultHeight(topArea, w);
  if (bottomArea) sum += fxDefaultHeight(bottomArea, w);
  FXint left = 0, leftWidth = 0;
  if (leftPane) {
    leftWidth = leftPane->getDefaultWidth();
    left = (leftPane->getLayoutHints() & LAYOUT_FIX_HEIGHT) ? leftPane->getHeight() : fxDefaultHeight(leftPane, leftWidth);
  }
  FXint main = 0;
  if (mainFrame)
    main = (mainFrame->getLayoutHints() & LAYOUT_FIX_HEIGHT) ? mainFrame->getHeight()
                                                            : fxDefaultHeight(mainFrame, w - leftWidth);
  return padtop + padbottom + sum + std::max(left, main);
}

FXint FXKShellWindow::getDefaultHeight() { return getHeightForWidth(getDefaultWidth()); }

// ---- placement and settings

FXWindowSettings FXKShellWindow::windowSettings() const {
  return FXWindowSettings(settingsStore(getApp()), this);
}

bool FXKShellWindow::readSettings() {
  FXWindowSettings settings = windowSettings();
  if (!settings.usable()) return false;
  fxReadWindowPlacement(settings, placement);
  const std::string name = settings.readStringEntry("LAYOUTMODE", FXString::null).text();
  if (FXKShellLayout* layout = findLayout(name)) setLayout(name, layout);
  return true;
}

void FXKShellWindow::writeSettings() {
  FXWindowSettings settings = windowSettings();
  settings.writeStringEntry("LAYOUTMODE", FXString(currentLayoutRegisteredName().c_str()));
  if (id()) placement = fxGetWindowPlacement(this);
  if (placement.valid()) fxWriteWindowPlacement(settings, placement);
}

void FXKShellWindow::show(FXuint how) {
  if (shown()) return;
  if (placement.valid()) {
    FXint x = placement.x, y = placement.y, w = placement.w, h = placement.h;
    fxAdjustWindowRect(this, x, y, w, h, true);
    const FXint dx = x - placement.x, dy = y - placement.y, dw = w - placement.w, dh = h - placement.h;
    fxAdjustPositionForMonitor(this, x, y, w, h);
    FXWindowPlacement moved = placement;
    moved.x = x - dx;
    moved.y = y - dy;
    moved.w = w - dw;
    moved.h = h - dh;
    fxSetWindowPlacement(this, moved, false);
  }
  FXMainWindow::show(how);
  if ((placement.valid() && placement.showState == 3) || maximizeWhenShown) maximize();
}

void FXKShellWindow::show() {
  FXMainWindow::show();
  if (maximizeWhenShown) maximize();
}

FXbool FXKShellWindow::maximize(FXbool notify) {
  if (!id()) {
    maximizeWhenShown = true;
    return true;
  }
  maximizeWhenShown = false;
  if (!fxMaximizeUnmanaged(this)) return FXMainWindow::maximize(notify);
  if (notify && target) target->tryHandle(this, FXSEL(SEL_MAXIMIZE, message), nullptr);
  return true;
}

FXbool FXKShellWindow::restore(FXbool notify) {
  maximizeWhenShown = false;
  if (!fxRestoreUnmanaged(this)) return FXMainWindow::restore(notify);
  if (notify && target) target->tryHandle(this, FXSEL(SEL_RESTORE, message), nullptr);
  return true;
}

// ---- verbs

std::int32_t FXKShellWindow::setVerbHandler(const char* verb, Processor::VerbHandler* handler) {
  if (!verbProcessor) Processor::throwNullReference();
  return verbProcessor->setVerbHandler(verb, handler);
}

// ---- panes

FXComposite* FXKShellWindow::buildMenubar() {
  if (!topArea) topArea = createTopArea(this);
  auto* area = dynamic_cast<FXComposite*>(topArea);
  if (!area || !currentLayout) return nullptr;
  menubar = currentLayout->createMenubar(area);
  nameWindow(menubar, u"MenubarPanel");
  if (id()) topArea->create();
  return menubar;
}

FXComposite* FXKShellWindow::buildToolbarPanel() {
  if (!topArea) topArea = createTopArea(this);
  auto* area = dynamic_cast<FXComposite*>(topArea);
  if (!area || !currentLayout) return nullptr;
  FXComposite* panel = currentLayout->createToolbarPanel(area);
  nameWindow(panel, u"ToolbarPanel");
  if (id()) topArea->create();
  return panel;
}

FXComposite* FXKShellWindow::addToolbar(const FXWString& title, const FXWString& name) {
  if (!toolbarPanel) toolbarPanel = buildToolbarPanel();
  if (!toolbarPanel || !currentLayout) return nullptr;
  FXComposite* toolbar = currentLayout->createToolbar(toolbarPanel, browser.get());
  if (auto* explorer = dynamic_cast<FXKExplorerToolbar*>(toolbar)) explorer->setText(title);
  if (toolbar && !name.empty()) nameWindow(toolbar, name);
  return toolbar;
}

FXKIconList* FXKShellWindow::buildItemList() {
  if (!mainFrame) {
    mainFrame = createMainFrame();
    if (mainFrame) nameWindow(mainFrame, u"HFRAME");
  }
  if (!mainFrame || !currentLayout) return nullptr;
  itemList = currentLayout->createCategoryView(mainFrame);
  if (itemList) nameWindow(itemList, u"IconlistList");
  return itemList;
}

// ---- standard commands

void FXKShellWindow::openConfiguredPage(const char* name, const char16_t*& cache) {
  if (!cache) cache = Common::getConfigString(name);
  // Without the string there is nothing to open.
  if (!cache) return;
  getApp()->beginWaitCursor();
  ShellExecuteW(fxWindowHandle(this), u"open", cache, nullptr, nullptr, 5);
  getApp()->endWaitCursor();
}

long FXKShellWindow::onCmdLogoLink(FXObject*, FXSelector, void*) {
  static const char16_t* url = nullptr;
  openConfiguredPage("main_url", url);
  return 1;
}

long FXKShellWindow::onCmdWebSupport(FXObject*, FXSelector, void*) {
  static const char16_t* url = nullptr;
  openConfiguredPage("main_support_url", url);
  return 1;
}

long FXKShellWindow::onCmdWebProduct(FXObject*, FXSelector, void*) {
  static const char16_t* url = nullptr;
  openConfiguredPage("main_url", url);
  return 1;
}

long FXKShellWindow::onCmdUserManual(FXObject*, FXSelector, void*) {
  FXString pdf;
  if (auto* ext = dynamic_cast<FXExtApp*>(getApp()))
    pdf = ext->reg().readStringEntry("SETTINGS", "PdfFile", "");
  else
    pdf = getApp()->reg().readStringEntry("SETTINGS", "PdfFile", "");
  FXWString file;
  if (!pdf.empty()) {
    const FXWString path = FXWString::fromUtf8(pdf.text());
    if (GetFileAttributesW(path.text()) != INVALID_FILE_ATTRIBUTES) file = path;
  }
  static const char16_t* guide = nullptr;
  getApp()->beginWaitCursor();
  HINSTANCE result = nullptr;
  if (!file.empty()) {
    result = ShellExecuteW(fxWindowHandle(this), u"open", file.text(), nullptr, nullptr, 5);
  } else {
    if (!guide) guide = Common::getConfigString("users_guide_url");
    if (guide) ShellExecuteW(fxWindowHandle(this), u"open", guide, nullptr, nullptr, 5);
  }
  getApp()->endWaitCursor();
  if (!file.empty() && reinterpret_cast<std::intptr_t>(result) == SE_ERR_NOASSOC)
    FXKMessageBox::message(this, 1,
                           FXWString(Common::catalogueText(775, u"There is no application associated with the .PDF "
                                                                 u"file format. Please install Adobe Acrobat Reader or "
                                                                 u"another PDF-reader program.")),
                           FXWString());
  return 1;
}

long FXKShellWindow::onCmdAbout(FXObject*, FXSelector, void*) {
  showAbout();
  return 1;
}

long FXKShellWindow::onCmdHelp(FXObject*, FXSelector, void*) {
  if (auto* app = dynamic_cast<FXKorvaneApp*>(getApp())) {
    FXKHelpRequest request{};
    app->showHelpTopic(request);
  }
  return 1;
}

long FXKShellWindow::onCmdExit(FXObject*, FXSelector, void*) {
  handle(this, FXSEL(SEL_CLOSE, 0), nullptr);
  return 1;
}

long FXKShellWindow::onCmdExecuteVerb(FXObject* sender, FXSelector sel, void* ptr) {
  onCmdExecuteVerbResult(sender, sel, ptr);
  return 1;
}

long FXKShellWindow::onCmdExecuteVerbResult(FXObject*, FXSelector, void* ptr) {
  const auto* name = static_cast<const FXWString*>(ptr);
  if (!name) return 1;
  if (!verbProcessor) Processor::throwNullReference();
  const std::string narrow = verbProcessor->narrowName(*name);
  return verbProcessor->executeVerb(verbProcessor->getVerbId(narrow.c_str()));
}

// ---- items: the registry, texts and icons

FXKShellItemInfo* FXKShellWindow::findItemInfo(const std::string& verb, std::int32_t id) const {
  for (FXKShellItemInfo* info : itemInfos)
    if (info->id == id && info->verb == verb) return info;
  return nullptr;
}

void FXKShellWindow::deleteItemInfo(FXKShellItemInfo* info) {
  if (!info) return;
  auto source = sourceObjects.find(info);
  if (source != sourceObjects.end()) {
    delete source->second;
    sourceObjects.erase(source);
  }
  itemInfos.erase(std::remove(itemInfos.begin(), itemInfos.end(), info), itemInfos.end());
  delete info;
}

FXKShellItemInfo* FXKShellWindow::createItemInfo(const std::string& verb, std::int32_t id) {
  return new FXKShellItemInfo(verb, id);
}

FXWString FXKShellWindow::getItemHelp(const std::string& verb, std::int32_t id) {
  FXKShellItemInfo* info = findItemInfo(verb, id);
  return info ? info->getAttribute("help") : FXWString();
}

FXWString FXKShellWindow::getItemDescription(const std::string& verb, std::int32_t id) {
  FXKShellItemInfo* info = findItemInfo(verb, id);
  return info ? info->getAttribute("desc") : FXWString();
}

FXWString FXKShellWindow::getItemTitle(const std::string& verb, std::int32_t id) {
  FXKShellItemInfo* info = findItemInfo(verb, id);
  return info ? info->getAttribute("title", FXWString(u"Untitled")) : FXWString(u"Untitled");
}

namespace {
const char* iconAttribute(int size, bool overlay) {
  static const char* const icons[] = {"icon_small", "icon_medium", "icon_large", "icon_extra"};
  static const char* const overlays[] = {"overlay_small", "overlay_medium", "overlay_large", "overlay_extra"};
  if (size < 0 || size > 3) return "";
  return overlay ? overlays[size] : icons[size];
}
}  // namespace

FXIcon* FXKShellWindow::getItemIcon(const std::string& verb, std::int32_t id, int size) {
  FXKShellItemInfo* info = findItemInfo(verb, id);
  if (!info) return nullptr;
  return getIcon(info->getAttribute(iconAttribute(size, false)));
}

FXIcon* FXKShellWindow::getItemIconAlternate(const std::string& verb, std::int32_t id, int size) {
  return getItemIcon(verb, id, size);
}

FXIcon* FXKShellWindow::getItemOverlay(const std::string& verb, std::int32_t id, int size) {
  FXKShellItemInfo* info = findItemInfo(verb, id);
  if (!info) return nullptr;
  return getIcon(info->getAttribute(iconAttribute(size, true)));
}

FXIcon* FXKShellWindow::getIcon(const FXWString& fileName) {
  if (fileName.empty()) return defaultIcon;
  auto cached = iconCache.find(fileName);
  if (cached != iconCache.end()) return cached->second;
  auto* ext = dynamic_cast<FXExtApp*>(getApp());
  FXIcon* icon = ext ? ext->loadIconByName(fileName.toUtf8().c_str(), 0x408, 0xff000000) : nullptr;
  if (!icon) return defaultIcon;
  iconCache[fileName] = icon;
  if (id()) icon->create();
  return icon;
}

// ---- item source

FXObject* FXKShellWindow::getItemSource() {
  if (!itemSource) itemSource = createItemSource();
  return itemSource;
}

FXObject* FXKShellWindow::sourceObjectOf(FXKShellItemInfo* info) const {
  auto it = sourceObjects.find(info);
  return it == sourceObjects.end() ? nullptr : it->second;
}

bool FXKShellWindow::hasSourceObject(FXKShellItemInfo* info) const { return sourceObjectOf(info) != nullptr; }

void FXKShellWindow::setSourceObject(FXKShellItemInfo* info, FXObject* object) {
  FXObject*& slot = sourceObjects[info];
  if (slot != object) delete slot;
  slot = object;
}

// ---- menu panes

FXMenuPane* FXKShellWindow::createMenuPane() {
  auto* pane = new FXMenuPane(this, 0);
  fxSetViewControl(pane);
  if (browser) browser->handle(pane, FXSEL(SEL_ATTACH, 0), nullptr);
  attachedViews.push_back(pane);
  return pane;
}

FXMenuPane* FXKShellWindow::newPopupMenu() {
  if (popupMenu) {
    if (browser) browser->handle(popupMenu, FXSEL(SEL_DETACH, 0), nullptr);
    attachedViews.erase(std::remove(attachedViews.begin(), attachedViews.end(), popupMenu), attachedViews.end());
    popupMenu->destroy();
    fxForgetWindowTree(popupMenu);
    delete popupMenu;
  }
  popupMenu = createMenuPane();
  return popupMenu;
}

FXMenuPane* FXKShellWindow::newItemMenu(const std::string& verb) {
  if (!verbProcessor) Processor::throwNullReference();
  const std::int32_t id = verbProcessor->getVerbId(verb.c_str());
  FXMenuPane* pane = createMenuPane();
  FXMenuPane*& slot = itemMenus[id];
  if (slot) {
    if (browser) browser->handle(slot, FXSEL(SEL_DETACH, 0), nullptr);
    attachedViews.erase(std::remove(attachedViews.begin(), attachedViews.end(), slot), attachedViews.end());
    slot->destroy();
    fxForgetWindowTree(slot);
    delete slot;
  }
  slot = pane;
  return pane;
}

FXMenuPane* FXKShellWindow::findItemMenu(const std::string& verb) {
  if (!verbProcessor) Processor::throwNullReference();
  auto it = itemMenus.find(verbProcessor->getVerbId(verb.c_str()));
  return it != itemMenus.end() ? it->second : popupMenu;
}

void FXKShellWindow::createStandardMenu(FXWindow* parent, const FXWString& kind) {
  FXComposite* pane = nullptr;
  if (auto* title = dynamic_cast<FXMenuTitle*>(parent))
    pane = title->getMenu();
  else if (auto* cascade = dynamic_cast<FXMenuCascade*>(parent))
    pane = cascade->getMenu();
  else
    pane = dynamic_cast<FXMenuPane*>(parent);
  if (kind == u"kml:toolbar") {
    if (!toolbarsMenu) toolbarsMenu = createMenuPane();
    if (!pane) return;
    FXString label = FXWString(Common::catalogueText(1598, u"\u2382Toolbars")).toUtf8().c_str();
    label.substitute("\xE2\x8E\x82", "&");
    auto* cascade = new FXMenuCascade(pane, label, nullptr, toolbarsMenu, 0x6000000);
    if (pane->id()) cascade->create();
  } else if (kind == u"iconview") {
    viewMenuPane = dynamic_cast<FXMenuPane*>(pane);
  }
}

// ---- item list messages

long FXKShellWindow::onDblClkItem(FXObject*, FXSelector, void* ptr) {
  std::string verb;
  std::int32_t id = 0;
  if (!ptr || !fxkShellItemKey(static_cast<const FXKBrowserItem*>(ptr), verb, id)) return 1;
  FXMenuPane* menu = findItemMenu(verb);
  if (!menu || !verbProcessor) return 1;
  for (FXWindow* child = menu->getFirst(); child; child = child->getNext()) {
    if (!child->isDefault()) continue;
    const FXSelector message = child->getSelector() & 0xFFFF;
    handle(child, FXSEL(SEL_UPDATE, message), nullptr);
    if (!child->isEnabled()) continue;
    return verbProcessor->target()->handle(child, FXSEL(SEL_COMMAND, message), nullptr);
  }
  return 1;
}

long FXKShellWindow::onChgItem(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<FXKIconItem*>(ptr);
  if (!item || !item->item) return 1;
  std::string verb;
  std::int32_t id = 0;
  if (!fxkShellItemKey(item->item.get(), verb, id)) return 1;
  FXKShellItemInfo* info = findItemInfo(verb, id);
  FXObject* object = info ? sourceObjectOf(info) : nullptr;
  FXObject* source = object ? getItemSource() : nullptr;
  if (!source) return 1;
  FXWString text = item->getColumnText(0);
  // The source answers whether it took the new text.
  return source->handle(object, FXSEL(SEL_CHANGED, 0), &text);
}
