// Bounds of the loaded message catalogue's text block. Error records keep texts
// that lie inside it by address, since those live until the process ends.
#pragma once

#include <cstddef>

namespace Common {

// True when begin <= p < begin + bytes of the current block; false while no
// catalogue is loaded.
bool isCatalogueText(const void* p);

// Written once by the catalogue loader during start-up, before any error is
// built (tests may set their own block). A null begin clears the bounds.
void setCatalogueBlock(const void* begin, std::size_t bytes);

}  // namespace Common
