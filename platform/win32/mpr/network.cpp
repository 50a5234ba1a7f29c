#include "platform/win32/mpr/network.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/volumes.h"

namespace win32 {
namespace {

struct Connection {
  std::u16string remote, local;
  bool busy;
  bool connected = true;  // false: remembered for its drive, not connected now
  std::u16string user;
};

std::mutex tableLock;
std::vector<Connection>& table() {
  static std::vector<Connection> t;
  return t;
}

struct NetEnum : KernelObject {
  ObjectKind kind() const override { return ObjectKind::Find; }
  std::vector<Connection> snapshot;
  std::size_t next = 0;
};

bool caseEqual(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

}  // namespace

void add_network_connection(const std::u16string& remote, const std::u16string& local, bool busy) {
  std::lock_guard<std::mutex> g(tableLock);
  table().push_back({remote, local, busy, true, {}});
}

void remember_network_connection(const std::u16string& remote, const std::u16string& local) {
  std::lock_guard<std::mutex> g(tableLock);
  Connection c{remote, local, false, true, {}};
  c.connected = false;
  table().push_back(c);
}

std::vector<std::u16string> network_connections() {
  std::lock_guard<std::mutex> g(tableLock);
  std::vector<std::u16string> r;
  for (auto& c : table())
    if (c.connected) r.push_back(c.remote);
  return r;
}

std::u16string network_connection_user(const std::u16string& remote) {
  std::lock_guard<std::mutex> g(tableLock);
  for (auto& c : table())
    if (c.connected && caseEqual(c.remote, remote)) return c.user;
  return {};
}

void clear_network_connections() {
  std::lock_guard<std::mutex> g(tableLock);
  table().clear();
}

}  // namespace win32

DWORD WNetOpenEnumW(DWORD scope, DWORD, DWORD, LPNETRESOURCEW, LPHANDLE enumHandle) {
  if (!enumHandle) return ERROR_INVALID_PARAMETER;
  if (scope != RESOURCE_CONNECTED) return ERROR_CALL_NOT_IMPLEMENTED;
  auto e = std::make_shared<win32::NetEnum>();
  {
    std::lock_guard<std::mutex> g(win32::tableLock);
    for (const auto& c : win32::table())
      if (c.connected) e->snapshot.push_back(c);
  }
  *enumHandle = win32::handle_insert(e);
  return ERROR_SUCCESS;
}

DWORD WNetEnumResourceW(HANDLE enumHandle, LPDWORD count, LPVOID buffer, LPDWORD bufferSize) {
  auto e = win32::handle_lookup_as<win32::NetEnum>(enumHandle);
  if (!e) return ERROR_INVALID_HANDLE;
  if (!count || !buffer || !bufferSize) return ERROR_INVALID_PARAMETER;
  if (e->next >= e->snapshot.size()) return ERROR_NO_MORE_ITEMS;
  // Records from the front, their texts from the back of the buffer.
  auto base = static_cast<BYTE*>(buffer);
  std::size_t front = 0, back = *bufferSize;
  DWORD made = 0;
  while (e->next < e->snapshot.size() && (*count == 0xFFFFFFFFu || made < *count)) {
    const auto& c = e->snapshot[e->next];
    std::size_t texts = (c.remote.size() + 1 + c.local.size() + 1) * sizeof(WCHAR);
    if (front + sizeof(NETRESOURCEW) + texts > back) break;
    back -= texts;
    auto remote = reinterpret_cast<LPWSTR>(base + back);
    std::memcpy(remote, c.remote.c_str(), (c.remote.size() + 1) * sizeof(WCHAR));
    LPWSTR local = remote + c.remote.size() + 1;
    std::memcpy(local, c.local.c_str(), (c.local.size() + 1) * sizeof(WCHAR));
    NETRESOURCEW r{RESOURCE_CONNECTED, RESOURCETYPE_DISK, RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE,
                   c.local.empty() ? nullptr : local, remote, nullptr, nullptr};
    std::memcpy(base + front, &r, sizeof r);
    front += sizeof r;
    ++made;
    ++e->next;
  }
  if (!made) {
    const auto& c = e->snapshot[e->next];
    *bufferSize = static_cast<DWORD>(sizeof(NETRESOURCEW) + (c.remote.size() + c.local.size() + 2) * sizeof(WCHAR));
    return ERROR_MORE_DATA;
  }
  *count = made;
  return ERROR_SUCCESS;
}

DWORD WNetCloseEnum(HANDLE enumHandle) {
  if (!win32::handle_lookup_as<win32::NetEnum>(enumHandle)) return ERROR_INVALID_HANDLE;
  CloseHandle(enumHandle);
  return ERROR_SUCCESS;
}

DWORD WNetCancelConnection2W(LPCWSTR name, DWORD, BOOL force) {
  if (!name) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> g(win32::tableLock);
  auto& t = win32::table();
  for (auto it = t.begin(); it != t.end(); ++it) {
    if (!it->connected) continue;
    if (!win32::caseEqual(it->remote, name) && !(!it->local.empty() && win32::caseEqual(it->local, name))) continue;
    if (it->busy && !force) return ERROR_OPEN_FILES;
    t.erase(it);
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_CONNECTED;
}

namespace {

std::u16string server_of(const std::u16string& remote) {
  const std::size_t end = remote.find(u'\\', 2);
  return remote.substr(2, end == std::u16string::npos ? std::u16string::npos : end - 2);
}

// \\server or \\server\share of the world: 0 or the Win32 error.
DWORD check_remote(const std::u16string& remote) {
  if (remote.size() < 3 || remote[0] != u'\\' || remote[1] != u'\\') return ERROR_BAD_NET_NAME;
  std::u16string rest = remote.substr(2);
  if (!rest.empty() && rest.back() == u'\\') rest.pop_back();
  const std::size_t sep = rest.find(u'\\');
  const DWORD last = GetLastError();
  std::string folder = win32::share_root(rest.substr(0, sep), sep == std::u16string::npos ? u"" : rest.substr(sep + 1));
  DWORD e = folder.empty() ? GetLastError() : 0;
  SetLastError(last);
  if (sep == std::u16string::npos && e == ERROR_BAD_NET_NAME) e = 0;  // the server alone
  return e;
}

}  // namespace

DWORD WNetAddConnection3W(HWND, LPNETRESOURCEW resource, LPCWSTR password, LPCWSTR user, DWORD) {
  (void)password;
  if (!resource || !resource->lpRemoteName) return ERROR_INVALID_PARAMETER;
  const std::u16string remote(resource->lpRemoteName);
  const std::u16string local = resource->lpLocalName ? std::u16string(resource->lpLocalName) : std::u16string();
  if (DWORD e = check_remote(remote)) return e;
  const std::u16string who = user ? std::u16string(user) : std::u16string();
  std::lock_guard<std::mutex> g(win32::tableLock);
  auto& t = win32::table();
  for (auto& c : t) {
    if (!c.connected) continue;
    // One set of credentials per server.
    if (win32::caseEqual(server_of(c.remote), server_of(remote)) && !win32::caseEqual(c.user, who))
      return ERROR_SESSION_CREDENTIAL_CONFLICT;
  }
  if (!local.empty()) {
    if (local.size() != 2 || local[1] != u':') return ERROR_BAD_DEVICE;
    for (auto it = t.begin(); it != t.end(); ++it)
      if (!it->connected && win32::caseEqual(it->local, local)) {
        t.erase(it);
        break;
      }
    for (auto& c : t)
      if (win32::caseEqual(c.local, local)) return ERROR_ALREADY_ASSIGNED;
    const DWORD last = GetLastError();
    const bool local_drive = !win32::drive_root(local[0]).empty();
    SetLastError(last);
    if (local_drive) return ERROR_ALREADY_ASSIGNED;
  }
  win32::Connection c{remote, local, false, true, {}};
  c.user = who;
  t.push_back(c);
  return NO_ERROR;
}

DWORD WNetGetUniversalNameW(LPCWSTR localPath, DWORD infoLevel, LPVOID buffer, LPDWORD bufferSize) {
  if (!localPath || !bufferSize) return ERROR_INVALID_PARAMETER;
  if (infoLevel != REMOTE_NAME_INFO_LEVEL) return ERROR_NOT_SUPPORTED;
  std::u16string path(localPath);
  if (path.size() < 2 || path[1] != u':') return ERROR_BAD_DEVICE;
  const std::u16string drive = path.substr(0, 2);
  std::u16string remote;
  bool connected = false, found = false;
  {
    std::lock_guard<std::mutex> g(win32::tableLock);
    for (auto& c : win32::table())
      if (!c.local.empty() && win32::caseEqual(c.local, drive)) {
        remote = c.remote;
        connected = c.connected;
        found = true;
        if (connected) break;
      }
  }
  if (!found) {
    const DWORD last = GetLastError();
    const bool local_drive = !win32::drive_root(drive[0]).empty();
    SetLastError(last);
    return local_drive ? ERROR_NOT_CONNECTED : ERROR_BAD_DEVICE;
  }
  std::u16string rest = path.substr(2);
  const std::u16string universal = remote + rest;
  const std::size_t texts = (universal.size() + 1 + remote.size() + 1 + rest.size() + 1) * sizeof(WCHAR);
  const std::size_t need = sizeof(REMOTE_NAME_INFOW) + texts;
  if (!buffer || *bufferSize < need) {
    *bufferSize = static_cast<DWORD>(need);
    return ERROR_MORE_DATA;
  }
  auto* info = static_cast<REMOTE_NAME_INFOW*>(buffer);
  auto* text = reinterpret_cast<LPWSTR>(info + 1);
  auto put = [&](const std::u16string& s) {
    LPWSTR at = text;
    std::memcpy(at, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
    text += s.size() + 1;
    return at;
  };
  info->lpUniversalName = put(universal);
  info->lpConnectionName = put(remote);
  info->lpRemainingPath = put(rest);
  return connected ? NO_ERROR : ERROR_CONNECTION_UNAVAIL;
}
