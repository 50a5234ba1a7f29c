#include "files/win32_file.h"

#include <cstring>
#include <new>

#include "files/file_time.h"
#include "files/win32_calls.h"

namespace {

// File-system control codes used here.
constexpr DWORD fsctl_get_retrieval_pointers = 0x00090073;
constexpr DWORD fsctl_set_compression = 0x0009C040;
constexpr DWORD fsctl_set_sparse = 0x000900C4;
constexpr DWORD fsctl_set_zero_data = 0x000980C8;
constexpr DWORD fsctl_query_allocated_ranges = 0x000940CF;

struct io_status_block {
  union {
    NTSTATUS status;
    void* pointer;
  };
  ULONG_PTR information;
};

struct fs_size_information {
  LONGLONG total_units;
  LONGLONG available_units;
  ULONG sectors_per_unit;
  ULONG bytes_per_sector;
};

using nt_fs_control_file_fn = NTSTATUS (*)(HANDLE, HANDLE, void*, void*, io_status_block*, ULONG, void*, ULONG, void*,
                                           ULONG);
using nt_query_volume_information_file_fn = NTSTATUS (*)(HANDLE, io_status_block*, void*, ULONG, int);
using rtl_nt_status_to_dos_error_fn = ULONG (*)(NTSTATUS);
using nt_set_information_file_fn = NTSTATUS (*)(HANDLE, io_status_block*, void*, ULONG, int);

// Entry points of "ntdll.dll", looked up once; missing ones stay null.
// Concurrent first uses redo the same look-up and store the same values.
struct ntdll_entries {
  nt_fs_control_file_fn fs_control = nullptr;
  nt_query_volume_information_file_fn query_volume = nullptr;
  rtl_nt_status_to_dos_error_fn status_to_dos = nullptr;
  nt_set_information_file_fn set_information = nullptr;
};

const ntdll_entries& ntdll() {
  static const ntdll_entries entries = [] {
    ntdll_entries e;
    e.fs_control = entry_as<nt_fs_control_file_fn>(win32_calls::entry(u"ntdll.dll", "NtFsControlFile"));
    e.query_volume =
        entry_as<nt_query_volume_information_file_fn>(win32_calls::entry(u"ntdll.dll", "NtQueryVolumeInformationFile"));
    e.status_to_dos =
        entry_as<rtl_nt_status_to_dos_error_fn>(win32_calls::entry(u"ntdll.dll", "RtlNtStatusToDosError"));
    e.set_information = entry_as<nt_set_information_file_fn>(win32_calls::entry(u"ntdll.dll", "NtSetInformationFile"));
    return e;
  }();
  return entries;
}

// A full device: the reported byte count stands and the write ends short.
// Access denied, write protection or a bad parameter are errors of their own,
// never taken for a full disk.
bool is_short_write_error(DWORD e) { return e == ERROR_HANDLE_DISK_FULL || e == ERROR_DISK_FULL; }

}  // namespace

