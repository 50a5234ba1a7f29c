// One installer table as the model sees it: columns with key flags, four
// prepared statements, the cached rows with their pending changes, and an index
// from key values to cached rows.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "msi/model/column.h"
#include "msi/model/command.h"
#include "msi/model/recordset.h"

namespace Msi {

class MsiDatabaseInterface;

class MsiTable {
 public:
  MsiTable(MsiDatabaseInterface* database, const std::u16string& name);
  // A read-only query copy: same name, where clause, keyed flag and columns;
  // its own statements and empty caches.
  MsiTable(const MsiTable& cached);
  MsiTable& operator=(const MsiTable&) = delete;
  virtual ~MsiTable();

  void buildStatements();

  MsiRecordset::Rows::iterator begin() { return rows_.begin(); }
  MsiRecordset::Rows::iterator end() { return rows_.end(); }
  std::size_t rowCount() const { return rows_.rowCount(); }

  std::u16string setWhere(const std::u16string& where);
  std::u16string setKeyWhere() { return setWhere(keyWhereText()); }
  std::u16string keyWhereText() const;
  void bindWhereValue(const std::u16string& value) { whereValues_.push_back(value); }

  // Writes pending changes, then reads the rows again through the select
  // statement with the bound where values.
  virtual void load();
  virtual void dropCleanRows();
  // Writes every cached row by its state, then frees the pending rows.
  virtual void commit();

  // A new Insert row with one empty value per column; DbError 1150 on a query copy.
  MsiRow* newRow();
  // Merges `row` into the cached row of the same key values or appends it;
  // `row` then designates the cached row. Writes it at once when `writeNow`.
  void store(MsiRow*& row, bool writeNow);
  // DbError 1146 on a read-only database, 1147 for an empty value in a column
  // without nulls; the row keeps its state, so a corrected row commits later.
  void commitRow(MsiRow* row);
  // The cached or database row of a key; keyed tables only, else null.
  MsiRow* findRow(const std::u16string& key);
  // Frees a row made by newRow that was never stored; false when it is not pending.
  bool discardPending(MsiRow* row);

  const std::u16string& name() const { return name_; }
  const std::u16string& where() const { return where_; }
  bool isKeyed() const { return keyed_; }
  void setKeyed(bool keyed) { keyed_ = keyed; }
  bool isQueryCopy() const { return queryCopy_; }
  MsiColumnList& columns() { return columns_; }
  const MsiColumnList& columns() const { return columns_; }
  MsiDatabaseInterface* database() const { return database_; }
  const MsiCommand& insertCommand() const { return *insert_; }
  const MsiCommand& selectCommand() const { return *select_; }
  const MsiCommand& updateCommand() const { return *update_; }
  const MsiCommand& deleteCommand() const { return *delete_; }
  std::size_t pendingCount() const { return pending_.size(); }

 private:
  void checkWritable(const MsiRow& row) const;
  void prepareKeys();
  std::u16string indexKey(const MsiRow& row) const;
  void indexRow(MsiRow* row);
  // The file's row with the key values of `row`, read into the cache; null when none.
  MsiRow* fetchByKey(const MsiRow& row, const std::u16string& indexText);
  // The key texts of every row the file holds, read once, so that storing many
  // new rows in a table never read costs one read rather than one per row.
  void readFileKeys();

  std::u16string name_;
  std::u16string where_;
  bool keyed_ = false;
  bool queryCopy_ = false;
  // The cache holds every row of the table (read without a where clause).
  bool complete_ = false;
  MsiColumnList columns_;
  MsiDatabaseInterface* database_;
  std::unique_ptr<MsiCommand> insert_, select_, update_, delete_;
  MsiRecordset rows_;
  std::unordered_set<MsiRow*> pending_;
  // Rows by their key values (all key columns). For a keyed table this is the
  // index by the one key; store uses it for every table with key columns, so
  // saving N rows costs N look-ups rather than N passes over the cache.
  std::unordered_map<std::u16string, MsiRow*> index_;
  std::vector<std::u16string> whereValues_;
  std::unordered_set<std::u16string> fileKeys_;
  bool fileKeysRead_ = false;
  std::vector<std::size_t> keyPositions_;
  std::vector<std::size_t> valuePositions_;  // the non-key columns, set by Update
};

}  // namespace Msi
