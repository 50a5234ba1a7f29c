// Authoring a package: new features, the file and registry components they
// make, and files measured from their sources when their rows are written.
#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <set>
#include <vector>

#include "msi/entities/directory.h"
#include "msi/entities/registry.h"
#include "msi/entities/tree.h"
#include "msi/model/command.h"
#include "msi/model/error.h"
#include "msi/model/identifiers.h"
#include "msi/model/package.h"
#include "msi/model/text.h"
#include "platform/msi/msi.h"
#include "platform/win32/windows.h"

namespace Msi {

namespace {

constexpr std::uint32_t kComponentModule = 0x69b0d5c4;

// Model flag bit and the Attributes bit it stands for.
constexpr std::int32_t kFlagBits[][2] = {{0x01, 1},      {0x02, 2},      {0x04, 4},     {0x08, 512},
                                         {0x10, 1024},   {0x20, 4096},   {0x40, 8192},  {0x80, 16384}};

std::u16string decimal(std::uint32_t value) {
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value);
  return text;
}

std::int32_t leadingNumber(const std::u16string& text) {
  std::int64_t n = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    n = std::min<std::int64_t>(n * 10 + (c - u'0'), INT32_MAX);
  }
  return static_cast<std::int32_t>(n);
}

// Whether the short part of a FileName text is `upper` (upper-case), case aside.
bool sameShortName(const std::u16string& fileName, const std::u16string& upper) {
  std::size_t bar = fileName.find(u'|');
  std::size_t length = bar == std::u16string::npos ? fileName.size() : bar;
  if (length != upper.size()) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char16_t c = fileName[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c != upper[i]) return false;
    } else if (static_cast<char16_t>(std::towupper(static_cast<std::wint_t>(c))) != upper[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::int32_t fileAttributesFromFlags(std::int32_t flags) {
  std::int32_t bits = 0;
  for (const auto& [flag, bit] : kFlagBits)
    if (flags & flag) bits |= bit;
  return bits;
}

std::int32_t fileFlagsFromAttributes(std::int32_t attributes) {
  std::int32_t flags = 0;
  for (const auto& [flag, bit] : kFlagBits)
    if (attributes & bit) flags |= flag;
  return flags;
}

// --- files -----------------------------------------------------------------------

MsiFile* MsiFile::create(MsiPackage* package) {
  auto file = std::make_unique<MsiFile>(package);
  std::u16string key;
  if (!newIdentifier(key)) throw Error(MSI_LOCATION, kModule, 110);
  file->values_[0] = key;
  file->setAttributes(0x08);
  return file.release();
}

void MsiFile::setFileName(const std::u16string& name) {
  if (name.find(u'|') != std::u16string::npos) {
    set(2, name);
    return;
  }
  // Unique among the files of the same folder: two long names of one start
  // must not install over each other's short name.
  MsiComponent* own = package_->find<MsiComponent>(componentKey());
  std::u16string folder = own ? own->directoryKey() : std::u16string();
  auto sameFolder = [&](MsiFile* f) {
    MsiComponent* c = package_->find<MsiComponent>(f->componentKey());
    return (c ? c->directoryKey() : std::u16string()) == folder;
  };
  // Most names are free: one pass of comparisons finds out, and only a name
  // in use pays for the set of every name taken in the folder.
  std::u16string shortName = makeShortName(name, std::set<std::u16string>());
  bool clash = false;
  for (const auto& [k, f] : package_->identityMap<MsiFile>().entries()) {
    if (!f || f == this || f->fileName().empty()) continue;
    if (sameShortName(f->fileName(), shortName) && sameFolder(f)) {
      clash = true;
      break;
    }
  }
  if (clash) {
    std::set<std::u16string> taken;
    for (const auto& [k, f] : package_->identityMap<MsiFile>().entries())
      if (f && f != this && !f->fileName().empty() && sameFolder(f)) taken.insert(toUpper(f->shortName()));
    shortName = makeShortName(name, taken);
  }
  if (!shortName.empty())
    set(2, shortName + u"|" + name);
  else
    this->markModified();
}

void MsiFile::setAttributes(std::int32_t flags) { set(6, toString(fileAttributesFromFlags(flags))); }

std::int32_t MsiFile::attributes() const { return fileFlagsFromAttributes(toInt(attributesText())); }

void MsiFile::setSourceFile(const std::u16string& path) {
  sourceFile_ = path;
  this->markModified();
}

void MsiFile::setComponent(const std::u16string& componentKey) {
  if (!this->componentKey().empty()) throw Error(MSI_LOCATION, kModule, 62);
  set(1, componentKey);
}

std::u16string MsiFile::relativeSourcePath() {
  MsiComponent* component = package_->find<MsiComponent>(componentKey());
  if (!component) return {};
  MsiDirectory* directory = component->directory();
  return (directory ? directory->sourcePath() : std::u16string()) + u"\\" + longName();
}

std::u16string MsiFile::sourcePath() {
  if (!sourceFile_.empty()) return sourceFile_;
  std::u16string relative = relativeSourcePath();
  return relative.empty() ? relative : package_->sourceFolder() + relative;
}

std::u16string MsiFile::shortSourcePath() {
  std::u16string path = sourcePath();
  if (path.empty()) return path;
  WCHAR buffer[260] = {0};
  DWORD length = GetShortPathNameW(path.c_str(), buffer, 260);
  return length == 0 || length >= 260 ? path : std::u16string(buffer, length);
}

bool MsiFile::hash(std::u16string* part1, std::u16string* part2, std::u16string* part3, std::u16string* part4) {
  loadHash();
  if (hash_[0].empty() && hash_[1].empty() && hash_[2].empty() && hash_[3].empty()) return false;
  std::u16string* out[] = {part1, part2, part3, part4};
  for (int i = 0; i < 4; ++i)
    if (out[i]) *out[i] = hash_[i];
  return true;
}

// Read on first need rather than at load: a package of many files would pay
// one query per file at open.
void MsiFile::loadHash() {
  if (hashLoaded_ || !package_) return;
  hashLoaded_ = true;
  try {
    if (!package_->hasTable(u"MsiFileHash")) return;
    MsiRecordset found;
    MsiCommand select(package_->database());
    select.setText(u"Select * From `MsiFileHash` Where `File_` = ?");
    select.bind(key());
    select.run(&found);
    if (found.rowCount() != 1) return;
    MsiRow* row = *found.begin();
    const auto* description = Singleton<MsiFileHashTableDescription>::instance();
    for (int i = 0; i < 4; ++i) hash_[i] = row->field(description->columnName(2 + i));
  } catch (const DbError&) {
  }
}

// Source paths stay whole: the wide calls carry every character to the file
// layer, which names the file in UTF-8.
void MsiFile::updateSize() {
  if (fileName().empty()) return;
  std::u16string path = sourcePath();
  WIN32_FIND_DATAW found{};
  HANDLE search = path.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    throw Error(MSI_LOCATION, kModule, 120, u"the source file " + path + u" of the file " + key() + u" is missing");
  FindClose(search);
  set(3, decimal(found.nFileSizeLow));
}

bool MsiFile::updateVersion() {
  set(4, u"");
  std::u16string path = sourcePath();
  DWORD size = path.empty() ? 0 : GetFileVersionInfoSizeW(path.c_str(), nullptr);
  if (size == 0) return false;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), u"\\", &value, &length) || !value || length < sizeof(VS_FIXEDFILEINFO))
    return false;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  char text[64];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", info->dwFileVersionMS >> 16, info->dwFileVersionMS & 0xFFFF,
                info->dwFileVersionLS >> 16, info->dwFileVersionLS & 0xFFFF);
  set(4, std::u16string(text, text + std::char_traits<char>::length(text)));
  return true;
}

