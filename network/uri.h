// Splitter of certificate and resource names of the form
// scheme://authority/path?query#fragment; a plain file system path reads as a
// "file" name. Only splits: no escapes are decoded, nothing is validated and the
// authority is not divided into host and port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Network {

// Raised when a scheme is not followed by "//"; the error text is the input.
constexpr std::uint32_t kUriSyntaxError = 0x30406;

class Uri {
 public:
  virtual const std::u16string& scheme() const = 0;
  // Between "//" and the next "/".
  virtual const std::u16string& authority() const = 0;
  // After the "/" that ends the authority, up to "?" (or "#" without a query).
  virtual const std::u16string& path() const = 0;
  virtual const std::u16string& query() const = 0;
  virtual const std::u16string& fragment() const = 0;
  virtual std::u16string text() const = 0;
  virtual void removeFragment() = 0;
  virtual std::unique_ptr<Uri> clone() const = 0;
  virtual ~Uri() = default;
};

// Throws Common::Error 0x30406 when a scheme lacks "//".
std::unique_ptr<Uri> createUri(const std::u16string& text);

}  // namespace Network
