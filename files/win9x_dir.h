// The directory object of Windows 95, 98 and Me: the twin of winnt_dir that
// reaches the system through the ANSI calls on plain paths of at most 260
// bytes (no "\\?\" form, no impersonation, no redirection guard). Identifiers
// made by its iterators carry the entry's ANSI name as their bytes.
#pragma once

#include <string>

#include "files/winnt_dir.h"

class win9x_dir : public winnt_dir {
 public:
  class iterator;
  class share_iterator;

  win9x_dir() = default;
  explicit win9x_dir(std::u16string resolved_path) : winnt_dir(std::move(resolved_path)) {}

  // -- paths (CP_ACP, at most 260 bytes with the terminator)
  // resolve_path of `name` without the trailing separator.
  bool ansi_path(std::string& out, const char16_t* name) const;
  // This directory's path ending in '\'.
  bool own_ansi_path(std::string& out) const;
  // C:\ or \\server\share\.
  bool drive_root(std::string& out) const;

  virtual void connect_ansi(const char* user, const char* password, HWND owner);
  // The wide form stays callable beside the ANSI one.
  using winnt_dir::prepare_path;
  virtual bool prepare_path(const std::string& ansi_path);

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
  // "PDRN" (through wininit.ini) and "GFST"; others as win32_dir.
  void control(void* request) override;

  // -- o_dir
  void remove_file(const char16_t* path) override;
  void rename(const char16_t* old_path, const char16_t* new_path) override;
  void create_hard_link(const char16_t* link, const char16_t* existing) override;
  void create_junction(const char16_t* link, const char16_t* target, const void* reserved_a,
                       std::uint32_t reserved_b) override;
  void create_dir(const char16_t* path, security_source* security) override;
  void remove_dir(const char16_t* path) override;
  void set_attributes(const char16_t* path, std::uint32_t attributes) override;
  void set_security(const char16_t* path, security_source* security) override;

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

 protected:
  struct ansi_calls;
};

// The entries of one ANSI search; entries whose names do not convert are
// skipped like "." and "..".
class win9x_dir::iterator : public win32_dir::iterator {
 public:
  explicit iterator(const std::string& pattern);

  void next() override;
  file_identifier* identifier() override;
  std::int32_t kind() override;

 private:
  // False (data cleared) when a name does not convert.
  bool convert(const WIN32_FIND_DATAA& a);
  bool skip() const { return is_dot_entry() || !converted_; }

  std::string ansi_name_;
  bool converted_ = false;
};

// The single entry of \\server\share; its identifier carries the ANSI name.
class win9x_dir::share_iterator : public win32_dir::share_iterator {
 public:
  explicit share_iterator(const std::string& share_path);
  file_identifier* identifier() override;

 private:
  std::string ansi_name_;
};
