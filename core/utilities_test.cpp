#include "core/utilities.h"

#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "files/fs_test_world.h"
#include "files/memory_file.h"
#include "files/windows_dir.h"
#include "platform/win32/testing/locale_testing.h"
#include "system/layer.h"
#include "system/trace.h"

namespace {

using namespace Processor;

std::string narrow(const String& s) {
  std::string out;
  for (int i = 0; i < s.length(); ++i) out.push_back(static_cast<char>(s.charAt(i)));
  return out;
}

// Answers from a script and keeps what it was shown.
class ScriptedMessenger final : public Messenger {
 public:
  explicit ScriptedMessenger(std::deque<std::uint32_t> answers = {}) : answers_(std::move(answers)) {}
  std::uint32_t show(const MessengerMessage& m) override {
    shown.push_back({m.errorCode, m.flags, narrow(m.text), narrow(m.details)});
    if (answers_.empty()) {
      ADD_FAILURE() << "unexpected message " << narrow(m.text);
      return MessageFlag::cancel;
    }
    std::uint32_t a = answers_.front();
    answers_.pop_front();
    return a;
  }
  void close(std::uint32_t) override {}
  void closeAll() override {}
  struct Shown {
    std::uint32_t code, flags;
    std::string text, details;
  };
  std::vector<Shown> shown;
  bool scriptUsedUp() const { return answers_.empty(); }

