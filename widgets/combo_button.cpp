#include "widgets/combo_button.h"

using namespace FX;

FXDEFMAP(FXKComboButton) FXKComboButtonMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKComboButton::onPaint),
    FXMAPFUNC(SEL_ENTER, 0, FXKComboButton::onEnter),
    FXMAPFUNC(SEL_LEAVE, 0, FXKComboButton::onLeave),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKComboButton::onLeftBtnPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, 0, FXKComboButton::onLeftBtnRelease),
    FXMAPFUNC(SEL_COMMAND, FXWindow::ID_UNPOST, FXKComboButton::onCmdUnpost),
    FXMAPFUNC(SEL_COMMAND, 0, FXKComboButton::onCommand),
};
FXIMPLEMENT(FXKComboButton, FXStateMenuButton, FXKComboButtonMap, ARRAYNUMBER(FXKComboButtonMap))

long FXKComboButton::onEnter(FXObject* sender, FXSelector sel, void* ptr) {
  if (state_ != STATE_POSTED) update(), ++hoverRepaints_;
  return FXMenuButton::onEnter(sender, sel, ptr);
}

long FXKComboButton::onLeave(FXObject* sender, FXSelector sel, void* ptr) {
  if (state_ != STATE_POSTED) update(), ++hoverRepaints_;
  return FXMenuButton::onLeave(sender, sel, ptr);
}

long FXKComboButton::onLeftBtnPress(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  flags &= ~FLAG_TIP;
  if (state_ == STATE_POSTED || ev->win_x >= splitX()) {
    FXMenuButton::onLeftBtnPress(sender, sel, ptr);
    if (state) state_ = STATE_POSTED;  // FOX posted the menu
    update();
    return 1;
  }
  if (!isEnabled() || (flags & FLAG_PRESSED)) return 0;
  grab();
  if (target && target->tryHandle(this, FXSEL(SEL_LEFTBUTTONPRESS, message), ptr)) return 1;
  if (state_ != STATE_ENGAGED) state_ = STATE_PRESSED;
  flags &= ~FLAG_UPDATE;
  flags |= FLAG_PRESSED;
  update();
  return 1;
}

long FXKComboButton::onLeftBtnRelease(FXObject* sender, FXSelector sel, void* ptr) {
  if (!isEnabled() || state_ != STATE_PRESSED || !(flags & FLAG_PRESSED)) {
    if (isEnabled() && state_ == STATE_ENGAGED && (flags & FLAG_PRESSED)) {
      // An engaged button pushes without changing its look.
      ungrab();
      flags &= ~FLAG_PRESSED;
      flags |= FLAG_UPDATE;
      if (target) target->tryHandle(this, FXSEL(SEL_COMMAND, message), reinterpret_cast<void*>(1));
      return 1;
    }
    return FXMenuButton::onLeftBtnRelease(sender, sel, ptr);
  }
  ungrab();
  if (target && target->tryHandle(this, FXSEL(SEL_LEFTBUTTONRELEASE, message), ptr)) return 1;
  flags &= ~FLAG_PRESSED;
  flags |= FLAG_UPDATE;
  state_ = STATE_UP;
  update();
  if (target) target->tryHandle(this, FXSEL(SEL_COMMAND, message), reinterpret_cast<void*>(1));
  return 1;
}

long FXKComboButton::onCmdUnpost(FXObject* sender, FXSelector sel, void* ptr) {
  FXMenuButton::onCmdUnpost(sender, sel, ptr);
  state_ = STATE_UP;
  flags &= ~FLAG_PRESSED;
  update();
  return 1;
}

long FXKComboButton::onCommand(FXObject*, FXSelector, void* ptr) {
  if (target) target->tryHandle(this, FXSEL(SEL_COMMAND, message), ptr);
  return 0;
}

long FXKComboButton::onPaint(FXObject*, FXSelector, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, ev);
  const FXint s = width - padright + 2;
  const FXint dw = padright - 2;
  dc.setForeground(backColor);
  dc.fillRectangle(ev->rect.x, ev->rect.y, ev->rect.w, ev->rect.h);
  const bool hovered = isEnabled() && underCursor();
  if (state_ == STATE_PRESSED) {
    drawSunkenRectangle(dc, 0, 0, s, height);
    drawSunkenRectangle(dc, s, 0, dw, height);
  } else if (state_ == STATE_POSTED) {
    drawRaisedRectangle(dc, 0, 0, s, height);
    drawSunkenRectangle(dc, s, 0, dw, height);
  } else if (hovered) {
    drawRaisedRectangle(dc, 0, 0, s, height);
    drawRaisedRectangle(dc, s, 0, dw, height);
  }
  FXint tw = 0, th = 0, iw = 0, ih = 0, tx, ty, ix, iy;
  if (!label.empty()) tw = labelWidth(label), th = labelHeight(label);
  if (icon) iw = icon->getWidth(), ih = icon->getHeight();
  just_x(tx, ix, tw, iw);
  just_y(ty, iy, th, ih);
  if (icon) {
    if (!isEnabled())
      dc.drawIconSunken(icon, ix, iy);
    else if (hovered && state_ == STATE_UP)
      dc.drawIconShaded(icon, ix, iy);
    else
      dc.drawIcon(icon, ix, iy);
  }
  if (!label.empty()) {
    dc.setFont(font);
    if (isEnabled()) {
      dc.setForeground(textColor);
      drawLabel(dc, label, hotoff, tx, ty, tw, th);
      if (hasFocus()) dc.drawFocusRectangle( border + 2, border + 2, width - 2 * border - 4, height - 2 * border - 4);
    } else {
      dc.setForeground(hiliteColor);
      drawLabel(dc, label, hotoff, tx + 1, ty + 1, tw, th);
      dc.setForeground(shadowColor);
      drawLabel(dc, label, hotoff, tx, ty, tw, th);
    }
  }
  const FXint x0 = s + (padright - 13) / 2, y0 = (height - 5) / 2;
  FXPoint arrow[3] = {FXPoint(x0 + 1, y0), FXPoint(x0 + 5, y0 + 5), FXPoint(x0 + 10, y0)};
  dc.setForeground(isEnabled() ? textColor : shadowColor);
  dc.fillPolygon(arrow, 3);
  return 1;
}
