#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "platform/win32/kernel32/waitable.h"
#include "platform/win32/windows.h"

namespace {

struct Handle {
  HANDLE h = nullptr;
  explicit Handle(HANDLE v) : h(v) {}
  Handle(const Handle&) = delete;
  ~Handle() {
    if (h) CloseHandle(h);
  }
  operator HANDLE() const { return h; }
};

DWORD exit_code(HANDLE t) {
  DWORD code = 0xDEAD;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  return code;
}

DWORD CALLBACK returns_42(LPVOID) { return 42; }
[[noreturn]] void exit_deep(DWORD code) { ExitThread(code); }
DWORD CALLBACK exits_7(LPVOID) {
  exit_deep(7);
}
DWORD CALLBACK endthreadex_9(LPVOID) { _endthreadex(9); }
DWORD CALLBACK wait_then_return_1(LPVOID e) {
  WaitForSingleObject(static_cast<HANDLE>(e), INFINITE);
  return 1;
}

// Records what happened to a thread being terminated.
struct Victim {
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> started{false};
  std::atomic<bool> went_on{false};       // code after the wait ran
  std::atomic<bool> unwound{false};       // a destructor on its stack ran
  std::atomic<int> swallowed{0};
  ~Victim() { CloseHandle(never); }
};

struct SetOnDestroy {
  std::atomic<bool>& flag;
  ~SetOnDestroy() { flag = true; }
};

DWORD CALLBACK blocked_in_wait(LPVOID p) {
  auto* v = static_cast<Victim*>(p);
  SetOnDestroy guard{v->unwound};
  v->started = true;
  WaitForSingleObject(v->never, INFINITE);
  v->went_on = true;
  return 0;
}

DWORD CALLBACK blocked_in_sleep(LPVOID p) {
  auto* v = static_cast<Victim*>(p);
  SetOnDestroy guard{v->unwound};
  v->started = true;
  Sleep(INFINITE);
  v->went_on = true;
  return 0;
}

// Swallows everything, as careless code does; the next wait stops it again.
DWORD CALLBACK swallows_and_waits_again(LPVOID p) {
  auto* v = static_cast<Victim*>(p);
  v->started = true;
  try {
    WaitForSingleObject(v->never, INFINITE);
  } catch (...) {
    ++v->swallowed;
  }
  WaitForSingleObject(v->never, INFINITE);
  v->went_on = true;
  return 0;
}

void wait_in_noexcept(Victim* v) noexcept { WaitForSingleObject(v->never, INFINITE); }
DWORD CALLBACK blocked_in_noexcept(LPVOID p) {
  auto* v = static_cast<Victim*>(p);
  SetOnDestroy guard{v->unwound};
  v->started = true;
  wait_in_noexcept(v);
  v->went_on = true;
  return 0;
}

}  // namespace

