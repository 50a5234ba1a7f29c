#include "platform/win32/kernel32/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/spawn.h"
#include "platform/win32/kernel32/version.h"

extern char** environ;

namespace win32 {

// The built-in export table (exports.cpp).
struct BuiltinExport {
  const char* module;
  const char* name;
  FARPROC entry;
};
const BuiltinExport* builtin_exports(std::size_t& count);

namespace {

// ---------------------------------------------------------------------------
// Modules

const HMODULE kProgramModule = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x00400000));

struct SystemModule {
  const char* file;  // lower case
  bool preloaded;    // imported by the program, so loaded from the start
};

constexpr SystemModule kModules[] = {
    {"kernel32.dll", true}, {"ntdll.dll", true},    {"user32.dll", true},   {"gdi32.dll", true},
    {"advapi32.dll", true}, {"shell32.dll", true},  {"version.dll", true},  {"ole32.dll", true},
    {"oleaut32.dll", true}, {"ws2_32.dll", true},   {"comctl32.dll", true}, {"comdlg32.dll", true},
    {"shlwapi.dll", true},  {"crypt32.dll", true},  {"mpr.dll", true},      {"rpcrt4.dll", true},
    {"msi.dll", false},     {"shfolder.dll", false}, {"hhctrl.ocx", false},
};
constexpr std::size_t kModuleCount = std::size(kModules);

HMODULE module_handle(std::size_t index) {
  return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x10000000 + index * 0x10000));
}

bool module_index(HMODULE h, std::size_t& index) {
  auto v = reinterpret_cast<std::uintptr_t>(h);
  if (v < 0x10000000 || (v - 0x10000000) % 0x10000 != 0) return false;
  index = (v - 0x10000000) / 0x10000;
  return index < kModuleCount;
}

struct ModuleState {
  std::mutex lock;
  int loads[kModuleCount] = {};
  std::map<std::string, FARPROC> runtime_exports;  // "module.dll!name"
};

ModuleState& modules() {
  static ModuleState* s = new ModuleState;  // outlives static destructors
  return *s;
}

// "C:\x\KERNEL32" -> "kernel32.dll"; "hhctrl.ocx" stays.
std::string module_file(std::u16string_view name) {
  std::size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string_view::npos) name = name.substr(slash + 1);
  std::string s;
  for (char16_t c : name) s += static_cast<char>(c < 0x80 ? std::tolower(static_cast<unsigned char>(c)) : '?');
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
  if (s.find('.') == std::string::npos) s += ".dll";
  return s;
}

bool find_module(std::u16string_view name, std::size_t& index) {
  std::string file = module_file(name);
  for (std::size_t i = 0; i < kModuleCount; ++i)
    if (file == kModules[i].file) {
      index = i;
      return true;
    }
  return false;
}

std::u16string widen(LPCSTR s) {
  std::u16string w;
  if (!s) return w;
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  if (n <= 0) return w;
  w.resize(static_cast<std::size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
  w.resize(static_cast<std::size_t>(n - 1));
  return w;
}

std::string narrow(const std::u16string& w, UINT cp = CP_ACP) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::string env_or_empty(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// ---------------------------------------------------------------------------
// Environment

std::mutex& env_lock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

// The Unix entry whose name matches ignoring case (exact spelling first).
bool find_env(const std::string& name, std::string& actual, std::string& value) {
  if (const char* v = std::getenv(name.c_str())) {
    actual = name;
    value = v;
    return true;
  }
  std::u16string wanted = utf8_to_utf16(name);
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (!eq || eq == *e) continue;
    std::string n(*e, static_cast<std::size_t>(eq - *e));
    if (equal_ignore_case(utf8_to_utf16(n), wanted)) {
      actual = n;
      value = eq + 1;
      return true;
    }
  }
  return false;
}

std::u16string user_name() {
  std::string u = env_or_empty("USER");
  if (u.empty())
    if (passwd* pw = ::getpwuid(::getuid())) u = pw->pw_name;
  return utf8_to_utf16(u.empty() ? "user" : u);
}

std::u16string computer_name() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || !*host) std::strcpy(host, "localhost");
  std::string upper = host;
  upper = upper.substr(0, upper.find('.'));
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return utf8_to_utf16(upper.substr(0, MAX_COMPUTERNAME_LENGTH));
}

