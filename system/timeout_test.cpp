#include "system/timeout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/testing/wintime_testing.h"
#include "system/locks.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

// Records the order in which callbacks ran and when.
struct Log {
  std::mutex m;
  std::vector<int> order;
  std::vector<clock_type::time_point> at;
  void add(int id) {
    std::lock_guard<std::mutex> g(m);
    order.push_back(id);
    at.push_back(clock_type::now());
  }
  std::size_t size() {
    std::lock_guard<std::mutex> g(m);
    return order.size();
  }
};

struct Entry {
  Log* log;
  int id;
  static std::int32_t fire(void* p) {
    auto* e = static_cast<Entry*>(p);
    e->log->add(e->id);
    return e->id;
  }
};

// Each test leaves no time-out behind, so the tick clock is ours to move.
class Timeouts : public ::testing::Test {
 protected:
  void TearDown() override {
    win32::set_tick_offset(0);
    EXPECT_TRUE(eventually([] { return Common::detail::timeoutMonitorsRunning() == 0; }));
  }
};

TEST_F(Timeouts, OrderedAcrossTickWrap) {
  for (bool async : {false, true}) {
    SCOPED_TRACE(async ? "asynchronous" : "synchronous");
    Log log;
    Entry later{&log, 200}, sooner{&log, 100};
    win32::set_tick_count(0xFFFFFFFFu - 10);
    auto armed = clock_type::now();
    Common::Timeout a, b;
    Common::startTimeout(a, &Entry::fire, &later, 200, async);
    Common::startTimeout(b, &Entry::fire, &sooner, 100, async);
    ASSERT_TRUE(eventually([&] { return log.size() == 2; }));
    EXPECT_EQ(log.order, (std::vector<int>{100, 200}));
    EXPECT_GE(log.at[0] - armed, 95ms);
    EXPECT_GE(log.at[1] - armed, 195ms);
  }
}

// Equal deadlines fire in the reverse order of arming.
TEST_F(Timeouts, EqualDeadlinesFireNewestFirst) {
  Log log;
  Entry first{&log, 1}, second{&log, 2}, third{&log, 3};
  const DWORD base = 0x40000000;
  Common::Timeout t1, t2, t3;
  for (int attempt = 0; attempt < 20; ++attempt) {
    // The same start tick for all three: the clock is put back before each
    // arming, and an attempt counts only if it did not move meanwhile.
    win32::set_tick_count(base);
    Common::startTimeout(t1, &Entry::fire, &first, 50, false);
    bool same = GetTickCount() == base;
    win32::set_tick_count(base);
    Common::startTimeout(t2, &Entry::fire, &second, 50, false);
    same = same && GetTickCount() == base;
    win32::set_tick_count(base);
    Common::startTimeout(t3, &Entry::fire, &third, 50, false);
    same = same && GetTickCount() == base;
    if (same) break;
    Common::cancelTimeout(t1);
    Common::cancelTimeout(t2);
    Common::cancelTimeout(t3);
  }
  ASSERT_TRUE(eventually([&] { return log.size() == 3; }));
  EXPECT_EQ(log.order, (std::vector<int>{3, 2, 1}));
}

TEST_F(Timeouts, CancelKeepsCallbackFromRunning) {
  Log log;
  Entry e{&log, 1}, f{&log, 2};
  Common::Timeout t, u;
  Common::startTimeout(t, &Entry::fire, &e, 60, false);
  Common::startTimeout(u, &Entry::fire, &f, 60, true);
  Common::cancelTimeout(t);
  Common::cancelTimeout(t);  // twice: nothing more
  Common::cancelTimeout(u);
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(log.size(), 0u);
}

TEST_F(Timeouts, CancelAfterFiringDoesNothing) {
  Log log;
  Entry e{&log, 7};
  Common::Timeout t;
  Common::startTimeout(t, &Entry::fire, &e, 5, false);
  ASSERT_TRUE(eventually([&] { return log.size() == 1; }));
  Common::cancelTimeout(t);
  Common::cancelTimeout(t);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(log.size(), 1u);
}

// Cancelled after the monitor handed it to a pooled thread but before that
// thread fired it: the callback does not run.
Common::Event* handedOff;
Common::Event* cancelled;
void holdHandOff() {
  handedOff->set();
  cancelled->wait();
}

// The owner stops the time-out either by a cancel or by letting go of its last
// handle; the release waits for the pooled thread, so the events and the log
// may go as soon as it returns.
TEST_F(Timeouts, CancelBetweenHandOffAndFiring) {
  for (bool byRelease : {false, true}) {
    SCOPED_TRACE(byRelease ? "last handle released" : "cancelled");
    Common::Event h(true, false), c(true, false);
    handedOff = &h;
    cancelled = &c;
    Common::detail::setTimeoutHandOffHook(&holdHandOff);
    auto log = std::make_unique<Log>();
    Entry e{log.get(), 1};
    Common::Timeout t;
    Common::startTimeout(t, &Entry::fire, &e, 5, true);
    ASSERT_TRUE(h.waitFor(5000));
    if (!byRelease) Common::cancelTimeout(t);
    std::thread release([&] { t.reset(); });
    // Without a cancel, the release cancels before it waits.
    std::this_thread::sleep_for(20ms);
    c.set();
    release.join();
    Common::detail::setTimeoutHandOffHook(nullptr);
    EXPECT_EQ(log->size(), 0u);
  }
}

// Letting go of the last handle while an asynchronous callback runs returns
// only after the callback did.
struct Slow {
  Common::Event started{true, false};
  std::atomic<bool> finished{false};
  static std::int32_t fire(void* p) {
    auto* s = static_cast<Slow*>(p);
    s->started.set();
    std::this_thread::sleep_for(50ms);
    s->finished = true;
    return 0;
  }
};

