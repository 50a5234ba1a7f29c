// Statements, recordsets, tables and the database interface over packages
// built with msibuild; msiinfo and msidiff are the witnesses.
#include "msi/model/table.h"

#include "msi/model/command.h"
#include "msi/model/database.h"
#include "msi/model/error.h"
#include "msi/model/model_fixture.h"
#include "msi/model/text.h"

namespace {

using Msi::MsiCommand;
using Msi::MsiDatabaseInterface;
using Msi::MsiRecordset;
using Msi::MsiRow;
using Msi::MsiTable;
using model_test::narrow;

std::vector<std::uint32_t> chain(const Common::Error& e) {
  std::vector<std::uint32_t> codes;
  for (Common::Error c = e; c; c = c.cause()) codes.push_back(c.code());
  return codes;
}

template <class F>
Common::Error caught(F f) {
  try {
    f();
  } catch (const Common::Error& e) {
    return e;
  }
  return {};
}

const std::string kPropertyIdt =
    "Property\tValue\ns72\tl0\nProperty\tProperty\nProductName\tWidget Pro\nProductVersion\t4.2.0\n";
// Described: File, Component_, FileName, FileSize, Version, Language, Attributes,
// Sequence. This copy lacks Version and Language and has a column of its own.
const std::string kFileIdt =
    "File\tComponent_\tFileName\tFileSize\tAttributes\tSequence\tExtra\n"
    "s72\ts72\tl255\ti4\tI2\ti2\tS20\n"
    "File\tFile\n"
    "a.txt\tCore\tA.TXT|a.txt\t10\t\t1\tx\n"
    "b.txt\tCore\tB.TXT|b.txt\t20\t512\t2\ty\n";

class TableTest : public model_test::PackageWorld {
 protected:
  void openSample(bool readOnly = false) {
    path_ = build("t.msi", {{"Property", kPropertyIdt}, {"File", kFileIdt}});
    db_.open(path_, readOnly);
  }
  // Writes the cached tables and commits, then closes, so the witnesses see the file.
  void commitAndClose() {
    db_.commit();
    db_.close();
  }
  std::u16string path_;
  MsiDatabaseInterface db_;
};

TEST_F(TableTest, StatementTextsKeepKeyColumnsOutOfTheUpdate) {
  openSample(true);
  MsiTable& t = db_.table(u"Property");
  EXPECT_TRUE(t.isKeyed());
  EXPECT_EQ(&t, &db_.table(u"Property"));
  EXPECT_EQ(narrow(t.insertCommand().text()), "Insert into `Property` (`Property`,`Value`) Values (?,?)");
  EXPECT_EQ(narrow(t.selectCommand().text()), "Select `Property`,`Value` From `Property`");
  EXPECT_EQ(narrow(t.updateCommand().text()), "Update `Property` Set `Value` = ? Where `Property` = ?");
  EXPECT_EQ(narrow(t.deleteCommand().text()), "Delete From `Property` Where `Property` = ?");
  EXPECT_EQ(t.setWhere(u"`Value` = ?"), u"");
  EXPECT_EQ(narrow(t.selectCommand().text()), "Select `Property`,`Value` From `Property` Where `Value` = ?");
}

TEST_F(TableTest, MissingDescribedColumnsAreAddedAndUnknownOnesIgnored) {
  openSample();
  MsiTable& t = db_.table(u"File");
  std::vector<std::string> names;
  for (const Msi::MsiColumn* c : t.columns()) names.push_back(narrow(c->name()));
  EXPECT_EQ(names, (std::vector<std::string>{"File", "Component_", "FileName", "FileSize", "Attributes", "Sequence",
                                             "Language", "Version"}));
  EXPECT_EQ(narrow(t.selectCommand().text()).find("Extra"), std::string::npos);
  t.load();
  EXPECT_EQ(t.rowCount(), 2u);
  commitAndClose();
  std::string exported = exportTable("t.msi", "File");
  std::string header = exported.substr(0, exported.find('\n'));
  EXPECT_EQ(header, "File\tComponent_\tFileName\tFileSize\tAttributes\tSequence\tExtra\tLanguage\tVersion");
  std::size_t typesEnd = exported.find('\n', header.size() + 1);
  EXPECT_EQ(exported.substr(header.size() + 1, typesEnd - header.size() - 1), "s72\ts72\tl255\ti4\tI2\ti2\tS20\tS20\tS72");
}

TEST_F(TableTest, StoreMergeFindRowAndCommitChangeExactlyTheIntendedRows) {
  openSample();
  copy("t.msi", "before.msi");
  MsiTable& t = db_.table(u"Property");
  t.load();
  std::size_t cached = t.rowCount();

  MsiRow* update = t.newRow();
  update->field(u"Property") = u"ProductName";
  update->field(u"Value") = u"Widget Max";
  MsiRow* stored = update;
  t.store(stored, false);
  EXPECT_EQ(t.rowCount(), cached);
  EXPECT_EQ(stored->state(), MsiRow::Update);

  MsiRow* insert = t.newRow();
  insert->field(u"Property") = u"Fresh";
  insert->field(u"Value") = u"1";
  t.store(insert, false);
  EXPECT_EQ(insert->state(), MsiRow::Insert);
  EXPECT_EQ(t.rowCount(), cached + 1);
  EXPECT_EQ(t.findRow(u"Fresh"), insert);

  MsiRow* remove = t.newRow();
  remove->field(u"Property") = u"ProductVersion";
  remove->markDeleted();
  t.store(remove, false);
  EXPECT_EQ(remove->state(), MsiRow::Delete);

  t.commit();
  for (MsiRow* r : t) EXPECT_EQ(r->state(), MsiRow::Clean);
  commitAndClose();
  std::vector<std::string> changed = diff("before.msi", "t.msi");
  std::sort(changed.begin(), changed.end());
  EXPECT_EQ(changed, (std::vector<std::string>{"+Fresh\t1", "+ProductName\tWidget Max", "-ProductName\tWidget Pro",
                                               "-ProductVersion\t4.2.0"}));
}

TEST_F(TableTest, IntegerKeysUpdateAndDeleteTheirRows) {
  path_ = build("m.msi", {{"Media", "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\n"
                                    "i2\ti2\tL64\tS255\tS32\tS72\nMedia\tDiskId\n"
                                    "1\t5\t\tdata1.cab\t\t\n2\t9\tDisk 2\t\t\t\n"}});
  copy("m.msi", "before.msi");
  db_.open(path_, false);
  MsiTable& t = db_.table(u"Media");
  ASSERT_TRUE(t.isKeyed());
  MsiRow* one = t.findRow(u"1");
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->field(u"Cabinet"), u"data1.cab");
  MsiRow* update = t.newRow();
  update->values() = one->values();
  update->field(u"LastSequence") = u"7";
  t.store(update, true);  // written at once
  EXPECT_EQ(update, one);
  EXPECT_EQ(one->state(), MsiRow::Clean);
  MsiRow* remove = t.newRow();
  remove->field(u"DiskId") = u"2";
  remove->markDeleted();
  t.store(remove, false);
  commitAndClose();
  std::vector<std::string> changed = diff("before.msi", "m.msi");
  std::sort(changed.begin(), changed.end());
  EXPECT_EQ(changed, (std::vector<std::string>{"+1\t7\t\tdata1.cab\t\t", "-1\t5\t\tdata1.cab\t\t",
                                               "-2\t9\tDisk 2\t\t\t"}));
}

