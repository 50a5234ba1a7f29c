#include "msi/entities/tree.h"

#include "msi/entities/directory.h"
#include "msi/entities/row_entity_impl.h"
#include "msi/model/command.h"
#include "msi/model/error.h"
#include "msi/model/package.h"
#include "msi/model/text.h"
#include "platform/win32/windows.h"

namespace Msi {

template class MsiRowEntity<ComponentTableDescription, MsiComponent>;
template class MsiRowEntity<FeatureTableDescription, MsiFeature>;
template class MsiRowEntity<FileTableDescription, MsiFile>;

namespace {

template <class T>
void removeObject(T* object, const std::u16string& table, const std::u16string& linkColumn) {
  MsiPackage* package = object->package();
  std::u16string key = object->key();
  deleteRow(*package->database(), table, key);
  // The links would otherwise bring the row's holders back at the next load.
  // One statement per row by both keys: the engine's DELETE over several
  // matching rows of a two-key table skips some of them.
  if (package->hasTable(u"FeatureComponents")) {
    MsiRecordset links;
    MsiCommand select(package->database());
    select.setText(u"SELECT `Feature_`, `Component_` FROM `FeatureComponents` WHERE `" + linkColumn + u"` = ?");
    select.bind(key);
    select.run(&links);
    for (MsiRow* link : links) {
      MsiCommand remove(package->database());
      remove.setText(u"DELETE FROM `FeatureComponents` WHERE `Feature_` = ? AND `Component_` = ?");
      remove.bind(link->fieldAt(0));
      remove.bind(link->fieldAt(1));
      remove.run(nullptr);
    }
  }
  delete package->identityMap<T>().detach(key);
}

}  // namespace

void appendOnce(std::list<std::u16string>& keys, const std::u16string& key) {
  for (const std::u16string& k : keys)
    if (k == key) return;
  keys.push_back(key);
}

MsiComponent::Kind componentKind(const std::u16string& attributes, const std::u16string& keyPath, bool hasAssembly) {
  std::int32_t bits = attributes.empty() ? 0 : toInt(attributes);
  if (bits & 0x20) return MsiComponent::Kind::Odbc;
  if (bits & 0x04) return MsiComponent::Kind::Registry;
  if (keyPath.empty()) return MsiComponent::Kind::Directory;
  if (hasAssembly) return MsiComponent::Kind::Assembly;
  return MsiComponent::Kind::File;
}

MsiComponent::MsiComponent(MsiPackage* package) : MsiRowEntity(package) {}

MsiDirectory* MsiComponent::directory() { return package_->find<MsiDirectory>(directoryKey()); }

std::u16string MsiComponent::directoryTargetPath() {
  MsiDirectory* d = directory();
  return d ? d->targetPath() : std::u16string();
}

void MsiComponent::remove() { removeObject(this, u"Component", u"Component_"); }

MsiFeature::MsiFeature(MsiPackage* package) : MsiRowEntity(package) {}

void MsiFeature::remove() { removeObject(this, u"Feature", u"Feature_"); }

MsiFile::MsiFile(MsiPackage* package) : MsiRowEntity(package) {}

std::u16string MsiFile::longName() const {
  std::size_t bar = fileName().find(u'|');
  return bar == std::u16string::npos ? fileName() : fileName().substr(bar + 1);
}

std::u16string MsiFile::shortName() const {
  std::size_t bar = fileName().find(u'|');
  return bar == std::u16string::npos ? fileName() : fileName().substr(0, bar);
}

std::u16string MsiFile::targetPath() {
  MsiComponent* component = package_->find<MsiComponent>(componentKey());
  if (!component) return {};
  std::u16string folder = component->directoryTargetPath();
  if (folder.empty()) return longName();
  if (folder.back() != u'\\' && folder.back() != u'/') folder.push_back(u'\\');
  return folder + longName();
}

std::u16string MsiFile::shortTargetPath() {
  std::u16string path = targetPath();
  if (path.empty()) return path;
  WCHAR buffer[260] = {0};
  DWORD length = GetShortPathNameW(path.c_str(), buffer, 260);
  return length == 0 || length >= 260 ? path : std::u16string(buffer, length);
}

}  // namespace Msi
