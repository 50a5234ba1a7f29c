#include "textlayout/text_view.h"

#include <fxkeys.h>

#include <algorithm>
#include <string>

#include "platform/fox/fx_paint.h"
#include "platform/fox/fx_print.h"
#include "system/layer.h"
#include "xml/product_configuration.h"

using namespace FX;

// ------------------------------------------------------------------ the layout of a view

FXKTextLayoutView::FXKTextLayoutView(FXKTextView* view, bool justify) : FXKTextLayout(view, justify), view_(view) {}

void FXKTextLayoutView::updateRect(const FXRectangle& rect) {
  if (!view_ || rect.w <= 0 || rect.h <= 0) return;
  FXint x = rect.x, y = rect.y;
  view_->contentToWindow(x, y);
  view_->countRepaint();
  view_->update(x, y, rect.w, rect.h);
}

// ------------------------------------------------------------------ the view

FXDEFMAP(FXKTextView) FXKTextViewMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKTextView::onPaint),
    FXMAPFUNC(SEL_MOTION, 0, FXKTextView::onMotion),
    FXMAPFUNC(SEL_LEAVE, 0, FXKTextView::onLeave),
    FXMAPFUNC(SEL_FOCUSIN, 0, FXKTextView::onFocusIn),
    FXMAPFUNC(SEL_FOCUSOUT, 0, FXKTextView::onFocusOut),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKTextView::onLeftBtnPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, 0, FXKTextView::onLeftBtnRelease),
    FXMAPFUNC(SEL_RIGHTBUTTONPRESS, 0, FXKTextView::onRightBtnPress),
    FXMAPFUNC(SEL_COMMAND, FXKTextView::ID_OPEN_LINK, FXKTextView::onCmdOpenLink),
    FXMAPFUNC(SEL_KEYPRESS, 0, FXKTextView::onKeyPress),
    FXMAPFUNC(SEL_KEYRELEASE, 0, FXKTextView::onKeyRelease),
    FXMAPFUNC(SEL_QUERY_TIP, 0, FXKTextView::onQueryTip),
    FXMAPFUNC(SEL_COMMAND, FXKTextView::ID_COPY, FXKTextView::onCmdCopy),
    FXMAPFUNC(SEL_COMMAND, FXKTextView::ID_COPY_ALL, FXKTextView::onCmdCopyAll),
    FXMAPFUNC(SEL_COMMAND, FXKTextView::ID_SELECT_ALL, FXKTextView::onCmdSelectAll),
    FXMAPFUNC(SEL_CLIPBOARD_LOST, 0, FXKTextView::onClipboardLost),
    FXMAPFUNC(SEL_CLIPBOARD_GAINED, 0, FXKTextView::onClipboardGained),
    FXMAPFUNC(SEL_CLIPBOARD_REQUEST, 0, FXKTextView::onClipboardRequest),
    FXMAPFUNC(SEL_SELECTION_LOST, 0, FXKTextView::onSelectionLost),
    FXMAPFUNC(SEL_SELECTION_GAINED, 0, FXKTextView::onSelectionGained),
    FXMAPFUNC(SEL_SELECTION_REQUEST, 0, FXKTextView::onSelectionRequest),
    FXMAPFUNC(SEL_UNGRABBED, 0, FXKTextView::onUngrabbed),
    FXMAPFUNC(SEL_TIMEOUT, FXWindow::ID_AUTOSCROLL, FXKTextView::onAutoScroll),
};
FXIMPLEMENT(FXKTextView, FXScrollArea, FXKTextViewMap, ARRAYNUMBER(FXKTextViewMap))

namespace {

constexpr FXuint kTextReplacing = 0x1, kMakeVisible = 0x2, kPainted = 0x4, kSuppressed = 0x8;

bool startsWith(const FXWString& s, const char16_t* prefix) {
  const std::u16string_view p(prefix);
  return s.str().size() >= p.size() && std::u16string_view(s.str()).substr(0, p.size()) == p;
}

FXRectangle rect(FXint x, FXint y, FXint w, FXint h) {
  return FXRectangle(static_cast<FXshort>(x), static_cast<FXshort>(y), static_cast<FXshort>(w),
                     static_cast<FXshort>(h));
}

}  // namespace

