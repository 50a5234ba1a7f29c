// Shortcuts a component installs: to one of the package's files, or advertised
// through a feature.
#pragma once

#include <string>

#include "msi/entities/row_entity.h"

namespace Msi {

class MsiComponent;
class MsiDirectory;
class MsiFeature;
class MsiFile;
class MsiPackage;

class MsiShortcut : public MsiRowEntity<ShortcutTableDescription, MsiShortcut> {
 public:
  using Interface = MsiShortcut;
  // A generated key; Msi::Error 110 (module 0x6d3c3efa) when none can be made.
  explicit MsiShortcut(MsiPackage* package);
  // In the directory of the file's component (empty without one); marked.
  MsiShortcut(MsiPackage* package, MsiFile* file);

  const std::u16string& name() const { return value(2); }
  std::u16string arguments();
  const std::u16string& description() const { return value(6); }
  const std::u16string& hotkey() const { return value(7); }
  const std::u16string& iconKey() const { return value(8); }
  const std::u16string& iconIndex() const { return value(9); }
  const std::u16string& showCommand() const { return value(10); }
  const std::u16string& directoryKey() const { return value(1); }
  const std::u16string& componentKey() const { return value(3); }
  const std::u16string& workingDirectoryKey() const { return value(11); }
  // The Target column as stored.
  const std::u16string& storedTarget() const { return value(4); }
  MsiDirectory* directory();
  MsiDirectory* workingDirectory();
  MsiComponent* component();

  // "SHORT|long" for a long name; a text that holds "|" already is taken as it is.
  void setName(const std::u16string& name);
  void setArguments(const std::u16string& text) { set(5, text); }
  void setDescription(const std::u16string& text) { set(6, text); }
  void setHotkey(const std::u16string& text) { set(7, text); }
  void setIcon(const std::u16string& key) { set(8, key); }
  void setIconIndex(const std::u16string& text) { set(9, text); }
  void setShowCommand(const std::u16string& text) { set(10, text); }
  void setDirectory(MsiDirectory* directory);
  void setWorkingDirectory(MsiDirectory* directory);

  // Directory_ is never empty in a row: "TARGETDIR" stands for none. WkDir
  // gets the same only for shortcuts the model made; one read from a row
  // keeps its own (possibly empty) WkDir.
  void writeTo(MsiRow& row) const override;
  void loadFrom(const MsiRow& row) override;

 protected:
  bool fromRow_ = false;
};

class MsiFileShortcut : public MsiShortcut {
 public:
  explicit MsiFileShortcut(MsiPackage* package) : MsiShortcut(package) {}
  // Target "[#key]" of the file.
  MsiFileShortcut(MsiPackage* package, MsiFile* file);
  // The Target expanded against the package.
  std::u16string target();
  void writeTo(MsiRow& row) const override;

 private:
  std::u16string fileKey_;
};

class MsiAdvertisedShortcut : public MsiShortcut {
 public:
  explicit MsiAdvertisedShortcut(MsiPackage* package) : MsiShortcut(package) {}
  MsiAdvertisedShortcut(MsiPackage* package, MsiFeature* feature, MsiFile* file);
  MsiFeature* feature();
};

// The kind of a Shortcut row: advertised when Target names a feature of the
// package, else a file shortcut; read from the row.
MsiShortcut* createShortcutForRow(const MsiRow& row, MsiPackage* package);

template <class T>
T* createFromRow(const MsiRow& row, MsiPackage* package);
template <>
MsiShortcut* createFromRow<MsiShortcut>(const MsiRow& row, MsiPackage* package);

}  // namespace Msi
