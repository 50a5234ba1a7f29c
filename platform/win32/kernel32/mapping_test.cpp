#include "platform/win32/kernel32/mapping.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/win32/testing/test_world.h"

namespace {

class Mapping : public win32_test::World {};

// Another process of the world creates the same name: it is told 183 and sees
// the first creator's bytes; what it writes, the first process reads.
TEST_F(Mapping, SecondCreateFromAnotherProcessSharesTheBytes) {
  HANDLE first = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "Global\\kv-test-map");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  auto* view = static_cast<char*>(MapViewOfFile(first, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 4096));
  ASSERT_NE(view, nullptr);
  std::strcpy(view, "from the creator");

  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    HANDLE second = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "Global\\kv-test-map");
    DWORD error = GetLastError();
    auto* v = static_cast<char*>(second ? MapViewOfFile(second, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 4096) : nullptr);
    bool same = v && std::strcmp(v, "from the creator") == 0;
    if (v) std::strcpy(v + 100, "from the second");
    char line[32];
    int n = std::snprintf(line, sizeof line, "%lu %d", static_cast<unsigned long>(error), same ? 1 : 0);
    _exit(::write(report[1], line, static_cast<size_t>(n)) == n ? 0 : 1);
  }
  ::close(report[1]);
  char line[32] = {};
  ASSERT_GT(::read(report[0], line, sizeof line - 1), 0);
  ::close(report[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_STREQ(line, "183 1");
  EXPECT_STREQ(view + 100, "from the second");

  // Open without create finds it; the name goes with its last holder.
  HANDLE opened = OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\kv-test-map");
  ASSERT_NE(opened, nullptr);
  auto* ro = static_cast<const char*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(ro, nullptr);
  EXPECT_STREQ(ro, "from the creator");
  EXPECT_EQ(MapViewOfFile(opened, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(UnmapViewOfFile(ro));
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  CloseHandle(opened);
  CloseHandle(first);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\kv-test-map"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // Created afresh: new, zero-filled.
  HANDLE again = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, u"Global\\kv-test-map");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  auto* fresh = static_cast<const char*>(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh[0], 0);
  // A view's mapping outlives its handle.
  CloseHandle(again);
  EXPECT_EQ(fresh[1], 0);
  EXPECT_TRUE(UnmapViewOfFile(fresh));
}

TEST_F(Mapping, RefusedArguments) {
  HANDLE m = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0x20000, nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(MapViewOfFile(m, FILE_MAP_READ, 0, 4096, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT));
  EXPECT_EQ(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0x20001), nullptr);
  void* tail = MapViewOfFile(m, FILE_MAP_READ, 0, 0x10000, 0);
  EXPECT_NE(tail, nullptr);
  EXPECT_TRUE(UnmapViewOfFile(tail));
  CloseHandle(m);
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, "Global\\kv-empty"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
