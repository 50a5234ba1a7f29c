#include "widgets/shell/explorer_bar.h"

#include <algorithm>
#include <chrono>

#include "platform/fox/fx_app.h"
#include "platform/fox/fx_messages.h"
#include "platform/fox/fx_theme.h"
#include "platform/fox/fx_window_ext.h"
#include "widgets/shell/shell_resources.h"

using namespace FX;

namespace {

FXExtApp* extApp(const FXWindow* window) { return dynamic_cast<FXExtApp*>(window->getApp()); }

FXFont* stockFont(FXWindow* window, FXint id) {
  FXExtApp* app = extApp(window);
  return app ? app->getStockFont(id) : window->getApp()->getNormalFont();
}

bool themeActive(FXWindow* window) {
  FXTheme* theme = fxGetTheme(window->getApp());
  return theme && !theme->isPlain() && theme->kind() == FXTheme::KIND_CLASSIC;
}

// The images every group box shares, loaded with the first box and freed
// with the last.
struct SharedImages {
  int users = 0;
  FXImage* header = nullptr;
  FXImage* expand = nullptr;
  FXImage* collapse = nullptr;
  FXImage* body = nullptr;
};
SharedImages& shared() {
  static SharedImages images;
  return images;
}

FXString cutToWidth(FXFont* font, const FXString& text, FXint width) {
  if (font->getTextWidth(text) <= width) return text;
  const FXString dots = "...";
  FXString cut = text;
  while (!cut.empty() && font->getTextWidth(cut + dots) > width) cut.trunc(cut.dec(cut.length()));
  return cut + dots;
}

// The drawn pictures need a true-colour display; others get the plain look.
bool paints24(FXWindow* window) {
  FXVisual* visual = window->getApp()->getDefaultVisual();
  return visual && visual->id() && visual->getDepth() >= 24;
}

bool intersects(const FXRectangle& a, const FXRectangle& b) {
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

}  // namespace

// ---- explorer bar

FXDEFMAP(FXKExplorerBar) FXKExplorerBarMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKExplorerBar::onPaint),
    FXMAPFUNC(SEL_COLLAPSED, 0, FXKExplorerBar::onChildCollapsing),
    FXMAPFUNC(SEL_EXPANDED, 0, FXKExplorerBar::onChildDone),
    FXMAPFUNC(SEL_COMMAND, FXKExplorerBar::ID_ANIMATING, FXKExplorerBar::onQueryAnimating),
};
FXIMPLEMENT(FXKExplorerBar, FXScrollArea, FXKExplorerBarMap, ARRAYNUMBER(FXKExplorerBarMap))

FXKExplorerBar::FXKExplorerBar(FXComposite* parent, FXuint options) : FXScrollArea(parent, options, 0, 0, 0, 0) {
  backColor = kBackColor;
  flags |= FLAG_SHOWN;
}

bool FXKExplorerBar::arranged(FXWindow* child) const {
  return child != horizontal && child != vertical && child != corner && child->shown();
}

void FXKExplorerBar::placeChildren() {
  FXint available = width - marginLeft - marginRight;
  if (vertical->shown()) available -= vertical->getDefaultWidth();
  const FXint x = pos_x + marginLeft;
  FXint y = pos_y + marginTop;
  for (FXWindow* child = getFirst(); child; child = child->getNext()) {
    if (!arranged(child)) continue;
    const FXint w = (child->getLayoutHints() & LAYOUT_FILL_X) ? available : child->getDefaultWidth();
    const FXint h = child->getHeightForWidth(w);
    child->position(x, y, w, h);
    y += h + spacing;
  }
}

void FXKExplorerBar::layout() {
  for (int pass = 0; pass < 2; ++pass) {
    const bool vShown = vertical->shown(), hShown = horizontal->shown();
    placeChildren();
    if (animating_) break;
    FXScrollArea::layout();
    if (vertical->shown() == vShown && horizontal->shown() == hShown) break;
  }
  vertical->setLine(stockFont(this, 0)->getFontHeight());
  flags &= ~FLAG_DIRTY;
}

