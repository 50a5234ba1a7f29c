#include "msi/model/package.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "msi/entities/actions.h"
#include "msi/entities/cabinet.h"
#include "msi/entities/directory.h"
#include "msi/entities/property.h"
#include "msi/entities/registry.h"
#include "msi/entities/tree.h"
#include "msi/entities/upgrade.h"
#include "msi/model/error.h"
#include "msi/model/command.h"
#include "msi/model/handle.h"
#include "msi/model/text.h"
#include "platform/win32/windows.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x6e1fbba0;

Error wrap(std::uint32_t location, std::uint32_t number, const Error& cause) {
  Error outer(location, kModule, number);
  outer.setCause(cause);
  return outer;
}

}  // namespace

std::map<std::string, StatisticsBase*>& statisticsRegistry() {
  static std::map<std::string, StatisticsBase*> registry;
  return registry;
}

bool KeyList::erase(const std::u16string& key) {
  for (auto it = keys_.begin(); it != keys_.end(); ++it) {
    if (*it == key) {
      keys_.erase(it);
      members_.erase(members_.find(key));
      return true;
    }
  }
  return false;
}

template <>
MsiProperty* createFromRow<MsiProperty>(const MsiRow& row, MsiPackage* package) {
  // The generated name would be replaced by the row's at once; skip making it.
  auto object = std::make_unique<MsiProperty>(package, std::u16string(), std::u16string());
  object->loadFrom(row);
  return object.release();
}

template <>
MsiDirectory* createFromRow<MsiDirectory>(const MsiRow& row, MsiPackage* package) {
  // A key that the row replaces at once needs no generated identifier.
  std::u16string key = columnValue<DirectoryTableDescription>(const_cast<MsiRow&>(row), 0);
  auto object = std::make_unique<MsiDirectory>(package, key.empty() ? std::u16string(u"_") : key);
  object->loadFrom(row);
  return object.release();
}

template <>
MsiRegistry* createFromRow<MsiRegistry>(const MsiRow& row, MsiPackage* package) {
  auto object = std::make_unique<MsiRegistry>(package, std::u16string());
  object->loadFrom(row);
  return object.release();
}

template <>
MsiComponent* createFromRow<MsiComponent>(const MsiRow& row, MsiPackage* package) {
  auto object = std::make_unique<MsiComponent>(package);
  object->loadFrom(row);
  object->setKind(componentKind(object->attributesText(), object->keyPath(), package->hasAssembly(object->key())));
  return object.release();
}

MsiPackage::MsiPackage() {
  notifierList<MsiFile>().subscribe(new MsiNotify<MsiFile, MsiPackage>(this, &MsiPackage::onFileAdded));
}

void MsiPackage::onFileAdded(MsiFile* file) {
  if (file) files_.append(file->key());
}

MsiPackage::~MsiPackage() {
  // A tree never asked for stays unread.
  if (state_ != Closed) {
    try {
      database_.close();
    } catch (const Error&) {
    }
  }
  // Every registered object goes before the database interface it points at.
  for (IdentityMapDeleterBase* d : deleters_) delete d;
  deleters_.clear();
}

std::unique_ptr<MsiPackage> MsiPackage::open(const std::u16string& path, bool readOnly) {
  auto package = std::make_unique<MsiPackage>();
  package->openDatabase(path, readOnly);
  return package;
}

std::unique_ptr<MsiPackage> MsiPackage::openProperties(const std::u16string& path) {
  auto package = std::make_unique<MsiPackage>();
  package->openDatabase(path, true, true);
  return package;
}

