// The icon list's view item: one cell per header column, each with an icon
// area, a text area and a column part that measures and draws the content
// (plain text cut into lines with "...", markup, a link, rating stars or a
// progress cell).
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "widgets/browser_view.h"

class FXKIconList;
class FXKIconItem;
class FXKTextLayout;

class FXKIconItemText {
 public:
  KV_SMALL_POOL_OPERATORS
  enum : FX::FXuint { FLAG_HOVER = 0x1 };
  virtual ~FXKIconItemText() = default;
  virtual void setText(const FXWString& text) = 0;
  virtual FXWString getText() const = 0;
  virtual FX::FXint getHeightForWidth(FX::FXFont* font, FX::FXint width) { return getHeight(font); }
  virtual FX::FXint getHeight(FX::FXFont* font) = 0;
  virtual FX::FXint getWidth(FX::FXFont* font) = 0;
  // Draws into the rectangle (device coordinates); colours come from the dc.
  virtual void draw(FX::FXDC& dc, FX::FXFont* font, const FX::FXRectangle& rect, bool showAll, bool transparent,
                    bool underline, int style) = 0;
  // Answers the width of the widest line.
  virtual FX::FXint breakLines(FX::FXFont* font, FX::FXint maxWidth, FX::FXint maxLines, bool singleLine) = 0;
  virtual bool isEmpty() const = 0;
  virtual FX::FXint getLineCount() const = 0;
  virtual void create() {}
  virtual bool isFormatted() const { return false; }
  virtual bool isLink() const { return false; }
  virtual bool handlesMouse() const { return false; }
  virtual void onEnter(FX::FXint, FX::FXint) { flags |= FLAG_HOVER; }
  virtual void onLeave(FX::FXint, FX::FXint) { flags &= ~FLAG_HOVER; }
  virtual void onMotion(FX::FXint, FX::FXint) { flags |= FLAG_HOVER; }
  virtual void onPress(FX::FXint, FX::FXint) {}
  virtual void onRelease(FX::FXint, FX::FXint) {}

  FX::FXuint flags = 0;
};

class FXKIconItemTextSimple : public FXKIconItemText {
 public:
  enum : FX::FXuint { FLAG_ELLIPSIS = 0x1, FLAG_MEASURED = 0x2 };
  struct Line {
    FX::FXint start, end, width;
  };
  void setText(const FXWString& text) override;
  FXWString getText() const override { return text_; }
  FX::FXint getHeight(FX::FXFont* font) override;
  FX::FXint getWidth(FX::FXFont* font) override;
  void draw(FX::FXDC& dc, FX::FXFont* font, const FX::FXRectangle& rect, bool showAll, bool transparent,
            bool underline, int style) override;
  FX::FXint breakLines(FX::FXFont* font, FX::FXint maxWidth, FX::FXint maxLines, bool singleLine) override;
  bool isEmpty() const override { return text_.empty(); }
  FX::FXint getLineCount() const override { return static_cast<FX::FXint>(lines_.size()); }
  const std::vector<Line>& lines() const { return lines_; }
  // The width getWidth would give, without a part.
  static FX::FXint textWidth(FX::FXFont* font, const FXWString& text);
  const FXWString& text() const { return text_; }
  // The width of the whole text, measured elsewhere in the font it is drawn in.
  void setMeasuredWidth(FX::FXint width) { width_ = width; }
  FX::FXuint lineFlags() const { return lineFlags_; }

  // Width of the characters [from, to) of the text.
  FX::FXint measure(FX::FXFont* font, FX::FXint from, FX::FXint to) const;
  // The longest prefix of [start, start + count) narrower than maxWidth (less
  // "..." with the ellipsis); its width comes back through `width`.
  FX::FXint fitPrefix(FX::FXFont* font, FX::FXint start, FX::FXint count, FX::FXint& width, FX::FXint maxWidth,
                      bool ellipsis) const;
  FX::FXint findLineEnd(FX::FXFont* font, FX::FXint start, FX::FXint count, FX::FXint maxWidth) const;

 protected:
  FXWString text_;
  std::string utf8_;
  std::vector<FX::FXint> offsets_;  // utf8 offset of every utf16 position (and the end); empty for ASCII
  FX::FXint at(FX::FXint i) const { return offsets_.empty() ? i : offsets_[i]; }
  std::vector<Line> lines_;
  FX::FXuint lineFlags_ = 0;
  FX::FXint width_ = -1;  // of the whole text, measured once
};

