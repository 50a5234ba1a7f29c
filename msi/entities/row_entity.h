// What the plain row kinds share: one text per column of the table description,
// read and written as stored, and the package that holds the object.
#pragma once

#include <string>
#include <vector>

#include "msi/model/storable.h"
#include "msi/model/table_schemas.h"

namespace Msi {

class MsiPackage;

template <class TD, class T>
class MsiRowEntity : public MsiStorable<TD, T> {
 public:
  explicit MsiRowEntity(MsiPackage* package);

  bool matches(const MsiRow& row) const override { return columnOf(row, 0) == values_[0]; }
  void writeTo(MsiRow& row) const override {
    for (std::size_t i = 0; i < values_.size(); ++i) row.field(name(i)) = values_[i];
  }
  // Leaves the modified mark as it was: an object read from a row starts unmarked.
  void loadFrom(const MsiRow& row) override {
    for (std::size_t i = 0; i < values_.size(); ++i) values_[i] = columnOf(row, i);
  }
  std::u16string key() const override { return values_[0]; }
  MsiPackage* package() const { return package_; }

 protected:
  static const std::u16string& name(std::size_t i) {
    return Singleton<TD>::instance()->columnName(static_cast<std::int32_t>(i));
  }
  static const std::u16string& columnOf(const MsiRow& row, std::size_t i) { return row.field(name(i)); }
  const std::u16string& value(std::size_t i) const { return values_[i]; }
  void set(std::size_t i, const std::u16string& v) {
    values_[i] = v;
    this->markModified();
  }

  MsiPackage* package_;
  std::vector<std::u16string> values_;
};

}  // namespace Msi
