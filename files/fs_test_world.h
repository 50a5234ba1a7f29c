// A private world for one file-system test: its own drive C (and D) under
// the test folder (KV_TEST_TMP, else the system's temp folder), removed
// afterwards. The Unix side is reached only to set up and inspect fixtures.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs_test {

class World : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("KV_TEST_TMP");
    const std::string parent = base && *base ? base : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(parent);
    std::string templ = parent + "/files-XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    std::filesystem::create_directories(dir_ + "/c/work");
    std::filesystem::create_directories(dir_ + "/d");
    ::setenv("KV_WORLD_ROOT", (dir_ + "/world").c_str(), 1);
    ::setenv("KV_DRIVE_C", (dir_ + "/c").c_str(), 1);
    ::setenv("KV_DRIVE_D", (dir_ + "/d").c_str(), 1);
    ::unsetenv("TMP");
    ::unsetenv("TEMP");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  // The Unix path of a name on drive C.
  std::string c(const std::string& rel = "") const { return rel.empty() ? dir_ + "/c" : dir_ + "/c/" + rel; }
  void put(const std::string& rel, const std::string& bytes) const { std::ofstream(c(rel), std::ios::binary) << bytes; }
  std::string get(const std::string& rel) const {
    std::ifstream in(c(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

inline std::string narrow(const char16_t* s) {
  std::string out;
  if (!s) return "(null)";
  for (; *s; ++s) out.push_back(*s < 128 ? static_cast<char>(*s) : '?');
  return out;
}

}  // namespace fs_test
