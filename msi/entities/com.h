// COM registration and file associations: type libraries, AppIds, classes,
// ProgIds, icons, extensions, verbs and MIME types. The rows are read, never
// authored; lists of related rows are read once per object with the parent
// key bound as a parameter.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "msi/entities/row_entity.h"
#include "msi/model/iterator.h"

namespace Msi {

class MsiComponent;
class MsiDirectory;
class MsiFeature;
class MsiPackage;
class MsiProgId;
class MsiExtension;
class MsiVerb;
class MsiMIME;

// A nullable integer column: absent for a null, Msi::toInt's error for a text
// that is no number.
std::optional<std::int32_t> optionalInt(const std::u16string& text);

// The keys of the rows of T's table whose column holds the value (bound as a
// parameter), each object registered with the package; none when the package
// lacks the table.
template <class T>
void loadLinkedKeys(MsiPackage* package, const std::u16string& column, const std::u16string& value,
                    std::list<std::u16string>& keys);
// Every row of T's table, in row order, as above.
template <class T>
void loadTableKeys(MsiPackage* package, std::list<std::u16string>& keys);

class MsiTypeLib : public MsiRowEntity<TypeLibTableDescription, MsiTypeLib> {
 public:
  using Interface = MsiTypeLib;
  explicit MsiTypeLib(MsiPackage* package) : MsiRowEntity(package) {}

  const std::u16string& libId() const { return value(0); }
  std::int32_t language() const;
  MsiComponent* component();
  std::optional<std::int32_t> version() const { return optionalInt(value(3)); }
  const std::u16string& description() const { return value(4); }
  MsiDirectory* directory();
  MsiFeature* feature();
  std::optional<std::int32_t> cost() const { return optionalInt(value(7)); }

  bool matches(const MsiRow& row) const override;
  // A digest of LibID, Language (as text) and Component_; empty until all three are set.
  std::u16string key() const override;

 private:
  mutable std::u16string key_;
};

class MsiAppId : public MsiRowEntity<AppIdTableDescription, MsiAppId> {
 public:
  using Interface = MsiAppId;
  explicit MsiAppId(MsiPackage* package) : MsiRowEntity(package) {}

  const std::u16string& appId() const { return value(0); }
  // Expanded against the package.
  std::u16string remoteServerName();
  const std::u16string& localService() const { return value(2); }
  const std::u16string& serviceParameters() const { return value(3); }
  const std::u16string& dllSurrogate() const { return value(4); }
  std::optional<std::int32_t> activateAtStorage() const { return optionalInt(value(5)); }
  std::optional<std::int32_t> runAsInteractiveUser() const { return optionalInt(value(6)); }
};

class MsiIcon : public MsiRowEntity<IconTableDescription, MsiIcon> {
 public:
  using Interface = MsiIcon;
  explicit MsiIcon(MsiPackage* package) : MsiRowEntity(package) {}

  const std::u16string& name() const { return value(0); }
  // The path of the file whose bytes go into the stream; a row read from a
  // package has none.
  const std::u16string& data() const { return value(1); }
  // The stream is never read back.
  void loadFrom(const MsiRow& row) override;
  // Without a path there is nothing to write: the stored stream stays.
  void save(int flags) override;
};

class MsiClass : public MsiRowEntity<ClassTableDescription, MsiClass> {
 public:
  using Interface = MsiClass;
  explicit MsiClass(MsiPackage* package) : MsiRowEntity(package) {}

  const std::u16string& clsid() const { return value(0); }
  const std::u16string& context() const { return value(1); }
  MsiComponent* component();
  MsiProgId* defaultProgId();
  const std::u16string& description() const { return value(4); }
  MsiAppId* appId();
  const std::u16string& fileTypeMask() const { return value(6); }
  MsiIcon* icon();
  const std::u16string& iconIndex() const { return value(8); }
  const std::u16string& defInprocHandler() const { return value(9); }
  // Expanded against the package.
  std::u16string argument();
  MsiFeature* feature();
  std::optional<std::int32_t> attributes() const { return optionalInt(value(12)); }
  // The ProgIds whose Class_ is this CLSID, read once; their objects are made
  // only when the iterator yields them.
  std::unique_ptr<MsiIterator<MsiProgId>> progIds();

