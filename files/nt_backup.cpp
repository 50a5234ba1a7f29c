#include "files/nt_backup.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "files/file_time.h"
#include "files/fs_error.h"
#include "files/winnt_dir.h"
#include "platform/win32/windows.h"

// ---------------------------------------------------------------- blocks

bool file_backup_raw_data_factory::make(raw_data*& out, std::int32_t length) {
  out = nullptr;
  const std::uint32_t capacity = length < 0 ? default_length : static_cast<std::uint32_t>(length);
  auto* block = new (std::nothrow) raw_data;
  if (!block) return false;
  block->buffer = new (std::nothrow) std::uint8_t[capacity ? capacity : 1];
  if (!block->buffer) {
    delete block;
    return false;
  }
  block->capacity = capacity;
  out = block;
  return true;
}

void file_backup_raw_data_factory::release(raw_data* block) { delete block; }

// ---------------------------------------------------------------- errors

namespace {

const char16_t* backup_path(const Common::ErrorRecord* r) {
  return static_cast<const char16_t*>(r->slotText(r->fieldSlots()[0]));
}
const char16_t* backup_wide(const Common::ErrorRecord* r, const char* name) {
  return name && std::strcmp(name, "Path") == 0 ? backup_path(r) : nullptr;
}
const char* backup_narrow(const Common::ErrorRecord*, const char*) { return nullptr; }
const char* backup_names(const Common::ErrorRecord*) { return "Path,Hints"; }
template <std::uint64_t Hints>
std::uint64_t backup_hints(const Common::ErrorRecord*, const char* name) {
  return name && std::strcmp(name, "Hints") == 0 ? Hints : 0;
}
template <std::uint64_t Hints>
constexpr Common::ErrorRecordOps backup_ops{Common::freeErrorRecordBlock,
                                            Common::cloneErrorRecord,
                                            Common::wideSlotText,
                                            backup_hints<Hints>,
                                            backup_narrow,
                                            backup_wide,
                                            backup_names};

}  // namespace

Common::Error make_backup_error(std::uint64_t site, std::uint32_t code, const char16_t* path, std::uint64_t hints,
                                const Common::Error& cause) {
  const Common::RecordText field{path, true};
  const Common::ErrorRecordOps* ops = hints == 3 ? &backup_ops<3> : &backup_ops<1>;
  Common::Error e(Common::buildErrorRecord(ops, site, code, {path, true}, &field, 1));
  if (cause.code()) e.setCause(cause);
  return e;
}

namespace {

using raw_data = file_backup_raw_data_factory::raw_data;

Common::Error with_cause(std::uint64_t site, std::uint32_t code, const Common::Error& cause) {
  Common::Error e = make_fs_error(site, code);
  if (cause.code()) e.setCause(cause);
  return e;
}

Common::Error last_error_of(std::uint64_t site, const char* function, std::uint32_t default_code) {
  return make_system_file_error(site, function, default_code);
}

// ---------------------------------------------------------------- privileges

bool backup_privilege_on = false;
bool restore_privilege_on = false;

Common::Error enable_privilege(const char* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return last_error_of(KV_SITE, "OpenProcessToken", fs_error::access_denied);
  Common::Error e;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid))
    e = last_error_of(KV_SITE, "LookupPrivilegeValue", fs_error::access_denied);
  else if (!AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr))
    e = last_error_of(KV_SITE, "AdjustTokenPrivileges", fs_error::access_denied);
  CloseHandle(token);
  return e;
}

void enable_once(bool& flag, const char* name) {
  if (flag) return;
  // A privilege the token lacks does not stop the work; the calls that need
  // it fail on their own.
  if (enable_privilege(name).code() == 0) flag = true;
}

// ---------------------------------------------------------------- raw EFS

using OpenRawFn = DWORD (*)(LPCWSTR, ULONG, PVOID*);
using ReadRawFn = DWORD (*)(PFE_EXPORT_FUNC, PVOID, PVOID);
using WriteRawFn = DWORD (*)(PFE_IMPORT_FUNC, PVOID, PVOID);
using CloseRawFn = void (*)(PVOID);
using DecryptFn = BOOL (*)(LPCWSTR, DWORD);

struct RawEfs {
  OpenRawFn open = nullptr;
  ReadRawFn read = nullptr;
  WriteRawFn write = nullptr;
  CloseRawFn close = nullptr;
  DecryptFn decrypt = nullptr;
  bool available() const { return open && read && write && close; }
};

