// The products the installer has registered on the machine, read-only: each
// answers its product code, its registered properties and the installed state
// of its features and components. Nothing here opens a package.
#pragma once

#include <memory>
#include <string>

#include "msi/model/iterator.h"

namespace Msi {

enum class ProductInfo {
  HelpLink = 0,
  HelpTelephone = 1,
  InstallDate = 2,
  InstalledProductName = 3,
  InstallLocation = 4,
  InstallSource = 5,
  LocalPackage = 6,
  Publisher = 7,
  URLInfoAbout = 8,
  URLUpdateInfo = 9,
  VersionMinor = 10,
  VersionMajor = 11,
  VersionString = 12,
  ProductID = 13,
  RegCompany = 14,
  RegOwner = 15,
  AssignmentType = 16,
};

// 0 absent, 1 advertised feature, 2 component in its default state, 3 invalid
// feature argument, 4 local, 5 advertised component, 6 run from source, 7 unknown.
enum class InstallState {
  Absent = 0,
  AdvertisedFeature = 1,
  DefaultComponent = 2,
  InvalidFeature = 3,
  Local = 4,
  AdvertisedComponent = 5,
  Source = 6,
  Unknown = 7,
};

// The installer's name of the property; empty for a value outside the table.
const char16_t* productInfoName(ProductInfo info);
// The installer's INSTALLSTATE results as each query reports them.
InstallState featureStateOf(int installState);
InstallState componentStateOf(int installState);

class IMsiProduct {
 public:
  virtual ~IMsiProduct() = default;
  // Exactly as the installer enumerated it.
  virtual const std::u16string& productCode() const = 0;
  // Throws Common::Error with the installer's code as its system-error record.
  virtual std::u16string info(ProductInfo info) const = 0;
  // Never throw: a failure is Unknown (or InvalidFeature).
  virtual InstallState componentState(const std::u16string& componentCode) const = 0;
  virtual InstallState featureState(const std::u16string& feature) const = 0;
};

class MsiProductImpl final : public IMsiProduct {
 public:
  explicit MsiProductImpl(std::u16string productCode) : productCode_(std::move(productCode)) {}
  const std::u16string& productCode() const override { return productCode_; }
  std::u16string info(ProductInfo info) const override;
  InstallState componentState(const std::u16string& componentCode) const override;
  InstallState featureState(const std::u16string& feature) const override;

 private:
  std::u16string productCode_;
};

// Every registered product, in the installer's order; the iterator stands on
// the first. Throws Common::Error (the installer's code as its system-error
// record) when the enumeration fails, with no partial list.
std::unique_ptr<IMsiIterator<IMsiProduct>> enumerateProducts();

}  // namespace Msi
