// The application object against a real FOX application on the test's X
// display (Xvfb under the test scripts).
#include "gui/app/korvane_app.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/fox/fx_test_display.h"
#include "platform/win32/windows.h"

using namespace FX;

namespace {

// Records the order in which chores reach it; answers 0 (not yet) as often
// as `refusals` says.
class Recorder : public FXObject {
  FXDECLARE(Recorder)
 public:
  std::vector<int>* log = nullptr;
  int tag = 0;
  int refusals = 0;
  long onChore(FXObject*, FXSelector sel, void* data) {
    if (refusals > 0) {
      --refusals;
      log->push_back(-tag);
      return 0;
    }
    log->push_back(tag * 100 + static_cast<int>(FXSELID(sel)));
    (void)data;
    return 1;
  }
};
FXDEFMAP(Recorder) RecorderMap[] = {FXMAPFUNCS(SEL_CHORE, 0, 0xFFFF, Recorder::onChore)};
FXIMPLEMENT(Recorder, FXObject, RecorderMap, ARRAYNUMBER(RecorderMap))

// Counts its own destruction, to see when a parameter is deleted.
struct CountedParam : FXKorvaneApp::choreParam {
  int* deleted;
  explicit CountedParam(int* d) : deleted(d) {}
  ~CountedParam() override { ++*deleted; }
};

class TestApp : public FXKorvaneApp {
 public:
  TestApp() : FXKorvaneApp(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr) {}
  int errorsShown = 0;
  bool quitOnError = false;
  bool showEventError(const Common::Error&) override {
    ++errorsShown;
    return quitOnError;
  }
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
    app = std::make_unique<TestApp>();
    int argc = 1;
    static char name[] = "kvtest";
    char* argv[] = {name, nullptr};
    app->init(argc, argv);
    app->create();
  }
  void TearDown() override {
    if (!app) return;
    app->destroy();
    app.reset();
  }
  // Runs the loop until `done` or two seconds have passed.
  template <class F>
  bool runUntil(F done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < end) app->runOneEvent(false), std::this_thread::yield();
    return done();
  }
  // Delivers every chore pending now.
  void drain() {
    while (app->pendingChores()) app->dispatchChores();
  }
  std::unique_ptr<TestApp> app;
};

int addOne(void* p) { return ++*static_cast<int*>(p); }

// COM is there for the GUI thread between create and destroy, and destroy
// gives back exactly what create took.
TEST_F(AppTest, CreateInitialisesComForTheGuiThreadAndDestroyGivesItBack) {
  auto makeLink = [] {
    IUnknown* link = nullptr;
    const HRESULT hr =
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&link));
    if (link) link->Release();
    return hr;
  };
  EXPECT_EQ(makeLink(), S_OK);
  app->destroy();
  app.reset();
  EXPECT_EQ(makeLink(), CO_E_NOTINITIALIZED);
}

TEST_F(AppTest, ExecuteSyncOnTheGuiThreadRunsAtOnce) {
  int value = 41;
  EXPECT_EQ(app->executeSync(addOne, &value), 42);
  EXPECT_EQ(value, 42);
  EXPECT_FALSE(app->pendingChores());
}

TEST_F(AppTest, ExecuteSyncFromAWorkerReturnsTheFunctionsResultAndDeliversOnTheGuiThread) {
  struct Arg {
    DWORD gui;
    DWORD ranOn = 0;
  } arg{GetCurrentThreadId()};
  std::atomic<int> result{-1};
  std::thread worker([&] {
    result = app->executeSync(
        [](void* p) -> int {
          static_cast<Arg*>(p)->ranOn = GetCurrentThreadId();
          return 7;
        },
        &arg);
  });
  ASSERT_TRUE(runUntil([&] { return result.load() != -1; }));
  worker.join();
  EXPECT_EQ(result.load(), 7);  // the function's own result, not a constant
  EXPECT_EQ(arg.ranOn, arg.gui);
}

TEST_F(AppTest, ExecuteSyncHandsAThrownErrorBackAndReleasesTheWaiter) {
  std::atomic<int> outcome{0};
  std::thread worker([&] {
    try {
      app->executeSync([](void*) -> int { throw Common::Error(KV_SITE, 0x564E20); }, nullptr);
      outcome = 1;
    } catch (const Common::Error& e) {
      outcome = e.code() == 0x564E20 ? 2 : 3;
    }
  });
  ASSERT_TRUE(runUntil([&] { return outcome.load() != 0; }));
  worker.join();
  EXPECT_EQ(outcome.load(), 2);
  EXPECT_EQ(app->errorsShown, 0);
}

