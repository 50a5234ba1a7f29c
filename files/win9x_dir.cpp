#include "files/win9x_dir.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "files/dir_calls.h"
#include "files/fs_error.h"
#include "files/path.h"
#include "platform/win32/windows.h"

namespace {

constexpr int kAnsiMax = 260;

// Wide text -> CP_ACP bytes of at most 260 with the terminator; false when it
// does not fit or does not convert.
bool to_ansi(const std::u16string& w, std::string& out) {
  char buffer[kAnsiMax];
  const int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buffer, kAnsiMax, nullptr, nullptr);
  if (n <= 0) return false;
  out.assign(buffer, static_cast<std::size_t>(n - 1));
  return !out.empty();
}

bool to_wide(const char* a, char16_t* out, int size) {
  return MultiByteToWideChar(CP_ACP, 0, a, -1, out, size) > 0;
}

using FreeSpaceExA = BOOL (*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

FreeSpaceExA free_space_ex() {
  static const FreeSpaceExA fn = [] {
    HMODULE k = GetModuleHandleW(u"kernel32.dll");
    return k ? reinterpret_cast<FreeSpaceExA>(reinterpret_cast<void*>(GetProcAddress(k, "GetDiskFreeSpaceExA"))) : nullptr;
  }();
  return fn;
}

}  // namespace

// ---------------------------------------------------------------- paths

bool win9x_dir::ansi_path(std::string& out, const char16_t* name) const {
  std::u16string resolved;
  if (!resolve(resolved, name, false) || resolved.empty()) return false;
  if (resolved.size() > 1 && (resolved.back() == u'\\' || resolved.back() == u'/')) resolved.pop_back();
  return to_ansi(resolved, out);
}

bool win9x_dir::own_ansi_path(std::string& out) const {
  if (!ansi_path(out, u"x") || out.back() != 'x') return false;
  out.pop_back();
  return !out.empty();
}

bool win9x_dir::drive_root(std::string& out) const {
  if (!ansi_path(out, u"\\x") || out.back() != 'x') return false;
  out.pop_back();
  return !out.empty();
}

bool win9x_dir::prepare_path(const std::string&) { return true; }

// ---------------------------------------------------------------- objects and handles

win32_dir* win9x_dir::open_dir_path(const char16_t* path) { return open_as<ansi_calls>(path); }

HANDLE win9x_dir::create_handle(const char16_t* path, security_source*, DWORD access, DWORD share_mode,
                                DWORD creation, DWORD flags_and_attributes) {
  const bool creating = creation == CREATE_ALWAYS;
  std::string ap;
  if (!ansi_path(ap, path)) {
    raise(KV_SITE, creating ? fs_error::create : fs_error::open);
    return nullptr;
  }
  prepare_path(ap);
  HANDLE h = CreateFileA(ap.c_str(), access, share_mode & ~static_cast<DWORD>(FILE_SHARE_DELETE), nullptr, creation,
                         flags_and_attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE || !h) {
    if (creating)
      set_error(win32_file_error(KV_SITE, fs_error::create,
                                 (flags_and_attributes & FILE_FLAG_NO_BUFFERING) ? "CreateFileNoCacheA" : "CreateFileA",
                                 ap.c_str()));
    else
      set_error(win32_file_error(KV_SITE, fs_error::open, "OpenFileA", ap.c_str()));
    return nullptr;
  }
  return h;
}

HANDLE win9x_dir::first_change_handle() {
  std::string ap;
  if (!ansi_path(ap, u".")) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  prepare_path(ap);
  HANDLE h = FindFirstChangeNotificationA(ap.c_str(), FALSE, 0x1B);
  if (h == INVALID_HANDLE_VALUE || !h) {
    set_error(win32_file_error(KV_SITE, fs_error::open, "FindFirstChangeNotificationA", ap.c_str()));
    return nullptr;
  }
  return h;
}