void MsiPackage::openDatabase(const std::u16string& path, bool readOnly, bool propertiesOnly) {
  try {
    if (state_ == Open) throw Error(MSI_LOCATION, kModule, 10);
    std::size_t separator = path.rfind(u'\\');
    if (separator == std::u16string::npos) separator = path.rfind(u'/');
    if (separator == std::u16string::npos) throw Error(MSI_LOCATION, kModule, 13);
    setSourceFolder(path.substr(0, separator));
    path_ = path;
    database_.open(path, readOnly);
    summary_.read(database_);
    if (propertiesOnly) {
      if (hasTable(tableName<PropertyTableDescription>())) loadProperties();
    } else {
      loadCustomActions();
      loadProperties();
    }
    // The installation tree is read on first use (needTree).
    tree_ = Tree::Unread;
    state_ = Open;
  } catch (const Error& e) {
    throw wrap(MSI_LOCATION, 13, e);
  } catch (...) {
    throw Error(MSI_LOCATION, kModule, 13);
  }
}

void MsiPackage::readTree() {
  switch (tree_) {
    case Tree::Read:
    case Tree::Reading:
      return;
    case Tree::Failed:
      throw treeError_;
    case Tree::Unread:
      break;
  }
  tree_ = Tree::Reading;
  try {
    loadAll();
    tree_ = Tree::Read;
  } catch (const Error& e) {
    // Never an empty or half tree: the failure stands for every later use.
    treeError_ = wrap(MSI_LOCATION, 13, e);
    tree_ = Tree::Failed;
    throw treeError_;
  } catch (...) {
    treeError_ = Error(MSI_LOCATION, kModule, 13);
    tree_ = Tree::Failed;
    throw treeError_;
  }
}

void MsiPackage::loadAll() {
  // Assemblies before components: they tell the assembly kind.
  loadAssemblies();
  loadDirectories();
  loadTree();
  loadIsolatedComponents();
  loadCabinets();
}

template <class T>
void MsiPackage::loadRows(KeyList& keys) {
  const std::u16string& name = tableName<typename T::Description>();
  if (!hasTable(name)) return;
  MsiTable& table = database_.table(name);
  table.load();
  for (MsiRow* row : table) {
    std::unique_ptr<T> object(createFromRow<T>(*row, this));
    object->loaded();
    if (!add(object.get())) continue;
    object->unmarkModified();
    keys.append(object.release()->key());
  }
}

void MsiPackage::loadCustomActions() {
  if (!hasTable(tableName<CustomActionTableDescription>())) return;
  MsiTable& table = database_.table(tableName<CustomActionTableDescription>());
  table.load();
  for (MsiRow* row : table) {
    std::unique_ptr<MsiCustomAction> object(createCustomActionForRow(*row, this));
    object->loaded();
    customActions_.append(object->key());
    if (add(object.get())) object.release()->unmarkModified();
  }
}

void MsiPackage::loadIsolatedComponents() { loadRows<MsiIsolatedComponent>(isolatedComponents_); }

void MsiPackage::reload() {
  database_.forgetTables();
  // Custom actions list their keys even for objects they drop: only new ones here.
  if (hasTable(tableName<CustomActionTableDescription>())) {
    MsiTable& table = database_.table(tableName<CustomActionTableDescription>());
    table.load();
    for (MsiRow* row : table) {
      std::unique_ptr<MsiCustomAction> object(createCustomActionForRow(*row, this));
      object->loaded();
      if (!add(object.get())) continue;
      customActions_.append(object->key());
      object.release()->unmarkModified();
    }
  }
  loadProperties();
  // A tree read before takes the new rows now; an unread one reads them when asked.
  if (tree_ == Tree::Read) {
    tree_ = Tree::Unread;
    readTree();
  }
}

void MsiPackage::loadCabinets() {
  if (!hasTable(tableName<MediaTableDescription>())) return;
  MsiTable& table = database_.table(tableName<MediaTableDescription>());
  table.load();
  for (MsiRow* row : table) {
    std::unique_ptr<MsiCab> object;
    // A Media row that does not read (a LastSequence that is no number) is
    // left out rather than refusing the whole package to a reader that never
    // asks for cabinets; its row stays as it is.
    try {
      object.reset(createFromRow<MsiCab>(*row, this));
    } catch (const Error&) {
      continue;
    }
    object->loaded();
    if (!add(object.get())) continue;
    object->unmarkModified();
    cabinets_.append(object.release()->key());
  }
  cabinetCounter_ = static_cast<std::uint16_t>(cabinets_.size());
}

