#include "msi/entities/actions.h"

#include "msi/entities/formatted_string.h"
#include "msi/entities/row_entity_impl.h"
#include "msi/model/error.h"
#include "msi/model/identifiers.h"
#include "msi/model/text.h"

namespace Msi {

template class MsiRowEntity<BinaryTableDescription, MsiBinary>;
template class MsiRowEntity<CustomActionTableDescription, MsiCustomAction>;
template class MsiRowEntity<InstallExecuteSequenceTableDescription, MsiInstallExecuteSequence>;

namespace {

std::u16string generated(std::uint32_t module) {
  std::u16string key;
  if (!newIdentifier(key)) throw Error(MSI_LOCATION, module, 110);
  return key;
}

}  // namespace

MsiBinary::MsiBinary(MsiPackage* package) : MsiRowEntity(package) {}

MsiBinary::MsiBinary(MsiPackage* package, const std::u16string& path) : MsiRowEntity(package) {
  values_[0] = generated(0x9b129003);
  values_[1] = path;
}

void MsiBinary::loadFrom(const MsiRow& row) {
  values_[0] = columnOf(row, 0);
  values_[1].clear();
}

void MsiBinary::save(int flags) {
  if (data().empty()) {
    // Writing the row now would replace its stream with nothing.
    unmarkModified();
    afterSave(flags);
    return;
  }
  MsiRowEntity::save(flags);
}

MsiCustomAction::MsiCustomAction(MsiPackage* package) : MsiRowEntity(package) {}

MsiCustomAction::MsiCustomAction(MsiPackage* package, std::int32_t type, const std::u16string& name)
    : MsiRowEntity(package), type_(type) {
  values_[0] = name.empty() ? generated(0xe32fbd6a) : name;
  values_[1] = toString(type_);
}

void MsiCustomAction::setContinue(bool on) {
  type_ = on ? (type_ | 0x40) : (type_ & ~0x40);
  values_[1] = toString(type_);
  markModified();
}

void MsiCustomAction::loadFrom(const MsiRow& row) {
  MsiRowEntity::loadFrom(row);
  // A damaged package's null Type reads as a plain action and is written back null.
  type_ = values_[1].empty() ? 0 : toInt(values_[1]);
}

MsiCustomActionDll::MsiCustomActionDll(MsiPackage* package, const std::u16string& name, MsiBinary* dll)
    : MsiCustomAction(package, 1, name) {
  values_[2] = dll ? dll->name() : std::u16string();
}

std::u16string MsiCustomActionDll::expandedTarget() { return MsiFormattedString(package_, target()).format(); }

MsiCustomAction* createCustomActionForRow(const MsiRow& row, MsiPackage* package) {
  const std::u16string& type = row.field(Singleton<CustomActionTableDescription>::instance()->columnName(1));
  std::unique_ptr<MsiCustomAction> object;
  if (!type.empty() && (toInt(type) & 0x01)) {
    // The generated key stands only until the row's name replaces it.
    object = std::make_unique<MsiCustomActionDll>(package, std::u16string(u"_"), nullptr);
  } else {
    object = std::make_unique<MsiCustomAction>(package);
  }
  object->loadFrom(row);
  return object.release();
}

template <>
MsiCustomAction* createFromRow<MsiCustomAction>(const MsiRow& row, MsiPackage* package) {
  return createCustomActionForRow(row, package);
}

std::int32_t MsiInstallExecuteSequence::sequence() const { return toInt(value(2)); }

}  // namespace Msi
