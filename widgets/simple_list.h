// A list that owns its browser and is filled with plain rows by its owner:
// dialogs add columns, groups and rows, and check, select, enable and lock
// rows through the browser, which tells their target.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <map>

#include "widgets/icon_list.h"

class FXKSimpleRow : public FXKIconItem {
  FXDECLARE(FXKSimpleRow)

 public:
  FXKSimpleRow() = default;
  FXKSimpleRow(FXKBrowserViewGroup* group, FXKBrowserItem* item) : FXKIconItem(group, item) {}
  FX::FXuint id() const { return static_cast<FXKSimpleBrowserItem*>(item.get())->id; }
};

class FXKSimpleList : public FXKIconList {
  FXDECLARE(FXKSimpleList)

 public:
  static constexpr FX::FXint kDefaultGroup = 0x7fffffff;

  FXKSimpleList(FX::FXComposite* parent, FX::FXuint options, FX::FXObject* target, FX::FXSelector message);
  ~FXKSimpleList() override;

  // Key 0 takes the next automatic key. Answers the column's key.
  FX::FXint addColumn(const FXWString& caption, FX::FXuint flags, FX::FXint key);
  FXKIconGroup* addGroup(FX::FXint key, const FXWString& caption);
  FXKSimpleRow* addRowToGroup(FX::FXint groupKey, const FXWString& text);
  FXKSimpleRow* addRow(const FXWString& text);
  void selectRow(FXKSimpleRow* row, bool on, bool notify);
  void checkRow(FXKSimpleRow* row, bool on, bool notify);
  void setRowEnabled(FXKSimpleRow* row, bool on, bool notify);
  void setRowCheckable(FXKSimpleRow* row, bool on, bool notify);
  void setCurrentRow(FXKSimpleRow* row, bool notify);
  void setSelectionMode(FX::FXuint mode);
  FXKIconItem* getCurrentIconItem() const { return dynamic_cast<FXKIconItem*>(getCurrentNode()); }
  FXKSimpleRow* getCurrentRow() const { return dynamic_cast<FXKSimpleRow*>(getCurrentNode()); }
  FXWString groupCaption(FX::FXint key) const;
  FXKBrowserViewItem* createItem(FXKBrowserViewGroup* group, FXKBrowserItem* item) override;
  // The list's own rows are never rebuilt from its browser.
  void refresh(FX::FXuint flags) override;

 protected:
  FXKSimpleList() = default;

 private:
  FX::FXint keyCounter_ = 0;
  FX::FXint rowCounter_ = 0;
};
