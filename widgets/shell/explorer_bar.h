// The explorer pane at the side of a shell window: a scrolling column of group
// boxes on a blue background. A group box has a caption header with a collapse
// button; clicking the header collapses or expands it in a 500 ms sliding,
// fading animation, and its state stays in the window settings
// ("GroupState"). FXKExplorerBarCommand is a menu command in the pane's colours.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include "platform/fox/fx_window_settings.h"
#include "platform/fox/fxwstring.h"

class FXKExplorerBar : public FX::FXScrollArea {
  FXDECLARE(FXKExplorerBar)

 public:
  // The query a group box asks its parent while it draws.
  enum { ID_ANIMATING = 25 };
  static constexpr FX::FXColor kBackColor = 0xFFDF8D6F;

  FXKExplorerBar(FX::FXComposite* parent, FX::FXuint options);

  void layout() override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  FX::FXint getHeightForWidth(FX::FXint width) override;
  FX::FXint getContentWidth() override;
  FX::FXint getContentHeight() override;
  void moveContents(FX::FXint x, FX::FXint y) override;

  bool isChildAnimating() const { return animating_; }
  FX::FXint marginTop = 10, marginBottom = 10, marginLeft = 10, marginRight = 10, spacing = 10;

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onChildCollapsing(FX::FXObject*, FX::FXSelector, void*);
  long onChildDone(FX::FXObject*, FX::FXSelector, void*);
  long onQueryAnimating(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKExplorerBar() = default;

 private:
  // The children the bar arranges: shown ones, not its scroll bars or corner.
  bool arranged(FX::FXWindow* child) const;
  void placeChildren();
  // FOX 1.6's flag 0x40 is its own, so the animation mark is kept here.
  bool animating_ = false;
};

class FXKGroupBox : public FX::FXPacker {
  FXDECLARE(FXKGroupBox)

 public:
  enum : FX::FXuint { STATE_HOT = 0x2, STATE_PRESSED = 0x4, STATE_COLLAPSED = 0x8 };
  // Shows itself only while one of its children is shown.
  enum : FX::FXuint { GROUPBOX_AUTOHIDE = 0x10000 };
  // The command each child is sent when the box collapses (data 0) or
  // expands (data 1).
  enum { ID_EXPANDED_CHANGED = 61 };
  static constexpr FX::FXint kHeaderHeight = 21;
  static constexpr FX::FXint kMinimumWidth = 200;
  static constexpr FX::FXuint kAnimationMs = 500;

  FXKGroupBox(FX::FXComposite* parent, const FXWString& title, FX::FXuint options = 0, FX::FXint pl = 8,
              FX::FXint pr = 8, FX::FXint pt = 25, FX::FXint pb = 4, FX::FXint hs = 4, FX::FXint vs = 4);
  ~FXKGroupBox() override;

  void create() override;
  void destroy() override;
  void layout() override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  FX::FXint getHeightForWidth(FX::FXint width) override;
  bool isComposite() const override;
  virtual void writeSettings();
  virtual bool readSettings();
  virtual void invalidateHeader();
  virtual void setState(FX::FXuint state);

  FX::FXuint getState() const { return state_; }
  bool isAnimating() const { return animating_; }
  void setTitle(const FXWString& title);
  const FXWString& getTitle() const { return title_; }
  FX::FXFont* getTitleFont() const { return titleFont_; }
  // The settings store the box reads and writes ("GroupState"); by default
  // the application's, under the box's own section.
  FX::FXWindowSettings settings() const;
  void setSettingsSection(const FX::FXString& section) { section_ = section; }

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onMotion(FX::FXObject*, FX::FXSelector, void*);
  long onLeave(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnPress(FX::FXObject*, FX::FXSelector, void*);
  long onLeftBtnRelease(FX::FXObject*, FX::FXSelector, void*);
  long onSettingsChanged(FX::FXObject*, FX::FXSelector, void*);
  long onUpdate(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKGroupBox();
  void animate();
  void paintPlain(FX::FXDC& dc, const FX::FXRectangle& dirty);
  void paint24(FX::FXDC& dc, const FX::FXRectangle& dirty);
  void drawTitle(FX::FXDC& dc, bool background);
  void dropCaches();

 private:
  FXWString title_;
  FX::FXFont* titleFont_ = nullptr;
  FX::FXColor titleBackColor_ = 0xFFFFFFFF;
  FX::FXImage* headerCache_ = nullptr;
  FX::FXImage* bodyCache_ = nullptr;
  FX::FXuint state_ = 0;
  FX::FXString section_;
  bool animating_ = false;
};

class FXKExplorerBarCommand : public FX::FXMenuCommand {
  FXDECLARE(FXKExplorerBarCommand)

 public:
  // Window flag of a command that the update pass leaves alone (FOX 1.6
  // leaves the bit free).
  static constexpr FX::FXuint FLAG_NO_REFRESH = 0x10000000;
  // Option that keeps the back colour while the command is active.
  static constexpr FX::FXuint OPTION_NO_ACTIVE_BACK = 0x8000000;

  FXKExplorerBarCommand(FX::FXComposite* parent, const FX::FXString& text, FX::FXIcon* icon = nullptr,
                        FX::FXObject* target = nullptr, FX::FXSelector message = 0, FX::FXuint options = 0)
      : FX::FXMenuCommand(parent, text, icon, target, message, options) {}

  bool canFocus() const override { return true; }
  // Asks the target for the command's state, unless FLAG_NO_REFRESH is set;
  // the GUI update pass goes the same way.
  void refresh();

  // The back colour it paints with now: the selection colour while active.
  FX::FXColor currentBackColor() const;

  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onUpdate(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKExplorerBarCommand() = default;
};
