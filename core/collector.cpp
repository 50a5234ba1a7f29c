#include "core/collector.h"

#include <algorithm>
#include <functional>
#include <new>
#include <set>
#include <vector>

#include "core/error.h"
#include "core/thread.h"
#include "platform/win32/windows.h"
#include "system/lockfree_stack.h"
#include "system/locks.h"

namespace Processor {
namespace GC {

namespace {

// Node state bits; the low 24 bits count the mutator operations in progress.
constexpr std::uint32_t kDead = 0x80000000u;
constexpr std::uint32_t kQueued = 0x40000000u;
constexpr std::uint32_t kCondemned = 0x20000000u;
constexpr std::uint32_t kUnchanged = 0x10000000u;
constexpr std::uint32_t kScanning = 0x08000000u;
constexpr std::uint32_t kUndisturbedMask = 0x10FFFFFFu;
constexpr std::uint32_t kRestoreMask = 0xD7FFFFFFu;

// Mark bits: lowest kind by which a pass reached the node, live, visited; the
// bits above hold a component number or an external count.
constexpr std::uint32_t kKindBits = 7;
constexpr std::uint32_t kLive = 0x8;
constexpr std::uint32_t kVisited = 0x10;
constexpr std::uint32_t kLowBits = 31;

constexpr std::uint32_t kDeletedFlag = 0x10000000u;
constexpr std::uint32_t kSerialMask = 0x7FFFFFFu;

constexpr std::uint32_t kKeptRecords = 100;
constexpr unsigned kBucketCount = 64;
constexpr std::int32_t kOperationsPerWake = 42;
constexpr DWORD kPassIntervalMs = 1000;
constexpr std::uintptr_t kStartupKey = 1;
constexpr int kWorkerPriority = 1;
constexpr DWORD kForkJoinMs = 5000;

enum RequestKind : std::uint32_t { kReleased = 0, kDestroyed = 1, kFreeMemory = 2 };

// Which list a node sits in.
enum Where : std::uint8_t { kNowhere = 0, kObjects = 1, kCandidates = 2, kSurvivors = 3 };

// Debug trace hook: the collector's narrow format texts with pointer arguments.
inline void trace(const char*, ...) {}

}  // namespace

struct Node {
  std::atomic<Node*> stackLink{nullptr};  // first field: the lock-free stacks' link
  Node* next = this;                      // list neighbours; itself and null when in no list
  Node* prev = nullptr;
  Link* members = nullptr;  // links owned by this object
  Link* weaks = nullptr;    // weak links targeting this object
  std::atomic<std::uint32_t> state{0};
  std::uint32_t mark = 0;  // collect lock only
  std::atomic<std::int32_t> inLinks{0};
  std::atomic<std::int32_t>* count = nullptr;
  std::uint8_t where = kNowhere;  // collect lock only
};

struct Link {
  std::atomic<Link*> next{nullptr};  // first field: stacks, the owner's member list or the target's weak list
  Node* owner = nullptr;             // null for a root link
  std::atomic<Node*> target{nullptr};
  std::atomic<std::uint32_t> kindWord{0};  // kind << 29 | deleted flag | serial
  void* user = nullptr;
  LinkCallback callback = nullptr;
};

struct Request {
  std::atomic<Request*> next{nullptr};
  std::uint32_t kind = 0;
  void* subject = nullptr;
};

namespace {

inline void pin(Node* n) { n->state.fetch_add(1); }
inline void unpin(Node* n) {
  n->state.fetch_and(~kUnchanged);
  n->state.fetch_sub(1);
}
inline bool undisturbed(const Node* n) { return (n->state.load() & kUndisturbedMask) == kUnchanged; }
inline std::int32_t countOf(const Node* n) { return n->count->load(); }
inline Node* targetOf(const Link* l) { return l->target.load(std::memory_order_acquire); }
inline unsigned kindOf(const Link* l) { return l->kindWord.load(std::memory_order_relaxed) >> 29; }
inline bool isDeleted(const Link* l) { return (l->kindWord.load() & kDeletedFlag) != 0; }
inline Link* nextOf(const Link* l) { return l->next.load(std::memory_order_relaxed); }
inline std::uint32_t numberOf(const Node* n) { return n->mark & ~kLowBits; }
inline void setNumber(Node* n, std::uint32_t number) { n->mark = (n->mark & kLowBits) | number; }
inline void lowerKind(Node* n, unsigned kind) {
  if (kind < (n->mark & kKindBits)) n->mark = (n->mark & ~kKindBits) | kind;
}

// Circular lists with a sentinel node.
inline bool listEmpty(const Node& head) { return head.next == &head; }
inline void initList(Node& head) {
  head.next = &head;
  head.prev = &head;
}
inline void unlinkNode(Node* n) {
  if (!n->prev) return;
  n->prev->next = n->next;
  n->next->prev = n->prev;
  n->next = n;
  n->prev = nullptr;
  n->where = kNowhere;
}
inline void appendNode(Node& head, Node* n, Where where) {
  unlinkNode(n);
  n->prev = head.prev;
  n->next = &head;
  head.prev->next = n;
  head.prev = n;
  n->where = where;
}

// Chains taken from a stack come newest first; queue order is the reverse.
template <class R>
R* reverseChain(R* r) {
  R* out = nullptr;
  while (r) {
    R* next = static_cast<R*>(Common::LockFreeStack::next(r));
    r->next.store(out, std::memory_order_relaxed);
    out = r;
    r = next;
  }
  return out;
}
Node* reverseNodes(Node* n) {
  Node* out = nullptr;
  while (n) {
    Node* next = n->stackLink.load(std::memory_order_relaxed);
    n->stackLink.store(out, std::memory_order_relaxed);
    out = n;
    n = next;
  }
  return out;
}

}  // namespace

class Collector : public RefObjectPublic {
 public:
  Collector();
  ~Collector() override;

