#include "platform/win32/kernel32/volumes.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/win32/kernel32/ansi.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/advapi32/token.h"

namespace win32 {
namespace {

struct DriveRow {
  char16_t letter = 0;
  UINT type = DRIVE_FIXED;
  std::u16string label, file_system;
  DWORD serial = 0;
};

std::mutex& table_lock() {
  static std::mutex m;
  return m;
}

std::string table_file() { return world_root() + "/drives"; }

// One line per drive: letter, type, serial, then label and file-system name
// separated by tabs (UTF-8).
std::vector<DriveRow> read_table() {
  std::vector<DriveRow> rows;
  std::ifstream in(table_file());
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string part;
    while (std::getline(ss, part, '\t')) f.push_back(part);
    if (f.size() < 3 || f[0].empty()) continue;
    DriveRow r;
    r.letter = upcase(static_cast<char16_t>(f[0][0]));
    r.type = static_cast<UINT>(std::stoul(f[1]));
    r.serial = static_cast<DWORD>(std::stoul(f[2]));
    if (f.size() > 3) r.label = utf8_to_utf16(f[3]);
    if (f.size() > 4) r.file_system = utf8_to_utf16(f[4]);
    rows.push_back(r);
  }
  return rows;
}

bool find_row(char16_t letter, DriveRow& out) {
  std::lock_guard<std::mutex> g(table_lock());
  for (const DriveRow& r : read_table())
    if (r.letter == upcase(letter)) {
      out = r;
      return true;
    }
  return false;
}

// The entry of `dir` named `name` ignoring case.
std::string find_ignoring_case(const std::string& dir, std::u16string_view name) {
  std::string found;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string raw = e->d_name;
      if (raw == "." || raw == "..") continue;
      if (equal_ignore_case(utf8_to_utf16(raw), name)) {
        found = dir + "/" + raw;
        break;
      }
    }
    ::closedir(d);
  }
  return found;
}

}  // namespace

void set_drive_info(char16_t letter, UINT type, const std::u16string& label, const std::u16string& file_system,
                    DWORD serial) {
  std::lock_guard<std::mutex> g(table_lock());
  std::vector<DriveRow> rows = read_table();
  rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const DriveRow& r) { return r.letter == upcase(letter); }),
             rows.end());
  rows.push_back({upcase(letter), type, label, file_system, serial});
  std::ofstream out(table_file(), std::ios::trunc);
  for (const DriveRow& r : rows)
    out << static_cast<char>(r.letter) << '\t' << r.type << '\t' << r.serial << '\t' << utf16_to_utf8(r.label)
        << '\t' << utf16_to_utf8(r.file_system) << '\n';
}

UINT drive_table_type(char16_t letter) {
  DriveRow r;
  return find_row(letter, r) ? r.type & 0xFF : DRIVE_FIXED;
}

bool drive_is_floppy(char16_t letter) {
  DriveRow r;
  return find_row(letter, r) && r.type == kDriveFloppy;
}

namespace {

// Where the one user a share admits is kept: beside the shares, under the
// names the share's folders have on disk.
std::string share_user_file(const std::string& share_folder) {
  const std::size_t share_at = share_folder.rfind('/');
  const std::size_t host_at = share_folder.rfind('/', share_at - 1);
  return world_root() + "/share-users" + share_folder.substr(host_at);
}

// True when the share admits the acting user; the file holds the admitted
// user's SID blob.
bool share_admits(const std::string& share_folder) {
  std::ifstream in(share_user_file(share_folder), std::ios::binary);
  if (!in) return true;
  const std::vector<BYTE> user{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return user.empty() || user == acting_user();
}

}  // namespace

std::string share_root(std::u16string_view server, std::u16string_view share) {
  const std::string host = find_ignoring_case(world_root() + "/net", server);
  if (host.empty()) {
    SetLastError(ERROR_BAD_NETPATH);
    return {};
  }
  std::string folder = share.empty() ? std::string() : find_ignoring_case(host, share);
  struct stat st;
  if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_BAD_NET_NAME);
    return {};
  }
  if (!share_admits(folder)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return {};
  }
  return folder;
}

std::string make_share(const std::u16string& server, const std::u16string& share) {
  const std::string folder = world_root() + "/net/" + utf16_to_utf8(server) + "/" + utf16_to_utf8(share);
  ensure_folder(folder);
  return folder;
}

void restrict_share(const std::u16string& server, const std::u16string& share, const std::vector<BYTE>& user) {
  const std::string host = find_ignoring_case(world_root() + "/net", server);
  std::string folder = host.empty() ? std::string() : find_ignoring_case(host, share);
  if (folder.empty()) folder = make_share(server, share);
  const std::string file = share_user_file(folder);
  ensure_folder(file.substr(0, file.rfind('/')));
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(user.data()), static_cast<std::streamsize>(user.size()));
}

}  // namespace win32

