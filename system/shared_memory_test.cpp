#include "system/shared_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/error.h"
#include "platform/win32/testing/test_world.h"

namespace {

class SharedMemoryTest : public win32_test::World {};

TEST_F(SharedMemoryTest, SecondCreateSharesOrRefuses) {
  bool existed = true;
  std::unique_ptr<Common::SharedMemory> first(Common::SharedMemory::create(256, "kv-shm", false, &existed));
  EXPECT_FALSE(existed);
  ASSERT_EQ(first->size(), 256u);
  std::memcpy(first->data(), "shared", 7);

  std::unique_ptr<Common::SharedMemory> second(Common::SharedMemory::create(256, "kv-shm", true, &existed));
  EXPECT_TRUE(existed);
  EXPECT_STREQ(static_cast<const char*>(second->data()), "shared");
  EXPECT_NE(first->data(), second->data());

  try {
    delete Common::SharedMemory::create(256, "kv-shm", false);
    ADD_FAILURE() << "no error";
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 3u);
    EXPECT_EQ(e.text(), u"The named resource already exists.");
    ASSERT_TRUE(e.cause());
  }

  // The name lies in the global namespace, whatever the caller passes.
  EXPECT_EQ(Common::globalObjectName("kv-shm"), "Global\\kv-shm");
  HANDLE opened = OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\kv-shm");
  ASSERT_NE(opened, nullptr);
  CloseHandle(opened);
}

TEST_F(SharedMemoryTest, EmptySizeFailsToCreate) {
  try {
    delete Common::SharedMemory::create(0, "kv-shm-empty", true);
    ADD_FAILURE() << "no error";
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 6u);
    EXPECT_EQ(e.text(), u"Creation has failed.");
  }
}

}  // namespace
