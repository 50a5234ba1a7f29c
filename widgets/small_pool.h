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

// A text kept in the pool: the cells of tens of thousands of rows hold their
// texts without a heap block each (and without the allocator merging freed
// ones when the rows go).
class PoolText {
 public:
  PoolText() = default;
  PoolText(const char16_t* s, std::size_t n) { assign(s, n); }
  PoolText(const PoolText& o) { assign(o.data_, o.size_); }
  PoolText(PoolText&& o) noexcept : data_(o.data_), size_(o.size_) { o.data_ = nullptr, o.size_ = 0; }
  PoolText& operator=(const PoolText& o) {
    if (this != &o) assign(o.data_, o.size_);
    return *this;
  }
  PoolText& operator=(PoolText&& o) noexcept {
    if (this != &o) {
      release();
      data_ = o.data_, size_ = o.size_;
      o.data_ = nullptr, o.size_ = 0;
    }
    return *this;
  }
  ~PoolText() { release(); }

  // `s` may lie inside this text.
  void assign(const char16_t* s, std::size_t n) {
    char16_t* to = data_;
    if (n != size_) to = n ? static_cast<char16_t*>(poolAllocate(n * sizeof(char16_t))) : nullptr;
    for (std::size_t i = 0; i < n; ++i) to[i] = s[i];
    if (to != data_) release();
    data_ = to, size_ = n;
  }
  void clear() { release(); }
  bool equals(const char16_t* s, std::size_t n) const {
    if (n != size_) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (data_[i] != s[i]) return false;
    return true;
  }
  const char16_t* text() const { return data_ ? data_ : u""; }
  int length() const { return static_cast<int>(size_); }
  bool empty() const { return size_ == 0; }

 private:
  void release() {
    if (data_) poolFree(data_, size_ * sizeof(char16_t));
    data_ = nullptr, size_ = 0;
  }
  char16_t* data_ = nullptr;
  std::size_t size_ = 0;
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
