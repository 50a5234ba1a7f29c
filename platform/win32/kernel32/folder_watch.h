// Layer code only: the inotify reader behind the change notifications, for
// watchers that want each event of a folder rather than a signal.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace win32 {

class folder_watcher {
 public:
  virtual ~folder_watcher() = default;
  // On the reader thread under its lock: one event of the folder added with
  // `tag` (the inotify mask and cookie; `name` empty for the folder itself).
  // IN_Q_OVERFLOW: events were lost; every folder of every watcher hears it.
  virtual void event(std::uintptr_t tag, std::uint32_t mask, std::uint32_t cookie, const char* name) = 0;
  // After the events of one read, still under the lock.
  virtual void batch_end() {}
};

// Watches the Unix folder for `watcher`, whose events for it carry `tag`;
// false with the last error set.
bool add_folder_watch(const std::string& unix_folder, const std::shared_ptr<folder_watcher>& watcher,
                      std::uintptr_t tag);
// Stops every watch of `watcher` (by address; it may be expiring).
void remove_folder_watches(const folder_watcher* watcher);

}  // namespace win32
