#include "widgets/preview.h"

#include <memory>

#include "platform/fox/fx_app.h"
#include "textlayout/text_view.h"

using namespace FX;

namespace {
FXString narrow(const FXWString& text) { return FXString(text.toUtf8().c_str()); }
}  // namespace

FXIMPLEMENT_ABSTRACT(FXKPreview, FXPacker, nullptr, 0)

FXKPreview::FXKPreview(FXComposite* parent, FXKBrowser* browser, FXuint options)
    : FXPacker(parent, options, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4), browser_(browser) {
  flags &= ~FLAG_SHOWN;
  setBackColor(parent->getBackColor());
  if (auto* app = dynamic_cast<FXExtApp*>(getApp())) {
    setHiliteColor(app->getStockColor(0));
    setShadowColor(app->getStockColor(3));
    setBorderColor(app->getStockColor(4));
    setBaseColor(app->getStockColor(2));
  }
}

FXDEFMAP(FXKSimplePreview) FXKSimplePreviewMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXKSimplePreview::ID_DESCRIPTION, FXKSimplePreview::onCmdDescription),
};
FXIMPLEMENT(FXKSimplePreview, FXKPreview, FXKSimplePreviewMap, ARRAYNUMBER(FXKSimplePreviewMap))

FXKSimplePreview::FXKSimplePreview(FXComposite* parent, FXKBrowser* browser, FXuint options)
    : FXKPreview(parent, browser, options) {}

FXKPreview* FXKSimplePreview::factory(FXComposite* parent, FXKBrowser* browser) {
  auto* pane = new FXKSimplePreview(parent, browser, LAYOUT_FILL_X);
  pane->createContents();
  return pane;
}

void FXKSimplePreview::createContents() {
  auto* row = new FXHorizontalFrame(this, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  icon_ = new FXLabel(row, FXString::null, nullptr, FXuint(JUSTIFY_LEFT) | JUSTIFY_TOP | ICON_BEFORE_TEXT, 0, 0, 0, 0, 2, 2,
                      2, 2);
  title_ = new FXLabel(row, FXString::null, nullptr, FXuint(JUSTIFY_LEFT) | LAYOUT_FILL_X | LAYOUT_CENTER_Y, 0, 0, 0, 0, 2, 2,
                       2, 2);
  if (auto* app = dynamic_cast<FXExtApp*>(getApp()))
    if (FXFont* bold = app->getStockFont(1)) title_->setFont(bold);
  description_ = new FXKTextView(this, this, ID_DESCRIPTION,
                                 FXuint(FXKTextView::TEXTVIEW_PARENT_BACKCOLOR) | LAYOUT_FILL_X | LAYOUT_FILL_Y);
}

void FXKSimplePreview::setItem(const FXKBrowserItem* item) {
  if (!item) {
    hide();
    return;
  }
  show();
  ++shown_;
  FXWString text;
  browser_->getItemTitle(text, item);
  if (title_) title_->setText(narrow(text));
  if (icon_) icon_->setIcon(browser_->getItemIcon(item, 1));
  browser_->getItemDescription(text, item);
  if (description_) description_->setText(text);
}

long FXKSimplePreview::onCmdDescription(FXObject*, FXSelector, void* ptr) {
  if (target) target->tryHandle(this, FXSEL(SEL_COMMAND, message), ptr);
  return 0;
}

FXDEFMAP(FXKPreviewPanel) FXKPreviewPanelMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, FXKPreviewPanel::ID_DELAY, FXKPreviewPanel::onTimeout),
    FXMAPFUNC(SEL_CHANGED, FXKBrowser::ID_DOCUMENT, FXKPreviewPanel::onDocChanged),
};
FXIMPLEMENT(FXKPreviewPanel, FXComposite, FXKPreviewPanelMap, ARRAYNUMBER(FXKPreviewPanelMap))

FXKPreviewPanel::FXKPreviewPanel(FXComposite* parent, FXKBrowser* browser, FXuint options, FXint x, FXint y, FXint w,
                                 FXint h)
    : FXComposite(parent, options, x, y, w, h), browser_(browser) {
  flags |= FLAG_SHOWN | FLAG_ENABLED;
  setBackColor(parent->getBackColor());
  if (options & PANEL_HIDE_PARENT) parent->hide();
}

