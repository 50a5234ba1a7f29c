// Layer-internal helpers shared by the file areas (handles, entries, finds).
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "platform/win32/kernel32/paths.h"
#include "platform/win32/layer/types.h"

namespace win32 {

// mkdir -p, remembered once made.
bool ensure_folder(const std::string& path);

// The Win32 attribute bits of an entry; lst is its lstat.
DWORD attributes_of(const std::string& unix_path, const struct stat& lst);
// The same, reading kept bits only when `may_have_stored`.
DWORD attributes_with(const std::string& unix_path, const struct stat& lst, bool may_have_stored);
// What one listing learns about its folder's file system on the way.
struct ListingFacts {
  bool no_xattrs = false;  // the device below keeps no extended attributes
  dev_t no_xattrs_dev = 0;
};
// An entry's lstat, attribute bits and creation time in as few calls as can be.
// The entry is `at_name` relative to the open folder `at_fd` (or AT_FDCWD with
// its path); `unix_path` is its full path either way. `listing` carries what
// earlier entries of the same listing showed, or is null.
// Tests: list extended attributes by path, the road of kernels without the
// calls relative to an open folder.
void list_xattrs_by_path_for_tests(bool on);
bool entry_facts(int at_fd, const char* at_name, const std::string& unix_path, struct stat& lst, DWORD& attributes,
                 FILETIME& creation, ListingFacts* listing);
// Sets a user extended attribute, also on a read-only file of the caller's;
// false with errno set.
bool set_user_xattr(const std::string& unix_path, const char* name, const void* value, std::size_t size, bool follow);
// Keeps the bits that Unix modes cannot hold (hidden, system, archive, ...);
// false with errno set.
bool store_attributes(const std::string& unix_path, DWORD attributes, bool symlink);
// The creation time kept for an entry (SetFileTime), else its birth time, else
// its last write time.
FILETIME creation_time_of(const std::string& unix_path, const struct stat& st);
bool store_creation_time(const std::string& unix_path, const FILETIME& ft, bool symlink);

// What a lookup learned on the way, so that callers need not ask again.
struct PathFacts {
  bool have_entry = false;  // the entry's lstat (state Exists)
  struct stat entry {};
  bool have_parent = false;  // a stat of its folder (state LastMissing)
  struct stat parent {};
  // Asks for the path as given, unchecked: state Exists without have_entry,
  // for callers that try it before looking it up.
  bool as_given = false;
  // Asks to look the last name up in its folder's listing straight away,
  // for callers that know the name as given is missing.
  bool in_listing = false;
};
bool map_path(const WCHAR* path, MappedPath& out, bool allow_wildcards, PathFacts* facts);

// The reparse tag a link reads back with (0 for anything but a link).
DWORD reparse_tag_of(const std::string& unix_path);
// DeviceIoControl's file-system requests on an open file of the layer.
BOOL fs_control(int fd, bool o_path, bool writable, const std::string& unix_path, DWORD code, LPVOID in,
                DWORD in_size, LPVOID out, DWORD out_size, LPDWORD returned);

// What the backup calls need of an open file handle; false (ERROR_INVALID_HANDLE)
// when the handle names no file.
struct FileHandleFacts {
  int fd = -1;
  bool o_path = false;
  bool is_dir = false;
  DWORD access = 0;  // expanded: GENERIC_* become FILE_* bits
  std::string unix_path;
};
bool file_handle_facts(HANDLE h, FileHandleFacts& out);

// A file handle for one end of an anonymous pipe, taking `fd` over: reads at
// the end of the data answer ERROR_BROKEN_PIPE, writes with no reader left
// the same, without SIGPIPE.
HANDLE pipe_end_handle(int fd, bool read_end, DWORD handle_flags);
// Holds SIGPIPE back on the calling thread for its lifetime and takes back
// one that arose meanwhile.
class PipeSignalGuard {
 public:
  PipeSignalGuard();
  ~PipeSignalGuard();
  PipeSignalGuard(const PipeSignalGuard&) = delete;
  PipeSignalGuard& operator=(const PipeSignalGuard&) = delete;

 private:
  sigset_t old_;
  bool was_pending_ = false;
};

// The code page of the ANSI file calls: CP_ACP, or CP_OEMCP after
// SetFileApisToOEM.
UINT file_api_code_page();

// The attribute bits that only the layer keeps.
constexpr DWORD kStoredAttributes = 0x00000002 | 0x00000004 | 0x00000020 | 0x00000100 | 0x00001000 | 0x00002000;

}  // namespace win32
