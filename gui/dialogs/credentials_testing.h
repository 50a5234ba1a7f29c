// Test fixture of the credentials prompt, for the tests of this library and
// of the dialogs above it: a network folder that refuses access.
#pragma once

#include <string>

#include "files/file_object.h"

namespace kvtest {

// A refused network folder: names itself and keeps the credentials handed in.
class RefusedFolder : public i_dir {
 public:
  ri_file* open_file(const file_identifier*, bool) override { return nullptr; }
  ri_file* open_file(iterator*, bool) override { return nullptr; }
  ri_file* open_file(const char16_t*, bool) override { return nullptr; }
  ri_dir* open_dir(const file_identifier*) override { return nullptr; }
  ri_dir* open_dir(iterator*) override { return nullptr; }
  ri_dir* open_dir(const char16_t*) override { return nullptr; }
  iterator* iterate(const file_identifier*) override { return nullptr; }
  iterator* iterate(const char16_t*) override { return nullptr; }
  iterator* iterate() override { return nullptr; }
  iterator* iterate_self() override { return nullptr; }
  int compare_names(const file_identifier*, const file_identifier*) override { return 0; }
  void control(void* request) override {
    auto* r = static_cast<dir_control_request*>(request);
    if (r->code == control_code("GSYP")) {
      r->pointer3 = const_cast<char16_t*>(u"\\\\server\\share");
    } else if (r->code == control_code("SPWD")) {
      user = r->text1;
      password = r->text2;
      ++handed;
    } else {
      file_object::control(request);
    }
  }
  std::u16string user, password;
  int handed = 0;
};

}  // namespace kvtest
