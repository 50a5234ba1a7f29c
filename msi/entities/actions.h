// Binary rows (and the DLLs custom actions call), custom actions and the rows
// of the install execute sequence.
#pragma once

#include <cstdint>
#include <string>

#include "msi/entities/row_entity.h"

namespace Msi {

class MsiPackage;

// One Binary row. The object holds the path of the file whose bytes go into
// the Data stream, never the bytes: a row read from a package has no path.
class MsiBinary : public MsiRowEntity<BinaryTableDescription, MsiBinary> {
 public:
  using Interface = MsiBinary;
  explicit MsiBinary(MsiPackage* package);
  // A generated name; Msi::Error 110 (module 0x9b129003) when none can be made.
  MsiBinary(MsiPackage* package, const std::u16string& path);

  const std::u16string& name() const { return value(0); }
  const std::u16string& data() const { return value(1); }
  // Neither setter marks the object.
  void setData(const std::u16string& path) { values_[1] = path; }
  void setName(const std::u16string& name) { values_[0] = name; }

  void loadFrom(const MsiRow& row) override;
  // Without a path there is nothing to write: the stored stream stays.
  void save(int flags) override;
};

// A Binary row made for a DLL that a custom action calls.
class MsiDll : public MsiBinary {
 public:
  MsiDll(MsiPackage* package, const std::u16string& path) : MsiBinary(package, path) {}
};

class MsiCustomAction : public MsiRowEntity<CustomActionTableDescription, MsiCustomAction> {
 public:
  using Interface = MsiCustomAction;
  explicit MsiCustomAction(MsiPackage* package);
  // The name, or a generated one when it is empty; Msi::Error 110 (module
  // 0xe32fbd6a) when none can be made.
  MsiCustomAction(MsiPackage* package, std::int32_t type, const std::u16string& name);

  const std::u16string& action() const { return value(0); }
  std::int32_t type() const { return type_; }
  const std::u16string& source() const { return value(2); }
  const std::u16string& target() const { return value(3); }
  void setContinue(bool on);
  bool isContinue() const { return (type_ & 0x40) != 0; }

  // The Type column stays the text of the number, kept in step by the setters.
  void loadFrom(const MsiRow& row) override;

 protected:
  std::int32_t type_ = 0;
};

// A custom action calling a function of a DLL in the Binary table (type bit 0x01).
class MsiCustomActionDll : public MsiCustomAction {
 public:
  MsiCustomActionDll(MsiPackage* package, const std::u16string& name, MsiBinary* dll);
  std::u16string expandedTarget();
  void setTarget(const std::u16string& target) { set(3, target); }
};

// The object a CustomAction row gives: the DLL kind for type bit 0x01.
MsiCustomAction* createCustomActionForRow(const MsiRow& row, MsiPackage* package);

class MsiInstallExecuteSequence
    : public MsiRowEntity<InstallExecuteSequenceTableDescription, MsiInstallExecuteSequence> {
 public:
  using Interface = MsiInstallExecuteSequence;
  explicit MsiInstallExecuteSequence(MsiPackage* package) : MsiRowEntity(package) {}
  const std::u16string& action() const { return value(0); }
  const std::u16string& condition() const { return value(1); }
  // The error of Msi::toInt for an empty or non-numeric text.
  std::int32_t sequence() const;
};

template <class T>
T* createFromRow(const MsiRow& row, MsiPackage* package);
template <>
MsiCustomAction* createFromRow<MsiCustomAction>(const MsiRow& row, MsiPackage* package);

}  // namespace Msi
