#include "widgets/explorer_toolbar.h"

#include <algorithm>

#include "core/catalogue.h"
#include "platform/fox/fx_messages.h"

using namespace FX;

namespace {

FXString narrow(const FXWString& text) { return FXString(text.toUtf8().c_str()); }

// A catalogue caption with its hot-key mark as FOX writes it.
FXString caption(std::uint32_t slot, const char16_t* builtIn) {
  FXWString text(Common::catalogueText(slot, builtIn));
  FXString out = narrow(text);
  return out.substitute("\xE2\x8E\x82", "&");
}

FXKExplorerToolbarPanel* panelOf(FXWindow* button) {
  FXWindow* group = button->getParent();
  return group ? dynamic_cast<FXKExplorerToolbarPanel*>(group->getParent()) : nullptr;
}

// Index 0 small, 1 medium, 2 large; -1 for no icon.
int iconIndex(FXuint size) { return size >= 1 && size <= 3 ? static_cast<int>(size) - 1 : -1; }

}  // namespace

// ---- panel

FXDEFMAP(FXKExplorerToolbarPanel) FXKExplorerToolbarPanelMap[] = {
    FXMAPFUNCS(SEL_UPDATE, FXKExplorerToolbarPanel::ID_SMALL_ICONS, FXKExplorerToolbarPanel::ID_LARGE_ICONS,
               FXKExplorerToolbarPanel::onUpdIconSize),
    FXMAPFUNCS(SEL_COMMAND, FXKExplorerToolbarPanel::ID_SMALL_ICONS, FXKExplorerToolbarPanel::ID_LARGE_ICONS,
               FXKExplorerToolbarPanel::onCmdIconSize),
    FXMAPFUNC(SEL_UPDATE, FXKExplorerToolbarPanel::ID_TEXT_LABELS, FXKExplorerToolbarPanel::onUpdTextLabels),
    FXMAPFUNC(SEL_COMMAND, FXKExplorerToolbarPanel::ID_TEXT_LABELS, FXKExplorerToolbarPanel::onCmdTextLabels),
    FXMAPFUNC(SEL_COMMAND, FXKExplorerToolbarPanel::ID_SCROLL_FORWARD, FXKExplorerToolbarPanel::onCmdScrollForward),
    FXMAPFUNC(SEL_COMMAND, FXKExplorerToolbarPanel::ID_SCROLL_BACK, FXKExplorerToolbarPanel::onCmdScrollBack),
    FXMAPFUNC(SEL_RIGHTBUTTONPRESS, 0, FXKExplorerToolbarPanel::onRightBtnPress),
};
FXIMPLEMENT(FXKExplorerToolbarPanel, FXHorizontalFrame, FXKExplorerToolbarPanelMap,
            ARRAYNUMBER(FXKExplorerToolbarPanelMap))

FXKExplorerToolbarPanel::FXKExplorerToolbarPanel(FXComposite* parent, FXuint options)
    : FXHorizontalFrame(parent, options, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) {
  left_ = new FXArrowButton(this, this, ID_SCROLL_BACK, ARROW_LEFT | ARROW_REPEAT | ARROW_TOOLBAR | FRAME_RAISED, 0,
                            0, 0, 0, 2, 2, 2, 2);
  right_ = new FXArrowButton(this, this, ID_SCROLL_FORWARD, ARROW_RIGHT | ARROW_REPEAT | ARROW_TOOLBAR | FRAME_RAISED,
                             0, 0, 0, 0, 2, 2, 2, 2);
  left_->hide();
  right_->hide();
}

FXKExplorerToolbarPanel::~FXKExplorerToolbarPanel() { delete menu_; }

void FXKExplorerToolbarPanel::dropMenu() {
  if (!menu_) return;
  menu_->destroy();
  delete menu_;
  menu_ = nullptr;
}

void FXKExplorerToolbarPanel::destroy() {
  if (menu_) menu_->destroy();
  FXHorizontalFrame::destroy();
}

