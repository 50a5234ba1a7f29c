// The provider of SECURITY_ATTRIBUTES that callers may hand to file and
// directory creation (null for none).
#pragma once

#include <cstdint>

#include "platform/win32/windows.h"

class security_source {
 public:
  explicit security_source(std::uint32_t identifier = 0) : identifier(identifier) {}
  virtual ~security_source() = default;

  // Null when no attributes can be made.
  virtual SECURITY_ATTRIBUTES* make_attributes() = 0;
  // 0 when the attributes are usable, otherwise the Win32 error in the way.
  virtual std::uint32_t status(SECURITY_ATTRIBUTES* attributes) = 0;
  // Frees what make_attributes returned.
  virtual void release(SECURITY_ATTRIBUTES* attributes) = 0;

  std::uint32_t identifier;
};
