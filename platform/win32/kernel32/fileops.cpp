#include "platform/win32/kernel32/fileops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/folders.h"
#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/sharing.h"

namespace {

// Maps a name for an operation on an existing entry: false with
// ERROR_PATH_NOT_FOUND or ERROR_FILE_NOT_FOUND (or the mapping's error).
bool existing(LPCWSTR name, win32::MappedPath& m, struct stat& lst) {
  win32::PathFacts facts;
  if (!win32::map_path(name, m, false, &facts)) return false;
  if (m.state == win32::PathState::ParentMissing) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (m.state == win32::PathState::LastMissing || !facts.have_entry) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  lst = facts.entry;
  return true;
}

// Removes an entry, keeping the folder's listing current.
bool remove_entry(const std::string& path, bool folder) {
  win32::FolderChange change(win32::parent_folder(path));
  if ((folder ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) != 0) return false;
  change.done({}, win32::last_name(path));
  if (folder) win32::folder_forget(path);
  return true;
}

bool is_dir_or_link_to_dir(const std::string& path, const struct stat& lst) {
  if (S_ISDIR(lst.st_mode)) return true;
  struct stat st;
  return S_ISLNK(lst.st_mode) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool read_only(const struct stat& lst) { return !S_ISLNK(lst.st_mode) && (lst.st_mode & 0222) == 0; }

BOOL fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL fail_errno() {
  win32::set_last_error_from_errno(errno);
  return FALSE;
}

FILETIME ft_of(const struct timespec& ts) {
  return win32::filetime_from_unix_ns(static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
}

std::string parent_of(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
  win32::MappedPath m;
  struct stat lst;
  if (!existing(lpFileName, m, lst)) return INVALID_FILE_ATTRIBUTES;
  if (m.trailing_separator && !is_dir_or_link_to_dir(m.unix_path, lst)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_FILE_ATTRIBUTES;
  }
  return win32::attributes_of(m.unix_path, lst);
}

BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
  if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation) return fail(ERROR_INVALID_PARAMETER);
  win32::MappedPath m;
  struct stat lst;
  if (!existing(lpFileName, m, lst)) return FALSE;
  if (m.trailing_separator && !is_dir_or_link_to_dir(m.unix_path, lst)) return fail(ERROR_INVALID_NAME);
  auto* d = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation);
  d->dwFileAttributes = win32::attributes_of(m.unix_path, lst);
  d->ftCreationTime = win32::creation_time_of(m.unix_path, lst);
  d->ftLastAccessTime = ft_of(lst.st_atim);
  d->ftLastWriteTime = ft_of(lst.st_mtim);
  ULONGLONG size = S_ISREG(lst.st_mode) ? static_cast<ULONGLONG>(lst.st_size) : 0;
  d->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  d->nFileSizeLow = static_cast<DWORD>(size);
  return TRUE;
}

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
  win32::MappedPath m;
  struct stat lst;
  if (!existing(lpFileName, m, lst)) return FALSE;
  if (m.trailing_separator && !is_dir_or_link_to_dir(m.unix_path, lst)) return fail(ERROR_INVALID_NAME);
  const bool link = S_ISLNK(lst.st_mode);
  // The kept bits first: a user attribute needs write permission, which the
  // read-only mode would take away.
  const DWORD before = win32::attributes_of(m.unix_path, lst);
  if (!win32::store_attributes(m.unix_path, dwFileAttributes, link)) return fail_errno();
  if (!link) {
    mode_t mode = lst.st_mode & 07777;
    if (dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
      mode &= ~0222;
    } else if ((mode & 0222) == 0) {
      mode_t mask = ::umask(0);
      ::umask(mask);
      mode |= 0222 & ~mask;
      mode |= 0200;
    }
    if (mode != (lst.st_mode & 07777) && ::chmod(m.unix_path.c_str(), mode) != 0) {
      const int error = errno;
      win32::store_attributes(m.unix_path, before, false);
      win32::set_last_error_from_errno(error);
      return FALSE;
    }
  }
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
  win32::MappedPath m;
  struct stat lst;
  if (!existing(lpFileName, m, lst)) return FALSE;
  if (m.trailing_separator) return fail(ERROR_INVALID_NAME);
  if (is_dir_or_link_to_dir(m.unix_path, lst)) return fail(ERROR_ACCESS_DENIED);
  if (read_only(lst)) return fail(ERROR_ACCESS_DENIED);
  if (DWORD e = win32::delete_sharing_error(lst, m.unix_path)) return fail(e);
  if (!remove_entry(m.unix_path, false)) return fail_errno();
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) {
  win32::MappedPath m;
  struct stat lst;
  if (!existing(lpPathName, m, lst)) return FALSE;
  if (S_ISLNK(lst.st_mode)) {
    // A link to a folder goes like a junction: the link alone.
    if (!is_dir_or_link_to_dir(m.unix_path, lst)) return fail(ERROR_DIRECTORY);
    if (!remove_entry(m.unix_path, false)) return fail_errno();
    return TRUE;
  }
  if (!S_ISDIR(lst.st_mode)) return fail(ERROR_DIRECTORY);
  struct stat cwd;
  if (::stat(".", &cwd) == 0 && cwd.st_dev == lst.st_dev && cwd.st_ino == lst.st_ino)
    return fail(ERROR_SHARING_VIOLATION);
  if (DWORD e = win32::delete_sharing_error(lst, m.unix_path)) return fail(e);
  if (!remove_entry(m.unix_path, true)) {
    if (errno == ENOTEMPTY || errno == EEXIST) return fail(ERROR_DIR_NOT_EMPTY);
    return fail_errno();
  }
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  win32::MappedPath m;
  win32::PathFacts facts;
  if (!win32::map_path(lpPathName, m, false, &facts)) return FALSE;
  if (m.state == win32::PathState::ParentMissing) return fail(ERROR_PATH_NOT_FOUND);
  if (m.state == win32::PathState::Exists) return fail(ERROR_ALREADY_EXISTS);
  win32::FolderChange change(win32::parent_folder(m.unix_path), facts.have_parent ? &facts.parent : nullptr);
  if (::mkdir(m.unix_path.c_str(), 0777) == 0) {
    change.done(win32::last_name(m.unix_path));
  } else {
    if (errno == EEXIST) return fail(ERROR_ALREADY_EXISTS);
    if (errno == ENOENT || errno == ENOTDIR) return fail(ERROR_PATH_NOT_FOUND);
    return fail_errno();
  }
  return TRUE;
}

