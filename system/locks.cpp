#include "system/locks.h"

#include <new>

namespace Common {
namespace {

HANDLE const kDiscarding = INVALID_HANDLE_VALUE;

inline std::int32_t atomicIncrement(std::int32_t* p) { return __atomic_add_fetch(p, 1, __ATOMIC_ACQ_REL); }
inline std::int32_t atomicDecrement(std::int32_t* p) { return __atomic_sub_fetch(p, 1, __ATOMIC_ACQ_REL); }
inline std::int32_t atomicRead(const std::int32_t* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

// --- CriticalSection -------------------------------------------------------

CriticalSection::CriticalSection() { InitializeCriticalSection(&cs_); }
CriticalSection::~CriticalSection() { DeleteCriticalSection(&cs_); }
void CriticalSection::enter() { EnterCriticalSection(&cs_); }
void CriticalSection::leave() { LeaveCriticalSection(&cs_); }

CriticalSection* newCriticalSection() { return new (std::nothrow) CriticalSection; }

// --- RecursiveLock ---------------------------------------------------------

// The current event, made and installed on first need. A thread that finds the
// owner discarding it waits until that has settled.
HANDLE RecursiveLock::takeEvent() {
  for (;;) {
    HANDLE e = __atomic_load_n(&event_, __ATOMIC_ACQUIRE);
    while (e == kDiscarding) {
      Sleep(0);
      e = __atomic_load_n(&event_, __ATOMIC_ACQUIRE);
    }
    if (e) return e;
    HANDLE made = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE expected = nullptr;
    if (__atomic_compare_exchange_n(&event_, &expected, made, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
      return made;
    if (made) CloseHandle(made);
    // Someone else installed one (or is discarding): read again.
  }
}

// Once retiring, the owner closes the event whenever nobody else is in line.
void RecursiveLock::dropEventIfIdle() {
  HANDLE old = __atomic_exchange_n(&event_, kDiscarding, __ATOMIC_ACQ_REL);
  if (atomicRead(&count_) > depth_) {
    __atomic_store_n(&event_, old, __ATOMIC_RELEASE);
  } else {
    __atomic_store_n(&event_, nullptr, __ATOMIC_RELEASE);
    if (old) CloseHandle(old);
  }
}

void RecursiveLock::lock() {
  DWORD self = GetCurrentThreadId();
  // Before joining the line, give a short-held lock a moment to come free: a
  // thread that has counted itself in must sleep until it is handed the lock.
  if (atomicRead(&count_) != 0 && __atomic_load_n(&owner_, __ATOMIC_ACQUIRE) != self) {
    for (int spin = 0; spin < 2000 && atomicRead(&count_) != 0; ++spin) cpuRelax();
  }
  std::int32_t c = atomicIncrement(&count_);
  if (c == 1) {
    depth_ = 1;
    __atomic_exchange_n(&owner_, self, __ATOMIC_ACQ_REL);
  } else if (__atomic_load_n(&owner_, __ATOMIC_ACQUIRE) == self) {
    ++depth_;
  } else {
    WaitForSingleObject(takeEvent(), INFINITE);
    depth_ = 1;
    __atomic_exchange_n(&owner_, self, __ATOMIC_ACQ_REL);
  }
  if (retiring_) dropEventIfIdle();
}

void RecursiveLock::unlock() {
  if (--depth_ != 0) {
    atomicDecrement(&count_);
    return;
  }
  __atomic_exchange_n(&owner_, 0u, __ATOMIC_ACQ_REL);
  if (atomicDecrement(&count_) <= 0) return;
  // Someone is waiting or about to wait; the auto-reset event keeps a signal
  // given before that thread's wait.
  SetEvent(takeEvent());
}

RecursiveLock::~RecursiveLock() {
  lock();
  retiring_ = 1;
  dropEventIfIdle();
  unlock();
}

// --- Event and Semaphore ---------------------------------------------------

Event::Event(bool manualReset, bool initialState)
    : handle_(CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr)) {}

Event::~Event() {
  if (handle_) CloseHandle(handle_);
}

BOOL Event::set() { return SetEvent(handle_); }
BOOL Event::reset() { return ResetEvent(handle_); }
bool Event::waitFor(DWORD milliseconds) { return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0; }
DWORD Event::wait() { return WaitForSingleObject(handle_, INFINITE); }

Semaphore::Semaphore(LONG initialCount) : Event(CreateSemaphoreA(nullptr, initialCount, 0x7fffffff, nullptr)) {}
BOOL Semaphore::release() { return ReleaseSemaphore(handle_, 1, nullptr); }
BOOL Semaphore::releaseMany(LONG n) { return ReleaseSemaphore(handle_, n, nullptr); }

int waitForAny(const HANDLE* handles, DWORD count) {
  DWORD r = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
  LONG index = static_cast<LONG>(r - WAIT_OBJECT_0);
  if (index < 0 || static_cast<DWORD>(index) >= count) return -1;
  return index;
}

// --- ReadWriteLock ---------------------------------------------------------

ReadWriteLock::ReadWriteLock() : semaphore_(0) {}

ReadWriteLock::~ReadWriteLock() {
  while (spare_) {
    ReaderNode* n = spare_;
    spare_ = n->next;
    delete n;
  }
  // Readers still listed at this point are a caller's fault; do not leak them.
  while (readers_) {
    ReaderNode* n = readers_;
    readers_ = n->next;
    delete n;
  }
}

void ReadWriteLock::wakeAll() {
  if (waiters_ > 0) {
    semaphore_.releaseMany(waiters_);
    waiters_ = 0;
  }
}

void ReadWriteLock::lockShared() {
  DWORD self = GetCurrentThreadId();
  for (;;) {
    {
      CriticalSectionLock guard(cs_);
      if (owner_ == 0 || owner_ == self) {
        ReaderNode* n = spare_;
        if (n)
          spare_ = n->next;
        else
          n = new ReaderNode;  // a throw leaves through the guard
        n->threadId = self;
        n->next = readers_;
        readers_ = n;
        return;
      }
      ++waiters_;
    }
    semaphore_.wait();
  }
}

void ReadWriteLock::unlockShared() {
  DWORD self = GetCurrentThreadId();
  CriticalSectionLock guard(cs_);
  for (ReaderNode** link = &readers_; *link; link = &(*link)->next) {
    ReaderNode* n = *link;
    if (n->threadId != self) continue;
    *link = n->next;
    n->next = spare_;
    spare_ = n;
    wakeAll();
    return;
  }
}

void ReadWriteLock::lock() {
  DWORD self = GetCurrentThreadId();
  for (;;) {
    {
      CriticalSectionLock guard(cs_);
      if (owner_ == self) {
        ++depth_;
        return;
      }
      if (owner_ == 0) {
        bool onlyMine = true;
        for (ReaderNode* n = readers_; n; n = n->next)
          if (n->threadId != self) {
            onlyMine = false;
            break;
          }
        if (onlyMine) {
          owner_ = self;
          depth_ = 1;
          return;
        }
      }
      ++waiters_;
    }
    semaphore_.wait();
  }
}

void ReadWriteLock::unlock() {
  if (--depth_ > 0) return;
  CriticalSectionLock guard(cs_);
  owner_ = 0;
  wakeAll();
}

}  // namespace Common
