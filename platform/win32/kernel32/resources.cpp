#include "platform/win32/kernel32/resources.h"

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/kernel32/process.h"

namespace {

constexpr DWORD kLanguageNotFound = ERROR_RESOURCE_LANG_NOT_FOUND;
constexpr WORD kEnUs = 1033, kDeDe = 1031;

struct Resource {
  const char* module;  // file name, lower case
  WORD type;
  WORD name;
  WORD language;
  std::vector<BYTE> data;
};

void put_word(std::vector<BYTE>& out, WORD w) {
  out.push_back(static_cast<BYTE>(w));
  out.push_back(static_cast<BYTE>(w >> 8));
}

void put_dword(std::vector<BYTE>& out, DWORD d) {
  put_word(out, static_cast<WORD>(d));
  put_word(out, static_cast<WORD>(d >> 16));
}

// A string-table block: sixteen strings, each a length in characters and that
// many UTF-16 characters, no terminators. Missing strings have length 0.
std::vector<BYTE> string_block(std::initializer_list<std::pair<int, const char16_t*>> strings) {
  const char16_t* slots[16] = {};
  for (const auto& s : strings) slots[s.first] = s.second;
  std::vector<BYTE> out;
  for (const char16_t* s : slots) {
    const std::size_t n = s ? std::char_traits<char16_t>::length(s) : 0;
    put_word(out, static_cast<WORD>(n));
    for (std::size_t i = 0; i < n; ++i) put_word(out, s[i]);
  }
  return out;
}

// A version resource with its fixed information and no string or
// translation children.
std::vector<BYTE> version_block(DWORD version_ms, DWORD version_ls) {
  std::vector<BYTE> out;
  put_word(out, 0);   // length, set below
  put_word(out, 52);  // sizeof(VS_FIXEDFILEINFO)
  put_word(out, 0);   // binary
  for (char16_t c : std::u16string_view(u"VS_VERSION_INFO", 16)) put_word(out, c);
  while (out.size() % 4) out.push_back(0);
  const DWORD fixed[13] = {0xFEEF04BD, 0x00010000, version_ms, version_ls, version_ms, version_ls, 0x3F, 0,
                           0x00040004, 2, 0, 0, 0};
  for (DWORD d : fixed) put_dword(out, d);
  out[0] = static_cast<BYTE>(out.size());
  out[1] = static_cast<BYTE>(out.size() >> 8);
  return out;
}

const std::vector<Resource>& table() {
  static const std::vector<Resource> t = [] {
    std::vector<Resource> r;
    r.push_back({"shell32.dll", 16, 1, kEnUs, version_block(0x00060001, 0x1DB10000)});
    r.push_back({"shfolder.dll", 6, 1, kEnUs, string_block({{3, u"Application Data"}})});
    r.push_back({"shfolder.dll", 6, 1, kDeDe, string_block({{3, u"Anwendungsdaten"}})});
    return r;
  }();
  return t;
}

struct Hidden {
  std::mutex lock;
  std::set<std::string> modules;
};

Hidden& hidden() {
  static Hidden* h = new Hidden;  // outlives static destructors
  return *h;
}

std::string lower_file(const char* name) {
  std::string s;
  for (const char* p = name; *p; ++p) s += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  if (s.find('.') == std::string::npos) s += ".dll";
  return s;
}

// The module's file name in lower case, or empty for one without resources.
std::string resource_module(HMODULE module) {
  char16_t path[MAX_PATH];
  const DWORD saved = GetLastError();
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  SetLastError(saved);
  if (n == 0 || n >= MAX_PATH) return {};
  std::u16string_view p(path, n);
  const std::size_t slash = p.find_last_of(u'\\');
  std::string file;
  for (char16_t c : p.substr(slash == std::u16string_view::npos ? 0 : slash + 1))
    file += static_cast<char>(c < 0x80 ? std::tolower(static_cast<int>(c)) : '?');
  Hidden& h = hidden();
  std::lock_guard<std::mutex> g(h.lock);
  return h.modules.count(file) ? std::string() : file;
}

// 0 when the module holds the type (and, with `name`, the name), else the
// error to answer.
DWORD find_error(const std::string& file, WORD type, const WORD* name) {
  bool module = false, typed = false;
  for (const Resource& r : table()) {
    if (file != r.module) continue;
    module = true;
    if (r.type != type) continue;
    typed = true;
    if (!name || r.name == *name) return 0;
  }
  return !module ? ERROR_RESOURCE_DATA_NOT_FOUND : !typed ? ERROR_RESOURCE_TYPE_NOT_FOUND
                                                          : ERROR_RESOURCE_NAME_NOT_FOUND;
}

DWORD module_error(const std::string& file) {
  for (const Resource& r : table())
    if (file == r.module) return 0;
  return ERROR_RESOURCE_DATA_NOT_FOUND;
}

bool numeric(LPCWSTR id, WORD& out) {
  if (!id || !IS_INTRESOURCE(id)) return false;
  out = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(id));
  return true;
}

