#include "platform/fox/fx_theme.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace FX {

namespace {

FXColor mix(FXColor a, FXColor b, FXlong n, FXlong d) {
  auto channel = [&](FXint ca, FXint cb) { return static_cast<FXint>(ca + (cb - ca) * n / d); };
  return FXRGBA(channel(FXREDVAL(a), FXREDVAL(b)), channel(FXGREENVAL(a), FXGREENVAL(b)),
                channel(FXBLUEVAL(a), FXBLUEVAL(b)), 255);
}

// Lower of x and the next multiple of `step` from `origin` at or below x.
FXint alignDown(FXint x, FXint origin, FXint step) {
  FXint d = x - origin;
  FXint q = d >= 0 ? d / step : -((-d + step - 1) / step);
  return origin + q * step;
}

// The pixels of an image's part; the image's own data or read back from the
// server.
bool copyPixels(FXImage* image, FXint sx, FXint sy, FXint sw, FXint sh, std::vector<FXColor>& out) {
  if (!image || sw <= 0 || sh <= 0) return false;
  if (!image->getData()) {
    if (!image->id()) return false;
    image->restore();
    if (!image->getData()) return false;
  }
  const FXint iw = image->getWidth(), ih = image->getHeight();
  if (sx < 0 || sy < 0 || sx + sw > iw || sy + sh > ih) return false;
  out.resize(static_cast<size_t>(sw) * sh);
  for (FXint row = 0; row < sh; ++row)
    std::memcpy(&out[static_cast<size_t>(row) * sw], image->getData() + static_cast<size_t>(sy + row) * iw + sx,
                sizeof(FXColor) * sw);
  return true;
}

void drawPiece(FXDC& dc, FXApp* app, const std::vector<FXColor>& all, FXint allw, FXint sx, FXint sy, FXint sw,
               FXint sh, FXint dx, FXint dy, FXint dw, FXint dh, bool blend) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  FXColor* pix = nullptr;
  FXMALLOC(&pix, FXColor, sw * sh);
  for (FXint row = 0; row < sh; ++row)
    for (FXint col = 0; col < sw; ++col) {
      FXColor c = all[static_cast<size_t>(sy + row) * allw + sx + col];
      if (blend) c = FXALPHAVAL(c) < 128 ? FXRGBA(0, 0, 0, 0) : ((c & 0x00FFFFFF) | 0xFF000000);
      pix[row * sw + col] = c;
    }
  if (blend) {
    FXIcon piece(app, pix, 0, IMAGE_OWNED, sw, sh);
    if (sw != dw || sh != dh) piece.scale(dw, dh, 0);
    piece.create();
    dc.drawIcon(&piece, dx, dy);
  } else {
    FXImage piece(app, pix, IMAGE_OWNED | IMAGE_OPAQUE, sw, sh);
    if (sw != dw || sh != dh) piece.scale(dw, dh, 0);
    piece.create();
    dc.drawImage(&piece, dx, dy);
  }
}

}  // namespace

FXint FXTheme::query(FXint what) const {
  switch (what) {
    case 1: return kind_;
    case 2: return !plain_ && kind_ == KIND_STYLED;
    case 3: return plain_;
    default: return 0;
  }
}

void FXTheme::getFrameMargins(FXint& left, FXint& top, FXint& right, FXint& bottom) const {
  left = margins_[0];
  top = margins_[1];
  right = margins_[2];
  bottom = margins_[3];
}

void FXTheme::setFrameMargins(FXint left, FXint top, FXint right, FXint bottom) {
  margins_[0] = std::max(0, left);
  margins_[1] = std::max(0, top);
  margins_[2] = std::max(0, right);
  margins_[3] = std::max(0, bottom);
}

void FXTheme::GradientFill(FXDC& dc, FXint x, FXint y, FXint w, FXint h, FXuint mode) {
  if (w <= 0 || h <= 0) return;
  const FXColor start = dc.getForeground(), end = dc.getBackground();
  const bool vertical = (mode & GRADIENT_VERTICAL) != 0;
  const FXint n = vertical ? h : w;
  // Runs of equal colour go out as one rectangle.
  FXint from = 0;
  FXColor current = mix(start, end, 0, n);
  for (FXint i = 1; i <= n; ++i) {
    FXColor c = i < n ? mix(start, end, i, n) : 0;
    if (i < n && c == current) continue;
    dc.setForeground(current);
    if (vertical)
      dc.fillRectangle(x, y + from, w, i - from);
    else
      dc.fillRectangle(x + from, y, i - from, h);
    from = i;
    current = c;
  }
  dc.setForeground(start);
}

