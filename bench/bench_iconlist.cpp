// The icon list with 1,000, 10,000 and 50,000 rows in the details and icons
// styles, against FOX 1.6's FXIconList holding the same rows in the same
// window size (needs an X display; Xvfb will do). Actions, each timed to the
// X server's answer: populate + first paint (clean-up included), scroll one
// page (FXIconList's big icons run in columns and scroll sideways, ours
// down), sort by a text column, select all, check all (FXIconList has no
// check marks: its reference is marking every row selected again).
// Goal: each at most 1.5x FXIconList, growing at most as n log n.
// Usage: bench_iconlist [batches] [rows] [details|icons] [ours|theirs]; the
// last one runs a single side, for profiling.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "platform/fox/fx_app.h"
#include "widgets/icon_list.h"

using namespace FX;

namespace {

std::string kindOf(int i) {
  unsigned seed = static_cast<unsigned>(i) * 2654435761u;
  seed ^= seed >> 13;
  return "kind " + std::to_string(seed % 9973);
}

class RowBrowser : public FXKBrowser {
 public:
  RowBrowser(FXApp* app, int rows) : FXKBrowser(app), rows(rows) { setRoot(new FXKSimpleBrowserItem(0)); }
  int rows;
  FXKItemIterator* enumerateChildren(const FXKBrowserItem* item, const FXKBrowser*, FXuint) override {
    auto* s = dynamic_cast<const FXKSimpleBrowserItem*>(item);
    if (!s || s->id != 0) return nullptr;
    auto* it = new FXKListItemIterator;
    for (int i = 1; i <= rows; ++i) it->append(new FXKSimpleBrowserItem(static_cast<FXuint>(i)));
    return it;
  }
  void getItemTitle(FXWString& out, const FXKBrowserItem* item) override {
    auto* s = dynamic_cast<const FXKSimpleBrowserItem*>(item);
    out = FXWString::fromUtf8(("Item " + std::to_string(s ? s->id : 0)).c_str());
  }
};

// The kind column comes with each row, as an owner's list fills it.
class RowList : public FXKIconList {
 public:
  RowList(FXComposite* p, FXKBrowser* b, FXuint o) : FXKIconList(p, b, o) {}
  void updateItem(FXKBrowserViewItem* node) override {
    FXKIconList::updateItem(node);
    auto* s = static_cast<FXKSimpleBrowserItem*>(node->item.get());
    static_cast<FXKIconItem*>(node)->setColumnText(1, FXWString::fromUtf8(kindOf(static_cast<int>(s->id)).c_str()));
  }
};

FXint kindColumn(const FXIconItem* a, const FXIconItem* b) {
  const char* ta = std::strchr(a->getText().text(), '\t');
  const char* tb = std::strchr(b->getText().text(), '\t');
  return comparecase(ta ? ta + 1 : "", tb ? tb + 1 : "");
}

void settle(FXApp& app) {
  app.repaint();
  app.flush(true);
  while (app.peekEvent()) app.runOneEvent(false);
}

struct Sides {
  FXApp* app;
  FXComposite* frame;
  int rows;
  bool icons;
  // Ours.
  RowBrowser* browser = nullptr;
  RowList* list = nullptr;
  // Theirs.
  FXIconList* theirs = nullptr;