void win9x_dir::module_file_name(char16_t* buffer, std::uint32_t size) {
  if (!buffer || size == 0) return;
  buffer[0] = 0;
  std::unique_ptr<char[]> narrow(new (std::nothrow) char[size]);
  if (!narrow) return;
  const DWORD n = GetModuleFileNameA(nullptr, narrow.get(), size);
  narrow[size - 1] = 0;
  if (n == 0 || !to_wide(narrow.get(), buffer, static_cast<int>(size))) buffer[0] = 0;
  buffer[size - 1] = 0;
}

ri_dir* win9x_dir::open_special(std::int32_t kind) {
  if (kind != entry_kind::temporary) return winnt_dir::open_special(kind);
  char narrow[kAnsiMax] = {};
  if (GetTempPathA(kAnsiMax, narrow) == 0) {
    set_error(make_system_file_error(KV_SITE, "GetTempPathA", fs_error::open));
    return nullptr;
  }
  char16_t wide[259] = {};
  if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 259) <= 0) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  return open_temporary(wide);
}

dir_and_identifier win9x_dir::resolve_link(const file_identifier* id) { return i_dir::resolve_link(id); }

// ---------------------------------------------------------------- names

bool win9x_dir::compare_prefix(const char16_t* a, const char16_t* b, std::size_t count) {
  if (std::char_traits<char16_t>::compare(a, b, count) == 0) return true;
  std::string na, nb;
  if (!to_ansi(std::u16string(a, count), na) || !to_ansi(std::u16string(b, count), nb) || na.size() != nb.size())
    return false;
  CharUpperBuffA(na.data(), static_cast<DWORD>(na.size()));
  CharUpperBuffA(nb.data(), static_cast<DWORD>(nb.size()));
  return na == nb;
}

int win9x_dir::compare_names(const file_identifier* a, const file_identifier* b) {
  const char* na = identifier_ansi(a);
  const char* nb = identifier_ansi(b);
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, na ? na : "", -1, nb ? nb : "", -1) - 2;
}

// ---------------------------------------------------------------- entries

void win9x_dir::remove_file(const char16_t* path) {
  entry_call<ansi_calls>(KV_SITE, path, fs_error::remove, fs_error::remove, "DeleteFileA",
                         [](const char* p) { return DeleteFileA(p); });
}

void win9x_dir::remove_dir(const char16_t* path) {
  entry_call<ansi_calls>(KV_SITE, path, fs_error::remove, fs_error::remove, "RemoveDirectoryA",
                         [](const char* p) { return RemoveDirectoryA(p); });
}

void win9x_dir::create_dir(const char16_t* path, security_source*) {
  entry_call<ansi_calls>(KV_SITE, path, fs_error::create, fs_error::create, "CreateDirectoryA",
                         [](const char* p) { return CreateDirectoryA(p, nullptr); });
}

void win9x_dir::set_attributes(const char16_t* path, std::uint32_t attributes) {
  entry_call<ansi_calls>(KV_SITE, path, fs_error::create, fs_error::write, "SetFileAttributesA",
                         [attributes](const char* p) { return SetFileAttributesA(p, attributes); });
}

void win9x_dir::rename(const char16_t* old_path, const char16_t* new_path) {
  std::string from, to;
  if (!ansi_path(from, old_path) || !ansi_path(to, new_path)) {
    raise(KV_SITE, fs_error::rename);
    return;
  }
  prepare_path(from);
  prepare_path(to);
  if (!MoveFileA(from.c_str(), to.c_str())) {
    set_error(win32_file_error(KV_SITE, fs_error::rename, "MoveFileA", from.c_str()));
    return;
  }
  clear_error();
}

void win9x_dir::create_hard_link(const char16_t*, const char16_t*) { raise(KV_SITE, fs_error::not_supported); }

void win9x_dir::create_junction(const char16_t*, const char16_t*, const void*, std::uint32_t) {
  raise(KV_SITE, fs_error::not_supported);
}