MsiAssembly* MsiPackage::assemblyForComponent(const std::u16string& componentKey) const {
  needTree();
  auto it = assemblies_.find(componentKey);
  return it == assemblies_.end() ? nullptr : it->second;
}

MsiDirectory* MsiPackage::findRootDirectory() {
  needTree();
  return find<MsiDirectory>(rootDirectoryKey_);
}

MsiDirectory* MsiPackage::rootDirectory() {
  MsiDirectory* root = find<MsiDirectory>(MsiDirectory::kRootKey);
  if (!root) {
    auto made = std::make_unique<MsiDirectory>(this, MsiDirectory::kRootKey, MsiDirectory::kRootName);
    if (add(made.get())) {
      root = made.release();
      directories_.append(root->key());
    } else {
      root = identityMap<MsiDirectory>().find(MsiDirectory::kRootKey);
    }
  }
  rootDirectoryKey_ = MsiDirectory::kRootKey;
  root->markModified();
  return root;
}

void MsiPackage::ensureSystemFolders() {
  MsiDirectory* root = rootDirectory();
  for (const std::u16string& name : systemFolderNames()) {
    // A folder the package has already keeps its own name and parent.
    if (find<MsiDirectory>(name)) continue;
    IMsiDirectory* folder = root->createSubdirectory(name);
    folder->setSourceName(u".");
    directories_.append(name);
  }
}

std::u16string MsiPackage::directoryPath(const std::u16string&) {
  // Target paths come from an installer session, which this model never opens.
  return {};
}

MsiFeature* MsiPackage::findFeature(const std::u16string& name) {
  needTree();
  return features_.contains(name) ? find<MsiFeature>(name) : nullptr;
}

MsiComponent* MsiPackage::findComponentById(const std::u16string& code) {
  needTree();
  if (!hasTable(tableName<ComponentTableDescription>())) return nullptr;
  MsiTable copy = openTable<ComponentTableDescription>(database_);
  copy.setWhere(u"`ComponentId` = ?");
  copy.bindWhereValue(code);
  copy.load();
  if (copy.begin() == copy.end()) return nullptr;
  return find<MsiComponent>(columnValue<ComponentTableDescription>(**copy.begin(), 0));
}

std::unique_ptr<MsiIterator<MsiFeature>> MsiPackage::features() {
  needTree();
  return std::make_unique<MsiIterator<MsiFeature>>(this, &features_.keys());
}

std::unique_ptr<MsiIterator<MsiFile>> MsiPackage::files() {
  needTree();
  if (files_.empty()) {
    KeyList ignored;  // the file notifier lists them
    loadRows<MsiFile>(ignored);
  }
  return std::make_unique<MsiIterator<MsiFile>>(this, &files_.keys());
}

std::unique_ptr<MsiIterator<MsiCustomAction>> MsiPackage::customActions() {
  return std::make_unique<MsiIterator<MsiCustomAction>>(this, &customActions_.keys());
}

std::unique_ptr<MsiIterator<MsiIsolatedComponent>> MsiPackage::isolatedComponents() {
  needTree();
  return std::make_unique<MsiIterator<MsiIsolatedComponent>>(this, &isolatedComponents_.keys());
}

std::unique_ptr<MsiIterator<MsiInstallExecuteSequence>> MsiPackage::installExecuteSequence() {
  if (sequence_.empty()) loadRows<MsiInstallExecuteSequence>(sequence_);
  return std::make_unique<MsiIterator<MsiInstallExecuteSequence>>(this, &sequence_.keys());
}

