// The shell's folder objects over the namespace model: one object per folder
// (desktop, computer, network, a server, or a file-system folder: a drive, a
// share, the documents folder and anything below them), named by its absolute
// items. Objects are immutable apart from their reference count, so any
// thread may use them.
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/win32/kernel32/ansi.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/ole32/com_internal.h"
#include "platform/win32/kernel32/fileops.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/shell32/shell_items.h"
#include "platform/win32/shell32/shobj.h"
#include "platform/win32/kernel32/volumes.h"

namespace {

using namespace win32::shell;
using Items = std::vector<Item>;

// The find-data and size columns of GetDetailsEx.
constexpr GUID kFindDataColumn = {0x28636AA6, 0x953D, 0x11D2, {0xB5, 0xD6, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
constexpr GUID kStorageColumns = {0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}};
constexpr DWORD kSizeColumn = 12;

enum class Kind { Desktop, Computer, Network, Server, FileSystem, Bad };

Kind kind_of(const Items& abs) {
  if (abs.empty()) return Kind::Desktop;
  if (abs.size() == 1 && abs[0].tag == kTagComputer) return Kind::Computer;
  if (abs.size() == 1 && abs[0].tag == kTagNetwork) return Kind::Network;
  if (abs.size() == 2 && abs[0].tag == kTagNetwork && abs[1].tag == kTagServer) return Kind::Server;
  return path_of(abs).empty() ? Kind::Bad : Kind::FileSystem;
}

std::u16string join(std::u16string dir, std::u16string_view name) {
  if (!dir.empty() && dir.back() != u'\\') dir += u'\\';
  dir += name;
  return dir;
}

bool ends_with_lnk(std::u16string_view name) {
  return name.size() >= 4 && same_text(name.substr(name.size() - 4), u".lnk");
}

// The folder that holds the world's servers, as a Windows path.
std::u16string net_folder() { return win32::to_windows_path(win32::world_root() + "/net"); }

// The entries of a folder, "." and ".." left out; 0 or the Win32 error.
DWORD list_folder(const std::u16string& dir, std::vector<WIN32_FIND_DATAW>& out) {
  out.clear();
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(join(dir, u"*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES ? 0 : e;
  }
  do {
    std::u16string_view n(d.cFileName);
    if (n != u"." && n != u"..") out.push_back(d);
  } while (FindNextFileW(h, &d));
  FindClose(h);
  return 0;
}

// A server's folder in the world, or empty with ERROR_BAD_NETPATH.
std::u16string server_folder(std::u16string_view server_item) {
  std::u16string name(server_item.substr(server_item.size() >= 2 ? 2 : 0));
  std::u16string dir = join(net_folder(), name);
  DWORD a = name.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(dir.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_BAD_NETPATH);
    return {};
  }
  return dir;
}

// The Win32 attributes of an item, or INVALID_FILE_ATTRIBUTES with `error`
// set when it does not exist.
DWORD item_attributes(const Items& abs, DWORD& error) {
  error = 0;
  switch (kind_of(abs)) {
    case Kind::Desktop:
    case Kind::Computer:
    case Kind::Network:
      return FILE_ATTRIBUTE_DIRECTORY;
    case Kind::Server:
      if (server_folder(abs[1].name).empty()) break;
      return FILE_ATTRIBUTE_DIRECTORY;
    case Kind::FileSystem: {
      if (abs.size() == 2 && abs[1].tag == kTagDrive && GetDriveTypeW(abs[1].name.c_str()) == DRIVE_NO_ROOT_DIR) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        break;
      }
      DWORD a = GetFileAttributesW(path_of(abs).c_str());
      if (a != INVALID_FILE_ATTRIBUTES) return a;
      break;
    }
    case Kind::Bad:
      SetLastError(ERROR_INVALID_DATA);
      break;
  }
  error = GetLastError();
  if (!error) error = ERROR_FILE_NOT_FOUND;
  return INVALID_FILE_ATTRIBUTES;
}

bool has_subfolder(const Items& abs) {
  std::vector<WIN32_FIND_DATAW> entries;
  if (list_folder(path_of(abs), entries)) return false;
  for (const auto& e : entries)
    if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return true;
  return false;
}

// The SFGAO bits of an item, limited to `mask`. With SFGAO_VALIDATE an item
// that no longer exists fails with its Win32 error.
HRESULT sfgao_of(const Items& abs, SFGAOF mask, SFGAOF& out) {
  out = 0;
  DWORD error;
  DWORD a = item_attributes(abs, error);
  if (a == INVALID_FILE_ATTRIBUTES) {
    if (mask & SFGAO_VALIDATE) return HRESULT_FROM_WIN32(error);
    a = 0;  // what the list alone tells
  }
  SFGAOF bits = 0;
  const Kind kind = kind_of(abs);
  if (kind == Kind::Desktop || kind == Kind::Computer || kind == Kind::Network || kind == Kind::Server) {
    bits = SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
  } else if (kind == Kind::FileSystem) {
    bits = SFGAO_FILESYSTEM;
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
      bits |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR;
      if ((mask & SFGAO_HASSUBFOLDER) && has_subfolder(abs)) bits |= SFGAO_HASSUBFOLDER;
    } else if (ends_with_lnk(abs.back().name)) {
      bits |= SFGAO_LINK;
    }
    if (a & FILE_ATTRIBUTE_HIDDEN) bits |= SFGAO_HIDDEN;
  }
  out = bits & mask & ~SFGAOF(SFGAO_VALIDATE);
  return S_OK;
}

