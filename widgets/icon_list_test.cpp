#include "widgets/icon_list.h"

#include <fxkeys.h>
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "widgets/widgets_testing.h"

using namespace FX;
using kvtest::PathItem;
using kvtest::TreeBrowser;

namespace {

std::string pathOf(const FXKBrowserItem* item) {
  auto* p = dynamic_cast<const PathItem*>(item);
  return p ? p->path : "-";
}
std::string utf8(const FXWString& s) { return s.toUtf8(); }

// A browser whose items have titles and, in column 1, a kind.
class TitledBrowser : public TreeBrowser {
 public:
  using TreeBrowser::TreeBrowser;
  using TreeBrowser::setCommandHandler;
  std::map<std::string, std::string> titles;
  void getItemTitle(FXWString& out, const FXKBrowserItem* item) override {
    auto it = titles.find(pathOf(item));
    std::string p = pathOf(item);
    while (p.size() < 3) p = "0" + p;
    out = FXWString::fromUtf8(it == titles.end() ? ("Item " + p).c_str() : it->second.c_str());
  }
};

// A list whose group check commands can be refused, as an owner that
// forbids checking a group would.
class VetoList : public FXKIconList {
  FXDECLARE(VetoList)
 public:
  VetoList(FXComposite* p, FXKBrowser* b, FXuint o) : FXKIconList(p, b, o) {}
  bool refuse = false;
  std::vector<FXint> links;
  long onLink(FXObject*, FXSelector, void* ptr) {
    links.push_back(static_cast<FXint>(reinterpret_cast<FXival>(ptr)));
    return 1;
  }
  long onCheckGroup(FXObject* s, FXSelector sel, void* ptr) {
    if (refuse) return 0;
    return FXSELID(sel) == ID_GROUP_CHECKED ? onCmdCheckGroup(s, sel, ptr) : onCmdUncheckGroup(s, sel, ptr);
  }

 protected:
  VetoList() = default;
};
FXDEFMAP(VetoList) VetoListMap[] = {
    FXMAPFUNCS(SEL_COMMAND, FXKBrowserView::ID_GROUP_CHECKED, FXKBrowserView::ID_GROUP_UNCHECKED, VetoList::onCheckGroup),
    FXMAPFUNC(SEL_COMMAND, FXKIconList::ID_LINK_CLICKED, VetoList::onLink),
};
FXIMPLEMENT(VetoList, FXKIconList, VetoListMap, ARRAYNUMBER(VetoListMap))

// Answers SEL_CHANGED of the list (an edit) as told.
class EditTarget : public FXObject {
 public:
  long answer = 1;
  int calls = 0;
  long handle(FXObject*, FXSelector sel, void*) override {
    if (FXSELTYPE(sel) != SEL_CHANGED) return 0;
    ++calls;
    return answer;
  }
};

class IconListTest : public kvtest::GuiTest {
 protected:
  void make(int rows, FXuint options = 0, int style = FXKIconList::STYLE_DETAILS, bool columns = true) {
    browser = new TitledBrowser(app.get(), {{"", rows}});
    list = new VetoList(main, browser, options | LAYOUT_FILL_X | LAYOUT_FILL_Y);
    browser->release();  // the list holds it now
    list->addViewStyle(style);
    if (columns) {
      list->appendColumn(column(0, u"Name", u"NAME", FXKColumnRecord::COLUMN_SORTABLE | FXKColumnRecord::COLUMN_STRETCH));
      list->appendColumn(column(1, u"Kind", u"KIND", FXKColumnRecord::COLUMN_SORTABLE | FXKColumnRecord::COLUMN_GROUPABLE));
    }
    fill();
  }
  // A list in one style over the given browser, which it then holds, with a
  // stretching name column only (and the frame image, if any), shown and
  // filled.
  void makeNamed(FXKBrowser* over, int style, FXImage* selectionFrame = nullptr) {
    list = new VetoList(main, over, LAYOUT_FILL_X | LAYOUT_FILL_Y);
    over->release();
    list->addViewStyle(style);
    list->appendColumn(column(0, u"Name", nullptr, FXKColumnRecord::COLUMN_STRETCH));
    if (selectionFrame) list->setSelectionImage(selectionFrame);
    fill();
  }
  static FXKColumnRecord column(FXint key, const char16_t* caption, const char16_t* name, FXuint flags) {
    FXKColumnRecord record;
    record.key = key;
    record.caption = FXWString(caption);
    if (name) record.name = FXWString(name);
    record.flags = flags;
    return record;
  }
  void fill() {
    show();
    list->refresh(FXKBrowser::UPDATE_REBUILD);
    settle();
  }
  // The pointer moves over the middle of the item; the motion event.
  FXEvent hover(FXKIconItem* entry) {
    const FXPoint p = entry->toWindow(FXPoint(entry->width / 2, entry->height / 2));
    FXEvent ev{};
    ev.type = SEL_MOTION;
    ev.win_x = p.x, ev.win_y = p.y;
    list->handle(list, FXSEL(SEL_MOTION, 0), &ev);
    drain();
    return ev;
  }
  // A 20-pixel selection frame image, all green.
  std::unique_ptr<FXImage> greenFrame() {
    auto frame = std::make_unique<FXImage>(app.get(), nullptr, IMAGE_KEEP | IMAGE_OWNED, 20, 20);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) frame->setPixel(x, y, FXRGB(0, 200, 0));
    frame->create();
    return frame;
  }
  // Three square icons (16, 32, 48 pixels) all of one colour.
  std::vector<std::unique_ptr<FXIcon>> plainIcons(FXColor colour) {
    std::vector<std::unique_ptr<FXIcon>> icons;
    for (FXint side : {16, 32, 48}) {
      icons.push_back(std::make_unique<FXIcon>(app.get(), nullptr, 0, IMAGE_OWNED, side, side));
      for (FXint y = 0; y < side; ++y)
        for (FXint x = 0; x < side; ++x) icons.back()->setPixel(x, y, colour);
    }
    return icons;
  }
  void settle() {
    list->layout();
    app->runWhileEvents(nullptr);
    drain();
  }
  FXKIconItem* item(const std::string& path) {
    PathItem key(path);
    return dynamic_cast<FXKIconItem*>(list->findNode(&key));
  }
  std::string order() const {
    std::string out;
    for (FXKBrowserViewItem* node : list->items()) out += (out.empty() ? "" : ",") + pathOf(node->item.get());
    return out;
  }
  std::string current() const { return pathOf(list->itemOf(list->getCurrentNode())); }
  long key(FXuint code, FXuint state = 0) {
    FXEvent ev{};
    ev.type = SEL_KEYPRESS;
    ev.code = code;
    ev.state = state;
    const long answer = list->handle(list, FXSEL(SEL_KEYPRESS, 0), &ev);
    drain();
    list->layout();
    return answer;
  }
  TitledBrowser* browser = nullptr;
  VetoList* list = nullptr;
};

// ---- items: line breaking

