#include "widgets/dialogs/message_box.h"

#include <fxkeys.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/catalogue.h"
#include "core/message_format.h"
#include "gui/app/korvane_app.h"
#include "platform/fox/fx_theme.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/windows.h"
#include "system/registry.h"
#include "textlayout/text_view.h"
#include "widgets/dialogs/operation_dialog.h"
#include "widgets/dialogs/ser_confirmation.h"

using namespace FX;

namespace FX {
extern const unsigned char erroricon[];
extern const unsigned char infoicon[];
extern const unsigned char questionicon[];
extern const unsigned char warningicon[];
}  // namespace FX

namespace {

const char16_t kUnknownError[] = u"An unknown error has occurred.";
const char16_t kBoldCountdown[] = u"Remaining: <bold>{0, choice, 0#|1#1 second|1<{0} seconds}</bold>";
const char16_t kPlainCountdown[] = u"Remaining: {0} seconds";
// The knowledge-base service; its error-code page takes the event code.
const char16_t kKnowledgeBasePage[] = u"https://kb.korvane.com/errorcode/";
const FXColor kWhite = FXRGB(255, 255, 255);
const FXColor kBar = FXRGB(240, 240, 240);

FXWString wide(const Processor::String& s) {
  return FXWString(std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length())));
}
Processor::String proc(const FXWString& s) { return Processor::String(s.text()); }

const char16_t* defaultCaption(std::uint32_t kind) {
  switch (kind) {
    case 1: return Common::catalogueText(1982, u"Vazedi for Dovecrest 2013");
    case 2: return u"Information";
    case 3: return u"Confirmation";
    case 4: return u"Warning";
    default: return u"";
  }
}

// Creation order; the first made stands rightmost.
struct ButtonSpec {
  std::uint32_t bit;
  const char16_t* caption;
};
const ButtonSpec kButtons[] = {
    {0x2, u"\u2382Cancel"},  {0x8, u"\u2382No"},        {0x100, u"Ignore \u2382All"}, {0x80, u"\u2382Ignore"},
    {0x40, u"\u2382Retry"},  {0x4000, u"Sh\u2382utdown"}, {0x20, u"\u2382Restart"},     {0x10, u"\u2382Quit"},
    {0x4, u"\u2382Yes"},     {0x1, u"O\u2382K"},
};

// A round blue button with a double chevron pointing down (expand) or up.
FXIcon* chevronIcon(FXApp* app, bool down) {
  const FXint n = 19;
  auto* icon = new FXIcon(app, nullptr, 0, IMAGE_KEEP | IMAGE_OWNED | IMAGE_ALPHACOLOR, n, n);
  for (FXint y = 0; y < n; ++y)
    for (FXint x = 0; x < n; ++x) {
      const FXint dx = 2 * x - n + 1, dy = 2 * y - n + 1;
      FXColor c = FXRGBA(0, 0, 0, 0);
      if (dx * dx + dy * dy <= (n - 1) * (n - 1)) c = FXRGB(50, 110, 210);
      const FXint yy = down ? y : n - 1 - y;
      const FXint ax = std::abs(x - n / 2);
      if ((yy - 4 == 4 - ax || yy - 9 == 4 - ax) && ax <= 4 && yy >= 4 && yy <= 13) c = kWhite;
      icon->setPixel(x, y, c);
    }
  return icon;
}

// A green report symbol with a magnifier.
FXIcon* knowledgeBaseIcon(FXApp* app) {
  const FXint n = 16;
  auto* icon = new FXIcon(app, nullptr, 0, IMAGE_KEEP | IMAGE_OWNED | IMAGE_ALPHACOLOR, n, n);
  for (FXint y = 0; y < n; ++y)
    for (FXint x = 0; x < n; ++x) {
      FXColor c = FXRGBA(0, 0, 0, 0);
      if (x >= 2 && x <= 10 && y >= 1 && y <= 13) c = (y % 3 == 0 && x > 3 && x < 10) ? FXRGB(20, 110, 40) : FXRGB(90, 190, 100);
      const FXint dx = x - 11, dy = y - 10;
      if (dx * dx + dy * dy <= 9 && dx * dx + dy * dy >= 4) c = FXRGB(60, 60, 60);
      if (x >= 13 && y >= 12 && x - y == 1) c = FXRGB(60, 60, 60);
      icon->setPixel(x, y, c);
    }
  return icon;
}

