#include "widgets/shell/category_view.h"

#include <vector>

#include "widgets/shell/shell_browser.h"
#include "widgets/shell/shell_items.h"
#include "widgets/shell/shell_window.h"

using namespace FX;

FXIMPLEMENT(FXKShellCategoryGroup, FXKIconGroup, nullptr, 0)
FXIMPLEMENT(FXKShellCategoryView, FXKIconList, nullptr, 0)

FXKIconList* fxkNewShellCategoryView(FXComposite* parent, FXKShellWindow* window, FXuint options) {
  return new FXKShellCategoryView(parent, window, options);
}

FXKShellCategoryView::FXKShellCategoryView(FXComposite* parent, FXKShellWindow* window, FXuint options)
    : FXKIconList(parent, window->getBrowser(), options), window_(window) {}

FXKShellCategoryView::~FXKShellCategoryView() = default;

FXKShellCategoryGroup* FXKShellCategoryView::findGroup(const std::string& key) const {
  for (FXKTerminal* t : root.children)
    if (auto* g = dynamic_cast<FXKShellCategoryGroup*>(t); g && g->categoryKey == key) return g;
  return nullptr;
}

FXKBrowserViewGroup* FXKShellCategoryView::createGroup(FXint, const FXKBrowserItem*) {
  // Groups are told apart by their category keys; the list's integer keys
  // only need to differ.
  auto* g = new FXKShellCategoryGroup(this, nextKey_++);
  if (options & ICONLIST_EXPANDERS) g->setExpandState((getListFlags() & LIST_COLLAPSED_GROUPS) ? 1 : 0, false);
  return g;
}

FXKShellCategoryGroup* FXKShellCategoryView::groupFor(const std::string& key) {
  FXKShellCategoryGroup* g = findGroup(key);
  if (!g) {
    g = static_cast<FXKShellCategoryGroup*>(createGroup(0, nullptr));
    g->categoryKey = key;
    if (id()) g->createResources();
  }
  recalc();
  return g;
}

namespace {
bool sameItem(FXKTerminal* t, const std::string& verb, FXint id) {
  auto* entry = dynamic_cast<FXKIconItem*>(t);
  auto* item = entry ? dynamic_cast<const FXKShellBrowserItem*>(entry->item.get()) : nullptr;
  return item && item->id == id && item->verb == verb;
}
}  // namespace

FXKIconItem* FXKShellCategoryView::findEntryInGroup(FXKIconGroup* group, const std::string& verb, FXint id) const {
  if (!group) return nullptr;
  for (FXKTerminal* t : group->children)
    if (sameItem(t, verb, id)) return static_cast<FXKIconItem*>(t);
  return nullptr;
}

FXKIconItem* FXKShellCategoryView::findEntry(const std::string& verb, FXint id) const {
  for (FXKTerminal* g : root.children)
    if (FXKIconItem* e = findEntryInGroup(dynamic_cast<FXKIconGroup*>(g), verb, id)) return e;
  return nullptr;
}

FXKIconItem* FXKShellCategoryView::addEntry(FXKIconGroup* group, const FXKShellItemInfo* info) {
  if (!group || !info) return nullptr;
  auto* item = new FXKShellBrowserItem(info->verb, info->id, info->separator, info->usesSelection);
  auto* entry = dynamic_cast<FXKIconItem*>(createItem(group, item));
  if (!entry) return nullptr;
  updateItem(entry);
  if (id()) {
    entry->createResources();
    recalc();
  }
  return entry;
}

void FXKShellCategoryView::removeEntry(FXKIconGroup* group, const FXKShellItemInfo* info) {
  if (!info) return;
  FXKIconItem* entry = findEntryInGroup(group, info->verb, info->id);
  if (!entry) return;
  if (getCurrentNode() == entry) forgetNode(entry);
  forgetHotItem(entry);
  delete entry;
  recalc();
}

void FXKShellCategoryView::removeEmptyGroups() {
  std::vector<FXKIconGroup*> empty;
  for (FXKTerminal* t : root.children)
    if (auto* g = dynamic_cast<FXKIconGroup*>(t); g && g->children.empty()) empty.push_back(g);
  for (FXKIconGroup* g : empty) {
    forgetHotGroup(g);
    delete g;
  }
  if (!empty.empty()) recalc();
}

void FXKShellCategoryView::refresh(FXuint flags) {
  const FXuint own = FXKBrowser::UPDATE_REBUILD | FXKBrowser::UPDATE_ENABLING;
  if (flags & own) {
    for (FXKBrowserViewItem* entry : items()) updateItem(entry);
    flags &= ~own;
    recalc();
  }
  FXKIconList::refresh(flags);
}

void FXKShellCategoryView::createContextMenu(const FXKBrowserItem* item) {
  // A shell item's menu belongs to the window: the view keeps no pane of its
  // own for it, and the document pops the window's pane up.
  itemMenuPending_ = dynamic_cast<const FXKShellBrowserItem*>(item) != nullptr;
  FXKIconList::createContextMenu(item);
  itemMenuPending_ = false;
}

bool FXKShellCategoryView::fillContextMenu(FXMenuPane* pane, const FXKBrowserItem* item, int kind) {
  if (itemMenuPending_) return false;
  return FXKIconList::fillContextMenu(pane, item, kind);
}
