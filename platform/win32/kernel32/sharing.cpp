#include "platform/win32/kernel32/sharing.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/win32/kernel32/file_internal.h"
#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/kernel32/paths.h"

namespace win32 {
namespace {

constexpr int kTables = 16;
constexpr std::uint32_t kSlots = 4096;
constexpr std::uint32_t kWindow = 64;     // an identity lives within this many slots of its hash
constexpr off_t kSpan = off_t(1) << 50;   // the lock space of one slot
constexpr off_t kRangeTop = kSpan - 64;   // Win32 ranges are clamped below this
constexpr off_t kShareBase = kRangeTop + 16;
constexpr std::size_t kHeader = 4096;
constexpr std::size_t kTableBytes = kHeader + kSlots * 32;
constexpr std::size_t kIdleRecords = 64;
constexpr char kMagic[8] = {'K', 'V', 'S', 'H', 'A', 'R', 'E', '2'};
// The table's guard: a process-shared robust mutex in the header, so that
// taking it costs no system call unless another process holds it, and a
// holder that dies leaves it to the next taker.
constexpr std::size_t kGuardAt = 64;
static_assert(kGuardAt + sizeof(pthread_mutex_t) <= kHeader);
// Share bytes a handle keeps on its own file description, far above any
// range a program locks, so that closing the file drops them.
constexpr off_t kFileShareBase = std::numeric_limits<off_t>::max() - 64;

// The order puts the bytes of the common opens (reading, writing or both,
// sharing reading or nothing) side by side, so that one call sets them; the
// presence byte, held while a process keeps the slot, sits where a writer's
// first open sets it along with its share bytes.
enum ShareByte { HoldRead, DenyDelete, DenyWrite, HoldWrite, DenyRead, HoldDelete, kShareBytes };
constexpr int kPresenceAt = 5;
constexpr off_t kPresence = kShareBase + kPresenceAt;
constexpr off_t kShareSpan = kShareBytes + 1;
constexpr off_t position(int byte) { return byte < kPresenceAt ? byte : byte + 1; }
constexpr ShareByte kHold[3] = {HoldRead, HoldWrite, HoldDelete};
constexpr ShareByte kDeny[3] = {DenyRead, DenyWrite, DenyDelete};

constexpr DWORD kReadRights = 0x0001 | 0x0020;   // FILE_READ_DATA | FILE_EXECUTE
constexpr DWORD kWriteRights = 0x0002 | 0x0004;  // FILE_WRITE_DATA | FILE_APPEND_DATA
constexpr DWORD kDeleteRight = 0x00010000;
constexpr DWORD kShareRead = 1, kShareWrite = 2, kShareDelete = 4;

// One slot of a shared table. users and lockers are hints kept by the
// processes (a crashed one stays counted until a sweep finds its presence lock
// gone); the presence locks are the truth. A free slot (no users) keeps its
// last identity, so that a process gives a slot up without the guard.
struct Slot {
  std::uint64_t dev;
  std::uint64_t ino;
  std::uint32_t users;    // processes holding the slot
  std::uint32_t lockers;  // processes holding byte-range locks on the file
  std::uint64_t spare;
};
static_assert(sizeof(Slot) == 32);

template <class T>
std::atomic_ref<T> shared(T& v) {
  return std::atomic_ref<T>(v);
}

// Bumped in a forked child: what the parent's descriptions hold is not the
// child's to change.
std::atomic<std::uint64_t> g_generation{1};

// The table descriptors a forked child closes, so that it never keeps its
// parent's locks alive.
constexpr int kFdSlots = 256;
std::atomic<int> g_fds[kFdSlots];

void remember_fd(int fd) {
  for (auto& s : g_fds) {
    int expected = 0;
    if (s.compare_exchange_strong(expected, fd + 1)) return;
  }
}
void forget_fd(int fd) {
  for (auto& s : g_fds) {
    int expected = fd + 1;
    if (s.compare_exchange_strong(expected, 0)) return;
  }
}

struct Table {
  int fd = -1;
  Slot* slots = nullptr;
  pthread_mutex_t* mutex = nullptr;
  std::uint64_t generation = g_generation.load();
  ~Table() {
    if (generation != g_generation.load()) return;
    if (slots) ::munmap(reinterpret_cast<char*>(slots) - kHeader, kTableBytes);
    if (fd >= 0) {
      forget_fd(fd);
      ::close(fd);
    }
  }
};

// The maker's lock, held while a table is made.
bool make_guard(int fd) {
  while (::flock(fd, LOCK_EX) != 0)
    if (errno != EINTR) return false;
  return true;
}
void make_unguard(int fd) { ::flock(fd, LOCK_UN); }

bool guard(Table& t) {
  int e = ::pthread_mutex_lock(t.mutex);
  // Its holder died: what it changed under the guard is slot counts, which
  // sweeps put right.
  if (e == EOWNERDEAD) e = ::pthread_mutex_consistent(t.mutex);
  return e == 0;
}
void unguard(Table& t) { ::pthread_mutex_unlock(t.mutex); }

// Sets (or with F_UNLCK clears) a lock of this process's description; false
// when another description holds a conflicting one. A file system without
// these locks enforces nothing rather than refusing every lock.
bool set_lock(int fd, off_t start, off_t len, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EINTR) continue;
    return errno != EAGAIN && errno != EACCES && errno != EDEADLK;
  }
}