FXint FXKExplorerBar::getDefaultWidth() {
  FXint widest = 0;
  for (FXWindow* child = getFirst(); child; child = child->getNext())
    if (arranged(child)) widest = std::max(widest, child->getDefaultWidth());
  if (widest == 0) return 0;
  return widest + vertical->getDefaultWidth() + marginRight + marginLeft;
}

FXint FXKExplorerBar::getHeightForWidth(FXint width) {
  FXint sum = 0;
  for (FXWindow* child = getFirst(); child; child = child->getNext())
    if (arranged(child)) sum += child->getHeightForWidth(width - marginRight - marginLeft) + spacing;
  if (sum == 0) return 0;
  return marginTop + marginBottom + sum - spacing;
}

FXint FXKExplorerBar::getDefaultHeight() { return getHeightForWidth(getDefaultWidth()); }

FXint FXKExplorerBar::getContentWidth() {
  FXint widest = 0;
  for (FXWindow* child = getFirst(); child; child = child->getNext())
    if (arranged(child)) widest = std::max(widest, child->getWidth());
  return widest;
}

FXint FXKExplorerBar::getContentHeight() {
  FXint sum = 0;
  for (FXWindow* child = getFirst(); child; child = child->getNext())
    if (arranged(child)) sum += child->getHeight() + spacing;
  return marginTop + marginBottom + sum - spacing;
}

void FXKExplorerBar::moveContents(FXint x, FXint y) {
  FXint top = y + marginTop;
  for (FXWindow* child = getFirst(); child; child = child->getNext()) {
    if (!arranged(child)) continue;
    child->move(x + marginLeft, top);
    top += child->getHeight() + spacing;
  }
  FXScrollArea::moveContents(x, y);
}

long FXKExplorerBar::onPaint(FXObject* sender, FXSelector sel, void* ptr) {
  FXExtApp* app = extApp(this);
  backColor = (themeActive(this) && app) ? app->getStockColor(6) : kBackColor;
  return FXScrollArea::onPaint(sender, sel, ptr);
}

long FXKExplorerBar::onChildCollapsing(FXObject*, FXSelector, void*) {
  animating_ = true;
  return 0;
}

long FXKExplorerBar::onChildDone(FXObject*, FXSelector, void*) {
  animating_ = false;
  recalc();
  update();
  forceRefresh();
  return 0;
}

long FXKExplorerBar::onQueryAnimating(FXObject*, FXSelector, void*) { return animating_ ? 1 : 0; }

// ---- group box

FXDEFMAP(FXKGroupBox) FXKGroupBoxMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKGroupBox::onPaint),
    FXMAPFUNC(SEL_MOTION, 0, FXKGroupBox::onMotion),
    FXMAPFUNC(SEL_LEAVE, 0, FXKGroupBox::onLeave),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKGroupBox::onLeftBtnPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, 0, FXKGroupBox::onLeftBtnRelease),
    FXMAPFUNC(SEL_SETTINGS_CHANGED, 0, FXKGroupBox::onSettingsChanged),
    FXMAPFUNC(SEL_UPDATE, 0, FXKGroupBox::onUpdate),
};
FXIMPLEMENT(FXKGroupBox, FXPacker, FXKGroupBoxMap, ARRAYNUMBER(FXKGroupBoxMap))

FXKGroupBox::FXKGroupBox() = default;

FXKGroupBox::FXKGroupBox(FXComposite* parent, const FXWString& title, FXuint options, FXint pl, FXint pr, FXint pt,
                         FXint pb, FXint hs, FXint vs)
    : FXPacker(parent, options, 0, 0, 0, 0, pl, pr, pt, pb, hs, vs), title_(title) {
  titleFont_ = stockFont(this, 1);
  flags |= FLAG_ENABLED;
  setDefaultCursor(getApp()->getDefaultCursor(DEF_ARROW_CURSOR));
  setDragCursor(getApp()->getDefaultCursor(DEF_ARROW_CURSOR));
}

FXKGroupBox::~FXKGroupBox() { dropCaches(); }

