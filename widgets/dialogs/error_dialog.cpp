#include "widgets/dialogs/error_dialog.h"

#include <algorithm>

#include "core/catalogue.h"
#include "core/message_format.h"
#include "core/messenger.h"
#include "core/variant.h"
#include "gui/app/korvane_app.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_resources.h"
#include "textlayout/layout.h"
#include "textlayout/text_view.h"
#include "widgets/explorer_toolbar.h"

using namespace FX;

namespace {

FXString narrow(const FXWString& text) { return FXString(text.toUtf8().c_str()); }

FXString caption(const char16_t* text) { return narrow(FXWString(text)).substitute("\xE2\x8E\x82", "&"); }

FXWString wide(const Processor::String& s) { return FXWString(s.getBuffer(), s.length()); }

// Error texts come from anywhere (paths, server answers): they are shown as
// text, never read as markup.
FXWString markupEscaped(const FXWString& text) {
  FXWString out;
  for (int i = 0; i < text.length(); ++i) {
    const char16_t c = text[i];
    if (c == u'<')
      out += FXWString(u"&#60;");
    else if (c == u'&')
      out += FXWString(u"&#38;");
    else if (c == TextMarker::kLiteral)
      continue;
    else
      out += FXWString(&c, 1);
  }
  return out;
}

const char16_t kDefaultAdvice[] =
    u"Please <link href=\"https://support.korvane.com/\">contact</link> Korvane support team for information on "
    u"how to resolve this issue.\nTo provide our support team with a complete description of the issue, click "
    u"<bold>Details</bold>, and then click the icon above the description in the open field. It will copy the "
    u"issue's details to the Clipboard.";

FXWString detailsCaption(bool open) {
  FXWString text(u"Details");
  text += FXWString(open ? u" <<" : u" >>");
  return text;
}

constexpr FXuint kButtonOptions = FXuint(BUTTON_NORMAL) | LAYOUT_FIX_WIDTH | LAYOUT_CENTER_Y;

}  // namespace

FXDEFMAP(FXKErrorDialog) FXKErrorDialogMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXKErrorDialog::ID_DETAILS, FXKErrorDialog::onCmdDetails),
    FXMAPFUNC(SEL_COMMAND, FXKErrorDialog::ID_COPY, FXKErrorDialog::onCmdCopy),
    FXMAPFUNC(SEL_COMMAND, FXKErrorDialog::ID_QUIT, FXKErrorDialog::onCmdQuit),
    FXMAPFUNC(SEL_CLIPBOARD_REQUEST, 0, FXKErrorDialog::onClipboardRequest),
    FXMAPFUNC(SEL_CONFIGURE, 0, FXKErrorDialog::onConfigure),
};
FXIMPLEMENT(FXKErrorDialog, FXDialogBox, FXKErrorDialogMap, ARRAYNUMBER(FXKErrorDialogMap))

FXKErrorDialog::FXKErrorDialog(FXWindow* owner, const Common::Error& error, FXuint options)
    : FXDialogBox(owner, "Error occurred", options, 0, 0, 0, 0, 4, 4, 10, 4, 0, 0), error_(error) {
  build();
}

FXKErrorDialog::FXKErrorDialog(FXApp* app, const Common::Error& error, FXuint options)
    : FXDialogBox(app, "Error occurred", options, 0, 0, 0, 0, 4, 4, 10, 4, 0, 0), error_(error) {
  build();
}

FXKErrorDialog::~FXKErrorDialog() { delete copyIcon_; }