// Does another description hold a lock over [start, start+len) that conflicts
// with one of this type?
bool others_hold(int fd, off_t start, off_t len, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

std::shared_ptr<Table> open_table(const std::string& folder, int index, bool create) {
  char name[16];
  std::snprintf(name, sizeof name, "/share-%02x", index);
  const std::string path = folder + name;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  if (fd < 0) return nullptr;
  auto t = std::make_shared<Table>();
  t->fd = fd;
  remember_fd(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0) return nullptr;
  if (static_cast<std::size_t>(st.st_size) < kTableBytes) {
    // The maker writes the mark before the size, so a full-sized table is
    // always a made one.
    if (!make_guard(fd)) return nullptr;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && static_cast<std::size_t>(st.st_size) < kTableBytes) {
      pthread_mutex_t m;
      pthread_mutexattr_t a;
      ::pthread_mutexattr_init(&a);
      ::pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
      ::pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
      ok = ::pthread_mutex_init(&m, &a) == 0;
      ::pthread_mutexattr_destroy(&a);
      ok = ok && ::pwrite(fd, &m, sizeof m, kGuardAt) == static_cast<ssize_t>(sizeof m) &&
           ::pwrite(fd, kMagic, sizeof kMagic, 0) == static_cast<ssize_t>(sizeof kMagic) &&
           ::ftruncate(fd, static_cast<off_t>(kTableBytes)) == 0;
    }
    make_unguard(fd);
    if (!ok) return nullptr;
  }
  void* p = ::mmap(nullptr, kTableBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return nullptr;
  if (std::memcmp(p, kMagic, sizeof kMagic) != 0) {
    ::munmap(p, kTableBytes);
    return nullptr;
  }
  t->slots = reinterpret_cast<Slot*>(static_cast<char*>(p) + kHeader);
  t->mutex = reinterpret_cast<pthread_mutex_t*>(static_cast<char*>(p) + kGuardAt);
  return t;
}

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}
std::uint64_t identity_hash(dev_t dev, ino_t ino) { return mix(mix(static_cast<std::uint64_t>(dev)) ^ ino); }

off_t slot_base(std::uint32_t slot) { return static_cast<off_t>(slot) * kSpan; }

struct Key {
  std::string folder;
  dev_t dev = 0;
  ino_t ino = 0;
};
// A key to look up without copying its folder.
struct KeyRef {
  const std::string& folder;
  dev_t dev;
  ino_t ino;
};
struct KeyLess {
  using is_transparent = void;
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    if (a.dev != b.dev) return a.dev < b.dev;
    if (a.ino != b.ino) return a.ino < b.ino;
    return a.folder < b.folder;
  }
};

struct OwnedLock {
  const void* owner;
  ULONGLONG offset;
  ULONGLONG length;
  bool exclusive;
};

ULONGLONG range_end(ULONGLONG offset, ULONGLONG length) {
  ULONGLONG e = offset + length;
  return e < offset ? ~0ULL : e;  // saturate
}

bool overlaps(ULONGLONG o1, ULONGLONG l1, ULONGLONG o2, ULONGLONG l2) {
  if (l1 == 0 || l2 == 0) return false;
  return o1 < range_end(o2, l2) && o2 < range_end(o1, l1);
}

