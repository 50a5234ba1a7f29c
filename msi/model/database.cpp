#include "msi/model/database.h"

#include <vector>

#include "msi/model/command.h"
#include "msi/model/error.h"
#include "msi/model/handle.h"
#include "msi/model/table.h"
#include "msi/model/table_description.h"
#include "msi/model/text.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0x82848b4a;

[[noreturn]] void raise(std::uint32_t location, std::uint32_t number, UINT result) {
  throw DbError(location, kModule, number, systemErrorText(result));
}

std::u16string quoted(const std::u16string& name) { return u"`" + name + u"`"; }

// Reads a record field with the two-call size protocol; DbError 1131 on failure.
std::u16string readField(MSIHANDLE record, UINT field, std::uint32_t location) {
  DWORD size = 0;
  WCHAR empty[1] = {0};
  UINT r = MsiRecordGetStringW(record, field, empty, &size);
  if (!succeeded(r)) raise(location, 1131, r);
  std::vector<WCHAR> buffer(size + 1);
  DWORD room = size + 1;
  r = MsiRecordGetStringW(record, field, buffer.data(), &room);
  if (!succeeded(r)) raise(location, 1131, r);
  return std::u16string(buffer.data(), room);
}

UINT fieldCount(MSIHANDLE record) {
  UINT n = MsiRecordGetFieldCount(record);
  return n == static_cast<UINT>(-1) ? 0 : n;
}

}  // namespace

MsiDatabaseInterface::~MsiDatabaseInterface() {
  for (auto& [name, table] : tables_) delete table;
  tables_.clear();
  modified_.clear();
}

void MsiDatabaseInterface::forgetTables() {
  for (auto& [name, table] : tables_) delete table;
  tables_.clear();
}

void MsiDatabaseInterface::open(const std::u16string& path, bool readOnly) {
  lastResult_ = MsiOpenDatabaseW(path.c_str(), readOnly ? MSIDBOPEN_READONLY : MSIDBOPEN_TRANSACT, &handle_);
  if (!succeeded(lastResult_)) {
    handle_ = 0;
    raise(MSI_LOCATION, 1111, lastResult_);
  }
}

void MsiDatabaseInterface::close() {
  if (!handle_) return;
  MSIHANDLE h = handle_;
  handle_ = 0;
  lastResult_ = MsiCloseHandle(h);
  if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1113, lastResult_);
}

void MsiDatabaseInterface::commit() {
  for (auto& [name, table] : tables_) table->commit();
  lastResult_ = MsiDatabaseCommit(handle_);
  if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1112, lastResult_);
}

MsiTable& MsiDatabaseInterface::table(const std::u16string& name) {
  auto cached = tables_.find(name);
  if (cached != tables_.end()) return *cached->second;
  try {
    const MsiTableDescription* description = MsiTableDescription::lookup(name);
    if (description) ensureTable(*description);

    HandleGuard view;
    lastResult_ = MsiDatabaseOpenViewW(handle_, (u"Select * From " + quoted(name)).c_str(), view.out());
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1121, lastResult_);
    HandleGuard names, types;
    lastResult_ = MsiViewGetColumnInfo(view.get(), MSICOLINFO_NAMES, names.out());
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1125, lastResult_);
    lastResult_ = MsiViewGetColumnInfo(view.get(), MSICOLINFO_TYPES, types.out());
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1125, lastResult_);

    auto table = std::make_unique<MsiTable>(this, name);
    UINT count = fieldCount(names.get());
    for (UINT i = 1; i <= count; ++i) {
      std::u16string columnName = readField(names.get(), i, MSI_LOCATION);
      if (description && !description->column(columnName)) continue;
      std::u16string type = readField(types.get(), i, MSI_LOCATION);
      auto column = std::make_unique<MsiColumn>(MsiColumn::fromInstallerType(type));
      column->setName(columnName);
      table->columns().add(column.get());
      column.release();
    }
    MsiTable* t = table.release();
    tables_[name] = t;

    HandleGuard keys;
    lastResult_ = MsiDatabaseGetPrimaryKeysW(handle_, name.c_str(), keys.out());
    if (succeeded(lastResult_)) {
      UINT keyCount = fieldCount(keys.get());
      for (UINT j = 1; j <= keyCount; ++j) {
        std::u16string keyName = readField(keys.get(), j, MSI_LOCATION);
        auto it = t->columns().find(keyName);
        if (it == t->columns().end()) throw DbError(MSI_LOCATION, kModule, 1136);
        (*it)->setKey(true);
      }
      t->setKeyed(keyCount == 1);
    } else if (lastResult_ == ERROR_INVALID_TABLE) {
      t->setKeyed(false);
    } else {
      raise(MSI_LOCATION, 1155, lastResult_);
    }

    lastResult_ = MsiViewClose(view.get());
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1124, lastResult_);
    t->buildStatements();
    return *t;
  } catch (const Error& e) {
    DbError outer(MSI_LOCATION, kModule, 1114);
    outer.setCause(e);
    throw outer;
  } catch (...) {
    throw DbError(MSI_LOCATION, kModule, 1114);
  }
}

void MsiDatabaseInterface::ensureTable(const MsiTableDescription& description) {
  try {
    const std::u16string& name = description.name();
    MsiRecordset found;
    {
      MsiCommand query(this);
      query.setText(u"Select `Name` From `_Tables` Where `Name` = ? ");
      query.bind(name);
      query.run(&found);
    }
    if (found.rowCount() == 0) {
      MsiCommand create(this);
      create.setText(description.createTableSql());
      create.run(nullptr);
      return;
    }

    HandleGuard keys;
    lastResult_ = MsiDatabaseGetPrimaryKeysW(handle_, name.c_str(), keys.out());
    if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1155, lastResult_);
    if (static_cast<std::int32_t>(fieldCount(keys.get())) != description.keyCount())
      throw DbError(MSI_LOCATION, kModule, 1115);

    std::map<std::u16string, const MsiColumn*> missing;
    description.columnsByName(missing);
    {
      HandleGuard view;
      lastResult_ = MsiDatabaseOpenViewW(handle_, (u"Select * From " + quoted(name)).c_str(), view.out());
      if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1121, lastResult_);
      HandleGuard names;
      lastResult_ = MsiViewGetColumnInfo(view.get(), MSICOLINFO_NAMES, names.out());
      if (!succeeded(lastResult_)) raise(MSI_LOCATION, 1125, lastResult_);
      UINT count = fieldCount(names.get());
      for (UINT i = 1; i <= count; ++i) missing.erase(readField(names.get(), i, MSI_LOCATION));
      lastResult_ = MsiViewClose(view.get());
    }
    // One statement per column: the installer takes a single ADD per ALTER.
    for (const auto& [columnName, column] : missing) {
      MsiCommand alter(this);
      alter.setText(u"Alter Table " + quoted(name) + u" Add " + quoted(columnName) + u" " + column->sqlDefinition());
      alter.run(nullptr);
    }
  } catch (const Error& e) {
    DbError outer(MSI_LOCATION, kModule, 1115);
    outer.setCause(e);
    throw outer;
  } catch (...) {
    throw DbError(MSI_LOCATION, kModule, 1115);
  }
}

}  // namespace Msi