class FXKIconItemProgress : public FXKIconItemTextSimple {
 public:
  FX::FXint getWidth(FX::FXFont* font) override { return FXKIconItemTextSimple::getWidth(font) + 20; }
  FX::FXint breakLines(FX::FXFont* font, FX::FXint maxWidth, FX::FXint maxLines, bool singleLine) override {
    return FXKIconItemTextSimple::breakLines(font, maxWidth - 20, maxLines, singleLine);
  }
  void draw(FX::FXDC& dc, FX::FXFont* font, const FX::FXRectangle& rect, bool showAll, bool transparent,
            bool underline, int style) override;
};

class FXKIconItemRating : public FXKIconItemText {
 public:
  FXKIconItemRating(FXKIconList* list, FXKIconItem* item, FX::FXint key) : list_(list), item_(item), key_(key) {}
  void setText(const FXWString& text) override;
  FXWString getText() const override { return text_; }
  FX::FXint getHeight(FX::FXFont*) override { return 13; }
  FX::FXint getWidth(FX::FXFont*) override { return 87; }
  void draw(FX::FXDC& dc, FX::FXFont* font, const FX::FXRectangle& rect, bool showAll, bool transparent,
            bool underline, int style) override;
  FX::FXint breakLines(FX::FXFont*, FX::FXint, FX::FXint, bool) override { return 87; }
  bool isEmpty() const override { return false; }
  FX::FXint getLineCount() const override { return 1; }
  bool handlesMouse() const override { return true; }
  void onLeave(FX::FXint, FX::FXint) override;
  void onMotion(FX::FXint x, FX::FXint y) override;
  void onPress(FX::FXint x, FX::FXint y) override;
  FX::FXint value() const { return value_; }
  FX::FXint hoverValue() const { return hover_; }
  // The star under x (relative to the part), 0 for none.
  static FX::FXint starAt(FX::FXint x);

 private:
  FXKIconList* list_;
  FXKIconItem* item_;
  FX::FXint key_;
  FX::FXint value_ = 0, hover_ = 0;
  FXWString text_;
};

class FXKIconItemFormatted : public FXKIconItemText {
 public:
  FXKIconItemFormatted(FXKIconList* list, FXKIconItem* item);
  ~FXKIconItemFormatted() override;
  void setText(const FXWString& text) override;
  FXWString getText() const override { return text_; }
  FX::FXint getHeightForWidth(FX::FXFont* font, FX::FXint width) override;
  FX::FXint getHeight(FX::FXFont* font) override;
  FX::FXint getWidth(FX::FXFont* font) override;
  void draw(FX::FXDC& dc, FX::FXFont* font, const FX::FXRectangle& rect, bool showAll, bool transparent,
            bool underline, int style) override;
  FX::FXint breakLines(FX::FXFont* font, FX::FXint maxWidth, FX::FXint maxLines, bool singleLine) override;
  bool isEmpty() const override;
  FX::FXint getLineCount() const override;
  void create() override;
  bool isFormatted() const override { return true; }
  FXKTextLayout* layout() const { return layout_.get(); }

 protected:
  FXKTextLayout& checked() const;
  std::unique_ptr<FXKTextLayout> layout_;
  FXWString text_;
  FXKIconItem* item_;
};

class FXKIconItemFormattedLink : public FXKIconItemFormatted {
 public:
  using FXKIconItemFormatted::FXKIconItemFormatted;
  void setText(const FXWString& text) override;
  FXWString getText() const override { return plain_; }
  bool isFormatted() const override { return false; }
  bool isLink() const override { return true; }

 private:
  FXWString plain_;
};

// A cell lives inside its item. A plain text cell keeps its text and width
// here and makes its part (lines, ellipsis) only when it is laid out or
// drawn, so rows that are never shown cost one string each.
struct FXKIconItemCell {
  FX::FXRectangle icon{0, 0, 0, 0};
  FX::FXRectangle text{0, 0, 0, 0};
  bool plainKind = false;
  widgets::PoolText plain;  // the text of a plain cell
  FX::FXint plainWidth = -1;  // its width in plainFont, measured once
  FX::FXFont* plainFont = nullptr;
  std::unique_ptr<FXKIconItemText> part;
  // From the pool as the cells are: most rows have one icon triple.
  std::vector<std::array<FX::FXIcon*, 3>, widgets::PoolAllocator<std::array<FX::FXIcon*, 3>>> icons;
  FX::FXIcon* iconAt(int size) const { return icons.empty() ? nullptr : icons[0][size]; }
  bool hasText() const { return plainKind ? !plain.empty() : part && !part->isEmpty(); }
};

