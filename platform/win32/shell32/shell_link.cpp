// Shell links: the ShellLink class with its file form (the shell-link binary
// format). Item ID lists stored in a link name another system's items, which
// mean nothing here; the target is taken from the link's path information
// and its list made by parsing that path.
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/kernel32/ansi.h"
#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/ole32/com_internal.h"
#include "platform/win32/kernel32/files.h"
#include "platform/win32/kernel32/handles.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/shell32/shobj.h"

namespace {

constexpr DWORD kHasTargetIdList = 0x1, kHasLinkInfo = 0x2, kHasName = 0x4, kHasRelativePath = 0x8,
                kHasWorkingDir = 0x10, kHasArguments = 0x20, kHasIconLocation = 0x40, kIsUnicode = 0x80;
constexpr DWORD kVolumeIdAndLocalBasePath = 0x1, kCommonNetworkRelativeLink = 0x2;
constexpr DWORD kHeaderSize = 0x4C;
constexpr std::size_t kMaxLinkFile = 1 << 20;  // far above any real link

const HRESULT kBadLink = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);

// What a link file holds, as far as the layer uses it.
struct LinkData {
  DWORD attributes = 0;
  FILETIME created{}, accessed{}, written{};
  DWORD size = 0;
  int icon_index = 0;
  int show = 1;  // SW_SHOWNORMAL
  WORD hotkey = 0;
  std::u16string target, description, relative_path, working_dir, arguments, icon_location;
};

// Bounds-checked reads over the file's bytes.
class Reader {
 public:
  Reader(const std::vector<BYTE>& data) : d_(data) {}
  bool u16(std::size_t at, WORD& v) const { return copy(at, &v, 2); }
  bool u32(std::size_t at, DWORD& v) const { return copy(at, &v, 4); }
  bool copy(std::size_t at, void* out, std::size_t n) const {
    if (at > d_.size() || n > d_.size() - at) return false;
    std::memcpy(out, d_.data() + at, n);
    return true;
  }
  // A NUL-terminated ANSI text starting at `at` and ending before `end`.
  bool ansi(std::size_t at, std::size_t end, std::u16string& out) const {
    if (end > d_.size() || at >= end) return false;
    const BYTE* p = d_.data() + at;
    const void* nul = std::memchr(p, 0, end - at);
    if (!nul) return false;
    out = from_ansi(reinterpret_cast<const char*>(p), static_cast<const BYTE*>(nul) - p);
    return true;
  }
  // A NUL-terminated UTF-16 text starting at `at` and ending before `end`.
  bool wide(std::size_t at, std::size_t end, std::u16string& out) const {
    out.clear();
    for (std::size_t i = at;; i += 2) {
      WORD c;
      if (i + 2 > end || !u16(i, c)) return false;
      if (!c) return true;
      out.push_back(static_cast<char16_t>(c));
    }
  }
  std::size_t size() const { return d_.size(); }
  const BYTE* at(std::size_t i) const { return d_.data() + i; }

  static std::u16string from_ansi(const char* p, std::size_t n) {
    if (!n) return {};
    int len = MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(n), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(len > 0 ? len : 0), u'\0');
    if (len > 0) MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(n), out.data(), len);
    return out;
  }

 private:
  const std::vector<BYTE>& d_;
};

