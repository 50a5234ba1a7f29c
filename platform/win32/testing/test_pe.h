// Hand-made PE32 images for tests: one .rsrc section holding one resource.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace win32_test {

// Little-endian writer.
struct LittleEndianBytes {
  std::vector<unsigned char> b;
  void at(std::size_t off) {
    if (b.size() < off) b.resize(off);
  }
  void u8(unsigned v) { b.push_back(static_cast<unsigned char>(v)); }
  void u16(unsigned v) { u8(v & 0xFF), u8((v >> 8) & 0xFF); }
  void u32(unsigned long v) { u16(v & 0xFFFF), u16((v >> 16) & 0xFFFF); }
  void wide(const char* s) {
    do u16(static_cast<unsigned char>(*s)); while (*s++);
  }
  void pad4() {
    while (b.size() % 4) u8(0);
  }
  void put16(std::size_t off, unsigned v) { b[off] = v & 0xFF, b[off + 1] = (v >> 8) & 0xFF; }
};

// VS_VERSIONINFO with file and product version ms.ls; with `fileVersion`, also
// a StringFileInfo table 040904b0 holding it as the FileVersion text.
inline std::vector<unsigned char> versionResource(unsigned long ms, unsigned long ls,
                                                  const char* fileVersion = nullptr) {
  LittleEndianBytes v;
  v.u16(0), v.u16(52), v.u16(0), v.wide("VS_VERSION_INFO"), v.pad4();
  v.u32(0xFEEF04BD), v.u32(0x10000);
  v.u32(ms), v.u32(ls);  // file version
  v.u32(ms), v.u32(ls);  // product version
  for (int i = 0; i < 7; ++i) v.u32(i == 2 ? 4 : i == 3 ? 1 : 0);
  if (fileVersion) {
    std::size_t sfi = v.b.size();
    v.u16(0), v.u16(0), v.u16(1), v.wide("StringFileInfo"), v.pad4();
    std::size_t table = v.b.size();
    v.u16(0), v.u16(0), v.u16(1), v.wide("040904b0"), v.pad4();
    std::size_t str = v.b.size();
    v.u16(0), v.u16(static_cast<unsigned>(std::strlen(fileVersion) + 1)), v.u16(1), v.wide("FileVersion"), v.pad4(),
        v.wide(fileVersion);
    v.put16(str, static_cast<unsigned>(v.b.size() - str));
    v.pad4();
    v.put16(table, static_cast<unsigned>(v.b.size() - table));
    v.put16(sfi, static_cast<unsigned>(v.b.size() - sfi));
  }
  v.put16(0, static_cast<unsigned>(v.b.size()));
  return v.b;
}

// A PE32 image whose .rsrc section holds `resource` as resource 1 of `type`
// (16 is RT_VERSION), language 0x409.
inline std::string peImage(const std::vector<unsigned char>& resource, unsigned type = 16) {
  LittleEndianBytes f;
  f.u8('M'), f.u8('Z');
  f.at(0x3C), f.u32(0x40);
  f.u8('P'), f.u8('E'), f.u16(0);
  f.u16(0x14C), f.u16(1), f.u32(0), f.u32(0), f.u32(0), f.u16(0xE0), f.u16(0x102);
  std::size_t opt = f.b.size();
  f.u16(0x10B);
  f.at(opt + 92), f.u32(16);
  std::size_t rsrcSize = 0x58 + resource.size();
  for (int i = 0; i < 16; ++i) f.u32(i == 2 ? 0x1000 : 0), f.u32(i == 2 ? rsrcSize : 0);
  const char name[8] = {'.', 'r', 's', 'r', 'c'};
  for (char c : name) f.u8(static_cast<unsigned char>(c));
  f.u32(rsrcSize), f.u32(0x1000), f.u32((rsrcSize + 0x1FF) & ~0x1FFu), f.u32(0x200);
  f.u32(0), f.u32(0), f.u16(0), f.u16(0), f.u32(0x40000040);
  f.at(0x200);
  // type directory, name directory, language directory, data entry
  auto dir = [&](unsigned id, unsigned long offset) {
    f.u32(0), f.u32(0), f.u16(0), f.u16(0), f.u16(0), f.u16(1);
    f.u32(id), f.u32(offset);
  };
  dir(type, 0x80000018);
  dir(1, 0x80000030);
  dir(0x409, 0x48);
  f.u32(0x1000 + 0x58), f.u32(resource.size()), f.u32(0), f.u32(0);
  f.b.insert(f.b.end(), resource.begin(), resource.end());
  f.at(0x200 + ((rsrcSize + 0x1FF) & ~0x1FFu));
  return std::string(f.b.begin(), f.b.end());
}

}  // namespace win32_test
