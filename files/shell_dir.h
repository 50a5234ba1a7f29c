// The shell namespace as the file library sees it: entry kinds of shell
// items, relations of item ID lists, and the special folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_object.h"

struct ITEMIDLIST;

namespace shell_dir {

// The entry kind of an item from its SFGAO attributes and parsing name.
std::int32_t item_kind(std::uint32_t attributes, const std::u16string& parsing_name);

// 0 same list, 1 `other` lies inside `self`, 2 otherwise (also for null).
int relation(const ITEMIDLIST* self, const ITEMIDLIST* other);

// The list of the parent folder, terminator included; the desktop (the empty
// list) is its own parent.
std::vector<unsigned char> parent_list(const ITEMIDLIST* absolute);

// The folder of a special kind (common app data, app data, local app data,
// desktop), made when missing. On failure the text is empty and `error`
// holds the code (0x4000e for other kinds, 0x40007 when no folder can be had).
std::u16string special_folder(std::int32_t kind, std::uint32_t& error);

}  // namespace shell_dir

// ---------------------------------------------------------------------------
// Directories of the shell namespace: a shell folder and the absolute item ID
// list that names it from the desktop.

struct IEnumIDList;
struct IShellFolder2;
struct shell_watch_node;  // files/shell_watch.h

class win32_shell_dir : public ri_dir {
 public:
  class iterator;
  class normal_iterator;

  // Takes over one reference of `folder` (the caller adds it or hands over a
  // reference it got). `list` is absolute, terminator included.
  win32_shell_dir(IShellFolder* folder, const ITEMIDLIST* list, shell_watch_node* node);
  ~win32_shell_dir() override;

  ri_file* open_file(const file_identifier* id, bool share) override;
  ri_file* open_file(i_dir::iterator* entry, bool share) override;
  ri_file* open_file(const char16_t* path, bool share) override;
  ri_dir* open_dir(const file_identifier* id) override;
  ri_dir* open_dir(i_dir::iterator* entry) override;
  ri_dir* open_dir(const char16_t* path) override;
  ri_dir* open_parent(const char16_t** path) override;
  ri_dir* reopen() override;
  ri_dir* open_special(std::int32_t kind) override;
  i_dir::iterator* iterate(const file_identifier* id) override;
  i_dir::iterator* iterate(const char16_t* name) override;
  i_dir::iterator* iterate() override;
  i_dir::iterator* iterate_self() override;
  const char16_t* path() override;
  int relation(i_dir* other) override;
  int compare_names(const file_identifier* a, const file_identifier* b) override;
  std::int32_t drive_kind() override;
  void free_space(std::uint64_t& total, std::uint64_t& total_free, std::uint64_t& caller_free) override;
  bool is_system_dir() override;
  // Defined with the shell's change notifications (files/shell_watch.cpp).
  void watch(change_callback* callback) override;
  void rearm_watch() override;
  dir_and_identifier resolve_link(const file_identifier* id) override;
  ITEMIDLIST* item_id_list(const file_identifier* id, bool relative) override;
  dir_and_identifier open_item_id_list(const ITEMIDLIST* absolute) override;
  IShellFolder* shell_folder() override;
  // "SPWD", "GSYP"; others: 0x4000e.
  void control(void* request) override;

  file_identifier* identifier_from_item_id_list(const ITEMIDLIST* list, bool absolute);

  // The absolute list, terminator included.
  const std::vector<unsigned char>& absolute_list() const { return list_; }
  unsigned long registration() const { return registration_; }

 private:
  friend struct shell_watch_access;  // files/shell_watch.cpp

  IShellFolder* folder_;
  std::vector<unsigned char> list_;
  std::vector<unsigned char> scratch_;
  // Empty until computed; afterwards ends with one NUL.
  std::u16string fs_path_;
  unsigned long registration_ = 0;
  shell_watch_node* node_ = nullptr;
};

// The desktop directory, made on first call; null when the shell allocator or
// the desktop folder cannot be had. Lives until exit.
win32_shell_dir* shell_root_dir();
