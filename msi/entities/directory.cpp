#include "msi/entities/directory.h"

#include <set>
#include <unordered_set>

#include "msi/model/error.h"
#include "msi/model/identifiers.h"
#include "msi/model/package.h"
#include "msi/model/text.h"
#include "platform/win32/windows.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x552ae5ca;

const std::u16string& columnName(std::int32_t index) {
  return Singleton<DirectoryTableDescription>::instance()->columnName(index);
}

std::u16string generatedKey() {
  std::u16string key;
  if (!newIdentifier(key)) throw Error(MSI_LOCATION, kModule, 110);
  return key;
}

}  // namespace

const std::list<std::u16string>& systemFolderNames() {
  static const std::list<std::u16string> names = {u"PersonalFolder", u"DesktopFolder", u"ProgramMenuFolder",
                                                  u"StartMenuFolder", u"ProgramFilesFolder"};
  return names;
}

std::u16string defaultDirPart(const std::u16string& name) {
  if (name == MsiDirectory::kRootName || name == u"." || name.empty()) return name;
  return toUpper(makeShortName(name)) + u"|" + name;
}

bool deleteRow(MsiDatabaseInterface& database, const std::u16string& tableName, const std::u16string& key) {
  MsiTable& table = database.table(tableName);
  MsiRow* row = table.findRow(key);
  if (!row) return false;
  row->markDeleted();
  return true;
}

MsiDirectory::MsiDirectory(MsiPackage* package)
    : MsiStorable(package->database()), key_(generatedKey()), package_(package) {}

MsiDirectory::MsiDirectory(MsiPackage* package, const std::u16string& key)
    : MsiStorable(package->database()), key_(key.empty() ? generatedKey() : key), package_(package) {}

MsiDirectory::MsiDirectory(MsiPackage* package, const std::u16string& key, const std::u16string& name)
    : MsiStorable(package->database()),
      key_(key.empty() ? generatedKey() : key),
      sourceName_(name),
      targetName_(name),
      package_(package) {}

MsiDirectory::~MsiDirectory() { destroy(); }

void MsiDirectory::destroy() {
  // A subtree created through this object goes with it.
  std::list<std::u16string> children;
  children.swap(childKeys_);
  // Looked up without making one: while the package dies its map is gone already.
  auto& registry = MsiPackage::identityMapRegistry<MsiDirectory>();
  auto it = registry.find(package_);
  if (it == registry.end()) return;
  for (const std::u16string& key : children) delete it->second->detach(key);
}

IMsiDirectory* MsiDirectory::createSubdirectory(const std::u16string& key) {
  auto child = std::make_unique<MsiDirectory>(package_, key);
  child->parentKey_ = key_;
  MsiDirectory* held = child.get();
  if (!package_->add(held)) {
    // The key is taken: hand out the directory that holds it.
    return package_->find<MsiDirectory>(held->key_);
  }
  child.release();
  childKeys_.push_back(held->key_);
  held->markModified();
  return held;
}

void MsiDirectory::removeSubdirectory(MsiDirectory* child) {
  for (auto it = childKeys_.begin(); it != childKeys_.end(); ++it) {
    if (*it == child->key_) {
      std::u16string key = *it;
      childKeys_.erase(it);
      deleteRow(*package_->database(), tableName<DirectoryTableDescription>(), key);
      delete package_->identityMap<MsiDirectory>().detach(key);
      return;
    }
  }
  throw Error(MSI_LOCATION, kModule, 60);
}

void MsiDirectory::remove() {
  if (!parentKey_.empty()) {
    if (auto* parent = package_->find<MsiDirectory>(parentKey_)) {
      for (const std::u16string& k : parent->childKeys_)
        if (k == key_) return parent->removeSubdirectory(this);
    }
  }
  // Read from the package, or without a parent: its row goes, then the object.
  std::u16string key = key_;
  MsiPackage* package = package_;
  deleteRow(*package->database(), tableName<DirectoryTableDescription>(), key);
  delete package->identityMap<MsiDirectory>().detach(key);
}

void MsiDirectory::setSourceName(const std::u16string& name) {
  sourceName_ = name;
  markModified();
}

IMsiDirectory* MsiDirectory::parent() { return parentKey_.empty() ? nullptr : package_->find<MsiDirectory>(parentKey_); }

IMsiDirectory* MsiDirectory::findSubdirectory(const std::u16string& key) {
  for (const std::u16string& k : childKeys_)
    if (k == key) return package_->find<MsiDirectory>(k);
  return nullptr;
}