// A Win32 range as a range of a slot's lock space below kRangeTop.
void project(ULONGLONG offset, ULONGLONG length, off_t& start, off_t& len) {
  const auto top = static_cast<ULONGLONG>(kRangeTop);
  ULONGLONG s = std::min(offset, top - 1);
  ULONGLONG e = std::min(range_end(offset, length), top);
  if (e <= s) e = s + 1;
  start = static_cast<off_t>(s);
  len = static_cast<off_t>(e - s);
}

struct WorldTables {
  std::shared_ptr<Table> tables[kTables];
};

}  // namespace

class ShareRecord {
 public:
  std::uint64_t generation = g_generation.load();
  Key key;
  std::shared_ptr<Table> table;
  std::uint32_t slot = 0;
  off_t base = 0;
  int holders[kShareBytes] = {};        // every handle of this process
  int table_holders[kShareBytes] = {};  // those whose bytes are on the table
  int handles = 0;
  std::vector<OwnedLock> locks;
  std::atomic<std::size_t> lock_count{0};
  std::condition_variable cv;
  bool idle = false;
  std::list<ShareRecord*>::iterator idle_pos;
  // Opened again soon after its last close: kept idle between handles.
  bool hot = false;

  Slot& shared_slot() const { return table->slots[slot]; }
  int fd() const { return table->fd; }
};

namespace {

struct State {
  std::mutex m;
  std::map<std::string, WorldTables> worlds;
  std::map<Key, std::shared_ptr<ShareRecord>, KeyLess> records;
  // The lock folder of the world last named by KV_WORLD_ROOT.
  std::string root_env, root_folder;
  std::list<ShareRecord*> idle;  // oldest first
  // Identities whose records went with their last handle lately: one that
  // comes back is kept idle from then on.
  Key recent[kIdleRecords];
  std::size_t recent_next = 0;
};

std::atomic<State*> g_state{nullptr};
std::vector<State*>* g_abandoned = new std::vector<State*>;  // what forked children keep, unused

void after_fork_in_child() {
  g_generation.fetch_add(1);
  if (State* old = g_state.exchange(nullptr)) g_abandoned->push_back(old);
  for (auto& s : g_fds) {
    int v = s.exchange(0);
    if (v > 0) ::close(v - 1);
  }
}

State& state() {
  static std::once_flag once;
  std::call_once(once, [] { ::pthread_atfork(nullptr, nullptr, after_fork_in_child); });
  State* s = g_state.load(std::memory_order_acquire);
  if (s) return *s;
  auto* made = new State;
  if (g_state.compare_exchange_strong(s, made)) return *made;
  delete made;
  return *s;
}

bool current(const ShareRecord& r) { return r.generation == g_generation.load(std::memory_order_relaxed); }

// The slot of an identity in a table, or -1. With claim, takes a free slot
// when none matches. The table must be guarded.
long find_slot(Table& t, dev_t dev, ino_t ino, bool claim) {
  const std::uint32_t h = static_cast<std::uint32_t>(identity_hash(dev, ino) % kSlots);
  long free_at = -1;
  for (std::uint32_t k = 0; k < kWindow; ++k) {
    const std::uint32_t i = (h + k) % kSlots;
    Slot& s = t.slots[i];
    if (shared(s.dev).load() == static_cast<std::uint64_t>(dev) &&
        shared(s.ino).load() == static_cast<std::uint64_t>(ino)) {
      if (claim && shared(s.users).load() == 0) shared(s.lockers).store(0);
      return i;
    }
    if (shared(s.users).load() == 0 && free_at < 0) free_at = i;
  }
  if (!claim || free_at < 0) return -1;
  Slot& s = t.slots[free_at];
  shared(s.dev).store(static_cast<std::uint64_t>(dev));
  shared(s.ino).store(static_cast<std::uint64_t>(ino));
  shared(s.lockers).store(0);
  return free_at;
}

bool slot_ours(const State& st, const Table& t, std::uint32_t slot) {
  for (const auto& [key, rec] : st.records)
    if (rec->table.get() == &t && rec->slot == slot) return true;
  return false;
}

// Frees slots whose holders are all gone (crashed or killed processes). The
// table must be guarded.
void sweep(const State& st, Table& t, std::uint32_t from, std::uint32_t count) {
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t i = (from + k) % kSlots;
    Slot& s = t.slots[i];
    if (shared(s.users).load() == 0 || slot_ours(st, t, i)) continue;
    if (others_hold(t.fd, slot_base(i) + kPresence, 1, F_WRLCK)) continue;
    shared(s.lockers).store(0);
    shared(s.users).store(0);
  }
}

