#include "platform/win32/shell32/ansi_shell.h"

#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/shell32/shobj.h"
#include "platform/win32/testing/test_world.h"

namespace {

// Windows' own sizes: 68 and 60 bytes on 32-bit systems, 104 and 112 on
// 64-bit ones.
static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 8 ? 104 : 68));
static_assert(sizeof(SHELLEXECUTEINFOA) == (sizeof(void*) == 8 ? 112 : 60));
static_assert(sizeof(STARTUPINFOA) == sizeof(STARTUPINFOW));

class AnsiShell : public win32_test::World {
 protected:
  void TearDown() override {
    win32::record_shell_calls(false);
    World::TearDown();
  }
  // Waits for a file the child writes last.
  std::string awaited(const std::string& rel) {
    for (int i = 0; i < 1000 && !std::filesystem::exists(c(rel)); ++i) ::usleep(10000);
    return get(rel);
  }
};

TEST_F(AnsiShell, CreateProcessHandsTheChildItsTextsInUtf16) {
  ASSERT_TRUE(CreateDirectoryA("C:\\d\xE9j", nullptr));
  put("echo args", "#!/bin/sh\nprintf '%s|' \"$@\" > \"$0.tmp\"; pwd >> \"$0.tmp\"; mv \"$0.tmp\" \"$0.out\"\n");
  std::filesystem::permissions(c("echo args"), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  char line[] = "\"C:\\echo args\" caf\xE9 \"\x80 b\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.lpTitle = const_cast<LPSTR>("T\xEEtle");
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, "C:\\d\xE9j", &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // 0xE9 is U+00E9 and 0x80 U+20AC in code page 1252; the child sees UTF-8.
  EXPECT_EQ(awaited("echo args.out"), "caf\xC3\xA9|\xE2\x82\xAC b|" + c("d\xC3\xA9j") + "\n");

  char missing[] = "C:\\n\xF6ne.exe";
  EXPECT_FALSE(CreateProcessA(nullptr, missing, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(AnsiShell, StartupRecordTextsInBothForms) {
  STARTUPINFOA a;
  std::memset(&a, 0xEE, sizeof a);
  GetStartupInfoA(&a);
  EXPECT_EQ(a.cb, sizeof(STARTUPINFOA));
  EXPECT_EQ(a.dwFlags, 0u);
  EXPECT_EQ(a.hStdInput, nullptr);
  EXPECT_EQ(a.lpReserved, nullptr);
  ASSERT_NE(a.lpDesktop, nullptr);
  EXPECT_STREQ(a.lpDesktop, "WinSta0\\Default");
  char program[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
  ASSERT_NE(a.lpTitle, nullptr);
  EXPECT_STREQ(a.lpTitle, program);
  // The same texts on every call.
  STARTUPINFOA again{};
  GetStartupInfoA(&again);
  EXPECT_EQ(again.lpTitle, a.lpTitle);
}

TEST_F(AnsiShell, ShellExecutionConvertsItsTextsAndReportsBack) {
  put("r\xC3\xA9sum\xC3\xA9.txt", "cv");
  win32::record_shell_calls(true);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "open";
  info.lpFile = "C:\\r\xE9sum\xE9.txt";
  info.lpParameters = "\x80 5";
  info.lpDirectory = "C:\\";
  info.nShow = SW_SHOW;
  info.hProcess = reinterpret_cast<HANDLE>(1);
  ASSERT_TRUE(ShellExecuteExA(&info));
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(info.hInstApp), 42u);
  EXPECT_EQ(info.hProcess, nullptr);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(ShellExecuteA(nullptr, nullptr, "http://x.invalid/\xE9", nullptr, nullptr,
                                                      SW_SHOWNORMAL)),
            42u);
  const auto calls = win32::recorded_shell_calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].verb, u"open");
  EXPECT_EQ(calls[0].file, u"C:\\r\u00E9sum\u00E9.txt");
  EXPECT_EQ(calls[0].parameters, u"\u20AC 5");
  EXPECT_EQ(calls[0].directory, u"C:\\");
  EXPECT_EQ(calls[0].show, SW_SHOW);
  EXPECT_EQ(calls[1].file, u"http://x.invalid/\u00E9");

  // The wide record's size is no ANSI record's size.
  info.cbSize = sizeof(SHELLEXECUTEINFOW) + 1;
  EXPECT_FALSE(ShellExecuteExA(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(win32::recorded_shell_calls().size(), 2u);
}

TEST_F(AnsiShell, PathOfAnItemListInTheAnsiCodePage) {
  ASSERT_TRUE(CreateDirectoryW(u"C:\\\u00C4rger \u20AC", nullptr));
  LPITEMIDLIST list = nullptr;
  ASSERT_EQ(SHParseDisplayName(u"C:\\\u00C4rger \u20AC", nullptr, &list, 0, nullptr), S_OK);
  char path[MAX_PATH];
  ASSERT_TRUE(SHGetPathFromIDListA(list, path));
  EXPECT_STREQ(path, "C:\\\xC4rger \x80");
  CoTaskMemFree(list);
  std::memset(path, '#', sizeof path);
  EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
  EXPECT_EQ(path[0], '\0');
}

}  // namespace
