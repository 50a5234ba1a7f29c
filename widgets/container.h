// Light-weight nodes drawn inside one scroll window: terminals (leaves with a
// rectangle and state flags) and containers (terminals with ordered
// children). The window lays the tree out, paints it clipped to the damage,
// finds the node under the pointer and tracks it.
//
// FOX 1.6's device contexts cannot be shifted, so painting carries the device
// position of the node's origin in FXKPaintDC.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <climits>
#include <vector>

#include <fx.h>

#include "platform/fox/fx_messages.h"
#include "widgets/small_pool.h"

class FXKContainer;
class FXKContainerWindow;

struct FXKPaintDC {
  FX::FXDC* dc;
  FX::FXint ox = 0, oy = 0;  // device position of the node's (0, 0)
  void fillRectangle(FX::FXint x, FX::FXint y, FX::FXint w, FX::FXint h) { dc->fillRectangle(ox + x, oy + y, w, h); }
  void drawRectangle(FX::FXint x, FX::FXint y, FX::FXint w, FX::FXint h) { dc->drawRectangle(ox + x, oy + y, w, h); }
  void drawLine(FX::FXint x1, FX::FXint y1, FX::FXint x2, FX::FXint y2) {
    dc->drawLine(ox + x1, oy + y1, ox + x2, oy + y2);
  }
  // The region in node coordinates.
  void setClipRegion(const FX::FXRegion& region) {
    FX::FXRegion shifted(region);
    shifted.offset(ox, oy);
    dc->setClipRegion(shifted);
  }
};

// The record of a directional neighbour search.
struct FXKNeighbourSearch {
  FX::FXint crossStart, crossEnd;  // of the reference
  FX::FXint mainStart, mainEnd;
  FX::FXint bandStart = INT_MIN, bandEnd = INT_MAX;
  FX::FXint bestDistance = INT_MAX, bestCross = INT_MAX;
};

class FXKTerminal : public FX::FXObject {
  FXDECLARE(FXKTerminal)

 public:
  KV_SMALL_POOL_OPERATORS
  enum : FX::FXuint {
    FLAG_MARKED = 0x1,
    FLAG_LAYOUT = 0x2,
    FLAG_CREATED = 0x20,
    FLAG_OWN = 0x80,
    FLAG_HOVER = 0x100,
    FLAG_PRESSED = 0x200,
    FLAG_ICON_ITEM = 0x400,  // an FXKIconItem: found without a dynamic_cast
  };

  FXKTerminal() = default;
  explicit FXKTerminal(FXKContainer* parent);
  // Appended to the view's root (reference null) or right after `after`.
  FXKTerminal(FXKContainerWindow* window, FXKTerminal* after);
  ~FXKTerminal() override;

  FXKContainer* parent = nullptr;
  FX::FXint x = 0, y = 0, width = 0, height = 0;
  FX::FXuint flags = FLAG_LAYOUT;

  virtual FXKContainerWindow* getWindow() const;
  virtual FXKTerminal* hitTest(FX::FXint px, FX::FXint py) { return nullptr; }
  virtual void mark();
  virtual void unmark();
  virtual void createResources() { flags |= FLAG_CREATED; }
  virtual void destroyResources() {}
  virtual FX::FXint getDefaultWidth() { return 1; }
  virtual FX::FXint getDefaultHeight(FX::FXint w) { return 1; }
  virtual void position(FX::FXint nx, FX::FXint ny, FX::FXint w, FX::FXint h);
  virtual void move(FX::FXint dx, FX::FXint dy);
  virtual void requestLayout();
  virtual void layout() {}
  virtual void onEnter(FX::FXint px, FX::FXint py) { flags |= FLAG_HOVER; }
  virtual void onLeave(FX::FXint px, FX::FXint py) { flags &= ~FLAG_HOVER; }
  virtual void onMotion(FX::FXint px, FX::FXint py) { flags |= FLAG_HOVER; }
  virtual void onPress(FX::FXint px, FX::FXint py) { flags |= FLAG_PRESSED; }
  virtual void onRelease(FX::FXint px, FX::FXint py) { flags &= ~FLAG_PRESSED; }
  virtual bool isItem() const { return true; }
  virtual FX::FXPoint toWindow(FX::FXPoint p) const;
  virtual FX::FXRectangle toWindow(const FX::FXRectangle& r) const;
  virtual FX::FXPoint fromWindow(FX::FXPoint p) const;
  virtual FX::FXRectangle getOrientedRect(const FX::FXRectangle& r, int direction) const;
  virtual bool scoreNeighbour(FXKNeighbourSearch& record, int direction, int mode) const;
  virtual bool precedes(const FXKTerminal* other) const { return this < other; }
  virtual bool follows(const FXKTerminal* other) const { return this > other; }
  virtual void paint(FXKPaintDC& dc, const FX::FXRectangle& rect, FX::FXRegion& region);
  virtual void paintWindowBackground(FXKPaintDC& dc, const FX::FXRectangle& rect);

