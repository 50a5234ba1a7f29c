#include "files/windows_dir.h"

#include <cstring>
#include <memory>
#include <new>

#include "files/file_time.h"
#include "files/dir_watch.h"
#include "files/path.h"
#include "files/win32_calls.h"
#include "files/win9x_dir.h"
#include "files/winnt_dir.h"
#include "system/tls.h"

// ---------------------------------------------------------------- the_identifier

struct the_identifier::block {
  std::atomic<std::uint32_t> count;
  const unsigned char* bytes;
  char16_t* name() { return reinterpret_cast<char16_t*>(this + 1); }
};

namespace {

// Stands in for an identifier without name and bytes and for allocation
// failures; its count starts at 1 and never reaches 0.
struct empty_block_storage {
  the_identifier::block header;
  char16_t name[1];
};
empty_block_storage empty_block{{{1}, nullptr}, {0}};

the_identifier::block* acquire_empty() {
  empty_block.header.count.fetch_add(1, std::memory_order_relaxed);
  return &empty_block.header;
}

}  // namespace

the_identifier::the_identifier(const char16_t* name, const void* bytes, std::size_t count) {
  const std::size_t n = name ? std::char_traits<char16_t>::length(name) : 0;
  if (n == 0 && count == 0) {
    block_ = acquire_empty();
    return;
  }
  const std::size_t total = sizeof(block) + (n + 1) * sizeof(char16_t) + count;
  void* mem = ::operator new(total, std::nothrow);
  if (!mem) {
    block_ = acquire_empty();
    return;
  }
  block_ = new (mem) block{{1}, nullptr};
  char16_t* text = block_->name();
  if (n) std::memcpy(text, name, n * sizeof(char16_t));
  text[n] = 0;
  if (count) {
    auto* b = reinterpret_cast<unsigned char*>(text + n + 1);
    if (bytes) std::memcpy(b, bytes, count);
    block_->bytes = b;
  }
}

the_identifier::the_identifier(const the_identifier& other) : file_identifier(), block_(other.block_) {
  block_->count.fetch_add(1, std::memory_order_relaxed);
}

the_identifier::~the_identifier() {
  if (block_->count.fetch_sub(1, std::memory_order_acq_rel) == 1 && block_ != &empty_block.header) {
    block_->~block();
    ::operator delete(static_cast<void*>(block_));
  }
}

file_identifier* the_identifier::clone() const { return new (std::nothrow) the_identifier(*this); }

const char16_t* the_identifier::name() const { return block_->name(); }

const void* the_identifier::bytes() const { return block_->bytes; }

const char16_t* identifier_name(const file_identifier* id) {
  const auto* t = dynamic_cast<const the_identifier*>(id);
  return t ? t->name() : nullptr;
}

// ---------------------------------------------------------------- file opening

