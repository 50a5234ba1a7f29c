#include "widgets/browser_view.h"

#include <algorithm>

#include "core/object.h"
#include "gui/app/korvane_app.h"

using namespace FX;

FXIMPLEMENT(FXKBrowserViewItem, FXKTerminal, nullptr, 0)
FXIMPLEMENT(FXKBrowserViewGroup, FXKContainer, nullptr, 0)

// ---- nodes

FXKBrowserViewItem::FXKBrowserViewItem(FXKBrowserViewGroup* group, FXKBrowserItem* it)
    : FXKTerminal(static_cast<FXKContainer*>(group)), item(it) {
  view = group ? (group->view ? group->view : dynamic_cast<FXKBrowserView*>(group->window)) : nullptr;
  if (view) {
    ++view->itemCount_;
    view->indexNode(this, item.get());
  }
}

FXKBrowserViewItem::~FXKBrowserViewItem() {
  if (!view) return;
  --view->itemCount_;
  view->unindexNode(this, item.get());
  view->forgetNode(this);
}

FXKBrowserViewGroup::FXKBrowserViewGroup(FXKBrowserView* view, FXint k, FXKBrowserItem* keyItem, FXKTerminal* after)
    : FXKContainer(view, after), key(k), item(keyItem), view(view) {
  if (view) view->indexNode(this, item.get());
}

FXKBrowserViewGroup::~FXKBrowserViewGroup() {
  // The items go first, while the view still knows this group.
  clearChildren();
  if (auto* owner = dynamic_cast<FXKBrowserView*>(window)) {
    owner->unindexNode(this, item.get());
    owner->forgetNode(this);
  }
}

FXKBrowserViewItem* FXKBrowserViewGroup::findItem(const FXKBrowserItem* it) const {
  for (FXKTerminal* child : children) {
    auto* node = static_cast<FXKBrowserViewItem*>(child);
    if (node->item && node->item->isEqual(it)) return node;
  }
  return nullptr;
}

// ---- view

FXDEFMAP(FXKBrowserView) FXKBrowserViewMap[] = {
    FXMAPFUNC(SEL_FOCUSIN, 0, FXKBrowserView::onFocusIn),
    FXMAPFUNC(SEL_FOCUSOUT, 0, FXKBrowserView::onFocusOut),
    FXMAPFUNC(SEL_LEFTBUTTONPRESS, 0, FXKBrowserView::onLeftBtnPress),
    FXMAPFUNC(SEL_RIGHTBUTTONRELEASE, 0, FXKBrowserView::onRightBtnRelease),
    FXMAPFUNC(SEL_SELECTED, FXKBrowser::ID_DOCUMENT, FXKBrowserView::onDocSelected),
    FXMAPFUNC(SEL_DESELECTED, FXKBrowser::ID_DOCUMENT, FXKBrowserView::onDocDeselected),
    FXMAPFUNC(SEL_INSERTED, FXKBrowser::ID_DOCUMENT, FXKBrowserView::onDocInserted),
    FXMAPFUNC(SEL_DELETED, FXKBrowser::ID_DOCUMENT, FXKBrowserView::onDocDeleted),
    FXMAPFUNC(SEL_VERIFY, FXKBrowser::ID_DOCUMENT, FXKBrowserView::onDocVerify),
    FXMAPFUNC(SEL_CHANGED, FXKBrowser::ID_DOCUMENT, FXKBrowserView::onDocChanged),
    FXMAPFUNC(SEL_QUERY_HELP, 0, FXKBrowserView::onQueryHelp),
    FXMAPFUNC(SEL_QUERY_TIP, 0, FXKBrowserView::onQueryTip),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_CONTEXT_MENU, FXKBrowserView::onCmdContextMenu),
    FXMAPFUNC(SEL_CLICKED, 0, FXKBrowserView::onClicked),
    FXMAPFUNC(SEL_DOUBLECLICKED, 0, FXKBrowserView::onDoubleClicked),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_TOGGLE_CHECK, FXKBrowserView::onCmdToggleCheck),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_TOGGLE_GROUP_CHECK, FXKBrowserView::onCmdToggleGroupCheck),
    FXMAPFUNCS(SEL_COMMAND, FXKBrowserView::ID_ITEM_CHECKED, FXKBrowserView::ID_GROUP_UNCHECKED,
               FXKBrowserView::onCmdNodeChanged),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_ITEM_CLICKED, FXKBrowserView::onCmdItemClicked),
    FXMAPFUNC(SEL_COMMAND, FXKBrowserView::ID_GROUP_CLICKED, FXKBrowserView::onCmdGroupClicked),
    FXMAPFUNC(SEL_CHORE, FXKBrowserView::ID_REFRESH_CHORE, FXKBrowserView::onRefreshChore),
};
FXIMPLEMENT(FXKBrowserView, FXKContainerWindow, FXKBrowserViewMap, ARRAYNUMBER(FXKBrowserViewMap))

