// A check of an installer package's compound file before the engine reads it:
// the engine trusts every sector number, size and string length it finds and
// crashes or reads garbage on damaged files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace msi_layer {

struct PackageCheck {
  bool ok = false;
  bool compound = false;       // the file at least starts as a compound file
  std::string problem;        // what is damaged, when !ok
  std::uint32_t codePage = 0;  // the string pool's code page, when ok
};

// Checks the bytes of a whole package file.
PackageCheck checkPackageBytes(std::string_view file);
// Checks the package at a Unix path (an unreadable file is not ok).
PackageCheck checkPackageFile(const std::string& path);

}  // namespace msi_layer
