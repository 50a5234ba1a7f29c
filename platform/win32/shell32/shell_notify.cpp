// The shell's change notifications over the inotify reader of changes.cpp.
//
// Each registration watches the folders of its entries that have a file-system
// path (only the folder itself, also for a recursive entry) and posts its
// message to its window for every change there. The lists a message carries
// live in a table of notices: with new delivery the message holds the notice's
// handle and the process id, and SHChangeNotification_Lock gives the lists
// until SHChangeNotification_Unlock; otherwise wParam points straight at the
// notice's two lists and lParam is the event. A notice nobody locked is freed
// once its message is handled (DispatchMessage returned, the thread took
// another message, or the message was dropped unread), so a window that never
// locks leaks nothing; a locked one lives until its unlock.
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/folder_watch.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"
#include "platform/win32/kernel32/process.h"
#include "platform/win32/shell32/shell_notify.h"
#include "platform/win32/shell32/shobj.h"
#include "platform/win32/user32/window.h"

namespace win32 {
namespace {

using Bytes = std::vector<BYTE>;

Bytes copy_list(LPCITEMIDLIST list) {
  if (!list) return {0, 0};
  auto p = reinterpret_cast<const BYTE*>(list);
  return Bytes(p, p + ILGetSize(list));
}

Bytes child_list(const Bytes& folder, const char* unix_name) {
  const std::u16string name = utf8_to_utf16(unix_name);
  LPITEMIDLIST l = append_name_item(reinterpret_cast<LPCITEMIDLIST>(folder.data()), name.c_str());
  if (!l) return {};
  Bytes out = copy_list(l);
  CoTaskMemFree(l);
  return out;
}

struct Notice {
  Bytes first, second;  // second empty when the event has one list
  LPITEMIDLIST lists[2] = {nullptr, nullptr};
  LONG event = 0;
  bool locked = false;
};

struct Notices {
  std::mutex lock;
  std::map<ULONG_PTR, std::unique_ptr<Notice>> live;
  ULONG_PTR next = 0x5C0001;
};
Notices& notices() {
  static Notices* n = new Notices;  // messages may outlive the statics
  return *n;
}

// The message of the notice is handled: free it unless its window locked it.
void release_notice(void* context) {
  Notices& n = notices();
  std::lock_guard g(n.lock);
  auto it = n.live.find(reinterpret_cast<ULONG_PTR>(context));
  if (it != n.live.end() && !it->second->locked) n.live.erase(it);
}

class Registration : public folder_watcher {
 public:
  Registration(HWND window, UINT message, LONG events, bool new_delivery)
      : window_(window), message_(message), events_(events), new_delivery_(new_delivery) {}

  // Before any watch is added; index = the watch's tag.
  std::vector<Bytes> folders;

  void event(std::uintptr_t tag, std::uint32_t mask, std::uint32_t cookie, const char* name) override {
    if (tag >= folders.size()) return;
    const Bytes& folder = folders[tag];
    const bool dir = (mask & IN_ISDIR) != 0;
    if (mask & IN_MOVED_TO) {
      if (move_out_ && move_out_->cookie == cookie) {
        const Bytes old_list = child_list(folders[move_out_->tag], move_out_->name.c_str());
        move_out_.reset();
        notify(dir ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM, old_list, child_list(folder, name));
        return;
      }
      flush_move_out();
      notify(dir ? SHCNE_MKDIR : SHCNE_CREATE, child_list(folder, name));
      return;
    }
    flush_move_out();
    if (mask & IN_Q_OVERFLOW) {
      notify(SHCNE_UPDATEDIR, folder);
      return;
    }
    if (!*name) {
      if (mask & (IN_DELETE_SELF | IN_MOVE_SELF))
        notify(SHCNE_RMDIR, folder);
      else if (mask & IN_ATTRIB)
        notify(SHCNE_UPDATEDIR, folder);
      return;
    }
    if (mask & IN_MOVED_FROM) {
      move_out_ = MoveOut{tag, cookie, name, dir};
    } else if (mask & IN_CREATE) {
      notify(dir ? SHCNE_MKDIR : SHCNE_CREATE, child_list(folder, name));
    } else if (mask & IN_DELETE) {
      notify(dir ? SHCNE_RMDIR : SHCNE_DELETE, child_list(folder, name));
    } else if (mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB)) {
      // A write is many events; one update per item and read is enough.
      if (updated_.emplace(tag, name).second) notify(SHCNE_UPDATEITEM, child_list(folder, name));
    }
  }

  void batch_end() override {
    flush_move_out();
    updated_.clear();
  }

 private:
  struct MoveOut {
    std::uintptr_t tag;
    std::uint32_t cookie;
    std::string name;
    bool dir;
  };

