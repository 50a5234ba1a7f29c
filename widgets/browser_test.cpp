#include "widgets/browser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "gui/app/korvane_app.h"
#include "platform/fox/fx_test_display.h"
#include "widgets/widgets_testing.h"

using namespace FX;
using kvtest::Message;
using kvtest::PathItem;
using kvtest::Recorder;
using kvtest::TreeBrowser;

namespace {

// A browser released at the end of the test, as its owner would.
struct BrowserHolder {
  explicit BrowserHolder(TreeBrowser* b) : browser(b) {}
  ~BrowserHolder() { browser->release(); }
  TreeBrowser* operator->() const { return browser; }
  TreeBrowser* browser;
};

std::string selected(FXKBrowser& b) {
  std::string out;
  for (auto& e : b.stateSet(FXKBrowser::STATE_SELECTED).snapshot())
    out += (out.empty() ? "" : ",") + static_cast<PathItem*>(e.get())->path;
  return out;
}

void select(FXKBrowser& b, std::initializer_list<const char*> paths) {
  for (const char* p : paths) {
    PathItem item(p);
    b.stateSet(FXKBrowser::STATE_SELECTED).add(&item, false);
  }
}

TEST(BrowserClick, ModesAndModifiersTable) {
  struct Case {
    const char* name;
    FXuint mode;
    std::initializer_list<const char*> before;
    const char* click;
    int kind;
    FXuint modifiers;
    const char* after;
  } cases[] = {
      {"single: the set is only emptied", FXKBrowser::MODE_SINGLE, {"1", "2"}, "3", 0, 0, ""},
      {"multiple: exactly the clicked item", FXKBrowser::MODE_MULTIPLE, {"1", "2"}, "3", 0, 0, "3"},
      {"multiple ignores Control", FXKBrowser::MODE_MULTIPLE, {"1", "2"}, "3", 0, CONTROLMASK, "3"},
      {"multiple ignores Shift", FXKBrowser::MODE_MULTIPLE, {"1"}, "1", 0, SHIFTMASK, "1"},
      {"extend+multiple, plain click", FXKBrowser::MODE_EXTEND | FXKBrowser::MODE_MULTIPLE, {"1", "2"}, "3", 0, 0,
       "3"},
      {"extend+multiple, Control on a selected item deselects it",
       FXKBrowser::MODE_EXTEND | FXKBrowser::MODE_MULTIPLE, {"1", "2"}, "2", 0, CONTROLMASK, "1"},
      {"extend+multiple, Control on an unselected item adds it", FXKBrowser::MODE_EXTEND | FXKBrowser::MODE_MULTIPLE,
       {"1", "2"}, "3", 0, CONTROLMASK, "1,2,3"},
      {"extend+multiple, Control+Shift adds and keeps the others",
       FXKBrowser::MODE_EXTEND | FXKBrowser::MODE_MULTIPLE, {"1", "2"}, "2", 0, CONTROLMASK | SHIFTMASK, "1,2"},
      {"extend+multiple, Shift alone keeps only the item", FXKBrowser::MODE_EXTEND | FXKBrowser::MODE_MULTIPLE,
       {"1", "2"}, "3", 0, SHIFTMASK, "3"},
      {"extend alone, plain click empties", FXKBrowser::MODE_EXTEND, {"1", "2"}, "3", 0, 0, ""},
      {"toggle, kind 0 adds", FXKBrowser::MODE_TOGGLE, {"1"}, "2", 0, 0, "1,2"},
      {"toggle, kind 32 removes", FXKBrowser::MODE_TOGGLE, {"1", "2"}, "2", 32, 0, "1"},
      {"toggle, another kind only makes current", FXKBrowser::MODE_TOGGLE, {"1", "2"}, "2", 1, 0, "1,2"},
      {"toggle wins over multiple", FXKBrowser::MODE_TOGGLE | FXKBrowser::MODE_MULTIPLE, {"1"}, "1", 0, CONTROLMASK,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BrowserHolder b(new TreeBrowser(nullptr, {{"", 5}}));
    b->setMode(c.mode);
    select(*b.browser, c.before);
    PathItem item(c.click);
    EXPECT_TRUE(b->clickItem(&item, c.kind, c.modifiers, true));
    EXPECT_EQ(selected(*b.browser), c.after);
    ASSERT_NE(b->getCurrentItem(), nullptr);
    EXPECT_TRUE(b->getCurrentItem()->isEqual(&item));
  }
}

TEST(BrowserClick, DisabledItemsRefuseClicksAndDisablingDeselects) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 5}}));
  Recorder target, view;
  b->setTarget(&target, 7);
  b->handle(&view, FXSEL(SEL_ATTACH, 0), nullptr);
  PathItem one("1");
  ASSERT_TRUE(b->clickItem(&one, 0, 0, false));
  EXPECT_EQ(selected(*b.browser), "1");

  b->setItemEnabled(&one, false, true);
  EXPECT_EQ(selected(*b.browser), "");
  EXPECT_FALSE(b->isEnabled(&one));
  // Deselection is told, the disabling itself is silent.
  ASSERT_EQ(view.log.size(), 1u);
  EXPECT_EQ(view.log[0].type, SEL_DESELECTED);
  EXPECT_EQ(view.log[0].item, "1");
  EXPECT_EQ(b->lastChange().set, FXKBrowser::STATE_SELECTED);
  EXPECT_EQ(b->lastChange().kind, 2);
  EXPECT_FALSE(b->clickItem(&one, 0, 0, true));
  EXPECT_FALSE(b->ensureSelected(&one, true));
  EXPECT_FALSE(b->setChecked(&one, 0, true, 1));
  EXPECT_EQ(b->getCheckState(&one), 0);
  EXPECT_TRUE(b->pendingUpdate() & FXKBrowser::UPDATE_ENABLING);

  b->setItemEnabled(&one, true, true);
  EXPECT_TRUE(b->isEnabled(&one));
  EXPECT_TRUE(b->clickItem(&one, 0, 0, true));
  b->handle(&view, FXSEL(SEL_DETACH, 0), nullptr);
}

