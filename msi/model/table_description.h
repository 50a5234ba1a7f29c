// The schema the model expects of one installer table, and the process-wide
// registry of descriptions by table name.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "msi/model/column.h"

namespace Msi {

class MsiTableDescription {
 public:
  using Columns = std::map<std::int32_t, std::unique_ptr<MsiColumn>>;

  // Registers the description under `name` unless that name is taken.
  explicit MsiTableDescription(const std::u16string& name);
  MsiTableDescription(const MsiTableDescription&) = delete;
  MsiTableDescription& operator=(const MsiTableDescription&) = delete;
  virtual ~MsiTableDescription();

  // DbError 1135 (module 0xb9fdb353) for an index already used; the parser's
  // DbError 1132 passes unchanged.
  void addColumn(std::int32_t index, const std::u16string& name, const std::u16string& sqlType);

  const std::u16string& name() const { return name_; }
  // DbError 1136 (module 0xb9fdb353) for an index without column.
  const std::u16string& columnName(std::int32_t index) const;
  // Exact (case-sensitive) name; null when there is none.
  const MsiColumn* column(const std::u16string& name) const;
  std::int32_t keyCount() const;
  // Empties `out` and fills it with every column by name.
  void columnsByName(std::map<std::u16string, const MsiColumn*>& out) const;
  // "Create Table `T` (`A` CHAR(72) NOT NULL, `B` SHORT PRIMARY KEY `A`)".
  std::u16string createTableSql() const;
  // In index order, which is the table's column order.
  const Columns& columns() const { return columns_; }

  // The registered description of that name, or null. The 50 schema
  // descriptions are always registered.
  static MsiTableDescription* lookup(const std::u16string& name);

 private:
  std::u16string name_;
  Columns columns_;
};

}  // namespace Msi