void FXKErrorDialog::build() {
  recalc();
  // The main text: the error in bold, an empty line, the advice.
  Processor::String text, advice;
  Processor::Messenger::errorText(error_, text, advice);
  FXWString adviceText = advice.isEmpty() ? FXWString(kDefaultAdvice) : wide(advice);
  mainText_ = FXWString(u"<bold>") + markupEscaped(wide(text)) + FXWString(u"</bold>\n\n") + adviceText;
  detailsText_ = wide(Processor::formatMessage1(Processor::String(u"{0}"), Processor::Variant(error_)));

  auto* body = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  auto* top = new FXHorizontalFrame(body, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4);
  stopLabel_ = new FXLabel(top, FXString::null, fxLoadIcon(getApp(), stopicon_res, IMAGE_KEEP, 0),
                           FXuint(LABEL_NORMAL) | LAYOUT_CENTER_Y, 0, 0, 0, 0, 2, 2, 15, 15);
  mainView_ = new FXKTextView(top, nullptr, 0,
                              FXKTextView::TEXTVIEW_PARENT_BACKCOLOR | FXKTextView::TEXTVIEW_SELECTABLE |
                                  LAYOUT_FILL_X | LAYOUT_FILL_Y);
  mainView_->setText(mainText_);

  buttonRow_ = new FXHorizontalFrame(body, LAYOUT_FILL_X, 0, 0, 0, 0, 15, 15, 4, 4, 15, 4);
  quitButton_ = new FXButton(buttonRow_, caption(Common::catalogueText(2223, u"\u2382Quit")), nullptr, this, ID_QUIT,
                             kButtonOptions, 0, 0, 80, 0, 5, 5, 2, 2);
  detailsButton_ = new FXButton(buttonRow_, narrow(detailsCaption(false)), nullptr, this, ID_DETAILS,
                                kButtonOptions, 0, 0, 80, 0, 5, 5, 2, 2);
  new FXFrame(buttonRow_, LAYOUT_FIX_WIDTH, 0, 0, 80, 0);
  ignoreButton_ = new FXButton(buttonRow_, caption(Common::catalogueText(2221, u"\u2382Ignore")), nullptr, this,
                               ID_ACCEPT, kButtonOptions | FXuint(BUTTON_DEFAULT) | BUTTON_INITIAL, 0, 0, 80, 0, 5, 5, 2, 2);

  detailsPane_ = new FXVerticalFrame(body, LAYOUT_FILL_X | LAYOUT_FIX_HEIGHT, 0, 0, 200, 200);
  auto* panel = new FXKExplorerToolbarPanel(detailsPane_, FXuint(FXKExplorerToolbarPanel::PANEL_NO_MENU) | LAYOUT_FILL_X);
  panel->setViewMode(FXKExplorerToolbarPanel::MODE_SMALL);
  auto* toolbar = new FXKExplorerToolbar(panel, nullptr);
  if (const FXResourcePicture* strip = fxFindResourcePicture(copydetails_res)) {
    copyIcon_ = new FXPNGIcon(getApp(), strip->data, 0, IMAGE_KEEP);
    copyIcon_->crop(0, 0, 16, 16);  // the normal state of the three
  }
  copyButton_ = new FXKExplorerButton(toolbar, "Copy\tClick this button to copy details to the Clipboard.", copyIcon_,
                                      copyIcon_, copyIcon_, this, ID_COPY, FXuint(BUTTON_TOOLBAR) | FRAME_RAISED, 0, 0, 0, 0,
                                      6, 6, 6, 6);
  auto* details = new FXKTextView(detailsPane_, nullptr, 0,
                                  FXKTextView::TEXTVIEW_PARENT_BACKCOLOR | FXKTextView::TEXTVIEW_SELECTABLE |
                                      LAYOUT_FILL_X | LAYOUT_FILL_Y);
  details->setText(markupEscaped(detailsText_));
  detailsPane_->hide();
}

bool FXKErrorDialog::run(const Common::Error& error, FXApp* app) {
  auto* ext = dynamic_cast<FXExtApp*>(app);
  FXWindow* owner = ext ? ext->getMainWindow(true) : nullptr;
  const FXuint options = DECOR_TITLE | DECOR_BORDER | DECOR_CLOSE | DECOR_RESIZE;
  FXKErrorDialog* dialog =
      owner ? new FXKErrorDialog(owner, error, options) : new FXKErrorDialog(app, error, options);
  dialog->create();
  const FXuint result = dialog->execute(PLACEMENT_SCREEN);
  delete dialog;
  return result != ID_QUIT;
}

