// A layer window handle for a toolkit window, so the layer's placement, show
// and foreground calls (also from another process) reach it. Includes FOX.
#pragma once

#include <fx.h>

#include "platform/win32/layer/types.h"

namespace FX {
// Made on first use on the GUI thread and kept until the window is gone
// (forgetWindowHandle) or the thread ends.
HWND fxWindowHandle(FXTopWindow* window);
void forgetWindowHandle(FXTopWindow* window);
}  // namespace FX
