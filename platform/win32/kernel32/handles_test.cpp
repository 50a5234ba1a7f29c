#include "platform/win32/windows.h"

#include <gtest/gtest.h>

namespace {
struct Dummy : win32::KernelObject {
  win32::ObjectKind kind() const override { return win32::ObjectKind::Other; }
};
}  // namespace

TEST(Handles, InsertLookupCloseAndReuse) {
  std::size_t before = win32::handle_count();
  auto obj = std::make_shared<Dummy>();
  HANDLE h = win32::handle_insert(obj);
  ASSERT_NE(h, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(h) % 4, 0u);
  EXPECT_EQ(win32::handle_lookup(h), obj);
  EXPECT_EQ(win32::handle_count(), before + 1);

  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
  EXPECT_NE(dup, h);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(win32::handle_lookup_as<Dummy>(dup), obj);  // the duplicate keeps the object
  EXPECT_TRUE(CloseHandle(dup));
  EXPECT_EQ(win32::handle_count(), before);
}

TEST(Handles, ClosingABadHandleFailsWithInvalidHandle) {
  for (HANDLE bad : {HANDLE(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x7ff0), reinterpret_cast<HANDLE>(3)}) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
}
