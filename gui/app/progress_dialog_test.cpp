// The progress dialog, its icon animation and the taskbar progress, on a real
// X display; pixels are read back from the windows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "gui/app/korvane_app.h"
#include "gui/app/progress_dialog.h"
#include "platform/fox/fx_test_display.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/windows.h"

using namespace FX;

namespace {

class ProgressDialogTest : public FXAppTest<FXKorvaneApp> {
 protected:
  ProgressDialogTest() : FXAppTest(200, 100) {}
  std::unique_ptr<FXKorvaneApp> makeApp() override {
    return std::make_unique<FXKorvaneApp>(FXWString(u"kvtest"), FXWString(u"kvtest"), nullptr);
  }
  void beforeDestroy() override { unsetenv("KV_WINDOWS_VERSION"); }
  FXColor pixel(FXWindow* window, int x, int y) { return readPixel(window, x, y); }
};

TEST_F(ProgressDialogTest, StripsAreCutIntoFramesAndTheDelayDefaults) {
  FXImage strip(app.get(), nullptr, 0, 384, 32);
  FXKIconAnimation* animation = nullptr;
  auto* dialog = new FXKProgressDialog(main, FXWString(u"Working"));
  animation = dialog->animationWindow();
  struct Row {
    const char* what;
    int count, delay;
    int frames, frameWidth, frameHeight, expectedDelay;
  } rows[] = {
      {"count 0: square frames", 0, 0, 12, 32, 32, 200},
      {"count 6", 6, 150, 6, 64, 32, 150},
      {"count 0 again, delay 0 is 200", 0, 0, 12, 32, 32, 200},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    animation->setImage(nullptr, 0);
    dialog->setAnimation(&strip, r.count, r.delay);
    EXPECT_EQ(animation->image(), &strip);
    EXPECT_EQ(animation->frameCount(), r.frames);
    EXPECT_EQ(animation->frameWidth(), r.frameWidth);
    EXPECT_EQ(animation->frameHeight(), r.frameHeight);
    EXPECT_EQ(animation->delay(), r.expectedDelay);
    EXPECT_TRUE(animation->running());
    EXPECT_TRUE(animation->timerArmed());
    EXPECT_EQ(animation->getDefaultWidth(), r.frameWidth);
  }
  // The frame advances on each timeout and wraps at the count.
  dialog->setAnimation(&strip, 6, 0);
  animation->setImage(nullptr, 0);
  dialog->setAnimation(&strip, 6, 0);
  for (int i = 1; i <= 7; ++i) {
    animation->handle(animation, FXSEL(SEL_TIMEOUT, FXKIconAnimation::ID_NEXT_FRAME), nullptr);
    EXPECT_EQ(animation->frame(), i % 6);
  }
  // Hidden, the animation stops for good.
  animation->hide();
  EXPECT_FALSE(animation->running());
  EXPECT_FALSE(animation->timerArmed());
  animation->setImage(nullptr, 0);
  delete dialog;
}

TEST_F(ProgressDialogTest, TheBuiltInStripPlaysAndPaints) {
  auto* dialog = new FXKProgressDialog(main, FXWString(u"Working"));
  dialog->create();
  FXKIconAnimation* animation = dialog->animationWindow();
  ASSERT_NE(dialog->defaultAnimation(), nullptr);
  EXPECT_EQ(animation->image(), dialog->defaultAnimation());
  EXPECT_EQ(dialog->defaultAnimation()->getWidth(), 384);
  EXPECT_EQ(dialog->defaultAnimation()->getHeight(), 32);
  EXPECT_EQ(animation->frameCount(), 12);
  EXPECT_TRUE(animation->shown());
  // Handing in no image again keeps the built-in strip playing.
  dialog->setAnimation(nullptr, 0, 0);
  EXPECT_EQ(animation->image(), dialog->defaultAnimation());

  dialog->show(PLACEMENT_SCREEN);
  app->removeTimeout(animation, FXKIconAnimation::ID_NEXT_FRAME);
  settle();
  // Frame 0: the top dot of the ring is the darkest blue, the centre is the
  // dialog's grey.
  EXPECT_EQ(pixelOnceShown(animation, 15, 4, FXRGB(40, 90, 200) | 0xFF000000u), FXRGB(40, 90, 200) | 0xFF000000u);
  EXPECT_EQ(pixelOnceShown(animation, 15, 15, FXRGB(212, 208, 200) | 0xFF000000u), FXRGB(212, 208, 200) | 0xFF000000u);
  delete dialog;
}

TEST_F(ProgressDialogTest, TheBarAndTextShowWhatWasSet) {
  auto* dialog = new FXKProgressDialog(main, FXWString(u"Working"), DECOR_TITLE | DECOR_BORDER, 0, 0, 0, 0);
  dialog->create();
  EXPECT_EQ(dialog->text(), FXString("Working"));
  EXPECT_FALSE(dialog->barShown());
  dialog->setText(FXWString(u"Copying files"));
  dialog->setProgress(37);
  EXPECT_TRUE(dialog->barShown());
  EXPECT_EQ(dialog->value(), 37);
  dialog->show(PLACEMENT_SCREEN);
  settle();

  FXProgressBar* bar = dialog->progressBar();
  ASSERT_GT(bar->getWidth(), 100);
  const int inner = bar->getWidth() - 2 * bar->getBorderWidth();
  const int mid = bar->getHeight() / 2;
  const FXColor filled = bar->getBarColor() | 0xFF000000u;
  const FXColor empty = bar->getBarBGColor() | 0xFF000000u;
  EXPECT_EQ(pixelOnceShown(bar, bar->getBorderWidth() + inner * 30 / 100, mid, filled), filled);
  EXPECT_EQ(pixelOnceShown(bar, bar->getBorderWidth() + inner * 45 / 100, mid, empty), empty);

  // The text line has dark text pixels somewhere in its first 60 columns.
  FXLabel* label = dialog->textLabel();
  bool ink = false;
  for (int x = 0; x < 60 && x < label->getWidth() && !ink; ++x)
    for (int y = 0; y < label->getHeight() && !ink; ++y)
      if (FXREDVAL(pixel(label, x, y)) < 100) ink = true;
  EXPECT_TRUE(ink);

  dialog->hideProgress();
  EXPECT_FALSE(dialog->barShown());
  delete dialog;
}

TEST_F(ProgressDialogTest, AHiddenDialogTakesItsDefaultSizeAShownLargerOneKeepsIt) {
  auto* dialog = new FXKProgressDialog(main, FXWString(u"Working"));
  dialog->create();
  dialog->setText(FXWString(u"A longer line of text"));
  EXPECT_EQ(dialog->getWidth(), dialog->getDefaultWidth());
  EXPECT_EQ(dialog->getHeight(), dialog->getDefaultHeight());
  dialog->show(PLACEMENT_SCREEN);
  dialog->resize(dialog->getDefaultWidth() + 150, dialog->getDefaultHeight() + 40);
  const int w = dialog->getWidth();
  dialog->setText(FXWString(u"short"));
  EXPECT_EQ(dialog->getWidth(), w);
  delete dialog;
}

TEST_F(ProgressDialogTest, TheCloseBoxIsConsumedOnlyWithACloseDecoration) {
  auto* with = new FXKProgressDialog(main, FXWString(u"a"), DECOR_TITLE | DECOR_BORDER | DECOR_CLOSE);
  auto* without = new FXKProgressDialog(main, FXWString(u"b"), DECOR_TITLE | DECOR_BORDER);
  with->create();
  with->show(PLACEMENT_SCREEN);
  EXPECT_EQ(with->handle(with, FXSEL(SEL_CLOSE, 0), nullptr), 1);
  EXPECT_TRUE(with->shown());
  EXPECT_EQ(without->handle(without, FXSEL(SEL_CLOSE, 0), nullptr), 0);
  delete with;
  delete without;
}

// Windows 7 and later mirror the bar on the main window's taskbar button;
// Vista has no such taskbar and nothing is recorded.
TEST_F(ProgressDialogTest, TaskbarProgressByWindowsVersion) {
  const HWND handle = fxWindowHandle(main);
  ASSERT_NE(handle, nullptr);
  struct Row {
    const char* version;
    bool known;
  } rows[] = {{"vista", false}, {"7", true}, {"10", true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.version);
    win32::taskbar_forget(handle);
    setenv("KV_WINDOWS_VERSION", r.version, 1);
    auto* dialog = new FXKProgressDialog(main, FXWString(u"Working"));
    dialog->setProgress(37);
    win32::taskbar_button b = win32::taskbar_state(handle);
    EXPECT_EQ(b.known, r.known);
    if (r.known) {
      EXPECT_EQ(b.completed, 37u);
      EXPECT_EQ(b.total, 100u);
      EXPECT_EQ(b.state, TBPF_NORMAL);
      dialog->hideProgress();
      EXPECT_EQ(win32::taskbar_state(handle).state, TBPF_NOPROGRESS);
      dialog->showProgress();
      EXPECT_EQ(win32::taskbar_state(handle).state, TBPF_NORMAL);
    }
    delete dialog;
    // The dialog's end clears the button.
    EXPECT_EQ(win32::taskbar_state(handle).state, TBPF_NOPROGRESS);
  }
}

// A job's report from a worker thread reaches the busy window and the
// taskbar button.
TEST_F(ProgressDialogTest, AWorkersReportReachesTheWindow) {
  setenv("KV_WINDOWS_VERSION", "7", 1);
  const HWND handle = fxWindowHandle(main);
  win32::taskbar_forget(handle);
  std::atomic<bool> done{false};
  bool answered = false;
  std::thread worker([&] {
    Processor::ProgressInfo info;
    info.flags = 0x3;
    info.value = 37;
    info.secondText = Processor::String(u"Copying files");
    answered = app->getProgress()->report(info);
    done = true;
    app->wakeUp();
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done && std::chrono::steady_clock::now() < end) app->runOneEvent(false), std::this_thread::yield();
  worker.join();
  ASSERT_TRUE(answered);
  auto* dialog = dynamic_cast<FXKProgressDialog*>(app->busyWindow());
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->shown());
  EXPECT_EQ(dialog->value(), 37);
  EXPECT_EQ(dialog->text(), FXString("Copying files"));
  EXPECT_EQ(win32::taskbar_state(handle).completed, 37u);
  FXTopWindow* none = nullptr;
  app->endBusy(1, none);
  delete none;
}

}  // namespace
