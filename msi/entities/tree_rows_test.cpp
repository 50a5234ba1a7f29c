// The rows around the installation tree: binaries, custom actions, the execute
// sequence, component resources, upgrades, isolated components, assemblies and
// shortcuts, in a package made by wixl with msibuild-imported tables for what
// wixl cannot write; checked against msiinfo export and msidiff.
#include <algorithm>
#include <functional>
#include <sstream>

#include "msi/entities/actions.h"
#include "msi/entities/directory.h"
#include "msi/entities/entity_fixture.h"
#include "msi/entities/resources.h"
#include "msi/entities/shortcut.h"
#include "msi/entities/tree.h"
#include "msi/entities/upgrade.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"

namespace {

using entity_test::all;
using entity_test::lines;
using model_test::narrow;
using model_test::run;
using model_test::shellQuote;
using Msi::MsiPackage;

const char kWxs[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="12345678-1234-1234-1234-123456789ABC" Name="Act Demo" Language="1033" Version="1.2.3.4"
           Manufacturer="Korvane" UpgradeCode="87654321-4321-4321-4321-CBA987654321">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="t.cab" EmbedCab="yes"/>
    <Binary Id="Helper" SourceFile="helper.dll"/>
    <CustomAction Id="CallHelper" BinaryKey="Helper" DllEntry="Run" Execute="deferred" Return="ignore"/>
    <CustomAction Id="SetProp" Property="SOMEPROP" Value="[ProductName] x"/>
    <InstallExecuteSequence>
      <Custom Action="CallHelper" After="InstallFiles">NOT Installed</Custom>
    </InstallExecuteSequence>
    <Upgrade Id="AAAAAAAA-1111-2222-3333-444444444444">
      <UpgradeVersion Minimum="1.0.0" Maximum="1.2.3.4" IncludeMinimum="yes" IncludeMaximum="no" Property="OLDER"/>
      <UpgradeVersion Minimum="1.2.3.4" OnlyDetect="yes" Property="NEWER"/>
    </Upgrade>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Act Demo">
          <Component Id="Main" Guid="11111111-2222-3333-4444-555555555555">
            <File Id="ToolExe" Name="tool.exe" Source="tool.exe" KeyPath="yes">
              <Shortcut Id="AdLink" Directory="ProgramMenuFolder" Name="Ad Tool" Advertise="yes"/>
            </File>
            <Shortcut Id="ToolLink" Directory="ProgramMenuFolder" Name="Start Tool" Target="[#ToolExe]"
                      Arguments="-x [ProductName]" WorkingDirectory="INSTALLDIR"/>
          </Component>
          <Directory Id="BINDIR" Name="bin">
            <Component Id="Lib" Guid="11111111-2222-3333-4444-555555555556">
              <File Id="LibDll" Name="library.dll" Source="library.dll" KeyPath="yes"/>
            </Component>
            <Component Id="Dirs" Guid="11111111-2222-3333-4444-555555555558">
              <CreateFolder/>
            </Component>
          </Directory>
          <Component Id="Reg" Guid="11111111-2222-3333-4444-555555555557">
            <RegistryValue Root="HKLM" Key="Software\Korvane\Act" Name="Version" Type="string"
                           Value="[ProductVersion]" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder"/>
    </Directory>
    <Feature Id="Complete" Title="Act" Level="1">
      <ComponentRef Id="Main"/>
      <ComponentRef Id="Lib"/>
      <ComponentRef Id="Dirs"/>
      <ComponentRef Id="Reg"/>
    </Feature>
  </Product>
</Wix>
)";

// The tables wixl cannot write, as msibuild imports them.
const std::vector<std::pair<std::string, std::string>> kIdt = {
    {"IniFile",
     "IniFile\tFileName\tDirProperty\tSection\tKey\tValue\tAction\tComponent_\n"
     "s72\tl255\tS72\tl96\tl128\tl255\ti2\ts72\nIniFile\tIniFile\n"
     "Ini0\tapp.ini\tINSTALLDIR\tMain\tName\t[ProductName]\t0\tMain\n"
     "Ini2\tapp.ini\tINSTALLDIR\tMain\tOld\tx\t2\tMain\n"
     "Ini4\tapp.ini\t\tMain\tTag\ty\t4\tMain\n"},
    {"Environment",
     "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\n"
     "Env1\tACT_HOME\t[ProductName] home\tMain\n"},
    {"DuplicateFile",
     "FileKey\tComponent_\tFile_\tDestName\tDestFolder\ns72\ts72\ts72\tL255\tS72\nDuplicateFile\tFileKey\n"
     "Dup1\tMain\tToolExe\tcopy.exe\t\nDup2\tMain\tToolExe\tcopy2.exe\tBINDIR\nDup3\tMain\tToolExe\tc3.exe\tNOWHERE\n"},
    {"MoveFile",
     "FileKey\tComponent_\tSourceName\tDestName\tSourceFolder\tDestFolder\tOptions\n"
     "s72\ts72\tL255\tL255\tS72\ts72\ti2\nMoveFile\tFileKey\n"
     "Mv1\tMain\t*.log\t\tINSTALLDIR\tBINDIR\t1\n"},
    {"IsolatedComponent",
     "Component_Shared\tComponent_Application\ns72\ts72\nIsolatedComponent\tComponent_Shared\tComponent_Application\n"
     "Lib\tMain\nReg\tMain\n"},
    {"RestrictedProducts",
     "UpgradeCode\tVersionMin\tVersionMax\tActionProperty\ns38\tS20\tS20\ts72\n"
     "RestrictedProducts\tUpgradeCode\tVersionMin\tVersionMax\n"
     "{BBBBBBBB-1111-2222-3333-444444444444}\t1.0\t2.0\tRESTRICTED\n"
     "{BBBBBBBB-1111-2222-3333-444444444444}\t1.0\t3.0\tRESTRICTED2\n"},
    {"MsiAssembly",
     "Component_\tFeature_\tFile_Manifest\tFile_Application\tAttributes\ns72\ts38\tS72\tS72\tI2\n"
     "MsiAssembly\tComponent_\nLib\tComplete\tLibDll\t\t1\n"},
    {"MsiAssemblyName",
     "Component_\tName\tValue\ns72\ts255\ts255\nMsiAssemblyName\tComponent_\tName\n"
     "Lib\tname\tLibrary\nLib\tversion\t1.0.0.0\n"},
    {"ServiceInstall",
     "ServiceInstall\tName\tDisplayName\tServiceType\tStartType\tErrorControl\tLoadOrderGroup\tDependencies\t"
     "StartName\tPassword\tArguments\tComponent_\tDescription\n"
     "s72\ts255\tL255\ti4\ti4\ti4\tS255\tS255\tS255\tS255\tS255\ts72\tL255\nServiceInstall\tServiceInstall\n"
     "Svc\tSvc\tThe [ProductName] service\t16\t2\t1\t\t+Grp[~]Other[~]Ext[~][~]\t\t\t\tMain\tdesc\n"
     "Other\tOther\tOther\t16\t3\t1\t\t\t\t\t\tMain\t\n"},
};

class TreeRowsTest : public model_test::PackageWorld {
 protected:
  std::u16string buildPackage() {
    put("wix/t.wxs", kWxs);
    put("wix/tool.exe", "MZ tool");
    put("wix/library.dll", "MZ lib");
    put("wix/helper.dll", "MZ helper bytes");
    int rc = 0;
    run("cd " + shellQuote(c("wix")) + " && wixl -o ../rows.msi t.wxs", &rc);
    EXPECT_EQ(rc, 0);
    for (const auto& [table, text] : kIdt) {
      put("idt/" + table + ".idt", text);
      run("msibuild " + shellQuote(c("rows.msi")) + " -i " + shellQuote(c("idt/" + table + ".idt")), &rc);
      EXPECT_EQ(rc, 0) << table;
    }
    return u"C:\\rows.msi";
  }
  std::size_t rowCount(const std::string& table) {
    std::size_t n = lines(exportTable("rows.msi", table)).size();
    return n >= 3 ? n - 3 : 0;
  }
  // Every object of the resource tables, read as the children of each component.
  template <class T>
  std::vector<T*> resources(MsiPackage* package) {
    std::vector<T*> out;
    for (const auto& c : package->componentKeys().keys()) {
      std::list<std::u16string> keys;
      Msi::loadComponentResources<T>(package, c, keys);
      for (const auto& k : keys) out.push_back(package->identityMap<T>().find(k));
    }
    return out;
  }
};

TEST_F(TreeRowsTest, EveryKindLoadsAsMsiinfoExportsIt) {
  auto package = MsiPackage::open(buildPackage(), true);
  EXPECT_EQ(package->customActionKeys().size(), rowCount("CustomAction"));
  EXPECT_EQ(package->isolatedComponentKeys().size(), rowCount("IsolatedComponent"));
  EXPECT_EQ(all(package->installExecuteSequence()).size(), rowCount("InstallExecuteSequence"));
  EXPECT_EQ(all(package->majorUpgrades()).size(), rowCount("Upgrade"));
  EXPECT_EQ(all(package->restrictedProducts()).size(), rowCount("RestrictedProducts"));
  EXPECT_EQ(all(package->files()).size(), rowCount("File"));
  EXPECT_EQ(resources<Msi::MsiIniFile>(package.get()).size(), rowCount("IniFile"));
  EXPECT_EQ(resources<Msi::MsiDuplicateFile>(package.get()).size(), rowCount("DuplicateFile"));
  EXPECT_EQ(resources<Msi::MsiAssemblyName>(package.get()).size(), rowCount("MsiAssemblyName"));
  EXPECT_EQ(resources<Msi::MsiCreateFolder>(package.get()).size(), rowCount("CreateFolder"));

  // The assembly rows came first, so Lib is of the assembly kind.
  using Kind = Msi::MsiComponent::Kind;
  std::map<std::u16string, Kind> kinds = {
      {u"Main", Kind::File}, {u"Lib", Kind::Assembly}, {u"Dirs", Kind::Directory}, {u"Reg", Kind::Registry}};
  for (const auto& [key, kind] : kinds) EXPECT_EQ(package->find<Msi::MsiComponent>(key)->kind(), kind) << narrow(key);
  Msi::MsiAssembly* assembly = package->assemblyForComponent(u"Lib");
  ASSERT_NE(assembly, nullptr);
  EXPECT_TRUE(assembly->isWin32Assembly());
  EXPECT_EQ(assembly->manifestFile(), package->find<Msi::MsiFile>(u"LibDll"));
  EXPECT_EQ(assembly->applicationFile(), nullptr);
  EXPECT_EQ(assembly->feature(), package->findFeature(u"Complete"));
  EXPECT_EQ(package->assemblyForComponent(u"Main"), nullptr);
  EXPECT_EQ(package->find<Msi::MsiComponent>(u"Lib")->assembly(), assembly);
  EXPECT_EQ(assembly->component(), package->find<Msi::MsiComponent>(u"Lib"));
  EXPECT_EQ(package->find<Msi::MsiComponent>(u"Main")->assembly(), nullptr);

  auto isolated = all(package->isolatedComponents());
  ASSERT_EQ(isolated.size(), 2u);
  EXPECT_EQ(isolated[0]->sharedComponent(), package->find<Msi::MsiComponent>(u"Lib"));
  EXPECT_EQ(isolated[0]->applicationComponent(), package->find<Msi::MsiComponent>(u"Main"));

  // The code is bound, not pasted: quotes and "?" find nothing and break nothing.
  EXPECT_EQ(package->findComponentById(u"{11111111-2222-3333-4444-555555555556}"),
            package->find<Msi::MsiComponent>(u"Lib"));
  EXPECT_EQ(package->findComponentById(u"x' OR `Component` <> '"), nullptr);
  EXPECT_EQ(package->findComponentById(u"?"), nullptr);
  EXPECT_EQ(package->findFeature(u"Nope"), nullptr);
  EXPECT_EQ(package->maxFileSequence(), 2);
}

TEST_F(TreeRowsTest, EveryRowWritesBackUnchanged) {
  std::u16string path = buildPackage();
  copy("rows.msi", "before.msi");
  {
    auto package = MsiPackage::open(path, false);
    entity_test::WriteBackCheck check(*package);
    for (auto* o : all(package->customActions())) check(o);
    for (auto* o : all(package->installExecuteSequence())) check(o);
    for (auto* o : all(package->majorUpgrades())) check(o);
    for (auto* o : all(package->restrictedProducts())) check(o);
    for (auto* o : all(package->isolatedComponents())) check(o);
    check(package->find<Msi::MsiBinary>(u"Helper"));
    check(package->assemblyForComponent(u"Lib"));
    check(package->find<Msi::MsiShortcut>(u"ToolLink"));
    check(package->find<Msi::MsiShortcut>(u"AdLink"));
    for (auto* o : resources<Msi::MsiIniFile>(package.get())) check(o);
    for (auto* o : resources<Msi::MsiEnvironment>(package.get())) check(o);
    for (auto* o : resources<Msi::MsiDuplicateFile>(package.get())) check(o);
    for (auto* o : resources<Msi::MsiMoveFile>(package.get())) check(o);
    for (auto* o : resources<Msi::MsiServiceInstall>(package.get())) check(o);
    for (auto* o : resources<Msi::MsiCreateFolder>(package.get())) check(o);
    for (auto* o : resources<Msi::MsiAssemblyName>(package.get())) check(o);
    // Written for real: every row saved again, the Binary stream kept.
    check.saveAll();
    package->commit();
  }
  EXPECT_EQ(diff("before.msi", "rows.msi"), std::vector<std::string>{});
  EXPECT_EQ(run("msiinfo extract " + shellQuote(c("rows.msi")) + " Binary.Helper"), "MZ helper bytes");
}

TEST_F(TreeRowsTest, CustomActionsAndTheExecuteSequence) {
  auto package = MsiPackage::open(buildPackage(), true);
  Msi::MsiCustomAction* call = package->find<Msi::MsiCustomAction>(u"CallHelper");
  ASSERT_NE(call, nullptr);
  auto* dll = dynamic_cast<Msi::MsiCustomActionDll*>(call);
  ASSERT_NE(dll, nullptr);  // 3137 has bit 0x01
  EXPECT_EQ(call->type(), 3137);
  EXPECT_TRUE(call->isContinue());
  EXPECT_EQ(narrow(call->source()), "Helper");
  auto* set = dynamic_cast<Msi::MsiCustomActionDll*>(package->find<Msi::MsiCustomAction>(u"SetProp"));
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(narrow(set->expandedTarget()), "Act Demo x");
  call->setContinue(false);
  EXPECT_EQ(call->type(), 3137 & ~0x40);

  EXPECT_EQ(package->find<Msi::MsiBinary>(u"Helper")->data(), u"");
  for (auto* step : all(package->installExecuteSequence())) {
    if (step->action() != u"CallHelper") continue;
    EXPECT_EQ(narrow(step->condition()), "NOT Installed");
    EXPECT_EQ(step->sequence(), 6601);
  }
}

TEST_F(TreeRowsTest, DllsCustomActionsAndUpgradesAreAuthored) {
  std::u16string path = buildPackage();
  put("new.dll", "MZ new dll");
  std::u16string name;
  {
    auto package = MsiPackage::open(path, false);
    Msi::MsiBinary* dll = package->addDll(u"C:\\new.dll");
    name = dll->name();
    EXPECT_EQ(name.size(), 33u);
    EXPECT_EQ(name[0], u'_');
    try {
      package->addDll(u"C:\\new.dll");
      ADD_FAILURE() << "a second DLL of the same path";
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.code(), 51u);
    }
    Msi::MsiBinary stranger(package.get(), u"C:\\other.dll");
    try {
      package->addCustomActionDll(u"X", &stranger);
      ADD_FAILURE() << "a DLL the package does not hold";
    } catch (const Msi::Error& e) {
      EXPECT_EQ(e.code(), 50u);
    }
    auto* action = dynamic_cast<Msi::MsiCustomActionDll*>(package->addCustomActionDll(u"MyAction", dll));
    ASSERT_NE(action, nullptr);
    action->setTarget(u"Entry");
    Msi::MsiMajorUpgrade* upgrade = package->addMajorUpgrade(u"{CCCCCCCC-1111-2222-3333-444444444444}");
    upgrade->setActionProperty(u"ALLFLAGS");
    upgrade->setAttributes(0x3F);
    Msi::MsiNonmsiUpgrade* other = package->addNonMsiUpgrade(u"Old Tool");
    other->setAction(u"Remove");
    other->setSequence(-5);
    EXPECT_EQ(other->sequence(), -5);
    package->commit();
  }
  std::string n = narrow(name);
  EXPECT_NE(exportTable("rows.msi", "CustomAction").find("MyAction\t1\t" + n + "\tEntry\t"), std::string::npos);
  EXPECT_EQ(run("msiinfo extract " + shellQuote(c("rows.msi")) + " Binary." + n), "MZ new dll");
  EXPECT_NE(exportTable("rows.msi", "Upgrade").find("{CCCCCCCC-1111-2222-3333-444444444444}\t\t\t\t1799\t\tALLFLAGS"),
            std::string::npos);
  EXPECT_NE(exportTable("rows.msi", "UpgradeNonMsi").find("Old Tool\tRemove\t-5"), std::string::npos);
}

