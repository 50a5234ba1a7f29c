// NT directories: iteration and entries (kinds, link targets, link counts),
// following links, hard links and junctions.
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "files/dir_calls.h"
#include "files/path.h"
#include "files/security_info.h"
#include "files/win32_calls.h"
#include "files/winnt_dir.h"
#include "system/security.h"

namespace {

constexpr DWORD kGetReparsePoint = 0x000900A8;
constexpr DWORD kSetReparsePoint = 0x000900A4;
constexpr DWORD kReparseBufferSize = 16384;
constexpr DWORD kOpenReparse = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

bool is_reparse(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(attributes & FILE_ATTRIBUTE_OFFLINE);
}

}  // namespace

// ---------------------------------------------------------------- iterator

winnt_dir::iterator::iterator(const std::u16string& search_path) : win32_dir::iterator(is_unc_long_path(search_path)) {
  const std::size_t last = search_path.find_last_of(u'\\');
  prefix_ = last == std::u16string::npos ? std::u16string() : search_path.substr(0, last + 1);
  {
    NetworkImpersonationScope scope(network_);
    fs_redirection_guard guard;
    find_ = FindFirstFileW(search_path.c_str(), &data_);
  }
  if (find_ != INVALID_HANDLE_VALUE) {
    if (is_dot_entry()) next();
    return;
  }
  const DWORD e = GetLastError();
  if (e == ERROR_ACCESS_DENIED) {
    // Refused at the root of a share: the user cancelled the share's logon.
    std::u16string searched = prefix_;
    if (!searched.empty()) searched.pop_back();
    if (is_share_root(searched)) {
      raise(KV_SITE, fs_error::cancelled);
      return;
    }
  } else if (e == ERROR_FILE_NOT_FOUND && !search_path.empty() && search_path.back() == u'*') {
    raise(KV_SITE, fs_error::end_of_file);
    return;
  }
  SetLastError(e);
  set_error(win32_file_error(KV_SITE, fs_error::open, "FindFirstFileW", search_path.c_str()));
}

void winnt_dir::iterator::next() {
  if (Bad()) return;
  if (find_ == INVALID_HANDLE_VALUE) {
    raise(KV_SITE, fs_error::end_of_file);
    return;
  }
  owner_.clear();
  link_target_.clear();
  information_read_ = false;
  do {
    if (!FindNextFileW(find_, &data_)) {
      set_error(make_system_file_error(KV_SITE, "FindNextFileW", fs_error::read));
      return;
    }
  } while (is_dot_entry());
}

file_identifier* winnt_dir::iterator::identifier() {
  if (!has_entry()) return nullptr;
  return new (std::nothrow) the_identifier(data_.cFileName, nullptr, 0);
}

std::uint64_t winnt_dir::iterator::stored_size() {
  if (!has_entry()) return 0;
  DWORD high = 0;
  DWORD low;
  {
    NetworkImpersonationScope scope(network_);
    fs_redirection_guard guard;
    low = GetCompressedFileSizeW(entry_path().c_str(), &high);
  }
  if (low == 0xFFFFFFFFu && GetLastError() != NO_ERROR) return size();
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

std::int32_t winnt_dir::iterator::kind() {
  if (!has_entry()) return 0;
  const DWORD a = data_.dwFileAttributes;
  const bool dir = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (is_reparse(a)) {
    const DWORD tag = data_.dwReserved0;
    if (tag == IO_REPARSE_TAG_SYMLINK) return dir ? entry_kind::dir_symlink : entry_kind::file_symlink;
    if (tag == 0x80000009u) return entry_kind::reparse_80000009;
    if (dir && (tag & 0x20000000u)) return entry_kind::junction;
  }
  return dir ? entry_kind::directory : entry_kind::file;
}

const void* winnt_dir::iterator::owner() {
  if (Bad()) return nullptr;
  if (find_ == INVALID_HANDLE_VALUE) {
    raise(KV_SITE, fs_error::end_of_file);
    return nullptr;
  }
  if (!owner_.empty()) return owner_.c_str();
  const std::u16string path = entry_path();
  std::vector<std::uint8_t> descriptor;
  {
    NetworkImpersonationScope scope(network_);
    fs_redirection_guard guard;
    DWORD needed = 0;
    if (!GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      set_error(win32_file_error(KV_SITE, fs_error::access_denied, "GetFileSecurityW", path.c_str()));
      return nullptr;
    }
    try {
      descriptor.assign(needed, 0);
    } catch (const std::bad_alloc&) {
      raise(KV_SITE, fs_error::out_of_memory);
      return nullptr;
    }
    if (!GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, descriptor.data(), needed, &needed)) {
      set_error(win32_file_error(KV_SITE, fs_error::access_denied, "GetFileSecurityW", path.c_str()));
      return nullptr;
    }
  }
  PSID sid = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor.data(), &sid, &defaulted)) {
    set_error(win32_file_error(KV_SITE, fs_error::access_denied, "GetSecurityDescriptorOwner", path.c_str()));
    return nullptr;
  }
  WCHAR text[256] = {};
  if (!sid || !Windows::sidToText(text, sid)) {
    raise(KV_SITE, fs_error::access_denied);
    return nullptr;
  }
  owner_ = reinterpret_cast<const char16_t*>(text);
  clear_error();
  return owner_.c_str();
}

