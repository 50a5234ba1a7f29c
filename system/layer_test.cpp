#include "system/layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/testing/test_world.h"
#include "system/layer_testing.h"

namespace {

using Windows::LayerNT;

template <class F>
FARPROC as_export(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f));
}

TEST(Layer, StartUpMadeTheNtLayerAndReadTheVersion) {
  ASSERT_NE(Windows::layer, nullptr);
  EXPECT_EQ(dynamic_cast<Windows::Layer9x*>(Windows::layer), nullptr);
  EXPECT_TRUE(Windows::isXpOrLater);  // Windows 10
  EXPECT_EQ(Windows::keyWow64Flag64, REGSAM{0x100});
  EXPECT_EQ(Windows::keyWow64Flag32, REGSAM{0x200});

  std::unique_ptr<LayerNT> nt(Windows::createLayerFor(0x7FFFFFFFu));
  EXPECT_EQ(dynamic_cast<Windows::Layer9x*>(nt.get()), nullptr);
  std::unique_ptr<LayerNT> nine_x(Windows::createLayerFor(0x80000000u));
  EXPECT_NE(dynamic_cast<Windows::Layer9x*>(nine_x.get()), nullptr);
}

TEST(Layer, VersionValuesFollowTheMajorAndMinorVersion) {
  struct Case {
    DWORD version;
    bool xp;
  };
  const Case cases[] = {{0x0004, false}, {0x0005, false}, {0x0105, true}, {0x0205, true},
                        {0x0006, true},  {0x0106, true},  {0x000A, true}, {0x5A04, false}};
  for (const Case& c : cases) {
    const Windows::VersionValues v = Windows::versionValuesFor(c.version);
    EXPECT_EQ(v.isXpOrLater, c.xp) << std::hex << c.version;
    EXPECT_EQ(v.keyWow64Flag64, c.xp ? REGSAM{0x100} : 0) << std::hex << c.version;
    EXPECT_EQ(v.keyWow64Flag32, c.xp ? REGSAM{0x200} : 0) << std::hex << c.version;
  }
}

class LayerCalls : public win32_test::World {};

LRESULT CALLBACK doubling(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_USER) return static_cast<LRESULT>(w * 2);
  return Windows::layer->DefWindowProcW(h, m, w, l);
}

