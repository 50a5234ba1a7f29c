#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win32/kernel32/waitable.h"
#include "platform/win32/windows.h"

namespace {

struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  explicit Handle(HANDLE v) : h(v) {}
  Handle(Handle&& o) noexcept : h(std::exchange(o.h, nullptr)) {}
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h) CloseHandle(h);
  }
  operator HANDLE() const { return h; }
};

// Until `n` threads sleep on the object, so a signal sent next reaches them.
void await_waiters(HANDLE h, std::size_t n) {
  for (int i = 0; i < 5000 && win32::waiter_count(h) < n; ++i) Sleep(1);
  ASSERT_GE(win32::waiter_count(h), n);
}

DWORD CALLBACK wait_on(LPVOID h) { return WaitForSingleObject(static_cast<HANDLE>(h), INFINITE); }

// Holds a mutex until told to go; runs as a layer thread.
struct MutexHolder {
  HANDLE mutex;
  Handle took{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  Handle go{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  bool release_before_exit = true;
  static DWORD CALLBACK run(LPVOID p) {
    auto* self = static_cast<MutexHolder*>(p);
    WaitForSingleObject(self->mutex, INFINITE);
    SetEvent(self->took);
    WaitForSingleObject(self->go, INFINITE);
    if (self->release_before_exit) ReleaseMutex(self->mutex);
    return 0;
  }
};

}  // namespace

TEST(Events, ResetModesAcrossSuccessiveWaits) {
  struct Case {
    BOOL manual;
    BOOL initial;
    DWORD first, second;
  } cases[] = {
      {FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT},   // auto reset: one wait takes the signal
      {TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0},   // manual reset: stays set
      {FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {TRUE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "manual " << c.manual << " initial " << c.initial);
    Handle e(CreateEventW(nullptr, c.manual, c.initial, nullptr));
    ASSERT_NE(e.h, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), c.first);
    EXPECT_EQ(WaitForSingleObject(e, 0), c.second);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  }
}

TEST(Events, SetWakesASleepingWaiter) {
  Handle e(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  Handle t(CreateThread(nullptr, 0, wait_on, e.h, 0, nullptr));
  await_waiters(e, 1);
  EXPECT_TRUE(SetEvent(e));
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);  // the waiter consumed it
}

TEST(Events, PulseReleasesCurrentWaitersOnlyAndLeavesTheEventReset) {
  struct Case {
    BOOL manual;
    std::size_t released;
  } cases[] = {{TRUE, 3}, {FALSE, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "manual " << c.manual);
    Handle e(CreateEventW(nullptr, c.manual, FALSE, nullptr));
    EXPECT_TRUE(PulseEvent(e));  // nobody waits: nothing remembered
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);

    std::vector<HANDLE> threads;
    for (int i = 0; i < 3; ++i) threads.push_back(CreateThread(nullptr, 0, wait_on, e.h, 0, nullptr));
    await_waiters(e, 3);
    EXPECT_TRUE(PulseEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_EQ(win32::waiter_count(e), 3 - c.released);
    // The rest leave with a plain set.
    for (std::size_t i = c.released; i < 3; ++i) SetEvent(e);
    for (HANDLE t : threads) {
      EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
      CloseHandle(t);
    }
  }
}

TEST(Events, BadHandlesFail) {
  Handle sem(CreateSemaphoreW(nullptr, 0, 1, nullptr));
  for (HANDLE bad : {HANDLE(nullptr), reinterpret_cast<HANDLE>(0x7ff0), sem.h}) {
    SetLastError(0);
    EXPECT_FALSE(SetEvent(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
}

TEST(Waits, AnyOfAnswersTheLowestSignalledIndex) {
  std::vector<Handle> events;
  std::vector<HANDLE> raw;
  for (int i = 0; i < 8; ++i) {
    events.emplace_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    raw.push_back(events.back());
  }
  SetEvent(raw[5]);
  SetEvent(raw[2]);
  EXPECT_EQ(WaitForMultipleObjects(8, raw.data(), FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(8, raw.data(), FALSE, 0), WAIT_OBJECT_0 + 5);  // only index 2 was taken
  EXPECT_EQ(WaitForMultipleObjects(8, raw.data(), FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Waits, WaitAllTakesEverythingOrNothing) {
  Handle a(CreateEventW(nullptr, FALSE, TRUE, nullptr));
  Handle b(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Handle sem(CreateSemaphoreW(nullptr, 1, 5, nullptr));
  HANDLE all[] = {a, sem, b};
  EXPECT_EQ(WaitForMultipleObjects(3, all, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForMultipleObjects(3, all, TRUE, 20), static_cast<DWORD>(WAIT_TIMEOUT));
  // Nothing was consumed by the failed attempts.
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  SetEvent(a);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(sem, 1, &previous));
  EXPECT_EQ(previous, 1);
  EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_OBJECT_0);

  // A sleeping wait-all completes on the last signal and takes all at once.
  struct Args {
    HANDLE* all;
    static DWORD CALLBACK run(LPVOID p) {
      return WaitForMultipleObjects(3, static_cast<Args*>(p)->all, TRUE, INFINITE);
    }
  } args{all};
  Handle t(CreateThread(nullptr, 0, Args::run, &args, 0, nullptr));
  await_waiters(b, 1);
  // An any-of waiter arriving later on `a` may take it meanwhile: the wait-all does not hold it.
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  SetEvent(a);
  SetEvent(b);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(a, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(sem, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Waits, TimeOutAfterTheInterval) {
  Handle e(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(e, 60), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(59));
  EXPECT_EQ(win32::waiter_count(e), 0u);  // a timed-out waiter leaves the queue
}

TEST(Waits, InvalidArgumentsFail) {
  Handle e(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(closed);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  Handle token_holder(token);

  struct Case {
    const char* what;
    std::vector<HANDLE> handles;
    BOOL all;
    DWORD error;
  } cases[] = {
      {"null", {nullptr}, FALSE, ERROR_INVALID_HANDLE},
      {"invalid value", {INVALID_HANDLE_VALUE}, FALSE, ERROR_INVALID_HANDLE},
      {"closed", {e, closed}, FALSE, ERROR_INVALID_HANDLE},
      {"not waitable", {e, token}, FALSE, ERROR_INVALID_HANDLE},
      {"none", {}, FALSE, ERROR_INVALID_PARAMETER},
      {"65", std::vector<HANDLE>(65, e.h), FALSE, ERROR_INVALID_PARAMETER},
      {"twice in wait-all", {e, e}, TRUE, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(c.handles.size()), c.handles.data(), c.all, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), c.error);
  }
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(closed, INFINITE), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HANDLE twice[] = {e, e};
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);  // any-of may repeat a handle
}

TEST(Waits, SixtyFourHandlesOfMixedKinds) {
  Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle other_owner(CreateMutexW(nullptr, FALSE, nullptr));
  std::vector<HANDLE> handles;
  std::vector<HANDLE> mutexes, semaphores, threads, events;
  for (int i = 0; i < 16; ++i) {
    events.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    mutexes.push_back(CreateMutexW(nullptr, FALSE, nullptr));
    semaphores.push_back(CreateSemaphoreW(nullptr, 0, 1, nullptr));
    threads.push_back(CreateThread(nullptr, 0, wait_on, go.h, 0, nullptr));
  }
  // The mutexes belong to a thread that holds them until `release`.
  struct Holder {
    std::vector<HANDLE>* mutexes;
    HANDLE taken, release;
    static DWORD CALLBACK run(LPVOID p) {
      auto* h = static_cast<Holder*>(p);
      for (HANDLE m : *h->mutexes) WaitForSingleObject(m, INFINITE);
      SetEvent(h->taken);
      WaitForSingleObject(h->release, INFINITE);
      for (HANDLE m : *h->mutexes) ReleaseMutex(m);
      return 0;
    }
  };
  Handle taken(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Holder holder{&mutexes, taken, release};
  Handle holder_thread(CreateThread(nullptr, 0, Holder::run, &holder, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(taken, INFINITE), WAIT_OBJECT_0);

  for (int i = 0; i < 16; ++i) {
    handles.push_back(events[i]);
    handles.push_back(mutexes[i]);
    handles.push_back(semaphores[i]);
    handles.push_back(threads[i]);
  }
  ASSERT_EQ(handles.size(), static_cast<std::size_t>(MAXIMUM_WAIT_OBJECTS));
  EXPECT_EQ(WaitForMultipleObjects(64, handles.data(), FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  // The last slot alone: a semaphore released from another thread.
  ReleaseSemaphore(semaphores[15], 1, nullptr);
  std::swap(handles[62], handles[63]);  // semaphore 15 now sits last
  EXPECT_EQ(WaitForMultipleObjects(64, handles.data(), FALSE, INFINITE), WAIT_OBJECT_0 + 63);

  // Everything signalled: threads end, mutexes freed, semaphores up, events set.
  SetEvent(go);
  SetEvent(release);
  WaitForSingleObject(holder_thread, INFINITE);
  for (HANDLE s : semaphores) ReleaseSemaphore(s, 1, nullptr);
  for (HANDLE e : events) SetEvent(e);
  EXPECT_EQ(WaitForMultipleObjects(64, handles.data(), TRUE, INFINITE), WAIT_OBJECT_0);
  // Wait-all took a unit of every semaphore and every mutex.
  for (HANDLE s : semaphores) EXPECT_EQ(WaitForSingleObject(s, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  for (HANDLE m : mutexes) EXPECT_TRUE(ReleaseMutex(m));
  for (HANDLE h : handles) CloseHandle(h);
}

TEST(Mutexes, OwnershipRecursionAndNotOwner) {
  Handle m(CreateMutexW(nullptr, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // recursion: owned twice now
  MutexHolder other;
  other.mutex = m;
  Handle t(CreateThread(nullptr, 0, MutexHolder::run, &other, 0, nullptr));
  EXPECT_TRUE(ReleaseMutex(m));
  await_waiters(m, 1);  // still owned once: the other thread sleeps
  EXPECT_TRUE(ReleaseMutex(m));
  ASSERT_EQ(WaitForSingleObject(other.took, INFINITE), WAIT_OBJECT_0);

  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(m));  // owned by the other thread
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  EXPECT_EQ(WaitForSingleObject(m, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(other.go);
  WaitForSingleObject(t, INFINITE);
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(m));  // owned by nobody
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
}

TEST(Mutexes, AbandonedWhenTheOwnerEnds) {
  struct Case {
    const char* what;
    bool layer_thread;
    BOOL wait_all;
  } cases[] = {{"layer thread", true, FALSE}, {"std::thread", false, FALSE}, {"wait-all", true, TRUE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Handle e(CreateEventW(nullptr, TRUE, c.wait_all, nullptr));
    Handle m(CreateMutexW(nullptr, FALSE, nullptr));
    MutexHolder holder;
    holder.mutex = m;
    holder.release_before_exit = false;
    SetEvent(holder.go);
    if (c.layer_thread) {
      Handle t(CreateThread(nullptr, 0, MutexHolder::run, &holder, 0, nullptr));
      WaitForSingleObject(t, INFINITE);
    } else {
      std::thread(MutexHolder::run, &holder).join();
    }
    HANDLE both[] = {e, m};
    EXPECT_EQ(WaitForMultipleObjects(2, both, c.wait_all, 0), WAIT_ABANDONED_0 + 1);
    // Taken now, and no longer abandoned.
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
  }
}

TEST(Mutexes, AbandonmentWakesASleepingWaiter) {
  Handle m(CreateMutexW(nullptr, FALSE, nullptr));
  MutexHolder holder;
  holder.mutex = m;
  holder.release_before_exit = false;
  Handle t(CreateThread(nullptr, 0, MutexHolder::run, &holder, 0, nullptr));
  WaitForSingleObject(holder.took, INFINITE);
  Handle waiter(CreateThread(nullptr, 0, wait_on, m.h, 0, nullptr));
  await_waiters(m, 1);
  SetEvent(holder.go);
  WaitForSingleObject(waiter, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(waiter, &code);
  EXPECT_EQ(code, static_cast<DWORD>(WAIT_ABANDONED_0));
}

TEST(Semaphores, CountsAndLimits) {
  Handle s(CreateSemaphoreW(nullptr, 1, 2, nullptr));
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(s, 1, &previous));
  EXPECT_EQ(previous, 1);
  SetLastError(0);
  previous = -1;
  EXPECT_FALSE(ReleaseSemaphore(s, 1, &previous));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // the failed post added nothing
  EXPECT_FALSE(ReleaseSemaphore(s, 3, nullptr));                           // 0 + 3 > 2
  EXPECT_TRUE(ReleaseSemaphore(s, 2, &previous));
  EXPECT_EQ(previous, 0);

  Handle big(CreateSemaphoreA(nullptr, 0x7ffffffe, 0x7fffffff, nullptr));
  EXPECT_TRUE(ReleaseSemaphore(big, 1, nullptr));
  EXPECT_FALSE(ReleaseSemaphore(big, 0x7fffffff, nullptr));  // no overflow past the maximum
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));

  struct Bad {
    LONG initial, maximum;
  } bad[] = {{0, 0}, {-1, 5}, {6, 5}, {0, -1}};
  for (const Bad& b : bad) {
    SetLastError(0);
    EXPECT_EQ(CreateSemaphoreW(nullptr, b.initial, b.maximum, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_FALSE(ReleaseSemaphore(s, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Semaphores, EveryUnitGoesToExactlyOneWaiter) {
  constexpr int kThreads = 8, kEach = 200;
  Handle s(CreateSemaphoreW(nullptr, 0, 0x7fffffff, nullptr));
  std::atomic<int> taken{0};
  struct Args {
    HANDLE s;
    std::atomic<int>* taken;
    static DWORD CALLBACK run(LPVOID p) {
      auto* a = static_cast<Args*>(p);
      for (int i = 0; i < kEach; ++i) {
        if (WaitForSingleObject(a->s, INFINITE) != WAIT_OBJECT_0) return 1;
        a->taken->fetch_add(1);
      }
      return 0;
    }
  } args{s, &taken};
  std::vector<HANDLE> threads;
  for (int i = 0; i < kThreads; ++i) threads.push_back(CreateThread(nullptr, 0, Args::run, &args, 0, nullptr));
  for (int i = 0; i < kThreads * kEach; ++i) ReleaseSemaphore(s, 1, nullptr);
  for (HANDLE t : threads) {
    EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    DWORD code = 9;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(t);
  }
  EXPECT_EQ(taken.load(), kThreads * kEach);
  EXPECT_EQ(WaitForSingleObject(s, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(NamedObjects, SecondCreateOpensTheFirst) {
  SetLastError(ERROR_ALREADY_EXISTS);  // a stale value must not leak through
  Handle a(CreateEventW(nullptr, TRUE, FALSE, u"kv-test-named-event"));
  ASSERT_NE(a.h, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  Handle b(CreateEventW(nullptr, FALSE, TRUE, u"Local\\kv-test-named-event"));  // same name, own arguments ignored
  ASSERT_NE(b.h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(a);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);  // manual reset, from the first creation

  Handle global(CreateEventW(nullptr, TRUE, FALSE, u"Global\\kv-test-named-event"));
  EXPECT_EQ(GetLastError(), 0u);  // a different namespace
  Handle opened(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"kv-test-named-event"));
  EXPECT_NE(opened.h, nullptr);
  Handle narrow(CreateEventA(nullptr, TRUE, FALSE, "kv-test-named-event"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  SetLastError(0);
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"kv-test-named-event"), nullptr);  // held by another kind
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, u"kv-test-named-event"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"kv-test-no-such-event"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(NamedObjects, NameIsFreedWithItsLastHandle) {
  HANDLE m = CreateMutexA(nullptr, TRUE, "kv-test-named-mutex");
  ASSERT_NE(m, nullptr);
  HANDLE again = CreateMutexA(nullptr, TRUE, "kv-test-named-mutex");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(ReleaseMutex(again));  // initial ownership is not taken twice
  EXPECT_FALSE(ReleaseMutex(m));
  CloseHandle(m);
  CloseHandle(again);
  Handle fresh(CreateMutexA(nullptr, FALSE, "kv-test-named-mutex"));
  EXPECT_EQ(GetLastError(), 0u);
}

TEST(CriticalSections, RecursiveAndExclusive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  EnterCriticalSection(&cs);
  std::atomic<int> other_got{-1};
  std::thread([&] {
    BOOL got = TryEnterCriticalSection(&cs);
    if (got) LeaveCriticalSection(&cs);
    other_got = got;
  }).join();
  EXPECT_EQ(other_got.load(), FALSE);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread([&] {  // still held once
    other_got = TryEnterCriticalSection(&cs);
  }).join();
  EXPECT_EQ(other_got.load(), FALSE);
  LeaveCriticalSection(&cs);
  std::thread([&] {
    BOOL got = TryEnterCriticalSection(&cs);
    if (got) LeaveCriticalSection(&cs);
    other_got = got;
  }).join();
  EXPECT_EQ(other_got.load(), TRUE);
  DeleteCriticalSection(&cs);
}

TEST(CriticalSections, ContendedCounterStaysExact) {
  for (DWORD spin : {0u, 4000u}) {
    CRITICAL_SECTION cs;
    InitializeCriticalSectionAndSpinCount(&cs, spin);
    long counter = 0;  // plain: only the lock protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < 20000; ++i) {
          EnterCriticalSection(&cs);
          EnterCriticalSection(&cs);
          ++counter;
          LeaveCriticalSection(&cs);
          LeaveCriticalSection(&cs);
        }
      });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8 * 20000);
    DeleteCriticalSection(&cs);
  }
}

TEST(Interlocked, ResultConventions) {
  LONG v = 5;
  EXPECT_EQ(InterlockedIncrement(&v), 6);       // new value
  EXPECT_EQ(InterlockedDecrement(&v), 5);       // new value
  EXPECT_EQ(InterlockedExchangeAdd(&v, 3), 5);  // old value
  EXPECT_EQ(InterlockedExchange(&v, 1), 8);     // old value
  EXPECT_EQ(InterlockedCompareExchange(&v, 7, 2), 1);  // no match: unchanged
  EXPECT_EQ(v, 1);
  EXPECT_EQ(InterlockedCompareExchange(&v, 7, 1), 1);
  EXPECT_EQ(v, 7);
  LONGLONG w = 0x100000001LL;
  EXPECT_EQ(InterlockedCompareExchange64(&w, 0x200000002LL, 0x100000001LL), 0x100000001LL);
  EXPECT_EQ(w, 0x200000002LL);
  int x = 0, y = 0;
  PVOID p = &x;
  EXPECT_EQ(InterlockedCompareExchangePointer(&p, &y, &x), &x);
  EXPECT_EQ(InterlockedExchangePointer(&p, nullptr), &y);
}
