// The directory object of NT-family systems. It names a directory by its
// canonical path and holds no handle; every call reaches the system through a
// wide Win32 call on the "\\?\" long form of a path, so long paths work.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/windows_dir.h"
#include "platform/win32/windows.h"

// True for "\\?\UNC\...".
bool is_unc_long_path(std::u16string_view long_path);
// True for "\\?\UNC\server\share" (no further backslash).
bool is_share_root(std::u16string_view long_path);

// Switches WOW64 file-system redirection off for one call's scope, where the
// system has the entry points for it.
class fs_redirection_guard {
 public:
  fs_redirection_guard();
  ~fs_redirection_guard();
  fs_redirection_guard(const fs_redirection_guard&) = delete;
  fs_redirection_guard& operator=(const fs_redirection_guard&) = delete;

 private:
  bool disabled_ = false;
  void* saved_ = nullptr;
};

class winnt_dir : public win32_dir {
 public:
  class iterator;
  class volume_self_iterator;
  class share_iterator;

  // The computer level above the drives and servers.
  winnt_dir() = default;
  // `resolved_path` is canonical (resolve_path).
  explicit winnt_dir(std::u16string resolved_path) : win32_dir(std::move(resolved_path)) {}
  ~winnt_dir() override;

  // -- paths
  // resolve_path of `name` without the trailing separator, in long form:
  // "\\?\C:\dir\x", "\\?\UNC\server\share\x", or an unchanged "\\?\" path.
  // False when the name does not resolve or resolves to the computer level.
  bool long_path(std::u16string& out, const char16_t* name, bool stream = false) const;
  // This directory's long path ending in '\'.
  bool own_long_path(std::u16string& out) const;
  // Called with the final long path before every system call; on NT it has
  // nothing to do.
  virtual bool prepare_path(const std::u16string& long_path);
  // Tests: looks the hard-link entry points up again (after hiding some).
  static void look_up_entry_points();

  // -- i_dir
  i_dir::iterator* iterate(const file_identifier* id) override;
  i_dir::iterator* iterate(const char16_t* name) override;
  i_dir::iterator* iterate() override;
  i_dir::iterator* iterate_self() override;
  int compare_names(const file_identifier* a, const file_identifier* b) override;
  ri_dir* open_special(std::int32_t kind) override;
  dir_and_identifier resolve_link(const file_identifier* id) override;
  std::int32_t drive_kind() override;
  void free_space(std::uint64_t& total, std::uint64_t& total_free, std::uint64_t& caller_free) override;
  void volume_label(char16_t* buffer, std::uint32_t size) override;
  // "STME", "SSFN", "PDRN", "SRSQ", "CMPR", "CRPT", "GFST", "BKUP", "RSTR";
  // others as win32_dir.
  void control(void* request) override;
  // "BKUP" and "RSTR" (files/nt_backup.h).
  void backup_control(void* request);

  // -- o_dir
  void remove_file(const char16_t* path) override;
  void rename(const char16_t* old_path, const char16_t* new_path) override;
  void create_hard_link(const char16_t* link, const char16_t* existing) override;
  void create_junction(const char16_t* link, const char16_t* target, const void* reserved_a,
                       std::uint32_t reserved_b) override;
  void create_dir(const char16_t* path, security_source* security) override;
  void remove_dir(const char16_t* path) override;
  void set_security(const char16_t* path, security_source* security) override;
  void set_attributes(const char16_t* path, std::uint32_t attributes) override;

  // -- nocache_dir
  std::uint32_t sector_size() override;

  // -- win32_dir
  void module_file_name(char16_t* buffer, std::uint32_t size) override;
  win32_dir* open_dir_path(const char16_t* path) override;
  HANDLE create_handle(const char16_t* path, security_source* security, DWORD access, DWORD share_mode, DWORD creation,
                       DWORD flags_and_attributes) override;
  HANDLE first_change_handle() override;
  void connect(const char16_t* user, const char16_t* password, HWND owner) override;
  bool compare_prefix(const char16_t* a, const char16_t* b, std::size_t count) override;
  letter_iterator* letters() override;

