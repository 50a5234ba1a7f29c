// The model's exceptions. Msi::Error is a Common::Error whose raise site holds
// the module id (high half) and the location code (low half); Msi::DbError adds
// the installer's last error text.
#pragma once

#include <cstdint>
#include <string>

#include "core/error.h"

namespace Msi {

// A location code unique to the raise site.
#define MSI_LOCATION (static_cast<std::uint32_t>(KV_SITE))

class Error : public Common::Error {
 public:
  Error() = default;
  Error(std::uint32_t location, std::uint32_t module, std::uint32_t number);
  Error(std::uint32_t location, std::uint32_t module, std::uint32_t number, const std::u16string& text);
  explicit Error(const Common::Error& e) : Common::Error(e) {}

  std::uint32_t module() const noexcept { return static_cast<std::uint32_t>(site() >> 32); }
  std::uint32_t location() const noexcept { return static_cast<std::uint32_t>(site()); }
};

class DbError : public Error {
 public:
  // The text is the installer's last error record, formatted (empty when none).
  DbError(std::uint32_t location, std::uint32_t module, std::uint32_t number);
  // The text is the prefix, then "\nError detailes: " and the last error record
  // when there is one.
  DbError(std::uint32_t location, std::uint32_t module, std::uint32_t number, const std::u16string& prefix);
};

// The text rule of DbError: takes (and so clears) this thread's last error record.
std::u16string lastErrorText(const std::u16string* prefix = nullptr);

}  // namespace Msi
