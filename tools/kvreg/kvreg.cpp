// kvreg: a look into the layer's registry store, in the manner of `reg`.
//   kvreg query KEY [/v NAME | /ve] [/s] [/reg:32 | /reg:64]
//   kvreg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/reg:32 | /reg:64]
//   kvreg delete KEY [/v NAME | /ve] [/f] [/reg:32 | /reg:64]
//   kvreg protect KEY open|readonly|sealed [/reg:32 | /reg:64]
//   kvreg where
// KEY starts with HKLM, HKCU or HKCR (or their long names). Texts are UTF-8;
// REG_MULTI_SZ data separates its strings with \0, REG_BINARY data is hex,
// numbers are decimal or 0x hexadecimal. The world is KV_WORLD_ROOT's.
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/windows.h"
#include "system/registry.h"

namespace {

std::string utf8(const std::u16string& s) { return win32::utf16_to_utf8(s); }
std::u16string wide(const std::string& s) { return win32::utf8_to_utf16(s); }

struct Root {
  const char* shortName;
  const char* longName;
  HKEY key;
};
const Root roots[] = {{"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                      {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                      {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};

struct Types {
  const char* name;
  DWORD type;
};
const Types types[] = {{"REG_NONE", REG_NONE},   {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
                       {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}, {"REG_DWORD_BIG_ENDIAN", 5},
                       {"REG_LINK", 6},          {"REG_MULTI_SZ", REG_MULTI_SZ}, {"REG_RESOURCE_LIST", 8},
                       {"REG_QWORD", REG_QWORD}};

std::string typeName(DWORD type) {
  for (const auto& t : types)
    if (t.type == type) return t.name;
  return "REG_" + std::to_string(type);
}

const char kUsage[] =
    "usage: kvreg query KEY [/v NAME | /ve] [/s] [/reg:32 | /reg:64]\n"
    "       kvreg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/reg:32 | /reg:64]\n"
    "       kvreg delete KEY [/v NAME | /ve] [/f] [/reg:32 | /reg:64]\n"
    "       kvreg protect KEY open|readonly|sealed [/reg:32 | /reg:64]\n"
    "       kvreg where\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// What went wrong in words, then the code: "the key K does not exist (Win32
// error 2)", "cannot write the value V of K: Access is denied. (Win32 error 5)".
int failed(const char* what, const std::string& key, LONG rc, const std::u16string* value = nullptr) {
  std::string subject = value ? "the value " + (value->empty() ? std::string("(Default)") : utf8(*value)) + " of "
                              : std::string();
  std::string line;
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) {
    line = value ? subject + key + " does not exist" : "the key " + key + " does not exist";
  } else {
    WCHAR text[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(rc), 0, text, 512, nullptr);
    std::u16string words(text, n);
    while (!words.empty() && (words.back() == u'\n' || words.back() == u'\r' || words.back() == u' '))
      words.pop_back();
    line = std::string(what) + " " + (value ? subject : std::string("the key ")) + key;
    if (!words.empty()) line += ": " + utf8(words);
  }
  std::fprintf(stderr, "kvreg: %s (Win32 error %ld)\n", line.c_str(), static_cast<long>(rc));
  return 1;
}

struct Args {
  std::string command;
  const Root* root = nullptr;
  std::u16string path;   // below the root
  std::string shown;     // the key as printed
  bool hasName = false;  // /v or /ve
  std::u16string name;
  bool recurse = false, force = false;
  DWORD type = REG_SZ;
  bool hasData = false;
  std::string data;
  REGSAM view = 0;
  std::string extra;
};

bool parseKey(const std::string& key, Args& a) {
  std::string head = key.substr(0, key.find('\\'));
  for (const auto& r : roots)
    if (strcasecmp(head.c_str(), r.shortName) == 0 || strcasecmp(head.c_str(), r.longName) == 0) a.root = &r;
  if (!a.root) return false;
  std::string rest = head.size() < key.size() ? key.substr(head.size() + 1) : "";
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  a.path = wide(rest);
  a.shown = std::string(a.root->longName) + (rest.empty() ? "" : "\\" + rest);
  return true;
}

bool parse(int argc, char** argv, Args& a) {
  if (argc < 2) return false;
  a.command = argv[1];
  if (a.command == "where") return argc == 2;
  if (argc < 3 || !parseKey(argv[2], a)) return false;
  for (int i = 3; i < argc; ++i) {
    std::string o = argv[i];
    auto next = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (strcasecmp(o.c_str(), "/v") == 0 && next(v)) {
      a.hasName = true;
      a.name = wide(v);
    } else if (strcasecmp(o.c_str(), "/ve") == 0) {
      a.hasName = true;
      a.name.clear();
    } else if (strcasecmp(o.c_str(), "/s") == 0) {
      a.recurse = true;
    } else if (strcasecmp(o.c_str(), "/f") == 0) {
      a.force = true;
    } else if (strcasecmp(o.c_str(), "/t") == 0 && next(v)) {
      bool known = false;
      for (const auto& t : types)
        if (strcasecmp(v.c_str(), t.name) == 0) a.type = t.type, known = true;
      if (!known) return false;
    } else if (strcasecmp(o.c_str(), "/d") == 0 && next(v)) {
      a.hasData = true;
      a.data = v;
    } else if (strcasecmp(o.c_str(), "/reg:32") == 0) {
      a.view = KEY_WOW64_32KEY;
    } else if (strcasecmp(o.c_str(), "/reg:64") == 0) {
      a.view = KEY_WOW64_64KEY;
    } else if (a.extra.empty() && o[0] != '/') {
      a.extra = o;
    } else {
      return false;
    }
  }
  return true;
}

std::string hex(const BYTE* p, DWORD n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (DWORD i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
  return s;
}

// The data as `reg query` shows it.
std::string show(DWORD type, const std::vector<BYTE>& d) {
  auto text = [&](std::size_t units) {
    std::u16string s(units, u'\0');
    if (units) std::memcpy(s.data(), d.data(), units * 2);
    return s;
  };
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::u16string s = text(d.size() / 2);
      return utf8(s.substr(0, s.find(u'\0')));
    }
    case REG_MULTI_SZ: {
      std::u16string s = text(d.size() / 2);
      while (!s.empty() && s.back() == u'\0') s.pop_back();
      std::string out;
      for (char16_t c : s) out += c ? utf8(std::u16string(1, c)) : "\\0";
      return out;
    }
    case REG_DWORD:
    case REG_QWORD:
      if (d.size() == (type == REG_DWORD ? 4u : 8u)) {
        unsigned long long v = 0;
        std::memcpy(&v, d.data(), d.size());
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%llx", v);
        return buf;
      }
      [[fallthrough]];
    default:
      return hex(d.data(), static_cast<DWORD>(d.size()));
  }
}

void printValue(const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
  std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : utf8(name).c_str(), typeName(type).c_str(),
              show(type, data).c_str());
}

LONG readValue(HKEY k, const std::u16string& name, DWORD& type, std::vector<BYTE>& data) {
  DWORD size = 0;
  LONG rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  data.resize(size);
  rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, data.data(), &size);
  data.resize(size);
  return rc;
}

LONG query(HKEY root, const std::u16string& path, const std::string& shown, REGSAM view, bool recurse) {
  HKEY k = nullptr;
  LONG rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &k);
  if (rc != ERROR_SUCCESS) return rc;
  std::printf("%s\n", shown.c_str());
  std::vector<WCHAR> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD n = static_cast<DWORD>(name.size());
    if (RegEnumValueW(k, i, name.data(), &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::u16string vn(name.data(), n);
    DWORD type = 0;
    std::vector<BYTE> data;
    if (readValue(k, vn, type, data) == ERROR_SUCCESS) printValue(vn, type, data);
  }
  std::printf("\n");
  std::vector<std::u16string> subs;
  for (DWORD i = 0;; ++i) {
    DWORD n = 256;
    if (RegEnumKeyExW(k, i, name.data(), &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subs.emplace_back(name.data(), n);
  }
  RegCloseKey(k);
  for (const auto& s : subs) {
    std::u16string sub = path.empty() ? s : path + u"\\" + s;
    if (recurse)
      query(root, sub, shown + "\\" + utf8(s), view, true);
    else
      std::printf("%s\\%s\n", shown.c_str(), utf8(s).c_str());
  }
  return ERROR_SUCCESS;
}

bool number(const std::string& s, unsigned long long max, unsigned long long& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  v = std::strtoull(s.c_str(), &end, 0);
  return errno == 0 && *end == 0 && v <= max && s[0] != '-';
}

// The bytes `reg add` would store for the type and text.
bool encode(DWORD type, const std::string& text, std::vector<BYTE>& out) {
  auto units = [&](const std::u16string& s) {
    out.resize(s.size() * 2);
    if (!s.empty()) std::memcpy(out.data(), s.data(), out.size());
  };
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      units(wide(text) + u'\0');
      return true;
    case REG_MULTI_SZ: {
      std::string joined;
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '0') {
          joined += '\0';
          ++i;
        } else {
          joined += text[i];
        }
      }
      std::u16string w = text.empty() ? u"" : wide(joined) + u'\0';
      units(w + u'\0');
      return true;
    }
    case REG_DWORD:
    case REG_QWORD: {
      unsigned long long v = 0;
      if (!number(text.empty() ? "0" : text, type == REG_DWORD ? 0xFFFFFFFFull : ~0ull, v)) return false;
      out.resize(type == REG_DWORD ? 4 : 8);
      std::memcpy(out.data(), &v, out.size());
      return true;
    }
    default: {
      if (text.size() % 2) return false;
      out.clear();
      for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned long long b = 0;
        if (!isxdigit(static_cast<unsigned char>(text[i])) || !isxdigit(static_cast<unsigned char>(text[i + 1])))
          return false;
        b = std::strtoull(text.substr(i, 2).c_str(), nullptr, 16);
        out.push_back(static_cast<BYTE>(b));
      }
      return true;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1 || (argc == 2 && (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 ||
                                  std::strcmp(argv[1], "/?") == 0))) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Args a;
  if (!parse(argc, argv, a)) return usage();

