// Reference-counted objects, interfaces, interface pointers and meta classes.
//
// A RefObject carries one atomic count and a hook into the object collector
// (core/collector.h). An interface is a class deriving virtually from
// Processor::Interface; an IfacePtr pairs the interface part of an object with
// the meta class of that interface, so generic code can count, query and
// convert an object without knowing its class.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace Processor {

class IfacePtr;
class MetaClass;
class RefObject;

namespace GC {
struct Node;
Node* nodeOf(RefObject* object);
}  // namespace GC

// Allocates without starting the collector.
void* rawOperatorNew(std::size_t size);

class RefObject {
 public:
  // A new object starts with count 1: the creator holds the first reference.
  RefObject() noexcept = default;
  RefObject(const RefObject&) = delete;
  RefObject& operator=(const RefObject&) = delete;
  virtual ~RefObject();

  // Called once, by whoever took the count from 1 to 0. The default asks the
  // collector whether the object may go now and deletes it when so.
  virtual void lastRelease();

  void addRef() const noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
  void release() const noexcept {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) const_cast<RefObject*>(this)->lastRelease();
  }
  // Adds a reference unless the count already reached zero.
  bool addRefIfAlive() const noexcept;
  std::int32_t refCount() const noexcept { return count_.load(std::memory_order_acquire); }

  // The collector's view of the object.
  std::atomic<std::int32_t>* countWord() const noexcept { return &count_; }
  GC::Node* collectorNode() const noexcept { return node_.load(std::memory_order_acquire); }

  // The first allocation starts the collector; deletion hands the memory to
  // the collector, which frees it once no pass can look at the object.
  static void* operator new(std::size_t size);
  static void operator delete(void* block) noexcept;

 private:
  friend GC::Node* GC::nodeOf(RefObject* object);

  mutable std::atomic<std::int32_t> count_{1};
  std::atomic<GC::Node*> node_{nullptr};
};

// RefObject as a shared base.
class RefObjectPublic : public virtual RefObject {};

