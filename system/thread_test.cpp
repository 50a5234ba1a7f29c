#include "system/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "core/error.h"
#include "system/locks.h"

namespace {

using namespace std::chrono_literals;

bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

// Work that blocks until its gate opens, then returns a given value.
struct Gated {
  Common::Event gate{true, false};
  std::int32_t value = 0;
  std::atomic<int> started{0};
  static std::int32_t run(void* p) {
    auto* g = static_cast<Gated*>(p);
    g->started.fetch_add(1);
    g->gate.wait();
    return g->value;
  }
};

TEST(Thread, RunsAndReportsResult) {
  Gated g;
  g.value = 42;
  Common::Thread t(&Gated::run, &g);
  EXPECT_NE(t.id(), 0u);
  EXPECT_NE(t.id(), GetCurrentThreadId());
  EXPECT_FALSE(t.wait(0));
  EXPECT_EQ(t.result(), -1);
  g.gate.set();
  t.join();
  EXPECT_TRUE(t.wait(0));
  EXPECT_EQ(t.result(), 42);
}

TEST(Thread, PriorityClasses) {
  Gated g;
  Common::Thread t(&Gated::run, &g);
  struct Case {
    int given;
    int read;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 2}, {-1, 2}, {7, 2}};
  for (const Case& c : cases) {
    t.setPriority(c.given);
    EXPECT_EQ(t.getPriority(), c.read) << "given " << c.given;
  }
  g.gate.set();
  t.join();
}

TEST(Thread, PriorityClassOfWin32Priorities) {
  struct Case {
    int win32;
    int cls;
  } cases[] = {{-15, 0}, {-16, 0}, {-14, 1}, {-1, 1}, {0, 2}, {1, 3}, {2, 3}, {15, 3}};
  for (const Case& c : cases) EXPECT_EQ(Common::priorityClassOf(c.win32), c.cls) << c.win32;
}

// The layer stops a terminated thread at its next wait; the object can be
// destroyed before or after that without leaking its control block.
TEST(Thread, TerminateThenDestroyFreesControlBlock) {
  long before = Common::detail::liveThreadControls();
  Gated g;
  {
    Common::Thread t(&Gated::run, &g);
    ASSERT_TRUE(eventually([&] { return g.started.load() == 1; }));
    t.terminate();
    EXPECT_TRUE(t.wait(5000));
    EXPECT_EQ(t.result(), -1);
  }
  EXPECT_TRUE(eventually([&] { return Common::detail::liveThreadControls() == before; }));

  // Destroyed first, stopped afterwards.
  Gated g2;
  {
    Common::Thread t(&Gated::run, &g2);
    ASSERT_TRUE(eventually([&] { return g2.started.load() == 1; }));
    t.terminate();
  }
  EXPECT_TRUE(eventually([&] { return Common::detail::liveThreadControls() == before; }));
}

// --- Pool --------------------------------------------------------------------

TEST(Pool, ResultAndWait) {
  Gated g;
  g.value = 5;
  auto h = Common::createPooledThread(&Gated::run, &g, 2);
  ASSERT_TRUE(h);
  EXPECT_FALSE(h->wait(0));
  EXPECT_EQ(h->result(), -1);
  EXPECT_EQ(h->getPriority(), 2);
  h->terminate();    // does nothing on pooled work
  h->setPriority(0);  // nor this
  EXPECT_EQ(h->getPriority(), 2);
  g.gate.set();
  h->join();
  EXPECT_EQ(h->result(), 5);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(h->wait(0));
}

// A parked worker is taken again for the next work, which starts with its
// result reset.
TEST(Pool, ReusedWorkerStartsWithResetResult) {
  // The handle goes while the work runs, so the loop parks the worker whatever
  // the idle count, on top of the idle stack.
  Gated g1;
  g1.value = 5;
  auto first = Common::createPooledThread(&Gated::run, &g1, 2);
  ASSERT_TRUE(eventually([&] { return g1.started.load() == 1; }));
  DWORD worker = first->id();
  int idle = Common::detail::poolIdleCount();
  first.reset();
  g1.gate.set();
  ASSERT_TRUE(eventually([&] { return Common::detail::poolIdleCount() == idle + 1; }));

  Gated g;
  auto second = Common::createPooledThread(&Gated::run, &g, 1);
  EXPECT_EQ(second->id(), worker);
  EXPECT_EQ(second->result(), -1);
  EXPECT_EQ(second->getPriority(), 1);
  ASSERT_TRUE(eventually([&] { return g.started.load() == 1; }));
  EXPECT_EQ(second->result(), -1);
  g.gate.set();
  second->join();
  EXPECT_EQ(second->result(), 0);
}

