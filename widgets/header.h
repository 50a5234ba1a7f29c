// The column header of the icon list: FOX's header with a column record
// behind every item, hidden columns, a column menu, the split cursor band
// and column moving.
//
// FOX 1.6's header knows no hidden columns: a hidden column's item is given
// size 0 (its width kept in the record), so the toolkit's painting and hit
// testing pass over it.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <vector>

#include <fx.h>

#include "platform/fox/fxwstring.h"

struct FXKColumnRecord {
  enum : FX::FXuint {
    COLUMN_CENTER = 0x1,
    COLUMN_RIGHT = 0x2,
    COLUMN_STRETCH = 0x20,
    COLUMN_SORTABLE = 0x100,
    COLUMN_HIDE_GROUPED = 0x200,
    COLUMN_HIDDEN = 0x400,
    COLUMN_ALWAYS_VISIBLE = 0x800,
    COLUMN_FIXED = 0x1000,
    COLUMN_NO_SORT_MENU = 0x2000,
    COLUMN_NUMERIC = 0x4000,
    COLUMN_BY_ID = 0x8000,
    COLUMN_MARKUP = 0x20000,
    COLUMN_LINK = 0x40000,
    COLUMN_PROGRESS = 0x80000,
    COLUMN_RATING = 0x100000,
    COLUMN_GROUPABLE = 0x200000,
    COLUMN_FIXED_WIDTH = 0x400000,
  };
  enum : FX::FXint { CHECK_COLUMN = 0x7fffffff };

  FX::FXint key = -1;
  FX::FXint width = -1;
  FX::FXint minWidth = -1;
  FXWString caption;
  FX::FXIcon* icon = nullptr;
  FX::FXuint extra = 0;
  FX::FXuint flags = 0;
  FX::FXint sortDirection = 0;
  FXWString name;
  FXWString text1, text2;
  std::vector<FXWString> texts;
  FX::FXuint itemValue = 0;
  // The width a hidden column comes back with.
  FX::FXint shownWidth = 0;
};

class FXKHeaderItem : public FX::FXHeaderItem {
  FXDECLARE(FXKHeaderItem)

 public:
  explicit FXKHeaderItem(const FXKColumnRecord& record);
  ~FXKHeaderItem() override;
  FXKColumnRecord* record() const { return static_cast<FXKColumnRecord*>(getData()); }

 protected:
  FXKHeaderItem() = default;
};

class FXKHeader : public FX::FXHeader {
  FXDECLARE(FXKHeader)

 public:
  enum { ID_COLUMN_MENU = 40, ID_COLUMN_FIRST = 63, ID_COLUMN_LAST = 1063, ID_COLUMNS_CHANGED = 1064 };
  static constexpr FX::FXint kSplitBand = 8;

  FXKHeader(FX::FXComposite* parent, FX::FXObject* target = nullptr, FX::FXSelector sel = 0,
            FX::FXuint options = FX::HEADER_NORMAL, FX::FXint x = 0, FX::FXint y = 0, FX::FXint w = 0,
            FX::FXint h = 0, FX::FXint pl = FX::DEFAULT_PAD, FX::FXint pr = FX::DEFAULT_PAD,
            FX::FXint pt = FX::DEFAULT_PAD, FX::FXint pb = FX::DEFAULT_PAD);
  ~FXKHeader() override;

  void create() override;
  void destroy() override;
  virtual bool isColumnVisible(FX::FXint index) const;
  virtual FXKHeaderItem* createItemFromRecord(const FXKColumnRecord& record);
  virtual bool fillColumnMenu(FX::FXMenuPane* pane);

  FXKColumnRecord* getColumn(FX::FXint index) const;
  FX::FXint findColumn(FX::FXint key) const;
  FX::FXint findColumnByName(const FXWString& name) const;
  FX::FXint getColumnWidth(FX::FXint index) const;
  FX::FXint getDefaultItemWidth(FX::FXint index) const;
  void setColumnWidth(FX::FXint index, FX::FXint width, bool repaint);
  void showColumn(FX::FXint index, bool notify);
  void hideColumn(FX::FXint index, bool notify);
  FX::FXint insertColumn(FX::FXint index, const FXKColumnRecord& record, bool notify);
  FX::FXint appendColumn(const FXKColumnRecord& record, bool notify);
  bool isColumnResizable(FX::FXint index) const;

  // Column moving, which FOX 1.6's header lacks: a press inside a column
  // (not on a split) that is dragged sideways moves it.
  bool isColumnMoving(FX::FXint x) const;
  FX::FXint getDropIndex() const { return dropIndex_; }
  FX::FXint getHotIndex() const { return hotIndex_; }
  // The item at `from` goes to `to`; the target gets SEL_CHANGED with -1.
  void moveColumn(FX::FXint from, FX::FXint to, bool notify);
  void swapColumns(FX::FXint a, FX::FXint b, bool notify);
  // The visible column whose far edge lies within the split band of x, or -1.
  FX::FXint splitAt(FX::FXint x) const;
  FX::FXMenuPane* columnMenu() const { return menu_; }
  bool isResizing() const { return (flags & FLAG_TRYDRAG) != 0; }

  long onLeftBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnRelease(FX::FXObject*, FX::FXSelector, void*);
  long onRightBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onRightBtnRelease(FX::FXObject*, FX::FXSelector, void*);
  long onCmdColumnMenu(FX::FXObject*, FX::FXSelector, void*);
  long onUpdColumn(FX::FXObject*, FX::FXSelector, void*);
  long onCmdColumn(FX::FXObject*, FX::FXSelector, void*);
  long onCmdColumnsChanged(FX::FXObject*, FX::FXSelector, void*);
  long onMotion(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKHeader() = default;
  FX::FXHeaderItem* createItem(const FX::FXString& text, FX::FXIcon* icon, FX::FXint size, void* ptr) override;

 private:
  FX::FXMenuPane* menu_ = nullptr;
  FX::FXint hotIndex_ = -1;
  FX::FXint dropIndex_ = -1;
  FX::FXint pressX_ = 0;
  bool moving_ = false;
};