TEST_F(LayerCalls, ServedSlotsPassArgumentsAndResultsThrough) {
  LayerNT& L = *Windows::layer;
  // Windows and messages.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = doubling;
  wc.cbWndExtra = 8;
  wc.lpszClassName = u"KvLayerTest";
  ASSERT_NE(L.RegisterClassExW(&wc), 0);
  HWND h = CreateWindowExW(0, u"KvLayerTest", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(L.SetWindowLongW(h, 0, 1234), 0);
  EXPECT_EQ(L.GetWindowLongW(h, 0), 1234);
  EXPECT_EQ(L.SendMessageW(h, WM_USER, 21, 0), 42);
  EXPECT_TRUE(L.PostMessageW(h, WM_USER, 5, 0));
  MSG m{};
  ASSERT_TRUE(L.PeekMessageW(&m, h, 0, 0, PM_REMOVE));
  EXPECT_EQ(L.DispatchMessageW(&m), 10);
  EXPECT_TRUE(L.SendNotifyMessageW(h, WM_USER, 1, 0));
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_TRUE(UnregisterClassW(u"KvLayerTest", nullptr));

  // Files and folders on drive C of the test world.
  EXPECT_TRUE(L.CreateDirectoryW(u"C:\\dir", nullptr));
  EXPECT_EQ(L.GetFileAttributesW(u"C:\\dir") & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
  HANDLE f = L.CreateFileW(u"C:\\dir\\a.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  EXPECT_TRUE(L.CopyFileW(u"C:\\dir\\a.txt", u"C:\\dir\\b.txt", TRUE));
  EXPECT_FALSE(L.CopyFileW(u"C:\\dir\\a.txt", u"C:\\dir\\b.txt", TRUE));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS});
  EXPECT_TRUE(L.MoveFileW(u"C:\\dir\\b.txt", u"C:\\dir\\c.txt"));
  EXPECT_TRUE(L.DeleteFileW(u"C:\\dir\\a.txt"));
  EXPECT_TRUE(L.DeleteFileW(u"C:\\dir\\c.txt"));
  EXPECT_FALSE(L.DeleteFileW(u"C:\\dir\\c.txt"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_TRUE(L.RemoveDirectoryW(u"C:\\dir"));
  WCHAR buf[MAX_PATH];
  EXPECT_TRUE(L.SetCurrentDirectoryW(u"C:\\"));
  EXPECT_EQ(L.GetCurrentDirectoryW(MAX_PATH, buf), 3u);
  EXPECT_EQ(std::u16string(buf), u"C:\\");

  // Environment and locale.
  EXPECT_TRUE(L.SetEnvironmentVariableW(u"KV_LAYER_TEST", u"x"));
  EXPECT_EQ(L.GetEnvironmentVariableW(u"KV_LAYER_TEST", buf, MAX_PATH), 1u);
  EXPECT_EQ(L.ExpandEnvironmentStringsW(u"a%KV_LAYER_TEST%b", buf, MAX_PATH), 4u);  // with the NUL
  EXPECT_EQ(std::u16string(buf), u"axb");
  EXPECT_TRUE(L.SetEnvironmentVariableW(u"KV_LAYER_TEST", nullptr));
  EXPECT_EQ(L.GetLocaleInfoW(0x0409, LOCALE_SDECIMAL, buf, MAX_PATH), 2);
  EXPECT_EQ(std::u16string(buf), u".");
  EXPECT_EQ(L.GetNumberFormatW(0x0409, 0, u"1234.5", nullptr, buf, MAX_PATH), 9);
  EXPECT_EQ(std::u16string(buf), u"1,234.50");
  const SYSTEMTIME st{2024, 5, 0, 1, 14, 5, 9, 0};
  EXPECT_GT(L.GetDateFormatW(0x0409, 0, &st, nullptr, buf, MAX_PATH), 0);
  EXPECT_EQ(std::u16string(buf), u"5/1/2024");
  EXPECT_GT(L.GetTimeFormatW(0x0409, 0, &st, nullptr, buf, MAX_PATH), 0);
  EXPECT_EQ(std::u16string(buf), u"2:05:09 PM");
  EXPECT_EQ(L.GetLocaleInfoW(0x0409, 0x7777, buf, MAX_PATH), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_FLAGS});

  SYSTEM_INFO info{};
  L.GetNativeSystemInfo(&info);
  EXPECT_EQ(info.dwPageSize, 4096u);
  EXPECT_GE(info.dwNumberOfProcessors, 1u);
}

// Processes and shell execution reach the platform's calls.
TEST_F(LayerCalls, ProcessAndShellSlotsReachThePlatform) {
  LayerNT& L = *Windows::layer;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::u16string line = u"false";
  ASSERT_TRUE(L.CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 1u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // This process's own start-up record.
  STARTUPINFOW own;
  std::memset(&own, 0xEE, sizeof own);
  L.GetStartupInfoW(&own);
  EXPECT_EQ(own.cb, sizeof own);
  EXPECT_EQ(own.dwFlags, 0u);
  ASSERT_NE(own.lpDesktop, nullptr);
  EXPECT_EQ(std::u16string(own.lpDesktop), u"WinSta0\\Default");
  WCHAR program[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
  ASSERT_NE(own.lpTitle, nullptr);
  EXPECT_EQ(std::u16string(own.lpTitle), std::u16string(program));

  // The account and machine names, with the platform's size rules.
  WCHAR name[64], direct[64];
  DWORD size = 64, direct_size = 64;
  ASSERT_TRUE(L.GetUserNameW(name, &size));
  ASSERT_TRUE(::GetUserNameW(direct, &direct_size));
  EXPECT_EQ(std::u16string(name), std::u16string(direct));
  EXPECT_EQ(size, direct_size);
  size = 1;
  EXPECT_FALSE(L.GetUserNameW(name, &size));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(size, direct_size);
  size = direct_size = 64;
  ASSERT_TRUE(L.GetComputerNameW(name, &size));
  ASSERT_TRUE(::GetComputerNameW(direct, &direct_size));
  EXPECT_EQ(std::u16string(name), std::u16string(direct));
  size = 1;
  EXPECT_FALSE(L.GetComputerNameW(name, &size));
  EXPECT_EQ(GetLastError(), DWORD{111});  // ERROR_BUFFER_OVERFLOW
  EXPECT_EQ(size, direct_size + 1);

  win32::record_shell_calls(true);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.lpFile = u"https://example.invalid/";
  EXPECT_TRUE(L.ShellExecuteExW(&info));
  EXPECT_GT(reinterpret_cast<ULONG_PTR>(L.ShellExecuteW(nullptr, u"open", u"mailto:x@example.invalid", nullptr,
                                                        nullptr, SW_SHOWNORMAL)),
            32u);
  auto calls = win32::recorded_shell_calls();
  win32::record_shell_calls(false);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].file, u"https://example.invalid/");
  EXPECT_EQ(calls[1].verb, u"open");
}

// Every slot whose call the platform does not serve fails cleanly with 120.
TEST_F(LayerCalls, UnservedSlotsFailWithCallNotImplemented) {
  LayerNT& L = *Windows::layer;
  WCHAR buf[8];
  struct Case {
    int slot;
    std::function<bool()> failed;  // the result says failure
  };
  const Case cases[] = {
      {8, [&] { return L.CreateDialogIndirectParamW(nullptr, nullptr, nullptr, nullptr, 0) == nullptr; }},
      {11, [&] { return L.RegisterClipboardFormatW(u"x") == 0; }},
      {12, [&] { return L.GetClipboardFormatNameW(0xC000, buf, 8) == 0; }},
      {18, [&] { return !L.AppendMenuW(nullptr, 0, 1, u"x"); }},
      {19, [&] { return !L.ModifyMenuW(nullptr, 0, 0, 1, u"x"); }},
      {37, [&] { return !L.SetWindowTextW(nullptr, u"x"); }},
      {47, [&] { return !L.SystemParametersInfoW(0x0030, 0, nullptr, 0); }},  // only 41 is served
      // Without a GUI that registered them, the program has no file dialogs.
      {52, [&] { return !L.GetOpenFileNameW(nullptr); }},
      {53, [&] { return !L.GetSaveFileNameW(nullptr); }},
      {63, [&] { return !L.SetComputerNameW(u"x"); }},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_TRUE(c.failed()) << "slot " << c.slot;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_CALL_NOT_IMPLEMENTED}) << "slot " << c.slot;
  }
}

