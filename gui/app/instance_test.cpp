// One instance per application name, with two real processes: this test
// program is the running instance and starts itself again as the second.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gui/app/korvane_app.h"
#include "platform/fox/fx_test_display.h"
#include "platform/fox/fx_window_handle.h"
#include "platform/win32/testing/test_world.h"

extern char** environ;

using namespace FX;

namespace {

constexpr char kSign[] = "KvSingleInstanceTest";

class InstanceApp : public FXKorvaneApp {
 public:
  InstanceApp() : FXKorvaneApp(FXWString(u"kvtest"), FXWString(u"kvtest"), kSign) {}
  std::vector<std::string> received;
  std::uint32_t count = 0;
  FXTopWindow* raise = nullptr;
  void onNewInstanceArgs(std::uint32_t n, const char** args) override {
    count = n;
    for (std::uint32_t i = 0; i < n; ++i) received.emplace_back(args[i]);
  }
  HWND onNewInstance(WPARAM, LPARAM) override { return raise ? fxWindowHandle(raise) : nullptr; }
};

// X window ids of the root's children, topmost first, as xwininfo lists them.
std::vector<unsigned long> stackingOrder() {
  std::vector<unsigned long> ids;
  FILE* p = ::popen("xwininfo -root -children 2>/dev/null", "r");
  if (!p) return ids;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    unsigned long id = 0;
    if (std::sscanf(line, " 0x%lx", &id) == 1) ids.push_back(id);
  }
  ::pclose(p);
  return ids;
}

