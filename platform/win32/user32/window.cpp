#include "platform/win32/user32/window.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <thread>
#include <vector>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/kernel32/thread.h"
#include "platform/win32/kernel32/wintime.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Class {
  std::u16string name;
  ATOM atom = 0;
  HINSTANCE instance = nullptr;
  UINT style = 0;
  WNDPROC proc = nullptr;
  int class_extra = 0;
  int window_extra = 0;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH brush = nullptr;
  std::u16string menu;
  std::string name_ansi, menu_ansi;  // what GetClassInfoA hands out
  bool ansi = false;
  int windows = 0;
};

struct Window {
  HWND hwnd = nullptr;
  std::shared_ptr<Class> cls;
  WNDPROC proc = nullptr;
  bool ansi = false;
  DWORD thread = 0;
  HWND parent = nullptr;
  bool message_only = false;
  bool destroying = false;
  HINSTANCE instance = nullptr;
  LONG_PTR user_data = 0;
  LONG_PTR id = 0;
  LONG_PTR style = 0;
  LONG_PTR ex_style = 0;
  std::vector<unsigned char> extra;
};

struct Sent {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT elapse;
  TIMERPROC proc;
  Clock::time_point due;
};

// A posted message whose parameters own memory (post_message_with_release).
struct Owned {
  MSG msg;
  void (*release)(void*);
  void* context;
  enum { Queued, Taken, Dispatching } state = Queued;
};
bool same_message(const MSG& a, const MSG& b) {
  return a.hwnd == b.hwnd && a.message == b.message && a.wParam == b.wParam && a.lParam == b.lParam;
}

struct Queue {
  DWORD thread = 0;
  std::deque<MSG> posted;
  std::vector<Owned> owned;
  std::deque<std::shared_ptr<Sent>> sent;
  std::vector<Timer> timers;
  bool quit = false;
  int quit_code = 0;
  // Called on the posting or sending thread after a message was queued, so a
  // thread that waits elsewhere (the toolkit's event loop) can wake up.
  void (*wake)(void*) = nullptr;
  void* wake_context = nullptr;
};

struct Wake {
  void (*fn)(void*) = nullptr;
  void* context = nullptr;
  void operator()() const {
    if (fn) fn(context);
  }
};
Wake wake_of(const Queue& q) { return Wake{q.wake, q.wake_context}; }

// One lock and one condition for the whole window world; procedures are
// always called without it. Windows of another process (reached through the
// runtime folder) and the toolkit's visible windows are meant to join the
// table as further kinds of Window, so that the calls above serve them too. Never destroyed: threads may still leave after
// the process's statics are gone.
struct World {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<HWND, std::shared_ptr<Window>> windows;
  std::vector<std::shared_ptr<Class>> classes;
  std::map<DWORD, std::shared_ptr<Queue>> queues;
  ULONG_PTR next_handle = 0x20000;
  ATOM next_atom = 0xC000;
  UINT_PTR next_timer = 1;
};
World& world() {
  static World* w = new World;
  return *w;
}

void drop_queue(DWORD thread);

// Owned messages are retired under the world lock and released once it is left.
using Retired = std::vector<Owned>;
void run_releases(Retired& due) {
  for (Owned& o : due) o.release(o.context);
  due.clear();
}
// Lock held: moves the owned messages that `drop` picks to `out`.
template <class Pred>
void retire_locked(Queue& q, Pred drop, Retired& out) {
  for (auto it = q.owned.begin(); it != q.owned.end();) {
    if (drop(*it)) {
      out.push_back(*it);
      it = q.owned.erase(it);
    } else {
      ++it;
    }
  }
}

// Removes the thread's queue and windows when the thread ends.
struct QueueOwner {
  DWORD thread = 0;
  Queue* queue = nullptr;  // kept alive by the world's table until the thread ends
  bool ended = false;
  ~QueueOwner() {
    queue = nullptr;
    ended = true;
    if (thread) drop_queue(thread);
  }
};
thread_local QueueOwner t_queue_owner;

// The calling thread's queue, made on first use. Lock held.
Queue& own_queue_locked() {
  if (t_queue_owner.queue) return *t_queue_owner.queue;
  World& w = world();
  const DWORD me = GetCurrentThreadId();
  if (t_queue_owner.ended) {  // exit-time code after the thread's own clean-up
    auto it = w.queues.find(me);
    if (it != w.queues.end()) return *it->second;
  }
  auto q = std::make_shared<Queue>();
  q->thread = me;
  w.queues[me] = q;
  if (!t_queue_owner.ended) {
    t_queue_owner.thread = me;
    t_queue_owner.queue = q.get();
  }
  return *q;
}

void drop_queue(DWORD thread) {
  World& w = world();
  Retired retired;
  std::unique_lock lock(w.mutex);
  auto it = w.queues.find(thread);
  if (it == w.queues.end()) return;
  for (auto& s : it->second->sent) s->done = true;  // senders stop waiting
  retire_locked(*it->second, [](const Owned&) { return true; }, retired);
  w.queues.erase(it);
  for (auto i = w.windows.begin(); i != w.windows.end();) {
    if (i->second->thread == thread) {
      i->second->cls->windows--;
      i = w.windows.erase(i);
    } else {
      ++i;
    }
  }
  w.changed.notify_all();
  lock.unlock();
  run_releases(retired);
}

