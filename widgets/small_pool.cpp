#include "widgets/small_pool.h"

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

struct Block {
  Block* next;
};

// Plain data, so it stays usable after the thread's cleaner has run.
struct Lists {
  Block* head[kClasses];
  std::size_t count[kClasses];
  bool dead;
};
thread_local Lists lists;

struct Cleaner {
  Cleaner() = default;
  Cleaner(const Cleaner&) = delete;
  Cleaner& operator=(const Cleaner&) = delete;
  ~Cleaner() {
    for (std::size_t c = 0; c < kClasses; ++c)
      while (Block* b = lists.head[c]) {
        lists.head[c] = b->next;
        ::operator delete(b);
      }
    lists.dead = true;
  }
};
thread_local Cleaner cleaner;

std::size_t classOf(std::size_t size) { return (size + kGrain - 1) / kGrain - 1; }

}  // namespace

void* poolAllocate(std::size_t size) {
  if (size == 0) size = 1;
  const std::size_t c = classOf(size);
  if (c >= kClasses) return ::operator new(size);
  // Whole classes always: a block may be kept and handed out again for any
  // size of its class.
  if (lists.dead) return ::operator new((c + 1) * kGrain);
  (void)&cleaner;  // the thread's blocks go back when it ends
  if (Block* b = lists.head[c]) {
    lists.head[c] = b->next;
    --lists.count[c];
    // Freed blocks lie apart: the next one's link is read on the next call.
    if (b->next) __builtin_prefetch(b->next);
    return b;
  }
  return ::operator new((c + 1) * kGrain);
}

void poolFree(void* block, std::size_t size) noexcept {
  if (!block) return;
  if (size == 0) size = 1;
  const std::size_t c = classOf(size);
  if (c >= kClasses || lists.dead || lists.count[c] >= kKeep) {
    ::operator delete(block);
    return;
  }
  auto* b = static_cast<Block*>(block);
  b->next = lists.head[c];
  lists.head[c] = b;
  ++lists.count[c];
}

#else

void* poolAllocate(std::size_t size) { return ::operator new(size); }
void poolFree(void* block, std::size_t) noexcept { ::operator delete(block); }

#endif

}  // namespace widgets
