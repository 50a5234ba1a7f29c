#include "files/shell_watch.h"

#include <atomic>
#include <cstring>
#include <new>

#include "files/dir_watch.h"
#include "files/fs_error.h"
#include "files/shell_dir.h"
#include "platform/win32/windows.h"

namespace {

constexpr std::uint32_t kFirstMessage = 1024;

// The watch lock guards everything below. It is never deleted: the proxy
// thread outlives the statics and may still take it while the process ends.
struct watch_state {
  CRITICAL_SECTION lock;
  shell_watch_node* nodes = nullptr;  // sorted by message id
  std::uint32_t highest = kFirstMessage;
  HWND proxy = nullptr;
  HANDLE proxy_thread = nullptr;
  bool dispatching = false;
  watch_state() { InitializeCriticalSection(&lock); }
};

watch_state& state() {
  static watch_state* s = new watch_state;
  return *s;
}
// Made by a static initialiser, as the lock must exist before any watch.
[[maybe_unused]] watch_state& early_state = state();

class locked {
 public:
  locked() { EnterCriticalSection(&state().lock); }
  ~locked() { LeaveCriticalSection(&state().lock); }
  locked(const locked&) = delete;
  locked& operator=(const locked&) = delete;
};

std::atomic<bool> g_force_old{false};

bool new_delivery() { return !g_force_old.load() && shell_dir::shell_entry_points().lock; }

BOOL lists_equal(const ITEMIDLIST* a, const ITEMIDLIST* b) {
  auto eq = shell_dir::shell_entry_points().is_equal;
  return eq ? eq(a, b) : ILIsEqual(a, b);
}

const ITEMIDLIST* as_list(const std::vector<unsigned char>& bytes) {
  return reinterpret_cast<const ITEMIDLIST*>(bytes.data());
}

void free_pending(shell_watch_pending* p) {
  while (p) {
    shell_watch_pending* next = p->next;
    delete p;
    p = next;
  }
}

// Under the lock.
void leave_node(shell_watch_node* node) {
  if (--node->count > 0) return;
  watch_state& s = state();
  for (shell_watch_node** at = &s.nodes; *at; at = &(*at)->next) {
    if (*at == node) {
      *at = node->next;
      break;
    }
  }
  free_pending(node->pending);
  node->callback->release();
  delete node;
}

// Under the lock: the callback's node, made when missing; null without memory.
shell_watch_node* node_for(change_callback* callback) {
  watch_state& s = state();
  for (shell_watch_node* n = s.nodes; n; n = n->next)
    if (n->callback == callback) return n;
  // The lowest free id: walk while the ids follow one another from 1024.
  std::uint32_t id = kFirstMessage;
  shell_watch_node** at = &s.nodes;
  while (*at && (*at)->message == id) {
    at = &(*at)->next;
    ++id;
  }
  auto* node = new (std::nothrow) shell_watch_node;
  if (!node) return nullptr;
  node->message = id;
  node->callback = callback;
  callback->add_ref();
  node->next = *at;
  *at = node;
  if (!node->next) s.highest = id;
  return node;
}

LRESULT CALLBACK proxy_procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

unsigned proxy_thread(void* ready) {
  static bool class_registered = false;  // only this thread's start touches it, under the caller's lock
  if (!class_registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proxy_procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ShellNotificationProxy";
    if (!RegisterClassA(&wc)) return 1;
    class_registered = true;
  }
  // Message-only: it is never shown and takes no broadcasts.
  HWND window = CreateWindowExA(0, "ShellNotificationProxy", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (!window) return 1;
  state().proxy = window;
  SetEvent(static_cast<HANDLE>(ready));
  MSG m;
  for (;;) {
    const BOOL r = GetMessageA(&m, nullptr, 0, 0);
    if (r == 0) break;
    if (r == -1) continue;
    DispatchMessageA(&m);
  }
  return 0;
}

// Under the lock. On failure `cause` is the Win32 error of the call that
// failed, 0 when the thread ended without its window.
bool start_proxy(DWORD& cause) {
  watch_state& s = state();
  if (s.proxy_thread) return true;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ready) {
    cause = GetLastError();
    return false;
  }
  auto thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, proxy_thread, ready, 0, nullptr));
  if (!thread) {
    cause = GetLastError();
    CloseHandle(ready);
    return false;
  }
  const HANDLE both[2] = {ready, thread};
  const DWORD r = WaitForMultipleObjects(2, both, FALSE, INFINITE);
  if (r != WAIT_OBJECT_0) {
    CloseHandle(thread);
    CloseHandle(ready);
    cause = 0;
    return false;
  }
  CloseHandle(ready);
  s.proxy_thread = thread;
  return true;
}

