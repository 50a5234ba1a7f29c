#include "platform/fox/fx_test_display.h"

#include <X11/Xlib.h>

namespace FX {
bool holdTestDisplay() {
  static Display* display = XOpenDisplay(nullptr);  // kept: closed by the process's end
  return display != nullptr;
}
}  // namespace FX