  Node* createNode(std::atomic<std::int32_t>* count);
  Link* addLink(Node* owner, Node* target, unsigned kind, void* user, LinkCallback callback);
  void deleteLink(Link* link);
  bool releaseObject(Node* node, bool destroying);
  void resetLink(Link* link, Node* target, void* argument);
  void freeMemory(void* block);
  void lockLink(Link* link, void* out);
  void flush();
  void tick() {
    if (countdown_.fetch_sub(1) == 1 && running_.load(std::memory_order_relaxed)) wake_.set();
  }

  void startWorker();
  void stopWorker();
  // Around a fork: the worker is stopped before, so that no thread of the
  // parent holds a lock of the collector or its events when the child is made;
  // the parent then restarts it, the child runs its passes on its callers.
  void prepareFork();
  void afterFork(bool child);
  Statistics statistics();

 private:
  // Records reused through bounded free stacks. A record taken off a free stack
  // may still be read by a racing pop, so records are never freed while a pop
  // is in flight: surplus records are retired and freed later by a pass.
  struct FreeStack {
    Common::LockFreeStack stack;
    std::atomic<std::uint32_t> count{0};
    Common::LockFreeStack retired;
  };
  void* takeRecord(FreeStack& s);
  void recycleRecord(FreeStack& s, void* record);
  void freeRetired();
  template <class R>
  void freeChain(R* r);

  Request* newRequest();
  void queueRequest(std::uint32_t kind, void* subject);
  void recycleLink(Link* l) { recycleRecord(freeLinks_, l); }

  static std::int32_t workerEntry(void* self);
  void workerLoop();
  void launchWorker();
  void drainHere();
  bool workPending();
  void releaseWaiters();

  bool collectStep();
  void fullCollect();
  void processRequests();
  void absorbNew();
  void clearWeakLinks(Node* n);
  void removeDeletedLinks(Node& list);
  void freeNode(Node* n);
  void restore(Node* n);
  void restoreAll(Node& list);

  void visitFresh(Node* n, std::uint32_t number);
  void visitExternal(Node* n);
  void moveForRevisit(Node* n);
  void propagateLive(Node* p);
  bool relabelFrom(Node* p, Link* from);
  void markComponents();
  void markExternal();
  bool sweep();
  void destroyCandidates();
  void destroyCandidate(Node* p);

  // The links of the garbage set, grouped by target in the order of the
  // candidate list, so each candidate finds its holders without a walk over
  // the whole set.
  struct Holder {
    Node* target;
    Node* owner;
    Link* link;
  };
  void indexHolders();

  Common::ReadWriteLock& bucketOf(const Link* l) {
    return buckets_[l->kindWord.load(std::memory_order_relaxed) & (kBucketCount - 1)];
  }

  Node objects_, candidates_, survivors_;

  Common::CriticalSection weakLock_;
  Common::CriticalSection requestLock_;
  Common::CriticalSection collectLock_;
  // Keeps passes on one thread at a time, drop callbacks included.
  Common::CriticalSection passLock_;

  FreeStack freeRequests_, freeNodes_, freeLinks_;
  Common::LockFreeStack newNodes_, newLinks_, requests_;
  std::atomic<int> popsInFlight_{0};
  // Retired records waiting for no pop to be in flight (collect lock).
  Node* pendingNodes_ = nullptr;
  Link* pendingLinks_ = nullptr;
  Request* pendingRequests_ = nullptr;

  std::atomic<DWORD> collectingThread_{0};
  // While a garbage set is being destroyed (collect lock): records stay
  // allocated, since the holder index may still look at them.
  int destroying_ = 0;
  std::vector<Holder> holders_;
  Common::ReadWriteLock buckets_[kBucketCount];

  std::atomic<bool> running_{false};
  // Worker lock: the worker was stopped for a fork and starts again after it.
  bool paused_ = false;
  // Worker lock: a forked child, whose passes run on the threads that ask for
  // them, the final drain included.
  bool noWorker_ = false;
  int waiters_ = 0;
  Processor::ThreadImpl* worker_ = nullptr;
  Common::Event wake_{false, false};
  Common::Semaphore passes_{0};
  Common::CriticalSection workerLock_;
  std::atomic<std::int32_t> countdown_{kOperationsPerWake};

