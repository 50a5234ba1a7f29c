#include "msi/entities/com.h"

#include "msi/entities/directory.h"
#include "msi/entities/formatted_string.h"
#include "msi/entities/odbc.h"
#include "msi/entities/resources.h"
#include "msi/entities/row_entity_impl.h"
#include "msi/entities/tree.h"
#include "msi/model/text.h"

namespace Msi {

template class MsiRowEntity<TypeLibTableDescription, MsiTypeLib>;
template class MsiRowEntity<AppIdTableDescription, MsiAppId>;
template class MsiRowEntity<IconTableDescription, MsiIcon>;
template class MsiRowEntity<ClassTableDescription, MsiClass>;
template class MsiRowEntity<ProgIdTableDescription, MsiProgId>;
template class MsiRowEntity<ExtensionTableDescription, MsiExtension>;
template class MsiRowEntity<VerbTableDescription, MsiVerb>;
template class MsiRowEntity<MIMETableDescription, MsiMIME>;

namespace {

std::u16string expand(MsiPackage* package, const std::u16string& text) {
  return MsiFormattedString(package, text).format();
}

// The digest of the parts once none is empty; until then the empty text, and
// nothing is kept.
std::u16string keyOf(std::u16string& cache, const std::vector<const std::u16string*>& parts) {
  if (!cache.empty()) return cache;
  for (const std::u16string* p : parts)
    if (p->empty()) return cache;
  cache = digestKey(parts);
  return cache;
}

template <class T>
std::unique_ptr<MsiIterator<T>> iterate(MsiPackage* package, const std::list<std::u16string>& keys) {
  return std::make_unique<MsiIterator<T>>(package, &keys);
}

// Reads a list once: a failure leaves it unread, so the next call starts again.
template <class T>
void loadOnce(bool& loaded, MsiPackage* package, const std::u16string& column, const std::u16string& value,
              std::list<std::u16string>& keys) {
  if (loaded) return;
  loadLinkedKeys<T>(package, column, value, keys);
  loaded = true;
}

}  // namespace

std::optional<std::int32_t> optionalInt(const std::u16string& text) {
  if (text.empty()) return std::nullopt;
  return toInt(text);
}

template <class T>
void loadLinkedKeys(MsiPackage* package, const std::u16string& column, const std::u16string& value,
                    std::list<std::u16string>& keys) {
  keys.clear();
  if (!package->hasTable(tableName<typename T::Description>())) return;
  loadChildKeys<T>(package, column, value, keys);
}

template <class T>
void loadTableKeys(MsiPackage* package, std::list<std::u16string>& keys) {
  keys.clear();
  if (!package->hasTable(tableName<typename T::Description>())) return;
  MsiTable copy = openTable<typename T::Description>(*package->database());
  copy.load();
  for (MsiRow* row : copy) {
    std::unique_ptr<T> object(createFromRow<T>(*row, package));
    object->loaded();
    keys.push_back(object->key());
    if (package->add(object.get())) object.release()->unmarkModified();
  }
}

#define KV_LINKED(T)                                                                                               \
  template void loadLinkedKeys<T>(MsiPackage*, const std::u16string&, const std::u16string&,                     \
                                  std::list<std::u16string>&);                                                    \
  template void loadTableKeys<T>(MsiPackage*, std::list<std::u16string>&);
KV_LINKED(MsiTypeLib)
KV_LINKED(MsiAppId)
KV_LINKED(MsiIcon)
KV_LINKED(MsiClass)
KV_LINKED(MsiProgId)
KV_LINKED(MsiExtension)
KV_LINKED(MsiVerb)
KV_LINKED(MsiMIME)
KV_LINKED(MsiODBCDataSource)
KV_LINKED(MsiODBCDriver)
KV_LINKED(MsiODBCTranslator)
KV_LINKED(MsiODBCSourceAttribute)
KV_LINKED(MsiODBCAttribute)
#undef KV_LINKED

std::int32_t MsiTypeLib::language() const { return toInt(value(1)); }
MsiComponent* MsiTypeLib::component() { return package_->find<MsiComponent>(value(2)); }
MsiDirectory* MsiTypeLib::directory() { return package_->find<MsiDirectory>(value(5)); }
MsiFeature* MsiTypeLib::feature() { return package_->find<MsiFeature>(value(6)); }

bool MsiTypeLib::matches(const MsiRow& row) const {
  for (std::size_t i = 0; i < 3; ++i)
    if (columnOf(row, i) != value(i)) return false;
  return true;
}

std::u16string MsiTypeLib::key() const { return keyOf(key_, {&value(0), &value(1), &value(2)}); }

std::u16string MsiAppId::remoteServerName() { return expand(package_, value(1)); }

void MsiIcon::loadFrom(const MsiRow& row) {
  values_[0] = columnOf(row, 0);
  values_[1].clear();
}

void MsiIcon::save(int flags) {
  if (data().empty()) {
    // Writing the row now would replace its stream with nothing.
    unmarkModified();
    afterSave(flags);
    return;
  }
  MsiRowEntity::save(flags);
}

MsiComponent* MsiClass::component() { return package_->find<MsiComponent>(value(2)); }
MsiProgId* MsiClass::defaultProgId() { return package_->find<MsiProgId>(value(3)); }
MsiAppId* MsiClass::appId() { return package_->find<MsiAppId>(value(5)); }
MsiIcon* MsiClass::icon() { return package_->find<MsiIcon>(value(7)); }
std::u16string MsiClass::argument() { return expand(package_, value(10)); }
MsiFeature* MsiClass::feature() { return package_->find<MsiFeature>(value(11)); }

std::unique_ptr<MsiIterator<MsiProgId>> MsiClass::progIds() {
  if (!progIdsLoaded_) {
    progIdKeys_.clear();
    if (package_->hasTable(tableName<ProgIdTableDescription>())) {
      // Keys only: the ProgId objects are made when the iterator reaches them.
      MsiTable copy = openTable<ProgIdTableDescription>(*package_->database());
      copy.setWhere(u"`Class_` = ?");
      copy.bindWhereValue(clsid());
      copy.load();
      for (MsiRow* row : copy) progIdKeys_.push_back(columnValue<ProgIdTableDescription>(*row, 0));
    }
    progIdsLoaded_ = true;
  }
  return iterate<MsiProgId>(package_, progIdKeys_);
}

bool MsiClass::matches(const MsiRow& row) const {
  for (std::size_t i = 0; i < 3; ++i)
    if (columnOf(row, i) != value(i)) return false;
  return true;
}

std::u16string MsiClass::key() const { return keyOf(key_, {&value(0), &value(1), &value(2)}); }

MsiProgId* MsiProgId::parent() { return package_->find<MsiProgId>(value(1)); }
MsiIcon* MsiProgId::icon() { return package_->find<MsiIcon>(value(4)); }

std::unique_ptr<MsiIterator<MsiProgId>> MsiProgId::children() {
  loadOnce<MsiProgId>(childrenLoaded_, package_, u"ProgId_Parent", key(), childKeys_);
  return iterate<MsiProgId>(package_, childKeys_);
}

std::unique_ptr<MsiIterator<MsiExtension>> MsiProgId::extensions() {
  loadOnce<MsiExtension>(extensionsLoaded_, package_, u"ProgId_", key(), extensionKeys_);
  return iterate<MsiExtension>(package_, extensionKeys_);
}

MsiComponent* MsiExtension::component() { return package_->find<MsiComponent>(value(1)); }
MsiProgId* MsiExtension::progId() { return package_->find<MsiProgId>(value(2)); }
MsiMIME* MsiExtension::mime() { return package_->find<MsiMIME>(value(3)); }
MsiFeature* MsiExtension::feature() { return package_->find<MsiFeature>(value(4)); }

std::unique_ptr<MsiIterator<MsiVerb>> MsiExtension::verbs() {
  loadOnce<MsiVerb>(verbsLoaded_, package_, u"Extension_", extension(), verbKeys_);
  return iterate<MsiVerb>(package_, verbKeys_);
}

std::unique_ptr<MsiIterator<MsiMIME>> MsiExtension::mimeTypes() {
  loadOnce<MsiMIME>(mimeLoaded_, package_, u"Extension_", extension(), mimeKeys_);
  return iterate<MsiMIME>(package_, mimeKeys_);
}

bool MsiExtension::matches(const MsiRow& row) const {
  return columnOf(row, 0) == value(0) && columnOf(row, 1) == value(1);
}

std::u16string MsiExtension::key() const { return keyOf(key_, {&value(0), &value(1)}); }

std::u16string MsiVerb::command() { return expand(package_, value(3)); }
std::u16string MsiVerb::argument() { return expand(package_, value(4)); }

std::unique_ptr<MsiIterator<MsiExtension>> MsiVerb::extensions() {
  loadOnce<MsiExtension>(extensionsLoaded_, package_, u"Extension", extension(), extensionKeys_);
  return iterate<MsiExtension>(package_, extensionKeys_);
}

bool MsiVerb::matches(const MsiRow& row) const { return columnOf(row, 0) == value(0) && columnOf(row, 1) == value(1); }

std::u16string MsiVerb::key() const { return keyOf(key_, {&value(0), &value(1)}); }

}  // namespace Msi
