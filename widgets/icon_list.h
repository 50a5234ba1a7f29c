// The list view of the widget library: the items of a browser document as
// icon items in groups under a column header, in one of six view styles,
// with sorting, grouping, group check boxes, an in-place editor, a fixed
// background and its context menus.
//
// Cell layout is deferred: an insert only marks the columns for refitting
// and the items for layout, and an item measures its cells when it is
// painted or asked for its size.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "widgets/browser_view.h"
#include "widgets/header.h"
#include "widgets/icon_group.h"
#include "widgets/icon_item.h"

struct FXKIconListAppearance {
  FX::FXFont* font = nullptr;
  FX::FXFont* secondFont = nullptr;
  FX::FXColor colors[10] = {};
  FX::FXint categorySizing = 0;
  FX::FXint tileWidth = 0;
  FXWString label;
};

// A device context opened on an image for as long as the holder lives.
class FXKImageDC {
 public:
  explicit FXKImageDC(FX::FXImage* image) : dc_(image) {}
  FX::FXDC& dc() { return dc_; }

 private:
  FX::FXDCWindow dc_;
};

class FXKIconListEditFiled : public FX::FXText {
  FXDECLARE(FXKIconListEditFiled)

 public:
  FXKIconListEditFiled(FX::FXComposite* parent, FX::FXObject* target, FX::FXSelector sel, FX::FXuint options)
      : FX::FXText(parent, target, sel, options) {}
  ~FXKIconListEditFiled() override = default;

 protected:
  FXKIconListEditFiled() = default;
};

class FXKIconList : public FXKBrowserView {
  FXDECLARE(FXKIconList)

 public:
  enum ViewStyle { STYLE_NONE = 0, STYLE_LIST, STYLE_DETAILS, STYLE_ICONS, STYLE_THUMBNAILS, STYLE_TILES, STYLE_CATEGORY };
  enum : FX::FXuint {
    ICONLIST_BROWSE_ONLY = 0x00100000,
    ICONLIST_GROUP_CHECKS_ITEMS = 0x00800000,
    ICONLIST_NO_SORT = 0x01000000,
    ICONLIST_GROUP_CHECKS = 0x04000000,
    ICONLIST_EXPANDERS = 0x10000000,
    ICONLIST_KEEP_CURRENT = 0x20000000,
    ICONLIST_DEFAULT_COLUMNS = 0x40000000,
  };
  enum : FX::FXuint {
    LIST_FORMATTED = 0x2,
    LIST_RECURSIVE = 0x4,
    LIST_GROUP_BY_PARENT = 0x8,
    LIST_GROUPING = 0x10,
    LIST_COLLAPSED_GROUPS = 0x20,
  };
  enum : FX::FXuint { FLAG_REFIT = 0x8000, FLAG_LAYOUT_FROZEN = 0x80 };
  enum {
    ID_HEADER = 70,
    ID_VIEW_STYLE = 70,  // + style
    ID_SORT_BY = 77,     // + key
    ID_SORT_BY_LAST = 1077,
    ID_GROUP_BY = 1078,  // + key
    ID_GROUP_BY_LAST = 2078,
    ID_HEADER_MENU = 2079,
    ID_CHOOSE_COLUMNS,
    ID_CHECK_ALL,
    ID_UNCHECK_ALL,
    ID_REFRESH,
    ID_TOGGLE_EXPAND,
    ID_EDITOR,
    ID_COMMIT_EDIT,
    ID_LINK_CLICKED,
    ID_RATING,
  };
  static constexpr FX::FXint kNoGroup = 0x7FFFFFFF;
  static constexpr FX::FXint kCheckColumn = 0x7FFFFFFF;
  static constexpr FX::FXint kDetailsColumn = 0x7FFFFFFE;

  FXKIconList(FX::FXComposite* parent, FXKBrowser* browser, FX::FXuint options);
  ~FXKIconList() override;

