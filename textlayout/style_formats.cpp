// Style, colour and background formats; block formats, links.
#include <fx.h>

#include <cstdlib>

#include "platform/fox/fx_app.h"
#include "textlayout/formats.h"

using namespace FX;
using block = FXKTextLayout::block;
using textstyle = FXKTextLayout::textstyle;
using bgimage = FXKTextLayout::bgimage;

namespace {

bool isTrue(const FXWString& v) { return v == u"true" || (v != u"false" && v.getUnsignedValue() != 0); }

FXStockColor stockColor(FXKTextLayout* layout, const FXWString& name, bool* known = nullptr) {
  auto* app = dynamic_cast<FXExtApp*>(layout->getApp());
  const FXint index = app ? app->registerStockColor(name.toUtf8().c_str(), false) : -1;
  if (known) *known = index != -1;
  return index == -1 ? FXStockColor() : FXStockColor(app->getStockColor(index));
}

std::uint32_t hex6(const FXWString& digits) {
  std::uint32_t v = 0;
  for (int i = 0; i < digits.length(); ++i) {
    const char16_t c = digits[i];
    std::uint32_t d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else break;  // a malformed value still yields an opaque colour
    v = v * 16 + d;
  }
  return v;
}

}  // namespace

// ---------------------------------------------------------------- colour values

FXStockColor FXKTextFormatColor::parseColor(FXKTextLayout* layout, const FXWString& value) {
  if (value.length() == 8 && value[0] == u'0' && value[1] == u'x') return FXStockColor(hex6(value.mid(2, 6)) | 0xFF000000u);
  if (value.length() == 7 && value[0] == u'#') {
    const std::uint32_t rgb = hex6(value.mid(1, 6));
    return FXStockColor(FXRGBA((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, 255));
  }
  return stockColor(layout, value);
}

bool FXKTextFormatColor::findColor(const tagcontext& ctx, const char16_t* name, FXStockColor& color) {
  static const char16_t* const kNames[] = {u"value",         u"backcolor",  u"bgcolor",   u"bgcolor-gradient-1",
                                           u"bgcolor-gradient-2", u"bgcolor-hover", u"font-color", u"textcolor",
                                           u"color",         u"font-color-hover"};
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2) {
    const FXWString& n = ctx.tokens[i];
    if (name && n != name) continue;
    const FXWString& v = ctx.tokens[i + 1];
    if (n == u"stock") {
      bool known = false;
      const FXStockColor c = stockColor(ctx.layout, v, &known);
      if (known) {
        color = c;
        return true;
      }
      continue;
    }
    for (const char16_t* k : kNames) {
      if (n == k) {
        color = parseColor(ctx.layout, v);
        return true;
      }
    }
  }
  return false;
}