void FXKExplorerToolbarPanel::layout() {
  const FXint h = height - 2 * border - padtop - padbottom;
  const FXint y = border + padtop;
  for (;;) {
    FXWindow* last = nullptr;
    for (FXWindow* c = right_->getNext(); c; c = c->getNext())
      if (c->shown()) last = c;
    FXint x = offset_ + border + padleft;
    FXint rightEdge = width - padright - border + offset_;
    total_ = 0;
    for (FXWindow* c = right_->getNext(); c; c = c->getNext()) {
      if (!c->shown()) continue;
      const FXint own = c->getDefaultWidth();
      total_ += own;
      FXint w = own;
      if (c == last) w = std::max(own, width - padright - border - x);
      if (c->getLayoutHints() & LAYOUT_RIGHT) {
        rightEdge -= w;
        c->position(rightEdge, y, w, h);
      } else {
        c->position(x, y, w, h);
        x += w;
      }
    }
    const FXint a = available();
    if (a < total_) {
      if (a < total_ + offset_) {
        right_->show();
        right_->raise();
        break;
      }
      right_->hide();
      if (a - total_ != offset_) {
        offset_ = a - total_;
        continue;
      }
      break;
    }
    left_->hide();
    right_->hide();
    if (offset_ != 0) {
      offset_ = 0;
      continue;
    }
    break;
  }
  if (offset_ < 0) {
    left_->show();
    left_->raise();
  } else {
    left_->hide();
  }
  const FXint w = right_->getDefaultWidth();
  right_->position(width - padright - border - w, y, w, h);
  left_->position(padleft + border, y, w, h);
  flags &= ~FLAG_DIRTY;
}

FXint FXKExplorerToolbarPanel::getDefaultWidth() {
  FXint sum = 0;
  for (FXWindow* c = right_->getNext(); c; c = c->getNext())
    if (c->shown()) sum += c->getDefaultWidth();
  return sum ? sum + padleft + padright + 2 * border : 0;
}

void FXKExplorerToolbarPanel::setScrollOffset(FXint offset) {
  if (offset == offset_) return;
  const FXint d = offset - offset_;
  for (FXWindow* c = right_->getNext(); c; c = c->getNext())
    c->position(c->getX() + d, c->getY(), c->getWidth(), c->getHeight());
  offset_ = offset;
  if (offset_ < 0) {
    left_->show();
    left_->raise();
  } else {
    left_->hide();
  }
  if (available() < total_ + offset_) {
    right_->show();
    right_->raise();
  } else {
    right_->hide();
  }
  update();
}

long FXKExplorerToolbarPanel::onCmdScrollForward(FXObject*, FXSelector, void*) {
  FXint o = offset_ - kScrollStep;
  if (o + total_ < available()) o = available() - total_;
  setScrollOffset(std::min(o, 0));
  flags &= ~FLAG_TIP;
  return 1;
}

long FXKExplorerToolbarPanel::onCmdScrollBack(FXObject*, FXSelector, void*) {
  setScrollOffset(std::min(offset_ + kScrollStep, 0));
  flags &= ~FLAG_TIP;
  return 1;
}

void FXKExplorerToolbarPanel::refreshButtons(FXuint how) {
  for (FXWindow* group = right_->getNext(); group; group = group->getNext()) {
    for (FXWindow* c = group->getFirst(); c; c = c->getNext()) {
      if (auto* b = dynamic_cast<FXKExplorerButton*>(c))
        b->refresh(how);
      else if (auto* cb = dynamic_cast<FXKExplorerComboButton*>(c))
        cb->refresh(how);
    }
  }
}

void FXKExplorerToolbarPanel::setViewMode(FXuint mode) {
  if (mode == viewMode_) return;
  viewMode_ = mode;
  // This build has no refresh pass of its own to bring the buttons along.
  refreshButtons(REFRESH_LOOK);
  recalc();
}

long FXKExplorerToolbarPanel::onUpdIconSize(FXObject* sender, FXSelector sel, void*) {
  const bool on = (viewMode_ & MODE_SIZE) + 62 == FXSELID(sel);
  sender->handle(this, FXSEL(SEL_COMMAND, on ? ID_CHECK : ID_UNCHECK), nullptr);
  return 1;
}

long FXKExplorerToolbarPanel::onCmdIconSize(FXObject*, FXSelector sel, void*) {
  const FXuint size = FXSELID(sel) - 62;
  if ((viewMode_ & MODE_SIZE) == size) return 1;
  viewMode_ = (viewMode_ & ~MODE_SIZE) | size;
  refreshButtons(REFRESH_LOOK);
  offset_ = 0;
  recalc();
  return 1;
}

long FXKExplorerToolbarPanel::onUpdTextLabels(FXObject* sender, FXSelector, void*) {
  sender->handle(this, FXSEL(SEL_COMMAND, (viewMode_ & MODE_TEXT) ? ID_CHECK : ID_UNCHECK), nullptr);
  return 1;
}

long FXKExplorerToolbarPanel::onCmdTextLabels(FXObject*, FXSelector, void*) {
  viewMode_ ^= MODE_TEXT;
  refreshButtons(REFRESH_LOOK);
  recalc();
  return 1;
}