  std::atomic<std::uint64_t> passCount_{0};
  std::atomic<std::uint64_t> collected_{0};
  std::atomic<std::uint32_t> tracked_{0};
};

// ---- process-wide state ----------------------------------------------------

namespace {

std::atomic<Collector*> releasePointer{nullptr};
std::atomic<Collector*> creationPointer{nullptr};
std::atomic<std::uint32_t> linkSerial{0};
std::atomic<std::uintptr_t> startedWord{0};
// Set by the runtime's shutdown: no collector is started after it.
std::atomic<bool> closed{false};

constinit Common::RecursiveLock clientLock;
constinit Common::RecursiveLock nodeCreationLock;
struct ClientRegistry {
  std::uintptr_t count = 0;
  std::set<std::uintptr_t> keys;
};
ClientRegistry* clients = nullptr;
std::atomic<bool> workerStartAllowed{false};
std::atomic<bool> workerStartPending{false};

// The collector held from before a fork until after it, by the forking thread.
thread_local Collector* forkCollector = nullptr;
void forkPrepare() {
  Collector* c = releasePointer.load();
  if (!c || !c->addRefIfAlive()) return;
  forkCollector = c;
  c->prepareFork();
}
void forkDone(bool child) {
  Collector* c = forkCollector;
  if (!c) return;
  forkCollector = nullptr;
  c->afterFork(child);
  c->release();
}
void forkParent() { forkDone(false); }
void forkChild() { forkDone(true); }

// A counted reference on the collector for the length of one entry point.
class Hold {
 public:
  explicit Hold(std::atomic<Collector*>& pointer) {
    Collector* c = pointer.load(std::memory_order_acquire);
    if (c && c->addRefIfAlive()) c_ = c;
  }
  ~Hold() {
    if (c_) c_->release();
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  Collector* operator->() const { return c_; }
  explicit operator bool() const { return c_ != nullptr; }

 private:
  Collector* c_ = nullptr;
};

}  // namespace

// ---- Collector: records ------------------------------------------------------

Collector::Collector() {
  initList(objects_);
  initList(candidates_);
  initList(survivors_);
  for (FreeStack* s : {&freeRequests_, &freeNodes_, &freeLinks_}) {
    Common::LockFreeStack::init(&s->stack);
    Common::LockFreeStack::init(&s->retired);
  }
  Common::LockFreeStack::init(&newNodes_);
  Common::LockFreeStack::init(&newLinks_);
  Common::LockFreeStack::init(&requests_);
}

template <class R>
void Collector::freeChain(R* r) {
  while (r) {
    R* next = static_cast<R*>(Common::LockFreeStack::next(r));
    delete r;
    r = next;
  }
}

Collector::~Collector() {
  Processor::Thread* t;
  {
    Common::CriticalSectionLock guard(workerLock_);
    t = worker_;
    worker_ = nullptr;
    Collector* self = this;
    releasePointer.compare_exchange_strong(self, nullptr);
    self = this;
    creationPointer.compare_exchange_strong(self, nullptr);
  }
  // The worker has ended, or is this very thread, which is not waited for.
  delete t;
  freeChain(static_cast<Node*>(Common::LockFreeStack::popAll(&freeNodes_.stack)));
  freeChain(static_cast<Node*>(Common::LockFreeStack::popAll(&freeNodes_.retired)));
  freeChain(pendingNodes_);
  freeChain(static_cast<Link*>(Common::LockFreeStack::popAll(&freeLinks_.stack)));
  freeChain(static_cast<Link*>(Common::LockFreeStack::popAll(&freeLinks_.retired)));
  freeChain(pendingLinks_);
  freeChain(static_cast<Request*>(Common::LockFreeStack::popAll(&freeRequests_.stack)));
  freeChain(static_cast<Request*>(Common::LockFreeStack::popAll(&freeRequests_.retired)));
  freeChain(pendingRequests_);
}

void* Collector::takeRecord(FreeStack& s) {
  popsInFlight_.fetch_add(1);
  void* r = Common::LockFreeStack::pop(&s.stack);
  popsInFlight_.fetch_sub(1);
  if (r) s.count.fetch_sub(1);
  return r;
}

void Collector::recycleRecord(FreeStack& s, void* record) {
  // Kept while the stack holds 100 or fewer, so it never exceeds 101.
  if (s.count.fetch_add(1) <= kKeptRecords) {
    Common::LockFreeStack::push(&s.stack, record);
  } else {
    s.count.fetch_sub(1);
    Common::LockFreeStack::push(&s.retired, record);
  }
}

namespace {
inline void setFirst(void* record, void* value) {
  __atomic_store_n(static_cast<void**>(record), value, __ATOMIC_RELAXED);
}
// Puts a chain taken from a stack in front of a pending chain.
template <class R>
R* prependChain(R* chain, R* pending) {
  if (!chain) return pending;
  R* last = chain;
  while (R* next = static_cast<R*>(Common::LockFreeStack::next(last))) last = next;
  setFirst(last, pending);
  return chain;
}
}  // namespace

// Collect lock held. The retired records are taken first and the pops checked
// after: a pop that could still read one of them started before that record
// left its free stack, so it would be in flight now.
void Collector::freeRetired() {
  pendingNodes_ = prependChain(static_cast<Node*>(Common::LockFreeStack::popAll(&freeNodes_.retired)), pendingNodes_);
  pendingLinks_ = prependChain(static_cast<Link*>(Common::LockFreeStack::popAll(&freeLinks_.retired)), pendingLinks_);
  pendingRequests_ =
      prependChain(static_cast<Request*>(Common::LockFreeStack::popAll(&freeRequests_.retired)), pendingRequests_);
  if (popsInFlight_.load() != 0 || destroying_ > 0) return;
  freeChain(pendingNodes_);
  freeChain(pendingLinks_);
  freeChain(pendingRequests_);
  pendingNodes_ = nullptr;
  pendingLinks_ = nullptr;
  pendingRequests_ = nullptr;
}

Request* Collector::newRequest() {
  if (void* r = takeRecord(freeRequests_)) return static_cast<Request*>(r);
  return new (std::nothrow) Request;
}

void Collector::queueRequest(std::uint32_t kind, void* subject) {
  Request* r = newRequest();
  if (!r) return;  // out of memory: the block stays allocated, which is safe
  r->kind = kind;
  r->subject = subject;
  Common::LockFreeStack::push(&requests_, r);
}

// ---- Collector: mutator side ------------------------------------------------

Node* Collector::createNode(std::atomic<std::int32_t>* count) {
  Node* n = static_cast<Node*>(takeRecord(freeNodes_));
  if (n) {
    n->state.store(0);
    n->mark = 0;
    n->inLinks.store(0);
    n->count = count;
    trace("revive Object %p\n", n);
  } else {
    n = new (std::nothrow) Node;
    if (!n) return nullptr;
    n->count = count;
    trace("create Object %p\n", n);
  }
  Common::LockFreeStack::push(&newNodes_, n);
  return n;
}

Link* Collector::addLink(Node* owner, Node* target, unsigned kind, void* user, LinkCallback callback) {
  Link* l = static_cast<Link*>(takeRecord(freeLinks_));
  if (!l) l = new (std::nothrow) Link;
  if (!l) return nullptr;
  l->next.store(nullptr, std::memory_order_relaxed);
  l->owner = owner;
  l->target.store(target);
  l->kindWord.store((kind << 29) | ((linkSerial.fetch_add(1) + 1) & kSerialMask));
  l->user = user;
  l->callback = callback;
  if (kind != kWeakLink) {
    trace("Add(%p, %p)->%p\n", owner, target, l);
    if (!owner) return l;  // a root link joins no list
    Common::LockFreeStack::push(&newLinks_, l);
    if (target) {
      pin(target);
      target->inLinks.fetch_add(1);
      unpin(target);
    }
    return l;
  }
  trace("AddWeak(%p, %p)->%p\n", owner, target, l);
  Common::CriticalSectionLock guard(weakLock_);
  if (target) {
    if (target->state.load() & (kQueued | kCondemned)) {
      if (callback) callback(user, kSetTarget, nullptr);
      l->target.store(nullptr);
    } else {
      l->next.store(target->weaks, std::memory_order_relaxed);
      target->weaks = l;
    }
  }
  return l;
}

namespace {
// Weak lock held.
void unlinkWeak(Node* target, Link* l) {
  Link* before = nullptr;
  for (Link* at = target->weaks; at; before = at, at = nextOf(at)) {
    if (at != l) continue;
    if (before)
      before->next.store(nextOf(l), std::memory_order_relaxed);
    else
      target->weaks = nextOf(l);
    l->next.store(nullptr, std::memory_order_relaxed);
    return;
  }
}
}  // namespace

void Collector::deleteLink(Link* l) {
  trace("Delete member %p\n", l);
  unsigned kind = kindOf(l);
  if (kind != kWeakLink && l->owner) {
    // Stays in its owner's list until a pass takes it out.
    l->kindWord.fetch_or(kDeletedFlag);
    return;
  }
  if (kind == kWeakLink) {
    Common::CriticalSectionLock guard(weakLock_);
    if (Node* t = targetOf(l)) {
      unlinkWeak(t, l);
      l->target.store(nullptr);
    }
  }
  recycleLink(l);
}

bool Collector::releaseObject(Node* n, bool destroying) {
  trace("Release %p\n", n);
  if (collectingThread_.load() != currentThreadId()) {
    if (!destroying && (n->state.load() & kQueued)) return false;
    {
      Common::CriticalSectionLock guard(weakLock_);
      if (!destroying) {
        // Revived meanwhile (a weak link was locked): it lives on. Queued by
        // now: another last release won, and only one may destroy the object.
        if (countOf(n) > 0 || (n->state.load() & kQueued)) return false;
      }
      n->state.fetch_or(kQueued);
    }
    // The object goes at once; only this bookkeeping waits for a pass.
    queueRequest(destroying ? kDestroyed : kReleased, n);
    return true;
  }
  // On the collecting thread: an object dying while a garbage set is destroyed.
  Common::CriticalSectionLock guard(collectLock_);
  if (destroying) {
    if (!n->prev) absorbNew();
    while (Link* l = n->members) {
      n->members = nextOf(l);
      recycleLink(l);
    }
    if (n->weaks) clearWeakLinks(n);
    freeNode(n);
    return true;
  }
  if ((n->state.load() & kQueued) || countOf(n) > 0) return false;
  n->state.fetch_or(kDead | kQueued);
  clearWeakLinks(n);
  if (n->prev) restore(n);
  return true;
}

void Collector::resetLink(Link* l, Node* target, void* argument) {
  unsigned kind = kindOf(l);
  if (kind != kWeakLink) {
    Common::ReadWriteLock& bucket = bucketOf(l);
    bucket.lock();
    trace("Reset(%p, %p)\n", l, target);
    Node* owner = l->owner;
    if (!owner) {
      if (l->callback) l->callback(l->user, kSetTarget, argument);
      l->target.store(target);
      bucket.unlock();
      return;
    }
    pin(owner);
    Node* old = targetOf(l);
    if (old) {
      pin(old);
      old->inLinks.fetch_sub(1);
    }
    if (target) pin(target);
    if (l->callback) l->callback(l->user, kSetTarget, argument);
    l->target.store(target);
    if (target) {
      target->inLinks.fetch_add(1);
      unpin(target);
    }
    if (old) unpin(old);
    unpin(owner);
    bucket.unlock();
    return;
  }
  Common::CriticalSectionLock guard(weakLock_);
  trace("ResetWeak(%p, %p)\n", l, target);
  if (Node* old = targetOf(l)) unlinkWeak(old, l);
  if (l->callback) l->callback(l->user, kSetTarget, argument);
  l->target.store(target);
  if (target) {
    if (target->state.load() & (kQueued | kCondemned)) {
      if (l->callback) l->callback(l->user, kSetTarget, nullptr);
      l->target.store(nullptr);
    } else {
      l->next.store(target->weaks, std::memory_order_relaxed);
      target->weaks = l;
    }
  }
}

void Collector::freeMemory(void* block) {
  queueRequest(kFreeMemory, block);
  if (!running_.load()) {
    Common::CriticalSectionLock guard(collectLock_);
    processRequests();
  }
}

void Collector::lockLink(Link* l, void* out) {
  if (kindOf(l) != kWeakLink) {
    Common::ReadWriteLock& bucket = bucketOf(l);
    bucket.lockShared();
    Node* t = targetOf(l);
    if (t && !(t->state.load() & kQueued)) {
      pin(t);
      if (l->callback) l->callback(l->user, kLock, out);
      unpin(t);
    }
    bucket.unlockShared();
    return;
  }
  Common::CriticalSectionLock guard(weakLock_);
  Node* t = targetOf(l);
  if (!t || countOf(t) == 0) return;
  // Fails on a dying or condemned target; waits while a pass decides about it.
  std::uint32_t s = t->state.load();
  for (;;) {
    if (s & (kQueued | kCondemned)) return;
    if (s & kScanning) {
      SwitchToThread();
      s = t->state.load();
      continue;
    }
    if (t->state.compare_exchange_weak(s, s + 1)) break;
  }
  if (l->callback) l->callback(l->user, kLock, out);
  unpin(t);
}

// ---- Collector: worker -------------------------------------------------------

void Collector::startWorker() {
  Common::CriticalSectionLock guard(workerLock_);
  if (running_.load() || paused_ || noWorker_) return;
  releaseWaiters();
  launchWorker();
}

// Worker lock held.
void Collector::launchWorker() {
  running_.store(true);
  wake_.reset();
  Processor::ThreadImpl* t = Processor::ThreadImpl::create(false);
  delete worker_;
  worker_ = t;
  addRef();  // the thread's reference, dropped when its loop returns
  t->start(&Collector::workerEntry, this);
  t->setPriority(kWorkerPriority);
}

std::int32_t Collector::workerEntry(void* self) {
  Collector* c = static_cast<Collector*>(self);
  c->workerLock_.enter();
  c->workerLoop();
  c->release();
  return 0;
}

// Worker lock held.
void Collector::releaseWaiters() {
  if (waiters_ > 0) passes_.releaseMany(waiters_);
  waiters_ = 0;
}

bool Collector::workPending() {
  Common::CriticalSectionLock guard(collectLock_);
  return !listEmpty(candidates_) || Common::LockFreeStack::count(&requests_) != 0 ||
         __atomic_load_n(&requests_.top, __ATOMIC_ACQUIRE) != nullptr;
}

// Runs with the worker lock held, and leaves it at the end.
void Collector::workerLoop() {
  while (running_.load()) {
    do {
      while (collectStep()) {
      }
      workerLock_.leave();
      workerLock_.enter();
    } while (workPending());
    releaseWaiters();
    workerLock_.leave();
    wake_.waitFor(kPassIntervalMs);
    countdown_.store(kOperationsPerWake);
    workerLock_.enter();
  }
  if (paused_) {
    // Stopped for a fork: the waiters wait for the restarted worker.
    workerLock_.leave();
    return;
  }
  drainHere();
  workerLock_.leave();
}

// The final drain; worker lock held.
void Collector::drainHere() {
  do {
    fullCollect();
    workerLock_.leave();
    workerLock_.enter();
  } while (workPending());
  releaseWaiters();
}

void Collector::flush() {
  Common::CriticalSectionLock guard(workerLock_);
  if (running_.load() && worker_ && worker_->id() != currentThreadId()) {
    ++waiters_;
    wake_.set();
    workerLock_.leave();
    passes_.wait();
    workerLock_.enter();
  } else if (running_.load() || paused_ || noWorker_) {
    while (collectStep()) {
    }
  }
}

void Collector::stopWorker() {
  Processor::Thread* t;
  {
    Common::CriticalSectionLock guard(workerLock_);
    if (paused_ || noWorker_) {
      // No worker will run again: the caller does its final drain.
      paused_ = noWorker_ = false;
      drainHere();
      return;
    }
    if (running_.load()) {
      running_.store(false);
      wake_.set();
    }
    t = worker_;
  }
  if (t && t->id() != currentThreadId()) t->join();
}

void Collector::prepareFork() {
  workerLock_.enter();
  if (running_.load() && worker_ && worker_->id() != currentThreadId()) {
    paused_ = true;
    running_.store(false);
    wake_.set();
    Processor::ThreadImpl* t = worker_;
    workerLock_.leave();
    // Gone for good, so the child holds nothing of that thread (a leak
    // checker there would take what only its stack held for leaked).
    t->joinGone(kForkJoinMs);
    workerLock_.enter();
  }
  // Held across the fork, so the child finds them free: a pass or inline
  // request processing of another thread may hold them otherwise.
  passLock_.enter();
  collectLock_.enter();
  weakLock_.enter();
}

void Collector::afterFork(bool child) {
  weakLock_.leave();
  collectLock_.leave();
  passLock_.leave();
  if (child) {
    // Only this thread came along: nobody else waits for a pass.
    waiters_ = 0;
    if (paused_) {
      paused_ = false;
      noWorker_ = true;
    }
  } else if (paused_) {
    paused_ = false;
    launchWorker();
  }
  workerLock_.leave();
}

Statistics Collector::statistics() {
  Statistics s{};
  s.passes = passCount_.load();
  s.collected = collected_.load();
  s.trackedNodes = tracked_.load();
  s.freeNodes = Common::LockFreeStack::count(&freeNodes_.stack);
  s.freeLinks = Common::LockFreeStack::count(&freeLinks_.stack);
  s.freeRequests = Common::LockFreeStack::count(&freeRequests_.stack);
  s.workerRunning = running_.load();
  return s;
}

// ---- Collector: passes -------------------------------------------------------

bool Collector::collectStep() {
  Common::CriticalSectionLock pass(passLock_);
  Common::CriticalSectionLock guard(collectLock_);
  destroyCandidates();
  processRequests();
  markComponents();
  bool result = sweep();
  passCount_.fetch_add(1);
  return result;
}

void Collector::fullCollect() {
  Common::CriticalSectionLock pass(passLock_);
  Common::CriticalSectionLock guard(collectLock_);
  destroyCandidates();
  for (;;) {
    processRequests();
    markExternal();
    bool again = sweep();
    passCount_.fetch_add(1);
    if (!again || __atomic_load_n(&requests_.top, __ATOMIC_ACQUIRE) == nullptr) break;
  }
}

// Collect lock held.
void Collector::processRequests() {
  Request* all = reverseChain(static_cast<Request*>(Common::LockFreeStack::popAll(&requests_)));
  absorbNew();
  // Split by kind, keeping the order of queuing.
  Request* heads[3] = {nullptr, nullptr, nullptr};
  Request* tails[3] = {nullptr, nullptr, nullptr};
  while (all) {
    Request* next = all->next.load(std::memory_order_relaxed);
    std::uint32_t k = all->kind <= kFreeMemory ? all->kind : kFreeMemory;
    all->next.store(nullptr, std::memory_order_relaxed);
    if (tails[k])
      tails[k]->next.store(all, std::memory_order_relaxed);
    else
      heads[k] = all;
    tails[k] = all;
    all = next;
  }
  for (Request* r = heads[kReleased]; r;) {
    Request* next = r->next.load(std::memory_order_relaxed);
    Node* n = static_cast<Node*>(r->subject);
    if (!(n->state.load() & kDead)) {
      Common::CriticalSectionLock guard(requestLock_);
      std::uint32_t s = n->state.load();
      if (!(s & kDead) && (s & (kQueued | kCondemned))) {
        trace("process weak object %p\n", n);
        clearWeakLinks(n);
        n->state.fetch_or(kDead);
      }
    }
    recycleRecord(freeRequests_, r);
    r = next;
  }
  if (heads[kDestroyed] || heads[kFreeMemory]) {
    removeDeletedLinks(objects_);
    removeDeletedLinks(survivors_);
    for (Request* r = heads[kDestroyed]; r;) {
      Request* next = r->next.load(std::memory_order_relaxed);
      Node* n = static_cast<Node*>(r->subject);
      trace("Delete object %p\n", n);
      // Whatever is left belongs to the destroyed object: its own deleted
      // links, and weak links when it went without a last release.
      while (Link* l = n->members) {
        n->members = nextOf(l);
        recycleLink(l);
      }
      if (n->weaks) clearWeakLinks(n);
      freeNode(n);
      recycleRecord(freeRequests_, r);
      r = next;
    }
    for (Request* r = heads[kFreeMemory]; r;) {
      Request* next = r->next.load(std::memory_order_relaxed);
      ::operator delete(r->subject);
      recycleRecord(freeRequests_, r);
      r = next;
    }
  }
  freeRetired();
}

// Collect lock held.
void Collector::absorbNew() {
  Node* nodes = reverseNodes(static_cast<Node*>(Common::LockFreeStack::popAll(&newNodes_)));
  Link* links = reverseChain(static_cast<Link*>(Common::LockFreeStack::popAll(&newLinks_)));
  while (nodes) {
    Node* next = nodes->stackLink.load(std::memory_order_relaxed);
    trace("Handle object %p\n", nodes);
    pin(nodes);
    appendNode(objects_, nodes, kObjects);
    unpin(nodes);
    nodes = next;
  }
  while (links) {
    Link* next = nextOf(links);
    if (isDeleted(links)) {
      trace("Free unh memeber %p\n", links);
      recycleLink(links);
    } else {
      Node* owner = links->owner;
      trace("Handle memeber %p, owner %p\n", links, owner);
      pin(owner);
      Node* t = targetOf(links);
      if (t) pin(t);
      links->next.store(owner->members, std::memory_order_relaxed);
      owner->members = links;
      if (t) unpin(t);
      unpin(owner);
    }
    links = next;
  }
}

void Collector::clearWeakLinks(Node* n) {
  Common::CriticalSectionLock guard(weakLock_);
  while (Link* l = n->weaks) {
    n->weaks = nextOf(l);
    l->next.store(nullptr, std::memory_order_relaxed);
    if (l->callback) l->callback(l->user, kSetTarget, nullptr);
    l->target.store(nullptr);
  }
}

// Collect lock held.
void Collector::removeDeletedLinks(Node& list) {
  for (Node* p = list.next; p != &list; p = p->next) {
    Link* before = nullptr;
    for (Link* l = p->members; l;) {
      Link* next = nextOf(l);
      if (isDeleted(l)) {
        trace(before ? "free member %p for object %p\n" : "free2 member %p for object %p\n", l, p);
        if (before)
          before->next.store(next, std::memory_order_relaxed);
        else
          p->members = next;
        recycleLink(l);
      } else {
        before = l;
      }
      l = next;
    }
  }
}

// Collect lock held.
void Collector::freeNode(Node* n) {
  trace("FreeObject %p\n", n);
  n->state.fetch_or(kCondemned);
  unlinkNode(n);
  recycleRecord(freeNodes_, n);
}

// Collect lock held.
void Collector::restore(Node* n) {
  n->state.fetch_and(kRestoreMask);
  trace("RestoreObject %p\n", n);
  appendNode(objects_, n, kObjects);
}

void Collector::restoreAll(Node& list) {
  while (!listEmpty(list)) restore(list.next);
}

// ---- marking -----------------------------------------------------------------

void Collector::visitFresh(Node* n, std::uint32_t number) {
  n->state.fetch_or(kUnchanged);
  n->mark = number | kVisited | kKindBits;
  std::int32_t c = countOf(n);
  if (c == 0 || n->inLinks.load() != c) n->mark |= kLive;
}

void Collector::visitExternal(Node* n) {
  n->state.fetch_or(kUnchanged);
  std::int32_t c = countOf(n);
  std::uint32_t external = static_cast<std::uint32_t>(c - n->inLinks.load());
  n->mark = (external << 5) | kVisited | kKindBits;
  if (c == 0) n->mark |= kLive;
}

// A node whose state changed after the walk passed it goes to the tail of the
// object list so that the walk reaches it again.
void Collector::moveForRevisit(Node* n) {
  if (n->where == kObjects) appendNode(objects_, n, kObjects);
}

void Collector::propagateLive(Node* p) {
  for (Link* l = p->members; l; l = nextOf(l)) {
    Node* q = targetOf(l);
    if (!q || q == p) continue;
    if (!(q->mark & kVisited)) {
      q->mark = kVisited | kLive | kKindBits;
    } else if (!(q->mark & kLive)) {
      q->mark |= kLive;
      moveForRevisit(q);
    }
  }
}

bool Collector::relabelFrom(Node* p, Link* from) {
  bool reached = false;
  for (Link* l = from; l; l = nextOf(l)) {
    Node* q = targetOf(l);
    if (!q) continue;
    if (!(q->mark & kVisited)) {
      visitFresh(q, numberOf(p));
      reached = true;
    } else if (!(q->mark & kLive) && undisturbed(q)) {
      reached = true;
      lowerKind(q, kindOf(l));
      if (numberOf(q) != numberOf(p)) {
        setNumber(q, numberOf(p));
        moveForRevisit(q);
      }
    }
  }
  return reached;
}

void Collector::markComponents() {
  std::uint32_t c = 0;
  for (Node* p = objects_.next; p != &objects_; p = p->next) {
    bool fresh = false;
    if (!(p->mark & kVisited)) {
      visitFresh(p, c);
      fresh = true;
    }
    if (!undisturbed(p)) p->mark |= kLive;
    if (p->mark & kLive) {
      propagateLive(p);
      continue;
    }
    if (!fresh) {
      if (!relabelFrom(p, p->members)) p->mark |= kLive;
      continue;
    }
    bool reached = false;
    for (Link* l = p->members; l; l = nextOf(l)) {
      Node* q = targetOf(l);
      if (!q) continue;
      if (!(q->mark & kVisited)) {
        visitFresh(q, numberOf(p));
        lowerKind(q, kindOf(l));
        reached = true;
      } else if (!(q->mark & kLive) && undisturbed(q)) {
        reached = true;
        lowerKind(q, kindOf(l));
        std::uint32_t number = numberOf(q);
        if (number != numberOf(p)) {
          // p joins q's component, with what it reached so far.
          setNumber(p, number);
          for (Link* m = p->members; m != l; m = nextOf(m))
            if (Node* t = targetOf(m)) setNumber(t, number);
          relabelFrom(p, l);
          c += 32;
          break;
        }
      }
    }
    if (!reached) p->mark |= kLive;
  }
}

void Collector::markExternal() {
  for (Node* p = objects_.next; p != &objects_; p = p->next) {
    if (!(p->mark & kVisited)) visitExternal(p);
    if (!undisturbed(p)) {
      p->state.fetch_or(kUnchanged);
      p->mark |= kLive;
    }
    if (p->mark >> 5) p->mark |= kLive;  // referenced from outside the links
    if (p->mark & kLive) {
      propagateLive(p);
      continue;
    }
    bool reached = false;
    for (Link* l = p->members; l; l = nextOf(l)) {
      Node* q = targetOf(l);
      if (!q) continue;
      if (!(q->mark & kVisited)) {
        visitExternal(q);
        lowerKind(q, kindOf(l));
        if (!undisturbed(q)) q->mark |= kLive;
        if (!(q->mark & kLive) && !(q->mark >> 5)) reached = true;
      } else if (!(q->mark & kLive)) {
        if (!undisturbed(q)) {
          q->mark |= kLive;
          moveForRevisit(q);
        } else {
          lowerKind(q, kindOf(l));
          reached = true;
        }
      }
    }
    if (!reached) p->mark |= kLive;
  }
}

bool Collector::sweep() {
  absorbNew();
  // Collect the candidates: every node the marking left not live.
  std::uint32_t tracked = 0;
  for (Node* p = objects_.next; p != &objects_;) {
    ++tracked;
    p->mark &= ~kVisited;
    if (!undisturbed(p)) {
      p->mark |= kLive;
      for (Link* l = p->members; l; l = nextOf(l)) {
        Node* q = targetOf(l);
        if (q && !(q->mark & kLive)) {
          q->mark |= kLive;
          q->state.fetch_and(~kUnchanged);
          if (q->where != kNowhere) restore(q);
        }
      }
    }
    if (p->mark & kLive) {
      p = p->next;
      continue;
    }
    Node* next = p->next;
    p->state.fetch_or(kScanning);
    appendNode(candidates_, p, kCandidates);
    p = next;
  }
  tracked_.store(tracked);
  if (listEmpty(candidates_)) return false;

  // Prune: a candidate that links nowhere is no part of a cycle; it goes with
  // the group that holds it.
  for (bool restored = true; restored;) {
    restored = false;
    for (Node* p = candidates_.next; p != &candidates_;) {
      Node* next = p->next;
      bool linked = false;
      for (Link* l = p->members; l && !linked; l = nextOf(l)) linked = targetOf(l) != nullptr;
      if (!linked) {
        restore(p);
        restored = true;
      }
      p = next;
    }
  }
  if (listEmpty(candidates_)) return false;

  // Claim: anything touched since the marking keeps the whole set alive.
  for (Node* p = candidates_.next; p != &candidates_; p = p->next) {
    std::uint32_t s = p->state.load();
    if ((s & kUndisturbedMask) != kUnchanged ||
        !p->state.compare_exchange_strong(s, (s & ~kScanning) | kCondemned)) {
      restoreAll(candidates_);
      return true;
    }
  }

  // Destruction order: higher mark first, then higher count, then lower address.
  std::vector<Node*> order;
  for (Node* p = candidates_.next; p != &candidates_; p = p->next) order.push_back(p);
  std::stable_sort(order.begin(), order.end(), [](const Node* a, const Node* b) {
    if (a->mark != b->mark) return a->mark > b->mark;
    std::int32_t ca = countOf(a), cb = countOf(b);
    if (ca != cb) return ca > cb;
    return a < b;
  });
  for (Node* p : order) appendNode(candidates_, p, kCandidates);
  indexHolders();

  DWORD saved = collectingThread_.exchange(currentThreadId());
  destroyCandidates();
  collectingThread_.store(saved);
  if (saved == 0) restoreAll(survivors_);
  processRequests();
  return true;
}

void Collector::indexHolders() {
  holders_.clear();
  for (Node* q = candidates_.next; q != &candidates_; q = q->next)
    for (Link* l = q->members; l; l = nextOf(l))
      if (Node* t = targetOf(l); t && t->where == kCandidates) holders_.push_back({t, q, l});
  std::stable_sort(holders_.begin(), holders_.end(),
                   [](const Holder& a, const Holder& b) { return std::less<Node*>()(a.target, b.target); });
}

// Collect lock held.
void Collector::destroyCandidates() {
  if (listEmpty(candidates_)) return;
  DWORD saved = collectingThread_.exchange(currentThreadId());
  ++destroying_;
  while (!listEmpty(candidates_)) destroyCandidate(candidates_.next);
  --destroying_;
  collectingThread_.store(saved);
}

// Drops the links of the garbage set that hold p, in the order of the
// candidate list; the last one lets the ordinary release destroy p, which
// removes its node from the list.
void Collector::destroyCandidate(Node* p) {
  auto range = std::equal_range(holders_.begin(), holders_.end(), Holder{p, nullptr, nullptr},
                                [](const Holder& a, const Holder& b) { return std::less<Node*>()(a.target, b.target); });
  for (std::size_t i = range.first - holders_.begin(), end = range.second - holders_.begin(); i < end; ++i) {
    Holder h = holders_[i];
    // A destroyed holder took its links with it; a live one keeps them as they were.
    if (h.owner->where != kCandidates || targetOf(h.link) != p) continue;
    bool last = countOf(p) == 1;
    collectLock_.leave();
    if (h.link->callback) h.link->callback(h.link->user, kDrop, nullptr);
    collectLock_.enter();
    if (last) {
      collected_.fetch_add(1);
      return;
    }
  }
  appendNode(survivors_, p, kSurvivors);
}

// ---- entry points --------------------------------------------------------------

bool started() { return startedWord.load(std::memory_order_acquire) != 0; }

void initialize() {
  if (startedWord.load() != 0 || closed.load()) return;
  // The collector runs in-process: there is no "gc.dll" whose imports need loading.
  std::uintptr_t word = attachClient(kStartupKey);
  std::uintptr_t expected = 1;
  startedWord.compare_exchange_strong(expected, word);
}

bool onObjectRelease(RefObject* object, bool destroying) {
  Node* n = object->collectorNode();
  if (!n) return true;
  return releaseObject(n, destroying);
}

Node* nodeOf(RefObject* object) {
  if (!object) return nullptr;
  if (Node* n = object->node_.load(std::memory_order_acquire)) return n;
  Common::RecursiveLockGuard guard(nodeCreationLock);
  Node* n = object->node_.load(std::memory_order_acquire);
  if (!n) {
    n = createNode(object->countWord(), object);
    object->node_.store(n, std::memory_order_release);
  }
  return n;
}

Node* createNode(std::atomic<std::int32_t>* count, RefObject*) {
  Hold c(creationPointer);
  return c ? c->createNode(count) : nullptr;
}

Link* addLink(Node* owner, Node* target, unsigned kind, void* user, LinkCallback callback) {
  Hold c(creationPointer);
  return c ? c->addLink(owner, target, kind, user, callback) : nullptr;
}

void deleteLink(Link* link) {
  Hold c(releasePointer);
  if (c && link) c->deleteLink(link);
}

bool releaseObject(Node* node, bool destroying) {
  Hold c(releasePointer);
  if (!c) return true;
  bool result = c->releaseObject(node, destroying);
  c->tick();
  return result;
}

bool resetLink(Link* link, Node* target, void* argument) {
  Hold c(releasePointer);
  if (!c || !link) return false;
  c->resetLink(link, target, argument);
  c->tick();
  return true;
}

void freeMemory(void* block) {
  if (!block) return;
  Hold c(releasePointer);
  if (!c) {
    ::operator delete(block);
    return;
  }
  c->freeMemory(block);
  c->tick();
}

bool lockLink(Link* link, void* out) {
  Hold c(releasePointer);
  if (!c || !link) return false;
  c->lockLink(link, out);
  return true;
}

void flush() {
  Hold c(creationPointer);
  if (c) c->flush();
}

std::uintptr_t attachClient(std::uintptr_t key) {
  Common::RecursiveLockGuard guard(clientLock);
  if (!clients) {
    clients = new ClientRegistry;
    win32::at_fork(forkPrepare, forkParent, forkChild);
  }
  if (clients->keys.empty()) {
    startedWord.store(1);
    Collector* c = nullptr;
    try {
      c = new Collector;
    } catch (const std::bad_alloc&) {
    }
    if (!c) {
      startedWord.store(0);
      throwNullReference();
    }
    releasePointer.store(c);
    creationPointer.store(c);
    c->addRef();
    if (workerStartAllowed.load())
      c->startWorker();
    else
      workerStartPending.store(true);
    c->release();
  }
  ++clients->count;
  clients->keys.insert(key);
  return clients->count;
}

void startPendingWorker() {
  workerStartAllowed.store(true);
  Common::RecursiveLockGuard guard(clientLock);
  if (!workerStartPending.exchange(false)) return;
  Hold c(creationPointer);
  if (c) c->startWorker();
}

void detachClient(std::uintptr_t key) {
  Common::RecursiveLockGuard guard(clientLock);
  if (!clients) return;
  clients->keys.erase(key);
  if (!clients->keys.empty()) return;
  Collector* c = creationPointer.load();
  if (!c) return;
  c->addRef();
  creationPointer.store(nullptr);
  c->flush();
  c->stopWorker();
  c->release();
  c->release();  // the collector pointers' reference
}

bool shutdownCollector() {
  closed.store(true);
  if (startedWord.load() == 0) return false;
  flush();
  detachClient(kStartupKey);
  startedWord.store(0);
  return true;
}

Statistics statistics() {
  Hold c(releasePointer);
  if (!c) return Statistics{};
  return c->statistics();
}

namespace {
// The worker may start once static initialisation has come this far.
struct WorkerStarter {
  WorkerStarter() { startPendingWorker(); }
} workerStarter;
}  // namespace

}  // namespace GC
}  // namespace Processor
