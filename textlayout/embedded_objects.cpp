// Embedded objects: images, icons with an optional overlay, animations cut
// from a strip of frames, FOX check buttons and push buttons painted by the
// layout, vertical pads and rules; and the formats that put them into the
// text.
#include <fx.h>

#include <algorithm>
#include <string>

#include "platform/fox/fx_paint.h"
#include "platform/fox/fx_theme.h"
#include "textlayout/embedded_objects.h"
#include "textlayout/formats.h"

using namespace FX;

namespace {

FXImage* plainOf(FXIcon* icon) { return icon; }

void createOnce(FXImage* image) {
  if (image && !image->id()) image->create();
}

bool iconHasAlpha(const FXImage* image) {
  return image && dynamic_cast<const FXIcon*>(image) && !(image->getOptions() & IMAGE_OPAQUE);
}

}  // namespace

namespace textobjects {

// ------------------------------------------------------------------ images

Image::Image(FXImage* image) : image_(image), drawn_(image) {}

std::int32_t Image::getWidth() { return image_ ? image_->getWidth() : 0; }
std::int32_t Image::getHeight() { return image_ ? image_->getHeight() : 0; }

void Image::create() {
  if (state_ & 1) return;
  createOnce(image_);
  if (drawn_ != image_) createOnce(drawn_);
  state_ |= 1;
}

bool Image::hasAlpha() { return iconHasAlpha(image_); }

void Image::draw(FXDC& dc, std::int32_t px, std::int32_t py, bool alpha, std::uint32_t) {
  if (!drawn_) return;
  create();
  if (alpha)
    dc.drawIcon(static_cast<FXIcon*>(drawn_), px, py);
  else
    dc.drawImage(drawn_, px, py);
}

// ------------------------------------------------------------------ animations

FXDEFMAP(Animation::FXAnimationTimerClient) AnimationTimerClientMap[] = {
    FXMAPFUNC(SEL_TIMEOUT, 0, Animation::FXAnimationTimerClient::onTimeout),
};
FXIMPLEMENT(Animation::FXAnimationTimerClient, FXObject, AnimationTimerClientMap, ARRAYNUMBER(AnimationTimerClientMap))

Animation::FXAnimationTimerClient::FXAnimationTimerClient(Animation* animation, FXApp* app, std::int32_t interval)
    : animation_(animation), app_(app), interval_(interval) {
  if (app_) app_->addTimeout(this, 0, static_cast<FXuint>(interval_));
}

Animation::FXAnimationTimerClient::~FXAnimationTimerClient() {
  if (app_) app_->removeTimeout(this, 0);
}

long Animation::FXAnimationTimerClient::onTimeout(FXObject*, FXSelector, void*) {
  if (animation_) animation_->tick();
  if (app_) app_->addTimeout(this, 0, static_cast<FXuint>(interval_));
  return 1;
}

Animation::Animation(FXImage* image, std::int32_t frameWidth, std::int32_t frameHeight,
                                 std::int32_t interval, FXApp* app)
    : Image(image), frameWidth_(frameWidth), frameHeight_(frameHeight), interval_(interval) {
  const std::int32_t fw = std::max(1, frameWidth_), fh = std::max(1, frameHeight_);
  perRow_ = image ? image->getWidth() / fw : 0;
  rows_ = image ? image->getHeight() / fh : 0;
  count_ = perRow_ * rows_;
  if (interval_ > 0) timer_ = new FXAnimationTimerClient(this, app, interval_);
}

Animation::~Animation() { delete timer_; }

void Animation::tick() {
  if (count_ > 0) current_ = (current_ + 1) % count_;
  if (drawnSinceTick_) {
    repaint();
    drawnSinceTick_ = false;
  }
}

void Animation::draw(FXDC& dc, std::int32_t px, std::int32_t py, bool, std::uint32_t) {
  if (!drawn_) return;
  create();
  drawnSinceTick_ = true;
  if (frameWidth_ <= 0 || frameHeight_ <= 0 || perRow_ <= 0) return;
  const std::int32_t sx = (current_ % perRow_) * frameWidth_, sy = (current_ / perRow_) * frameHeight_;
  dc.drawArea(drawn_, sx, sy, frameWidth_, frameHeight_, px, py);
}

// ------------------------------------------------------------------ icons

Icon::Icon(FXIcon* icon, FXIcon* overlay) : icon_(icon), drawn_(icon), overlay_(overlay) {}

std::int32_t Icon::getWidth() { return icon_ ? icon_->getWidth() : 0; }
std::int32_t Icon::getHeight() { return icon_ ? icon_->getHeight() : 0; }

void Icon::create() {
  if (state_ & 1) return;
  createOnce(overlay_);
  createOnce(icon_);
  if (drawn_ != icon_) createOnce(drawn_);
  state_ |= 1;
}

bool Icon::hasAlpha() { return iconHasAlpha(icon_) || iconHasAlpha(overlay_); }

void Icon::draw(FXDC& dc, std::int32_t px, std::int32_t py, bool, std::uint32_t blockFlags) {
  if (!drawn_) return;
  create();
  auto paint = [&](FXIcon* icon) {
    if (!icon) return;
    if (blockFlags & FXKTextLayout::kBlockHot)
      dc.drawIconShaded(icon, px, py);
    else if ((blockFlags & FXKTextLayout::kBlockDisabled) || (state_ & 2) ||
             (owner && (owner->flags & FXKTextLayout::kBlockDisabled)))
      dc.drawIconSunken(icon, px, py);
    else
      dc.drawIcon(icon, px, py);
  };
  paint(drawn_);
  paint(overlay_);
}

// ------------------------------------------------------------------ pads and rules

std::int32_t VerticalPad::getWidth() { return owner ? owner->w : std::int32_t(0x80000000u); }

std::int32_t VerticalPad::getHeight() { return layout ? lines_ * layout->unitHeight(owner) : lines_; }

std::int32_t Line::getWidth() { return owner ? owner->w : std::int32_t(0x80000000u); }

void Line::draw(FXDC& dc, std::int32_t px, std::int32_t py, bool, std::uint32_t) {
  std::int32_t x0 = px, w = width_ > 0 ? width_ : 0;
  if (owner) {
    w = owner->w;
    if (width_ != 0) w = (widthFlags_ & FXKTextLayout::kBlockWidthPercent) ? FXKTextLayout::clampExtent(std::int64_t{owner->w} * width_ / 100) : width_;
    x0 = owner->x;
    const std::int32_t free = owner->w - w;
    if (owner->align & 0x2)
      x0 += free / 2;
    else if (owner->align & 0x1)
      x0 += free;
  }
  if (w <= 0) return;
  const FXColor fore = dc.getForeground();
  if (first_.isSet()) dc.setForeground(first_);
  switch (kind_) {
    case 1:
      FXTheme::GradientFill(dc, x0, py, w, height_, FXTheme::GRADIENT_HORIZONTAL);
      break;
    case 2: {
      // Out and back: the left half runs one way, the right half the other.
      const FXColor a = dc.getForeground(), b = dc.getBackground();
      dc.setForeground(b);
      dc.setBackground(a);
      FXTheme::GradientFill(dc, x0, py, w / 2, height_, FXTheme::GRADIENT_HORIZONTAL);
      dc.setForeground(a);
      dc.setBackground(b);
      FXTheme::GradientFill(dc, x0 + w / 2, py, w - w / 2, height_, FXTheme::GRADIENT_HORIZONTAL);
      break;
    }
    case 3:
      dc.setForeground(second_);
      dc.fillRectangle(x0, py, w, 1);
      dc.setForeground(first_);
      dc.fillRectangle(x0, py + 1, w, 1);
      break;
    default:
      dc.fillRectangle(x0, py, w, height_);
      break;
  }
  dc.setForeground(fore);
}

}  // namespace textobjects