void FXKGroupBox::dropCaches() {
  delete headerCache_;
  headerCache_ = nullptr;
  delete bodyCache_;
  bodyCache_ = nullptr;
}

void FXKGroupBox::create() {
  // The state the box had when it last went, applied before it exists so
  // that a box kept collapsed starts so without animating.
  if (!id()) readSettings();
  SharedImages& images = shared();
  if (images.users++ == 0) {
    if (FXExtApp* app = extApp(this)) {
      images.header = app->loadImage(groupHeaderPng(), 24);
      images.expand = app->loadImage(groupExpandPng(), 8);
      images.collapse = app->loadImage(groupCollapsePng(), 8);
      images.body = app->loadImage(groupBodyPng(), 24);
    }
    for (FXImage* image : {images.header, images.expand, images.collapse, images.body})
      if (image) image->create();
  }
  FXPacker::create();
  if (titleFont_) titleFont_->create();
}

void FXKGroupBox::destroy() {
  const bool existed = id() != 0;
  if (existed) writeSettings();
  FXPacker::destroy();
  SharedImages& images = shared();
  if (existed && images.users > 0 && --images.users == 0) {
    FXExtApp* app = extApp(this);
    for (FXImage** image : {&images.header, &images.expand, &images.collapse, &images.body}) {
      if (*image && app)
        app->freeImage(*image);
      else
        delete *image;
      *image = nullptr;
    }
  }
  dropCaches();
}

void FXKGroupBox::setTitle(const FXWString& title) {
  if (title == title_) return;
  title_ = title;
  recalc();
  invalidateHeader();
}

FXint FXKGroupBox::getDefaultWidth() {
  FXint text = titleFont_ ? titleFont_->getTextWidth(FXString(title_.toUtf8().c_str())) : 0;
  return std::max<FXint>(kMinimumWidth, text + padleft + padright + 19 + 4);
}

FXint FXKGroupBox::getHeightForWidth(FXint width) {
  if (animating_) return height;
  if (state_ & STATE_COLLAPSED) return kHeaderHeight;
  return FXPacker::getHeightForWidth(width);
}

FXint FXKGroupBox::getDefaultHeight() {
  if (animating_) return height;
  if (state_ & STATE_COLLAPSED) return kHeaderHeight;
  return FXPacker::getDefaultHeight();
}

bool FXKGroupBox::isComposite() const { return !(state_ & STATE_COLLAPSED); }

void FXKGroupBox::layout() {
  if (!animating_) {
    if (headerCache_ && headerCache_->getWidth() != width) {
      delete headerCache_;
      headerCache_ = nullptr;
    }
    if (bodyCache_ && (bodyCache_->getWidth() != width || bodyCache_->getHeight() != height)) {
      delete bodyCache_;
      bodyCache_ = nullptr;
    }
    FXPacker::layout();
  }
  flags &= ~FLAG_DIRTY;
}

void FXKGroupBox::invalidateHeader() {
  delete headerCache_;
  headerCache_ = nullptr;
  if (id()) update(0, 0, width, kHeaderHeight);
}

// ---- input

long FXKGroupBox::onMotion(FXObject*, FXSelector, void* ptr) {
  const auto* event = static_cast<const FXEvent*>(ptr);
  const FXint y = event ? event->win_y : -1;
  FXuint next;
  if (0 < y && y < kHeaderHeight)
    next = (event->state & LEFTBUTTONMASK) ? (state_ | STATE_HOT | STATE_PRESSED) : (state_ | STATE_HOT);
  else
    next = state_ & ~STATE_HOT;
  setState(next);
  return 0;
}

long FXKGroupBox::onLeave(FXObject*, FXSelector, void*) {
  setState(state_ & ~(STATE_HOT | STATE_PRESSED));
  return 0;
}

long FXKGroupBox::onLeftBtnPress(FXObject*, FXSelector, void* ptr) {
  const auto* event = static_cast<const FXEvent*>(ptr);
  const FXint y = event ? event->win_y : -1;
  if (0 < y && y < kHeaderHeight && !animating_) setState(state_ | STATE_HOT | STATE_PRESSED);
  return 0;
}