TEST_F(IconListTest, LineBreakingAndEllipsis) {
  make(0);
  FXFont* font = list->getFont();
  const auto w = [&](const char* s) { return font->getTextWidth(s, static_cast<FXuint>(std::strlen(s))); };
  const FXint dots = w("...");
  struct Case {
    const char16_t* text;
    FXint maxWidth, maxLines;
    bool single;
    std::vector<std::string> lines;
    bool ellipsis;
  };
  // The widths come from the font; the cut points are what a reader sees.
  const FXint two = std::max(w("two"), w("words")) + 1;  // fits each word, not both
  std::vector<Case> cases = {
      {u"", 100, 2, false, {}, false},
      {u"two words", two, 2, false, {"two", "words"}, false},
      {u"short", 200, 1, true, {"short"}, false},
      {u"text\n  \n", 200, 2, false, {"text"}, false},
      // Nothing fits: one character per line, then an empty ellipsis line,
      // and breaking ends.
      {u"abc", 1, 2, false, {"a", ""}, true},
  };
  for (const Case& c : cases) {
    FXKIconItemTextSimple part;
    part.setText(FXWString(c.text));
    part.breakLines(font, c.maxWidth, c.maxLines, c.single);
    std::vector<std::string> got;
    const std::string all = utf8(part.getText());
    for (const auto& l : part.lines()) got.push_back(all.substr(l.start, l.end - l.start));
    EXPECT_EQ(got, c.lines) << utf8(FXWString(c.text));
    EXPECT_EQ((part.lineFlags() & FXKIconItemTextSimple::FLAG_ELLIPSIS) != 0, c.ellipsis) << utf8(FXWString(c.text));
  }
  // A single word wider than a details cell: cut after the longest prefix
  // strictly narrower than the width less "...".
  FXKIconItemTextSimple word;
  word.setText(FXWString(u"abcdefghijklmnop"));
  const FXint max = w("abcdefgh") + dots;
  word.breakLines(font, max, 1, true);
  ASSERT_EQ(word.lines().size(), 1u);
  EXPECT_EQ(word.lines()[0].end, 7);  // "abcdefgh" is not strictly narrower
  EXPECT_TRUE(word.lineFlags() & FXKIconItemTextSimple::FLAG_ELLIPSIS);
  // In a two-line icon label the same word continues on line two, cut
  // without "..." on line one.
  FXKIconItemTextSimple icon;
  icon.setText(FXWString(u"abcdefghijklmnop"));
  icon.breakLines(font, w("abcdefgh") + 1, 2, false);
  ASSERT_GE(icon.lines().size(), 2u);
  EXPECT_EQ(icon.lines()[0].end, 8);
  EXPECT_EQ(icon.lines()[1].start, 8);
  EXPECT_EQ(word.getWidth(font), w("abcdefghijklmnop"));
}

// Column measuring sums kept character widths for ASCII texts: the sums must
// be what the font itself measures.
TEST_F(IconListTest, PlainTextWidthsAreTheFontsOwn) {
  make(1);
  FXFont* font = list->getFont();
  ASSERT_TRUE(font && font->id());
  for (const char16_t* text : {u"", u"Item 12345", u"kind 9972", u"WAVE fi fl ff", u"{[(|)]}~!", u"Gr\u00fc\u00dfe \u20ac"}) {
    const FXWString w(text);
    const std::string narrow = w.toUtf8();
    EXPECT_EQ(list->plainTextWidth(font, w), font->getTextWidth(narrow.c_str(), narrow.size())) << narrow;
  }
}

TEST_F(IconListTest, RatingValueAndStars) {
  make(0);
  FXKIconItemRating rating(list, nullptr, 5);
  const std::pair<const char16_t*, FXint> cases[] = {{u"3", 3}, {u"x", 3}, {u"", 0}, {u"5", 5}, {u"9", 5}};
  for (auto [text, value] : cases) {
    rating.setText(FXWString(text));
    EXPECT_EQ(rating.value(), value) << utf8(FXWString(text));
  }
  EXPECT_EQ(FXKIconItemRating::starAt(8), 0);
  EXPECT_EQ(FXKIconItemRating::starAt(9), 1);
  EXPECT_EQ(FXKIconItemRating::starAt(20), 2);
  EXPECT_EQ(FXKIconItemRating::starAt(3 + 17 * 4 + 1), 5);
}

TEST_F(IconListTest, PartKindFollowsTheColumn) {
  make(1);
  FXKIconItem* row = item("1");
  ASSERT_NE(row, nullptr);
  FXKHeader* header = list->getHeader();
  FXKColumnRecord* kind = header->getColumn(header->findColumn(1));
  kind->flags |= FXKColumnRecord::COLUMN_RATING;
  row->setColumnText(1, FXWString(u"2"));
  FXKIconItemText* rating = row->cell(1)->part.get();
  EXPECT_TRUE(rating->handlesMouse());
  // Rating to plain keeps the part; plain to markup replaces it.
  kind->flags &= ~FXKColumnRecord::COLUMN_RATING;
  row->ensureCell(1);
  EXPECT_EQ(row->cell(1)->part.get(), rating);
  kind->flags |= FXKColumnRecord::COLUMN_MARKUP;
  row->ensureCell(1);
  EXPECT_TRUE(row->cell(1)->part->isFormatted());
  EXPECT_EQ(utf8(row->getColumnText(1)), "2");
}

// ---- the list: cells, columns, groups

TEST_F(IconListTest, CellSizePerViewStyle) {
  make(3, 0, FXKIconList::STYLE_DETAILS);
  for (int s = 1; s <= 6; ++s) list->addViewStyle(s);
  FXFont* font = list->getFont();
  const FXint fh = font->getFontHeight(), m = font->getTextWidth("M", 1);
  struct Case {
    int style;
    FXint width, height;  // -1: not fixed by the table
  };
  const Case cases[] = {
      {FXKIconList::STYLE_DETAILS, -1, std::max(fh, 20)},
      {FXKIconList::STYLE_ICONS, std::max(72, 7 * m), 72},
      {FXKIconList::STYLE_THUMBNAILS, std::max(72, 7 * m) + 16, 88},
      {FXKIconList::STYLE_TILES, 196, 52},
      {FXKIconList::STYLE_LIST, -1, std::max(fh, 20)},
  };
  for (const Case& c : cases) {
    list->setViewStyle(c.style, false);
    settle();
    if (c.width >= 0) {
      EXPECT_EQ(list->getCellWidth(), c.width) << c.style;
    }
    EXPECT_EQ(list->getRowHeight(), c.height) << c.style;
  }
  list->setViewStyle(FXKIconList::STYLE_LIST, false);
  settle();
  EXPECT_EQ(list->getCellWidth(), item("1")->getDefaultWidth());
}

TEST_F(IconListTest, ViewStylesAndNames) {
  make(0, 0, FXKIconList::STYLE_DETAILS);
  list->addViewStyle(FXKIconList::STYLE_DETAILS);
  EXPECT_EQ(list->viewStyles().size(), 1u);
  EXPECT_EQ(list->getViewStyle(), FXKIconList::STYLE_DETAILS);
  EXPECT_TRUE(list->getViewStyleName(0).empty());
  EXPECT_TRUE(list->getViewStyleName(7).empty());
  EXPECT_EQ(utf8(list->getViewStyleName(5)), "TILES");
  list->setViewStyleByName(FXWString(u"ICONS"));  // not allowed
  EXPECT_EQ(list->getViewStyle(), FXKIconList::STYLE_DETAILS);
  EXPECT_EQ(list->getContentHeight(), 0);
}

TEST_F(IconListTest, ColumnsFitTheWindowWithoutMoreThanDoubling) {
  make(3);
  FXKHeader* header = list->getHeader();
  const FXint name = header->getItemSize(header->findColumn(0));
  const FXint kind = header->getItemSize(header->findColumn(1));
  // The stretchable name column takes the rest of the viewport; the other
  // keeps its measured size.
  const FXint available = list->getWidth() - (list->verticalScrollBar()->shown() ? list->verticalScrollBar()->getDefaultWidth() : 0);
  EXPECT_EQ(name + kind, available);
  EXPECT_EQ(kind, std::max(header->getDefaultItemWidth(1), item("1")->getCellWidth(1)));
  // Without a stretchable column nothing changes.
  header->getColumn(0)->flags &= ~FXKColumnRecord::COLUMN_STRETCH;
  header->setItemSize(0, 50);
  main->resize(500, 300);
  settle();
  EXPECT_EQ(header->getItemSize(0), 50);
}

TEST_F(IconListTest, TilesGridWrapsTheThirdItem) {
  make(3, 0, FXKIconList::STYLE_TILES);
  // Two cells of 196 + 16 fit in 440 pixels, three do not.
  main->resize(440, 300);
  settle();
  FXKIconItem* a = item("1");
  FXKIconItem* b = item("2");
  FXKIconItem* c = item("3");
  EXPECT_EQ(a->x, 5);
  EXPECT_EQ(b->x, 5 + 196 + 16);
  EXPECT_EQ(b->y, a->y);
  EXPECT_EQ(c->x, 5);
  EXPECT_EQ(c->y, a->y + b->height + 16);
  EXPECT_EQ(a->width, 196);
  EXPECT_GE(a->height, 52);
}

