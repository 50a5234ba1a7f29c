#include "msi/model/table_description.h"

#include "msi/model/error.h"
#include "msi/model/table_schemas.h"

namespace Msi {
namespace {

constexpr std::uint32_t kModule = 0xb9fdb353u;

std::map<std::u16string, MsiTableDescription*>& registry() {
  static std::map<std::u16string, MsiTableDescription*> descriptions;
  return descriptions;
}

}  // namespace

MsiTableDescription::MsiTableDescription(const std::u16string& name) : name_(name) {
  registry().emplace(name_, this);  // the first description of a name stays
}

MsiTableDescription::~MsiTableDescription() {
  // A destroyed description must not stay findable.
  auto& r = registry();
  auto it = r.find(name_);
  if (it != r.end() && it->second == this) r.erase(it);
}

void MsiTableDescription::addColumn(std::int32_t index, const std::u16string& name, const std::u16string& sqlType) {
  if (columns_.count(index)) throw DbError(MSI_LOCATION, kModule, 1135);
  auto column = std::make_unique<MsiColumn>(MsiColumn::fromSqlDefinition(sqlType));
  column->setName(name);
  columns_.emplace(index, std::move(column));
}

const std::u16string& MsiTableDescription::columnName(std::int32_t index) const {
  auto it = columns_.find(index);
  if (it == columns_.end()) throw DbError(MSI_LOCATION, kModule, 1136);
  return it->second->name();
}

const MsiColumn* MsiTableDescription::column(const std::u16string& name) const {
  for (const auto& [index, c] : columns_)
    if (c->hasName(name)) return c.get();
  return nullptr;
}

std::int32_t MsiTableDescription::keyCount() const {
  std::int32_t n = 0;
  for (const auto& [index, c] : columns_)
    if (c->isKey()) ++n;
  return n;
}

void MsiTableDescription::columnsByName(std::map<std::u16string, const MsiColumn*>& out) const {
  out.clear();
  for (const auto& [index, c] : columns_) out.emplace(c->name(), c.get());
}

std::u16string MsiTableDescription::createTableSql() const {
  std::u16string sql = u"Create Table `" + name_ + u"` (";
  bool first = true;
  for (const auto& [index, c] : columns_) {
    if (!first) sql += u", ";
    first = false;
    sql += u"`" + c->name() + u"` " + c->sqlDefinition();
  }
  bool firstKey = true;
  for (const auto& [index, c] : columns_) {
    if (!c->isKey()) continue;
    sql += firstKey ? u" PRIMARY KEY " : u", ";
    firstKey = false;
    sql += u"`" + c->name() + u"`";
  }
  return sql + u")";
}

MsiTableDescription* MsiTableDescription::lookup(const std::u16string& name) {
  // Naming the schemas here links them, and with them their start-up
  // construction, into every program that looks descriptions up.
  static const int schemas = schemaTableCount();
  (void)schemas;
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second;
}

}  // namespace Msi
