#include "gui/dialogs/help.h"

#include <atomic>
#include <memory>
#include <string>

#include "files/windows_dir.h"
#include "files/zip_file.h"
#include "gui/app/korvane_app.h"
#include "gui/dialogs/help_popups.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/windows.h"

using namespace FX;

namespace {

// Pages and pop-up texts are small; anything larger is no help page.
constexpr std::size_t kMaxMember = 8u << 20;

bool readMember(const std::u16string& archivePath, const std::u16string& member, std::string& out) {
  win32_dir* dir = current_dir();
  if (!dir) return false;
  std::unique_ptr<ri_file> file(dir->open_file(archivePath.c_str(), true));
  dir->clear_error();
  if (!file) return false;
  zip_file zip(file.get());
  if (zip.Bad()) return false;
  std::unique_ptr<ri_file> page(zip.open_file(member.c_str(), true));
  if (!page) return false;
  char buffer[16384];
  for (;;) {
    std::uint32_t got = 0;
    page->read(buffer, sizeof buffer, got);
    if (page->Bad()) return false;
    if (got == 0) return true;
    out.append(buffer, got);
    if (out.size() > kMaxMember) return false;
  }
}

// "file::/page.htm>window" → file and page.
void splitHelpPath(std::u16string path, std::u16string& file, std::u16string& page) {
  const std::size_t window = path.rfind(u'>');
  const std::size_t sep = path.find(u"::/");
  if (window != std::u16string::npos && (sep == std::u16string::npos || window > sep)) path.resize(window);
  if (sep == std::u16string::npos) {
    file = path;
    page.clear();
  } else {
    file = path.substr(0, sep);
    page = path.substr(sep + 3);
  }
}

// A page name is one plain member name: no folders, no way out of the
// extraction folder.
bool plainName(const std::u16string& name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name)
    if (c == u'/' || c == u'\\' || c == u':' || c < 0x20) return false;
  return true;
}

HWND openPage(HWND caller, const std::u16string& archive, const std::u16string& page) {
  if (!plainName(page)) return nullptr;
  std::string bytes;
  if (!readMember(archive, page, bytes)) return nullptr;
  char16_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return nullptr;
  std::u16string folder(temp, n);
  if (folder.back() != u'\\') folder += u'\\';
  folder += u"kvhelp";
  win32_dir* dir = current_dir();
  if (!dir) return nullptr;
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::u16string target = folder + u"\\" + page;
  {
    std::unique_ptr<ro_file> out(dir->create_file(target.c_str(), false, nullptr));
    dir->clear_error();
    if (!out) return nullptr;
    std::uint32_t put = 0;
    out->write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), put);
    if (out->Bad() || put != bytes.size()) return nullptr;
  }
  const HINSTANCE r = ShellExecuteW(caller, u"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<std::intptr_t>(r) <= 32) return nullptr;
  return caller ? caller : reinterpret_cast<HWND>(static_cast<std::intptr_t>(1));
}

bool popupText(const std::u16string& archive, UINT id, std::u16string& text) {
  std::string bytes;
  return readMember(archive, u"popups.txt", bytes) && helpPopupText(bytes, id, text);
}

// The pop-up lives in a library above this one; without it nothing shows.
bool runPopup(FXWindow* owner, const std::u16string& text, FXint x, FXint y) {
  FXKorvaneApp::HelpPopupHook hook = FXKorvaneApp::helpPopupHook();
  return hook && hook(owner, FXWString(text.c_str()), x, y);
}

}  // namespace

HWND HtmlHelpW(HWND caller, const WCHAR* file, UINT command, DWORD_PTR data) {
  if (!file) return nullptr;
  std::u16string archive, page;
  splitHelpPath(file, archive, page);
  switch (command) {
    case HH_DISPLAY_TOC: return openPage(caller, archive, u"index.htm");
    case HH_DISPLAY_TOPIC: return openPage(caller, archive, page.empty() ? u"index.htm" : page);
    case HH_DISPLAY_TEXT_POPUP: {
      auto* popup = reinterpret_cast<const HH_POPUP*>(data);
      if (!popup) return nullptr;
      std::u16string text;
      if (popup->pszText) text = popup->pszText;
      else if (!popupText(archive, popup->idString, text)) return nullptr;
      FXWindow* owner = caller ? reinterpret_cast<FXTopWindow*>(GetWindowLongPtrA(caller, GWLP_USERDATA)) : nullptr;
      if (!runPopup(owner, text, popup->pt.x, popup->pt.y)) return nullptr;
      return caller ? caller : reinterpret_cast<HWND>(static_cast<std::intptr_t>(1));
    }
    default: return nullptr;
  }
}

