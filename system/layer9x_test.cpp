#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/windows.h"
#include "platform/win32/testing/test_world.h"
#include "system/layer.h"
#include "system/layer_testing.h"

namespace {

using Windows::LayerNT;

template <class F>
FARPROC as_export(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f));
}

std::u16string text(const WCHAR* s) { return s ? std::u16string(s) : std::u16string(u"(null)"); }

constexpr WCHAR kGuard = u'#';
// A wide buffer whose units past `used` still hold the guard afterwards.
struct Guarded {
  WCHAR units[600];
  Guarded() {
    for (WCHAR& u : units) u = kGuard;
  }
  bool untouchedFrom(std::size_t from) const {
    for (std::size_t i = from; i < std::size(units); ++i)
      if (units[i] != kGuard) return false;
    return true;
  }
};

// Tool-help stand-ins: what the ANSI entry points saw and answer.
DWORD seenProcessSize = 0;
std::string seenExeName;
BOOL CALLBACK fakeProcess32First(HANDLE, void* p) {
  auto* e = static_cast<PROCESSENTRY32*>(p);
  seenProcessSize = e->dwSize;
  e->th32ProcessID = 42;
  e->th32ParentProcessID = 7;
  e->cntThreads = 3;
  std::strcpy(e->szExeFile, "pr\xF6g\x80.exe");
  return TRUE;
}
BOOL CALLBACK fakeProcess32Next(HANDLE, void* p) {
  auto* e = static_cast<PROCESSENTRY32*>(p);
  seenExeName = e->szExeFile;  // the caller's record came in converted
  e->th32ProcessID = e->th32ProcessID + 1;
  return TRUE;
}
BOOL CALLBACK fakeModule32First(HANDLE, void* p) {
  auto* e = static_cast<MODULEENTRY32*>(p);
  seenProcessSize = e->dwSize;
  e->modBaseSize = 0x1000;
  std::strcpy(e->szModule, "m\xF6" "d.dll");
  std::strcpy(e->szExePath, "C:\\m\xF6" "d.dll");
  return TRUE;
}

class Layer9xCalls : public win32_test::World {
 protected:
  void SetUp() override {
    World::SetUp();
    twin_.reset(Windows::createLayerFor(0x80000A04u));  // Windows 98
    ASSERT_NE(dynamic_cast<Windows::Layer9x*>(twin_.get()), nullptr);
  }
  void TearDown() override {
    twin_.reset();
    World::TearDown();
  }
  LayerNT& twin() { return *twin_; }
  // The wide calls are the witness of what the twin should answer.
  LayerNT nt_;
  std::unique_ptr<LayerNT> twin_;
};

TEST_F(Layer9xCalls, WindowsNinetyEightSelectsTheTwin) {
  ::setenv("KV_WINDOWS_VERSION", "98", 1);
  std::unique_ptr<LayerNT> made(Windows::createLayer());
  ::unsetenv("KV_WINDOWS_VERSION");
  EXPECT_NE(dynamic_cast<Windows::Layer9x*>(made.get()), nullptr);
}

TEST(Layer9xConversions, CopiesStopAtTheTerminatorAndTheField) {
  std::unique_ptr<char[]> n(Windows::narrowCopy(u"caf\u00E9 \u20AC"));
  EXPECT_STREQ(n.get(), "caf\xE9 \x80");
  std::unique_ptr<WCHAR[]> w(Windows::wideCopy("caf\xE9 \x80"));
  EXPECT_EQ(text(w.get()), u"caf\u00E9 \u20AC");
  EXPECT_EQ(Windows::narrowCopy(nullptr), nullptr);
  EXPECT_EQ(Windows::wideCopy(nullptr), nullptr);

  char field[8];
  std::memset(field, '#', sizeof field);
  // Up to and including the NUL.
  EXPECT_EQ(Windows::wideToAnsi(field, 8, u"ab\0cd", 5), 3);
  EXPECT_EQ(std::string(field, 4), std::string("ab\0#", 4));
  // No NUL among the first count characters: all of them, within the field.
  std::memset(field, '#', sizeof field);
  EXPECT_EQ(Windows::wideToAnsi(field, 3, u"\u00E9\u00E9\u00E9\u00E9\u00E9", 5), 3);
  EXPECT_EQ(std::string(field, 4), "\xE9\xE9\xE9#");
  WCHAR wide[4] = {kGuard, kGuard, kGuard, kGuard};
  EXPECT_EQ(Windows::ansiToWide(wide, 4, "\x80x\0y", 4), 3);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"\u20ACx\0#", 4));
}

