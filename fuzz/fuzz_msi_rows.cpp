// Hostile values in the rows around the installation tree (custom actions,
// sequences, upgrades, component resources, shortcuts, assemblies): a package
// holding them opens through the installer model, or refuses with Msi::Error;
// every object read resolves or raises Msi::Error and writes its row back as
// it was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_msi.h"
#include "msi/entities/actions.h"
#include "msi/entities/cabinet.h"
#include "msi/entities/directory.h"
#include "msi/entities/resources.h"
#include "msi/entities/shortcut.h"
#include "msi/entities/tree.h"
#include "msi/entities/upgrade.h"
#include "msi/model/error.h"
#include "msi/model/package.h"

namespace {

using fuzzmsi::Table;

const std::vector<Table>& tables() {
  static const std::vector<Table> all = {
      {u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL PRIMARY KEY `Property`)",
       u"Property", {u"Property", u"Value"}, "ss"},
      {u"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
       u"CHAR(255) NOT NULL PRIMARY KEY `Directory`)",
       u"Directory", {u"Directory", u"Directory_Parent", u"DefaultDir"}, "sss"},
      {u"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) "
       u"NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)",
       u"Component", {u"Component", u"ComponentId", u"Directory_", u"Attributes", u"Condition", u"KeyPath"}, "sssiss"},
      {u"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT "
       u"NULL, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` "
       u"SHORT NOT NULL PRIMARY KEY `File`)",
       u"File", {u"File", u"Component_", u"FileName", u"FileSize", u"Sequence"}, "sssii"},
      {u"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
       u"`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` "
       u"SHORT NOT NULL PRIMARY KEY `Feature`)",
       u"Feature", {u"Feature", u"Level", u"Directory_", u"Attributes"}, "sisi"},
      {u"CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), "
       u"`Target` CHAR(255) PRIMARY KEY `Action`)",
       u"CustomAction", {u"Action", u"Type", u"Source", u"Target"}, "siss"},
      {u"CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` "
       u"SHORT PRIMARY KEY `Action`)",
       u"InstallExecuteSequence", {u"Action", u"Condition", u"Sequence"}, "ssi"},
      {u"CREATE TABLE `Upgrade` (`UpgradeCode` CHAR(38) NOT NULL, `VersionMin` CHAR(20), `VersionMax` CHAR(20), "
       u"`Language` CHAR(255), `Attributes` LONG NOT NULL, `Remove` CHAR(255), `ActionProperty` CHAR(72) NOT NULL "
       u"PRIMARY KEY `UpgradeCode`, `VersionMin`, `VersionMax`, `Language`, `Attributes`)",
       u"Upgrade", {u"UpgradeCode", u"VersionMin", u"VersionMax", u"Language", u"Attributes", u"ActionProperty"},
       "ssssis"},
      {u"CREATE TABLE `RestrictedProducts` (`UpgradeCode` CHAR(38) NOT NULL, `VersionMin` CHAR(20), `VersionMax` "
       u"CHAR(20), `ActionProperty` CHAR(72) NOT NULL PRIMARY KEY `UpgradeCode`, `VersionMin`, `VersionMax`)",
       u"RestrictedProducts", {u"UpgradeCode", u"VersionMin", u"VersionMax", u"ActionProperty"}, "ssss"},
      {u"CREATE TABLE `IsolatedComponent` (`Component_Shared` CHAR(72) NOT NULL, `Component_Application` CHAR(72) "
       u"NOT NULL PRIMARY KEY `Component_Shared`, `Component_Application`)",
       u"IsolatedComponent", {u"Component_Shared", u"Component_Application"}, "ss"},
      {u"CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL, `DirProperty` "
       u"CHAR(72), `Section` CHAR(96) NOT NULL, `Key` CHAR(128) NOT NULL, `Value` CHAR(255) NOT NULL, `Action` "
       u"SHORT NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `IniFile`)",
       u"IniFile", {u"IniFile", u"FileName", u"DirProperty", u"Section", u"Key", u"Value", u"Action", u"Component_"},
       "ssssssis"},
      {u"CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, `Value` "
       u"CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)",
       u"Environment", {u"Environment", u"Name", u"Value", u"Component_"}, "ssss"},
      {u"CREATE TABLE `DuplicateFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `File_` "
       u"CHAR(72) NOT NULL, `DestName` CHAR(255), `DestFolder` CHAR(72) PRIMARY KEY `FileKey`)",
       u"DuplicateFile", {u"FileKey", u"Component_", u"File_", u"DestName", u"DestFolder"}, "sssss"},
      {u"CREATE TABLE `MoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `SourceName` "
       u"CHAR(255), `DestName` CHAR(255), `SourceFolder` CHAR(72), `DestFolder` CHAR(72) NOT NULL, `Options` SHORT "
       u"NOT NULL PRIMARY KEY `FileKey`)",
       u"MoveFile", {u"FileKey", u"Component_", u"SourceName", u"DestName", u"SourceFolder", u"DestFolder", u"Options"},
       "ssssssi"},
      {u"CREATE TABLE `ServiceInstall` (`ServiceInstall` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, "
       u"`DisplayName` CHAR(255), `ServiceType` LONG NOT NULL, `StartType` LONG NOT NULL, `ErrorControl` LONG NOT "
       u"NULL, `LoadOrderGroup` CHAR(255), `Dependencies` CHAR(255), `StartName` CHAR(255), `Password` CHAR(255), "
       u"`Arguments` CHAR(255), `Component_` CHAR(72) NOT NULL, `Description` CHAR(255) PRIMARY KEY "
       u"`ServiceInstall`)",
       u"ServiceInstall", {u"ServiceInstall", u"Name", u"DisplayName", u"ServiceType", u"StartType", u"ErrorControl",
                           u"Dependencies", u"Component_"}, "sssiiiss"},
      {u"CREATE TABLE `Shortcut` (`Shortcut` CHAR(72) NOT NULL, `Directory_` CHAR(72) NOT NULL, `Name` CHAR(128) "
       u"NOT NULL, `Component_` CHAR(72) NOT NULL, `Target` CHAR(72) NOT NULL, `Arguments` CHAR(255), "
       u"`Description` CHAR(255), `Hotkey` SHORT, `Icon_` CHAR(72), `IconIndex` SHORT, `ShowCmd` SHORT, `WkDir` "
       u"CHAR(72) PRIMARY KEY `Shortcut`)",
       u"Shortcut", {u"Shortcut", u"Directory_", u"Name", u"Component_", u"Target", u"Arguments", u"WkDir"}, "sssssss"},
      {u"CREATE TABLE `CreateFolder` (`Directory_` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY "
       u"`Directory_`, `Component_`)",
       u"CreateFolder", {u"Directory_", u"Component_"}, "ss"},
      {u"CREATE TABLE `MsiAssembly` (`Component_` CHAR(72) NOT NULL, `Feature_` CHAR(38) NOT NULL, "
       u"`File_Manifest` CHAR(72), `File_Application` CHAR(72), `Attributes` SHORT PRIMARY KEY `Component_`)",
       u"MsiAssembly", {u"Component_", u"Feature_", u"File_Manifest", u"File_Application", u"Attributes"}, "ssssi"},
      {u"CREATE TABLE `MsiAssemblyName` (`Component_` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, `Value` "
       u"CHAR(255) NOT NULL PRIMARY KEY `Component_`, `Name`)",
       u"MsiAssemblyName", {u"Component_", u"Name", u"Value"}, "sss"},
      {u"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` LONG NOT NULL, `DiskPrompt` CHAR(64), "
       u"`Cabinet` CHAR(255), `VolumeLabel` CHAR(32), `Source` CHAR(72) PRIMARY KEY `DiskId`)",
       u"Media", {u"DiskId", u"LastSequence", u"DiskPrompt", u"Cabinet", u"VolumeLabel"}, "iisss"},
  };
  return all;
}

