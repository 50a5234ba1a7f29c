// The text-XML reader on arbitrary bytes, and the write-back of what it reads.
#include <cstddef>
#include <cstdint>

#include "fuzz/xml_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Binary XML has its own target.
  if (size >= 4 && data[0] == 'B' && data[1] == 'X' && data[2] == 'M' && data[3] == 'L') return 0;
  xml_document doc;
  int line = 0, column = 0;
  if (!doc.load_memory(data, size, line, column)) {
    FUZZ_CHECK(doc.root() == nullptr);
    return 0;
  }
  FUZZ_CHECK(doc.root() != nullptr);
  fuzz::check_round_trip(doc);
  return 0;
}
