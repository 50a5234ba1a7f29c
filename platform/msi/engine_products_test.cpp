// The product queries against what the engine recorded at install, with the
// packages' own tables (msiinfo) as the witness.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/msi/engine.h"
#include "platform/msi/msi_fixture.h"
#include "platform/win32/advapi32/registry.h"

namespace {

// A literal with its inner NULs, as long as it is written.
template <std::size_t N>
std::u16string text(const char16_t (&s)[N]) {
  return std::u16string(s, N - 1);
}

using msi_test::narrow;

const char16_t kDemo[] = u"{12345678-1234-1234-1234-123456789ABC}";
const char16_t kSmall[] = u"{11111111-2222-3333-4444-555555555555}";
const char16_t kToolComponent[] = u"{11111111-2222-3333-4444-555555555555}";
const char16_t kDocsComponent[] = u"{22222222-3333-4444-5555-666666666666}";
const char16_t kMenuComponent[] = u"{33333333-4444-5555-6666-777777777777}";

// The Property table as msiinfo exports it.
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

class EngineProducts : public msi_test::PackageWorld {
 protected:
  void SetUp() override {
    msi_test::PackageWorld::SetUp();
    ::unsetenv("KV_MSI_FORCED_RESULT");
  }
  static std::u16string info(const char16_t* product, const char16_t* attribute, UINT* result = nullptr) {
    DWORD n = 0;
    UINT r = MsiGetProductInfoW(product, attribute, nullptr, &n);
    if (result) *result = r;
    if (r != ERROR_SUCCESS) return u"<" + std::u16string(attribute) + u" failed>";
    std::u16string s(n + 1, u'\0');
    DWORD room = n + 1;
    r = MsiGetProductInfoW(product, attribute, s.data(), &room);
    if (result) *result = r;
    s.resize(room);
    return s;
  }
  static std::u16string componentPath(const char16_t* product, const char16_t* component, INSTALLSTATE* state) {
    WCHAR buf[300];
    DWORD n = 300;
    *state = MsiGetComponentPathW(product, component, buf, &n);
    return std::u16string(buf, n);
  }
};

TEST_F(EngineProducts, TwoInstalledProductsAreEnumeratedWithThePropertiesTheirPackagesHold) {
  std::string demo = buildWix(), small = buildSmall();
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(),
                               u"USERNAME=Ann COMPANYNAME=\"Ann & Co\" ALLUSERS=1 ARPHELPLINK=http://help.example/"),
            0u);
  ASSERT_EQ(MsiInstallProductW(windowsPackage("small.msi").c_str(), u""), 0u);

  std::set<std::u16string> listed;
  WCHAR code[39];
  DWORD index = 0;
  UINT r;
  while ((r = MsiEnumProductsW(index, code)) == ERROR_SUCCESS) {
    listed.insert(code);
    ++index;
  }
  EXPECT_EQ(r, static_cast<UINT>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(listed, (std::set<std::u16string>{kDemo, kSmall}));
  EXPECT_EQ(MsiEnumProductsW(0, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));

  char today[40];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(today, sizeof today, "%Y%m%d", &local);

  struct Expected {
    const char16_t* product;
    std::string msi;
    std::map<std::string, std::string> values;  // attribute -> value
  };
  auto demoProps = exportedProperties(demo), smallProps = exportedProperties(small);
  ASSERT_EQ(demoProps["Manufacturer"], "Acme Corp");  // the witness read the package at all
  Expected expected[] = {
      {kDemo, demo,
       {{"Publisher", demoProps["Manufacturer"]},
        {"InstalledProductName", demoProps["ProductName"]},
        {"VersionString", demoProps["ProductVersion"]},
        {"VersionMajor", "1"},
        {"VersionMinor", "2"},
        {"InstallDate", today},
        {"InstallSource", "C:\\pkg\\"},
        {"InstallLocation", "C:\\Program Files\\Demo\\"},
        {"HelpLink", "http://help.example/"},
        {"HelpTelephone", ""},
        {"URLInfoAbout", ""},
        {"URLUpdateInfo", ""},
        {"ProductID", ""},
        {"RegCompany", "Ann & Co"},
        {"RegOwner", "Ann"},
        {"AssignmentType", "1"}}},
      {kSmall, small,
       {{"Publisher", smallProps["Manufacturer"]},
        {"InstalledProductName", smallProps["ProductName"]},
        {"VersionString", smallProps["ProductVersion"]},
        {"VersionMajor", "1"},
        {"VersionMinor", "2"},
        {"InstallDate", today},
        {"InstallSource", "C:\\pkg\\"},
        {"RegOwner", ""},
        {"AssignmentType", "0"}}},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(narrow(e.product));
    for (const auto& [attribute, value] : e.values) {
      std::u16string name(attribute.begin(), attribute.end());
      EXPECT_EQ(narrow(info(e.product, name.c_str())), value) << attribute;
    }
    // The local package is a copy of the package that was installed.
    std::u16string localPackage = info(e.product, u"LocalPackage");
    EXPECT_EQ(msi_test::readFile(win32::to_unix_path(localPackage.c_str())), msi_test::readFile(e.msi));
  }
  UINT result = 0;
  info(kDemo, u"", &result);
  EXPECT_EQ(result, static_cast<UINT>(ERROR_UNKNOWN_PROPERTY));
  info(u"{00000000-0000-0000-0000-000000000000}", u"Publisher", &result);
  EXPECT_EQ(result, static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));
  // A buffer one short: 234 with the length.
  WCHAR shortBuf[9];
  DWORD n = 9;
  EXPECT_EQ(MsiGetProductInfoW(kDemo, u"Publisher", shortBuf, &n), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(n, 9u);
}

