#include "msi/entities/property.h"

#include "msi/model/error.h"
#include "msi/model/identifiers.h"
#include "msi/model/package.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x46ff7a49;

const std::u16string& columnName(std::int32_t index) {
  return Singleton<PropertyTableDescription>::instance()->columnName(index);
}

}  // namespace

MsiProperty::MsiProperty(MsiPackage* package) : MsiStorable(package->database()), package_(package) {
  if (!newIdentifier(property_)) throw Error(MSI_LOCATION, kModule, 110);
}

MsiProperty::MsiProperty(MsiPackage* package, const std::u16string& name, const std::u16string& value)
    : MsiStorable(package->database()), package_(package), property_(name), value_(value) {}

MsiProperty::MsiProperty(const MsiProperty& other, MsiPackage* package)
    : MsiStorable(package->database()), package_(package), property_(other.property_), value_(other.value_) {}

MsiProperty::MsiProperty() : MsiStorable(nullptr) {}

MsiProperty::~MsiProperty() = default;

void MsiProperty::setValue(const std::u16string& value) {
  value_ = value;
  markModified();
}

bool MsiProperty::matches(const MsiRow& row) const { return row.field(columnName(0)) == property_; }

void MsiProperty::writeTo(MsiRow& row) const {
  row.field(columnName(0)) = property_;
  row.field(columnName(1)) = value_;
}

void MsiProperty::loadFrom(const MsiRow& row) {
  property_ = row.field(columnName(0));
  value_ = row.field(columnName(1));
}

}  // namespace Msi
