#include "gui/dialogs/small_dialogs.h"

#include <FXPNGImage.h>

#include <memory>

#include "core/resource_archive.h"
#include "files/file_object.h"
#include "gui/app/korvane_app.h"

using namespace FX;

FXString fxAcceleratorText(const char16_t* text) {
  std::u16string s(text ? text : u"");
  for (char16_t& c : s)
    if (c == u'\u2382') c = u'&';
  return FXString(FXWString(s.c_str()).toUtf8().c_str());
}

// ---- splash ----

namespace {
// The archive's "splash.png" as bytes; empty when missing or unreadable.
std::string splashBytes() {
  std::unique_ptr<Common::ResourceAccessor> archive(Common::ResourceAccessor::create(nullptr));
  if (!archive) return {};
  std::unique_ptr<ri_file> member(archive->open(u"splash.png"));
  if (!member) return {};
  std::string bytes;
  char buffer[16384];
  for (;;) {
    std::uint32_t got = 0;
    member->read(buffer, sizeof buffer, got);
    if (member->Bad()) return {};
    if (got == 0) break;
    bytes.append(buffer, got);
    if (bytes.size() > (16u << 20)) return {};
  }
  return bytes;
}

// A PNG FOX can take: the signature and a header chunk with a sane size.
bool plausiblePng(const std::string& b) {
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (b.size() < 33 || b.compare(0, 8, reinterpret_cast<const char*>(sig), 8) != 0 || b.compare(12, 4, "IHDR") != 0)
    return false;
  auto u32 = [&](std::size_t at) {
    return (std::uint32_t(std::uint8_t(b[at])) << 24) | (std::uint32_t(std::uint8_t(b[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(b[at + 2])) << 8) | std::uint32_t(std::uint8_t(b[at + 3]));
  };
  const std::uint32_t w = u32(16), h = u32(20);
  return w > 0 && h > 0 && w <= 4096 && h <= 4096;
}
}  // namespace

bool FXKHasSplashImage() { return plausiblePng(splashBytes()); }

FXDEFMAP(FXKSplashDialog) FXKSplashDialogMap[] = {FXMAPFUNC(SEL_PAINT, 0, FXKSplashDialog::onPaint)};
FXIMPLEMENT(FXKSplashDialog, FXKProgressDialog, FXKSplashDialogMap, ARRAYNUMBER(FXKSplashDialogMap))

FXKSplashDialog::FXKSplashDialog(FXWindow* owner, const FXWString& title, FXImage* image, FXuint options,
                                 FXuint splashFlags)
    : FXKProgressDialog(owner, title, options), image_(image), splashFlags_(splashFlags) {
  progressBar()->setBarSize(10);
  textLabel()->setLayoutHints((textLabel()->getLayoutHints() & ~LAYOUT_FILL_X) | LAYOUT_CENTER_X);
  textLabel()->setTextColor(FXRGBA(255, 255, 255, 255));
}

FXKSplashDialog::~FXKSplashDialog() { dropImage(); }

void FXKSplashDialog::dropImage() {
  if (image_ && (splashFlags_ & SPLASH_OWNS_IMAGE)) {
    image_->destroy();
    delete image_;
  }
  image_ = nullptr;
}

void FXKSplashDialog::create() {
  if (!image_) {
    const std::string bytes = splashBytes();
    if (plausiblePng(bytes)) {
      auto* png = new FXPNGImage(getApp(), nullptr, 24);
      FXMemoryStream stream;
      stream.open(FXStreamLoad, bytes.size(), reinterpret_cast<FXuchar*>(const_cast<char*>(bytes.data())));
      if (png->loadPixels(stream)) {
        image_ = png;
        splashFlags_ |= SPLASH_OWNS_IMAGE;
      } else {
        delete png;
      }
      stream.close();
    }
  }
  if (image_) image_->create();
  FXKProgressDialog::create();
}

void FXKSplashDialog::destroy() {
  dropImage();
  FXKProgressDialog::destroy();
}

FXint FXKSplashDialog::getDefaultWidth() { return image_ ? image_->getWidth() : FXKProgressDialog::getDefaultWidth(); }
FXint FXKSplashDialog::getDefaultHeight() {
  return image_ ? image_->getHeight() : FXKProgressDialog::getDefaultHeight();
}

void FXKSplashDialog::layout() {
  if (FXWindow* panel = getFirst()) {
    const FXint h = panel->getHeightForWidth(width);
    panel->position(0, height - h, width, h);
  }
  flags &= ~FLAG_DIRTY;
}

long FXKSplashDialog::onPaint(FXObject* sender, FXSelector sel, void* ptr) {
  if (!image_) return FXWindow::onPaint(sender, sel, ptr);
  auto* event = static_cast<FXEvent*>(ptr);
  FXDCWindow dc(this, event);
  const FXint x = event->rect.x, y = event->rect.y;
  const FXint w = FXMIN(event->rect.w, image_->getWidth() - x), h = FXMIN(event->rect.h, image_->getHeight() - y);
  if (w > 0 && h > 0) dc.drawArea(image_, x, y, w, h, x, y);
  return 1;
}

// ---- help text view ----

FXDEFMAP(FXKHelpTextView) FXKHelpTextViewMap[] = {
    FXMAPFUNC(SEL_PAINT, 0, FXKHelpTextView::onPaint),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKHelpTextView::onButton),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, 0, FXKHelpTextView::onButton),
};
FXIMPLEMENT(FXKHelpTextView, FXWindow, FXKHelpTextViewMap, ARRAYNUMBER(FXKHelpTextViewMap))

