// Critical sections, the construction-free recursive lock, the reader/writer
// lock, and thin wrappers over kernel events and semaphores. Nothing here throws
// or reports more than the Win32 result.
#pragma once

#include <cstdint>

#include "platform/win32/windows.h"

namespace Common {

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter();
  void leave();

 private:
  CRITICAL_SECTION cs_;
};

// A heap critical section for locks shared between objects; null when memory
// runs out.
CriticalSection* newCriticalSection();

// Holds a critical section for its scope; a null pointer makes it do nothing,
// so code that may run without a lock is written once.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection* cs) : cs_(cs) { lock(); }
  explicit CriticalSectionLock(CriticalSection& cs) : cs_(&cs) { lock(); }
  ~CriticalSectionLock() {
    if (cs_) cs_->leave();
  }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  void lock() {
    if (cs_) cs_->enter();
  }
  CriticalSection* cs_;
};

// A recursive lock whose all-zero state is a free lock: static instances work
// before any constructor has run, and no kernel object exists until a thread
// first has to sleep in it. The exit-time destructor only retires it: it stays
// usable, but from then on the event lives only while contention lasts.
//
// The lock count (the owner once, and the threads asleep or going to sleep) and
// the owner's thread id share one 64-bit word, so that taking a free lock and
// letting go of it are one atomic operation each; recursion touches no shared
// word at all.
class RecursiveLock {
 public:
  constexpr RecursiveLock() = default;
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock();
  void unlock();  // only by the owner

 private:
  void lockContended(DWORD self);
  void wake(bool retiring);
  void dropEventIfIdle(std::uint32_t keep);
  HANDLE takeEvent();

  std::uint64_t state_ = 0;  // owner id << 32 | wake-up pending << 31 | lock count; 0 when free
  std::int32_t depth_ = 0;   // recursion of the owner; written by the owner only
  HANDLE event_ = nullptr;   // auto-reset wake-up event; null none yet, -1 being discarded
  std::uint8_t retiring_ = 0;  // set by the owner only

  friend struct RecursiveLockProbe;
};

class RecursiveLockGuard {
 public:
  explicit RecursiveLockGuard(RecursiveLock* lock) : lock_(lock) {
    if (lock_) lock_->lock();
  }
  explicit RecursiveLockGuard(RecursiveLock& lock) : RecursiveLockGuard(&lock) {}
  ~RecursiveLockGuard() {
    if (lock_) lock_->unlock();
  }
  RecursiveLockGuard(const RecursiveLockGuard&) = delete;
  RecursiveLockGuard& operator=(const RecursiveLockGuard&) = delete;

 private:
  RecursiveLock* lock_;
};

class Event {
 public:
  Event(bool manualReset, bool initialState);
  ~Event();  // closes the handle (also a semaphore's)
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  BOOL set();
  BOOL reset();
  // True only when the wait ended with the object signalled.
  bool waitFor(DWORD milliseconds);
  DWORD wait();  // without time limit; the Win32 result
  HANDLE handle() const { return handle_; }

 protected:
  explicit Event(HANDLE handle) : handle_(handle) {}
  HANDLE handle_;
};

class Semaphore : public Event {
 public:
  explicit Semaphore(LONG initialCount);
  BOOL release();
  BOOL releaseMany(LONG n);

 private:
  using Event::reset;
  using Event::set;
};

// Waits for any one of the handles without time limit: the index of the one
// signalled, or -1 on failure or abandonment.
int waitForAny(const HANDLE* handles, DWORD count);

// Shared access for any number of threads, exclusive access for one. Both are
// re-entrant per thread; a thread that is the only reader may also take
// exclusive access, and the exclusive owner may take shared access. Readers are
// admitted whenever no other thread holds exclusive access (no writer preference).
class ReadWriteLock {
 public:
  ReadWriteLock();
  ~ReadWriteLock();
  ReadWriteLock(const ReadWriteLock&) = delete;
  ReadWriteLock& operator=(const ReadWriteLock&) = delete;

  void lockShared();
  void unlockShared();
  void lock();
  void unlock();

 private:
  struct ReaderNode {
    ReaderNode* next;
    DWORD threadId;
  };
  void wakeAll();  // under the critical section

  std::int32_t depth_ = 0;
  std::int32_t waiters_ = 0;
  DWORD owner_ = 0;
  ReaderNode* readers_ = nullptr;
  ReaderNode* spare_ = nullptr;
  Semaphore semaphore_;
  CriticalSection cs_;
};

}  // namespace Common