void FXKTextFormatColor::parseColors(const tagcontext& ctx, block* b, textstyle* style) {
  bool vertical = false;
  FXStockColor text, hoverText, back, hoverBack, gradient;
  bool hasText = false, hasHoverText = false, hasBack = false, hasHoverBack = false, hasGradient = false;
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2) {
    const FXWString& n = ctx.tokens[i];
    const FXWString& v = ctx.tokens[i + 1];
    if (n == u"gradient") {
      if (v == u"horizontal") vertical = false;
      if (v == u"vertical") vertical = true;
    } else if (n == u"stock") {
      bool known = false;
      const FXStockColor c = stockColor(ctx.layout, v, &known);
      if (known) {
        text = hoverText = c;
        hasText = hasHoverText = true;
      }
    } else if (n == u"font-color") {
      text = hoverText = parseColor(ctx.layout, v);
      hasText = hasHoverText = true;
    } else if (n == u"font-color-hover") {
      hoverText = parseColor(ctx.layout, v);
      hasHoverText = true;
    } else if (n == u"backcolor" || n == u"bgcolor" || n == u"bgcolor-gradient-1") {
      back = hoverBack = parseColor(ctx.layout, v);
      hasBack = hasHoverBack = true;
    } else if (n == u"bgcolor-gradient-2") {
      gradient = parseColor(ctx.layout, v);
      hasGradient = true;
    } else if (n == u"bgcolor-hover") {
      hoverBack = parseColor(ctx.layout, v);
      hasHoverBack = true;
    }
  }
  if (b) {
    if (vertical) b->flags |= FXKTextLayout::kBlockVerticalGradient;
    if (hasBack) b->backColor = b->hoverBackColor = back;
    if (hasGradient) b->gradientColor = gradient;
    if (hasHoverBack) b->hoverBackColor = hoverBack;
    if (hasText) b->textColor = b->hoverTextColor = text;
    if (hasHoverText) b->hoverTextColor = hoverText;
  }
  if (style) {
    if (hasBack) style->backColor = style->hoverBackColor = back;
    if (hasGradient) style->gradientColor = gradient;
    if (hasHoverBack) style->hoverBackColor = hoverBack;
    if (hasText) style->textColor = style->hoverTextColor = text;
    if (hasHoverText) style->hoverTextColor = hoverText;
  }
}

std::uint32_t FXKTextFormatColor::parseAlign(const tagcontext& ctx, std::uint32_t* target, std::uint32_t* maskOut) {
  std::uint32_t dummy = 0;
  std::uint32_t* t = target ? target : (*ctx.current ? &(*ctx.current)->align : &dummy);
  std::uint32_t mask = 0;
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2) {
    const FXWString& n = ctx.tokens[i];
    const FXWString& v = ctx.tokens[i + 1];
    if (n == u"transparent" || n == u"opaque") {
      mask |= 0x20000;
      bool opaque;
      if (v == u"true") opaque = n == u"opaque";
      else if (v == u"false") opaque = n == u"transparent";
      else opaque = (v.getUnsignedValue() != 0) == (n == u"opaque");
      if (opaque) *t |= FXKTextLayout::kOpaqueStyle;
      else *t &= ~std::uint32_t(FXKTextLayout::kOpaqueStyle);
    } else if (n == u"bgimage" || n == u"backimage" || n == u"bgicon") {
      mask |= 0x40;
    } else if (n == u"bgimage-hover") {
      mask |= 0x80;
    } else if (n == u"bgimage-align") {
      mask |= 0x100;
    } else if (n == u"bgimage-valign") {
      mask |= 0x200;
    } else if (n == u"bgimage-style") {
      mask |= 0x400;
    } else if (n == u"align" || n == u"halign") {
      *t &= ~3u;
      if (v == u"left") mask |= 1;
      else if (v == u"right") *t |= 1, mask |= 1;
      else if (v == u"center") *t |= 2, mask |= 1;
      else if (v == u"width" || v == u"justify") *t |= 3, mask |= 1;
    } else if (n == u"valign") {
      *t &= ~0x30u;
      if (v == u"bottom") *t |= 0x20, mask |= 2;
      else if (v == u"top") mask |= 2;
      else if (v == u"center") *t |= 0x10, mask |= 2;
    } else if (n == u"center_y") {
      *t = (*t & ~0x30u) | 0x10;
      mask |= 2;
    }
  }
  if (maskOut) *maskOut |= mask;
  return mask;
}