void MsiFile::updateHash() {
  MSIFILEHASHINFO info{sizeof(MSIFILEHASHINFO), {}};
  std::u16string path = sourcePath();
  UINT r = MsiGetFileHashW(path.c_str(), 0, &info);
  if (r == ERROR_MORE_DATA) return;
  if (r != ERROR_SUCCESS) throw Error(MSI_LOCATION, kModule, 65, systemErrorText(r));
  hashLoaded_ = true;
  // HashPart columns are signed 32-bit: the same bits, as the table holds them.
  for (int i = 0; i < 4; ++i) hash_[i] = toString(static_cast<std::int32_t>(info.dwData[i]));
}

void MsiFile::save(int flags) {
  if (this->isModified()) {
    updateSize();
    if (!updateVersion()) updateHash();
  }
  MsiRowEntity::save(flags);
}

void MsiFile::afterSave(int flags) {
  if (!this->isModified() || !version().empty()) return;
  loadHash();
  MsiTable& table = this->database()->table(tableName<MsiFileHashTableDescription>());
  MsiRow* row = table.newRow();
  const auto* description = Singleton<MsiFileHashTableDescription>::instance();
  try {
    row->field(description->columnName(0)) = key();
    row->field(description->columnName(1)) = u"0";
    for (int i = 0; i < 4; ++i) row->field(description->columnName(2 + i)) = hash_[i];
    table.store(row, (flags & 1) != 0);
  } catch (...) {
    table.discardPending(row);
    throw;
  }
}

// --- components --------------------------------------------------------------------

namespace {

MsiComponent* newComponent(MsiPackage* package, const std::u16string& componentId, const std::u16string& directoryKey,
                           std::u16string& key) {
  if (!isValidGuid(componentId)) throw Error(MSI_LOCATION, kComponentModule, 111);
  if (!newIdentifier(key)) throw Error(MSI_LOCATION, kComponentModule, 110);
  return new MsiComponent(package);
}

}  // namespace

MsiComponent* MsiComponent::createFile(MsiPackage* package, const std::u16string& componentId, MsiFile* keyPathFile,
                                       const std::u16string& directoryKey) {
  std::u16string key;
  std::unique_ptr<MsiComponent> c(newComponent(package, componentId, directoryKey, key));
  c->values_ = {key, toUpper(componentId), directoryKey, u"", u"", u""};
  c->kind_ = Kind::File;
  if (keyPathFile) {
    keyPathFile->setComponent(key);
    c->values_[5] = keyPathFile->key();
    keyPathFile->setLanguage(decimal(package->language()));
  }
  c->set(3, u"2");
  package->registerComponent(key);
  if (!package->add(c.get())) throw Error(MSI_LOCATION, kComponentModule, 31);
  return c.release();
}