bool FXKExplorerToolbarPanel::fillContextMenu(FXMenuPane* pane) {
  if (options & PANEL_NO_MENU) return false;
  bool any = false;
  for (FXWindow* group = right_->getNext(); group; group = group->getNext()) {
    if (!group->isEnabled()) continue;
    FXWString title;
    if (!group->handle(this, FXSEL(SEL_COMMAND, ID_GETSTRINGVALUE), &title) || title.empty()) continue;
    new FXMenuCheck(pane, narrow(title), group, ID_TOGGLESHOWN);
    any = true;
  }
  if (any) new FXMenuSeparator(pane);
  new FXMenuRadio(pane, caption(2381, u"\u2382Small Icons"), this, ID_SMALL_ICONS);
  new FXMenuRadio(pane, caption(2380, u"\u2382Medium Icons"), this, ID_MEDIUM_ICONS);
  new FXMenuRadio(pane, caption(2379, u"\u2382Large Icons"), this, ID_LARGE_ICONS);
  new FXMenuSeparator(pane);
  new FXMenuCheck(pane, caption(2382, u"\u2382Text Labels"), this, ID_TEXT_LABELS);
  return true;
}

void FXKExplorerToolbarPanel::setToolbarsMenu(FXMenuPane* pane) {
  toolbarsMenu_ = pane;
  if (!pane) return;
  while (FXWindow* child = pane->getFirst()) delete child;
  fillContextMenu(pane);
  if (pane->id()) pane->create();
}

long FXKExplorerToolbarPanel::onRightBtnPress(FXObject*, FXSelector, void* ptr) {
  dropMenu();
  menu_ = new FXMenuPane(this);
  if (!fillContextMenu(menu_)) return 0;
  auto* event = static_cast<FXEvent*>(ptr);
  menu_->create();
  menu_->popup(nullptr, event ? event->root_x : 0, event ? event->root_y : 0);
  return 1;
}

void FXKExplorerToolbarPanel::writeSettings(FXWindowSettings& settings) {
  if (settings.usable()) settings.writeIntEntry("ViewMode", static_cast<FXint>(viewMode_));
}

bool FXKExplorerToolbarPanel::readSettings(const FXWindowSettings& settings) {
  if (!settings.usable()) return false;
  setViewMode(static_cast<FXuint>(settings.readIntEntry("ViewMode", static_cast<FXint>(viewMode_))));
  return true;
}

// ---- button group

FXDEFMAP(FXKExplorerToolbar) FXKExplorerToolbarMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKExplorerToolbar::onPaint),
    FXMAPFUNC(SEL_RIGHTBUTTONPRESS, 0, FXKExplorerToolbar::onRightBtnPress),
    FXMAPFUNC(SEL_COMMAND, FXWindow::ID_GETSTRINGVALUE, FXKExplorerToolbar::onCmdGetStringValue),
    FXMAPFUNC(SEL_UPDATE, FXWindow::ID_TOGGLESHOWN, FXKExplorerToolbar::onUpdToggleShown),
};
FXIMPLEMENT(FXKExplorerToolbar, FXToolBar, FXKExplorerToolbarMap, ARRAYNUMBER(FXKExplorerToolbarMap))

FXKExplorerToolbar::FXKExplorerToolbar(FXComposite* parent, FXObject* document, FXuint options, FXint x, FXint y,
                                       FXint w, FXint h, FXint pl, FXint pr, FXint pt, FXint pb, FXint hs, FXint vs)
    : FXToolBar(parent, options, x, y, w, h, pl, pr, pt, pb, hs, vs), document_(document) {
  flags |= FLAG_ENABLED;
}

FXKExplorerToolbar::~FXKExplorerToolbar() {
  if (attached_ && document_) document_->handle(this, FXSEL(SEL_DETACH, 0), nullptr);
}

void FXKExplorerToolbar::create() {
  const bool first = !id();
  FXToolBar::create();
  if (first && document_ && !attached_) {
    document_->handle(this, FXSEL(SEL_ATTACH, 0), nullptr);
    attached_ = true;
  }
}

void FXKExplorerToolbar::destroy() {
  if (attached_ && document_) {
    document_->handle(this, FXSEL(SEL_DETACH, 0), nullptr);
    attached_ = false;
  }
  FXToolBar::destroy();
}

FXint FXKExplorerToolbar::widestChild() const {
  FXint widest = 0;
  for (FXWindow* c = getFirst(); c; c = c->getNext())
    if (c->shown() && !dynamic_cast<FXVerticalSeparator*>(c)) widest = std::max(widest, c->getDefaultWidth());
  return widest;
}

