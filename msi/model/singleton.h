// One object per class, built on first request in function-local storage and
// destroyed at exit; a request after that destruction raises Msi::Error 2
// (module 0x9fa539f5) instead of using a destroyed object.
#pragma once

#include "msi/model/error.h"

namespace Msi {

template <class T>
class Singleton {
 public:
  Singleton() { destroyed_ = false; }
  virtual ~Singleton() { destroyed_ = true; }

  static T* instance() {
    if (destroyed_) throw Error(0x393e5a02u, 0x9fa539f5u, 2);
    if (!instance_) create();
    return instance_;
  }
  // A throwing constructor leaves the pointer as it was; the next call tries again.
  static void create() {
    static T storage;
    instance_ = &storage;
  }
  static bool destroyed() { return destroyed_; }

 private:
  static inline T* instance_ = nullptr;
  static inline bool destroyed_ = false;
};

}  // namespace Msi