FXKTextView::FXKTextView(FXComposite* parent, FXObject* tgt, FXSelector sel, FXuint opts, FXint x, FXint y, FXint w,
                         FXint h)
    : FXScrollArea(parent, opts, x, y, w, h) {
  target = tgt;
  message = sel;
  layout_ = Processor::makeRef<FXKTextLayoutView>(this, (opts & TEXTVIEW_JUSTIFY) != 0);
  layout_->setMargins(marginLeft_, marginRight_, marginTop_, marginBottom_);
  const FXColor back = (opts & TEXTVIEW_PARENT_BACKCOLOR) && parent ? parent->getBackColor()
                                                                      : getApp()->getBaseColor();
  layout_->setBackColor(back);
  flags |= FLAG_ENABLED | FLAG_RECALC;
}

FXKTextView::~FXKTextView() {
  dropContextMenu();
  layout_ = nullptr;
}

void FXKTextView::create() {
  FXScrollArea::create();
  if (layout_->hotkey()) addHotKey(layout_->hotkey());
  layout_->create();
}

void FXKTextView::destroy() {
  layout_->clear();
  if (layout_->hotkey()) remHotKey(layout_->hotkey());
  dropContextMenu();
  FXScrollArea::destroy();
}

void FXKTextView::hide() {
  dropContextMenu();
  FXScrollArea::hide();
}

void FXKTextView::dropContextMenu() {
  if (!contextMenu_) return;
  contextMenu_->popdown();
  contextMenu_->destroy();
  delete contextMenu_;
  contextMenu_ = nullptr;
}

FXint FXKTextView::availableWidth(FXint w) const {
  FXint a = w - marginLeft_ - marginRight_ - (vertical->shown() ? vertical->getDefaultWidth() : 0);
  return a < 0 ? 0 : a;
}

void FXKTextView::windowToContent(FXint& x, FXint& y) const {
  x -= marginLeft_ + pos_x;
  y -= marginTop_ + pos_y;
}

void FXKTextView::contentToWindow(FXint& x, FXint& y) const {
  x += marginLeft_ + pos_x;
  y += marginTop_ + pos_y;
}

FXint FXKTextView::getDefaultWidth() {
  if (viewState_ & (kTextReplacing | kSuppressed)) return 0;
  return layout_->getMaximumWidth() + marginLeft_ + marginRight_;
}

FXint FXKTextView::getDefaultHeight() {
  if (viewState_ & (kTextReplacing | kSuppressed)) return 0;
  const FXint w = width > 0 ? width : getDefaultWidth();
  return layout_->getHeightForWidth(std::max(0, w - marginLeft_ - marginRight_)) + marginTop_ + marginBottom_;
}

FXint FXKTextView::getContentWidth() {
  if (viewState_ & (kTextReplacing | kSuppressed)) return 0;
  if (relayoutPending_) relayout();
  return layout_->getContentWidth() + marginLeft_ + marginRight_;
}

FXint FXKTextView::getContentHeight() {
  if (viewState_ & (kTextReplacing | kSuppressed)) return 0;
  if (relayoutPending_) relayout();
  return layout_->getContentHeight() + marginTop_ + marginBottom_;
}

bool FXKTextView::canFocus() const {
  if (horizontal->shown() || vertical->shown() || layout_->hasLinks()) return true;
  return FXScrollArea::canFocus();
}

void FXKTextView::setBackColor(FXColor color) {
  // The text's background, not the window's.
  layout_->setBackColor(color);
  update();
}

void FXKTextView::setTextColor(FXColor color) {
  layout_->setTextColor(color);
  update();
}

void FXKTextView::setMargins(FXint left, FXint right, FXint top, FXint bottom) {
  marginLeft_ = left;
  marginRight_ = right;
  marginTop_ = top;
  marginBottom_ = bottom;
  layout_->setMargins(left, right, top, bottom);
  relayoutPending_ = true;
  recalc();
  update();
}

bool FXKTextView::selecting() const { return (options & TEXTVIEW_SELECTABLE) != 0; }

bool FXKTextView::setText(const FXWString& markup) {
  viewState_ |= kTextReplacing;
  horizontal->hide();
  vertical->hide();
  layout_->clearSelection();
  const bool ok = layout_->setText(markup);
  textChanged();
  return ok;
}

void FXKTextView::textChanged() {
  viewState_ &= ~kTextReplacing;
  if (layout_->hasLinks())
    flags |= 0x100000;
  else
    flags &= ~0x100000u;
  layoutWidth_ = availableWidth(width);
  layout_->layout(layoutWidth_, std::max(0, height - marginTop_ - marginBottom_), false);
  relayout();
  updateViewport();
  relayoutPending_ = true;
  viewState_ |= kMakeVisible;
  if (options & TEXTVIEW_IMMEDIATE) {
    relayout();
    layout();
  } else {
    recalc();
  }
  update();
}

