#include "platform/win32/shell32/shell_namespace.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/ole32/com.h"
#include "platform/win32/kernel32/fileops.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/shell32/shell_items.h"

namespace win32::shell {
namespace {

std::u16string env(const char16_t* name) {
  char16_t buf[MAX_PATH + 1] = {};
  DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH + 1);
  return n && n <= MAX_PATH ? std::u16string(buf, n) : std::u16string();
}

bool is_dir(const std::u16string& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// In the user's own world (no KV_WORLD_ROOT) the desktop and documents are
// the folders the user's desktop session names in user-dirs.dirs, so that
// what the program puts there is where the user looks. A key set to the home
// folder itself means the user has none.
std::u16string xdg_user_dir(const char* key) {
  const char* world = std::getenv("KV_WORLD_ROOT");
  const char* home = std::getenv("HOME");
  if ((world && *world) || !home || !*home) return {};
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = config && *config ? config : std::string(home) + "/.config";
  std::ifstream in(base + "/user-dirs.dirs");
  const std::string prefix = std::string(key) + "=\"";
  std::string line, value;
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0 && line.size() > prefix.size() && line.back() == '"')
      value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
  if (value.compare(0, 6, "$HOME/") == 0) value = std::string(home) + value.substr(5);
  else if (value == "$HOME") value = home;
  while (value.size() > 1 && value.back() == '/') value.pop_back();
  std::string home_dir = home;
  while (home_dir.size() > 1 && home_dir.back() == '/') home_dir.pop_back();
  if (value.empty() || value[0] != '/' || value == home_dir) return {};
  std::u16string path = win32::to_windows_path(value);
  return is_dir(path) ? path : std::u16string();
}

std::u16string user_folder(const char* xdg_key, const char16_t* profile_name) {
  std::u16string own = xdg_user_dir(xdg_key);
  return own.empty() ? env(u"USERPROFILE") + profile_name : own;
}

void append(std::vector<BYTE>& out, const Item& item) {
  USHORT cb = static_cast<USHORT>(3 + item.name.size() * 2);
  std::size_t at = out.size();
  out.resize(at + cb);
  std::memcpy(&out[at], &cb, 2);
  out[at + 2] = item.tag;
  if (!item.name.empty()) std::memcpy(&out[at + 3], item.name.data(), item.name.size() * 2);
}

}  // namespace

