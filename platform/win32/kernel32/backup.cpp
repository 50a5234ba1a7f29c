#include "platform/win32/kernel32/backup.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/advapi32/filesecurity.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"

namespace win32 {
namespace {

using Bytes = std::vector<BYTE>;

constexpr DWORD kGetReparsePoint = 0x000900A8;
constexpr DWORD kSetReparsePoint = 0x000900A4;
constexpr std::size_t kHeader = 20;
// Extended attributes of this prefix are the layer's own bookkeeping, not
// streams of the file.
constexpr const char* kUserPrefix = "user.";
constexpr const char* kLayerPrefix = "user.kv.";

BOOL fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// "Z:" plus the Unix path is the Windows name of any entry.
std::u16string windows_name(const std::string& unix_path) {
  std::u16string w = u"Z:" + utf8_to_utf16(unix_path);
  for (char16_t& c : w)
    if (c == u'/') c = u'\\';
  return w;
}

Bytes header(DWORD id, DWORD attributes, ULONGLONG size, const std::u16string& name) {
  Bytes h(kHeader + name.size() * 2);
  const DWORD name_size = static_cast<DWORD>(name.size() * 2);
  std::memcpy(&h[0], &id, 4);
  std::memcpy(&h[4], &attributes, 4);
  std::memcpy(&h[8], &size, 8);
  std::memcpy(&h[16], &name_size, 4);
  if (!name.empty()) std::memcpy(&h[20], name.data(), name_size);
  return h;
}

// One stream: its header with the name, then a body held in memory or, for
// the data stream, read from the file on demand.
struct OutStream {
  Bytes head;
  Bytes body;
  bool from_file = false;
  ULONGLONG file_size = 0;
  ULONGLONG body_size() const { return from_file ? file_size : body.size(); }
  ULONGLONG total() const { return head.size() + body_size(); }
};

struct ReadContext {
  static constexpr DWORD kMagic = 0x52544B42;
  DWORD magic = kMagic;
  std::vector<OutStream> streams;
  std::size_t index = 0;
  ULONGLONG offset = 0;  // inside streams[index]
  int fd = -1;
};

bool user_attributes(const std::string& path, std::vector<std::pair<std::string, Bytes>>& out) {
  ssize_t n = ::llistxattr(path.c_str(), nullptr, 0);
  if (n <= 0) return true;
  std::string names(static_cast<std::size_t>(n), '\0');
  n = ::llistxattr(path.c_str(), names.data(), names.size());
  if (n < 0) return true;
  names.resize(static_cast<std::size_t>(n));
  for (std::size_t at = 0; at < names.size();) {
    const std::string name(names.c_str() + at);
    at += name.size() + 1;
    if (name.rfind(kUserPrefix, 0) != 0 || name.rfind(kLayerPrefix, 0) == 0) continue;
    ssize_t size = ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (size < 0) continue;
    Bytes value(static_cast<std::size_t>(size));
    size = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
    if (size < 0) continue;
    value.resize(static_cast<std::size_t>(size));
    out.emplace_back(name.substr(std::strlen(kUserPrefix)), std::move(value));
  }
  return true;
}

bool build_streams(const FileHandleFacts& f, bool security, ReadContext& ctx) {
  struct stat lst;
  if (::lstat(f.unix_path.c_str(), &lst) != 0) return fail(error_from_errno(errno));
  const bool link = S_ISLNK(lst.st_mode);
  if (S_ISREG(lst.st_mode)) {
    if (!(f.access & FILE_READ_DATA) || f.o_path) return fail(ERROR_ACCESS_DENIED);
    struct stat st;
    if (::fstat(f.fd, &st) != 0) return fail(error_from_errno(errno));
    OutStream s;
    s.from_file = true;
    s.file_size = static_cast<ULONGLONG>(st.st_size);
    s.head = header(BACKUP_DATA, STREAM_NORMAL_ATTRIBUTE, s.file_size, {});
    ctx.streams.push_back(std::move(s));
    ctx.fd = f.fd;
  }
  if (security && !link) {
    if (!(f.access & READ_CONTROL)) return fail(ERROR_ACCESS_DENIED);
    const std::u16string name = windows_name(f.unix_path);
    DWORD what = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                 SACL_SECURITY_INFORMATION;
    DWORD need = 0;
    if (!GetFileSecurityW(name.c_str(), what, nullptr, 0, &need) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      what &= ~static_cast<DWORD>(SACL_SECURITY_INFORMATION);
      GetFileSecurityW(name.c_str(), what, nullptr, 0, &need);
    }
    OutStream s;
    s.body.resize(need);
    if (!need || !GetFileSecurityW(name.c_str(), what, s.body.data(), need, &need)) return FALSE;
    s.body.resize(need);
    s.head = header(BACKUP_SECURITY_DATA, STREAM_CONTAINS_SECURITY, s.body.size(), {});
    ctx.streams.push_back(std::move(s));
  }
  std::vector<std::pair<std::string, Bytes>> attributes;
  if (!link) user_attributes(f.unix_path, attributes);
  for (auto& [name, value] : attributes) {
    OutStream s;
    s.body = std::move(value);
    s.head = header(BACKUP_ALTERNATE_DATA, STREAM_NORMAL_ATTRIBUTE, s.body.size(),
                    u":" + utf8_to_utf16(name) + u":$DATA");
    ctx.streams.push_back(std::move(s));
  }
  if (link) {
    BYTE buffer[16384];
    DWORD got = 0;
    if (fs_control(-1, true, false, f.unix_path, kGetReparsePoint, nullptr, 0, buffer, sizeof buffer, &got)) {
      OutStream s;
      s.body.assign(buffer, buffer + got);
      s.head = header(BACKUP_REPARSE_DATA, STREAM_NORMAL_ATTRIBUTE, s.body.size(), {});
      ctx.streams.push_back(std::move(s));
    }
  }
  return TRUE;
}

ReadContext* read_context(LPVOID* lpContext) {
  auto* ctx = static_cast<ReadContext*>(*lpContext);
  return ctx && ctx->magic == ReadContext::kMagic ? ctx : nullptr;
}

// ---------------------------------------------------------------- writing

struct WriteContext {
  static constexpr DWORD kMagic = 0x52544B57;
  DWORD magic = kMagic;
  Bytes head;            // the header being gathered (fixed part, then name)
  bool in_body = false;  // header and name complete
  DWORD id = 0;
  ULONGLONG size = 0;
  ULONGLONG done = 0;  // bytes of the body taken
  Bytes body;          // gathered body of a stream kept in memory
  ULONGLONG sparse_offset = 0;
};

DWORD name_size_of(const Bytes& head) {
  DWORD n;
  std::memcpy(&n, &head[16], 4);
  return n;
}

std::u16string name_of(const Bytes& head) {
  std::u16string s((head.size() - kHeader) / 2, u'\0');
  if (!s.empty()) std::memcpy(s.data(), &head[kHeader], s.size() * 2);
  return s;
}

// ":name:$DATA" -> "name"; empty for anything else.
std::string stream_attribute_name(const std::u16string& stream) {
  if (stream.size() < 2 || stream[0] != u':') return {};
  const std::size_t colon = stream.find(u':', 1);
  if (colon == std::u16string::npos || stream.substr(colon) != u":$DATA" || colon == 1) return {};
  return utf16_to_utf8(stream.substr(1, colon - 1));
}

bool write_data_at(const FileHandleFacts& f, ULONGLONG offset, const BYTE* p, std::size_t n) {
  while (n) {
    const ssize_t w = ::pwrite(f.fd, p, n, static_cast<off_t>(offset));
    if (w < 0) {
      if (errno == EINTR) continue;
      SetLastError(error_from_errno(errno));
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
    offset += static_cast<ULONGLONG>(w);
  }
  return true;
}

bool data_allowed(const FileHandleFacts& f) {
  if (f.o_path || f.is_dir || !(f.access & FILE_WRITE_DATA)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

// A stream kept in memory is complete: put it where it belongs.
bool finish_stream(const FileHandleFacts& f, const WriteContext& w, bool security) {
  switch (w.id) {
    case BACKUP_DATA:
      if (::ftruncate(f.fd, static_cast<off_t>(w.size)) != 0) {
        SetLastError(error_from_errno(errno));
        return false;
      }
      return true;
    case BACKUP_SECURITY_DATA: {
      if (!security) return true;
      if ((f.access & (WRITE_DAC | WRITE_OWNER)) != (WRITE_DAC | WRITE_OWNER)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
      }
      if (w.body.size() < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
      }
      SECURITY_DESCRIPTOR_RELATIVE sd;
      std::memcpy(&sd, w.body.data(), sizeof sd);
      DWORD what = 0;
      if (sd.Owner) what |= OWNER_SECURITY_INFORMATION;
      if (sd.Group) what |= GROUP_SECURITY_INFORMATION;
      if (sd.Dacl) what |= DACL_SECURITY_INFORMATION;
      if (sd.Control & SE_SACL_PRESENT) what |= SACL_SECURITY_INFORMATION;
      Bytes copy = w.body;
      return SetFileSecurityW(windows_name(f.unix_path).c_str(), what, copy.data()) != FALSE;
    }
    case BACKUP_ALTERNATE_DATA: {
      const std::string name = stream_attribute_name(name_of(w.head));
      if (name.empty()) return true;
      const std::string key = kUserPrefix + name;
      if (::lsetxattr(f.unix_path.c_str(), key.c_str(), w.body.data(), w.body.size(), 0) != 0) {
        SetLastError(errno == ENOTSUP ? ERROR_NOT_SUPPORTED : error_from_errno(errno));
        return false;
      }
      return true;
    }
    case BACKUP_REPARSE_DATA: {
      Bytes copy = w.body;
      DWORD got = 0;
      return fs_control(f.fd, f.o_path, true, f.unix_path, kSetReparsePoint, copy.data(),
                        static_cast<DWORD>(copy.size()), nullptr, 0, &got) != FALSE;
    }
    default:
      return true;
  }
}

bool kept_in_memory(DWORD id) {
  return id == BACKUP_SECURITY_DATA || id == BACKUP_ALTERNATE_DATA || id == BACKUP_REPARSE_DATA;
}

bool consume(const FileHandleFacts& f, WriteContext& w, const BYTE* p, std::size_t n, bool security) {
  while (n || (w.in_body && w.done == w.size)) {
    if (!w.in_body) {
      std::size_t want = kHeader > w.head.size() ? kHeader - w.head.size() : 0;
      if (!want) want = kHeader + name_size_of(w.head) - w.head.size();
      const std::size_t take = std::min(want, n);
      w.head.insert(w.head.end(), p, p + take);
      p += take;
      n -= take;
      if (w.head.size() < kHeader || w.head.size() < kHeader + name_size_of(w.head)) continue;
      std::memcpy(&w.id, &w.head[0], 4);
      std::memcpy(&w.size, &w.head[8], 8);
      w.in_body = true;
      w.done = 0;
      w.body.clear();
      if (w.id == BACKUP_DATA && !data_allowed(f)) return false;
      if (w.id == BACKUP_SPARSE_BLOCK && !data_allowed(f)) return false;
      continue;
    }
    if (w.done == w.size) {
      if (!finish_stream(f, w, security)) return false;
      w = WriteContext{};
      continue;
    }
    const std::size_t take = static_cast<std::size_t>(std::min<ULONGLONG>(w.size - w.done, n));
    if (w.id == BACKUP_DATA) {
      if (!write_data_at(f, w.done, p, take)) return false;
    } else if (w.id == BACKUP_SPARSE_BLOCK) {
      std::size_t at = 0;
      while (w.done + at < 8 && at < take) {
        reinterpret_cast<BYTE*>(&w.sparse_offset)[w.done + at] = p[at];
        ++at;
      }
      if (at < take && !write_data_at(f, w.sparse_offset + (w.done + at - 8), p + at, take - at)) return false;
    } else if (kept_in_memory(w.id)) {
      w.body.insert(w.body.end(), p, p + take);
    }
    w.done += take;
    p += take;
    n -= take;
  }
  return true;
}

}  // namespace
}  // namespace win32

BOOL BackupRead(HANDLE hFile, LPBYTE lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, BOOL bAbort,
                BOOL bProcessSecurity, LPVOID* lpContext) {
  using namespace win32;
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  if (!lpContext) return fail(ERROR_INVALID_PARAMETER);
  if (bAbort) {
    delete read_context(lpContext);
    *lpContext = nullptr;
    return TRUE;
  }
  if (!lpNumberOfBytesRead || (!lpBuffer && nNumberOfBytesToRead)) return fail(ERROR_INVALID_PARAMETER);
  FileHandleFacts f;
  if (!file_handle_facts(hFile, f)) return FALSE;
  ReadContext* ctx = read_context(lpContext);
  if (!ctx) {
    if (*lpContext) return fail(ERROR_INVALID_PARAMETER);
    auto made = std::make_unique<ReadContext>();
    if (!build_streams(f, bProcessSecurity != FALSE, *made)) return FALSE;
    ctx = made.release();
    *lpContext = ctx;
  }
  DWORD got = 0;
  while (got < nNumberOfBytesToRead && ctx->index < ctx->streams.size()) {
    const OutStream& s = ctx->streams[ctx->index];
    if (ctx->offset >= s.total()) {
      ++ctx->index;
      ctx->offset = 0;
      continue;
    }
    const std::size_t room = nNumberOfBytesToRead - got;
    std::size_t n;
    if (ctx->offset < s.head.size()) {
      n = std::min<std::size_t>(room, s.head.size() - ctx->offset);
      std::memcpy(lpBuffer + got, s.head.data() + ctx->offset, n);
    } else {
      const ULONGLONG at = ctx->offset - s.head.size();
      n = static_cast<std::size_t>(std::min<ULONGLONG>(room, s.body_size() - at));
      if (s.from_file) {
        const ssize_t r = ::pread(ctx->fd, lpBuffer + got, n, static_cast<off_t>(at));
        if (r < 0) {
          if (errno == EINTR) continue;
          *lpNumberOfBytesRead = got;
          return fail(error_from_errno(errno));
        }
        // A file that shrank meanwhile: the rest reads as zeros, the header
        // already promised the size.
        if (static_cast<std::size_t>(r) < n) std::memset(lpBuffer + got + r, 0, n - static_cast<std::size_t>(r));
      } else {
        std::memcpy(lpBuffer + got, s.body.data() + at, n);
      }
    }
    got += static_cast<DWORD>(n);
    ctx->offset += n;
  }
  *lpNumberOfBytesRead = got;
  return TRUE;
}

BOOL BackupSeek(HANDLE hFile, DWORD dwLowBytesToSeek, DWORD dwHighBytesToSeek, LPDWORD lpdwLowByteSeeked,
                LPDWORD lpdwHighByteSeeked, LPVOID* lpContext) {
  using namespace win32;
  if (lpdwLowByteSeeked) *lpdwLowByteSeeked = 0;
  if (lpdwHighByteSeeked) *lpdwHighByteSeeked = 0;
  FileHandleFacts f;
  if (!file_handle_facts(hFile, f)) return FALSE;
  ReadContext* ctx = lpContext ? read_context(lpContext) : nullptr;
  if (!ctx) return fail(ERROR_INVALID_PARAMETER);
  const ULONGLONG want = static_cast<ULONGLONG>(dwHighBytesToSeek) << 32 | dwLowBytesToSeek;
  ULONGLONG moved = 0;
  if (ctx->index < ctx->streams.size()) {
    const OutStream& s = ctx->streams[ctx->index];
    // Only past the fixed header of the current stream.
    if (ctx->offset >= kHeader && ctx->offset < s.total()) {
      moved = std::min<ULONGLONG>(want, s.total() - ctx->offset);
      ctx->offset += moved;
    }
  }
  if (lpdwLowByteSeeked) *lpdwLowByteSeeked = static_cast<DWORD>(moved);
  if (lpdwHighByteSeeked) *lpdwHighByteSeeked = static_cast<DWORD>(moved >> 32);
  if (moved < want) return fail(ERROR_SEEK);
  return TRUE;
}

BOOL BackupWrite(HANDLE hFile, LPBYTE lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                 BOOL bAbort, BOOL bProcessSecurity, LPVOID* lpContext) {
  using namespace win32;
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  if (!lpContext) return fail(ERROR_INVALID_PARAMETER);
  auto* ctx = static_cast<WriteContext*>(*lpContext);
  if (ctx && ctx->magic != WriteContext::kMagic) return fail(ERROR_INVALID_PARAMETER);
  if (bAbort) {
    delete ctx;
    *lpContext = nullptr;
    return TRUE;
  }
  if (!lpNumberOfBytesWritten || (!lpBuffer && nNumberOfBytesToWrite)) return fail(ERROR_INVALID_PARAMETER);
  FileHandleFacts f;
  if (!file_handle_facts(hFile, f)) return FALSE;
  if (!ctx) {
    ctx = new WriteContext;
    *lpContext = ctx;
  }
  // Work on a copy so that a failure leaves the context as it was before
  // this buffer.
  WriteContext work = *ctx;
  if (!consume(f, work, lpBuffer, nNumberOfBytesToWrite, bProcessSecurity != FALSE)) return FALSE;
  *ctx = std::move(work);
  *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
  return TRUE;
}

DWORD OpenEncryptedFileRawW(LPCWSTR lpFileName, ULONG, PVOID* pvContext) {
  if (pvContext) *pvContext = nullptr;
  if (!lpFileName || !pvContext) return ERROR_INVALID_PARAMETER;
  return ERROR_VOLUME_NOT_SUPPORT_EFS;
}

DWORD ReadEncryptedFileRaw(PFE_EXPORT_FUNC, PVOID, PVOID) { return ERROR_INVALID_PARAMETER; }

DWORD WriteEncryptedFileRaw(PFE_IMPORT_FUNC, PVOID, PVOID) { return ERROR_INVALID_PARAMETER; }

void CloseEncryptedFileRaw(PVOID) {}

BOOL DecryptFileW(LPCWSTR lpFileName, DWORD) {
  if (!lpFileName) return win32::fail(ERROR_INVALID_PARAMETER);
  return win32::fail(ERROR_VOLUME_NOT_SUPPORT_EFS);
}