FXKBrowserView::FXKBrowserView(FXComposite* parent, FXKBrowser* browser, FXuint options)
    : FXKContainerWindow(parent, options), browser_(browser) {
  if (browser_) browser_->addRef();
  flags |= FLAG_ENABLED | FLAG_SHOWN | FLAG_RECALC | 0x20000000;
}

FXKBrowserView::~FXKBrowserView() {
  if (auto* korvane = dynamic_cast<FXKorvaneApp*>(getApp())) korvane->cancelChores(this, 0);
  getApp()->removeChore(this, FXSEL(SEL_CHORE, ID_REFRESH_CHORE));
  delete menu_;
  menu_ = nullptr;
  menuItem_.reset();
  current_ = nullptr;
  // The index goes first: the nodes then leave it without a look-up each.
  nodes_.clear();
  pendingIndex_.clear();
  root.clearChildren();
  displayRoot_.reset();
  anchor_.reset();
  if (browser_) {
    if (attached_) browser_->handle(this, FXSEL(SEL_DETACH, 0), nullptr);
    browser_->release();
  }
}

FXKBrowser& FXKBrowserView::browser() const {
  if (!browser_) Processor::throwNullReference();
  return *browser_;
}

void FXKBrowserView::create() {
  const bool first = !id();
  FXKContainerWindow::create();
  if (first && !attached_) {
    browser().handle(this, FXSEL(SEL_ATTACH, 0), nullptr);
    attached_ = true;
  }
}

void FXKBrowserView::destroy() {
  if (attached_) {
    browser().handle(this, FXSEL(SEL_DETACH, 0), nullptr);
    attached_ = false;
  }
  if (menu_) menu_->destroy();
  FXKContainerWindow::destroy();
}

void FXKBrowserView::layout() {
  FXKContainerWindow::layout();
  if ((viewFlags & VIEWFLAG_SHOW_CURRENT) && current_) {
    viewFlags &= ~VIEWFLAG_SHOW_CURRENT;
    makeVisible(current_);
  }
}

void FXKBrowserView::indexNode(FXKTerminal* node, const FXKBrowserItem* item) {
  if (!item) return;
  if (populating_)
    pendingIndex_.emplace_back(item->hashValue(), node);
  else
    nodes_.insert(item->hashValue(), node);
}

void FXKBrowserView::unindexNode(FXKTerminal* node, const FXKBrowserItem* item) {
  if (!item) return;
  flushIndex();
  if (nodes_.empty()) return;
  nodes_.erase(item->hashValue(), node);
}

void FXKBrowserView::flushIndex() {
  if (pendingIndex_.empty()) return;
  nodes_.reserve(nodes_.size() + pendingIndex_.size());
  constexpr std::size_t kAhead = 8;
  for (std::size_t i = 0; i < pendingIndex_.size(); ++i) {
    if (i + kAhead < pendingIndex_.size()) nodes_.prefetch(pendingIndex_[i + kAhead].first);
    nodes_.insert(pendingIndex_[i].first, pendingIndex_[i].second);
  }
  pendingIndex_.clear();
  pendingIndex_.shrink_to_fit();
}

void FXKBrowserView::forgetNode(FXKTerminal* node) {
  if (current_ == node) current_ = nullptr;
  forget(node);
}

const FXKBrowserItem* FXKBrowserView::itemOf(FXKTerminal* node) const {
  if (!node) return nullptr;
  if (auto* viewItem = dynamic_cast<FXKBrowserViewItem*>(node)) return viewItem->item.get();
  if (auto* g = dynamic_cast<FXKBrowserViewGroup*>(node)) return g->item.get();
  return nullptr;
}

FXKTerminal* FXKBrowserView::findNode(const FXKBrowserItem* item) const {
  if (!item) return nullptr;
  // Filing waiting nodes changes no answer, only where they are kept.
  const_cast<FXKBrowserView*>(this)->flushIndex();
  FXKTerminal *itemFound = nullptr, *groupFound = nullptr;
  nodes_.find(item->hashValue(), [&](FXKTerminal* node) {
    const FXKBrowserItem* own = itemOf(node);
    if (!own || !own->isEqual(item)) return true;
    if (node->isItem()) {
      itemFound = node;
      return false;
    }
    if (!groupFound) groupFound = node;
    return true;
  });
  return itemFound ? itemFound : groupFound;
}

