#include "files/winnt_dir.h"

#include <memory>
#include <new>

#include "files/dir_calls.h"
#include "files/path.h"
#include "files/security_info.h"
#include "files/security_source.h"
#include "files/win32_calls.h"

// ---------------------------------------------------------------- path forms

bool is_unc_long_path(std::u16string_view p) { return p.substr(0, 8) == u"\\\\?\\UNC\\"; }

bool is_share_root(std::u16string_view p) {
  if (!is_unc_long_path(p)) return false;
  const std::size_t first = p.find(u'\\', 8);
  return first != std::u16string_view::npos && p.find(u'\\', first + 1) == std::u16string_view::npos;
}

bool winnt_dir::long_path(std::u16string& out, const char16_t* name, bool stream) const {
  std::u16string r;
  if (!resolve(r, name, stream) || r.empty()) return false;
  r.pop_back();
  if (r.empty()) return false;
  if (r[0] == u'\\') {
    if (r.size() < 3 || r[2] != u'?') r.insert(1, u"\\?\\UNC");
  } else {
    r.insert(0, u"\\\\?\\");
  }
  out = std::move(r);
  return true;
}

bool winnt_dir::own_long_path(std::u16string& out) const {
  std::u16string r;
  if (!long_path(r, u"x")) return false;
  r.pop_back();
  out = std::move(r);
  return true;
}

bool winnt_dir::prepare_path(const std::u16string&) { return true; }

// ---------------------------------------------------------------- redirection

namespace {

using wow64_disable_fn = BOOL (*)(PVOID*);
using wow64_revert_fn = BOOL (*)(PVOID);

struct wow64_entries {
  wow64_disable_fn disable = nullptr;
  wow64_revert_fn revert = nullptr;
};

// Looked up once; both must exist for the guard to act.
const wow64_entries& wow64() {
  static const wow64_entries entries = [] {
    wow64_entries e;
    auto d = entry_as<wow64_disable_fn>(win32_calls::entry(u"kernel32.dll", "Wow64DisableWow64FsRedirection"));
    auto r = entry_as<wow64_revert_fn>(win32_calls::entry(u"kernel32.dll", "Wow64RevertWow64FsRedirection"));
    if (d && r) {
      e.disable = d;
      e.revert = r;
    }
    return e;
  }();
  return entries;
}

}  // namespace

fs_redirection_guard::fs_redirection_guard() {
  const wow64_entries& w = wow64();
  if (w.disable) {
    const DWORD last = GetLastError();
    disabled_ = w.disable(&saved_) != FALSE;
    SetLastError(last);
  }
}

fs_redirection_guard::~fs_redirection_guard() {
  if (disabled_) {
    const DWORD last = GetLastError();
    wow64().revert(saved_);
    SetLastError(last);
  }
}

// ---------------------------------------------------------------- objects

winnt_dir::~winnt_dir() {
  if (watch_cookie_) watch(nullptr);
}

void winnt_dir::module_file_name(char16_t* buffer, std::uint32_t size) {
  if (!buffer || size == 0) return;
  win32_calls::module_file_name(buffer, size);
  // Older systems leave a truncated name unterminated.
  buffer[size - 1] = 0;
}

win32_dir* winnt_dir::open_dir_path(const char16_t* path) { return open_as<wide_calls>(path); }

