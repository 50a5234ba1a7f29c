// FXKTextLayout: one formatted text of the GUI. Markup (setText) becomes a
// plain text with marker characters, style runs, a block tree, link and anchor
// tables, tooltips and embedded objects; a layout pass (layout) cuts it into
// lines for a width; paint draws it on a device context.
//
// The text: U+000A is a hard line break, U+2028 separates blocks and stands
// around inline objects, U+F805 stands for an embedded object (its primitive
// is kept under that character's position). Text positions index this string.
//
// GUI thread only. Pulls in no toolkit header (the device context, fonts and
// images are only named).
#pragma once

#include <algorithm>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/app/verb_processor.h"
#include "platform/fox/fx_stock_color.h"
#include "platform/fox/fxwstring.h"

namespace FX {
class FXApp;
class FXDC;
class FXFont;
class FXIcon;
class FXImage;
class FXRegion;
class FXWindow;
class FXRectangle;
class FXDCPrintExt;
typedef unsigned int FXColor;
}  // namespace FX

class FXKTextFormat;

// Marker characters of the layout text.
namespace TextMarker {
inline constexpr char16_t kLineBreak = u'\n';
inline constexpr char16_t kBlock = u'\u2028';
inline constexpr char16_t kObject = u'\uF805';
inline constexpr char16_t kLiteral = u'\uF800';
}  // namespace TextMarker

class FXKTextLayout : public FXKVerbProcessor {
 public:
  // ------------------------------------------------------------ style bits
  enum StyleFlag : std::uint32_t {
    kAlignMask = 0x3,  // 0 left, 1 right, 2 center, 3 justify
    kAlignRight = 0x1,
    kAlignCenter = 0x2,
    kAlignJustify = 0x3,
    kVAlignMask = 0x30,
    kVAlignCenter = 0x10,
    kVAlignBottom = 0x20,
    kBold = 0x200,
    kItalic = 0x400,
    kUnderline = 0x800,
    kFontBits = 0xF00,
    kShadow = 0x1000,
    kLink = 0x2000,
    kIndent = 0x4000,
    kNoWrap = 0x8000,
    kFlatLink = 0x10000,
    kInLink = 0x20000,
    kHasTooltip = 0x80000,
    kOpaqueStyle = 0x100000,
    kFlatLinkColors = 0x200000,
  };
  // ------------------------------------------------------------ block bits
  enum BlockFlag : std::uint32_t {
    kBlockTable = 0x2,
    kBlockRow = 0x4,
    kBlockCell = 0x8,
    kBlockHot = 0x10,
    kBlockHtml = 0x20,  // line feeds ignored, pixel units
    kBlockStyled = 0x40,
    kBlockParagraphKind = 0x80,
    kBlockParagraph = 0x81,
    kBlockDisabled = 0x100,
    kBlockWidthPercent = 0x200,
    kBlockHeightPercent = 0x400,
    kBlockColSpan = 0x800,
    kBlockRowSpan = 0x1000,
    kBlockPlaceholder = 0x2000,
    kBlockUnitPoints = 0x4000,
    kBlockUnitPixels = 0x8000,
    kBlockParentGradient = 0x10000,
    kBlockVerticalGradient = 0x20000,
    kBlockConstX = 0x40000,
    kBlockConstY = 0x80000,
    kBlockDivision = 0x100000,
    kBlockOpaque = 0x400000,
    kBlockHidden = 0x800000,
    kBlockLayer = 0x1000000,
  };
  // ------------------------------------------------------------ segment bits
  enum SegmentFlag : std::uint32_t {
    kSegHardBreak = 0x1,
    kSegBlank = 0x2,
    kSegAfterTab = 0x10,
    kSegObject = 0x20,
    kSegNoWrap = 0x40,
  };
  // ------------------------------------------------------------ paint flags
  enum PaintFlag : std::uint32_t {
    kPaintTransparent = 0x7,
    kPaintBackgrounds = 0x8,
    kPaintPage = 0x10,
    kPaintEllipsis = 0x20,
    kPaintUnderlineAll = 0x40,
  };

