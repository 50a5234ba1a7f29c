#include "files/shell_watch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "files/dir_watch.h"
#include "files/fs_test_world.h"
#include "files/shell_dir.h"
#include "platform/win32/windows.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Records the folders it is told about, on the proxy thread.
class Recorder : public change_callback {
 public:
  std::function<void(win32_shell_dir*)> action;

  void changed(ri_dir* dir) override {
    auto* shell = dynamic_cast<win32_shell_dir*>(dir);
    ASSERT_NE(shell, nullptr);
    {
      std::lock_guard g(lock_);
      heard_.push_back(shell->absolute_list());
    }
    if (action) action(shell);
    std::lock_guard g(lock_);
    ++done_;
    cv_.notify_all();
  }
  // Waits up to 5 s for `n` completed calls.
  bool wait_calls(std::size_t n) {
    std::unique_lock g(lock_);
    return cv_.wait_for(g, std::chrono::seconds(5), [&] { return done_ >= n; });
  }
  std::vector<Bytes> heard() {
    std::lock_guard g(lock_);
    return heard_;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::vector<Bytes> heard_;
  std::size_t done_ = 0;
};

struct ReleaseCallback {
  void operator()(Recorder* r) const { r->release(); }
};
using RecorderPtr = std::unique_ptr<Recorder, ReleaseCallback>;

class ShellWatch : public fs_test::World {
 protected:
  void SetUp() override {
    fs_test::World::SetUp();
    ASSERT_NE(shell_root_dir(), nullptr);
    ASSERT_TRUE(shell_watch::nodes().empty()) << "a watch of an earlier test is left";
  }
  void TearDown() override {
    dirs_.clear();
    for (LPITEMIDLIST l : lists_) CoTaskMemFree(l);
    // A dispatch still ending on the proxy thread holds its node a moment longer.
    EXPECT_TRUE(until([] { return shell_watch::nodes().empty(); }));
    shell_watch::force_old_delivery(false);
    fs_test::World::TearDown();
  }

  LPITEMIDLIST parse(const char16_t* path) {
    LPITEMIDLIST l = nullptr;
    EXPECT_EQ(SHParseDisplayName(path, nullptr, &l, 0, nullptr), S_OK);
    if (l) lists_.push_back(l);
    return l;
  }
  // A shell directory of a folder on disk, made as the library makes them.
  win32_shell_dir* open(const char16_t* path) {
    std::filesystem::create_directories(to_unix(path));
    LPITEMIDLIST list = parse(path);
    IShellFolder* folder = nullptr;
    EXPECT_EQ(shell_dir::bind_shell_folder(shell_dir::desktop_folder(), list, &folder), S_OK);
    if (!folder) return nullptr;
    dirs_.emplace_back(new win32_shell_dir(folder, list, nullptr));
    return dirs_.back().get();
  }
  std::string to_unix(const char16_t* path) const {
    std::string rel;
    for (const char16_t* p = path + 3; *p; ++p) rel.push_back(*p == u'\\' ? '/' : static_cast<char>(*p));
    return c(rel);
  }
  static RecorderPtr recorder() { return RecorderPtr(new Recorder); }
  static Bytes bytes(const ITEMIDLIST* l) {
    auto p = reinterpret_cast<const unsigned char*>(l);
    return Bytes(p, p + ILGetSize(l));
  }
  static std::vector<std::uint32_t> ids() {
    std::vector<std::uint32_t> out;
    for (const auto& n : shell_watch::nodes()) out.push_back(n.message);
    return out;
  }
  // Polls the watch state until `done` holds (5 s at most).
  static bool until(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      if (done()) return true;
      Sleep(10);
    }
    return false;
  }
  static std::vector<std::pair<Bytes, bool>> pending() {
    auto n = shell_watch::nodes();
    return n.empty() ? std::vector<std::pair<Bytes, bool>>() : n.front().pending;
  }

  std::vector<std::unique_ptr<win32_shell_dir>> dirs_;
  std::vector<LPITEMIDLIST> lists_;
};

TEST_F(ShellWatch, CallbacksShareNodesAndFreedIdsAreGivenOutAgain) {
  auto a = recorder(), b = recorder(), c2 = recorder(), d = recorder();
  win32_shell_dir* one = open(u"C:\\w1");
  win32_shell_dir* two = open(u"C:\\w2");
  win32_shell_dir* three = open(u"C:\\w3");
  win32_shell_dir* four = open(u"C:\\w4");
  win32_shell_dir* five = open(u"C:\\w5");
  ASSERT_TRUE(one && two && three && four && five);

  one->watch(a.get());
  two->watch(a.get());
  ASSERT_TRUE(one->Good() && two->Good());
  EXPECT_NE(one->registration(), 0u);
  EXPECT_NE(two->registration(), 0u);
  EXPECT_NE(one->registration(), two->registration());
  auto nodes = shell_watch::nodes();
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].message, 1024u);
  EXPECT_EQ(nodes[0].count, 2);

  three->watch(b.get());
  four->watch(c2.get());
  EXPECT_EQ(ids(), (std::vector<std::uint32_t>{1024, 1025, 1026}));
  const std::uint32_t highest = shell_watch::highest_message();
  EXPECT_GE(highest, 1026u);

  three->watch(nullptr);
  EXPECT_TRUE(three->Good());
  EXPECT_EQ(three->registration(), 0u);
  EXPECT_EQ(ids(), (std::vector<std::uint32_t>{1024, 1026}));
  five->watch(d.get());
  EXPECT_EQ(ids(), (std::vector<std::uint32_t>{1024, 1025, 1026}));
  EXPECT_EQ(shell_watch::highest_message(), highest);

  // Moving a directory to another callback leaves its first node.
  two->watch(d.get());
  nodes = shell_watch::nodes();
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].count, 1);
  EXPECT_EQ(nodes[1].count, 2);
}

