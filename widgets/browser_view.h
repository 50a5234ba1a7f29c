// The window that shows the children of one browser item as groups of
// items and keeps itself in step with the browser.
//
// An index from item hash to node stands in for a scan of every group, so
// notifications about single items stay cheap with tens of thousands of rows.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <climits>
#include <memory>
#include <unordered_map>
#include <vector>

#include "widgets/browser.h"
#include "widgets/container.h"

class FXKBrowserView;

class FXKBrowserViewItem : public FXKTerminal {
  FXDECLARE(FXKBrowserViewItem)

 public:
  FXKBrowserViewItem() = default;
  // Appended to the group; takes the item.
  FXKBrowserViewItem(class FXKBrowserViewGroup* group, FXKBrowserItem* item);
  ~FXKBrowserViewItem() override;

  std::unique_ptr<FXKBrowserItem> item;
  FXKBrowserView* view = nullptr;

  virtual void setup() {}
};

class FXKBrowserViewGroup : public FXKContainer {
  FXDECLARE(FXKBrowserViewGroup)

 public:
  FXKBrowserViewGroup() = default;
  // Appended to the view's root (after null) or right after `after`; takes
  // the key item.
  FXKBrowserViewGroup(FXKBrowserView* view, FX::FXint key, FXKBrowserItem* keyItem, FXKTerminal* after = nullptr);
  ~FXKBrowserViewGroup() override;

  FX::FXint key = INT_MAX;
  std::unique_ptr<FXKBrowserItem> item;
  FXKBrowserView* view = nullptr;  // its items find it here

  virtual void setup() {}
  FXKBrowserViewItem* findItem(const FXKBrowserItem* item) const;
};

class FXKBrowserView : public FXKContainerWindow {
  FXDECLARE(FXKBrowserView)

 public:
  enum : FX::FXuint {
    VIEW_BROWSE_ONLY = 0x100000,
    VIEW_OPEN_FOLDERS = 0x200000,
    VIEW_FOLLOW_CURRENT = 0x400000,
  };
  enum : FX::FXuint { VIEWFLAG_SHOW_CURRENT = 0x1, VIEWFLAG_WAIT_CURSOR = 0x2 };
  enum {
    ID_TOGGLE_CHECK = 62,
    ID_TOGGLE_GROUP_CHECK,
    ID_ITEM_CHECKED,
    ID_ITEM_UNCHECKED,
    ID_GROUP_CHECKED,
    ID_GROUP_UNCHECKED,
    ID_ITEM_CLICKED,
    ID_GROUP_CLICKED,
    ID_CONTEXT_MENU = 35,
    ID_REFRESH_CHORE = 90,
  };

  FXKBrowserView(FX::FXComposite* parent, FXKBrowser* browser, FX::FXuint options);
  ~FXKBrowserView() override;

  FXKBrowser* getBrowser() const { return browser_; }
  FXKTerminal* getCurrentNode() const { return current_; }
  const FXKBrowserItem* getAnchor() const { return anchor_.get(); }
  const FXKBrowserItem* displayRoot() const { return displayRoot_.get(); }
  FX::FXint sortColumn = 0;
  FX::FXint groupColumn = 0;
  FX::FXint sortOrder = 1;
  FX::FXuint viewFlags = VIEWFLAG_SHOW_CURRENT | VIEWFLAG_WAIT_CURSOR;

  virtual void clearItems();
  bool isEnabled(FXKBrowserViewItem* node) { return isItemEnabled(node ? node->item.get() : nullptr); }
  virtual bool isItemEnabled(const FXKBrowserItem* item);
  virtual bool fillContextMenu(FX::FXMenuPane* pane, const FXKBrowserItem* item, int kind);
  bool isSelected(FXKBrowserViewItem* node) { return isItemSelected(node ? node->item.get() : nullptr); }
  virtual bool isItemSelected(const FXKBrowserItem* item);
  bool showsFocus(FXKBrowserViewItem* node) { return isItemFocused(node ? node->item.get() : nullptr); }
  virtual bool isItemFocused(const FXKBrowserItem* item);
  int getCheckState(FXKBrowserViewItem* node) { return getItemCheckState(node ? node->item.get() : nullptr); }
  virtual int getItemCheckState(const FXKBrowserItem* item);
  bool isCheckable(FXKBrowserViewItem* node) { return isItemCheckable(node ? node->item.get() : nullptr); }
  virtual bool isItemCheckable(const FXKBrowserItem* item);
  virtual void makeVisible(FXKTerminal* node);
  virtual void recalcItems(bool all);
  virtual bool populatesRecursively() { return false; }
  virtual bool groupsByParent() { return false; }
  virtual bool isGrouped() { return false; }
  virtual FX::FXint groupKeyOf(const FXKBrowserItem* item) { return INT_MAX; }
  virtual FXKBrowserViewGroup* createGroup(FX::FXint key, const FXKBrowserItem* item);
  virtual void populateEmpty(const FXKBrowserItem* parent) {}
  virtual FXKBrowserViewItem* createItem(FXKBrowserViewGroup* group, FXKBrowserItem* item);
  virtual void updateItem(FXKBrowserViewItem* node);
  virtual void updateGroup(FXKBrowserViewGroup* group);
  virtual bool acceptsItem(const FXKBrowserItem* item);
  virtual void populate(const FXKBrowserItem* parent, bool recursive);
  virtual void setCurrentNode(FXKTerminal* node, int kind, FX::FXuint modifiers);
  virtual void clickItem(const FXKBrowserItem* item, int kind, FX::FXuint modifiers);
  virtual bool setDisplayRoot(const FXKBrowserItem* item);
  virtual void createContextMenu(const FXKBrowserItem* item);
  virtual int compareGroups(FXKBrowserViewGroup* a, FXKBrowserViewGroup* b) { return 0; }
  virtual int compare(FXKBrowserViewItem* a, FXKBrowserViewItem* b, FX::FXint column) { return 0; }
  virtual bool isSortable() { return false; }
  virtual void sorted() {}
  virtual void setCurrent(const FXKBrowserItem* item);
  // Many items joined (on) or left a state set at once: the browser's bulk
  // notification. The base repaints the window.
  virtual void statesChanged(int set, bool on);
  virtual const FXKBrowserItem* getDisplayRoot();
  const FXKBrowserItem* itemOf(FXKTerminal* node) const;
  // The toolkit build's refresh: applies the browser's update flags.
  virtual void refresh(FX::FXuint flags);
  // Flags for a refresh at the next idle moment (accumulated).
  void requestRefresh(FX::FXuint flags);
  FX::FXuint pendingRefresh() const { return pendingRefresh_; }

