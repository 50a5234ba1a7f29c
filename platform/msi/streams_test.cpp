// Streams as Windows keeps them: a stream field read after a commit still holds
// its bytes, and inserting a stream under a name in use is refused.
#include <gtest/gtest.h>

#include <string>

#include "platform/msi/msi.h"
#include "platform/msi/msi_fixture.h"

using msi_test::Handle;

namespace {

class Streams : public msi_test::PackageWorld {
 protected:
  MSIHANDLE open(const std::string& name, LPCWSTR mode) {
    MSIHANDLE h = 0;
    EXPECT_EQ(MsiOpenDatabaseW(windowsPackage(name).c_str(), mode, &h), 0u);
    return h;
  }
  static std::string readAll(MSIHANDLE rec, UINT field) {
    std::string out;
    char buf[4096];
    for (;;) {
      DWORD n = sizeof buf;
      if (MsiRecordReadStream(rec, field, buf, &n) != 0) return "<error>";
      out.append(buf, n);
      if (n < sizeof buf) return out;
    }
  }
  // Runs a statement with a record of a name and, when given, a stream file.
  static UINT run(MSIHANDLE db, const char16_t* sql, const char16_t* name, const char16_t* file) {
    Handle view, rec(MsiCreateRecord(2));
    UINT rc = MsiDatabaseOpenViewW(db, sql, view.out());
    if (rc) return rc;
    const bool dataFirst = std::u16string(sql).find(u"Set") != std::u16string::npos;
    MsiRecordSetStringW(rec, dataFirst ? 2 : 1, name);
    if (file && MsiRecordSetStreamW(rec, dataFirst ? 1 : 2, file)) return 9999;
    rc = MsiViewExecute(view, rec);
    MsiViewClose(view);
    return rc;
  }
  std::string extract(const std::string& path, const std::string& stream) {
    return msi_test::run("msiinfo extract " + msi_test::quote(path) + " " + msi_test::quote(stream));
  }
};

TEST_F(Streams, AFieldFetchedBeforeACommitKeepsItsBytes) {
  const std::string path = buildWix();
  const std::string cabinet = extract(path, "demo.cab");
  ASSERT_GT(cabinet.size(), 100u);
  put("new.bin", "fresh stream");
  Handle db(open("demo.msi", MSIDBOPEN_TRANSACT)), view, row, second;
  ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT `Name`, `Data` FROM `_Streams` WHERE `Name` = 'demo.cab'", view.out()),
            0u);
  ASSERT_EQ(MsiViewExecute(view, 0), 0u);
  ASSERT_EQ(MsiViewFetch(view, row.out()), 0u);
  MsiViewClose(view);
  // A second record of the same stream, read in part before the commit.
  ASSERT_EQ(MsiViewExecute(view, 0), 0u);
  ASSERT_EQ(MsiViewFetch(view, second.out()), 0u);
  char head[10];
  DWORD n = sizeof head;
  ASSERT_EQ(MsiRecordReadStream(second, 2, head, &n), 0u);
  ASSERT_EQ(std::string(head, n), cabinet.substr(0, 10));
  ASSERT_EQ(run(db, u"INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", u"new.cab", u"C:\\new.bin"), 0u);
  ASSERT_EQ(MsiDatabaseCommit(db), 0u);

  EXPECT_EQ(MsiRecordDataSize(row, 2), cabinet.size());
  EXPECT_EQ(readAll(row, 2), cabinet);
  EXPECT_EQ(readAll(second, 2), cabinet.substr(10));
  EXPECT_EQ(extract(path, "new.cab"), "fresh stream");
  EXPECT_EQ(extract(path, "demo.cab"), cabinet);
}

TEST_F(Streams, InsertingANameInUseIsRefusedAndUpdateReplaces) {
  const std::string path = buildWix();
  const std::string cabinet = extract(path, "demo.cab");
  put("other.bin", "other bytes");
  {
    Handle db(open("demo.msi", MSIDBOPEN_TRANSACT));
    EXPECT_EQ(run(db, u"INSERT INTO `_Streams` (`Name`, `Data`) VALUES (?, ?)", u"demo.cab", u"C:\\other.bin"),
              static_cast<UINT>(ERROR_FUNCTION_FAILED));
    MsiCloseHandle(MsiGetLastErrorRecord());
    // The name written into the statement is refused the same way.
    Handle view, rec(MsiCreateRecord(1));
    ASSERT_EQ(MsiRecordSetStreamW(rec, 1, u"C:\\other.bin"), 0u);
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"INSERT INTO `_Streams` (`Data`, `Name`) VALUES (?, 'demo.cab')", view.out()),
              0u);
    EXPECT_EQ(MsiViewExecute(view, rec), static_cast<UINT>(ERROR_FUNCTION_FAILED));
    MsiCloseHandle(MsiGetLastErrorRecord());
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  }
  EXPECT_EQ(extract(path, "demo.cab"), cabinet);
  {
    Handle db(open("demo.msi", MSIDBOPEN_TRANSACT));
    ASSERT_EQ(run(db, u"UPDATE `_Streams` Set `Data` = ? WHERE `Name` = ?", u"demo.cab", u"C:\\other.bin"), 0u);
    ASSERT_EQ(MsiDatabaseCommit(db), 0u);
  }
  EXPECT_EQ(extract(path, "demo.cab"), "other bytes");
  const std::string listed = msi_test::run("msiinfo streams " + msi_test::quote(path));
  EXPECT_EQ(listed.find("demo.cab"), listed.rfind("demo.cab")) << listed;
}

}  // namespace