  struct tooltip {
    std::int32_t kind = 0;  // 0 a text; 1 an element (not made by this engine)
    FX::FXWString text;
  };

  // Reference-counted object of the link formats (the link handler).
  using linkobject = Processor::RefPtr<Processor::RefObject>;

  struct textstyle {
    std::uint32_t flags = 0;
    std::uint32_t savedFlags = 0;
    FX::FXStockColor textColor, savedTextColor;
    FX::FXStockColor hoverTextColor, savedHoverTextColor;
    FX::FXStockColor backColor, savedBackColor;
    FX::FXStockColor hoverBackColor, savedHoverBackColor;
    FX::FXStockColor gradientColor, savedGradientColor;
    FX::FXStockColor hoverGradientColor, savedHoverGradientColor;
    std::int32_t indent = 0;  // > 0 widths of "x", < 0 pixels
    std::int32_t linkIndex = -1;
    std::int32_t tabWidth = 8;
    tooltip* tip = nullptr;  // not owned
    tooltip* savedTip = nullptr;
    FX::FXWString link, savedLink;
    linkobject handler, savedHandler;
    FX::FXWString fontName;

    bool operator==(const textstyle& o) const;
  };

  // The background-image record of a block (or of a named style).
  struct bgimage {
    FX::FXImage* image = nullptr;  // from the layout's image cache
    FX::FXImage* hoverImage = nullptr;
    std::uint32_t placement = 0;  // 0x1 left, 0x2 centre, 0x8 top, 0x4 bottom, 0x10 v-centre, 0x20 stretch, 0x40 tile, 0x80 border
    std::int32_t x = 0, y = 0, w = 0, h = 0;
  };

  struct block {
    std::int32_t id = 0;
    std::int32_t textStart = 0, textEnd = 0;
    std::int32_t firstLine = 0, endLine = 0;
    std::int32_t firstSegment = -1, endSegment = -1;
    std::int32_t minWidth = 0, maxWidth = 0;  // cached; 0 = not measured
    bool widthsCached = false;
    std::int32_t width = 0, height = 0;  // requested (percent with 0x200 / 0x400)
    std::int32_t usedHeight = 0;
    std::uint8_t padding = 0, spacing = 1, colSpan = 0, rowSpan = 0;
    std::uint32_t flags = 0;
    std::uint32_t align = 0;
    std::int32_t x = 0, y = 0, w = 0, h = 0;  // rectangle, layout coordinates
    std::unique_ptr<textstyle> style;         // null: the parent's
    std::list<block> children;
    block* parent = nullptr;
    std::unique_ptr<bgimage> background;
    FX::FXStockColor backColor, hoverBackColor, gradientColor, hoverGradientColor, textColor, hoverTextColor;

    block() = default;
    block(const block& other);  // deep copy; parents re-linked
    block& operator=(const block&) = delete;
  };

  struct line {
    std::int32_t firstSegment = 0, lastSegment = -1;  // inclusive
    std::int32_t bottom = 0, height = 0, baseline = 0;
  };

  struct segment {
    std::int32_t start = 0, end = 0;
    std::int32_t x = 0, width = 0, trimmedWidth = 0, height = 0, ascent = 0;
    std::uint32_t flags = 0;
  };

  struct linkentry {
    std::int32_t start = 0, end = -1;
    std::int32_t firstBlock = -1, endBlock = -1;
    FX::FXWString name;
    std::int32_t kind = 0;
    block* opener = nullptr;
  };
  using anchorentry = linkentry;

  struct textcontext {
    FXKTextLayout* layout = nullptr;
    block* opener = nullptr;
    textcontext* parent = nullptr;
    std::list<textcontext> children;
    std::int32_t textStart = 0, textEnd = 0;
    std::int32_t blocksAtOpen = 0, blocksAtClose = 0;
    textstyle style;
  };