// Text columns sort case-insensitively unit by unit: texts that agree in
// their first sixteen letters, a text that is the start of another, equal
// texts in other cases (kept in their order, also when descending), digits
// as text, and a letter beyond ASCII after every ASCII one.
TEST_F(IconListTest, TextSortOrderTable) {
  make(8);
  browser->titles = {{"1", "Item 10"}, {"2", "item 9"}, {"3", "ABCDEFGHIJKLMNOPz"}, {"4", "abcdefghijklmnopA"},
                     {"5", "abc"},     {"6", "ABC"},    {"7", "\xC3\x84pfel"},    {"8", "zebra"}};
  list->refresh(FXKBrowser::UPDATE_REBUILD);
  settle();
  FXKHeader* header = list->getHeader();
  const auto click = [&] {
    list->handle(header, FXSEL(SEL_COMMAND, FXKIconList::ID_HEADER),
                 reinterpret_cast<void*>(static_cast<FXival>(header->findColumn(0))));
    return order();
  };
  list->setSortColumn(1, 1);
  EXPECT_EQ(click(), "5,6,4,3,1,2,8,7");
  EXPECT_EQ(click(), "7,8,2,1,3,4,5,6");
  EXPECT_EQ(click(), "5,6,4,3,1,2,8,7");
}

TEST_F(IconListTest, SortTogglesPerColumn) {
  make(3);
  browser->titles = {{"1", "b"}, {"2", "C"}, {"3", "a"}};
  list->refresh(FXKBrowser::UPDATE_REBUILD);
  item("1")->setColumnText(1, FXWString(u"10"));
  item("2")->setColumnText(1, FXWString(u"9"));
  item("3")->setColumnText(1, FXWString(u"11"));
  FXKHeader* header = list->getHeader();
  const auto click = [&](FXint key) {
    list->handle(header, FXSEL(SEL_COMMAND, FXKIconList::ID_HEADER),
                 reinterpret_cast<void*>(static_cast<FXival>(header->findColumn(key))));
    return order();
  };
  // Name: the first click on a new column ascends, the next descend and
  // ascend; case does not count.
  list->setSortColumn(1, 1);
  EXPECT_EQ(click(0), "3,1,2");
  EXPECT_EQ(click(0), "2,1,3");
  EXPECT_EQ(click(0), "3,1,2");
  // Text comparison of numbers: "10" < "11" < "9".
  EXPECT_EQ(click(1), "1,3,2");
  // Numeric columns put 9 before 10.
  header->getColumn(header->findColumn(1))->flags |= FXKColumnRecord::COLUMN_NUMERIC;
  EXPECT_EQ(click(1), "3,1,2");  // the second click descends
  EXPECT_EQ(click(1), "2,1,3");
  // A column remembers its direction: name was last ascending.
  EXPECT_EQ(click(0), "3,1,2");
  list->handle(list, FXSEL(SEL_UPDATE, FXKIconList::ID_HEADER), nullptr);
  EXPECT_EQ(header->getArrowDir(header->findColumn(0)), TRUE);
  EXPECT_EQ(header->getArrowDir(header->findColumn(1)), MAYBE);
  // A column that is not sortable ignores clicks.
  header->getColumn(header->findColumn(1))->flags &= ~FXKColumnRecord::COLUMN_SORTABLE;
  EXPECT_EQ(click(1), "3,1,2");
}

TEST_F(IconListTest, GroupByHidesTheColumnAndUngroupShowsIt) {
  make(4);
  list->setGroupingAllowed(true);
  const char* kinds[] = {"x", "y", "x", "z"};
  for (int i = 0; i < 4; ++i) item(std::to_string(i + 1))->setColumnText(1, FXWString::fromUtf8(kinds[i]));
  // Rebuilding keeps cells only from the browser: kinds come back by hook.
  FXKHeader* header = list->getHeader();
  const FXint kindIndex = header->findColumn(1);
  // Texts are per node; group on the texts present now.
  list->setGroupColumnKey(1);
  list->regroupRows();
  settle();
  ASSERT_EQ(list->groupCount(), 3u);
  std::map<std::string, std::vector<std::string>> groups;
  for (std::size_t i = 0; i < list->groupCount(); ++i) {
    auto* g = static_cast<FXKIconGroup*>(list->group(i));
    for (FXKTerminal* t : g->children) groups[utf8(g->getText())].push_back(pathOf(static_cast<FXKIconItem*>(t)->item.get()));
  }
  EXPECT_EQ(groups["x"], (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(groups["y"], (std::vector<std::string>{"2"}));
  EXPECT_EQ(groups["z"], (std::vector<std::string>{"4"}));
  // The menu command groups and hides; the same command again ungroups.
  list->setGroupColumnKey(FXKIconList::kNoGroup);
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_GROUP_BY + 1), nullptr);
  EXPECT_EQ(list->groupColumn, 1);
  EXPECT_FALSE(header->isColumnVisible(kindIndex));
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_GROUP_BY + 1), nullptr);
  EXPECT_EQ(list->groupColumn, FXKIconList::kNoGroup);
  EXPECT_TRUE(header->isColumnVisible(kindIndex));
  EXPECT_EQ(list->groupCount(), 1u);
  // A column hidden before grouping stays hidden after ungrouping.
  header->hideColumn(kindIndex, true);
  list->groupByColumn(1);
  list->groupByColumn(FXKIconList::kNoGroup);
  EXPECT_FALSE(header->isColumnVisible(kindIndex));
}

TEST_F(IconListTest, GroupChecksAggregateAndRollBackWhenRefused) {
  make(3, FXKIconList::ICONLIST_GROUP_CHECKS | FXKIconList::ICONLIST_GROUP_CHECKS_ITEMS);
  auto* g = static_cast<FXKIconGroup*>(list->group(0));
  ASSERT_NE(g, nullptr);
  FXKBrowser::StateSet& checked = browser->stateSet(FXKBrowser::STATE_CHECKED);
  EXPECT_EQ(g->getCheckState(), 0);
  // One item of three checked: mixed; all: checked.
  browser->setItemState(FXKBrowser::STATE_CHECKED, item("1")->item.get(), true, true);
  EXPECT_EQ(g->getCheckState(), 2);
  browser->setItemState(FXKBrowser::STATE_CHECKED, item("2")->item.get(), true, true);
  browser->setItemState(FXKBrowser::STATE_CHECKED, item("3")->item.get(), true, true);
  EXPECT_EQ(g->getCheckState(), 1);
  // Toggling a mixed group unchecks all its items.
  browser->setItemState(FXKBrowser::STATE_CHECKED, item("3")->item.get(), false, true);
  EXPECT_EQ(g->getCheckState(), 2);
  list->handle(list, FXSEL(SEL_COMMAND, FXKBrowserView::ID_TOGGLE_GROUP_CHECK), g);
  EXPECT_EQ(checked.size(), 0u);
  EXPECT_EQ(g->getCheckState(), 0);
  // Refused: items and group come back as they were.
  browser->setItemState(FXKBrowser::STATE_CHECKED, item("2")->item.get(), true, true);
  ASSERT_EQ(g->getCheckState(), 2);
  list->refuse = true;
  list->handle(list, FXSEL(SEL_COMMAND, FXKBrowserView::ID_TOGGLE_GROUP_CHECK), g);
  EXPECT_EQ(g->getCheckState(), 2);
  EXPECT_EQ(checked.size(), 1u);
  EXPECT_TRUE(checked.contains(item("2")->item.get()));
  list->refuse = false;
  // Check all and uncheck all use the activation set (here: selection).
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_CHECK_ALL), nullptr);
  EXPECT_EQ(browser->stateSet(FXKBrowser::STATE_SELECTED).size(), 3u);
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_UNCHECK_ALL), nullptr);
  EXPECT_EQ(browser->stateSet(FXKBrowser::STATE_SELECTED).size(), 0u);
  // With check marks they use the checked set, told in one notification:
  // the group's box follows all its items at once.
  browser->setMode(FXKBrowser::MODE_MULTIPLE | FXKBrowser::MODE_CLICK_CHECKS);
  browser->setItemEnabled(item("3")->item.get(), false, false);
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_CHECK_ALL), nullptr);
  EXPECT_EQ(checked.size(), 2u);  // the disabled item stays out
  EXPECT_EQ(g->getCheckState(), 2);
  browser->setItemEnabled(item("3")->item.get(), true, false);
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_CHECK_ALL), nullptr);
  EXPECT_EQ(checked.size(), 3u);
  EXPECT_EQ(g->getCheckState(), 1);
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_UNCHECK_ALL), nullptr);
  EXPECT_EQ(checked.size(), 0u);
  EXPECT_EQ(g->getCheckState(), 0);
}


