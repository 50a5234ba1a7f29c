#include "system/timeout.h"

#include <atomic>
#include <memory>
#include <new>

#include <boost/weak_ptr.hpp>

#include "core/error.h"
#include "system/locks.h"

namespace Common {

class TimeoutMonitor;

class TimeoutImpl {
 public:
  TimeoutImpl(ThreadFunction callback, void* argument, DWORD interval, bool asynchronous);
  ~TimeoutImpl();

  void arm();
  void fire(bool forced);
  void cancel();

  boost::weak_ptr<TimeoutImpl> self;
  ThreadFunction callback;
  void* argument;
  boost::shared_ptr<TimeoutMonitor> monitor;
  std::unique_ptr<ThreadAccessor> firing;
  TimeoutImpl* next = nullptr;
  CriticalSection cs;
  int state = 0;  // 0 idle, 1 armed, 2 callback running
  DWORD interval;
  std::int32_t result = 0;
  DWORD start = 0;
  bool asynchronous;
};

namespace {

std::atomic<int> monitorsRunning{0};
std::atomic<void (*)()> handOffHook{nullptr};

// Signed age of `tick` at `now`: negative when `tick` lies after `now`, which a
// time-out armed while the monitor was between two looks at the clock can do.
inline std::int32_t age(DWORD now, DWORD tick) { return static_cast<std::int32_t>(now - tick); }

}  // namespace

// The monitor's list and wake-up live in a block that the monitor loop holds
// too: the monitor object may die on its own thread (when that thread drops the
// last time-out), and the loop must then still find its list and lock.
class TimeoutMonitor {
 public:
  struct Core {
    CriticalSection cs;
    Event wake{false, false};
    TimeoutImpl* head = nullptr;
    std::atomic<std::uint8_t> stop{0};
  };

  TimeoutMonitor();
  ~TimeoutMonitor();
  static boost::shared_ptr<TimeoutMonitor> instance();

  void insert(TimeoutImpl* t);
  bool remove(TimeoutImpl* t);

 private:
  static std::int32_t run(void* coreRef);

