// The item list of the shell layouts: an icon list over the shell window's
// document whose groups are found and made by a category key, and whose
// entries the window adds and removes one by one (the list is never rebuilt
// from its document).
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <string>

#include "widgets/icon_list.h"

class FXKShellWindow;
class FXKShellItemInfo;

class FXKShellCategoryGroup : public FXKIconGroup {
  FXDECLARE(FXKShellCategoryGroup)

 public:
  FXKShellCategoryGroup() = default;
  FXKShellCategoryGroup(FXKIconList* list, FX::FXint key) : FXKIconGroup(list, key, nullptr) {}
  ~FXKShellCategoryGroup() override = default;

  std::string categoryKey;
};

class FXKShellCategoryView : public FXKIconList {
  FXDECLARE(FXKShellCategoryView)

 public:
  FXKShellCategoryView(FX::FXComposite* parent, FXKShellWindow* window, FX::FXuint options);
  ~FXKShellCategoryView() override;

  FXKShellWindow* getShellWindow() const { return window_; }

  FXKShellCategoryGroup* findGroup(const std::string& key) const;
  // The group of that key, made (and appended) when missing.
  FXKShellCategoryGroup* groupFor(const std::string& key);
  FXKIconItem* findEntry(const std::string& verb, FX::FXint id) const;
  FXKIconItem* findEntryInGroup(FXKIconGroup* group, const std::string& verb, FX::FXint id) const;
  FXKIconItem* addEntry(FXKIconGroup* group, const FXKShellItemInfo* info);
  void removeEntry(FXKIconGroup* group, const FXKShellItemInfo* info);
  void removeEmptyGroups();

  // Bits 0x11 refresh every entry from the document instead of rebuilding.
  void refresh(FX::FXuint flags) override;
  FXKBrowserViewGroup* createGroup(FX::FXint key, const FXKBrowserItem* item) override;
  void createContextMenu(const FXKBrowserItem* item) override;
  bool fillContextMenu(FX::FXMenuPane* pane, const FXKBrowserItem* item, int kind) override;

 protected:
  FXKShellCategoryView() = default;

 private:
  FXKShellWindow* window_ = nullptr;
  FX::FXint nextKey_ = 1;
  bool itemMenuPending_ = false;
};