void winnt_dir::iterator::control(void* request) {
  if (!request || *static_cast<const std::uint32_t*>(request) != control_code("GRSQ")) {
    win32_dir::iterator::control(request);
    return;
  }
  if (Bad()) return;
  if (find_ == INVALID_HANDLE_VALUE) {
    raise(KV_SITE, fs_error::end_of_file);
    return;
  }
  auto* r = static_cast<get_security_request*>(request);
  SecurityInfoHolder holder;
  {
    NetworkImpersonationScope scope(network_);
    fs_redirection_guard guard;
    holder.read(entry_path().c_str());
  }
  std::vector<std::uint8_t> bytes;
  holder.save(bytes);
  auto* out = new (std::nothrow) std::uint8_t[bytes.size()];
  if (!out) {
    raise(KV_SITE, fs_error::out_of_memory);
    return;
  }
  std::memcpy(out, bytes.data(), bytes.size());
  r->data = out;
  r->size = static_cast<std::uint32_t>(bytes.size());
}

void winnt_dir::iterator::entry_information() {
  if (information_read_ || Bad()) return;
  if (find_ == INVALID_HANDLE_VALUE) {
    raise(KV_SITE, fs_error::end_of_file);
    return;
  }
  const std::u16string path = entry_path();
  HANDLE h;
  {
    NetworkImpersonationScope scope(network_);
    fs_redirection_guard guard;
    h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, kOpenReparse, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    set_error(win32_file_error(KV_SITE, fs_error::open, "OpenFileW", path.c_str()));
    return;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = GetFileInformationByHandle(h, &info);
  const DWORD e = GetLastError();
  CloseHandle(h);
  if (!ok) {
    SetLastError(e);
    set_error(win32_file_error(KV_SITE, fs_error::not_supported, "GetFileInformationByHandleW", path.c_str()));
    return;
  }
  link_count_ = info.nNumberOfLinks;
  index_low_ = info.nFileIndexLow;
  index_high_ = info.nFileIndexHigh;
  information_read_ = true;
}

std::uint32_t winnt_dir::iterator::link_count() {
  entry_information();
  return Bad() ? 1 : link_count_;
}

std::uint64_t winnt_dir::iterator::file_index() {
  entry_information();
  return Bad() ? 0 : (static_cast<std::uint64_t>(index_high_) << 32) | index_low_;
}

const char16_t* winnt_dir::iterator::link_target() {
  if (Bad()) return nullptr;
  if (find_ == INVALID_HANDLE_VALUE) {
    raise(KV_SITE, fs_error::end_of_file);
    return nullptr;
  }
  const DWORD tag = data_.dwReserved0;
  if (!is_reparse(data_.dwFileAttributes) || (tag != IO_REPARSE_TAG_MOUNT_POINT && tag != IO_REPARSE_TAG_SYMLINK)) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  if (!link_target_.empty()) return link_target_.c_str();
  const std::u16string path = entry_path();
  HANDLE h;
  {
    NetworkImpersonationScope scope(network_);
    fs_redirection_guard guard;
    h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, kOpenReparse,
                    nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    set_error(win32_file_error(KV_SITE, fs_error::open, "OpenReparsePointW", path.c_str()));
    return nullptr;
  }
  std::vector<unsigned char> buf(kReparseBufferSize);
  DWORD n = 0;
  const BOOL ok = DeviceIoControl(h, kGetReparsePoint, nullptr, 0, buf.data(), kReparseBufferSize, &n, nullptr);
  const DWORD e = GetLastError();
  CloseHandle(h);
  if (!ok) {
    SetLastError(e);
    set_error(win32_file_error(KV_SITE, fs_error::open, "FSCTL_GET_REPARSE_POINT", path.c_str()));
    return nullptr;
  }
  DWORD got;
  std::memcpy(&got, buf.data(), 4);
  if (got != IO_REPARSE_TAG_MOUNT_POINT && got != IO_REPARSE_TAG_SYMLINK) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  WORD offset, length;
  std::memcpy(&offset, buf.data() + 8, 2);
  std::memcpy(&length, buf.data() + 10, 2);
  const std::size_t names = got == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
  if (names + offset + length > buf.size()) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  std::u16string target(length / 2, u'\0');
  std::memcpy(target.data(), buf.data() + names + offset, target.size() * 2);
  const std::size_t zero = target.find(u'\0');
  if (zero != std::u16string::npos) target.resize(zero);
  ULONG flags = 0;
  if (got == IO_REPARSE_TAG_SYMLINK) std::memcpy(&flags, buf.data() + 16, 4);
  if (!(got == IO_REPARSE_TAG_SYMLINK && (flags & 1))) {
    if (target.compare(0, 4, u"\\??\\") != 0) {
      link_target_.clear();
      raise(KV_SITE, fs_error::open);
      return nullptr;
    }
    target.erase(0, 4);
    const std::size_t slash = target.find(u'\\');
    const std::u16string head = target.substr(0, slash);
    const bool drive = head.size() == 2 && head[1] == u':';
    if (drive && slash == std::u16string::npos) target += u'\\';
    if (!drive) target.insert(0, u"\\\\?\\");
  }
  link_target_ = std::move(target);
  return link_target_.c_str();
}

file_identifier* winnt_dir::volume_self_iterator::identifier() {
  return new (std::nothrow) the_identifier(name_.c_str(), nullptr, 0);
}

winnt_dir::share_iterator::share_iterator(const std::u16string& share_path)
    : win32_dir::share_iterator(share_path.substr(share_path.find_last_of(u'\\') + 1)) {}

file_identifier* winnt_dir::share_iterator::identifier() {
  return new (std::nothrow) the_identifier(name_.c_str(), nullptr, 0);
}

// ---------------------------------------------------------------- iterating

i_dir::iterator* winnt_dir::iterate() { return search_all<wide_calls>(); }
i_dir::iterator* winnt_dir::iterate(const char16_t* name) { return search_name<wide_calls>(name); }
i_dir::iterator* winnt_dir::iterate(const file_identifier* id) { return search_identifier<wide_calls>(id); }
i_dir::iterator* winnt_dir::iterate_self() { return search_self<wide_calls>(); }

i_dir::iterator* winnt_dir::letter_at(char16_t letter) {
  letter_iterator* it = letters();
  if (it) it->position_at_letter(letter);
  return hand_over(*this, it);
}

i_dir::iterator* winnt_dir::volume_self() {
  const UINT type = GetDriveTypeW(path_.c_str());
  if (type == DRIVE_NO_ROOT_DIR) {
    raise(KV_SITE, fs_error::not_found);
    return nullptr;
  }
  return hand_over(*this, new (std::nothrow) volume_self_iterator(path_.substr(4, path_.size() - 5),
                                                                  drive_type_kind(type)));
}

dir_and_identifier winnt_dir::resolve_link(const file_identifier* id) {
  if (id) {
    if (i_dir::iterator* it = iterate(id)) {
      if (const char16_t* t = it->link_target()) {
        const std::u16string target = t;
        delete it;
        const char16_t* last = target.c_str();
        ri_dir* parent = open_parent(&last);
        if (!parent) return {nullptr, nullptr};
        auto* leaf = new (std::nothrow) the_identifier(last, nullptr, 0);
        if (!leaf) {
          delete parent;
          raise(KV_SITE, fs_error::out_of_memory);
          return {nullptr, nullptr};
        }
        return {parent, leaf};
      }
      delete it;
    }
  }
  if (i_dir::iterator* it = iterate_self()) {
    if (const char16_t* t = it->link_target()) {
      const std::u16string target = t;
      delete it;
      ri_dir* dir = open_dir(target.c_str());
      if (!dir) return {nullptr, nullptr};
      file_identifier* copy = nullptr;
      if (id && !(copy = id->clone())) {
        delete dir;
        raise(KV_SITE, fs_error::out_of_memory);
        return {nullptr, nullptr};
      }
      return {dir, copy};
    }
    delete it;
  }
  return i_dir::resolve_link(id);
}

// ---------------------------------------------------------------- links

namespace {

struct io_status {
  union {
    NTSTATUS status;
    void* pointer;
  };
  ULONG_PTR information;
};

// The link's own name follows the fixed part, zero-terminated.
struct file_link_information {
  BOOLEAN replace_if_exists;
  HANDLE root_directory;
  ULONG file_name_length;  // bytes, without the terminator
  WCHAR file_name[1];
};

using create_hard_link_fn = BOOL (*)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES);
using nt_create_file_fn = NTSTATUS (*)(HANDLE*, DWORD, OBJECT_ATTRIBUTES*, io_status*, LARGE_INTEGER*, ULONG, ULONG,
                                       ULONG, ULONG, void*, ULONG);
using nt_set_information_file_fn = NTSTATUS (*)(HANDLE, io_status*, void*, ULONG, int);
using nt_close_fn = NTSTATUS (*)(HANDLE);

struct link_entries {
  create_hard_link_fn create_hard_link = nullptr;
  nt_create_file_fn create_file = nullptr;
  nt_set_information_file_fn set_information = nullptr;
  nt_close_fn close = nullptr;
};

link_entries look_up_link_entries() {
  link_entries e;
  e.create_hard_link = entry_as<create_hard_link_fn>(win32_calls::entry(u"kernel32.dll", "CreateHardLinkW"));
  e.create_file = entry_as<nt_create_file_fn>(win32_calls::entry(u"ntdll.dll", "NtCreateFile"));
  e.set_information = entry_as<nt_set_information_file_fn>(win32_calls::entry(u"ntdll.dll", "NtSetInformationFile"));
  e.close = entry_as<nt_close_fn>(win32_calls::entry(u"ntdll.dll", "NtClose"));
  return e;
}

link_entries& links() {
  static link_entries entries = look_up_link_entries();
  return entries;
}

constexpr DWORD kSynchronize = 0x00100000;
constexpr ULONG kFileOpen = 1;
constexpr ULONG kSynchronousIoNonAlert = 0x20;
constexpr int kFileLinkInformation = 11;

// A hard link through the native calls, for systems without CreateHardLinkW.
bool native_hard_link(const std::u16string& link, const std::u16string& existing) {
  const link_entries& e = links();
  if (!e.create_file || !e.set_information || !e.close) return false;
  std::u16string link_name = link;
  link_name[1] = u'?';
  NativeObjectName source(existing.c_str());
  HANDLE h = nullptr;
  io_status status{};
  if (e.create_file(&h, kSynchronize, source.attributes(), &status, nullptr, 0, 0, kFileOpen,
                    kSynchronousIoNonAlert, nullptr, 0) < 0)
    return false;
  const std::size_t name_bytes = 2 * link_name.size();
  const std::size_t size = offsetof(file_link_information, file_name) + name_bytes + sizeof(WCHAR);
  std::vector<std::uint8_t> block(size, 0);
  auto* info = reinterpret_cast<file_link_information*>(block.data());
  info->replace_if_exists = 0;
  info->root_directory = nullptr;
  info->file_name_length = static_cast<ULONG>(name_bytes);
  std::memcpy(block.data() + offsetof(file_link_information, file_name), link_name.data(), name_bytes);
  const NTSTATUS r = e.set_information(h, &status, block.data(), static_cast<ULONG>(size), kFileLinkInformation);
  e.close(h);
  return r >= 0;
}

}  // namespace

