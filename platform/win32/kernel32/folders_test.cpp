// Names looked up ignoring case through the layer's cached folder listings,
// while the folder changes inside and outside the layer.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/kernel32/folders.h"
#include "platform/win32/kernel32/sharing.h"
#include "platform/win32/testing/test_world.h"

namespace fs = std::filesystem;

namespace {

class Listings : public win32_test::World {
 protected:
  // Found under another case? Fails with the last error otherwise.
  static bool found(const char16_t* name) { return GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES; }
  static DWORD missing_error(const char16_t* name) {
    SetLastError(0);
    return GetFileAttributesW(name) == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
  }
};

// Runs body in a child process and returns its exit status.
int in_child(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) _exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

HANDLE open_file(const char16_t* name, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
  return CreateFileW(name, access, share, nullptr, disposition, 0, nullptr);
}

}  // namespace

// Both where a change after a stat always gets a later time stamp and where a
// change may share the stamp of the one before (coarse clocks).
class Stamps : public Listings, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    Listings::SetUp();
    win32::folder_listings_assume_coarse_stamps(GetParam());
  }
  void TearDown() override {
    win32::folder_listings_assume_coarse_stamps(false);
    Listings::TearDown();
  }
};
INSTANTIATE_TEST_SUITE_P(FineAndCoarse, Stamps, ::testing::Values(false, true));

