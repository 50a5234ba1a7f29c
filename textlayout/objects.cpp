// Embedded objects: the primitives the engine's own formats make (the
// vertical pad and the rule). Images, icons, animations and controls come
// with their formats.
#include <fx.h>

#include "textlayout/layout.h"

using namespace FX;

namespace {

class VerticalPad final : public FXKTextLayout::primitive {
 public:
  explicit VerticalPad(std::int32_t lines) : lines_(lines) {}
  std::int32_t getWidth() override { return owner ? owner->width : std::int32_t(0x80000000u); }
  std::int32_t getHeight() override { return layout ? lines_ * layout->unitHeight(owner) : lines_; }
  std::int32_t naturalWidth() override { return getWidth(); }
  std::int32_t naturalHeight(std::int32_t) override { return getHeight(); }
  bool hasAlpha() override { return false; }
  void draw(FXDC&, std::int32_t, std::int32_t, bool, std::uint32_t) override {}

 private:
  std::int32_t lines_;
};

class Line final : public FXKTextLayout::primitive {
 public:
  Line(std::int32_t width, std::int32_t height, std::uint32_t widthFlags, FXStockColor first, FXStockColor second,
       std::int32_t kind)
      : width_(width), height_(height), widthFlags_(widthFlags), first_(first), second_(second), kind_(kind) {}
  std::int32_t getWidth() override { return owner ? owner->width : std::int32_t(0x80000000u); }
  std::int32_t getHeight() override { return height_; }
  std::int32_t naturalWidth() override { return getWidth(); }
  std::int32_t naturalHeight(std::int32_t) override { return getHeight(); }
  bool hasAlpha() override { return false; }
  void draw(FXDC& dc, std::int32_t px, std::int32_t py, bool, std::uint32_t) override {
    std::int32_t x0 = px, w = width_;
    if (owner) {
      w = owner->w;
      if (width_ != 0) w = (widthFlags_ & 0x200) ? owner->w * width_ / 100 : width_;
      x0 = owner->x;
      const std::int32_t free = owner->w - w;
      if (owner->align & 0x2) x0 += free / 2;
      else if (owner->align & 0x1) x0 += free;
    }
    const FXColor saved = dc.getForeground();
    if (first_.isSet()) dc.setForeground(first_);
    if (kind_ == 3) {
      dc.setForeground(second_);
      dc.fillRectangle(x0, py, w, 1);
      dc.setForeground(first_);
      dc.fillRectangle(x0, py + 1, w, 1);
    } else {
      dc.fillRectangle(x0, py, w, height_);
    }
    dc.setForeground(saved);
  }

 private:
  std::int32_t width_, height_;
  std::uint32_t widthFlags_;
  FXStockColor first_, second_;
  std::int32_t kind_;
};

}  // namespace

FXKTextLayout::primitive* FXKTextLayout::makeVerticalPad(std::int32_t height) { return new VerticalPad(height); }

FXKTextLayout::primitive* FXKTextLayout::makeLine(std::int32_t width, std::int32_t height, std::uint32_t widthFlags,
                                                  FXStockColor first, FXStockColor second, std::int32_t kind) {
  return new Line(width, height, widthFlags, first, second, kind);
}