FXKBrowserViewGroup* FXKBrowserView::findGroupByKey(FXint key) const {
  for (FXKTerminal* child : root.children)
    if (static_cast<FXKBrowserViewGroup*>(child)->key == key) return static_cast<FXKBrowserViewGroup*>(child);
  return nullptr;
}

FXKBrowserViewGroup* FXKBrowserView::findGroupByItem(const FXKBrowserItem* item) const {
  for (FXKTerminal* child : root.children) {
    auto* g = static_cast<FXKBrowserViewGroup*>(child);
    if (g->item && item && g->item->isEqual(item)) return g;
  }
  return nullptr;
}

bool FXKBrowserView::isEmpty() const { return itemCount_ == 0; }

std::vector<FXKBrowserViewItem*> FXKBrowserView::items() const {
  std::vector<FXKBrowserViewItem*> all;
  all.reserve(itemCount_);
  for (FXKTerminal* g : root.children)
    for (FXKTerminal* child : static_cast<FXKContainer*>(g)->children)
      all.push_back(static_cast<FXKBrowserViewItem*>(child));
  return all;
}

void FXKBrowserView::clearItems() {
  current_ = nullptr;
  tracked = nullptr;
  // The index goes first: the nodes then leave it without a look-up each.
  nodes_.clear();
  pendingIndex_.clear();
  root.clearChildren();
  itemCount_ = 0;
}

bool FXKBrowserView::isItemEnabled(const FXKBrowserItem* item) {
  if (options & VIEW_BROWSE_ONLY) return true;
  return browser().isEnabled(item);
}

bool FXKBrowserView::fillContextMenu(FXMenuPane* pane, const FXKBrowserItem* item, int) {
  return item && browser().addItemCommands(pane, item);
}

bool FXKBrowserView::isItemSelected(const FXKBrowserItem* item) { return browser().isSelected(item); }

bool FXKBrowserView::isItemFocused(const FXKBrowserItem* item) {
  if (!hasFocus() || (options & VIEW_BROWSE_ONLY) || !current_) return false;
  const FXKBrowserItem* own = itemOf(current_);
  return own && item && own->isEqual(item);
}

int FXKBrowserView::getItemCheckState(const FXKBrowserItem* item) { return browser().getCheckState(item); }
bool FXKBrowserView::isItemCheckable(const FXKBrowserItem* item) { return browser().isCheckable(item); }

void FXKBrowserView::makeVisible(FXKTerminal* node) {
  if (!node) return;
  const FXRectangle r = node->toWindow(node->area());
  const FXint vw = getViewportWidth(), vh = getViewportHeight();
  FXint nx = pos_x, ny = pos_y, x = r.x, y = r.y;
  if (x + r.w >= vw) {
    nx -= x + r.w - vw;
    x = vw - r.w;
  }
  if (x <= 0) nx -= x;
  if (y + r.h >= vh) {
    ny -= y + r.h - vh;
    y = vh - r.h;
  }
  if (y <= 0) ny -= y;
  setPosition(nx, ny);
}

void FXKBrowserView::recalcItems(bool all) {
  recalc();
  if (!all) return;
  for (FXKTerminal* g : root.children) g->requestLayout();
  flags |= FLAG_RECALC;
}

FXKBrowserViewGroup* FXKBrowserView::createGroup(FXint key, const FXKBrowserItem* item) {
  return new FXKBrowserViewGroup(this, key, item ? item->getParent() : nullptr);
}

FXKBrowserViewItem* FXKBrowserView::createItem(FXKBrowserViewGroup* group, FXKBrowserItem* item) {
  return new FXKBrowserViewItem(group, item);
}

void FXKBrowserView::updateItem(FXKBrowserViewItem* node) {
  browser().prepareItem(node->item.get());
  node->setup();
}

void FXKBrowserView::updateGroup(FXKBrowserViewGroup* group) {
  if (group->item) browser().prepareItem(group->item.get());
  group->setup();
}

bool FXKBrowserView::acceptsItem(const FXKBrowserItem* item) {
  if (groupsByParent() && item->hasChildren()) return false;
  return browser().isVisible(item);
}

void FXKBrowserView::populate(const FXKBrowserItem* parent, bool recursive) {
  std::unique_ptr<FXKItemIterator> it(browser().children(parent, 1));
  if (!it) {
    populateEmpty(parent);
    return;
  }
  nodes_.reserve(nodes_.size() + pendingIndex_.size() + it->sizeHint());
  ++populating_;
  bool shown = false;
  for (; it->isValid(); it->next()) {
    FXKBrowserItem* child = it->current();
    if (!child) continue;
    const bool descend = recursive && child->hasChildren() && browser().isVisible(child);
    if (acceptsItem(child)) {
      // A node needs an item of its own: the enumerated one when the
      // iterator can give it up, a copy when the descent still reads it.
      insertItem(descend ? child->clone() : it->takeCurrent());
      shown = true;
    }
    if (descend) populate(child, true);
  }
  if (--populating_ == 0) flushIndex();
  it.reset();
  if (!shown) populateEmpty(parent);
}