std::vector<std::u16string> g_faces;
int CALLBACK collectFaces(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD type, LPARAM answer) {
  g_faces.emplace_back(font->lfFaceName);
  EXPECT_EQ(type, DWORD{TRUETYPE_FONTTYPE});
  EXPECT_EQ(font->lfCharSet, ANSI_CHARSET);
  EXPECT_EQ(font->lfHeight, metrics->tmHeight);
  return static_cast<int>(answer);
}

OPENFILENAMEW* g_dialogRequest = nullptr;
BOOL fakeOpenDialog(OPENFILENAMEW* request) {
  g_dialogRequest = request;
  return TRUE;
}

LOGFONTW faceFont(const char16_t* face, LONG height) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::u16string f = face;
  std::copy(f.begin(), f.end(), lf.lfFaceName);
  return lf;
}

// The slots of the GUI's Win32 calls, one row each, with Windows' answer:
// fixed values, or the font file's own tables read apart from FreeType.
TEST_F(LayerCalls, GuiSlotsAnswerAsWindows) {
  LayerNT& L = *Windows::layer;
  struct Row {
    const char* rule;
    std::function<void()> check;
  };
  const Row rows[] = {
      {"47 SystemParametersInfoW: Windows 10's non-client metrics, the desktop's face at 9 points",
       [&] {
         NONCLIENTMETRICSW m{};
         m.cbSize = sizeof m;
         ASSERT_TRUE(L.SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0));
         const int values[] = {m.iBorderWidth,    m.iScrollWidth,     m.iScrollHeight, m.iCaptionWidth,
                               m.iCaptionHeight,  m.iSmCaptionWidth,  m.iSmCaptionHeight, m.iMenuWidth,
                               m.iMenuHeight,     m.iPaddedBorderWidth};
         EXPECT_EQ(std::vector<int>(std::begin(values), std::end(values)),
                   (std::vector<int>{1, 17, 17, 36, 22, 22, 22, 19, 19, 4}));
         const std::string family = layer_test::fontconfigFamily("sans-serif");
         for (const LOGFONTW* f : {&m.lfCaptionFont, &m.lfSmCaptionFont, &m.lfMenuFont, &m.lfStatusFont,
                                   &m.lfMessageFont}) {
           EXPECT_EQ(std::u16string(f->lfFaceName), layer_test::wide(family));
           EXPECT_EQ(f->lfHeight, -12);
           EXPECT_EQ(f->lfWeight, FW_NORMAL);
         }
         // The record before Vista: no padded border, nothing written past it.
         NONCLIENTMETRICSW old{};
         old.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
         old.iPaddedBorderWidth = 77;
         ASSERT_TRUE(L.SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, old.cbSize, &old, 0));
         EXPECT_EQ(old.iScrollWidth, 17);
         EXPECT_EQ(old.iPaddedBorderWidth, 77);
         NONCLIENTMETRICSW wrong{};
         wrong.cbSize = 100;
         SetLastError(0);
         EXPECT_FALSE(L.SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 100, &wrong, 0));
         EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
       }},
      {"48/49 CreateFontIndirectW, GetTextMetricsW: DejaVu Sans read as GDI reads a TrueType font",
       [&] {
         if (layer_test::fontconfigFamily("DejaVu Sans") != "DejaVu Sans") GTEST_SKIP() << "no DejaVu Sans";
         HDC dc = CreateCompatibleDC(nullptr);
         ASSERT_NE(dc, nullptr);
         struct Case {
           LONG height;
           LONG tmHeight, ascent, descent, internalLeading, average, maximum;
         };
         // OS/2 winAscent 1901, winDescent 483, xAvgCharWidth 1038, hhea
         // advanceWidthMax 3838, 2048 units to the em.
         for (const Case& c : {Case{-12, 14, 11, 3, 2, 6, 22}, Case{20, 20, 16, 4, 3, 9, 32}}) {
           const LOGFONTW lf = faceFont(u"DejaVu Sans", c.height);
           HFONT font = L.CreateFontIndirectW(&lf);
           ASSERT_NE(font, nullptr);
           SelectObject(dc, font);
           TEXTMETRICW tm{};
           ASSERT_TRUE(L.GetTextMetricsW(dc, &tm));
           EXPECT_EQ(tm.tmHeight, c.tmHeight) << c.height;
           EXPECT_EQ(tm.tmAscent, c.ascent) << c.height;
           EXPECT_EQ(tm.tmDescent, c.descent) << c.height;
           EXPECT_EQ(tm.tmInternalLeading, c.internalLeading) << c.height;
           EXPECT_EQ(tm.tmExternalLeading, 0) << c.height;
           EXPECT_EQ(tm.tmAveCharWidth, c.average) << c.height;
           EXPECT_EQ(tm.tmMaxCharWidth, c.maximum) << c.height;
           EXPECT_EQ(tm.tmWeight, 400);
           EXPECT_EQ(tm.tmFirstChar, 0x20);
           EXPECT_EQ(tm.tmLastChar, 0xFFFF);
           EXPECT_EQ(tm.tmBreakChar, 0x20);
           EXPECT_EQ(tm.tmPitchAndFamily, TMPF_FIXED_PITCH | TMPF_VECTOR | TMPF_TRUETYPE);  // variable pitch
           EXPECT_EQ(tm.tmCharSet, ANSI_CHARSET);
           EXPECT_TRUE(DeleteObject(font));
         }
         // A fixed-pitch face reads as one.
         const LOGFONTW mono = faceFont(u"DejaVu Sans Mono", -12);
         HFONT font = L.CreateFontIndirectW(&mono);
         SelectObject(dc, font);
         TEXTMETRICW tm{};
         ASSERT_TRUE(L.GetTextMetricsW(dc, &tm));
         EXPECT_EQ(tm.tmPitchAndFamily & TMPF_FIXED_PITCH, 0);
         EXPECT_EQ(tm.tmAveCharWidth, tm.tmMaxCharWidth);
         EXPECT_TRUE(DeleteObject(font));
         EXPECT_FALSE(DeleteObject(font));
         EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
         EXPECT_TRUE(DeleteDC(dc));
         SetLastError(0);
         EXPECT_FALSE(L.GetTextMetricsW(dc, &tm));
         EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
       }},
      {"50 EnumFontFamiliesExW: a face, every family, the callback's stop, an unserved character set",
       [&] {
         if (layer_test::fontconfigFamily("DejaVu Sans") != "DejaVu Sans") GTEST_SKIP() << "no DejaVu Sans";
         HDC dc = CreateCompatibleDC(nullptr);
         LOGFONTW lf = faceFont(u"dejavu sans", 0);
         g_faces.clear();
         EXPECT_EQ(L.EnumFontFamiliesExW(dc, &lf, collectFaces, 5, 0), 5);
         EXPECT_EQ(g_faces, std::vector<std::u16string>{u"DejaVu Sans"});
         lf = faceFont(u"", 0);
         g_faces.clear();
         EXPECT_EQ(L.EnumFontFamiliesExW(dc, &lf, collectFaces, 1, 0), 1);
         EXPECT_NE(std::find(g_faces.begin(), g_faces.end(), u"DejaVu Sans Mono"), g_faces.end());
         g_faces.clear();
         EXPECT_EQ(L.EnumFontFamiliesExW(dc, &lf, collectFaces, 0, 0), 0);
         EXPECT_EQ(g_faces.size(), 1u);
         lf.lfCharSet = 128;  // SHIFTJIS_CHARSET
         g_faces.clear();
         EXPECT_EQ(L.EnumFontFamiliesExW(dc, &lf, collectFaces, 0, 0), 1);
         EXPECT_TRUE(g_faces.empty());
         DeleteDC(dc);
       }},
      {"52/53 GetOpenFileNameW, GetSaveFileNameW: the GUI's dialogs found by name",
       [&] {
         win32::register_export("comdlg32", "GetOpenFileNameW", as_export(&fakeOpenDialog));
         OPENFILENAMEW request{};
         EXPECT_TRUE(L.GetOpenFileNameW(&request));
         EXPECT_EQ(g_dialogRequest, &request);
         SetLastError(0);
         EXPECT_FALSE(L.GetSaveFileNameW(&request));
         EXPECT_EQ(GetLastError(), DWORD{ERROR_CALL_NOT_IMPLEMENTED});
         win32::unregister_export("comdlg32", "GetOpenFileNameW");
       }},
      {"54/55 VkKeyScanW, VkKeyScanExW: the US layout's keys and shift states",
       [&] {
         const std::pair<WCHAR, SHORT> keys[] = {
             {u'a', 0x41},  {u'A', 0x141}, {u'1', 0x31},  {u'!', 0x131}, {u')', 0x130}, {u' ', 0x20},
             {u'\n', 0x20D}, {u'\r', 0x0D}, {u'\t', 0x09}, {u';', 0xBA},  {u':', 0x1BA}, {u'~', 0x1C0},
             {u'\'', 0xDE}, {u'"', 0x1DE}, {0x03, 0x243}, {u'\u00E9', -1}, {u'\u4E00', -1}};
         for (const auto& [ch, key] : keys) {
           EXPECT_EQ(L.VkKeyScanW(ch), key) << static_cast<int>(ch);
           EXPECT_EQ(L.VkKeyScanExW(ch, reinterpret_cast<HKL>(static_cast<ULONG_PTR>(0x04090409))), key);
         }
       }},
      {"56 WinHelpW: fails as on a system without WinHelp",
       [&] {
         SetLastError(0);
         EXPECT_FALSE(L.WinHelpW(nullptr, u"x.hlp", 0, 0));
         EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_SUPPORTED});
       }},
      {"38 OutputDebugStringW: the text to a debugger, the last error kept",
       [&] {
         win32::record_debug_strings(true);
         SetLastError(1234);
         L.OutputDebugStringW(u"d\u00E9bug \u4E00");
         EXPECT_EQ(GetLastError(), 1234u);
         EXPECT_EQ(win32::recorded_debug_strings(), std::vector<std::u16string>{u"d\u00E9bug \u4E00"});
         win32::record_debug_strings(false);
       }},
      {"87 WriteConsoleW: UTF-8 on a terminal, 6 on a file",
       [&] {
         layer_test::Terminal terminal;
         ASSERT_NE(terminal.handle(), INVALID_HANDLE_VALUE);
         DWORD written = 0;
         const std::u16string text = u"h\u00E9llo \u20AC";
         ASSERT_TRUE(L.WriteConsoleW(terminal.handle(), text.data(), 7, &written, nullptr));
         EXPECT_EQ(written, 7u);
         EXPECT_EQ(terminal.read(), "h\xC3\xA9llo \xE2\x82\xAC");
         HANDLE file = CreateFileW(u"C:\\console.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
         ASSERT_NE(file, INVALID_HANDLE_VALUE);
         SetLastError(0);
         EXPECT_FALSE(L.WriteConsoleW(file, text.data(), 7, &written, nullptr));
         EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
         CloseHandle(file);
       }},
      {"71 SHGetFileInfoW: names, type names and attributes of the world's files",
       [&] {
         ASSERT_TRUE(CreateDirectoryW(u"C:\\docs", nullptr));
         HANDLE f = CreateFileW(u"C:\\docs\\report.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
         ASSERT_NE(f, INVALID_HANDLE_VALUE);
         CloseHandle(f);
         const UINT asked = SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES;
         SHFILEINFOW info{};
         ASSERT_EQ(L.SHGetFileInfoW(u"C:\\docs\\report.txt", 0, &info, sizeof info, asked), 1u);
         EXPECT_EQ(std::u16string(info.szDisplayName), u"report.txt");
         EXPECT_EQ(std::u16string(info.szTypeName), u"TXT File");
         EXPECT_EQ(info.dwAttributes, DWORD{SFGAO_FILESYSTEM});
         ASSERT_EQ(L.SHGetFileInfoW(u"C:\\docs", 0, &info, sizeof info, asked), 1u);
         EXPECT_EQ(std::u16string(info.szTypeName), u"File folder");
         EXPECT_EQ(info.dwAttributes, DWORD{SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_FILESYSANCESTOR});
         EXPECT_EQ(L.SHGetFileInfoW(u"C:\\docs\\gone.txt", 0, &info, sizeof info, asked), 0u);
         ASSERT_EQ(L.SHGetFileInfoW(u"C:\\docs\\gone.abc", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                                    asked | SHGFI_USEFILEATTRIBUTES),
                   1u);
         EXPECT_EQ(std::u16string(info.szTypeName), u"ABC File");
         ASSERT_EQ(L.SHGetFileInfoW(u"README", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                                    SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES),
                   1u);
         EXPECT_EQ(std::u16string(info.szTypeName), u"File");
         // A registered class names its type.
         HKEY k = nullptr;
         ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u".txt", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                   ERROR_SUCCESS);
         RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"txtfile"), 16);
         RegCloseKey(k);
         ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"txtfile", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                   nullptr),
                   ERROR_SUCCESS);
         RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"Text Document"), 28);
         RegCloseKey(k);
         LPITEMIDLIST list = nullptr;
         ASSERT_EQ(SHParseDisplayName(u"C:\\docs\\report.txt", nullptr, &list, 0, nullptr), S_OK);
         ASSERT_EQ(L.SHGetFileInfoW(reinterpret_cast<LPCWSTR>(list), 0, &info, sizeof info, asked | SHGFI_PIDL), 1u);
         EXPECT_EQ(std::u16string(info.szDisplayName), u"report.txt");
         EXPECT_EQ(std::u16string(info.szTypeName), u"Text Document");
         CoTaskMemFree(list);
       }},
      {"73 Shell_NotifyIconW: add once, modify and delete only what was added",
       [&] {
         NOTIFYICONDATAW d{};
         d.cbSize = sizeof d;
         d.uID = 7;
         d.uFlags = NIF_TIP | NIF_MESSAGE;
         d.uCallbackMessage = WM_USER + 1;
         std::u16string tip = u"Tip \u00E9";
         std::copy(tip.begin(), tip.end(), d.szTip);
         ASSERT_TRUE(L.Shell_NotifyIconW(NIM_ADD, &d));
         EXPECT_FALSE(L.Shell_NotifyIconW(NIM_ADD, &d));
         ASSERT_EQ(win32::notify_icons().size(), 1u);
         EXPECT_EQ(win32::notify_icons()[0].tip, tip);
         EXPECT_EQ(win32::notify_icons()[0].callbackMessage, UINT{WM_USER + 1});
         d.uFlags = NIF_INFO;
         std::u16string info = u"Done";
         std::copy(info.begin(), info.end(), d.szInfo);
         EXPECT_TRUE(L.Shell_NotifyIconW(NIM_MODIFY, &d));
         EXPECT_EQ(win32::notify_icons()[0].info, info);
         EXPECT_EQ(win32::notify_icons()[0].tip, tip);
         EXPECT_TRUE(L.Shell_NotifyIconW(NIM_DELETE, &d));
         EXPECT_FALSE(L.Shell_NotifyIconW(NIM_DELETE, &d));
         EXPECT_FALSE(L.Shell_NotifyIconW(NIM_MODIFY, &d));
         EXPECT_TRUE(win32::notify_icons().empty());
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    row.check();
  }
}

