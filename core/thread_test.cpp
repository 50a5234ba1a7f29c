#include "core/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "system/locks.h"

namespace {

using Processor::ThreadImpl;

struct Waiter {
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> finished{false};
  ~Waiter() {
    CloseHandle(started);
    CloseHandle(never);
  }
};

std::int32_t waitForever(void* arg) {
  Waiter* w = static_cast<Waiter*>(arg);
  SetEvent(w->started);
  WaitForSingleObject(w->never, INFINITE);
  w->finished = true;
  return 0;
}

std::int32_t sleepThenFinish(void* arg) {
  Waiter* w = static_cast<Waiter*>(arg);
  Sleep(100);
  w->finished = true;
  return 5;
}

TEST(ProcessorThread, StopLetsAThreadThatEndsInTimeFinish) {
  Waiter w;
  ThreadImpl* t = ThreadImpl::create(false);
  EXPECT_EQ(t->start(&sleepThenFinish, &w), 1);
  EXPECT_NE(t->id(), 0u);
  t->stop(5000);
  // Terminating would have ended it inside its sleep, before the flag.
  EXPECT_TRUE(w.finished.load());
  delete t;
}

TEST(ProcessorThread, StopTerminatesAThreadThatDoesNotEnd) {
  for (bool atOnce : {false, true}) {
    SCOPED_TRACE(atOnce);
    Waiter w;
    ThreadImpl* t = ThreadImpl::create(atOnce);
    t->start(&waitForever, &w);
    ASSERT_EQ(WaitForSingleObject(w.started, 5000), WAIT_OBJECT_0);
    // A thread made to terminate at once must not be waited for, whatever the
    // limit: should the stop still be waiting after a while, the thread is let
    // go, ends by itself, and the stop fails to have terminated it.
    HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread watchdog([&] {
      if (WaitForSingleObject(stopped, 10000) == WAIT_TIMEOUT) SetEvent(w.never);
    });
    t->stop(atOnce ? INFINITE : 50);
    SetEvent(stopped);
    watchdog.join();
    CloseHandle(stopped);
    t->join();
    EXPECT_FALSE(w.finished.load());
    delete t;
  }
}

struct PriorityProbe {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> seen{1000};
  ~PriorityProbe() { CloseHandle(go); }
};

std::int32_t reportPriority(void* arg) {
  PriorityProbe* p = static_cast<PriorityProbe*>(arg);
  WaitForSingleObject(p->go, INFINITE);
  p->seen = GetThreadPriority(GetCurrentThread());
  return 0;
}

TEST(ProcessorThread, PriorityClassesMapToWin32Priorities) {
  struct Case {
    int priorityClass;
    int win32;
  };
  for (const Case& c : {Case{0, THREAD_PRIORITY_IDLE}, Case{1, THREAD_PRIORITY_BELOW_NORMAL},
                        Case{3, THREAD_PRIORITY_ABOVE_NORMAL}, Case{2, THREAD_PRIORITY_NORMAL},
                        Case{7, THREAD_PRIORITY_NORMAL}, Case{-1, THREAD_PRIORITY_NORMAL}}) {
    SCOPED_TRACE(c.priorityClass);
    PriorityProbe probe;
    ThreadImpl* t = ThreadImpl::create(false);
    t->start(&reportPriority, &probe);
    if (c.priorityClass != 2) t->setPriority(1);  // something else first, so a change shows
    t->setPriority(c.priorityClass);
    SetEvent(probe.go);
    t->join();
    EXPECT_EQ(probe.seen.load(), c.win32);
    delete t;
  }
}

TEST(ProcessorThread, WithoutAThreadEverythingIsANoOp) {
  ThreadImpl* t = ThreadImpl::create(false);
  t->setPriority(7);
  t->stop(10);
  t->join();
  EXPECT_EQ(t->id(), 0u);
  delete t;
}

struct SelfDeleting {
  ThreadImpl* thread = nullptr;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~SelfDeleting() {
    CloseHandle(ready);
    CloseHandle(done);
  }
};

std::int32_t deleteOwnHandle(void* arg) {
  SelfDeleting* s = static_cast<SelfDeleting*>(arg);
  WaitForSingleObject(s->ready, INFINITE);
  delete s->thread;  // must not wait for itself
  SetEvent(s->done);
  return 0;
}

TEST(ProcessorThread, DeletingTheHandleFromItsOwnThreadDoesNotDeadlock) {
  SelfDeleting s;
  s.thread = ThreadImpl::create(false);
  s.thread->start(&deleteOwnHandle, &s);
  SetEvent(s.ready);
  EXPECT_EQ(WaitForSingleObject(s.done, 10000), WAIT_OBJECT_0);
}

TEST(ProcessorThread, CurrentThreadIdIsTheWin32Id) {
  DWORD here = Processor::currentThreadId();
  EXPECT_EQ(here, GetCurrentThreadId());
  DWORD there = 0;
  std::thread([&] { there = Processor::currentThreadId(); }).join();
  EXPECT_NE(there, 0u);
  EXPECT_NE(there, here);
}

TEST(HandOff, CloseAndWakeReleasesTheWaiterOnce) {
  Common::Semaphore semaphore(0);
  Common::CriticalSection lock;
  Processor::HandOffRecord record;
  record.semaphore = &semaphore;
  record.lock = &lock;
  Processor::closeAndWakeWaiter(&record);
  Processor::closeAndWakeWaiter(&record);
  EXPECT_EQ(record.closed, 1);
  EXPECT_TRUE(semaphore.waitFor(0));
  EXPECT_FALSE(semaphore.waitFor(0));
}

TEST(ProtectedObject, HasItsOwnLock) {
  struct Guarded : Processor::ProtectedObject {
    int value = 0;
  };
  Guarded a, b;
  ASSERT_NE(a.lock(), nullptr);
  EXPECT_NE(a.lock(), b.lock());
  std::thread other([&] {
    for (int i = 0; i < 1000; ++i) {
      Common::CriticalSectionLock guard(a.lock());
      ++a.value;
    }
  });
  for (int i = 0; i < 1000; ++i) {
    Common::CriticalSectionLock guard(a.lock());
    ++a.value;
  }
  other.join();
  EXPECT_EQ(a.value, 2000);
}

}  // namespace
