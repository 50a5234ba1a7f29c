#include "platform/win32/kernel32/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/folders.h"
#include "platform/win32/kernel32/sharing.h"

namespace win32 {

// ---------------------------------------------------------------------------
// Times and attributes

namespace {
constexpr long long kEpochDifference = 116444736000000000LL;  // 1601 to 1970 in 100 ns
constexpr const char* kAttributeName = "user.kv.attributes";
constexpr const char* kCreationName = "user.kv.creation";

long long filetime_value(const FILETIME& ft) {
  return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}
}  // namespace

FILETIME filetime_from_unix_ns(long long ns) {
  long long v = ns / 100 + kEpochDifference;
  if (v < 0) v = 0;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(v) >> 32);
  return ft;
}

long long unix_ns_from_filetime(const FILETIME& ft) { return (filetime_value(ft) - kEpochDifference) * 100; }

DWORD attributes_of(const std::string& unix_path, const struct stat& lst) {
  return attributes_with(unix_path, lst, true);
}

DWORD attributes_with(const std::string& unix_path, const struct stat& lst, bool may_have_stored) {
  DWORD a = 0;
  bool is_dir = S_ISDIR(lst.st_mode);
  if (S_ISLNK(lst.st_mode)) {
    a |= FILE_ATTRIBUTE_REPARSE_POINT;
    struct stat target;
    if (::stat(unix_path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) is_dir = true;
    // A junction is a folder even while its target is missing.
    if (!is_dir && reparse_tag_of(unix_path) == IO_REPARSE_TAG_MOUNT_POINT) is_dir = true;
  }
  if (is_dir) a |= FILE_ATTRIBUTE_DIRECTORY;
  if ((lst.st_mode & 0222) == 0 && !S_ISLNK(lst.st_mode)) a |= FILE_ATTRIBUTE_READONLY;
  DWORD stored = 0;
  ssize_t got = may_have_stored ? ::lgetxattr(unix_path.c_str(), kAttributeName, &stored, sizeof stored) : -1;
  if (got == static_cast<ssize_t>(sizeof stored)) {
    a |= stored & kStoredAttributes;
  } else {
    // Entries made outside the layer: files carry the archive bit, and Unix's
    // dot names count as hidden.
    if (S_ISREG(lst.st_mode)) a |= FILE_ATTRIBUTE_ARCHIVE;
    std::size_t slash = unix_path.find_last_of('/');
    const std::string_view base =
        slash == std::string::npos ? std::string_view(unix_path) : std::string_view(unix_path).substr(slash + 1);
    if (base.size() > 1 && base[0] == '.' && base != "..") a |= FILE_ATTRIBUTE_HIDDEN;
  }
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

bool set_user_xattr(const std::string& unix_path, const char* name, const void* value, std::size_t size, bool follow) {
  auto set = [&] {
    return (follow ? ::setxattr(unix_path.c_str(), name, value, size, 0)
                   : ::lsetxattr(unix_path.c_str(), name, value, size, 0)) == 0;
  };
  if (set()) return true;
  // User attributes need write permission, which a read-only file's owner
  // lacks (root never does): the owner's write bit is lent for the write.
  struct stat st;
  if (errno != EACCES || (follow ? ::stat(unix_path.c_str(), &st) : ::lstat(unix_path.c_str(), &st)) != 0 ||
      S_ISLNK(st.st_mode) || (st.st_mode & S_IWUSR) || st.st_uid != ::geteuid() ||
      ::chmod(unix_path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) {
    errno = EACCES;
    return false;
  }
  const bool ok = set();
  const int error = errno;
  ::chmod(unix_path.c_str(), st.st_mode & 07777);
  errno = error;
  return ok;
}

bool store_attributes(const std::string& unix_path, DWORD attributes, bool symlink) {
  if (symlink) return true;  // Linux keeps no user attributes on links
  DWORD stored = attributes & kStoredAttributes;
  // A file system without user attributes keeps none: as before.
  return set_user_xattr(unix_path, kAttributeName, &stored, sizeof stored, false) || errno == ENOTSUP;
}

FILETIME creation_time_of(const std::string& unix_path, const struct stat& st) {
  FILETIME ft;
  if (::lgetxattr(unix_path.c_str(), kCreationName, &ft, sizeof ft) == static_cast<ssize_t>(sizeof ft)) return ft;
  struct statx sx;
  if (::statx(AT_FDCWD, unix_path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    return filetime_from_unix_ns(static_cast<long long>(sx.stx_btime.tv_sec) * 1000000000LL + sx.stx_btime.tv_nsec);
  return filetime_from_unix_ns(static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec);
}

namespace {

// The *xattrat calls (Linux 6.13) look a name up relative to an open folder,
// sparing the walk of the whole path for each entry of a listing.
#if defined(SYS_listxattrat)
constexpr long kListXattrAt = SYS_listxattrat;
#elif defined(__x86_64__) || defined(__aarch64__)
constexpr long kListXattrAt = 465;
#else
constexpr long kListXattrAt = -1;
#endif
std::atomic<bool> xattr_at_missing{kListXattrAt < 0};
std::atomic<bool> xattr_by_path{false};

ssize_t list_xattr_names(int at_fd, const char* at_name, const std::string& unix_path, char* names, std::size_t size) {
  if (at_fd != AT_FDCWD && !xattr_at_missing.load(std::memory_order_relaxed) &&
      !xattr_by_path.load(std::memory_order_relaxed)) {
    const long n = ::syscall(kListXattrAt, at_fd, at_name, AT_SYMLINK_NOFOLLOW, names, size);
    // Older kernels, and sandboxes that refuse calls they do not know.
    if (n >= 0 || (errno != ENOSYS && errno != EPERM)) return n;
    xattr_at_missing.store(true, std::memory_order_relaxed);
  }
  return ::llistxattr(unix_path.c_str(), names, size);
}

}  // namespace

void list_xattrs_by_path_for_tests(bool on) { xattr_by_path.store(on, std::memory_order_relaxed); }

bool entry_facts(int at_fd, const char* at_name, const std::string& unix_path, struct stat& lst, DWORD& attributes,
                 FILETIME& creation, ListingFacts* listing) {
  struct statx sx;
  if (::statx(at_fd, at_name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  lst = {};
  lst.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  lst.st_ino = sx.stx_ino;
  lst.st_mode = sx.stx_mode;
  lst.st_nlink = sx.stx_nlink;
  lst.st_size = static_cast<off_t>(sx.stx_size);
  lst.st_blocks = static_cast<blkcnt_t>(sx.stx_blocks);
  lst.st_atim.tv_sec = sx.stx_atime.tv_sec;
  lst.st_atim.tv_nsec = sx.stx_atime.tv_nsec;
  lst.st_mtim.tv_sec = sx.stx_mtime.tv_sec;
  lst.st_mtim.tv_nsec = sx.stx_mtime.tv_nsec;
  lst.st_ctim.tv_sec = sx.stx_ctime.tv_sec;
  lst.st_ctim.tv_nsec = sx.stx_ctime.tv_nsec;
  // One look at the names of the entry's extended attributes spares reading
  // the ones it does not have (most entries have none). A file system that
  // keeps none is not asked again for the rest of a listing.
  bool has_attributes = false, has_creation = false;
  if (!listing || !listing->no_xattrs || listing->no_xattrs_dev != lst.st_dev || S_ISLNK(lst.st_mode)) {
    char names[256];
    const ssize_t n = list_xattr_names(at_fd, at_name, unix_path, names, sizeof names);
    if (n >= 0) {
      for (ssize_t i = 0; i < n;) {
        const char* name = names + i;
        if (std::strcmp(name, kAttributeName) == 0) has_attributes = true;
        if (std::strcmp(name, kCreationName) == 0) has_creation = true;
        i += static_cast<ssize_t>(std::strlen(name)) + 1;
      }
    } else if (errno == ENOTSUP && listing && !S_ISLNK(lst.st_mode)) {
      listing->no_xattrs = true;
      listing->no_xattrs_dev = lst.st_dev;
    } else {
      has_attributes = has_creation = true;
    }
  }
  attributes = attributes_with(unix_path, lst, has_attributes);
  if (has_creation && ::lgetxattr(unix_path.c_str(), kCreationName, &creation, sizeof creation) ==
                          static_cast<ssize_t>(sizeof creation))
    return true;
  if (sx.stx_mask & STATX_BTIME)
    creation = filetime_from_unix_ns(static_cast<long long>(sx.stx_btime.tv_sec) * 1000000000LL + sx.stx_btime.tv_nsec);
  else
    creation = filetime_from_unix_ns(static_cast<long long>(sx.stx_mtime.tv_sec) * 1000000000LL + sx.stx_mtime.tv_nsec);
  return true;
}

bool store_creation_time(const std::string& unix_path, const FILETIME& ft, bool symlink) {
  if (symlink) return true;
  return set_user_xattr(unix_path, kCreationName, &ft, sizeof ft, false) || errno == ENOTSUP;
}

// ---------------------------------------------------------------------------
// File objects

namespace {

// The stat of an open file, and whether its file system keeps birth times.
bool stat_fd(int fd, struct stat& st, bool& has_birth) {
  struct statx sx;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    has_birth = false;
    return ::fstat(fd, &st) == 0;
  }
  st = {};
  st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  st.st_ino = sx.stx_ino;
  st.st_mode = sx.stx_mode;
  st.st_nlink = sx.stx_nlink;
  st.st_size = static_cast<off_t>(sx.stx_size);
  st.st_mtim.tv_sec = sx.stx_mtime.tv_sec;
  st.st_mtim.tv_nsec = sx.stx_mtime.tv_nsec;
  has_birth = (sx.stx_mask & STATX_BTIME) != 0;
  return true;
}

}  // namespace

struct FileObject : KernelObject {
  ObjectKind kind() const override { return ObjectKind::File; }

  int fd = -1;
  bool owns_fd = true;
  bool o_path = false;
  bool is_dir = false;
  bool seekable = true;
  bool delete_on_close = false;
  DWORD access = 0;
  DWORD share = 0;
  DWORD flags = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string unix_path;
  std::shared_ptr<ShareRecord> record;  // null when the handle takes no part in sharing
  bool share_on_fd = false;             // its share mode is kept on fd
  bool pipe_end = false;                // an end of an anonymous pipe (CreatePipe)

  std::mutex m;
  ULONGLONG pos = 0;

  ~FileObject() override {
    share_close(record, access, share, this, share_on_fd);  // drops share modes and locks first
    record.reset();
    if (delete_on_close) {
      struct stat st;
      if (::lstat(unix_path.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
        FolderChange change(parent_folder(unix_path));
        if (S_ISDIR(st.st_mode) ? ::rmdir(unix_path.c_str()) == 0 : ::unlink(unix_path.c_str()) == 0)
          change.done({}, last_name(unix_path));
      }
    }
    if (owns_fd && fd >= 0) ::close(fd);
  }

  // Byte ranges: does another handle's lock (or, for writes, a shared lock of
  // this handle) cover part of [offset, offset+count)?
  bool io_blocked(ULONGLONG offset, ULONGLONG count, bool write) {
    return record && share_io_blocked(*record, this, offset, count, write);
  }
};

namespace {

std::shared_ptr<FileObject> file_of(HANDLE h) {
  auto f = handle_lookup_as<FileObject>(h);
  if (!f) SetLastError(ERROR_INVALID_HANDLE);
  return f;
}

DWORD expand_access(DWORD access) {
  if (access & GENERIC_READ) access |= FILE_GENERIC_READ;
  if (access & GENERIC_WRITE) access |= FILE_GENERIC_WRITE;
  if (access & GENERIC_EXECUTE) access |= FILE_GENERIC_EXECUTE;
  if (access & GENERIC_ALL) access |= FILE_ALL_ACCESS;
  return access & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

// Specific rights that count for sharing.
constexpr DWORD kReadRights = FILE_READ_DATA | FILE_EXECUTE;
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA;

HANDLE fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

std::atomic<WriteFileHook*> write_file_hook{nullptr};

void set_write_file_hook(WriteFileHook* hook) { write_file_hook.store(hook); }

std::string file_handle_path(HANDLE h) {
  auto f = file_of(h);
  return f ? f->unix_path : std::string();
}

}  // namespace win32

using win32::FileObject;

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  using win32::fail;
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
    return fail(ERROR_INVALID_PARAMETER);
  const DWORD flags = dwFlagsAndAttributes;
  DWORD access = win32::expand_access(dwDesiredAccess);
  if (flags & FILE_FLAG_DELETE_ON_CLOSE) access |= DELETE;
  if (access & MAXIMUM_ALLOWED) access = (access & ~static_cast<DWORD>(MAXIMUM_ALLOWED)) | FILE_ALL_ACCESS;
  const bool backup = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  const bool want_write = (access & win32::kWriteRights) != 0;
  const bool want_read = (access & win32::kReadRights) != 0;
  const DWORD disp = dwCreationDisposition;
  if (disp == TRUNCATE_EXISTING && !(access & FILE_WRITE_DATA)) return fail(ERROR_INVALID_PARAMETER);
  const int data_flags = O_CLOEXEC | (want_read && want_write ? O_RDWR : want_write ? O_WRONLY : O_RDONLY);

  win32::MappedPath m;
  win32::PathFacts facts;
  struct stat st {};
  bool has_birth = false;
  int fd = -1;
  bool exists = false;
  // Most opens name an existing file as it is spelt: try that first, and
  // look the name up only when it fails or finds something else than a file.
  if (disp != CREATE_NEW && !(flags & FILE_FLAG_OPEN_REPARSE_POINT) && (want_read || want_write)) {
    facts.as_given = true;
    if (!win32::map_path(lpFileName, m, false, &facts)) return INVALID_HANDLE_VALUE;
    if (!m.trailing_separator) {
      fd = ::open(m.unix_path.c_str(), data_flags);
      if (fd >= 0 && (!win32::stat_fd(fd, st, has_birth) || S_ISDIR(st.st_mode))) {
        ::close(fd);
        fd = -1;
      }
      exists = fd >= 0;
    }
    facts.as_given = false;
    facts.in_listing = !exists && errno == ENOENT;
  }
  if (disp == CREATE_NEW) facts.in_listing = true;
  if (!exists) {
    if (!win32::map_path(lpFileName, m, false, &facts)) return INVALID_HANDLE_VALUE;
    if (m.state == win32::PathState::ParentMissing) return fail(ERROR_PATH_NOT_FOUND);
    exists = m.state == win32::PathState::Exists && facts.have_entry;
  }

  // The lookup's own lstat tells what is there; a link's target needs one more.
  const bool is_link = fd < 0 && exists && S_ISLNK(facts.entry.st_mode);
  const bool open_link = is_link && (flags & FILE_FLAG_OPEN_REPARSE_POINT);
  if (exists && fd < 0) {
    if (!is_link || open_link)
      st = facts.entry;
    else if (::stat(m.unix_path.c_str(), &st) != 0)
      exists = false;  // a dangling link: the target is what is missing
  }
  const bool is_dir = exists && S_ISDIR(st.st_mode);
  auto refuse = [&](DWORD code) {
    if (fd >= 0) ::close(fd);
    return fail(code);
  };
  if (m.trailing_separator && !is_dir) return refuse(ERROR_INVALID_NAME);

  if (exists) {
    if (is_dir) {
      if (!backup) return fail(ERROR_ACCESS_DENIED);
      if (disp == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
      if (disp == CREATE_ALWAYS || disp == TRUNCATE_EXISTING) return fail(ERROR_ACCESS_DENIED);
    } else {
      if (disp == CREATE_NEW) return refuse(ERROR_FILE_EXISTS);
      const bool read_only = (st.st_mode & 0222) == 0 && !S_ISLNK(st.st_mode);
      if (read_only && (want_write || (access & DELETE) || disp == CREATE_ALWAYS || disp == TRUNCATE_EXISTING))
        return refuse(ERROR_ACCESS_DENIED);
    }
  } else if (disp == OPEN_EXISTING || disp == TRUNCATE_EXISTING) {
    return fail(ERROR_FILE_NOT_FOUND);
  }

  // Open (or make) the Unix file. Truncation waits until sharing allows it.
  int oflags = O_CLOEXEC;
  bool o_path = false;
  if (open_link) {
    oflags |= O_PATH | O_NOFOLLOW;
    o_path = true;
  } else if (is_dir) {
    oflags |= O_RDONLY | O_DIRECTORY;
  } else {
    oflags = data_flags;
  }
  bool created = false;
  const bool probed = fd >= 0;
  // Only a file that may be made here needs its folder and name.
  const std::string folder = probed ? std::string() : win32::parent_folder(m.unix_path);
  const std::string name = probed ? std::string() : win32::last_name(m.unix_path);
  if (probed) {
    // Opened above.
  } else if (exists) {
    fd = ::open(m.unix_path.c_str(), oflags);
    if (fd < 0 && errno == EACCES && !want_read && !want_write && !o_path) {
      fd = ::open(m.unix_path.c_str(), O_PATH | O_CLOEXEC);
      o_path = fd >= 0;
    }
  } else {
    win32::FolderChange change(folder, facts.have_parent ? &facts.parent : nullptr);
    // Made writable: the kept attribute bits are written before the
    // read-only mode is set.
    const mode_t mode = 0666;
    // A file made here may always be read by its maker: readable, its handle
    // can keep its share mode on its own description.
    const int made_flags = (oflags & O_ACCMODE) == O_WRONLY ? (oflags & ~O_ACCMODE) | O_RDWR : oflags;
    fd = ::open(m.unix_path.c_str(), made_flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0) oflags = made_flags;
    if (fd < 0 && errno == EEXIST && disp != CREATE_NEW) {
      fd = ::open(m.unix_path.c_str(), oflags);  // made by someone else meanwhile
      exists = fd >= 0;
    }
    created = fd >= 0 && !exists;
    if (created) change.done(name);
  }
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT) return fail(exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return fail(err == EEXIST ? ERROR_FILE_EXISTS : win32::error_from_errno(err));
  }
  struct stat fst = st;
  if (!probed) win32::stat_fd(fd, fst, has_birth);

  auto obj = std::make_shared<FileObject>();
  obj->fd = fd;
  obj->o_path = o_path;
  obj->is_dir = S_ISDIR(fst.st_mode);
  obj->seekable = S_ISREG(fst.st_mode) || S_ISBLK(fst.st_mode) || S_ISDIR(fst.st_mode);
  obj->access = access;
  obj->share = dwShareMode;
  obj->flags = flags;
  obj->dev = fst.st_dev;
  obj->ino = fst.st_ino;
  obj->unix_path = std::move(m.unix_path);

  win32::ShareFd share_fd;
  if (!o_path) {
    share_fd.probe = fd;
    if ((oflags & O_ACCMODE) != O_WRONLY) share_fd.lock = fd;
  }
  if (DWORD e = win32::share_open(fst.st_dev, fst.st_ino, access, dwShareMode, share_fd, obj->record,
                                  obj->share_on_fd)) {
    if (created) {
      win32::FolderChange change(folder);
      if (::unlink(obj->unix_path.c_str()) == 0) change.done({}, name);
    }
    return fail(e);
  }

  const bool truncate = exists && !obj->is_dir && (disp == CREATE_ALWAYS || disp == TRUNCATE_EXISTING);
  if (truncate && ::ftruncate(fd, 0) != 0) return fail(win32::error_from_errno(errno));
  const DWORD attrs = (flags & win32::kStoredAttributes) | FILE_ATTRIBUTE_ARCHIVE;
  if (created) {
    // A new file reads as archive without a stored mark, unless its name
    // makes it hidden; a birth time stands for the creation time.
    bool kept = true;
    if (attrs != FILE_ATTRIBUTE_ARCHIVE || name[0] == '.')
      kept = ::fsetxattr(fd, win32::kAttributeName, &attrs, sizeof attrs, 0) == 0 || errno == ENOTSUP;
    if (kept && !has_birth) {
      FILETIME ft = win32::filetime_from_unix_ns(fst.st_mtim.tv_sec * 1000000000LL + fst.st_mtim.tv_nsec);
      ::fsetxattr(fd, win32::kCreationName, &ft, sizeof ft, 0);
    }
    if (kept && (flags & FILE_ATTRIBUTE_READONLY)) kept = ::fchmod(fd, fst.st_mode & 07555) == 0;
    if (!kept) {
      const DWORD e = win32::error_from_errno(errno);
      win32::FolderChange change(folder);
      if (::unlink(obj->unix_path.c_str()) == 0) change.done({}, name);
      return fail(e);
    }
  } else if (exists && disp == CREATE_ALWAYS) {
    if (!win32::store_attributes(obj->unix_path, attrs, false) ||
        ((flags & FILE_ATTRIBUTE_READONLY) && ::fchmod(fd, fst.st_mode & 07555) != 0))
      return fail(win32::error_from_errno(errno));
  }
  obj->delete_on_close = (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;

  HANDLE h = win32::handle_insert(obj);
  SetLastError(exists && (disp == CREATE_ALWAYS || disp == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (!lpFileName) return win32::fail(ERROR_PATH_NOT_FOUND);
  const UINT cp = win32::file_api_code_page();
  int n = MultiByteToWideChar(cp, 0, lpFileName, -1, nullptr, 0);
  std::u16string w(static_cast<std::size_t>(n > 0 ? n : 1), u'\0');
  MultiByteToWideChar(cp, 0, lpFileName, -1, w.data(), n);
  return CreateFileW(w.c_str(), dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                     dwFlagsAndAttributes, hTemplateFile);
}

namespace {

constexpr ULONGLONG kSector = 512;

ULONGLONG overlapped_offset(const OVERLAPPED* o) {
  return (static_cast<ULONGLONG>(o->OffsetHigh) << 32) | o->Offset;
}

}  // namespace

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!lpNumberOfBytesRead && !lpOverlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (f->is_dir) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (!(f->access & FILE_READ_DATA) || f->o_path) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (nNumberOfBytesToRead && !lpBuffer) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(f->m);
  ULONGLONG offset = lpOverlapped ? overlapped_offset(lpOverlapped) : f->pos;
  if ((f->flags & FILE_FLAG_NO_BUFFERING) && (offset % kSector || nNumberOfBytesToRead % kSector)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (f->seekable && f->io_blocked(offset, nNumberOfBytesToRead, false)) {
    SetLastError(ERROR_LOCK_VIOLATION);
    return FALSE;
  }
  auto* out = static_cast<char*>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToRead) {
    const DWORD asked = nNumberOfBytesToRead - done;
    ssize_t r = f->seekable ? ::pread(f->fd, out + done, asked, static_cast<off_t>(offset + done))
                            : ::read(f->fd, out + done, asked);
    if (r < 0) {
      if (errno == EINTR) continue;
      win32::set_last_error_from_errno(errno);
      if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
      return FALSE;
    }
    if (r == 0) {
      if (f->pipe_end && done == 0) {  // every write end is closed
        SetLastError(ERROR_BROKEN_PIPE);
        return FALSE;
      }
      break;
    }
    done += static_cast<DWORD>(r);
    // A pipe or terminal gives what it has; a short read of a file ends at
    // its end, and asking again would only read nothing.
    if (!f->seekable || static_cast<DWORD>(r) < asked) break;
  }
  if (f->seekable) f->pos = offset + done;
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
  if (lpOverlapped) {
    lpOverlapped->Internal = 0;
    lpOverlapped->InternalHigh = done;
  }
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!lpNumberOfBytesWritten && !lpOverlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (f->is_dir) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (!(f->access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) || f->o_path) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (win32::WriteFileHook* hook = win32::write_file_hook.load()) {
    DWORD error = 0;
    if (hook(hFile, nNumberOfBytesToWrite, lpNumberOfBytesWritten, &error)) {
      if (error == 0) return TRUE;
      SetLastError(error);
      return FALSE;
    }
  }
  if (nNumberOfBytesToWrite && !lpBuffer) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(f->m);
  ULONGLONG offset = lpOverlapped ? overlapped_offset(lpOverlapped) : f->pos;
  if (f->seekable && !(f->access & FILE_WRITE_DATA)) {
    // Append-only handles always write at the end.
    struct stat st;
    if (::fstat(f->fd, &st) == 0) offset = static_cast<ULONGLONG>(st.st_size);
  }
  if ((f->flags & FILE_FLAG_NO_BUFFERING) && (offset % kSector || nNumberOfBytesToWrite % kSector)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (f->seekable && f->io_blocked(offset, nNumberOfBytesToWrite, true)) {
    SetLastError(ERROR_LOCK_VIOLATION);
    return FALSE;
  }
  const auto* in = static_cast<const char*>(lpBuffer);
  DWORD done = 0;
  BOOL ok = TRUE;
  // A pipe whose readers are gone answers ERROR_BROKEN_PIPE, not a signal.
  std::optional<win32::PipeSignalGuard> no_sigpipe;
  if (f->pipe_end) no_sigpipe.emplace();
  while (done < nNumberOfBytesToWrite) {
    ssize_t w = f->seekable
                    ? ::pwrite(f->fd, in + done, nNumberOfBytesToWrite - done, static_cast<off_t>(offset + done))
                    : ::write(f->fd, in + done, nNumberOfBytesToWrite - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      win32::set_last_error_from_errno(errno);  // a full disk reports what did fit
      ok = FALSE;
      break;
    }
    done += static_cast<DWORD>(w);
  }
  if (f->seekable) f->pos = offset + done;
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
  if (lpOverlapped) {
    lpOverlapped->Internal = 0;
    lpOverlapped->InternalHigh = done;
  }
  if (ok && (f->flags & FILE_FLAG_WRITE_THROUGH)) ::fdatasync(f->fd);
  return ok;
}

BOOL win32::copy_file_data(HANDLE in, HANDLE out, DWORD length, LPDWORD copied) {
  *copied = 0;
  auto src = win32::file_of(in);
  auto dst = win32::file_of(out);
  if (!src || !dst) return FALSE;
  auto unsupported = [] {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  };
  constexpr DWORD kUnbuffered = FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH;
  if (src == dst || src->is_dir || dst->is_dir || src->o_path || dst->o_path || !src->seekable || !dst->seekable ||
      !(src->access & FILE_READ_DATA) || !(dst->access & FILE_WRITE_DATA) || ((src->flags | dst->flags) & kUnbuffered) ||
      write_file_hook.load())
    return unsupported();
  std::scoped_lock g(src->m, dst->m);
  if (src->io_blocked(src->pos, length, false) || dst->io_blocked(dst->pos, length, true)) {
    SetLastError(ERROR_LOCK_VIOLATION);
    return FALSE;
  }
  loff_t from = static_cast<loff_t>(src->pos), to = static_cast<loff_t>(dst->pos);
  DWORD done = 0;
  BOOL ok = TRUE;
  while (done < length) {
    const ssize_t n = ::copy_file_range(src->fd, &from, dst->fd, &to, length - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                        errno == EBADF || errno == ETXTBSY || errno == EPERM))
        return unsupported();
      win32::set_last_error_from_errno(errno);
      ok = FALSE;
      break;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  src->pos += done;
  dst->pos += done;
  *copied = done;
  return ok;
}

namespace {

// The new position for a move, or false with the last error set.
bool move_pointer(FileObject& f, LONGLONG distance, DWORD method, ULONGLONG& result) {
  LONGLONG base;
  switch (method) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = static_cast<LONGLONG>(f.pos); break;
    case FILE_END: {
      struct stat st;
      if (::fstat(f.fd, &st) != 0) {
        win32::set_last_error_from_errno(errno);
        return false;
      }
      base = st.st_size;
      break;
    }
    default: SetLastError(ERROR_INVALID_PARAMETER); return false;
  }
  LONGLONG target;
  if (__builtin_add_overflow(base, distance, &target) || target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return false;
  }
  result = static_cast<ULONGLONG>(target);
  return true;
}

}  // namespace

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  auto f = win32::file_of(hFile);
  if (!f) return INVALID_SET_FILE_POINTER;
  LONGLONG distance = lpDistanceToMoveHigh
                          ? static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<DWORD>(*lpDistanceToMoveHigh))
                                                   << 32) |
                                                  static_cast<DWORD>(lDistanceToMove))
                          : static_cast<LONGLONG>(lDistanceToMove);
  std::lock_guard<std::mutex> g(f->m);
  ULONGLONG target;
  if (!move_pointer(*f, distance, dwMoveMethod, target)) return INVALID_SET_FILE_POINTER;
  if (!lpDistanceToMoveHigh && target > 0xFFFFFFFFull) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if ((f->flags & FILE_FLAG_NO_BUFFERING) && target % kSector) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  f->pos = target;
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(target >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(target);
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  std::lock_guard<std::mutex> g(f->m);
  ULONGLONG target;
  if (!move_pointer(*f, liDistanceToMove.QuadPart, dwMoveMethod, target)) return FALSE;
  if ((f->flags & FILE_FLAG_NO_BUFFERING) && target % kSector) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  f->pos = target;
  if (lpNewFilePointer) lpNewFilePointer->QuadPart = static_cast<LONGLONG>(target);
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!lpFileSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat st;
  if (::fstat(f->fd, &st) != 0) {
    win32::set_last_error_from_errno(errno);
    return FALSE;
  }
  lpFileSize->QuadPart = f->is_dir ? 0 : st.st_size;
  return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(hFile, &size)) return INVALID_FILE_SIZE;
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(static_cast<ULONGLONG>(size.QuadPart) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size.QuadPart);
}

BOOL SetEndOfFile(HANDLE hFile) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!(f->access & FILE_WRITE_DATA) || f->is_dir || f->o_path) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(f->m);
  if (::ftruncate(f->fd, static_cast<off_t>(f->pos)) != 0) {
    win32::set_last_error_from_errno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!(f->access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) || f->o_path) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (::fsync(f->fd) != 0 && errno != EINVAL && errno != EROFS) {
    win32::set_last_error_from_errno(errno);
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// Byte-range locks

namespace {

BOOL lock_range(HANDLE hFile, ULONGLONG offset, ULONGLONG length, bool exclusive, bool wait) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!(f->access & (FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA)) || f->is_dir || f->o_path) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!f->record) return TRUE;  // a stream or a world without a runtime folder: nothing to enforce
  if (DWORD e = win32::share_lock(*f->record, f.get(), offset, length, exclusive, wait)) {
    SetLastError(e);
    return FALSE;
  }
  return TRUE;
}

BOOL unlock_range(HANDLE hFile, ULONGLONG offset, ULONGLONG length) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!f->record) return TRUE;
  if (DWORD e = win32::share_unlock(*f->record, f.get(), offset, length)) {
    SetLastError(e);
    return FALSE;
  }
  return TRUE;
}

ULONGLONG join64(DWORD low, DWORD high) { return (static_cast<ULONGLONG>(high) << 32) | low; }

}  // namespace

