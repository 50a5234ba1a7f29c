#include "system/registry.h"

#include <memory>
#include <vector>

#include "system/layer.h"
#include "system/security.h"

namespace Windows {

LONG Registry::open(const std::u16string& key, REGSAM access, HKEY* handle) const {
  *handle = nullptr;
  return layer->RegOpenKeyExW(root_, key.c_str(), 0, view_ | access, handle);
}

bool Registry::setValue(const std::u16string& key, const std::u16string& name, const void* data, DWORD size,
                        DWORD type) const {
  HKEY h = nullptr;
  if (layer->RegCreateKeyExW(root_, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, view_ | KEY_SET_VALUE, nullptr,
                             &h, nullptr) != ERROR_SUCCESS)
    return false;
  LONG rc = layer->RegSetValueExW(h, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(h);
  return rc == ERROR_SUCCESS;
}

bool Registry::getValue(const std::u16string& key, const std::u16string& name, void* buffer, DWORD size,
                        DWORD expectedType) const {
  HKEY h = nullptr;
  if (open(key, KEY_READ, &h) != ERROR_SUCCESS) return false;
  DWORD type = expectedType;
  LONG rc = layer->RegQueryValueExW(h, name.c_str(), nullptr, &type, static_cast<BYTE*>(buffer), &size);
  RegCloseKey(h);
  return rc == ERROR_SUCCESS;
}

bool Registry::queryValue(const std::u16string& key, const std::u16string& name, DWORD* size, DWORD* type,
                          bool* notFound) const {
  if (notFound) *notFound = false;
  HKEY h = nullptr;
  if (open(key, KEY_READ, &h) != ERROR_SUCCESS) return false;
  DWORD scratch = 0;
  LONG rc = layer->RegQueryValueExW(h, name.c_str(), nullptr, type ? type : &scratch, nullptr, size);
  RegCloseKey(h);
  if (notFound && rc == ERROR_FILE_NOT_FOUND) *notFound = true;
  return rc == ERROR_SUCCESS;
}

bool Registry::createKey(const std::u16string& key, DWORD options, LPSECURITY_ATTRIBUTES security,
                         LONG* error) const {
  HKEY h = nullptr;
  LONG rc = layer->RegCreateKeyExW(root_, key.c_str(), 0, nullptr, options, view_ | KEY_ALL_ACCESS, security, &h,
                                   nullptr);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  if (error) *error = rc;
  return rc == ERROR_SUCCESS;
}

bool Registry::checkKey(const std::u16string& key, DWORD options, bool reading, LONG* error) const {
  HKEY h = nullptr;
  LONG rc = layer->RegOpenKeyExW(root_, key.c_str(), options, view_ | (reading ? KEY_READ : KEY_ALL_ACCESS), &h);
  if (rc == ERROR_SUCCESS) RegCloseKey(h);
  if (error) *error = rc;
  return rc == ERROR_SUCCESS;
}

bool Registry::deleteValue(const std::u16string& key, const std::u16string& name, bool* notFound) const {
  if (notFound) *notFound = false;
  HKEY h = nullptr;
  if (open(key, KEY_WRITE, &h) != ERROR_SUCCESS) return false;
  LONG rc = layer->RegDeleteValueW(h, name.c_str());
  RegCloseKey(h);
  if (notFound && rc == ERROR_FILE_NOT_FOUND) *notFound = true;
  return rc == ERROR_SUCCESS;
}

bool Registry::deleteTree(const std::u16string& key, bool* notFound) const {
  if (notFound) *notFound = false;
  HKEY h = nullptr;
  if (open(key, KEY_READ | DELETE, &h) == ERROR_SUCCESS) {
    DWORD count = 0;
    if (RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) == ERROR_SUCCESS) {
      // From the last index down, so a deletion does not shift the names
      // still to come.
      for (DWORD i = count; i-- > 0;) {
        WCHAR name[256] = {};
        DWORD capacity = 256;
        if (layer->RegEnumKeyExW(h, i, name, &capacity, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
          continue;
        if (!deleteTree(key + u"\\" + name)) {
          RegCloseKey(h);
          return false;
        }
      }
    }
    RegCloseKey(h);
  }
  LONG rc = layer->RegDeleteKeyExW(root_, key.c_str(), view_, 0);
  if (notFound && rc == ERROR_FILE_NOT_FOUND) *notFound = true;
  return rc == ERROR_SUCCESS;
}

DWORD Registry::getDword(const std::u16string& key, const std::u16string& name, DWORD defaultValue) const {
  DWORD size = 0, type = 0;
  if (!queryValue(key, name, &size, &type, nullptr) || size != 4) return defaultValue;
  DWORD value = defaultValue;
  getValue(key, name, &value, 4, REG_BINARY);
  return value;
}

DWORD Registry::getBinary(const std::u16string& key, const std::u16string& name, void* buffer,
                          DWORD capacity) const {
  DWORD size = 0, type = 0;
  if (!queryValue(key, name, &size, &type, nullptr)) return 0;
  if (size > capacity) return size;
  // A read that fails hands back nothing: zeroed bytes are no value.
  DWORD got = capacity;
  HKEY h = nullptr;
  if (open(key, KEY_READ, &h) != ERROR_SUCCESS) return 0;
  DWORD readType = REG_BINARY;
  LONG rc = layer->RegQueryValueExW(h, name.c_str(), nullptr, &readType, static_cast<BYTE*>(buffer), &got);
  RegCloseKey(h);
  return rc == ERROR_SUCCESS ? got : 0;
}

bool Registry::setString(const std::u16string& key, const std::u16string& name, const std::u16string& text,
                         DWORD type) const {
  return setValue(key, name, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2), type);
}

bool Registry::setDword(const std::u16string& key, const std::u16string& name, DWORD value) const {
  return setValue(key, name, &value, 4, REG_DWORD);
}

namespace {

// The string and its stored type; false leaves both alone.
bool readString(const Registry& r, const std::u16string& key, const std::u16string& name, std::u16string& out,
                DWORD& type) {
  DWORD size = 0, stored = 0;
  if (!r.queryValue(key, name, &size, &stored, nullptr)) return false;
  DWORD n = size / 2;
  if (n == 0) return false;
  // Room for every stored byte: an odd size has half a unit more than n.
  std::vector<char16_t> buffer(n + 1, u'\0');
  if (!r.getValue(key, name, buffer.data(), size, REG_SZ)) return false;
  out.assign(buffer.data(), n - 1);
  type = stored;
  return true;
}

}  // namespace

std::u16string Registry::getString(const std::u16string& key, const std::u16string& name,
                                   const std::u16string& defaultValue) const {
  std::u16string result = defaultValue;
  DWORD type = 0;
  readString(*this, key, name, result, type);
  return result;
}

std::u16string Registry::getExpandedString(const std::u16string& key, const std::u16string& name,
                                           const std::u16string& defaultValue) const {
  std::u16string result = defaultValue;
  DWORD type = 0;
  if (!readString(*this, key, name, result, type) || result.empty() || type != REG_EXPAND_SZ) return result;
  DWORD n = layer->ExpandEnvironmentStringsW(result.c_str(), nullptr, 0);
  if (n == 0) return result;
  std::vector<char16_t> buffer(n, u'\0');
  layer->ExpandEnvironmentStringsW(result.c_str(), buffer.data(), n);
  return std::u16string(buffer.data(), n - 1);
}

LONG deleteRegKey(HKEY root, const WCHAR* path, REGSAM flags) {
  using DeleteKeyEx = LONG (*)(HKEY, LPCWSTR, REGSAM, DWORD);
  static const DeleteKeyEx deleteKeyEx = [] {
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    return advapi ? reinterpret_cast<DeleteKeyEx>(reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExW")))
                  : nullptr;
  }();
  if (deleteKeyEx) return deleteKeyEx(root, path, flags, 0);
  return RegDeleteKeyW(root, path);
}

LONG forceDeleteRegKey(HKEY root, const WCHAR* path, REGSAM flags) {
  if (GetVersion() & 0x80000000u) return layer->RegDeleteKeyW(root, path);
  if (deleteRegKey(root, path, flags) == ERROR_SUCCESS) return ERROR_SUCCESS;

  // Take the key over: become its owner, then give the user full access.
  bool held = hasPrivilege("SeSecurityPrivilege", nullptr);
  enablePrivilege("SeSecurityPrivilege", nullptr, true);
  HKEY h = nullptr;
  if (layer->RegOpenKeyExW(root, path, 0, flags | WRITE_OWNER, &h) == ERROR_SUCCESS) {
    std::unique_ptr<BYTE[]> user(tokenInformation(TokenUser, nullptr));
    if (user)
      SetSecurityInfo(h, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid,
                      nullptr, nullptr, nullptr);
    RegCloseKey(h);
  }
  enablePrivilege("SeSecurityPrivilege", nullptr, held);
  LONG rc = layer->RegOpenKeyExW(root, path, 0, flags | WRITE_DAC, &h);
  if (rc != ERROR_SUCCESS) return rc;
  {
    SecurityAttributes full(u"!CurUser", DWORD{KEY_ALL_ACCESS}, DWORD{CONTAINER_INHERIT_ACE},
                            static_cast<const WCHAR*>(nullptr));
    RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, full.attributes.lpSecurityDescriptor);
    RegCloseKey(h);
  }
  if (deleteRegKey(root, path, flags) == ERROR_SUCCESS) return ERROR_SUCCESS;

  rc = layer->RegOpenKeyExW(root, path, 0, flags | DELETE | KEY_ENUMERATE_SUB_KEYS, &h);
  if (rc != ERROR_SUCCESS) return rc;
  // A subkey that cannot be deleted keeps its index: the walk passes over it
  // instead of meeting it again for ever, and its error is the one returned.
  LONG first = ERROR_SUCCESS;
  for (DWORD index = 0;;) {
    WCHAR name[256] = {};
    DWORD capacity = 256;
    LONG e = layer->RegEnumKeyExW(h, index, name, &capacity, nullptr, nullptr, nullptr, nullptr);
    if (e == ERROR_NO_MORE_ITEMS) break;
    if (e != ERROR_SUCCESS) {
      ++index;
      continue;
    }
    LONG sub = forceDeleteRegKey(h, name, flags);
    if (sub != ERROR_SUCCESS) {
      if (first == ERROR_SUCCESS) first = sub;
      ++index;
    }
  }
  RegCloseKey(h);
  rc = deleteRegKey(root, path, flags);
  return first != ERROR_SUCCESS ? first : rc;
}

}  // namespace Windows
