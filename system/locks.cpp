#include "system/locks.h"

#include <new>

namespace Common {
namespace {

HANDLE const kDiscarding = INVALID_HANDLE_VALUE;

// Spinning before sleeping, in pauses of about 20 ns. Sleeping and waking on
// the event costs far more than a short hold, so a lone waiter spins for a
// while; the gaps between its looks double, so it seldom pulls the line from
// the holder. Once others sleep in the lock a newcomer joins them after the
// short spin, rather than crowding the line.
constexpr int kSpinBudget = 1000;
constexpr int kShortSpin = 30;
constexpr int kMaxGap = 128;

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

namespace {

constexpr std::uint64_t kOne = 1;
// Set while a wake-up is on its way to a sleeper: further unlocks need not
// signal until that sleeper has run.
constexpr std::uint64_t kWakePending = 0x80000000u;

inline std::uint32_t countOf(std::uint64_t state) { return static_cast<std::uint32_t>(state) & 0x7FFFFFFFu; }
inline DWORD ownerOf(std::uint64_t state) { return static_cast<DWORD>(state >> 32); }
inline std::uint64_t ownerBits(DWORD id) { return static_cast<std::uint64_t>(id) << 32; }

}  // namespace

// The current event, made and installed on first need. A thread that finds it
// being discarded waits until that has settled. Only a thread counted in the
// lock count takes it, and it stays counted while it uses it.
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

// Once retiring, the event is closed whenever nobody beyond `keep` counted
// levels is in the lock: every user of the event is counted while it uses it,
// and one counted in later finds the event gone and makes a new one. A signal
// left in the closed event goes with it, and so does its pending mark.
void RecursiveLock::dropEventIfIdle(std::uint32_t keep) {
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
  if (countOf(__atomic_load_n(&state_, __ATOMIC_SEQ_CST)) > keep) {
    __atomic_store_n(&event_, old, __ATOMIC_SEQ_CST);
  } else {
    __atomic_fetch_and(&state_, ~kWakePending, __ATOMIC_SEQ_CST);
    __atomic_store_n(&event_, nullptr, __ATOMIC_SEQ_CST);
    if (old) CloseHandle(old);
  }
}

// The owner's levels count once; recursion is the owner's own business.
void RecursiveLock::lock() {
  DWORD self = GetCurrentThreadId();
  std::uint64_t s = __atomic_load_n(&state_, __ATOMIC_RELAXED);
  if (ownerOf(s) == self) {
    ++depth_;  // only this thread puts its id there
  } else if (s == 0 && __atomic_compare_exchange_n(&state_, &s, ownerBits(self) | kOne, false, __ATOMIC_ACQUIRE,
                                                   __ATOMIC_RELAXED)) {
    depth_ = 1;
  } else {
    lockContended(self);
  }
  if (__atomic_load_n(&retiring_, __ATOMIC_RELAXED)) dropEventIfIdle(1);
}

// A spin catches a lock that is held briefly; a thread that takes the lock
// while spinning counts itself in with the same exchange. Otherwise it
// counts itself in and sleeps on the event, which an unlock signals while others
// are counted and no wake-up is on its way already. The woken thread holds that
// mark: it gives it up when it takes the lock or before it sleeps again, so one
// unlock after that signals anew. A thread passing by as the lock comes free may
// take it ahead of a sleeper.
void RecursiveLock::lockContended(DWORD self) {
  std::uint64_t s = __atomic_load_n(&state_, __ATOMIC_RELAXED);
  int gap = 1;
  for (int spun = 0; spun < kSpinBudget;) {
    if (ownerOf(s) == 0 &&
        __atomic_compare_exchange_n(&state_, &s, (s + kOne) | ownerBits(self), true, __ATOMIC_ACQUIRE,
                                    __ATOMIC_RELAXED)) {
      depth_ = 1;
      return;
    }
    if (countOf(s) > 1 && spun >= kShortSpin) break;  // others already sleep here
    for (int i = 0; i < gap; ++i) cpuRelax();
    spun += gap;
    if (gap < kMaxGap) gap *= 2;
    s = __atomic_load_n(&state_, __ATOMIC_RELAXED);
  }
  s = __atomic_add_fetch(&state_, kOne, __ATOMIC_SEQ_CST);
  bool woken = false;
  for (;;) {
    while (ownerOf(s) == 0) {
      std::uint64_t taken = s | ownerBits(self);
      if (woken) taken &= ~kWakePending;
      if (__atomic_compare_exchange_n(&state_, &s, taken, true, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
        depth_ = 1;
        return;
      }
    }
    if (woken) {
      woken = false;
      s = __atomic_and_fetch(&state_, ~kWakePending, __ATOMIC_SEQ_CST);
      if (ownerOf(s) == 0) continue;
    }
    WaitForSingleObject(takeEvent(), INFINITE);
    woken = true;
    s = __atomic_load_n(&state_, __ATOMIC_SEQ_CST);
  }
}

void RecursiveLock::unlock() {
  if (--depth_ != 0) return;
  bool retiring = __atomic_load_n(&retiring_, __ATOMIC_RELAXED);
  // Clears the owner (this thread's id, as the word holds it) and counts this
  // thread out in one step.
  std::uint64_t mine = __atomic_load_n(&state_, __ATOMIC_RELAXED) & ~std::uint64_t(0xFFFFFFFFu);
  std::uint64_t before = __atomic_fetch_sub(&state_, mine | kOne, __ATOMIC_RELEASE);
  if (countOf(before) > 1) {
    if (!(before & kWakePending)) wake(retiring);  // else a sleeper is already on its way
  } else if (retiring) {
    dropEventIfIdle(0);
  }
}

// Others are counted: wake one sleeper, unless a wake-up is already on its way.
// This thread counts itself in again while it uses the event, so the event
// cannot be discarded under it.
void RecursiveLock::wake(bool retiring) {
  __atomic_add_fetch(&state_, kOne, __ATOMIC_SEQ_CST);
  HANDLE e = takeEvent();
  if (!(__atomic_fetch_or(&state_, kWakePending, __ATOMIC_SEQ_CST) & kWakePending)) SetEvent(e);
  std::uint64_t after = __atomic_sub_fetch(&state_, kOne, __ATOMIC_SEQ_CST);
  if (countOf(after) == 0 && (retiring || __atomic_load_n(&retiring_, __ATOMIC_RELAXED))) dropEventIfIdle(0);
}

RecursiveLock::~RecursiveLock() {
  lock();
  __atomic_store_n(&retiring_, 1, __ATOMIC_RELAXED);
  dropEventIfIdle(1);
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
