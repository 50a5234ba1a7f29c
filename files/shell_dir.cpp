#include "files/shell_dir.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "files/file_object.h"
#include "files/file_time.h"
#include "files/guarded_calls.h"
#include "files/remove_tree.h"
#include "files/windows_dir.h"
#include "platform/win32/windows.h"

namespace shell_dir {
namespace {

constexpr std::uint32_t kFolder = 0x20000000, kBrowsable = 0x08000000, kFsAncestorOrLink = 0x10010000,
                        kLink = 0x00010000;

bool same_ignoring_case(const std::u16string& a, const char16_t* b) {
  std::size_t n = std::char_traits<char16_t>::length(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool is_floppy(char letter) {
  char device[3] = {letter, ':', 0};
  char target[MAX_PATH] = {};
  if (QueryDosDeviceA(device, target, MAX_PATH) == 0) return false;
  static const char kFloppy[] = "\\Device\\Floppy";
  for (int i = 0; i < 14; ++i) {
    char c = target[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    char f = kFloppy[i];
    if (f >= 'a' && f <= 'z') f = static_cast<char>(f - 32);
    if (c != f) return false;
  }
  return true;
}

std::int32_t drive_kind(char16_t letter) {
  char root[4] = {static_cast<char>(letter), ':', '\\', 0};
  switch (GetDriveTypeA(root)) {
    case DRIVE_REMOVABLE: return is_floppy(root[0]) ? entry_kind::floppy : entry_kind::removable;
    case DRIVE_FIXED: return entry_kind::fixed;
    case DRIVE_REMOTE: return entry_kind::network_drive;
    case DRIVE_CDROM: return entry_kind::cdrom;
    case DRIVE_RAMDISK: return entry_kind::ramdisk;
    default: return entry_kind::unknown;
  }
}

std::uint16_t cb_at(const unsigned char* p) {
  std::uint16_t cb;
  std::memcpy(&cb, p, 2);
  return cb;
}

BOOL lists_equal(const ITEMIDLIST* a, const ITEMIDLIST* b) {
  auto f = shell_entry_points().is_equal;
  return f ? f(a, b) : ILIsEqual(a, b);
}

constexpr std::uint16_t kNoLanguage = 0xFFFF;
std::atomic<std::uint16_t> g_text_language{kNoLanguage};

BOOL take_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  *reinterpret_cast<std::uint32_t*>(found) = language;
  return FALSE;
}

BOOL first_name_language(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR found) {
  EnumResourceLanguagesW(module, type, name, &take_language, found);
  return FALSE;
}

// String `id` of string-table block 1 of shfolder, in `language` or else in
// US English; false with the Win32 error when neither block exists.
bool shfolder_string(std::uint16_t language, int id, std::u16string& out, std::uint32_t& cause) {
  HMODULE module = GetModuleHandleA("shfolder");
  const bool loaded_here = !module;
  if (!module) module = LoadLibraryA("shfolder");
  HRSRC block = module ? FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(1), language) : nullptr;
  if (!block && module) block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(1), 1033);
  const BYTE* data = nullptr;
  DWORD size = 0;
  if (block) {
    size = SizeofResource(module, block);
    HGLOBAL loaded = LoadResource(module, block);
    data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  }
  cause = data ? 0 : GetLastError();
  if (loaded_here && module) FreeLibrary(module);
  if (!data) return false;
  // Sixteen counted strings; a block cut short yields what it holds.
  std::size_t at = 0;
  for (int i = 0; at + 2 <= size; ++i) {
    const std::size_t n = static_cast<std::size_t>(data[at]) | static_cast<std::size_t>(data[at + 1]) << 8;
    at += 2;
    const std::size_t take = std::min(n, (size - at) / 2);
    if (i == id) {
      out.resize(take);
      std::memcpy(out.data(), data + at, take * 2);
      return true;
    }
    at += n * 2;
  }
  out.clear();
  return true;
}

std::u16string common_app_data_fallback(std::uint32_t& error, std::uint32_t& cause) {
  error = 0x40007;
  cause = 0;
  char16_t buf[MAX_PATH + 1] = {};
  DWORD n = ExpandEnvironmentStringsW(u"%USERPROFILE%", buf, MAX_PATH);
  if (n == 0) cause = GetLastError();
  if (n == 0 || n > MAX_PATH || buf[0] == 0) return {};
  std::u16string path(buf);
  auto sep = [](char16_t c) { return c == u'/' || c == u':' || c == u'\\'; };
  std::size_t end = path.size();
  while (end > 0 && !sep(path[end - 1])) --end;
  if (end == 0) return {};
  path.resize(end);
  path += u"All Users\\";
  if (path.size() + 1 > MAX_PATH) return {};
  std::u16string name;
  if (!shfolder_string(shell_dir::text_language(), 3, name, cause)) return {};
  path += name;
  if (path.size() >= MAX_PATH) return {};
  DWORD a = GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    std::u16string parent = path.substr(0, end + 9);
    CreateDirectoryW(parent.c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
    a = GetFileAttributesW(path.c_str());
  }
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return {};
  error = 0;
  return path;
}

}  // namespace

std::int32_t item_kind(std::uint32_t attributes, const std::u16string& name) {
  if (!(attributes & kFolder) || ((attributes & kBrowsable) && !(attributes & kFsAncestorOrLink)))
    return (attributes & kLink) ? entry_kind::shell_link : entry_kind::file;
  if (name.size() == 3 && name[1] == u':' && name[2] == u'\\') {
    char16_t l = name[0];
    if (l >= u'a' && l <= u'z') l = static_cast<char16_t>(l - 32);
    if (l >= u'A' && l <= u'Z') return drive_kind(l);
  }
  if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\') {
    std::size_t more = 0;
    for (std::size_t i = 2; i < name.size(); ++i) more += name[i] == u'\\';
    return more == 0 ? entry_kind::server : more == 1 ? entry_kind::share : entry_kind::directory;
  }
  if (same_ignoring_case(name, u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")) return entry_kind::computer;
  if (same_ignoring_case(name, u"::{208D2C60-3AEA-1069-A2D7-08002B30309D}") ||
      same_ignoring_case(name, u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}"))
    return entry_kind::network;
  if (same_ignoring_case(name, u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}")) return entry_kind::documents;
  return entry_kind::directory;
}

int relation(const ITEMIDLIST* self, const ITEMIDLIST* other) {
  if (!self || !other) return 2;
  auto a = reinterpret_cast<const unsigned char*>(self);
  auto b = reinterpret_cast<const unsigned char*>(other);
  std::size_t i = 0, j = 0;
  for (;;) {
    std::uint16_t ca = cb_at(a + i), cbb = cb_at(b + j);
    if (ca == 0 && cbb == 0) return lists_equal(self, other) ? 0 : 2;
    if (cbb == 0) return 2;
    if (ca == 0) {
      std::vector<unsigned char> prefix(b, b + j);
      prefix.push_back(0);
      prefix.push_back(0);
      return lists_equal(self, reinterpret_cast<const ITEMIDLIST*>(prefix.data())) ? 1 : 2;
    }
    i += ca;
    j += cbb;
  }
}

std::vector<unsigned char> parent_list(const ITEMIDLIST* absolute) {
  auto p = reinterpret_cast<const unsigned char*>(absolute);
  std::size_t at = 0, last = 0;
  while (p && cb_at(p + at) != 0) {
    last = at;
    at += cb_at(p + at);
  }
  std::vector<unsigned char> out(p, p + last);
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::u16string special_folder(std::int32_t kind, std::uint32_t& error) {
  return special_folder(kind, error, &SHGetFolderPathW);
}

std::uint16_t text_language() {
  std::uint16_t language = g_text_language.load();
  if (language != kNoLanguage) return language;
  std::uint32_t found = 0x10000;  // none yet
  if (HMODULE shell32 = GetModuleHandleA("shell32"))
    EnumResourceNamesW(shell32, RT_VERSION, &first_name_language, reinterpret_cast<LONG_PTR>(&found));
  language = found <= 0xFFFF ? static_cast<std::uint16_t>(found) : GetSystemDefaultLangID();
  g_text_language.store(language);
  return language;
}

void forget_text_language() { g_text_language.store(kNoLanguage); }

std::u16string special_folder(std::int32_t kind, std::uint32_t& error, folder_path_fn folder_path,
                              std::uint32_t* cause) {
  std::uint32_t ignored = 0;
  std::uint32_t& why = cause ? *cause : ignored;
  why = 0;
  int csidl;
  switch (kind) {
    case entry_kind::common_app_data: csidl = CSIDL_COMMON_APPDATA; break;
    case entry_kind::app_data: csidl = CSIDL_APPDATA; break;
    case entry_kind::local_app_data: csidl = CSIDL_LOCAL_APPDATA; break;
    case entry_kind::desktop: csidl = CSIDL_DESKTOPDIRECTORY; break;
    default: error = 0x4000e; return {};
  }
  char16_t buf[MAX_PATH] = {};
  if (folder_path(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, buf) >= 0) {
    error = 0;
    return buf;
  }
  // Only the common folder has a sound stand-in; the user's own folders must not
  // silently become a folder every user shares.
  if (kind != entry_kind::common_app_data) {
    error = 0x40007;
    return {};
  }
  return common_app_data_fallback(error, why);
}

}  // namespace shell_dir

// ---------------------------------------------------------------------------
// Process-wide shell state

namespace {

struct shell_state {
  win32_shell_dir* root = nullptr;
  IMalloc* malloc = nullptr;
  IShellFolder* desktop = nullptr;
  bool com_tried = false;
  bool com_initialised = false;
  bool exit_registered = false;
  HMODULE shfolder = nullptr;
  shell_dir::entry_points entries;
};

shell_state& state() {
  static shell_state s;
  return s;
}

void shell_exit() {
  shell_state& s = state();
  delete s.root;
  s.root = nullptr;
  if (s.desktop) s.desktop->Release();
  s.desktop = nullptr;
  if (s.malloc) s.malloc->Release();
  s.malloc = nullptr;
  if (s.com_initialised) CoUninitialize();
  s.com_initialised = false;
}

template <class F>
void look_up(HMODULE module, LPCSTR name, F& out) {
  out = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

LPCSTR ordinal(std::uintptr_t n) { return reinterpret_cast<LPCSTR>(n); }

void look_up_entry_points(shell_state& s) {
  shell_dir::entry_points& e = s.entries;
  if (!s.shfolder) s.shfolder = LoadLibraryA("shfolder");
  HMODULE shfolder = s.shfolder;
  HMODULE shell32 = GetModuleHandleA("shell32");
  look_up(shell32, "SHGetPathFromIDListW", e.get_path);
  look_up(shell32, "SHChangeNotification_Lock", e.lock);
  look_up(shell32, "SHChangeNotification_Unlock", e.unlock);
  look_up(shell32, ordinal(21), e.is_equal);
  look_up(shell32, ordinal(2), e.register_notify);
  look_up(shell32, ordinal(4), e.deregister_notify);
  look_up(shfolder, "SHGetFolderPathW", e.folder_path);
}

// The shell's own allocator; obtained on demand so that directories made
// before (or without) the root can still free what the shell hands out.
IMalloc* allocator() {
  shell_state& s = state();
  if (!s.malloc) SHGetMalloc(&s.malloc);
  return s.malloc;
}

void shell_free(void* block) {
  if (!block) return;
  if (IMalloc* m = allocator())
    m->Free(block);
  else
    CoTaskMemFree(block);
}

void* shell_alloc(std::size_t size) {
  IMalloc* m = allocator();
  return m ? m->Alloc(size) : CoTaskMemAlloc(size);
}

std::size_t list_size(const void* list) {
  auto p = static_cast<const unsigned char*>(list);
  std::size_t at = 0;
  for (;;) {
    std::uint16_t cb;
    std::memcpy(&cb, p + at, 2);
    if (cb == 0) return at + 2;
    at += cb;
  }
}

std::vector<unsigned char> bytes_of(const void* list) {
  auto p = static_cast<const unsigned char*>(list);
  return std::vector<unsigned char>(p, p + list_size(list));
}

// `base` without its terminator followed by `tail` with its own.
std::vector<unsigned char> joined(const std::vector<unsigned char>& base, const void* tail) {
  std::vector<unsigned char> out(base.begin(), base.end() - 2);
  auto t = static_cast<const unsigned char*>(tail);
  out.insert(out.end(), t, t + list_size(tail));
  return out;
}

const ITEMIDLIST* as_list(const std::vector<unsigned char>& v) { return reinterpret_cast<const ITEMIDLIST*>(v.data()); }

const ITEMIDLIST* identifier_list(const file_identifier* id) {
  const auto* t = dynamic_cast<const the_identifier*>(id);
  return t ? static_cast<const ITEMIDLIST*>(t->bytes()) : nullptr;
}

// The error of a failed shell call: the HRESULT as cause, and for
// 0x8007xxxx the code the Win32 error maps to.
Common::Error shell_error(std::uint64_t site, std::uint32_t code, HRESULT hr, const char* function = nullptr,
                          const char16_t* filename = nullptr) {
  const auto u = static_cast<std::uint32_t>(hr);
  if ((u & 0xFFFF0000u) == 0x80070000u) code = map_system_error(u & 0xFFFFu, code);
  Common::Error e;
  if (function) {
    const DWORD last = GetLastError();
    SetLastError(0);  // not listed: the code stays as chosen above
    e = win32_file_error(site, code, function, filename ? filename : u"");
    SetLastError(last);
  } else {
    e = make_fs_error(site, code);
  }
  e.setHResultCause(hr);
  return e;
}

std::u16string display_name_of(IShellFolder* folder, const ITEMIDLIST* item, SHGDNF flags) {
  std::u16string out;
  STRRET r{};
  if (SUCCEEDED(guarded_GetDisplayNameOf(folder, item, flags, &r))) shell_dir::strret_to_wide(r, item, out);
  return out;
}

std::u16string from_ansi(const char* text) {
  char16_t buf[MAX_PATH] = {};
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, buf, MAX_PATH);
  if (n <= 1) return {};
  buf[MAX_PATH - 1] = 0;
  return buf;
}

HRESULT parse_name(IShellFolder* folder, const char16_t* text, LPITEMIDLIST* out) {
  std::u16string copy(text ? text : u"");
  *out = nullptr;
  return guarded_ParseDisplayName(folder, prompt_owner_window(), nullptr, copy.data(), nullptr, out, nullptr);
}

constexpr SFGAOF kBaseAttributes = 0x78090000;  // file system, folder, ancestor, browsable, hidden, link
constexpr SFGAOF kValidate = SFGAO_VALIDATE;

}  // namespace

namespace shell_dir {

const entry_points& shell_entry_points() { return state().entries; }
IMalloc* shell_allocator() { return state().malloc; }
IShellFolder* desktop_folder() { return state().desktop; }

HRESULT bind_shell_folder(IShellFolder* folder, const ITEMIDLIST* list, IShellFolder** out) {
  *out = nullptr;
  HRESULT hr = guarded_BindToObject(folder, list, nullptr, IID_IShellFolder, reinterpret_cast<void**>(out));
  if ((hr == CO_E_NOTINITIALIZED || hr == E_NOINTERFACE) && SUCCEEDED(CoInitialize(nullptr))) {
    hr = guarded_BindToObject(folder, list, nullptr, IID_IShellFolder, reinterpret_cast<void**>(out));
    CoUninitialize();
  }
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

void strret_to_wide(STRRET& name, const ITEMIDLIST* item, std::u16string& out) {
  switch (name.uType) {
    case STRRET_WSTR:
      if (name.pOleStr) {
        out = name.pOleStr;
        shell_free(name.pOleStr);
        name.pOleStr = nullptr;
      }
      break;
    case STRRET_OFFSET: {
      // The text must lie inside the item; a stray offset reads nothing.
      const auto* p = reinterpret_cast<const char*>(item);
      std::uint16_t cb = 0;
      if (item) std::memcpy(&cb, p, 2);
      if (name.uOffset >= 2 && name.uOffset < cb) {
        std::string text(p + name.uOffset, p + cb);
        std::u16string t = from_ansi(text.c_str());
        if (!t.empty()) out = t;
      }
      break;
    }
    case STRRET_CSTR: {
      char text[sizeof name.cStr + 1] = {};
      std::memcpy(text, name.cStr, sizeof name.cStr);
      std::u16string t = from_ansi(text);
      if (!t.empty()) out = t;
      break;
    }
    default:
      break;
  }
}

}  // namespace shell_dir

win32_shell_dir* shell_root_dir() {
  shell_state& s = state();
  if (s.root) return s.root;

  // The set-up runs as the process, not as whoever this thread impersonates.
  HANDLE token = nullptr;
  const bool impersonating =
      OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, &token) != FALSE;
  if (impersonating) RevertToSelf();

  look_up_entry_points(s);
  if (!s.com_tried) {
    s.com_tried = true;
    s.com_initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  }
  if (!s.malloc) SHGetMalloc(&s.malloc);
  if (!s.desktop) SHGetDesktopFolder(&s.desktop);
  if (s.malloc && s.desktop && s.entries.is_equal && s.entries.register_notify && s.entries.deregister_notify) {
    s.desktop->AddRef();
    s.root = new (std::nothrow) win32_shell_dir(s.desktop, std::vector<unsigned char>{0, 0});
    if (!s.root) s.desktop->Release();
  }
  if (!s.exit_registered && (s.malloc || s.desktop || s.com_initialised)) {
    s.exit_registered = true;
    std::atexit(&shell_exit);
  }

  if (impersonating) {
    if (!SetThreadToken(nullptr, token)) {
      CloseHandle(token);
      // Never go on under the wrong identity.
      ExitThread(GetLastError());
    }
    CloseHandle(token);
  }
  return s.root;
}

namespace {
i_dir* shell_root_as_dir() { return shell_root_dir(); }
const bool shell_root_registered = (set_shell_root(&shell_root_as_dir), true);
}  // namespace

// ---------------------------------------------------------------------------
// Directories

win32_shell_dir::win32_shell_dir(IShellFolder* folder, const ITEMIDLIST* list, shell_watch_node* node)
    : folder_(folder), list_(list ? bytes_of(list) : std::vector<unsigned char>{0, 0}), node_(node) {}

win32_shell_dir::win32_shell_dir(IShellFolder* folder, const std::vector<unsigned char>& list)
    : folder_(folder), list_(list) {}

win32_shell_dir::~win32_shell_dir() {
  if (node_) watch(nullptr);
  if (folder_) guarded_Release(folder_);
}

ri_file* win32_shell_dir::open_file(const file_identifier*, bool) {
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

ri_file* win32_shell_dir::open_file(i_dir::iterator*, bool) {
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

ri_file* win32_shell_dir::open_file(const char16_t*, bool) {
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

win32_shell_dir* win32_shell_dir::open_relative(const ITEMIDLIST* relative) {
  if (!relative) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  IShellFolder* child = nullptr;
  if (list_size(relative) == 2) {
    folder_->AddRef();
    child = folder_;
  } else {
    const HRESULT hr = shell_dir::bind_shell_folder(folder_, relative, &child);
    if (FAILED(hr) || !child) {
      set_error(shell_error(KV_SITE, fs_error::open, hr));
      return nullptr;
    }
  }
  return made(new_dir(child, joined(list_, relative)));
}

ri_dir* win32_shell_dir::open_dir(const file_identifier* id) { return open_relative(identifier_list(id)); }

ri_dir* win32_shell_dir::open_dir(i_dir::iterator* entry) {
  auto* it = dynamic_cast<win32_shell_dir::iterator*>(entry);
  return open_relative(it ? it->current_item() : nullptr);
}

// Parses `text` in `folder` (this folder when `relative`, else the desktop)
// and binds the result.
win32_shell_dir* win32_shell_dir::new_dir(IShellFolder* folder, std::vector<unsigned char> list) {
  auto* dir = new (std::nothrow) win32_shell_dir(folder, std::move(list));
  if (!dir) {
    folder->Release();
    raise(KV_SITE, fs_error::out_of_memory);
  }
  return dir;
}

win32_shell_dir* win32_shell_dir::made(win32_shell_dir* dir) {
  if (dir) clear_error();
  return dir;
}

win32_shell_dir* win32_shell_dir::parse_and_bind(IShellFolder* folder, const char16_t* text, bool relative) {
  if (!folder) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  LPITEMIDLIST parsed = nullptr;
  HRESULT hr = parse_name(folder, text, &parsed);
  if (FAILED(hr) || !parsed) {
    set_error(shell_error(KV_SITE, fs_error::open, FAILED(hr) ? hr : E_FAIL, "ParseDisplayName", text));
    return nullptr;
  }
  IShellFolder* child = nullptr;
  hr = shell_dir::bind_shell_folder(folder, parsed, &child);
  if (FAILED(hr) || !child) {
    shell_free(parsed);
    set_error(shell_error(KV_SITE, fs_error::open, FAILED(hr) ? hr : E_FAIL));
    return nullptr;
  }
  std::vector<unsigned char> list = relative ? joined(list_, parsed) : bytes_of(parsed);
  shell_free(parsed);
  return made(new_dir(child, list));
}

IShellFolder* win32_shell_dir::parent_folder(std::vector<unsigned char>& parent, std::size_t& last) {
  parent = shell_dir::parent_list(as_list(list_));
  last = parent.size() - 2;
  const bool one_item = last == 0;
  IShellFolder* desktop = state().desktop;
  if (!desktop && shell_root_dir()) desktop = state().desktop;
  if (!desktop) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  if (one_item) {
    desktop->AddRef();
    return desktop;
  }
  IShellFolder* folder = nullptr;
  const HRESULT hr = shell_dir::bind_shell_folder(desktop, as_list(parent), &folder);
  if (FAILED(hr) || !folder) {
    set_error(shell_error(KV_SITE, fs_error::open, FAILED(hr) ? hr : E_FAIL));
    return nullptr;
  }
  return folder;
}

ri_dir* win32_shell_dir::open_dir(const char16_t* path) {
  const std::u16string text(path ? path : u"");
  if (text == u"." || (text == u".." && list_.size() == 2)) {
    folder_->AddRef();
    return made(new_dir(folder_, list_));
  }
  if (text == u"..") {
    std::vector<unsigned char> parent;
    std::size_t last = 0;
    IShellFolder* folder = parent_folder(parent, last);
    if (!folder) return nullptr;
    return made(new_dir(folder, parent));
  }
  if (fs_path()[0] != 0) {
    std::unique_ptr<ri_dir> d(reopened());
    if (!d) return nullptr;
    std::unique_ptr<ri_dir> r(d->open_dir(path));
    if (!r) {
      set_error(d->take_error());
      return nullptr;
    }
    const char16_t* dp = d->path();
    const char16_t* rp = r->path();
    const std::u16string dpath(dp ? dp : u""), rpath(rp ? rp : u"");
    if (d->relation(r.get()) == 1 && rpath.size() > dpath.size())
      return parse_and_bind(folder_, rpath.c_str() + dpath.size(), true);
    return parse_and_bind(state().desktop ? state().desktop : (shell_root_dir(), state().desktop), rpath.c_str(),
                          false);
  }
  return parse_and_bind(state().desktop ? state().desktop : (shell_root_dir(), state().desktop), text.c_str(), false);
}

ri_dir* win32_shell_dir::open_parent(const char16_t** path) { return i_dir::open_parent(path); }

// The Windows directory of this folder's file-system path, with its error
// taken over.
ri_dir* win32_shell_dir::reopened() {
  win32_dir* root = root_dir();
  ri_dir* d = root->open_dir(fs_path().c_str());
  set_error(root->take_error());
  return d;
}

ri_dir* win32_shell_dir::reopen() { return reopened(); }

ri_dir* win32_shell_dir::open_special(std::int32_t kind) {
  IShellFolder* desktop = state().desktop ? state().desktop : (shell_root_dir(), state().desktop);
  switch (kind) {
    case entry_kind::computer:
      return parse_and_bind(desktop, u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", false);
    case entry_kind::network:
      if (ri_dir* d = parse_and_bind(desktop, u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}", false)) return d;
      return parse_and_bind(desktop, u"::{208D2C60-3AEA-1069-A2D7-08002B30309D}", false);
    case entry_kind::documents:
      return parse_and_bind(desktop, u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}", false);
    case entry_kind::common_app_data:
    case entry_kind::app_data:
    case entry_kind::local_app_data:
    case entry_kind::desktop: {
      shell_dir::folder_path_fn folder_path = state().entries.folder_path;
      if (!folder_path) break;
      std::uint32_t error = 0, cause = 0;
      const std::u16string path = shell_dir::special_folder(kind, error, folder_path, &cause);
      if (error) {
        Common::Error e = make_fs_error(KV_SITE, error);
        if (cause) e.setWin32Cause(cause);
        set_error(std::move(e));
        return nullptr;
      }
      return open_dir(path.c_str());
    }
    default:
      break;
  }
  raise(KV_SITE, fs_error::not_supported);
  return nullptr;
}

i_dir::iterator* win32_shell_dir::iterate(const file_identifier* id) {
  const ITEMIDLIST* item = identifier_list(id);
  if (!item) {
    raise(KV_SITE, fs_error::open);
    return nullptr;
  }
  folder_->AddRef();
  auto* it = new (std::nothrow) iterator(folder_, item, true);
  if (!it) {
    folder_->Release();
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  if (it->Bad()) {
    set_error(it->take_error());
    delete it;
    return nullptr;
  }
  clear_error();
  return it;
}

i_dir::iterator* win32_shell_dir::iterate(const char16_t* name) {
  LPITEMIDLIST parsed = nullptr;
  const HRESULT hr = parse_name(folder_, name, &parsed);
  if (FAILED(hr) || !parsed) {
    set_error(shell_error(KV_SITE, fs_error::open, FAILED(hr) ? hr : E_FAIL, "ParseDisplayName", name));
    return nullptr;
  }
  folder_->AddRef();
  auto* it = new (std::nothrow) iterator(folder_, parsed, false);
  shell_free(parsed);
  if (!it) {
    folder_->Release();
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  clear_error();
  return it;
}

i_dir::iterator* win32_shell_dir::iterate() {
  return hand_over_listing(new (std::nothrow) normal_iterator(this));
}

i_dir::iterator* win32_shell_dir::iterate_self() {
  IShellFolder* folder = nullptr;
  std::vector<unsigned char> item{0, 0};
  if (list_.size() == 2) {
    folder = state().desktop ? state().desktop : folder_;
    folder->AddRef();
  } else {
    std::vector<unsigned char> parent;
    std::size_t last = 0;
    folder = parent_folder(parent, last);
    if (!folder) return nullptr;
    item = bytes_of(list_.data() + last);
  }
  auto* it = new (std::nothrow) iterator(folder, as_list(item), false);
  if (!it) {
    folder->Release();
    raise(KV_SITE, fs_error::out_of_memory);
    return nullptr;
  }
  clear_error();
  return it;
}

const std::u16string& win32_shell_dir::fs_path() {
  if (!fs_path_.empty()) return fs_path_;
  std::u16string path;
  IShellLinkW* wide = nullptr;
  IShellLinkA* narrow = nullptr;
  if (SUCCEEDED(guarded_QueryInterface(folder_, IID_IShellLinkW, reinterpret_cast<void**>(&wide))) && wide) {
    char16_t buf[MAX_PATH] = {};
    if (SUCCEEDED(wide->GetPath(buf, MAX_PATH, nullptr, 0))) {
      buf[MAX_PATH - 1] = 0;
      path = buf;
    }
    wide->Release();
  } else if (SUCCEEDED(guarded_QueryInterface(folder_, IID_IShellLinkA, reinterpret_cast<void**>(&narrow))) &&
             narrow) {
    char buf[MAX_PATH] = {};
    if (SUCCEEDED(narrow->GetPath(buf, MAX_PATH, nullptr, 0))) {
      buf[MAX_PATH - 1] = 0;
      path = from_ansi(buf);
    }
    narrow->Release();
  }
  if (path.empty()) {
    char16_t buf[MAX_PATH] = {};
    BOOL ok;
    if (auto get_path = state().entries.get_path) {
      ok = get_path(as_list(list_), buf);
      buf[MAX_PATH - 1] = 0;
      if (ok) path = buf;
    } else {
      char abuf[MAX_PATH] = {};
      ok = SHGetPathFromIDListA(as_list(list_), abuf);
      abuf[MAX_PATH - 1] = 0;
      if (ok) path = from_ansi(abuf);
    }
    if (!ok && list_.size() > 2) {
      // A server or share has no path of its own, but its parsing name serves.
      std::vector<unsigned char> parent;
      std::size_t last = 0;
      const Common::Error kept = error();
      if (IShellFolder* folder = parent_folder(parent, last)) {
        std::vector<unsigned char> item = bytes_of(list_.data() + last);
        std::u16string name = display_name_of(folder, as_list(item), SHGDN_FORPARSING);
        if (name.size() > 2 && name[0] == u'\\' && name[1] == u'\\') path = name;
        guarded_Release(folder);
      }
      set_error(kept);
    }
  }
  if (!path.empty() && path.back() != u'\\') path += u'\\';
  const bool unc = path.size() >= 3 && path[0] == u'\\' && path[1] == u'\\';
  const bool drive = path.size() >= 3 && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
                     path[1] == u':' && path[2] == u'\\';
  if (!unc && !drive) path.clear();
  path.push_back(u'\0');
  fs_path_ = std::move(path);
  return fs_path_;
}

const char16_t* win32_shell_dir::path() { return fs_path().c_str(); }

int win32_shell_dir::relation(i_dir* other) {
  if (!other) return 2;
  const ITEMIDLIST* theirs = other->item_id_list(nullptr, false);
  if (!theirs) return 2;
  return shell_dir::relation(as_list(list_), theirs);
}

int win32_shell_dir::compare_names(const file_identifier* a, const file_identifier* b) {
  const ITEMIDLIST* la = identifier_list(a);
  const ITEMIDLIST* lb = identifier_list(b);
  if (!la || !lb) {
    raise(KV_SITE, fs_error::open);
    return 0;
  }
  const HRESULT hr = guarded_CompareIDs(folder_, 0, la, lb);
  return static_cast<std::int16_t>(static_cast<std::uint32_t>(hr) & 0xFFFFu);
}

std::int32_t win32_shell_dir::drive_kind() {
  std::unique_ptr<ri_dir> d(reopened());
  return d ? d->drive_kind() : entry_kind::unknown;
}

void win32_shell_dir::free_space(std::uint64_t& total, std::uint64_t& total_free, std::uint64_t& caller_free) {
  total = total_free = caller_free = 0;
  std::unique_ptr<ri_dir> d(reopened());
  if (!d) return;
  d->free_space(total, total_free, caller_free);
  set_error(d->take_error());
}

bool win32_shell_dir::is_system_dir() { return true; }

dir_and_identifier win32_shell_dir::resolve_link(const file_identifier* id) { return resolve_link(id, false); }

namespace {

// A shell-link object for the item: the folder's own, else a new one loaded
// from the item's file.
template <class Link>
Link* link_object(IShellFolder* folder, const ITEMIDLIST* item, REFIID iid) {
  Link* link = nullptr;
  LPCITEMIDLIST items[1] = {item};
  if (SUCCEEDED(guarded_GetUIObjectOf(folder, prompt_owner_window(), 1, items, iid, nullptr, reinterpret_cast<void**>(&link))) &&
      link)
    return link;
  link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&link))) ||
      !link)
    return nullptr;
  IPersistFile* file = nullptr;
  HRESULT hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(hr) && file) {
    const std::u16string name = display_name_of(folder, item, SHGDN_FORPARSING);
    hr = file->Load(name.c_str(), 0);
    file->Release();
  }
  if (FAILED(hr) || !file) {
    link->Release();
    return nullptr;
  }
  return link;
}

// The target list of a link (shell allocator), or null.
template <class Link, class Char>
LPITEMIDLIST link_target(Link* link, bool resolve) {
  LPITEMIDLIST target = nullptr;
  if (resolve && SUCCEEDED(link->Resolve(prompt_owner_window(), 0))) {
    Char buf[MAX_PATH] = {};
    if (SUCCEEDED(link->GetPath(buf, MAX_PATH, nullptr, 0))) {
      buf[MAX_PATH - 1] = 0;
      std::u16string path;
      if constexpr (sizeof(Char) == 1)
        path = from_ansi(buf);
      else
        path = buf;
      if (!path.empty() && state().desktop) {
        if (FAILED(parse_name(state().desktop, path.c_str(), &target))) target = nullptr;
      }
    }
  }
  if (!target && FAILED(link->GetIDList(&target))) target = nullptr;
  return target;
}

}  // namespace

dir_and_identifier win32_shell_dir::resolve_link(const file_identifier* id, bool resolve) {
  const ITEMIDLIST* item = identifier_list(id);
  if (!item) return i_dir::resolve_link(id);
  SFGAOF attributes = SFGAO_LINK;
  LPCITEMIDLIST items[1] = {item};
  if (FAILED(guarded_GetAttributesOf(folder_, 1, items, &attributes)) || !(attributes & SFGAO_LINK))
    return i_dir::resolve_link(id);

  LPITEMIDLIST target = nullptr;
  if (IShellLinkW* link = link_object<IShellLinkW>(folder_, item, IID_IShellLinkW)) {
    target = link_target<IShellLinkW, char16_t>(link, resolve);
    link->Release();
  } else if (IShellLinkA* link = link_object<IShellLinkA>(folder_, item, IID_IShellLinkA)) {
    target = link_target<IShellLinkA, char>(link, resolve);
    link->Release();
  } else {
    return i_dir::resolve_link(id);
  }
  if (!target) return i_dir::resolve_link(id);
  dir_and_identifier result = open_item_id_list(target);
  shell_free(target);
  return result;
}

ITEMIDLIST* win32_shell_dir::item_id_list(const file_identifier* id, bool relative) {
  if (!id) return relative ? nullptr : reinterpret_cast<ITEMIDLIST*>(list_.data());
  const ITEMIDLIST* item = identifier_list(id);
  if (relative || !item) return const_cast<ITEMIDLIST*>(item);
  scratch_ = joined(list_, item);
  return reinterpret_cast<ITEMIDLIST*>(scratch_.data());
}

dir_and_identifier win32_shell_dir::open_item_id_list(const ITEMIDLIST* absolute) {
  if (!absolute) {
    raise(KV_SITE, fs_error::open);
    return {nullptr, nullptr};
  }
  win32_shell_dir probe(nullptr, absolute, nullptr);
  std::vector<unsigned char> parent;
  std::size_t last = 0;
  IShellFolder* folder = probe.parent_folder(parent, last);
  if (!folder) {
    set_error(probe.take_error());
    return {nullptr, nullptr};
  }
  std::vector<unsigned char> item = bytes_of(probe.list_.data() + last);
  auto* dir = new_dir(folder, parent);
  if (!dir) return {nullptr, nullptr};
  auto* id = new (std::nothrow) the_identifier(u"", item.data(), item.size());
  if (!id) {
    delete dir;
    raise(KV_SITE, fs_error::out_of_memory);
    return {nullptr, nullptr};
  }
  clear_error();
  return {dir, id};
}

IShellFolder* win32_shell_dir::shell_folder() { return folder_; }

void win32_shell_dir::control(void* request) {
  auto* r = static_cast<dir_control_request*>(request);
  if (r && r->code == control_code("SPWD")) {
    if (fs_path()[0] != 0) {
      std::unique_ptr<ri_dir> d(reopened());
      if (!d) return;
      d->control(request);
      set_error(d->take_error());
    } else if (r->pointer3) {
      win32_dir* root = root_dir();
      std::unique_ptr<ri_dir> d(root->open_dir(u"."));
      if (!d) {
        set_error(root->take_error());
        return;
      }
      d->control(request);
      set_error(d->take_error());
    }
  } else if (r && r->code == control_code("GSYP")) {
    r->pointer3 = const_cast<char16_t*>(fs_path().c_str());
    clear_error();
  } else {
    file_object::control(request);
  }
}

file_identifier* win32_shell_dir::identifier_from_item_id_list(const ITEMIDLIST* list, bool absolute) {
  if (!list) return nullptr;
  scratch_ = absolute ? bytes_of(list) : joined(list_, list);
  return new (std::nothrow) the_identifier(u"", scratch_.data(), scratch_.size());
}

// ---------------------------------------------------------------------------
// Iterators

struct win32_shell_dir::iterator::find_data {
  WIN32_FIND_DATAW data;
};

win32_shell_dir::iterator::iterator(IShellFolder* folder) : folder_(folder) {}

win32_shell_dir::iterator::iterator(IShellFolder* folder, const ITEMIDLIST* item, bool validate) : folder_(folder) {
  if (item) set_item(item, validate);
}

win32_shell_dir::iterator::~iterator() {
  shell_free(item_);
  if (folder2_) folder2_->Release();
  if (folder_) guarded_Release(folder_);
}

void win32_shell_dir::iterator::set_item(const ITEMIDLIST* item, bool validate) {
  shell_free(item_);
  item_ = nullptr;
  parsing_name_.clear();
  display_name_.clear();
  kind_ = 0;
  attributes_ = asked_ = 0;
  find_data_.reset();
  const std::size_t size = list_size(item);
  item_ = static_cast<ITEMIDLIST*>(shell_alloc(size));
  if (!item_) {
    raise(KV_SITE, fs_error::out_of_memory);
    return;
  }
  std::memcpy(item_, item, size);
  LPCITEMIDLIST items[1] = {item_};
  SFGAOF attributes = kBaseAttributes;
  const HRESULT hr = guarded_GetAttributesOf(folder_, 1, items, &attributes);
  attributes_ = SUCCEEDED(hr) ? attributes : 0;
  asked_ = kBaseAttributes;
  if (!validate) return;
  if (FAILED(hr)) {
    set_error(shell_error(KV_SITE, fs_error::open, hr));
    return;
  }
  const std::int32_t k = kind();
  if (k == entry_kind::removable || k == entry_kind::network_drive || k == entry_kind::cdrom ||
      k == entry_kind::unknown)
    return;
  // Asks the shell to check that the item is still there.
  attributes = kBaseAttributes | kValidate;
  attributes_ = SUCCEEDED(guarded_GetAttributesOf(folder_, 1, items, &attributes)) ? attributes : 0;
}

void win32_shell_dir::iterator::next() {
  if (Good()) raise(KV_SITE, fs_error::not_supported);
}

file_identifier* win32_shell_dir::iterator::identifier() {
  if (!has_item()) return nullptr;
  return new (std::nothrow) the_identifier(u"", item_, list_size(item_));
}

const char16_t* win32_shell_dir::iterator::name() {
  if (!has_item()) return nullptr;
  if (parsing_name_.empty()) parsing_name_ = display_name_of(folder_, item_, SHGDN_INFOLDER | SHGDN_FORPARSING);
  return parsing_name_.c_str();
}

const char16_t* win32_shell_dir::iterator::display_name() {
  if (!has_item()) return nullptr;
  if (display_name_.empty()) display_name_ = display_name_of(folder_, item_, SHGDN_INFOLDER);
  return display_name_.c_str();
}

std::int32_t win32_shell_dir::iterator::kind() {
  if (!has_item()) return 0;
  const std::uint32_t a = attributes_;
  if (!(a & SFGAO_FOLDER) || ((a & SFGAO_BROWSABLE) && !(a & (SFGAO_FILESYSANCESTOR | SFGAO_LINK))))
    return (a & SFGAO_LINK) ? entry_kind::shell_link : entry_kind::file;
  if (kind_ == 0) kind_ = shell_dir::item_kind(a, display_name_of(folder_, item_, SHGDN_FORPARSING));
  return kind_;
}

const win32_shell_dir::iterator::find_data* win32_shell_dir::iterator::details() {
  if (!has_item()) return nullptr;
  if (find_data_) return find_data_.get();
  if (!folder2_ &&
      (FAILED(guarded_QueryInterface(folder_, IID_IShellFolder2, reinterpret_cast<void**>(&folder2_))) || !folder2_)) {
    folder2_ = nullptr;
    return nullptr;
  }
  static const SHCOLUMNID kFindData{{0x28636AA6, 0x953D, 0x11D2, {0xB5, 0xD6, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}}, 0};
  static const SHCOLUMNID kSize{{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}}, 12};
  VARIANT v;
  VariantInit(&v);
  if (FAILED(folder2_->GetDetailsEx(item_, &kFindData, &v))) return nullptr;
  auto copy = std::make_unique<find_data>();
  bool ok = false;
  if (SUCCEEDED(VariantChangeType(&v, &v, 0, VT_ARRAY | VT_UI1)) && v.parray &&
      v.parray->rgsabound[0].cElements >= sizeof(WIN32_FIND_DATAW)) {
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(v.parray, &data)) && data) {
      std::memcpy(&copy->data, data, sizeof(WIN32_FIND_DATAW));
      SafeArrayUnaccessData(v.parray);
      ok = true;
    }
  }
  VariantClear(&v);
  if (!ok) return nullptr;

  VariantInit(&v);
  if (SUCCEEDED(folder2_->GetDetailsEx(item_, &kSize, &v)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BSTR)) &&
      v.bstrVal) {
    std::uint64_t n = 0;
    bool whole = *v.bstrVal != 0;
    for (const char16_t* p = v.bstrVal; *p; ++p) {
      if (*p < u'0' || *p > u'9' || n > (~std::uint64_t{0} - 9) / 10) {
        whole = false;
        break;
      }
      n = n * 10 + (*p - u'0');
    }
    if (whole && n != 0) {
      copy->data.nFileSizeHigh = static_cast<DWORD>(n >> 32);
      copy->data.nFileSizeLow = static_cast<DWORD>(n);
    }
  }
  VariantClear(&v);
  find_data_ = std::move(copy);
  return find_data_.get();
}

std::uint64_t win32_shell_dir::iterator::size() {
  const find_data* f = details();
  return f ? (static_cast<std::uint64_t>(f->data.nFileSizeHigh) << 32) | f->data.nFileSizeLow : 0;
}

std::int64_t win32_shell_dir::iterator::write_time() {
  const find_data* f = details();
  return f ? file_time_to_ms(f->data.ftLastWriteTime) : 0;
}

std::int64_t win32_shell_dir::iterator::creation_time() {
  const find_data* f = details();
  return f ? file_time_to_ms(f->data.ftCreationTime) : 0;
}

std::int64_t win32_shell_dir::iterator::access_time() {
  const find_data* f = details();
  return f ? file_time_to_ms(f->data.ftLastAccessTime) : 0;
}

std::int32_t win32_shell_dir::iterator::attributes() {
  const find_data* f = details();
  return f ? static_cast<std::int32_t>(f->data.dwFileAttributes) : 0;
}

bool win32_shell_dir::iterator::is_hidden() { return has_item() && (attributes_ & SFGAO_HIDDEN); }

int win32_shell_dir::iterator::expandable() {
  if (!has_item() || kind() == entry_kind::file) return 0;
  if (!(asked_ & SFGAO_HASSUBFOLDER)) {
    LPCITEMIDLIST items[1] = {item_};
    SFGAOF a = SFGAO_HASSUBFOLDER;
    if (SUCCEEDED(guarded_GetAttributesOf(folder_, 1, items, &a)) && (a & SFGAO_HASSUBFOLDER))
      attributes_ |= SFGAO_HASSUBFOLDER;
    asked_ |= SFGAO_HASSUBFOLDER;
  }
  return (attributes_ & SFGAO_HASSUBFOLDER) ? 2 : 1;
}

win32_shell_dir::normal_iterator::normal_iterator(win32_shell_dir* dir) : iterator(dir->folder_) {
  folder_->AddRef();
  constexpr SHCONTF kAll = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN;
  HWND owner = prompt_owner_window();
  auto enumerate = [&] {
    enum_ = nullptr;
    HRESULT hr = guarded_EnumObjects(folder_, owner, kAll, &enum_);
    if (hr == CO_E_NOTINITIALIZED && SUCCEEDED(CoInitialize(nullptr))) {
      hr = guarded_EnumObjects(folder_, owner, kAll, &enum_);
      CoUninitialize();
    }
    if (FAILED(hr)) enum_ = nullptr;
    return hr;
  };
  HRESULT hr = enumerate();
  if (hr == E_ACCESSDENIED && !owner) {
    // A server or share may let us in once credentials are given.
    const char16_t* p = dir->path();
    std::size_t more = 0;
    const bool unc = p[0] == u'\\' && p[1] == u'\\';
    for (const char16_t* q = p + (unc ? 2 : 0); unc && *q; ++q) more += *q == u'\\';
    if (unc && (more == 1 || more == 2)) {
      while (hr == E_ACCESSDENIED) {
        access_retry_fn handler = access_retry_handler();
        if (!handler || !handler(dir, u"")) break;
        hr = enumerate();
      }
    }
  }
  if (FAILED(hr) || !enum_) {
    set_error(shell_error(KV_SITE, fs_error::open, FAILED(hr) ? hr : E_FAIL));
    return;
  }
  next();
}

win32_shell_dir::normal_iterator::~normal_iterator() {
  if (enum_) enum_->Release();
}

void win32_shell_dir::normal_iterator::next() {
  if (Bad() || !enum_) return;
  for (;;) {
    LPITEMIDLIST got = nullptr;
    ULONG fetched = 0;
    const HRESULT hr = guarded_Next(enum_, 1, &got, &fetched);
    if (FAILED(hr)) {
      set_error(shell_error(KV_SITE, fs_error::read, hr));
      return;
    }
    if (hr == S_FALSE || !got) {
      shell_free(got);
      set_error(shell_error(KV_SITE, fs_error::end_of_file, hr));
      return;
    }
    set_item(got, false);
    shell_free(got);
    if (Bad()) return;
    if (attributes_ & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR)) return;
  }
}
