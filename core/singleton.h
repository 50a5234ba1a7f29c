// The process-wide singleton registry. Every SingletonShutdown object is linked
// into it (newest at the head) through collector member links, so the object
// collector sees the registry as holding each registered singleton; at
// shutdown the singletons are unlinked newest first.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/collector.h"
#include "system/locks.h"

namespace Processor {

class SingletonLink;

// A head or neighbour link of the registry: a collector link (kind 5) that
// holds a counted reference to the singleton owning its target link.
class SingletonLinkPtr {
 public:
  // A member link of `owner`, or the registry's root link when null.
  explicit SingletonLinkPtr(RefObject* owner);
  ~SingletonLinkPtr();
  SingletonLinkPtr(const SingletonLinkPtr&) = delete;
  SingletonLinkPtr& operator=(const SingletonLinkPtr&) = delete;

  SingletonLink* get() const noexcept { return target_.load(std::memory_order_acquire); }
  // Points at `target` (counting its owner) and releases the previous one.
  void set(SingletonLink* target);
  // A counted reference to the target's owner, into `out` (what it held is released).
  void lockInto(GC::LockRecord& out) const;

 private:
  friend void singletonLinkCallback(void* user, int event, void* argument);
  void take(SingletonLink* counted);

  GC::Link* link_ = nullptr;
  std::atomic<SingletonLink*> target_{nullptr};
};

// The collector link operations of the registry's links: set (exchange the
// target, reporting the previous one), release (drop the counted reference),
// copy (a counted reference to the target into another record).
void singletonLinkCallback(void* user, int event, void* argument);

// Registration of one singleton (a member of every SingletonShutdown object).
class SingletonLink {
 public:
  explicit SingletonLink(RefObject* owner);
  ~SingletonLink();
  SingletonLink(const SingletonLink&) = delete;
  SingletonLink& operator=(const SingletonLink&) = delete;

  // Takes the singleton out of the registry; its neighbours join up.
  void unlink();
  RefObject* owner() const noexcept { return owner_; }

 private:
  RefObject* owner_;
  SingletonLinkPtr newer_;
  SingletonLinkPtr older_;
};

struct SingletonRegistry;
// The registry, created on first use (which starts the collector); null once
// it is closed.
SingletonRegistry* singletonRegistry();
// Unlinks every registered singleton, newest first, then closes the registry:
// singletons made afterwards are not registered.
void shutdownSingletons();

// T with its registration for orderly shutdown.
template <class T, int Id = 1>
class SingletonShutdown : public T {
 protected:
  SingletonShutdown() : link_(static_cast<RefObject*>(this)) {}

 private:
  SingletonLink link_;
};

// The one instance of T (per Id), created on first use and kept by the
// registry until shutdown.
template <class T, int Id = 1>
class Singleton final : public SingletonShutdown<T, Id> {
 public:
  // A counted reference to the instance.
  static RefPtr<T> instance();

 private:
  Singleton() = default;
  void lastRelease() override;

  static inline Singleton* pointer_ = nullptr;
  static inline constinit Common::RecursiveLock lock_;
};

template <class T, int Id>
RefPtr<T> Singleton<T, Id>::instance() {
  for (;;) {
    lock_.lock();
    if (!pointer_) {
      Singleton* s;
      try {
        s = new Singleton;
      } catch (...) {
        lock_.unlock();
        throw;
      }
      pointer_ = s;
      lock_.unlock();
      return RefPtr<T>::adopt(s);
    }
    if (pointer_->addRefIfAlive()) {
      T* t = pointer_;
      lock_.unlock();
      return RefPtr<T>::adopt(t);
    }
    // Its last release is under way: let it finish, then make a new one.
    lock_.unlock();
    GC::flush();
  }
}

template <class T, int Id>
void Singleton<T, Id>::lastRelease() {
  lock_.lock();
  if (this->refCount() > 0 || pointer_ != this) {
    lock_.unlock();
    return;
  }
  pointer_ = nullptr;
  lock_.unlock();
  if (GC::onObjectRelease(this, false)) delete this;
}

}  // namespace Processor
