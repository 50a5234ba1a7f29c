// A private world for one test: its own drive C and world root under the test
// folder (KV_TEST_TMP, else the system's temp folder), removed afterwards.
// Layers above extend it (files/fs_test_world.h, core/resource_fixture.h).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/windows.h"

namespace win32_test {

class World : public ::testing::Test {
 protected:
  // `prefix` starts the folder's name, to tell leftovers of each kind apart.
  explicit World(const char* prefix = "w32-") : prefix_(prefix) {}

  void SetUp() override {
    const char* base = std::getenv("KV_TEST_TMP");
    std::string parent = base && *base ? base : "";
    if (parent.empty()) {
      std::error_code ec;
      parent = std::filesystem::temp_directory_path(ec).string();
      if (ec || parent.empty()) parent = "/tmp";
    }
    std::filesystem::create_directories(parent);
    std::string templ = parent + "/" + prefix_ + "XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    char cwd[PATH_MAX];
    old_cwd_ = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    ::setenv("KV_WORLD_ROOT", (dir_ + "/world").c_str(), 1);
    ::setenv("KV_DRIVE_C", (dir_ + "/c").c_str(), 1);
    ::unsetenv("KV_DRIVE_D");
    ::unsetenv("KV_WINDOWS_VERSION");
    ::unsetenv("TMP");
    ::unsetenv("TEMP");
    ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\"));
  }
  void TearDown() override {
    if (::chdir(old_cwd_.c_str()) != 0) ADD_FAILURE() << "chdir back";
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  // The Unix path of a name on drive C.
  std::string c(const std::string& rel = "") const { return rel.empty() ? dir_ + "/c" : dir_ + "/c/" + rel; }
  // Writes a file on drive C, making its folders, and reads one back.
  void put(const std::string& rel, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(c(rel)).parent_path());
    std::ofstream(c(rel), std::ios::binary) << bytes;
  }
  std::string get(const std::string& rel) const {
    std::ifstream in(c(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_, old_cwd_;

 private:
  const char* prefix_;
};

}  // namespace win32_test
