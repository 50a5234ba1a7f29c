// The explorer-style toolbar strip: a panel of titled button groups whose
// buttons all take the panel's look (small, medium or large icons, with or
// without text labels, kept in the window settings as "ViewMode"). Groups
// that do not fit scroll sideways under two arrow buttons; a right click
// offers showing and hiding the groups and the look.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <climits>

#include "platform/fox/fx_window_settings.h"
#include "platform/fox/fxwstring.h"
#include "widgets/combo_button.h"

class FXKExplorerToolbarPanel : public FX::FXHorizontalFrame {
  FXDECLARE(FXKExplorerToolbarPanel)

 public:
  enum {
    ID_SMALL_ICONS = 63,
    ID_MEDIUM_ICONS = 64,
    ID_LARGE_ICONS = 65,
    ID_TEXT_LABELS = 66,
    ID_SCROLL_FORWARD = 67,
    ID_SCROLL_BACK = 68,
  };
  enum : FX::FXuint { PANEL_NO_MENU = 0x800000 };
  enum : FX::FXuint { MODE_SMALL = 1, MODE_MEDIUM = 2, MODE_LARGE = 3, MODE_SIZE = 0xF, MODE_TEXT = 0x10 };
  // What the buttons are told when their look changed.
  enum : FX::FXuint { REFRESH_LOOK = 0x10000000 };
  static constexpr FX::FXint kScrollStep = 20;

  FXKExplorerToolbarPanel(FX::FXComposite* parent, FX::FXuint options);
  ~FXKExplorerToolbarPanel() override;

  void destroy() override;
  void layout() override;
  FX::FXint getDefaultWidth() override;
  virtual void writeSettings(FX::FXWindowSettings& settings);
  virtual bool readSettings(const FX::FXWindowSettings& settings);
  virtual bool fillContextMenu(FX::FXMenuPane* pane);
  // A menu pane (a window's "Toolbars" cascade) that offers what the panel's
  // own context menu offers, filled when it is handed over.
  void setToolbarsMenu(FX::FXMenuPane* pane);
  FX::FXMenuPane* getToolbarsMenu() const { return toolbarsMenu_; }
  virtual void setScrollOffset(FX::FXint offset);

  void setViewMode(FX::FXuint mode);
  FX::FXuint getViewMode() const { return viewMode_; }
  FX::FXint getScrollOffset() const { return offset_; }
  FX::FXint getTotalWidth() const { return total_; }
  FX::FXArrowButton* leftArrow() const { return left_; }
  FX::FXArrowButton* rightArrow() const { return right_; }
  FX::FXMenuPane* contextMenu() const { return menu_; }
  // Every button of every group refreshes with `flags`.
  void refreshButtons(FX::FXuint flags);

  long onUpdIconSize(FX::FXObject*, FX::FXSelector, void*);
  long onCmdIconSize(FX::FXObject*, FX::FXSelector, void*);
  long onUpdTextLabels(FX::FXObject*, FX::FXSelector, void*);
  long onCmdTextLabels(FX::FXObject*, FX::FXSelector, void*);
  long onCmdScrollForward(FX::FXObject*, FX::FXSelector, void*);
  long onCmdScrollBack(FX::FXObject*, FX::FXSelector, void*);
  long onRightBtnPress(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKExplorerToolbarPanel() = default;

 private:
  FX::FXint available() const { return width - 2 * border - padleft - padright; }
  void dropMenu();

  FX::FXArrowButton* left_ = nullptr;
  FX::FXArrowButton* right_ = nullptr;
  FX::FXint offset_ = 0;
  FX::FXint total_ = 0;
  FX::FXMenuPane* menu_ = nullptr;
  FX::FXuint viewMode_ = MODE_LARGE;
  FX::FXMenuPane* toolbarsMenu_ = nullptr;
};

class FXKExplorerToolbar : public FX::FXToolBar {
  FXDECLARE(FXKExplorerToolbar)

 public:
  enum : FX::FXuint {
    TOOLBAR_NOT_OFFERED = 0x1000000,  // never in the panel's menu
    TOOLBAR_OWN_WIDTHS = 0x2000000,   // each button its own width, not the widest
    TOOLBAR_EDGE_LINES = 0x4000000,   // highlight top and left, shadow right
  };