FXint FXKExplorerToolbar::childWidth(FXWindow* child, FXint widest) const {
  if (!child->shown()) return 0;
  if ((options & TOOLBAR_OWN_WIDTHS) || dynamic_cast<FXVerticalSeparator*>(child)) return child->getDefaultWidth();
  return widest;
}

void FXKExplorerToolbar::layout() {
  const FXint widest = widestChild();
  FXint left = padleft + border;
  FXint right = width - padright - border;
  const FXint y = padtop + border;
  const FXint h = height - 2 * border - padtop - padbottom;
  for (FXWindow* c = getFirst(); c; c = c->getNext()) {
    if (!c->shown()) continue;
    const FXint w = childWidth(c, widest);
    if (c->getLayoutHints() & LAYOUT_RIGHT) {
      right -= w;
      c->position(right, y, w, h);
      right -= hspacing;
    } else {
      c->position(left, y, w, h);
      left += w + hspacing;
    }
  }
  flags &= ~FLAG_DIRTY;
}

FXint FXKExplorerToolbar::getDefaultWidth() {
  const FXint widest = widestChild();
  FXint sum = 0;
  bool any = false;
  for (FXWindow* c = getFirst(); c; c = c->getNext()) {
    if (!c->shown()) continue;
    sum += childWidth(c, widest) + hspacing;
    any = true;
  }
  return any ? sum + padleft + padright + 2 * border : 0;
}

FXint FXKExplorerToolbar::getDefaultHeight() {
  FXint tallest = 0;
  for (FXWindow* c = getFirst(); c; c = c->getNext())
    if (c->shown()) tallest = std::max(tallest, c->getDefaultHeight());
  return tallest + padtop + padbottom + 2 * border;
}

long FXKExplorerToolbar::onPaint(FXObject* sender, FXSelector sel, void* ptr) {
  FXToolBar::onPaint(sender, sel, ptr);
  if (options & TOOLBAR_EDGE_LINES) {
    FXDCWindow dc(this);
    dc.setForeground(getHiliteColor());
    dc.drawLine(0, 0, width - 1, 0);
    dc.drawLine(0, 0, 0, height - 1);
    dc.setForeground(getShadowColor());
    dc.drawLine(width - 1, 1, width - 1, height - 1);
  }
  return 1;
}

long FXKExplorerToolbar::onRightBtnPress(FXObject*, FXSelector sel, void* ptr) {
  return getParent() ? getParent()->handle(this, sel, ptr) : 0;
}

long FXKExplorerToolbar::onCmdGetStringValue(FXObject*, FXSelector, void* ptr) {
  if (ptr) *static_cast<FXWString*>(ptr) = title_;
  return 1;
}

long FXKExplorerToolbar::onUpdToggleShown(FXObject* sender, FXSelector sel, void* ptr) {
  if (options & TOOLBAR_NOT_OFFERED) {
    sender->handle(this, FXSEL(SEL_COMMAND, ID_HIDE), nullptr);
    return 1;
  }
  return FXToolBar::onUpdToggleShown(sender, sel, ptr);
}

// ---- buttons

FXDEFMAP(FXKExplorerButton) FXKExplorerButtonMap[] = {
    FXMAPFUNC(SEL_RIGHTBUTTONPRESS, 0, FXKExplorerButton::onRightBtnPress),
    FXMAPFUNC(SEL_COMMAND, FXWindow::ID_SETSTRINGVALUE, FXKExplorerButton::onCmdSetStringValue),
};
FXIMPLEMENT(FXKExplorerButton, FXButton, FXKExplorerButtonMap, ARRAYNUMBER(FXKExplorerButtonMap))

FXKExplorerButton::FXKExplorerButton(FXComposite* parent, const FXString& text, FXIcon* small, FXIcon* medium,
                                     FXIcon* large, FXObject* target, FXSelector message, FXuint options, FXint x,
                                     FXint y, FXint w, FXint h, FXint pl, FXint pr, FXint pt, FXint pb,
                                     FXuint exOptions)
    : FXButton(parent, text, medium, target, message, options, x, y, w, h, pl, pr, pt, pb),
      fullText_(FXWString::fromUtf8(text.text())) {
  icons_[0] = small;
  icons_[1] = medium;
  icons_[2] = large;
  if (getTipText().empty()) setTipText(getText());
  setText(FXString::null);
  setOptionsEx(exOptions | EX_MAX_WIDTH);
}

FXKExplorerButton::~FXKExplorerButton() = default;

