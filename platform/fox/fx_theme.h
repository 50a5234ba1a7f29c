// The toolkit build's theme on FOX 1.6 over X11: the kind and plain-mode
// queries, frame margins, and the painters that draw with the device context's
// colours (gradients between foreground and background, tiled images, images
// stretched with fixed borders). Includes FOX: GUI code only.
#pragma once

#include <fx.h>

namespace FX {

class FXTheme {
 public:
  enum Kind { KIND_CLASSIC = 0, KIND_STYLED = 1 };
  // GradientFill modes: a horizontal gradient runs left to right; mode 2
  // runs top to bottom.
  enum { GRADIENT_HORIZONTAL = 0, GRADIENT_VERTICAL = 2 };
  // DrawBorder flags: the four edges and the centre are drawn only when their
  // bit is set; FILL fills the target with the background colour first;
  // BLEND draws the image's transparent pixels as holes (alpha below half).
  enum {
    BORDER_LEFT = 0x1,
    BORDER_TOP = 0x2,
    BORDER_RIGHT = 0x4,
    BORDER_BOTTOM = 0x8,
    BORDER_CENTER = 0x10,
    BORDER_FILL = 0x20,
    BORDER_BLEND = 0x40,
  };

  // The queries: 1 kind, 2 the theme draws (styled), 3 plain mode.
  FXint query(FXint what) const;
  FXint kind() const { return kind_; }
  bool isPlain() const { return plain_; }
  void setKind(FXint kind) { kind_ = kind; }
  void setPlain(bool plain) { plain_ = plain; }
  void getFrameMargins(FXint& left, FXint& top, FXint& right, FXint& bottom) const;
  void setFrameMargins(FXint left, FXint top, FXint right, FXint bottom);

  // From the dc's foreground (start) to its background (end); the colour of
  // the n-th column (row) of w is start + (end - start) * n / w per channel,
  // truncated, so a part painted alone matches the whole.
  static void GradientFill(FXDC& dc, FXint x, FXint y, FXint w, FXint h, FXuint mode);
  // Fills the rectangle with copies of the image, one of them with its
  // top-left corner at (ox, oy). The image must be created.
  static void Tile(FXDC& dc, FXImage* image, FXint x, FXint y, FXint w, FXint h, FXint ox, FXint oy);
  // Draws the source part of the image into the target rectangle: corners
  // as they are, edges stretched along them, the centre stretched both ways;
  // the borders are the theme's frame margins, narrowed for small images.
  void DrawBorder(FXDC& dc, FXImage* image, FXint sx, FXint sy, FXint sw, FXint sh, FXint dx, FXint dy, FXint dw,
                  FXint dh, FXuint flags) const;

 private:
  FXint kind_ = KIND_STYLED;
  bool plain_ = false;
  FXint margins_[4] = {3, 3, 3, 3};
};

// The application's theme (FXApp::getTheme of the toolkit build): one per
// application, made on first use. KV_THEME=plain starts it in plain mode,
// KV_THEME=classic as the classic kind.
FXTheme* fxGetTheme(FXApp* app);

}  // namespace FX