FXKTerminal* FXKBrowserView::insertItem(FXKBrowserItem* item) {
  if (!item) return nullptr;
  FXKBrowserViewGroup* g = nullptr;
  FXint key = INT_MAX;
  if (groupsByParent()) {
    std::unique_ptr<FXKBrowserItem> parent(item->getParent());
    if (parent) g = findGroupByItem(parent.get());
    if (!g) key = groupKeyOf(item);
  } else {
    key = isGrouped() ? INT_MAX : groupKeyOf(item);
  }
  if (!g) {
    g = findGroupByKey(key);
    if (!g) {
      g = createGroup(key, item);
      updateGroup(g);
    }
  }
  FXKBrowserViewItem* node = createItem(g, item);
  if (node) updateItem(node);
  recalc();
  return node;
}

const FXKBrowserItem* FXKBrowserView::getDisplayRoot() {
  if (!(options & VIEW_FOLLOW_CURRENT)) return browser().getLocation();
  const FXKBrowserItem* current = browser().getCurrentItem();
  if (!current) return nullptr;
  if (current->hasChildren()) return current;
  return browser().getContainer(current);
}

bool FXKBrowserView::setDisplayRoot(const FXKBrowserItem* item) {
  if (displayRoot_ && item && displayRoot_->isEqual(item)) return false;
  if (!displayRoot_ && !item) return false;
  displayRoot_.reset(item ? item->clone() : nullptr);
  return true;
}

void FXKBrowserView::refresh(FXuint flags) {
  const bool changed = setDisplayRoot(getDisplayRoot());
  if (changed || (flags & (FXKBrowser::UPDATE_REBUILD | FXKBrowser::UPDATE_ENABLING))) {
    std::unique_ptr<FXKBrowserItem> keep;
    if (const FXKBrowserItem* own = itemOf(current_)) keep.reset(own->clone());
    clearItems();
    auto* app = dynamic_cast<FXExtApp*>(getApp());
    const bool wait = (viewFlags & VIEWFLAG_WAIT_CURSOR) && app;
    if (wait) app->beginWaitCursor();
    populate(displayRoot_.get(), populatesRecursively());
    if (!current_ && !root.children.empty()) {
      FXKTerminal* node = keep ? findNode(keep.get()) : nullptr;
      current_ = node ? node : firstItem();
    }
    keep.reset();
    root.createResources();
    if (isSortable()) sortAll();
    if (wait) app->endWaitCursor();
    update();
    flags &= ~FXKBrowser::UPDATE_CURRENT_ITEM;
  }
  if (flags & FXKBrowser::UPDATE_CURRENT) {
    const FXKBrowserItem* current = browser().getCurrentItem();
    const FXKBrowserItem* own = itemOf(current_);
    if (current && (!own || !own->isEqual(current))) setCurrent(current);
  }
  if ((flags & FXKBrowser::UPDATE_CURRENT_ITEM) && current_) {
    if (auto* viewItem = dynamic_cast<FXKBrowserViewItem*>(current_))
      updateItem(viewItem);
    else if (auto* g = dynamic_cast<FXKBrowserViewGroup*>(current_))
      updateGroup(g);
    update();
  }
  if (flags & FXKBrowser::UPDATE_REPAINT) update();
}

void FXKBrowserView::requestRefresh(FXuint flags) {
  pendingRefresh_ |= flags;
  if (auto* korvane = dynamic_cast<FXKorvaneApp*>(getApp()))
    korvane->postChore(this, ID_REFRESH_CHORE, nullptr, nullptr, true);
  else
    getApp()->addChore(this, FXSEL(SEL_CHORE, ID_REFRESH_CHORE));
}

long FXKBrowserView::onRefreshChore(FXObject*, FXSelector, void*) {
  const FXuint flags = pendingRefresh_;
  pendingRefresh_ = 0;
  if (flags) refresh(flags);
  return 1;
}

void FXKBrowserView::setCurrent(const FXKBrowserItem* item) {
  if (current_) current_->invalidate();
  FXKTerminal* node = findNode(item);
  if (node) {
    if (flags & FLAG_RECALC)
      viewFlags |= VIEWFLAG_SHOW_CURRENT;
    else
      makeVisible(node);
    node->invalidate();
  }
  current_ = node;
}

