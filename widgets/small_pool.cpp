#include "widgets/small_pool.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KV_POOL_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_POOL_OFF 1
#endif
#endif

namespace widgets {

#ifndef KV_POOL_OFF
namespace {

constexpr std::size_t kGrain = 16;
constexpr std::size_t kClasses = 16;  // blocks up to 256 bytes
constexpr std::size_t kKeep = 1 << 17;  // per class; beyond that blocks go back

// The free blocks of a class are kept as an array of pointers, not linked
// through the blocks: taking one reads the array in order instead of a cold
// block whose link names the next one, so tens of thousands of allocations
// in a row do not wait on one cache miss after another.
struct Stack {
  void** items;
  std::size_t count;
  std::size_t capacity;
};

// Plain data, so it stays usable after the thread's cleaner has run.
struct Lists {
  Stack free[kClasses];
  bool dead;
};
thread_local Lists lists;

struct Cleaner {
  Cleaner() = default;
  Cleaner(const Cleaner&) = delete;
  Cleaner& operator=(const Cleaner&) = delete;
  ~Cleaner() {
    for (Stack& s : lists.free) {
      for (std::size_t i = 0; i < s.count; ++i) ::operator delete(s.items[i]);
      std::free(s.items);
      s = Stack{nullptr, 0, 0};
    }
    lists.dead = true;
  }
};
thread_local Cleaner cleaner;

std::size_t classOf(std::size_t size) { return (size + kGrain - 1) / kGrain - 1; }

bool grow(Stack& s) {
  const std::size_t capacity = s.capacity ? s.capacity * 2 : 256;
  void* more = std::realloc(s.items, capacity * sizeof(void*));
  if (!more) return false;
  s.items = static_cast<void**>(more);
  s.capacity = capacity;
  return true;
}

}  // namespace

void* poolAllocate(std::size_t size) {
  if (size == 0) size = 1;
  const std::size_t c = classOf(size);
  if (c >= kClasses) return ::operator new(size);
  // Whole classes always: a block may be kept and handed out again for any
  // size of its class.
  if (lists.dead) return ::operator new((c + 1) * kGrain);
  (void)&cleaner;  // the thread's blocks go back when it ends
  Stack& s = lists.free[c];
  if (s.count) return s.items[--s.count];
  return ::operator new((c + 1) * kGrain);
}

void poolFree(void* block, std::size_t size) noexcept {
  if (!block) return;
  if (size == 0) size = 1;
  const std::size_t c = classOf(size);
  if (c >= kClasses || lists.dead) {
    ::operator delete(block);
    return;
  }
  Stack& s = lists.free[c];
  if (s.count >= kKeep || (s.count == s.capacity && !grow(s))) {
    ::operator delete(block);
    return;
  }
  s.items[s.count++] = block;
}

#else

void* poolAllocate(std::size_t size) { return ::operator new(size); }
void poolFree(void* block, std::size_t) noexcept { ::operator delete(block); }

#endif

}  // namespace widgets
