// The installation tree of a package made by wixl: what loads, its links and
// paths, checked against msiinfo export and msiextract.
#include "msi/entities/tree.h"

#include <algorithm>
#include <sstream>

#include "msi/entities/directory.h"
#include "msi/entities/entity_fixture.h"
#include "msi/entities/formatted_string.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"

namespace {

using entity_test::lines;
using model_test::narrow;
using model_test::run;
using model_test::shellQuote;

const char kWxs[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="12345678-1234-1234-1234-123456789ABC" Name="Tree Demo" Language="1033" Version="1.2.3.4"
           Manufacturer="Korvane" UpgradeCode="87654321-4321-4321-4321-CBA987654321">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="t.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Tree Demo">
          <Component Id="Main" Guid="11111111-2222-3333-4444-555555555555">
            <File Id="ToolExe" Name="tool.exe" Source="tool.exe" KeyPath="yes"/>
            <File Id="Readme" Name="read me.txt" Source="read me.txt"/>
          </Component>
          <Directory Id="BINDIR" Name="bin">
            <Component Id="Lib" Guid="11111111-2222-3333-4444-555555555556">
              <File Id="LibDll" Name="library.dll" Source="library.dll" KeyPath="yes"/>
            </Component>
          </Directory>
          <Component Id="Reg" Guid="11111111-2222-3333-4444-555555555557">
            <RegistryValue Root="HKLM" Key="Software\Korvane\Tree" Name="Version" Type="string"
                           Value="[ProductVersion]" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Title="Tree" Level="1">
      <ComponentRef Id="Main"/>
      <ComponentRef Id="Reg"/>
      <Feature Id="Extras" Title="Extras" Level="1">
        <ComponentRef Id="Lib"/>
        <ComponentRef Id="Main"/>
      </Feature>
    </Feature>
  </Product>
</Wix>
)";

class TreeTest : public model_test::PackageWorld {
 protected:
  std::u16string buildTree() {
    put("wix/t.wxs", kWxs);
    put("wix/tool.exe", "MZ tool");
    put("wix/read me.txt", "hello\n");
    put("wix/library.dll", "MZ lib");
    int rc = 0;
    run("cd " + shellQuote(c("wix")) + " && wixl -o ../tree.msi t.wxs", &rc);
    EXPECT_EQ(rc, 0);
    return u"C:\\tree.msi";
  }
  // The data rows of msiinfo export (the three header lines left out).
  std::size_t rowCount(const std::string& table) {
    std::size_t n = lines(exportTable("tree.msi", table)).size();
    return n >= 3 ? n - 3 : 0;
  }
};

TEST_F(TreeTest, TheWholeTreeLoadsAsMsiinfoExportsIt) {
  auto package = Msi::MsiPackage::open(buildTree(), true);
  EXPECT_EQ(package->componentKeys().size(), rowCount("Component"));
  EXPECT_EQ(package->featureKeys().size(), rowCount("Feature"));
  EXPECT_EQ(package->fileKeys().size(), rowCount("File"));
  EXPECT_EQ(package->directoryKeys().size(), rowCount("Directory"));

  using Kind = Msi::MsiComponent::Kind;
  EXPECT_EQ(package->find<Msi::MsiComponent>(u"Main")->kind(), Kind::File);
  EXPECT_EQ(package->find<Msi::MsiComponent>(u"Reg")->kind(), Kind::Registry);
  Msi::MsiComponent* main = package->find<Msi::MsiComponent>(u"Main");
  // Held by two features, linked to both.
  EXPECT_EQ(main->featureKeys(), (std::list<std::u16string>{u"Complete", u"Extras"}));
  EXPECT_EQ(main->fileKeys(), (std::list<std::u16string>{u"ToolExe", u"Readme"}));
  EXPECT_EQ(package->find<Msi::MsiFeature>(u"Extras")->componentKeys(),
            (std::list<std::u16string>{u"Main", u"Lib"}));
  EXPECT_EQ(narrow(package->find<Msi::MsiFeature>(u"Extras")->parentKey()), "Complete");
}

TEST_F(TreeTest, ObjectsReadFromRowsStartUnmarkedAndWriteTheirRowsBack) {
  auto package = Msi::MsiPackage::open(buildTree(), true);
  auto check = [&](auto* object, const std::u16string& table) {
    ASSERT_NE(object, nullptr);
    EXPECT_FALSE(object->isModified()) << narrow(object->key());
    Msi::MsiRow* stored = package->database()->table(table).findRow(object->key());
    ASSERT_NE(stored, nullptr);
    Msi::MsiRow written(stored->valueCount(), stored->columns());
    object->writeTo(written);
    EXPECT_EQ(written.values(), stored->values()) << narrow(object->key());
  };
  for (const auto& k : package->componentKeys().keys()) check(package->find<Msi::MsiComponent>(k), u"Component");
  for (const auto& k : package->featureKeys().keys()) check(package->find<Msi::MsiFeature>(k), u"Feature");
  for (const auto& k : package->fileKeys().keys()) check(package->find<Msi::MsiFile>(k), u"File");
  for (const auto& k : package->directoryKeys().keys()) check(package->find<Msi::MsiDirectory>(k), u"Directory");
}

TEST_F(TreeTest, TargetPathsAreWhereMsiextractPutsTheFiles) {
  std::u16string path = buildTree();
  std::vector<std::string> extracted = lines(run("msiextract -C " + shellQuote(c("out")) + " " + shellQuote(c("tree.msi"))));
  ASSERT_EQ(extracted.size(), 3u);
  auto package = Msi::MsiPackage::open(path, true);
  for (const auto& key : package->fileKeys().keys()) {
    std::string mine = narrow(package->find<Msi::MsiFile>(key)->targetPath());
    std::replace(mine.begin(), mine.end(), '\\', '/');
    // msiextract names the program files folder itself; the rest must agree.
    auto match = std::find_if(extracted.begin(), extracted.end(), [&](const std::string& e) {
      return e.size() >= mine.size() && e.compare(e.size() - mine.size(), mine.size(), mine) == 0;
    });
    EXPECT_NE(match, extracted.end()) << mine;
    EXPECT_EQ(package->find<Msi::MsiFile>(key)->targetPath(),
              Msi::MsiFormattedString(package.get(), u"[#" + key + u"]").format());
  }
  EXPECT_EQ(narrow(Msi::MsiFormattedString(package.get(), u"[$Lib]").format()), "\\Tree Demo\\bin");
}

TEST_F(TreeTest, RemovedComponentsAndFeaturesTakeTheirRowsAndLinks) {
  std::u16string path = buildTree();
  {
    auto package = Msi::MsiPackage::open(path, false);
    package->find<Msi::MsiComponent>(u"Lib")->remove();
    package->find<Msi::MsiFeature>(u"Complete")->remove();
    EXPECT_EQ(package->find<Msi::MsiComponent>(u"Lib"), nullptr);
    package->commit();
  }
  EXPECT_EQ(lines(exportTable("tree.msi", "FeatureComponents")),
            (std::vector<std::string>{"Feature_\tComponent_", "s38\ts72", "FeatureComponents\tFeature_\tComponent_",
                                      "Extras\tMain"}));
  EXPECT_EQ(exportTable("tree.msi", "Component").find("\nLib\t"), std::string::npos);
  EXPECT_EQ(exportTable("tree.msi", "Feature").find("\nComplete\t"), std::string::npos);
  auto reopened = Msi::MsiPackage::open(path, true);
  EXPECT_EQ(reopened->componentKeys().size(), 2u);
  EXPECT_EQ(reopened->featureKeys().size(), 1u);
}

}  // namespace