long FXKGroupBox::onLeftBtnRelease(FXObject*, FXSelector, void* ptr) {
  const auto* event = static_cast<const FXEvent*>(ptr);
  const FXint y = event ? event->win_y : -1;
  if (0 < y && y < kHeaderHeight) {
    if (!(state_ & STATE_PRESSED)) return 0;
    FXuint next = state_ & ~(STATE_PRESSED | STATE_COLLAPSED);
    if (!(state_ & STATE_COLLAPSED)) next |= STATE_COLLAPSED;
    setState(next);
  } else {
    setState(state_ & ~STATE_PRESSED);
  }
  return 0;
}

long FXKGroupBox::onSettingsChanged(FXObject* sender, FXSelector sel, void* ptr) {
  dropCaches();
  update();
  return 0;
}

long FXKGroupBox::onUpdate(FXObject* sender, FXSelector sel, void* ptr) {
  if (options & GROUPBOX_AUTOHIDE) {
    bool any = false;
    for (FXWindow* child = getFirst(); child && !any; child = child->getNext()) any = child->shown();
    if (any && !shown()) {
      show();
      if (getParent()) getParent()->recalc();
    } else if (!any && shown()) {
      hide();
      if (getParent()) getParent()->recalc();
    }
  }
  return FXPacker::onUpdate(sender, sel, ptr);
}

// ---- state and animation

void FXKGroupBox::setState(FXuint next) {
  if (next == state_) return;
  FXCursor* cursor = getApp()->getDefaultCursor((next & STATE_HOT) ? DEF_HAND_CURSOR : DEF_ARROW_CURSOR);
  setDefaultCursor(cursor);
  setDragCursor(cursor);
  if ((next & STATE_COLLAPSED) == (state_ & STATE_COLLAPSED)) {
    state_ = next;
    if (id()) invalidateHeader();
    return;
  }
  state_ = next;
  const bool collapsed = (state_ & STATE_COLLAPSED) != 0;
  if (id() && collapsed) animate();
  for (FXWindow* child = getFirst(); child; child = child->getNext())
    child->handle(this, FXSEL(SEL_COMMAND, ID_EXPANDED_CHANGED), reinterpret_cast<void*>(collapsed ? 0 : 1));
  if (id() && !collapsed) animate();
  recalc();
}

void FXKGroupBox::animate() {
  const bool expanding = !(state_ & STATE_COLLAPSED);
  if (expanding) {
    resize(width, FXPacker::getHeightForWidth(width));
    recalc();
    forceRefresh();
  }
  const FXint full = height;
  const FXint body = full - kHeaderHeight;
  if (body <= 0) return;
  const double alphaFactor = 255.0 / body;
  invalidateHeader();
  repaint();
  FXWindow* parent = getParent();
  animating_ = true;
  if (parent) parent->handle(this, FXSEL(SEL_COLLAPSED, 0), nullptr);
  // What the box looks like whole, so the body can slide in or out of it.
  FXImage snapshot(getApp(), nullptr, IMAGE_KEEP | IMAGE_SHMI | IMAGE_SHMP, width, full);
  snapshot.create();
  {
    // What is on screen, children included.
    FXDCWindow dc(&snapshot);
    dc.setForeground(backColor);
    dc.fillRectangle(0, 0, width, full);
    if (shown()) dc.drawArea(this, 0, 0, width, full, 0, 0);
  }
  const auto start = std::chrono::steady_clock::now();
  FXuint shown = 0, previous = ~0u;
  while (shown < FXuint(body)) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const FXuint d = FXuint((std::uint64_t(elapsed.count()) * FXuint(body)) / kAnimationMs);
    if (d == previous) {
      fxsleep(((kAnimationMs / FXuint(body)) / 2) * 1000);
      continue;
    }
    previous = d;
    if (d > FXuint(body)) break;
    const FXint visible = expanding ? FXint(d) : body - FXint(d);
    // FOX 1.6 draws no blended areas: the band is copied as it is.
    (void)alphaFactor;
    resize(width, visible + kHeaderHeight);
    if (parent) {
      parent->recalc();
      parent->forceRefresh();
      parent->repaint();
    }
    FXDCWindow dc(this);
    if (visible > 0) dc.drawArea(&snapshot, 0, full - visible, width, visible, 0, kHeaderHeight);
    shown = d;
  }
  if (expanding) resize(width, body + kHeaderHeight);
  animating_ = false;
  if (parent) parent->handle(this, FXSEL(SEL_EXPANDED, 0), nullptr);
  recalc();
  update();
}

