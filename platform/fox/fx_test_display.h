// Test support for GUI tests on a real X display (Xvfb): the display kept
// open, one application per test, and pixels read back from shown windows.
// Only test programs include this header.
#pragma once

#include <fx.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

namespace FX {
// Holds one more connection to the X display for the life of the process, so
// the X server does not reset (dropping the atoms FOX keeps in its statics)
// when an application closes its display. False when there is no display.
bool holdTestDisplay();

// Runs the application's pending events a few times, pausing between rounds.
void settleEvents(FXApp* app, int rounds = 20);

// The colour at (x, y) of a shown window as the display has it (alpha set).
FXColor readPixel(FXWindow* window, FXint x, FXint y);

// A busy X server may map and paint a new window late: reads again,
// repainting, until the expected colour shows or `patience` has passed.
FXColor pixelOnceShown(FXWindow* window, FXint x, FXint y, FXColor expected,
                       std::chrono::milliseconds patience = std::chrono::milliseconds(2000));

// The same for any check of what the display shows (ink counts, several
// pixels): repaints `window` and asks again until `shows` holds or `patience`
// has passed; answers the last result.
bool shownWithin(FXWindow* window, const std::function<bool()>& shows,
                 std::chrono::milliseconds patience = std::chrono::milliseconds(2000));
}  // namespace FX

#ifndef KV_FX_TEST_DISPLAY_NO_FIXTURE
#include <gtest/gtest.h>

namespace FX {
// One application of type App per test, initialised and created, with an
// optional main window; skipped without a display. Derived fixtures add their
// windows in beforeCreate().
template <class App>
class FXAppTest : public ::testing::Test {
 protected:
  // Size of the main window; 0 makes none.
  explicit FXAppTest(FXint mainWidth = 0, FXint mainHeight = 0) : mainWidth_(mainWidth), mainHeight_(mainHeight) {}

  virtual std::unique_ptr<App> makeApp() = 0;
  virtual void beforeCreate() {}
  virtual void afterCreate() {}
  virtual void beforeDestroy() {}

  void SetUp() override {
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
    app = makeApp();
    // FOX keeps argv (a main window hands it to the window manager on create).
    static int argc = 1;
    static char name[] = "kvtest";
    static char* argv[] = {name, nullptr};
    app->init(argc, argv);
    if (mainWidth_ > 0) {
      main = new FXMainWindow(app.get(), "main", nullptr, nullptr, DECOR_ALL, 0, 0, mainWidth_, mainHeight_);
      setMain(app.get());
    }
    beforeCreate();
    app->create();
    afterCreate();
  }
  void TearDown() override {
    if (!app) return;
    beforeDestroy();
    app->destroy();
    app.reset();
  }
  void settle(int rounds = 20) { settleEvents(app.get(), rounds); }

  std::unique_ptr<App> app;
  FXMainWindow* main = nullptr;

 private:
  // Applications that keep a main window of their own are told of it.
  template <class A>
  auto setMain(A* a) -> decltype(a->setMainWindow(main), void()) {
    a->setMainWindow(main);
  }
  void setMain(...) {}

  FXint mainWidth_;
  FXint mainHeight_;
};
}  // namespace FX
#endif