// The world's table, opened (and with create made) on first use.
std::shared_ptr<Table> table_of(State& st, const std::string& folder, int index, bool create) {
  auto it = st.worlds.find(folder);
  if (it == st.worlds.end()) return nullptr;
  std::shared_ptr<Table>& t = it->second.tables[index];
  if (!t) t = open_table(folder, index, create);
  return t;
}

void release(State& st, ShareRecord& rec);

// The first use of a world in this process: sweep what crashed processes left
// in its tables, and let go of idle records of other worlds.
void enter_world(State& st, const std::string& folder) {
  if (st.worlds.count(folder)) return;
  for (auto it = st.idle.begin(); it != st.idle.end();) {
    ShareRecord* rec = *it++;
    if (rec->key.folder != folder) release(st, *rec);
  }
  for (auto it = st.worlds.begin(); it != st.worlds.end();) {
    bool used = false;
    for (const auto& [key, rec] : st.records) used = used || key.folder == it->first;
    it = used ? std::next(it) : st.worlds.erase(it);
  }
  WorldTables& w = st.worlds[folder];
  for (int i = 0; i < kTables; ++i) {
    w.tables[i] = open_table(folder, i, false);
    if (!w.tables[i] || !guard(*w.tables[i])) continue;
    sweep(st, *w.tables[i], 0, kSlots);
    unguard(*w.tables[i]);
  }
}

// Gives up an idle record's slot.
void release(State& st, ShareRecord& rec) {
  if (rec.idle) st.idle.erase(rec.idle_pos);
  rec.idle = false;
  // Claims happen under the guard and only take free slots or join their
  // own identity's, so a count going down needs no guard; a sweep may have
  // zeroed it already.
  std::atomic_ref<std::uint32_t> users = shared(rec.shared_slot().users);
  std::uint32_t n = users.load();
  while (n > 0 && !users.compare_exchange_weak(n, n - 1)) {
  }
  set_lock(rec.fd(), rec.base + kPresence, 1, F_UNLCK);
  st.records.erase(rec.key);  // may destroy rec
}

// Gives up a record whose last handle closes, clearing its share bytes and
// its presence in one call.
void release_at_close(State& st, ShareRecord& rec) {
  std::atomic_ref<std::uint32_t> users = shared(rec.shared_slot().users);
  std::uint32_t n = users.load();
  while (n > 0 && !users.compare_exchange_weak(n, n - 1)) {
  }
  set_lock(rec.fd(), rec.base + kShareBase, kShareSpan, F_UNLCK);
  st.recent[st.recent_next] = rec.key;
  st.recent_next = (st.recent_next + 1) % kIdleRecords;
  st.records.erase(rec.key);  // may destroy rec
}

bool recently_released(const State& st, const Key& key) {
  for (const Key& k : st.recent)
    if (k.ino == key.ino && k.dev == key.dev && k.folder == key.folder) return true;
  return false;
}

void make_idle(State& st, ShareRecord& rec) {
  if (rec.idle) return;
  rec.idle = true;
  rec.idle_pos = st.idle.insert(st.idle.end(), &rec);
  while (st.idle.size() > kIdleRecords) release(st, *st.idle.front());
}

// Sets (or clears) this process's locks on the marked share bytes (and with
// presence, the presence byte too), a call per run of neighbouring bytes.
void set_share_bytes(int fd, off_t base, const bool (&mark)[kShareBytes], short type, bool presence = false) {
  bool at[kShareSpan] = {};
  for (int i = 0; i < kShareBytes; ++i) at[position(i)] = mark[i];
  at[kPresenceAt] = presence;
  for (int i = 0; i < kShareSpan;) {
    if (!at[i]) {
      ++i;
      continue;
    }
    int j = i;
    while (j < kShareSpan && at[j]) ++j;
    set_lock(fd, base + kShareBase + i, j - i, type);
    i = j;
  }
}
void set_share_bytes(const ShareRecord& rec, const bool (&mark)[kShareBytes], short type) {
  set_share_bytes(rec.fd(), rec.base, mark, type);
}