win32_file::~win32_file() {
  if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool win32_file::write_handle(const void* buffer, DWORD length, DWORD* written) {
  return WriteFile(handle_, buffer, length, written, nullptr) != FALSE;
}

void win32_file::read(void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (Bad()) return;
  DWORD n = 0;
  if (!ReadFile(handle_, buffer, length, &n, nullptr)) {
    raise_system(KV_SITE, "ReadFile", fs_error::read);
    return;
  }
  count = n;
}

void win32_file::write(const void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (Bad()) return;
  const auto* p = static_cast<const unsigned char*>(buffer);
  std::uint32_t remaining = length;
  std::uint32_t chunk = length;
  for (;;) {
    DWORD n = 0;
    if (!write_handle(p, chunk, &n)) {
      const DWORD e = GetLastError();
      if (!is_short_write_error(e)) {
        raise_system(KV_SITE, "WriteFile", fs_error::write);
        return;
      }
    }
    if (n > 0) {
      count += n;
      if (n >= remaining || n < chunk) return;
      p += n;
      remaining -= n;
      if (chunk >= remaining) chunk = (remaining + 1) / 2;
    } else {
      if (chunk < 2) return;
      chunk = (chunk + 1) / 2;
    }
  }
}

void win32_nocache_file::write(const void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (Bad()) return;
  const std::uint32_t sector = sector_size_ ? sector_size_ : 512;
  const auto* p = static_cast<const unsigned char*>(buffer);
  std::uint32_t remaining = length;
  std::uint32_t chunk = max_chunk_ < length ? max_chunk_ : length;
  bool working_set_raised = false;
  for (;;) {
    chunk -= chunk % sector;
    DWORD n = 0;
    if (!write_handle(p, chunk, &n)) {
      const DWORD e = GetLastError();
      bool shrink = false;
      bool fail = false;
      if (is_short_write_error(e)) {
        // the reported count stands
      } else if (e == 1453) {  // working-set quota
        if (n > 0) {
          fail = true;
        } else if (!working_set_raised) {
          if (win32_calls::raise_working_set(chunk)) {
            working_set_raised = true;
            continue;
          }
          shrink = true;
        } else {
          shrink = true;
        }
      } else if (e == 1117 || e == 1450) {  // device error, no system resources
        if (n > 0)
          fail = true;
        else
          shrink = true;
      } else {
        fail = true;
      }
      if (shrink) {
        if (chunk <= sector) {
          fail = true;
        } else {
          chunk = (chunk + sector) / 2;
          max_chunk_ = chunk;
          continue;
        }
      }
      if (fail) {
        SetLastError(e);
        raise_system(KV_SITE, "WriteFileNoCache", fs_error::write);
        return;
      }
    }
    if (n > 0) {
      count += n;
      remaining -= n < remaining ? n : remaining;
      if (remaining < sector || n < chunk) return;
      p += n;
      if (chunk >= remaining) chunk = (sector + remaining) / 2;
    } else {
      if (chunk <= sector) return;
      chunk = (chunk + sector) / 2;
    }
  }
}

void win32_file::flush() {
  if (Bad()) return;
  if (!FlushFileBuffers(handle_)) raise_system(KV_SITE, "FlushFileBuffers", fs_error::write);
}

std::int64_t win32_file::seek(std::int64_t distance, DWORD method) {
  LONG high = static_cast<LONG>(static_cast<std::uint64_t>(distance) >> 32);
  // A stale last error must not turn a legitimate low word of 0xFFFFFFFF
  // into a failure.
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(handle_, static_cast<LONG>(static_cast<std::uint32_t>(distance)), &high, method);
  if (low == 0xFFFFFFFFu && GetLastError() != NO_ERROR) {
    raise_system(KV_SITE, "SetFilePointer", fs_error::seek);
    return 0;
  }
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | low);
}

std::int64_t win32_file::seek_set(std::int64_t offset) { return seek(offset, FILE_BEGIN); }
std::int64_t win32_file::seek_cur(std::int64_t distance) { return seek(distance, FILE_CURRENT); }
std::int64_t win32_file::seek_end(std::int64_t distance) { return seek(distance, FILE_END); }

void win32_file::set_size(std::uint64_t size) {
  if (Bad()) return;
  seek_set(static_cast<std::int64_t>(size));
  if (Bad()) return;
  if (!SetEndOfFile(handle_)) raise_system(KV_SITE, "SetEndOfFile", fs_error::write);
}