void FXKErrorDialog::installAsPresenter() {
  FXKorvaneApp::setErrorPresenter(
      [](FXKorvaneApp& app, const Common::Error& error) { return !FXKErrorDialog::run(error, &app); });
}

namespace {
// Linking the dialog in is enough to have it shown.
const bool installed = (FXKErrorDialog::installAsPresenter(), true);
}  // namespace

void FXKErrorDialog::equalizeButtons() {
  FXint widest = 80;
  for (FXWindow* c = buttonRow_->getFirst(); c; c = c->getNext()) widest = std::max(widest, c->getDefaultWidth());
  for (FXWindow* c = buttonRow_->getFirst(); c; c = c->getNext()) c->setWidth(widest);
  flags &= ~FLAG_RECALC;
}

void FXKErrorDialog::layout() {
  inLayout_ = true;
  equalizeButtons();
  FXDialogBox::layout();
  flags &= ~FLAG_DIRTY;
  inLayout_ = false;
}

void FXKErrorDialog::show(FXuint placement) {
  // The text views answer their height for the width they have: lay out once
  // at the default width before the placement asks for it.
  if (!shown()) {
    resize(getDefaultWidth(), getDefaultHeight());
    layout();
  }
  FXDialogBox::show(placement);
}

FXint FXKErrorDialog::getDefaultWidth() {
  if (flags & FLAG_RECALC) equalizeButtons();
  const FXint own = std::max(FXDialogBox::getDefaultWidth(), getMinimalWidth());
  if (own <= 420) return own;
  return std::max(buttonRow_->getDefaultWidth() + padleft + padright, 420);
}

FXint FXKErrorDialog::getDefaultHeight() { return std::max(FXDialogBox::getDefaultHeight(), getMinimalHeight()); }

long FXKErrorDialog::onCmdDetails(FXObject*, FXSelector, void*) {
  const bool open = !detailsPane_->shown();
  if (open)
    detailsPane_->show();
  else
    detailsPane_->hide();
  detailsButton_->setText(narrow(detailsCaption(open)));
  recalc();
  resize(width, getDefaultHeight());
  return 1;
}

long FXKErrorDialog::onCmdCopy(FXObject*, FXSelector, void*) {
  FXDragType types[2] = {stringType, utf8Type};
  acquireClipboard(types, 2);
  return 1;
}

long FXKErrorDialog::onClipboardRequest(FXObject* sender, FXSelector sel, void* ptr) {
  if (FXDialogBox::onClipboardRequest(sender, sel, ptr)) return 1;
  auto* event = static_cast<FXEvent*>(ptr);
  if (!event || (event->target != stringType && event->target != utf8Type)) return 0;
  FXWString text;
  for (int i = 0; i < detailsText_.length(); ++i)
    if (detailsText_[i] != u'\r') text += FXWString(&detailsText_[i], 1);
  const std::string bytes = event->target == utf8Type ? text.toUtf8() : text.toLatin1();
  FXuchar* data = nullptr;
  FXMALLOC(&data, FXuchar, bytes.size() + 1);
  std::copy(bytes.begin(), bytes.end(), data);
  setDNDData(FROM_CLIPBOARD, event->target, data, static_cast<FXuint>(bytes.size()));
  return 1;
}

long FXKErrorDialog::onCmdQuit(FXObject*, FXSelector, void*) {
  getApp()->stopModal(this, ID_QUIT);
  hide();
  return 1;
}

long FXKErrorDialog::onConfigure(FXObject* sender, FXSelector sel, void* ptr) {
  if (inLayout_) return 1;
  return FXDialogBox::onConfigure(sender, sel, ptr);
}
