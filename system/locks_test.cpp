#include "system/locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <new>
#include <thread>
#include <vector>

namespace Common {
struct RecursiveLockProbe {
  static HANDLE event(const RecursiveLock& l) { return __atomic_load_n(&l.event_, __ATOMIC_ACQUIRE); }
  static std::uint64_t state(const RecursiveLock& l) { return __atomic_load_n(&l.state_, __ATOMIC_ACQUIRE); }
};
}  // namespace Common

namespace {

using namespace std::chrono_literals;
using Common::RecursiveLock;
using Common::RecursiveLockProbe;

// Waits up to a few seconds for a condition another thread makes true.
bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

// Runs `op` on its own thread and tells whether it has returned.
class Attempt {
 public:
  explicit Attempt(std::function<void()> op) : thread_([this, op] {
    op();
    done_ = true;
  }) {}
  ~Attempt() { thread_.join(); }
  bool returned() const { return done_.load(); }
  bool blocked() {
    std::this_thread::sleep_for(80ms);
    return !done_.load();
  }
  bool admitted() { return eventually([this] { return done_.load(); }); }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// A zero-filled block is a free lock: no constructor ran, and no kernel object
// exists until two threads meet in it.
alignas(RecursiveLock) unsigned char zeroFilled[sizeof(RecursiveLock)];

TEST(RecursiveLock, ZeroFilledWorksWithoutConstruction) {
  std::memset(zeroFilled, 0, sizeof zeroFilled);  // as the loader leaves it, also when the test repeats
  RecursiveLock& lock = *std::launder(reinterpret_cast<RecursiveLock*>(zeroFilled));
  lock.lock();
  lock.lock();
  lock.unlock();
  lock.unlock();
  EXPECT_EQ(RecursiveLockProbe::event(lock), nullptr);

  lock.lock();
  {
    Attempt other([&] {
      lock.lock();
      lock.unlock();
    });
    EXPECT_TRUE(other.blocked());
    lock.unlock();
    EXPECT_TRUE(other.admitted());
  }
  EXPECT_NE(RecursiveLockProbe::event(lock), nullptr);  // kept after the first contention
}

TEST(RecursiveLock, OnlyTheLastUnlockFreesIt) {
  static RecursiveLock lock;
  for (int i = 0; i < 3; ++i) lock.lock();
  Attempt other([&] {
    Common::RecursiveLockGuard guard(lock);
  });
  EXPECT_TRUE(other.blocked());
  lock.unlock();
  lock.unlock();
  EXPECT_TRUE(other.blocked());
  lock.unlock();
  EXPECT_TRUE(other.admitted());
}

TEST(RecursiveLock, RetiredLockKeepsNoEventWhenIdle) {
  alignas(RecursiveLock) unsigned char storage[sizeof(RecursiveLock)] = {};
  RecursiveLock* lock = new (storage) RecursiveLock;
  // Contention first, so an event exists; retiring closes it.
  lock->lock();
  {
    Attempt other([&] {
      lock->lock();
      lock->unlock();
    });
    EXPECT_TRUE(other.blocked());
    lock->unlock();
    EXPECT_TRUE(other.admitted());
  }
  ASSERT_NE(RecursiveLockProbe::event(*lock), nullptr);
  std::size_t handles = win32::handle_count();
  lock->~RecursiveLock();  // what the exit-time destructor of a static lock does
  EXPECT_EQ(RecursiveLockProbe::event(*lock), nullptr);
  EXPECT_EQ(win32::handle_count(), handles - 1);

  // Still usable: a contended hand-over makes an event and closes it again.
  for (int round = 0; round < 3; ++round) {
    lock->lock();
    Attempt other([&] {
      lock->lock();
      lock->unlock();
    });
    EXPECT_TRUE(other.blocked());
    lock->unlock();
    EXPECT_TRUE(other.admitted());
    EXPECT_TRUE(eventually([&] { return RecursiveLockProbe::event(*lock) == nullptr; }));
  }
  EXPECT_EQ(win32::handle_count(), handles - 1);

  // Heavy contention on a retired lock: events come and go, none is used after
  // it was closed, and none is left once all are done.
  std::atomic<int> inside{0};
  std::atomic<bool> shared{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 3000; ++i) {
        lock->lock();
        if (inside.fetch_add(1) != 0) shared = true;
        if ((i + t) % 40 == 0) std::this_thread::sleep_for(20us);
        inside.fetch_sub(1);
        lock->unlock();
        if (i % 5 == 0) std::this_thread::yield();
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_FALSE(shared.load());
  EXPECT_EQ(RecursiveLockProbe::event(*lock), nullptr);
  EXPECT_EQ(RecursiveLockProbe::state(*lock), 0u);
  EXPECT_EQ(win32::handle_count(), handles - 1);
}

// Plain data guarded by the lock, with recursion, from many threads; now and
// then the lock is held long enough for others to go to sleep on it.
TEST(RecursiveLock, StressGuardsPlainData) {
  static RecursiveLock lock;
  long counter = 0;
  std::atomic<int> inside{0};
  std::atomic<bool> shared{false};
  constexpr int kThreads = 8, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        {
          Common::RecursiveLockGuard outer(lock);
          if (inside.fetch_add(1) != 0) shared = true;
          long v = counter;
          {
            Common::RecursiveLockGuard inner(&lock);
            counter = v + 1;
          }
          if ((i + t) % 50 == 0) std::this_thread::sleep_for(20us);
          inside.fetch_sub(1);
        }
        if (i % 7 == 0) std::this_thread::yield();  // arrive at the lock in bursts
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_FALSE(shared.load()) << "two owners at once";
  EXPECT_EQ(counter, long(kThreads) * kRounds);
}

TEST(RecursiveLock, NullGuardsDoNothing) {
  Common::RecursiveLockGuard a(static_cast<RecursiveLock*>(nullptr));
  Common::CriticalSectionLock b(static_cast<Common::CriticalSection*>(nullptr));
}

TEST(CriticalSection, GuardsAndReenters) {
  Common::CriticalSection* cs = Common::newCriticalSection();
  ASSERT_NE(cs, nullptr);
  {
    Common::CriticalSectionLock outer(cs);
    Common::CriticalSectionLock inner(cs);
    Attempt other([&] { Common::CriticalSectionLock g(cs); });
    EXPECT_TRUE(other.blocked());
    // leaving both scopes lets the other thread in (checked by the join)
    cs->leave();
    cs->leave();
    EXPECT_TRUE(other.admitted());
    cs->enter();
    cs->enter();
  }
  delete cs;
}

// --- Reader/writer lock ------------------------------------------------------

enum Op { Shared, UnlockShared, Excl, UnlockExcl };

struct RwCase {
  const char* name;
  std::vector<Op> first;  // run by the first thread, none of which may block
  Op second;              // tried by a second thread
  bool admitted;
};

const RwCase kRwCases[] = {
    {"readers share", {Shared}, Shared, true},
    {"reader holds off writer", {Shared}, Excl, false},
    {"writer holds off reader", {Excl}, Shared, false},
    {"writer holds off writer", {Excl}, Excl, false},
    {"shared twice is two holds", {Shared, Shared, UnlockShared}, Excl, false},
    {"both shared holds released", {Shared, Shared, UnlockShared, UnlockShared}, Excl, true},
    {"only reader takes exclusive", {Shared, Excl}, Shared, false},
    {"only reader gives exclusive back, still reads", {Shared, Excl, UnlockExcl}, Excl, false},
    {"only reader gives exclusive back, others read", {Shared, Excl, UnlockExcl}, Shared, true},
    {"owner takes shared too", {Excl, Shared}, Shared, false},
    {"owner keeps shared after exclusive", {Excl, Shared, UnlockExcl}, Excl, false},
    {"owner's shared does not keep readers out", {Excl, Shared, UnlockExcl}, Shared, true},
    {"exclusive is re-entrant", {Excl, Excl, UnlockExcl}, Shared, false},
    {"exclusive fully released", {Excl, Excl, UnlockExcl, UnlockExcl}, Excl, true},
    {"unlockShared without a hold changes nothing", {UnlockShared, Shared, UnlockShared, UnlockShared}, Excl,
     true},
};

void apply(Common::ReadWriteLock& lock, Op op) {
  switch (op) {
    case Shared: lock.lockShared(); break;
    case UnlockShared: lock.unlockShared(); break;
    case Excl: lock.lock(); break;
    case UnlockExcl: lock.unlock(); break;
  }
}

// A second thread that takes a hold, keeps it until told, and gives it back
// itself (holds are per thread).
class Holder {
 public:
  Holder(Common::ReadWriteLock& lock, Op op)
      : thread_([this, &lock, op] {
          apply(lock, op);
          acquired_ = true;
          while (!letGo_) std::this_thread::sleep_for(1ms);
          apply(lock, op == Shared ? UnlockShared : UnlockExcl);
        }) {}
  ~Holder() {
    letGo_ = true;
    thread_.join();
  }
  bool blocked() {
    std::this_thread::sleep_for(80ms);
    return !acquired_;
  }
  bool admitted() { return eventually([this] { return acquired_.load(); }); }

 private:
  std::atomic<bool> acquired_{false}, letGo_{false};
  std::thread thread_;
};

TEST(ReadWriteLock, ReentryRules) {
  for (const RwCase& c : kRwCases) {
    SCOPED_TRACE(c.name);
    Common::ReadWriteLock lock;
    int shared = 0, excl = 0;
    for (Op op : c.first) {
      apply(lock, op);
      if (op == Shared) ++shared;
      if (op == UnlockShared && shared > 0) --shared;
      if (op == Excl) ++excl;
      if (op == UnlockExcl) --excl;
    }
    {
      Holder second(lock, c.second);
      if (c.admitted)
        EXPECT_TRUE(second.admitted());
      else
        EXPECT_TRUE(second.blocked());
      while (excl-- > 0) lock.unlock();
      while (shared-- > 0) lock.unlockShared();
      EXPECT_TRUE(second.admitted());
    }
    // Everything given back: exclusive access is free for anyone.
    Attempt check([&] {
      lock.lock();
      lock.unlock();
    });
    EXPECT_TRUE(check.admitted());
  }
}

// A reader arriving while a writer waits for other readers is let in at once.
TEST(ReadWriteLock, NoWriterPreference) {
  Common::ReadWriteLock lock;
  lock.lockShared();
  Attempt writer([&] {
    lock.lock();
    lock.unlock();
  });
  EXPECT_TRUE(writer.blocked());
  {
    Attempt reader([&] {
      lock.lockShared();
      lock.unlockShared();
    });
    EXPECT_TRUE(reader.admitted());
  }
  EXPECT_FALSE(writer.returned());
  lock.unlockShared();
  EXPECT_TRUE(writer.admitted());
}

TEST(ReadWriteLock, StressReadersAndWriters) {
  Common::ReadWriteLock lock;
  long a = 0, b = 0;  // writers keep a == b
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 3000; ++i) {
        if ((i + t) % 4 == 0) {
          lock.lock();
          ++a;
          lock.lockShared();  // the owner may read too
          ++b;
          lock.unlockShared();
          lock.unlock();
        } else {
          lock.lockShared();
          if (a != b) torn = true;
          lock.lockShared();
          lock.unlockShared();
          lock.unlockShared();
        }
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_FALSE(torn.load());
  EXPECT_EQ(a, b);
}

// --- Events and semaphores ---------------------------------------------------

TEST(Event, WaitsAndResets) {
  Common::Event autoReset(false, false);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(autoReset.waitFor(0));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(autoReset.set());
  EXPECT_TRUE(autoReset.waitFor(0));
  EXPECT_FALSE(autoReset.waitFor(0));  // the wait took the signal

  Common::Event manual(true, true);
  EXPECT_TRUE(manual.waitFor(0));
  EXPECT_EQ(manual.wait(), DWORD(WAIT_OBJECT_0));
  EXPECT_TRUE(manual.reset());
  EXPECT_FALSE(manual.waitFor(10));
}

TEST(Event, WaitForAnyGivesFirstSignalled) {
  Common::Event a(true, false), b(true, false), c(true, false);
  HANDLE handles[] = {a.handle(), b.handle(), c.handle()};
  c.set();
  EXPECT_EQ(Common::waitForAny(handles, 3), 2);
  b.set();
  EXPECT_EQ(Common::waitForAny(handles, 3), 1);
  HANDLE bogus[] = {a.handle(), reinterpret_cast<HANDLE>(0x7ff0)};
  EXPECT_EQ(Common::waitForAny(bogus, 2), -1);
}

TEST(Semaphore, CountsReleases) {
  Common::Semaphore s(1);
  EXPECT_TRUE(s.waitFor(0));
  EXPECT_FALSE(s.waitFor(0));
  EXPECT_TRUE(s.releaseMany(2));
  EXPECT_TRUE(s.waitFor(0));
  EXPECT_TRUE(s.waitFor(0));
  EXPECT_FALSE(s.waitFor(0));
  EXPECT_TRUE(s.release());
  EXPECT_EQ(s.wait(), DWORD(WAIT_OBJECT_0));
}

}  // namespace
