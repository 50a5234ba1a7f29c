// The open installer database as the model sees it: the database handle, one
// cached table per name (created or completed from its registered description
// on first use), and the set of objects whose rows are to be written.
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/msi/msi.h"

namespace Msi {

class IMsiStorable;
class MsiTable;
class MsiTableDescription;

class MsiDatabaseInterface {
 public:
  MsiDatabaseInterface() = default;
  MsiDatabaseInterface(const MsiDatabaseInterface&) = delete;
  MsiDatabaseInterface& operator=(const MsiDatabaseInterface&) = delete;
  virtual ~MsiDatabaseInterface();

  void open(const std::u16string& path, bool readOnly);
  // Closes and zeroes the handle; a closed interface closes nothing.
  void close();
  void commit();

  bool isModified(const IMsiStorable* object) const { return modified_.count(object) != 0; }
  void markModified(const IMsiStorable* object) { modified_.insert(object); }
  std::size_t unmarkModified(const IMsiStorable* object) { return modified_.erase(object); }

  // After another writer changed the file: no object counts as changed, and
  // every table is read again on its next use.
  void clearModified() { modified_.clear(); }
  void forgetTables();
  MsiTable& table(const std::u16string& name);
  void ensureTable(const MsiTableDescription& description);

  MSIHANDLE handle() const { return handle_; }
  UINT lastResult() const { return lastResult_; }
  bool hasTable(const std::u16string& name) const { return tables_.count(name) != 0; }

 private:
  std::map<std::u16string, MsiTable*> tables_;
  std::set<const IMsiStorable*> modified_;
  MSIHANDLE handle_ = 0;
  UINT lastResult_ = 0;
};

}  // namespace Msi