TEST(Threads, ExitCodes) {
  struct Case {
    const char* what;
    LPTHREAD_START_ROUTINE start;
    DWORD code;
  } cases[] = {
      {"return", returns_42, 42},
      {"ExitThread from a nested call", exits_7, 7},
      {"_endthreadex", endthreadex_9, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Handle t(CreateThread(nullptr, 0, c.start, nullptr, 0, nullptr));
    ASSERT_NE(t.h, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(exit_code(t), c.code);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);  // stays signalled
  }
}

TEST(Threads, ExitThreadOnAThreadTheLayerDidNotStart) {
  Handle m(CreateMutexW(nullptr, FALSE, nullptr));
  std::atomic<bool> went_on{false};
  std::thread([&] {
    WaitForSingleObject(m, INFINITE);
    ExitThread(3);
    went_on = true;
  }).join();
  EXPECT_FALSE(went_on.load());
  EXPECT_EQ(WaitForSingleObject(m, 0), static_cast<DWORD>(WAIT_ABANDONED_0));  // its clean-up ran
  ReleaseMutex(m);
}

TEST(Threads, StillActiveUntilTheEnd) {
  Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle t(CreateThread(nullptr, 0, wait_then_return_1, go.h, 0, nullptr));
  EXPECT_EQ(exit_code(t), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(t, 10), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(exit_code(t), 1u);
}

// A thread's handle is signalled when its start routine ends; its thread-local
// clean-up runs after that, and wait_thread_gone waits for that too.
std::atomic<bool> slow_cleanup_done{false};
struct SlowCleanup {
  ~SlowCleanup() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    slow_cleanup_done = true;
  }
};
thread_local SlowCleanup* slow_cleanup_touch = nullptr;
DWORD CALLBACK wait_then_clean_up_slowly(LPVOID e) {
  thread_local SlowCleanup cleanup;
  slow_cleanup_touch = &cleanup;
  WaitForSingleObject(static_cast<HANDLE>(e), INFINITE);
  return 0;
}

TEST(Threads, WaitThreadGoneWaitsForThreadLocalCleanup) {
  slow_cleanup_done = false;
  Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle t(CreateThread(nullptr, 0, wait_then_clean_up_slowly, go.h, 0, nullptr));
  EXPECT_FALSE(win32::wait_thread_gone(t, 10));  // still running
  SetEvent(go);
  EXPECT_TRUE(win32::wait_thread_gone(t, 10000));
  EXPECT_TRUE(slow_cleanup_done.load());
  EXPECT_FALSE(win32::wait_thread_gone(nullptr, 10));
}

TEST(Threads, BeginThreadExGivesAHandleAndId) {
  unsigned id = 0;
  std::uintptr_t raw = _beginthreadex(nullptr, 0, returns_42, nullptr, 0, &id);
  ASSERT_NE(raw, 0u);
  Handle t(reinterpret_cast<HANDLE>(raw));
  EXPECT_NE(id, 0u);
  EXPECT_EQ(GetThreadId(t), id);
  WaitForSingleObject(t, INFINITE);
  EXPECT_EQ(exit_code(t), 42u);
}

TEST(Threads, SuspendedStartRunsOnlyAfterResume) {
  std::atomic<int> ran{0};
  struct Args {
    static DWORD CALLBACK run(LPVOID p) {
      ++*static_cast<std::atomic<int>*>(p);
      return 3;
    }
  };
  Handle t(CreateThread(nullptr, 0, Args::run, &ran, CREATE_SUSPENDED, nullptr));
  EXPECT_EQ(WaitForSingleObject(t, 30), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(SuspendThread(t), 1u);  // held twice now
  EXPECT_EQ(ResumeThread(t), 2u);
  EXPECT_EQ(WaitForSingleObject(t, 30), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(ResumeThread(t), 1u);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(ran.load(), 1);
  EXPECT_EQ(exit_code(t), 3u);
  EXPECT_EQ(ResumeThread(t), 0u);

  // A running thread cannot be suspended safely here.
  Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle running(CreateThread(nullptr, 0, wait_then_return_1, go.h, 0, nullptr));
  win32::waiter_count(go);
  for (int i = 0; i < 5000 && win32::waiter_count(go) == 0; ++i) Sleep(1);
  SetLastError(0);
  EXPECT_EQ(SuspendThread(running), static_cast<DWORD>(-1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  SetEvent(go);
  WaitForSingleObject(running, INFINITE);
}

TEST(Threads, IdsArePerThreadAndMatchTheHandle) {
  DWORD main_id = GetCurrentThreadId();
  EXPECT_NE(main_id, 0u);
  EXPECT_EQ(main_id % 4, 0u);
  EXPECT_EQ(GetCurrentThreadId(), main_id);
  EXPECT_EQ(GetThreadId(GetCurrentThread()), main_id);
  EXPECT_EQ(GetCurrentThread(), reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)));

  struct Args {
    static DWORD CALLBACK run(LPVOID) { return GetCurrentThreadId(); }
  };
  std::set<DWORD> ids{main_id};
  for (int i = 0; i < 4; ++i) {
    DWORD id = 0;
    Handle t(CreateThread(nullptr, 0, Args::run, nullptr, 0, &id));
    WaitForSingleObject(t, INFINITE);
    EXPECT_EQ(exit_code(t), id);
    EXPECT_EQ(GetThreadId(t), id);
    EXPECT_TRUE(ids.insert(id).second);
  }
  DWORD foreign = 0;
  std::thread([&] { foreign = GetCurrentThreadId(); }).join();
  EXPECT_TRUE(ids.insert(foreign).second);
}

TEST(Threads, PriorityIsKept) {
  Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle t(CreateThread(nullptr, 0, wait_then_return_1, go.h, CREATE_SUSPENDED, nullptr));
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_NORMAL);
  for (int p : {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL,
                THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_TIME_CRITICAL,
                THREAD_PRIORITY_NORMAL}) {
    EXPECT_TRUE(SetThreadPriority(t, p));
    EXPECT_EQ(GetThreadPriority(t), p);
  }
  for (int bad : {-16, -3, 3, 14, 16}) {
    SetLastError(0);
    EXPECT_FALSE(SetThreadPriority(t, bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_NORMAL);
  ResumeThread(t);
  SetEvent(go);
  WaitForSingleObject(t, INFINITE);

  EXPECT_EQ(GetThreadPriority(reinterpret_cast<HANDLE>(0x7ff0)), THREAD_PRIORITY_ERROR_RETURN);
  EXPECT_EQ(GetThreadPriority(go), THREAD_PRIORITY_ERROR_RETURN);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Threads, CallsOnOtherKindsOfHandleFail) {
  Handle e(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DWORD code;
  for (HANDLE bad : {e.h, HANDLE(nullptr), reinterpret_cast<HANDLE>(0x7ff0)}) {
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeThread(bad, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(ResumeThread(bad), static_cast<DWORD>(-1));
    EXPECT_FALSE(TerminateThread(bad, 1));
    EXPECT_EQ(GetThreadId(bad), 0u);
  }
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Terminate, StopsAThreadBlockedInAWaitAndUnwindsIt) {
  struct Case {
    const char* what;
    LPTHREAD_START_ROUTINE start;
  } cases[] = {{"wait", blocked_in_wait}, {"Sleep", blocked_in_sleep}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Victim v;
    Handle t(CreateThread(nullptr, 0, c.start, &v, 0, nullptr));
    while (!v.started) Sleep(1);
    EXPECT_TRUE(TerminateThread(t, 77));
    EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(exit_code(t), 77u);
    EXPECT_FALSE(v.went_on.load());
    EXPECT_TRUE(v.unwound.load());
    EXPECT_TRUE(TerminateThread(t, 5));  // already over: the code stays
    EXPECT_EQ(exit_code(t), 77u);
  }
}

TEST(Terminate, ASwallowedStopRecursAtTheNextWait) {
  Victim v;
  Handle t(CreateThread(nullptr, 0, swallows_and_waits_again, &v, 0, nullptr));
  while (!v.started) Sleep(1);
  TerminateThread(t, 12);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(v.swallowed.load(), 1);
  EXPECT_FALSE(v.went_on.load());
  EXPECT_EQ(exit_code(t), 12u);
}

TEST(Terminate, ANoexceptFrameStopsTheThreadInPlace) {
  Victim v;
  Handle m(CreateMutexW(nullptr, FALSE, nullptr));
  struct Args {
    Victim* v;
    HANDLE m;
    static DWORD CALLBACK run(LPVOID p) {
      auto* a = static_cast<Args*>(p);
      WaitForSingleObject(a->m, INFINITE);
      return blocked_in_noexcept(a->v);
    }
  } args{&v, m};
  Handle t(CreateThread(nullptr, 0, Args::run, &args, 0, nullptr));
  while (!v.started) Sleep(1);
  TerminateThread(t, 31);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);  // and the process lives on
  EXPECT_EQ(exit_code(t), 31u);
  EXPECT_FALSE(v.went_on.load());
  EXPECT_FALSE(v.unwound.load());  // stopped where it stood
  EXPECT_EQ(WaitForSingleObject(m, 0), static_cast<DWORD>(WAIT_ABANDONED_0));
  ReleaseMutex(m);
}

TEST(Terminate, ASuspendedThreadNeverRuns) {
  std::atomic<bool> ran{false};
  struct Args {
    static DWORD CALLBACK run(LPVOID p) {
      *static_cast<std::atomic<bool>*>(p) = true;
      return 0;
    }
  };
  Handle t(CreateThread(nullptr, 0, Args::run, &ran, CREATE_SUSPENDED, nullptr));
  EXPECT_TRUE(TerminateThread(t, 4));
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(exit_code(t), 4u);
}

TEST(Terminate, AWaitDuringUnwindingDoesNotThrowAgain) {
  struct Args {
    Victim v;
    std::atomic<DWORD> late_wait{0};
    struct WaitsOnDestroy {
      Args* a;
      ~WaitsOnDestroy() { a->late_wait = WaitForSingleObject(a->v.never, 20); }
    };
    static DWORD CALLBACK run(LPVOID p) {
      auto* a = static_cast<Args*>(p);
      WaitsOnDestroy w{a};
      a->v.started = true;
      WaitForSingleObject(a->v.never, INFINITE);
      return 0;
    }
  } args;
  Handle t(CreateThread(nullptr, 0, Args::run, &args, 0, nullptr));
  while (!args.v.started) Sleep(1);
  TerminateThread(t, 8);
  WaitForSingleObject(t, INFINITE);
  EXPECT_EQ(args.late_wait.load(), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(exit_code(t), 8u);
}

TEST(Terminate, OwnThreadEndsLikeExitThread) {
  struct Args {
    static DWORD CALLBACK run(LPVOID) {
      TerminateThread(GetCurrentThread(), 66);
      return 0;
    }
  };
  Handle t(CreateThread(nullptr, 0, Args::run, nullptr, 0, nullptr));
  WaitForSingleObject(t, INFINITE);
  EXPECT_EQ(exit_code(t), 66u);
}

TEST(Tokens, NoThreadTokenYetProcessTokenOpens) {
  HANDLE token = reinterpret_cast<HANDLE>(1);
  SetLastError(0);
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
  EXPECT_EQ(TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY, 14);
  EXPECT_EQ(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, 0x28);

  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  EXPECT_TRUE(ImpersonateLoggedOnUser(token));
  EXPECT_TRUE(RevertToSelf());
  EXPECT_TRUE(SetThreadToken(nullptr, token));
  EXPECT_TRUE(SetThreadToken(nullptr, nullptr));
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(ImpersonateLoggedOnUser(token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Random, VerifyContextGivesKernelRandomBytes) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  BYTE a[64] = {}, b[64] = {};
  ASSERT_TRUE(CryptGenRandom(prov, sizeof a, a));
  ASSERT_TRUE(CryptGenRandom(prov, sizeof b, b));
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  HCRYPTPROV none = 0;
  EXPECT_FALSE(CryptAcquireContextA(&none, "container", nullptr, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_FALSE(CryptGenRandom(0x1234, sizeof a, a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}
