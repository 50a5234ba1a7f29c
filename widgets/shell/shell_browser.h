// The shell window's document: its items are the window's item infos, named
// by verb and id, and every text, icon and flag the views ask of an item is
// answered from the window's description of it.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <cstdint>
#include <string>

#include "widgets/browser.h"

class FXKShellWindow;

class FXKShellBrowserItem : public FXKBrowserItem {
  FXDECLARE(FXKShellBrowserItem)

 public:
  FXKShellBrowserItem() = default;
  FXKShellBrowserItem(const std::string& verb, std::int32_t id, bool separator, bool usesSelection)
      : verb(verb), id(id), separator(separator ? 1 : 0), usesSelection(usesSelection ? 1 : 0) {}
  FXKShellBrowserItem(const FXKShellBrowserItem& other);
  ~FXKShellBrowserItem() override = default;

  std::string verb;
  std::int32_t id = 0;
  std::uint8_t separator = 0;
  std::uint8_t usesSelection = 1;

  // Equal when verb and id are; the flags do not count.
  int compare(const FXKBrowserItem* other) const override;
  FXKBrowserItem* clone() const override;
  std::size_t hashValue() const override;
};

class FXKShellBrowser : public FXKBrowser {
  FXDECLARE_ABSTRACT(FXKShellBrowser)

 public:
  explicit FXKShellBrowser(FXKShellWindow* window);
  ~FXKShellBrowser() override;

  FXKShellWindow* getShellWindow() const { return window_; }

  // View styles 0, 1, 2 of the list ask for the small, large and extra icon.
  static int iconSizeFor(int viewStyle);

  FX::FXIcon* getItemIcon(const FXKBrowserItem* item, int viewStyle) override;
  FX::FXIcon* getItemIconAlt(const FXKBrowserItem* item, int viewStyle) override;
  int getExtraIconCount(const FXKBrowserItem* item) override;
  FX::FXIcon* getExtraIcon(const FXKBrowserItem* item, int index, int viewStyle) override;
  bool getItemNoHighlight(const FXKBrowserItem* item) override;
  bool getItemHoverFrame(const FXKBrowserItem* item) override;
  void getItemTitle(FXWString& out, const FXKBrowserItem* item) override;
  void getItemHelp(FXWString& out, const FXKBrowserItem* item) override;
  void getItemDescription(FXWString& out, const FXKBrowserItem* item) override;
  void getItemTip(FXWString& out, const FXKBrowserItem* item) override;
  // The item's own popup menu (the window's pane for its verb); none for a
  // separator.
  bool popupItemMenu(const FXKBrowserItem* item, FX::FXWindow* window, int x, int y) override;
  // The pane a context menu of the item shows, or null.
  FX::FXMenuPane* contextMenuOf(const FXKBrowserItem* item);

 private:
  FXKShellWindow* window_;
};
