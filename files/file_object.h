// The one family of file and directory interfaces. Nothing here throws: each
// object keeps a sticky error that failing operations store and later
// operations look at. Objects returned by open, create and iterate operations
// belong to the caller and are deleted through file_object's destructor; texts
// returned by accessors stay valid until the object's next call.
#pragma once

#include <cstdint>
#include <utility>

#include "core/error.h"
#include "files/fs_error.h"

class file_object;
class sized_file;
class raccess_file;
class i_file;
class si_file;
class ri_file;
class o_file;
class ro_file;
class rio_file;
class i_dir;
class si_dir;
class ri_dir;
class o_dir;
class ro_dir;
class rio_dir;
class file_identifier;
class security_source;  // files/security_source.h
class change_callback;  // directory change notifications

// Shell types, opaque here.
struct ITEMIDLIST;
struct IShellFolder;

// Entry kinds: below 128 files, 128 and above containers.
namespace entry_kind {
constexpr std::int32_t file = 0;
constexpr std::int32_t file_symlink = 5;
constexpr std::int32_t shell_link = 6;
constexpr std::int32_t directory = 128;
constexpr std::int32_t floppy = 129;
constexpr std::int32_t removable = 130;
constexpr std::int32_t fixed = 131;
constexpr std::int32_t network_drive = 132;
constexpr std::int32_t cdrom = 133;
constexpr std::int32_t ramdisk = 136;
constexpr std::int32_t unknown = 137;
constexpr std::int32_t computer = 138;
constexpr std::int32_t network = 139;
constexpr std::int32_t server = 141;
constexpr std::int32_t share = 142;
constexpr std::int32_t common_app_data = 143;
constexpr std::int32_t app_data = 144;
constexpr std::int32_t local_app_data = 145;
constexpr std::int32_t documents = 147;
constexpr std::int32_t desktop = 148;
constexpr std::int32_t temporary = 149;
constexpr std::int32_t junction = 150;
constexpr std::int32_t dir_symlink = 151;
constexpr std::int32_t reparse_80000009 = 154;
constexpr bool is_container(std::int32_t kind) { return kind >= 128; }
}  // namespace entry_kind

// Four ASCII characters, the first in the lowest byte ("NCDR" -> 0x5244434E).
constexpr std::uint32_t control_code(const char (&c)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(c[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c[3])) << 24;
}

// The request record shared by the directory control codes.
struct dir_control_request {
  std::uint32_t code;
  union {
    const char16_t* text1;
    void* pointer1;
  };
  const char16_t* text2;
  void* pointer3;
};

class file_object {
 public:
  file_object() = default;
  file_object(const file_object&) = delete;
  file_object& operator=(const file_object&) = delete;
  virtual ~file_object();

  // Extension requests: `request` points at a record whose first field is a
  // control_code(). The base stores 0x4000e.
  virtual void control(void* request);

  bool Good() const noexcept { return error_.code() == 0; }
  bool Bad() const noexcept { return error_.code() != 0; }
  // Hands the held error to the caller and leaves the object without one.
  Common::Error take_error() noexcept;

  const Common::Error& error() const noexcept { return error_; }
  // True when the object's sticky error is the end of the file (0x40002).
  static bool at_end(const file_object* object) noexcept { return object->error_.code() == 0x40002; }
  std::uint32_t error_code() const noexcept { return error_.code(); }
  // Replaces the sticky error (the previous record is released).
  void set_error(Common::Error e) noexcept { error_ = std::move(e); }
  void clear_error() noexcept { error_.clear(); }
  // Stores `code` with its catalogue text, raised at `site`.
  void raise(std::uint64_t site, std::uint32_t code);
  // Stores the error of a failed system call: the thread's last Win32 error,
  // mapped (unlisted errors keep `default_code`), with the "function" field
  // and the Win32 error as cause.
  void raise_system(std::uint64_t site, const char* function, std::uint32_t default_code);

 private:
  Common::Error error_;
};

// ---------------------------------------------------------------- files

class sized_file : public virtual file_object {
 public:
  // Returns the new position (0).
  virtual std::int64_t rewind() = 0;
  virtual std::uint64_t size() = 0;
};

class raccess_file : public virtual sized_file {
 public:
  // Each returns the new position; a failed seek stores its error and
  // returns 0. Seeks do not look at the sticky error.
  virtual std::int64_t seek_set(std::int64_t offset) = 0;
  virtual std::int64_t seek_cur(std::int64_t distance) = 0;
  virtual std::int64_t seek_end(std::int64_t distance) = 0;
  // Base: 0x4000e.
  virtual void unlock(std::uint64_t offset, std::uint64_t length);