std::unique_ptr<MsiIterator<MsiMajorUpgrade>> MsiPackage::majorUpgrades() {
  if (majorUpgrades_.empty()) loadRows<MsiMajorUpgrade>(majorUpgrades_);
  return std::make_unique<MsiIterator<MsiMajorUpgrade>>(this, &majorUpgrades_.keys());
}

std::unique_ptr<MsiIterator<MsiRestrictedProduct>> MsiPackage::restrictedProducts() {
  if (restrictedProducts_.empty()) loadRows<MsiRestrictedProduct>(restrictedProducts_);
  return std::make_unique<MsiIterator<MsiRestrictedProduct>>(this, &restrictedProducts_.keys());
}

MsiBinary* MsiPackage::addDll(const std::u16string& path) {
  for (const std::u16string& key : binaries_.keys())
    if (MsiBinary* b = find<MsiBinary>(key); b && b->data() == path) throw Error(MSI_LOCATION, kModule, 51);
  auto dll = std::make_unique<MsiDll>(this, path);
  if (!add<MsiBinary>(dll.get())) throw Error(MSI_LOCATION, kModule, 51);
  MsiBinary* held = dll.release();
  binaries_.append(held->key());
  held->markModified();
  return held;
}

MsiCustomAction* MsiPackage::addCustomActionDll(const std::u16string& action, MsiBinary* dll) {
  MsiBinary* binary = dll ? find<MsiBinary>(dll->name()) : nullptr;
  if (!binary) throw Error(MSI_LOCATION, kModule, 50);
  auto made = std::make_unique<MsiCustomActionDll>(this, action, binary);
  // An action of that name exists already: it is the one to change.
  if (!add<MsiCustomAction>(made.get())) throw Error(MSI_LOCATION, kModule, 52, u"custom action " + action);
  MsiCustomAction* held = made.release();
  customActions_.append(held->key());
  held->markModified();
  return held;
}

MsiMajorUpgrade* MsiPackage::addMajorUpgrade(const std::u16string& upgradeCode) {
  auto made = std::make_unique<MsiMajorUpgrade>(this);
  made->setUpgradeCode(upgradeCode);
  if (!add(made.get())) throw Error(MSI_LOCATION, kModule, 53, u"upgrade " + upgradeCode);
  MsiMajorUpgrade* held = made.release();
  majorUpgrades_.append(held->key());
  held->markModified();
  return held;
}

MsiNonmsiUpgrade* MsiPackage::addNonMsiUpgrade(const std::u16string& product) {
  auto made = std::make_unique<MsiNonmsiUpgrade>(this);
  made->setProduct(product);
  if (!add(made.get())) throw Error(MSI_LOCATION, kModule, 53, u"upgrade " + product);
  MsiNonmsiUpgrade* held = made.release();
  nonMsiUpgrades_.append(held->key());
  held->markModified();
  return held;
}

void MsiPackage::loadAssemblies() {
  // Before components: the assembly kind is told by these rows.
  if (!hasTable(tableName<MsiAssemblyTableDescription>())) return;
  MsiTable& table = database_.table(tableName<MsiAssemblyTableDescription>());
  table.load();
  for (MsiRow* row : table) {
    std::unique_ptr<MsiAssembly> object(createFromRow<MsiAssembly>(*row, this));
    object->loaded();
    if (!add(object.get())) continue;
    object->unmarkModified();
    MsiAssembly* held = object.release();
    assemblies_[held->componentKey()] = held;
  }
}