void FXKTextView::resize(FXint w, FXint h) {
  if (availableWidth(w) != layoutWidth_) relayoutPending_ = true, flags |= FLAG_DIRTY;
  FXScrollArea::resize(w, h);
  updateViewport();
}

void FXKTextView::position(FXint x, FXint y, FXint w, FXint h) {
  if (availableWidth(w) != layoutWidth_) relayoutPending_ = true, flags |= FLAG_DIRTY;
  FXScrollArea::position(x, y, w, h);
  updateViewport();
}

void FXKTextView::updateViewport() { layout_->setViewRect(marginLeft_, marginTop_, width, height); }

void FXKTextView::relayout() {
  if (viewState_ & (kTextReplacing | kSuppressed)) return;
  relayoutPending_ = false;
  const FXint h = height - marginTop_ - marginBottom_ - (horizontal->shown() ? horizontal->getDefaultHeight() : 0);
  layout_->layout(layoutWidth_, std::max(0, h), false);
  update();
}

void FXKTextView::recalc() {
  layout_->recalc();
  relayoutPending_ = true;
  FXScrollArea::recalc();
}

void FXKTextView::layout() {
  if (viewState_ & (kTextReplacing | kSuppressed)) return;
  // Scroll bars only where the text needs them.
  if (layout_->getMinimumWidth() + marginLeft_ + marginRight_ <= width) horizontal->hide();
  if (layout_->getHeightForWidth(std::max(0, width - marginLeft_ - marginRight_)) + marginTop_ + marginBottom_ <=
      height)
    vertical->hide();
  for (int pass = 0; pass < 2; ++pass) {
    const bool hShown = horizontal->shown() != 0, vShown = vertical->shown() != 0;
    if (pass > 0 && !hShown && !vShown) break;
    layoutWidth_ = availableWidth(width);
    relayout();
    const FXint px = pos_x, py = pos_y;
    FXScrollArea::layout();
    if (px != pos_x || py != pos_y) relayout();
    if ((horizontal->shown() != 0) == hShown && (vertical->shown() != 0) == vShown) break;
  }
  updateViewport();
  if (FXFont* f = getApp()->getNormalFont()) {
    vertical->setLine(f->getFontHeight());
    horizontal->setLine(std::max(1, f->getTextWidth(" ", 1)));
  }
  FXRectangle r;
  if (((viewState_ & kMakeVisible) || !(viewState_ & kPainted)) && layout_->makeVisibleRect(r))
    makeVisible(r.x, r.y, r.x + r.w, r.y + r.h, true);
  viewState_ &= ~kMakeVisible;
  flags &= ~FLAG_DIRTY;
}

void FXKTextView::makeVisible(FXint x1, FXint y1, FXint x2, FXint y2, bool addMargins) {
  if (addMargins) {
    x1 += marginLeft_, x2 += marginLeft_;
    y1 += marginTop_, y2 += marginTop_;
  }
  auto fit = [](FXint p, FXint a, FXint b, FXint W) {
    if (b + p < 0) p = -b;
    if (b + p > W) p = W - b;
    if (a + p > W) p = W - a;
    if (a + p < 0) p = -a;
    return p;
  };
  const FXint px = fit(pos_x, x1, x2, getViewportWidth()), py = fit(pos_y, y1, y2, getViewportHeight());
  setPosition(px, py);
}

void FXKTextView::scrollToPoint(FXint x, FXint y) { makeVisible(x, y, x, y, false); }