FXKPreviewPanel::~FXKPreviewPanel() {
  getApp()->removeTimeout(this, ID_DELAY);
  if (attached_ && browser_) browser_->handle(this, FXSEL(SEL_DETACH, 0), nullptr);
}

void FXKPreviewPanel::create() {
  const bool first = !id();
  if (first && browser_ && !attached_) {
    browser_->handle(this, FXSEL(SEL_ATTACH, 0), nullptr);
    attached_ = true;
  }
  FXComposite::create();
  if (first && (flags & FLAG_RECALC)) refresh(FXKBrowser::UPDATE_ALL);
}

void FXKPreviewPanel::destroy() {
  getApp()->removeTimeout(this, ID_DELAY);
  timer_ = false;
  if (attached_ && browser_) {
    browser_->handle(this, FXSEL(SEL_DETACH, 0), nullptr);
    attached_ = false;
  }
  FXComposite::destroy();
}

void FXKPreviewPanel::layout() {
  if (pane_) pane_->position(0, 0, width, height);
  flags &= ~FLAG_DIRTY;
}

FXKPreviewFactory FXKPreviewPanel::getPreviewFactory(const FXKBrowserItem* item) {
  if (options & PANEL_HIDE_PARENT) {
    if (!item) {
      getParent()->hide();
      return nullptr;
    }
    getParent()->show();
  }
  return browser_ ? browser_->getPreviewFactory(item) : nullptr;
}

void FXKPreviewPanel::refresh(FXuint flags_) {
  getApp()->removeTimeout(this, ID_DELAY);
  timer_ = false;
  std::unique_ptr<FXKBrowserItem> item(browser_ ? browser_->getCurrentItemCopy() : nullptr);
  if (item) {
    FXKPreviewFactory factory = getPreviewFactory(item.get());
    if (factory && (!pane_ || factory != paneFactory_)) {
      paneFactory_ = factory;
      delete pane_;
      pane_ = factory(this, browser_);
      if (target) pane_->setTarget(target), pane_->setSelector(message);
      if (id()) pane_->create();
      pane_->show();
      recalc();
      flags_ |= FXKBrowser::UPDATE_CURRENT;
    }
    const FXuint wanted = FXKBrowser::UPDATE_REBUILD | FXKBrowser::UPDATE_CURRENT | FXKBrowser::UPDATE_CURRENT_ITEM;
    if (pane_ && (flags_ & wanted)) {
      if (delay_ == 0 || (flags_ & FXKBrowser::UPDATE_REBUILD)) {
        if (flags_ & FXKBrowser::UPDATE_CURRENT_ITEM) pane_->setItem(nullptr);
        pane_->setItem(item.get());
      } else {
        getApp()->addTimeout(this, ID_DELAY, delay_);
        timer_ = true;
      }
    }
  } else if (pane_) {
    delete pane_;
    pane_ = nullptr;
    paneFactory_ = nullptr;
  }
  if (pane_) {
    show();
    if (id()) pane_->create();
  } else if (options & PANEL_HIDE_PARENT) {
    getParent()->hide();
  }
  flags &= ~FLAG_RECALC;
}

long FXKPreviewPanel::onDocChanged(FXObject*, FXSelector, void* ptr) {
  refresh(static_cast<FXuint>(reinterpret_cast<FXuval>(ptr)));
  return 1;
}

long FXKPreviewPanel::onTimeout(FXObject*, FXSelector, void*) {
  timer_ = false;
  if (!pane_ || !browser_) return 0;
  std::unique_ptr<FXKBrowserItem> item(browser_->getCurrentItemCopy());
  if (item) {
    auto* app = dynamic_cast<FXExtApp*>(getApp());
    if (app) app->beginWaitCursor();
    pane_->setItem(item.get());
    if (id()) pane_->create();
    pane_->show();
    if (app) app->endWaitCursor();
  }
  return 0;
}
