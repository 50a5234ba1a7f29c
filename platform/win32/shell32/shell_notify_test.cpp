#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/shell32/shell_notify.h"
#include "platform/win32/shell32/shobj.h"
#include "platform/win32/testing/test_world.h"
#include "platform/win32/windows.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr UINT kMsg = WM_USER + 77;
constexpr UINT kOtherMsg = WM_USER + 78;

struct Heard {
  UINT message;
  LONG event;
  Bytes first, second;
};

Bytes bytes_of(LPCITEMIDLIST l) {
  if (!l) return {};
  auto p = reinterpret_cast<const unsigned char*>(l);
  return Bytes(p, p + ILGetSize(l));
}

// What the test window does with a notification of new delivery.
struct Handling {
  bool new_delivery = true;
  bool lock = true;
  bool unlock = true;
};

Handling g_handling;
std::vector<Heard> g_heard;
std::vector<HANDLE> g_kept_locks;

LRESULT CALLBACK notify_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m != kMsg && m != kOtherMsg) return DefWindowProcW(h, m, w, l);
  if (!g_handling.new_delivery) {
    auto lists = reinterpret_cast<LPITEMIDLIST*>(w);
    g_heard.push_back({m, static_cast<LONG>(l), bytes_of(lists[0]), bytes_of(lists[1])});
    return 0;
  }
  if (!g_handling.lock) return 0;
  LPITEMIDLIST* lists = nullptr;
  LONG event = 0;
  HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(w), static_cast<DWORD>(l), &lists, &event);
  if (!lock) {
    ADD_FAILURE() << "lock";
    return 0;
  }
  g_heard.push_back({m, event, bytes_of(lists[0]), bytes_of(lists[1])});
  if (g_handling.unlock)
    EXPECT_TRUE(SHChangeNotification_Unlock(lock));
  else
    g_kept_locks.push_back(lock);
  return 0;
}

