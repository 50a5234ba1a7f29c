#include "system/locks.h"

#include <new>

namespace Common {
namespace {

HANDLE const kDiscarding = INVALID_HANDLE_VALUE;

// Spins before a contended thread sleeps; a context switch costs far more.
constexpr int kSpins = 400;

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

// The current event, made and installed on first need. A thread that finds it
// being discarded waits until that has settled. Only a thread that is counted
// in the lock count may take it, and it stays counted while it uses it.
HANDLE RecursiveLock::takeEvent() {
  for (;;) {
    HANDLE e = __atomic_load_n(&event_, __ATOMIC_SEQ_CST);
    while (e == kDiscarding) {
      Sleep(0);
      e = __atomic_load_n(&event_, __ATOMIC_SEQ_CST);
    }
    if (e) return e;
    HANDLE made = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE expected = nullptr;
    if (__atomic_compare_exchange_n(&event_, &expected, made, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
      return made;
    if (made) CloseHandle(made);
    // Someone else installed one (or is discarding it): read again.
  }
}

// Once retiring, the event is closed whenever no thread but `keep` counted ones
// (the owner's own levels) is in the lock: a thread counts itself in before it
// reads the event, so none can still be using it.
void RecursiveLock::dropEventIfIdle(std::int32_t keep) {
  HANDLE old = __atomic_load_n(&event_, __ATOMIC_SEQ_CST);
  for (;;) {
    if (old == kDiscarding) {
      Sleep(0);
      old = __atomic_load_n(&event_, __ATOMIC_SEQ_CST);
      continue;
    }
    if (__atomic_compare_exchange_n(&event_, &old, kDiscarding, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
      break;
  }
  if (__atomic_load_n(&count_, __ATOMIC_SEQ_CST) > keep) {
    __atomic_store_n(&event_, old, __ATOMIC_SEQ_CST);
  } else {
    __atomic_store_n(&event_, nullptr, __ATOMIC_SEQ_CST);
    if (old) CloseHandle(old);
  }
}

bool RecursiveLock::tryOwn(DWORD self) {
  std::uint32_t expected = 0;
  return __atomic_compare_exchange_n(&owner_, &expected, self, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

// A thread counts itself in first. Alone, the lock is its own at once. Otherwise
// it takes the lock when the owner lets go: a short spin catches a lock that is
// held briefly, then it sleeps on the event, which each unlock signals while
// others are counted. A thread that comes by as the lock comes free may take it
// ahead of a sleeper; the sleeper then sleeps again until the next unlock.
void RecursiveLock::lock() {
  DWORD self = GetCurrentThreadId();
  std::int32_t c = __atomic_add_fetch(&count_, 1, __ATOMIC_SEQ_CST);
  // Alone, the lock is free; still take it by compare-exchange, since a thread
  // counted in just after this one may find the owner field clear first.
  if (c == 1 && tryOwn(self)) {
    depth_ = 1;
  } else if (c != 1 && __atomic_load_n(&owner_, __ATOMIC_SEQ_CST) == self) {
    ++depth_;
  } else {
    for (;;) {
      bool owned = false;
      for (int spin = 0; spin < kSpins; ++spin) {
        if (__atomic_load_n(&owner_, __ATOMIC_RELAXED) == 0 && tryOwn(self)) {
          owned = true;
          break;
        }
        cpuRelax();
      }
      if (owned) break;
      WaitForSingleObject(takeEvent(), INFINITE);
      if (tryOwn(self)) break;
    }
    depth_ = 1;
  }
  if (__atomic_load_n(&retiring_, __ATOMIC_RELAXED)) dropEventIfIdle(depth_);
}

void RecursiveLock::unlock() {
  if (--depth_ != 0) {
    __atomic_sub_fetch(&count_, 1, __ATOMIC_SEQ_CST);
    return;
  }
  bool retiring = __atomic_load_n(&retiring_, __ATOMIC_RELAXED);
  __atomic_store_n(&owner_, 0u, __ATOMIC_SEQ_CST);
  // Others counted: wake one sleeper. This thread stays counted while it
  // signals, so the event cannot be discarded under it.
  if (__atomic_load_n(&count_, __ATOMIC_SEQ_CST) > 1) SetEvent(takeEvent());
  if (__atomic_sub_fetch(&count_, 1, __ATOMIC_SEQ_CST) == 0 && retiring) dropEventIfIdle(0);
}

RecursiveLock::~RecursiveLock() {
  lock();
  __atomic_store_n(&retiring_, 1, __ATOMIC_RELAXED);
  dropEventIfIdle(depth_);
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