namespace {

bool is_long(std::u16string_view p) {
  return p.size() >= 4 && p[0] == u'\\' && p[1] == u'\\' && p[2] == u'?' && p[3] == u'\\';
}

// The volume root of a full path: "C:\" or "\\server\share\"; empty when none.
std::u16string volume_root(std::u16string path) {
  if (is_long(path)) {
    path.erase(0, 4);
    if (path.size() >= 4 && win32::equal_ignore_case(path.substr(0, 4), u"UNC\\")) path = u"\\\\" + path.substr(4);
  }
  if (path.size() >= 2 && path[1] == u':') return path.substr(0, 2) + u"\\";
  if (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\') {
    const std::size_t server_end = path.find(u'\\', 2);
    if (server_end == std::u16string::npos) return {};
    const std::size_t share_end = path.find(u'\\', server_end + 1);
    return share_end == std::u16string::npos ? path + u"\\" : path.substr(0, share_end + 1);
  }
  return {};
}

}  // namespace

BOOL GetVolumePathNameW(LPCWSTR lpszFileName, LPWSTR lpszVolumePathName, DWORD cchBufferLength) {
  if (!lpszFileName || !*lpszFileName || !lpszVolumePathName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::u16string given(lpszFileName);
  std::u16string full = is_long(given) ? given : win32::full_path_name(given);
  std::u16string root = volume_root(full);
  if (root.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (is_long(given)) root = root[0] == u'\\' ? u"\\\\?\\UNC" + root.substr(1) : u"\\\\?\\" + root;
  if (root.size() + 1 > cchBufferLength) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  std::copy(root.begin(), root.end(), lpszVolumePathName);
  lpszVolumePathName[root.size()] = 0;
  return TRUE;
}

BOOL GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPWSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
  std::u16string given = lpRootPathName ? std::u16string(lpRootPathName) : std::u16string(u"C:\\");
  std::u16string full = is_long(given) ? given : win32::full_path_name(given);
  const std::u16string root = volume_root(full);
  std::u16string plain = full;
  if (is_long(plain)) {
    plain.erase(0, 4);
    if (plain.size() >= 4 && win32::equal_ignore_case(plain.substr(0, 4), u"UNC\\")) plain = u"\\\\" + plain.substr(4);
  }
  if (!plain.empty() && plain.back() != u'\\') plain += u'\\';
  if (root.empty() || !win32::equal_ignore_case(root, plain)) {
    SetLastError(ERROR_DIR_NOT_ROOT);
    return FALSE;
  }
  std::string unix_root;
  win32::DriveRow row;
  bool listed = false;
  if (root[0] == u'\\') {
    const std::size_t server_end = root.find(u'\\', 2);
    unix_root = win32::share_root(std::u16string_view(root).substr(2, server_end - 2),
                                  std::u16string_view(root).substr(server_end + 1, root.size() - server_end - 2));
    if (unix_root.empty()) return FALSE;
  } else {
    unix_root = win32::drive_root(root[0]);
    listed = win32::find_row(root[0], row);
  }
  struct stat st;
  if (unix_root.empty() || ::stat(unix_root.c_str(), &st) != 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  const std::u16string fs = listed && !row.file_system.empty() ? row.file_system : std::u16string(u"NTFS");
  const std::u16string label = listed ? row.label : std::u16string();
  if ((lpVolumeNameBuffer && nVolumeNameSize < label.size() + 1) ||
      (lpFileSystemNameBuffer && nFileSystemNameSize < fs.size() + 1)) {
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  if (lpVolumeNameBuffer) {
    std::copy(label.begin(), label.end(), lpVolumeNameBuffer);
    lpVolumeNameBuffer[label.size()] = 0;
  }
  if (lpVolumeSerialNumber) {
    auto dev = static_cast<unsigned long long>(st.st_dev);
    *lpVolumeSerialNumber = listed && row.serial ? row.serial : static_cast<DWORD>(dev ^ (dev >> 32));
  }
  if (lpMaximumComponentLength) *lpMaximumComponentLength = 255;
  if (lpFileSystemFlags) *lpFileSystemFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK | FILE_SUPPORTS_HARD_LINKS;
  if (lpFileSystemNameBuffer) {
    std::copy(fs.begin(), fs.end(), lpFileSystemNameBuffer);
    lpFileSystemNameBuffer[fs.size()] = 0;
  }
  return TRUE;
}