void FXKTextView::moveContents(FXint x, FXint y) {
  FXRegion fixed = layout_->updateRegion();
  fixed.offset(marginLeft_, marginTop_);
  FXRectangle fixedRect;
  const bool hasFixedRect = layout_->watermark() && layout_->wmW_ > 0 && layout_->wmH_ > 0;
  if (hasFixedRect) fixedRect = rect(layout_->wmX_ + marginLeft_, layout_->wmY_ + marginTop_, layout_->wmW_, layout_->wmH_);
  const FXint dx = x - pos_x, dy = y - pos_y;
  pos_x = x;
  pos_y = y;
  const FXRegion visible(0, 0, getViewportWidth(), getViewportHeight());
  if (hasFixedRect) {
    FXRegion moving = visible - FXRegion(fixedRect) - fixed;
    if (!id() || moving.empty()) {
      layout_->setScrollOffset(-x, -y);
    } else {
      for (const FXRectangle& r : fxRegionRectangles(moving)) fxScrollWindowEx(this, dx, dy, r);
      layout_->setScrollOffset(-x, -y);
    }
    fxInvalidateRect(this, &fixedRect);
    fxUpdateWindow(this);
  } else {
    layout_->setScrollOffset(-x, -y);
    if (fixed.empty()) {
      scroll(0, 0, getViewportWidth(), getViewportHeight(), dx, dy);
    } else {
      for (const FXRectangle& r : fxRegionRectangles(visible - fixed)) fxScrollWindowEx(this, dx, dy, r);
      fxInvalidateRgn(this, fixed);
      fxUpdateWindow(this);
    }
  }
  for (FXWindow* child = getFirst(); child; child = child->getNext()) {
    if (child == horizontal || child == vertical || child == corner || !child->id()) continue;
    child->move(child->getX() + dx, child->getY() + dy);
  }
}

long FXKTextView::onPaint(FXObject*, FXSelector, void* ptr) {
  if (viewState_ & kSuppressed) return 1;
  auto* ev = static_cast<FXEvent*>(ptr);
  FXDCWindow window(this, ev);
  paintInto(window, ev->rect);
  return 1;
}

void FXKTextView::paintInto(FXDC& target, const FXRectangle& area) {
  if (viewState_ & kSuppressed) return;
  // Layout coordinates: the text's origin is the margins and the scroll position.
  FXDC& dc = target;
  FXint x = area.x, y = area.y;
  windowToContent(x, y);
  layout_->setOrigin(marginLeft_ + pos_x, marginTop_ + pos_y);
  layout_->setPaintOffset(marginLeft_ + pos_x, marginTop_ + pos_y);
  const std::uint32_t paintFlags = (options & TEXTVIEW_ELLIPSIS) ? std::uint32_t(FXKTextLayout::kPaintEllipsis) : 0u;
  layout_->paint(dc, rect(x, y, area.w, area.h), false, paintFlags);
  viewState_ |= kPainted;
}

void FXKTextView::doPrint(FXDCPrintExt& dc) { layout_->print(dc); }

// ------------------------------------------------------------------ links

bool FXKTextView::openLink(const FXWString& given) {
  FXWString text = given;
  if (startsWith(text, u"string:")) {
    const char16_t* value = Common::getConfigString(text.mid(7, text.length() - 7).toUtf8().c_str());
    text = FXWString(value ? value : u"");
  }
  {
    char16_t buffer[260] = {};
    const DWORD n = Windows::layer->ExpandEnvironmentStringsW(text.text(), buffer, 260);
    if (n > 0 && n <= 260) text = FXWString(buffer);
  }
  HWND owner = nullptr;
  // https as well: the configured addresses are secure ones.
  if (startsWith(text, u"http://") || startsWith(text, u"https://") || startsWith(text, u"mailto:") ||
      startsWith(text, u"file:")) {
    Windows::layer->ShellExecuteW(owner, u"open", text.text(), nullptr, nullptr, 5);
    return true;
  }
  if (startsWith(text, u"execute://")) {
    // The program and its parameters go to the shell execution apart:
    // nothing of the text is ever read by a command interpreter.
    const int at = text.find(u'@');
    FXWString program, parameters;
    if (at >= 0) {
      parameters = text.mid(at + 1, text.length() - at - 1);
      program = at - 1 > 10 ? text.mid(10, at - 1 - 10) : FXWString();
    } else {
      program = text.mid(10, text.length() - 10);
    }
    if (program.empty()) return true;
    Windows::layer->ShellExecuteW(owner, u"open", program.text(), parameters.empty() ? nullptr : parameters.text(),
                                  nullptr, 5);
    return true;
  }
  return false;
}

