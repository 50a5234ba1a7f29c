#include "platform/win32/shell32/shell.h"

#include <sys/stat.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

class Shell : public win32_test::World {
 protected:
  Shell() : World("shell-") {}
  void SetUp() override {
    World::SetUp();
    const char* path = std::getenv("PATH");
    old_path_ = path ? path : "";
    // Only the world's own tools: no desktop opener unless a test puts one there.
    std::filesystem::create_directories(c("tools"));
    ::setenv("PATH", c("tools").c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", old_path_.c_str(), 1);
    win32::record_shell_calls(false);
    World::TearDown();
  }
  void script(const std::string& rel, const std::string& body) {
    put(rel, "#!/bin/sh\n" + body + "\n");
    ::chmod(c(rel).c_str(), 0755);
  }
  // Runs the call; with a process, waits for it.
  BOOL execute(const char16_t* file, const char16_t* parameters = nullptr, const char16_t* verb = nullptr,
               const char16_t* directory = nullptr) {
    info_ = SHELLEXECUTEINFOW{};
    info_.cbSize = sizeof info_;
    info_.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info_.lpVerb = verb;
    info_.lpFile = file;
    info_.lpParameters = parameters;
    info_.lpDirectory = directory;
    info_.nShow = SW_SHOWNORMAL;
    BOOL ok = ShellExecuteExW(&info_);
    error_ = GetLastError();
    if (ok && info_.hProcess) {
      EXPECT_EQ(WaitForSingleObject(info_.hProcess, 10000), WAIT_OBJECT_0);
      CloseHandle(info_.hProcess);
    }
    return ok;
  }
  ULONG_PTR instance() const { return reinterpret_cast<ULONG_PTR>(info_.hInstApp); }

  std::string old_path_;
  SHELLEXECUTEINFOW info_{};
  DWORD error_ = 0;
};

TEST_F(Shell, DocumentsAndUrlsGoToTheDesktopOpener) {
  script("tools/xdg-open", "printf '%s\\n' \"$@\" >> " + c("opened.txt"));
  put("docs/read me.txt", "hello");
  ASSERT_TRUE(execute(u"C:\\DOCS\\Read Me.txt"));
  EXPECT_GT(instance(), 32u);
  ASSERT_TRUE(execute(u"https://example.invalid/a?b=\"c\"&d"));
  ASSERT_TRUE(execute(u"read me.txt", nullptr, u"open", u"C:\\docs"));
  EXPECT_EQ(get("opened.txt"), c("docs/read me.txt") + "\nhttps://example.invalid/a?b=\"c\"&d\n" +
                                   c("docs/read me.txt") + "\n");
}

TEST_F(Shell, ProgramsStartWithTheirParameters) {
  script("bin/tool.exe", "printf '[%s]' \"$@\" > " + c("args.txt") + "; exit 3");
  ASSERT_TRUE(execute(u"C:\\bin\\tool.exe", u"\"a b\" c"));
  EXPECT_EQ(get("args.txt"), "[a b][c]");
  // A program without the process-handle request leaves nothing open.
  std::size_t before = win32::handle_count();
  EXPECT_GT(reinterpret_cast<ULONG_PTR>(ShellExecuteW(nullptr, nullptr, u"C:\\bin\\tool.exe", nullptr, nullptr, 1)),
            32u);
  EXPECT_EQ(win32::handle_count(), before);
}

TEST_F(Shell, FailuresCarryWindowsCodes) {
  put("bin/win.exe", std::string("MZ\x90\0", 4) + std::string(100, '\0'));
  ::chmod(c("bin/win.exe").c_str(), 0755);
  put("docs/a.txt", "x");
  struct Case {
    const char16_t* file;
    const char16_t* verb;
    DWORD error;
    ULONG_PTR instance;
  } cases[] = {
      {u"C:\\bin\\win.exe", nullptr, ERROR_BAD_EXE_FORMAT, SE_ERR_BADFORMAT},
      {u"C:\\docs\\a.txt", nullptr, ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC},  // no opener on the PATH
      {u"C:\\docs\\a.txt", u"print", ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC},
      {u"C:\\docs\\absent.txt", nullptr, ERROR_FILE_NOT_FOUND, SE_ERR_FNF},
      {u"C:\\nowhere\\absent.txt", nullptr, ERROR_PATH_NOT_FOUND, SE_ERR_PNF},
  };
  for (const auto& k : cases) {
    EXPECT_FALSE(execute(k.file, nullptr, k.verb));
    EXPECT_EQ(error_, k.error);
    EXPECT_EQ(instance(), k.instance);
    EXPECT_EQ(info_.hProcess, nullptr);
  }
}

TEST_F(Shell, TheRecorderOpensAndRunsNothing) {
  script("tools/xdg-open", "touch " + c("opened"));
  script("bin/tool.exe", "touch " + c("ran"));
  put("docs/a.txt", "x");
  win32::record_shell_calls(true);
  EXPECT_TRUE(execute(u"C:\\docs\\a.txt", nullptr, u"open", u"C:\\docs"));
  EXPECT_TRUE(execute(u"C:\\bin\\tool.exe", u"-x", nullptr));
  EXPECT_EQ(info_.hProcess, nullptr);
  auto calls = win32::recorded_shell_calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].file, u"C:\\docs\\a.txt");
  EXPECT_EQ(calls[0].directory, u"C:\\docs");
  EXPECT_FALSE(calls[0].program);
  EXPECT_EQ(calls[1].parameters, u"-x");
  EXPECT_TRUE(calls[1].program);
  EXPECT_EQ(calls[1].show, SW_SHOWNORMAL);
  EXPECT_FALSE(std::filesystem::exists(c("opened")));
  EXPECT_FALSE(std::filesystem::exists(c("ran")));
}

}  // namespace