 private:
  std::deque<std::uint32_t> answers_;
};

class Recorder final : public Progress {
 public:
  bool report(const ProgressInfo& info) override {
    reports.push_back(info);
    if (cancelAfter && reports.size() >= cancelAfter) flag->cancel();
    return true;
  }
  std::vector<ProgressInfo> reports;
  std::size_t cancelAfter = 0;
  Cancelable* flag = nullptr;
};

class Copies : public fs_test::World {
 protected:
  void SetUp() override {
    fs_test::World::SetUp();
    std::filesystem::create_directories(c("src"));
    src_.reset(dir(u"C:\\src"));
    dst_.reset(dir(u"C:\\dst"));
  }
  void TearDown() override {
    freeCopyList(list_);
    src_.reset();
    dst_.reset();
    fs_test::World::TearDown();
  }
  static rio_dir* dir(const char16_t* path) {
    return dynamic_cast<rio_dir*>(current_dir()->open_dir(path));
  }
  void add(const char16_t* name) {
    list_.push_back(new CopyItem{new FileIdentifier(dst_.get(), name), new FileIdentifier(static_cast<i_dir*>(src_.get()), name)});
  }
  std::unique_ptr<rio_dir> src_, dst_;
  CopyList list_;
};

TEST_F(Copies, AListCopiesIntoAFolderItMakes) {
  put("src/a.txt", "alpha");
  put("src/b.bin", std::string(250000, 'b'));
  add(u"a.txt");
  add(u"b.bin");
  Recorder sink;
  EXPECT_TRUE(copyFiles(list_, 0, nullptr, &sink, nullptr));
  EXPECT_EQ(get("dst/a.txt"), "alpha");
  EXPECT_EQ(get("dst/b.bin"), std::string(250000, 'b'));
  // The percentage grows to 100 over the whole list.
  ASSERT_FALSE(sink.reports.empty());
  EXPECT_EQ(sink.reports.back().flags, 0x143u);
  EXPECT_EQ(sink.reports.back().value, 100u);
  EXPECT_EQ(narrow(sink.reports.back().text), "File copying...");
  for (std::size_t i = 1; i < sink.reports.size(); ++i) EXPECT_GE(sink.reports[i].value, sink.reports[i - 1].value);
}

TEST_F(Copies, AnExistingDestinationIsSkippedUnlessOverwriteOrYes) {
  put("src/a.txt", "new");
  put("dst/a.txt", "old");
  add(u"a.txt");
  EXPECT_TRUE(copyFiles(list_, 0, nullptr, nullptr, nullptr));  // silently left alone
  EXPECT_EQ(get("dst/a.txt"), "old");

  struct Case {
    std::uint32_t answer;
    bool result;
    const char* after;
  } cases[] = {
      {MessageFlag::no, true, "old"},
      {0, true, "old"},  // closed without a button: never an overwrite
      {MessageFlag::cancel, false, "old"},
      {MessageFlag::yes, true, "new"},
  };
  for (const auto& k : cases) {
    put("dst/a.txt", "old");
    ScriptedMessenger m({k.answer});
    EXPECT_EQ(copyFiles(list_, CopyFlag::ask, &m, nullptr, nullptr), k.result) << k.answer;
    EXPECT_EQ(get("dst/a.txt"), k.after) << k.answer;
    ASSERT_EQ(m.shown.size(), 1u);
    EXPECT_EQ(m.shown[0].code, 0x1006Eu);
    EXPECT_EQ(m.shown[0].flags, 0x600D1u);
    EXPECT_EQ(m.shown[0].text, "File '" + narrow(String(dst_->path())) + "a.txt' already exists.");
  }
  put("dst/a.txt", "old");
  EXPECT_TRUE(copyFiles(list_, CopyFlag::overwrite, nullptr, nullptr, nullptr));
  EXPECT_EQ(get("dst/a.txt"), "new");
}

TEST_F(Copies, AnUnreadableSourceIsRetriedIgnoredOrCancelled) {
  put("src/b.txt", "bee");
  put("dst/a.txt", "keep me");
  add(u"a.txt");  // missing at first
  add(u"b.txt");
  {
    // Ignore skips the item without touching its destination; the list reports the failure.
    ScriptedMessenger m({MessageFlag::ignore});
    EXPECT_FALSE(copyFiles(list_, CopyFlag::overwrite, &m, nullptr, nullptr));
    EXPECT_EQ(get("dst/a.txt"), "keep me");
    EXPECT_EQ(get("dst/b.txt"), "bee");
    ASSERT_EQ(m.shown.size(), 1u);
    EXPECT_EQ(m.shown[0].code, 0x1006Du);
    EXPECT_EQ(m.shown[0].flags, 0x60E11u);
    EXPECT_EQ(m.shown[0].text, "Failed to open file 'a.txt' in '" + narrow(String(src_->path())) + "'.");
  }
  {
    // Without a messenger, too.
    std::filesystem::remove(c("dst/b.txt"));
    EXPECT_FALSE(copyFiles(list_, CopyFlag::overwrite, nullptr, nullptr, nullptr));
    EXPECT_EQ(get("dst/a.txt"), "keep me");
    EXPECT_EQ(get("dst/b.txt"), "bee");
  }
  {
    // Cancel stops the list before the next item.
    std::filesystem::remove(c("dst/b.txt"));
    ScriptedMessenger m({MessageFlag::cancel});
    EXPECT_FALSE(copyFiles(list_, CopyFlag::overwrite, &m, nullptr, nullptr));
    EXPECT_FALSE(std::filesystem::exists(c("dst/b.txt")));
  }
  {
    // Retry opens again; the file has come meanwhile.
    ScriptedMessenger m({MessageFlag::retry});
    struct Arrive final : Messenger {
      ScriptedMessenger& inner;
      std::function<void()> before;
      explicit Arrive(ScriptedMessenger& i) : inner(i) {}
      std::uint32_t show(const MessengerMessage& msg) override {
        before();
        return inner.show(msg);
      }
      void close(std::uint32_t) override {}
      void closeAll() override {}
    } arrive(m);
    arrive.before = [&] { put("src/a.txt", "arrived"); };
    EXPECT_TRUE(copyFiles(list_, CopyFlag::overwrite, &arrive, nullptr, nullptr));
    EXPECT_EQ(get("dst/a.txt"), "arrived");
    EXPECT_EQ(m.shown.size(), 1u);
  }
}

TEST_F(Copies, IgnoreAllStopsAskingAboutLaterItems) {
  add(u"x1.txt");
  add(u"x2.txt");
  add(u"x3.txt");
  put("src/ok.txt", "ok");
  add(u"ok.txt");
  ScriptedMessenger m({MessageFlag::ignoreAll});
  EXPECT_FALSE(copyFiles(list_, 0, &m, nullptr, nullptr));
  EXPECT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(get("dst/ok.txt"), "ok");
  for (const char* n : {"dst/x1.txt", "dst/x2.txt", "dst/x3.txt"}) EXPECT_FALSE(std::filesystem::exists(c(n)));
}

TEST_F(Copies, ADestinationThatCannotBeCreatedAsksAgain) {
  put("src/a.txt", "alpha");
  put("dst/a.txt", "locked");
  ::chmod(c("dst/a.txt").c_str(), 0444);  // read-only: the layer refuses to truncate it
  add(u"a.txt");
  {
    ScriptedMessenger m({MessageFlag::retry, MessageFlag::ignore});
    EXPECT_FALSE(copyFiles(list_, CopyFlag::overwrite, &m, nullptr, nullptr));
    ASSERT_EQ(m.shown.size(), 2u);
    EXPECT_EQ(m.shown[0].code, 0x1006Eu);
    EXPECT_EQ(m.shown[0].flags, 0x60E11u);
    EXPECT_EQ(m.shown[0].text, "Failed to create file 'a.txt' in '" + narrow(String(dst_->path())) + "'.");
    EXPECT_EQ(get("dst/a.txt"), "locked");
  }
  EXPECT_FALSE(copyFiles(list_, CopyFlag::overwrite, nullptr, nullptr, nullptr));
  {
    // Retry after the cause is gone succeeds.
    ScriptedMessenger m({MessageFlag::retry});
    struct Unlock final : Messenger {
      ScriptedMessenger& inner;
      std::string path;
      Unlock(ScriptedMessenger& i, std::string p) : inner(i), path(std::move(p)) {}
      std::uint32_t show(const MessengerMessage& msg) override {
        ::chmod(path.c_str(), 0644);
        return inner.show(msg);
      }
      void close(std::uint32_t) override {}
      void closeAll() override {}
    } unlock(m, c("dst/a.txt"));
    EXPECT_TRUE(copyFiles(list_, CopyFlag::overwrite, &unlock, nullptr, nullptr));
    EXPECT_EQ(get("dst/a.txt"), "alpha");
  }
}

TEST_F(Copies, CancellingMidwayRemovesThePartialFile) {
  // Large enough for three steps of the copy inside the kernel.
  put("src/big.bin", std::string(20u << 20, 'x'));
  put("src/after.txt", "later");
  add(u"big.bin");
  add(u"after.txt");
  Cancelable flag;
  Recorder sink;
  sink.flag = &flag;
  sink.cancelAfter = 3;  // the item's progress, then two steps
  ScriptedMessenger m;
  EXPECT_FALSE(copyFiles(list_, 0, &m, &sink, &flag));
  EXPECT_TRUE(m.shown.empty());
  EXPECT_FALSE(std::filesystem::exists(c("dst/big.bin")));
  EXPECT_FALSE(std::filesystem::exists(c("dst/after.txt")));
}

TEST_F(Copies, AFolderThatCannotBeMadeEndsTheList) {
  put("src/a.txt", "a");
  put("blocker", "a file where a folder should be");
  freeCopyList(list_);
  std::unique_ptr<rio_dir> below(dir(u"C:\\blocker\\sub"));
  ASSERT_TRUE(below);
  list_.push_back(new CopyItem{new FileIdentifier(below.get(), u"a.txt"), new FileIdentifier(static_cast<i_dir*>(src_.get()), u"a.txt")});
  add(u"a.txt");
  ScriptedMessenger m({MessageFlag::ok});
  EXPECT_FALSE(copyFiles(list_, 0, &m, nullptr, nullptr));
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].code, 0x10067u);
  EXPECT_EQ(m.shown[0].flags, 0x80000031u);
  EXPECT_FALSE(std::filesystem::exists(c("dst/a.txt")));
}