// ---- settings

FXWindowSettings FXKGroupBox::settings() const {
  FXSettings* store = nullptr;
  if (FXExtApp* app = extApp(this))
    store = &app->reg();
  else
    store = &getApp()->reg();
  return section_.empty() ? FXWindowSettings(store, this) : FXWindowSettings(store, section_);
}

void FXKGroupBox::writeSettings() {
  FXWindowSettings s = settings();
  if (s.usable()) s.writeIntEntry("GroupState", FXint(state_));
}

bool FXKGroupBox::readSettings() {
  FXWindowSettings s = settings();
  if (!s.usable()) return false;
  setState(FXuint(s.readIntEntry("GroupState", FXint(state_))));
  return true;
}

// ---- painting

void FXKGroupBox::drawTitle(FXDC& dc, bool background) {
  if (!titleFont_) return;
  dc.setFont(titleFont_);
  const FXString text = cutToWidth(titleFont_, FXString(title_.toUtf8().c_str()), width - padright - 32);
  const FXint x = padleft + 4;
  const FXint y = titleFont_->getFontAscent() + (kHeaderHeight - titleFont_->getFontHeight()) / 2;
  FXColor color = (state_ & STATE_HOT) ? FXColor(0xFFFF8E42) : FXColor(0xFFC65D21);
  if (!background && themeActive(this))
    if (FXExtApp* app = extApp(this)) color = app->getStockColor(7);
  dc.setForeground(color);
  if (background) {
    dc.setBackground(titleBackColor_);
    dc.drawImageText(x, y, text);
  } else {
    dc.drawText(x, y, text);
  }
}

void FXKGroupBox::paintPlain(FXDC& dc, const FXRectangle& dirty) {
  const FXRectangle header(0, 0, width, kHeaderHeight);
  if (intersects(dirty, header)) {
    dc.setForeground(titleBackColor_);
    dc.fillRectangle(0, 0, width, kHeaderHeight);
    dc.setForeground(borderColor);
    dc.drawRectangle(0, 0, width - 1, kHeaderHeight - 1);
    const FXint sx = width - padright - 16, sy = (kHeaderHeight - 16) / 2;
    dc.setForeground(FXRGB(0, 0, 0));
    const bool collapsed = (state_ & STATE_COLLAPSED) != 0;
    for (FXint off : {3, 7}) {
      const FXint tip = collapsed ? sy + off + 3 : sy + off;
      const FXint wing = collapsed ? sy + off : sy + off + 3;
      dc.drawLine(sx + 4, wing, sx + 8, tip);
      dc.drawLine(sx + 8, tip, sx + 12, wing);
    }
    if (state_ & STATE_HOT) {
      const bool sunken = (state_ & STATE_PRESSED) != 0;
      dc.setForeground(sunken ? shadowColor : hiliteColor);
      dc.drawLine(sx, sy, sx + 15, sy);
      dc.drawLine(sx, sy, sx, sy + 15);
      dc.setForeground(sunken ? hiliteColor : shadowColor);
      dc.drawLine(sx + 15, sy, sx + 15, sy + 15);
      dc.drawLine(sx, sy + 15, sx + 15, sy + 15);
    }
    drawTitle(dc, true);
  }
  const FXRectangle bodyRect(0, 20, width, height - 20);
  if (height > 20 && intersects(dirty, bodyRect)) {
    dc.setForeground(backColor);
    dc.fillRectangle(0, 20, width, height - 20);
    dc.setForeground(borderColor);
    dc.drawRectangle(0, 20, width - 1, height - 21);
  }
}