class FXKIconItem : public FXKBrowserViewItem {
  FXDECLARE(FXKIconItem)

 public:
  FXKIconItem() = default;
  FXKIconItem(FXKBrowserViewGroup* group, FXKBrowserItem* item);
  ~FXKIconItem() override;

  void createResources() override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight(FX::FXint w) override;
  void layout() override;
  void onEnter(FX::FXint px, FX::FXint py) override;
  void onLeave(FX::FXint px, FX::FXint py) override;
  void onMotion(FX::FXint px, FX::FXint py) override;
  void onPress(FX::FXint px, FX::FXint py) override;
  void onRelease(FX::FXint px, FX::FXint py) override;
  void paint(FXKPaintDC& dc, const FX::FXRectangle& rect, FX::FXRegion& region) override;

  virtual FXKIconItemCell* ensureCell(FX::FXint key);
  virtual void invalidateCell(FX::FXint key);
  virtual void setColumnText(FX::FXint key, const FXWString& text);
  virtual void setColumnIcon(FX::FXint key, FX::FXint variant, FX::FXIcon* icon, FX::FXint sizeIndex);
  virtual FX::FXint getCellWidth(FX::FXint key);
  virtual FX::FXRectangle getCellTextRect(FX::FXint key);
  virtual FX::FXint getIndent() { return 0; }
  virtual bool hasNoHighlight() const { return noHighlight_; }
  virtual void setNoHighlight(bool on) { noHighlight_ = on; }
  virtual bool hasHoverFrame() const { return hoverFrame_; }
  virtual void setHoverFrame(bool on) { hoverFrame_ = on; }
  virtual void drawCell(FXKPaintDC& dc, FX::FXint key, const FX::FXRectangle& clip, int mode);
  virtual void layoutCell(FX::FXint key, const FX::FXRectangle& r);
  virtual bool usesMultiLineText(FXKIconList* list) const;

  FXWString getColumnText(FX::FXint key) const;
  // The plain text of the cell without a copy; null for other parts.
  const widgets::PoolText* plainText(FX::FXint key) const {
    const FXKIconItemCell* c = cell(key);
    return c && c->plainKind ? &c->plain : nullptr;
  }
  FX::FXIcon* getColumnIcon(FX::FXint key) const;
  // Valid until the item gets another cell.
  FXKIconItemCell* cell(FX::FXint key) const {
    for (auto& [k, c] : cells_)
      if (k == key) return const_cast<FXKIconItemCell*>(&c);
    return nullptr;
  }
  // The cell's part, made now for a plain cell that has none yet.
  FXKIconItemText* partOf(FXKIconItemCell* c);
  // The width of a plain cell's text, measured once per font.
  FX::FXint plainWidth(FXKIconItemCell* c, FX::FXFont* font);
  FXKIconList* list() const;
  // The layout of the cells, when it is pending (the list defers it until
  // the item is measured or painted).
  void layoutIfNeeded() {
    if (flags & FLAG_LAYOUT) layout();
  }

 private:
  FXKIconItemText* makePart(FX::FXint key, FX::FXuint columnFlags);
  FX::FXuint columnFlags(FX::FXint key) const;
  bool isCurrentAndSelected();
  FX::FXint measureHeight(FX::FXint w, FXKIconItemCell* c, FX::FXFont* font, int style);
  void paintRow(FXKPaintDC& dc, const FX::FXRectangle& rect);

  // Few per item: kept in key order in a vector, not a tree of nodes.
  std::vector<std::pair<FX::FXint, FXKIconItemCell>, widgets::PoolAllocator<std::pair<FX::FXint, FXKIconItemCell>>>
      cells_;
  // The last height asked for: a relayout of the group measures only the
  // items whose content or width changed.
  FX::FXint heightFor_ = -1, heightStyle_ = -1, height_ = 0;
  FX::FXFont* heightFont_ = nullptr;
  const FX::FXImage* heightFrame_ = nullptr;
  bool noHighlight_ = false;
  bool hoverFrame_ = true;
  bool mouse_ = false;
};

// The icon item behind a node, or null.
inline FXKIconItem* asIconItem(FXKTerminal* node) {
  return node && (node->flags & FXKTerminal::FLAG_ICON_ITEM) ? static_cast<FXKIconItem*>(node) : nullptr;
}