void FXKTextFormatColor::parseBackImage(const tagcontext& ctx, bgimage* target) {
  FXImage* image = nullptr;
  FXImage* hover = nullptr;
  std::uint32_t placement = 0;
  const bool imageTag = ctx.tokens[0] == u"backimage" || ctx.tokens[0] == u"bgimage";
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2) {
    const FXWString& n = ctx.tokens[i];
    const FXWString& v = ctx.tokens[i + 1];
    if (n == u"href" || n == u"src" || n == u"file" || n == u"backimage" || n == u"bgimage" || n == u"bgicon") {
      image = v.empty() ? nullptr : ctx.layout->getImage(v, false);
    } else if (n == u"bgimage-align" || n == u"bgimage-style" || (imageTag && (n == u"halign" || n == u"align"))) {
      if (v == u"stretch") placement |= 0x20;
      else if (v == u"left") placement |= 0x01;
      else if (v == u"center") placement |= 0x02;
      else if (v == u"tile") placement |= 0x40;
      else if (v == u"border") placement |= 0x80;
    } else if (n == u"bgimage-valign" || (imageTag && n == u"valign")) {
      if (v == u"top") placement |= 0x08;
      else if (v == u"bottom") placement |= 0x04;
      else if (v == u"center_y" || v == u"center") placement |= 0x10;
    } else if (n == u"bgimage-hover") {
      if (!v.empty()) hover = ctx.layout->getImage(v, false);
    }
  }
  if (!image && !hover) return;
  bgimage record;
  record.image = image;
  record.hoverImage = hover;
  record.placement = placement;
  if (target) {
    *target = record;
    return;
  }
  block* b = *ctx.current;
  if (!b) return;
  if (!b->background) b->background = std::make_unique<bgimage>();
  *b->background = record;
}

// ---------------------------------------------------------------- colour formats

std::int32_t FXKTextFormatBackground::open(tagcontext& ctx) {
  FXStockColor c;
  if (*ctx.current && findColor(ctx, nullptr, c)) (*ctx.current)->backColor = (*ctx.current)->hoverBackColor = c;
  return 0;
}
std::int32_t FXKTextFormatBackground::close(tagcontext&) { return 0; }

std::int32_t FXKTextFormatForeground::open(tagcontext& ctx) {
  FXStockColor c;
  if (*ctx.current && findColor(ctx, nullptr, c)) (*ctx.current)->textColor = (*ctx.current)->hoverTextColor = c;
  return 0;
}
std::int32_t FXKTextFormatForeground::close(tagcontext&) { return 0; }

std::int32_t FXKTextFormatBackColor::open(tagcontext& ctx) {
  FXStockColor c;
  for (const char16_t* n : {u"value", u"backcolor", u"bgcolor", u"bgcolor-gradient-1", u"stock"}) {
    if (findColor(ctx, n, c)) {
      if (*ctx.current) (*ctx.current)->backColor = (*ctx.current)->hoverBackColor = c;
      break;
    }
  }
  return 0;
}
std::int32_t FXKTextFormatBackColor::close(tagcontext&) { return 0; }

std::int32_t FXKTextFormatTextColor::open(tagcontext& ctx) {
  FXStockColor c;
  if (!findColor(ctx, u"value", c) && !findColor(ctx, u"font-color", c)) c = 0;
  ctx.style->textColor = ctx.style->hoverTextColor = c;
  return 0;
}
std::int32_t FXKTextFormatTextColor::close(tagcontext& ctx) {
  ctx.style->textColor = ctx.style->hoverTextColor = 0;
  return 0;
}

std::int32_t FXKTextFormatBackImage::open(tagcontext& ctx) {
  parseBackImage(ctx, nullptr);
  return 0;
}
std::int32_t FXKTextFormatBackImage::close(tagcontext&) { return 0; }

// ---------------------------------------------------------------- named styles

