#include "msi/model/recordset.h"

#include <algorithm>

#include "msi/model/error.h"

namespace Msi {

namespace {
constexpr std::uint32_t kRowModule = 0x72a0b50e;
constexpr std::uint32_t kRecordsetModule = 0x2c36adb6;
}  // namespace

std::u16string& MsiRow::fieldAt(std::size_t index) {
  if (index >= values_.size()) throw DbError(MSI_LOCATION, kRowModule, 1105);
  return values_[index];
}

std::u16string& MsiRow::field(const std::u16string& name) {
  if (!columns_) throw DbError(MSI_LOCATION, kRowModule, 1137);
  std::size_t i = 0;
  for (const MsiColumn* c : *columns_) {
    if (c->name() == name) {
      if (i >= values_.size()) break;
      return values_[i];
    }
    ++i;
  }
  throw DbError(MSI_LOCATION, kRowModule, 1136);
}

void MsiRow::markInsert() {
  if (state_ == Delete || state_ == Update) throw DbError(MSI_LOCATION, kRowModule, 1170);
  state_ = Insert;
}

void MsiRow::markModified() {
  if (state_ == Delete) throw DbError(MSI_LOCATION, kRowModule, 1171);
  if (state_ != Insert) state_ = Update;
}

MsiRecordset::~MsiRecordset() { clearRows(); }

void MsiRecordset::clearRows() {
  for (MsiRow* r : rows_) delete r;
  rows_.clear();
}

void MsiRecordset::clear() {
  clearRows();
  columns_.clear();
}

void MsiRecordset::addColumn(const MsiColumn& column) {
  if (columns_.find(column.name()) != columns_.end()) throw DbError(MSI_LOCATION, kRecordsetModule, 1135);
  columns_.add(new MsiColumn(column));
}

MsiRow* MsiRecordset::row(std::size_t index) const {
  if (index >= rows_.size()) throw DbError(MSI_LOCATION, kRecordsetModule, 1105);
  return rows_[index];
}

MsiRow* MsiRecordset::newRow() {
  auto* r = new MsiRow(columns_.count(), &columns_);
  rows_.push_back(r);
  return r;
}

void MsiRecordset::removeCleanRows() {
  auto keep = std::stable_partition(rows_.begin(), rows_.end(), [](MsiRow* r) { return r->state() != MsiRow::Clean; });
  for (auto it = keep; it != rows_.end(); ++it) delete *it;
  rows_.erase(keep, rows_.end());
}

bool MsiRecordset::detach(MsiRow* row) {
  auto it = std::find(rows_.begin(), rows_.end(), row);
  if (it == rows_.end()) return false;
  rows_.erase(it);
  return true;
}

}  // namespace Msi