  void makeOurs() {
    browser = new RowBrowser(app, rows);
    list = new RowList(frame, browser, LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT);
    browser->release();
    list->addViewStyle(icons ? FXKIconList::STYLE_ICONS : FXKIconList::STYLE_DETAILS);
    FXKColumnRecord name;
    name.key = 0, name.caption = FXWString(u"Name"), name.name = FXWString(u"NAME");
    name.flags = FXKColumnRecord::COLUMN_SORTABLE | FXKColumnRecord::COLUMN_STRETCH;
    list->appendColumn(name);
    FXKColumnRecord kind;
    kind.key = 1, kind.caption = FXWString(u"Kind"), kind.name = FXWString(u"KIND");
    kind.flags = FXKColumnRecord::COLUMN_SORTABLE;
    list->appendColumn(kind);
    list->setWidth(800), list->setHeight(600);
    list->create();
    list->refresh(FXKBrowser::UPDATE_REBUILD);
    list->recalc();
    frame->layout();
    list->show();
    list->layout();
    list->update();
    settle(*app);
  }
  void dropOurs() {
    delete list;
    list = nullptr;
    settle(*app);
  }
  void makeTheirs() {
    theirs = new FXIconList(frame, nullptr, 0,
                            (icons ? ICONLIST_BIG_ICONS : ICONLIST_DETAILED) | ICONLIST_EXTENDEDSELECT |
                                LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT,
                            0, 0, 800, 600);
    theirs->appendHeader("Name", nullptr, 200);
    theirs->appendHeader("Kind", nullptr, 100);
    theirs->create();
    for (int i = 1; i <= rows; ++i) theirs->appendItem(("Item " + std::to_string(i) + "\t" + kindOf(i)).c_str());
    frame->layout();
    theirs->show();
    theirs->layout();
    theirs->update();
    settle(*app);
  }
  void dropTheirs() {
    delete theirs;
    theirs = nullptr;
    settle(*app);
  }
};

double timed(const std::function<void()>& f) {
  const auto t = bench::clock_type::now();
  f();
  return bench::seconds_since(t);
}

using bench::median;

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "needs an X display\n");
    return 1;
  }
  const int batches = argc > 1 ? std::atoi(argv[1]) : 3;
  // Optional: only this many rows, only one style ("details" or "icons").
  const int onlyRows = argc > 2 ? std::atoi(argv[2]) : 0;
  const std::string onlyStyle = argc > 3 ? argv[3] : "";
  // Optional, for profiling: "ours" or "theirs" runs that side alone.
  const std::string onlySide = argc > 4 ? argv[4] : "";
  FXExtApp app("bench_iconlist", "kvbench");
  int fargc = 1;
  char name[] = "bench_iconlist";
  char* fargv[] = {name, nullptr};
  app.init(fargc, fargv);
  auto* font = new FXFont(&app, "DejaVu Sans", 9);
  app.setNormalFont(font);
  auto* mainWindow = new FXMainWindow(&app, "bench", nullptr, nullptr, DECOR_ALL, 0, 0, 820, 620);
  auto* frame = new FXHorizontalFrame(mainWindow, LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 0, 0, 0, 0);
  app.create();
  mainWindow->show(PLACEMENT_DEFAULT);
  settle(app);

  const char* actions[] = {"populate+paint", "scroll page", "sort by kind", "select all", "check all"};
  std::printf("%-7s %-7s %-15s %12s %12s %7s\n", "style", "rows", "action", "ours ms", "FXIconList ms", "ratio");
  for (bool icons : {false, true})
    for (int rows : {1000, 10000, 50000}) {
      if ((onlyRows && rows != onlyRows) || (!onlyStyle.empty() && onlyStyle != (icons ? "icons" : "details"))) continue;
      std::vector<double> ours[5], theirs[5];
      for (int batch = 0; batch < batches; ++batch) {
        Sides s{&app, frame, rows, icons};
        const auto runOurs = [&] {
          ours[0].push_back(timed([&] { s.makeOurs(); }));
          ours[1].push_back(timed([&] {
            s.list->setPosition(0, -s.list->verticalScrollBar()->getPage());
            settle(app);
          }));
          ours[2].push_back(timed([&] {
            s.list->sortByColumnKey(1);
            settle(app);
          }));
          ours[3].push_back(timed([&] {
            s.list->handle(s.list, FXSEL(SEL_COMMAND, FXKIconList::ID_CHECK_ALL), nullptr);
            settle(app);
          }));
          s.browser->setMode(FXKBrowser::MODE_MULTIPLE | FXKBrowser::MODE_CLICK_CHECKS);
          s.browser->setClickChecks(true);
          ours[4].push_back(timed([&] {
            s.list->handle(s.list, FXSEL(SEL_COMMAND, FXKIconList::ID_CHECK_ALL), nullptr);
            settle(app);
          }));
          ours[0].back() += timed([&] { s.dropOurs(); });
        };
        const auto runTheirs = [&] {
          theirs[0].push_back(timed([&] { s.makeTheirs(); }));
          theirs[1].push_back(timed([&] {
            // FXIconList's big icons run in columns, scrolled sideways:
            // one page that way is the same work as our page down.
            if (s.theirs->getContentHeight() > s.theirs->getViewportHeight())
              s.theirs->setPosition(0, -s.theirs->verticalScrollBar()->getPage());
            else
              s.theirs->setPosition(-s.theirs->horizontalScrollBar()->getPage(), 0);
            settle(app);
          }));
          theirs[2].push_back(timed([&] {
            s.theirs->setSortFunc(kindColumn);
            s.theirs->sortItems();
            settle(app);
          }));
          const auto all = [&] {
            for (int i = 0; i < s.theirs->getNumItems(); ++i) s.theirs->selectItem(i, TRUE);
            settle(app);
          };
          theirs[3].push_back(timed(all));
          for (int i = 0; i < s.theirs->getNumItems(); ++i) s.theirs->deselectItem(i, FALSE);
          theirs[4].push_back(timed(all));
          theirs[0].back() += timed([&] { s.dropTheirs(); });
        };
        if (onlySide == "ours")
          runOurs();
        else if (onlySide == "theirs")
          runTheirs();
        else if (batch % 2 == 0)
          runOurs(), runTheirs();
        else
          runTheirs(), runOurs();
      }
      for (int a = 0; a < 5; ++a) {
        const double o = median(ours[a]) * 1000, t = median(theirs[a]) * 1000;
        std::printf("%-7s %-7d %-15s %12.2f %12.2f %7.2f\n", icons ? "icons" : "details", rows, actions[a], o, t,
                    t > 0 ? o / t : 0);
      }
      std::fflush(stdout);
    }
  return 0;
}
