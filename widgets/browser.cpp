#include "widgets/browser.h"

#include <algorithm>

#include "core/catalogue.h"
#include "gui/app/korvane_app.h"
#include "platform/fox/fx_app.h"
#include "platform/fox/fx_resources.h"
#include "widgets/preview.h"

using namespace FX;

FXIMPLEMENT_ABSTRACT(FXKBrowserItem, FXObject, nullptr, 0)
FXIMPLEMENT_ABSTRACT(FXKSimpleBrowserItem, FXKBrowserItem, nullptr, 0)

FXKBrowserItem* FXKBrowserItem::clone() const {
  auto* copy = new FXKBrowserItem;
  copy->copyBase(*this);
  return copy;
}

int FXKSimpleBrowserItem::compare(const FXKBrowserItem* other) const {
  auto* simple = dynamic_cast<const FXKSimpleBrowserItem*>(other);
  return simple && simple->id == id ? 1 : 0;
}

FXKBrowserItem* FXKSimpleBrowserItem::clone() const {
  auto* copy = new FXKSimpleBrowserItem(id);
  copy->copyBase(*this);
  return copy;
}

// ---- document

FXDEFMAP(FXKDocument) FXKDocumentMap[] = {
    FXMAPFUNC(SEL_ATTACH, 0, FXKDocument::onAttachView),
    FXMAPFUNC(SEL_DETACH, 0, FXKDocument::onDetachView),
};
FXIMPLEMENT(FXKDocument, FXDocument, FXKDocumentMap, ARRAYNUMBER(FXKDocumentMap))

long FXKDocument::onAttachView(FXObject* sender, FXSelector, void*) {
  if (sender) views_.insert(sender);
  return 0;
}

long FXKDocument::onDetachView(FXObject* sender, FXSelector, void*) {
  views_.erase(sender);
  return 0;
}

long FXKDocument::broadcast(FXuint type, void* data) {
  // A view may detach while it handles the message.
  const std::vector<FXObject*> targets(views_.begin(), views_.end());
  for (FXObject* view : targets)
    if (views_.count(view)) view->handle(this, FXSEL(type, FXKBrowser::ID_DOCUMENT), data);
  return 0;
}

// ---- state sets

FXKBrowser::StateSet::~StateSet() {
  byHash_.clear();
  entries_.clear();
}

std::size_t FXKBrowser::StateSet::findLocked(const FXKBrowserItem* item) const {
  // An empty set answers without touching the item.
  if (!item || !live_) return kNone;
  // The first clone filed wins, as a scan in insertion order would find it.
  std::size_t found = kNone;
  byHash_.find(item->hashValue(), [&](std::uint32_t at) {
    if (at < found && entries_[at]->isEqual(item)) found = at;
    return true;
  });
  return found;
}

bool FXKBrowser::StateSet::addLocked(const FXKBrowserItem* item) {
  const std::size_t hash = item->hashValue();
  const auto at = static_cast<std::uint32_t>(entries_.size());
  if (!byHash_.insertUnless(hash, at, [&](std::uint32_t e) { return entries_[e] && entries_[e]->isEqual(item); }))
    return false;
  try {
    entries_.emplace_back(item->clone());
  } catch (...) {
    byHash_.erase(hash, at);
    throw;
  }
  ++live_;
  return true;
}

std::unique_ptr<FXKBrowserItem> FXKBrowser::StateSet::takeLocked(std::size_t at) {
  std::unique_ptr<FXKBrowserItem> entry = std::move(entries_[at]);
  byHash_.erase(entry->hashValue(), static_cast<std::uint32_t>(at));
  --live_;
  return entry;
}

void FXKBrowser::StateSet::compactLocked() {
  if (!live_) {
    entries_.clear();
    byHash_.clear();
    return;
  }
  if (entries_.size() < 64 || live_ * 2 > entries_.size()) return;
  std::size_t to = 0;
  for (auto& entry : entries_)
    if (entry) entries_[to++] = std::move(entry);
  entries_.resize(to);
  byHash_.clear();
  byHash_.reserve(to);
  for (std::size_t i = 0; i < to; ++i) byHash_.insert(entries_[i]->hashValue(), static_cast<std::uint32_t>(i));
}

void FXKBrowser::StateSet::notifyRemoved(std::vector<std::unique_ptr<FXKBrowserItem>>& gone, bool notify) {
  for (auto& entry : gone) {
    if (notify) {
      owner_->setLastChange(entry.get(), index_, 2);
      owner_->notifyTarget(entry.get());
      owner_->broadcast(SEL_DESELECTED, entry.get());
    }
    entry.reset();
  }
}

