#include "platform/win32/windows.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {
std::u16string to_wide(UINT cp, const std::string& bytes, DWORD flags = 0) {
  int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  if (n) {
    EXPECT_EQ(MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n), n);
  }
  return out;
}
std::string to_bytes(UINT cp, const std::u16string& wide, BOOL* used = nullptr) {
  int n = WideCharToMultiByte(cp, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, used);
  std::string out(static_cast<std::size_t>(n), '\0');
  if (n) {
    EXPECT_EQ(WideCharToMultiByte(cp, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, used), n);
  }
  return out;
}
}  // namespace

TEST(CodePage, Conversions) {
  struct Case {
    UINT cp;
    std::string bytes;
    std::u16string wide;
  } cases[] = {
      {CP_ACP, "abc", u"abc"},
      {CP_ACP, "\x80\x93\xE9\xFF", u"\u20AC\u201C\u00E9\u00FF"},
      {1252, "\x81\x8D", u"\u0081\u008D"},  // undefined positions keep their value
      {CP_OEMCP, "\x82\x9A\xC4\xE1", u"\u00E9\u00DC\u2500\u00DF"},
      {437, "\xB0\xFF", u"\u2591\u00A0"},
      {CP_UTF8, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00E9\u20AC\U0001F600"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(to_wide(c.cp, c.bytes), c.wide) << c.cp << " " << c.bytes;
    EXPECT_EQ(to_bytes(c.cp, c.wide), c.bytes) << c.cp << " " << c.bytes;
  }
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(GetOEMCP(), 437u);
}

TEST(CodePage, MinusOneCountsTheTerminator) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  WCHAR w[4];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, w, 4), 4);
  EXPECT_EQ(w[3], 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, nullptr, 0, nullptr, nullptr), 3);
  char b[3];
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, b, 3, nullptr, nullptr), 3);
  EXPECT_STREQ(b, "\xC3\xA9");
}

TEST(CodePage, ErrorsFollowWin32) {
  WCHAR w[2];
  char b[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, w, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", 3, b, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, w, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", 1, w, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, w, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  BOOL used = FALSE;
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, b, 2, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Strict UTF-8 refuses ill-formed input; the lenient form replaces it.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, w, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(to_wide(CP_UTF8, "a\xFF"), u"a\uFFFD");
}

TEST(CodePage, UnmappableCharactersUseTheDefault) {
  BOOL used = FALSE;
  EXPECT_EQ(to_bytes(CP_ACP, u"a\u4E2Db", &used), "a?b");
  EXPECT_TRUE(used);
  EXPECT_EQ(to_bytes(CP_ACP, u"plain", &used), "plain");
  EXPECT_FALSE(used);
  EXPECT_EQ(to_bytes(CP_ACP, u"\U0001F600"), "?");  // one character, one default
  char b[4];
  ASSERT_EQ(WideCharToMultiByte(CP_OEMCP, 0, u"\u4E2D", 1, b, 4, "#", &used), 1);
  EXPECT_EQ(b[0], '#');
}

// Windows' best fit to 1252: look-alikes count as converted (no default used);
// WC_NO_BEST_FIT_CHARS gives the default instead and says so.
TEST(CodePage, BestFitTo1252UnlessRefused) {
  struct Case {
    const char16_t* wide;
    const char* best_fit;
    BOOL best_fit_used_default;
    const char* strict;
  } cases[] = {
      {u"\u03A9", "O", FALSE, "?"},                        // Greek capital omega
      {u"\u2126", "O", FALSE, "?"},                        // ohm sign
      {u"\u0100\u0101", "Aa", FALSE, "??"},                // A with macron
      {u"Ko\u0161\u00edk", "Ko\x9A\xEDk", FALSE, "Ko\x9A\xEDk"},  // in 1252 itself: exact either way
      {u"\u0141\u00f3d\u017a", "L\xF3" "dz", FALSE, "?\xF3" "d?"},
      {u"\u0131\u0110\u0127", "iDh", FALSE, "???"},        // letters with strokes, dotless i
      {u"\u01D4", "u", FALSE, "?"},                        // pinyin u with caron
      {u"\u03B1\u03C0\u03BC", "ap\xB5", FALSE, "???"},
      {u"\uFF21\uFF3C\uFF02", "A\\\"", FALSE, "???"},     // fullwidth forms
      {u"a\u2010b\u2212c", "a-b-c", FALSE, "a?b?c"},
      {u"\u2264\u221E", "=8", FALSE, "??"},
      {u"\u3000\u2003", "  ", FALSE, "??"},
      {u"\u00b2\u20ac", "\xB2\x80", FALSE, "\xB2\x80"},
      {u"\u4E2D\u0100", "?A", TRUE, "??"},                 // no look-alike: the default
      {u"\u0081", "\x81", FALSE, "\x81"},                  // an undefined position round-trips
  };
  for (const Case& c : cases) {
    const std::u16string wide = c.wide;
    const int n = static_cast<int>(wide.size());
    char out[32] = {};
    BOOL used = 7;
    ASSERT_EQ(WideCharToMultiByte(1252, 0, wide.data(), n, out, sizeof out, nullptr, &used),
              static_cast<int>(std::strlen(c.best_fit)));
    EXPECT_EQ(std::string(out), c.best_fit);
    EXPECT_EQ(used, c.best_fit_used_default) << c.best_fit;

    char strict[32] = {};
    used = 7;
    ASSERT_GT(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), n, strict, sizeof strict, nullptr, &used),
              0);
    EXPECT_EQ(std::string(strict), c.strict);
    EXPECT_EQ(used, std::string(c.strict).find('?') != std::string::npos ? TRUE : FALSE) << c.strict;
  }
  // The OEM page has no best fit here: only exact characters.
  BOOL used = FALSE;
  EXPECT_EQ(to_bytes(CP_OEMCP, u"\u0100", &used), "?");
  EXPECT_TRUE(used);
}