TEST_F(EngineProducts, FeatureAndComponentStatesFollowTheInstallAndAMissingKeyFileIsAbsent) {
  buildWix();
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u"ADDLOCAL=Complete"), 0u);

  EXPECT_EQ(MsiQueryFeatureStateW(kDemo, u"Complete"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(MsiQueryFeatureStateW(kDemo, u"Documentation"), INSTALLSTATE_ABSENT);
  EXPECT_EQ(MsiQueryFeatureStateW(kDemo, u"NoSuchFeature"), INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(MsiQueryFeatureStateW(kSmall, u"Complete"), INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(MsiQueryFeatureStateW(u"not a code", u"Complete"), INSTALLSTATE_INVALIDARG);

  INSTALLSTATE state;
  EXPECT_EQ(narrow(componentPath(kDemo, kToolComponent, &state)), "C:\\Program Files\\Demo\\tool.exe");
  EXPECT_EQ(state, INSTALLSTATE_LOCAL);
  EXPECT_EQ(MsiGetComponentPathW(kDemo, kToolComponent, nullptr, nullptr), INSTALLSTATE_LOCAL);
  // The registry value that is the component's key path (HKCU: root 1).
  EXPECT_EQ(narrow(componentPath(kDemo, kMenuComponent, &state)), "01:\\Software\\Acme\\Demo\\installed");
  EXPECT_EQ(state, INSTALLSTATE_LOCAL);
  // Not installed with its feature: the product does not hold it.
  componentPath(kDemo, kDocsComponent, &state);
  EXPECT_EQ(state, INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(MsiGetComponentPathW(kDemo, u"{bad}", nullptr, nullptr), INSTALLSTATE_INVALIDARG);

  WCHAR small[5];
  DWORD n = 5;
  EXPECT_EQ(MsiGetComponentPathW(kDemo, kToolComponent, small, &n), INSTALLSTATE_MOREDATA);
  EXPECT_EQ(n, 30u);

  ASSERT_TRUE(DeleteFileW(u"C:\\Program Files\\Demo\\tool.exe"));
  EXPECT_EQ(MsiGetComponentPathW(kDemo, kToolComponent, nullptr, nullptr), INSTALLSTATE_ABSENT);
}

TEST_F(EngineProducts, PatchesAreEnumeratedAndDescribeTheVersionTheyBring) {
  buildWix();
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u""), 0u);
  WCHAR patch[39], transforms[1];
  DWORD n = 1;
  EXPECT_EQ(MsiEnumPatchesW(kDemo, 0, patch, transforms, &n), static_cast<UINT>(ERROR_NO_MORE_ITEMS));

  const char* codes[] = {"{ABCDEF00-1111-2222-3333-444455556666}", "{ABCDEF00-1111-2222-3333-444455556667}"};
  for (const char* code : codes) {
    msi_test::SummarySpec spec;
    spec.templ = "{12345678-1234-1234-1234-123456789ABC}";
    spec.revision = code;
    std::filesystem::remove_all(c("pkg/idt"));
    std::filesystem::remove(unixPackage("fix.msp"));
    ASSERT_TRUE(msi_test::buildIdtPackage(unixPackage("fix.msp"), msi_test::smallTables(), spec));
    if (code == codes[1]) {
      // The patch's transforms list, which a one-character buffer cannot hold.
      msi_test::Handle si;
      ASSERT_EQ(MsiGetSummaryInformationW(0, windowsPackage("fix.msp").c_str(), 1, si.out()), 0u);
      ASSERT_EQ(MsiSummaryInfoSetPropertyW(si, PID_LASTAUTHOR, VT_LPSTR, 0, nullptr, u":T1;:#T1"), 0u);
      ASSERT_EQ(MsiSummaryInfoPersist(si), 0u);
    }
    ASSERT_EQ(MsiApplyPatchW(windowsPackage("fix.msp").c_str(), nullptr, INSTALLTYPE_DEFAULT, u""), 0u);
  }
  n = 1;
  ASSERT_EQ(MsiEnumPatchesW(kDemo, 0, patch, transforms, &n), 0u);
  EXPECT_EQ(narrow(patch), codes[0]);
  n = 1;
  ASSERT_EQ(MsiEnumPatchesW(kDemo, 1, patch, transforms, &n), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(narrow(patch), codes[1]);
  EXPECT_EQ(n, 8u);
  n = 1;
  EXPECT_EQ(MsiEnumPatchesW(kDemo, 2, patch, transforms, &n), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(MsiEnumPatchesW(kSmall, 0, patch, transforms, &n), static_cast<UINT>(ERROR_UNKNOWN_PRODUCT));

  // The patch's description, read back by xmllint.
  DWORD size = 0;
  ASSERT_EQ(MsiExtractPatchXMLDataW(windowsPackage("fix.msp").c_str(), 0, nullptr, &size), 0u);
  std::u16string xml(size + 1, u'\0');
  DWORD room = size + 1;
  ASSERT_EQ(MsiExtractPatchXMLDataW(windowsPackage("fix.msp").c_str(), 0, xml.data(), &room), 0u);
  xml.resize(room);
  std::string text = narrow(xml);
  text.replace(text.find("utf-16"), 6, "utf-8");
  msi_test::writeFile(c("patch.xml"), text);
  EXPECT_EQ(msi_test::run("xmllint --xpath \"string(/*[local-name()='MsiPatch']/*[local-name()='TargetProduct']"
                          "/*[local-name()='UpdatedVersion'])\" " +
                          msi_test::quote(c("patch.xml"))),
            "1.2.3\n");
  EXPECT_EQ(MsiExtractPatchXMLDataW(windowsPackage("missing.msp").c_str(), 0, nullptr, &size),
            static_cast<UINT>(ERROR_PATCH_PACKAGE_INVALID));
}

// Package codes are meant to be unique, but nothing makes them so.
TEST_F(EngineProducts, ProductsWhosePackagesShareAPackageCodeKeepTheirOwnLocalPackages) {
  std::string demo = buildWix(), small = buildSmall();
  msi_test::Handle si;
  ASSERT_EQ(MsiGetSummaryInformationW(0, windowsPackage("small.msi").c_str(), 1, si.out()), 0u);
  std::u16string code = info(kDemo, u"PackageCode");  // not installed yet: the failure text
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u""), 0u);
  code = info(kDemo, u"PackageCode");
  ASSERT_EQ(MsiSummaryInfoSetPropertyW(si, PID_REVNUMBER, VT_LPSTR, 0, nullptr, code.c_str()), 0u);
  ASSERT_EQ(MsiSummaryInfoPersist(si), 0u);
  si.reset();
  ASSERT_NE(msi_test::suminfo(small).find(narrow(code)), std::string::npos);
  ASSERT_EQ(MsiInstallProductW(windowsPackage("small.msi").c_str(), u""), 0u);
  std::u16string demoLocal = info(kDemo, u"LocalPackage"), smallLocal = info(kSmall, u"LocalPackage");
  EXPECT_NE(demoLocal, smallLocal);
  EXPECT_EQ(msi_test::readFile(win32::to_unix_path(demoLocal.c_str())), msi_test::readFile(demo));
  EXPECT_EQ(msi_test::readFile(win32::to_unix_path(smallLocal.c_str())), msi_test::readFile(small));
}

// A registration an older engine wrote: the attributes it had, no features.
TEST_F(EngineProducts, OlderRegistrationsStayReadable) {
  const std::u16string key = u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Products\\" + std::u16string(kDemo);
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  std::u16string block = text(u"VersionString=2.5.1\0Version=33882113\0ProductName=Old\0LocalPackage=C:\\old.msi\0\0");
  ASSERT_EQ(RegSetValueExW(h, u"Properties", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                           static_cast<DWORD>(block.size() * 2)),
            ERROR_SUCCESS);
  RegCloseKey(h);
  WCHAR code[39];
  ASSERT_EQ(MsiEnumProductsW(0, code), 0u);
  EXPECT_EQ(std::u16string(code), kDemo);
  EXPECT_EQ(narrow(info(kDemo, u"VersionString")), "2.5.1");
  EXPECT_EQ(narrow(info(kDemo, u"VersionMajor")), "2");
  EXPECT_EQ(narrow(info(kDemo, u"VersionMinor")), "5");
  EXPECT_EQ(narrow(info(kDemo, u"InstalledProductName")), "Old");
  UINT r = 1;
  EXPECT_EQ(narrow(info(kDemo, u"Publisher", &r)), "");
  EXPECT_EQ(r, 0u);
  EXPECT_EQ(MsiQueryFeatureStateW(kDemo, u"Complete"), INSTALLSTATE_UNKNOWN);
}

}  // namespace