  // seek_set(0).
  std::int64_t rewind() override;
  // Through seek_cur(0), seek_end(0) and back with seek_set.
  std::uint64_t size() override;
};

class i_file : public virtual file_object {
 public:
  // `count` is set to the bytes read; 0 at the end of the file.
  virtual void read(void* buffer, std::uint32_t length, std::uint32_t& count) = 0;

  // One read; a short count on a Good file stores 0x40002. Never retries;
  // test Bad() afterwards. The bytes that came stay in the buffer.
  void read_exact(void* buffer, std::uint32_t length);
};

class si_file : public i_file, public virtual sized_file {};

class ri_file : public si_file, public virtual raccess_file {
 public:
  // Base: 0x4000e.
  virtual void lock_shared(std::uint64_t offset, std::uint64_t length, bool wait);
};

class o_file : public virtual file_object {
 public:
  // `count` is set to the bytes written; a full device is a short count,
  // not an error.
  virtual void write(const void* buffer, std::uint32_t length, std::uint32_t& count) = 0;
  // Base: nothing.
  virtual void flush();

  // One write; a short count on a Good file stores 0x40004.
  void write_exact(const void* buffer, std::uint32_t length);
};

class ro_file : public o_file, public virtual raccess_file {
 public:
  // The position ends at the new end.
  virtual void set_size(std::uint64_t size) = 0;
  // Base: 0x4000e.
  virtual void lock_exclusive(std::uint64_t offset, std::uint64_t length, bool wait);
};

class rio_file : public ri_file, public ro_file {};

// ---------------------------------------------------------------- identifiers

// Names one entry of the directory that produced it; meaningful only to that
// directory or one of the same implementation.
class file_identifier {
 public:
  virtual ~file_identifier() = default;
  virtual file_identifier* clone() const = 0;
};

// ---------------------------------------------------------------- directories

using dir_and_identifier = std::pair<ri_dir*, file_identifier*>;

class i_dir : public virtual file_object {
 public:
  class iterator;

  // Share flag: set shares read, write and delete access; clear shares read
  // access for readers and nothing for writers. Opens never create.
  virtual ri_file* open_file(const file_identifier* id, bool share) = 0;
  virtual ri_file* open_file(iterator* entry, bool share) = 0;
  virtual ri_file* open_file(const char16_t* path, bool share) = 0;
  virtual ri_dir* open_dir(const file_identifier* id) = 0;
  virtual ri_dir* open_dir(iterator* entry) = 0;
  virtual ri_dir* open_dir(const char16_t* path) = 0;
  // Opens the directory part of *path and, on success, advances *path to the
  // last component; without a separator opens "." and leaves *path alone.
  virtual ri_dir* open_parent(const char16_t** path);
  // Base: null.
  virtual ri_dir* reopen();
  // A well-known location by entry kind. Base: 0x4000e, null.
  virtual ri_dir* open_special(std::int32_t kind);
  virtual iterator* iterate(const file_identifier* id) = 0;
  // Positioned on the entry of that plain name, the only entry it yields.
  virtual iterator* iterate(const char16_t* name) = 0;
  virtual iterator* iterate() = 0;
  virtual iterator* iterate_self() = 0;
  // Full path text or null. Base: null.
  virtual const char16_t* path();
  // 0 same object or path, 1 when `other` lies below this one, 2 otherwise
  // (also for null). A directory without a path contains every one with a path.
  virtual int relation(i_dir* other);
  // -1, 0 or 1, case-insensitive.
  virtual int compare_names(const file_identifier* a, const file_identifier* b) = 0;
  // Base: 137.
  virtual std::int32_t drive_kind();
  // Base: all 0 and 0x4000e.
  virtual void free_space(std::uint64_t& total, std::uint64_t& total_free, std::uint64_t& caller_free);
  // Base: empty text (when size is not 0) and 0x4000e.
  virtual void volume_label(char16_t* buffer, std::uint32_t size);
  virtual bool is_separator(char16_t c);
  virtual char16_t separator();
  // Base: false.
  virtual bool is_system_dir();
  // Registers (null removes) a change callback. Base: 0x4000e.
  virtual void watch(change_callback* callback);
  // Base: nothing.
  virtual void rearm_watch();
  // The directory holding a link's target and the target's identifier.
  // Base: {open_dir("."), clone of id}.
  virtual dir_and_identifier resolve_link(const file_identifier* id);
  // Base: null.
  virtual ITEMIDLIST* item_id_list(const file_identifier* id, bool relative);
  // Base: {null, null}.
  virtual dir_and_identifier open_item_id_list(const ITEMIDLIST* absolute);
  // Not owned by the caller. Base: null.
  virtual IShellFolder* shell_folder();

