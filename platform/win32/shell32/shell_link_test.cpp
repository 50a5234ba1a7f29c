#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/shell32/shobj.h"
#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

// Link files written field by field from the shell-link binary format.
struct Bytes {
  std::string b;
  Bytes& u8(unsigned v) {
    b.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8); }
  Bytes& u32(unsigned v) { return u16(v & 0xFFFF).u16(v >> 16); }
  Bytes& u64(unsigned long long v) { return u32(static_cast<unsigned>(v)).u32(static_cast<unsigned>(v >> 32)); }
  Bytes& raw(const std::string& s) {
    b += s;
    return *this;
  }
  Bytes& ansiz(const std::string& s) { return raw(s).u8(0); }
  // A counted UTF-16 string of StringData.
  Bytes& counted(const std::string& s) {
    u16(static_cast<unsigned>(s.size()));
    for (char c : s) u16(static_cast<unsigned char>(c));
    return *this;
  }
};

constexpr unsigned kHasIdList = 0x1, kHasLinkInfo = 0x2, kHasName = 0x4, kHasRelativePath = 0x8,
                   kHasWorkingDir = 0x10, kHasArguments = 0x20, kHasIconLocation = 0x40, kIsUnicode = 0x80;
constexpr unsigned long long kWritten = 0x01D9A1B2C3D4E5F6ull;  // a file time

std::string header(unsigned flags, unsigned attributes, unsigned size) {
  Bytes h;
  h.u32(0x4C).u32(0x00021401).u16(0).u16(0).raw(std::string("\xC0\0\0\0\0\0\0\x46", 8));
  h.u32(flags).u32(attributes).u64(kWritten - 1000).u64(kWritten + 1000).u64(kWritten).u32(size);
  h.u32(2).u32(7 /* SW_SHOWMINNOACTIVE */).u16(0x0641).u16(0).u32(0).u32(0);
  return h.b;
}

// The item ID list of another system: the computer's root item only.
std::string foreign_id_list() {
  Bytes items;
  items.u16(0x14).u8(0x1F).u8(0x50).u32(0x20D04FE0).u16(0x3AEA).u16(0x1069).raw(
      std::string("\xA2\xD8\x08\x00\x2B\x30\x30\x9D", 8));
  items.u16(0);
  Bytes l;
  l.u16(static_cast<unsigned>(items.b.size())).raw(items.b);
  return l.b;
}

std::string local_link_info(const std::string& base, const std::string& suffix) {
  Bytes volume;
  volume.u32(0x11).u32(3 /* fixed */).u32(0x1234ABCD).u32(0x10).u8(0);
  const unsigned base_off = 0x1C + static_cast<unsigned>(volume.b.size());
  const unsigned suffix_off = base_off + static_cast<unsigned>(base.size()) + 1;
  const unsigned size = suffix_off + static_cast<unsigned>(suffix.size()) + 1;
  Bytes info;
  info.u32(size).u32(0x1C).u32(0x1).u32(0x1C).u32(base_off).u32(0).u32(suffix_off);
  info.raw(volume.b).ansiz(base).ansiz(suffix);
  return info.b;
}

std::string network_link_info(const std::string& share, const std::string& suffix) {
  Bytes net;
  const unsigned net_size = 0x14 + static_cast<unsigned>(share.size()) + 1;
  net.u32(net_size).u32(0).u32(0x14).u32(0).u32(0).ansiz(share);
  const unsigned suffix_off = 0x1C + net_size;
  const unsigned size = suffix_off + static_cast<unsigned>(suffix.size()) + 1;
  Bytes info;
  info.u32(size).u32(0x1C).u32(0x2).u32(0).u32(0).u32(0x1C).u32(suffix_off);
  info.raw(net.b).ansiz(suffix);
  return info.b;
}

std::string local_link() {
  const unsigned flags = kHasIdList | kHasLinkInfo | kHasName | kHasWorkingDir | kHasArguments | kHasIconLocation |
                         kIsUnicode;
  Bytes f;
  f.raw(header(flags, 0x20, 5)).raw(foreign_id_list()).raw(local_link_info("C:\\target\\app.exe", ""));
  f.counted("The app").counted("C:\\target").counted("-v \"x y\"").counted("C:\\target\\app.ico");
  return f.b;
}