std::int32_t FXKTextFormatStyle::open(tagcontext& ctx) {
  if (*ctx.current) (*ctx.current)->flags |= FXKTextLayout::kBlockStyled;
  FXKTextLayout::styledef def;
  def.style.tabWidth = 0;
  def.style.indent = 0;
  FXWString cls, name;
  auto first = [&](const char16_t* n) -> const FXWString* { return ctx.pair(n); };
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2) {
    const FXWString& n = ctx.tokens[i];
    const FXWString& v = ctx.tokens[i + 1];
    if (n == u"backcolor" || n == u"bgcolor" || n == u"bgcolor-gradient-1" || n == u"background") {
      def.style.backColor = def.style.hoverBackColor = parseColor(ctx.layout, *first(n.text()));
      def.mask |= 0x04;
    } else if (n == u"bgcolor-hover") {
      def.style.hoverBackColor = parseColor(ctx.layout, *first(n.text()));
      def.mask |= 0x10;
    } else if (n == u"bgcolor-gradient-2") {
      def.style.gradientColor = def.style.hoverGradientColor = parseColor(ctx.layout, *first(n.text()));
      def.mask |= 0x20;
    } else if (n == u"class") {
      cls = v;
    } else if (n == u"name") {
      name = v;
    } else if (n == u"font-weight") {
      if (v == u"bold" || v == u"b") def.style.flags |= FXKTextLayout::kBold, def.mask |= 0x8000;
    } else if (n == u"font-decoration") {
      if (v == u"underline") def.style.flags |= FXKTextLayout::kUnderline, def.mask |= 0x4000;
      else if (v == u"none") def.mask |= 0x4000;
    } else if (n == u"font-color") {
      def.style.textColor = parseColor(ctx.layout, *first(n.text()));
      def.mask |= 0x1000;
    } else if (n == u"font-color-hover") {
      def.style.hoverTextColor = parseColor(ctx.layout, *first(n.text()));
      def.mask |= 0x2000;
    } else if (n == u"baseclass") {
      def.base = v;
    }
  }
  parseAlign(ctx, &def.style.flags, &def.mask);
  parseBackImage(ctx, &def.background);
  ctx.layout->defineStyle(cls, name, def);
  return 0;
}
std::int32_t FXKTextFormatStyle::close(tagcontext&) { return 0; }

void FXKTextFormatStyle::pushStyle(tagcontext& ctx) {
  textstyle& s = *ctx.style;
  s.savedFlags = s.flags;
  s.savedTextColor = s.textColor;
  s.savedHoverTextColor = s.hoverTextColor;
  s.savedBackColor = s.backColor;
  s.savedHoverBackColor = s.hoverBackColor;
  s.savedLink = s.link;
  s.savedHandler = s.handler;
  s.savedTip = s.tip;
}

void FXKTextFormatStyle::popStyle(tagcontext& ctx) {
  textstyle& s = *ctx.style;
  s.flags = s.savedFlags;
  s.textColor = s.savedTextColor;
  s.hoverTextColor = s.savedHoverTextColor;
  s.backColor = s.savedBackColor;
  s.hoverBackColor = s.savedHoverBackColor;
  s.link = s.savedLink;
  s.handler = s.savedHandler;
  s.tip = s.savedTip;
}

block* FXKTextFormatStyle::openTagBlock(tagcontext& ctx, std::uint32_t kind) {
  FXKTextLayout* layout = ctx.layout;
  block* b = layout->openBlock(*ctx.current, ctx.position, kind);
  *ctx.current = b;
  FXWString cls;
  for (std::int32_t i = 0; i < ctx.lastToken; ++i) {
    const FXWString& t = ctx.tokens[i];
    if (t == u"class" || t == u"style") cls = ctx.tokens[i + 1];
    if (t == u"id" && !ctx.tokens[i + 1].empty()) layout->registerBlockId(ctx.tokens[i + 1], b);
  }
  layout->applyStyleToBlock(b, ctx.tokens[0], cls);
  return b;
}

// ---------------------------------------------------------------- tables and blocks

