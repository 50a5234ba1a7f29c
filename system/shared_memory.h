// Named shared memory visible to every logged-on user ("Global\" namespace,
// open to Everyone).
#pragma once

#include <cstddef>
#include <string>

namespace Common {

class SharedMemory {
 public:
  virtual ~SharedMemory() = default;
  virtual void* data() = 0;
  virtual std::size_t size() = 0;

  // Throws Common::Error: 5 when the security cannot be built, 3 when the
  // object exists and `allowExisting` is false, 6 when creating or mapping
  // fails, 2 when memory runs out; the name is the token field.
  static SharedMemory* create(std::size_t size, const char* name, bool allowExisting, bool* existed = nullptr);
};

// "Global\" + name.
std::string globalObjectName(const char* name);

}  // namespace Common
