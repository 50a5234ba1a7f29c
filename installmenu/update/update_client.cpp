#include "installmenu/update/update_client.h"

#include <map>

#include "core/catalogue.h"
#include "core/error.h"
#include "core/resource_archive.h"
#include "files/file_object.h"
#include "system/number_text.h"
#include "system/regkey.h"
#include "xml/xml_node.h"

namespace InstallMenuHelper {
namespace {

[[noreturn]] void unsupported(std::uint64_t site) {
  throw Common::Error(site, LiveUpdate::kInternalError, Common::catalogueText(1294, u"Internal error."));
}

class ProductImpl final : public LiveUpdate::Product {
 public:
  explicit ProductImpl(Processor::RefPtr<LiveUpdate::ProductInformation> info) : info_(std::move(info)) {}
  Processor::RefPtr<LiveUpdate::ProductInformation> productInformation() const override { return info_; }
  void patchVersions(std::vector<Processor::RefPtr<LiveUpdate::Version>>&) const override { unsupported(KV_SITE); }

 private:
  Processor::RefPtr<LiveUpdate::ProductInformation> info_;
};

class ProtocolConfigurationImpl final : public LiveUpdate::ProtocolConfiguration {
 public:
  bool useProxy() const override { return false; }
  Processor::String proxyHost() const override { return {}; }
  std::uint16_t proxyPort() const override { return 0; }
  bool proxyAuthentication() const override { return false; }
  Processor::String proxyCredentials() const override { return {}; }
  bool reservedFlag() const override { return false; }
  void reserved7() override { unsupported(KV_SITE); }
  void reserved8() override { unsupported(KV_SITE); }
  void reserved9() override { unsupported(KV_SITE); }
  void reserved10() override { unsupported(KV_SITE); }
  void reserved11() override { unsupported(KV_SITE); }
  void reserved12() override { unsupported(KV_SITE); }
  void reserved13() override { unsupported(KV_SITE); }
};

class ProtocolConfigurationAccessorImpl final : public LiveUpdate::ProtocolConfigurationAccessor {
 public:
  Processor::RefPtr<LiveUpdate::ProtocolConfiguration> configuration(const LiveUpdate::UriResource& resource) override {
    const Processor::String scheme = resource.scheme();
    auto& kept = byScheme_[std::u16string(scheme.getBuffer(), static_cast<std::size_t>(scheme.length()))];
    if (!kept) kept = Processor::makeRef<ProtocolConfigurationImpl>();
    return kept;
  }

 private:
  std::map<std::u16string, Processor::RefPtr<LiveUpdate::ProtocolConfiguration>> byScheme_;
};

bool childText(const xml_node& root, const char* name, std::string& out) {
  const xml_node* child = root.find_child(name);
  if (!child) return false;
  const std::u16string text = child->text().str();
  out.assign(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i] & 0xFF);
  return true;
}

bool childNumber(const xml_node& root, const char* name, std::int32_t& out) {
  const xml_node* child = root.find_child(name);
  if (!child) return false;
  std::uint64_t value;
  if (!Common::parseNumberW(&value, child->text().str().c_str(), 10)) return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

}  // namespace

Processor::RefPtr<LiveUpdate::ProductInformation> productFromDescriptor(const xml_document& document) {
  const xml_node* root = document.root();
  if (!root || root->name() != "updateInfo") return nullptr;
  std::string packageId, version;
  std::int32_t edition = 0, language = 0;
  if (!childText(*root, "packageID", packageId) || !childNumber(*root, "edition", edition) ||
      !childNumber(*root, "language", language) || !childText(*root, "version", version))
    return nullptr;
  return LiveUpdate::createProductInformation(Processor::String(), packageId, edition, language,
                                              LiveUpdate::createVersion(version));
}

Processor::RefPtr<LiveUpdate::ProductInformation> readPackageDescriptor(const std::u16string& name) {
  const std::u16string member = name + u".xml";
  std::unique_ptr<ri_file> file(Common::openArchivedFile(member.c_str()));
  if (!file || file->Bad()) return nullptr;
  xml_document document;
  if (!document.load(*file)) return nullptr;
  file.reset();
  return productFromDescriptor(document);
}

bool checkPackageDescriptor(const std::u16string& name) { return static_cast<bool>(readPackageDescriptor(name)); }

Processor::RefPtr<LiveUpdate::Product> createProductImpl(Processor::RefPtr<LiveUpdate::ProductInformation> info) {
  return Processor::makeRef<ProductImpl>(std::move(info));
}

Processor::RefPtr<LiveUpdate::ProtocolConfigurationAccessor> createProtocolConfigurationAccessor() {
  return Processor::makeRef<ProtocolConfigurationAccessorImpl>();
}

std::u16string readServerUrlOverride() {
  std::unique_ptr<Common::RegKey> root, key;
  if (Common::openRegRoot(root, HKEY_LOCAL_MACHINE, true, 0).code() || !root) return {};
  if (root->openKey(u"SOFTWARE\\Korvane\\Update\\Debug", key).code() || !key) return {};
  Common::RegValue::Data data;
  if (Common::readRegValue(*key, u"ServerUrl", data).code()) return {};
  if (const auto* text = boost::get<std::u16string>(&data)) return *text;
  return {};
}

std::u16string updateServerAddress() {
  std::u16string address = u"https://update.korvane.com";
  std::u16string override = readServerUrlOverride();
  if (!override.empty()) address = override;
  return address;
}

}  // namespace InstallMenuHelper
