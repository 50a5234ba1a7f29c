// The widget library's document: a root item, the current and location items,
// seven item-state sets, and how clicks and check marks change them. Views
// attach to a browser and redraw from what it broadcasts.
//
// Includes FOX: only GUI code includes this header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include <fx.h>

#include "core/object.h"
#include "platform/fox/fx_messages.h"
#include "platform/fox/fxwstring.h"
#include "system/locks.h"
#include "widgets/hash_index.h"
#include "widgets/small_pool.h"

class FXKBrowser;
class FXKPreview;
// Makes the preview pane that shows an item.
using FXKPreviewFactory = FXKPreview* (*)(FX::FXComposite* parent, FXKBrowser* browser);

// Small value-like item; the browser keeps only its own clones.
class FXKBrowserItem : public FX::FXObject {
  FXDECLARE_ABSTRACT(FXKBrowserItem)

 public:
  KV_SMALL_POOL_OPERATORS
  FXKBrowserItem() = default;
  ~FXKBrowserItem() override = default;

  FX::FXuint key = 0;    // delegates are filed under it
  FX::FXuint extra = 0;  // copied by clone, otherwise unused

  // 1 equal, 2 `other` lies below this item, 0 unrelated. The base knows only
  // the very same object.
  virtual int compare(const FXKBrowserItem* other) const { return other == this ? 1 : 0; }
  virtual bool isEqual(const FXKBrowserItem* other) const { return other && compare(other) == 1; }
  virtual FXKBrowserItem* clone() const;
  virtual bool hasChildren() const { return false; }
  virtual void prepare() {}
  // A new object owned by the caller, or null.
  virtual FXKBrowserItem* getParent() const { return nullptr; }
  // Items that are isEqual must give the same value: the state sets file
  // their entries by it, so a look-up is not a scan.
  virtual std::size_t hashValue() const { return std::hash<const void*>()(this); }

 protected:
  void copyBase(const FXKBrowserItem& from) {
    key = from.key;
    extra = from.extra;
  }
};

class FXKSimpleBrowserItem : public FXKBrowserItem {
  FXDECLARE_ABSTRACT(FXKSimpleBrowserItem)

 public:
  explicit FXKSimpleBrowserItem(FX::FXuint id = 0) : id(id) {}
  FX::FXuint id;

  int compare(const FXKBrowserItem* other) const override;
  FXKBrowserItem* clone() const override;
  std::size_t hashValue() const override { return id; }
};

// What `children` hands out, owned by the caller.
class FXKItemIterator {
 public:
  virtual ~FXKItemIterator() = default;
  virtual void first() = 0;
  virtual bool isValid() const = 0;
  virtual void next() = 0;
  // Not owned by the caller.
  virtual FXKBrowserItem* current() const = 0;
  // The current item, owned by the caller from now on; current() is then
  // no longer valid for this position. Iterators that own their items hand
  // them over instead of being copied.
  virtual FXKBrowserItem* takeCurrent() {
    const FXKBrowserItem* c = current();
    return c ? c->clone() : nullptr;
  }
  // How many items the iterator holds, when it knows (0 otherwise), so that
  // a view can make room for them at once.
  virtual std::size_t sizeHint() const { return 0; }
};

// An iterator over a list of owned items.
class FXKListItemIterator : public FXKItemIterator {
 public:
  FXKListItemIterator() = default;
  void append(FXKBrowserItem* item) { items_.emplace_back(item); }
  void first() override { at_ = 0; }
  bool isValid() const override { return at_ < items_.size(); }
  void next() override { ++at_; }
  FXKBrowserItem* current() const override { return isValid() ? items_[at_].get() : nullptr; }
  FXKBrowserItem* takeCurrent() override { return isValid() ? items_[at_].release() : nullptr; }
  std::size_t size() const { return items_.size(); }
  std::size_t sizeHint() const override { return items_.size(); }

 private:
  std::vector<std::unique_ptr<FXKBrowserItem>> items_;
  std::size_t at_ = 0;
};

// The document base: the set of attached views, and broadcasts to them.
class FXKDocument : public FX::FXDocument {
  FXDECLARE(FXKDocument)

 public:
  FXKDocument() = default;
  ~FXKDocument() override = default;

  long onAttachView(FX::FXObject* sender, FX::FXSelector, void*);
  long onDetachView(FX::FXObject* sender, FX::FXSelector, void*);
  // Every view receives FXSEL(type, 60) with this document as sender.
  long broadcast(FX::FXuint type, void* data);
  const std::set<FX::FXObject*>& views() const { return views_; }

 private:
  std::set<FX::FXObject*> views_;
};

