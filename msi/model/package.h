// The package object: the root of the object model over one installer
// database. It opens the database, loads the rows it keeps at hand, hands out
// one object per row key through its identity maps, and writes changed objects
// back on commit.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_set>

#include "msi/model/database.h"
#include "msi/model/error.h"
#include "msi/model/identity_map.h"
#include "msi/model/iterator.h"
#include "msi/model/storable.h"
#include "msi/model/summary.h"
#include "msi/model/table.h"
#include "msi/model/table_access.h"

namespace Msi {

class MsiProperty;
class IMsiProperty;
class MsiDirectory;
class MsiComponent;
class MsiFeature;
class MsiFile;
class MsiRegistry;
class MsiBinary;
class MsiCustomAction;
class MsiInstallExecuteSequence;
class MsiMajorUpgrade;
class MsiRestrictedProduct;
class MsiNonmsiUpgrade;
class MsiIsolatedComponent;
class MsiAssembly;
class MsiCab;
class MsiDialog;

// The kinds of objects that make up the installation tree, read together on
// first use rather than at open.
template <class T>
inline constexpr bool kTreeType =
    std::is_same_v<T, MsiAssembly> || std::is_same_v<T, MsiDirectory> || std::is_same_v<T, MsiComponent> ||
    std::is_same_v<T, MsiFile> || std::is_same_v<T, MsiFeature> || std::is_same_v<T, MsiIsolatedComponent> ||
    std::is_same_v<T, MsiCab>;

// A list of row keys in insertion order, with a set for membership tests.
class KeyList {
 public:
  void append(const std::u16string& key) {
    keys_.push_back(key);
    members_.insert(key);
  }
  bool contains(const std::u16string& key) const { return members_.count(key) != 0; }
  bool erase(const std::u16string& key);
  const std::list<std::u16string>& keys() const { return keys_; }
  std::size_t size() const { return keys_.size(); }
  bool empty() const { return keys_.empty(); }

 private:
  std::list<std::u16string> keys_;
  std::unordered_multiset<std::u16string> members_;
};

class IMsiPackage : public IMsiObject {
 public:
  virtual void commit() = 0;
  virtual void writeSummary() = 0;
  virtual IMsiSummary* summary() = 0;
  virtual IMsiSummaryEx* summaryEx() = 0;
  virtual const std::u16string& sourceFolder() const = 0;
  virtual void setSourceFolder(const std::u16string& folder) = 0;
  virtual std::uint16_t language() const = 0;
  virtual void setLanguage(std::uint16_t language) = 0;
  virtual IMsiProperty* property(const std::u16string& name, bool create) = 0;
  virtual IMsiProperty* addProperty(const std::u16string& name, const std::u16string& value) = 0;
  virtual std::u16string propertyValue(const std::u16string& name) = 0;
};

class MsiPackage : public IMsiPackage, public IMsiStorable {
 public:
  enum State : std::int32_t { New = 0, Open = 1, Committed = 2, Closed = 3 };

  class IdentityMapDeleterBase {
   public:
    virtual ~IdentityMapDeleterBase() = default;
  };
  template <class T>
  class IdentityMapDeleter : public IdentityMapDeleterBase {
   public:
    explicit IdentityMapDeleter(MsiPackage* package) : package_(package) {}
    ~IdentityMapDeleter() override { MsiPackage::releaseIdentityMap<T>(package_); }

   private:
    MsiPackage* package_;
  };
  // Drops the package's notifier list of one class, so that no notifier of a
  // destroyed package is ever called.
  template <class T>
  class NotifierListDeleter : public IdentityMapDeleterBase {
   public:
    explicit NotifierListDeleter(MsiPackage* package) : package_(package) {}
    ~NotifierListDeleter() override { notifierRegistry<T>().erase(package_); }

   private:
    MsiPackage* package_;
  };

  MsiPackage();
  MsiPackage(const MsiPackage&) = delete;
  MsiPackage& operator=(const MsiPackage&) = delete;
  ~MsiPackage() override;

  // A new package, opened; deleted again when opening fails.
  static std::unique_ptr<MsiPackage> open(const std::u16string& path, bool readOnly);
  // Read-only, with the summary and the Property rows only: for a reader that
  // wants a few properties of many packages.
  static std::unique_ptr<MsiPackage> openProperties(const std::u16string& path);
  void openDatabase(const std::u16string& path, bool readOnly, bool propertiesOnly = false);
  void close();

  // IMsiPackage
  void commit() override;
  void writeSummary() override { summary_.write(database_); }
  IMsiSummary* summary() override { return &summary_; }
  IMsiSummaryEx* summaryEx() override { return &summary_; }
  const std::u16string& sourceFolder() const override { return sourceFolder_; }
  void setSourceFolder(const std::u16string& folder) override { sourceFolder_ = folder; }
  std::uint16_t language() const override { return language_; }
  void setLanguage(std::uint16_t language) override;
  // Both raise number 17 when asked to make a property without a name.
  IMsiProperty* property(const std::u16string& name, bool create) override;
  IMsiProperty* addProperty(const std::u16string& name, const std::u16string& value) override;
  std::u16string propertyValue(const std::u16string& name) override;

