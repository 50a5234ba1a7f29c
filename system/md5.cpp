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

}  // namespace

void Md5::init() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  count_[0] = count_[1] = 0;
  std::memset(buffer_, 0, sizeof buffer_);
}

// The 64 steps written out: with the round functions, message indices and
// shifts as constants, each step is a handful of instructions.
#define KV_MD5_STEP(F, a, b, c, d, k, s, i) a = b + rotl(a + F(b, c, d) + x[k] + kSine[i], s)
#define KV_MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define KV_MD5_G(b, c, d) ((c) ^ ((d) & ((b) ^ (c))))
#define KV_MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define KV_MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

void Md5::transform(const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = readLe32(block + 4 * i);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  KV_MD5_STEP(KV_MD5_F, a, b, c, d, 0, 7, 0);
  KV_MD5_STEP(KV_MD5_F, d, a, b, c, 1, 12, 1);
  KV_MD5_STEP(KV_MD5_F, c, d, a, b, 2, 17, 2);
  KV_MD5_STEP(KV_MD5_F, b, c, d, a, 3, 22, 3);
  KV_MD5_STEP(KV_MD5_F, a, b, c, d, 4, 7, 4);
  KV_MD5_STEP(KV_MD5_F, d, a, b, c, 5, 12, 5);
  KV_MD5_STEP(KV_MD5_F, c, d, a, b, 6, 17, 6);
  KV_MD5_STEP(KV_MD5_F, b, c, d, a, 7, 22, 7);
  KV_MD5_STEP(KV_MD5_F, a, b, c, d, 8, 7, 8);
  KV_MD5_STEP(KV_MD5_F, d, a, b, c, 9, 12, 9);
  KV_MD5_STEP(KV_MD5_F, c, d, a, b, 10, 17, 10);
  KV_MD5_STEP(KV_MD5_F, b, c, d, a, 11, 22, 11);
  KV_MD5_STEP(KV_MD5_F, a, b, c, d, 12, 7, 12);
  KV_MD5_STEP(KV_MD5_F, d, a, b, c, 13, 12, 13);
  KV_MD5_STEP(KV_MD5_F, c, d, a, b, 14, 17, 14);
  KV_MD5_STEP(KV_MD5_F, b, c, d, a, 15, 22, 15);

  KV_MD5_STEP(KV_MD5_G, a, b, c, d, 1, 5, 16);
  KV_MD5_STEP(KV_MD5_G, d, a, b, c, 6, 9, 17);
  KV_MD5_STEP(KV_MD5_G, c, d, a, b, 11, 14, 18);
  KV_MD5_STEP(KV_MD5_G, b, c, d, a, 0, 20, 19);
  KV_MD5_STEP(KV_MD5_G, a, b, c, d, 5, 5, 20);
  KV_MD5_STEP(KV_MD5_G, d, a, b, c, 10, 9, 21);
  KV_MD5_STEP(KV_MD5_G, c, d, a, b, 15, 14, 22);
  KV_MD5_STEP(KV_MD5_G, b, c, d, a, 4, 20, 23);
  KV_MD5_STEP(KV_MD5_G, a, b, c, d, 9, 5, 24);
  KV_MD5_STEP(KV_MD5_G, d, a, b, c, 14, 9, 25);
  KV_MD5_STEP(KV_MD5_G, c, d, a, b, 3, 14, 26);
  KV_MD5_STEP(KV_MD5_G, b, c, d, a, 8, 20, 27);
  KV_MD5_STEP(KV_MD5_G, a, b, c, d, 13, 5, 28);
  KV_MD5_STEP(KV_MD5_G, d, a, b, c, 2, 9, 29);
  KV_MD5_STEP(KV_MD5_G, c, d, a, b, 7, 14, 30);
  KV_MD5_STEP(KV_MD5_G, b, c, d, a, 12, 20, 31);

  KV_MD5_STEP(KV_MD5_H, a, b, c, d, 5, 4, 32);
  KV_MD5_STEP(KV_MD5_H, d, a, b, c, 8, 11, 33);
  KV_MD5_STEP(KV_MD5_H, c, d, a, b, 11, 16, 34);
  KV_MD5_STEP(KV_MD5_H, b, c, d, a, 14, 23, 35);
  KV_MD5_STEP(KV_MD5_H, a, b, c, d, 1, 4, 36);
  KV_MD5_STEP(KV_MD5_H, d, a, b, c, 4, 11, 37);
  KV_MD5_STEP(KV_MD5_H, c, d, a, b, 7, 16, 38);
  KV_MD5_STEP(KV_MD5_H, b, c, d, a, 10, 23, 39);
  KV_MD5_STEP(KV_MD5_H, a, b, c, d, 13, 4, 40);
  KV_MD5_STEP(KV_MD5_H, d, a, b, c, 0, 11, 41);
  KV_MD5_STEP(KV_MD5_H, c, d, a, b, 3, 16, 42);
  KV_MD5_STEP(KV_MD5_H, b, c, d, a, 6, 23, 43);
  KV_MD5_STEP(KV_MD5_H, a, b, c, d, 9, 4, 44);
  KV_MD5_STEP(KV_MD5_H, d, a, b, c, 12, 11, 45);
  KV_MD5_STEP(KV_MD5_H, c, d, a, b, 15, 16, 46);
  KV_MD5_STEP(KV_MD5_H, b, c, d, a, 2, 23, 47);

  KV_MD5_STEP(KV_MD5_I, a, b, c, d, 0, 6, 48);
  KV_MD5_STEP(KV_MD5_I, d, a, b, c, 7, 10, 49);
  KV_MD5_STEP(KV_MD5_I, c, d, a, b, 14, 15, 50);
  KV_MD5_STEP(KV_MD5_I, b, c, d, a, 5, 21, 51);
  KV_MD5_STEP(KV_MD5_I, a, b, c, d, 12, 6, 52);
  KV_MD5_STEP(KV_MD5_I, d, a, b, c, 3, 10, 53);
  KV_MD5_STEP(KV_MD5_I, c, d, a, b, 10, 15, 54);
  KV_MD5_STEP(KV_MD5_I, b, c, d, a, 1, 21, 55);
  KV_MD5_STEP(KV_MD5_I, a, b, c, d, 8, 6, 56);
  KV_MD5_STEP(KV_MD5_I, d, a, b, c, 15, 10, 57);
  KV_MD5_STEP(KV_MD5_I, c, d, a, b, 6, 15, 58);
  KV_MD5_STEP(KV_MD5_I, b, c, d, a, 13, 21, 59);
  KV_MD5_STEP(KV_MD5_I, a, b, c, d, 4, 6, 60);
  KV_MD5_STEP(KV_MD5_I, d, a, b, c, 11, 10, 61);
  KV_MD5_STEP(KV_MD5_I, c, d, a, b, 2, 15, 62);
  KV_MD5_STEP(KV_MD5_I, b, c, d, a, 9, 21, 63);
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

#undef KV_MD5_STEP
#undef KV_MD5_F
#undef KV_MD5_G
#undef KV_MD5_H
#undef KV_MD5_I

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