// The twin's rules, one row each: what the ANSI call gets and what comes
// back, against the wide calls or fixed values.
TEST_F(Layer9xCalls, ConversionRules) {
  ASSERT_TRUE(nt_.CreateDirectoryW(u"C:\\d\u00E9j\u00E0", nullptr));
  ASSERT_TRUE(nt_.SetCurrentDirectoryW(u"C:\\d\u00E9j\u00E0"));
  HANDLE made = nt_.CreateFileW(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                                nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  CloseHandle(made);
  HKEY root = nullptr;
  ASSERT_EQ(nt_.RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Tw\u00EFn", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &root, nullptr),
            ERROR_SUCCESS);

  struct Row {
    const char* rule;
    std::function<void()> check;
  };
  const Row rows[] = {
      {"14/13 FindFirstFileW/FindNextFileW: pattern in, find data out (names 260 and 14)",
       [&] {
         WIN32_FIND_DATAW w{}, n{};
         HANDLE a = twin().FindFirstFileW(u"C:\\d\u00E9j\u00E0\\\u20AC*", &w);
         HANDLE b = nt_.FindFirstFileW(u"C:\\d\u00E9j\u00E0\\\u20AC*", &n);
         ASSERT_NE(a, INVALID_HANDLE_VALUE);
         EXPECT_EQ(text(w.cFileName), u"\u20AC uro.txt");
         EXPECT_EQ(text(w.cAlternateFileName), text(n.cAlternateFileName));
         EXPECT_EQ(w.dwFileAttributes, n.dwFileAttributes);
         EXPECT_EQ(w.nFileSizeLow, n.nFileSizeLow);
         EXPECT_FALSE(twin().FindNextFileW(a, &w));
         EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
         FindClose(a);
         FindClose(b);
       }},
      {"15 GetCurrentDirectoryW: 260 bytes at most, never past the caller's capacity",
       [&] {
         Guarded g, n;
         const DWORD wide = nt_.GetCurrentDirectoryW(600, n.units);
         EXPECT_EQ(twin().GetCurrentDirectoryW(600, g.units), wide);
         EXPECT_EQ(std::u16string(g.units, wide + 1), std::u16string(n.units, wide + 1));
         EXPECT_TRUE(g.untouchedFrom(wide + 1));
         // Too small: the size needed, as the wide call, and nothing written.
         Guarded s;
         EXPECT_EQ(twin().GetCurrentDirectoryW(4, s.units), nt_.GetCurrentDirectoryW(4, n.units));
         EXPECT_TRUE(s.untouchedFrom(0));
       }},
      {"16/17/30 SetCurrentDirectoryW, CreateFileW, GetFileAttributesW: paths in",
       [&] {
         ASSERT_TRUE(twin().SetCurrentDirectoryW(u"C:\\"));
         HANDLE h = twin().CreateFileW(u"na\u00EFve.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
         ASSERT_NE(h, INVALID_HANDLE_VALUE);
         CloseHandle(h);
         EXPECT_NE(nt_.GetFileAttributesW(u"C:\\na\u00EFve.txt"), INVALID_FILE_ATTRIBUTES);
         EXPECT_EQ(twin().GetFileAttributesW(u"C:\\na\u00EFve.txt"), nt_.GetFileAttributesW(u"C:\\na\u00EFve.txt"));
         ASSERT_TRUE(twin().SetCurrentDirectoryW(u"C:\\d\u00E9j\u00E0"));
       }},
      {"21/25/26/23/64 out: the ANSI text converted back within the capacity",
       [&] {
         Guarded a, b;
         DWORD n = nt_.GetTempPathW(600, b.units);
         EXPECT_EQ(twin().GetTempPathW(600, a.units), n);
         EXPECT_EQ(text(a.units), text(b.units));
         n = nt_.GetSystemDirectoryW(b.units, 600);
         EXPECT_EQ(twin().GetSystemDirectoryW(a.units, 600), n);
         EXPECT_EQ(text(a.units), text(b.units));
         n = nt_.GetWindowsDirectoryW(b.units, 600);
         EXPECT_EQ(twin().GetWindowsDirectoryW(a.units, 600), n);
         EXPECT_EQ(text(a.units), text(b.units));
         n = nt_.GetModuleFileNameW(nullptr, b.units, 600);
         EXPECT_EQ(twin().GetModuleFileNameW(nullptr, a.units, 600), n);
         EXPECT_EQ(text(a.units), text(b.units));
         // The drive list whole: every string and the final empty one.
         Guarded la, lb;
         n = nt_.GetLogicalDriveStringsW(600, lb.units);
         ASSERT_GT(n, 0u);
         EXPECT_EQ(twin().GetLogicalDriveStringsW(600, la.units), n);
         EXPECT_EQ(std::u16string(la.units, n + 1), std::u16string(lb.units, n + 1));
         EXPECT_TRUE(la.untouchedFrom(n + 1));
       }},
      {"36 GetFullPathNameW: path and file part at the matching position",
       [&] {
         Guarded a, b;
         LPWSTR partA = nullptr, partB = nullptr;
         const DWORD n = nt_.GetFullPathNameW(u"s\u00FCb\\f\u00EFle.txt", 600, b.units, &partB);
         EXPECT_EQ(twin().GetFullPathNameW(u"s\u00FCb\\f\u00EFle.txt", 600, a.units, &partA), n);
         EXPECT_EQ(text(a.units), text(b.units));
         ASSERT_NE(partA, nullptr);
         EXPECT_EQ(partA - a.units, partB - b.units);
         EXPECT_EQ(text(partA), u"f\u00EFle.txt");
       }},
      {"22 GetTempFileNameW: path and prefix in, the name back through a wide copy",
       [&] {
         Guarded a;
         ASSERT_NE(twin().GetTempFileNameW(u"C:\\d\u00E9j\u00E0", u"\u00E9x", 0, a.units), 0u);
         const std::u16string name = text(a.units);
         EXPECT_EQ(name.rfind(u"C:\\d\u00E9j\u00E0\\\u00E9x", 0), 0u);
         EXPECT_NE(nt_.GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);
         EXPECT_TRUE(nt_.DeleteFileW(name.c_str()));
       }},
      {"28/29/32/33/34 folders and files: every string in",
       [&] {
         ASSERT_TRUE(twin().CreateDirectoryW(u"C:\\\u00C4rger", nullptr));
         ASSERT_TRUE(twin().CopyFileW(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt", u"C:\\\u00C4rger\\c\u00F6py", TRUE));
         ASSERT_TRUE(twin().MoveFileW(u"C:\\\u00C4rger\\c\u00F6py", u"C:\\\u00C4rger\\m\u00F6ved"));
         EXPECT_NE(nt_.GetFileAttributesW(u"C:\\\u00C4rger\\m\u00F6ved"), INVALID_FILE_ATTRIBUTES);
         ASSERT_TRUE(twin().DeleteFileW(u"C:\\\u00C4rger\\m\u00F6ved"));
         ASSERT_TRUE(twin().RemoveDirectoryW(u"C:\\\u00C4rger"));
         EXPECT_EQ(nt_.GetFileAttributesW(u"C:\\\u00C4rger"), INVALID_FILE_ATTRIBUTES);
       }},
      {"35 MoveFileExW returns 1 and moves nothing",
       [&] {
         EXPECT_EQ(twin().MoveFileExW(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt", u"C:\\moved.txt", 0), TRUE);
         EXPECT_NE(nt_.GetFileAttributesW(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt"), INVALID_FILE_ATTRIBUTES);
         EXPECT_EQ(nt_.GetFileAttributesW(u"C:\\moved.txt"), INVALID_FILE_ATTRIBUTES);
       }},
      {"89/88/51 environment: strings in, text out, sizes as the wide calls",
       [&] {
         ASSERT_TRUE(twin().SetEnvironmentVariableW(u"KV_TW\u00CFN", u"caf\u00E9"));
         Guarded a, b;
         EXPECT_EQ(nt_.GetEnvironmentVariableW(u"KV_TW\u00CFN", b.units, 600), 4u);
         EXPECT_EQ(text(b.units), u"caf\u00E9");
         EXPECT_EQ(twin().GetEnvironmentVariableW(u"KV_TW\u00CFN", a.units, 600), 4u);
         EXPECT_EQ(text(a.units), u"caf\u00E9");
         Guarded s;
         EXPECT_EQ(twin().GetEnvironmentVariableW(u"KV_TW\u00CFN", s.units, 2), 5u);
         EXPECT_TRUE(s.untouchedFrom(0));
         Guarded e;
         EXPECT_EQ(twin().ExpandEnvironmentStringsW(u"%KV_TW\u00CFN%!", e.units, 600), 6u);
         EXPECT_EQ(text(e.units), u"caf\u00E9!");
         nt_.SetEnvironmentVariableW(u"KV_TW\u00CFN", nullptr);
       }},
      {"40/39/43 RegCreateKeyExW, RegOpenKeyExW, RegDeleteKeyW: subkeys in",
       [&] {
         HKEY k = nullptr;
         ASSERT_EQ(twin().RegCreateKeyExW(root, u"\u00DCnder", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                   ERROR_SUCCESS);
         RegCloseKey(k);
         ASSERT_EQ(nt_.RegOpenKeyExW(root, u"\u00DCnder", 0, KEY_READ, &k), ERROR_SUCCESS);
         RegCloseKey(k);
         ASSERT_EQ(twin().RegOpenKeyExW(root, u"\u00FCnder", 0, KEY_READ, &k), ERROR_SUCCESS);
         RegCloseKey(k);
       }},
      {"41 RegEnumKeyExW: capacities halved, name back with its length in characters",
       [&] {
         WCHAR name[16];
         DWORD size = 16;
         ASSERT_EQ(twin().RegEnumKeyExW(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
         EXPECT_EQ(text(name), u"\u00DCnder");
         EXPECT_EQ(size, 5u);
         // Ten bytes are five ANSI characters: no room for the terminator.
         size = 10;
         EXPECT_EQ(twin().RegEnumKeyExW(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
                   ERROR_MORE_DATA);
         ASSERT_EQ(twin().RegDeleteKeyW(root, u"\u00DCnder"), ERROR_SUCCESS);
         HKEY k = nullptr;
         EXPECT_EQ(nt_.RegOpenKeyExW(root, u"\u00DCnder", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
       }},
      {"44 RegSetValueExW: REG_SZ stored as ANSI up to its NUL, other types unchanged",
       [&] {
         const WCHAR abc[] = u"ab\u00E7\0junk";
         ASSERT_EQ(twin().RegSetValueExW(root, u"n\u00E4me", 0, REG_SZ, reinterpret_cast<const BYTE*>(abc),
                                         sizeof abc),
                   ERROR_SUCCESS);
         WCHAR back[16] = {};
         DWORD type = 0, size = sizeof back;
         ASSERT_EQ(nt_.RegQueryValueExW(root, u"n\u00E4me", nullptr, &type, reinterpret_cast<BYTE*>(back), &size),
                   ERROR_SUCCESS);
         EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
         EXPECT_EQ(size, 8u);
         EXPECT_EQ(text(back), u"ab\u00E7");
         const DWORD number = 0x12345678;
         ASSERT_EQ(twin().RegSetValueExW(root, u"n\u00FCmber", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                         4),
                   ERROR_SUCCESS);
         DWORD read = 0;
         size = 4;
         ASSERT_EQ(nt_.RegQueryValueExW(root, u"n\u00FCmber", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size),
                   ERROR_SUCCESS);
         EXPECT_EQ(read, number);
       }},
      {"45 RegQueryValueExW: preset REG_SZ halves the size, string data widened, size doubled",
       [&] {
         BYTE data[24];
         std::memset(data, 0xEE, sizeof data);
         DWORD type = REG_SZ, size = 20;
         ASSERT_EQ(twin().RegQueryValueExW(root, u"n\u00E4me", nullptr, &type, data, &size), ERROR_SUCCESS);
         EXPECT_EQ(size, 8u);
         EXPECT_EQ(std::memcmp(data, "a\0b\0\xE7\0\0\0", 8), 0);
         EXPECT_EQ(data[8], 0xEE);
         // A size query reports twice the ANSI size.
         type = REG_SZ;
         size = 0;
         ASSERT_EQ(twin().RegQueryValueExW(root, u"n\u00E4me", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
         EXPECT_EQ(size, 8u);
         // Four ANSI bytes do not fit in half of six.
         type = REG_SZ;
         size = 6;
         EXPECT_EQ(twin().RegQueryValueExW(root, u"n\u00E4me", nullptr, &type, data, &size), ERROR_MORE_DATA);
         EXPECT_EQ(size, 8u);
       }},
      {"45 RegQueryValueExW: without the preset, widening stays inside the caller's buffer",
       [&] {
         const WCHAR nine[] = u"123456789";
         ASSERT_EQ(nt_.RegSetValueExW(root, u"nine", 0, REG_SZ, reinterpret_cast<const BYTE*>(nine), sizeof nine),
                   ERROR_SUCCESS);
         BYTE data[32];
         std::memset(data, 0xEE, sizeof data);
         DWORD type = REG_BINARY, size = 12;  // ten ANSI bytes fit, twenty wide do not
         EXPECT_EQ(twin().RegQueryValueExW(root, u"nine", nullptr, &type, data, &size), ERROR_MORE_DATA);
         EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
         EXPECT_EQ(size, 20u);
         for (int i = 12; i < 32; ++i) EXPECT_EQ(data[i], 0xEE) << i;
         // A binary value is read as it is stored.
         DWORD number = 0;
         type = REG_BINARY;
         size = 4;
         ASSERT_EQ(twin().RegQueryValueExW(root, u"n\u00FCmber", nullptr, &type, reinterpret_cast<BYTE*>(&number),
                                           &size),
                   ERROR_SUCCESS);
         EXPECT_EQ(number, 0x12345678u);
       }},
      {"42 RegEnumValueW: name back, REG_SZ data widened, a short buffer gives 1",
       [&] {
         WCHAR name[32];
         BYTE data[32];
         DWORD index = 0;
         for (;; ++index) {
           DWORD nameSize = 32, type = 0, size = sizeof data;
           const LONG r = twin().RegEnumValueW(root, index, name, &nameSize, nullptr, &type, data, &size);
           ASSERT_EQ(r, ERROR_SUCCESS);
           if (text(name) != u"n\u00E4me") continue;
           EXPECT_EQ(nameSize, 4u);
           EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
           EXPECT_EQ(size, 8u);
           EXPECT_EQ(text(reinterpret_cast<WCHAR*>(data)), u"ab\u00E7");
           break;
         }
         DWORD nameSize = 32, type = 0, size = 6;
         EXPECT_EQ(twin().RegEnumValueW(root, index, name, &nameSize, nullptr, &type, data, &size), 1);
         ASSERT_EQ(twin().RegDeleteValueW(root, u"n\u00E4me"), ERROR_SUCCESS);
         size = sizeof data;
         EXPECT_EQ(nt_.RegQueryValueExW(root, u"n\u00E4me", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
       }},
      {"65/66/67/68 locale pictures: formats in, results widened; capacity 0 writes nothing",
       [&] {
         const LCID de = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
         Guarded a, b;
         int n = nt_.GetLocaleInfoW(de, LOCALE_SMONTHNAME3, b.units, 600);
         EXPECT_EQ(twin().GetLocaleInfoW(de, LOCALE_SMONTHNAME3, a.units, 600), n);
         EXPECT_EQ(text(a.units), u"M\u00E4rz");
         SYSTEMTIME t{};
         t.wYear = 2024;
         t.wMonth = 3;
         t.wDay = 4;
         t.wHour = 13;
         t.wMinute = 5;
         n = nt_.GetDateFormatW(de, 0, &t, u"dddd, d. MMMM yyyy '\u00E0'", b.units, 600);
         EXPECT_EQ(twin().GetDateFormatW(de, 0, &t, u"dddd, d. MMMM yyyy '\u00E0'", a.units, 600), n);
         EXPECT_EQ(text(a.units), text(b.units));
         Guarded none;
         EXPECT_EQ(twin().GetDateFormatW(de, 0, &t, u"MMMM", none.units, 0), 5);
         EXPECT_TRUE(none.untouchedFrom(0));
         n = nt_.GetTimeFormatW(de, 0, &t, u"HH:mm '\u00B0'", b.units, 600);
         EXPECT_EQ(twin().GetTimeFormatW(de, 0, &t, u"HH:mm '\u00B0'", a.units, 600), n);
         EXPECT_EQ(text(a.units), text(b.units));
         EXPECT_EQ(twin().GetTimeFormatW(de, 0, &t, u"HH:mm", none.units, 0), 6);
         EXPECT_TRUE(none.untouchedFrom(0));
         WCHAR decimal[] = u"\u00B7", thousand[] = u"\u00A0";
         const NUMBERFMTW f{2, 1, 3, decimal, thousand, 1};
         n = nt_.GetNumberFormatW(de, 0, u"-1234567.891", &f, b.units, 600);
         EXPECT_EQ(twin().GetNumberFormatW(de, 0, u"-1234567.891", &f, a.units, 600), n);
         EXPECT_EQ(text(a.units), u"-1\u00A0234\u00A0567\u00B789");
       }},
      {"20 FormatMessageW: system text through an allocated ANSI text; short buffers fail",
       [&] {
         Guarded a, b;
         const DWORD n = nt_.FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            ERROR_FILE_NOT_FOUND, 0, b.units, 600, nullptr);
         ASSERT_GT(n, 0u);
         EXPECT_EQ(twin().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0, a.units, 600,
                                         nullptr),
                   n);
         EXPECT_EQ(text(a.units), text(b.units));
         WCHAR* allocated = nullptr;
         EXPECT_EQ(twin().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                                         ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPWSTR>(&allocated), 0, nullptr),
                   n);
         ASSERT_NE(allocated, nullptr);
         EXPECT_EQ(text(allocated), text(b.units));  // terminated within the allocation
         LocalFree(allocated);
         Guarded s;
         EXPECT_EQ(twin().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0, s.units, 4,
                                         nullptr),
                   0u);
         EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
         EXPECT_TRUE(s.untouchedFrom(4));
       }},
      {"1 RegisterClassExW: names converted, resource numbers passed unchanged",
       [&] {
         WNDCLASSEXW wc{};
         wc.cbSize = sizeof wc;
         wc.lpfnWndProc = DefWindowProcA;
         wc.lpszClassName = u"Tw\u00EFnClass";
         wc.lpszMenuName = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(5));
         // A menu resource number is no text to convert.
         ASSERT_NE(twin().RegisterClassExW(&wc), 0);
         wc.lpszClassName = u"Tw\u00EFnMenu";
         wc.lpszMenuName = u"M\u00E9nu";
         ASSERT_NE(twin().RegisterClassExW(&wc), 0);
         WNDCLASSW found{};
         ASSERT_TRUE(GetClassInfoW(nullptr, u"Tw\u00EFnClass", &found));
         ASSERT_TRUE(GetClassInfoW(nullptr, u"Tw\u00EFnMenu", &found));
         EXPECT_EQ(text(found.lpszMenuName), u"M\u00E9nu");
         UnregisterClassW(u"Tw\u00EFnMenu", nullptr);
         UnregisterClassW(u"Tw\u00EFnClass", nullptr);
       }},
      {"74/75/76 tool help: ANSI records of their own size, converted both ways",
       [&] {
         win32::register_export("kernel32", "Process32First", as_export(fakeProcess32First));
         win32::register_export("kernel32", "Process32Next", as_export(fakeProcess32Next));
         win32::register_export("kernel32", "Module32First", as_export(fakeModule32First));
         Windows::testing::lookUpEntryPoints();
         PROCESSENTRY32W p{};
         p.dwSize = sizeof p;
         ASSERT_TRUE(twin().Process32FirstW(nullptr, &p));
         EXPECT_EQ(seenProcessSize, sizeof(PROCESSENTRY32));
         EXPECT_EQ(p.th32ProcessID, 42u);
         EXPECT_EQ(p.th32ParentProcessID, 7u);
         EXPECT_EQ(p.cntThreads, 3u);
         EXPECT_EQ(text(p.szExeFile), u"pr\u00F6g\u20AC.exe");
         ASSERT_TRUE(twin().Process32NextW(nullptr, &p));
         EXPECT_EQ(seenExeName, "pr\xF6g\x80.exe");
         EXPECT_EQ(p.th32ProcessID, 43u);
         MODULEENTRY32W m{};
         m.dwSize = sizeof m;
         ASSERT_TRUE(twin().Module32FirstW(nullptr, &m));
         EXPECT_EQ(seenProcessSize, sizeof(MODULEENTRY32));
         EXPECT_EQ(m.modBaseSize, 0x1000u);
         EXPECT_EQ(text(m.szModule), u"m\u00F6d.dll");
         EXPECT_EQ(text(m.szExePath), u"C:\\m\u00F6d.dll");
         win32::unregister_export("kernel32", "Process32First");
         win32::unregister_export("kernel32", "Process32Next");
         win32::unregister_export("kernel32", "Module32First");
         Windows::testing::lookUpEntryPoints();
         SetLastError(0);
         EXPECT_FALSE(twin().Process32FirstW(nullptr, &p));
         EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
       }},
      {"77/78 version resources: the path in",
       [&] {
         DWORD ha = 1, hb = 1;
         const DWORD n = ::GetFileVersionInfoSizeW(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt", &hb);
         const DWORD wideError = GetLastError();
         EXPECT_EQ(twin().GetFileVersionInfoSizeW(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt", &ha), n);
         EXPECT_EQ(GetLastError(), wideError);
         EXPECT_EQ(ha, hb);
       }},
      {"59 CreateProcessW: application, command line and folder in (U+0100 has no CP1252 byte: its best fit 'A')",
       [&] {
         put("echo args", "#!/bin/sh\nprintf '%s|' \"$@\" > \"$0.tmp\"; pwd >> \"$0.tmp\"; mv \"$0.tmp\" \"$0.out\"\n");
         std::filesystem::permissions(c("echo args"), std::filesystem::perms::owner_exec,
                                      std::filesystem::perm_options::add);
         std::u16string line = u"\"C:\\echo args\" caf\u00E9 \u0100";
         STARTUPINFOW si{};
         si.cb = sizeof si;
         si.dwFlags = STARTF_USESHOWWINDOW;
         PROCESS_INFORMATION pi{};
         ASSERT_TRUE(twin().CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                           u"C:\\d\u00E9j\u00E0", &si, &pi));
         EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
         CloseHandle(pi.hThread);
         CloseHandle(pi.hProcess);
         for (int i = 0; i < 1000 && !std::filesystem::exists(c("echo args.out")); ++i) ::usleep(10000);
         EXPECT_EQ(get("echo args.out"), "caf\xC3\xA9|A|" + c("d\xC3\xA9j\xC3\xA0") + "\n");
         std::u16string none = u"C:\\n\u00F6ne.exe";
         EXPECT_FALSE(twin().CreateProcessW(nullptr, none.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                                            &pi));
         EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
       }},
      {"60 GetStartupInfoW: numbers back, texts into the caller's own buffers (260 at most)",
       [&] {
         STARTUPINFOW own{};
         nt_.GetStartupInfoW(&own);
         Guarded desktop, title;
         STARTUPINFOW si;
         std::memset(&si, 0xEE, sizeof si);
         si.lpReserved = nullptr;
         si.lpDesktop = desktop.units;
         si.lpTitle = title.units;
         twin().GetStartupInfoW(&si);
         EXPECT_EQ(si.cb, sizeof si);
         EXPECT_EQ(si.dwFlags, own.dwFlags);
         EXPECT_EQ(si.hStdOutput, own.hStdOutput);
         EXPECT_EQ(si.lpDesktop, desktop.units);
         EXPECT_EQ(si.lpTitle, title.units);
         EXPECT_EQ(text(desktop.units), u"WinSta0\\Default");
         EXPECT_EQ(text(title.units), text(own.lpTitle));
         EXPECT_TRUE(desktop.untouchedFrom(MAX_PATH));
         // Without buffers the texts stay away.
         STARTUPINFOW bare{};
         twin().GetStartupInfoW(&bare);
         EXPECT_EQ(bare.lpDesktop, nullptr);
         EXPECT_EQ(bare.lpTitle, nullptr);
         EXPECT_EQ(bare.cb, sizeof bare);
       }},
      {"69/70 ShellExecuteW, ShellExecuteExW: strings in (U+4E2D has no CP1252 byte nor best fit: '?'), results and "
       "the process back",
       [&] {
         win32::record_shell_calls(true);
         EXPECT_EQ(reinterpret_cast<ULONG_PTR>(twin().ShellExecuteW(nullptr, u"open", u"http://x.invalid/\u00E9\u4E2D",
                                                                    u"\u20AC", nullptr, SW_SHOW)),
                   42u);
         SHELLEXECUTEINFOW info{};
         info.cbSize = sizeof info;
         info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_CLASSNAME;
         info.lpFile = u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt";
         info.lpClass = u"txtf\u00EFle";
         info.lpDirectory = u"C:\\d\u00E9j\u00E0";
         info.nShow = SW_SHOWNORMAL;
         info.dwHotKey = 0x41;
         info.hProcess = reinterpret_cast<HANDLE>(1);
         ASSERT_TRUE(twin().ShellExecuteExW(&info));
         EXPECT_EQ(reinterpret_cast<ULONG_PTR>(info.hInstApp), 42u);
         EXPECT_EQ(info.hProcess, nullptr);
         EXPECT_EQ(info.dwHotKey, 0x41u);
         EXPECT_EQ(info.fMask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_CLASSNAME));
         const auto calls = win32::recorded_shell_calls();
         win32::record_shell_calls(false);
         ASSERT_EQ(calls.size(), 2u);
         EXPECT_EQ(calls[0].verb, u"open");
         EXPECT_EQ(calls[0].file, u"http://x.invalid/\u00E9?");
         EXPECT_EQ(calls[0].parameters, u"\u20AC");
         EXPECT_EQ(calls[0].show, SW_SHOW);
         EXPECT_EQ(calls[1].file, u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt");
         EXPECT_EQ(calls[1].directory, u"C:\\d\u00E9j\u00E0");
       }},
      {"72 SHGetPathFromIDListW: a 260-byte ANSI path converted back",
       [&] {
         LPITEMIDLIST list = nullptr;
         ASSERT_EQ(SHParseDisplayName(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt", nullptr, &list, 0, nullptr), S_OK);
         Guarded a;
         ASSERT_TRUE(twin().SHGetPathFromIDListW(list, a.units));
         EXPECT_EQ(text(a.units), u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt");
         EXPECT_TRUE(a.untouchedFrom(text(a.units).size() + 1));
         CoTaskMemFree(list);
         // 259 characters and the terminator fill the 260 bytes exactly.
         const std::u16string first = u"C:\\" + std::u16string(100, u'\u00E9') + std::u16string(27, u'a');
         const std::u16string longest = first + u"\\" + std::u16string(128, u'b');
         ASSERT_EQ(longest.size(), 259u);
         ASSERT_TRUE(nt_.CreateDirectoryW(first.c_str(), nullptr));
         ASSERT_TRUE(nt_.CreateDirectoryW(longest.c_str(), nullptr));
         ASSERT_EQ(SHParseDisplayName(longest.c_str(), nullptr, &list, 0, nullptr), S_OK);
         Guarded full;
         ASSERT_TRUE(twin().SHGetPathFromIDListW(list, full.units));
         EXPECT_EQ(text(full.units), longest);
         EXPECT_TRUE(full.untouchedFrom(MAX_PATH));
         CoTaskMemFree(list);
         // A list without a file-system path: failure, nothing converted back.
         Guarded none;
         EXPECT_FALSE(twin().SHGetPathFromIDListW(nullptr, none.units));
         EXPECT_TRUE(none.untouchedFrom(0));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    row.check();
  }
  RegCloseKey(root);
}

// Stand-ins for the ANSI dialogs: what they were handed, and an answer.
OPENFILENAMEA g_seen{};
std::string g_seenFilter, g_seenFile, g_seenInitialDir, g_seenTitle, g_seenDefExt;
BOOL g_dialogAnswer = TRUE;
BOOL fakeOpenDialogA(OPENFILENAMEA* a) {
  g_seen = *a;
  // The whole list, its final empty string included.
  g_seenFilter.clear();
  if (const char* f = a->lpstrFilter) {
    std::size_t n = 0;
    while (f[n] || f[n + 1]) ++n;
    g_seenFilter.assign(f, n + 2);
  }
  g_seenFile = a->lpstrFile ? a->lpstrFile : "(null)";
  g_seenInitialDir = a->lpstrInitialDir ? a->lpstrInitialDir : "(null)";
  g_seenTitle = a->lpstrTitle ? a->lpstrTitle : "(null)";
  g_seenDefExt = a->lpstrDefExt ? a->lpstrDefExt : "(null)";
  if (!g_dialogAnswer) return FALSE;
  std::strcpy(a->lpstrFile, "C:\\d\xE9j\xE0\\\x80.txt");
  std::strcpy(a->lpstrFileTitle, "\x80.txt");
  a->nFileOffset = 9;
  a->nFileExtension = 11;
  a->nFilterIndex = 2;
  a->Flags |= 0x00000001;  // OFN_READONLY
  return TRUE;
}

std::vector<std::u16string> g_thunkFaces;
std::vector<WCHAR> g_thunkLastChars;
int CALLBACK collectWide(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD type, LPARAM answer) {
  g_thunkFaces.emplace_back(font->lfFaceName);
  g_thunkLastChars.push_back(metrics->tmLastChar);
  EXPECT_EQ(type, DWORD{TRUETYPE_FONTTYPE});
  return static_cast<int>(answer);
}

LOGFONTW faceFont(const char16_t* face, LONG height) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::u16string f = face;
  std::copy(f.begin(), f.end(), lf.lfFaceName);
  return lf;
}

// The twin's rules for the GUI's structures, one row each: the ANSI side's
// exact bytes where a stand-in sees them, else the wide layer's answer.
TEST_F(Layer9xCalls, GuiStructureRules) {
  ASSERT_TRUE(nt_.CreateDirectoryW(u"C:\\d\u00E9j\u00E0", nullptr));
  HANDLE made = nt_.CreateFileW(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                                nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  CloseHandle(made);
  struct Row {
    const char* rule;
    std::function<void()> check;
  };
  const Row rows[] = {
      {"47 SystemParametersInfoW: the 340-byte record converted back; other actions unchanged",
       [&] {
         NONCLIENTMETRICSW wide{}, twin9x{};
         wide.cbSize = twin9x.cbSize = sizeof wide;
         twin9x.iPaddedBorderWidth = 77;
         ASSERT_TRUE(nt_.SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof wide, &wide, 0));
         ASSERT_TRUE(twin().SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof twin9x, &twin9x, 0));
         EXPECT_EQ(twin9x.iBorderWidth, wide.iBorderWidth);
         EXPECT_EQ(twin9x.iCaptionHeight, wide.iCaptionHeight);
         EXPECT_EQ(twin9x.iSmCaptionWidth, wide.iSmCaptionWidth);
         EXPECT_EQ(twin9x.iMenuHeight, wide.iMenuHeight);
         EXPECT_EQ(text(twin9x.lfMessageFont.lfFaceName), text(wide.lfMessageFont.lfFaceName));
         EXPECT_EQ(text(twin9x.lfCaptionFont.lfFaceName), text(wide.lfCaptionFont.lfFaceName));
         EXPECT_EQ(twin9x.lfStatusFont.lfHeight, -12);
         EXPECT_EQ(twin9x.iPaddedBorderWidth, 77);  // not in the ANSI record
         SetLastError(0);
         EXPECT_FALSE(twin().SystemParametersInfoW(0x0030, 0, nullptr, 0));
         EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
       }},
      {"48/49 CreateFontIndirectW, GetTextMetricsW: the face in, the characters widened by value",
       [&] {
         if (layer_test::fontconfigFamily("DejaVu Sans Mono") != "DejaVu Sans Mono") GTEST_SKIP();
         HDC dc = CreateCompatibleDC(nullptr);
         const LOGFONTW mono = faceFont(u"DejaVu Sans Mono", -12);
         HFONT font = twin().CreateFontIndirectW(&mono);
         ASSERT_NE(font, nullptr);
         SelectObject(dc, font);
         TEXTMETRICW wide{}, twin9x{};
         ASSERT_TRUE(nt_.GetTextMetricsW(dc, &wide));
         ASSERT_TRUE(twin().GetTextMetricsW(dc, &twin9x));
         EXPECT_EQ(twin9x.tmPitchAndFamily & TMPF_FIXED_PITCH, 0);  // the face came through: fixed pitch
         EXPECT_EQ(twin9x.tmHeight, wide.tmHeight);
         EXPECT_EQ(twin9x.tmAveCharWidth, wide.tmAveCharWidth);
         EXPECT_EQ(twin9x.tmFirstChar, 0x20);
         EXPECT_EQ(twin9x.tmLastChar, 0xFF);  // an ANSI byte at most
         EXPECT_EQ(twin9x.tmBreakChar, 0x20);
         EXPECT_EQ(twin9x.tmCharSet, wide.tmCharSet);
         DeleteObject(font);
         DeleteDC(dc);
       }},
      {"50 EnumFontFamiliesExW: the face in, each font through the thunk",
       [&] {
         if (layer_test::fontconfigFamily("DejaVu Serif") != "DejaVu Serif") GTEST_SKIP();
         HDC dc = CreateCompatibleDC(nullptr);
         LOGFONTW lf = faceFont(u"DejaVu Serif", 0);
         g_thunkFaces.clear();
         g_thunkLastChars.clear();
         EXPECT_EQ(twin().EnumFontFamiliesExW(dc, &lf, collectWide, 7, 0), 7);
         EXPECT_EQ(g_thunkFaces, std::vector<std::u16string>{u"DejaVu Serif"});
         EXPECT_EQ(g_thunkLastChars, std::vector<WCHAR>{0xFF});
         DeleteDC(dc);
         // The thunk alone: the face converted, the characters by value
         // (0x80 stays U+0080, not the euro sign).
         LOGFONTA a{};
         a.lfHeight = 16;
         a.lfWeight = 700;
         std::strcpy(a.lfFaceName, "Caf\xE9 \x80");
         TEXTMETRICA ta{};
         ta.tmHeight = 16;
         ta.tmFirstChar = 0x20;
         ta.tmLastChar = 0x80;
         ta.tmDefaultChar = 0x1F;
         ta.tmBreakChar = 0x20;
         ta.tmCharSet = 0;
         Windows::FontEnumRequest request{collectWide, 3};
         g_thunkFaces.clear();
         g_thunkLastChars.clear();
         EXPECT_EQ(Windows::fontEnumThunk(&a, &ta, TRUETYPE_FONTTYPE, reinterpret_cast<LPARAM>(&request)), 3);
         EXPECT_EQ(g_thunkFaces, std::vector<std::u16string>{u"Caf\u00E9 \u20AC"});
         EXPECT_EQ(g_thunkLastChars, std::vector<WCHAR>{0x0080});
       }},
      {"52/53 GetOpenFileNameW, GetSaveFileNameW: the request in ANSI, the answer back",
       [&] {
         win32::register_export("comdlg32", "GetOpenFileNameA", as_export(&fakeOpenDialogA));
         WCHAR file[64] = u"d\u00E9but.txt";
         WCHAR title[32] = {};
         const WCHAR filter[] = u"T\u00E9xte (*.txt)\0*.txt\0Tout\0*.*\0";
         OPENFILENAMEW request{};
         request.lStructSize = sizeof request;
         request.lpstrFilter = filter;
         request.nFilterIndex = 1;
         request.lpstrFile = file;
         request.nMaxFile = 64;
         request.lpstrFileTitle = title;
         request.nMaxFileTitle = 32;
         request.lpstrInitialDir = u"C:\\d\u00E9j\u00E0";
         request.lpstrTitle = u"Ouvrir \u20AC";
         request.lpstrDefExt = u"txt";
         request.Flags = OFN_FILEMUSTEXIST;
         request.lCustData = 99;
         g_dialogAnswer = TRUE;
         ASSERT_TRUE(twin().GetOpenFileNameW(&request));
         EXPECT_EQ(g_seen.lStructSize, sizeof(OPENFILENAMEA));
         // The whole list and its final empty string.
         EXPECT_EQ(g_seenFilter, std::string("T\xE9xte (*.txt)\0*.txt\0Tout\0*.*\0", 30));
         EXPECT_EQ(g_seenFile, "d\xE9" "but.txt");
         EXPECT_EQ(g_seen.nMaxFile, 64u);
         EXPECT_EQ(g_seenInitialDir, "C:\\d\xE9j\xE0");
         EXPECT_EQ(g_seenTitle, "Ouvrir \x80");
         EXPECT_EQ(g_seenDefExt, "txt");
         EXPECT_EQ(g_seen.lCustData, 99);
         EXPECT_EQ(g_seen.Flags, DWORD{OFN_FILEMUSTEXIST});
         EXPECT_EQ(text(file), u"C:\\d\u00E9j\u00E0\\\u20AC.txt");
         EXPECT_EQ(text(title), u"\u20AC.txt");
         EXPECT_EQ(request.nFileOffset, 9);
         EXPECT_EQ(request.nFileExtension, 11);
         EXPECT_EQ(request.nFilterIndex, 2u);
         EXPECT_EQ(request.Flags, DWORD{OFN_FILEMUSTEXIST | 1});
         // Cancelled: nothing comes back.
         WCHAR kept[64] = u"kept";
         request.lpstrFile = kept;
         g_dialogAnswer = FALSE;
         EXPECT_FALSE(twin().GetOpenFileNameW(&request));
         EXPECT_EQ(text(kept), u"kept");
         win32::unregister_export("comdlg32", "GetOpenFileNameA");
         SetLastError(0);
         EXPECT_FALSE(twin().GetSaveFileNameW(&request));
         EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
       }},
      {"54/55 VkKeyScanW, VkKeyScanExW: the character's ANSI byte (U+4E00 has none: '?')",
       [&] {
         EXPECT_EQ(twin().VkKeyScanW(u'a'), 0x41);
         EXPECT_EQ(twin().VkKeyScanW(u'?'), 0x1BF);
         EXPECT_EQ(twin().VkKeyScanW(u'\u4E00'), 0x1BF);
         EXPECT_EQ(nt_.VkKeyScanW(u'\u4E00'), -1);
         EXPECT_EQ(twin().VkKeyScanExW(u'Z', nullptr), 0x15A);
       }},
      {"38 OutputDebugStringW: the text in",
       [&] {
         win32::record_debug_strings(true);
         twin().OutputDebugStringW(u"d\u00E9bug \u4E00");
         EXPECT_EQ(win32::recorded_debug_strings(), std::vector<std::u16string>{u"d\u00E9bug ?"});
         win32::record_debug_strings(false);
       }},
      {"87 WriteConsoleW: the console's code page (437), not the ANSI one",
       [&] {
         layer_test::Terminal terminal;
         ASSERT_NE(terminal.handle(), INVALID_HANDLE_VALUE);
         DWORD written = 0;
         const std::u16string text437 = u"caf\u00E9 \u20AC";
         ASSERT_TRUE(twin().WriteConsoleW(terminal.handle(), text437.data(), 6, &written, nullptr));
         EXPECT_EQ(written, 6u);
         EXPECT_EQ(terminal.read(), "caf\xC3\xA9 ?");  // the euro sign has no 437 byte
         EXPECT_FALSE(twin().WriteConsoleW(terminal.handle(), text437.data(), 0, &written, nullptr));
       }},
      {"71 SHGetFileInfoW: the path in, the names back; an item list passed unchanged",
       [&] {
         const UINT asked = SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES;
         SHFILEINFOW info{};
         ASSERT_EQ(twin().SHGetFileInfoW(u"C:\\d\u00E9j\u00E0\\\u20AC uro.txt", 0, &info, sizeof info, asked), 1u);
         EXPECT_EQ(text(info.szDisplayName), u"\u20AC uro.txt");
         EXPECT_EQ(text(info.szTypeName), u"TXT File");
         EXPECT_EQ(info.dwAttributes, DWORD{SFGAO_FILESYSTEM});
         LPITEMIDLIST list = nullptr;
         ASSERT_EQ(SHParseDisplayName(u"C:\\d\u00E9j\u00E0", nullptr, &list, 0, nullptr), S_OK);
         SHFILEINFOW folder{};
         ASSERT_EQ(twin().SHGetFileInfoW(reinterpret_cast<LPCWSTR>(list), 0, &folder, sizeof folder,
                                         asked | SHGFI_PIDL),
                   1u);
         EXPECT_EQ(text(folder.szDisplayName), u"d\u00E9j\u00E0");
         EXPECT_EQ(text(folder.szTypeName), u"File folder");
         CoTaskMemFree(list);
         SHFILEINFOW none{};
         EXPECT_EQ(twin().SHGetFileInfoW(u"C:\\n\u00F6ne.txt", 0, &none, sizeof none, asked), 0u);
       }},
      {"94 Shell_NotifyIconA: the tip in 64 bytes, the balloon's text and title",
       [&] {
         NOTIFYICONDATAW d{};
         d.cbSize = sizeof d;
         d.uID = 9;
         d.uFlags = NIF_TIP | NIF_INFO;
         const std::u16string tip = u"T\u00EFp " + std::u16string(100, u'x');
         std::copy(tip.begin(), tip.end(), d.szTip);
         const std::u16string info = u"Ballon \u20AC";
         std::copy(info.begin(), info.end(), d.szInfo);
         const std::u16string title = u"Titr\u00E9";
         std::copy(title.begin(), title.end(), d.szInfoTitle);
         d.uTimeout = 5000;
         ASSERT_TRUE(static_cast<Windows::Layer9x&>(twin()).Shell_NotifyIconA(NIM_ADD, &d));
         const auto icons = win32::notify_icons();
         ASSERT_EQ(icons.size(), 1u);
         EXPECT_EQ(icons[0].tip, tip.substr(0, 64));
         EXPECT_EQ(icons[0].info, info);
         EXPECT_EQ(icons[0].infoTitle, title);
         EXPECT_EQ(icons[0].timeout, 5000u);
         EXPECT_TRUE(static_cast<Windows::Layer9x&>(twin()).Shell_NotifyIconA(NIM_DELETE, &d));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    row.check();
  }
}

}  // namespace