void FXKGroupBox::paint24(FXDC& dc, const FXRectangle& dirty) {
  SharedImages& images = shared();
  FXTheme* theme = fxGetTheme(getApp());
  FXExtApp* app = extApp(this);
  const bool themed = themeActive(this) && app;
  const FXRectangle header(0, 0, width, kHeaderHeight);
  if (intersects(dirty, header)) {
    if (themed) {
      dc.setForeground(app->getStockColor(6));
      dc.fillRectangle(0, 0, width, kHeaderHeight);
      dc.setForeground(app->getStockColor(2));
      dc.drawRectangle(0, 0, width - 1, kHeaderHeight - 1);
    } else {
      if (!headerCache_ && images.header) {
        headerCache_ = new FXImage(getApp(), nullptr, IMAGE_KEEP, width, kHeaderHeight);
        headerCache_->create();
        FXDCWindow cdc(headerCache_);
        const FXColor parentBack = getParent() ? getParent()->getBackColor() : backColor;
        cdc.setForeground(parentBack);
        cdc.setBackground(parentBack);
        cdc.fillRectangle(0, 0, width, kHeaderHeight);
        theme->DrawBorder(cdc, images.header, 0, 0, images.header->getWidth(), images.header->getHeight(), 0, 0,
                          width, kHeaderHeight, FXTheme::BORDER_LEFT | FXTheme::BORDER_TOP | FXTheme::BORDER_RIGHT |
                                                    FXTheme::BORDER_BOTTOM | FXTheme::BORDER_CENTER |
                                                    FXTheme::BORDER_BLEND);
        FXImage* button = (state_ & STATE_COLLAPSED) ? images.expand : images.collapse;
        if (button) {
          FXint frame = 0;
          if (state_ & STATE_HOT) frame = (state_ & STATE_PRESSED) ? 2 : 1;
          theme->DrawBorder(cdc, button, 0, frame * 19, 19, 19, width - padright - 19, 1, 19, 19,
                            FXTheme::BORDER_LEFT | FXTheme::BORDER_TOP | FXTheme::BORDER_RIGHT |
                                FXTheme::BORDER_BOTTOM | FXTheme::BORDER_CENTER | FXTheme::BORDER_BLEND);
        }
      }
      if (headerCache_) dc.drawImage(headerCache_, 0, 0);
    }
    drawTitle(dc, false);
  }
  const FXRectangle bodyRect(0, kHeaderHeight, width, height - kHeaderHeight);
  if (height > kHeaderHeight && intersects(dirty, bodyRect)) {
    if (themed) {
      dc.setForeground(app->getStockColor(6));
      dc.fillRectangle(0, kHeaderHeight, width, height - kHeaderHeight);
    } else if (images.body) {
      if (!bodyCache_) {
        bodyCache_ = new FXImage(getApp(), nullptr, IMAGE_KEEP, width, height);
        bodyCache_->create();
        FXDCWindow cdc(bodyCache_);
        theme->DrawBorder(cdc, images.body, 0, 0, images.body->getWidth(), images.body->getHeight(), 0, 0, width,
                          height - kHeaderHeight, 0x1F);
      }
      dc.drawArea(bodyCache_, 0, 0, width, height - kHeaderHeight, 0, kHeaderHeight);
    } else {
      dc.setForeground(backColor);
      dc.fillRectangle(0, kHeaderHeight, width, height - kHeaderHeight);
    }
  }
}

long FXKGroupBox::onPaint(FXObject*, FXSelector, void* ptr) {
  // While the box slides, the animation draws it.
  if (animating_) return 1;
  auto* event = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, event);
  FXRectangle dirty = event ? event->rect : FXRectangle(0, 0, width, height);
  if (getParent() && getParent()->handle(this, FXSEL(SEL_COMMAND, FXKExplorerBar::ID_ANIMATING), nullptr))
    dirty = FXRectangle(0, 0, width, height);
  if (paints24(this))
    paint24(dc, dirty);
  else
    paintPlain(dc, dirty);
  return 1;
}

