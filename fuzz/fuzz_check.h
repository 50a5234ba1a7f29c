// What every fuzz target shares: a failed property stops the run with a
// message, so that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                  \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                            \
    }                                                                                          \
  } while (0)

namespace fuzz {
// Both byte strings, printable ASCII as it is and the rest in hex escapes.
inline void print_difference(const std::string& a, const std::string& b) {
  for (const std::string* s : {&a, &b}) {
    std::string shown;
    for (unsigned char c : *s) {
      char hex[8];
      std::snprintf(hex, sizeof hex, c >= 32 && c < 127 && c != '\\' ? "%c" : "\\x%02x", c);
      shown += hex;
    }
    std::fprintf(stderr, "  \"%s\"\n", shown.c_str());
  }
}
}  // namespace fuzz

#define FUZZ_CHECK_EQUAL(a, b)           \
  do {                                   \
    if (!((a) == (b))) {                 \
      fuzz::print_difference((a), (b));  \
      FUZZ_CHECK((a) == (b));            \
    }                                    \
  } while (0)
