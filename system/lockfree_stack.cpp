#include "system/lockfree_stack.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace Common {
namespace {

constexpr std::uint64_t kCountMask = 0xFFFF;
constexpr std::uint64_t kPushStep = 0x10001;  // one more tag and one more entry

void** linkOf(const void* node) { return static_cast<void**>(const_cast<void*>(node)); }

void* loadLink(const void* node) { return __atomic_load_n(linkOf(node), __ATOMIC_RELAXED); }
void storeLink(void* node, void* next) { __atomic_store_n(linkOf(node), next, __ATOMIC_RELAXED); }

// The halves are read separately; a torn pair only makes the following
// compare-exchange fail and the attempt start over.
LockFreeStack::Snapshot load(const LockFreeStack* head) {
  LockFreeStack::Snapshot s;
  s.word = __atomic_load_n(&head->word, __ATOMIC_ACQUIRE);
  s.top = __atomic_load_n(&head->top, __ATOMIC_ACQUIRE);
  return s;
}

#if defined(__GCC_HAVE_SYNC_COMPARE_AND_SWAP_16)
using Pair = unsigned __int128;

Pair pack(const LockFreeStack::Snapshot& s) {
  return (static_cast<Pair>(s.word) << 64) | static_cast<Pair>(reinterpret_cast<std::uintptr_t>(s.top));
}

bool exchange(LockFreeStack* head, const LockFreeStack::Snapshot& expected, const LockFreeStack::Snapshot& desired) {
  static_assert(sizeof(void*) == 8 && sizeof(LockFreeStack) == 16, "head must be one 16-byte pair");
  Pair* p = reinterpret_cast<Pair*>(head);
  return __sync_bool_compare_and_swap(p, pack(expected), pack(desired));
}
#else
// No double-width compare-exchange on this target: a tiny spin lock per head
// stripe keeps the same behaviour.
std::atomic_flag stripes[64];

bool exchange(LockFreeStack* head, const LockFreeStack::Snapshot& expected, const LockFreeStack::Snapshot& desired) {
  std::atomic_flag& f = stripes[(reinterpret_cast<std::uintptr_t>(head) >> 4) & 63];
  while (f.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  bool ok = head->top == expected.top && head->word == expected.word;
  if (ok) {
    __atomic_store_n(&head->word, desired.word, __ATOMIC_RELEASE);
    __atomic_store_n(&head->top, desired.top, __ATOMIC_RELEASE);
  }
  f.clear(std::memory_order_release);
  return ok;
}
#endif

}  // namespace

void LockFreeStack::init(LockFreeStack* head) {
  __atomic_store_n(&head->top, nullptr, __ATOMIC_RELAXED);
  __atomic_store_n(&head->word, 0, __ATOMIC_RELEASE);
}

unsigned LockFreeStack::count(const LockFreeStack* head) {
  return static_cast<unsigned>(__atomic_load_n(&head->word, __ATOMIC_ACQUIRE) & kCountMask);
}

std::uint64_t LockFreeStack::tag(const LockFreeStack* head) {
  return __atomic_load_n(&head->word, __ATOMIC_ACQUIRE) >> 16;
}

void* LockFreeStack::next(const void* node) { return loadLink(node); }

LockFreeStack::Snapshot LockFreeStack::push(LockFreeStack* head, void* node) {
  for (;;) {
    Snapshot old = load(head);
    storeLink(node, old.top);
    if (exchange(head, old, Snapshot{node, old.word + kPushStep})) return old;
  }
}

void* LockFreeStack::pop(LockFreeStack* head) {
  for (;;) {
    Snapshot old = load(head);
    if (!old.top) return nullptr;
    void* link = loadLink(old.top);
    if (exchange(head, old, Snapshot{link, old.word - 1})) return old.top;
  }
}

void* LockFreeStack::popAll(LockFreeStack* head) {
  for (;;) {
    Snapshot old = load(head);
    if (!old.top) return nullptr;
    if (exchange(head, old, Snapshot{nullptr, old.word & ~kCountMask})) return old.top;
  }
}

}  // namespace Common
