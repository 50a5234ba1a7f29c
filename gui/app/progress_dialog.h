// The busy window's progress interface and the default progress dialog: a
// title, one line of text and a bar. Includes FOX.
#pragma once

#include <fx.h>

#include "platform/fox/fxwstring.h"

class FXKProgressBase {
 public:
  virtual ~FXKProgressBase() = default;
  virtual void setProgressTitle(const FXWString& title) = 0;
  virtual void setProgressText(const FXWString& text) = 0;
  virtual void showProgressBar(bool shown) = 0;
  virtual void setProgressValue(int value) = 0;
};

class FXKProgressDialog : public FX::FXDialogBox, public FXKProgressBase {
  FXDECLARE(FXKProgressDialog)

 public:
  FXKProgressDialog(FX::FXWindow* owner, const FXWString& title, FX::FXuint options = DECOR_TITLE | DECOR_BORDER,
                    FX::FXint x = 0, FX::FXint y = 0, FX::FXint w = 0, FX::FXint h = 0);
  // Without an owner window (before the main window exists).
  FXKProgressDialog(FX::FXApp* app, const FXWString& title, FX::FXuint options = DECOR_TITLE | DECOR_BORDER);

  void setProgressTitle(const FXWString& title) override;
  void setProgressText(const FXWString& text) override;
  void showProgressBar(bool shown) override;
  void setProgressValue(int value) override;

  FX::FXString text() const { return label_->getText(); }
  bool barShown() const { return bar_->shown(); }
  int value() const { return static_cast<int>(bar_->getProgress()); }

 protected:
  FXKProgressDialog() = default;

 private:
  void build();
  FX::FXLabel* label_ = nullptr;
  FX::FXProgressBar* bar_ = nullptr;
};