block* FXKTextFormatTableBase::parseTable(tagcontext& ctx, std::uint32_t kind) {
  block* b = openTagBlock(ctx, kind);
  if (kind & FXKTextLayout::kBlockTable) b->align = 0;
  b->width = 0;
  textstyle& s = *ctx.style;
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2) {
    const FXWString& n = ctx.tokens[i];
    const FXWString& v = ctx.tokens[i + 1];
    if (n == u"width" || n == u"column_width") {
      b->width = ctx.sizeOf(v);
      if (v.tail() == u'%') b->flags |= FXKTextLayout::kBlockWidthPercent;
      else b->flags &= ~std::uint32_t(FXKTextLayout::kBlockWidthPercent);
    } else if (n == u"make-visible") {
      if (isTrue(v)) ctx.layout->setMakeVisible(b);
    } else if (n == u"height") {
      b->height = ctx.sizeOf(v);
      if (v.tail() == u'%') b->flags |= FXKTextLayout::kBlockHeightPercent;
    } else if (n == u"column_pad" || n == u"cellspacing") {
      if (kind & FXKTextLayout::kBlockTable) b->spacing = static_cast<std::uint8_t>(ctx.numberOf(v));
    } else if (n == u"cellpadding") {
      if (kind & FXKTextLayout::kBlockTable) b->padding = static_cast<std::uint8_t>(ctx.numberOf(v));
    } else if (n == u"colspan") {
      const std::uint32_t span = ctx.numberOf(v);
      if (span >= 2) b->colSpan = static_cast<std::uint8_t>(span), b->flags |= FXKTextLayout::kBlockColSpan;
    } else if (n == u"rowspan") {
      const std::uint32_t span = ctx.numberOf(v);
      if (span >= 2) b->rowSpan = static_cast<std::uint8_t>(span), b->flags |= FXKTextLayout::kBlockRowSpan;
    } else if (n == u"constant_x") {
      if (isTrue(v)) b->flags |= FXKTextLayout::kBlockConstX;
    } else if (n == u"constant_y") {
      if (isTrue(v)) b->flags |= FXKTextLayout::kBlockConstY;
    } else if (n == u"transparent" || n == u"opaque") {
      bool opaque;
      if (v == u"true") opaque = n == u"opaque";
      else if (v == u"false") opaque = n == u"transparent";
      else opaque = (v.getUnsignedValue() != 0) == (n == u"opaque");
      if (opaque) b->flags |= FXKTextLayout::kBlockOpaque;
      else b->flags &= ~std::uint32_t(FXKTextLayout::kBlockOpaque);
    } else if (n == u"tooltip") {
      if (v.head() == u'#') {
        if (const auto* t = ctx.layout->findTooltip(v)) s.tip = const_cast<FXKTextLayout::tooltip*>(t);
      } else {
        s.tip = ctx.layout->newTooltip(v);
      }
    } else if (n == u"state") {
      if (v == u"disabled") b->flags |= FXKTextLayout::kBlockDisabled;
    } else if (n == u"enabled") {
      if (v == u"false" || (v != u"true" && !v.empty() && v.getUnsignedValue() == 0))
        b->flags |= FXKTextLayout::kBlockDisabled;
    } else if (n == u"disabled") {
      if (isTrue(v)) b->flags |= FXKTextLayout::kBlockDisabled;
    } else if (n == u"visible") {
      if (!(v == u"true" || v.empty() || (v != u"false" && v.getUnsignedValue() != 0)))
        b->flags |= FXKTextLayout::kBlockHidden;
    } else if (n == u"hiddden") {
      if (isTrue(v)) b->flags |= FXKTextLayout::kBlockHidden;
    }
  }
  if (s.tip) s.flags |= FXKTextLayout::kHasTooltip;
  parseAlign(ctx, &b->align, nullptr);
  parseAlign(ctx, &s.flags, nullptr);
  parseColors(ctx, b, &s);
  parseBackImage(ctx, nullptr);
  return b;
}

