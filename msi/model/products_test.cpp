#include "msi/model/products.h"

#include <map>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "core/error.h"
#include "platform/msi/engine.h"
#include "platform/msi/msi_fixture.h"
#include "platform/win32/windows.h"

namespace {

using msi_test::narrow;
using Msi::InstallState;
using Msi::ProductInfo;

const char kDemo[] = "{12345678-1234-1234-1234-123456789ABC}";
const char kSmall[] = "{11111111-2222-3333-4444-555555555555}";

std::map<std::string, std::string> exportedProperties(const std::string& msi) {
  std::map<std::string, std::string> out;
  std::istringstream in(msi_test::exportTable(msi, "Property"));
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t tab = line.find('\t');
    if (n >= 3 && tab != std::string::npos) out[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return out;
}

// What the engine stored for the product, read from the store directly.
std::map<std::string, std::string> storedRegistration(const std::string& code) {
  std::u16string key = u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Products\\";
  for (char ch : code) key += static_cast<char16_t>(ch);
  std::map<std::string, std::string> out;
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return out;
  std::u16string data(4096, u'\0');
  DWORD size = static_cast<DWORD>(data.size() * 2), type = 0;
  if (RegQueryValueExW(h, u"Properties", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
      ERROR_SUCCESS) {
    data.resize(size / 2);
    std::size_t at = 0;
    while (at < data.size()) {
      std::size_t end = data.find(u'\0', at);
      if (end == std::u16string::npos) end = data.size();
      std::string entry = narrow(data.substr(at, end - at));
      std::size_t eq = entry.find('=');
      if (eq != std::string::npos) out.emplace(entry.substr(0, eq), entry.substr(eq + 1));
      at = end + 1;
    }
  }
  RegCloseKey(h);
  return out;
}

class InstalledProducts : public msi_test::PackageWorld {};

TEST_F(InstalledProducts, NoRegisteredProductsGiveAnEmptyIterator) {
  auto it = Msi::enumerateProducts();
  ASSERT_TRUE(it);
  EXPECT_FALSE(it->valid());
  EXPECT_FALSE(it->reset());
  EXPECT_FALSE(it->valid());
}

TEST_F(InstalledProducts, TwoInstalledPackagesAnswerTheirPropertiesAsTheirTablesAndTheEngineSay) {
  std::string demo = buildWix(), small = buildSmall();
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u"USERNAME=Ann COMPANYNAME=Ann ALLUSERS=1"), 0u);
  ASSERT_EQ(MsiInstallProductW(windowsPackage("small.msi").c_str(), u""), 0u);

  std::map<std::string, std::map<ProductInfo, std::string>> seen;
  std::map<std::string, const Msi::IMsiProduct*> kept;
  auto it = Msi::enumerateProducts();
  for (bool more = it->reset(); more; it->next(), more = it->valid()) {
    Msi::IMsiProduct* p = it->current();
    EXPECT_EQ(p->productCode().size(), 38u);
    for (int i = 0; i <= 16; ++i)
      seen[narrow(p->productCode())][static_cast<ProductInfo>(i)] = narrow(p->info(static_cast<ProductInfo>(i)));
    kept[narrow(p->productCode())] = p;
  }
  ASSERT_EQ(seen.size(), 2u);
  ASSERT_TRUE(seen.count(kDemo) && seen.count(kSmall));

  struct Witness {
    const char* code;
    std::string msi;
  } witnesses[] = {{kDemo, demo}, {kSmall, small}};
  for (const Witness& w : witnesses) {
    SCOPED_TRACE(w.code);
    auto table = exportedProperties(w.msi);
    auto stored = storedRegistration(w.code);
    auto& got = seen[w.code];
    ASSERT_FALSE(table["Manufacturer"].empty());
    // The package's own tables.
    EXPECT_EQ(got[ProductInfo::Publisher], table["Manufacturer"]);
    EXPECT_EQ(got[ProductInfo::VersionString], table["ProductVersion"]);
    EXPECT_EQ(got[ProductInfo::InstalledProductName], table["ProductName"]);
    std::string version = table["ProductVersion"];
    EXPECT_EQ(got[ProductInfo::VersionMajor], version.substr(0, version.find('.')));
    EXPECT_EQ(got[ProductInfo::VersionMinor], version.substr(version.find('.') + 1, 1));
    // What the engine stored, property by property.
    for (auto [info, name] : std::map<ProductInfo, const char*>{{ProductInfo::HelpLink, "HelpLink"},
                                                                  {ProductInfo::HelpTelephone, "HelpTelephone"},
                                                                  {ProductInfo::InstallDate, "InstallDate"},
                                                                  {ProductInfo::InstallLocation, "InstallLocation"},
                                                                  {ProductInfo::InstallSource, "InstallSource"},
                                                                  {ProductInfo::LocalPackage, "LocalPackage"},
                                                                  {ProductInfo::URLInfoAbout, "URLInfoAbout"},
                                                                  {ProductInfo::URLUpdateInfo, "URLUpdateInfo"},
                                                                  {ProductInfo::ProductID, "ProductID"},
                                                                  {ProductInfo::RegCompany, "RegCompany"},
                                                                  {ProductInfo::RegOwner, "RegOwner"},
                                                                  {ProductInfo::AssignmentType, "AssignmentType"}}) {
      ASSERT_TRUE(stored.count(name)) << name;
      EXPECT_EQ(got[info], stored[name]) << name;
    }
    EXPECT_EQ(got[ProductInfo::InstallDate].size(), 8u);
    EXPECT_EQ(got[ProductInfo::InstallSource], "C:\\pkg\\");
  }
  EXPECT_EQ(seen[kDemo][ProductInfo::RegOwner], "Ann");
  EXPECT_EQ(seen[kDemo][ProductInfo::AssignmentType], "1");
  EXPECT_EQ(seen[kSmall][ProductInfo::AssignmentType], "0");

  // The products stay usable after the iterator has moved past them.
  EXPECT_FALSE(it->valid());
  EXPECT_EQ(narrow(kept[kDemo]->info(ProductInfo::Publisher)), "Acme Corp");

  // A selector outside the table asks for the empty name, which the installer refuses.
  try {
    kept[kDemo]->info(static_cast<ProductInfo>(17));
    ADD_FAILURE() << "no error";
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.cause().code(), 0u);
    EXPECT_EQ(Common::Error(e).numberField("code") & 0xFFFF, static_cast<std::uint64_t>(ERROR_UNKNOWN_PROPERTY))
        << std::hex << e.code();
  }
}

