#include "widgets/container.h"

#include <algorithm>
#include <cstdlib>

using namespace FX;

FXIMPLEMENT(FXKTerminal, FXObject, nullptr, 0)
FXIMPLEMENT(FXKContainer, FXKTerminal, nullptr, 0)

namespace {
bool intersects(const FXRectangle& a, const FXRectangle& b) {
  return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h && a.w > 0 && a.h > 0 &&
         b.w > 0 && b.h > 0;
}
FXRectangle intersection(const FXRectangle& a, const FXRectangle& b) {
  const FXint x = std::max(a.x, b.x), y = std::max(a.y, b.y);
  const FXint r = std::min(a.x + a.w, b.x + b.w), bt = std::min(a.y + a.h, b.y + b.h);
  return FXRectangle(x, y, std::max(0, r - x), std::max(0, bt - y));
}
}  // namespace

// ---- terminal

FXKTerminal::FXKTerminal(FXKContainer* p) {
  if (p) p->appendChild(this);
}

FXKTerminal::FXKTerminal(FXKContainerWindow* window, FXKTerminal* after) {
  if (!window) return;
  if (after)
    window->root.insertChildAfter(after, this);
  else
    window->root.appendChild(this);
}

FXKTerminal::~FXKTerminal() {
  if (FXKContainerWindow* w = getWindow()) w->forget(this);
  if (parent) parent->removeChild(this);
}

FXKContainerWindow* FXKTerminal::getWindow() const { return parent ? parent->getWindow() : nullptr; }

void FXKTerminal::mark() {
  flags |= FLAG_MARKED;
  invalidate();
}

void FXKTerminal::unmark() {
  flags &= ~FLAG_MARKED;
  invalidate();
}

void FXKTerminal::position(FXint nx, FXint ny, FXint w, FXint h) {
  const bool resized = w != width || h != height;
  if (resized || nx != x || ny != y) {
    invalidate();
    x = nx, y = ny, width = w, height = h;
    invalidate();
  }
  if (resized || (flags & FLAG_LAYOUT)) {
    layout();
    flags &= ~FLAG_LAYOUT;
  }
}

void FXKTerminal::move(FXint dx, FXint dy) {
  invalidate();
  x += dx, y += dy;
  invalidate();
}

void FXKTerminal::requestLayout() {
  if (flags & FLAG_LAYOUT) return;
  if (parent) parent->requestLayout();
  flags |= FLAG_LAYOUT;
}

FXPoint FXKTerminal::toWindow(FXPoint p) const {
  const FXKTerminal* t = this;
  const FXKContainerWindow* w = nullptr;
  for (; t; t = t->parent) {
    p.x += t->x, p.y += t->y;
    if (!t->parent)
      if (auto* c = dynamic_cast<const FXKContainer*>(t)) w = c->window;
  }
  return w ? w->contentToWindow(p) : p;
}

FXRectangle FXKTerminal::toWindow(const FXRectangle& r) const {
  const FXPoint p = toWindow(FXPoint(r.x, r.y));
  return FXRectangle(p.x, p.y, r.w, r.h);
}

FXPoint FXKTerminal::fromWindow(FXPoint p) const {
  const FXPoint origin = toWindow(FXPoint(0, 0));
  return FXPoint(p.x - origin.x, p.y - origin.y);
}

void FXKTerminal::invalidate(const FXRectangle& r) {
  // An empty area (a row not yet placed) has nothing to repaint.
  if (!parent || r.w <= 0 || r.h <= 0) return;
  FXKContainerWindow* w = getWindow();
  if (!w) return;
  const FXRectangle wr = toWindow(r);
  if (w->id()) w->update(wr.x, wr.y, wr.w, wr.h);
}

void FXKTerminal::reparent(FXKContainer* container) {
  if (!parent) return;
  parent->removeChild(this);
  if (container) container->appendChild(this);
}