// ---- explorer bar command

FXDEFMAP(FXKExplorerBarCommand) FXKExplorerBarCommandMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKExplorerBarCommand::onPaint),
    FXMAPFUNC(SEL_UPDATE, 0, FXKExplorerBarCommand::onUpdate),
};
FXIMPLEMENT(FXKExplorerBarCommand, FXMenuCommand, FXKExplorerBarCommandMap, ARRAYNUMBER(FXKExplorerBarCommandMap))

namespace {
// Where FOX's menu command puts its label and accelerator text.
constexpr FXint kLeadSpace = 22;
constexpr FXint kTrailSpace = 16;
}  // namespace

void FXKExplorerBarCommand::refresh() {
  if (flags & FLAG_NO_REFRESH) return;
  if (target) target->handle(this, FXSEL(SEL_UPDATE, message), nullptr);
}

long FXKExplorerBarCommand::onUpdate(FXObject* sender, FXSelector sel, void* ptr) {
  // Left alone: neither the target is asked nor does the command grey itself.
  if (flags & FLAG_NO_REFRESH) return 0;
  return FXMenuCommand::onUpdate(sender, sel, ptr);
}

FXColor FXKExplorerBarCommand::currentBackColor() const {
  return (isActive() && !(options & OPTION_NO_ACTIVE_BACK)) ? selbackColor : backColor;
}

long FXKExplorerBarCommand::onPaint(FXObject*, FXSelector, void* ptr) {
  auto* event = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, event);
  const bool themed = themeActive(this) && extApp(this);
  textColor = themed ? extApp(this)->getStockColor(7) : FXColor(0xFFC65D21);
  seltextColor = themed ? extApp(this)->getStockColor(7) : FXColor(0xFFFF8E42);
  const FXColor back = currentBackColor();
  // With a parent that paints behind it, only the label, accelerator and
  // icon are drawn.
  const bool transparent = fxIsTransparent(this);
  FXRegion drawn;
  if (!label.empty() && font) {
    dc.setFont(font);
    const FXint th = font->getFontHeight();
    const FXint ty = (height - th) / 2;
    const FXint yy = font->getFontAscent() + ty;
    FXColor ink = textColor;
    if (!isEnabled())
      ink = shadowColor;
    else if (isActive())
      ink = seltextColor;
    dc.setForeground(ink);
    dc.setBackground(back);
    const FXint lw = font->getTextWidth(label);
    if (transparent)
      dc.drawText(kLeadSpace, yy, label);
    else
      dc.drawImageText(kLeadSpace, yy, label);
    drawn = drawn + FXRegion(kLeadSpace, ty, lw, th);
    if (0 <= hotoff) {
      const FXint ux = kLeadSpace + font->getTextWidth(&label[0], hotoff);
      const FXint uw = font->getTextWidth(&label[hotoff], wclen(&label[hotoff]));
      dc.fillRectangle(ux, yy + 1, uw, 1);
      drawn = drawn + FXRegion(ux, yy + 1, uw, 1);
    }
    if (!accel.empty()) {
      const FXint aw = font->getTextWidth(accel);
      const FXint ax = width - kTrailSpace - aw;
      if (transparent)
        dc.drawText(ax, yy, accel);
      else
        dc.drawImageText(ax, yy, accel);
      drawn = drawn + FXRegion(ax, ty, aw, th);
    }
  }
  if (icon) {
    const FXint iy = (height - icon->getHeight()) / 2;
    if (isEnabled())
      dc.drawIcon(icon, 3, iy);
    else
      dc.drawIconSunken(icon, 3, iy);
    drawn = drawn + FXRegion(3, iy, icon->getWidth(), icon->getHeight());
  }
  if (!transparent) {
    const FXRegion rest = FXRegion(0, 0, width, height) - drawn;
    dc.setClipRegion(rest);
    dc.setForeground(back);
    dc.fillRectangle(0, 0, width, height);
    dc.clearClipRectangle();
  }
  return 1;
}
