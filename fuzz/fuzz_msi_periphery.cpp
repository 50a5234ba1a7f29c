// Hostile values in the COM registration, file-association, ODBC and
// user-interface tables: a package holding them opens through the installer
// model, or refuses with Msi::Error; every object read resolves or raises
// Msi::Error, writes its row back as it was read, and every walk ends (tab
// chains and ProgId parents may loop).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_msi.h"
#include "msi/entities/com.h"
#include "msi/entities/dialog.h"
#include "msi/entities/odbc.h"
#include "msi/model/error.h"
#include "msi/model/package.h"

namespace {
using fuzzmsi::Table;

const std::vector<Table>& tables() {
  static const std::vector<Table> all = {
      {u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL PRIMARY KEY `Property`)",
       u"Property", {u"Property", u"Value"}, "ss"},
      {u"CREATE TABLE `Dialog` (`Dialog` CHAR(72) NOT NULL, `HCentering` SHORT NOT NULL, `VCentering` SHORT NOT "
       u"NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, `Title` CHAR(128) LOCALIZABLE, "
       u"`Control_First` CHAR(50) NOT NULL, `Control_Default` CHAR(50), `Control_Cancel` CHAR(50) PRIMARY KEY "
       u"`Dialog`)",
       u"Dialog", {u"Dialog", u"HCentering", u"VCentering", u"Width", u"Height", u"Title", u"Control_First",
                   u"Control_Default"}, "siiiisss"},
      {u"CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, `Type` CHAR(20) NOT "
       u"NULL, `X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT NULL, "
       u"`Attributes` LONG, `Property` CHAR(50), `Text` LONGCHAR LOCALIZABLE, `Control_Next` CHAR(50), `Help` "
       u"CHAR(50) LOCALIZABLE PRIMARY KEY `Dialog_`, `Control`)",
       u"Control", {u"Dialog_", u"Control", u"Type", u"X", u"Y", u"Width", u"Height", u"Property", u"Control_Next"},
       "sssiiiiss"},
      {u"CREATE TABLE `RadioButton` (`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` CHAR(64) NOT "
       u"NULL, `X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT NOT NULL, `Height` SHORT NOT NULL, `Text` "
       u"CHAR(64) LOCALIZABLE, `Help` CHAR(50) LOCALIZABLE PRIMARY KEY `Property`, `Order`)",
       u"RadioButton", {u"Property", u"Order", u"Value", u"X", u"Y", u"Width", u"Height"}, "sisiiii"},
      {u"CREATE TABLE `ComboBox` (`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` CHAR(64) NOT NULL, "
       u"`Text` CHAR(64) LOCALIZABLE PRIMARY KEY `Property`, `Order`)",
       u"ComboBox", {u"Property", u"Order", u"Value", u"Text"}, "siss"},
      {u"CREATE TABLE `TypeLib` (`LibID` CHAR(38) NOT NULL, `Language` SHORT NOT NULL, `Component_` CHAR(72) NOT "
       u"NULL, `Version` SHORT, `Description` CHAR(128) LOCALIZABLE, `Directory_` CHAR(72), `Feature_` CHAR(32) NOT "
       u"NULL, `Cost` LONG PRIMARY KEY `LibID`, `Language`, `Component_`)",
       u"TypeLib", {u"LibID", u"Language", u"Component_", u"Description", u"Feature_"}, "sisss"},
      {u"CREATE TABLE `AppId` (`AppId` CHAR(38) NOT NULL, `RemoteServerName` CHAR(255), `LocalService` CHAR(255), "
       u"`ServiceParameters` CHAR(255), `DllSurrogate` CHAR(255), `ActivateAtStorage` SHORT, "
       u"`RunAsInteractiveUser` SHORT PRIMARY KEY `AppId`)",
       u"AppId", {u"AppId", u"RemoteServerName", u"ActivateAtStorage"}, "ssi"},
      {u"CREATE TABLE `Class` (`CLSID` CHAR(38) NOT NULL, `Context` CHAR(32) NOT NULL, `Component_` CHAR(72) NOT "
       u"NULL, `ProgId_Default` CHAR(255), `Description` CHAR(255) LOCALIZABLE, `AppId_` CHAR(38), `FileTypeMask` "
       u"CHAR(255), `Icon_` CHAR(72), `IconIndex` SHORT, `DefInprocHandler` CHAR(32), `Argument` CHAR(255), "
       u"`Feature_` CHAR(38) NOT NULL, `Attributes` SHORT PRIMARY KEY `CLSID`, `Context`, `Component_`)",
       u"Class", {u"CLSID", u"Context", u"Component_", u"ProgId_Default", u"AppId_", u"Argument", u"Feature_"},
       "sssssss"},
      {u"CREATE TABLE `ProgId` (`ProgId` CHAR(255) NOT NULL, `ProgId_Parent` CHAR(255), `Class_` CHAR(38), "
       u"`Description` CHAR(255) LOCALIZABLE, `Icon_` CHAR(72), `IconIndex` SHORT PRIMARY KEY `ProgId`)",
       u"ProgId", {u"ProgId", u"ProgId_Parent", u"Class_"}, "sss"},
      {u"CREATE TABLE `Extension` (`Extension` CHAR(255) NOT NULL, `Component_` CHAR(72) NOT NULL, `ProgId_` "
       u"CHAR(255), `MIME_` CHAR(64), `Feature_` CHAR(38) NOT NULL PRIMARY KEY `Extension`, `Component_`)",
       u"Extension", {u"Extension", u"Component_", u"ProgId_", u"MIME_", u"Feature_"}, "sssss"},
      {u"CREATE TABLE `Verb` (`Extension_` CHAR(255) NOT NULL, `Verb` CHAR(32) NOT NULL, `Sequence` SHORT, "
       u"`Command` CHAR(255) LOCALIZABLE, `Argument` CHAR(255) PRIMARY KEY `Extension_`, `Verb`)",
       u"Verb", {u"Extension_", u"Verb", u"Command", u"Argument"}, "ssss"},
      {u"CREATE TABLE `MIME` (`ContentType` CHAR(64) NOT NULL, `Extension_` CHAR(255) NOT NULL, `CLSID` CHAR(38) "
       u"PRIMARY KEY `ContentType`)",
       u"MIME", {u"ContentType", u"Extension_", u"CLSID"}, "sss"},
      {u"CREATE TABLE `ODBCDataSource` (`DataSource` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
       u"`Description` CHAR(255) NOT NULL, `DriverDescription` CHAR(255) NOT NULL, `Registration` SHORT NOT NULL "
       u"PRIMARY KEY `DataSource`)",
       u"ODBCDataSource", {u"DataSource", u"Component_", u"Description", u"DriverDescription", u"Registration"},
       "ssssi"},
      {u"CREATE TABLE `ODBCSourceAttribute` (`DataSource_` CHAR(72) NOT NULL, `Attribute` CHAR(255) NOT NULL, "
       u"`Value` CHAR(255) LOCALIZABLE PRIMARY KEY `DataSource_`, `Attribute`)",
       u"ODBCSourceAttribute", {u"DataSource_", u"Attribute", u"Value"}, "sss"},
      {u"CREATE TABLE `ODBCDriver` (`Driver` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `Description` "
       u"CHAR(255) NOT NULL, `File_` CHAR(72) NOT NULL, `File_Setup` CHAR(72) PRIMARY KEY `Driver`)",
       u"ODBCDriver", {u"Driver", u"Component_", u"Description", u"File_"}, "ssss"},
      {u"CREATE TABLE `ODBCAttribute` (`Driver_` CHAR(72) NOT NULL, `Attribute` CHAR(255) NOT NULL, `Value` "
       u"CHAR(255) LOCALIZABLE PRIMARY KEY `Driver_`, `Attribute`)",
       u"ODBCAttribute", {u"Driver_", u"Attribute", u"Value"}, "sss"},
      {u"CREATE TABLE `ODBCTranslator` (`Translator` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
       u"`Description` CHAR(255) NOT NULL, `File_` CHAR(72) NOT NULL, `File_Setup` CHAR(72) PRIMARY KEY "
       u"`Translator`)",
       u"ODBCTranslator", {u"Translator", u"Component_", u"Description", u"File_"}, "ssss"},
  };
  return all;
}

