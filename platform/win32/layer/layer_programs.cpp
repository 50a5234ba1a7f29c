// The layer's stand-in programs (makecab.exe and the like) appear in every
// world's system folder as links to the built programs, so that a program
// started by bare name is found there as on Windows.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/kernel32/folders.h"
#include "platform/win32/layer/layer_programs.h"

namespace win32 {

std::string layer_programs_folder() {
  if (const char* v = std::getenv("KV_LAYER_PROGRAMS"); v && *v) return v;
#ifdef KV_LAYER_PROGRAMS_DIR
  return KV_LAYER_PROGRAMS_DIR;
#else
  return {};
#endif
}

void place_layer_programs(const std::string& system_folder) {
  static std::mutex lock;
  static std::vector<std::string> done;
  const std::string from = layer_programs_folder();
  if (from.empty()) return;
  const std::string key = system_folder + '\n' + from;
  std::lock_guard<std::mutex> g(lock);
  if (std::find(done.begin(), done.end(), key) != done.end()) return;
  DIR* dir = ::opendir(from.c_str());
  if (!dir) return;  // not built: nothing to offer
  FolderChange change(system_folder);
  std::vector<std::string> added;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".exe") != 0) continue;
    const std::string source = from + "/" + name;
    struct stat st;
    if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const std::string target = system_folder + "/" + name;
    struct stat there;
    if (::lstat(target.c_str(), &there) == 0) continue;  // the world's own file wins
    if (::symlink(source.c_str(), target.c_str()) == 0) added.push_back(name);
  }
  ::closedir(dir);
  change.done(added);
  done.push_back(key);
}

}  // namespace win32
