#include "widgets/list_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "widgets/widgets_testing.h"

using namespace FX;

namespace {

FXKColumnRecord column(FXint key, const char16_t* name, FXuint flags = 0) {
  FXKColumnRecord r;
  r.key = key;
  r.caption = r.name = FXWString(name);
  r.width = 50;
  r.flags = flags;
  return r;
}

class ListSettingsTest : public kvtest::GuiTest {
 protected:
  FXKHeader* makeHeader() {
    auto* header = new FXKHeader(main, nullptr, 0, HEADER_NORMAL);
    header->appendColumn(column(0, u"NAME"), false);
    header->appendColumn(column(7, u"SIZE"), false);
    header->appendColumn(column(9, u"TYPE"), false);
    header->create();
    return header;
  }
  std::string layout(const FXKHeader& h) {
    std::string out;
    for (FXint i = 0; i < h.getNumItems(); ++i) {
      out += h.getColumn(i)->name.toUtf8();
      if (!h.isColumnVisible(i)) out += "(hidden)";
      out += " ";
    }
    return out;
  }
  FXSettings store;
};

TEST_F(ListSettingsTest, WrittenValuesEndWithACommaAndReadBack) {
  FXKHeader* header = makeHeader();
  header->hideColumn(1, false);
  header->swapColumns(0, 2, false);  // TYPE SIZE NAME
  FXWindowSettings settings(&store, "list");
  FXKListSettings state{"DETAILS", 7, -1, true, 9, true};
  writeListSettings(settings, *header, state);
  EXPECT_STREQ(store.readStringEntry("list", "ColVis", ""), "TYPE,NAME,");
  EXPECT_STREQ(store.readStringEntry("list", "ColOrd", ""), "TYPE,SIZE,NAME,");
  EXPECT_STREQ(store.readStringEntry("list", "SortColumnN", ""), "SIZE");
  EXPECT_EQ(store.readIntEntry("list", "SortOrder", 0), -1);
  EXPECT_STREQ(store.readStringEntry("list", "GroupColumnN", ""), "TYPE");

  FXKHeader* fresh = makeHeader();
  FXKListSettings read{"LIST"};
  read.groupingAllowed = true;
  FXString style;
  EXPECT_TRUE(readListSettings(settings, *fresh, read, [&](const FXString& s) { style = s; }));
  EXPECT_EQ(layout(*fresh), "TYPE SIZE(hidden) NAME ");
  EXPECT_EQ(style, FXString("DETAILS"));
  EXPECT_EQ(read.sortColumn, 7);
  EXPECT_EQ(read.sortOrder, -1);
  EXPECT_EQ(read.groupColumn, 9);
}

TEST_F(ListSettingsTest, ReadingTable) {
  struct Case {
    const char* name;
    const char* order;
    const char* visible;
    const char* sortColumn;
    const char* expected;
    int sortKey, sortOrder;
  } cases[] = {
      {"unknown names are skipped and do not advance", "GONE,TYPE,NAME,", "", "", "TYPE NAME SIZE ", 0, 1},
      {"no trailing comma is read too", "SIZE,NAME", "", "", "SIZE NAME TYPE ", 0, 1},
      {"an empty visibility leaves every column shown", "", "", "", "NAME SIZE TYPE ", 0, 1},
      {"only unknown visible names hide every column", "", "GONE,", "",
       "NAME(hidden) SIZE(hidden) TYPE(hidden) ", 0, 1},
      {"visibility by name", "", "SIZE,", "", "NAME(hidden) SIZE TYPE(hidden) ", 0, 1},
      {"a sort column without an order takes the view's", "", "", "TYPE", "NAME SIZE TYPE ", 9, 1},
      {"an unknown sort column changes nothing", "", "", "GONE", "NAME SIZE TYPE ", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FXSettings local;
    if (*c.order) local.writeStringEntry("s", "ColOrd", c.order);
    if (*c.visible) local.writeStringEntry("s", "ColVis", c.visible);
    if (*c.sortColumn) local.writeStringEntry("s", "SortColumnN", c.sortColumn);
    local.writeStringEntry("s", "ViewStyle", "TILES");
    FXWindowSettings settings(&local, "s");
    FXKHeader* header = makeHeader();
    FXKListSettings state{"LIST"};
    EXPECT_TRUE(readListSettings(settings, *header, state, nullptr));
    EXPECT_EQ(layout(*header), c.expected);
    EXPECT_EQ(state.sortColumn, c.sortKey);
    EXPECT_EQ(state.sortOrder, c.sortOrder);
    delete header;
  }
}

TEST_F(ListSettingsTest, NoColumnsWriteOnlyTheStyleAndNoSectionDoesNothing) {
  auto* header = new FXKHeader(main, nullptr, 0, HEADER_NORMAL);
  FXWindowSettings settings(&store, "empty");
  writeListSettings(settings, *header, FXKListSettings{"ICONS", 7});
  EXPECT_STREQ(store.readStringEntry("empty", "ViewStyle", ""), "ICONS");
  EXPECT_FALSE(store.existingEntry("empty", "ColVis"));
  EXPECT_FALSE(store.existingEntry("empty", "SortColumnN"));

  FXWindowSettings none(&store, FXString::null);
  FXKListSettings state{"LIST"};
  EXPECT_FALSE(readListSettings(none, *header, state, nullptr));
  FXWindowSettings noStore(nullptr, "x");
  writeListSettings(noStore, *header, state);
  EXPECT_FALSE(readListSettings(noStore, *header, state, nullptr));
}

TEST_F(ListSettingsTest, TheSectionOfAWindowFollowsItsPlace) {
  auto* frame = new FXHorizontalFrame(main);
  new FXLabel(frame, "a");
  auto* header = new FXKHeader(frame, nullptr, 0, HEADER_NORMAL);
  const FXString section = FXWindowSettings::sectionOf(header);
  EXPECT_EQ(section, FXString("FXMainWindow/FXHorizontalFrame.0/FXKHeader.1"));
}

}  // namespace
