// The main-window base of the shell framework: optional panes (top area with
// menubar and toolbar panel, left pane, main frame holding the item list,
// bottom area with the status bar) made by an exchangeable layout, a registry
// of layouts by name, the window's verbs, and the document of its items, whose
// descriptions (FXKShellItemInfo) the window keeps by verb and id.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/object.h"
#include "platform/fox/fx_window_ext.h"
#include "platform/fox/fxwstring.h"

namespace Processor {
class VerbHandler;
}
class FXKBrowser;
class FXKIconList;
class FXKShellItemInfo;
class FXKShellLayout;
class FXKVerbProcessor;
struct FXKFontDescription;

class FXKShellWindow;
class FXKBrowserItem;

// Made by the shell's document and view classes, which live beside the window
// (the shell browser, the category view, the explorer packer).
FXKBrowser* fxkNewShellBrowser(FXKShellWindow* window);
// The verb and id of an item of a shell browser; false for any other item.
bool fxkShellItemKey(const FXKBrowserItem* item, std::string& verb, std::int32_t& id);
FXKIconList* fxkNewShellCategoryView(FX::FXComposite* parent, FXKShellWindow* window, FX::FXuint options);
FX::FXComposite* fxkNewExplorerPacker(FX::FXComposite* parent, FX::FXuint options);
bool fxkIsExplorerPacker(const FX::FXWindow* window);

class FXKShellWindow : public FX::FXMainWindow {
  FXDECLARE(FXKShellWindow)

 public:
  enum : FX::FXuint {
    SHELL_ITEM_LIST = 0x08000000,
    SHELL_TOP_AREA = 0x10000000,
    SHELL_LEFT_PANE = 0x20000000,
    SHELL_MAIN_FRAME = 0x40000000,
    SHELL_BOTTOM_AREA = 0x80000000,
  };
  enum {
    ID_LOGO_LINK = 69,
    ID_ITEM_LIST = 20072,
    ID_ABOUT = 20074,
    ID_HELP = 20075,
    ID_WEB_SUPPORT = 20076,
    ID_WEB_PRODUCT = 20077,
    ID_USER_MANUAL = 20078,
    ID_EXIT = 20079,
    ID_PREVIEW = 20080,
    ID_EXECUTE_VERB = 20080,
    ID_EXECUTE_VERB_RESULT = 20082,
  };
  // The decorations of the layout every window starts with.
  static constexpr FX::FXuint kDefaultLayoutDecorations = 0x4fe0000;

  FXKShellWindow(FX::FXApp* app, const FX::FXString& title, FX::FXIcon* icon = nullptr, FX::FXIcon* miniIcon = nullptr,
                 FX::FXuint options = FX::DECOR_ALL, FX::FXint x = 0, FX::FXint y = 0, FX::FXint w = 0,
                 FX::FXint h = 0, FX::FXint pl = 0, FX::FXint pr = 0, FX::FXint pt = 0, FX::FXint pb = 0,
                 FX::FXint hs = 0, FX::FXint vs = 0);
  ~FXKShellWindow() override;

  // FOX operations.
  void create() override;
  void destroy() override;
  void layout() override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  FX::FXint getHeightForWidth(FX::FXint width) override;
  virtual void writeSettings();
  virtual bool readSettings();
  void show(FX::FXuint placement) override;
  void show() override;
  // Asked before the window exists, maximising waits for show(); on a
  // display without a window manager the window covers the screen itself.
  FX::FXbool maximize(FX::FXbool notify = false) override;
  FX::FXbool restore(FX::FXbool notify = false) override;

