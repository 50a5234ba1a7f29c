#include "msi/model/table_schemas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "msi/model/table_access.h"
#include "platform/msi/msi_fixture.h"

namespace {

// What `msiinfo export` prints as its three header lines for each schema,
// written out from the schema catalogue: names, installer types, table and keys.
struct Expected {
  const char* table;
  const char* names;
  const char* types;
  const char* keys;
};
const Expected kExpected[] = {
    {"Feature", "Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes", "s38\tS38\tS64\tL255\tI2\ti2\tS72\ti2", "Feature\tFeature"},
    {"Directory", "Directory\tDirectory_Parent\tDefaultDir", "s72\tS72\tl255", "Directory\tDirectory"},
    {"Registry", "Registry\tRoot\tKey\tName\tValue\tComponent_", "s72\ti2\tl255\tL255\tL0\tS72", "Registry\tRegistry"},
    {"Component", "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath", "s72\tS38\ts72\ti2\tS255\tS72", "Component\tComponent"},
    {"FeatureComponents", "Feature_\tComponent_", "s38\ts72", "FeatureComponents\tFeature_\tComponent_"},
    {"File", "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence", "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti2", "File\tFile"},
    {"Shortcut", "Shortcut\tDirectory_\tName\tComponent_\tTarget\tArguments\tDescription\tHotkey\tIcon_\tIconIndex\tShowCmd\tWkDir", "s72\ts72\tl128\ts72\ts72\tS255\tL255\tI2\tS72\tI2\tI2\tS72", "Shortcut\tShortcut"},
    {"Binary", "Name\tData", "s72\tv0", "Binary\tName"},
    {"Media", "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource", "i2\ti2\tL64\tS255\tS32\tS72", "Media\tDiskId"},
    {"Property", "Property\tValue", "s72\tl0", "Property\tProperty"},
    {"CustomAction", "Action\tType\tSource\tTarget", "s72\ti2\tS72\tS255", "CustomAction\tAction"},
    {"MsiFileHash", "File_\tOptions\tHashPart1\tHashPart2\tHashPart3\tHashPart4", "s72\ti2\ti4\ti4\ti4\ti4", "MsiFileHash\tFile_"},
    {"Extension", "Extension\tComponent_\tProgId_\tMIME_\tFeature_", "s255\ts72\tS255\tS64\ts38", "Extension\tExtension\tComponent_"},
    {"MIME", "ContentType\tExtension_\tCLSID", "s64\ts255\tS38", "MIME\tContentType"},
    {"Verb", "Extension_\tVerb\tSequence\tCommand\tArgument", "s255\ts32\tI2\tL255\tS255", "Verb\tExtension_\tVerb"},
    {"Class", "CLSID\tContext\tComponent_\tProgId_Default\tDescription\tAppId_\tFileTypeMask\tIcon_\tIconIndex\tDefInprocHandler\tArgument\tFeature_\tAttributes", "s38\ts32\ts72\tS255\tL255\tS38\tS255\tS72\tI2\tS32\tS255\ts38\tI2", "Class\tCLSID\tContext\tComponent_"},
    {"ProgId", "ProgId\tProgId_Parent\tClass_\tDescription\tIcon_\tIconIndex", "s255\tS255\tS38\tL255\tS72\tI2", "ProgId\tProgId"},
    {"AppId", "AppId\tRemoteServerName\tLocalService\tServiceParameters\tDllSurrogate\tActivateAtStorage\tRunAsInteractiveUser", "s38\tS255\tS255\tS255\tS255\tI2\tI2", "AppId\tAppId"},
    {"Icon", "Name\tData", "s72\tv0", "Icon\tName"},
    {"ODBCDataSource", "DataSource\tComponent_\tDescription\tDriverDescription\tRegistration", "s72\ts72\ts255\ts255\ti2", "ODBCDataSource\tDataSource"},
    {"TypeLib", "LibID\tLanguage\tComponent_\tVersion\tDescription\tDirectory_\tFeature_\tCost", "s38\ti2\ts72\tI2\tL128\tS72\ts32\tI4", "TypeLib\tLibID\tLanguage\tComponent_"},
    {"MsiAssembly", "Component_\tFeature_\tFile_Manifest\tFile_Application\tAttributes", "s72\ts38\tS255\tS255\tI2", "MsiAssembly\tComponent_"},
    {"MsiAssemblyName", "Component_\tName\tValue", "s72\ts255\ts255", "MsiAssemblyName\tComponent_\tName"},
    {"Font", "File_\tFontTitle", "s72\tS128", "Font\tFile_"},
    {"Environment", "Environment\tName\tValue\tComponent_", "s72\tl255\tL255\ts72", "Environment\tEnvironment"},
    {"DuplicateFile", "FileKey\tComponent_\tFile_\tDestName\tDestFolder", "s72\ts72\ts72\tL255\tS72", "DuplicateFile\tFileKey"},
    {"ServiceInstall", "ServiceInstall\tName\tDisplayName\tServiceType\tStartType\tErrorControl\tLoadOrderGroup\tDependencies\tStartName\tPassword\tArguments\tComponent_\tDescription", "s72\ts255\tS255\ti4\ti4\ti4\tS255\tS255\tS255\tL255\tS255\ts72\tL255", "ServiceInstall\tServiceInstall"},
    {"ODBCTranslator", "Translator\tComponent_\tDescription\tFile_\tFile_Setup", "s72\ts72\ts255\ts72\tS72", "ODBCTranslator\tTranslator"},
    {"ODBCSourceAttribute", "DataSource_\tAttribute\tValue", "s72\ts255\tL255", "ODBCSourceAttribute\tDataSource_\tAttribute"},
    {"ODBCDriver", "Driver\tComponent_\tDescription\tFile_\tFile_Setup", "s72\ts72\ts255\ts72\tS72", "ODBCDriver\tDriver"},
    {"ODBCAttribute", "Driver_\tAttribute\tValue", "s72\ts255\tL255", "ODBCAttribute\tDriver_\tAttribute"},
    {"IniFile", "IniFile\tFileName\tDirProperty\tSection\tKey\tValue\tAction\tComponent_", "s72\tl255\tS72\tl255\tl255\tl255\ti4\ts72", "IniFile\tIniFile"},
    {"MoveFile", "FileKey\tComponent_\tSourceName\tDestName\tSourceFolder\tDestFolder\tOptions", "s72\ts72\tL255\tS32\tS72\ts72\ti4", "MoveFile\tFileKey"},
    {"IsolatedComponent", "Component_Shared\tComponent_Application", "s72\ts72", "IsolatedComponent\tComponent_Shared\tComponent_Application"},
    {"CreateFolder", "Component_\tDirectory_", "s72\ts72", "CreateFolder\tComponent_\tDirectory_"},
    {"InstallExecuteSequence", "Action\tCondition\tSequence", "s72\tS255\ti4", "InstallExecuteSequence\tAction"},
    {"Upgrade", "UpgradeCode\tVersionMin\tVersionMax\tLanguage\tAttributes\tRemove\tActionProperty", "s38\tS20\tS20\tS255\ti4\tS255\ts72", "Upgrade\tUpgradeCode\tVersionMin\tVersionMax\tLanguage\tAttributes"},
    {"RestrictedProducts", "UpgradeCode\tVersionMin\tVersionMax\tActionProperty", "s38\tS20\tS20\ts72", "RestrictedProducts\tUpgradeCode\tVersionMin\tVersionMax"},
    {"Control", "Dialog_\tControl\tType\tX\tY\tWidth\tHeight\tAttributes\tProperty\tText\tControl_Next\tHelp", "s72\ts50\ts20\ti2\ti2\ti2\ti2\tI4\tS50\tL0\tS50\tL50", "Control\tDialog_\tControl"},
    {"ComboBox", "Property\tOrder\tValue\tText", "s72\ti2\ts64\tL64", "ComboBox\tProperty\tOrder"},
    {"RadioButton", "Property\tOrder\tValue\tX\tY\tWidth\tHeight\tText\tHelp", "s72\ti2\ts64\ti2\ti2\ti2\ti2\tL64\tL50", "RadioButton\tProperty\tOrder"},
    {"Dialog", "Dialog\tHCentering\tVCentering\tWidth\tHeight\tAttributes\tTitle\tControl_First\tControl_Default\tControl_Cancel", "s72\ti2\ti2\ti2\ti2\tI4\tL128\ts50\tS50\tS50", "Dialog\tDialog"},
    {"UpgradeNonMsi", "Product\tAction\tSequence", "s255\ts72\tI2", "UpgradeNonMsi\tProduct"},
    {"ImageFamilies", "Family\tMediaSrcPropName\tMediaDiskId\tFileSequenceStart\tDiskPrompt\tVolumeLabel", "s8\tS72\tI2\tI2\tS255\tS32", "ImageFamilies\tFamily"},
    {"UpgradedImages", "Upgraded\tMsiPath\tPatchMsiPath\tSymbolPaths\tFamily", "s13\tl255\tL255\tL255\ts8", "UpgradedImages\tUpgraded"},
    {"TargetImages", "Target\tMsiPath\tSymbolPaths\tUpgraded\tOrder\tProductValidateFlags\tIgnoreMissingSrcFiles", "s13\tl255\tL255\ts13\ti2\tS16\ti2", "TargetImages\tTarget"},
    {"UpgradedFiles_OptionalData", "Upgraded\tFTK\tSymbolPaths\tAllowIgnoreOnPatchError\tIncludeWholeFile", "s13\ts72\tL255\tI2\tI2", "UpgradedFiles_OptionalData\tUpgraded\tFTK"},
    {"Properties", "Name\tValue", "s72\tl0", "Properties\tName"},
    {"PatchSequence", "PatchFamily\tTarget\tSequence\tSupersede", "s38\tS38\tS23\tI2", "PatchSequence\tPatchFamily\tTarget"},
    {"PatchMetadata", "Company\tProperty\tValue", "S72\ts72\tl0", "PatchMetadata\tCompany\tProperty"},
};


class SchemaTables : public msi_test::PackageWorld {};

// Every description creates its table in an empty database, and the engine
// (read back by msiinfo) reports exactly the schema's names, types and keys.
TEST_F(SchemaTables, EveryDescriptionCreatesItsTableAsTheSchemaSays) {
  ASSERT_EQ(Msi::schemaTableCount(), 50);
  MSIHANDLE db = 0;
  std::filesystem::create_directories(c("pkg"));
  ASSERT_EQ(MsiOpenDatabaseW(windowsPackage("empty.msi").c_str(), MSIDBOPEN_CREATE, &db), 0u);
  for (int i = 0; i < Msi::schemaTableCount(); ++i) {
    Msi::MsiTableDescription* d = Msi::MsiTableDescription::lookup(Msi::schemaTableName(i));
    ASSERT_NE(d, nullptr) << i;
    MSIHANDLE view = 0;
    std::u16string sql = d->createTableSql();
    ASSERT_EQ(MsiDatabaseOpenViewW(db, sql.c_str(), &view), 0u) << msi_test::narrow(sql);
    EXPECT_EQ(MsiViewExecute(view, 0), 0u) << msi_test::narrow(sql);
    MsiCloseHandle(view);
  }
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  MsiCloseHandle(db);
  std::string path = unixPackage("empty.msi");
  int columns = 0, singleKey = 0;
  for (const Expected& e : kExpected) {
    std::istringstream in(msi_test::exportTable(path, e.table));
    std::string names, types, keys;
    std::getline(in, names);
    std::getline(in, types);
    std::getline(in, keys);
    for (std::string* line : {&names, &types, &keys})
      if (!line->empty() && line->back() == '\r') line->pop_back();
    EXPECT_EQ(names, e.names) << e.table;
    EXPECT_EQ(types, e.types) << e.table;
    EXPECT_EQ(keys, e.keys) << e.table;
    columns += static_cast<int>(std::count(names.begin(), names.end(), '\t')) + 1;
    singleKey += std::count(keys.begin(), keys.end(), '\t') == 1;
  }
  EXPECT_EQ(columns, 270);
  EXPECT_EQ(singleKey, 32);
}

TEST(SchemaDescriptions, SingletonsAreTheStartUpObjectsInCatalogueOrder) {
  EXPECT_EQ(Msi::Singleton<FeatureTableDescription>::instance(), Msi::featureTableDescription);
  EXPECT_EQ(Msi::Singleton<FeatureTableDescription>::instance(), Msi::Singleton<FeatureTableDescription>::instance());
  EXPECT_EQ(Msi::Singleton<ODBCDataSourceTableDescription>::instance(), Msi::odbcDataSourceTableDescription);
  EXPECT_EQ(Msi::Singleton<MIMETableDescription>::instance(), Msi::mimeTableDescription);
  EXPECT_EQ(Msi::Singleton<UpgradedFiles_OptionalDataTableDescription>::instance(),
            Msi::upgradedFiles_OptionalDataTableDescription);
  Msi::Singleton<PropertyTableDescription>::create();
  EXPECT_EQ(Msi::Singleton<PropertyTableDescription>::instance(), Msi::propertyTableDescription);
  for (int i = 0; i < Msi::schemaTableCount(); ++i)
    EXPECT_EQ(Msi::MsiTableDescription::lookup(Msi::schemaTableName(i))->name(), Msi::schemaTableName(i));
  EXPECT_EQ(std::u16string(Msi::schemaTableName(0)), u"Feature");
  EXPECT_EQ(std::u16string(Msi::schemaTableName(49)), u"PatchMetadata");
  EXPECT_EQ(Msi::schemaTableName(50), nullptr);
  // The table name is copied once; later calls hand out the same string.
  EXPECT_EQ(&Msi::tableName<FileTableDescription>(), &Msi::tableName<FileTableDescription>());
  EXPECT_EQ(Msi::tableName<FileTableDescription>(), u"File");
}

TEST(SchemaDescriptions, ColumnsReadAsTheSchemaTextsSay) {
  const Msi::MsiTableDescription& meta = *Msi::patchMetadataTableDescription;
  const Msi::MsiColumn* value = meta.column(u"Value");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->type(), Msi::MsiColumn::String);
  EXPECT_EQ(value->size(), 0);
  EXPECT_FALSE(value->isNullable());
  EXPECT_TRUE(value->isLocalizable());
  EXPECT_FALSE(value->isKey()) << "PRIMARY without KEY is no key";
  EXPECT_EQ(meta.keyCount(), 2);
  EXPECT_TRUE(meta.column(u"Company")->isNullable());
  const Msi::MsiColumn* lib = Msi::typeLibTableDescription->column(u"LibID");
  EXPECT_TRUE(lib->isKey());
  EXPECT_FALSE(lib->isNullable());
  EXPECT_EQ(Msi::upgradeTableDescription->keyCount(), 5);
  EXPECT_EQ(Msi::upgradeTableDescription->column(u"Attributes")->type(), Msi::MsiColumn::Long);
  EXPECT_EQ(Msi::mediaTableDescription->column(u"DiskId")->type(), Msi::MsiColumn::Short);
  EXPECT_EQ(Msi::typeLibTableDescription->column(u"Feature_")->size(), 32);
  EXPECT_EQ(Msi::classTableDescription->column(u"Feature_")->size(), 38);
  EXPECT_FALSE(Msi::featureTableDescription->column(u"Title")->isLocalizable());
  EXPECT_TRUE(Msi::featureTableDescription->column(u"Description")->isLocalizable());
  EXPECT_EQ(Msi::featureTableDescription->column(u"title"), nullptr) << "names are exact";
  EXPECT_NE(Msi::fileTableDescription->column(u"Component_"), Msi::registryTableDescription->column(u"Component_"));
  EXPECT_EQ(Msi::propertyTableDescription->createTableSql(),
            u"Create Table `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE PRIMARY "
            u"KEY `Property`)");
  EXPECT_EQ(Msi::featureComponentsTableDescription->createTableSql(),
            u"Create Table `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY "
            u"KEY `Feature_`, `Component_`)");
}

}  // namespace
