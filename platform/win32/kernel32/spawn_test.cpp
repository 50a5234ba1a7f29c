#include "platform/win32/kernel32/spawn.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/paths.h"

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

// CommandLineToArgvW: one block, null-terminated, by the shell's rules.
TEST(CommandLineToArgv, SplitsByTheShellsRules) {
  struct Case {
    const char16_t* line;
    std::vector<std::u16string> args;
  } cases[] = {
      {u"prog \"a b\" c", {u"prog", u"a b", u"c"}},
      {u"\"C:\\Program Files\\x.exe\" /a", {u"C:\\Program Files\\x.exe", u"/a"}},
      {u"prog a\\\\b \"a\\\\\" a\\\\\\\"b", {u"prog", u"a\\\\b", u"a\\", u"a\\\"b"}},
      // A leading blank gives an empty program name; trailing blanks are dropped.
      {u"  lead x  ", {u"", u"lead", u"x"}},
      // "" inside quotes: a literal quote that ends the quoting.
      {u"prog \"a\"\"b\" c", {u"prog", u"a\"b c"}},
      {u"prog \"\" x", {u"prog", u"", u"x"}},
  };
  for (const auto& c : cases) {
    int n = -1;
    LPWSTR* argv = CommandLineToArgvW(c.line, &n);
    ASSERT_NE(argv, nullptr);
    std::vector<std::u16string> got;
    for (int i = 0; i < n; ++i) got.emplace_back(argv[i]);
    EXPECT_EQ(got, c.args) << win32::utf16_to_utf8(c.line);
    EXPECT_EQ(argv[n], nullptr);
    EXPECT_EQ(LocalFree(argv), nullptr);
  }
}

