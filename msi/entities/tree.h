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

 private:
  std::list<std::u16string> componentKeys_;
};

class MsiFile : public MsiRowEntity<FileTableDescription, MsiFile> {
 public:
  using Interface = MsiFile;
  explicit MsiFile(MsiPackage* package);

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
};

}  // namespace Msi