// ---- groups: captions, expanders, hover

TEST_F(IconListTest, GroupCaptionHitTestAndExpander) {
  make(3, FXKIconList::ICONLIST_GROUP_CHECKS | FXKIconList::ICONLIST_EXPANDERS);
  auto* g = static_cast<FXKIconGroup*>(list->group(0));
  g->setText(FXWString(u"Group"));
  g->requestLayout();
  settle();
  ASSERT_GT(g->captionRect().h, 0);
  const FXRectangle check = g->checkRect();
  const FXRectangle caption = g->captionRect();
  if (g->captionStyle() == 0) {
    EXPECT_EQ(g->hitTestCaption(FXPoint(check.x + 1, check.y + 1)), 3);
    EXPECT_EQ(g->hitTestCaption(FXPoint(caption.x + 200, caption.y + 1)), 5);
  }
  EXPECT_EQ(g->hitTestCaption(FXPoint(1, caption.y + caption.h + 40)), 0);
  // Items start below the caption.
  EXPECT_GE(g->children.front()->y, caption.y + caption.h);
  // Collapsing leaves only the caption; expanding brings the items back.
  const FXint full = g->height;
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_TOGGLE_EXPAND), g);
  settle();
  EXPECT_EQ(g->getExpandState(), 1);
  EXPECT_LT(g->height, full);
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_TOGGLE_EXPAND), g);
  settle();
  EXPECT_EQ(g->getExpandState(), 0);
  EXPECT_EQ(g->height, full);
}

// Sub-groups are further groups right after their parent (after its last
// sub-group), indented by 5 per level, never header style, and take no room
// while the parent is collapsed.
TEST_F(IconListTest, SubgroupsFollowTheirParentIndentedAndFoldWithIt) {
  make(2, FXKIconList::ICONLIST_EXPANDERS);
  auto* g = static_cast<FXKIconGroup*>(list->group(0));
  ASSERT_NE(g, nullptr);
  FXKIconGroup* a = list->createSubgroup(g, 5, nullptr);
  FXKIconGroup* b = list->createSubgroup(g, 6, nullptr);
  FXKIconGroup* inner = list->createSubgroup(a, 7, nullptr);
  a->setText(FXWString(u"A"));
  b->setText(FXWString(u"B"));
  inner->setText(FXWString(u"inner"));
  std::vector<FXint> keys;
  for (std::size_t i = 0; i < list->groupCount(); ++i) keys.push_back(list->group(i)->key);
  EXPECT_EQ(keys, (std::vector<FXint>{FXKIconList::kNoGroup, 5, 7, 6}));
  EXPECT_EQ(g->subgroups(), (std::vector<FXKIconGroup*>{a, b}));
  EXPECT_EQ(a->subgroups(), (std::vector<FXKIconGroup*>{inner}));
  EXPECT_EQ(a->parentGroup(), g);
  EXPECT_EQ(a->indent(), 5);
  EXPECT_EQ(inner->indent(), 10);
  EXPECT_EQ(a->captionStyle(), 0);
  list->recalc();
  settle();
  EXPECT_GT(a->getDefaultHeight(list->getWidth()), 0);
  // The caption text moves right by the indent.
  EXPECT_EQ(inner->textRect().x - a->textRect().x, 5);
  // Collapsed parent: its sub-groups take no room; the parent keeps its caption.
  g->setExpandState(1, false);
  EXPECT_EQ(a->getDefaultHeight(list->getWidth()), 0);
  EXPECT_EQ(b->getDefaultHeight(list->getWidth()), 0);
  g->setExpandState(0, false);
  EXPECT_GT(b->getDefaultHeight(list->getWidth()), 0);
  // A sub-group that goes leaves its parent's list; its own sub-groups stay.
  delete a;
  EXPECT_EQ(g->subgroups(), (std::vector<FXKIconGroup*>{b}));
  EXPECT_EQ(inner->parentGroup(), nullptr);
  settle();
}

TEST_F(IconListTest, AnimationWithNothingToAnimateEnds) {
  make(0, FXKIconList::ICONLIST_EXPANDERS);
  // A group without items or caption: its full height is its caption's.
  auto* g = static_cast<FXKIconGroup*>(list->createGroup(5, nullptr));
  settle();
  const auto start = std::chrono::steady_clock::now();
  g->setExpandState(1, true);
  g->setExpandState(0, true);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(g->getExpandState(), 0);
}

TEST_F(IconListTest, CategoryHoverMakesCurrentAndOneClickActivates) {
  make(3, 0, FXKIconList::STYLE_CATEGORY);
  struct Types : FXObject {
    std::vector<FXuint> types;
    long handle(FXObject*, FXSelector sel, void*) override {
      types.push_back(FXSELTYPE(sel));
      return 1;
    }
  } target;
  list->setTarget(&target);
  FXKIconItem* second = item("2");
  FXEvent ev = hover(second);
  EXPECT_EQ(list->hotItem(), second);
  EXPECT_EQ(pathOf(browser->getCurrentItem()), "2");
  list->handle(list, FXSEL(SEL_CLICKED, 0), second->item.get());
  ASSERT_FALSE(target.types.empty());
  EXPECT_EQ(target.types.back(), FXuint(SEL_DOUBLECLICKED));
  list->handle(list, FXSEL(SEL_LEAVE, 0), &ev);
  EXPECT_EQ(list->hotItem(), nullptr);
  EXPECT_EQ(list->getCurrentNode(), nullptr);
  EXPECT_EQ(list->handle(list, FXSEL(SEL_QUERY_TIP, 0), nullptr), 0);  // no tooltips in this style
  list->setTarget(nullptr);
}

