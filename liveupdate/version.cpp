#include "liveupdate/version.h"

#include <cstdio>
#include <map>
#include <utility>

#include "core/error.h"
#include "network/uri_resource.h"

namespace LiveUpdate {
namespace {

class VersionImpl final : public Version {
 public:
  explicit VersionImpl(const std::string& text) : text_(text) {
    std::sscanf(text_.c_str(), "%d.%d.%d.%d", &n_[0], &n_[1], &n_[2], &n_[3]);
  }
  std::int32_t major() const override { return n_[0]; }
  std::int32_t minor() const override { return n_[1]; }
  std::int32_t build() const override { return n_[2]; }
  std::int32_t revision() const override { return n_[3]; }
  std::string text() const override { return text_; }

 private:
  std::string text_;
  std::int32_t n_[4] = {0, 0, 0, 0};
};

class ProductInformationImpl final : public ProductInformation {
 public:
  ProductInformationImpl(const Processor::String& name, const std::string& packageId, std::int32_t edition,
                         std::int32_t language, Processor::RefPtr<Version> version)
      : name_(name), packageId_(packageId), edition_(edition), language_(language), version_(std::move(version)) {}
  Processor::String name() const override { return name_; }
  std::string packageId() const override { return packageId_; }
  std::int32_t edition() const override { return edition_; }
  std::int32_t language() const override { return language_; }
  Processor::RefPtr<Version> version() const override { return version_; }

 private:
  Processor::String name_;
  std::string packageId_;
  std::int32_t edition_, language_;
  Processor::RefPtr<Version> version_;
};

class KnownProduct final : public Product {
 public:
  KnownProduct(Processor::RefPtr<ProductInformation> information, std::vector<Processor::RefPtr<Version>> patches)
      : information_(std::move(information)), patches_(std::move(patches)) {}
  Processor::RefPtr<ProductInformation> productInformation() const override { return information_; }
  void patchVersions(std::vector<Processor::RefPtr<Version>>& list) const override { list = patches_; }

 private:
  Processor::RefPtr<ProductInformation> information_;
  std::vector<Processor::RefPtr<Version>> patches_;
};

using IdentityKey = std::pair<std::string, std::string>;         // product code, package code
using IdentityRow = std::pair<std::string, std::string>;         // package ID, short name

// The maker's own products; configuration data shipped with the client.
void fillIdentityTable(std::map<IdentityKey, IdentityRow>& table) {
  struct Row {
    const char *product, *package, *id, *shortName;
  } static const rows[] = {
      {"{3C0F1A52-7D0E-4B8A-9B1E-0A6E2F1C4D01}", "{8E4B2C10-5A3D-4F7E-A1B2-6C9D0E1F2A01}",
       "{B1D2E3F4-0A1B-4C2D-8E3F-1A2B3C4D5E01}", "Vazedi"},
      {"{3C0F1A52-7D0E-4B8A-9B1E-0A6E2F1C4D02}", "{8E4B2C10-5A3D-4F7E-A1B2-6C9D0E1F2A02}",
       "{B1D2E3F4-0A1B-4C2D-8E3F-1A2B3C4D5E02}", "VazediServer"},
      {"{3C0F1A52-7D0E-4B8A-9B1E-0A6E2F1C4D03}", "{8E4B2C10-5A3D-4F7E-A1B2-6C9D0E1F2A03}",
       "{B1D2E3F4-0A1B-4C2D-8E3F-1A2B3C4D5E03}", "Dovecrest"},
  };
  for (const Row& r : rows) table[{r.product, r.package}] = {r.id, r.shortName};
}

struct Translation {
  const char *productCode, *packageId;
};
const Translation kProductCodeTranslation[] = {
    {"{5A1E7C20-1B2C-4D3E-9F40-7A8B9C0D1E01}", "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E01}"},
    {"{5A1E7C20-1B2C-4D3E-9F40-7A8B9C0D1E02}", "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E02}"},
    {"{5A1E7C20-1B2C-4D3E-9F40-7A8B9C0D1E03}", "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E00}"},
};
const Translation kRename = {"{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E00}", "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E03}"};

}  // namespace

Processor::RefPtr<Version> createVersion(const std::string& text) { return Processor::makeRef<VersionImpl>(text); }

int compareVersions(const Version& a, const Version& b) {
  const std::int32_t x[4] = {a.major(), a.minor(), a.build(), a.revision()};
  const std::int32_t y[4] = {b.major(), b.minor(), b.build(), b.revision()};
  for (int i = 0; i < 4; ++i)
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  return 0;
}

Processor::RefPtr<ProductInformation> createProductInformation(const Processor::String& name,
                                                               const std::string& packageId, std::int32_t edition,
                                                               std::int32_t language,
                                                               Processor::RefPtr<Version> version) {
  if (!version) throw Common::Error(KV_SITE, kFailedCheck, "version");
  return Processor::makeRef<ProductInformationImpl>(name, packageId, edition, language, std::move(version));
}

Processor::RefPtr<Product> createProduct(Processor::RefPtr<ProductInformation> information,
                                         std::vector<Processor::RefPtr<Version>> patches) {
  if (!information) throw Common::Error(KV_SITE, kFailedCheck, "productInformation");
  return Processor::makeRef<KnownProduct>(std::move(information), std::move(patches));
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

std::optional<std::string> lookupProductIdentity(const std::string& productCode, const std::string& packageCode,
                                                 const std::string& shortName) {
  static std::map<IdentityKey, IdentityRow> table;
  if (table.empty()) fillIdentityTable(table);
  auto it = table.find({productCode, packageCode});
  if (it == table.end()) return std::nullopt;
  if (!shortName.empty() && shortName != it->second.second) return std::nullopt;
  return it->second.first;
}

std::string translatePackageId(const std::string& propertyId, const std::string& productCode) {
  std::string id = propertyId;
  if (id.empty())
    for (const Translation& t : kProductCodeTranslation)
      if (equalsIgnoreCase(productCode, t.productCode)) id = t.packageId;
  if (equalsIgnoreCase(id, kRename.productCode)) id = kRename.packageId;
  return id;
}

}  // namespace LiveUpdate
