#include "core/catalogue.h"

#include <bit>
#include <cstring>
#include <new>

#include "files/file_object.h"

namespace Common {

const char16_t* catalogueTexts[catalogueTextCount];

namespace {

// Texts are used in place, so the block's UTF-16LE must be the host's order.
static_assert(std::endian::native == std::endian::little);
// The offsets are read into the slot array and widened there.
static_assert(sizeof(const char16_t*) >= sizeof(std::uint32_t));

std::uint32_t le32(const unsigned char* p) {
  return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}

// Offset i as the file stored it, in the first count x 4 bytes of the slot array.
std::uint32_t storedOffset(const char16_t* const* slots, std::uint32_t i) {
  return le32(reinterpret_cast<const unsigned char*>(slots) + 4 * static_cast<std::size_t>(i));
}

// Byte position just past the block's last NUL unit (0 when it has none): every
// text that starts before it ends inside the block, whatever the offsets share.
std::uint64_t textLimit(const void* block, std::uint32_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (std::uint64_t at = size & ~std::uint64_t{1}; at >= 2; at -= 2)
    if (bytes[at - 2] == 0 && bytes[at - 1] == 0) return at;
  return 0;
}

bool offsetValid(std::uint32_t offset, std::uint64_t limit) { return (offset & 1) == 0 && offset < limit; }

// The text block, read with one exact read when it is small. A larger one
// grows with what actually arrives: a file's size may be only what it
// declares (an archive member's header), and a block the file cannot back must
// fail before it is allocated in full.
char16_t* readBlock(i_file* file, std::uint32_t size) {
  constexpr std::uint32_t firstStep = 1u << 20;
  std::uint32_t capacity = size <= firstStep ? size : firstStep;
  auto* texts = new (std::nothrow) char16_t[capacity / 2 + 1];
  if (!texts) return nullptr;
  file->read_exact(texts, capacity);
  while (file->Good() && capacity < size) {
    const std::uint32_t grown = size - capacity > capacity ? 2 * capacity : size;
    auto* larger = new (std::nothrow) char16_t[grown / 2 + 1];
    if (!larger) break;
    std::memcpy(larger, texts, capacity);
    delete[] texts;
    texts = larger;
    file->read_exact(reinterpret_cast<unsigned char*>(texts) + capacity, grown - capacity);
    capacity = grown;
  }
  if (file->Bad() || capacity < size) {
    delete[] texts;
    return nullptr;
  }
  return texts;
}

}  // namespace

bool catalogueOffsetsValid(const void* block, std::uint32_t size, const std::uint32_t* offsets,
                           std::uint32_t count) {
  const std::uint64_t limit = textLimit(block, size);
  for (std::uint32_t i = 0; i < count; ++i)
    if (!offsetValid(offsets[i], limit)) return false;
  return true;
}

bool readMessageCatalogue(i_file* file, const char16_t** slots, std::uint32_t expected, void** block,
                          std::uint32_t* bytes) {
  *block = nullptr;
  if (!file || expected > 0xFFFFFFFFu / 4) return false;
  unsigned char head[8];
  file->read_exact(head, sizeof head);
  if (file->Bad()) return false;
  const std::uint32_t count = le32(head);
  const std::uint32_t size = le32(head + 4);
  if (count != expected) return false;

  file->read_exact(slots, count * 4);
  if (file->Bad()) return false;

  // A size beyond the file's end is refused before it is allocated.
  if (auto* sized = dynamic_cast<sized_file*>(file)) {
    const std::uint64_t total = sized->size();
    if (file->Bad() || total < 8 + std::uint64_t{count} * 4 + size) return false;
  }

  char16_t* texts = readBlock(file, size);
  if (!texts) return false;

  const std::uint64_t limit = textLimit(texts, size);
  for (std::uint32_t i = 0; i < count; ++i)
    if (!offsetValid(storedOffset(slots, i), limit)) {
      delete[] texts;
      return false;
    }
  // Widen in place from the last slot down: pointer i covers stored offsets
  // 2i and 2i+1 (on 64-bit), which are consumed by then.
  const auto* base = reinterpret_cast<const unsigned char*>(texts);
  for (std::uint32_t i = count; i-- > 0;)
    slots[i] = reinterpret_cast<const char16_t*>(base + storedOffset(slots, i));
  *block = texts;
  if (bytes) *bytes = size;
  return true;
}

void releaseMessageCatalogue(void* block) {
  if (!block) return;
  if (isCatalogueText(block)) setCatalogueBlock(nullptr, 0);
  delete[] static_cast<char16_t*>(block);
}

}  // namespace Common