TEST_F(IconListTest, CheckColumnClickTogglesWithoutSelecting) {
  make(2);
  browser->setMode(FXKBrowser::MODE_MULTIPLE | FXKBrowser::MODE_CLICK_CHECKS);
  list->refresh(FXKBrowser::UPDATE_REBUILD);
  settle();
  FXKHeader* header = list->getHeader();
  const FXint index = header->findColumn(FXKIconList::kCheckColumn);
  ASSERT_EQ(index, 0);
  EXPECT_TRUE(header->isColumnVisible(index));
  FXKIconItem* row = item("2");
  ASSERT_NE(row->cell(FXKIconList::kCheckColumn), nullptr);
  const FXPoint p = row->toWindow(FXPoint(header->getItemOffset(index) + 3, row->height / 2));
  FXEvent ev{};
  ev.type = SEL_LEFTBUTTONPRESS;
  ev.win_x = p.x, ev.win_y = p.y;
  ev.click_count = 1;
  list->handle(list, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
  drain();
  EXPECT_EQ(browser->getCheckState(row->item.get()), 1);
  EXPECT_FALSE(browser->isSelected(row->item.get()));
}

TEST_F(IconListTest, SettingsRoundTrip) {
  make(2);
  for (int s = 1; s <= 6; ++s) list->addViewStyle(s);
  list->setViewStyle(FXKIconList::STYLE_TILES, false);
  list->sortByColumnKey(1);
  list->sortByColumnKey(1);  // descending
  list->getHeader()->hideColumn(1, true);
  list->writeSettings();
  list->setViewStyle(FXKIconList::STYLE_DETAILS, false);
  list->getHeader()->showColumn(1, true);
  list->setSortColumn(0, 1);
  EXPECT_TRUE(list->readSettings());
  EXPECT_EQ(list->getViewStyle(), FXKIconList::STYLE_TILES);
  EXPECT_EQ(list->sortColumn, 1);
  EXPECT_EQ(list->sortOrder, -1);
  EXPECT_FALSE(list->getHeader()->isColumnVisible(1));
}


TEST_F(IconListTest, DetailsEditorWidensToTheViewportEdge) {
  make(2);
  list->setFocus();
  settle();
  list->startEdit(item("1"), 0);
  list->getEditor()->setText(FXString('W', 200));
  list->handle(list->getEditor(), FXSEL(SEL_CHANGED, FXKIconList::ID_EDITOR), nullptr);
  settle();
  FXKIconListEditFiled* editor = list->getEditor();
  EXPECT_TRUE(editor->shown());
  EXPECT_EQ(editor->getX() + editor->getWidth(), list->getViewportWidth() - 1);
  key(KEY_Escape);
}

TEST_F(IconListTest, LinkTextClickSendsTheColumn) {
  make(1);
  FXKHeader* header = list->getHeader();
  header->getColumn(header->findColumn(1))->flags |= FXKColumnRecord::COLUMN_LINK;
  FXKIconItem* row = item("1");
  row->setColumnText(1, FXWString(u"open"));
  settle();
  const FXint offset = header->getItemOffset(header->findColumn(1));
  const FXint textWidth = list->getFont()->getTextWidth("open", 4);
  const FXPoint on = row->toWindow(FXPoint(0, row->height / 2));
  FXEvent ev{};
  ev.type = SEL_LEFTBUTTONPRESS;
  ev.click_count = 1;
  ev.win_y = on.y;
  // On the text: the link command with the column's index.
  ev.win_x = offset + 3;
  EXPECT_EQ(list->handle(list, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev), 1);
  drain();
  EXPECT_EQ(list->links, (std::vector<FXint>{header->findColumn(1)}));
  // Beside it: an ordinary click.
  ev.win_x = offset + textWidth + 10;
  list->handle(list, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
  drain();
  EXPECT_EQ(list->links.size(), 1u);
  EXPECT_EQ(pathOf(browser->getCurrentItem()), "1");
}


TEST_F(IconListTest, CategoryHotItemGetsTheSelectionFrame) {
  make(3, 0, FXKIconList::STYLE_CATEGORY);
  const std::unique_ptr<FXImage> green = greenFrame();
  FXImage& frame = *green;
  list->setSelectionImage(&frame);
  settle();
  FXKIconItem* second = item("2");
  FXEvent ev = hover(second);
  ASSERT_EQ(list->hotItem(), second);
  const auto paintedAt = [&](FXKIconItem* it) {
    FXImage image(app.get(), nullptr, IMAGE_KEEP | IMAGE_OWNED, list->getWidth(), list->getHeight());
    image.create();
    {
      FXDCWindow dc(&image);
      list->paintList(dc, FXRectangle(0, 0, list->getWidth(), list->getHeight()));
    }
    image.restore();
    const FXPoint corner = it->toWindow(FXPoint(1, 1));
    return image.getPixel(corner.x, corner.y) & 0xFFFFFF;
  };
  EXPECT_EQ(paintedAt(second), FXColor(FXRGB(0, 200, 0)) & 0xFFFFFF);
  EXPECT_NE(paintedAt(item("1")), FXColor(FXRGB(0, 200, 0)) & 0xFFFFFF);
  list->handle(list, FXSEL(SEL_LEAVE, 0), &ev);
  list->setSelectionImage(nullptr);
}

// A browser whose items all show one solid icon per size.
class IconBrowser : public TitledBrowser {
 public:
  using TitledBrowser::TitledBrowser;
  FXIcon* icons[3] = {};
  FXIcon* getItemIcon(const FXKBrowserItem*, int size) override { return size >= 0 && size < 3 ? icons[size] : nullptr; }
};

// An entry that is neither selected nor current paints its icon, in every
// style, with and without a frame image in the category style.
TEST_F(IconListTest, UnselectedEntriesShowTheirIcons) {
  const FXColor red = FXRGB(255, 0, 0);
  const std::vector<std::unique_ptr<FXIcon>> icons = plainIcons(red);
  const std::unique_ptr<FXImage> green = greenFrame();
  FXImage& frame = *green;
  const struct {
    int style;
    bool frame;
  } cases[] = {
      {FXKIconList::STYLE_LIST, false},       {FXKIconList::STYLE_DETAILS, false},
      {FXKIconList::STYLE_ICONS, false},      {FXKIconList::STYLE_THUMBNAILS, false},
      {FXKIconList::STYLE_TILES, false},      {FXKIconList::STYLE_CATEGORY, false},
      {FXKIconList::STYLE_CATEGORY, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style << (c.frame ? " with a frame" : ""));
    auto* b = new IconBrowser(app.get(), {{"", 3}});
    for (int k = 0; k < 3; ++k) b->icons[k] = icons[k].get();
    makeNamed(b, c.style, c.frame ? &frame : nullptr);
    b->clearState(FXKBrowser::STATE_SELECTED, true);
    settle();
    for (const char* path : {"1", "2", "3"}) {
      SCOPED_TRACE(path);
      FXKIconItem* entry = item(path);
      ASSERT_NE(entry, nullptr);
      entry->layoutIfNeeded();
      ASSERT_FALSE(list->isItemSelected(entry->item.get()));
      if (list->isItemFocused(entry->item.get())) continue;  // the current entry is drawn its own way
      const FXRectangle icon = entry->cell(0)->icon;
      ASSERT_GT(icon.w, 0);
      const FXPoint p = entry->toWindow(FXPoint(icon.x + icon.w / 2, icon.y + icon.h / 2));
      EXPECT_EQ(pixelOnceShown(list, p.x, p.y, red | 0xFF000000u), red | 0xFF000000u);
    }
    list->setSelectionImage(nullptr);
    delete list;
    list = nullptr;
  }
}

// Thumbnails lay their entries out in a grid of cells as the icons style
// does, each the large icon centred over its label: the whole 48-pixel icon
// shows (a 32-pixel one would leave its lower right corner bare), the label
// is written below it, and a click on an entry makes it current.
TEST_F(IconListTest, ThumbnailsShowTheLargeIconOverTheLabel) {
  const FXColor red = FXRGB(255, 0, 0) | 0xFF000000u;
  const std::vector<std::unique_ptr<FXIcon>> icons = plainIcons(red);
  auto* b = new IconBrowser(app.get(), {{"", 5}});
  for (int k = 0; k < 3; ++k) b->icons[k] = icons[k].get();
  browser = b;
  makeNamed(b, FXKIconList::STYLE_THUMBNAILS);
  b->clearState(FXKBrowser::STATE_SELECTED, true);
  settle();
  const FXint m = list->getFont()->getTextWidth("M", 1);
  const FXint cell = std::max(72, 7 * m) + 16;
  ASSERT_EQ(list->getCellWidth(), cell);
  FXKIconItem* previous = nullptr;
  for (int i = 1; i <= 5; ++i) {
    SCOPED_TRACE(i);
    FXKIconItem* entry = item(std::to_string(i));
    ASSERT_NE(entry, nullptr);
    // Cells 16 apart from x = 5; a row ends where the next cell would
    // pass the group's right edge.
    if (!previous) {
      EXPECT_EQ(entry->x, 5);
    } else if (previous->x + 2 * (cell + 16) - 16 > entry->parent->width) {
      EXPECT_EQ(entry->x, 5);
      EXPECT_GE(entry->y, previous->y + 88 + 16);
    } else {
      EXPECT_EQ(entry->x, previous->x + cell + 16);
      EXPECT_EQ(entry->y, previous->y);
    }
    previous = entry;
    EXPECT_EQ(entry->width, cell);
    EXPECT_GE(entry->height, 88);
    entry->layoutIfNeeded();
    const FXRectangle icon = entry->cell(0)->icon;
    EXPECT_EQ(icon.w, 48);
    EXPECT_EQ(icon.x, (cell - 48) / 2);
    const FXRectangle text = entry->cell(0)->text;
    EXPECT_EQ(text.y, icon.y + 48 + 2);
    EXPECT_GT(text.w, 0);
    EXPECT_EQ(text.x, 2 + (cell - 4 - text.w) / 2);  // centred
    if (list->isItemFocused(entry->item.get())) continue;
    for (const FXPoint& corner : {FXPoint(icon.x + 1, icon.y + 1), FXPoint(icon.x + 46, icon.y + 46)}) {
      const FXPoint p = entry->toWindow(corner);
      EXPECT_EQ(pixelOnceShown(list, p.x, p.y, red), red) << corner.x << "," << corner.y;
    }
  }
  FXKIconItem* first = item("1");
  FXKIconItem* last = item("5");
  EXPECT_GT(last->y, first->y + first->height);
  // The label is painted: ink of the text colour inside its rectangle.
  const FXRectangle text = last->cell(0)->text;
  const FXPoint origin = last->toWindow(FXPoint(text.x, text.y));
  const FXColor ink = list->getColor(1, nullptr, true) | 0xFF000000u;
  EXPECT_TRUE(shownWithin(list, [&] {
    FXImage shot(app.get(), nullptr, IMAGE_KEEP | IMAGE_OWNED, list->getWidth(), list->getHeight());
    shot.create();
    {
      FXDCWindow dc(&shot);
      dc.drawArea(list, 0, 0, list->getWidth(), list->getHeight(), 0, 0);
    }
    shot.restore();
    for (FXint y = origin.y; y < origin.y + text.h; ++y)
      for (FXint x = origin.x; x < origin.x + text.w; ++x)
        if ((shot.getPixel(x, y) | 0xFF000000u) == ink) return true;
    return false;
  }));
  // A click on the last entry's icon makes it current.
  const FXPoint at = last->toWindow(FXPoint(last->cell(0)->icon.x + 24, last->cell(0)->icon.y + 24));
  FXEvent ev{};
  ev.type = SEL_LEFTBUTTONPRESS;
  ev.click_count = 1;
  ev.win_x = at.x, ev.win_y = at.y;
  list->handle(list, FXSEL(SEL_LEFTBUTTONPRESS, 0), &ev);
  ev.type = SEL_LEFTBUTTONRELEASE;
  list->handle(list, FXSEL(SEL_LEFTBUTTONRELEASE, 0), &ev);
  drain();
  EXPECT_EQ(pathOf(browser->getCurrentItem()), "5");
}

// The current item shows its whole label while it is selected and the list
// has the focus, two lines otherwise; the other items keep their places
// throughout, also when every item is selected at once.
TEST_F(IconListTest, CurrentItemShowsItsFullLabelWhileSelected) {
  browser = new TitledBrowser(app.get(), {{"", 12}});
  browser->titles["2"] = "a label long enough to need more than two lines in an icon cell";
  makeNamed(browser, FXKIconList::STYLE_ICONS);
  // The display has no window manager to give the window the focus.
  list->handle(list, FXSEL(SEL_FOCUSIN, 0), nullptr);
  settle();
  const FXint fh = list->getFont()->getFontHeight();
  const auto places = [&] {
    std::vector<FXRectangle> out;
    for (FXKBrowserViewItem* node : list->items()) out.emplace_back(node->x, node->y, node->width, node->height);
    return out;
  };
  const auto textHeight = [&] {
    FXKIconItem* entry = item("2");
    entry->layoutIfNeeded();
    return entry->cell(0)->text.h;
  };
  const std::vector<FXRectangle> before = places();
  PathItem second("2");
  browser->clearState(FXKBrowser::STATE_SELECTED, true);
  browser->selectItem(&second, true, false);
  settle();
  ASSERT_TRUE(list->isItemFocused(item("2")->item.get()));
  ASSERT_FALSE(list->isItemSelected(item("2")->item.get()));
  EXPECT_EQ(textHeight(), 2 * fh);
  browser->stateSet(FXKBrowser::STATE_SELECTED).add(&second, true);
  settle();
  ASSERT_GT(static_cast<FXKIconItemTextSimple*>(item("2")->cell(0)->part.get())->getLineCount(), 2);
  EXPECT_GT(textHeight(), 2 * fh);
  browser->stateSet(FXKBrowser::STATE_SELECTED).remove(&second, true);
  settle();
  EXPECT_EQ(textHeight(), 2 * fh);
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_CHECK_ALL), nullptr);
  settle();
  EXPECT_GT(textHeight(), 2 * fh);
  const std::vector<FXRectangle> after = places();
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].x, before[i].x) << i;
    EXPECT_EQ(after[i].y, before[i].y) << i;
    EXPECT_EQ(after[i].w, before[i].w) << i;
    EXPECT_EQ(after[i].h, before[i].h) << i;
  }
}

