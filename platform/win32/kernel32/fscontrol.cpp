// File-system controls of the layer's file handles: reparse points over Unix
// symbolic links, sparse files and zeroed ranges, allocated ranges and
// retrieval pointers.
//
// A junction (mount-point tag) is a symbolic link whose text ends in "/.": it
// resolves like any link to its folder, and reads back with its own tag. Every
// other link reads back as a symbolic link, relative when its text is.
#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/folders.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/paths.h"

namespace win32 {

namespace {

constexpr DWORD kSetReparsePoint = 0x000900A4;
constexpr DWORD kGetReparsePoint = 0x000900A8;
constexpr DWORD kSetSparse = 0x000900C4;
constexpr DWORD kSetZeroData = 0x000980C8;
constexpr DWORD kQueryAllocatedRanges = 0x000940CF;
constexpr DWORD kGetRetrievalPointers = 0x00090073;

BOOL fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

bool read_link(const std::string& path, std::string& text) {
  char buf[4096];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return false;
  text.assign(buf, static_cast<std::size_t>(n));
  return true;
}

bool is_junction_text(const std::string& text) { return text.size() >= 2 && text.compare(text.size() - 2, 2, "/.") == 0; }

std::u16string slice(const BYTE* base, std::size_t size, std::size_t offset, std::size_t bytes) {
  if (offset + bytes > size) return {};
  std::u16string s(bytes / 2, u'\0');
  std::memcpy(s.data(), base + offset, s.size() * 2);
  const std::size_t zero = s.find(u'\0');
  if (zero != std::u16string::npos) s.resize(zero);
  return s;
}

// "\??\C:\x" -> the Unix path of C:\x; empty when it names no folder of the world.
std::string unix_of_nt_name(const std::u16string& nt) {
  if (nt.compare(0, 4, u"\\??\\") != 0) return {};
  std::u16string win = nt.substr(4);
  if (win.size() == 2 && win[1] == u':') win += u'\\';
  MappedPath m;
  if (!map_path(win.c_str(), m)) return {};
  if (m.unix_path.size() > 1 && m.unix_path.back() == '/') m.unix_path.pop_back();
  return m.unix_path;
}

BOOL set_reparse_point(const std::string& path, const BYTE* in, DWORD size) {
  if (!in || size < 16) return fail(ERROR_INVALID_PARAMETER);
  DWORD tag;
  std::memcpy(&tag, in, 4);
  if (tag != IO_REPARSE_TAG_MOUNT_POINT && tag != IO_REPARSE_TAG_SYMLINK) return fail(ERROR_INVALID_PARAMETER);
  WORD field[4];
  std::memcpy(field, in + 8, sizeof field);
  const std::size_t names = tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
  if (size < names) return fail(ERROR_INVALID_PARAMETER);
  ULONG flags = 0;
  if (tag == IO_REPARSE_TAG_SYMLINK) std::memcpy(&flags, in + 16, 4);
  const std::u16string target = slice(in, size, names + field[0], field[1]);
  if (target.empty()) return fail(ERROR_INVALID_PARAMETER);
  std::string text;
  if (tag == IO_REPARSE_TAG_SYMLINK && (flags & 1)) {
    text = utf16_to_utf8(target);
    for (char& c : text)
      if (c == '\\') c = '/';
  } else {
    text = unix_of_nt_name(target);
    if (text.empty()) return fail(ERROR_INVALID_PARAMETER);
    if (tag == IO_REPARSE_TAG_MOUNT_POINT) text += "/.";
  }
  // The entry becomes the link: a folder only while it is empty.
  struct stat lst;
  if (::lstat(path.c_str(), &lst) != 0) return fail(error_from_errno(errno));
  FolderChange change(parent_folder(path));
  if (S_ISDIR(lst.st_mode)) {
    if (::rmdir(path.c_str()) != 0) return fail(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY
                                                                                      : error_from_errno(errno));
    folder_forget(path);
  } else if (::unlink(path.c_str()) != 0) {
    return fail(error_from_errno(errno));
  }
  change.done({}, last_name(path));
  FolderChange again(parent_folder(path));
  if (::symlink(text.c_str(), path.c_str()) != 0) return fail(error_from_errno(errno));
  again.done(last_name(path));
  return TRUE;
}

BOOL get_reparse_point(const std::string& path, BYTE* out, DWORD size, DWORD* returned) {
  std::string text;
  if (!read_link(path, text)) return fail(ERROR_NOT_A_REPARSE_POINT);
  const bool junction = is_junction_text(text);
  const bool relative = !junction && (text.empty() || text[0] != '/');
  std::u16string print;
  if (relative) {
    print = utf8_to_utf16(text);
    for (char16_t& c : print)
      if (c == u'/') c = u'\\';
  } else {
    print = to_windows_path(junction ? text.substr(0, text.size() - 2) : text);
  }
  const std::u16string substitute = relative ? print : u"\\??\\" + print;
  const std::size_t names = junction ? 16 : 20;
  const std::size_t need = names + (substitute.size() + 1 + print.size() + 1) * 2;
  if (!out || size < 8) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buf(need, 0);
  const DWORD tag = junction ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK;
  std::memcpy(buf.data(), &tag, 4);
  const WORD data = static_cast<WORD>(need - 8);
  std::memcpy(buf.data() + 4, &data, 2);
  const WORD field[4] = {0, static_cast<WORD>(substitute.size() * 2), static_cast<WORD>(substitute.size() * 2 + 2),
                         static_cast<WORD>(print.size() * 2)};
  std::memcpy(buf.data() + 8, field, sizeof field);
  if (!junction) {
    const ULONG flags = relative ? 1 : 0;
    std::memcpy(buf.data() + 16, &flags, 4);
  }
  std::memcpy(buf.data() + names, substitute.data(), substitute.size() * 2);
  std::memcpy(buf.data() + names + substitute.size() * 2 + 2, print.data(), print.size() * 2);
  const std::size_t n = need < size ? need : size;
  std::memcpy(out, buf.data(), n);
  if (returned) *returned = static_cast<DWORD>(n);
  return n == need ? TRUE : fail(ERROR_MORE_DATA);
}

BOOL zero_data(int fd, const BYTE* in, DWORD size) {
  if (!in || size < 16) return fail(ERROR_INVALID_PARAMETER);
  LONGLONG range[2];
  std::memcpy(range, in, sizeof range);
  if (range[0] < 0 || range[1] < range[0]) return fail(ERROR_INVALID_PARAMETER);
  if (range[1] == range[0]) return TRUE;
  if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, range[0], range[1] - range[0]) != 0)
    return fail(errno == EOPNOTSUPP || errno == ENOSYS ? ERROR_INVALID_FUNCTION : error_from_errno(errno));
  return TRUE;
}

