// The Windows directory base shared by the Unicode (NT) and ANSI (9x)
// implementations: paths, relations, file opening, entry iterators over find
// data, the drive-letter iterator, entry identifiers and the process's roots.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "files/file_object.h"
#include "files/win32_file.h"
#include "platform/win32/windows.h"

// The entry identifier of the Windows and shell-namespace directories: a name
// and optional opaque bytes in one shared, reference-counted block.
class the_identifier : public file_identifier {
 public:
  // A null name counts as empty; `bytes` may be null when `count` is 0.
  the_identifier(const char16_t* name, const void* bytes, std::size_t count);
  the_identifier(const the_identifier& other);
  the_identifier& operator=(const the_identifier&) = delete;
  ~the_identifier() override;

  file_identifier* clone() const override;
  const char16_t* name() const;
  // Null when the identifier carries no bytes.
  const void* bytes() const;

  struct block;

 private:
  block* block_;
};

// The name of a Windows or shell identifier, or null for null (or for an
// identifier of another kind).
const char16_t* identifier_name(const file_identifier* id);

class windows_dir : public rio_dir {
 public:
  class root_iterator;

 protected:
  windows_dir() = default;
  explicit windows_dir(std::u16string path) : path_(std::move(path)) {}

  // Canonical full path ending in '\', empty for the computer level.
  std::u16string path_;
};

// The single entry of the computer level: empty name, kind 138.
class windows_dir::root_iterator : public i_dir::iterator {
 public:
  void next() override {}
  file_identifier* identifier() override { return nullptr; }
  const char16_t* name() override { return u""; }
  std::uint64_t size() override { return 0; }
  std::int32_t kind() override { return entry_kind::computer; }
};

class win32_dir : public windows_dir, public nocache_dir {
 public:
  class iterator;
  class letter_iterator;
  class share_iterator;

  // -- file opening
  ri_file* open_file(const file_identifier* id, bool share) override;
  ri_file* open_file(i_dir::iterator* entry, bool share) override;
  ri_file* open_file(const char16_t* path, bool share) override;
  ro_file* open_file_for_write(const char16_t* path, bool share) override;
  ro_file* open_file_for_write(const file_identifier* id, bool share) override;
  ro_file* open_file_for_write(i_dir::iterator* entry, bool share) override;
  rio_file* open_file_rw(const file_identifier* id, bool share) override;
  rio_file* open_file_rw(i_dir::iterator* entry, bool share) override;
  rio_file* open_file_rw(const char16_t* path, bool share) override;
  rio_file* create_file(const char16_t* path, bool share, security_source* security) override;
  // Unbuffered, unshared, always created; needs the sector size.
  rio_file* create_file(const char16_t* path) override;

  // -- directories
  ri_dir* open_dir(const file_identifier* id) override;
  ri_dir* open_dir(i_dir::iterator* entry) override;
  ri_dir* open_dir(const char16_t* path) override;
  ri_dir* reopen() override;
  ri_dir* open_special(std::int32_t kind) override;
  const char16_t* path() override;
  int relation(i_dir* other) override;
  bool is_system_dir() override;
  // "NCDR", "GSYP", "SPWD"; others: 0x4000e.
  void control(void* request) override;
  // Registers (null: removes) a change callback for this folder.
  void watch(change_callback* callback) override;
  void rearm_watch() override;

  std::uint32_t watch_cookie() const { return watch_cookie_; }
  void set_watch_cookie(std::uint32_t cookie) { watch_cookie_ = cookie; }

  // -- what the NT and 9x implementations supply
  // The program file's full path.
  virtual void module_file_name(char16_t* buffer, std::uint32_t size) = 0;
  // A new directory object for `path` resolved against this one, or null.
  virtual win32_dir* open_dir_path(const char16_t* path) = 0;
  // A handle for `path`, or null with this directory's error set.
  virtual HANDLE create_handle(const char16_t* path, security_source* security, DWORD access, DWORD share_mode,
                               DWORD creation, DWORD flags_and_attributes) = 0;
  virtual HANDLE first_change_handle() = 0;
  virtual void connect(const char16_t* user, const char16_t* password, HWND owner) = 0;
  // True when the first `count` characters are equal for the file system.
  virtual bool compare_prefix(const char16_t* a, const char16_t* b, std::size_t count) = 0;
  virtual letter_iterator* letters() = 0;

