#include "files/zip_file.h"

#include <algorithm>
#include <new>

using zip_format::fault;

namespace {

Common::Error to_error(fault& f) {
  Common::Error e = make_fs_error(f.site, f.code);
  if (f.cause) e.setCause(f.cause);
  return e;
}

// Reads the archive through its file object. A failed seek or read is taken
// out of the archive file, so that the file stays usable for the archive's other
// members, and becomes the cause of a read error here.
class archive_source final : public zip_format::source {
 public:
  explicit archive_source(ri_file* f) : f_(f) {}
  fault size(std::uint64_t& out) override {
    out = f_->size();
    if (f_->Bad()) return fault(zip_format::err_read, KV_SITE, f_->take_error());
    return {};
  }
  fault read_at(std::uint64_t pos, void* buffer, std::uint32_t n) override {
    f_->seek_set(static_cast<std::int64_t>(pos));
    if (f_->Good()) f_->read_exact(buffer, n);
    if (f_->Bad()) return fault(zip_format::err_read, KV_SITE, f_->take_error());
    return {};
  }

 private:
  ri_file* f_;
};

}  // namespace

// ---------------------------------------------------------------- zip_file

zip_file::zip_file(ri_file* archive) : archive_(archive) {
  if (!archive_) {
    raise(KV_SITE, fs_error::open);
    return;
  }
  archive_source src(archive_);
  zip_format::directory dir;
  if (fault f = zip_format::read_directory(src, dir)) {
    set_error(to_error(f));
    return;
  }
  archive_offset_ = dir.archive_offset;
  directory_size_ = dir.size;
  directory_ = std::move(dir.bytes);
  entries_ = std::move(dir.entries);
}

zip_file::zip_file(const zip_file& from, copy_tag)
    : archive_(from.archive_),
      archive_offset_(from.archive_offset_),
      directory_size_(from.directory_size_),
      entries_(from.entries_) {
  directory_.reset(new (std::nothrow) std::uint8_t[directory_size_ ? directory_size_ : 1]);
  if (!directory_) {
    entries_.clear();
    raise(KV_SITE, fs_error::out_of_memory);
    return;
  }
  std::copy(from.directory_.get(), from.directory_.get() + directory_size_, directory_.get());
}

zip_file::~zip_file() = default;

const zip_format::entry_info* zip_file::entry_at(std::uint32_t index) const {
  if (!directory_ || index >= entries_.size()) return nullptr;
  return &entries_[index];
}