FXIcon* kindIcon(FXApp* app, std::uint32_t kind) {
  switch (kind) {
    case 1: return new FXGIFIcon(app, FX::erroricon);
    case 2: return new FXGIFIcon(app, FX::infoicon);
    case 3: return new FXGIFIcon(app, FX::questionicon);
    case 4: return new FXGIFIcon(app, FX::warningicon);
    default: return nullptr;
  }
}

std::u16string part(const FXWString& texts, int index) {
  const std::u16string s = texts.text();
  std::size_t start = 0;
  for (int i = 0; i < index; ++i) {
    const std::size_t tab = s.find(u'\t', start);
    if (tab == std::u16string::npos) return {};
    start = tab + 1;
  }
  const std::size_t end = s.find(u'\t', start);
  return s.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
}

bool dontShowStored(FXApp* app, const FXWString& key) {
  return settingsOf(app).readIntEntry("DontShow", key.toUtf8().c_str(), 0) == 1;
}
}  // namespace

FXSettings& settingsOf(FXApp* app) {
  if (auto* ext = dynamic_cast<FXExtApp*>(app)) return ext->reg();
  return app->reg();
}

FXIMPLEMENT(FXKMessageBox, FXDialogBox, nullptr, 0)

FXKMessageBox::Options FXKMessageBox::normalizeOptions(const Options& given) {
  Options o = given;
  const std::uint32_t kind = o.flags & 7;
  if (kind >= 1 && kind <= 4) {
    if (o.caption.empty()) o.caption = FXWString(defaultCaption(kind));
    if (kind == 1 && given.caption.empty() && given.text.empty()) o.text = FXWString(kUnknownError);
    if ((o.buttons & 0x0FFFFFFFu & ~0x2000u) == 0)
      o.buttons = (o.buttons & 0xF0000000u) | (o.buttons & 0x2000u) | (kind == 3 ? (BUTTON_YES | BUTTON_NO) : BUTTON_OK);
  }
  if ((o.flags & OPTION_COUNTDOWN) && o.countdown == 0) o.countdown = 15;
  if (o.buttons & BUTTON_DONT_SHOW) o.flags |= OPTION_DONT_SHOW;
  return o;
}

FXWString FXKMessageBox::formatErrorLine(std::uint32_t flags, std::uint32_t facility, std::uint32_t number,
                                         const FXWString& text, const FXWString& extra) {
  static const char16_t letters[] = u"?EICW";
  const std::uint32_t kind = flags & 7;
  const FXWString letter = (kind >= 1 && kind <= 4) ? FXWString(std::u16string(1, letters[kind]).c_str()) : FXWString();
  FXWString code;
  if (number != 0) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", (facility << 16) | number);
    code = FXWString::fromUtf8(buffer);
  }
  FXWString main = text;
  if (!extra.empty()) main = FXWString(u"<bold>") + text;
  const Processor::Variant args[] = {Processor::Variant(!code.empty()), Processor::Variant(proc(code)),
                                     Processor::Variant(proc(main)),    Processor::Variant(!extra.empty()),
                                     Processor::Variant(proc(extra)),   Processor::Variant(proc(letter))};
  return wide(Processor::formatToString(Processor::String(u"{2}</bold>\n\n{4}"), args, 6));
}

FXKMessageBox* FXKMessageBox::create(const Options& options) { return new FXKMessageBoxImpl(normalizeOptions(options)); }