std::string network_link() {
  Bytes f;
  f.raw(header(kHasLinkInfo | kHasRelativePath | kIsUnicode, 0x20, 0))
      .raw(network_link_info("\\\\SRV\\SHARE", "dir\\file.txt"))
      .counted("..\\elsewhere\\file.txt");
  return f.b;
}

// A link without path information, found by its relative path (ANSI strings).
std::string relative_link() {
  Bytes f;
  f.raw(header(kHasRelativePath | kHasArguments, 0, 0));
  f.u16(12).raw("..\\t\\app.exe").u16(2).raw("-q");
  return f.b;
}

// lnkinfo's "name : value" lines.
std::map<std::string, std::string> lnkinfo(const std::string& path) {
  std::map<std::string, std::string> fields;
  FILE* p = ::popen(("lnkinfo '" + path + "' 2>&1").c_str(), "r");
  if (!p) return fields;
  char line[1024];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    std::size_t colon = s.find(':');
    if (colon == std::string::npos) continue;
    auto trim = [](std::string t) {
      std::size_t a = t.find_first_not_of(" \t\r\n"), b = t.find_last_not_of(" \t\r\n");
      return a == std::string::npos ? std::string() : t.substr(a, b - a + 1);
    };
    fields.emplace(trim(s.substr(0, colon)), trim(s.substr(colon + 1)));
  }
  ::pclose(p);
  return fields;
}

std::string narrow(const char16_t* s) { return std::string(s, s + std::char_traits<char16_t>::length(s)); }

class ShellLink : public win32_test::World {
 protected:
  ShellLink() : World("shlink-") {}
  void SetUp() override {
    World::SetUp();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    World::TearDown();
  }
  // A new link object loaded from a file of drive C.
  HRESULT load(const std::string& rel, IShellLinkW** link) {
    *link = nullptr;
    IPersistFile* file = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                  reinterpret_cast<void**>(&file));
    if (FAILED(hr)) return hr;
    std::u16string path = u"C:\\";
    for (char ch : rel) path += ch == '/' ? u'\\' : char16_t(ch);
    hr = file->Load(path.c_str(), 0);
    if (SUCCEEDED(hr)) hr = file->QueryInterface(IID_IShellLinkW, reinterpret_cast<void**>(link));
    file->Release();
    return hr;
  }
  std::string path_of(IShellLinkW* link, HRESULT expect = S_OK) {
    WCHAR buf[MAX_PATH];
    EXPECT_EQ(link->GetPath(buf, MAX_PATH, nullptr, 0), expect);
    return narrow(buf);
  }
};

