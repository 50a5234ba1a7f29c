#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "platform/win32/windows.h"

namespace {

struct Seen {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD thread;
};

// Messages the test procedure saw, per test; guarded because windows of other
// threads record too.
std::mutex g_seen_mutex;
std::vector<Seen> g_seen;

LRESULT CALLBACK record_proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(g_seen_mutex);
    g_seen.push_back({hwnd, message, wParam, lParam, GetCurrentThreadId()});
  }
  if (message == WM_USER + 1) return static_cast<LRESULT>(wParam * 2);
  if (message == WM_USER + 2) return static_cast<LRESULT>(GetCurrentThreadId());
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::vector<Seen> seen_for(HWND hwnd, UINT message) {
  std::lock_guard lock(g_seen_mutex);
  std::vector<Seen> out;
  for (const Seen& s : g_seen)
    if (s.hwnd == hwnd && s.message == message) out.push_back(s);
  return out;
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard lock(g_seen_mutex);
    g_seen.clear();
    WNDCLASSA wc{};
    wc.lpfnWndProc = record_proc;
    wc.cbWndExtra = 16;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KvTestWindow";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void TearDown() override {
    for (HWND h : made_)
      if (IsWindow(h)) DestroyWindow(h);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_TRUE(UnregisterClassA("KvTestWindow", GetModuleHandleA(nullptr)));
  }
  HWND make(HWND parent = nullptr, void* param = nullptr) {
    HWND h = CreateWindowExA(0, "KvTestWindow", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, GetModuleHandleA(nullptr), param);
    made_.push_back(h);
    return h;
  }
  std::vector<HWND> made_;
};

TEST_F(Windows, ClassesAreFoundByNameIgnoringCaseAndRefuseDuplicatesAndEarlyRemoval) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  WNDCLASSA info{};
  ASSERT_TRUE(GetClassInfoA(self, "kvtestWINDOW", &info));
  EXPECT_EQ(info.lpfnWndProc, &record_proc);
  EXPECT_EQ(info.cbWndExtra, 16);
  EXPECT_STREQ(info.lpszClassName, "KvTestWindow");
  WNDCLASSA again{};
  again.lpfnWndProc = record_proc;
  again.hInstance = self;
  again.lpszClassName = "KVTESTWINDOW";
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&again), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_ALREADY_EXISTS});
  EXPECT_FALSE(GetClassInfoA(self, "NoSuchClass", &info));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_DOES_NOT_EXIST});

  HWND h = make();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(UnregisterClassA("KvTestWindow", self));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_HAS_WINDOWS});
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_FALSE(UnregisterClassA("NoSuchClass", self));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_DOES_NOT_EXIST});
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, self, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_CANNOT_FIND_WND_CLASS});
}

TEST_F(Windows, CreationMessagesComeFirstAndStorageKeepsFullPointers) {
  HWND h = make();
  ASSERT_NE(h, nullptr);
  auto created = seen_for(h, WM_CREATE);
  ASSERT_EQ(created.size(), 1u);
  EXPECT_NE(created[0].lParam, 0);  // the CREATESTRUCT lives only during the call
  EXPECT_EQ(created[0].thread, GetCurrentThreadId());
  EXPECT_EQ(seen_for(h, WM_NCCREATE).size(), 1u);

  const LONG_PTR wide = static_cast<LONG_PTR>(0x123456789ABCDEF0LL);
  EXPECT_EQ(SetWindowLongPtrA(h, GWLP_USERDATA, wide), 0);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_USERDATA), wide);
  EXPECT_EQ(GetWindowLongA(h, GWL_USERDATA), static_cast<LONG>(0x9ABCDEF0));  // truncated, as on Win64
  EXPECT_EQ(SetWindowLongA(h, 4, 77), 0);                                      // extra bytes
  EXPECT_EQ(GetWindowLongA(h, 4), 77);
  EXPECT_EQ(GetWindowLongPtrA(h, 8), 0);
  SetLastError(0);
  EXPECT_EQ(GetWindowLongPtrA(h, 12), 0);  // 12 + 8 is past the 16 bytes
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_INDEX});
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&record_proc));
  EXPECT_EQ(GetWindowLongA(h, GWL_STYLE), static_cast<LONG>(WS_OVERLAPPEDWINDOW));

  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_EQ(seen_for(h, WM_DESTROY).size(), 1u);
  EXPECT_EQ(seen_for(h, WM_NCDESTROY).size(), 1u);
  EXPECT_FALSE(IsWindow(h));
  SetLastError(0);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_USERDATA), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_WINDOW_HANDLE});
  EXPECT_FALSE(DestroyWindow(h));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_WINDOW_HANDLE});
}

