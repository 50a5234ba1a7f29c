// The installation tree of a package made by wixl: what loads, its links and
// paths, checked against msiinfo export and msiextract.
#include "msi/entities/tree.h"

#include <algorithm>
#include <functional>
#include <list>
#include <sstream>

#include "msi/entities/directory.h"
#include "msi/entities/entity_fixture.h"
#include "msi/entities/formatted_string.h"
#include "msi/entities/property.h"
#include "msi/entities/upgrade.h"
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

namespace {

// The first column of every data row of an msiinfo export: the keys in table order.
std::list<std::u16string> exportedKeys(const std::string& exported) {
  std::list<std::u16string> keys;
  std::vector<std::string> rows = lines(exported);
  for (std::size_t i = 3; i < rows.size(); ++i) {
    std::string key = rows[i].substr(0, rows[i].find('\t'));
    keys.emplace_back(key.begin(), key.end());
  }
  return keys;
}

// Whatever touches the installation tree first reads all of it, so each way in
// gives the answers of a tree read whole (msiinfo export the witness).
TEST_F(TreeTest, EveryFirstWayIntoTheTreeReadsItWhole) {
  std::u16string path = buildTree();
  using Package = Msi::MsiPackage;
  struct Way {
    const char* name;
    std::function<void(Package&)> touch;
    bool propertiesOnly = false;
  };
  const Way ways[] = {
      {"componentKeys", [](Package& p) { p.componentKeys(); }},
      {"fileKeys", [](Package& p) { p.fileKeys(); }},
      {"featureKeys", [](Package& p) { p.featureKeys(); }},
      {"directoryKeys", [](Package& p) { p.directoryKeys(); }},
      {"cabinetKeys", [](Package& p) { p.cabinetKeys(); }},
      {"isolatedComponentKeys", [](Package& p) { p.isolatedComponentKeys(); }},
      {"rootDirectoryKey", [](Package& p) { p.rootDirectoryKey(); }},
      {"hasAssembly", [](Package& p) { p.hasAssembly(u"Main"); }},
      {"assemblyForComponent", [](Package& p) { p.assemblyForComponent(u"Main"); }},
      // Found by key before the tree: still listed, with all its links.
      {"find component", [](Package& p) { p.find<Msi::MsiComponent>(u"Main"); }},
      {"find file", [](Package& p) { p.find<Msi::MsiFile>(u"Readme"); }},
      {"find feature", [](Package& p) { p.find<Msi::MsiFeature>(u"Extras"); }},
      {"find directory", [](Package& p) { p.find<Msi::MsiDirectory>(u"BINDIR"); }},
      {"identity map", [](Package& p) { p.identityMap<Msi::MsiComponent>(); }},
      {"findFeature", [](Package& p) { p.findFeature(u"Complete"); }},
      {"findComponentById", [](Package& p) { p.findComponentById(u"{11111111-2222-3333-4444-555555555556}"); }},
      {"findRootDirectory", [](Package& p) { p.findRootDirectory(); }},
      {"features", [](Package& p) { p.features(); }},
      {"files", [](Package& p) { p.files(); }},
      {"isolatedComponents", [](Package& p) { p.isolatedComponents(); }},
      {"close", [](Package& p) { p.close(); }},
      {"properties-only open", [](Package& p) { p.featureKeys(); }, true},
  };
  const std::string components = exportTable("tree.msi", "Component"), features = exportTable("tree.msi", "Feature"),
                    files = exportTable("tree.msi", "File"), directories = exportTable("tree.msi", "Directory"),
                    media = exportTable("tree.msi", "Media");
  for (const Way& way : ways) {
    auto package = way.propertiesOnly ? Package::openProperties(path) : Package::open(path, true);
    EXPECT_FALSE(package->treeRead()) << way.name;
    way.touch(*package);
    EXPECT_TRUE(package->treeRead()) << way.name;
    EXPECT_EQ(package->componentKeys().keys(), exportedKeys(components)) << way.name;
    EXPECT_EQ(package->featureKeys().keys(), exportedKeys(features)) << way.name;
    EXPECT_EQ(package->fileKeys().keys(), exportedKeys(files)) << way.name;
    EXPECT_EQ(package->directoryKeys().keys(), exportedKeys(directories)) << way.name;
    EXPECT_EQ(package->cabinetKeys().keys(), exportedKeys(media)) << way.name;
    EXPECT_EQ(narrow(package->rootDirectoryKey()), "TARGETDIR") << way.name;
    Msi::MsiComponent* main = package->find<Msi::MsiComponent>(u"Main");
    ASSERT_NE(main, nullptr) << way.name;
    EXPECT_EQ(main->kind(), Msi::MsiComponent::Kind::File) << way.name;
    EXPECT_EQ(main->featureKeys(), (std::list<std::u16string>{u"Complete", u"Extras"})) << way.name;
    EXPECT_EQ(main->fileKeys(), (std::list<std::u16string>{u"ToolExe", u"Readme"})) << way.name;
    EXPECT_EQ(package->find<Msi::MsiFeature>(u"Extras")->componentKeys(),
              (std::list<std::u16string>{u"Main", u"Lib"}))
        << way.name;
  }
}

// A commit that never asked for the tree leaves it unread and its rows as they were.
TEST_F(TreeTest, ACommitWithoutTheTreeChangesOnlyWhatChanged) {
  std::u16string path = buildTree();
  copy("tree.msi", "before.msi");
  {
    auto package = Msi::MsiPackage::open(path, false);
    package->property(u"ProductName", false)->setValue(u"Tree Demo 2");
    package->commit();
    EXPECT_FALSE(package->treeRead());
  }
  EXPECT_EQ(diff("before.msi", "tree.msi"), (std::vector<std::string>{"-ProductName\tTree Demo", "+ProductName\tTree Demo 2"}));
  auto reopened = Msi::MsiPackage::open(path, true);
  EXPECT_EQ(reopened->componentKeys().keys(), exportedKeys(exportTable("before.msi", "Component")));
}

std::vector<std::uint32_t> chain(const Common::Error& e) {
  std::vector<std::uint32_t> codes;
  for (Common::Error c = e; c; c = c.cause()) codes.push_back(c.code());
  return codes;
}

// A tree that does not read is refused at its first use and at every use after,
// as the open refused it before: never an empty or half tree. The rest of the
// package (properties) still reads.
TEST_F(TreeTest, ADamagedTreeIsRefusedAtEveryUse) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> tables;
    std::uint32_t cause;  // a number the error's chain holds
  };
  const Case cases[] = {
      {"looping directories",
       {{"Directory", entity_test::directoryIdt({"TARGETDIR\t\tSourceDir", "X\tY\tx", "Y\tX\ty"})}},
       61},
      // Attributes kept as text: a component whose kind cannot be told.
      {"component attributes that are no number",
       {{"Component",
         "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\ns72\tS38\ts72\ts72\tS255\tS72\n"
         "Component\tComponent\nC1\t\tTARGETDIR\tvital\t\t\n"}},
       5},
  };
  using Package = Msi::MsiPackage;
  const std::function<void(Package&)> uses[] = {
      [](Package& p) { p.componentKeys(); },
      [](Package& p) { p.find<Msi::MsiDirectory>(u"TARGETDIR"); },
      [](Package& p) { p.features(); },
      [](Package& p) { p.findComponentById(u"{11111111-2222-3333-4444-555555555555}"); },
      [](Package& p) { p.fileKeys(); },
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> tables = c.tables;
    tables["Property"] = propertyIdt({{"A", "1"}});
    std::u16string path = build(std::string("damaged-") + std::to_string(&c - cases) + ".msi", tables);
    std::unique_ptr<Package> package;
    ASSERT_NO_THROW(package = Package::open(path, true)) << c.name;
    EXPECT_EQ(narrow(package->property(u"A", false)->value()), "1") << c.name;
    for (const auto& use : uses) {
      try {
        use(*package);
        ADD_FAILURE() << c.name << ": the tree was used";
      } catch (const Msi::Error& e) {
        std::vector<std::uint32_t> codes = chain(e);
        EXPECT_EQ(e.code(), 13u) << c.name;
        EXPECT_EQ(e.module(), 0x6e1fbba0u) << c.name;
        EXPECT_NE(std::find(codes.begin(), codes.end(), c.cause), codes.end()) << c.name;
      }
    }
  }
}

}  // namespace
