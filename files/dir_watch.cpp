#include "files/dir_watch.h"

#include <new>

#include "files/windows_dir.h"
#include "system/locks.h"

namespace {

constexpr int kSlots = 63;

struct slot {
  bool armed;
  HANDLE handle;  // null: free; INVALID_HANDLE_VALUE: closed, still held
  std::uint32_t cookie;
  // The registry's own object for the folder: the waiting thread opens each
  // fresh directory from it, never from an object its caller may be using.
  win32_dir* folder;
  change_callback* callback;
  std::int32_t uses;  // directory objects that carry the cookie
};

struct block {
  block* next;
  int used;
  int armed;
  slot slots[kSlots];
  Common::Semaphore* gate;
  HANDLE wake;
  HANDLE thread;
  DWORD thread_id;
  bool stop;
};

// Lock order: the registry lock, then a block's gate. The waiting thread
// touches its slots only while it holds the gate; everyone else, only while
// holding both.
Common::RecursiveLock registry_lock;
block* blocks = nullptr;
std::uint32_t total = 0;

bool on_thread(const block* b) { return b->thread && b->thread_id == GetCurrentThreadId(); }

// Gets the gate from the block's thread, which gives it back once woken.
void pause(block* b) {
  if (!b->thread || on_thread(b)) return;
  SetEvent(b->wake);
  b->gate->wait();
  ResetEvent(b->wake);
}

unsigned waiting_thread(void* arg);

void resume(block* b) {
  if (b->thread) {
    if (!on_thread(b)) b->gate->release();
    return;
  }
  if (b->armed == 0) return;
  if (!b->wake) b->wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  unsigned id = 0;
  b->thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, waiting_thread, b, 0, &id));
  b->thread_id = id;
}

void free_block(block* b) {
  if (b->wake) CloseHandle(b->wake);
  delete b->gate;
  delete b;
}

// Under the registry lock.
void shut_down(block* b) {
  if (!b->thread) {
    free_block(b);
    return;
  }
  const bool self = on_thread(b);
  pause(b);
  HANDLE thread = b->thread;
  b->thread = nullptr;
  b->stop = true;
  // The thread frees its block as it ends. Waiting for it here, under the
  // registry lock, would deadlock with a thread that has just run a callback
  // and needs that lock to finish.
  if (!self) b->gate->release();
  CloseHandle(thread);
}

bool find(std::uint32_t cookie, block*& b, slot*& s) {
  if (cookie == 0) return false;
  std::uint32_t index = (cookie - 1) / kSlots;
  b = blocks;
  while (b && index) {
    b = b->next;
    --index;
  }
  if (!b) return false;
  s = &b->slots[(cookie - 1) % kSlots];
  return true;
}

std::uint32_t register_handle(HANDLE handle, win32_dir* dir, change_callback* callback) {
  auto* folder = dynamic_cast<win32_dir*>(dir->open_dir(u"."));
  if (!folder) {
    FindCloseChangeNotification(handle);
    return 0;
  }
  std::uint32_t base = 1;
  block** link = &blocks;
  while (*link && (*link)->used >= kSlots) {
    base += kSlots;
    link = &(*link)->next;
  }
  block* b = *link;
  if (!b) {
    b = new (std::nothrow) block{};
    if (b) b->gate = new (std::nothrow) Common::Semaphore(1);
    if (!b || !b->gate || !b->gate->handle()) {
      if (b) free_block(b);
      delete folder;
      FindCloseChangeNotification(handle);
      return 0;
    }
    *link = b;
  }
  pause(b);
  int index = 0;
  while (b->slots[index].handle) ++index;
  slot& s = b->slots[index];
  callback->add_ref();
  const std::uint32_t cookie = base + static_cast<std::uint32_t>(index);
  s = slot{true, handle, cookie, folder, callback, 1};
  ++b->used;
  ++b->armed;
  ++total;
  resume(b);
  return cookie;
}

