#include "platform/win32/kernel32/sync.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <chrono>
#include <condition_variable>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/win32/kernel32/paths.h"
#include "platform/win32/layer/threadstate.h"

namespace win32 {

constexpr DWORD kPending = 0xFFFFFFFEu;

struct Waiter {
  const std::vector<std::shared_ptr<Waitable>>* objects;
  bool all;
  DWORD tid;
  DWORD result = kPending;
  std::condition_variable cv;
};

std::mutex& wait_lock() {
  static std::mutex* m = new std::mutex;  // never destroyed: threads may wait during exit
  return *m;
}

struct WaitCore {
  // Under wait_lock(): takes the objects when the waiter's condition holds.
  static bool try_satisfy(Waiter& w) {
    const auto& objs = *w.objects;
    if (!w.all) {
      for (std::size_t i = 0; i < objs.size(); ++i) {
        if (objs[i]->signalled(w.tid)) {
          bool abandoned = objs[i]->acquire(w.tid);
          w.result = static_cast<DWORD>((abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i);
          return true;
        }
      }
      return false;
    }
    for (const auto& o : objs)
      if (!o->signalled(w.tid)) return false;
    DWORD first_abandoned = kPending;
    for (std::size_t i = 0; i < objs.size(); ++i)
      if (objs[i]->acquire(w.tid) && first_abandoned == kPending) first_abandoned = static_cast<DWORD>(i);
    w.result = first_abandoned == kPending ? WAIT_OBJECT_0 : WAIT_ABANDONED_0 + first_abandoned;
    return true;
  }

  static void enqueue(Waiter& w) {
    for (const auto& o : *w.objects) o->waiters_.push_back(&w);
  }

  static void dequeue(Waiter& w) {
    for (const auto& o : *w.objects) {
      auto& q = o->waiters_;
      q.erase(std::remove(q.begin(), q.end(), &w), q.end());
    }
  }

  static std::size_t waiters(const Waitable& object) { return object.waiters_.size(); }

  static void serve(Waitable& object) {
    auto& q = object.waiters_;
    for (std::size_t i = 0; i < q.size();) {
      Waiter* w = q[i];
      if (try_satisfy(*w)) {
        dequeue(*w);  // removes q[i] too
        w->cv.notify_one();
      } else {
        ++i;
      }
    }
  }
};

Waitable::~Waitable() = default;  // waiters hold references, so none can be queued here

void Waitable::changed() { WaitCore::serve(*this); }

void Signal::set() {
  std::lock_guard<std::mutex> g(wait_lock());
  set_ = true;
  changed();
}

void Signal::reset() {
  std::lock_guard<std::mutex> g(wait_lock());
  set_ = false;
}

void Signal::pulse() {
  std::lock_guard<std::mutex> g(wait_lock());
  set_ = true;
  changed();
  set_ = false;
}

bool Signal::is_set() const {
  std::lock_guard<std::mutex> g(wait_lock());
  return set_;
}

namespace {

// Runs the APCs queued on `me`, those queued meanwhile too; called with
// `lock` held, returns with it released.
DWORD run_apcs(detail::ThreadObject* me, std::unique_lock<std::mutex>& lock) {
  while (!me->apcs.empty()) {
    auto calls = std::move(me->apcs);
    me->apcs.clear();
    lock.unlock();
    for (auto& [fn, data] : calls) fn(data);
    lock.lock();
  }
  lock.unlock();
  return WAIT_IO_COMPLETION;
}

}  // namespace

DWORD wait_objects(const std::vector<std::shared_ptr<Waitable>>& objects, bool wait_all, DWORD milliseconds,
                   bool alertable) {
  detail::check_terminate();
  detail::ensure_thread_state();  // so a mutex taken here is abandoned at the thread's end
  detail::ThreadObject* self = detail::t_layer_self;
  // Any thread can be sent APCs, the layer's own or not.
  detail::ThreadObject* me = alertable ? detail::current_thread_object() : self;
  Waiter w;
  w.objects = &objects;
  w.all = wait_all;
  w.tid = detail::current_thread_id();

  std::unique_lock<std::mutex> lock(wait_lock());
  if (alertable && !me->apcs.empty()) return run_apcs(me, lock);
  if (WaitCore::try_satisfy(w)) return w.result;
  if (milliseconds == 0) return WAIT_TIMEOUT;

  // A wait made while the stack unwinds must not throw, so it ignores a
  // termination request.
  bool may_stop = self && std::uncaught_exceptions() == 0;
  auto stopping = [&] { return may_stop && self->terminating.load(std::memory_order_acquire); };
  WaitCore::enqueue(w);
  if (me) me->wake = &w.cv;
  auto done = [&] { return w.result != kPending || stopping() || (alertable && !me->apcs.empty()); };
  const bool poll = std::any_of(objects.begin(), objects.end(),
                                [](const auto& o) { return o->shared_between_processes(); });
  if (poll) {
    // Another process gives its objects up without telling us: look again
    // every few milliseconds until satisfied or out of time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
      auto slice = std::chrono::milliseconds(5);
      if (milliseconds != INFINITE) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        slice = std::min(slice, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                    std::chrono::milliseconds(1));
      }
      if (w.cv.wait_for(lock, slice, done)) break;
      if (WaitCore::try_satisfy(w)) {
        WaitCore::dequeue(w);
        break;
      }
    }
  } else if (milliseconds == INFINITE) {
    w.cv.wait(lock, done);
  } else {
    w.cv.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
  }
  if (me) me->wake = nullptr;
  if (w.result == kPending) WaitCore::dequeue(w);
  if (w.result == kPending && alertable && !me->apcs.empty() && !stopping()) return run_apcs(me, lock);
  lock.unlock();
  if (stopping()) throw ThreadExit{self->terminate_code};
  return w.result == kPending ? WAIT_TIMEOUT : w.result;
}

