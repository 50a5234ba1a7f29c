// The top area of the explorer layout: a packer that arranges its children
// in rows, each row begun by a toolbar tab (or by the first child) and
// holding the children up to the next row start.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <fx.h>

#include <vector>

class FXKExplorerPacker : public FX::FXPacker {
  FXDECLARE(FXKExplorerPacker)

 public:
  enum { ID_TOOLBAR_TAB = 62 };

  FXKExplorerPacker(FX::FXComposite* parent, FX::FXuint options = 0, FX::FXint x = 0, FX::FXint y = 0,
                    FX::FXint w = 0, FX::FXint h = 0, FX::FXint pl = 0, FX::FXint pr = 0, FX::FXint pt = 0,
                    FX::FXint pb = 0, FX::FXint hs = 0, FX::FXint vs = 0);
  ~FXKExplorerPacker() override;

  void layout() override;
  FX::FXint getDefaultWidth() override;
  FX::FXint getDefaultHeight() override;
  FX::FXint getHeightForWidth(FX::FXint width) override;

  // The children that begin a row, in child order.
  const std::vector<FX::FXWindow*>& rowStarts();

  // Paints the toolbar background picture behind the children on a display
  // of 24 bits or more; the plain packer's painting elsewhere.
  long onPaint(FX::FXObject*, FX::FXSelector, void*);
  long onCmdToolbarTab(FX::FXObject*, FX::FXSelector, void*);
  long onSettingsChanged(FX::FXObject*, FX::FXSelector, void*);

 protected:
  FXKExplorerPacker() = default;

 private:
  void computeRowStarts();
  bool paints24() const;
  // The background picture stretched over the packer's size, made once.
  void makeBackground();
  bool isRowStart(FX::FXWindow* child) const;

  std::vector<FX::FXWindow*> rowStarts_;
  FX::FXImage* backgroundCache_ = nullptr;
};