bool FXKBrowser::StateSet::contains(const FXKBrowserItem* item) {
  // Most sets are empty most of the time (hidden, disabled, locked): asked
  // per row and per paint, they answer without taking the lock.
  if (!item || live_.load(std::memory_order_acquire) == 0) return false;
  Common::CriticalSectionLock hold(lock_);
  return findLocked(item) != kNone;
}

bool FXKBrowser::StateSet::add(const FXKBrowserItem* item, bool notify) {
  if (!item) return false;
  {
    Common::CriticalSectionLock hold(lock_);
    if (!addLocked(item)) return false;
  }
  if (notify) {
    owner_->setLastChange(item, index_, 1);
    owner_->notifyTarget(item);
    owner_->broadcast(SEL_SELECTED, const_cast<FXKBrowserItem*>(item));
  }
  return true;
}

bool FXKBrowser::StateSet::remove(const FXKBrowserItem* item, bool notify) {
  std::vector<std::unique_ptr<FXKBrowserItem>> gone;
  {
    Common::CriticalSectionLock hold(lock_);
    const std::size_t at = findLocked(item);
    if (at == kNone) return false;
    gone.push_back(takeLocked(at));
    compactLocked();
  }
  notifyRemoved(gone, notify);
  return true;
}

void FXKBrowser::StateSet::addAll(const std::vector<const FXKBrowserItem*>& items,
                                  std::vector<const FXKBrowserItem*>& changed) {
  Common::CriticalSectionLock hold(lock_);
  byHash_.reserve(live_ + items.size());
  entries_.reserve(entries_.size() + items.size());
  changed.reserve(changed.size() + items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    // The items and their slots lie apart in memory: ask for the next ones
    // early.
    if (i + 8 < items.size()) __builtin_prefetch(items[i + 8]);
    if (i + 4 < items.size() && items[i + 4]) byHash_.prefetch(items[i + 4]->hashValue());
    const FXKBrowserItem* item = items[i];
    if (item && addLocked(item)) changed.push_back(item);
  }
}

void FXKBrowser::StateSet::removeAll(const std::vector<const FXKBrowserItem*>& items,
                                     std::vector<const FXKBrowserItem*>& changed) {
  Common::CriticalSectionLock hold(lock_);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!live_) break;
    if (i + 8 < items.size()) __builtin_prefetch(items[i + 8]);
    const FXKBrowserItem* item = items[i];
    const std::size_t at = findLocked(item);
    if (at == kNone) continue;
    takeLocked(at);
    changed.push_back(item);
  }
  compactLocked();
}

void FXKBrowser::StateSet::keepOnly(const FXKBrowserItem* item, bool notify) {
  std::vector<std::unique_ptr<FXKBrowserItem>> gone;
  {
    Common::CriticalSectionLock hold(lock_);
    for (std::size_t at = 0; at < entries_.size(); ++at) {
      if (!entries_[at] || (item && entries_[at]->isEqual(item))) continue;
      gone.push_back(takeLocked(at));
    }
    compactLocked();
  }
  notifyRemoved(gone, notify);
}

void FXKBrowser::StateSet::clear(bool notify) {
  std::vector<std::unique_ptr<FXKBrowserItem>> gone;
  {
    Common::CriticalSectionLock hold(lock_);
    gone.reserve(live_);
    for (auto& entry : entries_)
      if (entry) gone.push_back(std::move(entry));
    entries_.clear();
    byHash_.clear();
    live_ = 0;
  }
  notifyRemoved(gone, notify);
}

void FXKBrowser::StateSet::removeDescendants(const FXKBrowserItem* item, bool notify) {
  if (!item) return;
  std::vector<std::unique_ptr<FXKBrowserItem>> gone;
  {
    Common::CriticalSectionLock hold(lock_);
    for (std::size_t at = 0; at < entries_.size(); ++at)
      if (entries_[at] && item->compare(entries_[at].get()) == 2) gone.push_back(takeLocked(at));
    compactLocked();
  }
  notifyRemoved(gone, notify);
}

const FXKBrowserItem* FXKBrowser::StateSet::nearestAncestor(const FXKBrowserItem* item) {
  if (!item) return nullptr;
  Common::CriticalSectionLock hold(lock_);
  const FXKBrowserItem* kept = nullptr;
  for (auto& entry : entries_)
    if (entry && entry->compare(item) == 2 && (!kept || kept->compare(entry.get()) == 2)) kept = entry.get();
  return kept;
}

bool FXKBrowser::StateSet::anyBelow(const FXKBrowserItem* item) {
  if (!item) return false;
  Common::CriticalSectionLock hold(lock_);
  for (auto& entry : entries_)
    if (entry && item->compare(entry.get()) == 2) return true;
  return false;
}

