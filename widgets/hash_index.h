// An index from hash values to small values (pointers, positions), several
// values per hash allowed, in one flat array with open addressing: no node
// per entry to allocate, free or chase. Lists of tens of thousands of rows
// file every row in one.
//
// A slot keeps 32 bits of the hash beside the value, so most probes that
// meet another entry's slot are answered without looking at that entry; the
// caller's test decides among the entries whose 32 bits match.
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
    grow();
    const std::uint32_t t = tag(hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home(hash);; i = (i + 1) & mask)
      if (slots_[i].tag < kFirstTag) {
        put(slots_[i], t, value);
        return;
      }
  }

  // Inserts the value unless `same` holds for a value already filed under
  // the hash; answers whether it inserted. One walk for both.
  template <class F>
  bool insertUnless(std::size_t hash, V value, F&& same) {
    grow();
    const std::uint32_t t = tag(hash);
    const std::size_t mask = slots_.size() - 1;
    Slot* free = nullptr;
    for (std::size_t i = home(hash);; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.tag == kEmpty) {
        put(free ? *free : s, t, value);
        return true;
      }
      if (s.tag == kGone) {
        if (!free) free = &s;
      } else if (s.tag == t && same(s.value)) {
        return false;
      }
    }
  }

  // Removes one entry holding this value; false when there is none.
  bool erase(std::size_t hash, V value) {
    if (!size_) return false;
    const std::uint32_t t = tag(hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home(hash);; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.tag == kEmpty) return false;
      if (s.tag == t && s.value == value) {
        s.tag = kGone;
        --size_;
        return true;
      }
    }
  }

  // Calls f(value) for each entry filed under the hash (and, rarely, for
  // others that share its 32 bits), in no set order, until f answers false.
  template <class F>
  void find(std::size_t hash, F&& f) const {
    if (!size_) return;
    const std::uint32_t t = tag(hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home(hash);; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (s.tag == kEmpty) return;
      if (s.tag == t && !f(s.value)) return;
    }
  }

  // Brings the slot a look-up of this hash starts at into the cache.
  void prefetch(std::size_t hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[home(hash)]);
  }

 private:
  enum : std::uint32_t { kEmpty = 0, kGone = 1, kFirstTag = 2 };
  struct Slot {
    std::uint32_t tag;
    V value;
  };

  // Fibonacci hashing spreads consecutive numbers (ids) over the table.
  // The tag is the top half of the product, never 0 or 1; a slot's home is
  // the tag's top bits, so a rehash needs no hash.
  static std::uint32_t tag(std::size_t hash) {
    const auto t = static_cast<std::uint32_t>((static_cast<std::uint64_t>(hash) * 0x9E3779B97F4A7C15ull) >> 32);
    return t < kFirstTag ? t + kFirstTag : t;
  }
  std::size_t home(std::size_t hash) const { return homeOf(tag(hash)); }
  std::size_t homeOf(std::uint32_t t) const { return t >> shift_; }
  // At most 5/8 of the slots in use (removed ones count until a rehash).
  static std::size_t wanted(std::size_t n) {
    std::size_t cap = 16;
    while (cap * 5 < n * 8) cap *= 2;
    return cap;
  }
  void grow() {
    if (wanted(used_ + 1) > slots_.size()) rehash(wanted(size_ + 1) * 2);
  }
  void put(Slot& s, std::uint32_t t, V value) {
    if (s.tag == kEmpty) ++used_;
    s.tag = t;
    s.value = value;
    ++size_;
  }
  void rehash(std::size_t capacity) {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(capacity, Slot{kEmpty, V{}});
    shift_ = 32;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
    size_ = used_ = 0;
    const std::size_t mask = capacity - 1;
    for (const Slot& s : old)
      if (s.tag >= kFirstTag)
        for (std::size_t i = homeOf(s.tag);; i = (i + 1) & mask)
          if (slots_[i].tag == kEmpty) {
            put(slots_[i], s.tag, s.value);
            break;
          }
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;  // entries
  std::size_t used_ = 0;  // entries and removed ones
  unsigned shift_ = 32;
};

}  // namespace widgets