TEST_F(ShellLink, LocalTargetAgreesWithLnkinfo) {
  put("links/local.lnk", local_link());
  put("target/app.exe", "MZ");
  auto witness = lnkinfo(c("links/local.lnk"));
  ASSERT_FALSE(witness.empty()) << "lnkinfo (liblnk-utils) is needed";
  IShellLinkW* link = nullptr;
  ASSERT_EQ(load("links/local.lnk", &link), S_OK);
  WCHAR buf[MAX_PATH];
  EXPECT_EQ(path_of(link), witness["Local path"]);
  EXPECT_EQ(path_of(link), "C:\\target\\app.exe");
  ASSERT_EQ(link->GetDescription(buf, MAX_PATH), S_OK);
  EXPECT_EQ(narrow(buf), witness["Description"]);
  ASSERT_EQ(link->GetWorkingDirectory(buf, MAX_PATH), S_OK);
  EXPECT_EQ(narrow(buf), witness["Working directory"]);
  ASSERT_EQ(link->GetArguments(buf, MAX_PATH), S_OK);
  EXPECT_EQ(narrow(buf), witness["Command line arguments"]);
  int icon = -1;
  ASSERT_EQ(link->GetIconLocation(buf, MAX_PATH, &icon), S_OK);
  EXPECT_EQ(narrow(buf), witness["Icon location"]);
  EXPECT_EQ(icon, 2);
  EXPECT_EQ(witness["Icon index"], "2");
  int show = 0;
  WORD hotkey = 0;
  link->GetShowCmd(&show);
  link->GetHotkey(&hotkey);
  EXPECT_EQ(show, 7);
  EXPECT_EQ(hotkey, 0x0641);
  // A buffer too small gets what fits.
  ASSERT_EQ(link->GetArguments(buf, 4), S_OK);
  EXPECT_EQ(narrow(buf), "-v ");
  // The find data comes from the header.
  WIN32_FIND_DATAW fd;
  ASSERT_EQ(link->GetPath(buf, MAX_PATH, &fd, 0), S_OK);
  EXPECT_EQ(fd.nFileSizeLow, 5u);
  EXPECT_EQ(witness["File size"], "5 bytes");
  EXPECT_EQ((ULONGLONG(fd.ftLastWriteTime.dwHighDateTime) << 32) | fd.ftLastWriteTime.dwLowDateTime, kWritten);
  EXPECT_EQ(narrow(fd.cFileName), "app.exe");
  // The target as this layer's list, and resolved while it exists.
  LPITEMIDLIST list = nullptr, expected = nullptr;
  ASSERT_EQ(link->GetIDList(&list), S_OK);
  ASSERT_EQ(SHParseDisplayName(u"C:\\target\\app.exe", nullptr, &expected, 0, nullptr), S_OK);
  EXPECT_TRUE(ILIsEqual(list, expected));
  CoTaskMemFree(list);
  CoTaskMemFree(expected);
  EXPECT_EQ(link->Resolve(nullptr, 0), S_OK);
  std::filesystem::remove(c("target/app.exe"));
  EXPECT_EQ(link->Resolve(nullptr, 0), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(link->GetIDList(&list), S_FALSE);
  EXPECT_EQ(list, nullptr);
  // The narrow face of the same object.
  IShellLinkA* narrow_link = nullptr;
  ASSERT_EQ(link->QueryInterface(IID_IShellLinkA, reinterpret_cast<void**>(&narrow_link)), S_OK);
  char a[MAX_PATH];
  ASSERT_EQ(narrow_link->GetPath(a, MAX_PATH, nullptr, 0), S_OK);
  EXPECT_STREQ(a, "C:\\target\\app.exe");
  ASSERT_EQ(narrow_link->GetArguments(a, MAX_PATH), S_OK);
  EXPECT_STREQ(a, "-v \"x y\"");
  narrow_link->Release();
  IPersistFile* file = nullptr;
  ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)), S_OK);
  LPOLESTR current = nullptr;
  ASSERT_EQ(file->GetCurFile(&current), S_OK);
  EXPECT_EQ(narrow(current), "C:\\links\\local.lnk");
  CoTaskMemFree(current);
  EXPECT_EQ(file->Save(u"C:\\links\\copy.lnk", TRUE), E_NOTIMPL);
  file->Release();
  EXPECT_EQ(link->Release(), 0u);
}