// The target path of the LinkInfo structure at `start`.
HRESULT read_link_info(const Reader& r, std::size_t start, std::size_t& next, std::u16string& target) {
  DWORD size, header, flags, volume_off, base_off, net_off, suffix_off;
  if (!r.u32(start, size) || !r.u32(start + 4, header) || size < 0x1C || size > r.size() - start) return kBadLink;
  const std::size_t end = start + size;
  if (header < 0x1C || header > size || !r.u32(start + 8, flags) || !r.u32(start + 12, volume_off) ||
      !r.u32(start + 16, base_off) || !r.u32(start + 20, net_off) || !r.u32(start + 24, suffix_off))
    return kBadLink;
  next = end;
  DWORD base_off_w = 0, suffix_off_w = 0;
  if (header >= 0x24 && (!r.u32(start + 28, base_off_w) || !r.u32(start + 32, suffix_off_w))) return kBadLink;
  // Offsets are relative to the structure and must stay inside it.
  auto text = [&](DWORD off, DWORD off_w, std::u16string& out) {
    if (off_w) return off_w < size && r.wide(start + off_w, end, out);
    return off && off < size && r.ansi(start + off, end, out);
  };
  std::u16string suffix;
  if ((suffix_off || suffix_off_w) && !text(suffix_off, suffix_off_w, suffix)) return kBadLink;
  if (flags & kVolumeIdAndLocalBasePath) {
    DWORD volume_size;
    if (!volume_off || volume_off >= size || !r.u32(start + volume_off, volume_size) || volume_size < 0x10 ||
        volume_size > size - volume_off)
      return kBadLink;
    std::u16string base;
    if (!text(base_off, base_off_w, base)) return kBadLink;
    target = base + suffix;
    return S_OK;
  }
  if (flags & kCommonNetworkRelativeLink) {
    DWORD net_size, net_name_off, net_name_off_w = 0;
    const std::size_t net = start + net_off;
    if (!net_off || net_off >= size || !r.u32(net, net_size) || net_size < 0x14 || net_size > size - net_off ||
        !r.u32(net + 8, net_name_off))
      return kBadLink;
    const std::size_t net_end = net + net_size;
    if (net_name_off > 0x14 && !r.u32(net + 0x14, net_name_off_w)) return kBadLink;
    std::u16string share;
    bool ok = net_name_off_w > 0x14 ? net_name_off_w < net_size && r.wide(net + net_name_off_w, net_end, share)
                                    : net_name_off && net_name_off < net_size && r.ansi(net + net_name_off, net_end, share);
    if (!ok) return kBadLink;
    target = suffix.empty() ? share : share + u"\\" + suffix;
    return S_OK;
  }
  return S_OK;  // neither: the link has no path
}

HRESULT parse_link(const std::vector<BYTE>& bytes, LinkData& out) {
  Reader r(bytes);
  DWORD header, flags;
  GUID clsid;
  if (!r.u32(0, header) || header != kHeaderSize || !r.copy(4, &clsid, 16) || !IsEqualCLSID(clsid, CLSID_ShellLink) ||
      !r.u32(20, flags) || bytes.size() < kHeaderSize)
    return kBadLink;
  DWORD icon, show;
  r.u32(24, out.attributes);
  r.copy(28, &out.created, 8);
  r.copy(36, &out.accessed, 8);
  r.copy(44, &out.written, 8);
  r.u32(52, out.size);
  r.u32(56, icon);
  r.u32(60, show);
  r.u16(64, out.hotkey);
  out.icon_index = static_cast<int>(icon);
  out.show = static_cast<int>(show);
  std::size_t at = kHeaderSize;
  if (flags & kHasTargetIdList) {
    WORD list_size;
    if (!r.u16(at, list_size) || list_size > r.size() - at - 2) return kBadLink;
    at += 2 + list_size;  // foreign items: skipped
  }
  if (flags & kHasLinkInfo) {
    HRESULT hr = read_link_info(r, at, at, out.target);
    if (FAILED(hr)) return hr;
  }
  std::u16string* strings[] = {&out.description, &out.relative_path, &out.working_dir, &out.arguments,
                               &out.icon_location};
  const DWORD string_flags[] = {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments, kHasIconLocation};
  for (int i = 0; i < 5; ++i) {
    if (!(flags & string_flags[i])) continue;
    WORD count;
    if (!r.u16(at, count)) return kBadLink;
    at += 2;
    const std::size_t bytes_needed = (flags & kIsUnicode) ? std::size_t(count) * 2 : count;
    if (bytes_needed > r.size() - at) return kBadLink;
    if (flags & kIsUnicode) {
      strings[i]->resize(count);
      if (count) std::memcpy(strings[i]->data(), r.at(at), bytes_needed);
    } else {
      *strings[i] = Reader::from_ansi(reinterpret_cast<const char*>(r.at(at)), count);
    }
    at += bytes_needed;
  }
  return S_OK;
}

// Copies text into a caller's buffer of `size` characters, cut to fit.
template <class C>
void put_text(const std::basic_string<C>& text, C* buffer, int size) {
  if (!buffer || size <= 0) return;
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, text.data(), n * sizeof(C));
  buffer[n] = 0;
}

