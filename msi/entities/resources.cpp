#include "msi/entities/resources.h"

#include "msi/entities/directory.h"
#include "msi/entities/formatted_string.h"
#include "msi/entities/property.h"
#include "msi/entities/row_entity_impl.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/text.h"
#include "system/md5.h"

namespace Msi {

template class MsiRowEntity<EnvironmentTableDescription, MsiEnvironment>;
template class MsiRowEntity<DuplicateFileTableDescription, MsiDuplicateFile>;
template class MsiRowEntity<ServiceInstallTableDescription, MsiServiceInstall>;
template class MsiRowEntity<IniFileTableDescription, MsiIniFile>;
template class MsiRowEntity<MoveFileTableDescription, MsiMoveFile>;
template class MsiRowEntity<CreateFolderTableDescription, MsiCreateFolder>;
template class MsiRowEntity<MsiAssemblyNameTableDescription, MsiAssemblyName>;

namespace {

constexpr std::uint32_t kModule = 0xd60d6bb3;

std::u16string expand(MsiPackage* package, const std::u16string& text) {
  return MsiFormattedString(package, text).format();
}

// A property of that name with a value (expanded), else a directory's target path.
std::u16string folderPath(MsiPackage* package, const std::u16string& column) {
  if (column.empty()) return {};
  std::u16string value = package->propertyValue(column);
  if (!value.empty()) return expand(package, value);
  MsiDirectory* directory = package->find<MsiDirectory>(column);
  return directory ? directory->targetPath() : std::u16string();
}

}  // namespace

template <class T>
void loadComponentResources(MsiPackage* package, const std::u16string& componentKey, std::list<std::u16string>& keys) {
  keys.clear();
  if (!package->hasTable(tableName<typename T::Description>())) return;
  loadChildKeys<T>(package, u"Component_", componentKey, keys);
}

template void loadComponentResources<MsiEnvironment>(MsiPackage*, const std::u16string&, std::list<std::u16string>&);
template void loadComponentResources<MsiDuplicateFile>(MsiPackage*, const std::u16string&, std::list<std::u16string>&);
template void loadComponentResources<MsiServiceInstall>(MsiPackage*, const std::u16string&,
                                                        std::list<std::u16string>&);
template void loadComponentResources<MsiIniFile>(MsiPackage*, const std::u16string&, std::list<std::u16string>&);
template void loadComponentResources<MsiMoveFile>(MsiPackage*, const std::u16string&, std::list<std::u16string>&);
template void loadComponentResources<MsiCreateFolder>(MsiPackage*, const std::u16string&, std::list<std::u16string>&);
template void loadComponentResources<MsiAssemblyName>(MsiPackage*, const std::u16string&, std::list<std::u16string>&);

std::u16string digestKey(const std::vector<const std::u16string*>& parts, const std::int32_t* trailer) {
  Common::Md5 md5;
  auto word = [&md5](std::uint32_t v) {
    std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    md5.update(b, 4);
  };
  for (const std::u16string* part : parts) {
    word(static_cast<std::uint32_t>(part->size()));
    for (char16_t c : *part) {
      std::uint8_t b[2] = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)};
      md5.update(b, 2);
    }
  }
  if (trailer) word(static_cast<std::uint32_t>(*trailer));
  std::uint8_t digest[16];
  md5.finish(digest);
  static const char16_t hex[] = u"0123456789ABCDEF";
  std::u16string key;
  for (std::uint8_t b : digest) {
    key.push_back(hex[b >> 4]);
    key.push_back(hex[b & 15]);
  }
  return key;
}

std::u16string MsiEnvironment::expandedValue() { return expand(package_, value(2)); }
MsiComponent* MsiEnvironment::component() { return package_->find<MsiComponent>(componentKey()); }

MsiComponent* MsiDuplicateFile::component() { return package_->find<MsiComponent>(componentKey()); }
MsiFile* MsiDuplicateFile::file() { return package_->find<MsiFile>(value(2)); }

std::u16string MsiDuplicateFile::destFolderPath() {
  const std::u16string& folder = destFolder();
  if (folder.empty()) {
    // The duplicate goes beside the original.
    MsiFile* original = file();
    MsiComponent* owner = original ? package_->find<MsiComponent>(original->componentKey()) : nullptr;
    if (owner && !owner->directoryKey().empty()) return owner->directoryTargetPath();
    throw Error(MSI_LOCATION, 0x9a079ec4, 101, u"the duplicate file " + key() + u" has no folder");
  }
  std::u16string value = package_->propertyValue(folder);
  if (!value.empty()) return value;
  if (IMsiProperty* p = package_->property(folder, false)) return p->value();
  if (MsiDirectory* d = package_->find<MsiDirectory>(folder)) return d->targetPath();
  throw Error(MSI_LOCATION, 0x9a079ec4, 101, u"the folder " + folder + u" names no property or directory");
}