void win9x_dir::set_security(const char16_t*, security_source*) { raise(KV_SITE, fs_error::not_supported); }

// ---------------------------------------------------------------- iterating

i_dir::iterator* win9x_dir::iterate() { return search_all<ansi_calls>(); }
i_dir::iterator* win9x_dir::iterate(const char16_t* name) { return search_name<ansi_calls>(name); }
i_dir::iterator* win9x_dir::iterate(const file_identifier* id) { return search_identifier<ansi_calls>(id); }
i_dir::iterator* win9x_dir::iterate_self() { return search_self<ansi_calls>(); }

win9x_dir::iterator::iterator(const std::string& pattern) : win32_dir::iterator(!pattern.empty() && pattern[0] == '\\') {
  WIN32_FIND_DATAA a{};
  find_ = FindFirstFileA(pattern.c_str(), &a);
  if (find_ == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND)
      raise(KV_SITE, fs_error::end_of_file);
    else
      set_error(win32_file_error(KV_SITE, fs_error::open, "FindFirstFileA", pattern.c_str()));
    return;
  }
  convert(a);
  if (skip()) next();
}

bool win9x_dir::iterator::convert(const WIN32_FIND_DATAA& a) {
  data_ = WIN32_FIND_DATAW{};
  ansi_name_.clear();
  converted_ = false;
  char16_t name[MAX_PATH];
  char16_t short_name[14];
  if (MultiByteToWideChar(CP_ACP, 0, a.cFileName, -1, name, MAX_PATH) <= 0) return false;
  if (MultiByteToWideChar(CP_ACP, 0, a.cAlternateFileName, -1, short_name, 14) <= 0) return false;
  data_.dwFileAttributes = a.dwFileAttributes;
  data_.ftCreationTime = a.ftCreationTime;
  data_.ftLastAccessTime = a.ftLastAccessTime;
  data_.ftLastWriteTime = a.ftLastWriteTime;
  data_.nFileSizeHigh = a.nFileSizeHigh;
  data_.nFileSizeLow = a.nFileSizeLow;
  data_.dwReserved0 = a.dwReserved0;
  data_.dwReserved1 = a.dwReserved1;
  std::memcpy(data_.cFileName, name, sizeof name);
  std::memcpy(data_.cAlternateFileName, short_name, sizeof short_name);
  ansi_name_ = a.cFileName;
  converted_ = true;
  return true;
}

void win9x_dir::iterator::next() {
  if (Bad()) return;
  if (find_ == INVALID_HANDLE_VALUE) {
    raise(KV_SITE, fs_error::end_of_file);
    return;
  }
  do {
    WIN32_FIND_DATAA a{};
    if (!FindNextFileA(find_, &a)) {
      set_error(make_system_file_error(KV_SITE, "FindNextFileA", fs_error::read));
      return;
    }
    convert(a);
  } while (skip());
}

file_identifier* win9x_dir::iterator::identifier() {
  if (!has_entry()) return nullptr;
  return new (std::nothrow) the_identifier(data_.cFileName, ansi_name_.c_str(), ansi_name_.size() + 1);
}

std::int32_t win9x_dir::iterator::kind() {
  if (!has_entry()) return 0;
  return (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? entry_kind::directory : entry_kind::file;
}

win9x_dir::share_iterator::share_iterator(const std::string& share_path)
    : win32_dir::share_iterator(u""), ansi_name_(share_path.substr(share_path.rfind('\\') + 1)) {
  char16_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, ansi_name_.c_str(), -1, wide, MAX_PATH);
  name_ = wide;
}

file_identifier* win9x_dir::share_iterator::identifier() {
  return new (std::nothrow) the_identifier(name_.c_str(), ansi_name_.c_str(), ansi_name_.size() + 1);
}

// ---------------------------------------------------------------- volumes

