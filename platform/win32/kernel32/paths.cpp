#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/volumes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <unicode/uchar.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/folders.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/layer_programs.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/process.h"

namespace win32 {
namespace {

bool is_sep(char16_t c) { return c == u'\\' || c == u'/'; }
bool is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
char16_t upper_letter(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// mkdir -p; true when the folder exists afterwards.
bool make_dirs(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string part;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    part = path.substr(0, pos);
    if (part.empty()) continue;
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// Creating a root costs a stat per call; remember the ones already made.
bool ensure_folder(const std::string& path) {
  static std::mutex lock;
  static std::vector<std::string> made;
  {
    std::lock_guard<std::mutex> g(lock);
    if (std::find(made.begin(), made.end(), path) != made.end()) return true;
  }
  if (!make_dirs(path)) return false;
  std::lock_guard<std::mutex> g(lock);
  made.push_back(path);
  return true;
}

namespace {

std::string strip_trailing_slashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// A parsed Windows path.
// The longest name a folder holds, in UTF-16 units.
constexpr std::size_t kMaxComponent = 255;

struct Parsed {
  enum Kind { Drive, Unc, Device } kind = Drive;
  char16_t drive = 0;
  std::u16string server, share;    // Unc
  std::u16string device;           // Device: everything after "\\?\" or "\\.\"
  std::vector<std::u16string> comps;
  bool trailing = false;
};

std::mutex& cwd_lock() {
  static std::mutex m;
  return m;
}
std::u16string& cwd_text() {
  static std::u16string* s = new std::u16string;  // outlives static destructors
  return *s;
}

std::u16string current_directory_locked() {
  std::u16string& cwd = cwd_text();
  if (cwd.empty()) {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf))
      cwd = to_windows_path(buf);
    else
      cwd = u"C:\\";
    if (cwd.size() > 3 && cwd.back() == u'\\') cwd.pop_back();
  }
  return cwd;
}

std::u16string current_directory() {
  std::lock_guard<std::mutex> g(cwd_lock());
  return current_directory_locked();
}

void split_components(std::u16string_view rest, std::vector<std::u16string>& comps, bool& trailing) {
  std::u16string cur;
  trailing = false;
  for (char16_t c : rest) {
    if (is_sep(c)) {
      if (!cur.empty()) comps.push_back(cur);
      cur.clear();
      trailing = true;
    } else {
      cur += c;
      trailing = false;
    }
  }
  if (!cur.empty()) comps.push_back(cur);
}

bool parse(std::u16string_view path, Parsed& p, std::u16string_view base);

// Folds "." and ".."; with `strip`, Windows' normalisation also drops the
// trailing dots and blanks of every name, so that "a.", "a " and "a" are one
// name and a name of dots alone ("...") goes away.
void fold(Parsed& p, bool strip) {
  std::vector<std::u16string> out;
  for (auto c : p.comps) {
    if (c == u".") continue;
    if (c == u"..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    if (strip) {
      while (!c.empty() && (c.back() == u'.' || c.back() == u' ')) c.pop_back();
      if (c.empty()) continue;
    }
    out.push_back(c);
  }
  p.comps = std::move(out);
}

// The current folder of drive `drive` when it is not the process's current
// drive: the "=X:" variable, as a command shell keeps it, else the root.
std::u16string drive_current_folder(char16_t drive) {
  const char16_t name[] = {u'=', drive, u':', 0};
  WCHAR buf[MAX_PATH + 1];
  DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH + 1);
  if (n >= 3 && n <= MAX_PATH && upper_letter(buf[0]) == drive && buf[1] == u':' && is_sep(buf[2]))
    return std::u16string(buf, n);
  return {};
}

// base is the current directory (a full drive path), used for relative forms.
bool parse(std::u16string_view path, Parsed& p, std::u16string_view base) {
  p = Parsed{};
  const std::size_t n = path.size();
  if (n == 0) return false;
  if (n >= 2 && is_sep(path[0]) && is_sep(path[1])) {
    if (n >= 4 && (path[2] == u'?' || path[2] == u'.') && is_sep(path[3])) {
      std::u16string_view rest = path.substr(4);
      if (rest.size() >= 4 && (rest[0] == u'U' || rest[0] == u'u') && (rest[1] == u'N' || rest[1] == u'n') &&
          (rest[2] == u'C' || rest[2] == u'c') && is_sep(rest[3])) {
        std::u16string unc = u"\\\\";
        unc += rest.substr(4);
        return parse(unc, p, base);
      }
      if (rest.size() >= 2 && is_letter(rest[0]) && rest[1] == u':' && (rest.size() == 2 || is_sep(rest[2]))) {
        p.kind = Parsed::Drive;
        p.drive = upper_letter(rest[0]);
        split_components(rest.substr(2), p.comps, p.trailing);
        fold(p, false);
        return true;
      }
      p.kind = Parsed::Device;
      p.device = rest;
      return true;
    }
    p.kind = Parsed::Unc;
    std::vector<std::u16string> comps;
    split_components(path.substr(2), comps, p.trailing);
    if (comps.empty()) return false;
    p.server = comps[0];
    if (comps.size() > 1) p.share = comps[1];
    p.comps.assign(comps.begin() + std::min<std::size_t>(2, comps.size()), comps.end());
    fold(p, true);
    return true;
  }
  if (n >= 2 && is_letter(path[0]) && path[1] == u':') {
    p.kind = Parsed::Drive;
    p.drive = upper_letter(path[0]);
    std::u16string_view rest = path.substr(2);
    // Drive-relative: against the current directory when it is on that drive,
    // else against that drive's own current folder.
    if (rest.empty() || !is_sep(rest[0])) {
      bool unused;
      if (base.size() >= 2 && upper_letter(base[0]) == p.drive && base[1] == u':')
        split_components(base.substr(2), p.comps, unused);
      else if (std::u16string other = drive_current_folder(p.drive); !other.empty())
        split_components(std::u16string_view(other).substr(2), p.comps, unused);
    }
    split_components(rest, p.comps, p.trailing);
    fold(p, true);
    return true;
  }
  // Rooted or relative: against the current directory.
  Parsed b;
  if (base.empty() || !parse(base, b, u"")) return false;
  if (is_sep(path[0])) {
    b.comps.clear();
    if (b.kind == Parsed::Device) return false;
  }
  p = b;
  bool trailing;
  split_components(path, p.comps, trailing);
  p.trailing = trailing;
  fold(p, true);
  return true;
}

std::u16string format(const Parsed& p) {
  std::u16string s;
  if (p.kind == Parsed::Device) return u"\\\\?\\" + p.device;
  if (p.kind == Parsed::Unc) {
    s = u"\\\\" + p.server;
    if (!p.share.empty()) s += u"\\" + p.share;
  } else {
    s += p.drive;
    s += u':';
  }
  if (p.comps.empty()) return s + u"\\";
  for (const auto& c : p.comps) s += u"\\" + c;
  if (p.trailing) s += u"\\";
  return s;
}

bool bad_char(char16_t c, bool wild) {
  if (c < 0x20) return true;
  switch (c) {
    case u'<':
    case u'>':
    case u':':
    case u'"':
    case u'|': return true;
    case u'*':
    case u'?': return !wild;
    default: return false;
  }
}

std::string join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir == "/") return "/" + name;
  return dir + "/" + name;
}

}  // namespace