  // resolve_path against this directory's path.
  bool resolve(std::u16string& result, const char16_t* path, bool stream) const;

 protected:
  win32_dir() = default;
  explicit win32_dir(std::u16string path) : windows_dir(std::move(path)) {}

  // Change-watch registration, 0 when not watched.
  std::uint32_t watch_cookie_ = 0;
  // 0 until sector_size() has run.
  std::uint32_t sector_size_ = 0;

  // The name an identifier or an entry stands for; null (with an open error
  // raised) when there is none.
  const char16_t* id_name(const file_identifier* id);
  const char16_t* entry_name(i_dir::iterator* entry);

 private:
  win32_file* open_handle(const char16_t* path, security_source* security, DWORD access, bool share, DWORD creation);
};

// Base of the entry iterators over Win32 find data.
class win32_dir::iterator : public i_dir::iterator {
 public:
  ~iterator() override;

  const char16_t* name() override;
  const char16_t* short_name() override;
  std::uint64_t size() override;
  std::int64_t write_time() override;
  std::int64_t creation_time() override;
  std::int64_t access_time() override;
  std::int32_t attributes() override;
  bool is_hidden() override;
  int expandable() override;

  // True when the current name is "." or "..".
  bool is_dot_entry() const;

 protected:
  // `network`: the listed directory's path begins with '\'.
  explicit iterator(bool network) : network_(network) {}
  bool has_entry() const { return Good() && find_ != INVALID_HANDLE_VALUE; }

  bool network_;
  WIN32_FIND_DATAW data_{};
  HANDLE find_ = INVALID_HANDLE_VALUE;
};

// The drive letters of the machine, from A to Z.
class win32_dir::letter_iterator : public i_dir::iterator {
 public:
  letter_iterator();

  void next() override;
  file_identifier* identifier() override;
  const char16_t* name() override;
  std::uint64_t size() override { return 0; }
  std::int32_t kind() override;
  int expandable() override { return 2; }

  // Moves to the drive of `letter` (any case); 0x40002 when it does not exist.
  void position_at_letter(char16_t letter);

 private:
  DWORD mask_;
  char16_t letter_ = u'A' - 1;
  char16_t name_[3] = {0, u':', 0};
  std::int32_t kind_ = 0;
};

// The single entry of a share's root: its name and kind 142; there is no
// next entry. Each directory class makes its own identifiers.
class win32_dir::share_iterator : public i_dir::iterator {
 public:
  void next() override { raise(KV_SITE, fs_error::not_supported); }
  const char16_t* name() override { return name_.c_str(); }
  std::uint64_t size() override { return 0; }
  std::int32_t kind() override { return entry_kind::share; }

 protected:
  explicit share_iterator(std::u16string name) : name_(std::move(name)) {}
  std::u16string name_;
};

// Drive type of the system -> entry kind.
std::int32_t drive_type_kind(UINT drive_type);

// The computer level (made on first use); the process's current directory as
// it was at the first call; the program file's full path. Call each once
// before other threads start. The objects live until exit.
win32_dir* root_dir();
win32_dir* current_dir();
const char16_t* module_path();

// The shell namespace answers the special folders 143-145; until it
// registers itself those kinds report 0x40007.
using shell_root_fn = i_dir* (*)();
void set_shell_root(shell_root_fn root);

// The window that owns credential prompts of network connections and shell
// calls: the calling thread's own when it has one, else the process-wide one.
// The program sets neither, so it is null and nothing prompts.
HWND prompt_owner_window();
// Tests only. Sets the process-wide window, or the calling thread's own, and
// returns the previous one; a thread's previous value when it had none is
// all ones, and writing that back removes its own value again.
HWND set_prompt_owner_window(HWND window, bool process_wide);
