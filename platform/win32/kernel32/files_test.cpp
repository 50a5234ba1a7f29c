#include "platform/win32/kernel32/files.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32/kernel32/sharing.h"
#include "platform/win32/testing/test_world.h"

namespace fs = std::filesystem;

namespace {

class Files : public win32_test::World {};

// Closes on scope exit.
struct Handle {
  HANDLE h;
  explicit Handle(HANDLE v) : h(v) {}
  Handle(const Handle&) = delete;
  ~Handle() {
    if (ok()) CloseHandle(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  operator HANDLE() const { return h; }
};

HANDLE open_file(const char16_t* name, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING, DWORD flags = 0) {
  return CreateFileW(name, access, share, nullptr, disposition, flags, nullptr);
}

// An OVERLAPPED that places a call at `offset`.
OVERLAPPED at(ULONGLONG offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

bool read_at(HANDLE h, ULONGLONG offset, DWORD n) {
  std::string buf(n, '\0');
  OVERLAPPED o = at(offset);
  DWORD got = 0;
  return ReadFile(h, buf.data(), n, &got, &o) != FALSE;
}

bool write_at(HANDLE h, ULONGLONG offset, DWORD n) {
  std::string buf(n, 'w');
  OVERLAPPED o = at(offset);
  DWORD put = 0;
  return WriteFile(h, buf.data(), n, &put, &o) != FALSE;
}

BOOL lock(HANDLE h, ULONGLONG offset, ULONGLONG length, DWORD flags) {
  OVERLAPPED o = at(offset);
  return LockFileEx(h, flags, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &o);
}

BOOL unlock(HANDLE h, ULONGLONG offset, ULONGLONG length) {
  OVERLAPPED o = at(offset);
  return UnlockFileEx(h, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &o);
}

constexpr DWORD R = FILE_SHARE_READ, W = FILE_SHARE_WRITE, D = FILE_SHARE_DELETE;
constexpr DWORD GR = GENERIC_READ, GW = GENERIC_WRITE;

// Runs `body` in a child process that holds what it opened until the parent
// has checked; returns once the child reports it is ready.
class Child {
 public:
  template <class F>
  explicit Child(F body) {
    if (::pipe(ready_) != 0 || ::pipe(done_) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      char c = body() ? 'y' : 'n';
      if (::write(ready_[1], &c, 1) != 1) _exit(2);
      if (::read(done_[0], &c, 1) < 0) _exit(2);
      _exit(0);
    }
    char c = 0;
    ok_ = ::read(ready_[0], &c, 1) == 1 && c == 'y';
  }
  ~Child() {
    char c = 'x';
    if (::write(done_[1], &c, 1) != 1) ADD_FAILURE();
    int status;
    ::waitpid(pid_, &status, 0);
    for (int fd : {ready_[0], ready_[1], done_[0], done_[1]}) ::close(fd);
  }
  bool ok() const { return ok_; }

 private:
  int ready_[2], done_[2];
  pid_t pid_ = -1;
  bool ok_ = false;
};

}  // namespace

TEST_F(Files, Dispositions) {
  struct Case {
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD error;       // last error after the call
    std::string after;  // contents afterwards ("-" when no file)
  } cases[] = {
      {CREATE_NEW, false, true, 0, ""},
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {CREATE_ALWAYS, false, true, 0, ""},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "-"},
      {OPEN_EXISTING, true, true, 0, "old"},
      {OPEN_ALWAYS, false, true, 0, ""},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "-"},
      {TRUNCATE_EXISTING, true, true, 0, ""},
  };
  for (const Case& c : cases) {
    fs::remove(this->c("f.txt"));
    if (c.exists) put("f.txt", "old");
    SetLastError(12345);
    Handle h(open_file(u"C:\\f.txt", GR | GW, 0, c.disposition));
    EXPECT_EQ(h.ok(), c.opens) << c.disposition << " " << c.exists;
    EXPECT_EQ(GetLastError(), c.error) << c.disposition << " " << c.exists;
    EXPECT_EQ(fs::exists(this->c("f.txt")) ? get("f.txt") : "-", c.after) << c.disposition << " " << c.exists;
  }
  for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
    SetLastError(0);
    EXPECT_EQ(open_file(u"C:\\no\\f.txt", GR | GW, 0, disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << disposition;
  }
  SetLastError(0);
  EXPECT_EQ(open_file(u"C:\\f.txt", GR, 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(open_file(u"C:\\f.txt", GR, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);  // needs write access
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Files, FoldersNamesAndReadOnlyFiles) {
  fs::create_directories(c("Dir"));
  put("Dir/Data.TXT", "abc");
  SetLastError(0);
  EXPECT_EQ(open_file(u"C:\\Dir", GR, R | W), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  {
    Handle d(open_file(u"C:\\dir\\", GR, R | W | D, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    ASSERT_TRUE(d.ok());
    DWORD n = 7;
    char b[4];
    EXPECT_FALSE(ReadFile(d, b, 4, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(n, 0u);
  }
  SetLastError(0);
  EXPECT_EQ(open_file(u"C:\\Dir", GR, R, CREATE_NEW, FILE_FLAG_BACKUP_SEMANTICS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  {
    Handle f(open_file(u"c:\\DIR\\data.txt", GR, R));  // names ignore case
    ASSERT_TRUE(f.ok());
    char b[8];
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(f, b, 8, &n, nullptr));
    EXPECT_EQ(std::string(b, n), "abc");
  }
  SetLastError(0);
  EXPECT_EQ(open_file(u"C:\\Dir\\Data.TXT\\", GR, R), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  fs::permissions(c("Dir/Data.TXT"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  for (DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS}) {
    SetLastError(0);
    EXPECT_EQ(open_file(u"C:\\Dir\\Data.TXT", GW, 0, disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  Handle ro(open_file(u"C:\\Dir\\Data.TXT", GR, R));
  EXPECT_TRUE(ro.ok());
  // A new file created read-only still gives its creator a writable handle.
  Handle made(open_file(u"C:\\Dir\\ro.txt", GR | GW, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(made.ok());
  DWORD put = 0;
  EXPECT_TRUE(WriteFile(made, "xy", 2, &put, nullptr));
}

TEST_F(Files, ShareModes) {
  struct Case {
    DWORD access1, share1, access2, share2;
    bool second_opens;
  } cases[] = {
      {GR, R, GR, R, true},
      {GR, R, GW, R | W, false},          // the first refuses writers
      {GR, R | W, GW, R | W, true},
      {GW, R, GR, R, false},              // the second refuses the first's writing
      {GW, R | W, GR, R | W, true},
      {GR, 0, GR, R | W | D, false},
      {GR, R, DELETE, R | W | D, false},  // delete needs FILE_SHARE_DELETE
      {GR, R | D, DELETE, R | W | D, true},
      {GR | GW, 0, FILE_READ_ATTRIBUTES, 0, true},  // no data access: no part in sharing
      {FILE_READ_ATTRIBUTES, 0, GR | GW, 0, true},
      {FILE_APPEND_DATA, R | W, GR, R, false},     // appending counts as writing
  };
  put("s.txt", "data");
  for (const Case& c : cases) {
    Handle first(open_file(u"C:\\s.txt", c.access1, c.share1));
    ASSERT_TRUE(first.ok());
    SetLastError(0);
    Handle second(open_file(u"C:\\s.txt", c.access2, c.share2));
    EXPECT_EQ(second.ok(), c.second_opens) << std::hex << c.access1 << "/" << c.share1 << " then " << c.access2 << "/"
                                           << c.share2;
    if (!c.second_opens) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
  }
  // Closing the last handle releases the file; a duplicate keeps it held.
  HANDLE h = open_file(u"C:\\s.txt", GR, 0);
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
  CloseHandle(h);
  EXPECT_EQ(open_file(u"C:\\s.txt", GR, R | W), INVALID_HANDLE_VALUE);
  CloseHandle(dup);
  {
    Handle again(open_file(u"C:\\s.txt", GR, R | W));
    EXPECT_TRUE(again.ok());
  }
  // Opening files makes no entries of its own: the world's few lock tables
  // serve every file.
  std::size_t tables = 0;
  for (const auto& e : fs::directory_iterator(dir_ + "/world/run/locks")) tables += e.is_regular_file();
  for (int i = 0; i < 40; ++i) {
    put("many" + std::to_string(i), "x");
    std::u16string name = u"C:\\many" + win32::utf8_to_utf16(std::to_string(i));
    Handle each(open_file(name.c_str(), GR, R));
    EXPECT_TRUE(each.ok());
  }
  std::size_t after = 0;
  for (const auto& e : fs::directory_iterator(dir_ + "/world/run/locks")) after += e.is_regular_file();
  EXPECT_LE(after, 16u);
  EXPECT_GE(after, tables);
}

TEST_F(Files, ShareModesHoldBetweenProcesses) {
  put("p.txt", "data");
  {
    Child child([] {
      HANDLE h = CreateFileW(u"C:\\p.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      return h != INVALID_HANDLE_VALUE;
    });
    ASSERT_TRUE(child.ok());
    SetLastError(0);
    EXPECT_EQ(open_file(u"C:\\p.txt", GR, R | W | D), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(u"C:\\p.txt"));
  }
  Handle after(open_file(u"C:\\p.txt", GR, R));  // the child's exit released it
  EXPECT_TRUE(after.ok());
}

TEST_F(Files, ByteRangeLocks) {
  put("l.bin", std::string(100, 'x'));
  Handle a(open_file(u"C:\\l.bin", GR | GW, R | W));
  Handle b(open_file(u"C:\\l.bin", GR | GW, R | W));
  ASSERT_TRUE(a.ok() && b.ok());

  ASSERT_TRUE(lock(a, 10, 10, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY));
  ASSERT_TRUE(lock(a, 40, 10, LOCKFILE_FAIL_IMMEDIATELY));  // shared
  struct Io {
    HANDLE h;
    bool write;
    ULONGLONG offset;
    DWORD count;
    bool ok;
  } ios[] = {
      {a, false, 10, 10, true},  {a, true, 10, 10, true},    // the owner of an exclusive lock
      {b, false, 10, 10, false}, {b, true, 15, 1, false},    // everyone else
      {b, false, 0, 10, true},   {b, false, 5, 6, false},    // touching the range is enough
      {b, true, 20, 20, true},
      {a, false, 40, 10, true},  {a, true, 45, 1, false},    // a shared lock stops its owner's writes
      {b, false, 40, 10, true},  {b, true, 49, 5, false},
      {b, true, 50, 50, true},
  };
  for (const Io& io : ios) {
    SetLastError(0);
    bool done = io.write ? write_at(io.h, io.offset, io.count) : read_at(io.h, io.offset, io.count);
    EXPECT_EQ(done, io.ok) << (io.h == a.h ? "a " : "b ") << (io.write ? "writes " : "reads ") << io.offset;
    if (!io.ok) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    }
  }

  struct Lock {
    HANDLE h;
    ULONGLONG offset, length;
    bool exclusive, ok;
  } locks[] = {
      {b, 15, 1, false, false},  // inside a's exclusive range
      {b, 45, 2, false, true},   // shared locks stack
      {b, 45, 2, true, false},
      {a, 12, 2, true, false},   // not even the owner may lock over its exclusive range
      {a, 12, 2, false, true},   // but may add a shared one
      {b, 1000, 5, true, true},  // beyond the end of the file
      {b, 0, 0, true, true},     // zero bytes conflict with nothing
  };
  for (const Lock& l : locks) {
    SetLastError(0);
    BOOL ok = lock(l.h, l.offset, l.length, (l.exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY);
    EXPECT_EQ(ok != FALSE, l.ok) << l.offset;
    if (!l.ok) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    }
  }

  // Unlocking names a lock exactly.
  SetLastError(0);
  EXPECT_FALSE(unlock(a, 10, 5));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
  EXPECT_FALSE(unlock(b, 10, 10));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
  EXPECT_TRUE(unlock(a, 10, 10));
  EXPECT_TRUE(unlock(a, 12, 2));
  EXPECT_TRUE(read_at(b, 10, 10));
  EXPECT_TRUE(write_at(b, 10, 10));
  // Stacked shared locks: one unlock leaves the other.
  EXPECT_TRUE(unlock(a, 40, 10));
  EXPECT_FALSE(write_at(a, 45, 1));  // b still holds 45..47 shared
  EXPECT_TRUE(unlock(b, 45, 2));
  EXPECT_TRUE(write_at(a, 45, 1));
  EXPECT_FALSE(unlock(b, 45, 2));

  // The classic whole-file lock, once b's lock beyond the end is gone.
  EXPECT_FALSE(LockFile(a, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF));
  EXPECT_TRUE(unlock(b, 1000, 5));
  EXPECT_TRUE(LockFile(a, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF));
  EXPECT_FALSE(read_at(b, 0, 1));
  EXPECT_FALSE(LockFile(b, 99, 0, 1, 0));
  EXPECT_TRUE(UnlockFile(a, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF));
  EXPECT_TRUE(read_at(b, 0, 1));
}

TEST_F(Files, LocksAreReleasedWithTheHandleAndHoldBetweenProcesses) {
  put("x.bin", std::string(64, 'x'));
  {
    Handle a(open_file(u"C:\\x.bin", GR | GW, R | W));
    ASSERT_TRUE(LockFile(a, 0, 0, 8, 0));
  }
  Handle b(open_file(u"C:\\x.bin", GR | GW, R | W));
  EXPECT_TRUE(read_at(b, 0, 8));
  {
    Child child([] {
      HANDLE h = CreateFileW(u"C:\\x.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
      return h != INVALID_HANDLE_VALUE && LockFile(h, 16, 0, 16, 0);
    });
    ASSERT_TRUE(child.ok());
    SetLastError(0);
    EXPECT_FALSE(read_at(b, 20, 4));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_TRUE(read_at(b, 0, 16));
    EXPECT_FALSE(lock(b, 30, 4, LOCKFILE_FAIL_IMMEDIATELY));
  }
  EXPECT_TRUE(read_at(b, 20, 4));
}

TEST_F(Files, AWaitingLockIsGrantedWhenTheHolderUnlocks) {
  put("w.bin", std::string(16, 'w'));
  Handle a(open_file(u"C:\\w.bin", GR | GW, R | W));
  Handle b(open_file(u"C:\\w.bin", GR | GW, R | W));
  ASSERT_TRUE(lock(a, 0, 8, LOCKFILE_EXCLUSIVE_LOCK));
  std::atomic<bool> granted{false};
  std::thread waiter([&] {
    if (lock(b, 4, 8, LOCKFILE_EXCLUSIVE_LOCK)) granted = true;  // waits: no FAIL_IMMEDIATELY
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(granted);
  EXPECT_TRUE(unlock(a, 0, 8));
  waiter.join();
  EXPECT_TRUE(granted);
  EXPECT_FALSE(read_at(a, 6, 1));
  EXPECT_TRUE(unlock(b, 4, 8));
}

TEST_F(Files, ReadWriteAndTheFilePointer) {
  Handle h(open_file(u"C:\\io.bin", GR | GW, 0, CREATE_NEW));
  ASSERT_TRUE(h.ok());
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(GetFileSize(h, nullptr), 11u);
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buf[16];
  ASSERT_TRUE(ReadFile(h, buf, 16, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "world");
  ASSERT_TRUE(ReadFile(h, buf, 16, &n, nullptr));  // the end: success, no bytes
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 6u);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 5u);
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(h, -6, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 5u);  // unchanged by the failure

  // 64-bit moves through the high word; success clears the last error.
  LONG high = 1;
  SetLastError(99);
  EXPECT_EQ(SetFilePointer(h, 0x10, &high, FILE_BEGIN), 0x10u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(GetLastError(), 0u);
  LARGE_INTEGER pos, dist;
  dist.QuadPart = 0;
  ASSERT_TRUE(SetFilePointerEx(h, dist, &pos, FILE_CURRENT));
  EXPECT_EQ(pos.QuadPart, 0x100000010LL);
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);  // does not fit 32 bits
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // SetEndOfFile cuts or extends at the pointer and leaves it there.
  EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
  ASSERT_TRUE(SetEndOfFile(h));
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, 5);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 5u);
  dist.QuadPart = 4096;
  ASSERT_TRUE(SetFilePointerEx(h, dist, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 4096u);
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_EQ(GetFileType(h), static_cast<DWORD>(FILE_TYPE_DISK));
}

TEST_F(Files, AccessRightsOfHandles) {
  put("a.txt", "abc");
  char buf[4];
  DWORD n = 9;
  Handle r(open_file(u"C:\\a.txt", GR, R | W));
  SetLastError(0);
  EXPECT_FALSE(WriteFile(r, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(SetEndOfFile(r));
  EXPECT_FALSE(FlushFileBuffers(r));
  FILETIME ft{1, 1};
  EXPECT_FALSE(SetFileTime(r, nullptr, nullptr, &ft));
  Handle w(open_file(u"C:\\a.txt", GW, R | W));
  SetLastError(0);
  EXPECT_FALSE(ReadFile(w, buf, 4, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // Append-only handles write at the end whatever the pointer says.
  Handle ap(open_file(u"C:\\a.txt", FILE_APPEND_DATA, R | W));
  ASSERT_TRUE(ap.ok());
  ASSERT_TRUE(WriteFile(ap, "de", 2, &n, nullptr));
  EXPECT_EQ(get("a.txt"), "abcde");
  SetLastError(0);
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buf, 4, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Files, DeleteOnCloseAndNoBuffering) {
  {
    Handle h(open_file(u"C:\\tmp.bin", GR | GW, 0, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE));
    ASSERT_TRUE(h.ok());
    EXPECT_TRUE(fs::exists(c("tmp.bin")));
    // Delete-on-close takes delete access: others must share delete.
    EXPECT_EQ(open_file(u"C:\\tmp.bin", GR, R | W), INVALID_HANDLE_VALUE);
  }
  EXPECT_FALSE(fs::exists(c("tmp.bin")));

  Handle h(open_file(u"C:\\raw.bin", GR | GW, 0, CREATE_ALWAYS, FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(h.ok());
  std::string sector(512, 's');
  DWORD n = 0;
  SetLastError(0);
  EXPECT_FALSE(WriteFile(h, sector.data(), 500, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(WriteFile(h, sector.data(), 512, &n, nullptr));
  EXPECT_EQ(n, 512u);
  EXPECT_EQ(SetFilePointer(h, 100, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
}

TEST_F(Files, Times) {
  Handle h(open_file(u"C:\\t.txt", GR | GW, 0, CREATE_NEW));
  ASSERT_TRUE(h.ok());
  FILETIME created, accessed, written;
  ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
  EXPECT_GT(created.dwHighDateTime, 0x01D00000u);  // after 2014

  // 2001-02-03 04:05:06 UTC and 1999-12-31; a zero FILETIME changes nothing.
  FILETIME w = win32::filetime_from_unix_ns(981173106LL * 1000000000LL);
  FILETIME c = win32::filetime_from_unix_ns(946598400LL * 1000000000LL);
  FILETIME zero{0, 0};
  ASSERT_TRUE(SetFileTime(h, &c, &zero, &w));
  FILETIME c2, a2, w2;
  ASSERT_TRUE(GetFileTime(h, &c2, &a2, &w2));
  EXPECT_EQ(w2.dwLowDateTime, w.dwLowDateTime);
  EXPECT_EQ(w2.dwHighDateTime, w.dwHighDateTime);
  EXPECT_EQ(c2.dwLowDateTime, c.dwLowDateTime);
  EXPECT_EQ(a2.dwHighDateTime, accessed.dwHighDateTime);
  EXPECT_EQ(win32::unix_ns_from_filetime(w), 981173106LL * 1000000000LL);

  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_TRUE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(info.nNumberOfLinks, 1u);
  EXPECT_EQ(info.ftLastWriteTime.dwLowDateTime, w.dwLowDateTime);
  EXPECT_EQ(info.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(Files, DeviceControlsAreMissing) {
  Handle h(open_file(u"C:\\d.bin", GR | GW, 0, CREATE_NEW));
  DWORD n = 5;
  SetLastError(0);
  EXPECT_FALSE(DeviceIoControl(h, 0x9C040 /* set compression */, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(DeviceIoControl(h, 0x70000 /* disk geometry */, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(DeviceIoControl(nullptr, 0x900A4, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// Copies inside the kernel go from one file pointer to the other and move
// both; a lock of another handle stops them as it stops a read or a write;
// handles that must write their own way are left to ReadFile and WriteFile.
TEST_F(Files, CopyingFileDataBetweenHandles) {
  std::string data(3 * 1000003, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
  {
    Handle src(open_file(u"C:\\from.bin", GR | GW, 0, CREATE_NEW));
    ASSERT_TRUE(src.ok());
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(src, data.data(), static_cast<DWORD>(data.size()), &n, nullptr));
  }
  {
    Handle in(open_file(u"C:\\from.bin", GR, R));
    Handle out(open_file(u"C:\\to.bin", GW, 0, CREATE_NEW));
    ASSERT_TRUE(in.ok() && out.ok());
    ASSERT_EQ(SetFilePointer(in, 10, nullptr, FILE_BEGIN), 10u);
    DWORD got = 0;
    ASSERT_TRUE(win32::copy_file_data(in, out, 1000000, &got));
    EXPECT_EQ(got, 1000000u);
    std::uint64_t total = got;
    while (win32::copy_file_data(in, out, 1u << 20, &got) && got != 0) total += got;
    EXPECT_EQ(got, 0u);  // the end of the source
    EXPECT_EQ(total, data.size() - 10);
    EXPECT_EQ(SetFilePointer(in, 0, nullptr, FILE_CURRENT), data.size());
    EXPECT_EQ(SetFilePointer(out, 0, nullptr, FILE_CURRENT), data.size() - 10);

    // Another handle's lock on the source.
    Handle locker(open_file(u"C:\\from.bin", GR, R));
    ASSERT_TRUE(locker.ok());
    ASSERT_TRUE(lock(locker, 0, 100, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY));
    ASSERT_EQ(SetFilePointer(in, 50, nullptr, FILE_BEGIN), 50u);
    SetLastError(0);
    EXPECT_FALSE(win32::copy_file_data(in, out, 10, &got));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(SetFilePointer(in, 0, nullptr, FILE_CURRENT), 50u);
    ASSERT_TRUE(unlock(locker, 0, 100));

    // An append-only handle.
    Handle append(open_file(u"C:\\append.bin", FILE_APPEND_DATA, 0, CREATE_NEW));
    ASSERT_TRUE(append.ok());
    SetLastError(0);
    EXPECT_FALSE(win32::copy_file_data(in, append, 10, &got));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(SetFilePointer(in, 0, nullptr, FILE_CURRENT), 50u);
  }
  std::ifstream copy(c("to.bin"), std::ios::binary);
  std::string back((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(back == data.substr(10));
}

// A file opened again and again keeps its share record between handles; one
// opened once gives it up with its last handle. Either way another process
// meets the share mode while a handle is open, and nothing once it is closed.
TEST_F(Files, ShareModesAfterRepeatedAndSingleOpens) {
  ASSERT_TRUE(Handle(open_file(u"C:\\again.bin", GW, 0, CREATE_NEW)).ok());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Handle(open_file(u"C:\\again.bin", GR, R)).ok());
  for (const char16_t* name : {u"C:\\again.bin", u"C:\\once.bin"}) {
    {
      Handle h(open_file(name, GR | GW, 0, OPEN_ALWAYS));
      ASSERT_TRUE(h.ok());
      Child other([&] { return open_file(name, GR, R | W) == INVALID_HANDLE_VALUE &&
                               GetLastError() == ERROR_SHARING_VIOLATION; });
      EXPECT_TRUE(other.ok());
    }
    Child other([&] { return open_file(name, GR | GW, 0) != INVALID_HANDLE_VALUE; });
    EXPECT_TRUE(other.ok());
  }
}

TEST_F(Files, LaterHandlesOfAProcessHoldTheFileForOthers) {
  // A process that has had the file open before keeps a later handle's share
  // mode on the handle's own description (a write-only one: on the lock
  // table); another process and this one both see it, and its close frees it.
  struct Case {
    DWORD access, share, other_access, other_share;
    bool other_opens, deletable;
  } cases[] = {
      {GR, 0, GR, R | W | D, false, false},
      {GR, R | D, GR, R | W | D, true, true},
      {GR, R | D, GW, R | W | D, false, true},
      {GW, 0, GR, R | W | D, false, false},
      {GW, R | W, GR | GW, R | W, true, false},
      {GR | GW, R | W, GR | GW, R | W, true, false},
      {DELETE, R | W, GR, R | W | D, true, false},
      {DELETE, R | W | D, DELETE, R | W, false, true},
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.access) + "/" + std::to_string(c.share);
    put("h.txt", "data");
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(Handle(open_file(u"C:\\h.txt", GR, R | W | D)).ok()) << what;
    Handle held(open_file(u"C:\\h.txt", c.access, c.share));
    ASSERT_TRUE(held.ok()) << what;
    {
      SetLastError(0);
      Handle mine(open_file(u"C:\\h.txt", c.other_access, c.other_share));
      EXPECT_EQ(mine.ok(), c.other_opens) << what;
      if (!c.other_opens) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << what;
      }
    }
    Child other([&] {
      SetLastError(0);
      HANDLE h = open_file(u"C:\\h.txt", c.other_access, c.other_share);
      const bool opened = h != INVALID_HANDLE_VALUE;
      const bool refused_right = opened || GetLastError() == ERROR_SHARING_VIOLATION;
      if (opened) CloseHandle(h);
      const bool moved = MoveFileW(u"C:\\h.txt", u"C:\\h2.txt") != FALSE;
      const bool deleted = DeleteFileW(moved ? u"C:\\h2.txt" : u"C:\\h.txt") != FALSE;
      return opened == c.other_opens && refused_right && moved == c.deletable && deleted == c.deletable;
    });
    EXPECT_TRUE(other.ok()) << what;
  }
  // Closed, the handle holds nothing: another process opens without sharing.
  put("h.txt", "data");
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(Handle(open_file(u"C:\\h.txt", GR, R)).ok());
  ASSERT_TRUE(Handle(open_file(u"C:\\h.txt", GR, 0)).ok());
  Child other([] {
    HANDLE h = open_file(u"C:\\h.txt", GR | GW, 0);
    const bool opened = h != INVALID_HANDLE_VALUE;
    if (opened) CloseHandle(h);
    return opened && DeleteFileW(u"C:\\h.txt");
  });
  EXPECT_TRUE(other.ok());
}

TEST_F(Files, AProcessThatDiesHoldingTheLockTablesLeavesThemUsable) {
  put("g.txt", "data");
  ASSERT_TRUE(Handle(open_file(u"C:\\g.txt", GR, R)).ok());  // the tables exist
  pid_t pid = ::fork();
  if (pid == 0) {
    win32::sharing_hold_guards_for_tests();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  // Opening new files claims slots under the tables' guards.
  for (int i = 0; i < 40; ++i) {
    const std::u16string name = u"C:\\g" + win32::utf8_to_utf16(std::to_string(i)) + u".txt";
    Handle h(open_file(name.c_str(), GR | GW, 0, CREATE_NEW));
    EXPECT_TRUE(h.ok()) << i;
  }
  Child other([] { return open_file(u"C:\\g0.txt", GR, R) != INVALID_HANDLE_VALUE; });
  EXPECT_TRUE(other.ok());
}
