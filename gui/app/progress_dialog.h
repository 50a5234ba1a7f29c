// The busy window's progress interface, the standard progress dialog (title,
// a text line behind an animated icon, a bar, the same progress on the main
// window's taskbar button) and the icon animation. Includes FOX.
#pragma once

#include <fx.h>

#include "platform/fox/fxwstring.h"

class FXKIconAnimation;

// Progress on the main window's taskbar button; this base shows nothing.
class FXKTaskbarProgress {
 public:
  virtual ~FXKTaskbarProgress() = default;
  virtual void setValue(int) {}
  virtual void setState(int) {}
  // The Windows 7 taskbar when the system has one, else the base.
  static FXKTaskbarProgress* create(FX::FXTopWindow* mainWindow);
};

class FXKProgressBase {
 public:
  // Animation images handed in are owned and deleted when replaced.
  enum { PROGRESS_OWNS_ANIMATION = 0x20000000 };

  FXKProgressBase(FX::FXApp* app, FX::FXuint options);
  virtual ~FXKProgressBase();
  FXKProgressBase(const FXKProgressBase&) = delete;
  FXKProgressBase& operator=(const FXKProgressBase&) = delete;

  virtual void setProgress(int value);
  virtual void showProgress();
  virtual void hideProgress();
  virtual void setTitle(const FXWString&) {}
  virtual void setText(const FXWString& text);
  virtual void setIcon(FX::FXIcon* icon) { setWindowIcon(icon); }
  // No image: the built-in strip. A count of 0 means square frames, a delay
  // of 0 the animation's 200 ms.
  virtual void setAnimation(FX::FXImage* image, int frameCount, int frameDelay);
  virtual FX::FXImage* createDefaultAnimation();
  virtual void recalcWindow() = 0;
  virtual void createWindow() = 0;
  virtual void showWindow() = 0;
  virtual void hideWindow() = 0;
  virtual bool isWindowShown() = 0;
  virtual bool isWindowEnabled() = 0;
  virtual void setWindowIcon(FX::FXIcon* icon) = 0;

  FXKIconAnimation* animationWindow() const { return animation_; }
  FX::FXImage* defaultAnimation() const { return defaultImage_; }
  FX::FXLabel* textLabel() const { return label_; }
  FX::FXProgressBar* progressBar() const { return bar_; }

 protected:
  void dropPlayingImage();

  FX::FXApp* application_ = nullptr;
  FX::FXuint progressOptions_ = 0;
  FX::FXLabel* label_ = nullptr;
  FX::FXProgressBar* bar_ = nullptr;
  FXKIconAnimation* animation_ = nullptr;
  FX::FXImage* defaultImage_ = nullptr;
  FXKTaskbarProgress* taskbar_ = nullptr;
};

class FXKProgressDialog : public FX::FXDialogBox, public FXKProgressBase {
  FXDECLARE(FXKProgressDialog)

 public:
  FXKProgressDialog(FX::FXWindow* owner, const FXWString& title, FX::FXuint options = DECOR_TITLE | DECOR_BORDER,
                    FX::FXint x = 0, FX::FXint y = 0, FX::FXint w = 0, FX::FXint h = 0);
  // Without an owner window (before the main window exists).
  FXKProgressDialog(FX::FXApp* app, const FXWString& title, FX::FXuint options = DECOR_TITLE | DECOR_BORDER);

  void create() override;
  void recalc() override;

  using FX::FXTopWindow::setTitle;
  void setTitle(const FXWString& title) override;
  void setIcon(FX::FXIcon* icon) override { FXKProgressBase::setIcon(icon); }
  void recalcWindow() override { recalc(); }
  void createWindow() override { create(); }
  void showWindow() override { show(); }
  void hideWindow() override { hide(); }
  bool isWindowShown() override { return shown() != 0; }
  bool isWindowEnabled() override { return (flags & FLAG_ENABLED) != 0; }
  void setWindowIcon(FX::FXIcon* icon) override { FX::FXTopWindow::setIcon(icon); }

  long onClose(FX::FXObject*, FX::FXSelector, void*);

  FX::FXVerticalFrame* contentFrame() const { return content_; }
  FX::FXString text() const { return label_->getText(); }
  bool barShown() const { return bar_->shown() != 0; }
  int value() const { return static_cast<int>(bar_->getProgress()); }

 protected:
  FXKProgressDialog() : FXKProgressBase(nullptr, 0) {}

 private:
  void build(const FXWString& title);
  FX::FXVerticalFrame* content_ = nullptr;
};

// Plays an image strip frame by frame while shown.
class FXKIconAnimation : public FX::FXWindow {
  FXDECLARE(FXKIconAnimation)

 public:
  // Window option: the animation owns its image.
  enum { ANIMATION_OWNS_IMAGE = 0x1000000 };
  enum { ID_PARENT_SHOWN = 61, ID_NEXT_FRAME = 62 };

  FXKIconAnimation(FX::FXComposite* parent, FX::FXuint options = 0, FX::FXint x = 0, FX::FXint y = 0, FX::FXint w = 0,
                   FX::FXint h = 0);
  ~FXKIconAnimation() override;

  void setImage(FX::FXImage* image, int frameCount);
  void setDelay(int ms);
  void start();
  void show() override;
  void hide() override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  void setBackColor(FX::FXColor color) override { background_ = color; }

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onNextFrame(FX::FXObject*, FX::FXSelector, void*);
  long onParentShown(FX::FXObject*, FX::FXSelector, void*);

  FX::FXImage* image() const { return image_; }
  int frame() const { return frame_; }
  int frameCount() const { return frameCount_; }
  int frameWidth() const { return frameWidth_; }
  int frameHeight() const { return frameHeight_; }
  int delay() const { return delay_; }
  bool running() const { return running_; }
  bool timerArmed() const { return timer_; }

 protected:
  FXKIconAnimation() = default;

 private:
  void arm();
  void disarm();

  FX::FXImage* image_ = nullptr;
  int frame_ = 0;
  int frameCount_ = 0;
  FX::FXushort frameWidth_ = 0;
  FX::FXushort frameHeight_ = 0;
  bool timer_ = false;
  int delay_ = 200;
  bool running_ = false;
  FX::FXColor background_ = 0;
};
