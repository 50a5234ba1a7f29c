#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/kernel32/waitable.h"
#include "platform/win32/windows.h"

namespace {

struct Slot {
  DWORD index = TlsAlloc();
  ~Slot() {
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
  }
};

// What exit callbacks saw, across threads.
std::mutex g_seen_lock;
std::vector<std::pair<void*, DWORD>> g_seen;  // value, thread id

void record(void* value) {
  std::lock_guard<std::mutex> g(g_seen_lock);
  g_seen.emplace_back(value, GetCurrentThreadId());
}

std::vector<std::pair<void*, DWORD>> take_seen() {
  std::lock_guard<std::mutex> g(g_seen_lock);
  return std::exchange(g_seen, {});
}

DWORD g_slot_for_thread = 0;
int g_value_a = 0, g_value_b = 0;

DWORD CALLBACK set_slot_and_return_id(LPVOID value) {
  TlsSetValue(g_slot_for_thread, value);
  return GetCurrentThreadId();
}

}  // namespace

TEST(Tls, ValuesArePerThreadAndGetClearsTheLastError) {
  Slot s;
  ASSERT_NE(s.index, TLS_OUT_OF_INDEXES);
  int mine = 0;
  EXPECT_TRUE(TlsSetValue(s.index, &mine));
  void* other = reinterpret_cast<void*>(1);
  std::thread([&] {
    other = TlsGetValue(s.index);
    TlsSetValue(s.index, &other);
  }).join();
  EXPECT_EQ(other, nullptr);  // a new thread starts empty
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(TlsGetValue(s.index), &mine);
  EXPECT_EQ(GetLastError(), 0u);

  SetLastError(0);
  EXPECT_EQ(TlsGetValue(100000), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(TlsSetValue(100000, &mine));
  EXPECT_FALSE(TlsFree(100000));
}

TEST(Tls, FreedSlotComesBackEmptyInEveryThread) {
  DWORD index = TlsAlloc();
  int value = 0;
  TlsSetValue(index, &value);
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE set = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  void* seen_after = reinterpret_cast<void*>(1);
  std::thread other([&] {
    TlsSetValue(index, &value);
    SetEvent(set);
    WaitForSingleObject(go, INFINITE);
    seen_after = TlsGetValue(index);
  });
  WaitForSingleObject(set, INFINITE);
  EXPECT_TRUE(TlsFree(index));
  EXPECT_FALSE(TlsFree(index));  // twice
  DWORD again = TlsAlloc();
  EXPECT_EQ(again, index);  // lowest free slot
  EXPECT_EQ(TlsGetValue(again), nullptr);
  SetEvent(go);
  other.join();
  EXPECT_EQ(seen_after, nullptr);
  TlsFree(again);
  CloseHandle(go);
  CloseHandle(set);
}

TEST(Tls, RunsOutOfIndexes) {
  std::vector<DWORD> got;
  for (;;) {
    DWORD i = TlsAlloc();
    if (i == TLS_OUT_OF_INDEXES) break;
    got.push_back(i);
    ASSERT_LT(got.size(), 100000u);
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_GE(got.size(), static_cast<std::size_t>(TLS_MINIMUM_AVAILABLE));
  for (DWORD i : got) TlsFree(i);
  Slot s;
  EXPECT_NE(s.index, TLS_OUT_OF_INDEXES);
}

TEST(Tls, ExitCallbackGetsTheEndingThreadsValueBeforeItsHandleIsSignalled) {
  Slot s;
  g_slot_for_thread = s.index;
  ASSERT_TRUE(win32::tls_set_exit_callback(s.index, record));
  take_seen();

  HANDLE t = CreateThread(nullptr, 0, set_slot_and_return_id, &g_value_a, 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  DWORD id = 0;
  GetExitCodeThread(t, &id);
  CloseHandle(t);
  auto seen = take_seen();  // already there: the callback ran before the handle was signalled
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, &g_value_a);
  EXPECT_EQ(seen[0].second, id);  // on the ending thread itself

  // A thread the layer did not start, and one that left its value null.
  DWORD foreign = 0;
  std::thread([&] { foreign = set_slot_and_return_id(&g_value_b); }).join();
  std::thread([&] { set_slot_and_return_id(nullptr); }).join();
  seen = take_seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, &g_value_b);
  EXPECT_EQ(seen[0].second, foreign);

  // Removing the callback, or freeing the slot, stops the calls.
  ASSERT_TRUE(win32::tls_set_exit_callback(s.index, nullptr));
  std::thread([&] { set_slot_and_return_id(&g_value_a); }).join();
  EXPECT_TRUE(take_seen().empty());
  EXPECT_FALSE(win32::tls_set_exit_callback(100000, record));
}

TEST(Tls, ACallbackThatStoresAgainIsCalledAgain) {
  static DWORD slot;
  static std::atomic<int> calls{0};
  Slot s;
  slot = s.index;
  calls = 0;
  win32::tls_set_exit_callback(s.index, [](void* v) {
    ++calls;
    if (v == &g_value_a) TlsSetValue(slot, &g_value_b);  // a clean-up that needs one more round
  });
  std::thread([&] { TlsSetValue(s.index, &g_value_a); }).join();
  EXPECT_EQ(calls.load(), 2);
}