FXRectangle FXKTerminal::getOrientedRect(const FXRectangle& r, int direction) const {
  const FXRectangle w = toWindow(r);
  const FXint left = w.x, top = w.y, right = w.x + w.w, bottom = w.y + w.h;
  switch (direction) {
    case 0: return FXRectangle(top, left, w.h, w.w);
    case 1: return FXRectangle(top, -right, w.h, w.w);
    case 3: return FXRectangle(left, -bottom, w.w, w.h);
    default: return w;
  }
}

bool FXKTerminal::scoreNeighbour(FXKNeighbourSearch& record, int direction, int mode) const {
  const FXRectangle o = getOrientedRect(area(), direction);
  const FXint crossStart = o.x, crossEnd = o.x + o.w, mainStart = o.y, mainEnd = o.y + o.h;
  if (mode == 1) {
    if (mainStart < record.mainEnd && record.mainStart < mainEnd) {
      if (crossEnd <= record.crossStart) record.bandStart = std::max(record.bandStart, crossEnd);
      if (crossStart >= record.crossEnd) record.bandEnd = std::min(record.bandEnd, crossStart);
    }
    return false;
  }
  if (mainEnd > record.mainStart || crossEnd <= record.bandStart || crossStart >= record.bandEnd) return false;
  FXint distance = record.mainStart - mainEnd;
  if (mode == 0) {
    if (std::max(crossStart, record.crossStart) >= std::min(crossEnd, record.crossEnd)) return false;
  } else {
    distance += std::abs(record.crossStart - crossEnd);
  }
  if (distance < record.bestDistance || (distance == record.bestDistance && crossStart < record.bestCross)) {
    record.bestDistance = distance;
    record.bestCross = crossStart;
    return true;
  }
  return false;
}

void FXKTerminal::paint(FXKPaintDC& dc, const FXRectangle& rect, FXRegion&) {
  // A placeholder that items override.
  dc.dc->setForeground(FXRGBA(255, 0, 0, 255));
  dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
  dc.dc->setForeground(FXRGBA(0, 255, 0, 255));
  dc.drawRectangle(0, 0, width - 1, height - 1);
}

void FXKTerminal::paintWindowBackground(FXKPaintDC& dc, const FXRectangle& rect) {
  FXKContainerWindow* w = getWindow();
  if (!w || !w->hasBackground()) return;
  const FXPoint origin = toWindow(FXPoint(0, 0));
  FXKPaintDC shifted{dc.dc, dc.ox - origin.x, dc.oy - origin.y};
  w->paintBackground(shifted, FXRectangle(rect.x + origin.x, rect.y + origin.y, rect.w, rect.h));
}

// ---- container

FXKContainer::FXKContainer(FXKContainerWindow* w, FXKTerminal* after) : FXKTerminal(w, after) { window = w; }

FXKContainer::~FXKContainer() { clearChildren(); }

FXKContainerWindow* FXKContainer::getWindow() const { return window; }

FXKTerminal* FXKContainer::hitTest(FXint px, FXint py) {
  for (FXKTerminal* child : children)
    if (px >= child->x && py >= child->y && px < child->x + child->width && py < child->y + child->height) {
      FXKTerminal* deeper = child->hitTest(px - child->x, py - child->y);
      return deeper ? deeper : child;
    }
  return nullptr;
}

void FXKContainer::createResources() {
  flags |= FLAG_CREATED;
  for (FXKTerminal* child : children) child->createResources();
}

void FXKContainer::destroyResources() {
  for (FXKTerminal* child : children) child->destroyResources();
  flags &= ~FLAG_CREATED;
}

void FXKContainer::requestLayout() {
  if (flags & FLAG_LAYOUT) return;
  FXKTerminal::requestLayout();
  if (window) window->recalc();
}

