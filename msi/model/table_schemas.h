// The 50 installer tables the model knows: one description class per table,
// each a process-wide singleton, all built before main in this order and
// reachable through Msi::Singleton<T>::instance, the start-up pointers below, or
// Msi::MsiTableDescription::lookup by table name.
#pragma once

#include "msi/model/singleton.h"
#include "msi/model/table_description.h"

#define MSI_TABLE_DESCRIPTION(Class)                                                      \
  class Class : public Msi::MsiTableDescription, public Msi::Singleton<Class> {          \
   public:                                                                              \
    Class();                                                                             \
    ~Class() override;                                                                   \
  };

MSI_TABLE_DESCRIPTION(FeatureTableDescription)
MSI_TABLE_DESCRIPTION(DirectoryTableDescription)
MSI_TABLE_DESCRIPTION(RegistryTableDescription)
MSI_TABLE_DESCRIPTION(ComponentTableDescription)
MSI_TABLE_DESCRIPTION(FeatureComponentsTableDescription)
MSI_TABLE_DESCRIPTION(FileTableDescription)
MSI_TABLE_DESCRIPTION(ShortcutTableDescription)
MSI_TABLE_DESCRIPTION(BinaryTableDescription)
MSI_TABLE_DESCRIPTION(MediaTableDescription)
MSI_TABLE_DESCRIPTION(PropertyTableDescription)
MSI_TABLE_DESCRIPTION(CustomActionTableDescription)
MSI_TABLE_DESCRIPTION(MsiFileHashTableDescription)
MSI_TABLE_DESCRIPTION(ExtensionTableDescription)
MSI_TABLE_DESCRIPTION(MIMETableDescription)
MSI_TABLE_DESCRIPTION(VerbTableDescription)
MSI_TABLE_DESCRIPTION(ClassTableDescription)
MSI_TABLE_DESCRIPTION(ProgIdTableDescription)
MSI_TABLE_DESCRIPTION(AppIdTableDescription)
MSI_TABLE_DESCRIPTION(IconTableDescription)
MSI_TABLE_DESCRIPTION(ODBCDataSourceTableDescription)
MSI_TABLE_DESCRIPTION(TypeLibTableDescription)
MSI_TABLE_DESCRIPTION(MsiAssemblyTableDescription)
MSI_TABLE_DESCRIPTION(MsiAssemblyNameTableDescription)
MSI_TABLE_DESCRIPTION(FontTableDescription)
MSI_TABLE_DESCRIPTION(EnvironmentTableDescription)
MSI_TABLE_DESCRIPTION(DuplicateFileTableDescription)
MSI_TABLE_DESCRIPTION(ServiceInstallTableDescription)
MSI_TABLE_DESCRIPTION(ODBCTranslatorTableDescription)
MSI_TABLE_DESCRIPTION(ODBCSourceAttributeTableDescription)
MSI_TABLE_DESCRIPTION(ODBCDriverTableDescription)
MSI_TABLE_DESCRIPTION(ODBCAttributeTableDescription)
MSI_TABLE_DESCRIPTION(IniFileTableDescription)
MSI_TABLE_DESCRIPTION(MoveFileTableDescription)
MSI_TABLE_DESCRIPTION(IsolatedComponentTableDescription)
MSI_TABLE_DESCRIPTION(CreateFolderTableDescription)
MSI_TABLE_DESCRIPTION(InstallExecuteSequenceTableDescription)
MSI_TABLE_DESCRIPTION(UpgradeTableDescription)
MSI_TABLE_DESCRIPTION(RestrictedProductsTableDescription)
MSI_TABLE_DESCRIPTION(ControlTableDescription)
MSI_TABLE_DESCRIPTION(ComboBoxTableDescription)
MSI_TABLE_DESCRIPTION(RadioButtonTableDescription)
MSI_TABLE_DESCRIPTION(DialogTableDescription)
MSI_TABLE_DESCRIPTION(UpgradeNonMsiTableDescription)
MSI_TABLE_DESCRIPTION(ImageFamiliesTableDescription)
MSI_TABLE_DESCRIPTION(UpgradedImagesTableDescription)
MSI_TABLE_DESCRIPTION(TargetImagesTableDescription)
MSI_TABLE_DESCRIPTION(UpgradedFiles_OptionalDataTableDescription)
MSI_TABLE_DESCRIPTION(PropertiesTableDescription)
MSI_TABLE_DESCRIPTION(PatchSequenceTableDescription)
MSI_TABLE_DESCRIPTION(PatchMetadataTableDescription)
#undef MSI_TABLE_DESCRIPTION

