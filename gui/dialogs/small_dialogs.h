// The splash window. Includes FOX.
#pragma once

#include <fx.h>

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
  // Nothing shows while the application says windows may not.
  void show() override;
  void show(FX::FXuint placement) override;
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