std::string to_ansi(const std::u16string& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string from_ansi(LPCSTR text) { return text ? Reader::from_ansi(text, std::strlen(text)) : std::u16string(); }

class ShellLink;

// The narrow and file faces of one link object share its reference count.
class NarrowFace final : public IShellLinkA {
 public:
  explicit NarrowFace(ShellLink& link) : link_(link) {}
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetPath(LPSTR file, int size, WIN32_FIND_DATAA* data, DWORD flags) override;
  HRESULT GetIDList(LPITEMIDLIST* list) override;
  HRESULT SetIDList(LPCITEMIDLIST list) override;
  HRESULT GetDescription(LPSTR name, int size) override;
  HRESULT SetDescription(LPCSTR name) override;
  HRESULT GetWorkingDirectory(LPSTR dir, int size) override;
  HRESULT SetWorkingDirectory(LPCSTR dir) override;
  HRESULT GetArguments(LPSTR args, int size) override;
  HRESULT SetArguments(LPCSTR args) override;
  HRESULT GetHotkey(WORD* hotkey) override;
  HRESULT SetHotkey(WORD hotkey) override;
  HRESULT GetShowCmd(int* show) override;
  HRESULT SetShowCmd(int show) override;
  HRESULT GetIconLocation(LPSTR path, int size, int* icon) override;
  HRESULT SetIconLocation(LPCSTR path, int icon) override;
  HRESULT SetRelativePath(LPCSTR path, DWORD reserved) override;
  HRESULT Resolve(HWND owner, DWORD flags) override;
  HRESULT SetPath(LPCSTR file) override;

 private:
  ShellLink& link_;
};

class FileFace final : public IPersistFile {
 public:
  explicit FileFace(ShellLink& link) : link_(link) {}
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_ShellLink;
    return S_OK;
  }
  HRESULT IsDirty() override;
  HRESULT Load(LPCOLESTR file, DWORD mode) override;
  HRESULT Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  HRESULT SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
  HRESULT GetCurFile(LPOLESTR* file) override;

 private:
  ShellLink& link_;
};