BOOL LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh, DWORD nNumberOfBytesToLockLow,
              DWORD nNumberOfBytesToLockHigh) {
  return lock_range(hFile, join64(dwFileOffsetLow, dwFileOffsetHigh),
                    join64(nNumberOfBytesToLockLow, nNumberOfBytesToLockHigh), true, false);
}

BOOL UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh, DWORD nNumberOfBytesToUnlockLow,
                DWORD nNumberOfBytesToUnlockHigh) {
  return unlock_range(hFile, join64(dwFileOffsetLow, dwFileOffsetHigh),
                      join64(nNumberOfBytesToUnlockLow, nNumberOfBytesToUnlockHigh));
}

BOOL LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD dwReserved, DWORD nNumberOfBytesToLockLow,
                DWORD nNumberOfBytesToLockHigh, LPOVERLAPPED lpOverlapped) {
  if (dwReserved != 0 || !lpOverlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return lock_range(hFile, overlapped_offset(lpOverlapped), join64(nNumberOfBytesToLockLow, nNumberOfBytesToLockHigh),
                    (dwFlags & LOCKFILE_EXCLUSIVE_LOCK) != 0, !(dwFlags & LOCKFILE_FAIL_IMMEDIATELY));
}

BOOL UnlockFileEx(HANDLE hFile, DWORD dwReserved, DWORD nNumberOfBytesToUnlockLow, DWORD nNumberOfBytesToUnlockHigh,
                  LPOVERLAPPED lpOverlapped) {
  if (dwReserved != 0 || !lpOverlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return unlock_range(hFile, overlapped_offset(lpOverlapped),
                      join64(nNumberOfBytesToUnlockLow, nNumberOfBytesToUnlockHigh));
}

// ---------------------------------------------------------------------------
// Times and information

namespace {
bool stat_of(FileObject& f, struct stat& st) {
  if (::fstat(f.fd, &st) == 0) return true;
  win32::set_last_error_from_errno(errno);
  return false;
}

FILETIME ft_of(const struct timespec& ts) {
  return win32::filetime_from_unix_ns(static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
}

bool leaves_unchanged(const FILETIME* ft) {
  if (!ft) return true;
  long long v = win32::filetime_value(*ft);
  return v == 0 || v == -1;
}

struct timespec ts_of(const FILETIME& ft) {
  long long ns = win32::unix_ns_from_filetime(ft);
  struct timespec ts;
  ts.tv_sec = ns / 1000000000LL;
  ts.tv_nsec = ns % 1000000000LL;
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000LL;
    ts.tv_sec -= 1;
  }
  return ts;
}
}  // namespace

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  struct stat st;
  if (!stat_of(*f, st)) return FALSE;
  if (lpCreationTime) *lpCreationTime = win32::creation_time_of(f->unix_path, st);
  if (lpLastAccessTime) *lpLastAccessTime = ft_of(st.st_atim);
  if (lpLastWriteTime) *lpLastWriteTime = ft_of(st.st_mtim);
  return TRUE;
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!(f->access & FILE_WRITE_ATTRIBUTES)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (!leaves_unchanged(lpLastAccessTime)) times[0] = ts_of(*lpLastAccessTime);
  if (!leaves_unchanged(lpLastWriteTime)) times[1] = ts_of(*lpLastWriteTime);
  if (times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT) {
    int r = f->o_path ? ::utimensat(AT_FDCWD, f->unix_path.c_str(), times, AT_SYMLINK_NOFOLLOW)
                      : ::futimens(f->fd, times);
    if (r != 0) {
      win32::set_last_error_from_errno(errno);
      return FALSE;
    }
  }
  if (!leaves_unchanged(lpCreationTime)) {
    struct stat lst;
    bool link = ::lstat(f->unix_path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
    if (!win32::store_creation_time(f->unix_path, *lpCreationTime, link)) {
      win32::set_last_error_from_errno(errno);
      return FALSE;
    }
  }
  return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION info) {
  auto f = win32::file_of(hFile);
  if (!f) return FALSE;
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat st;
  if (!stat_of(*f, st)) return FALSE;
  struct stat lst;
  info->dwFileAttributes =
      ::lstat(f->unix_path.c_str(), &lst) == 0 ? win32::attributes_of(f->unix_path, lst) : FILE_ATTRIBUTE_NORMAL;
  info->ftCreationTime = win32::creation_time_of(f->unix_path, st);
  info->ftLastAccessTime = ft_of(st.st_atim);
  info->ftLastWriteTime = ft_of(st.st_mtim);
  auto dev = static_cast<unsigned long long>(st.st_dev);
  info->dwVolumeSerialNumber = static_cast<DWORD>(dev ^ (dev >> 32));
  ULONGLONG size = f->is_dir ? 0 : static_cast<ULONGLONG>(st.st_size);
  info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info->nFileSizeLow = static_cast<DWORD>(size);
  info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  auto ino = static_cast<unsigned long long>(st.st_ino);
  info->nFileIndexHigh = static_cast<DWORD>(ino >> 32);
  info->nFileIndexLow = static_cast<DWORD>(ino);
  return TRUE;
}

DWORD GetFileType(HANDLE hFile) {
  auto f = win32::file_of(hFile);
  if (!f) return FILE_TYPE_UNKNOWN;
  struct stat st;
  if (!stat_of(*f, st)) return FILE_TYPE_UNKNOWN;
  SetLastError(ERROR_SUCCESS);
  if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_DISK;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED) {
  if (lpBytesReturned) *lpBytesReturned = 0;
  auto f = win32::file_of(hDevice);
  if (!f) return FALSE;
  const DWORD device_type = dwIoControlCode >> 16;
  if (device_type != 9 /* FILE_DEVICE_FILE_SYSTEM */) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  const bool writable = (f->access & (FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | GENERIC_WRITE)) != 0;
  std::lock_guard<std::mutex> g(f->m);
  return win32::fs_control(f->fd, f->o_path, writable, f->unix_path, dwIoControlCode, lpInBuffer, nInBufferSize,
                           lpOutBuffer, nOutBufferSize, lpBytesReturned);
}

HANDLE GetStdHandle(DWORD nStdHandle) {
  static std::mutex lock;
  static HANDLE handles[3] = {nullptr, nullptr, nullptr};
  int index;
  switch (nStdHandle) {
    case STD_INPUT_HANDLE: index = 0; break;
    case STD_OUTPUT_HANDLE: index = 1; break;
    case STD_ERROR_HANDLE: index = 2; break;
    default: SetLastError(ERROR_INVALID_HANDLE); return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> g(lock);
  if (!handles[index]) {
    struct stat st;
    if (::fstat(index, &st) != 0) return nullptr;  // no such stream: a null handle, as Windows gives
    auto obj = std::make_shared<FileObject>();
    obj->fd = index;
    obj->owns_fd = false;
    obj->seekable = S_ISREG(st.st_mode);
    obj->access = index == 0 ? FILE_GENERIC_READ : FILE_GENERIC_WRITE;
    obj->share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    obj->dev = st.st_dev;
    obj->ino = st.st_ino;
    if (obj->seekable) {
      off_t p = ::lseek(index, 0, SEEK_CUR);
      obj->pos = p > 0 ? static_cast<ULONGLONG>(p) : 0;
    }
    handles[index] = win32::handle_insert(obj);
  }
  return handles[index];
}

namespace win32 {

PipeSignalGuard::PipeSignalGuard() {
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old_);
}

PipeSignalGuard::~PipeSignalGuard() {
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  if (!was_pending_) {
    // Takes back the signal a write to a closed pipe raised here.
    const struct timespec zero {};
    while (sigtimedwait(&pipe_only, nullptr, &zero) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

HANDLE pipe_end_handle(int fd, bool read_end, DWORD handle_flags) {
  auto obj = std::make_shared<FileObject>();
  obj->fd = fd;
  obj->seekable = false;
  obj->pipe_end = true;
  obj->access = read_end ? FILE_GENERIC_READ : FILE_GENERIC_WRITE;
  obj->share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  struct stat st;
  if (::fstat(fd, &st) == 0) {
    obj->dev = st.st_dev;
    obj->ino = st.st_ino;
  }
  return handle_insert(std::move(obj), kAllAccess, handle_flags);
}

bool file_handle_facts(HANDLE h, FileHandleFacts& out) {
  auto f = file_of(h);
  if (!f) return false;
  out.fd = f->fd;
  out.o_path = f->o_path;
  out.is_dir = f->is_dir;
  out.access = f->access;
  out.unix_path = f->unix_path;
  return true;
}

}  // namespace win32