// This process's record of an identity, claiming a slot for it on first use.
// Null with ERROR_SUCCESS when the world has no usable runtime folder (nothing
// is enforced then), with ERROR_SHARING_BUFFER_EXCEEDED when the table is full.
// A new claim that finds the slot unused elsewhere also sets `bytes` in the
// same call as its presence, and says so in `bytes_set`.
std::shared_ptr<ShareRecord> record_of(State& st, const std::string& folder, dev_t dev, ino_t ino, DWORD& error,
                                       const bool (&bytes)[kShareBytes], bool& bytes_set) {
  bytes_set = false;
  error = ERROR_SUCCESS;
  auto it = st.records.find(KeyRef{folder, dev, ino});
  if (it != st.records.end()) {
    it->second->hot = true;
    return it->second;
  }
  Key key{folder, dev, ino};
  if (!ensure_folder(folder)) return nullptr;
  enter_world(st, folder);
  const int index = static_cast<int>(identity_hash(dev, ino) >> 60) % kTables;
  std::shared_ptr<Table> t = table_of(st, folder, index, true);
  if (!t || !guard(*t)) return nullptr;
  long slot = find_slot(*t, dev, ino, true);
  if (slot < 0) {
    const auto h = static_cast<std::uint32_t>(identity_hash(dev, ino) % kSlots);
    sweep(st, *t, h, kWindow);
    slot = find_slot(*t, dev, ino, true);
  }
  if (slot < 0) {
    unguard(*t);
    error = ERROR_SHARING_BUFFER_EXCEEDED;
    return nullptr;
  }
  auto rec = std::make_shared<ShareRecord>();
  rec->key = key;
  rec->table = t;
  rec->slot = static_cast<std::uint32_t>(slot);
  rec->base = slot_base(rec->slot);
  rec->hot = recently_released(st, key);
  const bool alone = shared(t->slots[slot].users).fetch_add(1) == 0;
  bool none[kShareBytes] = {};
  set_share_bytes(t->fd, rec->base, alone ? bytes : none, F_RDLCK, true);
  bytes_set = alone;
  unguard(*t);
  st.records.emplace(key, rec);
  return rec;
}

std::string locks_folder() { return world_root() + "/run/locks"; }

// The same, remembered while the world's variable stays as it is. The state
// must be locked.
const std::string& locks_folder(State& st) {
  const char* env = std::getenv("KV_WORLD_ROOT");
  if (!env || !*env) return st.root_folder = locks_folder();
  if (st.root_env != env || st.root_folder.empty()) {
    st.root_folder = locks_folder();
    st.root_env = env;
  }
  return st.root_folder;
}

void wanted_bytes(DWORD access, DWORD share, bool (&bytes)[kShareBytes]) {
  bytes[HoldRead] = (access & kReadRights) != 0;
  bytes[HoldWrite] = (access & kWriteRights) != 0;
  bytes[HoldDelete] = (access & kDeleteRight) != 0;
  bytes[DenyRead] = !(share & kShareRead);
  bytes[DenyWrite] = !(share & kShareWrite);
  bytes[DenyDelete] = !(share & kShareDelete);
}

// The POSIX lock type a list of locks gives at one position of the lock space.
short type_at(off_t p, const std::vector<OwnedLock>& list) {
  short t = F_UNLCK;
  for (const OwnedLock& r : list) {
    if (r.length == 0) continue;
    off_t s, l;
    project(r.offset, r.length, s, l);
    if (p >= s && p < s + l) {
      if (r.exclusive) return F_WRLCK;
      t = F_RDLCK;
    }
  }
  return t;
}

// Brings this process's locks over [start, start+len) of the record's span in
// line with `list`; false when another process holds what the list needs.
bool apply(const ShareRecord& rec, off_t start, off_t len, const std::vector<OwnedLock>& list) {
  std::vector<off_t> cuts{start, start + len};
  for (const OwnedLock& r : list) {
    if (r.length == 0) continue;
    off_t s, l;
    project(r.offset, r.length, s, l);
    if (s > start && s < start + len) cuts.push_back(s);
    if (s + l > start && s + l < start + len) cuts.push_back(s + l);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
    if (!set_lock(rec.fd(), rec.base + cuts[i], cuts[i + 1] - cuts[i], type_at(cuts[i], list))) return false;
  return true;
}

}  // namespace

