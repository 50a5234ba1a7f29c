#include "msi/model/table_schemas.h"

#include <cstdint>
#include <iterator>

namespace {

// Columns of one schema: index order, name, SQL type text.
struct ColumnSpec {
  const char16_t* name;
  const char16_t* type;
};

template <std::size_t N>
void addColumns(Msi::MsiTableDescription& d, const ColumnSpec (&cols)[N]) {
  for (std::size_t i = 0; i < N; ++i) d.addColumn(static_cast<std::int32_t>(i), cols[i].name, cols[i].type);
}

}  // namespace

FeatureTableDescription::FeatureTableDescription() : Msi::MsiTableDescription(u"Feature") {
  static const ColumnSpec cols[] = {
      {u"Feature", u"CHAR(38) NOT NULL PRIMARY KEY"},
      {u"Feature_Parent", u"CHAR(38)"},
      {u"Title", u"CHAR(64)"},
      {u"Description", u"CHAR(255) LOCALIZABLE"},
      {u"Display", u"SHORT"},
      {u"Level", u"SHORT NOT NULL"},
      {u"Directory_", u"CHAR(72)"},
      {u"Attributes", u"SHORT NOT NULL"},
  };
  addColumns(*this, cols);
}
FeatureTableDescription::~FeatureTableDescription() = default;