HANDLE winnt_dir::create_handle(const char16_t* path, security_source* security, DWORD access, DWORD share_mode,
                                DWORD creation, DWORD flags_and_attributes) {
  const bool creating = creation == CREATE_ALWAYS;
  std::u16string lp;
  if (!long_path(lp, path, true)) {
    raise(KV_SITE, creating ? fs_error::create : fs_error::open);
    return nullptr;
  }
  SECURITY_ATTRIBUTES* sa = nullptr;
  if (security) {
    sa = security->make_attributes();
    if (!sa) {
      raise(KV_SITE, fs_error::out_of_memory);
      return nullptr;
    }
    if (security->status(sa) != 0) {
      security->release(sa);
      raise(KV_SITE, fs_error::access_denied);
      return nullptr;
    }
  }
  prepare_path(lp);
  HANDLE h;
  {
    NetworkImpersonationScope scope(is_unc_long_path(lp));
    fs_redirection_guard guard;
    h = CreateFileW(lp.c_str(), access, share_mode, sa, creation, flags_and_attributes, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE || !h) {
    const DWORD last = GetLastError();
    if (security) security->release(sa);
    SetLastError(last);
    if (creating)
      set_error(win32_file_error(KV_SITE, fs_error::create,
                                 (flags_and_attributes & FILE_FLAG_NO_BUFFERING) ? "CreateFileNoCacheW" : "CreateFileW",
                                 lp.c_str()));
    else
      set_error(win32_file_error(KV_SITE, fs_error::open, "OpenFileW", lp.c_str()));
    return nullptr;
  }
  if (security) security->release(sa);
  return h;
}

HANDLE winnt_dir::first_change_handle() {
  std::u16string lp;
  if (!own_long_path(lp)) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  prepare_path(lp);
  HANDLE h;
  {
    NetworkImpersonationScope scope(is_unc_long_path(lp));
    fs_redirection_guard guard;
    h = win32_calls::first_change_notification(lp.c_str(), FALSE, 0x1B);
  }
  if (h == INVALID_HANDLE_VALUE || !h) {
    set_error(win32_file_error(KV_SITE, fs_error::open, "FindFirstChangeNotificationW", lp.c_str()));
    return nullptr;
  }
  return h;
}


bool winnt_dir::compare_prefix(const char16_t* a, const char16_t* b, std::size_t count) {
  if (std::char_traits<char16_t>::compare(a, b, count) == 0) return true;
  std::u16string ua, ub;
  try {
    ua.assign(a, count);
    ub.assign(b, count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  win32_calls::upper(ua.data(), static_cast<DWORD>(count));
  win32_calls::upper(ub.data(), static_cast<DWORD>(count));
  return ua == ub;
}

int winnt_dir::compare_names(const file_identifier* a, const file_identifier* b) {
  const char16_t* na = identifier_name(a);
  const char16_t* nb = identifier_name(b);
  const int r = win32_calls::compare_ignore_case(na ? na : u"", nb ? nb : u"");
  return r - 2;
}

win32_dir::letter_iterator* winnt_dir::letters() { return new (std::nothrow) letter_iterator(); }

ri_dir* winnt_dir::open_special(std::int32_t kind) {
  if (kind != entry_kind::temporary) return win32_dir::open_special(kind);
  char16_t buffer[261] = {};
  if (GetTempPathW(260, buffer) == 0) {
    set_error(make_system_file_error(KV_SITE, "GetTempPathW", fs_error::open));
    return nullptr;
  }
  return open_temporary(buffer);
}

ri_dir* winnt_dir::open_temporary(const char16_t* temp_path) {
  std::u16string resolved;
  if (!resolve_path(u"", resolved, temp_path, false)) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  return open_dir_path(resolved.c_str());
}

// ---------------------------------------------------------------- entries

void winnt_dir::remove_file(const char16_t* path) {
  entry_call<wide_calls>(KV_SITE, path, fs_error::remove, fs_error::remove, "DeleteFileW",
                         [](const char16_t* lp) { return DeleteFileW(lp); });
}

void winnt_dir::remove_dir(const char16_t* path) {
  entry_call<wide_calls>(KV_SITE, path, fs_error::remove, fs_error::remove, "RemoveDirectoryW",
                         [](const char16_t* lp) { return RemoveDirectoryW(lp); });
}

void winnt_dir::set_attributes(const char16_t* path, std::uint32_t attributes) {
  entry_call<wide_calls>(KV_SITE, path, fs_error::create, fs_error::write, "SetFileAttributesW",
                         [attributes](const char16_t* lp) { return SetFileAttributesW(lp, attributes); });
}

void winnt_dir::rename(const char16_t* old_path, const char16_t* new_path) {
  std::u16string from, to;
  if (!long_path(from, old_path) || !long_path(to, new_path)) {
    Common::Error e = make_fs_error(KV_SITE, fs_error::rename);
    e.setWin32Cause(ERROR_INVALID_NAME);
    set_error(std::move(e));
    return;
  }
  // The token is valid on the network only: a move across the boundary
  // would run half under one identity and half under another.
  if (is_unc_long_path(from) != is_unc_long_path(to) && network_impersonation_token()) {
    raise(KV_SITE, fs_error::access_denied);
    return;
  }
  prepare_path(from);
  prepare_path(to);
  BOOL ok;
  {
    NetworkImpersonationScope scope(is_unc_long_path(from));
    fs_redirection_guard guard;
    ok = MoveFileW(from.c_str(), to.c_str());
  }
  if (!ok) {
    set_error(win32_file_error(KV_SITE, fs_error::rename, "MoveFileW", from.c_str()));
    return;
  }
  clear_error();
}

bool winnt_dir::source_attributes(security_source* security, SECURITY_ATTRIBUTES*& sa) {
  sa = nullptr;
  if (!security) return true;
  sa = security->make_attributes();
  if (!sa) {
    raise(KV_SITE, fs_error::out_of_memory);
    return false;
  }
  if (const std::uint32_t status = security->status(sa)) {
    security->release(sa);
    sa = nullptr;
    SetLastError(status);
    Common::Error e = make_function_error(KV_SITE, fs_error::access_denied, "GetSecurityAttributes");
    e.setWin32Cause(status);
    set_error(std::move(e));
    return false;
  }
  return true;
}

template <class Call>
void winnt_dir::secured_call(std::uint64_t site, const char16_t* name, security_source* security,
                             std::uint32_t failure_code, const char* function, Call call) {
  std::u16string lp;
  if (!long_path(lp, name)) {
    raise(site, fs_error::create);
    return;
  }
  SECURITY_ATTRIBUTES* sa = nullptr;
  if (!source_attributes(security, sa)) return;
  prepare_path(lp);
  BOOL ok;
  {
    wide_calls::scope scope(lp);
    ok = call(lp.c_str(), sa);
  }
  const DWORD last = GetLastError();
  if (security) security->release(sa);
  if (!ok) {
    SetLastError(last);
    set_error(win32_file_error(site, failure_code, function, lp.c_str()));
    return;
  }
  clear_error();
}

void winnt_dir::create_dir(const char16_t* path, security_source* security) {
  secured_call(KV_SITE, path, security, fs_error::create, "CreateDirectoryW",
               [](const char16_t* lp, SECURITY_ATTRIBUTES* sa) { return CreateDirectoryW(lp, sa); });
}

void winnt_dir::set_security(const char16_t* path, security_source* security) {
  secured_call(KV_SITE, path, security, fs_error::write, "SetFileSecurityW",
               [](const char16_t* lp, SECURITY_ATTRIBUTES* sa) {
                 return SetFileSecurityW(lp, DACL_SECURITY_INFORMATION, sa ? sa->lpSecurityDescriptor : nullptr);
               });
}
