// MD5 digest (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Common {

class Md5 {
 public:
  Md5() { init(); }
  void init();
  void update(const void* data, std::size_t length);
  // Writes the 16-byte digest and clears the whole context.
  void finish(std::uint8_t digest[16]);

 private:
  void transform(const std::uint8_t block[64]);

  std::uint32_t state_[4];
  std::uint32_t count_[2];  // bytes hashed, low then high half
  std::uint8_t buffer_[64];
};

}  // namespace Common
