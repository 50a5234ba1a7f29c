#include "core/messenger.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Processor::MessageFlag::cancel;
using Processor::MessengerMessage;
using Processor::String;

std::u16string u16(const String& s) { return std::u16string(s.getBuffer(), static_cast<std::size_t>(s.length())); }

// ---- Records ----------------------------------------------------------------

TEST(MessengerRecords, NewMessageIsEmpty) {
  const MessengerMessage m;
  EXPECT_EQ(m.id, 0u);
  EXPECT_EQ(m.errorCode, 0u);
  EXPECT_EQ(m.flags, 0u);
  for (const String* s : {&m.text, &m.details, &m.caption, &m.buttonTexts, &m.linkText, &m.link})
    EXPECT_TRUE(s->isEmpty());
  EXPECT_TRUE(m.reportFields.empty());
  EXPECT_TRUE(m.values.empty());
}

TEST(MessengerRecords, ProgressCopyKeepsEveryField) {
  Processor::ProgressInfo info;
  info.flags = 0x143;
  info.value = 42;
  info.total = 0xDEADBEEF;
  info.text = String(u"File copying...");
  info.secondText = String(u"C:\\a.txt");
  const Processor::ProgressInfo copy(info);
  info.text = String(u"changed");  // the copy owns its texts
  EXPECT_EQ(copy.flags, 0x143u);
  EXPECT_EQ(copy.value, 42u);
  EXPECT_EQ(copy.total, 0xDEADBEEFu);
  EXPECT_EQ(u16(copy.text), u"File copying...");
  EXPECT_EQ(u16(copy.secondText), u"C:\\a.txt");
}

TEST(MessengerRecords, CancelAnswersThePreviousFlag) {
  Processor::Cancelable flag;
  EXPECT_FALSE(flag.isCancelled());
  EXPECT_EQ(flag.cancel(), 0u);
  EXPECT_TRUE(flag.isCancelled());
  EXPECT_EQ(flag.cancel(), 1u);
  EXPECT_TRUE(flag.isCancelled());
}

// Many threads cancel at once: exactly one of them raised the flag.
TEST(MessengerRecords, ConcurrentCancelRaisesOnce) {
  for (int round = 0; round < 20; ++round) {
    Processor::Cancelable flag;
    std::atomic<int> firsts{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        if (flag.cancel() == 0) ++firsts;
      });
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(firsts.load(), 1);
    EXPECT_TRUE(flag.isCancelled());
  }
}

// A worker that polls the flag stops once another thread cancels it.
TEST(MessengerRecords, WorkerSeesCancelFromAnotherThread) {
  Processor::Cancelable flag;
  std::atomic<bool> started{false};
  std::atomic<long> rounds{0};
  std::thread worker([&] {
    started = true;
    while (!flag.isCancelled()) ++rounds;
  });
  while (!started.load()) std::this_thread::yield();
  flag.cancel();
  worker.join();  // would hang if the worker never saw the flag
  EXPECT_TRUE(flag.isCancelled());
}

// ---- Progress across threads ------------------------------------------------

class Collector final : public Processor::Progress {
 public:
  bool report(const Processor::ProgressInfo& info) override {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_.push_back(info);  // the receiver keeps its own copy
    return true;
  }
  std::vector<Processor::ProgressInfo> kept() {
    std::lock_guard<std::mutex> lock(mutex_);
    return kept_;
  }

 private:
  std::mutex mutex_;
  std::vector<Processor::ProgressInfo> kept_;
};