  // Styles.
  void addViewStyle(int style);
  void clearViewStyles() { styles_.clear(); }
  const std::vector<int>& viewStyles() const { return styles_; }
  void setViewStyle(int style, bool notify);
  int getViewStyle() const { return viewStyle_; }
  virtual void setViewStyleByName(const FXWString& name);
  virtual FXWString getViewStyleName(int style) const;
  FXKIconListAppearance getAppearance(int style) const;
  void setAppearance(int style, const FXKIconListAppearance& record);
  const FXKIconListAppearance& currentAppearance() const { return current_; }
  FX::FXFont* getFont() const { return current_.font; }
  virtual FX::FXColor getColor(int index, FXKTerminal* node, bool forText) const;
  virtual void setColor(int index, FX::FXColor value);
  void setBackColor(FX::FXColor color) override;
  void setFormattedItems(bool on);
  bool hasFormattedItems() const { return (listFlags_ & LIST_FORMATTED) != 0; }
  void setUniformItemHeight(bool on) { uniformHeight_ = on; }
  bool getUniformItemHeight() const { return uniformHeight_; }
  void setCenterVertically(bool on) { centerVertically_ = on; }
  void setGroupingAllowed(bool on);
  void setListFlags(FX::FXuint f) { listFlags_ = f; }
  FX::FXuint getListFlags() const { return listFlags_; }
  int getArrangement() const;
  int iconSizeIndex() const;
  FX::FXint getCellWidth();
  FX::FXint getRowHeight();
  FX::FXint getColumnOffset(FX::FXint key) const;
  FX::FXint getColumnWidth(FX::FXint key) const;
  void appendColumn(const FXKColumnRecord& record);
  FXKHeader* getHeader() const { return header_; }
  FX::FXint getHeaderOffset() const { return headerOffset_; }
  void raiseHeaderOffset(FX::FXint x) { headerOffset_ = std::max(headerOffset_, x); }
  FX::FXFont* getGroupFont() const { return groupFont_; }
  FX::FXImage* getCheckImage() const { return checkImage_; }
  FX::FXImage* getExpanderImage() const { return expanderImage_; }
  enum HeaderPicture { HEADER_HOVER, HEADER_EXPANDED, HEADER_COLLAPSED };
  // The pictures of header-style group captions, made once for all groups:
  // a 15 x 15 hover backdrop and two 15 x 45 strips of three frames.
  FX::FXImage* headerPicture(HeaderPicture which);
  bool themeFlag() const { return theme_; }
  const FXWString& emptyText() const { return emptyText_; }
  void forgetHotItem(FXKIconItem* item) {
    if (hotItem_ == item) hotItem_ = nullptr;
  }
  void forgetHotGroup(FXKIconGroup* group) {
    if (hotGroup_ == group) hotGroup_ = nullptr;
  }
  FXKIconItem* hotItem() const { return hotItem_; }
  FXKIconGroup* hotGroup() const { return hotGroup_; }
  void regroupRows();
  FX::FXint fittedWidth() const { return fittedWidth_; }

  // Sorting and grouping.
  virtual void setSortColumn(FX::FXint key, FX::FXint direction);
  virtual void setGroupColumnKey(FX::FXint key) { groupColumn = key; }
  virtual long sortByColumn(FXKColumnRecord* record);
  virtual long sortByColumnKey(FX::FXint key);
  virtual void groupByColumn(FX::FXint key);
  virtual void updateGroupCheck(FXKIconGroup* group);
  virtual int computeGroupCheck(FXKIconGroup* group);
  void setGroupItemsChecked(FXKIconGroup* group, bool checked);

  // Columns.
  virtual FX::FXint getHeaderWidth() const;
  virtual bool describeColumn(FXKColumnRecord& record);
  virtual void addDefaultColumns();
  void addBuiltinColumn(FX::FXint key);

  // Menus.
  virtual bool fillArrangeMenu(FX::FXMenuPane* pane);
  virtual bool fillGroupMenu(FX::FXMenuPane* pane);
  // The column chooser: called with the list's header (the GUI framework's
  // dialog hooks itself in here).
  static std::function<void(FXKIconList*, FXKHeader*)>& columnChooser();

  // Editing.
  void activateItem(const FXKBrowserItem* item, FX::FXint key);
  void startEdit(FXKIconItem* item, FX::FXint key);
  void endEdit(bool commit);
  virtual void placeEditor();
  bool isEditing() const { return (editing_ & 1) != 0; }
  FXKIconListEditFiled* getEditor() const { return editor_; }
  const FXKBrowserItem* editedItem() const { return editedItem_.get(); }
  FX::FXint editedKey() const { return editKey_; }
  // Five rating stars in one strip, made once for the list's parts.
  FX::FXIcon* starIcon();
  // A plain text's width in the font: an ASCII text as the sum of its
  // characters' widths, which the list keeps per font (the font's own
  // measure adds them up the same way); other texts are measured.
  FX::FXint plainTextWidth(FX::FXFont* font, const FXWString& text) {
    return plainTextWidth(font, text.text(), text.length());
  }
  FX::FXint plainTextWidth(FX::FXFont* font, const char16_t* s, FX::FXint n);
  enum MenuIcon { MENU_ICON_ARRANGE, MENU_ICON_COLUMNS, MENU_ICON_REFRESH };
  // The 16-pixel pictures of the context menu's own entries, made once.
  FX::FXIcon* menuIcon(MenuIcon which);