void FXKBrowserView::setCurrentNode(FXKTerminal* node, int kind, FXuint modifiers) {
  if (!node) return;
  if (auto* viewItem = dynamic_cast<FXKBrowserViewItem*>(node)) {
    clickItem(viewItem->item.get(), kind, modifiers);
    return;
  }
  auto* g = dynamic_cast<FXKBrowserViewGroup*>(node);
  if (!g) return;
  if (g->item) {
    clickItem(g->item.get(), kind, modifiers);
    return;
  }
  if (current_) current_->invalidate();
  if (flags & FLAG_RECALC)
    viewFlags |= VIEWFLAG_SHOW_CURRENT;
  else
    makeVisible(g);
  g->invalidate();
  current_ = g;
}

void FXKBrowserView::clickItem(const FXKBrowserItem* item, int kind, FXuint modifiers) {
  FXKBrowser& b = browser();
  // The clicked item is copied: clicks may replace nodes and items.
  std::unique_ptr<FXKBrowserItem> clicked(item ? item->clone() : nullptr);
  const FXKBrowserItem* current = b.getCurrentItem();
  if ((modifiers & SHIFTMASK) && current && anchor_ && clicked && !current->isEqual(clicked.get())) {
    b.clickItem(clicked.get(), kind, modifiers, false);
    if (!b.isSelected(anchor_.get())) b.clickItem(anchor_.get(), kind, modifiers | CONTROLMASK, false);
    bool atClicked = false, atAnchor = false;
    for (FXKBrowserViewItem* node : items()) {
      if (node->item->isEqual(clicked.get())) atClicked = !atClicked;
      if (node->item->isEqual(anchor_.get())) atAnchor = !atAnchor;
      if (atClicked != atAnchor && !b.isSelected(node->item.get()))
        b.clickItem(node->item.get(), kind, modifiers | CONTROLMASK, false);
    }
    b.selectItem(clicked.get(), true, true);
  } else {
    b.clickItem(clicked.get(), kind, modifiers, true);
    anchor_.reset(clicked ? clicked->clone() : nullptr);
  }
  if ((options & VIEW_OPEN_FOLDERS) && clicked && clicked->hasChildren()) b.selectLocation(clicked.get(), true, true);
  const FXKBrowserItem* now = b.getCurrentItem();
  const FXKBrowserItem* own = itemOf(current_);
  if (!now != !own || (now && own && !now->isEqual(own))) requestRefresh(FXKBrowser::UPDATE_CURRENT);
}

void FXKBrowserView::createContextMenu(const FXKBrowserItem* item) {
  if (menu_) {
    menu_->destroy();
    delete menu_;
    menu_ = nullptr;
  }
  // The menu's commands carry the item as their data: it lives as long as the menu.
  menuItem_.reset(item ? item->clone() : nullptr);
  menu_ = new FXMenuPane(this);
  if (!fillContextMenu(menu_, menuItem_.get(), 3)) {
    delete menu_;
    menu_ = nullptr;
    menuItem_.reset();
  }
}

// ---- navigation and sorting

FXKBrowserViewItem* FXKBrowserView::firstItem() const {
  for (FXKTerminal* g : root.children) {
    auto& list = static_cast<FXKContainer*>(g)->children;
    if (!list.empty()) return static_cast<FXKBrowserViewItem*>(list.front());
  }
  return nullptr;
}

FXKBrowserViewItem* FXKBrowserView::lastItem() const {
  for (auto g = root.children.rbegin(); g != root.children.rend(); ++g) {
    auto& list = static_cast<FXKContainer*>(*g)->children;
    if (!list.empty()) return static_cast<FXKBrowserViewItem*>(list.back());
  }
  return nullptr;
}

FXKBrowserViewItem* FXKBrowserView::nextItem(FXKBrowserViewItem* node) const {
  if (!node || !node->parent) return nullptr;
  auto& list = node->parent->children;
  auto at = std::find(list.begin(), list.end(), node);
  if (at != list.end() && ++at != list.end()) return static_cast<FXKBrowserViewItem*>(*at);
  auto g = std::find(root.children.begin(), root.children.end(), node->parent);
  for (++g; g < root.children.end(); ++g) {
    auto& next = static_cast<FXKContainer*>(*g)->children;
    if (!next.empty()) return static_cast<FXKBrowserViewItem*>(next.front());
  }
  return nullptr;
}