  // Operations of the shell window, in their order.
  virtual void showCurrentItem();
  virtual void createPanes();
  virtual FX::FXObject* createItemSource();
  virtual FXKIconList* createItemList(FX::FXComposite* parent);
  virtual void beforeCreatePanes();
  virtual void showAbout();
  virtual FXWString getItemHelp(const std::string& verb, std::int32_t id);
  virtual FXWString getItemDescription(const std::string& verb, std::int32_t id);
  virtual FXWString getItemTitle(const std::string& verb, std::int32_t id);
  virtual FX::FXIcon* getItemIcon(const std::string& verb, std::int32_t id, int size);
  virtual FX::FXIcon* getItemIconAlternate(const std::string& verb, std::int32_t id, int size);
  virtual FX::FXIcon* getItemOverlay(const std::string& verb, std::int32_t id, int size);
  virtual FXKShellItemInfo* createItemInfo(const std::string& verb, std::int32_t id);
  virtual FX::FXWindow* getStatusBar() { return statusBar; }
  virtual FX::FXWindow* getTaskBar() { return taskBar; }
  virtual FX::FXWindow** leftPaneSlot() { return &leftPane; }
  virtual FX::FXWindow* createTopArea(FX::FXComposite* window);
  virtual FX::FXComposite* getBodyContainer(FX::FXComposite* window);
  virtual FX::FXWindow* createBottomArea(FX::FXComposite* window);
  virtual FX::FXWindow* createLeftPane();
  virtual FX::FXComposite* createMainFrame();
  virtual void createStandardMenu(FX::FXWindow* parent, const FXWString& kind);

  // Layouts. The window owns every registered layout.
  std::int32_t addLayout(const std::string& name, FXKShellLayout* layout);
  void setLayout(const std::string& name, FXKShellLayout* layout);
  void clearLayouts();
  void recreatePanes();
  FXKShellLayout* getLayout() const { return currentLayout; }
  FXKShellLayout* findLayout(const std::string& name) const;
  FXKShellLayout* findLayout(std::int32_t id) const;
  // The name the current layout is registered under, or empty.
  std::string currentLayoutRegisteredName() const;
  // Whether the window owns `layout` through its registry (a layout may be
  // registered under the empty name, so the name cannot tell).
  bool isRegisteredLayout(const FXKShellLayout* layout) const;

  // Verbs.
  std::int32_t setVerbHandler(const char* verb, Processor::VerbHandler* handler);
  FXKVerbProcessor* getVerbProcessor() const { return verbProcessor.get(); }
  FXKBrowser* getBrowser() const { return browser.get(); }

  // Panes.
  FX::FXComposite* buildMenubar();
  FX::FXComposite* buildToolbarPanel();
  FX::FXComposite* addToolbar(const FXWString& title, const FXWString& name);
  FXKIconList* buildItemList();
  void nameWindow(FX::FXWindow* window, const FXWString& suffix);
  FXKIconList* getItemList() const { return itemList; }
  FX::FXWindow* getTopArea() const { return topArea; }
  FX::FXComposite* getBodyContainerPane() const { return bodyContainer; }
  FX::FXWindow* getBottomArea() const { return bottomArea; }
  FX::FXWindow* getLeftPane() const { return leftPane; }
  FX::FXComposite* getMainFrame() const { return mainFrame; }
  FX::FXComposite* getMenubar() const { return menubar; }
  FX::FXComposite* getToolbarPanel() const { return toolbarPanel; }
  FX::FXMenuPane* getToolbarsMenu() const { return toolbarsMenu; }
  FX::FXMenuPane* getViewMenuPane() const { return viewMenuPane; }
  std::vector<std::int32_t>& getViewKinds() { return viewKinds; }
  // The placement read from the settings, applied by show().
  const FX::FXWindowPlacement& storedPlacement() const { return placement; }
  void setStoredPlacement(const FX::FXWindowPlacement& p) { placement = p; }

  // Items, item menus, groups, fonts and icons.
  FX::FXObject* addItem(FX::FXObject* group, FXKShellItemInfo* info);
  void removeItem(FXKShellItemInfo* info);
  void deleteItemInfo(FXKShellItemInfo* info);
  FXKShellItemInfo* findItemInfo(const std::string& verb, std::int32_t id) const;
  FXKShellItemInfo* itemInfoOf(FX::FXObject* object) const;
  FXKShellItemInfo* getCurrentItemInfo() const;
  std::int32_t nextItemId() { return ++itemIdCounter; }
  FX::FXObject* findGroup(const std::string& name) const;
  FX::FXObject* findListItem(const std::string& verb, std::int32_t id) const;
  FX::FXObject* getItemSource();
  FX::FXObject* sourceObjectOf(FXKShellItemInfo* info) const;
  bool hasSourceObject(FXKShellItemInfo* info) const;
  void setSourceObject(FXKShellItemInfo* info, FX::FXObject* object);
  FX::FXMenuPane* createMenuPane();
  FX::FXMenuPane* newPopupMenu();
  FX::FXMenuPane* newItemMenu(const std::string& verb);
  FX::FXMenuPane* findItemMenu(const std::string& verb);
  FX::FXMenuPane* getPopupMenu() const { return popupMenu; }
  FX::FXWindow* createMenuTitle(const FXWString& title);
  FX::FXWindow* createMenuCascade(FX::FXWindow* parent, const void* description);
  FX::FXObject* addGroup(const std::string& key, const FXWString& title, FX::FXuint flags);
  void setGroupFont(FX::FXObject* group, const FXKFontDescription& description);
  FX::FXFont* getFont(const FXKFontDescription& description);
  void defaultFontDescription(FXKFontDescription& description);
  FX::FXIcon* getIcon(const FXWString& fileName);
  FX::FXIcon* getDefaultIcon() const { return defaultIcon; }
  const std::vector<FXKShellItemInfo*>& getItemInfos() const { return itemInfos; }

