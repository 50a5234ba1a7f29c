// What a component installs besides its key path: environment values,
// duplicated and moved files, services, INI entries, created folders and the
// names of its assembly. Each row is one small object, found by key through the
// package or read as a component's children (loadComponentResources).
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "msi/entities/row_entity.h"

namespace Msi {

class MsiComponent;
class MsiDirectory;
class MsiFile;
class MsiPackage;

// The keys of the rows of T's table whose Component_ column names the
// component, each object registered with the package (parameters bound).
template <class T>
void loadComponentResources(MsiPackage* package, const std::u16string& componentKey, std::list<std::u16string>& keys);

// MD5 over the parts, each preceded by its length in code units (32 bits,
// little-endian) so that ("AB","C") and ("A","BC") differ, as 32 upper-case
// hexadecimal digits.
std::u16string digestKey(const std::vector<const std::u16string*>& parts, const std::int32_t* trailer = nullptr);

class MsiEnvironment : public MsiRowEntity<EnvironmentTableDescription, MsiEnvironment> {
 public:
  using Interface = MsiEnvironment;
  explicit MsiEnvironment(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& name() const { return value(1); }
  // Expanded against the package.
  std::u16string expandedValue();
  const std::u16string& componentKey() const { return value(3); }
  MsiComponent* component();
};

class MsiDuplicateFile : public MsiRowEntity<DuplicateFileTableDescription, MsiDuplicateFile> {
 public:
  using Interface = MsiDuplicateFile;
  explicit MsiDuplicateFile(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& componentKey() const { return value(1); }
  MsiComponent* component();
  MsiFile* file();
  const std::u16string& destName() const { return value(3); }
  const std::u16string& destFolder() const { return value(4); }
  // A property value, a Property row or a directory named by DestFolder; an
  // empty DestFolder is the original file's folder. Msi::Error 101 (module
  // 0x9a079ec4) when nothing answers.
  std::u16string destFolderPath();
};

class MsiServiceInstall : public MsiRowEntity<ServiceInstallTableDescription, MsiServiceInstall> {
 public:
  using Interface = MsiServiceInstall;
  explicit MsiServiceInstall(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& name() const { return value(1); }
  std::u16string displayName() { return expanded(2); }
  std::int32_t serviceType() const;
  std::int32_t startType() const;
  std::int32_t errorControl() const;
  std::u16string loadOrderGroup() { return expanded(6); }
  std::u16string dependencies() { return expanded(7); }
  std::u16string startName() { return expanded(8); }
  std::u16string password() { return expanded(9); }
  std::u16string arguments() { return expanded(10); }
  const std::u16string& componentKey() const { return value(11); }
  MsiComponent* component();
  std::u16string description() { return expanded(12); }
  // Keys of this package's ServiceInstall rows named as dependencies.
  const std::list<std::u16string>& dependentServices();
  std::list<std::u16string> groupDependencies();
  std::list<std::u16string> externalDependencies();

 private:
  std::u16string expanded(std::size_t column);
  void readDependencies();

  bool dependenciesRead_ = false;
  std::list<std::u16string> resolved_;
  std::list<std::u16string> dependencyNames_;
};

class MsiIniFile : public MsiRowEntity<IniFileTableDescription, MsiIniFile> {
 public:
  using Interface = MsiIniFile;
  enum Action : std::int32_t { AddLine = 0, CreateLine = 1, RemoveLine = 2, AddTag = 3, RemoveTag = 4 };

  explicit MsiIniFile(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& fileName() const { return value(1); }
  std::u16string directoryPath();
  std::u16string section();
  std::u16string keyName();
  std::u16string iniValue();
  // 0 to 4; Msi::Error 122 (module 0xd60d6bb3) for any other number.
  std::int32_t action() const;
  const std::u16string& componentKey() const { return value(7); }
  MsiComponent* component();
  void setKey(const std::u16string& key) { set(0, key); }
  void setFileName(const std::u16string& text) { set(1, text); }
  void setDirProperty(const std::u16string& text) { set(2, text); }
  void setSection(const std::u16string& text) { set(3, text); }
  void setKeyName(const std::u16string& text) { set(4, text); }
  void setValue(const std::u16string& text) { set(5, text); }
  // Msi::Error 122 (module 0xd60d6bb3) outside 0 to 4; the stored text stays.
  void setAction(std::int32_t action);
  void setComponent(MsiComponent* component);

 private:
  std::u16string expanded(std::size_t column);
};

class MsiMoveFile : public MsiRowEntity<MoveFileTableDescription, MsiMoveFile> {
 public:
  using Interface = MsiMoveFile;
  explicit MsiMoveFile(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& componentKey() const { return value(1); }
  MsiComponent* component();
  const std::u16string& sourceName() const { return value(2); }
  const std::u16string& destName() const { return value(3); }
  std::u16string sourceFolderPath();
  std::u16string destFolderPath();
  // 0 or 1; Msi::Error 121 (module 0xd60d6bb3) for any other text.
  std::int32_t options() const;
  void setKey(const std::u16string& key) { set(0, key); }
  void setComponent(MsiComponent* component);
  void setSourceName(const std::u16string& text) { set(2, text); }
  void setDestName(const std::u16string& text) { set(3, text); }
  void setSourceFolder(const std::u16string& text) { set(4, text); }
  void setDestFolder(const std::u16string& text) { set(5, text); }
  // 0 and 1 are stored; another number keeps the text; marked in every case.
  void setOptions(std::int32_t options);
};

// The two tables without a single key column: their key is a digest of both
// key columns, fixed once both are filled.
class MsiCreateFolder : public MsiRowEntity<CreateFolderTableDescription, MsiCreateFolder> {
 public:
  using Interface = MsiCreateFolder;
  explicit MsiCreateFolder(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& componentKey() const { return value(0); }
  MsiComponent* component();
  MsiDirectory* directory();
  bool matches(const MsiRow& row) const override;
  std::u16string key() const override;

 private:
  mutable std::u16string key_;
};

class MsiAssemblyName : public MsiRowEntity<MsiAssemblyNameTableDescription, MsiAssemblyName> {
 public:
  using Interface = MsiAssemblyName;
  explicit MsiAssemblyName(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& componentKey() const { return value(0); }
  MsiComponent* component();
  const std::u16string& name() const { return value(1); }
  const std::u16string& assemblyValue() const { return value(2); }
  bool matches(const MsiRow& row) const override;
  std::u16string key() const override;

 private:
  mutable std::u16string key_;
};

}  // namespace Msi