TEST_F(TreeRowsTest, UpgradeAttributesPackAndKeysTellRowsApart) {
  struct Case {
    std::int32_t flags, attributes;
  };
  for (Case k : {Case{0x3F, 1799}, Case{0x08, 0x100}, Case{0x0A, 258}, Case{0x40, 0}, Case{0x07, 7}})
    EXPECT_EQ(Msi::packUpgradeAttributes(k.flags), k.attributes) << k.flags;
  for (Case k : {Case{0x3F, 1799}, Case{0, 2048}, Case{0x0A, 258}, Case{0x01, 0x801}})
    EXPECT_EQ(Msi::unpackUpgradeAttributes(k.attributes), k.flags) << k.attributes;

  auto package = MsiPackage::open(buildPackage(), true);
  auto upgrades = all(package->majorUpgrades());
  ASSERT_EQ(upgrades.size(), 2u);
  EXPECT_EQ(upgrades[0]->attributes(), 0x0A);  // 258: only detect, VersionMin inclusive
  EXPECT_NE(upgrades[0]->key(), upgrades[1]->key());
  auto restricted = all(package->restrictedProducts());
  ASSERT_EQ(restricted.size(), 2u);  // differing only in VersionMax
  EXPECT_NE(restricted[0]->key(), restricted[1]->key());

  // A new upgrade's key covers its flags, which start at 0: the witness is
  // MD5 over length-prefixed UTF-16LE parts and the flags, worked out apart.
  Msi::MsiMajorUpgrade fresh(package.get());
  fresh.setUpgradeCode(u"{AAAAAAAA-1111-2222-3333-444444444444}");
  EXPECT_EQ(narrow(fresh.key()), "F9067907506923F4BCD944F2B79A9C4C");
  fresh.setAttributes(1);
  EXPECT_EQ(narrow(fresh.key()), "F9067907506923F4BCD944F2B79A9C4C");  // fixed at first use

  // Parts joined without a separator would make these two one key.
  std::u16string ab = u"AB", c = u"C", a = u"A", bc = u"BC", empty;
  EXPECT_NE(Msi::digestKey({&ab, &c}), Msi::digestKey({&a, &bc}));
  Msi::MsiIsolatedComponent half(package.get());
  EXPECT_EQ(half.key(), u"");
  auto folders = resources<Msi::MsiCreateFolder>(package.get());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(narrow(folders[0]->key()).size(), 32u);
  EXPECT_EQ(folders[0]->directory(), package->find<Msi::MsiDirectory>(u"BINDIR"));
}

