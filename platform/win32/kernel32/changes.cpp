#include "platform/win32/kernel32/changes.h"

#include <ftw.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/folder_watch.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/message.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/waitable.h"

namespace win32 {
namespace {

// Every watch of the process shares one inotify instance, read by one thread
// that lives as long as the process. Lock order: this lock, then wait_lock().
struct Entry {
  const folder_watcher* raw;  // to find an expiring watcher again
  std::weak_ptr<folder_watcher> ref;
  std::uintptr_t tag;
};
struct Registry {
  std::mutex lock;
  int fd = -1;
  std::map<int, std::vector<Entry>> watchers;  // by watch descriptor
};

Registry& registry() {
  static Registry* r = new Registry;  // outlives every handle, also at exit
  return *r;
}

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Under the registry lock. Expired watchers go too: locking them here could end
// the last reference to one of them under the lock.
void remove_locked(Registry& r, const folder_watcher* self) {
  for (auto it = r.watchers.begin(); it != r.watchers.end();) {
    std::erase_if(it->second, [&](const Entry& e) { return e.raw == self || e.ref.expired(); });
    if (it->second.empty()) {
      if (r.fd >= 0) ::inotify_rm_watch(r.fd, it->first);
      it = r.watchers.erase(it);
    } else {
      ++it;
    }
  }
}

bool wanted(DWORD filter, uint32_t mask) {
  const bool dir = (mask & IN_ISDIR) != 0;
  if (mask & IN_Q_OVERFLOW) return true;  // anything may have changed
  if (mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF)) {
    if (filter & (dir ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME)) return true;
    if ((mask & IN_CREATE) && (filter & FILE_NOTIFY_CHANGE_CREATION)) return true;
  }
  if ((mask & (IN_MODIFY | IN_CLOSE_WRITE)) && (filter & (FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE)))
    return true;
  if ((mask & IN_ATTRIB) &&
      (filter & (FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY | FILE_NOTIFY_CHANGE_LAST_WRITE)))
    return true;
  return false;
}

struct ChangeObject : Signal, folder_watcher {
  ChangeObject() : Signal(ObjectKind::ChangeNotification, true, false) {}
  ~ChangeObject() override;

  void event(std::uintptr_t, uint32_t mask, uint32_t, const char*) override {
    if (!wanted(filter, mask)) return;
    if (is_set())
      pending = true;
    else
      set();
  }

  DWORD filter = 0;
  bool pending = false;  // a change came while signalled (under the registry lock)
};

ChangeObject::~ChangeObject() {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  remove_locked(r, this);
}

void reader(int fd) {
  alignas(inotify_event) char buf[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    Registry& r = registry();
    // Watchers touched here are let go after the lock: the last reference may
    // end with them, and their destructor takes the lock.
    std::vector<std::shared_ptr<folder_watcher>> touched;
    std::lock_guard<std::mutex> g(r.lock);
    if (r.fd != fd) return;  // a forked child's copy
    auto tell = [&](const Entry& e, const inotify_event& ev) {
      auto w = e.ref.lock();
      if (!w) return;
      if (std::find(touched.begin(), touched.end(), w) == touched.end()) touched.push_back(w);
      w->event(e.tag, ev.mask, ev.cookie, ev.len ? ev.name : "");
    };
    for (char* p = buf; p < buf + n;) {
      auto* e = reinterpret_cast<inotify_event*>(p);
      p += sizeof(inotify_event) + e->len;
      if (e->mask & IN_Q_OVERFLOW) {
        for (auto& [wd, list] : r.watchers)
          for (const Entry& entry : list) tell(entry, *e);
        continue;
      }
      auto it = r.watchers.find(e->wd);
      if (it == r.watchers.end()) continue;
      for (const Entry& entry : it->second) tell(entry, *e);  // watchers never touch the table
      if (e->mask & IN_IGNORED) r.watchers.erase(e->wd);
    }
    for (auto& w : touched) w->batch_end();
  }
}

void forget_after_fork() {
  Registry& r = registry();
  new (&r.lock) std::mutex();
  if (r.fd >= 0) ::close(r.fd);
  r.fd = -1;
  r.watchers.clear();
}

// Under the registry lock.
bool ensure_reader(Registry& r) {
  if (r.fd >= 0) return true;
  static std::once_flag fork_hook;
  std::call_once(fork_hook, [] { ::pthread_atfork(nullptr, nullptr, forget_after_fork); });
  r.fd = ::inotify_init1(IN_CLOEXEC);
  if (r.fd < 0) {
    set_last_error_from_errno(errno);
    return false;
  }
  std::thread(reader, r.fd).detach();
  return true;
}

std::vector<std::string>* subtree_folders = nullptr;

int collect_folder(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_D) subtree_folders->push_back(path);
  return 0;
}

}  // namespace

