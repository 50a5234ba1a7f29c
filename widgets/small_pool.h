// Per-thread free lists for the small objects a list makes per row (view
// items, their cells and text parts, browser item clones). Tens of thousands
// of them come and go together; reusing freed blocks of the same size keeps
// the allocator from merging and splitting chunks on every row.
//
// A block freed on another thread joins that thread's lists; each thread
// hands its blocks back to the system when it ends. Under AddressSanitizer
// the pool steps aside, so freed objects stay poisoned.
#pragma once

#include <cstddef>

namespace widgets {

void* poolAllocate(std::size_t size);
void poolFree(void* block, std::size_t size) noexcept;

// Gives a class (and every class derived from it) the pool's operators.
// The sized delete receives the size of the object really being deleted,
// as long as the class has a virtual destructor.
#define KV_SMALL_POOL_OPERATORS                                                                     \
  static void* operator new(std::size_t size) { return ::widgets::poolAllocate(size); }             \
  static void operator delete(void* block, std::size_t size) noexcept { ::widgets::poolFree(block, size); }

// For containers whose storage is small and made per row (an item's cells).
template <class T>
struct PoolAllocator {
  using value_type = T;
  PoolAllocator() = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(poolAllocate(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { poolFree(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const PoolAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace widgets
