// The core runtime's thread handle, the ProtectedObject base, the calling
// thread's id and the close-and-wake operation on hand-off records.
#pragma once

#include <cstdint>

#include "platform/win32/windows.h"

namespace Common {
class CriticalSection;
class Semaphore;
class Thread;
}  // namespace Common

namespace Processor {

using ThreadFunction = std::int32_t (*)(void* argument);

class Thread {
 public:
  // Starts the function on a new thread (a previous thread object is dropped
  // without waiting); answers 1.
  virtual int start(ThreadFunction function, void* argument) = 0;
  virtual void join() = 0;
  // Waits up to `milliseconds` for the thread to end, then terminates it
  // (at once for a thread made with the terminate-at-once flag).
  virtual void stop(DWORD milliseconds) = 0;
  virtual DWORD id() = 0;
  // Priority classes 0, 1 and 3 pass as they are; any other value is normal (2).
  virtual void setPriority(int priorityClass) = 0;
  virtual ~Thread() = default;
};

class ThreadImpl : public Thread {
 public:
  static ThreadImpl* create(bool terminateAtOnce);
  ~ThreadImpl() override;

  int start(ThreadFunction function, void* argument) override;
  void join() override;
  void stop(DWORD milliseconds) override;
  DWORD id() override;
  void setPriority(int priorityClass) override;
  // Joins, then waits until the thread has also left the system, its
  // thread-local clean-up done, for at most `milliseconds`.
  bool joinGone(DWORD milliseconds);

 private:
  explicit ThreadImpl(bool terminateAtOnce) : terminateAtOnce_(terminateAtOnce) {}

  Common::Thread* thread_ = nullptr;
  bool terminateAtOnce_;
};

// Gives a class its own heap critical section; derived classes lock it with
// Common::CriticalSectionLock(lock()).
class ProtectedObject {
 public:
  ProtectedObject();
  ProtectedObject(const ProtectedObject&) = delete;
  ProtectedObject& operator=(const ProtectedObject&) = delete;
  virtual ~ProtectedObject();

  Common::CriticalSection* lock() const noexcept { return lock_; }

 private:
  Common::CriticalSection* lock_;
};

// The calling thread's id (the value GetCurrentThreadId answers).
DWORD currentThreadId();

// The part of a hand-off record between an owner and a worker that this
// library touches: a closed flag, the semaphore the worker waits on and the
// critical section that guards the record.
struct HandOffRecord {
  std::uint8_t closed = 0;
  Common::Semaphore* semaphore = nullptr;
  Common::CriticalSection* lock = nullptr;
};

// Closes the record and wakes its waiter once; a closed record is left alone.
void closeAndWakeWaiter(HandOffRecord* record);

}  // namespace Processor