TEST(BrowserStates, AnEqualItemIsFiledOnceAndKeepOnlyNeverAdds) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 5}}));
  Recorder target;
  b->setTarget(&target, 7);
  auto& set = b->stateSet(FXKBrowser::STATE_HIDDEN);
  PathItem first("2"), twin("2"), other("3");
  EXPECT_TRUE(set.add(&first, true));
  EXPECT_FALSE(set.add(&twin, true));
  EXPECT_EQ(set.size(), 1u);
  EXPECT_EQ(target.log.size(), 1u);
  EXPECT_FALSE(b->isVisible(&twin));

  set.keepOnly(&other, true);
  EXPECT_EQ(set.size(), 0u);
  EXPECT_FALSE(set.contains(&other));
  ASSERT_EQ(target.log.size(), 2u);
  EXPECT_EQ(target.log[1].type, SEL_CHANGED);
  EXPECT_EQ(target.log[1].id, 7u);
  EXPECT_EQ(target.log[1].item, "2");
}

// Check all and a group's check box change many items in one step: the
// target and every view hear once, with a null item meaning "any item of
// this set", or with the item itself when only one changed.
TEST(BrowserStates, SeveralItemsAtOnceAreToldOnce) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 5}}));
  Recorder target, view;
  b->setTarget(&target, 7);
  b->handle(&view, FXSEL(SEL_ATTACH, 0), nullptr);
  PathItem one("1"), two("2"), three("3"), four("4");
  struct Step {
    std::vector<const FXKBrowserItem*> items;
    bool on;
    std::size_t size;   // of the checked set afterwards
    FXuint viewType;    // 0: nobody is told
    std::string item;   // what the target and the view receive
    int kind;
  };
  const Step steps[] = {
      {{&one, &two, &three}, true, 3, SEL_SELECTED, "-", 1},
      {{&one, &two, &four}, true, 4, SEL_SELECTED, "4", 1},  // only one new
      {{&one, &four}, true, 4, 0, "", 0},                   // nothing new
      {{&two, &three, &four}, false, 1, SEL_DESELECTED, "-", 2},
      {{&two, &one}, false, 0, SEL_DESELECTED, "1", 2},
  };
  for (const Step& step : steps) {
    target.log.clear(), view.log.clear();
    b->setItemStates(FXKBrowser::STATE_CHECKED, step.items, step.on, true);
    EXPECT_EQ(b->stateSet(FXKBrowser::STATE_CHECKED).size(), step.size);
    EXPECT_TRUE(b->pendingUpdate() & FXKBrowser::UPDATE_STATE);
    if (!step.viewType) {
      EXPECT_TRUE(target.log.empty());
      EXPECT_TRUE(view.log.empty());
      continue;
    }
    ASSERT_EQ(target.log.size(), 1u);
    EXPECT_EQ(target.log[0].type, SEL_CHANGED);
    EXPECT_EQ(target.log[0].id, 7u);
    EXPECT_EQ(target.log[0].item, step.item);
    ASSERT_EQ(view.log.size(), 1u);
    EXPECT_EQ(view.log[0].type, step.viewType);
    EXPECT_EQ(view.log[0].item, step.item);
    EXPECT_EQ(b->lastChange().set, FXKBrowser::STATE_CHECKED);
    EXPECT_EQ(b->lastChange().kind, step.kind);
    if (step.item == "-") {
      EXPECT_EQ(b->lastChange().item, nullptr);
    }
  }
  // Without notification nobody hears, the set still changes.
  target.log.clear(), view.log.clear();
  b->setItemStates(FXKBrowser::STATE_CHECKED, {&one, &two}, true, false);
  EXPECT_EQ(b->stateSet(FXKBrowser::STATE_CHECKED).size(), 2u);
  EXPECT_TRUE(target.log.empty() && view.log.empty());
  b->handle(&view, FXSEL(SEL_DETACH, 0), nullptr);
}

