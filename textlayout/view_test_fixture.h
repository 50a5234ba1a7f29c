// One application for the view, table, hit-test and printing tests: FOX on
// the test's X display (Xvfb), the normal font fixed to DejaVu Sans 9 (15
// pixels high) so that widths and heights are the same on every machine.
#pragma once

#include <fx.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/fox/fx_app.h"
#include "platform/fox/fx_test_display.h"
#include "textlayout/layout.h"

namespace kvtest {

class ViewApp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::getenv("DISPLAY") || !FX::holdTestDisplay()) return;
    app = new FX::FXExtApp("kvtextview", "kvtest");
    static int argc = 1;
    static char name[] = "kvtextview";
    static char* argv[] = {name, nullptr};
    app->init(argc, argv);
    font = new FX::FXFont(app, "DejaVu Sans", 9);
    original = app->getNormalFont();
    app->setNormalFont(font);
    main = new FX::FXMainWindow(app, "kvtextview", nullptr, nullptr, FX::DECOR_ALL, 0, 0, 400, 300);
    app->create();
  }
  static void TearDownTestSuite() {
    if (!app) return;
    // The application frees the normal font it made, not one given to it.
    app->setNormalFont(original);
    delete main;
    delete font;
    delete app;
    app = nullptr;
    main = nullptr;
    font = nullptr;
  }
  void SetUp() override {
    if (!app) GTEST_SKIP() << "no X display";
  }
  static Processor::RefPtr<FXKTextLayout> layoutOf(const char16_t* markup, int width) {
    auto l = Processor::makeRef<FXKTextLayout>(static_cast<FX::FXApp*>(app), false);
    l->setText(FX::FXWString(markup));
    l->create();
    l->layout(width, 0, true);
    return l;
  }
  static int textWidth(const char* s) { return font->getTextWidth(s, static_cast<FX::FXuint>(std::strlen(s))); }
  // Runs the event loop until nothing is pending.
  static void settle() {
    for (int i = 0; i < 5; ++i) {
      app->flush(true);
      while (app->peekEvent()) app->runOneEvent(false);
      app->repaint();
    }
  }
  // The first block in text order whose flags hold all of `flag`.
  static FXKTextLayout::block* findBlock(FXKTextLayout::block& b, std::uint32_t flag) {
    for (FXKTextLayout::block& c : b.children) {
      if ((c.flags & flag) == flag) return &c;
      if (FXKTextLayout::block* f = findBlock(c, flag)) return f;
    }
    return nullptr;
  }

  static FX::FXExtApp* app;
  static FX::FXFont* font;
  static FX::FXFont* original;
  static FX::FXMainWindow* main;
};

inline FX::FXExtApp* ViewApp::app = nullptr;
inline FX::FXFont* ViewApp::font = nullptr;
inline FX::FXFont* ViewApp::original = nullptr;
inline FX::FXMainWindow* ViewApp::main = nullptr;

}  // namespace kvtest