TEST_F(InstalledProducts, FeatureAndComponentStates) {
  buildWix();
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u"ADDLOCAL=Complete"), 0u);
  auto it = Msi::enumerateProducts();
  ASSERT_TRUE(it->valid());
  Msi::IMsiProduct* p = it->current();
  EXPECT_EQ(p->featureState(u"Complete"), InstallState::Local);
  EXPECT_EQ(p->featureState(u"Documentation"), InstallState::Absent);
  EXPECT_EQ(p->featureState(u"Nothing"), InstallState::Unknown);
  EXPECT_EQ(p->featureState(u""), InstallState::InvalidFeature);
  EXPECT_EQ(p->componentState(u"{11111111-2222-3333-4444-555555555555}"), InstallState::Local);
  EXPECT_EQ(p->componentState(u"{22222222-3333-4444-5555-666666666666}"), InstallState::Unknown);
  EXPECT_EQ(p->componentState(u"not a code"), InstallState::Unknown);
  ASSERT_TRUE(DeleteFileW(u"C:\\Program Files\\Demo\\tool.exe"));
  EXPECT_EQ(p->componentState(u"{11111111-2222-3333-4444-555555555555}"), InstallState::Absent);
}

TEST(InstallStates, EachQueryMapsTheInstallerResultsItsOwnWay) {
  struct Case {
    int result;
    InstallState feature, component;
  } cases[] = {
      {1, InstallState::AdvertisedFeature, InstallState::AdvertisedComponent},
      {2, InstallState::Absent, InstallState::Absent},
      {3, InstallState::Local, InstallState::Local},
      {4, InstallState::Source, InstallState::Source},
      {5, InstallState::Unknown, InstallState::DefaultComponent},
      {-2, InstallState::InvalidFeature, InstallState::Unknown},
      {-1, InstallState::Unknown, InstallState::Unknown},
      {-3, InstallState::Unknown, InstallState::Unknown},
      {0, InstallState::Unknown, InstallState::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    EXPECT_EQ(Msi::featureStateOf(c.result), c.feature);
    EXPECT_EQ(Msi::componentStateOf(c.result), c.component);
  }
  EXPECT_EQ(std::u16string(Msi::productInfoName(ProductInfo::Publisher)), u"Publisher");
  EXPECT_EQ(std::u16string(Msi::productInfoName(ProductInfo::AssignmentType)), u"AssignmentType");
  EXPECT_EQ(std::u16string(Msi::productInfoName(static_cast<ProductInfo>(17))), u"");
}

}  // namespace