char16_t upcase(char16_t c) {
  if (c < 0x80) return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_toupper(static_cast<UChar32>(c));
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

bool equal_ignore_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && upcase(a[i]) != upcase(b[i])) return false;
  return true;
}

std::string world_root() {
  std::string root = env("KV_WORLD_ROOT");
  if (root.empty()) {
    std::string data = env("XDG_DATA_HOME");
    if (data.empty()) {
      std::string home = env("HOME");
      data = (home.empty() ? std::string("/tmp") : home) + "/.local/share";
    }
    root = data + "/korvane-world";
  }
  root = strip_trailing_slashes(root);
  ensure_folder(root);
  return root;
}

std::string drive_root(char16_t letter) {
  letter = upper_letter(letter);
  if (letter < u'A' || letter > u'Z') return {};
  char var[] = "KV_DRIVE_?";
  var[9] = static_cast<char>(letter);
  std::string root = env(var);
  if (!root.empty()) {
    root = strip_trailing_slashes(root);
    if (letter == u'C') ensure_folder(root);
    return root;
  }
  if (letter == u'Z') return "/";
  if (letter == u'C') {
    root = world_root() + "/drive_c";
    ensure_folder(root);
    return root;
  }
  return {};
}

namespace {

// "CON", "nul.txt", "COM1 .log": the names that open a device in any folder,
// whatever their extension; gives the device's name as written.
bool device_name(std::u16string_view name, std::u16string& device) {
  std::u16string_view base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  std::u16string up;
  for (char16_t c : base) up += upper_letter(c);
  bool is = up == u"CON" || up == u"PRN" || up == u"AUX" || up == u"NUL";
  if (up.size() == 4 && (up.compare(0, 3, u"COM") == 0 || up.compare(0, 3, u"LPT") == 0) && up[3] >= u'1' &&
      up[3] <= u'9')
    is = true;
  if (is) device = base;
  return is;
}

}  // namespace