TEST_F(ShellLink, NetworkTargetAgreesWithLnkinfo) {
  put("links/net.lnk", network_link());
  auto witness = lnkinfo(c("links/net.lnk"));
  ASSERT_FALSE(witness.empty()) << "lnkinfo (liblnk-utils) is needed";
  IShellLinkW* link = nullptr;
  ASSERT_EQ(load("links/net.lnk", &link), S_OK);
  EXPECT_EQ(witness["Network path"], "\\\\SRV\\SHARE\\dir\\file.txt");
  EXPECT_EQ(path_of(link), witness["Network path"]);
  WCHAR buf[MAX_PATH];
  EXPECT_EQ(link->GetDescription(buf, MAX_PATH), S_OK);
  EXPECT_EQ(narrow(buf), "");
  // The share exists in the world: the link resolves and has a list.
  EXPECT_EQ(link->Resolve(nullptr, 0), HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
  std::filesystem::create_directories(win32::make_share(u"srv", u"share") + "/dir");
  std::ofstream(win32::share_root(u"srv", u"share") + "/dir/file.txt") << "x";
  EXPECT_EQ(link->Resolve(nullptr, 0), S_OK);
  link->Release();
}

TEST_F(ShellLink, RelativePathWhenNoTargetIsStored) {
  put("links/rel.lnk", relative_link());
  IShellLinkW* link = nullptr;
  ASSERT_EQ(load("links/rel.lnk", &link), S_OK);
  EXPECT_EQ(path_of(link), "C:\\t\\app.exe");
  WCHAR buf[MAX_PATH];
  ASSERT_EQ(link->GetArguments(buf, MAX_PATH), S_OK);
  EXPECT_EQ(narrow(buf), "-q");
  link->Release();
}

// Every shorter form of each link, and links whose sizes and offsets lie,
// fail cleanly without reading past the data.
TEST_F(ShellLink, DamagedFilesFailWithAnHresult) {
  for (const std::string& whole : {local_link(), network_link(), relative_link()}) {
    for (std::size_t n = 0; n < whole.size(); ++n) {
      put("links/cut.lnk", whole.substr(0, n));
      IShellLinkW* link = nullptr;
      HRESULT hr = load("links/cut.lnk", &link);
      EXPECT_TRUE(FAILED(hr)) << n << " of " << whole.size();
      EXPECT_EQ(link, nullptr);
    }
  }
  auto patched = [](std::string s, std::size_t at, unsigned v) {
    std::memcpy(&s[at], &v, 4);
    return s;
  };
  const std::string local = local_link();
  const std::size_t info = 0x4C + foreign_id_list().size();
  const std::string lies[] = {
      patched(local, 0, 0x4D),                       // header size
      patched(local, 4, 0x00021402),                 // class id
      patched(local, 0x4C, 0xFFFF),                  // id list longer than the file
      patched(local, info, 0x7FFFFFFF),              // LinkInfo longer than the file
      patched(local, info + 16, 0x7000),             // base path outside LinkInfo
      patched(local, info + 12, 0xFFFFFFF0),         // volume outside LinkInfo
      patched(local, info + 4, 0x400),               // header past the structure
      patched(network_link(), info - foreign_id_list().size() + 0x1C + 8, 0x300),  // net name outside
  };
  for (std::size_t i = 0; i < std::size(lies); ++i) {
    put("links/lie.lnk", lies[i]);
    IShellLinkW* link = nullptr;
    EXPECT_EQ(load("links/lie.lnk", &link), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)) << i;
  }
  // A base path without its terminator inside the structure.
  std::string open_ended = local_link_info("C:\\x", "");
  open_ended.resize(open_ended.size() - 2);  // drops the two terminators
  unsigned size = static_cast<unsigned>(open_ended.size());
  std::memcpy(&open_ended[0], &size, 4);
  put("links/open.lnk", header(kHasLinkInfo, 0, 0) + open_ended + std::string(8, 'A'));
  IShellLinkW* link = nullptr;
  EXPECT_EQ(load("links/open.lnk", &link), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  EXPECT_EQ(load("links/absent.lnk", &link), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(ShellLink, FoldersHandLinksOut) {
  put("links/local.lnk", local_link());
  put("links/plain.txt", "x");
  put("target/app.exe", "MZ");
  IShellFolder* desktop = nullptr;
  ASSERT_EQ(SHGetDesktopFolder(&desktop), S_OK);
  LPITEMIDLIST dir = nullptr;
  ASSERT_EQ(SHParseDisplayName(u"C:\\links", nullptr, &dir, 0, nullptr), S_OK);
  IShellFolder* links = nullptr;
  ASSERT_EQ(desktop->BindToObject(dir, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&links)), S_OK);
  std::u16string name = u"local.lnk", plain = u"plain.txt";
  LPITEMIDLIST item = nullptr, other = nullptr;
  ASSERT_EQ(links->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &item, nullptr), S_OK);
  ASSERT_EQ(links->ParseDisplayName(nullptr, nullptr, plain.data(), nullptr, &other, nullptr), S_OK);
  LPCITEMIDLIST one[] = {item};
  IShellLinkW* w = nullptr;
  ASSERT_EQ(links->GetUIObjectOf(nullptr, 1, one, IID_IShellLinkW, nullptr, reinterpret_cast<void**>(&w)), S_OK);
  EXPECT_EQ(path_of(w), "C:\\target\\app.exe");
  w->Release();
  IShellLinkA* a = nullptr;
  ASSERT_EQ(links->GetUIObjectOf(nullptr, 1, one, IID_IShellLinkA, nullptr, reinterpret_cast<void**>(&a)), S_OK);
  a->Release();
  one[0] = other;
  EXPECT_EQ(links->GetUIObjectOf(nullptr, 1, one, IID_IShellLinkW, nullptr, reinterpret_cast<void**>(&w)),
            E_NOINTERFACE);
  EXPECT_EQ(w, nullptr);
  CoTaskMemFree(item);
  CoTaskMemFree(other);
  CoTaskMemFree(dir);
  links->Release();
  desktop->Release();
}

}  // namespace
