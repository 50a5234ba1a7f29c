// The catalogue loader on arbitrary bytes, read as a catalogue file and, when
// the bytes are an archive, from its catalogue member as the program does: a
// loaded catalogue has every slot on a NUL-terminated text inside its block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "files/test_memory_input.h"
#include "files/zip_file.h"
#include "fuzz/fuzz_check.h"

namespace {

void load(i_file* file, std::uint32_t expected) {
  std::vector<const char16_t*> slots(expected ? expected : 1);
  void* block = nullptr;
  std::uint32_t bytes = 0;
  if (!Common::readMessageCatalogue(file, slots.data(), expected, &block, &bytes)) {
    FUZZ_CHECK(block == nullptr);
    return;
  }
  FUZZ_CHECK(block != nullptr);
  const auto* first = static_cast<const unsigned char*>(block);
  const unsigned char* end = first + bytes;
  for (std::uint32_t i = 0; i < expected; ++i) {
    const auto* text = reinterpret_cast<const unsigned char*>(slots[i]);
    FUZZ_CHECK(text >= first && text < end);
    bool terminated = false;
    for (const unsigned char* p = text; p + 2 <= end; p += 2)
      if (p[0] == 0 && p[1] == 0) {
        terminated = true;
        break;
      }
    FUZZ_CHECK(terminated);
  }
  Common::releaseMessageCatalogue(block);
}

std::uint32_t expected_count(const std::uint8_t* data, std::size_t size) {
  // The count the file declares, so that small catalogues are checked whole;
  // the program's own count for huge ones.
  if (size < 4) return Common::catalogueTextCount;
  std::uint32_t count;
  std::memcpy(&count, data, 4);
  return count <= 8192 ? count : Common::catalogueTextCount;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    fs_test::memory_input in(bytes);
    load(&in, expected_count(data, size));
  }
  fs_test::memory_input archive(bytes);
  zip_file zip(&archive);
  if (zip.Bad()) return 0;
  std::u16string name(Common::catalogueFileName, Common::catalogueFileName + std::strlen(Common::catalogueFileName));
  std::unique_ptr<ri_file> member(zip.open_file(name.c_str(), false));
  if (!member) return 0;
  // The member's first bytes give the count; read them from a second opening.
  unsigned char head[4] = {};
  std::uint32_t got = 0;
  {
    std::unique_ptr<ri_file> peek(zip.open_file(name.c_str(), false));
    if (peek) peek->read(head, 4, got);
  }
  load(member.get(), expected_count(head, got));
  return 0;
}
