// How a package relates to other products and shares components: upgrades,
// restricted products, upgrades of products not installed by the installer,
// isolated components and assemblies.
#pragma once

#include <cstdint>
#include <string>

#include "msi/entities/row_entity.h"

namespace Msi {

class MsiComponent;
class MsiFeature;
class MsiFile;
class MsiPackage;

// Model flags (0x01 migrate features, 0x02 only detect, 0x04 ignore a failed
// removal, 0x08 VersionMin inclusive, 0x10 VersionMax inclusive, 0x20
// languages exclusive) to and from the Attributes bits; other bits drop.
std::int32_t packUpgradeAttributes(std::int32_t flags);
std::int32_t unpackUpgradeAttributes(std::int32_t attributes);

class MsiMajorUpgrade : public MsiRowEntity<UpgradeTableDescription, MsiMajorUpgrade> {
 public:
  using Interface = MsiMajorUpgrade;
  explicit MsiMajorUpgrade(MsiPackage* package) : MsiRowEntity(package) {}

  const std::u16string& upgradeCode() const { return value(0); }
  const std::u16string& versionMin() const { return value(1); }
  const std::u16string& versionMax() const { return value(2); }
  const std::u16string& language() const { return value(3); }
  std::int32_t attributes() const { return flags_; }
  const std::u16string& remove() const { return value(5); }
  const std::u16string& actionProperty() const { return value(6); }
  void setUpgradeCode(const std::u16string& text) { set(0, text); }
  void setVersionMin(const std::u16string& text) { set(1, text); }
  void setVersionMax(const std::u16string& text) { set(2, text); }
  void setLanguage(const std::u16string& text) { set(3, text); }
  // Stored unchanged; only the six flag bits are written.
  void setAttributes(std::int32_t flags) {
    flags_ = flags;
    this->markModified();
  }
  void setRemove(const std::u16string& text) { set(5, text); }
  void setActionProperty(const std::u16string& text) { set(6, text); }
  std::int32_t userNumber() const { return userNumber_; }
  void setUserNumber(std::int32_t n) { userNumber_ = n; }

  // Msi::toInt's error for an Attributes that is not a number.
  bool matches(const MsiRow& row) const override;
  void loadFrom(const MsiRow& row) override;
  void writeTo(MsiRow& row) const override;
  // A digest of the four texts and the flags, fixed at its first use.
  std::u16string key() const override;

 private:
  std::int32_t flags_ = 0;
  std::int32_t userNumber_ = 1;
  mutable std::u16string key_;
};

class MsiRestrictedProduct : public MsiRowEntity<RestrictedProductsTableDescription, MsiRestrictedProduct> {
 public:
  using Interface = MsiRestrictedProduct;
  explicit MsiRestrictedProduct(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& upgradeCode() const { return value(0); }
  const std::u16string& versionMin() const { return value(1); }
  const std::u16string& versionMax() const { return value(2); }
  const std::u16string& actionProperty() const { return value(3); }
  void setUpgradeCode(const std::u16string& text) { set(0, text); }
  void setVersionMin(const std::u16string& text) { set(1, text); }
  void setVersionMax(const std::u16string& text) { set(2, text); }
  void setActionProperty(const std::u16string& text) { set(3, text); }
  bool matches(const MsiRow& row) const override;
  std::u16string key() const override;

 private:
  mutable std::u16string key_;
};

class MsiNonmsiUpgrade : public MsiRowEntity<UpgradeNonMsiTableDescription, MsiNonmsiUpgrade> {
 public:
  using Interface = MsiNonmsiUpgrade;
  explicit MsiNonmsiUpgrade(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& product() const { return value(0); }
  const std::u16string& action() const { return value(1); }
  std::int32_t sequence() const;
  void setProduct(const std::u16string& text) { set(0, text); }
  void setAction(const std::u16string& text) { set(1, text); }
  void setSequence(std::int32_t sequence);
};

class MsiIsolatedComponent : public MsiRowEntity<IsolatedComponentTableDescription, MsiIsolatedComponent> {
 public:
  using Interface = MsiIsolatedComponent;
  explicit MsiIsolatedComponent(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& sharedComponentKey() const { return value(0); }
  const std::u16string& applicationComponentKey() const { return value(1); }
  MsiComponent* sharedComponent();
  MsiComponent* applicationComponent();
  bool matches(const MsiRow& row) const override;
  // Empty until both keys are filled.
  std::u16string key() const override;

 private:
  mutable std::u16string key_;
};

class MsiAssembly : public MsiRowEntity<MsiAssemblyTableDescription, MsiAssembly> {
 public:
  using Interface = MsiAssembly;
  explicit MsiAssembly(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& componentKey() const { return value(0); }
  MsiComponent* component();
  MsiFeature* feature();
  MsiFile* manifestFile();
  MsiFile* applicationFile();
  // Attributes 1; Msi::toInt's error for an empty or non-numeric text.
  bool isWin32Assembly() const;
};

}  // namespace Msi
