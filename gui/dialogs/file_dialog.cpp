#include "gui/dialogs/file_dialog.h"

#include <vector>

#include "platform/fox/fx_file_dialog.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/windows.h"

using namespace FX;

std::u16string FXKFileDialogFilter(const FXWString& filter) {
  std::u16string out;
  const std::u16string text = filter.text();
  if (text.empty()) return out;
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c != u'(') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 == text.size()) break;
    out += u'\0';
    ++i;
    while (i < text.size() && text[i] != u')') {
      if (text[i] != u' ') out += text[i];
      ++i;
    }
    out += u'\0';
    while (i < text.size() && text[i] != u'\n') ++i;
    if (i < text.size()) ++i;  // the line feed
  }
  out += u'\0';
  return out;
}

bool FXKShowFileDialog(FXWindow* owner, FXWString& path, const FXWString& filter, FXuint flags) {
  // Room for the longest Windows path, so that neither the given path nor the
  // chosen one is ever cut.
  constexpr DWORD kBuffer = 32768;
  std::vector<WCHAR> buffer(kBuffer, 0);
  const std::u16string initial = path.text();
  for (std::size_t i = 0; i < initial.size() && i + 1 < kBuffer; ++i) buffer[i] = initial[i];
  const std::u16string filters = FXKFileDialogFilter(filter);

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  auto* top = owner ? dynamic_cast<FXTopWindow*>(owner->getShell()) : nullptr;
  ofn.hwndOwner = top ? fxWindowHandle(top) : nullptr;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = kBuffer;
  if (!filters.empty()) {
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
  }
  ofn.Flags = (flags & 2) ? 0x81804 : 0x80804;
  if (flags & 4) ofn.Flags |= OFN_OVERWRITEPROMPT;
  const BOOL chosen = (flags & 1) ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (chosen != 1) return false;
  path = FXWString(reinterpret_cast<const char16_t*>(buffer.data()));
  return true;
}

FXWString FXKRegistryText::read(const FXWString& subkey, const FXWString& valueName, const FXWString& def) const {
  FXWString result = def;
  std::u16string full = subkey.text();
  if (!basePath.empty()) full = std::u16string(basePath.text()) + u"\\" + full;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, full.c_str(), 0, 0x20019, &key) != ERROR_SUCCESS) return result;
  DWORD size = 0;
  const LONG queried = RegQueryValueExW(key, valueName.text(), nullptr, nullptr, nullptr, &size);
  RegCloseKey(key);
  if (queried != ERROR_SUCCESS || size == 0) return result;
  std::vector<unsigned char> data(static_cast<std::size_t>(size) + 2, 0);
  if (RegOpenKeyExW(root, full.c_str(), 0, 0x20019, &key) != ERROR_SUCCESS) return result;
  DWORD got = size;
  const LONG read = RegQueryValueExW(key, valueName.text(), nullptr, nullptr, data.data(), &got);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS) return result;
  // The value may have grown in between: only what fits the buffer counts.
  if (got > size) got = size;
  const std::size_t end = got & ~static_cast<DWORD>(1);
  data[end] = 0;
  data[end + 1] = 0;
  std::u16string text;
  for (std::size_t i = 0; i + 1 < end + 2; i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (!c) break;
    text += c;
  }
  if (text.empty()) return result;
  return FXWString(text.c_str());
}

// ---- update message box ----

FXDEFMAP(FXKUpdateMessageBox) FXKUpdateMessageBoxMap[] = {
    FXMAPFUNC(SEL_COMMAND, FXKUpdateMessageBox::ID_CHECK, FXKUpdateMessageBox::onCmdCheck),
    FXMAPFUNCS(SEL_COMMAND, FXKUpdateMessageBox::ID_BUTTON_FIRST, FXKUpdateMessageBox::ID_BUTTON_SECOND,
               FXKUpdateMessageBox::onCmdButton),
};
FXIMPLEMENT(FXKUpdateMessageBox, FXDialogBox, FXKUpdateMessageBoxMap, ARRAYNUMBER(FXKUpdateMessageBoxMap))

FXKUpdateMessageBox::FXKUpdateMessageBox(FXWindow* owner, const FXWString& title, const FXWString& text,
                                         const FXWString& check, const FXWString& first, const FXWString& second)
    : FXDialogBox(owner, title.toUtf8().c_str(), DECOR_TITLE | DECOR_BORDER) {
  auto* content = new FXVerticalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  new FXLabel(content, text.toUtf8().c_str(), nullptr, FXuint(JUSTIFY_LEFT) | LAYOUT_FILL_X);
  new FXCheckButton(content, check.toUtf8().c_str(), this, ID_CHECK);
  buttons_ = new FXHorizontalFrame(content, FXuint(LAYOUT_RIGHT) | PACK_UNIFORM_HEIGHT);
  new FXButton(buttons_, first.toUtf8().c_str(), nullptr, this, ID_BUTTON_FIRST, BUTTON_NORMAL | BUTTON_DEFAULT);
  new FXButton(buttons_, second.toUtf8().c_str(), nullptr, this, ID_BUTTON_SECOND, BUTTON_NORMAL);
}

FXKUpdateMessageBox::~FXKUpdateMessageBox() = default;

void FXKUpdateMessageBox::equalizeButtons() {
  if (!buttons_) return;
  FXint widest = 80;
  for (FXWindow* child = buttons_->getFirst(); child; child = child->getNext())
    widest = FXMAX(widest, child->getDefaultWidth());
  for (FXWindow* child = buttons_->getFirst(); child; child = child->getNext()) {
    child->setLayoutHints(child->getLayoutHints() | LAYOUT_FIX_WIDTH);
    child->setWidth(widest);
  }
  flags &= ~FLAG_RECALC;
}

void FXKUpdateMessageBox::layout() {
  equalizeButtons();
  FXDialogBox::layout();
  flags &= ~FLAG_DIRTY;
}

FXint FXKUpdateMessageBox::getDefaultWidth() {
  if (flags & FLAG_RECALC) equalizeButtons();
  const FXint width = FXDialogBox::getDefaultWidth();
  if (width <= 450) return width;
  return FXMAX(450, buttons_->getDefaultWidth() + getPadLeft() + getPadRight());
}

long FXKUpdateMessageBox::onCmdCheck(FXObject*, FXSelector, void* ptr) {
  checked_ = ptr != nullptr;
  return 1;
}

long FXKUpdateMessageBox::onCmdButton(FXObject*, FXSelector sel, void*) {
  const FXint value = FXSELID(sel) - 72;
  if (target && target->tryHandle(this, FXSEL(SEL_COMMAND, message), reinterpret_cast<void*>(static_cast<FXival>(value))))
    return 1;
  getApp()->stopModal(this, value);
  hide();
  return 1;
}
