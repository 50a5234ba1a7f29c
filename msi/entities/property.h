// One row of the Property table: a property name (the key) and its value.
#pragma once

#include <string>

#include "msi/model/storable.h"
#include "msi/model/table_schemas.h"

namespace Msi {

class MsiPackage;

class IMsiProperty : public IMsiObject {
 public:
  virtual const std::u16string& name() const = 0;
  virtual const std::u16string& value() const = 0;
  // Replaces the value and marks the object modified.
  virtual void setValue(const std::u16string& value) = 0;
};

class MsiProperty : public IMsiProperty, public MsiStorable<PropertyTableDescription, MsiProperty> {
 public:
  using Interface = IMsiProperty;

  // A new row with a generated name; Msi::Error 110 (module 0x46ff7a49) when no
  // UUID can be made.
  explicit MsiProperty(MsiPackage* package);
  MsiProperty(MsiPackage* package, const std::u16string& name, const std::u16string& value);
  MsiProperty(const MsiProperty& other, MsiPackage* package);
  // The scratch object of a row cursor: no package, no database.
  MsiProperty();
  ~MsiProperty() override;

  const std::u16string& name() const override { return property_; }
  const std::u16string& value() const override { return value_; }
  void setValue(const std::u16string& value) override;

  bool matches(const MsiRow& row) const override;
  void writeTo(MsiRow& row) const override;
  void loadFrom(const MsiRow& row) override;
  std::u16string key() const override { return property_; }
  MsiPackage* package() const { return package_; }

 private:
  MsiPackage* package_ = nullptr;
  std::u16string property_;
  std::u16string value_;
};

}  // namespace Msi