long FXKTextView::onCmdOpenLink(FXObject*, FXSelector, void* ptr) {
  const auto* text = static_cast<const FXWString*>(ptr);
  if (!text || text->empty()) return 1;
  if (openLink(*text)) return 1;
  const std::string verb = layout_->narrowName(*text);
  if (!verb.empty() && layout_->execute(layout_->getVerbId(verb.c_str()), "") != 0) return 1;
  if (const FXKTextLayout::anchorentry* a = layout_->anchorByName(*text)) {
    auto p1 = layout_->caretPoint(a->start, 0);
    auto p2 = layout_->caretPoint(a->end < 0 ? a->start : a->end, 2);
    FXint x1 = std::min(p1.first, p2.first), y1 = p1.second, x2 = std::max(p1.first, p2.first), y2 = p2.second;
    if (FXKTextLayout::block* b = layout_->anchorBlockAt(p1.first, p1.second + 1))
      x1 = std::min(x1, b->x), y1 = std::min(y1, b->y);
    if (FXKTextLayout::block* b = layout_->anchorBlockAt(p2.first, std::max(0, p2.second - 1)))
      x2 = std::max(x2, b->x + b->w), y2 = std::max(y2, b->y + b->h);
    makeVisible(x1, y1, x2, y2, true);
  }
  return 1;
}

long FXKTextView::activateLink(FXEvent* event, const FXKTextLayout::textstyle* style) {
  if (!style) return 0;
  FXWString link = style->link;
  if (target && target->handle(this, FXSEL(SEL_COMMAND, message), &link)) return 1;
  if (handle(this, FXSEL(SEL_COMMAND, ID_OPEN_LINK), &link)) return 1;
  (void)event;
  return 0;
}

bool FXKTextView::visibleInView(const FXRectangle& content) const {
  FXint x = content.x, y = content.y;
  contentToWindow(x, y);
  return x < viewport_w && x + content.w > 0 && y < viewport_h && y + content.h > 0;
}

// ------------------------------------------------------------------ mouse

long FXKTextView::onLeftBtnPress(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  pressState_ = 1;
  if (target && target->handle(this, FXSEL(SEL_LEFTBUTTONPRESS, message), ptr)) return 1;
  if (selecting() && isEnabled()) {
    grab();
    FXint x = ev->win_x, y = ev->win_y;
    windowToContent(x, y);
    if (ev->state & SHIFTMASK)
      layout_->extendSelection(x, y);
    else if (ev->state & CONTROLMASK)
      layout_->selectBlock(x, y);
    else if (ev->click_count <= 1)
      layout_->setCaret(x, y);
    else if (ev->click_count == 2)
      layout_->selectWord(x, y);
    else
      layout_->selectBlock(x, y);
    updateSelectionOwner();
  }
  FXScrollArea::onLeftBtnPress(sender, sel, ptr);
  return 1;
}

long FXKTextView::onLeftBtnRelease(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  const FXint was = pressState_;
  pressState_ = 0;
  if (target && target->handle(this, FXSEL(SEL_LEFTBUTTONRELEASE, message), ptr)) return 1;
  if (isEnabled()) {
    ungrab();
    if (selecting()) {
      stopAutoScroll();
      updateSelectionOwner();
    }
    // A click, not the end of a drag that selected text.
    if (!layout_->hasSelection() && was == 1) {
      flags &= ~FLAG_TIP;
      handle(this, FXSEL(SEL_FOCUS_SELF, 0), ptr);
      FXint x = ev->win_x, y = ev->win_y;
      windowToContent(x, y);
      if (activateLink(ev, layout_->linkStyleAt(x, y))) return 1;
    }
  }
  return FXScrollArea::onLeftBtnRelease(sender, sel, ptr);
}

long FXKTextView::onMotion(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  if (isEnabled()) {
    FXint x = ev->win_x, y = ev->win_y;
    windowToContent(x, y);
    if (pressState_ == 1 && selecting()) {
      if (!startAutoScroll(ev, FALSE)) {
        layout_->extendSelection(x, y);
        updateSelectionOwner();
      }
    } else if (layout_->hover(x, y)) {
      setDefaultCursor(getApp()->getDefaultCursor(DEF_HAND_CURSOR));
      setDragCursor(getApp()->getDefaultCursor(DEF_HAND_CURSOR));
      return 1;
    }
  }
  setDefaultCursor(getApp()->getDefaultCursor(DEF_ARROW_CURSOR));
  setDragCursor(getApp()->getDefaultCursor(DEF_ARROW_CURSOR));
  return FXScrollArea::onMotion(sender, sel, ptr);
}

long FXKTextView::onAutoScroll(FXObject* sender, FXSelector sel, void* ptr) {
  FXScrollArea::onAutoScroll(sender, sel, ptr);
  if (pressState_ == 1 && selecting()) {
    auto* ev = static_cast<FXEvent*>(ptr);
    FXint x = ev->win_x, y = ev->win_y;
    windowToContent(x, y);
    layout_->extendSelection(x, y);
    updateSelectionOwner();
  }
  return 1;
}

