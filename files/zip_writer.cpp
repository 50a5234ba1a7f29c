#include "files/zip_writer.h"

#include <zlib.h>

namespace {
constexpr std::uint16_t dos_date_1980 = (0 << 9) | (1 << 5) | 1;  // fixed stamp: builds repeat byte for byte

void le16(std::string& s, std::uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void le32(std::string& s, std::uint32_t v) {
  le16(s, v & 0xFFFF);
  le16(s, v >> 16);
}

bool deflate_raw(const void* data, std::size_t size, std::string& out) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out.resize(deflateBound(&z, static_cast<uLong>(size)));
  z.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  z.avail_in = static_cast<uInt>(size);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int r = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return r == Z_STREAM_END;
}
}  // namespace

bool zip_writer::fail(std::string why) {
  error_ = std::move(why);
  return false;
}

bool zip_writer::put(const void* p, std::size_t n) {
  out_.write(static_cast<const char*>(p), static_cast<std::streamsize>(n));
  if (!out_) return fail("write failed");
  written_ += n;
  return true;
}

bool zip_writer::add(std::string_view name, const void* data, std::size_t size, method how) {
  if (finished_) return fail("archive already finished");
  if (name.empty() || name.size() > 0xFFFF) return fail("bad member name");
  if (entries_.size() >= zip_writer_limits::max_entries) return fail("too many members (at most 65535)");
  if (size > zip_writer_limits::max_size) return fail("member larger than 4 GiB: " + std::string(name));
  const std::uint64_t offset = base_ + written_;
  if (offset > zip_writer_limits::max_size) return fail("archive larger than 4 GiB");

  entry e{std::string(name), 0, 0, 0, static_cast<std::uint32_t>(size), offset};
  e.crc = static_cast<std::uint32_t>(crc32_z(0, static_cast<const Bytef*>(data), size));
  std::string packed;
  const void* body = data;
  std::size_t body_size = size;
  if (how != method::stored) {
    if (!deflate_raw(data, size, packed)) return fail("deflate failed: " + e.name);
    if (how == method::deflate || packed.size() < size) {
      e.method = 8;
      body = packed.data();
      body_size = packed.size();
    }
  }
  if (body_size > zip_writer_limits::max_size) return fail("member larger than 4 GiB: " + e.name);
  e.compressed = static_cast<std::uint32_t>(body_size);

  std::string h;
  le32(h, 0x04034b50);
  le16(h, 20);  // version needed: deflate
  le16(h, 0);   // flags
  le16(h, e.method);
  le16(h, 0);
  le16(h, dos_date_1980);
  le32(h, e.crc);
  le32(h, e.compressed);
  le32(h, e.size);
  le16(h, static_cast<std::uint32_t>(e.name.size()));
  le16(h, 0);
  h += e.name;
  if (!put(h.data(), h.size()) || !put(body, body_size)) return false;
  entries_.push_back(std::move(e));
  return true;
}

bool zip_writer::finish(std::string_view comment) {
  if (finished_) return fail("archive already finished");
  if (comment.size() > 0xFFFF) return fail("archive comment longer than 65535 bytes");
  const std::uint64_t directory_offset = base_ + written_;
  std::string d;
  for (const entry& e : entries_) {
    le32(d, 0x02014b50);
    le16(d, 20);  // made by
    le16(d, 20);  // needed
    le16(d, 0);
    le16(d, e.method);
    le16(d, 0);
    le16(d, dos_date_1980);
    le32(d, e.crc);
    le32(d, e.compressed);
    le32(d, e.size);
    le16(d, static_cast<std::uint32_t>(e.name.size()));
    le16(d, 0);  // extra
    le16(d, 0);  // comment
    le16(d, 0);  // disk
    le16(d, 0);  // internal attributes
    le32(d, 0);  // external attributes
    le32(d, static_cast<std::uint32_t>(e.offset));
    d += e.name;
  }
  if (directory_offset > zip_writer_limits::max_size || d.size() > zip_writer_limits::max_size)
    return fail("archive larger than 4 GiB");
  const auto directory_size = static_cast<std::uint32_t>(d.size());
  le32(d, 0x06054b50);
  le16(d, 0);
  le16(d, 0);
  le16(d, static_cast<std::uint32_t>(entries_.size()));
  le16(d, static_cast<std::uint32_t>(entries_.size()));
  le32(d, directory_size);
  le32(d, static_cast<std::uint32_t>(directory_offset));
  le16(d, static_cast<std::uint32_t>(comment.size()));
  d.append(comment);
  finished_ = true;
  return put(d.data(), d.size());
}