std::shared_ptr<Window> find_locked(HWND hwnd) {
  World& w = world();
  auto it = w.windows.find(hwnd);
  return it == w.windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> find(HWND hwnd) {
  std::lock_guard lock(world().mutex);
  return find_locked(hwnd);
}

bool is_atom(const void* name) { return reinterpret_cast<ULONG_PTR>(name) < 0x10000; }

std::u16string upper(std::u16string s) {
  for (char16_t& c : s) c = win32::upcase(c);
  return s;
}

std::u16string widen(LPCSTR s) {
  if (!s) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  std::u16string out(n > 0 ? n : 0, 0);
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, s, -1, out.data(), n);
  if (!out.empty()) out.pop_back();
  return out;
}

std::string narrow(const std::u16string& s) {
  const int n = WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, 0);
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, out.data(), n, nullptr, nullptr);
  if (!out.empty()) out.pop_back();
  return out;
}

// A class name argument: an atom or a text.
struct ClassKey {
  ATOM atom = 0;
  std::u16string name;
};
ClassKey key_of(LPCWSTR name) {
  if (is_atom(name)) return {static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name)), {}};
  return {0, upper(name)};
}
ClassKey key_of(LPCSTR name) {
  if (is_atom(name)) return {static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name)), {}};
  return {0, upper(widen(name))};
}

// A null instance means the program's module.
HINSTANCE module_of(HINSTANCE instance) { return instance ? instance : GetModuleHandleW(nullptr); }

std::shared_ptr<Class> class_locked(const ClassKey& key, HINSTANCE instance) {
  for (auto& c : world().classes) {
    if (c->instance != module_of(instance)) continue;
    if (key.atom ? c->atom == key.atom : upper(c->name) == key.name) return c;
  }
  return nullptr;
}

