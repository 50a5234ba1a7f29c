#include "installjob/msidb.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/msi/msi_fixture.h"

namespace {

using msi_test::Idt;

class MsiDbTest : public msi_test::PackageWorld {
 protected:
  void SetUp() override {
    msi_test::PackageWorld::SetUp();
    std::vector<Idt> tables = msi_test::smallTables();
    tables.push_back({"Numbers.idt",
                      "Key\tId\tName\ns72\tI4\tS72\nNumbers\tKey\n"
                      "k12\t12\tx\nk7\t7\tx\nk16\t16\tx\n"
                      "kneg\t\t-1\nksp\t\t1 2\nkbig\t\t4294967296\n"});
    tables.push_back({"Binary.idt", "Name\tData\ns72\tv0\nBinary\tName\n"});
    ASSERT_TRUE(msi_test::buildIdtPackage(unixPackage("numbers.msi"), tables));
    package = windowsPackage("numbers.msi");
    installjob::setMsiApiLogPath(u"C:\\msiapi.log");
  }
  void TearDown() override {
    installjob::setMsiApiLogPath(u"C:/WORK/project/inst_supp/msigen/msiapi.log");
    msi_test::PackageWorld::TearDown();
  }
  std::string log() const { return msi_test::readFile(c("msiapi.log")); }

  std::u16string package;
};

std::vector<std::string> column(const msidb::rows& rows) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(msi_test::narrow(r.at(0)));
  return out;
}

TEST_F(MsiDbTest, ParametersBindAsIntegersOnlyWhenTheyAreUnsignedNumbersBelowTwoToThe32) {
  struct Case {
    const char16_t* value;
    const char16_t* query;  // integer-bound values match `Id`, text-bound ones `Name`
    const char* key;
  } cases[] = {
      {u"0012", u"SELECT `Key` FROM `Numbers` WHERE `Id`=?", "k12"},
      {u" 7 ", u"SELECT `Key` FROM `Numbers` WHERE `Id`=?", "k7"},
      {u"0x10", u"SELECT `Key` FROM `Numbers` WHERE `Id`=?", "k16"},
      {u"10h", u"SELECT `Key` FROM `Numbers` WHERE `Id`=?", "k16"},
      {u"-1", u"SELECT `Key` FROM `Numbers` WHERE `Name`=?", "kneg"},
      {u"1 2", u"SELECT `Key` FROM `Numbers` WHERE `Name`=?", "ksp"},
      {u"4294967296", u"SELECT `Key` FROM `Numbers` WHERE `Name`=?", "kbig"},
  };
  msiquery db;
  db.open(package, true);
  for (const Case& c : cases) {
    msidb::rows rows{{u"stale"}};
    db.read_query(c.query, {{c.value, false}}, rows);
    EXPECT_EQ(column(rows), std::vector<std::string>{c.key}) << msi_test::narrow(c.value);
  }
}

TEST_F(MsiDbTest, RowsComeBackAsTextsInSelectOrderAndNoRowsIsNoError) {
  msiquery db;
  db.open(package, true);
  msidb::rows rows{{u"stale"}};
  db.read_query(u"SELECT `Id`, `Key`, `Name` FROM `Numbers` WHERE `Key`='k7' OR `Key`='kneg'", {}, rows);
  ASSERT_EQ(rows.size(), 2u);
  std::sort(rows.begin(), rows.end(), [](auto& a, auto& b) { return a[1] < b[1]; });
  EXPECT_EQ(rows, (msidb::rows{{u"7", u"k7", u"x"}, {u"", u"kneg", u"-1"}}));

  db.read_query(u"SELECT `Key` FROM `Numbers` WHERE `Id`=99", {}, rows);
  EXPECT_TRUE(rows.empty());
}

TEST_F(MsiDbTest, PropertyValueNeedsExactlyOneRow) {
  msiquery db;
  db.open(package, true);
  EXPECT_EQ(msidb::property_value(db, u"ProductShortName"), u"Demo");
  EXPECT_EQ(msidb::property_value(db, u"Missing"), u"");
  // A name that widens the condition to two rows.
  EXPECT_EQ(msidb::property_value(db, u"ProductName' OR `Property`='ProductShortName"), u"");
  // A name that breaks the statement: the failure becomes the empty text.
  testing::internal::CaptureStdout();
  EXPECT_EQ(msidb::property_value(db, u"it's"), u"");
  testing::internal::GetCapturedStdout();
}