// The folder an event names: the item's parent for changes inside a folder,
// the item itself for changes of a folder or a drive; nothing for others.
bool changed_folder(LONG event, const ITEMIDLIST* first, std::vector<unsigned char>& folder) {
  if (!first) return false;
  switch (static_cast<unsigned long>(event)) {
    case SHCNE_RENAMEITEM:
    case SHCNE_CREATE:
    case SHCNE_MKDIR:
    case SHCNE_RMDIR:
    case SHCNE_DRIVEADD:
    case SHCNE_UPDATEITEM:
    case SHCNE_DRIVEADDGUI:
    case SHCNE_RENAMEFOLDER:
      folder = shell_dir::parent_list(first);
      return true;
    case SHCNE_DELETE:
    case SHCNE_MEDIAINSERTED:
    case SHCNE_MEDIAREMOVED:
    case SHCNE_DRIVEREMOVED:
    case SHCNE_UPDATEDIR: {
      auto p = reinterpret_cast<const unsigned char*>(first);
      folder.assign(p, p + ILGetSize(first));
      return true;
    }
    default:
      return false;
  }
}

// Entered with the lock held (one level), left without it.
void dispatch() {
  watch_state& s = state();
  s.dispatching = true;
  for (;;) {
    shell_watch_node* node = nullptr;
    shell_watch_pending* entry = nullptr;
    for (shell_watch_node* n = s.nodes; n && !entry; n = n->next)
      for (shell_watch_pending* p = n->pending; p; p = p->next)
        if (!p->taken) {
          node = n;
          entry = p;
          break;
        }
    if (!entry) {
      s.dispatching = false;
      LeaveCriticalSection(&s.lock);
      return;
    }
    ++node->count;
    entry->taken = true;
    const std::vector<unsigned char> list = entry->list;
    change_callback* callback = node->callback;
    callback->add_ref();  // the callback may leave its node while it runs
    LeaveCriticalSection(&s.lock);

    IShellFolder* folder = nullptr;
    IShellFolder* desktop = shell_dir::desktop_folder();
    if (desktop && list.size() <= 2) {
      desktop->AddRef();
      folder = desktop;
    } else if (desktop) {
      shell_dir::bind_shell_folder(desktop, as_list(list), &folder);
    }
    if (!folder) {
      EnterCriticalSection(&s.lock);
      leave_node(node);
      callback->release();
      continue;
    }
    {
      // Leaves the node, and gives back the count taken above, when it goes.
      win32_shell_dir changed(folder, as_list(list), node);
      callback->changed(&changed);
    }
    callback->release();
    EnterCriticalSection(&s.lock);
  }
}

LRESULT CALLBACK proxy_procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message < kFirstMessage) return DefWindowProcA(window, message, wParam, lParam);
  watch_state& s = state();
  EnterCriticalSection(&s.lock);
  if (message > s.highest) {
    LeaveCriticalSection(&s.lock);
    return DefWindowProcA(window, message, wParam, lParam);
  }
  shell_watch_node* node = s.nodes;
  while (node && node->message < message) node = node->next;
  if (!node || node->message != message) {
    LeaveCriticalSection(&s.lock);
    return 0;
  }
  const shell_dir::entry_points& e = shell_dir::shell_entry_points();
  LPITEMIDLIST* lists = nullptr;
  LONG event = 0;
  HANDLE lock = nullptr;
  if (new_delivery()) {
    lock = e.lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &lists, &event);
  } else {
    lists = reinterpret_cast<LPITEMIDLIST*>(wParam);
    event = static_cast<LONG>(lParam);
  }
  std::vector<unsigned char> folder;
  const bool found = lists && changed_folder(event, lists[0], folder);
  if (lock && e.unlock) e.unlock(lock);
  if (found) {
    shell_watch_pending** at = &node->pending;
    bool queued = false;
    for (; *at; at = &(*at)->next)
      if (lists_equal(as_list((*at)->list), as_list(folder))) {
        queued = true;
        break;
      }
    if (!queued) {
      auto* entry = new (std::nothrow) shell_watch_pending;
      if (entry) {
        entry->list = std::move(folder);
        *at = entry;
      }
    }
  }
  if (s.dispatching) {
    LeaveCriticalSection(&s.lock);
    return 0;
  }
  dispatch();
  return 0;
}

}  // namespace