void win32_file::lock(std::uint64_t offset, std::uint64_t length, bool wait, bool exclusive) {
  if (Bad()) return;
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD flags = 0;
  if (exclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
  if (!wait) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  if (!LockFileEx(handle_, flags, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &ov))
    raise_system(KV_SITE, "LockFileEx", fs_error::lock);
}

void win32_file::lock_shared(std::uint64_t offset, std::uint64_t length, bool wait) {
  lock(offset, length, wait, false);
}

void win32_file::lock_exclusive(std::uint64_t offset, std::uint64_t length, bool wait) {
  lock(offset, length, wait, true);
}

void win32_file::unlock(std::uint64_t offset, std::uint64_t length) {
  if (Bad()) return;
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  if (!UnlockFileEx(handle_, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &ov))
    raise_system(KV_SITE, "UnlockFileEx", fs_error::lock);
}

// ---------------------------------------------------------------- controls

void win32_file::control(void* request) {
  if (Bad()) return;
  if (!request) {
    file_object::control(request);
    return;
  }
  const std::uint32_t code = *static_cast<const std::uint32_t*>(request);
  if (code == control_code("GSEC"))
    volume_sector(request);
  else if (code == control_code("WIOC"))
    device_control(request);
  else if (code == control_code("SPHI"))
    priority_hint(request);
  else if (code == control_code("ALCM"))
    allocated_ranges(request);
  else if (code == control_code("SFTM"))
    set_times(request);
  else if (code == control_code("CMPR"))
    set_compression(request);
  else if (code == control_code("SDAT"))
    zero_data(request);
  else
    file_object::control(request);
}

void win32_file::volume_sector(void* request) {
  auto* r = static_cast<volume_sector_request*>(request);
  const ntdll_entries& nt = ntdll();
  if (!nt.query_volume || !nt.status_to_dos) {
    raise(KV_SITE, fs_error::not_supported);
    return;
  }
  io_status_block iosb{};
  fs_size_information info{};
  const NTSTATUS status = nt.query_volume(handle_, &iosb, &info, sizeof info, 3);
  if (status < 0) {
    SetLastError(nt.status_to_dos(status));
    raise_system(KV_SITE, "NtQueryVolumeInformationFile", fs_error::not_supported);
    return;
  }
  const std::int64_t position = seek_cur(0);
  if (Bad()) return;
  if (position < 0 || info.bytes_per_sector == 0 || info.sectors_per_unit == 0 ||
      static_cast<std::uint64_t>(position) % info.bytes_per_sector != 0) {
    raise(KV_SITE, fs_error::end_of_file);
    return;
  }
  const std::uint64_t file_sector = static_cast<std::uint64_t>(position) / info.bytes_per_sector;
  const std::uint64_t cluster = file_sector / info.sectors_per_unit;

  struct {
    DWORD extent_count;
    LONGLONG starting_vcn;
    LONGLONG next_vcn;
    LONGLONG lcn;
  } out{};
  static_assert(sizeof out == 32);
  LONGLONG start = static_cast<LONGLONG>(cluster);
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, fsctl_get_retrieval_pointers, &start, sizeof start, &out, sizeof out, &returned,
                       nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    raise_system(KV_SITE, "FSCTL_GET_RETRIEVAL_POINTERS", fs_error::end_of_file);
    return;
  }
  const auto c = static_cast<LONGLONG>(cluster);
  if (returned >= 32 && out.extent_count != 0 && out.starting_vcn <= c && c < out.next_vcn) {
    r->sector = static_cast<std::uint64_t>(out.lcn + c - out.starting_vcn) * info.sectors_per_unit +
                file_sector % info.sectors_per_unit;
    r->found = 1;
    return;
  }
  raise(KV_SITE, fs_error::end_of_file);
}

void win32_file::device_control(void* request) {
  auto* r = static_cast<device_control_request*>(request);
  const ntdll_entries& nt = ntdll();
  // File-system controls on NT 4 and earlier go through the native call; the
  // choice is made once.
  static const bool use_native = [&] {
    const DWORD v = GetVersion();
    const bool nt_platform = (v & 0x80000000u) == 0;
    return nt_platform && (v & 0xFF) <= 4 && nt.fs_control && nt.status_to_dos;
  }();
  if ((r->control_code >> 16) == 9 && use_native) {
    io_status_block iosb{};
    const NTSTATUS status = nt.fs_control(handle_, nullptr, nullptr, nullptr, &iosb, r->control_code,
                                          const_cast<void*>(r->input), r->input_size, r->output, r->output_size);
    r->bytes_returned = static_cast<std::uint32_t>(iosb.information);
    r->system_error = nt.status_to_dos(status);
    return;
  }
  DWORD returned = 0;
  if (DeviceIoControl(handle_, r->control_code, const_cast<void*>(r->input), r->input_size, r->output, r->output_size,
                      &returned, nullptr)) {
    r->bytes_returned = returned;
    r->system_error = 0;
  } else {
    r->bytes_returned = 0;
    r->system_error = GetLastError();
  }
}

