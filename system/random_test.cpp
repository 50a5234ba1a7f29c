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

TEST_F(RandomBytes, WithoutProviderStrongOnlyFails) {
  Common::detail::resetRandomSource(false);
  unsigned char buf[32];
  std::memset(buf, 0xA5, sizeof buf);
  EXPECT_FALSE(Common::randomBytes(buf, sizeof buf, true));
  for (unsigned char c : buf) ASSERT_EQ(c, 0xA5);  // left to the caller

  // The weak fallback still answers when strength is not demanded.
  unsigned char weak[256];
  std::memset(weak, 0, sizeof weak);
  EXPECT_TRUE(Common::randomBytes(weak, sizeof weak, false));
  int nonZero = 0;
  for (unsigned char c : weak) nonZero += c != 0;
  EXPECT_GT(nonZero, 200);
}

TEST_F(RandomBytes, EmptyRequest) { EXPECT_TRUE(Common::randomBytes(nullptr, 0, true)); }

}  // namespace