const RawEfs& raw_efs() {
  static const RawEfs fns = [] {
    RawEfs r;
    HMODULE advapi = LoadLibraryW(u"advapi32.dll");
    if (!advapi) return r;
    r.open = reinterpret_cast<OpenRawFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "OpenEncryptedFileRawW")));
    r.read = reinterpret_cast<ReadRawFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "ReadEncryptedFileRaw")));
    r.write = reinterpret_cast<WriteRawFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "WriteEncryptedFileRaw")));
    r.close = reinterpret_cast<CloseRawFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "CloseEncryptedFileRaw")));
    r.decrypt = reinterpret_cast<DecryptFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "DecryptFileW")));
    if (r.available()) {
      PVOID ctx = nullptr;
      if (r.open(u"nul", 0, &ctx) == ERROR_SUCCESS && ctx) r.close(ctx);
    }
    return r;
  }();
  return fns;
}

// ---------------------------------------------------------------- context

class ChunkNTBackupStreamCallback {
 public:
  virtual ~ChunkNTBackupStreamCallback() = default;
  virtual bool chunk(std::uint64_t count) = 0;
};

class BackupContext : public ChunkNTBackupStreamCallback {
 public:
  BackupContext(backup_progress* progress, const char16_t* path, bool backup)
      : progress_(progress), path_(path), backup_(backup) {}

  bool chunk(std::uint64_t n) override {
    if (!progress_) return true;
    if (progress_->is_canceled()) return false;
    total_ += n;
    progress_->set_position(total_);
    return true;
  }
  bool report_half(std::uint64_t n) {
    const std::uint64_t h = n / 2;
    if (progress_ && !progress_->is_canceled()) {
      total_ += h;
      progress_->set_position(total_);
      total_ += n - h;
      return true;
    }
    total_ += n - h;
    return !progress_;
  }
  bool canceled() { return progress_ && progress_->is_canceled(); }
  void report() {
    if (progress_) progress_->set_position(total_);
  }
  int ask(int question) { return progress_ ? progress_->ask(question, path_) : 0; }
  std::uint32_t code() const { return backup_ ? fs_error::backup : fs_error::restore; }
  const char16_t* path() const { return path_; }
  Common::Error wrap(std::uint64_t site, const Common::Error& cause, std::uint64_t hints = 1) const {
    return make_backup_error(site, code(), path_, hints, cause);
  }
  Common::Error wrap_last(std::uint64_t site, const char* function, std::uint64_t hints = 1) const {
    return wrap(site, last_error_of(site, function, code()), hints);
  }

 private:
  backup_progress* progress_;
  std::uint64_t total_ = 0;
  const char16_t* path_;
  bool backup_;
};

// ---------------------------------------------------------------- handles

class FileHandle : public file_object {
 public:
  explicit FileHandle(const char16_t* path) : path_(path) {}
  ~FileHandle() override { close(); }

  bool open(DWORD access, DWORD disposition, DWORD flags, DWORD share) {
    close();
    fs_redirection_guard guard;
    handle_ = CreateFileW(path_, access, share, nullptr, disposition, flags, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      handle_ = nullptr;
      set_error(win32_file_error(KV_SITE, disposition == OPEN_EXISTING ? fs_error::open : fs_error::create,
                                 "CreateFileW", path_));
      return false;
    }
    clear_error();
    return true;
  }
  void close() {
    if (!held()) return;
    CloseHandle(handle_);
    handle_ = nullptr;
    if (delete_on_close) {
      delete_on_close = false;
      fs_redirection_guard guard;
      if (!DeleteFileW(path_)) RemoveDirectoryW(path_);
    }
  }
  bool held() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE handle() const { return handle_; }

  bool delete_on_close = false;

 private:
  const char16_t* path_;
  HANDLE handle_ = nullptr;
};

class NTFSEncryptedFile : public file_object {
 public:
  NTFSEncryptedFile(const char16_t* path, ULONG flags) {
    fs_redirection_guard guard;
    const DWORD r = raw_efs().open(path, flags, &context_);
    if (r != ERROR_SUCCESS) {
      context_ = nullptr;
      SetLastError(r);
      set_error(win32_file_error(KV_SITE, fs_error::open, "OpenEncryptedFileRawW", path));
    }
  }
  ~NTFSEncryptedFile() override {
    if (context_) raw_efs().close(context_);
  }
  PVOID context() const { return context_; }

 private:
  PVOID context_ = nullptr;
};

// ---------------------------------------------------------------- stream reader

class NTBackupStream : public ri_file {
 public:
  NTBackupStream(HANDLE handle, bool security, BackupContext& context)
      : handle_(handle), security_(security), context_(context) {}
  ~NTBackupStream() override {
    if (backup_context_) {
      DWORD n = 0;
      BackupRead(handle_, nullptr, 0, &n, TRUE, FALSE, &backup_context_);
    }
  }

