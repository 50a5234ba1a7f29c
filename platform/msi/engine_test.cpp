#include "platform/msi/engine.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/msi/msi_fixture.h"
#include "platform/win32/kernel32/fileops.h"
#include "platform/win32/advapi32/registry.h"

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
  void installDamagedCabinet(const std::function<void(std::string&, std::size_t)>& damage, const char* logged);
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

// Every file under `root` by its path relative to it, with its bytes.
std::map<std::string, std::string> tree(const std::string& root) {
  std::map<std::string, std::string> out;
  for (auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file())
      out[std::filesystem::relative(e.path(), root).string()] = readFile(e.path().string());
  return out;
}

// A package of many files in nested folders, some of them sharing a name in
// different folders, all in one embedded cabinet.
std::string manyFilesWxs(const std::string& dir, int files) {
  std::string components, refs;
  std::string perFolder[3];
  for (int i = 0; i < files; ++i) {
    std::string name = (i % 5 == 0 ? "same" + std::to_string(i / 15) : "f" + std::to_string(i)) + ".dat";
    std::string source = "src" + std::to_string(i);
    msi_test::writeFile(dir + "/" + source, "file " + std::to_string(i) + std::string(i * 37 % 3000, 'x'));
    char guid[40];
    std::snprintf(guid, sizeof guid, "5B3C%04X-2C4D-4E5F-8A61-%012X", i, i + 7);
    perFolder[i % 3] += "<Component Id=\"C" + std::to_string(i) + "\" Guid=\"" + guid + "\"><File Id=\"F" +
                        std::to_string(i) + "\" Name=\"" + name + "\" Source=\"" + source +
                        "\" KeyPath=\"yes\"/></Component>\n";
    refs += "<ComponentRef Id=\"C" + std::to_string(i) + "\"/>";
  }
  return R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="12345678-1234-1234-1234-123456789ABC" Name="Many" Language="1033" Version="1.0.0"
           Manufacturer="Acme Corp" UpgradeCode="87654321-4321-4321-4321-CBA987654321">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="many.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder">
      <Directory Id="INSTALLDIR" Name="Many">
)" + perFolder[0] + R"(        <Directory Id="BIN" Name="bin">
)" + perFolder[1] + R"(          <Directory Id="DEEP" Name="Deeper Still">
)" + perFolder[2] + R"(          </Directory>
        </Directory>
      </Directory>
    </Directory></Directory>
    <Feature Id="All" Level="1">)" + refs + R"(</Feature>
  </Product>
</Wix>
)";
}

TEST_F(EngineTest, FilesAreLaidOutAsMsiextractLaysThemOut) {
  std::string dir = c("wixmany");
  msi_test::writeFile(dir + "/many.wxs", manyFilesWxs(dir, 60));
  std::filesystem::create_directories(c("pkg"));
  int st = 0;
  msi_test::run("cd " + msi_test::quote(dir) + " && wixl -o " + msi_test::quote(unixPackage("many.msi")) +
                    " many.wxs",
                &st);
  ASSERT_EQ(st, 0) << "wixl failed";
  msi_test::run("msiextract -C " + msi_test::quote(c("witness")) + " " + msi_test::quote(unixPackage("many.msi")),
                &st);
  ASSERT_EQ(st, 0) << "msiextract failed";

  ASSERT_EQ(MsiInstallProductW(windowsPackage("many.msi").c_str(), u""), 0u);
  auto ours = tree(c("Program Files")), witness = tree(c("witness/Program Files"));
  EXPECT_EQ(ours.size(), 60u);
  EXPECT_EQ(ours, witness);
  // Nothing else was written beside the package or in the engine's temporary folder.
  EXPECT_EQ(tree(c("pkg")).size(), 1u);
  EXPECT_FALSE(exists("Windows/Temp") && !std::filesystem::is_empty(c("Windows/Temp")));
  // The layer finds what the engine wrote, ignoring case.
  EXPECT_NE(GetFileAttributesW(u"C:\\PROGRAM FILES\\many\\BIN\\deeper still\\F2.DAT"), INVALID_FILE_ATTRIBUTES);

  ASSERT_EQ(MsiInstallProductW(windowsPackage("many.msi").c_str(), u"REMOVE=ALL"), 0u);
  EXPECT_FALSE(exists("Program Files/Many"));
}

TEST_F(EngineTest, AFileThereInAnotherCaseIsReplacedNotDoubled) {
  buildWix();
  put("Program Files/DEMO/README.TXT", "old");
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u""), 0u);
  EXPECT_EQ(get("Program Files/DEMO/README.TXT"), "Read me.\n");
  EXPECT_FALSE(exists("Program Files/DEMO/readme.txt"));
  EXPECT_FALSE(exists("Program Files/Demo"));
  EXPECT_TRUE(exists("Program Files/DEMO/tool.exe"));
}

