#include "platform/win32/windows.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

WORD word_at(const BYTE* p, std::size_t at) { return static_cast<WORD>(p[at] | p[at + 1] << 8); }

std::u16string text_at(const BYTE* p, std::size_t at, std::size_t n) {
  std::u16string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char16_t>(word_at(p, at + 2 * i));
  return s;
}

// shfolder's string-table block 1 holds ids 0-15; only id 3 has text, so its
// count sits after three empty counts, at byte 6, and its text at byte 8.
TEST(Resources, TheShfolderStringBlockIsLaidOutAsWindowsDoes) {
  HMODULE shfolder = LoadLibraryA("shfolder");
  ASSERT_TRUE(shfolder);
  struct Case {
    WORD language;
    const char16_t* text;
  } cases[] = {{1033, u"Application Data"}, {1031, u"Anwendungsdaten"}};
  for (const Case& c : cases) {
    HRSRC block = FindResourceExW(shfolder, RT_STRING, MAKEINTRESOURCEW(1), c.language);
    ASSERT_TRUE(block) << c.language;
    HGLOBAL loaded = LoadResource(shfolder, block);
    ASSERT_TRUE(loaded);
    const auto* p = static_cast<const BYTE*>(LockResource(loaded));
    ASSERT_TRUE(p);
    const std::size_t n = std::char_traits<char16_t>::length(c.text);
    EXPECT_EQ(SizeofResource(shfolder, block), 32 + 2 * n) << c.language;
    EXPECT_EQ(word_at(p, 0), 0);
    EXPECT_EQ(word_at(p, 2), 0);
    EXPECT_EQ(word_at(p, 4), 0);
    EXPECT_EQ(word_at(p, 6), n);
    EXPECT_EQ(text_at(p, 8, n), c.text);
    for (std::size_t id = 4; id < 16; ++id) EXPECT_EQ(word_at(p, 8 + 2 * n + 2 * (id - 4)), 0) << id;
  }
  FreeLibrary(shfolder);
}

TEST(Resources, Shell32CarriesOneUsEnglishVersionResource) {
  HMODULE shell32 = GetModuleHandleA("shell32");
  ASSERT_TRUE(shell32);
  std::vector<ULONG_PTR> names;
  ASSERT_TRUE(EnumResourceNamesW(
      shell32, RT_VERSION,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) -> BOOL {
        reinterpret_cast<std::vector<ULONG_PTR>*>(out)->push_back(reinterpret_cast<ULONG_PTR>(name));
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&names)));
  EXPECT_EQ(names, std::vector<ULONG_PTR>{1});
  std::vector<WORD> languages;
  ASSERT_TRUE(EnumResourceLanguagesW(
      shell32, RT_VERSION, MAKEINTRESOURCEW(1),
      [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) -> BOOL {
        reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&languages)));
  EXPECT_EQ(languages, std::vector<WORD>{1033});

  // VS_VERSIONINFO: length, value length 52, type 0, the key, padding to a
  // 32-bit boundary (byte 40), then the fixed information's signature.
  HRSRC version = FindResourceExW(shell32, RT_VERSION, MAKEINTRESOURCEW(1), 1033);
  ASSERT_TRUE(version);
  const auto* p = static_cast<const BYTE*>(LockResource(LoadResource(shell32, version)));
  ASSERT_TRUE(p);
  EXPECT_EQ(word_at(p, 0), SizeofResource(shell32, version));
  EXPECT_EQ(word_at(p, 2), 52);
  EXPECT_EQ(word_at(p, 4), 0);
  EXPECT_EQ(text_at(p, 6, 16), std::u16string(u"VS_VERSION_INFO", 16));
  EXPECT_EQ(word_at(p, 40) | word_at(p, 42) << 16, 0xFEEF04BD);
  EXPECT_EQ(SizeofResource(shell32, version), 92u);
}

TEST(Resources, MissingResourcesAnswerAsWindowsDoes) {
  HMODULE shfolder = LoadLibraryA("shfolder");
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  struct Case {
    HMODULE module;
    LPCWSTR type;
    LPCWSTR name;
    WORD language;
    DWORD error;
  } cases[] = {
      {kernel32, RT_STRING, MAKEINTRESOURCEW(1), 1033, ERROR_RESOURCE_DATA_NOT_FOUND},
      {nullptr, RT_VERSION, MAKEINTRESOURCEW(1), 1033, ERROR_RESOURCE_DATA_NOT_FOUND},
      {shfolder, RT_VERSION, MAKEINTRESOURCEW(1), 1033, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {shfolder, u"STRINGS", MAKEINTRESOURCEW(1), 1033, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {shfolder, RT_STRING, MAKEINTRESOURCEW(2), 1033, ERROR_RESOURCE_NAME_NOT_FOUND},
      {shfolder, RT_STRING, u"ONE", 1033, ERROR_RESOURCE_NAME_NOT_FOUND},
      {shfolder, RT_STRING, MAKEINTRESOURCEW(1), 1036, 1815},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(FindResourceExW(c.module, c.type, c.name, c.language), nullptr) << c.error;
    EXPECT_EQ(GetLastError(), c.error);
  }
  // Neutral takes the first language there is.
  EXPECT_TRUE(FindResourceExW(shfolder, RT_STRING, MAKEINTRESOURCEW(1), 0));

  // A walk the callback stops reports that it was stopped.
  SetLastError(0);
  EXPECT_FALSE(EnumResourceLanguagesW(
      shfolder, RT_STRING, MAKEINTRESOURCEW(1), [](HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR) -> BOOL { return FALSE; },
      0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_ENUM_USER_STOP));
  SetLastError(0);
  EXPECT_FALSE(EnumResourceNamesW(
      kernel32, RT_VERSION, [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR) -> BOOL { return TRUE; }, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));

  // A module made to hide its resources has none until shown again.
  win32::hide_resources_for_tests("SHFOLDER", true);
  SetLastError(0);
  EXPECT_EQ(FindResourceExW(shfolder, RT_STRING, MAKEINTRESOURCEW(1), 1033), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  win32::hide_resources_for_tests("shfolder", false);
  EXPECT_TRUE(FindResourceExW(shfolder, RT_STRING, MAKEINTRESOURCEW(1), 1033));
  FreeLibrary(shfolder);
}

}  // namespace