TEST(BrowserStates, ManyItemsStayLookUpsByHash) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 1}}));
  auto& set = b->stateSet(FXKBrowser::STATE_SELECTED);
  constexpr int n = 50000;
  for (int i = 0; i < n; ++i) {
    FXKSimpleBrowserItem item(i);
    set.add(&item, false);
  }
  FXKSimpleBrowserItem probe(n - 1), absent(n);
  EXPECT_TRUE(set.contains(&probe));
  EXPECT_FALSE(set.contains(&absent));
  for (int i = 0; i < n; i += 2) {
    FXKSimpleBrowserItem item(i);
    ASSERT_TRUE(set.remove(&item, false));
  }
  EXPECT_EQ(set.size(), static_cast<std::size_t>(n / 2));
  FXKSimpleBrowserItem kept(1), gone(2);
  EXPECT_TRUE(set.contains(&kept));
  EXPECT_FALSE(set.contains(&gone));
  // Insertion order is kept.
  auto snap = set.snapshot();
  EXPECT_EQ(static_cast<FXKSimpleBrowserItem*>(snap.front().get())->id, 1u);
  EXPECT_EQ(static_cast<FXKSimpleBrowserItem*>(snap.back().get())->id, static_cast<FXuint>(n - 1));
}

// Items whose hashes collide (seven values for 400 items) against a plain
// list of clones scanned in insertion order, the set's meaning without an
// index: after every step the same members in the same order, found the
// same way, through removals, re-adds and the closing of removed places.
TEST(BrowserStates, CollidingHashesKeepTheOrderOfAPlainList) {
  struct Clashing : FXKSimpleBrowserItem {
    using FXKSimpleBrowserItem::FXKSimpleBrowserItem;
    std::size_t hashValue() const override { return id % 7; }
    FXKBrowserItem* clone() const override { return new Clashing(id); }
  };
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 1}}));
  auto& set = b->stateSet(FXKBrowser::STATE_DISABLED);
  std::vector<FXuint> model;  // ids in insertion order
  const auto has = [&](FXuint id) { return std::find(model.begin(), model.end(), id) != model.end(); };
  unsigned seed = 12345;
  const auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8) % 400; };
  for (int step = 0; step < 6000; ++step) {
    const FXuint id = next();
    Clashing item(id);
    const int op = step % 11;
    if (op < 6) {
      EXPECT_EQ(set.add(&item, false), !has(id));
      if (!has(id)) model.push_back(id);
    } else if (op < 10) {
      EXPECT_EQ(set.remove(&item, false), has(id));
      model.erase(std::remove(model.begin(), model.end(), id), model.end());
    } else if (step % 3 == 0) {
      std::vector<const FXKBrowserItem*> many;
      std::vector<std::unique_ptr<Clashing>> keep;
      for (int k = 0; k < 40; ++k) many.push_back((keep.emplace_back(new Clashing(next()))).get());
      b->setItemStates(FXKBrowser::STATE_DISABLED, many, false, false);
      for (auto& k : keep) model.erase(std::remove(model.begin(), model.end(), k->id), model.end());
    } else {
      set.keepOnly(&item, false);
      const bool kept = has(id);
      model.clear();
      if (kept) model.push_back(id);
    }
    ASSERT_EQ(set.size(), model.size()) << "step " << step;
    for (FXuint probe = 0; probe < 400; probe += 37) {
      Clashing p(probe);
      ASSERT_EQ(set.contains(&p), has(probe)) << "step " << step << " id " << probe;
    }
    if (step % 50 == 0) {
      std::vector<FXuint> order;
      for (auto& e : set.snapshot()) order.push_back(static_cast<FXKSimpleBrowserItem*>(e.get())->id);
      ASSERT_EQ(order, model) << "step " << step;
    }
  }
}

