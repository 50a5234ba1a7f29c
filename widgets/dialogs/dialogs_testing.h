// The dialog tests' fixture: an application on the test display inside a
// private world (registry and settings start empty), and a driver that acts on
// whatever modal window comes up.
#pragma once

#include <fx.h>
#include <fxkeys.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "gui/app/korvane_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/win32/windows.h"

namespace dialogs_test {

// Runs each step on the modal window of the wanted class once it is up; a
// step that answers false is tried again a little later.
class ModalDriver : public FX::FXObject {
  FXDECLARE(ModalDriver)

 public:
  using Step = std::function<bool(FX::FXWindow*)>;
  void start(Step s, FX::FXuint delay = 10) {
    step = std::move(s);
    FX::FXApp::instance()->addTimeout(this, 1, delay);
  }
  long onTimeout(FX::FXObject*, FX::FXSelector, void*) {
    // Armed again first: a step may run a nested modal loop of its own.
    FX::FXApp::instance()->addTimeout(this, 1, 10);
    FX::FXWindow* modal = FX::FXApp::instance()->getModalWindow();
    if (modal && modal->shown() && step(modal)) FX::FXApp::instance()->removeTimeout(this, 1);
    return 1;
  }
  Step step;
};

// What a click does: a check box toggles and tells its target, a button
// sends its command.
inline void click(FX::FXWindow* w) {
  ASSERT_NE(w, nullptr);
  if (auto* check = dynamic_cast<FX::FXCheckButton*>(w)) {
    check->setCheck(!check->getCheck(), TRUE);
    return;
  }
  if (w->getTarget()) w->getTarget()->handle(w, FXSEL(FX::SEL_COMMAND, w->getSelector()), reinterpret_cast<void*>(1));
}

// A key pressed and released in a top window.
inline void key(FX::FXWindow* w, FX::FXuint code) {
  FX::FXEvent ev;
  ev.type = FX::SEL_KEYPRESS;
  ev.code = code;
  w->handle(w, FXSEL(FX::SEL_KEYPRESS, 0), &ev);
  ev.type = FX::SEL_KEYRELEASE;
  w->handle(w, FXSEL(FX::SEL_KEYRELEASE, 0), &ev);
}

class DialogTest : public FX::FXAppTest<FXKorvaneApp> {
 protected:
  DialogTest() : FXAppTest(300, 200) {}
  std::unique_ptr<FXKorvaneApp> makeApp() override {
    return std::make_unique<FXKorvaneApp>(FX::FXWString(u"kvtest"), FX::FXWString(u"kvtest"), nullptr);
  }
  void SetUp() override {
    const char* base = std::getenv("KV_TEST_TMP");
    std::string parent = base && *base ? base : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(parent);
    std::string templ = parent + "/dlg-XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    world_ = templ;
    ::setenv("KV_WORLD_ROOT", (world_ + "/world").c_str(), 1);
    ::setenv("KV_DRIVE_C", (world_ + "/c").c_str(), 1);
    win32::record_shell_calls(true);
    FXAppTest::SetUp();
  }
  void afterCreate() override { main->show(FX::PLACEMENT_SCREEN); }
  void TearDown() override {
    FXAppTest::TearDown();
    win32::record_shell_calls(false);
    std::error_code ec;
    std::filesystem::remove_all(world_, ec);
  }
  ModalDriver driver;
  std::string world_;
};

}  // namespace dialogs_test
