// Default values of the theme atoms, and the image and icon caches.
#include <memory>

#include "gui/app/korvane_app.h"
#include "system/number_text.h"

using namespace FX;

namespace {

struct Derived {
  FXint id;
  FXint stock;
  unsigned mul, div;
  unsigned weightAdd;
  bool capAt900;
  FXushort flags;
};

constexpr Derived kFonts[] = {
    {8, 0, 2, 1, 300, true, 0},       {9, 0, 3, 2, 300, true, 0},     {10, 1, 5, 4, 0, false, 0},
    {11, 0, 5, 4, 0, false, 0},       {12, 0, 5, 3, 100, false, 0},   {13, 0, 3, 2, 300, true, 0},
    {14, 0, 4, 3, 300, true, 0},      {15, 1, 5, 4, 0, false, 0},     {16, 0, 4, 1, 0, false, 0},
    {17, 0, 4, 5, 0, false, 0x2800},  {18, 1, 4, 5, 300, false, 0x2800}, {19, 0, 13, 9, 0, false, 0},
    {20, 0, 13, 9, 200, false, 0},    {21, 0, 9, 10, 0, false, 0},    {22, 0, 11, 9, 100, false, 0},
    {23, 0, 11, 9, 300, false, 0},    {24, 0, 12, 9, 100, false, 0},  {25, 0, 20, 9, 100, false, 0},
};

}  // namespace

bool FXKorvaneApp::getSystemDefaultFont(FXint id, FXFontDesc& desc) {
  for (const Derived& d : kFonts) {
    if (d.id != id) continue;
    desc = getStockFontDesc(d.stock);
    desc.size = static_cast<FXushort>(d.mul * unsigned(desc.size) / d.div);
    // FOX 1.6 counts weights in tens (Bold is 70): +300 is +30, 900 is 90.
    unsigned weight = unsigned(desc.weight) + d.weightAdd / 10;
    if (d.capAt900 && weight > 90) weight = 90;
    desc.weight = static_cast<FXushort>(weight);
    desc.flags |= d.flags;
    return true;
  }
  return FXExtApp::getSystemDefaultFont(id, desc);
}

bool FXKorvaneApp::getSystemDefaultColor(FXint id, FXColor& color) {
  switch (id) {
    case 26: color = FXRGBA(51, 119, 204, 255); return true;
    case 27: color = FXRGBA(40, 80, 160, 255); return true;
    case 28: color = FXRGBA(250, 250, 255, 255); return true;
    case 29: color = FXRGBA(240, 240, 255, 255); return true;
    case 30: color = FXRGBA(0, 67, 157, 255); return true;
    case 31: color = FXRGBA(226, 237, 247, 255); return true;
    default: return FXExtApp::getSystemDefaultColor(id, color);
  }
}

FXColor FXKorvaneApp::getBannerColor() { return getStockColor(26); }

FXImage* FXKorvaneApp::loadImageStub(const void* name, FXuint options, bool fromArchive, void* extra) {
  if (options == 0) options = 24;
  if (!fromArchive) {
    auto it = toolkitImages_.find(name);
    if (it != toolkitImages_.end()) return it->second;
    FXImage* image = FXExtApp::loadImageStub(name, options, false, extra);
    toolkitImages_[name] = image;
    return image;
  }
  if (!name) return nullptr;
  const std::string key = static_cast<const char*>(name);
  auto it = archiveImages_.find(key);
  if (it != archiveImages_.end()) return it->second;
  std::unique_ptr<std::uint8_t[]> bytes(Common::loadResource(key.c_str()));
  if (!bytes) return nullptr;  // not remembered: a later call tries again
  FXImage* image = new FXPNGImage(this, bytes.get(), options, 1, 1);
  archiveImages_[key] = image;
  return image;
}

FXIcon* FXKorvaneApp::loadIconStub(const void* name, FXuint options, FXColor transparent, bool fromArchive,
                                   void* extra) {
  if (options == 0) options = 0x410;
  if (!fromArchive) {
    auto it = toolkitIcons_.find(name);
    if (it != toolkitIcons_.end()) return it->second;
    FXIcon* icon = FXExtApp::loadIconStub(name, options, transparent, false, extra);
    toolkitIcons_[name] = icon;
    return icon;
  }
  if (!name) return nullptr;
  const std::string key = static_cast<const char*>(name);
  auto it = archiveIcons_.find(key);
  if (it != archiveIcons_.end()) return it->second;
  std::unique_ptr<std::uint8_t[]> bytes(Common::loadResource(key.c_str()));
  if (!bytes) return nullptr;
  FXIcon* icon = fxMaskByAlpha(new FXPNGIcon(this, bytes.get(), transparent, options, 1, 1));
  archiveIcons_[key] = icon;
  return icon;
}