std::u16string drive_display_name(const std::u16string& root) {
  WCHAR label[MAX_PATH + 1] = {};
  std::u16string name;
  if (GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0) && label[0])
    name = label;
  else if (win32::drive_is_floppy(root[0]))
    name = u"Floppy Disk Drive";
  else
    switch (GetDriveTypeW(root.c_str())) {
      case DRIVE_REMOVABLE: name = u"Removable Disk"; break;
      case DRIVE_CDROM: name = u"CD Drive"; break;
      case DRIVE_REMOTE: name = u"Network Drive"; break;
      default: name = u"Local Disk"; break;
    }
  return name + u" (" + root.substr(0, 2) + u")";
}

// The name of the item `abs` as GetDisplayNameOf gives it.
std::u16string display_name(const Items& abs, SHGDNF flags) {
  const bool parsing = flags & SHGDN_FORPARSING;
  if (abs.empty()) {  // the desktop itself: its parsing name is the user's desktop folder
    if (!parsing) return u"Desktop";
    WCHAR profile[MAX_PATH + 1] = {};
    DWORD n = GetEnvironmentVariableW(u"USERPROFILE", profile, MAX_PATH + 1);
    return join(n && n <= MAX_PATH ? std::u16string(profile, n) : std::u16string(), u"Desktop");
  }
  const Item& last = abs.back();
  if (parsing && !(flags & SHGDN_INFOLDER)) {
    if (abs.size() > 1 || last.tag != kTagDocuments) {
      std::u16string path = path_of(abs);
      if (!path.empty()) return path;
    }
  }
  switch (last.tag) {
    case kTagComputer: return parsing ? kComputer : u"Computer";
    case kTagNetwork: return parsing ? kNetwork : u"Network";
    case kTagDocuments: return parsing ? kDocuments : u"Documents";
    case kTagDrive: return parsing ? last.name : drive_display_name(last.name);
    case kTagServer: return parsing ? last.name : last.name.substr(2);
    default: return last.name;
  }
}

// Looks each component up below `dir` and appends it with its name as stored.
HRESULT append_names(std::u16string dir, std::u16string_view relative, Items& abs) {
  std::vector<std::u16string> parts = components(relative);
  if (parts.empty()) return E_INVALIDARG;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::u16string& part = parts[i];
    if (part == u"." || part == u".." || part.find_first_of(u"*?:\"<>|") != std::u16string::npos)
      return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(join(dir, part).c_str(), &d);
    if (h == INVALID_HANDLE_VALUE)
      return HRESULT_FROM_WIN32(i + 1 < parts.size() ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    FindClose(h);
    abs.push_back({kTagName, d.cFileName});
    dir = join(dir, d.cFileName);
  }
  return S_OK;
}