TEST_F(ShellWatch, WatchingAgainWithTheSameCallbackChangesNothing) {
  auto a = recorder();
  win32_shell_dir* dir = open(u"C:\\w");
  dir->watch(a.get());
  const unsigned long registration = dir->registration();
  ASSERT_NE(registration, 0u);
  dir->watch(a.get());
  EXPECT_TRUE(dir->Good());
  EXPECT_EQ(dir->registration(), registration);
  ASSERT_EQ(shell_watch::nodes().size(), 1u);
  EXPECT_EQ(shell_watch::nodes()[0].count, 1);
}

TEST_F(ShellWatch, AChangeReachesTheCallbackOnceUntilTheFolderIsReArmed) {
  auto a = recorder();
  win32_shell_dir* dir = open(u"C:\\w");
  dir->watch(a.get());
  ASSERT_TRUE(dir->Good());
  put("w/one.txt", "1");
  ASSERT_TRUE(a->wait_calls(1));
  ASSERT_EQ(a->heard().size(), 1u);
  EXPECT_TRUE(ILIsEqual(reinterpret_cast<const ITEMIDLIST*>(a->heard()[0].data()),
                        reinterpret_cast<const ITEMIDLIST*>(dir->absolute_list().data())));
  // Further changes merge into the taken entry.
  put("w/two.txt", "2");
  std::filesystem::create_directories(c("w/sub"));
  Sleep(300);
  EXPECT_EQ(a->heard().size(), 1u);
  ASSERT_EQ(pending().size(), 1u);
  EXPECT_TRUE(pending()[0].second);

  dir->rearm_watch();
  EXPECT_TRUE(pending().empty());
  put("w/three.txt", "3");
  EXPECT_TRUE(a->wait_calls(2));
}

TEST_F(ShellWatch, TheCallbackReArmsThroughTheDirectoryItIsGiven) {
  auto a = recorder();
  a->action = [](win32_shell_dir* d) { d->rearm_watch(); };
  win32_shell_dir* dir = open(u"C:\\w");
  dir->watch(a.get());
  put("w/1", "");
  ASSERT_TRUE(a->wait_calls(1));
  EXPECT_TRUE(until([] { return pending().empty(); }));
  Sleep(100);
  std::filesystem::create_directories(c("w/2"));
  EXPECT_TRUE(a->wait_calls(2));
}

TEST_F(ShellWatch, ADeletedFileQueuesItsOwnListWhichCannotBeBound) {
  put("w/gone.txt", "x");
  auto a = recorder();
  win32_shell_dir* dir = open(u"C:\\w");
  const Bytes file = bytes(parse(u"C:\\w\\gone.txt"));
  Sleep(100);
  dir->watch(a.get());
  ASSERT_EQ(::unlink(c("w/gone.txt").c_str()), 0);
  EXPECT_TRUE(until([&] {
    for (const auto& [list, taken] : pending())
      if (taken && ILIsEqual(reinterpret_cast<const ITEMIDLIST*>(list.data()),
                             reinterpret_cast<const ITEMIDLIST*>(file.data())))
        return true;
    return false;
  }));
  Sleep(100);
  EXPECT_TRUE(a->heard().empty());
  // The dispatch's count went back: only the directory holds the node.
  EXPECT_TRUE(until([] { return shell_watch::nodes()[0].count == 1; }));
}

