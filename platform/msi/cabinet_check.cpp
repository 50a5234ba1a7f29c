#include "platform/msi/cabinet_check.h"

#include <cstdint>
#include <vector>

namespace msi_layer {
namespace {

constexpr std::size_t kHeader = 36;
constexpr std::uint16_t kPrevCabinet = 1, kNextCabinet = 2, kReservePresent = 4;
constexpr std::uint32_t kMaxBlock = 0x8000;  // uncompressed bytes of one data block
constexpr std::size_t kMaxName = 256;

class Reader {
 public:
  explicit Reader(std::string_view b) : b_(b) {}
  bool has(std::uint64_t at, std::uint64_t n) const { return at <= b_.size() && n <= b_.size() - at; }
  std::uint32_t u8(std::size_t at) const { return static_cast<unsigned char>(b_[at]); }
  std::uint32_t u16(std::size_t at) const { return u8(at) | (u8(at + 1) << 8); }
  std::uint32_t u32(std::size_t at) const { return u16(at) | (u16(at + 2) << 16); }
  // The length of a NUL-terminated text at `at` of at most `max` bytes, or -1.
  long text(std::size_t at, std::size_t max) const {
    for (std::size_t i = 0; i < max && at + i < b_.size(); ++i)
      if (b_[at + i] == '\0') return static_cast<long>(i);
    return -1;
  }

 private:
  std::string_view b_;
};

CabinetCheck bad(std::string why) { return {false, std::move(why)}; }

}  // namespace

CabinetCheck checkCabinetBytes(std::string_view cabinet) {
  const Reader r(cabinet);
  if (!r.has(0, kHeader) || cabinet.substr(0, 4) != "MSCF") return bad("not a cabinet");
  const std::uint32_t total = r.u32(8), filesAt = r.u32(16);
  const std::uint32_t folders = r.u16(26), files = r.u16(28), flags = r.u16(30);
  if (total < kHeader || total > cabinet.size()) return bad("the cabinet's size is wrong");
  const Reader in(cabinet.substr(0, total));
  if (flags & (kPrevCabinet | kNextCabinet)) return bad("a cabinet of a set spanning several cabinets");
  if (flags & ~static_cast<std::uint32_t>(kPrevCabinet | kNextCabinet | kReservePresent)) return bad("unknown flags");
  std::size_t at = kHeader;
  std::uint32_t folderReserve = 0, dataReserve = 0;
  if (flags & kReservePresent) {
    if (!in.has(at, 4)) return bad("the reserve sizes lie outside the cabinet");
    const std::uint32_t headerReserve = in.u16(at);
    folderReserve = in.u8(at + 2);
    dataReserve = in.u8(at + 3);
    at += 4;
    if (!in.has(at, headerReserve)) return bad("the header's reserve lies outside the cabinet");
    at += headerReserve;
  }
  if (files > 0 && folders == 0) return bad("files without a folder");

  std::vector<std::uint64_t> folderSize(folders, 0);
  for (std::uint32_t f = 0; f < folders; ++f, at += 8 + folderReserve) {
    if (!in.has(at, 8 + folderReserve)) return bad("a folder entry lies outside the cabinet");
    std::uint64_t block = in.u32(at);
    const std::uint32_t blocks = in.u16(at + 4), type = in.u16(at + 6) & 0x0F;
    if (type != 0 && type != 1 && type != 3) return bad("a folder of an unknown compression");
    for (std::uint32_t d = 0; d < blocks; ++d) {
      if (!in.has(block, 8 + dataReserve)) return bad("a data block lies outside the cabinet");
      const std::uint32_t packed = in.u16(block + 4), unpacked = in.u16(block + 6);
      if (unpacked > kMaxBlock || unpacked == 0) return bad("a data block of an impossible size");
      if (type == 0 && packed != unpacked) return bad("a stored data block of two sizes");
      block += 8 + dataReserve;
      if (!in.has(block, packed)) return bad("a data block's bytes lie outside the cabinet");
      block += packed;
      folderSize[f] += unpacked;
    }
  }

  // Files of a folder follow one another: the cabinet library loses memory on
  // files that step back or overlap, and no writer makes them.
  std::vector<std::uint64_t> folderEnd(folders, 0);
  at = filesAt;
  for (std::uint32_t i = 0; i < files; ++i) {
    if (!in.has(at, 16)) return bad("a file entry lies outside the cabinet");
    const std::uint64_t size = in.u32(at), offset = in.u32(at + 4);
    const std::uint32_t folder = in.u16(at + 8);
    if (folder >= folders) return bad("a file of a folder that is not there");
    if (offset + size > folderSize[folder]) return bad("a file reaches past its folder's data");
    if (offset < folderEnd[folder]) return bad("a file overlaps the one before it");
    folderEnd[folder] = offset + size;
    const long name = in.text(at + 16, kMaxName);
    if (name <= 0) return bad("a file entry without a proper name");
    at += 16 + static_cast<std::size_t>(name) + 1;
  }
  return {true, {}};
}

}  // namespace msi_layer