  if (a.command == "where") {
    std::printf("%s\n", win32::registry_path().c_str());
    return 0;
  }
  HKEY root = a.root->key;

  if (a.command == "query") {
    if (!a.hasName) {
      LONG rc = query(root, a.path, a.shown, a.view, a.recurse);
      return rc == ERROR_SUCCESS ? 0 : failed("cannot open", a.shown, rc);
    }
    HKEY k = nullptr;
    LONG rc = RegOpenKeyExW(root, a.path.c_str(), 0, KEY_READ | a.view, &k);
    if (rc != ERROR_SUCCESS) return failed("cannot open", a.shown, rc);
    DWORD type = 0;
    std::vector<BYTE> data;
    rc = readValue(k, a.name, type, data);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return failed("cannot read", a.shown, rc, &a.name);
    std::printf("%s\n", a.shown.c_str());
    printValue(a.name, type, data);
    return 0;
  }

  if (a.command == "add") {
    std::vector<BYTE> bytes;
    if (a.hasName && !encode(a.type, a.data, bytes)) {
      std::fprintf(stderr, "kvreg: data does not fit %s\n", typeName(a.type).c_str());
      return 2;
    }
    HKEY k = nullptr;
    LONG rc = RegCreateKeyExW(root, a.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | a.view, nullptr, &k, nullptr);
    if (rc != ERROR_SUCCESS) return failed("cannot create", a.shown, rc);
    if (a.hasName)
      rc = RegSetValueExW(k, a.name.c_str(), 0, a.type, bytes.empty() ? nullptr : bytes.data(),
                          static_cast<DWORD>(bytes.size()));
    RegCloseKey(k);
    return rc == ERROR_SUCCESS ? 0 : failed("cannot write", a.shown, rc, &a.name);
  }

