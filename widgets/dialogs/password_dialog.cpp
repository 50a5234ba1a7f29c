#include "widgets/dialogs/password_dialog.h"

#include "widgets/dialogs/message_box.h"

using namespace FX;

namespace {

constexpr FXColor kClear = FXRGBA(0, 0, 0, 0);

// A key lying on its side, bow at the left, drawn into `icon` at (x, y) with
// the given size.
void drawKey(FXIcon* icon, FXint x0, FXint y0, FXint size, FXColor color) {
  const FXint r = size / 4, cx = x0 + r + 1, cy = y0 + size / 2;
  for (FXint y = y0; y < y0 + size; ++y)
    for (FXint x = x0; x < x0 + size; ++x) {
      const FXint dx = x - cx, dy = y - cy;
      const FXint d2 = dx * dx + dy * dy;
      const bool ring = d2 <= r * r && d2 >= (r / 2) * (r / 2);
      const bool shaft = x > cx + r / 2 && x < x0 + size - 1 && dy >= -size / 16 && dy <= size / 16;
      const bool bit = (x >= x0 + size - size / 4 && x < x0 + size - size / 8) && dy > 0 && dy <= size / 6;
      if (ring || shaft || bit) icon->setPixel(x, y, color);
    }
}

// Header kind 1: a 320x60 banner from white to light blue with a key at its
// right end; otherwise a 32x32 key.
FXIcon* headerPicture(FXApp* app, int headerKind) {
  const FXint w = headerKind == 1 ? 320 : 32, h = headerKind == 1 ? 60 : 32;
  auto* icon = new FXIcon(app, nullptr, 0, IMAGE_KEEP | IMAGE_OWNED | IMAGE_ALPHACOLOR, w, h);
  for (FXint y = 0; y < h; ++y)
    for (FXint x = 0; x < w; ++x) {
      if (headerKind != 1) {
        icon->setPixel(x, y, kClear);
        continue;
      }
      const FXint t = x * 255 / (w - 1);
      icon->setPixel(x, y, FXRGB(255 - t * 40 / 255, 255 - t * 20 / 255, 255));
    }
  if (headerKind == 1)
    drawKey(icon, w - 52, (h - 44) / 2, 44, FXRGB(200, 150, 30));
  else
    drawKey(icon, 0, 0, 32, FXRGB(200, 150, 30));
  return icon;
}

FXString utf8(const FXWString& text) { return FXString(text.toUtf8().c_str()); }

}  // namespace

FXIMPLEMENT(FXKPasswordDialog, FXKOperationDialog, nullptr, 0)

FXKPasswordDialog::FXKPasswordDialog(FXWindow* owner, const FXWString& title, const FXWString& header, FXuint options,
                                     int headerKind, bool help)
    : FXKPasswordDialog(owner, title, header, options, headerKind, help, headerPicture(FXApp::instance(), headerKind)) {}

FXKPasswordDialog::FXKPasswordDialog(FXWindow* owner, const FXWString& title, const FXWString& header, FXuint options,
                                     int headerKind, bool help, FXIcon* picture)
    : FXKOperationDialog(owner, title, header, picture, options | FXuint(OPDLG_TIGHT_BODY), headerKind == 1 ? 2 : 3,
                         help ? 1 : 0),
      mode_(options),
      headerIcon_(picture) {
  auto* matrix =
      new FXMatrix(bodyFrame(), 2, FXuint(MATRIX_BY_COLUMNS) | LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
  matrix->setBackColor(bodyFrame()->getBackColor());
  auto row = [&](const char16_t* label, bool secret, const char* helpText) {
    auto* caption = new FXLabel(matrix, fxHotkeyText(label), nullptr, LABEL_NORMAL, 0, 0, 0, 0, 2, 2, 2, 2);
    caption->setBackColor(matrix->getBackColor());
    auto* field = new FXTextField(matrix, 20, nullptr, 0,
                                  FXuint(FRAME_SUNKEN) | FRAME_THICK | LAYOUT_FILL_COLUMN | LAYOUT_FILL_X |
                                      (secret ? FXuint(TEXTFIELD_PASSWD) : 0u),
                                  0, 0, 0, 0, 2, 2, 2, 2);
    if (helpText) field->setHelpText(helpText);
    return field;
  };
  if (options & PASSWORD_USER) userField_ = row(u"\u2382User name:", false, nullptr);
  if (options & PASSWORD_CHANGE) {
    if (!(options & PASSWORD_NO_OLD))
      passwordField_ = row(u"\u2382Old password:", true, "Provides a space for you to enter the old password.");
    newPasswordField_ = row(u"Pass\u2382word:", true, "Provides a space for you to enter a new password.");
    confirmField_ = row(u"Con\u2382firm password:", true, "Provides a space for you to confirm the new password.");
  } else {
    passwordField_ = row(u"Pass\u2382word:", true, "Provides a space for you to enter the password.");
  }
  initial_ = userField_;
  createButtons(help ? 11 : 3, 1);
  if (okButton()) okButton()->setHelpText("Closes the dialog box and saves all the changes you have made.");
  if (cancelButton())
    cancelButton()->setHelpText("Closes the dialog box without saving all the changes you have made.");
}

FXKPasswordDialog::~FXKPasswordDialog() { delete headerIcon_; }

void FXKPasswordDialog::create() {
  if (headerIcon_) headerIcon_->create();
  FXKOperationDialog::create();
  if (initial_) initial_->setFocus();
}

FXWString FXKPasswordDialog::getUserName() const {
  return userField_ ? FXWString::fromUtf8(userField_->getText().text()) : FXWString();
}

void FXKPasswordDialog::setUserName(const FXWString& name) {
  if (!userField_) return;
  userField_->setText(utf8(name));
  // A known user name leaves the password to type: the focus moves on.
  if (!name.empty() && initial_ == userField_) {
    FXTextField* next = passwordField_ ? passwordField_ : newPasswordField_;
    if (next) {
      initial_ = next;
      if (id() && userField_->hasFocus()) next->setFocus();
    }
  }
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
  FXKMessageBox::message(this, FXKMessageBox::KIND_ERROR, FXWString(u"Passwords do not match."), FXWString());
  return false;
}
