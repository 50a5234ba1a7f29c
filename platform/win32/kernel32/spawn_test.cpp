#include "platform/win32/kernel32/spawn.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

// Cases from the documented examples of how a Windows C runtime parses a
// command line, and the program-name rule.
TEST(SplitCommandLine, FollowsTheWindowsRuntimeRules) {
  struct Case {
    const char16_t* line;
    std::vector<std::u16string> args;
  } cases[] = {
      {u"prog \"abc\" d e", {u"prog", u"abc", u"d", u"e"}},
      {u"prog a\\\\b d\"e f\"g h", {u"prog", u"a\\\\b", u"de fg", u"h"}},
      {u"prog a\\\\\\\"b c d", {u"prog", u"a\\\"b", u"c", u"d"}},
      {u"prog a\\\\\\\\\"b c\" d e", {u"prog", u"a\\\\b c", u"d", u"e"}},
      {u"prog a\"b\"\" c d", {u"prog", u"ab\" c d"}},
      {u"prog   \t spaced\targs  ", {u"prog", u"spaced", u"args"}},
      {u"prog \"\" x", {u"prog", u"", u"x"}},
      {u"prog C:\\dir\\ \"C:\\dir\\\\\"", {u"prog", u"C:\\dir\\", u"C:\\dir\\"}},
      // The program name keeps its backslashes and loses its quotes.
      {u"\"C:\\Program Files\\x.exe\" /a", {u"C:\\Program Files\\x.exe", u"/a"}},
      {u"C:\\dir\\\"x y\".exe z", {u"C:\\dir\\x y.exe", u"z"}},
      {u"x.exe", {u"x.exe"}},
      {u"", {u""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(win32::split_command_line(c.line), c.args) << std::string(c.line, c.line + std::char_traits<char16_t>::length(c.line));
  }
}

class Spawn : public win32_test::World {
 protected:
  Spawn() : World("spawn-") {}
  // A program on drive C: a shell script under any name.
  void script(const std::string& rel, const std::string& body) {
    put(rel, "#!/bin/sh\n" + body + "\n");
    ::chmod(c(rel).c_str(), 0755);
  }
  // Starts `line`, waits for the end and returns the exit code (or ~0u).
  DWORD run(std::u16string line, const char16_t* folder = nullptr) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, folder, &si,
                        &pi))
      return ~0u;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 12345;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
  }
};

TEST_F(Spawn, ExitCodesComeBackThroughTheProcessHandle) {
  script("bin/seven.exe", "exit 7");
  EXPECT_EQ(run(u"C:\\bin\\seven.exe"), 7u);
  // Without an extension ".exe" is tried, as on Windows.
  EXPECT_EQ(run(u"C:\\bin\\seven"), 7u);
  // Bare names go through the search path: coreutils' own programs.
  EXPECT_EQ(run(u"true"), 0u);
  EXPECT_EQ(run(u"false"), 1u);
}

TEST_F(Spawn, ArgumentsReachTheProgramAsTheyAreWithNoShellBetween) {
  script("bin/args.exe", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$0.out\"");
  EXPECT_EQ(run(u"C:\\bin\\args.exe \"a b\" c;touch\\ pwned \"$(touch pwned2)\" `x` 'q' a\\\"b"), 0u);
  EXPECT_EQ(get("bin/args.exe.out"), "[a b]\n[c;touch\\]\n[pwned]\n[$(touch pwned2)]\n[`x`]\n['q']\n[a\"b]\n");
  EXPECT_FALSE(std::filesystem::exists(c("pwned")));
  EXPECT_FALSE(std::filesystem::exists(c("pwned2")));
}

TEST_F(Spawn, RunsInTheGivenWorkingFolder) {
  script("bin/where.exe", "pwd > \"$0.out\"");
  std::filesystem::create_directories(c("work"));
  EXPECT_EQ(run(u"C:\\bin\\where.exe", u"C:\\WORK"), 0u);
  EXPECT_EQ(get("bin/where.exe.out"), std::filesystem::canonical(c("work")).string() + "\n");

  STARTUPINFOW si{};
  PROCESS_INFORMATION pi{};
  std::u16string line = u"C:\\bin\\where.exe";
  EXPECT_FALSE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, u"C:\\missing", &si, &pi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(Spawn, ProgramsThatCannotRunFailWithWindowsCodes) {
  put("bin/win.exe", std::string("MZ\x90\0\3\0\0\0", 8) + std::string(200, '\0'));
  ::chmod(c("bin/win.exe").c_str(), 0755);
  put("bin/plain.exe", "#!/bin/sh\nexit 0\n");  // no execute permission
  struct Case {
    std::u16string line;
    DWORD error;
  } cases[] = {
      {u"C:\\bin\\win.exe", ERROR_BAD_EXE_FORMAT},
      {u"C:\\bin\\plain.exe", ERROR_ACCESS_DENIED},
      {u"C:\\bin\\absent.exe", ERROR_FILE_NOT_FOUND},
      {u"no-such-program-anywhere", ERROR_FILE_NOT_FOUND},
  };
  for (auto& c : cases) {
    STARTUPINFOW si{};
    PROCESS_INFORMATION pi{};
    SetLastError(0);
    EXPECT_FALSE(CreateProcessW(nullptr, c.line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(Spawn, ARunningChildIsStillActiveUntilTerminated) {
  script("bin/sleeper.exe", "exec sleep 30");
  STARTUPINFOW si{};
  PROCESS_INFORMATION pi{};
  std::u16string line = u"C:\\bin\\sleeper.exe";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(GetProcessId(pi.hProcess), pi.dwProcessId);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));

  // Waitable beside the other kinds: an event set first wins.
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE both[] = {event, pi.hProcess};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 1000), WAIT_OBJECT_0);
  ResetEvent(event);

  EXPECT_TRUE(TerminateProcess(pi.hProcess, 42));
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10000), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForSingleObject(pi.hThread, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 42u);
  // Once ended it cannot be terminated again, and its code stays.
  EXPECT_FALSE(TerminateProcess(pi.hProcess, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 42u);
  CloseHandle(event);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

TEST_F(Spawn, AnEnvironmentBlockReplacesTheInheritedOne) {
  script("bin/env.exe", "printf '%s|%s' \"$KV_A\" \"${HOME:-none}\" > \"$0.out\"");
  const char16_t block[] = u"KV_A=wide \u00e9\0PATH=/usr/bin:/bin\0";
  STARTUPINFOW si{};
  PROCESS_INFORMATION pi{};
  std::u16string line = u"C:\\bin\\env.exe";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                             const_cast<char16_t*>(block), nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(get("bin/env.exe.out"), "wide \xc3\xa9|none");
}

}  // namespace
