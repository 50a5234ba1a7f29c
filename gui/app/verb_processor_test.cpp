// Verbs bound to FOX windows, against a real application on the test's X
// display (Xvfb under the test scripts).
#include "gui/app/verb_processor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "gui/app/korvane_app.h"
#include "gui/app/verb_core.h"
#include "platform/fox/fx_test_display.h"

using namespace FX;

namespace {

// A window stand-in that records the commands it gets and where they ran.
class Recorder : public FXObject {
  FXDECLARE(Recorder)
 public:
  std::vector<FXuint> commands;
  std::vector<FXuint> updates;
  DWORD thread = 0;
  FXint waitLevels = -1;
  std::string argument;
  long answer = 5;
  long onCommand(FXObject*, FXSelector sel, void* data) {
    commands.push_back(FXSELID(sel));
    thread = GetCurrentThreadId();
    if (auto* app = dynamic_cast<FXExtApp*>(FXApp::instance())) waitLevels = app->waitCursorCount();
    if (data) argument = *static_cast<std::string*>(data);
    return answer;
  }
  long onUpdate(FXObject*, FXSelector sel, void*) {
    updates.push_back(FXSELID(sel));
    return 1;
  }
};
FXDEFMAP(Recorder) RecorderMap[] = {FXMAPFUNCS(SEL_COMMAND, 0, 0xFFFF, Recorder::onCommand),
                                    FXMAPFUNCS(SEL_UPDATE, 0, 0xFFFF, Recorder::onUpdate)};
FXIMPLEMENT(Recorder, FXObject, RecorderMap, ARRAYNUMBER(RecorderMap))

// A handler that sets the control's state from its own fields.
struct StateHandler : Processor::VerbHandler {
  bool enabled = true, checked = false, shown = true;
  int executed = 0;
  std::string lastArgument = "unset";
  std::int32_t execute(const char* argument) override {
    ++executed;
    lastArgument = argument ? argument : "(null)";
    return 9;
  }
  void update(Processor::VerbControl* control) override {
    control->enable(enabled);
    control->check(checked);
    control->show(shown);
  }
};

class TestApp : public FXKorvaneApp {
 public:
  TestApp() : FXKorvaneApp(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr) {}
};

class VerbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
    app = std::make_unique<TestApp>();
    int argc = 1;
    static char name[] = "kvtest";
    char* argv[] = {name, nullptr};
    app->init(argc, argv);
    app->create();
    verbs = Processor::RefPtr<FXKVerbProcessor>::adopt(new FXKVerbProcessor(app.get()));
  }
  void TearDown() override {
    if (!app) return;
    verbs = nullptr;
    app->destroy();
    app.reset();
  }
  template <class F>
  bool runUntil(F done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < end) app->runOneEvent(false), std::this_thread::yield();
    return done();
  }
  std::unique_ptr<TestApp> app;
  Processor::RefPtr<FXKVerbProcessor> verbs;
};

TEST_F(VerbTest, ABoundVerbRunFromAWorkerReachesItsWindowOnTheGuiThreadWithTheWaitCursorSuspended) {
  Recorder window;
  const std::int32_t id = verbs->bindVerb("install", &window, 77);
  app->beginWaitCursor(2);
  std::atomic<int> result{-1};
  std::thread worker([&] { result = verbs->execute("install", "package.msi"); });
  ASSERT_TRUE(runUntil([&] { return result.load() != -1; }));
  worker.join();
  EXPECT_EQ(result.load(), 1);  // whether the window handled it
  ASSERT_EQ(window.commands, std::vector<FXuint>{77});
  EXPECT_EQ(window.thread, GetCurrentThreadId());
  EXPECT_EQ(window.argument, "package.msi");
  EXPECT_EQ(window.waitLevels, 0);
  EXPECT_EQ(app->waitCursorCount(), 2);  // given back exactly, not grown
  app->endWaitCursor(2);

  FXObject* target = nullptr;
  std::uint32_t message = 0;
  ASSERT_TRUE(verbs->findBinding(id, target, message));
  EXPECT_EQ(target, &window);
  EXPECT_EQ(message, 77u);
}

