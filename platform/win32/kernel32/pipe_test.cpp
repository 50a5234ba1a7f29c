#include <gtest/gtest.h>

#include <string>

#include "platform/win32/windows.h"

namespace {

struct Pipe {
  HANDLE read = nullptr, write = nullptr;
  explicit Pipe(LPSECURITY_ATTRIBUTES sa = nullptr) { EXPECT_TRUE(CreatePipe(&read, &write, sa, 0)); }
  ~Pipe() {
    if (read) CloseHandle(read);
    if (write) CloseHandle(write);
  }
  void close_read() { CloseHandle(std::exchange(read, nullptr)); }
  void close_write() { CloseHandle(std::exchange(write, nullptr)); }
};

}  // namespace

TEST(AnonymousPipes, BytesGoThroughAndAClosedEndBreaksThePipe) {
  Pipe p;
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(p.write, "hello", 5, &n, nullptr));
  EXPECT_EQ(n, 5u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(p.read, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "hello");
  // The wrong direction is refused.
  EXPECT_FALSE(WriteFile(p.read, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(ReadFile(p.write, buf, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // Data written before the writer closed still arrives; then 109.
  ASSERT_TRUE(WriteFile(p.write, "tail", 4, &n, nullptr));
  p.close_write();
  ASSERT_TRUE(ReadFile(p.read, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "tail");
  EXPECT_FALSE(ReadFile(p.read, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  EXPECT_EQ(n, 0u);
}

TEST(AnonymousPipes, WritingWithNoReaderFailsWithoutASignal) {
  Pipe p;
  p.close_read();
  DWORD n = 99;
  EXPECT_FALSE(WriteFile(p.write, "x", 1, &n, nullptr));  // the process lives on
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  EXPECT_EQ(n, 0u);
  // A duplicate keeps its end open: the pipe breaks with the last handle.
  Pipe q;
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), q.write, GetCurrentProcess(), &dup, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  q.close_write();
  ASSERT_TRUE(WriteFile(dup, "y", 1, &n, nullptr));
  CloseHandle(dup);
  char c = 0;
  ASSERT_TRUE(ReadFile(q.read, &c, 1, &n, nullptr));
  EXPECT_EQ(c, 'y');
  EXPECT_FALSE(ReadFile(q.read, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
}

TEST(AnonymousPipes, InheritanceFollowsTheAttributes) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  for (bool inherit : {false, true}) {
    Pipe p(inherit ? &sa : nullptr);
    DWORD flags = 0xFF;
    ASSERT_TRUE(GetHandleInformation(p.read, &flags));
    EXPECT_EQ(flags, inherit ? static_cast<DWORD>(HANDLE_FLAG_INHERIT) : 0u);
    ASSERT_TRUE(GetHandleInformation(p.write, &flags));
    EXPECT_EQ(flags, inherit ? static_cast<DWORD>(HANDLE_FLAG_INHERIT) : 0u);
  }
  HANDLE r = nullptr;
  EXPECT_FALSE(CreatePipe(&r, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
