#include "platform/msi/msi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <thread>

#include "platform/msi/msi_fixture.h"
#include "platform/win32/kernel32/message.h"

using msi_test::Handle;
using msi_test::narrow;
using msi_test::recordString;

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// The data rows of an `msiinfo export` text (its three header lines dropped), sorted.
std::vector<std::string> exportRows(const std::string& text) {
  std::vector<std::string> l = lines(text);
  if (l.size() < 3) return {};
  std::vector<std::string> rows(l.begin() + 3, l.end());
  std::sort(rows.begin(), rows.end());
  return rows;
}

class MsiLayer : public msi_test::PackageWorld {
 protected:
  MSIHANDLE open(const std::string& name, LPCWSTR mode) {
    MSIHANDLE h = 0;
    EXPECT_EQ(MsiOpenDatabaseW(windowsPackage(name).c_str(), mode, &h), 0u);
    return h;
  }
  // Runs a statement with text parameters (empty text: null) and returns every
  // row as tab-joined fields.
  std::vector<std::string> query(MSIHANDLE db, const std::u16string& sql,
                                 const std::vector<std::u16string>& params = {}, UINT* result = nullptr) {
    std::vector<std::string> rows;
    Handle view;
    UINT rc = MsiDatabaseOpenViewW(db, sql.c_str(), view.out());
    if (rc == 0) {
      Handle rec;
      if (!params.empty()) {
        rec.reset(MsiCreateRecord(static_cast<UINT>(params.size())));
        for (std::size_t i = 0; i < params.size(); ++i)
          MsiRecordSetStringW(rec, static_cast<UINT>(i + 1), params[i].c_str());
      }
      rc = MsiViewExecute(view, rec);
      while (rc == 0) {
        Handle row;
        UINT f = MsiViewFetch(view, row.out());
        if (f == ERROR_NO_MORE_ITEMS) break;
        if (f != 0) {
          rc = f;
          break;
        }
        std::string line;
        for (UINT i = 1; i <= MsiRecordGetFieldCount(row); ++i) line += (i > 1 ? "\t" : "") + narrow(recordString(row, i));
        rows.push_back(line);
      }
      MsiViewClose(view);
    }
    if (result)
      *result = rc;
    else
      EXPECT_EQ(rc, 0u) << narrow(sql);
    return rows;
  }
  std::vector<std::string> columnInfo(MSIHANDLE db, const std::u16string& sql, MSICOLINFO which) {
    Handle view, rec;
    EXPECT_EQ(MsiDatabaseOpenViewW(db, sql.c_str(), view.out()), 0u) << narrow(sql);
    EXPECT_EQ(MsiViewGetColumnInfo(view, which, rec.out()), 0u);
    std::vector<std::string> out;
    for (UINT i = 1; i <= MsiRecordGetFieldCount(rec); ++i) out.push_back(narrow(recordString(rec, i)));
    return out;
  }
};

TEST_F(MsiLayer, ReadOnlyOpenReadsWhatMsiinfoExportsAndLeavesTheFileAlone) {
  std::string path = buildSmall();
  std::string before = msi_test::readFile(path);
  Handle db(open("small.msi", MSIDBOPEN_READONLY));
  EXPECT_EQ(MsiGetDatabaseState(db), MSIDBSTATE_READ);
  for (const char* table : {"Property", "Media"}) {
    std::u16string sql = u"SELECT * FROM `";
    for (const char* p = table; *p; ++p) sql += static_cast<char16_t>(*p);
    sql += u"`";
    std::vector<std::string> rows = query(db, sql);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, exportRows(msi_test::exportTable(path, table))) << table;
    // Column types as the engine reports them, equal to the export's type line.
    std::vector<std::string> types = columnInfo(db, sql, MSICOLINFO_TYPES);
    std::string joined;
    for (std::size_t i = 0; i < types.size(); ++i) joined += (i ? "\t" : "") + types[i];
    EXPECT_EQ(joined, lines(msi_test::exportTable(path, table))[1]) << table;
  }
  EXPECT_EQ(MsiDatabaseCommit(db), 0u);
  db.reset();
  EXPECT_EQ(msi_test::readFile(path), before);
}

TEST_F(MsiLayer, OpenFailuresCarryTheirNumberAndALastErrorRecord) {
  MSIHANDLE h = 0;
  EXPECT_EQ(MsiOpenDatabaseW(u"C:\\pkg\\missing.msi", MSIDBOPEN_READONLY, &h), static_cast<UINT>(ERROR_OPEN_FAILED));
  EXPECT_EQ(h, 0u);
  Handle err(MsiGetLastErrorRecord());
  ASSERT_NE(err.get(), 0u);
  EXPECT_EQ(MsiRecordGetInteger(err, 1), ERROR_OPEN_FAILED);
  EXPECT_EQ(MsiGetLastErrorRecord(), 0u) << "taking the record clears it";
  put("pkg/notmsi.msi", "this is not a compound file");
  EXPECT_EQ(MsiOpenDatabaseW(u"C:\\pkg\\notmsi.msi", MSIDBOPEN_READONLY, &h), static_cast<UINT>(ERROR_OPEN_FAILED));
  MsiCloseHandle(MsiGetLastErrorRecord());
}