// The world's answer for a Windows variable that the Unix environment lacks.
bool default_env(const std::u16string& name, std::u16string& value) {
  auto is = [&](const char16_t* n) { return equal_ignore_case(name, n); };
  if (is(u"SystemRoot") || is(u"windir")) {
    value = u"C:\\Windows";
  } else if (is(u"SystemDrive")) {
    value = u"C:";
  } else if (is(u"TEMP") || is(u"TMP")) {
    WCHAR buf[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return false;
    value.assign(buf, n);
    if (value.size() > 3 && value.back() == u'\\') value.pop_back();
  } else if (is(u"ProgramFiles")) {
    value = u"C:\\Program Files";
  } else if (is(u"CommonProgramFiles")) {
    value = u"C:\\Program Files\\Common Files";
  } else if (is(u"ProgramData") || is(u"ALLUSERSPROFILE")) {
    value = u"C:\\ProgramData";
  } else if (is(u"USERPROFILE")) {
    value = u"C:\\Users\\" + user_name();
  } else if (is(u"APPDATA")) {
    value = u"C:\\Users\\" + user_name() + u"\\AppData\\Roaming";
  } else if (is(u"LOCALAPPDATA")) {
    value = u"C:\\Users\\" + user_name() + u"\\AppData\\Local";
  } else if (is(u"USERNAME")) {
    value = user_name();
  } else if (is(u"COMPUTERNAME")) {
    value = computer_name();
  } else if (is(u"OS") && !is_win9x()) {
    value = u"Windows_NT";
  } else {
    return false;
  }
  return true;
}

// Names that begin with '=' (a shell's per-drive folders, "=C:") cannot live in
// the Unix environment: the process keeps them aside, by upper-case name.
std::map<std::u16string, std::u16string>& hidden_env() {
  static auto* m = new std::map<std::u16string, std::u16string>;
  return *m;
}

std::u16string upper_name(const std::u16string& name) {
  std::u16string up = name;
  for (char16_t& c : up) c = upcase(c);
  return up;
}

bool lookup_env(const std::u16string& name, std::u16string& value) {
  std::string actual, v;
  bool found;
  if (!name.empty() && name[0] == u'=') {
    std::lock_guard<std::mutex> g(env_lock());
    auto it = hidden_env().find(upper_name(name));
    if (it == hidden_env().end()) return false;
    value = it->second;
    return true;
  }
  {
    std::lock_guard<std::mutex> g(env_lock());
    found = find_env(utf16_to_utf8(name), actual, v);
  }
  if (found) {
    value = utf8_to_utf16(v);
    return true;
  }
  return default_env(name, value);
}

// ---------------------------------------------------------------------------
// What a parent of the layer handed over

constexpr char kLineVariable[] = "KV_COMMAND_LINE";
constexpr char kRecordVariable[] = "KV_EXIT_RECORD";

struct FromParent {
  bool have_line = false;
  std::string line;  // UTF-8
  int record = -1;
  dev_t record_dev = 0;
  ino_t record_ino = 0;
};

// Taken once, at start, and removed from the environment, so that programs
// this one starts by other means never see them.
FromParent& from_parent() {
  static FromParent* f = [] {
    auto* r = new FromParent;
    const std::string parent = std::to_string(::getppid()) + ":";
    auto take = [&](const char* name, std::string& value) {
      const char* v = std::getenv(name);
      bool ours = v && std::strncmp(v, parent.c_str(), parent.size()) == 0;
      if (ours) value = v + parent.size();
      if (v) ::unsetenv(name);
      return ours;
    };
    std::string v;
    if (take(kRecordVariable, v) && !v.empty() && v.find_first_not_of("0123456789") == std::string::npos &&
        v.size() < 9) {
      int fd = std::stoi(v);
      struct stat st;
      if (fd > 2 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        r->record = fd;
        r->record_dev = st.st_dev;
        r->record_ino = st.st_ino;
      }
    }
    if (take(kLineVariable, v)) {
      r->have_line = true;
      r->line = v;
    }
    return r;
  }();
  return *f;
}

[[maybe_unused]] const bool g_from_parent_taken = (from_parent(), true);

// ---------------------------------------------------------------------------
// Command line

struct CommandLine {
  std::u16string wide;
  std::string narrow_text;
};

CommandLine& command_line() {
  static CommandLine* line = [] {
    auto* l = new CommandLine;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    std::size_t pos = 0;
    while (pos < all.size()) {
      std::size_t end = all.find('\0', pos);
      if (end == std::string::npos) end = all.size();
      args.push_back(all.substr(pos, end - pos));
      pos = end + 1;
    }
    if (from_parent().have_line) {
      // The parent's line, when it is the one these arguments were made of.
      std::u16string given = utf8_to_utf16(from_parent().line);
      std::vector<std::u16string> split = split_command_line(given);
      bool same = split.size() == args.size();
      for (std::size_t i = 0; same && i < args.size(); ++i) same = split[i] == utf8_to_utf16(args[i]);
      if (same) {
        l->wide = given;
        l->narrow_text = narrow(l->wide);
        return l;
      }
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
      std::u16string a = i == 0 ? module_path() : utf8_to_utf16(args[i]);
      if (i) l->wide += u' ';
      l->wide += quote_argument(a);
    }
    l->narrow_text = narrow(l->wide);
    return l;
  }();
  return *line;
}

}  // namespace