MsiComponent* MsiComponent::createRegistry(MsiPackage* package, const std::u16string& componentId,
                                           MsiRegistry* keyPathRegistry, const std::u16string& directoryKey) {
  std::u16string key;
  std::unique_ptr<MsiComponent> c(newComponent(package, componentId, directoryKey, key));
  c->values_ = {key, toUpper(componentId), directoryKey, u"", u"", u""};
  c->kind_ = Kind::Registry;
  if (keyPathRegistry) {
    keyPathRegistry->setComponent(key);
    c->values_[5] = keyPathRegistry->key();
  }
  c->set(3, u"4");
  package->registerComponent(key);
  if (!package->add(c.get())) throw Error(MSI_LOCATION, kComponentModule, 31);
  return c.release();
}

void MsiComponent::afterSave(int flags) {
  if (this->isModified() && !featureKeys_.empty()) {
    MsiTable& table = this->database()->table(tableName<FeatureComponentsTableDescription>());
    const auto* description = Singleton<FeatureComponentsTableDescription>::instance();
    for (const std::u16string& feature : featureKeys_) {
      MsiRow* row = table.newRow();
      try {
        row->field(description->columnName(0)) = feature;
        row->field(description->columnName(1)) = key();
        table.store(row, (flags & 1) != 0);
      } catch (...) {
        table.discardPending(row);
        throw;
      }
    }
  }
  // The key-path row goes after the component, changed or not.
  if (kind_ == Kind::Registry) {
    if (MsiRegistry* r = package_->find<MsiRegistry>(keyPath())) r->save(flags);
  } else if (kind_ == Kind::File || kind_ == Kind::Assembly) {
    if (MsiFile* f = package_->find<MsiFile>(keyPath())) f->save(flags);
  }
}

// --- features ----------------------------------------------------------------------

MsiFeature::MsiFeature(MsiPackage* package, const std::u16string& key, const std::u16string& title,
                       const std::u16string& directoryKey)
    : MsiRowEntity(package) {
  values_[0] = key;
  values_[2] = title;
  values_[6] = directoryKey;
  values_[5] = u"100";
  values_[7] = u"8";
  values_[4] = toString(package->nextFeatureDisplay() - 1);
}

MsiComponent* MsiFeature::createFileComponent(const std::u16string& componentId) {
  std::unique_ptr<MsiFile> file(MsiFile::create(package_));
  MsiFile* held = file.get();
  if (!package_->add(held)) throw Error(MSI_LOCATION, MsiFile::kModule, 110);
  file.release();
  held->setSequence(toString(package_->maxFileSequence() + 1));
  MsiComponent* component = MsiComponent::createFile(package_, componentId, held, directoryKey());
  component->addFeature(key());
  addComponent(component->key());
  component->markModified();
  return component;
}

MsiComponent* MsiFeature::createRegistryComponent(const std::u16string& componentId) {
  std::unique_ptr<MsiRegistry> registry(new MsiRegistry(package_));
  MsiRegistry* held = registry.get();
  if (!package_->add(held)) throw Error(MSI_LOCATION, 0x307eec77, 110);
  registry.release();
  held->markModified();
  MsiComponent* component = MsiComponent::createRegistry(package_, componentId, held, directoryKey());
  component->addFeature(key());
  addComponent(component->key());
  component->markModified();
  return component;
}

// --- the package's authoring side ----------------------------------------------------

MsiFeature* MsiPackage::addFeature(const std::u16string& key, const std::u16string& title, MsiDirectory* directory) {
  needTree();
  std::u16string directoryKey = directory ? directory->key() : std::u16string();
  if (!directory)
    if (MsiDirectory* root = find<MsiDirectory>(MsiDirectory::kRootKey)) directoryKey = root->key();
  auto feature = std::make_unique<MsiFeature>(this, key, title, directoryKey);
  if (!add(feature.get())) throw Error(MSI_LOCATION, 0x7315fafa, 21, u"the feature " + key + u" exists already");
  features_.append(key);
  feature->markModified();
  return feature.release();
}

std::int32_t MsiPackage::maxFileSequence(const std::set<std::u16string>* except) {
  std::int32_t highest = 0;
  auto counts = [except](const std::u16string& key) { return !except || except->count(key) == 0; };
  if (hasTable(u"File")) {
    MsiRecordset rows;
    MsiCommand select(&database_);
    select.setText(u"Select `File`, `Sequence` From `File`");
    select.run(&rows);
    for (MsiRow* row : rows)
      if (counts(row->fieldAt(0))) highest = std::max(highest, leadingNumber(row->fieldAt(1)));
  }
  for (const auto& [key, file] : identityMap<MsiFile>().entries())
    if (file && counts(key)) highest = std::max(highest, leadingNumber(file->sequence()));
  return highest;
}

}  // namespace Msi