DirectoryTableDescription::DirectoryTableDescription() : Msi::MsiTableDescription(u"Directory") {
  static const ColumnSpec cols[] = {
      {u"Directory", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Directory_Parent", u"CHAR(72)"},
      {u"DefaultDir", u"CHAR(255) NOT NULL LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
DirectoryTableDescription::~DirectoryTableDescription() = default;

RegistryTableDescription::RegistryTableDescription() : Msi::MsiTableDescription(u"Registry") {
  static const ColumnSpec cols[] = {
      {u"Registry", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Root", u"SHORT NOT NULL"},
      {u"Key", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"Name", u"CHAR(255) LOCALIZABLE"},
      {u"Value", u"LONGCHAR LOCALIZABLE"},
      {u"Component_", u"CHAR(72)"},
  };
  addColumns(*this, cols);
}
RegistryTableDescription::~RegistryTableDescription() = default;

ComponentTableDescription::ComponentTableDescription() : Msi::MsiTableDescription(u"Component") {
  static const ColumnSpec cols[] = {
      {u"Component", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"ComponentId", u"CHAR(38)"},
      {u"Directory_", u"CHAR(72) NOT NULL"},
      {u"Attributes", u"SHORT NOT NULL"},
      {u"Condition", u"CHAR(255)"},
      {u"KeyPath", u"CHAR(72)"},
  };
  addColumns(*this, cols);
}
ComponentTableDescription::~ComponentTableDescription() = default;

FeatureComponentsTableDescription::FeatureComponentsTableDescription() : Msi::MsiTableDescription(u"FeatureComponents") {
  static const ColumnSpec cols[] = {
      {u"Feature_", u"CHAR(38) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL PRIMARY KEY"},
  };
  addColumns(*this, cols);
}
FeatureComponentsTableDescription::~FeatureComponentsTableDescription() = default;

FileTableDescription::FileTableDescription() : Msi::MsiTableDescription(u"File") {
  static const ColumnSpec cols[] = {
      {u"File", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL"},
      {u"FileName", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"FileSize", u"LONG NOT NULL"},
      {u"Version", u"CHAR(72)"},
      {u"Language", u"CHAR(20)"},
      {u"Attributes", u"SHORT"},
      {u"Sequence", u"SHORT NOT NULL"},
  };
  addColumns(*this, cols);
}
FileTableDescription::~FileTableDescription() = default;

ShortcutTableDescription::ShortcutTableDescription() : Msi::MsiTableDescription(u"Shortcut") {
  static const ColumnSpec cols[] = {
      {u"Shortcut", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Directory_", u"CHAR(72) NOT NULL"},
      {u"Name", u"CHAR(128) NOT NULL LOCALIZABLE"},
      {u"Component_", u"CHAR(72) NOT NULL"},
      {u"Target", u"CHAR(72) NOT NULL"},
      {u"Arguments", u"CHAR(255)"},
      {u"Description", u"CHAR(255) LOCALIZABLE"},
      {u"Hotkey", u"SHORT"},
      {u"Icon_", u"CHAR(72)"},
      {u"IconIndex", u"SHORT"},
      {u"ShowCmd", u"SHORT"},
      {u"WkDir", u"CHAR(72)"},
  };
  addColumns(*this, cols);
}
ShortcutTableDescription::~ShortcutTableDescription() = default;

BinaryTableDescription::BinaryTableDescription() : Msi::MsiTableDescription(u"Binary") {
  static const ColumnSpec cols[] = {
      {u"Name", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Data", u"OBJECT NOT NULL"},
  };
  addColumns(*this, cols);
}
BinaryTableDescription::~BinaryTableDescription() = default;

MediaTableDescription::MediaTableDescription() : Msi::MsiTableDescription(u"Media") {
  static const ColumnSpec cols[] = {
      {u"DiskId", u"SHORT NOT NULL PRIMARY KEY"},
      {u"LastSequence", u"SHORT NOT NULL"},
      {u"DiskPrompt", u"CHAR(64) LOCALIZABLE"},
      {u"Cabinet", u"CHAR(255)"},
      {u"VolumeLabel", u"CHAR(32)"},
      {u"Source", u"CHAR(72)"},
  };
  addColumns(*this, cols);
}
MediaTableDescription::~MediaTableDescription() = default;

PropertyTableDescription::PropertyTableDescription() : Msi::MsiTableDescription(u"Property") {
  static const ColumnSpec cols[] = {
      {u"Property", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Value", u"LONGCHAR NOT NULL LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
PropertyTableDescription::~PropertyTableDescription() = default;

CustomActionTableDescription::CustomActionTableDescription() : Msi::MsiTableDescription(u"CustomAction") {
  static const ColumnSpec cols[] = {
      {u"Action", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Type", u"SHORT NOT NULL"},
      {u"Source", u"CHAR(72)"},
      {u"Target", u"CHAR(255)"},
  };
  addColumns(*this, cols);
}
CustomActionTableDescription::~CustomActionTableDescription() = default;

MsiFileHashTableDescription::MsiFileHashTableDescription() : Msi::MsiTableDescription(u"MsiFileHash") {
  static const ColumnSpec cols[] = {
      {u"File_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Options", u"SHORT NOT NULL"},
      {u"HashPart1", u"LONG NOT NULL"},
      {u"HashPart2", u"LONG NOT NULL"},
      {u"HashPart3", u"LONG NOT NULL"},
      {u"HashPart4", u"LONG NOT NULL"},
  };
  addColumns(*this, cols);
}
MsiFileHashTableDescription::~MsiFileHashTableDescription() = default;

ExtensionTableDescription::ExtensionTableDescription() : Msi::MsiTableDescription(u"Extension") {
  static const ColumnSpec cols[] = {
      {u"Extension", u"CHAR(255) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"ProgId_", u"CHAR(255)"},
      {u"MIME_", u"CHAR(64)"},
      {u"Feature_", u"CHAR(38) NOT NULL"},
  };
  addColumns(*this, cols);
}
ExtensionTableDescription::~ExtensionTableDescription() = default;

MIMETableDescription::MIMETableDescription() : Msi::MsiTableDescription(u"MIME") {
  static const ColumnSpec cols[] = {
      {u"ContentType", u"CHAR(64) NOT NULL PRIMARY KEY"},
      {u"Extension_", u"CHAR(255) NOT NULL"},
      {u"CLSID", u"CHAR(38)"},
  };
  addColumns(*this, cols);
}
MIMETableDescription::~MIMETableDescription() = default;

VerbTableDescription::VerbTableDescription() : Msi::MsiTableDescription(u"Verb") {
  static const ColumnSpec cols[] = {
      {u"Extension_", u"CHAR(255) NOT NULL PRIMARY KEY"},
      {u"Verb", u"CHAR(32) NOT NULL PRIMARY KEY"},
      {u"Sequence", u"SHORT"},
      {u"Command", u"CHAR(255) LOCALIZABLE"},
      {u"Argument", u"CHAR(255)"},
  };
  addColumns(*this, cols);
}
VerbTableDescription::~VerbTableDescription() = default;

ClassTableDescription::ClassTableDescription() : Msi::MsiTableDescription(u"Class") {
  static const ColumnSpec cols[] = {
      {u"CLSID", u"CHAR(38) NOT NULL PRIMARY KEY"},
      {u"Context", u"CHAR(32) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"ProgId_Default", u"CHAR(255)"},
      {u"Description", u"CHAR(255) LOCALIZABLE"},
      {u"AppId_", u"CHAR(38)"},
      {u"FileTypeMask", u"CHAR(255)"},
      {u"Icon_", u"CHAR(72)"},
      {u"IconIndex", u"SHORT"},
      {u"DefInprocHandler", u"CHAR(32)"},
      {u"Argument", u"CHAR(255)"},
      {u"Feature_", u"CHAR(38) NOT NULL"},
      {u"Attributes", u"SHORT"},
  };
  addColumns(*this, cols);
}
ClassTableDescription::~ClassTableDescription() = default;

ProgIdTableDescription::ProgIdTableDescription() : Msi::MsiTableDescription(u"ProgId") {
  static const ColumnSpec cols[] = {
      {u"ProgId", u"CHAR(255) NOT NULL PRIMARY KEY"},
      {u"ProgId_Parent", u"CHAR(255)"},
      {u"Class_", u"CHAR(38)"},
      {u"Description", u"CHAR(255) LOCALIZABLE"},
      {u"Icon_", u"CHAR(72)"},
      {u"IconIndex", u"SHORT"},
  };
  addColumns(*this, cols);
}
ProgIdTableDescription::~ProgIdTableDescription() = default;

AppIdTableDescription::AppIdTableDescription() : Msi::MsiTableDescription(u"AppId") {
  static const ColumnSpec cols[] = {
      {u"AppId", u"CHAR(38) NOT NULL PRIMARY KEY"},
      {u"RemoteServerName", u"CHAR(255)"},
      {u"LocalService", u"CHAR(255)"},
      {u"ServiceParameters", u"CHAR(255)"},
      {u"DllSurrogate", u"CHAR(255)"},
      {u"ActivateAtStorage", u"SHORT"},
      {u"RunAsInteractiveUser", u"SHORT"},
  };
  addColumns(*this, cols);
}
AppIdTableDescription::~AppIdTableDescription() = default;

IconTableDescription::IconTableDescription() : Msi::MsiTableDescription(u"Icon") {
  static const ColumnSpec cols[] = {
      {u"Name", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Data", u"OBJECT NOT NULL"},
  };
  addColumns(*this, cols);
}
IconTableDescription::~IconTableDescription() = default;

ODBCDataSourceTableDescription::ODBCDataSourceTableDescription() : Msi::MsiTableDescription(u"ODBCDataSource") {
  static const ColumnSpec cols[] = {
      {u"DataSource", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL"},
      {u"Description", u"CHAR(255) NOT NULL"},
      {u"DriverDescription", u"CHAR(255) NOT NULL"},
      {u"Registration", u"SHORT NOT NULL"},
  };
  addColumns(*this, cols);
}
ODBCDataSourceTableDescription::~ODBCDataSourceTableDescription() = default;

TypeLibTableDescription::TypeLibTableDescription() : Msi::MsiTableDescription(u"TypeLib") {
  static const ColumnSpec cols[] = {
      {u"LibID", u"CHAR(38) PRIMARY KEY NOT NULL"},
      {u"Language", u"SHORT PRIMARY KEY NOT NULL"},
      {u"Component_", u"CHAR(72) PRIMARY KEY NOT NULL"},
      {u"Version", u"SHORT"},
      {u"Description", u"CHAR(128) LOCALIZABLE"},
      {u"Directory_", u"CHAR(72)"},
      {u"Feature_", u"CHAR(32) NOT NULL"},
      {u"Cost", u"LONG"},
  };
  addColumns(*this, cols);
}
TypeLibTableDescription::~TypeLibTableDescription() = default;

MsiAssemblyTableDescription::MsiAssemblyTableDescription() : Msi::MsiTableDescription(u"MsiAssembly") {
  static const ColumnSpec cols[] = {
      {u"Component_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Feature_", u"CHAR(38) NOT NULL"},
      {u"File_Manifest", u"CHAR(255)"},
      {u"File_Application", u"CHAR(255)"},
      {u"Attributes", u"SHORT"},
  };
  addColumns(*this, cols);
}
MsiAssemblyTableDescription::~MsiAssemblyTableDescription() = default;

MsiAssemblyNameTableDescription::MsiAssemblyNameTableDescription() : Msi::MsiTableDescription(u"MsiAssemblyName") {
  static const ColumnSpec cols[] = {
      {u"Component_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Name", u"CHAR(255) NOT NULL PRIMARY KEY"},
      {u"Value", u"CHAR(255) NOT NULL"},
  };
  addColumns(*this, cols);
}
MsiAssemblyNameTableDescription::~MsiAssemblyNameTableDescription() = default;

FontTableDescription::FontTableDescription() : Msi::MsiTableDescription(u"Font") {
  static const ColumnSpec cols[] = {
      {u"File_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"FontTitle", u"CHAR(128)"},
  };
  addColumns(*this, cols);
}
FontTableDescription::~FontTableDescription() = default;

EnvironmentTableDescription::EnvironmentTableDescription() : Msi::MsiTableDescription(u"Environment") {
  static const ColumnSpec cols[] = {
      {u"Environment", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Name", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"Value", u"CHAR(255) LOCALIZABLE"},
      {u"Component_", u"CHAR(72) NOT NULL"},
  };
  addColumns(*this, cols);
}
EnvironmentTableDescription::~EnvironmentTableDescription() = default;

DuplicateFileTableDescription::DuplicateFileTableDescription() : Msi::MsiTableDescription(u"DuplicateFile") {
  static const ColumnSpec cols[] = {
      {u"FileKey", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL"},
      {u"File_", u"CHAR(72) NOT NULL"},
      {u"DestName", u"CHAR(255) LOCALIZABLE"},
      {u"DestFolder", u"CHAR(72)"},
  };
  addColumns(*this, cols);
}
DuplicateFileTableDescription::~DuplicateFileTableDescription() = default;

ServiceInstallTableDescription::ServiceInstallTableDescription() : Msi::MsiTableDescription(u"ServiceInstall") {
  static const ColumnSpec cols[] = {
      {u"ServiceInstall", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Name", u"CHAR(255) NOT NULL"},
      {u"DisplayName", u"CHAR(255)"},
      {u"ServiceType", u"LONG NOT NULL"},
      {u"StartType", u"LONG NOT NULL"},
      {u"ErrorControl", u"LONG NOT NULL"},
      {u"LoadOrderGroup", u"CHAR(255)"},
      {u"Dependencies", u"CHAR(255)"},
      {u"StartName", u"CHAR(255)"},
      {u"Password", u"CHAR(255) LOCALIZABLE"},
      {u"Arguments", u"CHAR(255)"},
      {u"Component_", u"CHAR(72) NOT NULL"},
      {u"Description", u"CHAR(255) LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
ServiceInstallTableDescription::~ServiceInstallTableDescription() = default;

ODBCTranslatorTableDescription::ODBCTranslatorTableDescription() : Msi::MsiTableDescription(u"ODBCTranslator") {
  static const ColumnSpec cols[] = {
      {u"Translator", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL"},
      {u"Description", u"CHAR(255) NOT NULL"},
      {u"File_", u"CHAR(72) NOT NULL"},
      {u"File_Setup", u"CHAR(72)"},
  };
  addColumns(*this, cols);
}
ODBCTranslatorTableDescription::~ODBCTranslatorTableDescription() = default;

ODBCSourceAttributeTableDescription::ODBCSourceAttributeTableDescription() : Msi::MsiTableDescription(u"ODBCSourceAttribute") {
  static const ColumnSpec cols[] = {
      {u"DataSource_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Attribute", u"CHAR(255) NOT NULL PRIMARY KEY"},
      {u"Value", u"CHAR(255) LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
ODBCSourceAttributeTableDescription::~ODBCSourceAttributeTableDescription() = default;

ODBCDriverTableDescription::ODBCDriverTableDescription() : Msi::MsiTableDescription(u"ODBCDriver") {
  static const ColumnSpec cols[] = {
      {u"Driver", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL"},
      {u"Description", u"CHAR(255) NOT NULL"},
      {u"File_", u"CHAR(72) NOT NULL"},
      {u"File_Setup", u"CHAR(72)"},
  };
  addColumns(*this, cols);
}
ODBCDriverTableDescription::~ODBCDriverTableDescription() = default;

ODBCAttributeTableDescription::ODBCAttributeTableDescription() : Msi::MsiTableDescription(u"ODBCAttribute") {
  static const ColumnSpec cols[] = {
      {u"Driver_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Attribute", u"CHAR(255) NOT NULL PRIMARY KEY"},
      {u"Value", u"CHAR(255) LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
ODBCAttributeTableDescription::~ODBCAttributeTableDescription() = default;

IniFileTableDescription::IniFileTableDescription() : Msi::MsiTableDescription(u"IniFile") {
  static const ColumnSpec cols[] = {
      {u"IniFile", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"FileName", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"DirProperty", u"CHAR(72)"},
      {u"Section", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"Key", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"Value", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"Action", u"LONG NOT NULL"},
      {u"Component_", u"CHAR(72) NOT NULL"},
  };
  addColumns(*this, cols);
}
IniFileTableDescription::~IniFileTableDescription() = default;

MoveFileTableDescription::MoveFileTableDescription() : Msi::MsiTableDescription(u"MoveFile") {
  static const ColumnSpec cols[] = {
      {u"FileKey", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Component_", u"CHAR(72) NOT NULL"},
      {u"SourceName", u"CHAR(255) LOCALIZABLE"},
      {u"DestName", u"CHAR(32)"},
      {u"SourceFolder", u"CHAR(72)"},
      {u"DestFolder", u"CHAR(72) NOT NULL"},
      {u"Options", u"LONG NOT NULL"},
  };
  addColumns(*this, cols);
}
MoveFileTableDescription::~MoveFileTableDescription() = default;

IsolatedComponentTableDescription::IsolatedComponentTableDescription() : Msi::MsiTableDescription(u"IsolatedComponent") {
  static const ColumnSpec cols[] = {
      {u"Component_Shared", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Component_Application", u"CHAR(72) NOT NULL PRIMARY KEY"},
  };
  addColumns(*this, cols);
}
IsolatedComponentTableDescription::~IsolatedComponentTableDescription() = default;

CreateFolderTableDescription::CreateFolderTableDescription() : Msi::MsiTableDescription(u"CreateFolder") {
  static const ColumnSpec cols[] = {
      {u"Component_", u"CHAR(72) PRIMARY KEY NOT NULL"},
      {u"Directory_", u"CHAR(72) PRIMARY KEY NOT NULL"},
  };
  addColumns(*this, cols);
}
CreateFolderTableDescription::~CreateFolderTableDescription() = default;

InstallExecuteSequenceTableDescription::InstallExecuteSequenceTableDescription() : Msi::MsiTableDescription(u"InstallExecuteSequence") {
  static const ColumnSpec cols[] = {
      {u"Action", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Condition", u"CHAR(255)"},
      {u"Sequence", u"LONG NOT NULL"},
  };
  addColumns(*this, cols);
}
InstallExecuteSequenceTableDescription::~InstallExecuteSequenceTableDescription() = default;

UpgradeTableDescription::UpgradeTableDescription() : Msi::MsiTableDescription(u"Upgrade") {
  static const ColumnSpec cols[] = {
      {u"UpgradeCode", u"CHAR(38) NOT NULL PRIMARY KEY"},
      {u"VersionMin", u"CHAR(20) PRIMARY KEY"},
      {u"VersionMax", u"CHAR(20) PRIMARY KEY"},
      {u"Language", u"CHAR(255) PRIMARY KEY"},
      {u"Attributes", u"LONG NOT NULL PRIMARY KEY"},
      {u"Remove", u"CHAR(255)"},
      {u"ActionProperty", u"CHAR(72) NOT NULL"},
  };
  addColumns(*this, cols);
}
UpgradeTableDescription::~UpgradeTableDescription() = default;

RestrictedProductsTableDescription::RestrictedProductsTableDescription() : Msi::MsiTableDescription(u"RestrictedProducts") {
  static const ColumnSpec cols[] = {
      {u"UpgradeCode", u"CHAR(38) NOT NULL PRIMARY KEY"},
      {u"VersionMin", u"CHAR(20) PRIMARY KEY"},
      {u"VersionMax", u"CHAR(20) PRIMARY KEY"},
      {u"ActionProperty", u"CHAR(72) NOT NULL"},
  };
  addColumns(*this, cols);
}
RestrictedProductsTableDescription::~RestrictedProductsTableDescription() = default;

ControlTableDescription::ControlTableDescription() : Msi::MsiTableDescription(u"Control") {
  static const ColumnSpec cols[] = {
      {u"Dialog_", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Control", u"CHAR(50) NOT NULL PRIMARY KEY"},
      {u"Type", u"CHAR(20) NOT NULL"},
      {u"X", u"SHORT NOT NULL"},
      {u"Y", u"SHORT NOT NULL"},
      {u"Width", u"SHORT NOT NULL"},
      {u"Height", u"SHORT NOT NULL"},
      {u"Attributes", u"LONG"},
      {u"Property", u"CHAR(50)"},
      {u"Text", u"LONGCHAR LOCALIZABLE"},
      {u"Control_Next", u"CHAR(50)"},
      {u"Help", u"CHAR(50) LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
ControlTableDescription::~ControlTableDescription() = default;

ComboBoxTableDescription::ComboBoxTableDescription() : Msi::MsiTableDescription(u"ComboBox") {
  static const ColumnSpec cols[] = {
      {u"Property", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Order", u"SHORT NOT NULL PRIMARY KEY"},
      {u"Value", u"CHAR(64) NOT NULL"},
      {u"Text", u"CHAR(64) LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
ComboBoxTableDescription::~ComboBoxTableDescription() = default;

RadioButtonTableDescription::RadioButtonTableDescription() : Msi::MsiTableDescription(u"RadioButton") {
  static const ColumnSpec cols[] = {
      {u"Property", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Order", u"SHORT NOT NULL PRIMARY KEY"},
      {u"Value", u"CHAR(64) NOT NULL"},
      {u"X", u"SHORT NOT NULL"},
      {u"Y", u"SHORT NOT NULL"},
      {u"Width", u"SHORT NOT NULL"},
      {u"Height", u"SHORT NOT NULL"},
      {u"Text", u"CHAR(64) LOCALIZABLE"},
      {u"Help", u"CHAR(50) LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
RadioButtonTableDescription::~RadioButtonTableDescription() = default;

DialogTableDescription::DialogTableDescription() : Msi::MsiTableDescription(u"Dialog") {
  static const ColumnSpec cols[] = {
      {u"Dialog", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"HCentering", u"SHORT NOT NULL"},
      {u"VCentering", u"SHORT NOT NULL"},
      {u"Width", u"SHORT NOT NULL"},
      {u"Height", u"SHORT NOT NULL"},
      {u"Attributes", u"LONG"},
      {u"Title", u"CHAR(128) LOCALIZABLE"},
      {u"Control_First", u"CHAR(50) NOT NULL"},
      {u"Control_Default", u"CHAR(50)"},
      {u"Control_Cancel", u"CHAR(50)"},
  };
  addColumns(*this, cols);
}
DialogTableDescription::~DialogTableDescription() = default;

UpgradeNonMsiTableDescription::UpgradeNonMsiTableDescription() : Msi::MsiTableDescription(u"UpgradeNonMsi") {
  static const ColumnSpec cols[] = {
      {u"Product", u"CHAR(255) NOT NULL PRIMARY KEY"},
      {u"Action", u"CHAR(72) NOT NULL"},
      {u"Sequence", u"SHORT"},
  };
  addColumns(*this, cols);
}
UpgradeNonMsiTableDescription::~UpgradeNonMsiTableDescription() = default;

ImageFamiliesTableDescription::ImageFamiliesTableDescription() : Msi::MsiTableDescription(u"ImageFamilies") {
  static const ColumnSpec cols[] = {
      {u"Family", u"CHAR(8) NOT NULL PRIMARY KEY"},
      {u"MediaSrcPropName", u"CHAR(72)"},
      {u"MediaDiskId", u"SHORT"},
      {u"FileSequenceStart", u"SHORT"},
      {u"DiskPrompt", u"CHAR(255)"},
      {u"VolumeLabel", u"CHAR(32)"},
  };
  addColumns(*this, cols);
}
ImageFamiliesTableDescription::~ImageFamiliesTableDescription() = default;

UpgradedImagesTableDescription::UpgradedImagesTableDescription() : Msi::MsiTableDescription(u"UpgradedImages") {
  static const ColumnSpec cols[] = {
      {u"Upgraded", u"CHAR(13) NOT NULL PRIMARY KEY"},
      {u"MsiPath", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"PatchMsiPath", u"CHAR(255) LOCALIZABLE"},
      {u"SymbolPaths", u"CHAR(255) LOCALIZABLE"},
      {u"Family", u"CHAR(8) NOT NULL"},
  };
  addColumns(*this, cols);
}
UpgradedImagesTableDescription::~UpgradedImagesTableDescription() = default;

TargetImagesTableDescription::TargetImagesTableDescription() : Msi::MsiTableDescription(u"TargetImages") {
  static const ColumnSpec cols[] = {
      {u"Target", u"CHAR(13) NOT NULL PRIMARY KEY"},
      {u"MsiPath", u"CHAR(255) NOT NULL LOCALIZABLE"},
      {u"SymbolPaths", u"CHAR(255) LOCALIZABLE"},
      {u"Upgraded", u"CHAR(13) NOT NULL"},
      {u"Order", u"SHORT NOT NULL"},
      {u"ProductValidateFlags", u"CHAR(16)"},
      {u"IgnoreMissingSrcFiles", u"SHORT NOT NULL"},
  };
  addColumns(*this, cols);
}
TargetImagesTableDescription::~TargetImagesTableDescription() = default;

UpgradedFiles_OptionalDataTableDescription::UpgradedFiles_OptionalDataTableDescription() : Msi::MsiTableDescription(u"UpgradedFiles_OptionalData") {
  static const ColumnSpec cols[] = {
      {u"Upgraded", u"CHAR(13) NOT NULL PRIMARY KEY"},
      {u"FTK", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"SymbolPaths", u"CHAR(255) LOCALIZABLE"},
      {u"AllowIgnoreOnPatchError", u"SHORT"},
      {u"IncludeWholeFile", u"SHORT"},
  };
  addColumns(*this, cols);
}
UpgradedFiles_OptionalDataTableDescription::~UpgradedFiles_OptionalDataTableDescription() = default;

PropertiesTableDescription::PropertiesTableDescription() : Msi::MsiTableDescription(u"Properties") {
  static const ColumnSpec cols[] = {
      {u"Name", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Value", u"LONGCHAR NOT NULL LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
PropertiesTableDescription::~PropertiesTableDescription() = default;

PatchSequenceTableDescription::PatchSequenceTableDescription() : Msi::MsiTableDescription(u"PatchSequence") {
  static const ColumnSpec cols[] = {
      {u"PatchFamily", u"CHAR(38) NOT NULL PRIMARY KEY"},
      {u"Target", u"CHAR(38) PRIMARY KEY"},
      {u"Sequence", u"CHAR(23)"},
      {u"Supersede", u"SHORT"},
  };
  addColumns(*this, cols);
}
PatchSequenceTableDescription::~PatchSequenceTableDescription() = default;

PatchMetadataTableDescription::PatchMetadataTableDescription() : Msi::MsiTableDescription(u"PatchMetadata") {
  static const ColumnSpec cols[] = {
      {u"Company", u"CHAR(72) PRIMARY KEY"},
      {u"Property", u"CHAR(72) NOT NULL PRIMARY KEY"},
      {u"Value", u"LONGCHAR NOT NULL PRIMARY LOCALIZABLE"},
  };
  addColumns(*this, cols);
}
PatchMetadataTableDescription::~PatchMetadataTableDescription() = default;

namespace Msi {

FeatureTableDescription* const featureTableDescription = Singleton<FeatureTableDescription>::instance();
DirectoryTableDescription* const directoryTableDescription = Singleton<DirectoryTableDescription>::instance();
RegistryTableDescription* const registryTableDescription = Singleton<RegistryTableDescription>::instance();
ComponentTableDescription* const componentTableDescription = Singleton<ComponentTableDescription>::instance();
FeatureComponentsTableDescription* const featureComponentsTableDescription = Singleton<FeatureComponentsTableDescription>::instance();
FileTableDescription* const fileTableDescription = Singleton<FileTableDescription>::instance();
ShortcutTableDescription* const shortcutTableDescription = Singleton<ShortcutTableDescription>::instance();
BinaryTableDescription* const binaryTableDescription = Singleton<BinaryTableDescription>::instance();
MediaTableDescription* const mediaTableDescription = Singleton<MediaTableDescription>::instance();
PropertyTableDescription* const propertyTableDescription = Singleton<PropertyTableDescription>::instance();
CustomActionTableDescription* const customActionTableDescription = Singleton<CustomActionTableDescription>::instance();
MsiFileHashTableDescription* const msiFileHashTableDescription = Singleton<MsiFileHashTableDescription>::instance();
ExtensionTableDescription* const extensionTableDescription = Singleton<ExtensionTableDescription>::instance();
MIMETableDescription* const mimeTableDescription = Singleton<MIMETableDescription>::instance();
VerbTableDescription* const verbTableDescription = Singleton<VerbTableDescription>::instance();
ClassTableDescription* const classTableDescription = Singleton<ClassTableDescription>::instance();
ProgIdTableDescription* const progIdTableDescription = Singleton<ProgIdTableDescription>::instance();
AppIdTableDescription* const appIdTableDescription = Singleton<AppIdTableDescription>::instance();
IconTableDescription* const iconTableDescription = Singleton<IconTableDescription>::instance();
ODBCDataSourceTableDescription* const odbcDataSourceTableDescription = Singleton<ODBCDataSourceTableDescription>::instance();
TypeLibTableDescription* const typeLibTableDescription = Singleton<TypeLibTableDescription>::instance();
MsiAssemblyTableDescription* const msiAssemblyTableDescription = Singleton<MsiAssemblyTableDescription>::instance();
MsiAssemblyNameTableDescription* const msiAssemblyNameTableDescription = Singleton<MsiAssemblyNameTableDescription>::instance();
FontTableDescription* const fontTableDescription = Singleton<FontTableDescription>::instance();
EnvironmentTableDescription* const environmentTableDescription = Singleton<EnvironmentTableDescription>::instance();
DuplicateFileTableDescription* const duplicateFileTableDescription = Singleton<DuplicateFileTableDescription>::instance();
ServiceInstallTableDescription* const serviceInstallTableDescription = Singleton<ServiceInstallTableDescription>::instance();
ODBCTranslatorTableDescription* const odbcTranslatorTableDescription = Singleton<ODBCTranslatorTableDescription>::instance();
ODBCSourceAttributeTableDescription* const odbcSourceAttributeTableDescription = Singleton<ODBCSourceAttributeTableDescription>::instance();
ODBCDriverTableDescription* const odbcDriverTableDescription = Singleton<ODBCDriverTableDescription>::instance();
ODBCAttributeTableDescription* const odbcAttributeTableDescription = Singleton<ODBCAttributeTableDescription>::instance();
IniFileTableDescription* const iniFileTableDescription = Singleton<IniFileTableDescription>::instance();
MoveFileTableDescription* const moveFileTableDescription = Singleton<MoveFileTableDescription>::instance();
IsolatedComponentTableDescription* const isolatedComponentTableDescription = Singleton<IsolatedComponentTableDescription>::instance();
CreateFolderTableDescription* const createFolderTableDescription = Singleton<CreateFolderTableDescription>::instance();
InstallExecuteSequenceTableDescription* const installExecuteSequenceTableDescription = Singleton<InstallExecuteSequenceTableDescription>::instance();
UpgradeTableDescription* const upgradeTableDescription = Singleton<UpgradeTableDescription>::instance();
RestrictedProductsTableDescription* const restrictedProductsTableDescription = Singleton<RestrictedProductsTableDescription>::instance();
ControlTableDescription* const controlTableDescription = Singleton<ControlTableDescription>::instance();
ComboBoxTableDescription* const comboBoxTableDescription = Singleton<ComboBoxTableDescription>::instance();
RadioButtonTableDescription* const radioButtonTableDescription = Singleton<RadioButtonTableDescription>::instance();
DialogTableDescription* const dialogTableDescription = Singleton<DialogTableDescription>::instance();
UpgradeNonMsiTableDescription* const upgradeNonMsiTableDescription = Singleton<UpgradeNonMsiTableDescription>::instance();
ImageFamiliesTableDescription* const imageFamiliesTableDescription = Singleton<ImageFamiliesTableDescription>::instance();
UpgradedImagesTableDescription* const upgradedImagesTableDescription = Singleton<UpgradedImagesTableDescription>::instance();
TargetImagesTableDescription* const targetImagesTableDescription = Singleton<TargetImagesTableDescription>::instance();
UpgradedFiles_OptionalDataTableDescription* const upgradedFiles_OptionalDataTableDescription = Singleton<UpgradedFiles_OptionalDataTableDescription>::instance();
PropertiesTableDescription* const propertiesTableDescription = Singleton<PropertiesTableDescription>::instance();
PatchSequenceTableDescription* const patchSequenceTableDescription = Singleton<PatchSequenceTableDescription>::instance();
PatchMetadataTableDescription* const patchMetadataTableDescription = Singleton<PatchMetadataTableDescription>::instance();

namespace {
const char16_t* const kSchemaNames[] = {
    u"Feature",
    u"Directory",
    u"Registry",
    u"Component",
    u"FeatureComponents",
    u"File",
    u"Shortcut",
    u"Binary",
    u"Media",
    u"Property",
    u"CustomAction",
    u"MsiFileHash",
    u"Extension",
    u"MIME",
    u"Verb",
    u"Class",
    u"ProgId",
    u"AppId",
    u"Icon",
    u"ODBCDataSource",
    u"TypeLib",
    u"MsiAssembly",
    u"MsiAssemblyName",
    u"Font",
    u"Environment",
    u"DuplicateFile",
    u"ServiceInstall",
    u"ODBCTranslator",
    u"ODBCSourceAttribute",
    u"ODBCDriver",
    u"ODBCAttribute",
    u"IniFile",
    u"MoveFile",
    u"IsolatedComponent",
    u"CreateFolder",
    u"InstallExecuteSequence",
    u"Upgrade",
    u"RestrictedProducts",
    u"Control",
    u"ComboBox",
    u"RadioButton",
    u"Dialog",
    u"UpgradeNonMsi",
    u"ImageFamilies",
    u"UpgradedImages",
    u"TargetImages",
    u"UpgradedFiles_OptionalData",
    u"Properties",
    u"PatchSequence",
    u"PatchMetadata",
};
}  // namespace

int schemaTableCount() { return static_cast<int>(std::size(kSchemaNames)); }
const char16_t* schemaTableName(int n) {
  return n >= 0 && n < schemaTableCount() ? kSchemaNames[n] : nullptr;
}

}  // namespace Msi
