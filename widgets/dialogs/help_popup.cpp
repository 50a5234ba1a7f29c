#include "widgets/dialogs/help_popup.h"

#include <algorithm>

#include "platform/fox/fx_app.h"
#include "textlayout/text_view.h"

using namespace FX;

namespace {
constexpr FXint kMargin = 4;
}

FXDEFMAP(FXKHelpPopup) FXKHelpPopupMap[] = {
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, FXKHelpPopup::ID_VIEW, FXKHelpPopup::onButtonPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, FXKHelpPopup::ID_VIEW, FXKHelpPopup::onButtonRelease),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKHelpPopup::onButtonPress),
    FXMAPFUNC(SEL_MIDDLEBUTTONPRESS, 0, FXKHelpPopup::onButtonPress),
    FXMAPFUNC(SEL_RIGHTBUTTONPRESS, 0, FXKHelpPopup::onButtonPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, 0, FXKHelpPopup::onButtonRelease),
    FXMAPFUNC(SEL_MIDDLEBUTTONRELEASE, 0, FXKHelpPopup::onButtonRelease),
    FXMAPFUNC(SEL_RIGHTBUTTONRELEASE, 0, FXKHelpPopup::onButtonRelease),
};
FXIMPLEMENT(FXKHelpPopup, FXPopup, FXKHelpPopupMap, ARRAYNUMBER(FXKHelpPopupMap))

FXKHelpPopup::FXKHelpPopup(FXWindow* owner) : FXPopup(owner, 0x3000) {
  view_ = new FXKTextView(this, this, ID_VIEW, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  view_->setMargins(kMargin, kMargin, kMargin, kMargin);
  auto* ext = dynamic_cast<FXExtApp*>(getApp());
  const FXColor back = ext ? ext->getStockColor(10) : getApp()->getTipbackColor();
  view_->setBackColor(back);
  view_->FXScrollArea::setBackColor(back);
  view_->setTextColor(ext ? ext->getStockColor(11) : getApp()->getTipforeColor());
}

void FXKHelpPopup::setText(const FXWString& markup) { view_->setText(markup); }

FXint FXKHelpPopup::viewHeightFor(FXint width) {
  return view_->getLayout()->getHeightForWidth(std::max(0, width - 2 * kMargin)) + 2 * kMargin;
}

FXint FXKHelpPopup::getDefaultWidth() {
  FXint w = view_->getDefaultWidth();
  if (w > kMaxWidth) {
    view_->resize(kMaxWidth, viewHeightFor(kMaxWidth));
    // The widest line once wrapped at that width.
    w = view_->getLayout()->measure(kMaxWidth - 2 * kMargin).first + 2 * kMargin;
  }
  return w + 2 * border;
}

FXint FXKHelpPopup::getHeightForWidth(FXint width) { return viewHeightFor(width - 2 * border) + 2 * border; }

FXint FXKHelpPopup::getDefaultHeight() { return getHeightForWidth(getDefaultWidth()); }

void FXKHelpPopup::popupNear(FXWindow* window, FXint x, FXint y) {
  const FXint w = getDefaultWidth();
  const FXint h = getHeightForWidth(w);
  popup(window, x - 10, y - h - 10, w, h);
}

long FXKHelpPopup::onButtonPress(FXObject* sender, FXSelector sel, void* ptr) {
  flags |= FLAG_PRESSED;
  auto* event = static_cast<FXEvent*>(ptr);
  if (event && contains(event->root_x, event->root_y)) return 0;
  FXPopup::onButtonPress(sender, sel, ptr);
  // Without a popup chain to unwind, FOX leaves it up.
  if (shown()) popdown();
  return 1;
}

long FXKHelpPopup::onButtonRelease(FXObject*, FXSelector, void*) {
  if (!(flags & FLAG_PRESSED)) return 0;
  flags &= ~FLAG_PRESSED;
  popdown();
  return 1;
}

bool FXKHelpPopup::run(FXWindow* owner, const FXWString& markup, FXint x, FXint y) {
  FXApp* app = FXApp::instance();
  if (!app) return false;
  auto* popup = new FXKHelpPopup(owner ? owner : static_cast<FXWindow*>(app->getRootWindow()));
  popup->setText(markup);
  popup->create();
  popup->popupNear(owner, x, y);
  const FXint result = app->runModalWhileShown(popup);
  popup->destroy();
  delete popup;
  return result == 0;
}