ATOM register_class(const WNDCLASSW& wc, bool ansi, const char* ansi_name, const char* ansi_menu) {
  if (!wc.lpszClassName || !wc.lpfnWndProc || wc.cbClsExtra < 0 || wc.cbWndExtra < 0 ||
      is_atom(wc.lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  World& w = world();
  std::lock_guard lock(w.mutex);
  if (class_locked(key_of(wc.lpszClassName), wc.hInstance)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto c = std::make_shared<Class>();
  c->name = wc.lpszClassName;
  c->atom = w.next_atom++;
  c->instance = module_of(wc.hInstance);
  c->style = wc.style;
  c->proc = wc.lpfnWndProc;
  c->class_extra = wc.cbClsExtra;
  c->window_extra = wc.cbWndExtra;
  c->icon = wc.hIcon;
  c->cursor = wc.hCursor;
  c->brush = wc.hbrBackground;
  if (wc.lpszMenuName && !is_atom(wc.lpszMenuName)) c->menu = wc.lpszMenuName;
  c->ansi = ansi;
  c->name_ansi = ansi_name ? ansi_name : narrow(c->name);
  c->menu_ansi = ansi_menu ? ansi_menu : narrow(c->menu);
  w.classes.push_back(c);
  return c->atom;
}

bool unregister_class(const ClassKey& key, HINSTANCE instance) {
  World& w = world();
  std::lock_guard lock(w.mutex);
  auto c = class_locked(key, instance);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return false;
  }
  if (c->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return false;
  }
  std::erase(w.classes, c);
  return true;
}

template <class WC>
void fill_class(const Class& c, WC& out) {
  out.style = c.style;
  out.lpfnWndProc = c.proc;
  out.cbClsExtra = c.class_extra;
  out.cbWndExtra = c.window_extra;
  out.hInstance = c.instance;
  out.hIcon = c.icon;
  out.hCursor = c.cursor;
  out.hbrBackground = c.brush;
}

LRESULT call(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

LRESULT call_window(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Window> win = find(hwnd);
  if (!win) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return call(win->proc, hwnd, message, wParam, lParam);
}

// Handles every message sent to the calling thread so far.
void handle_sent() {
  World& w = world();
  for (;;) {
    std::shared_ptr<Sent> s;
    {
      std::lock_guard lock(w.mutex);
      Queue& q = own_queue_locked();
      if (q.sent.empty()) return;
      s = q.sent.front();
      q.sent.pop_front();
    }
    const LRESULT r = call_window(s->hwnd, s->message, s->wParam, s->lParam);
    std::lock_guard lock(w.mutex);
    s->result = r;
    s->done = true;
    w.changed.notify_all();
  }
}

// Sends to one window. wait: 0 no wait, else the longest wait in ms (or ~0u).
bool send_one(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT wait, LRESULT* result) {
  World& w = world();
  std::shared_ptr<Sent> s;
  Wake wake;
  {
    std::unique_lock lock(w.mutex);
    std::shared_ptr<Window> win = find_locked(hwnd);
    if (!win) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (win->thread != GetCurrentThreadId()) {
      auto q = w.queues.find(win->thread);
      if (q == w.queues.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
      }
      s = std::make_shared<Sent>(Sent{hwnd, message, wParam, lParam});
      q->second->sent.push_back(s);
      wake = wake_of(*q->second);
      w.changed.notify_all();
    }
  }
  wake();
  if (!s) {
    const LRESULT r = call_window(hwnd, message, wParam, lParam);
    if (result) *result = r;
    return true;
  }
  if (!wait) return true;
  const auto deadline = wait == ~0u ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(wait);
  for (;;) {
    handle_sent();  // messages sent to us meanwhile, so two threads can send to each other
    std::unique_lock lock(w.mutex);
    if (s->done) {
      if (result) *result = s->result;
      return true;
    }
    if (!own_queue_locked().sent.empty()) continue;
    if (deadline == Clock::time_point::max()) {
      w.changed.wait(lock);
    } else if (w.changed.wait_until(lock, deadline) == std::cv_status::timeout && !s->done) {
      // Abandoned: take it back unless the receiver already has it.
      auto q = w.queues.find(find_locked(hwnd) ? find_locked(hwnd)->thread : 0);
      if (q != w.queues.end()) std::erase(q->second->sent, s);
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
  }
}

bool is_remote(HWND h);
HWND local_handle(ULONG_PTR counter);
bool send_remote(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
void ensure_listener();

// Top-level windows of every thread: those that receive broadcasts.
std::vector<HWND> top_level() {
  std::lock_guard lock(world().mutex);
  std::vector<HWND> out;
  for (auto& [h, win] : world().windows)
    if (!win->parent && !win->message_only && !win->destroying) out.push_back(h);
  return out;
}

bool post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, void (*release)(void*) = nullptr,
          void* context = nullptr) {
  World& w = world();
  std::unique_lock lock(w.mutex);
  Queue* q;
  if (!hwnd) {
    q = &own_queue_locked();
  } else {
    std::shared_ptr<Window> win = find_locked(hwnd);
    auto it = win ? w.queues.find(win->thread) : w.queues.end();
    if (it == w.queues.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    q = it->second.get();
  }
  q->posted.push_back(MSG{hwnd, message, wParam, lParam, GetTickCount(), {0, 0}});
  if (release) q->owned.push_back(Owned{q->posted.back(), release, context});
  const Wake wake = wake_of(*q);
  w.changed.notify_all();
  lock.unlock();
  wake();
  return true;
}

bool in_range(UINT message, UINT lo, UINT hi) { return (lo == 0 && hi == 0) || (message >= lo && message <= hi); }

bool matches(HWND filter, HWND hwnd) {
  if (!filter) return true;
  if (filter == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) return hwnd == nullptr;
  return filter == hwnd;
}

// One matching message, or none. Lock held.
bool take_locked(Queue& q, MSG& out, HWND filter, UINT lo, UINT hi, bool remove, Retired& retired) {
  for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
    if (!matches(filter, it->hwnd) || !in_range(it->message, lo, hi)) continue;
    out = *it;
    if (remove) {
      q.posted.erase(it);
      // A message taken before and never dispatched is done with now.
      retire_locked(q, [](const Owned& o) { return o.state == Owned::Taken; }, retired);
      for (Owned& o : q.owned)
        if (o.state == Owned::Queued && same_message(o.msg, out)) {
          o.state = Owned::Taken;
          break;
        }
    }
    return true;
  }
  const auto now = q.timers.empty() ? Clock::time_point() : Clock::now();
  for (Timer& t : q.timers) {
    if (t.due > now || !matches(filter, t.hwnd) || !in_range(WM_TIMER, lo, hi)) continue;
    out = MSG{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), GetTickCount(), {0, 0}};
    if (remove) t.due = now + std::chrono::milliseconds(t.elapse);
    return true;
  }
  if (q.quit && (!filter) && in_range(WM_QUIT, lo, hi)) {
    out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quit_code), 0, GetTickCount(), {0, 0}};
    if (remove) q.quit = false;
    return true;
  }
  return false;
}

bool bad_filter(HWND filter) {
  if (!filter || filter == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)) || find(filter)) return false;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return true;
}