char16_t fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool same_text(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

std::vector<Item> items_of(LPCITEMIDLIST list) {
  std::vector<Item> items;
  if (!list) return items;
  auto p = reinterpret_cast<const BYTE*>(list);
  for (;;) {
    USHORT cb;
    std::memcpy(&cb, p, 2);
    if (cb == 0) break;
    Item item{cb >= 3 ? p[2] : BYTE(0), {}};
    if (cb > 3) {
      item.name.resize((cb - 3) / 2);
      std::memcpy(item.name.data(), p + 3, item.name.size() * 2);
    }
    items.push_back(std::move(item));
    p += cb;
  }
  return items;
}

LPITEMIDLIST hand_out(const std::vector<Item>& items, std::size_t from) {
  std::vector<BYTE> bytes;
  for (std::size_t i = from; i < items.size(); ++i) append(bytes, items[i]);
  bytes.push_back(0);
  bytes.push_back(0);
  void* block = CoTaskMemAlloc(bytes.size());
  if (!block) return nullptr;
  std::memcpy(block, bytes.data(), bytes.size());
  return static_cast<LPITEMIDLIST>(block);
}

std::vector<std::u16string> components(std::u16string_view rest) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  for (char16_t c : rest) {
    if (c == u'\\' || c == u'/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

std::u16string documents_path() { return user_folder("XDG_DOCUMENTS_DIR", u"\\Documents"); }

std::u16string path_of(const std::vector<Item>& items) {
  std::u16string out;
  std::size_t first_name = 0;
  if (!items.empty() && items[0].tag == kTagDocuments) {
    out = documents_path();
    first_name = 1;
  } else if (items.size() >= 2 && items[0].tag == kTagComputer && items[1].tag == kTagDrive) {
    out = items[1].name;
    first_name = 2;
  } else if (items.size() >= 3 && items[0].tag == kTagNetwork && items[1].tag == kTagServer &&
             items[2].tag == kTagShare) {
    out = items[1].name + u"\\" + items[2].name;
    first_name = 3;
  } else {
    return {};
  }
  for (std::size_t i = first_name; i < items.size(); ++i) {
    if (items[i].tag != kTagName) return {};
    if (out.back() != u'\\') out += u'\\';
    out += items[i].name;
  }
  return out;
}

HRESULT parse_full(std::u16string_view text, std::vector<Item>& items) {
  items.clear();
  if (same_text(text, kComputer)) {
    items.push_back({kTagComputer, kComputer});
  } else if (same_text(text, kNetwork) || same_text(text, kNetworkOld)) {
    items.push_back({kTagNetwork, kNetwork});
  } else if (same_text(text, kDocuments)) {
    items.push_back({kTagDocuments, kDocuments});
  } else if (text.size() >= 3 && ((fold(text[0]) >= u'A' && fold(text[0]) <= u'Z') && text[1] == u':') &&
             (text[2] == u'\\' || text[2] == u'/')) {
    std::u16string root{fold(text[0]), u':', u'\\'};
    if (GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    // "." and ".." fold away, as in any Windows path.
    std::u16string full = win32::full_path_name(text);
    if (full.size() < 3) return E_INVALIDARG;
    if (full.size() > 3 && GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES)
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    items.push_back({kTagComputer, kComputer});
    items.push_back({kTagDrive, root});
    for (auto& part : components(std::u16string_view(full).substr(3))) items.push_back({kTagName, part});
  } else if (text.size() > 2 && text[0] == u'\\' && text[1] == u'\\') {
    std::vector<std::u16string> parts = components(text.substr(2));
    if (parts.empty()) return E_INVALIDARG;
    for (const auto& part : parts)
      if (part == u"." || part == u"..") return E_INVALIDARG;
    items.push_back({kTagNetwork, kNetwork});
    items.push_back({kTagServer, u"\\\\" + parts[0]});
    for (std::size_t i = 1; i < parts.size(); ++i) items.push_back({i == 1 ? kTagShare : kTagName, parts[i]});
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

}  // namespace win32::shell

using namespace win32::shell;

UINT ILGetSize(LPCITEMIDLIST list) {
  if (!list) return 0;
  auto p = reinterpret_cast<const BYTE*>(list);
  UINT size = 0;
  for (;;) {
    USHORT cb;
    std::memcpy(&cb, p + size, 2);
    if (cb == 0) return size + 2;
    size += cb;
  }
}

BOOL ILIsEqual(LPCITEMIDLIST a, LPCITEMIDLIST b) {
  if (!a || !b) return a == b;
  std::vector<Item> x = items_of(a), y = items_of(b);
  if (x.size() != y.size()) return FALSE;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (x[i].tag != y[i].tag || !same_text(x[i].name, y[i].name)) return FALSE;
  return TRUE;
}

HRESULT SHParseDisplayName(LPCWSTR name, void*, LPITEMIDLIST* list, ULONG, ULONG* sfgao_out) {
  if (sfgao_out) *sfgao_out = 0;
  if (!name || !list) return E_INVALIDARG;
  *list = nullptr;
  std::vector<Item> items;
  HRESULT hr = parse_full(name, items);
  if (FAILED(hr)) return hr;
  *list = hand_out(items);
  return *list ? S_OK : E_OUTOFMEMORY;
}

BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path) {
  if (!list || !path) return FALSE;
  path[0] = 0;
  std::u16string out = path_of(items_of(list));
  if (out.empty() || out.size() >= MAX_PATH) return FALSE;
  std::memcpy(path, out.c_str(), (out.size() + 1) * 2);
  return TRUE;
}

HRESULT SHGetFolderPathW(HWND, int csidl, HANDLE, DWORD, LPWSTR path) {
  if (!path) return E_INVALIDARG;
  path[0] = 0;
  std::u16string folder;
  switch (csidl & 0xff) {
    case CSIDL_COMMON_APPDATA: folder = env(u"ProgramData"); break;
    case CSIDL_APPDATA: folder = env(u"APPDATA"); break;
    case CSIDL_LOCAL_APPDATA: folder = env(u"LOCALAPPDATA"); break;
    case CSIDL_DESKTOPDIRECTORY: folder = user_folder("XDG_DESKTOP_DIR", u"\\Desktop"); break;
    case CSIDL_PERSONAL: folder = documents_path(); break;
    case CSIDL_WINDOWS:
    case CSIDL_SYSTEM: {
      WCHAR buffer[MAX_PATH];
      const UINT n = (csidl & 0xff) == CSIDL_SYSTEM ? GetSystemDirectoryW(buffer, MAX_PATH)
                                                    : GetWindowsDirectoryW(buffer, MAX_PATH);
      if (n > 0 && n < MAX_PATH) folder.assign(buffer, n);
      break;
    }
    default: return E_INVALIDARG;
  }
  if (folder.size() < 3 || folder.size() >= MAX_PATH) return E_FAIL;
  if ((csidl & CSIDL_FLAG_CREATE) && !is_dir(folder)) {
    std::u16string at = folder.substr(0, 2);
    for (auto& part : components(folder.substr(2))) {
      at += u"\\" + part;
      if (!is_dir(at)) CreateDirectoryW(at.c_str(), nullptr);
    }
  }
  if (!is_dir(folder)) {
    DWORD e = GetLastError();
    return HRESULT_FROM_WIN32(e ? e : ERROR_PATH_NOT_FOUND);
  }
  std::memcpy(path, folder.c_str(), (folder.size() + 1) * 2);
  return S_OK;
}

BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR path, int csidl, BOOL create) {
  if (!path) return FALSE;
  const HRESULT hr = SHGetFolderPathW(owner, (csidl & 0xff) | (create ? CSIDL_FLAG_CREATE : 0), nullptr, 0, path);
  if (FAILED(hr)) {
    path[0] = 0;
    return FALSE;
  }
  return TRUE;
}

namespace win32 {

LPITEMIDLIST append_name_item(LPCITEMIDLIST folder, LPCWSTR name) {
  constexpr BYTE kNameTag = 'F';  // the tag of a file or folder under a drive or share
  const std::size_t head = folder ? ILGetSize(folder) - 2 : 0;
  const std::size_t chars = name ? std::char_traits<char16_t>::length(name) : 0;
  const std::size_t cb = 3 + chars * 2;
  if (cb > 0xFFFF) return nullptr;
  auto* out = static_cast<BYTE*>(CoTaskMemAlloc(head + cb + 2));
  if (!out) return nullptr;
  if (head) std::memcpy(out, folder, head);
  const USHORT size = static_cast<USHORT>(cb);
  std::memcpy(out + head, &size, 2);
  out[head + 2] = kNameTag;
  if (chars) std::memcpy(out + head + 3, name, chars * 2);
  out[head + cb] = out[head + cb + 1] = 0;
  return reinterpret_cast<LPITEMIDLIST>(out);
}

}  // namespace win32
