#include "platform/msi/engine.h"

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/msi/msi_fixture.h"

namespace {

using msi_test::narrow;
using msi_test::readFile;

const char16_t kProduct[] = u"{12345678-1234-1234-1234-123456789ABC}";
const char16_t kUpgrade[] = u"{87654321-4321-4321-4321-CBA987654321}";

class EngineTest : public msi_test::PackageWorld {
 protected:
  void SetUp() override {
    msi_test::PackageWorld::SetUp();
    ::unsetenv("KV_MSI_FORCED_RESULT");
    msi_engine::clear_recorded_installs();
    MsiEnableLogW(0x1FDF, u"C:\\install.log", 2);
  }
  void TearDown() override {
    MsiEnableLogW(0, nullptr, 0);
    ::unsetenv("KV_MSI_FORCED_RESULT");
    msi_test::PackageWorld::TearDown();
  }
  std::u16string info(const char16_t* attribute, UINT* result = nullptr) {
    WCHAR buf[300];
    DWORD n = 300;
    UINT r = MsiGetProductInfoW(kProduct, attribute, buf, &n);
    if (result) *result = r;
    return r == ERROR_SUCCESS ? std::u16string(buf, n) : std::u16string();
  }
  bool exists(const std::string& rel) const { return std::filesystem::exists(c(rel)); }
};

TEST_F(EngineTest, DatabaseInstallPutsFilesInPlaceRegistersTheProductAndRemovalTakesThemAway) {
  std::string pkg = buildWix();
  ASSERT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u" REBOOT=ReallySuppress "), 0u);

  // The payload files as wixl was given them, under Program Files\Demo.
  EXPECT_EQ(get("Program Files/Demo/readme.txt"), "Read me.\n");
  EXPECT_EQ(get("Program Files/Demo/tool.exe"), std::string("MZ demo tool\0\x01\x02", 16));
  EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_DEFAULT);

  // The package code as msiinfo reads it; 1.2.3.4 packs to 1 << 24 | 2 << 16 | 3.
  std::string summary = msi_test::suminfo(pkg);
  EXPECT_NE(summary.find(narrow(info(u"PackageCode"))), std::string::npos) << summary;
  EXPECT_EQ(narrow(info(u"Version")), std::to_string((1u << 24) | (2u << 16) | 3u));
  EXPECT_EQ(narrow(info(u"VersionString")), "1.2.3.4");
  EXPECT_EQ(narrow(info(u"Language")), "1033");
  std::u16string local = info(u"LocalPackage");
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(readFile(win32::to_unix_path(local.c_str())), readFile(pkg));
  UINT r = 0;
  info(u"NoSuchAttribute", &r);
  EXPECT_EQ(r, static_cast<UINT>(ERROR_UNKNOWN_PROPERTY));

  WCHAR related[39];
  EXPECT_EQ(MsiEnumRelatedProductsW(kUpgrade, 0, 0, related), 0u);
  EXPECT_EQ(std::u16string(related), kProduct);
  EXPECT_EQ(MsiEnumRelatedProductsW(kUpgrade, 0, 1, related), static_cast<UINT>(ERROR_NO_MORE_ITEMS));

  // The log was written line by line with the command line in it.
  EXPECT_NE(get("install.log").find("REBOOT=ReallySuppress"), std::string::npos);

  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u"REMOVE=ALL"), 0u);
  EXPECT_FALSE(exists("Program Files/Demo/readme.txt"));
  EXPECT_FALSE(exists("Program Files/Demo"));
  EXPECT_FALSE(exists(win32::to_unix_path(local.c_str()).substr(c().size() + 1)));
  EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
  info(u"PackageCode", &r);
  EXPECT_EQ(r, static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));
  EXPECT_EQ(MsiEnumRelatedProductsW(kUpgrade, 0, 0, related), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

TEST_F(EngineTest, CommandLinePropertiesChooseFoldersAndFeaturesAndAreRecordedExactly) {
  buildWix();
  // A quoted folder with a blank, given twice: the last one counts. Only the
  // feature Complete, so the documentation is left out.
  std::u16string line = u" INSTALLDIR=\"C:\\first\" INSTALLDIR=\"C:\\My Demo\" ADDLOCAL=Complete";
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), line.c_str()), 0u);
  EXPECT_TRUE(exists("My Demo/tool.exe"));
  EXPECT_FALSE(exists("My Demo/readme.txt"));
  EXPECT_FALSE(exists("first"));
  auto calls = msi_engine::recorded_installs();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].commandLine, line);

  EXPECT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u"INSTALLDIR=\"unterminated"),
            static_cast<UINT>(ERROR_INVALID_COMMAND_LINE));
  EXPECT_EQ(MsiInstallProductW(windowsPackage("missing.msi").c_str(), u""),
            static_cast<UINT>(ERROR_INSTALL_PACKAGE_OPEN_FAILED));
}