  void read(void* buffer, std::uint32_t length, std::uint32_t& count) override {
    count = 0;
    if (Bad()) return;
    DWORD got = 0;
    const bool had_context = backup_context_ != nullptr;
    if (!BackupRead(handle_, static_cast<LPBYTE>(buffer), length, &got, FALSE, security_, &backup_context_)) {
      const DWORD last = GetLastError();
      if (last != ERROR_NOT_SUPPORTED || (!had_context && !backup_context_ && got == 0))
        set_error(context_.wrap_last(KV_SITE, "BackupRead"));
    }
    count = got;
    position_ += got;
  }
  std::int64_t seek_cur(std::int64_t distance) override {
    DWORD lo = 0, hi = 0;
    const auto d = static_cast<std::uint64_t>(distance);
    if (!BackupSeek(handle_, static_cast<DWORD>(d), static_cast<DWORD>(d >> 32), &lo, &hi, &backup_context_))
      set_error(context_.wrap_last(KV_SITE, "BackupSeek"));
    position_ += static_cast<std::uint64_t>(hi) << 32 | lo;
    return static_cast<std::int64_t>(position_);
  }
  std::int64_t seek_set(std::int64_t) override {
    raise(KV_SITE, fs_error::not_supported);
    return static_cast<std::int64_t>(position_);
  }
  std::int64_t seek_end(std::int64_t) override {
    raise(KV_SITE, fs_error::not_supported);
    return static_cast<std::int64_t>(position_);
  }
  std::int64_t rewind() override {
    raise(KV_SITE, fs_error::not_supported);
    return 0;
  }
  std::uint64_t size() override {
    raise(KV_SITE, fs_error::not_supported);
    return 0;
  }
  std::uint64_t position() const { return position_; }

 private:
  HANDLE handle_;
  bool security_;
  BackupContext& context_;
  LPVOID backup_context_ = nullptr;
  std::uint64_t position_ = 0;
};

// Moves one block into a sink; the error is empty when it went.
Common::Error hand_over(file_backup_stream* sink, raw_data* block, ChunkNTBackupStreamCallback& cb,
                        std::uint64_t count) {
  sink->write(block);
  if (sink->Bad()) return with_cause(KV_SITE, fs_error::write, sink->error());
  if (!cb.chunk(count)) return make_fs_error(KV_SITE, fs_error::cancelled);
  return {};
}

Common::Error new_block(file_backup_stream* sink, raw_data*& block, std::int32_t length) {
  if (sink->Bad() || !sink->make(block, length)) return with_cause(KV_SITE, fs_error::out_of_memory, sink->error());
  return {};
}

Common::Error copy_backup_streams(NTBackupStream& reader, file_backup_stream* data, file_backup_stream* other,
                                  ChunkNTBackupStreamCallback& cb) {
  std::uint64_t expected = reader.position();
  for (;;) {
    std::uint8_t header[20];
    std::uint32_t count = 0;
    reader.read(header, sizeof header, count);
    if (reader.Bad()) return with_cause(KV_SITE, fs_error::read, reader.error());
    if (count == 0) return {};
    if (count != sizeof header) return make_fs_error(KV_SITE, fs_error::corrupted);
    expected += sizeof header;
    std::uint32_t id, name_size;
    std::uint64_t size;
    std::memcpy(&id, header, 4);
    std::memcpy(&size, header + 8, 8);
    std::memcpy(&name_size, header + 16, 4);
    const bool is_data = id == BACKUP_DATA || id == BACKUP_SPARSE_BLOCK;
    file_backup_stream* sink = is_data ? data : other;
    if (sink) {
      raw_data* block = nullptr;
      if (auto e = new_block(sink, block, sizeof header); e.code()) return e;
      std::memcpy(block->buffer, header, sizeof header);
      block->size = sizeof header;
      if (auto e = hand_over(sink, block, cb, sizeof header); e.code()) return e;
      std::uint64_t left = name_size + size;
      while (left) {
        if (auto e = new_block(sink, block, -1); e.code()) return e;
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(block->capacity, left));
        reader.read_exact(block->buffer, n);
        if (reader.Bad()) {
          sink->release(block);
          return with_cause(KV_SITE, fs_error::read, reader.error());
        }
        block->size = n;
        if (auto e = hand_over(sink, block, cb, n); e.code()) return e;
        left -= n;
        expected += n;
      }
    } else {
      const std::uint32_t head = name_size + (id == BACKUP_SPARSE_BLOCK ? 8 : 0);
      std::uint8_t local[1024];
      std::vector<std::uint8_t> big;
      std::uint8_t* buffer = local;
      if (head > sizeof local) {
        big.resize(head);
        buffer = big.data();
      }
      if (head) reader.read_exact(buffer, head);
      if (reader.Bad()) return with_cause(KV_SITE, fs_error::read, reader.error());
      expected += head;
      const std::uint64_t skip = id == BACKUP_SPARSE_BLOCK ? (size >= 8 ? size - 8 : 0) : size;
      if (skip) {
        const std::int64_t at = reader.seek_cur(static_cast<std::int64_t>(skip));
        if (reader.Bad()) return with_cause(KV_SITE, fs_error::seek, reader.error());
        expected += skip;
        if (static_cast<std::uint64_t>(at) != expected) return make_fs_error(KV_SITE, fs_error::seek);
      }
    }
  }
}