std::uint32_t FXKMessageBox::show(const Options& given) {
  Options o = normalizeOptions(given);
  FXApp* app = o.owner ? o.owner->getApp() : FXApp::instance();
  if (!app) return 0;
  if ((o.flags & OPTION_DONT_SHOW) && !o.dontShowKey.empty() && dontShowStored(app, o.dontShowKey))
    return (o.buttons & BUTTON_YES) ? BUTTON_YES : BUTTON_OK;
  struct Call {
    Options* options;
    FXApp* app;
    std::uint32_t result;
  } call{&o, app, 0};
  auto run = [](void* p) -> int {
    auto* c = static_cast<Call*>(p);
    Options& opt = *c->options;
    FXWindow* owner = opt.owner;
    while (owner && !owner->shown()) owner = owner->getParent();
    opt.owner = owner ? owner : c->app->getRootWindow();
    FXKMessageBox* box = create(opt);
    const std::uint32_t result = box->execute(PLACEMENT_SCREEN);
    if ((result & BUTTON_DONT_SHOW) && (result & (BUTTON_OK | BUTTON_YES)) && !opt.dontShowKey.empty())
      settingsOf(c->app).writeIntEntry("DontShow", opt.dontShowKey.toUtf8().c_str(), 1);
    delete box;
    c->result = result;
    return static_cast<int>(result);
  };
  // The answer travels in the call record: what executeSync hands back is
  // not the button when the box ran on another thread.
  if (auto* korvane = dynamic_cast<FXKorvaneApp*>(app)) korvane->executeSync(run, &call);
  else run(&call);
  return call.result;
}

std::uint32_t FXKMessageBox::message(FXWindow* owner, std::uint32_t flags, const FXWString& text,
                                     const FXWString& caption, std::uint32_t buttons, const FXWString& buttonTexts,
                                     const FXWString& checkText) {
  Options o;
  o.owner = owner;
  o.flags = flags;
  o.text = text;
  o.caption = caption;
  o.buttons = buttons;
  o.buttonTexts = buttonTexts;
  o.checkText = checkText;
  return show(o);
}

// ---- the box ----

FXDEFMAP(FXKMessageBoxImpl) FXKMessageBoxImplMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXKMessageBoxImpl::ID_DONT_SHOW, FXKMessageBoxImpl::onCmdDontShow),
    FXMAPFUNC(SEL_COMMAND, FXDialogBox::ID_CANCEL, FXKMessageBoxImpl::onCmdButton),
    FXMAPFUNC(SEL_CLOSE, 0, FXKMessageBoxImpl::onCmdButton),
    // Ahead of the button range, which holds their ids too: the first match wins.
    FXMAPFUNC(SEL_COMMAND, FXKMessageBoxImpl::ID_KNOWLEDGE_BASE, FXKMessageBoxImpl::onCmdKnowledgeBase),
    FXMAPFUNC(SEL_COMMAND, FXKMessageBoxImpl::ID_DETAILS, FXKMessageBoxImpl::onCmdDetails),
    FXMAPFUNCS(SEL_COMMAND, FXKMessageBoxImpl::ID_COUNTDOWN, FXKMessageBoxImpl::ID_BUTTON_LAST,
               FXKMessageBoxImpl::onCmdButton),
    FXMAPFUNC(SEL_TIMEOUT, FXKMessageBoxImpl::ID_COUNTDOWN, FXKMessageBoxImpl::onTimeoutCountdown),
    FXMAPFUNC(SEL_MOTION, 0, FXKMessageBoxImpl::onMotion),
    FXMAPFUNC(SEL_KEYPRESS, 0, FXKMessageBoxImpl::onKeyPress),
};
FXIMPLEMENT(FXKMessageBoxImpl, FXKMessageBox, FXKMessageBoxImplMap, ARRAYNUMBER(FXKMessageBoxImplMap))