namespace {

// Mutexes that have an owner, so that a thread's end can abandon its own.
std::unordered_set<class MutexObject*>& owned_mutexes() {
  static auto* s = new std::unordered_set<MutexObject*>;
  return *s;
}

class MutexObject : public Waitable {
 public:
  MutexObject() = default;
  // A named mutex: ownership between processes is a write lock on byte 0 of
  // `fd` (an open file description lock, so the kernel drops it when the
  // owning process dies); the byte itself is 1 while some process owns it, so
  // whoever takes the lock next and still reads 1 knows the owner died.
  explicit MutexObject(int fd) : fd_(fd) {}
  ~MutexObject() override {
    {
      std::lock_guard<std::mutex> g(wait_lock());
      owned_mutexes().erase(this);
    }
    if (fd_ >= 0) ::close(fd_);  // an owner's lock goes with it: abandoned
  }
  ObjectKind kind() const override { return ObjectKind::Mutex; }
  bool shared_between_processes() const override { return fd_ >= 0; }
  bool signalled(DWORD tid) const override {
    if (owner_ != 0) return owner_ == tid;
    return fd_ < 0 || file_held_ || const_cast<MutexObject*>(this)->lock_file();
  }
  bool acquire(DWORD tid) override {
    if (owner_ == tid) {
      ++recursion_;
      return false;
    }
    owner_ = tid;
    recursion_ = 1;
    owned_mutexes().insert(this);
    bool was_abandoned = abandoned_ || died_elsewhere_;
    abandoned_ = false;
    died_elsewhere_ = false;
    if (fd_ >= 0) mark(1);
    return was_abandoned;
  }
  // Under wait_lock().
  bool release(DWORD tid) {
    if (owner_ != tid || owner_ == 0) return false;
    if (--recursion_ == 0) {
      owner_ = 0;
      owned_mutexes().erase(this);
      if (fd_ >= 0) {
        mark(0);
        unlock_file();
      }
      changed();
    }
    return true;
  }
  void abandon() {
    owner_ = 0;
    recursion_ = 0;
    abandoned_ = true;
    // The mark stays 1, so another process taking it sees the abandonment.
    if (fd_ >= 0) unlock_file();
    changed();
  }
  DWORD owner() const { return owner_; }

 private:
  bool lock_file() {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) return false;
    file_held_ = true;
    char byte = 0;
    died_elsewhere_ = ::pread(fd_, &byte, 1, 0) == 1 && byte == 1;
    return true;
  }
  void unlock_file() {
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    ::fcntl(fd_, F_OFD_SETLK, &fl);
    file_held_ = false;
  }
  void mark(char value) {
    (void)!::pwrite(fd_, &value, 1, 0);
  }

  DWORD owner_ = 0;
  DWORD recursion_ = 0;
  bool abandoned_ = false;
  int fd_ = -1;
  bool file_held_ = false;       // this process has the lock (owned, or about to be)
  bool died_elsewhere_ = false;  // the lock came from a process that died owning it
};

