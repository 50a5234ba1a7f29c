#include "platform/win32/changes.h"

#include <ftw.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/file_internal.h"
#include "platform/win32/lasterror.h"
#include "platform/win32/message.h"
#include "platform/win32/paths.h"
#include "platform/win32/waitable.h"

namespace win32 {
namespace {

struct ChangeObject;

// Every watch of the process shares one inotify instance, read by one thread
// that lives as long as the process. Lock order: this lock, then wait_lock().
struct Registry {
  std::mutex lock;
  int fd = -1;
  std::map<int, std::vector<std::weak_ptr<ChangeObject>>> watchers;  // by watch descriptor
};

Registry& registry() {
  static Registry* r = new Registry;  // outlives every handle, also at exit
  return *r;
}

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

struct ChangeObject : Signal {
  ChangeObject() : Signal(ObjectKind::ChangeNotification, true, false) {}
  ~ChangeObject() override;

  DWORD filter = 0;
  std::vector<int> wds;
  bool pending = false;  // a change came while signalled (under the registry lock)
};

ChangeObject::~ChangeObject() {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  for (int wd : wds) {
    auto it = r.watchers.find(wd);
    if (it == r.watchers.end()) continue;
    auto& list = it->second;
    for (auto w = list.begin(); w != list.end();) {
      auto sp = w->lock();
      if (!sp || sp.get() == this)
        w = list.erase(w);
      else
        ++w;
    }
    if (list.empty()) {
      if (r.fd >= 0) ::inotify_rm_watch(r.fd, wd);
      r.watchers.erase(it);
    }
  }
}

bool wanted(DWORD filter, uint32_t mask) {
  const bool dir = (mask & IN_ISDIR) != 0;
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

void reader(int fd) {
  alignas(inotify_event) char buf[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    if (r.fd != fd) return;  // a forked child's copy
    for (char* p = buf; p < buf + n;) {
      auto* e = reinterpret_cast<inotify_event*>(p);
      p += sizeof(inotify_event) + e->len;
      auto it = r.watchers.find(e->wd);
      if (it == r.watchers.end()) continue;
      for (auto& w : it->second) {
        auto obj = w.lock();
        if (!obj || !wanted(obj->filter, e->mask)) continue;
        if (obj->is_set())
          obj->pending = true;
        else
          obj->set();
      }
      if (e->mask & IN_IGNORED) r.watchers.erase(it);
    }
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
      obj->wds.push_back(wd);
      r.watchers[wd].push_back(obj);
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
