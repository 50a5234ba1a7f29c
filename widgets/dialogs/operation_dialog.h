// The framework's dialog frame (header, body, standard buttons), the ready
// dialog with an icon and a text, the newer styles' button and the banner
// frame. Includes FOX.
#pragma once

#include <fx.h>

#include "platform/fox/fxwstring.h"

class FXKTextView;

// A button of the newer styles: at least 23 high, and without an icon as wide
// as the first of a few fixed widths that fits its text.
class FXKStyleButton : public FX::FXButton {
  FXDECLARE(FXKStyleButton)

 public:
  FXKStyleButton(FX::FXComposite* parent, const FX::FXString& text, FX::FXIcon* icon, FX::FXObject* target,
                 FX::FXSelector message, FX::FXuint options);
  virtual FX::FXint getMinimalWidth();
  virtual FX::FXint getMinimalHeight(FX::FXint width);
  FX::FXint getDefaultWidth() override { return getMinimalWidth(); }
  FX::FXint getDefaultHeight() override { return getMinimalHeight(getWidth()); }

 protected:
  FXKStyleButton() = default;
};

// The banner of style 1: a gradient from the top colour to the background.
class FXKGradientFrame : public FX::FXPacker {
  FXDECLARE(FXKGradientFrame)

 public:
  FXKGradientFrame(FX::FXComposite* parent, FX::FXuint options, FX::FXint x = 0, FX::FXint y = 0, FX::FXint w = 0,
                   FX::FXint h = 0, FX::FXint pl = 0, FX::FXint pr = 0, FX::FXint pt = 0, FX::FXint pb = 0,
                   FX::FXint hs = 0, FX::FXint vs = 0);
  void setTopColor(FX::FXColor color);
  FX::FXColor getTopColor() const { return topColor_; }
  long onPaint(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKGradientFrame() = default;

 private:
  FX::FXColor topColor_ = FXRGB(120, 120, 255);
};

class FXKOperationDialog : public FX::FXDialogBox {
  FXDECLARE(FXKOperationDialog)

 public:
  enum {
    ID_EXTRA = 32,
    ID_HELP = 62,
    ID_CANCEL_OP = 69,
    ID_OK = 70,
    ID_APPLY = 71,
    ID_READY = 72,
  };
  enum {
    BUTTON_OK = 0x1,
    BUTTON_CANCEL = 0x2,
    BUTTON_APPLY = 0x4,
    BUTTON_HELP = 0x8,
    BUTTON_YES = 0x10,
    BUTTON_NO = 0x20,
    BUTTON_SEPARATOR = 0x40,
  };
  // Option word bits read here (above FOX's own decoration bits).
  enum { OPDLG_RESIZE_GRIP = 0x400000, OPDLG_TIGHT_BODY = 0x10000000 };

  FXKOperationDialog(FX::FXWindow* owner, const FXWString& windowTitle, const FXWString& headerTitle, FX::FXIcon* icon,
                     FX::FXuint options, int style, int extra);
  ~FXKOperationDialog() override;

  void createButtons(FX::FXuint buttonMask, FX::FXuint defaultMask);
  void create() override;
  void destroy() override;
  void layout() override;
  void show(FX::FXuint placement) override;
  void show() override { FXDialogBox::show(); }
  FX::FXint getDefaultWidth() override;
  virtual FX::FXint getMinimalWidth();

  virtual int getStyle() { return style_; }
  virtual FX::FXuint getWindowOptions() { return options_; }
  virtual bool canAccept() { return true; }
  virtual bool canCancel() { return true; }
  virtual bool apply() { return true; }
  virtual bool isReady() { return true; }

  void setDescription(const FXWString& markup);
  void setHelpId(int id) { helpId_ = id; }
  int helpId() const { return helpId_; }

  FX::FXComposite* contentFrame() const { return content_; }
  FX::FXComposite* bodyFrame() const { return body_; }
  FX::FXComposite* headerFrame() const { return header_; }
  FX::FXHorizontalFrame* footerRow() const { return footerRow_; }
  FX::FXButton* okButton() const { return ok_; }
  FX::FXButton* cancelButton() const { return cancel_; }
  FX::FXButton* applyButton() const { return apply_; }
  FX::FXButton* helpButton() const { return help_; }
  FX::FXLabel* titleLabel() const { return title_; }
  FXKTextView* descriptionView() const { return description_; }
  bool waiting() const { return chore_ != nullptr; }

  long onCmdOk(FX::FXObject*, FX::FXSelector, void*);
  long onCmdCancelOp(FX::FXObject*, FX::FXSelector, void*);
  long onCmdApply(FX::FXObject*, FX::FXSelector, void*);
  long onChoreReady(FX::FXObject*, FX::FXSelector, void*);
  long onCmdExtra(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKOperationDialog() = default;

 private:
  void buildHeader(const FXWString& headerTitle, FX::FXIcon* icon);
  void waitUntilReady(bool accept);
  void scheduleReadyCheck();

  FX::FXComposite* content_ = nullptr;
  FX::FXComposite* body_ = nullptr;
  FX::FXComposite* header_ = nullptr;
  FX::FXButton* apply_ = nullptr;
  FX::FXButton* ok_ = nullptr;
  FX::FXButton* cancel_ = nullptr;
  FX::FXButton* help_ = nullptr;
  void* chore_ = nullptr;
  bool decision_ = false;
  FX::FXImage* grip_ = nullptr;
  FX::FXIcon* helpIcon_ = nullptr;  // owned
  FX::FXRectangle gripRect_{0, 0, 0, 0};
  FXKTextView* description_ = nullptr;
  FX::FXHorizontalFrame* footerRow_ = nullptr;
  int style_ = 1;
  int extra_ = 0;
  FX::FXLabel* title_ = nullptr;
  FX::FXuint options_ = 0;
  int helpId_ = 0;
  bool waitCursor_ = false;
};

// Style 4 with an icon, a title and a formatted body text.
class FXKSimpleOperationDialog : public FXKOperationDialog {
  FXDECLARE(FXKSimpleOperationDialog)

 public:
  FXKSimpleOperationDialog(FX::FXWindow* owner, const FXWString& windowTitle, const FXWString& headerTitle,
                           const void* iconPng, const FXWString& body, int helpId, FX::FXuint options,
                           FX::FXuint buttonMask);
  FXKTextView* bodyView() const { return bodyView_; }

 protected:
  FXKSimpleOperationDialog() = default;

 private:
  FXKTextView* bodyView_ = nullptr;
};

// "⎂" marks the accelerator in the catalogue; FOX marks it with "&".
FX::FXString fxHotkeyText(const char16_t* text);
