#include "platform/msi/engine.h"

#include <libgcab.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/msi/cabinet_check.h"
#include "platform/msi/registration.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/fileops.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/folders.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/advapi32/registry.h"

namespace fs = std::filesystem;

namespace {

const char16_t kProducts[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Products\\";
const char16_t kPatches[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Patches\\";
const char16_t kCache[] = u"C:\\Windows\\Installer";

std::recursive_mutex engineLock;
INSTALLUILEVEL uiLevel = INSTALLUILEVEL_DEFAULT;
std::u16string logPath;  // empty: no log
bool logAppend = false;
std::vector<msi_engine::InstallCall> calls;

std::u16string wide(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }
// UTF-8 both ways: file names may hold characters outside the BMP.
std::u16string widen(const std::string& s) { return win32::utf8_to_utf16(s); }
std::string narrow(const std::u16string& s) { return win32::utf16_to_utf8(s); }
std::u16string upper(std::u16string s) {
  for (char16_t& c : s) c = win32::upcase(c);
  return s;
}
std::string unixOf(const std::u16string& windowsPath) { return win32::to_unix_path(windowsPath.c_str()); }

UINT copyOut(const std::u16string& text, LPWSTR buf, DWORD* pcch) {
  if (!pcch) return buf ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD room = *pcch;
  *pcch = static_cast<DWORD>(text.size());
  if (!buf) return ERROR_SUCCESS;
  if (room <= text.size()) {
    if (room) {
      std::copy_n(text.begin(), room - 1, buf);
      buf[room - 1] = 0;
    }
    return ERROR_MORE_DATA;
  }
  std::copy(text.begin(), text.end(), buf);
  buf[text.size()] = 0;
  return ERROR_SUCCESS;
}

// ---- the log ---------------------------------------------------------------

// Each line reaches the file before the next step runs.
class Log {
 public:
  Log() {
    if (logPath.empty()) return;
    std::u16string full = win32::full_path_name(logPath);
    std::string path = unixOf(full.empty() ? logPath : full);
    if (!path.empty()) file_ = std::fopen(path.c_str(), logAppend ? "a" : "w");
  }
  ~Log() {
    if (file_) std::fclose(file_);
  }
  void line(const std::string& text) {
    if (!file_) return;
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
};

// ---- the registry store ----------------------------------------------------

class Key {
 public:
  Key(const std::u16string& path, bool create) {
    LONG r = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h_,
                                      nullptr)
                    : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h_);
    if (r != ERROR_SUCCESS) h_ = nullptr;
  }
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  explicit operator bool() const { return h_ != nullptr; }
  bool set(const char16_t* name, const std::u16string& value) {
    return RegSetValueExW(h_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * 2)) == ERROR_SUCCESS;
  }
  bool setList(const char16_t* name, const std::vector<std::u16string>& values) {
    std::u16string block;
    for (const auto& v : values) block += v + u'\0';
    block += u'\0';
    return RegSetValueExW(h_, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                          static_cast<DWORD>(block.size() * 2)) == ERROR_SUCCESS;
  }
  std::optional<std::u16string> get(const char16_t* name) const {
    DWORD type = 0, size = 0;
    if (!h_ || RegQueryValueExW(h_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::u16string data(size / 2 + 1, u'\0');
    if (RegQueryValueExW(h_, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
      return std::nullopt;
    data.resize(size / 2);
    if (type == REG_SZ) {
      while (!data.empty() && data.back() == 0) data.pop_back();
    }
    return data;
  }
  std::vector<std::u16string> getList(const char16_t* name) const {
    std::vector<std::u16string> out;
    auto block = get(name);
    if (!block) return out;
    std::u16string cur;
    for (char16_t c : *block) {
      if (c) {
        cur += c;
      } else if (!cur.empty()) {
        out.push_back(cur);
        cur.clear();
      }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
  }
  // The product's and patch's registration: one value, so that registering
  // writes (and syncs) the store only once.
  msi_engine::Registration registration() const {
    DWORD type = 0, size = 0;
    if (!h_ || RegQueryValueExW(h_, u"Properties", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
    std::string data(size, '\0');
    if (RegQueryValueExW(h_, u"Properties", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
      return {};
    return msi_engine::parse_registration(data.data(), std::min<std::size_t>(size, data.size()));
  }
  std::optional<std::u16string> attr(const char16_t* name) const { return registration().attr(name); }
  // The product's files and folders stand in the same value ("File=...",
  // "Folder=..."); `oldValue` is the separate list older installations wrote.
  std::vector<std::u16string> listed(const char16_t* name, const char16_t* oldValue) const {
    std::vector<std::u16string> out = registration().all(name);
    return out.empty() ? getList(oldValue) : out;
  }
  bool setRegistration(const msi_engine::Registration& r) {
    std::u16string block = msi_engine::registration_block(r);
    return RegSetValueExW(h_, u"Properties", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                          static_cast<DWORD>(block.size() * 2)) == ERROR_SUCCESS;
  }
  bool setAttrs(const std::vector<std::pair<const char16_t*, std::u16string>>& values) {
    msi_engine::Registration r;
    for (const auto& [name, value] : values) r.add(name, value);
    return setRegistration(r);
  }
  std::vector<std::u16string> subkeys() const {
    std::vector<std::u16string> out;
    for (DWORD i = 0; h_; ++i) {
      WCHAR name[256];
      DWORD n = 256;
      if (RegEnumKeyExW(h_, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      out.emplace_back(name, n);
    }
    return out;
  }

 private:
  HKEY h_ = nullptr;
};

std::u16string productKey(const std::u16string& code) { return kProducts + upper(code); }
std::u16string patchKey(const std::u16string& code) { return kPatches + upper(code); }

bool isGuid(const std::u16string& s) {
  if (s.size() != 38 || s[0] != u'{' || s[37] != u'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    char16_t c = s[i];
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? c != u'-' : !std::isxdigit(c < 0x80 ? static_cast<int>(c) : 0)) return false;
  }
  return true;
}

bool installed(const std::u16string& code) { return isGuid(code) && static_cast<bool>(Key(productKey(code), false)); }

std::vector<std::u16string> installedProducts() {
  Key all(std::u16string(kProducts, std::size(kProducts) - 2), false);
  return all.subkeys();
}

// ---- reading a package -----------------------------------------------------

struct Db {
  MSIHANDLE h = 0;
  ~Db() {
    if (h) MsiCloseHandle(h);
  }
};
struct Rec {
  MSIHANDLE h = 0;
  ~Rec() {
    if (h) MsiCloseHandle(h);
  }
};

std::u16string field(MSIHANDLE rec, UINT i) {
  WCHAR empty[1] = {0};
  DWORD n = 0;
  UINT r = MsiRecordGetStringW(rec, i, empty, &n);
  if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) return {};
  std::u16string s(n + 1, u'\0');
  DWORD room = n + 1;
  if (MsiRecordGetStringW(rec, i, s.data(), &room) != ERROR_SUCCESS) return {};
  s.resize(room);
  return s;
}

// All rows of a query as texts; an unknown table gives no rows.
std::vector<std::vector<std::u16string>> rows(MSIHANDLE db, const std::u16string& sql) {
  std::vector<std::vector<std::u16string>> out;
  Rec view;
  if (MsiDatabaseOpenViewW(db, sql.c_str(), &view.h) != ERROR_SUCCESS) return out;
  if (MsiViewExecute(view.h, 0) != ERROR_SUCCESS) return out;
  for (;;) {
    Rec rec;
    if (MsiViewFetch(view.h, &rec.h) != ERROR_SUCCESS) break;
    std::vector<std::u16string> row;
    UINT n = MsiRecordGetFieldCount(rec.h);
    for (UINT i = 1; i <= n && n != static_cast<UINT>(-1); ++i) row.push_back(field(rec.h, i));
    out.push_back(std::move(row));
  }
  MsiViewClose(view.h);
  return out;
}

std::u16string property(MSIHANDLE db, const std::u16string& name) {
  auto r = rows(db, u"SELECT `Value` FROM `Property` WHERE `Property`='" + name + u"'");
  return r.size() == 1 && !r[0].empty() ? r[0][0] : std::u16string();
}

// From the open database when there is one: opening the file again costs a
// second read of its whole structure.
std::u16string summaryText(const std::u16string& path, UINT pid, MSIHANDLE db = 0) {
  Rec si;
  if (MsiGetSummaryInformationW(db, db ? nullptr : path.c_str(), 0, &si.h) != ERROR_SUCCESS) return {};
  UINT type = 0;
  INT value = 0;
  WCHAR empty[1] = {0};
  DWORD n = 0;
  UINT r = MsiSummaryInfoGetPropertyW(si.h, pid, &type, &value, nullptr, empty, &n);
  if (r != ERROR_MORE_DATA && r != ERROR_SUCCESS) return {};
  std::u16string s(n + 1, u'\0');
  DWORD room = n + 1;
  if (MsiSummaryInfoGetPropertyW(si.h, pid, &type, &value, nullptr, s.data(), &room) != ERROR_SUCCESS) return {};
  s.resize(room);
  return s;
}

DWORD packVersion(const std::u16string& text) {
  DWORD parts[3] = {0, 0, 0};
  std::size_t p = 0;
  for (int i = 0; i < 3 && p <= text.size(); ++i) {
    std::size_t dot = text.find(u'.', p);
    std::u16string part = text.substr(p, dot == std::u16string::npos ? std::u16string::npos : dot - p);
    parts[i] = static_cast<DWORD>(std::strtoul(narrow(part).c_str(), nullptr, 10));
    if (dot == std::u16string::npos) break;
    p = dot + 1;
  }
  return (std::min<DWORD>(parts[0], 255) << 24) | (std::min<DWORD>(parts[1], 255) << 16) |
         std::min<DWORD>(parts[2], 65535);
}

// ---- the command line ------------------------------------------------------

using Properties = std::map<std::u16string, std::u16string>;  // upper-case names

// NAME=value and NAME="quoted ""value""" pairs; the last repeat wins.
bool parseCommandLine(const std::u16string& line, Properties& out) {
  std::size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= n) break;
    std::size_t eq = line.find(u'=', i);
    if (eq == std::u16string::npos) return false;
    std::u16string name = line.substr(i, eq - i);
    if (name.empty() || name.find(u' ') != std::u16string::npos) return false;
    i = eq + 1;
    std::u16string value;
    if (i < n && line[i] == u'"') {
      ++i;
      for (;;) {
        if (i >= n) return false;
        if (line[i] == u'"') {
          if (i + 1 < n && line[i + 1] == u'"') {
            value += u'"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += line[i++];
      }
    } else {
      while (i < n && line[i] != u' ' && line[i] != u'\t') value += line[i++];
    }
    out[upper(name)] = value;
  }
  return true;
}

std::vector<std::u16string> splitList(const std::u16string& s, char16_t sep) {
  std::vector<std::u16string> out;
  std::size_t p = 0;
  while (p <= s.size()) {
    std::size_t q = s.find(sep, p);
    std::u16string part = s.substr(p, q == std::u16string::npos ? std::u16string::npos : q - p);
    if (!part.empty()) out.push_back(part);
    if (q == std::u16string::npos) break;
    p = q + 1;
  }
  return out;
}

// ---- forced results --------------------------------------------------------

std::optional<UINT> forcedResult(const std::u16string& package, MSIHANDLE db) {
  std::u16string name = upper(package.substr(package.find_last_of(u"\\/") + 1));
  if (const char* env = std::getenv("KV_MSI_FORCED_RESULT")) {
    for (const auto& pair : splitList(widen(env), u';')) {
      std::size_t eq = pair.find(u'=');
      if (eq != std::u16string::npos && upper(pair.substr(0, eq)) == name)
        return static_cast<UINT>(std::strtoul(narrow(pair.substr(eq + 1)).c_str(), nullptr, 10));
    }
  }
  if (db) {
    std::u16string v = property(db, u"KvForcedResult");
    if (!v.empty()) return static_cast<UINT>(std::strtoul(narrow(v).c_str(), nullptr, 10));
  }
  return std::nullopt;
}

bool isFailure(UINT r) { return r != ERROR_SUCCESS && r != ERROR_SUCCESS_REBOOT_REQUIRED && r != ERROR_SUCCESS_REBOOT_INITIATED; }

// ---- folders and files -----------------------------------------------------

std::u16string withSlash(std::u16string s) {
  if (s.empty() || s.back() != u'\\') s += u'\\';
  return s;
}

const std::map<std::u16string, std::u16string>& standardFolders() {
  static const std::map<std::u16string, std::u16string> m = {
      {u"ProgramFilesFolder", u"C:\\Program Files\\"},
      {u"ProgramFiles64Folder", u"C:\\Program Files\\"},
      {u"CommonFilesFolder", u"C:\\Program Files\\Common Files\\"},
      {u"CommonFiles64Folder", u"C:\\Program Files\\Common Files\\"},
      {u"ProgramMenuFolder", u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\"},
      {u"StartMenuFolder", u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\"},
      {u"DesktopFolder", u"C:\\Users\\Public\\Desktop\\"},
      {u"WindowsFolder", u"C:\\Windows\\"},
      {u"SystemFolder", u"C:\\Windows\\System32\\"},
      {u"System64Folder", u"C:\\Windows\\System32\\"},
      {u"TempFolder", u"C:\\Windows\\Temp\\"},
      {u"AppDataFolder", u"C:\\ProgramData\\"},
      {u"CommonAppDataFolder", u"C:\\ProgramData\\"},
  };
  return m;
}

// The long target name of a DefaultDir or FileName text.
std::u16string longName(std::u16string s) {
  std::size_t colon = s.find(u':');
  if (colon != std::u16string::npos) s = s.substr(0, colon);
  std::size_t bar = s.find(u'|');
  if (bar != std::u16string::npos) s = s.substr(bar + 1);
  return s;
}

// A file or folder name Windows would take: no separators, wildcards or
// other reserved characters, and not "." or "..", so no name of the package
// leads out of its folder.
bool plainName(const std::u16string& name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name)
    if (c < 0x20 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) return false;
  return true;
}

class Folders {
 public:
  Folders(MSIHANDLE db, const Properties& props) : props_(props) {
    for (auto& r : rows(db, u"SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`"))
      if (r.size() == 3) table_[r[0]] = {r[1], r[2]};
  }
  std::u16string path(const std::u16string& id, int depth = 0) {
    auto done = resolved_.find(id);
    if (done != resolved_.end()) return done->second;
    std::u16string out;
    auto prop = props_.find(upper(id));
    auto known = standardFolders().find(id);
    auto row = table_.find(id);
    if (prop != props_.end() && !prop->second.empty()) {
      out = withSlash(prop->second);
    } else if (known != standardFolders().end()) {
      out = known->second;
    } else if (row == table_.end() || row->second.first.empty() || row->second.first == id || depth > 64) {
      out = u"C:\\";
    } else {
      out = path(row->second.first, depth + 1);
      std::u16string name = longName(row->second.second);
      if (out.empty() || (!name.empty() && name != u"." && !plainName(name)))
        out.clear();  // no folder: the name would lead elsewhere
      else if (!name.empty() && name != u".")
        out = withSlash(out + name);
    }
    return resolved_[id] = out;
  }

 private:
  const Properties& props_;
  std::map<std::u16string, std::pair<std::u16string, std::u16string>> table_;
  std::map<std::u16string, std::u16string> resolved_;
};

// A cabinet the cabinet library may read: its structure is checked first, as a
// damaged one can make the library fail unsafely. Takes `data` (g_malloc'd).
GInputStream* checkedCabinet(char* data, std::size_t size, const std::string& what, Log& log) {
  const msi_layer::CabinetCheck check = msi_layer::checkCabinetBytes(std::string_view(data, size));
  if (!check.ok) {
    log.line("Error 1335: the cabinet " + what + " is damaged: " + check.problem);
    g_free(data);
    return nullptr;
  }
  return g_memory_input_stream_new_from_data(data, static_cast<gssize>(size), g_free);
}

// The whole of a stream of the package, held for the cabinet reader.
GInputStream* streamOf(MSIHANDLE db, const std::u16string& name, Log& log) {
  Rec view;
  if (MsiDatabaseOpenViewW(db, u"SELECT `Data` FROM `_Streams` WHERE `Name`=?", &view.h) != ERROR_SUCCESS)
    return nullptr;
  Rec key;
  key.h = MsiCreateRecord(1);
  if (!key.h || MsiRecordSetStringW(key.h, 1, name.c_str()) != ERROR_SUCCESS) return nullptr;
  if (MsiViewExecute(view.h, key.h) != ERROR_SUCCESS) return nullptr;
  Rec rec;
  if (MsiViewFetch(view.h, &rec.h) != ERROR_SUCCESS) return nullptr;
  DWORD size = 0;
  if (MsiRecordReadStream(rec.h, 1, nullptr, &size) != ERROR_SUCCESS) return nullptr;
  char* data = static_cast<char*>(g_malloc(size ? size : 1));
  DWORD got = size;
  if (MsiRecordReadStream(rec.h, 1, data, &got) != ERROR_SUCCESS || got != size) {
    g_free(data);
    return nullptr;
  }
  MsiViewClose(view.h);
  return checkedCabinet(data, size, narrow(name), log);
}

GInputStream* fileStream(const std::string& path, Log& log) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return nullptr;
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<unsigned long long>(size) > 0x7fffffffULL) return nullptr;
  char* data = static_cast<char*>(g_malloc(size ? static_cast<std::size_t>(size) : 1));
  in.seekg(0);
  if (!in.read(data, size)) {
    g_free(data);
    return nullptr;
  }
  return checkedCabinet(data, static_cast<std::size_t>(size), path, log);
}

// Where one file of the package goes.
struct Target {
  std::u16string windowsPath;
  std::string folder;  // Unix
  std::string name;    // as on disk when it exists already (any case), else as the package says
  bool written = false;
};

// Writes the members of one cabinet straight to their targets. gcab creates
// each file itself, so the layer's listing of each folder is told of them,
// once per folder and cabinet.
struct CabinetWrite {
  std::map<std::string, Target*>* byKey;
  std::size_t rootLength;
  std::vector<std::u16string>* files;
  Log* log;
  std::map<std::string, std::pair<std::optional<win32::FolderChange>, std::vector<std::string>>> changes;
  Target* pending = nullptr;

  void settle() {
    if (pending) log->line("Installing file: " + narrow(pending->windowsPath));
    pending = nullptr;
  }
  void finish() {
    settle();
    for (auto& [folder, change] : changes) change.first->done(change.second);
    changes.clear();
  }
  static gboolean next(GCabFile* file, gpointer data) {
    auto* self = static_cast<CabinetWrite*>(data);
    self->settle();
    const char* name = gcab_file_get_name(file);
    auto it = name ? self->byKey->find(name) : self->byKey->end();
    if (it == self->byKey->end()) return FALSE;  // not selected
    Target& t = *it->second;
    std::string full = t.folder + "/" + t.name;
    gcab_file_set_extract_name(file, full.c_str() + self->rootLength);
    auto& change = self->changes[t.folder];
    if (!change.first) change.first.emplace(t.folder);
    change.second.push_back(t.name);
    if (!t.written) self->files->push_back(t.windowsPath);
    t.written = true;
    self->pending = &t;
    return TRUE;
  }
};

bool extractCabinet(GInputStream* in, const std::string& root, std::map<std::string, Target*>& byKey,
                    std::vector<std::u16string>& files, Log& log) {
  if (!in) return false;
  GError* error = nullptr;
  GCabCabinet* cab = gcab_cabinet_new();
  bool ok = gcab_cabinet_load(cab, in, nullptr, &error);
  if (ok) {
    CabinetWrite w{&byKey, root == "/" ? 1 : root.size() + 1, &files, &log, {}, nullptr};
    GFile* out = g_file_new_for_path(root.c_str());
    ok = gcab_cabinet_extract(cab, out, &CabinetWrite::next, nullptr, &w, nullptr, &error);
    g_object_unref(out);
    w.finish();
  }
  g_object_unref(cab);
  g_object_unref(in);
  if (error) {
    log.line(std::string("Error 1335: ") + error->message);
    g_error_free(error);
  }
  return ok;
}

struct Product {
  std::u16string code, packageCode, version, language, name, upgradeCode, edition;
  Properties all;  // the package's Property table, then the command line's (upper-case names)
  std::u16string get(const char16_t* name) const {
    auto it = all.find(upper(name));
    return it == all.end() ? std::u16string() : it->second;
  }
};

Product readProduct(MSIHANDLE db, const std::u16string& path, const Properties& commandLine) {
  Product p;
  for (auto& r : rows(db, u"SELECT `Property`, `Value` FROM `Property`"))
    if (r.size() == 2) p.all[upper(r[0])] = r[1];
  for (auto& [name, value] : commandLine) p.all[name] = value;
  auto own = [&](const char16_t* name) {  // as the package says it
    auto r = rows(db, u"SELECT `Value` FROM `Property` WHERE `Property`='" + std::u16string(name) + u"'");
    return r.size() == 1 && !r[0].empty() ? r[0][0] : std::u16string();
  };
  p.code = upper(own(u"ProductCode"));
  p.version = own(u"ProductVersion");
  p.language = own(u"ProductLanguage");
  p.name = own(u"ProductName");
  p.upgradeCode = upper(own(u"UpgradeCode"));
  p.edition = own(u"MsigenProductEdition");
  p.packageCode = upper(summaryText(path, PID_REVNUMBER, db));
  return p;
}

std::u16string cacheName(const std::u16string& code, const char16_t* suffix) {
  std::u16string name;
  for (char16_t c : code)
    if (std::isxdigit(c < 0x80 ? static_cast<int>(c) : 0)) name += c;
  return std::u16string(kCache) + u"\\" + name + suffix;
}

bool copyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(fs::path(to).parent_path(), ec);
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
}

// Makes the folder and those above it that are missing, through the layer so
// that its listings stay current; the ones made are added to `created`,
// deepest first. The folder's Unix path, empty on failure.
std::string makeFolder(const std::u16string& folder, std::vector<std::u16string>& created, bool& made) {
  std::vector<std::u16string> chain;
  std::u16string f = folder;
  while (f.size() > 3) {
    DWORD attributes = GetFileAttributesW(f.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
      break;
    }
    chain.push_back(f);
    f = f.substr(0, f.find_last_of(u'\\', f.size() - 2) + 1);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if (!CreateDirectoryW(it->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
  created.insert(created.end(), chain.begin(), chain.end());
  made = !chain.empty();
  std::string path = unixOf(folder);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string commonFolder(const std::string& a, const std::string& b) {
  std::size_t n = 0, lastSlash = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) {
    if (a[n] == '/') lastSlash = n;
    ++n;
  }
  if ((n == a.size() && (n == b.size() || b[n] == '/')) || (n == b.size() && a[n] == '/')) return a.substr(0, n);
  return lastSlash == 0 ? std::string("/") : a.substr(0, lastSlash);
}

// Writes the selected components' files to their folders, straight out of
// the package's cabinets; false on any failure.
bool installFiles(MSIHANDLE db, const std::u16string& packagePath, const Properties& props, Folders& folders,
                  Log& log, std::vector<std::u16string>& files, std::vector<std::u16string>& created) {
  std::set<std::u16string> components;
  auto addlocal = props.find(u"ADDLOCAL");
  bool all = addlocal == props.end() || upper(addlocal->second) == u"ALL";
  std::set<std::u16string> features;
  if (!all)
    for (auto& f : splitList(addlocal->second, u',')) features.insert(f);
  for (auto& r : rows(db, u"SELECT `Feature_`, `Component_` FROM `FeatureComponents`"))
    if (r.size() == 2 && (all || features.count(r[0]))) components.insert(r[1]);
  std::map<std::u16string, std::u16string> componentFolder;
  for (auto& r : rows(db, u"SELECT `Component`, `Directory_` FROM `Component`"))
    if (r.size() == 2) componentFolder[r[0]] = r[1];

  // Every target is found before anything is written: each folder is then
  // listed once, and a name already there in another case is the one written.
  std::map<std::u16string, std::string> folderPaths;
  std::set<std::u16string> newFolders;  // made here, so empty: nothing to look up in them
  std::map<std::u16string, std::string> claimed;  // upper-case Windows path -> name on disk
  std::vector<std::pair<std::string, Target>> targets;  // by File key
  for (auto& r : rows(db, u"SELECT `File`, `Component_`, `FileName` FROM `File`")) {
    if (r.size() != 3 || !components.count(r[1])) continue;
    std::u16string folder = folders.path(componentFolder[r[1]]);
    std::u16string name = longName(r[2]);
    if (folder.empty()) {
      log.line("Error 1324: the folder of " + narrow(r[1]) + " contains an invalid name.");
      return false;
    }
    if (!plainName(name)) {
      log.line("Error 1325: " + narrow(name) + " is not a valid file name.");
      return false;
    }
    auto known = folderPaths.find(folder);
    if (known == folderPaths.end()) {
      bool made = false;
      known = folderPaths.emplace(folder, makeFolder(folder, created, made)).first;
      if (made) newFolders.insert(folder);
    }
    if (known->second.empty()) {
      log.line("Error 1303: cannot create the folder " + narrow(folder));
      return false;
    }
    Target t{folder + name, known->second, {}};
    auto [at, fresh] = claimed.try_emplace(upper(t.windowsPath));
    if (fresh) {
      win32::MappedPath m;
      if (!newFolders.count(folder) && win32::map_path(t.windowsPath.c_str(), m) &&
          m.state != win32::PathState::ParentMissing)
        at->second = win32::last_name(m.unix_path);
      else
        at->second = narrow(name);
    }
    t.name = at->second;
    targets.emplace_back(narrow(r[0]), std::move(t));
  }
  std::map<std::string, Target*> byKey;
  std::string root;
  for (auto& [key, t] : targets) {
    byKey[key] = &t;
    root = root.empty() ? t.folder : commonFolder(root, t.folder);
  }
  if (targets.empty()) return true;

  std::string packageFolder = fs::path(unixOf(packagePath)).parent_path().string();
  for (auto& m : rows(db, u"SELECT `DiskId`, `Cabinet` FROM `Media`")) {
    if (m.size() != 2 || m[1].empty()) continue;
    GInputStream* in =
        m[1][0] == u'#' ? streamOf(db, m[1].substr(1), log) : fileStream(packageFolder + "/" + narrow(m[1]), log);
    if (!extractCabinet(in, root, byKey, files, log)) {
      log.line("Error 1334: cannot read the cabinet " + narrow(m[1]));
      return false;
    }
  }
  // Files in no cabinet lie uncompressed beside the package.
  for (auto& [key, t] : targets) {
    if (t.written) continue;
    std::string source = packageFolder + "/" + narrow(t.windowsPath.substr(t.windowsPath.find_last_of(u'\\') + 1));
    files.push_back(t.windowsPath);
    t.written = true;
    win32::FolderChange change(t.folder);
    std::error_code ec;
    if (!fs::copy_file(source, t.folder + "/" + t.name, fs::copy_options::overwrite_existing, ec)) {
      change.done(std::string());
      log.line("Error 1308: source file not found: " + key);
      return false;
    }
    change.done(t.name);
    log.line("Installing file: " + narrow(t.windowsPath));
  }
  return true;
}

void removeFiles(const std::vector<std::u16string>& files, const std::vector<std::u16string>& folders, Log& log) {
  std::error_code ec;
  for (const auto& f : files) {
    fs::remove(unixOf(f), ec);
    log.line("Removing file: " + narrow(f));
  }
  std::vector<std::u16string> sorted = folders;
  std::sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.size() > b.size(); });
  for (const auto& d : sorted) fs::remove(unixOf(d), ec);  // only when empty
}

void unregister(const std::u16string& code, Log& log) {
  std::vector<std::u16string> files, folders;
  std::u16string local;
  {
    Key key(productKey(code), false);
    files = key.listed(u"File", u"Files");
    folders = key.listed(u"Folder", u"Folders");
    local = key.attr(u"LocalPackage").value_or(u"");
    for (const auto& patch : key.getList(u"Patches")) {
      Key pk(patchKey(patch), false);
      std::error_code ec;
      if (auto lp = pk.attr(u"LocalPackage")) fs::remove(unixOf(*lp), ec);
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, patchKey(patch).c_str());
    }
  }
  removeFiles(files, folders, log);
  std::error_code ec;
  if (!local.empty()) fs::remove(unixOf(local), ec);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, productKey(code).c_str());
}

// What the state and path queries answer: every feature of the package with
// its state, and each installed component with its key path (the key file,
// the registry value as "NN:\key\name", or the component's folder).
void describeTree(MSIHANDLE db, const Properties& props, Folders& folders, msi_engine::Registration& r) {
  auto addlocal = props.find(u"ADDLOCAL");
  bool all = addlocal == props.end() || upper(addlocal->second) == u"ALL";
  std::set<std::u16string> chosen;
  if (!all)
    for (auto& f : splitList(addlocal->second, u',')) chosen.insert(f);
  std::set<std::u16string> selected;
  for (auto& f : rows(db, u"SELECT `Feature` FROM `Feature`")) {
    if (f.size() != 1 || f[0].empty()) continue;
    bool local = all || chosen.count(f[0]);
    if (local) selected.insert(f[0]);
    r.add(u"Feature", msi_engine::feature_entry({local ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT, f[0]}));
  }
  std::set<std::u16string> components;
  for (auto& fc : rows(db, u"SELECT `Feature_`, `Component_` FROM `FeatureComponents`"))
    if (fc.size() == 2 && selected.count(fc[0])) components.insert(fc[1]);
  std::map<std::u16string, std::u16string> fileNames;
  for (auto& f : rows(db, u"SELECT `File`, `FileName` FROM `File`"))
    if (f.size() == 2) fileNames[f[0]] = longName(f[1]);
  std::map<std::u16string, std::u16string> registry;
  for (auto& g : rows(db, u"SELECT `Registry`, `Root`, `Key`, `Name` FROM `Registry`")) {
    if (g.size() != 4) continue;
    int root = static_cast<int>(std::strtol(narrow(g[1]).c_str(), nullptr, 10));
    if (root < 0 || root > 3) root = 2;  // -1: the machine's for a per-machine install
    registry[g[0]] = u"0" + std::u16string(1, static_cast<char16_t>(u'0' + root)) + u":\\" + g[2] + u"\\" + g[3];
  }
  for (auto& c : rows(db, u"SELECT `Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath` FROM `Component`")) {
    if (c.size() != 5 || !components.count(c[0]) || c[1].empty()) continue;
    long attributes = std::strtol(narrow(c[3]).c_str(), nullptr, 10);
    std::u16string folder = folders.path(c[2]), path;
    if (c[4].empty()) {
      path = folder;
    } else if (attributes & 4) {
      auto it = registry.find(c[4]);
      if (it != registry.end()) path = it->second;
    } else if (!(attributes & 0x20)) {
      auto it = fileNames.find(c[4]);
      if (it != fileNames.end() && !folder.empty()) path = folder + it->second;
    }
    r.add(u"Component", msi_engine::component_entry({INSTALLSTATE_LOCAL, upper(c[1]), path}));
  }
}

std::u16string today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return widen(text);
}

bool registerProduct(const Product& p, const std::u16string& packagePath, const std::vector<std::u16string>& files,
                     const std::vector<std::u16string>& folders, const std::u16string& installLocation,
                     const msi_engine::Registration& tree) {
  // Named by the product too: two products whose packages share a package
  // code must not share (and overwrite) one cached copy.
  std::u16string local = cacheName(p.code + (isGuid(p.packageCode) ? p.packageCode : u""), u".msi");
  if (!copyFile(unixOf(packagePath), unixOf(local))) return false;
  Key key(productKey(p.code), true);
  if (!key) return false;
  std::vector<std::u16string> oldFiles = key.listed(u"File", u"Files"), oldFolders = key.listed(u"Folder", u"Folders");
  std::u16string oldLocal = key.attr(u"LocalPackage").value_or(u"");
  std::set<std::u16string> keepFiles(files.begin(), files.end());
  for (auto& f : oldFiles)
    if (!keepFiles.count(f)) {
      std::error_code ec;
      fs::remove(unixOf(f), ec);
    }
  std::set<std::u16string> allFolders(folders.begin(), folders.end());
  allFolders.insert(oldFolders.begin(), oldFolders.end());
  if (!oldLocal.empty() && upper(oldLocal) != upper(local)) {
    std::error_code ec;
    fs::remove(unixOf(oldLocal), ec);
  }
  std::u16string fullPackage = win32::full_path_name(packagePath);
  if (fullPackage.empty()) fullPackage = packagePath;
  std::u16string allUsers = p.get(u"ALLUSERS");
  msi_engine::Registration r;
  for (auto& [name, value] : std::vector<std::pair<const char16_t*, std::u16string>>{
           {u"PackageCode", p.packageCode},
           {u"VersionString", p.version},
           {u"Version", widen(std::to_string(packVersion(p.version)))},
           {u"Language", p.language},
           {u"ProductName", p.name},
           {u"UpgradeCode", p.upgradeCode},
           {u"Edition", p.edition},
           {u"LocalPackage", local},
           {u"InstallLocation", installLocation},
           {u"Publisher", p.get(u"Manufacturer")},
           {u"InstallDate", today()},
           {u"InstallSource", fullPackage.substr(0, fullPackage.find_last_of(u"\\/") + 1)},
           {u"HelpLink", p.get(u"ARPHELPLINK")},
           {u"HelpTelephone", p.get(u"ARPHELPTELEPHONE")},
           {u"URLInfoAbout", p.get(u"ARPURLINFOABOUT")},
           {u"URLUpdateInfo", p.get(u"ARPURLUPDATEINFO")},
           {u"ProductID", p.get(u"ProductID")},
           {u"RegCompany", p.get(u"COMPANYNAME")},
           {u"RegOwner", p.get(u"USERNAME")},
           {u"AssignmentType", allUsers.empty() || allUsers == u"0" ? u"0" : u"1"}})
    r.add(name, value);
  for (auto& f : files) r.add(u"File", f);
  for (auto& f : allFolders) r.add(u"Folder", f);
  r.entries.insert(r.entries.end(), tree.entries.begin(), tree.entries.end());
  return key.setRegistration(r);
}

void recordCall(const std::u16string& package, const std::u16string& line, bool patch, UINT result) {
  calls.push_back({package, line, patch, result});
}

UINT install(const std::u16string& packagePath, const std::u16string& commandLine) {
  Log log;
  log.line("=== Verbose logging started ===");
  log.line("******* Product: " + narrow(packagePath));
  log.line("******* Command line: " + narrow(commandLine));
  auto finish = [&](UINT r) {
    log.line("MainEngineThread is returning " + std::to_string(r));
    log.line("=== Verbose logging stopped ===");
    recordCall(packagePath, commandLine, false, r);
    return r;
  };
  Properties props;
  if (!parseCommandLine(commandLine, props)) return finish(ERROR_INVALID_COMMAND_LINE);
  for (auto& [k, v] : props) log.line("Property(S): " + narrow(k) + " = " + narrow(v));
  Db db;
  if (MsiOpenDatabaseW(packagePath.c_str(), MSIDBOPEN_READONLY, &db.h) != ERROR_SUCCESS)
    return finish(ERROR_INSTALL_PACKAGE_OPEN_FAILED);
  Product p = readProduct(db.h, packagePath, props);
  if (!isGuid(p.code)) return finish(ERROR_INSTALL_PACKAGE_INVALID);
  std::optional<UINT> forced = forcedResult(packagePath, db.h);
  if (forced && isFailure(*forced)) {
    log.line("Product: " + narrow(p.name) + " -- Installation failed.");
    return finish(*forced);
  }
  UINT success = forced.value_or(ERROR_SUCCESS);
  bool isInstalled = installed(p.code);
  auto remove = props.find(u"REMOVE");
  if (remove != props.end() && !remove->second.empty()) {
    if (!isInstalled) return finish(ERROR_UNKNOWN_PRODUCT);
    unregister(p.code, log);
    log.line("Product: " + narrow(p.name) + " -- Removal completed successfully.");
    return finish(success);
  }
  if (isInstalled && props.find(u"REINSTALL") == props.end()) {
    log.line("Product: " + narrow(p.name) + " -- Configuration completed successfully.");
    return finish(success);
  }
  std::vector<std::u16string> files, folders;
  Folders names(db.h, props);
  if (!installFiles(db.h, packagePath, props, names, log, files, folders)) {
    removeFiles(files, folders, log);
    log.line("Product: " + narrow(p.name) + " -- Installation failed.");
    return finish(ERROR_INSTALL_FAILURE);
  }
  msi_engine::Registration tree;
  describeTree(db.h, props, names, tree);
  if (!registerProduct(p, packagePath, files, folders, names.path(u"INSTALLDIR"), tree)) {
    removeFiles(files, folders, log);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, productKey(p.code).c_str());
    return finish(ERROR_INSTALL_FAILURE);
  }
  log.line("Product: " + narrow(p.name) + " -- Installation completed successfully.");
  return finish(success);
}

UINT applyPatch(const std::u16string& patchPath, const std::u16string& commandLine) {
  Log log;
  log.line("=== Verbose logging started ===");
  log.line("******* Patch: " + narrow(patchPath));
  log.line("******* Command line: " + narrow(commandLine));
  auto finish = [&](UINT r) {
    log.line("MainEngineThread is returning " + std::to_string(r));
    recordCall(patchPath, commandLine, true, r);
    return r;
  };
  std::u16string patchCode = upper(summaryText(patchPath, PID_REVNUMBER));
  std::u16string targets = upper(summaryText(patchPath, PID_TEMPLATE));
  // The code names the patch's registry key: nothing but a GUID may.
  if (!isGuid(patchCode)) return finish(ERROR_PATCH_PACKAGE_INVALID);
  Db db;
  MsiOpenDatabaseW(patchPath.c_str(), MSIDBOPEN_READONLY, &db.h);
  std::u16string target;
  for (const auto& wanted : splitList(targets, u';')) {
    if (installed(wanted)) {
      target = wanted;
      break;
    }
    for (const auto& code : installedProducts())
      if (Key(productKey(code), false).attr(u"UpgradeCode").value_or(u"") == wanted) target = code;
    if (!target.empty()) break;
  }
  if (target.empty()) return finish(ERROR_PATCH_TARGET_NOT_FOUND);
  std::optional<UINT> forced = forcedResult(patchPath, db.h);
  if (forced && isFailure(*forced)) return finish(*forced);
  std::u16string local = cacheName(patchCode, u".msp");
  if (!copyFile(unixOf(patchPath), unixOf(local))) return finish(ERROR_INSTALL_FAILURE);
  Key pk(patchKey(patchCode), true);
  Key product(productKey(target), true);
  std::vector<std::u16string> patches = product.getList(u"Patches");
  if (std::find(patches.begin(), patches.end(), patchCode) == patches.end()) patches.push_back(patchCode);
  if (!pk ||
      !pk.setAttrs({{u"LocalPackage", local},
                    {u"ProductCode", target},
                    {u"Transforms", summaryText(patchPath, PID_LASTAUTHOR, db.h)}}) ||
      !product.setList(u"Patches", patches))
    return finish(ERROR_INSTALL_FAILURE);
  log.line("Patch " + narrow(patchCode) + " applied to " + narrow(target));
  return finish(forced.value_or(ERROR_SUCCESS));
}

}  // namespace

INSTALLUILEVEL MsiSetInternalUI(INSTALLUILEVEL dwUILevel, HWND*) {
  std::lock_guard<std::recursive_mutex> g(engineLock);
  INSTALLUILEVEL previous = uiLevel;
  if (dwUILevel != INSTALLUILEVEL_NOCHANGE) uiLevel = dwUILevel;
  return previous;
}

UINT MsiEnableLogW(DWORD, LPCWSTR szLogFile, DWORD dwLogAttributes) {
  std::lock_guard<std::recursive_mutex> g(engineLock);
  logPath = wide(szLogFile);
  logAppend = (dwLogAttributes & INSTALLLOGATTRIBUTES_APPEND) != 0;
  return ERROR_SUCCESS;
}

UINT MsiInstallProductW(LPCWSTR szPackagePath, LPCWSTR szCommandLine) {
  if (!szPackagePath || !*szPackagePath) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  return install(wide(szPackagePath), wide(szCommandLine));
}

UINT MsiApplyPatchW(LPCWSTR szPatchPackage, LPCWSTR, INSTALLTYPE, LPCWSTR szCommandLine) {
  if (!szPatchPackage || !*szPatchPackage) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  return applyPatch(wide(szPatchPackage), wide(szCommandLine));
}

UINT MsiGetPatchInfoW(LPCWSTR szPatch, LPCWSTR szAttribute, LPWSTR lpValueBuf, DWORD* pcchValueBuf) {
  std::u16string code = wide(szPatch);
  if (!isGuid(code) || !szAttribute) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  Key key(patchKey(code), false);
  if (!key) return ERROR_UNKNOWN_PRODUCT;
  auto value = key.attr(szAttribute);
  if (!value) return ERROR_UNKNOWN_PROPERTY;
  return copyOut(*value, lpValueBuf, pcchValueBuf);
}

UINT MsiEnumRelatedProductsW(LPCWSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex, LPWSTR lpProductBuf) {
  std::u16string upgrade = upper(wide(lpUpgradeCode));
  if (!isGuid(upgrade) || dwReserved || !lpProductBuf) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  DWORD index = 0;
  for (const auto& code : installedProducts()) {
    if (Key(productKey(code), false).attr(u"UpgradeCode").value_or(u"") != upgrade) continue;
    if (index++ == iProductIndex) {
      std::copy(code.begin(), code.end(), lpProductBuf);
      lpProductBuf[code.size()] = 0;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_NO_MORE_ITEMS;
}

INSTALLSTATE MsiQueryProductStateW(LPCWSTR szProduct) {
  std::u16string code = wide(szProduct);
  if (!isGuid(code)) return INSTALLSTATE_INVALIDARG;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  return installed(code) ? INSTALLSTATE_DEFAULT : INSTALLSTATE_UNKNOWN;
}

UINT MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute, LPWSTR lpValueBuf, DWORD* pcchValueBuf) {
  std::u16string code = wide(szProduct);
  if (!isGuid(code) || !szAttribute || (lpValueBuf && !pcchValueBuf)) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  Key key(productKey(code), false);
  if (!key) return ERROR_UNKNOWN_PRODUCT;
  static const char16_t* known[] = {
      u"PackageCode",    u"Version",       u"VersionString", u"Language",     u"LocalPackage",
      u"ProductName",    u"InstallLocation", u"HelpLink",    u"HelpTelephone", u"InstallDate",
      u"InstallSource",  u"Publisher",     u"URLInfoAbout",  u"URLUpdateInfo", u"ProductID",
      u"RegCompany",     u"RegOwner",      u"AssignmentType"};
  std::u16string attribute = wide(szAttribute);
  msi_engine::Registration r = key.registration();
  std::u16string value;
  if (attribute == u"InstalledProductName") {
    value = r.attr(u"ProductName").value_or(u"");
  } else if (attribute == u"VersionMajor" || attribute == u"VersionMinor") {
    // From the packed number, so that older registrations answer too.
    DWORD packed = static_cast<DWORD>(std::strtoul(narrow(r.attr(u"Version").value_or(u"0")).c_str(), nullptr, 10));
    value = widen(std::to_string(attribute == u"VersionMajor" ? packed >> 24 : (packed >> 16) & 0xFF));
  } else if (std::find(std::begin(known), std::end(known), attribute) != std::end(known)) {
    value = r.attr(attribute).value_or(u"");
  } else {
    return ERROR_UNKNOWN_PROPERTY;
  }
  return copyOut(value, lpValueBuf, pcchValueBuf);
}

UINT MsiEnumProductsW(DWORD iProductIndex, LPWSTR lpProductBuf) {
  if (!lpProductBuf) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  DWORD index = 0;
  for (const auto& code : installedProducts()) {
    if (!isGuid(code)) continue;  // no key of ours
    if (index++ == iProductIndex) {
      std::copy(code.begin(), code.end(), lpProductBuf);
      lpProductBuf[code.size()] = 0;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_NO_MORE_ITEMS;
}

UINT MsiEnumPatchesW(LPCWSTR szProduct, DWORD iPatchIndex, LPWSTR lpPatchBuf, LPWSTR lpTransformsBuf,
                     DWORD* pcchTransformsBuf) {
  std::u16string code = wide(szProduct);
  if (!isGuid(code) || !lpPatchBuf || !lpTransformsBuf || !pcchTransformsBuf) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  Key key(productKey(code), false);
  if (!key) return ERROR_UNKNOWN_PRODUCT;
  std::vector<std::u16string> patches;
  for (const auto& patch : key.getList(u"Patches"))
    if (isGuid(patch)) patches.push_back(patch);
  if (iPatchIndex >= patches.size()) return ERROR_NO_MORE_ITEMS;
  const std::u16string& patch = patches[iPatchIndex];
  std::copy(patch.begin(), patch.end(), lpPatchBuf);
  lpPatchBuf[patch.size()] = 0;
  return copyOut(Key(patchKey(patch), false).attr(u"Transforms").value_or(u""), lpTransformsBuf, pcchTransformsBuf);
}

namespace {

std::u16string xmlText(const std::u16string& s) {
  std::u16string out;
  for (char16_t c : s) {
    if (c == u'&')
      out += u"&amp;";
    else if (c == u'<')
      out += u"&lt;";
    else if (c == u'>')
      out += u"&gt;";
    else if (c == u'"')
      out += u"&quot;";
    else
      out += c;
  }
  return out;
}

}  // namespace

UINT MsiExtractPatchXMLDataW(LPCWSTR szPatchPath, DWORD dwReserved, LPWSTR szXMLData, DWORD* pcchXMLData) {
  if (!szPatchPath || !*szPatchPath || dwReserved || (szXMLData && !pcchXMLData)) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  Db db;
  if (MsiOpenDatabaseW(szPatchPath, MSIDBOPEN_READONLY, &db.h) != ERROR_SUCCESS) return ERROR_PATCH_PACKAGE_INVALID;
  std::u16string path = wide(szPatchPath);
  std::u16string patchCode = upper(summaryText(path, PID_REVNUMBER, db.h));
  if (!isGuid(patchCode)) return ERROR_PATCH_PACKAGE_INVALID;
  std::u16string version = property(db.h, u"ProductVersion");
  std::u16string xml = u"<?xml version=\"1.0\" encoding=\"utf-16\"?>"
                       u"<MsiPatch xmlns=\"http://www.microsoft.com/msi/patch_applicability.xsd\" "
                       u"SchemaVersion=\"1.0.0.0\" PatchGUID=\"" +
                       patchCode + u"\">";
  for (const auto& target : splitList(upper(summaryText(path, PID_TEMPLATE, db.h)), u';')) {
    xml += u"<TargetProduct><TargetProductCode Validate=\"true\">" + xmlText(target) + u"</TargetProductCode>";
    if (!version.empty()) xml += u"<UpdatedVersion>" + xmlText(version) + u"</UpdatedVersion>";
    xml += u"</TargetProduct>";
  }
  xml += u"</MsiPatch>";
  return copyOut(xml, szXMLData, pcchXMLData);
}

INSTALLSTATE MsiQueryFeatureStateW(LPCWSTR szProduct, LPCWSTR szFeature) {
  std::u16string code = wide(szProduct), feature = wide(szFeature);
  if (!isGuid(code) || feature.empty()) return INSTALLSTATE_INVALIDARG;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  Key key(productKey(code), false);
  if (!key) return INSTALLSTATE_UNKNOWN;
  for (const auto& entry : key.registration().all(u"Feature"))
    if (auto f = msi_engine::parse_feature(entry); f && f->name == feature) return static_cast<INSTALLSTATE>(f->state);
  return INSTALLSTATE_UNKNOWN;
}

INSTALLSTATE MsiGetComponentPathW(LPCWSTR szProduct, LPCWSTR szComponent, LPWSTR lpPathBuf, DWORD* pcchBuf) {
  std::u16string code = wide(szProduct), component = upper(wide(szComponent));
  if (!isGuid(code) || !isGuid(component) || (lpPathBuf && !pcchBuf)) return INSTALLSTATE_INVALIDARG;
  std::lock_guard<std::recursive_mutex> g(engineLock);
  Key key(productKey(code), false);
  if (!key) return INSTALLSTATE_UNKNOWN;
  for (const auto& entry : key.registration().all(u"Component")) {
    auto c = msi_engine::parse_component(entry);
    if (!c || c->id != component) continue;
    INSTALLSTATE state = static_cast<INSTALLSTATE>(c->state);
    // A registry key path ("NN:\...") is not looked at; a file or folder must be there.
    bool registryValue = c->keyPath.size() > 3 && c->keyPath[2] == u':' && c->keyPath[3] == u'\\' &&
                         c->keyPath[0] == u'0';
    if (state == INSTALLSTATE_LOCAL && !registryValue &&
        (c->keyPath.empty() || GetFileAttributesW(c->keyPath.c_str()) == INVALID_FILE_ATTRIBUTES))
      state = INSTALLSTATE_ABSENT;
    if (copyOut(c->keyPath, lpPathBuf, pcchBuf) == ERROR_MORE_DATA) return INSTALLSTATE_MOREDATA;
    return state;
  }
  return INSTALLSTATE_UNKNOWN;
}

namespace msi_engine {

DWORD engine_file_version() {
  const char* v = std::getenv("KV_MSI_ENGINE_VERSION");
  if (!v || !*v) return (5u << 16) | 0;
  std::string s = v;
  if (s == "absent") return 0;
  unsigned major = 0, minor = 0;
  if (std::sscanf(s.c_str(), "%u.%u", &major, &minor) < 1) return 0;
  return (major << 16) | (minor & 0xFFFF);
}

std::vector<InstallCall> recorded_installs() {
  std::lock_guard<std::recursive_mutex> g(engineLock);
  return calls;
}

void clear_recorded_installs() {
  std::lock_guard<std::recursive_mutex> g(engineLock);
  calls.clear();
}

}  // namespace msi_engine
