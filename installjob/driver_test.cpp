#include "installjob/driver.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "installjob/job_fixture.h"
#include "platform/win32/windows.h"
#include "system/security.h"

namespace {

using job_test::ProductSpec;

std::u16string programPath() {
  WCHAR buf[1024];
  DWORD n = GetModuleFileNameW(nullptr, buf, 1024);
  return std::u16string(buf, n);
}

class DriverTest : public job_test::JobWorld {
 protected:
  // Runs the driver on a package in install mode; the command line the engine got.
  std::u16string drive(const std::string& name, const std::u16string& features, UINT expected = 0) {
    installjob::InstallDriver driver;
    driver.setPackage(windowsPackage(name));
    driver.setMode(installjob::InstallDriver::Install, features);
    driver.extraProperties = u" REBOOT=ReallySuppress ";
    msi_engine::clear_recorded_installs();
    EXPECT_EQ(driver.install(), expected);
    auto calls = msi_engine::recorded_installs();
    return calls.empty() ? u"<not called>" : calls.back().commandLine;
  }
};

TEST_F(DriverTest, CommandLinesForFirstInstallOtherPackageCodeSamePackageAndAbsentRemoval) {
  ProductSpec second;
  second.packageCode = "11111111-AAAA-4BBB-8CCC-000000000002";
  product("first.msi");
  product("second.msi", second);
  const std::u16string head = u" BOOTSTRAP_EXE=\"" + programPath() + u"\" REBOOT=ReallySuppress ";

  EXPECT_EQ(drive("first.msi", u""), head);
  EXPECT_EQ(get("install_log.txt").find("Command line:") != std::string::npos, true);
  EXPECT_EQ(drive("second.msi", u""), head + u" REINSTALL=ALL REINSTALL=ALL REINSTALLMODE=vamus");
  EXPECT_EQ(drive("second.msi", u""), head);
  EXPECT_EQ(drive("second.msi", u"ALL"), head + u" REINSTALL=ALL REINSTALL=ALL REINSTALLMODE=amus");

  // Removal of the installed product, then of one that is not installed.
  installjob::InstallDriver remove;
  remove.setPackage(windowsPackage("second.msi"));
  remove.setMode(installjob::InstallDriver::Remove, u"");
  msi_engine::clear_recorded_installs();
  EXPECT_EQ(remove.install(), 0u);
  ASSERT_EQ(msi_engine::recorded_installs().size(), 1u);
  EXPECT_EQ(msi_engine::recorded_installs()[0].commandLine, u" BOOTSTRAP_EXE=\"" + programPath() + u"\" REMOVE=ALL");
  EXPECT_EQ(MsiQueryProductStateW(job_test::JobWorld::braced(job_test::kProductCode).c_str()), INSTALLSTATE_UNKNOWN);

  installjob::InstallDriver absent;
  absent.setPackage(windowsPackage("first.msi"));
  absent.setMode(installjob::InstallDriver::Remove, u"");
  msi_engine::clear_recorded_installs();
  EXPECT_EQ(absent.install(), 0u);
  EXPECT_TRUE(msi_engine::recorded_installs().empty());

  // A first installation with a feature list adds it locally.
  EXPECT_EQ(drive("first.msi", u"Core"), head + u" ADDLOCAL=Core");
  EXPECT_TRUE(std::filesystem::exists(c("Program Files/Vazedi/vazedi.exe")));
  EXPECT_FALSE(std::filesystem::exists(c("Program Files/Vazedi/help.txt")));
}

TEST_F(DriverTest, AnotherEditionOfTheInstalledProductIsRefusedAndTheInterfaceLevelRestored) {
  ProductSpec other;
  other.packageCode = "11111111-AAAA-4BBB-8CCC-000000000003";
  other.edition = "2";
  product("first.msi");
  product("other.msi", other);
  installDirectly("first.msi");
  MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
  EXPECT_EQ(drive("other.msi", u"", 1638), u"<not called>");
  EXPECT_EQ(MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr), INSTALLUILEVEL_BASIC);

  // Editions come from MsigenProductEdition; none at all reads as -1.
  EXPECT_EQ(installjob::packageEdition(windowsPackage("other.msi")), 2);
  EXPECT_EQ(installjob::packageEdition(u"C:\\pkg\\missing.msi"), -1);
}

