// Backing up and restoring one entry of an NTFS volume with everything the
// file system keeps about it, in parts handed to (or taken from) an archive
// object of the caller: attributes, the NT backup streams, the raw encrypted
// form or the plain content of an encrypted file, and the times.
#pragma once

#include <cstdint>

#include "core/error.h"
#include "files/file_object.h"

// Part kinds of a backed-up entry.
namespace backup_part {
constexpr int attributes = 1;
constexpr int streams = 2;
constexpr int encrypted = 3;
constexpr int plain = 4;
constexpr int times = 5;
}  // namespace backup_part

// Option bits of "BKUP".
namespace backup_option {
constexpr std::uint32_t no_security = 0x01;
constexpr std::uint32_t no_raw_encrypted = 0x02;
constexpr std::uint32_t no_data_streams = 0x04;
constexpr std::uint32_t data_only = 0x08;
constexpr std::uint32_t follow_reparse = 0x10;
}  // namespace backup_option

// Option bits of "RSTR".
namespace restore_option {
constexpr std::uint32_t no_security = 0x01;
constexpr std::uint32_t no_times = 0x02;
constexpr std::uint32_t follow_reparse = 0x04;
}  // namespace restore_option

class file_backup_raw_data_factory {
 public:
  struct raw_data {
    std::uint8_t* buffer = nullptr;  // owned
    std::uint32_t size = 0;          // bytes in use
    std::uint32_t offset = 0;        // of the data in the buffer
    std::uint32_t capacity = 0;
    ~raw_data() { delete[] buffer; }
  };
  static constexpr std::int32_t default_length = 0x4000;

  // -1 asks for the default length. False (and null) when memory fails.
  virtual bool make(raw_data*& out, std::int32_t length);
  virtual void release(raw_data* block);
  virtual ~file_backup_raw_data_factory() = default;
};

// The sink of one part. It takes over every block written to it.
class file_backup_stream : public virtual file_object, public file_backup_raw_data_factory {
 public:
  virtual void write(raw_data* block) = 0;
};

// Archive of a backup (the caller's).
class backup_writer : public virtual file_object {
 public:
  // A new sink for a part of that kind, or null (the writer then is Bad).
  virtual file_backup_stream* open_part(int kind) = 0;
};

// Archive of a restore (the caller's).
class backup_reader : public virtual file_object {
 public:
  // The next part and its kind, or null when there are no more: the sticky
  // error then says why (0x40002 is the normal end).
  virtual i_file* next_part(int& kind) = 0;
};

class backup_progress {
 public:
  virtual ~backup_progress() = default;
  virtual void set_position(std::uint64_t done) = 0;
  virtual bool is_canceled() = 0;
  // Questions: 0 security cannot be written, 1 the path disappeared after
  // data had been written. Answers: 0 cancel, 1 try again, 2 the
  // alternative; any other goes on without the failed step.
  virtual int ask(int question, const char16_t* path) = 0;
};

// The record of "BKUP" and "RSTR".
struct backup_request {
  std::uint32_t code;
  void* archive;  // backup_writer* for "BKUP", backup_reader* for "RSTR"
  backup_progress* progress;
  std::uint32_t options;
  const file_identifier* entry;  // null: the directory itself
};

// The error is left empty on success.
void backup_file(Common::Error& error, const char16_t* path, backup_writer* archive, backup_progress* progress,
                 std::uint32_t options);
void restore_file(Common::Error& error, const char16_t* path, backup_reader* archive, backup_progress* progress,
                  std::uint32_t options);

// Code 0x40019 (backup) or 0x4001a (restore) with the path as its text, the
// fields "Path" and "Hints" and `cause`.
Common::Error make_backup_error(std::uint64_t site, std::uint32_t code, const char16_t* path, std::uint64_t hints,
                                const Common::Error& cause);