class ShellNotify : public win32_test::World {
 protected:
  ShellNotify() : World("shnotify-") {}
  void SetUp() override {
    World::SetUp();
    g_handling = {};
    g_heard.clear();
    static bool registered = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = notify_proc;
      wc.lpszClassName = u"KvShellNotifyTest";
      return RegisterClassW(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    window_ = CreateWindowExW(0, u"KvShellNotifyTest", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    for (ULONG r : regs_) SHChangeNotifyDeregister(r);
    for (HANDLE l : g_kept_locks) SHChangeNotification_Unlock(l);
    g_kept_locks.clear();
    if (IsWindow(window_)) DestroyWindow(window_);
    for (LPITEMIDLIST l : lists_) CoTaskMemFree(l);
    World::TearDown();
  }

  LPITEMIDLIST parse(const char16_t* path) {
    LPITEMIDLIST l = nullptr;
    EXPECT_EQ(SHParseDisplayName(path, nullptr, &l, 0, nullptr), S_OK);
    if (l) lists_.push_back(l);
    return l;
  }
  ULONG watch(const char16_t* path, bool new_delivery, LONG events = SHCNE_ALLEVENTS, UINT message = kMsg) {
    SHChangeNotifyEntry e{parse(path), FALSE};
    const int sources = SHCNRF_InterruptLevel | SHCNRF_ShellLevel | (new_delivery ? SHCNRF_NewDelivery : 0);
    ULONG r = SHChangeNotifyRegister(window_, sources, events, message, 1, &e);
    EXPECT_NE(r, 0u);
    if (r) regs_.push_back(r);
    return r;
  }
  // Dispatches the window's messages until `done` holds or 5 s pass.
  bool pump_until(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
      if (done()) return true;
      Sleep(10);
    }
    return false;
  }
  void pump_for(DWORD ms) {
    for (DWORD t = 0; t < ms; t += 10) {
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
      Sleep(10);
    }
  }
  static bool same(const Bytes& a, LPCITEMIDLIST b) {
    if (!b) return a.empty();
    return !a.empty() && ILIsEqual(reinterpret_cast<LPCITEMIDLIST>(a.data()), b);
  }
  bool heard(LONG event, LPCITEMIDLIST first, LPCITEMIDLIST second = nullptr, UINT message = kMsg) const {
    for (const Heard& h : g_heard)
      if (h.message == message && h.event == event && same(h.first, first) && same(h.second, second)) return true;
    return false;
  }
  bool heard_event(LONG event) const {
    for (const Heard& h : g_heard)
      if (h.event == event) return true;
    return false;
  }

  HWND window_ = nullptr;
  std::vector<ULONG> regs_;
  std::vector<LPITEMIDLIST> lists_;
};

TEST_F(ShellNotify, EachChangeCarriesItsEventAndItems) {
  for (bool new_delivery : {true, false}) {
    SCOPED_TRACE(new_delivery ? "new delivery" : "lists in wParam");
    std::filesystem::remove_all(c("w"));
    std::filesystem::create_directories(c("w"));
    g_handling.new_delivery = new_delivery;
    g_heard.clear();
    const ULONG reg = watch(u"C:\\w", new_delivery);

    struct Step {
      const char* what;
      std::function<void()> act;
      LONG event;
      const char16_t* first;  // parsed before the step when the item goes away
      const char16_t* second;
      bool parse_first_after;
    };
    const std::string w = c("w");
    const Step steps[] = {
        {"create", [&] { put("w/a.txt", "1"); }, SHCNE_CREATE, u"C:\\w\\a.txt", nullptr, true},
        {"mkdir", [&] { ::mkdir((w + "/d").c_str(), 0755); }, SHCNE_MKDIR, u"C:\\w\\d", nullptr, true},
        {"rename item", [&] { std::rename((w + "/a.txt").c_str(), (w + "/b.txt").c_str()); }, SHCNE_RENAMEITEM,
         u"C:\\w\\a.txt", u"C:\\w\\b.txt", false},
        {"rename folder", [&] { std::rename((w + "/d").c_str(), (w + "/e").c_str()); }, SHCNE_RENAMEFOLDER,
         u"C:\\w\\d", u"C:\\w\\e", false},
        {"update item", [&] { put("w/b.txt", "changed"); }, SHCNE_UPDATEITEM, u"C:\\w\\b.txt", nullptr, false},
        {"delete", [&] { ::unlink((w + "/b.txt").c_str()); }, SHCNE_DELETE, u"C:\\w\\b.txt", nullptr, false},
        {"rmdir", [&] { ::rmdir((w + "/e").c_str()); }, SHCNE_RMDIR, u"C:\\w\\e", nullptr, false},
        {"update dir", [&] { ::chmod(w.c_str(), 0700); }, SHCNE_UPDATEDIR, u"C:\\w", nullptr, false},
    };
    for (const Step& s : steps) {
      SCOPED_TRACE(s.what);
      g_heard.clear();
      // Old names no longer parse once gone; new ones only once made. The
      // lists are built from the names: parse what exists, and make the
      // vanished ones by hand from their folder.
      LPITEMIDLIST first = nullptr, second = nullptr;
      if (!s.parse_first_after) first = parse(s.first);
      s.act();
      if (s.parse_first_after) first = parse(s.first);
      if (s.second) second = parse(s.second);
      ASSERT_NE(first, nullptr);
      EXPECT_TRUE(pump_until([&] { return heard(s.event, first, second); }));
      pump_for(50);
      // A rename is one event, not a delete and a create.
      if (s.event == SHCNE_RENAMEITEM || s.event == SHCNE_RENAMEFOLDER) {
        EXPECT_FALSE(heard_event(SHCNE_DELETE) || heard_event(SHCNE_RMDIR));
        EXPECT_FALSE(heard_event(SHCNE_CREATE) || heard_event(SHCNE_MKDIR));
      }
    }
    EXPECT_TRUE(SHChangeNotifyDeregister(reg));
    regs_.clear();
  }
}

TEST_F(ShellNotify, MovesBetweenWatchedFoldersAreRenamesAndMovesOutAreDeletes) {
  std::filesystem::create_directories(c("a"));
  std::filesystem::create_directories(c("b"));
  std::filesystem::create_directories(c("away"));
  put("a/x", "1");
  put("a/y", "1");
  SHChangeNotifyEntry entries[] = {{parse(u"C:\\a"), FALSE}, {parse(u"C:\\b"), FALSE}};
  const ULONG reg = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_NewDelivery, SHCNE_ALLEVENTS, kMsg,
                                           2, entries);
  ASSERT_NE(reg, 0u);
  regs_.push_back(reg);
  LPITEMIDLIST ax = parse(u"C:\\a\\x"), ay = parse(u"C:\\a\\y");
  std::rename(c("a/x").c_str(), c("b/x").c_str());
  LPITEMIDLIST bx = parse(u"C:\\b\\x");
  EXPECT_TRUE(pump_until([&] { return heard(SHCNE_RENAMEITEM, ax, bx); }));
  std::rename(c("a/y").c_str(), c("away/y").c_str());
  EXPECT_TRUE(pump_until([&] { return heard(SHCNE_DELETE, ay); }));
}