using fuzzmsi::guarded;
using fuzzmsi::walk;

template <class T>
void checkRow(Msi::MsiPackage& package, T* object) {
  fuzzmsi::checkRow(package, object, false);
}

void exercise(Msi::MsiPackage& package) {
  walk<Msi::MsiCustomAction>(package.customActions(), [&](Msi::MsiCustomAction* a) {
    checkRow(package, a);
    if (auto* dll = dynamic_cast<Msi::MsiCustomActionDll*>(a)) dll->expandedTarget();
  });
  guarded([&] {
    walk<Msi::MsiInstallExecuteSequence>(package.installExecuteSequence(), [&](Msi::MsiInstallExecuteSequence* s) {
      checkRow(package, s);
      s->sequence();
    });
  });
  guarded([&] {
    walk<Msi::MsiMajorUpgrade>(package.majorUpgrades(), [&](Msi::MsiMajorUpgrade* u) {
      FUZZ_CHECK(u->key().size() == 32);
      u->attributes();
    });
  });
  guarded([&] {
    walk<Msi::MsiRestrictedProduct>(package.restrictedProducts(), [&](Msi::MsiRestrictedProduct* r) {
      checkRow(package, r);
    });
  });
  for (const std::u16string& key : package.cabinetKeys().keys())
    guarded([&] { checkRow(package, package.find<Msi::MsiCab>(key)); });
  walk<Msi::MsiIsolatedComponent>(package.isolatedComponents(), [&](Msi::MsiIsolatedComponent* i) {
    checkRow(package, i);
    i->sharedComponent();
    i->applicationComponent();
  });
  for (const std::u16string& key : package.componentKeys().keys()) {
    guarded([&] {
      Msi::MsiComponent* component = package.find<Msi::MsiComponent>(key);
      if (!component) return;
      auto each = [&](auto* kind, const std::function<void(decltype(kind))>& visit) {
        using T = std::remove_pointer_t<decltype(kind)>;
        std::list<std::u16string> keys;
        Msi::loadComponentResources<T>(&package, key, keys);
        for (const std::u16string& k : keys)
          if (T* object = package.identityMap<T>().find(k)) guarded([&] {
              checkRow(package, object);
              visit(object);
            });
      };
      each(static_cast<Msi::MsiIniFile*>(nullptr), [](Msi::MsiIniFile* o) {
        o->directoryPath();
        o->iniValue();
        o->action();
      });
      each(static_cast<Msi::MsiEnvironment*>(nullptr), [](Msi::MsiEnvironment* o) { o->expandedValue(); });
      each(static_cast<Msi::MsiDuplicateFile*>(nullptr), [](Msi::MsiDuplicateFile* o) { o->destFolderPath(); });
      each(static_cast<Msi::MsiMoveFile*>(nullptr), [](Msi::MsiMoveFile* o) {
        o->sourceFolderPath();
        o->destFolderPath();
        o->options();
      });
      each(static_cast<Msi::MsiServiceInstall*>(nullptr), [](Msi::MsiServiceInstall* o) {
        o->displayName();
        o->dependentServices();
        o->groupDependencies();
        o->externalDependencies();
      });
      each(static_cast<Msi::MsiCreateFolder*>(nullptr), [](Msi::MsiCreateFolder* o) { o->directory(); });
      each(static_cast<Msi::MsiAssemblyName*>(nullptr), [](Msi::MsiAssemblyName*) {});
      if (Msi::MsiAssembly* assembly = package.assemblyForComponent(key)) {
        checkRow(package, assembly);
        assembly->manifestFile();
        assembly->isWin32Assembly();
      }
    });
  }
  guarded([&] {
    if (!package.hasTable(u"Shortcut")) return;
    Msi::MsiTable& table = package.database()->table(u"Shortcut");
    table.load();
    std::vector<std::u16string> keys;
    for (Msi::MsiRow* row : table) keys.push_back(row->field(u"Shortcut"));
    for (const std::u16string& k : keys) {
      guarded([&] {
        Msi::MsiShortcut* s = package.find<Msi::MsiShortcut>(k);
        if (!s) return;
        s->arguments();
        if (auto* f = dynamic_cast<Msi::MsiFileShortcut*>(s)) f->target();
      });
    }
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzmsi::fillAndExercise(data, size, "fuzz_msi_rows", tables(), exercise);
}
