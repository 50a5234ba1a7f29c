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

  // "BKUP" and "RSTR" (files/nt_backup.h); the rest as win32_dir.
  void control(void* request) override;

  // -- i_dir
  i_dir::iterator* iterate(const file_identifier* id) override;
  i_dir::iterator* iterate(const char16_t* name) override;
  i_dir::iterator* iterate() override;
  i_dir::iterator* iterate_self() override;
  int compare_names(const file_identifier* a, const file_identifier* b) override;
  ri_dir* open_special(std::int32_t kind) override;

  // -- o_dir
  void remove_file(const char16_t* path) override;
  void rename(const char16_t* old_path, const char16_t* new_path) override;
  void create_dir(const char16_t* path, security_source* security) override;
  void remove_dir(const char16_t* path) override;
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

 private:
  template <class Call>
  bool entry_call(std::uint64_t site, const char16_t* name, std::uint32_t bad_path_code, const char* function,
                  Call call);
};
