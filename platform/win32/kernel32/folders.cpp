#include "platform/win32/kernel32/folders.h"

#include <dirent.h>
#include <sys/statfs.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/win32/kernel32/codepage.h"
#include "platform/win32/kernel32/paths.h"

namespace win32 {
namespace {

constexpr std::size_t kMaxFolders = 64;
constexpr std::size_t kMaxNames = std::size_t(1) << 20;  // in all listings together

struct Listing {
  dev_t dev = 0;
  ino_t ino = 0;
  struct timespec mtime {};
  struct timespec ctime {};
  bool settled = false;
  // Upper-cased name -> the names on disk (sorted byte-wise).
  std::unordered_map<std::u16string, std::vector<std::string>> by_key;
  std::size_t names = 0;
  std::uint64_t used = 0;
};

struct Cache {
  std::mutex lock;
  std::unordered_map<std::string, Listing> listings;
  std::map<dev_t, bool> fine;  // per device: does a change after a stat always get a later stamp?
  bool assume_coarse = false;
  std::size_t names = 0;
  std::uint64_t clock = 0;
};

Cache& cache() {
  static Cache* c = new Cache;  // outlives static destructors
  return *c;
}

bool same(const struct timespec& a, const struct timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool same_state(const Listing& l, const struct stat& st) {
  return l.dev == st.st_dev && l.ino == st.st_ino && same(l.mtime, st.st_mtim) && same(l.ctime, st.st_ctim);
}

std::u16string fold(std::u16string_view name) {
  std::u16string key(name);
  for (char16_t& c : key) c = upcase(c);
  return key;
}

std::u16string fold_utf8(const char* name) {
  std::u16string key;
  key.reserve(std::strlen(name));
  for (const char* p = name; *p; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (c >= 0x80) return fold(utf8_to_utf16(name));
    key += static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  return key;
}

// Kernels from 6.13 give a folder changed after a stat a later time stamp
// than the stat saw, on these file systems (ext4, XFS, Btrfs, tmpfs).
bool fine_stamps(Cache& c, const std::string& dir, dev_t dev) {
  if (c.assume_coarse) return false;
  auto it = c.fine.find(dev);
  if (it != c.fine.end()) return it->second;
  static const bool kernel = [] {
    struct utsname u;
    int major = 0, minor = 0;
    if (::uname(&u) != 0 || std::sscanf(u.release, "%d.%d", &major, &minor) != 2) return false;
    return major > 6 || (major == 6 && minor >= 13);
  }();
  bool fine = false;
  struct statfs fs;
  if (kernel && ::statfs(dir.empty() ? "/" : dir.c_str(), &fs) == 0) {
    const auto type = static_cast<unsigned long>(fs.f_type);
    fine = type == 0xEF53 || type == 0x58465342 || type == 0x9123683E || type == 0x01021994;
  }
  c.fine[dev] = fine;
  return fine;
}

long long ns_of(const struct timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }

// Elsewhere a later change may carry the same stamp while the clock has not
// moved past it: trust a listing only when it was read after that. Whole
// seconds hint at a file system that keeps no finer stamps.
bool old_enough(const struct stat& st, const struct timespec& now) {
  const long long margin = st.st_ctim.tv_nsec == 0 && st.st_mtim.tv_nsec == 0 ? 2000000000LL : 20000000LL;
  const long long stamp = std::max(ns_of(st.st_ctim), ns_of(st.st_mtim));
  return ns_of(now) - stamp >= margin;
}

void add_name(Cache& c, Listing& l, const std::string& name) {
  std::vector<std::string>& v = l.by_key[fold_utf8(name.c_str())];
  auto at = std::lower_bound(v.begin(), v.end(), name);
  if (at != v.end() && *at == name) return;
  v.insert(at, name);
  ++l.names;
  ++c.names;
}

void remove_name(Cache& c, Listing& l, const std::string& name) {
  auto it = l.by_key.find(fold_utf8(name.c_str()));
  if (it == l.by_key.end()) return;
  auto at = std::find(it->second.begin(), it->second.end(), name);
  if (at == it->second.end()) return;
  it->second.erase(at);
  if (it->second.empty()) l.by_key.erase(it);
  --l.names;
  --c.names;
}

void drop(Cache& c, const std::string& dir) {
  auto it = c.listings.find(dir);
  if (it == c.listings.end()) return;
  c.names -= it->second.names;
  c.listings.erase(it);
}

bool read_folder(Cache& c, const std::string& dir, const struct stat& st, Listing& l) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str());
  if (!d) return false;
  c.names -= l.names;
  const std::size_t before = l.names;
  l.by_key.clear();
  l.by_key.reserve(std::max<std::size_t>(before, 64));
  l.names = 0;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    l.by_key.try_emplace(fold_utf8(e->d_name)).first->second.emplace_back(e->d_name);
    ++l.names;
  }
  ::closedir(d);
  c.names += l.names;
  for (auto& [key, names] : l.by_key)
    if (names.size() > 1) std::sort(names.begin(), names.end());
  l.dev = st.st_dev;
  l.ino = st.st_ino;
  l.mtime = st.st_mtim;
  l.ctime = st.st_ctim;
  l.settled = fine_stamps(c, dir, st.st_dev) || old_enough(st, now);
  return true;
}

void trim(Cache& c, const std::string& keep) {
  while (c.listings.size() > kMaxFolders || c.names > kMaxNames) {
    auto oldest = c.listings.end();
    for (auto it = c.listings.begin(); it != c.listings.end(); ++it)
      if (it->first != keep && (oldest == c.listings.end() || it->second.used < oldest->second.used)) oldest = it;
    if (oldest == c.listings.end()) return;
    drop(c, oldest->first);
  }
}

}  // namespace