// clear() used to notify while it held its set's lock: a view that, while
// handling the notification, waits for another thread that reads the set
// deadlocked.
TEST(BrowserStates, NoViewRunsWhileASetsLockIsHeld) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 5}}));
  select(*b.browser, {"1", "2", "3"});
  Recorder view;
  int finished = 0;
  std::vector<std::thread> readers;
  std::vector<std::unique_ptr<std::atomic<bool>>> flags;
  view.onMessage = [&](FXSelector sel, void*) {
    if (FXSELTYPE(sel) != SEL_DESELECTED) return;
    flags.push_back(std::make_unique<std::atomic<bool>>(false));
    std::atomic<bool>* done = flags.back().get();
    readers.emplace_back([&b, done] {
      PathItem probe("9");
      b->isSelected(&probe);
      *done = true;
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!*done && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (*done) ++finished;
  };
  b->handle(&view, FXSEL(SEL_ATTACH, 0), nullptr);
  b->clearState(FXKBrowser::STATE_SELECTED, true);
  for (auto& t : readers) t.join();  // a held lock lets them go only here
  EXPECT_EQ(finished, 3);
  b->handle(&view, FXSEL(SEL_DETACH, 0), nullptr);
}

// ---- check marks

struct CheckStep {
  const char* item;
  int how;  // 0 uncheck, 1 check, 2 toggle
};

std::string checkStates(FXKBrowser& b, std::initializer_list<const char*> paths) {
  std::string out;
  for (const char* p : paths) {
    PathItem item(p, std::string(p).find('/') == std::string::npos);
    out += std::to_string(b.getCheckState(&item));
  }
  return out;
}

TEST(BrowserChecks, TriStateTable) {
  // Root with folders 1 and 2; 1 holds 1/1..1/3, 2 holds 2/1..2/2.
  const std::map<std::string, int> tree{{"", 2}, {"1", 3}, {"2", 2}};
  struct Case {
    const char* name;
    const char* location;
    std::vector<CheckStep> steps;
    const char* states;  // of 1, 1/1, 1/2, 1/3, 2, 2/1
  } cases[] = {
      {"a checked folder covers its children", "", {{"1", 1}}, "111100"},
      {"unchecking a child under a checked folder makes it partial", "1", {{"1", 1}, {"1/2", 0}}, "210100"},
      {"re-checking the child clears the exclusion", "1", {{"1", 1}, {"1/2", 0}, {"1/2", 1}}, "111100"},
      {"toggling a partial folder checks it", "", {{"1", 1}, {"1/2", 0}, {"1", 2}}, "111100"},
      {"a checked child makes its folder partial", "1", {{"1/3", 1}}, "200100"},
      {"the last child checked folds into the location", "1", {{"1/1", 1}, {"1/2", 1}, {"1/3", 1}}, "111100"},
      {"every child unchecked under a checked folder unchecks it", "1",
       {{"1", 1}, {"1/1", 0}, {"1/2", 0}, {"1/3", 0}}, "000000"},
      {"toggle of a checked item unchecks it", "", {{"2", 1}, {"2", 2}}, "000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BrowserHolder b(new TreeBrowser(nullptr, tree));
    b->setMode(FXKBrowser::MODE_MULTIPLE | FXKBrowser::MODE_TRISTATE);
    PathItem location(c.location, true);
    b->selectLocation(&location, false, false);
    for (const CheckStep& s : c.steps) {
      PathItem item(s.item, std::string(s.item).find('/') == std::string::npos);
      EXPECT_TRUE(b->setChecked(&item, 0, true, s.how));
    }
    EXPECT_EQ(checkStates(*b.browser, {"1", "1/1", "1/2", "1/3", "2", "2/1"}), c.states);
  }
}

TEST(BrowserChecks, LastCheckedChildFoldsIntoItsFolderAndUpwards) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 1}, {"1", 2}}));
  b->setMode(FXKBrowser::MODE_MULTIPLE | FXKBrowser::MODE_TRISTATE);
  PathItem location("1", true), a("1/1"), c("1/2"), folder("1", true), root("", true);
  b->selectLocation(&location, false, false);
  b->setChecked(&a, 0, true, 1);
  b->setChecked(&c, 0, true, 1);
  // The children's entries gave way to the folder, and the root, whose only
  // child is now checked, took the folder's place.
  auto snap = b->stateSet(FXKBrowser::STATE_CHECKED).snapshot();
  ASSERT_EQ(snap.size(), 1u);
  EXPECT_EQ(static_cast<PathItem*>(snap[0].get())->path, "");
  EXPECT_EQ(b->getCheckState(&folder), 1);
  EXPECT_EQ(b->getCheckState(&a), 1);

  // Unchecking the root never excludes it.
  EXPECT_TRUE(b->setChecked(&root, 0, true, 0));
  EXPECT_FALSE(b->stateSet(FXKBrowser::STATE_EXCLUDED).contains(&root));
  EXPECT_EQ(b->getCheckState(&a), 0);
}