const Resource* as_resource(HRSRC h) {
  for (const Resource& r : table())
    if (reinterpret_cast<HRSRC>(const_cast<Resource*>(&r)) == h) return &r;
  return nullptr;
}

}  // namespace

namespace win32 {

void hide_resources_for_tests(const char* module, bool hidden_now) {
  Hidden& h = hidden();
  std::lock_guard<std::mutex> g(h.lock);
  if (hidden_now)
    h.modules.insert(lower_file(module));
  else
    h.modules.erase(lower_file(module));
}

}  // namespace win32

HRSRC FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage) {
  const std::string file = resource_module(hModule);
  WORD type = 0, name = 0;
  if (file.empty()) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  // Named types and names exist in no module of the layer.
  if (!numeric(lpType, type)) {
    SetLastError(module_error(file) ? module_error(file) : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  DWORD e = find_error(file, type, nullptr);
  if (!e) e = numeric(lpName, name) ? find_error(file, type, &name) : ERROR_RESOURCE_NAME_NOT_FOUND;
  if (e) {
    SetLastError(e);
    return nullptr;
  }
  for (const Resource& r : table())
    if (file == r.module && r.type == type && r.name == name && (wLanguage == 0 || r.language == wLanguage))
      return reinterpret_cast<HRSRC>(const_cast<Resource*>(&r));
  SetLastError(kLanguageNotFound);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC hResInfo) {
  const Resource* r = as_resource(hResInfo);
  if (!r) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return const_cast<BYTE*>(r->data.data());
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

DWORD SizeofResource(HMODULE, HRSRC hResInfo) {
  const Resource* r = as_resource(hResInfo);
  if (!r) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return static_cast<DWORD>(r->data.size());
}

BOOL EnumResourceNamesW(HMODULE hModule, LPCWSTR lpType, ENUMRESNAMEPROCW lpEnumFunc, LONG_PTR lParam) {
  const std::string file = resource_module(hModule);
  WORD type = 0;
  DWORD e = file.empty() ? ERROR_RESOURCE_DATA_NOT_FOUND : module_error(file);
  if (!e) e = numeric(lpType, type) ? find_error(file, type, nullptr) : ERROR_RESOURCE_TYPE_NOT_FOUND;
  if (e || !lpEnumFunc) {
    SetLastError(e ? e : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<WORD> names;
  for (const Resource& r : table())
    if (file == r.module && r.type == type && (names.empty() || names.back() != r.name)) names.push_back(r.name);
  for (WORD n : names)
    if (!lpEnumFunc(hModule, lpType, MAKEINTRESOURCEW(n), lParam)) {
      SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
      return FALSE;
    }
  return TRUE;
}

BOOL EnumResourceLanguagesW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, ENUMRESLANGPROCW lpEnumFunc,
                            LONG_PTR lParam) {
  const std::string file = resource_module(hModule);
  WORD type = 0, name = 0;
  DWORD e = file.empty() ? ERROR_RESOURCE_DATA_NOT_FOUND : module_error(file);
  if (!e) e = numeric(lpType, type) ? find_error(file, type, nullptr) : ERROR_RESOURCE_TYPE_NOT_FOUND;
  if (!e) e = numeric(lpName, name) ? find_error(file, type, &name) : ERROR_RESOURCE_NAME_NOT_FOUND;
  if (e || !lpEnumFunc) {
    SetLastError(e ? e : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (const Resource& r : table())
    if (file == r.module && r.type == type && r.name == name && !lpEnumFunc(hModule, lpType, lpName, r.language, lParam)) {
      SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
      return FALSE;
    }
  return TRUE;
}