std::size_t FXKBrowser::StateSet::size() {
  Common::CriticalSectionLock hold(lock_);
  return live_;
}

std::vector<std::unique_ptr<FXKBrowserItem>> FXKBrowser::StateSet::snapshot() {
  Common::CriticalSectionLock hold(lock_);
  std::vector<std::unique_ptr<FXKBrowserItem>> copy;
  copy.reserve(live_);
  for (auto& entry : entries_)
    if (entry) copy.emplace_back(entry->clone());
  return copy;
}

// ---- browser

FXDEFMAP(FXKBrowser) FXKBrowserMap[] = {
    FXMAPFUNC(SEL_SELECTED, 0, FXKBrowser::onSelected),
    FXMAPFUNC(SEL_DESELECTED, 0, FXKBrowser::onDeselected),
    FXMAPFUNC(SEL_COMMAND, FXKBrowser::ID_SELECT, FXKBrowser::onCmdSelect),
    FXMAPFUNC(SEL_DESELECTED, FXKBrowser::ID_DESELECT, FXKBrowser::onCmdDeselect),
    FXMAPFUNC(SEL_UPDATE, FXKBrowser::ID_UPDATE_HELP, FXKBrowser::onUpdHelp),
    FXMAPFUNC(SEL_UPDATE, FXKBrowser::ID_UPDATE_TIP, FXKBrowser::onUpdTip),
    FXMAPFUNC(SEL_CHORE, FXKBrowser::ID_UPDATE_CHORE, FXKBrowser::onChoreUpdate),
    FXMAPFUNC(SEL_CHANGED, FXKBrowser::ID_DOCUMENT, FXKBrowser::onDocChanged),
    FXMAPFUNC(SEL_INSERTED, FXKBrowser::ID_DOCUMENT, FXKBrowser::onDocRelay),
    FXMAPFUNC(SEL_DELETED, FXKBrowser::ID_DOCUMENT, FXKBrowser::onDocRelay),
};
FXIMPLEMENT_ABSTRACT(FXKBrowser, FXKDocument, FXKBrowserMap, ARRAYNUMBER(FXKBrowserMap))

FXKBrowser::FXKBrowser(FXApp* app) : app_(app) {
  for (int i = 0; i < STATE_COUNT; ++i) states_[i] = std::make_unique<StateSet>(this, i);
}

FXKBrowser::~FXKBrowser() {
  if (auto* korvane = dynamic_cast<FXKorvaneApp*>(app_)) korvane->cancelChores(this, 0);
  for (auto& [key, entry] : delegates_) {
    entry.object.reset();
    entry.root.reset();
    if (entry.browser) {
      entry.browser->handle(this, FXSEL(SEL_DETACH, 0), this);
      entry.browser->release();
    }
  }
  delegates_.clear();
  location_.reset();
  current_.reset();
  root_.reset();
  commandHandler_.reset();
  if (propertiesIcon_)
    if (auto* ext = dynamic_cast<FXExtApp*>(app_)) ext->freeImage(propertiesIcon_);
  propertiesIcon_ = nullptr;
  for (auto& set : states_) {
    set->clear(false);
    set.reset();
  }
}

void FXKBrowser::setRoot(FXKBrowserItem* root) {
  root_.reset(root);
  if (root_ && !location_) location_.reset(root_->clone());
}

void FXKBrowser::addDelegate(FXuint key, FXObject* object, FXKBrowserItem* root, FXKBrowser* browser) {
  DelegateEntry& entry = delegates_[key];
  entry.object.reset(object);
  entry.root.reset(root);
  if (entry.browser) {
    entry.browser->handle(this, FXSEL(SEL_DETACH, 0), this);
    entry.browser->release();
  }
  entry.browser = browser;
  if (browser) {
    browser->addRef();
    browser->handle(this, FXSEL(SEL_ATTACH, 0), this);
  }
}

FXKBrowser::DelegateEntry* FXKBrowser::findDelegate(const FXKBrowserItem* item) {
  if (!item || delegates_.empty()) return nullptr;
  if (item->key) {
    auto it = delegates_.find(item->key);
    if (it != delegates_.end()) return &it->second;
  }
  for (auto& [key, entry] : delegates_)
    if (entry.root && entry.root->compare(item) != 0) return &entry;
  return nullptr;
}

FXKPreviewFactory FXKBrowser::getPreviewFactory(const FXKBrowserItem* item) {
  FXKBrowser* owner = item ? delegateBrowser(item) : nullptr;
  return owner ? owner->getPreviewFactory(item) : &FXKSimplePreview::factory;
}