class FXKIterator {};

// What a browser's command handler answers; its owner implements it.
class FXKCommandHandler {
 public:
  virtual ~FXKCommandHandler() = default;
  virtual bool isCommandEnabled(int id) = 0;
  virtual void executeCommand(int id, void* data) = 0;
};

class FXKBrowser : public FXKDocument, public FXKIterator, public Processor::RefObject {
  FXDECLARE_ABSTRACT(FXKBrowser)

 public:
  enum : FX::FXuint {
    MODE_SINGLE = 0x1,
    MODE_MULTIPLE = 0x2,
    MODE_TOGGLE = 0x4,
    MODE_EXTEND = 0x8,
    MODE_CLICK_CHECKS = 0x10,
    MODE_TRISTATE = 0x100,
  };
  enum : FX::FXuint {
    UPDATE_REBUILD = 0x1,
    UPDATE_ENABLING = 0x10,
    UPDATE_CURRENT = 0x20,
    UPDATE_STATE = 0x40,
    UPDATE_CHECKS = 0x80,
    UPDATE_CURRENT_ITEM = 0x400,
    UPDATE_REPAINT = 0x800,
    UPDATE_PRUNE = 0x1000,
    UPDATE_ALL = 0xFFFFFFFF,  // everything but pruning
  };
  enum {
    STATE_SELECTED = 0,
    STATE_CHECKED,
    STATE_EXCLUDED,
    STATE_DISABLED,
    STATE_HIDDEN,
    STATE_NO_CHILDREN,
    STATE_CHECK_LOCKED,
    STATE_COUNT
  };
  enum { ID_SELECT = 10062, ID_DESELECT, ID_UPDATE_HELP, ID_UPDATE_TIP, ID_UPDATE_CHORE };
  enum { ID_DOCUMENT = 60 };  // the id of every message a document sends its views
  enum { ID_PROPERTIES = 62 };  // the item command that shows an item's properties
  // 16 x 48: three 16-pixel states (normal, hot, disabled) of the Properties command.
  static const unsigned char propertiesIconPng[];

  // One item-state set: owned clones in insertion order, filed by hash so a
  // look-up is not a scan. Its lock is recursive; notifications go out after
  // it is released, so no view runs while the set is held.
  class StateSet {
   public:
    StateSet(FXKBrowser* owner, int index) : owner_(owner), index_(index) {}
    ~StateSet();
    StateSet(const StateSet&) = delete;
    StateSet& operator=(const StateSet&) = delete;

    bool contains(const FXKBrowserItem* item);
    // False when an equal item was there already.
    bool add(const FXKBrowserItem* item, bool notify);
    bool remove(const FXKBrowserItem* item, bool notify);
    // Many items at once under one hold of the lock, without notification;
    // `changed` receives the items that were added (or removed).
    void addAll(const std::vector<const FXKBrowserItem*>& items, std::vector<const FXKBrowserItem*>& changed);
    void removeAll(const std::vector<const FXKBrowserItem*>& items, std::vector<const FXKBrowserItem*>& changed);
    void keepOnly(const FXKBrowserItem* item, bool notify);
    void clear(bool notify);
    void removeDescendants(const FXKBrowserItem* item, bool notify);
    // The nearest entry that lies above the item (compare == 2), or null; the
    // answer is the set's own entry, valid while nobody removes it.
    const FXKBrowserItem* nearestAncestor(const FXKBrowserItem* item);
    bool anyBelow(const FXKBrowserItem* item);
    std::size_t size();
    // Clones of the entries in insertion order, owned by the caller.
    std::vector<std::unique_ptr<FXKBrowserItem>> snapshot();
    int index() const { return index_; }
    Common::CriticalSection& lock() { return lock_; }

   private:
    static constexpr std::size_t kNone = ~std::size_t(0);
    // The position of the first entry equal to the item, or kNone.
    std::size_t findLocked(const FXKBrowserItem* item) const;
    // False when an equal item is there already.
    bool addLocked(const FXKBrowserItem* item);
    // Takes the entry out; its place stays empty until the next compaction.
    std::unique_ptr<FXKBrowserItem> takeLocked(std::size_t at);
    // Closes the empty places once they are many.
    void compactLocked();
    void notifyRemoved(std::vector<std::unique_ptr<FXKBrowserItem>>& gone, bool notify);

    FXKBrowser* owner_;
    int index_;
    // Clones in insertion order; removed ones leave a null place behind.
    std::vector<std::unique_ptr<FXKBrowserItem>> entries_;
    // Read without the lock by look-ups that find the set empty.
    std::atomic<std::size_t> live_{0};
    widgets::HashIndex<std::uint32_t> byHash_;  // item hash -> position
    Common::CriticalSection lock_;
  };