std::u16string quote_argument(const std::u16string& arg, bool always) {
  if (!always && !arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos) return arg;
  std::u16string out = u"\"";
  std::size_t slashes = 0;
  for (char16_t c : arg) {
    if (c == u'\\') {
      ++slashes;
      continue;
    }
    if (c == u'"') out.append(slashes * 2 + 1, u'\\');
    else out.append(slashes, u'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, u'\\');
  out += u'"';
  return out;
}

void register_export(const char* module, const char* name, FARPROC entry) {
  std::string key = module_file(utf8_to_utf16(module)) + "!" + name;
  ModuleState& s = modules();
  std::lock_guard<std::mutex> g(s.lock);
  s.runtime_exports[key] = entry;
}

void unregister_export(const char* module, const char* name) {
  std::string key = module_file(utf8_to_utf16(module)) + "!" + name;
  ModuleState& s = modules();
  std::lock_guard<std::mutex> g(s.lock);
  s.runtime_exports.erase(key);
}

std::u16string module_path() {
  std::string over = env_or_empty("KV_PROGRAM_PATH");
  if (!over.empty()) return over[0] == '/' ? to_windows_path(over) : full_path_name(utf8_to_utf16(over));
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return u"C:\\Windows\\program.exe";
  return to_windows_path(std::string(buf, static_cast<std::size_t>(n)));
}

void at_fork(void (*prepare)(), void (*parent)(), void (*child)()) { pthread_atfork(prepare, parent, child); }

void child_records(std::vector<std::string>& env, const std::u16string& line, int record_fd) {
  auto named = [](const std::string& e, const char* name) {
    std::size_t n = std::strlen(name);
    return e.size() > n && e.compare(0, n, name) == 0 && e[n] == '=';
  };
  env.erase(std::remove_if(env.begin(), env.end(),
                           [&](const std::string& e) { return named(e, kLineVariable) || named(e, kRecordVariable); }),
            env.end());
  const std::string me = std::to_string(::getpid()) + ":";
  env.push_back(std::string(kLineVariable) + "=" + me + utf16_to_utf8(line));
  if (record_fd >= 0) env.push_back(std::string(kRecordVariable) + "=" + me + std::to_string(record_fd));
}

}  // namespace win32

using namespace win32;

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::u16string path;
  std::size_t index;
  if (!hModule || hModule == kProgramModule) {
    path = module_path();
  } else if (module_index(hModule, index)) {
    path = u"C:\\Windows\\System32\\" + utf8_to_utf16(kModules[index].file);
  } else {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (nSize == 0 || !lpFilename) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    std::copy(path.begin(), path.begin() + (nSize - 1), lpFilename);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::copy(path.begin(), path.end(), lpFilename);
  lpFilename[path.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  WCHAR wide[32768];
  DWORD n = GetModuleFileNameW(hModule, wide, 32768);
  if (n == 0) return 0;
  std::string bytes = narrow(std::u16string(wide, n), file_api_code_page());
  if (nSize == 0 || !lpFilename) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (bytes.size() >= nSize) {
    std::memcpy(lpFilename, bytes.data(), nSize - 1);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, bytes.c_str(), bytes.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(bytes.size());
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  if (!lpModuleName) return kProgramModule;
  std::size_t index;
  if (find_module(lpModuleName, index)) {
    ModuleState& s = modules();
    std::lock_guard<std::mutex> g(s.lock);
    if (kModules[index].preloaded || s.loads[index] > 0) return module_handle(index);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (!lpModuleName) return kProgramModule;
  return GetModuleHandleW(widen(lpModuleName).c_str());
}

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE, DWORD) {
  if (!lpLibFileName || !*lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::size_t index;
  if (!find_module(lpLibFileName, index)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ModuleState& s = modules();
  std::lock_guard<std::mutex> g(s.lock);
  ++s.loads[index];
  return module_handle(index);
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) { return LoadLibraryExW(lpLibFileName, nullptr, 0); }

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (!lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryExW(widen(lpLibFileName).c_str(), nullptr, 0);
}

BOOL FreeLibrary(HMODULE hLibModule) {
  std::size_t index;
  if (hLibModule == kProgramModule) return TRUE;
  if (!module_index(hLibModule, index)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  ModuleState& s = modules();
  std::lock_guard<std::mutex> g(s.lock);
  if (s.loads[index] > 0) --s.loads[index];
  return TRUE;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  std::size_t index;
  std::string module;
  if (!hModule || hModule == kProgramModule) {
    module = "program";
  } else if (module_index(hModule, index)) {
    module = kModules[index].file;
  } else {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (!lpProcName) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto ordinal = reinterpret_cast<std::uintptr_t>(lpProcName);
  std::string name = ordinal < 0x10000 ? "#" + std::to_string(ordinal) : std::string(lpProcName);
  {
    ModuleState& s = modules();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.runtime_exports.find(module + "!" + name);
    if (it != s.runtime_exports.end()) {
      if (!it->second) SetLastError(ERROR_PROC_NOT_FOUND);
      return it->second;
    }
  }
  std::size_t count = 0;
  const BuiltinExport* exports = builtin_exports(count);
  for (std::size_t i = 0; i < count; ++i) {
    const BuiltinExport& e = exports[i];
    if (module_file(utf8_to_utf16(e.module)) == module && name == e.name) return e.entry;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
  if (!lpName || !*lpName) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::u16string value;
  if (!lookup_env(lpName, value)) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  if (value.empty()) {
    if (lpBuffer && nSize) lpBuffer[0] = 0;
    SetLastError(ERROR_SUCCESS);
    return 0;
  }
  return copy_out(value, lpBuffer, nSize);
}

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  std::u16string value;
  if (!lpName || !*lpName || !lookup_env(widen(lpName), value)) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::string bytes = narrow(value);
  if (!lpBuffer || nSize < bytes.size() + 1) return static_cast<DWORD>(bytes.size() + 1);
  std::memcpy(lpBuffer, bytes.c_str(), bytes.size() + 1);
  if (bytes.empty()) SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(bytes.size());
}

BOOL SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue) {
  if (!lpName || !*lpName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name = utf16_to_utf8(lpName);
  if (name.find('=', 1) != std::string::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (name[0] == '=') {
    std::lock_guard<std::mutex> g(env_lock());
    if (lpValue)
      hidden_env()[upper_name(lpName)] = lpValue;
    else
      hidden_env().erase(upper_name(lpName));
    return TRUE;
  }
  std::lock_guard<std::mutex> g(env_lock());
  std::string actual, old;
  bool had = find_env(name, actual, old);
  if (had && actual != name) ::unsetenv(actual.c_str());  // one variable, whatever its case
  if (!lpValue) {
    ::unsetenv(name.c_str());
    return TRUE;
  }
  if (::setenv(name.c_str(), utf16_to_utf8(lpValue).c_str(), 1) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
  if (!lpName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string value = widen(lpValue);
  return SetEnvironmentVariableW(widen(lpName).c_str(), lpValue ? value.c_str() : nullptr);
}

DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
  if (!lpSrc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string src(lpSrc), out;
  std::size_t i = 0;
  while (i < src.size()) {
    if (src[i] != u'%') {
      out += src[i++];
      continue;
    }
    std::size_t close = src.find(u'%', i + 1);
    if (close == std::u16string::npos) {
      out.append(src, i, std::u16string::npos);
      break;
    }
    std::u16string name = src.substr(i + 1, close - i - 1);
    std::u16string value;
    if (!name.empty() && lookup_env(name, value)) {
      out += value;
      i = close + 1;
    } else {
      out.append(src, i, close - i + 1);  // unknown: "%name%" stays as written
      i = close + 1;
    }
  }
  const DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (lpDst && nSize >= needed) {
    std::copy(out.begin(), out.end(), lpDst);
    lpDst[out.size()] = 0;
  }
  return needed;
}

LPWSTR GetCommandLineW() { return command_line().wide.data(); }
LPSTR GetCommandLineA() { return command_line().narrow_text.data(); }

void ExitProcess(UINT uExitCode) {
  const FromParent& p = from_parent();
  struct stat st;
  if (p.record >= 0 && ::fstat(p.record, &st) == 0 && st.st_dev == p.record_dev && st.st_ino == p.record_ino) {
    const unsigned char code[4] = {static_cast<unsigned char>(uExitCode), static_cast<unsigned char>(uExitCode >> 8),
                                   static_cast<unsigned char>(uExitCode >> 16),
                                   static_cast<unsigned char>(uExitCode >> 24)};
    ssize_t n;
    while ((n = ::write(p.record, code, sizeof code)) < 0 && errno == EINTR) {
    }
  }
  std::exit(static_cast<int>(uExitCode));
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer) {
  if (!pcbBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The account of the process, as a token names it, whatever USER says.
  std::u16string name;
  if (passwd* pw = ::getpwuid(::geteuid())) name = utf8_to_utf16(pw->pw_name);
  if (name.empty()) name = user_name();
  const DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (!lpBuffer || *pcbBuffer < needed) {
    *pcbBuffer = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::copy(name.begin(), name.end(), lpBuffer);
  lpBuffer[name.size()] = 0;
  *pcbBuffer = needed;
  return TRUE;
}

BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
  if (!nSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::u16string name = computer_name();
  if (!lpBuffer || *nSize < name.size() + 1) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::copy(name.begin(), name.end(), lpBuffer);
  lpBuffer[name.size()] = 0;
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

void GetSystemInfo(LPSYSTEM_INFO info) {
  if (!info) return;
  *info = SYSTEM_INFO{};
#if defined(__aarch64__)
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
  info->dwProcessorType = 0;
#else
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  info->dwProcessorType = 8664;  // PROCESSOR_AMD_X8664
#endif
  info->dwPageSize = 4096;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFF);
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  if (n < 1) n = 1;
  if (n > 64) n = 64;
  info->dwNumberOfProcessors = static_cast<DWORD>(n);
  info->dwActiveProcessorMask = n == 64 ? ~DWORD_PTR{0} : ((DWORD_PTR{1} << n) - 1);
  info->dwAllocationGranularity = 65536;
  info->wProcessorLevel = 6;
}

void GetNativeSystemInfo(LPSYSTEM_INFO info) { GetSystemInfo(info); }