void setWriteTime(const char16_t* path, std::uint64_t filetime) {
  FILETIME ft{static_cast<DWORD>(filetime), static_cast<DWORD>(filetime >> 32)};
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
  CloseHandle(h);
}

// The question shows both files' write times as dates (in UTC here) and sizes;
// a missing source shows "N/A".
TEST_F(Copies, TheOverwriteQuestionShowsTheFilesDatesAndSizes) {
  TIME_ZONE_INFORMATION utc{};
  win32::set_time_zone_for_tests(&utc, TIME_ZONE_ID_UNKNOWN);
  SetThreadLocale(0x0409);
  put("src/a.txt", "newer");
  put("dst/a.txt", "old");
  // 2021-03-04 05:06:07 UTC and 2024-11-30 23:59:00 UTC as FILETIMEs.
  setWriteTime(u"C:\\dst\\a.txt", 132593079670000000ull);
  setWriteTime(u"C:\\src\\a.txt", 133774847400000000ull);
  add(u"a.txt");
  ScriptedMessenger m({MessageFlag::no});
  EXPECT_TRUE(copyFiles(list_, CopyFlag::ask, &m, nullptr, nullptr));
  win32::set_time_zone_for_tests(nullptr);
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_EQ(m.shown[0].details,
            "File already exists.\nDo you want to overwrite it?\n\n<table>"
            "<row><col>Old file:</col><col>3/4/2021 5:06:07 AM</col><col>3 bytes</col></row>"
            "<row><col>New file:</col><col>11/30/2024 11:59:00 PM</col><col>5 bytes</col></row></table>");
}