HWND create_window(DWORD ex_style, const ClassKey& key, const std::u16string& title, DWORD style, int x, int y,
                   int cx, int cy, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param, bool caller_ansi) {
  World& w = world();
  auto win = std::make_shared<Window>();
  {
    std::lock_guard lock(w.mutex);
    std::shared_ptr<Class> c = class_locked(key, instance);
    if (!c) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    const bool message_only = parent == HWND_MESSAGE;
    if (parent && !message_only && !find_locked(parent)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    own_queue_locked();
    win->hwnd = local_handle(w.next_handle);
    w.next_handle = w.next_handle + 4 < 0x1000000 ? w.next_handle + 4 : 0x20000;
    win->cls = c;
    win->proc = c->proc;
    win->ansi = c->ansi;
    win->thread = GetCurrentThreadId();
    win->parent = message_only ? nullptr : parent;
    win->message_only = message_only;
    win->instance = instance;
    win->style = static_cast<LONG>(style);
    win->ex_style = ex_style;
    win->id = (style & WS_CHILD) ? reinterpret_cast<LONG_PTR>(menu) : 0;
    win->extra.assign(c->window_extra, 0);
    c->windows++;
    w.windows[win->hwnd] = win;
  }
  if (!win->parent && !win->message_only) ensure_listener();
  const std::u16string class_name = key.atom ? std::u16string() : win->cls->name;
  const std::string title_ansi = narrow(title), class_ansi = win->cls->name_ansi;
  CREATESTRUCTW cw{param, instance, menu, parent, cy, cx, y, x, static_cast<LONG>(style),
                   title.c_str(), key.atom ? MAKEINTATOM(key.atom) : win->cls->name.c_str(), ex_style};
  CREATESTRUCTA ca{param, instance, menu, parent, cy, cx, y, x, static_cast<LONG>(style),
                   title_ansi.c_str(),
                   key.atom ? reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(key.atom)) : class_ansi.c_str(),
                   ex_style};
  (void)caller_ansi;
  const LPARAM cs = win->ansi ? reinterpret_cast<LPARAM>(&ca) : reinterpret_cast<LPARAM>(&cw);
  if (!call(win->proc, win->hwnd, WM_NCCREATE, 0, cs) || call(win->proc, win->hwnd, WM_CREATE, 0, cs) == -1) {
    DestroyWindow(win->hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return win->hwnd;
}

LONG_PTR get_long(HWND hwnd, int index, std::size_t width) {
  std::lock_guard lock(world().mutex);
  std::shared_ptr<Window> win = find_locked(hwnd);
  if (!win) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (index >= 0) {
    if (static_cast<std::size_t>(index) + width > win->extra.size()) {
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
    }
    LONG_PTR v = 0;
    std::memcpy(&v, win->extra.data() + index, width);
    return width == sizeof(LONG) ? static_cast<LONG>(v) : v;
  }
  switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(win->proc);
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(win->instance);
    case GWLP_HWNDPARENT: return reinterpret_cast<LONG_PTR>(win->parent);
    case GWLP_ID: return win->id;
    case GWL_STYLE: return win->style;
    case GWL_EXSTYLE: return win->ex_style;
    case GWLP_USERDATA: return win->user_data;
    default: SetLastError(ERROR_INVALID_INDEX); return 0;
  }
}

LONG_PTR set_long(HWND hwnd, int index, LONG_PTR value, std::size_t width) {
  std::lock_guard lock(world().mutex);
  std::shared_ptr<Window> win = find_locked(hwnd);
  if (!win) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR old = 0;
  if (index >= 0) {
    if (static_cast<std::size_t>(index) + width > win->extra.size()) {
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
    }
    std::memcpy(&old, win->extra.data() + index, width);
    std::memcpy(win->extra.data() + index, &value, width);
    return width == sizeof(LONG) ? static_cast<LONG>(old) : old;
  }
  LONG_PTR* field = nullptr;
  switch (index) {
    case GWLP_WNDPROC:
      if (!value) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      old = reinterpret_cast<LONG_PTR>(win->proc);
      win->proc = reinterpret_cast<WNDPROC>(value);
      return old;
    case GWLP_ID: field = &win->id; break;
    case GWL_STYLE: field = &win->style; break;
    case GWL_EXSTYLE: field = &win->ex_style; break;
    case GWLP_USERDATA: field = &win->user_data; break;
    default: SetLastError(ERROR_INVALID_INDEX); return 0;
  }
  old = *field;
  *field = value;
  return old;
}

}  // namespace

ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (!wc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return register_class(*wc, false, nullptr, nullptr);
}

ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const WNDCLASSW plain{wc->style,   wc->lpfnWndProc, wc->cbClsExtra,    wc->cbWndExtra,   wc->hInstance,
                        wc->hIcon,   wc->hCursor,     wc->hbrBackground, wc->lpszMenuName, wc->lpszClassName};
  return register_class(plain, false, nullptr, nullptr);
}

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const WNDCLASSA plain{wc->style,   wc->lpfnWndProc, wc->cbClsExtra,    wc->cbWndExtra,   wc->hInstance,
                        wc->hIcon,   wc->hCursor,     wc->hbrBackground, wc->lpszMenuName, wc->lpszClassName};
  return RegisterClassA(&plain);
}

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || is_atom(wc->lpszClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string name = widen(wc->lpszClassName);
  const std::u16string menu = wc->lpszMenuName && !is_atom(wc->lpszMenuName) ? widen(wc->lpszMenuName) : u"";
  const WNDCLASSW plain{wc->style,   wc->lpfnWndProc, wc->cbClsExtra,    wc->cbWndExtra, wc->hInstance,
                        wc->hIcon,   wc->hCursor,     wc->hbrBackground, menu.c_str(),   name.c_str()};
  return register_class(plain, true, wc->lpszClassName,
                        wc->lpszMenuName && !is_atom(wc->lpszMenuName) ? wc->lpszMenuName : "");
}

