// The pop-up texts of a help archive on arbitrary bytes: every id found gives
// text without NUL units, and looking up an id twice gives the same answer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "gui/dialogs/help_popups.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (std::uint32_t id : {0u, 1u, 2u, 7u, 42u, 123u, 4294967295u}) {
    std::u16string first, second;
    const bool found = helpPopupText(bytes, id, first);
    FUZZ_CHECK(found == helpPopupText(bytes, id, second));
    FUZZ_CHECK(first == second);
    if (found) FUZZ_CHECK(first.find(u'\0') == std::u16string::npos);
  }
  return 0;
}