TEST_F(TreeRowsTest, ShortcutsKeepTheirTargets) {
  std::u16string path = buildPackage();
  std::u16string made;
  {
    auto package = MsiPackage::open(path, false);
    auto* file = dynamic_cast<Msi::MsiFileShortcut*>(package->find<Msi::MsiShortcut>(u"ToolLink"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->storedTarget(), u"[#ToolExe]");
    EXPECT_EQ(file->target(), package->find<Msi::MsiFile>(u"ToolExe")->targetPath());
    EXPECT_EQ(narrow(file->arguments()), "-x Act Demo");
    EXPECT_EQ(file->workingDirectory(), package->find<Msi::MsiDirectory>(u"INSTALLDIR"));
    auto* advertised = dynamic_cast<Msi::MsiAdvertisedShortcut*>(package->find<Msi::MsiShortcut>(u"AdLink"));
    ASSERT_NE(advertised, nullptr);
    EXPECT_EQ(advertised->feature(), package->findFeature(u"Complete"));

    struct NameCase {
      std::u16string given;
      std::string stored;
    };
    for (const NameCase& k : {NameCase{u"Start App", "START_~1|Start App"}, NameCase{u"TOOL|My Tool", "TOOL|My Tool"}}) {
      file->setName(k.given);
      EXPECT_EQ(narrow(file->name()), k.stored);
    }
    file->setName(u"Start Tool");
    file->save(0);

    auto* fresh = new Msi::MsiFileShortcut(package.get(), package->find<Msi::MsiFile>(u"ToolExe"));
    fresh->setName(u"Fresh");
    made = fresh->key();
    ASSERT_TRUE(package->add<Msi::MsiShortcut>(fresh));
    fresh->save(0);
    package->commit();
  }
  std::string shortcuts = exportTable("rows.msi", "Shortcut");
  EXPECT_NE(shortcuts.find("ToolLink\tProgramMenuFolder\tSTART_~1|Start Tool\tMain\t[#ToolExe]\t-x [ProductName]"),
            std::string::npos)
      << shortcuts;
  EXPECT_NE(shortcuts.find(narrow(made) + "\tINSTALLDIR\tFRESH|Fresh\tMain\t[#ToolExe]\t"), std::string::npos)
      << shortcuts;
}

TEST_F(TreeRowsTest, ComponentResourcesResolveTheirFolders) {
  auto package = MsiPackage::open(buildPackage(), true);
  std::u16string install = package->find<Msi::MsiDirectory>(u"INSTALLDIR")->targetPath();
  std::u16string bin = package->find<Msi::MsiDirectory>(u"BINDIR")->targetPath();

  auto ini = resources<Msi::MsiIniFile>(package.get());
  ASSERT_EQ(ini.size(), 3u);
  // Every IniFile action 0 to 4 is legal; 2 and 4 among them.
  std::vector<std::int32_t> actions;
  for (auto* i : ini) actions.push_back(i->action());
  EXPECT_EQ(actions, (std::vector<std::int32_t>{0, 2, 4}));
  EXPECT_EQ(ini[0]->directoryPath(), install);
  EXPECT_EQ(ini[2]->directoryPath(), u"");
  EXPECT_EQ(narrow(ini[0]->iniValue()), "Act Demo");
  for (std::int32_t a : {0, 1, 2, 3, 4}) {
    ini[1]->setAction(a);
    EXPECT_EQ(ini[1]->action(), a);
  }
  for (std::int32_t bad : {5, -1}) EXPECT_THROW(ini[1]->setAction(bad), Msi::Error);
  EXPECT_EQ(ini[1]->action(), 4);

  auto duplicates = resources<Msi::MsiDuplicateFile>(package.get());
  ASSERT_EQ(duplicates.size(), 3u);
  // No DestFolder: beside the original file.
  EXPECT_EQ(duplicates[0]->destFolderPath(), install);
  EXPECT_EQ(duplicates[1]->destFolderPath(), bin);
  try {
    duplicates[2]->destFolderPath();
    ADD_FAILURE() << "a folder nothing names";
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 101u);
  }

  auto moves = resources<Msi::MsiMoveFile>(package.get());
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0]->options(), 1);
  EXPECT_EQ(moves[0]->sourceFolderPath(), install);
  EXPECT_EQ(moves[0]->destFolderPath(), bin);
  moves[0]->setOptions(2);
  EXPECT_EQ(moves[0]->options(), 1);
  EXPECT_TRUE(moves[0]->isModified());

  auto env = resources<Msi::MsiEnvironment>(package.get());
  ASSERT_EQ(env.size(), 1u);
  EXPECT_EQ(narrow(env[0]->expandedValue()), "Act Demo home");
  EXPECT_EQ(env[0]->component(), package->find<Msi::MsiComponent>(u"Main"));

  Msi::MsiServiceInstall* svc = package->find<Msi::MsiServiceInstall>(u"Svc");
  ASSERT_NE(svc, nullptr);
  EXPECT_EQ(narrow(svc->displayName()), "The Act Demo service");
  EXPECT_EQ(svc->startType(), 2);
  EXPECT_EQ(svc->dependentServices(), (std::list<std::u16string>{u"Other"}));
  EXPECT_EQ(svc->groupDependencies(), (std::list<std::u16string>{u"+Grp"}));
  EXPECT_EQ(svc->externalDependencies(), (std::list<std::u16string>{u"Ext"}));

  auto names = resources<Msi::MsiAssemblyName>(package.get());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(narrow(names[1]->assemblyValue()), "1.0.0.0");
}