  if (a.command == "delete") {
    if (a.hasName) {
      HKEY k = nullptr;
      LONG rc = RegOpenKeyExW(root, a.path.c_str(), 0, KEY_WRITE | a.view, &k);
      if (rc != ERROR_SUCCESS) return failed("cannot open", a.shown, rc);
      rc = RegDeleteValueW(k, a.name.c_str());
      RegCloseKey(k);
      return rc == ERROR_SUCCESS ? 0 : failed("cannot delete", a.shown, rc, &a.name);
    }
    if (a.path.empty()) return usage();
    if (a.force) {
      LONG rc = Windows::forceDeleteRegKey(root, a.path.c_str(), a.view);
      return rc == ERROR_SUCCESS ? 0 : failed("cannot delete", a.shown, rc);
    }
    bool notFound = false;
    if (Windows::Registry(root, a.view).deleteTree(a.path, &notFound)) return 0;
    return failed("cannot delete", a.shown, notFound ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
  }

  if (a.command == "protect") {
    int guard = a.extra == "open" ? win32::kRegistryOpen
                : a.extra == "readonly" ? win32::kRegistryReadOnly
                : a.extra == "sealed" ? win32::kRegistrySealed
                : -1;
    if (guard < 0) return usage();
    LONG rc = win32::registry_protect(root, a.path.c_str(), a.view, guard);
    return rc == ERROR_SUCCESS ? 0 : failed("cannot protect", a.shown, rc);
  }
  return usage();
}