// Stand-ins for the optional entry points: each records that it ran.
std::vector<int> g_calls;
DWORD_PTR fake_file_info(LPCWSTR, DWORD, SHFILEINFOW*, UINT, UINT) { g_calls.push_back(71); return 7; }
BOOL fake_path(LPCITEMIDLIST, LPWSTR) { g_calls.push_back(72); return TRUE; }
BOOL fake_notify(DWORD, PNOTIFYICONDATAW) { g_calls.push_back(73); return TRUE; }
BOOL fake_process_first(HANDLE, LPPROCESSENTRY32W) { g_calls.push_back(74); return TRUE; }
BOOL fake_process_next(HANDLE, LPPROCESSENTRY32W) { g_calls.push_back(75); return TRUE; }
BOOL fake_module_first(HANDLE, LPMODULEENTRY32W) { g_calls.push_back(76); return TRUE; }
DWORD fake_version_size(LPCWSTR, LPDWORD) { g_calls.push_back(77); return 99; }
BOOL fake_version(LPCWSTR, DWORD, DWORD, LPVOID) { g_calls.push_back(78); return TRUE; }
BOOL fake_query(LPCVOID, LPCWSTR, LPVOID*, PUINT) { g_calls.push_back(79); return TRUE; }
BOOL fake_cred_write(PCREDENTIALW, DWORD) { g_calls.push_back(80); return TRUE; }
BOOL fake_cred_read(LPCWSTR, DWORD, DWORD, PCREDENTIALW*) { g_calls.push_back(81); return TRUE; }
BOOL fake_cred_delete(LPCWSTR, DWORD, DWORD) { g_calls.push_back(82); return TRUE; }
void fake_cred_free(PVOID) { g_calls.push_back(83); }
BOOL fake_cred_enumerate(LPCWSTR, DWORD, DWORD*, PCREDENTIALW**) { g_calls.push_back(84); return TRUE; }
BOOL fake_cred_marshal(CRED_MARSHAL_TYPE, PVOID, LPWSTR*) { g_calls.push_back(85); return TRUE; }
BOOL fake_cred_unmarshal(LPCWSTR, PCRED_MARSHAL_TYPE, PVOID*) { g_calls.push_back(86); return TRUE; }
LONG fake_delete_key_ex(HKEY, LPCWSTR subKey, REGSAM access, DWORD) {
  g_calls.push_back(90);
  return subKey && access == 0x100 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}
