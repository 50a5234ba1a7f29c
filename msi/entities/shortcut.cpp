#include "msi/entities/shortcut.h"

#include "msi/entities/directory.h"
#include "msi/entities/formatted_string.h"
#include "msi/entities/row_entity_impl.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/identifiers.h"

namespace Msi {

template class MsiRowEntity<ShortcutTableDescription, MsiShortcut>;

namespace {

constexpr std::uint32_t kModule = 0x6d3c3efa;
const std::u16string kRoot = u"TARGETDIR";

}  // namespace

MsiShortcut::MsiShortcut(MsiPackage* package) : MsiRowEntity(package) {
  if (!newIdentifier(values_[0])) throw Error(MSI_LOCATION, kModule, 110);
}

MsiShortcut::MsiShortcut(MsiPackage* package, MsiFile* file) : MsiShortcut(package) {
  MsiComponent* owner = file ? package->find<MsiComponent>(file->componentKey()) : nullptr;
  values_[3] = owner ? owner->key() : std::u16string();
  MsiDirectory* folder = owner ? owner->directory() : nullptr;
  setDirectory(folder);
  setWorkingDirectory(folder);
}

std::u16string MsiShortcut::arguments() { return MsiFormattedString(package_, value(5)).format(); }
MsiDirectory* MsiShortcut::directory() { return package_->find<MsiDirectory>(value(1)); }
MsiDirectory* MsiShortcut::workingDirectory() { return package_->find<MsiDirectory>(value(11)); }
MsiComponent* MsiShortcut::component() { return package_->find<MsiComponent>(value(3)); }

void MsiShortcut::setName(const std::u16string& name) {
  if (name.find(u'|') != std::u16string::npos) return set(2, name);
  set(2, makeShortName(name) + u"|" + name);
}

void MsiShortcut::setDirectory(MsiDirectory* directory) { set(1, directory ? directory->key() : std::u16string()); }

void MsiShortcut::setWorkingDirectory(MsiDirectory* directory) {
  set(11, directory ? directory->key() : std::u16string());
}

void MsiShortcut::loadFrom(const MsiRow& row) {
  MsiRowEntity::loadFrom(row);
  fromRow_ = true;
}

void MsiShortcut::writeTo(MsiRow& row) const {
  MsiRowEntity::writeTo(row);
  if (value(1).empty()) row.field(MsiRowEntity::name(1)) = kRoot;
  if (value(11).empty() && !fromRow_) row.field(MsiRowEntity::name(11)) = kRoot;
}

MsiFileShortcut::MsiFileShortcut(MsiPackage* package, MsiFile* file) : MsiShortcut(package, file) {
  fileKey_ = file ? file->key() : std::u16string();
  values_[4] = fileKey_.empty() ? std::u16string() : u"[#" + fileKey_ + u"]";
}

std::u16string MsiFileShortcut::target() { return MsiFormattedString(package_, value(4)).format(); }

void MsiFileShortcut::writeTo(MsiRow& row) const {
  MsiShortcut::writeTo(row);
  // A shortcut made for a file follows it: gone, the Target is empty. One read
  // from a row keeps its Target as stored.
  if (!fileKey_.empty()) row.field(MsiRowEntity::name(4)) = package_->find<MsiFile>(fileKey_) ? u"[#" + fileKey_ + u"]" : u"";
}

MsiAdvertisedShortcut::MsiAdvertisedShortcut(MsiPackage* package, MsiFeature* feature, MsiFile* file)
    : MsiShortcut(package, file) {
  values_[4] = feature ? feature->key() : std::u16string();
}

MsiFeature* MsiAdvertisedShortcut::feature() { return package_->find<MsiFeature>(value(4)); }

MsiShortcut* createShortcutForRow(const MsiRow& row, MsiPackage* package) {
  const std::u16string& target = row.field(Singleton<ShortcutTableDescription>::instance()->columnName(4));
  std::unique_ptr<MsiShortcut> object;
  if (package->find<MsiFeature>(target))
    object = std::make_unique<MsiAdvertisedShortcut>(package);
  else
    object = std::make_unique<MsiFileShortcut>(package);
  object->loadFrom(row);
  return object.release();
}

template <>
MsiShortcut* createFromRow<MsiShortcut>(const MsiRow& row, MsiPackage* package) {
  return createShortcutForRow(row, package);
}

}  // namespace Msi
