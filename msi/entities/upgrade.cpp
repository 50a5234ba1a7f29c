#include "msi/entities/upgrade.h"

#include "msi/entities/resources.h"
#include "msi/entities/row_entity_impl.h"
#include "msi/entities/tree.h"
#include "msi/model/text.h"

namespace Msi {

template class MsiRowEntity<UpgradeTableDescription, MsiMajorUpgrade>;
template class MsiRowEntity<RestrictedProductsTableDescription, MsiRestrictedProduct>;
template class MsiRowEntity<UpgradeNonMsiTableDescription, MsiNonmsiUpgrade>;
template class MsiRowEntity<IsolatedComponentTableDescription, MsiIsolatedComponent>;
template class MsiRowEntity<MsiAssemblyTableDescription, MsiAssembly>;

std::int32_t packUpgradeAttributes(std::int32_t flags) {
  return ((((flags >> 3) << 8)) & 0x7FF) | (flags & 7);
}

std::int32_t unpackUpgradeAttributes(std::int32_t attributes) {
  return (((attributes >> 8) << 3) & 0x3F) | (attributes & 7);
}

bool MsiMajorUpgrade::matches(const MsiRow& row) const {
  for (std::size_t i = 0; i < 4; ++i)
    if (columnOf(row, i) != value(i)) return false;
  return toInt(columnOf(row, 4)) == packUpgradeAttributes(flags_);
}

void MsiMajorUpgrade::loadFrom(const MsiRow& row) {
  MsiRowEntity::loadFrom(row);
  flags_ = unpackUpgradeAttributes(toInt(values_[4]));
}

void MsiMajorUpgrade::writeTo(MsiRow& row) const {
  MsiRowEntity::writeTo(row);
  row.field(name(4)) = toString(packUpgradeAttributes(flags_));
}

std::u16string MsiMajorUpgrade::key() const {
  if (key_.empty()) key_ = digestKey({&value(0), &value(1), &value(2), &value(3)}, &flags_);
  return key_;
}

bool MsiRestrictedProduct::matches(const MsiRow& row) const {
  for (std::size_t i = 0; i < 3; ++i)
    if (columnOf(row, i) != value(i)) return false;
  return true;
}

std::u16string MsiRestrictedProduct::key() const {
  if (key_.empty()) key_ = digestKey({&value(0), &value(1), &value(2)});
  return key_;
}

std::int32_t MsiNonmsiUpgrade::sequence() const { return toInt(value(2)); }
void MsiNonmsiUpgrade::setSequence(std::int32_t sequence) { set(2, toString(sequence)); }

MsiComponent* MsiIsolatedComponent::sharedComponent() { return package_->find<MsiComponent>(value(0)); }
MsiComponent* MsiIsolatedComponent::applicationComponent() { return package_->find<MsiComponent>(value(1)); }

bool MsiIsolatedComponent::matches(const MsiRow& row) const {
  return columnOf(row, 0) == value(0) && columnOf(row, 1) == value(1);
}

std::u16string MsiIsolatedComponent::key() const {
  if (key_.empty() && !value(0).empty() && !value(1).empty()) key_ = digestKey({&value(0), &value(1)});
  return key_;
}

MsiComponent* MsiAssembly::component() { return package_->find<MsiComponent>(value(0)); }
MsiFeature* MsiAssembly::feature() { return package_->find<MsiFeature>(value(1)); }
MsiFile* MsiAssembly::manifestFile() { return package_->find<MsiFile>(value(2)); }
MsiFile* MsiAssembly::applicationFile() { return package_->find<MsiFile>(value(3)); }
bool MsiAssembly::isWin32Assembly() const { return toInt(value(4)) != 0; }

}  // namespace Msi