 protected:
  // A new listing as this directory's result. Null (no memory) raises; the
  // listing of an empty folder is handed out already at its end; any other
  // failure becomes this directory's and the listing is deleted.
  iterator* hand_over_listing(iterator* it);
};

class si_dir : public i_dir {};
class ri_dir : public si_dir {};

class i_dir::iterator : public virtual file_object {
 public:
  // Past the last entry stores 0x40002 and turns Bad. A fresh iterator is
  // already on its first entry. Accessors answer the neutral value when Bad.
  virtual void next() = 0;
  virtual file_identifier* identifier() = 0;
  virtual const char16_t* name() = 0;
  virtual const char16_t* short_name();    // base: null
  virtual const char16_t* display_name();  // base: name()
  virtual const void* reserved1();         // null
  virtual std::uint64_t size() = 0;
  virtual std::uint64_t stored_size();  // base: size()
  virtual std::int32_t kind() = 0;
  // Times: ms since 1970-01-01 UTC, 0 unknown.
  virtual std::int64_t write_time();  // base: 0
  virtual std::int64_t reserved2();   // 0
  virtual std::int64_t creation_time();
  virtual std::int64_t access_time();
  // Win32 attribute bits, -1 unknown.
  virtual std::int32_t attributes();
  virtual std::int32_t reserved3();  // -1
  virtual bool is_hidden();          // base: false
  virtual std::int32_t reserved4();  // -1
  virtual std::int32_t reserved5();  // -1
  // Owner security identifier, or null.
  virtual const void* owner();
  virtual std::uint32_t link_count();  // base: 1
  virtual std::int64_t reserved6();    // 0
  virtual std::int64_t reserved7();    // 0
  // 1, or 2 for entries whose children are expensive to list.
  virtual int expandable();
  virtual std::uint64_t file_index();     // base: 0
  virtual const char16_t* link_target();  // base: null
};

class o_dir : public virtual file_object {
 public:
  virtual ro_file* open_file_for_write(const char16_t* path, bool share) = 0;
  virtual void remove_file(const char16_t* path) = 0;
  virtual void rename(const char16_t* old_path, const char16_t* new_path) = 0;
  // Base: 0x4000e.
  virtual void create_hard_link(const char16_t* link, const char16_t* existing);
  // Base: 0x4000e.
  virtual void create_junction(const char16_t* link, const char16_t* target, const void* reserved_a,
                               std::uint32_t reserved_b);
  virtual void create_dir(const char16_t* path, security_source* security) = 0;
  // "." removes the directory itself.
  virtual void remove_dir(const char16_t* path) = 0;
  // Base: 0x4000e.
  virtual void set_security(const char16_t* path, security_source* security);
  // Win32 attribute bits. Base: 0x4000e.
  virtual void set_attributes(const char16_t* path, std::uint32_t attributes);
  // Positions kept for operations no implementation provides: 0x4000e.
  virtual void reserved1(const void* a, const void* b);
  virtual void reserved2(const void* a, const void* b, const void* c);
  virtual void reserved3(const void* a, const void* b, const void* c, const void* d, const void* e);
  // Creates or truncates.
  virtual ro_file* create_file(const char16_t* path, bool share, security_source* security) = 0;
  virtual ro_dir* open_dir_for_write(const char16_t* path) = 0;
  virtual ro_dir* open_parent_for_write(const char16_t** path) = 0;
};

class ro_dir : public o_dir {};

class rio_dir : public ri_dir, public ro_dir {
 public:
  using o_dir::open_file_for_write;
  virtual ro_file* open_file_for_write(const file_identifier* id, bool share) = 0;
  virtual ro_file* open_file_for_write(i_dir::iterator* entry, bool share) = 0;
  virtual rio_file* open_file_rw(const file_identifier* id, bool share) = 0;
  virtual rio_file* open_file_rw(i_dir::iterator* entry, bool share) = 0;
  virtual rio_file* open_file_rw(const char16_t* path, bool share) = 0;
  // Creates or truncates; also serves o_dir::create_file.
  rio_file* create_file(const char16_t* path, bool share, security_source* security) override = 0;

  // i_dir::open_dir(".").
  ri_dir* reopen() override;
  // The output views of open_dir and open_parent (null stays null).
  ro_dir* open_dir_for_write(const char16_t* path) override;
  ro_dir* open_parent_for_write(const char16_t** path) override;
};
