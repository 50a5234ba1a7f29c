#include "platform/fox/fx_file_dialog.h"

#include <fx.h>

#include <string>

#include "platform/fox/fxwstring.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/user32/window.h"

using namespace FX;

namespace {

thread_local DWORD t_error = 0;

FXString utf8(const std::u16string& s) { return FXString(FXWString(s.c_str()).toUtf8().c_str()); }

// "desc\0*.a;*.b\0...\0\0" → "desc (*.a,*.b)\n...". FOX shows the patterns in
// the description itself, so a description that already ends with them is
// kept as it is.
FXString foxPatterns(const WCHAR* filter) {
  std::u16string out;
  const char16_t* p = reinterpret_cast<const char16_t*>(filter);
  while (p && *p) {
    std::u16string desc(p);
    p += desc.size() + 1;
    if (!*p) break;
    std::u16string pattern(p);
    p += pattern.size() + 1;
    for (char16_t& c : pattern)
      if (c == u';') c = u',';
    if (!out.empty()) out += u'\n';
    while (!desc.empty() && desc.back() == u' ') desc.pop_back();
    out += desc + u" (" + pattern + u")";
  }
  return utf8(out);
}

BOOL run(LPOPENFILENAMEW ofn, bool save) {
  t_error = 0;
  if (!ofn || ofn->lStructSize < 76) {
    t_error = CDERR_STRUCTSIZE;
    return FALSE;
  }
  FXApp* app = FXApp::instance();
  if (!app || !app->isInitialized() || !ofn->lpstrFile || ofn->nMaxFile == 0) {
    t_error = CDERR_INITIALIZATION;
    return FALSE;
  }
  FXWindow* owner = nullptr;
  if (ofn->hwndOwner) owner = reinterpret_cast<FXTopWindow*>(GetWindowLongPtrA(ofn->hwndOwner, GWLP_USERDATA));
  const FXString title = ofn->lpstrTitle ? utf8(reinterpret_cast<const char16_t*>(ofn->lpstrTitle))
                                         : FXString(save ? "Save As" : "Open");
  FXFileDialog* dialog = owner ? new FXFileDialog(owner, title) : new FXFileDialog(app, title);
  // The initial path is read up to its terminator or the buffer's end,
  // whichever comes first.
  std::u16string initial;
  for (DWORD i = 0; i < ofn->nMaxFile && ofn->lpstrFile[i]; ++i) initial += static_cast<char16_t>(ofn->lpstrFile[i]);
  if (ofn->lpstrFilter && *ofn->lpstrFilter) {
    dialog->setPatternList(foxPatterns(ofn->lpstrFilter));
    dialog->setCurrentPattern(ofn->nFilterIndex > 0 ? static_cast<FXint>(ofn->nFilterIndex) - 1 : 0);
  }
  if (!initial.empty()) {
    const std::string unix = win32::to_unix_path(reinterpret_cast<const WCHAR*>(initial.c_str()));
    dialog->setFilename(unix.empty() ? utf8(initial) : FXString(unix.c_str()));
  } else if (ofn->lpstrInitialDir && *ofn->lpstrInitialDir) {
    dialog->setDirectory(win32::to_unix_path(ofn->lpstrInitialDir).c_str());
  }
  dialog->setSelectMode(save ? SELECTFILE_ANY : (ofn->Flags & OFN_FILEMUSTEXIST) ? SELECTFILE_EXISTING : SELECTFILE_ANY);
  const bool accepted = dialog->execute(PLACEMENT_OWNER) != 0;
  const FXString chosen = dialog->getFilename();
  delete dialog;
  if (!accepted || chosen.empty()) return FALSE;
  std::u16string path = win32::to_windows_path(chosen.text());
  if (path.size() + 1 > ofn->nMaxFile) {
    t_error = FNERR_BUFFERTOOSMALL;
    if (path.size() + 1 <= 0xFFFF) ofn->lpstrFile[0] = static_cast<WCHAR>(path.size() + 1);
    return FALSE;
  }
  for (std::size_t i = 0; i < path.size(); ++i) ofn->lpstrFile[i] = static_cast<WCHAR>(path[i]);
  ofn->lpstrFile[path.size()] = 0;
  const std::size_t slash = path.find_last_of(u'\\');
  const std::size_t name = slash == std::u16string::npos ? 0 : slash + 1;
  const std::size_t dot = path.find_last_of(u'.');
  ofn->nFileOffset = static_cast<WORD>(name);
  ofn->nFileExtension = static_cast<WORD>(dot != std::u16string::npos && dot >= name ? dot + 1 : 0);
  return TRUE;
}

}  // namespace

BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn) { return run(ofn, false); }
BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn) { return run(ofn, true); }

namespace {
// Code below the GUI (the operating-system layer) finds the dialogs by name,
// as a program finds an export of a library it did not link.
struct Exports {
  Exports() {
    win32::register_export("comdlg32", "GetOpenFileNameW",
                           reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&GetOpenFileNameW)));
    win32::register_export("comdlg32", "GetSaveFileNameW",
                           reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&GetSaveFileNameW)));
  }
} exports;
}  // namespace
DWORD CommDlgExtendedError() { return t_error; }
