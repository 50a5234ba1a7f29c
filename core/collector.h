// The object collector: frees groups of RefObjects that hold each other only
// through member pointers. Every counted reference from one tracked object to
// another is a MemberPtr, which registers a link with the collector; the
// collector knows for every tracked object how many of its references come from
// such links. A worker thread repeatedly looks for groups whose every reference
// comes from inside the group and makes their member pointers drop, so the
// ordinary release path destroys the group. Weak links (kind 7) hold no
// reference and are cleared when their target dies.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/object.h"

namespace Processor {
namespace GC {

struct Node;
struct Link;

// Link kinds: 1 to 6 are member links (counted, traced), 7 is a weak link.
constexpr unsigned kMemberLink = 5;
constexpr unsigned kWeakLink = 7;

// Events by which the collector makes a member pointer act.
enum LinkEvent : int {
  kSetTarget = 1,  // argument: SetTargetRecord, or null to clear without releasing
  kDrop = 2,       // the target is garbage: reset to no target and release it
  kLock = 3,       // argument: LockRecord, receives a counted reference
};
using LinkCallback = void (*)(void* user, int event, void* argument);

// Argument of kSetTarget: the new target (object and interface part), and the
// previous reference, handed back for the caller to release.
struct SetTargetRecord {
  RefObject* object;
  void* part;
  RefObject* old;
};
// Argument of kLock: receives a counted reference to the current target; what
// it held before is released.
struct LockRecord {
  RefObject* object;
  void* part;
};

// Object side.
bool started();
void initialize();
bool onObjectRelease(RefObject* object, bool destroying);
// The object's node, created on first use; null for null or without collector.
Node* nodeOf(RefObject* object);

// Collector entry points; each does nothing (or answers null) without a collector.
Node* createNode(std::atomic<std::int32_t>* count, RefObject* object);
Link* addLink(Node* owner, Node* target, unsigned kind, void* user, LinkCallback callback);
void deleteLink(Link* link);
// True when the caller may delete the object now (always without a collector).
bool releaseObject(Node* node, bool destroying);
// False when no collector took the request: the caller then changes its
// pointer itself.
bool resetLink(Link* link, Node* target, void* argument);
void freeMemory(void* block);
// False when no collector took the request.
bool lockLink(Link* link, void* out);
// Lets the collector finish its pending work: waits for a pass of the worker,
// or runs passes on the calling thread when that is the worker or none runs.
void flush();

// Client registration: the first client starts the collector, the last one
// stops it.
std::uintptr_t attachClient(std::uintptr_t key);
void detachClient(std::uintptr_t key);
void startPendingWorker();

// The core runtime's part of process exit: flushes, detaches the start-up
// client (which stops the worker and drops the collector) and clears the
// started word. Afterwards no collector is started again. False when the
// collector had never been started.
bool shutdownCollector();

// Figures for tests and benchmarks.
struct Statistics {
  std::uint64_t passes;          // collection passes finished
  std::uint64_t collected;       // candidates destroyed by drop callbacks
  std::uint32_t trackedNodes;    // nodes in the object list after the last pass
  std::uint32_t freeNodes;       // records kept on the free stacks
  std::uint32_t freeLinks;
  std::uint32_t freeRequests;
  bool workerRunning;
};
Statistics statistics();

}  // namespace GC

// Counted reference from a tracked object (the owner) to another object, or,
// without an owner, a root pointer held outside any tracked object. A pointer
// whose link could not be made (no collector) still holds its target and works
// as a plain counted pointer, untracked.
template <class T>
class MemberPtr {
 public:
  // A root pointer; adds a reference to `target`.
  explicit MemberPtr(T* target = nullptr) : MemberPtr(nullptr, target, GC::kMemberLink, true) {}
  // A member of `owner`; adds a reference to `target`.
  MemberPtr(RefObject* owner, T* target, unsigned kind = GC::kMemberLink) : MemberPtr(owner, target, kind, false) {}
  MemberPtr(RefObject* owner, const RefPtr<T>& target) : MemberPtr(owner, target.get(), GC::kMemberLink, false) {}
  MemberPtr(const MemberPtr&) = delete;
  MemberPtr& operator=(const MemberPtr&) = delete;
  // Releases the target, then removes the link.
  ~MemberPtr() {
    set(nullptr);
    if (link_) GC::deleteLink(link_);
  }

  T* get() const noexcept { return static_cast<T*>(target_.load(std::memory_order_acquire)); }
  T* operator->() const noexcept { return get(); }
  T& operator*() const noexcept { return *get(); }
  explicit operator bool() const noexcept { return get() != nullptr; }

  // Points at another object (adding a reference) and releases the old one.
  void reset(T* target = nullptr) {
    if (target) ref(target)->addRef();
    set(target);
  }
  MemberPtr& operator=(T* target) {
    reset(target);
    return *this;
  }
  MemberPtr& operator=(const RefPtr<T>& target) {
    reset(target.get());
    return *this;
  }
  MemberPtr& operator=(RefPtr<T>&& target) {
    set(target.detach());
    return *this;
  }
  // A counted reference to the current target.
  RefPtr<T> lock() const {
    GC::LockRecord record{nullptr, nullptr};
    if (!link_ || !GC::lockLink(link_, &record)) {
      T* t = get();
      if (t) ref(t)->addRef();
      record.part = t;
    }
    return RefPtr<T>::adopt(static_cast<T*>(record.part));
  }

