#include "system/regkey.h"

#include <cstring>

#include "core/catalogue.h"
#include "system/layer.h"
#include "system/registry.h"

namespace Common {

namespace {

// Raise sites of this module share the high word.
constexpr std::uint64_t site(unsigned line) { return (std::uint64_t{0x8a55ceee} << 32) | line; }
#define REG_SITE site(__LINE__)

const char16_t* text(std::uint32_t slot) {
  switch (slot) {
    case 2129: return catalogueText(slot, u"The subkey cannot be found.");
    case 2130: return catalogueText(slot, u"The value cannot be found.");
    case 2133: return catalogueText(slot, u"Error occurred while creating registry subkey.");
    case 2135: return catalogueText(slot, u"Error occurred while deleting registry subkey.");
    case 2136: return catalogueText(slot, u"Error occurred while deleting registry subkey.");
    case 2137: return catalogueText(slot, u"Error occurred while deleting registry entry.");
    case 2138: return catalogueText(slot, u"Error occurred while obtaining the registry value size.");
    case 2139: return catalogueText(slot, u"Error occurred while reading binary registry value.");
    case 2140: return catalogueText(slot, u"Error occurred while reading QWORD registry value.");
    case 2141: return catalogueText(slot, u"Error: registry is not initialized.");
    case 2142: return catalogueText(slot, u"Error occurred while writing binary registry value.");
    case 2143: return catalogueText(slot, u"Error occurred while writing DWORD registry value.");
    case 2144: return catalogueText(slot, u"Error occurred while writing multi-string registry value.");
    case 2145: return catalogueText(slot, u"Error occurred while writing QWORD registry value.");
    case 2146: return catalogueText(slot, u"Error occurred while writing string registry value.");
  }
  return nullptr;
}

bool same(const char* a, const char* b) { return a && std::strcmp(a, b) == 0; }
const char16_t* registryWide(const ErrorRecord* r, const char* name) {
  if (same(name, "path")) return static_cast<const char16_t*>(r->slotText(r->fieldSlots()[0]));
  if (same(name, "name")) return static_cast<const char16_t*>(r->slotText(r->fieldSlots()[1]));
  return nullptr;
}
const char* registryNames(const ErrorRecord*) { return "path,name"; }
std::uint64_t noNumber(const ErrorRecord*, const char*) { return 0; }
const char* noNarrow(const ErrorRecord*, const char*) { return nullptr; }
constexpr ErrorRecordOps registryOps{freeErrorRecordBlock, cloneErrorRecord, wideSlotText, noNumber,
                                     noNarrow,             registryWide,     registryNames};

using Shared = std::shared_ptr<Windows::Registry>;

class WinRegValue : public RegValue {
 public:
  WinRegValue(Shared registry, std::u16string path, std::u16string name)
      : registry_(std::move(registry)), path_(std::move(path)), name_(std::move(name)) {}

  Error read(Data& data, bool expand) override;
  Error write(const Data& data, bool expandable) override;
  void name(std::u16string& out) override { out = name_; }

 private:
  Error fail(std::uint64_t at, std::uint32_t code, std::uint32_t slot) const {
    return makeRegistryError(at, code, text(slot), path_, name_);
  }
  Shared registry_;
  std::u16string path_, name_;
};

class WinRegKey : public RegKey {
 public:
  WinRegKey(Shared registry, std::u16string path, bool readOnly, REGSAM view)
      : registry_(std::move(registry)), path_(std::move(path)), readOnly_(readOnly), view_(view) {}

  static Error openOrCreate(std::unique_ptr<RegKey>& holder, const Shared& registry, const std::u16string& name,
                            const std::u16string& parent, bool readOnly, bool createAllowed, REGSAM view);

