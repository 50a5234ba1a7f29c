#include "core/object.h"

#include <cstdlib>
#include <new>

#include "core/collector.h"
#include "core/shutdown.h"
#include "system/locks.h"

namespace Processor {

namespace {
// Zero-filled: usable before any constructor has run.
constinit Common::RecursiveLock registryLock;
constinit MetaClass* registryHead = nullptr;

// The core runtime ends after the exit routines of everything that started
// after it.
struct ShutdownRegistration {
  ShutdownRegistration() { std::atexit(&shutdownRuntime); }
} shutdownRegistration;
}  // namespace

// ---- RefObject ---------------------------------------------------------

RefObject::~RefObject() {
  if (node_.load(std::memory_order_acquire)) GC::onObjectRelease(this, true);
}

void RefObject::lastRelease() {
  if (GC::onObjectRelease(this, false)) delete this;
}

bool RefObject::addRefIfAlive() const noexcept {
  std::int32_t c = count_.load(std::memory_order_relaxed);
  for (;;) {
    if (c <= 0) return false;
    if (count_.compare_exchange_weak(c, c + 1, std::memory_order_acq_rel, std::memory_order_relaxed)) return true;
  }
}

void* RefObject::operator new(std::size_t size) {
  if (!GC::started()) GC::initialize();
  return ::operator new(size);
}

void RefObject::operator delete(void* block) noexcept { GC::freeMemory(block); }

void* rawOperatorNew(std::size_t size) { return ::operator new(size); }

// ---- IfacePtr ----------------------------------------------------------

constinit const IfacePtr nullIfacePtr;

IfacePtr::IfacePtr(const IfacePtr& o) noexcept : object_(o.object_), meta_(o.meta_) {
  if (meta_) meta_->addRef(object_);
}

IfacePtr& IfacePtr::operator=(const IfacePtr& o) noexcept {
  if (this != &o) {
    IfacePtr copy(o);
    *this = std::move(copy);
  }
  return *this;
}

IfacePtr& IfacePtr::operator=(IfacePtr&& o) noexcept {
  if (this != &o) {
    void* object = object_;
    MetaClass* meta = meta_;
    object_ = o.object_;
    meta_ = o.meta_;
    o.object_ = nullptr;
    o.meta_ = nullptr;
    if (meta) meta->release(object);
  }
  return *this;
}

IfacePtr::~IfacePtr() {
  if (meta_) meta_->release(object_);
}

void IfacePtr::reset() noexcept { *this = IfacePtr(); }

IfacePtr IfacePtr::query(std::uint32_t id) const {
  IfacePtr out;
  if (meta_) meta_->query(out, id, object_);
  return out;
}

RefObject* IfacePtr::refObject() const noexcept { return meta_ ? meta_->toRefObject(object_) : nullptr; }

// ---- Interface ---------------------------------------------------------

IfacePtr Interface::queryInterface(std::uint32_t) { return IfacePtr(); }

// ---- MetaClass ---------------------------------------------------------

MetaClass::MetaClass() {
  registryLock.lock();
  next_ = registryHead;
  registryHead = this;
  registryLock.unlock();
}

MetaClass::~MetaClass() = default;

const char* MetaClass::name() const { return ""; }

void MetaClass::lockRegistry() { registryLock.lock(); }
void MetaClass::unlockRegistry() { registryLock.unlock(); }

MetaClass* MetaClass::head() {
  registryLock.lock();
  MetaClass* h = registryHead;
  registryLock.unlock();
  return h;
}

void MetaClass::deleteAll() {
  registryLock.lock();
  MetaClass* m = registryHead;
  registryHead = nullptr;
  registryLock.unlock();
  while (m) {
    MetaClass* next = m->next_;
    delete m;
    m = next;
  }
}

}  // namespace Processor
