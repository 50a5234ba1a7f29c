#include "widgets/icon_layout.h"

#include <algorithm>

namespace IconLayout {

const char* styleName(int style) {
  static const char* const names[] = {"LIST", "DETAILS", "ICONS", "THUMBNAILS", "TILES", "CATEGORY"};
  return style >= 1 && style <= 6 ? names[style - 1] : "";
}

const char16_t* styleMenuLabel(int style) {
  static const char16_t* const labels[] = {u"List", u"Details", u"Icons", u"Thumbnails", u"Tiles", u"Category"};
  return style >= 1 && style <= 6 ? labels[style - 1] : u"";
}

CellSize cellSize(int style, const CellMetrics& m) {
  const int lineHeight = std::max(m.fontHeight, 20);
  const int tile = m.tileWidth ? m.tileWidth * m.widthOfX : 196;
  switch (style) {
    case STYLE_LIST: return {m.widestItem, lineHeight};
    case STYLE_DETAILS: return {std::max(m.availableWidth, m.headerWidth), lineHeight};
    case STYLE_ICONS: return {std::max(72, 7 * m.widthOfM), 72};
    // The icons style's cell, grown by what the large icon (48) adds over
    // the icons style's (32).
    case STYLE_THUMBNAILS: return {std::max(72, 7 * m.widthOfM) + 16, 72 + 16};
    case STYLE_TILES: return {tile, 52};
    case STYLE_CATEGORY: {
      CellSize c{m.categorySizing ? 196 : tile, 52};
      if (m.availableWidth > 1) {
        if (m.categorySizing) c.width = std::max(c.width, m.groupCellWidth);
        c.height = std::max(c.height, m.groupItemHeight);
      }
      return c;
    }
    default: return {};
  }
}

void fitColumns(std::vector<Column>& columns, int width, int available) {
  if (columns.empty()) return;
  std::int64_t total = 0, stretchTotal = 0;
  for (const Column& c : columns) {
    if (!c.visible) continue;
    total += c.size;
    if (c.stretch) stretchTotal += c.size;
  }
  bool anyStretch = false;
  for (const Column& c : columns) anyStretch |= c.visible && c.stretch;
  if (!anyStretch) return;

  if (total < width) {
    std::int64_t open = width - total;
    for (Column& c : columns) {
      if (!stretchTotal) break;
      if (!c.visible || !c.stretch) continue;
      const std::int64_t s = c.size;
      const std::int64_t n = std::min<std::int64_t>(s + open * s / stretchTotal, 2 * s);
      stretchTotal -= s;
      open -= n - s;
      c.size = static_cast<int>(n);
    }
  } else if (total > width) {
    std::vector<char> pinned(columns.size(), 0);
    std::vector<int> computed(columns.size(), 0);
    std::int64_t open = width - total;
    for (bool restart = true; restart;) {
      restart = false;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        if (!c.visible || !c.stretch || pinned[i]) continue;
        const std::int64_t s = c.size;
        const std::int64_t n =
            stretchTotal ? s + static_cast<std::int64_t>(s * (static_cast<double>(open) / stretchTotal)) : s;
        if (n <= 0 || n < c.minimum) {
          pinned[i] = 1;
          stretchTotal -= s;
          open += c.minimum - s;
          restart = true;
          break;
        }
        computed[i] = static_cast<int>(n);
      }
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
      Column& c = columns[i];
      if (!c.visible || !c.stretch) continue;
      c.size = pinned[i] ? c.minimum : computed[i];
    }
  }

  // Filling: the rightmost stretchable column that can take the rest gets it.
  std::int64_t sum = 0;
  for (const Column& c : columns)
    if (c.visible) sum += c.size;
  for (auto it = columns.rbegin(); it != columns.rend(); ++it) {
    if (!it->visible || !it->stretch) continue;
    const std::int64_t rest = available - (sum - it->size);
    if (rest > 0 && rest >= it->minimum) {
      it->size = static_cast<int>(rest);
      break;
    }
  }
}

int animate(bool expanding, int captionHeight, int fullHeight, int duration, const std::function<int()>& now,
            const std::function<void(int height)>& apply, const std::function<void(int microseconds)>& sleep) {
  const std::int64_t range = fullHeight - captionHeight;
  if (range <= 0 || duration <= 0) return 0;
  int steps = 0;
  std::int64_t previous = -1;
  for (;;) {
    const std::int64_t e = static_cast<std::int64_t>(now()) * range / duration;
    if (e > range) break;
    if (e == previous) {
      sleep(std::max<int>(1, static_cast<int>(duration / range / 2)));
      continue;
    }
    previous = e;
    apply(static_cast<int>(expanding ? captionHeight + e : fullHeight - e));
    ++steps;
    if (e == range) break;
  }
  const int last = expanding ? fullHeight : captionHeight;
  if (previous != range) apply(last), ++steps;
  return steps;
}

}  // namespace IconLayout
