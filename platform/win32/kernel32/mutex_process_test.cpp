// Named mutexes between two real processes: this test program starts itself
// again as the other process, which takes or tries the mutex as it is told.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/testing/test_child.h"
#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

extern char** environ;

namespace {

using win32_test::hear;

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Lines between the two processes over a pipe each way.
void say(int fd, const std::string& line) {
  const std::string l = line + "\n";
  ASSERT_EQ(::write(fd, l.data(), l.size()), static_cast<ssize_t>(l.size()));
}

// The other process. Modes: "hold" takes the mutex, says "owned", then on
// "release" releases it and says "released" (or is killed before); "try"
// waits 200 ms and says the wait's answer.
TEST(MutexChild, Run) {
  const char* mode = std::getenv("KV_MUTEX_CHILD");
  if (!mode) GTEST_SKIP() << "started by NamedMutexAcrossProcesses only";
  const int in = std::atoi(std::getenv("KV_MUTEX_IN")), out = std::atoi(std::getenv("KV_MUTEX_OUT"));
  const std::u16string name = wide(std::getenv("KV_MUTEX_NAME"));
  HANDLE m = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(name.c_str()));
  if (!m) std::_Exit(3);
  if (std::string(mode) == "try") {
    say(out, std::to_string(WaitForSingleObject(m, 200)));
    std::_Exit(0);
  }
  if (WaitForSingleObject(m, INFINITE) != WAIT_OBJECT_0) std::_Exit(4);
  say(out, "owned");
  if (hear(in) != "release") std::_Exit(5);
  say(out, ReleaseMutex(m) ? "released" : "not released");
  std::_Exit(0);
}

class NamedMutexAcrossProcesses : public win32_test::World {
 protected:
  NamedMutexAcrossProcesses() : World("mtx-") {}
  void SetUp() override {
    World::SetUp();
    name = "Local\\KvMutexTest" + std::to_string(::getpid());
    wname = wide(name);
  }

  using Child = win32_test::Child;
  Child start(const char* mode) {
    return win32_test::startChild("MutexChild.Run", "KV_MUTEX_IN", "KV_MUTEX_OUT",
                                  {{"KV_MUTEX_CHILD", mode}, {"KV_MUTEX_NAME", name}});
  }
  static int finish(Child& c) { return win32_test::finishChild(c); }
  LPCWSTR wn() const { return reinterpret_cast<LPCWSTR>(wname.c_str()); }

  std::string name;
  std::u16string wname;
};

// Owned by the other process: known here, a timed wait times out, and the
// release there lets the wait here through.
TEST_F(NamedMutexAcrossProcesses, OwnershipAndTimedWaits) {
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, wn()), nullptr);  // nobody has it yet
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  Child holder = start("hold");
  ASSERT_EQ(hear(holder.from), "owned");
  HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, wn());
  ASSERT_NE(opened, nullptr);
  HANDLE m = CreateMutexW(nullptr, TRUE, wn());  // exists: the initial ownership is not granted
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 150), static_cast<DWORD>(WAIT_TIMEOUT));

  say(holder.to, "release");
  EXPECT_EQ(hear(holder.from), "released");
  EXPECT_EQ(WaitForSingleObject(opened, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  int status = finish(holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  // Now owned here: the other process's timed wait times out; released, it
  // gets through.
  Child trier = start("try");
  EXPECT_EQ(hear(trier.from), std::to_string(WAIT_TIMEOUT));
  finish(trier);
  EXPECT_TRUE(ReleaseMutex(opened));
  trier = start("try");
  EXPECT_EQ(hear(trier.from), std::to_string(WAIT_OBJECT_0));
  finish(trier);
  CloseHandle(opened);
  CloseHandle(m);
}

// An owner killed while it holds the mutex abandons it: the waiter here gets
// WAIT_ABANDONED once, owns it, and later waits are plain again.
TEST_F(NamedMutexAcrossProcesses, KilledOwnerAbandons) {
  Child holder = start("hold");
  ASSERT_EQ(hear(holder.from), "owned");
  HANDLE m = CreateMutexW(nullptr, FALSE, wn());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(WaitForSingleObject(m, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_EQ(::kill(holder.pid, SIGKILL), 0);
  EXPECT_EQ(WaitForSingleObject(m, 10000), static_cast<DWORD>(WAIT_ABANDONED));
  const int status = finish(holder);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ReleaseMutex(m));

  // And the other process too sees it free and not abandoned.
  Child trier = start("try");
  EXPECT_EQ(hear(trier.from), std::to_string(WAIT_OBJECT_0));
  finish(trier);
  CloseHandle(m);
}

}  // namespace