FXKBrowserViewItem* FXKBrowserView::previousItem(FXKBrowserViewItem* node) const {
  if (!node || !node->parent) return nullptr;
  auto& list = node->parent->children;
  auto at = std::find(list.begin(), list.end(), node);
  if (at != list.begin() && at != list.end()) return static_cast<FXKBrowserViewItem*>(*(at - 1));
  auto g = std::find(root.children.begin(), root.children.end(), node->parent);
  while (g != root.children.begin()) {
    --g;
    auto& previous = static_cast<FXKContainer*>(*g)->children;
    if (!previous.empty()) return static_cast<FXKBrowserViewItem*>(previous.back());
  }
  return nullptr;
}

FXKBrowserViewItem* FXKBrowserView::nextEnabledItem() {
  if (isEmpty()) return nullptr;
  auto* node = dynamic_cast<FXKBrowserViewItem*>(current_);
  if (!current_) return firstItem();
  if (!node) {
    // A group is current: its first item onwards.
    auto* g = static_cast<FXKBrowserViewGroup*>(current_);
    if (g->children.empty()) return nullptr;
    node = static_cast<FXKBrowserViewItem*>(g->children.front());
    if (isItemEnabled(node->item.get())) return node;
  }
  for (node = nextItem(node); node; node = nextItem(node))
    if (isItemEnabled(node->item.get())) return node;
  return nullptr;
}

FXKBrowserViewItem* FXKBrowserView::previousEnabledItem() {
  if (isEmpty()) return nullptr;
  auto* node = dynamic_cast<FXKBrowserViewItem*>(current_);
  if (!node) return lastItem();
  FXKBrowserViewItem* first = firstItem();
  if (node == first) return node;
  for (node = previousItem(node); node; node = previousItem(node))
    if (isEnabled(node) || node == first) return node;
  return first;
}

FXKBrowserViewItem* FXKBrowserView::neighbourItem(int direction) {
  if (isEmpty()) return nullptr;
  if (!current_) return firstItem();
  return findNeighbour(current_, direction);
}

FXKBrowserViewItem* FXKBrowserView::findNeighbour(FXKTerminal* node, int direction) {
  const FXRectangle o = node->getOrientedRect(node->area(), direction);
  FXKNeighbourSearch record;
  record.crossStart = o.x, record.crossEnd = o.x + o.w, record.mainStart = o.y, record.mainEnd = o.y + o.h;
  FXKBrowserViewItem* best = nullptr;
  for (FXKTerminal* g : root.children)
    for (FXKTerminal* child : static_cast<FXKContainer*>(g)->children)
      if (child != node && child->scoreNeighbour(record, direction, 0)) best = static_cast<FXKBrowserViewItem*>(child);
  return best;
}

void FXKBrowserView::sortAll() {
  // Stable: a later element goes first only when the comparison's sign says
  // so. (Text comparisons answer character differences, not just -1/1.)
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  std::stable_sort(root.children.begin(), root.children.end(), [&](FXKTerminal* later, FXKTerminal* earlier) {
    return compareGroups(static_cast<FXKBrowserViewGroup*>(later), static_cast<FXKBrowserViewGroup*>(earlier)) < 0;
  });
  const int order = sortOrder < 0 ? -1 : 1;
  for (FXKTerminal* g : root.children) {
    auto& list = static_cast<FXKContainer*>(g)->children;
    std::stable_sort(list.begin(), list.end(), [&](FXKTerminal* later, FXKTerminal* earlier) {
      return sign(compare(static_cast<FXKBrowserViewItem*>(later), static_cast<FXKBrowserViewItem*>(earlier),
                          sortColumn)) == -order;
    });
  }
  sorted();
  recalcItems(true);
}

// ---- messages

long FXKBrowserView::onFocusIn(FXObject* sender, FXSelector sel, void* ptr) {
  if (!current_ && !root.children.empty()) current_ = firstItem();
  if (current_) current_->invalidate();
  return FXWindow::onFocusIn(sender, sel, ptr);
}

long FXKBrowserView::onFocusOut(FXObject* sender, FXSelector sel, void* ptr) {
  if (current_) current_->invalidate();
  return FXWindow::onFocusOut(sender, sel, ptr);
}

