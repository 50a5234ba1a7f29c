#include "system/md5.h"

#include <cstring>

namespace Common {
namespace {

inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t readLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void writeLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

}  // namespace

void Md5::init() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  count_[0] = count_[1] = 0;
  std::memset(buffer_, 0, sizeof buffer_);
}

void Md5::transform(const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = readLe32(block + 4 * i);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    int round = i / 16;
    switch (round) {
      case 0: f = (b & c) | (~b & d); g = i; break;
      case 1: f = (d & b) | (~d & c); g = (5 * i + 1) & 15; break;
      case 2: f = b ^ c ^ d; g = (3 * i + 5) & 15; break;
      default: f = c ^ (b | ~d); g = (7 * i) & 15; break;
    }
    std::uint32_t t = d;
    d = c;
    c = b;
    b = b + rotl(a + f + kSine[i] + x[g], kShift[round][i & 3]);
    a = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::update(const void* data, std::size_t length) {
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  std::size_t used = count_[0] & 63;
  std::uint64_t total = (std::uint64_t(count_[1]) << 32 | count_[0]) + length;
  count_[0] = std::uint32_t(total);
  count_[1] = std::uint32_t(total >> 32);
  if (used) {
    std::size_t take = 64 - used;
    if (length < take) {
      std::memcpy(buffer_ + used, p, length);
      return;
    }
    std::memcpy(buffer_ + used, p, take);
    transform(buffer_);
    p += take;
    length -= take;
  }
  for (; length >= 64; p += 64, length -= 64) transform(p);
  if (length) std::memcpy(buffer_, p, length);
}

void Md5::finish(std::uint8_t digest[16]) {
  std::uint64_t bits = (std::uint64_t(count_[1]) << 32 | count_[0]) << 3;
  std::uint8_t tail[72] = {0x80};
  std::size_t used = count_[0] & 63;
  std::size_t pad = used < 56 ? 56 - used : 120 - used;
  std::uint8_t length[8];
  writeLe32(length, std::uint32_t(bits));
  writeLe32(length + 4, std::uint32_t(bits >> 32));
  update(tail, pad);
  update(length, 8);
  for (int i = 0; i < 4; ++i) writeLe32(digest + 4 * i, state_[i]);
  std::memset(this, 0, sizeof *this);
}

}  // namespace Common
