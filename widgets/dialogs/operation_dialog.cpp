#include "widgets/dialogs/operation_dialog.h"

#include <algorithm>
#include <string>

#include "gui/app/korvane_app.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_theme.h"
#include "textlayout/text_view.h"

using namespace FX;

FXString fxHotkeyText(const char16_t* text) {
  std::u16string s(text ? text : u"");
  for (char16_t& c : s)
    if (c == u'\u2382') c = u'&';
  return FXString(FXWString(s.c_str()).toUtf8().c_str());
}

namespace {
FXExtApp* extApp(FXApp* app) { return dynamic_cast<FXExtApp*>(app); }

FXColor stockColor(FXApp* app, FXint id, FXColor fallback) {
  FXExtApp* ext = extApp(app);
  return ext ? ext->getStockColor(id) : fallback;
}

// A named stock font or colour of the application; -1 when unknown.
FXint stockFontId(FXApp* app, const char* name) {
  FXExtApp* ext = extApp(app);
  return ext ? ext->registerStockFont(name) : -1;
}
FXint stockColorId(FXApp* app, const char* name) {
  FXExtApp* ext = extApp(app);
  return ext ? ext->registerStockColor(name) : -1;
}

const FXColor kWhite = FXRGB(255, 255, 255);
const FXColor kFooter = FXRGB(240, 240, 240);

// The built-in help icon: a blue question mark on a round field.
FXIcon* helpIcon(FXApp* app) {
  static const FXint size = 24;
  FXIcon* icon = new FXIcon(app, nullptr, 0, IMAGE_KEEP | IMAGE_OWNED | IMAGE_ALPHACOLOR, size, size);
  for (FXint y = 0; y < size; ++y)
    for (FXint x = 0; x < size; ++x) {
      const FXint dx = 2 * x - size + 1, dy = 2 * y - size + 1;
      icon->setPixel(x, y, dx * dx + dy * dy <= (size - 2) * (size - 2) ? FXRGB(40, 90, 200) : FXRGBA(0, 0, 0, 0));
    }
  return icon;
}
}  // namespace

// ---- style button ----

FXIMPLEMENT(FXKStyleButton, FXButton, nullptr, 0)

FXKStyleButton::FXKStyleButton(FXComposite* parent, const FXString& text, FXIcon* icon, FXObject* target,
                               FXSelector message, FXuint options)
    : FXButton(parent, text, icon, target, message, options, 0, 0, 0, 0, 8, 8, 0, 0) {}

FXint FXKStyleButton::getMinimalWidth() {
  const FXint w = FXButton::getDefaultWidth();
  if (getIcon()) return w;
  static const FXint steps[] = {68, 82, 91, 106, 120, 140, 160, 190};
  for (FXint step : steps)
    if (step >= w) return step;
  return w;
}

FXint FXKStyleButton::getMinimalHeight(FXint) { return std::max(FXButton::getDefaultHeight(), 23); }

// ---- gradient frame ----

FXDEFMAP(FXKGradientFrame) FXKGradientFrameMap[] = {FXMAPFUNC(SEL_PAINT, 0, FXKGradientFrame::onPaint)};
FXIMPLEMENT(FXKGradientFrame, FXPacker, FXKGradientFrameMap, ARRAYNUMBER(FXKGradientFrameMap))

FXKGradientFrame::FXKGradientFrame(FXComposite* parent, FXuint options, FXint x, FXint y, FXint w, FXint h, FXint pl,
                                   FXint pr, FXint pt, FXint pb, FXint hs, FXint vs)
    : FXPacker(parent, options & ~0x100000u, x, y, w, h, pl, pr, pt, pb, hs, vs) {}

void FXKGradientFrame::setTopColor(FXColor color) {
  topColor_ = color;
  update();
}

long FXKGradientFrame::onPaint(FXObject*, FXSelector, void* ptr) {
  auto* event = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, event);
  FXTheme* theme = fxGetTheme(getApp());
  if (theme && theme->query(3)) {
    dc.setForeground(stockColor(getApp(), 6, getBackColor()));
    dc.fillRectangle(0, 0, width, height);
    dc.setForeground(stockColor(getApp(), 7, getShadowColor()));
    dc.drawRectangle(1, 1, width - 3, height - 3);
  } else {
    dc.setBackground(getBackColor());
    dc.setForeground(topColor_);
    FXTheme::GradientFill(dc, 0, 0, width, height, 2);
  }
  drawFrame(dc, 0, 0, width, height);
  return 1;
}

// ---- operation dialog ----