bool starts_with(const Items& abs, const Items& prefix) {
  if (abs.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (abs[i].tag != prefix[i].tag || !same_text(abs[i].name, prefix[i].name)) return false;
  return true;
}

bool is_absolute(std::u16string_view t) {
  return (t.size() >= 2 && t[0] == u'\\' && t[1] == u'\\') || (t.size() >= 2 && t[1] == u':') ||
         (t.size() >= 2 && t[0] == u':' && t[1] == u':');
}

// Names of drives, servers and shares with their names as stored, then any
// names below them looked up as stored.
HRESULT parse_to_items(std::u16string_view text, Items& abs) {
  HRESULT hr = parse_full(text, abs);
  if (FAILED(hr)) return hr;
  std::size_t names = 0;
  while (names < abs.size() && abs[names].tag != kTagName) ++names;
  if (names == abs.size()) return S_OK;
  Items head(abs.begin(), abs.begin() + static_cast<std::ptrdiff_t>(names));
  std::u16string rest;
  for (std::size_t i = names; i < abs.size(); ++i) rest = join(rest, abs[i].name);
  std::u16string base = path_of(head);
  if (base.empty()) return E_INVALIDARG;
  abs = head;
  return append_names(base, rest, abs);
}

HRESULT strret_of(const std::u16string& text, STRRET* out) {
  auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((text.size() + 1) * 2));
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(copy, text.c_str(), (text.size() + 1) * 2);
  out->uType = STRRET_WSTR;
  out->pOleStr = copy;
  return S_OK;
}