// ---- keyboard

TEST_F(IconListTest, KeyboardTable) {
  make(40);
  list->setFocus();
  settle();
  // Items 1 and 40 are disabled.
  browser->setItemEnabled(item("1")->item.get(), false, false);
  browser->setItemEnabled(item("40")->item.get(), false, false);
  struct Step {
    FXuint code;
    long answer;
    std::string current;
  };
  const FXint page = list->verticalScrollBar()->getPage() / list->getRowHeight();
  const std::string down = std::to_string(2 + page);  // page down from 2 reaches a page lower
  const Step steps[] = {
      {KEY_Home, 1, "2"},         // the first enabled item
      {KEY_Down, 1, "3"},         {KEY_Up, 1, "2"},
      {KEY_Up, 1, "2"},           // nothing enabled above: scrolls to the top, handled
      {KEY_End, 1, "39"},         // walking back over the disabled last item
      {KEY_Left, 1, "39"},        // DETAILS: sideways scrolling only
      {KEY_F1, 0, "39"},          {KEY_Home, 1, "2"},
      {KEY_Page_Down, 1, down},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(key(s.code), s.answer) << s.code;
    EXPECT_EQ(current(), s.current) << s.code;
  }
  // Space toggles the check only in DETAILS and never with Alt.
  browser->setMode(FXKBrowser::MODE_MULTIPLE | FXKBrowser::MODE_CLICK_CHECKS);
  browser->setClickChecks(true);
  key(KEY_space, ALTMASK);
  EXPECT_EQ(browser->stateSet(FXKBrowser::STATE_CHECKED).size(), 0u);
  // Key releases of the arrows are swallowed, those of Home are not.
  FXEvent ev{};
  ev.code = KEY_Down;
  EXPECT_EQ(list->handle(list, FXSEL(SEL_KEYRELEASE, 0), &ev), 1);
  ev.code = KEY_Home;
  EXPECT_EQ(list->handle(list, FXSEL(SEL_KEYRELEASE, 0), &ev), 0);
}

TEST_F(IconListTest, DeleteAndInsertAskTheCommandHandler) {
  make(2);
  struct Handler : FXObject, FXKCommandHandler {
    std::set<int> enabled;
    std::vector<int> executed;
    bool isCommandEnabled(int id) override { return enabled.count(id) > 0; }
    void executeCommand(int id, void*) override { executed.push_back(id); }
  };
  EXPECT_EQ(key(KEY_Delete), 0);  // no handler
  auto* handler = new Handler;
  browser->setCommandHandler(handler);
  EXPECT_EQ(key(KEY_Delete), 0);  // not enabled
  handler->enabled = {66, 67};
  EXPECT_EQ(key(KEY_Delete), 1);
  EXPECT_EQ(key(KEY_KP_Insert), 1);
  EXPECT_EQ(handler->executed, (std::vector<int>{66, 67}));
}

