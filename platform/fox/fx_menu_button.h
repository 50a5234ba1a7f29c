// FOX 1.6's menu button with the state value of the toolkit build
// (FXMenuButton::setState there): what the derived buttons paint and track.
// Includes FOX.
#pragma once

#include <fx.h>

namespace FX {

class FXStateMenuButton : public FXMenuButton {
  FXDECLARE(FXStateMenuButton)

 public:
  FXStateMenuButton(FXComposite* p, const FXString& text, FXIcon* ic = nullptr, FXPopup* pup = nullptr,
                    FXuint opts = 0, FXint x = 0, FXint y = 0, FXint w = 0, FXint h = 0,
                    FXint pl = DEFAULT_PAD, FXint pr = DEFAULT_PAD, FXint pt = DEFAULT_PAD, FXint pb = DEFAULT_PAD)
      : FXMenuButton(p, text, ic, pup, opts, x, y, w, h, pl, pr, pt, pb) {}

  void setState(FXint state) {
    if (state_ != state) {
      state_ = state;
      update();
    }
  }
  FXint getState() const { return state_; }
  bool isPressedFlag() const { return (flags & FLAG_PRESSED) != 0; }

 protected:
  FXStateMenuButton() = default;
  FXint state_ = 0;
};

}  // namespace FX