// Notifications as the shell delivers them without the lock entry point:
// wParam the lists, lParam the event.
TEST_F(ShellWatch, OnlyKnownEventsOfKnownIdsQueueFolders) {
  shell_watch::force_old_delivery(true);
  auto a = recorder();
  win32_shell_dir* dir = open(u"C:\\w");
  win32_shell_dir* other = open(u"C:\\other");
  dir->watch(a.get());
  ASSERT_TRUE(dir->Good());
  const HWND proxy = shell_watch::proxy_window();
  ASSERT_NE(proxy, nullptr);
  const UINT id = shell_watch::nodes()[0].message;
  LPITEMIDLIST item[2] = {parse(u"C:\\other"), nullptr};
  auto send = [&](UINT message, LONG event) {
    return SendMessageW(proxy, message, reinterpret_cast<WPARAM>(item), static_cast<LPARAM>(event));
  };

  // Attributes (0x800) and others outside both lists: nothing queued.
  for (LONG event : {0x800L, 0x4000L, 0x40000L, 0x8000000L}) {
    EXPECT_EQ(send(id, event), 0);
    EXPECT_TRUE(pending().empty()) << std::hex << event;
  }
  // Above the highest id: the default procedure, nothing queued.
  EXPECT_EQ(send(shell_watch::highest_message() + 1, SHCNE_UPDATEDIR), 0);
  EXPECT_TRUE(pending().empty());
  EXPECT_EQ(a->heard().size(), 0u);

  // A folder event names the folder itself; an item event its parent.
  EXPECT_EQ(send(id, SHCNE_UPDATEDIR), 0);
  ASSERT_EQ(a->heard().size(), 1u);
  EXPECT_EQ(a->heard()[0], other->absolute_list());
  put("other/file.txt", "");
  item[0] = parse(u"C:\\other\\file.txt");
  EXPECT_EQ(send(id, SHCNE_CREATE), 0);  // the same folder, taken: no new entry
  EXPECT_EQ(a->heard().size(), 1u);
  EXPECT_EQ(pending().size(), 1u);
  other->watch(a.get());  // attached to the node, so that it can re-arm
  other->rearm_watch();
  EXPECT_EQ(send(id, SHCNE_CREATE), 0);
  ASSERT_EQ(a->heard().size(), 2u);
  EXPECT_EQ(a->heard()[1], other->absolute_list());
}

TEST_F(ShellWatch, ACallbackThatStopsItsOwnWatchDoesNotDeadlock) {
  auto a = recorder();
  win32_shell_dir* dir = open(u"C:\\w");
  a->action = [dir](win32_shell_dir*) { dir->watch(nullptr); };
  dir->watch(a.get());
  put("w/1", "");
  ASSERT_TRUE(a->wait_calls(1));
  EXPECT_TRUE(until([] { return shell_watch::nodes().empty(); }));
  EXPECT_EQ(dir->registration(), 0u);
  EXPECT_TRUE(dir->Good());
}

// The node holds the only reference of the callback, and the callback ends
// every watch of its node, the one it is given too: the node goes while the
// callback still runs, which must not end the callback under it.
TEST_F(ShellWatch, ACallbackWhoseNodeGoesWhileItRunsLivesToTheEndOfTheCall) {
  static std::atomic<int> gone{0};
  static std::atomic<bool> finished{false};
  gone = 0;
  finished = false;
  class Leaving : public change_callback {
   public:
    explicit Leaving(win32_shell_dir* dir) : dir_(dir) {}
    ~Leaving() override { gone = finished ? 1 : 2; }
    void changed(ri_dir* given) override {
      dir_->watch(nullptr);
      dynamic_cast<win32_shell_dir*>(given)->watch(nullptr);
      Sleep(20);
      finished = true;
    }

   private:
    win32_shell_dir* dir_;
  };
  win32_shell_dir* dir = open(u"C:\\w");
  auto* cb = new Leaving(dir);
  dir->watch(cb);
  cb->release();
  put("w/1", "");
  EXPECT_TRUE(until([] { return gone.load() != 0; }));
  EXPECT_EQ(gone.load(), 1) << "released before its call ended";
  EXPECT_TRUE(shell_watch::nodes().empty());
}

// A callback that runs a message loop on the proxy thread: a notification
// that arrives meanwhile is queued and handed over after the callback
// returns, never in a second, nested dispatch.
TEST_F(ShellWatch, ANotificationDuringACallbackWaitsForTheRunningDispatch) {
  auto a = recorder();
  win32_shell_dir* first = open(u"C:\\w1");
  win32_shell_dir* second = open(u"C:\\w2");
  static std::atomic<int> depth{0}, deepest{0};
  depth = deepest = 0;
  bool once = false;
  a->action = [&](win32_shell_dir*) {
    deepest = std::max(deepest.load(), ++depth);
    if (!once) {
      once = true;
      put("w2/x", "");
      Sleep(200);
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
    --depth;
  };
  first->watch(a.get());
  second->watch(a.get());
  put("w1/x", "");
  ASSERT_TRUE(a->wait_calls(2));
  EXPECT_EQ(deepest.load(), 1);
  const auto heard = a->heard();
  EXPECT_EQ(heard[0], first->absolute_list());
  EXPECT_EQ(heard[1], second->absolute_list());
}

TEST_F(ShellWatch, DestroyingAWatchingDirectoryEndsItsWatch) {
  auto a = recorder();
  win32_shell_dir* dir = open(u"C:\\w");
  dir->watch(a.get());
  const unsigned long registration = dir->registration();
  ASSERT_NE(registration, 0u);
  dirs_.clear();
  EXPECT_TRUE(shell_watch::nodes().empty());
  EXPECT_FALSE(SHChangeNotifyDeregister(registration));
}

}  // namespace
