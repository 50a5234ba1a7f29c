// Iterators over a package's objects, and the per-package lists of creation
// notifiers.
#pragma once

#include <list>
#include <string>

namespace Msi {

class MsiPackage;

template <class I>
class IMsiIterator {
 public:
  virtual ~IMsiIterator() = default;
  virtual bool reset() = 0;
  virtual void next() = 0;
  virtual bool valid() const = 0;
  virtual I* current() = 0;
};

// Walks a key list (owned by the package or an entity) and yields each key's
// object through the package's find; the list is read live.
template <class T>
class MsiIterator : public IMsiIterator<typename T::Interface> {
 public:
  using Interface = typename T::Interface;

  MsiIterator(MsiPackage* package, const std::list<std::u16string>* keys) : package_(package), keys_(keys) {
    reset();
  }
  bool reset() override {
    position_ = keys_->begin();
    valid_ = position_ != keys_->end();
    return valid_;
  }
  void next() override {
    if (!valid_) return;
    ++position_;
    if (position_ == keys_->end()) valid_ = false;
  }
  bool valid() const override { return valid_; }
  Interface* current() override;  // defined in package.h

 private:
  MsiPackage* package_;
  const std::list<std::u16string>* keys_;
  std::list<std::u16string>::const_iterator position_;
  bool valid_ = false;
};

template <class T>
class MsiNotifyBase {
 public:
  virtual void notify(T* object) = 0;
  virtual bool isOwner(const void* owner) const = 0;
  virtual ~MsiNotifyBase() = default;
};

template <class T, class Owner>
class MsiNotify : public MsiNotifyBase<T> {
 public:
  using Member = void (Owner::*)(T*);
  MsiNotify(Owner* owner, Member member) : owner_(owner), member_(member) {}
  void notify(T* object) override { (owner_->*member_)(object); }
  bool isOwner(const void* owner) const override { return owner == owner_; }

 private:
  Owner* owner_;
  Member member_;
};

template <class T>
class MsiNotifierList : public IMsiIterator<MsiNotifyBase<T>> {
 public:
  MsiNotifierList() : position_(notifiers_.end()) {}
  MsiNotifierList(const MsiNotifierList&) = delete;
  MsiNotifierList& operator=(const MsiNotifierList&) = delete;
  ~MsiNotifierList() override {
    for (MsiNotifyBase<T>* n : notifiers_) delete n;
  }

  // Takes ownership.
  void subscribe(MsiNotifyBase<T>* notifier) { notifiers_.push_back(notifier); }
  std::size_t size() const { return notifiers_.size(); }

  bool reset() override {
    position_ = notifiers_.begin();
    valid_ = position_ != notifiers_.end();
    return valid_;
  }
  void next() override {
    if (!valid_) return;
    ++position_;
    if (position_ == notifiers_.end()) valid_ = false;
  }
  bool valid() const override { return valid_; }
  MsiNotifyBase<T>* current() override { return valid_ ? *position_ : nullptr; }

 private:
  std::list<MsiNotifyBase<T>*> notifiers_;
  typename std::list<MsiNotifyBase<T>*>::iterator position_;
  bool valid_ = false;
};

}  // namespace Msi