TEST_F(DriverTest, ProductVersionsPackIntoEightEightSixteenBitsOrGive1620) {
  struct Case {
    const char16_t* text;
    bool ok;
    std::uint32_t packed;
  } cases[] = {
      {u"5.1", true, 0x05010000u},     {u"1.2.3.4", true, 0x01020003u},   {u"16.0.5555", true, 0x100015B3u},
      {u"255.255.65535", true, 0xFFFFFFFFu}, {u"5..7", true, 0x05000007u}, {u"0x10.1", true, 0x10010000u},
      {u"256.0", false, 0},            {u"1.256", false, 0},              {u"1.2.65536", false, 0},
      {u"1.x", false, 0},              {u"-1.0", false, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t packed = 0;
    EXPECT_EQ(installjob::packProductVersion(c.text, packed), c.ok) << msi_test::narrow(c.text);
    if (c.ok) {
      EXPECT_EQ(packed, c.packed) << msi_test::narrow(c.text);
    }
  }

  // Read from a package: a malformed version ends the reading with 1620.
  ProductSpec bad;
  bad.version = "1.2.3";
  product("good.msi", bad);
  installjob::InstallDriver driver;
  driver.setPackage(windowsPackage("good.msi"));
  const std::u16string* code = nullptr;
  ASSERT_EQ(driver.readPackageInfo(&code), 0u);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(*code, job_test::JobWorld::braced(job_test::kProductCode));
  EXPECT_EQ(driver.product.package.version, 0x01020003u);
  EXPECT_EQ(driver.product.package.features.size(), 2u);
  EXPECT_EQ(msi_test::narrow(driver.product.package.features[u"Docs"].description), "The help");

  std::vector<msi_test::Idt> tables = msi_test::smallTables();
  std::string& props = tables[0].text;
  props.replace(props.find("ProductVersion\t1.2.3"), 20, "ProductVersion\t256.1");
  tables.push_back({"Feature.idt",
                    "Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes\n"
                    "s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2\nFeature\tFeature\nF\t\tF\t\t1\t1\t\t0\n"});
  ASSERT_TRUE(msi_test::buildIdtPackage(unixPackage("badversion.msi"), tables));
  installjob::InstallDriver broken;
  broken.setPackage(windowsPackage("badversion.msi"));
  EXPECT_EQ(broken.readPackageInfo(&code), 1620u);
  EXPECT_EQ(code, nullptr);
  EXPECT_TRUE(broken.product.package.packageCode.empty());
}

TEST_F(DriverTest, EngineCheckFollowsThePresentEngineVersion) {
  installjob::InstallerEngine present(200, u"", false);
  EXPECT_EQ(present.ensure(), 0u);
  EXPECT_NE(present.library, nullptr);

  struct Case {
    const char* engine;
    bool quiet;
    UINT expected;
  } cases[] = {{"3.1", false, 0}, {"1.1", false, 1602}, {"1.1", true, 1613}, {"absent", false, 1602}};
  actAsAdministrator(true);
  for (const Case& c : cases) {
    ::setenv("KV_MSI_ENGINE_VERSION", c.engine, 1);
    installjob::InstallerEngine engine(200, u"", c.quiet);
    EXPECT_EQ(engine.ensure(), c.expected) << c.engine;
  }
  // Only an administrator may install the engine.
  actAsAdministrator(false);
  installjob::InstallerEngine engine(200, u"", false);
  EXPECT_EQ(engine.ensure(), 1314u);
}

TEST_F(DriverTest, FetchTextsQuoteEveryNameAndListKeysLast) {
  installjob::FeaturesFetch fetch;
  EXPECT_EQ(fetch.selectText(),
            u"SELECT `Feature`,`Feature_Parent`,`Title`,`Description`,`Display`,`Level`,`Directory_`,"
            u"`Attributes`,`Feature` FROM `Feature` WHERE `Level`<>0");
  fetch.valueColumns = {u"Title", u"Level"};
  EXPECT_EQ(fetch.updateText(), u"UPDATE `Feature` SET `Title`=?,`Level`=? WHERE `Feature`=?");
}

}  // namespace