// An uncompressed package whose File or Directory names would lead out of
// their folder: refused, and nothing is written anywhere.
TEST_F(EngineTest, NamesLeadingOutOfTheirFolderAreRefused) {
  struct Case {
    const char* fileName;
    const char* defaultDir;
  } cases[] = {{"..\\evil.txt", "App"}, {"sub/evil.txt", "App"}, {"evil.txt", ".."}, {"evil.txt", "a\\..\\.."},
               {"x|..", "App"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.fileName) + " in " + k.defaultDir);
    std::filesystem::remove_all(c("pkg"));
    std::string tables = std::string("Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\n") +
                         "TARGETDIR\t\tSourceDir\nProgramFilesFolder\tTARGETDIR\t.\nINSTALLDIR\tProgramFilesFolder\t" +
                         k.defaultDir + "\n";
    std::vector<msi_test::Idt> idt = {
        {"Property.idt", "Property\tValue\ns72\tl0\nProperty\tProperty\n"
                         "ProductCode\t{12345678-1234-1234-1234-123456789ABC}\nProductVersion\t1.0\n"},
        {"Directory.idt", tables},
        {"Component.idt",
         "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\ns72\tS38\ts72\ti2\tS255\tS72\n"
         "Component\tComponent\nMain\t{11111111-2222-3333-4444-555555555555}\tINSTALLDIR\t0\t\tF1\n"},
        {"Feature.idt",
         "Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes\n"
         "s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2\nFeature\tFeature\nAll\t\tAll\t\t1\t1\t\t0\n"},
        {"FeatureComponents.idt", "Feature_\tComponent_\ns38\ts72\nFeatureComponents\tFeature_\tComponent_\nAll\tMain\n"},
        {"File.idt",
         "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
         "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\nFile\tFile\nF1\tMain\t" + std::string(k.fileName) + "\t4\t\t\t0\t1\n"},
    };
    ASSERT_TRUE(msi_test::buildIdtPackage(unixPackage("evil.msi"), idt));
    put("pkg/evil.txt", "evil");
    put("pkg/sub/evil.txt", "evil");
    EXPECT_EQ(MsiInstallProductW(windowsPackage("evil.msi").c_str(), u""), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_FALSE(exists("Program Files/evil.txt"));
    EXPECT_FALSE(exists("evil.txt"));
    EXPECT_FALSE(exists("Program Files/App"));
    EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
  }
}

TEST_F(EngineTest, APatchWhoseCodeIsNoGuidIsRefusedAndWritesNoKey) {
  buildWix();
  ASSERT_EQ(MsiInstallProductW(windowsPackage("demo.msi").c_str(), u""), 0u);
  const std::u16string patches = u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Patches";
  for (const char* code : {"\\", "a\\b", "", "{ABCDEF00-1111-2222-3333-44445555666}", "ABCDEF00-1111-2222-3333-444455556666"}) {
    SCOPED_TRACE(code);
    msi_test::SummarySpec spec;
    spec.templ = "{87654321-4321-4321-4321-CBA987654321}";
    spec.revision = code;
    std::filesystem::remove_all(c("pkg/idt"));
    ASSERT_TRUE(msi_test::buildIdtPackage(unixPackage("bad.msp"), msi_test::smallTables(), spec));
    EXPECT_EQ(MsiApplyPatchW(windowsPackage("bad.msp").c_str(), nullptr, INSTALLTYPE_DEFAULT, u""),
              static_cast<UINT>(ERROR_PATCH_PACKAGE_INVALID));
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, patches.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS) {
      DWORD values = 0, keys = 0;
      EXPECT_EQ(RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                                 nullptr, nullptr),
                ERROR_SUCCESS);
      EXPECT_EQ(values, 0u);
      EXPECT_EQ(keys, 0u);
      RegCloseKey(h);
    }
  }
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

// A wixl package of 30 files whose embedded cabinet `damage` changes in place
// (given the bytes and where the cabinet starts); then the install must fail
// with 1603, leave nothing behind and log `logged`.
void EngineTest::installDamagedCabinet(const std::function<void(std::string&, std::size_t)>& damage,
                                       const char* logged) {
  std::string dir = c("wixmany");
  msi_test::writeFile(dir + "/many.wxs", manyFilesWxs(dir, 30));
  std::filesystem::create_directories(c("pkg"));
  int st = 0;
  msi_test::run("cd " + msi_test::quote(dir) + " && wixl -o " + msi_test::quote(unixPackage("many.msi")) +
                    " many.wxs",
                &st);
  ASSERT_EQ(st, 0) << "wixl failed";
  std::string bytes = readFile(unixPackage("many.msi"));
  std::size_t cab = bytes.find("MSCF");
  ASSERT_NE(cab, std::string::npos);
  damage(bytes, cab);
  msi_test::writeFile(unixPackage("many.msi"), bytes);

  EXPECT_EQ(MsiInstallProductW(windowsPackage("many.msi").c_str(), u""), static_cast<UINT>(ERROR_INSTALL_FAILURE));
  EXPECT_FALSE(exists("Program Files/Many"));
  EXPECT_FALSE(exists("Program Files"));
  EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
  EXPECT_NE(get("install.log").find(logged), std::string::npos) << get("install.log");
}

// Damage in the embedded cabinet's compressed data: the install fails with
// 1603 partway through, and what it wrote before goes again.
TEST_F(EngineTest, ADamagedCabinetFailsAndLeavesNothingBehind) {
  installDamagedCabinet([](std::string& bytes, std::size_t cab) {
    std::size_t data = cab + le32(bytes, cab + 36), end = cab + le32(bytes, cab + 8);  // first folder's data, size
    ASSERT_LT(data + 8, end);
    for (std::size_t k = (data + end) / 2; k < (data + end) / 2 + 64 && k < end; ++k) bytes[k] ^= 0x5A;
  }, "Error 1334");
}

// A cabinet whose file entries lie beyond its end never reaches the cabinet
// library: the structure check refuses it first.
TEST_F(EngineTest, ACabinetWithEntriesOutsideItIsRefusedBeforeItIsRead) {
  installDamagedCabinet([](std::string& bytes, std::size_t cab) {
    const std::uint32_t past = le32(bytes, cab + 8) + 4096;  // coffFiles beyond cbCabinet
    for (int i = 0; i < 4; ++i) bytes[cab + 16 + i] = static_cast<char>((past >> (8 * i)) & 0xFF);
  }, "is damaged");
}

}  // namespace
