// The objects that stand in the flow of a formatted text instead of
// characters: images, icons (with an overlay), animations cut from a strip
// of frames, check buttons and push buttons, vertical pads and rules.
// Includes FOX: the layout's own sources and tests only.
#pragma once

#include <fx.h>

#include <cstdint>

#include "textlayout/layout.h"

namespace textobjects {

// Sizes asked through the width and height operations.
class SimplePrimitive : public FXKTextLayout::primitive {
 public:
  std::int32_t widthQuery() { return getWidth(); }
  std::int32_t heightQuery() { return getHeight(); }
  std::int32_t naturalWidth() override { return getWidth(); }
  std::int32_t naturalHeight(std::int32_t) override { return getHeight(); }
};

class GraphicObject : public SimplePrimitive {};

class Image : public GraphicObject {
 public:
  explicit Image(FX::FXImage* image);
  std::int32_t getWidth() override;
  std::int32_t getHeight() override;
  void create() override;
  bool hasAlpha() override;
  void draw(FX::FXDC& dc, std::int32_t px, std::int32_t py, bool alpha, std::uint32_t blockFlags) override;
  void setEnabled(bool on) { state_ = on ? (state_ & ~2u) : (state_ | 2u); }
  void setImage(FX::FXImage* image) { image_ = drawn_ = image; }
  std::uint32_t state() const { return state_; }

 protected:
  FX::FXImage* image_;
  std::uint32_t state_ = 0;  // 1 created, 2 disabled
  FX::FXImage* drawn_;
};

class Animation : public Image {
 public:
  // Counts frames on a timeout of the interval aimed at itself.
  class FXAnimationTimerClient : public FX::FXObject {
    FXDECLARE(FXAnimationTimerClient)
   public:
    FXAnimationTimerClient(Animation* animation, FX::FXApp* app, std::int32_t interval);
    ~FXAnimationTimerClient() override;
    long onTimeout(FX::FXObject*, FX::FXSelector, void*);

   protected:
    FXAnimationTimerClient() = default;

   private:
    Animation* animation_ = nullptr;
    FX::FXApp* app_ = nullptr;
    std::int32_t interval_ = 0;
  };

  Animation(FX::FXImage* image, std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t interval,
            FX::FXApp* app);
  ~Animation() override;
  std::int32_t getWidth() override { return frameWidth_; }
  std::int32_t getHeight() override { return frameHeight_; }
  void draw(FX::FXDC& dc, std::int32_t px, std::int32_t py, bool alpha, std::uint32_t blockFlags) override;
  // One timeout: the next frame; a repaint only when drawn since the last.
  void tick();
  std::int32_t currentFrame() const { return current_; }
  std::int32_t frameCount() const { return count_; }

 private:
  std::int32_t frameWidth_, frameHeight_, interval_;
  std::int32_t current_ = 0, count_ = 0, perRow_ = 0, rows_ = 0;
  FXAnimationTimerClient* timer_ = nullptr;
  bool drawnSinceTick_ = false;
};

class Icon : public GraphicObject {
 public:
  Icon(FX::FXIcon* icon, FX::FXIcon* overlay);
  std::int32_t getWidth() override;
  std::int32_t getHeight() override;
  void create() override;
  bool hasAlpha() override;
  void draw(FX::FXDC& dc, std::int32_t px, std::int32_t py, bool alpha, std::uint32_t blockFlags) override;
  void setEnabled(bool on) { state_ = on ? (state_ & ~2u) : (state_ | 2u); }
  void setDrawnIcon(FX::FXIcon* icon) { icon_ = drawn_ = icon; }
  std::uint32_t state() const { return state_; }
  void setOverlay(FX::FXIcon* overlay) { overlay_ = overlay; }
  FX::FXIcon* overlay() const { return overlay_; }

 private:
  FX::FXIcon* icon_;
  std::uint32_t state_ = 0;
  FX::FXIcon* drawn_;
  FX::FXIcon* overlay_;
};

class VerticalPad : public SimplePrimitive {
 public:
  explicit VerticalPad(std::int32_t lines) : lines_(lines) {}
  std::int32_t getWidth() override;
  std::int32_t getHeight() override;
  bool hasAlpha() override { return false; }
  void draw(FX::FXDC&, std::int32_t, std::int32_t, bool, std::uint32_t) override {}

 private:
  std::int32_t lines_;
};

// A rule: kind 0 bar, 1 gradient, 2 gradient out and back, 3 sunken.
class Line : public SimplePrimitive {
 public:
  Line(std::int32_t width, std::int32_t height, std::uint32_t widthFlags, FX::FXStockColor first,
       FX::FXStockColor second, std::int32_t kind)
      : width_(width), height_(height), widthFlags_(widthFlags), first_(first), second_(second), kind_(kind) {}
  std::int32_t getWidth() override;
  std::int32_t getHeight() override { return height_; }
  bool hasAlpha() override { return false; }
  void draw(FX::FXDC& dc, std::int32_t px, std::int32_t py, bool alpha, std::uint32_t blockFlags) override;

 private:
  std::int32_t width_, height_;
  std::uint32_t widthFlags_;
  FX::FXStockColor first_, second_;
  std::int32_t kind_;
};

// A FOX widget painted by the layout.
class Control : public FXKTextLayout::primitive {
 public:
  explicit Control(FX::FXWindow* widget);
  ~Control() override;
  std::int32_t naturalWidth() override;
  std::int32_t naturalHeight(std::int32_t width) override;
  std::int32_t minimumWidth() override { return naturalWidth(); }
  std::int32_t minimumHeight() override { return naturalHeight(0); }
  void create() override;
  void destroy() override;
  void setRect(std::int32_t nx, std::int32_t ny, std::int32_t nw, std::int32_t nh) override;
  bool hasAlpha() override;
  void draw(FX::FXDC& dc, std::int32_t px, std::int32_t py, bool alpha, std::uint32_t blockFlags) override;
  FX::FXWindow* widget() const { return widget_; }

 private:
  FX::FXWindow* widget_;
};

}  // namespace textobjects