 private:
  MemberPtr(RefObject* owner, T* target, unsigned kind, bool root) {
    if (target) ref(target)->addRef();
    target_.store(target, std::memory_order_release);
    GC::Node* ownerNode = root ? nullptr : GC::nodeOf(owner);
    if (root || ownerNode)
      link_ = GC::addLink(ownerNode, target ? GC::nodeOf(ref(target)) : nullptr, kind, this, &callback);
  }

  static RefObject* ref(void* part) noexcept { return part ? static_cast<RefObject*>(static_cast<T*>(part)) : nullptr; }

  // Takes over a counted `target` and releases the previous one.
  void set(T* target) {
    GC::SetTargetRecord record{ref(target), target, nullptr};
    if (!link_ || !GC::resetLink(link_, target ? GC::nodeOf(ref(target)) : nullptr, &record))
      record.old = ref(target_.exchange(target, std::memory_order_acq_rel));
    if (record.old) record.old->release();
  }

  static void callback(void* user, int event, void* argument) {
    MemberPtr* self = static_cast<MemberPtr*>(user);
    switch (event) {
      case GC::kSetTarget:
        if (!argument) {
          self->target_.store(nullptr, std::memory_order_release);
        } else {
          auto* r = static_cast<GC::SetTargetRecord*>(argument);
          r->old = ref(self->target_.exchange(r->part, std::memory_order_acq_rel));
        }
        break;
      case GC::kDrop:
        self->set(nullptr);
        break;
      case GC::kLock: {
        auto* r = static_cast<GC::LockRecord*>(argument);
        void* t = self->target_.load(std::memory_order_acquire);
        if (t) ref(t)->addRef();
        RefObject* previous = r->object;
        r->object = ref(t);
        r->part = t;
        if (previous) previous->release();
        break;
      }
    }
  }

  GC::Link* link_ = nullptr;
  std::atomic<void*> target_{nullptr};
};

// Weak link from an owner (or from no owner) to a target: holds no reference;
// the collector clears it when the target dies. lock() yields a counted
// reference, or nothing once the target is dying; a pointer the collector does
// not track never yields anything.
template <class T>
class WeakMemberPtr {
 public:
  explicit WeakMemberPtr(T* target = nullptr) : WeakMemberPtr(nullptr, target, true) {}
  WeakMemberPtr(RefObject* owner, T* target) : WeakMemberPtr(owner, target, false) {}
  WeakMemberPtr(const WeakMemberPtr&) = delete;
  WeakMemberPtr& operator=(const WeakMemberPtr&) = delete;
  ~WeakMemberPtr() {
    reset(nullptr);
    if (link_) GC::deleteLink(link_);
  }

  void reset(T* target = nullptr) {
    GC::SetTargetRecord record{ref(target), target, nullptr};
    if (!link_ || !GC::resetLink(link_, target ? GC::nodeOf(ref(target)) : nullptr, &record))
      target_.store(link_ ? nullptr : target, std::memory_order_release);
  }
  RefPtr<T> lock() const {
    GC::LockRecord record{nullptr, nullptr};
    if (link_) GC::lockLink(link_, &record);
    return RefPtr<T>::adopt(static_cast<T*>(record.part));
  }
  // Whether the pointer still names a target (it may be dying already).
  bool expired() const noexcept { return target_.load(std::memory_order_acquire) == nullptr; }

 private:
  WeakMemberPtr(RefObject* owner, T* target, bool root) {
    target_.store(target, std::memory_order_release);
    GC::Node* ownerNode = root ? nullptr : GC::nodeOf(owner);
    if (root || ownerNode)
      link_ = GC::addLink(ownerNode, target ? GC::nodeOf(ref(target)) : nullptr, GC::kWeakLink, this, &callback);
  }

  static RefObject* ref(void* part) noexcept { return part ? static_cast<RefObject*>(static_cast<T*>(part)) : nullptr; }

  static void callback(void* user, int event, void* argument) {
    WeakMemberPtr* self = static_cast<WeakMemberPtr*>(user);
    switch (event) {
      case GC::kSetTarget:
        // The old target was never counted: nothing to hand back.
        self->target_.store(argument ? static_cast<GC::SetTargetRecord*>(argument)->part : nullptr,
                            std::memory_order_release);
        break;
      case GC::kLock: {
        // The target's last release may be under way on another thread: a
        // count that reached zero is never raised again, so that release
        // stays the only one.
        auto* r = static_cast<GC::LockRecord*>(argument);
        void* t = self->target_.load(std::memory_order_acquire);
        if (t && !ref(t)->addRefIfAlive()) t = nullptr;
        RefObject* previous = r->object;
        r->object = ref(t);
        r->part = t;
        if (previous) previous->release();
        break;
      }
      default:
        break;
    }
  }

  GC::Link* link_ = nullptr;
  std::atomic<void*> target_{nullptr};
};

}  // namespace Processor