  struct DelegateEntry {
    std::unique_ptr<FX::FXObject> object;
    std::unique_ptr<FXKBrowserItem> root;
    FXKBrowser* browser = nullptr;  // counted
  };

  // The change being notified; views read it while they handle the message.
  struct Change {
    const FXKBrowserItem* item = nullptr;
    int set = STATE_COUNT;
    int kind = 0;  // 1 added, 2 removed, 3 new current item, 4 new location
  };

  explicit FXKBrowser(FX::FXApp* app);
  ~FXKBrowser() override;

  static void* operator new(std::size_t size) { return Processor::RefObject::operator new(size); }
  static void operator delete(void* block) noexcept { Processor::RefObject::operator delete(block); }

  void setTarget(FX::FXObject* target, FX::FXuint message) {
    target_ = target;
    message_ = message;
  }
  FX::FXObject* getTarget() const { return target_; }
  FX::FXObject* getCommandHandler() const { return commandHandler_.get(); }
  FX::FXApp* getApp() const { return app_; }
  FXKBrowserItem* selectItem(const FXKBrowserItem* item, bool notify, bool onlyIfDifferent);
  void selectLocation(const FXKBrowserItem* item, bool notify, bool onlyIfDifferent);
  void setItemEnabled(const FXKBrowserItem* item, bool enable, bool notify);
  void setMode(FX::FXuint mode);
  FX::FXuint getMode() const { return mode_; }
  void clearState(int index, bool notify);
  FXKBrowserItem* getCurrentItemCopy();
  void markNoChildren(const FXKBrowserItem* item);
  void setClickChecks(bool on) { clickChecks_ = on ? 1 : 0; }

  const FXKBrowserItem* getRoot() const { return root_.get(); }
  const FXKBrowserItem* getCurrentItem() const { return current_.get(); }
  const FXKBrowserItem* getLocation() const { return location_.get(); }
  const Change& lastChange() const { return lastChange_; }
  FX::FXuint pendingUpdate() const { return pending_; }
  StateSet& stateSet(int index) { return *states_[index]; }

  // Walks the tree from `start` (the root for null); a false answer from the
  // visitor ends the walk with false.
  bool walk(const std::function<bool(const FXKBrowserItem*)>& visitor, const FXKBrowserItem* start,
            bool recurse);
  void pruneStates();

