// A private world for one file-system test: the layer's world (drive C, root,
// current directory) plus a drive D and a C:\work folder. The Unix side is
// reached only to set up and inspect fixtures.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/test_world.h"

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
  void put(const std::string& rel, const std::string& bytes) const { std::ofstream(c(rel), std::ios::binary) << bytes; }
  std::string get(const std::string& rel) const {
    std::ifstream in(c(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

inline std::string narrow(const char16_t* s) {
  std::string out;
  if (!s) return "(null)";
  for (; *s; ++s) out.push_back(*s < 128 ? static_cast<char>(*s) : '?');
  return out;
}

}  // namespace fs_test