long FXKTextView::onLeave(FXObject* sender, FXSelector sel, void* ptr) {
  layout_->clearHot();
  layout_->hover(-1, -1);
  setDefaultCursor(getApp()->getDefaultCursor(DEF_ARROW_CURSOR));
  setDragCursor(getApp()->getDefaultCursor(DEF_ARROW_CURSOR));
  return FXScrollArea::onLeave(sender, sel, ptr);
}

long FXKTextView::onUngrabbed(FXObject* sender, FXSelector sel, void* ptr) {
  pressState_ = 0;
  if (selecting()) stopAutoScroll();
  return FXScrollArea::onUngrabbed(sender, sel, ptr);
}

long FXKTextView::onRightBtnPress(FXObject* sender, FXSelector sel, void* ptr) {
  FXScrollArea::onRightBtnPress(sender, sel, ptr);
  auto* ev = static_cast<FXEvent*>(ptr);
  if (selecting() && ev->win_x >= 0 && ev->win_y >= 0 && ev->win_x < width && ev->win_y < height)
    popupContextMenu(ev->root_x, ev->root_y);
  return 1;
}

void FXKTextView::popupContextMenu(FXint rootX, FXint rootY) {
  dropContextMenu();
  contextMenu_ = new FXMenuPane(this, 0x40000);
  if (layout_->hasSelection()) new FXMenuCommand(contextMenu_, "Copy", nullptr, this, ID_COPY, 0x4000000);
  new FXMenuCommand(contextMenu_, "Copy All", nullptr, this, ID_COPY_ALL, 0x4000000);
  new FXMenuCommand(contextMenu_, "Select All", nullptr, this, ID_SELECT_ALL, 0x4000000);
  contextMenu_->create();
  contextMenu_->popup(nullptr, rootX, rootY);
}

// ------------------------------------------------------------------ selection and clipboard

void FXKTextView::updateSelectionOwner() {
  static FXDragType types[3];
  types[0] = stringType;
  types[1] = utf8Type;
  types[2] = utf16Type;
  if (layout_->hasSelection()) {
    if (!hasSelection()) acquireSelection(types, 3);
  } else if (hasSelection()) {
    releaseSelection();
  }
}

void FXKTextView::setDnd(FXDNDOrigin origin, FXDragType type, const FXWString& text) {
  if (type == utf16Type) {
    FXuchar* data = nullptr;
    const FXuint size = static_cast<FXuint>(text.length() * 2);
    FXMALLOC(&data, FXuchar, size + 2);
    for (int i = 0; i < text.length(); ++i) {
      data[2 * i] = static_cast<FXuchar>(text[i] & 0xFF);
      data[2 * i + 1] = static_cast<FXuchar>(text[i] >> 8);
    }
    setDNDData(origin, type, data, size);
    return;
  }
  const std::string bytes = type == utf8Type ? text.toUtf8() : text.toLatin1();
  FXuchar* data = nullptr;
  FXMALLOC(&data, FXuchar, bytes.size() + 1);
  std::copy(bytes.begin(), bytes.end(), data);
  setDNDData(origin, type, data, static_cast<FXuint>(bytes.size()));
}

long FXKTextView::onCmdCopy(FXObject*, FXSelector, void*) {
  if (!hasSelection()) return 1;
  FXDragType types[3] = {stringType, utf8Type, utf16Type};
  if (acquireClipboard(types, 3)) clipboardText_ = layout_->selectedText();
  return 1;
}

long FXKTextView::onCmdCopyAll(FXObject*, FXSelector, void*) {
  FXDragType types[3] = {stringType, utf8Type, utf16Type};
  if (acquireClipboard(types, 3)) clipboardText_ = layout_->allText();
  return 1;
}

long FXKTextView::onCmdSelectAll(FXObject*, FXSelector, void*) {
  layout_->selectAll();
  updateSelectionOwner();
  return 1;
}

long FXKTextView::onClipboardRequest(FXObject* sender, FXSelector sel, void* ptr) {
  if (FXScrollArea::onClipboardRequest(sender, sel, ptr)) return 1;
  auto* ev = static_cast<FXEvent*>(ptr);
  if (ev->target == stringType || ev->target == utf8Type || ev->target == utf16Type) {
    setDnd(FROM_CLIPBOARD, ev->target, clipboardText_);
    return 1;
  }
  return 0;
}

