// Handles' granted access, object names, handle flags and user APCs, each row
// with the answer Windows gives.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/kernel32/waitable.h"
#include "platform/win32/windows.h"

namespace {

struct Handle {
  HANDLE h = nullptr;
  explicit Handle(HANDLE v = nullptr) : h(v) {}
  Handle(Handle&& o) noexcept : h(std::exchange(o.h, nullptr)) {}
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h) CloseHandle(h);
  }
  operator HANDLE() const { return h; }
};

constexpr DWORD kFail = 0xFFFFFFFFu;  // the call is expected to succeed when the error is this

// What a call through a handle answered: 0 for success, else its last error.
DWORD outcome(BOOL ok) { return ok ? 0 : GetLastError(); }
DWORD wait_outcome(HANDLE h) {
  const DWORD r = WaitForSingleObject(h, 0);
  return r == WAIT_FAILED ? GetLastError() : 0;
}

}  // namespace

// An event opened or duplicated with some rights only: SetEvent/ResetEvent
// need EVENT_MODIFY_STATE, a wait needs SYNCHRONIZE.
TEST(HandleAccess, EventRightsAreCheckedPerHandle) {
  Handle made(CreateEventW(nullptr, TRUE, FALSE, u"kv-access-event"));
  ASSERT_NE(made.h, nullptr);
  struct Row {
    const char* how;
    DWORD access;   // asked of OpenEventW, or of DuplicateHandle when dup
    bool dup;
    bool same;      // DUPLICATE_SAME_ACCESS
    DWORD set;      // SetEvent and ResetEvent: 0 or the error
    DWORD wait;     // a wait: 0 or the error
  } rows[] = {
      {"open SYNCHRONIZE", SYNCHRONIZE, false, false, ERROR_ACCESS_DENIED, 0},
      {"open EVENT_MODIFY_STATE", EVENT_MODIFY_STATE, false, false, 0, ERROR_ACCESS_DENIED},
      {"open EVENT_ALL_ACCESS", EVENT_ALL_ACCESS, false, false, 0, 0},
      {"open GENERIC_WRITE", GENERIC_WRITE, false, false, 0, ERROR_ACCESS_DENIED},
      {"open GENERIC_EXECUTE", GENERIC_EXECUTE, false, false, ERROR_ACCESS_DENIED, 0},
      {"open GENERIC_ALL", GENERIC_ALL, false, false, 0, 0},
      {"duplicate SYNCHRONIZE", SYNCHRONIZE, true, false, ERROR_ACCESS_DENIED, 0},
      {"duplicate 0", 0, true, false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {"duplicate same access", 0, true, true, 0, 0},
  };
  for (const Row& r : rows) {
    Handle h;
    if (r.dup) {
      ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), made, GetCurrentProcess(), &h.h, r.access, FALSE,
                                  r.same ? DUPLICATE_SAME_ACCESS : 0)) << r.how;
    } else {
      h.h = OpenEventW(r.access, FALSE, u"kv-access-event");
      ASSERT_NE(h.h, nullptr) << r.how;
    }
    EXPECT_EQ(outcome(SetEvent(h)), r.set) << r.how;
    EXPECT_EQ(outcome(ResetEvent(h)), r.set) << r.how;
    EXPECT_EQ(outcome(PulseEvent(h)), r.set) << r.how;
    EXPECT_EQ(wait_outcome(h), r.wait) << r.how;
    // A narrower duplicate of a handle never widens it.
    Handle again;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &again.h, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(outcome(SetEvent(again)), r.set) << r.how;
  }
  // The creating handle has every right.
  EXPECT_TRUE(SetEvent(made));
  EXPECT_EQ(WaitForSingleObject(made, 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(HandleAccess, SemaphoreAndMutexRights) {
  Handle sem(CreateSemaphoreW(nullptr, 0, 5, u"kv-access-sem"));
  Handle mutex(CreateMutexW(nullptr, FALSE, u"kv-access-mutex"));
  ASSERT_NE(sem.h, nullptr);
  ASSERT_NE(mutex.h, nullptr);
  struct Row {
    DWORD access;
    DWORD release;  // ReleaseSemaphore: 0 or the error
    DWORD wait;
  } rows[] = {
      {SYNCHRONIZE, ERROR_ACCESS_DENIED, 0},
      {SEMAPHORE_MODIFY_STATE, 0, ERROR_ACCESS_DENIED},
      {SEMAPHORE_ALL_ACCESS, 0, 0},
  };
  for (const Row& r : rows) {
    Handle h(OpenSemaphoreW(r.access, FALSE, u"kv-access-sem"));
    ASSERT_NE(h.h, nullptr);
    LONG previous = -1;
    EXPECT_EQ(outcome(ReleaseSemaphore(h, 1, &previous)), r.release) << r.access;
    if (!r.release) {
      EXPECT_EQ(previous, 0);
      EXPECT_EQ(WaitForSingleObject(sem, 0), static_cast<DWORD>(WAIT_OBJECT_0));  // takes it back
    } else {
      EXPECT_EQ(previous, -1);
    }
    EXPECT_EQ(wait_outcome(h), r.wait == 0 ? 0 : r.wait) << r.access;
  }
  // SYNCHRONIZE is all a mutex's user needs: wait, then release.
  Handle m(OpenMutexW(SYNCHRONIZE, FALSE, u"kv-access-mutex"));
  ASSERT_NE(m.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(m, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ReleaseMutex(m));
  Handle no_sync(OpenMutexW(MUTEX_MODIFY_STATE, FALSE, u"kv-access-mutex"));
  ASSERT_NE(no_sync.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(no_sync, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Names: after an optional Global\ or Local\ prefix, a backslash inside is a
// missing path (3) and one in front a bad path (161).
TEST(ObjectNames, BackslashesAreRefusedAsWindowsDoes) {
  struct Row {
    const char16_t* name;
    DWORD error;  // 0: created
  } rows[] = {
      {u"kv-name-plain", 0},
      {u"Global\\kv-name-g", 0},
      {u"Local\\kv-name-l", 0},
      {u"a\\b", ERROR_PATH_NOT_FOUND},
      {u"\\a", ERROR_BAD_PATHNAME},
      {u"Global\\a\\b", ERROR_PATH_NOT_FOUND},
      {u"Local\\\\a", ERROR_BAD_PATHNAME},
      {u"Other\\a", ERROR_PATH_NOT_FOUND},
  };
  for (const Row& r : rows) {
    const std::u16string what(r.name);
    const std::string shown(what.begin(), what.end());
    std::vector<std::pair<const char*, HANDLE>> made = {
        {"event", CreateEventW(nullptr, FALSE, FALSE, r.name)},
    };
    DWORD event_error = made.back().second ? 0 : GetLastError();
    // One namespace holds every kind: each kind gets its own name.
    made.emplace_back("mutex", CreateMutexW(nullptr, FALSE, (what + u"-m").c_str()));
    DWORD mutex_error = made.back().second ? 0 : GetLastError();
    made.emplace_back("semaphore", CreateSemaphoreW(nullptr, 0, 1, (what + u"-s").c_str()));
    DWORD sem_error = made.back().second ? 0 : GetLastError();
    EXPECT_EQ(event_error, r.error) << shown;
    EXPECT_EQ(mutex_error, r.error) << shown;
    EXPECT_EQ(sem_error, r.error) << shown;
    // Opening answers the same for a malformed name, and finds a good one.
    HANDLE opened = OpenEventW(SYNCHRONIZE, FALSE, r.name);
    EXPECT_EQ(opened ? 0 : GetLastError(), r.error) << shown;
    if (opened) CloseHandle(opened);
    for (auto& [kind, h] : made)
      if (h) CloseHandle(h);
    // Mappings check their names alike (good names need a world: not here).
    if (r.error) {
      EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, r.name), nullptr);
      EXPECT_EQ(GetLastError(), r.error) << shown;
    }
  }
}

TEST(HandleFlags, ProtectFromCloseAndInherit) {
  Handle e(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DWORD flags = 0xFF;
  ASSERT_TRUE(GetHandleInformation(e, &flags));
  EXPECT_EQ(flags, 0u);

  ASSERT_TRUE(SetHandleInformation(e, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE));
  ASSERT_TRUE(GetHandleInformation(e, &flags));
  EXPECT_EQ(flags, static_cast<DWORD>(HANDLE_FLAG_PROTECT_FROM_CLOSE));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(e));  // refused, and the handle still works
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(SetEvent(e));

  // The mask chooses which flags change.
  ASSERT_TRUE(SetHandleInformation(e, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT | HANDLE_FLAG_PROTECT_FROM_CLOSE));
  ASSERT_TRUE(GetHandleInformation(e, &flags));
  EXPECT_EQ(flags, static_cast<DWORD>(HANDLE_FLAG_INHERIT | HANDLE_FLAG_PROTECT_FROM_CLOSE));
  ASSERT_TRUE(SetHandleInformation(e, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0));
  ASSERT_TRUE(GetHandleInformation(e, &flags));
  EXPECT_EQ(flags, static_cast<DWORD>(HANDLE_FLAG_INHERIT));

  // A duplicate's inheritance is its own argument's.
  Handle inherited, plain;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), e, GetCurrentProcess(), &inherited.h, 0, TRUE,
                              DUPLICATE_SAME_ACCESS));
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), e, GetCurrentProcess(), &plain.h, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  ASSERT_TRUE(GetHandleInformation(inherited, &flags));
  EXPECT_EQ(flags, static_cast<DWORD>(HANDLE_FLAG_INHERIT));
  ASSERT_TRUE(GetHandleInformation(plain, &flags));
  EXPECT_EQ(flags, 0u);

  HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(closed);
  EXPECT_FALSE(GetHandleInformation(closed, &flags));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetHandleInformation(closed, HANDLE_FLAG_INHERIT, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

namespace {

struct ApcLog {
  std::atomic<int> calls{0};
  std::atomic<ULONG_PTR> last{0};
  std::atomic<DWORD> thread{0};
};
ApcLog g_apc;

void CALLBACK note_apc(ULONG_PTR data) {
  g_apc.calls.fetch_add(1);
  g_apc.last = data;
  g_apc.thread = GetCurrentThreadId();
}

struct AlertableWaiter {
  HANDLE event;
  std::atomic<DWORD> result{0};
  static DWORD CALLBACK run(LPVOID p) {
    auto* self = static_cast<AlertableWaiter*>(p);
    self->result = WaitForSingleObjectEx(self->event, INFINITE, TRUE);
    return 0;
  }
};

}  // namespace

TEST(UserApcs, RunOnlyInAlertableWaits) {
  g_apc.calls = 0;
  ASSERT_NE(QueueUserAPC(note_apc, GetCurrentThread(), 7), 0u);
  ASSERT_NE(QueueUserAPC(note_apc, GetCurrentThread(), 8), 0u);
  Handle e(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  // Not alertable: the APCs wait.
  EXPECT_EQ(SleepEx(1, FALSE), 0u);
  EXPECT_EQ(WaitForSingleObjectEx(e, 1, FALSE), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(g_apc.calls.load(), 0);
  // Alertable: every queued one runs, in order, and the wait ends at once.
  EXPECT_EQ(SleepEx(INFINITE, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
  EXPECT_EQ(g_apc.calls.load(), 2);
  EXPECT_EQ(g_apc.last.load(), 8u);
  EXPECT_EQ(g_apc.thread.load(), GetCurrentThreadId());
  // Nothing queued: an alertable sleep just sleeps.
  EXPECT_EQ(SleepEx(1, TRUE), 0u);
  ASSERT_NE(QueueUserAPC(note_apc, GetCurrentThread(), 9), 0u);
  EXPECT_EQ(WaitForMultipleObjectsEx(1, &e.h, FALSE, 0, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
  EXPECT_EQ(g_apc.calls.load(), 3);

  EXPECT_EQ(QueueUserAPC(note_apc, e, 1), 0u);  // not a thread
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(UserApcs, WakeAThreadSleepingAlertably) {
  g_apc.calls = 0;
  Handle e(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  AlertableWaiter w{e};
  DWORD tid = 0;
  Handle t(CreateThread(nullptr, 0, AlertableWaiter::run, &w, 0, &tid));
  ASSERT_NE(t.h, nullptr);
  for (int i = 0; i < 5000 && win32::waiter_count(e) < 1; ++i) Sleep(1);
  ASSERT_EQ(win32::waiter_count(e), 1u);
  ASSERT_NE(QueueUserAPC(note_apc, t, 42), 0u);
  ASSERT_EQ(WaitForSingleObject(t, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(w.result.load(), static_cast<DWORD>(WAIT_IO_COMPLETION));
  EXPECT_EQ(g_apc.calls.load(), 1);
  EXPECT_EQ(g_apc.last.load(), 42u);
  EXPECT_EQ(g_apc.thread.load(), tid);  // ran on the waiting thread
}
