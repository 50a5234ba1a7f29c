// How a shell window's panes are made: the window asks its current layout for
// each pane and widget and tells it when it becomes active or inactive.
// FXKShellLayoutBase is the explorer style every shell window starts with;
// FXKShellLayoutMenu the menu style (coloured frames, a logo on the left, a
// status line, a transparent one-column item list, optionally maximised).
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include "platform/fox/fx_stock_color.h"

class FXKShellWindow;
class FXKIconList;

class FXKShellLayout {
 public:
  FXKShellLayout(FXKShellWindow* window, FX::FXuint decorations) : window(window), decorations(decorations) {}
  virtual ~FXKShellLayout() = default;

  virtual void activate() = 0;
  virtual void deactivate() = 0;
  virtual void emptyHook(void*) {}
  virtual FX::FXWindow* createTopArea(FX::FXComposite* window) = 0;
  virtual FX::FXComposite* getBodyContainer(FX::FXComposite* window) = 0;
  virtual FX::FXWindow* createBottomArea(FX::FXComposite* window) = 0;
  virtual FX::FXWindow* createLeftPane(FX::FXComposite* container) = 0;
  virtual FX::FXComposite* createMainFrame(FX::FXComposite* container) = 0;
  virtual FX::FXComposite* createMenubar(FX::FXComposite* topArea) = 0;
  virtual FX::FXComposite* createToolbarPanel(FX::FXComposite* topArea) = 0;
  virtual FX::FXComposite* createToolbar(FX::FXComposite* toolbarPanel, FX::FXObject* target) = 0;
  virtual FX::FXWindow* createExplorerBar(FX::FXComposite* parent) = 0;
  virtual FXKIconList* createCategoryView(FX::FXComposite* mainFrame) = 0;
  virtual FX::FXWindow* createStatusBar(FX::FXComposite* bottomArea) = 0;
  virtual FX::FXWindow* createPreviewPanel(FX::FXComposite* parent, FX::FXObject* target) = 0;
  virtual FX::FXuint getListOptions() = 0;

  FXKShellWindow* getWindow() const { return window; }
  FX::FXuint getDecorations() const { return decorations; }

 protected:
  FXKShellWindow* window;
  FX::FXuint decorations;
};

class FXKShellLayoutBase : public FXKShellLayout {
 public:
  enum { ID_TOOLBAR_TAB = 62 };

  FXKShellLayoutBase(FXKShellWindow* window, FX::FXuint decorations) : FXKShellLayout(window, decorations) {}

  void activate() override {}
  void deactivate() override {}
  FX::FXWindow* createTopArea(FX::FXComposite* window) override;
  FX::FXComposite* getBodyContainer(FX::FXComposite* window) override { return window; }
  FX::FXWindow* createBottomArea(FX::FXComposite* window) override;
  FX::FXWindow* createLeftPane(FX::FXComposite* container) override;
  FX::FXComposite* createMainFrame(FX::FXComposite* container) override;
  FX::FXComposite* createMenubar(FX::FXComposite* topArea) override;
  FX::FXComposite* createToolbarPanel(FX::FXComposite* topArea) override;
  FX::FXComposite* createToolbar(FX::FXComposite* toolbarPanel, FX::FXObject* target) override;
  FX::FXWindow* createExplorerBar(FX::FXComposite* parent) override;
  FXKIconList* createCategoryView(FX::FXComposite* mainFrame) override;
  FX::FXWindow* createStatusBar(FX::FXComposite* bottomArea) override;
  FX::FXWindow* createPreviewPanel(FX::FXComposite* parent, FX::FXObject* target) override;
  FX::FXuint getListOptions() override { return 0x10000c00; }
};

class FXKShellLayoutMenu : public FXKShellLayoutBase {
 public:
  // Maximises the window while active and puts an exit button at the bottom.
  enum : FX::FXuint { MENU_MAXIMIZE = 0x2 };

  FXKShellLayoutMenu(FXKShellWindow* window, FX::FXuint decorations, FX::FXuint flags)
      : FXKShellLayoutBase(window, decorations), flags(flags) {}
  ~FXKShellLayoutMenu() override = default;

  void activate() override;
  void deactivate() override;
  FX::FXWindow* createTopArea(FX::FXComposite* window) override;
  FX::FXWindow* createBottomArea(FX::FXComposite* window) override;
  FX::FXWindow* createLeftPane(FX::FXComposite* container) override;
  FX::FXComposite* createMainFrame(FX::FXComposite* container) override;
  FX::FXComposite* createToolbar(FX::FXComposite* toolbarPanel, FX::FXObject* target) override;
  FXKIconList* createCategoryView(FX::FXComposite* mainFrame) override;
  FX::FXWindow* createStatusBar(FX::FXComposite* bottomArea) override;
  FX::FXuint getListOptions() override { return 0xc00; }

  FX::FXuint getFlags() const { return flags; }

 protected:
  FX::FXuint flags;
  FX::FXStockColor savedBackColor;
  FX::FXuint savedDecorations = 0;
  bool saved = false;
};

// The menu layout's top frame: at least 40 pixels high.
class FXKTopMenuFrame : public FX::FXHorizontalFrame {
  FXDECLARE(FXKTopMenuFrame)

 public:
  FXKTopMenuFrame(FX::FXComposite* parent, FX::FXuint options, FX::FXint pl, FX::FXint pr, FX::FXint pt,
                  FX::FXint pb, FX::FXint hs, FX::FXint vs)
      : FX::FXHorizontalFrame(parent, options, 0, 0, 0, 0, pl, pr, pt, pb, hs, vs) {}
  FX::FXint getDefaultHeight() override;
  void addWindowFlags(FX::FXuint bits) { flags |= bits; }

 protected:
  FXKTopMenuFrame() = default;
};

// The menu layout's bottom frame: always 60 pixels high.
class FXKBottomMenuFrame : public FX::FXHorizontalFrame {
  FXDECLARE(FXKBottomMenuFrame)

 public:
  FXKBottomMenuFrame(FX::FXComposite* parent, FX::FXuint options, FX::FXint pl, FX::FXint pr, FX::FXint pt,
                     FX::FXint pb, FX::FXint hs, FX::FXint vs)
      : FX::FXHorizontalFrame(parent, options, 0, 0, 0, 0, pl, pr, pt, pb, hs, vs) {}
  ~FXKBottomMenuFrame() override;
  FX::FXint getDefaultHeight() override { return 60; }
  // The frame frees the exit button's picture when it goes.
  void adoptIcon(FX::FXIcon* icon) { ownedIcon = icon; }

 protected:
  FXKBottomMenuFrame() = default;

 private:
  FX::FXIcon* ownedIcon = nullptr;
};
