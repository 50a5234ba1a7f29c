// A list that owns its browser and is filled with plain rows by its owner:
// dialogs add columns, groups and rows, and check, select, enable and lock
// rows through the browser, which tells their target.
//
// Until the icon list stands, it is a browser view with a column header and
// rows that keep their cell texts by column key.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <map>

#include "widgets/browser_view.h"
#include "widgets/header.h"

class FXKSimpleRow : public FXKBrowserViewItem {
  FXDECLARE(FXKSimpleRow)

 public:
  FXKSimpleRow() = default;
  FXKSimpleRow(FXKBrowserViewGroup* group, FXKBrowserItem* item) : FXKBrowserViewItem(group, item) {}
  void setColumnText(FX::FXint key, const FXWString& text) { texts_[key] = text; }
  FXWString getColumnText(FX::FXint key) const {
    auto it = texts_.find(key);
    return it == texts_.end() ? FXWString() : it->second;
  }
  FX::FXuint id() const { return static_cast<FXKSimpleBrowserItem*>(item.get())->id; }

 private:
  std::map<FX::FXint, FXWString> texts_;
};

class FXKSimpleList : public FXKBrowserView {
  FXDECLARE(FXKSimpleList)

 public:
  static constexpr FX::FXint kDefaultGroup = 0x7fffffff;

  FXKSimpleList(FX::FXComposite* parent, FX::FXuint options, FX::FXObject* target, FX::FXSelector message);
  ~FXKSimpleList() override;

  FXKHeader* getHeader() const { return header_; }
  // Key 0 takes the next automatic key. Answers the column's key.
  FX::FXint addColumn(const FXWString& caption, FX::FXuint flags, FX::FXint key);
  FXKBrowserViewGroup* addGroup(FX::FXint key, const FXWString& caption);
  FXKSimpleRow* addRowToGroup(FX::FXint groupKey, const FXWString& text);
  FXKSimpleRow* addRow(const FXWString& text);
  void selectRow(FXKSimpleRow* row, bool on, bool notify);
  void checkRow(FXKSimpleRow* row, bool on, bool notify);
  void setRowEnabled(FXKSimpleRow* row, bool on, bool notify);
  void setRowCheckable(FXKSimpleRow* row, bool on, bool notify);
  void setCurrentRow(FXKSimpleRow* row, bool notify);
  void setSelectionMode(FX::FXuint mode);
  FXKSimpleRow* getCurrentRow() const;
  // The list's own rows are never rebuilt from its browser.
  void refresh(FX::FXuint flags) override;
  const FXWString& groupCaption(FX::FXint key) const { return captions_.at(key); }

 protected:
  FXKSimpleList() = default;

 private:
  FXKHeader* header_ = nullptr;
  FX::FXint keyCounter_ = 0;
  FX::FXint rowCounter_ = 0;
  std::map<FX::FXint, FXWString> captions_;
};