namespace {
constexpr FXint kMargin = 4;
}

FXKHelpTextView::FXKHelpTextView(FXComposite* parent, FXObject* target, FXSelector sel, FXuint options)
    : FXWindow(parent, options) {
  setTarget(target);
  setSelector(sel);
  font_ = getApp()->getNormalFont();
  textColor_ = getApp()->getForeColor();
}

void FXKHelpTextView::setText(const FXWString& markup) {
  // Tags are left out; entities for the three markup characters are read.
  std::string in = markup.toUtf8(), out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '<') {
      const std::size_t end = in.find('>', i);
      if (end == std::string::npos) break;
      const std::string tag = in.substr(i, end - i + 1);
      if (tag == "<br>" || tag == "<br/>" || tag == "<p>") out += '\n';
      i = end;
    } else if (in.compare(i, 4, "&lt;") == 0) out += '<', i += 3;
    else if (in.compare(i, 4, "&gt;") == 0) out += '>', i += 3;
    else if (in.compare(i, 5, "&amp;") == 0) out += '&', i += 4;
    else out += in[i];
  }
  text_ = out.c_str();
  recalc();
  update();
}

std::vector<FXString> FXKHelpTextView::wrap(FXint width) const {
  std::vector<FXString> lines;
  const FXint room = width - 2 * kMargin;
  const FXint n = text_.contains('\n') + 1;
  for (FXint p = 0; p < n; ++p) {
    const FXString para = text_.section('\n', p);
    FXString line;
    FXint start = 0;
    while (start <= para.length()) {
      FXint end = para.find(' ', start);
      if (end < 0) end = para.length();
      const FXString word = para.mid(start, end - start);
      const FXString joined = line.empty() ? word : line + " " + word;
      if (!line.empty() && room > 0 && font_->getTextWidth(joined) > room) {
        lines.push_back(line);
        line = word;
      } else {
        line = joined;
      }
      start = end + 1;
    }
    lines.push_back(line);
  }
  return lines;
}

FXint FXKHelpTextView::getDefaultWidth() {
  FXint widest = 0;
  for (const FXString& line : wrap(0)) widest = FXMAX(widest, font_->getTextWidth(line));
  return widest + 2 * kMargin;
}

FXint FXKHelpTextView::getHeightForWidth(FXint width) {
  return static_cast<FXint>(wrap(width).size()) * font_->getFontHeight() + 2 * kMargin;
}

FXint FXKHelpTextView::getContentWidth() {
  FXint widest = 0;
  for (const FXString& line : wrap(width)) widest = FXMAX(widest, font_->getTextWidth(line));
  return widest + 2 * kMargin;
}

