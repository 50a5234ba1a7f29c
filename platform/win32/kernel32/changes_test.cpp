#include "platform/win32/kernel32/changes.h"

#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32/testing/test_world.h"

namespace {

class Changes : public win32_test::World {};

constexpr DWORD kNames = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;

TEST_F(Changes, SignalledByAChangeAndQuietAfterFindNext) {
  std::filesystem::create_directories(c("watched"));
  HANDLE h = FindFirstChangeNotificationW(u"C:\\watched", FALSE, kNames);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WaitForSingleObject(h, 50), DWORD(WAIT_TIMEOUT));
  put("watched/a.txt", "1");
  EXPECT_EQ(WaitForSingleObject(h, 5000), DWORD(WAIT_OBJECT_0));
  // Waiting does not reset it.
  EXPECT_EQ(WaitForSingleObject(h, 0), DWORD(WAIT_OBJECT_0));
  // Let the events of that one change arrive, then re-arm: quiet again.
  Sleep(100);
  ASSERT_TRUE(FindNextChangeNotification(h));
  ASSERT_TRUE(FindNextChangeNotification(h));
  EXPECT_EQ(WaitForSingleObject(h, 100), DWORD(WAIT_TIMEOUT));
  ASSERT_TRUE(FindCloseChangeNotification(h));
  EXPECT_FALSE(FindNextChangeNotification(h));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(Changes, AChangeWhileSignalledIsKeptForTheNextRound) {
  std::filesystem::create_directories(c("w"));
  HANDLE h = FindFirstChangeNotificationW(u"C:\\w", FALSE, kNames);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  put("w/1", "");
  ASSERT_EQ(WaitForSingleObject(h, 5000), DWORD(WAIT_OBJECT_0));
  std::filesystem::create_directories(c("w/sub"));
  Sleep(100);
  ASSERT_TRUE(FindNextChangeNotification(h));
  EXPECT_EQ(WaitForSingleObject(h, 0), DWORD(WAIT_OBJECT_0));
  FindCloseChangeNotification(h);
}

TEST_F(Changes, FilterDecidesWhatCounts) {
  put("f/data.txt", "abc");
  HANDLE names = FindFirstChangeNotificationW(u"C:\\f", FALSE, FILE_NOTIFY_CHANGE_DIR_NAME);
  HANDLE writes = FindFirstChangeNotificationW(u"C:\\f", FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE);
  ASSERT_NE(names, INVALID_HANDLE_VALUE);
  ASSERT_NE(writes, INVALID_HANDLE_VALUE);
  put("f/data.txt", "abcdef");
  EXPECT_EQ(WaitForSingleObject(writes, 5000), DWORD(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(names, 100), DWORD(WAIT_TIMEOUT));
  std::filesystem::create_directories(c("f/new"));
  EXPECT_EQ(WaitForSingleObject(names, 5000), DWORD(WAIT_OBJECT_0));
  FindCloseChangeNotification(names);
  FindCloseChangeNotification(writes);
}

TEST_F(Changes, WaitsTogetherWithEventsAndOtherThreads) {
  std::filesystem::create_directories(c("t"));
  HANDLE h = FindFirstChangeNotificationW(u"C:\\t", FALSE, kNames);
  HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE both[2] = {ev, h};
  std::thread maker([this] {
    Sleep(50);
    put("t/made", "");
  });
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), DWORD(WAIT_OBJECT_0 + 1));
  maker.join();
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 50), DWORD(WAIT_TIMEOUT));
  SetEvent(ev);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 5000), DWORD(WAIT_OBJECT_0));
  CloseHandle(ev);
  FindCloseChangeNotification(h);
}

TEST_F(Changes, SubtreeWatchesTheFoldersBelow) {
  std::filesystem::create_directories(c("top/mid/low"));
  HANDLE flat = FindFirstChangeNotificationW(u"C:\\top", FALSE, kNames);
  HANDLE deep = FindFirstChangeNotificationW(u"C:\\top", TRUE, kNames);
  put("top/mid/low/x", "");
  EXPECT_EQ(WaitForSingleObject(deep, 5000), DWORD(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(flat, 100), DWORD(WAIT_TIMEOUT));
  FindCloseChangeNotification(flat);
  FindCloseChangeNotification(deep);
}

TEST_F(Changes, ClosingWhileChangesArriveNeverStallsTheReader) {
  // A handle closed while its folder's events are being read may leave the
  // reader holding the object's last reference.
  std::filesystem::create_directories(c("busy"));
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    for (int i = 0; !stop; ++i) put("busy/f" + std::to_string(i % 50), "x");
  });
  for (int i = 0; i < 2000; ++i) {
    HANDLE h = FindFirstChangeNotificationW(u"C:\\busy", FALSE, kNames | FILE_NOTIFY_CHANGE_LAST_WRITE);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    put("busy/mine", "x");
    FindCloseChangeNotification(h);
  }
  stop = true;
  churn.join();
  // The reader still serves new handles.
  HANDLE h = FindFirstChangeNotificationW(u"C:\\busy", FALSE, kNames);
  put("busy/last", "");
  EXPECT_EQ(WaitForSingleObject(h, 5000), DWORD(WAIT_OBJECT_0));
  FindCloseChangeNotification(h);
}

TEST_F(Changes, RefusedPaths) {
  put("file.txt", "");
  struct Case {
    const char16_t* path;
    DWORD filter;
    DWORD error;
  } cases[] = {
      {u"C:\\missing", kNames, ERROR_FILE_NOT_FOUND},
      {u"C:\\no\\such", kNames, ERROR_PATH_NOT_FOUND},
      {u"C:\\file.txt", kNames, ERROR_DIRECTORY},
      {u"C:\\", 0, ERROR_INVALID_PARAMETER},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(FindFirstChangeNotificationW(k.path, FALSE, k.filter), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), k.error);
  }
}

}  // namespace