// Writes one small block (attributes, times) as a whole part.
Common::Error write_small_part(backup_writer* archive, int kind, const void* bytes, std::uint32_t n,
                               ChunkNTBackupStreamCallback& cb) {
  std::unique_ptr<file_backup_stream> part(archive->open_part(kind));
  if (!part || archive->Bad()) return archive->Bad() ? archive->error() : make_fs_error(KV_SITE, fs_error::write);
  raw_data* block = nullptr;
  if (!part->make(block, static_cast<std::int32_t>(n))) return with_cause(KV_SITE, fs_error::out_of_memory, {});
  std::memcpy(block->buffer, bytes, n);
  block->size = n;
  part->write(block);
  if (part->Bad()) return part->error();
  if (!cb.chunk(n)) return make_fs_error(KV_SITE, fs_error::cancelled);
  return {};
}

// ---------------------------------------------------------------- encryption

struct ExportState {
  file_backup_stream* part;
  BackupContext* context;
  bool canceled = false;
};

DWORD export_chunk(BYTE* data, PVOID state_ptr, ULONG length) {
  auto* s = static_cast<ExportState*>(state_ptr);
  raw_data* block = nullptr;
  if (!s->part->make(block, static_cast<std::int32_t>(length))) return static_cast<DWORD>(E_FAIL);
  std::memcpy(block->buffer, data, length);
  block->size = length;
  s->part->write(block);
  if (!s->context->chunk(length)) {
    s->canceled = true;
    return static_cast<DWORD>(E_FAIL);
  }
  return s->part->Bad() ? static_cast<DWORD>(E_FAIL) : 0;
}

Common::Error backup_encryption(backup_writer* archive, BackupContext& ctx, const char16_t* path, DWORD attributes,
                                std::uint32_t options) {
  const bool encrypted = attributes & FILE_ATTRIBUTE_ENCRYPTED;
  const bool dir = attributes & FILE_ATTRIBUTE_DIRECTORY;
  if (raw_efs().available() && !(options & backup_option::no_raw_encrypted) && encrypted) {
    std::unique_ptr<file_backup_stream> part(archive->open_part(backup_part::encrypted));
    if (!part || archive->Bad()) return archive->error();
    NTFSEncryptedFile raw(path, dir ? CREATE_FOR_DIR : 0);
    if (raw.Bad()) return ctx.wrap(KV_SITE, raw.error(), 3);
    ExportState state{part.get(), &ctx};
    const DWORD r = raw_efs().read(&export_chunk, &state, raw.context());
    if (r == ERROR_SUCCESS) return {};
    if (state.canceled) return make_fs_error(KV_SITE, fs_error::cancelled);
    if (part->Bad()) return ctx.wrap(KV_SITE, part->error(), 3);
    SetLastError(r);
    return ctx.wrap_last(KV_SITE, "ReadEncryptedFileRaw", 3);
  }
  if (!encrypted || dir) return {};
  std::unique_ptr<file_backup_stream> part(archive->open_part(backup_part::plain));
  if (!part || archive->Bad()) return archive->error();
  FileHandle plain(path);
  if (!plain.open(GENERIC_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, FILE_SHARE_READ | FILE_SHARE_WRITE))
    return plain.error();
  for (;;) {
    if (ctx.canceled()) return make_fs_error(KV_SITE, fs_error::cancelled);
    ctx.report();
    raw_data* block = nullptr;
    if (!part->make(block, 4096)) return with_cause(KV_SITE, fs_error::out_of_memory, part->error());
    DWORD got = 0;
    if (!ReadFile(plain.handle(), block->buffer, 4096, &got, nullptr)) {
      part->release(block);
      return ctx.wrap_last(KV_SITE, "ReadFile");
    }
    if (got == 0) {
      part->release(block);
      if (!ctx.chunk(0)) return make_fs_error(KV_SITE, fs_error::cancelled);
      return {};
    }
    block->size = got;
    if (!ctx.report_half(got)) {
      part->release(block);
      return make_fs_error(KV_SITE, fs_error::cancelled);
    }
    part->write(block);
    if (part->Bad()) return ctx.wrap(KV_SITE, part->error());
  }
}

bool is_cancel(const Common::Error& e) {
  if (e.code() == fs_error::cancelled) return true;
  return e.cause().code() == fs_error::cancelled;
}

}  // namespace

// ---------------------------------------------------------------- backup