long FXKHelpTextView::onPaint(FXObject*, FXSelector, void* ptr) {
  FXDCWindow dc(this, static_cast<FXEvent*>(ptr));
  dc.setForeground(backColor);
  dc.fillRectangle(0, 0, width, height);
  dc.setFont(font_);
  dc.setForeground(textColor_);
  FXint y = kMargin + font_->getFontAscent();
  for (const FXString& line : wrap(width)) {
    dc.drawText(kMargin, y, line);
    y += font_->getFontHeight();
  }
  return 1;
}

long FXKHelpTextView::onButton(FXObject*, FXSelector sel, void* ptr) {
  return target ? target->tryHandle(this, FXSEL(FXSELTYPE(sel), message), ptr) : 0;
}

// ---- help popup ----

FXDEFMAP(FXKHelpPopup) FXKHelpPopupMap[] = {
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, FXKHelpPopup::ID_VIEW, FXKHelpPopup::onButtonPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, FXKHelpPopup::ID_VIEW, FXKHelpPopup::onButtonRelease),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKHelpPopup::onButtonPress),
    FXMAPFUNC(SEL_MIDDLEBUTTONPRESS, 0, FXKHelpPopup::onButtonPress),
    FXMAPFUNC(SEL_RIGHTBUTTONPRESS, 0, FXKHelpPopup::onButtonPress),
    FXMAPFUNC(SEL_LEFTBUTTONRELEASE, 0, FXKHelpPopup::onButtonRelease),
    FXMAPFUNC(SEL_MIDDLEBUTTONRELEASE, 0, FXKHelpPopup::onButtonRelease),
    FXMAPFUNC(SEL_RIGHTBUTTONRELEASE, 0, FXKHelpPopup::onButtonRelease),
};
FXIMPLEMENT(FXKHelpPopup, FXPopup, FXKHelpPopupMap, ARRAYNUMBER(FXKHelpPopupMap))

FXKHelpPopup::FXKHelpPopup(FXWindow* owner) : FXPopup(owner, 0x3000) {
  view_ = new FXKHelpTextView(this, this, ID_VIEW, 0xC00);
  // FOX's tooltip colours stand in for stock colours 10 and 11.
  view_->setBackColor(getApp()->getTipbackColor());
  view_->setTextColor(getApp()->getTipforeColor());
}

FXint FXKHelpPopup::getDefaultWidth() {
  FXint w = view_->getDefaultWidth();
  if (w > kMaxWidth) {
    view_->resize(kMaxWidth, view_->getHeightForWidth(kMaxWidth));
    w = view_->getContentWidth();
  }
  return w + 2 * border;
}

FXint FXKHelpPopup::getHeightForWidth(FXint width) {
  return view_->getHeightForWidth(width - 2 * border) + 2 * border;
}

FXint FXKHelpPopup::getDefaultHeight() { return getHeightForWidth(getDefaultWidth()); }

void FXKHelpPopup::popupNear(FXWindow* window, FXint x, FXint y) {
  const FXint w = getDefaultWidth();
  const FXint h = getHeightForWidth(w);
  popup(window, x - 10, y - h - 10, w, h);
}

long FXKHelpPopup::onButtonPress(FXObject* sender, FXSelector sel, void* ptr) {
  flags |= FLAG_PRESSED;
  auto* event = static_cast<FXEvent*>(ptr);
  if (event && contains(event->root_x, event->root_y)) return 0;
  FXPopup::onButtonPress(sender, sel, ptr);
  // Without a popup chain to unwind, FOX leaves it up.
  if (shown()) popdown();
  return 1;
}

long FXKHelpPopup::onButtonRelease(FXObject*, FXSelector, void*) {
  if (!(flags & FLAG_PRESSED)) return 0;
  flags &= ~FLAG_PRESSED;
  popdown();
  return 1;
}

// ---- password dialog ----

FXDEFMAP(FXKPasswordDialog) FXKPasswordDialogMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXDialogBox::ID_ACCEPT, FXKPasswordDialog::onCmdAccept),
};
FXIMPLEMENT(FXKPasswordDialog, FXDialogBox, FXKPasswordDialogMap, ARRAYNUMBER(FXKPasswordDialogMap))