BOOL fake_disable(PVOID* old) {
  g_calls.push_back(91);
  *old = reinterpret_cast<PVOID>(0x1234);
  return TRUE;
}
BOOL fake_revert(PVOID old) {
  g_calls.push_back(92);
  return old == reinterpret_cast<PVOID>(0x1234);
}
void fake_native(LPSYSTEM_INFO info) {
  g_calls.push_back(93);
  info->dwPageSize = 1;
}

struct Optional {
  const char* module;
  const char* name;
  FARPROC standIn;
  int slot;
  std::function<bool(LayerNT&)> call;  // true when the slot reports success
};

const std::vector<Optional>& optionals() {
  static const std::vector<Optional> table = {
      {"shell32", "SHGetFileInfoW", as_export(&fake_file_info), 71,
       [](LayerNT& L) { return L.SHGetFileInfoW(u"x", 0, nullptr, 0, 0) == 7; }},
      {"shell32", "SHGetPathFromIDListW", as_export(&fake_path), 72,
       [](LayerNT& L) { return L.SHGetPathFromIDListW(nullptr, nullptr) != FALSE; }},
      {"shell32", "Shell_NotifyIconW", as_export(&fake_notify), 73,
       [](LayerNT& L) { return L.Shell_NotifyIconW(0, nullptr) != FALSE; }},
      {"kernel32", "Process32FirstW", as_export(&fake_process_first), 74,
       [](LayerNT& L) { return L.Process32FirstW(nullptr, nullptr) != FALSE; }},
      {"kernel32", "Process32NextW", as_export(&fake_process_next), 75,
       [](LayerNT& L) { return L.Process32NextW(nullptr, nullptr) != FALSE; }},
      {"kernel32", "Module32FirstW", as_export(&fake_module_first), 76,
       [](LayerNT& L) { return L.Module32FirstW(nullptr, nullptr) != FALSE; }},
      {"version", "GetFileVersionInfoSizeW", as_export(&fake_version_size), 77,
       [](LayerNT& L) { return L.GetFileVersionInfoSizeW(u"x", nullptr) == 99; }},
      {"version", "GetFileVersionInfoW", as_export(&fake_version), 78,
       [](LayerNT& L) { return L.GetFileVersionInfoW(u"x", 0, 0, nullptr) != FALSE; }},
      {"version", "VerQueryValueW", as_export(&fake_query), 79,
       [](LayerNT& L) { return L.VerQueryValueW(nullptr, u"\\", nullptr, nullptr) != FALSE; }},
      {"advapi32", "CredWriteW", as_export(&fake_cred_write), 80,
       [](LayerNT& L) { return L.CredWriteW(nullptr, 0) != FALSE; }},
      {"advapi32", "CredReadW", as_export(&fake_cred_read), 81,
       [](LayerNT& L) { return L.CredReadW(u"x", 1, 0, nullptr) != FALSE; }},
      {"advapi32", "CredDeleteW", as_export(&fake_cred_delete), 82,
       [](LayerNT& L) { return L.CredDeleteW(u"x", 1, 0) != FALSE; }},
      {"advapi32", "CredFree", as_export(&fake_cred_free), 83,
       [](LayerNT& L) {
         SetLastError(0);
         L.CredFree(nullptr);
         return GetLastError() == 0;
       }},
      {"advapi32", "CredEnumerateW", as_export(&fake_cred_enumerate), 84,
       [](LayerNT& L) { return L.CredEnumerateW(nullptr, 0, nullptr, nullptr) != FALSE; }},
      {"advapi32", "CredMarshalCredentialW", as_export(&fake_cred_marshal), 85,
       [](LayerNT& L) { return L.CredMarshalCredentialW(CRED_MARSHAL_TYPE{}, nullptr, nullptr) != FALSE; }},
      {"advapi32", "CredUnmarshalCredentialW", as_export(&fake_cred_unmarshal), 86,
       [](LayerNT& L) { return L.CredUnmarshalCredentialW(u"x", nullptr, nullptr) != FALSE; }},
  };
  return table;
}

