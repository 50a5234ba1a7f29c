// Watching shell directories: one hidden proxy window on a thread of its own
// receives the shell's change notifications, queues each changed folder once
// and hands it to the change callback (files/dir_watch.h) as a temporary
// win32_shell_dir, which re-arms the folder through rearm_watch.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32/windows.h"

class change_callback;

// A changed folder waiting for, or handed to, the callback.
struct shell_watch_pending {
  std::vector<unsigned char> list;  // absolute, terminator included
  bool taken = false;               // handed over; removed when re-armed
  shell_watch_pending* next = nullptr;
};

// One per distinct callback object; the directories watching with it share
// its message id.
struct shell_watch_node {
  std::uint32_t message = 0;             // 1024 or more
  change_callback* callback = nullptr;   // one reference held
  shell_watch_pending* pending = nullptr;  // oldest first
  std::int32_t count = 0;                // attached directories + dispatches running
  shell_watch_node* next = nullptr;
};

namespace shell_watch {

// Tests: a view of the watch state, taken under its lock.
struct node_view {
  std::uint32_t message;
  change_callback* callback;
  std::int32_t count;
  std::vector<std::pair<std::vector<unsigned char>, bool>> pending;  // list, taken
};
std::vector<node_view> nodes();
std::uint32_t highest_message();
// Null until the first watch started it.
HWND proxy_window();
// Tests: true makes new registrations and the proxy use the old delivery
// (wParam the lists, lParam the event) as when "SHChangeNotification_Lock" is
// missing; false follows the entry points again.
void force_old_delivery(bool old);

}  // namespace shell_watch
