// FXKTextView: the scrolling window that shows one formatted text. It lays
// its FXKTextLayoutView out for its width, scrolls it (blocks marked fixed
// stay in place), paints it, and lets the user follow links (mouse, Tab and
// arrow keys), select and copy text, and see tooltips. Links open through
// the operating-system layer's shell execution, programs with their
// arguments as given, never through a command interpreter.
//
// Includes FOX: GUI code only.
#pragma once

#include <fx.h>

#include <cstdint>

#include "platform/fox/fxwstring.h"
#include "textlayout/layout.h"

namespace FX {
class FXDCPrintExt;
}

class FXKTextView;

// The layout of a text view: its repaint requests go to the view.
class FXKTextLayoutView : public FXKTextLayout {
 public:
  FXKTextLayoutView(FXKTextView* view, bool justify);
  // Layout coordinates: moved by the margins and the scroll position.
  void updateRect(const FX::FXRectangle& rect) override;
  FXKTextView* view() const { return view_; }

 private:
  FXKTextView* view_;
};

class FXKTextView : public FX::FXScrollArea {
  FXDECLARE(FXKTextView)

 public:
  // View options (above the scroll area's own).
  enum {
    TEXTVIEW_PARENT_BACKCOLOR = 0x100000,
    TEXTVIEW_JUSTIFY = 0x200000,
    TEXTVIEW_SELECTABLE = 0x400000,
    TEXTVIEW_ELLIPSIS = 0x800000,
    TEXTVIEW_IMMEDIATE = 0x1000000,
  };
  enum {
    ID_OPEN_LINK = 62,
    ID_COPY = 63,
    ID_COPY_ALL = 64,
    ID_SELECT_ALL = 65,
  };

  FXKTextView(FX::FXComposite* parent, FX::FXObject* target = nullptr, FX::FXSelector message = 0,
              FX::FXuint options = 0, FX::FXint x = 0, FX::FXint y = 0, FX::FXint w = 0, FX::FXint h = 0);
  ~FXKTextView() override;

  void create() override;
  void destroy() override;
  void layout() override;
  void recalc() override;
  void hide() override;
  void resize(FX::FXint w, FX::FXint h) override;
  void position(FX::FXint x, FX::FXint y, FX::FXint w, FX::FXint h) override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  bool canFocus() const override;
  FX::FXint getContentWidth() override;
  FX::FXint getContentHeight() override;
  void moveContents(FX::FXint x, FX::FXint y) override;
  void setBackColor(FX::FXColor color) override;

  bool setText(const FX::FXWString& markup);
  void setMargins(FX::FXint left, FX::FXint right, FX::FXint top, FX::FXint bottom);
  void setTextColor(FX::FXColor color);
  FXKTextLayoutView* getLayout() const { return layout_.get(); }
  const FX::FXWString& getClipboardText() const { return clipboardText_; }
  FX::FXint getLayoutWidth() const { return layoutWidth_; }
  bool horizontalShown() const { return horizontal->shown() != 0; }
  bool verticalShown() const { return vertical->shown() != 0; }

  // Paints the part `rect` (window coordinates) of the view on a device
  // context that draws as the window does (the window's own, or an image).
  void paintInto(FX::FXDC& dc, const FX::FXRectangle& rect);

  // Prints the text on a printer device context (a page already begun).
  void doPrint(FX::FXDCPrintExt& dc);

  // Own operations.
  virtual void relayout();
  virtual FX::FXint availableWidth(FX::FXint w) const;
  virtual void windowToContent(FX::FXint& x, FX::FXint& y) const;
  virtual void contentToWindow(FX::FXint& x, FX::FXint& y) const;
  virtual void makeVisible(FX::FXint x1, FX::FXint y1, FX::FXint x2, FX::FXint y2, bool addMargins);
  virtual void scrollToPoint(FX::FXint x, FX::FXint y);
  virtual bool openLink(const FX::FXWString& text);
  virtual void updateViewport();

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onMotion(FX::FXObject*, FX::FXSelector, void*);
  long onLeave(FX::FXObject*, FX::FXSelector, void*);
  long onFocusIn(FX::FXObject*, FX::FXSelector, void*);
  long onFocusOut(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnRelease(FX::FXObject*, FX::FXSelector, void*);
  long onRightBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onCmdOpenLink(FX::FXObject*, FX::FXSelector, void*);
  long onKeyPress(FX::FXObject*, FX::FXSelector, void*);
  long onKeyRelease(FX::FXObject*, FX::FXSelector, void*);
  long onQueryTip(FX::FXObject*, FX::FXSelector, void*);
  long onCmdCopy(FX::FXObject*, FX::FXSelector, void*);
  long onCmdCopyAll(FX::FXObject*, FX::FXSelector, void*);
  long onCmdSelectAll(FX::FXObject*, FX::FXSelector, void*);
  long onClipboardLost(FX::FXObject*, FX::FXSelector, void*);
  long onClipboardGained(FX::FXObject*, FX::FXSelector, void*);
  long onClipboardRequest(FX::FXObject*, FX::FXSelector, void*);
  long onSelectionLost(FX::FXObject*, FX::FXSelector, void*);
  long onSelectionGained(FX::FXObject*, FX::FXSelector, void*);
  long onSelectionRequest(FX::FXObject*, FX::FXSelector, void*);
  long onUngrabbed(FX::FXObject*, FX::FXSelector, void*);
  long onAutoScroll(FX::FXObject*, FX::FXSelector, void*);

  // How many rectangles the view was asked to repaint (hover measurements).
  std::int64_t repaintRequests() const { return repaintRequests_; }
  void countRepaint() { ++repaintRequests_; }

 protected:
  FXKTextView() = default;

 private:
  bool selecting() const;
  void updateSelectionOwner();
  long activateLink(FX::FXEvent* event, const FXKTextLayout::textstyle* style);
  bool visibleInView(const FX::FXRectangle& content) const;
  void popupContextMenu(FX::FXint rootX, FX::FXint rootY);
  void dropContextMenu();
  void textChanged();
  void setDnd(FX::FXDNDOrigin origin, FX::FXDragType type, const FX::FXWString& text);

  FX::FXint layoutWidth_ = 0;
  FX::FXint marginLeft_ = 4, marginRight_ = 4, marginTop_ = 4, marginBottom_ = 4;
  Processor::RefPtr<FXKTextLayoutView> layout_;
  FX::FXint pressState_ = 0;
  FX::FXWString clipboardText_;
  FX::FXMenuPane* contextMenu_ = nullptr;
  FX::FXuint viewState_ = 0;
  bool relayoutPending_ = false;
  std::int64_t repaintRequests_ = 0;
};