  FXKExplorerToolbar(FX::FXComposite* parent, FX::FXObject* document, FX::FXuint options = 0, FX::FXint x = 0,
                     FX::FXint y = 0, FX::FXint w = 0, FX::FXint h = 0, FX::FXint pl = 0, FX::FXint pr = 0,
                     FX::FXint pt = 0, FX::FXint pb = 0, FX::FXint hs = 0, FX::FXint vs = 0);
  ~FXKExplorerToolbar() override;

  void create() override;
  void destroy() override;
  void layout() override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;

  void setText(const FX::FXWString& title) { title_ = title; }
  const FX::FXWString& getText() const { return title_; }
  FX::FXObject* getDocument() const { return document_; }

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onRightBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onCmdGetStringValue(FX::FXObject*, FX::FXSelector, void*);
  long onUpdToggleShown(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKExplorerToolbar() = default;

 private:
  // The width each shown child gets; 0 for hidden ones.
  FX::FXint childWidth(FX::FXWindow* child, FX::FXint widest) const;
  FX::FXint widestChild() const;

  FX::FXWString title_;
  FX::FXObject* document_ = nullptr;
  bool attached_ = false;
};

class FXKExplorerButton : public FX::FXButton {
  FXDECLARE(FXKExplorerButton)

 public:
  enum : FX::FXuint {
    EX_MAX_WIDTH = 0x2,        // at most 100 pixels wide
    EX_NO_HOVER = 0x20,
    EX_TEXT_BESIDE = 0x40,     // text always shown, left of it the icon
    EX_KEEP_PADDING = 0x80,
  };

  FXKExplorerButton(FX::FXComposite* parent, const FX::FXString& text, FX::FXIcon* small, FX::FXIcon* medium,
                    FX::FXIcon* large, FX::FXObject* target = nullptr, FX::FXSelector message = 0,
                    FX::FXuint options = FX::FXuint(FX::BUTTON_TOOLBAR) | FX::FRAME_RAISED, FX::FXint x = 0, FX::FXint y = 0,
                    FX::FXint w = 0, FX::FXint h = 0, FX::FXint pl = FX::DEFAULT_PAD, FX::FXint pr = FX::DEFAULT_PAD,
                    FX::FXint pt = FX::DEFAULT_PAD, FX::FXint pb = FX::DEFAULT_PAD, FX::FXuint exOptions = 0);
  ~FXKExplorerButton() override;

  virtual void refresh(FX::FXuint flags);
  virtual const FX::FXWString& getFullText() const { return fullText_; }
  virtual void setOptionsEx(FX::FXuint options);
  virtual FX::FXint getMaxWidth() const { return (exOptions_ & EX_MAX_WIDTH) ? 100 : INT_MAX; }
  FX::FXint getDefaultWidth() override;
  FX::FXuint getOptionsEx() const { return exOptions_; }
  bool hoverFrame() const { return hover_; }
  bool lookPending() const { return lookPending_; }

  long onRightBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onCmdSetStringValue(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKExplorerButton() = default;

 private:
  FX::FXIcon* icons_[3] = {nullptr, nullptr, nullptr};
  bool iconsCreated_[3] = {false, false, false};
  FX::FXWString fullText_;
  FX::FXuint exOptions_ = 0;
  bool hover_ = true;
  bool lookPending_ = false;
};

class FXKExplorerComboButton : public FXKComboButton {
  FXDECLARE(FXKExplorerComboButton)

 public:
  FXKExplorerComboButton(FX::FXComposite* parent, const FX::FXString& text, FX::FXPopup* popup,
                         FX::FXObject* target = nullptr, FX::FXSelector message = 0,
                         FX::FXuint options = FX::FRAME_RAISED)
      : FXKComboButton(parent, text, popup, target, message, options) {}
  ~FXKExplorerComboButton() override;

  virtual void refresh(FX::FXuint flags);
  virtual FX::FXint getMaxWidth() const { return 100; }
  void setFullText(const FX::FXWString& text) { fullText_ = text; }
  const FX::FXWString& getFullText() const { return fullText_; }
  void setIcons(FX::FXIcon* small, FX::FXIcon* medium, FX::FXIcon* large) {
    icons_[0] = small;
    icons_[1] = medium;
    icons_[2] = large;
  }

  long onRightBtnPress(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKExplorerComboButton() = default;

 private:
  FX::FXIcon* icons_[3] = {nullptr, nullptr, nullptr};
  FX::FXWString fullText_;
};