void winnt_dir::look_up_entry_points() { links() = look_up_link_entries(); }

void winnt_dir::create_hard_link(const char16_t* link, const char16_t* existing) {
  std::u16string from, to;
  if (!long_path(to, link) || !long_path(from, existing)) {
    raise(KV_SITE, fs_error::create);
    return;
  }
  prepare_path(to);
  prepare_path(from);
  const create_hard_link_fn entry = links().create_hard_link;
  if (!entry) {
    if (native_hard_link(to, from))
      clear_error();
    else
      raise(KV_SITE, fs_error::create);
    return;
  }
  BOOL ok;
  {
    NetworkImpersonationScope scope(is_unc_long_path(to));
    fs_redirection_guard guard;
    ok = entry(to.c_str(), from.c_str(), nullptr);
  }
  if (!ok) {
    set_error(win32_file_error(KV_SITE, fs_error::create, "CreateHardLinkW", to.c_str()));
    return;
  }
  clear_error();
}

void winnt_dir::create_junction(const char16_t* link, const char16_t* target, const void*, std::uint32_t) {
  std::u16string l, t, p;
  if (!long_path(l, link) || !long_path(t, target) || !resolve(p, target, false) || p.empty()) {
    raise(KV_SITE, fs_error::create);
    return;
  }
  if (p.size() == 3)
    t += u'\\';
  else
    p.pop_back();
  const std::size_t size = 20 + 2 * (t.size() + p.size());
  if (size > kReparseBufferSize) {
    raise(KV_SITE, fs_error::create);
    return;
  }
  prepare_path(l);
  NetworkImpersonationScope scope(is_unc_long_path(l));
  fs_redirection_guard guard;
  // The folder is removed again on failure only when this call made it: a
  // folder that was there before stays as it was.
  bool made = true;
  if (!CreateDirectoryW(l.c_str(), nullptr)) {
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      set_error(win32_file_error(KV_SITE, fs_error::create, "CreateDirectoryW", l.c_str()));
      return;
    }
    made = false;
  }
  HANDLE h = CreateFileW(l.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kOpenReparse, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_error(win32_file_error(KV_SITE, fs_error::create, "OpenDirectoryW", l.c_str()));
    if (made) RemoveDirectoryW(l.c_str());
    return;
  }
  std::vector<unsigned char> buf(kReparseBufferSize, 0);
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(buf.data(), &tag, 4);
  const WORD data_length = static_cast<WORD>(size - 8);
  std::memcpy(buf.data() + 4, &data_length, 2);
  const WORD fields[4] = {0, static_cast<WORD>(2 * t.size()), static_cast<WORD>(2 * t.size() + 2),
                          static_cast<WORD>(2 * p.size())};
  std::memcpy(buf.data() + 8, fields, sizeof fields);
  std::u16string substitute = t;
  substitute[1] = u'?';
  std::memcpy(buf.data() + 16, substitute.data(), 2 * substitute.size());
  std::memcpy(buf.data() + 16 + 2 * t.size() + 2, p.data(), 2 * p.size());
  DWORD n = 0;
  if (!DeviceIoControl(h, kSetReparsePoint, buf.data(), static_cast<DWORD>(size), nullptr, 0, &n, nullptr)) {
    set_error(win32_file_error(KV_SITE, fs_error::create, "FSCTL_SET_REPARSE_POINT", l.c_str()));
    CloseHandle(h);
    if (made) RemoveDirectoryW(l.c_str());
    return;
  }
  CloseHandle(h);
  clear_error();
}