void FXTheme::Tile(FXDC& dc, FXImage* image, FXint x, FXint y, FXint w, FXint h, FXint ox, FXint oy) {
  if (!image || w <= 0 || h <= 0) return;
  const FXint iw = image->getWidth(), ih = image->getHeight();
  if (iw <= 0 || ih <= 0 || !image->id()) return;
  for (FXint ty = alignDown(y, oy, ih); ty < y + h; ty += ih) {
    const FXint top = std::max(ty, y), bottom = std::min(ty + ih, y + h);
    for (FXint tx = alignDown(x, ox, iw); tx < x + w; tx += iw) {
      const FXint left = std::max(tx, x), right = std::min(tx + iw, x + w);
      dc.drawArea(image, left - tx, top - ty, right - left, bottom - top, left, top);
    }
  }
}

void FXTheme::DrawBorder(FXDC& dc, FXImage* image, FXint sx, FXint sy, FXint sw, FXint sh, FXint dx, FXint dy,
                         FXint dw, FXint dh, FXuint flags) const {
  if (!image || dw <= 0 || dh <= 0) return;
  if (flags & BORDER_FILL) {
    const FXColor fore = dc.getForeground();
    dc.setForeground(dc.getBackground());
    dc.fillRectangle(dx, dy, dw, dh);
    dc.setForeground(fore);
  }
  std::vector<FXColor> pix;
  if (!copyPixels(image, sx, sy, sw, sh, pix)) return;
  // Borders no wider than a third of the source or half of the target.
  FXint l = std::min({margins_[0], sw / 3, dw / 2}), r = std::min({margins_[2], sw / 3, dw / 2});
  FXint t = std::min({margins_[1], sh / 3, dh / 2}), b = std::min({margins_[3], sh / 3, dh / 2});
  const FXint scw = sw - l - r, sch = sh - t - b, dcw = dw - l - r, dch = dh - t - b;
  const bool blend = (flags & BORDER_BLEND) != 0;
  FXApp* app = image->getApp();
  auto piece = [&](FXint px, FXint py, FXint pw, FXint ph, FXint qx, FXint qy, FXint qw, FXint qh) {
    drawPiece(dc, app, pix, sw, px, py, pw, ph, dx + qx, dy + qy, qw, qh, blend);
  };
  if (flags & BORDER_CENTER) piece(l, t, scw, sch, l, t, dcw, dch);
  if (flags & BORDER_LEFT) piece(0, t, l, sch, 0, t, l, dch);
  if (flags & BORDER_RIGHT) piece(sw - r, t, r, sch, dw - r, t, r, dch);
  if (flags & BORDER_TOP) {
    piece(l, 0, scw, t, l, 0, dcw, t);
    if (flags & BORDER_LEFT) piece(0, 0, l, t, 0, 0, l, t);
    if (flags & BORDER_RIGHT) piece(sw - r, 0, r, t, dw - r, 0, r, t);
  }
  if (flags & BORDER_BOTTOM) {
    piece(l, sh - b, scw, b, l, dh - b, dcw, b);
    if (flags & BORDER_LEFT) piece(0, sh - b, l, b, 0, dh - b, l, b);
    if (flags & BORDER_RIGHT) piece(sw - r, sh - b, r, b, dw - r, dh - b, r, b);
  }
}

FXTheme* fxGetTheme(FXApp* app) {
  static std::map<FXApp*, std::unique_ptr<FXTheme>> themes;
  auto& slot = themes[app];
  if (!slot) {
    slot = std::make_unique<FXTheme>();
    if (const char* env = std::getenv("KV_THEME")) {
      if (std::strcmp(env, "plain") == 0) slot->setPlain(true);
      if (std::strcmp(env, "classic") == 0) slot->setKind(FXTheme::KIND_CLASSIC);
    }
  }
  return slot.get();
}

}  // namespace FX
