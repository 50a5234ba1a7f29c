#include "files/zip_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace zip_format {

namespace {
constexpr std::uint32_t search_window = 1024;
// With `base` 18 bytes before the end, this reaches an end record followed by
// the longest comment (65,535 bytes): 22 + 65,535 bytes before the end.
constexpr std::uint64_t search_limit = 65539;
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

namespace {

// The ZIP64 end record named by the locator in front of the end record at
// `position`. It normally lies right before the locator; otherwise where the
// locator says (an offset from the archive's start, which is then taken to be
// the file's). False when neither place holds one.
bool find_zip64_record(source& src, std::uint64_t locator, std::uint64_t declared, std::uint8_t (&r)[zip64_end_record_size],
                       std::uint64_t& at) {
  std::uint64_t candidates[2] = {locator >= zip64_end_record_size ? locator - zip64_end_record_size : locator, declared};
  for (std::uint64_t c : candidates) {
    if (c > locator || locator - c < zip64_end_record_size) continue;
    if (src.read_at(c, r, sizeof r)) continue;
    if (get32(r) == zip64_end_signature && get64(r + 4) >= zip64_end_record_size - 12) {
      at = c;
      return true;
    }
  }
  return false;
}

}  // namespace

fault read_end_record(source& src, std::uint64_t position, end_record& out) {
  std::uint8_t r[end_record_size];
  if (fault f = src.read_at(position, r, sizeof r)) return f;
  std::uint64_t this_disk = get16(r + 4);
  std::uint64_t directory_disk = get16(r + 6);
  std::uint64_t entries_here = get16(r + 8);
  std::uint64_t entries = get16(r + 10);
  std::uint64_t directory_size = get32(r + 12);
  std::uint64_t directory_offset = get32(r + 16);
  std::uint64_t record_position = position;
  const bool saturated = entries == 0xFFFF || entries_here == 0xFFFF || directory_size == 0xFFFFFFFFu ||
                         directory_offset == 0xFFFFFFFFu || this_disk == 0xFFFF || directory_disk == 0xFFFF;
  // A ZIP64 locator right before the end record: its record holds the true
  // values (writers also emit one when none of the fields overflowed).
  bool zip64 = false;
  if (position >= zip64_locator_size + zip64_end_record_size) {
    std::uint8_t l[zip64_locator_size];
    const std::uint64_t locator = position - zip64_locator_size;
    if (fault f = src.read_at(locator, l, sizeof l)) return f;
    std::uint8_t z[zip64_end_record_size];
    std::uint64_t at = 0;
    if (get32(l) == zip64_locator_signature && find_zip64_record(src, locator, get64(l + 8), z, at)) {
      if (get32(l + 4) != 0 || get32(l + 16) > 1) return fault(err_corrupted, KV_SITE);  // multi-disk
      zip64 = true;
      this_disk = get32(z + 16);
      directory_disk = get32(z + 20);
      entries_here = get64(z + 24);
      entries = get64(z + 32);
      directory_size = get64(z + 40);
      directory_offset = get64(z + 48);
      record_position = at;
    }
  }
  if (saturated && !zip64) return fault(err_corrupted, KV_SITE);
  // Empty and multi-disk archives are refused; so is a directory that would
  // have to start before the file does.
  if (entries_here != entries || this_disk != 0 || directory_disk != 0 || entries == 0 ||
      directory_size > record_position || directory_offset > record_position - directory_size)
    return fault(err_corrupted, KV_SITE);
  out.position = record_position;
  out.entries = entries;
  out.directory_size = directory_size;
  out.directory_offset = directory_offset;
  return {};
}

namespace {

// The ZIP64 extra block of an entry: the 64-bit values of the fields that are
// saturated, in the order uncompressed size, compressed size, local offset.
// False for a block too short for them or an extra field that runs over.
bool apply_zip64_extra(const std::uint8_t* extra, std::uint32_t length, entry_info& e) {
  const bool need_size = e.uncompressed_size == 0xFFFFFFFFu;
  const bool need_compressed = e.compressed_size == 0xFFFFFFFFu;
  const bool need_offset = e.local_offset == 0xFFFFFFFFu;
  if (!need_size && !need_compressed && !need_offset) return true;
  for (std::uint32_t at = 0; length - at >= 4;) {
    const std::uint16_t tag = get16(extra + at);
    const std::uint16_t n = get16(extra + at + 2);
    if (length - at - 4 < n) return false;
    if (tag == zip64_extra_tag) {
      const std::uint8_t* v = extra + at + 4;
      std::uint32_t left = n;
      auto take = [&](std::uint64_t& field) {
        if (left < 8) return false;
        field = get64(v);
        v += 8;
        left -= 8;
        return true;
      };
      return (!need_size || take(e.uncompressed_size)) && (!need_compressed || take(e.compressed_size)) &&
             (!need_offset || take(e.local_offset));
    }
    at += 4 + n;
  }
  // No block at all: older writers stored such values as they are.
  return true;
}

}  // namespace

fault parse_directory(const std::uint8_t* dir, std::uint64_t size, std::uint64_t count, std::vector<entry_info>& out) {
  out.clear();
  // Every entry takes at least its fixed part: a count beyond that is a lie,
  // found before anything is reserved for it.
  if (count > size / central_entry_size || count > 0xFFFFFFFFu) return fault(err_corrupted, KV_SITE);
  out.reserve(static_cast<std::size_t>(count));
  std::uint64_t at = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (size - at < central_entry_size) return fault(err_corrupted, KV_SITE);
    const std::uint8_t* p = dir + at;
    if (get32(p) != central_signature) return fault(err_corrupted, KV_SITE);
    const std::uint32_t name_length = get16(p + 28);
    const std::uint32_t extra_length = get16(p + 30);
    const std::uint64_t total = central_entry_size + name_length + extra_length + get16(p + 32);
    if (size - at < total) return fault(err_corrupted, KV_SITE);
    entry_info e;
    e.at = at;
    e.flags = get16(p + 8);
    e.method = get16(p + 10);
    e.crc = get32(p + 16);
    e.compressed_size = get32(p + 20);
    e.uncompressed_size = get32(p + 24);
    e.name_length = static_cast<std::uint16_t>(name_length);
    e.local_offset = get32(p + 42);
    if (!apply_zip64_extra(p + central_entry_size + name_length, extra_length, e))
      return fault(err_corrupted, KV_SITE);
    out.push_back(e);
    at += total;
  }
  return {};
}

