// The busy state and progress reports, driven from worker threads against a
// real FOX application.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <memory>
#include <thread>

#include "gui/app/korvane_app.h"
#include "gui/app/progress_dialog.h"
#include "platform/fox/fx_test_display.h"

using namespace FX;

namespace {

class BusyTest : public FXAppTest<FXKorvaneApp> {
 protected:
  std::unique_ptr<FXKorvaneApp> makeApp() override {
    return std::make_unique<FXKorvaneApp>(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr);
  }
  // Runs `work` on a worker thread while the GUI thread keeps its loop going.
  int onWorker(const std::function<int()>& work) {
    std::atomic<bool> done{false};
    int result = 0;
    std::thread worker([&] {
      result = work();
      done = true;
      app->wakeUp();
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < end) app->runOneEvent(false), std::this_thread::yield();
    worker.join();
    return result;
  }
  bool report(std::uint32_t flags, std::uint32_t value = 0, const char16_t* title = u"", const char16_t* text = u"") {
    Processor::ProgressInfo info;
    info.flags = flags;
    info.value = value;
    info.text = Processor::String(title);
    info.secondText = Processor::String(text);
    return onWorker([&] { return app->getProgress()->report(info) ? 1 : 0; }) != 0;
  }
};

// Each row: what a worker does, then the busy count, whether a busy window
// exists and whether it is shown.
TEST_F(BusyTest, BeginAndEndTable) {
  struct Step {
    const char* what;
    std::function<int(FXKorvaneApp&)> run;
    int answer, count;
    bool window, shown;
  } steps[] = {
      {"first begin opens the window", [](FXKorvaneApp& a) { return a.beginProgressSync(); }, 1, 1, true, false},
      {"second begin keeps it", [](FXKorvaneApp& a) { return a.beginProgressSync(); }, 2, 2, true, false},
      {"end with 0 counts down", [](FXKorvaneApp& a) { return a.endProgressSync(0); }, 2, 1, true, false},
      {"the last end closes it", [](FXKorvaneApp& a) { return a.endProgressSync(0); }, 1, 0, false, false},
      {"begin again", [](FXKorvaneApp& a) { return a.beginProgressSync(); }, 1, 1, true, false},
      {"and again", [](FXKorvaneApp& a) { return a.beginProgressSync(); }, 2, 2, true, false},
      {"end with 5 sets 4", [](FXKorvaneApp& a) { return a.endProgressSync(5); }, 2, 4, true, false},
      {"end with 1 closes at once", [](FXKorvaneApp& a) { return a.endProgressSync(1); }, 4, 0, false, false},
      {"an end below 0 stays at 0", [](FXKorvaneApp& a) { return a.endProgressSync(0); }, 0, 0, false, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    EXPECT_EQ(onWorker([&] { return s.run(*app); }), s.answer);
    EXPECT_EQ(app->busyCount(), s.count);
    EXPECT_EQ(app->busyWindow() != nullptr, s.window);
    EXPECT_EQ(app->busyWindow() && app->busyWindow()->shown(), s.shown);
  }
}

TEST_F(BusyTest, ReportsShowTheWindowOnlyOnceAShowingReportCame) {
  // Title only: the window opens but stays hidden.
  EXPECT_TRUE(report(0x84, 0, u"Preparing"));
  ASSERT_NE(app->busyWindow(), nullptr);
  EXPECT_FALSE(app->busyWindow()->shown());
  EXPECT_EQ(app->busyWindow()->getTitle(), FXString("Preparing"));

  // Value and text with 0x100: shown, and 0x100 stays in the accumulated flags.
  EXPECT_TRUE(report(0x143, 40, u"", u"Copying files"));
  auto* dialog = dynamic_cast<FXKProgressDialog*>(app->busyWindow());
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->shown());
  EXPECT_EQ(dialog->text(), FXString("Copying files"));
  EXPECT_TRUE(dialog->barShown());
  EXPECT_EQ(dialog->value(), 40);
  EXPECT_TRUE(app->progressFlags() & 0x100);

  // A report without a value hides the bar; a later 0x80 report keeps the
  // window as it is, since 0x100 is still accumulated.
  EXPECT_TRUE(report(0x1, 0, u"", u"Waiting"));
  EXPECT_FALSE(dialog->barShown());
  EXPECT_TRUE(dialog->shown());
}

// Icon and animation reports from a worker: 0x10000 sets the icon and wins
// over 0x20000; the animation's count and delay count only with 0x40000 and
// 0x80000.
TEST_F(BusyTest, IconAndAnimationReports) {
  FXIcon icon(app.get(), nullptr, 0, 0, 16, 16);
  FXImage strip(app.get(), nullptr, 0, 384, 32);
  struct Row {
    const char* what;
    std::uint32_t flags;
    FXIcon* icon;
    FXImage* strip;
    int count, delay;
  } rows[] = {
      {"icon", 0x10000 | 0x1, &icon, nullptr, 0, 0},
      {"icon wins over animation", 0x30000 | 0x1, &icon, nullptr, 0, 0},
      {"animation, count and delay left out", 0x20000 | 0x1, nullptr, &strip, 0, 0},
      {"animation with count", 0x60000 | 0x1, nullptr, &strip, 6, 0},
      {"animation with delay", 0xA0000 | 0x1, nullptr, &strip, 0, 150},
      {"animation with both", 0xE0000 | 0x1, nullptr, &strip, 6, 150},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    if (auto* d = dynamic_cast<FXKProgressDialog*>(app->busyWindow())) {
      d->setIcon(nullptr);
      d->setAnimation(nullptr, -1, -1);
    }
    Processor::ProgressInfo info;
    info.flags = r.flags;
    info.icon = &icon;
    info.animation = &strip;
    info.frameCount = 6;
    info.frameDelay = 150;
    ASSERT_TRUE(onWorker([&] { return app->getProgress()->report(info) ? 1 : 0; }) != 0);
    auto* dialog = dynamic_cast<FXKProgressDialog*>(app->busyWindow());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->getIcon(), r.icon);
    // Without a strip of its own the dialog plays its built-in one; a count
    // of 0 means square frames, a delay of 0 the animation's 200 ms.
    FXKIconAnimation* animation = dialog->animationWindow();
    EXPECT_EQ(animation->image(), r.strip ? r.strip : dialog->defaultAnimation());
    if (r.strip) {
      EXPECT_EQ(animation->frameCount(), r.count ? r.count : 12);
      EXPECT_EQ(animation->delay(), r.delay ? r.delay : 200);
    }
  }
  app->busyWindow()->setIcon(nullptr);  // the icon goes before the window
}

TEST_F(BusyTest, SuppressionKeepsBusyWindowsAway) {
  EXPECT_TRUE(report(0x2100));
  ASSERT_NE(app->busyWindow(), nullptr);
  EXPECT_FALSE(app->busyWindow()->shown());
  EXPECT_EQ(onWorker([&] { return app->beginProgressSync(); }), 0);
  EXPECT_EQ(app->busyCount(), 0);
  EXPECT_TRUE(report(0x143, 10));  // 0x100 with 0x2000 accumulated: still hidden
  EXPECT_FALSE(app->busyWindow()->shown());
}

TEST_F(BusyTest, AModalDialogPutsTheBusyWindowAsideAndBringsItBack) {
  EXPECT_EQ(onWorker([&] { return app->beginProgressSync(); }), 1);
  EXPECT_TRUE(report(0x143, 5, u"", u"Working"));
  FXTopWindow* busy = app->busyWindow();
  ASSERT_TRUE(busy && busy->shown());
  auto* dialog = new FXDialogBox(app.get(), "question");
  dialog->create();
  dialog->show(PLACEMENT_SCREEN);
  struct Seen {
    FXKorvaneApp* app;
    FXDialogBox* dialog;
    bool busyShown = true;
    int count = -1;
  } seen{app.get(), dialog};
  app->executeAsync(
      [](void* p) -> int {
        auto* s = static_cast<Seen*>(p);
        s->busyShown = s->app->busyWindow() && s->app->busyWindow()->shown();
        s->count = s->app->busyCount();
        s->app->stopModal(s->dialog, 1);
        return 1;
      },
      &seen);
  EXPECT_EQ(app->runModalFor(dialog), 1);
  EXPECT_FALSE(seen.busyShown);  // hidden while the dialog ran
  EXPECT_EQ(app->busyWindow(), busy);
  EXPECT_TRUE(busy->shown());
  EXPECT_EQ(app->busyCount(), 1);
  delete dialog;
  EXPECT_EQ(onWorker([&] { return app->endProgressSync(0); }), 1);
  EXPECT_EQ(app->busyWindow(), nullptr);
}

// The first button below `w`, depth first.
FXButton* firstButton(FXWindow* w) {
  for (FXWindow* c = w->getFirst(); c; c = c->getNext()) {
    if (auto* b = dynamic_cast<FXButton*>(c)) return b;
    if (FXButton* b = firstButton(c)) return b;
  }
  return nullptr;
}

// FOX's own modal loop (FXDialogBox::execute, under FXMessageBox) never
// reaches the application's stubs: the busy window must still step aside, or
// every click meant for the box is dropped. A real click through the X
// server answers the box; the busy window comes back afterwards.
TEST_F(BusyTest, FoxsOwnMessageBoxTakesClicksWhileBusy) {
  EXPECT_EQ(onWorker([&] { return app->beginProgressSync(); }), 1);
  EXPECT_TRUE(report(0x143, 5, u"", u"Working"));
  FXTopWindow* busy = app->busyWindow();
  ASSERT_TRUE(busy && busy->shown());
  ASSERT_EQ(app->modalWindow(), busy);

  FXMessageBox box(app.get(), "Question kvtest", "Answer me", nullptr, MBOX_OK);
  box.create();
  FXButton* ok = firstButton(&box);
  ASSERT_NE(ok, nullptr);
  const unsigned long okId = ok->id();
  struct Seen {
    FXKorvaneApp* app;
    bool busyShown = true;
    FXWindow* modal = nullptr;
  } seen{app.get()};
  // Looks at the busy state from inside the box's loop.
  app->executeAsync(
      [](void* p) -> int {
        auto* s = static_cast<Seen*>(p);
        s->busyShown = s->app->busyWindow() && s->app->busyWindow()->shown();
        s->modal = s->app->modalWindow();
        return 0;
      },
      &seen);
  std::atomic<bool> answered{false};
  std::thread clicker([&] {
    for (int i = 0; i < 30 && !answered; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (answered) break;
      const std::string command =
          "xdotool mousemove --window " + std::to_string(okId) + " 6 6 click 1 >/dev/null 2>&1";
      if (std::system(command.c_str()) != 0) break;
    }
    // Never hang the run: a box that took no click is stopped with 77.
    if (!answered)
      app->executeAsync(
          [](void* p) -> int {
            static_cast<FXApp*>(p)->stopModal(77);
            return 0;
          },
          app.get());
  });
  const FXuint answer = box.execute(PLACEMENT_SCREEN);
  answered = true;
  clicker.join();
  EXPECT_EQ(answer, static_cast<FXuint>(MBOX_CLICKED_OK));
  EXPECT_FALSE(seen.busyShown);
  EXPECT_EQ(seen.modal, nullptr);
  // Back as it was.
  EXPECT_EQ(app->busyWindow(), busy);
  EXPECT_TRUE(busy->shown());
  EXPECT_EQ(app->busyCount(), 1);
  EXPECT_EQ(app->modalWindow(), busy);
  EXPECT_EQ(onWorker([&] { return app->endProgressSync(0); }), 1);
  EXPECT_EQ(app->busyWindow(), nullptr);
  EXPECT_EQ(app->modalWindow(), nullptr);
}

// Handing the busy window itself to beginBusy while busy closes it: it is no
// longer left open and modal with nobody to close it.
TEST_F(BusyTest, BeginBusyWithTheBusyWindowItselfClosesIt) {
  EXPECT_EQ(onWorker([&] { return app->beginProgressSync(); }), 1);
  FXTopWindow* window = app->busyWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(app->modalWindow(), window);
  EXPECT_EQ(app->beginBusy(1, window), 0);
  EXPECT_EQ(window, nullptr);
  EXPECT_EQ(app->busyWindow(), nullptr);
  EXPECT_EQ(app->busyCount(), 0);
  EXPECT_EQ(app->modalWindow(), nullptr);  // input reaches other windows again
}

TEST(BusySink, AReportAfterTheApplicationIsGoneReachesNobody) {
  Processor::RefPtr<Processor::Progress> sink;
  {
    FXKorvaneApp app(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr);
    sink = app.getProgress();
  }
  Processor::ProgressInfo info;
  info.flags = 0x143;
  EXPECT_FALSE(sink->report(info));
}

}  // namespace
