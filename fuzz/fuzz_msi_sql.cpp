// Statement texts against a small database: the layer either refuses a text
// (1615 and friends) or the engine runs it; it never crashes, hangs or reads
// past the text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/text_convert.h"
#include "fuzz/fuzz_check.h"
#include "platform/msi/msi.h"
#include "platform/win32/paths.h"

namespace {

struct Closer {
  MSIHANDLE h = 0;
  ~Closer() {
    if (h) MsiCloseHandle(h);
  }
};

bool run(MSIHANDLE db, const char16_t* sql) {
  Closer view;
  if (MsiDatabaseOpenViewW(db, sql, &view.h)) return false;
  return MsiViewExecute(view.h, 0) == ERROR_SUCCESS;
}

// A package with a text-keyed and an integer-keyed table, made once.
const std::u16string& package() {
  static const std::u16string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string unix = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_msi_sql." + std::to_string(::getpid()) + ".msi";
    ::unlink(unix.c_str());
    std::u16string windows = win32::to_windows_path(unix);
    Closer db;
    FUZZ_CHECK(MsiOpenDatabaseW(windows.c_str(), MSIDBOPEN_CREATE, &db.h) == ERROR_SUCCESS);
    FUZZ_CHECK(run(db.h, u"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
                         u"LOCALIZABLE PRIMARY KEY `Property`)"));
    FUZZ_CHECK(run(db.h, u"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` LONG, `Cabinet` CHAR(255) "
                         u"PRIMARY KEY `DiskId`)"));
    FUZZ_CHECK(run(db.h, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductName', 'Demo')"));
    FUZZ_CHECK(run(db.h, u"INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductVersion', '1.0')"));
    FUZZ_CHECK(run(db.h, u"INSERT INTO `Media` (`DiskId`, `LastSequence`, `Cabinet`) VALUES (1, 5, 'a.cab')"));
    FUZZ_CHECK(MsiDatabaseCommit(db.h) == ERROR_SUCCESS);
    return windows;
  }();
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