std::u16string MsiServiceInstall::expanded(std::size_t column) { return expand(package_, value(column)); }
std::int32_t MsiServiceInstall::serviceType() const { return toInt(value(3)); }
std::int32_t MsiServiceInstall::startType() const { return toInt(value(4)); }
std::int32_t MsiServiceInstall::errorControl() const { return toInt(value(5)); }
MsiComponent* MsiServiceInstall::component() { return package_->find<MsiComponent>(componentKey()); }

void MsiServiceInstall::readDependencies() {
  if (dependenciesRead_) return;
  resolved_.clear();
  dependencyNames_.clear();
  const std::u16string& text = value(7);
  static const std::u16string separator = u"[~]";
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::u16string::npos; start = at + separator.size()) {
    if (at > start) dependencyNames_.push_back(text.substr(start, at - start));
  }
  // The resolved list holds the keys of the services found, so that both
  // dependentServices and externalDependencies agree on what was found.
  for (const std::u16string& name : dependencyNames_)
    if (package_->find<MsiServiceInstall>(name)) resolved_.push_back(name);
  dependenciesRead_ = true;
}

const std::list<std::u16string>& MsiServiceInstall::dependentServices() {
  readDependencies();
  return resolved_;
}

std::list<std::u16string> MsiServiceInstall::groupDependencies() {
  readDependencies();
  std::list<std::u16string> out;
  for (const std::u16string& n : dependencyNames_)
    if (!n.empty() && n[0] == u'+') out.push_back(n);
  return out;
}

std::list<std::u16string> MsiServiceInstall::externalDependencies() {
  readDependencies();
  std::list<std::u16string> out;
  for (const std::u16string& n : dependencyNames_) {
    if (!n.empty() && n[0] == u'+') continue;
    bool found = false;
    for (const std::u16string& r : resolved_) found = found || r == n;
    if (!found) out.push_back(n);
  }
  return out;
}

std::u16string MsiIniFile::expanded(std::size_t column) { return expand(package_, value(column)); }
std::u16string MsiIniFile::directoryPath() { return folderPath(package_, value(2)); }
std::u16string MsiIniFile::section() { return expanded(3); }
std::u16string MsiIniFile::keyName() { return expanded(4); }
std::u16string MsiIniFile::iniValue() { return expanded(5); }
MsiComponent* MsiIniFile::component() { return package_->find<MsiComponent>(componentKey()); }

std::int32_t MsiIniFile::action() const {
  std::int32_t a = toInt(value(6));
  if (a < AddLine || a > RemoveTag) throw Error(MSI_LOCATION, kModule, 122, u"IniFile action " + value(6));
  return a;
}

void MsiIniFile::setAction(std::int32_t action) {
  if (action < AddLine || action > RemoveTag) throw Error(MSI_LOCATION, kModule, 122, u"IniFile action " + toString(action));
  set(6, toString(action));
}

void MsiIniFile::setComponent(MsiComponent* component) { set(7, component ? component->key() : std::u16string()); }

MsiComponent* MsiMoveFile::component() { return package_->find<MsiComponent>(componentKey()); }
std::u16string MsiMoveFile::sourceFolderPath() { return folderPath(package_, value(4)); }
std::u16string MsiMoveFile::destFolderPath() { return folderPath(package_, value(5)); }

std::int32_t MsiMoveFile::options() const {
  if (value(6) == u"0") return 0;
  if (value(6) == u"1") return 1;
  throw Error(MSI_LOCATION, kModule, 121, u"MoveFile options " + value(6));
}

void MsiMoveFile::setComponent(MsiComponent* component) { set(1, component ? component->key() : std::u16string()); }

void MsiMoveFile::setOptions(std::int32_t options) {
  if (options == 0 || options == 1) values_[6] = toString(options);
  markModified();
}

MsiComponent* MsiCreateFolder::component() { return package_->find<MsiComponent>(componentKey()); }
MsiDirectory* MsiCreateFolder::directory() { return package_->find<MsiDirectory>(value(1)); }

bool MsiCreateFolder::matches(const MsiRow& row) const {
  return columnOf(row, 0) == value(0) && columnOf(row, 1) == value(1);
}

std::u16string MsiCreateFolder::key() const {
  if (key_.empty() && !value(0).empty() && !value(1).empty()) key_ = digestKey({&value(0), &value(1)});
  return key_;
}

MsiComponent* MsiAssemblyName::component() { return package_->find<MsiComponent>(componentKey()); }

bool MsiAssemblyName::matches(const MsiRow& row) const {
  return columnOf(row, 0) == value(0) && columnOf(row, 1) == value(1);
}

std::u16string MsiAssemblyName::key() const {
  if (key_.empty() && !value(0).empty() && !value(1).empty()) key_ = digestKey({&value(0), &value(1)});
  return key_;
}

}  // namespace Msi