void FXKContainer::paint(FXKPaintDC& dc, const FXRectangle& rect, FXRegion& region) {
  region.offset(-x, -y);
  for (FXKTerminal* child : children) {
    if (region.empty()) break;
    const FXRectangle box(child->x, child->y, child->width, child->height);
    if (!intersects(box, rect)) continue;
    const FXRectangle damaged = intersection(box, rect);
    FXRegion part = region * FXRegion(damaged);
    if (part.empty()) continue;
    dc.setClipRegion(part);
    FXKPaintDC inner{dc.dc, dc.ox + child->x, dc.oy + child->y};
    // The child gets the part in our coordinates, its parent's: a container
    // child shifts it into its own.
    FXRegion childRegion(part);
    child->paint(inner, FXRectangle(damaged.x - child->x, damaged.y - child->y, damaged.w, damaged.h), childRegion);
    region -= part;
  }
  FXRegion rest = region * FXRegion(rect);
  if (!rest.empty()) {
    dc.setClipRegion(rest);
    paintContainerBackground(dc, rect);
    region -= rest;
  }
  region.offset(x, y);
}

void FXKContainer::paintContainerBackground(FXKPaintDC& dc, const FXRectangle& rect) {
  FXKContainerWindow* w = getWindow();
  dc.dc->setForeground(w ? w->getBackColor() : FXRGB(255, 255, 255));
  if (!w || !w->hasBackground()) {
    dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
    return;
  }
  paintWindowBackground(dc, rect);
}

void FXKContainer::moveChildren(FXint dx, FXint dy) {
  for (FXKTerminal* child : children) child->move(dx, dy);
  invalidate();
}

void FXKContainer::appendChild(FXKTerminal* terminal) {
  if (!terminal) return;
  terminal->parent = this;
  children.push_back(terminal);
  requestLayout();
}

void FXKContainer::insertChildAfter(FXKTerminal* reference, FXKTerminal* terminal) {
  auto it = std::find(children.begin(), children.end(), reference);
  if (it == children.end() || !terminal) return;
  terminal->parent = this;
  children.insert(it + 1, terminal);
  requestLayout();
}

void FXKContainer::removeChild(FXKTerminal* terminal) {
  auto it = std::find(children.begin(), children.end(), terminal);
  if (it == children.end()) return;
  terminal->invalidate();
  children.erase(it);
  terminal->parent = nullptr;
  requestLayout();
}

void FXKContainer::unlink(FXKTerminal* terminal) {
  auto it = std::find(children.begin(), children.end(), terminal);
  if (it == children.end()) return;
  children.erase(it);
  terminal->parent = nullptr;
}

void FXKContainer::clearChildren() {
  // Children are cut loose first, so each destructor does not search the list.
  std::vector<FXKTerminal*> gone;
  gone.swap(children);
  FXKContainerWindow* w = getWindow();
  for (std::size_t i = 0; i < gone.size(); ++i) {
    // The nodes lie apart in memory: ask for the next ones early.
    if (i + 4 < gone.size()) __builtin_prefetch(gone[i + 4]);
    FXKTerminal* child = gone[i];
    if (w) w->forget(child);
    child->parent = nullptr;
    delete child;
  }
  if (!gone.empty()) {
    invalidate();
    requestLayout();
  }
}

// ---- window

FXDEFMAP(FXKContainerWindow) FXKContainerWindowMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKContainerWindow::onPaint),
    FXMAPFUNC(SEL_SETTINGS_CHANGED, 0, FXKContainerWindow::onSettingsChanged),
    FXMAPFUNC(SEL_MOTION, 0, FXKContainerWindow::onMotion),
    FXMAPFUNC(SEL_ENTER, 0, FXKContainerWindow::onEnter),
    FXMAPFUNC(SEL_LEAVE, 0, FXKContainerWindow::onLeave),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKContainerWindow::onLeftBtnPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, 0, FXKContainerWindow::onLeftBtnRelease),
};
FXIMPLEMENT(FXKContainerWindow, FXScrollArea, FXKContainerWindowMap, ARRAYNUMBER(FXKContainerWindowMap))