TEST(MessengerProgress, ReportsFromWorkersArriveWhole) {
  auto sink = Processor::makeRef<Collector>();
  Processor::Progress* progress = sink.get();
  constexpr int workers = 4, reports = 100;
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w)
    threads.emplace_back([progress, w] {
      for (int i = 0; i <= reports; ++i) {
        Processor::ProgressInfo info;  // built, filled and handed over once per report
        info.flags = Processor::progressPercent;
        info.value = static_cast<std::uint32_t>(i);
        info.total = static_cast<std::uint32_t>(w);
        info.text = String(std::u16string(u"worker ").append(1, static_cast<char16_t>(u'0' + w)).c_str());
        progress->report(info);
      }
    });
  for (auto& t : threads) t.join();

  const auto kept = sink->kept();
  ASSERT_EQ(kept.size(), static_cast<std::size_t>(workers * (reports + 1)));
  std::vector<std::uint32_t> next(workers, 0);
  for (const auto& info : kept) {
    ASSERT_LT(info.total, static_cast<std::uint32_t>(workers));
    EXPECT_EQ(info.flags, 0x143u);
    EXPECT_EQ(info.value, next[info.total]++);  // each worker's reports in its own order
    EXPECT_EQ(u16(info.text), std::u16string(u"worker ").append(1, static_cast<char16_t>(u'0' + info.total)));
  }
  EXPECT_TRUE(sink->queryInterface(0xa2584a10u).object() != nullptr);
}

// ---- Buttons and log lines --------------------------------------------------

TEST(MessengerButtons, LabelsCarryTheHotKeyMark) {
  const struct {
    std::uint32_t answer;
    const char16_t* label;
  } cases[] = {
      {0x20, u"O\u2382K"},           {0x40, u"\u2382Yes"},     {0x80, u"\u2382No"},
      {0x100, u"\u2382Restart"},     {0x200, u"\u2382Retry"},  {0x400, u"\u2382Ignore"},
      {0x800, u"Ignore \u2382All"},  {0x10000, u"\u2382Quit"}, {0x20000, u"\u2382Cancel"},
      {0x80000, u"Sh\u2382utdown"},  {0x1000, u""},            {0x40000, u""},
      {0x10, u""},                   {0x60, u""},
  };
  for (const auto& c : cases) EXPECT_EQ(u16(Processor::Messenger::buttonLabel(c.answer)), c.label) << std::hex << c.answer;
}

TEST(MessengerButtons, ListOfButtonSets) {
  const struct {
    std::uint32_t flags;
    const char16_t* list;
  } cases[] = {
      {0, u"None"},
      {0x20, u"OK"},
      {0x60, u"OK/Yes"},
      {0xC0, u"Yes/No"},
      {0x20020, u"OK/Cancel"},
      // The copy questions: kind 1, log, Retry, Ignore, Ignore All, Cancel and
      // an option bit that names no button.
      {0x60E11, u"Retry/Ignore/Ignore All/Cancel"},
      {0x80100, u"Restart/Shutdown"},
      {0x10000, u"Quit"},
      // Custom buttons and the default-button index have no label here.
      {0xF000, u"None"},
      {0x300040, u"Yes"},
      {0x1F, u"None"},
      {0xFFFFFFFF, u"OK/Yes/No/Restart/Retry/Ignore/Ignore All/Quit/Cancel/Shutdown"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(u16(Processor::Messenger::buttonList(c.flags)), c.list) << std::hex << c.flags;
}

TEST(MessengerButtons, LogLineJoinsTextsAndButtons) {
  MessengerMessage m;
  m.text = String(u"Copy {0} failed");  // braces in a text stay text
  m.details = String(u"Check the disk.");
  m.flags = 0x20 | 0x20000 | 1;
  EXPECT_EQ(u16(Processor::Messenger::logLine(m)), u"Copy {0} failed\nCheck the disk.: OK/Cancel");
  MessengerMessage bare;
  EXPECT_EQ(u16(Processor::Messenger::logLine(bare)), u"\n: None");
}

// ---- Logging and asking -----------------------------------------------------

struct TraceLine {
  std::int32_t level;
  std::uint32_t facility, number;
  std::u16string text;
};
std::vector<TraceLine> traced;
void recordTrace(std::int32_t level, std::uint32_t facility, std::uint32_t number, const String& text) {
  traced.push_back({level, facility, number, u16(text)});
}

class ScriptedMessenger final : public Processor::Messenger {
 public:
  std::uint32_t answer = 0;
  int shown = 0;
  std::uint32_t show(const MessengerMessage&) override {
    ++shown;
    return answer;
  }
  void close(std::uint32_t) override {}
  void closeAll() override {}
};

class MessengerLog : public ::testing::Test {
 protected:
  void SetUp() override {
    traced.clear();
    Processor::setMessengerTraceSink(recordTrace);
  }
  void TearDown() override { Processor::setMessengerTraceSink(nullptr); }
};

TEST_F(MessengerLog, LevelFollowsTheKind) {
  auto messenger = Processor::makeRef<ScriptedMessenger>();
  const struct {
    std::uint32_t kind;
    std::int32_t level;
  } cases[] = {{1, 4}, {2, 2}, {3, 3}, {4, 3}, {0, 1}, {5, 1}, {0xF, 1}};
  for (const auto& c : cases) {
    MessengerMessage m;
    m.flags = c.kind | 0x40;
    m.errorCode = 0x0056ABCD;
    m.text = String(u"t");
    traced.clear();
    messenger->log(m);
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0].level, c.level) << c.kind;
    EXPECT_EQ(traced[0].facility, 0x56u);
    EXPECT_EQ(traced[0].number, 0xABCDu);
    EXPECT_EQ(traced[0].text, u"t\n: Yes");
  }
}