FXDEFMAP(FXKOperationDialog) FXKOperationDialogMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXKOperationDialog::ID_OK, FXKOperationDialog::onCmdOk),
    FXMAPFUNC(SEL_COMMAND, FXKOperationDialog::ID_CANCEL_OP, FXKOperationDialog::onCmdCancelOp),
    // Escape and the close box take the same road as the Cancel button.
    FXMAPFUNC(SEL_COMMAND, FXDialogBox::ID_CANCEL, FXKOperationDialog::onCmdCancelOp),
    FXMAPFUNC(SEL_CLOSE, 0, FXKOperationDialog::onCmdCancelOp),
    FXMAPFUNC(SEL_COMMAND, FXKOperationDialog::ID_APPLY, FXKOperationDialog::onCmdApply),
    FXMAPFUNC(SEL_CHORE, FXKOperationDialog::ID_READY, FXKOperationDialog::onChoreReady),
    FXMAPFUNC(SEL_COMMAND, FXKOperationDialog::ID_EXTRA, FXKOperationDialog::onCmdExtra),
};
FXIMPLEMENT(FXKOperationDialog, FXDialogBox, FXKOperationDialogMap, ARRAYNUMBER(FXKOperationDialogMap))

FXKOperationDialog::FXKOperationDialog(FXWindow* owner, const FXWString& windowTitle, const FXWString& headerTitle,
                                       FXIcon* icon, FXuint options, int style, int extra)
    : FXDialogBox(owner, windowTitle.toUtf8().c_str(), options, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
      extra_(extra),
      options_(options) {
  if (style == 0) {
    FXTheme* theme = fxGetTheme(getApp());
    style = 1;
    if (theme && theme->kind() == 1) style = 3;
    for (FXWindow* w = owner; w && style != 3; w = w->getParent()) {
      auto* dialog = dynamic_cast<FXKOperationDialog*>(w);
      if (dialog && dialog->getStyle() == 3) style = 3;
    }
    // Kept for the dialog's own queries only, after the box was made.
    if (style == 3) options_ |= OPDLG_TIGHT_BODY;
  }
  style_ = std::clamp(style, 1, 5);
  buildHeader(headerTitle, icon);
  if (options & OPDLG_RESIZE_GRIP) {
    grip_ = new FXImage(getApp(), nullptr, IMAGE_KEEP | IMAGE_OWNED, 16, 16);
    for (FXint y = 0; y < 16; ++y)
      for (FXint x = 0; x < 16; ++x) grip_->setPixel(x, y, (x + y) % 4 == 0 && x + y > 14 ? FXRGB(128, 128, 128) : FXRGB(212, 208, 200));
  }
}

FXKOperationDialog::~FXKOperationDialog() {
  if (chore_) getApp()->removeChore(this, FXSEL(SEL_CHORE, ID_READY));
  delete grip_;
  delete helpIcon_;
}

void FXKOperationDialog::buildHeader(const FXWString& headerTitle, FXIcon* icon) {
  FXApp* app = getApp();
  const FXString titleText = headerTitle.toUtf8().c_str();
  const bool anyHeader = icon || !headerTitle.empty();
  // Body options by the dialog's own option word (see the constructor).
  const FXuint bodyOptions = (options & OPDLG_TIGHT_BODY) ? FXuint(LAYOUT_FILL_X) | LAYOUT_FILL_Y : 0x3C00u;
  switch (style_) {
    case 1: {
      if (anyHeader) {
        auto* banner = new FXKGradientFrame(this, 0x100400, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
        banner->setTopColor(stockColor(app, 26, FXRGB(120, 120, 255)));
        banner->setBackColor(stockColor(app, 27, kWhite));
        header_ = banner;
        auto* row = new FXHorizontalFrame(banner, LAYOUT_FILL_X, 0, 0, 0, 0, 5, 5, 5, 5, 0, 0);
        row->setBackColor(banner->getBackColor());
        auto* texts = new FXVerticalFrame(row, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
        texts->setBackColor(banner->getBackColor());
        title_ = new FXLabel(texts, titleText, nullptr, LAYOUT_CENTER_Y, 0, 0, 0, 0, 2, 2, 2, 2);
        if (FXExtApp* ext = extApp(app)) title_->setFont(ext->getStockFont(1));
        title_->setTextColor(stockColor(app, 8, FXRGB(0, 0, 0)));
        title_->setBackColor(banner->getBackColor());
        description_ = new FXKTextView(texts, nullptr, 0, 0x250400);
        description_->setTextColor(stockColor(app, 29, FXRGB(0, 0, 0)));
        auto* iconLabel = new FXLabel(row, FXString::null, icon, 0x80020, 0, 0, 0, 0, 2, 2, 2, 2);
        iconLabel->setBackColor(banner->getBackColor());
      }
      content_ = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4);
      body_ = new FXVerticalFrame(content_, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 10, 10, 10, 0, 4, 4);
      break;
    }
    case 2: {
      if (anyHeader) {
        new FXLabel(this, FXString::null, icon, LAYOUT_FILL_X, 0, 0, 0, 0, 0, 0, 0, 0);
        auto* header = new FXVerticalFrame(this, 0x100400, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        header_ = header;
        title_ = new FXLabel(header, titleText, nullptr, FXuint(LAYOUT_FILL_X) | JUSTIFY_LEFT | LAYOUT_CENTER_Y, 0, 0, 0, 0,
                             10, 10, 20, 10);
      }
      content_ = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4);
      body_ = new FXVerticalFrame(content_, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 10, 10, 10, 0, 4, 4);
      break;
    }
    case 3:
    case 4: {
      const FXint fontId = stockFontId(app, "headerfont");
      const FXint colorId = stockColorId(app, "korvblue");
      FXFont* headerFont = fontId >= 0 ? extApp(app)->getStockFont(fontId) : nullptr;
      auto* header = new FXVerticalFrame(this, LAYOUT_FILL_X, 0, 0, 0, 0, 10, 10, 10, 0, 0, 4);
      header->setBackColor(kWhite);
      header_ = header;
      const FXuint rowOptions = style_ == 3 ? FXuint(LAYOUT_FILL_X) | LAYOUT_CENTER_Y : FXuint(LAYOUT_FILL_X);
      auto* row = new FXHorizontalFrame(header, rowOptions, 0, 0, 0, 0, 0, 0, 0, 0, 5, 4);
      row->setBackColor(kWhite);
      if (icon || style_ == 4) {
        auto* iconLabel = new FXLabel(row, FXString::null, icon, style_ == 3 ? FXuint(LAYOUT_CENTER_Y) : 0u, 0, 0, 0, 0, 2, 2,
                                      2, 2);
        iconLabel->setBackColor(kWhite);
      }
      auto* texts = new FXVerticalFrame(row, rowOptions, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4);
      texts->setBackColor(kWhite);
      title_ = new FXLabel(texts, titleText, nullptr, FXuint(LAYOUT_FILL_X) | JUSTIFY_LEFT, 0, 0, 0, 0, 2, 2, 2, 2);
      title_->setBackColor(kWhite);
      if (headerFont) title_->setFont(headerFont);
      if (colorId >= 0) title_->setTextColor(extApp(app)->getStockColor(colorId));
      description_ = new FXKTextView(texts, nullptr, 0, 0x1504A0);
      description_->setMargins(0, 0, 0, 0);
      content_ = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
      content_->setBackColor(kWhite);
      if (style_ == 3) {
        auto* inner = new FXVerticalFrame(content_, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 10, 10, 10, 10);
        inner->setBackColor(kWhite);
        body_ = new FXVerticalFrame(inner, bodyOptions, 0, 0, 0, 0, 0, 0, 0, 0);
      } else {
        body_ = new FXVerticalFrame(texts, bodyOptions, 0, 0, 0, 0, 0, 0, 0, 0);
      }
      body_->setBackColor(kWhite);
      break;
    }
    default: {
      content_ = body_ = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
      body_->setBackColor(kWhite);
      break;
    }
  }
}

void FXKOperationDialog::setDescription(const FXWString& markup) {
  if (description_) description_->setText(markup);
}

void FXKOperationDialog::createButtons(FXuint buttonMask, FXuint defaultMask) {
  FXApp* app = getApp();
  // Help only where the application can show it.
  auto* korvane = dynamic_cast<FXKorvaneApp*>(app);
  const bool help = (buttonMask & BUTTON_HELP) && korvane && korvane->hasHelpViewer();
  if (help && !helpIcon_) helpIcon_ = helpIcon(app);
  if (style_ <= 2) {
    if (auto* parent = dynamic_cast<FXPacker*>(body_->getParent())) parent->setPadBottom(0);
    if (auto* body = dynamic_cast<FXPacker*>(body_)) body->setPadBottom(0);
    if (buttonMask & BUTTON_SEPARATOR) new FXFrame(content_, 0x2400 | LAYOUT_FILL_X, 0, 0, 0, 1);
    auto* footer = new FXHorizontalFrame(content_, LAYOUT_FILL_X | LAYOUT_BOTTOM | LAYOUT_RIGHT, 0, 0, 0, 0, 0, 0,
                                         0, 0, 4, 4);
    const bool corner = (getDecorations() & 0x400000) != 0;
    if (corner) new FXDragCorner(footer);
    auto* rowFrame = new FXHorizontalFrame(footer, LAYOUT_BOTTOM | LAYOUT_RIGHT, 0, 0, 0, 0, 0, 0, 0, 10, 4, 4);
    footerRow_ = new FXHorizontalFrame(rowFrame, LAYOUT_FILL_X | LAYOUT_BOTTOM | LAYOUT_RIGHT, 0, 0, 0, 0,
                                       corner ? 0 : 10, 10, 0, 0, 4, 4);
    if (buttonMask & BUTTON_OK) {
      ok_ = new FXButton(footerRow_, fxHotkeyText(u"O\u2382K"), nullptr, this, ID_OK,
                         FXuint(BUTTON_DEFAULT) | BUTTON_INITIAL | FRAME_RAISED | FRAME_THICK | LAYOUT_RIGHT, 0, 0, 0, 0, 20,
                         20, 2, 2);
    }
    if (buttonMask & BUTTON_CANCEL) {
      cancel_ = new FXButton(footerRow_, fxHotkeyText(u"\u2382Cancel"), nullptr, this, ID_CANCEL_OP,
                             0x106000 | ((defaultMask & BUTTON_CANCEL) ? FXuint(BUTTON_DEFAULT) : 0u) | LAYOUT_RIGHT, 0, 0, 0,
                             0, 20, 20, 2, 2);
    }
    if (buttonMask & BUTTON_APPLY) {
      apply_ = new FXButton(footerRow_, fxHotkeyText(u"\u2382Apply"), nullptr, this, ID_APPLY,
                            0x106000 | ((defaultMask & BUTTON_APPLY) ? FXuint(BUTTON_DEFAULT) : 0u) | LAYOUT_RIGHT, 0, 0, 0,
                            0, 20, 20, 2, 2);
      apply_->disable();
    }
    if (help) {
      help_ = new FXButton(footer, fxHotkeyText(u"\u2382Help"), helpIcon_, this, ID_HELP, 0x108020, 0, 0, 0, 0,
                           10, 20, 2, 2);
    }
  } else {
    if (buttonMask & BUTTON_SEPARATOR) new FXFrame(content_, 0x2400 | LAYOUT_FILL_X, 0, 0, 0, 1);
    auto* footer = new FXHorizontalFrame(content_, LAYOUT_FILL_X | LAYOUT_BOTTOM, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
    footer->setBackColor(kFooter);
    if (help) {
      help_ = new FXButton(footer, FXString::null, helpIcon_, this, ID_HELP,
                           0x108020 | ((defaultMask & BUTTON_HELP) ? FXuint(BUTTON_DEFAULT) : 0u), 0, 0, 0, 0, 10, 0, 0, 0);
    }
    footerRow_ = new FXHorizontalFrame(footer, 0x10024, 0, 0, 0, 0, 0, 10, 8, 8, 5, 0);
    footerRow_->setBackColor(kFooter);
    auto make = [&](FXuint bit, const char16_t* caption, FXSelector id) -> FXButton* {
      if (!(buttonMask & bit)) return nullptr;
      auto* b = new FXKStyleButton(footerRow_, fxHotkeyText(caption), nullptr, this, id,
                                   0x6020 | ((defaultMask & bit) ? FXuint(BUTTON_DEFAULT) : 0u));
      if (defaultMask & bit) b->setDefault(TRUE);
      return b;
    };
    if (FXButton* b = make(BUTTON_OK, u"O\u2382K", ID_OK)) ok_ = b;
    if (FXButton* b = make(BUTTON_CANCEL, u"\u2382Cancel", ID_CANCEL_OP)) cancel_ = b;
    if (FXButton* b = make(BUTTON_NO, u"\u2382No", ID_CANCEL_OP)) cancel_ = b;
    if (FXButton* b = make(BUTTON_YES, u"\u2382Yes", ID_OK)) ok_ = b;
    if (FXButton* b = make(BUTTON_APPLY, u"\u2382Apply", ID_APPLY)) {
      apply_ = b;
      apply_->disable();
    }
  }
}

void FXKOperationDialog::create() {
  if (grip_) grip_->create();
  FXDialogBox::create();
}

void FXKOperationDialog::destroy() {
  if (chore_) {
    getApp()->removeChore(this, FXSEL(SEL_CHORE, ID_READY));
    chore_ = nullptr;
  }
  FXDialogBox::destroy();
}

void FXKOperationDialog::layout() {
  if (grip_) {
    gripRect_ = FXRectangle(static_cast<FXshort>(width - grip_->getWidth() / 2),
                            static_cast<FXshort>(height - grip_->getHeight()),
                            static_cast<FXshort>(grip_->getWidth() / 2), static_cast<FXshort>(grip_->getHeight()));
  }
  FXDialogBox::layout();
}

void FXKOperationDialog::show(FXuint placement) {
  FXDialogBox::show(placement);
  if (getOwner() && getOwner()->shown()) getOwner()->getShell()->raise();
  raise();
}

FXint FXKOperationDialog::getDefaultWidth() { return std::max(FXDialogBox::getDefaultWidth(), getMinimalWidth()); }

FXint FXKOperationDialog::getMinimalWidth() {
  FXint w = 0;
  if (style_ <= 2) {
    w = footerRow_ ? footerRow_->getDefaultWidth() : 0;
  } else {
    FXWindow* footer = help_ ? static_cast<FXWindow*>(help_->getParent()) : static_cast<FXWindow*>(footerRow_);
    w = footer ? footer->getDefaultWidth() : 0;
    FXint l = 0, t = 0, r = 0, b = 0;
    if (FXTheme* theme = fxGetTheme(getApp())) theme->getFrameMargins(l, t, r, b);
    w += l + r;
  }
  return std::max(w, 350);
}

void FXKOperationDialog::waitUntilReady(bool accept) {
  if (!waitCursor_) {
    if (FXExtApp* ext = extApp(getApp())) ext->beginWaitCursor(1);
    else getApp()->beginWaitCursor();
    waitCursor_ = true;
  }
  for (FXButton* b : {ok_, cancel_, apply_})
    if (b) b->disable();
  decision_ = accept;
  scheduleReadyCheck();
}

void FXKOperationDialog::scheduleReadyCheck() {
  getApp()->removeChore(this, FXSEL(SEL_CHORE, ID_READY));
  chore_ = getApp()->addChore(this, FXSEL(SEL_CHORE, ID_READY));
  if (!chore_) chore_ = this;  // FOX 1.6 answers nothing; the pointer only marks the wait
}

long FXKOperationDialog::onCmdOk(FXObject* sender, FXSelector, void* ptr) {
  if (!canAccept()) return 1;
  if (isReady()) return FXDialogBox::onCmdAccept(sender, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), ptr), 1;
  waitUntilReady(true);
  return 1;
}

long FXKOperationDialog::onCmdCancelOp(FXObject* sender, FXSelector, void* ptr) {
  if (!canCancel()) return 1;
  if (isReady()) return FXDialogBox::onCmdCancel(sender, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), ptr), 1;
  waitUntilReady(false);
  return 1;
}

long FXKOperationDialog::onChoreReady(FXObject*, FXSelector, void*) {
  chore_ = nullptr;
  if (!isReady()) {
    scheduleReadyCheck();
    return 1;
  }
  for (FXButton* b : {ok_, cancel_})
    if (b) b->enable();
  if (decision_) FXDialogBox::onCmdAccept(this, FXSEL(SEL_COMMAND, FXDialogBox::ID_ACCEPT), nullptr);
  else FXDialogBox::onCmdCancel(this, FXSEL(SEL_COMMAND, FXDialogBox::ID_CANCEL), nullptr);
  if (waitCursor_) {
    if (FXExtApp* ext = extApp(getApp())) ext->endWaitCursor(0);
    else getApp()->endWaitCursor();
    waitCursor_ = false;
  }
  return 1;
}

long FXKOperationDialog::onCmdApply(FXObject*, FXSelector, void*) {
  if (apply() && apply_) apply_->disable();
  return 1;
}

long FXKOperationDialog::onCmdExtra(FXObject*, FXSelector, void*) { return extra_; }

// ---- simple operation dialog ----

FXIMPLEMENT(FXKSimpleOperationDialog, FXKOperationDialog, nullptr, 0)

FXKSimpleOperationDialog::FXKSimpleOperationDialog(FXWindow* owner, const FXWString& windowTitle,
                                                   const FXWString& headerTitle, const void* iconPng,
                                                   const FXWString& body, int helpId, FXuint options,
                                                   FXuint buttonMask)
    : FXKOperationDialog(owner, windowTitle, headerTitle,
                         iconPng && extApp(FXApp::instance()) ? extApp(FXApp::instance())->loadIcon(iconPng, 1040, FXRGB(0, 0, 0), nullptr)
                                                              : nullptr,
                         options, 4, 0) {
  auto* frame = new FXHorizontalFrame(bodyFrame(), 0x420, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  frame->setBackColor(bodyFrame()->getBackColor());
  bodyView_ = new FXKTextView(frame, nullptr, 0, 0x100420);
  bodyView_->setText(body);
  setHelpId(helpId);
  createButtons(buttonMask, 1);
}