namespace {

// The W and A forms differ only in which copies of the names they hand out.
template <class Name, class WndClass, class Texts>
BOOL get_class_info(HINSTANCE hInstance, Name lpClassName, WndClass* lpWndClass, Texts texts) {
  if (!lpClassName || !lpWndClass) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(world().mutex);
  std::shared_ptr<Class> c = class_locked(key_of(lpClassName), hInstance);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  fill_class(*c, *lpWndClass);
  const auto& [name, menu] = texts(*c);
  lpWndClass->lpszClassName = name.c_str();
  lpWndClass->lpszMenuName = menu.empty() ? nullptr : menu.c_str();
  return TRUE;
}

}  // namespace

BOOL GetClassInfoW(HINSTANCE hInstance, LPCWSTR lpClassName, LPWNDCLASSW lpWndClass) {
  return get_class_info(hInstance, lpClassName, lpWndClass,
                        [](const Class& c) { return std::tie(c.name, c.menu); });
}

BOOL GetClassInfoA(HINSTANCE hInstance, LPCSTR lpClassName, LPWNDCLASSA lpWndClass) {
  return get_class_info(hInstance, lpClassName, lpWndClass,
                        [](const Class& c) { return std::tie(c.name_ansi, c.menu_ansi); });
}

BOOL UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) {
  if (!lpClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return unregister_class(key_of(lpClassName), hInstance) ? TRUE : FALSE;
}

BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
  if (!lpClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return unregister_class(key_of(lpClassName), hInstance) ? TRUE : FALSE;
}

HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
  if (!lpClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return create_window(dwExStyle, key_of(lpClassName), lpWindowName ? lpWindowName : u"", dwStyle, X, Y, nWidth,
                       nHeight, hWndParent, hMenu, hInstance, lpParam, false);
}

HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
  if (!lpClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return create_window(dwExStyle, key_of(lpClassName), widen(lpWindowName), dwStyle, X, Y, nWidth, nHeight,
                       hWndParent, hMenu, hInstance, lpParam, true);
}

BOOL DestroyWindow(HWND hWnd) {
  World& w = world();
  std::shared_ptr<Window> win;
  std::vector<HWND> children;
  {
    std::lock_guard lock(w.mutex);
    win = find_locked(hWnd);
    if (!win) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (win->thread != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (win->destroying) return TRUE;
    win->destroying = true;
    for (auto& [h, other] : w.windows)
      if (other->parent == hWnd) children.push_back(h);
  }
  call(win->proc, hWnd, WM_DESTROY, 0, 0);
  for (HWND child : children) DestroyWindow(child);
  call(win->proc, hWnd, WM_NCDESTROY, 0, 0);
  Retired retired;
  {
    std::lock_guard lock(w.mutex);
    if (w.windows.erase(hWnd)) win->cls->windows--;
    auto q = w.queues.find(win->thread);
    if (q != w.queues.end()) {
      std::erase_if(q->second->posted, [&](const MSG& m) { return m.hwnd == hWnd; });
      std::erase_if(q->second->timers, [&](const Timer& t) { return t.hwnd == hWnd; });
      retire_locked(
          *q->second, [&](const Owned& o) { return o.msg.hwnd == hWnd && o.state == Owned::Queued; }, retired);
    }
  }
  run_releases(retired);
  return TRUE;
}

BOOL IsWindow(HWND hWnd) { return find(hWnd) ? TRUE : FALSE; }

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  std::shared_ptr<Window> win = find(hWnd);
  if (!win) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (lpdwProcessId) *lpdwProcessId = GetCurrentProcessId();
  return win->thread;
}

LONG GetWindowLongA(HWND hWnd, int nIndex) { return static_cast<LONG>(get_long(hWnd, nIndex, sizeof(LONG))); }
LONG GetWindowLongW(HWND hWnd, int nIndex) { return static_cast<LONG>(get_long(hWnd, nIndex, sizeof(LONG))); }
LONG SetWindowLongA(HWND hWnd, int nIndex, LONG v) { return static_cast<LONG>(set_long(hWnd, nIndex, v, sizeof(LONG))); }
LONG SetWindowLongW(HWND hWnd, int nIndex, LONG v) { return static_cast<LONG>(set_long(hWnd, nIndex, v, sizeof(LONG))); }
LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex) { return get_long(hWnd, nIndex, sizeof(LONG_PTR)); }
LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) { return get_long(hWnd, nIndex, sizeof(LONG_PTR)); }
LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR v) { return set_long(hWnd, nIndex, v, sizeof(LONG_PTR)); }
LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR v) { return set_long(hWnd, nIndex, v, sizeof(LONG_PTR)); }

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
  switch (Msg) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(hWnd); return 0;
    default: return 0;
  }
}

LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hWnd, Msg, wParam, lParam);
}

LRESULT CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return call(lpPrevWndFunc, hWnd, Msg, wParam, lParam);
}

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (hWnd == HWND_BROADCAST) {
    for (HWND h : top_level()) post(h, Msg, wParam, lParam);
    return TRUE;
  }
  return post(hWnd, Msg, wParam, lParam) ? TRUE : FALSE;
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return PostMessageW(hWnd, Msg, wParam, lParam);
}