using fuzzmsi::guarded;
using fuzzmsi::walk;

template <class T>
void checkRow(Msi::MsiPackage& package, T* object) {
  // The objects come from query copies: the cached table is read here.
  fuzzmsi::checkRow(package, object, true);
}

template <class T>
std::vector<T*> rowsOf(Msi::MsiPackage& package) {
  std::list<std::u16string> keys;
  Msi::loadTableKeys<T>(&package, keys);
  std::vector<T*> out;
  for (const std::u16string& k : keys)
    if (T* object = package.identityMap<T>().find(k)) out.push_back(object);
  return out;
}

void exercise(Msi::MsiPackage& package) {
  guarded([&] {
    walk<Msi::MsiDialog>(package.dialogs(), [&](Msi::MsiDialog* d) {
      checkRow(package, d);
      d->defaultControl();
      d->cancelControl();
      walk<Msi::MsiControl>(d->controls(Msi::MsiControl::kAllKinds), [&](Msi::MsiControl* c) {
        FUZZ_CHECK(c->key().size() == 32);
        checkRow(package, c);
        c->property();
        if (auto* group = dynamic_cast<Msi::MsiRadioGroup*>(c))
          for (group->reset(); group->valid(); group->next())
            if (Msi::MsiRadioButton* b = group->current()) checkRow(package, b);
        if (auto* combo = dynamic_cast<Msi::MsiComboBox*>(c))
          for (combo->reset(); combo->valid(); combo->next())
            if (Msi::MsiComboBoxValue* v = combo->current()) checkRow(package, v);
      });
    });
  });
  guarded([&] {
    for (Msi::MsiTypeLib* t : rowsOf<Msi::MsiTypeLib>(package))
      guarded([&] {
        checkRow(package, t);
        t->directory();
        t->version();
        t->language();
      });
  });
  guarded([&] {
    for (Msi::MsiAppId* a : rowsOf<Msi::MsiAppId>(package))
      guarded([&] {
        checkRow(package, a);
        a->activateAtStorage();
        a->remoteServerName();
      });
  });
  guarded([&] {
    for (Msi::MsiClass* c : rowsOf<Msi::MsiClass>(package)) {
      guarded([&] {
        checkRow(package, c);
        c->defaultProgId();
        c->appId();
        c->argument();
      });
      guarded([&] {
        walk<Msi::MsiProgId>(c->progIds(), [&](Msi::MsiProgId* p) {
          checkRow(package, p);
          // Parents may loop: the walk up stops at the first ProgId seen twice.
          std::set<Msi::MsiProgId*> seen;
          for (Msi::MsiProgId* up = p; up && seen.insert(up).second; up = up->parent()) {
          }
          walk<Msi::MsiProgId>(p->children(), [&](Msi::MsiProgId* child) { checkRow(package, child); });
          walk<Msi::MsiExtension>(p->extensions(), [&](Msi::MsiExtension* e) {
            checkRow(package, e);
            e->mime();
            walk<Msi::MsiVerb>(e->verbs(), [&](Msi::MsiVerb* v) {
              checkRow(package, v);
              v->command();
              v->argument();
              walk<Msi::MsiExtension>(v->extensions(), [&](Msi::MsiExtension* back) { checkRow(package, back); });
            });
            walk<Msi::MsiMIME>(e->mimeTypes(), [&](Msi::MsiMIME* m) { checkRow(package, m); });
          });
        });
      });
    }
  });
  guarded([&] {
    for (Msi::MsiODBCDataSource* s : rowsOf<Msi::MsiODBCDataSource>(package)) {
      checkRow(package, s);
      guarded([&] { s->registration(); });
      walk<Msi::MsiODBCSourceAttribute>(s->attributes(), [&](Msi::MsiODBCSourceAttribute* a) {
        checkRow(package, a);
        a->dataSource();
        a->value();
      });
    }
  });
  guarded([&] {
    for (Msi::MsiODBCDriver* d : rowsOf<Msi::MsiODBCDriver>(package)) {
      checkRow(package, d);
      d->file();
      walk<Msi::MsiODBCAttribute>(d->attributes(), [&](Msi::MsiODBCAttribute* a) {
        checkRow(package, a);
        a->value();
      });
    }
    for (Msi::MsiODBCTranslator* t : rowsOf<Msi::MsiODBCTranslator>(package)) checkRow(package, t);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzmsi::fillAndExercise(data, size, "fuzz_msi_periphery", tables(), exercise);
}