// Counted pointer to a class that derives from RefObject (directly, virtually
// or through an interface).
template <class T>
class RefPtr {
 public:
  RefPtr() noexcept = default;
  RefPtr(std::nullptr_t) noexcept {}
  // Adds a reference.
  explicit RefPtr(T* p) noexcept : p_(p) {
    if (p_) base(p_)->addRef();
  }
  RefPtr(const RefPtr& o) noexcept : RefPtr(o.p_) {}
  RefPtr(RefPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  RefPtr(const RefPtr<U>& o) noexcept : RefPtr(static_cast<T*>(o.get())) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  RefPtr(RefPtr<U>&& o) noexcept : p_(o.detach()) {}
  ~RefPtr() { release(); }

  RefPtr& operator=(const RefPtr& o) noexcept {
    RefPtr(o).swap(*this);
    return *this;
  }
  RefPtr& operator=(RefPtr&& o) noexcept {
    RefPtr(std::move(o)).swap(*this);
    return *this;
  }
  RefPtr& operator=(std::nullptr_t) noexcept {
    release();
    return *this;
  }

  // Takes over a reference the caller already holds (a factory's result).
  static RefPtr adopt(T* p) noexcept {
    RefPtr r;
    r.p_ = p;
    return r;
  }
  // Drops the reference (the last one destroys the object).
  void release() noexcept {
    T* p = p_;
    p_ = nullptr;
    if (p) base(p)->release();
  }
  // Gives the reference to the caller.
  T* detach() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void swap(RefPtr& o) noexcept { std::swap(p_, o.p_); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  friend bool operator==(const RefPtr& a, const RefPtr& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const RefPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  static const RefObject* base(const T* p) noexcept { return p; }
  T* p_ = nullptr;
};

// Creates an object and hands its first reference to a RefPtr.
template <class T, class... Args>
RefPtr<T> makeRef(Args&&... args) {
  return RefPtr<T>::adopt(new T(std::forward<Args>(args)...));
}

// An interface pointer: the interface part of an object and the meta class of
// that interface. Copying counts through the meta class, destroying releases.
class IfacePtr {
 public:
  constexpr IfacePtr() noexcept = default;
  // Takes over a reference already held on `object` (none when null).
  IfacePtr(void* object, MetaClass* metaClass) noexcept : object_(object), meta_(metaClass) {}
  IfacePtr(const IfacePtr& o) noexcept;
  IfacePtr(IfacePtr&& o) noexcept : object_(o.object_), meta_(o.meta_) {
    o.object_ = nullptr;
    o.meta_ = nullptr;
  }
  IfacePtr& operator=(const IfacePtr& o) noexcept;
  IfacePtr& operator=(IfacePtr&& o) noexcept;
  ~IfacePtr();

  // A counted pointer to the T part of `p` (null stays null, with T's meta class).
  template <class T>
  static IfacePtr of(T* p);
  // The same, taking over a reference the caller holds.
  template <class T>
  static IfacePtr adopt(T* p);

  void* object() const noexcept { return object_; }
  MetaClass* metaClass() const noexcept { return meta_; }
  bool empty() const noexcept { return object_ == nullptr; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // The T part when this pointer holds interface T, else null.
  template <class T>
  T* as() const noexcept;
  // The T part, or throws the null-reference error when this pointer is empty
  // or holds another interface.
  template <class T>
  T* checked() const;
  // Queries another interface of the same object (the empty pair when it has none).
  IfacePtr query(std::uint32_t id) const;
  template <class T>
  RefPtr<T> queryAs() const;
  // The shared RefObject part, null for none.
  RefObject* refObject() const noexcept;

  void reset() noexcept;
  // Gives the reference to the caller and empties the pointer.
  void* detach() noexcept {
    void* o = object_;
    object_ = nullptr;
    meta_ = nullptr;
    return o;
  }
  friend bool operator==(const IfacePtr& a, const IfacePtr& b) noexcept {
    return a.object_ == b.object_ && a.meta_ == b.meta_;
  }

 private:
  void* object_ = nullptr;
  MetaClass* meta_ = nullptr;
};

// The result of every failed query.
extern const IfacePtr nullIfacePtr;

class Interface : public RefObject {
 public:
  // For its own interface id an interface adds a reference and answers itself;
  // any other id gives the empty pair.
  virtual IfacePtr queryInterface(std::uint32_t id);
  // The meta class of the interface the object implements (a class that
  // implements two unrelated interfaces names its primary one).
  virtual MetaClass* metaClass() const = 0;
};

// Visitor of MetaClass::visitBases: visit answers true to stop the walk.
class MetaClassVisitor {
 public:
  virtual ~MetaClassVisitor() = default;
  virtual bool visit(const IfacePtr& base) = 0;
};

// One per interface, linked into a global list (newest first) that the core
// runtime's shutdown deletes. The object argument is always the interface part
// of an object of the meta class's interface, or null.
class MetaClass {
 public:
  MetaClass();
  MetaClass(const MetaClass&) = delete;
  MetaClass& operator=(const MetaClass&) = delete;
  virtual ~MetaClass();

  virtual std::uint32_t id() const = 0;
  virtual const char* name() const;
  virtual void query(IfacePtr& out, std::uint32_t id, void* object) = 0;
  virtual void cast(IfacePtr& out, std::uint32_t id, void* object) = 0;
  virtual RefObject* toRefObject(void* object) = 0;
  virtual Interface* toInterface(void* object) = 0;
  virtual bool visitBases(void* object, MetaClassVisitor& visitor) = 0;
  virtual void addRef(void* object) = 0;
  virtual bool addRefIfAlive(void* object) = 0;
  virtual void release(void* object) = 0;

  MetaClass* next() const noexcept { return next_; }

  // The registry lock: serialises meta class creation and the global list.
  static void lockRegistry();
  static void unlockRegistry();
  // Head of the global list (newest first).
  static MetaClass* head();
  // Deletes every meta class, newest first (core runtime shutdown).
  static void deleteAll();

 private:
  MetaClass* next_ = nullptr;
};

// A list of interface types (the bases that visitBases walks).
template <class... T>
struct TypeList {};

namespace detail {
template <class T, class = void>
struct InterfaceBasesOf {
  using type = TypeList<>;
};
// Only an interface's own declaration counts, not one inherited from a base.
template <class T>
struct InterfaceBasesOf<T, std::enable_if_t<std::is_same_v<typename T::InterfaceSelf, T>>> {
  using type = typename T::InterfaceBases;
};
}  // namespace detail

template <class T>
class InterfaceMetaClass final : public MetaClass {
 public:
  // The one meta class of T, created on first call.
  static MetaClass* instance();

  ~InterfaceMetaClass() override { instance_.store(nullptr, std::memory_order_release); }

  std::uint32_t id() const override { return T::interfaceId; }

  void query(IfacePtr& out, std::uint32_t id, void* object) override {
    if (!object) {
      out = IfacePtr();
    } else if (id == T::interfaceId) {
      addRef(object);
      out = IfacePtr(object, this);
    } else {
      out = toInterface(object)->queryInterface(id);
    }
  }
  void cast(IfacePtr& out, std::uint32_t id, void* object) override {
    if (id != T::interfaceId) {
      out = IfacePtr();
      return;
    }
    if (object) addRef(object);
    out = IfacePtr(object, this);
  }
  RefObject* toRefObject(void* object) override { return object ? static_cast<RefObject*>(part(object)) : nullptr; }
  Interface* toInterface(void* object) override { return object ? static_cast<Interface*>(part(object)) : nullptr; }
  bool visitBases(void* object, MetaClassVisitor& visitor) override {
    return walk(object, visitor, typename detail::InterfaceBasesOf<T>::type());
  }
  void addRef(void* object) override {
    if (object) toRefObject(object)->addRef();
  }
  bool addRefIfAlive(void* object) override { return object && toRefObject(object)->addRefIfAlive(); }
  void release(void* object) override {
    if (object) toRefObject(object)->release();
  }

 private:
  static T* part(void* object) { return static_cast<T*>(object); }

  template <class... B>
  static bool walk([[maybe_unused]] void* object, [[maybe_unused]] MetaClassVisitor& visitor, TypeList<B...>) {
    return (walkOne<B>(object, visitor) || ...);
  }
  template <class B>
  static bool walkOne(void* object, MetaClassVisitor& visitor) {
    B* b = object ? static_cast<B*>(part(object)) : nullptr;
    MetaClass* meta = InterfaceMetaClass<B>::instance();
    if (b) meta->addRef(b);
    if (visitor.visit(IfacePtr(b, meta))) return true;
    return meta->visitBases(b, visitor);
  }

  static inline std::atomic<MetaClass*> instance_{nullptr};
  static inline std::uint32_t guard_ = 0;
};

template <class T>
MetaClass* InterfaceMetaClass<T>::instance() {
  if (MetaClass* m = instance_.load(std::memory_order_acquire)) return m;
  lockRegistry();
  if (!(guard_ & 1)) {
    guard_ |= 1;
    try {
      instance_.store(new InterfaceMetaClass<T>, std::memory_order_release);
    } catch (...) {
      guard_ &= ~1u;
      unlockRegistry();
      throw;
    }
  }
  MetaClass* m = instance_.load(std::memory_order_acquire);
  unlockRegistry();
  return m;
}

// Declares an interface inside its class: its id, the bases visitBases walks,
// its meta class and the single-interface query answer.
#define PROCESSOR_INTERFACE(Self, Id, ...)                                                        \
 public:                                                                                          \
  using InterfaceSelf = Self;                                                                     \
  static constexpr std::uint32_t interfaceId = (Id);                                              \
  using InterfaceBases = ::Processor::TypeList<__VA_ARGS__>;                                      \
  ::Processor::MetaClass* metaClass() const override {                                            \
    return ::Processor::InterfaceMetaClass<Self>::instance();                                     \
  }                                                                                               \
  ::Processor::IfacePtr queryInterface(std::uint32_t id) override {                               \
    if (id != interfaceId) return ::Processor::IfacePtr();                                        \
    return ::Processor::IfacePtr::of<Self>(this);                                                 \
  }

template <class T>
IfacePtr IfacePtr::of(T* p) {
  MetaClass* meta = InterfaceMetaClass<T>::instance();
  if (p) static_cast<const RefObject*>(p)->addRef();
  return IfacePtr(p, meta);
}

template <class T>
IfacePtr IfacePtr::adopt(T* p) {
  return IfacePtr(p, InterfaceMetaClass<T>::instance());
}

template <class T>
T* IfacePtr::as() const noexcept {
  if (!object_ || !meta_ || meta_->id() != T::interfaceId) return nullptr;
  return static_cast<T*>(object_);
}

[[noreturn]] void throwNullReference();

template <class T>
T* IfacePtr::checked() const {
  T* p = as<T>();
  if (!p) throwNullReference();
  return p;
}

template <class T>
RefPtr<T> IfacePtr::queryAs() const {
  IfacePtr q = query(T::interfaceId);
  return RefPtr<T>::adopt(static_cast<T*>(q.detach()));
}

}  // namespace Processor
