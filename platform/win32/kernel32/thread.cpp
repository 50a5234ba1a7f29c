#include "platform/win32/kernel32/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/spawn.h"
#include "platform/win32/kernel32/sync.h"
#include "platform/win32/layer/threadstate.h"

namespace win32::detail {

constinit thread_local DWORD t_thread_id KV_FAST_TLS = 0;
constinit thread_local ThreadObject* t_layer_self KV_FAST_TLS = nullptr;

namespace {

std::atomic<DWORD> g_last_id{0};

// Ids are multiples of four and never 0, as on Windows; they are not reused.
DWORD new_thread_id() { return g_last_id.fetch_add(4, std::memory_order_relaxed) + 4; }

// Owned by the OS thread; its destructor is the thread-detach point for
// threads the layer did not start (and the last step for those it did).
struct ThreadState {
  std::shared_ptr<ThreadObject> self;
  ~ThreadState() {
    try {
      run_thread_exit();
    } catch (const ThreadExit&) {
    }
    if (self) {
      std::lock_guard<std::mutex> g(wait_lock());
      self->os_running = false;
    }
    tls_release_thread();
  }
};

thread_local ThreadState t_state;

int os_nice(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE: return 19;
    case THREAD_PRIORITY_LOWEST: return 10;
    case THREAD_PRIORITY_BELOW_NORMAL: return 5;
    case THREAD_PRIORITY_NORMAL: return 0;
    case THREAD_PRIORITY_ABOVE_NORMAL: return -5;
    case THREAD_PRIORITY_HIGHEST: return -10;
    default: return -20;
  }
}

// Under wait_lock(), so the kernel id cannot be reused meanwhile. Raising
// usually fails without privileges; the stored value is what callers see.
void apply_priority(ThreadObject& t) {
  if (t.os_running && t.os_tid) setpriority(PRIO_PROCESS, static_cast<id_t>(t.os_tid), os_nice(t.priority));
}

bool valid_priority(int p) {
  switch (p) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      return true;
    default:
      return false;
  }
}

// The end of a layer thread: clean-up first, then its handle becomes signalled.
void finish_thread(ThreadObject& self, DWORD code) {
  try {
    run_thread_exit();
  } catch (const ThreadExit&) {
  }
  std::lock_guard<std::mutex> g(wait_lock());
  self.exit_code = self.terminating.load() ? self.terminate_code : code;
  self.exited = true;
  self.os_running = false;
  self.notify_waiters();
}

[[noreturn]] void park_forever() {
  for (;;) pause();
}

std::terminate_handler g_previous_terminate = nullptr;

// A ThreadExit that meets a frame that may not throw ends up here instead of in
// the thread start routine: the thread ends in place.
[[noreturn]] void on_terminate() {
  if (ThreadObject* self = t_layer_self) {
    if (std::exception_ptr p = std::current_exception()) {
      try {
        std::rethrow_exception(p);
      } catch (const ThreadExit& e) {
        finish_thread(*self, e.code);
        park_forever();
      } catch (...) {
      }
    }
  }
  if (g_previous_terminate) g_previous_terminate();
  std::abort();
}

void install_terminate_handler() {
  static std::once_flag once;
  std::call_once(once, [] { g_previous_terminate = std::set_terminate(on_terminate); });
}

void thread_main(std::shared_ptr<ThreadObject> self) {
  t_thread_id = self->id;
  t_layer_self = self.get();
  t_state.self = self;
  DWORD code = 0;
  try {
    {
      std::unique_lock<std::mutex> lock(wait_lock());
      self->os_tid = static_cast<int>(gettid());
      self->os_running = true;
      if (self->priority != THREAD_PRIORITY_NORMAL) apply_priority(*self);
      self->start_gate.wait(lock, [&] { return self->suspend_count == 0 || self->terminating.load(); });
      self->released = true;
    }
    check_terminate();
    code = self->start(self->parameter);
  } catch (const ThreadExit& e) {
    code = e.code;
  }
  finish_thread(*self, code);
}

std::shared_ptr<ThreadObject> thread_of(HANDLE h) {
  if (h == GetCurrentThread()) return current_thread_shared();
  auto t = handle_lookup_as<ThreadObject>(h);
  if (!t) SetLastError(ERROR_INVALID_HANDLE);
  return t;
}

}  // namespace

DWORD assign_thread_id() {
  t_thread_id = new_thread_id();
  return t_thread_id;
}

void ensure_thread_state() { (void)t_state.self; }

std::shared_ptr<ThreadObject> current_thread_shared() {
  ThreadState& st = t_state;
  if (!st.self) {
    auto t = std::make_shared<ThreadObject>();
    t->id = current_thread_id();
    std::lock_guard<std::mutex> g(wait_lock());
    t->os_tid = static_cast<int>(gettid());
    t->os_running = true;
    t->released = true;
    st.self = std::move(t);
  }
  return st.self;
}

ThreadObject* current_thread_object() { return current_thread_shared().get(); }

void check_terminate() {
  ThreadObject* self = t_layer_self;
  if (self && self->terminating.load(std::memory_order_acquire) && std::uncaught_exceptions() == 0)
    throw ThreadExit{self->terminate_code};
}

void run_thread_exit() {
  tls_thread_exit();
  if (t_thread_id) abandon_mutexes(t_thread_id);
}

}  // namespace win32::detail