TEST_F(MsiDbTest, FailuresThrowTheClassNamingTheCall) {
  msiquery db;
  db.open(package, true);
  msidb::rows rows;
  testing::internal::CaptureStdout();
  try {
    db.read_query(u"SELECT `Nope` FROM `Nowhere`", {}, rows);
    ADD_FAILURE() << "no exception";
  } catch (const msier::query& e) {
    EXPECT_EQ(std::u16string(e.name()), u"MsiDatabaseOpenView");
    EXPECT_NE(e.code, 0u);
    EXPECT_EQ(e.text, u"SELECT `Nope` FROM `Nowhere`");
    EXPECT_TRUE(e.second.empty());
  }
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.rfind("MsiAPIError: ", 0), 0u) << printed;

  try {
    db.read_query(u"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)",
                  {{u"blob", false}, {u"C:\\no\\such.bin", true}}, rows);
    ADD_FAILURE() << "no exception";
  } catch (const msier::query& e) {
    EXPECT_EQ(std::u16string(e.name()), u"MsiRecordSetStream");
    EXPECT_EQ(e.text, u"C:\\no\\such.bin");
  }
}

TEST_F(MsiDbTest, OpenFailureIsLoggedAndThrownAndASecondOpenIsANoOp) {
  msidb db;
  try {
    db.open(u"C:\\pkg\\missing.msi", true);
    ADD_FAILURE() << "no exception";
  } catch (const msier::query&) {
    ADD_FAILURE() << "open throws only the base class";
  } catch (const msier::system& e) {
    EXPECT_NE(e.code, 0u);
    EXPECT_EQ(log(), "ERROR: MsiDatabase: path=C:\\pkg\\missing.msi, hDB=0, err = " + std::to_string(e.code) + "\n");
  }
  EXPECT_EQ(db.handle, 0u);

  db.open(package, true);
  MSIHANDLE first = db.handle;
  EXPECT_NE(first, 0u);
  db.open(u"C:\\pkg\\missing.msi", true);  // already open: neither reopened nor failed
  EXPECT_EQ(db.handle, first);
  db.close();
  EXPECT_EQ(db.handle, 0u);
}

TEST_F(MsiDbTest, ClosingAQueryObjectCommitsAndClosingTheBaseDoesNot) {
  {
    msidb db;
    db.open(package, false);
    msidb::rows rows;
    db.read_query(u"INSERT INTO `Numbers` (`Key`, `Id`) VALUES ('lost', 1)", {}, rows);
  }
  {
    msiquery db;
    db.open(package, false);
    msidb::rows rows;
    db.read_query(u"INSERT INTO `Numbers` (`Key`, `Id`) VALUES ('kept', 2)", {}, rows);
  }
  std::string exported = msi_test::exportTable(unixPackage("numbers.msi"), "Numbers");
  EXPECT_NE(exported.find("kept\t2"), std::string::npos) << exported;
  EXPECT_EQ(exported.find("lost"), std::string::npos) << exported;
}

// Loses every handle after the first row, so the next fetch fails.
class LosingDb : public msiquery {
 public:
  void read_record(MSIHANDLE record, row& out, const std::u16string& query) override {
    msidb::read_record(record, out, query);
    MsiCloseAllHandles();
    handle = 0;
  }
};

TEST_F(MsiDbTest, AFetchThatFailsMidwayThrowsInsteadOfPassingOffPartOfTheRows) {
  LosingDb db;
  db.open(package, true);
  msidb::rows rows;
  try {
    db.read_query(u"SELECT `Key` FROM `Numbers`", {}, rows);
    ADD_FAILURE() << "a cut-short result came back as complete: " << rows.size() << " rows";
  } catch (const msier::system& e) {
    EXPECT_NE(e.code, 0u);
  }
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(log().rfind("msidb::read_query:MsiViewFetch(szQuery=SELECT `Key` FROM `Numbers`) : res=", 0), 0u) << log();
}

}  // namespace
