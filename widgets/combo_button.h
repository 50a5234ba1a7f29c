// A split button: the main part pushes like a button, the right padding is a
// drop-down part that posts the menu. States: 0 up, 1 main part pressed,
// 2 engaged (set from outside and left alone), 3 menu posted.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include "platform/fox/fx_menu_button.h"

class FXKComboButton : public FX::FXStateMenuButton {
  FXDECLARE(FXKComboButton)

 public:
  enum { STATE_UP = 0, STATE_PRESSED = 1, STATE_ENGAGED = 2, STATE_POSTED = 3 };
  FXKComboButton() = default;
  // FOX 1.6 windows take their parent at construction.
  FXKComboButton(FX::FXComposite* p, const FX::FXString& text, FX::FXPopup* popup, FX::FXObject* tgt = nullptr,
                 FX::FXSelector sel = 0, FX::FXuint opts = FX::FRAME_RAISED)
      : FXStateMenuButton(p, text, nullptr, popup, opts, 0, 0, 0, 0, 4, 16, 2, 2) {
    target = tgt;
    message = sel;
  }

  // Where the drop-down part starts (hit testing).
  FX::FXint splitX() const { return width - padright; }

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onEnter(FX::FXObject*, FX::FXSelector, void*);
  long onLeave(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnRelease(FX::FXObject*, FX::FXSelector, void*);
  long onCmdUnpost(FX::FXObject*, FX::FXSelector, void*);
  long onCommand(FX::FXObject*, FX::FXSelector, void*);
  // Repaints caused by hovering, for the tests.
  int hoverRepaints() const { return hoverRepaints_; }

 private:
  int hoverRepaints_ = 0;
};