  long onCmdLogoLink(FX::FXObject*, FX::FXSelector, void*);
  long onDblClkItem(FX::FXObject*, FX::FXSelector, void*);
  long onCmdAbout(FX::FXObject*, FX::FXSelector, void*);
  long onCmdHelp(FX::FXObject*, FX::FXSelector, void*);
  long onCmdWebSupport(FX::FXObject*, FX::FXSelector, void*);
  long onCmdWebProduct(FX::FXObject*, FX::FXSelector, void*);
  long onCmdUserManual(FX::FXObject*, FX::FXSelector, void*);
  long onCmdExit(FX::FXObject*, FX::FXSelector, void*);
  long onCmdExecuteVerb(FX::FXObject*, FX::FXSelector, void*);
  long onChgItem(FX::FXObject*, FX::FXSelector, void*);
  long onCmdExecuteVerbResult(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKShellWindow();
  // Opens a configuration string's page with the shell; the pointer caches
  // the looked-up text for the life of the process.
  void openConfiguredPage(const char* name, const char16_t*& cache);
  // The window's settings section in the application's store.
  FX::FXWindowSettings windowSettings() const;
  void addViewStyleCommands();
  // Deletes every child window (and forgets their names).
  void deleteChildren();

  FX::FXWindow* topArea = nullptr;
  FX::FXComposite* bodyContainer = nullptr;
  FX::FXWindow* bottomArea = nullptr;
  FX::FXWindow* leftPane = nullptr;
  FX::FXComposite* mainFrame = nullptr;
  FX::FXWindow* statusBar = nullptr;
  FX::FXComposite* menubar = nullptr;
  FX::FXComposite* toolbarPanel = nullptr;
  FX::FXWindow* taskBar = nullptr;
  FXKIconList* itemList = nullptr;
  FX::FXMenuPane* toolbarsMenu = nullptr;
  FX::FXMenuPane* viewMenuPane = nullptr;
  Processor::RefPtr<FXKBrowser> browser;
  std::vector<std::int32_t> viewKinds;
  FX::FXMenuPane* popupMenu = nullptr;
  std::map<std::int32_t, FX::FXMenuPane*> itemMenus;
  std::vector<FXKShellItemInfo*> itemInfos;
  std::map<FXWString, FX::FXIcon*> iconCache;
  FX::FXIcon* defaultIcon = nullptr;
  std::map<std::string, std::string> stringMap;
  std::vector<std::pair<std::string, FX::FXFont*>> fontCache;  // key: the description's bytes
  Processor::RefPtr<FXKBrowser> listBrowser;
  FX::FXObject* itemSource = nullptr;  // owned
  std::map<FXKShellItemInfo*, FX::FXObject*> sourceObjects;
  std::vector<FXWString> paneNames;
  std::int32_t itemIdCounter = 0;
  std::vector<FX::FXWindow*> attachedViews;
  FXKShellLayout* currentLayout = nullptr;
  std::string currentLayoutName;
  std::map<std::string, FXKShellLayout*> layoutsByName;
  std::map<std::int32_t, FXKShellLayout*> layoutsById;
  std::int32_t layoutIdCounter = 0;
  Processor::RefPtr<FXKVerbProcessor> verbProcessor;
  FX::FXWindowPlacement placement;
  bool maximizeWhenShown = false;
};
