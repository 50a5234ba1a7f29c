// The catalogue loader on arbitrary bytes, read as a catalogue file; when the
// bytes are an archive, from its catalogue member as the program does; and
// from a stored member whose declared size the first four bytes give, the
// rest being its contents. A loaded catalogue has every slot on a
// NUL-terminated text inside its block, and a declared size never makes the
// loader allocate more than the member holds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "files/test_memory_input.h"
#include "files/zip_file.h"
#include "files/zip_writer.h"
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

// A stored member holding `contents` but declaring `declared` bytes.
std::string archive_declaring(const std::string& contents, std::uint32_t declared) {
  std::ostringstream out;
  zip_writer w(out);
  if (!w.add(Common::catalogueFileName, contents, zip_writer::method::stored) || !w.finish()) return {};
  std::string zip = out.str();
  auto put32 = [&zip](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) zip[at + i] = static_cast<char>(v >> (8 * i));
  };
  const std::size_t central = 30 + std::strlen(Common::catalogueFileName) + contents.size();
  put32(18, declared);
  put32(22, declared);
  put32(central + 20, declared);
  put32(central + 24, declared);
  return zip;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    fs_test::memory_input in(bytes);
    load(&in, expected_count(data, size));
  }
  if (size >= 4) {
    std::uint32_t declared;
    std::memcpy(&declared, data, 4);
    fs_test::memory_input archive(archive_declaring(bytes.substr(4), declared));
    zip_file zip(&archive);
    std::u16string name(Common::catalogueFileName, Common::catalogueFileName + std::strlen(Common::catalogueFileName));
    std::unique_ptr<ri_file> member(zip.open_file(name.c_str(), false));
    if (member) load(member.get(), expected_count(data + 4, size - 4));
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