void MsiPackage::loadTree() {
  auto each = [this](const std::u16string& name, auto&& take) {
    if (!hasTable(name)) return;
    MsiTable& table = database_.table(name);
    table.load();
    for (MsiRow* row : table) take(*row);
  };
  each(u"Component", [this](const MsiRow& row) {
    std::unique_ptr<MsiComponent> object(createFromRow<MsiComponent>(row, this));
    object->loaded();
    if (add(object.get())) components_.append(object.release()->key());
  });
  each(u"File", [this](const MsiRow& row) {
    std::unique_ptr<MsiFile> object(createFromRow<MsiFile>(row, this));
    object->loaded();
    MsiFile* file = object.get();
    // The package's file notifier lists it.
    if (!add(file)) return;
    object.release();
    if (MsiComponent* c = identityMap<MsiComponent>().find(file->componentKey())) c->addFile(file->key());
  });
  each(u"Feature", [this](const MsiRow& row) {
    std::unique_ptr<MsiFeature> object(createFromRow<MsiFeature>(row, this));
    object->loaded();
    if (add(object.get())) features_.append(object.release()->key());
  });
  // A component held by several features is linked to each of them.
  each(u"FeatureComponents", [this](const MsiRow& row) {
    MsiFeature* feature = identityMap<MsiFeature>().find(row.field(u"Feature_"));
    MsiComponent* component = identityMap<MsiComponent>().find(row.field(u"Component_"));
    if (!feature || !component) return;
    feature->addComponent(component->key());
    component->addFeature(feature->key());
  });
}

bool MsiPackage::hasTable(const std::u16string& name) {
  if (database_.hasTable(name)) return true;
  MsiRecordset found;
  MsiCommand query(&database_);
  query.setText(u"Select `Name` From `_Tables` Where `Name` = ? ");
  query.bind(name);
  query.run(&found);
  return found.rowCount() != 0;
}

void MsiPackage::loadDirectories() {
  if (!hasTable(tableName<DirectoryTableDescription>())) return;
  MsiTable& table = database_.table(tableName<DirectoryTableDescription>());
  table.load();
  std::map<std::u16string, std::u16string> parents;
  for (MsiRow* row : table) {
    std::unique_ptr<MsiDirectory> object(createFromRow<MsiDirectory>(*row, this));
    object->loaded();
    parents[object->key()] = object->parentKey();
    if (add(object.get())) directories_.append(object.release()->key());
  }
  if (parents.count(MsiDirectory::kRootKey)) rootDirectoryKey_ = MsiDirectory::kRootKey;
  // A loop in the parent chains would make every path walk endless: refuse the
  // package. Each key is walked once; 1 marks the chain being walked, 2 a sound one.
  std::map<std::u16string, int> state;
  for (const auto& [start, parent] : parents) {
    std::vector<std::u16string> walk;
    std::u16string at = start;
    for (;;) {
      int& s = state[at];
      if (s == 2) break;
      if (s == 1) throw Error(MSI_LOCATION, 0x552ae5ca, 61, u"the parent chain of the directory " + at + u" loops");
      s = 1;
      walk.push_back(at);
      auto up = parents.find(at);
      if (up == parents.end() || up->second.empty() || at == MsiDirectory::kRootKey) break;
      at = up->second;
    }
    for (const std::u16string& k : walk) state[k] = 2;
  }
}

void MsiPackage::loadProperties() {
  MsiTable& table = database_.table(tableName<PropertyTableDescription>());
  table.load();
  for (MsiRow* row : table) {
    std::unique_ptr<MsiProperty> object(createFromRow<MsiProperty>(*row, this));
    object->loaded();
    if (add(object.get())) {
      object->unmarkModified();
      properties_.append(object.release()->key());
    }
  }
}

void MsiPackage::close() {
  // Objects stay reachable after the close: an unread tree is read while the
  // file is still open (a failure is kept for its first use).
  if (tree_ == Tree::Unread && state_ != Closed) {
    try {
      readTree();
    } catch (const Error&) {
    }
  }
  try {
    database_.close();
  } catch (const Error& e) {
    throw wrap(MSI_LOCATION, 15, e);
  }
  state_ = Closed;
}

void MsiPackage::commit() {
  try {
    renumberCabinets();
    save(0);
    database_.commit();
    state_ = Committed;
  } catch (const Error& e) {
    throw wrap(MSI_LOCATION, 14, e);
  } catch (...) {
    throw Error(MSI_LOCATION, kModule, 14);
  }
}