FXKMessageBoxImpl::FXKMessageBoxImpl(const Options& o)
    : FXKMessageBox(o.owner, o.caption.toUtf8().c_str(),
                    DECOR_TITLE | DECOR_BORDER | DECOR_CLOSE |
                        (o.owner && o.owner == o.owner->getApp()->getRootWindow() ? 0x800000u : 0u)) {
  FXApp* app = getApp();
  auto* ext = dynamic_cast<FXExtApp*>(app);
  setPadLeft(0);
  setPadRight(0);
  setPadTop(0);
  setPadBottom(0);
  remaining_ = o.countdown;
  if (!(o.flags & OPTION_COUNTDOWN)) remaining_ = 0;
  noButtons_ = (o.flags & OPTION_NO_BUTTONS) != 0;
  countdownText_ = !o.countdownText.empty() ? o.countdownText
                                            : FXWString(noButtons_ ? kBoldCountdown : kPlainCountdown);

  body_ = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  body_->setBackColor(kWhite);

  auto* top = new FXHorizontalFrame(body_, LAYOUT_FILL_X, 0, 0, 0, 0, DEFAULT_SPACING, DEFAULT_SPACING,
                                    DEFAULT_SPACING, DEFAULT_SPACING, 4, 4);
  top->setBackColor(kWhite);
  FXIcon* icon = o.icon;
  if (!icon && !(o.flags & OPTION_NO_ICON)) icon = ownIcon_ = kindIcon(app, o.flags & 7);
  auto* iconLabel = new FXLabel(top, FXString::null, icon, LAYOUT_CENTER_Y, 0, 0, 0, 0, 10, 10, 2, 2);
  iconLabel->setBackColor(kWhite);
  textView_ = new FXKTextView(top, nullptr, 0, 0x150420);
  FXTheme* theme = fxGetTheme(app);
  if (theme && theme->kind() == 1) {
    textView_->setText(FXWString(u"<center_y><font stock=headerfont><textcolor value=\"korvblue\">") + o.text +
                       FXWString(u"</textcolor></font></center_y>"));
    if (ext) {
      const FXint id = ext->registerStockFont("headerfont");
      (void)id;  // FOX 1.6 draws no title of its own: the window manager's font stays
    }
  } else {
    textView_->setText(o.text);
  }

  if (!o.details.empty()) {
    auto* details = new FXKTextView(body_, nullptr, 0, 0x140c20);
    details->setMargins(10, 5, 0, 0);
    details->setText(o.details);
  }

  if (remaining_ != 0) {
    auto* row = new FXHorizontalFrame(body_, LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
    row->setBackColor(kWhite);
    countdownView_ = new FXKTextView(row, nullptr, 0, 0x100400);
    updateCountdown();
    app->addTimeout(this, ID_COUNTDOWN, 1000);
    countdownTimer_ = true;
  }

  if ((o.flags & (OPTION_KB_BUTTON | OPTION_KB_TEXT)) && !o.linkText.empty()) {
    linkView_ = new FXKTextView(body_, nullptr, 0, 0x440c20);
    linkView_->setMargins(10, 5, 5, 10);
    const std::u16string page = kKnowledgeBasePage;
    linkView_->setText(FXWString(u"\nMore information about this error and solutions may be available online in the\n"
                                 u"Korvane Knowledge Base.\n") +
                       FXWString((u"To access the online resource manually, enter the event code at: <nowrap><link url=\"" +
                                  page + u"\">" + page + u"</link></nowrap>\n")
                                     .c_str()) +
                       o.linkText);
  }

  if (noButtons_) return;

  if (o.flags & OPTION_DONT_SHOW) {
    auto* row = new FXHorizontalFrame(body_, LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
    row->setBackColor(kWhite);
    const FXWString caption = o.checkText.empty() ? FXWString(u"Do not show this message again") : o.checkText;
    check_ = new FXCheckButton(row, fxHotkeyText(caption.text()), this, ID_DONT_SHOW,
                               FXuint(CHECKBUTTON_NORMAL) | LAYOUT_CENTER_Y, 0, 0, 0, 0, 2, 2, 2, 2);
    check_->setBackColor(kWhite);
  }

  auto* bar = new FXHorizontalFrame(body_, LAYOUT_FILL_X | LAYOUT_BOTTOM, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
  bar->setBackColor(kBar);
  auto* right = new FXHorizontalFrame(bar, LAYOUT_RIGHT | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 10, 10, 4, 4);
  right->setBackColor(kBar);
  buttonRow_ = new FXHorizontalFrame(right, LAYOUT_RIGHT | LAYOUT_CENTER_Y | PACK_UNIFORM_WIDTH, 0, 0, 0, 0, 10,
                                     10, 0, 0, 4, 4);
  buttonRow_->setBackColor(kBar);
  const FXuint buttonOptions = FXuint(FRAME_RAISED) | FRAME_THICK | LAYOUT_RIGHT | LAYOUT_CENTER_Y;
  for (const ButtonSpec& spec : kButtons)
    if (o.buttons & spec.bit)
      new FXButton(buttonRow_, fxHotkeyText(spec.caption), nullptr, this, ID_BUTTON + spec.bit, buttonOptions, 0, 0,
                   0, 0, 18, 18, 2, 2);
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t bit = BUTTON_CUSTOM1 << i;
    if (o.buttons & bit)
      new FXButton(buttonRow_, fxHotkeyText(part(o.buttonTexts, i).c_str()), nullptr, this, ID_BUTTON + bit,
                   buttonOptions, 0, 0, 0, 0, 18, 18, 2, 2);
  }
  const FXint defaultIndex = static_cast<FXint>(o.buttons >> 28);
  if (FXWindow* chosen = buttonRow_->childAtIndex(defaultIndex)) {
    auto* b = static_cast<FXButton*>(chosen);
    b->setButtonStyle(b->getButtonStyle() | BUTTON_DEFAULT | BUTTON_INITIAL);
    b->setDefault(TRUE);
  }

  if ((o.flags & OPTION_KB_BUTTON) && !o.link.empty() && linkView_) {
    expandIcon_ = chevronIcon(app, true);
    collapseIcon_ = chevronIcon(app, false);
    kbIcon_ = knowledgeBaseIcon(app);
    kbButton_ = new FXButton(right, fxHotkeyText(u"\u2382Knowledge Base"), kbIcon_, this, ID_KNOWLEDGE_BASE,
                             FRAME_RAISED | FRAME_THICK | LAYOUT_RIGHT | LAYOUT_CENTER_Y | ICON_BEFORE_TEXT, 0, 0, 0,
                             0, 18, 18, 2, 2);
    detailsButton_ = new FXButton(bar, "More details", expandIcon_, this, ID_DETAILS,
                                  LAYOUT_LEFT | LAYOUT_CENTER_Y | ICON_BEFORE_TEXT, 0, 0, 0, 0, 10, 0, 2, 2);
    detailsButton_->setBackColor(kBar);
    link_ = o.link;
    reportFields_ = o.reportFields;
    linkView_->hide();
  }
}

FXKMessageBoxImpl::~FXKMessageBoxImpl() {
  if (countdownTimer_) getApp()->removeTimeout(this, ID_COUNTDOWN);
  delete ownIcon_;
  delete expandIcon_;
  delete collapseIcon_;
  delete kbIcon_;
}

FXButton* FXKMessageBoxImpl::button(std::uint32_t bit) const {
  if (!buttonRow_) return nullptr;
  for (FXWindow* w = buttonRow_->getFirst(); w; w = w->getNext())
    if (w->getSelector() == ID_BUTTON + bit) return static_cast<FXButton*>(w);
  return nullptr;
}

void FXKMessageBoxImpl::layout() {
  FXKMessageBox::layout();
  flags &= ~FLAG_DIRTY;
}

FXint FXKMessageBoxImpl::getDefaultWidth() {
  const FXint w = FXKMessageBox::getDefaultWidth();
  if (w <= 650) return w;
  FXint wide = 500;
  if (buttonRow_) wide = std::max(wide, buttonRow_->getDefaultWidth() + getPadLeft() + getPadRight() + getHSpacing());
  wide = std::max(wide, body_->getWidth() > 0 ? std::min(body_->getDefaultWidth(), 500) : 500);
  FXint l = 0, t = 0, r = 0, b = 0;
  if (FXTheme* theme = fxGetTheme(getApp())) theme->getFrameMargins(l, t, r, b);
  return wide + l + r;
}

FXuint FXKMessageBoxImpl::execute(FXuint placement) {
  const FXuint result = FXKMessageBox::execute(placement);
  return dontShowChecked_ ? (result | BUTTON_DONT_SHOW) : result;
}

long FXKMessageBoxImpl::onCmdDontShow(FXObject*, FXSelector, void* ptr) {
  dontShowChecked_ = ptr != nullptr;
  return 1;
}

long FXKMessageBoxImpl::onCmdButton(FXObject*, FXSelector sel, void*) {
  if (noButtons_ && remaining_ > 0) return 1;
  const FXSelector id = FXSELID(sel);
  const FXuint value = (FXSELTYPE(sel) == SEL_CLOSE || id == FXDialogBox::ID_CANCEL) ? BUTTON_CANCEL : id - ID_BUTTON;
  if (target && target->tryHandle(this, FXSEL(SEL_COMMAND, getSelector()), reinterpret_cast<void*>(static_cast<FXuval>(value))))
    return 1;
  getApp()->stopModal(this, static_cast<FXint>(value));
  hide();
  return 1;
}

long FXKMessageBoxImpl::onKeyPress(FXObject* sender, FXSelector sel, void* ptr) {
  // A counting box without buttons cannot be answered from the keyboard.
  if (noButtons_ && remaining_ > 0) {
    auto* event = static_cast<FXEvent*>(ptr);
    if (event->code == KEY_Escape || event->code == KEY_Return || event->code == KEY_KP_Enter) return 1;
  }
  return FXKMessageBox::onKeyPress(sender, sel, ptr);
}

long FXKMessageBoxImpl::onMotion(FXObject*, FXSelector, void* ptr) {
  return target && target->tryHandle(this, FXSEL(SEL_MOTION, getSelector()), ptr) ? 1 : 0;
}

void FXKMessageBoxImpl::updateCountdown() {
  countdownLine_ = wide(Processor::formatMessage1(proc(countdownText_),
                                                  Processor::Variant(static_cast<std::uint32_t>(std::max(remaining_, 0)))));
  if (countdownView_) countdownView_->setText(countdownLine_);
}

long FXKMessageBoxImpl::onTimeoutCountdown(FXObject*, FXSelector, void*) {
  --remaining_;
  countdownTimer_ = false;
  updateCountdown();
  if (remaining_ > 0) {
    getApp()->addTimeout(this, ID_COUNTDOWN, 1000);
    countdownTimer_ = true;
    return 1;
  }
  if (noButtons_) {
    // Nothing to press: the notice has run its time.
    getApp()->stopModal(this, 0);
    hide();
    return 1;
  }
  for (FXWindow* w = buttonRow_ ? buttonRow_->getFirst() : nullptr; w; w = w->getNext())
    if (w->isDefault()) {
      handle(this, FXSEL(SEL_COMMAND, w->getSelector()), nullptr);
      break;
    }
  return 1;
}

long FXKMessageBoxImpl::onCmdDetails(FXObject*, FXSelector, void*) {
  if (!linkView_ || !detailsButton_) return 1;
  detailsShown_ = !detailsShown_;
  detailsButton_->setText(detailsShown_ ? "Less details" : "More details");
  FXIcon* icon = detailsShown_ ? collapseIcon_ : expandIcon_;
  if (id() && !icon->id()) icon->create();
  detailsButton_->setIcon(icon);
  if (detailsShown_) linkView_->show();
  else linkView_->hide();
  recalc();
  resize(getWidth(), getDefaultHeight());
  return 1;
}

long FXKMessageBoxImpl::onCmdKnowledgeBase(FXObject*, FXSelector, void*) {
  if (link_.empty()) return 1;
  auto* ext = dynamic_cast<FXExtApp*>(getApp());
  if (ext) ext->beginWaitCursor(1);
  openLink();
  if (ext) ext->endWaitCursor(0);
  return 1;
}

void FXKMessageBoxImpl::openLink() {
  std::u16string keyPath;
  auto it = reportFields_.find(17);
  if (it != reportFields_.end()) keyPath = FXWString::fromUtf8(it->second.c_str()).text();
  const Windows::Registry user(HKEY_CURRENT_USER, 0);
  const DWORD confirmed = keyPath.empty() ? 0 : user.getDword(keyPath, u"confirmation", 0);
  const HWND window = fxWindowHandle(this);
  if (confirmed == 0 && !reportFields_.empty()) {
    FXKSERConfirmationDialog dialog(this, nullptr, &reportFields_);
    const bool ok = dialog.execute(PLACEMENT_OWNER) != 0;
    if (ok) {
      if (dialog.isAlwaysSend() && !keyPath.empty()) user.setDword(keyPath, u"confirmation", 1);
      ShellExecuteW(window, u"open", link_.text(), nullptr, nullptr, 5);
    }
    dialog.destroy();
    return;
  }
  ShellExecuteW(window, u"open", link_.text(), nullptr, nullptr, 5);
}