std::u16string full_path_name(std::u16string_view path) {
  const bool prefixed = path.size() >= 4 && is_sep(path[0]) && is_sep(path[1]) && is_sep(path[3]);
  if (prefixed && path[2] == u'?') return std::u16string(path);  // long paths are passed through untouched
  if (prefixed && path[2] == u'.') {
    // The device namespace keeps its prefix; what follows is normalised.
    Parsed p;
    split_components(path.substr(4), p.comps, p.trailing);
    fold(p, true);
    std::u16string s = u"\\\\.\\";
    for (std::size_t i = 0; i < p.comps.size(); ++i) s += (i ? u"\\" : u"") + p.comps[i];
    if (p.trailing && !p.comps.empty()) s += u'\\';
    return s;
  }
  Parsed p;
  if (!parse(path, p, current_directory())) return {};
  std::u16string device;
  if (p.kind == Parsed::Drive && !p.comps.empty() && !p.trailing && device_name(p.comps.back(), device))
    return u"\\\\.\\" + device;
  return format(p);
}

bool map_path(const WCHAR* path, MappedPath& out, bool allow_wildcards) {
  return map_path(path, out, allow_wildcards, nullptr);
}

bool map_path(const WCHAR* path, MappedPath& out, bool allow_wildcards, PathFacts* facts) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::u16string_view text(path);
  Parsed p;
  if (!parse(text, p, current_directory())) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  if (p.kind == Parsed::Unc && p.share.empty()) {
    SetLastError(ERROR_BAD_NETPATH);
    return false;
  }
  if (p.kind == Parsed::Device) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  for (std::size_t i = 0; i < p.comps.size(); ++i) {
    const bool last = i + 1 == p.comps.size();
    if (p.comps[i].size() > kMaxComponent) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    for (char16_t c : p.comps[i])
      if (bad_char(c, allow_wildcards && last)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
      }
  }
  std::string root;
  if (p.kind == Parsed::Unc) {
    root = share_root(p.server, p.share);
    if (root.empty()) return false;
  } else {
    root = drive_root(p.drive);
    if (root.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
  }
  PathFacts unused;
  PathFacts& f = facts ? *facts : unused;
  f.have_entry = f.have_parent = false;
  out.full_path = format(p);
  out.trailing_separator = !text.empty() && is_sep(text.back());
  std::string exact = root == "/" ? std::string() : root;
  std::size_t last_start = 0;
  for (const auto& c : p.comps) {
    last_start = exact.size();
    exact += "/" + utf16_to_utf8(c);
  }
  if (exact.empty()) exact = "/";
  if (f.as_given) {
    out.unix_path = exact;
    out.state = PathState::Exists;
    return true;
  }
  struct stat st;
  const bool has_wild =
      allow_wildcards && !p.comps.empty() && p.comps.back().find_first_of(u"*?") != std::u16string::npos;
  auto exists = [&](std::string unix_path, const struct stat& entry) {
    out.unix_path = std::move(unix_path);
    out.state = PathState::Exists;
    f.entry = entry;
    f.have_entry = true;
    return true;
  };
  auto last_missing = [&](std::string unix_path, const struct stat& parent) {
    out.unix_path = std::move(unix_path);
    out.state = PathState::LastMissing;
    f.parent = parent;
    f.have_parent = true;
    return true;
  };
  if (f.in_listing && !p.comps.empty() && !has_wild) {
    const std::string parent = last_start ? exact.substr(0, last_start) : std::string("/");
    struct stat pst;
    if (::stat(parent.c_str(), &pst) == 0 && S_ISDIR(pst.st_mode)) {
      std::string found;
      if (!folder_find(parent, pst, p.comps.back(), exact.substr(last_start + 1), found))
        return last_missing(exact, pst);
      std::string path_found = join(parent, found);
      if (::lstat(path_found.c_str(), &st) == 0) return exists(path_found, st);
    }
  }
  if (!has_wild && ::lstat(exact.c_str(), &st) == 0) return exists(exact, st);
  // A folder on the way that may not be searched: no walk can see past it.
  if (!has_wild && errno == EACCES) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // Find the deepest folder on the way that exists as given (mostly the
  // last name alone is missing or differs in case), then walk down from it,
  // matching each name ignoring case in the folder's listing.
  std::vector<std::size_t> ends;  // exact.substr(0, ends[k]) holds the first k names
  {
    std::size_t at = root == "/" ? 0 : root.size();
    ends.push_back(at);
    for (const auto& c : p.comps) ends.push_back(at += 1 + utf16_to_utf8(c).size());
  }
  auto prefix = [&](std::size_t k) { return ends[k] ? exact.substr(0, ends[k]) : std::string("/"); };
  const std::size_t n = p.comps.size();
  std::size_t k = n == 0 ? 0 : n - 1;
  struct stat dst;
  for (;;) {
    if (::stat(prefix(k).c_str(), &dst) == 0) {
      if (S_ISDIR(dst.st_mode)) break;
      k = n + 1;  // a file on the way
      break;
    }
    if (errno == EACCES) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    if (k == 0) {
      k = n + 1;
      break;
    }
    --k;
  }
  auto parent_missing = [&](std::string unix_path, std::size_t from) {
    for (std::size_t i = from; i < n; ++i) unix_path += "/" + utf16_to_utf8(p.comps[i]);
    out.unix_path = std::move(unix_path);
    out.state = PathState::ParentMissing;
    return true;
  };
  if (k > n) return parent_missing(exact, n);
  std::string cur = prefix(k);
  for (std::size_t i = k; i < n; ++i) {
    const bool last = i + 1 == n;
    const std::string name = utf16_to_utf8(p.comps[i]);
    if (last && has_wild) {
      out.unix_path = join(cur, name);
      out.state = PathState::Exists;
      return true;
    }
    std::string found;
    if (!folder_find(cur, dst, p.comps[i], name, found))
      return last ? last_missing(join(cur, name), dst) : parent_missing(join(cur, name), i + 1);
    std::string next = join(cur, found);
    if (last) {
      if (::lstat(next.c_str(), &st) == 0) return exists(next, st);
      return last_missing(join(cur, name), dst);
    }
    if (::stat(next.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return parent_missing(next, i + 1);
    cur = std::move(next);
    dst = st;
  }
  if (::lstat(cur.c_str(), &st) != 0) return parent_missing(cur, n);
  return exists(cur, st);
}

std::string to_unix_path(const WCHAR* path) {
  MappedPath m;
  if (!map_path(path, m)) return {};
  return m.unix_path;
}

std::u16string to_windows_path(const std::string& unix_path) {
  std::string path = unix_path;
  if (path.empty() || path[0] != '/') {
    char buf[PATH_MAX];
    std::string cwd = ::getcwd(buf, sizeof buf) ? buf : "/";
    path = cwd + "/" + path;
  }
  // Fold "//", "." and "..".
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    std::string part = path.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = next + 1;
  }
  std::string norm;
  for (auto& part : parts) norm += "/" + part;
  if (norm.empty()) norm = "/";

  char16_t best = u'Z';
  std::size_t best_len = 0;
  for (char16_t letter = u'A'; letter < u'Z'; ++letter) {
    std::string root = drive_root(letter);
    if (root.empty()) continue;
    std::string roots[2] = {root, {}};
    char real[PATH_MAX];
    if (::realpath(root.c_str(), real)) roots[1] = real;
    for (const std::string& r : roots) {
      if (r.empty() || r == "/") continue;
      bool under = norm == r || (norm.size() > r.size() && norm.compare(0, r.size(), r) == 0 && norm[r.size()] == '/');
      if (under && r.size() > best_len) {
        best = letter;
        best_len = r.size();
      }
    }
  }
  std::u16string out;
  out += best;
  out += u":\\";
  std::string rest = best_len ? norm.substr(best_len) : norm;
  if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  std::u16string wide = utf8_to_utf16(rest);
  for (char16_t& c : wide)
    if (c == u'/') c = u'\\';
  return out + wide;
}

DWORD copy_out(const std::u16string& text, LPWSTR buffer, DWORD size) {
  if (!buffer || size < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

}  // namespace win32

using win32::copy_out;

DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(lpFileName ? ERROR_INVALID_NAME : ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string full = win32::full_path_name(lpFileName);
  if (full.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  DWORD r = copy_out(full, lpBuffer, nBufferLength);
  if (lpFilePart) {
    *lpFilePart = nullptr;
    if (r < nBufferLength && lpBuffer && full.back() != u'\\' && full.back() != u'/') {
      std::size_t slash = full.find_last_of(u"\\/");
      if (slash != std::u16string::npos) *lpFilePart = lpBuffer + slash + 1;
    }
  }
  return r;
}

DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  return copy_out(win32::current_directory(), lpBuffer, nBufferLength);
}

BOOL SetCurrentDirectoryW(LPCWSTR lpPathName) {
  win32::MappedPath m;
  if (!win32::map_path(lpPathName, m)) return FALSE;
  struct stat st;
  if (m.state != win32::PathState::Exists) {
    SetLastError(m.state == win32::PathState::LastMissing ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (::stat(m.unix_path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(win32::cwd_lock());
  if (::chdir(m.unix_path.c_str()) != 0) {
    win32::set_last_error_from_errno(errno);
    return FALSE;
  }
  std::u16string full = m.full_path;
  if (full.size() > 3 && full.back() == u'\\') full.pop_back();
  win32::cwd_text() = full;
  return TRUE;
}


DWORD GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer) {
  if (!lpszShortPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  win32::MappedPath m;
  if (!win32::map_path(lpszShortPath, m)) return 0;
  if (m.state != win32::PathState::Exists) {
    SetLastError(m.state == win32::PathState::LastMissing ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return 0;
  }
  // Each name as the folder holds it; the form of the path (drive, relative,
  // long) as given. Names that fold ("." and "..") leave the text as it is.
  std::u16string in(lpszShortPath), out;
  std::size_t start = 0;
  if (in.size() >= 4 && win32::is_sep(in[0]) && win32::is_sep(in[1]) && in[2] == u'?' && win32::is_sep(in[3]))
    start = 4;
  if (in.size() >= start + 2 && win32::is_letter(in[start]) && in[start + 1] == u':') start += 2;
  std::vector<std::pair<std::size_t, std::size_t>> names;  // offset, length
  for (std::size_t i = start; i < in.size();) {
    if (win32::is_sep(in[i])) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < in.size() && !win32::is_sep(in[j])) ++j;
    names.emplace_back(i, j - i);
    i = j;
  }
  std::vector<std::string> disk;
  for (std::size_t i = 0; i < m.unix_path.size();) {
    std::size_t j = m.unix_path.find('/', i);
    if (j == std::string::npos) j = m.unix_path.size();
    if (j > i) disk.push_back(m.unix_path.substr(i, j - i));
    i = j + 1;
  }
  bool plain = names.size() <= disk.size();
  for (const auto& [at, len] : names) {
    std::u16string_view name(in.data() + at, len);
    if (name == u"." || name == u"..") plain = false;
  }
  if (plain) {
    std::size_t pos = 0;
    for (std::size_t k = 0; k < names.size(); ++k) {
      const auto& [at, len] = names[k];
      out.append(in, pos, at - pos);
      out += win32::utf8_to_utf16(disk[disk.size() - names.size() + k]);
      pos = at + len;
    }
    out.append(in, pos, std::u16string::npos);
  } else {
    out = in;
  }
  return copy_out(out, lpszLongPath, cchBuffer);
}

namespace {
bool is_windows_absolute(const std::u16string& s) {
  return (s.size() >= 3 && win32::is_letter(s[0]) && s[1] == u':' && win32::is_sep(s[2])) ||
         (s.size() >= 2 && win32::is_sep(s[0]) && win32::is_sep(s[1]));
}

// Creates a folder of drive C given as "Windows\Temp" and the like.
void ensure_world_folder(const char* relative) {
  std::string root = win32::drive_root(u'C');
  if (!root.empty()) win32::ensure_folder(root + "/" + relative);
}
}  // namespace

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  std::u16string path;
  for (const char* name : {"TMP", "TEMP"}) {
    std::u16string v = win32::utf8_to_utf16(win32::env(name));
    if (is_windows_absolute(v)) {
      path = win32::full_path_name(v);
      break;
    }
  }
  if (path.empty()) {
    ensure_world_folder("Windows/Temp");
    path = u"C:\\Windows\\Temp";
  }
  if (path.back() != u'\\') path += u'\\';
  return copy_out(path, lpBuffer, nBufferLength);
}

UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  ensure_world_folder("Windows");
  return copy_out(u"C:\\Windows", lpBuffer, uSize);
}

UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  ensure_world_folder("Windows/System32");
  if (std::string root = win32::drive_root(u'C'); !root.empty()) win32::place_layer_programs(root + "/Windows/System32");
  return copy_out(u"C:\\Windows\\System32", lpBuffer, uSize);
}

UINT GetDriveTypeW(LPCWSTR lpRootPathName) {
  std::u16string root = lpRootPathName ? std::u16string(lpRootPathName) : std::u16string(u"\\");
  if (root.size() >= 4 && win32::is_sep(root[0]) && win32::is_sep(root[1]) && root[2] == u'?' && win32::is_sep(root[3]))
    root.erase(0, 4);
  if (root.size() == 1 && win32::is_sep(root[0])) root = win32::current_directory().substr(0, 3);  // this drive
  if (root.size() == 2 && root[1] == u':') root += u'\\';
  if (root.size() >= 4 && win32::equal_ignore_case(root.substr(0, 4), u"UNC\\")) root = u"\\\\" + root.substr(4);
  if (root.size() > 2 && win32::is_sep(root[0]) && win32::is_sep(root[1])) {
    // \\server\share\ : a share of the world.
    std::u16string rest = root.substr(2);
    if (!rest.empty() && win32::is_sep(rest.back())) rest.pop_back();
    const std::size_t sep = rest.find_first_of(u"\\/");
    if (sep == std::u16string::npos || rest.find_first_of(u"\\/", sep + 1) != std::u16string::npos)
      return DRIVE_NO_ROOT_DIR;
    const DWORD last = GetLastError();
    const bool found = !win32::share_root(rest.substr(0, sep), rest.substr(sep + 1)).empty();
    SetLastError(last);
    return found ? DRIVE_REMOTE : DRIVE_NO_ROOT_DIR;
  }
  if (root.size() != 3 || !win32::is_letter(root[0]) || root[1] != u':' || !win32::is_sep(root[2]))
    return DRIVE_NO_ROOT_DIR;
  return win32::drive_root(root[0]).empty() ? DRIVE_NO_ROOT_DIR : win32::drive_table_type(root[0]);
}

UINT GetDriveTypeA(LPCSTR lpRootPathName) {
  if (!lpRootPathName) return GetDriveTypeW(nullptr);
  std::u16string w;
  for (const char* p = lpRootPathName; *p; ++p) w += static_cast<unsigned char>(*p);
  return GetDriveTypeW(w.c_str());
}

DWORD GetLogicalDrives() {
  DWORD mask = 0;
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter)
    if (!win32::drive_root(letter).empty()) mask |= 1u << (letter - u'A');
  return mask;
}

DWORD GetLogicalDriveStringsW(DWORD nBufferLength, LPWSTR lpBuffer) {
  std::u16string list;
  DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i)
    if (mask & (1u << i)) {
      list += static_cast<char16_t>(u'A' + i);
      list += u":\\";
      list += u'\0';
    }
  // The list ends with an empty string; the count excludes that last NUL.
  if (!lpBuffer || nBufferLength < list.size() + 1) return static_cast<DWORD>(list.size() + 1);
  std::copy(list.begin(), list.end(), lpBuffer);
  lpBuffer[list.size()] = 0;
  return static_cast<DWORD>(list.size());
}