TEST(BrowserChecks, PlainAndSingleModesAndLockedItems) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 3}}));
  PathItem one("1"), two("2"), three("3");
  b->setChecked(&one, 0, true, 1);
  b->setChecked(&two, 0, true, 2);
  EXPECT_EQ(checkStates(*b.browser, {"1", "2", "3"}), "110");
  b->setChecked(&two, 0, true, 0);
  EXPECT_EQ(b->stateSet(FXKBrowser::STATE_EXCLUDED).size(), 0u);

  b->setMode(FXKBrowser::MODE_SINGLE);
  b->setChecked(&three, 0, true, 1);
  EXPECT_EQ(checkStates(*b.browser, {"1", "2", "3"}), "001");

  b->stateSet(FXKBrowser::STATE_CHECK_LOCKED).add(&one, false);
  EXPECT_FALSE(b->setChecked(&one, 0, true, 1));
  EXPECT_EQ(checkStates(*b.browser, {"1", "2", "3"}), "001");
  EXPECT_EQ(b->inState(FXKBrowser::STATE_CHECKED, &three), 1);
}

TEST(BrowserTree, ChildrenOfAnItemWithoutChildrenStayNullUntilARebuild) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 2}}));
  PathItem empty("2", true);
  EXPECT_EQ(b->children(&empty, 1), nullptr);
  EXPECT_FALSE(b->canOpen(&empty));
  b->tree["2"] = 1;
  EXPECT_EQ(b->children(&empty, 1), nullptr);
  b->onUpdate(FXKBrowser::UPDATE_REBUILD);
  std::unique_ptr<FXKItemIterator> it(b->children(&empty, 1));
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(static_cast<PathItem*>(it->current())->path, "2/1");
}

