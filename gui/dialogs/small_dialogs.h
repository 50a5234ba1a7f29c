// The splash window, the help pop-up and the password dialog. Includes FOX.
#pragma once

#include <fx.h>

#include <string>
#include <vector>

#include "gui/app/progress_dialog.h"
#include "platform/fox/fxwstring.h"

// The progress window drawn over a splash picture, its panel at the bottom.
class FXKSplashDialog : public FXKProgressDialog {
  FXDECLARE(FXKSplashDialog)

 public:
  enum { SPLASH_OWNS_IMAGE = 0x1000000 };
  FXKSplashDialog(FX::FXWindow* owner, const FXWString& title, FX::FXImage* image, FX::FXuint options,
                  FX::FXuint splashFlags);
  ~FXKSplashDialog() override;

  void create() override;
  void destroy() override;
  void layout() override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  long onPaint(FX::FXObject*, FX::FXSelector, void*);

  FX::FXImage* image() const { return image_; }

 protected:
  FXKSplashDialog() = default;

 private:
  void dropImage();
  FX::FXImage* image_ = nullptr;
  FX::FXuint splashFlags_ = 0;
};

// True when the program archive holds a "splash.png" FOX can read.
bool FXKHasSplashImage();

// Plain text wrapped at the width it is given (the help pop-up's view; markup
// tags are left out).
class FXKHelpTextView : public FX::FXWindow {
  FXDECLARE(FXKHelpTextView)

 public:
  FXKHelpTextView(FX::FXComposite* parent, FX::FXObject* target, FX::FXSelector sel, FX::FXuint options);
  void setText(const FXWString& markup);
  FX::FXint getDefaultWidth() override;
  FX::FXint getHeightForWidth(FX::FXint width) override;
  FX::FXint getDefaultHeight() override { return getHeightForWidth(getDefaultWidth()); }
  // The widest wrapped line at the current width.
  FX::FXint getContentWidth();
  void setTextColor(FX::FXColor color) { textColor_ = color; }
  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onButton(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKHelpTextView() = default;

 private:
  std::vector<FX::FXString> wrap(FX::FXint width) const;
  FX::FXString text_;
  FX::FXFont* font_ = nullptr;
  FX::FXColor textColor_ = 0;
};

class FXKHelpPopup : public FX::FXPopup {
  FXDECLARE(FXKHelpPopup)

 public:
  enum { ID_VIEW = 1063 };
  enum { kMaxWidth = 300 };
  explicit FXKHelpPopup(FX::FXWindow* owner);

  void setText(const FXWString& markup) { view_->setText(markup); }
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  FX::FXint getHeightForWidth(FX::FXint width) override;
  // Above the point, 10 pixels up and to the left.
  void popupNear(FX::FXWindow* window, FX::FXint x, FX::FXint y);
  void popupNear(FX::FXint x, FX::FXint y) { popupNear(nullptr, x, y); }

  long onButtonPress(FX::FXObject*, FX::FXSelector, void*);
  long onButtonRelease(FX::FXObject*, FX::FXSelector, void*);

  FXKHelpTextView* view() const { return view_; }

 protected:
  FXKHelpPopup() = default;

 private:
  FXKHelpTextView* view_ = nullptr;
};

class FXKPasswordDialog : public FX::FXDialogBox {
  FXDECLARE(FXKPasswordDialog)

 public:
  enum {
    PASSWORD_USER = 0x10000000,
    PASSWORD_CHANGE = 0x20000000,
    PASSWORD_NO_OLD = 0x40000000,
  };
  FXKPasswordDialog(FX::FXWindow* owner, const FXWString& title, const FXWString& header, FX::FXuint options,
                    int headerKind, bool help);

  void create() override;
  FXWString getUserName() const;
  void setUserName(const FXWString& name);
  FXWString getPassword() const;
  FXWString getNewPassword() const;

  FX::FXint getDefaultWidth() override { return 335; }
  FX::FXint getMinimalWidth() { return 335; }
  FX::FXint getMinimalHeight() { return getHeightForWidth(getWidth()); }
  // Change mode refuses a confirmation that differs from the new password.
  virtual bool canAccept();
  long onCmdAccept(FX::FXObject*, FX::FXSelector, void*);

  FX::FXTextField* userField() const { return userField_; }
  FX::FXTextField* passwordField() const { return passwordField_; }
  FX::FXTextField* newPasswordField() const { return newPasswordField_; }
  FX::FXTextField* confirmField() const { return confirmField_; }

 protected:
  FXKPasswordDialog() = default;

 private:
  FX::FXuint mode_ = 0;
  FX::FXTextField* userField_ = nullptr;
  FX::FXTextField* passwordField_ = nullptr;
  FX::FXTextField* newPasswordField_ = nullptr;
  FX::FXTextField* confirmField_ = nullptr;
};

// "⎂" marks the accelerator in the catalogue; FOX marks it with "&".
FX::FXString fxAcceleratorText(const char16_t* text);
