// A ZIP archive inside any random-access input file, presented as a read-only,
// flat directory. The archive may start anywhere in the file (a ZIP appended to
// a program is read in place); members are stored or raw-deflated, and their
// CRC-32 is checked on the read after the last byte.
//
// The archive file is not owned: it must outlive the zip_file and every member
// opened from it. Members and iterators share its file position, so an archive
// and everything opened from it are used by one thread at a time. Identifiers
// and iterators must not outlive the zip_file that made them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/file_object.h"
#include "files/zip_format.h"

class zip_iterator;

// Declared at the ri_dir level (which adds no operations to si_dir) because the
// directory interface hands out directories as ri_dir.
class zip_file : public ri_dir {
 public:
  // Reads the end record and the central directory; failures leave the object
  // Bad with its reason, and later opens fail.
  explicit zip_file(ri_file* archive);
  ~zip_file() override;

  // Where the archive starts inside the file: 0 for a plain ZIP, the length of
  // the preceding data for one appended to another file.
  std::int64_t archive_offset() const { return static_cast<std::int64_t>(archive_offset_); }
  std::uint32_t entry_count() const { return static_cast<std::uint32_t>(entries_.size()); }

  // Iterator on the first entry whose name matches `path` from the archive's
  // root, ignoring ASCII case, '\' standing for '/'. No match: 0x40002, null.
  // The names are indexed on the first look-up.
  zip_iterator* find_entry(const char16_t* path);

  ri_file* open_file(const file_identifier* id, bool share) override;
  ri_file* open_file(iterator* entry, bool share) override;
  ri_file* open_file(const char16_t* path, bool share) override;
  // Only "." is a directory here: it gives a copy of the archive object.
  ri_dir* open_dir(const file_identifier* id) override;
  ri_dir* open_dir(iterator* entry) override;
  ri_dir* open_dir(const char16_t* path) override;
  ri_dir* open_parent(const char16_t** path) override;
  iterator* iterate(const file_identifier* id) override;
  iterator* iterate(const char16_t* name) override;
  iterator* iterate() override;
  iterator* iterate_self() override;
  int relation(i_dir* other) override;
  int compare_names(const file_identifier* a, const file_identifier* b) override;

 private:
  friend class zip_iterator;
  struct copy_tag {};
  zip_file(const zip_file& from, copy_tag);

  // Checked entry access: null when `index` is not an entry of this directory.
  const zip_format::entry_info* entry_at(std::uint32_t index) const;
  const std::uint8_t* name_of(const zip_format::entry_info& e) const {
    return directory_.get() + e.at + zip_format::central_entry_size;
  }
  ri_file* open_entry(std::uint32_t index);
  ri_dir* copy();

  ri_file* archive_;
  std::uint64_t archive_offset_ = 0;
  std::uint64_t directory_size_ = 0;
  std::unique_ptr<std::uint8_t[]> directory_;
  // Each entry as the checked walk found it.
  std::vector<zip_format::entry_info> entries_;
  zip_format::name_index names_;
};

// Names an entry by its position in the directory and the entries from it to
// the end.
class zip_identifier : public file_identifier {
 public:
  zip_identifier(std::uint32_t index, std::uint32_t remaining) : index_(index), remaining_(remaining) {}
  file_identifier* clone() const override;
  std::uint32_t index() const { return index_; }
  std::uint32_t remaining() const { return remaining_; }

 private:
  std::uint32_t index_;
  std::uint32_t remaining_;
};

class zip_iterator : public i_dir::iterator {
 public:
  zip_iterator(const zip_file* owner, std::uint32_t index);
  void next() override;
  file_identifier* identifier() override;
  // Full path inside the archive, '/' separated as stored; each name byte is
  // one UTF-16 unit (no code page).
  const char16_t* name() override;
  std::uint64_t size() override;
  std::uint64_t stored_size() override;
  std::int32_t kind() override;

  const zip_file* archive() const { return owner_; }
  std::uint32_t index() const { return index_; }

 private:
  void set_name();
  const zip_file* owner_;
  std::uint32_t index_;
  std::u16string name_;
};

// One member opened for reading. Seeking is not supported: open it again to
// read from the start.
class file_in_zip : public ri_file {
 public:
  // An encrypted member is not opened (0x4000e).
  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override;
  std::uint64_t size() override;
  std::int64_t rewind() override;
  std::int64_t seek_set(std::int64_t offset) override;
  std::int64_t seek_cur(std::int64_t distance) override;
  std::int64_t seek_end(std::int64_t distance) override;

 private:
  friend class zip_file;
  explicit file_in_zip(ri_file* archive) : archive_(archive) {}
  ri_file* archive_;
  zip_format::member_reader reader_;
};