TEST_F(Windows, CreationParameterReachesTheProcedure) {
  struct Capture {
    static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
      if (m == WM_CREATE) SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(
                                                                  reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
      return DefWindowProcA(h, m, w, l);
    }
  };
  WNDCLASSA wc{};
  wc.lpfnWndProc = Capture::proc;
  wc.lpszClassName = "KvCapture";
  ASSERT_NE(RegisterClassA(&wc), 0);
  int marker = 0;
  HWND h = CreateWindowExA(0, "KvCapture", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, nullptr, nullptr, nullptr, &marker);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&marker));
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_TRUE(UnregisterClassA("KvCapture", nullptr));
}

TEST_F(Windows, PostedMessagesWaitForPeekAndFiltersChooseThem) {
  HWND a = make(), b = make();
  ASSERT_TRUE(PostMessageW(a, WM_USER + 5, 1, 2));
  ASSERT_TRUE(PostMessageW(b, WM_USER + 6, 3, 4));
  ASSERT_TRUE(PostMessageW(nullptr, WM_APP, 5, 6));  // a thread message
  EXPECT_TRUE(seen_for(a, WM_USER + 5).empty());      // nothing runs until dispatched

  MSG m{};
  ASSERT_TRUE(PeekMessageW(&m, b, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, UINT{WM_USER + 6});
  ASSERT_TRUE(PeekMessageW(&m, b, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessageW(&m, b, 0, 0, PM_REMOVE));
  EXPECT_EQ(DispatchMessageW(&m), 0);
  ASSERT_EQ(seen_for(b, WM_USER + 6).size(), 1u);
  EXPECT_EQ(seen_for(b, WM_USER + 6)[0].lParam, 4);

  ASSERT_TRUE(PeekMessageW(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));  // thread messages only
  EXPECT_EQ(m.message, UINT{WM_APP});
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_USER + 6, WM_USER + 9, PM_REMOVE));  // outside the range
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_USER, WM_USER + 5, PM_REMOVE));
  EXPECT_EQ(m.hwnd, a);

  ASSERT_TRUE(PostMessageW(a, WM_USER, 0, 0));
  EXPECT_TRUE(DestroyWindow(a));  // its posted messages go with it
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PostMessageW(a, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_WINDOW_HANDLE});
  EXPECT_EQ(SendMessageW(b, WM_USER + 1, 21, 0), 42);  // same thread: called at once
}