TEST_F(AppTest, ASyncRequestDroppedUnrunReleasesItsWaiterWithAFailure) {
  std::atomic<int> outcome{0};
  std::thread worker([&] {
    try {
      app->executeSync(addOne, nullptr);
      outcome = 1;
    } catch (const Common::Error&) {
      outcome = 2;
    }
  });
  while (!app->pendingChores()) std::this_thread::yield();
  app->cancelChores(app.get(), 0);
  worker.join();
  EXPECT_EQ(outcome.load(), 2);
}

TEST_F(AppTest, ExecuteAsyncDoesNotRunBeforeItReturns) {
  int value = 0;
  EXPECT_EQ(app->executeAsync(addOne, &value), 1);
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(app->peekEvent());  // pending requests keep the loop from blocking
  drain();
  EXPECT_EQ(value, 1);
}

// The queue's rules, one case per row: what is posted, what the targets
// answer, and the order of deliveries (tag*100 + id; -tag for a refusal).
TEST_F(AppTest, ChoreQueueTable) {
  struct Post {
    int target;  // 0 or 1
    std::uint32_t id;
    bool replace;
  };
  struct Case {
    const char* name;
    std::vector<Post> posts;
    int refusalsOfFirst;
    std::vector<int> expected;
  } cases[] = {
      {"first in, first out", {{0, 1, false}, {1, 2, false}, {0, 3, false}}, 0, {101, 202, 103}},
      {"replace with an id drops that id only", {{0, 1, false}, {0, 2, false}, {1, 1, false}, {0, 1, true}}, 0,
       {102, 201, 101}},
      {"replace with id 0 drops every chore of the target", {{0, 1, false}, {0, 2, false}, {1, 3, false}, {0, 0, true}},
       0, {203, 100}},
      {"a refused chore goes behind those queued before it", {{0, 1, false}, {1, 2, false}, {1, 3, false}}, 1,
       {-1, 202, 203, 101}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> log;
    Recorder targets[2];
    for (int i = 0; i < 2; ++i) {
      targets[i].log = &log;
      targets[i].tag = i + 1;
    }
    targets[0].refusals = c.refusalsOfFirst;
    int deleted = 0;
    for (const Post& p : c.posts)
      app->postChore(&targets[p.target], p.id, new CountedParam(&deleted), nullptr, p.replace);
    const int posted = static_cast<int>(c.posts.size());
    drain();
    EXPECT_EQ(log, c.expected);
    EXPECT_EQ(deleted, posted);  // delivered or dropped: every parameter is gone once
  }
}

TEST_F(AppTest, ARefusedChoresParameterLivesUntilItIsAccepted) {
  std::vector<int> log;
  Recorder target;
  target.log = &log;
  target.tag = 1;
  target.refusals = 2;
  int deleted = 0;
  app->postChore(&target, 5, new CountedParam(&deleted), nullptr, false);
  app->dispatchChores();
  app->dispatchChores();
  EXPECT_EQ(deleted, 0);
  app->dispatchChores();
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(log, (std::vector<int>{-1, -1, 105}));
}

TEST_F(AppTest, SuperModeHoldsBackEarlierChoresUntilItEnds) {
  std::vector<int> log;
  Recorder target;
  target.log = &log;
  target.tag = 1;
  app->postChore(&target, 1, nullptr, nullptr, false);
  app->postChore(&target, 2, nullptr, nullptr, false);
  app->beginSuperMode();
  app->postChore(&target, 3, nullptr, nullptr, false);
  drain();
  EXPECT_EQ(log, (std::vector<int>{103}));
  app->beginSuperMode();  // nested: what the outer one holds stays held
  app->postChore(&target, 4, nullptr, nullptr, false);
  app->endSuperMode();
  app->postChore(&target, 5, nullptr, nullptr, false);
  app->endSuperMode();
  drain();
  EXPECT_EQ(log, (std::vector<int>{103, 104, 105, 101, 102}));
}

TEST_F(AppTest, DestroyingAWindowDropsOnlyItsChores) {
  std::vector<int> log;
  Recorder other;
  other.log = &log;
  other.tag = 2;
  auto* window = new FXMainWindow(app.get(), "doomed");
  int deleted = 0;
  app->postChore(&other, 1, nullptr, nullptr, false);
  app->postChore(window, 7, new CountedParam(&deleted), nullptr, false);
  app->postChore(&other, 2, nullptr, nullptr, false);
  app->postChore(window, 8, new CountedParam(&deleted), nullptr, false);
  app->destroyWindow(window);
  EXPECT_EQ(deleted, 2);
  delete window;
  drain();
  EXPECT_EQ(log, (std::vector<int>{201, 202}));
}

class Thrower : public FXObject {
  FXDECLARE(Thrower)
 public:
  long onChore(FXObject*, FXSelector, void*) { throw Common::Error(KV_SITE, 0x564E20); }
};
FXDEFMAP(Thrower) ThrowerMap[] = {FXMAPFUNCS(SEL_CHORE, 0, 0xFFFF, Thrower::onChore)};
FXIMPLEMENT(Thrower, FXObject, ThrowerMap, ARRAYNUMBER(ThrowerMap))

TEST_F(AppTest, AnEscapedErrorIsShownUntilExitAndQuitEndsTheLoopWithAFailureCode) {
  Thrower thrower;
  app->postChore(&thrower, 1, nullptr, nullptr, false);
  app->runOneEvent(false);
  EXPECT_EQ(app->errorsShown, 1);

  // Quitting from the dialog ends the loop with a non-zero code.
  app->quitOnError = true;
  app->postChore(&thrower, 1, nullptr, nullptr, false);
  EXPECT_NE(app->run(), 0);
  EXPECT_EQ(app->errorsShown, 2);

  // After exit, errors are dropped without a dialog.
  app->postChore(&thrower, 1, nullptr, nullptr, false);
  app->runOneEvent(false);
  EXPECT_EQ(app->errorsShown, 2);
}

TEST_F(AppTest, WaitForHandleKeepsDeliveringAndReturnsAfterTheWait) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> served{0};
  std::thread worker([&] {
    // Served by the loop inside waitForHandle; then the handle ends the wait.
    served = app->executeSync([](void*) -> int { return 5; }, nullptr);
    SetEvent(event);
  });
  EXPECT_EQ(app->waitForHandle(event, INFINITE), 0);
  EXPECT_EQ(served.load(), 5);
  worker.join();
  // A time-out ends it too.
  ResetEvent(event);
  const auto start = std::chrono::steady_clock::now();
  app->waitForHandle(event, 50);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(app->waitCursorCount(), 0);
  CloseHandle(event);
}

