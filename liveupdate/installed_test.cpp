#include "liveupdate/installed.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "msi/entities/directory.h"
#include "msi/entities/property.h"
#include "msi/entities/tree.h"
#include "msi/model/package.h"
#include "platform/msi/engine.h"
#include "platform/msi/msi_fixture.h"

namespace {

using LiveUpdate::Product;
using LiveUpdate::Version;
using Processor::RefPtr;

// A package with no files: the Property table given and a package code.
struct PackageSpec {
  std::string file;
  std::map<std::string, std::string> properties;
  std::string packageCode = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
  std::string templ = "Intel;1033";
};

std::map<std::string, std::string> makerProduct(const std::string& code, const std::string& version) {
  return {{"ProductCode", code},
          {"ProductVersion", version},
          {"ProductName", "Vazedi " + version},
          {"ProductLanguage", "1033"},
          {"Manufacturer", "Korvane"},
          {"MsigenProductLanguage", "1031"},
          {"MsigenProductEdition", " 12"},
          {"MsigenProductId", "{ID-" + code.substr(25, 12) + "}"}};
}

class InstalledProducts : public msi_test::PackageWorld {
 protected:
  void SetUp() override {
    msi_test::PackageWorld::SetUp();
    ::unsetenv("KV_MSI_FORCED_RESULT");
  }
  std::string build(const PackageSpec& spec) {
    std::string text = "Property\tValue\ns72\tl0\nProperty\tProperty\n";
    for (const auto& [k, v] : spec.properties) text += k + "\t" + v + "\n";
    msi_test::SummarySpec summary;
    summary.revision = spec.packageCode;
    summary.templ = spec.templ;
    std::filesystem::remove_all(c("pkg/idt"));
    std::filesystem::remove(unixPackage(spec.file));
    EXPECT_TRUE(msi_test::buildIdtPackage(unixPackage(spec.file), {{"Property.idt", text}}, summary));
    return unixPackage(spec.file);
  }
  void install(const PackageSpec& spec) {
    build(spec);
    ASSERT_EQ(MsiInstallProductW(windowsPackage(spec.file).c_str(), u""), 0u) << spec.file;
  }
};

std::string text(const Processor::String& s) {
  std::string out;
  for (int i = 0; i < s.length(); ++i) out += static_cast<char>(s.charAt(i));
  return out;
}

TEST_F(InstalledProducts, OnlyTheMakersReadableProductsAreListedWithTheirIdentity) {
  auto other = makerProduct("{10000000-0000-0000-0000-000000000003}", "1.0");
  other["Manufacturer"] = "Acme Corp";
  auto lower = makerProduct("{10000000-0000-0000-0000-000000000004}", "1.0");
  lower["Manufacturer"] = "korvane";
  auto noLanguage = makerProduct("{10000000-0000-0000-0000-000000000005}", "1.0");
  noLanguage.erase("MsigenProductLanguage");
  auto noEdition = makerProduct("{10000000-0000-0000-0000-000000000006}", "1.0");
  noEdition.erase("MsigenProductEdition");
  install({"a.msi", makerProduct("{10000000-0000-0000-0000-000000000001}", "7.1.2.3")});
  install({"b.msi", makerProduct("{10000000-0000-0000-0000-000000000002}", "8.0")});
  install({"c.msi", other});
  install({"d.msi", lower});
  install({"e.msi", noLanguage});
  install({"f.msi", noEdition});

  std::vector<RefPtr<Product>> list(3);  // replaced, not appended to
  LiveUpdate::enumerateInstalledProducts(list);
  std::map<std::string, RefPtr<LiveUpdate::ProductInformation>> byId;
  for (auto& p : list) byId[p->productInformation()->packageId()] = p->productInformation();
  ASSERT_EQ(byId.size(), 2u);
  ASSERT_EQ(list.size(), 2u);
  auto a = byId["{ID-000000000001}"];
  ASSERT_TRUE(a);
  EXPECT_EQ(text(a->name()), "Vazedi 7.1.2.3");
  EXPECT_EQ(a->version()->text(), "7.1.2.3");
  EXPECT_EQ(a->version()->build(), 2);
  EXPECT_EQ(a->language(), 1031);
  EXPECT_EQ(a->edition(), 12);
  std::vector<RefPtr<Version>> patches(1);
  list[0]->patchVersions(patches);
  EXPECT_TRUE(patches.empty());
}

// Identification reads the cached package read-only, even while another
// handle holds it against writers, and loads none of its other rows.
TEST_F(InstalledProducts, ALockedReadOnlyCachedPackageStillIdentifiesAndOnlyPropertiesAreLoaded) {
  install({"a.msi", makerProduct("{10000000-0000-0000-0000-000000000001}", "7.1")});
  DWORD n = 300;
  WCHAR local[300];
  ASSERT_EQ(MsiGetProductInfoW(u"{10000000-0000-0000-0000-000000000001}", u"LocalPackage", local, &n), 0u);
  ASSERT_TRUE(SetFileAttributesW(local, FILE_ATTRIBUTE_READONLY));
  HANDLE held = CreateFileW(local, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::vector<RefPtr<Product>> list;
  LiveUpdate::enumerateInstalledProducts(list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->productInformation()->packageId(), "{ID-000000000001}");
  CloseHandle(held);
  SetFileAttributesW(local, FILE_ATTRIBUTE_NORMAL);

  // The light open against the full one on a package with a tree.
  buildWix();
  const std::int32_t files = Msi::Statistics<Msi::MsiFile>::liveCount(),
                     components = Msi::Statistics<Msi::MsiComponent>::liveCount(),
                     directories = Msi::Statistics<Msi::MsiDirectory>::liveCount(),
                     properties = Msi::Statistics<Msi::MsiProperty>::liveCount();
  {
    auto full = Msi::MsiPackage::open(windowsPackage("demo.msi"), true);
    EXPECT_FALSE(full->fileKeys().empty());  // the tree is read on first use
    EXPECT_GT(Msi::Statistics<Msi::MsiFile>::liveCount(), files);  // the witness sees rows when they are loaded
  }
  auto light = Msi::MsiPackage::openProperties(windowsPackage("demo.msi"));
  EXPECT_EQ(Msi::Statistics<Msi::MsiFile>::liveCount(), files);
  EXPECT_EQ(Msi::Statistics<Msi::MsiComponent>::liveCount(), components);
  EXPECT_EQ(Msi::Statistics<Msi::MsiDirectory>::liveCount(), directories);
  EXPECT_GT(Msi::Statistics<Msi::MsiProperty>::liveCount(), properties);
  ASSERT_TRUE(light->property(u"ProductShortName", false));
  EXPECT_EQ(light->property(u"ProductShortName", false)->value(), u"Demo");
  EXPECT_EQ(light->summary()->revisionNumber().size(), 38u);
}

TEST_F(InstalledProducts, PackageIdsComeFromThePropertyTheTranslationsOrTheIdentityTable) {
  const std::string tableProduct = "{3C0F1A52-7D0E-4B8A-9B1E-0A6E2F1C4D01}",
                    tablePackage = "{8E4B2C10-5A3D-4F7E-A1B2-6C9D0E1F2A01}";
  struct Case {
    const char* what;
    std::string productCode, packageCode;
    std::map<std::string, std::string> properties;
    std::string id;
  } cases[] = {
      {"own property", tableProduct, tablePackage, {{"MsigenProductId", "{OWN}"}}, "{OWN}"},
      {"translation", "{5A1E7C20-1B2C-4D3E-9F40-7A8B9C0D1E01}", tablePackage, {},
       "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E01}"},
      {"translation in lower case", "{5a1e7c20-1b2c-4d3e-9f40-7a8b9c0d1e02}", tablePackage, {},
       "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E02}"},
      {"translation, then the rename", "{5A1E7C20-1B2C-4D3E-9F40-7A8B9C0D1E03}", tablePackage, {},
       "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E03}"},
      {"own property renamed", tableProduct, tablePackage,
       {{"MsigenProductId", "{c7d8e9f0-1a2b-4c3d-9e4f-5a6b7c8d9e00}"}}, "{C7D8E9F0-1A2B-4C3D-9E4F-5A6B7C8D9E03}"},
      {"table row, same short name", tableProduct, tablePackage, {{"ProductShortName", "Vazedi"}},
       "{B1D2E3F4-0A1B-4C2D-8E3F-1A2B3C4D5E01}"},
      {"table row, no short name", tableProduct, tablePackage, {}, "{B1D2E3F4-0A1B-4C2D-8E3F-1A2B3C4D5E01}"},
      {"table row, other short name", tableProduct, tablePackage, {{"ProductShortName", "Other"}}, ""},
      {"no row for the package code", tableProduct, "{8E4B2C10-5A3D-4F7E-A1B2-6C9D0E1F2A02}", {}, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    auto properties = k.properties;
    properties["ProductCode"] = k.productCode;
    build({"id.msi", properties, k.packageCode});
    auto package = Msi::MsiPackage::openProperties(windowsPackage("id.msi"));
    EXPECT_EQ(LiveUpdate::packageIdFromPackage(*package, k.productCode), k.id);
  }
}

TEST_F(InstalledProducts, AppliedPatchesBringTheirUpdatedVersions) {
  const std::string code = "{10000000-0000-0000-0000-000000000001}";
  install({"a.msi", makerProduct(code, "7.1")});
  // The second patch names no version: it adds nothing.
  PackageSpec first{"p1.msp", {{"ProductVersion", "7.1.5.0"}}, "{20000000-0000-0000-0000-000000000001}", code};
  PackageSpec second{"p2.msp", {{"Other", "x"}}, "{20000000-0000-0000-0000-000000000002}", code};
  PackageSpec third{"p3.msp", {{"ProductVersion", "7.2"}}, "{20000000-0000-0000-0000-000000000003}", code};
  for (const PackageSpec* p : {&first, &second, &third}) {
    build(*p);
    ASSERT_EQ(MsiApplyPatchW(windowsPackage(p->file).c_str(), nullptr, INSTALLTYPE_DEFAULT, u""), 0u);
  }
  std::vector<RefPtr<Product>> list;
  LiveUpdate::enumerateInstalledProducts(list);
  ASSERT_EQ(list.size(), 1u);
  std::vector<RefPtr<Version>> patches;
  list[0]->patchVersions(patches);
  ASSERT_EQ(patches.size(), 2u);
  EXPECT_EQ(patches[0]->text(), "7.1.5.0");
  EXPECT_EQ(patches[1]->text(), "7.2");

  EXPECT_FALSE(LiveUpdate::versionFromPatch(u"C:\\pkg\\missing.msp"));
}

}  // namespace