TEST_F(MessengerLog, AnswersAreLoggedAtLevelTwo) {
  auto messenger = Processor::makeRef<ScriptedMessenger>();
  MessengerMessage m;
  m.id = 0xCAFE;
  m.flags = 4 | 0x40 | 0x80;
  m.errorCode = 0x40007;
  m.text = String(u"Overwrite?");
  messenger->logAnswer(m, 0x80);
  messenger->logResult(m, {0xCAFE, 0x40});
  messenger->logAnswer(m, 0);
  ASSERT_EQ(traced.size(), 3u);
  for (const auto& t : traced) {
    EXPECT_EQ(t.level, 2);
    EXPECT_EQ(t.facility, 4u);
    EXPECT_EQ(t.number, 7u);
  }
  EXPECT_EQ(traced[0].text, u"Overwrite?\n: Yes/No: User response: No");
  EXPECT_EQ(traced[1].text, u"Overwrite?\n: Yes/No: User response: Yes");
  EXPECT_EQ(traced[2].text, u"Overwrite?\n: Yes/No: User response: None");
}

TEST_F(MessengerLog, AskPairsTheIdWithTheAnswer) {
  auto messenger = Processor::makeRef<ScriptedMessenger>();
  messenger->answer = cancel;
  MessengerMessage m;
  m.id = 0x12345678;
  const Processor::MessengerAnswer a = messenger->ask(m);
  EXPECT_EQ(a.id, 0x12345678u);
  EXPECT_EQ(a.answer, 0x20000u);
  EXPECT_EQ(messenger->shown, 1);
  EXPECT_TRUE(traced.empty());  // asking does not log by itself
  EXPECT_TRUE(messenger->queryInterface(0xa058be10u).object() != nullptr);
  EXPECT_TRUE(messenger->queryInterface(0xa2584a10u).object() == nullptr);
}

TEST_F(MessengerLog, WithoutSinkNothingIsTraced) {
  Processor::setMessengerTraceSink(nullptr);
  auto messenger = Processor::makeRef<ScriptedMessenger>();
  messenger->log(MessengerMessage());
  EXPECT_TRUE(traced.empty());
}

// ---- Error texts ------------------------------------------------------------