long FXKBrowserView::onLeftBtnPress(FXObject* sender, FXSelector sel, void* ptr) {
  flags &= ~FLAG_TIP;
  handle(this, FXSEL(SEL_FOCUS_SELF, 0), ptr);
  auto* ev = static_cast<FXEvent*>(ptr);
  if (FXWindow::isEnabled() && !(options & VIEW_BROWSE_ONLY)) {
    lastEvent_ = *ev;
    FXKTerminal* node = terminalAt(ev->win_x, ev->win_y);
    if (auto* viewItem = dynamic_cast<FXKBrowserViewItem*>(node)) {
      trackPress(ev->win_x, ev->win_y);
      return handle(this, FXSEL(SEL_COMMAND, ID_ITEM_CLICKED), viewItem->item.get());
    }
    if (auto* g = dynamic_cast<FXKBrowserViewGroup*>(node)) {
      trackPress(ev->win_x, ev->win_y);
      return handle(this, FXSEL(SEL_COMMAND, ID_GROUP_CLICKED), g);
    }
    if (!node && current_)
      if (const FXKBrowserItem* own = itemOf(current_)) {
        std::unique_ptr<FXKBrowserItem> copy(own->clone());
        browser().setItemState(FXKBrowser::STATE_SELECTED, copy.get(), false, true);
      }
  }
  return FXKContainerWindow::onLeftBtnPress(sender, sel, ptr);
}

long FXKBrowserView::onRightBtnRelease(FXObject*, FXSelector, void* ptr) {
  flags &= ~FLAG_TIP;
  handle(this, FXSEL(SEL_FOCUS_SELF, 0), ptr);
  if (!FXWindow::isEnabled()) return 0;
  auto* ev = static_cast<FXEvent*>(ptr);
  const FXKBrowserItem* found = itemOf(terminalAt(ev->win_x, ev->win_y));
  if (found) {
    if (options & VIEW_BROWSE_ONLY) return 0;
    std::unique_ptr<FXKBrowserItem> item(found->clone());
    FXKBrowser& b = browser();
    if (isItemEnabled(item.get())) {
      if (!b.isSelected(item.get())) b.clearState(FXKBrowser::STATE_SELECTED, false);
      b.ensureSelected(item.get(), true);
      if ((options & VIEW_OPEN_FOLDERS) && item->hasChildren()) b.selectLocation(item.get(), true, true);
      const FXKBrowserItem* now = b.getCurrentItem();
      const FXKBrowserItem* own = itemOf(current_);
      if (!now != !own || (now && own && !now->isEqual(own))) requestRefresh(FXKBrowser::UPDATE_CURRENT);
    } else {
      setCurrent(item.get());
    }
  } else if (options & VIEW_BROWSE_ONLY) {
    return 0;
  }
  return handle(this, FXSEL(SEL_COMMAND, ID_CONTEXT_MENU), ptr);
}

long FXKBrowserView::onCmdContextMenu(FXObject*, FXSelector, void* ptr) {
  auto* ev = static_cast<FXEvent*>(ptr);
  const FXKBrowserItem* item = nullptr;
  FXint sx = 0, sy = 0;
  if (ev) {
    item = itemOf(terminalAt(ev->win_x, ev->win_y));
    sx = ev->root_x, sy = ev->root_y;
  } else if (current_) {
    item = itemOf(current_);
    const FXPoint p = current_->toWindow(FXPoint(0, 0));
    if (id()) translateCoordinatesTo(sx, sy, getRoot(), p.x, p.y);
  }
  std::unique_ptr<FXKBrowserItem> copy(item ? item->clone() : nullptr);
  createContextMenu(copy.get());
  if (menu_) {
    menu_->create();
    menu_->forceRefresh();
    menu_->popup(nullptr, sx, sy);
    return 1;
  }
  return browser().popupItemMenu(copy.get(), this, sx, sy) ? 1 : 0;
}

void FXKBrowserView::statesChanged(int, bool) { update(); }

long FXKBrowserView::onDocSelected(FXObject*, FXSelector, void* ptr) {
  if (!ptr) {
    statesChanged(browser().lastChange().set, true);
    return 0;
  }
  FXKTerminal* node = findNode(static_cast<FXKBrowserItem*>(ptr));
  if (!node) return 0;
  if (browser().lastChange().set == FXKBrowser::STATE_CHECKED)
    return handle(this, FXSEL(SEL_COMMAND, node->isItem() ? ID_ITEM_CHECKED : ID_GROUP_CHECKED), node);
  node->invalidate();
  return 0;
}

long FXKBrowserView::onDocDeselected(FXObject*, FXSelector, void* ptr) {
  if (!ptr) {
    statesChanged(browser().lastChange().set, false);
    return 0;
  }
  FXKTerminal* node = findNode(static_cast<FXKBrowserItem*>(ptr));
  if (!node) return 0;
  if (browser().lastChange().set == FXKBrowser::STATE_CHECKED)
    return handle(this, FXSEL(SEL_COMMAND, node->isItem() ? ID_ITEM_UNCHECKED : ID_GROUP_UNCHECKED), node);
  node->invalidate();
  return 0;
}

long FXKBrowserView::onDocInserted(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<FXKBrowserItem*>(ptr);
  if (!item || !acceptsItem(item) || findNode(item)) return 0;
  FXKTerminal* node = insertItem(item->clone());
  if (isSortable()) sortAll();
  if (node && id()) node->createResources();
  return 0;
}

