// The process-wide worker pool behind Common::createPooledThread.
#include <atomic>
#include <cstdlib>
#include <new>

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include "core/error.h"
#include "system/lockfree_stack.h"
#include "system/locks.h"
#include "system/thread.h"

namespace Common {
namespace {

// Workers released by their handle are parked only while no more than this many
// are idle.
constexpr int kMaxIdleOnHandleRelease = 42;
// Pauses (about 20 ns each) an idle worker stays awake looking for new work.
constexpr int kIdleSpins = 250;

class PoolImpl;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

std::atomic<int> liveWorkers{0};

// Worker memory is never given back to the heap: a pop racing with another may
// read the link of a worker that was just taken (and destroyed), so the blocks
// stay readable, and are reused for later workers.
LockFreeStack deadWorkerBlocks;

struct PoolWorker {
  PoolWorker* link;  // the idle stack's link; first field, never touched by the constructor
  boost::shared_ptr<PoolImpl> pool;
  ThreadFunction function = nullptr;
  void* argument = nullptr;
  Thread* thread = nullptr;
  Event done{true, true};
  // The done event is set only when a handle waits on it: the handle looks at
  // `finished` first and counts itself in `doneWaiters` before it sleeps.
  std::uint8_t finished = 1;
  std::int32_t doneWaiters = 0;
  std::uint8_t doneSignalled = 1;  // the event's state, kept by the worker and the hand-over
  Event work{false, false};
  std::uint8_t posted = 0;  // set after the work event, for an idle worker still awake
  std::int32_t refs = 0;
  int priority = 2;
  std::int32_t result = -1;
  std::uint8_t stop = 0;

  static PoolWorker* create();
  void destroy();
  void release(bool fromHandle);
  static std::int32_t run(void* self);
};

class PoolImpl : public boost::enable_shared_from_this<PoolImpl> {
 public:
  PoolImpl() { LockFreeStack::init(&idle_); }
  ~PoolImpl() {
    while (void* w = LockFreeStack::pop(&idle_)) {
      idleCount_.fetch_sub(1);
      static_cast<PoolWorker*>(w)->destroy();
    }
  }

  PoolWorker* takeWorker(ThreadFunction function, void* argument, int priority);
  void park(PoolWorker* w) {
    LockFreeStack::push(&idle_, w);
    idleCount_.fetch_add(1);
  }
  int idleCount() const { return idleCount_.load(); }

 private:
  LockFreeStack idle_;
  std::atomic<int> idleCount_{0};
};

PoolWorker* PoolWorker::create() {
  void* block = LockFreeStack::pop(&deadWorkerBlocks);
  if (!block) block = ::operator new(sizeof(PoolWorker), std::nothrow);
  if (!block) return nullptr;
  PoolWorker* w = new (block) PoolWorker;
  w->thread = new (std::nothrow) Thread(&PoolWorker::run, w);
  if (!w->thread || w->thread->id() == 0) {
    // No thread to carry work: the worker is of no use.
    delete w->thread;
    w->thread = nullptr;
    w->~PoolWorker();
    LockFreeStack::push(&deadWorkerBlocks, block);
    return nullptr;
  }
  liveWorkers.fetch_add(1);
  return w;
}

void PoolWorker::destroy() {
  if (thread->id() == GetCurrentThreadId()) {
    // The pool ended on this worker's own thread (its loop let go of the last
    // pool reference): it cannot join itself, so its loop ends and frees it.
    __atomic_store_n(&stop, 2, __ATOMIC_RELEASE);
    work.set();
    return;
  }
  __atomic_store_n(&stop, 1, __ATOMIC_RELEASE);
  work.set();
  thread->join();
  delete thread;
  thread = nullptr;
  pool.reset();
  this->~PoolWorker();
  liveWorkers.fetch_sub(1);
  LockFreeStack::push(&deadWorkerBlocks, this);
}

void PoolWorker::release(bool fromHandle) {
  if (__atomic_sub_fetch(&refs, 1, __ATOMIC_ACQ_REL) != 0) return;
  boost::shared_ptr<PoolImpl> p;
  p.swap(pool);
  if (fromHandle && p->idleCount() > kMaxIdleOnHandleRelease)
    destroy();
  else
    p->park(this);
  // Letting go of the pool here may end it (at exit, when this was the last user).
}

std::int32_t PoolWorker::run(void* self) {
  PoolWorker* w = static_cast<PoolWorker*>(self);
  for (;;) {
    // Work often comes again soon: stay awake for a moment, so that a hand-over
    // need not wake this thread. Kept short: a spinning thread that loses the
    // processor to others comes back later than a woken one would.
    for (int i = 0; i < kIdleSpins && !__atomic_load_n(&w->posted, __ATOMIC_ACQUIRE); ++i) cpuRelax();
    w->work.wait();
    __atomic_store_n(&w->posted, 0, __ATOMIC_RELAXED);
    std::uint8_t stop = __atomic_load_n(&w->stop, __ATOMIC_ACQUIRE);
    if (stop == 2) {
      delete w->thread;  // never waits; the thread itself lets go of its control block
      w->~PoolWorker();
      liveWorkers.fetch_sub(1);
      LockFreeStack::push(&deadWorkerBlocks, w);
      return 0;
    }
    if (stop) break;
    int priority = w->priority;
    if (priority != 2) setThreadPriority(GetCurrentThread(), priority);
    std::int32_t r = w->function(w->argument);
    __atomic_store_n(&w->result, r, __ATOMIC_RELEASE);
    if (priority != 2) setThreadPriority(GetCurrentThread(), 2);
    __atomic_store_n(&w->finished, 1, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&w->doneWaiters, __ATOMIC_SEQ_CST) > 0) {
      w->doneSignalled = 1;
      w->done.set();
    }
    if (__atomic_load_n(&w->stop, __ATOMIC_ACQUIRE)) break;
    w->release(false);
  }
  return 0;
}

PoolWorker* PoolImpl::takeWorker(ThreadFunction function, void* argument, int priority) {
  PoolWorker* w = static_cast<PoolWorker*>(LockFreeStack::pop(&idle_));
  if (w)
    idleCount_.fetch_sub(1);
  else
    w = PoolWorker::create();
  if (!w) return nullptr;
  w->pool = shared_from_this();
  __atomic_store_n(&w->result, -1, __ATOMIC_RELAXED);
  __atomic_store_n(&w->refs, 2, __ATOMIC_RELAXED);
  w->function = function;
  w->argument = argument;
  w->priority = priority;
  __atomic_store_n(&w->finished, 0, __ATOMIC_RELAXED);
  if (w->doneSignalled) {
    w->doneSignalled = 0;
    w->done.reset();
  }
  w->work.set();
  __atomic_store_n(&w->posted, 1, __ATOMIC_RELEASE);
  return w;
}

// The process-wide pool: made on first use under a construction-free lock,
// released at exit. Busy workers keep it alive until they give themselves back.
RecursiveLock poolLock;
boost::shared_ptr<PoolImpl>* poolRef;  // never freed, so late users find it
bool poolReleasedAtExit;

void releasePoolAtExit() {
  boost::shared_ptr<PoolImpl> last;
  {
    RecursiveLockGuard guard(poolLock);
    if (poolRef) last.swap(*poolRef);
  }
}

boost::shared_ptr<PoolImpl> poolInstance() {
  RecursiveLockGuard guard(poolLock);
  if (!poolRef) poolRef = new boost::shared_ptr<PoolImpl>;
  if (!*poolRef) {
    *poolRef = boost::shared_ptr<PoolImpl>(new PoolImpl);
    if (!poolReleasedAtExit) {
      poolReleasedAtExit = true;
      std::atexit(releasePoolAtExit);
    }
  }
  return *poolRef;
}

struct WorkerHolder {
  PoolWorker* worker;
};

class ThreadAccessorImpl : public ThreadAccessor {
  static constexpr int kJoinSpins = 1000;  // about 20 us