TEST_F(EngineTest, ForcedResultsAreReproducibleAndFailuresInstallNothing) {
  buildWix();
  ::setenv("KV_MSI_FORCED_RESULT", "other.msi=5;DEMO.MSI=1603", 1);
  EXPECT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u""), 1603u);
  EXPECT_FALSE(exists("Program Files/Demo"));
  EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);

  ::setenv("KV_MSI_FORCED_RESULT", "demo.msi=3010", 1);
  EXPECT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u""), 3010u);
  EXPECT_TRUE(exists("Program Files/Demo/tool.exe"));
  EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_DEFAULT);
}

TEST_F(EngineTest, PatchIsRecordedAgainstItsInstalledTargetOr1642) {
  buildWix();
  msi_test::SummarySpec spec;
  spec.templ = "{87654321-4321-4321-4321-CBA987654321}";  // names the upgrade code
  spec.revision = "{ABCDEF00-1111-2222-3333-444455556666}";
  ASSERT_TRUE(msi_test::buildIdtPackage(unixPackage("fix.msp"), msi_test::smallTables(), spec));
  const char16_t patch[] = u"{ABCDEF00-1111-2222-3333-444455556666}";

  EXPECT_EQ(MsiApplyPatchW(windowsPackage("fix.msp").c_str(), nullptr, INSTALLTYPE_DEFAULT, u" REINSTALLMODE=o "),
            static_cast<UINT>(ERROR_PATCH_TARGET_NOT_FOUND));
  DWORD n = 0;
  EXPECT_NE(MsiGetPatchInfoW(patch, u"LocalPackage", nullptr, nullptr), 0u);

  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u""), 0u);
  EXPECT_EQ(MsiApplyPatchW(windowsPackage("fix.msp").c_str(), nullptr, INSTALLTYPE_DEFAULT, u" REINSTALLMODE=o "), 0u);
  EXPECT_EQ(MsiGetPatchInfoW(patch, u"LocalPackage", nullptr, nullptr), 0u);
  WCHAR buf[300];
  n = 300;
  ASSERT_EQ(MsiGetPatchInfoW(patch, u"ProductCode", buf, &n), 0u);
  EXPECT_EQ(std::u16string(buf, n), kProduct);

  // Removing the product takes its patches with it.
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u"REMOVE=ALL"), 0u);
  EXPECT_NE(MsiGetPatchInfoW(patch, u"LocalPackage", nullptr, nullptr), 0u);
}

TEST_F(EngineTest, InterfaceLevelAnswersThePreviousOneAndEngineVersionFollowsTheWorld) {
  INSTALLUILEVEL first = MsiSetInternalUI(INSTALLUILEVEL_FULL, nullptr);
  EXPECT_EQ(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr), INSTALLUILEVEL_FULL);
  EXPECT_EQ(MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr), INSTALLUILEVEL_NONE);
  MsiSetInternalUI(first, nullptr);

  ::unsetenv("KV_MSI_ENGINE_VERSION");
  EXPECT_EQ(msi_engine::engine_file_version(), 0x50000u);
  ::setenv("KV_MSI_ENGINE_VERSION", "absent", 1);
  EXPECT_EQ(msi_engine::engine_file_version(), 0u);
  ::setenv("KV_MSI_ENGINE_VERSION", "3.1", 1);
  EXPECT_EQ(msi_engine::engine_file_version(), 0x30001u);
  ::unsetenv("KV_MSI_ENGINE_VERSION");
}

}  // namespace
