#include "liveupdate/installed.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "core/catalogue.h"
#include "core/error.h"
#include "msi/entities/property.h"
#include "msi/model/package.h"
#include "platform/win32/windows.h"
#include "msi/model/products.h"
#include "network/uri_resource.h"
#include "platform/msi/engine.h"
#include "xml/xml_node.h"

namespace LiveUpdate {
namespace {

std::string narrowOf(const std::u16string& s) { return win32::utf16_to_utf8(s); }

// As _wtoi: blanks, a sign, decimal digits; 0 without digits.
std::int32_t wideToInt(const std::u16string& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || (s[i] >= u'\t' && s[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  std::int64_t n = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    n = n * 10 + (s[i] - u'0');
    if (n > 0x80000000LL) n = 0x80000000LL;
  }
  n = negative ? -n : n;
  return static_cast<std::int32_t>(std::max<std::int64_t>(std::min<std::int64_t>(n, 0x7FFFFFFF), -0x7FFFFFFFLL - 1));
}

// The applied patches' versions, in the installer's order; best effort.
std::vector<Processor::RefPtr<Version>> patchVersionsOf(const std::u16string& productCode) {
  std::vector<Processor::RefPtr<Version>> out;
  for (DWORD index = 0;; ++index) {
    WCHAR patch[40] = {0};
    WCHAR transforms[1] = {0};
    DWORD room = 1;
    UINT r = MsiEnumPatchesW(productCode.c_str(), index, patch, transforms, &room);
    if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) break;
    std::vector<WCHAR> local(1, 0);
    DWORD size = 0;
    r = MsiGetPatchInfoW(patch, u"LocalPackage", local.data(), &size);
    while (r == ERROR_MORE_DATA) {
      local.assign(static_cast<std::size_t>(size) + 1, 0);
      size += 1;
      r = MsiGetPatchInfoW(patch, u"LocalPackage", local.data(), &size);
    }
    if (r != ERROR_SUCCESS) continue;
    if (auto version = versionFromPatch(std::u16string(local.data()))) out.push_back(version);
  }
  return out;
}

}  // namespace

Processor::RefPtr<Product> makeInstalledProduct(const Msi::IMsiProduct* product) {
  if (!product) throw Common::Error(KV_SITE, kFailedCheck, "msiProduct");
  auto version = createVersion(narrowOf(product->info(Msi::ProductInfo::VersionString)));
  Processor::String name(product->info(Msi::ProductInfo::InstalledProductName).c_str());
  std::u16string productCode = product->productCode();
  std::u16string localPackage = product->info(Msi::ProductInfo::LocalPackage);

  // Four properties and the package code are all that is needed: the package
  // is opened read-only and only its Property rows are read.
  std::unique_ptr<Msi::MsiPackage> package = Msi::MsiPackage::openProperties(localPackage);
  if (!package) throw Common::Error(KV_SITE, kFailedCheck, "msiPackage.get()");
  std::string packageId = packageIdFromPackage(*package, narrowOf(productCode));
  Msi::IMsiProperty* language = package->property(u"MsigenProductLanguage", false);
  Msi::IMsiProperty* edition = package->property(u"MsigenProductEdition", false);
  if (!language || !edition) throw Common::Error(KV_SITE, kFailedCheck, "prop");
  auto information = createProductInformation(name, packageId, wideToInt(edition->value()),
                                              wideToInt(language->value()), version);
  std::vector<Processor::RefPtr<Version>> patches = patchVersionsOf(productCode);
  package.reset();
  return createProduct(std::move(information), std::move(patches));
}

void enumerateInstalledProducts(std::vector<Processor::RefPtr<Product>>& list) {
  list.clear();
  std::unique_ptr<Msi::IMsiIterator<Msi::IMsiProduct>> products = Msi::enumerateProducts();
  const std::u16string maker = Common::catalogueText(275, u"Korvane");
  for (bool more = products->reset(); more; products->next(), more = products->valid()) {
    Msi::IMsiProduct* product = products->current();
    try {
      if (product->info(Msi::ProductInfo::Publisher) != maker) continue;
    } catch (const Common::Error&) {
      continue;
    }
    try {
      list.push_back(makeInstalledProduct(product));
    } catch (const Common::Error&) {
    } catch (int) {
    }
  }
}

std::string packageIdFromPackage(Msi::IMsiPackage& package, const std::string& productCode) {
  Msi::IMsiProperty* own = package.property(u"MsigenProductId", false);
  std::string id = translatePackageId(own ? narrowOf(own->value()) : std::string(), productCode);
  if (!id.empty()) return id;
  Msi::IMsiProperty* shortName = package.property(u"ProductShortName", false);
  Msi::IMsiSummary* summary = package.summary();
  if (!summary) throw Common::Error(KV_SITE, kFailedCheck, "summary");
  auto found = lookupProductIdentity(productCode, narrowOf(summary->revisionNumber()),
                                     shortName ? narrowOf(shortName->value()) : std::string());
  return found ? *found : std::string();
}

Processor::RefPtr<Version> versionFromPatch(const std::u16string& path) {
  DWORD size = 0;
  UINT r = MsiExtractPatchXMLDataW(path.c_str(), 0, nullptr, &size);
  if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) return nullptr;
  std::u16string xml(static_cast<std::size_t>(size) + 1, u'\0');
  DWORD room = size + 1;
  if (MsiExtractPatchXMLDataW(path.c_str(), 0, xml.data(), &room) != ERROR_SUCCESS) return nullptr;
  xml.resize(std::min<std::size_t>(room, xml.size()));
  std::string text = narrowOf(xml);
  xml_document document;
  if (!document.load_memory(text.data(), text.size()) || !document.root()) return nullptr;
  const xml_node* root = document.root();
  if (!(root->name() == "MsiPatch")) return nullptr;
  const xml_node* target = root->find_child("TargetProduct");
  const xml_node* updated = target ? target->find_child("UpdatedVersion") : nullptr;
  if (!updated) return nullptr;
  std::string version;
  for (const auto& piece : updated->pieces())
    for (char16_t c : piece) version += static_cast<char>(c & 0xFF);
  return createVersion(version);
}

}  // namespace LiveUpdate
