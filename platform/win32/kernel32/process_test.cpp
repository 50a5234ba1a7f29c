#include "platform/win32/kernel32/process.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/testing/test_world.h"

namespace {

// Looked up from a static initialiser, as the program's start-up does.
const FARPROC early_lookup = GetProcAddress(GetModuleHandleA("kernel32"), "MoveFileExW");

TEST(ProcessStart, EntryPointsAreFoundFromOtherFilesStaticInitialisers) {
  EXPECT_EQ(reinterpret_cast<void*>(early_lookup), reinterpret_cast<void*>(&MoveFileExW));
}

class Process : public win32_test::World {
 protected:
  void TearDown() override {
    ::unsetenv("KV_PROGRAM_PATH");
    World::TearDown();
  }
};

std::u16string env(const char16_t* name) {
  WCHAR buf[512];
  DWORD n = GetEnvironmentVariableW(name, buf, 512);
  return n && n < 512 ? std::u16string(buf, n) : std::u16string();
}

std::u16string expand(const char16_t* text) {
  WCHAR buf[512];
  DWORD n = ExpandEnvironmentStringsW(text, buf, 512);
  EXPECT_GT(n, 0u);
  return n && n <= 512 ? std::u16string(buf, n - 1) : std::u16string();
}

LONG_PTR stand_in() { return 42; }

}  // namespace

TEST_F(Process, ModuleFileNameAndTruncation) {
  WCHAR buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  ASSERT_GT(n, 3u);
  EXPECT_EQ(std::u16string(buf, n), win32::module_path());
  EXPECT_EQ(buf[1], u':');  // a drive path, never a Unix one

  ::setenv("KV_PROGRAM_PATH", "C:\\App\\menu.exe", 1);
  const std::u16string path = u"C:\\App\\menu.exe";
  EXPECT_EQ(GetModuleFileNameW(GetModuleHandleW(nullptr), buf, MAX_PATH), path.size());
  EXPECT_EQ(std::u16string(buf), path);
  struct Case {
    DWORD size;
    DWORD result;
    std::u16string text;
    DWORD error;
  } cases[] = {
      {16, 15, path, ERROR_SUCCESS},
      {15, 15, u"C:\\App\\menu.ex", ERROR_INSUFFICIENT_BUFFER},  // truncated, terminated, nSize back
      {4, 4, u"C:\\", ERROR_INSUFFICIENT_BUFFER},
      {1, 1, u"", ERROR_INSUFFICIENT_BUFFER},
  };
  for (const Case& c : cases) {
    WCHAR out[32];
    std::fill(std::begin(out), std::end(out), u'#');
    SetLastError(12345);
    EXPECT_EQ(GetModuleFileNameW(nullptr, out, c.size), c.result) << c.size;
    EXPECT_EQ(std::u16string(out), c.text) << c.size;
    EXPECT_EQ(GetLastError(), c.error) << c.size;
  }
  char narrow[8];
  EXPECT_EQ(GetModuleFileNameA(nullptr, narrow, 8), 8u);
  EXPECT_STREQ(narrow, "C:\\App\\");

  ::setenv("KV_PROGRAM_PATH", c("bin/menu").c_str(), 1);  // a Unix path is mapped
  n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\bin\\menu");
}

