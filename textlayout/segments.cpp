// Segments, measuring, line breaking and width pairs.
#include <fx.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/fox/fx_app.h"
#include "platform/fox/line_break.h"
#include "textlayout/layout.h"

using namespace FX;

namespace {

constexpr std::int32_t kUnbounded = 0x7FFFFFFF;

bool droppedAtEnd(char16_t c) {
  return c == u'\n' || c == u'\u200B' || c == u'\u2028' || (c >= u'\uF801' && c <= u'\uF808');
}

// UTF-16 to UTF-8 into a reused buffer.
const std::string& utf8(const char16_t* s, std::int32_t n) {
  thread_local std::string out;
  out.clear();
  for (std::int32_t i = 0; i < n; ++i) {
    std::uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------- fonts and units

FXFont* FXKTextLayout::fontOf(const textstyle& style) {
  if (!style.fontName.empty()) {
    if (auto* app = dynamic_cast<FXExtApp*>(app_)) {
      const FXint index = app->registerStockFont(style.fontName.toUtf8().c_str(), false);
      if (index != -1) {
        FXFont* f = app->getStockFont(index);
        if (f && isCreated() && !f->id()) f->create();
        if (f) return f;
      }
    }
  }
  if (style.flags & kItalic) return fonts_[2];
  if (style.flags & kBold) return fonts_[1];
  return fonts_[0];
}

namespace {

// Widths by font and text, for the whole thread (the GUI thread): one dialog
// measures each word once per font, however many layouts and passes ask.
struct WidthHash {
  using is_transparent = void;
  std::size_t operator()(std::u16string_view s) const noexcept { return std::hash<std::u16string_view>()(s); }
};
using WidthCache = std::unordered_map<std::u16string, std::int32_t, WidthHash, std::equal_to<>>;
thread_local std::unordered_map<FXFont*, WidthCache> widthCaches;
thread_local std::unordered_map<FXFont*, FXID> widthCacheFonts;

}  // namespace

void FXKTextLayout::forgetTextWidths() {
  widthCaches.clear();
  widthCacheFonts.clear();
}

std::int32_t FXKTextLayout::measureText(FXFont* font, const char16_t* text, std::int32_t length) {
  if (length <= 0 || !font) return 0;
  WidthCache& cache = widthCaches[font];
  // A font object at the same address may be a new font: its X id tells.
  FXID& known = widthCacheFonts[font];
  if (known != font->id()) {
    cache.clear();
    known = font->id();
  }
  const std::u16string_view key(text, static_cast<std::size_t>(length));
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  std::int32_t width;
  if (!font->id()) {
    width = length * std::max<std::int32_t>(1, static_cast<std::int32_t>(font->getSize()) / 15);  // no display: an estimate keeps layout going
  } else {
    const std::string& bytes = utf8(text, length);
    width = font->getTextWidth(bytes.data(), static_cast<FXuint>(bytes.size()));
  }
  if (cache.size() > 200000) cache.clear();
  cache.emplace(std::u16string(key), width);
  return width;
}

std::int32_t FXKTextLayout::xWidth() {
  if (unitWidth_ == 0) {
    unitWidth_ = std::max(1, measureText(fonts_[0], u"x", 1));
    unitHeight_ = fonts_[0] && fonts_[0]->id() ? fonts_[0]->getFontHeight() / 3 : 4;
    if (unitHeight_ < 1) unitHeight_ = 1;
  }
  return unitWidth_;
}

std::int32_t FXKTextLayout::indentWidth(const textstyle& s) { return s.indent < 0 ? -s.indent : s.indent * xWidth(); }

std::int32_t FXKTextLayout::unitWidth(const block* b) {
  if (b && (b->flags & (kBlockUnitPixels | kBlockHtml)) && !(b->flags & kBlockUnitPoints)) return 1;
  return xWidth();
}

std::int32_t FXKTextLayout::unitHeight(const block* b) {
  if (b && (b->flags & (kBlockUnitPixels | kBlockHtml)) && !(b->flags & kBlockUnitPoints)) return 1;
  xWidth();
  return unitHeight_;
}

std::int32_t FXKTextLayout::textWidth(std::int32_t start, std::int32_t end) {
  std::int32_t width = 0;
  while (start < end) {
    const textstyle* s = styleAtPosition(start);
    auto next = runs_.upper_bound(start);
    const std::int32_t stop = next == runs_.end() ? end : std::min(end, next->first);
    width += measureText(s ? fontOf(*s) : fonts_[0], text_.text() + start, stop - start);
    start = stop;
  }
  return width;
}

// ---------------------------------------------------------------- segmenting

void FXKTextLayout::segmentText(std::int32_t start, std::int32_t end) {
  if (end <= start) return;
  FXLineBreakIterator* it = getLineBreakIterator(app_);
  if (!it) return;
  const char16_t* t = text_.text();
  it->setText(t + start, end - start);
  std::int32_t hard = 1;
  std::uint32_t pending = 0;  // 0x10 after a tab
  auto emit = [&](std::int32_t s, std::int32_t e, std::uint32_t flags) {
    while (e > s && droppedAtEnd(t[e - 1])) --e;
    const textstyle* run = styleAtPosition(s);
    if (run && (run->flags & kNoWrap)) flags |= kSegNoWrap;
    segment seg;
    seg.start = s;
    seg.end = e;
    seg.flags = flags | pending;
    pending = 0;
    segments_.push_back(seg);
  };
  std::int32_t pos = 0;
  for (std::int32_t next = it->following(0); next != -1; pos = next, next = it->following(next)) {
    std::int32_t s = start + pos;
    const std::int32_t e = start + next;
    // A tab ends its segment; the next one starts after it.
    for (std::int32_t tab = s; tab < e; ++tab) {
      if (t[tab] != u'\t') continue;
      emit(s, tab, 0);
      pending = kSegAfterTab;
      s = tab + 1;
    }
    if (s >= e) continue;
    std::uint32_t flags = 0;
    std::int32_t end2 = e;
    if (t[e - 1] == u'\n') {
      flags |= kSegHardBreak;
      ++hard;
      end2 = e - 1;
    }
    for (std::int32_t k = s; k < end2; ++k)
      if (t[k] == TextMarker::kObject) flags |= kSegObject;
    if (end2 > s && t[end2 - 1] == u' ') {
      flags |= kSegBlank;
      const std::int32_t blank = end2 - 1;
      if (blank > s && runs_.count(blank)) {
        emit(s, blank, flags);
        emit(blank, end2, 0);
        continue;
      }
    } else if (end2 > s && t[end2 - 1] == TextMarker::kBlock) {
      --end2;
    }
    emit(s, end2, flags);
  }
  hardLines_ += hard;
}

void FXKTextLayout::segmentBlock(block& b) {
  b.firstSegment = static_cast<std::int32_t>(segments_.size());
  std::int32_t pos = b.textStart;
  for (block& c : b.children) {
    if (c.flags & kBlockPlaceholder) continue;
    if (c.textStart > pos) segmentText(pos, c.textStart);
    segmentBlock(c);
    pos = std::max(pos, c.textEnd);
  }
  if (b.textEnd > pos) segmentText(pos, b.textEnd);
  b.endSegment = static_cast<std::int32_t>(segments_.size());
}

// ---------------------------------------------------------------- measuring

void FXKTextLayout::measureSegments(std::int32_t first, std::int32_t last) {
  const char16_t* t = text_.text();
  for (std::int32_t i = first; i < last && i < static_cast<std::int32_t>(segments_.size()); ++i) {
    segment& s = segments_[static_cast<std::size_t>(i)];
    if (s.flags & kSegObject) {
      primitive* p = objectAt(s.start);
      std::int32_t w = 0, h = 0;
      if (p) {
        w = p->cachedWidth();
        h = p->cachedHeight(w > 0 ? w : 0);
        const block* owner = p->owner;
        if (w == std::int32_t(0x80000000u)) w = -1;
        else if (w < 1) w = clampExtent(-std::int64_t{w} * unitWidth(owner));
        if (h == std::int32_t(0x80000000u)) h = -1;
        else if (h < 1) h = clampExtent(-std::int64_t{h} * unitHeight(owner));
      }
      s.width = s.trimmedWidth = w;
      s.height = h;
      s.ascent = h;
      continue;
    }
    std::int32_t width = 0, trimmed = 0;
    std::int32_t pieceStart = s.start;
    const textstyle* run = styleAtPosition(s.start);
    FXFont* font = run ? fontOf(*run) : fonts_[0];
    FXFont* lastFont = font;
    bool lastHasText = false;
    while (true) {
      std::int32_t pieceEnd = s.end;
      const textstyle* nextRun = nullptr;
      auto next = runs_.upper_bound(pieceStart);
      if (next != runs_.end() && next->first < s.end) {
        const textstyle& r = next->second;
        if (run && ((r.flags & kFontBits) != (run->flags & kFontBits) || !(r.fontName == run->fontName))) {
          pieceEnd = next->first;
          nextRun = &r;
        }
      }
      const std::int32_t w = measureText(font, t + pieceStart, pieceEnd - pieceStart);
      std::int32_t lastNonBlank = pieceEnd;
      while (lastNonBlank > pieceStart && t[lastNonBlank - 1] == u' ') --lastNonBlank;
      const std::int32_t wTrim =
          lastNonBlank == pieceEnd ? w : measureText(font, t + pieceStart, lastNonBlank - pieceStart);
      trimmed = width + wTrim;
      width += w;
      lastFont = font;
      lastHasText = pieceEnd > pieceStart;
      if (!nextRun) break;
      pieceStart = pieceEnd;
      run = nextRun;
      font = fontOf(*run);
    }
    s.width = width;
    s.trimmedWidth = trimmed;
    const bool created = lastFont && lastFont->id();
    s.ascent = created ? lastFont->getFontAscent() : 10;
    const bool onLineFeed = s.start > 0 && t[s.start - 1] == u'\n' && s.start == s.end;
    s.height = (lastHasText || onLineFeed || (s.start < text_.length() && t[s.start] == u'\n'))
                   ? (created ? lastFont->getFontHeight() : 13)
                   : 0;
  }
}

// ---------------------------------------------------------------- line breaking

std::int32_t FXKTextLayout::alignLine(std::int32_t rightLimit, std::int32_t, std::int32_t gaps, std::int32_t first,
                                      std::int32_t last, std::int32_t& baseline) {
  segment& lastSeg = segments_[static_cast<std::size_t>(last)];
  const textstyle* style = styleAtPosition(segments_[static_cast<std::size_t>(first)].start);
  const std::uint32_t align = style ? (style->flags & kAlignMask) : 0;
  // Alignment needs a bound: measuring the widest line has none.
  if (rightLimit < kUnbounded / 2 && align != 0) {
    const std::int32_t slack = rightLimit - (lastSeg.x + lastSeg.trimmedWidth);
    if (align == kAlignCenter && slack > 0) {
      for (std::int32_t i = first; i <= last; ++i) segments_[static_cast<std::size_t>(i)].x += slack / 2;
    } else if (align == kAlignRight && slack > 0) {
      for (std::int32_t i = first; i <= last; ++i) segments_[static_cast<std::size_t>(i)].x += slack;
    } else if (align == kAlignJustify && gaps > 0 && slack > 0 && !(lastSeg.flags & kSegHardBreak) &&
               slack / gaps < 3) {
      std::int32_t k = 0;
      for (std::int32_t i = first; i <= last; ++i) {
        segment& s = segments_[static_cast<std::size_t>(i)];
        s.x += k * slack / gaps;
        if ((s.flags & kSegBlank) && k < gaps) ++k;
      }
    }
  }
  std::int32_t height = 0, ascent = 0, textHeight = 0;
  for (std::int32_t i = first; i <= last; ++i) {
    const segment& s = segments_[static_cast<std::size_t>(i)];
    height = std::max(height, s.height);
    if (!(s.flags & kSegObject)) {
      ascent = std::max(ascent, s.ascent);
      textHeight = std::max(textHeight, s.height);
    }
  }
  baseline = ascent + (height - textHeight);
  return height;
}

std::int32_t FXKTextLayout::breakLines(std::int32_t& rightEdge, std::int32_t& maxWidth, std::int32_t x0,
                                       std::int32_t y, std::int32_t width, std::int32_t first, std::int32_t end,
                                       block& b, std::int32_t& runCursor) {
  if (first >= end || runs_.empty()) return y;
  const std::int64_t limit64 = std::int64_t(x0) + width;
  const std::int32_t rightLimit = limit64 >= kUnbounded ? kUnbounded : static_cast<std::int32_t>(limit64);
  std::int32_t bottom = y;
  std::int32_t lineStart = first, candidate = -1, gaps = 0, candGaps = 0;
  std::int32_t x = x0;
  auto finish = [&](std::int32_t last, std::int32_t lineGaps) {
    std::int32_t baseline = 0;
    const std::int32_t h = alignLine(rightLimit, runCursor, lineGaps, lineStart, last, baseline);
    bottom += h;
    const segment& ls = segments_[static_cast<std::size_t>(last)];
    rightEdge = std::max(rightEdge, ls.x + std::max(ls.trimmedWidth, 0));
    lines_.push_back(line{lineStart, last, bottom, h, baseline});
  };
  for (std::int32_t i = first; i < end;) {
    segment& s = segments_[static_cast<std::size_t>(i)];
    const textstyle* style = styleAtPosition(s.start);
    if (i == lineStart) {
      x = x0;
      gaps = 0;
      if (style && (style->flags & kIndent))
        x = x0 + indentWidth(*style);
    }
    if ((s.flags & kSegAfterTab) && style && style->tabWidth > 0) {
      const std::int32_t tw = xWidth() * style->tabWidth;
      x = tw * (x / tw + 1);
    }
    s.x = x;
    if (candidate >= 0 && i > lineStart && std::int64_t(rightLimit) < std::int64_t(x) + s.trimmedWidth) {
      const segment& c = segments_[static_cast<std::size_t>(candidate)];
      finish(candidate, (c.flags & kSegBlank) ? candGaps - 1 : candGaps);
      lineStart = i = candidate + 1;
      candidate = -1;
      continue;
    }
    if (s.flags & kSegHardBreak) {
      finish(i, gaps);
      lineStart = ++i;
      candidate = -1;
      continue;
    }
    if (!style || !(style->flags & kNoWrap)) candidate = i;
    x += std::max(s.width, 0);
    if (s.flags & kSegBlank) ++gaps;
    if (candidate == i) candGaps = gaps;
    ++i;
  }
  if (lineStart < end) {
    const segment& ls = segments_[static_cast<std::size_t>(end - 1)];
    finish(end - 1, (ls.flags & kSegBlank) ? std::max(gaps - 1, 0) : gaps);
  }
  std::int32_t minW = 0, maxW = 0;
  segmentWidths(minW, maxW, b, b.firstSegment, b.endSegment);
  maxWidth = std::max(maxWidth, minW);
  lineCount_ = static_cast<std::int32_t>(lines_.size());
  return bottom;
}

// ---------------------------------------------------------------- width pairs

namespace {

// The pair of a run of text segments.
void textPair(const std::vector<FXKTextLayout::segment>& segs, std::int32_t first, std::int32_t end,
              std::int32_t& minW, std::int32_t& maxW) {
  std::int32_t contribution = 0, lineSum = 0;
  minW = maxW = 0;
  bool any = false;
  for (std::int32_t i = first; i < end; ++i) {
    const auto& s = segs[static_cast<std::size_t>(i)];
    const std::int32_t w = std::max(s.width, 0);
    if ((s.flags & FXKTextLayout::kSegNoWrap) && any) {
      contribution += w;
    } else {
      contribution = std::max(s.trimmedWidth, 0);
    }
    any = true;
    minW = std::max(minW, contribution);
    lineSum += w;
    maxW = std::max(maxW, lineSum);
    if (s.flags & FXKTextLayout::kSegHardBreak) lineSum = 0;
  }
  maxW = std::max(maxW, minW);
}

}  // namespace

std::int32_t FXKTextLayout::segmentWidths(std::int32_t& minWidth, std::int32_t& maxWidth, block& b,
                                          std::int32_t first, std::int32_t end) {
  minWidth = maxWidth = 0;
  if (b.flags & (kBlockPlaceholder | kBlockHidden)) return 0;
  const bool whole = first == b.firstSegment && end == b.endSegment;
  if (whole && b.widthsCached) {
    minWidth = b.minWidth;
    maxWidth = b.maxWidth;
    return minWidth;
  }
  if (!whole && first < end) {
    if (auto it = widthCache_.find({first, end}); it != widthCache_.end()) {
      minWidth = it->second.first;
      maxWidth = it->second.second;
      return minWidth;
    }
  }
  const std::int32_t uw = unitWidth(&b);
  const std::int32_t w = (b.flags & kBlockWidthPercent) ? 0 : uw * b.width;
  if (whole && (b.flags & (kBlockDivision | kBlockTable))) {
    for (block& c : b.children) {
      std::int32_t cmin = 0, cmax = 0;
      blockWidths(cmin, cmax, c);
      minWidth = std::max(minWidth, cmin);
      maxWidth = std::max(maxWidth, cmax);
    }
    if (w > 0) minWidth = maxWidth = std::max(w, minWidth);
  } else if (whole && (b.flags & kBlockRow)) {
    const std::int64_t sp = uw * b.spacing;
    std::int64_t sumMin = 0, sumMax = 0;
    bool any = false;
    for (block& c : b.children) {
      std::int32_t cmin = 0, cmax = 0;
      blockWidths(cmin, cmax, c);
      sumMin += cmin + sp + 2 * uw * c.padding;
      sumMax += cmax + sp + 2 * uw * c.padding;
      any = true;
    }
    if (any) sumMin -= sp, sumMax -= sp;
    minWidth = clampExtent(sumMin);
    maxWidth = clampExtent(sumMax);
  } else if (whole && !b.children.empty()) {
    // A cell or plain block: the largest over its text pieces and children.
    std::int32_t pos = first;
    for (block& c : b.children) {
      if (c.flags & kBlockPlaceholder) continue;
      std::int32_t tmin = 0, tmax = 0;
      if (c.firstSegment > pos) {
        textPair(segments_, pos, c.firstSegment, tmin, tmax);
        minWidth = std::max(minWidth, tmin);
        maxWidth = std::max(maxWidth, tmax);
      }
      blockWidths(tmin, tmax, c);
      if (!(c.flags & kBlockLayer)) {
        minWidth = std::max(minWidth, tmin);
        maxWidth = std::max(maxWidth, tmax);
      }
      pos = std::max(pos, c.endSegment);
    }
    if (end > pos) {
      std::int32_t tmin = 0, tmax = 0;
      textPair(segments_, pos, end, tmin, tmax);
      minWidth = std::max(minWidth, tmin);
      maxWidth = std::max(maxWidth, tmax);
    }
  } else {
    textPair(segments_, first, end, minWidth, maxWidth);
  }
  if (whole && !(b.flags & (kBlockDivision | kBlockTable)) && w != 0) {
    if (w < minWidth) maxWidth = minWidth;
    else minWidth = w, maxWidth = std::max(maxWidth, w);
  }
  if (whole) {
    b.minWidth = minWidth;
    b.maxWidth = maxWidth;
    b.widthsCached = true;
  }
  if (!whole && first < end) widthCache_[{first, end}] = {minWidth, maxWidth};
  return minWidth;
}

void FXKTextLayout::blockWidths(std::int32_t& minWidth, std::int32_t& maxWidth, block& b) {
  if (b.widthsCached) {
    minWidth = b.minWidth;
    maxWidth = b.maxWidth;
    return;
  }
  segmentWidths(minWidth, maxWidth, b, b.firstSegment, b.endSegment);
}