  FXKTerminal* insertItem(FXKBrowserItem* item);
  FXKTerminal* findNode(const FXKBrowserItem* item) const;
  FXKBrowserViewGroup* findGroupByKey(FX::FXint key) const;
  FXKBrowserViewGroup* findGroupByItem(const FXKBrowserItem* item) const;
  bool isEmpty() const;
  std::size_t itemCount() const { return itemCount_; }
  // All view items in view order.
  std::vector<FXKBrowserViewItem*> items() const;
  FXKBrowserViewGroup* group(std::size_t i) const {
    return i < root.children.size() ? static_cast<FXKBrowserViewGroup*>(root.children[i]) : nullptr;
  }
  std::size_t groupCount() const { return root.children.size(); }

  // Navigation (null means none).
  FXKBrowserViewItem* firstItem() const;
  FXKBrowserViewItem* lastItem() const;
  FXKBrowserViewItem* nextItem(FXKBrowserViewItem* node) const;
  FXKBrowserViewItem* previousItem(FXKBrowserViewItem* node) const;
  FXKBrowserViewItem* nextEnabledItem();
  FXKBrowserViewItem* previousEnabledItem();
  FXKBrowserViewItem* neighbourItem(int direction);
  FXKBrowserViewItem* findNeighbour(FXKTerminal* node, int direction);
  virtual void sortAll();

  // The index of nodes by their items.
  void indexNode(FXKTerminal* node, const FXKBrowserItem* item);
  void unindexNode(FXKTerminal* node, const FXKBrowserItem* item);
  // Files the nodes a populate made, with the slots fetched ahead.
  void flushIndex();

  void create() override;
  void destroy() override;
  bool canFocus() const override { return true; }
  void layout() override;

  long onFocusIn(FX::FXObject*, FX::FXSelector, void*);
  long onFocusOut(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onRightBtnRelease(FX::FXObject*, FX::FXSelector, void*);
  long onDocSelected(FX::FXObject*, FX::FXSelector, void*);
  long onDocDeselected(FX::FXObject*, FX::FXSelector, void*);
  long onDocInserted(FX::FXObject*, FX::FXSelector, void*);
  long onDocDeleted(FX::FXObject*, FX::FXSelector, void*);
  long onDocVerify(FX::FXObject*, FX::FXSelector, void*);
  long onDocChanged(FX::FXObject*, FX::FXSelector, void*);
  long onQueryHelp(FX::FXObject*, FX::FXSelector, void*);
  long onQueryTip(FX::FXObject*, FX::FXSelector, void*);
  long onCmdContextMenu(FX::FXObject*, FX::FXSelector, void*);
  long onClicked(FX::FXObject*, FX::FXSelector, void*);
  long onDoubleClicked(FX::FXObject*, FX::FXSelector, void*);
  long onCmdToggleCheck(FX::FXObject*, FX::FXSelector, void*);
  long onCmdToggleGroupCheck(FX::FXObject*, FX::FXSelector, void*);
  long onCmdNodeChanged(FX::FXObject*, FX::FXSelector, void*);
  long onCmdItemClicked(FX::FXObject*, FX::FXSelector, void*);
  long onCmdGroupClicked(FX::FXObject*, FX::FXSelector, void*);
  long onRefreshChore(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKBrowserView() = default;
  FXKBrowser& browser() const;
  // Items that leave the view stop being current.
  void forgetNode(FXKTerminal* node);

 private:
  friend class FXKBrowserViewItem;
  friend class FXKBrowserViewGroup;
  FXKBrowser* browser_ = nullptr;  // counted
  FXKTerminal* current_ = nullptr;
  std::unique_ptr<FXKBrowserItem> displayRoot_;
  std::unique_ptr<FXKBrowserItem> anchor_;
  FX::FXMenuPane* menu_ = nullptr;
  std::unique_ptr<FXKBrowserItem> menuItem_;  // what the menu was made for
  bool attached_ = false;
  FX::FXuint pendingRefresh_ = 0;
  FX::FXEvent lastEvent_{};
  std::size_t itemCount_ = 0;
  widgets::HashIndex<FXKTerminal*> nodes_;
  // While populating, nodes wait here to be filed in one pass: filing them
  // one by one waits on a cold slot of a large table per row. Every look-up
  // or removal files them first.
  std::vector<std::pair<std::size_t, FXKTerminal*>> pendingIndex_;
  int populating_ = 0;
};
