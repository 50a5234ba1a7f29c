#include "system/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string hex(const std::uint8_t d[16]) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < 16; ++i) {
    s += digits[d[i] >> 4];
    s += digits[d[i] & 15];
  }
  return s;
}

std::string md5Of(const std::string& text) {
  Common::Md5 md5;
  md5.init();
  md5.update(text.data(), text.size());
  std::uint8_t d[16];
  md5.finish(d);
  return hex(d);
}

struct Vector {
  const char* input;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Vector kRfcVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, RfcTestSuite) {
  for (const Vector& v : kRfcVectors) EXPECT_EQ(md5Of(v.input), v.digest) << '"' << v.input << '"';
}

// Feeding the same bytes in pieces that straddle block and padding boundaries
// gives the one-piece digest.
TEST(Md5, SplitUpdatesMatchOneUpdate) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += char('a' + i % 26);
  for (std::size_t len : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    std::string part = data.substr(0, len);
    std::string whole = md5Of(part);
    for (std::size_t step : {1u, 7u, 63u, 64u}) {
      Common::Md5 md5;
      for (std::size_t at = 0; at < len; at += step) md5.update(part.data() + at, std::min(step, len - at));
      std::uint8_t d[16];
      md5.finish(d);
      EXPECT_EQ(hex(d), whole) << "length " << len << " step " << step;
    }
  }
}

TEST(Md5, FinishClearsContext) {
  Common::Md5 md5;
  md5.update("abc", 3);
  std::uint8_t d[16];
  md5.finish(d);
  unsigned char zero[sizeof(Common::Md5)] = {};
  EXPECT_EQ(std::memcmp(&md5, zero, sizeof md5), 0);
  md5.init();
  md5.update("abc", 3);
  md5.finish(d);
  EXPECT_EQ(hex(d), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