  // IMsiStorable
  void save(int flags) override;
  bool matches(const MsiRow&) const override { return false; }

  std::int32_t nextFeatureDisplay() { return 2 * ++featureDisplay_; }
  void registerComponent(const std::u16string& componentKey);

  // Authoring (msi/entities/file_authoring.cpp). A new top-level feature in the directory, or the root's when none is given.
  MsiFeature* addFeature(const std::u16string& key, const std::u16string& title, MsiDirectory* directory);
  // The highest Sequence of the package's files, in the table or made since,
  // leaving out the keys given.
  std::int32_t maxFileSequence(const std::set<std::u16string>* except = nullptr);

  // Cabinets and removals (msi/entities/package_authoring.cpp). A new cabinet
  // takes the DiskId after the highest in the package; Msi::Error 92 for a
  // name in use, with or without "#"; 91 for a cabinet not in the package.
  MsiCab* addCabinet(const std::u16string& name);
  void embedCabinet(MsiCab* cabinet);
  void removeCabinet(MsiCab* cabinet);
  // Forget the object and its key (rows stay): 20 for a feature not in the
  // top-level list, 30 for a component not in the component list.
  void removeFeature(MsiFeature* feature);
  void removeComponent(MsiComponent* component);
  // The binary of the package's list whose Name is the text, or null.
  MsiBinary* findDll(const std::u16string& name);
  bool dropComponent(const std::u16string& key);
  const KeyList& cabinetKeys() const {
    needTree();
    return cabinets_;
  }
  // Numbers the files of the cabinets after every file numbered already.
  void renumberCabinets();

  // Merges a merge module under the feature (msi/model/package_merge.cpp):
  // the package is committed and closed while the merge object works on the
  // file, then opened again with what the merge added. False when the module
  // was not merged; the reasons go to standard output.
  // The module's TARGETDIR goes below `directory`, else the feature's directory.
  bool mergeModule(MsiFeature* feature, const std::u16string& modulePath,
                   const std::u16string* directory = nullptr);

  // Registration of row objects.
  template <class T>
  T* find(const std::u16string& key, T** out = nullptr);
  template <class T>
  bool add(T* object);
  template <class T>
  IdentityMap<T>& identityMap();
  template <class T>
  static bool releaseIdentityMap(MsiPackage* package);
  template <class T>
  MsiNotifierList<T>& notifierList();

  MsiDatabaseInterface* database() { return &database_; }
  // Whether the file holds the table; asking never creates it.
  bool hasTable(const std::u16string& name);
  std::int32_t state() const { return state_; }
  const std::u16string& path() const { return path_; }
  const KeyList& propertyKeys() const { return properties_; }
  // The installation tree's lists; the first use reads the tree (a tree that
  // does not read raises number 13, as the open did, at every use).
  const KeyList& componentKeys() const {
    needTree();
    return components_;
  }
  const KeyList& directoryKeys() const {
    needTree();
    return directories_;
  }
  const KeyList& featureKeys() const {
    needTree();
    return features_;
  }
  const KeyList& fileKeys() const {
    needTree();
    return files_;
  }
  bool hasAssembly(const std::u16string& componentKey) const {
    needTree();
    return assemblies_.count(componentKey) != 0;
  }
  // The assembly row of the component (read with the tree), or null.
  MsiAssembly* assemblyForComponent(const std::u16string& componentKey) const;
  const KeyList& customActionKeys() const { return customActions_; }
  const KeyList& binaryKeys() const { return binaries_; }
  const KeyList& isolatedComponentKeys() const {
    needTree();
    return isolatedComponents_;
  }

  // The root directory ("TARGETDIR"), made when the package has none; marked.
  MsiDirectory* rootDirectory();
  MsiDirectory* findRootDirectory();
  // The predefined folders below the root; those the package has already stay
  // as they are.
  void ensureSystemFolders();
  // The installer's target path of a directory during an installation; the
  // empty text without an installer session.
  std::u16string directoryPath(const std::u16string& directoryKey);
  // A feature of the package by key, or null.
  MsiFeature* findFeature(const std::u16string& name);
  // The component whose ComponentId is the code (bound as a parameter), or null.
  MsiComponent* findComponentById(const std::u16string& code);

