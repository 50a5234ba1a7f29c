#include "platform/win32/windows.h"

#include <cerrno>
#include <cstdarg>

#include <gtest/gtest.h>

namespace {

std::u16string system_text(DWORD id, DWORD lang = 0x800) {
  WCHAR* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, id, lang, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::u16string s = n ? std::u16string(buffer, n) : std::u16string();
  if (buffer) {
    EXPECT_EQ(LocalFree(buffer), nullptr);
  }
  return s;
}

std::u16string format_w(const WCHAR* pattern, ...) {
  va_list ap;
  va_start(ap, pattern);
  WCHAR buf[256];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING, pattern, 0, 0, buf, 256, &ap);
  va_end(ap);
  return std::u16string(buf, n);
}

}  // namespace

TEST(Errno, MapsToWin32Codes) {
  struct Case {
    int err;
    DWORD code;
  } cases[] = {
      {0, 0},           {ENOENT, 2},        {ENOTDIR, 3},       {EACCES, 5},   {EPERM, 5},     {EEXIST, 80},
      {ENOTEMPTY, 145}, {ENOSPC, 112},      {ENAMETOOLONG, 206}, {ETXTBSY, 32}, {EROFS, 19},    {EMFILE, 4},
      {ENOMEM, 8},      {EBADF, 6},         {EINVAL, 87},       {EXDEV, 17},   {EAGAIN, 33},   {EIO, 1117},
      {ENOSYS, 50},     {EISDIR, 5},        {EDQUOT, 112},      {12345, 31},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(win32::error_from_errno(c.err), c.code) << "errno " << c.err;
  }
  SetLastError(0);
  EXPECT_EQ(win32::set_last_error_from_errno(ENOENT), 2u);
  EXPECT_EQ(GetLastError(), 2u);
}

TEST(FormatMessage, SystemTextsEndWithFullStopAndCrLf) {
  for (DWORD id : {0u, 2u, 3u, 5u, 32u, 33u, 80u, 87u, 112u, 123u, 145u, 158u, 183u, 206u, 1603u, 3010u}) {
    std::u16string s = system_text(id);
    ASSERT_GT(s.size(), 3u) << id;
    EXPECT_EQ(s.substr(s.size() - 3), u".\r\n") << id;
    EXPECT_EQ(s.find(u"\r\n"), s.size() - 2) << "one line only: " << id;
  }
  EXPECT_EQ(system_text(2), u"The system cannot find the file specified.\r\n");
  EXPECT_EQ(system_text(0), u"The operation completed successfully.\r\n");
}

TEST(FormatMessage, HresultOfWin32FacilityGivesTheWin32Text) {
  EXPECT_EQ(system_text(0x80070005u), system_text(5));
  EXPECT_EQ(system_text(0x80070002u, 0x400), system_text(2));
  EXPECT_EQ(system_text(0x80004005u), u"Unspecified error.\r\n");  // COM's own codes have texts too
  // Other facilities have no text here.
  SetLastError(0);
  EXPECT_EQ(system_text(0x80040005u), u"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(FormatMessage, UnknownCodeAndForeignLanguageFail) {
  SetLastError(0);
  EXPECT_EQ(system_text(0xDEAD), u"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(system_text(2, 0x407), u"");  // German
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MUI_FILE_NOT_FOUND));
  EXPECT_NE(system_text(2, 0x409), u"");
}

TEST(FormatMessage, CallerBufferSizeRules) {
  WCHAR small[8];
  SetLastError(0);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 2, 0, small, 8, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  WCHAR big[200];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 2, 0, big, 200, nullptr);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(big[n], 0);
  // The ANSI form gives the same text in bytes.
  char* a = nullptr;
  DWORD an = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                            nullptr, 2, 0x800, reinterpret_cast<LPSTR>(&a), 0, nullptr);
  ASSERT_EQ(an, n);
  EXPECT_STREQ(a, "The system cannot find the file specified.\r\n");
  LocalFree(a);
}

TEST(FormatMessage, InsertsAndEscapes) {
  EXPECT_EQ(format_w(u"%1 and %2!d! (%3!04X!)", u"text", 42, 0xAB), u"text and 42 (00AB)");
  EXPECT_EQ(format_w(u"%2 %1", u"b", u"a"), u"a b");
  EXPECT_EQ(format_w(u"100%% %n%tend%0 ignored"), u"100% \r\n\tend");
  EXPECT_EQ(format_w(u"narrow %1!S!", "bytes"), u"narrow bytes");

  WCHAR buf[64];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS, u"keep %1 and %2!d!", 0, 0, buf,
                           64, nullptr);
  EXPECT_EQ(std::u16string(buf, n), u"keep %1 and %2!d!");

  DWORD_PTR array[] = {reinterpret_cast<DWORD_PTR>(u"x"), 7};
  n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, u"%1=%2!u!", 0, 0, buf, 64,
                     reinterpret_cast<va_list*>(array));
  EXPECT_EQ(std::u16string(buf, n), u"x=7");
}

TEST(LocalHeap, ZeroInitAndFree) {
  auto* p = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(LocalFree(p), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}