TEST_F(ShellNotify, OnlyTheAskedEventsArePosted) {
  std::filesystem::create_directories(c("w"));
  watch(u"C:\\w", true, SHCNE_MKDIR);
  put("w/file", "1");
  std::filesystem::create_directories(c("w/sub"));
  EXPECT_TRUE(pump_until([&] { return heard(SHCNE_MKDIR, parse(u"C:\\w\\sub")); }));
  pump_for(50);
  for (const Heard& h : g_heard) EXPECT_EQ(h.event, SHCNE_MKDIR);
}

TEST_F(ShellNotify, RegistrationsAreIndependent) {
  std::filesystem::create_directories(c("w"));
  const ULONG one = watch(u"C:\\w", true, SHCNE_ALLEVENTS, kMsg);
  const ULONG two = watch(u"C:\\w", true, SHCNE_ALLEVENTS, kOtherMsg);
  ASSERT_NE(one, two);
  put("w/1", "");
  LPITEMIDLIST first = parse(u"C:\\w\\1");
  EXPECT_TRUE(pump_until([&] {
    return heard(SHCNE_CREATE, first, nullptr, kMsg) && heard(SHCNE_CREATE, first, nullptr, kOtherMsg);
  }));
  EXPECT_TRUE(SHChangeNotifyDeregister(one));
  EXPECT_FALSE(SHChangeNotifyDeregister(one));
  EXPECT_FALSE(SHChangeNotifyDeregister(0x7FFFFFF0));
  pump_for(50);
  g_heard.clear();
  put("w/2", "");
  LPITEMIDLIST second = parse(u"C:\\w\\2");
  EXPECT_TRUE(pump_until([&] { return heard(SHCNE_CREATE, second, nullptr, kOtherMsg); }));
  pump_for(50);
  EXPECT_FALSE(heard(SHCNE_CREATE, second, nullptr, kMsg));
}