// Kept attributes go to the copy, also under another name, and never to an
// unrelated file that bears the source's name in the destination folder.
TEST_F(Copies, KeptAttributesGoToTheCopyUnderItsOwnName) {
  put("src/a.txt", "a");
  put("dst/a.txt", "bystander");
  ASSERT_TRUE(SetFileAttributesW(u"C:\\src\\a.txt", FILE_ATTRIBUTE_HIDDEN));
  list_.push_back(new CopyItem{new FileIdentifier(dst_.get(), String(u"b.txt")),
                               new FileIdentifier(static_cast<i_dir*>(src_.get()), String(u"a.txt"))});
  EXPECT_TRUE(copyFiles(list_, CopyFlag::keepAttributes, nullptr, nullptr, nullptr));
  EXPECT_EQ(get("dst/b.txt"), "a");
  EXPECT_EQ(GetFileAttributesW(u"C:\\dst\\b.txt") & FILE_ATTRIBUTE_HIDDEN,
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesW(u"C:\\dst\\a.txt") & FILE_ATTRIBUTE_HIDDEN, 0u);
  SetFileAttributesW(u"C:\\dst\\b.txt", FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(u"C:\\src\\a.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Copies, KeepingAttributesCarriesTimesAndReadOnly) {
  put("src/a.txt", "a");
  FILETIME ft{0x12345678, 0x01D00000};
  HANDLE h = CreateFileW(u"C:\\src\\a.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(h, &ft, &ft, &ft));
  CloseHandle(h);
  ASSERT_TRUE(SetFileAttributesW(u"C:\\src\\a.txt", FILE_ATTRIBUTE_READONLY));
  add(u"a.txt");
  EXPECT_TRUE(copyFiles(list_, CopyFlag::keepAttributes, nullptr, nullptr, nullptr));
  WIN32_FILE_ATTRIBUTE_DATA d{};
  ASSERT_TRUE(GetFileAttributesExW(u"C:\\dst\\a.txt", GetFileExInfoStandard, &d));
  EXPECT_NE(d.dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(d.ftLastWriteTime.dwHighDateTime, ft.dwHighDateTime);
  EXPECT_EQ(get("dst/a.txt"), "a");
}

// Stands between the copy and a file whose reads or writes fail.
class Failing final : public rio_file {
 public:
  explicit Failing(bool failReads) : failReads_(failReads) {}
  void read(void*, std::uint32_t, std::uint32_t& count) override {
    count = 0;
    if (failReads_) raise(0, 0x40005);
  }
  void write(const void*, std::uint32_t length, std::uint32_t& count) override { count = length / 2; }
  std::int64_t seek_set(std::int64_t) override { return 0; }
  std::int64_t seek_cur(std::int64_t) override { return 0; }
  std::int64_t seek_end(std::int64_t) override { return 0; }
  void set_size(std::uint64_t) override {}

 private:
  bool failReads_;
};

TEST(CopyStream, ReportsProgressAndFailures) {
  std::unique_ptr<Common::MemoryFile> in(Common::CreateMemoryFile()), out(Common::CreateMemoryFile());
  std::string bytes(250000, 'q');
  std::uint32_t n = 0;
  in->write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), n);
  in->rewind();
  Recorder sink;
  CopyContext context;
  context.sink = &sink;
  context.total = bytes.size();
  EXPECT_EQ(copyStream(out.get(), in.get(), context), CopyResult::done);
  ASSERT_EQ(sink.reports.size(), 3u);  // 102400, 204800, 250000
  EXPECT_EQ(sink.reports[0].value, 40u);
  EXPECT_EQ(sink.reports[1].value, 81u);
  EXPECT_EQ(sink.reports[2].value, 100u);
  EXPECT_EQ(out->size(), bytes.size());

  // No total: flags 0x101 and no counting.
  in->rewind();
  Recorder plain;
  CopyContext open;
  open.sink = &plain;
  EXPECT_EQ(copyStream(out.get(), in.get(), open), CopyResult::done);
  ASSERT_EQ(plain.reports.size(), 3u);
  EXPECT_EQ(plain.reports[0].flags, 0x101u);
  EXPECT_EQ(open.done, 0u);

  // An empty file: one read, no progress.
  std::unique_ptr<Common::MemoryFile> empty(Common::CreateMemoryFile());
  Recorder none;
  CopyContext quiet;
  quiet.sink = &none;
  EXPECT_EQ(copyStream(out.get(), empty.get(), quiet), CopyResult::done);
  EXPECT_TRUE(none.reports.empty());

  Failing badRead(true), shortWrite(false);
  CopyContext c1, c2;
  EXPECT_EQ(copyStream(out.get(), &badRead, c1), CopyResult::readError);
  in->rewind();
  EXPECT_EQ(copyStream(&shortWrite, in.get(), c2), CopyResult::writeError);
}

TEST(CopyFileReporting, TellsTheUserOfReadAndWriteFailures) {
  std::unique_ptr<Common::MemoryFile> in(Common::CreateMemoryFile()), out(Common::CreateMemoryFile());
  std::uint32_t n = 0;
  in->write("abc", 3, n);
  in->rewind();
  Recorder sink;
  ScriptedMessenger quiet;
  EXPECT_TRUE(copyFileReporting(out.get(), in.get(), 0, &quiet, &sink, nullptr));
  ASSERT_EQ(sink.reports.size(), 2u);  // the start, then the one chunk
  EXPECT_EQ(sink.reports[0].flags, 0x101u);
  EXPECT_EQ(narrow(sink.reports[0].text), "File copying...");
  EXPECT_TRUE(quiet.shown.empty());

  Failing badRead(true), shortWrite(false);
  ScriptedMessenger m({MessageFlag::ok, MessageFlag::ok});
  EXPECT_FALSE(copyFileReporting(out.get(), &badRead, 0, &m, nullptr, nullptr));
  in->rewind();
  EXPECT_FALSE(copyFileReporting(&shortWrite, in.get(), 0, &m, nullptr, nullptr));
  ASSERT_EQ(m.shown.size(), 2u);
  EXPECT_EQ(m.shown[0].code, 0x1006Fu);
  EXPECT_EQ(m.shown[0].text, "Failed to read the file.");
  EXPECT_EQ(m.shown[1].code, 0x10070u);
  EXPECT_EQ(m.shown[1].text, "Failed to write to file.");

  // A cancelled copy says nothing.
  Cancelable flag;
  flag.cancel();
  in->rewind();
  ScriptedMessenger silent;
  EXPECT_FALSE(copyFileReporting(out.get(), in.get(), 0, &silent, nullptr, &flag));
  EXPECT_TRUE(silent.shown.empty());
}

TEST(NewGuidText, Is36UpperCaseHexDigitsAndDashes) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    String s(u"previous text");
    EXPECT_EQ(newGuidText(s), 36);
    std::string t = narrow(s);
    ASSERT_EQ(t.size(), 36u);
    for (std::size_t k = 0; k < t.size(); ++k) {
      if (k == 8 || k == 13 || k == 18 || k == 23)
        EXPECT_EQ(t[k], '-');
      else
        EXPECT_TRUE((t[k] >= '0' && t[k] <= '9') || (t[k] >= 'A' && t[k] <= 'F')) << t;
    }
    EXPECT_EQ(t[14], '4');  // a random GUID
    seen.insert(t);
  }
  EXPECT_EQ(seen.size(), 50u);
}

}  // namespace

