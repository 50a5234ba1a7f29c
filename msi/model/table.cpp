#include "msi/model/table.h"

#include "msi/model/error.h"
#include "msi/model/database.h"
#include "platform/msi/msi.h"

namespace Msi {

namespace {

constexpr std::uint32_t kModule = 0xd17c7d38;

std::u16string quoted(const std::u16string& name) { return u"`" + name + u"`"; }

}  // namespace

MsiTable::MsiTable(MsiDatabaseInterface* database, const std::u16string& name)
    : name_(name),
      database_(database),
      insert_(std::make_unique<MsiCommand>(database)),
      select_(std::make_unique<MsiCommand>(database)),
      update_(std::make_unique<MsiCommand>(database)),
      delete_(std::make_unique<MsiCommand>(database)) {}

MsiTable::MsiTable(const MsiTable& cached)
    : name_(cached.name_),
      where_(cached.where_),
      keyed_(cached.keyed_),
      queryCopy_(true),
      database_(cached.database_),
      insert_(std::make_unique<MsiCommand>(cached.database_)),
      select_(std::make_unique<MsiCommand>(cached.database_)),
      update_(std::make_unique<MsiCommand>(cached.database_)),
      delete_(std::make_unique<MsiCommand>(cached.database_)) {
  columns_.assign(cached.columns_);
  buildStatements();
}

MsiTable::~MsiTable() {
  for (MsiRow* r : pending_) delete r;
}

void MsiTable::prepareKeys() {
  keyPositions_.clear();
  valuePositions_.clear();
  std::size_t i = 0;
  for (const MsiColumn* c : columns_) {
    (c->isKey() ? keyPositions_ : valuePositions_).push_back(i);
    ++i;
  }
}

void MsiTable::buildStatements() {
  prepareKeys();
  std::u16string names, markers, sets;
  std::size_t i = 0;
  for (const MsiColumn* c : columns_) {
    if (i) {
      names += u",";
      markers += u",";
    }
    names += quoted(c->name());
    markers += u"?";
    if (!c->isKey()) {
      if (!sets.empty()) sets += u",";
      sets += quoted(c->name()) + u" = ?";
    }
    ++i;
  }
  std::u16string table = quoted(name_);
  std::u16string keyWhere = keyWhereText();
  insert_->setText(u"Insert into " + table + u" (" + names + u") Values (" + markers + u")");
  std::u16string select = u"Select " + names + u" From " + table;
  if (!where_.empty()) select += u" Where " + where_;
  select_->setText(select);
  // Key columns stay out of SET: the installer refuses to change a key in place,
  // and the key values are the WHERE condition anyway.
  update_->setText(u"Update " + table + u" Set " + sets + u" Where " + keyWhere);
  delete_->setText(u"Delete From " + table + u" Where " + keyWhere);
}

std::u16string MsiTable::setWhere(const std::u16string& where) {
  std::u16string previous = where_;
  if (where != where_) {
    where_ = where;
    buildStatements();
  }
  return previous;
}

std::u16string MsiTable::keyWhereText() const {
  std::u16string text;
  for (const MsiColumn* c : columns_) {
    if (!c->isKey()) continue;
    if (!text.empty()) text += u" And ";
    text += quoted(c->name()) + u" = ?";
  }
  return text;
}

std::u16string MsiTable::indexKey(const MsiRow& row) const {
  if (keyPositions_.size() == 1) return row.values()[keyPositions_[0]];
  std::u16string key;
  for (std::size_t p : keyPositions_) {
    key += row.values()[p];
    key.push_back(u'\0');
  }
  return key;
}

void MsiTable::indexRow(MsiRow* row) {
  if (keyPositions_.empty()) return;
  index_.emplace(indexKey(*row), row);
}

void MsiTable::load() {
  commit();
  rows_.clearRows();
  index_.clear();
  select_->clearParameters();
  for (const std::u16string& v : whereValues_) select_->bind(v);
  select_->run(&rows_);
  index_.reserve(rows_.rowCount());
  for (MsiRow* r : rows_) indexRow(r);
  complete_ = where_.empty();
  whereValues_.clear();
  fileKeysRead_ = false;
}

void MsiTable::dropCleanRows() {
  complete_ = false;
  // Rows written since the keys were read leave the cache: read them again.
  fileKeysRead_ = false;
  for (auto it = index_.begin(); it != index_.end();) {
    if (it->second->state() == MsiRow::Clean)
      it = index_.erase(it);
    else
      ++it;
  }
  rows_.removeCleanRows();
}

void MsiTable::commit() {
  std::vector<MsiRow*> deleted;
  for (MsiRow* r : rows_) {
    if (r->state() == MsiRow::Delete) deleted.push_back(r);
    commitRow(r);
  }
  // A deleted row leaves the cache, so that no key look-up finds it again.
  for (MsiRow* r : deleted) {
    if (!keyPositions_.empty()) {
      auto it = index_.find(indexKey(*r));
      if (it != index_.end() && it->second == r) index_.erase(it);
    }
    if (rows_.detach(r)) delete r;
  }
  for (MsiRow* r : pending_) delete r;
  pending_.clear();
}

MsiRow* MsiTable::newRow() {
  if (queryCopy_) throw DbError(MSI_LOCATION, kModule, 1150);
  auto* row = new MsiRow(columns_.count(), &columns_);
  pending_.insert(row);
  row->markInsert();
  return row;
}

bool MsiTable::discardPending(MsiRow* row) {
  if (!pending_.erase(row)) return false;
  delete row;
  return true;
}

void MsiTable::store(MsiRow*& row, bool writeNow) {
  MsiRow* r = row;
  if (pending_.count(r)) {
    MsiRow* match = nullptr;
    std::u16string key;
    if (!keyPositions_.empty()) {
      key = indexKey(*r);
      auto it = index_.find(key);
      if (it != index_.end()) match = it->second;
      // A row the cache has not read may still be in the file: inserting its
      // key again would fail the commit.
      else if (!complete_) {
        if (!fileKeysRead_ && where_.empty()) readFileKeys();
        if (!fileKeysRead_ || fileKeys_.count(key)) match = fetchByKey(*r, key);
      }
    }
    if (match) {
      if (r->state() == MsiRow::Insert)
        match->markModified();
      else if (r->state() == MsiRow::Delete)
        match->markDeleted();
      match->assignValues(*r);
      pending_.erase(r);
      delete r;
      row = r = match;
    } else {
      pending_.erase(r);
      rows_.append(r);
      if (!keyPositions_.empty()) index_.emplace(std::move(key), r);
    }
  }
  if (writeNow) commitRow(r);
}

void MsiTable::checkWritable(const MsiRow& row) const {
  // A read-only database takes the change in memory and its commit reports
  // success while nothing reaches the file.
  if (MsiGetDatabaseState(database_->handle()) == MSIDBSTATE_READ)
    throw DbError(MSI_LOCATION, kModule, 1146, u"the table " + name_ + u" is open read-only");
  if (row.state() == MsiRow::Delete) return;
  // The installer stores an empty text as a null, which a column without nulls
  // must never hold.
  std::size_t i = 0;
  for (const MsiColumn* c : columns_) {
    bool written = row.state() == MsiRow::Insert || !c->isKey();
    if (written && !c->isNullable() && row.values()[i].empty())
      throw DbError(MSI_LOCATION, kModule, 1147, u"the column " + name_ + u"." + c->name() + u" takes no empty value");
    ++i;
  }
}

void MsiTable::commitRow(MsiRow* row) {
  if (row->state() != MsiRow::Clean && !(row->state() == MsiRow::Update && valuePositions_.empty()))
    checkWritable(*row);
  MsiCommand* command = nullptr;
  switch (row->state()) {
    case MsiRow::Delete:
      command = delete_.get();
      command->clearParameters();
      for (std::size_t p : keyPositions_) command->bind(row->values()[p]);
      break;
    case MsiRow::Update:
      if (valuePositions_.empty()) break;  // nothing but keys: nothing to change
      command = update_.get();
      command->clearParameters();
      for (std::size_t p : valuePositions_) command->bind(row->values()[p]);
      for (std::size_t p : keyPositions_) command->bind(row->values()[p]);
      break;
    case MsiRow::Insert:
      command = insert_.get();
      command->clearParameters();
      for (const std::u16string& v : row->values()) command->bind(v);
      break;
    default:
      return;
  }
  if (command) command->run(nullptr);
  row->markClean();
}

void MsiTable::readFileKeys() {
  MsiTable copy(*this);
  copy.load();
  fileKeys_.clear();
  fileKeys_.reserve(copy.rowCount());
  for (MsiRow* r : copy) fileKeys_.insert(copy.indexKey(*r));
  fileKeysRead_ = true;
}

MsiRow* MsiTable::fetchByKey(const MsiRow& row, const std::u16string& indexText) {
  MsiTable copy(*this);
  copy.setKeyWhere();
  for (std::size_t p : keyPositions_) copy.bindWhereValue(row.values()[p]);
  copy.load();
  if (copy.rowCount() == 0) return nullptr;
  MsiRow* found = *copy.begin();
  auto* r = new MsiRow(columns_.count(), &columns_);
  r->values() = std::move(found->values());
  r->values().resize(columns_.count());
  r->markClean();
  rows_.append(r);
  index_.emplace(indexText, r);
  return r;
}

MsiRow* MsiTable::findRow(const std::u16string& key) {
  if (!keyed_) return nullptr;
  auto it = index_.find(key);
  if (it != index_.end()) return it->second;
  MsiTable copy(*this);
  copy.setKeyWhere();
  copy.bindWhereValue(key);
  copy.load();
  MsiRow* last = nullptr;
  for (MsiRow* found : copy) {
    auto* r = new MsiRow(columns_.count(), &columns_);
    r->values() = std::move(found->values());
    r->values().resize(columns_.count());
    r->markClean();
    rows_.append(r);
    index_.emplace(key, r);
    last = r;
  }
  return last;
}

}  // namespace Msi
