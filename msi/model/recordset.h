// Rows and recordsets: the fetched or pending rows of a statement or table,
// one wide text per column plus the pending-change state the table layer uses.
#pragma once

#include <string>
#include <vector>

#include "msi/model/column.h"

namespace Msi {

class MsiRow {
 public:
  enum State : int { Delete = 0, Insert = 1, Update = 2, Clean = 3 };

  MsiRow(std::size_t columnCount, const MsiColumnList* columns)
      : values_(columnCount), state_(Clean), columns_(columns) {}

  std::u16string& fieldAt(std::size_t index);
  const std::u16string& fieldAt(std::size_t index) const { return const_cast<MsiRow*>(this)->fieldAt(index); }
  std::u16string& field(const std::u16string& name);
  const std::u16string& field(const std::u16string& name) const { return const_cast<MsiRow*>(this)->field(name); }

  void markInsert();
  void markModified();
  void markDeleted() { state_ = Delete; }
  void markClean() { state_ = Clean; }
  void assignValues(const MsiRow& other) { values_ = other.values_; }

  int state() const { return state_; }
  std::size_t valueCount() const { return values_.size(); }
  const MsiColumnList* columns() const { return columns_; }
  std::vector<std::u16string>& values() { return values_; }
  const std::vector<std::u16string>& values() const { return values_; }

 private:
  std::vector<std::u16string> values_;
  int state_;
  const MsiColumnList* columns_;
};

class MsiRecordset {
 public:
  using Rows = std::vector<MsiRow*>;

  MsiRecordset() = default;
  MsiRecordset(const MsiRecordset&) = delete;
  MsiRecordset& operator=(const MsiRecordset&) = delete;
  virtual ~MsiRecordset();

  // Deletes every row and empties the column list.
  void clear();
  // Deletes every row, keeps the columns.
  void clearRows();
  void addColumn(const MsiColumn& column);
  MsiRow* row(std::size_t index) const;
  MsiRow* newRow();
  void append(MsiRow* row) { rows_.push_back(row); }
  // Takes the Clean rows out of the list and frees them.
  void removeCleanRows();
  // Takes one row out of the list without freeing it; false when absent.
  bool detach(MsiRow* row);

  Rows::iterator begin() { return rows_.begin(); }
  Rows::iterator end() { return rows_.end(); }
  Rows::const_iterator begin() const { return rows_.begin(); }
  Rows::const_iterator end() const { return rows_.end(); }
  std::size_t rowCount() const { return rows_.size(); }
  const MsiColumnList& columns() const { return columns_; }
  MsiColumnList& columns() { return columns_; }

 private:
  MsiColumnList columns_;
  Rows rows_;
};

}  // namespace Msi
