// One live object per row key: a package's map of one entity class, owning its
// objects. An entry whose object was released keeps its key with a null object,
// which counts as absent.
#pragma once

#include <map>
#include <string>

namespace Msi {

class IdentityMapBase {
 public:
  virtual ~IdentityMapBase() = default;
};

template <class T>
class IdentityMap : public IdentityMapBase {
 public:
  using Map = std::map<std::u16string, T*>;

  IdentityMap() = default;
  IdentityMap(const IdentityMap&) = delete;
  IdentityMap& operator=(const IdentityMap&) = delete;
  ~IdentityMap() override { clear(); }

  // Registers the object under its key; false (and the caller keeps it) when the
  // key already has a live object.
  bool insert(T* object) {
    auto [it, added] = map_.try_emplace(object->getKey(), object);
    if (added) return true;
    if (it->second) return false;
    it->second = object;
    return true;
  }
  // The live object of the key, or null.
  T* find(const std::u16string& key) const {
    auto it = map_.find(key);
    return it == map_.end() ? nullptr : it->second;
  }
  // Takes the object out (the entry stays, without object); the caller owns it.
  T* detach(const std::u16string& key) {
    auto it = map_.find(key);
    if (it == map_.end()) return nullptr;
    T* object = it->second;
    it->second = nullptr;
    return object;
  }
  void release(const std::u16string& key) { delete detach(key); }
  // Each entry is nulled before its object goes, so a dying object never finds
  // itself in the map.
  void clear() {
    for (auto& [key, object] : map_) {
      T* o = object;
      object = nullptr;
      delete o;
    }
    map_.clear();
  }
  std::size_t size() const { return map_.size(); }
  const Map& entries() const { return map_; }

 private:
  Map map_;
};

}  // namespace Msi
