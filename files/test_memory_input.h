// A random-access input file held in memory, for tests of the readers above
// the file library. Reads that would reach `fail_from` fail, as a damaged
// medium would.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "files/file_object.h"

namespace fs_test {

class memory_input final : public ri_file {
 public:
  explicit memory_input(std::string bytes) : data_(std::move(bytes)) {}
  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    if (pos_ + length > fail_from) {
      raise(KV_SITE, fs_error::read);
      return;
    }
    const std::uint64_t left = pos_ < data_.size() ? data_.size() - pos_ : 0;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, left));
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    count = n;
  }
  std::int64_t seek_set(std::int64_t offset) override {
    return static_cast<std::int64_t>(pos_ = static_cast<std::uint64_t>(offset));
  }
  std::int64_t seek_cur(std::int64_t d) override {
    return static_cast<std::int64_t>(pos_ += static_cast<std::uint64_t>(d));
  }
  std::int64_t seek_end(std::int64_t d) override {
    return static_cast<std::int64_t>(pos_ = data_.size() + static_cast<std::uint64_t>(d));
  }

  std::uint64_t fail_from = UINT64_MAX;

 private:
  std::string data_;
  std::uint64_t pos_ = 0;
};

}  // namespace fs_test
