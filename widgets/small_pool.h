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
#include <cstdint>

namespace widgets {

void* poolAllocate(std::size_t size);
void poolFree(void* block, std::size_t size) noexcept;

// Gives a class (and every class derived from it) the pool's operators.
// The sized delete receives the size of the object really being deleted,
// as long as the class has a virtual destructor.
#define KV_SMALL_POOL_OPERATORS                                                                     \
  static void* operator new(std::size_t size) { return ::widgets::poolAllocate(size); }             \
  static void operator delete(void* block, std::size_t size) noexcept { ::widgets::poolFree(block, size); }

// A text kept in the pool: the cells of tens of thousands of rows hold their
// texts without a heap block each (and without the allocator merging freed
// ones when the rows go). Short texts, as most names and kinds are, lie in
// the object itself: no block at all, and no second place to fetch.
class PoolText {
 public:
  static constexpr std::size_t kInline = 12;

  PoolText() = default;
  PoolText(const char16_t* s, std::size_t n) { assign(s, n); }
  PoolText(const PoolText& o) { assign(o.text(), o.size_); }
  PoolText(PoolText&& o) noexcept { take(o); }
  PoolText& operator=(const PoolText& o) {
    if (this != &o) assign(o.text(), o.size_);
    return *this;
  }
  PoolText& operator=(PoolText&& o) noexcept {
    if (this != &o) {
      release();
      take(o);
    }
    return *this;
  }
  ~PoolText() { release(); }
  // `s` may lie inside this text.
  void assign(const char16_t* s, std::size_t n) {
    const bool wasInline = size_ <= kInline;
    char16_t* old = wasInline ? nullptr : heap_;
    const std::size_t oldSize = size_;
    char16_t* to;
    if (n <= kInline)
      to = inline_;  // a part of an inline text starts at or after it: a forward copy is safe
    else if (n == oldSize)
      to = old;
    else
      to = static_cast<char16_t*>(poolAllocate(n * sizeof(char16_t)));
    for (std::size_t i = 0; i < n; ++i) to[i] = s[i];
    if (old && to != old) poolFree(old, oldSize * sizeof(char16_t));
    if (n > kInline) heap_ = to;
    size_ = static_cast<std::uint32_t>(n);
  }
  void clear() { release(); }
  bool equals(const char16_t* s, std::size_t n) const {
    if (n != size_) return false;
    const char16_t* d = text();
    for (std::size_t i = 0; i < n; ++i)
      if (d[i] != s[i]) return false;
    return true;
  }
  const char16_t* text() const { return size_ == 0 ? u"" : size_ <= kInline ? inline_ : heap_; }
  int length() const { return static_cast<int>(size_); }
  bool empty() const { return size_ == 0; }

 private:
  void release() {
    if (size_ > kInline) poolFree(heap_, size_ * sizeof(char16_t));
    size_ = 0;
  }
  void take(PoolText& o) {
    size_ = o.size_;
    if (size_ > kInline)
      heap_ = o.heap_;
    else
      for (std::size_t i = 0; i < size_; ++i) inline_[i] = o.inline_[i];
    o.size_ = 0;
  }
  std::uint32_t size_ = 0;
  union {
    char16_t* heap_;
    char16_t inline_[kInline];
  };
};

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
