// The shell namespace as the file library sees it: entry kinds of shell
// items, relations of item ID lists, and the special folders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/file_object.h"
#include "platform/win32/windows.h"

struct ITEMIDLIST;
struct IMalloc;
struct SHChangeNotifyEntry;
struct STRRET;

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
// The same with the given "SHGetFolderPathW".
using folder_path_fn = HRESULT (*)(HWND, int, HANDLE, DWORD, LPWSTR);
// `cause`, when given, receives the Win32 error behind a failure (0 when none).
std::u16string special_folder(std::int32_t kind, std::uint32_t& error, folder_path_fn folder_path,
                              std::uint32_t* cause = nullptr);

// The language the shell's texts are in: that of shell32's first version
// resource, else the system's default. Looked up once and kept.
std::uint16_t text_language();
// Tests only: the next text_language() looks again.
void forget_text_language();

// The shell's entry points as the root set-up looked them up; null when
// missing (the three by ordinal are there whenever a root exists).
struct entry_points {
  BOOL (*get_path)(const ITEMIDLIST*, LPWSTR) = nullptr;                          // "SHGetPathFromIDListW"
  HANDLE (*lock)(HANDLE, DWORD, ITEMIDLIST***, LONG*) = nullptr;                  // "SHChangeNotification_Lock"
  BOOL (*unlock)(HANDLE) = nullptr;                                               // "SHChangeNotification_Unlock"
  BOOL (*is_equal)(const ITEMIDLIST*, const ITEMIDLIST*) = nullptr;               // ordinal 21
  ULONG (*register_notify)(HWND, int, LONG, UINT, int, const SHChangeNotifyEntry*) = nullptr;  // ordinal 2
  BOOL (*deregister_notify)(ULONG) = nullptr;                                     // ordinal 4
  folder_path_fn folder_path = nullptr;                                           // shfolder "SHGetFolderPathW"
};
const entry_points& shell_entry_points();
// The shell allocator and the desktop folder held for the process (no
// reference added); null until shell_root_dir() has had them.
IMalloc* shell_allocator();
IShellFolder* desktop_folder();

// BindToObject for IID_IShellFolder, tried once more inside CoInitialize when
// the thread has no COM or the folder answered E_NOINTERFACE.
HRESULT bind_shell_folder(IShellFolder* folder, const ITEMIDLIST* list, IShellFolder** out);

// The text of a STRRET (string types freed with the shell allocator); `item`
// is the relative list an offset refers to. Leaves `out` alone for unknown
// types.
void strret_to_wide(STRRET& name, const ITEMIDLIST* item, std::u16string& out);

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
  // Gives the link's stored target without asking the link to look for it.
  dir_and_identifier resolve_link(const file_identifier* id) override;
  // With `resolve`, the link first finds its target again (it may have moved).
  dir_and_identifier resolve_link(const file_identifier* id, bool resolve);
  ITEMIDLIST* item_id_list(const file_identifier* id, bool relative) override;
  dir_and_identifier open_item_id_list(const ITEMIDLIST* absolute) override;
  IShellFolder* shell_folder() override;
  // "SPWD", "GSYP"; others: 0x4000e.
  void control(void* request) override;

  file_identifier* identifier_from_item_id_list(const ITEMIDLIST* list, bool absolute);
  // Without a watch.
  win32_shell_dir(IShellFolder* folder, const std::vector<unsigned char>& list);

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

  win32_shell_dir* open_relative(const ITEMIDLIST* relative);
  // A new directory taking over `folder`'s reference; null (the reference
  // released, out of memory raised) when it cannot be made.
  win32_shell_dir* new_dir(IShellFolder* folder, std::vector<unsigned char> list);
  // `dir` as an operation's result: success clears this directory's error.
  win32_shell_dir* made(win32_shell_dir* dir);
  win32_shell_dir* parse_and_bind(IShellFolder* folder, const char16_t* text, bool relative);
  IShellFolder* parent_folder(std::vector<unsigned char>& parent, std::size_t& last);
  const std::u16string& fs_path();
  ri_dir* reopened();
};

// One item of a shell folder.
class win32_shell_dir::iterator : public i_dir::iterator {
 public:
  // Takes over one reference of `folder`; positions on a copy of the relative
  // list `item` (null: none). With `validate`, a folder that cannot answer
  // for the item leaves the iterator Bad, and an item the shell no longer
  // finds keeps no attributes.
  iterator(IShellFolder* folder, const ITEMIDLIST* item, bool validate);
  ~iterator() override;

  // A single item cannot advance: 0x4000e.
  void next() override;
  file_identifier* identifier() override;
  const char16_t* name() override;
  const char16_t* display_name() override;
  std::uint64_t size() override;
  std::int32_t kind() override;
  std::int64_t write_time() override;
  std::int64_t creation_time() override;
  std::int64_t access_time() override;
  std::int32_t attributes() override;
  bool is_hidden() override;
  int expandable() override;

  // Null when Bad or without item.
  const ITEMIDLIST* current_item() const { return has_item() ? item_ : nullptr; }

  struct find_data;

 protected:
  explicit iterator(IShellFolder* folder);
  void set_item(const ITEMIDLIST* item, bool validate);
  bool has_item() const { return Good() && item_; }
  const find_data* details();

  IShellFolder* folder_;
  std::int32_t kind_ = 0;
  ITEMIDLIST* item_ = nullptr;
  std::u16string parsing_name_;
  std::u16string display_name_;
  std::uint32_t attributes_ = 0;
  std::uint32_t asked_ = 0;
  IShellFolder2* folder2_ = nullptr;
  std::unique_ptr<find_data> find_data_;
};

// Every item of a shell folder, files and folders, hidden ones included.
class win32_shell_dir::normal_iterator : public win32_shell_dir::iterator {
 public:
  explicit normal_iterator(win32_shell_dir* dir);
  ~normal_iterator() override;
  void next() override;

 private:
  IEnumIDList* enum_ = nullptr;
};

// The desktop directory, made on first call; null when the shell allocator or
// the desktop folder cannot be had. Lives until exit.
win32_shell_dir* shell_root_dir();