long FXKTextView::onClipboardLost(FXObject* sender, FXSelector sel, void* ptr) {
  FXScrollArea::onClipboardLost(sender, sel, ptr);
  clipboardText_.clear();
  return 1;
}

long FXKTextView::onClipboardGained(FXObject* sender, FXSelector sel, void* ptr) {
  FXScrollArea::onClipboardGained(sender, sel, ptr);
  return 1;
}

long FXKTextView::onSelectionLost(FXObject* sender, FXSelector sel, void* ptr) {
  FXScrollArea::onSelectionLost(sender, sel, ptr);
  return 1;
}

long FXKTextView::onSelectionGained(FXObject* sender, FXSelector sel, void* ptr) {
  FXScrollArea::onSelectionGained(sender, sel, ptr);
  return 1;
}

long FXKTextView::onSelectionRequest(FXObject* sender, FXSelector sel, void* ptr) {
  if (FXScrollArea::onSelectionRequest(sender, sel, ptr)) return 1;
  auto* ev = static_cast<FXEvent*>(ptr);
  if (ev->target == stringType || ev->target == utf8Type || ev->target == utf16Type) {
    setDnd(FROM_SELECTION, ev->target, layout_->selectedText());
    return 1;
  }
  return 0;
}

// ------------------------------------------------------------------ keyboard, focus, tooltips

long FXKTextView::onKeyPress(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  flags &= ~FLAG_TIP;
  if (!isEnabled()) return 0;
  if (target && target->handle(this, FXSEL(SEL_KEYPRESS, message), ptr)) return 1;
  const bool ctrl = (ev->state & CONTROLMASK) != 0;
  switch (ev->code) {
    case KEY_c:
    case KEY_C:
    case KEY_Insert:
    case KEY_KP_Insert:
      if (ctrl && selecting()) return handle(this, FXSEL(SEL_COMMAND, ID_COPY), nullptr);
      break;
    case KEY_a:
    case KEY_A:
      if (ctrl && selecting()) return handle(this, FXSEL(SEL_COMMAND, ID_SELECT_ALL), nullptr);
      break;
    case KEY_Tab:
    case KEY_KP_Tab:
    case KEY_ISO_Left_Tab:
      if (layout_->hasLinks()) {
        const bool back = (ev->state & SHIFTMASK) || ev->code == KEY_ISO_Left_Tab;
        layout_->focusNext(back ? 2 : 1);
        FXRectangle r;
        if (layout_->focusRect(r)) {
          makeVisible(r.x, r.y, r.x + r.w, r.y + r.h, true);
          return 1;
        }
        layout_->clearHot();
      }
      break;
    case KEY_Return:
    case KEY_KP_Enter: {
      const FXKTextLayout::textstyle* style = nullptr;
      if (const FXKTextLayout::linkentry* e = layout_->focusedLink())
        style = layout_->styleAtPosition(e->start);
      else if (FXKTextLayout::block* b = layout_->hotBlock())
        style = layout_->linkStyleAt(b->x + 1, b->y + 1);
      if (style) {
        if (long r = activateLink(ev, style)) return r;
      }
      break;
    }
    case KEY_Left:
    case KEY_KP_Left:
    case KEY_Up:
    case KEY_KP_Up:
    case KEY_Right:
    case KEY_KP_Right:
    case KEY_Down:
    case KEY_KP_Down: {
      FXint direction = 2;
      FXScrollBar* bar = horizontal;
      FXint step = 0;
      switch (ev->code) {
        case KEY_Up:
        case KEY_KP_Up: direction = 1, bar = vertical, step = -1; break;
        case KEY_Right:
        case KEY_KP_Right: direction = 4, bar = horizontal, step = 1; break;
        case KEY_Down:
        case KEY_KP_Down: direction = 8, bar = vertical, step = 1; break;
        default: direction = 2, bar = horizontal, step = -1; break;
      }
      if (layout_->hasLinks()) {
        FXKTextLayout::block* from = layout_->hotBlock();
        const FXKTextLayout::linkentry* entry = layout_->focusedLink();
        bool move = entry != nullptr;  // a link without blocks moves along the table
        if (from && (from->flags & FXKTextLayout::kBlockHot)) {
          FXKTextLayout::block* next = layout_->nearestInDirection(from, direction, 2);
          move = next && visibleInView(FXRectangle(static_cast<FXshort>(next->x), static_cast<FXshort>(next->y),
                                                    static_cast<FXshort>(next->w), static_cast<FXshort>(next->h)));
        }
        if (move) {
          layout_->moveFocus(direction, 1);
          if (layout_->focusedLink() != entry || layout_->hotBlock() != from) {
            FXRectangle r;
            if (layout_->focusRect(r)) makeVisible(r.x, r.y, r.x + r.w, r.y + r.h, true);
            return 1;
          }
        }
      }
      if (bar->shown()) {
        const FXint line = bar->getLine();
        if (bar == vertical) {
          const FXint p = pos_y - step * line;
          const FXint least = -(getContentHeight() - getViewportHeight());
          if ((step < 0 && pos_y < 0) || (step > 0 && pos_y > least)) {
            setPosition(pos_x, std::max(least, std::min(0, p)));
            return 1;
          }
        } else {
          const FXint p = pos_x - step * line;
          const FXint least = -(getContentWidth() - getViewportWidth());
          if ((step < 0 && pos_x < 0) || (step > 0 && pos_x > least)) {
            setPosition(std::max(least, std::min(0, p)), pos_y);
            return 1;
          }
        }
      }
      break;
    }
    case KEY_Page_Up:
    case KEY_KP_Page_Up:
    case KEY_Page_Down:
    case KEY_KP_Page_Down:
      if (vertical->shown()) {
        const bool down = ev->code == KEY_Page_Down || ev->code == KEY_KP_Page_Down;
        const FXint page = getViewportHeight();
        const FXint least = std::min(0, -(getContentHeight() - getViewportHeight()));
        setPosition(pos_x, std::max(least, std::min(0, pos_y + (down ? -page : page))));
        return 1;
      }
      break;
    default:
      break;
  }
  if (layout_->hotBlock()) layout_->clearHot();
  return FXScrollArea::onKeyPress(sender, sel, ptr);
}