DWORD share_open(dev_t dev, ino_t ino, DWORD access, DWORD share, const ShareFd& fd,
                 std::shared_ptr<ShareRecord>& out, bool& on_fd) {
  out.reset();
  on_fd = false;
  bool bytes[kShareBytes];
  wanted_bytes(access, share, bytes);
  // A handle without read, write or delete rights takes no part in sharing:
  // it is neither refused nor does its share mode refuse others.
  if (!bytes[HoldRead] && !bytes[HoldWrite] && !bytes[HoldDelete]) return ERROR_SUCCESS;
  State& st = state();
  std::lock_guard<std::mutex> g(st.m);
  const std::string& folder = locks_folder(st);
  DWORD error;
  bool set_already;
  std::shared_ptr<ShareRecord> rec = record_of(st, folder, dev, ino, error, bytes, set_already);
  if (!rec) return error;
  auto refuse = [&] {
    if (rec->handles == 0) make_idle(st, *rec);
    return static_cast<DWORD>(ERROR_SHARING_VIOLATION);
  };
  // Handles of this process.
  for (int i = 0; i < 3; ++i) {
    if (bytes[kHold[i]] && rec->holders[kDeny[i]]) return refuse();
    if (bytes[kDeny[i]] && rec->holders[kHold[i]]) return refuse();
  }
  // Other processes: only bytes this process does not hold yet can meet a
  // conflict there.
  bool fresh[kShareBytes];
  bool any = false;
  for (int i = 0; i < kShareBytes; ++i) any |= fresh[i] = bytes[i] && rec->holders[i] == 0;
  // A new claim sets its bytes on the table along with its presence; later
  // handles of a process that holds the file already keep theirs on their
  // own description, which their close drops, where it takes read locks.
  on_fd = !set_already && fd.lock >= 0;
  bool place[kShareBytes];
  for (int i = 0; i < kShareBytes; ++i) place[i] = on_fd ? bytes[i] : bytes[i] && rec->table_holders[i] == 0;
  auto set = [&](short type) {
    if (on_fd)
      set_share_bytes(fd.lock, kFileShareBase - kShareBase, place, type);
    else
      set_share_bytes(*rec, place, type);
  };
  bool anything = false;
  for (bool b : place) anything |= b;
  if (set_already) {
    // Set by the claim.
  } else if (!any) {
    // Nothing new for others to see: no conflict can arise.
    if (anything) set(F_RDLCK);
  } else {
    std::atomic_ref<std::uint32_t> users = shared(rec->shared_slot().users);
    // Alone with the file: a process that joins later counts itself in
    // before it looks, so it sees these bytes once they are set while the
    // count still says one.
    bool done = false;
    if (users.load() == 1) {
      set(F_RDLCK);
      done = users.load() == 1;
    }
    if (!done) {
      // Check and set under the table's guard. Other processes' bytes may
      // be on the table or on their descriptions of the file.
      Table& t = *rec->table;
      if (!guard(t)) {
        set(F_UNLCK);
        return refuse();
      }
      const off_t b = rec->base + kShareBase;
      const bool on_table = others_hold(t.fd, b, kShareSpan, F_WRLCK);
      const bool on_file = fd.probe >= 0 && others_hold(fd.probe, kFileShareBase, kShareSpan, F_WRLCK);
      auto held = [&](int byte) {
        return (on_table && others_hold(t.fd, b + position(byte), 1, F_WRLCK)) ||
               (on_file && others_hold(fd.probe, kFileShareBase + position(byte), 1, F_WRLCK));
      };
      for (int i = 0; i < 3; ++i)
        if ((fresh[kHold[i]] && held(kDeny[i])) || (fresh[kDeny[i]] && held(kHold[i]))) {
          set(F_UNLCK);
          unguard(t);
          return refuse();
        }
      set(F_RDLCK);
      unguard(t);
    }
  }
  for (int i = 0; i < kShareBytes; ++i) {
    rec->holders[i] += bytes[i];
    if (!on_fd) rec->table_holders[i] += bytes[i];
  }
  ++rec->handles;
  if (rec->idle) {
    st.idle.erase(rec->idle_pos);
    rec->idle = false;
  }
  out = rec;
  return ERROR_SUCCESS;
}

