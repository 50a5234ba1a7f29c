#include "system/tls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "system/thread.h"

namespace {

Common::ThreadLocalVariable variable(0);

template <class F>
void onOtherThread(F f) {
  std::thread(f).join();
}

TEST(ThreadLocalVariable, ThreadValueOverridesProcessValue) {
  EXPECT_EQ(variable.set(77, true), 0u);  // the old process-wide value
  EXPECT_EQ(variable.get(), 77u);

  onOtherThread([] {
    EXPECT_EQ(variable.get(), 77u);  // never written here: the process-wide value
    std::uintptr_t old = variable.set(0, false);
    EXPECT_EQ(old, ~std::uintptr_t(0));  // "had none"
    EXPECT_EQ(variable.get(), 0u);       // an own value of 0 still overrides
    EXPECT_EQ(variable.set(5, false), 0u);
    EXPECT_EQ(variable.get(), 5u);
    // Writing back what the first write returned removes the own value.
    variable.set(5, false);
    variable.set(old, false);
    EXPECT_EQ(variable.get(), 77u);
  });

  onOtherThread([] {
    std::uintptr_t old = variable.set(9, false);
    EXPECT_EQ(variable.get(), 9u);
    EXPECT_EQ(variable.set(8, true), 77u);  // process-wide: the thread's own value still wins
    EXPECT_EQ(variable.get(), 9u);
    variable.set(old, false);
    EXPECT_EQ(variable.get(), 8u);
  });
  EXPECT_EQ(variable.get(), 8u);  // other threads' values never leak here
  variable.set(0, true);
}

TEST(ThreadLocalVariable, TypedPointers) {
  static Common::ThreadLocal<int> slot;
  int a = 1, b = 2;
  EXPECT_EQ(slot.get(), nullptr);
  slot.set(&a, true);
  onOtherThread([&] {
    EXPECT_EQ(slot.get(), &a);
    slot.set(&b, false);
    EXPECT_EQ(slot.get(), &b);
  });
  EXPECT_EQ(slot.get(), &a);
  slot.set(nullptr, true);
}

std::atomic<int> cleaned{0};
std::atomic<void*> cleanedValue{nullptr};
void cleanup(void* v) {
  cleanedValue = v;
  cleaned.fetch_add(1);
}

std::int32_t storeValue(void* slot) {
  Common::tlsSet(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(slot)), reinterpret_cast<void*>(0x1234));
  return 0;
}
std::int32_t storeNothing(void*) { return 0; }

// The slot allocated with a cleanup callback hands an ending thread's non-null
// value to it; a thread without a value is left alone.
TEST(Tls, CleanupAtThreadExit) {
  cleaned = 0;
  cleanedValue = nullptr;
  DWORD slot = Common::tlsAlloc(&cleanup);
  ASSERT_NE(slot, DWORD(-1));
  void* arg = reinterpret_cast<void*>(std::uintptr_t(slot));
  {
    Common::Thread t(&storeValue, arg);
    t.join();
  }
  EXPECT_EQ(cleaned.load(), 1);
  EXPECT_EQ(cleanedValue.load(), reinterpret_cast<void*>(0x1234));
  {
    Common::Thread t(&storeNothing, arg);
    t.join();
  }
  EXPECT_EQ(cleaned.load(), 1);

  // A later registration replaces the pair.
  DWORD other = Common::tlsAlloc(&cleanup);
  {
    Common::Thread t(&storeValue, arg);
    t.join();
  }
  EXPECT_EQ(cleaned.load(), 1);
  EXPECT_TRUE(Common::tlsFree(other));
  EXPECT_TRUE(Common::tlsFree(slot));
}

TEST(Tls, GetSetFree) {
  DWORD slot = Common::tlsAlloc(nullptr);
  ASSERT_NE(slot, DWORD(-1));
  EXPECT_EQ(Common::tlsGet(slot), nullptr);
  EXPECT_TRUE(Common::tlsSet(slot, &slot));
  EXPECT_EQ(Common::tlsGet(slot), &slot);
  EXPECT_TRUE(Common::tlsFree(slot));
}

}  // namespace
