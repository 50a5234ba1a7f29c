// Work on another thread: a dedicated thread (Common::Thread) or pooled work
// (Common::createPooledThread), both behind Common::ThreadAccessor.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/win32/windows.h"

namespace Common {

// A thread function: one pointer argument, a 32-bit result.
using ThreadFunction = std::int32_t (*)(void* argument);

// Priority classes: 0 idle, 1 below normal, 2 normal, 3 above normal.
class ThreadAccessor {
 public:
  virtual ~ThreadAccessor() = default;
  // True when the work has finished within the time.
  virtual bool wait(DWORD milliseconds) = 0;
  virtual void join() = 0;
  virtual void terminate() = 0;
  virtual DWORD id() = 0;
  virtual void setPriority(int priorityClass) = 0;
  virtual int getPriority() = 0;
  // The thread function's value, -1 until it returned.
  virtual std::int32_t result() = 0;
};

struct ThreadControl;

// A dedicated thread, started at construction. It runs under the impersonation
// token of the thread that constructed it. Destroying the object never waits for
// the thread. When the start failed there is no thread: wait and join return at
// once, id is 0 and result -1.
class Thread : public ThreadAccessor {
 public:
  Thread(ThreadFunction function, void* argument);
  ~Thread() override;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  bool wait(DWORD milliseconds) override;
  void join() override;
  // Like wait, and further until the thread has left the system, its
  // thread-local clean-up done (before a fork, for one).
  bool waitGone(DWORD milliseconds);
  // Stops the thread with exit code -1. Here a thread can only be stopped at its
  // next wait on a layer object; until then it runs on.
  void terminate() override;
  DWORD id() override;
  void setPriority(int priorityClass) override;
  int getPriority() override;
  std::int32_t result() override;

 private:
  ThreadControl* control_;
};

// Sets a priority class (0-3; anything else counts as normal) on a thread.
BOOL setThreadPriority(HANDLE thread, int priorityClass);
// The priority class of a thread's Win32 priority.
int priorityClassOf(int win32Priority);

// Hands the work to an idle worker of the process-wide pool (or a new one) and
// returns its handle. terminate and setPriority do nothing on pooled work.
// Throws Common::Error code 7 when no worker can be had.
std::unique_ptr<ThreadAccessor> createPooledThread(ThreadFunction function, void* argument, int priorityClass);

namespace detail {
// Introspection for tests.
int poolIdleCount();
int poolWorkerCount();       // workers alive (busy, finished or idle)
long liveThreadControls();  // control blocks of Common::Thread not yet freed
}  // namespace detail

}  // namespace Common