// A thread with a window of its own that takes messages until WM_QUIT.
struct Pump {
  std::promise<HWND> window;
  std::atomic<DWORD> id{0};
  std::thread thread;
  explicit Pump(bool take_messages = true) {
    thread = std::thread([this, take_messages] {
      id = GetCurrentThreadId();
      HWND h = CreateWindowExA(0, "KvTestWindow", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
      window.set_value(h);
      if (!take_messages) {
        while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return;  // the thread's end takes its window with it
      }
      MSG m;
      while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
      DestroyWindow(h);
    });
  }
  void quit() { PostThreadMessageW(id, WM_QUIT, 0, 0); }
  std::atomic<bool> stop{false};
};

TEST_F(Windows, SendingToAnotherThreadRunsTheProcedureThereAndWaits) {
  Pump pump;
  HWND other = pump.window.get_future().get();
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(GetWindowThreadProcessId(other, nullptr), pump.id.load());
  EXPECT_EQ(SendMessageW(other, WM_USER + 1, 50, 0), 100);
  EXPECT_EQ(static_cast<DWORD>(SendMessageW(other, WM_USER + 2, 0, 0)), pump.id.load());
  // Only the owner may destroy it.
  EXPECT_FALSE(DestroyWindow(other));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  // A posted quit ends the other thread's loop.
  PostMessageW(other, WM_CLOSE, 0, 0);  // DefWindowProc destroys it on its own thread
  for (int i = 0; i < 200 && IsWindow(other); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(IsWindow(other));
  pump.quit();
  pump.thread.join();
}

TEST_F(Windows, BroadcastReachesTopLevelWindowsOfEveryThreadButNotMessageOnlyOnes) {
  HWND top = make();
  HWND message_only = make(HWND_MESSAGE);
  HWND child = make(top);
  Pump pump;
  HWND other = pump.window.get_future().get();
  static const char16_t intl[] = u"intl";
  ASSERT_TRUE(SendNotifyMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(intl)));
  ASSERT_EQ(seen_for(top, WM_SETTINGCHANGE).size(), 1u);  // own thread: at once
  EXPECT_EQ(seen_for(top, WM_SETTINGCHANGE)[0].lParam, reinterpret_cast<LPARAM>(intl));
  for (int i = 0; i < 400 && seen_for(other, WM_SETTINGCHANGE).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(seen_for(other, WM_SETTINGCHANGE).size(), 1u);
  EXPECT_EQ(seen_for(other, WM_SETTINGCHANGE)[0].thread, pump.id.load());
  EXPECT_TRUE(seen_for(message_only, WM_SETTINGCHANGE).empty());
  EXPECT_TRUE(seen_for(child, WM_SETTINGCHANGE).empty());

  // A posted broadcast waits in each queue.
  ASSERT_TRUE(PostMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 1, 0));
  MSG m{};
  ASSERT_TRUE(PeekMessageW(&m, top, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, UINT{WM_SETTINGCHANGE});
  EXPECT_EQ(m.wParam, WPARAM{1});
  EXPECT_FALSE(PeekMessageW(&m, message_only, 0, 0, PM_REMOVE));
  pump.quit();
  pump.thread.join();
}

TEST_F(Windows, SendingWithATimeOutGivesUpOnAThreadThatTakesNoMessages) {
  Pump idle(false);
  HWND other = idle.window.get_future().get();
  DWORD_PTR result = 7;
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutW(other, WM_USER + 1, 1, 0, SMTO_NORMAL, 30, &result), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_TIMEOUT});
  EXPECT_EQ(result, DWORD_PTR{7});
  idle.stop = true;
  idle.thread.join();
  EXPECT_TRUE(seen_for(other, WM_USER + 1).empty());
  EXPECT_FALSE(IsWindow(other));  // gone with its thread
  EXPECT_EQ(SendMessageW(other, WM_USER + 1, 1, 0), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_WINDOW_HANDLE});
}

TEST_F(Windows, TimersPostTimerMessagesUntilKilled) {
  HWND h = make();
  ASSERT_EQ(SetTimer(h, 9, 10, nullptr), UINT_PTR{9});
  MSG m{};
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(GetMessageW(&m, h, WM_TIMER, WM_TIMER), TRUE);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9));
  EXPECT_EQ(m.wParam, WPARAM{9});
  DispatchMessageW(&m);
  EXPECT_EQ(seen_for(h, WM_TIMER).size(), 1u);
  EXPECT_TRUE(KillTimer(h, 9));
  EXPECT_FALSE(KillTimer(h, 9));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(PeekMessageW(&m, h, WM_TIMER, WM_TIMER, PM_REMOVE));

  static std::atomic<int> calls{0};
  calls = 0;
  const UINT_PTR id = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { ++calls; });
  ASSERT_NE(id, 0u);
  ASSERT_EQ(GetMessageW(&m, nullptr, WM_TIMER, WM_TIMER), TRUE);
  DispatchMessageW(&m);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_TRUE(KillTimer(nullptr, id));
}

TEST_F(Windows, QuitEndsTheMessageLoop) {
  PostQuitMessage(3);
  MSG m{};
  EXPECT_EQ(GetMessageW(&m, nullptr, 0, 0), FALSE);
  EXPECT_EQ(m.message, UINT{WM_QUIT});
  EXPECT_EQ(m.wParam, WPARAM{3});
}

}  // namespace