std::int32_t FXKTextFormatTable::open(tagcontext& ctx) {
  parseTable(ctx, FXKTextLayout::kBlockTable);
  return 3;
}
std::int32_t FXKTextFormatTable::close(tagcontext& ctx) {
  *ctx.current = ctx.layout->closeBlock(*ctx.current, ctx.position);
  return 8;
}
std::int32_t FXKTextFormatRow::open(tagcontext& ctx) {
  parseTable(ctx, FXKTextLayout::kBlockRow);
  return 4;
}
std::int32_t FXKTextFormatRow::close(tagcontext& ctx) {
  *ctx.current = ctx.layout->closeBlock(*ctx.current, ctx.position);
  return 5;
}
std::int32_t FXKTextFormatColumn::open(tagcontext& ctx) {
  parseTable(ctx, FXKTextLayout::kBlockCell);
  return 6;
}
std::int32_t FXKTextFormatColumn::close(tagcontext& ctx) {
  *ctx.current = ctx.layout->closeBlock(*ctx.current, ctx.position);
  return 7;
}
std::int32_t FXKTextFormatDiv::open(tagcontext& ctx) {
  block* b = parseTable(ctx, FXKTextLayout::kBlockDivision);
  if (ctx.value(u"table") == u"true") b->flags |= 0x4;
  FXWString uniform = ctx.has(u"uniform_width") ? ctx.value(u"uniform_width") : ctx.value(u"uniform-width");
  if (uniform == u"true") b->flags |= 0x2;
  if (ctx.value(u"vertical") == u"true") b->flags |= 0x8;
  return 0;
}
std::int32_t FXKTextFormatDiv::close(tagcontext& ctx) {
  *ctx.current = ctx.layout->closeBlock(*ctx.current, ctx.position);
  return 0;
}

std::int32_t FXKTextFormatLayer::open(tagcontext& ctx) {
  openTagBlock(ctx, FXKTextLayout::kBlockLayer);
  return 0;
}
std::int32_t FXKTextFormatLayer::close(tagcontext& ctx) {
  *ctx.current = ctx.layout->closeBlock(*ctx.current, ctx.position);
  return 0;
}

std::int32_t FXKTextFormatParagraph::open(tagcontext& ctx) {
  block* b = openTagBlock(ctx, FXKTextLayout::kBlockParagraph);
  parseAlign(ctx, &ctx.style->flags, nullptr);
  parseColors(ctx, b, ctx.style);
  parseBackImage(ctx, nullptr);
  return 0;
}
std::int32_t FXKTextFormatParagraph::close(tagcontext& ctx) {
  *ctx.current = ctx.layout->closeBlock(*ctx.current, ctx.position);
  ctx.position = ctx.layout->insertObject(ctx.position, FXKTextLayout::makeVerticalPad(2));
  return 11;
}

std::int32_t FXKTextFormatSeparator::open(tagcontext& ctx) {
  block* b = FXKTextFormatStyle::openTagBlock(ctx, 0);
  std::int32_t kind = 0, height = 0, width = 0;
  std::uint32_t widthFlags = 0;
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2) {
    const FXWString& n = ctx.tokens[i];
    const FXWString& v = ctx.tokens[i + 1];
    if (n == u"type" || n == u"style") {
      if (v == u"gradient") kind = 1;
      else if (v == u"cyclegradient") kind = 2;
      else if (v == u"sunken") kind = 3;
    } else if (n == u"height") {
      height = ctx.sizeOf(v);
    } else if (n == u"width") {
      width = ctx.sizeOf(v);
      if (v.tail() == u'%') widthFlags |= FXKTextLayout::kBlockWidthPercent;
    }
  }
  if (height == 0) height = 1;
  FXStockColor first, second;
  if (kind == 3) {
    height = 2;
    if (auto* app = dynamic_cast<FXExtApp*>(ctx.layout->getApp())) {
      first = app->getStockColor(3);
      second = app->getStockColor(4);
    }
  } else {
    findColor(ctx, nullptr, first);
  }
  (void)b;
  ctx.position =
      ctx.layout->insertObject(ctx.position, FXKTextLayout::makeLine(width, height, widthFlags, first, second, kind));
  return 0;
}
std::int32_t FXKTextFormatSeparator::close(tagcontext& ctx) {
  *ctx.current = ctx.layout->closeBlock(*ctx.current, ctx.position);
  return 0;
}