ri_dir* zip_file::copy() {
  auto* z = new (std::nothrow) zip_file(*this, copy_tag{});
  if (!z) {
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  if (z->Bad()) {
    set_error(z->take_error());
    delete z;
    return nullptr;
  }
  clear_error();
  return z;
}

zip_iterator* zip_file::find_entry(const char16_t* path) {
  if (!directory_) {
    raise(KV_SITE, fs_error::corrupted);
    return nullptr;
  }
  if (path) {
    if (!names_.built()) names_.build(directory_.get(), entries_);
    const std::int64_t i = names_.find(path);
    if (i >= 0) {
      auto* it = new (std::nothrow) zip_iterator(this, static_cast<std::uint32_t>(i));
      if (!it) {
        raise(KV_SITE, fs_error::out_of_memory);
        return nullptr;
      }
      clear_error();
      return it;
    }
  }
  raise(KV_SITE, fs_error::end_of_file);
  return nullptr;
}

ri_file* zip_file::open_entry(std::uint32_t index) {
  const zip_format::entry_info* entry = entry_at(index);
  if (!entry) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  auto* f = new (std::nothrow) file_in_zip(archive_);
  if (!f) {
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  archive_source src(archive_);
  if (fault e = f->reader_.open(src, archive_offset_, *entry)) {
    // A member that cannot be decoded is not opened: the reason stays here.
    delete f;
    set_error(to_error(e));
    return nullptr;
  }
  clear_error();
  return f;
}

ri_file* zip_file::open_file(const file_identifier* id, bool) {
  const auto* zid = dynamic_cast<const zip_identifier*>(id);
  if (!zid) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  return open_entry(zid->index());
}

ri_file* zip_file::open_file(iterator* entry, bool share) {
  if (!entry || entry->Bad()) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  const auto* it = dynamic_cast<const zip_iterator*>(entry);
  if (it && it->archive() == this) return open_entry(it->index());
  // Another directory's entry: go by its name.
  const char16_t* name = entry->name();
  if (!name) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  return open_file(name, share);
}

ri_file* zip_file::open_file(const char16_t* path, bool) {
  zip_iterator* it = find_entry(path);
  if (!it) return nullptr;
  const std::uint32_t index = it->index();
  delete it;
  return open_entry(index);
}

ri_dir* zip_file::open_dir(const file_identifier*) {
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

ri_dir* zip_file::open_dir(iterator*) {
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

ri_dir* zip_file::open_dir(const char16_t* path) {
  if (path && path[0] == u'.' && path[1] == 0) return copy();
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

ri_dir* zip_file::open_parent(const char16_t**) { return copy(); }

i_dir::iterator* zip_file::iterate(const file_identifier* id) {
  const auto* zid = dynamic_cast<const zip_identifier*>(id);
  if (!zid || !entry_at(zid->index())) {
    raise(KV_SITE, fs_error::not_found);
    return nullptr;
  }
  auto* it = new (std::nothrow) zip_iterator(this, zid->index());
  if (!it) {
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  clear_error();
  return it;
}

i_dir::iterator* zip_file::iterate(const char16_t* name) { return find_entry(name); }

i_dir::iterator* zip_file::iterate() {
  if (!directory_ || entries_.empty()) {
    raise(KV_SITE, fs_error::corrupted);
    return nullptr;
  }
  auto* it = new (std::nothrow) zip_iterator(this, 0);
  if (!it) {
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  clear_error();
  return it;
}

i_dir::iterator* zip_file::iterate_self() {
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

int zip_file::relation(i_dir* other) { return other == this ? 0 : 2; }

int zip_file::compare_names(const file_identifier* a, const file_identifier* b) {
  const auto* x = dynamic_cast<const zip_identifier*>(a);
  const auto* y = dynamic_cast<const zip_identifier*>(b);
  if (x && y && x->index() == y->index() && x->remaining() == y->remaining()) return 0;
  return 1;
}

// ---------------------------------------------------------------- identifier

file_identifier* zip_identifier::clone() const { return new (std::nothrow) zip_identifier(index_, remaining_); }

// ---------------------------------------------------------------- iterator

zip_iterator::zip_iterator(const zip_file* owner, std::uint32_t index) : owner_(owner), index_(index) { set_name(); }

void zip_iterator::set_name() {
  const zip_format::entry_info& e = *owner_->entry_at(index_);
  const std::uint8_t* name = owner_->name_of(e);
  name_.assign(name, name + e.name_length);
}

void zip_iterator::next() {
  if (Bad()) return;
  if (index_ + 1 < owner_->entries_.size()) {
    ++index_;
    set_name();
  } else {
    raise(KV_SITE, fs_error::end_of_file);
  }
}

file_identifier* zip_iterator::identifier() {
  if (Bad()) return nullptr;
  auto* id = new (std::nothrow) zip_identifier(index_, owner_->entry_count() - index_);
  if (!id) raise(KV_SITE, fs_error::out_of_memory);
  return id;
}

const char16_t* zip_iterator::name() { return Bad() ? nullptr : name_.c_str(); }

std::uint64_t zip_iterator::size() {
  return Bad() ? 0 : owner_->entry_at(index_)->uncompressed_size;
}

std::uint64_t zip_iterator::stored_size() {
  return Bad() ? 0 : owner_->entry_at(index_)->compressed_size;
}

std::int32_t zip_iterator::kind() { return entry_kind::file; }

// ---------------------------------------------------------------- file_in_zip

void file_in_zip::read(void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (Bad() || length == 0) return;
  archive_source src(archive_);
  if (fault f = reader_.read(src, buffer, length, count)) {
    count = 0;
    set_error(to_error(f));
  }
}

std::uint64_t file_in_zip::size() { return reader_.size(); }

std::int64_t file_in_zip::rewind() {
  raise(KV_SITE, fs_error::not_supported);
  return 0;
}

std::int64_t file_in_zip::seek_set(std::int64_t) { return rewind(); }
std::int64_t file_in_zip::seek_cur(std::int64_t) { return rewind(); }
std::int64_t file_in_zip::seek_end(std::int64_t) { return rewind(); }