class SemaphoreObject : public Waitable {
 public:
  SemaphoreObject(LONG initial, LONG maximum) : count_(initial), max_(maximum) {}
  ObjectKind kind() const override { return ObjectKind::Semaphore; }
  bool signalled(DWORD) const override { return count_ > 0; }
  bool acquire(DWORD) override {
    --count_;
    return false;
  }
  // Under wait_lock().
  bool release(LONG n, LONG& previous) {
    previous = count_;
    if (n > max_ - count_) return false;
    count_ += n;
    changed();
    return true;
  }

 private:
  LONG count_;
  LONG max_;
};

// ---- named objects ----
// The namespace of this process. Sharing names with other processes plugs in
// here: find_or_make would consult the runtime folder for a name that this
// process does not know yet.
struct Names {
  std::mutex lock;
  std::unordered_map<std::u16string, std::weak_ptr<KernelObject>> map;
};

Names& names() {
  static auto* n = new Names;
  return *n;
}

std::u16string name_key(LPCWSTR name) {
  std::u16string s(name);
  static const std::u16string local = u"Local\\";
  if (s.compare(0, local.size(), local) == 0) s.erase(0, local.size());
  return s;
}

// Narrow object names are ASCII in practice; other bytes are taken as Latin-1.
std::u16string widen(LPCSTR s) {
  std::u16string out;
  for (; *s; ++s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return out;
}


// Creates an object, or opens the existing one of that name. Last error is 0 on
// a fresh creation and ERROR_ALREADY_EXISTS on an open, as callers test it.
template <class Make>
HANDLE create_named(LPCWSTR name, ObjectKind kind, Make make) {
  if (!name || !*name) {
    std::shared_ptr<KernelObject> obj = make();
    HANDLE h = handle_insert(std::move(obj));
    SetLastError(ERROR_SUCCESS);
    return h;
  }
  if (!valid_object_name(name)) return nullptr;
  std::u16string key = name_key(name);
  Names& n = names();
  std::shared_ptr<KernelObject> obj;
  bool existed = false;
  {
    std::lock_guard<std::mutex> g(n.lock);
    auto it = n.map.find(key);
    if (it != n.map.end()) obj = it->second.lock();
    if (obj) {
      if (obj->kind() != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      existed = true;
    } else {
      obj = make();
      if (n.map.size() >= 64 && it == n.map.end()) {
        for (auto e = n.map.begin(); e != n.map.end();) e = e->second.expired() ? n.map.erase(e) : std::next(e);
      }
      n.map[key] = obj;
    }
  }
  HANDLE h = handle_insert(std::move(obj));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE open_named(LPCWSTR name, ObjectKind kind, DWORD access) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!valid_object_name(name)) return nullptr;
  std::shared_ptr<KernelObject> obj;
  {
    Names& n = names();
    std::lock_guard<std::mutex> g(n.lock);
    auto it = n.map.find(name_key(name));
    if (it != n.map.end()) obj = it->second.lock();
  }
  if (!obj) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (obj->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return handle_insert(std::move(obj), access);
}

// Generic rights of each kind, as OpenEvent and its relatives map them.
constexpr DWORD kReadControl = 0x00020000;
constexpr DWORD kSynchronize = 0x00100000;
DWORD event_access(DWORD asked) {
  return map_generic_access(asked, kReadControl | 0x0001, kReadControl | EVENT_MODIFY_STATE,
                            kReadControl | kSynchronize, EVENT_ALL_ACCESS);
}
DWORD mutex_access(DWORD asked) {
  return map_generic_access(asked, kReadControl | 0x0001, kReadControl, kReadControl | kSynchronize,
                            MUTEX_ALL_ACCESS);
}
DWORD semaphore_access(DWORD asked) {
  return map_generic_access(asked, kReadControl | 0x0001, kReadControl | SEMAPHORE_MODIFY_STATE,
                            kReadControl | kSynchronize, SEMAPHORE_ALL_ACCESS);
}

std::shared_ptr<Signal> event_of(HANDLE h) {
  DWORD access = 0;
  auto s = std::dynamic_pointer_cast<Signal>(handle_lookup(h, access));
  if (!s || s->kind() != ObjectKind::Event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!(access & EVENT_MODIFY_STATE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return s;
}

// The waitable object behind a handle; a handle without SYNCHRONIZE gives
// ERROR_ACCESS_DENIED, one naming nothing waitable ERROR_INVALID_HANDLE.
std::shared_ptr<Waitable> waitable_of(HANDLE h, DWORD& error) {
  error = 0;
  if (h == GetCurrentThread()) return detail::current_thread_shared();
  DWORD access = 0;
  auto o = std::dynamic_pointer_cast<Waitable>(handle_lookup(h, access));
  if (!o) {
    error = ERROR_INVALID_HANDLE;
  } else if (!(access & kSynchronize)) {
    error = ERROR_ACCESS_DENIED;
    o.reset();
  }
  return o;
}

std::shared_ptr<Waitable> waitable_of(HANDLE h) {
  DWORD error;
  return waitable_of(h, error);
}

}  // namespace

bool valid_object_name(const char16_t* name) {
  std::u16string_view s(name);
  if (s.size() > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // After a Global\ or Local\ prefix the name is one component: a leading
  // backslash is a bad path, one further in a path that does not exist.
  for (std::u16string_view prefix : {u"Global\\", u"Local\\"}) {
    if (s.substr(0, prefix.size()) == prefix) {
      s.remove_prefix(prefix.size());
      break;
    }
  }
  if (!s.empty() && s.front() == u'\\') {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  if (s.find(u'\\') != std::u16string_view::npos) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

std::size_t waiter_count(HANDLE h) {
  auto o = waitable_of(h);
  if (!o) return 0;
  std::lock_guard<std::mutex> g(wait_lock());
  return WaitCore::waiters(*o);
}

namespace detail {

void abandon_mutexes(DWORD tid) {
  std::lock_guard<std::mutex> g(wait_lock());
  auto& owned = owned_mutexes();
  std::vector<MutexObject*> mine;
  for (MutexObject* m : owned)
    if (m->owner() == tid) mine.push_back(m);
  for (MutexObject* m : mine) {
    owned.erase(m);
    m->abandon();
  }
}

}  // namespace detail
}  // namespace win32

using win32::ObjectKind;

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, FALSE);
}

DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
  return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, bAlertable);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
                               BOOL bAlertable) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<win32::Waitable>> objects;
  objects.reserve(nCount);
  for (DWORD i = 0; i < nCount; ++i) {
    DWORD error = 0;
    auto o = win32::waitable_of(lpHandles[i], error);
    if (!o) {
      SetLastError(error);
      return WAIT_FAILED;
    }
    if (bWaitAll && std::find(objects.begin(), objects.end(), o) != objects.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(o));
  }
  return win32::wait_objects(objects, bWaitAll != FALSE, dwMilliseconds, bAlertable != FALSE);
}

