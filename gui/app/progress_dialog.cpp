#include "gui/app/progress_dialog.h"

#include "gui/app/busy_strip.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/windows.h"

using namespace FX;

// ---- taskbar ----

namespace {

class FXKTaskbarProgressWin final : public FXKTaskbarProgress {
 public:
  explicit FXKTaskbarProgressWin(FXTopWindow* main) : main_(main) {
    initialized_ = SUCCEEDED(CoInitialize(nullptr));
    void* list = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, 23, IID_ITaskbarList3, &list)))
      list_ = static_cast<ITaskbarList3*>(list);
  }
  ~FXKTaskbarProgressWin() override {
    if (list_) list_->SetProgressState(handle(), TBPF_NOPROGRESS);
    if (initialized_) CoUninitialize();
    if (list_) list_->Release();
  }
  void setValue(int percent) override {
    if (list_) list_->SetProgressValue(handle(), static_cast<std::uint64_t>(percent < 0 ? 0 : percent), 100);
  }
  void setState(int state) override {
    if (!list_) return;
    TBPFLAG flag = TBPF_NOPROGRESS;
    switch (state) {
      case 1: flag = TBPF_INDETERMINATE; break;
      case 2: flag = TBPF_NORMAL; break;
      case 3: flag = TBPF_PAUSED; break;
      case 4: flag = TBPF_ERROR; break;
      default: break;
    }
    list_->SetProgressState(handle(), flag);
  }

 private:
  HWND handle() const { return fxWindowHandle(main_); }
  FXTopWindow* main_;
  ITaskbarList3* list_ = nullptr;
  bool initialized_ = false;
};

FXTopWindow* mainWindowOf(FXApp* app) {
  auto* ext = dynamic_cast<FXExtApp*>(app);
  return ext ? ext->getMainWindow() : nullptr;
}

}  // namespace

FXKTaskbarProgress* FXKTaskbarProgress::create(FXTopWindow* mainWindow) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (mainWindow && GetVersionExW(&info) &&
      (info.dwMajorVersion > 6 || (info.dwMajorVersion == 6 && info.dwMinorVersion > 0)))
    return new FXKTaskbarProgressWin(mainWindow);
  return new FXKTaskbarProgress;
}

// ---- progress interface ----

FXKProgressBase::FXKProgressBase(FXApp* app, FXuint options)
    : application_(app), progressOptions_(options), taskbar_(FXKTaskbarProgress::create(mainWindowOf(app))) {}

FXKProgressBase::~FXKProgressBase() {
  dropPlayingImage();
  if (defaultImage_) {
    defaultImage_->destroy();
    delete defaultImage_;
  }
  delete taskbar_;
}

void FXKProgressBase::dropPlayingImage() {
  if (!animation_) return;
  FXImage* playing = animation_->image();
  if (playing && playing != defaultImage_ && (progressOptions_ & PROGRESS_OWNS_ANIMATION)) {
    animation_->setImage(nullptr, 0);
    playing->destroy();
    delete playing;
  }
}

void FXKProgressBase::setProgress(int value) {
  if (!bar_) return;
  taskbar_->setValue(value);
  taskbar_->setState(2);
  bar_->setProgress(static_cast<FXuint>(value < 0 ? 0 : value));
  bar_->show();
  bar_->raise();
  recalcWindow();
}

void FXKProgressBase::showProgress() {
  if (!bar_) return;
  taskbar_->setState(2);
  bar_->show();
  recalcWindow();
}

void FXKProgressBase::hideProgress() {
  if (!bar_) return;
  taskbar_->setState(0);
  bar_->hide();
  recalcWindow();
}

void FXKProgressBase::setText(const FXWString& text) {
  if (!label_) return;
  label_->setText(text.toUtf8().c_str());
  recalcWindow();
}

FXImage* FXKProgressBase::createDefaultAnimation() {
  if (!application_ || !FXPNGImage::supported) return nullptr;
  auto* image = new FXPNGImage(application_, kBusyStripPng, 8, 1, 1);
  image->create();
  return image;
}

void FXKProgressBase::setAnimation(FXImage* image, int frameCount, int frameDelay) {
  if (!animation_) return;
  if (!image) {
    if (defaultImage_ && animation_->image() == defaultImage_) return;
    if (!defaultImage_) defaultImage_ = createDefaultAnimation();
    image = defaultImage_;
    if (!image) return;
  }
  if (image == animation_->image()) return;
  dropPlayingImage();
  animation_->show();
  animation_->setImage(image, frameCount);
  animation_->setDelay(frameDelay);
  if (!animation_->running()) animation_->start();
  recalcWindow();
}

// ---- dialog ----

FXDEFMAP(FXKProgressDialog) FXKProgressDialogMap[] = {
    FXMAPFUNC(SEL_CLOSE, 0, FXKProgressDialog::onClose),
};
FXIMPLEMENT(FXKProgressDialog, FXDialogBox, FXKProgressDialogMap, ARRAYNUMBER(FXKProgressDialogMap))

FXKProgressDialog::FXKProgressDialog(FXWindow* owner, const FXWString& title, FXuint options, FXint x, FXint y,
                                     FXint w, FXint h)
    : FXDialogBox(owner, title.toUtf8().c_str(), options, x, y, w, h, 0, 0, 0, 0, 4, 4),
      FXKProgressBase(owner->getApp(), options) {
  build(title);
}

FXKProgressDialog::FXKProgressDialog(FXApp* app, const FXWString& title, FXuint options)
    : FXDialogBox(app, title.toUtf8().c_str(), options, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4), FXKProgressBase(app, options) {
  build(title);
}

