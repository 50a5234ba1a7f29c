// The messenger: messages turned into boxes, answers turned back into flags,
// suppression, closing from outside and a box asked for from a worker.
#include "widgets/dialogs/messenger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "widgets/dialogs/dialogs_testing.h"

using namespace FX;
using dialogs_test::click;

namespace {

Processor::MessengerMessage messageOf(std::uint32_t flags, std::uint32_t errorCode = 0, std::uint32_t id = 1) {
  Processor::MessengerMessage m;
  m.id = id;
  m.flags = flags;
  m.errorCode = errorCode;
  m.text = Processor::String(u"Message text");
  m.buttonTexts = Processor::String(u"Alpha\tBeta\tGamma\tDelta");
  return m;
}

class MessengerTest : public dialogs_test::DialogTest {
 protected:
  void afterCreate() override {
    DialogTest::afterCreate();
    messenger = Processor::makeRef<FXKMessenger>(main);
  }
  void beforeDestroy() override { messenger = nullptr; }
  // Presses the button of `bit` on the next box.
  void pressNext(std::uint32_t bit, bool tick = false) {
    driver.start([this, bit, tick](FXWindow* w) {
      auto* box = dynamic_cast<FXKMessageBoxImpl*>(w);
      if (!box) return false;
      ++boxesSeen;
      if (tick) click(box->checkButton());
      click(box->button(bit));
      return true;
    });
  }
  Processor::RefPtr<FXKMessenger> messenger;
  int boxesSeen = 0;
};

// Message flags → box kind and buttons; the pressed button → answer flag.
TEST_F(MessengerTest, FlagsAndAnswersTable) {
  struct Row {
    std::uint32_t flags, kind, press, answer;
  } rows[] = {
      {0x80000031, 1, 0x1, 0x20},           // error, trace, OK
      {0x20000 | 0x20 | 2, 2, 0x2, 0x20000}, // Cancel
      {0x40 | 0x80 | 3, 3, 0x8, 0x80},       // No
      {0x40 | 0x80 | 3, 3, 0x4, 0x40},       // Yes
      {0x10000 | 4, 4, 0x10, 0x10000},       // Quit
      {0x100 | 1, 1, 0x20, 0x100},           // Restart
      {0x200 | 0x400 | 1, 1, 0x40, 0x200},   // Retry
      {0x200 | 0x400 | 1, 1, 0x80, 0x400},   // Ignore
      {0x800 | 1, 1, 0x100, 0x800},          // Ignore All
      {0x80000 | 2, 2, 0x4000, 0x80000},     // Shutdown
      {0x1000 | 0x8000 | 2, 2, 0x200, 0x1000},
      {0x1000 | 0x8000 | 2, 2, 0x1000, 0x8000},
      {0x20 | 7, 0, 0x1, 0x20},  // no kind
  };
  for (const Row& r : rows) {
    const FXKMessageBox::Options o = messenger->optionsFor(messageOf(r.flags));
    EXPECT_EQ(o.flags & 7, r.kind) << std::hex << r.flags;
    pressNext(r.press);
    EXPECT_EQ(messenger->show(messageOf(r.flags)), r.answer) << std::hex << r.flags;
  }
  // Default index in bits 20-21; countdown and link options.
  EXPECT_EQ(messenger->optionsFor(messageOf(0x40 | 0x80 | 0x200000 | 3)).buttons, 0x2000000Cu);
  Processor::MessengerMessage counting = messageOf(0x20 | 0x1000000 | 0x2000000 | 2);
  counting.values["countdown_interval"] = Processor::String(u"1Eh");
  const FXKMessageBox::Options c = messenger->optionsFor(counting);
  EXPECT_EQ(c.countdown, 30);
  EXPECT_TRUE(c.flags & FXKMessageBox::OPTION_COUNTDOWN);
  EXPECT_EQ(c.countdownText.toUtf8(), "Remaining: <bold>{0, choice, 0#|1#1 second|1<{0} seconds}</bold>");
  Processor::MessengerMessage linked = messageOf(0x20 | 0x4000000 | 1, 0x40002);
  linked.reportFields[5] = "Vazedi";
  linked.link = Processor::String(u"https://kb.example.test/");
  linked.linkText = Processor::String(u"code");
  const FXKMessageBox::Options l = messenger->optionsFor(linked);
  EXPECT_TRUE(l.flags & FXKMessageBox::OPTION_KB_BUTTON);
  EXPECT_EQ(l.reportFields.size(), 1u);
  EXPECT_EQ(l.dontShowKey.toUtf8(), "40002");
  EXPECT_EQ(messenger->optionsFor(messageOf(0x20)).dontShowKey.toUtf8(), "0");
}

// Ticking the check box with OK stores the key and the next message of that
// code answers OK without a box; with Cancel nothing is stored.
TEST_F(MessengerTest, SuppressedMessageAnswersOkWithoutABox) {
  pressNext(0x2, true);
  EXPECT_EQ(messenger->show(messageOf(0x8 | 0x20 | 0x20000 | 2, 0x70005)), 0x20000u);
  EXPECT_EQ(boxesSeen, 1);
  pressNext(0x1, true);
  EXPECT_EQ(messenger->show(messageOf(0x8 | 0x20 | 0x20000 | 2, 0x70005)), 0x20u);
  EXPECT_EQ(boxesSeen, 2);
  app->removeTimeout(&driver, 1);
  // No box comes: a hang here would mean one did. Even without an OK button.
  EXPECT_EQ(messenger->show(messageOf(0x8 | 0x40 | 0x80 | 3, 0x70005)), 0x20u);
  EXPECT_EQ(boxesSeen, 2);
}

TEST_F(MessengerTest, CloseByIdAndCloseAllAnswerZero) {
  // An id with no box: nothing happens.
  messenger->close(42);
  messenger->closeAll();
  settle(5);
  driver.start([this](FXWindow* w) {
    if (!dynamic_cast<FXKMessageBoxImpl*>(w) || !messenger->openBox(7)) return false;
    messenger->close(8);  // another id: stays open
    messenger->close(7);
    return true;
  });
  EXPECT_EQ(messenger->show(messageOf(0x20 | 2, 0, 7)), 0u);
  EXPECT_EQ(messenger->openBox(7), nullptr);
  driver.start([this](FXWindow* w) {
    if (!dynamic_cast<FXKMessageBoxImpl*>(w)) return false;
    messenger->closeAll();
    return true;
  });
  EXPECT_EQ(messenger->show(messageOf(0x40 | 0x80 | 3, 0, 9)), 0u);
}

// A worker's message runs on the GUI thread and the worker gets the button
// really pressed, not the constant the hand-over answers with.
TEST_F(MessengerTest, AWorkersMessageAnswersThePressedButton) {
  for (std::uint32_t press : {0x8u, 0x4u, 0x40u}) {
    const std::uint32_t expected = FXKMessenger::answerOf(press);
    pressNext(press);
    std::atomic<bool> done{false};
    std::uint32_t answer = 0;
    std::thread worker([&] {
      answer = messenger->show(messageOf(0x40 | 0x80 | 0x200 | 3));
      done = true;
      app->wakeUp();
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < end) app->runOneEvent(false), std::this_thread::yield();
    worker.join();
    EXPECT_EQ(answer, expected);
  }
}

}  // namespace
