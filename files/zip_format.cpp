#include "files/zip_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace zip_format {

namespace {
constexpr std::uint32_t search_window = 1024;
constexpr std::uint64_t search_limit = 65517;
}  // namespace

fault find_end_record(source& src, std::uint64_t& position) {
  position = 0;
  std::uint64_t size = 0;
  if (fault f = src.size(size)) return f;
  // `base` lies 18 bytes before the end, so that the last four bytes examined are
  // those where an end record without comment would start.
  const std::uint64_t base = size > 18 ? size - 18 : 0;
  std::uint64_t limit = base != 0 ? base - 1 : 0;
  if (limit > search_limit) limit = search_limit;
  std::unique_ptr<std::uint8_t[]> window(new (std::nothrow) std::uint8_t[search_window]);
  if (!window) return fault(err_memory, KV_SITE);
  if (limit <= 4) return fault(err_corrupted, KV_SITE);
  std::uint64_t d = 4;
  for (;;) {
    d = std::min<std::uint64_t>(d + search_window - 4, limit);
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(d, search_window));
    if (fault f = src.read_at(base - d, window.get(), n)) return f;
    // Latest first; windows overlap by four bytes so no signature straddles unseen.
    for (std::uint32_t off = n - 4 + 1; off-- > 0;) {
      if (get32(window.get() + off) == end_signature) {
        position = base - d + off;
        return {};
      }
    }
    if (d >= limit) return fault(err_corrupted, KV_SITE);
  }
}

fault read_end_record(source& src, std::uint64_t position, end_record& out) {
  std::uint8_t r[end_record_size];
  if (fault f = src.read_at(position, r, sizeof r)) return f;
  const std::uint16_t this_disk = get16(r + 4);
  const std::uint16_t directory_disk = get16(r + 6);
  const std::uint16_t entries_here = get16(r + 8);
  const std::uint16_t entries = get16(r + 10);
  const std::uint32_t directory_size = get32(r + 12);
  const std::uint32_t directory_offset = get32(r + 16);
  // Empty and multi-disk archives are refused; so is a directory that would
  // have to start before the file does.
  if (entries_here != entries || this_disk != 0 || directory_disk != 0 || entries == 0 ||
      position < static_cast<std::uint64_t>(directory_size) + directory_offset)
    return fault(err_corrupted, KV_SITE);
  out.position = position;
  out.entries = entries;
  out.directory_size = directory_size;
  out.directory_offset = directory_offset;
  return {};
}

bool directory_fits(const std::uint8_t* dir, std::uint32_t size, std::uint32_t count) {
  std::uint64_t at = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (size - at < central_entry_size) return false;
    const entry_view e{dir + at};
    if (size - at < e.total_size()) return false;
    at += e.total_size();
  }
  return true;
}

fault read_directory(source& src, directory& out) {
  std::uint64_t position = 0;
  if (fault f = find_end_record(src, position)) return f;
  end_record end;
  if (fault f = read_end_record(src, position, end)) return f;
  const std::uint64_t directory_start = end.position - end.directory_size;
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[end.directory_size ? end.directory_size : 1]);
  if (!bytes) return fault(err_memory, KV_SITE);
  if (end.directory_size != 0)
    if (fault f = src.read_at(directory_start, bytes.get(), end.directory_size)) return f;
  // Every entry is stepped over by lengths it declares itself: they must all stay
  // inside the copy, or later walks would read past it.
  if (!directory_fits(bytes.get(), end.directory_size, end.entries)) return fault(err_corrupted, KV_SITE);
  out.archive_offset = directory_start - end.directory_offset;
  out.count = end.entries;
  out.size = end.directory_size;
  out.bytes = std::move(bytes);
  return {};
}

bool names_equal(const char16_t* request, const std::uint8_t* name, std::size_t length) {
  auto fold = [](char16_t c) -> char16_t { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  std::size_t i = 0;
  for (; request[i] != 0; ++i) {
    if (i == length) return false;
    char16_t r = request[i] == u'\\' ? u'/' : request[i];
    if (fold(r) != fold(static_cast<char16_t>(name[i]))) return false;
  }
  return i == length;
}

struct member_reader::inflater {
  z_stream stream{};
  std::uint8_t input[inflate_buffer_size];
  bool initialised = false;
};

member_reader::~member_reader() {
  if (inflater_) {
    if (inflater_->initialised) inflateEnd(&inflater_->stream);
    delete inflater_;
  }
}

fault member_reader::open(source& src, std::uint64_t archive_offset, entry_view entry) {
  const std::uint16_t method = entry.method();
  if (method != method_stored && method != method_deflate) return fault(err_not_supported, KV_SITE);
  const std::uint64_t header_position = archive_offset + entry.local_offset();
  std::uint8_t h[local_header_size];
  if (fault f = src.read_at(header_position, h, sizeof h)) return f;
  const bool sizes_follow = (get16(h + 6) & flag_data_descriptor) != 0;
  if (get32(h) != local_signature || get16(h + 8) != method ||
      (!sizes_follow && (get32(h + 14) != entry.crc() || get32(h + 18) != entry.compressed_size() ||
                         get32(h + 22) != entry.uncompressed_size())))
    return fault(err_corrupted, KV_SITE);
  data_position_ = header_position + local_header_size + get16(h + 26) + get16(h + 28);
  method_ = method;
  expected_crc_ = entry.crc();
  size_ = entry.uncompressed_size();
  uncompressed_left_ = size_;
  compressed_left_ = entry.compressed_size();
  crc_ = 0;
  if (method == method_deflate) {
    inflater_ = new (std::nothrow) inflater;
    if (!inflater_) return fault(err_memory, KV_SITE);
    // Raw deflate: negative window bits, no zlib header or trailer.
    if (inflateInit2(&inflater_->stream, -15) != Z_OK) return fault(err_memory, KV_SITE);
    inflater_->initialised = true;
  }
  return {};
}

fault member_reader::read(source& src, void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (length == 0) return {};
  if (uncompressed_left_ == 0) {
    if (crc_ == expected_crc_) return {};
    return fault(err_corrupted, KV_SITE);
  }
  length = std::min(length, uncompressed_left_);
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (method_ == method_stored) {
    const std::uint32_t n = std::min(length, compressed_left_);
    if (n != 0) {
      if (fault f = src.read_at(data_position_, out, n)) return f;
      data_position_ += n;
      compressed_left_ -= n;
    }
    count = n;
  } else {
    z_stream& z = inflater_->stream;
    z.next_out = out;
    z.avail_out = length;
    while (z.avail_out != 0) {
      if (z.avail_in == 0) {
        const std::uint32_t n = std::min(compressed_left_, inflate_buffer_size);
        if (n != 0) {
          if (fault f = src.read_at(data_position_, inflater_->input, n)) return f;
          compressed_left_ -= n;
          data_position_ += n;
        }
        z.next_in = inflater_->input;
        z.avail_in = n;
      }
      // Stream end, a damaged stream or input that ran out all stop here; a
      // short count then shows up as corruption below or on the next read.
      if (inflate(&z, Z_SYNC_FLUSH) != Z_OK) break;
    }
    count = length - z.avail_out;
  }
  uncompressed_left_ -= count;
  if (count == 0) return fault(err_corrupted, KV_SITE);
  crc_ = static_cast<std::uint32_t>(crc32(crc_, out, count));
  return {};
}

}  // namespace zip_format
