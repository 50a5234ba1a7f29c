#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/shell32/shobj.h"
#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

std::string narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }

// Releases a COM object at the end of a scope.
template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  void** out() { return reinterpret_cast<void**>(&p); }
};

struct List {
  LPITEMIDLIST p = nullptr;
  List() = default;
  List(const List&) = delete;
  List(List&& o) noexcept : p(o.p) { o.p = nullptr; }
  ~List() { CoTaskMemFree(p); }
};

class ShellFolder : public win32_test::World {
 protected:
  ShellFolder() : World("shfolder-") {}
  void SetUp() override {
    World::SetUp();
    ASSERT_EQ(SHGetDesktopFolder(&desktop_.p), S_OK);
  }

  std::u16string name_of(IShellFolder* folder, LPCITEMIDLIST item, SHGDNF flags) {
    STRRET r{};
    HRESULT hr = folder->GetDisplayNameOf(item, flags, &r);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) return {};
    EXPECT_EQ(r.uType, UINT(STRRET_WSTR));
    std::u16string s = r.pOleStr;
    CoTaskMemFree(r.pOleStr);
    return s;
  }
  List parse(IShellFolder* folder, const char16_t* text, HRESULT expect = S_OK) {
    List l;
    std::u16string t = text;
    ULONG eaten = 0;
    EXPECT_EQ(folder->ParseDisplayName(nullptr, nullptr, t.data(), &eaten, &l.p, nullptr), expect) << narrow(t);
    if (expect == S_OK) {
      EXPECT_EQ(eaten, t.size());
    }
    return l;
  }
  // The folder the desktop binds for a path.
  void bind(const char16_t* text, Ref<IShellFolder>& out) {
    List l = parse(desktop_.p, text);
    ASSERT_NE(l.p, nullptr);
    ASSERT_EQ(desktop_->BindToObject(l.p, nullptr, IID_IShellFolder, out.out()), S_OK) << narrow(text);
  }
  // In-folder parsing names of an enumeration.
  std::vector<std::string> names(IShellFolder* folder, SHCONTF flags) {
    Ref<IEnumIDList> e;
    EXPECT_EQ(folder->EnumObjects(nullptr, flags, &e.p), S_OK);
    std::vector<std::string> out;
    if (!e.p) return out;
    LPITEMIDLIST item = nullptr;
    ULONG got = 0;
    while (e->Next(1, &item, &got) == S_OK) {
      EXPECT_EQ(got, 1u);
      out.push_back(narrow(name_of(folder, item, SHGDN_INFOLDER | SHGDN_FORPARSING)));
      CoTaskMemFree(item);
    }
    EXPECT_EQ(got, 0u);
    std::sort(out.begin(), out.end());
    return out;
  }
  SFGAOF attributes(IShellFolder* folder, LPCITEMIDLIST item, SFGAOF mask, HRESULT expect = S_OK) {
    EXPECT_EQ(folder->GetAttributesOf(1, &item, &mask), expect);
    return mask;
  }

  Ref<IShellFolder> desktop_;
};