void share_close(const std::shared_ptr<ShareRecord>& rec, DWORD access, DWORD share, const void* owner, bool on_fd) {
  if (!rec || !current(*rec)) return;
  State& st = state();
  std::lock_guard<std::mutex> g(st.m);
  const bool had_locks = !rec->locks.empty();
  std::vector<OwnedLock> gone;
  auto mine = [&](const OwnedLock& l) { return l.owner == owner; };
  std::copy_if(rec->locks.begin(), rec->locks.end(), std::back_inserter(gone), mine);
  rec->locks.erase(std::remove_if(rec->locks.begin(), rec->locks.end(), mine), rec->locks.end());
  for (const OwnedLock& l : gone) {
    if (l.length == 0) continue;
    off_t s, n;
    project(l.offset, l.length, s, n);
    apply(*rec, s, n, rec->locks);
  }
  rec->lock_count.store(rec->locks.size());
  if (had_locks && rec->locks.empty()) shared(rec->shared_slot().lockers).fetch_sub(1);
  bool bytes[kShareBytes], dropped[kShareBytes];
  wanted_bytes(access, share, bytes);
  bool any = false;
  for (int i = 0; i < kShareBytes; ++i) {
    rec->holders[i] -= bytes[i];
    // Bytes on the handle's own description go with its close.
    if (!on_fd) rec->table_holders[i] -= bytes[i];
    any |= dropped[i] = !on_fd && bytes[i] && rec->table_holders[i] == 0;
  }
  // A file opened once (a new one, most often) is given up with its last
  // handle: one call clears its share bytes and its presence.
  if (rec->handles == 1 && rec->locks.empty() && !rec->hot) {
    rec->handles = 0;
    rec->cv.notify_all();
    release_at_close(st, *rec);
    return;
  }
  // Clearing a byte this process does not hold changes nothing: bridge gaps
  // (but not the presence byte) so that one call clears them all.
  int first = kShareBytes, last = -1;
  for (int i = 0; i < kShareBytes; ++i)
    if (dropped[i]) first = std::min(first, i), last = i;
  for (int i = first; i < last; ++i)
    if ((i < kPresenceAt) == (last < kPresenceAt)) dropped[i] = dropped[i] || rec->table_holders[i] == 0;
  if (any) set_share_bytes(*rec, dropped, F_UNLCK);
  if (--rec->handles == 0) make_idle(st, *rec);
  rec->cv.notify_all();
}

bool share_io_blocked(ShareRecord& rec, const void* owner, ULONGLONG offset, ULONGLONG count, bool write) {
  if (count == 0 || !current(rec)) return false;
  Slot& slot = rec.shared_slot();
  if (rec.lock_count.load(std::memory_order_acquire) == 0 && shared(slot.lockers).load() == 0) return false;
  State& st = state();
  std::lock_guard<std::mutex> g(st.m);
  for (const OwnedLock& l : rec.locks) {
    if (!overlaps(l.offset, l.length, offset, count)) continue;
    if (l.owner == owner ? write && !l.exclusive : write || l.exclusive) return true;
  }
  const std::uint32_t own = rec.locks.empty() ? 0 : 1;
  if (shared(slot.lockers).load() <= own) return false;
  off_t s, n;
  project(offset, count, s, n);
  return others_hold(rec.fd(), rec.base + s, n, write ? F_WRLCK : F_RDLCK);
}

DWORD share_lock(ShareRecord& rec, const void* owner, ULONGLONG offset, ULONGLONG length, bool exclusive,
                 bool wait) {
  if (!current(rec)) return ERROR_SUCCESS;
  State& st = state();
  std::unique_lock<std::mutex> g(st.m);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    bool busy = false;
    for (const OwnedLock& l : rec.locks) {
      if (!overlaps(l.offset, l.length, offset, length)) continue;
      // An exclusive lock may not overlap any lock of the same handle
      // (Windows would wait for ever on itself; this reports the conflict).
      if (l.owner == owner) {
        if (exclusive) return ERROR_LOCK_VIOLATION;
      } else if (exclusive || l.exclusive) {
        busy = true;
      }
    }
    if (busy) {
      if (!wait) return ERROR_LOCK_VIOLATION;
      rec.cv.wait(g);
      continue;
    }
    const bool first = rec.locks.empty();
    if (first) shared(rec.shared_slot().lockers).fetch_add(1);
    std::vector<OwnedLock> after = rec.locks;
    after.push_back({owner, offset, length, exclusive});
    if (length != 0) {
      off_t s, n;
      project(offset, length, s, n);
      if (!apply(rec, s, n, after)) {
        apply(rec, s, n, rec.locks);  // give back what was taken
        if (first) shared(rec.shared_slot().lockers).fetch_sub(1);
        if (!wait) return ERROR_LOCK_VIOLATION;
        // Held by another process: try again now and then.
        g.unlock();
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
        g.lock();
        continue;
      }
    }
    rec.locks.push_back(after.back());
    rec.lock_count.store(rec.locks.size(), std::memory_order_release);
    return ERROR_SUCCESS;
  }
}

