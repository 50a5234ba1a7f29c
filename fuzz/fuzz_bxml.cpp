// The binary-XML reader on arbitrary bytes behind the "BXML" signature, and
// the write-back of what it reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/xml_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes = "BXML";
  if (size >= 4 && std::string(reinterpret_cast<const char*>(data), 4) == bytes)
    bytes.clear();
  bytes.append(reinterpret_cast<const char*>(data), size);
  xml_document doc;
  if (!doc.load_memory(bytes.data(), bytes.size())) {
    FUZZ_CHECK(doc.root() == nullptr);
    return 0;
  }
  // A binary document of no element loads without a root; callers check for one.
  if (!doc.root()) return 0;
  fuzz::check_round_trip(doc);
  return 0;
}
