#include "system/tls.h"

#include "system/locks.h"

namespace Common {
namespace {

// The one (slot, cleanup) pair the exit hook serves.
RecursiveLock hookLock;
DWORD hookSlot = TLS_OUT_OF_INDEXES;
std::atomic<TlsCleanup> hookCleanup{nullptr};

}  // namespace

void threadExitHook(void* value) {
  if (TlsCleanup cleanup = hookCleanup.load()) cleanup(value);
}

DWORD tlsAlloc(TlsCleanup cleanup) {
  DWORD slot = TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) return static_cast<DWORD>(-1);
  if (cleanup) {
    RecursiveLockGuard guard(hookLock);
    if (hookSlot != TLS_OUT_OF_INDEXES) win32::tls_set_exit_callback(hookSlot, nullptr);
    hookSlot = slot;
    hookCleanup.store(cleanup);
    win32::tls_set_exit_callback(slot, &threadExitHook);
  }
  return slot;
}

bool tlsFree(DWORD slot) {
  {
    RecursiveLockGuard guard(hookLock);
    if (slot == hookSlot) {
      hookSlot = TLS_OUT_OF_INDEXES;
      hookCleanup.store(nullptr);
    }
  }
  return TlsFree(slot) != FALSE;
}

void* tlsGet(DWORD slot) { return TlsGetValue(slot); }

bool tlsSet(DWORD slot, void* value) { return TlsSetValue(slot, value) != FALSE; }

ThreadLocalVariable::ThreadLocalVariable(std::uintptr_t processWide)
    : processWide_(processWide), slot_(tlsAlloc(nullptr)) {}

ThreadLocalVariable::~ThreadLocalVariable() {
  if (slot_ != static_cast<DWORD>(-1)) tlsFree(slot_);
}

std::uintptr_t ThreadLocalVariable::get() const {
  std::uintptr_t v = reinterpret_cast<std::uintptr_t>(tlsGet(slot_));
  return v ? ~v : processWide_.load(std::memory_order_acquire);
}

std::uintptr_t ThreadLocalVariable::set(std::uintptr_t value, bool processWide) {
  if (processWide) return processWide_.exchange(value, std::memory_order_acq_rel);
  std::uintptr_t old = reinterpret_cast<std::uintptr_t>(tlsGet(slot_));
  tlsSet(slot_, reinterpret_cast<void*>(~value));
  return ~old;
}

}  // namespace Common