TEST_F(Timeouts, LastHandleReleaseWaitsForRunningCallback) {
  auto slow = std::make_unique<Slow>();
  Common::Timeout t;
  Common::startTimeout(t, &Slow::fire, slow.get(), 1, true);
  ASSERT_TRUE(slow->started.waitFor(5000));
  t.reset();
  EXPECT_TRUE(slow->finished.load());
}

// A callback that lets go of the last handle to its own time-out: neither the
// firing thread nor the monitor may wait for itself.
struct SelfRelease {
  Common::Timeout handle;
  std::atomic<bool> done{false};
  static std::int32_t fire(void* p) {
    auto* s = static_cast<SelfRelease*>(p);
    s->handle.reset();
    s->done = true;
    return 0;
  }
};

TEST_F(Timeouts, LastHandleReleasedInsideCallback) {
  for (bool async : {true, false}) {
    SCOPED_TRACE(async ? "asynchronous" : "synchronous");
    SelfRelease s;
    Common::startTimeout(s.handle, &SelfRelease::fire, &s, 5, async);
    ASSERT_TRUE(eventually([&] { return s.done.load(); }));
    // The time-out was the last: its monitor ends (in the synchronous case on
    // its own thread, which must not join itself).
    EXPECT_TRUE(eventually([] { return Common::detail::timeoutMonitorsRunning() == 0; }));
  }
  // And the next time-out gets a new monitor.
  Log log;
  Entry e{&log, 1};
  Common::Timeout t;
  Common::startTimeout(t, &Entry::fire, &e, 5, false);
  EXPECT_TRUE(eventually([&] { return log.size() == 1; }));
}

TEST_F(Timeouts, MonitorLivesWhileTimeoutsExist) {
  Log log;
  Entry e{&log, 1};
  {
    Common::Timeout t;
    Common::startTimeout(t, &Entry::fire, &e, 100000, false);
    EXPECT_TRUE(eventually([] { return Common::detail::timeoutMonitorsRunning() == 1; }));
  }  // destroyed unfired: cancelled
  EXPECT_TRUE(eventually([] { return Common::detail::timeoutMonitorsRunning() == 0; }));
  EXPECT_EQ(log.size(), 0u);
}

// Many time-outs armed and dropped from several threads at once. A cancel may
// come after a short time-out already fired, so what holds is that none fires
// twice, that the monitor keeps firing, and that none fires once its last
// handle is gone (the counters go with the test).
TEST_F(Timeouts, StressArmCancelAndFire) {
  constexpr int kThreads = 4, kEach = 200;
  auto fired = std::make_unique<std::atomic<int>[]>(kThreads * kEach);
  auto count = [](void* p) -> std::int32_t {
    static_cast<std::atomic<int>*>(p)->fetch_add(1);
    return 0;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      std::vector<Common::Timeout> mine;
      for (int i = 0; i < kEach; ++i) {
        Common::Timeout h;
        Common::startTimeout(h, +count, &fired[t * kEach + i], DWORD(i % 7), (i + t) % 2 == 0);
        if (i % 3 == 0)
          Common::cancelTimeout(h);
        else
          mine.push_back(h);
      }
      std::this_thread::sleep_for(50ms);
      mine.clear();  // each waits for a firing in progress
    });
  for (auto& th : threads) th.join();
  std::vector<int> after(kThreads * kEach);
  for (int i = 0; i < kThreads * kEach; ++i) after[i] = fired[i].load();
  std::this_thread::sleep_for(30ms);
  int total = 0;
  for (int i = 0; i < kThreads * kEach; ++i) {
    EXPECT_LE(fired[i].load(), 1);
    EXPECT_EQ(fired[i].load(), after[i]) << "fired after its last handle went: " << i;
    total += fired[i].load();
  }
  EXPECT_GT(total, 0);
}

// Long time-outs armed from several threads while the monitor is busy in slow
// callbacks of short ones: none may be taken for due, whatever moment it was
// armed at (its start tick may lie after the monitor's last look at the clock).
TEST_F(Timeouts, LongTimeoutsArmedWhileMonitorFiresDoNotFireEarly) {
  std::atomic<int> longFired{0}, shortFired{0};
  auto count = [](void* p) -> std::int32_t {
    static_cast<std::atomic<int>*>(p)->fetch_add(1);
    return 0;
  };
  auto slowCount = [](void* p) -> std::int32_t {
    std::this_thread::sleep_for(2ms);
    static_cast<std::atomic<int>*>(p)->fetch_add(1);
    return 0;
  };
  std::atomic<bool> stop{false};
  std::thread shorts([&] {
    while (!stop) {
      int before = shortFired.load();
      Common::Timeout t;
      Common::startTimeout(t, +slowCount, &shortFired, 0, false);
      while (shortFired.load() == before && !stop) std::this_thread::yield();
    }
  });
  std::vector<std::thread> armers;
  std::vector<std::vector<Common::Timeout>> held(4);
  for (int a = 0; a < 4; ++a)
    armers.emplace_back([&, a] {
      for (int i = 0; i < 100; ++i) {
        Common::Timeout t;
        Common::startTimeout(t, +count, &longFired, 600000 + i, (i % 2) == 0);
        held[a].push_back(t);
        std::this_thread::sleep_for(1ms);
      }
    });
  for (auto& th : armers) th.join();
  std::this_thread::sleep_for(50ms);
  stop = true;
  shorts.join();
  EXPECT_GT(shortFired.load(), 0);
  EXPECT_EQ(longFired.load(), 0);
  held.clear();  // cancels them all
}

}  // namespace