fault read_directory(source& src, directory& out) {
  std::uint64_t position = 0;
  if (fault f = find_end_record(src, position)) return f;
  end_record end;
  if (fault f = read_end_record(src, position, end)) return f;
  const std::uint64_t directory_start = end.position - end.directory_size;
  std::unique_ptr<std::uint8_t[]> bytes(
      new (std::nothrow) std::uint8_t[end.directory_size ? static_cast<std::size_t>(end.directory_size) : 1]);
  if (!bytes) return fault(err_memory, KV_SITE);
  // Read in pieces: the source takes at most 4 GiB less one per read.
  for (std::uint64_t done = 0; done < end.directory_size;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(end.directory_size - done, 1u << 30));
    if (fault f = src.read_at(directory_start + done, bytes.get() + done, n)) return f;
    done += n;
  }
  // Every entry is stepped over by lengths it declares itself: they must all stay
  // inside the copy, or later walks would read past it.
  std::vector<entry_info> entries;
  if (fault f = parse_directory(bytes.get(), end.directory_size, end.entries, entries)) return f;
  out.archive_offset = directory_start - end.directory_offset;
  out.size = end.directory_size;
  out.bytes = std::move(bytes);
  out.entries = std::move(entries);
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

namespace {

std::uint8_t fold_byte(std::uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<std::uint8_t>(c - 32) : c; }

std::uint64_t hash_folded(const std::uint8_t* bytes, std::size_t n) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (std::size_t i = 0; i < n; ++i) h = (h ^ fold_byte(bytes[i])) * 1099511628211ull;
  return h;
}