std::u16string MsiDirectory::path(bool target) {
  // Walks up to the root first, so a chain of any length costs no stack and a
  // loop is seen at the first key met twice.
  std::list<MsiDirectory*> chain;
  std::unordered_set<std::u16string> seen;
  MsiDirectory* at = package_->find<MsiDirectory>(key_);
  if (!at) at = this;
  std::u16string text;
  while (at) {
    if (!seen.insert(at->key_).second)
      throw Error(MSI_LOCATION, kModule, 61, u"the parent chain of the directory " + key_ + u" loops at " + at->key_);
    if (at->key_ == kRootKey) break;
    chain.push_front(at);
    MsiDirectory* up = at->parentKey_.empty() ? nullptr : package_->find<MsiDirectory>(at->parentKey_);
    if (!up) text.assign(1, u'\\');
    at = up;
  }
  for (MsiDirectory* d : chain) {
    // A DefaultDir with one part names the folder alike on both sides.
    const std::u16string& own = target ? d->targetName_ : d->sourceName_;
    const std::u16string& name = own.empty() ? (target ? d->sourceName_ : d->targetName_) : own;
    if (name != u".") {
      text.push_back(u'\\');
      text += name;
    }
  }
  return text;
}

std::u16string MsiDirectory::shortPath(const std::u16string& path) {
  WCHAR buffer[260] = {0};
  DWORD length = GetShortPathNameW(path.c_str(), buffer, 260);
  if (length == 0 || length >= 260) return {};
  return std::u16string(buffer, length);
}

void MsiDirectory::setDefaultDir(const std::u16string& text) {
  std::size_t colon = text.find(u':');
  std::u16string targetPart = colon == std::u16string::npos ? text : text.substr(0, colon);
  std::u16string sourcePart = colon == std::u16string::npos ? std::u16string() : text.substr(colon + 1);
  auto longName = [](const std::u16string& part) {
    std::size_t bar = part.find(u'|');
    return bar == std::u16string::npos ? part : part.substr(bar + 1);
  };
  if (!targetPart.empty()) targetName_ = longName(targetPart);
  if (!sourcePart.empty()) sourceName_ = longName(sourcePart);
  markModified();
}

std::u16string MsiDirectory::defaultDir() const {
  if (!readDefaultDir_.empty() && targetName_ == readTarget_ && sourceName_ == readSource_) return readDefaultDir_;
  // Short names stay unique among the folders read beside this one.
  std::set<std::u16string> taken;
  auto& registry = MsiPackage::identityMapRegistry<MsiDirectory>();
  auto found = registry.find(package_);
  if (found != registry.end()) {
    for (const auto& [key, sibling] : found->second->entries()) {
      if (!sibling || sibling == this || sibling->parentKey_ != parentKey_) continue;
      const std::u16string& text = sibling->readDefaultDir_;
      std::size_t colon = text.find(u':');
      for (const std::u16string& part :
           {text.substr(0, colon), colon == std::u16string::npos ? std::u16string() : text.substr(colon + 1)})
        if (!part.empty()) taken.insert(toUpper(part.substr(0, part.find(u'|'))));
    }
  }
  auto encode = [&taken](const std::u16string& name) {
    if (name == kRootName || name == u"." || name.empty()) return name;
    return makeShortName(name, taken) + u"|" + name;
  };
  std::u16string target = encode(targetName_);
  std::u16string source = encode(sourceName_);
  if (source == target) return target;
  if (!target.empty() && !source.empty()) return target + u":" + source;
  return target + source;
}

bool MsiDirectory::matches(const MsiRow& row) const { return row.field(columnName(0)) == key_; }

void MsiDirectory::writeTo(MsiRow& row) const {
  row.field(columnName(0)) = key_;
  row.field(columnName(1)) = parentKey_;
  row.field(columnName(2)) = defaultDir();
}

void MsiDirectory::loadFrom(const MsiRow& row) {
  bool wasModified = isModified();
  key_ = row.field(columnName(0));
  parentKey_ = row.field(columnName(1));
  targetName_.clear();
  sourceName_.clear();
  readDefaultDir_ = row.field(columnName(2));
  setDefaultDir(readDefaultDir_);
  readTarget_ = targetName_;
  readSource_ = sourceName_;
  if (!wasModified) unmarkModified();
}

void MsiDirectory::afterSave(int flags) {
  for (const std::u16string& key : childKeys_)
    if (MsiDirectory* child = package_->find<MsiDirectory>(key)) child->save(flags);
}

}  // namespace Msi
