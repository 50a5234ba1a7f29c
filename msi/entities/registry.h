// One row of the Registry table: a value a component writes. Key path, name
// and value are kept as stored and expanded against the package when read.
#pragma once

#include <string>

#include "msi/model/storable.h"
#include "msi/model/table_schemas.h"

namespace Msi {

class MsiPackage;

class IMsiRegistry {
 public:
  virtual std::u16string key() const = 0;
  // 0 to 3 as the Root column; 4 for -1 (per user or per machine) and any other.
  virtual std::int32_t root() const = 0;
  virtual std::u16string keyPath() = 0;
  virtual std::u16string name() = 0;
  // The expanded value without its type prefix.
  virtual std::u16string value() = 0;
  // 4 binary (#x), 1 integer (#), 3 multi-string ([~]), 0 text (#%, ## and the rest).
  virtual std::int32_t valueType() = 0;
  virtual void setRoot(std::int32_t root) = 0;
  virtual void setKeyPath(const std::u16string& text) = 0;
  virtual void setName(const std::u16string& text) = 0;
  virtual void setValue(const std::u16string& text) = 0;
  virtual ~IMsiRegistry() = default;
};

class MsiRegistry : public IMsiRegistry, public MsiStorable<RegistryTableDescription, MsiRegistry> {
 public:
  using Interface = IMsiRegistry;

  // A generated key; Msi::Error 110 (module 0x307eec77) when none can be made.
  explicit MsiRegistry(MsiPackage* package);
  MsiRegistry(MsiPackage* package, const std::u16string& key);

  std::u16string key() const override { return key_; }
  std::int32_t root() const override { return root_; }
  std::u16string keyPath() override;
  std::u16string name() override;
  std::u16string value() override;
  std::int32_t valueType() override;
  void setRoot(std::int32_t root) override;
  void setKeyPath(const std::u16string& text) override;
  void setName(const std::u16string& text) override;
  void setValue(const std::u16string& text) override;
  // Msi::Error 70 (module 0x307eec77) when the row has a component already.
  void setComponent(const std::u16string& componentKey);
  const std::u16string& componentKey() const { return component_; }
  const std::u16string& storedValue() const { return value_; }

  bool matches(const MsiRow& row) const override;
  // Msi::Error 5 (module 0x5058087b) for a Root that is not a number.
  void loadFrom(const MsiRow& row) override;
  void writeTo(MsiRow& row) const override;

 private:
  std::u16string key_;
  std::int32_t root_ = 4;
  std::u16string keyPath_, name_, value_, component_;
  MsiPackage* package_;
};

// The type and the prefix-free text of an expanded registry value.
std::int32_t registryValueType(const std::u16string& expanded);
std::u16string registryValueText(const std::u16string& expanded);

}  // namespace Msi