void backup_file(Common::Error& error, const char16_t* path_in, backup_writer* archive, backup_progress* progress,
                 std::uint32_t options) {
  error.clear();
  enable_once(backup_privilege_on, "SeBackupPrivilege");
  std::u16string path = path_in ? path_in : u"";
  if ((!path.empty() && path.back() == u':') ||
      (path.rfind(u"\\\\?\\", 0) == 0 && path.find(u'\\', 4) == std::u16string::npos))
    path += u'\\';
  const char16_t* p = path.c_str();
  DWORD attributes;
  {
    fs_redirection_guard guard;
    attributes = GetFileAttributesW(p);
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = win32_file_error(KV_SITE, fs_error::not_found, "GetFileAttributesW", p);
    return;
  }
  const bool follow = options & backup_option::follow_reparse;
  const bool data_only = options & backup_option::data_only;
  const bool marked_reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && follow;
  if (data_only && (attributes & (FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_DIRECTORY))) return;
  BackupContext ctx(progress, p, true);
  FileHandle handle(p);
  if (!handle.open(GENERIC_READ, OPEN_EXISTING,
                   FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                   FILE_SHARE_READ | FILE_SHARE_WRITE)) {
    error = handle.error();
    return;
  }
  if (marked_reparse) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle.handle(), &info)) {
      error = win32_file_error(KV_SITE, fs_error::not_found, "GetFileInformationByHandle", p);
      return;
    }
    attributes = info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  }
  if (!data_only) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &attributes, 4);
    if (auto e = write_small_part(archive, backup_part::attributes, bytes, 4, ctx); e.code()) {
      error = e;
      return;
    }
  }
  FILETIME created{}, written{};
  {
    std::unique_ptr<file_backup_stream> part(archive->open_part(backup_part::streams));
    if (!part || archive->Bad()) {
      error = archive->error();
      return;
    }
    NTBackupStream reader(handle.handle(), !(options & backup_option::no_security), ctx);
    Common::Error e = copy_backup_streams(reader, (options & backup_option::no_data_streams) ? nullptr : part.get(),
                                          data_only ? nullptr : part.get(), ctx);
    if (e.code()) {
      error = e;
      return;
    }
    if (!GetFileTime(handle.handle(), &created, nullptr, &written)) {
      error = ctx.wrap_last(KV_SITE, "GetFileTime");
      return;
    }
  }
  handle.close();
  if (data_only) return;
  if (auto e = backup_encryption(archive, ctx, p, attributes, options); e.code()) {
    error = e;
    return;
  }
  std::int64_t times[2] = {file_time_to_ms(written), file_time_to_ms(created)};
  error = write_small_part(archive, backup_part::times, times, sizeof times, ctx);
}

// ---------------------------------------------------------------- restore

namespace {

// Compares what BackupRead hands it with the bytes of a part.
class BackupStreamsComparator : public file_backup_stream {
 public:
  explicit BackupStreamsComparator(i_file* source) : source_(source) {}
  ~BackupStreamsComparator() override { delete cached_; }

  bool make(raw_data*& out, std::int32_t length) override {
    if (cached_ && cached_->capacity >= static_cast<std::uint32_t>(length < 0 ? default_length : length)) {
      out = cached_;
      cached_ = nullptr;
      out->size = 0;
      return true;
    }
    return file_backup_raw_data_factory::make(out, length);
  }
  void release(raw_data* block) override {
    if (!cached_) {
      cached_ = block;
    } else {
      delete block;
    }
  }
  void write(raw_data* block) override {
    ++blocks_;
    if (equal_ && block->size) {
      compare_.resize(block->size);
      std::uint32_t got = 0;
      source_->read(compare_.data(), block->size, got);
      if (source_->Bad() || got != block->size ||
          std::memcmp(compare_.data(), block->buffer + block->offset, block->size) != 0)
        equal_ = false;
    }
    release(block);
    if (!equal_) raise(KV_SITE, fs_error::cancelled);
  }

  bool equal() const { return equal_; }
  std::uint64_t blocks() const { return blocks_; }
  // True when the source holds nothing beyond what was compared.
  bool source_exhausted() {
    std::uint8_t byte;
    std::uint32_t got = 0;
    source_->read(&byte, 1, got);
    return got == 0 && (source_->Good() || source_->error_code() == fs_error::end_of_file);
  }