class ShellLink final : public IShellLinkW {
 public:
  ShellLink() : narrow_(*this), file_(*this) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellLinkW)) {
      *object = static_cast<IShellLinkW*>(this);
    } else if (IsEqualIID(riid, IID_IShellLinkA)) {
      *object = static_cast<IShellLinkA*>(&narrow_);
    } else if (IsEqualIID(riid, IID_IPersistFile) || IsEqualIID(riid, IID_IPersist)) {
      *object = static_cast<IPersistFile*>(&file_);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.add(); }
  ULONG Release() override { return refs_.drop(this); }

  HRESULT GetPath(LPWSTR file, int size, WIN32_FIND_DATAW* data, DWORD) override {
    if (!file || size <= 0) return E_INVALIDARG;
    LinkData d = snapshot();
    put_text(d.target, file, size);
    if (data) {
      std::memset(data, 0, sizeof *data);
      data->dwFileAttributes = d.attributes;
      data->ftCreationTime = d.created;
      data->ftLastAccessTime = d.accessed;
      data->ftLastWriteTime = d.written;
      data->nFileSizeLow = d.size;
      std::size_t slash = d.target.find_last_of(u"\\/");
      put_text(slash == std::u16string::npos ? d.target : d.target.substr(slash + 1), data->cFileName, MAX_PATH);
    }
    return d.target.empty() ? S_FALSE : S_OK;
  }
  HRESULT GetIDList(LPITEMIDLIST* list) override {
    if (!list) return E_POINTER;
    *list = nullptr;
    std::u16string target = snapshot().target;
    if (target.empty()) return S_FALSE;
    HRESULT hr = SHParseDisplayName(target.c_str(), nullptr, list, 0, nullptr);
    return SUCCEEDED(hr) ? S_OK : S_FALSE;
  }
  HRESULT SetIDList(LPCITEMIDLIST list) override {
    WCHAR path[MAX_PATH];
    if (!list || !SHGetPathFromIDListW(list, path)) return E_INVALIDARG;
    return SetPath(path);
  }
  HRESULT GetDescription(LPWSTR name, int size) override { return get(&LinkData::description, name, size); }
  HRESULT SetDescription(LPCWSTR name) override { return set(&LinkData::description, name); }
  HRESULT GetWorkingDirectory(LPWSTR dir, int size) override { return get(&LinkData::working_dir, dir, size); }
  HRESULT SetWorkingDirectory(LPCWSTR dir) override { return set(&LinkData::working_dir, dir); }
  HRESULT GetArguments(LPWSTR args, int size) override { return get(&LinkData::arguments, args, size); }
  HRESULT SetArguments(LPCWSTR args) override { return set(&LinkData::arguments, args); }
  HRESULT GetHotkey(WORD* hotkey) override {
    if (!hotkey) return E_POINTER;
    *hotkey = snapshot().hotkey;
    return S_OK;
  }
  HRESULT SetHotkey(WORD hotkey) override {
    std::lock_guard<std::mutex> g(lock_);
    data_.hotkey = hotkey;
    dirty_ = true;
    return S_OK;
  }
  HRESULT GetShowCmd(int* show) override {
    if (!show) return E_POINTER;
    *show = snapshot().show;
    return S_OK;
  }
  HRESULT SetShowCmd(int show) override {
    std::lock_guard<std::mutex> g(lock_);
    data_.show = show;
    dirty_ = true;
    return S_OK;
  }
  HRESULT GetIconLocation(LPWSTR path, int size, int* icon) override {
    if (!icon) return E_POINTER;
    *icon = snapshot().icon_index;
    return get(&LinkData::icon_location, path, size);
  }
  HRESULT SetIconLocation(LPCWSTR path, int icon) override {
    {
      std::lock_guard<std::mutex> g(lock_);
      data_.icon_index = icon;
    }
    return set(&LinkData::icon_location, path);
  }
  HRESULT SetRelativePath(LPCWSTR path, DWORD) override { return set(&LinkData::relative_path, path); }
  // The target must still exist; nothing is searched for.
  HRESULT Resolve(HWND, DWORD) override {
    std::u16string target = snapshot().target;
    if (target.empty()) return E_FAIL;
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
      DWORD e = GetLastError();
      return HRESULT_FROM_WIN32(e ? e : ERROR_FILE_NOT_FOUND);
    }
    return S_OK;
  }
  HRESULT SetPath(LPCWSTR file) override { return set(&LinkData::target, file); }

  LinkData snapshot() {
    std::lock_guard<std::mutex> g(lock_);
    return data_;
  }
  HRESULT get(std::u16string LinkData::*field, LPWSTR out, int size) {
    if (!out || size <= 0) return E_INVALIDARG;
    put_text(snapshot().*field, out, size);
    return S_OK;
  }
  HRESULT set(std::u16string LinkData::*field, LPCWSTR text) {
    if (!text) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(lock_);
    data_.*field = text;
    dirty_ = true;
    return S_OK;
  }
  HRESULT get_narrow(std::u16string LinkData::*field, LPSTR out, int size) {
    if (!out || size <= 0) return E_INVALIDARG;
    put_text(to_ansi(snapshot().*field), out, size);
    return S_OK;
  }

  HRESULT load(LPCOLESTR file) {
    if (!file) return E_INVALIDARG;
    HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    std::vector<BYTE> bytes;
    LARGE_INTEGER size{};
    HRESULT hr = S_OK;
    if (!GetFileSizeEx(h, &size)) {
      hr = HRESULT_FROM_WIN32(GetLastError());
    } else if (size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > kMaxLinkFile) {
      hr = kBadLink;
    } else {
      bytes.resize(static_cast<std::size_t>(size.QuadPart));
      DWORD got = 0;
      if (!bytes.empty() && !ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
        hr = HRESULT_FROM_WIN32(GetLastError());
      else
        bytes.resize(got);
    }
    CloseHandle(h);
    if (FAILED(hr)) return hr;
    LinkData d;
    hr = parse_link(bytes, d);
    if (FAILED(hr)) return hr;
    // Without a path of its own the link may still name its target relative
    // to where it lies.
    if (d.target.empty() && !d.relative_path.empty()) {
      std::u16string dir(file);
      std::size_t slash = dir.find_last_of(u"\\/");
      dir = slash == std::u16string::npos ? std::u16string() : dir.substr(0, slash + 1);
      d.target = win32::full_path_name(dir + d.relative_path);
    }
    std::lock_guard<std::mutex> g(lock_);
    data_ = std::move(d);
    file_name_ = file;
    dirty_ = false;
    return S_OK;
  }
  HRESULT is_dirty() {
    std::lock_guard<std::mutex> g(lock_);
    return dirty_ ? S_OK : S_FALSE;
  }
  HRESULT cur_file(LPOLESTR* out) {
    if (!out) return E_POINTER;
    std::lock_guard<std::mutex> g(lock_);
    *out = nullptr;
    if (file_name_.empty()) return S_FALSE;
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc((file_name_.size() + 1) * 2));
    if (!*out) return E_OUTOFMEMORY;
    std::memcpy(*out, file_name_.c_str(), (file_name_.size() + 1) * 2);
    return S_OK;
  }

 private:
  NarrowFace narrow_;
  FileFace file_;
  win32::com_refs refs_;
  std::mutex lock_;
  LinkData data_;
  std::u16string file_name_;
  bool dirty_ = false;
};

