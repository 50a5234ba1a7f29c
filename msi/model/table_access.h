// Per-table access through a description class TD: its table name (copied once),
// a read-only query copy of the database's cached table, and a row's field by
// the column index of the description.
#pragma once

#include <string>

#include "msi/model/singleton.h"
#include "msi/model/table_description.h"

namespace Msi {

class MsiRow;
class MsiTable;
class MsiDatabaseInterface;

template <class TD>
const std::u16string& tableName() {
  static const std::u16string name = Singleton<TD>::instance()->name();
  return name;
}

// The copy refuses new rows (DbError 1150); failures of the interface's table
// pass unchanged. The interface's table(name) returns the cached MsiTable&.
template <class TD, class Database = MsiDatabaseInterface, class Table = MsiTable>
Table openTable(Database& database) {
  return Table(database.table(tableName<TD>()));
}

// The description is asked first, so a destroyed description raises 2 before
// the row is touched; unknown index or name: DbError 1136.
template <class TD, class Row = MsiRow>
std::u16string& columnValue(Row& row, std::int32_t index) {
  return row.field(Singleton<TD>::instance()->columnName(index));
}

}  // namespace Msi