  // A move whose other half is not watched here: the item left.
  void flush_move_out() {
    if (!move_out_) return;
    const MoveOut m = *move_out_;
    move_out_.reset();
    notify(m.dir ? SHCNE_RMDIR : SHCNE_DELETE, child_list(folders[m.tag], m.name.c_str()));
  }

  void notify(LONG code, const Bytes& first, const Bytes& second = {}) {
    if (!(code & events_) || first.empty()) return;
    auto notice = std::make_unique<Notice>();
    notice->first = first;
    notice->second = second;
    notice->lists[0] = reinterpret_cast<LPITEMIDLIST>(notice->first.data());
    if (!notice->second.empty()) notice->lists[1] = reinterpret_cast<LPITEMIDLIST>(notice->second.data());
    notice->event = code;
    WPARAM w;
    LPARAM l;
    ULONG_PTR id;
    {
      Notices& n = notices();
      std::lock_guard g(n.lock);
      id = n.next++;
      if (new_delivery_) {
        w = static_cast<WPARAM>(id);
        l = static_cast<LPARAM>(GetCurrentProcessId());
      } else {
        w = reinterpret_cast<WPARAM>(notice->lists);
        l = static_cast<LPARAM>(code);
      }
      n.live.emplace(id, std::move(notice));
    }
    if (!post_message_with_release(window_, message_, w, l, release_notice, reinterpret_cast<void*>(id))) {
      Notices& n = notices();
      std::lock_guard g(n.lock);
      n.live.erase(id);
    }
  }

  HWND window_;
  UINT message_;
  LONG events_;
  bool new_delivery_;
  // Touched only on the reader thread under its lock.
  std::optional<MoveOut> move_out_;
  std::set<std::pair<std::uintptr_t, std::string>> updated_;
};

struct Registrations {
  std::mutex lock;
  std::map<ULONG, std::shared_ptr<Registration>> live;
  ULONG next = 1;
};
Registrations& registrations() {
  static Registrations* r = new Registrations;
  return *r;
}

// The Unix folder of a list, empty when it has no file-system path or the
// folder is not there.
std::string unix_folder(LPCITEMIDLIST list) {
  char16_t path[MAX_PATH] = {};
  if (!list || !SHGetPathFromIDListW(list, path)) return {};
  MappedPath m;
  if (!map_path(path, m) || m.state != PathState::Exists) return {};
  struct stat st;
  if (::stat(m.unix_path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return m.unix_path;
}

}  // namespace

std::size_t live_shell_notices() {
  Notices& n = notices();
  std::lock_guard g(n.lock);
  return n.live.size();
}

}  // namespace win32

ULONG SHChangeNotifyRegister(HWND window, int sources, LONG events, UINT message, int count,
                             const SHChangeNotifyEntry* entries) {
  using namespace win32;
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (count <= 0 || !entries) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto reg = std::make_shared<Registration>(window, message, events, (sources & SHCNRF_NewDelivery) != 0);
  std::vector<std::string> folders;
  for (int i = 0; i < count; ++i) {
    reg->folders.push_back(copy_list(entries[i].pidl));
    folders.push_back(unix_folder(entries[i].pidl));
  }
  // Folders without a path are registered but never heard of, as the shell's
  // virtual folders are.
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (folders[i].empty()) continue;
    if (!add_folder_watch(folders[i], reg, i)) {
      const DWORD error = GetLastError();
      remove_folder_watches(reg.get());
      SetLastError(error);
      return 0;
    }
  }
  Registrations& r = registrations();
  std::lock_guard g(r.lock);
  ULONG id = r.next++;
  if (id == 0) id = r.next++;
  r.live.emplace(id, std::move(reg));
  return id;
}

BOOL SHChangeNotifyDeregister(ULONG registration) {
  using namespace win32;
  std::shared_ptr<Registration> reg;
  {
    Registrations& r = registrations();
    std::lock_guard g(r.lock);
    auto it = r.live.find(registration);
    if (it == r.live.end()) return FALSE;
    reg = std::move(it->second);
    r.live.erase(it);
  }
  // After this no event of it is being handled and none will be.
  remove_folder_watches(reg.get());
  return TRUE;
}

HANDLE SHChangeNotification_Lock(HANDLE change, DWORD process, LPITEMIDLIST** lists, LONG* event) {
  using namespace win32;
  if (process != GetCurrentProcessId()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Notices& n = notices();
  std::lock_guard g(n.lock);
  auto it = n.live.find(reinterpret_cast<ULONG_PTR>(change));
  if (it == n.live.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  it->second->locked = true;
  if (lists) *lists = it->second->lists;
  if (event) *event = it->second->event;
  return change;
}

BOOL SHChangeNotification_Unlock(HANDLE lock) {
  using namespace win32;
  Notices& n = notices();
  std::lock_guard g(n.lock);
  auto it = n.live.find(reinterpret_cast<ULONG_PTR>(lock));
  if (it == n.live.end() || !it->second->locked) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  n.live.erase(it);
  return TRUE;
}
