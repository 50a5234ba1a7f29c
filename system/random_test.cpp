#include "system/random.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class RandomBytes : public ::testing::Test {
 protected:
  void TearDown() override { Common::detail::resetRandomSource(true); }
};

TEST_F(RandomBytes, ProviderFillsBuffer) {
  Common::detail::resetRandomSource(true);
  unsigned char a[64] = {}, b[64] = {};
  EXPECT_TRUE(Common::randomBytes(a, sizeof a, true));
  EXPECT_TRUE(Common::randomBytes(b, sizeof b, true));
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
  unsigned char zero[64] = {};
  EXPECT_NE(std::memcmp(a, zero, sizeof a), 0);
}

// A failing kernel source is a failure, strong demanded or not: no bytes
// from a time-seeded rand() pass as random.
TEST_F(RandomBytes, WithoutProviderFailsEvenWhenWeakIsAllowed) {
  Common::detail::resetRandomSource(false);
  for (bool strongOnly : {true, false}) {
    unsigned char buf[32];
    std::memset(buf, 0xA5, sizeof buf);
    EXPECT_FALSE(Common::randomBytes(buf, sizeof buf, strongOnly)) << strongOnly;
    for (unsigned char c : buf) ASSERT_EQ(c, 0xA5);
  }
  Common::detail::resetRandomSource(true);
  unsigned char buf[16];
  EXPECT_TRUE(Common::randomBytes(buf, sizeof buf, false));
}

TEST_F(RandomBytes, EmptyRequest) { EXPECT_TRUE(Common::randomBytes(nullptr, 0, true)); }

}  // namespace
