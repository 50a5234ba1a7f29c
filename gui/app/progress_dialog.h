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
  virtual void setProgressIcon(FX::FXIcon* icon) = 0;
  // A strip of frames; a count of 0 means square frames, a delay of 0 the
  // window's own.
  virtual void setAnimation(FX::FXImage* strip, int frameCount, int frameDelay) = 0;
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
  void setProgressIcon(FX::FXIcon* icon) override;
  void setAnimation(FX::FXImage* strip, int frameCount, int frameDelay) override;

  FX::FXImage* animation() const { return strip_; }
  int frameCount() const { return frameCount_; }
  int frameDelay() const { return frameDelay_; }
  FX::FXString text() const { return label_->getText(); }
  bool barShown() const { return bar_->shown(); }
  int value() const { return static_cast<int>(bar_->getProgress()); }

 protected:
  FXKProgressDialog() = default;

 private:
  void build();
  FX::FXLabel* label_ = nullptr;
  FX::FXProgressBar* bar_ = nullptr;
  // The plain dialog has no animation window; it keeps what it was given.
  FX::FXImage* strip_ = nullptr;
  int frameCount_ = 0;
  int frameDelay_ = 0;
};
