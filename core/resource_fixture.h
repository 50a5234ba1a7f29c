// A private folder for resource tests, with helpers that write plain files and
// ZIP archives into it and name them as the program sees them (drive Z: is /).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/resource_testing.h"
#include "files/file_object.h"
#include "files/zip_writer.h"
#include "platform/win32/testing/test_world.h"

namespace resource_test {

class Folder : public win32_test::World {
 protected:
  // The layer's own state (drive C, registry) stays in the folder too.
  Folder() : win32_test::World("res-") {}

  // Whatever an earlier test of the process left of the resource look-up goes.
  void SetUp() override {
    World::SetUp();
    Common::testing::setProgramArchivePath(nullptr);
    Common::testing::setResourceFileState(0);
  }

  void TearDown() override {
    Common::testing::setProgramArchivePath(nullptr);
    Common::testing::setResourceFileState(0);
    World::TearDown();
  }

  // The Unix path of `name` in the folder, and the same as the program sees it.
  std::string unix_path(const std::string& name) const { return dir_ + "/" + name; }
  std::u16string path(const std::string& name) const {
    const std::string p = "Z:" + unix_path(name);
    return std::u16string(p.begin(), p.end());
  }
  std::string narrow_path(const std::string& name) const { return "Z:" + unix_path(name); }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(unix_path(name), std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good());
  }
  // A ZIP of (name, data) members placed after `before` (a program's bytes).
  static std::string zip(const std::vector<std::pair<std::string, std::string>>& members,
                         const std::string& before = {}) {
    std::ostringstream out;
    out << before;
    zip_writer w(out);
    for (const auto& [name, data] : members) EXPECT_TRUE(w.add(name, data)) << w.error();
    EXPECT_TRUE(w.finish()) << w.error();
    return out.str();
  }

  static std::string read_all(ri_file* f) {
    std::string out;
    if (!f) return out;
    char buffer[512];
    for (std::uint32_t n = 0;;) {
      f->read(buffer, sizeof buffer, n);
      if (n == 0) break;
      out.append(buffer, n);
    }
    return out;
  }
  // The contents of a file object, which is deleted; "<null>" for none.
  static std::string take(ri_file* f) {
    std::unique_ptr<ri_file> owned(f);
    return f ? read_all(f) : "<null>";
  }

};

}  // namespace resource_test
