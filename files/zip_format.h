// The byte-level half of the ZIP reader: record layouts, the end-record search,
// the checked central-directory walk, name matching and member decoding. It reads
// through `zip_format::source`, so it needs nothing but random-access bytes; the
// file-object classes in zip_file.h put it behind the directory interfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/error.h"

namespace zip_format {

constexpr std::uint32_t end_signature = 0x06054b50;
constexpr std::uint32_t zip64_end_signature = 0x06064b50;
constexpr std::uint32_t zip64_locator_signature = 0x07064b50;
constexpr std::uint32_t central_signature = 0x02014b50;
constexpr std::uint32_t local_signature = 0x04034b50;
constexpr std::uint32_t end_record_size = 22;
constexpr std::uint32_t zip64_end_record_size = 56;
constexpr std::uint32_t zip64_locator_size = 20;
constexpr std::uint32_t central_entry_size = 46;
constexpr std::uint32_t local_header_size = 30;
constexpr std::uint32_t inflate_buffer_size = 32768;
// Reads shorter than this are served from a block of this size made ahead.
constexpr std::uint32_t read_ahead_size = 65536;
constexpr std::uint16_t zip64_extra_tag = 0x0001;

constexpr std::uint16_t method_stored = 0;
constexpr std::uint16_t method_deflate = 8;
constexpr std::uint16_t flag_encrypted = 0x0001;
constexpr std::uint16_t flag_data_descriptor = 0x0008;
constexpr std::uint16_t flag_strong_encryption = 0x0040;

// Facility-4 codes this reader raises.
constexpr std::uint32_t err_read = 0x40001;
constexpr std::uint32_t err_end = 0x40002;
constexpr std::uint32_t err_memory = 0x40006;
constexpr std::uint32_t err_open = 0x40007;
constexpr std::uint32_t err_corrupted = 0x4000d;
constexpr std::uint32_t err_not_supported = 0x4000e;
constexpr std::uint32_t err_not_found = 0x40011;

inline std::uint16_t get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t get64(const std::uint8_t* p) { return get32(p) | static_cast<std::uint64_t>(get32(p + 4)) << 32; }

// A failure on its way to becoming a sticky error: code and raise site, and the
// underlying error of the archive file when there was one.
struct fault {
  std::uint32_t code = 0;
  std::uint64_t site = 0;
  Common::Error cause;
  fault() = default;
  fault(std::uint32_t c, std::uint64_t s) : code(c), site(s) {}
  fault(std::uint32_t c, std::uint64_t s, Common::Error why) : code(c), site(s), cause(std::move(why)) {}
  explicit operator bool() const { return code != 0; }
};

// Random-access bytes. read_at delivers all n bytes or fails.
class source {
 public:
  virtual ~source() = default;
  virtual fault size(std::uint64_t& out) = 0;
  virtual fault read_at(std::uint64_t pos, void* buffer, std::uint32_t n) = 0;
};

// One central-directory entry as the checked walk found it, with the sizes and
// offset its ZIP64 extra field supplies in place of saturated 32-bit fields.
struct entry_info {
  std::uint64_t at = 0;  // where the entry starts in the directory copy
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint64_t local_offset = 0;
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint16_t name_length = 0;
};

// The end record of an archive: where the record that follows the central
// directory lies (the ZIP64 end record when there is one) and what it says.
struct end_record {
  std::uint64_t position = 0;
  std::uint64_t entries = 0;
  std::uint64_t directory_size = 0;
  std::uint64_t directory_offset = 0;
};

// Position of the end record, searched backwards over the last 65,557 bytes of
// the file (an end record and the longest comment), never at offset 0.
fault find_end_record(source& src, std::uint64_t& position);

// Reads and validates the end record at `position`, and the ZIP64 end record
// when a locator precedes it.
fault read_end_record(source& src, std::uint64_t position, end_record& out);

// Walks `count` entries of a directory copy: each must carry the central
// signature and lie, with its variable parts, inside `size` bytes.
fault parse_directory(const std::uint8_t* dir, std::uint64_t size, std::uint64_t count,
                      std::vector<entry_info>& out);

// A read, validated central directory.
struct directory {
  std::uint64_t archive_offset = 0;  // where the archive starts inside the file
  std::uint64_t size = 0;
  std::unique_ptr<std::uint8_t[]> bytes;
  std::vector<entry_info> entries;
};

// The whole road from file to directory: end record, checks, directory copy.
fault read_directory(source& src, directory& out);

// Request path against a stored name: ASCII letters fold, '\' in the request
// stands for '/', and a '\' in the stored name never matches.
bool names_equal(const char16_t* request, const std::uint8_t* name, std::size_t length);

// Finds entries by name in one hash look-up, with the matching rule of
// names_equal; the first of several equal names wins.
class name_index {
 public:
  void build(const std::uint8_t* dir, const std::vector<entry_info>& entries);
  bool built() const { return !slots_.empty(); }
  // Index of the entry, or -1.
  std::int64_t find(const char16_t* request) const;

 private:
  const std::uint8_t* dir_ = nullptr;
  const std::vector<entry_info>* entries_ = nullptr;
  std::vector<std::uint32_t> slots_;  // entry index + 1; 0 is free
};

// Decodes one member: checks its local header, then delivers the stored or
// inflated bytes and compares their CRC-32 once everything has been delivered.
class member_reader {
 public:
  member_reader() = default;
  ~member_reader();
  member_reader(const member_reader&) = delete;
  member_reader& operator=(const member_reader&) = delete;

  // An encrypted member is refused as not supported before anything is read.
  fault open(source& src, std::uint64_t archive_offset, const entry_info& entry);
  // Count 0 with no fault is the end of the member (its CRC matched).
  fault read(source& src, void* buffer, std::uint32_t length, std::uint32_t& count);
  std::uint64_t size() const { return size_; }

 private:
  struct inflater;
  fault produce(source& src, std::uint8_t* out, std::uint32_t length, std::uint32_t& count);
  std::uint16_t method_ = 0;
  std::uint32_t expected_crc_ = 0;
  std::uint64_t size_ = 0;
  std::uint64_t data_position_ = 0;
  std::uint32_t crc_ = 0;
  std::uint64_t compressed_left_ = 0;
  std::uint64_t uncompressed_left_ = 0;
  inflater* inflater_ = nullptr;
  // Made ahead of small reads; allocated on the first one.
  std::unique_ptr<std::uint8_t[]> ahead_;
  std::uint32_t ahead_size_ = 0;
  std::uint32_t ahead_at_ = 0;
  std::uint32_t ahead_left_ = 0;
};

}  // namespace zip_format
