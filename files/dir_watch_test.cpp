#include "files/dir_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/fs_test_world.h"
#include "files/windows_dir.h"

namespace {

using fs_test::narrow;

class counting_callback : public change_callback {
 public:
  counting_callback() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  void changed(ri_dir* dir) override {
    {
      std::lock_guard<std::mutex> g(m_);
      paths_.push_back(narrow(dir->path()));
      thread_ = GetCurrentThreadId();
    }
    if (on_change) on_change(dir);
    ++calls;
    SetEvent(event_);
  }
  bool wait(DWORD ms = 5000) { return WaitForSingleObject(event_, ms) == WAIT_OBJECT_0; }
  std::string last_path() {
    std::lock_guard<std::mutex> g(m_);
    return paths_.empty() ? "" : paths_.back();
  }
  std::atomic<int> calls{0};
  std::function<void(ri_dir*)> on_change;

 protected:
  ~counting_callback() override { CloseHandle(event_); }

 private:
  HANDLE event_;
  std::mutex m_;
  std::vector<std::string> paths_;
  DWORD thread_ = 0;
};

struct callback_ref {
  void operator()(counting_callback* c) const { c->release(); }
};
using callback_ptr = std::unique_ptr<counting_callback, callback_ref>;

class DirWatch : public fs_test::World {
 protected:
  std::unique_ptr<win32_dir> open(const char* rel) {
    std::filesystem::create_directories(c(rel));
    std::u16string path = u"C:\\";
    for (const char* p = rel; *p; ++p) path += *p == '/' ? u'\\' : static_cast<char16_t>(*p);
    return std::unique_ptr<win32_dir>(root_dir()->open_dir_path(path.c_str()));
  }
  void TearDown() override {
    // Every test leaves no registration behind, so every waiting thread ends
    // (a callback in flight may hold the last one a moment longer).
    for (HANDLE h : watch_threads()) {
      EXPECT_EQ(WaitForSingleObject(h, 5000), DWORD(WAIT_OBJECT_0)) << "a waiting thread outlived its registrations";
      CloseHandle(h);
    }
    World::TearDown();
  }
};

TEST_F(DirWatch, OneCallPerRearm) {
  auto dir = open("watched");
  callback_ptr cb(new counting_callback);
  dir->watch(cb.get());
  ASSERT_TRUE(dir->Good()) << narrow(dir->error().text().c_str());
  ASSERT_NE(dir->watch_cookie(), 0u);

  put("watched/one.txt", "1");
  ASSERT_TRUE(cb->wait());
  EXPECT_EQ(cb->last_path(), "C:\\watched\\");
  put("watched/two.txt", "2");
  EXPECT_FALSE(cb->wait(300));
  EXPECT_EQ(cb->calls.load(), 1);

  // The change made while quiet is delivered after re-arming.
  dir->rearm_watch();
  ASSERT_TRUE(cb->wait());
  EXPECT_EQ(cb->calls.load(), 2);
  dir.reset();  // unregisters
}

TEST_F(DirWatch, AnotherCallbackReplacesTheFirstAndKeepsTheCookie) {
  auto dir = open("w");
  callback_ptr first(new counting_callback), second(new counting_callback);
  dir->watch(first.get());
  const std::uint32_t cookie = dir->watch_cookie();
  dir->watch(second.get());
  EXPECT_EQ(dir->watch_cookie(), cookie);
  put("w/x", "");
  ASSERT_TRUE(second->wait());
  EXPECT_EQ(first->calls.load(), 0);
  dir->watch(nullptr);
  EXPECT_EQ(dir->watch_cookie(), 0u);
  EXPECT_TRUE(dir->Good());
}

TEST_F(DirWatch, SixtyFourthRegistrationOpensASecondBlockAndTheLastOneEndsTheThreads) {
  callback_ptr cb(new counting_callback);
  std::vector<std::unique_ptr<win32_dir>> dirs;
  for (int i = 0; i < 64; ++i) {
    dirs.push_back(open(("d" + std::to_string(i)).c_str()));
    dirs.back()->watch(cb.get());
    ASSERT_EQ(dirs.back()->watch_cookie(), static_cast<std::uint32_t>(i + 1));
  }
  std::vector<HANDLE> threads = watch_threads();
  ASSERT_EQ(threads.size(), 2u);
  // The second block's thread serves the 64th folder.
  put("d63/x", "");
  ASSERT_TRUE(cb->wait());
  EXPECT_EQ(cb->last_path(), "C:\\d63\\");

  dirs.erase(dirs.begin() + 1, dirs.end());
  for (HANDLE h : threads) EXPECT_EQ(WaitForSingleObject(h, 0), DWORD(WAIT_TIMEOUT));
  dirs.clear();
  for (HANDLE h : threads) {
    EXPECT_EQ(WaitForSingleObject(h, 5000), DWORD(WAIT_OBJECT_0));
    CloseHandle(h);
  }
  EXPECT_TRUE(watch_threads().empty());

  // Registering again starts a new thread.
  auto again = open("again");
  again->watch(cb.get());
  EXPECT_EQ(again->watch_cookie(), 1u);
  std::vector<HANDLE> now = watch_threads();
  EXPECT_EQ(now.size(), 1u);
  for (HANDLE h : now) CloseHandle(h);
}

TEST_F(DirWatch, CallbackThatEndsItsOwnRegistration) {
  auto dir = open("self");
  callback_ptr cb(new counting_callback);
  std::atomic<std::uint32_t> cookie_seen{0};
  cb->on_change = [&](ri_dir* fresh) {
    auto* d = dynamic_cast<win32_dir*>(fresh);
    cookie_seen = d->watch_cookie();
    fresh->watch(nullptr);
  };
  dir->watch(cb.get());
  put("self/x", "");
  ASSERT_TRUE(cb->wait());
  EXPECT_EQ(cookie_seen.load(), dir->watch_cookie());
  // Still reserved for the registering object: no new change arrives, and
  // re-arming does nothing.
  dir->rearm_watch();
  put("self/y", "");
  EXPECT_FALSE(cb->wait(300));
  // The registering object's end frees the slot and the last thread.
  std::vector<HANDLE> threads = watch_threads();
  dir.reset();
  for (HANDLE h : threads) {
    EXPECT_EQ(WaitForSingleObject(h, 5000), DWORD(WAIT_OBJECT_0));
    CloseHandle(h);
  }
}

TEST_F(DirWatch, WatchingAgainAfterTheCallbackEndedTheRegistrationRegistersAfresh) {
  auto dir = open("again");
  callback_ptr cb(new counting_callback);
  cb->on_change = [](ri_dir* fresh) { fresh->watch(nullptr); };
  dir->watch(cb.get());
  put("again/x", "");
  ASSERT_TRUE(cb->wait());
  cb->on_change = nullptr;

  callback_ptr next(new counting_callback);
  dir->watch(next.get());
  ASSERT_TRUE(dir->Good()) << narrow(dir->error().text().c_str());
  ASSERT_NE(dir->watch_cookie(), 0u);
  put("again/y", "");
  ASSERT_TRUE(next->wait());
  EXPECT_EQ(next->last_path(), "C:\\again\\");
  dir.reset();
}

TEST_F(DirWatch, RefusedWatches) {
  callback_ptr cb(new counting_callback);
  // The computer level has no folder to watch.
  win32_dir* root = root_dir();
  root->watch(cb.get());
  EXPECT_EQ(root->error_code(), 0x40007u);
  root->clear_error();
  // A folder that does not exist.
  std::unique_ptr<win32_dir> missing(root_dir()->open_dir_path(u"C:\\nowhere"));
  missing->watch(cb.get());
  EXPECT_EQ(missing->error_code(), 0x40011u);
  EXPECT_STREQ(missing->error().narrowField("function"), "FindFirstChangeNotificationW");
  EXPECT_EQ(missing->watch_cookie(), 0u);
}

}  // namespace