namespace win32 {

BOOL post_message_with_release(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, void (*release)(void*),
                               void* context) {
  if (!hWnd || hWnd == HWND_BROADCAST || !release || is_remote(hWnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return post(hWnd, Msg, wParam, lParam, release, context) ? TRUE : FALSE;
}

}  // namespace win32

BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  World& w = world();
  std::unique_lock lock(w.mutex);
  auto it = w.queues.find(idThread);
  if (it == w.queues.end()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  it->second->posted.push_back(MSG{nullptr, Msg, wParam, lParam, GetTickCount(), {0, 0}});
  const Wake wake = wake_of(*it->second);
  w.changed.notify_all();
  lock.unlock();
  wake();
  return TRUE;
}

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return PostThreadMessageW(idThread, Msg, wParam, lParam);
}

void KvSetMessageWakeHook(void (*wake)(void*), void* context) {
  std::lock_guard lock(world().mutex);
  Queue& q = own_queue_locked();
  q.wake = wake;
  q.wake_context = context;
}

void PostQuitMessage(int nExitCode) {
  World& w = world();
  std::lock_guard lock(w.mutex);
  Queue& q = own_queue_locked();
  q.quit = true;
  q.quit_code = nExitCode;
  w.changed.notify_all();
}

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (is_remote(hWnd)) {
    LRESULT r = 0;
    send_remote(hWnd, Msg, wParam, lParam, &r);
    return r;
  }
  if (hWnd == HWND_BROADCAST) {
    for (HWND h : top_level()) send_one(h, Msg, wParam, lParam, ~0u, nullptr);
    return TRUE;
  }
  LRESULT r = 0;
  send_one(hWnd, Msg, wParam, lParam, ~0u, &r);
  return r;
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(hWnd, Msg, wParam, lParam);
}

BOOL SendNotifyMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (hWnd == HWND_BROADCAST) {
    for (HWND h : top_level()) send_one(h, Msg, wParam, lParam, 0, nullptr);
    return TRUE;
  }
  return send_one(hWnd, Msg, wParam, lParam, 0, nullptr) ? TRUE : FALSE;
}

BOOL SendNotifyMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return SendNotifyMessageW(hWnd, Msg, wParam, lParam);
}

LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT, UINT uTimeout,
                            PDWORD_PTR lpdwResult) {
  const UINT wait = uTimeout == ~0u ? ~0u - 1 : (uTimeout ? uTimeout : 1);
  if (hWnd == HWND_BROADCAST) {
    for (HWND h : top_level()) send_one(h, Msg, wParam, lParam, wait, nullptr);
    if (lpdwResult) *lpdwResult = 0;
    return TRUE;
  }
  LRESULT r = 0;
  if (!send_one(hWnd, Msg, wParam, lParam, wait, &r)) return 0;
  if (lpdwResult) *lpdwResult = static_cast<DWORD_PTR>(r);
  return TRUE;
}

BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (!lpMsg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (;;) {
    std::unique_lock lock(world().mutex);
    Queue& q = own_queue_locked();
    if (!q.sent.empty()) {
      lock.unlock();
      handle_sent();
      continue;
    }
    if (hWnd && hWnd != reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)) && !world().windows.count(hWnd)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    Retired retired;
    const bool got = take_locked(q, *lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg & PM_REMOVE, retired);
    lock.unlock();
    run_releases(retired);
    return got ? TRUE : FALSE;
  }
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  return PeekMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
}

BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (!lpMsg || bad_filter(hWnd)) {
    if (!lpMsg) SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  World& w = world();
  for (;;) {
    handle_sent();
    std::unique_lock lock(w.mutex);
    Queue& q = own_queue_locked();
    if (!q.sent.empty()) continue;
    Retired retired;
    if (take_locked(q, *lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, retired)) {
      lock.unlock();
      run_releases(retired);
      return lpMsg->message != WM_QUIT;
    }
    auto next = Clock::time_point::max();
    for (const Timer& t : q.timers) next = std::min(next, t.due);
    if (next == Clock::time_point::max())
      w.changed.wait(lock);
    else
      w.changed.wait_until(lock, next);
  }
}

LRESULT DispatchMessageW(const MSG* lpMsg) {
  if (!lpMsg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
    reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
    return 0;
  }
  if (!lpMsg->hwnd) return 0;
  // An owned message stays valid while its window handles it, also across a
  // nested loop; it is released when the handling returns.
  bool owned = false;
  {
    std::lock_guard lock(world().mutex);
    for (Owned& o : own_queue_locked().owned)
      if (o.state == Owned::Taken && same_message(o.msg, *lpMsg)) {
        o.state = Owned::Dispatching;
        owned = true;
        break;
      }
  }
  const LRESULT r = call_window(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
  if (owned) {
    Retired retired;
    {
      std::lock_guard lock(world().mutex);
      bool one = false;
      retire_locked(
          own_queue_locked(),
          [&](const Owned& o) {
            if (one || o.state != Owned::Dispatching || !same_message(o.msg, *lpMsg)) return false;
            return one = true;
          },
          retired);
    }
    run_releases(retired);
  }
  return r;
}

BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  return GetMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
}