BOOL CreateHardLinkW(LPCWSTR lpFileName, LPCWSTR lpExistingFileName, LPSECURITY_ATTRIBUTES) {
  win32::MappedPath from, to;
  struct stat lst;
  if (!existing(lpExistingFileName, from, lst)) return FALSE;
  if (S_ISDIR(lst.st_mode)) return fail(ERROR_ACCESS_DENIED);
  win32::PathFacts facts;
  if (!win32::map_path(lpFileName, to, false, &facts)) return FALSE;
  if (to.state == win32::PathState::ParentMissing) return fail(ERROR_PATH_NOT_FOUND);
  if (to.state == win32::PathState::Exists) return fail(ERROR_ALREADY_EXISTS);
  win32::FolderChange change(win32::parent_folder(to.unix_path), facts.have_parent ? &facts.parent : nullptr);
  if (::link(from.unix_path.c_str(), to.unix_path.c_str()) != 0) {
    if (errno == EEXIST) return fail(ERROR_ALREADY_EXISTS);
    return fail_errno();
  }
  change.done(win32::last_name(to.unix_path));
  return TRUE;
}

// ---------------------------------------------------------------------------
// Copy and move

namespace {

// Copies a file through the layer's own handles, so that share modes and locks
// hold as for any reader and writer. Keeps the last write time; the target gets
// the source's attributes.
BOOL copy_file(LPCWSTR from, LPCWSTR to, bool fail_if_exists) {
  DWORD attrs = GetFileAttributesW(from);
  if (attrs == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return fail(ERROR_ACCESS_DENIED);
  HANDLE in = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return FALSE;
  DWORD keep = attrs & (win32::kStoredAttributes | FILE_ATTRIBUTE_READONLY);
  HANDLE out = CreateFileW(to, GENERIC_WRITE, 0, nullptr, fail_if_exists ? CREATE_NEW : CREATE_ALWAYS,
                           keep ? keep : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    CloseHandle(in);
    return fail(e);
  }
  BOOL ok = TRUE;
  DWORD error = 0;
  // Inside the kernel where the two files allow it; else, or after a failed
  // step, through a buffer, which also names what failed.
  for (;;) {
    DWORD got = 0;
    if (!win32::copy_file_data(in, out, 8u << 20, &got)) break;
    if (got == 0) break;
  }
  constexpr DWORD kBuffer = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kBuffer]);
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(in, buffer.get(), kBuffer, &got, nullptr)) {
      ok = FALSE;
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    if (!WriteFile(out, buffer.get(), got, &put, nullptr) || put != got) {
      ok = FALSE;
      error = put != got && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError();
      break;
    }
  }
  if (ok) {
    FILETIME access, write;
    if (GetFileTime(in, nullptr, &access, &write)) SetFileTime(out, nullptr, &access, &write);
  }
  std::string target = win32::file_handle_path(out);
  CloseHandle(out);
  CloseHandle(in);
  if (!ok) {
    remove_entry(target, false);
    return fail(error);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

void record_pending_rename(LPCWSTR from, LPCWSTR to) {
  std::string folder = win32::world_root() + "/run";
  if (!win32::ensure_folder(folder)) return;
  std::string line = win32::utf16_to_utf8(win32::full_path_name(from)) + "\t" +
                     (to ? win32::utf16_to_utf8(win32::full_path_name(to)) : std::string()) + "\n";
  if (FILE* f = std::fopen((folder + "/pending_renames").c_str(), "a")) {
    std::fputs(line.c_str(), f);
    std::fclose(f);
  }
}

std::u16string last_component(const std::u16string& full) {
  std::size_t slash = full.find_last_of(u"\\/");
  return slash == std::u16string::npos ? full : full.substr(slash + 1);
}

}  // namespace

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  if (!lpExistingFileName) return fail(ERROR_INVALID_PARAMETER);
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    if (dwFlags & MOVEFILE_COPY_ALLOWED) return fail(ERROR_INVALID_PARAMETER);
    record_pending_rename(lpExistingFileName, lpNewFileName);
    return TRUE;
  }
  if (!lpNewFileName) return fail(ERROR_INVALID_PARAMETER);
  win32::MappedPath from, to;
  struct stat src;
  if (!existing(lpExistingFileName, from, src)) return FALSE;
  if (from.trailing_separator && !S_ISDIR(src.st_mode)) return fail(ERROR_INVALID_NAME);
  if (!win32::map_path(lpNewFileName, to)) return FALSE;
  if (to.state == win32::PathState::ParentMissing) return fail(ERROR_PATH_NOT_FOUND);

  std::string target = to.unix_path;
  struct stat dst;
  if (to.state == win32::PathState::Exists && ::lstat(to.unix_path.c_str(), &dst) == 0) {
    if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino &&
        win32::equal_ignore_case(from.full_path, to.full_path)) {
      // The same entry under another case: rename it to the new spelling.
      target = parent_of(from.unix_path) + "/" + win32::utf16_to_utf8(last_component(to.full_path));
      if (target == from.unix_path) return TRUE;
    } else {
      if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
      if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode) || read_only(dst)) return fail(ERROR_ACCESS_DENIED);
      if (win32::delete_sharing_error(dst, to.unix_path)) return fail(ERROR_ACCESS_DENIED);
    }
  }
  if (DWORD e = win32::delete_sharing_error(src, from.unix_path)) return fail(e);
  {
    const std::string from_dir = parent_of(from.unix_path), to_dir = parent_of(target);
    win32::FolderChange leaving(from_dir);
    win32::FolderChange arriving(to_dir == from_dir ? std::string() : to_dir);
    if (::rename(from.unix_path.c_str(), target.c_str()) == 0) {
      if (to_dir == from_dir) {
        leaving.done(win32::last_name(target), win32::last_name(from.unix_path));
      } else {
        leaving.done({}, win32::last_name(from.unix_path));
        arriving.done(win32::last_name(target));
      }
      if (S_ISDIR(src.st_mode)) win32::folder_forget(from.unix_path);
      return TRUE;
    }
  }
  if (errno != EXDEV) {
    if (errno == ENOTEMPTY || errno == EEXIST) return fail(ERROR_ALREADY_EXISTS);
    return fail_errno();
  }
  if (!(dwFlags & MOVEFILE_COPY_ALLOWED) || S_ISDIR(src.st_mode)) return fail(ERROR_NOT_SAME_DEVICE);
  if (!copy_file(lpExistingFileName, lpNewFileName, false)) return FALSE;
  if (!remove_entry(from.unix_path, false)) return fail_errno();
  return TRUE;
}

BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
  return MoveFileExW(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
  if (!lpExistingFileName || !lpNewFileName) return fail(ERROR_INVALID_PARAMETER);
  return copy_file(lpExistingFileName, lpNewFileName, bFailIfExists != FALSE);
}

// ---------------------------------------------------------------------------
// Finds

namespace {

// One found entry: its facts and where its name sits in the listing's pool.
struct FoundEntry {
  FILETIME creation, access, write;
  ULONGLONG size;
  DWORD attributes;
  DWORD reparse_tag;
  std::uint32_t name_at;
  std::uint16_t name_length;
  std::uint8_t rank;  // 0 ".", 1 "..", 2 any other name: the order of a listing
};

struct FindObject : win32::KernelObject {
  win32::ObjectKind kind() const override { return win32::ObjectKind::Find; }
  // Large listings are kept compact: the names in one pool, the find data
  // made only when handed out.
  std::vector<FoundEntry> entries;
  std::u16string names;
  std::vector<std::uint32_t> order;
  std::size_t next = 0;

  void add(std::u16string_view name, const FoundEntry& facts);
  void fill(std::size_t i, WIN32_FIND_DATAW& d) const;
  void sort();
  std::u16string_view name(const FoundEntry& e) const { return {names.data() + e.name_at, e.name_length}; }
};

// Windows wildcards, ignoring case: '*' any run, '?' any one character.
bool wild_match(std::u16string_view pattern, std::u16string_view name) {
  std::size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || win32::upcase(pattern[p]) == win32::upcase(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// A name without a dot also matches as if it ended in one ("*.*" and "name.*"
// find names without an extension, as on Windows).
bool dos_match(const std::u16string& pattern, const std::u16string& name) {
  if (wild_match(pattern, name)) return true;
  return name.find(u'.') == std::u16string::npos && wild_match(pattern, name + u".");
}

// Lower-case ASCII folds here without the table of the whole range.
inline char16_t fold(char16_t c) {
  if (c < 0x80) return static_cast<char16_t>(c - u'a') < 26u ? static_cast<char16_t>(c - 32) : c;
  return win32::upcase(c);
}

void FindObject::add(std::u16string_view name, const FoundEntry& facts) {
  const std::size_t n = std::min<std::size_t>(name.size(), MAX_PATH - 1);
  FoundEntry e = facts;
  e.name_at = static_cast<std::uint32_t>(names.size());
  e.name_length = static_cast<std::uint16_t>(n);
  e.rank = name == u"." ? 0 : name == u".." ? 1 : 2;
  names.append(name.data(), n);
  entries.push_back(e);
}

void FindObject::fill(std::size_t i, WIN32_FIND_DATAW& d) const {
  const FoundEntry& e = entries[order[i]];
  std::memset(&d, 0, sizeof d);
  d.dwFileAttributes = e.attributes;
  d.ftCreationTime = e.creation;
  d.ftLastAccessTime = e.access;
  d.ftLastWriteTime = e.write;
  d.nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
  d.nFileSizeLow = static_cast<DWORD>(e.size);
  d.dwReserved0 = e.reparse_tag;
  std::memcpy(d.cFileName, names.data() + e.name_at, e.name_length * sizeof(WCHAR));
}

// The order of a listing: "." and ".." first, then by name ignoring case, the
// shorter first, then by the exact name. The first characters of each name,
// in upper case, travel with it as numbers, so that most comparisons read
// neither the entries nor the names.
struct SortKey {
  std::uint64_t head[3];  // 12 characters, the first in the high bits; "." and ".." below any name
  std::uint32_t index;
};

constexpr std::size_t kHeadChars = 12;

void FindObject::sort() {
  std::vector<SortKey> keys(entries.size());
  for (std::uint32_t i = 0; i < keys.size(); ++i) {
    const FoundEntry& e = entries[i];
    SortKey& k = keys[i];
    k.head[0] = k.head[1] = k.head[2] = 0;
    k.index = i;
    if (e.rank < 2) {
      k.head[1] = e.rank;
      continue;
    }
    const std::u16string_view n = name(e);
    for (std::size_t c = 0; c < kHeadChars && c < n.size(); ++c)
      k.head[c / 4] |= static_cast<std::uint64_t>(fold(n[c])) << (48 - 16 * (c % 4));
  }
  std::sort(keys.begin(), keys.end(), [&](const SortKey& a, const SortKey& b) {
    if (a.head[0] != b.head[0]) return a.head[0] < b.head[0];
    if (a.head[1] != b.head[1]) return a.head[1] < b.head[1];
    if (a.head[2] != b.head[2]) return a.head[2] < b.head[2];
    const std::u16string_view x = name(entries[a.index]), y = name(entries[b.index]);
    for (std::size_t i = kHeadChars; i < x.size() && i < y.size(); ++i) {
      const char16_t p = fold(x[i]), q = fold(y[i]);
      if (p != q) return p < q;
    }
    if (x.size() != y.size()) return x.size() < y.size();
    return x < y;
  });
  order.resize(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].index;
}

// An entry's facts; `at_fd` and `at_name` as for entry_facts.
bool entry_found(int at_fd, const char* at_name, const std::string& unix_path, FoundEntry& e,
                 win32::ListingFacts* listing) {
  struct stat lst;
  if (!win32::entry_facts(at_fd, at_name, unix_path, lst, e.attributes, e.creation, listing)) return false;
  e.access = ft_of(lst.st_atim);
  e.write = ft_of(lst.st_mtim);
  e.size = S_ISREG(lst.st_mode) ? static_cast<ULONGLONG>(lst.st_size) : 0;
  e.reparse_tag = e.attributes & FILE_ATTRIBUTE_REPARSE_POINT ? win32::reparse_tag_of(unix_path) : 0;
  return true;
}

// Appends a file name from the disk as UTF-16; plain ASCII needs no decoding.
void append_name(std::u16string& out, std::string_view raw) {
  for (unsigned char c : raw) {
    if (c >= 0x80) {
      out += win32::utf8_to_utf16(raw);
      return;
    }
  }
  const std::size_t at = out.size();
  out.resize(at + raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) out[at + i] = static_cast<unsigned char>(raw[i]);
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string text(lpFileName);
  if (text.empty() || text.back() == u'\\' || text.back() == u'/') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  win32::MappedPath m;
  if (!win32::map_path(lpFileName, m, true)) return INVALID_HANDLE_VALUE;
  if (m.state == win32::PathState::ParentMissing) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string pattern = last_component(m.full_path);
  auto find = std::make_shared<FindObject>();
  if (pattern.find_first_of(u"*?") == std::u16string::npos || pattern.empty()) {
    // A plain name finds that entry alone, with its name as stored.
    std::size_t slash = m.unix_path.find_last_of('/');
    std::u16string stored = win32::utf8_to_utf16(m.unix_path.substr(slash + 1));
    FoundEntry e;
    if (m.state == win32::PathState::Exists && !pattern.empty() &&
        entry_found(AT_FDCWD, m.unix_path.c_str(), m.unix_path, e, nullptr))
      find->add(stored, e);
    find->order.assign(find->entries.size(), 0);
  } else {
    std::string dir = parent_of(m.unix_path);
    const bool drive_root = m.full_path.find(u'\\') == m.full_path.rfind(u'\\');
    // A folder that grants nobody reading is refused, also to a superuser.
    struct stat dir_st {};
    if (::stat(dir.c_str(), &dir_st) != 0) dir_st = {};
    if (S_ISDIR(dir_st.st_mode) && (dir_st.st_mode & 0444) == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    DIR* dp = ::opendir(dir.c_str());
    if (!dp) {
      SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : win32::error_from_errno(errno));
      return INVALID_HANDLE_VALUE;
    }
    // Entries are looked up relative to the open folder; the full path is
    // built in one buffer for the few calls that need it.
    const int dir_fd = ::dirfd(dp);
    // Room for as many entries as the folder's size suggests, so that a large
    // listing is not copied while it grows; pages not used are never touched.
    const std::size_t guess = dir_st.st_size > 0 ? std::min<std::size_t>(dir_st.st_size, 1u << 22) : 0;
    find->entries.reserve(guess / 16);
    find->names.reserve(guess);
    const bool match_all = pattern == u"*" || pattern == u"*.*";
    std::string path = dir == "/" ? std::string() : dir;
    path += '/';
    const std::size_t dir_length = path.size();
    win32::ListingFacts listing;
    std::u16string name;
    while (dirent* e = ::readdir(dp)) {
      const std::string_view raw(e->d_name);
      const bool dot = raw == "." || raw == "..";
      if (dot && drive_root) continue;
      name.clear();
      append_name(name, raw);
      if (!match_all && !dos_match(pattern, name)) continue;
      FoundEntry found;
      bool ok;
      if (dot) {
        const std::string full = raw == "." ? dir : parent_of(dir);
        ok = entry_found(AT_FDCWD, full.c_str(), full, found, nullptr);
      } else {
        path.resize(dir_length);
        path += raw;
        ok = entry_found(dir_fd, e->d_name, path, found, &listing);
      }
      if (ok) find->add(name, found);
    }
    ::closedir(dp);
    find->sort();
  }
  if (find->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  find->fill(0, *lpFindFileData);
  find->next = 1;
  SetLastError(ERROR_SUCCESS);
  return win32::handle_insert(find);
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
  auto find = win32::handle_lookup_as<FindObject>(hFindFile);
  if (!find) return fail(ERROR_INVALID_HANDLE);
  if (!lpFindFileData) return fail(ERROR_INVALID_PARAMETER);
  if (find->next >= find->order.size()) return fail(ERROR_NO_MORE_FILES);
  find->fill(find->next++, *lpFindFileData);
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!win32::handle_lookup_as<FindObject>(hFindFile)) return fail(ERROR_INVALID_HANDLE);
  win32::handle_remove(hFindFile);
  return TRUE;
}

// ---------------------------------------------------------------------------
// Temporary names, free space, modes

UINT GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique, LPWSTR lpTempFileName) {
  if (!lpPathName || !lpTempFileName) return fail(ERROR_INVALID_PARAMETER);
  std::u16string base(lpPathName);
  if (!base.empty() && base.back() != u'\\' && base.back() != u'/') base += u'\\';
  if (lpPrefixString) base += std::u16string(lpPrefixString).substr(0, 3);
  auto name_for = [&](UINT n) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", n);
    return base + win32::utf8_to_utf16(hex) + u".tmp";
  };
  auto put = [&](const std::u16string& name) {
    if (name.size() >= MAX_PATH) return false;
    std::copy(name.begin(), name.end(), lpTempFileName);
    lpTempFileName[name.size()] = 0;
    return true;
  };
  if (uUnique != 0) {
    uUnique &= 0xFFFF;
    if (!put(name_for(uUnique))) return fail(ERROR_BUFFER_OVERFLOW);
    return uUnique;
  }
  DWORD attrs = GetFileAttributesW(lpPathName);
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERROR_DIRECTORY);
  static std::atomic<UINT> counter{0};
  UINT start = static_cast<UINT>(
      (std::chrono::steady_clock::now().time_since_epoch().count() / 1000 + ::getpid() + counter++) & 0xFFFF);
  for (UINT i = 0; i < 0x10000; ++i) {
    UINT n = (start + i) & 0xFFFF;
    if (n == 0) continue;
    std::u16string name = name_for(n);
    if (name.size() >= MAX_PATH) return fail(ERROR_BUFFER_OVERFLOW);
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      put(name);
      SetLastError(ERROR_SUCCESS);
      return n;
    }
    DWORD e = GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION) return fail(e);
  }
  return fail(ERROR_FILE_EXISTS);
}

