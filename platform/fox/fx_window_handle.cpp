#include "platform/fox/fx_window_handle.h"

#include <map>

#include "platform/win32/user32/window.h"

namespace FX {
namespace {

std::map<FXTopWindow*, HWND>& handles() {
  static std::map<FXTopWindow*, HWND> map;
  return map;
}

LRESULT toolkitWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* window = reinterpret_cast<FXTopWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (message) {
    case KV_WM_GETPLACEMENT:
      if (!window || !window->id()) return SW_HIDE;
      if (window->isMinimized()) return SW_SHOWMINIMIZED;
      return window->shown() ? SW_SHOWNORMAL : SW_HIDE;
    case KV_WM_SHOWWINDOW: {
      if (!window || !window->id()) return 0;
      const LRESULT was = window->shown() ? 1 : 0;
      switch (static_cast<int>(wParam)) {
        case SW_HIDE: window->hide(); break;
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED: window->minimize(); break;
        case SW_RESTORE: window->restore(); window->show(); break;
        default: window->show(); break;
      }
      window->getApp()->flush();
      return was;
    }
    case KV_WM_FOREGROUND:
      if (!window || !window->id()) return 0;
      window->raise();
      window->setFocus();
      window->getApp()->flush();
      return 1;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

}  // namespace

HWND fxWindowHandle(FXTopWindow* window) {
  if (!window) return nullptr;
  auto it = handles().find(window);
  if (it != handles().end() && IsWindow(it->second)) return it->second;
  static const char kClass[] = "KvToolkitWindow";
  WNDCLASSA wc{};
  if (!GetClassInfoA(nullptr, kClass, &wc)) {
    wc.lpfnWndProc = toolkitWindowProc;
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);
  }
  HWND h = CreateWindowExA(0, kClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!h) return nullptr;
  SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  handles()[window] = h;
  return h;
}

void forgetWindowHandle(FXTopWindow* window) {
  auto it = handles().find(window);
  if (it == handles().end()) return;
  DestroyWindow(it->second);
  handles().erase(it);
}

}  // namespace FX
