// One row of the Directory table: a folder of the installation tree with its
// parent's key and the long names it has on the target and on the source side.
#pragma once

#include <list>
#include <string>

#include "msi/model/storable.h"
#include "msi/model/table_schemas.h"

namespace Msi {

class MsiPackage;

class IMsiDirectory : public IMsiObject {
 public:
  virtual IMsiDirectory* createSubdirectory(const std::u16string& key) = 0;
  virtual IMsiDirectory* createSubdirectory() = 0;
  // Detaches and destroys this directory and deletes its row at the next commit.
  virtual void remove() = 0;
  virtual void setSourceName(const std::u16string& name) = 0;
  virtual std::u16string key() const = 0;
  virtual IMsiDirectory* parent() = 0;
  virtual const std::u16string& sourceName() const = 0;
  virtual const std::u16string& targetName() const = 0;
  // Paths relative to the root; Msi::Error 61 (module 0x552ae5ca) when the
  // parent chain loops.
  virtual std::u16string sourcePath() = 0;
  virtual std::u16string shortSourcePath() = 0;
  virtual std::u16string targetPath() = 0;
  virtual std::u16string shortTargetPath() = 0;
  virtual IMsiDirectory* findSubdirectory(const std::u16string& key) = 0;
};

class MsiDirectory : public IMsiDirectory, public MsiStorable<DirectoryTableDescription, MsiDirectory> {
 public:
  using Interface = IMsiDirectory;
  static constexpr const char16_t* kRootKey = u"TARGETDIR";
  static constexpr const char16_t* kRootName = u"SourceDir";

  // A generated key; Msi::Error 110 (module 0x552ae5ca) when none can be made.
  explicit MsiDirectory(MsiPackage* package);
  MsiDirectory(MsiPackage* package, const std::u16string& key);
  MsiDirectory(MsiPackage* package, const std::u16string& key, const std::u16string& name);
  ~MsiDirectory() override;

  IMsiDirectory* createSubdirectory(const std::u16string& key) override;
  IMsiDirectory* createSubdirectory() override { return createSubdirectory(std::u16string()); }
  void remove() override;
  void setSourceName(const std::u16string& name) override;
  std::u16string key() const override { return key_; }
  IMsiDirectory* parent() override;
  const std::u16string& sourceName() const override { return sourceName_; }
  const std::u16string& targetName() const override { return targetName_; }
  std::u16string sourcePath() override { return path(false); }
  std::u16string shortSourcePath() override { return shortPath(sourcePath()); }
  std::u16string targetPath() override { return path(true); }
  std::u16string shortTargetPath() override { return shortPath(targetPath()); }
  IMsiDirectory* findSubdirectory(const std::u16string& key) override;

  // Msi::Error 60 (module 0x552ae5ca) for a directory not created through this one.
  void removeSubdirectory(MsiDirectory* child);
  void setDefaultDir(const std::u16string& text);
  std::u16string defaultDir() const;
  const std::u16string& parentKey() const { return parentKey_; }
  void setParentKey(const std::u16string& key) { parentKey_ = key; }
  const std::list<std::u16string>& childKeys() const { return childKeys_; }

  bool matches(const MsiRow& row) const override;
  void writeTo(MsiRow& row) const override;
  void loadFrom(const MsiRow& row) override;
  void afterSave(int flags) override;

 private:
  std::u16string path(bool target);
  static std::u16string shortPath(const std::u16string& path);
  void destroy();

  std::u16string key_;
  std::u16string sourceName_;
  std::u16string targetName_;
  std::u16string parentKey_;
  std::list<std::u16string> childKeys_;
  MsiPackage* package_;
  // The DefaultDir text as read and the names it gave: written back unchanged
  // while the names are, so that short names chosen by the package's author stay.
  std::u16string readDefaultDir_, readTarget_, readSource_;
};

// The five predefined folder keys the package makes below its root.
const std::list<std::u16string>& systemFolderNames();
// One name of DefaultDir: "SourceDir" and "." bare, others "SHORT|long".
std::u16string defaultDirPart(const std::u16string& name);
// Deletes the row of a key from a table at the next commit (keys bound as
// parameters); false when there is none.
bool deleteRow(MsiDatabaseInterface& database, const std::u16string& table, const std::u16string& key);

}  // namespace Msi
