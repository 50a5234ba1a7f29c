// The formats that embed images, icons, animations and controls.
#include "textlayout/formats.h"

std::int32_t FXKTextFormatImage::open(tagcontext&) { return 0; }
std::int32_t FXKTextFormatImage::close(tagcontext&) { return 0; }
std::int32_t FXKTextFormatAnimation::open(tagcontext&) { return 0; }
std::int32_t FXKTextFormatAnimation::close(tagcontext&) { return 0; }
std::int32_t FXKTextFormatIcon::open(tagcontext&) { return 0; }
std::int32_t FXKTextFormatIcon::close(tagcontext&) { return 0; }
std::int32_t FXKTextFormatControl::open(tagcontext&) { return 0; }
std::int32_t FXKTextFormatControl::close(tagcontext& ctx) {
  ctx.style->flags &= ~std::uint32_t(FXKTextLayout::kLink);
  return 0;
}