FXKBrowser* FXKBrowser::delegateBrowser(const FXKBrowserItem* item) {
  DelegateEntry* entry = findDelegate(item);
  return entry ? entry->browser : nullptr;
}

bool FXKBrowser::isCurrent(const FXKBrowserItem* item) const {
  if (item == current_.get()) return true;
  return item && current_ && item->isEqual(current_.get());
}

void FXKBrowser::notifyTarget(const FXKBrowserItem* item) {
  if (target_) target_->handle(this, FXSEL(SEL_CHANGED, message_), const_cast<FXKBrowserItem*>(item));
}

FXKBrowserItem* FXKBrowser::selectItem(const FXKBrowserItem* item, bool notify, bool onlyIfDifferent) {
  if (onlyIfDifferent && isCurrent(item)) return current_.get();
  return setCurrentItem(item, notify, UPDATE_CURRENT);
}

void FXKBrowser::selectLocation(const FXKBrowserItem* item, bool notify, bool onlyIfDifferent) {
  if (onlyIfDifferent && (item == location_.get() || (item && location_ && item->isEqual(location_.get())))) return;
  setLocation(item, notify);
}

void FXKBrowser::setItemEnabled(const FXKBrowserItem* item, bool enable, bool notify) {
  StateSet& disabled = *states_[STATE_DISABLED];
  if (enable) {
    disabled.remove(item, notify);
  } else if (!disabled.contains(item)) {
    if (isSelected(item)) {
      states_[STATE_SELECTED]->remove(item, notify);
      disabled.add(item, false);
    } else {
      disabled.add(item, notify);
    }
  }
  if (notify) scheduleUpdate(UPDATE_ENABLING);
}

void FXKBrowser::setMode(FXuint mode) {
  if (mode == mode_) return;
  mode_ = mode;
  states_[STATE_SELECTED]->clear(false);
  if (current_) {
    // clickItem may replace the current item; keep our own copy alive.
    std::unique_ptr<FXKBrowserItem> item(current_->clone());
    clickItem(item.get(), 0, 0, true);
  }
}

void FXKBrowser::clearState(int index, bool notify) {
  if (index >= 0 && index < STATE_COUNT) states_[index]->clear(notify);
}

FXKBrowserItem* FXKBrowser::getCurrentItemCopy() {
  if (!current_) return nullptr;
  FXKBrowser* owner = delegateBrowser(current_.get());
  return (owner ? owner : this)->cloneItem(current_.get());
}

void FXKBrowser::markNoChildren(const FXKBrowserItem* item) {
  FXKBrowser* browser = this;
  while (FXKBrowser* next = browser->delegateBrowser(item)) browser = next;
  browser->states_[STATE_NO_CHILDREN]->add(item, false);
}

FXKItemIterator* FXKBrowser::children(const FXKBrowserItem* item, FXuint flags) {
  if (!item) item = root_.get();
  if (!item || !canOpen(item)) return nullptr;
  FXKItemIterator* it = nullptr;
  if (FXKBrowser* owner = delegateBrowser(item)) {
    it = owner->children(item, flags);
  } else {
    it = enumerateChildren(item, this, flags);
    if (!it) {
      markNoChildren(item);
      return nullptr;
    }
  }
  if (it && (flags & 1)) it->first();
  return it;
}

bool FXKBrowser::isItemUsable(const FXKBrowserItem* item) {
  FXKBrowser* owner = delegateBrowser(item);
  return owner ? owner->isItemUsable(item) : true;
}

bool FXKBrowser::isSelected(const FXKBrowserItem* item) { return states_[STATE_SELECTED]->contains(item); }
bool FXKBrowser::isEnabled(const FXKBrowserItem* item) { return !states_[STATE_DISABLED]->contains(item); }
bool FXKBrowser::isVisible(const FXKBrowserItem* item) { return !states_[STATE_HIDDEN]->contains(item); }
bool FXKBrowser::isCheckable(const FXKBrowserItem* item) { return !states_[STATE_CHECK_LOCKED]->contains(item); }

bool FXKBrowser::canOpen(const FXKBrowserItem* item) {
  FXKBrowser* owner = delegateBrowser(item);
  return owner ? owner->canOpen(item) : !states_[STATE_NO_CHILDREN]->contains(item);
}

int FXKBrowser::inState(int index, const FXKBrowserItem* item) {
  if (index == STATE_CHECKED) return getCheckState(item);
  if (index < 0 || index >= STATE_COUNT) return 0;
  return states_[index]->contains(item) ? 1 : 0;
}