// Provides or hides optional entry points for one test, then gives the
// start-up answers back.
class OptionalEntryPoints : public ::testing::Test {
 protected:
  void SetUp() override { g_calls.clear(); }
  void TearDown() override {
    for (const Optional& o : optionals()) win32::unregister_export(o.module, o.name);
    for (const char* name : {"RegDeleteKeyExW"}) win32::unregister_export("advapi32", name);
    for (const char* name : {"Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection",
                             "GetNativeSystemInfo"})
      win32::unregister_export("kernel32", name);
    Windows::testing::lookUpEntryPoints();
  }
};

TEST_F(OptionalEntryPoints, SlotsCallTheirEntryPointWhenPresentAndFailCleanlyWhenHidden) {
  LayerNT& L = *Windows::layer;
  for (const Optional& o : optionals()) win32::register_export(o.module, o.name, o.standIn);
  Windows::testing::lookUpEntryPoints();
  for (const Optional& o : optionals()) {
    g_calls.clear();
    EXPECT_TRUE(o.call(L)) << "slot " << o.slot;
    EXPECT_EQ(g_calls, std::vector<int>{o.slot});
  }
  for (const Optional& o : optionals()) win32::register_export(o.module, o.name, nullptr);
  Windows::testing::lookUpEntryPoints();
  g_calls.clear();
  for (const Optional& o : optionals()) {
    SetLastError(0);
    EXPECT_FALSE(o.call(L)) << "slot " << o.slot;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND}) << "slot " << o.slot;
  }
  EXPECT_TRUE(g_calls.empty());
}