void win32_file::priority_hint(void* request) {
  auto* r = static_cast<priority_hint_request*>(request);
  const ntdll_entries& nt = ntdll();
  if (!nt.set_information) {
    raise(KV_SITE, fs_error::not_supported);
    return;
  }
  io_status_block iosb{};
  std::int32_t hint = static_cast<std::int32_t>(r->hint);
  const NTSTATUS status = nt.set_information(handle_, &iosb, &hint, sizeof hint, 43);
  if (status < 0) {
    Common::Error e = make_fs_error(KV_SITE, fs_error::write);
    e.setNtStatusCause(status);
    set_error(std::move(e));
  }
}

void win32_file::allocated_ranges(void* request) {
  auto* r = static_cast<allocated_ranges_request*>(request);
  r->ranges = nullptr;
  const struct {
    LONGLONG offset;
    LONGLONG length;
  } in{static_cast<LONGLONG>(r->offset), static_cast<LONGLONG>(r->length)};
  DWORD size = 16;
  unsigned char* out = nullptr;
  DWORD returned = 0;
  for (;;) {
    delete[] out;
    out = new (std::nothrow) unsigned char[size];
    if (!out) break;
    if (DeviceIoControl(handle_, fsctl_query_allocated_ranges, const_cast<void*>(static_cast<const void*>(&in)),
                        sizeof in, out, size, &returned, nullptr))
      break;
    if (GetLastError() != ERROR_MORE_DATA || size > 0x3FFFFFFFu / 4) {
      delete[] out;
      out = nullptr;
      break;
    }
    size *= 4;
  }
  if (!out || returned % 16 != 0) {
    delete[] out;
    raise(KV_SITE, fs_error::not_supported);
    return;
  }
  const std::uint32_t n = returned / 16;
  auto* block = new (std::nothrow) unsigned char[8 + static_cast<std::size_t>(returned)];
  if (!block) {
    delete[] out;
    raise(KV_SITE, fs_error::not_supported);
    return;
  }
  std::memcpy(block, &n, 4);
  std::memcpy(block + 8, out, returned);
  delete[] out;
  r->ranges = block;
}

void win32_file::set_times(void* request) {
  auto* r = static_cast<file_times_request*>(request);
  FILETIME created = ms_to_file_time(r->creation_time);
  FILETIME accessed = ms_to_file_time(r->access_time);
  FILETIME written = ms_to_file_time(r->write_time);
  if (!SetFileTime(handle_, r->creation_time ? &created : nullptr, r->access_time ? &accessed : nullptr,
                   r->write_time ? &written : nullptr))
    raise_system(KV_SITE, "SetFileTime", fs_error::write);
}

void win32_file::set_compression(void* request) {
  auto* r = static_cast<compression_request*>(request);
  USHORT format = r->enable ? 1 : 0;
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, fsctl_set_compression, &format, sizeof format, nullptr, 0, &returned, nullptr))
    raise_system(KV_SITE, "FSCTL_SET_COMPRESSION", fs_error::not_supported);
}

void win32_file::zero_data(void* request) {
  auto* r = static_cast<zero_data_request*>(request);
  DWORD returned = 0;
  if (!DeviceIoControl(handle_, fsctl_set_sparse, nullptr, 0, nullptr, 0, &returned, nullptr)) {
    raise_system(KV_SITE, "FSCTL_SET_SPARSE", fs_error::write);
    return;
  }
  struct {
    LONGLONG offset;
    LONGLONG beyond;
  } zero{static_cast<LONGLONG>(r->offset), static_cast<LONGLONG>(r->offset + r->length)};
  if (!DeviceIoControl(handle_, fsctl_set_zero_data, &zero, sizeof zero, nullptr, 0, &returned, nullptr))
    raise_system(KV_SITE, "FSCTL_SET_ZERO_DATA", fs_error::write);
}