 private:
  i_file* source_;
  bool equal_ = true;
  raw_data* cached_ = nullptr;
  std::uint64_t blocks_ = 0;
  std::vector<std::uint8_t> compare_;
};

// Reads the streams of `handle` into `sink` in blocks of the default length.
Common::Error read_backup_streams(HANDLE handle, bool security, file_backup_stream& sink, BackupContext& ctx) {
  LPVOID backup_context = nullptr;
  Common::Error e;
  for (;;) {
    raw_data* block = nullptr;
    if (!sink.make(block, -1)) {
      e = make_fs_error(KV_SITE, fs_error::out_of_memory);
      break;
    }
    DWORD got = 0;
    if (!BackupRead(handle, block->buffer, block->capacity, &got, FALSE, security, &backup_context)) {
      if (!(GetLastError() == ERROR_NOT_SUPPORTED && got == 0 && backup_context)) e = ctx.wrap_last(KV_SITE, "BackupRead");
      sink.release(block);
      break;
    }
    block->size = got;
    const bool full = got == block->capacity;
    sink.write(block);
    if (sink.Bad()) {
      e = sink.error();
      break;
    }
    if (!full) break;
  }
  DWORD n = 0;
  BackupRead(handle, nullptr, 0, &n, TRUE, FALSE, &backup_context);
  return e;
}

// True only when the entry at `path` holds exactly the part's streams: the
// whole part is compared (from its start), and a part that cannot be read
// again from its start never counts as identical.
bool streams_identical(i_file* part, const char16_t* path) {
  FileHandle handle(path);
  if (!handle.open(GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                   FILE_SHARE_READ))
    return false;
  auto* rewindable = dynamic_cast<sized_file*>(part);
  for (bool security : {true, false}) {
    if (rewindable) {
      part->clear_error();
      rewindable->rewind();
      if (part->Bad()) return false;
    } else if (!security) {
      return false;
    }
    BackupContext ctx(nullptr, path, false);
    BackupStreamsComparator comparator(part);
    const Common::Error e = read_backup_streams(handle.handle(), security, comparator, ctx);
    if (e.code() && !is_cancel(e)) return false;
    if (comparator.equal() && comparator.source_exhausted()) return true;
    // A part saved without security differs from the first block on; any
    // later difference is final.
    if (comparator.blocks() > 1 || !security) return false;
  }
  return false;
}

Common::Error set_handle_compression(HANDLE handle, bool on) {
  std::uint16_t format = on ? 1 : 0;
  DWORD n = 0;
  if (DeviceIoControl(handle, 0x9C040, &format, sizeof format, nullptr, 0, &n, nullptr)) return {};
  const DWORD last = GetLastError();
  if (last == ERROR_INVALID_FUNCTION || last == ERROR_NOT_SUPPORTED || last == 1717) return {};
  return make_system_file_error(KV_SITE, "FSCTL_SET_COMPRESSION", fs_error::restore);
}

bool is_remote_path(const std::u16string& p) {
  if (p.rfind(u"\\\\", 0) == 0) {
    // Long local paths ("\\?\C:\") also begin so; their drive decides.
    if (p.rfind(u"\\\\?\\", 0) != 0 || p.rfind(u"\\\\?\\UNC\\", 0) == 0) return true;
  }
  const std::size_t colon = p.find(u':');
  if (colon == std::u16string::npos || colon >= 6 || colon + 1 >= p.size() || p[colon + 1] != u'\\') return false;
  const std::u16string root = p.substr(0, colon + 2);
  return GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
}

Common::Error write_backup_streams(const char16_t* path, HANDLE handle, i_file* part, bool security,
                                   BackupContext& ctx) {
  std::vector<std::uint8_t> block(4096);
  LPVOID backup_context = nullptr;
  Common::Error e;
  bool ended = false;
  bool any_written = false;
  for (;;) {
    std::uint32_t got = 0;
    part->read(block.data(), 4096, got);
    if (part->Bad()) {
      if (part->error_code() != fs_error::end_of_file) e = ctx.wrap(KV_SITE, part->error());
      break;
    }
    for (;;) {
      DWORD written = 0;
      if (BackupWrite(handle, block.data(), got, &written, FALSE, security, &backup_context)) {
        any_written = any_written || got;
        break;
      }
      const DWORD last = GetLastError();
      if (last == ERROR_ACCESS_DENIED && security && is_remote_path(path)) {
        const int answer = ctx.ask(0);
        if (answer == 0) {
          e = make_fs_error(KV_SITE, fs_error::cancelled);
        } else if (answer == 1) {
          continue;
        } else if (answer == 2) {
          security = false;
          continue;
        }
      } else if (last == ERROR_PATH_NOT_FOUND && any_written) {
        const int answer = ctx.ask(1);
        if (answer == 0) {
          e = make_fs_error(KV_SITE, fs_error::cancelled);
        } else if (answer == 1) {
          continue;
        } else if (answer == 2) {
          ended = true;
        }
      } else {
        e = ctx.wrap_last(KV_SITE, "BackupWrite");
      }
      break;
    }
    if (e.code() || ended) break;
    if (!ctx.chunk(got)) {
      e = make_fs_error(KV_SITE, fs_error::cancelled);
      break;
    }
    if (got < 4096) break;
  }
  if (backup_context) {
    DWORD n = 0;
    if (!BackupWrite(handle, nullptr, 0, &n, TRUE, FALSE, &backup_context) &&
        (e.code() == 0 || e.code() == fs_error::cancelled))
      e = ctx.wrap_last(KV_SITE, "BackupWrite");
  }
  return e;
}

struct ImportState {
  i_file* part;
  BackupContext* context;
  bool canceled = false;
};

DWORD import_chunk(BYTE* data, PVOID state_ptr, ULONG* length) {
  auto* s = static_cast<ImportState*>(state_ptr);
  std::uint32_t got = 0;
  s->part->read(data, *length, got);
  if (s->part->Bad()) return static_cast<DWORD>(E_FAIL);
  *length = got;
  if (!s->context->report_half(got)) {
    s->canceled = true;
    return static_cast<DWORD>(E_FAIL);
  }
  return 0;
}

Common::Error read_fixed(i_file* part, void* out, std::uint32_t n, BackupContext& ctx) {
  part->read_exact(out, n);
  if (part->Bad()) return part->error();
  if (!ctx.chunk(n)) return make_fs_error(KV_SITE, fs_error::cancelled);
  return {};
}

}  // namespace