  // Iterators over the package's lists, owned by the caller. Those of files,
  // upgrades, restricted products and the execute sequence read their table
  // first while their list is empty.
  std::unique_ptr<MsiIterator<MsiFeature>> features();
  std::unique_ptr<MsiIterator<MsiFile>> files();
  std::unique_ptr<MsiIterator<MsiCustomAction>> customActions();
  std::unique_ptr<MsiIterator<MsiIsolatedComponent>> isolatedComponents();
  std::unique_ptr<MsiIterator<MsiInstallExecuteSequence>> installExecuteSequence();
  std::unique_ptr<MsiIterator<MsiMajorUpgrade>> majorUpgrades();
  std::unique_ptr<MsiIterator<MsiRestrictedProduct>> restrictedProducts();
  // The Dialog rows, each with its controls (msi/entities/dialog.cpp).
  std::unique_ptr<MsiIterator<MsiDialog>> dialogs();
  // Msi::Error 130 for a name the package has already, 131 when refused.
  MsiDialog* addDialog(const std::u16string& name);

  // Authoring. addDll: Msi::Error 51 when a DLL of the path exists already.
  MsiBinary* addDll(const std::u16string& path);
  // Msi::Error 50 when the DLL is not a Binary row of this package.
  MsiCustomAction* addCustomActionDll(const std::u16string& action, MsiBinary* dll);
  MsiMajorUpgrade* addMajorUpgrade(const std::u16string& upgradeCode);
  MsiNonmsiUpgrade* addNonMsiUpgrade(const std::u16string& product);
  // The package's own file notifier: every file added is listed once.
  void onFileAdded(MsiFile* file);
  const std::u16string& rootDirectoryKey() const {
    needTree();
    return rootDirectoryKey_;
  }
  // Whether the installation tree has been read (or is being read).
  bool treeRead() const { return tree_ == Tree::Read || tree_ == Tree::Reading; }
  std::size_t deleterCount() const { return deleters_.size(); }

  template <class T>
  // Never destroyed: a package kept in a static may outlive a registry made
  // after it (the tree is read on first use), and still leaves it at exit.
  static std::map<const MsiPackage*, IdentityMap<T>*>& identityMapRegistry() {
    static auto* registry = new std::map<const MsiPackage*, IdentityMap<T>*>;
    return *registry;
  }
  template <class T>
  static std::map<const MsiPackage*, MsiNotifierList<T>>& notifierRegistry() {
    static auto* registry = new std::map<const MsiPackage*, MsiNotifierList<T>>;
    return *registry;
  }

 private:
  enum class Tree { Read, Unread, Reading, Failed };
  // Reads the installation tree unless it is read already; raises the read's
  // failure (number 13 with its cause) now and at every later use.
  void needTree() const {
    if (tree_ != Tree::Read) const_cast<MsiPackage*>(this)->readTree();
  }
  void readTree();
  // The tree's loaders, in the order the kinds depend on each other.
  void loadAll();
  void loadProperties();
  // Msi::Error 61 (module 0x552ae5ca) when a parent chain loops.
  void loadDirectories();
  void loadAssemblies();
  void loadCustomActions();
  void loadIsolatedComponents();
  void loadCabinets();
  // Reads the rows another writer added, keeping every object cached.
  void reload();
  // Reads every row of T's table into registered, unmarked objects whose keys
  // go into the list; an object whose key is taken is dropped.
  template <class T>
  void loadRows(KeyList& keys);
  // Components with their files, then features linked to every component
  // their FeatureComponents rows name.
  void loadTree();
  IMsiProperty* registerNewProperty(MsiProperty* object);