void MsiPackage::save(int flags) {
  try {
    for (const std::u16string& key : properties_.keys())
      if (MsiProperty* p = find<MsiProperty>(key)) p->save(flags);
    // An unread tree has no objects, so nothing of it to write.
    const bool tree = tree_ == Tree::Read;
    if (tree) {
      for (const std::u16string& key : directories_.keys())
        if (MsiDirectory* d = identityMap<MsiDirectory>().find(key)) d->save(flags);
      for (const std::u16string& key : components_.keys())
        if (MsiComponent* c = identityMap<MsiComponent>().find(key)) c->save(flags);
      for (const std::u16string& key : files_.keys())
        if (MsiFile* f = identityMap<MsiFile>().find(key)) f->save(flags);
      for (const std::u16string& key : features_.keys())
        if (MsiFeature* f = identityMap<MsiFeature>().find(key)) f->save(flags);
    }
    auto saveAll = [this, flags](auto* kind, const KeyList& keys) {
      using T = std::remove_pointer_t<decltype(kind)>;
      for (const std::u16string& key : keys.keys())
        if (T* object = identityMap<T>().find(key)) object->save(flags);
    };
    saveAll(static_cast<MsiBinary*>(nullptr), binaries_);
    saveAll(static_cast<MsiCustomAction*>(nullptr), customActions_);
    saveAll(static_cast<MsiMajorUpgrade*>(nullptr), majorUpgrades_);
    saveAll(static_cast<MsiNonmsiUpgrade*>(nullptr), nonMsiUpgrades_);
    saveAll(static_cast<MsiRestrictedProduct*>(nullptr), restrictedProducts_);
    if (tree) {
      saveAll(static_cast<MsiIsolatedComponent*>(nullptr), isolatedComponents_);
      // Last: a cabinet is built from the files written before it.
      saveAll(static_cast<MsiCab*>(nullptr), cabinets_);
    }
  } catch (const Error& e) {
    throw wrap(MSI_LOCATION, 16, e);
  } catch (...) {
    throw Error(MSI_LOCATION, kModule, 16);
  }
}

void MsiPackage::registerComponent(const std::u16string& componentKey) {
  needTree();
  if (components_.contains(componentKey)) throw Error(MSI_LOCATION, kModule, 31);
  components_.append(componentKey);
}

IMsiProperty* MsiPackage::registerNewProperty(MsiProperty* created) {
  std::unique_ptr<MsiProperty> object(created);
  if (!add(object.get())) return identityMap<MsiProperty>().find(object->key());
  // A new property must reach the database at the next commit.
  object->markModified();
  properties_.append(object->key());
  return object.release();
}

IMsiProperty* MsiPackage::property(const std::u16string& name, bool create) {
  if (properties_.contains(name)) return find<MsiProperty>(name);
  MsiTable& table = database_.table(tableName<PropertyTableDescription>());
  MsiProperty* found = nullptr;
  if (table.isKeyed()) {
    // The key index answers without reloading and scanning the whole table.
    found = find<MsiProperty>(name);
  } else {
    table.load();
    MsiRowReader<MsiProperty> reader(table);
    auto position = reader.findMatching(MsiProperty(this, name, u""));
    if (position != reader.end()) {
      auto* copy = new MsiProperty(reader.current(position), this);
      if (!add(copy)) {
        delete copy;
        copy = identityMap<MsiProperty>().find(name);
      }
      found = copy;
    }
  }
  if (found) {
    properties_.append(found->key());
    return found;
  }
  if (!create) return nullptr;
  if (name.empty()) throw Error(MSI_LOCATION, kModule, 17);
  return registerNewProperty(new MsiProperty(this, name, u""));
}

IMsiProperty* MsiPackage::addProperty(const std::u16string& name, const std::u16string& value) {
  // The name is the row's key: an empty one would be dropped at commit.
  if (name.empty()) throw Error(MSI_LOCATION, kModule, 17);
  if (IMsiProperty* existing = property(name, false)) {
    existing->setValue(value);
    return existing;
  }
  return registerNewProperty(new MsiProperty(this, name, value));
}

