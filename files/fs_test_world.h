// A private world for one file-system test: the layer's world (drive C, root,
// current directory) plus a drive D and a C:\work folder. The Unix side is
// reached only to set up and inspect fixtures.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32/testing/test_world.h"

namespace fs_test {

class World : public win32_test::World {
 protected:
  World() : win32_test::World("files-") {}

  void SetUp() override {
    win32_test::World::SetUp();
    if (HasFatalFailure()) return;
    std::filesystem::create_directories(dir_ + "/c/work");
    std::filesystem::create_directories(dir_ + "/d");
    ::setenv("KV_DRIVE_D", (dir_ + "/d").c_str(), 1);
  }
};

inline std::string narrow(const char16_t* s) {
  std::string out;
  if (!s) return "(null)";
  for (; *s; ++s) out.push_back(*s < 128 ? static_cast<char>(*s) : '?');
  return out;
}

}  // namespace fs_test