// A record kind with an own wide text and one "advice" field, narrow or wide.
const char* adviceNames(const Common::ErrorRecord*) { return "advice"; }
const char* adviceNarrow(const Common::ErrorRecord* r, const char* name) {
  return std::string_view(name) == "advice" ? static_cast<const char*>(r->slotText(r->fieldSlots()[0])) : nullptr;
}
const char16_t* adviceWide(const Common::ErrorRecord* r, const char* name) {
  return std::string_view(name) == "advice" ? static_cast<const char16_t*>(r->slotText(r->fieldSlots()[0])) : nullptr;
}
std::uint64_t noNumber(const Common::ErrorRecord*, const char*) { return 0; }
const char* noNarrow(const Common::ErrorRecord*, const char*) { return nullptr; }
const char16_t* noWide(const Common::ErrorRecord*, const char*) { return nullptr; }
constexpr Common::ErrorRecordOps narrowAdviceOps{Common::freeErrorRecordBlock, Common::cloneErrorRecord,
                                                 Common::wideSlotText,         noNumber,
                                                 adviceNarrow,                 noWide,
                                                 adviceNames};
constexpr Common::ErrorRecordOps wideAdviceOps{Common::freeErrorRecordBlock, Common::cloneErrorRecord,
                                               Common::wideSlotText,         noNumber,
                                               noNarrow,                     adviceWide,
                                               adviceNames};

Common::Error adviceError(std::uint32_t code, const char16_t* text, const void* advice, bool wide) {
  const Common::RecordText field{advice, wide};
  return Common::Error(Common::buildErrorRecord(wide ? &wideAdviceOps : &narrowAdviceOps, 0x77, code, {text, true},
                                                &field, 1));
}

Common::Error wrapped(std::uint32_t code, const Common::Error& cause) {
  Common::Error e(0x1, code);
  e.setCause(cause);
  return e;
}

TEST(MessengerErrorText, TextAdviceAndCode) {
  const Common::Error diskFull(0x2, 0x40004, u"Disk is full.");
  const struct {
    const char* name;
    Common::Error error;
    const char16_t* text;
    const char16_t* advice;  // "unchanged" stays as set before the call
    std::uint32_t code;
  } cases[] = {
      {"no error", Common::Error(), u"Internal error", u"unchanged", 0x10000},
      {"own text", diskFull, u"Disk is full.", u"unchanged", 0x40004},
      {"facility 14 wraps", wrapped(0xE0001, diskFull), u"Disk is full.", u"unchanged", 0x40004},
      {"facility 18 wraps 14", wrapped(0x120001, wrapped(0xE0002, diskFull)), u"Disk is full.", u"unchanged", 0x40004},
      {"wrapper without cause", Common::Error(0x3, 0xE0001), u"Internal error", u"unchanged", 0x10000},
      {"facility 15 is not unwrapped", wrapped(0xF0001, diskFull), u"Internal error: Operation has completed with errors. (0xF0001)",
       u"unchanged", 0xF0001},
      {"no message", Common::Error(0x4, 0x30005), u"Internal error: Operation has completed with errors. (0x30005)",
       u"unchanged", 0x30005},
      {"file code without text", Common::Error(0x5, 0x40018),
       u"Internal error: Operation has completed with errors. (0x40018)", u"unchanged", 0x40018},
      {"file code, catalogue message", Common::Error(0x6, 0x40004), u"Disk is full.", u"unchanged", 0x40004},
      {"wide advice", adviceError(0x560001, u"Bad", u"Try again.", true), u"Bad", u"Try again.", 0x560001},
      {"narrow advice", adviceError(0x560002, u"Bad", "Reboot first.", false), u"Bad", u"Reboot first.", 0x560002},
      {"empty advice", adviceError(0x560003, u"Bad", u"", true), u"Bad", u"", 0x560003},
  };
  for (const auto& c : cases) {
    String text(u"previous"), advice(u"unchanged");
    EXPECT_EQ(Processor::Messenger::errorText(c.error, text, advice), c.code) << c.name;
    EXPECT_EQ(u16(text), c.text) << c.name;
    EXPECT_EQ(u16(advice), c.advice) << c.name;
  }
}

}  // namespace
