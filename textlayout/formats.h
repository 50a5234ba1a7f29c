// The tag formats of the layout markup: one object per tag name in the
// process-wide tag table (FXKTextLayout::tagTable). A format reads the tag's
// tokens from the tag context, changes the current style, the current block or
// the layout's tables, and answers a result code the parser acts on.
#pragma once

#include <cstdint>
#include <string>

#include "textlayout/layout.h"

using tagcontext = FXKTextLayout::tagcontext;

class FXKTextFormat {
 public:
  virtual std::int32_t open(tagcontext& ctx) = 0;
  virtual std::int32_t close(tagcontext& ctx) = 0;
  virtual bool isSimple() { return false; }
  virtual ~FXKTextFormat() = default;
};

// Sets (flags & ~mask) | value on open, clears value on close.
class FXKTextFormatSimple : public FXKTextFormat {
 public:
  FXKTextFormatSimple(std::uint32_t v = 0, std::uint32_t m = 0, std::int32_t o = 0, std::int32_t c = 0)
      : value(v), mask(m), openResult(o), closeResult(c) {}
  std::int32_t open(tagcontext& ctx) override;
  std::int32_t close(tagcontext& ctx) override;
  bool isSimple() override { return true; }

  std::uint32_t value, mask;
  std::int32_t openResult, closeResult;
};

class FXKTextFormatSimpleOutline : public FXKTextFormatSimple {
 public:
  using FXKTextFormatSimple::FXKTextFormatSimple;
  bool isSimple() override { return false; }
};

class FXKTextFormatBinaryIconSource : public FXKTextFormatSimple {
 public:
  std::int32_t open(tagcontext& ctx) override;
  std::int32_t close(tagcontext& ctx) override;
};

class FXKTextFormatBinaryIconOverlay : public FXKTextFormatSimple {
 public:
  std::int32_t open(tagcontext& ctx) override;
  std::int32_t close(tagcontext& ctx) override;
};

class FXKTextFormatContext : public FXKTextFormatSimple {
 public:
  std::int32_t open(tagcontext& ctx) override;
  std::int32_t close(tagcontext& ctx) override;
};

#define KV_TEXT_FORMAT(Name, Base)                \
  class Name : public Base {                      \
   public:                                        \
    std::int32_t open(tagcontext& ctx) override;  \
    std::int32_t close(tagcontext& ctx) override; \
  };

KV_TEXT_FORMAT(FXKTextFormatIndent, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatHotkey, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatTabpoint, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatTab, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatFont, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatWaterImage, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatVPad, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatHTML, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatTag, FXKTextFormat)
KV_TEXT_FORMAT(FXKTextFormatAnchor, FXKTextFormat)

// Colour attribute lookup shared by the colour, style and block formats.
class FXKTextFormatColor : public FXKTextFormat {
 public:
  // Colour value: "0x" + 6 digits (FOX order), "#" + 6 digits (RGB), else a
  // stock colour name (0 when unknown).
  static FX::FXStockColor parseColor(FXKTextLayout* layout, const FX::FXWString& value);
  // The first counting colour attribute (of that name, or of any name).
  static bool findColor(const tagcontext& ctx, const char16_t* name, FX::FXStockColor& color);
  // Colours and gradients of a block tag into a block and/or a style.
  static void parseColors(const tagcontext& ctx, FXKTextLayout::block* b, FXKTextLayout::textstyle* style);
  // Alignment and opacity into a flag word (default: the current block's
  // alignment word); the property mask seen.
  static std::uint32_t parseAlign(const tagcontext& ctx, std::uint32_t* target, std::uint32_t* mask);
  // Background image attributes into a record (default: the current block's).
  static void parseBackImage(const tagcontext& ctx, FXKTextLayout::bgimage* target);
};

KV_TEXT_FORMAT(FXKTextFormatBackground, FXKTextFormatColor)
KV_TEXT_FORMAT(FXKTextFormatForeground, FXKTextFormatColor)
KV_TEXT_FORMAT(FXKTextFormatBackColor, FXKTextFormatColor)
KV_TEXT_FORMAT(FXKTextFormatTextColor, FXKTextFormatColor)
KV_TEXT_FORMAT(FXKTextFormatBackImage, FXKTextFormatColor)
KV_TEXT_FORMAT(FXKTextFormatSeparator, FXKTextFormatColor)

class FXKTextFormatStyle : public FXKTextFormatBackImage {
 public:
  std::int32_t open(tagcontext& ctx) override;
  std::int32_t close(tagcontext& ctx) override;
  // One saved copy, not a stack.
  virtual void pushStyle(tagcontext& ctx);
  virtual void popStyle(tagcontext& ctx);
  // Opens a block for a block tag: class/style, id, named styles.
  static FXKTextLayout::block* openTagBlock(tagcontext& ctx, std::uint32_t kind);
};

KV_TEXT_FORMAT(FXKTextFormatLink, FXKTextFormatStyle)
KV_TEXT_FORMAT(FXKTextFormatLayer, FXKTextFormatStyle)
KV_TEXT_FORMAT(FXKTextFormatParagraph, FXKTextFormatStyle)

class FXKTextFormatTableBase : public FXKTextFormatStyle {
 public:
  static FXKTextLayout::block* parseTable(tagcontext& ctx, std::uint32_t kind);
};

KV_TEXT_FORMAT(FXKTextFormatRow, FXKTextFormatTableBase)
KV_TEXT_FORMAT(FXKTextFormatColumn, FXKTextFormatTableBase)
KV_TEXT_FORMAT(FXKTextFormatTable, FXKTextFormatTableBase)
KV_TEXT_FORMAT(FXKTextFormatDiv, FXKTextFormatTableBase)

// Embedded objects (objects_formats.cpp).
class FXKTextFormatGrahpicAobject : public FXKTextFormat {};
KV_TEXT_FORMAT(FXKTextFormatImage, FXKTextFormatGrahpicAobject)
KV_TEXT_FORMAT(FXKTextFormatAnimation, FXKTextFormatGrahpicAobject)
KV_TEXT_FORMAT(FXKTextFormatIcon, FXKTextFormatGrahpicAobject)
KV_TEXT_FORMAT(FXKTextFormatControl, FXKTextFormat)

#undef KV_TEXT_FORMAT

// A narrow copy of a wide text; an empty text shares one empty narrow text.
class FXKNarrowString {
 public:
  explicit FXKNarrowString(const FX::FXWString& text);
  const char* text() const { return text_.empty() ? "" : text_.c_str(); }
  operator const char*() const { return text(); }

 private:
  std::string text_;
};

// Translation of the standard library's exception messages for the "tag"
// format ("map" key); null when unknown. Replaceable by the program.
using FXKStdMessageTranslator = bool (*)(const char* key, FX::FXWString& text);
void setStdMessageTranslator(FXKStdMessageTranslator translator);