FXKTextLayout::primitive* FXKTextLayout::makeVerticalPad(std::int32_t height) { return new textobjects::VerticalPad(height); }

FXKTextLayout::primitive* FXKTextLayout::makeLine(std::int32_t width, std::int32_t height, std::uint32_t widthFlags,
                                                  FXStockColor first, FXStockColor second, std::int32_t kind) {
  return new textobjects::Line(width, height, widthFlags, first, second, kind);
}

namespace textobjects {

// ------------------------------------------------------------------ controls

Control::Control(FXWindow* widget) : widget_(widget) { placement = 0; }

Control::~Control() {
  if (widget_) {
    widget_->destroy();
    delete widget_;
  }
}

std::int32_t Control::naturalWidth() { return widget_ ? widget_->getDefaultWidth() : 0; }
std::int32_t Control::naturalHeight(std::int32_t) { return widget_ ? widget_->getDefaultHeight() : 0; }

void Control::create() {
  if (widget_ && !widget_->id() && widget_->getParent() && widget_->getParent()->id()) widget_->create();
}

void Control::destroy() {
  if (!widget_) return;
  widget_->destroy();
  delete widget_;
  widget_ = nullptr;
}

void Control::setRect(std::int32_t nx, std::int32_t ny, std::int32_t nw, std::int32_t nh) {
  primitive::setRect(nx, ny, nw, nh);
  if (widget_) widget_->position(nx, ny, nw, nh);
}

bool Control::hasAlpha() { return false; }

void Control::draw(FXDC& dc, std::int32_t px, std::int32_t py, bool, std::uint32_t) {
  if (widget_) paintProc(widget_, dc, px, py, nullptr);
}

}  // namespace textobjects

// ------------------------------------------------------------------ formats

namespace {

// The image named by "file", "href" or "src", else "*" + "field".
FXWString imageName(const tagcontext& ctx) {
  for (const char16_t* key : {u"file", u"href", u"src"}) {
    FXWString v = ctx.value(key);
    if (!v.empty()) return v;
  }
  FXWString field = ctx.value(u"field");
  if (!field.empty()) return FXWString(u"*") + field;
  return FXWString();
}

bool enabledState(const tagcontext& ctx) {
  if (ctx.value(u"state") == FXWString(u"disabled")) return false;
  const FXWString enabled = ctx.value(u"enabled");
  if (enabled == FXWString(u"false")) return false;
  if (!enabled.empty() && !(enabled == FXWString(u"true")) && ctx.numberOf(enabled) == 0) return false;
  const FXWString disabled = ctx.value(u"disabled");
  if (disabled == FXWString(u"true")) return false;
  if (!disabled.empty() && ctx.numberOf(disabled) != 0) return false;
  return true;
}

}  // namespace

