// An installer handle that is closed, and zeroed, when it goes out of scope.
#pragma once

#include "platform/msi/msi.h"

namespace Msi {

class HandleGuard {
 public:
  HandleGuard() = default;
  explicit HandleGuard(MSIHANDLE h) : h_(h) {}
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  ~HandleGuard() { close(); }

  MSIHANDLE get() const { return h_; }
  MSIHANDLE* out() {
    close();
    return &h_;
  }
  // The result of the close is not checked.
  void close() {
    if (h_) MsiCloseHandle(h_);
    h_ = 0;
  }

 private:
  MSIHANDLE h_ = 0;
};

// True for the two results every installer call counts as success.
inline bool succeeded(UINT r) { return r == ERROR_SUCCESS || r == ERROR_MORE_DATA; }

}  // namespace Msi