void FXKProgressDialog::build(const FXWString& title) {
  content_ = new FXVerticalFrame(this, 0xC00, 0, 0, 0, 0, 10, 10, 10, 10, 4, 4);
  auto* row = new FXHorizontalFrame(content_, 0xC20, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
  animation_ = new FXKIconAnimation(row, 0x20);
  animation_->hide();
  label_ = new FXLabel(row, title.toUtf8().c_str(), nullptr, 0x108420, 0, 0, 0, 0, 2, 2, 2, 2);
  bar_ = new FXProgressBar(content_, nullptr, 0, 0x1600, 0, 0, 0, 20, 2, 2, 2, 2);
  bar_->setTotal(100);
  bar_->hide();
}

void FXKProgressDialog::create() {
  if (!animation_->image()) setAnimation(nullptr, 0, 0);
  FXTopWindow::create();
}

void FXKProgressDialog::recalc() {
  const FXint w = getDefaultWidth();
  const FXint h = getDefaultHeight();
  if (!shown() || h > getHeight() || w > getWidth()) resize(w, h);
  FXShell::recalc();
}

void FXKProgressDialog::setTitle(const FXWString& title) { FXTopWindow::setTitle(title.toUtf8().c_str()); }

// With a close box the request is consumed: the busy state, not the user,
// closes the window.
long FXKProgressDialog::onClose(FXObject*, FXSelector, void*) { return (options & DECOR_CLOSE) ? 1 : 0; }

// ---- icon animation ----

FXDEFMAP(FXKIconAnimation) FXKIconAnimationMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKIconAnimation::onPaint),
    FXMAPFUNC(SEL_TIMEOUT, FXKIconAnimation::ID_NEXT_FRAME, FXKIconAnimation::onNextFrame),
    FXMAPFUNC(SEL_COMMAND, FXKIconAnimation::ID_PARENT_SHOWN, FXKIconAnimation::onParentShown),
};
FXIMPLEMENT(FXKIconAnimation, FXWindow, FXKIconAnimationMap, ARRAYNUMBER(FXKIconAnimationMap))

FXKIconAnimation::FXKIconAnimation(FXComposite* parent, FXuint options, FXint x, FXint y, FXint w, FXint h)
    : FXWindow(parent, options, x, y, w, h) {
  background_ = getApp()->getBaseColor();
}

FXKIconAnimation::~FXKIconAnimation() {
  disarm();
  if ((options & ANIMATION_OWNS_IMAGE) && image_) {
    image_->destroy();
    delete image_;
  }
}

void FXKIconAnimation::arm() {
  if (timer_) return;
  getApp()->addTimeout(this, ID_NEXT_FRAME, static_cast<FXuint>(delay_));
  timer_ = true;
}

void FXKIconAnimation::disarm() {
  if (!timer_) return;
  getApp()->removeTimeout(this, ID_NEXT_FRAME);
  timer_ = false;
}

void FXKIconAnimation::setImage(FXImage* image, int frameCount) {
  if (image == image_) return;
  if ((options & ANIMATION_OWNS_IMAGE) && image_) {
    image_->destroy();
    delete image_;
    image_ = nullptr;
    update();
  }
  image_ = image;
  if (!image_) {
    disarm();
    running_ = false;
    frameCount_ = 0;
    frameWidth_ = frameHeight_ = 0;
    return;
  }
  image_->create();
  frameHeight_ = static_cast<FXushort>(image_->getHeight());
  if (frameCount > 0) {
    frameCount_ = frameCount;
  } else {
    // Square frames.
    frameCount_ = image_->getHeight() > 0 ? image_->getWidth() / image_->getHeight() : 0;
  }
  if (frameCount_ < 1) frameCount_ = 1;
  start();
}

void FXKIconAnimation::start() {
  if (image_) {
    image_->create();
    frameHeight_ = static_cast<FXushort>(image_->getHeight());
    frameWidth_ = static_cast<FXushort>(frameCount_ > 0 ? image_->getWidth() / frameCount_ : 0);
  }
  frame_ = 0;
  if (frameCount_ > 1) arm();
  running_ = true;
  update();
}

void FXKIconAnimation::setDelay(int ms) {
  if (ms <= 0) ms = 200;
  if (ms == delay_) return;
  delay_ = ms;
  disarm();
  if (frameCount_ != 0) arm();
}

long FXKIconAnimation::onNextFrame(FXObject*, FXSelector, void*) {
  timer_ = false;
  if (frameCount_ > 0) frame_ = (frame_ + 1) % frameCount_;
  if (frameCount_ > 1) arm();
  update();
  return 1;
}

void FXKIconAnimation::show() {
  if (!shown() && running_ && frameCount_ > 1) arm();
  FXWindow::show();
}

void FXKIconAnimation::hide() {
  if (shown()) {
    disarm();
    running_ = false;
  }
  FXWindow::hide();
}

long FXKIconAnimation::onParentShown(FXObject*, FXSelector, void* ptr) {
  if (shown()) {
    if (ptr) {
      if (running_ && frameCount_ > 1) arm();
    } else {
      disarm();
    }
  }
  return 1;
}

long FXKIconAnimation::onPaint(FXObject*, FXSelector, void* ptr) {
  auto* event = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, event);
  dc.setForeground(background_);
  if (image_) {
    dc.fillRectangle(0, 0, width, height);
    dc.drawArea(image_, frameWidth_ * frame_, 0, frameWidth_, frameHeight_, 0, 0);
  } else if (event) {
    dc.fillRectangle(event->rect.x, event->rect.y, event->rect.w, event->rect.h);
  } else {
    dc.fillRectangle(0, 0, width, height);
  }
  return 1;
}

FXint FXKIconAnimation::getDefaultWidth() { return image_ ? frameWidth_ : 0; }
FXint FXKIconAnimation::getDefaultHeight() { return image_ ? frameHeight_ : 0; }
