#include "msi/model/products.h"

#include <list>
#include <vector>

#include "core/error.h"
#include "platform/msi/engine.h"

namespace Msi {
namespace {

// A Common::Error whose only record is the system-error record of the code.
Common::Error installerError(UINT code) {
  const std::int32_t hr = static_cast<std::int32_t>((code & 0xFFFFu) | 0x80070000u);
  return Common::Error(Common::makeSystemErrorRecord(KV_SITE, code == 0 ? 0 : hr));
}

class ProductIteratorImpl final : public IMsiIterator<IMsiProduct> {
 public:
  explicit ProductIteratorImpl(const std::list<MsiProductImpl>& products) : products_(products) { reset(); }
  bool reset() override {
    cursor_ = products_.begin();
    valid_ = cursor_ != products_.end();
    return valid_;
  }
  void next() override {
    if (!valid_) return;
    if (++cursor_ == products_.end()) valid_ = false;
  }
  bool valid() const override { return valid_; }
  IMsiProduct* current() override { return valid_ ? &*cursor_ : nullptr; }

 private:
  std::list<MsiProductImpl> products_;
  std::list<MsiProductImpl>::iterator cursor_;
  bool valid_ = false;
};

}  // namespace

const char16_t* productInfoName(ProductInfo info) {
  static const char16_t* const names[] = {
      u"HelpLink",     u"HelpTelephone", u"InstallDate",   u"InstalledProductName", u"InstallLocation",
      u"InstallSource", u"LocalPackage", u"Publisher",     u"URLInfoAbout",         u"URLUpdateInfo",
      u"VersionMinor", u"VersionMajor",  u"VersionString", u"ProductID",            u"RegCompany",
      u"RegOwner",     u"AssignmentType"};
  auto i = static_cast<unsigned>(info);
  return i < std::size(names) ? names[i] : u"";
}

InstallState featureStateOf(int state) {
  switch (state) {
    case INSTALLSTATE_ADVERTISED: return InstallState::AdvertisedFeature;
    case INSTALLSTATE_ABSENT: return InstallState::Absent;
    case INSTALLSTATE_LOCAL: return InstallState::Local;
    case INSTALLSTATE_SOURCE: return InstallState::Source;
    case INSTALLSTATE_INVALIDARG: return InstallState::InvalidFeature;
    default: return InstallState::Unknown;
  }
}

InstallState componentStateOf(int state) {
  switch (state) {
    case INSTALLSTATE_ADVERTISED: return InstallState::AdvertisedComponent;
    case INSTALLSTATE_ABSENT: return InstallState::Absent;
    case INSTALLSTATE_LOCAL: return InstallState::Local;
    case INSTALLSTATE_SOURCE: return InstallState::Source;
    case INSTALLSTATE_DEFAULT: return InstallState::DefaultComponent;
    default: return InstallState::Unknown;
  }
}

std::u16string MsiProductImpl::info(ProductInfo info) const {
  const char16_t* name = productInfoName(info);
  DWORD size = 0;
  UINT r = MsiGetProductInfoW(productCode_.c_str(), name, nullptr, &size);
  if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) throw installerError(r);
  std::vector<WCHAR> buffer(static_cast<std::size_t>(size) + 1, 0);
  DWORD room = size + 1;
  r = MsiGetProductInfoW(productCode_.c_str(), name, buffer.data(), &room);
  if (r != ERROR_SUCCESS) throw installerError(r);
  return std::u16string(buffer.data());
}

InstallState MsiProductImpl::componentState(const std::u16string& componentCode) const {
  return componentStateOf(MsiGetComponentPathW(productCode_.c_str(), componentCode.c_str(), nullptr, nullptr));
}

InstallState MsiProductImpl::featureState(const std::u16string& feature) const {
  return featureStateOf(MsiQueryFeatureStateW(productCode_.c_str(), feature.c_str()));
}

std::unique_ptr<IMsiIterator<IMsiProduct>> enumerateProducts() {
  std::list<MsiProductImpl> products;
  for (DWORD index = 0;; ++index) {
    WCHAR code[40] = {0};
    UINT r = MsiEnumProductsW(index, code);
    if (r == ERROR_SUCCESS) {
      products.emplace_back(std::u16string(code));
      continue;
    }
    if (r == ERROR_NO_MORE_ITEMS) break;
    throw installerError(r);
  }
  return std::make_unique<ProductIteratorImpl>(products);
}

}  // namespace Msi
