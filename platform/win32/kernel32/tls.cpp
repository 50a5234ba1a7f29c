#include "platform/win32/kernel32/tls.h"

#include <atomic>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/win32/layer/threadstate.h"

namespace win32::detail {
namespace {

constexpr DWORD kSlots = 1088;  // as many as Windows offers

struct SlotArray {
  std::atomic<void*> value[kSlots] = {};
};

struct Registry {
  std::mutex lock;
  bool used[kSlots] = {};
  TlsExitCallback callback[kSlots] = {};
  std::unordered_set<SlotArray*> threads;  // every live thread's slots, so TlsFree can clear them
};

Registry& registry() {
  static auto* r = new Registry;  // never destroyed: threads may end during exit
  return *r;
}

constinit thread_local SlotArray* t_slots KV_FAST_TLS = nullptr;

SlotArray* own_slots() {
  if (!t_slots) {
    ensure_thread_state();
    auto* a = new SlotArray;
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.threads.insert(a);
    t_slots = a;
  }
  return t_slots;
}

}  // namespace

void tls_thread_exit() {
  SlotArray* slots = t_slots;
  if (!slots) return;
  // A callback may store new values; a few rounds catch those, as POSIX does.
  for (int round = 0; round < 4; ++round) {
    std::vector<std::pair<DWORD, TlsExitCallback>> hooks;
    {
      Registry& r = registry();
      std::lock_guard<std::mutex> g(r.lock);
      for (DWORD i = 0; i < kSlots; ++i)
        if (r.used[i] && r.callback[i]) hooks.emplace_back(i, r.callback[i]);
    }
    bool ran = false;
    for (auto [index, callback] : hooks) {
      void* v = slots->value[index].exchange(nullptr, std::memory_order_relaxed);
      if (!v) continue;
      ran = true;
      try {
        callback(v);
      } catch (const ThreadExit&) {
      }
    }
    if (!ran) break;
  }
}

void tls_release_thread() {
  SlotArray* slots = t_slots;
  if (!slots) return;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.threads.erase(slots);
  }
  t_slots = nullptr;
  delete slots;
}

}  // namespace win32::detail

namespace win32 {

bool tls_set_exit_callback(DWORD index, TlsExitCallback callback) {
  auto& r = detail::registry();
  std::lock_guard<std::mutex> g(r.lock);
  if (index >= detail::kSlots || !r.used[index]) return false;
  r.callback[index] = callback;
  return true;
}

}  // namespace win32

using win32::detail::kSlots;

DWORD TlsAlloc() {
  auto& r = win32::detail::registry();
  std::lock_guard<std::mutex> g(r.lock);
  for (DWORD i = 0; i < kSlots; ++i) {
    if (!r.used[i]) {
      r.used[i] = true;
      r.callback[i] = nullptr;
      // A slot comes back empty in every thread.
      for (auto* a : r.threads) a->value[i].store(nullptr, std::memory_order_relaxed);
      return i;
    }
  }
  SetLastError(ERROR_NO_MORE_ITEMS);
  return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD dwTlsIndex) {
  auto& r = win32::detail::registry();
  std::lock_guard<std::mutex> g(r.lock);
  if (dwTlsIndex >= kSlots || !r.used[dwTlsIndex]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  r.used[dwTlsIndex] = false;
  r.callback[dwTlsIndex] = nullptr;
  for (auto* a : r.threads) a->value[dwTlsIndex].store(nullptr, std::memory_order_relaxed);
  return TRUE;
}

LPVOID TlsGetValue(DWORD dwTlsIndex) {
  if (dwTlsIndex >= kSlots) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  auto* slots = win32::detail::t_slots;
  return slots ? slots->value[dwTlsIndex].load(std::memory_order_relaxed) : nullptr;
}

BOOL TlsSetValue(DWORD dwTlsIndex, LPVOID lpTlsValue) {
  if (dwTlsIndex >= kSlots) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!lpTlsValue && !win32::detail::t_slots) return TRUE;
  win32::detail::own_slots()->value[dwTlsIndex].store(lpTlsValue, std::memory_order_relaxed);
  return TRUE;
}
