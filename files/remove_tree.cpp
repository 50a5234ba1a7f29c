#include "files/remove_tree.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "system/tls.h"

void remove_tree(rio_dir* top, bool keep_top) {
  struct work {
    ri_dir* dir;
    bool done;
  };
  if (!top) return;
  std::deque<work> list{{top, false}};
  for (;;) {
    work& front = list.front();
    if (front.done) {
      ri_dir* dir = front.dir;
      list.pop_front();
      if (list.empty() && keep_top) return;
      if (auto* out = dynamic_cast<o_dir*>(dir)) out->remove_dir(u".");
      if (list.empty()) return;
      delete dir;
      continue;
    }
    front.done = true;
    ri_dir* dir = front.dir;
    i_dir::iterator* it = dir->iterate();
    if (!it) continue;
    struct file {
      std::u16string name;
      std::int32_t attributes;
    };
    std::vector<file> files;
    std::vector<work> found;
    for (; it->Good(); it->next()) {
      const std::int32_t kind = it->kind();
      if (kind == entry_kind::directory || kind == entry_kind::junction || kind == entry_kind::dir_symlink) {
        if (ri_dir* sub = dir->open_dir(it)) found.push_back({sub, kind != entry_kind::directory});
      } else if (kind < entry_kind::directory) {
        if (const char16_t* name = it->name()) files.push_back({name, it->attributes()});
      }
    }
    delete it;
    // Each goes to the front as it is found, so the last found comes first.
    for (work& w : found) list.push_front(w);
    if (auto* out = dynamic_cast<o_dir*>(dir)) {
      for (const file& f : files) {
        out->remove_file(f.name.c_str());
        // A read-only file goes too: its mark is taken off first.
        if (out->error_code() == fs_error::access_denied && f.attributes != -1 && (f.attributes & 1)) {
          out->set_attributes(f.name.c_str(), static_cast<std::uint32_t>(f.attributes) & ~1u);
          out->remove_file(f.name.c_str());
        }
      }
    }
  }
}

namespace {

Common::ThreadLocalVariable& retry_variable() {
  static Common::ThreadLocalVariable v(0);
  return v;
}
// Allocated with the other statics, before any thread asks.
[[maybe_unused]] const bool retry_slot_made = (retry_variable(), true);

}  // namespace

access_retry_fn set_access_retry_handler(access_retry_fn handler, bool process_wide) {
  const std::uintptr_t old = retry_variable().set(reinterpret_cast<std::uintptr_t>(handler), process_wide);
  return reinterpret_cast<access_retry_fn>(old);
}

access_retry_fn access_retry_handler() { return reinterpret_cast<access_retry_fn>(retry_variable().get()); }