FXKContainerWindow::FXKContainerWindow(FXComposite* p, FXuint options) : FXScrollArea(p, options, 0, 0, 0, 0) {
  root.window = this;
  flags |= FLAG_ENABLED;
  tracked = nullptr;
}

FXKContainerWindow::~FXKContainerWindow() {
  tracked = nullptr;
  root.clearChildren();
  root.window = nullptr;
}

FXKTerminal* FXKContainerWindow::terminalAt(FXint px, FXint py) { return root.hitTest(px - pos_x, py - pos_y); }

void FXKContainerWindow::paintBackground(FXKPaintDC& dc, const FXRectangle& rect) {
  dc.dc->setForeground(getBackColor());
  dc.fillRectangle(rect.x, rect.y, rect.w, rect.h);
}

void FXKContainerWindow::create() {
  FXScrollArea::create();
  root.createResources();
}

void FXKContainerWindow::destroy() {
  root.destroyResources();
  FXScrollArea::destroy();
}

void FXKContainerWindow::layout() {
  FXScrollArea::layout();
  root.position(0, 0, width, height);
  root.layout();
  root.flags &= ~FXKTerminal::FLAG_LAYOUT;
  flags &= ~FLAG_DIRTY;
}

void FXKContainerWindow::paintInto(FXDC& dc, const FXRectangle& damage) {
  FXKPaintDC shifted{&dc, pos_x, pos_y};
  const FXRectangle content(damage.x - pos_x, damage.y - pos_y, damage.w, damage.h);
  FXRegion region(content);
  root.paint(shifted, content, region);
  dc.clearClipRectangle();
}

long FXKContainerWindow::onPaint(FXObject*, FXSelector, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, ev);
  paintInto(dc, ev->rect);
  return 1;
}

long FXKContainerWindow::onSettingsChanged(FXObject* sender, FXSelector sel, void* ptr) {
  for (FXKTerminal* child : root.children) child->requestLayout();
  return FXScrollArea::handle(sender, sel, ptr);
}

void FXKContainerWindow::trackMotion(FXint px, FXint py) {
  FXKTerminal* t = terminalAt(px, py);
  if (t) {
    if (t != tracked) {
      if (tracked) tracked->onLeave(px, py);
      t->onEnter(px, py);
    }
    t->onMotion(px, py);
    tracked = t;
  } else {
    if (tracked) tracked->onLeave(px, py);
    tracked = nullptr;
  }
}

void FXKContainerWindow::trackEnter(FXint px, FXint py) {
  FXKTerminal* t = terminalAt(px, py);
  if (t && t != tracked) {
    if (tracked) tracked->onLeave(px, py);
    t->onEnter(px, py);
    t->onMotion(px, py);
    tracked = t;
  }
}

void FXKContainerWindow::trackLeave() {
  if (tracked) tracked->onLeave(0, 0);
  tracked = nullptr;
}

void FXKContainerWindow::trackPress(FXint px, FXint py) {
  if (tracked) tracked->onPress(px, py);
}

void FXKContainerWindow::trackRelease(FXint px, FXint py) {
  if (tracked) tracked->onRelease(px, py);
}

long FXKContainerWindow::onMotion(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  trackMotion(ev->win_x, ev->win_y);
  return FXScrollArea::handle(sender, sel, ptr);
}

long FXKContainerWindow::onEnter(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  trackEnter(ev->win_x, ev->win_y);
  return FXScrollArea::onEnter(sender, sel, ptr);
}

long FXKContainerWindow::onLeave(FXObject* sender, FXSelector sel, void* ptr) {
  trackLeave();
  return FXScrollArea::onLeave(sender, sel, ptr);
}

long FXKContainerWindow::onLeftBtnPress(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  trackPress(ev->win_x, ev->win_y);
  return FXScrollArea::handle(sender, sel, ptr);
}

long FXKContainerWindow::onLeftBtnRelease(FXObject* sender, FXSelector sel, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  trackRelease(ev->win_x, ev->win_y);
  return FXScrollArea::handle(sender, sel, ptr);
}