BOOL WinHelpW(HWND, const WCHAR*, UINT, ULONG_PTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

namespace {
HWND callerOf(const FXKHelpRequest& r) {
  FXWindow* shell = r.window ? r.window->getShell() : nullptr;
  auto* top = dynamic_cast<FXTopWindow*>(shell);
  return top ? fxWindowHandle(top) : nullptr;
}
}  // namespace

bool FXKorvaneApp::htmlHelpViewer(void* request) {
  auto* r = static_cast<FXKHelpRequest*>(request);
  if (!r) return false;
  const HWND caller = callerOf(*r);
  const std::u16string file = r->helpFile.text();
  if (r->topic == 0) return HtmlHelpW(caller, file.c_str(), HH_DISPLAY_TOC, 0) != nullptr;
  if (r->flags & 0x1) {
    HH_POPUP popup{};
    popup.cbStruct = 52;
    popup.idString = static_cast<UINT>(r->topic);
    popup.pt.x = r->x;
    popup.pt.y = r->y;
    popup.clrForeground = popup.clrBackground = static_cast<FXColor>(-1);
    popup.rcMargins = RECT{-1, -1, -1, -1};
    const std::u16string path = file + u"::/popups.txt";
    return HtmlHelpW(caller, path.c_str(), HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup)) != nullptr;
  }
  const std::u16string path = file + u"::/" + FXWString::fromUtf8(std::to_string(r->topic).c_str()).text() +
                              u".htm>mainwin";
  return HtmlHelpW(caller, path.c_str(), HH_DISPLAY_TOPIC, 0) != nullptr;
}

bool FXKorvaneApp::winHelpViewer(void* request) {
  auto* r = static_cast<FXKHelpRequest*>(request);
  if (!r) return false;
  const HWND caller = callerOf(*r);
  const std::u16string file = r->helpFile.text();
  if (r->topic == 0) return WinHelpW(caller, file.c_str(), HELP_FINDER, 0) != FALSE;
  if (r->flags & 0x1) {
    const ULONG_PTR pos = (static_cast<std::uint16_t>(r->x)) | (static_cast<ULONG_PTR>(static_cast<std::uint16_t>(r->y)) << 16);
    WinHelpW(caller, file.c_str(), HELP_SETPOPUP_POS, pos);
    return WinHelpW(caller, file.c_str(), HELP_CONTEXTPOPUP, static_cast<ULONG_PTR>(r->topic)) != FALSE;
  }
  return WinHelpW(caller, file.c_str(), HELP_CONTEXT, static_cast<ULONG_PTR>(r->topic)) != FALSE;
}

bool FXKShowHelpTopic(FXKorvaneApp* app, FXKHelpRequest& request) {
  if (request.flags & 0x2) {
    return runPopup(request.window, request.text ? std::u16string(request.text) : std::u16string(), request.x,
                    request.y);
  }
  if (!app || !app->helpViewer()) return false;
  if (request.helpFile.empty() && (!request.text || (request.flags & 0x4))) {
    auto* owner = request.window ? dynamic_cast<FXKorvaneApp*>(request.window->getApp()) : app;
    request.helpFile = (owner ? owner : app)->helpFile();
  }
  return app->helpViewer()(&request);
}

bool FXKorvaneApp::showHelpTopic(FXKHelpRequest& request) { return FXKShowHelpTopic(this, request); }

namespace {
std::atomic<FXKorvaneApp::MessageHook> g_messageHook{nullptr};
std::atomic<FXKorvaneApp::HelpPopupHook> g_helpPopupHook{nullptr};
std::atomic<FXKorvaneApp::PasswordDialogHook> g_passwordDialogHook{nullptr};
}  // namespace

void FXKorvaneApp::setMessageHook(MessageHook hook) { g_messageHook = hook; }
FXKorvaneApp::MessageHook FXKorvaneApp::messageHook() { return g_messageHook; }
void FXKorvaneApp::setHelpPopupHook(HelpPopupHook hook) { g_helpPopupHook = hook; }
FXKorvaneApp::HelpPopupHook FXKorvaneApp::helpPopupHook() { return g_helpPopupHook; }
void FXKorvaneApp::setPasswordDialogHook(PasswordDialogHook hook) { g_passwordDialogHook = hook; }
FXKorvaneApp::PasswordDialogHook FXKorvaneApp::passwordDialogHook() { return g_passwordDialogHook; }
