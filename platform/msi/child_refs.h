// libmsi 0.101 takes a reference to each table stream and storage of a package
// while it caches the file's structure (at open and again after each commit)
// and never drops it; each one keeps the whole file open, one descriptor per
// open. While a guard lives on a thread, the children the engine asks for are
// noted, and when it ends those the engine forgot are released.
#pragma once

namespace msi_layer {

class ForgottenChildren {
 public:
  ForgottenChildren();
  ~ForgottenChildren();
  ForgottenChildren(const ForgottenChildren&) = delete;
  ForgottenChildren& operator=(const ForgottenChildren&) = delete;

 private:
  ForgottenChildren* outer_;
};

}  // namespace msi_layer