  bool matches(const MsiRow& row) const override;
  // A digest of CLSID, Context and Component_; empty until all three are set.
  std::u16string key() const override;

 private:
  std::list<std::u16string> progIdKeys_;
  bool progIdsLoaded_ = false;
  mutable std::u16string key_;
};

class MsiProgId : public MsiRowEntity<ProgIdTableDescription, MsiProgId> {
 public:
  using Interface = MsiProgId;
  explicit MsiProgId(MsiPackage* package) : MsiRowEntity(package) {}

  const std::u16string& progId() const { return value(0); }
  MsiProgId* parent();
  // The CLSID text; no class is looked up.
  const std::u16string& classId() const { return value(2); }
  const std::u16string& description() const { return value(3); }
  MsiIcon* icon();
  const std::u16string& iconIndex() const { return value(5); }
  // The ProgIds naming this one as parent (its version-independent ones), and
  // the extensions naming it; each list read once.
  std::unique_ptr<MsiIterator<MsiProgId>> children();
  std::unique_ptr<MsiIterator<MsiExtension>> extensions();

 private:
  std::list<std::u16string> childKeys_, extensionKeys_;
  bool childrenLoaded_ = false, extensionsLoaded_ = false;
};

class MsiExtension : public MsiRowEntity<ExtensionTableDescription, MsiExtension> {
 public:
  using Interface = MsiExtension;
  explicit MsiExtension(MsiPackage* package) : MsiRowEntity(package) {}

  const std::u16string& extension() const { return value(0); }
  MsiComponent* component();
  MsiProgId* progId();
  MsiMIME* mime();
  MsiFeature* feature();
  // The Verb and MIME rows of this extension text, each list read once.
  std::unique_ptr<MsiIterator<MsiVerb>> verbs();
  std::unique_ptr<MsiIterator<MsiMIME>> mimeTypes();

  bool matches(const MsiRow& row) const override;
  // A digest of Extension and Component_; empty until both are set.
  std::u16string key() const override;

 private:
  std::list<std::u16string> verbKeys_, mimeKeys_;
  bool verbsLoaded_ = false, mimeLoaded_ = false;
  mutable std::u16string key_;
};

class MsiVerb : public MsiRowEntity<VerbTableDescription, MsiVerb> {
 public:
  using Interface = MsiVerb;
  explicit MsiVerb(MsiPackage* package) : MsiRowEntity(package) {}

  // The Extension_ text; no extension is looked up.
  const std::u16string& extension() const { return value(0); }
  const std::u16string& verb() const { return value(1); }
  // As stored; empty for a null.
  const std::u16string& sequence() const { return value(2); }
  // Expanded against the package at each call.
  std::u16string command();
  std::u16string argument();
  // Every Extension row of this extension text, one per component; read once.
  std::unique_ptr<MsiIterator<MsiExtension>> extensions();

  bool matches(const MsiRow& row) const override;
  // A digest of Extension_ and Verb; empty until both are set.
  std::u16string key() const override;

 private:
  std::list<std::u16string> extensionKeys_;
  bool extensionsLoaded_ = false;
  mutable std::u16string key_;
};

class MsiMIME : public MsiRowEntity<MIMETableDescription, MsiMIME> {
 public:
  using Interface = MsiMIME;
  explicit MsiMIME(MsiPackage* package) : MsiRowEntity(package) {}

  const std::u16string& contentType() const { return value(0); }
  const std::u16string& extension() const { return value(1); }
  const std::u16string& clsid() const { return value(2); }
};

}  // namespace Msi