void FXKBrowser::scheduleUpdate(FXuint flags) {
  if (auto* korvane = dynamic_cast<FXKorvaneApp*>(app_))
    korvane->postChore(this, ID_UPDATE_CHORE, nullptr, nullptr, true);
  pending_ |= flags;
}

void FXKBrowser::repaintViews() {
  broadcast(SEL_CHANGED, reinterpret_cast<void*>(static_cast<FXuval>(UPDATE_REPAINT)));
  if (app_) app_->forceRefresh();
}

bool FXKBrowser::clickItem(const FXKBrowserItem* item, int kind, FXuint modifiers, bool notify) {
  if (!isEnabled(item)) return false;
  if (!isCurrent(item)) setCurrentItem(item, notify, UPDATE_CURRENT);
  if (!current_) return false;
  StateSet& selected = *states_[STATE_SELECTED];
  if (mode_ & MODE_TOGGLE) {
    if (kind == 0 || kind == 32) {
      if (!selected.remove(item, notify)) selected.add(item, notify);
    }
    return true;
  }
  bool removed = false;
  if (mode_ & MODE_EXTEND) {
    if (!(modifiers & CONTROLMASK)) {
      selected.keepOnly(item, notify);
    } else if (!(modifiers & SHIFTMASK)) {
      if (selected.remove(item, notify)) removed = true;
    }
  } else if (mode_ & (MODE_SINGLE | MODE_MULTIPLE)) {
    selected.keepOnly(item, notify);
  }
  if ((mode_ & MODE_MULTIPLE) && !removed) selected.add(item, notify);
  return true;
}

bool FXKBrowser::activateItem(const FXKBrowserItem* item, int kind, FXuint modifiers, bool notify) {
  if (clickChecks_ == 1) return setChecked(item, modifiers, notify, 2);
  return clickItem(item, kind, modifiers, notify);
}

bool FXKBrowser::ensureSelected(const FXKBrowserItem* item, bool notify) {
  if (!isEnabled(item)) return false;
  if (!isCurrent(item)) setCurrentItem(item, notify, UPDATE_CURRENT);
  if (!current_) return false;
  StateSet& selected = *states_[STATE_SELECTED];
  if (!(mode_ & (MODE_TOGGLE | MODE_EXTEND))) selected.clear(false);
  selected.add(item, notify);
  return true;
}

FXIcon* FXKBrowser::getItemIcon(const FXKBrowserItem* item, int size) {
  FXKBrowser* owner = delegateBrowser(item);
  return owner ? owner->getItemIcon(item, size) : nullptr;
}

FXIcon* FXKBrowser::getItemIconAlt(const FXKBrowserItem* item, int size) {
  FXKBrowser* owner = delegateBrowser(item);
  return owner ? owner->getItemIconAlt(item, size) : nullptr;
}

int FXKBrowser::getExtraIconCount(const FXKBrowserItem* item) {
  FXKBrowser* owner = delegateBrowser(item);
  return owner ? owner->getExtraIconCount(item) : 0;
}

FXIcon* FXKBrowser::getExtraIcon(const FXKBrowserItem* item, int index, int size) {
  FXKBrowser* owner = delegateBrowser(item);
  return owner ? owner->getExtraIcon(item, index, size) : nullptr;
}

void FXKBrowser::getItemTitle(FXWString& out, const FXKBrowserItem* item) {
  if (FXKBrowser* owner = delegateBrowser(item)) return owner->getItemTitle(out, item);
  out = FXWString();
}

void FXKBrowser::getItemHelp(FXWString& out, const FXKBrowserItem* item) {
  if (FXKBrowser* owner = delegateBrowser(item)) return owner->getItemHelp(out, item);
  out = FXWString();
}

void FXKBrowser::getItemDescription(FXWString& out, const FXKBrowserItem* item) {
  if (FXKBrowser* owner = delegateBrowser(item)) return owner->getItemDescription(out, item);
  out = FXWString();
}

void FXKBrowser::getItemDetails(FXWString& out, const FXKBrowserItem* item) {
  if (FXKBrowser* owner = delegateBrowser(item)) return owner->getItemDetails(out, item);
  getItemDescription(out, item);
}

void FXKBrowser::getItemTip(FXWString& out, const FXKBrowserItem* item) {
  if (FXKBrowser* owner = delegateBrowser(item)) return owner->getItemTip(out, item);
  getItemHelp(out, item);
}

