// Watching Windows directories for changes. Each registration keeps a change
// handle of the system; one waiting thread serves up to 63 registrations (its
// 64th handle is its wake event), and calls the registration's callback on
// that thread with a fresh object for the same folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "files/file_object.h"
#include "platform/win32/windows.h"

class win32_dir;

// Implemented by the watching code. Reference-counted: the creator holds the
// first reference, each registration one more.
class change_callback {
 public:
  change_callback() = default;
  change_callback(const change_callback&) = delete;
  change_callback& operator=(const change_callback&) = delete;

  // On the waiting thread, without any lock of the registry held: the folder
  // changed. `dir` belongs to the registry; call rearm_watch on it (or on the
  // registering directory) for the next change, watch(nullptr) to stop.
  virtual void changed(ri_dir* dir) = 0;

  void add_ref() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 protected:
  virtual ~change_callback() = default;

 private:
  std::atomic<std::int32_t> refs_{1};
};

// Cookie 0 registers `handle` for `dir` and `callback` (all needed; the handle
// is closed when it cannot be stored). A cookie with no handle but a directory
// and a callback replaces the callback of a slot in use. Any other call
// unregisters the cookie's slot and closes `handle` when given. Returns the
// cookie (1 + 63 x block + slot), or 0.
std::uint32_t watch_registry(std::uint32_t cookie, HANDLE handle, win32_dir* dir, change_callback* callback);
// Waits for the slot's next change after its callback ran.
void rearm_registration(std::uint32_t cookie);

// Tests: duplicates of the handles of the waiting threads that run now, in
// block order (the caller closes them).
std::vector<HANDLE> watch_threads();
