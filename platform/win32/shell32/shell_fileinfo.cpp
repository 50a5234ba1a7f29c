#include "platform/win32/shell32/shell_fileinfo.h"

#include <cstring>
#include <string>

#include "platform/win32/layer/ansi_text.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/advapi32/registry.h"
#include "platform/win32/shell32/shobj.h"

namespace {

std::u16string defaultValue(HKEY root, const std::u16string& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return {};
  WCHAR value[260] = {};
  DWORD size = sizeof value - sizeof(WCHAR);
  DWORD type = 0;
  std::u16string out;
  if (RegQueryValueExW(k, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ))
    out = value;
  RegCloseKey(k);
  return out;
}

std::u16string lastComponent(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string::npos) return path;
  if (slash + 1 == path.size()) return path;  // a root: its path
  return path.substr(slash + 1);
}

std::u16string typeName(const std::u16string& name, bool folder) {
  if (folder) return u"File folder";
  const std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || dot + 1 == name.size()) return u"File";
  const std::u16string ext = name.substr(dot);
  const std::u16string cls = defaultValue(HKEY_CLASSES_ROOT, ext);
  if (!cls.empty()) {
    const std::u16string described = defaultValue(HKEY_CLASSES_ROOT, cls);
    if (!described.empty()) return described;
  }
  std::u16string upper = ext.substr(1);
  for (WCHAR& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<WCHAR>(c - u'a' + u'A');
  return upper + u" File";
}

void copyField(WCHAR* field, std::size_t units, const std::u16string& text) {
  const std::size_t n = text.size() < units - 1 ? text.size() : units - 1;
  std::memcpy(field, text.data(), n * sizeof(WCHAR));
  field[n] = 0;
}

}  // namespace

DWORD_PTR SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT cbFileInfo, UINT uFlags) {
  if (uFlags & (SHGFI_EXETYPE | SHGFI_SYSICONINDEX)) return 0;
  if (!pszPath || (psfi && cbFileInfo < sizeof(SHFILEINFOW))) return 0;
  std::u16string path;
  if (uFlags & SHGFI_PIDL) {
    WCHAR buffer[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(reinterpret_cast<LPCITEMIDLIST>(pszPath), buffer)) return 0;
    path = buffer;
  } else {
    path = pszPath;
  }
  DWORD attributes = dwFileAttributes;
  if (!(uFlags & SHGFI_USEFILEATTRIBUTES)) {
    attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  }
  if (!psfi) return 1;
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (uFlags & SHGFI_ICON) {
    psfi->hIcon = nullptr;
    psfi->iIcon = 0;
  }
  if (uFlags & SHGFI_ATTRIBUTES) {
    DWORD sfgao = SFGAO_FILESYSTEM;
    if (folder) sfgao |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR;
    if (attributes & FILE_ATTRIBUTE_HIDDEN) sfgao |= SFGAO_HIDDEN;
    psfi->dwAttributes = sfgao;
  }
  if (uFlags & SHGFI_DISPLAYNAME) copyField(psfi->szDisplayName, MAX_PATH, lastComponent(path));
  if (uFlags & SHGFI_TYPENAME) copyField(psfi->szTypeName, 80, typeName(lastComponent(path), folder));
  return 1;
}

DWORD_PTR SHGetFileInfoA(LPCSTR pszPath, DWORD dwFileAttributes, SHFILEINFOA* psfi, UINT cbFileInfo, UINT uFlags) {
  if (psfi && cbFileInfo < sizeof(SHFILEINFOA)) return 0;
  win32::WideText path((uFlags & SHGFI_PIDL) ? nullptr : pszPath);
  LPCWSTR wide = (uFlags & SHGFI_PIDL) ? reinterpret_cast<LPCWSTR>(pszPath) : path.get();
  SHFILEINFOW w{};
  const DWORD_PTR r = SHGetFileInfoW(wide, dwFileAttributes, psfi ? &w : nullptr, sizeof w, uFlags);
  if (r == 0 || !psfi) return r;
  if (uFlags & SHGFI_ICON) {
    psfi->hIcon = w.hIcon;
    psfi->iIcon = w.iIcon;
  }
  if (uFlags & SHGFI_ATTRIBUTES) psfi->dwAttributes = w.dwAttributes;
  if (uFlags & SHGFI_DISPLAYNAME) {
    std::memset(psfi->szDisplayName, 0, sizeof psfi->szDisplayName);
    WideCharToMultiByte(CP_ACP, 0, w.szDisplayName, -1, psfi->szDisplayName, MAX_PATH - 1, nullptr, nullptr);
  }
  if (uFlags & SHGFI_TYPENAME) {
    std::memset(psfi->szTypeName, 0, sizeof psfi->szTypeName);
    WideCharToMultiByte(CP_ACP, 0, w.szTypeName, -1, psfi->szTypeName, 79, nullptr, nullptr);
  }
  return r;
}
