#include "platform/msi/sql_bridge.h"

#include <gtest/gtest.h>

namespace {

using msi_layer::StatementKind;

// Media.DiskId and Media.LastSequence are integers; everything else is text.
char typeOf(const std::string& table, const std::string& column) {
  if (table == "Media") return column == "DiskId" || column == "LastSequence" ? 'i' : 's';
  if (table == "Property") return column == "Property" || column == "Value" ? 's' : 0;
  return 0;
}

std::string slots(const msi_layer::Statement& st) {
  std::string out;
  for (const auto& m : st.markers) {
    if (!out.empty()) out += " ";
    out += m.userField ? "?" + std::to_string(m.userField) : "'" + m.literal + "'";
    out += "@" + m.table + "." + m.column;
  }
  return out;
}

TEST(SqlBridge, MarkersMeetTheirColumnsAndLiteralsAreMended) {
  struct Case {
    const char* sql;
    StatementKind kind;
    const char* sent;
    const char* slots;
  } cases[] = {
      {"Insert into `Media` (`DiskId`,`Cabinet`) Values (?,?)", StatementKind::Insert,
       "Insert into `Media` (`DiskId`,`Cabinet`) Values (?,?)", "?1@Media.DiskId ?2@Media.Cabinet"},
      {"UPDATE `Media` SET `Cabinet` = 'a.cab', `LastSequence` = ? WHERE `DiskId` = ?", StatementKind::Update,
       "UPDATE `Media` SET `Cabinet` = ?, `LastSequence` = ? WHERE `DiskId` = ?",
       "'a.cab'@Media.Cabinet ?1@Media.LastSequence ?2@Media.DiskId"},
      {"select * from `Media` where `DiskId` = '2' or `Media`.`LastSequence` > ?", StatementKind::Select,
       "select * from `Media` where `DiskId` = 2 or `Media`.`LastSequence` > ?", "?1@Media.LastSequence"},
      {"SELECT `Value` FROM `Property`, `Media` WHERE `Property` = ? AND ? = `DiskId`", StatementKind::Select,
       "SELECT `Value` FROM `Property`, `Media` WHERE `Property` = ? AND ? = `DiskId`",
       "?1@Property.Property ?2@Media.DiskId"},
      {"DELETE FROM `Property` WHERE `Value` = 'it''s ?'", StatementKind::Delete,
       "DELETE FROM `Property` WHERE `Value` = 'it''s ?'", ""},
      {"CREATE TABLE `T` (`A` SHORT PRIMARY KEY `A`)", StatementKind::Create,
       "CREATE TABLE `T` (`A` SHORT PRIMARY KEY `A`)", ""},
  };
  for (const Case& c : cases) {
    msi_layer::Statement st = msi_layer::analyse(c.sql, typeOf);
    EXPECT_EQ(st.kind, c.kind) << c.sql;
    EXPECT_EQ(st.sql, c.sent) << c.sql;
    EXPECT_EQ(slots(st), c.slots) << c.sql;
    EXPECT_TRUE(st.error.empty()) << c.sql;
  }
  EXPECT_FALSE(msi_layer::analyse("SELECT * FROM `Media` WHERE `DiskId` = 'one'", typeOf).error.empty());
  EXPECT_EQ(msi_layer::analyse("SELECT `A`, `Media`.`B` FROM `Media`", typeOf).selectItems.size(), 2u);
}

}  // namespace