// ---- events ----

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  return win32::create_named(lpName, ObjectKind::Event, [&] {
    return std::make_shared<win32::Signal>(ObjectKind::Event, bManualReset != FALSE, bInitialState != FALSE);
  });
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  if (!lpName) return CreateEventW(sa, bManualReset, bInitialState, nullptr);
  return CreateEventW(sa, bManualReset, bInitialState, win32::widen(lpName).c_str());
}

HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  return win32::open_named(lpName, ObjectKind::Event, win32::event_access(dwDesiredAccess));
}

HANDLE OpenEventA(DWORD access, BOOL inherit, LPCSTR lpName) {
  if (!lpName) return OpenEventW(access, inherit, nullptr);
  return OpenEventW(access, inherit, win32::widen(lpName).c_str());
}

BOOL SetEvent(HANDLE hEvent) {
  auto e = win32::event_of(hEvent);
  if (!e) return FALSE;
  e->set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto e = win32::event_of(hEvent);
  if (!e) return FALSE;
  e->reset();
  return TRUE;
}

BOOL PulseEvent(HANDLE hEvent) {
  auto e = win32::event_of(hEvent);
  if (!e) return FALSE;
  e->pulse();
  return TRUE;
}

// ---- mutexes ----

namespace {

// A named mutex is also known to the other processes of the world: each
// process holding the name keeps a shared lock on a file of the world's
// run/mutexes folder, so a create elsewhere reports ERROR_ALREADY_EXISTS, and
// ownership is a lock on that same file's first byte (see MutexObject).
std::string mutex_file(const std::u16string& name) {
  std::u16string bare = name;
  for (const char16_t* prefix : {u"Global\\", u"Local\\"}) {
    const std::u16string p = prefix;
    if (bare.compare(0, p.size(), p) == 0) {
      bare = bare.substr(p.size());
      break;
    }
  }
  std::string file;
  static const char hex[] = "0123456789ABCDEF";
  for (char16_t c : bare) {
    if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u'-') {
      file += static_cast<char>(c);
    } else {
      file += '%';
      for (int shift = 12; shift >= 0; shift -= 4) file += hex[(c >> shift) & 15];
    }
  }
  return win32::world_root() + "/run/mutexes/m" + file;
}