std::u16string MsiPackage::propertyValue(const std::u16string& name) {
  DWORD size = 0;
  WCHAR empty[1] = {0};
  if (MsiGetPropertyW(database_.handle(), name.c_str(), empty, &size) != ERROR_MORE_DATA) return {};
  std::vector<WCHAR> buffer(size + 1, 0);
  DWORD room = size + 1;
  if (MsiGetPropertyW(database_.handle(), name.c_str(), buffer.data(), &room) != ERROR_SUCCESS) return {};
  return std::u16string(buffer.data(), room);
}

void MsiPackage::setLanguage(std::uint16_t language) {
  try {
    language_ = language;
    WCHAR codePage[16] = {0};
    int length = GetLocaleInfoW(language, LOCALE_IDEFAULTANSICODEPAGE, codePage, 16);
    if (length == 0 || length >= 16) throw Error(MSI_LOCATION, kModule, 18);
    std::u16string codePageText(codePage);
    if (!isNumber(codePageText)) {
      std::uint32_t location = MSI_LOCATION;
      Error outer(location, kModule, 18);
      outer.setCause(Error(location, kModule, 5));
      throw outer;
    }

    WCHAR folder[260] = {0};
    DWORD folderLength = GetTempPathW(260, folder);
    if (folderLength == 0 || folderLength > 245) throw Error(MSI_LOCATION, kModule, 18);
    WCHAR file[260] = {0};
    if (GetTempFileNameW(folder, u"msi", 0, file) == 0) throw Error(MSI_LOCATION, kModule, 18);
    std::u16string filePath(file);

    struct TempFile {
      std::u16string path;
      ~TempFile() { DeleteFileW(path.c_str()); }
    } temp{filePath};

    HANDLE h = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw Error(MSI_LOCATION, kModule, 18);
    std::string content = "\n\n";
    for (char16_t c : codePageText) content.push_back(static_cast<char>(c));
    content += "\t_ForceCodepage";
    DWORD written = 0;
    BOOL ok = WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
    if (!ok || written != content.size()) throw Error(MSI_LOCATION, kModule, 18);

    std::size_t slash = filePath.rfind(u'\\');
    std::u16string name = slash == std::u16string::npos ? filePath : filePath.substr(slash + 1);
    UINT r = MsiDatabaseImportW(database_.handle(), folder, name.c_str());
    if (!succeeded(r)) throw Error(MSI_LOCATION, kModule, 18, systemErrorText(r));

    HandleGuard summary;
    r = MsiGetSummaryInformationW(database_.handle(), nullptr, 2, summary.out());
    if (!succeeded(r)) throw Error(MSI_LOCATION, kModule, 18, systemErrorText(r));
    r = MsiSummaryInfoSetPropertyW(summary.get(), PID_CODEPAGE, VT_I2, toInt(codePageText), nullptr, nullptr);
    if (!succeeded(r)) throw Error(MSI_LOCATION, kModule, 18, systemErrorText(r));
    std::u16string templateText = u"Intel;" + toString(language);
    r = MsiSummaryInfoSetPropertyW(summary.get(), PID_TEMPLATE, VT_LPSTR, 0, nullptr, templateText.c_str());
    if (!succeeded(r)) throw Error(MSI_LOCATION, kModule, 18, systemErrorText(r));
    addProperty(u"ProductLanguage", toString(language));
    // A summary that did not persist must not pass for a language that was set.
    r = MsiSummaryInfoPersist(summary.get());
    if (!succeeded(r)) throw Error(MSI_LOCATION, kModule, 18, systemErrorText(r));
    summary_.setTemplateText(templateText);
  } catch (const Error&) {
    throw;
  } catch (...) {
    throw Error(MSI_LOCATION, kModule, 18);
  }
}

}  // namespace Msi
