#include "widgets/shell/explorer_packer.h"

#include <algorithm>

#include "platform/fox/fx_app.h"
#include "platform/fox/fx_messages.h"
#include "platform/fox/fx_resources.h"
#include "platform/fox/fx_theme.h"

using namespace FX;

FXDEFMAP(FXKExplorerPacker) FXKExplorerPackerMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKExplorerPacker::onPaint),
    FXMAPFUNC(SEL_COMMAND, FXKExplorerPacker::ID_TOOLBAR_TAB, FXKExplorerPacker::onCmdToolbarTab),
    FXMAPFUNC(SEL_SETTINGS_CHANGED, 0, FXKExplorerPacker::onSettingsChanged),
};
FXIMPLEMENT(FXKExplorerPacker, FXPacker, FXKExplorerPackerMap, ARRAYNUMBER(FXKExplorerPackerMap))

FXComposite* fxkNewExplorerPacker(FXComposite* parent, FXuint options) {
  return new FXKExplorerPacker(parent, options);
}

bool fxkIsExplorerPacker(const FXWindow* window) { return dynamic_cast<const FXKExplorerPacker*>(window) != nullptr; }

FXKExplorerPacker::FXKExplorerPacker(FXComposite* p, FXuint opts, FXint x, FXint y, FXint w, FXint h, FXint pl,
                                     FXint pr, FXint pt, FXint pb, FXint hs, FXint vs)
    : FXPacker(p, opts, x, y, w, h, pl, pr, pt, pb, hs, vs) {}

FXKExplorerPacker::~FXKExplorerPacker() { delete backgroundCache_; }

// A toolbar tab carries the layout hint 2 (it sits at the left of its row).
bool FXKExplorerPacker::isRowStart(FXWindow* child) const {
  return std::find(rowStarts_.begin(), rowStarts_.end(), child) != rowStarts_.end();
}

void FXKExplorerPacker::computeRowStarts() {
  // Rows follow the children as they are now: a child shown or hidden since
  // the last tab toggle must not leave a row without its start.
  rowStarts_.clear();
  FXWindow* lastTab = getFirst();
  bool runStart = true;
  for (FXWindow* child = getFirst(); child; child = child->getNext()) {
    if (child->getLayoutHints() & 2) {
      lastTab = child;
      if (runStart && !isRowStart(child)) rowStarts_.push_back(child);
      runStart = false;
    } else if (child->shown()) {
      if (!isRowStart(lastTab)) rowStarts_.push_back(lastTab);
      runStart = true;
    }
  }
}

const std::vector<FXWindow*>& FXKExplorerPacker::rowStarts() {
  computeRowStarts();
  return rowStarts_;
}

void FXKExplorerPacker::layout() {
  computeRowStarts();
  if (backgroundCache_ && (backgroundCache_->getWidth() != width || backgroundCache_->getHeight() != height)) {
    delete backgroundCache_;
    backgroundCache_ = nullptr;
  }
  const FXint w = width - 2 * border - padleft - padright;
  FXint x = padleft + border, y = border + padtop, remaining = w, rowHeight = 0;
  for (FXWindow* child = getFirst(); child; child = child->getNext()) {
    if (!child->shown()) continue;
    if (isRowStart(child)) {
      x = padleft + border;
      remaining = w;
      y += rowHeight;
      rowHeight = 0;
    }
    const FXint cw = (child->getLayoutHints() & LAYOUT_FILL_X) ? remaining : child->getDefaultWidth();
    const FXint ch = child->getHeightForWidth(cw);
    child->position(x, y, cw, ch);
    // The next row starts below the tallest child of this one.
    rowHeight = std::max(rowHeight, ch);
    x += cw;
    remaining -= cw;
  }
  flags &= ~FLAG_DIRTY;
}

FXint FXKExplorerPacker::getDefaultWidth() {
  computeRowStarts();
  FXint widest = 0, row = 0;
  for (FXWindow* child = getFirst(); child; child = child->getNext()) {
    if (!child->shown()) continue;
    if (isRowStart(child)) row = 0;
    row += child->getDefaultWidth();
    widest = std::max(widest, row);
  }
  return widest + padleft + padright + 2 * border;
}

FXint FXKExplorerPacker::getHeightForWidth(FXint width) {
  computeRowStarts();
  const FXint w = width - 2 * border - padleft - padright;
  FXint total = 0, rowHeight = 0, remaining = w;
  for (FXWindow* child = getFirst(); child; child = child->getNext()) {
    if (!child->shown()) continue;
    if (isRowStart(child)) {
      total += rowHeight;
      rowHeight = 0;
      remaining = w;
    }
    const FXint cw = (child->getLayoutHints() & LAYOUT_FILL_X) ? remaining : child->getDefaultWidth();
    rowHeight = std::max(rowHeight, child->getHeightForWidth(cw));
    remaining -= cw;
  }
  return total + rowHeight + padtop + padbottom + 2 * border;
}

FXint FXKExplorerPacker::getDefaultHeight() { return getHeightForWidth(getDefaultWidth()); }

bool FXKExplorerPacker::paints24() const {
  FXVisual* visual = getApp()->getDefaultVisual();
  return visual && visual->id() && visual->getDepth() >= 24;
}

void FXKExplorerPacker::makeBackground() {
  auto* app = dynamic_cast<FXExtApp*>(getApp());
  if (!app || width <= 0 || height <= 0) return;
  FXImage* picture = app->loadImage(toolbarbackground_res, 28);
  if (!picture) return;
  picture->create();
  backgroundCache_ = new FXImage(getApp(), nullptr, IMAGE_KEEP, width, height);
  backgroundCache_->create();
  {
    FXDCWindow dc(backgroundCache_);
    dc.setForeground(backColor);
    dc.setBackground(backColor);
    fxGetTheme(getApp())->DrawBorder(dc, picture, 0, 0, picture->getWidth(), picture->getHeight(), 0, 0, width, height,
                                     FXTheme::BORDER_LEFT | FXTheme::BORDER_TOP | FXTheme::BORDER_RIGHT |
                                         FXTheme::BORDER_BOTTOM | FXTheme::BORDER_CENTER | FXTheme::BORDER_FILL);
  }
  app->freeImage(picture);
}

long FXKExplorerPacker::onPaint(FXObject* sender, FXSelector sel, void* ptr) {
  if (!paints24()) return FXPacker::onPaint(sender, sel, ptr);
  auto* event = static_cast<FXEvent*>(ptr);
  if (backgroundCache_ && (backgroundCache_->getWidth() != width || backgroundCache_->getHeight() != height)) {
    delete backgroundCache_;
    backgroundCache_ = nullptr;
  }
  if (!backgroundCache_) makeBackground();
  FXDCWindow dc(this, event);
  const FXRectangle area = event ? event->rect : FXRectangle(0, 0, width, height);
  if (backgroundCache_) {
    dc.drawArea(backgroundCache_, area.x, area.y, area.w, area.h, area.x, area.y);
  } else {
    dc.setForeground(backColor);
    dc.fillRectangle(area.x, area.y, area.w, area.h);
  }
  drawFrame(dc, 0, 0, width, height);
  return 1;
}

long FXKExplorerPacker::onCmdToolbarTab(FXObject*, FXSelector, void*) {
  recalc();
  return 0;
}

long FXKExplorerPacker::onSettingsChanged(FXObject*, FXSelector, void*) {
  delete backgroundCache_;
  backgroundCache_ = nullptr;
  update();
  return 0;
}
