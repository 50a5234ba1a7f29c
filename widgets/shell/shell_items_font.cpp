#include "widgets/shell/shell_items_font.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

using namespace FX;

namespace {
FXuint slantFromFox(FXuint slant) {
  switch (slant) {
    case FXFont::Straight: return 1;
    case FXFont::Italic:
    case FXFont::ReverseItalic: return 2;
    case FXFont::Oblique:
    case FXFont::ReverseOblique: return 3;
    default: return 0;
  }
}

FXuint slantToFox(FXuint slant) {
  switch (slant) {
    case 1: return FXFont::Straight;
    case 2: return FXFont::Italic;
    case 3: return FXFont::Oblique;
    default: return 0;
  }
}
}  // namespace

void fxkFontDescriptionOf(const FXFontDesc& fox, FXKFontDescription& d) {
  const std::size_t n = strnlen(fox.face, sizeof fox.face);
  d.setFace(FXWString::fromUtf8(fox.face, static_cast<int>(n)).str());
  d.size = fox.size;
  d.weight = fox.weight * 10u;
  d.slant = slantFromFox(fox.slant);
  d.setwidth = fox.setwidth;
  d.encoding = fox.encoding;
}

FXFontDesc fxkFoxFontDesc(const FXKFontDescription& d) {
  FXFontDesc fox;
  std::memset(&fox, 0, sizeof fox);
  const std::string face = FXWString(std::u16string(d.faceText())).toUtf8();
  std::strncpy(fox.face, face.c_str(), sizeof fox.face - 1);
  // Markup sizes are outside input: the font matcher gets at most 200 points.
  fox.size = static_cast<FXushort>(std::min<std::uint32_t>(d.size, 2000));
  // Weights below 10 (an unknown name gives 0) leave the choice to the font
  // matcher, as FOX's 0 does.
  fox.weight = static_cast<FXushort>(std::min<std::uint32_t>(d.weight / 10u, FXFont::Black));
  fox.slant = static_cast<FXushort>(slantToFox(d.slant));
  fox.setwidth = static_cast<FXushort>(d.setwidth);
  fox.encoding = static_cast<FXushort>(d.encoding);
  return fox;
}
