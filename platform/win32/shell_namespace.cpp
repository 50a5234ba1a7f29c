#include "platform/win32/shell_namespace.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/fileops.h"
#include "platform/win32/lasterror.h"
#include "platform/win32/paths.h"
#include "platform/win32/process.h"

namespace {

constexpr char16_t kComputer[] = u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
constexpr char16_t kNetwork[] = u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}";
constexpr char16_t kNetworkOld[] = u"::{208D2C60-3AEA-1069-A2D7-08002B30309D}";
constexpr char16_t kDocuments[] = u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}";

// Item tags.
constexpr BYTE kTagComputer = 'M', kTagNetwork = 'N', kTagDocuments = 'P', kTagDrive = 'D', kTagServer = 'S',
               kTagShare = 'H', kTagName = 'F';

char16_t fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool same_text(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

struct Item {
  BYTE tag;
  std::u16string name;
};

void append(std::vector<BYTE>& out, const Item& item) {
  USHORT cb = static_cast<USHORT>(3 + item.name.size() * 2);
  std::size_t at = out.size();
  out.resize(at + cb);
  std::memcpy(&out[at], &cb, 2);
  out[at + 2] = item.tag;
  if (!item.name.empty()) std::memcpy(&out[at + 3], item.name.data(), item.name.size() * 2);
}

std::vector<Item> items_of(LPCITEMIDLIST list) {
  std::vector<Item> items;
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

LPITEMIDLIST hand_out(const std::vector<Item>& items) {
  std::vector<BYTE> bytes;
  for (const Item& item : items) append(bytes, item);
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

std::u16string env(const char16_t* name) {
  char16_t buf[MAX_PATH + 1] = {};
  DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH + 1);
  return n && n <= MAX_PATH ? std::u16string(buf, n) : std::u16string();
}

bool is_dir(const std::u16string& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

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
  std::u16string_view text(name);
  std::vector<Item> items;
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
    if (text.size() > 3 && GetFileAttributesW(std::u16string(text).c_str()) == INVALID_FILE_ATTRIBUTES)
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    items.push_back({kTagComputer, kComputer});
    items.push_back({kTagDrive, root});
    for (auto& part : components(text.substr(3))) items.push_back({kTagName, part});
  } else if (text.size() > 2 && text[0] == u'\\' && text[1] == u'\\') {
    std::vector<std::u16string> parts = components(text.substr(2));
    if (parts.empty()) return E_INVALIDARG;
    items.push_back({kTagNetwork, kNetwork});
    items.push_back({kTagServer, u"\\\\" + parts[0]});
    for (std::size_t i = 1; i < parts.size(); ++i) items.push_back({i == 1 ? kTagShare : kTagName, parts[i]});
  } else {
    return E_INVALIDARG;
  }
  *list = hand_out(items);
  return *list ? S_OK : E_OUTOFMEMORY;
}

BOOL SHGetPathFromIDListW(LPCITEMIDLIST list, LPWSTR path) {
  if (!list || !path) return FALSE;
  path[0] = 0;
  std::vector<Item> items = items_of(list);
  std::u16string out;
  if (items.size() == 1 && items[0].tag == kTagDocuments) {
    out = env(u"USERPROFILE") + u"\\Documents";
  } else if (items.size() >= 2 && items[0].tag == kTagComputer && items[1].tag == kTagDrive) {
    out = items[1].name;
    for (std::size_t i = 2; i < items.size(); ++i) out += (i > 2 ? u"\\" : u"") + items[i].name;
  } else if (items.size() >= 3 && items[0].tag == kTagNetwork) {
    out = items[1].name;
    for (std::size_t i = 2; i < items.size(); ++i) out += u"\\" + items[i].name;
  } else {
    return FALSE;
  }
  if (out.size() >= MAX_PATH) return FALSE;
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
    case CSIDL_DESKTOPDIRECTORY: folder = env(u"USERPROFILE") + u"\\Desktop"; break;
    case CSIDL_PERSONAL: folder = env(u"USERPROFILE") + u"\\Documents"; break;
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