TEST_F(MsiLayer, RecordsKeepTextsIntegersAndNulls) {
  Handle rec(MsiCreateRecord(3));
  EXPECT_EQ(MsiRecordGetFieldCount(rec), 3u);
  EXPECT_TRUE(MsiRecordIsNull(rec, 1));
  EXPECT_EQ(MsiRecordSetStringW(rec, 1, u"text"), 0u);
  EXPECT_EQ(MsiRecordSetInteger(rec, 2, -42), 0u);
  EXPECT_EQ(recordString(rec, 1), u"text");
  EXPECT_EQ(recordString(rec, 2), u"-42");
  EXPECT_EQ(MsiRecordGetInteger(rec, 2), -42);
  EXPECT_EQ(MsiRecordGetInteger(rec, 1), MSI_NULL_INTEGER) << "a non-numeric text has no integer";
  EXPECT_EQ(MsiRecordSetStringW(rec, 3, u"17"), 0u);
  EXPECT_EQ(MsiRecordGetInteger(rec, 3), 17);
  // The null integer and the empty text both make a field null.
  EXPECT_EQ(MsiRecordSetInteger(rec, 2, MSI_NULL_INTEGER), 0u);
  EXPECT_TRUE(MsiRecordIsNull(rec, 2));
  EXPECT_EQ(recordString(rec, 2), u"");
  EXPECT_EQ(MsiRecordSetStringW(rec, 1, u""), 0u);
  EXPECT_TRUE(MsiRecordIsNull(rec, 1));
  EXPECT_EQ(MsiRecordSetStringW(rec, 4, u"x"), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiRecordSetInteger(rec, 4, 1), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiRecordGetFieldCount(0xFFFFFFF0u), static_cast<UINT>(-1));
  EXPECT_EQ(MsiCreateRecord(70000), 0u);
}

TEST_F(MsiLayer, TextGettersFollowTheTwoCallSizeProtocol) {
  Handle rec(MsiCreateRecord(1));
  MsiRecordSetStringW(rec, 1, u"abcdef");
  struct Case {
    DWORD room;
    UINT result;
    const char16_t* text;
  } cases[] = {{0, ERROR_MORE_DATA, u""}, {1, ERROR_MORE_DATA, u""}, {4, ERROR_MORE_DATA, u"abc"},
               {6, ERROR_MORE_DATA, u"abcde"}, {7, ERROR_SUCCESS, u"abcdef"}, {20, ERROR_SUCCESS, u"abcdef"}};
  for (const Case& c : cases) {
    WCHAR buf[32];
    std::fill(std::begin(buf), std::end(buf), u'#');
    DWORD n = c.room;
    EXPECT_EQ(MsiRecordGetStringW(rec, 1, buf, &n), c.result) << c.room;
    EXPECT_EQ(n, 6u) << "the needed length without terminator";
    if (c.room > 0) {
      EXPECT_EQ(std::u16string(buf), c.text) << c.room;
    } else {
      EXPECT_EQ(buf[0], u'#') << "a buffer of no room is not written";
    }
  }
  DWORD n = 99;
  EXPECT_EQ(MsiRecordGetStringW(rec, 1, nullptr, &n), 0u);
  EXPECT_EQ(n, 6u);
}

