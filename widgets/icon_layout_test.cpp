#include "widgets/icon_layout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace IconLayout;

namespace {

TEST(IconLayout, CellSizePerViewStyle) {
  struct Case {
    const char* name;
    int style;
    CellMetrics m;
    CellSize expected;
  } cases[] = {
      {"tiles, built-in width", STYLE_TILES, {}, {196, 52}},
      {"tiles in letters", STYLE_TILES, {.widthOfX = 7, .tileWidth = 20}, {140, 52}},
      {"thumbnails, narrow font", STYLE_THUMBNAILS, {.availableWidth = 500, .widthOfM = 8}, {88, 88}},
      {"thumbnails, wide font", STYLE_THUMBNAILS, {.availableWidth = 500, .widthOfM = 12}, {100, 88}},
      {"icons, narrow font", STYLE_ICONS, {.widthOfM = 8}, {72, 72}},
      {"icons, wide font", STYLE_ICONS, {.widthOfM = 12}, {84, 72}},
      {"list", STYLE_LIST, {.fontHeight = 14, .widestItem = 130}, {130, 20}},
      {"details, wide header", STYLE_DETAILS, {.availableWidth = 500, .fontHeight = 24, .headerWidth = 600}, {600, 24}},
      {"details, wide window", STYLE_DETAILS, {.availableWidth = 500, .headerWidth = 300}, {500, 20}},
      {"category grows to the groups",
       STYLE_CATEGORY,
       {.availableWidth = 500, .categorySizing = 1, .groupCellWidth = 250, .groupItemHeight = 70},
       {250, 70}},
      {"category without sizing is a tile",
       STYLE_CATEGORY,
       {.availableWidth = 500, .groupCellWidth = 250, .groupItemHeight = 40},
       {196, 52}},
      {"category in a window of width 1",
       STYLE_CATEGORY,
       {.availableWidth = 1, .categorySizing = 1, .groupCellWidth = 250, .groupItemHeight = 70},
       {196, 52}},
      {"no style", STYLE_NONE, {.availableWidth = 500}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CellSize got = cellSize(c.style, c.m);
    EXPECT_EQ(got.width, c.expected.width);
    EXPECT_EQ(got.height, c.expected.height);
  }
}

std::vector<int> sizes(const std::vector<Column>& columns) {
  std::vector<int> out;
  for (const Column& c : columns) out.push_back(c.size);
  return out;
}

TEST(IconLayout, ColumnFittingTable) {
  struct Case {
    const char* name;
    std::vector<Column> columns;
    int width, available;
    std::vector<int> expected;
  } cases[] = {
      {"no stretchable column: nothing changes", {{100, 10, false}, {50, 10, false}}, 400, 400, {100, 50}},
      {"growing never more than doubles", {{100, 10, true}, {50, 10, false}}, 400, 0, {200, 50}},
      {"the fill step gives the rest to the stretchable column", {{100, 10, true}, {50, 10, false}}, 400, 400,
       {350, 50}},
      {"growth is shared by size", {{100, 10, true}, {100, 10, true}}, 300, 0, {150, 150}},
      {"the fill step takes the rightmost that fits", {{100, 10, true}, {100, 10, true}}, 300, 320, {150, 170}},
      {"equal total still fills", {{100, 10, true}, {50, 10, false}}, 150, 200, {150, 50}},
      {"shrinking is shared by size", {{100, 0, true}, {100, 0, true}}, 100, 0, {50, 50}},
      {"shrinking pins columns at their minimum",
       {{100, 80, true}, {100, 10, true}, {50, 10, false}},
       150,
       0,
       {80, 10, 50}},
      {"hidden columns take no part", {{100, 10, true}, {500, 10, false, false}}, 300, 0, {200, 500}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    fitColumns(c.columns, c.width, c.available);
    EXPECT_EQ(sizes(c.columns), c.expected);
  }
  std::vector<Column> none;
  fitColumns(none, 100, 100);
  EXPECT_TRUE(none.empty());
}

TEST(IconLayout, AnimationStepsAndTheCaptionOnlyGroup) {
  struct Case {
    const char* name;
    bool expanding;
    int caption, full;
    std::vector<int> heights;
  } cases[] = {
      {"expanding", true, 20, 100, {20, 30, 40, 50, 60, 70, 80, 90, 100}},
      {"collapsing ends at the caption", false, 20, 100, {100, 90, 80, 70, 60, 50, 40, 30, 20}},
      {"full height equals the caption: nothing to animate", true, 20, 20, {}},
      {"full height below the caption: nothing to animate", false, 30, 20, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int clock = 0, calls = 0;
    std::vector<int> heights;
    const int steps = animate(
        c.expanding, c.caption, c.full, 400,
        [&] {
          ++calls;
          const int t = clock;
          clock += 50;
          return t;
        },
        [&](int h) { heights.push_back(h); }, [](int) {});
    EXPECT_EQ(heights, c.heights);
    EXPECT_EQ(steps, static_cast<int>(c.heights.size()));
    EXPECT_LT(calls, 100);
  }
}

TEST(IconLayout, AStoppedClockSleepsAndAJumpEndsAtTheFinalHeight) {
  int clock = 0, sleeps = 0;
  std::vector<int> heights;
  animate(
      true, 0, 400, 400,
      [&] {
        if (sleeps >= 3) clock = 10000;  // the machine stalled
        return clock;
      },
      [&](int h) { heights.push_back(h); },
      [&](int us) {
        ++sleeps;
        EXPECT_GE(us, 1);
      });
  EXPECT_EQ(sleeps, 3);
  EXPECT_EQ(heights, (std::vector<int>{0, 400}));
}

TEST(IconLayout, StyleNamesAndDistinctMenuLabels) {
  EXPECT_STREQ(styleName(0), "");
  EXPECT_STREQ(styleName(7), "");
  EXPECT_STREQ(styleName(STYLE_TILES), "TILES");
  std::set<std::u16string> labels;
  for (int s = 1; s <= 6; ++s) labels.insert(styleMenuLabel(s));
  EXPECT_EQ(labels.size(), 6u);  // thumbnails, tiles and category used to share "Tiles"
  EXPECT_EQ(std::u16string(styleMenuLabel(STYLE_THUMBNAILS)), u"Thumbnails");
}

}  // namespace