bool FXKBrowser::addItemCommands(FXMenuPane* pane, const FXKBrowserItem* item) {
  auto* handler = dynamic_cast<FXKCommandHandler*>(commandHandler_.get());
  if (!pane || !handler || !handler->isCommandEnabled(ID_PROPERTIES)) return false;
  if (!propertiesIcon_) {
    // The picture holds three states; a menu shows the first.
    propertiesIcon_ = fxLoadIcon(app_, propertiesIconPng, IMAGE_KEEP, 0);
    if (propertiesIcon_ && propertiesIcon_->getHeight() > 16) propertiesIcon_->crop(0, 0, propertiesIcon_->getWidth(), 16);
  }
  // FOX marks the hot key with "&" where the catalogue carries U+2382.
  std::u16string text(Common::catalogueText(475, u"Propert\u2382ies\t\tDisplay the properties of the selected item."));
  for (char16_t& c : text)
    if (c == u'\u2382') c = u'&';
  auto* command = new FXMenuCommand(pane, FXString(FXWString(text).toUtf8().c_str()), propertiesIcon_,
                                    commandHandler_.get(), ID_PROPERTIES, 0x4000000);
  command->setUserData(const_cast<FXKBrowserItem*>(item));
  return true;
}

bool FXKBrowser::prepareItem(FXKBrowserItem* item) {
  if (item) item->prepare();
  return true;
}

int FXKBrowser::compareItemTexts(const FXKBrowserItem* firstItem, const FXWString& firstText,
                                 const FXKBrowserItem* secondItem, const FXWString& secondText) {
  FXKBrowser* owner = delegateBrowser(firstItem);
  if (!owner) owner = delegateBrowser(secondItem);
  if (owner) return owner->compareItemTexts(firstItem, firstText, secondItem, secondText);
  return FXWString::caseCompare(firstText, secondText);
}

FXKBrowserItem* FXKBrowser::setCurrentItem(const FXKBrowserItem* item, bool notify, FXuint flags) {
  std::unique_ptr<FXKBrowserItem> fresh(item ? item->clone() : nullptr);
  current_ = std::move(fresh);
  if (notify) {
    setLastChange(current_.get(), STATE_COUNT, 3);
    notifyTarget(current_.get());
    scheduleUpdate(flags);
  }
  return current_.get();
}

void FXKBrowser::setLocation(const FXKBrowserItem* item, bool notify) {
  std::unique_ptr<FXKBrowserItem> fresh(item ? item->clone() : nullptr);
  location_ = std::move(fresh);
  if (notify) {
    setLastChange(current_.get(), STATE_COUNT, 4);
    notifyTarget(location_.get());
    scheduleUpdate(UPDATE_CURRENT);
  }
}

void FXKBrowser::setItemStateIn(StateSet& set, const FXKBrowserItem* item, bool on, bool notify) {
  if (on)
    set.add(item, notify);
  else
    set.remove(item, notify);
  scheduleUpdate(UPDATE_STATE);
}

void FXKBrowser::setItemState(int index, const FXKBrowserItem* item, bool on, bool notify) {
  if (index >= 0 && index < STATE_COUNT) setItemStateIn(*states_[index], item, on, notify);
}

void FXKBrowser::setItemStates(int index, const std::vector<const FXKBrowserItem*>& items, bool on, bool notify) {
  if (index < 0 || index >= STATE_COUNT) return;
  StateSet& set = *states_[index];
  std::vector<const FXKBrowserItem*> changed;
  if (on)
    set.addAll(items, changed);
  else
    set.removeAll(items, changed);
  if (notify && !changed.empty()) {
    const FXKBrowserItem* one = changed.size() == 1 ? changed.front() : nullptr;
    setLastChange(one, index, on ? 1 : 2);
    notifyTarget(one);
    broadcast(on ? SEL_SELECTED : SEL_DESELECTED, const_cast<FXKBrowserItem*>(one));
  }
  scheduleUpdate(UPDATE_STATE);
}

FXKBrowserItem* FXKBrowser::getContainer(const FXKBrowserItem*) { return root_.get(); }

FXKBrowserItem* FXKBrowser::locate(const FXKBrowserItem* start, const FXKBrowserItem* target) {
  if (!start) return nullptr;
  std::unique_ptr<FXKItemIterator> it(children(start, 1));
  for (; it && it->isValid(); it->next()) {
    FXKBrowserItem* child = it->current();
    const int relation = child->compare(target);
    if (relation == 2) return locate(child, target);
    if (relation == 1) return child->clone();
  }
  return start->clone();
}

bool FXKBrowser::walk(const std::function<bool(const FXKBrowserItem*)>& visitor, const FXKBrowserItem* start,
                      bool recurse) {
  if (start && !visitor(start)) return false;
  std::unique_ptr<FXKItemIterator> it(children(start, 1));
  for (; it && it->isValid(); it->next()) {
    FXKBrowserItem* child = it->current();
    if (child->hasChildren()) {
      if (recurse && !walk(visitor, child, true)) return false;
      // Without recursion a folder is still one of the children.
      if (!recurse && !visitor(child)) return false;
    } else if (!visitor(child)) {
      return false;
    }
  }
  return true;
}