namespace Msi {

// Set during static initialisation, in catalogue order.
extern FeatureTableDescription* const featureTableDescription;
extern DirectoryTableDescription* const directoryTableDescription;
extern RegistryTableDescription* const registryTableDescription;
extern ComponentTableDescription* const componentTableDescription;
extern FeatureComponentsTableDescription* const featureComponentsTableDescription;
extern FileTableDescription* const fileTableDescription;
extern ShortcutTableDescription* const shortcutTableDescription;
extern BinaryTableDescription* const binaryTableDescription;
extern MediaTableDescription* const mediaTableDescription;
extern PropertyTableDescription* const propertyTableDescription;
extern CustomActionTableDescription* const customActionTableDescription;
extern MsiFileHashTableDescription* const msiFileHashTableDescription;
extern ExtensionTableDescription* const extensionTableDescription;
extern MIMETableDescription* const mimeTableDescription;
extern VerbTableDescription* const verbTableDescription;
extern ClassTableDescription* const classTableDescription;
extern ProgIdTableDescription* const progIdTableDescription;
extern AppIdTableDescription* const appIdTableDescription;
extern IconTableDescription* const iconTableDescription;
extern ODBCDataSourceTableDescription* const odbcDataSourceTableDescription;
extern TypeLibTableDescription* const typeLibTableDescription;
extern MsiAssemblyTableDescription* const msiAssemblyTableDescription;
extern MsiAssemblyNameTableDescription* const msiAssemblyNameTableDescription;
extern FontTableDescription* const fontTableDescription;
extern EnvironmentTableDescription* const environmentTableDescription;
extern DuplicateFileTableDescription* const duplicateFileTableDescription;
extern ServiceInstallTableDescription* const serviceInstallTableDescription;
extern ODBCTranslatorTableDescription* const odbcTranslatorTableDescription;
extern ODBCSourceAttributeTableDescription* const odbcSourceAttributeTableDescription;
extern ODBCDriverTableDescription* const odbcDriverTableDescription;
extern ODBCAttributeTableDescription* const odbcAttributeTableDescription;
extern IniFileTableDescription* const iniFileTableDescription;
extern MoveFileTableDescription* const moveFileTableDescription;
extern IsolatedComponentTableDescription* const isolatedComponentTableDescription;
extern CreateFolderTableDescription* const createFolderTableDescription;
extern InstallExecuteSequenceTableDescription* const installExecuteSequenceTableDescription;
extern UpgradeTableDescription* const upgradeTableDescription;
extern RestrictedProductsTableDescription* const restrictedProductsTableDescription;
extern ControlTableDescription* const controlTableDescription;
extern ComboBoxTableDescription* const comboBoxTableDescription;
extern RadioButtonTableDescription* const radioButtonTableDescription;
extern DialogTableDescription* const dialogTableDescription;
extern UpgradeNonMsiTableDescription* const upgradeNonMsiTableDescription;
extern ImageFamiliesTableDescription* const imageFamiliesTableDescription;
extern UpgradedImagesTableDescription* const upgradedImagesTableDescription;
extern TargetImagesTableDescription* const targetImagesTableDescription;
extern UpgradedFiles_OptionalDataTableDescription* const upgradedFiles_OptionalDataTableDescription;
extern PropertiesTableDescription* const propertiesTableDescription;
extern PatchSequenceTableDescription* const patchSequenceTableDescription;
extern PatchMetadataTableDescription* const patchMetadataTableDescription;

// The number of schema descriptions (50).
int schemaTableCount();
// The table name of the n-th schema description (0-based, catalogue order).
const char16_t* schemaTableName(int n);

}  // namespace Msi
