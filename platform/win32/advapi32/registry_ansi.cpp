// The ANSI registry calls, over the wide ones. Texts are converted with the
// ANSI code page; string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is
// converted as a whole, NULs included, so sizes count ANSI bytes.
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/layer/ansi_text.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/advapi32/registry.h"

namespace {

using Wide = win32::WideText;

std::string narrow(const char16_t* w, std::size_t units) {
  if (!units) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(units), s.data(), n, nullptr, nullptr);
  return s;
}

bool string_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A name out in characters, as the wide calls give it: the length without the
// terminator, ERROR_MORE_DATA when the terminator does not fit.
LONG name_out(const std::string& n, LPSTR buf, LPDWORD size) {
  if (!size) return ERROR_INVALID_PARAMETER;
  if (!buf || *size < n.size() + 1) {
    *size = static_cast<DWORD>(n.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(buf, n.c_str(), n.size() + 1);
  *size = static_cast<DWORD>(n.size());
  return ERROR_SUCCESS;
}

// The value `name` of `key` with string data in ANSI: the reported size is that
// of the ANSI text, whether or not a buffer was given.
LONG query_ansi(HKEY key, LPCWSTR name, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  DWORD stored = 0, size = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, &stored, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (!string_type(stored)) return RegQueryValueExW(key, name, nullptr, type, data, dataSize);
  std::vector<BYTE> wide;
  do {  // the value may grow between the two reads
    wide.resize(size + 2);
    size = static_cast<DWORD>(wide.size());
    rc = RegQueryValueExW(key, name, nullptr, &stored, wide.data(), &size);
  } while (rc == ERROR_MORE_DATA);
  if (rc != ERROR_SUCCESS) return rc;
  if (type) *type = stored;
  if (!string_type(stored)) {  // rewritten meanwhile with another type
    if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (data && *dataSize < size) rc = ERROR_MORE_DATA;
    else if (data && size) std::memcpy(data, wide.data(), size);
    *dataSize = size;
    return rc;
  }
  // An odd last byte is half a character: it has no ANSI form.
  std::vector<char16_t> units(size / 2);
  if (!units.empty()) std::memcpy(units.data(), wide.data(), units.size() * 2);
  std::string text = narrow(units.data(), units.size());
  if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  if (data) {
    if (*dataSize < text.size()) {
      *dataSize = static_cast<DWORD>(text.size());
      return ERROR_MORE_DATA;
    }
    if (!text.empty()) std::memcpy(data, text.data(), text.size());
  }
  *dataSize = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  return RegOpenKeyExW(key, Wide(subKey).get(), options, access, result);
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  Wide cls(keyClass);
  return RegCreateKeyExW(key, Wide(subKey).get(), reserved, const_cast<LPWSTR>(cls.get()), options, access, security,
                         result, disposition);
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  return query_ansi(key, Wide(name).get(), type, data, dataSize);
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) {
  Wide n(name);
  if (!string_type(type) || !data || !dataSize) return RegSetValueExW(key, n.get(), reserved, type, data, dataSize);
  auto bytes = reinterpret_cast<LPCSTR>(data);
  int units = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(dataSize), nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(dataSize), wide.data(), units);
  return RegSetValueExW(key, n.get(), reserved, type, reinterpret_cast<const BYTE*>(wide.data()),
                        static_cast<DWORD>(wide.size() * 2));
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) { return RegDeleteValueW(key, Wide(name).get()); }

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) { return RegDeleteKeyW(key, Wide(subKey).get()); }

LONG RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM access, DWORD reserved) {
  return RegDeleteKeyExW(key, Wide(subKey).get(), access, reserved);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPSTR keyClass, LPDWORD classSize,
                   PFILETIME lastWrite) {
  WCHAR wide[256];
  DWORD n = 256;
  LONG rc = RegEnumKeyExW(key, index, wide, &n, nullptr, nullptr, nullptr, lastWrite);
  if (rc != ERROR_SUCCESS) return rc;
  if (keyClass && classSize && *classSize) keyClass[0] = 0;  // keys carry no class here
  if (classSize) *classSize = 0;
  return name_out(narrow(wide, n), name, nameSize);
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize) {
  std::vector<WCHAR> wide(16384);  // the longest value name
  DWORD n = static_cast<DWORD>(wide.size());
  LONG rc = RegEnumValueW(key, index, wide.data(), &n, nullptr, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  LONG nrc = name_out(narrow(wide.data(), n), name, nameSize);
  LONG drc = ERROR_SUCCESS;
  if (type || data || dataSize) drc = query_ansi(key, wide.data(), type, data, dataSize);
  return nrc != ERROR_SUCCESS ? nrc : drc;
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
                      LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                      LPDWORD maxValueLen, LPDWORD securityDescriptor, PFILETIME lastWrite) {
  LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, reserved, subKeys, maxSubKeyLen, maxClassLen, values,
                             maxValueNameLen, maxValueLen, securityDescriptor, lastWrite);
  if (rc != ERROR_SUCCESS) return rc;
  if (keyClass && classSize && *classSize) keyClass[0] = 0;
  if (classSize) *classSize = 0;
  return ERROR_SUCCESS;
}
