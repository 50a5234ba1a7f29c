// ODBC data sources, drivers and translators a component installs, and the
// attribute rows of data sources and drivers.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "msi/entities/row_entity.h"
#include "msi/model/iterator.h"

namespace Msi {

class MsiComponent;
class MsiFile;
class MsiPackage;
class MsiODBCSourceAttribute;
class MsiODBCAttribute;

class MsiODBCDataSource : public MsiRowEntity<ODBCDataSourceTableDescription, MsiODBCDataSource> {
 public:
  using Interface = MsiODBCDataSource;
  static constexpr std::uint32_t kModule = 0xc1282b5f;
  explicit MsiODBCDataSource(MsiPackage* package) : MsiRowEntity(package) {}

  MsiComponent* component();
  const std::u16string& description() const { return value(2); }
  const std::u16string& driverDescription() const { return value(3); }
  // 0 or 1; Msi::Error 5 (module kModule) for another number.
  std::int32_t registration() const;
  void setComponent(MsiComponent* component);
  void setDescription(const std::u16string& text) { set(2, text); }
  void setDriverDescription(const std::u16string& text) { set(3, text); }
  // Msi::Error 5 (module kModule) outside 0 and 1; the stored text stays.
  void setRegistration(std::int32_t registration);
  // The ODBCSourceAttribute rows of this data source, read once.
  std::unique_ptr<MsiIterator<MsiODBCSourceAttribute>> attributes();

 private:
  std::list<std::u16string> attributeKeys_;
  bool attributesLoaded_ = false;
};

// A driver and a translator share their columns and operations.
template <class TD, class T>
class MsiODBCLibrary : public MsiRowEntity<TD, T> {
 public:
  explicit MsiODBCLibrary(MsiPackage* package) : MsiRowEntity<TD, T>(package) {}
  MsiComponent* component();
  const std::u16string& description() const { return this->value(2); }
  MsiFile* file();
  MsiFile* setupFile();
  void setComponent(MsiComponent* component);
  void setDescription(const std::u16string& text) { this->set(2, text); }
  void setFile(MsiFile* file);
  void setSetupFile(MsiFile* file);
};

class MsiODBCDriver : public MsiODBCLibrary<ODBCDriverTableDescription, MsiODBCDriver> {
 public:
  using Interface = MsiODBCDriver;
  explicit MsiODBCDriver(MsiPackage* package) : MsiODBCLibrary(package) {}
  // The ODBCAttribute rows of this driver, read once.
  std::unique_ptr<MsiIterator<MsiODBCAttribute>> attributes();

 private:
  std::list<std::u16string> attributeKeys_;
  bool attributesLoaded_ = false;
};

class MsiODBCTranslator : public MsiODBCLibrary<ODBCTranslatorTableDescription, MsiODBCTranslator> {
 public:
  using Interface = MsiODBCTranslator;
  explicit MsiODBCTranslator(MsiPackage* package) : MsiODBCLibrary(package) {}
};

// An attribute row: its key is a digest of the owner's key and the attribute
// name, fixed at its first use once both are set.
template <class TD, class T>
class MsiODBCAttributeRow : public MsiRowEntity<TD, T> {
 public:
  explicit MsiODBCAttributeRow(MsiPackage* package) : MsiRowEntity<TD, T>(package) {}
  const std::u16string& attribute() const { return this->values_[1]; }
  // Expanded against the package at each call; the stored text stays.
  std::u16string value();
  void setAttribute(const std::u16string& text) { this->set(1, text); }
  // Stored unexpanded.
  void setValue(const std::u16string& text) { this->set(2, text); }
  bool matches(const MsiRow& row) const override;
  std::u16string key() const override;

 protected:
  mutable std::u16string key_;
};

class MsiODBCSourceAttribute : public MsiODBCAttributeRow<ODBCSourceAttributeTableDescription, MsiODBCSourceAttribute> {
 public:
  using Interface = MsiODBCSourceAttribute;
  explicit MsiODBCSourceAttribute(MsiPackage* package) : MsiODBCAttributeRow(package) {}
  MsiODBCDataSource* dataSource();
  void setDataSource(MsiODBCDataSource* dataSource);
};

class MsiODBCAttribute : public MsiODBCAttributeRow<ODBCAttributeTableDescription, MsiODBCAttribute> {
 public:
  using Interface = MsiODBCAttribute;
  explicit MsiODBCAttribute(MsiPackage* package) : MsiODBCAttributeRow(package) {}
  MsiODBCDriver* driver();
  void setDriver(MsiODBCDriver* driver);
};

}  // namespace Msi
