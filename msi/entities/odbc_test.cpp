// ODBC data sources, drivers, translators and their attributes, read from a
// package that msibuild makes from IDT texts; checked against msidiff and md5sum.
#include <algorithm>
#include <functional>
#include <set>

#include "msi/entities/com.h"
#include "msi/entities/entity_fixture.h"
#include "msi/entities/odbc.h"
#include "msi/entities/tree.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/package.h"

namespace {

using entity_test::all;
using model_test::narrow;
using model_test::run;
using model_test::shellQuote;
using Msi::MsiPackage;

std::map<std::string, std::string> odbcTables() {
  return {
      {"Property", "Property\tValue\ns72\tl0\nProperty\tProperty\nProductName\tOdbc Demo\nSERVER\tdb1\n"},
      {"Directory",
       "Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\nTARGETDIR\t\tSourceDir\n"},
      {"Component",
       "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\ns72\tS38\ts72\ti2\tS255\tS72\n"
       "Component\tComponent\nC1\t{11111111-2222-3333-4444-555555555555}\tTARGETDIR\t32\t\tDemoDSN\n"
       "C2\t{11111111-2222-3333-4444-555555555556}\tTARGETDIR\t0\t\tDrv\n"},
      {"File",
       "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
       "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2\nFile\tFile\n"
       "Drv\tC2\tdrv.dll\t10\t\t\t\t1\nDrvSetup\tC2\tdrvsetup.dll\t10\t\t\t\t2\n"},
      {"ODBCDataSource",
       "DataSource\tComponent_\tDescription\tDriverDescription\tRegistration\ns72\ts72\ts255\ts255\ti2\n"
       "ODBCDataSource\tDataSource\n"
       "DemoDSN\tC1\tDemo data\tDemo Driver\t0\na\tC1\tA\tDemo Driver\t1\nab\tC1\tAB\tDemo Driver\t1\n"
       "Lonely\tC1\tNone\tDemo Driver\t0\nOdd\tC1\tOdd\tDemo Driver\t2\n"},
      {"ODBCSourceAttribute",
       "DataSource_\tAttribute\tValue\ns72\ts255\tL255\nODBCSourceAttribute\tDataSource_\tAttribute\n"
       "DemoDSN\tServer\t[SERVER]\nDemoDSN\tDatabase\tdemo\n"
       // Joined without a separator, these two were one key.
       "a\tbc\tfirst\nab\tc\tsecond\n"},
      {"ODBCDriver",
       "Driver\tComponent_\tDescription\tFile_\tFile_Setup\ns72\ts72\ts255\ts72\tS72\nODBCDriver\tDriver\n"
       "DemoDrv\tC2\tDemo Driver\tDrv\tDrvSetup\n"},
      {"ODBCAttribute",
       "Driver_\tAttribute\tValue\ns72\ts255\tL255\nODBCAttribute\tDriver_\tAttribute\n"
       "DemoDrv\tCPTimeout\t60\nDemoDrv\tVendor\t[ProductName] Inc\n"},
      {"ODBCTranslator",
       "Translator\tComponent_\tDescription\tFile_\tFile_Setup\ns72\ts72\ts255\ts72\tS72\nODBCTranslator\tTranslator\n"
       "DemoTr\tC2\tDemo translator\tDrv\t\n"},
  };
}

class OdbcTest : public model_test::PackageWorld {
 protected:
  std::u16string buildOdbc() { return build("odbc.msi", odbcTables()); }
  std::string md5Of(const std::string& bytes) {
    put("digest.bin", bytes);
    std::string hex = run("md5sum " + shellQuote(c("digest.bin"))).substr(0, 32);
    std::transform(hex.begin(), hex.end(), hex.begin(), ::toupper);
    return hex;
  }
};

TEST_F(OdbcTest, DataSourcesAndTheirAttributes) {
  auto package = MsiPackage::open(buildOdbc(), true);
  EXPECT_EQ(package->find<Msi::MsiComponent>(u"C1")->kind(), Msi::MsiComponent::Kind::Odbc);
  std::list<std::u16string> sources;
  Msi::loadLinkedKeys<Msi::MsiODBCDataSource>(package.get(), u"Component_", u"C1", sources);
  EXPECT_EQ(sources.size(), 5u);
  Msi::MsiODBCDataSource* demo = package->find<Msi::MsiODBCDataSource>(u"DemoDSN");
  ASSERT_NE(demo, nullptr);
  EXPECT_EQ(demo->component(), package->find<Msi::MsiComponent>(u"C1"));
  EXPECT_EQ(demo->description(), u"Demo data");
  EXPECT_EQ(demo->driverDescription(), u"Demo Driver");
  EXPECT_EQ(demo->registration(), 0);
  try {
    package->find<Msi::MsiODBCDataSource>(u"Odd")->registration();
    ADD_FAILURE();
  } catch (const Msi::Error& e) {
    EXPECT_EQ(e.code(), 5u);
    EXPECT_EQ(e.module(), Msi::MsiODBCDataSource::kModule);
  }

  std::map<std::u16string, Msi::MsiODBCSourceAttribute*> byName;
  for (auto* a : all(demo->attributes())) byName[a->attribute()] = a;
  ASSERT_EQ(byName.size(), 2u);
  EXPECT_EQ(byName[u"Server"]->value(), u"db1");
  EXPECT_EQ(byName[u"Database"]->value(), u"demo");
  EXPECT_EQ(byName[u"Server"]->dataSource(), demo);
  EXPECT_TRUE(all(package->find<Msi::MsiODBCDataSource>(u"Lonely")->attributes()).empty());

  // The two rows whose parts join to the same text keep apart, each under
  // MD5 of its length-prefixed parts.
  auto first = all(package->find<Msi::MsiODBCDataSource>(u"a")->attributes());
  auto second = all(package->find<Msi::MsiODBCDataSource>(u"ab")->attributes());
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  ASSERT_NE(first[0], nullptr);
  ASSERT_NE(second[0], nullptr);
  EXPECT_NE(first[0], second[0]);
  EXPECT_EQ(first[0]->value(), u"first");
  EXPECT_EQ(second[0]->value(), u"second");
  EXPECT_EQ(narrow(first[0]->key()), md5Of(std::string("\x01\0\0\0a\0\x02\0\0\0b\0c\0", 14)));
  EXPECT_EQ(narrow(second[0]->key()), md5Of(std::string("\x02\0\0\0a\0b\0\x01\0\0\0c\0", 14)));

  // The key stays where the package registered it.
  std::u16string key = first[0]->key();
  first[0]->setAttribute(u"renamed");
  EXPECT_EQ(first[0]->key(), key);
  EXPECT_EQ(first[0]->attribute(), u"renamed");
  Msi::MsiODBCSourceAttribute half(package.get());
  EXPECT_EQ(half.key(), u"");
}

TEST_F(OdbcTest, DriversAndTranslators) {
  auto package = MsiPackage::open(buildOdbc(), true);
  Msi::MsiODBCDriver* driver = package->find<Msi::MsiODBCDriver>(u"DemoDrv");
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->component(), package->find<Msi::MsiComponent>(u"C2"));
  EXPECT_EQ(driver->file(), package->find<Msi::MsiFile>(u"Drv"));
  EXPECT_EQ(driver->setupFile(), package->find<Msi::MsiFile>(u"DrvSetup"));
  std::map<std::u16string, std::u16string> values;
  for (auto* a : all(driver->attributes())) {
    EXPECT_EQ(a->driver(), driver);
    values[a->attribute()] = a->value();
  }
  EXPECT_EQ(values, (std::map<std::u16string, std::u16string>{{u"CPTimeout", u"60"}, {u"Vendor", u"Odbc Demo Inc"}}));

