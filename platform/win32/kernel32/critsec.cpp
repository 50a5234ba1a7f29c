#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "platform/win32/kernel32/sync.h"
#include "platform/win32/layer/threadstate.h"

// LockCount is the lock word: 0 free, 1 held, 2 held and a thread may sleep on
// it. OwningThread is touched only through atomic_ref, since other threads read
// it to spot recursion; RecursionCount only by the owner.

namespace {

std::atomic_ref<LONG> word(CRITICAL_SECTION* cs) { return std::atomic_ref<LONG>(cs->LockCount); }
std::atomic_ref<HANDLE> owner(CRITICAL_SECTION* cs) { return std::atomic_ref<HANDLE>(cs->OwningThread); }

HANDLE id_handle(DWORD id) { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(id)); }

void futex_wait(LONG* addr, LONG expected) {
  syscall(SYS_futex, addr, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void futex_wake_one(LONG* addr) { syscall(SYS_futex, addr, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0); }

bool multi_cpu() {
  static const bool many = sysconf(_SC_NPROCESSORS_ONLN) > 1;
  return many;
}

void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

void acquire_slow(CRITICAL_SECTION* cs) {
  auto w = word(cs);
  ULONG_PTR spins = multi_cpu() ? (cs->SpinCount & 0x00FFFFFF) : 0;
  for (ULONG_PTR i = 0; i < spins; ++i) {
    cpu_relax();
    LONG c = 0;
    if (w.load(std::memory_order_relaxed) == 0 &&
        w.compare_exchange_weak(c, 1, std::memory_order_acquire, std::memory_order_relaxed))
      return;
  }
  // Mark the word contended before sleeping, so the releaser knows to wake.
  while (w.exchange(2, std::memory_order_acquire) != 0) futex_wait(&cs->LockCount, 2);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { InitializeCriticalSectionAndSpinCount(cs, 0); }

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD dwSpinCount) {
  cs->DebugInfo = nullptr;
  cs->LockCount = 0;
  cs->RecursionCount = 0;
  cs->OwningThread = nullptr;
  cs->LockSemaphore = nullptr;
  cs->SpinCount = dwSpinCount;
  return TRUE;
}

DWORD SetCriticalSectionSpinCount(LPCRITICAL_SECTION cs, DWORD dwSpinCount) {
  DWORD previous = static_cast<DWORD>(cs->SpinCount);
  cs->SpinCount = dwSpinCount;
  return previous;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  HANDLE me = id_handle(win32::detail::current_thread_id());
  if (owner(cs).load(std::memory_order_relaxed) == me) {
    ++cs->RecursionCount;
    return;
  }
  LONG c = 0;
  if (!word(cs).compare_exchange_strong(c, 1, std::memory_order_acquire, std::memory_order_relaxed))
    acquire_slow(cs);
  owner(cs).store(me, std::memory_order_relaxed);
  cs->RecursionCount = 1;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  HANDLE me = id_handle(win32::detail::current_thread_id());
  if (owner(cs).load(std::memory_order_relaxed) == me) {
    ++cs->RecursionCount;
    return TRUE;
  }
  LONG c = 0;
  if (!word(cs).compare_exchange_strong(c, 1, std::memory_order_acquire, std::memory_order_relaxed))
    return FALSE;
  owner(cs).store(me, std::memory_order_relaxed);
  cs->RecursionCount = 1;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (--cs->RecursionCount > 0) return;
  owner(cs).store(nullptr, std::memory_order_relaxed);
  if (word(cs).exchange(0, std::memory_order_release) == 2) futex_wake_one(&cs->LockCount);
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  cs->OwningThread = nullptr;
  cs->RecursionCount = 0;
}
