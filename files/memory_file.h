// A growable file in memory, so that anything that reads or writes files can
// work on a byte buffer (downloaded documents, generated markup).
#pragma once

#include <cstdint>

#include "files/file_object.h"

namespace Common {

// The contents never grow beyond memoryFileLimit bytes; the position may lie
// anywhere, also beyond the end. unlock, lock_shared, lock_exclusive and
// control keep their base behaviour (0x4000e); flush does nothing.
inline constexpr std::uint64_t memoryFileLimit = 0x40000000;  // 1 GiB

class MemoryFile : public rio_file {
 public:
  // The first byte of the contents, or null when the file is empty. Valid
  // until the next operation that changes the size.
  virtual unsigned char* data() = 0;
};

// A new empty file at position 0, owned by the caller; null when it cannot be
// allocated.
MemoryFile* CreateMemoryFile();

}  // namespace Common
