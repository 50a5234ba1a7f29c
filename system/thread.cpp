#include "system/thread.h"

#include <atomic>
#include <new>

namespace Common {

// Shared by the Thread object and the running thread; the last one to let go
// closes the token and the handle and frees the block.
struct ThreadControl {
  ThreadFunction function;
  void* argument;
  HANDLE handle;  // INVALID_HANDLE_VALUE until the start call ran, null when it failed
  HANDLE token;   // the creator's impersonation token, or null
  DWORD id;
  std::int32_t refs;
  std::int32_t result;  // -1 until the function returned
};

namespace {

std::atomic<long> liveControls{0};

void releaseControl(ThreadControl* c) {
  if (__atomic_sub_fetch(&c->refs, 1, __ATOMIC_ACQ_REL) != 0) return;
  if (c->token) CloseHandle(c->token);
  if (c->handle && c->handle != INVALID_HANDLE_VALUE) CloseHandle(c->handle);
  delete c;
  liveControls.fetch_sub(1, std::memory_order_relaxed);
}

bool hasThread(const ThreadControl* c) { return c->handle && c->handle != INVALID_HANDLE_VALUE; }

unsigned threadStart(void* p) {
  ThreadControl* c = static_cast<ThreadControl*>(p);
  std::int32_t r = -1;
  if (!c->token || ImpersonateLoggedOnUser(c->token)) {
    try {
      r = c->function(c->argument);
    } catch (const win32::ThreadExit&) {
      // Stopped by terminate: the thread still lets go of the block on its way out.
      releaseControl(c);
      throw;
    }
    __atomic_store_n(&c->result, r, __ATOMIC_RELEASE);
    if (c->token) RevertToSelf();
  }
  // The token stays with the block (closed by whoever lets go last): the creator
  // may still be impersonating it again right after the start.
  releaseControl(c);
  return static_cast<unsigned>(r);
}

}  // namespace

Thread::Thread(ThreadFunction function, void* argument)
    : control_(new ThreadControl{function, argument, INVALID_HANDLE_VALUE, nullptr, 0, 2, -1}) {
  liveControls.fetch_add(1, std::memory_order_relaxed);
  ThreadControl* c = control_;
  if (!(GetVersion() & 0x80000000u)) {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, &token)) {
      c->token = token;
    } else if (GetLastError() != ERROR_NO_TOKEN) {
      releaseControl(c);  // the thread's reference: no thread
      return;
    }
  }
  if (c->token && !RevertToSelf()) {
    CloseHandle(c->token);
    c->token = nullptr;
    releaseControl(c);
    return;
  }
  unsigned tid = 0;
  std::uintptr_t h = _beginthreadex(nullptr, 0, threadStart, c, 0, &tid);
  c->id = tid;
  c->handle = reinterpret_cast<HANDLE>(h);
  if (h) {
    if (c->token) ImpersonateLoggedOnUser(c->token);
  } else {
    if (c->token) {
      ImpersonateLoggedOnUser(c->token);  // the creator goes back to whom it was
      CloseHandle(c->token);
      c->token = nullptr;
    }
    releaseControl(c);
  }
}

Thread::~Thread() { releaseControl(control_); }

bool Thread::wait(DWORD milliseconds) {
  if (!hasThread(control_)) return true;
  return WaitForSingleObject(control_->handle, milliseconds) != WAIT_TIMEOUT;
}

void Thread::join() {
  if (hasThread(control_)) WaitForSingleObject(control_->handle, INFINITE);
}

bool Thread::waitGone(DWORD milliseconds) {
  if (!hasThread(control_)) return true;
  return win32::wait_thread_gone(control_->handle, milliseconds) != FALSE;
}

// On Windows the killed thread would never let go of the block, so the object
// would take over its reference. Here the thread unwinds at its next wait (or
// finishes first) and lets go itself, so the count stays as it is.
void Thread::terminate() {
  if (hasThread(control_)) TerminateThread(control_->handle, static_cast<DWORD>(-1));
}

DWORD Thread::id() { return control_->id; }

void Thread::setPriority(int priorityClass) {
  if (hasThread(control_)) setThreadPriority(control_->handle, priorityClass);
}

int Thread::getPriority() { return priorityClassOf(GetThreadPriority(control_->handle)); }

std::int32_t Thread::result() { return __atomic_load_n(&control_->result, __ATOMIC_ACQUIRE); }

BOOL setThreadPriority(HANDLE thread, int priorityClass) {
  int p;
  switch (priorityClass) {
    case 0: p = THREAD_PRIORITY_IDLE; break;
    case 1: p = THREAD_PRIORITY_BELOW_NORMAL; break;
    case 3: p = THREAD_PRIORITY_ABOVE_NORMAL; break;
    default: p = THREAD_PRIORITY_NORMAL; break;
  }
  return SetThreadPriority(thread, p);
}

int priorityClassOf(int win32Priority) {
  if (win32Priority <= THREAD_PRIORITY_IDLE) return 0;
  if (win32Priority < 0) return 1;
  if (win32Priority == 0) return 2;
  return 3;
}

namespace detail {
long liveThreadControls() { return liveControls.load(std::memory_order_relaxed); }
}  // namespace detail

}  // namespace Common