  // Painting and backgrounds.
  virtual bool hasSelectionImage() const { return selectionImage_ != nullptr; }
  FX::FXImage* getSelectionImage() const { return selectionImage_; }
  FX::FXDrawable* setBackgroundImage(FX::FXDrawable* drawable);
  void setSelectionImage(FX::FXImage* image);
  void setParentBackground(FX::FXImage* image, FX::FXWindow* ancestor) {
    parentBackground_ = image;
    parentWindow_ = ancestor;
  }
  FX::FXImage* getParentBackground() const { return parentBackground_; }
  void enableTransparency() { flags |= 0x1000000; }
  bool hasBackground() const override;
  void paintBackground(FXKPaintDC& dc, const FX::FXRectangle& rect) override;
  const FX::FXRectangle& backgroundRect() const { return backRect_; }
  void reloadImages();

  // Navigation.
  FXKTerminal* nextRowItem();
  FXKTerminal* previousRowItem();

  // Overrides.
  void create() override;
  void layout() override;
  virtual void layoutItems();
  FX::FXint getContentWidth() override;
  FX::FXint getContentHeight() override;
  FX::FXint getDefaultWidth() override { return getContentWidth(); }
  FX::FXint getDefaultHeight() override;
  void moveContents(FX::FXint x, FX::FXint y) override;
  FXKTerminal* terminalAt(FX::FXint px, FX::FXint py) override;
  void refresh(FX::FXuint flags) override;
  bool fillContextMenu(FX::FXMenuPane* pane, const FXKBrowserItem* item, int kind) override;
  bool isItemFocused(const FXKBrowserItem* item) override;
  void makeVisible(FXKTerminal* node) override;
  bool populatesRecursively() override { return (listFlags_ & LIST_RECURSIVE) != 0; }
  bool groupsByParent() override { return (listFlags_ & LIST_GROUP_BY_PARENT) != 0; }
  bool isGrouped() override;
  FX::FXint groupKeyOf(const FXKBrowserItem* item) override;
  FXKBrowserViewGroup* createGroup(FX::FXint key, const FXKBrowserItem* item) override;
  virtual FXKIconGroup* createSubgroup(FXKIconGroup* parent, FX::FXint key, const FXKBrowserItem* item);
  FXKBrowserViewItem* createItem(FXKBrowserViewGroup* group, FXKBrowserItem* item) override;
  void updateItem(FXKBrowserViewItem* node) override;
  void updateGroup(FXKBrowserViewGroup* group) override;
  int compareGroups(FXKBrowserViewGroup* a, FXKBrowserViewGroup* b) override;
  int compare(FXKBrowserViewItem* a, FXKBrowserViewItem* b, FX::FXint column) override;
  bool isSortable() override { return !(options & ICONLIST_NO_SORT); }
  void sortAll() override;
  void setCurrent(const FXKBrowserItem* item) override;
  void statesChanged(int set, bool on) override;
  void writeSettings();
  bool readSettings();