std::int32_t win9x_dir::drive_kind() {
  std::string root;
  if (!drive_root(root)) return entry_kind::unknown;
  return drive_type_kind(GetDriveTypeA(root.c_str()));
}

void win9x_dir::free_space(std::uint64_t& total, std::uint64_t& total_free, std::uint64_t& caller_free) {
  total = total_free = caller_free = 0;
  if (FreeSpaceExA ex = free_space_ex()) {
    std::string own;
    if (!own_ansi_path(own)) {
      raise(KV_SITE, fs_error::read);
      return;
    }
    ULARGE_INTEGER caller{}, all{}, free{};
    if (!ex(own.c_str(), &caller, &all, &free)) {
      set_error(win32_file_error(KV_SITE, fs_error::read, "GetDiskFreeSpaceExA", own.c_str()));
      return;
    }
    total = all.QuadPart;
    total_free = free.QuadPart;
    caller_free = caller.QuadPart;
    clear_error();
    return;
  }
  std::string root;
  if (!drive_root(root)) {
    raise(KV_SITE, fs_error::read);
    return;
  }
  DWORD sectors = 0, bytes = 0, free_clusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &free_clusters, &clusters)) {
    set_error(win32_file_error(KV_SITE, fs_error::read, "GetDiskFreeSpaceA", root.c_str()));
    return;
  }
  const std::uint64_t cluster = static_cast<std::uint64_t>(sectors) * bytes;
  total = clusters * cluster;
  total_free = caller_free = free_clusters * cluster;
  clear_error();
}

void win9x_dir::volume_label(char16_t* buffer, std::uint32_t size) {
  if (buffer && size) buffer[0] = 0;
  std::string own;
  if (!own_ansi_path(own)) {
    raise(KV_SITE, fs_error::not_supported);
    return;
  }
  char label[128] = {};
  DWORD max_component = 0, flags = 0;
  if (!GetVolumeInformationA(own.c_str(), label, sizeof label, nullptr, &max_component, &flags, nullptr, 0)) {
    set_error(win32_file_error(KV_SITE, fs_error::read, "GetVolumeInformationA", own.c_str()));
    return;
  }
  if (buffer && size && MultiByteToWideChar(CP_ACP, 0, label, -1, buffer, static_cast<int>(size)) <= 0) {
    buffer[0] = 0;
    raise(KV_SITE, fs_error::read);
    return;
  }
  clear_error();
}

std::uint32_t win9x_dir::sector_size() {
  sector_size_ = 512;
  std::string root;
  if (!drive_root(root)) return sector_size_;
  DWORD sectors = 0, bytes = 0, free_clusters = 0, clusters = 0;
  if (GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &free_clusters, &clusters) && bytes) sector_size_ = bytes;
  return sector_size_;
}

// ---------------------------------------------------------------- network

void win9x_dir::connect(const char16_t* user, const char16_t* password, HWND owner) {
  std::string u, p;
  if ((user && *user && !to_ansi(user, u)) || (password && *password && !to_ansi(password, p))) {
    raise(KV_SITE, fs_error::open);
    return;
  }
  connect_ansi(user ? u.c_str() : nullptr, password ? p.c_str() : nullptr, owner);
}