  struct styledef {
    textstyle style;
    FX::FXWString base;
    std::uint32_t mask = 0;
    bgimage background;  // the three placement words: image, hover image, placement
  };

  static constexpr int kMaxTokens = 23;
  // Sizes asked for in markup (units, pixels or percent) stop here, and sizes the
  // layout derives from them at kMaxExtent, so scaled and summed coordinates stay
  // inside 32 bits.
  static constexpr std::int32_t kMaxRequestedSize = 0x7FFF;
  static constexpr std::int32_t kMaxExtent = 0x3FFFFFFF;
  static std::int32_t clampExtent(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -kMaxExtent, kMaxExtent));
  }
  struct tagcontext {
    FXKTextLayout* layout = nullptr;
    textstyle* style = nullptr;
    FX::FXWString* tokens = nullptr;  // kMaxTokens
    std::int32_t lastToken = 0;
    block** current = nullptr;
    std::int32_t position = 0;
    std::int32_t* anchorCursor = nullptr;  // index into the anchor table, -1 none
    std::int32_t* linkCursor = nullptr;
    FX::FXWString literal;

    // Attribute lookups shared by the formats.
    // Pair scan: the value of the first pair named `name`, or null.
    const FX::FXWString* pair(const char16_t* name) const;
    // Any-token scan: the token after the first token equal to `name`.
    FX::FXWString value(const char16_t* name, const char16_t* fallback = u"") const;
    bool has(const char16_t* name) const;
    std::string narrowValue(const char16_t* name, const char* fallback = "") const;
    // Numeric value; "…pt"/"…px" set the current block's unit flags.
    std::uint32_t number(const char16_t* name, std::uint32_t fallback) const;
    std::uint32_t numberOf(const FX::FXWString& text) const;
    // A requested width or height: the numeric value, at most kMaxRequestedSize.
    std::int32_t sizeOf(const FX::FXWString& text) const;
  };

  // ------------------------------------------------------------ embedded objects
  // Measured like words, placed by the layout pass, drawn while painting lines.
  class primitive {
   public:
    virtual ~primitive() = default;
    virtual bool placedInLine() { return true; }
    virtual bool isEmbeddedWindow() { return false; }
    virtual bool isDrawn() { return true; }
    virtual void onEnter() {}
    virtual void onLeave() {}
    virtual void onPress() {}
    virtual void onRelease() {}
    virtual void resetSizeCaches();
    virtual std::int32_t getWidth() { return w; }
    virtual std::int32_t getHeight() { return h; }
    virtual void setWidth(std::int32_t v) { w = v; }
    virtual void setHeight(std::int32_t v) { h = v; }
    virtual std::int32_t getX() { return x; }
    virtual std::int32_t getY() { return y; }
    virtual std::int32_t naturalWidth() = 0;
    virtual std::int32_t naturalHeight(std::int32_t width) = 0;
    virtual std::int32_t minimumWidth() { return getWidth(); }
    virtual std::int32_t minimumHeight() { return getHeight(); }
    virtual std::int32_t cachedWidth();
    virtual std::int32_t cachedHeight(std::int32_t width);
    virtual std::uint32_t getPlacement() { return placement; }
    virtual void setPlacement(std::uint32_t p) { placement = p; }
    virtual void create() {}
    virtual void detach();
    virtual void destroy() {}
    virtual void repaint();
    virtual FX::FXWindow* embeddedWindow() { return nullptr; }
    virtual void setRect(std::int32_t nx, std::int32_t ny, std::int32_t nw, std::int32_t nh);
    virtual bool isBlockLevel() { return false; }
    virtual bool hasAlpha() = 0;
    virtual void draw(FX::FXDC& dc, std::int32_t px, std::int32_t py, bool alpha, std::uint32_t blockFlags) = 0;

    std::int32_t x = 0, y = 0, w = 0, h = 0;
    block* owner = nullptr;
    FXKTextLayout* layout = nullptr;
    std::uint32_t placement = 0;  // 0x1 fill the line's width, 0x2 take the line's height
    std::int32_t naturalW = -1, minimumW = -1, heightAtNatural = -1, heightAtMinimum = -1, heightAtOther = -1,
                 otherWidth = -1;
  };

  // Simple primitives made by the engine's own formats (pad, rule); the
  // embedded-object formats add images, icons, animations and controls.
  static primitive* makeVerticalPad(std::int32_t height);
  static primitive* makeLine(std::int32_t width, std::int32_t height, std::uint32_t widthFlags, FX::FXStockColor first,
                             FX::FXStockColor second, std::int32_t kind);

  // ------------------------------------------------------------ lifetime
  FXKTextLayout(FX::FXWindow* owner, bool justify);
  // A layout without a window (measuring, tests, formatted icon items).
  FXKTextLayout(FX::FXApp* app, bool justify);
  ~FXKTextLayout() override;

  virtual void create();
  virtual void clear();
  virtual void paint(FX::FXDC& dc, const FX::FXRectangle& rect, bool transparent, std::uint32_t flags);
  virtual void paintBackground(FX::FXDC& dc, const FX::FXRectangle& rect, std::uint32_t flags);
  virtual void setScrollOffset(std::int32_t x, std::int32_t y);
  virtual void updateRect(const FX::FXRectangle& rect);
  virtual void updateLayoutRect(const FX::FXRectangle& rect);
  virtual FXKTextFormat* findFormat(const char* name);
  virtual FXKTextFormat* findFormatByName(const std::string& name);
  virtual FX::FXIcon* loadImage(const FX::FXWString& name, const std::string& data, bool inactive);
  virtual FX::FXIcon* getImage(const FX::FXWString& name, bool inactive);
  virtual linkobject linkHandler() { return nullptr; }

  FX::FXWindow* getOwner() const { return owner_; }
  FX::FXApp* getApp() const { return app_; }
  bool isCreated() const { return (state_ & 1) != 0; }

  // ------------------------------------------------------------ text and measuring
  bool setText(const FX::FXWString& markup);
  void layout(std::int32_t width, std::int32_t height, bool force);
  std::pair<std::int32_t, std::int32_t> measure(std::int32_t width);
  std::int32_t getMinimumWidth();
  std::int32_t getMaximumWidth();
  std::int32_t getHeightForWidth(std::int32_t width);
  std::int32_t getContentHeight() const;
  std::int32_t getContentWidth() const { return contentWidth_; }
  // How many layout passes ran on copies for measuring questions (caching test).
  std::int32_t measureCount() const { return measureCount_; }
  // The next layout pass runs even with unchanged inputs.
  void invalidateLayout() { passValid_ = false; }

  // ------------------------------------------------------------ parser (tag table, results)
  std::int32_t parseTag(const char16_t* text, std::int32_t length, tagcontext& ctx);
  bool applyTagResult(std::int32_t result, tagcontext& ctx);
  std::int32_t appendLineBreak(std::int32_t position);
  void recordStyle(std::int32_t position, const textstyle& style);
  void addTooltip(const FX::FXWString& name, const FX::FXWString& text);
  const tooltip* findTooltip(const FX::FXWString& key) const;
  tooltip* newTooltip(const FX::FXWString& text);
  void resetText();
  void finishText();
  static std::map<FX::FXWString, FXKTextFormat*>& tagTable();

  // ------------------------------------------------------------ block tree
  block* openBlock(block* parent, std::int32_t position, std::uint32_t kind);
  block* closeBlock(block* b, std::int32_t position);
  textstyle* nearestStyle(block* b);
  const textstyle* nearestStyle(const block* b) const;
  block* findBlockById(std::int32_t id, block* start = nullptr);
  void resetRootBlock();
  void registerBlockId(const FX::FXWString& id, block* b) { blockIds_[id] = b; }
  block* blockById(const FX::FXWString& id) const;

  // ------------------------------------------------------------ style runs and named styles
  textstyle& runAt(std::int32_t position);
  const textstyle* styleAtPosition(std::int32_t position) const;  // run in effect
  void resetRuns();
  void defineStyle(const FX::FXWString& first, const FX::FXWString& second, const styledef& def);
  void applyStyleToBlock(block* b, const FX::FXWString& tag, const FX::FXWString& cls);
  void applyStyleToText(textstyle& style, const FX::FXWString& tag, const FX::FXWString& cls);

  // ------------------------------------------------------------ contexts
  void openContext(tagcontext& ctx);
  textcontext* closeContext(tagcontext& ctx);
  textcontext* contextById(const FX::FXWString& id) const;

  // ------------------------------------------------------------ links and anchors
  std::int32_t addAnchor(std::int32_t position, std::int32_t kind);  // index of the entry
  std::int32_t addLink(std::int32_t position, std::int32_t kind);
  // Closes the entry at *cursor when it is open, else the last open one.
  void closeLink(std::int32_t* cursor, std::int32_t position);
  std::vector<std::int32_t>& linkStack() { return linkStack_; }
  bool hasLinks() const { return links_.size() > 1; }

  // ------------------------------------------------------------ embedded objects
  std::int32_t insertObject(std::int32_t position, primitive* object);
  void removeObject(primitive* object);
  void deleteObjects();
  primitive* objectAt(std::int32_t position) const;

  // ------------------------------------------------------------ segments and lines
  void segmentText(std::int32_t start, std::int32_t end);
  void segmentBlock(block& b);
  void measureSegments(std::int32_t first, std::int32_t last);
  std::int32_t breakLines(std::int32_t& rightEdge, std::int32_t& maxWidth, std::int32_t x, std::int32_t y,
                          std::int32_t width, std::int32_t first, std::int32_t end, block& b, std::int32_t& runCursor);
  std::int32_t alignLine(std::int32_t rightLimit, std::int32_t runKey, std::int32_t gaps, std::int32_t first,
                         std::int32_t last, std::int32_t& baseline);
  std::int32_t segmentWidths(std::int32_t& minWidth, std::int32_t& maxWidth, block& b, std::int32_t first,
                             std::int32_t end);
  void blockWidths(std::int32_t& minWidth, std::int32_t& maxWidth, block& b);
  std::int32_t unitWidth(const block* b);
  std::int32_t unitHeight(const block* b);
  std::int32_t xWidth();  // width of "x" in the default font
  std::int32_t indentWidth(const textstyle& s);  // a style's indent in pixels
  // Text width of a range, summing the pieces of the style runs crossed.
  std::int32_t textWidth(std::int32_t start, std::int32_t end);
  // Drops the thread's cache of text widths (fonts changed; benchmarks).
  static void forgetTextWidths();

  // ------------------------------------------------------------ layout pass
  std::int32_t layoutBlock(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y,
                           std::int32_t width, std::int32_t minHeight, block& b, std::int32_t& runCursor);
  std::int32_t layoutDivision(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y,
                              std::int32_t width, block& b, std::int32_t& runCursor);
  std::int32_t layoutLayer(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y,
                           std::int32_t width, block& b, std::int32_t& runCursor);
  // Tables and paragraph boxes (table_layout.cpp).
  std::int32_t layoutTable(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y,
                           std::int32_t width, block& b, std::int32_t& runCursor);
  void expandSpans(block& table);
  // Moves a block, its descendants, their lines and segments.
  void moveBlock(block& b, std::int32_t dx, std::int32_t dy);

  // ------------------------------------------------------------ fonts, colours, painting
  FX::FXFont* fontOf(const textstyle& style);
  FX::FXColor textColorOf(const textstyle& style, const block& b) const;
  FX::FXColor backColorOf(const textstyle& style, const block& b) const;
  void setTextColor(FX::FXStockColor color);
  void setBackColor(FX::FXStockColor color);
  FX::FXStockColor defaultTextColor() const { return textColor_; }
  FX::FXStockColor linkColor() const { return linkColor_; }
  FX::FXStockColor disabledLinkColor() const { return disabledLinkColor_; }
  FX::FXStockColor defaultBackColor() const { return backColor_; }
  bool plainTheme() const;
  void setViewRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height);
  void setMargins(std::int32_t left, std::int32_t right, std::int32_t top, std::int32_t bottom);
  void setOrigin(std::int32_t x, std::int32_t y) { originX_ = x, originY_ = y; }
  FX::FXImage* watermark() const { return watermark2_ ? watermark2_ : watermark_; }
  void setWatermark(FX::FXImage* image);
  // The selection highlight of one line (hit testing and selection, hittest.cpp).
  void paintSelection(const line& l, FX::FXDC& dc);

  // ------------------------------------------------------------ plain text, selection (hittest.cpp)
  FX::FXWString plainText(std::int32_t start, std::int32_t end);
  FX::FXWString selectedText() { return plainText(selStart_, selEnd_); }
  FX::FXWString allText() { return plainText(root_.textStart, root_.textEnd); }
  void recalc();

  // ------------------------------------------------------------ hit testing, links, focus (hittest.cpp)
  std::int32_t segmentAt(std::int32_t x, std::int32_t y) const;
  block* blockAt(std::int32_t x, std::int32_t y);
  std::int32_t runKeyOfSegment(std::int32_t segment) const;
  const textstyle* styleAt(std::int32_t x, std::int32_t y) const;
  block* anchorBlockAt(std::int32_t x, std::int32_t y);
  const textstyle* linkStyleAt(std::int32_t x, std::int32_t y);
  const tooltip* tooltipAt(std::int32_t x, std::int32_t y);
  std::int32_t positionAt(std::int32_t x, std::int32_t y);
  std::int32_t positionInSegment(std::int32_t x, std::int32_t segment);
  std::pair<std::int32_t, std::int32_t> caretPoint(std::int32_t position, std::uint32_t flags) const;
  std::pair<std::int32_t, std::int32_t> segmentRangeAt(std::int32_t x, std::int32_t y);
  void setCaret(std::int32_t x, std::int32_t y);
  void selectWord(std::int32_t x, std::int32_t y);
  void selectBlock(std::int32_t x, std::int32_t y);
  void extendSelection(std::int32_t x, std::int32_t y);
  void selectAll();
  void clearSelection();
  bool hasSelection() const { return selStart_ != selEnd_; }
  bool hover(std::int32_t x, std::int32_t y);
  void setHot(block* b);
  void clearHot();
  void markHot(block* b, bool on);
  void invalidateBlock(block* b);
  block* focusNext(std::int32_t direction);
  bool focusEntry(std::int32_t direction, std::int32_t index);
  block* moveFocus(std::int32_t direction, std::int32_t count);
  block* nearestInDirection(block* b, std::int32_t direction, std::int32_t least);
  bool focusRect(FX::FXRectangle& out);
  bool linkRect(const linkentry& entry, FX::FXRectangle& out);
  const linkentry* linkByBlockId(std::int32_t id) const;
  const anchorentry* anchorByName(const FX::FXWString& name) const;
  bool makeVisibleRect(FX::FXRectangle& out) const;
  block* hotBlock() const { return hotBlock_; }
  const linkentry* focusedLink() const { return focusedLink_; }
  // The bounding rectangle of the laid-out text of a range.
  FX::FXRectangle rangeRect(std::int32_t start, std::int32_t end) const;

 private:
  const textstyle* searchStyleAt(std::int32_t x, std::int32_t y, std::uint32_t first, std::uint32_t second);
  void repaintOwner();
  void invalidateLinkText(std::int32_t linkIndex);
  void endLinkHover();
  std::int32_t linkEntryOfBlock(std::int32_t id) const;
  std::int32_t currentLinkEntry() const;
  FX::FXRectangle referenceRect(block* b);
  void gatherText(const block& b, std::int32_t start, std::int32_t end, FX::FXWString& out) const;

 public:
  // ------------------------------------------------------------ printing (print.cpp)
  // Prints page by page on a printer device context (page_ below holds the
  // page being printed); pagesPrinted_ counts the pages of the last print.
  void print(FX::FXDCPrintExt& dc);
  std::int32_t pagesPrinted_ = 0;

  // ------------------------------------------------------------ model access
  const FX::FXWString& text() const { return text_; }
  block& root() { return root_; }
  const block& root() const { return root_; }
  block* currentBlock() const { return current_; }
  textstyle& currentStyle() { return style_; }
  const std::map<std::int32_t, textstyle>& runs() const { return runs_; }
  std::vector<segment>& segments() { return segments_; }
  const std::vector<segment>& segments() const { return segments_; }
  std::vector<line>& lines() { return lines_; }
  const std::vector<line>& lines() const { return lines_; }
  std::vector<line>& previousLines() { return previousLines_; }
  std::vector<linkentry>& links() { return links_; }
  const std::vector<linkentry>& links() const { return links_; }
  std::vector<anchorentry>& anchors() { return anchors_; }
  const std::vector<anchorentry>& anchors() const { return anchors_; }
  const std::map<FX::FXWString, std::unique_ptr<tooltip>>& tooltips() const { return tooltips_; }
  const std::map<std::int32_t, std::unique_ptr<primitive>>& objects() const { return objects_; }
  const std::map<FX::FXWString, styledef>& namedStyles() const { return styles_; }
  std::int32_t blockCounter() const { return blockCounter_; }
  std::int32_t hardLineCount() const { return hardLines_; }
  std::int32_t lineCount() const { return lineCount_; }
  std::uint32_t hotkey() const { return hotkey_; }
  void setHotkey(std::uint32_t key) { hotkey_ = key; }
  std::int32_t& binaryIconMode() { return binaryIconMode_; }
  void setMakeVisible(block* b) {
    if (!firstVisible_) firstVisible_ = b;
    lastVisible_ = b;
  }
  FX::FXRegion& updateRegion() { return *updateRegion_; }

  // Selection, hover and focus state (hit testing and the view use these).
  std::int32_t selStart_ = 0, selEnd_ = 0, selAnchor_ = 0;
  const linkentry* focusedLink_ = nullptr;
  std::int32_t hoveredLink_ = -1;
  block* hoveredBlock_ = nullptr;
  block* hotBlock_ = nullptr;
  block* previousHot_ = nullptr;
  block* firstVisible_ = nullptr;
  block* lastVisible_ = nullptr;
  std::int32_t scrollX_ = 0, scrollY_ = 0;
  std::int32_t viewLeft_ = 0, viewTop_ = 0, viewWidth_ = 0, viewHeight_ = 0;
  std::int32_t marginLeft_ = 0, marginRight_ = 0, marginTop_ = 0, marginBottom_ = 0;
  std::int32_t originX_ = 0, originY_ = 0;
  std::int32_t wmX_ = 0, wmY_ = 0, wmW_ = 0, wmH_ = 0;  // watermark rectangle
  // Painting: device = layout coordinates + this offset (the owner sets it for
  // its origin, margins and scrolling; blocks fixed on an axis add the scroll
  // offset back on it).
  std::int32_t paintX_ = 0, paintY_ = 0;
  void setPaintOffset(std::int32_t x, std::int32_t y) { paintX_ = x, paintY_ = y; }
  // The page while printing (paint flag 0x10): lines cut by its bottom are held
  // back; carry is minus the part of the last such line that lay on the page.
  struct pagerecord {
    std::int32_t top = 0, bottom = 0x7FFFFFFF, carry = 0;
  } page_;

 protected:
  // Painting (paint.cpp).
  void paintBlock(block& b, FX::FXRegion& region, FX::FXDC& dc, const FX::FXRectangle& rect, std::uint32_t flags);
  void paintBlockBackground(block& b, FX::FXDC& dc, FX::FXRegion& region, FX::FXRegion& clip, std::uint32_t flags,
                            bool setColors, std::uint32_t fixed);
  void gradientFill(block& b, FX::FXDC& dc, const FX::FXRectangle& rect, FX::FXColor start, FX::FXColor end);
  void paintLines(block& b, std::int32_t first, std::int32_t end, std::int32_t& runCursor, FX::FXDC& dc,
                  const FX::FXRectangle& rect, std::uint32_t flags, FX::FXRegion& region);

 private:
  void init(bool justify);
  // Measures every segment when the text changed (or when forced).
  void ensureMeasured(bool force);
  std::int32_t measureText(FX::FXFont* font, const char16_t* text, std::int32_t length);
  void layoutChildren(std::int32_t& right, std::int32_t& right2, std::int32_t x, std::int32_t y, block& b,
                      std::int32_t& runCursor);
  void alignVertically(block& b);
  void extraHeight(block& cell, std::int32_t amount, bool given);
  void columnFlow(block& b);
  void alignNestedTables(block& b);
  void growRects(block& b);
  void placeBackgrounds(block& b);
  void placeObjects();
  void emptyHidden(block& b, bool hidden);

  FX::FXWindow* owner_ = nullptr;
  FX::FXApp* app_ = nullptr;
  std::uint32_t state_ = 2;  // 1 created, 2 needs measuring
  FX::FXFont* fonts_[3] = {nullptr, nullptr, nullptr};
  FX::FXStockColor textColor_, linkColor_{0xFFC00000u}, disabledLinkColor_{0xFF808080u}, backColor_;
  std::int32_t contentWidth_ = 0, contentHeight_ = 0;
  std::int32_t minWidth_ = 0, maxWidth_ = 0;
  std::map<std::int32_t, std::int32_t> heightCache_;
  std::int32_t layoutWidth_ = 0, layoutHeight_ = 0;
  std::int32_t lineCount_ = 0, hardLines_ = 0;
  FX::FXWString text_;
  std::int32_t blockCounter_ = 0;
  std::int32_t unitWidth_ = 0, unitHeight_ = 0;
  block root_;
  textcontext rootContext_;
  std::vector<line> lines_, previousLines_;
  std::vector<segment> segments_;
  std::map<std::pair<std::int32_t, std::int32_t>, std::pair<std::int32_t, std::int32_t>> widthCache_;
  block* current_ = nullptr;
  textcontext* currentContext_ = nullptr;
  std::map<std::int32_t, textstyle> runs_;
  textstyle style_;
  std::int32_t binaryIconMode_ = 0;
  std::map<FX::FXWString, FX::FXIcon*> images_;
  std::map<std::int32_t, std::unique_ptr<primitive>> objects_;
  std::uint32_t hotkey_ = 0;
  std::vector<anchorentry> anchors_;
  std::vector<linkentry> links_;
  std::int32_t anchorCursor_ = -1, linkCursor_ = -1;
  // One entry per open link tag: its link entry, -1 for a disabled link.
  std::vector<std::int32_t> linkStack_;
  std::map<FX::FXWString, styledef> styles_;
  FX::FXImage* watermark_ = nullptr;
  FX::FXImage* watermark2_ = nullptr;
  std::unique_ptr<FX::FXRegion> updateRegion_;
  std::map<FX::FXWString, std::unique_ptr<tooltip>> tooltips_;
  std::list<std::unique_ptr<tooltip>> inlineTooltips_;
  std::map<FX::FXWString, block*> blockIds_;
  std::map<FX::FXWString, textcontext*> contextIds_;
  std::int32_t measureCount_ = 0;
  bool measuring_ = false;
  bool finishing_ = false;  // finishText closes the root too
  // The last pass still stands (same width, height, view and scroll): a pass
  // with the same inputs has nothing to do.
  bool passValid_ = false;
  std::int32_t passView_[4] = {0, 0, 0, 0};
  // Text widths by font and text: one dialog measures each word once.
  std::map<std::pair<FX::FXFont*, std::u16string>, std::int32_t> textWidths_;
};