TEST_F(TreeRowsTest, SystemFoldersJoinTheRootOnce) {
  std::u16string path = buildPackage();
  {
    auto package = MsiPackage::open(path, false);
    package->ensureSystemFolders();
    package->ensureSystemFolders();
    package->commit();
  }
  std::string directories = exportTable("rows.msi", "Directory");
  for (const char* name : {"PersonalFolder", "DesktopFolder", "ProgramMenuFolder", "StartMenuFolder",
                           "ProgramFilesFolder"})
    EXPECT_NE(directories.find(std::string("\n") + name + "\tTARGETDIR\t.\n"), std::string::npos) << name;
  EXPECT_EQ(rowCount("Directory"), 8u);
}

// An entity whose row fails half-way through being written.
class BrokenAction : public Msi::MsiCustomAction {
 public:
  using MsiCustomAction::MsiCustomAction;
  void writeTo(Msi::MsiRow& row) const override {
    row.field(u"Action") = action();
    throw Msi::Error(MSI_LOCATION, 1, 1);
  }
};

TEST_F(TreeRowsTest, AHalfWrittenRowIsDroppedNotCommitted) {
  std::u16string path = buildPackage();
  {
    auto package = MsiPackage::open(path, false);
    BrokenAction broken(package.get(), 1, u"Broken");
    broken.markModified();
    Msi::MsiTable& table = package->database()->table(u"CustomAction");
    std::size_t pending = table.pendingCount();
    EXPECT_THROW(broken.save(0), Msi::Error);
    EXPECT_EQ(table.pendingCount(), pending);
    broken.unmarkModified();
    package->commit();
  }
  EXPECT_EQ(exportTable("rows.msi", "CustomAction").find("Broken"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(TreeRowsTest, ComponentsMapTheirRowsAndJoinFeatures) {
  auto package = MsiPackage::open(buildPackage(), true);
  Msi::MsiRow* stored = package->database()->table(u"Component").findRow(u"Main");
  ASSERT_NE(stored, nullptr);
  Msi::MsiRow bare(stored->valueCount(), stored->columns());
  bare.values() = stored->values();
  bare.field(u"Directory_") = u"";
  bare.field(u"Component") = u"Loose";
  Msi::MsiComponent loose(package.get());
  loose.loadFrom(bare);
  Msi::MsiRow written(stored->valueCount(), stored->columns());
  loose.writeTo(written);
  EXPECT_EQ(narrow(written.field(u"Directory_")), "TARGETDIR");
  EXPECT_EQ(loose.directoryKey(), u"");

  Msi::MsiFeature* feature = package->findFeature(u"Complete");
  ASSERT_NE(feature, nullptr);
  loose.joinFeature(feature);
  EXPECT_EQ(loose.directoryKey(), feature->directoryKey());
  try {
    loose.joinFeature(feature);
    ADD_FAILURE() << "a feature joined twice";
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 21u);
  }
  EXPECT_EQ(loose.featureKeys().size(), 1u);
  loose.unmarkModified();

  Msi::MsiComponent* lib = package->find<Msi::MsiComponent>(u"Lib");
  Msi::MsiAssemblyName* name = lib->findAssemblyName(u"name");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(narrow(name->assemblyValue()), "Library");
  EXPECT_EQ(lib->findAssemblyName(u"Name"), nullptr);
  EXPECT_EQ(lib->findAssemblyName(u"culture"), nullptr);
}

}  // namespace

namespace {

TEST_F(TreeRowsTest, EveryFileAddedIsListedOnce) {
  auto package = MsiPackage::open(buildPackage(), true);
  EXPECT_EQ(package->fileKeys().size(), rowCount("File"));
  Msi::MsiRow* stored = package->database()->table(u"File").findRow(u"LibDll");
  ASSERT_NE(stored, nullptr);
  Msi::MsiRow row(stored->valueCount(), stored->columns());
  row.values() = stored->values();
  row.field(u"File") = u"Added";
  auto* added = new Msi::MsiFile(package.get());
  added->loadFrom(row);
  ASSERT_TRUE(package->add(added));
  Msi::MsiFile again(package.get());
  again.loadFrom(row);
  EXPECT_FALSE(package->add(&again));  // refused: nobody hears of it
  auto files = all(package->files());
  EXPECT_EQ(files.size(), rowCount("File") + 1);
  EXPECT_EQ(std::count(files.begin(), files.end(), added), 1);
}

}  // namespace