long FXKTextView::onKeyRelease(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  if (!isEnabled()) return 0;
  if (target && target->handle(this, FXSEL(SEL_KEYRELEASE, message), ptr)) return 1;
  switch (ev->code) {
    case KEY_Tab:
    case KEY_KP_Tab:
    case KEY_ISO_Left_Tab:
      if (layout_->focusedLink() || (layout_->hotBlock() && (layout_->hotBlock()->flags & FXKTextLayout::kBlockHot)))
        return 1;
      break;
    case KEY_Left:
    case KEY_KP_Left:
    case KEY_Right:
    case KEY_KP_Right:
      if (horizontal->shown()) return 1;
      break;
    case KEY_Up:
    case KEY_KP_Up:
    case KEY_Down:
    case KEY_KP_Down:
    case KEY_Page_Up:
    case KEY_KP_Page_Up:
    case KEY_Page_Down:
    case KEY_KP_Page_Down:
      if (vertical->shown()) return 1;
      break;
    default:
      break;
  }
  return FXScrollArea::onKeyRelease(sender, sel, ptr);
}

long FXKTextView::onFocusIn(FXObject* sender, FXSelector sel, void* ptr) {
  if (horizontal->shown()) horizontal->update();
  if (vertical->shown()) vertical->update();
  return FXScrollArea::onFocusIn(sender, sel, ptr);
}

long FXKTextView::onFocusOut(FXObject* sender, FXSelector sel, void* ptr) {
  layout_->clearHot();
  layout_->hover(-1, -1);
  const long r = FXScrollArea::onFocusOut(sender, sel, ptr);
  if (horizontal->shown()) horizontal->update();
  if (vertical->shown()) vertical->update();
  return r;
}

long FXKTextView::onQueryTip(FXObject* sender, FXSelector sel, void* ptr) {
  if (!(flags & FLAG_TIP)) return FXScrollArea::onQueryTip(sender, sel, ptr);
  FXint x, y;
  FXuint buttons;
  getCursorPosition(x, y, buttons);
  windowToContent(x, y);
  if (const FXKTextLayout::tooltip* tip = layout_->tooltipAt(x, y)) {
    FXString text = tip->text.toUtf8().c_str();
    sender->handle(this, FXSEL(SEL_COMMAND, ID_SETSTRINGVALUE), &text);
    return 1;
  }
  return FXScrollArea::onQueryTip(sender, sel, ptr);
}