  boost::shared_ptr<Core> core_;
  std::unique_ptr<ThreadAccessor> thread_;
};

namespace {
RecursiveLock monitorLock;
boost::weak_ptr<TimeoutMonitor>* currentMonitor;  // never freed

std::int32_t timeoutThreadStart(void* ref);

// The owners' handles share one count of their own, apart from the references
// the monitor and a firing thread take: when the last owner lets go, the
// time-out is cancelled and a firing on another thread is waited for, so the
// callback never runs on an argument its owner freed afterwards.
struct ReleaseByOwner {
  boost::shared_ptr<TimeoutImpl> impl;
  void operator()(TimeoutImpl* t) {
    std::unique_ptr<ThreadAccessor> firing;
    {
      CriticalSectionLock guard(t->cs);
      t->cancel();
      // A callback released its own last handle: it must not wait for itself.
      if (t->firing && t->firing->id() != GetCurrentThreadId()) firing = std::move(t->firing);
    }
    if (firing) firing->join();
    impl.reset();
  }
};
}  // namespace

// --- TimeoutMonitor ----------------------------------------------------------

TimeoutMonitor::TimeoutMonitor() : core_(new Core) {
  auto* ref = new boost::shared_ptr<Core>(core_);
  try {
    thread_ = createPooledThread(&TimeoutMonitor::run, ref, 2);
  } catch (...) {
    delete ref;
    throw;
  }
}

TimeoutMonitor::~TimeoutMonitor() {
  core_->stop.store(1);
  core_->wake.set();
  // Never join the monitor thread from itself: it ends on its own once it sees
  // the stop flag, and keeps the core alive until then.
  if (thread_->id() != GetCurrentThreadId()) thread_->join();
  thread_.reset();
  core_.reset();
}

boost::shared_ptr<TimeoutMonitor> TimeoutMonitor::instance() {
  RecursiveLockGuard guard(monitorLock);
  if (!currentMonitor) currentMonitor = new boost::weak_ptr<TimeoutMonitor>;
  boost::shared_ptr<TimeoutMonitor> m = currentMonitor->lock();
  if (!m) {
    m.reset(new TimeoutMonitor);
    *currentMonitor = m;
  }
  return m;
}

void TimeoutMonitor::insert(TimeoutImpl* n) {
  CriticalSectionLock guard(core_->cs);
  TimeoutImpl** link = &core_->head;
  // Entries already due at n's start (and, as one, entries armed a moment after
  // it, before it got the lock) ...
  while (*link && age(n->start, (*link)->start) >= 0 &&
         static_cast<DWORD>(age(n->start, (*link)->start)) >= (*link)->interval)
    link = &(*link)->next;
  // ... then entries due strictly before n. n goes ahead of equal deadlines.
  while (*link && (*link)->start + (*link)->interval - n->start < n->interval) link = &(*link)->next;
  n->next = *link;
  *link = n;
  if (link == &core_->head) core_->wake.set();
}

bool TimeoutMonitor::remove(TimeoutImpl* t) {
  CriticalSectionLock guard(core_->cs);
  for (TimeoutImpl** link = &core_->head; *link; link = &(*link)->next) {
    if (*link != t) continue;
    *link = t->next;
    t->next = nullptr;
    return true;
  }
  return false;
}

std::int32_t TimeoutMonitor::run(void* coreRef) {
  boost::shared_ptr<Core> core;
  {
    auto* ref = static_cast<boost::shared_ptr<Core>*>(coreRef);
    core.swap(*ref);
    delete ref;
  }
  monitorsRunning.fetch_add(1);
  core->wake.wait();
  while (!core->stop.load()) {
    DWORD wait = 0;
    {
      core->cs.enter();
      // Read under the lock, so no entry in the list was armed after "now".
      DWORD now = GetTickCount();
      while (TimeoutImpl* h = core->head) {
        std::int32_t elapsed = age(now, h->start);
        if (elapsed < 0 || static_cast<DWORD>(elapsed) < h->interval) break;
        core->head = h->next;
        h->next = nullptr;
        boost::shared_ptr<TimeoutImpl> ref = h->self.lock();
        if (!ref) continue;  // its last handle is going: its own cancel finds it gone
        core->cs.leave();
        h->fire(false);
        core->cs.enter();
        ref.reset();  // may destroy the time-out, and with it this monitor object
      }
      if (TimeoutImpl* h = core->head) {
        wait = h->start + h->interval - now;
        if (wait == 0) wait = 1;
      }
      core->cs.leave();
    }
    if (core->stop.load()) break;
    if (wait)
      core->wake.waitFor(wait);
    else
      core->wake.wait();
  }
  monitorsRunning.fetch_sub(1);
  return 0;
}

// --- TimeoutImpl -------------------------------------------------------------

TimeoutImpl::TimeoutImpl(ThreadFunction callback, void* argument, DWORD interval, bool asynchronous)
    : callback(callback),
      argument(argument),
      monitor(TimeoutMonitor::instance()),
      interval(interval),
      asynchronous(asynchronous) {}

TimeoutImpl::~TimeoutImpl() {
  firing.reset();
  monitor.reset();
}

void TimeoutImpl::arm() {
  CriticalSectionLock guard(cs);
  state = 1;
  start = GetTickCount();
  monitor->insert(this);
}

void TimeoutImpl::fire(bool forced) {
  CriticalSectionLock guard(cs);
  if (state == 0) return;
  if (!forced && asynchronous) {
    auto* ref = new (std::nothrow) boost::shared_ptr<TimeoutImpl>(self.lock());
    if (ref && *ref) {
      try {
        firing = createPooledThread(timeoutThreadStart, ref, 2);  // the previous handle goes without waiting
        return;
      } catch (const Error&) {
        // No pooled thread to be had: fire here rather than never.
      }
    }
    delete ref;
  }
  state = 2;
  result = callback(argument);
  state = 0;
}

void TimeoutImpl::cancel() {
  CriticalSectionLock guard(cs);
  if (state == 1) {
    state = 0;
    monitor->remove(this);
  }
}

namespace {

std::int32_t timeoutThreadStart(void* p) {
  auto* ref = static_cast<boost::shared_ptr<TimeoutImpl>*>(p);
  if (void (*hook)() = handOffHook.load()) hook();
  (*ref)->fire(true);
  delete ref;  // may be the last reference: the time-out then goes on this thread
  return 0;
}

}  // namespace

// --- Interface ---------------------------------------------------------------

void startTimeout(Timeout& out, ThreadFunction callback, void* argument, DWORD intervalMs, bool asynchronous) {
  boost::shared_ptr<TimeoutImpl> impl(new TimeoutImpl(callback, argument, intervalMs, asynchronous));
  impl->self = impl;
  Timeout t(impl.get(), ReleaseByOwner{impl});
  // The caller's handle is in place before the callback can run.
  out = t;
  t->arm();
}

void cancelTimeout(const Timeout& timeout) {
  if (timeout) timeout->cancel();
}

namespace detail {
int timeoutMonitorsRunning() { return monitorsRunning.load(); }
void setTimeoutHandOffHook(void (*hook)()) { handOffHook.store(hook); }
}  // namespace detail

}  // namespace Common