TEST(CommandLineToArgv, EmptyLineGivesTheProgramAndNoCountIsRefused) {
  int n = 0;
  LPWSTR* argv = CommandLineToArgvW(u"", &n);
  ASSERT_NE(argv, nullptr);
  ASSERT_EQ(n, 1);
  // The program file, as GetModuleFileNameW names it.
  WCHAR mapped[MAX_PATH + 1];
  DWORD m = GetModuleFileNameW(nullptr, mapped, MAX_PATH + 1);
  EXPECT_EQ(std::u16string(argv[0]), std::u16string(mapped, m));
  LocalFree(argv);
  SetLastError(0);
  EXPECT_EQ(CommandLineToArgvW(u"x", nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
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
  put("bin/text.exe", "echo this is text\n");
  put("bin/text-x.exe", "echo this is text\n");
  ::chmod(c("bin/text-x.exe").c_str(), 0755);
  put("bin/empty.exe", "");
  ::chmod(c("bin/empty.exe").c_str(), 0755);
  std::filesystem::create_directories(c("bin/folder.exe"));
  struct Case {
    std::u16string line;
    DWORD error;
  } cases[] = {
      {u"C:\\bin\\win.exe", ERROR_BAD_EXE_FORMAT},
      {u"C:\\bin\\plain.exe", ERROR_ACCESS_DENIED},
      {u"C:\\bin\\absent.exe", ERROR_FILE_NOT_FOUND},
      {u"C:\\bin\\text.exe", ERROR_BAD_EXE_FORMAT},
      {u"C:\\bin\\text-x.exe", ERROR_BAD_EXE_FORMAT},
      {u"C:\\bin\\empty.exe", ERROR_BAD_EXE_FORMAT},
      {u"C:\\bin", ERROR_ACCESS_DENIED},
      {u"C:\\bin\\folder.exe", ERROR_ACCESS_DENIED},
      {u"no-such-program-anywhere", ERROR_FILE_NOT_FOUND},
  };
  for (auto& c : cases) {
    STARTUPINFOW si{};
    PROCESS_INFORMATION pi{};
    SetLastError(0);
    EXPECT_FALSE(CreateProcessW(nullptr, c.line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(GetLastError(), c.error) << std::string(c.line.begin(), c.line.end());
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

// The child side of the tests below: this program started again through
// CreateProcessW, acting as KV_SPAWN_CHILD says.
TEST(SpawnChild, Act) {
  const char* act = std::getenv("KV_SPAWN_CHILD");
  if (!act) GTEST_SKIP() << "started by the Spawn tests only";
  const std::string a = act;
  // Faults end the process as the kernel ends it, whatever the sanitizers catch.
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::signal(sig, SIG_DFL);
  if (a == "exit3010") ExitProcess(3010);
  if (a == "exit-dll-missing") ExitProcess(0xC0000135);
  if (a == "segv") ::raise(SIGSEGV);
  if (a == "ill") ::raise(SIGILL);
  if (a == "fpe") ::raise(SIGFPE);
  if (a == "abort") ::raise(SIGABRT);
  if (a == "command-line") {
    std::ofstream(std::getenv("KV_SPAWN_OUT"), std::ios::binary) << win32::utf16_to_utf8(GetCommandLineW());
    ExitProcess(0);
  }
  ExitProcess(99);
}

class SpawnSelf : public Spawn {
 protected:
  // This test program as a Windows path, quoted.
  static std::u16string self() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return u"\"" + win32::to_windows_path(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0)) + u"\"";
  }
  // Starts this program's child side with `act`; the handles through `pi`.
  bool start(const char* act, std::u16string line, PROCESS_INFORMATION& pi, DWORD flags = 0) {
    ::setenv("KV_SPAWN_CHILD", act, 1);
    ::setenv("KV_SPAWN_OUT", c("child.out").c_str(), 1);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi);
    ::unsetenv("KV_SPAWN_CHILD");
    ::unsetenv("KV_SPAWN_OUT");
    return ok;
  }
};

TEST_F(SpawnSelf, ExitCodesAreThirtyTwoBitAndFaultsGiveTheirExceptionCodes) {
  struct Case {
    const char* act;
    DWORD code;  // what Windows reports
  } cases[] = {
      {"exit3010", 3010},
      {"exit-dll-missing", 0xC0000135},
      {"segv", 0xC0000005},
      {"ill", 0xC000001D},
      {"fpe", 0xC0000094},
      {"abort", 0xC0000409},
  };
  for (const auto& k : cases) {
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(start(k.act, self() + u" --gtest_filter=SpawnChild.Act", pi)) << k.act;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0) << k.act;
    DWORD code = 1, thread_code = 2;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, k.code) << k.act;
    EXPECT_TRUE(GetExitCodeThread(pi.hThread, &thread_code));
    EXPECT_EQ(thread_code, k.code) << k.act;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

TEST_F(SpawnSelf, TheChildSeesItsCommandLineExactly) {
  // Doubled blanks, a quoted blank run, "" inside quotes and a trailing blank
  // would all change if the line were split and joined again.
  const std::u16string line =
      self() + u"  --gtest_filter=SpawnChild.Act   \"a  b\" c\"\"d \"e\"\"f\" g\\\\\"h i\" \u00e9 ";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(start("command-line", line, pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 0u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(get("child.out"), win32::utf16_to_utf8(line));
}

TEST_F(Spawn, StandardHandlesComeFromTheStartupRecord) {
  script("bin/echo.exe", "read line; echo \"out:$line\"; echo \"err:$line\" >&2; exit 5");
  put("in.txt", "hello\n");
  HANDLE in = CreateFileW(u"C:\\in.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileW(u"C:\\out.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(u"C:\\err.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  ASSERT_NE(err, INVALID_HANDLE_VALUE);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  std::u16string line = u"C:\\bin\\echo.exe";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 5u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  EXPECT_EQ(get("out.txt"), "out:hello\n");
  EXPECT_EQ(get("err.txt"), "err:hello\n");

  // Null handles: the child reads nothing and its writes go nowhere.
  si.hStdInput = si.hStdOutput = si.hStdError = nullptr;
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 5u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

TEST_F(Spawn, ASuspendedChildStartsAtResumeThread) {
  script("bin/mark.exe", "echo ran > \"$0.out\"; exit 4");
  PROCESS_INFORMATION pi{};
  STARTUPINFOW si{};
  si.cb = sizeof si;
  std::u16string line = u"C:\\bin\\mark.exe";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                             &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(std::filesystem::exists(c("bin/mark.exe.out")));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(pi.hThread, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(ResumeThread(pi.hThread), 1u);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ResumeThread(pi.hThread), 0u);
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 4u);
  EXPECT_EQ(get("bin/mark.exe.out"), "ran\n");
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);

  // Terminated before it ran: it never runs, and ends with the given code.
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                             &pi));
  std::filesystem::remove(c("bin/mark.exe.out"));
  EXPECT_TRUE(TerminateProcess(pi.hProcess, 77));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 77u);
  EXPECT_FALSE(std::filesystem::exists(c("bin/mark.exe.out")));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

}  // namespace
