#include "platform/win32/network.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/win32/handles.h"

namespace win32 {
namespace {

struct Connection {
  std::u16string remote, local;
  bool busy;
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
  table().push_back({remote, local, busy});
}

std::vector<std::u16string> network_connections() {
  std::lock_guard<std::mutex> g(tableLock);
  std::vector<std::u16string> r;
  for (auto& c : table()) r.push_back(c.remote);
  return r;
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
    e->snapshot = win32::table();
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
    if (!win32::caseEqual(it->remote, name) && !(!it->local.empty() && win32::caseEqual(it->local, name))) continue;
    if (it->busy && !force) return ERROR_OPEN_FILES;
    t.erase(it);
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_CONNECTED;
}
