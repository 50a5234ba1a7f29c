#define KV_FX_TEST_DISPLAY_NO_FIXTURE
#include "platform/fox/fx_test_display.h"

#include <X11/Xlib.h>

#include "platform/fox/fx_app.h"

#include <thread>

namespace FX {
namespace {
// The application's own event run (chores included) when it has one.
void runEvents(FXApp* app) {
  if (auto* ext = dynamic_cast<FXExtApp*>(app)) ext->runWhileEvents(nullptr);
  else app->runWhileEvents();
}
}  // namespace

bool holdTestDisplay() {
  static Display* display = XOpenDisplay(nullptr);  // kept: closed by the process's end
  return display != nullptr;
}

void settleEvents(FXApp* app, int rounds) {
  app->flush(true);
  for (int i = 0; i < rounds; ++i) {
    runEvents(app);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  app->flush(true);
}

FXColor readPixel(FXWindow* window, FXint x, FXint y) {
  FXImage image(window->getApp(), nullptr, IMAGE_KEEP | IMAGE_OWNED, 1, 1);
  image.create();
  {
    FXDCWindow dc(&image);
    dc.drawArea(window, x, y, 1, 1, 0, 0);
  }
  image.restore();
  return image.getPixel(0, 0) | 0xFF000000u;
}

FXColor pixelOnceShown(FXWindow* window, FXint x, FXint y, FXColor expected, std::chrono::milliseconds patience) {
  FXApp* app = window->getApp();
  FXColor seen = readPixel(window, x, y);
  const auto end = std::chrono::steady_clock::now() + patience;
  while (seen != expected && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    window->update();
    runEvents(app);
    window->repaint();
    app->flush(true);
    seen = readPixel(window, x, y);
  }
  return seen;
}

bool shownWithin(FXWindow* window, const std::function<bool()>& shows, std::chrono::milliseconds patience) {
  FXApp* app = window->getApp();
  bool seen = shows();
  const auto end = std::chrono::steady_clock::now() + patience;
  while (!seen && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    window->update();
    runEvents(app);
    window->repaint();
    app->flush(true);
    seen = shows();
  }
  return seen;
}
}  // namespace FX
