#include "msi/entities/odbc.h"

#include "msi/entities/com.h"
#include "msi/entities/formatted_string.h"
#include "msi/entities/resources.h"
#include "msi/entities/row_entity_impl.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/text.h"

namespace Msi {

template class MsiRowEntity<ODBCDataSourceTableDescription, MsiODBCDataSource>;
template class MsiRowEntity<ODBCDriverTableDescription, MsiODBCDriver>;
template class MsiRowEntity<ODBCTranslatorTableDescription, MsiODBCTranslator>;
template class MsiRowEntity<ODBCSourceAttributeTableDescription, MsiODBCSourceAttribute>;
template class MsiRowEntity<ODBCAttributeTableDescription, MsiODBCAttribute>;

namespace {

std::u16string keyOf(MsiComponent* component) { return component ? component->key() : std::u16string(); }
std::u16string keyOf(MsiFile* file) { return file ? file->key() : std::u16string(); }

template <class T>
void loadOnce(bool& loaded, MsiPackage* package, const std::u16string& column, const std::u16string& value,
              std::list<std::u16string>& keys) {
  if (loaded) return;
  loadLinkedKeys<T>(package, column, value, keys);
  loaded = true;
}

}  // namespace

MsiComponent* MsiODBCDataSource::component() { return package_->find<MsiComponent>(value(1)); }

std::int32_t MsiODBCDataSource::registration() const {
  std::int32_t r = toInt(value(4));
  if (r != 0 && r != 1) throw Error(MSI_LOCATION, kModule, 5, u"ODBC registration " + value(4));
  return r;
}

void MsiODBCDataSource::setComponent(MsiComponent* component) { set(1, keyOf(component)); }

void MsiODBCDataSource::setRegistration(std::int32_t registration) {
  if (registration != 0 && registration != 1)
    throw Error(MSI_LOCATION, kModule, 5, u"ODBC registration " + toString(registration));
  set(4, toString(registration));
}

std::unique_ptr<MsiIterator<MsiODBCSourceAttribute>> MsiODBCDataSource::attributes() {
  loadOnce<MsiODBCSourceAttribute>(attributesLoaded_, package_, u"DataSource_", key(), attributeKeys_);
  return std::make_unique<MsiIterator<MsiODBCSourceAttribute>>(package_, &attributeKeys_);
}

template <class TD, class T>
MsiComponent* MsiODBCLibrary<TD, T>::component() {
  return this->package_->template find<MsiComponent>(this->value(1));
}
template <class TD, class T>
MsiFile* MsiODBCLibrary<TD, T>::file() {
  return this->package_->template find<MsiFile>(this->value(3));
}
template <class TD, class T>
MsiFile* MsiODBCLibrary<TD, T>::setupFile() {
  return this->package_->template find<MsiFile>(this->value(4));
}
template <class TD, class T>
void MsiODBCLibrary<TD, T>::setComponent(MsiComponent* component) {
  this->set(1, keyOf(component));
}
template <class TD, class T>
void MsiODBCLibrary<TD, T>::setFile(MsiFile* file) {
  this->set(3, keyOf(file));
}
template <class TD, class T>
void MsiODBCLibrary<TD, T>::setSetupFile(MsiFile* file) {
  this->set(4, keyOf(file));
}
template class MsiODBCLibrary<ODBCDriverTableDescription, MsiODBCDriver>;
template class MsiODBCLibrary<ODBCTranslatorTableDescription, MsiODBCTranslator>;

std::unique_ptr<MsiIterator<MsiODBCAttribute>> MsiODBCDriver::attributes() {
  loadOnce<MsiODBCAttribute>(attributesLoaded_, package_, u"Driver_", key(), attributeKeys_);
  return std::make_unique<MsiIterator<MsiODBCAttribute>>(package_, &attributeKeys_);
}

template <class TD, class T>
std::u16string MsiODBCAttributeRow<TD, T>::value() {
  return MsiFormattedString(this->package_, this->values_[2]).format();
}

template <class TD, class T>
bool MsiODBCAttributeRow<TD, T>::matches(const MsiRow& row) const {
  return this->columnOf(row, 0) == this->values_[0] && this->columnOf(row, 1) == this->values_[1];
}

template <class TD, class T>
std::u16string MsiODBCAttributeRow<TD, T>::key() const {
  // Fixed once made: a later change of either column keeps the object where
  // the package registered it.
  if (key_.empty() && !this->values_[0].empty() && !this->values_[1].empty())
    key_ = digestKey({&this->values_[0], &this->values_[1]});
  return key_;
}
template class MsiODBCAttributeRow<ODBCSourceAttributeTableDescription, MsiODBCSourceAttribute>;
template class MsiODBCAttributeRow<ODBCAttributeTableDescription, MsiODBCAttribute>;

MsiODBCDataSource* MsiODBCSourceAttribute::dataSource() { return package_->find<MsiODBCDataSource>(values_[0]); }
void MsiODBCSourceAttribute::setDataSource(MsiODBCDataSource* dataSource) {
  set(0, dataSource ? dataSource->key() : std::u16string());
}

MsiODBCDriver* MsiODBCAttribute::driver() { return package_->find<MsiODBCDriver>(values_[0]); }
void MsiODBCAttribute::setDriver(MsiODBCDriver* driver) { set(0, driver ? driver->key() : std::u16string()); }

}  // namespace Msi