// The item menu's Properties entry comes from the browser when its command
// handler enables command 62; the entry carries the item, which outlives the
// call that made the menu, so choosing it later hands the handler that item.
TEST_F(IconListTest, ItemMenuOffersProperties) {
  make(3);
  struct Handler : FXObject, FXKCommandHandler {
    bool enabled = false;
    std::vector<std::string> chosen;
    bool isCommandEnabled(int id) override { return id == 62 && enabled; }
    void executeCommand(int, void*) override {}
    long handle(FXObject* sender, FXSelector sel, void*) override {
      if (FXSELTYPE(sel) != SEL_COMMAND || FXSELID(sel) != 62) return 0;
      chosen.push_back(pathOf(static_cast<FXKBrowserItem*>(static_cast<FXWindow*>(sender)->getUserData())));
      return 1;
    }
  };
  const PathItem second("2");
  const struct {
    const char* what;
    bool handler, enabled, added;
  } cases[] = {
      {"no command handler", false, false, false},
      {"command 62 not enabled", true, false, false},
      {"command 62 enabled", true, true, true},
  };
  Handler* handler = nullptr;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.handler && !handler) browser->setCommandHandler(handler = new Handler);
    if (handler) handler->enabled = c.enabled;
    FXMenuPane pane(main);
    EXPECT_EQ(browser->addItemCommands(&pane, &second), c.added);
    EXPECT_EQ(list->fillContextMenu(&pane, &second, 3), c.added);
    ASSERT_EQ(pane.numChildren(), c.added ? 2 : 0);
    if (!c.added) continue;
    auto* command = dynamic_cast<FXMenuCommand*>(pane.getFirst());
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(std::string(command->getText().text()), "Properties");
    EXPECT_EQ(std::string(command->getHelpText().text()), "Display the properties of the selected item.");
    EXPECT_EQ(command->getTarget(), handler);
    EXPECT_EQ(command->getSelector(), 62u);
    EXPECT_EQ(command->getUserData(), &second);
    ASSERT_NE(command->getIcon(), nullptr);
    EXPECT_EQ(command->getIcon()->getWidth(), 16);
    EXPECT_EQ(command->getIcon()->getHeight(), 16);  // the first of the picture's three states
  }
  // Through the view: a right click on an entry, then the entry chosen once
  // the call that opened the menu has returned.
  FXKIconItem* entry = item("2");
  const FXPoint p = entry->toWindow(FXPoint(entry->width / 4, entry->height / 2));
  FXEvent ev{};
  ev.type = SEL_RIGHTBUTTONRELEASE;
  ev.win_x = p.x, ev.win_y = p.y;
  ev.root_x = p.x, ev.root_y = p.y;
  ASSERT_EQ(list->handle(list, FXSEL(SEL_COMMAND, FXKBrowserView::ID_CONTEXT_MENU), &ev), 1);
  FXMenuCommand* properties = nullptr;
  for (FXWindow* w = main->getApp()->getRootWindow()->getFirst(); w && !properties; w = w->getNext())
    if (auto* pane = dynamic_cast<FXMenuPane*>(w); pane && pane->getOwner() == list)
      properties = dynamic_cast<FXMenuCommand*>(pane->getFirst());
  ASSERT_NE(properties, nullptr);
  properties->handle(properties, FXSEL(SEL_COMMAND, FXWindow::ID_ACCEL), nullptr);
  drain();
  EXPECT_EQ(handler->chosen, (std::vector<std::string>{"2"}));
}

TEST_F(IconListTest, KeyboardAllDisabledAndBrowseOnly) {
  make(3);
  for (int i = 1; i <= 3; ++i) browser->setItemEnabled(item(std::to_string(i))->item.get(), false, false);
  key(KEY_Home);
  EXPECT_EQ(browser->getCurrentItem(), nullptr);  // nothing enabled: nothing chosen
  EXPECT_EQ(key(KEY_End), 1);
}

TEST_F(IconListTest, BrowseOnlyKeysScrollByPages) {
  make(100, FXKIconList::ICONLIST_BROWSE_ONLY);
  const FXint page = list->verticalScrollBar()->getPage();
  ASSERT_TRUE(list->verticalScrollBar()->shown());
  EXPECT_EQ(key(KEY_Down), 1);
  EXPECT_EQ(list->getYPosition(), -page);
  EXPECT_EQ(key(KEY_Page_Down), 1);
  EXPECT_EQ(list->getYPosition(), -2 * page);
  EXPECT_EQ(key(KEY_Up), 1);
  EXPECT_EQ(list->getYPosition(), -page);
  EXPECT_EQ(browser->getCurrentItem(), nullptr);
}

// ---- painting

FXColor pixelOfWindow(FXWindow* w, int x, int y) {
  Display* d = static_cast<Display*>(w->getApp()->getDisplay());
  XImage* img = XGetImage(d, static_cast<Window>(w->id()), x, y, 1, 1, AllPlanes, ZPixmap);
  if (!img) return 0;
  const unsigned long p = XGetPixel(img, 0, 0);
  XDestroyImage(img);
  return FXRGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

// Header-style captions (the styled theme): a white band, the caption in the
// group font, a thin rule after it and the expander strip at the right edge.
TEST_F(IconListTest, HeaderStyleCaptionBandRuleAndExpander) {
  make(3, FXKIconList::ICONLIST_EXPANDERS);
  auto* g = static_cast<FXKIconGroup*>(list->group(0));
  ASSERT_NE(g, nullptr);
  if (g->captionStyle() != 1) GTEST_SKIP() << "the theme is not the styled one";
  g->setText(FXWString(u"Group"));
  g->requestLayout();
  settle();
  const auto paint = [&] {
    list->update();
    app->repaint();
    app->flush(true);
  };
  paint();
  FXFont* font = list->getGroupFont();
  ASSERT_NE(font, nullptr);
  const FXint t = font->getFontHeight() + 4;
  const FXint textW = font->getTextWidth("Group", 5);
  const FXPoint o = g->toWindow(FXPoint(0, 0));
  const FXint sb = list->verticalScrollBar()->shown() ? list->verticalScrollBar()->getWidth() : 0;
  const FXint W = list->getWidth() - sb;
  const FXColor white = FXRGB(255, 255, 255), rule = FXRGB(0xa7, 0xbc, 0xdf), ink = FXRGB(0x99, 0x33, 0x00);
  struct Point {
    const char* what;
    FXint x, y;
    FXColor colour;
  };
  const Point expanded[] = {
      {"band before the rule", textW + 9, 1, white},
      {"rule", textW + 12 + 4, t / 2 + 1, rule},
      {"under the rule", textW + 12 + 4, t / 2 + 2, white},
      {"expander chevron tip (up)", W - 21 + 7, 2 + 5, ink},
      {"expander beside the tip", W - 21 + 3, 2 + 5, white},
  };
  shownWithin(list, [&] {
    for (const Point& p : expanded)
      if (pixelOfWindow(list, o.x + p.x, o.y + p.y) != p.colour) return false;
    return true;
  });
  for (const Point& p : expanded) EXPECT_EQ(pixelOfWindow(list, o.x + p.x, o.y + p.y), p.colour) << p.what;
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_TOGGLE_EXPAND), g);
  settle();
  paint();
  shownWithin(list, [&] {
    return pixelOfWindow(list, o.x + W - 21 + 7, o.y + 2 + 9) == ink &&
           pixelOfWindow(list, o.x + W - 21 + 7, o.y + 2 + 5) == white;
  });
  EXPECT_EQ(pixelOfWindow(list, o.x + W - 21 + 7, o.y + 2 + 9), ink) << "chevron tip (down)";
  EXPECT_EQ(pixelOfWindow(list, o.x + W - 21 + 7, o.y + 2 + 5), white) << "no tip up when collapsed";
}

