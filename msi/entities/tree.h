// The installation tree's row kinds besides directories: features, the
// components they hold and the files those install.
#pragma once

#include <list>
#include <string>

#include "msi/entities/row_entity.h"

namespace Msi {

class MsiDirectory;
class MsiFeature;
class MsiAssemblyName;
class MsiAssembly;
class MsiFile;
class MsiRegistry;

// Adds a key once, keeping the order of first addition.
void appendOnce(std::list<std::u16string>& keys, const std::u16string& key);

class MsiComponent : public MsiRowEntity<ComponentTableDescription, MsiComponent> {
 public:
  using Interface = MsiComponent;
  // What the key path is: chosen once from the row.
  enum class Kind { File, Registry, Odbc, Directory, Assembly };

  explicit MsiComponent(MsiPackage* package);

  const std::u16string& componentId() const { return value(1); }
  const std::u16string& directoryKey() const { return value(2); }
  const std::u16string& attributesText() const { return value(3); }
  const std::u16string& condition() const { return value(4); }
  const std::u16string& keyPath() const { return value(5); }
  Kind kind() const { return kind_; }
  void setKind(Kind kind) { kind_ = kind; }

  // The component's directory; null when unknown.
  MsiDirectory* directory();
  // The target path of the directory, or empty without one.
  std::u16string directoryTargetPath();
  const std::list<std::u16string>& featureKeys() const { return featureKeys_; }
  const std::list<std::u16string>& fileKeys() const { return fileKeys_; }
  void addFeature(const std::u16string& featureKey) { appendOnce(featureKeys_, featureKey); }
  void addFile(const std::u16string& fileKey) { appendOnce(fileKeys_, fileKey); }
  // Deletes the component's row and its FeatureComponents rows, then the object.
  void remove();
  // Directory_ "TARGETDIR" when the component has none.
  void writeTo(MsiRow& row) const override;
  // Records a feature holding the component; one without a directory takes the
  // feature's. Msi::Error 21 (module 0x69b0d5c4) for a feature held already.
  void joinFeature(MsiFeature* feature);
  // The assembly name whose Name is the text (case-sensitive), or null.
  MsiAssemblyName* findAssemblyName(const std::u16string& name);
  // The assembly row of a component of the assembly kind, or null.
  MsiAssembly* assembly() const;

  // A new component for authoring: Msi::Error 111 (module 0x69b0d5c4) for a
  // component identifier that is no GUID; registered in the package's component
  // list, with the key-path row (a file or registry row, or null) given to it.
  static MsiComponent* createFile(MsiPackage* package, const std::u16string& componentId, MsiFile* keyPathFile,
                                  const std::u16string& directoryKey);
  static MsiComponent* createRegistry(MsiPackage* package, const std::u16string& componentId,
                                      MsiRegistry* keyPathRegistry, const std::u16string& directoryKey);
  // FeatureComponents rows of a changed component, then its key-path row.
  void afterSave(int flags) override;

 private:
  Kind kind_ = Kind::File;
  std::list<std::u16string> featureKeys_;
  std::list<std::u16string> fileKeys_;
};

// The kind a Component row gives: an ODBC data source (0x20) or registry value
// (0x04) key path, no key path (the directory), a file with an assembly row,
// else a file. Msi::Error 5 (module 0x5058087b) for a non-numeric Attributes.
MsiComponent::Kind componentKind(const std::u16string& attributes, const std::u16string& keyPath, bool hasAssembly);

class MsiFeature : public MsiRowEntity<FeatureTableDescription, MsiFeature> {
 public:
  using Interface = MsiFeature;
  explicit MsiFeature(MsiPackage* package);

  const std::u16string& parentKey() const { return value(1); }
  const std::u16string& title() const { return value(2); }
  const std::u16string& description() const { return value(3); }
  const std::u16string& display() const { return value(4); }
  const std::u16string& level() const { return value(5); }
  const std::u16string& directoryKey() const { return value(6); }
  const std::u16string& attributesText() const { return value(7); }
  const std::list<std::u16string>& componentKeys() const { return componentKeys_; }
  void addComponent(const std::u16string& componentKey) { appendOnce(componentKeys_, componentKey); }
  // Deletes the feature's row and its FeatureComponents rows, then the object.
  void remove();

  // A new feature: Level "100", Attributes "8", the next expanded Display;
  // unmarked until its maker marks it.
  MsiFeature(MsiPackage* package, const std::u16string& key, const std::u16string& title,
             const std::u16string& directoryKey);
  // New components held by this feature, with a new key-path row each, in the
  // feature's directory; marked for the next commit.
  MsiComponent* createFileComponent(const std::u16string& componentId);
  MsiComponent* createRegistryComponent(const std::u16string& componentId);

 private:
  std::list<std::u16string> componentKeys_;
};

// File flags of the model and the Attributes bits they stand for; other bits drop.
std::int32_t fileAttributesFromFlags(std::int32_t flags);
std::int32_t fileFlagsFromAttributes(std::int32_t attributes);

class MsiFile : public MsiRowEntity<FileTableDescription, MsiFile> {
 public:
  using Interface = MsiFile;
  static constexpr std::uint32_t kModule = 0x5925c101;
  // For rows about to be read: nothing set, nothing marked.
  explicit MsiFile(MsiPackage* package);
  // A new file with a generated key (Msi::Error 110 when none can be made) and
  // the vital flag, marked for the next commit.
  static MsiFile* create(MsiPackage* package);

  const std::u16string& componentKey() const { return value(1); }
  const std::u16string& fileName() const { return value(2); }
  // The part after "|", or the one bare name.
  std::u16string longName() const;
  std::u16string shortName() const;
  const std::u16string& fileSize() const { return value(3); }
  const std::u16string& version() const { return value(4); }
  const std::u16string& language() const { return value(5); }
  const std::u16string& attributesText() const { return value(6); }
  const std::u16string& sequence() const { return value(7); }
  // The component's directory path and the long name; empty without a component.
  std::u16string targetPath();
  std::u16string shortTargetPath();

  // Authoring (file_authoring.cpp). A name without "|" gets its 8.3 name first.
  void setFileName(const std::u16string& name);
  void setAttributes(std::int32_t flags);
  std::int32_t attributes() const;
  // Where the file is read from when measured; empty: the package layout says.
  void setSourceFile(const std::u16string& path);
  const std::u16string& sourceFile() const { return sourceFile_; }
  void setSequence(const std::u16string& sequence) { set(7, sequence); }
  // Msi::Error 62 when the file has a component already.
  void setComponent(const std::u16string& componentKey);
  void setLanguage(const std::u16string& language) { set(5, language); }
  // Below the package's source folder: the component directory's source path and the long name.
  std::u16string relativeSourcePath();
  std::u16string sourcePath();
  std::u16string shortSourcePath();
  // The MsiFileHash words as the table keeps them (signed decimal); false
  // (nothing written) when unknown.
  bool hash(std::u16string* part1, std::u16string* part2, std::u16string* part3, std::u16string* part4);

  // A changed file is measured again before its row is written: size (Msi::Error
  // 120 when the source is missing), version, and for a file without one its hash
  // (Msi::Error 65 when refused).
  void save(int flags) override;
  // The MsiFileHash row of a changed file without a version.
  void afterSave(int flags) override;

 private:
  void updateSize();
  bool updateVersion();
  void updateHash();
  void loadHash();

  std::u16string sourceFile_;
  std::u16string hash_[4];
  bool hashLoaded_ = false;
};

}  // namespace Msi