// A worker's request reaches the GUI thread while FOX's own modal loop runs,
// with no input at all: the wake-up comes through the loop's signal pipe.
TEST_F(AppTest, AChorePostedDuringAModalDialogIsDelivered) {
  auto* dialog = new FXDialogBox(app.get(), "modal");
  dialog->create();
  dialog->show(PLACEMENT_SCREEN);
  std::atomic<int> result{0};
  struct Ctx {
    FXApp* app;
    FXDialogBox* dialog;
  } ctx{app.get(), dialog};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    result = app->executeSync(
        [](void* p) -> int {
          auto* c = static_cast<Ctx*>(p);
          c->app->stopModal(c->dialog, 9);
          return 3;
        },
        &ctx);
  });
  const FXint code = app->FXApp::runModalFor(dialog);  // FOX's own loop
  worker.join();
  EXPECT_EQ(code, 9);
  EXPECT_EQ(result.load(), 3);
  delete dialog;
}

TEST_F(AppTest, ExecuteMethodSyncCallsTheMemberAndRefusesANullObject) {
  struct Counter {
    int total = 0;
    int add(int n) { return total += n; }
  } counter;
  std::atomic<int> result{0};
  std::thread worker([&] { result = app->executeMethodSync(&counter, &Counter::add, 4); });
  ASSERT_TRUE(runUntil([&] { return result.load() != 0; }));
  worker.join();
  EXPECT_EQ(result.load(), 4);
  Counter* none = nullptr;
  EXPECT_THROW(app->executeMethodSync(none, &Counter::add, 1), Common::Error);
}

}  // namespace