  long onHeaderCommand(FX::FXObject*, FX::FXSelector, void*);
  long onHeaderChanged(FX::FXObject*, FX::FXSelector, void*);
  long onHeaderInserted(FX::FXObject*, FX::FXSelector, void*);
  long onHeaderDeleted(FX::FXObject*, FX::FXSelector, void*);
  long onUpdHeader(FX::FXObject*, FX::FXSelector, void*);
  long onKeyPress(FX::FXObject*, FX::FXSelector, void*);
  long onKeyRelease(FX::FXObject*, FX::FXSelector, void*);
  long onUpdViewStyle(FX::FXObject*, FX::FXSelector, void*);
  long onCmdViewStyle(FX::FXObject*, FX::FXSelector, void*);
  long onUpdSortBy(FX::FXObject*, FX::FXSelector, void*);
  long onCmdSortBy(FX::FXObject*, FX::FXSelector, void*);
  long onUpdGroupBy(FX::FXObject*, FX::FXSelector, void*);
  long onCmdGroupBy(FX::FXObject*, FX::FXSelector, void*);
  long onCmdHeaderMenu(FX::FXObject*, FX::FXSelector, void*);
  long onCmdChooseColumns(FX::FXObject*, FX::FXSelector, void*);
  long onCmdRefresh(FX::FXObject*, FX::FXSelector, void*);
  long onSettingsChanged(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onFocusIn(FX::FXObject*, FX::FXSelector, void*);
  long onFocusOut(FX::FXObject*, FX::FXSelector, void*);
  long onMotion(FX::FXObject*, FX::FXSelector, void*);
  long onLeave(FX::FXObject*, FX::FXSelector, void*);
  long onFocusSelf(FX::FXObject*, FX::FXSelector, void*);
  long onItemSelected(FX::FXObject*, FX::FXSelector, void*);
  long onItemDeselected(FX::FXObject*, FX::FXSelector, void*);
  long onItemDeleted(FX::FXObject*, FX::FXSelector, void*);
  long onCmdToggleExpand(FX::FXObject*, FX::FXSelector, void*);
  long onClicked(FX::FXObject*, FX::FXSelector, void*);
  long onCollapsed(FX::FXObject*, FX::FXSelector, void*);
  long onExpanded(FX::FXObject*, FX::FXSelector, void*);
  // The browser items of every row in view order (the enabled ones only).
  std::vector<const FXKBrowserItem*> itemsOf(bool enabledOnly);
  long onCmdCheckAll(FX::FXObject*, FX::FXSelector, void*);
  long onCmdUncheckAll(FX::FXObject*, FX::FXSelector, void*);
  long onUpdAlways(FX::FXObject*, FX::FXSelector, void*);
  long onEditorChanged(FX::FXObject*, FX::FXSelector, void*);
  long onEditorShown(FX::FXObject*, FX::FXSelector, void*);
  long onCmdCommitEdit(FX::FXObject*, FX::FXSelector, void*);
  long onCmdGroupCheck(FX::FXObject*, FX::FXSelector, void*);
  long onCmdItemClicked(FX::FXObject*, FX::FXSelector, void*);
  long onCmdGroupClicked(FX::FXObject*, FX::FXSelector, void*);
  long onCmdItemChanged(FX::FXObject*, FX::FXSelector, void*);
  long onCmdCheckGroup(FX::FXObject*, FX::FXSelector, void*);
  long onCmdUncheckGroup(FX::FXObject*, FX::FXSelector, void*);
  long onQueryHelp(FX::FXObject*, FX::FXSelector, void*);
  long onQueryTip(FX::FXObject*, FX::FXSelector, void*);
  long onPaint(FX::FXObject*, FX::FXSelector, void*);

  void recalc() override;
  // Cell sizes and group places are computed again before they are next used.
  void cellsDirty();

  // Paints the window rectangle on any device (tests use off-screen images).
  void paintList(FX::FXDC& dc, const FX::FXRectangle& damage);

 protected:
  FXKIconList();

 private:
  void applyAppearance();
  void measureColumns();
  void fitColumns(FX::FXint width);
  void resizeCurrentLabel(FXKTerminal* oldNode, FXKTerminal* newNode);
  void scrollBy(FX::FXint dx, FX::FXint dy);
  void dropPreparedBackground();
  FX::FXPoint ancestorOffset() const;
  FX::FXRectangle editorFrame() const;
  void makeImages();

  FXKHeader* header_ = nullptr;
  FX::FXint cellWidth_ = 0, rowHeight_ = 0;
  FX::FXDrawable* background_ = nullptr;
  FX::FXImage* selectionImage_ = nullptr;
  FX::FXDrawable* prepared_ = nullptr;
  bool preparedOwned_ = false;
  FX::FXRectangle backRect_{0, 0, 0, 0};
  int viewStyle_ = 0;
  std::vector<int> styles_;
  FX::FXint fittedWidth_ = 0;
  std::map<int, FXKIconListAppearance> appearances_;
  FXKIconListAppearance default_, current_;
  FXKIconItem* hotItem_ = nullptr;
  FXKIconGroup* hotGroup_ = nullptr;
  FX::FXImage* checkImage_ = nullptr;
  FX::FXImage* expanderImage_ = nullptr;
  FX::FXImage* headerPictures_[3] = {};
  FX::FXFont* advanceFont_ = nullptr;
  FX::FXint advances_[128] = {};
  FX::FXIcon* starIcon_ = nullptr;
  FX::FXMenuPane* headerMenu_ = nullptr;
  FX::FXMenuPane* viewPane_ = nullptr;
  std::vector<FX::FXMenuPane*> menuPanes_;
  std::vector<FX::FXIcon*> menuIcons_;
  FXKIconListEditFiled* editor_ = nullptr;
  std::unique_ptr<FXKBrowserItem> editedItem_;
  FX::FXint editKey_ = 0;
  FX::FXuint editing_ = 0;
  FX::FXuint listFlags_ = 0;
  FX::FXFont* groupFont_ = nullptr;
  bool theme_ = false;
  FX::FXint headerPadding_ = 0;
  FX::FXint headerOffset_ = 0;
  FXWString emptyText_;
  bool uniformHeight_ = true;
  bool centerVertically_ = false;
  FX::FXImage* parentBackground_ = nullptr;
  FX::FXWindow* parentWindow_ = nullptr;
  FX::FXEvent lastEvent_{};
  bool cellsDirty_ = true;
  bool refit_ = false;
  bool frozen_ = false;
  bool settingGroup_ = false;
  // While regrouping: each new group's first row.
  std::map<FX::FXint, FXKBrowserViewItem*> groupFirst_;
};