HRESULT NarrowFace::QueryInterface(REFIID riid, void** object) { return link_.QueryInterface(riid, object); }
ULONG NarrowFace::AddRef() { return link_.AddRef(); }
ULONG NarrowFace::Release() { return link_.Release(); }
HRESULT NarrowFace::GetPath(LPSTR file, int size, WIN32_FIND_DATAA* data, DWORD flags) {
  if (!file || size <= 0) return E_INVALIDARG;
  WIN32_FIND_DATAW wide;
  WCHAR path[MAX_PATH * 4];
  HRESULT hr = link_.GetPath(path, MAX_PATH * 4, data ? &wide : nullptr, flags);
  if (FAILED(hr)) return hr;
  put_text(to_ansi(path), file, size);
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = wide.dwFileAttributes;
    data->ftCreationTime = wide.ftCreationTime;
    data->ftLastAccessTime = wide.ftLastAccessTime;
    data->ftLastWriteTime = wide.ftLastWriteTime;
    data->nFileSizeLow = wide.nFileSizeLow;
    put_text(to_ansi(wide.cFileName), data->cFileName, MAX_PATH);
  }
  return hr;
}
HRESULT NarrowFace::GetIDList(LPITEMIDLIST* list) { return link_.GetIDList(list); }
HRESULT NarrowFace::SetIDList(LPCITEMIDLIST list) { return link_.SetIDList(list); }
HRESULT NarrowFace::GetDescription(LPSTR name, int size) { return link_.get_narrow(&LinkData::description, name, size); }
HRESULT NarrowFace::SetDescription(LPCSTR name) { return name ? link_.SetDescription(from_ansi(name).c_str()) : E_INVALIDARG; }
HRESULT NarrowFace::GetWorkingDirectory(LPSTR dir, int size) {
  return link_.get_narrow(&LinkData::working_dir, dir, size);
}
HRESULT NarrowFace::SetWorkingDirectory(LPCSTR dir) {
  return dir ? link_.SetWorkingDirectory(from_ansi(dir).c_str()) : E_INVALIDARG;
}
HRESULT NarrowFace::GetArguments(LPSTR args, int size) { return link_.get_narrow(&LinkData::arguments, args, size); }
HRESULT NarrowFace::SetArguments(LPCSTR args) { return args ? link_.SetArguments(from_ansi(args).c_str()) : E_INVALIDARG; }
HRESULT NarrowFace::GetHotkey(WORD* hotkey) { return link_.GetHotkey(hotkey); }
HRESULT NarrowFace::SetHotkey(WORD hotkey) { return link_.SetHotkey(hotkey); }
HRESULT NarrowFace::GetShowCmd(int* show) { return link_.GetShowCmd(show); }
HRESULT NarrowFace::SetShowCmd(int show) { return link_.SetShowCmd(show); }
HRESULT NarrowFace::GetIconLocation(LPSTR path, int size, int* icon) {
  if (!icon) return E_POINTER;
  *icon = link_.snapshot().icon_index;
  return link_.get_narrow(&LinkData::icon_location, path, size);
}
HRESULT NarrowFace::SetIconLocation(LPCSTR path, int icon) {
  return path ? link_.SetIconLocation(from_ansi(path).c_str(), icon) : E_INVALIDARG;
}
HRESULT NarrowFace::SetRelativePath(LPCSTR path, DWORD reserved) {
  return path ? link_.SetRelativePath(from_ansi(path).c_str(), reserved) : E_INVALIDARG;
}
HRESULT NarrowFace::Resolve(HWND owner, DWORD flags) { return link_.Resolve(owner, flags); }
HRESULT NarrowFace::SetPath(LPCSTR file) { return file ? link_.SetPath(from_ansi(file).c_str()) : E_INVALIDARG; }

HRESULT FileFace::QueryInterface(REFIID riid, void** object) { return link_.QueryInterface(riid, object); }
ULONG FileFace::AddRef() { return link_.AddRef(); }
ULONG FileFace::Release() { return link_.Release(); }
HRESULT FileFace::IsDirty() { return link_.is_dirty(); }
HRESULT FileFace::Load(LPCOLESTR file, DWORD) { return link_.load(file); }
HRESULT FileFace::GetCurFile(LPOLESTR* file) { return link_.cur_file(file); }

}  // namespace

HRESULT win32::make_shell_link(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* link = new (std::nothrow) ShellLink;
  if (!link) return E_OUTOFMEMORY;
  HRESULT hr = link->QueryInterface(riid, object);
  link->Release();
  return hr;
}