void FXKBrowser::pruneStates() {
  // Every item reached once, filed by hash like the state sets.
  std::unordered_multimap<std::size_t, std::unique_ptr<FXKBrowserItem>> reached;
  auto known = [&](const FXKBrowserItem* item) {
    auto [from, to] = reached.equal_range(item->hashValue());
    for (auto it = from; it != to; ++it)
      if (it->second->isEqual(item)) return true;
    return false;
  };
  walk(
      [&](const FXKBrowserItem* item) {
        if (!known(item)) reached.emplace(item->hashValue(), item->clone());
        return true;
      },
      root_.get(), true);
  if (current_ && !known(current_.get())) setCurrentItem(nullptr, true, UPDATE_CURRENT);
  for (int i = 0; i < STATE_COUNT; ++i)
    for (auto& entry : states_[i]->snapshot())
      if (!known(entry.get())) setItemState(i, entry.get(), false, true);
}

void FXKBrowser::onUpdate(FXuint flags) {
  if (flags & (UPDATE_REBUILD | UPDATE_ENABLING)) states_[STATE_NO_CHILDREN]->clear(false);
  if (static_cast<FXint>(flags) >= 0 && (flags & UPDATE_PRUNE)) pruneStates();
  broadcast(SEL_CHANGED, reinterpret_cast<void*>(static_cast<FXuval>(flags)));
  if (app_) app_->refresh();
}

// ---- check marks

int FXKBrowser::getCheckState(const FXKBrowserItem* item) {
  StateSet& checked = *states_[STATE_CHECKED];
  if (!(mode_ & MODE_TRISTATE)) return checked.contains(item) ? 1 : 0;
  if (!item) return 0;
  StateSet& excluded = *states_[STATE_EXCLUDED];
  if (!checked.contains(item)) {
    if (item->hasChildren() && checked.anyBelow(item)) return 2;
    if (excluded.contains(item)) return 0;
    // Both ancestors are looked up under their own sets' locks, which are
    // recursive; hold them so the answers stay alive while compared.
    Common::CriticalSectionLock holdChecked(checked.lock());
    const FXKBrowserItem* checkedAbove = checked.nearestAncestor(item);
    if (!checkedAbove) return 0;
    Common::CriticalSectionLock holdExcluded(excluded.lock());
    const FXKBrowserItem* excludedAbove = excluded.nearestAncestor(item);
    if (excludedAbove && checkedAbove->compare(excludedAbove) == 2) return 0;
  }
  if (item->hasChildren() && excluded.anyBelow(item)) return 2;
  return 1;
}

bool FXKBrowser::setChecked(const FXKBrowserItem* item, FXuint, bool notify, int how) {
  if (!item || !isEnabled(item) || !isCheckable(item)) return false;
  const bool tristate = (mode_ & MODE_TRISTATE) != 0;
  bool check = how == 1;
  if (how == 2) check = getCheckState(item) != 1;
  StateSet& checked = *states_[STATE_CHECKED];
  StateSet& excluded = *states_[STATE_EXCLUDED];
  bool finish = false;  // step 5
  bool done = false;    // step 6
  if (check) {
    if (mode_ & MODE_SINGLE) checked.keepOnly(item, notify);
    bool covered = false;
    if (tristate) {
      excluded.remove(item, notify);
      Common::CriticalSectionLock holdChecked(checked.lock());
      Common::CriticalSectionLock holdExcluded(excluded.lock());
      const FXKBrowserItem* checkedAbove = checked.nearestAncestor(item);
      const FXKBrowserItem* excludedAbove = excluded.nearestAncestor(item);
      covered = checkedAbove && (!excludedAbove || checkedAbove->compare(excludedAbove) != 2);
    }
    if (covered) {
      finish = true;
    } else {
      setItemState(STATE_CHECKED, item, true, notify);
      if (!location_) {
        finish = true;
      } else if (!tristate) {
        done = true;
      } else {
        std::unique_ptr<FXKItemIterator> it(children(location_.get(), 1));
        bool any = false, all = true;
        for (; it && it->isValid(); it->next()) {
          any = true;
          if (!checked.contains(it->current())) {
            all = false;
            break;
          }
        }
        it.reset();
        if (any && all) {
          std::unique_ptr<FXKBrowserItem> location(location_->clone());
          checked.removeDescendants(location.get(), true);
          setItemState(STATE_CHECKED, location.get(), true, notify);
          std::unique_ptr<FXKBrowserItem> parent(location->getParent());
          if (parent) propagateCheck(parent.get(), STATE_CHECKED, notify);
        }
        finish = true;
      }
    }
  } else {
    if (tristate && !(root_ && root_->isEqual(item)) && !checked.contains(item)) excluded.add(item, notify);
    setItemState(STATE_CHECKED, item, false, notify);
    if (!location_) {
      finish = true;
    } else if (!tristate) {
      done = true;
    } else {
      std::unique_ptr<FXKBrowserItem> location(location_->clone());
      propagateCheck(location.get(), STATE_EXCLUDED, notify);
      finish = true;
    }
  }
  if (finish && !done && tristate && item->hasChildren()) {
    checked.removeDescendants(item, true);
    excluded.removeDescendants(item, true);
  }
  if (notify) scheduleUpdate(UPDATE_CHECKS);
  return true;
}