win32_file* win32_dir::open_handle(const char16_t* path, security_source* security, DWORD access, bool share,
                                   DWORD creation) {
  DWORD share_mode = 0;
  if (share)
    share_mode = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  else if (!(access & GENERIC_WRITE))
    share_mode = FILE_SHARE_READ;
  HANDLE h = create_handle(path, security, access, share_mode, creation, FILE_ATTRIBUTE_NORMAL);
  if (!h) return nullptr;
  auto* f = new (std::nothrow) win32_file(h);
  if (!f) {
    CloseHandle(h);
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  clear_error();
  return f;
}

const char16_t* win32_dir::id_name(const file_identifier* id) {
  const char16_t* name = identifier_name(id);
  if (!name) raise(KV_SITE, fs_error::open);
  return name;
}

const char16_t* win32_dir::entry_name(i_dir::iterator* entry) {
  const char16_t* name = entry && entry->Good() ? entry->name() : nullptr;
  if (!name) raise(KV_SITE, fs_error::open);
  return name;
}

ri_file* win32_dir::open_file(const file_identifier* id, bool share) {
  const char16_t* name = id_name(id);
  return name ? open_handle(name, nullptr, GENERIC_READ, share, OPEN_EXISTING) : nullptr;
}

ri_file* win32_dir::open_file(i_dir::iterator* entry, bool share) {
  const char16_t* name = entry_name(entry);
  return name ? open_handle(name, nullptr, GENERIC_READ, share, OPEN_EXISTING) : nullptr;
}

ri_file* win32_dir::open_file(const char16_t* path, bool share) {
  return open_handle(path, nullptr, GENERIC_READ, share, OPEN_EXISTING);
}

ro_file* win32_dir::open_file_for_write(const char16_t* path, bool share) {
  return open_handle(path, nullptr, GENERIC_WRITE, share, OPEN_EXISTING);
}

ro_file* win32_dir::open_file_for_write(const file_identifier* id, bool share) {
  const char16_t* name = id_name(id);
  return name ? open_handle(name, nullptr, GENERIC_WRITE, share, OPEN_EXISTING) : nullptr;
}

ro_file* win32_dir::open_file_for_write(i_dir::iterator* entry, bool share) {
  const char16_t* name = entry_name(entry);
  return name ? open_handle(name, nullptr, GENERIC_WRITE, share, OPEN_EXISTING) : nullptr;
}

rio_file* win32_dir::open_file_rw(const file_identifier* id, bool share) {
  const char16_t* name = id_name(id);
  return name ? open_handle(name, nullptr, GENERIC_READ | GENERIC_WRITE, share, OPEN_EXISTING) : nullptr;
}

rio_file* win32_dir::open_file_rw(i_dir::iterator* entry, bool share) {
  const char16_t* name = entry_name(entry);
  return name ? open_handle(name, nullptr, GENERIC_READ | GENERIC_WRITE, share, OPEN_EXISTING) : nullptr;
}

rio_file* win32_dir::open_file_rw(const char16_t* path, bool share) {
  return open_handle(path, nullptr, GENERIC_READ | GENERIC_WRITE, share, OPEN_EXISTING);
}

rio_file* win32_dir::create_file(const char16_t* path, bool share, security_source* security) {
  return open_handle(path, security, GENERIC_READ | GENERIC_WRITE, share, CREATE_ALWAYS);
}

rio_file* win32_dir::create_file(const char16_t* path) {
  const bool drive_form = path_.empty();
  if (sector_size_ == 0 || !is_valid_file_name(path, drive_form)) {
    raise(KV_SITE, fs_error::not_supported);
    return nullptr;
  }
  HANDLE h = create_handle(path, nullptr, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                           FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL);
  if (!h) return nullptr;
  auto* f = new (std::nothrow) win32_nocache_file(h, sector_size_);
  if (!f) {
    CloseHandle(h);
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  clear_error();
  return f;
}

// ---------------------------------------------------------------- directories

ri_dir* win32_dir::open_dir(const file_identifier* id) {
  const char16_t* name = id_name(id);
  return name ? open_dir_path(name) : nullptr;
}

ri_dir* win32_dir::open_dir(i_dir::iterator* entry) {
  const char16_t* name = entry_name(entry);
  return name ? open_dir_path(name) : nullptr;
}

ri_dir* win32_dir::open_dir(const char16_t* path) { return open_dir_path(path); }

ri_dir* win32_dir::reopen() { return open_dir(u"."); }

namespace {
shell_root_fn shell_root = nullptr;
}

void set_shell_root(shell_root_fn root) { shell_root = root; }

namespace {
Common::ThreadLocalVariable& owner_window_variable() {
  static Common::ThreadLocalVariable variable;
  return variable;
}
}  // namespace

HWND prompt_owner_window() { return reinterpret_cast<HWND>(owner_window_variable().get()); }

HWND set_prompt_owner_window(HWND window, bool process_wide) {
  return reinterpret_cast<HWND>(owner_window_variable().set(reinterpret_cast<std::uintptr_t>(window), process_wide));
}

ri_dir* win32_dir::open_special(std::int32_t kind) {
  if (kind == entry_kind::computer) return open_dir(u"C:\\..");
  if (kind == entry_kind::common_app_data || kind == entry_kind::app_data || kind == entry_kind::local_app_data) {
    i_dir* shell = shell_root ? shell_root() : nullptr;
    if (!shell) {
      raise(KV_SITE, fs_error::open);
      return nullptr;
    }
    std::unique_ptr<ri_dir> special(shell->open_special(kind));
    if (!special) {
      Common::Error e = shell->take_error();
      if (e)
        set_error(std::move(e));
      else
        raise(KV_SITE, fs_error::open);
      return nullptr;
    }
    const char16_t* p = special->path();
    if (!p || !*p) {
      raise(KV_SITE, fs_error::open);
      return nullptr;
    }
    return open_dir_path(p);
  }
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

const char16_t* win32_dir::path() { return path_.c_str(); }

int win32_dir::relation(i_dir* other) {
  if (!other) return 2;
  if (other == this) return 0;
  const char16_t* theirs = other->path();
  if (!theirs) return path_.empty() ? 0 : 2;
  const std::size_t n = std::char_traits<char16_t>::length(theirs);
  if (!path_.empty()) {
    if (n < path_.size() || !compare_prefix(path_.c_str(), theirs, path_.size())) return 2;
  }
  return n == path_.size() ? 0 : 1;
}

bool win32_dir::is_system_dir() { return true; }

bool win32_dir::resolve(std::u16string& result, const char16_t* path, bool stream) const {
  return resolve_path(path_.c_str(), result, path, stream);
}

void win32_dir::control(void* request) {
  auto* r = static_cast<dir_control_request*>(request);
  if (!r) {
    file_object::control(request);
  } else if (r->code == control_code("NCDR")) {
    r->pointer1 = static_cast<nocache_dir*>(this);
    clear_error();
  } else if (r->code == control_code("GSYP")) {
    r->pointer3 = const_cast<char16_t*>(path_.c_str());
    clear_error();
  } else if (r->code == control_code("SPWD")) {
    const auto* other_path = static_cast<const char16_t*>(r->pointer3);
    HWND owner = prompt_owner_window();
    if (other_path) {
      std::unique_ptr<win32_dir> other(open_dir_path(other_path));
      if (!other) return;
      other->connect(r->text1, r->text2, owner);
      set_error(other->take_error());
    } else {
      connect(r->text1, r->text2, owner);
    }
  } else {
    file_object::control(request);
  }
}

// ---------------------------------------------------------------- iterators

win32_dir::iterator::~iterator() {
  if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
}

const char16_t* win32_dir::iterator::name() { return has_entry() ? data_.cFileName : nullptr; }

const char16_t* win32_dir::iterator::short_name() {
  return has_entry() && data_.cAlternateFileName[0] ? data_.cAlternateFileName : nullptr;
}

std::uint64_t win32_dir::iterator::size() {
  return has_entry() ? (static_cast<std::uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow : 0;
}

std::int64_t win32_dir::iterator::write_time() { return has_entry() ? file_time_to_ms(data_.ftLastWriteTime) : 0; }

std::int64_t win32_dir::iterator::creation_time() { return has_entry() ? file_time_to_ms(data_.ftCreationTime) : 0; }

std::int64_t win32_dir::iterator::access_time() { return has_entry() ? file_time_to_ms(data_.ftLastAccessTime) : 0; }

std::int32_t win32_dir::iterator::attributes() {
  return has_entry() ? static_cast<std::int32_t>(data_.dwFileAttributes) : -1;
}

bool win32_dir::iterator::is_hidden() { return !has_entry() || (data_.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0; }

int win32_dir::iterator::expandable() { return network_ ? 2 : 1; }

bool win32_dir::iterator::is_dot_entry() const {
  const char16_t* n = data_.cFileName;
  return n[0] == u'.' && (n[1] == 0 || (n[1] == u'.' && n[2] == 0));
}

std::int32_t drive_type_kind(UINT drive_type) {
  switch (drive_type) {
    case DRIVE_REMOVABLE:
      return entry_kind::removable;
    case DRIVE_FIXED:
      return entry_kind::fixed;
    case DRIVE_REMOTE:
      return entry_kind::network_drive;
    case DRIVE_CDROM:
      return entry_kind::cdrom;
    case DRIVE_RAMDISK:
      return entry_kind::ramdisk;
    default:
      return entry_kind::unknown;
  }
}

win32_dir::letter_iterator::letter_iterator() : mask_(GetLogicalDrives()) {}

void win32_dir::letter_iterator::next() {
  kind_ = 0;
  // A failed positioning may have left a character before 'A'.
  if (letter_ < u'A' - 1) letter_ = u'A' - 1;
  while (letter_ < u'Z') {
    ++letter_;
    if (mask_ & (1u << (letter_ - u'A'))) {
      name_[0] = letter_;
      return;
    }
  }
  raise(KV_SITE, fs_error::end_of_file);
}

void win32_dir::letter_iterator::position_at_letter(char16_t letter) {
  if (letter >= u'a' && letter <= u'z') letter = static_cast<char16_t>(letter - 32);
  kind_ = 0;
  letter_ = letter;
  name_[0] = letter;
  if (letter < u'A' || letter > u'Z' || !(mask_ & (1u << (letter - u'A')))) raise(KV_SITE, fs_error::end_of_file);
}

file_identifier* win32_dir::letter_iterator::identifier() {
  if (Bad()) return nullptr;
  const unsigned char bytes[3] = {static_cast<unsigned char>(letter_), ':', 0};
  return new (std::nothrow) the_identifier(name_, bytes, 3);
}

const char16_t* win32_dir::letter_iterator::name() { return Good() ? name_ : nullptr; }

std::int32_t win32_dir::letter_iterator::kind() {
  if (Bad()) return entry_kind::unknown;
  if (kind_ == 0) {
    const char root[4] = {static_cast<char>(letter_), ':', '\\', 0};
    kind_ = drive_type_kind(GetDriveTypeA(root));
  }
  return kind_;
}

// ---------------------------------------------------------------- roots

namespace {

bool is_windows_9x() { return (GetVersion() & 0x80000000u) != 0; }

}  // namespace

win32_dir* root_dir() {
  static const std::unique_ptr<win32_dir> root = []() -> std::unique_ptr<win32_dir> {
    SetErrorMode(SEM_FAILCRITICALERRORS);
    if (is_windows_9x()) {
      SetFileApisToANSI();
      return std::unique_ptr<win32_dir>(new win9x_dir());
    }
    return std::unique_ptr<win32_dir>(new winnt_dir());
  }();
  return root.get();
}

win32_dir* current_dir() {
  static const std::unique_ptr<win32_dir> current = []() -> std::unique_ptr<win32_dir> {
    char16_t buffer[261] = {};
    DWORD n = 0;
    if (is_windows_9x()) {
      char narrow[261] = {};
      n = win32_calls::current_directory_ansi(narrow, 261);
      if (n != 0 && n <= 260 && !MultiByteToWideChar(CP_ACP, 0, narrow, -1, buffer, 261)) n = 0;
    } else {
      n = GetCurrentDirectoryW(261, buffer);
    }
    if (n == 0 || n > 260) {
      buffer[0] = 0;
      n = GetWindowsDirectoryW(buffer, 261);
      if (n == 0 || n > 260) buffer[0] = 0;
    }
    win32_dir* root = root_dir();
    win32_dir* d = buffer[0] ? root->open_dir_path(buffer) : nullptr;
    if (!d) d = root->open_dir_path(u".");
    return std::unique_ptr<win32_dir>(d);
  }();
  return current.get();
}

const char16_t* module_path() {
  static char16_t buffer[261];
  static bool filled = false;
  if (!filled) {
    root_dir()->module_file_name(buffer, 261);
    buffer[260] = 0;
    filled = true;
  }
  return buffer;
}

// ---------------------------------------------------------------- watching

void win32_dir::watch(change_callback* callback) {
  if (!callback) {
    watch_registry(watch_cookie_, nullptr, nullptr, nullptr);
    watch_cookie_ = 0;
    clear_error();
    return;
  }
  if (watch_cookie_) {
    // Another callback for the registration; when a callback has ended it,
    // the cookie is gone and a new registration follows.
    watch_cookie_ = watch_registry(watch_cookie_, nullptr, this, callback);
    if (watch_cookie_) {
      clear_error();
      return;
    }
  }
  if (path_.empty()) {
    raise(KV_SITE, fs_error::open);
    return;
  }
  HANDLE handle = first_change_handle();
  if (!handle) return;
  const std::uint32_t cookie = watch_registry(0, handle, this, callback);
  if (cookie == 0)
    raise(KV_SITE, fs_error::read);
  else
    clear_error();
  watch_cookie_ = cookie;
}

void win32_dir::rearm_watch() {
  if (watch_cookie_) rearm_registration(watch_cookie_);
}