DWORD GetCompressedFileSizeW(LPCWSTR lpFileName, LPDWORD lpFileSizeHigh) {
  win32::MappedPath m;
  struct stat lst;
  if (!existing(lpFileName, m, lst)) return 0xFFFFFFFFu;
  struct stat st;
  if (::stat(m.unix_path.c_str(), &st) != 0) st = lst;
  const ULONGLONG used = S_ISREG(st.st_mode) ? std::min<ULONGLONG>(ULONGLONG(st.st_blocks) * 512, st.st_size) : 0;
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(used >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(used);
}

namespace {
bool volume_of(LPCWSTR path, struct statvfs& vfs) {
  std::u16string p = path ? std::u16string(path) : std::u16string(u".");
  win32::MappedPath m;
  struct stat lst;
  if (!existing(p.c_str(), m, lst)) return false;
  if (::statvfs(m.unix_path.c_str(), &vfs) != 0) {
    win32::set_last_error_from_errno(errno);
    return false;
  }
  return true;
}
}  // namespace

BOOL GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  struct statvfs vfs;
  if (!volume_of(lpDirectoryName, vfs)) return FALSE;
  if (lpFreeBytesAvailableToCaller) lpFreeBytesAvailableToCaller->QuadPart = ULONGLONG(vfs.f_bavail) * vfs.f_frsize;
  if (lpTotalNumberOfBytes) lpTotalNumberOfBytes->QuadPart = ULONGLONG(vfs.f_blocks) * vfs.f_frsize;
  if (lpTotalNumberOfFreeBytes) lpTotalNumberOfFreeBytes->QuadPart = ULONGLONG(vfs.f_bfree) * vfs.f_frsize;
  return TRUE;
}

