#include "files/file_object.h"

#include <new>
#include <string>
#include <string_view>

// ---------------------------------------------------------------- file_object

file_object::~file_object() = default;

void file_object::control(void*) { raise(KV_SITE, fs_error::not_supported); }

Common::Error file_object::take_error() noexcept { return std::move(error_); }

void file_object::raise(std::uint64_t site, std::uint32_t code) { error_ = make_fs_error(site, code); }

void file_object::raise_system(std::uint64_t site, const char* function, std::uint32_t default_code) {
  error_ = make_system_file_error(site, function, default_code);
}

// ---------------------------------------------------------------- files

void raccess_file::unlock(std::uint64_t, std::uint64_t) { raise(KV_SITE, fs_error::not_supported); }

std::int64_t raccess_file::rewind() { return seek_set(0); }

std::uint64_t raccess_file::size() {
  const std::int64_t here = seek_cur(0);
  const std::int64_t end = seek_end(0);
  seek_set(here);
  return static_cast<std::uint64_t>(end);
}

void i_file::read_exact(void* buffer, std::uint32_t length) {
  std::uint32_t count = 0;
  read(buffer, length, count);
  if (Good() && count < length) raise(KV_SITE, fs_error::end_of_file);
}

void ri_file::lock_shared(std::uint64_t, std::uint64_t, bool) { raise(KV_SITE, fs_error::not_supported); }

void o_file::flush() {}

void o_file::write_exact(const void* buffer, std::uint32_t length) {
  std::uint32_t count = 0;
  write(buffer, length, count);
  if (Good() && count < length) raise(KV_SITE, fs_error::disk_full);
}

void ro_file::lock_exclusive(std::uint64_t, std::uint64_t, bool) { raise(KV_SITE, fs_error::not_supported); }

// ---------------------------------------------------------------- i_dir

ri_dir* i_dir::open_parent(const char16_t** path) {
  const char16_t* p = *path;
  const char16_t* last = nullptr;
  for (const char16_t* q = p; q && *q; ++q)
    if (*q == u'/' || *q == u':' || *q == u'\\') last = q;
  if (!last) return open_dir(u".");
  std::u16string head(p, static_cast<std::size_t>(last - p) + 1);
  ri_dir* d = open_dir(head.c_str());
  if (d) *path = last + 1;
  return d;
}

ri_dir* i_dir::reopen() { return nullptr; }

i_dir::iterator* i_dir::hand_over_listing(iterator* it) {
  if (!it) {
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  if (it->Bad() && it->error_code() != fs_error::end_of_file) {
    set_error(it->take_error());
    delete it;
    return nullptr;
  }
  clear_error();
  return it;
}

ri_dir* i_dir::open_special(std::int32_t) {
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

const char16_t* i_dir::path() { return nullptr; }

int i_dir::relation(i_dir* other) {
  if (!other) return 2;
  if (other == this) return 0;
  const char16_t* mine = path();
  const char16_t* theirs = other->path();
  if (!mine) return theirs ? 1 : 2;
  if (!theirs) return 2;
  std::u16string_view a(mine), b(theirs);
  if (b.size() < a.size() || b.substr(0, a.size()) != a) return 2;
  return b.size() == a.size() ? 0 : 1;
}

std::int32_t i_dir::drive_kind() { return entry_kind::unknown; }

void i_dir::free_space(std::uint64_t& total, std::uint64_t& total_free, std::uint64_t& caller_free) {
  total = total_free = caller_free = 0;
  raise(KV_SITE, fs_error::not_supported);
}

void i_dir::volume_label(char16_t* buffer, std::uint32_t size) {
  if (size != 0 && buffer) buffer[0] = 0;
  raise(KV_SITE, fs_error::not_supported);
}

bool i_dir::is_separator(char16_t c) { return c == u'/' || c == u'\\'; }

char16_t i_dir::separator() { return u'\\'; }

bool i_dir::is_system_dir() { return false; }

void i_dir::watch(change_callback*) { raise(KV_SITE, fs_error::not_supported); }

void i_dir::rearm_watch() {}

dir_and_identifier i_dir::resolve_link(const file_identifier* id) {
  ri_dir* d = open_dir(u".");
  file_identifier* copy = id ? id->clone() : nullptr;
  if (id && !copy) {
    delete d;
    raise(KV_SITE, fs_error::out_of_memory);
    return {nullptr, nullptr};
  }
  return {d, copy};
}

ITEMIDLIST* i_dir::item_id_list(const file_identifier*, bool) { return nullptr; }

dir_and_identifier i_dir::open_item_id_list(const ITEMIDLIST*) { return {nullptr, nullptr}; }

IShellFolder* i_dir::shell_folder() { return nullptr; }

// ---------------------------------------------------------------- iterator

const char16_t* i_dir::iterator::short_name() { return nullptr; }
const char16_t* i_dir::iterator::display_name() { return name(); }
const void* i_dir::iterator::reserved1() { return nullptr; }
std::uint64_t i_dir::iterator::stored_size() { return size(); }
std::int64_t i_dir::iterator::write_time() { return 0; }
std::int64_t i_dir::iterator::reserved2() { return 0; }
std::int64_t i_dir::iterator::creation_time() { return 0; }
std::int64_t i_dir::iterator::access_time() { return 0; }
std::int32_t i_dir::iterator::attributes() { return -1; }
std::int32_t i_dir::iterator::reserved3() { return -1; }
bool i_dir::iterator::is_hidden() { return false; }
std::int32_t i_dir::iterator::reserved4() { return -1; }
std::int32_t i_dir::iterator::reserved5() { return -1; }
const void* i_dir::iterator::owner() { return nullptr; }
std::uint32_t i_dir::iterator::link_count() { return 1; }
std::int64_t i_dir::iterator::reserved6() { return 0; }
std::int64_t i_dir::iterator::reserved7() { return 0; }
int i_dir::iterator::expandable() { return 1; }
std::uint64_t i_dir::iterator::file_index() { return 0; }
const char16_t* i_dir::iterator::link_target() { return nullptr; }

// ---------------------------------------------------------------- o_dir

void o_dir::create_hard_link(const char16_t*, const char16_t*) { raise(KV_SITE, fs_error::not_supported); }
void o_dir::create_junction(const char16_t*, const char16_t*, const void*, std::uint32_t) {
  raise(KV_SITE, fs_error::not_supported);
}
void o_dir::set_security(const char16_t*, security_source*) { raise(KV_SITE, fs_error::not_supported); }
void o_dir::set_attributes(const char16_t*, std::uint32_t) { raise(KV_SITE, fs_error::not_supported); }
void o_dir::reserved1(const void*, const void*) { raise(KV_SITE, fs_error::not_supported); }
void o_dir::reserved2(const void*, const void*, const void*) { raise(KV_SITE, fs_error::not_supported); }
void o_dir::reserved3(const void*, const void*, const void*, const void*, const void*) {
  raise(KV_SITE, fs_error::not_supported);
}

// ---------------------------------------------------------------- rio_dir

namespace {
// A directory that can be written through is an rio_dir; anything else has no
// output view and is released.
ro_dir* output_view(ri_dir* d) {
  if (!d) return nullptr;
  if (auto* rw = dynamic_cast<rio_dir*>(d)) return rw;
  delete d;
  return nullptr;
}
}  // namespace

ri_dir* rio_dir::reopen() { return open_dir(u"."); }

ro_dir* rio_dir::open_dir_for_write(const char16_t* path) { return output_view(open_dir(path)); }

ro_dir* rio_dir::open_parent_for_write(const char16_t** path) { return output_view(open_parent(path)); }