// Joins the name's holders; true when another process holds it already. A
// name nobody held starts out unowned, whatever an earlier run left in it.
bool held_elsewhere(const std::string& path) {
  static std::mutex guard;
  static std::unordered_map<std::string, int> held;  // by file; kept until the process ends
  std::lock_guard<std::mutex> g(guard);
  if (held.count(path)) return false;
  const std::string folder = win32::world_root() + "/run/mutexes";
  ::mkdir((win32::world_root() + "/run").c_str(), 0777);
  ::mkdir(folder.c_str(), 0700);
  const int lock = ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return false;
  ::flock(lock, LOCK_EX);
  bool elsewhere = false;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    elsewhere = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!elsewhere) (void)!::ftruncate(fd, 0);
    ::flock(fd, LOCK_SH);
    held[path] = fd;
  }
  ::close(lock);
  return elsewhere;
}

// Some other process holds the name now.
bool known_elsewhere(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return held;
}

}  // namespace

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
  std::string path;
  bool elsewhere = false;
  if (lpName && *lpName) {
    if (!win32::valid_object_name(lpName)) return nullptr;
    path = mutex_file(lpName);
    elsewhere = held_elsewhere(path);
  }
  HANDLE h = win32::create_named(lpName, ObjectKind::Mutex, [&] {
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    auto m = fd >= 0 ? std::make_shared<win32::MutexObject>(fd) : std::make_shared<win32::MutexObject>();
    if (bInitialOwner && !elsewhere) {
      win32::detail::ensure_thread_state();
      std::lock_guard<std::mutex> g(win32::wait_lock());
      const DWORD tid = win32::detail::current_thread_id();
      if (m->signalled(tid)) m->acquire(tid);
    }
    return m;
  });
  if (h && elsewhere) SetLastError(ERROR_ALREADY_EXISTS);
  return h;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES sa, BOOL bInitialOwner, LPCSTR lpName) {
  if (!lpName) return CreateMutexW(sa, bInitialOwner, nullptr);
  return CreateMutexW(sa, bInitialOwner, win32::widen(lpName).c_str());
}

HANDLE OpenMutexW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  const DWORD access = win32::mutex_access(dwDesiredAccess);
  HANDLE h = win32::open_named(lpName, ObjectKind::Mutex, access);
  if (h || GetLastError() != ERROR_FILE_NOT_FOUND || !lpName) return h;
  if (!known_elsewhere(mutex_file(lpName))) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  h = CreateMutexW(nullptr, FALSE, lpName);
  if (h) {
    // Known only elsewhere until now: this handle grants what was asked.
    HANDLE narrowed = nullptr;
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &narrowed, access, FALSE, DUPLICATE_CLOSE_SOURCE);
    h = narrowed;
    SetLastError(ERROR_SUCCESS);
  }
  return h;
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto m = win32::handle_lookup_as<win32::MutexObject>(hMutex);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool ok;
  {
    std::lock_guard<std::mutex> g(win32::wait_lock());
    ok = m->release(win32::detail::current_thread_id());
  }
  if (!ok) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

// ---- semaphores ----

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG lInitialCount, LONG lMaximumCount, LPCWSTR lpName) {
  if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return win32::create_named(lpName, ObjectKind::Semaphore, [&] {
    return std::make_shared<win32::SemaphoreObject>(lInitialCount, lMaximumCount);
  });
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES sa, LONG lInitialCount, LONG lMaximumCount, LPCSTR lpName) {
  if (!lpName) return CreateSemaphoreW(sa, lInitialCount, lMaximumCount, nullptr);
  return CreateSemaphoreW(sa, lInitialCount, lMaximumCount, win32::widen(lpName).c_str());
}

HANDLE OpenSemaphoreW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  return win32::open_named(lpName, ObjectKind::Semaphore, win32::semaphore_access(dwDesiredAccess));
}

BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount) {
  auto s = win32::handle_lookup_for<win32::SemaphoreObject>(hSemaphore, SEMAPHORE_MODIFY_STATE);
  if (!s) return FALSE;
  if (lReleaseCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LONG previous;
  bool ok;
  {
    std::lock_guard<std::mutex> g(win32::wait_lock());
    ok = s->release(lReleaseCount, previous);
  }
  if (!ok) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  if (lpPreviousCount) *lpPreviousCount = previous;
  return TRUE;
}
