// Posted messages that own memory: released exactly once, after their handling.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/win32/windows.h"

namespace {

constexpr UINT kOwned = WM_USER + 40;
constexpr UINT kPlain = WM_USER + 41;

std::vector<int> g_released;
std::vector<int> g_seen_released;  // what the procedure saw released while handling

void release(void* context) { g_released.push_back(static_cast<int>(reinterpret_cast<intptr_t>(context))); }

LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == kOwned) {
    // A nested loop while handling must not end this message's memory.
    MSG inner;
    while (PeekMessageW(&inner, h, kPlain, kPlain, PM_REMOVE)) DispatchMessageW(&inner);
    g_seen_released = g_released;
    return 0;
  }
  return DefWindowProcW(h, m, w, l);
}

class OwnedMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    g_released.clear();
    g_seen_released.clear();
    static const bool registered = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = proc;
      wc.lpszClassName = u"KvOwnedMessageTest";
      return RegisterClassW(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    window_ = CreateWindowExW(0, u"KvOwnedMessageTest", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
  }
  static void* ctx(int n) { return reinterpret_cast<void*>(static_cast<intptr_t>(n)); }
  HWND window_ = nullptr;
};

TEST_F(OwnedMessages, ReleasedWhenItsDispatchReturnsAndNotInANestedLoop) {
  ASSERT_TRUE(win32::post_message_with_release(window_, kOwned, 1, 0, release, ctx(1)));
  PostMessageW(window_, kPlain, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, window_, kOwned, kOwned, PM_REMOVE));
  EXPECT_TRUE(g_released.empty());
  DispatchMessageW(&m);
  EXPECT_TRUE(g_seen_released.empty());
  EXPECT_EQ(g_released, std::vector<int>{1});
}

TEST_F(OwnedMessages, ReleasedWhenTakenAndLeftOrWhenNeverRead) {
  ASSERT_TRUE(win32::post_message_with_release(window_, kOwned, 1, 0, release, ctx(1)));
  ASSERT_TRUE(win32::post_message_with_release(window_, kOwned, 2, 0, release, ctx(2)));
  ASSERT_TRUE(win32::post_message_with_release(window_, kOwned, 3, 0, release, ctx(3)));
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, window_, 0, 0, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessageW(&m, window_, 0, 0, PM_REMOVE));  // taken, never dispatched
  EXPECT_TRUE(g_released.empty());
  ASSERT_TRUE(PeekMessageW(&m, window_, 0, 0, PM_REMOVE));
  EXPECT_EQ(g_released, std::vector<int>{1});
  DestroyWindow(window_);  // 2 was taken and is done at the next take; 3 was never read
  EXPECT_EQ(g_released, (std::vector<int>{1, 3}));
  PostMessageW(nullptr, kPlain, 0, 0);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, kPlain, kPlain, PM_REMOVE));
  EXPECT_EQ(g_released, (std::vector<int>{1, 3, 2}));
}

TEST_F(OwnedMessages, ReleasedWhenTheWindowsThreadEnds) {
  HWND other = nullptr;
  HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr), go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread t([&] {
    other = CreateWindowExW(0, u"KvOwnedMessageTest", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetEvent(made);
    WaitForSingleObject(go, INFINITE);
  });
  WaitForSingleObject(made, INFINITE);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(win32::post_message_with_release(other, kOwned, 9, 0, release, ctx(9)));
  EXPECT_TRUE(g_released.empty());
  SetEvent(go);
  t.join();
  EXPECT_EQ(g_released, std::vector<int>{9});
  CloseHandle(made);
  CloseHandle(go);
}

TEST_F(OwnedMessages, NotPostedNotReleased) {
  EXPECT_FALSE(win32::post_message_with_release(nullptr, kOwned, 0, 0, release, ctx(1)));
  HWND gone = window_;
  DestroyWindow(window_);
  EXPECT_FALSE(win32::post_message_with_release(gone, kOwned, 0, 0, release, ctx(2)));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(g_released.empty());
}

}  // namespace
