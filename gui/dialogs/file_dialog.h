// The open/save file dialog, the reader of one registry text and the update
// message box. Includes FOX.
#pragma once

#include <fx.h>

#include <string>

#include "platform/fox/fxwstring.h"
#include "platform/win32/windows.h"

// Flags: 1 save dialog, 2 the file must exist, 4 ask before overwriting.
// True with `path` set to the chosen path; false (path untouched) when the
// user cancelled.
bool FXKShowFileDialog(FX::FXWindow* owner, FXWString& path, const FXWString& filter, FX::FXuint flags);

// "Packages (*.msi; *.msp)\n..." → "Packages \0*.msi;*.msp\0...\0": the
// Windows filter list with its closing NUL; empty for an empty text.
std::u16string FXKFileDialogFilter(const FXWString& filter);

class FXKRegistryText {
 public:
  explicit FXKRegistryText(HKEY root, const FXWString& basePath = FXWString()) : root(root), basePath(basePath) {}
  // The string value, or `def` when the key or value is missing, empty or
  // unreadable.
  FXWString read(const FXWString& subkey, const FXWString& valueName, const FXWString& def) const;

  HKEY root;
  FXWString basePath;
};

class FXKUpdateMessageBox : public FX::FXDialogBox {
  FXDECLARE(FXKUpdateMessageBox)

 public:
  enum { ID_CHECK = 71, ID_BUTTON_FIRST = 73, ID_BUTTON_SECOND = 74 };

  // A text, a check box and two buttons answering 1 and 2.
  FXKUpdateMessageBox(FX::FXWindow* owner, const FXWString& title, const FXWString& text, const FXWString& check,
                      const FXWString& first, const FXWString& second);
  ~FXKUpdateMessageBox() override;

  void layout() override;
  FX::FXint getDefaultWidth() override;
  void equalizeButtons();

  long onCmdCheck(FX::FXObject*, FX::FXSelector, void*);
  long onCmdButton(FX::FXObject*, FX::FXSelector, void*);

  bool isChecked() const { return checked_; }
  FX::FXHorizontalFrame* buttonFrame() const { return buttons_; }

 protected:
  FXKUpdateMessageBox() = default;

 private:
  bool checked_ = false;
  FX::FXHorizontalFrame* buttons_ = nullptr;
};
