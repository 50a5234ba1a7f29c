#include "msi/model/error.h"

#include <gtest/gtest.h>

#include "platform/msi/msi.h"

namespace {

// Leaves a last error record on this thread: a view on a missing table.
void failOnce() {
  MSIHANDLE record = MsiCreateRecord(1);
  MSIHANDLE view = 0;
  EXPECT_NE(MsiViewExecute(record, 0), 0u);  // a record is no view: no engine failure
  MsiCloseHandle(record);
  EXPECT_NE(MsiDatabaseOpenViewW(0, u"SELECT", &view), 0u);
  MSIHANDLE db = 0;
  EXPECT_EQ(MsiOpenDatabaseW(u"Z:\\nonexistent\\x.msi", MSIDBOPEN_READONLY, &db), 110u);
}

TEST(MsiErrors, DbErrorTextFollowsTheLastErrorRecord) {
  MsiCloseHandle(MsiGetLastErrorRecord());
  {
    Msi::DbError e(7, 0x82848b4au, 1111, u"Prefix.");
    EXPECT_EQ(e.text(), u"Prefix.") << "no record: the prefix alone";
    EXPECT_EQ(e.code(), 1111u);
    EXPECT_EQ(e.module(), 0x82848b4au);
    EXPECT_EQ(e.location(), 7u);
  }
  EXPECT_EQ(Msi::DbError(1, 2, 3).text(), u"");
  failOnce();
  Msi::DbError withRecord(7, 0x82848b4au, 1111, u"Prefix.");
  std::u16string text = withRecord.text();
  EXPECT_EQ(text.rfind(u"Prefix.\nError detailes: 1: 110 2: ", 0), 0u) << std::string(text.begin(), text.end());
  EXPECT_EQ(Msi::lastErrorText(), u"") << "the record was taken";
  failOnce();
  EXPECT_EQ(Msi::DbError(1, 2, 3).text().rfind(u"1: 110 2: ", 0), 0u);
}

TEST(MsiErrors, ErrorsAreCommonErrorsWithTheirSite) {
  try {
    throw Msi::Error(0x393e5a02u, 0x9fa539f5u, 2);
  } catch (const Common::Error& e) {
    EXPECT_EQ(e.code(), 2u);
    EXPECT_EQ(e.site(), 0x9fa539f5393e5a02ull);
  }
  EXPECT_FALSE(Msi::Error(1, 2, 0)) << "number 0 is no error";
}

}  // namespace