TEST_P(Stamps, ChangesMadeOutsideTheLayerAreSeenAtOnce) {
  put("Dir/a.txt", "a");
  ASSERT_TRUE(found(u"C:\\DIR\\A.TXT"));  // the folder's listing is read and kept
  // Each change follows a lookup at once, within the file system's time
  // granularity; many rounds give same-tick changes their chance.
  for (int i = 0; i < 200; ++i) {
    const std::string n = std::to_string(i);
    const std::u16string upper = u"C:\\DIR\\NEW" + win32::utf8_to_utf16(n) + u".TXT";
    const std::u16string renamed = u"C:\\dir\\renamed" + win32::utf8_to_utf16(n) + u".TXT";
    ASSERT_FALSE(found(upper.c_str()));
    put("Dir/New" + n + ".txt", "x");
    ASSERT_TRUE(found(upper.c_str())) << i;
    fs::rename(c("Dir/New" + n + ".txt"), c("Dir/Renamed" + n + ".txt"));
    ASSERT_TRUE(found(renamed.c_str())) << i;
    ASSERT_EQ(missing_error(upper.c_str()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << i;
    fs::remove(c("Dir/Renamed" + n + ".txt"));
    ASSERT_EQ(missing_error(renamed.c_str()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << i;
  }
  // A folder replaced by another of the same name.
  fs::remove_all(c("Dir"));
  put("Dir/b.txt", "b");
  EXPECT_EQ(missing_error(u"C:\\DIR\\A.TXT"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(found(u"C:\\DIR\\B.TXT"));
}

TEST_F(Listings, ChangesOfAnotherProcessAreSeenAtOnce) {
  put("Dir/a.txt", "a");
  ASSERT_TRUE(found(u"C:\\dir\\A.txt"));
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(in_child([] {
                HANDLE h = open_file(u"C:\\Dir\\Other.txt", GENERIC_WRITE, 0, CREATE_NEW);
                return h != INVALID_HANDLE_VALUE && CloseHandle(h) ? 0 : 1;
              }),
              0);
    ASSERT_TRUE(found(u"C:\\DIR\\OTHER.TXT")) << i;
    // A name made in another case now exists for this process too.
    SetLastError(0);
    EXPECT_EQ(open_file(u"C:\\Dir\\OTHER.txt", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    ASSERT_EQ(in_child([] { return MoveFileExW(u"C:\\dir\\other.TXT", u"C:\\Dir\\Moved.txt", 0) ? 0 : 1; }), 0);
    EXPECT_TRUE(found(u"C:\\dir\\MOVED.TXT")) << i;
    EXPECT_EQ(missing_error(u"C:\\DIR\\OTHER.TXT"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << i;
    ASSERT_EQ(in_child([] { return DeleteFileW(u"C:\\DIR\\moved.txt") ? 0 : 1; }), 0);
    EXPECT_EQ(missing_error(u"C:\\dir\\Moved.TXT"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << i;
  }
}

TEST_P(Stamps, TheLayersOwnChangesKeepTheListingCurrent) {
  put("Dir/a.txt", "a");
  ASSERT_TRUE(found(u"C:\\DIR\\A.TXT"));
  for (int i = 0; i < 50; ++i) {
    HANDLE h = open_file(u"C:\\Dir\\Made.txt", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    // Made by the layer, then one made beside it from outside at once.
    put("Dir/Outside.txt", "o");
    EXPECT_TRUE(found(u"C:\\DIR\\MADE.TXT")) << i;
    EXPECT_TRUE(found(u"C:\\DIR\\OUTSIDE.TXT")) << i;
    ASSERT_TRUE(MoveFileExW(u"C:\\dir\\MADE.txt", u"C:\\Dir\\Moved.txt", 0));
    EXPECT_TRUE(found(u"C:\\DIR\\MOVED.TXT")) << i;
    EXPECT_EQ(missing_error(u"C:\\DIR\\MADE.TXT"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << i;
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Dir\\Sub", nullptr));
    EXPECT_TRUE(found(u"C:\\DIR\\SUB")) << i;
    ASSERT_TRUE(RemoveDirectoryW(u"C:\\dir\\SUB"));
    EXPECT_EQ(missing_error(u"C:\\DIR\\SUB"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << i;
    ASSERT_TRUE(DeleteFileW(u"C:\\DIR\\moved.TXT"));
    EXPECT_EQ(missing_error(u"C:\\DIR\\MOVED.TXT"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << i;
    fs::remove(c("Dir/Outside.txt"));
    EXPECT_EQ(missing_error(u"C:\\DIR\\OUTSIDE.TXT"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << i;
  }
  // With several spellings on disk, the one given wins, else the smallest.
  put("Dir/NAME.txt", "1");
  put("Dir/Name.txt", "2");
  auto read = [](const char16_t* name) {
    HANDLE h = open_file(name, GENERIC_READ, FILE_SHARE_READ);
    char b[4] = {};
    DWORD n = 0;
    if (h != INVALID_HANDLE_VALUE) {
      ReadFile(h, b, sizeof b, &n, nullptr);
      CloseHandle(h);
    }
    return std::string(b, n);
  };
  EXPECT_EQ(read(u"C:\\dir\\Name.txt"), "2");
  EXPECT_EQ(read(u"C:\\dir\\NAME.txt"), "1");
  EXPECT_EQ(read(u"C:\\dir\\name.TXT"), "1");
}

// An extractor writing many files by itself tells the listing of them all at once.
TEST_P(Stamps, ManyNamesToldAtOnceAreFound) {
  put("Box/first.txt", "f");
  ASSERT_TRUE(found(u"C:\\BOX\\FIRST.TXT"));
  win32::FolderChange change(c("Box"));
  std::vector<std::string> names;
  for (int i = 0; i < 20; ++i) {
    names.push_back("Written" + std::to_string(i) + ".dat");
    put("Box/" + names.back(), "w");
  }
  change.done(names);
  for (int i = 0; i < 20; ++i) {
    std::string upper = "C:\\BOX\\WRITTEN" + std::to_string(i) + ".DAT";
    EXPECT_TRUE(found(std::u16string(upper.begin(), upper.end()).c_str())) << i;
  }
  EXPECT_TRUE(found(u"C:\\BOX\\FIRST.TXT"));
  EXPECT_EQ(missing_error(u"C:\\BOX\\WRITTEN20.DAT"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Processes that end without closing their handles leave their slots in the
// world's lock tables counted; the next process sweeps them at start-up, and
// their share modes and locks never outlive them.
TEST_F(Listings, WhatEndedProcessesLeftIsSweptAndHoldsNothing) {
  for (int i = 0; i < 5; ++i) put("f" + std::to_string(i), std::string(16, 'x'));
  ASSERT_EQ(in_child([] {
              for (int i = 0; i < 5; ++i) {
                std::u16string name = u"C:\\f" + win32::utf8_to_utf16(std::to_string(i));
                HANDLE h = open_file(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0);
                if (h == INVALID_HANDLE_VALUE || !LockFile(h, 0, 0, 8, 0)) return 1;
              }
              ::kill(::getpid(), SIGKILL);
              return 2;
            }) & 0x7f,
            SIGKILL);
  // A new process finds only its own slot in use once it has looked.
  EXPECT_EQ(in_child([] {
              HANDLE h = open_file(u"C:\\f0", GENERIC_READ, FILE_SHARE_READ);
              return h != INVALID_HANDLE_VALUE && win32::sharing_slots_in_use() == 1 ? 0 : 1;
            }),
            0);
  // Nothing the ended process held stands in the way.
  HANDLE h = open_file(u"C:\\f3", GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char b[16];
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(h, b, sizeof b, &n, nullptr));
  EXPECT_EQ(n, 16u);
  EXPECT_TRUE(LockFile(h, 0, 0, 8, 0));
  CloseHandle(h);
}

// More files than the process keeps idle records for: each one's share mode
// still holds when it is opened again.
TEST_F(Listings, ShareModesHoldAfterIdleRecordsAreGivenUp) {
  for (int i = 0; i < 150; ++i) {
    put("m" + std::to_string(i), "x");
    std::u16string name = u"C:\\m" + win32::utf8_to_utf16(std::to_string(i));
    HANDLE h = open_file(name.c_str(), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }
  HANDLE first = open_file(u"C:\\m0", GENERIC_READ, 0);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  SetLastError(0);
  EXPECT_EQ(open_file(u"C:\\m0", GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(in_child([] { return open_file(u"C:\\m0", GENERIC_READ, FILE_SHARE_READ) == INVALID_HANDLE_VALUE &&
                                         GetLastError() == ERROR_SHARING_VIOLATION
                                     ? 0
                                     : 1; }),
            0);
  CloseHandle(first);
  EXPECT_EQ(in_child([] { return open_file(u"C:\\m0", GENERIC_READ, 0) != INVALID_HANDLE_VALUE ? 0 : 1; }), 0);
}