std::int32_t FXKTextFormatImage::open(tagcontext& ctx) {
  const FXWString name = imageName(ctx);
  if (name.empty()) return 0;
  FXIcon* icon = ctx.layout->getImage(name, false);
  if (!icon) return 0;
  auto* object = new textobjects::Image(plainOf(icon));
  object->setEnabled(enabledState(ctx));
  ctx.position = ctx.layout->insertObject(ctx.position, object);
  return 9;
}
std::int32_t FXKTextFormatImage::close(tagcontext&) { return 0; }

std::int32_t FXKTextFormatIcon::open(tagcontext& ctx) {
  const FXWString name = imageName(ctx);
  FXIcon* icon = name.empty() ? nullptr : ctx.layout->getImage(name, false);
  FXWString overlayName = ctx.value(u"overlay");
  if (overlayName.empty()) {
    FXWString field = ctx.value(u"overlay-field");
    if (!field.empty()) overlayName = FXWString(u"*") + field;
  }
  FXIcon* overlay = overlayName.empty() ? nullptr : ctx.layout->getImage(overlayName, false);
  if (!icon) return 0;
  auto* object = new textobjects::Icon(icon, overlay);
  object->setEnabled(enabledState(ctx));
  ctx.position = ctx.layout->insertObject(ctx.position, object);
  return 9;
}
std::int32_t FXKTextFormatIcon::close(tagcontext&) { return 0; }

std::int32_t FXKTextFormatAnimation::open(tagcontext& ctx) {
  const FXWString name = imageName(ctx);
  FXIcon* image = name.empty() ? nullptr : ctx.layout->getImage(name, false);
  std::int32_t fw = 0, fh = 0, speed = 0;
  for (std::int32_t i = 1; i + 1 <= ctx.lastToken && i + 1 < FXKTextLayout::kMaxTokens; i += 2) {
    const FXWString& key = ctx.tokens[i];
    if (key == FXWString(u"width"))
      fw = ctx.sizeOf(ctx.tokens[i + 1]);
    else if (key == FXWString(u"height"))
      fh = ctx.sizeOf(ctx.tokens[i + 1]);
    else if (key == FXWString(u"speed"))
      speed = static_cast<std::int32_t>(ctx.numberOf(ctx.tokens[i + 1]));
  }
  if (!image || speed <= 0) return 0;
  auto* object = new textobjects::Animation(image, fw, fh, speed, ctx.layout->getApp());
  object->setEnabled(enabledState(ctx));
  ctx.position = ctx.layout->insertObject(ctx.position, object);
  return 9;
}
std::int32_t FXKTextFormatAnimation::close(tagcontext&) { return 0; }

std::int32_t FXKTextFormatControl::open(tagcontext& ctx) {
  std::string cls = ctx.narrowValue(u"standard");
  if (cls.empty()) cls = ctx.narrowValue(u"class");
  if (cls.empty()) return 0;
  auto* parent = dynamic_cast<FXComposite*>(ctx.layout->getOwner());
  if (!parent || (cls != "checkbox" && cls != "button")) return 0;
  const std::string caption = ctx.value(u"title").toUtf8();
  std::string verb = ctx.narrowValue(u"verb");
  if (verb.empty()) verb = "dummy";
  const FXSelector id = static_cast<FXSelector>(ctx.layout->getVerbId(verb.c_str()));
  FXWindow* widget = nullptr;
  if (cls == "checkbox")
    widget = new FXCheckButton(parent, caption.c_str(), ctx.layout->target(), id, CHECKBUTTON_NORMAL, 0, 0, 0, 0, 2, 2,
                               2, 2);
  else
    widget = new FXButton(parent, caption.c_str(), nullptr, ctx.layout->target(), id, BUTTON_NORMAL, 0, 0, 0, 0, 4, 4,
                          2, 2);
  std::uint32_t placement = 0;
  if (ctx.value(u"valign") == FXWString(u"height")) placement |= 0x2;
  FXWString align = ctx.value(u"align");
  if (align.empty()) align = ctx.value(u"halign");
  if (align == FXWString(u"width")) placement |= 0x1;
  auto* object = new textobjects::Control(widget);
  object->setPlacement(placement);
  ctx.position = ctx.layout->insertObject(ctx.position, object);
  ctx.style->flags |= FXKTextLayout::kLink;
  ctx.style->link = ctx.value(u"verb");
  return 9;
}
std::int32_t FXKTextFormatControl::close(tagcontext& ctx) {
  ctx.style->flags &= ~std::uint32_t(FXKTextLayout::kLink);
  return 0;
}