  // Repaints the terminal-local rectangle.
  void invalidate(const FX::FXRectangle& r);
  void invalidate() { invalidate(FX::FXRectangle(0, 0, width, height)); }
  void reparent(FXKContainer* container);
  FX::FXRectangle area() const { return FX::FXRectangle(0, 0, width, height); }
};

class FXKContainer : public FXKTerminal {
  FXDECLARE(FXKContainer)

 public:
  FXKContainer() = default;
  explicit FXKContainer(FXKContainer* parent) : FXKTerminal(parent) {}
  FXKContainer(FXKContainerWindow* window, FXKTerminal* after);
  ~FXKContainer() override;

  std::vector<FXKTerminal*> children;  // owned; painting and hit-testing order
  FXKContainerWindow* window = nullptr;

  FXKContainerWindow* getWindow() const override;
  FXKTerminal* hitTest(FX::FXint px, FX::FXint py) override;
  void createResources() override;
  void destroyResources() override;
  void requestLayout() override;
  bool isItem() const override { return false; }
  void paint(FXKPaintDC& dc, const FX::FXRectangle& rect, FX::FXRegion& region) override;
  virtual void paintContainerBackground(FXKPaintDC& dc, const FX::FXRectangle& rect);
  virtual void moveChildren(FX::FXint dx, FX::FXint dy);

  void appendChild(FXKTerminal* terminal);
  void insertChildAfter(FXKTerminal* reference, FXKTerminal* terminal);
  void removeChild(FXKTerminal* terminal);
  void clearChildren();
  // Unlinks without repainting or asking for layout (destruction of many).
  void unlink(FXKTerminal* terminal);
};

class FXKContainerWindow : public FX::FXScrollArea {
  FXDECLARE(FXKContainerWindow)

 public:
  FXKContainerWindow(FX::FXComposite* parent, FX::FXuint options);
  ~FXKContainerWindow() override;

  FXKContainer root;
  FXKTerminal* tracked = nullptr;

  virtual FXKTerminal* terminalAt(FX::FXint px, FX::FXint py);
  virtual FX::FXPoint contentToWindow(FX::FXPoint p) const { return FX::FXPoint(p.x + pos_x, p.y + pos_y); }
  virtual FX::FXPoint windowToContent(FX::FXPoint p) const { return FX::FXPoint(p.x - pos_x, p.y - pos_y); }
  virtual bool hasBackground() const { return false; }
  virtual void paintBackground(FXKPaintDC& dc, const FX::FXRectangle& rect);

  void create() override;
  void destroy() override;
  void layout() override;
  FX::FXint getDefaultWidth() override { return root.getDefaultWidth(); }
  FX::FXint getDefaultHeight() override { return root.getDefaultHeight(width); }
  FX::FXint getContentWidth() override { return root.width; }
  FX::FXint getContentHeight() override { return root.height; }
  // Paints the window-coordinate rectangle on any device (the tests draw on
  // off-screen images).
  void paintInto(FX::FXDC& dc, const FX::FXRectangle& damage);
  // A terminal being destroyed stops being tracked.
  void forget(FXKTerminal* terminal) {
    if (tracked == terminal) tracked = nullptr;
  }

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onSettingsChanged(FX::FXObject*, FX::FXSelector, void*);
  long onMotion(FX::FXObject*, FX::FXSelector, void*);
  long onEnter(FX::FXObject*, FX::FXSelector, void*);
  long onLeave(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnRelease(FX::FXObject*, FX::FXSelector, void*);

  // Pointer tracking alone, in window coordinates.
  void trackMotion(FX::FXint px, FX::FXint py);
  void trackEnter(FX::FXint px, FX::FXint py);
  void trackLeave();
  void trackPress(FX::FXint px, FX::FXint py);
  void trackRelease(FX::FXint px, FX::FXint py);

 protected:
  FXKContainerWindow() = default;
};