 protected:
  // How this twin reaches the system (files/dir_calls.h): the text of its
  // paths, their forms, the share test, its iterators and what a call runs
  // under. win9x_dir has its own.
  struct wide_calls;
  // The plumbing both twins share over their calls (files/dir_calls.h).
  template <class Calls>
  i_dir::iterator* search_all();
  template <class Calls>
  i_dir::iterator* search_name(const char16_t* name);
  template <class Calls>
  i_dir::iterator* search_identifier(const file_identifier* id);
  template <class Calls>
  i_dir::iterator* search_self();
  // A share's single entry, or the entries the path matches.
  template <class Calls>
  i_dir::iterator* search_path(const typename Calls::text& path);
  // The temporary folder the system named, as a directory of the twin's class.
  ri_dir* open_temporary(const char16_t* temp_path);
  // A new directory of the twin's class on `path` resolved against this one.
  template <class Calls>
  win32_dir* open_as(const char16_t* path);
  // One call on the path of `name`: a path that cannot be made fails with
  // `bad_path_code` before the call, a failed call with `failure_code`.
  template <class Calls, class Call>
  bool entry_call(std::uint64_t site, const char16_t* name, std::uint32_t bad_path_code, std::uint32_t failure_code,
                  const char* function, Call call);

 private:
  // The drive-letter iterator at `letter`, handed over.
  i_dir::iterator* letter_at(char16_t letter);
  // The single entry of a volume named by its GUID path.
  i_dir::iterator* volume_self();
  // The mount-point path of the volume holding this directory.
  bool volume_path(std::u16string& out) const;
  // The attributes a security source hands out (null without a source); false
  // with the error set when it cannot give them.
  bool source_attributes(security_source* security, SECURITY_ATTRIBUTES*& sa);
  // One call on the path of `name` with the attributes of `security`: a bad
  // path fails with the create code, a refused source with its own error.
  template <class Call>
  void secured_call(std::uint64_t site, const char16_t* name, security_source* security, std::uint32_t failure_code,
                    const char* function, Call call);
};

// The entries of one search: FindFirstFileW/FindNextFileW, "." and ".."
// skipped, with the attributes only NT supplies read on demand.
class winnt_dir::iterator : public win32_dir::iterator {
 public:
  explicit iterator(const std::u16string& search_path);

  void next() override;
  file_identifier* identifier() override;
  std::uint64_t stored_size() override;
  std::int32_t kind() override;
  // The owner's SID as "S-1-..." text (char16_t), or null.
  const void* owner() override;
  std::uint32_t link_count() override;
  std::uint64_t file_index() override;
  const char16_t* link_target() override;
  // "GRSQ"; others as file_object.
  void control(void* request) override;

 private:
  std::u16string entry_path() const { return prefix_ + data_.cFileName; }
  void entry_information();

  std::u16string prefix_;
  std::u16string owner_;
  std::u16string link_target_;
  std::uint32_t link_count_ = 1;
  std::uint32_t index_low_ = 0, index_high_ = 0;
  bool information_read_ = false;
};

// The single entry of a volume named by its GUID path.
class winnt_dir::volume_self_iterator : public i_dir::iterator {
 public:
  volume_self_iterator(std::u16string name, std::int32_t kind) : name_(std::move(name)), kind_(kind) {}
  void next() override { raise(KV_SITE, fs_error::end_of_file); }
  file_identifier* identifier() override;
  const char16_t* name() override { return name_.c_str(); }
  std::uint64_t size() override { return 0; }
  std::int32_t kind() override { return kind_; }

 private:
  std::u16string name_;
  std::int32_t kind_;
};

// The single entry of a share's root.
class winnt_dir::share_iterator : public win32_dir::share_iterator {
 public:
  explicit share_iterator(const std::u16string& share_path);
  file_identifier* identifier() override;
};

// Control request records of NT directories (the code first; texts are wide
// and zero-terminated).
struct set_entry_times_request {  // "STME"
  std::uint32_t code;
  const char16_t* name;
  std::int64_t write_time;
  std::int64_t creation_time;
  std::int64_t access_time;
};
struct short_name_request {  // "SSFN"
  std::uint32_t code;
  const char16_t* name;
  const char16_t* short_name;
};
struct restart_rename_request {  // "PDRN"; a null new name deletes
  std::uint32_t code;
  const char16_t* existing;
  const char16_t* new_name;
};
struct set_security_request {  // "SRSQ"; data in the form "GRSQ" gives
  std::uint32_t code;
  const char16_t* name;
  const void* data;
  std::uint32_t size;
};
// "GRSQ" of an NT iterator: the current entry's DACL, group, owner and SACL,
// each a 32-bit little-endian length and that many bytes. The caller frees
// `data` with delete[].
struct get_security_request {
  std::uint32_t code;
  std::uint8_t* data;
  std::uint32_t size;
};
struct dir_compression_request {  // "CMPR"
  std::uint32_t code;
  std::uint8_t enable;
};
struct encryption_request {  // "CRPT"
  std::uint32_t code;
  const char16_t* name;
  std::uint8_t encrypt;
};
struct file_system_name_request {  // "GFST"
  std::uint32_t code;
  char16_t name[64];
};