using win32::detail::ThreadObject;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  win32::detail::install_terminate_handler();
  auto t = std::make_shared<ThreadObject>();
  t->id = win32::detail::new_thread_id();
  t->layer_thread = true;
  t->start = lpStartAddress;
  t->parameter = lpParameter;
  t->suspend_count = (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0;
  HANDLE h = win32::handle_insert(t);
  try {
    std::thread(win32::detail::thread_main, t).detach();
  } catch (const std::system_error&) {
    win32::handle_remove(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (lpThreadId) *lpThreadId = t->id;
  return h;
}

std::uintptr_t _beginthreadex(void*, unsigned stack_size, unsigned (*start_address)(void*), void* arglist,
                              unsigned initflag, unsigned* thrdaddr) {
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, stack_size, start_address, arglist, initflag, &id);
  if (!h) {
    errno = EAGAIN;
    return 0;
  }
  if (thrdaddr) *thrdaddr = id;
  return reinterpret_cast<std::uintptr_t>(h);
}

void _endthreadex(unsigned retval) { ExitThread(retval); }

DWORD ResumeThread(HANDLE hThread) {
  if (DWORD previous; win32::resume_process_thread(hThread, previous)) return previous;
  auto t = win32::detail::thread_of(hThread);
  if (!t) return static_cast<DWORD>(-1);
  std::lock_guard<std::mutex> g(win32::wait_lock());
  DWORD previous = t->suspend_count;
  if (previous > 0 && --t->suspend_count == 0) t->start_gate.notify_all();
  return previous;
}

DWORD SuspendThread(HANDLE hThread) {
  auto t = win32::detail::thread_of(hThread);
  if (!t) return static_cast<DWORD>(-1);
  std::lock_guard<std::mutex> g(win32::wait_lock());
  if (t->released || t->suspend_count == 0 || t->exited) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return static_cast<DWORD>(-1);
  }
  return t->suspend_count++;
}

void ExitThread(DWORD dwExitCode) {
  ThreadObject* self = win32::detail::t_layer_self;
  if (self) {
    if (std::uncaught_exceptions() == 0) throw win32::ThreadExit{dwExitCode};
    win32::detail::finish_thread(*self, dwExitCode);
    win32::detail::park_forever();
  }
  try {
    win32::detail::run_thread_exit();
  } catch (const win32::ThreadExit&) {
  }
  pthread_exit(nullptr);
}

BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode) {
  auto t = win32::detail::thread_of(hThread);
  if (!t) return FALSE;
  if (t.get() == win32::detail::t_layer_self || hThread == GetCurrentThread()) ExitThread(dwExitCode);
  if (!t->layer_thread) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(win32::wait_lock());
  if (t->exited || t->terminating.load()) return TRUE;
  t->terminate_code = dwExitCode;
  t->terminating.store(true, std::memory_order_release);
  if (t->wake) t->wake->notify_all();
  t->start_gate.notify_all();
  return TRUE;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  if (DWORD code; lpExitCode && win32::process_thread_exit_code(hThread, code)) {
    *lpExitCode = code;
    return TRUE;
  }
  auto t = win32::detail::thread_of(hThread);
  if (!t) return FALSE;
  if (!lpExitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(win32::wait_lock());
  *lpExitCode = t->exit_code;
  return TRUE;
}

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }

DWORD GetCurrentThreadId() { return win32::detail::current_thread_id(); }

DWORD GetThreadId(HANDLE Thread) {
  auto t = win32::detail::thread_of(Thread);
  return t ? t->id : 0;
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
  if (!win32::detail::valid_priority(nPriority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto t = win32::detail::thread_of(hThread);
  if (!t) return FALSE;
  std::lock_guard<std::mutex> g(win32::wait_lock());
  t->priority = nPriority;
  win32::detail::apply_priority(*t);
  return TRUE;
}

int GetThreadPriority(HANDLE hThread) {
  auto t = win32::detail::thread_of(hThread);
  if (!t) return THREAD_PRIORITY_ERROR_RETURN;
  std::lock_guard<std::mutex> g(win32::wait_lock());
  return t->priority;
}

void Sleep(DWORD dwMilliseconds) { SleepEx(dwMilliseconds, FALSE); }

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
  static const std::vector<std::shared_ptr<win32::Waitable>> nothing;
  if (dwMilliseconds == 0) {
    if (bAlertable) return win32::wait_objects(nothing, false, 0, true) == WAIT_IO_COMPLETION ? WAIT_IO_COMPLETION : 0;
    win32::detail::check_terminate();
    sched_yield();
    return 0;
  }
  return win32::wait_objects(nothing, false, dwMilliseconds, bAlertable != FALSE) == WAIT_IO_COMPLETION
             ? WAIT_IO_COMPLETION
             : 0;
}

DWORD QueueUserAPC(PAPCFUNC pfnAPC, HANDLE hThread, ULONG_PTR dwData) {
  auto t = win32::detail::thread_of(hThread);
  if (!t) return 0;
  if (!pfnAPC) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> g(win32::wait_lock());
  t->apcs.emplace_back(pfnAPC, dwData);
  if (t->wake) t->wake->notify_all();
  return 1;
}

BOOL SwitchToThread() {
  sched_yield();
  return TRUE;
}

BOOL win32::wait_thread_gone(HANDLE thread, DWORD milliseconds) {
  auto t = win32::detail::thread_of(thread);
  if (!t) return FALSE;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (WaitForSingleObject(thread, milliseconds) != WAIT_OBJECT_0) return FALSE;
  int tid;
  {
    std::lock_guard<std::mutex> g(win32::wait_lock());
    tid = t->os_tid;
  }
  if (!tid) return TRUE;
  // The kernel forgets the id once the thread has left.
  while (syscall(SYS_tgkill, getpid(), tid, 0) == 0 || errno != ESRCH) {
    if (std::chrono::steady_clock::now() >= deadline) return FALSE;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return TRUE;
}
