// The registry accessor: one root key and one view. Each operation opens the
// subkey it needs through Windows::layer, does one thing and closes it, so no
// handle stays open between calls.
#pragma once

#include <string>

#include "platform/win32/windows.h"

namespace Windows {

class Registry {
 public:
  Registry(HKEY root, REGSAM viewFlags) : root_(root), view_(viewFlags) {}

  HKEY root() const { return root_; }
  REGSAM viewFlags() const { return view_; }

  // Creates the subkey when missing.
  bool setValue(const std::u16string& key, const std::u16string& name, const void* data, DWORD size,
                DWORD type) const;
  // Only success is handed back; `expectedType` is preset for the ANSI twin,
  // which halves a string read's buffer size.
  bool getValue(const std::u16string& key, const std::u16string& name, void* buffer, DWORD size,
                DWORD expectedType) const;
  // Size and type of a stored value; the type's variable also presets the
  // ANSI twin, so callers clear it first. `notFound` tells a missing value.
  bool queryValue(const std::u16string& key, const std::u16string& name, DWORD* size, DWORD* type,
                  bool* notFound) const;
  bool createKey(const std::u16string& key, DWORD options, LPSECURITY_ATTRIBUTES security,
                 LONG* error = nullptr) const;
  // Can the key be opened for reading, or else with all access?
  bool checkKey(const std::u16string& key, DWORD options, bool reading, LONG* error = nullptr) const;
  bool deleteValue(const std::u16string& key, const std::u16string& name, bool* notFound = nullptr) const;
  // The subkey and everything below it, last subkey first; stops at the
  // first subkey it cannot delete.
  bool deleteTree(const std::u16string& key, bool* notFound = nullptr) const;

  // The 4 stored bytes whatever the type, else the default.
  DWORD getDword(const std::u16string& key, const std::u16string& name, DWORD defaultValue) const;
  // The stored size; the data is read only when it fits the capacity. 0 when
  // the value is missing or reading it fails.
  DWORD getBinary(const std::u16string& key, const std::u16string& name, void* buffer, DWORD capacity) const;
  bool setString(const std::u16string& key, const std::u16string& name, const std::u16string& text,
                 DWORD type) const;
  bool setDword(const std::u16string& key, const std::u16string& name, DWORD value) const;
  // The stored units without the last one (the terminator); the default for
  // a missing value or one of fewer than 2 bytes.
  std::u16string getString(const std::u16string& key, const std::u16string& name,
                           const std::u16string& defaultValue) const;
  // As getString; a REG_EXPAND_SZ value's environment references expanded.
  std::u16string getExpandedString(const std::u16string& key, const std::u16string& name,
                                   const std::u16string& defaultValue) const;

 private:
  LONG open(const std::u16string& key, REGSAM access, HKEY* handle) const;

  HKEY root_;
  REGSAM view_;
};

// RegDeleteKeyExW when the system has it (looked up once), else RegDeleteKeyW.
LONG deleteRegKey(HKEY root, const WCHAR* path, REGSAM flags);
// Deletes the key with its subkeys, taking ownership and granting the user
// full access where it must. Returns a Win32 error code: a subkey that cannot
// be deleted is passed over and its error returned once the others are gone.
LONG forceDeleteRegKey(HKEY root, const WCHAR* path, REGSAM flags);

}  // namespace Windows