BOOL GetDiskFreeSpaceW(LPCWSTR lpRootPathName, LPDWORD lpSectorsPerCluster, LPDWORD lpBytesPerSector,
                       LPDWORD lpNumberOfFreeClusters, LPDWORD lpTotalNumberOfClusters) {
  struct statvfs vfs;
  if (!volume_of(lpRootPathName, vfs)) return FALSE;
  const ULONGLONG cluster = vfs.f_frsize ? vfs.f_frsize : 4096;
  const ULONGLONG sector = 512;
  auto clamp = [](ULONGLONG v) { return static_cast<DWORD>(std::min<ULONGLONG>(v, 0xFFFFFFFFull)); };
  if (lpSectorsPerCluster) *lpSectorsPerCluster = static_cast<DWORD>(std::max<ULONGLONG>(1, cluster / sector));
  if (lpBytesPerSector) *lpBytesPerSector = static_cast<DWORD>(sector);
  if (lpNumberOfFreeClusters) *lpNumberOfFreeClusters = clamp(ULONGLONG(vfs.f_bavail) * vfs.f_frsize / cluster);
  if (lpTotalNumberOfClusters) *lpTotalNumberOfClusters = clamp(ULONGLONG(vfs.f_blocks) * vfs.f_frsize / cluster);
  return TRUE;
}

namespace {
std::atomic<UINT> g_error_mode{0};
std::atomic<bool> g_file_apis_oem{false};
}  // namespace

UINT SetErrorMode(UINT uMode) { return g_error_mode.exchange(uMode); }
UINT GetErrorMode() { return g_error_mode.load(); }
void SetFileApisToANSI() { g_file_apis_oem = false; }
void SetFileApisToOEM() { g_file_apis_oem = true; }
BOOL AreFileApisANSI() { return g_file_apis_oem ? FALSE : TRUE; }

namespace win32 {
UINT file_api_code_page() { return g_file_apis_oem ? CP_OEMCP : CP_ACP; }
}  // namespace win32