FXKPasswordDialog::FXKPasswordDialog(FXWindow* owner, const FXWString& title, const FXWString& header, FXuint options,
                                     int, bool help)
    : FXDialogBox(owner, title.toUtf8().c_str(), DECOR_TITLE | DECOR_BORDER | DECOR_CLOSE), mode_(options) {
  auto* content = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  if (!header.empty()) new FXLabel(content, header.toUtf8().c_str(), nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X);
  auto* matrix = new FXMatrix(content, 2, MATRIX_BY_COLUMNS | LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  auto row = [&](const char16_t* label, FXuint fieldOptions, const char* helpText) {
    new FXLabel(matrix, fxAcceleratorText(label), nullptr, LABEL_NORMAL, 0, 0, 0, 0, 2, 2, 2, 2);
    auto* field = new FXTextField(matrix, 20, nullptr, 0, fieldOptions | LAYOUT_FILL_COLUMN | LAYOUT_FILL_X, 0, 0, 0,
                                  0, 2, 2, 2, 2);
    if (helpText) field->setHelpText(helpText);
    return field;
  };
  constexpr FXuint kText = FRAME_SUNKEN | FRAME_THICK;
  if (options & PASSWORD_USER) {
    userField_ = row(u"\u2382User name:", kText, nullptr);
  }
  if (options & PASSWORD_CHANGE) {
    if (!(options & PASSWORD_NO_OLD))
      passwordField_ = row(u"\u2382Old password:", kText | TEXTFIELD_PASSWD,
                           "Provides a space for you to enter the old password.");
    newPasswordField_ =
        row(u"Pass\u2382word:", kText | TEXTFIELD_PASSWD, "Provides a space for you to enter a new password.");
    confirmField_ = row(u"Con\u2382firm password:", kText | TEXTFIELD_PASSWD,
                        "Provides a space for you to confirm the new password.");
  } else {
    passwordField_ =
        row(u"Pass\u2382word:", kText | TEXTFIELD_PASSWD, "Provides a space for you to enter the password.");
  }
  auto* buttons = new FXHorizontalFrame(content, LAYOUT_RIGHT | PACK_UNIFORM_WIDTH);
  auto* ok = new FXButton(buttons, "OK", nullptr, this, ID_ACCEPT, BUTTON_NORMAL | BUTTON_DEFAULT | BUTTON_INITIAL);
  ok->setHelpText("Closes the dialog box and saves all the changes you have made.");
  auto* cancel = new FXButton(buttons, "Cancel", nullptr, this, ID_CANCEL, BUTTON_NORMAL);
  cancel->setHelpText("Closes the dialog box without saving all the changes you have made.");
  if (help) new FXButton(buttons, "&Help", nullptr, nullptr, 0, BUTTON_NORMAL);
}

void FXKPasswordDialog::create() {
  FXDialogBox::create();
  if (userField_) userField_->setFocus();
}

FXWString FXKPasswordDialog::getUserName() const {
  return userField_ ? FXWString::fromUtf8(userField_->getText().text()) : FXWString();
}

void FXKPasswordDialog::setUserName(const FXWString& name) {
  if (!userField_) return;
  userField_->setText(name.toUtf8().c_str());
}

FXWString FXKPasswordDialog::getPassword() const {
  return passwordField_ ? FXWString::fromUtf8(passwordField_->getText().text()) : FXWString();
}

FXWString FXKPasswordDialog::getNewPassword() const {
  return newPasswordField_ ? FXWString::fromUtf8(newPasswordField_->getText().text()) : FXWString();
}

bool FXKPasswordDialog::canAccept() {
  if (!(mode_ & PASSWORD_CHANGE)) return true;
  if (newPasswordField_->getText() == confirmField_->getText()) return true;
  if (FXKorvaneApp::MessageHook hook = FXKorvaneApp::messageHook())
    hook(this, 1, FXWString(u"Passwords do not match."), FXWString());
  else
    FXMessageBox::error(this, MBOX_OK, getApp()->getAppName().text(), "Passwords do not match.");
  return false;
}

long FXKPasswordDialog::onCmdAccept(FXObject* sender, FXSelector sel, void* ptr) {
  if (!canAccept()) return 1;
  return FXDialogBox::onCmdAccept(sender, sel, ptr);
}