std::ptrdiff_t positionOf(const std::vector<unsigned long>& order, unsigned long id) {
  for (std::size_t i = 0; i < order.size(); ++i)
    if (order[i] == id) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

// Starts this test program again as the second instance; posix_spawn's result.
int startSecond(pid_t& child) {
  ::setenv("KV_SECOND_INSTANCE", "1", 1);
  static char self[] = "/proc/self/exe";
  static char filter[] = "--gtest_filter=SingleInstanceChild.SecondStart";
  char* childArgv[] = {self, filter, nullptr};
  const int result = ::posix_spawn(&child, self, nullptr, nullptr, childArgv, environ);
  ::unsetenv("KV_SECOND_INSTANCE");
  return result;
}

class SingleInstanceTest : public win32_test::World {
 protected:
  SingleInstanceTest() : World("gui-") {}
  void SetUp() override {
    World::SetUp();
    if (!std::getenv("DISPLAY") || !holdTestDisplay()) GTEST_SKIP() << "no X display";
  }
  // The first instance, started with the one argument "first". The toolkit
  // keeps the argument count and vector, so they outlive the call.
  static void start(InstanceApp& app) {
    static char a0[] = "first";
    static char* argv[2];
    static int argc;
    argv[0] = a0;
    argv[1] = nullptr;
    argc = 1;
    app.init(argc, argv);
    app.create();
  }
  // Runs the first instance's loop until the second ends (20 s at most);
  // the second's wait status, -1 when it did not end in time.
  static int awaitSecond(InstanceApp& app, pid_t child) {
    std::atomic<int> status{-1};
    std::thread reaper([&] {
      int s = 0;
      ::waitpid(child, &s, 0);
      status = s;
      app.wakeUp();
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (status.load() == -1 && std::chrono::steady_clock::now() < end) app.runOneEvent(false), ::usleep(1000);
    reaper.join();
    return status.load();
  }
};

// The second start: runs only when the first instance starts this program
// again; it must end inside create with exit code 1.
TEST(SingleInstanceChild, SecondStart) {
  if (!std::getenv("KV_SECOND_INSTANCE")) GTEST_SKIP() << "started by SingleInstanceTest only";
  InstanceApp app;
  static char a0[] = "second", a1[] = "a", a2[] = "", a3[] = "b";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  int argc = 4;
  app.init(argc, argv);
  app.create();
  std::_Exit(0);  // never reached by a second instance
}

TEST_F(SingleInstanceTest, SecondStartHandsOverItsArgumentsRaisesTheFirstAndEndsWithOne) {
  InstanceApp app;
  start(app);
  ASSERT_NE(app.hiddenWindow(), nullptr);
  EXPECT_TRUE(app.received.empty());  // the first instance finds nobody to hand over to

  auto* main = new FXMainWindow(&app, "first instance", nullptr, nullptr, DECOR_ALL, 0, 0, 200, 100);
  auto* other = new FXMainWindow(&app, "covering window", nullptr, nullptr, DECOR_ALL, 0, 0, 200, 100);
  main->create();
  other->create();
  main->show(PLACEMENT_DEFAULT);
  other->show(PLACEMENT_DEFAULT);
  app.flush();
  app.raise = main;
  std::vector<unsigned long> before = stackingOrder();
  ASSERT_GT(positionOf(before, main->id()), positionOf(before, other->id()));

  // The second process, this program again with the child's filter.
  pid_t child = 0;
  ASSERT_EQ(startSecond(child), 0);
  const int status = awaitSecond(app, child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  // The empty argument is not handed over; the program path is.
  EXPECT_EQ(app.count, 3u);
  EXPECT_EQ(app.received, (std::vector<std::string>{"second", "a", "b"}));
  app.flush();
  std::vector<unsigned long> after = stackingOrder();
  EXPECT_LT(positionOf(after, main->id()), positionOf(after, other->id()));  // brought to the front

  forgetWindowHandle(main);
  delete other;
  delete main;
  app.destroy();
}

// A second start while the first is still inside create (its guard held,
// no hidden window yet) waits for the guard, then hands over to the window.
class SlowFirstApp : public InstanceApp {
 public:
  pid_t child = 0;
  bool childWaited = false;
  bool handOverArguments() override {
    const bool answer = InstanceApp::handOverArguments();
    EXPECT_EQ(startSecond(child), 0);
    // Long enough for the second to reach the guard; it must still be there.
    ::usleep(700 * 1000);
    int s = 0;
    childWaited = ::waitpid(child, &s, WNOHANG) == 0;
    return answer;
  }
};

TEST_F(SingleInstanceTest, SecondStartDuringTheFirstsCreateWaitsAndHandsOver) {
  SlowFirstApp app;
  start(app);
  ASSERT_GT(app.child, 0);
  EXPECT_TRUE(app.childWaited);
  const int status = awaitSecond(app, app.child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(app.received, (std::vector<std::string>{"second", "a", "b"}));
  app.destroy();
}

// The hidden window runs a function on the GUI thread for message 3024: the
// function's result, or 0 with the error kept in the record; while it runs the
// loop is not pumped from inside.
TEST_F(SingleInstanceTest, HiddenWindowRunsAFunctionAndKeepsItsError) {
  InstanceApp app;
  start(app);
  struct Arg {
    FXKorvaneApp* app;
    int pumped;
  } arg{&app, -1};
  FXKorvaneApp::hiddenRequest ok;
  ok.argument = &arg;
  auto run = [](void* p) -> LRESULT {
    auto* a = static_cast<Arg*>(p);
    a->pumped = a->app->runWhileEvents(nullptr);
    return 17;
  };
  EXPECT_EQ(SendMessageA(app.hiddenWindow(), 3024, reinterpret_cast<WPARAM>(+run), reinterpret_cast<LPARAM>(&ok)), 17);
  EXPECT_EQ(arg.pumped, 0);
  EXPECT_FALSE(ok.error);
  FXKorvaneApp::hiddenRequest failing;
  auto fail = [](void*) -> LRESULT { throw Common::Error(KV_SITE, 0x564E20); };
  EXPECT_EQ(SendMessageA(app.hiddenWindow(), 3024, reinterpret_cast<WPARAM>(+fail), reinterpret_cast<LPARAM>(&failing)),
            0);
  EXPECT_EQ(failing.error.code(), 0x564E20u);
  app.destroy();
}

// The single-instance objects carry the application name wide: a name with
// U+0141 is found under that very name, and its low byte alone ("A") names
// nothing of it.
TEST_F(SingleInstanceTest, ObjectsAreNamedByTheWholeWideName) {
  class WideApp : public FXKorvaneApp {
   public:
    WideApp() : FXKorvaneApp(FXWString(u"kvtest"), FXWString(u"kvtest"), "KvInstance\xc5\x81") {}
  } app;
  static char a0[] = "first";
  static char* argv[] = {a0, nullptr};
  static int argc = 1;
  app.init(argc, argv);
  app.create();
  EXPECT_EQ(app.applicationNameWide(), u"KvInstance\u0141");
  EXPECT_EQ(FindWindowW(u"KvInstance\u0141_DUMMY_APPLICATION_WINDOW", nullptr), app.hiddenWindow());
  EXPECT_EQ(FindWindowW(u"KvInstanceA_DUMMY_APPLICATION_WINDOW", nullptr), nullptr);
  HANDLE same = CreateMutexW(nullptr, FALSE, u"KvInstance\u0141");
  ASSERT_NE(same, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(same);
  HANDLE other = CreateMutexW(nullptr, FALSE, u"KvInstanceA");
  ASSERT_NE(other, nullptr);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(other);
  app.destroy();
}

// What a running instance reads from the hand-over mapping: only strings
// that end inside the block, never more than the count, and nothing when the
// size asked for passes the mapping's end.
TEST_F(SingleInstanceTest, HandOverBlockTable) {
  InstanceApp app;
  start(app);
  ASSERT_NE(app.hiddenWindow(), nullptr);
  struct Case {
    const char* name;
    std::string block;     // as written into the mapping
    std::size_t sizeSent;  // the size the new instance claims
    std::vector<std::string> expected;
  } cases[] = {
      {"well formed", std::string("\3\0\0\0p\0a\0b\0\0", 11), 11, {"p", "a", "b"}},
      {"count above the strings present", std::string("\5\0\0\0x\0y\0\0", 9), 9, {"x", "y"}},
      {"count below the strings present", std::string("\1\0\0\0x\0y\0\0", 9), 9, {"x"}},
      {"last string not ended inside the block", std::string("\2\0\0\0ok\0abc", 10), 10, {"ok"}},
      {"size beyond the mapping", std::string("\1\0\0\0x\0\0", 7), 4096, {}},
      {"count 0", std::string("\0\0\0\0x\0\0", 7), 7, {}},
      {"size below the header", std::string("\1\0\0\0", 4), 4, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    app.received.clear();
    app.count = 0;
    const std::string name = std::string("Global\\") + kSign + "_ARGS_SHARED_MEM";
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(c.block.size()), name.c_str());
    ASSERT_NE(mapping, nullptr);
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, c.block.size());
    ASSERT_NE(view, nullptr);
    std::memcpy(view, c.block.data(), c.block.size());
    // The running instance still answers with its window (none here).
    EXPECT_EQ(SendMessageA(app.hiddenWindow(), 3025, 0, static_cast<LPARAM>(c.sizeSent)), 0);
    EXPECT_EQ(app.received, c.expected);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
  }
  app.destroy();
}

}  // namespace