TEST_F(ShellFolder, EnumerationFollowsTheFlags) {
  put("e/a.txt", "abc");
  put("e/.hidden", "");
  put("e/Sub/x", "");
  put("e/.hiddir/y", "");
  put("e/go.lnk", "");
  Ref<IShellFolder> e;
  bind(u"C:\\E", e);
  using V = std::vector<std::string>;
  EXPECT_EQ(names(e.p, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN),
            (V{".hidden", ".hiddir", "Sub", "a.txt", "go.lnk"}));
  EXPECT_EQ(names(e.p, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS), (V{"Sub", "a.txt", "go.lnk"}));
  EXPECT_EQ(names(e.p, SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN), (V{".hiddir", "Sub"}));
  EXPECT_EQ(names(e.p, SHCONTF_NONFOLDERS), (V{"a.txt", "go.lnk"}));
  // An empty folder enumerates with an immediate end.
  std::filesystem::create_directories(c("empty"));
  Ref<IShellFolder> empty;
  bind(u"C:\\empty", empty);
  EXPECT_EQ(names(empty.p, 0xE0), V{});
  // The folders above the drives.
  win32::make_share(u"srv", u"share");
  win32::make_share(u"srv", u"other");
  EXPECT_EQ(names(desktop_.p, 0xE0), (V{"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}",
                                        "::{450D8FBA-AD25-11D0-98A8-0800361B1103}",
                                        "::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}"}));
  Ref<IShellFolder> computer, network, server;
  bind(u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", computer);
  V drives = names(computer.p, 0xE0);
  EXPECT_NE(std::find(drives.begin(), drives.end(), "C:\\"), drives.end());
  EXPECT_NE(std::find(drives.begin(), drives.end(), "Z:\\"), drives.end());
  bind(u"::{208D2C60-3AEA-1069-A2D7-08002B30309D}", network);  // the older name
  EXPECT_EQ(names(network.p, 0xE0), V{"\\\\srv"});
  bind(u"\\\\SRV", server);
  EXPECT_EQ(names(server.p, 0xE0), (V{"other", "share"}));
  // A folder removed since it was bound fails with the Win32 error.
  std::filesystem::remove_all(c("e"));
  Ref<IEnumIDList> gone;
  EXPECT_EQ(e->EnumObjects(nullptr, 0xE0, &gone.p), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(gone.p, nullptr);
}

TEST_F(ShellFolder, EnumeratorSkipsResetsAndClones) {
  put("e/a", "");
  put("e/b", "");
  put("e/c", "");
  Ref<IShellFolder> e;
  bind(u"C:\\e", e);
  Ref<IEnumIDList> en;
  ASSERT_EQ(e->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &en.p), S_OK);
  LPITEMIDLIST items[4] = {};
  ULONG got = 9;
  EXPECT_EQ(en->Next(2, items, nullptr), E_INVALIDARG);  // more than one needs the count
  ASSERT_EQ(en->Next(2, items, &got), S_OK);
  EXPECT_EQ(got, 2u);
  Ref<IEnumIDList> copy;
  ASSERT_EQ(en->Clone(&copy.p), S_OK);
  EXPECT_EQ(en->Next(4, items + 2, &got), S_FALSE);  // one left
  EXPECT_EQ(got, 1u);
  std::set<std::string> seen;
  for (int i = 0; i < 3; ++i) {
    seen.insert(narrow(name_of(e.p, items[i], SHGDN_INFOLDER)));
    CoTaskMemFree(items[i]);
  }
  EXPECT_EQ(seen, (std::set<std::string>{"a", "b", "c"}));
  EXPECT_EQ(en->Next(1, items, &got), S_FALSE);
  EXPECT_EQ(got, 0u);
  // The clone kept its own place.
  ASSERT_EQ(copy->Next(1, items, nullptr), S_OK);
  CoTaskMemFree(items[0]);
  EXPECT_EQ(copy->Skip(5), S_FALSE);
  EXPECT_EQ(copy->Reset(), S_OK);
  EXPECT_EQ(copy->Skip(3), S_OK);
  EXPECT_EQ(copy->Next(1, items, nullptr), S_FALSE);
}

TEST_F(ShellFolder, ParseBindAndNamesRoundTrip) {
  put("Data/Sub Dir/File.TXT", "x");
  win32::make_share(u"srv", u"share");
  std::filesystem::create_directories(win32::world_root() + "/net/srv/share/inner");
  struct Case {
    const char16_t* text;
    const char16_t* parsing;    // SHGDN_FORPARSING
    const char16_t* in_folder;  // SHGDN_INFOLDER | SHGDN_FORPARSING
    const char16_t* shown;      // SHGDN_NORMAL
  } cases[] = {
      {u"c:\\data\\sub dir\\file.txt", u"C:\\Data\\Sub Dir\\File.TXT", u"File.TXT", u"File.TXT"},
      {u"C:\\Data\\.\\x\\..\\Sub Dir", u"C:\\Data\\Sub Dir", u"Sub Dir", u"Sub Dir"},
      {u"C:\\", u"C:\\", u"C:\\", u"Local Disk (C:)"},
      {u"\\\\srv\\share\\inner", u"\\\\srv\\share\\inner", u"inner", u"inner"},
      {u"\\\\srv\\share", u"\\\\srv\\share", u"share", u"share"},
      {u"\\\\srv", u"\\\\srv", u"\\\\srv", u"srv"},
      {u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}",
       u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", u"Computer"},
      {u"::{450d8fba-ad25-11d0-98a8-0800361b1103}", u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}",
       u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}", u"Documents"},
  };
  for (const Case& k : cases) {
    List l = parse(desktop_.p, k.text);
    if (!l.p) continue;
    EXPECT_EQ(name_of(desktop_.p, l.p, SHGDN_FORPARSING), k.parsing);
    // The same item seen from its own parent folder.
    std::vector<BYTE> whole(reinterpret_cast<BYTE*>(l.p), reinterpret_cast<BYTE*>(l.p) + ILGetSize(l.p));
    std::size_t last = 0, at = 0;
    for (USHORT cb; std::memcpy(&cb, &whole[at], 2), cb; at += cb) last = at;
    std::vector<BYTE> parent(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(last));
    parent.push_back(0);
    parent.push_back(0);
    Ref<IShellFolder> folder;
    if (last == 0) {
      desktop_->AddRef();
      folder.p = desktop_.p;
    } else {
      ASSERT_EQ(desktop_->BindToObject(reinterpret_cast<LPCITEMIDLIST>(parent.data()), nullptr,
                                       IID_IShellFolder, folder.out()),
                S_OK);
    }
    auto child = reinterpret_cast<LPCITEMIDLIST>(&whole[last]);
    EXPECT_EQ(name_of(folder.p, child, SHGDN_FORPARSING), k.parsing);
    EXPECT_EQ(name_of(folder.p, child, SHGDN_INFOLDER | SHGDN_FORPARSING), k.in_folder);
    EXPECT_EQ(name_of(folder.p, child, SHGDN_NORMAL), k.shown);
    // Parsing the in-folder name in the parent gives the item back.
    std::u16string again = k.in_folder;
    List back = parse(folder.p, again.c_str());
    EXPECT_TRUE(back.p && ILIsEqual(back.p, child)) << narrow(k.text);
  }
  // Relative names inside a file-system folder, with the names as stored.
  Ref<IShellFolder> data;
  bind(u"C:\\data", data);
  List rel = parse(data.p, u"SUB DIR\\file.txt");
  EXPECT_EQ(name_of(data.p, rel.p, SHGDN_FORPARSING), u"C:\\Data\\Sub Dir\\File.TXT");
  parse(data.p, u"absent", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  parse(data.p, u"no\\absent", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  parse(data.p, u"..\\Data", HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
  parse(data.p, u"C:\\Data\\Sub Dir", E_INVALIDARG);  // folders below the drives take relative names
  parse(desktop_.p, u"Q:\\x", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  // Binding: folders only.
  Ref<IShellFolder> bound;
  List file = parse(desktop_.p, u"C:\\Data\\Sub Dir\\File.TXT");
  EXPECT_EQ(desktop_->BindToObject(file.p, nullptr, IID_IShellFolder, bound.out()), E_NOINTERFACE);
  EXPECT_EQ(bound.p, nullptr);
  List dir = parse(desktop_.p, u"C:\\Data\\Sub Dir");
  Ref<IShellFolder2> second;
  ASSERT_EQ(desktop_->BindToObject(dir.p, nullptr, IID_IShellFolder2, second.out()), S_OK);
  std::filesystem::remove_all(c("Data"));
  Ref<IShellFolder> stale;
  EXPECT_EQ(desktop_->BindToObject(dir.p, nullptr, IID_IShellFolder, stale.out()),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  // The path functions over the same lists.
  List share = parse(desktop_.p, u"\\\\srv\\share\\inner");
  char path[MAX_PATH];
  ASSERT_TRUE(SHGetPathFromIDListA(share.p, path));
  EXPECT_STREQ(path, "\\\\srv\\share\\inner");
  List computer = parse(desktop_.p, u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
  EXPECT_FALSE(SHGetPathFromIDListA(computer.p, path));
  EXPECT_STREQ(path, "");
}

TEST_F(ShellFolder, DocumentsAndDotsInPaths) {
  WCHAR docs[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, 0, docs), S_OK);
  ASSERT_EQ(CreateDirectoryW((std::u16string(docs) + u"\\Letters").c_str(), nullptr), TRUE);
  Ref<IShellFolder> documents;
  bind(u"::{450D8FBA-AD25-11D0-98A8-0800361B1103}", documents);
  EXPECT_EQ(names(documents.p, 0xE0), std::vector<std::string>{"Letters"});
  List letters = parse(documents.p, u"letters");
  EXPECT_EQ(name_of(documents.p, letters.p, SHGDN_FORPARSING), std::u16string(docs) + u"\\Letters");
  Ref<IShellFolder> inner;
  ASSERT_EQ(documents->BindToObject(letters.p, nullptr, IID_IShellFolder, inner.out()), S_OK);
  // "." and ".." fold away instead of becoming items of their own.
  put("a/b/f", "");
  LPITEMIDLIST dotted = nullptr, plain = nullptr;
  ASSERT_EQ(SHParseDisplayName(u"C:\\a\\x\\..\\.\\b", nullptr, &dotted, 0, nullptr), S_OK);
  ASSERT_EQ(SHParseDisplayName(u"C:\\a\\b", nullptr, &plain, 0, nullptr), S_OK);
  EXPECT_TRUE(ILIsEqual(dotted, plain));
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(SHGetPathFromIDListW(dotted, path));
  EXPECT_EQ(std::u16string(path), u"C:\\a\\b");
  CoTaskMemFree(dotted);
  CoTaskMemFree(plain);
  EXPECT_EQ(SHParseDisplayName(u"\\\\srv\\..\\x", nullptr, &dotted, 0, nullptr), E_INVALIDARG);
}

// Outside a private world the desktop and documents are the user's own
// folders from user-dirs.dirs; a key naming the home folder itself, or a
// private world, keeps the profile's folders.
TEST_F(ShellFolder, UserFoldersOfTheDesktopSession) {
  const char* old_home = std::getenv("HOME");
  const std::string saved_home = old_home ? old_home : "";
  const std::string home = dir_ + "/home";
  std::filesystem::create_directories(home + "/Schreibtisch");
  std::filesystem::create_directories(dir_ + "/config");
  std::ofstream(dir_ + "/config/user-dirs.dirs")
      << "# written by the session\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_DOCUMENTS_DIR=\"$HOME/\"\n";
  WCHAR profile[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableW(u"USERPROFILE", profile, MAX_PATH), 0u);
  auto folder = [](int csidl) {
    WCHAR path[MAX_PATH] = {};
    return SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path) == S_OK ? std::u16string(path)
                                                                                         : std::u16string(u"(failed)");
  };
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
  EXPECT_EQ(folder(CSIDL_DESKTOPDIRECTORY), std::u16string(profile) + u"\\Desktop");  // private world
  ::setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
  ::unsetenv("KV_WORLD_ROOT");
  std::u16string expected = u"Z:";
  for (char ch : home + "/Schreibtisch") expected += ch == '/' ? u'\\' : char16_t(ch);
  EXPECT_EQ(folder(CSIDL_DESKTOPDIRECTORY), expected);
  EXPECT_EQ(folder(CSIDL_PERSONAL), std::u16string(profile) + u"\\Documents");
  ::setenv("KV_WORLD_ROOT", (dir_ + "/world").c_str(), 1);
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
  if (old_home) ::setenv("HOME", saved_home.c_str(), 1);
  else ::unsetenv("HOME");
}

TEST_F(ShellFolder, CompareIdsPacksASignedResult) {
  put("c/alpha", "");
  put("c/Beta", "");
  put("c/ALPHA2", "");
  Ref<IShellFolder> folder;
  bind(u"C:\\c", folder);
  List alpha = parse(folder.p, u"alpha"), beta = parse(folder.p, u"beta"), alpha2 = parse(folder.p, u"alpha2"),
       alpha_again = parse(folder.p, u"ALPHA");
  struct Case {
    LPCITEMIDLIST a, b;
    SHORT result;
  } cases[] = {
      {alpha.p, beta.p, -1}, {beta.p, alpha.p, 1}, {alpha.p, alpha_again.p, 0},
      {alpha.p, alpha2.p, -1},  // a prefix comes first
      {beta.p, alpha2.p, 1},    // case ignored: B after A
  };
  for (const Case& k : cases) {
    HRESULT hr = folder->CompareIDs(0, k.a, k.b);
    EXPECT_TRUE(SUCCEEDED(hr));
    EXPECT_EQ(hr & 0xFFFF0000, 0);
    EXPECT_EQ(static_cast<SHORT>(hr & 0xFFFF), k.result);
  }
}

TEST_F(ShellFolder, AttributesOfItems) {
  put("a/file.txt", "x");
  put("a/.secret", "x");
  put("a/run.LNK", "x");
  put("a/leaf/f", "");
  put("a/tree/branch/f", "");
  win32::make_share(u"srv", u"share");
  constexpr SFGAOF all = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_BROWSABLE |
                         SFGAO_HIDDEN | SFGAO_LINK | SFGAO_HASSUBFOLDER;
  constexpr SFGAOF fs_folder = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR;
  constexpr SFGAOF ancestor = SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
  struct Case {
    const char16_t* text;
    SFGAOF expected;
  } cases[] = {
      {u"C:\\a\\file.txt", SFGAO_FILESYSTEM},
      {u"C:\\a\\.secret", SFGAO_FILESYSTEM | SFGAO_HIDDEN},
      {u"C:\\a\\run.LNK", SFGAO_FILESYSTEM | SFGAO_LINK},
      {u"C:\\a\\leaf", fs_folder},
      {u"C:\\a\\tree", fs_folder | SFGAO_HASSUBFOLDER},
      {u"C:\\", fs_folder | SFGAO_HASSUBFOLDER},
      {u"\\\\srv\\share", fs_folder},
      {u"\\\\srv", ancestor},
      {u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", ancestor},
      {u"::{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}", ancestor},
  };
  for (const Case& k : cases) {
    List l = parse(desktop_.p, k.text);
    EXPECT_EQ(attributes(desktop_.p, l.p, all), k.expected) << narrow(k.text);
    EXPECT_EQ(attributes(desktop_.p, l.p, SFGAO_FOLDER), k.expected & SFGAO_FOLDER) << narrow(k.text);
  }
  // Several items: the bits they all have.
  Ref<IShellFolder> a;
  bind(u"C:\\a", a);
  List leaf = parse(a.p, u"leaf"), tree = parse(a.p, u"tree");
  LPCITEMIDLIST both[] = {leaf.p, tree.p};
  SFGAOF mask = all;
  EXPECT_EQ(a->GetAttributesOf(2, both, &mask), S_OK);
  EXPECT_EQ(mask, fs_folder);
  // Validation notices an item that is gone; without it the list still answers.
  List file = parse(a.p, u"file.txt");
  std::filesystem::remove(c("a/file.txt"));
  EXPECT_EQ(attributes(a.p, file.p, SFGAO_FILESYSTEM), SFGAOF(SFGAO_FILESYSTEM));
  attributes(a.p, file.p, SFGAO_FILESYSTEM | SFGAO_VALIDATE, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  List server = parse(desktop_.p, u"\\\\nosuch");
  attributes(desktop_.p, server.p, SFGAO_VALIDATE, HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
}

// Windows file times of a Unix time.
ULONGLONG filetime(const timespec& t) {
  return (static_cast<ULONGLONG>(t.tv_sec) + 11644473600ull) * 10000000ull + static_cast<ULONGLONG>(t.tv_nsec) / 100;
}

TEST_F(ShellFolder, DetailsGiveFindDataAndSize) {
  put("d/big.bin", std::string(70000, 'z'));
  put("d/sub/x", "");
  Ref<IShellFolder> d;
  bind(u"C:\\d", d);
  Ref<IShellFolder2> d2;
  ASSERT_EQ(d->QueryInterface(IID_IShellFolder2, d2.out()), S_OK);
  List big = parse(d.p, u"big.bin"), sub = parse(d.p, u"sub");
  const SHCOLUMNID find_data{{0x28636AA6, 0x953D, 0x11D2, {0xB5, 0xD6, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}}, 0};
  const SHCOLUMNID size{{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}}, 12};
  struct stat st {};
  ASSERT_EQ(::stat(c("d/big.bin").c_str(), &st), 0);

  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(d2->GetDetailsEx(big.p, &find_data, &v), S_OK);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  ASSERT_EQ(v.parray->rgsabound[0].cElements, 592u);
  WIN32_FIND_DATAW fd;
  std::memcpy(&fd, v.parray->pvData, sizeof fd);
  VariantClear(&v);
  EXPECT_EQ((ULONGLONG(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow, ULONGLONG(st.st_size));
  EXPECT_EQ((ULONGLONG(fd.ftLastWriteTime.dwHighDateTime) << 32) | fd.ftLastWriteTime.dwLowDateTime,
            filetime(st.st_mtim));
  EXPECT_EQ(std::u16string(fd.cFileName), u"big.bin");
  EXPECT_FALSE(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);

  // The size column read the way callers read it: as decimal text.
  ASSERT_EQ(d2->GetDetailsEx(big.p, &size, &v), S_OK);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(narrow(v.bstrVal), std::to_string(st.st_size));
  VariantClear(&v);
  ASSERT_EQ(d2->GetDetailsEx(sub.p, &find_data, &v), S_OK);
  std::memcpy(&fd, v.parray->pvData, sizeof fd);
  EXPECT_TRUE(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  VariantClear(&v);
  const SHCOLUMNID other{size.fmtid, 10};
  EXPECT_TRUE(FAILED(d2->GetDetailsEx(big.p, &other, &v)));
  std::filesystem::remove(c("d/big.bin"));
  EXPECT_EQ(d2->GetDetailsEx(big.p, &find_data, &v), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(ShellFolder, DosDevicesOfTheDriveTable) {
  std::filesystem::create_directories(dir_ + "/a");
  std::filesystem::create_directories(dir_ + "/d");
  ::setenv("KV_DRIVE_A", (dir_ + "/a").c_str(), 1);
  ::setenv("KV_DRIVE_D", (dir_ + "/d").c_str(), 1);
  win32::set_drive_info(u'A', win32::kDriveFloppy, u"", u"FAT12", 1);
  EXPECT_EQ(GetDriveTypeW(u"A:\\"), UINT(DRIVE_REMOVABLE));
  char target[64];
  struct Case {
    const char* device;
    const char* target;
  } cases[] = {
      {"a:", "\\Device\\Floppy0"},
      {"C:", "\\Device\\HarddiskVolume1"},
      {"D:", "\\Device\\HarddiskVolume2"},
  };
  for (const Case& k : cases) {
    std::memset(target, 'x', sizeof target);
    DWORD n = QueryDosDeviceA(k.device, target, sizeof target);
    EXPECT_EQ(n, std::strlen(k.target) + 2) << k.device;
    EXPECT_STREQ(target, k.target);
    EXPECT_EQ(target[n - 1], 0);
  }
  EXPECT_EQ(QueryDosDeviceA("Q:", target, sizeof target), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(QueryDosDeviceA("A:", target, 10), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  // The display name tells the floppy too.
  List a = parse(desktop_.p, u"A:\\");
  EXPECT_EQ(name_of(desktop_.p, a.p, SHGDN_NORMAL), u"Floppy Disk Drive (A:)");
  ::unsetenv("KV_DRIVE_A");
}

TEST_F(ShellFolder, EntryPointsLookedUpAtRunTime) {
  HMODULE shell32 = GetModuleHandleA("shell32");
  ASSERT_NE(shell32, nullptr);
  auto ilisequal = reinterpret_cast<BOOL (*)(LPCITEMIDLIST, LPCITEMIDLIST)>(
      reinterpret_cast<void*>(GetProcAddress(shell32, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(21)))));
  ASSERT_NE(ilisequal, nullptr);
  List x = parse(desktop_.p, u"C:\\"), y = parse(desktop_.p, u"c:\\");
  EXPECT_TRUE(ilisequal(x.p, y.p));
  EXPECT_NE(GetProcAddress(shell32, "SHGetPathFromIDListW"), nullptr);
  auto get_desktop = reinterpret_cast<HRESULT (*)(IShellFolder**)>(
      reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetDesktopFolder")));
  ASSERT_NE(get_desktop, nullptr);
  Ref<IShellFolder> again;
  EXPECT_EQ(get_desktop(&again.p), S_OK);
  auto get_malloc = reinterpret_cast<HRESULT (*)(IMalloc**)>(reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetMalloc")));
  ASSERT_NE(get_malloc, nullptr);
  Ref<IMalloc> m;
  ASSERT_EQ(get_malloc(&m.p), S_OK);
  void* block = m->Alloc(8);
  CoTaskMemFree(block);  // one allocator
  HMODULE shfolder = LoadLibraryA("shfolder");
  ASSERT_NE(shfolder, nullptr);
  EXPECT_NE(GetProcAddress(shfolder, "SHGetFolderPathW"), nullptr);
  FreeLibrary(shfolder);
}

}  // namespace
