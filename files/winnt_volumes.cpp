// NT directories: the volume or network resource that holds a directory
// (kind, free space, label, sector size, file system), connecting it, and the
// control requests.
#include <memory>
#include <new>
#include <vector>

#include "files/file_time.h"
#include "files/path.h"
#include "files/security_info.h"
#include "files/win32_calls.h"
#include "files/winnt_dir.h"

namespace {

constexpr DWORD kSetCompression = 0x0009C040;
constexpr DWORD kOpenReparse = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

template <class Fn>
Fn kernel32(const char* name) {
  return entry_as<Fn>(win32_calls::entry(u"kernel32.dll", name));
}

}  // namespace

bool winnt_dir::volume_path(std::u16string& out) const {
  using get_volume_path_fn = BOOL (*)(LPCWSTR, LPWSTR, DWORD);
  static const auto entry = kernel32<get_volume_path_fn>("GetVolumePathNameW");
  if (!entry) {
    std::u16string root;
    if (!long_path(root, u"\\x")) return false;
    root.pop_back();
    out = std::move(root);
    return true;
  }
  std::u16string own;
  if (!own_long_path(own)) return false;
  std::vector<char16_t> buf(own.size() + 1);
  BOOL ok;
  {
    NetworkImpersonationScope scope(is_unc_long_path(own));
    fs_redirection_guard guard;
    ok = entry(own.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
  }
  if (!ok) return false;
  out = buf.data();
  return true;
}

namespace {

// Runs one volume call on `path` under the impersonation scope its path asks
// for and the redirection guard.
template <class Call>
auto volume_call(const std::u16string& path, Call call) {
  NetworkImpersonationScope scope(is_unc_long_path(path));
  fs_redirection_guard guard;
  return call(path.c_str());
}

}  // namespace

std::int32_t winnt_dir::drive_kind() {
  std::u16string own;
  if (!own_long_path(own)) return entry_kind::unknown;
  prepare_path(own);
  auto drive_type = [](const char16_t* p) { return GetDriveTypeW(p); };
  UINT type = volume_call(own, drive_type);
  std::u16string volume;
  if (type == DRIVE_NO_ROOT_DIR && volume_path(volume)) type = volume_call(volume, drive_type);
  return drive_type_kind(type);
}

void winnt_dir::free_space(std::uint64_t& total, std::uint64_t& total_free, std::uint64_t& caller_free) {
  total = total_free = caller_free = 0;
  using free_space_fn = BOOL (*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  static const auto entry = kernel32<free_space_fn>("GetDiskFreeSpaceExW");
  std::u16string own;
  if (!entry || !own_long_path(own)) {
    raise(KV_SITE, fs_error::read);
    return;
  }
  prepare_path(own);
  ULARGE_INTEGER caller{}, all{}, free{};
  const BOOL ok = volume_call(own, [&](const char16_t* p) { return entry(p, &caller, &all, &free); });
  if (!ok) {
    set_error(win32_file_error(KV_SITE, fs_error::read, "GetDiskFreeSpaceExW", own.c_str()));
    return;
  }
  total = all.QuadPart;
  total_free = free.QuadPart;
  caller_free = caller.QuadPart;
  clear_error();
}

void winnt_dir::volume_label(char16_t* buffer, std::uint32_t size) {
  if (buffer && size) buffer[0] = 0;
  std::u16string own;
  if (!own_long_path(own)) {
    raise(KV_SITE, fs_error::not_supported);
    return;
  }
  prepare_path(own);
  DWORD max_component = 0, flags = 0;
  const BOOL ok = volume_call(own, [&](const char16_t* p) {
    return GetVolumeInformationW(p, buffer, size, nullptr, &max_component, &flags, nullptr, 0);
  });
  if (!ok) {
    if (buffer && size) buffer[0] = 0;
    set_error(win32_file_error(KV_SITE, fs_error::read, "GetVolumeInformationW", own.c_str()));
    return;
  }
  clear_error();
}

std::uint32_t winnt_dir::sector_size() {
  sector_size_ = 512;
  std::u16string own;
  if (!own_long_path(own)) return sector_size_;
  prepare_path(own);
  DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, clusters = 0;
  auto ask = [&](const char16_t* p) {
    return GetDiskFreeSpaceW(p, &sectors_per_cluster, &bytes_per_sector, &free_clusters, &clusters);
  };
  BOOL ok = volume_call(own, ask);
  std::u16string volume;
  if (!ok && GetLastError() == ERROR_DIR_NOT_ROOT && volume_path(volume)) ok = volume_call(volume, ask);
  if (ok && bytes_per_sector) sector_size_ = bytes_per_sector;
  return sector_size_;
}

// ---------------------------------------------------------------- connecting

namespace {

DWORD add_connection(NETRESOURCEW& resource, const char16_t* user, const char16_t* password, HWND owner) {
  std::u16string remote = resource.lpRemoteName;
  std::u16string server;
  if (remote.size() > 2 && remote[0] == u'\\' && remote[1] == u'\\') {
    const std::size_t sep = remote.find(u'\\', 2);
    if (sep != std::u16string::npos) server = remote.substr(0, sep);
  }
  const DWORD flags = owner ? CONNECT_INTERACTIVE : 0;
  if (!server.empty()) {
    NETRESOURCEW first = resource;
    first.lpRemoteName = server.data();
    const DWORD r = WNetAddConnection3W(owner, &first, password, user, flags);
    if (r != ERROR_NO_SUCH_LOGON_SESSION && r != ERROR_SESSION_CREDENTIAL_CONFLICT) return r;
  }
  return WNetAddConnection3W(owner, &resource, password, user, flags);
}

DWORD remote_name(const std::u16string& local, std::u16string& out) {
  std::vector<unsigned char> buf(240);
  DWORD size = static_cast<DWORD>(buf.size());
  DWORD r = WNetGetUniversalNameW(local.c_str(), REMOTE_NAME_INFO_LEVEL, buf.data(), &size);
  if (r == ERROR_MORE_DATA) {
    try {
      buf.assign(size + 16, 0);
    } catch (const std::bad_alloc&) {
      out.clear();
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    size = static_cast<DWORD>(buf.size());
    r = WNetGetUniversalNameW(local.c_str(), REMOTE_NAME_INFO_LEVEL, buf.data(), &size);
  }
  if (r == NO_ERROR || r == ERROR_CONNECTION_UNAVAIL) {
    const auto* info = reinterpret_cast<const REMOTE_NAME_INFOW*>(buf.data());
    out = info->lpConnectionName ? info->lpConnectionName : u"";
  } else {
    out.clear();
  }
  return r;
}

// Cancels, forced, every connection to the resource's server.
void cancel_server_connections(const NETRESOURCEW& resource) {
  const std::u16string remote = resource.lpRemoteName;
  if (remote.size() < 2 || remote[0] != u'\\' || remote[1] != u'\\') return;
  const std::size_t end = remote.find(u'\\', 2);
  const std::u16string server = remote.substr(2, end == std::u16string::npos ? std::u16string::npos : end - 2);
  HANDLE e = nullptr;
  if (WNetOpenEnumW(RESOURCE_CONNECTED, RESOURCETYPE_ANY, 0, nullptr, &e) != NO_ERROR) return;
  std::vector<std::u16string> names;
  alignas(8) unsigned char buf[16384];
  for (;;) {
    DWORD count = 0xFFFFFFFFu, size = sizeof buf;
    if (WNetEnumResourceW(e, &count, buf, &size) != NO_ERROR) break;
    const auto* r = reinterpret_cast<const NETRESOURCEW*>(buf);
    for (DWORD i = 0; i < count; ++i) {
      std::u16string name = r[i].lpRemoteName ? r[i].lpRemoteName : u"";
      if (name.size() < 2) continue;
      const std::size_t e2 = name.find(u'\\', 2);
      std::u16string s = name.substr(2, e2 == std::u16string::npos ? std::u16string::npos : e2 - 2);
      std::u16string a = s, b = server;
      win32_calls::upper(a.data(), static_cast<DWORD>(a.size()));
      win32_calls::upper(b.data(), static_cast<DWORD>(b.size()));
      if (a == b) names.push_back(name);
    }
  }
  WNetCloseEnum(e);
  for (const std::u16string& name : names) WNetCancelConnection2W(name.c_str(), 0, TRUE);
}

}  // namespace

void winnt_dir::connect(const char16_t* user, const char16_t* password, HWND owner) {
  std::u16string remote, local, name;
  const std::size_t p = path_.size();
  if (p >= 4 && path_[0] == u'\\' && path_[1] == u'\\' && path_.find(u'\\', 2) == p - 1) {
    remote = path_.substr(0, p - 1);
    name = remote;
  } else {
    std::u16string root;
    if (!resolve(root, u"\\", false) || root.empty()) {
      raise(KV_SITE, path_.empty() ? fs_error::not_supported : fs_error::open);
      return;
    }
    root.pop_back();
    name = root;
    if (root[0] == u'\\') {
      remote = root;
    } else {
      std::u16string connection;
      const DWORD r = remote_name(root, connection);
      if (r == NO_ERROR) {
        clear_error();
        return;
      }
      if (r == ERROR_NOT_CONNECTED) {
        raise(KV_SITE, fs_error::not_supported);
        return;
      }
      if (r != ERROR_CONNECTION_UNAVAIL) {
        SetLastError(r);
        set_error(win32_file_error(KV_SITE, fs_error::open, "WNetGetUniversalNameW", root.c_str()));
        return;
      }
      local = root;
      remote = connection;
    }
  }
  NETRESOURCEW resource{0, RESOURCETYPE_DISK, 0, 0, local.empty() ? nullptr : local.data(), remote.data(), nullptr,
                        nullptr};
  DWORD r;
  {
    // The remote name is a network path: the network token applies.
    NetworkImpersonationScope scope(remote.size() > 1 && remote[0] == u'\\');
    r = add_connection(resource, user, password, owner);
    if (r == ERROR_SESSION_CREDENTIAL_CONFLICT) {
      cancel_server_connections(resource);
      r = add_connection(resource, user, password, owner);
    }
  }
  if (r == NO_ERROR) {
    clear_error();
    return;
  }
  SetLastError(r);
  set_error(win32_file_error(KV_SITE, fs_error::access_denied, "WNetAddConnection3W", name.c_str()));
}

// ---------------------------------------------------------------- controls

void winnt_dir::control(void* request) {
  if (!request) {
    win32_dir::control(request);
    return;
  }
  const std::uint32_t code = *static_cast<const std::uint32_t*>(request);
  if (code == control_code("STME")) {
    auto* r = static_cast<set_entry_times_request*>(request);
    std::u16string lp;
    if (!long_path(lp, r->name)) {
      raise(KV_SITE, fs_error::open);
      return;
    }
    prepare_path(lp);
    NetworkImpersonationScope scope(is_unc_long_path(lp));
    fs_redirection_guard guard;
    HANDLE h = CreateFileW(lp.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, kOpenReparse, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      set_error(win32_file_error(KV_SITE, fs_error::open, "OpenFileW", lp.c_str()));
      return;
    }
    const FILETIME created = ms_to_file_time(r->creation_time);
    const FILETIME accessed = ms_to_file_time(r->access_time);
    const FILETIME written = ms_to_file_time(r->write_time);
    if (!SetFileTime(h, &created, &accessed, &written))
      set_error(make_system_file_error(KV_SITE, "SetFileTime", fs_error::write));
    CloseHandle(h);
  } else if (code == control_code("SSFN")) {
    auto* r = static_cast<short_name_request*>(request);
    using set_short_name_fn = BOOL (*)(HANDLE, LPCWSTR);
    static const auto entry = kernel32<set_short_name_fn>("SetFileShortNameW");
    if (!entry) {
      raise(KV_SITE, fs_error::not_supported);
      return;
    }
    HANDLE h = create_handle(r->name, nullptr, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (Bad() || !h) return;
    if (!entry(h, r->short_name)) {
      std::u16string own;
      own_long_path(own);
      set_error(win32_file_error(KV_SITE, fs_error::rename, "SetFileShortNameW", own.c_str()));
    }
    CloseHandle(h);
  } else if (code == control_code("PDRN")) {
    auto* r = static_cast<restart_rename_request*>(request);
    std::u16string from, to;
    auto plain = [&](const char16_t* name, std::u16string& out) {
      if (!resolve(out, name, false) || out.empty() || out[0] == u'\\') return false;
      if (out.back() == u'\\') out.pop_back();
      return true;
    };
    if (!plain(r->existing, from) || (r->new_name && !plain(r->new_name, to))) {
      raise(KV_SITE, fs_error::rename);
      return;
    }
    BOOL ok;
    {
      fs_redirection_guard guard;
      ok = MoveFileExW(from.c_str(), r->new_name ? to.c_str() : nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    if (!ok) {
      set_error(win32_file_error(KV_SITE, fs_error::rename, "MoveFileExW", from.c_str()));
      return;
    }
    clear_error();
  } else if (code == control_code("SRSQ")) {
    auto* r = static_cast<set_security_request*>(request);
    std::u16string lp;
    if (!long_path(lp, r->name)) {
      raise(KV_SITE, fs_error::create);
      return;
    }
    SecurityInfoHolder holder;
    if (!holder.load(r->data, r->size)) {
      raise(KV_SITE, fs_error::corrupted);
      return;
    }
    prepare_path(lp);
    bool ok;
    {
      NetworkImpersonationScope scope(is_unc_long_path(lp));
      fs_redirection_guard guard;
      ok = holder.write(lp.c_str());
    }
    // Security that did not reach the entry is reported, not passed over.
    if (!ok) {
      set_error(win32_file_error(KV_SITE, fs_error::write, "SetFileSecurityW", lp.c_str()));
      return;
    }
    clear_error();
  } else if (code == control_code("CMPR")) {
    auto* r = static_cast<dir_compression_request*>(request);
    std::u16string own;
    if (!own_long_path(own)) {
      raise(KV_SITE, fs_error::open);
      return;
    }
    prepare_path(own);
    NetworkImpersonationScope scope(is_unc_long_path(own));
    fs_redirection_guard guard;
    HANDLE h = CreateFileW(own.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, kOpenReparse, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      set_error(win32_file_error(KV_SITE, fs_error::open, "OpenFileW", own.c_str()));
      return;
    }
    USHORT format = r->enable ? 1 : 0;
    DWORD n = 0;
    if (DeviceIoControl(h, kSetCompression, &format, sizeof format, nullptr, 0, &n, nullptr))
      clear_error();
    else
      set_error(make_system_file_error(KV_SITE, "FSCTL_SET_COMPRESSION", fs_error::not_supported));
    CloseHandle(h);
  } else if (code == control_code("CRPT")) {
    auto* r = static_cast<encryption_request*>(request);
    std::u16string lp;
    if (!long_path(lp, r->name)) {
      raise(KV_SITE, fs_error::open);
      return;
    }
    using encrypt_fn = BOOL (*)(LPCWSTR);
    using decrypt_fn = BOOL (*)(LPCWSTR, DWORD);
    static const auto encrypt = entry_as<encrypt_fn>(win32_calls::entry(u"advapi32.dll", "EncryptFileW"));
    static const auto decrypt = entry_as<decrypt_fn>(win32_calls::entry(u"advapi32.dll", "DecryptFileW"));
    if (r->encrypt ? !encrypt : !decrypt) {
      raise(KV_SITE, fs_error::not_supported);
      return;
    }
    prepare_path(lp);
    const BOOL ok =
        volume_call(lp, [&](const char16_t* p) { return r->encrypt ? encrypt(p) : decrypt(p, 0); });
    if (!ok) {
      set_error(win32_file_error(KV_SITE, fs_error::access_denied, r->encrypt ? "EncryptFileW" : "DecryptFileW",
                                 lp.c_str()));
      return;
    }
    clear_error();
  } else if (code == control_code("GFST")) {
    auto* r = static_cast<file_system_name_request*>(request);
    r->name[0] = 0;
    std::u16string own;
    if (!own_long_path(own)) {
      raise(KV_SITE, fs_error::open);
      return;
    }
    prepare_path(own);
    DWORD max_component = 0, flags = 0;
    auto ask = [&](const char16_t* p) {
      return GetVolumeInformationW(p, nullptr, 0, nullptr, &max_component, &flags, r->name, 64);
    };
    BOOL ok = volume_call(own, ask);
    std::u16string asked = own;
    if (!ok && GetLastError() == ERROR_DIR_NOT_ROOT) {
      if (!volume_path(asked)) {
        raise(KV_SITE, fs_error::open);
        return;
      }
      ok = volume_call(asked, ask);
    }
    if (!ok) {
      set_error(win32_file_error(KV_SITE, fs_error::open, "GetVolumeInformationW", asked.c_str()));
      return;
    }
    clear_error();
  } else if (code == control_code("BKUP") || code == control_code("RSTR")) {
    backup_control(request);
  } else {
    win32_dir::control(request);
  }
}
