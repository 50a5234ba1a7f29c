// A group of the icon list: a caption (text, icon, comment, expander, check
// box) over the items it arranges for the list's view style.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <map>
#include <vector>

#include "widgets/browser_view.h"

class FXKIconList;
class FXKIconItem;

class FXKIconGroup : public FXKBrowserViewGroup {
  FXDECLARE(FXKIconGroup)

 public:
  enum : FX::FXuint {
    GROUP_CHECKED = 0x2,
    GROUP_UNCHECKED = 0x4,
    GROUP_MIXED = 0x8,
    GROUP_COLLAPSED = 0x10,
    GROUP_EXPANDED = 0x20,
    GROUP_PRESSED = 0x40,
    GROUP_HOT = 0x80,
  };
  enum : FX::FXuint { FLAG_ANIMATING = 0x80 };

  FXKIconGroup() = default;
  FXKIconGroup(FXKIconList* list, FX::FXint key, FXKBrowserItem* keyItem);
  FXKIconGroup(FXKIconGroup* parentGroup, FXKIconList* list, FX::FXint key, FXKBrowserItem* keyItem);
  ~FXKIconGroup() override;

  FXKTerminal* hitTest(FX::FXint px, FX::FXint py) override;
  void createResources() override;
  FX::FXint getDefaultHeight(FX::FXint w) override;
  void requestLayout() override;
  void layout() override;
  void paint(FXKPaintDC& dc, const FX::FXRectangle& rect, FX::FXRegion& region) override;
  void paintContainerBackground(FXKPaintDC& dc, const FX::FXRectangle& rect) override;

  virtual FX::FXint getCaptionSpacing() const { return captionStyle_ ? 0 : 2; }
  virtual FX::FXint getAnimationTime() const { return 400; }
  virtual FX::FXint getColumnX(FX::FXint key);
  virtual FX::FXint getColumnWidth(FX::FXint key);
  virtual void ensureCellInItems(FX::FXint key);
  virtual void invalidateCellInItems(FX::FXint key);

  void setText(const FXWString& text);
  const FXWString& getText() const { return text_; }
  void setComment(const FXWString& text) { comment_ = text; }
  void setCaptionIcon(FX::FXIcon* icon);
  void setCaptionFont(FX::FXFont* font);
  FX::FXFont* captionFont() const;
  void setCheckState(int state);
  int getCheckState() const;
  void setExpandState(int state, bool animate);
  int getExpandState() const;
  FX::FXint hitTestCaption(FX::FXPoint p) const;
  FX::FXint getCellWidth(FX::FXint groupWidth) const;
  FX::FXint getCaptionHeight(FX::FXint width) const;
  FX::FXint getMaxItemHeight(FX::FXint width);
  FX::FXint getMaxItemWidth();
  FXKIconList* list() const;
  FXKIconGroup* parentGroup() const { return parentGroup_; }
  const std::vector<FXKIconGroup*>& subgroups() const { return subgroups_; }
  FX::FXint indent() const { return indent_; }
  FX::FXuint groupFlags() const { return groupFlags_; }
  void setGroupFlags(FX::FXuint f) { groupFlags_ = f; }
  FX::FXint captionStyle() const { return captionStyle_; }
  const FX::FXRectangle& captionRect() const { return caption_; }
  const FX::FXRectangle& checkRect() const { return check_; }
  const FX::FXRectangle& expanderRect() const { return expander_; }
  const FX::FXRectangle& textRect() const { return captionText_; }
  const FX::FXRectangle& itemsRect() const { return items_; }

  // Index of the first child whose bottom lies below y (children in rows).
  std::size_t firstChildBelow(FX::FXint y) const;

 private:
  void paintCaption(FXKPaintDC& dc, const FX::FXRectangle& rect, FX::FXuint mode);
  void paintHeaderCaption(FXKPaintDC& dc, const FX::FXRectangle& rect);
  bool rowOrdered() const;

  FXWString text_, comment_;
  FX::FXIcon* icon_ = nullptr;
  FX::FXint captionStyle_ = 0;
  std::map<int, FX::FXFont*> fonts_;
  FX::FXFont* font_ = nullptr;
  FX::FXRectangle caption_{0, 0, 0, 0}, expander_{0, 0, 0, 0}, check_{0, 0, 0, 0}, captionText_{0, 0, 0, 0},
      comment_r_{0, 0, 0, 0}, items_{0, 0, 0, 0};
  FX::FXuint groupFlags_ = 0;
  FX::FXint indent_ = 0;
  FXKIconGroup* parentGroup_ = nullptr;
  std::vector<FXKIconGroup*> subgroups_;
  std::map<FX::FXint, FX::FXint> columnOffsets_;
};
