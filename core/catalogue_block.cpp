#include "core/catalogue_block.h"

#include <atomic>
#include <cstdint>

namespace Common {
namespace {
// Relaxed atomics: written once before other threads exist, but tests may move
// the block, and a torn read must never widen the range.
constinit std::atomic<std::uintptr_t> blockBegin{0};
constinit std::atomic<std::uintptr_t> blockEnd{0};
}  // namespace

bool isCatalogueText(const void* p) {
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  const auto begin = blockBegin.load(std::memory_order_acquire);
  const auto end = blockEnd.load(std::memory_order_acquire);
  return begin != 0 && a >= begin && a < end;
}

void setCatalogueBlock(const void* begin, std::size_t bytes) {
  const auto b = reinterpret_cast<std::uintptr_t>(begin);
  // Close the range first so no reader sees the new start with the old end.
  blockEnd.store(0, std::memory_order_release);
  blockBegin.store(b, std::memory_order_release);
  blockEnd.store(b ? b + bytes : 0, std::memory_order_release);
}

}  // namespace Common
