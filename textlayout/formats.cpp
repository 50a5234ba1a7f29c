// The tag formats: attribute lookups, simple flag formats, indent, hotkey,
// tabs, font, tag, html, watermark, pad, context.
#include "textlayout/formats.h"

#include <fx.h>

#include "platform/fox/line_break.h"

using namespace FX;
using block = FXKTextLayout::block;
using textstyle = FXKTextLayout::textstyle;

// ---------------------------------------------------------------- attribute lookups

const FXWString* tagcontext::pair(const char16_t* name) const {
  for (std::int32_t i = 1; i < lastToken; i += 2)
    if (tokens[i] == name) return &tokens[i + 1];
  return nullptr;
}

FXWString tagcontext::value(const char16_t* name, const char16_t* fallback) const {
  for (std::int32_t i = 0; i < lastToken; ++i)
    if (tokens[i] == name) return tokens[i + 1];
  return FXWString(fallback);
}

bool tagcontext::has(const char16_t* name) const {
  for (std::int32_t i = 0; i < lastToken; ++i)
    if (tokens[i] == name) return true;
  return false;
}

std::string tagcontext::narrowValue(const char16_t* name, const char* fallback) const {
  for (std::int32_t i = 0; i < lastToken; ++i)
    if (tokens[i] == name) return tokens[i + 1].toUtf8();
  return fallback;
}

std::uint32_t tagcontext::numberOf(const FXWString& text) const {
  const std::int32_t n = text.length();
  if (n >= 2 && text[n - 2] == u'p' && current && *current) {
    block* b = *current;
    if (text[n - 1] == u't') b->flags = (b->flags & ~0xC000u) | 0x4000u;
    if (text[n - 1] == u'x') b->flags = (b->flags & ~0xC000u) | 0x8000u;
  }
  return text.getUnsignedValue();
}

std::int32_t tagcontext::sizeOf(const FXWString& text) const {
  return static_cast<std::int32_t>(std::min<std::uint32_t>(numberOf(text), FXKTextLayout::kMaxRequestedSize));
}

std::uint32_t tagcontext::number(const char16_t* name, std::uint32_t fallback) const {
  for (std::int32_t i = 0; i < lastToken; ++i)
    if (tokens[i] == name) return numberOf(tokens[i + 1]);
  return fallback;
}

FXKNarrowString::FXKNarrowString(const FXWString& text) {
  if (!text.empty()) text_ = text.toUtf8();
}

namespace {

FXKStdMessageTranslator stdTranslator = nullptr;

}  // namespace

void setStdMessageTranslator(FXKStdMessageTranslator translator) { stdTranslator = translator; }

// ---------------------------------------------------------------- simple formats

std::int32_t FXKTextFormatSimple::open(tagcontext& ctx) {
  ctx.style->flags = (ctx.style->flags & ~mask) | value;
  return openResult;
}

std::int32_t FXKTextFormatSimple::close(tagcontext& ctx) {
  ctx.style->flags &= ~value;
  return closeResult;
}

std::int32_t FXKTextFormatBinaryIconSource::open(tagcontext& ctx) {
  ctx.layout->binaryIconMode() = 1;
  return 0;
}
std::int32_t FXKTextFormatBinaryIconSource::close(tagcontext& ctx) {
  ctx.layout->binaryIconMode() = 0;
  return 0;
}
std::int32_t FXKTextFormatBinaryIconOverlay::open(tagcontext& ctx) {
  ctx.layout->binaryIconMode() = 2;
  return 0;
}
std::int32_t FXKTextFormatBinaryIconOverlay::close(tagcontext& ctx) {
  ctx.layout->binaryIconMode() = 0;
  return 0;
}

std::int32_t FXKTextFormatContext::open(tagcontext& ctx) {
  ctx.layout->openContext(ctx);
  return 0;
}
std::int32_t FXKTextFormatContext::close(tagcontext& ctx) {
  ctx.layout->closeContext(ctx);
  return 9;
}

// ---------------------------------------------------------------- indent, hotkey, tabs

std::int32_t FXKTextFormatIndent::open(tagcontext& ctx) {
  for (std::int32_t i = 0; i < ctx.lastToken; ++i) {
    if (ctx.tokens[i] != u"value") continue;
    const FXWString& v = ctx.tokens[i + 1];
    const auto n = static_cast<std::int32_t>(std::min<std::uint32_t>(v.getUnsignedValue(), FXKTextLayout::kMaxRequestedSize));
    ctx.style->indent = n;
    if (n != 0) ctx.style->flags |= FXKTextLayout::kIndent;
    if (v.tail() == u'x') ctx.style->indent = -n;
  }
  return 0;
}
std::int32_t FXKTextFormatIndent::close(tagcontext& ctx) {
  ctx.style->flags &= ~std::uint32_t(FXKTextLayout::kIndent);
  ctx.style->indent = 0;
  return 0;
}