  bool finished() const { return __atomic_load_n(&holder_->worker->finished, __ATOMIC_SEQ_CST) != 0; }

  // Short work often ends within a few microseconds: look for that before
  // going to sleep on the done event.
  bool finishedSoon(int spins) const {
    for (int i = 0; i < spins; ++i) {
      if (finished()) return true;
      cpuRelax();
    }
    return false;
  }

  bool sleepUntilDone(DWORD milliseconds) {
    PoolWorker* w = holder_->worker;
    __atomic_add_fetch(&w->doneWaiters, 1, __ATOMIC_SEQ_CST);
    bool done = finished() || w->done.waitFor(milliseconds);
    __atomic_sub_fetch(&w->doneWaiters, 1, __ATOMIC_SEQ_CST);
    return done;
  }

 public:
  explicit ThreadAccessorImpl(WorkerHolder* holder) : holder_(holder) {}
  ~ThreadAccessorImpl() override {
    // Finished work whose loop is about to let go: let it, so that this release
    // parks the worker at once and the caller's next work finds it awake.
    PoolWorker* w = holder_->worker;
    if (finished())
      for (int i = 0; i < kJoinSpins && __atomic_load_n(&w->refs, __ATOMIC_ACQUIRE) == 2; ++i) cpuRelax();
    w->release(true);
    delete holder_;
  }
  bool wait(DWORD milliseconds) override {
    if (milliseconds == 0) return finished();
    return finishedSoon(kJoinSpins) || sleepUntilDone(milliseconds);
  }
  void join() override {
    if (!finishedSoon(kJoinSpins)) sleepUntilDone(INFINITE);
  }
  void terminate() override {}
  DWORD id() override { return holder_->worker->thread->id(); }
  void setPriority(int) override {}
  int getPriority() override { return holder_->worker->priority; }
  std::int32_t result() override { return __atomic_load_n(&holder_->worker->result, __ATOMIC_ACQUIRE); }

 private:
  WorkerHolder* holder_;
};

}  // namespace

std::unique_ptr<ThreadAccessor> createPooledThread(ThreadFunction function, void* argument, int priorityClass) {
  boost::shared_ptr<PoolImpl> pool = poolInstance();
  PoolWorker* w = pool->takeWorker(function, argument, priorityClass);
  if (!w) throw Error(KV_SITE, 7);
  WorkerHolder* holder = new (std::nothrow) WorkerHolder{w};
  ThreadAccessorImpl* handle = holder ? new (std::nothrow) ThreadAccessorImpl(holder) : nullptr;
  if (!handle) {
    delete holder;
    w->release(true);
    throw Error(KV_SITE, 7);
  }
  return std::unique_ptr<ThreadAccessor>(handle);
}

namespace detail {
int poolIdleCount() { return poolInstance()->idleCount(); }
int poolWorkerCount() { return liveWorkers.load(); }
}  // namespace detail

}  // namespace Common
