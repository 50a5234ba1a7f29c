// The message catalogue: every user-visible text of the program, addressed by
// slot number. The program loads it once during start-up (installmenu/startup.cpp)
// and code reads Common::catalogueTexts[n] directly; the libraries never load it
// themselves, so their tests run without one.
//
// File layout (little-endian): u32 count, u32 size of the text block, count u32
// offsets into the block, then the block: UTF-16LE texts, each ending with a NUL
// unit. Slot 1153 holds narrow bytes ("22" and a NUL) that are read as such.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/catalogue_block.h"

class i_file;
class ri_file;

namespace Common {

inline constexpr std::uint32_t catalogueTextCount = 2541;
inline constexpr char catalogueFileName[] = "DovecrestVazediInstallMenu.msg";

// Slot n points at text n inside the loaded text block; null before loading.
extern const char16_t* catalogueTexts[catalogueTextCount];

// Slot n of the loaded catalogue, else the caller's built-in copy of that text
// (library code runs without a catalogue in its tests).
inline const char16_t* catalogueText(std::uint32_t slot, const char16_t* builtIn) {
  const char16_t* t = slot < catalogueTextCount ? catalogueTexts[slot] : nullptr;
  return t ? t : builtIn;
}

// Opens `name` (narrow, widened byte by byte) in the current directory, else
// beside the program, else as a member of the program archive. Once the first
// resource sought has been missing from disk, later calls skip the disk.
ri_file* openResourceFile(const char* name);

// Opens `name` with openResourceFile and reads a catalogue of exactly `expected`
// texts into `slots`; the text block is allocated with new[] and handed out in
// *block. On success also publishes the block's bounds (isCatalogueText).
// Refuses a catalogue whose offsets or texts fall outside its block.
bool loadMessageCatalogue(const char* name, const char16_t** slots, std::uint32_t expected, void** block);

// The loader's work after opening: reads and checks a catalogue from `file`.
// Does not publish the bounds; *bytes (when given) receives the block's size.
bool readMessageCatalogue(i_file* file, const char16_t** slots, std::uint32_t expected, void** block,
                          std::uint32_t* bytes = nullptr);

// True when each of the `count` offsets is even and names a text whose NUL
// unit lies inside the `size`-byte block. Texts are taken as 16-bit units:
// a narrow text must therefore be padded to an even length, as the catalogue
// builder does.
bool catalogueOffsetsValid(const void* block, std::uint32_t size, const std::uint32_t* offsets,
                           std::uint32_t count);

// Frees a block that loadMessageCatalogue handed out, clearing the published
// bounds first when they are this block's. The program calls it at exit.
void releaseMessageCatalogue(void* block);

}  // namespace Common
