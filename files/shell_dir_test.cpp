#include "files/shell_dir.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "files/file_object.h"
#include "files/guarded_calls.h"
#include "files/remove_tree.h"
#include "files/windows_dir.h"
#include "platform/win32/testing/locale_testing.h"
#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"

namespace {

class ShellDir : public win32_test::World {
 protected:
  ShellDir() : World("shelldir-") {}
  // A parsed list, freed at the end of the test.
  const ITEMIDLIST* parse(const char16_t* text) {
    LPITEMIDLIST list = nullptr;
    EXPECT_EQ(SHParseDisplayName(text, nullptr, &list, 0, nullptr), S_OK) << "parse";
    if (list) lists_.emplace_back(list);
    return list;
  }
  std::string user() const {
    char16_t buf[128] = {};
    DWORD n = GetEnvironmentVariableW(u"USERNAME", buf, 128);
    return std::string(buf, buf + n);
  }
  static bool unix_dir(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

 private:
  struct Free {
    void operator()(ITEMIDLIST* l) const { CoTaskMemFree(l); }
  };
  std::vector<std::unique_ptr<ITEMIDLIST, Free>> lists_;
};

const ITEMIDLIST* bytes_list(const std::vector<unsigned char>& v) {
  return reinterpret_cast<const ITEMIDLIST*>(v.data());
}

TEST_F(ShellDir, KindsFromAttributesAndParsingNames) {
  struct Case {
    std::uint32_t attributes;
    const char16_t* name;
    std::int32_t kind;
  } cases[] = {
      {0x40000000, u"C:\\a.txt", 0},                       // not a folder
      {0x40010000, u"C:\\a.lnk", 6},                       // link
      {0x28000000, u"C:\\a.zip", 0},                       // browsable archive shown as folder
      {0x78000000, u"C:\\", 131},                          // browsable but file-system ancestor
      {0x20000000, u"c:\\", 131},                          // fixed drive C, either case
      {0x20000000, u"Q:\\", 137},                          // no such drive
      {0x20000000, u"C:", 128},                            // too short for a drive
      {0x20000000, u"\\\\srv", 141},
      {0x20000000, u"\\\\srv\\share", 142},
      {0x20000000, u"\\\\srv\\share\\dir", 128},
      {0x20000000, u"::{20d04fe0-3aea-1069-a2d8-08002b30309d}", 138},
      {0x20000000, u"::{208D2C60-3AEA-1069-A2D7-08002B30309D}", 139},
      {0x20000000, u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}", 139},
      {0x20000000, u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}", 147},
      {0x20000000, u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}x", 128},
  };
  for (const Case& c : cases)
    EXPECT_EQ(shell_dir::item_kind(c.attributes, c.name), c.kind) << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
}

TEST_F(ShellDir, RelationsOfItemIdLists) {
  put("a/b/f.txt", "x");
  put("ab/g.txt", "x");
  const ITEMIDLIST* a = parse(u"C:\\a");
  const ITEMIDLIST* a_upper = parse(u"c:\\A");
  const ITEMIDLIST* ab = parse(u"C:\\a\\b");
  const ITEMIDLIST* sibling = parse(u"C:\\ab");
  const ITEMIDLIST* share = parse(u"\\\\srv\\share");
  const ITEMIDLIST* share_case = parse(u"\\\\SRV\\Share");
  std::vector<unsigned char> desktop{0, 0};
  ASSERT_TRUE(a && a_upper && ab && sibling && share && share_case);

  EXPECT_EQ(shell_dir::relation(a, a_upper), 0);
  EXPECT_EQ(shell_dir::relation(a, ab), 1);
  EXPECT_EQ(shell_dir::relation(ab, a), 2);
  EXPECT_EQ(shell_dir::relation(a, sibling), 2);
  EXPECT_EQ(shell_dir::relation(bytes_list(desktop), ab), 1);
  EXPECT_EQ(shell_dir::relation(bytes_list(desktop), bytes_list(desktop)), 0);
  EXPECT_EQ(shell_dir::relation(share, share_case), 0);
  EXPECT_EQ(shell_dir::relation(share, a), 2);
  EXPECT_EQ(shell_dir::relation(a, nullptr), 2);

  LPITEMIDLIST missing = nullptr;
  EXPECT_EQ(SHParseDisplayName(u"C:\\nothing\\here", nullptr, &missing, 0, nullptr),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(missing, nullptr);
}

TEST_F(ShellDir, ParentOfTheRootIsTheRoot) {
  put("a/b/f.txt", "x");
  std::vector<unsigned char> desktop{0, 0};
  EXPECT_EQ(shell_dir::parent_list(bytes_list(desktop)), desktop);

  std::vector<unsigned char> up = shell_dir::parent_list(parse(u"C:\\a\\b"));
  EXPECT_TRUE(ILIsEqual(bytes_list(up), parse(u"C:\\a")));
  EXPECT_EQ(ILGetSize(bytes_list(up)), up.size());
  // The computer's parent is the desktop.
  EXPECT_EQ(shell_dir::parent_list(parse(u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")), desktop);
}

TEST_F(ShellDir, FileSystemPathsOfLists) {
  put("a/b/f.txt", "x");
  char16_t path[MAX_PATH];
  ASSERT_TRUE(SHGetPathFromIDListW(parse(u"C:\\a\\b"), path));
  EXPECT_EQ(std::u16string(path), u"C:\\a\\b");
  ASSERT_TRUE(SHGetPathFromIDListW(parse(u"C:\\"), path));
  EXPECT_EQ(std::u16string(path), u"C:\\");
  ASSERT_TRUE(SHGetPathFromIDListW(parse(u"\\\\srv\\share\\d"), path));
  EXPECT_EQ(std::u16string(path), u"\\\\srv\\share\\d");
  EXPECT_FALSE(SHGetPathFromIDListW(parse(u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"), path));
  std::vector<unsigned char> desktop{0, 0};
  EXPECT_FALSE(SHGetPathFromIDListW(bytes_list(desktop), path));
}

TEST_F(ShellDir, SpecialFoldersAreMadeInTheUserProfile) {
  const std::string profile = "Users/" + user();
  const std::string name = user();
  const std::u16string home = u"C:\\Users\\" + std::u16string(name.begin(), name.end());
  struct Case {
    std::int32_t kind;
    std::u16string path;
    std::string unix_rel;
  } cases[] = {
      {entry_kind::common_app_data, u"C:\\ProgramData", "ProgramData"},
      {entry_kind::app_data, home + u"\\AppData\\Roaming",
       profile + "/AppData/Roaming"},
      {entry_kind::local_app_data, home + u"\\AppData\\Local",
       profile + "/AppData/Local"},
      {entry_kind::desktop, home + u"\\Desktop",
       profile + "/Desktop"},
  };
  for (const Case& c : cases) {
    std::uint32_t error = 1;
    EXPECT_EQ(shell_dir::special_folder(c.kind, error), c.path) << c.kind;
    EXPECT_EQ(error, 0u);
    EXPECT_TRUE(unix_dir(this->c(c.unix_rel))) << c.unix_rel;
  }
  std::uint32_t error = 0;
  EXPECT_EQ(shell_dir::special_folder(entry_kind::documents, error), u"");
  EXPECT_EQ(error, 0x4000eu);
}

// When the user's folders cannot be made, every kind answers with the common
// application-data folder under "All Users" instead of failing.
TEST_F(ShellDir, FailedUserFoldersFailInsteadOfTakingTheCommonFolder) {
  const std::string profile = "Users/" + user();
  put(profile + "/AppData", "a file where the folder belongs");
  put(profile + "/Desktop", "a file where the folder belongs");
  for (int csidl : {CSIDL_APPDATA, CSIDL_DESKTOPDIRECTORY}) {
    char16_t buf[MAX_PATH];
    EXPECT_LT(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, buf), 0) << csidl;
  }
  for (std::int32_t kind : {entry_kind::app_data, entry_kind::local_app_data, entry_kind::desktop}) {
    std::uint32_t error = 1;
    EXPECT_EQ(shell_dir::special_folder(kind, error), u"") << kind;
    EXPECT_EQ(error, 0x40007u) << kind;
  }
  EXPECT_FALSE(unix_dir(c("Users/All Users/Application Data")));
  std::uint32_t error = 1;
  EXPECT_EQ(shell_dir::special_folder(entry_kind::common_app_data, error), u"C:\\ProgramData");
}

HRESULT folder_path_fails(HWND, int, HANDLE, DWORD, LPWSTR) { return E_FAIL; }

// Puts the language and resource settings back whatever a case leaves.
struct LanguageScope {
  LanguageScope() { shell_dir::forget_text_language(); }
  ~LanguageScope() {
    win32::set_system_locale_for_tests(0);
    win32::hide_resources_for_tests("shell32", false);
    win32::hide_resources_for_tests("shfolder", false);
    shell_dir::forget_text_language();
  }
};

// Without "SHGetFolderPathW" the common folder is built by hand; its last
// name is shfolder's text in shell32's language, else the system's, else
// US English.
TEST_F(ShellDir, TheCommonFolderFallbackTakesShfoldersTextInTheShellsLanguage) {
  struct Case {
    LCID system;
    bool hide_shell32;
    std::uint16_t language;
    const char* name;
  } cases[] = {
      {0x0409, false, 1033, "Application Data"},
      {0x0407, false, 1033, "Application Data"},  // shell32's version language wins
      {0x0407, true, 1031, "Anwendungsdaten"},
      {0x040C, true, 1036, "Application Data"},  // no French block: US English
  };
  std::filesystem::create_directories(c("Users"));
  for (const Case& c : cases) {
    LanguageScope scope;
    win32::set_system_locale_for_tests(c.system);
    win32::hide_resources_for_tests("shell32", c.hide_shell32);
    std::uint32_t error = 1, cause = 1;
    const std::u16string path =
        shell_dir::special_folder(entry_kind::common_app_data, error, &folder_path_fails, &cause);
    EXPECT_EQ(error, 0u) << c.name;
    EXPECT_EQ(cause, 0u);
    const std::string name(c.name);
    EXPECT_EQ(path, u"C:\\Users\\All Users\\" + std::u16string(name.begin(), name.end()));
    EXPECT_TRUE(unix_dir(this->c(std::string("Users/All Users/") + c.name))) << c.name;
    EXPECT_EQ(shell_dir::text_language(), c.language);
    // Kept once looked up.
    win32::set_system_locale_for_tests(0x0413);
    EXPECT_EQ(shell_dir::text_language(), c.language);
  }
  // Without the string block the folder cannot be named.
  LanguageScope scope;
  win32::hide_resources_for_tests("shfolder", true);
  std::uint32_t error = 0, cause = 0;
  EXPECT_EQ(shell_dir::special_folder(entry_kind::common_app_data, error, &folder_path_fails, &cause), u"");
  EXPECT_EQ(error, 0x40007u);
  EXPECT_EQ(cause, static_cast<std::uint32_t>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

// ---------------------------------------------------------------------------
// A shell folder of our own: items named by the test, with the attributes
// and parsing names it gives, and methods that can be made to fault.

std::vector<unsigned char> item_bytes(const std::u16string& name) {
  std::vector<unsigned char> v(3 + name.size() * 2 + 2, 0);
  const auto cb = static_cast<std::uint16_t>(3 + name.size() * 2);
  std::memcpy(v.data(), &cb, 2);
  v[2] = 'F';
  std::memcpy(v.data() + 3, name.data(), name.size() * 2);
  return v;
}

std::u16string item_name(LPCITEMIDLIST list) {
  auto p = reinterpret_cast<const unsigned char*>(list);
  std::uint16_t cb;
  std::memcpy(&cb, p, 2);
  if (cb < 3) return u"";
  std::u16string name((cb - 3) / 2, u'\0');
  std::memcpy(name.data(), p + 3, name.size() * 2);
  return name;
}

enum class Fault { none, structured, cpp };

struct FakeItem {
  std::u16string name;
  SFGAOF attributes;
  std::u16string parsing_name;  // SHGDN_FORPARSING without SHGDN_INFOLDER
};

void maybe_fault(Fault f) {
  if (f == Fault::structured) RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  if (f == Fault::cpp) throw std::runtime_error("extension bug");
}

class FakeEnum final : public IEnumIDList {
 public:
  FakeEnum(std::vector<FakeItem> items, Fault f) : items_(std::move(items)), fault_(f) {}
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT Next(ULONG, LPITEMIDLIST* items, ULONG* fetched) override {
    if (at_ > 0) maybe_fault(fault_);
    if (at_ == items_.size()) {
      if (fetched) *fetched = 0;
      return S_FALSE;
    }
    std::vector<unsigned char> b = item_bytes(items_[at_++].name);
    *items = static_cast<LPITEMIDLIST>(CoTaskMemAlloc(b.size()));
    std::memcpy(*items, b.data(), b.size());
    if (fetched) *fetched = 1;
    return S_OK;
  }
  HRESULT Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT Reset() override { return E_NOTIMPL; }
  HRESULT Clone(IEnumIDList**) override { return E_NOTIMPL; }

 private:
  std::vector<FakeItem> items_;
  std::size_t at_ = 0;
  Fault fault_;
  ULONG refs_ = 1;
};

class FakeFolder final : public IShellFolder2 {
 public:
  std::vector<FakeItem> items;
  bool has_details = false;               // answers IShellFolder2
  std::vector<unsigned char> find_bytes;  // the find-data column
  std::u16string size_text;               // the size column; empty: none
  int denials = 0;                        // EnumObjects refuses access this often
  HWND enum_owner = nullptr, parse_owner = nullptr;  // windows the last calls were given
  std::vector<HRESULT> binds;             // BindToObject's answers in turn; S_OK gives `child`
  IShellFolder* child = nullptr;
  int bind_calls = 0;
  Fault fault = Fault::none;       // in every IShellFolder method
  Fault next_fault = Fault::none;  // in the enumerator's second Next
  std::u16string link_path;        // answered through IShellLinkW when set
  ULONG refs = 1;

  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellFolder)) {
      *out = static_cast<IShellFolder*>(this);
    } else if (IsEqualIID(riid, IID_IShellFolder2) && has_details) {
      *out = static_cast<IShellFolder2*>(this);
    } else if (IsEqualIID(riid, IID_IShellLinkW) && !link_path.empty()) {
      *out = static_cast<IShellLinkW*>(&link_);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    --refs;
    maybe_fault(fault);
    return refs;
  }
  HRESULT ParseDisplayName(HWND owner, IBindCtx*, LPWSTR name, ULONG*, LPITEMIDLIST* list, ULONG*) override {
    maybe_fault(fault);
    parse_owner = owner;
    for (const FakeItem& i : items)
      if (i.name == name) {
        std::vector<unsigned char> b = item_bytes(i.name);
        *list = static_cast<LPITEMIDLIST>(CoTaskMemAlloc(b.size()));
        std::memcpy(*list, b.data(), b.size());
        return S_OK;
      }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT EnumObjects(HWND owner, SHCONTF, IEnumIDList** out) override {
    maybe_fault(fault);
    enum_owner = owner;
    if (denials > 0) {
      --denials;
      return E_ACCESSDENIED;
    }
    *out = new FakeEnum(items, next_fault);
    return S_OK;
  }
  HRESULT BindToObject(LPCITEMIDLIST, IBindCtx*, REFIID, void** out) override {
    maybe_fault(fault);
    *out = nullptr;
    const HRESULT hr = bind_calls < static_cast<int>(binds.size()) ? binds[bind_calls] : E_NOTIMPL;
    ++bind_calls;
    if (hr == S_OK) {
      child->AddRef();
      *out = child;
    }
    return hr;
  }
  HRESULT BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT CompareIDs(LPARAM, LPCITEMIDLIST a, LPCITEMIDLIST b) override {
    maybe_fault(fault);
    const int c = item_name(a).compare(item_name(b));
    return static_cast<HRESULT>(static_cast<std::uint16_t>(c < 0 ? -1 : c > 0 ? 1 : 0));
  }
  HRESULT CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT GetAttributesOf(UINT, LPCITEMIDLIST* lists, SFGAOF* in_out) override {
    maybe_fault(fault);
    if (const FakeItem* i = find(lists[0])) {
      *in_out &= i->attributes;
      return S_OK;
    }
    return E_INVALIDARG;
  }
  HRESULT GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void**) override {
    maybe_fault(fault);
    return E_NOTIMPL;
  }
  HRESULT GetDisplayNameOf(LPCITEMIDLIST list, SHGDNF flags, STRRET* out) override {
    maybe_fault(fault);
    const FakeItem* i = find(list);
    if (!i) return E_INVALIDARG;
    const std::u16string& text = (flags & SHGDN_INFOLDER) ? i->name : i->parsing_name;
    out->uType = STRRET_WSTR;
    out->pOleStr = static_cast<WCHAR*>(CoTaskMemAlloc((text.size() + 1) * 2));
    std::memcpy(out->pOleStr, text.c_str(), (text.size() + 1) * 2);
    return S_OK;
  }
  HRESULT SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, SHGDNF, LPITEMIDLIST*) override { return E_NOTIMPL; }
  HRESULT GetDefaultSearchGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT EnumSearches(IEnumExtraSearch**) override { return E_NOTIMPL; }
  HRESULT GetDefaultColumn(DWORD, ULONG*, ULONG*) override { return E_NOTIMPL; }
  HRESULT GetDefaultColumnState(UINT, DWORD*) override { return E_NOTIMPL; }
  HRESULT GetDetailsEx(LPCITEMIDLIST, const SHCOLUMNID* column, VARIANT* value) override {
    if (column->pid == 0) {
      value->vt = VT_ARRAY | VT_UI1;
      value->parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(find_bytes.size()));
      void* data = nullptr;
      SafeArrayAccessData(value->parray, &data);
      std::memcpy(data, find_bytes.data(), find_bytes.size());
      SafeArrayUnaccessData(value->parray);
      return S_OK;
    }
    if (column->pid == 12 && !size_text.empty()) {
      value->vt = VT_BSTR;
      value->bstrVal = SysAllocString(size_text.c_str());
      return S_OK;
    }
    return E_INVALIDARG;
  }
  HRESULT GetDetailsOf(LPCITEMIDLIST, UINT, void*) override { return E_NOTIMPL; }
  HRESULT MapColumnToSCID(UINT, SHCOLUMNID*) override { return E_NOTIMPL; }

 private:
  const FakeItem* find(LPCITEMIDLIST list) const {
    const std::u16string n = item_name(list);
    for (const FakeItem& i : items)
      if (i.name == n) return &i;
    return nullptr;
  }

  // The folder seen as a shell link, as a link's own folder object is.
  struct Link final : IShellLinkW {
    explicit Link(FakeFolder* f) : self(f) {}
    FakeFolder* self;
    FakeFolder* owner() { return self; }
    HRESULT QueryInterface(REFIID riid, void** out) override { return owner()->QueryInterface(riid, out); }
    ULONG AddRef() override { return owner()->AddRef(); }
    ULONG Release() override { return --owner()->refs; }
    HRESULT GetPath(LPWSTR file, int size, WIN32_FIND_DATAW*, DWORD) override {
      const std::u16string& p = owner()->link_path;
      if (static_cast<int>(p.size()) >= size) return E_FAIL;
      std::memcpy(file, p.c_str(), (p.size() + 1) * 2);
      return S_OK;
    }
    HRESULT GetIDList(LPITEMIDLIST*) override { return E_NOTIMPL; }
    HRESULT SetIDList(LPCITEMIDLIST) override { return E_NOTIMPL; }
    HRESULT GetDescription(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT SetDescription(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT GetWorkingDirectory(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT SetWorkingDirectory(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT GetArguments(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT SetArguments(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT GetHotkey(WORD*) override { return E_NOTIMPL; }
    HRESULT SetHotkey(WORD) override { return E_NOTIMPL; }
    HRESULT GetShowCmd(int*) override { return E_NOTIMPL; }
    HRESULT SetShowCmd(int) override { return E_NOTIMPL; }
    HRESULT GetIconLocation(LPWSTR, int, int*) override { return E_NOTIMPL; }
    HRESULT SetIconLocation(LPCWSTR, int) override { return E_NOTIMPL; }
    HRESULT SetRelativePath(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT Resolve(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT SetPath(LPCWSTR) override { return E_NOTIMPL; }
  };

 public:
  Link link_{this};
};

std::string narrow(const char16_t* s) { return s ? std::string(s, s + std::char_traits<char16_t>::length(s)) : "(null)"; }

// The HRESULT a shell error carries as its cause.
std::uint32_t hresult_of_cause(const Common::Error& e) {
  Common::Error c = e.cause();
  return c.record() ? c.record()->size : 0;
}

// A directory over a fake folder, named from the desktop by one item.
std::unique_ptr<win32_shell_dir> fake_dir(FakeFolder& f) {
  f.AddRef();
  std::vector<unsigned char> list = item_bytes(u"fake");
  return std::make_unique<win32_shell_dir>(&f, reinterpret_cast<const ITEMIDLIST*>(list.data()), nullptr);
}

class ShellDirFake : public ShellDir {};

TEST(GuardedCalls, AFaultInsideTheMethodComesBackAsItsCode) {
  struct Case {
    Fault fault;
    HRESULT expected;
  } cases[] = {{Fault::none, S_OK}, {Fault::structured, static_cast<HRESULT>(0xC0000005)},
               {Fault::cpp, static_cast<HRESULT>(0xE06D7363)}};
  for (const Case& c : cases) {
    FakeFolder f;
    f.items = {{u"a", SFGAO_FOLDER, u"C:\\a"}};
    f.fault = c.fault;
    std::vector<unsigned char> a = item_bytes(u"a");
    LPCITEMIDLIST items[1] = {reinterpret_cast<LPCITEMIDLIST>(a.data())};
    SFGAOF attributes = SFGAO_FOLDER;
    EXPECT_EQ(guarded_GetAttributesOf(&f, 1, items, &attributes), c.expected);
    STRRET name{};
    const HRESULT hr = guarded_GetDisplayNameOf(&f, items[0], SHGDN_FORPARSING, &name);
    EXPECT_EQ(hr, c.expected);
    if (SUCCEEDED(hr)) CoTaskMemFree(name.pOleStr);
    IEnumIDList* e = nullptr;
    EXPECT_EQ(guarded_EnumObjects(&f, nullptr, 0xE0, &e), c.expected);
    if (e) {
      LPITEMIDLIST got = nullptr;
      EXPECT_EQ(guarded_Next(e, 1, &got, nullptr), S_OK);
      CoTaskMemFree(got);
      e->Release();
    }
    EXPECT_EQ(guarded_Release(&f), c.fault == Fault::none ? 0 : c.expected);
  }
}

TEST(ShellNames, StrretTextsOfEveryKind) {
  // An item holding "ab" in ANSI after its size word.
  const unsigned char item[] = {6, 0, 'a', 'b', 0, 'z', 0, 0};
  const auto* list = reinterpret_cast<const ITEMIDLIST*>(item);
  STRRET r{};
  std::u16string out;

  r.uType = STRRET_WSTR;
  r.pOleStr = static_cast<WCHAR*>(CoTaskMemAlloc(6));
  std::memcpy(r.pOleStr, u"wi", 6);
  shell_dir::strret_to_wide(r, list, out);
  EXPECT_EQ(out, u"wi");

  r.uType = STRRET_OFFSET;
  r.uOffset = 2;
  shell_dir::strret_to_wide(r, list, out);
  EXPECT_EQ(out, u"ab");
  // Outside the item nothing is read and the name stays.
  for (UINT offset : {6u, 7u, 4000u}) {
    r.uOffset = offset;
    shell_dir::strret_to_wide(r, list, out);
    EXPECT_EQ(out, u"ab") << offset;
  }

  r.uType = STRRET_CSTR;
  // No terminator anywhere: too long for the buffer, nothing read past it.
  std::memset(r.cStr, 'c', sizeof r.cStr);
  shell_dir::strret_to_wide(r, list, out);
  EXPECT_EQ(out, u"ab");
  std::strcpy(r.cStr, "");
  shell_dir::strret_to_wide(r, list, out);
  EXPECT_EQ(out, u"ab");  // an empty text keeps the name
  std::strcpy(r.cStr, "cs");
  shell_dir::strret_to_wide(r, list, out);
  EXPECT_EQ(out, u"cs");

  r.uType = 7;
  shell_dir::strret_to_wide(r, list, out);
  EXPECT_EQ(out, u"cs");
}

// A folder whose enumerator faults part-way: the listing ends with a read
// error carrying the fault's code, and the program goes on.
TEST_F(ShellDirFake, AFaultingExtensionEndsTheListingWithAnError) {
  FakeFolder f;
  f.items = {{u"a", SFGAO_FILESYSTEM, u"C:\\x\\a"}, {u"b", SFGAO_FILESYSTEM, u"C:\\x\\b"}};
  f.next_fault = Fault::structured;
  {
    std::unique_ptr<win32_shell_dir> dir = fake_dir(f);
    std::unique_ptr<i_dir::iterator> it(dir->iterate());
    ASSERT_TRUE(it);
    EXPECT_EQ(narrow(it->name()), "a");
    it->next();
    EXPECT_EQ(it->error_code(), 0x40001u);
    EXPECT_EQ(hresult_of_cause(it->error()), 0xC0000005u);
    EXPECT_EQ(it->name(), nullptr);

    f.fault = Fault::cpp;
    EXPECT_EQ(dir->iterate(), nullptr);
    EXPECT_EQ(dir->error_code(), 0x40007u);
    f.fault = Fault::none;
  }
  EXPECT_EQ(f.refs, 1u);
}

TEST_F(ShellDirFake, KindsOfItems) {
  FakeFolder f;
  f.items = {
      {u"zip", SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_BROWSABLE, u"C:\\a.zip"},
      {u"lnk", SFGAO_FILESYSTEM | SFGAO_LINK, u"C:\\a.lnk"},
      {u"c", SFGAO_FILESYSANCESTOR | SFGAO_FOLDER | SFGAO_BROWSABLE, u"C:\\"},
      {u"srv", SFGAO_FOLDER, u"\\\\srv"},
      {u"share", SFGAO_FOLDER | SFGAO_FILESYSTEM, u"\\\\srv\\share"},
      {u"dir", SFGAO_FOLDER | SFGAO_FILESYSTEM, u"\\\\srv\\share\\dir"},
      {u"docs", SFGAO_FOLDER, u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}"},
  };
  struct Case {
    const char16_t* name;
    std::int32_t kind;
    int expandable;
  } cases[] = {{u"zip", 0, 0}, {u"lnk", 6, 1}, {u"c", 131, 1}, {u"srv", 141, 1}, {u"share", 142, 1},
               {u"dir", 128, 1}, {u"docs", 147, 1}};
  std::unique_ptr<win32_shell_dir> dir = fake_dir(f);
  for (const Case& c : cases) {
    std::unique_ptr<i_dir::iterator> it(dir->iterate(c.name));
    ASSERT_TRUE(it) << narrow(c.name);
    EXPECT_EQ(it->kind(), c.kind) << narrow(c.name);
    EXPECT_EQ(it->expandable(), c.expandable) << narrow(c.name);
    EXPECT_EQ(narrow(it->name()), narrow(c.name));
    // A single item goes nowhere.
    it->next();
    EXPECT_EQ(it->error_code(), 0x4000eu);
  }
  // The folder's order: the low word of CompareIDs read as signed.
  std::unique_ptr<i_dir::iterator> a(dir->iterate(u"dir")), b(dir->iterate(u"zip"));
  std::unique_ptr<file_identifier> ia(a->identifier()), ib(b->identifier());
  EXPECT_LT(dir->compare_names(ia.get(), ib.get()), 0);
  EXPECT_GT(dir->compare_names(ib.get(), ia.get()), 0);
  EXPECT_EQ(dir->compare_names(ia.get(), ia.get()), 0);

  EXPECT_EQ(dir->iterate(u"missing"), nullptr);
  EXPECT_EQ(dir->error_code(), 0x40011u);  // ERROR_FILE_NOT_FOUND as HRESULT
  EXPECT_EQ(narrow(dir->error().wideField("filename")), "missing");
  EXPECT_STREQ(dir->error().narrowField("function"), "ParseDisplayName");
}

// A folder that cannot be bound for want of COM on the thread, or for want of
// the interface, is bound once more inside CoInitialize.
TEST_F(ShellDirFake, BindingRetriesOnceWithComInitialised) {
  struct Case {
    std::vector<HRESULT> binds;
    int calls;
    bool opened;
  } cases[] = {
      {{S_OK}, 1, true},
      {{CO_E_NOTINITIALIZED, S_OK}, 2, true},
      {{E_NOINTERFACE, S_OK}, 2, true},
      {{CO_E_NOTINITIALIZED, CO_E_NOTINITIALIZED, S_OK}, 2, false},
      {{E_FAIL, S_OK}, 1, false},
  };
  for (const Case& c : cases) {
    FakeFolder f, child;
    f.items = {{u"a", SFGAO_FOLDER, u"C:\\a"}};
    f.binds = c.binds;
    f.child = &child;
    // A thread of its own, without COM, as a caller's worker thread is.
    std::thread([&] {
      std::unique_ptr<win32_shell_dir> dir = fake_dir(f);
      std::unique_ptr<i_dir::iterator> it(dir->iterate(u"a"));
      ASSERT_TRUE(it);
      std::unique_ptr<ri_dir> opened(dir->open_dir(it.get()));
      EXPECT_EQ(opened != nullptr, c.opened);
      EXPECT_EQ(f.bind_calls, c.calls);
      if (opened) {
        EXPECT_EQ(opened->shell_folder(), &child);
        EXPECT_EQ(static_cast<win32_shell_dir*>(opened.get())->absolute_list().size(),
                  item_bytes(u"fake").size() - 2 + item_bytes(u"a").size());
      } else {
        EXPECT_EQ(dir->error_code(), 0x40007u);
      }
    }).join();
    EXPECT_EQ(f.refs, 1u);
    EXPECT_EQ(child.refs, 1u);
  }
}

int g_retries = 0;
int retry_twice(i_dir*, const char16_t* text) {
  EXPECT_EQ(narrow(text), "");
  return ++g_retries <= 2;
}

// A refused listing of a server or share asks the access-retry handler,
// which may supply credentials, and tries again while it says so.
TEST_F(ShellDirFake, ARefusedShareListingAsksTheRetryHandler) {
  struct Case {
    const char16_t* path;
    int denials;
    int asked;
    std::uint32_t error;  // of the directory after iterate()
  } cases[] = {
      {u"\\\\srv\\share", 1, 1, 0},
      {u"\\\\srv", 2, 2, 0},
      {u"\\\\srv\\share", 5, 3, 0x40014},  // the handler gives up
      {u"\\\\srv\\share\\dir", 1, 0, 0x40014},
      {u"C:\\dir", 1, 0, 0x40014},
  };
  access_retry_fn old = set_access_retry_handler(&retry_twice, false);
  for (const Case& c : cases) {
    g_retries = 0;
    FakeFolder f;
    f.items = {{u"a", SFGAO_FILESYSTEM, u"x"}};
    f.link_path = c.path;
    f.denials = c.denials;
    std::unique_ptr<win32_shell_dir> dir = fake_dir(f);
    std::unique_ptr<i_dir::iterator> it(dir->iterate());
    EXPECT_EQ(g_retries, c.asked) << narrow(c.path);
    EXPECT_EQ(dir->error_code(), c.error) << narrow(c.path);
    if (c.error == 0) {
      ASSERT_TRUE(it);
      EXPECT_EQ(narrow(it->name()), "a");
    } else {
      EXPECT_EQ(hresult_of_cause(dir->error()), 0x80070005u);
    }
  }
  set_access_retry_handler(old, false);
}

// With an owner window the shell prompts for credentials itself, so the
// retry handler stays out; the window reaches the shell calls, and another
// thread still sees the process-wide (null) window.
TEST_F(ShellDirFake, AThreadOwnerWindowReachesTheShellAndSkipsTheRetryHandler) {
  access_retry_fn old = set_access_retry_handler(&retry_twice, false);
  HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
  for (bool owned : {false, true}) {
    const HWND previous = owned ? set_prompt_owner_window(window, false) : nullptr;
    g_retries = 0;
    FakeFolder f;
    f.items = {{u"a", SFGAO_FILESYSTEM, u"x"}};
    f.link_path = u"\\\\srv\\share";
    f.denials = 1;
    std::unique_ptr<win32_shell_dir> dir = fake_dir(f);
    std::unique_ptr<i_dir::iterator> it(dir->iterate());
    EXPECT_EQ(g_retries, owned ? 0 : 1) << owned;
    EXPECT_EQ(dir->error_code(), owned ? 0x40014u : 0u) << owned;
    EXPECT_EQ(f.enum_owner, owned ? window : nullptr) << owned;
    std::unique_ptr<i_dir::iterator> named(dir->iterate(u"a"));
    EXPECT_TRUE(named) << owned;
    EXPECT_EQ(f.parse_owner, owned ? window : nullptr) << owned;
    HWND seen = window;
    std::thread([&] { seen = prompt_owner_window(); }).join();
    EXPECT_EQ(seen, nullptr) << owned;
    HWND shared = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x5678));
    EXPECT_EQ(set_prompt_owner_window(shared, true), nullptr);
    std::thread([&] { seen = prompt_owner_window(); }).join();
    EXPECT_EQ(seen, shared) << owned;
    EXPECT_EQ(prompt_owner_window(), owned ? window : shared);
    set_prompt_owner_window(nullptr, true);
    if (owned) { EXPECT_EQ(set_prompt_owner_window(previous, false), window); }
    EXPECT_EQ(prompt_owner_window(), nullptr);
  }
  set_access_retry_handler(old, false);
}

FILETIME file_time_of_ms(std::int64_t ms) {
  const auto t = static_cast<std::uint64_t>(ms) * 10000 + 116444736000000000ull;
  return {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

TEST_F(ShellDirFake, FindDataAndTheSizeColumn) {
  WIN32_FIND_DATAW fd{};
  ASSERT_EQ(sizeof fd, 592u);
  fd.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;
  fd.nFileSizeLow = 5;
  fd.ftLastWriteTime = file_time_of_ms(1600000000000);
  fd.ftCreationTime = file_time_of_ms(1000000000000);
  fd.ftLastAccessTime = file_time_of_ms(1500000000000);
  std::vector<unsigned char> whole(reinterpret_cast<unsigned char*>(&fd), reinterpret_cast<unsigned char*>(&fd) + 592);
  struct Case {
    std::size_t bytes;
    const char16_t* size_text;
    std::uint64_t size;
    std::int32_t attributes;
    std::int64_t write;
  } cases[] = {
      {592, u"", 5, 0x21, 1600000000000},
      {592, u"123456789012", 123456789012ull, 0x21, 1600000000000},
      {592, u"12x", 5, 0x21, 1600000000000},
      {592, u"0", 5, 0x21, 1600000000000},
      {592, u"99999999999999999999", 5, 0x21, 1600000000000},  // past 64 bits
      {100, u"", 0, 0, 0},  // too short to be find data: nothing is read past it
  };
  for (const Case& c : cases) {
    FakeFolder f;
    f.items = {{u"a", SFGAO_FILESYSTEM, u"C:\\a"}};
    f.has_details = true;
    f.find_bytes.assign(whole.begin(), whole.begin() + c.bytes);
    f.size_text = c.size_text;
    {
      std::unique_ptr<win32_shell_dir> dir = fake_dir(f);
      std::unique_ptr<i_dir::iterator> it(dir->iterate(u"a"));
      ASSERT_TRUE(it);
      EXPECT_EQ(it->size(), c.size) << narrow(c.size_text);
      EXPECT_EQ(it->attributes(), c.attributes);
      EXPECT_EQ(it->write_time(), c.write);
      EXPECT_EQ(it->creation_time(), c.write ? 1000000000000 : 0);
      EXPECT_EQ(it->access_time(), c.write ? 1500000000000 : 0);
    }
    EXPECT_EQ(f.refs, 1u);
  }
}

TEST_F(ShellDirFake, FileSystemPathsAreCheckedAndEndInASeparator) {
  struct Case {
    const char16_t* got;
    const char* path;
  } cases[] = {{u"C:", "C:\\"},
               {u"c:\\dir", "c:\\dir\\"},
               {u"\\\\srv\\share", "\\\\srv\\share\\"},
               {u"1:\\x", ""},
               {u"dir\\x", ""}};
  for (const Case& c : cases) {
    FakeFolder f;
    f.link_path = c.got;
    {
      std::unique_ptr<win32_shell_dir> dir = fake_dir(f);
      EXPECT_EQ(narrow(dir->path()), c.path) << narrow(c.got);
      dir_control_request gsyp{control_code("GSYP"), {nullptr}, nullptr, nullptr};
      dir->control(&gsyp);
      EXPECT_EQ(narrow(static_cast<const char16_t*>(gsyp.pointer3)), c.path);
      EXPECT_TRUE(dir->Good());
    }
    EXPECT_EQ(f.refs, 1u);
  }
}

// ---------------------------------------------------------------------------
// Directories over the shell's own folders

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

win32_shell_dir* as_shell(i_dir* d) { return dynamic_cast<win32_shell_dir*>(d); }

std::size_t item_size(const ITEMIDLIST* list) { return list ? ILGetSize(list) : 0; }

// First of the tests that make the root, so that a whole run sets it up here:
// the set-up runs as the process and then gives the thread its token back.
TEST_F(ShellDir, TheSetUpGivesAnImpersonatingThreadItsTokenBack) {
  bool had_token = false, still_has = false;
  std::thread([&] {
    HANDLE process = nullptr, copy = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process)) return;
    if (DuplicateToken(process, SecurityImpersonation, &copy) && SetThreadToken(nullptr, copy)) {
      HANDLE t = nullptr;
      had_token = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t);
      if (t) CloseHandle(t);
      shell_root_dir();
      t = nullptr;
      still_has = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t);
      if (t) CloseHandle(t);
      SetThreadToken(nullptr, nullptr);
    }
    if (copy) CloseHandle(copy);
    CloseHandle(process);
  }).join();
  EXPECT_TRUE(had_token);
  EXPECT_TRUE(still_has);
}

TEST_F(ShellDir, TheRootIsItsOwnParentAndItsOwnItemIsTheDesktop) {
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  EXPECT_EQ(shell_root_dir(), root);
  EXPECT_EQ(root->absolute_list().size(), 2u);
  EXPECT_EQ(narrow(root->path()), "");
  EXPECT_TRUE(root->is_system_dir());

  std::unique_ptr<ri_dir> up(root->open_dir(u".."));
  ASSERT_TRUE(up);
  EXPECT_EQ(as_shell(up.get())->absolute_list().size(), 2u);
  EXPECT_EQ(root->relation(up.get()), 0);

  std::unique_ptr<i_dir::iterator> self(root->iterate_self());
  ASSERT_TRUE(self);
  auto* it = dynamic_cast<win32_shell_dir::iterator*>(self.get());
  ASSERT_TRUE(it);
  EXPECT_EQ(item_size(it->current_item()), 2u);

  EXPECT_EQ(root->drive_kind(), entry_kind::unknown);
  // No file-system path: no Windows directory.
  EXPECT_EQ(root->reopen(), nullptr);
  EXPECT_EQ(root->error_code(), 0x40007u);
  EXPECT_EQ(root->open_file(u"x", true), nullptr);
  EXPECT_EQ(root->error_code(), 0x4000eu);
  EXPECT_EQ(root->open_special(entry_kind::temporary), nullptr);
  EXPECT_EQ(root->error_code(), 0x4000eu);
}

TEST_F(ShellDir, AFolderListsItsEntriesWithKindsSizesAndTimes) {
  put("e/a.txt", "hello");
  put("e/big.bin", std::string(70000, 'x'));
  put("e/sub/x", "1");
  std::filesystem::create_directories(c("e/none"));
  // Fixed times as witnesses: 2020-09-13 12:26:40 UTC and 2001-09-09 01:46:40 UTC.
  const struct timespec times_a[2] = {{1000000000, 0}, {1600000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, c("e/a.txt").c_str(), times_a, 0), 0);

  std::unique_ptr<ri_dir> e(shell_root_dir()->open_dir(u"C:\\e"));
  ASSERT_TRUE(e) << narrow(shell_root_dir()->error().text().c_str());
  EXPECT_EQ(narrow(e->path()), "C:\\e\\");
  std::unique_ptr<i_dir::iterator> it(e->iterate());
  ASSERT_TRUE(it);
  struct Seen {
    std::int32_t kind;
    std::uint64_t size;
    std::int64_t write, access;
    std::int32_t attributes;
    int expandable;
  };
  std::map<std::string, Seen> seen;
  for (; it->Good(); it->next())
    seen[narrow(it->name())] = {it->kind(), it->size(), it->write_time(), it->access_time(), it->attributes(),
                                it->expandable()};
  EXPECT_EQ(it->error_code(), 0x40002u);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen["a.txt"].kind, 0);
  EXPECT_EQ(seen["a.txt"].size, 5u);
  EXPECT_EQ(seen["a.txt"].write, 1600000000000);
  EXPECT_EQ(seen["a.txt"].access, 1000000000000);
  EXPECT_EQ(seen["a.txt"].attributes & FILE_ATTRIBUTE_DIRECTORY, 0);
  EXPECT_EQ(seen["a.txt"].expandable, 0);
  EXPECT_EQ(seen["big.bin"].size, 70000u);
  EXPECT_EQ(seen["sub"].kind, 128);
  EXPECT_NE(seen["sub"].attributes & FILE_ATTRIBUTE_DIRECTORY, 0);
  EXPECT_EQ(seen["none"].kind, 128);
  EXPECT_NE(seen["none"].expandable, 0);
}

TEST_F(ShellDir, AnEmptyFolderListsNothingWithoutFailing) {
  std::filesystem::create_directories(c("empty"));
  std::unique_ptr<ri_dir> d(shell_root_dir()->open_dir(u"C:\\empty"));
  ASSERT_TRUE(d);
  std::unique_ptr<i_dir::iterator> it(d->iterate());
  ASSERT_TRUE(it);
  EXPECT_TRUE(d->Good());
  EXPECT_EQ(it->error_code(), 0x40002u);
  EXPECT_EQ(it->name(), nullptr);
  EXPECT_EQ(it->identifier(), nullptr);
  EXPECT_EQ(it->kind(), 0);
}

TEST_F(ShellDir, FoldersOpenByPathIdentifierEntryAndListAlike) {
  put("e/sub/x", "1");
  put("e/sub2/y", "2");
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  std::unique_ptr<ri_dir> e(root->open_dir(u"C:\\e"));
  ASSERT_TRUE(e);
  std::unique_ptr<i_dir::iterator> it(e->iterate(u"sub"));
  ASSERT_TRUE(it);
  EXPECT_EQ(narrow(it->name()), "sub");
  EXPECT_EQ(it->kind(), 128);
  std::unique_ptr<file_identifier> id(it->identifier());
  ASSERT_TRUE(id);

  std::unique_ptr<ri_dir> by_entry(e->open_dir(it.get()));
  std::unique_ptr<ri_dir> by_id(e->open_dir(id.get()));
  std::unique_ptr<ri_dir> by_name(e->open_dir(u"sub"));
  std::unique_ptr<ri_dir> by_dots(e->open_dir(u"sub2\\..\\sub"));
  for (ri_dir* d : {by_entry.get(), by_id.get(), by_name.get(), by_dots.get()}) {
    ASSERT_TRUE(d);
    EXPECT_EQ(narrow(d->path()), "C:\\e\\sub\\");
    EXPECT_EQ(d->relation(by_entry.get()), 0);
    EXPECT_EQ(e->relation(d), 1);
    EXPECT_EQ(d->relation(e.get()), 2);
  }
  EXPECT_EQ(root->relation(e.get()), 1);
  EXPECT_EQ(e->relation(root_dir()), 2);  // not a shell directory

  std::unique_ptr<ri_dir> up(by_id->open_dir(u".."));
  ASSERT_TRUE(up);
  EXPECT_EQ(up->relation(e.get()), 0);

  // The absolute list opens the parent with an identifier of the last item.
  ITEMIDLIST* absolute = by_id->item_id_list(nullptr, false);
  ASSERT_TRUE(absolute);
  EXPECT_EQ(by_id->item_id_list(nullptr, true), nullptr);
  EXPECT_TRUE(ILIsEqual(e->item_id_list(id.get(), false), absolute));
  EXPECT_EQ(static_cast<const void*>(e->item_id_list(id.get(), true)), dynamic_cast<the_identifier*>(id.get())->bytes());
  dir_and_identifier at = root->open_item_id_list(absolute);
  std::unique_ptr<ri_dir> parent(at.first);
  std::unique_ptr<file_identifier> last(at.second);
  ASSERT_TRUE(parent && last);
  EXPECT_EQ(narrow(parent->path()), "C:\\e\\");
  std::unique_ptr<i_dir::iterator> again(parent->iterate(last.get()));
  ASSERT_TRUE(again);
  EXPECT_EQ(narrow(again->name()), "sub");
  EXPECT_EQ(parent->compare_names(last.get(), id.get()), 0);

  std::unique_ptr<file_identifier> whole(as_shell(e.get())->identifier_from_item_id_list(absolute, true));
  std::unique_ptr<ri_dir> from_root(root->open_dir(whole.get()));
  ASSERT_TRUE(from_root);
  EXPECT_EQ(narrow(from_root->path()), "C:\\e\\sub\\");

  std::unique_ptr<i_dir::iterator> self(by_name->iterate_self());
  ASSERT_TRUE(self);
  EXPECT_EQ(narrow(self->name()), "sub");
  EXPECT_EQ(self->kind(), 128);

  EXPECT_EQ(e->drive_kind(), entry_kind::fixed);
  EXPECT_EQ(e->open_dir(static_cast<const file_identifier*>(nullptr)), nullptr);
  EXPECT_EQ(e->error_code(), 0x40007u);
  EXPECT_EQ(e->open_dir(u"missing"), nullptr);
  EXPECT_EQ(e->error_code(), 0x40011u);
  EXPECT_EQ(hresult_of_cause(e->error()), 0x80070002u);
  EXPECT_STREQ(e->error().narrowField("function"), "ParseDisplayName");
}

// The drives of the computer folder: a floppy is told from other removable
// drives by its DOS device.
TEST_F(ShellDir, DrivesOfTheComputerHaveTheirKinds) {
  struct Drive {
    char letter;
    UINT type;
    std::int32_t kind;
  } drives[] = {{'A', win32::kDriveFloppy, entry_kind::floppy},
                {'B', DRIVE_REMOVABLE, entry_kind::removable},
                {'E', DRIVE_CDROM, entry_kind::cdrom},
                {'C', DRIVE_FIXED, entry_kind::fixed}};
  for (const Drive& d : drives) {
    if (d.letter == 'C') continue;
    const std::string var = std::string("KV_DRIVE_") + d.letter;
    std::filesystem::create_directories(dir_ + "/" + d.letter);
    ::setenv(var.c_str(), (dir_ + "/" + d.letter).c_str(), 1);
    win32::set_drive_info(static_cast<char16_t>(d.letter), d.type, u"", u"FAT", 1);
  }
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  std::unique_ptr<ri_dir> computer(root->open_special(entry_kind::computer));
  ASSERT_TRUE(computer);
  std::map<std::string, std::int32_t> listed;
  std::unique_ptr<i_dir::iterator> all(computer->iterate());
  ASSERT_TRUE(all);
  for (; all->Good(); all->next()) listed[narrow(all->name())] = all->kind();
  for (const Drive& d : drives) {
    const char16_t name[4] = {static_cast<char16_t>(d.letter), u':', u'\\', 0};
    std::unique_ptr<i_dir::iterator> it(computer->iterate(name));
    ASSERT_TRUE(it) << d.letter;
    EXPECT_EQ(it->kind(), d.kind) << d.letter;
    EXPECT_EQ(listed[narrow(it->name())], d.kind) << d.letter;
  }
  for (const Drive& d : drives)
    if (d.letter != 'C') ::unsetenv((std::string("KV_DRIVE_") + d.letter).c_str());
}

// A link file as the shell writes it: the header, then LinkInfo with a local
// base path (no item ID list, so the target is found by its path).
std::string link_file(const std::string& target) {
  std::string b;
  auto u16 = [&](unsigned v) { b += char(v & 0xFF); b += char((v >> 8) & 0xFF); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF); u16(v >> 16); };
  u32(0x4C);
  u32(0x00021401);
  u16(0);
  u16(0);
  b += std::string("\xC0\0\0\0\0\0\0\x46", 8);
  u32(0x2);  // HasLinkInfo
  u32(0x20);
  b += std::string(24, '\0');  // times
  u32(0);                      // size
  u32(0);                      // icon
  u32(1);                      // show normal
  u16(0);
  u16(0);
  u32(0);
  u32(0);
  const unsigned volume_size = 0x11, base_at = 0x1C + volume_size;
  const unsigned suffix_at = base_at + unsigned(target.size()) + 1, size = suffix_at + 1;
  u32(size);
  u32(0x1C);
  u32(0x1);  // VolumeIDAndLocalBasePath
  u32(0x1C);
  u32(base_at);
  u32(0);
  u32(suffix_at);
  u32(volume_size);
  u32(3);  // fixed
  u32(0x1234ABCD);
  u32(0x10);
  b += '\0';
  b += target;
  b += '\0';
  b += '\0';
  return b;
}

TEST_F(ShellDir, AShellLinkLeadsToItsTarget) {
  put("target/t.txt", "x");
  put("l/plain.txt", "p");
  put("l/t.lnk", link_file("C:\\target\\t.txt"));
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  std::unique_ptr<ri_dir> l(root->open_dir(u"C:\\l"));
  ASSERT_TRUE(l);
  auto* shell = as_shell(l.get());
  std::unique_ptr<i_dir::iterator> link(l->iterate(u"t.lnk"));
  ASSERT_TRUE(link);
  EXPECT_EQ(link->kind(), entry_kind::shell_link);
  std::unique_ptr<file_identifier> id(link->identifier());

  for (bool resolve : {false, true}) {
    dir_and_identifier t = shell->resolve_link(id.get(), resolve);
    std::unique_ptr<ri_dir> dir(t.first);
    std::unique_ptr<file_identifier> target(t.second);
    ASSERT_TRUE(dir && target) << resolve;
    EXPECT_EQ(narrow(dir->path()), "C:\\target\\");
    std::unique_ptr<i_dir::iterator> it(dir->iterate(target.get()));
    ASSERT_TRUE(it);
    EXPECT_EQ(narrow(it->name()), "t.txt");
    EXPECT_EQ(it->size(), 1u);
  }

  // Not a link: this folder and the same entry.
  std::unique_ptr<i_dir::iterator> plain(l->iterate(u"plain.txt"));
  ASSERT_TRUE(plain);
  std::unique_ptr<file_identifier> plain_id(plain->identifier());
  dir_and_identifier same = l->resolve_link(plain_id.get());
  std::unique_ptr<ri_dir> same_dir(same.first);
  std::unique_ptr<file_identifier> same_id(same.second);
  ASSERT_TRUE(same_dir && same_id);
  EXPECT_EQ(l->relation(same_dir.get()), 0);
  std::unique_ptr<i_dir::iterator> again(same_dir->iterate(same_id.get()));
  ASSERT_TRUE(again);
  EXPECT_EQ(narrow(again->name()), "plain.txt");
}

TEST_F(ShellDir, ControlRequestsGoToTheWindowsDirectory) {
  put("e/x", "1");
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  std::unique_ptr<ri_dir> e(root->open_dir(u"C:\\e"));
  ASSERT_TRUE(e);

  dir_control_request gsyp{control_code("GSYP"), {nullptr}, nullptr, nullptr};
  e->raise(KV_SITE, fs_error::read);
  e->control(&gsyp);
  EXPECT_EQ(narrow(static_cast<const char16_t*>(gsyp.pointer3)), "C:\\e\\");
  EXPECT_TRUE(e->Good());
  root->control(&gsyp);
  EXPECT_EQ(narrow(static_cast<const char16_t*>(gsyp.pointer3)), "");

  // Credentials for another place: its answer comes back here, with or
  // without a file-system path of our own.
  for (ri_dir* d : {static_cast<ri_dir*>(root), e.get()}) {
    dir_control_request spwd{control_code("SPWD"), {u"user"}, u"secret", const_cast<char16_t*>(u"\\\\nosrv\\share")};
    d->clear_error();
    d->control(&spwd);
    EXPECT_EQ(d->error_code(), 0x40014u);
    EXPECT_STREQ(d->error().narrowField("function"), "WNetAddConnection3W");
  }
  dir_control_request own{control_code("SPWD"), {u"user"}, u"secret", nullptr};
  root->clear_error();
  root->control(&own);
  EXPECT_TRUE(root->Good());

  dir_control_request unknown{control_code("ZZZZ"), {nullptr}, nullptr, nullptr};
  e->control(&unknown);
  EXPECT_EQ(e->error_code(), 0x4000eu);

  std::uint64_t total = 1, free_total = 1, caller = 1;
  e->free_space(total, free_total, caller);
  EXPECT_TRUE(e->Good());
  EXPECT_GT(total, 0u);
  EXPECT_GE(total, free_total);
}

// An identifier is checked against the folder when iterated again: an item
// gone meanwhile has no attributes left, so it is no folder any more.
TEST_F(ShellDir, AnIdentifierOfAnItemGoneMeanwhile) {
  put("e/sub/x", "1");
  put("e/f.txt", "1");
  std::unique_ptr<ri_dir> e(shell_root_dir()->open_dir(u"C:\\e"));
  ASSERT_TRUE(e);
  for (const char16_t* name : {u"sub", u"f.txt"}) {
    std::unique_ptr<i_dir::iterator> it(e->iterate(name));
    ASSERT_TRUE(it);
    std::unique_ptr<file_identifier> id(it->identifier());
    std::unique_ptr<i_dir::iterator> again(e->iterate(id.get()));
    ASSERT_TRUE(again);
    EXPECT_EQ(narrow(again->name()), narrow(name));
  }
  std::unique_ptr<i_dir::iterator> sub(e->iterate(u"sub"));
  std::unique_ptr<file_identifier> sub_id(sub->identifier());
  std::filesystem::remove_all(c("e/sub"));
  std::unique_ptr<i_dir::iterator> gone(e->iterate(sub_id.get()));
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->kind(), 0);
  EXPECT_EQ(gone->expandable(), 0);
  EXPECT_EQ(narrow(gone->name()), "sub");
}

// How the GUI asks whether a document exists before opening it.
TEST_F(ShellDir, TheRootFindsADocumentByItsPath) {
  put("docs/a.txt", "hello");
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  std::unique_ptr<i_dir::iterator> it(root->iterate(u"C:\\docs\\a.txt"));
  ASSERT_TRUE(it);
  EXPECT_EQ(it->kind(), 0);
  EXPECT_EQ(it->size(), 5u);
  EXPECT_EQ(root->iterate(u"C:\\docs\\b.txt"), nullptr);
  EXPECT_EQ(root->error_code(), 0x40011u);
  EXPECT_EQ(narrow(root->error().wideField("filename")), "C:\\docs\\b.txt");
}

TEST_F(ShellDir, NetworkItemsAreServersSharesAndFolders) {
  std::filesystem::create_directories(dir_ + "/world/net/srv/share/dir");
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  struct Case {
    const char16_t* path;
    std::int32_t kind;
    const char* fs_path;
  } cases[] = {{u"\\\\srv", 141, "\\\\srv\\"},
               {u"\\\\srv\\share", 142, "\\\\srv\\share\\"},
               {u"\\\\srv\\share\\dir", 128, "\\\\srv\\share\\dir\\"}};
  for (const Case& c : cases) {
    std::unique_ptr<ri_dir> d(root->open_dir(c.path));
    ASSERT_TRUE(d) << narrow(c.path) << " " << std::hex << root->error_code();
    EXPECT_EQ(narrow(d->path()), c.fs_path);
    std::unique_ptr<i_dir::iterator> self(d->iterate_self());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->kind(), c.kind) << narrow(c.path);
  }
}

TEST_F(ShellDir, SpecialFoldersOfTheRoot) {
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  const std::u16string home = u"C:\\Users\\" + u16(user());
  struct Case {
    std::int32_t kind;
    std::u16string path;
  } cases[] = {{entry_kind::common_app_data, u"C:\\ProgramData\\"},
               {entry_kind::app_data, home + u"\\AppData\\Roaming\\"},
               {entry_kind::local_app_data, home + u"\\AppData\\Local\\"},
               {entry_kind::desktop, home + u"\\Desktop\\"}};
  for (const Case& c : cases) {
    std::unique_ptr<ri_dir> d(root->open_special(c.kind));
    ASSERT_TRUE(d) << c.kind;
    EXPECT_EQ(std::u16string(d->path()), c.path) << c.kind;
  }
  // The Windows directories ask the shell for these.
  std::unique_ptr<ri_dir> common(root_dir()->open_special(entry_kind::common_app_data));
  ASSERT_TRUE(common);
  EXPECT_EQ(narrow(common->path()), "C:\\ProgramData\\");

  std::filesystem::create_directories(c("Users/" + user() + "/Documents"));
  for (std::int32_t kind : {entry_kind::computer, entry_kind::network, entry_kind::documents}) {
    std::unique_ptr<ri_dir> d(root->open_special(kind));
    ASSERT_TRUE(d) << kind << " " << std::hex << root->error_code() << " " << hresult_of_cause(root->error());
    std::unique_ptr<i_dir::iterator> self(d->iterate_self());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->kind(), kind);
  }
}

TEST_F(ShellDir, AUserFolderThatCannotBeHadFailsInsteadOfTakingTheCommonOne) {
  put("Users/" + user() + "/AppData", "a file where the folder belongs");
  win32_shell_dir* root = shell_root_dir();
  ASSERT_TRUE(root);
  for (std::int32_t kind : {entry_kind::app_data, entry_kind::local_app_data}) {
    EXPECT_EQ(root->open_special(kind), nullptr);
    EXPECT_EQ(root->error_code(), 0x40007u);
  }
  std::unique_ptr<ri_dir> common(root->open_special(entry_kind::common_app_data));
  ASSERT_TRUE(common);
  EXPECT_EQ(narrow(common->path()), "C:\\ProgramData\\");
}

}  // namespace