void win9x_dir::connect_ansi(const char* user, const char* password, HWND owner) {
  std::string remote, local, root;
  const bool server = path_.size() >= 3 && path_[0] == u'\\' && path_[1] == u'\\' &&
                      path_.find(u'\\', 2) == path_.size() - 1;
  if (server) {
    if (!own_ansi_path(remote)) {
      raise(KV_SITE, fs_error::open);
      return;
    }
  } else {
    if (!ansi_path(root, u"\\")) {
      raise(KV_SITE, fs_error::open);
      return;
    }
    if (root[0] == '\\') {
      remote = root;
    } else {
      std::vector<std::uint8_t> buffer(240);
      DWORD size = static_cast<DWORD>(buffer.size());
      DWORD r = WNetGetUniversalNameA(root.c_str(), REMOTE_NAME_INFO_LEVEL, buffer.data(), &size);
      if (r == ERROR_MORE_DATA) {
        buffer.resize(size + 16);
        size = static_cast<DWORD>(buffer.size());
        r = WNetGetUniversalNameA(root.c_str(), REMOTE_NAME_INFO_LEVEL, buffer.data(), &size);
      }
      if (r == ERROR_SUCCESS) {
        clear_error();
        return;
      }
      if (r != ERROR_CONNECTION_UNAVAIL) {
        SetLastError(r);
        set_error(win32_file_error(KV_SITE, fs_error::open, "WNetGetUniversalNameA", root.c_str()));
        return;
      }
      const auto* info = reinterpret_cast<const REMOTE_NAME_INFOA*>(buffer.data());
      local = root;
      remote = info->lpConnectionName ? info->lpConnectionName : "";
    }
  }
  NETRESOURCEA resource{0, 1, 0, 0, local.empty() ? nullptr : local.data(), remote.data(), nullptr, nullptr};
  const DWORD r = WNetAddConnection3A(owner, &resource, password, user, owner ? CONNECT_INTERACTIVE : 0);
  if (r != ERROR_SUCCESS) {
    SetLastError(r);
    set_error(win32_file_error(KV_SITE, fs_error::access_denied, "WNetAddConnection3A",
                               (root.empty() ? remote : root).c_str()));
    return;
  }
  clear_error();
}

// ---------------------------------------------------------------- requests

void win9x_dir::control(void* request) {
  if (request && *static_cast<const std::uint32_t*>(request) == control_code("PDRN")) {
    auto* r = static_cast<restart_rename_request*>(request);
    std::string from, to;
    auto plain = [&](const char16_t* name, std::string& out) {
      if (!ansi_path(out, name) || out[0] == '\\') return false;
      if (out.size() > 1 && out.back() == '\\') out.pop_back();
      return true;
    };
    if (!plain(r->existing, from) || (r->new_name && !plain(r->new_name, to))) {
      raise(KV_SITE, fs_error::rename);
      return;
    }
    char short_from[kAnsiMax] = {}, short_to[kAnsiMax] = {};
    const DWORD n = GetShortPathNameA(from.c_str(), short_from, kAnsiMax);
    if (n == 0 || n >= kAnsiMax) {
      set_error(win32_file_error(KV_SITE, fs_error::rename, "GetShortPathNameA", from.c_str()));
      return;
    }
    const char* key = "NUL";
    if (r->new_name) {
      const DWORD m = GetShortPathNameA(to.c_str(), short_to, kAnsiMax);
      if (m == 0 || m >= kAnsiMax) {
        set_error(win32_file_error(KV_SITE, fs_error::rename, "GetShortPathNameA", to.c_str()));
        return;
      }
      key = short_to;
    }
    if (!WritePrivateProfileStringA("rename", key, short_from, "wininit.ini")) {
      set_error(make_system_file_error(KV_SITE, "WritePrivateProfileStringA", fs_error::rename));
      return;
    }
    clear_error();
    return;
  }
  if (request && *static_cast<const std::uint32_t*>(request) == control_code("GFST")) {
    auto* r = static_cast<file_system_name_request*>(request);
    r->name[0] = 0;
    r->name[1] = 0;
    std::string root;
    if (!drive_root(root)) {
      raise(KV_SITE, fs_error::open);
      return;
    }
    char name[261] = {};
    DWORD max_component = 0, flags = 0;
    if (!GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, &max_component, &flags, name, sizeof name)) {
      set_error(win32_file_error(KV_SITE, fs_error::open, "GetVolumeInformationA", root.c_str()));
      return;
    }
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, r->name, 64) <= 0) {
      r->name[0] = 0;
      raise(KV_SITE, fs_error::open);
      return;
    }
    clear_error();
    return;
  }
  win32_dir::control(request);
}