bool folder_find(const std::string& dir, const struct stat& dir_st, std::u16string_view name,
                 const std::string& exact, std::string& found) {
  const std::u16string key = fold(name);
  Cache& c = cache();
  std::lock_guard<std::mutex> g(c.lock);
  Listing& l = c.listings[dir];
  if (!l.settled || !same_state(l, dir_st)) {
    if (!read_folder(c, dir, dir_st, l)) {
      drop(c, dir);
      return false;
    }
  }
  l.used = ++c.clock;
  auto it = l.by_key.find(key);
  const bool any = it != l.by_key.end();
  if (any) {
    const std::vector<std::string>& names = it->second;
    found = std::binary_search(names.begin(), names.end(), exact) ? exact : names.front();
  }
  trim(c, dir);
  return any;
}

FolderChange::FolderChange(std::string dir, const struct stat* dir_st) : dir_(std::move(dir)) {
  Cache& c = cache();
  {
    std::lock_guard<std::mutex> g(c.lock);
    if (!c.listings.count(dir_)) return;  // nothing known, nothing to keep current
  }
  struct stat st;
  if (dir_st)
    st = *dir_st;
  else if (::stat(dir_.empty() ? "/" : dir_.c_str(), &st) != 0) {
    folder_forget(dir_);
    return;
  }
  std::lock_guard<std::mutex> g(c.lock);
  auto it = c.listings.find(dir_);
  if (it == c.listings.end()) return;
  if (!it->second.settled || !same_state(it->second, st)) {
    drop(c, dir_);
    return;
  }
  before_ = st;
  tracked_ = true;
}

void FolderChange::done(const std::string& added, const std::string& removed) {
  done_names(added.empty() ? nullptr : &added, added.empty() ? 0 : 1, removed);
}

void FolderChange::done(const std::vector<std::string>& added) { done_names(added.data(), added.size(), {}); }

void FolderChange::done_names(const std::string* added, std::size_t count, const std::string& removed) {
  if (!tracked_) return;
  struct stat st;
  const bool ok = ::stat(dir_.empty() ? "/" : dir_.c_str(), &st) == 0;
  Cache& c = cache();
  std::lock_guard<std::mutex> g(c.lock);
  auto it = c.listings.find(dir_);
  if (it == c.listings.end()) return;
  Listing& l = it->second;
  // Another change of this process came between, or the folder went.
  if (!ok || !same_state(l, before_) || st.st_dev != l.dev || st.st_ino != l.ino) return drop(c, dir_);
  if (same(st.st_mtim, before_.st_mtim) && same(st.st_ctim, before_.st_ctim)) {
    // The change left the stamps as they were: they are too coarse here.
    c.fine[st.st_dev] = false;
    return drop(c, dir_);
  }
  if (!removed.empty()) remove_name(c, l, removed);
  for (std::size_t i = 0; i < count; ++i) add_name(c, l, added[i]);
  l.mtime = st.st_mtim;
  l.ctime = st.st_ctim;
  // Only the changes of other processes in the instant of this one could
  // hide here; with coarse stamps, a whole tick could.
  l.settled = fine_stamps(c, dir_, st.st_dev);
}

void folder_forget(const std::string& dir) {
  Cache& c = cache();
  std::lock_guard<std::mutex> g(c.lock);
  drop(c, dir);
}

void folder_listings_assume_coarse_stamps(bool coarse) {
  Cache& c = cache();
  std::lock_guard<std::mutex> g(c.lock);
  c.assume_coarse = coarse;
  c.fine.clear();
}

std::string parent_folder(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string last_name(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace win32