TEST_F(TableTest, FindRowReadsOneRowOnceAndMissesLeaveTheCacheAlone) {
  openSample();
  MsiTable& t = db_.table(u"Property");
  EXPECT_EQ(t.findRow(u"Nope"), nullptr);
  EXPECT_EQ(t.rowCount(), 0u);
  MsiRow* row = t.findRow(u"ProductName");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->field(u"Value"), u"Widget Pro");
  EXPECT_EQ(t.rowCount(), 1u);
  MsiCommand del(&db_);
  del.setText(u"Delete From `Property` Where `Property` = ?");
  del.bind(u"ProductName");
  del.run(nullptr);
  EXPECT_EQ(t.findRow(u"ProductName"), row);
  EXPECT_EQ(t.rowCount(), 1u);
}

TEST_F(TableTest, TwoKeyColumnsMergeWithoutBeingKeyed) {
  openSample();
  MsiTable& t = db_.table(u"FeatureComponents");  // created from its description
  EXPECT_FALSE(t.isKeyed());
  EXPECT_EQ(narrow(t.keyWhereText()), "`Feature_` = ? And `Component_` = ?");
  for (int i = 0; i < 2; ++i) {
    MsiRow* r = t.newRow();
    r->field(u"Feature_") = u"Main";
    r->field(u"Component_") = u"Core";
    t.store(r, false);
  }
  MsiRow* other = t.newRow();
  other->field(u"Feature_") = u"Main";
  other->field(u"Component_") = u"Extra";
  t.store(other, false);
  EXPECT_EQ(t.rowCount(), 2u);
  EXPECT_EQ(t.findRow(u"Main"), nullptr);
  commitAndClose();
  std::string exported = exportTable("t.msi", "FeatureComponents");
  EXPECT_NE(exported.find("Main\tCore\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find("Main\tExtra\n"), std::string::npos) << exported;
}

TEST_F(TableTest, LoadWritesPendingRowsFirst) {
  openSample();
  MsiTable& t = db_.table(u"Property");
  MsiRow* r = t.newRow();
  r->field(u"Property") = u"Late";
  r->field(u"Value") = u"v";
  t.store(r, false);
  t.load();
  bool found = false;
  for (MsiRow* row : t) found |= row->field(u"Property") == u"Late";
  EXPECT_TRUE(found);
  EXPECT_EQ(chain(caught([&] {
              MsiTable copy(t);
              copy.newRow();
            })),
            (std::vector<std::uint32_t>{1150}));
}

TEST_F(TableTest, BadStatementsAndMarkerMismatchesCarryTheLayersText) {
  openSample();
  MsiCommand bad(&db_);
  bad.setText(u"Select * From `NoSuchTable`");
  Common::Error e = caught([&] { bad.run(nullptr); });
  EXPECT_EQ(chain(e), (std::vector<std::uint32_t>{1145, 1142, 1121}));
  std::u16string text = e.cause().cause().text();
  EXPECT_EQ(text.rfind(Msi::systemErrorText(e.cause().cause().code() == 1121 ? bad.lastResult() : 0), 0), 0u);
  EXPECT_NE(text.find(u"\nError detailes: "), std::u16string::npos) << narrow(text);

  // A "?" inside a quoted literal counts as a marker too.
  MsiCommand literal(&db_);
  literal.setText(u"Select `Value` From `Property` Where `Property` = '?'");
  EXPECT_EQ(chain(caught([&] { literal.run(nullptr); })), (std::vector<std::uint32_t>{1145, 1144}));
  MsiCommand index(&db_);
  EXPECT_EQ(chain(caught([&] { index.setParameter(0, u"x"); })), (std::vector<std::uint32_t>{1105}));
}

TEST_F(TableTest, AStatementThatFailedAfterOpenRunsAgain) {
  openSample();
  MsiCommand insert(&db_);
  insert.setText(u"Insert into `Property` (`Property`,`Value`) Values (?,?)");
  insert.bind(u"ProductName");  // already there: the execution fails
  insert.bind(u"x");
  EXPECT_EQ(chain(caught([&] { insert.run(nullptr); })), (std::vector<std::uint32_t>{1145, 1122}));
  EXPECT_FALSE(insert.isOpen());
  insert.setParameter(0, u"Another");
  insert.run(nullptr);
  commitAndClose();
  EXPECT_NE(exportTable("t.msi", "Property").find("\nAnother\tx\n"), std::string::npos);
}

TEST_F(TableTest, AFetchThatFailsRaisesInsteadOfEndingShort) {
  openSample();
  MsiCommand select(&db_);
  select.setText(u"Select `Property` From `Property`");
  MsiRecordset rs;
  select.open();
  select.execute(&rs);
  MsiCloseAllHandles();  // the view dies under the fetch
  Common::Error e = caught([&] { select.fetch(&rs); });
  EXPECT_EQ(chain(e), (std::vector<std::uint32_t>{1123}));
  EXPECT_EQ(e.text().rfind(Msi::systemErrorText(select.lastResult()), 0), 0u);
}

TEST_F(TableTest, IntegerColumnsWriteNullsAndLeadingDigits) {
  openSample();
  MsiCommand create(&db_);
  create.setText(u"CREATE TABLE `Numbers` (`Key` CHAR(10) NOT NULL, `N` SHORT, `L` LONG PRIMARY KEY `Key`)");
  create.run(nullptr);
  struct Case {
    const char16_t* key;
    const char16_t* n;
    const char16_t* expected;
  } cases[] = {{u"empty", u"", u""}, {u"plain", u"42", u"42"}, {u"minus", u"-12", u"-12"}, {u"digits", u"12abc", u"12"},
               {u"none", u"abc", u"0"}};
  MsiCommand insert(&db_);
  insert.setText(u"Insert into `Numbers` (`Key`,`N`,`L`) Values (?,?,?)");
  for (const Case& c : cases) {
    insert.clearParameters();
    insert.bind(c.key);
    insert.bind(c.n);
    insert.bind(u"");
    insert.run(nullptr);
  }
  MsiCommand select(&db_);
  select.setText(u"Select `Key`,`N`,`L` From `Numbers` Where `Key` = ?");
  for (const Case& c : cases) {
    MsiRecordset rs;
    select.clearParameters();
    select.bind(c.key);
    select.run(&rs);
    ASSERT_EQ(rs.rowCount(), 1u) << narrow(c.key);
    EXPECT_EQ(rs.row(0)->fieldAt(1), c.expected) << narrow(c.key);
    EXPECT_EQ(rs.row(0)->fieldAt(2), u"");
  }
}

TEST(RowTest, StatesAndFieldLookups) {
  Msi::MsiColumnList columns;
  auto* key = new Msi::MsiColumn(Msi::MsiColumn::fromInstallerType(u"s72"));
  key->setName(u"Property");
  columns.add(key);
  MsiRow row(1, &columns);
  EXPECT_EQ(row.state(), MsiRow::Clean);
  row.field(u"Property") = u"x";
  EXPECT_EQ(row.fieldAt(0), u"x");
  EXPECT_EQ(chain(caught([&] { row.field(u"property"); })), (std::vector<std::uint32_t>{1136}));
  EXPECT_EQ(chain(caught([&] { row.fieldAt(1); })), (std::vector<std::uint32_t>{1105}));
  MsiRow orphan(1, nullptr);
  EXPECT_EQ(chain(caught([&] { orphan.field(u"Property"); })), (std::vector<std::uint32_t>{1137}));

  struct Move {
    int from;
    void (MsiRow::*step)();
    int to;  // -1: DbError
    std::uint32_t error;
  } moves[] = {
      {MsiRow::Clean, &MsiRow::markInsert, MsiRow::Insert, 0},
      {MsiRow::Update, &MsiRow::markInsert, -1, 1170},
      {MsiRow::Delete, &MsiRow::markInsert, -1, 1170},
      {MsiRow::Insert, &MsiRow::markModified, MsiRow::Insert, 0},
      {MsiRow::Clean, &MsiRow::markModified, MsiRow::Update, 0},
      {MsiRow::Delete, &MsiRow::markModified, -1, 1171},
  };
  for (const Move& m : moves) {
    MsiRow r(1, &columns);
    if (m.from == MsiRow::Insert) r.markInsert();
    if (m.from == MsiRow::Update) r.markModified();
    if (m.from == MsiRow::Delete) r.markDeleted();
    ASSERT_EQ(r.state(), m.from);
    Common::Error e = caught([&] { (r.*m.step)(); });
    if (m.to < 0) {
      EXPECT_EQ(e.code(), m.error);
      EXPECT_EQ(r.state(), m.from);
    } else {
      EXPECT_FALSE(e);
      EXPECT_EQ(r.state(), m.to);
    }
  }
}

TEST(RecordsetTest, DuplicateColumnsAndRowIndexes) {
  MsiRecordset rs;
  Msi::MsiColumn c;
  c.setName(u"A");
  rs.addColumn(c);
  EXPECT_EQ(chain(caught([&] { rs.addColumn(c); })), (std::vector<std::uint32_t>{1135}));
  EXPECT_EQ(rs.newRow()->valueCount(), 1u);
  EXPECT_EQ(chain(caught([&] { rs.row(1); })), (std::vector<std::uint32_t>{1105}));
  rs.newRow()->markInsert();
  rs.removeCleanRows();
  EXPECT_EQ(rs.rowCount(), 1u);
}

}  // namespace

namespace {

// A stored row whose key the file holds but the cache never read updates that
// row: inserting the key again would fail the commit. Rows of keys the file
// lacks are still inserted, tables of two keys alike.
TEST_F(TableTest, StoredRowsMergeWithFileRowsTheCacheNeverRead) {
  openSample();
  MsiTable& properties = db_.table(u"Property");
  for (auto [key, value] : {std::pair{u"ProductVersion", u"5.0"}, std::pair{u"Added", u"new"}}) {
    MsiRow* row = properties.newRow();
    row->field(u"Property") = key;
    row->field(u"Value") = value;
    properties.store(row, false);
  }
  MsiCommand create(&db_);
  create.setText(u"CREATE TABLE `Pairs` (`A` CHAR(8) NOT NULL, `B` CHAR(8) NOT NULL, `V` CHAR(8) PRIMARY KEY `A`, `B`)");
  create.run(nullptr);
  MsiCommand insert(&db_);
  insert.setText(u"INSERT INTO `Pairs` (`A`, `B`, `V`) VALUES ('x', 'y', 'old')");
  insert.run(nullptr);
  MsiTable& pairs = db_.table(u"Pairs");
  for (auto [a, b, v] : {std::tuple{u"x", u"y", u"new"}, std::tuple{u"x", u"z", u"add"}}) {
    MsiRow* row = pairs.newRow();
    row->field(u"A") = a;
    row->field(u"B") = b;
    row->field(u"V") = v;
    pairs.store(row, false);
  }
  commitAndClose();
  std::string exported = exportTable("t.msi", "Property");
  EXPECT_NE(exported.find("ProductVersion\t5.0\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find("Added\tnew\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find("ProductName\tWidget Pro\n"), std::string::npos) << exported;
  std::string pairText = exportTable("t.msi", "Pairs");
  EXPECT_NE(pairText.find("x\ty\tnew\n"), std::string::npos) << pairText;
  EXPECT_NE(pairText.find("x\tz\tadd\n"), std::string::npos) << pairText;
  EXPECT_EQ(pairText.find("old"), std::string::npos) << pairText;
}

}  // namespace