void FXKBrowser::propagateCheck(const FXKBrowserItem* start, int index, bool notify) {
  if (index != STATE_CHECKED && index != STATE_EXCLUDED) return;
  StateSet& set = *states_[index];
  std::unique_ptr<FXKBrowserItem> item(start ? start->clone() : nullptr);
  while (item) {
    std::unique_ptr<FXKItemIterator> it(children(item.get(), 1));
    bool any = false;
    for (; it && it->isValid(); it->next()) {
      any = true;
      if (!set.contains(it->current())) return;
    }
    if (!any) return;
    it.reset();
    set.removeDescendants(item.get(), true);
    setItemState(STATE_CHECKED, item.get(), index == STATE_CHECKED, notify);
    if (index == STATE_EXCLUDED) setItemState(STATE_EXCLUDED, item.get(), true, notify);
    item.reset(item->getParent());
  }
}

// ---- messages

long FXKBrowser::onSelected(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<const FXKBrowserItem*>(ptr);
  if (!isCurrent(item)) setCurrentItem(item, false, UPDATE_CURRENT);
  if (current_ && (mode_ & (MODE_MULTIPLE | MODE_EXTEND))) {
    states_[STATE_SELECTED]->add(item, true);
    scheduleUpdate(UPDATE_CURRENT);
  }
  return 0;
}

long FXKBrowser::onDeselected(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<const FXKBrowserItem*>(ptr);
  // The item that leaves the selection stops being current.
  if (current_ && item && current_->isEqual(item)) {
    current_.reset();
    scheduleUpdate(UPDATE_CURRENT);
  }
  return 0;
}

long FXKBrowser::onCmdSelect(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<const FXKBrowserItem*>(ptr);
  if (item && isEnabled(item)) {
    states_[STATE_SELECTED]->add(item, false);
    setLastChange(item, STATE_SELECTED, 1);
    broadcast(SEL_SELECTED, ptr);
  }
  return 1;
}

long FXKBrowser::onCmdDeselect(FXObject*, FXSelector, void* ptr) {
  auto* item = static_cast<const FXKBrowserItem*>(ptr);
  states_[STATE_SELECTED]->remove(item, false);
  setLastChange(item, STATE_SELECTED, 2);
  broadcast(SEL_DESELECTED, ptr);
  return 1;
}

long FXKBrowser::onUpdHelp(FXObject* sender, FXSelector, void*) {
  if (!current_ || !sender) return 0;
  FXWString text;
  getItemHelp(text, current_.get());
  const FXString narrow = text.toUtf8().c_str();
  sender->handle(this, FXSEL(SEL_COMMAND, FXWindow::ID_SETSTRINGVALUE), const_cast<FXString*>(&narrow));
  return 1;
}

long FXKBrowser::onUpdTip(FXObject* sender, FXSelector, void*) {
  if (!current_ || !sender) return 0;
  FXWString text;
  getItemTip(text, current_.get());
  const FXString narrow = text.toUtf8().c_str();
  sender->handle(this, FXSEL(SEL_COMMAND, FXWindow::ID_SETSTRINGVALUE), const_cast<FXString*>(&narrow));
  return 1;
}

long FXKBrowser::onChoreUpdate(FXObject*, FXSelector, void* ptr) {
  pending_ |= static_cast<FXuint>(reinterpret_cast<FXuval>(ptr));
  const FXuint flags = pending_;
  pending_ = 0;
  onUpdate(flags);
  return 1;
}

long FXKBrowser::onDocChanged(FXObject*, FXSelector, void* ptr) {
  scheduleUpdate(static_cast<FXuint>(reinterpret_cast<FXuval>(ptr)));
  return 1;
}

long FXKBrowser::onDocRelay(FXObject*, FXSelector sel, void* ptr) {
  broadcast(FXSELTYPE(sel), ptr);
  return 0;
}
