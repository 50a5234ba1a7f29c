#include "files/memory_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace Common {
namespace {

class MemoryFileImpl final : public MemoryFile {
 public:
  unsigned char* data() override { return contents_.empty() ? nullptr : contents_.data(); }

  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad() || length == 0 || position_ >= 0x100000000ull || position_ >= contents_.size()) return;
    const std::uint64_t n = std::min<std::uint64_t>(length, contents_.size() - position_);
    std::memcpy(buffer, contents_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    count = static_cast<std::uint32_t>(n);
  }

  // Writing at or beyond the limit is a short write (count 0), which
  // write_exact turns into "disk full".
  void write(const void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad() || length == 0 || position_ >= memoryFileLimit) return;
    const std::uint64_t m = std::min<std::uint64_t>(length, memoryFileLimit - position_);
    const std::uint64_t end = position_ + m;
    try {
      if (contents_.size() < end) grow(static_cast<std::size_t>(end));
    } catch (const std::bad_alloc&) {
      raise(KV_SITE, fs_error::out_of_memory);
      return;
    }
    std::memcpy(contents_.data() + position_, buffer, static_cast<std::size_t>(m));
    position_ = end;
    count = static_cast<std::uint32_t>(m);
  }

  // The position stays where it was.
  void set_size(std::uint64_t size) override {
    if (Bad() || size == contents_.size()) return;
    if (size > memoryFileLimit) {
      raise(KV_SITE, fs_error::write);
      return;
    }
    try {
      contents_.resize(static_cast<std::size_t>(size));
      if (contents_.capacity() > 2 * contents_.size() + 4096) contents_.shrink_to_fit();
    } catch (const std::bad_alloc&) {
      raise(KV_SITE, fs_error::out_of_memory);
    }
  }

  // Seeks never fail and ignore the sticky error; a distance that reaches
  // below 0 wraps around to a huge position, at which reads give nothing and
  // writes are refused.
  std::int64_t seek_set(std::int64_t offset) override { return at(static_cast<std::uint64_t>(offset)); }
  std::int64_t seek_cur(std::int64_t distance) override {
    return at(position_ + static_cast<std::uint64_t>(distance));
  }
  std::int64_t seek_end(std::int64_t distance) override {
    return at(contents_.size() + static_cast<std::uint64_t>(distance));
  }
  std::int64_t rewind() override { return seek_set(0); }
  std::uint64_t size() override { return contents_.size(); }

 private:
  std::int64_t at(std::uint64_t position) {
    position_ = position;
    return static_cast<std::int64_t>(position);
  }

  // Zero-fills up to `end`; doubling keeps a series of small writes linear,
  // but never reserves past the limit.
  void grow(std::size_t end) {
    if (end > contents_.capacity()) {
      std::size_t want = std::max<std::size_t>(end, contents_.capacity() * 2);
      want = std::min<std::size_t>(want, static_cast<std::size_t>(memoryFileLimit));
      contents_.reserve(std::max(want, end));
    }
    contents_.resize(end);
  }

  std::vector<unsigned char> contents_;
  std::uint64_t position_ = 0;
};

}  // namespace

MemoryFile* CreateMemoryFile() { return new (std::nothrow) MemoryFileImpl; }

}  // namespace Common