  Msi::MsiODBCTranslator* translator = package->find<Msi::MsiODBCTranslator>(u"DemoTr");
  ASSERT_NE(translator, nullptr);
  EXPECT_EQ(translator->description(), u"Demo translator");
  EXPECT_EQ(translator->file(), driver->file());
  EXPECT_EQ(translator->setupFile(), nullptr);
  std::list<std::u16string> ofC2;
  Msi::loadLinkedKeys<Msi::MsiODBCTranslator>(package.get(), u"Component_", u"C2", ofC2);
  EXPECT_EQ(ofC2, std::list<std::u16string>{u"DemoTr"});
}

TEST_F(OdbcTest, SettersWriteOnlyWhatChanged) {
  std::u16string path = buildOdbc();
  copy("odbc.msi", "before.msi");
  {
    auto package = MsiPackage::open(path, false);
    Msi::MsiODBCDataSource* demo = package->find<Msi::MsiODBCDataSource>(u"DemoDSN");
    ASSERT_NE(demo, nullptr);
    EXPECT_FALSE(demo->isModified());
    EXPECT_THROW(demo->setRegistration(2), Msi::Error);
    EXPECT_FALSE(demo->isModified());
    EXPECT_EQ(demo->registration(), 0);
    demo->setRegistration(1);
    EXPECT_TRUE(demo->isModified());
    demo->setDescription(u"Changed");
    Msi::MsiODBCDriver* driver = package->find<Msi::MsiODBCDriver>(u"DemoDrv");
    driver->setSetupFile(nullptr);
    auto attributes = all(driver->attributes());
    for (auto* a : attributes)
      if (a->attribute() == u"CPTimeout") a->setValue(u"[SERVER]");
    demo->save(0);
    driver->save(0);
    for (auto* a : attributes) a->save(0);
    package->commit();
  }
  std::vector<std::string> changes = diff("before.msi", "odbc.msi");
  std::sort(changes.begin(), changes.end());
  EXPECT_EQ(changes, (std::vector<std::string>{
                         "+DemoDSN\tC1\tChanged\tDemo Driver\t1",
                         "+DemoDrv\tC2\tDemo Driver\tDrv\t",
                         "+DemoDrv\tCPTimeout\t[SERVER]",
                         "-DemoDSN\tC1\tDemo data\tDemo Driver\t0",
                         "-DemoDrv\tC2\tDemo Driver\tDrv\tDrvSetup",
                         "-DemoDrv\tCPTimeout\t60",
                     }));
}

TEST_F(OdbcTest, EveryRowWritesBackUnchanged) {
  std::u16string path = buildOdbc();
  copy("odbc.msi", "before.msi");
  {
    auto package = MsiPackage::open(path, false);
    entity_test::WriteBackCheck check(*package);
    check.everyRow<Msi::MsiODBCDataSource>();
    check.everyRow<Msi::MsiODBCSourceAttribute>();
    check.everyRow<Msi::MsiODBCDriver>();
    check.everyRow<Msi::MsiODBCAttribute>();
    check.everyRow<Msi::MsiODBCTranslator>();
    check.saveAll();
    package->commit();
  }
  EXPECT_EQ(diff("before.msi", "odbc.msi"), std::vector<std::string>{});
}

}  // namespace