TEST(BrowserTree, LocateAndPruneFollowTheTree) {
  BrowserHolder b(new TreeBrowser(nullptr, {{"", 2}, {"1", 2}}));
  PathItem deep("1/2"), stale("7");
  std::unique_ptr<FXKBrowserItem> found(b->locate(b->getRoot(), &deep));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(static_cast<PathItem*>(found.get())->path, "1/2");

  select(*b.browser, {"1/2", "7"});
  b->selectItem(&stale, false, false);
  b->onUpdate(FXKBrowser::UPDATE_PRUNE);
  EXPECT_EQ(selected(*b.browser), "1/2");
  EXPECT_EQ(b->getCurrentItem(), nullptr);
  // Everything but pruning.
  select(*b.browser, {"7"});
  b->onUpdate(FXKBrowser::UPDATE_ALL);
  EXPECT_EQ(selected(*b.browser), "1/2,7");
}

// ---- the update chore (needs the GUI loop)

using BrowserAppTest = kvtest::GuiTest;

TEST_F(BrowserAppTest, SeveralScheduledUpdatesArriveAsOneWithTheFlagsOred) {
  BrowserHolder b(new TreeBrowser(app.get(), {{"", 2}}));
  Recorder view;
  b->handle(&view, FXSEL(SEL_ATTACH, 0), nullptr);
  const FXuint flags[] = {FXKBrowser::UPDATE_STATE, FXKBrowser::UPDATE_CHECKS, FXKBrowser::UPDATE_CURRENT,
                          FXKBrowser::UPDATE_STATE};
  for (FXuint f : flags) b->scheduleUpdate(f);
  drain();
  ASSERT_EQ(b->updates, 1);
  EXPECT_EQ(b->updateFlags[0], FXKBrowser::UPDATE_STATE | FXKBrowser::UPDATE_CHECKS | FXKBrowser::UPDATE_CURRENT);
  EXPECT_EQ(b->pendingUpdate(), 0u);
  ASSERT_EQ(view.log.size(), 1u);
  EXPECT_EQ(view.log[0].type, SEL_CHANGED);
  EXPECT_EQ(view.log[0].id, static_cast<FXuint>(FXKBrowser::ID_DOCUMENT));

  // Clicks schedule through the same chore.
  PathItem one("1");
  b->clickItem(&one, 0, 0, true);
  b->setChecked(&one, 0, true, 1);
  drain();
  ASSERT_EQ(b->updates, 2);
  EXPECT_EQ(b->updateFlags[1], FXKBrowser::UPDATE_CURRENT | FXKBrowser::UPDATE_STATE | FXKBrowser::UPDATE_CHECKS);
  b->handle(&view, FXSEL(SEL_DETACH, 0), nullptr);
}

TEST_F(BrowserAppTest, AReleasedBrowserLeavesNoChoreBehind) {
  auto* b = new TreeBrowser(app.get(), {{"", 2}});
  b->scheduleUpdate(FXKBrowser::UPDATE_REBUILD);
  b->release();
  drain();  // would deliver to freed memory
  SUCCEED();
}

}  // namespace