bool folded_equal(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (fold_byte(a[i]) != fold_byte(b[i])) return false;
  return true;
}

}  // namespace

void name_index::build(const std::uint8_t* dir, const std::vector<entry_info>& entries) {
  dir_ = dir;
  entries_ = &entries;
  std::size_t capacity = 16;
  while (capacity < entries.size() * 2) capacity *= 2;
  slots_.assign(capacity, 0);
  const std::size_t mask = capacity - 1;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const entry_info& e = entries[i];
    const std::uint8_t* name = dir + e.at + central_entry_size;
    // A request cannot hold a NUL, and a stored '\' never matches: such names
    // are never found, so they stay out.
    bool findable = true;
    for (std::size_t k = 0; k < e.name_length && findable; ++k) findable = name[k] != 0 && name[k] != '\\';
    if (!findable) continue;
    for (std::size_t slot = hash_folded(name, e.name_length) & mask;; slot = (slot + 1) & mask) {
      if (slots_[slot] == 0) {
        slots_[slot] = static_cast<std::uint32_t>(i + 1);
        break;
      }
      const entry_info& other = entries[slots_[slot] - 1];
      if (other.name_length == e.name_length &&
          folded_equal(dir + other.at + central_entry_size, name, e.name_length))
        break;  // an earlier entry of the same name keeps the place
    }
  }
}

std::int64_t name_index::find(const char16_t* request) const {
  if (!request || slots_.empty()) return -1;
  std::string key;
  for (const char16_t* p = request; *p; ++p) {
    if (*p > 0xFF) return -1;  // a stored byte is one unit of at most 0xFF
    key.push_back(static_cast<char>(*p == u'\\' ? u'/' : *p));
  }
  const auto* k = reinterpret_cast<const std::uint8_t*>(key.data());
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hash_folded(k, key.size()) & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
    const entry_info& e = (*entries_)[slots_[slot] - 1];
    if (e.name_length == key.size() && folded_equal(dir_ + e.at + central_entry_size, k, key.size()))
      return slots_[slot] - 1;
  }
  return -1;
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

namespace {

// Whether the local header's sizes agree with the entry's. A saturated 32-bit
// size stands for the 64-bit one in the local ZIP64 extra block, which holds
// both sizes, uncompressed first.
fault local_sizes_agree(source& src, const std::uint8_t* h, std::uint64_t extra_position, const entry_info& entry,
                        bool& agree) {
  const std::uint32_t compressed = get32(h + 18);
  const std::uint32_t uncompressed = get32(h + 22);
  agree = compressed == entry.compressed_size && uncompressed == entry.uncompressed_size;
  if (agree || (compressed != 0xFFFFFFFFu && uncompressed != 0xFFFFFFFFu)) return {};
  const std::uint16_t length = get16(h + 28);
  std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[length ? length : 1]);
  if (!block) return fault(err_memory, KV_SITE);
  const std::uint8_t* extra = block.get();
  if (length != 0)
    if (fault f = src.read_at(extra_position, block.get(), length)) return f;
  for (std::uint32_t at = 0; length - at >= 4;) {
    const std::uint16_t n = get16(extra + at + 2);
    if (length - at - 4 < n) break;
    if (get16(extra + at) == zip64_extra_tag && n >= 16) {
      const std::uint64_t size64 = uncompressed == 0xFFFFFFFFu ? get64(extra + at + 4) : uncompressed;
      const std::uint64_t compressed64 = compressed == 0xFFFFFFFFu ? get64(extra + at + 12) : compressed;
      agree = size64 == entry.uncompressed_size && compressed64 == entry.compressed_size;
      break;
    }
    at += 4 + n;
  }
  return {};
}

}  // namespace