  KeyList features_, components_, customActions_, sequence_, binaries_, properties_, cabinets_,
      isolatedComponents_, files_, majorUpgrades_, restrictedProducts_, nonMsiUpgrades_, dialogs_, directories_;
  MsiSummary summary_;
  std::u16string rootDirectoryKey_;
  std::u16string path_;
  std::u16string sourceFolder_;
  std::uint16_t cabinetCounter_ = 0;
  std::uint16_t language_ = 0xFFFF;
  std::int32_t featureDisplay_ = 0;
  std::int32_t fileSequence_ = 0;
  std::int32_t state_ = New;
  MsiDatabaseInterface database_;
  std::set<IdentityMapDeleterBase*> deleters_;
  std::map<std::u16string, MsiAssembly*> assemblies_;
  // A package that was never opened has nothing to read: its tree is what it makes.
  Tree tree_ = Tree::Read;
  Error treeError_;
};

// A new object of the class for the package, filled from the row; not registered.
template <class T>
T* createFromRow(const MsiRow& row, MsiPackage* package) {
  std::unique_ptr<T> object(new T(package));
  object->loadFrom(row);
  return object.release();
}
template <>
MsiProperty* createFromRow<MsiProperty>(const MsiRow& row, MsiPackage* package);
template <>
MsiDirectory* createFromRow<MsiDirectory>(const MsiRow& row, MsiPackage* package);
// The component's kind is chosen from the row (and the package's assembly rows).
template <>
MsiRegistry* createFromRow<MsiRegistry>(const MsiRow& row, MsiPackage* package);
template <>
MsiComponent* createFromRow<MsiComponent>(const MsiRow& row, MsiPackage* package);

// Fills an entity's list of child keys: the rows of T's table whose parent
// column holds the parent key, each registered with the package (a key that is
// registered already keeps its object). The key is bound as a parameter, so any
// text, quotes included, selects exactly its rows.
template <class T>
void loadChildKeys(MsiPackage* package, const std::u16string& parentColumn, const std::u16string& parentKey,
                   std::list<std::u16string>& keys);

// A cursor over the rows of a loaded table that loads the current row into one
// scratch object.
template <class T>
class MsiRowReader {
 public:
  using Position = MsiRecordset::Rows::iterator;
  explicit MsiRowReader(MsiTable& table) : table_(table) {}
  Position begin() { return table_.begin(); }
  Position end() { return table_.end(); }
  // Msi::Error 1105 (module 0x97b3b932) at the end position.
  T& current(Position position) {
    if (position == table_.end()) throw Error(MSI_LOCATION, 0x97b3b932u, 1105);
    if (*position != last_) {
      scratch_.loadFrom(**position);
      last_ = *position;
    }
    return scratch_;
  }
  Position findMatching(const T& probe) {
    for (Position p = table_.begin(); p != table_.end(); ++p)
      if (probe.matches(**p)) return p;
    return table_.end();
  }

 private:
  MsiTable& table_;
  T scratch_;
  const MsiRow* last_ = nullptr;
};

template <class T>
IdentityMap<T>& MsiPackage::identityMap() {
  // Every object of the tree is made, found or added through its map: the
  // rows come first, so that none is taken for a new one.
  if constexpr (kTreeType<T>) needTree();
  auto& registry = identityMapRegistry<T>();
  auto it = registry.find(this);
  if (it != registry.end()) return *it->second;
  auto* map = new IdentityMap<T>();
  registry.emplace(this, map);
  deleters_.insert(new IdentityMapDeleter<T>(this));
  return *map;
}

template <class T>
bool MsiPackage::releaseIdentityMap(MsiPackage* package) {
  auto& registry = identityMapRegistry<T>();
  auto it = registry.find(package);
  if (it == registry.end()) return false;
  IdentityMap<T>* map = it->second;
  registry.erase(it);
  delete map;
  return true;
}

template <class T>
MsiNotifierList<T>& MsiPackage::notifierList() {
  auto& registry = notifierRegistry<T>();
  auto it = registry.find(this);
  if (it != registry.end()) return it->second;
  deleters_.insert(new NotifierListDeleter<T>(this));
  return registry.try_emplace(this).first->second;
}

template <class T>
T* MsiPackage::find(const std::u16string& key, T** out) {
  if (key.empty()) return nullptr;
  IdentityMap<T>& map = identityMap<T>();
  if (T* live = map.find(key)) {
    if (out) *out = live;
    return live;
  }
  // A table the file lacks is not made by looking into it.
  if (!hasTable(tableName<typename T::Description>())) return nullptr;
  MsiRow* row = database_.table(tableName<typename T::Description>()).findRow(key);
  // A row removed since is not brought back to life.
  if (!row || row->state() == MsiRow::Delete) return nullptr;
  // A loaded hook that fails must not leak the object.
  std::unique_ptr<T> made(createFromRow<T>(*row, this));
  made->loaded();
  // Refusal cannot happen while the map had no live object; never leak regardless.
  T* object = add(made.get()) ? made.release() : map.find(key);
  if (out) *out = object;
  return object;
}

template <class T>
bool MsiPackage::add(T* object) {
  if (!identityMap<T>().insert(object)) return false;
  auto& registry = notifierRegistry<T>();
  auto it = registry.find(this);
  if (it != registry.end()) {
    MsiNotifierList<T>& list = it->second;
    for (list.reset(); list.valid(); list.next()) list.current()->notify(object);
  }
  return true;
}

template <class T>
void loadChildKeys(MsiPackage* package, const std::u16string& parentColumn, const std::u16string& parentKey,
                   std::list<std::u16string>& keys) {
  keys.clear();
  MsiTable copy = openTable<typename T::Description>(*package->database());
  copy.setWhere(u"`" + parentColumn + u"` = ?");
  copy.bindWhereValue(parentKey);
  copy.load();
  for (MsiRow* row : copy) {
    std::unique_ptr<T> child(createFromRow<T>(*row, package));
    keys.push_back(child->key());
    if (package->add(child.get())) child.release();
  }
}

template <class T>
typename MsiIterator<T>::Interface* MsiIterator<T>::current() {
  return valid_ ? package_->find<T>(*position_) : nullptr;
}

}  // namespace Msi