TEST_F(MsiLayer, ViewsBindMarkersFetchToTheEndAndReportKeys) {
  buildSmall();
  Handle db(open("small.msi", MSIDBOPEN_READONLY));
  EXPECT_EQ(query(db, u"SELECT `Value` FROM `Property` WHERE `Property` = ?", {u"ProductShortName"}),
            std::vector<std::string>{"Demo"});
  // An integer column compared with a marker bound as text or as number.
  EXPECT_EQ(query(db, u"SELECT `LastSequence` FROM `Media` WHERE `DiskId` = ?", {u"2"}),
            std::vector<std::string>{"9"});
  {
    Handle view, rec(MsiCreateRecord(1)), row;
    MsiRecordSetInteger(rec, 1, 1);
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `Cabinet`, `DiskPrompt` FROM `Media` WHERE `DiskId` = ?", view.out()),
              0u);
    EXPECT_EQ(MsiViewFetch(view, row.out()), static_cast<UINT>(ERROR_FUNCTION_FAILED)) << "fetch before execute";
    ASSERT_EQ(MsiViewExecute(view, rec), 0u);
    ASSERT_EQ(MsiViewFetch(view, row.out()), 0u);
    EXPECT_EQ(recordString(row, 1), u"data1.cab");
    EXPECT_TRUE(MsiRecordIsNull(row, 2));
    EXPECT_EQ(MsiViewFetch(view, row.out()), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(MsiViewFetch(view, row.out()), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(MsiViewClose(view), 0u);
    // Closed views run again.
    ASSERT_EQ(MsiViewExecute(view, rec), 0u);
    EXPECT_EQ(MsiViewFetch(view, row.out()), 0u);
  }
  MsiCloseHandle(MsiGetLastErrorRecord());
  {
    Handle keys;
    ASSERT_EQ(MsiDatabaseGetPrimaryKeysW(db, u"Media", keys.out()), 0u);
    EXPECT_EQ(MsiRecordGetFieldCount(keys), 1u);
    EXPECT_EQ(recordString(keys, 0), u"Media");
    EXPECT_EQ(recordString(keys, 1), u"DiskId");
    EXPECT_EQ(MsiDatabaseGetPrimaryKeysW(db, u"Nope", keys.out()), static_cast<UINT>(ERROR_INVALID_TABLE));
    EXPECT_EQ(MsiGetLastErrorRecord(), 0u) << "an expected answer, not a failure to report";
  }
  UINT rc;
  query(db, u"SELECT * FROM `Nope`", {}, &rc);
  EXPECT_EQ(rc, static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  query(db, u"SELEC * FROM", {}, &rc);
  EXPECT_EQ(rc, static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  MsiCloseHandle(MsiGetLastErrorRecord());
}

TEST_F(MsiLayer, TransactedChangesCommitInPlace) {
  std::string path = buildSmall();
  Handle db(open("small.msi", MSIDBOPEN_TRANSACT));
  EXPECT_EQ(MsiGetDatabaseState(db), MSIDBSTATE_WRITE);
  query(db, u"UPDATE `Property` SET `Value` = ? WHERE `Property` = ?", {u"Changed", u"ProductName"});
  query(db, u"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {u"NewOne", u"New value"});
  query(db, u"DELETE FROM `Property` WHERE `Property` = ?", {u"ProductVersion"});
  std::string before = msi_test::exportTable(path, "Property");
  EXPECT_NE(before.find("Demo Product"), std::string::npos) << "nothing is written before the commit";
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  std::vector<std::string> rows = exportRows(msi_test::exportTable(path, "Property"));
  EXPECT_EQ(rows, (std::vector<std::string>{"Manufacturer\tAcme Corp", "NewOne\tNew value",
                                            "ProductCode\t{11111111-2222-3333-4444-555555555555}",
                                            "ProductName\tChanged", "ProductShortName\tDemo"}));
  // Still usable after the commit, and a second commit writes the next change.
  query(db, u"UPDATE `Property` SET `Value` = ? WHERE `Property` = ?", {u"Again", u"ProductName"});
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  EXPECT_NE(msi_test::exportTable(path, "Property").find("ProductName\tAgain"), std::string::npos);
}

TEST_F(MsiLayer, AnOutputPathTakesTheChangesAndTheSourceStays) {
  std::string path = buildSmall();
  std::string before = msi_test::readFile(path);
  MSIHANDLE raw = 0;
  ASSERT_EQ(MsiOpenDatabaseW(windowsPackage("small.msi").c_str(), u"C:\\pkg\\copy.msi", &raw), 0u);
  Handle db(raw);
  query(db, u"UPDATE `Property` SET `Value` = ? WHERE `Property` = ?", {u"Copied", u"ProductName"});
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  EXPECT_EQ(msi_test::readFile(path), before);
  EXPECT_NE(msi_test::exportTable(unixPackage("copy.msi"), "Property").find("ProductName\tCopied"), std::string::npos);
}

TEST_F(MsiLayer, SummaryInformationByPath) {
  std::string path = buildSmall();
  {
    Handle si;
    ASSERT_EQ(MsiGetSummaryInformationW(0, windowsPackage("small.msi").c_str(), 2, si.out()), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_AUTHOR, VT_LPSTR, 0, nullptr, u"Other Corp"), 0u);
    EXPECT_EQ(MsiSummaryInfoPersist(si), 0u);
  }
  EXPECT_NE(msi_test::suminfo(path).find("Author: Other Corp\n"), std::string::npos);
  Handle si;
  EXPECT_EQ(MsiGetSummaryInformationW(0, u"C:\\pkg\\none.msi", 0, si.out()), static_cast<UINT>(ERROR_OPEN_FAILED));
  MsiCloseHandle(MsiGetLastErrorRecord());
}

TEST_F(MsiLayer, EngineTrapsArePinnedAndBridged) {
  std::string path = buildSmall();
  Handle db(open("small.msi", MSIDBOPEN_TRANSACT));
  UINT rc;
  // An UPDATE that sets a key column is refused; the row stays.
  query(db, u"UPDATE `Property` SET `Property` = ?, `Value` = ? WHERE `Property` = ?", {u"Other", u"x", u"Manufacturer"},
        &rc);
  EXPECT_EQ(rc, static_cast<UINT>(ERROR_FUNCTION_FAILED));
  MsiCloseHandle(MsiGetLastErrorRecord());
  EXPECT_EQ(query(db, u"SELECT `Value` FROM `Property` WHERE `Property` = 'Manufacturer'"),
            std::vector<std::string>{"Acme Corp"});
  // ALTER with several ADD clauses is refused; one ADD per statement works.
  query(db, u"ALTER TABLE `Media` ADD `A` SHORT ADD `B` SHORT", {}, &rc);
  EXPECT_EQ(rc, static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  MsiCloseHandle(MsiGetLastErrorRecord());
  query(db, u"ALTER TABLE `Media` ADD `A` SHORT");
  EXPECT_EQ(columnInfo(db, u"SELECT * FROM `Media`", MSICOLINFO_NAMES).back(), "A");
  // The engine crashes on a literal in SET beside a marker, or changes nothing:
  // the layer sends the literal as a marker, so the row changes.
  query(db, u"UPDATE `Property` SET `Value` = 'Literal' WHERE `Property` = ?", {u"ProductName"});
  query(db, u"UPDATE `Media` SET `LastSequence` = 77 WHERE `DiskId` = ?", {u"2"});
  // A quoted number compared with an integer column matches nothing in the
  // engine; the layer compares the number.
  EXPECT_EQ(query(db, u"SELECT `LastSequence` FROM `Media` WHERE `DiskId` = '2'"), std::vector<std::string>{"77"});
  query(db, u"UPDATE `Media` SET `Cabinet` = ? WHERE `DiskId` = '1'", {u"first.cab"});
  query(db, u"SELECT * FROM `Media` WHERE `DiskId` = 'x'", {}, &rc);
  EXPECT_EQ(rc, static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX)) << "text compared with an integer column";
  MsiCloseHandle(MsiGetLastErrorRecord());
  // Integer keys bound as text in Update and Delete reach their rows.
  query(db, u"UPDATE `Media` SET `VolumeLabel` = ? WHERE `DiskId` = ?", {u"VOL1", u"1"});
  query(db, u"DELETE FROM `Media` WHERE `DiskId` = ?", {u"2"});
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  EXPECT_NE(msi_test::exportTable(path, "Property").find("ProductName\tLiteral"), std::string::npos);
  EXPECT_EQ(exportRows(msi_test::exportTable(path, "Media")), std::vector<std::string>{"1\t5\t\tfirst.cab\tVOL1\t\t"});
}

TEST_F(MsiLayer, ColumnInfoOfEveryStatementKind) {
  buildSmall();
  Handle db(open("small.msi", MSIDBOPEN_TRANSACT));
  // The engine fails (and corrupts itself) on CREATE, ALTER and DROP and crashes
  // on DELETE; the layer answers for them.
  struct Case {
    const char16_t* sql;
    std::vector<std::string> names, types;
  } cases[] = {
      {u"CREATE TABLE `T` (`K` CHAR(72) NOT NULL PRIMARY KEY `K`)", {}, {}},
      {u"ALTER TABLE `Media` ADD `Extra` LONG", {}, {}},
      {u"DROP TABLE `Media`", {}, {}},
      {u"DELETE FROM `Media` WHERE `DiskId` = ?",
       {"DiskId", "LastSequence", "DiskPrompt", "Cabinet", "VolumeLabel", "Source"},
       {"i2", "i2", "L64", "S255", "S32", "S72"}},
      {u"INSERT INTO `Media` (`DiskId`, `Cabinet`) VALUES (?, ?)", {"DiskId", "Cabinet"}, {"i2", "S255"}},
      {u"UPDATE `Media` SET `LastSequence` = ?, `Cabinet` = ? WHERE `DiskId` = ?", {"LastSequence", "Cabinet"},
       {"i2", "S255"}},
      {u"SELECT `Cabinet`, `DiskId` FROM `Media`", {"Cabinet", "DiskId"}, {"S255", "i2"}},
      // The statement texts of the table layer, in its letter case.
      {u"Select `Name` From `_Tables` Where `Name` = ? ", {"Name"}, {"s64"}},
      {u"Insert into `Media` (`DiskId`,`LastSequence`) Values (?,?)", {"DiskId", "LastSequence"}, {"i2", "i2"}},
      {u"Update `Media` Set `LastSequence` = ?,`Cabinet` = ? Where `DiskId` = ?", {"LastSequence", "Cabinet"},
       {"i2", "S255"}},
      {u"Delete From `Media` Where `DiskId` = ?",
       {"DiskId", "LastSequence", "DiskPrompt", "Cabinet", "VolumeLabel", "Source"},
       {"i2", "i2", "L64", "S255", "S32", "S72"}},
      {u"Alter Table `Media` Add `Other` CHAR(20) LOCALIZABLE", {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(columnInfo(db, c.sql, MSICOLINFO_NAMES), c.names) << narrow(c.sql);
    EXPECT_EQ(columnInfo(db, c.sql, MSICOLINFO_TYPES), c.types) << narrow(c.sql);
  }
  // A question mark inside a quoted literal is text, not a marker.
  EXPECT_EQ(query(db, u"SELECT `Property` FROM `Property` WHERE `Value` = 'a?b'"), std::vector<std::string>{});
  // Statements other than SELECT fetch nothing, and end as a SELECT does.
  Handle view, row;
  ASSERT_EQ(MsiDatabaseOpenViewW(db, u"INSERT INTO `Media` (`DiskId`, `LastSequence`) VALUES (3, 12)", view.out()), 0u);
  ASSERT_EQ(MsiViewExecute(view, 0), 0u);
  EXPECT_EQ(MsiViewFetch(view, row.out()), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

TEST_F(MsiLayer, JoinViewsNameSharedColumnsByTable) {
  buildSmall();
  Handle db(open("small.msi", MSIDBOPEN_TRANSACT));
  query(db, u"CREATE TABLE `Other` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR PRIMARY KEY `Property`)");
  query(db, u"INSERT INTO `Other` (`Property`, `Value`) VALUES ('ProductShortName', 'other')");
  const char16_t* sql = u"SELECT * FROM `Property`, `Other` WHERE `Property`.`Property` = `Other`.`Property`";
  EXPECT_EQ(columnInfo(db, sql, MSICOLINFO_NAMES),
            (std::vector<std::string>{"Property.Property", "Property.Value", "Other.Property", "Other.Value"}));
  EXPECT_EQ(query(db, sql), std::vector<std::string>{"ProductShortName\tDemo\tProductShortName\tother"});
  // Names that occur once stay plain.
  EXPECT_EQ(columnInfo(db,
                       u"SELECT `Property`.`Value`, `Other`.`Property` FROM `Property`, `Other` WHERE "
                       u"`Property`.`Property` = `Other`.`Property`",
                       MSICOLINFO_NAMES),
            (std::vector<std::string>{"Value", "Property"}));
}

TEST_F(MsiLayer, ReadOnlyDatabasesTakeTemporaryTablesAndRefuseToPersist) {
  std::string path = buildSmall();
  std::string before = msi_test::readFile(path);
  {
    Handle db(open("small.msi", MSIDBOPEN_READONLY));
    // CREATE and ALTER work on a read-only database, for this session only.
    query(db, u"CREATE TABLE `Temp` (`K` CHAR(72) NOT NULL PRIMARY KEY `K`)");
    query(db, u"INSERT INTO `Temp` (`K`) VALUES (?)", {u"a"});
    EXPECT_EQ(query(db, u"SELECT * FROM `Temp`"), std::vector<std::string>{"a"});
    query(db, u"ALTER TABLE `Media` ADD `Z` SHORT");
    EXPECT_EQ(columnInfo(db, u"SELECT * FROM `Media`", MSICOLINFO_NAMES).size(), 7u);
    // Summary information opened for update: setting works in memory, persisting fails.
    Handle si;
    ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 9, si.out()), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_SUBJECT, VT_LPSTR, 0, nullptr, u"Changed"), 0u);
    EXPECT_EQ(MsiSummaryInfoPersist(si), static_cast<UINT>(ERROR_FUNCTION_FAILED));
    MsiCloseHandle(MsiGetLastErrorRecord());
    EXPECT_EQ(MsiDatabaseCommit(db), 0u);
  }
  EXPECT_EQ(msi_test::readFile(path), before);
  EXPECT_EQ(msi_test::run("msiinfo tables " + msi_test::quote(path)).find("Temp"), std::string::npos);
}

TEST_F(MsiLayer, SummaryInformationMatchesMsiinfoAndPersists) {
  std::string path = buildSmall();
  auto text = [](MSIHANDLE si, UINT pid, UINT* type = nullptr) {
    UINT t = 0;
    INT i = 0;
    FILETIME ft{};
    DWORD n = 0;
    WCHAR empty[1] = {0};
    UINT rc = MsiSummaryInfoGetPropertyW(si, pid, &t, &i, &ft, empty, &n);
    if (type) *type = t;
    if (rc != ERROR_MORE_DATA) return std::string(rc == 0 ? "" : "<error>");
    std::u16string s(n + 1, u'\0');
    DWORD room = n + 1;
    MsiSummaryInfoGetPropertyW(si, pid, &t, &i, &ft, s.data(), &room);
    s.resize(room);
    return narrow(s);
  };
  {
    Handle db(open("small.msi", MSIDBOPEN_READONLY)), si;
    ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 0, si.out()), 0u);
    std::string witness = msi_test::suminfo(path);
    UINT type = 0;
    EXPECT_EQ(text(si, PID_SUBJECT, &type), "Demo Product");
    EXPECT_EQ(type, static_cast<UINT>(VT_LPSTR));
    for (auto [pid, label] : {std::pair<UINT, const char*>{PID_SUBJECT, "Subject: "}, {PID_AUTHOR, "Author: "},
                              {PID_TEMPLATE, "Template: "}, {PID_REVNUMBER, "Revision number (UUID): "},
                              {PID_TITLE, "Title: "}})
      EXPECT_NE(witness.find(label + text(si, pid) + "\n"), std::string::npos) << label;
    INT value = 0;
    ASSERT_EQ(MsiSummaryInfoGetPropertyW(si, PID_PAGECOUNT, &type, &value, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(type, static_cast<UINT>(VT_I4));
    EXPECT_NE(witness.find("Version: " + std::to_string(value) + " "), std::string::npos);
    ASSERT_EQ(MsiSummaryInfoGetPropertyW(si, PID_COMMENTS, &type, &value, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(type, static_cast<UINT>(VT_EMPTY));
    UINT count = 0;
    EXPECT_EQ(MsiSummaryInfoGetPropertyCount(si, &count), 0u);
    EXPECT_GE(count, 6u);
    EXPECT_EQ(MsiSummaryInfoGetPropertyW(si, 40, &type, &value, nullptr, nullptr, nullptr),
              static_cast<UINT>(ERROR_UNKNOWN_PROPERTY));
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_SUBJECT, VT_LPSTR, 0, nullptr, u"x"),
              static_cast<UINT>(ERROR_FUNCTION_FAILED))
        << "opened without update count";
    MsiCloseHandle(MsiGetLastErrorRecord());
  }
  {
    Handle db(open("small.msi", MSIDBOPEN_TRANSACT)), si;
    ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 9, si.out()), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_SUBJECT, VT_LPSTR, 0, nullptr, u"New Subject"), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_TEMPLATE, VT_LPSTR, 0, nullptr, u"Intel;1031"), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_WORDCOUNT, VT_I4, 4, nullptr, nullptr), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(si, PID_CODEPAGE, VT_I2, 1252, nullptr, nullptr), 0u);
    EXPECT_EQ(MsiSummaryInfoPersist(si), 0u);
    EXPECT_EQ(MsiDatabaseCommit(db), 0u);
  }
  std::string after = msi_test::suminfo(path);
  EXPECT_NE(after.find("Subject: New Subject\n"), std::string::npos) << after;
  EXPECT_NE(after.find("Template: Intel;1031\n"), std::string::npos) << after;
  EXPECT_NE(after.find("Source: 4 "), std::string::npos) << after;
  EXPECT_NE(after.find("Author: Acme Corp\n"), std::string::npos) << "untouched fields stay";
  Handle db(open("small.msi", MSIDBOPEN_READONLY)), si;
  ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 0, si.out()), 0u);
  UINT type = 0;
  INT codepage = 0;
  ASSERT_EQ(MsiSummaryInfoGetPropertyW(si, PID_CODEPAGE, &type, &codepage, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(type, static_cast<UINT>(VT_I2));
  EXPECT_EQ(codepage, 1252);
}

TEST_F(MsiLayer, StreamsWriteFromAFileAndReadBackInPieces) {
  std::string path = buildSmall();
  std::string payload;
  for (int i = 0; i < 5000; ++i) payload += static_cast<char>(i * 7);
  put("payload.bin", payload);
  {
    Handle db(open("small.msi", MSIDBOPEN_TRANSACT));
    query(db, u"CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)");
    Handle view, rec(MsiCreateRecord(2));
    MsiRecordSetStringW(rec, 1, u"blob");
    ASSERT_EQ(MsiRecordSetStreamW(rec, 2, u"C:\\payload.bin"), 0u);
    EXPECT_EQ(MsiRecordSetStreamW(rec, 2, u"C:\\missing.bin"), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    MsiCloseHandle(MsiGetLastErrorRecord());
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", view.out()), 0u);
    ASSERT_EQ(MsiViewExecute(view, rec), 0u);
    // A stream of its own, as embedded cabinets are kept.
    MsiRecordSetStringW(rec, 1, u"extra.cab");
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", view.out()), 0u);
    ASSERT_EQ(MsiViewExecute(view, rec), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  }
  std::string streams = msi_test::run("msiinfo streams " + msi_test::quote(path));
  EXPECT_NE(streams.find("Binary.blob"), std::string::npos) << streams;
  EXPECT_NE(streams.find("extra.cab"), std::string::npos) << streams;
  EXPECT_EQ(msi_test::run("msiinfo extract " + msi_test::quote(path) + " extra.cab"), payload);
  Handle db(open("small.msi", MSIDBOPEN_READONLY)), view, row;
  ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `Name`, `Data` FROM `Binary`", view.out()), 0u);
  ASSERT_EQ(MsiViewExecute(view, 0), 0u);
  ASSERT_EQ(MsiViewFetch(view, row.out()), 0u);
  DWORD n = 0;
  EXPECT_EQ(MsiRecordReadStream(row, 2, nullptr, &n), 0u);
  EXPECT_EQ(n, payload.size());
  EXPECT_EQ(MsiRecordDataSize(row, 2), payload.size());
  std::string back;
  char buf[777];
  do {
    n = sizeof buf;
    ASSERT_EQ(MsiRecordReadStream(row, 2, buf, &n), 0u);
    back.append(buf, n);
  } while (n == sizeof buf);
  EXPECT_EQ(back, payload);
  DWORD len = 0;
  EXPECT_EQ(MsiRecordGetStringW(row, 2, nullptr, &len), static_cast<UINT>(ERROR_INVALID_DATATYPE));
}

TEST_F(MsiLayer, ImportAddsATableFromIdtText) {
  std::string path = buildSmall();
  put("idt/Upgrade.idt",
      "UpgradeCode\tVersionMin\tVersionMax\tLanguage\tAttributes\tRemove\tActionProperty\n"
      "s38\tS20\tS20\tS255\ti4\tS255\ts72\nUpgrade\tUpgradeCode\tVersionMin\tVersionMax\tLanguage\tAttributes\n"
      "{87654321-4321-4321-4321-CBA987654321}\t1.0.0\t\t\t256\t\tOLDFOUND\n");
  Handle db(open("small.msi", MSIDBOPEN_TRANSACT));
  ASSERT_EQ(MsiDatabaseImportW(db, u"C:\\idt", u"Upgrade.idt"), 0u);
  EXPECT_EQ(MsiDatabaseImportW(db, u"C:\\idt", u"Missing.idt"), static_cast<UINT>(ERROR_BAD_PATHNAME));
  MsiCloseHandle(MsiGetLastErrorRecord());
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  EXPECT_EQ(exportRows(msi_test::exportTable(path, "Upgrade")),
            std::vector<std::string>{"{87654321-4321-4321-4321-CBA987654321}\t1.0.0\t\t\t256\t\tOLDFOUND"});
  ASSERT_EQ(MsiDatabaseExportW(db, u"Upgrade", u"C:\\", u"out.idt"), 0u);
  EXPECT_EQ(get("out.idt"), msi_test::exportTable(path, "Upgrade"));
}

TEST_F(MsiLayer, LastErrorRecordsFormatAndStayWithTheirThread) {
  buildSmall();
  Handle db(open("small.msi", MSIDBOPEN_READONLY)), view;
  EXPECT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Nope`", view.out()), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  std::thread([] { EXPECT_EQ(MsiGetLastErrorRecord(), 0u) << "another thread has none"; }).join();
  Handle err(MsiGetLastErrorRecord());
  ASSERT_NE(err.get(), 0u);
  EXPECT_EQ(MsiRecordGetInteger(err, 1), ERROR_BAD_QUERY_SYNTAX);
  DWORD n = 0;
  WCHAR empty[1] = {0};
  ASSERT_EQ(MsiFormatRecordW(0, err, empty, &n), static_cast<UINT>(ERROR_MORE_DATA));
  std::u16string text(n + 1, u'\0');
  DWORD room = n + 1;
  ASSERT_EQ(MsiFormatRecordW(0, err, text.data(), &room), 0u);
  text.resize(room);
  EXPECT_EQ(narrow(text).rfind("1: 1615 2: open view \"SELECT * FROM `Nope`\"", 0), 0u) << narrow(text);
  // With a format text in field 0, [n] stands for field n.
  Handle rec(MsiCreateRecord(2));
  MsiRecordSetStringW(rec, 0, u"Table [1] has [2] rows; [3] [x]");
  MsiRecordSetStringW(rec, 1, u"File");
  MsiRecordSetInteger(rec, 2, 12);
  WCHAR buf[64];
  room = 64;
  ASSERT_EQ(MsiFormatRecordW(0, rec, buf, &room), 0u);
  EXPECT_EQ(std::u16string(buf), u"Table File has 12 rows;  [x]");
  EXPECT_EQ(MsiFormatRecordW(db, rec, buf, &room), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST_F(MsiLayer, GetPropertyAnswersFromThePropertyTable) {
  buildSmall();
  Handle db(open("small.msi", MSIDBOPEN_READONLY));
  DWORD n = 0;
  WCHAR empty[1] = {0};
  EXPECT_EQ(MsiGetPropertyW(db, u"ProductShortName", empty, &n), static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(n, 4u);
  WCHAR buf[16];
  n = 16;
  EXPECT_EQ(MsiGetPropertyW(db, u"ProductShortName", buf, &n), 0u);
  EXPECT_EQ(std::u16string(buf), u"Demo");
  n = 16;
  EXPECT_EQ(MsiGetPropertyW(db, u"NoSuchProperty", buf, &n), 0u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(std::u16string(buf), u"");
  EXPECT_EQ(MsiGetPropertyW(0x7FFFFFF0u, u"X", buf, &n), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST_F(MsiLayer, HandlesAreSmallNumbersClosedOnce) {
  Handle a(MsiCreateRecord(1)), b(MsiCreateRecord(1));
  EXPECT_NE(a.get(), 0u);
  EXPECT_NE(a.get(), b.get());
  MSIHANDLE raw = MsiCreateRecord(0);
  EXPECT_EQ(MsiCloseHandle(raw), 0u);
  EXPECT_EQ(MsiCloseHandle(raw), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiCloseHandle(0), 0u);
  EXPECT_EQ(MsiRecordSetStringW(raw, 0, u"x"), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiViewExecute(a, 0), static_cast<UINT>(ERROR_INVALID_HANDLE)) << "a record is not a view";
  EXPECT_GE(MsiCloseAllHandles(), 2u);
  EXPECT_EQ(MsiCloseHandle(a.get()), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST_F(MsiLayer, WixPackageReadsLikeMsiinfo) {
  std::string path = buildWix();
  std::string before = msi_test::readFile(path);
  Handle db(open("demo.msi", MSIDBOPEN_READONLY));
  for (const char* table : {"Feature", "Component", "File", "Registry", "Shortcut", "Directory", "Media",
                            "FeatureComponents", "Property"}) {
    std::u16string sql = u"SELECT * FROM `";
    for (const char* p = table; *p; ++p) sql += static_cast<char16_t>(*p);
    sql += u"`";
    std::vector<std::string> rows = query(db, sql);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, exportRows(msi_test::exportTable(path, table))) << table;
  }
  Handle si;
  ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 0, si.out()), 0u);
  WCHAR buf[128];
  DWORD n = 128;
  UINT type;
  ASSERT_EQ(MsiSummaryInfoGetPropertyW(si, PID_REVNUMBER, &type, nullptr, nullptr, buf, &n), 0u);
  EXPECT_NE(msi_test::suminfo(path).find("Revision number (UUID): " + narrow(buf) + "\n"), std::string::npos);
  FILETIME ft{};
  ASSERT_EQ(MsiSummaryInfoGetPropertyW(si, PID_CREATE_DTM, &type, nullptr, &ft, nullptr, nullptr), 0u);
  EXPECT_EQ(type, static_cast<UINT>(VT_FILETIME));
  EXPECT_NE(ft.dwHighDateTime, 0u);
  db.reset();
  si.reset();
  EXPECT_EQ(msi_test::readFile(path), before);
}

TEST(MsiLayerTexts, ResultCodesHaveSystemTexts) {
  for (DWORD code : {ERROR_OPEN_FAILED, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_INVALID_HANDLE,
                     ERROR_INVALID_PARAMETER, ERROR_BAD_QUERY_SYNTAX, ERROR_FUNCTION_FAILED, ERROR_INVALID_TABLE,
                     ERROR_DATATYPE_MISMATCH, ERROR_UNKNOWN_PROPERTY, ERROR_CREATE_FAILED, ERROR_INVALID_FIELD,
                     ERROR_INSTALL_PACKAGE_INVALID, ERROR_INVALID_DATATYPE, ERROR_BAD_PATHNAME,
                     ERROR_FILE_NOT_FOUND}) {
    WCHAR buf[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0x400, buf,
                             512, nullptr);
    EXPECT_GT(n, 0u) << code;
  }
}

}  // namespace