// The directory's watch fields and its error state change only under the
// watch lock: a callback on the proxy thread may end the watch of the very
// directory whose watch() is still returning on its caller's thread.
struct shell_watch_access {
  static void watch(win32_shell_dir& dir, change_callback* callback) {
    watch_state& s = state();
    ULONG old = 0;
    {
      locked g;
      if (dir.node_ && dir.node_->callback == callback) {
        dir.clear_error();
        return;
      }
      if (dir.node_) {
        leave_node(dir.node_);
        dir.node_ = nullptr;
      }
      old = dir.registration_;
      dir.registration_ = 0;
      if (!callback) dir.clear_error();
    }
    const shell_dir::entry_points& e = shell_dir::shell_entry_points();
    if (old && e.deregister_notify) e.deregister_notify(old);
    if (!callback) return;
    if (!e.register_notify) {
      locked g;
      dir.raise(KV_SITE, fs_error::open);
      return;
    }
    shell_watch_node* node;
    HWND proxy;
    {
      locked g;
      DWORD cause = 0;
      if (!start_proxy(cause)) {
        Common::Error err = make_fs_error(KV_SITE, fs_error::open);
        if (cause) err.setWin32Cause(cause);
        dir.set_error(std::move(err));
        return;
      }
      node = node_for(callback);
      if (!node) {
        dir.raise(KV_SITE, fs_error::out_of_memory);
        return;
      }
      dir.node_ = node;
      ++node->count;
      proxy = s.proxy;
    }
    SHChangeNotifyEntry entry{as_list(dir.list_), FALSE};
    const int sources = SHCNRF_InterruptLevel | SHCNRF_ShellLevel | (new_delivery() ? SHCNRF_NewDelivery : 0);
    const ULONG registration = e.register_notify(proxy, sources, SHCNE_ALLEVENTS, node->message, 1, &entry);
    bool kept = false;
    {
      locked g;
      // A callback may have ended (or replaced) the watch meanwhile.
      const bool current = dir.node_ == node;
      if (!registration) {
        if (current) {
          leave_node(node);
          dir.node_ = nullptr;
        }
        dir.raise(KV_SITE, fs_error::open);
      } else if (current) {
        dir.registration_ = registration;
        dir.clear_error();
        kept = true;
      }
    }
    if (registration && !kept && e.deregister_notify) e.deregister_notify(registration);
  }

  static void rearm(win32_shell_dir& dir) {
    locked g;
    if (!dir.node_) return;
    for (shell_watch_pending** at = &dir.node_->pending; *at; at = &(*at)->next) {
      if (!lists_equal(as_list((*at)->list), as_list(dir.list_))) continue;
      if ((*at)->taken) {
        shell_watch_pending* gone = *at;
        *at = gone->next;
        delete gone;
      }
      return;
    }
  }
};

void win32_shell_dir::watch(change_callback* callback) { shell_watch_access::watch(*this, callback); }

void win32_shell_dir::rearm_watch() { shell_watch_access::rearm(*this); }

namespace shell_watch {

std::vector<node_view> nodes() {
  std::vector<node_view> out;
  locked g;
  for (shell_watch_node* n = state().nodes; n; n = n->next) {
    node_view v{n->message, n->callback, n->count, {}};
    for (shell_watch_pending* p = n->pending; p; p = p->next) v.pending.emplace_back(p->list, p->taken);
    out.push_back(std::move(v));
  }
  return out;
}

std::uint32_t highest_message() {
  locked g;
  return state().highest;
}

HWND proxy_window() {
  locked g;
  return state().proxy;
}

void force_old_delivery(bool old) { g_force_old = old; }

}  // namespace shell_watch