void FXKExplorerButton::setOptionsEx(FXuint ex) {
  exOptions_ = ex;
  hover_ = !(ex & EX_NO_HOVER);
  if (ex & EX_TEXT_BESIDE) {
    setJustify(JUSTIFY_LEFT);
    setIconPosition(ICON_BEFORE_TEXT);
    exOptions_ &= ~EX_MAX_WIDTH;
  }
}

FXint FXKExplorerButton::getDefaultWidth() { return std::min(FXButton::getDefaultWidth(), getMaxWidth()); }

void FXKExplorerButton::refresh(FXuint how) {
  if (target) target->tryHandle(this, FXSEL(SEL_UPDATE, message), getUserData());
  if (lookPending_) how |= FXKExplorerToolbarPanel::REFRESH_LOOK;
  lookPending_ = false;
  if (!(how & FXKExplorerToolbarPanel::REFRESH_LOOK)) return;
  FXKExplorerToolbarPanel* panel = panelOf(this);
  const FXuint mode = panel ? panel->getViewMode() : FXKExplorerToolbarPanel::MODE_MEDIUM;
  const int index = iconIndex(mode & FXKExplorerToolbarPanel::MODE_SIZE);
  FXIcon* icon = index >= 0 ? icons_[index] : nullptr;
  if (icon && !iconsCreated_[index]) {
    if (id()) icon->create();
    iconsCreated_[index] = id() != 0;
  }
  setIcon(icon);
  const FXWString label = fullText_.extractPart(u'\t', 0);
  if ((mode & FXKExplorerToolbarPanel::MODE_TEXT) || (exOptions_ & EX_TEXT_BESIDE)) {
    setText(narrow(label));
    if (!(exOptions_ & EX_KEEP_PADDING)) {
      setPadLeft(2);
      setPadRight(2);
      setPadTop(2);
      setPadBottom(2);
    }
  } else {
    setText(FXString::null);
    const FXint pad = icon ? icon->getHeight() / 4 : 2;
    if (!(exOptions_ & EX_KEEP_PADDING)) {
      setPadLeft(pad);
      setPadRight(pad);
      setPadTop(pad);
      setPadBottom(pad);
    }
  }
  if (!fullText_.empty() && getTipText().empty()) {
    const FXWString tip = fullText_.extractPart(u'\t', 1);
    setTipText(narrow(tip.empty() ? label : tip));
  }
  recalc();
}

long FXKExplorerButton::onRightBtnPress(FXObject*, FXSelector sel, void* ptr) {
  return getParent() ? getParent()->handle(this, sel, ptr) : 0;
}

long FXKExplorerButton::onCmdSetStringValue(FXObject*, FXSelector, void* ptr) {
  if (ptr) fullText_ = *static_cast<FXWString*>(ptr);
  setTipText(FXString::null);
  lookPending_ = true;
  return 1;
}

FXDEFMAP(FXKExplorerComboButton) FXKExplorerComboButtonMap[] = {
    FXMAPFUNC(SEL_RIGHTBUTTONPRESS, 0, FXKExplorerComboButton::onRightBtnPress),
};
FXIMPLEMENT(FXKExplorerComboButton, FXKComboButton, FXKExplorerComboButtonMap,
            ARRAYNUMBER(FXKExplorerComboButtonMap))

FXKExplorerComboButton::~FXKExplorerComboButton() = default;

void FXKExplorerComboButton::refresh(FXuint how) {
  if (target) target->tryHandle(this, FXSEL(SEL_UPDATE, message), getUserData());
  if (!(how & FXKExplorerToolbarPanel::REFRESH_LOOK)) return;
  FXKExplorerToolbarPanel* panel = panelOf(this);
  const FXuint mode = panel ? panel->getViewMode() : FXKExplorerToolbarPanel::MODE_LARGE;
  const FXuint size = mode & FXKExplorerToolbarPanel::MODE_SIZE;
  FXIcon* icon = icons_[size == 1 ? 0 : size == 2 ? 1 : 2];
  if (icon && id()) icon->create();
  setIcon(icon);
  FXint base;
  if (mode & FXKExplorerToolbarPanel::MODE_TEXT) {
    setText(narrow(fullText_.extractPart(u'\t', 0)));
    base = 2;
  } else {
    setText(FXString::null);
    base = icon ? icon->getHeight() / 4 : 2;
  }
  setPadLeft(base + 1);
  setPadRight(base + 15);
  setPadTop(base + 1);
  setPadBottom(base + 1);
  if (!fullText_.empty()) setTipText(narrow(fullText_.extractPart(u'\t', 1)));
  recalc();
}

long FXKExplorerComboButton::onRightBtnPress(FXObject*, FXSelector sel, void* ptr) {
  return getParent() ? getParent()->handle(this, sel, ptr) : 0;
}
