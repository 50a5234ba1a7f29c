// A small ZIP writer for the archive tool and the tests: stored and deflated
// members with CRC-32, no ZIP64, no encryption.
//
// Offsets in the written headers are relative to the archive's first byte by
// default, so an archive's bytes are the same whether it stands alone or is
// appended to a program (the reader derives where the archive starts from its
// end record). Pass the length of the data that will precede the archive as
// `offset_base` to write absolute offsets instead; the reader accepts both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zip_writer_limits {
constexpr std::uint64_t max_entries = 0xFFFF;
constexpr std::uint64_t max_size = 0xFFFFFFFFu;
}  // namespace zip_writer_limits

class zip_writer {
 public:
  // `automatic` deflates and keeps the member stored when that is not smaller.
  enum class method { stored, deflate, automatic };

  explicit zip_writer(std::ostream& out, std::uint64_t offset_base = 0) : out_(out), base_(offset_base) {}

  // Member names are written as given: bytes, '/' separated, no leading '/'.
  bool add(std::string_view name, const void* data, std::size_t size, method how = method::deflate);
  bool add(std::string_view name, std::string_view data, method how = method::deflate) {
    return add(name, data.data(), data.size(), how);
  }
  // Writes the central directory and the end record; nothing may be added after.
  bool finish(std::string_view comment = {});

  // Why the last call failed.
  const std::string& error() const { return error_; }
  std::uint64_t bytes_written() const { return written_; }

 private:
  struct entry {
    std::string name;
    std::uint16_t method;
    std::uint32_t crc;
    std::uint32_t compressed;
    std::uint32_t size;
    std::uint64_t offset;
  };
  bool put(const void* p, std::size_t n);
  bool fail(std::string why);

  std::ostream& out_;
  std::uint64_t base_;
  std::uint64_t written_ = 0;
  std::vector<entry> entries_;
  bool finished_ = false;
  std::string error_;
};
