// The pop-up that shows a short markup help text near the mouse; a click
// closes it. Includes FOX.
#pragma once

#include <fx.h>

#include "platform/fox/fxwstring.h"

class FXKTextView;

class FXKHelpPopup : public FX::FXPopup {
  FXDECLARE(FXKHelpPopup)

 public:
  enum { ID_VIEW = 1063 };
  enum { kMaxWidth = 300 };
  explicit FXKHelpPopup(FX::FXWindow* owner);

  void setText(const FXWString& markup);
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  FX::FXint getHeightForWidth(FX::FXint width) override;
  // Above the point, 10 pixels up and to the left.
  void popupNear(FX::FXWindow* window, FX::FXint x, FX::FXint y);
  void popupNear(FX::FXint x, FX::FXint y) { popupNear(nullptr, x, y); }

  long onButtonPress(FX::FXObject*, FX::FXSelector, void*);
  long onButtonRelease(FX::FXObject*, FX::FXSelector, void*);

  FXKTextView* view() const { return view_; }

  // Shows `markup` near (x, y) until a click closes it; true when it closed
  // that way.
  static bool run(FX::FXWindow* owner, const FXWString& markup, FX::FXint x, FX::FXint y);

 protected:
  FXKHelpPopup() = default;

 private:
  // The view's text height for a view of this width.
  FX::FXint viewHeightFor(FX::FXint width);
  FXKTextView* view_ = nullptr;
};