BOOL allocated_ranges(int fd, const BYTE* in, DWORD size, BYTE* out, DWORD out_size, DWORD* returned) {
  if (!in || size < 16) return fail(ERROR_INVALID_PARAMETER);
  LONGLONG q[2];
  std::memcpy(q, in, sizeof q);
  if (q[0] < 0 || q[1] < 0) return fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (::fstat(fd, &st) != 0) return fail(error_from_errno(errno));
  const LONGLONG end = std::min<LONGLONG>(st.st_size, q[0] + q[1] < q[0] ? st.st_size : q[0] + q[1]);
  std::vector<LONGLONG> ranges;
  LONGLONG at = q[0];
  while (at < end) {
    const off_t data = ::lseek(fd, at, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;
      // No hole support: the whole range is data.
      ranges.push_back(at);
      ranges.push_back(end - at);
      break;
    }
    if (data >= end) break;
    off_t hole = ::lseek(fd, data, SEEK_HOLE);
    if (hole < 0 || hole > end) hole = end;
    ranges.push_back(data);
    ranges.push_back(hole - data);
    at = hole;
  }
  const std::size_t bytes = ranges.size() * sizeof(LONGLONG);
  const std::size_t fits = out ? (out_size / 16) * 16 : 0;
  const std::size_t n = bytes < fits ? bytes : fits;
  if (n) std::memcpy(out, ranges.data(), n);
  if (returned) *returned = static_cast<DWORD>(n);
  return n == bytes ? TRUE : fail(ERROR_MORE_DATA);
}