TEST_F(Process, ModulesAndEntryPoints) {
  HMODULE k = GetModuleHandleW(u"kernel32");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(GetModuleHandleA("KERNEL32.DLL"), k);
  EXPECT_NE(GetModuleHandleA("shell32"), nullptr);
  EXPECT_NE(GetModuleHandleA("advapi32.dll"), nullptr);
  WCHAR buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(k, buf, MAX_PATH);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\Windows\\System32\\kernel32.dll");

  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(k, "CreateHardLinkW")), reinterpret_cast<void*>(&CreateHardLinkW));
  for (const char* missing : {"Wow64DisableWow64FsRedirection", "IsWow64Process", "NoSuchFunction"}) {
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(k, missing), nullptr) << missing;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  }
  SetLastError(0);
  // An ordinal nobody registered (the one below stays registered for the process).
  EXPECT_EQ(GetProcAddress(GetModuleHandleA("shell32"), reinterpret_cast<LPCSTR>(22)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  // msi.dll is not loaded until asked for, and loads from any folder.
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleW(u"msi.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE msi = LoadLibraryW(u"C:\\Windows\\System32\\MSI.DLL");
  ASSERT_NE(msi, nullptr);
  EXPECT_EQ(GetModuleHandleW(u"msi"), msi);
  EXPECT_TRUE(FreeLibrary(msi));
  EXPECT_EQ(GetModuleHandleW(u"msi"), nullptr);

  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(u"C:\\Program Files\\x\\plugin.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryA("hhctrl.ocx") != nullptr, true);

  win32::register_export("shell32.dll", "#21", &stand_in);
  FARPROC p = GetProcAddress(GetModuleHandleA("SHELL32"), reinterpret_cast<LPCSTR>(21));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p(), 42);
  win32::unregister_export("shell32", "#21");

  // A hidden built-in entry point is missing until it is given back.
  win32::register_export("kernel32", "CreateHardLinkW", nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(k, "CreateHardLinkW"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  win32::unregister_export("kernel32", "CreateHardLinkW");
  EXPECT_NE(GetProcAddress(k, "CreateHardLinkW"), nullptr);
}

TEST_F(Process, EnvironmentVariables) {
  ASSERT_TRUE(SetEnvironmentVariableW(u"KV_Test_Var", u"v\u00E9"));
  EXPECT_EQ(env(u"KV_TEST_VAR"), u"v\u00E9");  // names ignore case
  WCHAR small[2];
  EXPECT_EQ(GetEnvironmentVariableW(u"kv_test_var", small, 2), 3u);  // needed, terminator included
  EXPECT_EQ(GetEnvironmentVariableW(u"kv_test_var", nullptr, 0), 3u);
  ASSERT_TRUE(SetEnvironmentVariableW(u"KV_TEST_VAR", u"second"));
  EXPECT_EQ(env(u"kv_test_var"), u"second");
  EXPECT_EQ(std::getenv("KV_Test_Var"), nullptr);  // one variable, not two

  ASSERT_TRUE(SetEnvironmentVariableW(u"KV_EMPTY", u""));
  WCHAR buf[8];
  SetLastError(99);
  EXPECT_EQ(GetEnvironmentVariableW(u"KV_EMPTY", buf, 8), 0u);
  EXPECT_EQ(GetLastError(), 0u);
  ASSERT_TRUE(SetEnvironmentVariableW(u"KV_TEST_VAR", nullptr));
  SetLastError(0);
  EXPECT_EQ(GetEnvironmentVariableW(u"KV_TEST_VAR", buf, 8), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  SetEnvironmentVariableW(u"KV_EMPTY", nullptr);

  char narrow[16];
  ::setenv("KV_NARROW", "abc", 1);
  EXPECT_EQ(GetEnvironmentVariableA("kv_narrow", narrow, 16), 3u);
  EXPECT_STREQ(narrow, "abc");
  ::unsetenv("KV_NARROW");
}

TEST_F(Process, WindowsVariablesComeFromTheWorld) {
  ::unsetenv("SystemRoot");
  ::unsetenv("windir");
  EXPECT_EQ(env(u"SystemRoot"), u"C:\\Windows");
  EXPECT_EQ(env(u"WINDIR"), u"C:\\Windows");
  EXPECT_EQ(env(u"TEMP"), u"C:\\Windows\\Temp");
  EXPECT_EQ(env(u"SystemDrive"), u"C:");
  EXPECT_EQ(env(u"ProgramFiles"), u"C:\\Program Files");
  EXPECT_EQ(env(u"APPDATA").substr(0, 9), u"C:\\Users\\");
  ::setenv("windir", "D:\\Win", 1);  // a real variable wins
  EXPECT_EQ(env(u"windir"), u"D:\\Win");
  ::unsetenv("windir");
}

TEST_F(Process, ExpandEnvironmentStrings) {
  ::setenv("KV_X", "ex", 1);
  struct Case {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {
      {u"%SystemRoot%\\system32", u"C:\\Windows\\system32"},
      {u"a%KV_X%b%kv_x%", u"aexbex"},
      {u"%KV_UNKNOWN%\\x", u"%KV_UNKNOWN%\\x"},
      {u"%KV_UNKNOWN%KV_X%", u"%KV_UNKNOWN%KV_X%"},
      {u"100%", u"100%"},
      {u"%%", u"%%"},
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(expand(c.in), c.out);
  WCHAR tiny[3] = {u'#', u'#', u'#'};
  EXPECT_EQ(ExpandEnvironmentStringsW(u"%KV_X%%KV_X%", tiny, 3), 5u);
  EXPECT_EQ(tiny[0], u'#');
  EXPECT_EQ(ExpandEnvironmentStringsW(u"%KV_X%%KV_X%", nullptr, 0), 5u);
  ::unsetenv("KV_X");
}

TEST_F(Process, CommandLineAndIds) {
  std::u16string line = GetCommandLineW();
  std::u16string self = win32::module_path();
  EXPECT_TRUE(line.rfind(self, 0) == 0 || line.rfind(u"\"" + self + u"\"", 0) == 0);
  EXPECT_EQ(std::string(GetCommandLineA()).size(), line.size());
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
}

// The output of a command, without its last newline.
static std::string command_output(const char* command) {
  std::string out;
  if (FILE* f = ::popen(command, "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, f)) out += buf;
    ::pclose(f);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST_F(Process, UserAndComputerNamesWithTheirSizeRules) {
  const std::string user = command_output("id -un");
  ASSERT_FALSE(user.empty());
  std::string host = command_output("uname -n");
  host = host.substr(0, host.find('.'));
  for (char& ch : host) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  host = host.substr(0, 15);

  WCHAR buf[300];
  DWORD size = 300;
  ASSERT_TRUE(GetUserNameW(buf, &size));
  EXPECT_EQ(win32::utf16_to_utf8(buf), user);
  EXPECT_EQ(size, user.size() + 1);  // with the terminator
  size = 1;
  SetLastError(0);
  EXPECT_FALSE(GetUserNameW(buf, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(size, user.size() + 1);

  size = 300;
  ASSERT_TRUE(GetComputerNameW(buf, &size));
  EXPECT_EQ(win32::utf16_to_utf8(buf), host);
  EXPECT_EQ(size, host.size());  // without the terminator
  size = static_cast<DWORD>(host.size());  // no room for the terminator
  SetLastError(0);
  EXPECT_FALSE(GetComputerNameW(buf, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(size, host.size() + 1);
}

TEST(ProcessExit, ExitProcessEndsWithTheCode) {
  // A fresh process: a forked one would inherit the memory of threads that
  // other tests leave behind (one parks for good) without the threads, and a
  // leak checker there takes what only they hold for leaked.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(ExitProcess(7), ::testing::ExitedWithCode(7), "");
}
