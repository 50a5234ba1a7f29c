// GetShortPathNameW: the file system below keeps no 8.3 names, so the layer
// makes them as Windows does and keeps them per folder, so that one name asked
// for twice, or beside siblings of the same start, always gets the same answer.
#include <dirent.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"

namespace {

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool shortNameChar(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) return true;
  return std::u16string_view(u"$%'-_@~`!(){}^#&").find(c) != std::u16string_view::npos;
}

// Whether a name is its own short name: one optional dot, base 1-8, extension 1-3.
bool fits83(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  std::size_t dot = name.find(u'.');
  std::u16string_view base = name.substr(0, dot);
  std::u16string_view ext = dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8) return false;
  if (dot != std::u16string_view::npos && (ext.empty() || ext.size() > 3)) return false;
  for (char16_t c : base)
    if (!shortNameChar(c)) return false;
  for (char16_t c : ext)
    if (!shortNameChar(c)) return false;
  return true;
}

std::u16string upper(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return out;
}

// Blanks and dots dropped, characters a short name cannot hold as "_", upper case.
std::u16string shortPart(std::u16string_view s) {
  std::u16string out;
  for (char16_t c : s) {
    if (c == u' ' || c == u'.') continue;
    out.push_back(shortNameChar(c) ? c : u'_');
  }
  return upper(out);
}

struct Folder {
  std::map<std::string, std::u16string> byName;  // the entry's name on disk
  std::set<std::u16string> taken;                // upper case
};

std::mutex& registryLock() {
  static std::mutex m;
  return m;
}
std::unordered_map<std::string, Folder>& registry() {
  static std::unordered_map<std::string, Folder> folders;
  return folders;
}

// The names already short in a folder are taken before any is made there.
void seed(const std::string& folder, Folder& f) {
  DIR* d = ::opendir(folder.empty() ? "/" : folder.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    std::u16string name = win32::utf8_to_utf16(e->d_name);
    if (fits83(name)) f.taken.insert(upper(name));
  }
  ::closedir(d);
}

std::u16string shortNameIn(const std::string& folder, const std::string& diskName) {
  std::lock_guard<std::mutex> guard(registryLock());
  auto [it, fresh] = registry().try_emplace(folder);
  Folder& f = it->second;
  if (fresh) seed(folder, f);
  auto known = f.byName.find(diskName);
  if (known != f.byName.end()) return known->second;
  std::u16string name = win32::utf8_to_utf16(diskName);
  std::size_t start = name.find_first_not_of(u'.');
  std::u16string_view trimmed = start == std::u16string::npos ? std::u16string_view() : std::u16string_view(name).substr(start);
  std::size_t dot = trimmed.rfind(u'.');
  std::u16string base = shortPart(trimmed.substr(0, dot));
  std::u16string ext = dot == std::u16string_view::npos ? std::u16string() : shortPart(trimmed.substr(dot + 1));
  if (ext.size() > 3) ext.resize(3);
  if (base.empty()) base = u"_";
  std::u16string made;
  for (unsigned n = 1;; ++n) {
    std::u16string suffix = u"~" + win32::utf8_to_utf16(std::to_string(n));
    std::size_t keep = 8 - std::min<std::size_t>(suffix.size(), 7);
    made = base.substr(0, std::min(base.size(), keep)) + suffix;
    if (!ext.empty()) made += u"." + ext;
    if (!f.taken.count(made)) break;
  }
  f.taken.insert(made);
  f.byName.emplace(diskName, made);
  return made;
}

// Where the first name of a path starts: after "X:\", "\\?\X:\", "\\server\share\" or "\".
std::size_t rootLength(const std::u16string& p) {
  std::size_t i = 0;
  if (p.size() >= 4 && isSeparator(p[0]) && isSeparator(p[1]) && (p[2] == u'?' || p[2] == u'.') && isSeparator(p[3]))
    i = 4;
  if (p.size() >= i + 2 && p[i + 1] == u':') {
    i += 2;
  } else if (i == 0 && p.size() >= 2 && isSeparator(p[0]) && isSeparator(p[1])) {
    // server and share are not renamed
    i = 2;
    for (int names = 0; names < 2 && i < p.size(); ++names) {
      while (i < p.size() && !isSeparator(p[i])) ++i;
      if (names == 0 && i < p.size()) ++i;
    }
  }
  while (i < p.size() && isSeparator(p[i])) ++i;
  return i;
}

}  // namespace

DWORD GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer) {
  if (!lpszLongPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string path(lpszLongPath);
  win32::MappedPath whole;
  if (!win32::map_path(path.c_str(), whole)) return 0;
  if (whole.state != win32::PathState::Exists) {
    SetLastError(whole.state == win32::PathState::LastMissing ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return 0;
  }
  std::size_t at = rootLength(path);
  std::u16string out = path.substr(0, at);
  while (at < path.size()) {
    std::size_t end = at;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    std::u16string name = path.substr(at, end - at);
    if (!name.empty() && name != u"." && name != u".." && !fits83(name)) {
      win32::MappedPath m;
      std::u16string prefix = path.substr(0, end);
      if (!win32::map_path(prefix.c_str(), m)) return 0;
      std::size_t slash = m.unix_path.rfind('/');
      std::string folder = slash == std::string::npos ? std::string() : m.unix_path.substr(0, slash);
      std::string disk = slash == std::string::npos ? m.unix_path : m.unix_path.substr(slash + 1);
      name = shortNameIn(folder, disk);
    }
    out += name;
    if (end < path.size()) out.push_back(path[end]);
    at = end + 1;
  }
  return win32::copy_out(out, lpszShortPath, cchBuffer);
}