std::int32_t FXKTextFormatHotkey::open(tagcontext& ctx) {
  ctx.style->flags |= FXKTextLayout::kUnderline;
  ctx.layout->setHotkey(FX::fxparsehotkey(u"\u2382"));
  return 0;
}
std::int32_t FXKTextFormatHotkey::close(tagcontext& ctx) {
  ctx.style->flags &= ~std::uint32_t(FXKTextLayout::kUnderline);
  return 0;
}

std::int32_t FXKTextFormatTabpoint::open(tagcontext& ctx) {
  ctx.style->tabWidth = static_cast<std::int32_t>(std::min<std::uint32_t>(ctx.number(u"value", 8), FXKTextLayout::kMaxRequestedSize));
  return 0;
}
std::int32_t FXKTextFormatTabpoint::close(tagcontext& ctx) {
  ctx.style->tabWidth = 8;
  return 0;
}

std::int32_t FXKTextFormatTab::open(tagcontext&) { return 2; }
std::int32_t FXKTextFormatTab::close(tagcontext&) { return 11; }

// ---------------------------------------------------------------- font, tag, html

std::int32_t FXKTextFormatFont::open(tagcontext& ctx) {
  ctx.style->fontName = ctx.value(u"stock");
  return 0;
}
std::int32_t FXKTextFormatFont::close(tagcontext& ctx) {
  ctx.style->fontName.clear();
  return 0;
}

std::int32_t FXKTextFormatTag::open(tagcontext& ctx) {
  const FXWString key = ctx.value(u"map");
  if (key.empty() || !stdTranslator) return 18;
  FXWString text;
  if (!stdTranslator(FXKNarrowString(key), text)) return 18;
  ctx.literal = text;
  return 14;
}
std::int32_t FXKTextFormatTag::close(tagcontext&) { return 0; }

std::int32_t FXKTextFormatHTML::open(tagcontext& ctx) {
  if (*ctx.current) (*ctx.current)->flags |= FXKTextLayout::kBlockHtml;
  return 0;
}
std::int32_t FXKTextFormatHTML::close(tagcontext& ctx) {
  if (*ctx.current) (*ctx.current)->flags &= ~std::uint32_t(FXKTextLayout::kBlockHtml);
  return 0;
}

// ---------------------------------------------------------------- watermark, pad

std::int32_t FXKTextFormatWaterImage::open(tagcontext&) { return 0; }
std::int32_t FXKTextFormatWaterImage::close(tagcontext& ctx) {
  FXWString name = ctx.value(u"file");
  if (name.empty()) name = ctx.value(u"href");
  if (name.empty()) name = ctx.value(u"src");
  if (name.empty()) return 0;
  if (FXIcon* image = ctx.layout->getImage(name, false)) ctx.layout->setWatermark(image);
  return 0;
}

std::int32_t FXKTextFormatVPad::open(tagcontext& ctx) {
  FXKTextFormatStyle::openTagBlock(ctx, 0);
  return 0;
}
std::int32_t FXKTextFormatVPad::close(tagcontext& ctx) {
  const auto height =
      static_cast<std::int32_t>(std::min<std::uint32_t>(ctx.number(u"height", 1), FXKTextLayout::kMaxRequestedSize));
  ctx.position = ctx.layout->insertObject(ctx.position, FXKTextLayout::makeVerticalPad(height));
  *ctx.current = ctx.layout->closeBlock(*ctx.current, ctx.position);
  return 0;
}

// ---------------------------------------------------------------- anchor

std::int32_t FXKTextFormatAnchor::open(tagcontext& ctx) {
  const std::int32_t i = ctx.layout->addAnchor(ctx.position, 0);
  *ctx.anchorCursor = i;
  FXWString name = ctx.value(u"id");
  if (name.empty()) name = ctx.value(u"name");
  ctx.layout->anchors()[static_cast<std::size_t>(i)].name = name;
  ctx.style->flags |= FXKTextLayout::kInLink;
  return 12;
}

std::int32_t FXKTextFormatAnchor::close(tagcontext& ctx) {
  auto& anchors = ctx.layout->anchors();
  std::int32_t& cursor = *ctx.anchorCursor;
  if (cursor >= 0 && cursor < static_cast<std::int32_t>(anchors.size())) {
    anchors[static_cast<std::size_t>(cursor)].end = ctx.position;
    // From the first entry the cursor moves to the end of the table.
    cursor = cursor == 0 ? static_cast<std::int32_t>(anchors.size()) : cursor - 1;
  }
  ctx.style->flags &= ~std::uint32_t(FXKTextLayout::kInLink);
  return 13;
}