HRESULT find_data_of(const Items& abs, WIN32_FIND_DATAW& d) {
  std::u16string path = path_of(abs);
  if (path.empty() || abs.back().tag != kTagName) return E_FAIL;  // drives and shares have none
  HANDLE h = FindFirstFileW(path.c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  FindClose(h);
  return S_OK;
}

// ---------------------------------------------------------------------------

class EnumItems final : public IEnumIDList {
 public:
  EnumItems(std::shared_ptr<const Items> items, std::size_t at) : items_(std::move(items)), at_(at) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    return win32::answer_query(riid, object, this, {&IID_IEnumIDList});
  }
  ULONG AddRef() override { return refs_.add(); }
  ULONG Release() override { return refs_.drop(this); }
  HRESULT Next(ULONG count, LPITEMIDLIST* lists, ULONG* fetched) override {
    if (!lists || (count != 1 && !fetched)) return E_INVALIDARG;
    ULONG got = 0;
    std::size_t at = at_.load();
    while (got < count && at < items_->size()) {
      lists[got] = hand_out({(*items_)[at]});
      if (!lists[got]) {
        for (ULONG i = 0; i < got; ++i) CoTaskMemFree(lists[i]);
        if (fetched) *fetched = 0;
        return E_OUTOFMEMORY;
      }
      ++got;
      ++at;
    }
    at_ = at;
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    std::size_t at = at_.load(), left = items_->size() - at;
    at_ = at + (count < left ? count : left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    at_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumIDList** copy) override {
    if (!copy) return E_POINTER;
    *copy = new (std::nothrow) EnumItems(items_, at_.load());
    return *copy ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::shared_ptr<const Items> items_;
  std::atomic<std::size_t> at_;
  win32::com_refs refs_;
};

class Folder final : public IShellFolder2 {
 public:
  explicit Folder(Items abs) : abs_(std::move(abs)), kind_(kind_of(abs_)) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    return win32::answer_query(riid, object, static_cast<IShellFolder2*>(this), {&IID_IShellFolder, &IID_IShellFolder2});
  }
  ULONG AddRef() override { return refs_.add(); }
  ULONG Release() override { return refs_.drop(this); }

  HRESULT ParseDisplayName(HWND, IBindCtx*, LPWSTR name, ULONG* eaten, LPITEMIDLIST* list,
                           ULONG* attributes) override {
    if (list) *list = nullptr;
    if (!name || !list) return E_INVALIDARG;
    std::u16string_view text(name);
    Items abs;
    HRESULT hr = E_INVALIDARG;
    switch (kind_) {
      case Kind::Desktop: hr = parse_to_items(text, abs); break;
      case Kind::Computer:
        if (text.size() >= 2 && text[1] == u':') hr = parse_to_items(text, abs);
        break;
      case Kind::Network:
        if (text.size() > 2 && text[0] == u'\\' && text[1] == u'\\') hr = parse_to_items(text, abs);
        break;
      case Kind::Server:
        if (text.size() > 2 && text[0] == u'\\' && text[1] == u'\\') hr = parse_to_items(text, abs);
        else if (!text.empty() && !is_absolute(text)) hr = parse_to_items(join(abs_[1].name, text), abs);
        break;
      case Kind::FileSystem:
        if (is_absolute(text)) break;
        abs = abs_;
        hr = append_names(path_of(abs_), text, abs);
        break;
      case Kind::Bad: break;
    }
    if (FAILED(hr)) return hr;
    if (abs.size() <= abs_.size() || !starts_with(abs, abs_)) return E_INVALIDARG;
    if (kind_ == Kind::Server) {  // the share as the server folder knows it
      if (server_folder(abs_[1].name).empty()) return HRESULT_FROM_WIN32(ERROR_BAD_NETPATH);
      if (GetFileAttributesW(path_of(Items(abs.begin(), abs.begin() + 3)).c_str()) == INVALID_FILE_ATTRIBUTES)
        return HRESULT_FROM_WIN32(ERROR_BAD_NET_NAME);
    }
    if (attributes) {
      SFGAOF got = 0;
      sfgao_of(abs, *attributes, got);
      *attributes = got;
    }
    *list = hand_out(abs, abs_.size());
    if (!*list) return E_OUTOFMEMORY;
    if (eaten) *eaten = static_cast<ULONG>(text.size());
    return S_OK;
  }

  HRESULT EnumObjects(HWND, SHCONTF flags, IEnumIDList** enumerator) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    auto items = std::make_shared<Items>();
    auto add = [&](Item item, bool folder, bool hidden) {
      if (folder ? !(flags & SHCONTF_FOLDERS) : !(flags & SHCONTF_NONFOLDERS)) return;
      if (hidden && !(flags & SHCONTF_INCLUDEHIDDEN)) return;
      items->push_back(std::move(item));
    };
    std::vector<WIN32_FIND_DATAW> entries;
    switch (kind_) {
      case Kind::Desktop:
        add({kTagComputer, kComputer}, true, false);
        add({kTagNetwork, kNetwork}, true, false);
        add({kTagDocuments, kDocuments}, true, false);
        break;
      case Kind::Computer: {
        DWORD drives = GetLogicalDrives();
        for (int i = 0; i < 26; ++i)
          if (drives & (1u << i)) add({kTagDrive, {char16_t(u'A' + i), u':', u'\\'}}, true, false);
        break;
      }
      case Kind::Network:
        if (DWORD e = list_folder(net_folder(), entries); e && e != ERROR_PATH_NOT_FOUND) return HRESULT_FROM_WIN32(e);
        for (const auto& d : entries)
          if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            add({kTagServer, u"\\\\" + std::u16string(d.cFileName)}, true, false);
        break;
      case Kind::Server: {
        std::u16string dir = server_folder(abs_[1].name);
        if (dir.empty()) return HRESULT_FROM_WIN32(ERROR_BAD_NETPATH);
        if (DWORD e = list_folder(dir, entries)) return HRESULT_FROM_WIN32(e);
        for (const auto& d : entries)
          if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) add({kTagShare, d.cFileName}, true, false);
        break;
      }
      case Kind::FileSystem: {
        std::u16string dir = path_of(abs_);
        DWORD a = GetFileAttributesW(dir.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) return HRESULT_FROM_WIN32(GetLastError());
        if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
        if (DWORD e = list_folder(dir, entries)) return HRESULT_FROM_WIN32(e);
        for (const auto& d : entries)
          add({kTagName, d.cFileName}, d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
              d.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
        break;
      }
      case Kind::Bad: return E_FAIL;
    }
    *enumerator = new (std::nothrow) EnumItems(std::move(items), 0);
    return *enumerator ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT BindToObject(LPCITEMIDLIST list, IBindCtx*, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    Items rel = items_of(list);
    if (rel.empty()) return E_INVALIDARG;
    Items abs = abs_;
    abs.insert(abs.end(), rel.begin(), rel.end());
    if (kind_of(abs) == Kind::Bad) return E_INVALIDARG;
    DWORD error;
    DWORD a = item_attributes(abs, error);
    if (a == INVALID_FILE_ATTRIBUTES) return HRESULT_FROM_WIN32(error);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return E_NOINTERFACE;  // a file has no folder of its own
    auto* folder = new (std::nothrow) Folder(std::move(abs));
    if (!folder) return E_OUTOFMEMORY;
    HRESULT hr = folder->QueryInterface(riid, object);
    folder->Release();
    return hr;
  }

  HRESULT BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void** object) override {
    if (object) *object = nullptr;
    return E_NOTIMPL;
  }

  HRESULT CompareIDs(LPARAM, LPCITEMIDLIST a, LPCITEMIDLIST b) override {
    if (!a || !b) return E_INVALIDARG;
    Items x = items_of(a), y = items_of(b);
    int r = 0;
    for (std::size_t i = 0; !r && i < x.size() && i < y.size(); ++i) {
      const std::u16string &p = x[i].name, &q = y[i].name;
      for (std::size_t k = 0; !r && k < p.size() && k < q.size(); ++k) {
        char16_t c = win32::upcase(p[k]), d = win32::upcase(q[k]);
        r = c < d ? -1 : c > d ? 1 : 0;
      }
      if (!r) r = p.size() < q.size() ? -1 : p.size() > q.size() ? 1 : 0;
      if (!r) r = x[i].tag < y[i].tag ? -1 : x[i].tag > y[i].tag ? 1 : 0;
    }
    if (!r) r = x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
    // A success whose low 16 bits hold the signed result.
    return static_cast<HRESULT>(static_cast<USHORT>(static_cast<SHORT>(r)));
  }

  HRESULT CreateViewObject(HWND, REFIID, void** object) override {
    if (object) *object = nullptr;
    return E_NOTIMPL;
  }

  HRESULT GetAttributesOf(UINT count, LPCITEMIDLIST* lists, SFGAOF* in_out) override {
    if (!in_out || (count && !lists)) return E_INVALIDARG;
    const SFGAOF mask = *in_out;
    SFGAOF common = ~SFGAOF(0);
    if (count == 0) {  // the folder itself
      HRESULT hr = sfgao_of(abs_, mask, common);
      if (FAILED(hr)) return hr;
    }
    for (UINT i = 0; i < count; ++i) {
      if (!lists[i]) return E_INVALIDARG;
      Items abs = abs_;
      Items rel = items_of(lists[i]);
      abs.insert(abs.end(), rel.begin(), rel.end());
      SFGAOF bits = 0;
      HRESULT hr = sfgao_of(abs, mask, bits);
      if (FAILED(hr)) return hr;
      common &= bits;
    }
    *in_out = common & mask & ~SFGAOF(SFGAO_VALIDATE);
    return S_OK;
  }

  HRESULT GetUIObjectOf(HWND, UINT count, LPCITEMIDLIST* lists, REFIID riid, UINT*, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (count != 1 || !lists || !lists[0]) return E_INVALIDARG;
    if (!IsEqualIID(riid, IID_IShellLinkW) && !IsEqualIID(riid, IID_IShellLinkA)) return E_NOINTERFACE;
    Items abs = abs_;
    Items rel = items_of(lists[0]);
    abs.insert(abs.end(), rel.begin(), rel.end());
    SFGAOF bits = 0;
    if (rel.empty() || FAILED(sfgao_of(abs, SFGAO_LINK, bits)) || !(bits & SFGAO_LINK)) return E_NOINTERFACE;
    IPersistFile* file = nullptr;
    HRESULT hr = win32::make_shell_link(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (FAILED(hr)) return hr;
    hr = file->Load(path_of(abs).c_str(), 0);
    if (SUCCEEDED(hr)) hr = file->QueryInterface(riid, object);
    file->Release();
    return hr;
  }

  HRESULT GetDisplayNameOf(LPCITEMIDLIST list, SHGDNF flags, STRRET* name) override {
    if (!name) return E_INVALIDARG;
    Items abs = abs_;
    Items rel = items_of(list);
    abs.insert(abs.end(), rel.begin(), rel.end());
    if (!rel.empty() && kind_of(abs) == Kind::Bad && rel.back().tag != kTagComputer &&
        rel.back().tag != kTagNetwork && rel.back().tag != kTagDocuments)
      return E_INVALIDARG;
    return strret_of(display_name(abs, flags), name);
  }

  HRESULT SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, SHGDNF, LPITEMIDLIST* out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT GetDefaultSearchGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT EnumSearches(IEnumExtraSearch** searches) override {
    if (searches) *searches = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetDefaultColumn(DWORD, ULONG*, ULONG*) override { return E_NOTIMPL; }
  HRESULT GetDefaultColumnState(UINT, DWORD*) override { return E_NOTIMPL; }

  HRESULT GetDetailsEx(LPCITEMIDLIST list, const SHCOLUMNID* column, VARIANT* value) override {
    if (!column || !value || !list) return E_INVALIDARG;
    VariantInit(value);
    Items abs = abs_;
    Items rel = items_of(list);
    abs.insert(abs.end(), rel.begin(), rel.end());
    if (rel.empty()) return E_INVALIDARG;
    const bool find_data = IsEqualGUID(column->fmtid, kFindDataColumn) && column->pid == 0;
    const bool size = IsEqualGUID(column->fmtid, kStorageColumns) && column->pid == kSizeColumn;
    if (!find_data && !size) return E_INVALIDARG;
    WIN32_FIND_DATAW d{};
    HRESULT hr = find_data_of(abs, d);
    if (FAILED(hr)) return hr;
    if (find_data) {
      SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, sizeof d);
      if (!a) return E_OUTOFMEMORY;
      std::memcpy(a->pvData, &d, sizeof d);
      value->vt = VT_ARRAY | VT_UI1;
      value->parray = a;
    } else if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {  // folders have no size
      value->vt = VT_UI8;
      value->ullVal = (ULONGLONG(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    }
    return S_OK;
  }

  HRESULT GetDetailsOf(LPCITEMIDLIST, UINT, void*) override { return E_NOTIMPL; }
  HRESULT MapColumnToSCID(UINT, SHCOLUMNID*) override { return E_NOTIMPL; }

 private:
  const Items abs_;
  const Kind kind_;
  win32::com_refs refs_;
};

static_assert(sizeof(WIN32_FIND_DATAW) == 592, "the find data travels as 592 bytes");

}  // namespace

HRESULT SHGetMalloc(IMalloc** malloc) { return CoGetMalloc(1, malloc); }

HRESULT SHGetDesktopFolder(IShellFolder** folder) {
  if (!folder) return E_INVALIDARG;
  *folder = new (std::nothrow) Folder(Items{});
  return *folder ? S_OK : E_OUTOFMEMORY;
}

DWORD QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) {
  if (!device || !target) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char letter = device[0] >= 'a' && device[0] <= 'z' ? char(device[0] - 32) : device[0];
  if (letter < 'A' || letter > 'Z' || device[1] != ':' || device[2] != 0 ||
      win32::drive_root(char16_t(letter)).empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  // Devices are numbered in drive order within their kind: floppies from 0,
  // volumes from 1.
  const bool floppy = win32::drive_is_floppy(char16_t(letter));
  DWORD number = floppy ? 0 : 1;
  const DWORD drives = GetLogicalDrives();
  for (char l = 'A'; l < letter; ++l)
    if ((drives & (1u << (l - 'A'))) && win32::drive_is_floppy(char16_t(l)) == floppy) ++number;
  std::string name = (floppy ? "\\Device\\Floppy" : "\\Device\\HarddiskVolume") + std::to_string(number);
  // A list of one name: its terminator and the list's.
  const DWORD needed = static_cast<DWORD>(name.size() + 2);
  if (size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(target, name.c_str(), name.size() + 1);
  target[name.size() + 1] = 0;
  return needed;
}