long FXKBrowserView::onDocDeleted(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<FXKBrowserItem*>(ptr);
  if (!item) return 0;
  if (!displayRoot_ || !displayRoot_->isEqual(item)) {
    FXKTerminal* node = findNode(item);
    if (!node) return 0;
    if (node == current_ || (current_ && current_->parent == node)) current_ = nullptr;
    delete node;
    return 0;
  }
  setDisplayRoot(nullptr);
  current_ = nullptr;
  browser().selectItem(nullptr, true, true);
  requestRefresh(FXKBrowser::UPDATE_REBUILD | FXKBrowser::UPDATE_ENABLING);
  return 0;
}

long FXKBrowserView::onDocVerify(FXObject*, FXSelector, void* ptr) {
  FXKTerminal* node = findNode(static_cast<FXKBrowserItem*>(ptr));
  if (auto* viewItem = dynamic_cast<FXKBrowserViewItem*>(node))
    updateItem(viewItem);
  else if (auto* g = dynamic_cast<FXKBrowserViewGroup*>(node))
    updateGroup(g);
  if (node) node->invalidate();
  return 0;
}

long FXKBrowserView::onDocChanged(FXObject*, FXSelector, void* ptr) {
  refresh(static_cast<FXuint>(reinterpret_cast<FXuval>(ptr)));
  return 1;
}

long FXKBrowserView::onQueryHelp(FXObject* sender, FXSelector, void*) {
  return browser().handle(sender, FXSEL(SEL_UPDATE, FXKBrowser::ID_UPDATE_HELP), nullptr);
}

long FXKBrowserView::onQueryTip(FXObject* sender, FXSelector, void* ptr) {
  FXint px = 0, py = 0;
  FXuint buttons = 0;
  getCursorPosition(px, py, buttons);
  const FXKBrowserItem* item = itemOf(terminalAt(px, py));
  if (!item || !sender) return 0;
  FXWString tip;
  browser().getItemTip(tip, item);
  const FXString narrow = tip.toUtf8().c_str();
  sender->handle(this, FXSEL(SEL_COMMAND, ID_SETSTRINGVALUE), const_cast<FXString*>(&narrow));
  return 1;
}

long FXKBrowserView::onClicked(FXObject*, FXSelector, void* ptr) {
  if (target && target->handle(this, FXSEL(SEL_CLICKED, message), ptr)) return 1;
  auto* item = static_cast<FXKBrowserItem*>(ptr);
  if ((browser().getMode() & FXKBrowser::MODE_CLICK_CHECKS) && item && isItemCheckable(item))
    return handle(this, FXSEL(SEL_COMMAND, ID_TOGGLE_CHECK), ptr);
  return 0;
}

long FXKBrowserView::onDoubleClicked(FXObject*, FXSelector, void* ptr) {
  if (!target) return 1;
  return target->handle(this, FXSEL(SEL_DOUBLECLICKED, message), ptr);
}

long FXKBrowserView::onCmdToggleCheck(FXObject*, FXSelector, void* ptr) {
  browser().setChecked(static_cast<FXKBrowserItem*>(ptr), 0, true, 2);
  return 1;
}

long FXKBrowserView::onCmdToggleGroupCheck(FXObject*, FXSelector, void* ptr) {
  auto* g = static_cast<FXKBrowserViewGroup*>(ptr);
  if (!g || !g->item) return 0;
  browser().setChecked(g->item.get(), 0, true, 2);
  return 1;
}

long FXKBrowserView::onCmdNodeChanged(FXObject*, FXSelector, void* ptr) {
  if (auto* node = static_cast<FXKTerminal*>(ptr)) node->invalidate();
  return 1;
}

long FXKBrowserView::onCmdItemClicked(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<FXKBrowserItem*>(ptr);
  // The item belongs to a node that the click may rebuild.
  std::unique_ptr<FXKBrowserItem> copy(item ? item->clone() : nullptr);
  clickItem(copy.get(), 0, lastEvent_.state);
  const FXSelector sel = FXSEL(lastEvent_.click_count == 2 ? SEL_DOUBLECLICKED : SEL_CLICKED, 0);
  return handle(this, sel, copy.get()) ? 1 : 0;
}

long FXKBrowserView::onCmdGroupClicked(FXObject*, FXSelector, void* ptr) {
  auto* g = static_cast<FXKBrowserViewGroup*>(ptr);
  if (!g || !g->item) return 0;
  return handle(this, FXSEL(SEL_COMMAND, ID_ITEM_CLICKED), g->item.get());
}