// Released by their handle, workers are parked only while at most 42 are idle;
// work whose handle went first is parked by its loop whatever the count.
TEST(Pool, IdleCapAppliesToHandleReleases) {
  // Blocked work on every idle worker there is, and 46 more.
  int total = Common::detail::poolIdleCount() + 46;
  Gated g;
  std::vector<std::unique_ptr<Common::ThreadAccessor>> handles;
  for (int i = 0; i < total; ++i) handles.push_back(Common::createPooledThread(&Gated::run, &g, 2));
  ASSERT_TRUE(eventually([&] { return g.started.load() == total; }));
  EXPECT_EQ(Common::detail::poolIdleCount(), 0);

  // All handles but one go while the work runs: the loops park the workers.
  std::unique_ptr<Common::ThreadAccessor> kept = std::move(handles.back());
  handles.pop_back();
  handles.clear();
  g.gate.set();
  ASSERT_TRUE(eventually([&] { return Common::detail::poolIdleCount() == total - 1; }));

  // More than 42 idle: a finished worker released by its handle is destroyed.
  kept->join();
  int workers = Common::detail::poolWorkerCount();
  kept.reset();
  EXPECT_EQ(Common::detail::poolIdleCount(), total - 1);
  EXPECT_EQ(Common::detail::poolWorkerCount(), workers - 1);

  // Still more than 42 idle: work whose handle went first is parked by its loop.
  Gated g2;
  auto busy = Common::createPooledThread(&Gated::run, &g2, 2);
  ASSERT_TRUE(eventually([&] { return g2.started.load() == 1; }));
  ASSERT_GT(Common::detail::poolIdleCount(), 42);
  busy.reset();
  g2.gate.set();
  EXPECT_TRUE(eventually([&] { return Common::detail::poolIdleCount() == total - 1; }));
  EXPECT_EQ(Common::detail::poolWorkerCount(), workers - 1);
}

// Several threads sleep on one handle until long work ends; the worker that
// woke them starts its next work with the done state cleared.
TEST(Pool, WaitersSleepUntilWorkEnds) {
  Gated g;
  g.value = 9;
  auto h = Common::createPooledThread(&Gated::run, &g, 2);
  ASSERT_TRUE(eventually([&] { return g.started.load() == 1; }));
  EXPECT_FALSE(h->wait(30));
  std::atomic<int> woke{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&, i] {
      if (i == 0)
        h->join();
      else
        EXPECT_TRUE(h->wait(10000));
      woke.fetch_add(1);
    });
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(woke.load(), 0);
  g.gate.set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woke.load(), 3);
  EXPECT_EQ(h->result(), 9);
  DWORD worker = h->id();
  int idle = Common::detail::poolIdleCount();
  h.reset();
  // Parked again unless the idle cap (left full by another test) ended it.
  if (idle <= 42) {
    ASSERT_TRUE(eventually([&] { return Common::detail::poolIdleCount() == idle + 1; }));
  }

  Gated g2;
  auto next = Common::createPooledThread(&Gated::run, &g2, 2);
  if (idle <= 42) {
    EXPECT_EQ(next->id(), worker);
  }
  EXPECT_FALSE(next->wait(0));
  EXPECT_FALSE(next->wait(20));
  g2.gate.set();
  EXPECT_TRUE(next->wait(10000));
}

TEST(Pool, ManyConcurrentDispatches) {
  std::atomic<int> sum{0};
  struct Arg {
    std::atomic<int>* sum;
    int value;
  };
  auto add = [](void* p) -> std::int32_t {
    auto* a = static_cast<Arg*>(p);
    a->sum->fetch_add(a->value);
    return a->value;
  };
  std::vector<std::thread> callers;
  std::atomic<bool> bad{false};
  for (int t = 0; t < 6; ++t)
    callers.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        Arg a{&sum, t * 1000 + i};
        auto h = Common::createPooledThread(+add, &a, 2);
        h->join();
        if (h->result() != a.value) bad = true;
      }
    });
  for (auto& c : callers) c.join();
  EXPECT_FALSE(bad.load());
  int expected = 0;
  for (int t = 0; t < 6; ++t)
    for (int i = 0; i < 200; ++i) expected += t * 1000 + i;
  EXPECT_EQ(sum.load(), expected);
}

}  // namespace