// A layer whose registry slot 43 is observed, to see slot 90 fall back to it.
struct WatchedLayer : LayerNT {
  std::vector<std::u16string> deleted;
  LONG RegDeleteKeyW(HKEY, LPCWSTR subKey) override {
    deleted.emplace_back(subKey);
    return ERROR_ACCESS_DENIED;
  }
};

TEST_F(OptionalEntryPoints, FallbacksOfTheTestedSlots) {
  WatchedLayer L;
  PVOID old = reinterpret_cast<PVOID>(0x77);
  SYSTEM_INFO info{};

  for (const char* name : {"Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection", "GetNativeSystemInfo"})
    win32::register_export("kernel32", name, nullptr);
  win32::register_export("advapi32", "RegDeleteKeyExW", nullptr);
  Windows::testing::lookUpEntryPoints();
  EXPECT_EQ(L.RegDeleteKeyExW(nullptr, u"Software\\Gone", 0x100, 0), ERROR_ACCESS_DENIED);
  EXPECT_EQ(L.deleted, std::vector<std::u16string>{u"Software\\Gone"});
  EXPECT_EQ(L.Wow64DisableWow64FsRedirection(&old), FALSE);
  EXPECT_EQ(old, reinterpret_cast<PVOID>(0x77));  // untouched
  EXPECT_EQ(L.Wow64RevertWow64FsRedirection(old), FALSE);
  L.GetNativeSystemInfo(&info);
  EXPECT_EQ(info.dwPageSize, 4096u);  // GetSystemInfo answered
  EXPECT_TRUE(g_calls.empty());

  win32::register_export("kernel32", "Wow64DisableWow64FsRedirection", as_export(&fake_disable));
  win32::register_export("kernel32", "Wow64RevertWow64FsRedirection", as_export(&fake_revert));
  win32::register_export("kernel32", "GetNativeSystemInfo", as_export(&fake_native));
  win32::register_export("advapi32", "RegDeleteKeyExW", as_export(&fake_delete_key_ex));
  Windows::testing::lookUpEntryPoints();
  EXPECT_EQ(L.RegDeleteKeyExW(nullptr, u"Software\\Kept", 0x100, 0), ERROR_SUCCESS);
  EXPECT_EQ(L.deleted.size(), 1u);
  EXPECT_TRUE(L.Wow64DisableWow64FsRedirection(&old));
  EXPECT_TRUE(L.Wow64RevertWow64FsRedirection(old));
  L.GetNativeSystemInfo(&info);
  EXPECT_EQ(info.dwPageSize, 1u);
  EXPECT_EQ(g_calls, (std::vector<int>{90, 91, 92, 93}));
}

TEST_F(OptionalEntryPoints, StartUpFoundOnlyWhatTheSystemHas) {
  Windows::testing::lookUpEntryPoints();
  EXPECT_NE(Windows::entry::GetNativeSystemInfo, nullptr);
  EXPECT_EQ(Windows::entry::Wow64DisableWow64FsRedirection, nullptr);
  EXPECT_NE(Windows::entry::SHGetFileInfoW, nullptr);
  EXPECT_NE(Windows::entry::Shell_NotifyIconW, nullptr);
  EXPECT_EQ(Windows::entry::CredReadW, nullptr);
  EXPECT_NE(Windows::entry::GetFileVersionInfoSizeW, nullptr);
  SetLastError(0);
  PCREDENTIALW credential = nullptr;
  EXPECT_FALSE(Windows::layer->CredReadW(u"x", 1, 0, &credential));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
}

}  // namespace