bool add_folder_watch(const std::string& unix_folder, const std::shared_ptr<folder_watcher>& watcher,
                      std::uintptr_t tag) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  if (!ensure_reader(r)) return false;
  const int wd = ::inotify_add_watch(r.fd, unix_folder.c_str(), kWatchMask | IN_MASK_ADD);
  if (wd < 0) {
    set_last_error_from_errno(errno);
    return false;
  }
  r.watchers[wd].push_back(Entry{watcher.get(), watcher, tag});
  return true;
}

void remove_folder_watches(const folder_watcher* watcher) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  remove_locked(r, watcher);
}

}  // namespace win32

HANDLE FindFirstChangeNotificationW(LPCWSTR lpPathName, BOOL bWatchSubtree, DWORD dwNotifyFilter) {
  using namespace win32;
  if (!lpPathName || dwNotifyFilter == 0 || (dwNotifyFilter & ~0x17Fu)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  MappedPath m;
  if (!map_path(lpPathName, m)) return INVALID_HANDLE_VALUE;
  if (m.state != PathState::Exists) {
    SetLastError(m.state == PathState::ParentMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (::stat(m.unix_path.c_str(), &st) != 0) {
    set_last_error_from_errno(errno);
    return INVALID_HANDLE_VALUE;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<std::string> folders{m.unix_path};
  if (bWatchSubtree) {
    static std::mutex walk_lock;
    std::lock_guard<std::mutex> g(walk_lock);
    std::vector<std::string> below;
    subtree_folders = &below;
    ::nftw(m.unix_path.c_str(), collect_folder, 16, FTW_PHYS);
    subtree_folders = nullptr;
    if (!below.empty()) below.erase(below.begin());  // the folder itself
    folders.insert(folders.end(), below.begin(), below.end());
  }
  auto obj = std::make_shared<ChangeObject>();
  obj->filter = dwNotifyFilter;
  Registry& r = registry();
  {
    std::lock_guard<std::mutex> g(r.lock);
    if (!ensure_reader(r)) return INVALID_HANDLE_VALUE;
    for (const std::string& folder : folders) {
      const int wd = ::inotify_add_watch(r.fd, folder.c_str(), kWatchMask | IN_MASK_ADD);
      if (wd < 0) {
        if (folder == m.unix_path) {
          set_last_error_from_errno(errno);
          return INVALID_HANDLE_VALUE;  // the object's destructor drops the watches after the lock
        }
        continue;
      }
      r.watchers[wd].push_back(Entry{obj.get(), obj, 0});
    }
  }
  return handle_insert(obj);
}

BOOL FindNextChangeNotification(HANDLE hChangeHandle) {
  using namespace win32;
  auto obj = handle_lookup_as<ChangeObject>(hChangeHandle);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  obj->reset();
  if (obj->pending) {
    obj->pending = false;
    obj->set();
  }
  return TRUE;
}

BOOL FindCloseChangeNotification(HANDLE hChangeHandle) {
  if (!win32::handle_lookup_as<win32::ChangeObject>(hChangeHandle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(hChangeHandle);
}
