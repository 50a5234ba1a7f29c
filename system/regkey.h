// The registry as a tree of key and value objects with error values. A key
// object holds a path, not a handle, so keys and values may be kept and used
// long after they were opened; all objects from one entry call share one
// Windows::Registry (root and view).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/variant.hpp>

#include "core/error.h"
#include "platform/win32/windows.h"

namespace Common {

enum RegistryView { DefaultView = 0, NativeView = 1, View64 = 2, View32 = 3 };

class RegValue {
 public:
  // string (REG_SZ / REG_EXPAND_SZ), list (REG_MULTI_SZ), REG_DWORD,
  // REG_QWORD, bytes (every other type; written as REG_BINARY).
  using Data = boost::variant<std::u16string, std::vector<std::u16string>, std::uint32_t, std::uint64_t,
                              std::vector<std::uint8_t>>;

  virtual ~RegValue() = default;
  virtual Error read(Data& data, bool expand) = 0;
  // `expandable` stores a string as REG_EXPAND_SZ.
  virtual Error write(const Data& data, bool expandable) = 0;
  virtual void name(std::u16string& out) = 0;
};

class RegKey {
 public:
  class Iterator {
   public:
    virtual ~Iterator() = default;
    virtual void advance() = 0;
    // Counts are read afresh: a walk sees keys and values added or removed
    // meanwhile, by index.
    virtual bool hasCurrent() = 0;
  };
  class ValueIterator : public Iterator {
   public:
    void takeCurrent(std::unique_ptr<RegValue>& holder) {
      std::unique_ptr<RegValue> v;
      current(v);
      holder = std::move(v);
    }
    // The element at the current index, or null.
    virtual void current(std::unique_ptr<RegValue>& holder) = 0;
  };
  class KeyIterator : public Iterator {
   public:
    void takeCurrent(std::unique_ptr<RegKey>& holder) {
      std::unique_ptr<RegKey> k;
      current(k);
      holder = std::move(k);
    }
    virtual void current(std::unique_ptr<RegKey>& holder) = 0;
  };

  virtual ~RegKey() = default;
  // The text after the last backslash that is not the path's last character.
  virtual void name(std::u16string& out) = 0;
  virtual void values(std::unique_ptr<ValueIterator>& holder) = 0;
  virtual void subkeys(std::unique_ptr<KeyIterator>& holder) = 0;
  // A value object whether or not the value exists.
  virtual void value(const std::u16string& name, std::unique_ptr<RegValue>& holder) = 0;
  virtual Error existingValue(const std::u16string& name, std::unique_ptr<RegValue>& holder) = 0;
  virtual Error deleteValue(const std::u16string& name) = 0;
  virtual Error createKey(const std::u16string& name, std::unique_ptr<RegKey>& holder) = 0;
  virtual Error openKey(const std::u16string& name, std::unique_ptr<RegKey>& holder) = 0;
  virtual Error deleteKey(const std::u16string& name) = 0;
  // Takes the subkey over where it must (owner, access) to delete its tree.
  virtual Error forceDeleteKey(const std::u16string& name, REGSAM access) = 0;
};

// A holder keeps its previous object when an entry point fails.
Error openRegKey(std::unique_ptr<RegKey>& holder, HKEY root, const char16_t* path, bool readOnly, int view);
Error openRegRoot(std::unique_ptr<RegKey>& holder, HKEY root, bool readOnly, int view);
Error openRegSubKey(HKEY root, const std::u16string& path, std::unique_ptr<RegKey>& holder, bool readOnly, int view);
Error readRegValue(RegKey& key, const std::u16string& name, RegValue::Data& data);

// A facility-0xBE record with the wide fields "path" and "name".
Error makeRegistryError(std::uint64_t site, std::uint32_t code, const char16_t* text, const std::u16string& path,
                        const std::u16string& name);
std::u16string joinRegPath(const std::u16string& parent, const std::u16string& name);
// An empty element ends the list; a missing last terminator is accepted.
std::vector<std::u16string> splitMultiString(const std::u16string& text);
std::u16string joinMultiString(const std::vector<std::u16string>& list);
REGSAM registryViewFlags(int view);

}  // namespace Common
