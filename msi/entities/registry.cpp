#include "msi/entities/registry.h"

#include "msi/entities/formatted_string.h"
#include "msi/model/error.h"
#include "msi/model/identifiers.h"
#include "msi/model/package.h"
#include "msi/model/text.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x307eec77;

const std::u16string& columnName(std::int32_t index) {
  return Singleton<RegistryTableDescription>::instance()->columnName(index);
}

bool startsWith(const std::u16string& text, const char16_t* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::int32_t registryValueType(const std::u16string& expanded) {
  if (startsWith(expanded, u"#x")) return 4;
  if (startsWith(expanded, u"#%") || startsWith(expanded, u"##")) return 0;
  if (startsWith(expanded, u"#")) return 1;
  if (expanded.find(u"[~]") != std::u16string::npos) return 3;
  return 0;
}

std::u16string registryValueText(const std::u16string& expanded) {
  if (startsWith(expanded, u"#x") || startsWith(expanded, u"#%")) return expanded.substr(2);
  if (startsWith(expanded, u"#")) return expanded.substr(1);
  return expanded;
}

MsiRegistry::MsiRegistry(MsiPackage* package) : MsiStorable(package->database()), package_(package) {
  if (!newIdentifier(key_)) throw Error(MSI_LOCATION, kModule, 110);
}

MsiRegistry::MsiRegistry(MsiPackage* package, const std::u16string& key)
    : MsiStorable(package->database()), key_(key), package_(package) {}

std::u16string MsiRegistry::keyPath() { return MsiFormattedString(package_, keyPath_).format(); }
std::u16string MsiRegistry::name() { return MsiFormattedString(package_, name_).format(); }
std::u16string MsiRegistry::value() { return registryValueText(MsiFormattedStringExt(package_, value_).format()); }
std::int32_t MsiRegistry::valueType() { return registryValueType(MsiFormattedStringExt(package_, value_).format()); }

void MsiRegistry::setRoot(std::int32_t root) {
  root_ = root;
  markModified();
}
void MsiRegistry::setKeyPath(const std::u16string& text) {
  keyPath_ = text;
  markModified();
}
void MsiRegistry::setName(const std::u16string& text) {
  name_ = text;
  markModified();
}
void MsiRegistry::setValue(const std::u16string& text) {
  value_ = text;
  markModified();
}

void MsiRegistry::setComponent(const std::u16string& componentKey) {
  if (!component_.empty()) throw Error(MSI_LOCATION, kModule, 70);
  component_ = componentKey;
  markModified();
}

bool MsiRegistry::matches(const MsiRow& row) const { return row.field(columnName(0)) == key_; }

void MsiRegistry::loadFrom(const MsiRow& row) {
  key_ = row.field(columnName(0));
  std::int32_t root = toInt(row.field(columnName(1)));
  root_ = root >= 0 && root <= 3 ? root : 4;
  keyPath_ = row.field(columnName(2));
  name_ = row.field(columnName(3));
  value_ = row.field(columnName(4));
  component_ = row.field(columnName(5));
}

void MsiRegistry::writeTo(MsiRow& row) const {
  row.field(columnName(0)) = key_;
  row.field(columnName(1)) = root_ >= 0 && root_ <= 3 ? toString(root_) : std::u16string(u"-1");
  row.field(columnName(2)) = keyPath_;
  row.field(columnName(3)) = name_;
  row.field(columnName(4)) = value_;
  row.field(columnName(5)) = component_;
}

}  // namespace Msi