namespace {

using namespace Processor;

class Commands : public fs_test::World {
 protected:
  void script(const std::string& rel, const std::string& body) {
    put(rel, "#!/bin/sh\n" + body + "\n");
    ::chmod(c(rel).c_str(), 0755);
  }
};

TEST_F(Commands, AProgramRunsWithItsArgumentsAndItsExitCodeComesBack) {
  script("my bin/tool.exe", "for a in \"$@\"; do printf '[%s]' \"$a\"; done > args.txt; exit 5");
  // A wait handle that is never set: the call waits for the program.
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::uint32_t result = 0;
  EXPECT_EQ(runCommandArgs(u"C:\\my bin\\tool.exe", u"C:\\work", never, &result, true,
                           {u"a b", u"x;touch pwned", u"$(touch pwned2)", u"q\"uote", u"tail\\", u""}),
            RunResult::finished);
  EXPECT_EQ(result, 5u);
  EXPECT_EQ(get("work/args.txt"), "[a b][x;touch pwned][$(touch pwned2)][q\"uote][tail\\][]");
  EXPECT_FALSE(std::filesystem::exists(c("work/pwned")));
  EXPECT_FALSE(std::filesystem::exists(c("work/pwned2")));

  EXPECT_EQ(runCommand(u"C:\\bin\\absent.exe", u"", nullptr, 0, nullptr, &result, false), RunResult::notStarted);
  EXPECT_EQ(result, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  // Anything else goes through the shell, which finds programs on the search path.
  EXPECT_EQ(runCommand(u"false", u"", nullptr, 0, never, &result, false), RunResult::finished);
  EXPECT_EQ(result, 1u);
  CloseHandle(never);
}

struct TracedEvent {
  int level;
  std::uint32_t facility, number;
  std::u16string text;
};
std::vector<TracedEvent> traced;
void recordTrace(int level, std::uint32_t facility, std::uint32_t number, const char16_t* text) {
  traced.push_back({level, facility, number, text});
}

TEST_F(Commands, AProgramThatCannotStartIsTracedWithTheSystemsReason) {
  const int threshold = Common::traceThreshold();
  Common::setTraceThreshold(Common::kTraceDebug);
  const Common::TraceSink sink{recordTrace, nullptr, nullptr};
  Common::addTraceSink(sink);
  traced.clear();

  std::uint32_t result = 0;
  EXPECT_EQ(runCommand(u"C:\\bin\\absent.exe", u"", nullptr, 0, nullptr, &result, false), RunResult::notStarted);
  script("bin/there.exe", "exit 0");
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(runCommand(u"C:\\bin\\there.exe", u"", nullptr, 0, never, &result, false), RunResult::finished);
  CloseHandle(never);
  // The shell finds no such document.
  EXPECT_EQ(runCommand(u"C:\\docs\\gone.txt", u"", nullptr, 0, nullptr, &result, false), RunResult::notStarted);

  Common::removeTraceSink(sink);
  Common::setTraceThreshold(threshold);
  ASSERT_EQ(traced.size(), 2u);
  for (const TracedEvent& e : traced) {
    EXPECT_EQ(e.level, 3);
    EXPECT_EQ(e.facility, 1u);
    EXPECT_EQ(e.number, 101u);
  }
  // The reason is the error's full text, the system's own words and code included.
  const struct {
    std::u16string start, reason, code;
  } expected[2] = {
      {u"Cannot execute 'C:\\bin\\absent.exe' - ", u"The system cannot find the file specified", u"(0x80070002)"},
      {u"Cannot execute 'C:\\docs\\gone.txt' - ", u"The system cannot find the path specified", u"(0x80070003)"},
  };
  for (int i = 0; i < 2; ++i) {
    const std::u16string& t = traced[i].text;
    EXPECT_EQ(t.compare(0, expected[i].start.size(), expected[i].start), 0) << i;
    EXPECT_NE(t.find(expected[i].reason), std::u16string::npos) << i;
    EXPECT_NE(t.find(expected[i].code), std::u16string::npos) << i;
  }
}

TEST_F(Commands, TheWaitHandleEndsTheWaitEarly) {
  script("bin/slow.exe", "i=0; while [ ! -e " + c("go") + " ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done");
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread setter([&] {
    Sleep(100);
    SetEvent(stop);
  });
  std::uint32_t result = 77;
  EXPECT_EQ(runCommand(u"C:\\bin\\slow.exe", u"", nullptr, 0, stop, &result, false), RunResult::notWaited);
  EXPECT_EQ(result, 1u);
  setter.join();
  put("go", "");  // lets the program end
  // Without a wait handle the call returns at once; the program goes on alone.
  script("bin/quick.exe", "touch " + c("quick.done"));
  EXPECT_EQ(runCommand(u"C:\\bin\\quick.exe", u"", nullptr, 0, nullptr, &result, false), RunResult::notWaited);
  EXPECT_EQ(result, 0u);
  for (int i = 0; i < 400 && !std::filesystem::exists(c("quick.done")); ++i) Sleep(25);
  EXPECT_TRUE(std::filesystem::exists(c("quick.done")));
  // With one that stays unset, the program's end wins.
  ResetEvent(stop);
  EXPECT_EQ(runCommand(u"C:\\bin\\slow.exe", u"", nullptr, 0, stop, &result, false), RunResult::finished);
  EXPECT_EQ(result, 0u);
  CloseHandle(stop);
}

// Records the command lines the layer is asked to start, and starts nothing.
class RecordingLayer : public Windows::LayerNT {
 public:
  BOOL CreateProcessW(LPCWSTR, LPWSTR line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD flags, LPVOID,
                      LPCWSTR, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION) override {
    lines.emplace_back(line);
    this->flags = flags;
    show = (startup->dwFlags & STARTF_USESHOWWINDOW) ? startup->wShowWindow : -1;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::vector<std::u16string> lines;
  DWORD flags = 0;
  int show = -2;
};

class BatchFiles : public Commands {
 protected:
  void SetUp() override {
    Commands::SetUp();
    saved_ = Windows::layer;
    Windows::layer = &recorder_;
  }
  void TearDown() override {
    Windows::layer = saved_;
    ::unsetenv("KV_WINDOWS_VERSION");
    Commands::TearDown();
  }
  RecordingLayer recorder_;
  Windows::LayerNT* saved_ = nullptr;
};

TEST_F(BatchFiles, RunOnlyThroughAnInterpreterThatExists) {
  std::uint32_t result = 0;
  EXPECT_EQ(runCommandArgs(u"C:\\jobs\\x.bat", u"", nullptr, &result, false, {u"a"}), RunResult::notStarted);
  EXPECT_EQ(result, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(recorder_.lines.empty());

  put("Windows/System32/cmd.exe", "");
  EXPECT_EQ(runCommandArgs(u"C:\\my jobs\\x.bat", u"", nullptr, &result, true, {u"a b", u"c", u"x&y"}),
            RunResult::notStarted);
  EXPECT_EQ(result, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(runCommand(u"C:\\jobs\\x.BAT", u"", nullptr, 0, nullptr, &result, false), RunResult::notStarted);
  ASSERT_EQ(recorder_.lines.size(), 2u);
  EXPECT_EQ(recorder_.lines[0], u"cmd.exe /C \"\"C:\\my jobs\\x.bat\" \"a b\" c \"x&y\"\"");
  EXPECT_EQ(recorder_.lines[1], u"cmd.exe /C \"C:\\jobs\\x.BAT\"");
  EXPECT_EQ(recorder_.flags, 0x210u);
  EXPECT_EQ(recorder_.show, -1);

  // Texts the interpreter would still expand, or cannot quote, are refused.
  for (const char16_t* bad : {u"%PATH%", u"say \"hi\"", u"wow!"}) {
    EXPECT_EQ(runCommandArgs(u"C:\\jobs\\x.bat", u"", nullptr, &result, false, {bad}), RunResult::notStarted);
    EXPECT_EQ(result, static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(recorder_.lines.size(), 2u);

  ::setenv("KV_WINDOWS_VERSION", "98", 1);
  EXPECT_EQ(runCommand(u"C:\\jobs\\x.bat", u"", nullptr, 0, nullptr, &result, false), RunResult::notStarted);
  EXPECT_EQ(result, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  put("Windows/command.com", "");
  EXPECT_EQ(runCommand(u"C:\\jobs\\x.bat", u"", nullptr, 0, nullptr, &result, false), RunResult::notStarted);
  ASSERT_EQ(recorder_.lines.size(), 3u);
  EXPECT_EQ(recorder_.lines[2], u"command.com /C \"C:\\jobs\\x.bat\"");
}

TEST_F(Commands, DocumentsGoToTheShellHiddenWhenAsked) {
  put("docs/a.txt", "x");
  win32::record_shell_calls(true);
  std::uint32_t result = 9;
  EXPECT_EQ(runCommandArgs(u"C:\\docs\\a.txt", u"C:\\docs", nullptr, &result, true, {u"p q", u"r"}),
            RunResult::notStarted);  // opened, but no process to wait for
  EXPECT_EQ(result, 0u);
  auto calls = win32::recorded_shell_calls();
  win32::record_shell_calls(false);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].verb, u"open");
  EXPECT_EQ(calls[0].parameters, u"\"p q\" r");
  EXPECT_EQ(calls[0].directory, u"C:\\docs");
  EXPECT_EQ(calls[0].show, SW_HIDE);
}

}  // namespace
