#include "core/singleton.h"

#include <cstdlib>
#include <new>

namespace Processor {

struct SingletonRegistry {
  SingletonLinkPtr head{nullptr};
  int state = 0;  // 0 open, 1 closed, 2 destroyed
};

namespace {

// Zero-filled, so usable before any constructor has run.
constinit Common::RecursiveLock singletonRegistryLock;
// The registry lives in static storage that outlasts its exit routine.
alignas(SingletonRegistry) unsigned char registryStorage[sizeof(SingletonRegistry)];
std::atomic<SingletonRegistry*> registryInstance{nullptr};

void destroyRegistry() {
  shutdownSingletons();
  Common::RecursiveLockGuard guard(singletonRegistryLock);
  SingletonRegistry* r = registryInstance.load();
  r->state = 2;
  r->head.~SingletonLinkPtr();
}

SingletonRegistry* singletonRegistryInstance() {
  if (SingletonRegistry* r = registryInstance.load(std::memory_order_acquire)) return r;
  Common::RecursiveLockGuard guard(singletonRegistryLock);
  if (!registryInstance.load()) {
    GC::initialize();
    registryInstance.store(new (registryStorage) SingletonRegistry, std::memory_order_release);
    std::atexit(&destroyRegistry);
  }
  return registryInstance.load();
}

// The registry exists before the first singleton registers.
struct RegistryStarter {
  RegistryStarter() { singletonRegistryInstance(); }
} registryStarter;

RefObject* ownerOf(void* link) { return link ? static_cast<SingletonLink*>(link)->owner() : nullptr; }

}  // namespace

SingletonRegistry* singletonRegistry() {
  SingletonRegistry* r = singletonRegistryInstance();
  return r->state == 0 ? r : nullptr;
}

// ---- SingletonLinkPtr ----------------------------------------------------------

void singletonLinkCallback(void* user, int event, void* argument) {
  SingletonLinkPtr* self = static_cast<SingletonLinkPtr*>(user);
  switch (event) {
    case GC::kSetTarget:
      if (!argument) {
        self->target_.store(nullptr, std::memory_order_release);
      } else {
        auto* r = static_cast<GC::SetTargetRecord*>(argument);
        r->old = ownerOf(self->target_.exchange(static_cast<SingletonLink*>(r->part), std::memory_order_acq_rel));
      }
      break;
    case GC::kDrop:
      self->take(nullptr);
      break;
    case GC::kLock: {
      auto* r = static_cast<GC::LockRecord*>(argument);
      SingletonLink* t = self->target_.load(std::memory_order_acquire);
      RefObject* o = ownerOf(t);
      if (o) o->addRef();
      RefObject* previous = r->object;
      r->object = o;
      r->part = t;
      if (previous) previous->release();
      break;
    }
  }
}

SingletonLinkPtr::SingletonLinkPtr(RefObject* owner) {
  GC::Node* ownerNode = owner ? GC::nodeOf(owner) : nullptr;
  if (!owner || ownerNode)
    link_ = GC::addLink(ownerNode, nullptr, GC::kMemberLink, this, &singletonLinkCallback);
}

SingletonLinkPtr::~SingletonLinkPtr() {
  take(nullptr);
  if (link_) GC::deleteLink(link_);
  link_ = nullptr;
}

void SingletonLinkPtr::set(SingletonLink* target) {
  if (target) target->owner()->addRef();
  take(target);
}

// Takes over a counted `target` and releases the previous one.
void SingletonLinkPtr::take(SingletonLink* target) {
  RefObject* owner = ownerOf(target);
  GC::SetTargetRecord record{owner, target, nullptr};
  if (!link_ || !GC::resetLink(link_, GC::nodeOf(owner), &record))
    record.old = ownerOf(target_.exchange(target, std::memory_order_acq_rel));
  if (record.old) record.old->release();
}

void SingletonLinkPtr::lockInto(GC::LockRecord& out) const {
  if (link_ && GC::lockLink(link_, &out)) return;
  SingletonLink* t = get();
  RefObject* o = ownerOf(t);
  if (o) o->addRef();
  RefObject* previous = out.object;
  out.object = o;
  out.part = t;
  if (previous) previous->release();
}

// ---- SingletonLink -------------------------------------------------------------

SingletonLink::SingletonLink(RefObject* owner) : owner_(owner), newer_(owner), older_(owner) {
  Common::RecursiveLockGuard guard(singletonRegistryLock);
  SingletonRegistry* r = singletonRegistry();
  if (!r) return;
  SingletonLink* head = r->head.get();
  older_.set(head);
  r->head.set(this);
  if (head) head->newer_.set(this);
}

SingletonLink::~SingletonLink() { unlink(); }

void SingletonLink::unlink() {
  Common::RecursiveLockGuard guard(singletonRegistryLock);
  GC::LockRecord newer{nullptr, nullptr};
  GC::LockRecord older{nullptr, nullptr};
  newer_.lockInto(newer);
  older_.lockInto(older);
  newer_.set(nullptr);
  older_.set(nullptr);
  auto* n = static_cast<SingletonLink*>(newer.part);
  auto* o = static_cast<SingletonLink*>(older.part);
  if (o) o->newer_.set(n);
  if (n) {
    n->older_.set(o);
  } else {
    SingletonRegistry* r = registryInstance.load();
    if (r && r->state == 0 && r->head.get() == this) r->head.set(o);
  }
  if (newer.object) newer.object->release();
  if (older.object) older.object->release();
}

void shutdownSingletons() {
  singletonRegistryLock.lock();
  SingletonRegistry* r = registryInstance.load();
  if (r && r->state == 0) {
    while (SingletonLink* head = r->head.get()) {
      GC::LockRecord held{nullptr, nullptr};
      r->head.lockInto(held);
      singletonRegistryLock.unlock();
      head->unlink();
      if (held.object) held.object->release();
      singletonRegistryLock.lock();
    }
    r->state = 1;
  }
  singletonRegistryLock.unlock();
}

}  // namespace Processor
