// An index from hash values to small values (pointers, positions), several
// values per hash allowed, in one flat array with open addressing: no node
// per entry to allocate, free or chase. Lists of tens of thousands of rows
// file every row in one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace widgets {

template <class V>
class HashIndex {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  void clear() {
    slots_.clear();
    size_ = used_ = 0;
  }

  // Room for n entries without growing.
  void reserve(std::size_t n) {
    if (wanted(n) > slots_.size()) rehash(wanted(n));
  }

  void insert(std::size_t hash, V value) {
    if (wanted(used_ + 1) > slots_.size()) rehash(wanted(size_ + 1) * 2);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home(hash);; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.state != kFull) {
        if (s.state == kEmpty) ++used_;
        s = Slot{hash, value, kFull};
        ++size_;
        return;
      }
    }
  }

  // Removes one entry holding this value; false when there is none.
  bool erase(std::size_t hash, V value) {
    if (!size_) return false;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home(hash);; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.state == kEmpty) return false;
      if (s.state == kFull && s.hash == hash && s.value == value) {
        s.state = kGone;
        --size_;
        return true;
      }
    }
  }

  // Calls f(value) for each entry filed under the hash, in no set order,
  // until f answers false.
  template <class F>
  void find(std::size_t hash, F&& f) const {
    if (!size_) return;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home(hash);; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (s.state == kEmpty) return;
      if (s.state == kFull && s.hash == hash && !f(s.value)) return;
    }
  }

 private:
  enum : std::uint8_t { kEmpty = 0, kFull, kGone };
  struct Slot {
    std::size_t hash;
    V value;
    std::uint8_t state;
  };

  // At most 5/8 of the slots in use (removed ones count until a rehash).
  static std::size_t wanted(std::size_t n) {
    std::size_t cap = 16;
    while (cap * 5 < n * 8) cap *= 2;
    return cap;
  }
  // Fibonacci hashing spreads consecutive numbers (ids) over the table.
  std::size_t home(std::size_t hash) const {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(hash) * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  void rehash(std::size_t capacity) {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(capacity, Slot{0, V{}, kEmpty});
    shift_ = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
    size_ = used_ = 0;
    for (const Slot& s : old)
      if (s.state == kFull) insert(s.hash, s.value);
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;  // entries
  std::size_t used_ = 0;  // entries and removed ones
  unsigned shift_ = 64;
};

}  // namespace widgets