// Clusters are the volume's fragment size, as GetDiskFreeSpaceW reports them.
BOOL retrieval_pointers(int fd, const BYTE* in, DWORD size, BYTE* out, DWORD out_size, DWORD* returned) {
  if (!in || size < 8 || !out || out_size < 32) return fail(ERROR_INVALID_PARAMETER);
  LONGLONG vcn;
  std::memcpy(&vcn, in, 8);
  struct statvfs vfs;
  if (::fstatvfs(fd, &vfs) != 0) return fail(error_from_errno(errno));
  const ULONGLONG cluster = vfs.f_frsize ? vfs.f_frsize : 4096;
  struct stat st;
  if (::fstat(fd, &st) != 0) return fail(error_from_errno(errno));
  if (vcn < 0 || static_cast<ULONGLONG>(vcn) * cluster >= static_cast<ULONGLONG>(st.st_size))
    return fail(ERROR_HANDLE_EOF);
  alignas(fiemap) unsigned char raw[sizeof(fiemap) + sizeof(fiemap_extent)] = {};
  auto* map = reinterpret_cast<fiemap*>(raw);
  map->fm_start = static_cast<ULONGLONG>(vcn) * cluster;
  map->fm_length = FIEMAP_MAX_OFFSET - map->fm_start;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  map->fm_extent_count = 1;
  if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0)
    return fail(errno == EOPNOTSUPP || errno == ENOTTY ? ERROR_INVALID_FUNCTION : error_from_errno(errno));
  if (map->fm_mapped_extents == 0) return fail(ERROR_HANDLE_EOF);  // a hole up to the end
  const fiemap_extent& e = map->fm_extents[0];
  if (e.fe_flags & (FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_ENCODED | FIEMAP_EXTENT_NOT_ALIGNED))
    return fail(ERROR_INVALID_FUNCTION);
  const LONGLONG first = static_cast<LONGLONG>(e.fe_logical / cluster);
  const LONGLONG start = first > vcn ? first : vcn;
  const LONGLONG next = static_cast<LONGLONG>((e.fe_logical + e.fe_length + cluster - 1) / cluster);
  const LONGLONG lcn = static_cast<LONGLONG>(e.fe_physical / cluster) + (start - first);
  std::memset(out, 0, 32);
  const DWORD count = 1;
  std::memcpy(out, &count, 4);
  std::memcpy(out + 8, &start, 8);
  std::memcpy(out + 16, &next, 8);
  std::memcpy(out + 24, &lcn, 8);
  if (returned) *returned = 32;
  return (e.fe_flags & FIEMAP_EXTENT_LAST) ? TRUE : fail(ERROR_MORE_DATA);
}

}  // namespace

DWORD reparse_tag_of(const std::string& unix_path) {
  std::string text;
  if (!read_link(unix_path, text)) return 0;
  return is_junction_text(text) ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK;
}

BOOL fs_control(int fd, bool o_path, bool writable, const std::string& unix_path, DWORD code, LPVOID in,
                DWORD in_size, LPVOID out, DWORD out_size, LPDWORD returned) {
  const auto* input = static_cast<const BYTE*>(in);
  auto* output = static_cast<BYTE*>(out);
  switch (code) {
    case kSetReparsePoint:
      if (!writable) return fail(ERROR_ACCESS_DENIED);
      return set_reparse_point(unix_path, input, in_size);
    case kGetReparsePoint:
      return get_reparse_point(unix_path, output, out_size, returned);
    default:
      break;
  }
  if (o_path) return fail(ERROR_INVALID_FUNCTION);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail(ERROR_INVALID_FUNCTION);
  switch (code) {
    case kSetSparse:
      return writable ? TRUE : fail(ERROR_ACCESS_DENIED);
    case kSetZeroData:
      if (!writable) return fail(ERROR_ACCESS_DENIED);
      return zero_data(fd, input, in_size);
    case kQueryAllocatedRanges:
      return allocated_ranges(fd, input, in_size, output, out_size, returned);
    case kGetRetrievalPointers:
      return retrieval_pointers(fd, input, in_size, output, out_size, returned);
    default:
      return fail(ERROR_INVALID_FUNCTION);
  }
}

}  // namespace win32
