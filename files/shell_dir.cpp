#include "files/shell_dir.h"

#include <cstring>

#include "files/file_object.h"
#include "platform/win32/windows.h"

namespace shell_dir {
namespace {

constexpr std::uint32_t kFolder = 0x20000000, kBrowsable = 0x08000000, kFsAncestorOrLink = 0x10010000,
                        kLink = 0x00010000;

bool same_ignoring_case(const std::u16string& a, const char16_t* b) {
  std::size_t n = std::char_traits<char16_t>::length(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::int32_t drive_kind(char16_t letter) {
  char root[4] = {static_cast<char>(letter), ':', '\\', 0};
  switch (GetDriveTypeA(root)) {
    case DRIVE_REMOVABLE: return entry_kind::removable;
    case DRIVE_FIXED: return entry_kind::fixed;
    case DRIVE_REMOTE: return entry_kind::network_drive;
    case DRIVE_CDROM: return entry_kind::cdrom;
    case DRIVE_RAMDISK: return entry_kind::ramdisk;
    default: return entry_kind::unknown;
  }
}

std::uint16_t cb_at(const unsigned char* p) {
  std::uint16_t cb;
  std::memcpy(&cb, p, 2);
  return cb;
}

// The text the shell folder of the common application data answers under
// "All Users" (en-US).
constexpr char16_t kAppDataName[] = u"Application Data";

std::u16string common_app_data_fallback(std::uint32_t& error) {
  error = 0x40007;
  char16_t buf[MAX_PATH + 1] = {};
  DWORD n = ExpandEnvironmentStringsW(u"%USERPROFILE%", buf, MAX_PATH);
  if (n == 0 || n > MAX_PATH || buf[0] == 0) return {};
  std::u16string path(buf);
  auto sep = [](char16_t c) { return c == u'/' || c == u':' || c == u'\\'; };
  std::size_t end = path.size();
  while (end > 0 && !sep(path[end - 1])) --end;
  if (end == 0) return {};
  path.resize(end);
  path += u"All Users\\";
  path += kAppDataName;
  if (path.size() + 1 > MAX_PATH) return {};
  DWORD a = GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    std::u16string parent = path.substr(0, end + 9);
    CreateDirectoryW(parent.c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
    a = GetFileAttributesW(path.c_str());
  }
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return {};
  error = 0;
  return path;
}

}  // namespace

std::int32_t item_kind(std::uint32_t attributes, const std::u16string& name) {
  if (!(attributes & kFolder) || ((attributes & kBrowsable) && !(attributes & kFsAncestorOrLink)))
    return (attributes & kLink) ? entry_kind::shell_link : entry_kind::file;
  if (name.size() == 3 && name[1] == u':' && name[2] == u'\\') {
    char16_t l = name[0];
    if (l >= u'a' && l <= u'z') l = static_cast<char16_t>(l - 32);
    if (l >= u'A' && l <= u'Z') return drive_kind(l);
  }
  if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\') {
    std::size_t more = 0;
    for (std::size_t i = 2; i < name.size(); ++i) more += name[i] == u'\\';
    return more == 0 ? entry_kind::server : more == 1 ? entry_kind::share : entry_kind::directory;
  }
  if (same_ignoring_case(name, u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")) return entry_kind::computer;
  if (same_ignoring_case(name, u"::{208D2C60-3AEA-1069-A2D7-08002B30309D}") ||
      same_ignoring_case(name, u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}"))
    return entry_kind::network;
  if (same_ignoring_case(name, u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}")) return entry_kind::documents;
  return entry_kind::directory;
}

int relation(const ITEMIDLIST* self, const ITEMIDLIST* other) {
  if (!self || !other) return 2;
  auto a = reinterpret_cast<const unsigned char*>(self);
  auto b = reinterpret_cast<const unsigned char*>(other);
  std::size_t i = 0, j = 0;
  for (;;) {
    std::uint16_t ca = cb_at(a + i), cbb = cb_at(b + j);
    if (ca == 0 && cbb == 0) return ILIsEqual(self, other) ? 0 : 2;
    if (cbb == 0) return 2;
    if (ca == 0) {
      std::vector<unsigned char> prefix(b, b + j);
      prefix.push_back(0);
      prefix.push_back(0);
      return ILIsEqual(self, reinterpret_cast<const ITEMIDLIST*>(prefix.data())) ? 1 : 2;
    }
    i += ca;
    j += cbb;
  }
}

std::vector<unsigned char> parent_list(const ITEMIDLIST* absolute) {
  auto p = reinterpret_cast<const unsigned char*>(absolute);
  std::size_t at = 0, last = 0;
  while (p && cb_at(p + at) != 0) {
    last = at;
    at += cb_at(p + at);
  }
  std::vector<unsigned char> out(p, p + last);
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::u16string special_folder(std::int32_t kind, std::uint32_t& error) {
  int csidl;
  switch (kind) {
    case entry_kind::common_app_data: csidl = CSIDL_COMMON_APPDATA; break;
    case entry_kind::app_data: csidl = CSIDL_APPDATA; break;
    case entry_kind::local_app_data: csidl = CSIDL_LOCAL_APPDATA; break;
    case entry_kind::desktop: csidl = CSIDL_DESKTOPDIRECTORY; break;
    default: error = 0x4000e; return {};
  }
  char16_t buf[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, buf) >= 0) {
    error = 0;
    return buf;
  }
  // Only the common folder has a sound stand-in; the user's own folders must not
  // silently become a folder every user shares.
  if (kind != entry_kind::common_app_data) {
    error = 0x40007;
    return {};
  }
  return common_app_data_fallback(error);
}

}  // namespace shell_dir