void restore_file(Common::Error& error, const char16_t* p, backup_reader* archive, backup_progress* progress,
                  std::uint32_t options) {
  error.clear();
  enable_once(restore_privilege_on, "SeRestorePrivilege");
  const std::u16string path_text = p ? p : u"";
  {
    fs_redirection_guard guard;
    const DWORD now = GetFileAttributesW(p);
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesW(p, now & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) &&
        !(now & FILE_ATTRIBUTE_DIRECTORY)) {
      error = make_system_file_error(KV_SITE, "SetFileAttributesW", fs_error::restore);
      return;
    }
  }
  BackupContext ctx(progress, p, false);
  const DWORD flags = (options & restore_option::follow_reparse) ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
  DWORD disposition = CREATE_ALWAYS;
  int kind = 0;
  std::unique_ptr<i_file> part;
  for (;;) {
    part.reset(archive->next_part(kind));
    if (!part) {
      error = archive->error();
      if (!error.code()) error = make_fs_error(KV_SITE, fs_error::read);
      return;
    }
    if (archive->Bad()) {
      error = archive->error();
      return;
    }
    if (kind == backup_part::attributes) break;
  }
  DWORD attributes = 0;
  if (auto e = read_fixed(part.get(), &attributes, 4, ctx); e.code()) {
    error = e;
    return;
  }
  const bool dir = attributes & FILE_ATTRIBUTE_DIRECTORY;
  if (dir) {
    fs_redirection_guard guard;
    if (!CreateDirectoryW(p, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      error = make_system_file_error(KV_SITE, "CreateDirectoryW", fs_error::restore);
      return;
    }
    const DWORD now = GetFileAttributesW(p);
    if (raw_efs().decrypt && !(attributes & FILE_ATTRIBUTE_ENCRYPTED) && now != INVALID_FILE_ATTRIBUTES &&
        (now & FILE_ATTRIBUTE_ENCRYPTED))
      raw_efs().decrypt(p, 0);
    disposition = OPEN_EXISTING;
  }
  FileHandle handle(p);
  std::int64_t written_ms = 0, created_ms = 0;
  bool have_times = false;
  Common::Error e;
  for (;;) {
    part.reset(archive->next_part(kind));
    if (!part) break;
    if (kind == backup_part::streams) {
      bool security = !(options & restore_option::no_security);
      bool opened;
      bool only_second = false;
      const DWORD open_flags = flags | FILE_FLAG_BACKUP_SEMANTICS;
      if (!security) {
        opened = handle.open(GENERIC_READ | GENERIC_WRITE, disposition, open_flags, 0);
      } else {
        opened = handle.open(0xC10C0000, disposition, open_flags, 0);
        if (!opened) opened = only_second = handle.open(GENERIC_READ | GENERIC_WRITE, disposition, open_flags, 0);
      }
      if (!opened) {
        const Common::Error open_error = handle.error();
        const DWORD last = GetLastError();
        if (streams_identical(part.get(), p)) {
          SetLastError(last);
          continue;
        }
        e = ctx.wrap(KV_SITE, open_error);
        break;
      }
      if (only_second) {
        handle.delete_on_close = true;
        const int answer = ctx.ask(0);
        if (answer == 0) {
          e = make_fs_error(KV_SITE, fs_error::cancelled);
          break;
        }
        if (answer == 2) security = false;
      }
      if ((e = set_handle_compression(handle.handle(), attributes & FILE_ATTRIBUTE_COMPRESSED)).code()) break;
      if ((e = write_backup_streams(p, handle.handle(), part.get(), security, ctx)).code()) break;
      handle.delete_on_close = false;
    } else if (kind == backup_part::encrypted) {
      if (!raw_efs().available()) continue;
      handle.close();
      NTFSEncryptedFile raw(p, dir ? CREATE_FOR_IMPORT | CREATE_FOR_DIR : CREATE_FOR_IMPORT);
      if (raw.Bad()) {
        e = ctx.wrap(KV_SITE, raw.error(), 3);
        break;
      }
      ImportState state{part.get(), &ctx};
      const DWORD r = raw_efs().write(&import_chunk, &state, raw.context());
      if (r == ERROR_SUCCESS) {
        if (!ctx.chunk(0)) {
          e = make_fs_error(KV_SITE, fs_error::cancelled);
          break;
        }
        continue;
      }
      if (state.canceled) {
        e = make_fs_error(KV_SITE, fs_error::cancelled);
      } else if (part->Bad()) {
        e = ctx.wrap(KV_SITE, part->error(), 3);
      } else {
        SetLastError(r);
        e = ctx.wrap_last(KV_SITE, "WriteEncryptedFileRaw", 3);
      }
      break;
    } else if (kind == backup_part::plain) {
      if (!handle.held() && !handle.open(GENERIC_READ | GENERIC_WRITE, disposition, flags, 0)) {
        e = ctx.wrap(KV_SITE, handle.error());
        break;
      }
      handle.delete_on_close = true;
      if ((e = set_handle_compression(handle.handle(), attributes & FILE_ATTRIBUTE_COMPRESSED)).code()) break;
      std::vector<std::uint8_t> block(4096);
      for (;;) {
        std::uint32_t got = 0;
        part->read(block.data(), 4096, got);
        if (part->Bad()) {
          e = ctx.wrap(KV_SITE, part->error());
          break;
        }
        DWORD put = 0;
        if (got && !WriteFile(handle.handle(), block.data(), got, &put, nullptr)) {
          e = ctx.wrap_last(KV_SITE, "WriteFile");
          break;
        }
        if (!ctx.chunk(got)) {
          e = make_fs_error(KV_SITE, fs_error::cancelled);
          break;
        }
        if (got < 4096) break;
      }
      if (e.code()) break;
      handle.delete_on_close = false;
    } else if (kind == backup_part::times) {
      if (options & restore_option::no_times) continue;
      std::int64_t times[2];
      if ((e = read_fixed(part.get(), times, sizeof times, ctx)).code()) break;
      written_ms = times[0];
      created_ms = times[1];
      have_times = true;
    }
  }
  if (!e.code() && !part && archive->Bad() && archive->error_code() != fs_error::end_of_file) e = archive->error();
  part.reset();
  if (e.code()) {
    error = e;
    return;  // the handle's close removes what this restore made
  }
  bool set_attributes = true;
  if (options & restore_option::follow_reparse) {
    const DWORD now = GetFileAttributesW(p);
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_REPARSE_POINT)) set_attributes = false;
  }
  if (set_attributes) {
    fs_redirection_guard guard;
    if (!SetFileAttributesW(p, attributes) && !dir) {
      error = make_system_file_error(KV_SITE, "SetFileAttributesW", fs_error::access_denied);
      return;
    }
  }
  if (have_times && (written_ms || created_ms)) {
    const DWORD saved = GetLastError();
    const FILETIME w = ms_to_file_time(written_ms), c = ms_to_file_time(created_ms);
    FileHandle times_handle(p);
    HANDLE h = handle.held() ? handle.handle() : nullptr;
    if (!h && times_handle.open(FILE_WRITE_ATTRIBUTES, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, 0))
      h = times_handle.handle();
    if (h) {
      if (!SetFileTime(h, created_ms ? &c : nullptr, nullptr, written_ms ? &w : nullptr))
        error = ctx.wrap_last(KV_SITE, "SetFileTime");
    } else {
      FileHandle reader(p);
      if (!reader.open(GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       FILE_SHARE_READ)) {
        error = ctx.wrap(KV_SITE, reader.error());
      } else {
        FILETIME now_c{}, now_w{};
        if (!GetFileTime(reader.handle(), &now_c, nullptr, &now_w)) {
          error = ctx.wrap_last(KV_SITE, "GetFileTime");
        } else if (!dir && !((!created_ms || file_time_to_ms(now_c) == created_ms) &&
                             (!written_ms || file_time_to_ms(now_w) == written_ms))) {
          SetLastError(ERROR_ACCESS_DENIED);
          error = ctx.wrap_last(KV_SITE, "GetFileTime");
        }
      }
    }
    SetLastError(saved);
  }
}

// ---------------------------------------------------------------- directory requests

void winnt_dir::backup_control(void* request) {
  auto* r = static_cast<backup_request*>(request);
  const bool backup = r->code == control_code("BKUP");
  const char16_t* name = u".";
  if (r->entry) {
    auto* id = dynamic_cast<const the_identifier*>(r->entry);
    name = id ? id->name() : nullptr;
  }
  std::u16string path;
  if (!name || !long_path(path, name)) {
    raise(KV_SITE, backup ? fs_error::open : fs_error::create);
    return;
  }
  Common::Error e;
  if (backup) {
    backup_file(e, path.c_str(), static_cast<backup_writer*>(r->archive), r->progress, r->options);
  } else {
    restore_file(e, path.c_str(), static_cast<backup_reader*>(r->archive), r->progress, r->options);
  }
  set_error(e);
}