// ---------------------------------------------------------------- links

std::int32_t FXKTextFormatLink::open(tagcontext& ctx) {
  pushStyle(ctx);
  textstyle& s = *ctx.style;
  bool underline = true, enabled = true, flat = false, flatex = false;
  FXWString cls;
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2) {
    const FXWString& n = ctx.tokens[i];
    const FXWString& v = ctx.tokens[i + 1];
    if (n == u"format" || n == u"style") {
      if (v == u"flat") {
        s.flags |= 0x12000;
        flat = true, flatex = false, underline = true;
      } else if (v == u"flatex") {
        s.flags |= 0x202000;
        flat = true, flatex = true, underline = false;
      }
    } else if (n == u"underline") {
      underline = v == u"true" || (v != u"false" && v.getUnsignedValue() != 0);
    } else if (n == u"font-decoration-hover") {
      if (v == u"underline") underline = true;
      else if (v == u"none") underline = false;
    } else if (n == u"url" || n == u"verb" || n == u"href") {
      s.link = v;
    } else if (n == u"tooltip") {
      if (v.head() == u'#') {
        if (const auto* t = ctx.layout->findTooltip(v)) s.tip = const_cast<FXKTextLayout::tooltip*>(t);
      } else {
        s.tip = ctx.layout->newTooltip(v);
      }
    } else if (n == u"class") {
      cls = v;
    } else if (n == u"enabled") {
      enabled = isTrue(v);
    }
  }
  if (underline) s.flags |= FXKTextLayout::kUnderline;
  if (!flat) {
    if (enabled) {
      s.flags |= FXKTextLayout::kLink;
      s.textColor = s.hoverTextColor = ctx.layout->linkColor();
    } else {
      s.flags &= ~std::uint32_t(FXKTextLayout::kLink);
      s.textColor = s.hoverTextColor = ctx.layout->disabledLinkColor();
    }
  } else if (flatex) {
    s.flags |= FXKTextLayout::kLink;
    s.textColor = s.hoverTextColor = ctx.layout->linkColor();
  }
  s.handler = ctx.layout->linkHandler();
  ctx.layout->applyStyleToText(s, ctx.tokens[0], cls);
  parseColors(ctx, nullptr, &s);
  std::int32_t entry = -1;
  if (enabled) {
    entry = ctx.layout->addLink(ctx.position, 1);
    *ctx.linkCursor = entry;
    s.linkIndex = entry;
    s.flags |= FXKTextLayout::kInLink;
    if (s.tip) s.flags |= FXKTextLayout::kHasTooltip;
    if (flatex) ctx.layout->links()[static_cast<std::size_t>(entry)].kind |= 0x2;
  }
  ctx.layout->linkStack().push_back(entry);
  return 0;
}

std::int32_t FXKTextFormatLink::close(tagcontext& ctx) {
  bool enabled = true;
  for (std::int32_t i = 1; i < ctx.lastToken; i += 2)
    if (ctx.tokens[i] == u"enabled") enabled = isTrue(ctx.tokens[i + 1]);
  popStyle(ctx);
  // Each end tag closes the entry its own start tag opened: after a disabled
  // nested link (no entry) the enclosing link's entry stays open.
  auto& stack = ctx.layout->linkStack();
  std::int32_t entry = -1;
  bool matched = false;
  if (!stack.empty()) {
    entry = stack.back();
    stack.pop_back();
    matched = true;
  }
  if (!enabled || (matched && entry < 0)) return 0;
  ctx.layout->closeLink(&entry, ctx.position);
  *ctx.linkCursor = stack.empty() ? 0 : std::max<std::int32_t>(stack.back(), 0);
  return 0;
}
