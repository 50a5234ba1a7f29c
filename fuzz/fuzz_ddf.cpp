// Directive files as makecab.exe reads them: accepted or refused with a line,
// never a crash or a hang; what is accepted is a cabinet that can be written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>

#include "fuzz/fuzz_check.h"
#include "platform/tools/ddf.h"
#include "platform/win32/windows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 16) return 0;
  layer_tools::Ddf ddf;
  layer_tools::DdfError error;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!layer_tools::parse_ddf(bytes, ddf, error)) {
    FUZZ_CHECK(!error.message.empty());
    return 0;
  }
  FUZZ_CHECK(!ddf.cabinet_name.empty());
  FUZZ_CHECK(ddf.files.size() <= 0xFFFF);
  std::unordered_set<std::u16string> names;
  for (const auto& f : ddf.files) {
    FUZZ_CHECK(!f.source.empty());
    FUZZ_CHECK(!f.name.empty() && win32::utf16_to_utf8(f.name).size() <= 255);
    FUZZ_CHECK(f.line >= 1);
    std::u16string key;
    for (char16_t c : f.name) key += win32::upcase(c);
    const bool fresh = names.insert(key).second;
    if (f.unique) FUZZ_CHECK(fresh);
  }
  return 0;
}