TEST_F(IconListTest, EmptyListSaysSo) {
  make(0);
  FXImage image(app.get(), nullptr, IMAGE_KEEP | IMAGE_OWNED, list->getWidth(), list->getHeight());
  image.create();
  {
    FXDCWindow dc(&image);
    list->paintList(dc, FXRectangle(0, 0, list->getWidth(), list->getHeight()));
  }
  image.restore();
  // Text pixels in colour 1 (black) below the header, none above row 5.
  const FXint top = list->getHeader()->shown() ? list->getHeader()->getHeight() : 0;
  const FXint ascent = list->getFont()->getFontAscent();
  int dark = 0;
  for (int y = top + 5; y < top + 5 + ascent + 4; ++y)
    for (int x = 5; x < 120; ++x) dark += FXGREENVAL(image.getPixel(x, y)) < 100;
  EXPECT_GT(dark, 10);
  int above = 0;
  for (int y = top; y < top + 4; ++y)
    for (int x = 5; x < 120; ++x) above += FXGREENVAL(image.getPixel(x, y)) < 100;
  EXPECT_EQ(above, 0);
}

TEST_F(IconListTest, FixedBackgroundStaysWhileScrolling) {
  make(200, 0, FXKIconList::STYLE_DETAILS);
  FXImage picture(app.get(), nullptr, IMAGE_KEEP | IMAGE_OWNED, 40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) picture.setPixel(x, y, FXRGB(200, 0, 0));
  picture.create();
  list->setBackgroundImage(&picture);
  settle();
  app->forceRefresh();
  app->repaint();
  app->flush(true);
  const FXRectangle r = list->backgroundRect();
  const FXint px = r.x + r.w / 2, py = r.y + r.h / 2;
  const FXColor red = FXRGB(200, 0, 0);
  EXPECT_TRUE(shownWithin(list, [&] { return pixelOfWindow(list, px, py) == red; }));
  list->setPosition(0, -3 * list->getRowHeight());
  app->repaint();
  app->flush(true);
  EXPECT_TRUE(shownWithin(list, [&] { return pixelOfWindow(list, px, py) == red; }));
  EXPECT_EQ(list->backgroundRect().x, r.x);
  list->setBackgroundImage(nullptr);
}

// ---- in-place editing

TEST_F(IconListTest, EditCommitsIsVetoedCancelsAndEndsWithTheItem) {
  make(3);
  EditTarget target;
  list->setTarget(&target);
  list->setFocus();
  settle();
  const auto edit = [&](const char* path, const char* text) {
    list->startEdit(item(path), 0);
    settle();
    list->getEditor()->setText(text);
  };
  edit("1", "renamed");
  EXPECT_TRUE(list->getEditor()->shown());
  list->startEdit(item("2"), 0);  // a second start changes nothing
  EXPECT_EQ(pathOf(list->editedItem()), "1");
  key(KEY_Return);
  EXPECT_EQ(utf8(item("1")->getColumnText(0)), "renamed");
  EXPECT_FALSE(list->isEditing());
  EXPECT_FALSE(list->getEditor()->shown());
  // Refused by the target: the old text stays.
  target.answer = 0;
  edit("2", "refused");
  key(KEY_Return);
  EXPECT_EQ(utf8(item("2")->getColumnText(0)), "Item 002");
  // Escape: nothing is asked.
  const int calls = target.calls;
  edit("3", "escaped");
  key(KEY_Escape);
  EXPECT_EQ(utf8(item("3")->getColumnText(0)), "Item 003");
  EXPECT_EQ(target.calls, calls);
  // Unchanged text asks nothing either.
  edit("3", "Item 003");
  key(KEY_Return);
  EXPECT_EQ(target.calls, calls);
  // The edited item goes: the edit ends without asking.
  edit("3", "gone");
  PathItem three("3");
  list->handle(browser, FXSEL(SEL_DELETED, FXKBrowser::ID_DOCUMENT), &three);
  EXPECT_FALSE(list->isEditing());
  EXPECT_FALSE(list->getEditor()->shown());
  EXPECT_EQ(target.calls, calls);
  list->setTarget(nullptr);
}

// ---- context menus

std::vector<std::string> labels(FXMenuPane* pane) {
  std::vector<std::string> out;
  for (FXWindow* w = pane->getFirst(); w; w = w->getNext()) {
    if (auto* c = dynamic_cast<FXMenuCaption*>(w))
      out.push_back(c->getText().text());
    else
      out.push_back("--");
  }
  return out;
}

TEST_F(IconListTest, ContextMenuPerConfiguration) {
  make(2);
  // One style: no View entries and no separator.
  FXMenuPane one(list);
  ASSERT_TRUE(list->fillContextMenu(&one, nullptr, 3));
  std::vector<std::string> got = labels(&one);
  EXPECT_EQ(got.front(), "Arrange Items By");
  EXPECT_EQ(got.back(), "Refresh");
  EXPECT_NE(std::find(got.begin(), got.end(), "Choose Columns..."), got.end());
  // Arrange, Choose Columns and Refresh carry 16-pixel pictures, made once.
  std::map<std::string, FXIcon*> icons;
  for (FXWindow* w = one.getFirst(); w; w = w->getNext())
    if (auto* c = dynamic_cast<FXMenuCaption*>(w)) icons[c->getText().text()] = c->getIcon();
  const struct {
    const char* entry;
    int inkX, inkY;  // a point of the drawing; the corner is clear
  } pictures[] = {{"Arrange Items By", 3, 3}, {"Choose Columns...", 1, 8}, {"Refresh", 3, 8}};
  for (const auto& p : pictures) {
    FXIcon* icon = icons[p.entry];
    ASSERT_NE(icon, nullptr) << p.entry;
    EXPECT_EQ(icon->getWidth(), 16);
    EXPECT_EQ(icon->getHeight(), 16);
    EXPECT_EQ(icon->getPixel(15, 15), FXRGB(255, 0, 255)) << p.entry;
    EXPECT_NE(icon->getPixel(p.inkX, p.inkY), FXRGB(255, 0, 255)) << p.entry;
  }
  FXMenuPane again(list);
  list->fillContextMenu(&again, nullptr, 3);
  EXPECT_EQ(static_cast<FXMenuCaption*>(again.getLast())->getIcon(), icons["Refresh"]);
  // Every style, entries in the pane: distinct labels, then a separator.
  for (int s = 1; s <= 6; ++s) list->addViewStyle(s);
  FXMenuPane all(list);
  list->fillContextMenu(&all, nullptr, 1);
  got = labels(&all);
  ASSERT_GE(got.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 7),
            (std::vector<std::string>{"Details", "List", "Icons", "Thumbnails", "Tiles", "Category", "--"}));
  EXPECT_EQ(got.back(), "Refresh");
  // With the cascade flag the styles go into a View submenu.
  FXMenuPane cascaded(list);
  list->fillContextMenu(&cascaded, nullptr, 3);
  EXPECT_EQ(labels(&cascaded).front(), "View");
  // All columns fixed: no chooser.
  FXKHeader* header = list->getHeader();
  for (FXint i = 0; i < header->getNumItems(); ++i) header->getColumn(i)->flags |= FXKColumnRecord::COLUMN_FIXED;
  FXMenuPane fixed(list);
  list->fillContextMenu(&fixed, nullptr, 3);
  got = labels(&fixed);
  EXPECT_EQ(std::find(got.begin(), got.end(), "Choose Columns..."), got.end());
  EXPECT_EQ(got.back(), "Refresh");
  // The chooser entry runs the hook with the header.
  FXKHeader* seen = nullptr;
  FXKIconList::columnChooser() = [&](FXKIconList*, FXKHeader* h) { seen = h; };
  list->handle(list, FXSEL(SEL_COMMAND, FXKIconList::ID_CHOOSE_COLUMNS), nullptr);
  EXPECT_EQ(seen, header);
  FXKIconList::columnChooser() = nullptr;
}

}  // namespace
