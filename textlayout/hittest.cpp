// Hit testing, links, selection and plain text.
#include <fx.h>

#include "textlayout/layout.h"

using namespace FX;

FXWString FXKTextLayout::plainText(std::int32_t start, std::int32_t end) {
  FXWString out;
  for (const segment& s : segments_) {
    if (s.end <= start || s.start >= end) continue;
    if (s.flags & kSegAfterTab) out.append(u'\t');
    out.append(text_.mid(s.start, s.end - s.start));
    if (s.flags & kSegHardBreak) out.append(u"\r\n");
  }
  return out;
}

void FXKTextLayout::paintSelection(const line&, FXDC&) {}

void FXKTextLayout::recalc() {
  widthCache_.clear();
  minWidth_ = maxWidth_ = 0;
  heightCache_.clear();
}
