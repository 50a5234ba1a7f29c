#include "gui/app/progress_dialog.h"

using namespace FX;

FXIMPLEMENT(FXKProgressDialog, FXDialogBox, nullptr, 0)

FXKProgressDialog::FXKProgressDialog(FXWindow* owner, const FXWString& title, FXuint options, FXint x, FXint y,
                                     FXint w, FXint h)
    : FXDialogBox(owner, title.toUtf8().c_str(), options, x, y, w, h) {
  build();
}

FXKProgressDialog::FXKProgressDialog(FXApp* app, const FXWString& title, FXuint options)
    : FXDialogBox(app, title.toUtf8().c_str(), options) {
  build();
}

void FXKProgressDialog::build() {
  auto* frame = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  label_ = new FXLabel(frame, "", nullptr, LAYOUT_FILL_X | JUSTIFY_LEFT);
  bar_ = new FXProgressBar(frame, nullptr, 0, PROGRESSBAR_NORMAL | PROGRESSBAR_PERCENTAGE | LAYOUT_FILL_X, 0, 0, 320);
  bar_->setTotal(100);
}

void FXKProgressDialog::setProgressTitle(const FXWString& title) { setTitle(title.toUtf8().c_str()); }
void FXKProgressDialog::setProgressText(const FXWString& text) { label_->setText(text.toUtf8().c_str()); }
void FXKProgressDialog::showProgressBar(bool shown) {
  if (shown) bar_->show();
  else bar_->hide();
}
void FXKProgressDialog::setProgressValue(int value) {
  bar_->show();
  bar_->setProgress(static_cast<FXuint>(value < 0 ? 0 : value));
}
void FXKProgressDialog::setProgressIcon(FXIcon* icon) { setIcon(icon); }
void FXKProgressDialog::setAnimation(FXImage* strip, int frameCount, int frameDelay) {
  strip_ = strip;
  frameCount_ = frameCount;
  frameDelay_ = frameDelay;
}
