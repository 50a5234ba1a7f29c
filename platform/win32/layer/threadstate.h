// Per-thread state shared by the sync, thread and TLS parts of the layer.
// Layer-internal.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <utility>
#include <vector>

#include "platform/win32/kernel32/thread.h"
#include "platform/win32/kernel32/waitable.h"

namespace win32::detail {

// The layer is linked into programs, never loaded late, so its thread-locals
// can use the fast initial-exec model (no __tls_get_addr call per access).
#define KV_FAST_TLS __attribute__((tls_model("initial-exec")))

// The calling thread's id, 0 until first asked for (current_thread_id()).
extern constinit thread_local DWORD t_thread_id KV_FAST_TLS;
DWORD assign_thread_id();

inline DWORD current_thread_id() {
  DWORD id = t_thread_id;
  return id ? id : assign_thread_id();
}

// The object behind a thread handle. Fields marked (lock) are guarded by
// wait_lock().
class ThreadObject : public Waitable {
 public:
  ObjectKind kind() const override { return ObjectKind::Thread; }
  bool signalled(DWORD) const override { return exited; }
  bool acquire(DWORD) override { return false; }
  void notify_waiters() { changed(); }  // under wait_lock(), after exited is set

  DWORD id = 0;
  bool layer_thread = false;  // started by CreateThread, so its start routine can end it
  LPTHREAD_START_ROUTINE start = nullptr;
  LPVOID parameter = nullptr;

  bool exited = false;             // (lock)
  DWORD exit_code = STILL_ACTIVE;  // (lock)
  DWORD suspend_count = 0;         // (lock) held at the start while above 0
  bool released = false;           // (lock) passed its start gate
  std::condition_variable start_gate;
  int priority = THREAD_PRIORITY_NORMAL;  // (lock)
  int os_tid = 0;                         // (lock) kernel id while os_running
  bool os_running = false;                // (lock)

  // User APCs queued by QueueUserAPC, run at the thread's next alertable wait.
  std::vector<std::pair<PAPCFUNC, ULONG_PTR>> apcs;  // (lock)

  std::atomic<bool> terminating{false};
  DWORD terminate_code = 0;             // written once before terminating is set
  std::condition_variable* wake = nullptr;  // (lock) the wait it sleeps in, if any
};

// The calling thread's object, made on first use for threads the layer did not
// start. Never null.
ThreadObject* current_thread_object();
std::shared_ptr<ThreadObject> current_thread_shared();

// The calling thread's object when it may be terminated (a layer thread), else
// null. Cheap.
extern constinit thread_local ThreadObject* t_layer_self KV_FAST_TLS;

// Throws ThreadExit when the calling thread is being terminated and its stack is
// not already unwinding.
void check_terminate();

// Makes sure the calling thread's exit clean-up will run when it ends.
void ensure_thread_state();

// Exit clean-up of the calling thread: TLS exit callbacks, then abandonment of
// the mutexes it owns. Safe to run more than once.
void run_thread_exit();
// Pieces of it owned by other parts of the layer.
void tls_thread_exit();
void tls_release_thread();  // frees the thread's slot storage, last
void abandon_mutexes(DWORD tid);

}  // namespace win32::detail