DWORD share_unlock(ShareRecord& rec, const void* owner, ULONGLONG offset, ULONGLONG length) {
  if (!current(rec)) return ERROR_SUCCESS;
  State& st = state();
  std::lock_guard<std::mutex> g(st.m);
  // An exclusive lock goes before a shared one of the same range.
  auto match = rec.locks.end();
  for (auto it = rec.locks.begin(); it != rec.locks.end(); ++it)
    if (it->owner == owner && it->offset == offset && it->length == length &&
        (match == rec.locks.end() || it->exclusive))
      match = it;
  if (match == rec.locks.end()) return ERROR_NOT_LOCKED;
  rec.locks.erase(match);
  if (length != 0) {
    off_t s, n;
    project(offset, length, s, n);
    apply(rec, s, n, rec.locks);
  }
  rec.lock_count.store(rec.locks.size(), std::memory_order_release);
  if (rec.locks.empty()) shared(rec.shared_slot().lockers).fetch_sub(1);
  rec.cv.notify_all();
  return ERROR_SUCCESS;
}

DWORD delete_sharing_error(const struct stat& st_entry, const std::string& unix_path) {
  const std::string folder = locks_folder();
  State& st = state();
  std::lock_guard<std::mutex> g(st.m);
  auto it = st.records.find(KeyRef{folder, st_entry.st_dev, st_entry.st_ino});
  const bool ours = it != st.records.end();
  if (ours && it->second->holders[DenyDelete]) return ERROR_SHARING_VIOLATION;
  enter_world(st, folder);
  const int index = static_cast<int>(identity_hash(st_entry.st_dev, st_entry.st_ino) >> 60) % kTables;
  std::shared_ptr<Table> t = table_of(st, folder, index, false);
  if (!t) return ERROR_SUCCESS;
  const long slot = find_slot(*t, st_entry.st_dev, st_entry.st_ino, false);
  if (slot < 0) return ERROR_SUCCESS;
  // Every process with a handle on the file counts itself in its slot.
  if (shared(t->slots[slot].users).load() <= (ours ? 1u : 0u)) return ERROR_SUCCESS;
  if (others_hold(t->fd, slot_base(static_cast<std::uint32_t>(slot)) + kShareBase + position(DenyDelete), 1, F_WRLCK))
    return ERROR_SHARING_VIOLATION;
  // Their other handles keep their share modes on the file itself.
  constexpr int kProbe = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  int fd = ::open(unix_path.c_str(), O_RDONLY | kProbe);
  if (fd < 0 && errno == EACCES) fd = ::open(unix_path.c_str(), O_WRONLY | kProbe);
  if (fd < 0) return ERROR_SUCCESS;
  struct stat now;
  const bool held = ::fstat(fd, &now) == 0 && now.st_dev == st_entry.st_dev && now.st_ino == st_entry.st_ino &&
                    others_hold(fd, kFileShareBase + position(DenyDelete), 1, F_WRLCK);
  ::close(fd);
  return held ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

}  // namespace win32

namespace win32 {

std::size_t sharing_slots_in_use() {
  const std::string folder = locks_folder();
  State& st = state();
  std::lock_guard<std::mutex> g(st.m);
  enter_world(st, folder);
  std::size_t n = 0;
  for (int i = 0; i < kTables; ++i)
    if (std::shared_ptr<Table> t = table_of(st, folder, i, false))
      for (std::uint32_t k = 0; k < kSlots; ++k) n += shared(t->slots[k].users).load() > 0;
  return n;
}

void sharing_hold_guards_for_tests() {
  State& st = state();
  std::lock_guard<std::mutex> g(st.m);
  const std::string& folder = locks_folder(st);
  ensure_folder(folder);
  enter_world(st, folder);
  for (int i = 0; i < kTables; ++i)
    if (std::shared_ptr<Table> t = table_of(st, folder, i, true)) guard(*t);
}

}  // namespace win32
