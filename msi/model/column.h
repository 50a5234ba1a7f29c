// Column definitions of tables, statements and recordsets: read from installer
// type texts ("s72", "I2", "v0") or from schema SQL texts ("CHAR(72) NOT NULL
// PRIMARY KEY"), and written back as SQL type texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Msi {

class MsiColumn {
 public:
  enum Type : std::int32_t {
    String = 0,
    Short = 1,
    Long = 2,
    Object = 3,
    TemporaryString = 4,
    TemporaryInteger = 5,
  };

  MsiColumn() = default;
  MsiColumn(const MsiColumn&) = default;
  // Copies everything but the key flag, which stays the target's.
  MsiColumn& operator=(const MsiColumn& other);

  // DbError 1132 (module 0x82819ad0) with the inner error as cause (1134 for an
  // unknown type letter, 1133 for an unknown SQL type word or bad size).
  static MsiColumn fromInstallerType(const std::u16string& text);
  static MsiColumn fromSqlDefinition(const std::u16string& text);
  // "CHAR(72) NOT NULL", "LONGCHAR LOCALIZABLE", "SHORT", ...; no key clause.
  std::u16string sqlDefinition() const;

  const std::u16string& name() const { return name_; }
  void setName(const std::u16string& name) { name_ = name; }
  bool hasName(const std::u16string& name) const { return name_ == name; }
  Type type() const { return type_; }
  std::int32_t size() const { return size_; }
  bool isNullable() const { return nullable_; }
  bool isLocalizable() const { return localizable_; }
  bool isKey() const { return key_; }
  void setKey(bool key) { key_ = key; }

 private:
  std::u16string name_;
  Type type_ = String;
  std::int32_t size_ = 0;
  bool nullable_ = true;
  bool localizable_ = false;
  bool key_ = false;
};

// An ordered list of columns. An owning list deletes its columns; the lists that
// keyColumns gives only point at another list's columns.
class MsiColumnList {
 public:
  using const_iterator = std::vector<MsiColumn*>::const_iterator;

  MsiColumnList() = default;
  MsiColumnList(const MsiColumnList&) = delete;
  MsiColumnList& operator=(const MsiColumnList&) = delete;
  MsiColumnList(MsiColumnList&& other) noexcept;
  MsiColumnList& operator=(MsiColumnList&& other) noexcept;
  ~MsiColumnList();

  std::size_t count() const { return columns_.size(); }
  const_iterator begin() const { return columns_.begin(); }
  const_iterator end() const { return columns_.end(); }
  // DbError 1105 (module 0x82819ad0) for an index out of range.
  MsiColumn& at(std::size_t index) const;
  // The first column of that name, or end().
  const_iterator find(const std::u16string& name) const;
  // Takes ownership of `column`; a name already in the list raises DbError 1135
  // and the column stays the caller's.
  void add(MsiColumn* column);
  // A non-owning list of the key columns, in column order.
  MsiColumnList keyColumns() const;
  void clear();
  // clear, then a copy of each column of `other` (names not checked).
  void assign(const MsiColumnList& other);

 private:
  std::vector<MsiColumn*> columns_;
  bool owning_ = true;
};

}  // namespace Msi