  virtual FXKItemIterator* children(const FXKBrowserItem* item, FX::FXuint flags);
  virtual bool isItemUsable(const FXKBrowserItem* item);
  virtual bool isSelected(const FXKBrowserItem* item);
  virtual bool isEnabled(const FXKBrowserItem* item);
  virtual int getCheckState(const FXKBrowserItem* item);
  virtual bool canOpen(const FXKBrowserItem* item);
  virtual bool isVisible(const FXKBrowserItem* item);
  virtual bool isCheckable(const FXKBrowserItem* item);
  virtual int inState(int index, const FXKBrowserItem* item);
  virtual void scheduleUpdate(FX::FXuint flags);
  virtual void repaintViews();
  virtual bool clickItem(const FXKBrowserItem* item, int kind, FX::FXuint modifiers, bool notify);
  virtual bool setChecked(const FXKBrowserItem* item, FX::FXuint modifiers, bool notify, int how);
  virtual bool activateItem(const FXKBrowserItem* item, int kind, FX::FXuint modifiers, bool notify);
  virtual bool ensureSelected(const FXKBrowserItem* item, bool notify);
  virtual FX::FXIcon* getItemIcon(const FXKBrowserItem* item, int size);
  virtual FX::FXIcon* getItemIconAlt(const FXKBrowserItem* item, int size);
  virtual int getExtraIconCount(const FXKBrowserItem* item);
  virtual FX::FXIcon* getExtraIcon(const FXKBrowserItem* item, int index, int size);
  virtual bool getItemNoHighlight(const FXKBrowserItem* item) { return false; }
  virtual bool getItemHoverFrame(const FXKBrowserItem* item) { return true; }
  virtual void getItemTitle(FXWString& out, const FXKBrowserItem* item);
  virtual void getItemHelp(FXWString& out, const FXKBrowserItem* item);
  virtual void getItemDescription(FXWString& out, const FXKBrowserItem* item);
  virtual void getItemDetails(FXWString& out, const FXKBrowserItem* item);
  virtual void getItemTip(FXWString& out, const FXKBrowserItem* item);
  // The Properties command, when the command handler enables it; its user
  // data is `item`, which the caller keeps for as long as the pane lives.
  virtual bool addItemCommands(FX::FXMenuPane* pane, const FXKBrowserItem* item);
  virtual bool popupItemMenu(const FXKBrowserItem* item, FX::FXWindow* window, int x, int y) { return false; }
  virtual bool prepareItem(FXKBrowserItem* item);
  virtual int compareItemTexts(const FXKBrowserItem* firstItem, const FXWString& firstText,
                               const FXKBrowserItem* secondItem, const FXWString& secondText);
  // The simple preview's factory for a null item or one without a delegate.
  virtual FXKPreviewFactory getPreviewFactory(const FXKBrowserItem* item);
  virtual DelegateEntry* findDelegate(const FXKBrowserItem* item);
  virtual FXKBrowserItem* setCurrentItem(const FXKBrowserItem* item, bool notify, FX::FXuint flags);
  virtual void setLocation(const FXKBrowserItem* item, bool notify);
  virtual void setItemStateIn(StateSet& set, const FXKBrowserItem* item, bool on, bool notify);
  virtual void setItemState(int index, const FXKBrowserItem* item, bool on, bool notify);
  // Many items into or out of one set with one notification: when exactly
  // one item changed it is told as by setItemState; when more did, the
  // target hears once with a null item (lastChange: null, the set, 1 or 2)
  // and the views receive SEL_SELECTED or SEL_DESELECTED with null data,
  // meaning "any item of that set may have changed". A derived browser that
  // intercepts setItemState intercepts this too.
  virtual void setItemStates(int index, const std::vector<const FXKBrowserItem*>& items, bool on, bool notify);
  virtual FXKBrowserItem* getContainer(const FXKBrowserItem* item);
  virtual FXKItemIterator* enumerateChildren(const FXKBrowserItem* item, const FXKBrowser* delegates,
                                             FX::FXuint flags) {
    return nullptr;
  }
  virtual FXKBrowserItem* locate(const FXKBrowserItem* start, const FXKBrowserItem* target);
  virtual FXKBrowserItem* cloneItem(const FXKBrowserItem* item) { return item ? item->clone() : nullptr; }
  virtual void onUpdate(FX::FXuint flags);

  void propagateCheck(const FXKBrowserItem* item, int index, bool notify);

  long onSelected(FX::FXObject*, FX::FXSelector, void*);
  long onDeselected(FX::FXObject*, FX::FXSelector, void*);
  long onCmdSelect(FX::FXObject*, FX::FXSelector, void*);
  long onCmdDeselect(FX::FXObject*, FX::FXSelector, void*);
  long onUpdHelp(FX::FXObject*, FX::FXSelector, void*);
  long onUpdTip(FX::FXObject*, FX::FXSelector, void*);
  long onChoreUpdate(FX::FXObject*, FX::FXSelector, void*);
  long onDocChanged(FX::FXObject*, FX::FXSelector, void*);
  long onDocRelay(FX::FXObject*, FX::FXSelector, void*);

  // Sends the target SEL_CHANGED with the browser's message id.
  void notifyTarget(const FXKBrowserItem* item);
  void setLastChange(const FXKBrowserItem* item, int set, int kind) { lastChange_ = Change{item, set, kind}; }

 protected:
  // Takes the item; the root's clone becomes the location when none is set.
  void setRoot(FXKBrowserItem* root);
  // Takes the object and the root; holds a reference on the browser and
  // attaches to it as a view.
  void addDelegate(FX::FXuint key, FX::FXObject* object, FXKBrowserItem* root, FXKBrowser* browser);
  void setCommandHandler(FX::FXObject* handler) { commandHandler_.reset(handler); }

 private:
  FXKBrowser* delegateBrowser(const FXKBrowserItem* item);
  bool isCurrent(const FXKBrowserItem* item) const;

  FX::FXApp* app_ = nullptr;
  std::unique_ptr<FXKBrowserItem> root_;
  std::unique_ptr<FXKBrowserItem> current_;
  std::unique_ptr<FXKBrowserItem> location_;
  FX::FXObject* target_ = nullptr;
  FX::FXuint message_ = 0;
  std::unique_ptr<FX::FXObject> commandHandler_;
  FX::FXIcon* propertiesIcon_ = nullptr;  // the application's, freed through it
  FX::FXuint pending_ = 0;
  FX::FXuint mode_ = MODE_MULTIPLE;
  std::unique_ptr<StateSet> states_[STATE_COUNT];
  std::map<FX::FXuint, DelegateEntry> delegates_;
  int clickChecks_ = 0;
  Change lastChange_;
};