TEST_F(ShellNotify, RegisteringChecksWindowAndEntries) {
  std::filesystem::create_directories(c("w"));
  SHChangeNotifyEntry e{parse(u"C:\\w"), FALSE};
  EXPECT_EQ(SHChangeNotifyRegister(nullptr, SHCNRF_ShellLevel, SHCNE_ALLEVENTS, kMsg, 1, &e), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(SHChangeNotifyRegister(window_, SHCNRF_ShellLevel, SHCNE_ALLEVENTS, kMsg, 0, &e), 0u);
  // A folder without a file-system path is accepted and stays quiet.
  SHChangeNotifyEntry computer{parse(u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"), FALSE};
  const ULONG r = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel, SHCNE_ALLEVENTS, kMsg, 1, &computer);
  EXPECT_NE(r, 0u);
  EXPECT_TRUE(SHChangeNotifyDeregister(r));
}

// The lists of a notice live until its unlock, or until its message has been
// handled when nobody locked it: a window that never locks leaks nothing.
TEST_F(ShellNotify, NoticesLiveUntilUnlockOrUntilTheirMessageIsDone) {
  std::filesystem::create_directories(c("w"));
  ASSERT_EQ(win32::live_shell_notices(), 0u);
  watch(u"C:\\w", true);
  auto settle = [] { Sleep(150); };

  // Handled without a lock.
  g_handling.lock = false;
  ::mkdir(c("w/d1").c_str(), 0755);
  settle();
  EXPECT_EQ(win32::live_shell_notices(), 1u);
  pump_for(30);
  EXPECT_EQ(win32::live_shell_notices(), 0u);

  // Taken but never dispatched: done when the thread takes its next message.
  ::mkdir(c("w/d2").c_str(), 0755);
  settle();
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, window_, kMsg, kMsg, PM_REMOVE));
  EXPECT_EQ(win32::live_shell_notices(), 1u);
  PostMessageW(window_, WM_USER + 5, 0, 0);
  ASSERT_TRUE(PeekMessageW(&m, window_, WM_USER + 5, WM_USER + 5, PM_REMOVE));
  EXPECT_EQ(win32::live_shell_notices(), 0u);

  // Locked and kept: lives past its handling until the unlock, which works once.
  g_handling = {true, true, false};
  ::mkdir(c("w/d3").c_str(), 0755);
  EXPECT_TRUE(pump_until([] { return !g_kept_locks.empty(); }));
  pump_for(30);
  EXPECT_EQ(win32::live_shell_notices(), 1u);
  ASSERT_EQ(g_kept_locks.size(), 1u);
  EXPECT_TRUE(SHChangeNotification_Unlock(g_kept_locks[0]));
  EXPECT_FALSE(SHChangeNotification_Unlock(g_kept_locks[0]));
  g_kept_locks.clear();
  EXPECT_EQ(win32::live_shell_notices(), 0u);

  // Never taken: the window goes, and its queued notices with it.
  ::mkdir(c("w/d4").c_str(), 0755);
  ::mkdir(c("w/d5").c_str(), 0755);
  settle();
  EXPECT_EQ(win32::live_shell_notices(), 2u);
  DestroyWindow(window_);
  EXPECT_EQ(win32::live_shell_notices(), 0u);
}

TEST_F(ShellNotify, LockRefusesAnotherProcessOrAnUnknownHandle) {
  LPITEMIDLIST* lists = nullptr;
  LONG event = 0;
  EXPECT_EQ(SHChangeNotification_Lock(reinterpret_cast<HANDLE>(1), GetCurrentProcessId(), &lists, &event), nullptr);
  std::filesystem::create_directories(c("w"));
  watch(u"C:\\w", true);
  g_handling.lock = false;
  ::mkdir(c("w/d").c_str(), 0755);
  Sleep(150);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, window_, kMsg, kMsg, PM_REMOVE));
  EXPECT_EQ(m.lParam, static_cast<LPARAM>(GetCurrentProcessId()));
  EXPECT_EQ(SHChangeNotification_Lock(reinterpret_cast<HANDLE>(m.wParam), GetCurrentProcessId() + 1, &lists, &event),
            nullptr);
  HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(m.wParam), GetCurrentProcessId(), &lists, &event);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(event, SHCNE_MKDIR);
  EXPECT_TRUE(ILIsEqual(lists[0], parse(u"C:\\w\\d")));
  EXPECT_EQ(lists[1], nullptr);
  EXPECT_TRUE(SHChangeNotification_Unlock(lock));
}

TEST_F(ShellNotify, Shell32HandsOutTheEntryPoints) {
  HMODULE shell32 = GetModuleHandleA("shell32");
  ASSERT_NE(shell32, nullptr);
  auto at = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(shell32, name)); };
  EXPECT_EQ(at(reinterpret_cast<LPCSTR>(2)), reinterpret_cast<void*>(&SHChangeNotifyRegister));
  EXPECT_EQ(at(reinterpret_cast<LPCSTR>(4)), reinterpret_cast<void*>(&SHChangeNotifyDeregister));
  EXPECT_EQ(at("SHChangeNotification_Lock"), reinterpret_cast<void*>(&SHChangeNotification_Lock));
  EXPECT_EQ(at("SHChangeNotification_Unlock"), reinterpret_cast<void*>(&SHChangeNotification_Unlock));
}

}  // namespace
