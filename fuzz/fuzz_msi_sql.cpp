// Statement texts against a small database: the layer either refuses a text
// (1615 and friends) or the engine runs it; it never crashes, hangs or reads
// past the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text_convert.h"
#include "fuzz/fuzz_msi.h"

namespace {

using fuzzmsi::Closer;

// A package with a text-keyed and an integer-keyed table, made once.
const std::u16string& package() {
  static const std::u16string path = fuzzmsi::makePackage(
      "fuzz_msi_sql",
      {u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
       u"LOCALIZABLE PRIMARY KEY `Property`)",
       u"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` LONG, `Cabinet` CHAR(255) "
       u"PRIMARY KEY `DiskId`)",
       u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductName', 'Demo')",
       u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductVersion', '1.0')",
       u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (1, 5, 'a.cab')"});
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  std::u16string sql;
  Common::fromUtf8(sql, std::string(reinterpret_cast<const char*>(data), size).c_str());
  Closer db;
  FUZZ_CHECK(MsiOpenDatabaseW(package().c_str(), MSIDBOPEN_READONLY, &db.h) == ERROR_SUCCESS);
  Closer view;
  if (MsiDatabaseOpenViewW(db.h, sql.c_str(), &view.h) == ERROR_SUCCESS) {
    Closer params;
    params.h = MsiCreateRecord(3);
    MsiRecordSetStringW(params.h, 1, u"ProductName");
    MsiRecordSetInteger(params.h, 2, 1);
    MsiRecordSetStringW(params.h, 3, u"x");
    if (MsiViewExecute(view.h, params.h) == ERROR_SUCCESS) {
      for (int n = 0; n < 1000; ++n) {
        Closer row;
        if (MsiViewFetch(view.h, &row.h)) break;
      }
      MsiViewClose(view.h);
    }
    Closer info;
    MsiViewGetColumnInfo(view.h, MSICOLINFO_TYPES, &info.h);
  }
  MsiCloseHandle(MsiGetLastErrorRecord());
  return 0;
}