LRESULT DispatchMessageA(const MSG* lpMsg) { return DispatchMessageW(lpMsg); }

BOOL TranslateMessage(const MSG*) { return FALSE; }

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  World& w = world();
  std::lock_guard lock(w.mutex);
  Queue* q;
  if (hWnd) {
    std::shared_ptr<Window> win = find_locked(hWnd);
    if (!win || win->thread != GetCurrentThreadId()) {
      SetLastError(win ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    q = &own_queue_locked();
  } else {
    q = &own_queue_locked();
    nIDEvent = w.next_timer++;
  }
  uElapse = std::max<UINT>(uElapse, 10);
  std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hWnd && t.id == nIDEvent; });
  q->timers.push_back(Timer{hWnd, nIDEvent, uElapse, lpTimerFunc, Clock::now() + std::chrono::milliseconds(uElapse)});
  w.changed.notify_all();
  return hWnd ? (nIDEvent ? nIDEvent : 1) : nIDEvent;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  World& w = world();
  std::lock_guard lock(w.mutex);
  for (auto& [thread, q] : w.queues) {
    const auto before = q->timers.size();
    std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hWnd && t.id == uIDEvent; });
    if (q->timers.size() != before) return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// ---- windows of other processes ----
//
// Handles are unique in the world, as on Windows: bit 62 set, the owning
// process's id from bit 24, a counter below; so a handle handed from one
// process to another (a message's result) names the same window there. Requests are
// fixed records over a Unix socket, one request per connection:
//   find:  u32 1, u32 length, class name bytes (UTF-8)  -> u64 local handle or 0
//   send:  u32 2, u64 handle, u32 message, u64 wParam, u64 lParam -> i64 result
// lParam crosses as a number: only messages whose parameters are numbers can
// be sent to another process.

namespace {

constexpr std::uint64_t kRemoteBit = std::uint64_t(1) << 62;

DWORD remote_pid(HWND h) { return static_cast<DWORD>((reinterpret_cast<std::uint64_t>(h) >> 24) & 0x3FFFFF); }
bool is_remote(HWND h) {
  return (reinterpret_cast<std::uint64_t>(h) & kRemoteBit) != 0 && remote_pid(h) != GetCurrentProcessId();
}
HWND local_handle(ULONG_PTR counter) {
  return reinterpret_cast<HWND>(kRemoteBit | (std::uint64_t(GetCurrentProcessId()) << 24) | (counter & 0xFFFFFF));
}

std::string windows_folder() { return win32::world_root() + "/run/windows"; }
std::string socket_of(DWORD pid) { return windows_folder() + "/" + std::to_string(pid) + ".sock"; }

bool read_all(int fd, void* p, std::size_t n) {
  auto* b = static_cast<char*>(p);
  while (n) {
    ssize_t r = ::read(fd, b, n);
    if (r <= 0) {
      if (r < 0 && errno == EINTR) continue;
      return false;
    }
    b += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}
bool write_all(int fd, const void* p, std::size_t n) {
  auto* b = static_cast<const char*>(p);
  while (n) {
    ssize_t r = ::send(fd, b, n, MSG_NOSIGNAL);
    if (r <= 0) {
      if (r < 0 && errno == EINTR) continue;
      return false;
    }
    b += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

HWND find_local(const std::u16string& cls, const std::u16string* title) {
  World& w = world();
  std::lock_guard lock(w.mutex);
  const std::u16string key = upper(cls);
  for (auto& [h, win] : w.windows) {
    if (win->parent || win->message_only || win->destroying) continue;
    if (upper(win->cls->name) != key) continue;
    (void)title;  // titles are not kept; a title filter matches any
    return h;
  }
  return nullptr;
}

void serve(int fd) {
  std::uint32_t op = 0;
  if (!read_all(fd, &op, 4)) return;
  if (op == 1) {
    std::uint32_t n = 0;
    if (!read_all(fd, &n, 4) || n > 4096) return;
    std::string name(n, '\0');
    if (!read_all(fd, name.data(), n)) return;
    std::u16string wide;
    for (unsigned char c : name) wide.push_back(c);
    const std::uint64_t h = reinterpret_cast<std::uint64_t>(find_local(wide, nullptr));
    write_all(fd, &h, 8);
  } else if (op == 2) {
    std::uint64_t h = 0, wp = 0, lp = 0;
    std::uint32_t msg = 0;
    if (!read_all(fd, &h, 8) || !read_all(fd, &msg, 4) || !read_all(fd, &wp, 8) || !read_all(fd, &lp, 8)) return;
    const HWND local = reinterpret_cast<HWND>(h);
    std::int64_t r = 0;
    if (find(local)) r = SendMessageW(local, msg, static_cast<WPARAM>(wp), static_cast<LPARAM>(lp));
    write_all(fd, &r, 8);
  }
}

// Started with the process's first top-level window; lives as long as the
// process. Each request is served on a thread of its own, so a send that
// waits for a busy GUI thread does not hold up a find.
void ensure_listener() {
  // One listener per world the process has windows in (tests move worlds).
  static std::mutex guard;
  static std::vector<std::string> listening;
  const std::string path = socket_of(GetCurrentProcessId());
  std::lock_guard lock(guard);
  for (const std::string& p : listening)
    if (p == path) return;
  ::mkdir((win32::world_root() + "/run").c_str(), 0777);
  ::mkdir(windows_folder().c_str(), 0700);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof addr.sun_path) {
    if (fd >= 0) ::close(fd);
    return;
  }
  std::strcpy(addr.sun_path, path.c_str());
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return;
  }
  listening.push_back(path);
  std::thread([fd] {
    for (;;) {
      int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      std::thread([c] {
        serve(c);
        ::close(c);
      }).detach();
    }
  }).detach();
  // The socket file goes with the process; one left by a crash is removed by
  // the first caller that is refused by it.
  static struct Unlinker {
    std::vector<std::string>* paths;
    ~Unlinker() {
      for (const std::string& p : *paths) ::unlink(p.c_str());
    }
  } unlinker{&listening};
}

int connect_to(DWORD pid) {
  const std::string path = socket_of(pid);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return -1;
  std::strcpy(addr.sun_path, path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno == ECONNREFUSED) ::unlink(path.c_str());  // left behind by a process that died
    ::close(fd);
    return -1;
  }
  return fd;
}

HWND find_remote(const std::u16string& cls) {
  DIR* dir = ::opendir(windows_folder().c_str());
  if (!dir) return nullptr;
  std::string name;
  for (char16_t c : cls) name.push_back(static_cast<char>(c < 0x80 ? c : '?'));
  HWND found = nullptr;
  const DWORD me = GetCurrentProcessId();
  while (dirent* e = ::readdir(dir)) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(e->d_name, &end, 10);
    if (end == e->d_name || std::strcmp(end, ".sock") != 0 || pid == me) continue;
    int fd = connect_to(static_cast<DWORD>(pid));
    if (fd < 0) continue;
    const std::uint32_t op = 1, n = static_cast<std::uint32_t>(name.size());
    std::uint64_t h = 0;
    if (write_all(fd, &op, 4) && write_all(fd, &n, 4) && write_all(fd, name.data(), n) && read_all(fd, &h, 8) && h)
      found = reinterpret_cast<HWND>(h);
    ::close(fd);
    if (found) break;
  }
  ::closedir(dir);
  return found;
}

