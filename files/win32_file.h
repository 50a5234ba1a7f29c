// Files over Win32 file handles, and the unbuffered variant used to write
// whole images without the system cache.
#pragma once

#include <cstdint>

#include "files/file_object.h"
#include "platform/win32/windows.h"

class win32_file : public rio_file {
 public:
  // Takes ownership of `handle`; the destructor closes it.
  explicit win32_file(HANDLE handle) : handle_(handle) {}
  ~win32_file() override;

  HANDLE handle() const { return handle_; }

  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override;
  void lock_shared(std::uint64_t offset, std::uint64_t length, bool wait) override;
  void write(const void* buffer, std::uint32_t length, std::uint32_t& count) override;
  void flush() override;
  void set_size(std::uint64_t size) override;
  void lock_exclusive(std::uint64_t offset, std::uint64_t length, bool wait) override;
  std::int64_t seek_set(std::int64_t offset) override;
  std::int64_t seek_cur(std::int64_t distance) override;
  std::int64_t seek_end(std::int64_t distance) override;
  void unlock(std::uint64_t offset, std::uint64_t length) override;
  // "GSEC", "WIOC", "SPHI", "ALCM", "SFTM", "CMPR", "SDAT"; others: 0x4000e.
  void control(void* request) override;

 protected:
  // The one place a write reaches the handle, so that tests can stand in for
  // a device that runs full or fails.
  virtual bool write_handle(const void* buffer, DWORD length, DWORD* written);

 private:
  std::int64_t seek(std::int64_t distance, DWORD method);
  void lock(std::uint64_t offset, std::uint64_t length, bool wait, bool exclusive);
  void volume_sector(void* request);
  void device_control(void* request);
  void priority_hint(void* request);
  void allocated_ranges(void* request);
  void set_times(void* request);
  void set_compression(void* request);
  void zero_data(void* request);

  HANDLE handle_;
};

// Writes go straight to the device in whole sectors; a remainder of less than
// one sector is never written (the caller pads).
class win32_nocache_file : public win32_file {
 public:
  win32_nocache_file(HANDLE handle, std::uint32_t sector_size) : win32_file(handle), sector_size_(sector_size) {}

  void write(const void* buffer, std::uint32_t length, std::uint32_t& count) override;

  std::uint32_t sector_size() const { return sector_size_; }
  // Upper bound of one write; starts unbounded and only shrinks.
  std::uint32_t max_chunk() const { return max_chunk_; }

 private:
  std::uint32_t sector_size_;
  std::uint32_t max_chunk_ = 0xFFFFFFFFu;
};

// The view of a Windows directory for unbuffered files (control "NCDR").
class nocache_dir : public virtual file_object {
 public:
  virtual rio_file* create_file(const char16_t* path) = 0;
  // The volume's sector size, determined once; 512 when it cannot be.
  virtual std::uint32_t sector_size() = 0;
};

// Control request records of Win32 files (the code first).
struct file_times_request {  // "SFTM"
  std::uint32_t code;
  std::int64_t write_time;
  std::int64_t creation_time;
  std::int64_t access_time;
};
struct compression_request {  // "CMPR"
  std::uint32_t code;
  std::uint8_t enable;
};
struct zero_data_request {  // "SDAT"
  std::uint32_t code;
  std::uint64_t offset;
  std::uint64_t length;
};
struct allocated_ranges_request {  // "ALCM"
  std::uint32_t code;
  std::uint64_t offset;
  std::uint64_t length;
  // New block owned by the caller (array delete): u32 count, 4 unused bytes,
  // then count pairs of u64 offset and length. Null on failure.
  unsigned char* ranges;
};
struct volume_sector_request {  // "GSEC"
  std::uint32_t code;
  std::uint64_t sector;
  std::uint8_t found;
};
struct device_control_request {  // "WIOC"; results in the last two fields
  std::uint32_t code;
  std::uint32_t control_code;
  const void* input;
  std::uint32_t input_size;
  void* output;
  std::uint32_t output_size;
  std::uint32_t bytes_returned;
  std::uint32_t system_error;
};
struct priority_hint_request {  // "SPHI"
  std::uint32_t code;
  std::uint32_t hint;
};
