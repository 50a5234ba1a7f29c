// A file on disk as a random-access input file of the file library, over a
// standard stream: for the tools and benchmarks, which run without the Win32
// file layer.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include "files/file_object.h"

namespace kvtool {

// A file on disk as a random-access input file for the file library.
class stream_file : public ri_file {
 public:
  explicit stream_file(const std::string& path) : in_(path, std::ios::binary) {}
  bool is_open() const { return in_.is_open(); }
  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    in_.read(static_cast<char*>(buffer), length);
    count = static_cast<std::uint32_t>(in_.gcount());
    if (in_.bad()) raise(KV_SITE, fs_error::read);
    in_.clear();
  }
  std::int64_t seek_set(std::int64_t offset) override { return seek(offset, std::ios::beg); }
  std::int64_t seek_cur(std::int64_t distance) override { return seek(distance, std::ios::cur); }
  std::int64_t seek_end(std::int64_t distance) override { return seek(distance, std::ios::end); }

 private:
  std::int64_t seek(std::int64_t d, std::ios::seekdir from) {
    in_.clear();
    in_.seekg(d, from);
    const std::int64_t at = in_.fail() ? -1 : static_cast<std::int64_t>(in_.tellg());
    if (at < 0) {
      in_.clear();
      raise(KV_SITE, fs_error::seek);
      return 0;
    }
    return at;
  }
  std::ifstream in_;
};

}  // namespace kvtool