fault member_reader::open(source& src, std::uint64_t archive_offset, const entry_info& entry) {
  const std::uint16_t method = entry.method;
  if (method != method_stored && method != method_deflate) return fault(err_not_supported, KV_SITE);
  // Encrypted data would only read as garbage or as a CRC failure.
  if (entry.flags & (flag_encrypted | flag_strong_encryption)) return fault(err_not_supported, KV_SITE);
  const std::uint64_t header_position = archive_offset + entry.local_offset;
  std::uint8_t h[local_header_size];
  if (fault f = src.read_at(header_position, h, sizeof h)) return f;
  const std::uint16_t local_flags = get16(h + 6);
  if (get32(h) != local_signature || get16(h + 8) != method) return fault(err_corrupted, KV_SITE);
  if (local_flags & (flag_encrypted | flag_strong_encryption)) return fault(err_not_supported, KV_SITE);
  const std::uint64_t extra_position = header_position + local_header_size + get16(h + 26);
  if (!(local_flags & flag_data_descriptor)) {
    bool agree = false;
    if (get32(h + 14) == entry.crc)
      if (fault f = local_sizes_agree(src, h, extra_position, entry, agree)) return f;
    if (!agree) return fault(err_corrupted, KV_SITE);
  }
  data_position_ = extra_position + get16(h + 28);
  method_ = method;
  expected_crc_ = entry.crc;
  size_ = entry.uncompressed_size;
  uncompressed_left_ = size_;
  compressed_left_ = entry.compressed_size;
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

// Produces up to `length` bytes of the member into `out` (stored data read,
// deflated data inflated), adding them to the running CRC.
fault member_reader::produce(source& src, std::uint8_t* out, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (method_ == method_stored) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, compressed_left_));
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
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(compressed_left_, inflate_buffer_size));
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
  if (count != 0) crc_ = static_cast<std::uint32_t>(crc32(crc_, out, count));
  return {};
}

fault member_reader::read(source& src, void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (length == 0) return {};
  auto* out = static_cast<std::uint8_t*>(buffer);
  // Bytes read ahead for an earlier small read go first.
  if (ahead_left_ != 0) {
    const std::uint32_t n = std::min(length, ahead_left_);
    std::memcpy(out, ahead_.get() + ahead_at_, n);
    ahead_at_ += n;
    ahead_left_ -= n;
    uncompressed_left_ -= n;
    count = n;
    return {};
  }
  if (uncompressed_left_ == 0) {
    if (crc_ == expected_crc_) return {};
    return fault(err_corrupted, KV_SITE);
  }
  length = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, uncompressed_left_));
  // Small reads of a longer member are served from a larger block made ahead:
  // one source read, inflate call and CRC step per block instead of per read.
  if (length < read_ahead_size && uncompressed_left_ > length) {
    // What is left only shrinks: a short member gets a block of its size.
    if (!ahead_) {
      ahead_size_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(read_ahead_size, uncompressed_left_));
      ahead_.reset(new (std::nothrow) std::uint8_t[ahead_size_]);
      if (!ahead_) return fault(err_memory, KV_SITE);
    }
    const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(ahead_size_, uncompressed_left_));
    std::uint32_t made = 0;
    if (fault f = produce(src, ahead_.get(), want, made)) return f;
    if (made == 0) return fault(err_corrupted, KV_SITE);
    count = std::min(length, made);
    std::memcpy(out, ahead_.get(), count);
    ahead_at_ = count;
    ahead_left_ = made - count;
    uncompressed_left_ -= count;
    return {};
  }
  if (fault f = produce(src, out, length, count)) return f;
  uncompressed_left_ -= count;
  if (count == 0) return fault(err_corrupted, KV_SITE);
  return {};
}

}  // namespace zip_format