// Under the registry lock, holding the block's gate (paused), which it gives back.
void unregister(block* b, slot* s) {
  if (!s->handle) {
    resume(b);
    return;
  }
  if (s->armed) {
    --b->armed;
    s->armed = false;
  }
  if (s->handle != INVALID_HANDLE_VALUE) FindCloseChangeNotification(s->handle);
  if (s->uses-- == 1) {
    s->callback->release();
    delete s->folder;
    *s = slot{};
    --b->used;
    --total;
  } else {
    s->handle = INVALID_HANDLE_VALUE;
  }
  resume(b);
  if (total == 0) {
    block* list = blocks;
    blocks = nullptr;
    while (list) {
      block* next = list->next;
      shut_down(list);
      list = next;
    }
  }
}

unsigned waiting_thread(void* arg) {
  auto* b = static_cast<block*>(arg);
  b->gate->wait();
  while (!b->stop) {
    HANDLE list[kSlots + 1];
    int index[kSlots + 1];
    DWORD n = 0;
    list[n++] = b->wake;
    for (int i = 0; i < kSlots; ++i) {
      const slot& s = b->slots[i];
      if (s.armed && s.handle && s.handle != INVALID_HANDLE_VALUE) {
        index[n] = i;
        list[n++] = s.handle;
      }
    }
    const DWORD r = WaitForMultipleObjects(n, list, FALSE, INFINITE);
    ri_dir* fresh = nullptr;
    slot* s = nullptr;
    std::uint32_t cookie = 0;
    change_callback* callback = nullptr;
    if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + n) {
      s = &b->slots[index[r - WAIT_OBJECT_0]];
      s->armed = false;
      --b->armed;
      callback = s->callback;
      callback->add_ref();
      cookie = s->cookie;
      fresh = s->folder->open_dir(u".");
    }
    auto* fresh_dir = dynamic_cast<win32_dir*>(fresh);
    if (!fresh_dir) {
      delete fresh;
      if (callback) callback->release();
      b->gate->release();
      b->gate->wait();
      continue;
    }
    ++s->uses;
    fresh_dir->set_watch_cookie(cookie);
    b->gate->release();
    callback->changed(fresh);
    callback->release();
    Common::RecursiveLockGuard g(registry_lock);
    b->gate->wait();
    if (fresh_dir->watch_cookie() == cookie && s->uses > 1) {
      --s->uses;
      fresh_dir->set_watch_cookie(0);
    }
    delete fresh;
  }
  free_block(b);
  return 0;
}

}  // namespace

std::uint32_t watch_registry(std::uint32_t cookie, HANDLE handle, win32_dir* dir, change_callback* callback) {
  Common::RecursiveLockGuard g(registry_lock);
  if (cookie == 0) {
    if (!handle || !dir || !callback) {
      if (handle) FindCloseChangeNotification(handle);
      return 0;
    }
    return register_handle(handle, dir, callback);
  }
  block* b = nullptr;
  slot* s = nullptr;
  if (!handle && dir && callback) {
    if (!find(cookie, b, s)) return 0;
    pause(b);
    if (s->handle == INVALID_HANDLE_VALUE) {
      // A callback ended the registration: the caller's cookie goes with its
      // use, and the caller registers afresh.
      unregister(b, s);
      return 0;
    }
    if (!s->handle) {
      resume(b);
      return 0;
    }
    callback->add_ref();
    change_callback* old = s->callback;
    s->callback = callback;
    resume(b);
    old->release();
    return cookie;
  }
  if (find(cookie, b, s)) {
    pause(b);
    unregister(b, s);
  }
  if (handle) FindCloseChangeNotification(handle);
  return 0;
}

void rearm_registration(std::uint32_t cookie) {
  Common::RecursiveLockGuard g(registry_lock);
  block* b = nullptr;
  slot* s = nullptr;
  if (!find(cookie, b, s)) return;
  pause(b);
  if (s->handle && s->handle != INVALID_HANDLE_VALUE && !s->armed) {
    s->armed = true;
    ++b->armed;
    FindNextChangeNotification(s->handle);
  }
  resume(b);
}

std::vector<HANDLE> watch_threads() {
  Common::RecursiveLockGuard g(registry_lock);
  std::vector<HANDLE> out;
  for (block* b = blocks; b; b = b->next) {
    HANDLE h = nullptr;
    if (b->thread && DuplicateHandle(GetCurrentProcess(), b->thread, GetCurrentProcess(), &h, 0, FALSE,
                                     DUPLICATE_SAME_ACCESS))
      out.push_back(h);
  }
  return out;
}