  void name(std::u16string& out) override;
  void values(std::unique_ptr<ValueIterator>& holder) override;
  void subkeys(std::unique_ptr<KeyIterator>& holder) override;
  void value(const std::u16string& name, std::unique_ptr<RegValue>& holder) override {
    holder.reset(new WinRegValue(registry_, path_, name));
  }
  Error existingValue(const std::u16string& name, std::unique_ptr<RegValue>& holder) override;
  Error deleteValue(const std::u16string& name) override;
  Error createKey(const std::u16string& name, std::unique_ptr<RegKey>& holder) override {
    return openOrCreate(holder, registry_, name, path_, readOnly_, true, view_);
  }
  Error openKey(const std::u16string& name, std::unique_ptr<RegKey>& holder) override {
    return openOrCreate(holder, registry_, name, path_, readOnly_, false, view_);
  }
  Error deleteKey(const std::u16string& name) override;
  Error forceDeleteKey(const std::u16string& name, REGSAM access) override;

 private:
  Shared registry_;
  std::u16string path_;
  bool readOnly_;
  REGSAM view_;
};

class WinValueIterator : public RegKey::ValueIterator {
 public:
  WinValueIterator(Shared registry, std::u16string path, REGSAM view)
      : registry_(std::move(registry)), path_(std::move(path)) {
    if (Windows::layer->RegOpenKeyExW(registry_->root(), path_.c_str(), 0, view | KEY_QUERY_VALUE, &handle_) !=
        ERROR_SUCCESS)
      handle_ = nullptr;
  }
  ~WinValueIterator() override {
    if (handle_) RegCloseKey(handle_);
  }
  void advance() override { ++index_; }
  bool hasCurrent() override {
    DWORD count = 0;
    return handle_ &&
           RegQueryInfoKeyA(handle_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           index_ < count;
  }
  void current(std::unique_ptr<RegValue>& holder) override {
    holder.reset();
    if (!registry_) return;
    std::vector<WCHAR> name(4096, u'\0');
    DWORD capacity = 4096;
    if (Windows::layer->RegEnumValueW(handle_, index_, name.data(), &capacity, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return;
    holder.reset(new WinRegValue(registry_, path_, name.data()));
  }

 private:
  HKEY handle_ = nullptr;
  Shared registry_;
  std::u16string path_;
  DWORD index_ = 0;
};

class WinKeyIterator : public RegKey::KeyIterator {
 public:
  WinKeyIterator(Shared registry, std::u16string path, bool readOnly, REGSAM view)
      : registry_(std::move(registry)), path_(std::move(path)), readOnly_(readOnly), view_(view) {}
  void advance() override { ++index_; }
  bool hasCurrent() override {
    HKEY h = nullptr;
    if (Windows::layer->RegOpenKeyExW(registry_->root(), path_.c_str(), 0, view_ | KEY_READ, &h) != ERROR_SUCCESS)
      return false;
    DWORD count = 0;
    LONG rc = RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS && index_ < count;
  }
  void current(std::unique_ptr<RegKey>& holder) override {
    holder.reset();
    HKEY h = nullptr;
    if (Windows::layer->RegOpenKeyExW(registry_->root(), path_.c_str(), 0, view_ | KEY_READ, &h) != ERROR_SUCCESS)
      return;
    std::vector<WCHAR> name(4096, u'\0');
    DWORD capacity = 4096;
    if (Windows::layer->RegEnumKeyExW(h, index_, name.data(), &capacity, nullptr, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS) {
      if (WinRegKey::openOrCreate(holder, registry_, name.data(), path_, readOnly_, false, view_)) holder.reset();
    }
    RegCloseKey(h);
  }

 private:
  Shared registry_;
  std::u16string path_;
  bool readOnly_;
  REGSAM view_;
  DWORD index_ = 0;
};

Error WinRegKey::openOrCreate(std::unique_ptr<RegKey>& holder, const Shared& registry, const std::u16string& name,
                              const std::u16string& parent, bool readOnly, bool createAllowed, REGSAM view) {
  std::u16string path = joinRegPath(parent, name);
  if (path.empty()) {
    holder.reset(new WinRegKey(registry, path, readOnly, view));
    return Error();
  }
  LONG rc = 0;
  if (registry->checkKey(path, 0, readOnly, &rc)) {
    holder.reset(new WinRegKey(registry, path, readOnly, view));
    return Error();
  }
  if (readOnly || !createAllowed) {
    if (rc == ERROR_FILE_NOT_FOUND) return Error(REG_SITE, 0xBE0081, text(2129));
    Error e(REG_SITE, 0xBE0010, text(2133));
    e.setWin32Cause(static_cast<std::uint32_t>(rc));
    return e;
  }
  if (registry->createKey(path, 0, nullptr, &rc)) {
    holder.reset(new WinRegKey(registry, path, false, view));
    return Error();
  }
  Error e(REG_SITE, 0xBE0010, text(2133));
  e.setWin32Cause(static_cast<std::uint32_t>(rc));
  return e;
}

void WinRegKey::name(std::u16string& out) {
  std::size_t at = path_.size() < 2 ? std::u16string::npos : path_.rfind(u'\\', path_.size() - 2);
  out = at == std::u16string::npos ? path_ : path_.substr(at + 1);
}

void WinRegKey::values(std::unique_ptr<ValueIterator>& holder) {
  holder.reset(new WinValueIterator(registry_, path_, view_));
}

void WinRegKey::subkeys(std::unique_ptr<KeyIterator>& holder) {
  holder.reset(new WinKeyIterator(registry_, path_, readOnly_, view_));
}

Error WinRegKey::existingValue(const std::u16string& name, std::unique_ptr<RegValue>& holder) {
  DWORD size = 0, type = 0;
  bool notFound = false;
  if (registry_->queryValue(path_, name, &size, &type, &notFound)) {
    holder.reset(new WinRegValue(registry_, path_, name));
    return Error();
  }
  if (notFound) return makeRegistryError(REG_SITE, 0xBE0082, text(2130), path_, name);
  return makeRegistryError(REG_SITE, 0xBE0002, text(2138), path_, name);
}

Error WinRegKey::deleteValue(const std::u16string& name) {
  bool notFound = false;
  if (registry_->deleteValue(path_, name, &notFound)) return Error();
  if (notFound) return makeRegistryError(REG_SITE, 0xBE0082, text(2130), path_, name);
  return makeRegistryError(REG_SITE, 0xBE000F, text(2137), path_, name);
}

Error WinRegKey::deleteKey(const std::u16string& name) {
  bool notFound = false;
  if (registry_->deleteTree(joinRegPath(path_, name), &notFound)) return Error();
  if (notFound) return makeRegistryError(REG_SITE, 0xBE0081, text(2129), path_, name);
  return makeRegistryError(REG_SITE, 0xBE0011, text(2135), path_, name);
}

Error WinRegKey::forceDeleteKey(const std::u16string& name, REGSAM access) {
  LONG rc = Windows::forceDeleteRegKey(registry_->root(), joinRegPath(path_, name).c_str(), access);
  if (rc == ERROR_SUCCESS) return Error();
  Error e = makeRegistryError(REG_SITE, 0xBE0012, text(2136), path_, name);
  e.setWin32Cause(static_cast<std::uint32_t>(rc));
  return e;
}

Error WinRegValue::read(Data& data, bool expand) {
  DWORD size = 0, type = 0;
  bool notFound = false;
  if (!registry_->queryValue(path_, name_, &size, &type, &notFound))
    return notFound ? fail(REG_SITE, 0xBE0082, 2130) : fail(REG_SITE, 0xBE0002, 2138);
  switch (type) {
    case REG_SZ: {
      std::u16string s = registry_->getString(path_, name_, u"");
      if (!s.empty() && s.back() == u'\0') s.pop_back();  // stored with two terminators
      data = s;
      break;
    }
    case REG_EXPAND_SZ:
      data = expand ? registry_->getExpandedString(path_, name_, u"") : registry_->getString(path_, name_, u"");
      break;
    case REG_DWORD:
      data = static_cast<std::uint32_t>(registry_->getDword(path_, name_, 0));
      break;
    case REG_MULTI_SZ:
      data = splitMultiString(registry_->getString(path_, name_, u""));
      break;
    case REG_QWORD: {
      std::uint64_t v = 0;
      if (!registry_->getValue(path_, name_, &v, 8, REG_BINARY)) return fail(REG_SITE, 0xBE0006, 2140);
      data = v;
      break;
    }
    default: {
      std::vector<std::uint8_t> bytes(size, 0);
      // A size that differs from the first one: the value changed meanwhile.
      if (size > 0 && registry_->getBinary(path_, name_, bytes.data(), size) != size)
        return fail(REG_SITE, 0xBE0007, 2139);
      data = std::move(bytes);
      break;
    }
  }
  return Error();
}

Error WinRegValue::write(const Data& data, bool expandable) {
  if (!registry_) return Error(REG_SITE, 0xBE0001, text(2141));
  const Windows::Registry& r = *registry_;
  switch (data.which()) {
    case 0:
      if (!r.setString(path_, name_, boost::get<std::u16string>(data), expandable ? REG_EXPAND_SZ : REG_SZ))
        return fail(REG_SITE, 0xBE0008, 2146);
      break;
    case 1:
      if (!r.setString(path_, name_, joinMultiString(boost::get<std::vector<std::u16string>>(data)), REG_MULTI_SZ))
        return fail(REG_SITE, 0xBE0009, 2144);
      break;
    case 2:
      if (!r.setDword(path_, name_, boost::get<std::uint32_t>(data))) return fail(REG_SITE, 0xBE000A, 2143);
      break;
    case 3: {
      std::uint64_t v = boost::get<std::uint64_t>(data);
      if (!r.setValue(path_, name_, &v, 8, REG_QWORD)) return fail(REG_SITE, 0xBE000B, 2145);
      break;
    }
    default: {
      const auto& bytes = boost::get<std::vector<std::uint8_t>>(data);
      if (!r.setValue(path_, name_, bytes.empty() ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size()),
                      REG_BINARY))
        return fail(REG_SITE, 0xBE000C, 2142);
      break;
    }
  }
  return Error();
}

}  // namespace

Error makeRegistryError(std::uint64_t at, std::uint32_t code, const char16_t* ownText, const std::u16string& path,
                        const std::u16string& name) {
  const RecordText fields[2] = {{path.c_str(), true}, {name.c_str(), true}};
  return Error(buildErrorRecord(&registryOps, at, code, {ownText, true}, fields, 2));
}

std::u16string joinRegPath(const std::u16string& parent, const std::u16string& name) {
  if (parent.empty() || parent.back() == u'\\') return parent + name;
  return parent + u"\\" + name;
}

std::vector<std::u16string> splitMultiString(const std::u16string& text) {
  std::vector<std::u16string> list;
  std::size_t at = 0;
  while (at < text.size() && text[at] != u'\0') {
    std::size_t end = text.find(u'\0', at);
    if (end == std::u16string::npos) end = text.size();
    list.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return list;
}

std::u16string joinMultiString(const std::vector<std::u16string>& list) {
  std::u16string out;
  for (const auto& s : list) {
    out += s;
    out += u'\0';
  }
  return out;
}

REGSAM registryViewFlags(int view) {
  switch (view) {
    case NativeView: return 0;
    case View32: return Windows::keyWow64Flag32;
    default: return Windows::keyWow64Flag64;  // DefaultView, View64 and anything else
  }
}

Error openRegKey(std::unique_ptr<RegKey>& holder, HKEY root, const char16_t* path, bool readOnly, int view) {
  REGSAM flags = registryViewFlags(view);
  auto registry = std::make_shared<Windows::Registry>(root, flags);
  return WinRegKey::openOrCreate(holder, registry, path ? path : u"", u"", readOnly, false, flags);
}

Error openRegRoot(std::unique_ptr<RegKey>& holder, HKEY root, bool readOnly, int view) {
  return openRegKey(holder, root, nullptr, readOnly, view);
}

Error openRegSubKey(HKEY root, const std::u16string& path, std::unique_ptr<RegKey>& holder, bool readOnly, int view) {
  std::unique_ptr<RegKey> rootKey;
  Error e = openRegRoot(rootKey, root, readOnly, view);
  if (e) return e;
  e = rootKey->openKey(path, holder);
  rootKey.reset();
  return e;
}

Error readRegValue(RegKey& key, const std::u16string& name, RegValue::Data& data) {
  std::unique_ptr<RegValue> value;
  Error e = key.existingValue(name, value);
  if (e) return e;
  e = value->read(data, false);
  value.reset();
  return e;
}

}  // namespace Common
