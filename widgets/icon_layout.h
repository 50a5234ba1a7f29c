// The arithmetic of the icon list's layout, kept apart from the windows so
// that it can be checked on its own: cell sizes per view style, fitting the
// detail columns to a width, and the steps of a group's expand animation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace IconLayout {

enum ViewStyle { STYLE_NONE = 0, STYLE_LIST, STYLE_DETAILS, STYLE_ICONS, STYLE_THUMBNAILS, STYLE_TILES, STYLE_CATEGORY };

// "LIST" ... "CATEGORY" for 1 to 6, empty otherwise.
const char* styleName(int style);
// The View menu's label of a style; each style has its own.
const char16_t* styleMenuLabel(int style);

// What the cell size depends on. Group figures are only consulted in
// CATEGORY (and LIST, for the widest item).
struct CellMetrics {
  int availableWidth = 0;   // viewport less the shown vertical scroll bar
  int fontHeight = 0;
  int widthOfM = 0;         // of "M" in the list's font
  int widthOfX = 0;         // of "x"
  int headerWidth = 0;      // DETAILS
  int tileWidth = 0;        // in letters "x"; 0 for the built-in width
  int categorySizing = 0;   // CATEGORY: grow to the groups' wishes
  int widestItem = 0;       // LIST: the groups' widest item
  int groupCellWidth = 0;   // CATEGORY: the groups' widest cell wish
  int groupItemHeight = 0;  // CATEGORY: the groups' tallest item at the cell width
};
struct CellSize {
  int width = 0, height = 0;
  bool operator==(const CellSize&) const = default;
};
CellSize cellSize(int style, const CellMetrics& m);

struct Column {
  int size = 0;
  int minimum = 0;
  bool stretch = false;  // flag 0x20
  bool visible = true;
};
// Fits the columns to `width` and then fills `available` (the viewport less
// the shown vertical scroll bar) with the rightmost stretchable column that
// can take the rest. Nothing happens without a stretchable column.
void fitColumns(std::vector<Column>& columns, int width, int available);

// The steps of an expand (or collapse) from the caption height to the full
// height over `duration` ms: `now` answers elapsed milliseconds and `apply`
// takes each new height. A group whose full height is its caption height has
// nothing to animate (the loop used to spin forever and divide by zero).
// Answers the number of steps applied.
int animate(bool expanding, int captionHeight, int fullHeight, int duration, const std::function<int()>& now,
            const std::function<void(int height)>& apply, const std::function<void(int microseconds)>& sleep);

}  // namespace IconLayout