bool send_remote(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  int fd = connect_to(remote_pid(hwnd));
  if (fd < 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  const std::uint32_t op = 2, msg = message;
  const std::uint64_t h = reinterpret_cast<std::uint64_t>(hwnd), wp = wParam,
                      lp = static_cast<std::uint64_t>(lParam);
  std::int64_t r = 0;
  const bool ok = write_all(fd, &op, 4) && write_all(fd, &h, 8) && write_all(fd, &msg, 4) && write_all(fd, &wp, 8) &&
                  write_all(fd, &lp, 8) && read_all(fd, &r, 8);
  ::close(fd);
  if (!ok) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (result) *result = static_cast<LRESULT>(r);
  return true;
}

}  // namespace

HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  if (!lpClassName || is_atom(lpClassName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::u16string cls = lpClassName;
  const std::u16string title = lpWindowName ? lpWindowName : u"";
  if (HWND h = find_local(cls, lpWindowName ? &title : nullptr)) return h;
  if (HWND h = find_remote(cls)) return h;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  if (!lpClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::u16string cls = widen(lpClassName);
  const std::u16string title = lpWindowName ? widen(lpWindowName) : u"";
  return FindWindowW(cls.c_str(), lpWindowName ? title.c_str() : nullptr);
}

BOOL GetWindowPlacement(HWND hWnd, WINDOWPLACEMENT* lpwndpl) {
  if (!lpwndpl) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LRESULT state = 0;
  const bool ok = is_remote(hWnd) ? send_remote(hWnd, KV_WM_GETPLACEMENT, 0, 0, &state)
                                  : send_one(hWnd, KV_WM_GETPLACEMENT, 0, 0, ~0u, &state);
  if (!ok) return FALSE;
  *lpwndpl = WINDOWPLACEMENT{sizeof(WINDOWPLACEMENT), 0, static_cast<UINT>(state), {}, {}, {}};
  return TRUE;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  LRESULT was = 0;
  if (is_remote(hWnd)) send_remote(hWnd, KV_WM_SHOWWINDOW, static_cast<WPARAM>(nCmdShow), 0, &was);
  else send_one(hWnd, KV_WM_SHOWWINDOW, static_cast<WPARAM>(nCmdShow), 0, ~0u, &was);
  return was ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND hWnd) {
  LRESULT done = 0;
  const bool ok = is_remote(hWnd) ? send_remote(hWnd, KV_WM_FOREGROUND, 0, 0, &done)
                                  : send_one(hWnd, KV_WM_FOREGROUND, 0, 0, ~0u, &done);
  return ok && done ? TRUE : FALSE;
}