TEST_F(VerbTest, AButtonAimedAtTheCoreFollowsItsHandlersStateAndRunsItWithAnEmptyArgument) {
  auto* handler = new StateHandler;
  const std::int32_t id = verbs->setVerbHandler("options", handler);
  auto* main = new FXMainWindow(app.get(), "verbs", nullptr, nullptr, DECOR_ALL, 0, 0, 200, 100);
  auto* button = new FXCheckButton(main, "Options", verbs->target(), static_cast<FXSelector>(id));
  main->create();

  struct Row {
    bool enabled, checked, shown;
  } rows[] = {{true, false, true}, {false, true, true}, {true, true, false}, {false, false, false}};
  for (const Row& r : rows) {
    handler->enabled = r.enabled, handler->checked = r.checked, handler->shown = r.shown;
    button->handle(app.get(), FXSEL(SEL_UPDATE, 0), nullptr);
    EXPECT_EQ(button->isEnabled() != 0, r.enabled);
    EXPECT_EQ(button->getCheck() == TRUE, r.checked);
    EXPECT_EQ(button->shown() != 0, r.shown);
  }

  // A press sends SEL_COMMAND with the verb id to the core.
  EXPECT_EQ(verbs->target()->handle(button, FXSEL(SEL_COMMAND, id), nullptr), 9);
  EXPECT_EQ(handler->executed, 1);
  EXPECT_EQ(handler->lastArgument, "");
  // execute by id drops its arguments.
  EXPECT_EQ(verbs->execute(id, "ignored"), 9);
  EXPECT_EQ(handler->lastArgument, "");
  delete main;
}

TEST_F(VerbTest, AnIndirectBindingToANullMemberAnswersUpdatesAndStopsItsCommand) {
  FXWindow* status = nullptr;
  const std::int32_t id = verbs->bindVerbIndirect("toggle_statusbar", &status, 20);
  Recorder sender;
  EXPECT_EQ(verbs->target()->handle(&sender, FXSEL(SEL_UPDATE, id), nullptr), 1);
  // Through the processor: the delegator comes back with a null sender.
  EXPECT_EQ(verbs->execute("toggle_statusbar", ""), 0);

  // Once the member holds a window the same verb reaches it.
  auto* main = new FXMainWindow(app.get(), "verbs", nullptr, nullptr, DECOR_ALL, 0, 0, 200, 100);
  main->create();
  status = main;
  main->show();
  verbs->bindVerbIndirect("toggle_statusbar", &status, FXWindow::ID_HIDE);
  verbs->execute("toggle_statusbar", "");
  EXPECT_FALSE(main->shown());
  delete main;
}

TEST_F(VerbTest, TheControlSendsTheToolkitsStateIds) {
  Recorder window;
  FXKVerbControl control(&window);
  control.enable(true);
  control.enable(false);
  control.check(true);
  control.check(false);
  control.setThirdState(true);
  control.setThirdState(false);
  control.show(true);
  control.show(false);
  EXPECT_EQ(window.commands,
            (std::vector<FXuint>{FXWindow::ID_ENABLE, FXWindow::ID_DISABLE, FXWindow::ID_CHECK, FXWindow::ID_UNCHECK,
                                 FXWindow::ID_UNKNOWN, FXWindow::ID_UNCHECK, FXWindow::ID_SHOW, FXWindow::ID_HIDE}));

  auto* main = new FXMainWindow(app.get(), "verbs", nullptr, nullptr, DECOR_ALL, 0, 0, 200, 100);
  auto* label = new FXLabel(main, "before");
  FXKVerbControl(label).setText(u"after");
  EXPECT_EQ(std::string(label->getText().text()), "after");
  FXKVerbControl(main).setText(u"ignored");  // not a label: nothing happens
  EXPECT_EQ(std::string(main->getTitle().text()), "verbs");
  delete main;
}

}  // namespace
